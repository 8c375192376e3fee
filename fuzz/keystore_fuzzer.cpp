// The key store's file is read back at every start: damaged text must parse
// to a tree that writes and reads back unchanged.
#include "platform/registry.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  platform::TRegKeyNode tree = platform::ParseKeyStore(text);
  std::string again = platform::SerializeKeyStore(tree);
  if (!(platform::ParseKeyStore(again) == tree)) std::abort();
  return 0;
}
