// The line-writing side of the shell library's text stream: each line is
// followed by the stream's terminator, or padded or cut to a fixed record.
#pragma once

#include "platform/stream.h"

#include <cstdint>
#include <vector>

namespace sx {

enum TSxLineTerminator : std::uint8_t { ltNone, ltCR, ltLF, ltCRLF, ltOther };

class TSxTextStream : public platform::TStream {
public:
  // Writes go to the given stream, which stays the caller's.
  explicit TSxTextStream(platform::TStream* stream);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, platform::TSeekOrigin origin) override;

  TSxLineTerminator LineTerminator() const { return FLineTerminator; }
  void SetLineTerminator(TSxLineTerminator value) { FLineTerminator = value; }
  char LineTermChar() const { return FLineTermChar; }
  void SetLineTermChar(char value) { FLineTermChar = value; }
  std::int32_t FixedLineLength() const { return FFixedLineLength; }
  // Raises ESyBufStreamError 275 outside 1 to 4096.
  void SetFixedLineLength(std::int32_t value);

  // A null array counts as an empty line.
  void WriteLineArray(const char* bytes, std::int64_t length);
  void WriteLine(const char* text);

private:
  platform::TStream& Target();
  void WriteAll(const void* buffer, std::int64_t count);

  platform::TStream* FStream;
  TSxLineTerminator FLineTerminator = ltCRLF;
  char FLineTermChar = '\n';
  std::int32_t FFixedLineLength = 80;
  std::vector<char> FLineBuffer;
};

} // namespace sx
