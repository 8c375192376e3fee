// PBM/PGM/PPM reader on arbitrary bytes: probe, header only, full decode,
// then the writer on whatever was decoded. A low pixel cap keeps each input
// small.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "image/io/pnm/rvpnm.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvlists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);
  platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
  rv::IsPnmStream(stream);
  {
    rv::TIOParamsVals params;
    rv::TRvBitmap bitmap;
    rv::TRvLocalProgress progress;
    rv::PnmReadStream(stream, bitmap, params, progress.Rec, true);
  }
  stream.SetPosition(0);
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  rv::TRvLocalProgress progress;
  rv::PnmReadStream(stream, bitmap, params, progress.Rec, false);
  if (!progress.Rec.IsAborting() && bitmap.Width() > 0) {
    rv::TNulStream out;
    rv::TRvLocalProgress writing;
    rv::PnmWriteStream(out, bitmap, params, writing.Rec);
  }
  return 0;
}
