#include "shell/sxtextwriter.h"

#include "shell/sxbase.h"

#include <algorithm>
#include <cstring>

namespace sx {

namespace {
enum : std::int32_t { scStreamNil = 270, scIncompleteWrite = 273, scBadLineTerminator = 274, scBadFixedLength = 275 };
} // namespace

TSxTextStream::TSxTextStream(platform::TStream* stream) : FStream(stream), FLineBuffer(FFixedLineLength) {}

platform::TStream& TSxTextStream::Target() {
  if (!FStream) RaiseSyError<ESyBufStreamError>(scStreamNil);
  return *FStream;
}

std::int64_t TSxTextStream::Read(void* buffer, std::int64_t count) { return Target().Read(buffer, count); }

std::int64_t TSxTextStream::Write(const void* buffer, std::int64_t count) { return Target().Write(buffer, count); }

std::int64_t TSxTextStream::Seek(std::int64_t offset, platform::TSeekOrigin origin) {
  return Target().Seek(offset, origin);
}

void TSxTextStream::SetFixedLineLength(std::int32_t value) {
  if (value < 1 || value > 4096) RaiseSyError<ESyBufStreamError>(scBadFixedLength);
  FFixedLineLength = value;
  if (FLineBuffer.size() < static_cast<std::size_t>(value)) FLineBuffer.resize(value);
}

void TSxTextStream::WriteAll(const void* buffer, std::int64_t count) {
  // A short write would lose the rest of the line without a word.
  if (Write(buffer, count) != count) RaiseSyError<ESyBufStreamError>(scIncompleteWrite);
}

void TSxTextStream::WriteLineArray(const char* bytes, std::int64_t length) {
  if (!bytes || length < 0) length = 0;
  if (FLineTerminator == ltNone) {
    if (length < FFixedLineLength) {
      std::fill(FLineBuffer.begin() + length, FLineBuffer.begin() + FFixedLineLength, ' ');
      if (length > 0) std::memcpy(FLineBuffer.data(), bytes, static_cast<std::size_t>(length));
      WriteAll(FLineBuffer.data(), FFixedLineLength);
    } else {
      WriteAll(bytes, FFixedLineLength);
    }
    return;
  }
  char terminator[2];
  std::int64_t terminatorLength = 1;
  switch (FLineTerminator) {
  case ltCR: terminator[0] = '\r'; break;
  case ltLF: terminator[0] = '\n'; break;
  case ltCRLF: terminator[0] = '\r'; terminator[1] = '\n'; terminatorLength = 2; break;
  case ltOther: terminator[0] = FLineTermChar; break;
  default: RaiseSyError<ESyBufStreamError>(scBadLineTerminator);
  }
  if (length > 0) WriteAll(bytes, length);
  WriteAll(terminator, terminatorLength);
}

void TSxTextStream::WriteLine(const char* text) {
  WriteLineArray(text, text ? static_cast<std::int64_t>(std::strlen(text)) : 0);
}

} // namespace sx
