// Pictures as packed device-independent bitmaps: built from class-library
// bitmaps for the clipboard, drawn back into the library's DIB bitmaps, and
// a pixel-for-pixel comparison of two bitmaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/model/rvdib.h"
#include "platform/graphics.h"

namespace rv {

// The MIME type under which the clipboard carries the packed DIB.
inline constexpr const char* RvDIBMimeType = "image/bmp";

// The rectangle [X1, X2) x [Y1, Y2) of Bitmap as a packed DIB: the 40-byte
// header, for 1 bit the palette black then white, then the rows bottom row
// first, each padded with zeros to 4 bytes. X2 = 0 means the width, Y2 = 0
// the height; the rectangle is cut to the picture. 24- and 1-bit pictures
// keep their depth; any other is written as 24 bits. Empty for an empty
// rectangle.
std::vector<std::uint8_t> RvTBitmapToDIB(const platform::TBitmap* Bitmap, int X1 = 0, int Y1 = 0,
                                         int X2 = 0, int Y2 = 0);

// Puts the picture and its packed DIB on the system clipboard. False when
// there is no clipboard (no application) or no picture.
bool RvCopyTBitmapToClipboard(const platform::TBitmap* Bitmap);

// Draws a packed DIB of DIBSize bytes (or, when Bits is given, its header
// and palette with BitsSize bytes of pixels at Bits) 1:1 into Bitmap,
// allocated 1-bit for a 1-bit DIB and 24-bit for 4, 8, 16, 24 and 32 bits.
// Answers the DIB's bits per pixel; 0 for a header or data shorter than its
// sizes say. Other depths and compressions draw nothing.
int RvDIBToBitmap(const void* DIB, std::size_t DIBSize, TRvDibbitmap* Bitmap,
                  const void* Bits = nullptr, std::size_t BitsSize = 0);

// True when both have the same size and the same pixel rows, padding
// included.
bool RvSameBitmapPixels(const platform::TBitmap* A, const platform::TBitmap* B);

} // namespace rv
