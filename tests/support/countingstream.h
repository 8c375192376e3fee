// A stream over another that counts the bytes a reader reads through it:
// the tests and benchmarks hold readers to what their data asks of them.
#pragma once

#include "platform/stream.h"

#include <cstdint>

namespace testsupport {

class TCountingStream : public platform::TStream {
public:
  explicit TCountingStream(platform::TStream& Inner) : FInner(Inner) {}
  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    const std::int64_t N = FInner.Read(Buffer, Count);
    if (N > 0) BytesRead += N;
    return N;
  }
  std::int64_t Write(const void* Buffer, std::int64_t Count) override { return FInner.Write(Buffer, Count); }
  std::int64_t Seek(std::int64_t Offset, platform::TSeekOrigin Origin) override {
    return FInner.Seek(Offset, Origin);
  }
  std::int64_t Size() override { return FInner.Size(); }
  std::int64_t BytesRead = 0;

private:
  platform::TStream& FInner;
};

} // namespace testsupport
