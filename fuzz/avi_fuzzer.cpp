// The video-frame reader on arbitrary bytes: open as an AVI file, read a few
// frames forward and back. Every frame given is a whole 24-bit DIB of the
// size its header states.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "image/io/avi/rvavifile.h"
#include "platform/graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 18, std::int64_t{64} << 20);
  rv::TRvAviFile avi;
  if (!avi.OpenMemory(data, size)) return 0;
  if (avi.Length() < 1 || avi.Rate() <= 0 || avi.Scale() <= 0) std::abort();
  const int last = avi.Length() - 1;
  for (int n : {0, 1, last, last / 2, 0}) {
    if (n > last) continue;
    const std::vector<std::uint8_t> dib = avi.GetFrame(n);
    if (dib.empty()) continue;
    platform::TBitmapInfoHeader h;
    if (dib.size() < sizeof h) std::abort();
    std::memcpy(&h, dib.data(), sizeof h);
    const std::size_t row = (static_cast<std::size_t>(h.biWidth) * 24 + 31) / 32 * 4;
    if (h.biBitCount != 24 || h.biWidth < 1 || h.biHeight < 1 ||
        dib.size() != sizeof h + row * static_cast<std::size_t>(h.biHeight))
      std::abort();
  }
  return 0;
}
