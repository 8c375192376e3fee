#include "image/model/rvbwgray.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace rv {

void RvShrinkBWRows(const std::function<const std::uint8_t*(int)>& SrcRow, int SrcWidth,
                    int SrcHeight, int X1, int Y1, int X2, int Y2, int DstWidth, int DstHeight,
                    const std::function<std::uint8_t*(int)>& DstRow) {
  if (SrcWidth < 1 || SrcHeight < 1 || DstWidth < 1 || DstHeight < 1) return;
  if (X2 < X1 || Y2 < Y1) return;
  const double sx = static_cast<double>(X2 - X1 + 1) / DstWidth;
  const double sy = static_cast<double>(Y2 - Y1 + 1) / DstHeight;
  const double syHalfEnd = std::trunc(sy) / 2;

  // Column boxes are the same for every row.
  std::vector<int> firstCol(static_cast<std::size_t>(DstWidth));
  std::vector<int> lastCol(static_cast<std::size_t>(DstWidth));
  for (int k = 0; k < DstWidth; ++k) {
    const double c = k * sx;
    // Clamped to the row itself: a box near the right edge never reads past it.
    const auto clampCol = [&](double v) {
      return static_cast<int>(std::clamp<double>(v, 0, SrcWidth - 1));
    };
    firstCol[k] = clampCol(std::trunc(c - sx / 2) + X1);
    lastCol[k] = clampCol(std::trunc(sx / 2 + c) + X1);
  }
  const int colLo = firstCol.front();
  const int colHi = *std::max_element(lastCol.begin(), lastCol.end());

  // Set pixels per column over the box's rows, then their running sum.
  std::vector<std::int64_t> prefix(static_cast<std::size_t>(SrcWidth) + 1);
  std::vector<std::int32_t> columns(static_cast<std::size_t>(SrcWidth));
  for (int r = 0; r < DstHeight; ++r) {
    const double c = r * sy;
    auto first = static_cast<std::int64_t>(std::trunc(c - sy / 2));
    auto last = static_cast<std::int64_t>(std::trunc(syHalfEnd + c));
    first = std::clamp<std::int64_t>(first, 0, SrcHeight - 1);
    last = std::clamp<std::int64_t>(last, 0, SrcHeight - 1);
    // Rows count from Y1; the rows read stay inside the picture.
    const int rowA = static_cast<int>(std::clamp<std::int64_t>(Y1 + first, 0, SrcHeight - 1));
    const int rowB = static_cast<int>(std::clamp<std::int64_t>(Y1 + last, 0, SrcHeight - 1));

    std::fill(columns.begin() + colLo, columns.begin() + colHi + 1, 0);
    for (int y = rowA; y <= rowB; ++y) {
      const std::uint8_t* row = SrcRow(y);
      for (int x = colLo; x <= colHi; ++x) columns[x] += (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
    prefix[colLo] = 0;
    for (int x = colLo; x <= colHi; ++x) prefix[x + 1] = prefix[x] + columns[x];

    const std::int64_t rows = rowB - rowA + 1;
    std::uint8_t* out = DstRow(r);
    for (int k = 0; k < DstWidth; ++k) {
      const std::int64_t set = prefix[lastCol[k] + 1] - prefix[firstCol[k]];
      const std::int64_t count = rows * (lastCol[k] - firstCol[k] + 1);
      const auto g = static_cast<std::uint8_t>(255 * set / count);
      out[3 * k] = out[3 * k + 1] = out[3 * k + 2] = g;
    }
  }
}

void RvShrinkBWToGray(TRvBaseBitmap* Src, int X1, int Y1, int X2, int Y2, TRvBitmap* Dst) {
  if (Src == nullptr || Dst == nullptr || Src->BitCount() != 1) return;
  if (Dst->PixelFormat() != rvpf24Bit) return;
  if (Src->Width() == 0 || Src->Height() == 0 || Dst->Width() == 0 || Dst->Height() == 0) return;
  RvShrinkBWRows([Src](int y) -> const std::uint8_t* { return Src->Scanline(y); }, Src->Width(),
                 Src->Height(), X1, Y1, X2, Y2, Dst->Width(), Dst->Height(),
                 [Dst](int r) { return Dst->Scanline(r); });
}

void RvShrinkBWTBitmapToGray(const platform::TBitmap* Src, int X1, int Y1, int X2, int Y2,
                             platform::TBitmap* Dst) {
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != platform::pf1bit) return;
  if (Src->Empty() || Dst->Width() <= 0 || Dst->Height() <= 0) return;
  Dst->SetPixelFormat(platform::pf24bit);
  RvShrinkBWRows([Src](int y) { return Src->ScanLine(y); }, Src->Width(), Src->Height(), X1, Y1,
                 X2, Y2, Dst->Width(), Dst->Height(), [Dst](int r) { return Dst->ScanLine(r); });
}

std::unique_ptr<std::uint8_t[]> RvShrinkBWBitsToGray(const void* Bits, int SrcWidth,
                                                     int SrcHeight, int X1, int Y1, int X2,
                                                     int Y2, int DstWidth, int DstHeight) {
  if (DstWidth < 1 || DstHeight < 1 || Bits == nullptr || SrcWidth < 1 || SrcHeight < 1)
    return nullptr;
  const std::int64_t srcRowLen = RvRowLen(SrcWidth, 1);
  const std::int64_t dstRowLen = RvRowLen(DstWidth, 24);
  const auto size = static_cast<std::size_t>(dstRowLen * DstHeight);
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]());
  const auto* src = static_cast<const std::uint8_t*>(Bits);
  std::uint8_t* dst = block.get();
  RvShrinkBWRows(
      [=](int y) { return src + (SrcHeight - y - 1) * srcRowLen; }, SrcWidth, SrcHeight, X1, Y1,
      X2, Y2, DstWidth, DstHeight,
      [=](int r) { return dst + (DstHeight - r - 1) * dstRowLen; });
  return block;
}

bool RvIsGrayBitmap(const platform::TBitmap* Bitmap) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != platform::pf24bit) return false;
  for (int y = 0; y < Bitmap->Height(); ++y) {
    const std::uint8_t* p = Bitmap->ScanLine(y);
    for (int x = 0; x < Bitmap->Width(); ++x, p += 3)
      if (p[0] != p[1] || p[1] != p[2]) return false;
  }
  return true;
}

} // namespace rv
