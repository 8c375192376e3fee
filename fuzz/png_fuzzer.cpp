// PNG files come from anywhere: the header read, then the full decode (with
// the alpha kept or composited, as the input picks), must stay inside their
// buffers; a decoded picture written again, by default options and by what
// its file held, must read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "image/io/png/rvpng.h"
#include "image/io/rvsafeio.h"
#include "platform/stream.h"

namespace {

bool SameRows(rv::TRvBitmap& A, rv::TRvBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.PixelFormat() != B.PixelFormat())
    return false;
  const std::int64_t bits = static_cast<std::int64_t>(A.Width()) * (A.PixelFormat() == rv::rvpf1Bit ? 1 : 24);
  for (int y = 0; y < A.Height(); ++y) {
    const std::uint8_t* a = A.Scanline(y);
    const std::uint8_t* b = B.Scanline(y);
    for (std::int64_t i = 0; i < bits; ++i)
      if (((a[i >> 3] >> (7 - (i & 7))) & 1) != ((b[i >> 3] >> (7 - (i & 7))) & 1)) return false;
  }
  return true;
}

// A picture written by the Params given reads back with the same rows and
// alpha; the writer neither fails nor aborts.
void ReadsBackWritten(rv::TRvBitmap& bitmap, rv::TIOParamsVals& params, const rv::TRvMask* mask) {
  platform::TMemoryStream written;
  rv::TRvLocalProgress p3;
  try {
    rv::PngWriteStream(written, bitmap, params, mask, p3.Rec);
  } catch (const rv::EInvalidGraphic&) {
    std::abort();
  }
  if (p3.Rec.IsAborting()) std::abort();
  written.SetPosition(0);
  rv::TRvBitmap again;
  rv::TIOParamsVals back;
  std::unique_ptr<rv::TRvMask> againMask;
  rv::TRvLocalProgress p4;
  rv::PngReadStream(written, again, back, p4.Rec, false, againMask, false);
  if (p4.Rec.IsAborting() || !SameRows(bitmap, again)) std::abort();
  if (mask && !mask->Full()) {
    if (!againMask || againMask->Width() != mask->Width()) std::abort();
    for (int y = 0; y < mask->Height(); ++y)
      if (std::memcmp(mask->ScanLine(y), againMask->ScanLine(y), static_cast<std::size_t>(mask->Width())) != 0)
        std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);
  const bool useBackground = Size > 0 && (Data[Size - 1] & 1) != 0;

  platform::TBytesStream header(Data, static_cast<std::int64_t>(Size));
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  std::unique_ptr<rv::TRvMask> mask;
  rv::TRvLocalProgress p1;
  // The header read as the program's parameter reads make it: with a mask,
  // which it must leave alone.
  rv::PngReadStream(header, bitmap, params, p1.Rec, true, mask, false);
  if (mask) std::abort();

  platform::TBytesStream full(Data, static_cast<std::int64_t>(Size));
  rv::TRvLocalProgress p2;
  rv::PngReadStream(full, bitmap, params, p2.Rec, false, mask, useBackground);
  if (p2.Rec.IsAborting() || bitmap.Width() < 1 ||
      static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height() > 65536)
    return 0;

  rv::TIOParamsVals out;
  out.BitsPerSample = bitmap.PixelFormat() == rv::rvpf1Bit ? 1 : 8;
  out.PngInterlaced = (Size & 4) != 0;
  out.PngFilter = static_cast<std::uint8_t>(Size % 4);
  ReadsBackWritten(bitmap, out, mask.get());
  // Written with what its file held (its palette and depth, its colour key,
  // its chunks) it reads back the same too; a composited picture has left
  // the file's palette.
  if (!useBackground) ReadsBackWritten(bitmap, params, mask.get());
  return 0;
}
