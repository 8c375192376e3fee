// Format detection on arbitrary bytes, from the start and from a third of
// the way in: it must answer without raising and leave the position as it
// found it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "image/io/rvformats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);
  platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
  for (std::int64_t at : {std::int64_t{0}, static_cast<std::int64_t>(size / 3)}) {
    stream.SetPosition(at);
    const rv::TRvFileType type = rv::RvFindStreamFormat(stream);
    if (type < 0 || type > 14 || stream.Position() != at) std::abort();
  }
  stream.SetPosition(0);
  rv::TRvStreamHeader header;
  if (rv::RvReadStreamHeader(stream, header) && stream.Position() != rv::RvStreamHeaderSize)
    std::abort();
  return 0;
}
