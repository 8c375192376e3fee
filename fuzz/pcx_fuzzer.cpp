// PCX reader on arbitrary bytes: header only, full decode, then the writer
// on whatever was decoded. A low pixel cap keeps each input small.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "image/io/pcx/rvpcx.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvlists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);
  platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
  {
    rv::TIOParamsVals params;
    rv::TRvBitmap bitmap;
    rv::TRvLocalProgress progress;
    rv::PcxReadStream(stream, bitmap, params, true, progress.Rec, stream.Size());
  }
  stream.SetPosition(0);
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  rv::TRvLocalProgress progress;
  rv::PcxReadStream(stream, bitmap, params, false, progress.Rec, stream.Size());
  if (!progress.Rec.IsAborting() && bitmap.Width() > 0 && bitmap.Width() * bitmap.Height() <= 65536) {
    rv::TNulStream out;
    rv::TRvLocalProgress writing;
    rv::PcxWriteStream(out, bitmap, params, writing.Rec);
  }
  return 0;
}
