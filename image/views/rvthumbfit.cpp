#include "image/views/rvthumbfit.h"

#include <algorithm>
#include <cstring>

#include "image/model/rvbwgray.h"
#include "image/model/rvgeometry.h"
#include "image/views/rvmview.h"

namespace rv {

void ThumbFitSize(int W, int H, int BoxW, int BoxH, int& Width, int& Height) {
  if (W == 0 || H == 0) return;
  const double f = std::min(static_cast<double>(BoxW) / W, static_cast<double>(BoxH) / H);
  Width = std::max(1, static_cast<int>(W * f));
  Height = std::max(1, static_cast<int>(H * f));
}

void RvThumbTarget(int Width, int Height, int BoxW, int BoxH, int& TargetW, int& TargetH) {
  TargetW = BoxW;
  TargetH = BoxH;
  if (Width != 0 && Height != 0) ThumbFitSize(Width, Height, BoxW, BoxH, TargetW, TargetH);
}

std::unique_ptr<TRvBitmap> RvStorableCopy(TRvBaseBitmap* Bitmap) {
  const TRvPixelFormat pf = Bitmap->PixelFormat();
  if (pf == rvpf1Bit || pf == rvpf24Bit) return nullptr;
  auto* source = dynamic_cast<TRvBitmap*>(Bitmap);
  if (source == nullptr) return nullptr;
  auto copy = std::make_unique<TRvBitmap>();
  copy->Assign(source);
  copy->ConvertPixelFormat(rvpf24Bit);
  return copy;
}

TRvDIBHandle RvStorePicture(TRvVirtualDIBList& Store, TRvBaseBitmap* Picture, int FullWidth, int FullHeight) {
  std::unique_ptr<TRvBitmap> wide = RvStorableCopy(Picture);
  const TRvDIBHandle handle = Store.AddBitmap(wide ? wide.get() : Picture);
  if (handle != nullptr) {
    Store.SetFullWidth(handle, FullWidth);
    Store.SetFullHeight(handle, FullHeight);
  }
  return handle;
}

std::unique_ptr<TRvBitmap> RvReduceToThumb(TRvBaseBitmap* Bitmap, int BoxW, int BoxH,
                                           TResampleFilter Filter) {
  int w = 0, h = 0;
  RvThumbTarget(Bitmap->Width(), Bitmap->Height(), BoxW, BoxH, w, h);
  if (w < 1 || h < 1 || (Bitmap->Width() <= w && Bitmap->Height() <= h)) return nullptr;
  auto result = std::make_unique<TRvBitmap>();
  result->Allocate(w, h, rvpf24Bit);
  if (Bitmap->PixelFormat() == rvpf1Bit) {
    RvShrinkBWToGray(Bitmap, 0, 0, Bitmap->Width() - 1, Bitmap->Height() - 1, result.get());
    return result;
  }
  // The reducers read 24-bit rows only.
  std::unique_ptr<TRvBitmap> wide = RvStorableCopy(Bitmap);
  TRvBaseBitmap* source = wide ? wide.get() : Bitmap;
  if (source->PixelFormat() != rvpf24Bit) return nullptr;
  if (Filter == rfNone)
    RvStretchBitmap(source, result.get());
  else
    RvResampleBitmap(source, result.get(), Filter);
  return result;
}

std::unique_ptr<TRvBitmap> RvFailedThumb(int Width, int Height, platform::TColor Background) {
  auto result = std::make_unique<TRvBitmap>();
  result->Allocate(std::max(1, Width), std::max(1, Height), rvpf24Bit);
  const std::uint32_t rgb = platform::ColorToRGB(Background);
  const std::uint8_t bg[3] = {platform::GetBValue(rgb), platform::GetGValue(rgb),
                              platform::GetRValue(rgb)};
  const int w = result->Width(), h = result->Height();
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = result->Scanline(y);
    for (int x = 0; x < w; ++x) std::memcpy(row + 3 * x, bg, 3);
    // The two diagonals, so that the cell says "unreadable" rather than
    // looking like an empty picture.
    const int d1 = static_cast<int>(static_cast<std::int64_t>(y) * (w - 1) / std::max(1, h - 1));
    for (int x : {d1, w - 1 - d1}) std::memset(row + 3 * x, 0x80, 3);
  }
  return result;
}

} // namespace rv
