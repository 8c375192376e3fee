// The TIFF reader: one page of a multi-page file, chosen by index, in either
// byte order, from strips or tiles, chunky or (8-bit RGB strips) planar,
// uncompressed, CCITT modified Huffman, T.4, T.6, LZW (through the pluggable
// decoder), old-style JPEG or PackBits, with the Exif private directory. The
// same reader parses the TIFF structure of an Exif block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// TIFF field types and their sizes in bytes (0 for an unknown type).
enum TTiffType : std::uint16_t {
  ttByte = 1,
  ttAscii = 2,
  ttShort = 3,
  ttLong = 4,
  ttRational = 5,
  ttSByte = 6,
  ttUndefined = 7,
  ttSShort = 8,
  ttSLong = 9,
  ttSRational = 10,
  ttFloat = 11,
  ttDouble = 12,
};
int TiffTypeSize(int Type);

struct TTiffEntry {
  std::uint16_t Tag = 0;
  std::uint16_t Type = 0;
  std::uint32_t Count = 0;
  std::uint8_t Value[4] = {}; // as stored: inline data or an offset
};

// One directory of a TIFF structure inside a stream. Offsets in the file are
// counted from Base; nothing is ever read outside the stream.
class TTiffDirectory {
public:
  TTiffDirectory(platform::TStream& Stream, std::int64_t Base, bool Intel);

  // Count bytes at Base + Offset; false when they are not all in the stream.
  bool ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const;
  std::uint16_t U16(const std::uint8_t* P) const;
  std::uint32_t U32(const std::uint8_t* P) const;

  // Loads the entry table at Offset; false when it is not whole in the stream.
  bool Load(std::uint32_t Offset);
  void Clear() { Entries.clear(); }

  int TiffFindTag(int Tag) const;
  // The first value of a BYTE, SHORT, LONG (or signed) tag, else Default.
  std::int64_t TiffGetTagInteger(int Tag, std::int64_t Default) const;
  // The first RATIONAL (denominator 0 taken as 1); 0 when absent.
  double TiffGetTagRational(int Tag) const { return TiffGetTagRationalN(Tag, 0); }
  double TiffGetTagRationalN(int Tag, int N) const;
  // Element N of an integer array, else Default.
  std::int64_t TiffGetTagArrayItem(int Tag, int N, std::int64_t Default) const;
  // The whole integer array; empty when absent or not in the stream.
  std::vector<std::uint32_t> TiffGetTagArray(int Tag) const;
  // The raw bytes of any tag; empty when absent or not in the stream.
  std::vector<std::uint8_t> TiffGetTagBytes(int Tag) const;
  // The text up to its first zero byte.
  std::string TiffGetTagText(int Tag) const;

  platform::TStream& Stream;
  std::int64_t Base;
  std::int64_t StreamSize;
  bool Intel;
  std::vector<TTiffEntry> Entries;

private:
  // Where the values of an entry lie (Base-relative), after checking that
  // Count x size bytes are in the stream; -1 when inline, -2 when not valid.
  std::int64_t DataOffset(const TTiffEntry& E) const;
  bool Element(const TTiffEntry& E, std::uint32_t Index, std::uint8_t* Out) const;
  std::int64_t IntegerAt(const TTiffEntry& E, std::uint32_t Index, bool& Ok) const;
};

// Reads page Params->TiffImageIndex into Bitmap and fills Params.
// ImageCount receives the number of directories in the chain. Embedded makes
// every offset relative to the stream position at the call. HeaderOnly fills
// only the parameters. A null Params reads nothing but the count. Failure is
// reported through the progress record's flag only.
void TiffReadStream(TRvBitmap& Bitmap, platform::TStream& Stream, int& ImageCount, bool NoAlpha,
                    bool Embedded, std::unique_ptr<TRvMask>& Mask, bool HeaderOnly,
                    TRvProgressRec& Progress, TIOParamsVals* Params);

// One row of PackBits from Data[Pos..Size): Count bytes decoded, the first
// Kept of them (all when Kept is negative) stored in Out; answers false when
// the data end first.
bool TiffPackBitsDecodeRow(const std::uint8_t* Data, std::int64_t Size, std::int64_t& Pos,
                           std::uint8_t* Out, std::int64_t Count, std::int64_t Kept = -1);

} // namespace rv
