#include "image/model/rvbits.h"

#include <cstring>

#include "image/model/rvhelpers.h"

namespace rv {

const std::uint8_t RvDitherMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},  {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

const std::uint8_t RvBitMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

namespace {
struct TExpansion {
  std::uint8_t Pixels[256][24];
  TExpansion() {
    for (int v = 0; v < 256; ++v)
      for (int n = 0; n < 8; ++n)
        std::memset(&Pixels[v][n * 3], (v & (0x80 >> n)) ? 255 : 0, 3);
  }
};
const TExpansion Expansion;
} // namespace

const std::uint8_t* RvBWExpansion(std::uint8_t Value) { return Expansion.Pixels[Value]; }

void RvCopyBits(void* Dest, const void* Source, std::int64_t DestBit, std::int64_t SourceRowBytes,
                std::int64_t Count, std::int64_t SourceBit) {
  if (Count <= 0) return;
  std::uint8_t* d = static_cast<std::uint8_t*>(Dest);
  const std::uint8_t* s = static_cast<const std::uint8_t*>(Source);
  const std::int64_t sourceBits = SourceRowBytes * 8;
  auto bitAt = [&](std::int64_t n) { return n < sourceBits && RvTestBit(s, n); };
  auto byteAt = [&](std::int64_t index) -> unsigned { return index < SourceRowBytes ? s[index] : 0u; };
  // Lead-in bit by bit up to a byte boundary of the destination.
  while (Count > 0 && (DestBit & 7) != 0) {
    RvSetBit(d, DestBit++, bitAt(SourceBit++));
    --Count;
  }
  // Whole destination bytes.
  const int shift = static_cast<int>(SourceBit & 7);
  while (Count >= 8) {
    const std::int64_t i = SourceBit >> 3;
    unsigned v = byteAt(i);
    if (shift != 0) v = ((v << shift) | (byteAt(i + 1) >> (8 - shift))) & 0xFF;
    d[DestBit >> 3] = static_cast<std::uint8_t>(v);
    DestBit += 8;
    SourceBit += 8;
    Count -= 8;
  }
  while (Count > 0) {
    RvSetBit(d, DestBit++, bitAt(SourceBit++));
    --Count;
  }
}

void RvCopyBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest) {
  if (Source == nullptr || Dest == nullptr || Source == Dest) return;
  Dest->SetSize(1, 1);
  Dest->SetPixelFormat(Source->PixelFormat());
  if (Source->Width() > 0 && Source->Height() > 0) {
    Dest->SetSize(Source->Width(), Source->Height());
    const int bytes = Source->ScanLineSize();
    for (int y = 0; y < Source->Height(); ++y)
      std::memcpy(Dest->ScanLine(y), Source->ScanLine(y), static_cast<std::size_t>(bytes));
  }
}

std::unique_ptr<platform::TBitmap> RvCloneBitmap(const platform::TBitmap* Source) {
  auto clone = std::make_unique<platform::TBitmap>();
  RvCopyBitmap(Source, clone.get());
  return clone;
}

void RvOrderedDitherToBW(platform::TBitmap* Bitmap, TRvProgressRec& Progress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != platform::pf24bit) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  Progress.Per = 100.0 / (h + 0.5);
  platform::TBitmap result(w, h, platform::pf1bit);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = Bitmap->ScanLine(y);
    std::uint8_t* d = result.ScanLine(y);
    for (int x = 0; x < w; ++x, s += 3)
      RvSetBit(d, x, (RvGray(s[2], s[1], s[0]) >> 2) > RvDitherMatrix[x & 7][y & 7]);
    Progress.Step(y + 1);
  }
  RvCopyBitmap(&result, Bitmap);
}

void RvBWToRGBBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest,
                     TRvProgressRec& Progress) {
  if (Source == nullptr || Dest == nullptr) return;
  const int w = Source->Width(), h = Source->Height();
  Dest->SetPixelFormat(platform::pf24bit);
  Dest->SetSize(w, h);
  Progress.Per = 100.0 / (h + 0.5);
  const int whole = w / 8, rest = w % 8;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = Source->ScanLine(y);
    std::uint8_t* d = Dest->ScanLine(y);
    for (int i = 0; i < whole; ++i, d += 24) std::memcpy(d, Expansion.Pixels[s[i]], 24);
    if (rest > 0) std::memcpy(d, Expansion.Pixels[s[whole]], static_cast<std::size_t>(rest) * 3);
    Progress.Step(y + 1);
  }
}

} // namespace rv
