#include "image/io/gif/giflzw.h"

#include "platform/stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using namespace rv;
using Bytes = std::vector<std::uint8_t>;

// Packs GIF codes least significant bit first, with the decoder's width rule
// (the width grows when the next free code reaches 2^width).
class TGifCodeWriter {
public:
  explicit TGifCodeWriter(int Root) : FRoot(Root) { Reset(); }
  void Reset() {
    FWidth = FRoot + 1;
    FNextFree = (1 << FRoot) + 2;
    FFirst = true;
  }
  // Code is a data code that adds a table entry (unless first after a clear
  // or the table is full).
  void Data(int Code) {
    Put(Code);
    if (FFirst) {
      FFirst = false;
      return;
    }
    if (FNextFree < 4096) {
      ++FNextFree;
      if (FNextFree == (1 << FWidth) && FWidth < 12) ++FWidth;
    }
  }
  void Clear() {
    Put(1 << FRoot);
    Reset();
  }
  void End() { Put((1 << FRoot) + 1); }
  int NextFree() const { return FNextFree; }
  int Width() const { return FWidth; }

  // Code-size byte, sub-blocks of 255, terminator.
  Bytes Stream() const {
    Bytes data = FBytes;
    if (FBits > 0) data.push_back(static_cast<std::uint8_t>(FAccum));
    Bytes s = {static_cast<std::uint8_t>(FRoot)};
    for (std::size_t i = 0; i < data.size(); i += 255) {
      const std::size_t n = std::min<std::size_t>(255, data.size() - i);
      s.push_back(static_cast<std::uint8_t>(n));
      s.insert(s.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
               data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    s.push_back(0);
    return s;
  }

private:
  void Put(int Code) {
    FAccum |= static_cast<std::uint32_t>(Code) << FBits;
    FBits += FWidth;
    while (FBits >= 8) {
      FBytes.push_back(static_cast<std::uint8_t>(FAccum));
      FAccum >>= 8;
      FBits -= 8;
    }
  }
  int FRoot;
  int FWidth = 0;
  int FNextFree = 0;
  bool FFirst = true;
  std::uint32_t FAccum = 0;
  int FBits = 0;
  Bytes FBytes;
};

struct TDecoded {
  Bytes Pixels;
  std::int64_t EndPosition;
};

TDecoded Decode(const Bytes& Stream, int Width, int Height, bool Interlaced, std::uint8_t Fill = 0xEE,
                std::int64_t Start = 0) {
  platform::TBytesStream s(Stream.data(), static_cast<std::int64_t>(Stream.size()));
  s.SetPosition(Start);
  TDecoded d{Bytes(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height), Fill), 0};
  GifLzwDecompress(s, Height, Width, d.Pixels.data(), Interlaced);
  d.EndPosition = s.Position();
  return d;
}

Bytes Encode(const Bytes& Pixels, int Width, int Height, int Bits, bool Interlaced) {
  platform::TMemoryStream s;
  GifLzwCompress(s, Height, Width, Bits, Pixels.data(), Interlaced);
  return s.Data();
}

// ---------------------------------------------------------------------------
// Hand-built code streams

TEST(GifLzwDecode, ClearLiteralRepeatEnd) {
  // Root 2, 3-bit codes: clear 4, literal 1, code 6 (being defined: "1"+"1"),
  // end 5. Bits low first: 100 | 001<<3 | 110<<6 | 101<<9 = 0x0B8C.
  const Bytes stream = {0x02, 0x02, 0x8C, 0x0B, 0x00, 0x77};
  const TDecoded d = Decode(stream, 3, 1, false);
  EXPECT_EQ(d.Pixels, (Bytes{1, 1, 1}));
  EXPECT_EQ(d.EndPosition, 5); // just after the terminator
}

TEST(GifLzwDecode, WidthGrowsWhenNextFreeReachesPowerOfTwo) {
  // clear(4,3 bits) 0 1 2 (3 bits): entries 6 and 7 make next free 8, so
  // 3 and end(5) take 4 bits: 0x4 | 0<<3 | 1<<6 | 2<<9 | 3<<12 | 5<<16.
  const Bytes stream = {0x02, 0x03, 0x44, 0x34, 0x05, 0x00};
  EXPECT_EQ(Decode(stream, 4, 1, false).Pixels, (Bytes{0, 1, 2, 3}));
}

TEST(GifLzwDecode, CodeSizeOutsideTwoToNineFailsWithoutConsuming) {
  for (std::uint8_t size : {0, 1, 10, 12}) {
    const Bytes stream = {0x55, size, 0x01, 0x00, 0x00};
    const TDecoded d = Decode(stream, 2, 1, false, 0xEE, 1);
    EXPECT_EQ(d.EndPosition, 1) << int(size);
    EXPECT_EQ(d.Pixels, (Bytes{0xEE, 0xEE}));
  }
}

TEST(GifLzwDecode, CodeAboveNextFreeFailsAndRestoresPosition) {
  TGifCodeWriter w(2);
  w.Clear();
  w.Data(1);
  w.Data(7); // next free is 6
  w.End();
  EXPECT_EQ(Decode(w.Stream(), 4, 1, false).EndPosition, 0);
}

TEST(GifLzwDecode, CodesRunningOutKeepTheRestOfTheBuffer) {
  // 8-bit codes end on a byte, so no padding bits can read as codes.
  TGifCodeWriter w(7);
  w.Clear();
  w.Data(3);
  w.Data(2);
  const Bytes stream = w.Stream();
  const TDecoded d = Decode(stream, 4, 1, false);
  EXPECT_EQ(d.Pixels, (Bytes{3, 2, 0xEE, 0xEE}));
  EXPECT_EQ(d.EndPosition, static_cast<std::int64_t>(stream.size()));
}

TEST(GifLzwDecode, EndRightAfterClearWithDataLeftFails) {
  TGifCodeWriter w(2);
  w.Clear();
  w.End();
  Bytes ok = w.Stream();
  EXPECT_EQ(Decode(ok, 1, 1, false).EndPosition, static_cast<std::int64_t>(ok.size()));
  Bytes padded = {0x02, 0x02, ok[2], 0x00, 0x00};
  EXPECT_EQ(Decode(padded, 1, 1, false).EndPosition, 0);
}

TEST(GifLzwDecode, FullTableWithoutClearGoesOnDecoding) {
  // Literals until the table holds 4,096 codes, then more codes at 12 bits
  // with no clear (the deferred clear other readers accept).
  TGifCodeWriter w(2);
  Bytes expected;
  w.Clear();
  std::mt19937 rng(7);
  while (w.NextFree() < 4096) {
    const int c = static_cast<int>(rng() % 4);
    w.Data(c);
    expected.push_back(static_cast<std::uint8_t>(c));
  }
  ASSERT_EQ(w.Width(), 12);
  w.Data(2);
  expected.push_back(2);
  w.Data(6); // the first string entry: the first two pixels
  expected.push_back(expected[0]);
  expected.push_back(expected[1]);
  w.Data(4095); // the last entry: the 4,094th literal followed by the 4,095th
  expected.push_back(expected[4090 - 1]);
  expected.push_back(expected[4090]);
  w.Clear();
  w.Data(1);
  expected.push_back(1);
  w.End();
  const Bytes stream = w.Stream();
  const int width = static_cast<int>(expected.size());
  const TDecoded d = Decode(stream, width, 1, false);
  EXPECT_EQ(d.EndPosition, static_cast<std::int64_t>(stream.size()));
  EXPECT_EQ(d.Pixels, expected);
}

TEST(GifLzwDecode, InterlacedRowsFollowTheFourPasses) {
  // Ten rows coded in file order, each filled with its file-order number.
  const int w = 3, h = 10;
  Bytes fileOrder;
  for (int i = 0; i < h; ++i) fileOrder.insert(fileOrder.end(), w, static_cast<std::uint8_t>(i));
  const Bytes stream = Encode(fileOrder, w, h, 4, false);
  const TDecoded d = Decode(stream, w, h, true);
  const int rowOfFileRow[h] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  for (int i = 0; i < h; ++i)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(d.Pixels[static_cast<std::size_t>(rowOfFileRow[i] * w + x)], i) << "file row " << i;
}

TEST(GifLzwDecode, SurplusAfterTheLastInterlacePassIsDropped) {
  const int w = 2, h = 4;
  Bytes fileOrder;
  for (int i = 0; i < h + 2; ++i) fileOrder.insert(fileOrder.end(), w, static_cast<std::uint8_t>(i + 1));
  const TDecoded d = Decode(Encode(fileOrder, w, h + 2, 4, false), w, h, true);
  // File rows 1..4 land on rows 0, 2, 1, 3; rows 5 and 6 are surplus.
  EXPECT_EQ(d.Pixels, (Bytes{1, 1, 3, 3, 2, 2, 4, 4}));
}

// ---------------------------------------------------------------------------
// Encoder

TEST(GifLzwEncode, OneBitDataUsesCodeSizeTwo) {
  const Bytes out = Encode(Bytes{0, 1, 1, 0}, 4, 1, 1, false);
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[2] & 0x07, 4); // the first 3-bit code is the clear code
  EXPECT_EQ(out.back(), 0);
}

TEST(GifLzwEncode, BlocksHoldAtMost254BytesAndEndWithZero) {
  std::mt19937 rng(3);
  Bytes pixels(20000);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(rng());
  const Bytes out = Encode(pixels, 200, 100, 8, false);
  ASSERT_EQ(out[0], 8);
  std::size_t p = 1;
  int blocks = 0;
  while (p < out.size() && out[p] != 0) {
    EXPECT_LE(out[p], 254);
    p += out[p] + 1u;
    ++blocks;
  }
  EXPECT_GT(blocks, 1);
  EXPECT_EQ(p, out.size() - 1);
}

TEST(GifLzwEncode, BitsAboveEightAreCappedAndEmptyFramesStillEnd) {
  EXPECT_EQ(Encode(Bytes{5, 6}, 2, 1, 16, false)[0], 8);
  const Bytes empty = Encode(Bytes{}, 0, 0, 8, false);
  EXPECT_EQ(empty.front(), 8);
  EXPECT_EQ(empty.back(), 0);
  EXPECT_EQ(Decode(empty, 0, 0, false).EndPosition, static_cast<std::int64_t>(empty.size()));
}

TEST(GifLzwEncode, IndicesTooLargeForTheCodeSizeAreMasked) {
  const Bytes out = Encode(Bytes{0, 5, 1, 7}, 4, 1, 1, false);
  EXPECT_EQ(Decode(out, 4, 1, false).Pixels, (Bytes{0, 1, 1, 3}));
}

// ---------------------------------------------------------------------------
// Round trips

Bytes Pattern(int Kind, int Width, int Height, int Bits, std::mt19937& Rng) {
  Bytes p(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
  const int mask = (1 << Bits) - 1;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      int v = 0;
      switch (Kind) {
      case 0: v = static_cast<int>(Rng()); break;
      case 1: v = (x / 3 + y) ; break;
      case 2: v = 0; break;
      default: v = (Rng() % 16 == 0) ? static_cast<int>(Rng()) : x * y / 7; break;
      }
      p[static_cast<std::size_t>(y * Width + x)] = static_cast<std::uint8_t>(v & mask);
    }
  return p;
}

TEST(GifLzwRoundTrip, EveryDepthPatternAndInterlace) {
  std::mt19937 rng(11);
  const int sizes[][2] = {{1, 1}, {1, 9}, {7, 1}, {13, 17}, {320, 240}, {1000, 70}};
  for (int bits = 1; bits <= 8; ++bits)
    for (int kind = 0; kind < 4; ++kind)
      for (auto [w, h] : sizes)
        for (bool interlaced : {false, true}) {
          const Bytes pixels = Pattern(kind, w, h, bits, rng);
          const Bytes stream = Encode(pixels, w, h, bits, interlaced);
          const TDecoded d = Decode(stream, w, h, interlaced);
          ASSERT_EQ(d.EndPosition, static_cast<std::int64_t>(stream.size()))
              << bits << " bits, kind " << kind << ", " << w << "x" << h;
          ASSERT_EQ(d.Pixels, pixels) << bits << " bits, kind " << kind << ", " << w << "x" << h;
        }
}

TEST(GifLzwRoundTrip, LongRandomDataCrossesManyClears) {
  std::mt19937 rng(5);
  Bytes pixels(1 << 20);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(rng());
  const Bytes stream = Encode(pixels, 1024, 1024, 8, false);
  EXPECT_EQ(Decode(stream, 1024, 1024, false).Pixels, pixels);
}

// ---------------------------------------------------------------------------
// Broken input

TEST(GifLzwDecode, TruncatedAndRandomStreamsStayInsideTheirBuffer) {
  std::mt19937 rng(9);
  Bytes pixels(64 * 48);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(rng() % 16);
  const Bytes good = Encode(pixels, 64, 48, 4, false);
  for (std::size_t cut = 0; cut < good.size(); cut += 7) {
    const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    const TDecoded d = Decode(part, 64, 48, cut % 2 == 0);
    EXPECT_LE(d.EndPosition, static_cast<std::int64_t>(cut));
  }
  for (int i = 0; i < 2000; ++i) {
    Bytes junk(1 + rng() % 600);
    for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
    junk[0] = static_cast<std::uint8_t>(2 + rng() % 8);
    const int w = 1 + static_cast<int>(rng() % 40), h = 1 + static_cast<int>(rng() % 40);
    Decode(junk, w, h, (i & 1) != 0);
  }
}

} // namespace
