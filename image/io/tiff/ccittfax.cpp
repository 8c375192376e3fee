#include "image/io/tiff/ccittfax.h"

#include "image/model/rvlists.h"
#include "platform/stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace rv {

namespace {

// The T.4 run-length codes, first bit left.
constexpr const char* kWhiteTerminating[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100"};

// Runs 64, 128, ... 1728.
constexpr const char* kWhiteMakeUp[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011"};

constexpr const char* kBlackTerminating[64] = {
    "0000110111",   "010",          "11",           "10",           "011",
    "0011",         "0010",         "00011",        "000101",       "000100",
    "0000100",      "0000101",      "0000111",      "00000100",     "00000111",
    "000011000",    "0000010111",   "0000011000",   "0000001000",   "00001100111",
    "00001101000",  "00001101100",  "00000110111",  "00000101000",  "00000010111",
    "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111",
    "000001101100", "000001101101", "000011011010", "000011011011", "000001010100",
    "000001010101", "000001010110", "000001010111", "000001100100", "000001100101",
    "000001010010", "000001010011", "000000100100", "000000110111", "000000111000",
    "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111"};

constexpr const char* kBlackMakeUp[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",
    "000000110100",  "000000110101",  "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101"};

// Runs 1792, 1856, ... 2560, shared by both colours.
constexpr const char* kExtendedMakeUp[13] = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111"};

constexpr int kEolIndex = 104;
constexpr int kCodeCount = 105;
constexpr int kMaxRunCode = 2560;

struct TFaxCode {
  std::uint8_t Length = 0;
  std::uint16_t Code = 0;
  std::int16_t Run = 0; // -3 for EOL
};

// Modes of two-dimensional coding, in the order of their table.
enum TFaxMode : std::uint8_t {
  fmNoCode,
  fmPass,
  fmHorizontal,
  fmVL3,
  fmVL2,
  fmVL1,
  fmV0,
  fmVR1,
  fmVR2,
  fmVR3,
  fmExt2D,
  fmExt1D,
  fmEol,
  fmUnknown
};

constexpr const char* kModeCodes[13] = {"000000000000", "0001",         "001",   "0000010",
                                        "000010",       "010",          "1",     "011",
                                        "000011",       "0000011",      "0000001111",
                                        "000000001111", "000000000001"};

constexpr int kRunLookupBits = 13;
constexpr int kModeLookupBits = 12;

struct TFaxLookup {
  std::uint8_t Length = 0; // 0: no code starts with these bits
  std::int16_t Run = 0;
};

struct TModeLookup {
  std::uint8_t Length = 0;
  TFaxMode Mode = fmUnknown;
};

TFaxCode ParseCode(const char* Bits, int Run) {
  TFaxCode c;
  for (const char* p = Bits; *p != '\0'; ++p) {
    c.Code = static_cast<std::uint16_t>((c.Code << 1) | (*p == '1' ? 1 : 0));
    ++c.Length;
  }
  c.Run = static_cast<std::int16_t>(Run);
  return c;
}

// Code tables per colour (index 0..63 terminating, 64..103 make-up, 104 EOL)
// and the decoding lookups built from them once.
struct TFaxTables {
  TFaxCode Codes[2][kCodeCount];
  TFaxLookup Runs[2][1 << kRunLookupBits];
  TModeLookup Modes[1 << kModeLookupBits];
  TFaxCode ModeCodes[13];

  TFaxTables() {
    for (int colour = 0; colour < 2; ++colour) {
      const char* const* term = colour == 0 ? kWhiteTerminating : kBlackTerminating;
      const char* const* makeUp = colour == 0 ? kWhiteMakeUp : kBlackMakeUp;
      for (int i = 0; i < 64; ++i) Codes[colour][i] = ParseCode(term[i], i);
      for (int i = 0; i < 27; ++i) Codes[colour][64 + i] = ParseCode(makeUp[i], (i + 1) * 64);
      for (int i = 0; i < 13; ++i) Codes[colour][91 + i] = ParseCode(kExtendedMakeUp[i], (i + 28) * 64);
      Codes[colour][kEolIndex] = ParseCode("000000000001", -3);
      for (int i = 0; i < kEolIndex; ++i) {
        const TFaxCode& c = Codes[colour][i];
        const int spare = kRunLookupBits - c.Length;
        const int base = c.Code << spare;
        for (int s = 0; s < (1 << spare); ++s) Runs[colour][base + s] = {c.Length, c.Run};
      }
    }
    for (int m = 0; m < 13; ++m) {
      ModeCodes[m] = ParseCode(kModeCodes[m], 0);
      const int spare = kModeLookupBits - ModeCodes[m].Length;
      const int base = ModeCodes[m].Code << spare;
      for (int s = 0; s < (1 << spare); ++s)
        Modes[base + s] = {ModeCodes[m].Length, static_cast<TFaxMode>(m)};
    }
  }
};

const TFaxTables& Tables() {
  static const TFaxTables tables;
  return tables;
}

constexpr int kWhite = 0;
constexpr int kBlack = 1;

// ---------------------------------------------------------------------------
// Bit access

std::uint64_t ReverseBitsInBytes(std::uint64_t w) {
  w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
  w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
  w = ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
  return w;
}

// Reads bits most significant first from a buffer of known size; bits past
// the end read as zero and are never fetched from memory. The next bits wait
// in a 64-bit accumulator, topped up a word at a time.
class TFaxBitReader {
public:
  TFaxBitReader(const std::uint8_t* Data, std::int64_t Size, int FillOrder, std::int64_t BitPos)
      : FData(Data), FSize(Data != nullptr && Size > 0 ? Size : 0), FReversed(FillOrder == 2) {
    FTotal = FSize * 8;
    SetPos(std::clamp<std::int64_t>(BitPos, 0, FTotal));
  }

  std::int64_t Pos() const { return FPos; }
  bool AtEnd() const { return FPos >= FTotal; }
  std::int64_t Left() const { return FTotal - FPos; }
  // Whether Count more bits exist.
  bool Has(int Count) const { return FPos + Count <= FTotal; }

  void SetPos(std::int64_t Pos) {
    FPos = std::min(Pos, FTotal);
    FNextByte = FPos >> 3;
    FAccum = 0;
    FAccumBits = 0;
    Refill();
    const int skip = static_cast<int>(FPos & 7);
    FAccum <<= skip;
    FAccumBits -= skip;
  }

  void Skip(int Count) {
    if (Count >= FAccumBits) {
      SetPos(FPos + Count);
      return;
    }
    FPos += Count;
    FAccum <<= Count;
    FAccumBits -= Count;
    if (FPos > FTotal) FPos = FTotal;
  }

  std::uint32_t Peek32() {
    if (FAccumBits < 32) Refill();
    return static_cast<std::uint32_t>(FAccum >> 32);
  }

private:
  void Refill() {
    if (FNextByte + 8 <= FSize) {
      std::uint64_t w;
      std::memcpy(&w, FData + FNextByte, 8);
      if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
      if (FReversed) w = ReverseBitsInBytes(w);
      // Whole bytes only (at most 7), so the count of valid bits stays exact.
      const int take = (63 - FAccumBits) >> 3;
      const std::uint64_t keep = w & ~(~std::uint64_t{0} >> (take * 8));
      FAccum |= keep >> FAccumBits;
      FNextByte += take;
      FAccumBits += take * 8;
      return;
    }
    while (FAccumBits <= 56) {
      std::uint64_t b = 0;
      if (FNextByte < FSize) {
        b = FData[FNextByte];
        if (FReversed) b = ReverseBitsInBytes(b) & 0xFFu;
      }
      // Past the end the accumulator fills with zero bits.
      ++FNextByte;
      FAccum |= b << (56 - FAccumBits);
      FAccumBits += 8;
    }
  }

  const std::uint8_t* FData;
  std::int64_t FSize;
  std::int64_t FTotal = 0;
  std::int64_t FPos = 0;
  std::int64_t FNextByte = 0;
  std::uint64_t FAccum = 0;
  int FAccumBits = 0;
  bool FReversed;
};

enum TRunKind { rkRun, rkEol, rkInvalid, rkEnd };

struct TRunCode {
  TRunKind Kind;
  int Length;
  int Run;
};

// The code at the reader's position, not consumed.
TRunCode PeekRunCode(TFaxBitReader& Reader, int Colour) {
  if (Reader.AtEnd()) return {rkEnd, 0, 0};
  const std::uint32_t bits = Reader.Peek32();
  const int zeros = bits == 0 ? 32 : std::countl_zero(bits);
  if (zeros >= 8) {
    // Only an EOL starts with eight zero bits: 11 zeros and a 1, behind up to
    // 20 fill zeros.
    if (zeros >= 11 && zeros <= 31) {
      if (!Reader.Has(zeros + 1)) return {rkEnd, 0, 0};
      return {rkEol, zeros + 1, 0};
    }
    return {rkInvalid, 1, 0};
  }
  const TFaxLookup& e = Tables().Runs[Colour][bits >> (32 - kRunLookupBits)];
  if (e.Length == 0) return {rkInvalid, 1, 0};
  if (!Reader.Has(e.Length)) return {rkEnd, 0, 0};
  return {rkRun, e.Length, e.Run};
}

// A whole run of one colour (make-up codes and their terminating code):
// answers the length, -1 at the data end, -2 at an EOL (left unread).
std::int64_t ReadRunLength(TFaxBitReader& Reader, int Colour) {
  std::int64_t total = 0;
  for (;;) {
    const TRunCode c = PeekRunCode(Reader, Colour);
    switch (c.Kind) {
    case rkEnd:
      return -1;
    case rkEol:
      return -2;
    case rkInvalid:
      Reader.Skip(1);
      continue;
    case rkRun:
      Reader.Skip(c.Length);
      total += c.Run;
      if (c.Run < 64) return total;
      continue;
    }
  }
}

// ---------------------------------------------------------------------------
// Row bits

// The first position at or after Start whose bit equals Bit, or Width.
int FindBit(const std::uint8_t* Row, int Start, int Width, int Bit) {
  if (Start >= Width) return Width;
  if (Start < 0) Start = 0;
  const std::size_t rowBytes = (static_cast<std::size_t>(Width) + 7) / 8;
  const std::uint8_t flip = Bit != 0 ? 0x00 : 0xFF;
  std::size_t byte = static_cast<std::size_t>(Start) >> 3;
  std::uint8_t b = static_cast<std::uint8_t>((Row[byte] ^ flip) & (0xFFu >> (Start & 7)));
  for (;;) {
    if (b != 0) {
      const int p = static_cast<int>(byte * 8) + std::countl_zero(b);
      return std::min(p, Width);
    }
    ++byte;
    const std::uint64_t flip64 = flip != 0 ? ~std::uint64_t{0} : 0;
    while (byte + 8 <= rowBytes) {
      std::uint64_t w;
      std::memcpy(&w, Row + byte, 8);
      if (w != flip64) break;
      byte += 8;
    }
    if (byte >= rowBytes) return Width;
    b = static_cast<std::uint8_t>(Row[byte] ^ flip);
  }
}

// Clears bits [From, To) of a row.
void ClearBits(std::uint8_t* Row, int From, int To) {
  if (From >= To) return;
  std::size_t first = static_cast<std::size_t>(From) >> 3;
  const std::size_t last = static_cast<std::size_t>(To - 1) >> 3;
  const std::uint8_t headMask = static_cast<std::uint8_t>(0xFFu >> (From & 7));
  const std::uint8_t tailMask = static_cast<std::uint8_t>(0xFFu << (7 - ((To - 1) & 7)));
  if (first == last) {
    Row[first] &= static_cast<std::uint8_t>(~(headMask & tailMask));
    return;
  }
  Row[first] &= static_cast<std::uint8_t>(~headMask);
  ++first;
  if (last > first) std::memset(Row + first, 0, last - first);
  Row[last] &= static_cast<std::uint8_t>(~tailMask);
}

std::size_t RowBytes(int Width) { return (static_cast<std::size_t>(Width) + 7) / 8; }

// Clears bits [From, To) of a decoded row that holds its first Shown pixels only.
void ClearShown(std::uint8_t* Row, std::int64_t From, std::int64_t To, int Shown) {
  if (From < Shown) ClearBits(Row, static_cast<int>(From), static_cast<int>(std::min<std::int64_t>(To, Shown)));
}

int ShownOf(int Shown, int Width) { return Shown < 0 || Shown > Width ? Width : Shown; }

// The changing elements b1 and b2 of the reference row for a0 and its
// colour; WhiteBit is the bit value of white in the row's convention.
void FindB1B2(const std::uint8_t* Ref, int A0, int Colour, int Width, int WhiteBit, int& B1, int& B2) {
  const int colourBit = Colour == kWhite ? WhiteBit : 1 - WhiteBit;
  const int oppositeBit = 1 - colourBit;
  const int start = A0 < 0 ? 0 : A0 + 1;
  if (start >= Width) {
    B1 = B2 = Width;
    return;
  }
  const int before = start == 0 ? WhiteBit : (Ref[(start - 1) >> 3] >> (7 - ((start - 1) & 7))) & 1;
  int p = start;
  // Inside a run of the opposite colour, b1 is the start of the next one.
  if (before == oppositeBit) p = FindBit(Ref, p, Width, colourBit);
  B1 = FindBit(Ref, p, Width, oppositeBit);
  B2 = FindBit(Ref, B1, Width, colourBit);
}

// b1 and b2 from the reference row's changes. Index only moves forward, as
// a0 never moves back, so a row costs one walk over its changes.
inline void NextB1B2(const int* Changes, int& Index, int A0, int Colour, int& B1, int& B2) {
  while (Changes[Index] <= A0) ++Index;
  // Even entries start black runs: a white a0 looks for one, a black a0 for
  // the start of white.
  const int i = (Index & 1) != Colour ? Index + 1 : Index;
  B1 = Changes[i];
  B2 = Changes[i + 1];
}

// ---------------------------------------------------------------------------
// Decoding

// Where a decoded row records its changing elements for the next row; null
// for rows no other row refers to.
struct TChangeSink {
  int* Changes = nullptr;
  int Count = 0;
  int Capacity = 0;
  bool Full() const { return Count + 2 > Capacity; }
  void Add(int Pos) {
    if (Changes != nullptr && Count < Capacity) Changes[Count++] = Pos;
  }
};

void Decode1D(std::uint8_t* Row, TFaxBitReader& Reader, int Width, int Shown, TChangeSink* Sink = nullptr) {
  std::memset(Row, 0xFF, RowBytes(Shown));
  std::int64_t pos = 0;
  int colour = kWhite;
  bool makeUpPending = false;
  bool started = false;
  while (pos < Width || makeUpPending) {
    const TRunCode c = PeekRunCode(Reader, colour);
    if (c.Kind == rkEnd) break;
    if (c.Kind == rkInvalid) {
      Reader.Skip(1);
      continue;
    }
    if (c.Kind == rkEol) {
      if (!started) {
        Reader.Skip(c.Length);
        continue;
      }
      if (colour == kBlack) ClearShown(Row, pos, Width, Shown);
      break;
    }
    Reader.Skip(c.Length);
    started = true;
    const std::int64_t end = pos + c.Run;
    if (colour == kBlack) ClearShown(Row, pos, end, Shown);
    pos = end;
    if (c.Run < 64) {
      if (Sink != nullptr) {
        if (Sink->Full()) break;
        Sink->Add(static_cast<int>(std::min<std::int64_t>(pos, Width)));
      }
      colour = 1 - colour;
      makeUpPending = false;
    } else {
      makeUpPending = true;
    }
  }
}

// Uncompressed mode: groups of zero bits each ended by a 1. Its pixels are
// left white. Answers false at the data end.
bool SkipUncompressed(TFaxBitReader& Reader, int& A0, int& Colour, int Width) {
  for (;;) {
    if (Reader.AtEnd()) return false;
    const std::uint32_t bits = Reader.Peek32();
    const int zeros = bits == 0 ? 32 : std::countl_zero(bits);
    const int length = zeros + 1;
    if (zeros >= 11 || !Reader.Has(length)) return Reader.Has(length);
    Reader.Skip(length);
    const int a0 = std::max(A0, 0);
    if (length <= 5) {
      A0 = std::min(a0 + length, Width);
    } else if (length == 6) {
      A0 = std::min(a0 + 5, Width);
    } else {
      A0 = std::min(a0 + length - 7, Width);
      if (!Reader.Has(1)) return false;
      Colour = (Reader.Peek32() >> 31) != 0 ? kBlack : kWhite;
      Reader.Skip(1);
      return true;
    }
  }
}

void Decode2D(std::uint8_t* Row, TFaxBitReader& Reader, bool FillBits, const int* changes,
              TChangeSink& Sink, int Width, int Shown) {
  std::memset(Row, 0xFF, RowBytes(Shown));
  const TFaxTables& tables = Tables();
  int changeIndex = 0;
  int a0 = -1;
  int colour = kWhite;
  // Every pass of this loop consumes at least one bit or ends the row, so
  // damaged data cannot keep it going past the data end.
  while (a0 < Width && !Reader.AtEnd()) {
    // Damaged data may code empty runs without end: the row stops when its
    // list of changes is full.
    if (Sink.Full()) break;
    const std::uint32_t bits = Reader.Peek32();
    const TModeLookup& m = tables.Modes[bits >> (32 - kModeLookupBits)];
    if (m.Length == 0 || m.Mode == fmUnknown) {
      if (!Reader.Has(kModeLookupBits)) break;
      Reader.Skip(kModeLookupBits);
      continue;
    }
    if (!Reader.Has(m.Length)) break;
    const int from = std::max(a0, 0);
    switch (m.Mode) {
    case fmNoCode: {
      const std::int64_t at = Reader.Pos();
      Reader.Skip(m.Length);
      if (!FillBits) break;
      while (!Reader.AtEnd() && Reader.Peek32() == 0) Reader.Skip(32);
      if (Reader.AtEnd()) return;
      const int zeros = std::countl_zero(Reader.Peek32());
      if (!Reader.Has(zeros + 1)) {
        Reader.Skip(zeros + 1);
        return;
      }
      Reader.Skip(zeros + 1);
      if (a0 >= 0) {
        // An EOL inside the row ends it and starts the next one.
        if (colour == kBlack) ClearShown(Row, from, Width, Shown);
        Reader.SetPos(at);
        return;
      }
      if (!Reader.Has(1)) return;
      const bool oneD = (Reader.Peek32() >> 31) != 0;
      Reader.Skip(1);
      if (oneD) {
        Sink.Count = 0;
        Decode1D(Row, Reader, Width, Shown, &Sink);
        return;
      }
      break;
    }
    case fmEol: {
      if (a0 >= 0) {
        if (colour == kBlack) ClearShown(Row, from, Width, Shown);
        return;
      }
      Reader.Skip(m.Length);
      if (!Reader.Has(1)) return;
      const bool oneD = (Reader.Peek32() >> 31) != 0;
      Reader.Skip(1);
      if (oneD) {
        Sink.Count = 0;
        Decode1D(Row, Reader, Width, Shown, &Sink);
        return;
      }
      break;
    }
    case fmPass: {
      Reader.Skip(m.Length);
      int b1, b2;
      NextB1B2(changes, changeIndex, a0, colour, b1, b2);
      if (colour == kBlack) ClearShown(Row, from, b2, Shown);
      a0 = b2;
      break;
    }
    case fmHorizontal: {
      Reader.Skip(m.Length);
      const std::int64_t run1 = ReadRunLength(Reader, colour);
      if (run1 < 0) {
        if (run1 == -2 && colour == kBlack) ClearShown(Row, from, Width, Shown);
        return;
      }
      const std::int64_t run2 = ReadRunLength(Reader, 1 - colour);
      const int a1 = static_cast<int>(std::min<std::int64_t>(from + run1, Width));
      if (run2 < 0) {
        if (colour == kBlack) ClearShown(Row, from, a1, Shown);
        return;
      }
      const int a2 = static_cast<int>(std::min<std::int64_t>(a1 + run2, Width));
      if (colour == kBlack) ClearShown(Row, from, a1, Shown);
      else ClearShown(Row, a1, a2, Shown);
      // Empty runs are changes too: the next row's b1 and b2 count them.
      Sink.Add(a1);
      Sink.Add(a2);
      a0 = a2;
      break;
    }
    case fmExt2D:
    case fmExt1D: {
      Reader.Skip(m.Length);
      const int before = colour;
      if (!SkipUncompressed(Reader, a0, colour, Width)) return;
      if (colour != before) Sink.Add(a0);
      break;
    }
    default: {
      Reader.Skip(m.Length);
      int b1, b2;
      NextB1B2(changes, changeIndex, a0, colour, b1, b2);
      // A damaged offset may point before a0 or past the row: keep a1 inside.
      const int a1 = std::clamp(b1 + static_cast<int>(m.Mode) - static_cast<int>(fmV0), from, Width);
      if (colour == kBlack) ClearShown(Row, from, a1, Shown);
      Sink.Add(a1);
      colour = 1 - colour;
      a0 = a1;
      break;
    }
    }
  }
}

// ---------------------------------------------------------------------------
// Encoding

class TFaxBitWriter {
public:
  TFaxBitWriter(int PendingBits, std::uint8_t PendingByte) {
    FBits = std::clamp(PendingBits, 0, 7);
    FAccum = static_cast<std::uint64_t>(PendingByte >> (8 - FBits)) & ((1u << FBits) - 1u);
  }

  void Put(std::uint32_t Code, int Length) {
    FAccum = (FAccum << Length) | Code;
    FBits += Length;
    while (FBits >= 8) {
      FBits -= 8;
      FOut.push_back(static_cast<std::uint8_t>(FAccum >> FBits));
    }
    FAccum &= (std::uint64_t{1} << FBits) - 1u;
  }
  void Put(const TFaxCode& C) { Put(C.Code, C.Length); }

  void PadToByte() {
    if (FBits > 0) Put(0, 8 - FBits);
  }

  void Flush(platform::TStream& Stream, TRvAbortFlag& Aborting) {
    if (!FOut.empty()) RvSafeStreamWrite(Stream, Aborting, FOut.data(), static_cast<std::int64_t>(FOut.size()));
    FOut.clear();
  }

  void Keep(int& PendingBits, std::uint8_t& PendingByte) const {
    PendingBits = FBits;
    PendingByte = static_cast<std::uint8_t>(FBits == 0 ? 0 : FAccum << (8 - FBits));
  }

private:
  std::vector<std::uint8_t> FOut;
  std::uint64_t FAccum = 0;
  int FBits = 0;
};

void PutRun(TFaxBitWriter& Writer, int Run, int Colour) {
  const TFaxCode* codes = Tables().Codes[Colour];
  while (Run > kMaxRunCode) {
    Writer.Put(codes[103]);
    Run -= kMaxRunCode;
  }
  if (Run >= 64) {
    Writer.Put(codes[64 + Run / 64 - 1]);
    Run %= 64;
  }
  Writer.Put(codes[Run]);
}

// Runs of a row in the encoders' convention (0 = white), starting white.
void PutRuns(TFaxBitWriter& Writer, const std::uint8_t* Row, int Width) {
  int pos = 0;
  int colour = kWhite;
  while (pos < Width) {
    const int next = FindBit(Row, pos, Width, colour == kWhite ? 1 : 0);
    PutRun(Writer, next - pos, colour);
    pos = next;
    colour = 1 - colour;
  }
}

void PutMode(TFaxBitWriter& Writer, TFaxMode Mode) { Writer.Put(Tables().ModeCodes[Mode]); }

void PutRow2D(TFaxBitWriter& Writer, const std::uint8_t* Row, const std::uint8_t* Ref, int Width) {
  int a0 = -1;
  int colour = kWhite;
  while (a0 < Width) {
    const int from = std::max(a0, 0);
    const int colourBit = colour == kWhite ? 0 : 1;
    const int a1 = FindBit(Row, a0 < 0 ? 0 : a0 + 1, Width, 1 - colourBit);
    int b1, b2;
    FindB1B2(Ref, a0, colour, Width, 0, b1, b2);
    if (b2 < a1) {
      PutMode(Writer, fmPass);
      a0 = b2;
    } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
      PutMode(Writer, static_cast<TFaxMode>(fmV0 + (a1 - b1)));
      a0 = a1;
      colour = 1 - colour;
    } else {
      const int a2 = FindBit(Row, a1, Width, colourBit);
      PutMode(Writer, fmHorizontal);
      PutRun(Writer, a1 - from, colour);
      PutRun(Writer, a2 - a1, 1 - colour);
      a0 = a2;
    }
  }
}

const TFaxCode& EolCode() { return Tables().Codes[kWhite][kEolIndex]; }

} // namespace

std::int64_t FaxDecodeRow1D(std::uint8_t* Row, const std::uint8_t* Data, std::int64_t DataSize,
                            int Width, int FillOrder, std::int64_t BitPos, int Shown) {
  if (Row == nullptr || Width <= 0) return BitPos;
  TFaxBitReader reader(Data, DataSize, FillOrder, BitPos);
  Decode1D(Row, reader, Width, ShownOf(Shown, Width));
  return reader.Pos();
}

std::int64_t FaxDecodeRowMH(std::uint8_t* Row, const std::uint8_t* Data, std::int64_t DataSize,
                            int Width, int FillOrder, int Shown) {
  const std::int64_t bits = FaxDecodeRow1D(Row, Data, DataSize, Width, FillOrder, 0, Shown);
  return (bits + 7) / 8;
}

void TFaxRefRow::Reset(int Width) {
  FWidth = Width;
  FChanges.assign(3, Width);
}

std::int64_t FaxDecodeRow2D(std::uint8_t* Row, const std::uint8_t* Data, std::int64_t DataSize,
                            bool FillBits, int FillOrder, std::int64_t BitPos, TFaxRefRow& RefRow,
                            int Width, int Shown) {
  if (Row == nullptr || Width <= 0) return BitPos;
  if (RefRow.FWidth != Width) RefRow.Reset(Width);
  TFaxBitReader reader(Data, DataSize, FillOrder, BitPos);
  // Room for the changes of a full row, or for one per bit left when that is
  // fewer: no row can code more, so a wide row of few bytes stays small.
  const std::int64_t capacity =
      std::min({std::int64_t{Width} * 2 + 8, reader.Left() + 8, std::int64_t{INT32_MAX} - 8});
  if (RefRow.FNext.size() < static_cast<std::size_t>(capacity) + 3)
    RefRow.FNext.resize(static_cast<std::size_t>(capacity) + 3);
  TChangeSink sink{RefRow.FNext.data(), 0, static_cast<int>(capacity)};
  Decode2D(Row, reader, FillBits, RefRow.FChanges.data(), sink, Width, ShownOf(Shown, Width));
  // b1 and b2 always exist.
  std::fill_n(RefRow.FNext.begin() + sink.Count, 3, Width);
  RefRow.FChanges.swap(RefRow.FNext);
  return reader.Pos();
}

void FaxEncodeRowMH(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting) {
  if (Row == nullptr || Width <= 0) return;
  TFaxBitWriter writer(0, 0);
  PutRuns(writer, Row, Width);
  writer.PadToByte();
  writer.Flush(Stream, Aborting);
}

void FaxEncodeRow1D(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting, int& PendingBits, std::uint8_t& PendingByte) {
  TFaxBitWriter writer(PendingBits, PendingByte);
  if (Row == nullptr) {
    writer.PadToByte();
  } else if (Width > 0) {
    // T.4 readers find each row by its EOL.
    writer.Put(EolCode());
    PutRuns(writer, Row, Width);
  }
  writer.Flush(Stream, Aborting);
  writer.Keep(PendingBits, PendingByte);
}

void FaxEncodeRowG3(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting, std::vector<std::uint8_t>& RefRow, int& PendingBits,
                    std::uint8_t& PendingByte) {
  TFaxBitWriter writer(PendingBits, PendingByte);
  if (Row == nullptr) {
    writer.Put(EolCode());
    // The last bits of the page would otherwise never reach the stream.
    writer.PadToByte();
    RefRow.clear();
    RefRow.shrink_to_fit();
  } else if (Width > 0) {
    const std::size_t bytes = RowBytes(Width);
    writer.Put(EolCode());
    if (RefRow.size() != bytes) {
      writer.Put(1, 1);
      PutRuns(writer, Row, Width);
    } else {
      writer.Put(0, 1);
      PutRow2D(writer, Row, RefRow.data(), Width);
    }
    RefRow.assign(Row, Row + bytes);
  }
  writer.Flush(Stream, Aborting);
  writer.Keep(PendingBits, PendingByte);
}

void FaxEncodeRowG4(const std::uint8_t* Row, int Width, platform::TStream& Stream,
                    TRvAbortFlag& Aborting, std::vector<std::uint8_t>& RefRow, int& PendingBits,
                    std::uint8_t& PendingByte) {
  TFaxBitWriter writer(PendingBits, PendingByte);
  if (Row == nullptr) {
    writer.Put(EolCode());
    writer.Put(EolCode());
    writer.PadToByte();
    RefRow.clear();
    RefRow.shrink_to_fit();
  } else if (Width > 0) {
    const std::size_t bytes = RowBytes(Width);
    if (RefRow.size() != bytes) RefRow.assign(bytes, 0);
    PutRow2D(writer, Row, RefRow.data(), Width);
    RefRow.assign(Row, Row + bytes);
  }
  writer.Flush(Stream, Aborting);
  writer.Keep(PendingBits, PendingByte);
}

} // namespace rv
