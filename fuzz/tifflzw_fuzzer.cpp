// One TIFF LZW strip of arbitrary bytes decoded row by row at a small row
// size; the same bytes coded by our encoder must decode back unchanged.
#include "image/io/tiff/tifflzw.h"
#include "platform/stream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int rowSize = 1 + data[0] % 64;
  const std::vector<std::uint8_t> strip(data + 1, data + size);
  void* state = nullptr;
  for (int row = 0; row < 256; ++row) {
    const std::uint8_t* p = rv::TiffLzwDecompress(strip.data(), strip.size(), rowSize, state);
    if (p == nullptr) break;
    volatile std::uint8_t sink = p[rowSize - 1];
    (void)sink;
  }
  rv::TiffLzwDecompress(nullptr, 0, rowSize, state);

  platform::TMemoryStream out;
  void* enc = nullptr;
  const std::size_t rows = strip.size() / static_cast<std::size_t>(rowSize);
  rv::TiffLzwCompress(strip.data(), 0, &out, enc);
  for (std::size_t r = 0; r < rows; ++r)
    rv::TiffLzwCompress(strip.data() + r * static_cast<std::size_t>(rowSize), rowSize, &out, enc);
  rv::TiffLzwCompress(nullptr, 0, &out, enc);
  const std::vector<std::uint8_t> coded = out.Data();
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint8_t* p = rv::TiffLzwDecompress(coded.data(), coded.size(), rowSize, state);
    if (p == nullptr || std::memcmp(p, strip.data() + r * static_cast<std::size_t>(rowSize),
                                    static_cast<std::size_t>(rowSize)) != 0)
      std::abort();
  }
  rv::TiffLzwDecompress(nullptr, 0, rowSize, state);
  return 0;
}
