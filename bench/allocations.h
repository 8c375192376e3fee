// Heap allocations made by the calling thread: the malloc family counted in
// this program (operator new ends in malloc). Builds with a sanitizer keep
// its allocator and count nothing.
#pragma once

#include <cstdint>

namespace bench {

// Allocations by this thread so far, or -1 where they are not counted.
std::int64_t ThreadAllocations();
// The bytes those allocations asked for (a realloc counts its new size).
std::int64_t ThreadAllocatedBytes();

} // namespace bench
