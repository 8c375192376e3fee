// Geometric routines on class-library bitmaps and library bitmaps: stretches,
// crops, flips, quarter turns and rotation by any angle (three shears with
// optional anti-aliasing for 24-bit pictures, nearest pixel for 1-bit ones).
// Rows are top row first; 24-bit pixels blue, green, red; 1-bit rows most
// significant bit first.
#pragma once

#include "image/model/rvbitmap.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvprogress.h"
#include "platform/graphics.h"

namespace rv {

class TRvMask;

// Dest takes Source's pixel format and shows Source stretched (nearest
// pixel) over Dest's whole size.
void RvStretchTBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest);
// Nearest-pixel stretch into Dest, already allocated at its size in Source's
// pixel format.
void RvStretchBitmap(TRvBaseBitmap* Source, TRvBaseBitmap* Dest);
// Dest becomes [X1, X2) x [Y1, Y2) of Source; X2 or Y2 of 0 means the width or
// height, larger values are cut to it.
void RvCropBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest, int X1, int Y1, int X2,
                  int Y2);
// Direction 0 mirrors left to right, 1 top to bottom; 1- and 24-bit only.
void RvFlipBitmap(TRvBitmap* Bitmap, int Direction);
// Degrees, counter-clockwise for positive values. 24-bit pictures turn with
// the given background; others through RvRotateBWBitmap.
void RvRotateBitmap(TRvBitmap* Bitmap, bool AntiAlias, double Angle, const TRGB& Background);
void RvRotateBWBitmap(TRvBitmap* Bitmap, int BackgroundBit, TRvProgressRec& Progress, double Angle);
// Quarter turns of 24-bit pictures: Left counter-clockwise, Right clockwise.
void RvRotateTBitmapLeft(const platform::TBitmap* Source, platform::TBitmap* Dest);
void RvRotateTBitmapRight(const platform::TBitmap* Source, platform::TBitmap* Dest);
void RvRotateBitmapLeft(TRvBitmap* Source, TRvBitmap* Dest);
void RvRotateBitmapRight(TRvBitmap* Source, TRvBitmap* Dest);
// Fills in a negative NewWidth or NewHeight so that the aspect ratio of
// Width x Height is kept (integer division, in 64 bits); false when both are
// negative or the result does not fit.
bool RvKeepAspect(int Width, int Height, int& NewWidth, int& NewHeight);
// Inverts every pixel bit of a 1-bit library bitmap.
void RvNegativeBits(TRvBitmap* Bitmap);
// The transparency of a picture (an 8-bit mask) turned as RvRotateBitmap
// turns a 24-bit picture of its size, the uncovered corners transparent;
// and flipped as RvFlipBitmap flips one. Other masks are left as they are.
void RvRotateMask(TRvMask* Mask, double Angle, bool AntiAlias);
void RvFlipMask(TRvMask* Mask, int Direction);

// The three-shear rotation of a 24-bit class-library bitmap in place, with
// progress (Sender, per) once per row or column of each pass.
void RvShearRotateTBitmap(platform::TBitmap* Bitmap, double Angle, bool AntiAlias,
                          const TRGB& Background, void* Sender = nullptr,
                          const TRvProgressEvent& OnProgress = nullptr);

} // namespace rv
