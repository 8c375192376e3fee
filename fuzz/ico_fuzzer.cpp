// Icon and cursor files: the probes, the header read and the full decode of
// each directory entry must stay inside their buffers, whatever the bytes.
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "image/io/bmp/rvico.h"
#include "image/io/rvsafeio.h"
#include "platform/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);

  const std::int64_t size = static_cast<std::int64_t>(Size);
  {
    platform::TBytesStream s(Data, size);
    rv::IsIcoStream(s);
    rv::IsCurStream(s);
  }
  for (int index = 0; index < 2; ++index) {
    for (bool cursor : {false, true}) {
      for (bool headerOnly : {true, false}) {
        platform::TBytesStream s(Data, size);
        rv::TIOParamsVals params;
        params.IcoImageIndex = index;
        params.CurImageIndex = index;
        params.IcoBackground = rv::TRGB{0, 0, 0};
        rv::TRvBitmap bitmap;
        std::unique_ptr<rv::TRvMask> mask;
        rv::TRvLocalProgress p;
        if (cursor)
          rv::CurReadStream(s, &bitmap, params, headerOnly, mask, p.Rec, headerOnly);
        else
          rv::IcoReadStream(s, &bitmap, params, headerOnly, mask, p.Rec, headerOnly);
      }
    }
  }
  return 0;
}
