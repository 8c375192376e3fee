// JPEG-2000 files and code streams come from anywhere: the header read, then
// the full decode, must stay inside their buffers; a decoded picture written
// again (losslessly) must read back unchanged.
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/io/rvsafeio.h"
#include "platform/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 18, std::int64_t{32} << 20);

  platform::TBytesStream header(Data, static_cast<std::int64_t>(Size));
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  rv::TRvLocalProgress p1;
  rv::Jpeg2000ReadStream(header, bitmap, params, true, p1.Rec);

  platform::TBytesStream full(Data, static_cast<std::int64_t>(Size));
  rv::TRvLocalProgress p2;
  rv::Jpeg2000ReadStream(full, bitmap, params, false, p2.Rec);
  if (p2.Rec.IsAborting() || bitmap.Width() < 1 ||
      static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height() > 4096)
    return 0;

  rv::TIOParamsVals out;
  out.BitsPerSample = 8;
  out.J2000ColorSpace = 1;
  platform::TMemoryStream written;
  rv::TRvLocalProgress p3;
  rv::Jpeg2000WriteStream(written, bitmap, out, static_cast<int>(Size & 1), p3.Rec);
  if (p3.Rec.IsAborting()) std::abort();
  written.SetPosition(0);
  rv::TRvBitmap again;
  rv::TIOParamsVals back;
  rv::TRvLocalProgress p4;
  rv::Jpeg2000ReadStream(written, again, back, false, p4.Rec);
  if (p4.Rec.IsAborting() || again.Width() != bitmap.Width() || again.Height() != bitmap.Height())
    std::abort();
  if (bitmap.PixelFormat() == rv::rvpf24Bit && again.PixelFormat() == rv::rvpf24Bit) {
    for (int y = 0; y < bitmap.Height(); ++y)
      for (int x = 0; x < bitmap.Width() * 3; ++x)
        if (bitmap.Scanline(y)[x] != again.Scanline(y)[x]) std::abort();
  }
  return 0;
}
