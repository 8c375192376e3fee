#include "image/io/tiff/tifflzw.h"

#include "image/io/tiffstrip_testutil.h"
#include "platform/stream.h"
#include "support/tempfolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace rv;
using Bytes = std::vector<std::uint8_t>;

// Packs codes most significant bit first with the decoder's early width
// switch (next free reaching 511, 1,023, 2,047).
class TTiffCodeWriter {
public:
  void Clear() {
    Put(256);
    FWidth = 9;
    FNextFree = 258;
    FFirst = true;
  }
  void Data(int Code) {
    Put(Code);
    if (FFirst) {
      FFirst = false;
      return;
    }
    ++FNextFree;
    if (FNextFree == (1 << FWidth) - 1 && FWidth < 12) ++FWidth;
  }
  void End() { Put(257); }
  int Width() const { return FWidth; }
  int NextFree() const { return FNextFree; }
  Bytes Data() const {
    Bytes b = FBytes;
    if (FBits > 0) b.push_back(static_cast<std::uint8_t>(FAccum << (8 - FBits)));
    return b;
  }

private:
  void Put(int Code) {
    FAccum = (FAccum << FWidth) | static_cast<std::uint32_t>(Code);
    FBits += FWidth;
    while (FBits >= 8) {
      FBits -= 8;
      FBytes.push_back(static_cast<std::uint8_t>(FAccum >> FBits));
    }
    FAccum &= (1u << FBits) - 1u;
  }
  int FWidth = 9;
  int FNextFree = 258;
  bool FFirst = true;
  std::uint32_t FAccum = 0;
  int FBits = 0;
  Bytes FBytes;
};

// Decodes Rows rows; a row that fails ends the list.
std::vector<Bytes> DecodeRows(const Bytes& Data, int RowSize, int Rows) {
  std::vector<Bytes> out;
  void* state = nullptr;
  for (int r = 0; r < Rows; ++r) {
    const std::uint8_t* row = TiffLzwDecompress(Data.data(), Data.size(), RowSize, state);
    if (row == nullptr) break;
    out.emplace_back(row, row + RowSize);
  }
  TiffLzwDecompress(nullptr, 0, RowSize, state);
  EXPECT_EQ(state, nullptr);
  return out;
}

// A stream that remembers the size of every write.
class TRecordingStream : public platform::TMemoryStream {
public:
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    Writes.push_back(Count);
    return TMemoryStream::Write(Buffer, Count);
  }
  std::vector<std::int64_t> Writes;
};

Bytes EncodeRows(const Bytes& Pixels, int RowSize, platform::TStream& Stream) {
  void* state = nullptr;
  const int rows = RowSize == 0 ? 0 : static_cast<int>(Pixels.size()) / RowSize;
  for (int r = 0; r < rows; ++r)
    TiffLzwCompress(Pixels.data() + static_cast<std::size_t>(r) * RowSize, RowSize, &Stream, state);
  if (state == nullptr) TiffLzwCompress(Pixels.data(), 0, &Stream, state);
  TiffLzwCompress(nullptr, 0, &Stream, state);
  EXPECT_EQ(state, nullptr);
  Stream.SetPosition(0);
  Bytes out(static_cast<std::size_t>(Stream.Size()));
  Stream.Read(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}

Bytes Encode(const Bytes& Pixels, int RowSize) {
  platform::TMemoryStream s;
  return EncodeRows(Pixels, RowSize, s);
}

Bytes Join(const std::vector<Bytes>& Rows) {
  Bytes b;
  for (const Bytes& r : Rows) b.insert(b.end(), r.begin(), r.end());
  return b;
}

// ---------------------------------------------------------------------------
// Hand-built code streams

TEST(TiffLzwDecode, ClearLiteralEndGivesOneByteAndStops) {
  // 100000000 | 001000001 ('A') | 100000001, padded with zero bits.
  const Bytes data = {0x80, 0x10, 0x60, 0x20};
  void* state = nullptr;
  const std::uint8_t* row = TiffLzwDecompress(data.data(), data.size(), 1, state);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row[0], 'A');
  EXPECT_EQ(TiffLzwDecompress(data.data(), data.size(), 1, state), nullptr);
  EXPECT_EQ(TiffLzwDecompress(nullptr, 0, 1, state), nullptr);
  EXPECT_EQ(state, nullptr);
}

TEST(TiffLzwDecode, WidthSwitchesOneCodeEarly) {
  // 254 literals make entries 258..510, so next free is 511 and the next
  // code is already 10 bits wide.
  TTiffCodeWriter w;
  Bytes expected;
  w.Clear();
  for (int i = 0; w.NextFree() < 511; ++i) {
    w.Data(i % 256);
    expected.push_back(static_cast<std::uint8_t>(i % 256));
  }
  ASSERT_EQ(w.Width(), 10);
  w.Data(258); // "0" "1"
  expected.push_back(0);
  expected.push_back(1);
  w.End();
  EXPECT_EQ(Join(DecodeRows(w.Data(), static_cast<int>(expected.size()), 1)), expected);
}

TEST(TiffLzwDecode, RowsComeFromStringsSpanningRowEnds) {
  TTiffCodeWriter w;
  w.Clear();
  w.Data('a');
  w.Data('b');
  w.Data(258); // "ab"
  w.Data(260); // being defined: "ab" + "a"
  w.End();
  const std::vector<Bytes> rows = DecodeRows(w.Data(), 3, 5);
  ASSERT_EQ(rows.size(), 3u); // 7 bytes: two whole rows, one padded with zeros
  EXPECT_EQ(Join(rows), (Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a', 0, 0}));
}

TEST(TiffLzwDecode, StreamWithoutLeadingClearIsReadAsIfItHadOne) {
  TTiffCodeWriter w;
  w.Data('x');
  w.Data('y');
  w.Data(258);
  w.End();
  EXPECT_EQ(Join(DecodeRows(w.Data(), 4, 1)), (Bytes{'x', 'y', 'x', 'y'}));
}

TEST(TiffLzwDecode, CorruptCodesAnswerNull) {
  TTiffCodeWriter above;
  above.Clear();
  above.Data('a');
  above.Data(300); // next free is 258
  EXPECT_TRUE(DecodeRows(above.Data(), 4, 1).empty());

  TTiffCodeWriter first;
  first.Clear();
  first.Data(258); // a string code with nothing before it
  EXPECT_TRUE(DecodeRows(first.Data(), 1, 1).empty());

  // More than 4,096 entries without a clear code.
  TTiffCodeWriter overflow;
  overflow.Clear();
  while (overflow.NextFree() < 4096) overflow.Data(7);
  overflow.Data(7);
  overflow.Data(7);
  const std::vector<Bytes> rows = DecodeRows(overflow.Data(), 1 << 16, 1);
  EXPECT_TRUE(rows.empty());
}

TEST(TiffLzwDecode, DecoderReadsOnlyTheGivenBytes) {
  std::mt19937 rng(2);
  Bytes pixels(5000);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(rng() % 8);
  const Bytes good = Encode(pixels, 100);
  for (std::size_t cut = 0; cut < good.size(); cut += 13) {
    // An exact-size copy, so a read past the end would be caught.
    const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::vector<Bytes> rows = DecodeRows(part, 100, 50);
    EXPECT_LE(rows.size(), 50u);
    for (std::size_t r = 0; r + 1 < rows.size(); ++r)
      EXPECT_TRUE(std::equal(rows[r].begin(), rows[r].end(), pixels.begin() + static_cast<std::ptrdiff_t>(r * 100)));
  }
}

TEST(TiffLzwDecode, RandomBytesNeverOverrun) {
  std::mt19937 rng(4);
  for (int i = 0; i < 3000; ++i) {
    Bytes junk(rng() % 400);
    for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
    if (!junk.empty() && i % 2 == 0) junk[0] = 0x80; // starts with a clear code
    DecodeRows(junk, 1 + static_cast<int>(rng() % 64), 40);
  }
  void* state = nullptr;
  EXPECT_EQ(TiffLzwDecompress(Bytes{1}.data(), 1, 0, state), nullptr);
  EXPECT_EQ(state, nullptr);
}

// ---------------------------------------------------------------------------
// Encoder

TEST(TiffLzwEncode, StartsWithClearAndEndsWithEndCode) {
  const Bytes out = Encode(Bytes{'A'}, 1);
  EXPECT_EQ(out, (Bytes{0x80, 0x10, 0x60, 0x20}));
}

TEST(TiffLzwEncode, ClearsBeforeTheTableWouldNeedThirteenBits) {
  std::mt19937 rng(6);
  Bytes pixels(200000);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(rng());
  const Bytes out = Encode(pixels, 1000);
  // Walk the codes with the decoder's width rule: every code fits 12 bits
  // and the clear code comes at next free 4,094 at the latest.
  std::uint64_t pos = 0;
  int width = 9, nextFree = 258, clears = 0, maxNextFree = 0;
  bool first = true;
  for (;;) {
    ASSERT_LE(pos + width, out.size() * 8);
    int code = 0;
    for (int i = 0; i < width; ++i, ++pos) code = (code << 1) | ((out[pos >> 3] >> (7 - (pos & 7))) & 1);
    if (code == 257) break;
    if (code == 256) {
      ++clears;
      width = 9;
      nextFree = 258;
      first = true;
      continue;
    }
    if (!first) {
      ++nextFree;
      if (nextFree == (1 << width) - 1 && width < 12) ++width;
    }
    first = false;
    maxNextFree = std::max(maxNextFree, nextFree);
  }
  EXPECT_GT(clears, 10);
  EXPECT_EQ(maxNextFree, 4094);
  EXPECT_EQ(Join(DecodeRows(out, 1000, 200)), pixels);
}

TEST(TiffLzwEncode, EmptyLaterCallAddsNothingAndPiecesStayBelow255) {
  Bytes row(3000);
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i * 7 / 3);
  TRecordingStream a;
  void* state = nullptr;
  TiffLzwCompress(row.data(), 3000, &a, state);
  TiffLzwCompress(row.data(), 0, &a, state);
  TiffLzwCompress(nullptr, 0, &a, state);
  platform::TMemoryStream b;
  state = nullptr;
  TiffLzwCompress(row.data(), 3000, &b, state);
  TiffLzwCompress(nullptr, 0, &b, state);
  EXPECT_EQ(a.Data(), b.Data());
  for (std::int64_t n : a.Writes) EXPECT_LE(n, 254);
}

TEST(TiffLzwRoundTrip, StripsOfPatternedAndRandomRows) {
  std::mt19937 rng(8);
  for (int rowSize : {1, 2, 3, 17, 300, 4096, 20000})
    for (int kind = 0; kind < 4; ++kind) {
      const int rows = std::max(1, 60000 / rowSize);
      Bytes pixels(static_cast<std::size_t>(rowSize) * rows);
      for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(kind == 0   ? rng()
                                              : kind == 1 ? 0
                                              : kind == 2 ? i % 5
                                                          : (rng() % 9 == 0 ? rng() : i / 97));
      const Bytes out = Encode(pixels, rowSize);
      ASSERT_EQ(Join(DecodeRows(out, rowSize, rows)), pixels) << rowSize << " kind " << kind;
    }
}

// ---------------------------------------------------------------------------
// libtiff

TEST(TiffLzwInterop, LibtiffDecodesOursAndWeDecodeLibtiffs) {
  if (!tifftest::HaveTool("tiffcp")) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
  testing_support::TTempFolder dir;
  const int w = 301, h = 157;
  Bytes pixels(static_cast<std::size_t>(w) * h);
  std::mt19937 rng(12);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      pixels[static_cast<std::size_t>(y * w + x)] =
          static_cast<std::uint8_t>(((x / 8) ^ (y / 5)) * 37 + (rng() % 23 == 0 ? rng() : 0));

  codectest::Save(dir.File("ours.tif"), tifftest::MakeTiff(w, h, 8, 5, 1, Encode(pixels, w)));
  const tifftest::TStripFile plain = tifftest::Tiffcp("-c none", dir.File("ours.tif"), dir.File("plain.tif"));
  ASSERT_TRUE(plain.Ok);
  EXPECT_EQ(plain.Strips, pixels);

  codectest::Save(dir.File("raw.tif"), tifftest::MakeTiff(w, h, 8, 1, 1, pixels));
  const tifftest::TStripFile theirs =
      tifftest::Tiffcp("-c lzw -r 100000", dir.File("raw.tif"), dir.File("lzw.tif"));
  ASSERT_TRUE(theirs.Ok);
  ASSERT_EQ(theirs.Tag(259), 5u);
  ASSERT_EQ(theirs.Tag(317, 1), 1u);
  EXPECT_EQ(Join(DecodeRows(theirs.Strips, w, h)), pixels);
}

} // namespace
