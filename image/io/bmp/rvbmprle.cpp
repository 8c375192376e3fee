#include "image/io/bmp/rvbmprle.h"

#include <algorithm>
#include <cstdlib>

namespace rv {

namespace {

// The output side of a decode: a cursor over the picture that keeps every
// write inside the row, the picture and the colour map.
class TRleCursor {
public:
  TRleCursor(TRvBitmap& Bitmap, TRvProgressRec& Progress, const TRGB* ColorMap, int ColorMapCount,
             bool TopDown)
      : FBitmap(Bitmap), FProgress(Progress), FMap(ColorMap),
        FMapCount(ColorMap != nullptr ? std::max(ColorMapCount, 0) : 0), FWidth(Bitmap.Width()),
        FHeight(Bitmap.Height()), FStep(TopDown ? 1 : -1),
        FStart(TopDown ? 0 : Bitmap.Height() - 1), FRow(FStart) {}

  bool Valid() const { return FBitmap.PixelFormat() == rvpf24Bit && FWidth > 0 && FHeight > 0; }

  void Put(unsigned Index) {
    if (FCol >= FWidth) return;
    if (FLine == nullptr) FLine = FBitmap.Scanline(FRow);
    std::uint8_t* p = FLine + static_cast<std::size_t>(FCol) * 3;
    if (Index < static_cast<unsigned>(FMapCount)) {
      p[0] = FMap[Index].b;
      p[1] = FMap[Index].g;
      p[2] = FMap[Index].r;
    } else {
      p[0] = p[1] = p[2] = 0;
    }
    ++FCol;
  }

  // Count pixels of one colour index, cut at the row end.
  void PutRun(unsigned Index, unsigned Count) {
    const int n = static_cast<int>(std::min<unsigned>(Count, static_cast<unsigned>(FWidth - FCol)));
    if (n <= 0) return;
    if (FLine == nullptr) FLine = FBitmap.Scanline(FRow);
    TRGB c{};
    if (Index < static_cast<unsigned>(FMapCount)) c = FMap[Index];
    std::uint8_t* p = FLine + static_cast<std::size_t>(FCol) * 3;
    for (int k = 0; k < n; ++k, p += 3) {
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
    FCol += n;
  }

  // Count indexes, one per byte, cut at the row end.
  void PutBytes(const std::uint8_t* Indexes, std::int64_t Count) {
    const int n = static_cast<int>(std::min<std::int64_t>(Count, FWidth - FCol));
    if (n <= 0) return;
    if (FLine == nullptr) FLine = FBitmap.Scanline(FRow);
    std::uint8_t* p = FLine + static_cast<std::size_t>(FCol) * 3;
    for (int k = 0; k < n; ++k, p += 3) {
      const unsigned i = Indexes[k];
      if (i < static_cast<unsigned>(FMapCount)) {
        p[0] = FMap[i].b;
        p[1] = FMap[i].g;
        p[2] = FMap[i].r;
      } else {
        p[0] = p[1] = p[2] = 0;
      }
    }
    FCol += n;
  }

  // False when there is no row left or the caller asked to stop.
  bool NextLine() {
    if (!MoveRows(1)) return false;
    FCol = 0;
    FProgress.Step(std::abs(FRow - FStart) + 1);
    return !FProgress.IsAborting();
  }

  bool Delta(int DX, int DY) {
    FCol = std::min(FCol + DX, FWidth);
    return DY == 0 || MoveRows(DY);
  }

private:
  bool MoveRows(int Count) {
    const int row = FRow + FStep * Count;
    if (row < 0 || row >= FHeight) return false;
    FRow = row;
    FLine = nullptr;
    return true;
  }

  TRvBitmap& FBitmap;
  TRvProgressRec& FProgress;
  const TRGB* FMap;
  int FMapCount;
  int FWidth;
  int FHeight;
  int FStep;
  int FStart;
  int FRow;
  int FCol = 0;
  std::uint8_t* FLine = nullptr;
};

// Counts the rows RLE data reach without a picture to write to.
class TRleRowCounter {
public:
  explicit TRleRowCounter(std::int64_t Height) : FHeight(Height) {}
  void Put(unsigned) {}
  void PutRun(unsigned, unsigned) {}
  void PutBytes(const std::uint8_t*, std::int64_t) {}
  bool NextLine() { return Delta(0, 1); }
  bool Delta(int, int DY) {
    FRow += DY;
    return FRow < FHeight;
  }
  std::int64_t Row() const { return FRow; }

private:
  std::int64_t FHeight;
  std::int64_t FRow = 0;
};

// Walks the codes of an RLE block into Out. True when an escape or the
// picture's end stopped it, false when the data ran out first.
template <class TOut>
bool WalkRle(TOut& out, const std::uint8_t* Data, std::int64_t DataSize, bool Four) {
  std::int64_t i = 0;
  while (i + 1 < DataSize) {
    const unsigned n = Data[i];
    const unsigned code = Data[i + 1];
    i += 2;
    if (n > 0) {
      if (!Four || (code >> 4) == (code & 0x0F))
        out.PutRun(Four ? code & 0x0F : code, n);
      else
        for (unsigned k = 0; k < n; ++k) out.Put((k & 1) ? (code & 0x0F) : (code >> 4));
      continue;
    }
    switch (code) {
    case 0:
      if (!out.NextLine()) return true;
      break;
    case 1:
      return true;
    case 2:
      if (i + 1 >= DataSize) return false;
      if (!out.Delta(Data[i], Data[i + 1])) return true;
      i += 2;
      break;
    default: {
      // An absolute group, padded to an even number of bytes.
      const std::int64_t bytes = Four ? (code + 1) / 2 : code;
      const std::int64_t avail = std::min<std::int64_t>(bytes, DataSize - i);
      if (Four) {
        for (std::int64_t k = 0; k < code && k / 2 < avail; ++k) {
          const unsigned b = Data[i + k / 2];
          out.Put((k & 1) ? (b & 0x0F) : (b >> 4));
        }
      } else {
        out.PutBytes(Data + i, avail);
      }
      i += bytes + (bytes & 1);
      break;
    }
    }
  }
  return false;
}

void DecodeRle(TRvBitmap& Bitmap, const std::uint8_t* Data, std::int64_t DataSize,
               TRvProgressRec& Progress, const TRGB* ColorMap, int ColorMapCount, bool TopDown,
               bool Four) {
  TRleCursor out(Bitmap, Progress, ColorMap, ColorMapCount, TopDown);
  if (out.Valid() && Data != nullptr) WalkRle(out, Data, DataSize, Four);
}

// Writes indexes [First, First + Count) as runs of one or two and absolute
// groups of at most 255.
int FlushStretch(const std::uint8_t* Row, int First, int Count, std::uint8_t* Out, bool Four) {
  int pos = 0;
  while (Count > 0) {
    const int piece = std::min(Count, 255);
    const std::uint8_t* p = Row + First;
    if (piece == 1) {
      Out[pos++] = 1;
      Out[pos++] = Four ? static_cast<std::uint8_t>(((p[0] & 0x0F) << 4) | (p[0] & 0x0F)) : p[0];
    } else if (piece == 2) {
      if (Four) {
        Out[pos++] = 2;
        Out[pos++] = static_cast<std::uint8_t>(((p[0] & 0x0F) << 4) | (p[1] & 0x0F));
      } else {
        Out[pos++] = 1;
        Out[pos++] = p[0];
        Out[pos++] = 1;
        Out[pos++] = p[1];
      }
    } else {
      Out[pos++] = 0;
      Out[pos++] = static_cast<std::uint8_t>(piece);
      int bytes;
      if (Four) {
        bytes = (piece + 1) / 2;
        for (int k = 0; k < bytes; ++k) {
          const int hi = p[2 * k] & 0x0F;
          const int lo = 2 * k + 1 < piece ? (p[2 * k + 1] & 0x0F) : 0;
          Out[pos++] = static_cast<std::uint8_t>((hi << 4) | lo);
        }
      } else {
        bytes = piece;
        std::copy(p, p + piece, Out + pos);
        pos += piece;
      }
      if (bytes & 1) Out[pos++] = 0;
    }
    First += piece;
    Count -= piece;
  }
  return pos;
}

int EncodeRle(const std::uint8_t* Row, int Width, std::uint8_t* Output, bool Four) {
  int pos = 0;
  int start = 0;
  int x = 0;
  auto same = [&](int A, int B) {
    return Four ? (Row[A] & 0x0F) == (Row[B] & 0x0F) : Row[A] == Row[B];
  };
  while (x < Width) {
    if (x - start > 255) {
      pos += FlushStretch(Row, start, x - start, Output + pos, Four);
      start = x;
    }
    if (x + 1 < Width && same(x, x + 1)) {
      pos += FlushStretch(Row, start, x - start, Output + pos, Four);
      int n = 2;
      while (x + n < Width && n < 255 && same(x, x + n)) ++n;
      const std::uint8_t index = Four ? static_cast<std::uint8_t>(Row[x] & 0x0F) : Row[x];
      Output[pos++] = static_cast<std::uint8_t>(n);
      Output[pos++] = Four ? static_cast<std::uint8_t>((index << 4) | index) : index;
      x += n;
      start = x;
    } else {
      ++x;
    }
  }
  pos += FlushStretch(Row, start, Width - start, Output + pos, Four);
  Output[pos++] = 0;
  Output[pos++] = 0;
  return pos;
}

} // namespace

void BmpDecodeRle8(TRvBitmap& Bitmap, const std::uint8_t* Data, std::int64_t DataSize,
                   TRvProgressRec& Progress, const TRGB* ColorMap, int ColorMapCount,
                   bool TopDown) {
  DecodeRle(Bitmap, Data, DataSize, Progress, ColorMap, ColorMapCount, TopDown, false);
}

void BmpDecodeRle4(TRvBitmap& Bitmap, const std::uint8_t* Data, std::int64_t DataSize,
                   TRvProgressRec& Progress, const TRGB* ColorMap, int ColorMapCount,
                   bool TopDown) {
  DecodeRle(Bitmap, Data, DataSize, Progress, ColorMap, ColorMapCount, TopDown, true);
}

std::int64_t BmpRleRowsReached(const std::uint8_t* Data, std::int64_t DataSize, std::int64_t Height, bool Four) {
  if (Height <= 0) return 0;
  TRleRowCounter rows(Height);
  if (Data != nullptr && WalkRle(rows, Data, DataSize, Four)) return Height;
  return std::min(rows.Row() + 1, Height);
}

int BmpEncodeRle8(const std::uint8_t* Row, int Width, std::uint8_t* Output) {
  return EncodeRle(Row, Width, Output, false);
}

int BmpEncodeRle4(const std::uint8_t* Row, int Width, std::uint8_t* Output) {
  return EncodeRle(Row, Width, Output, true);
}

} // namespace rv
