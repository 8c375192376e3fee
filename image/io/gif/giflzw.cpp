#include "image/io/gif/giflzw.h"

#include "platform/stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace rv {

namespace {

constexpr int kMaxBits = 12;
constexpr int kMaxCodes = 1 << kMaxBits;
// Zero bytes after the gathered data, so a code is always fetched with one
// 32-bit load.
constexpr std::size_t kTailPadding = 4;

// Where decoded indices go: row by row, in file order or the GIF interlace
// order, dropping whatever comes after the last row.
class TGifPixelSink {
public:
  TGifPixelSink(std::uint8_t* Pixels, int Width, int Height, bool Interlaced)
      : FPixels(Pixels), FWidth(Width), FHeight(Height), FInterlaced(Interlaced) {
    FDone = Pixels == nullptr || Width <= 0 || Height <= 0;
    if (!FDone) FRowPtr = FPixels;
  }

  bool Done() const { return FDone; }
  int Room() const { return FWidth - FColumn; }
  std::uint8_t* Cursor() const { return FRowPtr + FColumn; }

  // Count never exceeds Room().
  void Advance(int Count) {
    FColumn += Count;
    if (FColumn >= FWidth) NextRow();
  }

  void Put(const std::uint8_t* Bytes, int Count) {
    while (Count > 0 && !FDone) {
      const int n = std::min(Count, Room());
      std::memcpy(Cursor(), Bytes, static_cast<std::size_t>(n));
      Bytes += n;
      Count -= n;
      Advance(n);
    }
  }

private:
  void NextRow() {
    FColumn = 0;
    if (!FInterlaced) {
      ++FRow;
    } else {
      FRow += FStep;
      while (FRow >= FHeight) {
        ++FPass;
        // After the fourth pass every row is written; starting again at row 0
        // would let surplus codes overwrite the top of the picture.
        if (FPass == 4) {
          FDone = true;
          return;
        }
        if (FPass >= 2) FStep /= 2;
        FRow = FStep / 2;
      }
    }
    if (FRow >= FHeight) {
      FDone = true;
      return;
    }
    FRowPtr = FPixels + static_cast<std::size_t>(FRow) * static_cast<std::size_t>(FWidth);
  }

  std::uint8_t* FPixels;
  std::uint8_t* FRowPtr = nullptr;
  int FWidth;
  int FHeight;
  bool FInterlaced;
  bool FDone = false;
  int FRow = 0;
  int FColumn = 0;
  int FPass = 0;
  int FStep = 8;
};

// Gathers the data sub-blocks behind the code-size byte: one stream read per
// sub-block, which also fetches the next length byte.
void GatherSubBlocks(platform::TStream& Stream, std::vector<std::uint8_t>& Data) {
  std::uint8_t length = 0;
  if (Stream.Read(&length, 1) != 1) return;
  while (length != 0) {
    const std::size_t old = Data.size();
    Data.resize(old + length + 1u);
    const std::int64_t got = Stream.Read(Data.data() + old, length + 1);
    if (got < length + 1) {
      Data.resize(old + static_cast<std::size_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(got, length))));
      return;
    }
    const std::uint8_t next = Data[old + length];
    Data.resize(old + length);
    length = next;
  }
}

struct TGifDecoderTables {
  std::uint16_t Prefix[kMaxCodes];
  std::uint8_t Suffix[kMaxCodes];
  std::uint8_t First[kMaxCodes];
  std::uint16_t Length[kMaxCodes];
  std::uint8_t Stack[kMaxCodes];
};

// Answers false on corrupt data.
bool DecodeCodes(const std::vector<std::uint8_t>& Data, std::size_t DataSize, int RootSize,
                 TGifPixelSink& Sink) {
  auto tables = std::make_unique<TGifDecoderTables>();
  TGifDecoderTables& t = *tables;
  const int clearCode = 1 << RootSize;
  const int endCode = clearCode + 1;
  for (int i = 0; i < clearCode; ++i) {
    t.Suffix[i] = static_cast<std::uint8_t>(i);
    t.First[i] = static_cast<std::uint8_t>(i);
    t.Length[i] = 1;
  }

  const std::uint8_t* bytes = Data.data();
  const std::uint64_t totalBits = static_cast<std::uint64_t>(DataSize) * 8u;
  std::uint64_t bitPos = 0;

  int codeWidth = 0;
  std::uint32_t codeMask = 0;
  int widthLimit = 0;
  int nextFree = 0;
  int previous = -1;
  bool tableFull = false;
  auto reset = [&] {
    codeWidth = RootSize + 1;
    codeMask = (1u << codeWidth) - 1u;
    widthLimit = 1 << codeWidth;
    nextFree = endCode + 1;
    previous = -1;
    tableFull = false;
  };

  auto putString = [&](int Code) {
    if (Sink.Done()) return;
    const int length = t.Length[Code];
    if (length <= Sink.Room()) {
      // The string fits the current row: write it back to front in place.
      std::uint8_t* p = Sink.Cursor();
      int c = Code;
      for (int i = length - 1; i > 0; --i) {
        p[i] = t.Suffix[c];
        c = t.Prefix[c];
      }
      p[0] = t.First[Code];
      Sink.Advance(length);
      return;
    }
    int c = Code;
    for (int i = length - 1; i > 0; --i) {
      t.Stack[i] = t.Suffix[c];
      c = t.Prefix[c];
    }
    t.Stack[0] = t.First[Code];
    Sink.Put(t.Stack, length);
  };

  auto addEntry = [&](int Prefix, std::uint8_t Suffix) {
    t.Prefix[nextFree] = static_cast<std::uint16_t>(Prefix);
    t.Suffix[nextFree] = Suffix;
    t.First[nextFree] = t.First[Prefix];
    t.Length[nextFree] = static_cast<std::uint16_t>(t.Length[Prefix] + 1);
    ++nextFree;
    if (nextFree >= widthLimit) {
      if (codeWidth < kMaxBits) {
        ++codeWidth;
        codeMask = (1u << codeWidth) - 1u;
        widthLimit <<= 1;
      } else {
        tableFull = true;
      }
    }
  };

  reset();
  for (;;) {
    if (bitPos + static_cast<std::uint64_t>(codeWidth) > totalBits) return true;
    std::uint32_t window;
    std::memcpy(&window, bytes + (bitPos >> 3), 4);
    if constexpr (std::endian::native == std::endian::big) window = __builtin_bswap32(window);
    const int code = static_cast<int>((window >> (bitPos & 7u)) & codeMask);
    bitPos += static_cast<std::uint64_t>(codeWidth);

    if (code == clearCode) {
      reset();
      continue;
    }
    if (code == endCode) {
      if (previous < 0) return (bitPos + 7u) / 8u >= DataSize;
      return true;
    }
    if (previous < 0) {
      const int literal = code < nextFree ? code : 0;
      putString(literal);
      previous = literal;
      continue;
    }
    if (tableFull) {
      // A full table that goes on coding (a deferred clear) is legal GIF:
      // its codes are decoded with the table as it stands.
      putString(code);
      previous = code;
      continue;
    }
    if (code < nextFree) {
      putString(code);
      addEntry(previous, t.First[code]);
    } else if (code == nextFree) {
      addEntry(previous, t.First[previous]);
      putString(code);
    } else {
      return false;
    }
    previous = code;
  }
}

} // namespace

void GifLzwDecompress(platform::TStream& Stream, int Height, int Width, std::uint8_t* Pixels,
                      bool Interlaced) {
  const std::int64_t start = Stream.Position();
  std::uint8_t rootSize = 0;
  if (Stream.Read(&rootSize, 1) != 1 || rootSize < 2 || rootSize > 9) {
    Stream.SetPosition(start);
    return;
  }
  std::vector<std::uint8_t> data;
  GatherSubBlocks(Stream, data);
  const std::size_t dataSize = data.size();
  data.resize(dataSize + kTailPadding, 0);

  TGifPixelSink sink(Pixels, Width, Height, Interlaced);
  if (!DecodeCodes(data, dataSize, rootSize, sink)) Stream.SetPosition(start);
}

namespace {

constexpr int kHashSize = 5003; // a prime a little above 4,096 x 1.2
constexpr int kBlockSize = 254;

struct TGifLzwEncoder {
  platform::TStream* Stream = nullptr;
  int InitBits = 0;
  int NBits = 0;
  int MaxCode = 0;
  int ClearCode = 0;
  int EndCode = 0;
  int FreeEnt = 0;
  bool ClearFlag = false;
  int HashShift = 0;
  std::int32_t HashTab[kHashSize];
  std::uint16_t CodeTab[kHashSize];
  std::uint32_t Accum = 0;
  int AccumBits = 0;
  // Length byte in front of the block's bytes.
  std::uint8_t Block[kBlockSize + 1];
  int BlockCount = 0;

  void ClearHash() { std::fill(std::begin(HashTab), std::end(HashTab), -1); }

  void FlushBlock() {
    if (BlockCount == 0) return;
    Block[0] = static_cast<std::uint8_t>(BlockCount);
    Stream->Write(Block, BlockCount + 1);
    BlockCount = 0;
  }

  void PutByte(std::uint8_t B) {
    Block[1 + BlockCount++] = B;
    if (BlockCount >= kBlockSize) FlushBlock();
  }

  void Output(int Code) {
    Accum |= static_cast<std::uint32_t>(Code) << AccumBits;
    AccumBits += NBits;
    while (AccumBits >= 8) {
      PutByte(static_cast<std::uint8_t>(Accum & 0xFFu));
      Accum >>= 8;
      AccumBits -= 8;
    }
    if (FreeEnt > MaxCode || ClearFlag) {
      if (ClearFlag) {
        NBits = InitBits;
        MaxCode = (1 << NBits) - 1;
        ClearFlag = false;
      } else {
        ++NBits;
        MaxCode = NBits == kMaxBits ? kMaxCodes : (1 << NBits) - 1;
      }
    }
    if (Code == EndCode) {
      while (AccumBits > 0) {
        PutByte(static_cast<std::uint8_t>(Accum & 0xFFu));
        Accum >>= 8;
        AccumBits -= 8;
      }
      AccumBits = 0;
      FlushBlock();
    }
  }
};

std::vector<int> GifRowOrder(int Height, bool Interlaced) {
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(Height));
  if (!Interlaced) {
    for (int y = 0; y < Height; ++y) rows.push_back(y);
    return rows;
  }
  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kStart[pass]; y < Height; y += kStep[pass]) rows.push_back(y);
  return rows;
}

} // namespace

void GifLzwCompress(platform::TStream& Stream, int Height, int Width, int BitsPerPixel,
                    const std::uint8_t* Pixels, bool Interlaced) {
  // GIF has no code size above 8; a larger one would make a stream no reader
  // accepts.
  const int codeSize = std::clamp(BitsPerPixel, 2, 8);
  const std::uint8_t sizeByte = static_cast<std::uint8_t>(codeSize);
  Stream.Write(&sizeByte, 1);

  auto e = std::make_unique<TGifLzwEncoder>();
  e->Stream = &Stream;
  e->InitBits = codeSize + 1;
  e->NBits = e->InitBits;
  e->MaxCode = (1 << e->NBits) - 1;
  e->ClearCode = 1 << codeSize;
  e->EndCode = e->ClearCode + 1;
  e->FreeEnt = e->ClearCode + 2;
  int doublings = 0;
  for (long f = kHashSize; f < 65536; f *= 2) ++doublings;
  e->HashShift = 8 - doublings;
  // An index at or above the clear code would be read back as a control code.
  const int pixelMask = e->ClearCode - 1;

  const bool hasPixels = Pixels != nullptr && Width > 0 && Height > 0;
  e->ClearHash();
  if (!hasPixels) {
    e->Output(e->ClearCode);
    e->Output(e->EndCode);
  } else {
    const std::vector<int> rows = GifRowOrder(Height, Interlaced);
    const std::size_t width = static_cast<std::size_t>(Width);
    int ent = Pixels[static_cast<std::size_t>(rows[0]) * width] & pixelMask;
    e->Output(e->ClearCode);
    bool first = true;
    for (int row : rows) {
      const std::uint8_t* p = Pixels + static_cast<std::size_t>(row) * width;
      for (std::size_t x = first ? 1 : 0; x < width; ++x) {
        const int c = p[x] & pixelMask;
        const std::int32_t key = (c << kMaxBits) + ent;
        int i = (c << e->HashShift) ^ ent;
        if (e->HashTab[i] == key) {
          ent = e->CodeTab[i];
          continue;
        }
        if (e->HashTab[i] >= 0) {
          const int disp = i == 0 ? 1 : kHashSize - i;
          bool found = false;
          do {
            i -= disp;
            if (i < 0) i += kHashSize;
            if (e->HashTab[i] == key) {
              ent = e->CodeTab[i];
              found = true;
              break;
            }
          } while (e->HashTab[i] >= 0);
          if (found) continue;
        }
        e->Output(ent);
        ent = c;
        if (e->FreeEnt < kMaxCodes) {
          e->CodeTab[i] = static_cast<std::uint16_t>(e->FreeEnt++);
          e->HashTab[i] = key;
        } else {
          e->ClearHash();
          e->FreeEnt = e->ClearCode + 2;
          e->ClearFlag = true;
          e->Output(e->ClearCode);
        }
      }
      first = false;
    }
    e->Output(ent);
    e->Output(e->EndCode);
  }
  const std::uint8_t terminator = 0;
  Stream.Write(&terminator, 1);
}

} // namespace rv
