#include "image/io/rvloadedpicture.h"

namespace rv {

TRvMask* TRvLoadedPicture::GetAlphaChannel() {
  // As a view's: made opaque at the picture's size when there was none.
  if (!FAlpha) {
    FAlpha = std::make_unique<TRvMask>();
    FAlpha->Allocate(FBitmap.Width(), FBitmap.Height(), 8);
    FAlpha->Fill(255);
  }
  return FAlpha.get();
}

} // namespace rv
