#include "image/io/tiff/tifflzw.h"

#include "platform/stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace rv {

namespace {

constexpr int kClearCode = 256;
constexpr int kEndCode = 257;
constexpr int kFirstFree = 258;
constexpr int kMinBits = 9;
constexpr int kMaxBits = 12;
constexpr int kTableSize = 1 << kMaxBits;

struct TTiffLzwDecoder {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::uint64_t BitPos = 0;
  std::uint64_t TotalBits = 0;
  int RowSize = 0;
  int CodeWidth = kMinBits;
  int NextFree = kFirstFree;
  int Previous = -1;
  bool Error = false;
  bool Ended = false;
  std::uint16_t Prefix[kTableSize];
  std::uint8_t Suffix[kTableSize];
  std::uint8_t First[kTableSize];
  std::uint16_t Length[kTableSize];
  // Where each string was last decoded, counted from the start of the strip:
  // while those bytes are still buffered the string is copied from there.
  std::uint64_t Start[kTableSize];
  std::uint64_t PreviousStart = 0;
  // Decoded bytes: the row handed out next starts at ReadPos. Room for at
  // least one row plus the longest string the table can hold is kept free
  // behind Filled, so a row is always completed in place.
  std::vector<std::uint8_t> Buffer;
  std::size_t ReadPos = 0;
  std::size_t Filled = 0;
  std::uint64_t BufferBase = 0; // strip offset of Buffer[0]

  void MakeRoom() {
    const std::size_t rowSize = static_cast<std::size_t>(RowSize);
    if (Filled + rowSize + kTableSize <= Buffer.size()) return;
    const std::size_t keep = Filled - ReadPos;
    std::memmove(Buffer.data(), Buffer.data() + ReadPos, keep);
    BufferBase += ReadPos;
    ReadPos = 0;
    Filled = keep;
  }

  // Decodes until a row is buffered, the data end or an error. The state is
  // worked on in locals: stores into the byte buffer could otherwise alias it.
  void FillRow() {
    const std::size_t wanted = ReadPos + static_cast<std::size_t>(RowSize);
    std::uint8_t* const buffer = Buffer.data();
    const std::uint8_t* const data = Data;
    const std::size_t size = Size;
    const std::uint64_t totalBits = TotalBits;
    const std::uint64_t base = BufferBase;
    std::uint64_t bitPos = BitPos;
    std::size_t filled = Filled;
    int codeWidth = CodeWidth;
    int nextFree = NextFree;
    int previous = Previous;
    std::uint64_t previousStart = PreviousStart;
    std::uint16_t* const prefix = Prefix;
    std::uint8_t* const suffix = Suffix;
    std::uint8_t* const first = First;
    std::uint16_t* const length = Length;
    std::uint64_t* const start = Start;
    bool error = false;

    while (filled < wanted) {
      if (bitPos + static_cast<std::uint64_t>(codeWidth) > totalBits) {
        Ended = true;
        break;
      }
      const std::size_t byte = static_cast<std::size_t>(bitPos >> 3);
      std::uint32_t window;
      if (byte + 4 <= size) {
        std::memcpy(&window, data + byte, 4);
        if constexpr (std::endian::native == std::endian::little) window = __builtin_bswap32(window);
      } else {
        window = 0;
        for (std::size_t i = 0; byte + i < size; ++i) window |= std::uint32_t{data[byte + i]} << (24 - 8 * i);
      }
      const int code = static_cast<int>((window << (bitPos & 7u)) >> (32 - codeWidth));
      bitPos += static_cast<std::uint64_t>(codeWidth);

      if (code < kClearCode && previous < 0) {
        // The first code of a stream or after a clear is a literal; a stream
        // that does not start with a clear code is read as if it did.
        previousStart = base + filled;
        buffer[filled++] = static_cast<std::uint8_t>(code);
        previous = code;
        continue;
      }
      if (code == kClearCode) {
        codeWidth = kMinBits;
        nextFree = kFirstFree;
        previous = -1;
        continue;
      }
      if (code == kEndCode) {
        Ended = true;
        break;
      }
      // The table holds 4,096 entries; a stream that needs more is corrupt.
      if (previous < 0 || code > nextFree || nextFree >= kTableSize) {
        error = true;
        break;
      }
      const int stringCode = code < nextFree ? code : nextFree;
      prefix[nextFree] = static_cast<std::uint16_t>(previous);
      suffix[nextFree] = code < nextFree ? first[code] : first[previous];
      first[nextFree] = first[previous];
      length[nextFree] = static_cast<std::uint16_t>(length[previous] + 1);
      start[nextFree] = previousStart;
      ++nextFree;
      if (nextFree == (1 << codeWidth) - 1 && codeWidth < kMaxBits) ++codeWidth;

      const std::uint64_t here = base + filled;
      std::uint8_t* p = buffer + filled;
      if (stringCode < kClearCode) {
        *p = static_cast<std::uint8_t>(stringCode);
        filled += 1;
      } else {
        const std::size_t n = length[stringCode];
        const std::uint64_t from = start[stringCode];
        if (from >= base) {
          // Still buffered: copy forward (the source may run into the
          // bytes being written, as a string that repeats itself does).
          // Copies may run up to 15 bytes past the string: the buffer keeps
          // a table's worth of room behind Filled.
          const std::uint8_t* q = buffer + (from - base);
          const std::size_t distance = static_cast<std::size_t>(p - q);
          if (distance >= 16 && n <= 16) {
            std::memcpy(p, q, 16);
          } else if (distance >= n) {
            std::memcpy(p, q, n);
          } else if (distance >= 8) {
            for (std::size_t i = 0; i < n; i += 8) std::memcpy(p + i, q + i, 8);
          } else {
            for (std::size_t i = 0; i < n; ++i) p[i] = q[i];
          }
        } else {
          int c = stringCode;
          for (std::size_t i = n - 1; i > 0; --i) {
            p[i] = suffix[c];
            c = prefix[c];
          }
          p[0] = first[stringCode];
        }
        start[stringCode] = here;
        filled += n;
      }
      previousStart = here;
      previous = code;
    }

    BitPos = bitPos;
    Filled = filled;
    CodeWidth = codeWidth;
    NextFree = nextFree;
    Previous = previous;
    PreviousStart = previousStart;
    if (error) Error = true;
  }
};

} // namespace

std::uint8_t* TiffLzwDecompress(const std::uint8_t* Data, std::size_t DataSize, int RowSize,
                                void*& State) {
  auto* d = static_cast<TTiffLzwDecoder*>(State);
  if (Data == nullptr) {
    delete d;
    State = nullptr;
    return nullptr;
  }
  if (d == nullptr) {
    if (RowSize <= 0) return nullptr;
    d = new TTiffLzwDecoder;
    d->Data = Data;
    d->Size = DataSize;
    d->TotalBits = static_cast<std::uint64_t>(DataSize) * 8u;
    d->RowSize = RowSize;
    const std::size_t rowSize = static_cast<std::size_t>(RowSize);
    d->Buffer.resize(std::max<std::size_t>(rowSize * 4, 1 << 16) + rowSize + kTableSize);
    for (int i = 0; i < kClearCode; ++i) {
      d->Suffix[i] = static_cast<std::uint8_t>(i);
      d->First[i] = static_cast<std::uint8_t>(i);
      d->Length[i] = 1;
    }
    State = d;
  } else if (d->Filled - d->ReadPos >= static_cast<std::size_t>(d->RowSize)) {
    d->ReadPos += static_cast<std::size_t>(d->RowSize);
  }
  if (d->Error) return nullptr;

  const std::size_t rowSize = static_cast<std::size_t>(d->RowSize);
  d->MakeRoom();
  if (!d->Ended) d->FillRow();
  const std::size_t have = d->Filled - d->ReadPos;
  if (d->Error || have == 0) return nullptr;
  if (have < rowSize) {
    std::fill(d->Buffer.begin() + static_cast<std::ptrdiff_t>(d->Filled),
              d->Buffer.begin() + static_cast<std::ptrdiff_t>(d->ReadPos + rowSize), std::uint8_t{0});
    d->Filled = d->ReadPos + rowSize;
  }
  return d->Buffer.data() + d->ReadPos;
}

namespace {

constexpr int kHashSize = 5003;
constexpr int kHashShift = 4;
constexpr int kBlockSize = 254;
// The clear code goes out before the table reaches 4,094 entries, so no
// code ever needs 13 bits.
constexpr int kLastFree = 4094;

struct TTiffLzwEncoder {
  platform::TStream* Stream = nullptr;
  int NBits = kMinBits;
  int MaxCode = (1 << kMinBits) - 1;
  int FreeEnt = kFirstFree;
  bool ClearFlag = false;
  int Prefix = -1;
  std::int32_t HashTab[kHashSize];
  std::uint16_t CodeTab[kHashSize];
  std::uint64_t Accum = 0;
  int AccumBits = 0;
  std::uint8_t Block[kBlockSize];
  int BlockCount = 0;

  void ClearHash() { std::fill(std::begin(HashTab), std::end(HashTab), -1); }

  void FlushBlock() {
    if (BlockCount > 0 && Stream != nullptr) Stream->Write(Block, BlockCount);
    BlockCount = 0;
  }

  void PutByte(std::uint8_t B) {
    Block[BlockCount++] = B;
    if (BlockCount >= kBlockSize) FlushBlock();
  }

  void Output(int Code) {
    Accum = (Accum << NBits) | static_cast<std::uint64_t>(Code);
    AccumBits += NBits;
    while (AccumBits >= 8) {
      AccumBits -= 8;
      PutByte(static_cast<std::uint8_t>(Accum >> AccumBits));
    }
    Accum &= (std::uint64_t{1} << AccumBits) - 1u;
    if (ClearFlag) {
      NBits = kMinBits;
      MaxCode = (1 << kMinBits) - 1;
      ClearFlag = false;
    } else if (FreeEnt > MaxCode - 1 && NBits < kMaxBits) {
      ++NBits;
      MaxCode = (1 << NBits) - 1;
    }
  }

  void Encode(const std::uint8_t* Data, int Count) {
    int i0 = 0;
    if (Prefix < 0 && Count > 0) Prefix = Data[i0++];
    int ent = Prefix;
    for (int n = i0; n < Count; ++n) {
      const int c = Data[n];
      const std::int32_t key = (c << kMaxBits) + ent;
      int i = (c << kHashShift) ^ ent;
      if (HashTab[i] == key) {
        ent = CodeTab[i];
        continue;
      }
      if (HashTab[i] >= 0) {
        const int disp = i == 0 ? 1 : kHashSize - i;
        bool found = false;
        do {
          i -= disp;
          if (i < 0) i += kHashSize;
          if (HashTab[i] == key) {
            ent = CodeTab[i];
            found = true;
            break;
          }
        } while (HashTab[i] >= 0);
        if (found) continue;
      }
      Output(ent);
      ent = c;
      if (FreeEnt < kLastFree) {
        CodeTab[i] = static_cast<std::uint16_t>(FreeEnt++);
        HashTab[i] = key;
      } else {
        ClearHash();
        FreeEnt = kFirstFree;
        ClearFlag = true;
        Output(kClearCode);
      }
    }
    Prefix = ent;
  }

  void Finish() {
    if (Prefix >= 0) Output(Prefix);
    Output(kEndCode);
    if (AccumBits > 0) PutByte(static_cast<std::uint8_t>(Accum << (8 - AccumBits)));
    AccumBits = 0;
    FlushBlock();
  }
};

} // namespace

void TiffLzwCompress(const std::uint8_t* Data, int Count, platform::TStream* Stream, void*& State) {
  auto* e = static_cast<TTiffLzwEncoder*>(State);
  if (Data == nullptr) {
    if (e != nullptr) e->Finish();
    delete e;
    State = nullptr;
    return;
  }
  if (e == nullptr) {
    e = new TTiffLzwEncoder;
    e->Stream = Stream;
    e->ClearHash();
    e->Output(kClearCode);
    State = e;
  }
  if (Count > 0) e->Encode(Data, Count);
}

} // namespace rv
