// Drawing a bitmap with one colour left out.
#pragma once

#include "platform/colors.h"

#include <QImage>
#include <QRect>

class QPainter;

namespace wn {

// Draws Bitmap at (X, Y) in its own size; pixels of TransparentColor leave
// the canvas as it was. clNone draws every pixel; clDefault takes the colour
// of the bottom-left pixel; a monochrome bitmap leaves out white.
void DrawTransparentBitmap(QPainter& Canvas, int X, int Y, platform::TColor TransparentColor, const QImage& Bitmap);

// Source rectangle stretched onto Dest; a width or height below 1 takes the
// whole bitmap (source) or the bitmap's size (destination).
void DrawTransparentBitmap(QPainter& Canvas, QRect Source, QRect Dest, platform::TColor TransparentColor,
                          const QImage& Bitmap);

}  // namespace wn
