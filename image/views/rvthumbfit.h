// Reducing pictures to thumbnail size, shared by the thumbnail view (when it
// stores pixels) and its loader (which reduces on its own threads).
#pragma once

#include <memory>

#include "image/model/rvbitmap.h"
#include "image/model/rvresample.h"
#include "image/model/rvthumbstore.h"
#include "platform/colors.h"

namespace rv {

// The target size of a stored thumbnail: BoxW x BoxH for a picture without
// size, else the picture fitted into the box.
void RvThumbTarget(int Width, int Height, int BoxW, int BoxH, int& TargetW, int& TargetH);

// A 24-bit reduction of Bitmap fitted into BoxW x BoxH: 1-bit pictures by
// box averaging, others by a nearest-pixel stretch (rfNone) or Filter. Null
// when the picture already fits.
std::unique_ptr<TRvBitmap> RvReduceToThumb(TRvBaseBitmap* Bitmap, int BoxW, int BoxH,
                                           TResampleFilter Filter);

// What the store keeps: 1- and 24-bit pictures as they are; any other format
// as a 24-bit copy (null for those two), since the store's blocks carry no
// palette.
std::unique_ptr<TRvBitmap> RvStorableCopy(TRvBaseBitmap* Bitmap);

// Picture kept in Store as the store keeps pictures, with FullWidth x
// FullHeight noted as its full size; null when no block could be had.
TRvDIBHandle RvStorePicture(TRvVirtualDIBList& Store, TRvBaseBitmap* Picture, int FullWidth, int FullHeight);

// The thumbnail of a file that could not be read: Width x Height in the
// background colour, crossed corner to corner in gray.
std::unique_ptr<TRvBitmap> RvFailedThumb(int Width, int Height, platform::TColor Background);

} // namespace rv
