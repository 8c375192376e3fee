// The class library's byte streams: the abstract stream and its memory and
// file kinds. Positions and sizes are 64-bit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class EStreamError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
  virtual ~TStream() = default;
  // Reads at most count bytes; answers how many were read (short at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes at most count bytes; answers how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size);

  // Exactly count bytes or EStreamError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source (0: all from its start); answers the count.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

class TMemoryStream : public TStream {
public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t size) override;
  void Clear();

  const std::uint8_t* Memory() const { return FData.data(); }
  std::uint8_t* Memory() { return FData.data(); }
  std::vector<std::uint8_t>& Data() { return FData; }
  const std::vector<std::uint8_t>& Data() const { return FData; }
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

private:
  std::vector<std::uint8_t> FData;
  std::int64_t FPosition = 0;
};

// A read-only stream over bytes owned by someone else.
class TBytesStream : public TStream {
public:
  TBytesStream(const void* data, std::int64_t size)
      : FData(static_cast<const std::uint8_t*>(data)), FSize(size) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return FSize; }

private:
  const std::uint8_t* FData;
  std::int64_t FSize;
  std::int64_t FPosition = 0;
};

enum TFileMode { fmOpenRead, fmOpenReadWrite, fmCreate };

class TFileStream : public TStream {
public:
  // Raises EStreamError when the file cannot be opened or created.
  TFileStream(const std::string& fileName, TFileMode mode);
  // Takes over a descriptor already open for reading and writing; fileName
  // names it in messages.
  TFileStream(int handle, const std::string& fileName) : FFd(handle), FFileName(fileName) {}
  ~TFileStream() override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FFd; }

private:
  int FFd = -1;
  std::string FFileName;
};

} // namespace platform
