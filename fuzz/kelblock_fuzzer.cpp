// Stored blocks of the control library's items: arbitrary bytes expanded as a
// block; what expands must come back unchanged through our own compressor.
#include "controls/kel/kelutils.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> expanded(kel::kelBlockMaxInput);
  try {
    expanded.resize(kel::KelDecompressBlock({data, size}, expanded));
  } catch (const kel::EKelBlockError&) {
    return 0;
  }
  std::vector<std::uint8_t> block(expanded.size() + kel::kelBlockOutputMargin);
  block.resize(kel::KelCompressBlock(expanded, block));
  if (block.size() > expanded.size() + 1) std::abort();
  std::vector<std::uint8_t> again(kel::kelBlockMaxInput);
  again.resize(kel::KelDecompressBlock(block, again));
  if (again != expanded) std::abort();
  return 0;
}
