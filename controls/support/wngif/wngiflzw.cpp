#include "controls/support/wngif/wngiflzw.h"

#include <algorithm>
#include <array>
#include <vector>

namespace wn {

using platform::EInvalidGraphicOperation;

namespace {

constexpr int MaxCodes = 4096;
constexpr int HashSize = 17777;

// Walks the picture's rows in the frame's order and stores or fetches one
// pixel at a time.
template <int BitCount>
class TRowCursor {
public:
  TRowCursor(const TGIFPixelRows& Pixels, bool Interlaced)
      : FPixels(Pixels), FInterlaced(Interlaced), FDone(Pixels.Width <= 0 || Pixels.Height <= 0) {
    if (!FDone) FRow = Pixels.Row0;
  }
  bool Done() const { return FDone; }
  int Row() const { return FY; }

  void Put(int Value) {
    if constexpr (BitCount == 8) {
      FRow[FX] = static_cast<std::uint8_t>(Value);
    } else if constexpr (BitCount == 4) {
      FRow[FX >> 1] |= static_cast<std::uint8_t>((FX & 1) ? Value : Value << 4);
    } else {
      if (Value & 1) FRow[FX >> 3] |= static_cast<std::uint8_t>(0x80 >> (FX & 7));
    }
    Advance();
  }

  int Get() {
    int value;
    if constexpr (BitCount == 8) {
      value = FRow[FX];
    } else if constexpr (BitCount == 4) {
      value = (FX & 1) ? FRow[FX >> 1] & 15 : FRow[FX >> 1] >> 4;
    } else {
      value = (FRow[FX >> 3] >> (7 - (FX & 7))) & 1;
    }
    Advance();
    return value;
  }

  // True when the step finished a row.
  bool Advance() {
    if (++FX < FPixels.Width) return false;
    FX = 0;
    FY = FInterlaced ? NextInterlacedRow(FY, FPixels.Height) : FY + 1;
    if (FY >= FPixels.Height)
      FDone = true;
    else
      FRow = FPixels.Row0 + FY * FPixels.Stride;
    return true;
  }

private:
  const TGIFPixelRows& FPixels;
  bool FInterlaced;
  bool FDone;
  std::uint8_t* FRow = nullptr;
  int FX = 0;
  int FY = 0;
};

// Codes least significant bit first from the data sub-blocks; -1 once the
// data or its sub-blocks are exhausted.
class TCodeReader {
public:
  TCodeReader(const std::uint8_t* Data, std::int64_t Size, std::int64_t Start, const TGIFProgress& Progress)
      : FData(Data), FSize(Size), FPos(Start), FProgress(Progress) {}

  int Read(int CodeSize) {
    while (FBits < CodeSize) {
      if (FBlockLeft == 0 && !NextBlock()) return -1;
      if (FPos >= FSize) return -1;
      FAcc |= static_cast<std::uint32_t>(FData[FPos++]) << FBits;
      FBits += 8;
      --FBlockLeft;
    }
    const int code = static_cast<int>(FAcc & ((1u << CodeSize) - 1));
    FAcc >>= CodeSize;
    FBits -= CodeSize;
    return code;
  }

private:
  bool NextBlock() {
    if (FPos >= FSize) return false;
    FBlockLeft = FData[FPos++];
    if (FBlockLeft == 0) return false;
    if (FProgress) {
      const int percent = static_cast<int>(FPos * 100 / FSize);
      if (percent != FPercent) FProgress(platform::psRunning, FPercent = percent);
    }
    return true;
  }

  const std::uint8_t* FData;
  std::int64_t FSize;
  std::int64_t FPos;
  const TGIFProgress& FProgress;
  std::uint32_t FAcc = 0;
  int FBits = 0;
  int FBlockLeft = 0;
  int FPercent = -1;
};

template <int BitCount>
bool Decode(const std::uint8_t* Data, std::int64_t Size, bool Interlaced, const TGIFProgress& Progress,
            const TGIFPixelRows& Pixels, int FrameBits, bool Tolerant) {
  bool corrupted = false;
  int minSize = Size > 0 ? Data[0] : 0;
  if (minSize < 2 || minSize > 9) {
    if (!Tolerant) throw EInvalidGraphicOperation("GIF code size not in range 2 to 9");
    corrupted = true;
    minSize = std::clamp(minSize, 2, 9);
  }
  const int clear = 1 << minSize;
  const int end = clear + 1;
  const int firstFree = clear + 2;
  const int pixelMask = (1 << FrameBits) - 1;
  int codeSize = minSize + 1;
  int maxCode = 1 << codeSize;
  int nextFree = firstFree;

  // Zeroed, and filled only below nextFree: every walk stays on assigned
  // entries.
  std::array<std::uint16_t, MaxCodes> prefix{};
  std::array<std::uint8_t, MaxCodes> suffix{};
  std::array<std::uint8_t, MaxCodes + 1> stack;

  TRowCursor<BitCount> out(Pixels, Interlaced);
  TCodeReader reader(Data, Size, 1, Progress);
  // The old code is a literal or an assigned entry; -1 until the first code
  // of a run, which the data may begin without a clear code.
  int oldCode = -1;
  int firstChar = 0;
  while (!out.Done()) {
    int code = reader.Read(codeSize);
    if (code < 0 || code == end) break;
    if (code == clear) {
      codeSize = minSize + 1;
      maxCode = 1 << codeSize;
      nextFree = firstFree;
      oldCode = -1;
      continue;
    }
    if (oldCode < 0) {
      firstChar = code & pixelMask;
      out.Put(firstChar);
      // A code beyond the literals has no string yet: it stands for its pixel.
      oldCode = code < clear ? code : firstChar;
      continue;
    }
    const int inCode = code;
    const int freeBefore = nextFree;
    int sp = 0;
    if (code >= nextFree) {
      stack[sp++] = static_cast<std::uint8_t>(firstChar);
      code = oldCode;
    }
    // Every code below clear is one pixel, masked like the first code.
    while (code >= clear) {
      if (sp >= MaxCodes) {
        if (!Tolerant) throw EInvalidGraphicOperation("GIF encoded data is corrupt");
        corrupted = true;
        sp = -1;
        break;
      }
      stack[sp++] = suffix[code];
      code = prefix[code];
    }
    if (sp < 0) break;
    firstChar = code & pixelMask;
    stack[sp++] = static_cast<std::uint8_t>(firstChar);
    while (sp > 0 && !out.Done()) out.Put(stack[--sp]);
    if (nextFree < MaxCodes) {
      prefix[nextFree] = static_cast<std::uint16_t>(oldCode);
      suffix[nextFree] = static_cast<std::uint8_t>(firstChar);
      if (++nextFree >= maxCode && codeSize < 12) {
        ++codeSize;
        maxCode <<= 1;
      }
    }
    // A code past the table stood for the entry just added.
    oldCode = inCode >= freeBefore ? freeBefore : inCode;
  }
  return corrupted;
}

// Output of codes in sub-blocks of at most 255 bytes.
class TCodeWriter {
public:
  void Write(int Code, int CodeSize) {
    FAcc |= static_cast<std::uint32_t>(Code) << FBits;
    FBits += CodeSize;
    while (FBits >= 8) {
      FBlock[FCount++] = static_cast<std::uint8_t>(FAcc);
      FAcc >>= 8;
      FBits -= 8;
      if (FCount == 255) FlushBlock();
    }
  }
  void Finish() {
    if (FBits > 0) FBlock[FCount++] = static_cast<std::uint8_t>(FAcc);
    FBits = 0;
    if (FCount > 0) FlushBlock();
    FOut.push_back(0);
  }
  std::vector<std::uint8_t>& Out() { return FOut; }

private:
  void FlushBlock() {
    FOut.push_back(static_cast<std::uint8_t>(FCount));
    FOut.insert(FOut.end(), FBlock.begin(), FBlock.begin() + FCount);
    FCount = 0;
  }
  std::vector<std::uint8_t> FOut;
  std::array<std::uint8_t, 255> FBlock{};
  int FCount = 0;
  std::uint32_t FAcc = 0;
  int FBits = 0;
};

template <int BitCount>
void Encode(platform::TStream& Data, bool Interlaced, const TGIFProgress& Progress, const TGIFPixelRows& Pixels) {
  const int initial = BitCount == 1 ? 3 : BitCount + 1;
  const int clear = 1 << (initial - 1);
  const int end = clear + 1;
  const int firstFree = clear + 2;
  int codeSize = initial;
  int maxCode = 1 << initial;
  int nextCode = firstFree;

  struct TNode {
    std::int16_t Prefix = -1; // -1: empty slot
    std::uint8_t Suffix = 0;
    std::uint16_t Code = 0;
  };
  std::vector<TNode> table(HashSize);
  TCodeWriter writer;
  writer.Out().push_back(static_cast<std::uint8_t>(initial - 1));
  writer.Write(clear, codeSize);

  TRowCursor<BitCount> in(Pixels, Interlaced);
  int prefix = -1;
  int hash = 0;
  int length = 0;
  int rowsDone = 0, percent = -1;
  if (Progress) Progress(platform::psStarting, 0);
  while (!in.Done()) {
    const int row = in.Row();
    const int p = in.Get();
    if (in.Done() || in.Row() != row) {
      ++rowsDone;
      if (Progress) {
        const int now = static_cast<int>(std::int64_t{rowsDone} * 100 / Pixels.Height);
        if (now != percent) Progress(platform::psRunning, percent = now);
      }
    }
    if (prefix < 0) {
      prefix = p;
      hash = (p + 3) * 301;
      length = 1;
      continue;
    }
    ++length;
    hash = static_cast<int>((static_cast<std::int64_t>(p + length + 4) * hash) % HashSize);
    int slot = hash;
    while (table[static_cast<std::size_t>(slot)].Prefix >= 0) {
      const TNode& node = table[static_cast<std::size_t>(slot)];
      if (node.Prefix == prefix && node.Suffix == p) break;
      if (++slot == HashSize) slot = 0;
    }
    TNode& node = table[static_cast<std::size_t>(slot)];
    if (node.Prefix >= 0) {
      prefix = node.Code;
      continue;
    }
    writer.Write(prefix, codeSize);
    const int assigned = nextCode++;
    node.Prefix = static_cast<std::int16_t>(prefix);
    node.Suffix = static_cast<std::uint8_t>(p);
    node.Code = static_cast<std::uint16_t>(assigned);
    prefix = p;
    hash = (p + 3) * 301;
    length = 1;
    if (assigned == maxCode) {
      maxCode <<= 1;
      ++codeSize;
    } else if (assigned == MaxCodes - 2) {
      writer.Write(prefix, codeSize);
      writer.Write(clear, codeSize);
      std::fill(table.begin(), table.end(), TNode{});
      codeSize = initial;
      maxCode = 1 << initial;
      nextCode = firstFree;
      prefix = -1;
    }
  }
  if (prefix >= 0) writer.Write(prefix, codeSize);
  writer.Write(end, codeSize);
  writer.Finish();
  Data.WriteBuffer(writer.Out().data(), static_cast<std::int64_t>(writer.Out().size()));
  if (Progress) Progress(platform::psEnding, 100);
}

} // namespace

int NextInterlacedRow(int Row, int Height) {
  static constexpr int Start[4] = {0, 4, 2, 1};
  static constexpr int Step[4] = {8, 8, 4, 2};
  int pass = Row % 8 == 0 ? 0 : Row % 8 == 4 ? 1 : Row % 4 == 2 ? 2 : 3;
  int next = Row + Step[pass];
  while (next >= Height) {
    if (++pass > 3) return Height;
    next = Start[pass];
  }
  return next;
}

bool LzwDecode(const std::uint8_t* Data, std::int64_t Size, bool Interlaced, const TGIFProgress& Progress,
               const TGIFPixelRows& Pixels, int FrameBits, bool Tolerant) {
  if (Progress) Progress(platform::psStarting, 0);
  bool corrupted;
  switch (Pixels.BitCount) {
    case 1: corrupted = Decode<1>(Data, Size, Interlaced, Progress, Pixels, FrameBits, Tolerant); break;
    case 4: corrupted = Decode<4>(Data, Size, Interlaced, Progress, Pixels, FrameBits, Tolerant); break;
    default: corrupted = Decode<8>(Data, Size, Interlaced, Progress, Pixels, FrameBits, Tolerant); break;
  }
  if (Progress) Progress(platform::psEnding, 100);
  return corrupted;
}

void LzwEncode(platform::TStream& Data, bool Interlaced, const TGIFProgress& Progress, const TGIFPixelRows& Pixels) {
  switch (Pixels.BitCount) {
    case 1: Encode<1>(Data, Interlaced, Progress, Pixels); break;
    case 4: Encode<4>(Data, Interlaced, Progress, Pixels); break;
    default: Encode<8>(Data, Interlaced, Progress, Pixels); break;
  }
}

} // namespace wn
