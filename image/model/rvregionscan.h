// The magic wand: pixels whose colour is close to the colour under the
// mouse, as the connected region's mask, as its outline polygon, or as every
// similar pixel of the picture. All work on 24-bit class-library bitmaps and
// leave anything else alone.
#pragma once

#include <vector>

#include "image/model/rvmask.h"
#include "platform/graphics.h"

namespace rv {

// Sets to 1 the mask pixels of the 4-connected region of pixels similar to
// the one at (X, Y) (largest channel difference at most Tolerance); with
// MaxFilter each region pixel sets its 3 x 3 neighbourhood instead. The mask
// is allocated at the picture's size by the caller.
void RvMagicWandFill(const platform::TBitmap* Bitmap, int X, int Y, TRvMask* Mask, int Tolerance,
                     bool MaxFilter);

// The outer outline of the same region as a polygon along pixel edges, in
// bitmap coordinates, clockwise on the screen from the top-left corner.
// Empty when the picture is not 24-bit or (X, Y) lies outside it.
std::vector<platform::TPoint> RvMagicWandOutline(const platform::TBitmap* Bitmap, int X, int Y,
                                                 int Tolerance, bool MaxFilter);

// Sets to 1 the mask pixel of every pixel of the picture similar to the one
// at (X, Y), connected or not.
void RvSelectSimilarColors(const platform::TBitmap* Bitmap, int X, int Y, TRvMask* Mask,
                           int Tolerance);

} // namespace rv
