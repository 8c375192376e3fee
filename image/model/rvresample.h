// Changing the size of pictures: filtered two-pass resampling (rows first,
// then columns) with integer weights in 1/256 units, and fast stretches that
// interpolate linearly when enlarging and average boxes when shrinking.
// Destinations already have the target size; callers handle rfNone.
#pragma once

#include <cstdint>

#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/graphics.h"

namespace rv {

enum TResampleFilter : std::uint8_t {
  rfNone,
  rfTriangle,
  rfHermite,
  rfBell,
  rfBSpline,
  rfLanczos3,
  rfMitchell,
  rfNearest,
  rfLinear,
  rfFastLinear,
};

// The reconstruction kernel of a filter (rfTriangle..rfLinear) and its
// support; 0 for the others.
double RvFilterKernel(TResampleFilter Filter, double X);
double RvFilterSupport(TResampleFilter Filter);

// Filtered resampling; rfFastLinear goes to the matching fast stretch.
// Destinations must be 8-bit masks, 24-bit pictures; other formats are left
// alone.
void RvResampleMask(const TRvMask* Src, TRvMask* Dst, TResampleFilter Filter);
// A 1-bit source (a set bit reads as 255) into a gray 24-bit destination.
void RvResampleBWBitmap(const platform::TBitmap* Src, platform::TBitmap* Dst,
                        TResampleFilter Filter);
void RvResampleTBitmap(const platform::TBitmap* Src, platform::TBitmap* Dst,
                       TResampleFilter Filter, void* Sender = nullptr,
                       const TRvProgressEvent& OnProgress = nullptr);
void RvResampleBitmap(TRvBaseBitmap* Src, TRvBaseBitmap* Dst, TResampleFilter Filter,
                      void* Sender = nullptr, const TRvProgressEvent& OnProgress = nullptr);

// Fast stretches (rfFastLinear).
void RvStretchTBitmapLinear(const platform::TBitmap* Src, platform::TBitmap* Dst,
                            void* Sender = nullptr, const TRvProgressEvent& OnProgress = nullptr);
void RvStretchBitmapLinear(TRvBaseBitmap* Src, TRvBaseBitmap* Dst, void* Sender = nullptr,
                           const TRvProgressEvent& OnProgress = nullptr);
void RvStretchBWLinear(const platform::TBitmap* Src, platform::TBitmap* Dst);
void RvStretchMaskLinear(const TRvMask* Src, TRvMask* Dst);

// The vector paths are taken when the processor has them; tests and the
// benchmark turn them off to compare with the plain loops.
void RvResampleSetVectorPaths(bool Enabled);

} // namespace rv
