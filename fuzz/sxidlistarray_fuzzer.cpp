// Identifier-list arrays dropped or pasted by another process: whatever the
// parser accepts must come back byte for byte through our own builder.
#include "shell/sxdragdrop.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto array = sx::SxParseIDListArray(data, size);
  if (!array) return 0;
  const std::vector<std::uint8_t> built = sx::SxBuildIDListArray(array->Parent, array->Items);
  const auto again = sx::SxParseIDListArray(built.data(), built.size());
  if (!again || again->Parent != array->Parent || again->Items != array->Items) std::abort();
  return 0;
}
