// GIF image data as the GIF reader hands it over: arbitrary bytes decoded
// into a frame of fixed size. What decodes must survive our own encoder.
#include "image/io/gif/giflzw.h"
#include "platform/stream.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int width = 1 + data[0] % 48;
  const int height = 1 + (data[1] & 0x3F) % 40;
  const bool interlaced = (data[1] & 0x80) != 0;
  platform::TBytesStream in(data + 2, static_cast<std::int64_t>(size - 2));
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height), 0);
  rv::GifLzwDecompress(in, height, width, pixels.data(), interlaced);

  platform::TMemoryStream out;
  rv::GifLzwCompress(out, height, width, 8, pixels.data(), interlaced);
  std::vector<std::uint8_t> again(pixels.size(), 1);
  out.SetPosition(0);
  rv::GifLzwDecompress(out, height, width, again.data(), interlaced);
  if (again != pixels || out.Position() != out.Size()) std::abort();
  return 0;
}
