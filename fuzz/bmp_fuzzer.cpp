// BMP files come from anywhere: the header read, then the full decode, must
// stay inside their buffers; a decoded picture written at 24 (or 1) bits, or
// a 16-bit one as its file was, and read again must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "image/io/bmp/rvbmp.h"
#include "image/io/rvsafeio.h"
#include "platform/stream.h"

namespace {

bool SamePixels(rv::TRvBitmap& A, rv::TRvBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.PixelFormat() != B.PixelFormat())
    return false;
  const int bits = A.PixelFormat() == rv::rvpf1Bit ? 1 : 24;
  const std::int64_t usedBits = static_cast<std::int64_t>(A.Width()) * bits;
  for (int y = 0; y < A.Height(); ++y) {
    std::uint8_t* a = A.Scanline(y);
    std::uint8_t* b = B.Scanline(y);
    for (std::int64_t i = 0; i < usedBits; ++i) {
      const bool x = (a[i >> 3] >> (7 - (i & 7))) & 1;
      const bool z = (b[i >> 3] >> (7 - (i & 7))) & 1;
      if (x != z) return false;
    }
  }
  return true;
}

// The picture written with Params and read again is the same, or the run
// stops.
void WrittenAndReadBack(rv::TRvBitmap& Bitmap, rv::TIOParamsVals& Params) {
  platform::TMemoryStream written;
  rv::TRvLocalProgress write;
  rv::BmpWriteStream(written, Bitmap, Params, write.Rec);
  if (write.Rec.IsAborting()) std::abort();
  written.SetPosition(0);
  rv::TRvBitmap again;
  rv::TIOParamsVals back;
  rv::TRvLocalProgress read;
  rv::BmpReadStream(written, &again, 0, back, read.Rec, false);
  if (read.Rec.IsAborting() || !SamePixels(Bitmap, again)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);

  platform::TBytesStream header(Data, static_cast<std::int64_t>(Size));
  rv::TIOParamsVals params;
  rv::TRvLocalProgress p1;
  rv::BmpReadStream(header, nullptr, 0, params, p1.Rec, true);

  platform::TBytesStream full(Data, static_cast<std::int64_t>(Size));
  rv::TRvBitmap bitmap;
  rv::TRvLocalProgress p2;
  rv::BmpReadStream(full, &bitmap, static_cast<std::int64_t>(Size), params, p2.Rec, false);
  if (p2.Rec.IsAborting() || bitmap.Width() < 1 ||
      static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height() > 65536)
    return 0;

  rv::TIOParamsVals out;
  out.BitsPerSample = bitmap.PixelFormat() == rv::rvpf1Bit ? 1 : 8;
  out.SamplesPerPixel = 3;
  // A 1-bit picture keeps its bits only through the black-and-white palette.
  WrittenAndReadBack(bitmap, out);
  // A 16-bit file's picture written as the file was (its own bit fields
  // where they hold it) reads back unchanged too.
  if (params.BitsPerSample == 5) WrittenAndReadBack(bitmap, params);
  return 0;
}
