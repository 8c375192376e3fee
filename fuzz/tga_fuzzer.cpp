// TGA reader on arbitrary bytes: probe, header only, full decode with alpha
// mask, then the writer on whatever was decoded. A low pixel cap keeps each
// input small.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "image/io/rvsafeio.h"
#include "image/io/tga/rvtga.h"
#include "image/model/rvlists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);
  platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
  rv::IsTgaStream(stream);
  std::unique_ptr<rv::TRvMask> mask;
  {
    rv::TIOParamsVals params;
    rv::TRvBitmap bitmap;
    rv::TRvLocalProgress progress;
    rv::TgaReadStream(stream, bitmap, params, progress.Rec, true, mask, true);
  }
  stream.SetPosition(0);
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  rv::TRvLocalProgress progress;
  rv::TgaReadStream(stream, bitmap, params, progress.Rec, false, mask, false);
  if (!progress.Rec.IsAborting() && bitmap.Width() > 0 && bitmap.Width() * bitmap.Height() <= 65536) {
    rv::TNulStream out;
    rv::TRvLocalProgress writing;
    rv::TgaWriteStream(out, bitmap, params, mask.get(), writing.Rec);
  }
  return 0;
}
