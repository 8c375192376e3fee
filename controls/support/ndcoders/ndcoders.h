// Streaming text coders (base64, UU, XX) and the registry of coder classes
// by transfer-encoding name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace wn {

// Media-type prefixes.
inline constexpr const char* NdMediaApplication = "application/";
inline constexpr const char* NdMediaAudio = "audio/";
inline constexpr const char* NdMediaImage = "image/";
inline constexpr const char* NdMediaMessage = "message/";
inline constexpr const char* NdMediaMultipart = "multipart/";
inline constexpr const char* NdMediaText = "text/";
inline constexpr const char* NdMediaVideo = "video/";

inline constexpr const char* NdOctetStream = "application/octet-stream";

// Kinds of output entries other than coded data (0): messages of the UU/XX
// decoders.
inline constexpr int NdKindData = 0;
inline constexpr int NdKindFileName = 5;
inline constexpr int NdKindTable = 41;
inline constexpr int NdKindBegin = 42;
inline constexpr int NdKindNoBegin = 43;
inline constexpr int NdKindPrivilege = 47;
inline constexpr int NdKindBadPrivilege = 48;

class ENdException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ENdTableNotFound : public ENdException {
 public:
  ENdTableNotFound() : ENdException("Coding table entry not found.") {}
};

class TNdBaseComponent {
 public:
  virtual ~TNdBaseComponent() = default;
};

// Copies its input unchanged; descendants code it.
class TNdCoder : public TNdBaseComponent {
 public:
  static constexpr int DefaultBufferSize = 4096;

  TNdCoder();
  ~TNdCoder() override = default;

  // Feeds S; returns CompletedInput() when AutoCompleteInput, else
  // GetCodedData().
  std::string CodeString(const std::string& S);

  virtual void CodeBuffer();
  virtual void CodeRest();
  virtual std::string CompletedInput();
  virtual std::string GetNotification();
  virtual std::string GetCodedData();
  virtual void Reset();
  virtual void SetText2(const std::string& Value);
  virtual void SetBufferSize(int Value);

  int BufferSize() const { return FBufferSize; }
  const std::string& Text2() const { return FText2; }
  bool Finished() const { return FFinished; }
  std::int64_t BytesIn() const { return FBytesIn; }
  std::int64_t BytesCoded() const { return FBytesCoded; }
  const std::vector<std::string>& Output() const { return FOutput; }

  bool AddCRLF = false;
  bool AutoCompleteInput = false;
  // Either flag makes GetCodedData discard everything.
  bool Cancelled = false;
  bool DiscardOutput = false;
  std::string FileName;
  bool UseEvent = false;
  std::function<void(const std::string& Text)> OnCodedData;
  std::function<void(int Kind, const std::string& Text)> OnNotification;

 protected:
  // Adds one coded piece (CR LF appended when AddCRLF).
  void AddCodedPiece(const std::string& Text);
  void AddNotification(int Kind, const std::string& Text);

  std::string FBuffer;  // bytes held
  std::int64_t FBytesIn = 0;
  std::int64_t FBytesCoded = 0;
  bool FFinished = false;

 private:
  int FBufferSize = DefaultBufferSize;
  std::string FText2;
  std::vector<std::string> FOutput;
};

class TNdASCIICoder : public TNdCoder {
 public:
  virtual void SetCodingTable(const std::string& Value);
  const std::string& CodingTable() const { return FCodingTable; }
  int TableLength() const { return FTableLength; }

 protected:
  explicit TNdASCIICoder(int TableLength) : FTableLength(TableLength) {}
  // Index of C in the coding table; raises ENdTableNotFound.
  int TableIndex(char C) const;

  std::string FCodingTable;
  int FTableLength;

 private:
  int FIndex[256] = {};
};

class TNd3To4Coder : public TNdASCIICoder {
 protected:
  TNd3To4Coder() : TNdASCIICoder(64) {}
  // Appends the four table characters of b0 b1 b2.
  void EncodeBlock(std::string& Out, std::uint8_t B0, std::uint8_t B1, std::uint8_t B2) const;
  // Appends the first Count (1..3) bytes of the block of four characters.
  void DecodeBlock(std::string& Out, const char* Chars, int Count) const;
};

class TNdBase64Encoder : public TNd3To4Coder {
 public:
  TNdBase64Encoder();
  void CodeBuffer() override;
  void CodeRest() override;
};

class TNdBase64Decoder : public TNd3To4Coder {
 public:
  TNdBase64Decoder();
  void CodeBuffer() override;
  void CodeRest() override;
  void Reset() override;

 private:
  void DecodeHeld(bool AtEnd);
  std::string FPending;  // characters of an unfinished block
};

class TNdUUEncoder : public TNd3To4Coder {
 public:
  static constexpr int LineBufferSize = 61;

  TNdUUEncoder();
  void CodeBuffer() override;
  void CodeRest() override;
  void Reset() override;
  void SetCodingTable(const std::string& Value) override;
  virtual void WriteHeader();

  int Privilege = 644;
  // Writes the coding table before the header.
  bool WriteTable = false;

 private:
  void WriteDataLine();
  bool FHeaderWritten = false;
};

class TNdXXEncoder : public TNdUUEncoder {
 public:
  TNdXXEncoder();
};

class TNdUUDecoder : public TNd3To4Coder {
 public:
  TNdUUDecoder();
  void CodeBuffer() override;
  void CodeRest() override;
  void Reset() override;
  void SetCodingTable(const std::string& Value) override;
  virtual void DecodeLine(const std::string& Line);

  int State() const { return FState; }
  int Privilege() const { return FPrivilege; }
  bool Error() const { return FError; }
  const std::vector<std::string>& Errors() const { return FErrors; }

 protected:
  std::string FDefaultTable;

 private:
  void AddError(const std::string& Message);
  void TakeLines(bool AtEnd);
  void BeginLine(const std::string& Line, std::size_t Pos);

  int FState = 0;
  int FPrivilege = 0;
  bool FError = false;
  bool FInData = false;
  bool FEnded = false;
  std::string FTableHalf;
  std::vector<std::string> FErrors;
};

class TNdXXDecoder : public TNdUUDecoder {
 public:
  TNdXXDecoder();
};

// One registered coder class.
struct TNdCoderItem {
  static constexpr std::uint8_t Encoder = 0;
  static constexpr std::uint8_t Decoder = 128;

  std::string ClassName;
  std::function<std::unique_ptr<TNdCoder>()> Create;
  std::uint8_t Direction = Encoder;
  std::uint8_t Priority = 0;
  std::string TransferEncoding;
  std::string ContentType;
};

class TNdCoderCollection {
 public:
  void Add(TNdCoderItem Item);
  int Count() const { return static_cast<int>(FItems.size()); }
  const TNdCoderItem& Items(int Index) const { return FItems.at(static_cast<std::size_t>(Index)); }
  // The item of highest priority for the encoding (compared without case)
  // and direction, or nullptr.
  const TNdCoderItem* Find(const std::string& TransferEncoding, std::uint8_t Direction) const;

 private:
  std::vector<TNdCoderItem> FItems;
};

// The registry of all coder classes, filled on first use.
TNdCoderCollection& NdCoders();

std::string Base64EncodeString(const std::string& s);

}  // namespace wn
