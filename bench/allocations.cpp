#include "allocations.h"

#include <cerrno>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)

std::int64_t bench::ThreadAllocations() { return -1; }
std::int64_t bench::ThreadAllocatedBytes() { return -1; }

#else

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {
// Per thread, so that other threads' work does not count; initial-exec TLS
// in the program itself needs no allocation of its own.
thread_local std::int64_t tAllocations = 0;
thread_local std::int64_t tBytes = 0;

void Count(std::size_t bytes) {
  ++tAllocations;
  tBytes += static_cast<std::int64_t>(bytes);
}
} // namespace

// The program's own definitions come before the C library's; freeing stays
// with the C library, which owns every block.
extern "C" void* malloc(std::size_t size) {
  Count(size);
  return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
  Count(count * size);
  return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, std::size_t size) {
  Count(size);
  return __libc_realloc(pointer, size);
}

extern "C" void* aligned_alloc(std::size_t alignment, std::size_t size) {
  Count(size);
  return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** pointer, std::size_t alignment, std::size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  Count(size);
  void* block = __libc_memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *pointer = block;
  return 0;
}

std::int64_t bench::ThreadAllocations() { return tAllocations; }
std::int64_t bench::ThreadAllocatedBytes() { return tBytes; }

#endif
