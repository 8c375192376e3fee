// The format registry (which file types exist, under which names and
// extensions), detection of a stream's or a file's type by its content, and
// the optional 12-byte header that frames an image inside a larger stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Preview true asks for the header fields only.
using TRvReadEntry = std::function<void(platform::TStream& Stream, TRvBitmap& Bitmap,
                                        TIOParamsVals& Params, TRvProgressRec& Progress,
                                        bool Preview)>;
using TRvWriteEntry = std::function<void(platform::TStream& Stream, TRvBitmap& Bitmap,
                                         TIOParamsVals& Params, TRvProgressRec& Progress)>;
// True when the stream at its current position holds the type.
using TRvProbeEntry = std::function<bool(platform::TStream& Stream)>;

// One registry record. An empty entry stands for a type that cannot be read,
// written or probed.
struct TRvFileFormatInfo {
  TRvFileType FileType = rvftUnknown;
  std::string Description; // at most 80 characters
  std::string Extensions;  // without dots, separated by ";", e.g. "TIF;TIFF"
  TRvReadEntry ReadEntry;
  TRvWriteEntry WriteEntry;
  TRvProbeEntry ProbeEntry;
};

inline constexpr std::size_t RvFormatTextLimit = 80;

// Appends a copy of Info (texts cut to 80 characters). A type registered
// twice is found by its first record.
void RvRegisterFileFormat(const TRvFileFormatInfo& Info);
// Records keep their address for the life of the process.
const TRvFileFormatInfo* RvFindFileFormatInfo(TRvFileType FileType);
// Ext without the dot, compared lower-cased; null when no record has it.
const TRvFileFormatInfo* RvFindFileFormatInfoByExt(const std::string& Ext);
// The Index-th (from 0) extension as stored; empty past the list's end or for
// an unknown type.
std::string RvFileFormatExtension(TRvFileType FileType, int Index);
int RvFileFormatExtensionCount(TRvFileType FileType);
// Number of records, and the Index-th in registration order (null outside).
int RvFileFormatCount();
const TRvFileFormatInfo* RvFileFormatInfo(int Index);

// The text after the last dot that follows the last path delimiter,
// lower-cased, without the dot; empty when there is none.
std::string RvExtractExtension(const std::string& FileName);

// The type held by the stream from its position, 0 when not recognised. The
// position is left where it was; nothing is raised.
TRvFileType RvFindStreamFormat(platform::TStream& Stream);
// The type of a file's content (0 when it cannot be opened). With
// VerifyExtension the name's extension must agree with the content (an icon
// or cursor takes the extension's type), else 0.
TRvFileType RvFindFileFormat(const std::string& FileName, bool VerifyExtension);
// What RvFindFileFormat answers with VerifyExtension for contents detected
// as Detected: the type, when the file's extension names it.
TRvFileType RvVerifyFileExtension(const std::string& FileName, TRvFileType Detected);

// Stream headers: a four-character tag ("JFIF", "TIFF", "PCX2"), four zero
// bytes and the length of the image data that follows, 32-bit little-endian.
inline constexpr std::int64_t RvStreamHeaderSize = 12;
inline constexpr const char* RvStreamTagJpeg = "JFIF";
inline constexpr const char* RvStreamTagTiff = "TIFF";
inline constexpr const char* RvStreamTagPcx = "PCX2";
// The older PCX header: "PCX" and a zero byte, no length.
inline constexpr std::int64_t RvOldPcxHeaderSize = 4;

struct TRvStreamHeader {
  std::string Tag;          // the first five bytes as text up to the first zero
  std::uint32_t Length = 0; // bytes of image data after the header
};

// Remembers the position, writes 12 placeholder bytes and answers the
// position for RvFinishStreamHeader.
std::int64_t RvBeginStreamHeader(platform::TStream& Stream);
// Writes the header at HeaderPos with the length of everything written since
// its placeholder and returns to the end. False (nothing rewritten) when the
// length does not fit the header's 32 bits.
bool RvFinishStreamHeader(platform::TStream& Stream, std::int64_t HeaderPos, const char* Tag);
// Reads 12 bytes at the position; false when fewer are there (the position
// is then back where it was).
bool RvReadStreamHeader(platform::TStream& Stream, TRvStreamHeader& Header);

} // namespace rv
