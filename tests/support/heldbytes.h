// The bytes the process holds from its allocator: handed out and not yet
// freed. Under the address sanitizer its own allocator stands in for the C
// library's and is asked instead.
#pragma once

#include <cstddef>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace testsupport {

inline std::size_t HeldBytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 Info = mallinfo2();
  return Info.uordblks + Info.hblkhd;
#endif
}

} // namespace testsupport
