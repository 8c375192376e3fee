#include "image/io/tiff/ccittfax.h"

#include "image/io/tiffstrip_testutil.h"
#include "platform/stream.h"
#include "support/tempfolder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using namespace rv;
using Bytes = std::vector<std::uint8_t>;
using Rows = std::vector<Bytes>;

std::size_t RowBytes(int Width) { return (static_cast<std::size_t>(Width) + 7) / 8; }

enum TScheme { fsMH, fsG3OneD, fsG3TwoD, fsG4 };

Bytes Encode(TScheme Scheme, const Rows& Page, int Width, bool AlignRows = false) {
  platform::TMemoryStream s;
  TRvAbortFlag aborting{false};
  int pendingBits = 0;
  std::uint8_t pendingByte = 0;
  Bytes ref;
  auto row = [&](const std::uint8_t* r) {
    switch (Scheme) {
    case fsMH: if (r != nullptr) FaxEncodeRowMH(r, Width, s, aborting); break;
    case fsG3OneD: FaxEncodeRow1D(r, Width, s, aborting, pendingBits, pendingByte); break;
    case fsG3TwoD: FaxEncodeRowG3(r, Width, s, aborting, ref, pendingBits, pendingByte); break;
    case fsG4: FaxEncodeRowG4(r, Width, s, aborting, ref, pendingBits, pendingByte); break;
    }
    if (AlignRows && pendingBits > 0) {
      // Fill bits: the rest of the byte stays zero, so the next EOL starts a byte.
      s.Write(&pendingByte, 1);
      pendingBits = 0;
      pendingByte = 0;
    }
  };
  for (const Bytes& r : Page) row(r.data());
  row(nullptr);
  EXPECT_FALSE(aborting.load());
  EXPECT_EQ(pendingBits, 0);
  EXPECT_TRUE(ref.empty());
  return s.Data();
}

Rows Decode(TScheme Scheme, const Bytes& Data, int Width, int Height, int FillOrder = 1,
            bool FillBits = false, int Shown = -1) {
  Rows out;
  TFaxRefRow ref;
  std::int64_t pos = 0;
  std::int64_t bytePos = 0;
  for (int y = 0; y < Height; ++y) {
    Bytes row(RowBytes(Width), 0x5A);
    const auto size = static_cast<std::int64_t>(Data.size());
    switch (Scheme) {
    case fsMH:
      bytePos += FaxDecodeRowMH(row.data(), Data.data() + std::min(bytePos, size),
                                std::max<std::int64_t>(0, size - bytePos), Width, FillOrder, Shown);
      break;
    case fsG3OneD: pos = FaxDecodeRow1D(row.data(), Data.data(), size, Width, FillOrder, pos, Shown); break;
    default:
      pos = FaxDecodeRow2D(row.data(), Data.data(), size, FillBits, FillOrder, pos, ref, Width, Shown);
      break;
    }
    EXPECT_LE(pos, size * 8);
    out.push_back(row);
  }
  return out;
}

// The decoders answer 1 = white: the encoders' rows inverted, padding ignored.
Rows Inverted(const Rows& Page, int Width) {
  Rows out = Page;
  const int spare = static_cast<int>(RowBytes(Width) * 8) - Width;
  for (Bytes& r : out) {
    for (auto& b : r) b = static_cast<std::uint8_t>(~b);
    if (!r.empty()) r.back() |= static_cast<std::uint8_t>((1u << spare) - 1u);
  }
  return out;
}

void SetBlack(Bytes& Row, int From, int To) {
  for (int x = From; x < To; ++x) Row[static_cast<std::size_t>(x >> 3)] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
}

// Pages that exercise every mode: random runs short and long, edges that move
// a little from row to row, stripes, single pixels, all white, all black.
Rows Page(int Kind, int Width, int Height, std::mt19937& Rng) {
  Rows page(static_cast<std::size_t>(Height), Bytes(RowBytes(Width), 0));
  std::vector<int> edges;
  for (int x = 0; x < Width; x += 1 + static_cast<int>(Rng() % 40)) edges.push_back(x);
  for (int y = 0; y < Height; ++y) {
    Bytes& r = page[static_cast<std::size_t>(y)];
    switch (Kind) {
    case 0: { // random runs, some very long
      int x = 0;
      bool black = Rng() % 2 == 0;
      while (x < Width) {
        const int run = Rng() % 10 == 0 ? static_cast<int>(Rng() % 6000) : static_cast<int>(Rng() % 70);
        if (black) SetBlack(r, x, std::min(Width, x + run));
        x += run;
        black = !black;
      }
      break;
    }
    case 1: // drifting edges
      for (auto& e : edges) e = std::clamp(e + static_cast<int>(Rng() % 9) - 4, 0, Width);
      for (std::size_t i = 0; i + 1 < edges.size(); i += 2) SetBlack(r, std::min(edges[i], edges[i + 1]), std::max(edges[i], edges[i + 1]));
      break;
    case 2: // stripes and a checker
      for (int x = 0; x < Width; ++x)
        if (((x / (1 + y % 5)) + y / 3) % 2 == 0) SetBlack(r, x, x + 1);
      break;
    case 3: // single pixels
    {
      const int x = static_cast<int>(Rng() % static_cast<unsigned>(Width));
      SetBlack(r, x, x + 1);
      break;
    }
    case 4: break; // white
    default: SetBlack(r, 0, Width); break;
    }
  }
  return page;
}

// ---------------------------------------------------------------------------
// Known code words

TEST(CcittEncode, KnownCodeWords) {
  const struct {
    const char* Name;
    TScheme Scheme;
    Rows Page;
    int Width;
    Bytes Expected;
  } Cases[] = {
      {"white 8 = 10011, padded", fsMH, {Bytes{0x00}}, 8, {0x98}},
      {"white 0, black 4 = 011, white 4 = 1011, one fill bit", fsMH, {Bytes{0xF0}}, 8, {0x35, 0x76}},
      {"3000 white = 2560 (000000011111) + 384 (00110111) + 56 (01011001)", fsMH, {Bytes(RowBytes(3000), 0)}, 3000,
       {0x01, 0xF3, 0x75, 0x90}},
      {"white 0, black 64 (0000001111) + black 0 (0000110111)", fsMH, {Bytes(8, 0xFF)}, 64, {0x35, 0x03, 0xC3, 0x70}},
      // 000000000001 1 10011 000000000001 0 1 000000000001 000
      {"G3: EOL, tag 1, white 8; EOL, tag 0, V0; closing EOL", fsG3TwoD, {Bytes{0x00}, Bytes{0x00}}, 8,
       {0x00, 0x1C, 0xC0, 0x05, 0x00, 0x10}},
      {"T.4 one-dimensional: EOL, white 8, zero fill", fsG3OneD, {Bytes{0x00}}, 8, {0x00, 0x19, 0x80}},
      {"G4: V0, then EOFB on a byte", fsG4, {Bytes{0x00}}, 8, {0x80, 0x08, 0x00, 0x80}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes Out = Encode(C.Scheme, C.Page, C.Width);
    EXPECT_EQ(Out, C.Expected);
    EXPECT_EQ(Decode(C.Scheme, Out, C.Width, static_cast<int>(C.Page.size())), Inverted(C.Page, C.Width));
  }
}

// ---------------------------------------------------------------------------
// Decoding details

TEST(CcittDecode, EolInsideARowEndsItAndIsLeftForTheNextRow) {
  // White 2 (0111), black 3 (10), EOL; then white 8 for the next row.
  // 0111 10 000000000001 10011 -> 01111000 00000000 01100110 0...
  const Bytes data = {0x78, 0x00, 0x66, 0x00};
  Bytes row(1);
  const std::int64_t pos = FaxDecodeRow1D(row.data(), data.data(), 4, 8, 1, 0);
  EXPECT_EQ(row[0], 0xC7); // white 2, black 3, then the EOL
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(FaxDecodeRow1D(row.data(), data.data(), 4, 8, 1, pos), 23);
  EXPECT_EQ(row[0], 0xFF);
}

TEST(CcittDecode, FillOrderTwoReadsBitReversedBytes) {
  std::mt19937 rng(1);
  const int w = 333, h = 40;
  const Rows page = Page(1, w, h, rng);
  for (TScheme scheme : {fsG3OneD, fsG3TwoD, fsG4}) {
    Bytes data = Encode(scheme, page, w);
    for (auto& b : data) {
      std::uint8_t r = 0;
      for (int i = 0; i < 8; ++i) r = static_cast<std::uint8_t>(r | (((b >> i) & 1) << (7 - i)));
      b = r;
    }
    EXPECT_EQ(Decode(scheme, data, w, h, 2), Inverted(page, w)) << scheme;
  }
}

TEST(CcittDecode, FillBitsBeforeEolsAreSkipped) {
  std::mt19937 rng(2);
  const int w = 250, h = 30;
  const Rows page = Page(0, w, h, rng);
  const Bytes aligned = Encode(fsG3TwoD, page, w, true);
  EXPECT_EQ(Decode(fsG3TwoD, aligned, w, h, 1, true), Inverted(page, w));
  const Bytes aligned1D = Encode(fsG3OneD, page, w, true);
  EXPECT_EQ(Decode(fsG3OneD, aligned1D, w, h), Inverted(page, w));
}

TEST(CcittDecode, DataEndStopsEveryDecoderInsideItsRow) {
  std::mt19937 rng(3);
  const int w = 700, h = 25;
  const Rows page = Page(0, w, h, rng);
  for (TScheme scheme : {fsMH, fsG3OneD, fsG3TwoD, fsG4}) {
    const Bytes good = Encode(scheme, page, w);
    for (std::size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 40) {
      const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
      Decode(scheme, part, w, h);
    }
  }
}

TEST(CcittDecode, RandomDataEndsEveryRow) {
  std::mt19937 rng(4);
  for (int i = 0; i < 600; ++i) {
    Bytes junk(rng() % 300);
    for (auto& b : junk) b = static_cast<std::uint8_t>(i % 3 == 0 ? (rng() | rng()) : rng());
    const int w = 1 + static_cast<int>(rng() % 200);
    for (TScheme scheme : {fsMH, fsG3OneD, fsG3TwoD, fsG4})
      Decode(scheme, junk, w, 12, 1 + i % 2, i % 4 == 0);
  }
  // Only V0 codes: a0 keeps moving or the data run out.
  const Bytes ones(64, 0xFF);
  Decode(fsG4, ones, 100, 600);
}

// A row decoded for its first pixels only is the start of the whole row, and
// nothing past them is written: on coded pages and on damaged data alike.
TEST(CcittDecode, ShownPixelsAreTheStartOfTheWholeRow) {
  std::mt19937 rng(7);
  auto Check = [](TScheme Scheme, const Bytes& Data, int W, int H, bool FillBits) {
    const Rows Whole = Decode(Scheme, Data, W, H, 1, FillBits);
    for (int Shown : {0, 1, std::min(9, W), W / 2}) {
      const Rows Part = Decode(Scheme, Data, W, H, 1, FillBits, Shown);
      for (int Y = 0; Y < H; ++Y) {
        const Bytes& A = Whole[static_cast<std::size_t>(Y)];
        const Bytes& B = Part[static_cast<std::size_t>(Y)];
        for (int X = 0; X < Shown; ++X)
          ASSERT_EQ(A[static_cast<std::size_t>(X >> 3)] & (0x80 >> (X & 7)), B[static_cast<std::size_t>(X >> 3)] & (0x80 >> (X & 7)))
              << "scheme " << Scheme << " row " << Y << " pixel " << X << " of " << Shown;
        for (std::size_t I = RowBytes(Shown); I < B.size(); ++I) ASSERT_EQ(B[I], 0x5A);
      }
    }
  };
  for (TScheme Scheme : {fsMH, fsG3OneD, fsG3TwoD, fsG4}) {
    for (int Kind = 0; Kind < 6; ++Kind) Check(Scheme, Encode(Scheme, Page(Kind, 300, 20, rng), 300), 300, 20, false);
    for (int I = 0; I < 50; ++I) {
      Bytes Junk(rng() % 200);
      for (auto& B : Junk) B = static_cast<std::uint8_t>(rng());
      Check(Scheme, Junk, 1 + static_cast<int>(rng() % 150), 8, I % 2 == 0);
    }
  }
}

// ---------------------------------------------------------------------------
// Round trips

TEST(CcittRoundTrip, EverySchemeOnPatternedPages) {
  std::mt19937 rng(5);
  for (int w : {1, 7, 8, 9, 63, 64, 65, 1728, 2600, 5000})
    for (int kind = 0; kind < 6; ++kind) {
      const int h = w > 2000 ? 12 : 30;
      const Rows page = Page(kind, w, h, rng);
      for (TScheme scheme : {fsMH, fsG3OneD, fsG3TwoD, fsG4}) {
        const Bytes data = Encode(scheme, page, w);
        ASSERT_EQ(Decode(scheme, data, w, h), Inverted(page, w))
            << "width " << w << " kind " << kind << " scheme " << scheme;
      }
    }
}

// ---------------------------------------------------------------------------
// libtiff

struct TLibtiffCase {
  TScheme Scheme;
  int Compression;
  std::uint32_t T4Options;
  const char* TiffcpOption;
};

TEST(CcittInterop, LibtiffReadsOursAndWeReadLibtiffs) {
  if (!tifftest::HaveTool("tiffcp")) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
  testing_support::TTempFolder dir;
  std::mt19937 rng(6);
  const int w = 1000, h = 90;
  Rows page = Page(0, w, 30, rng);
  for (int kind : {1, 2, 3}) {
    const Rows more = Page(kind, w, 20, rng);
    page.insert(page.end(), more.begin(), more.end());
  }
  ASSERT_EQ(static_cast<int>(page.size()), h);
  Bytes raw;
  for (const Bytes& r : page) raw.insert(raw.end(), r.begin(), r.end());
  codectest::Save(dir.File("raw.tif"), tifftest::MakeTiff(w, h, 1, 1, 0, raw));

  const TLibtiffCase cases[] = {{fsMH, 2, 0, "-c none"},
                                {fsG3OneD, 3, 0, "-c g3:1d"},
                                {fsG3TwoD, 3, 1, "-c g3:2d"},
                                {fsG4, 4, 0, "-c g4"}};
  for (const TLibtiffCase& c : cases) {
    std::map<int, std::uint32_t> extra;
    if (c.Compression == 3) extra[292] = c.T4Options;
    codectest::Save(dir.File("ours.tif"),
                        tifftest::MakeTiff(w, h, 1, c.Compression, 0, Encode(c.Scheme, page, w), extra));
    const tifftest::TStripFile plain = tifftest::Tiffcp("-c none", dir.File("ours.tif"), dir.File("plain.tif"));
    ASSERT_TRUE(plain.Ok) << c.Compression;
    EXPECT_EQ(plain.Strips, raw) << "libtiff reading our " << c.Scheme;

    if (c.Scheme == fsMH) continue;
    const tifftest::TStripFile theirs =
        tifftest::Tiffcp(std::string(c.TiffcpOption) + " -r 100000", dir.File("raw.tif"), dir.File("fax.tif"));
    ASSERT_TRUE(theirs.Ok) << c.TiffcpOption;
    ASSERT_EQ(theirs.Tag(259), static_cast<std::uint32_t>(c.Compression));
    EXPECT_EQ(Decode(c.Scheme, theirs.Strips, w, h, static_cast<int>(theirs.Tag(266, 1))), Inverted(page, w))
        << "our decoder reading libtiff's " << c.TiffcpOption;
  }

  // T.4 two-dimensional with fill bits before each EOL.
  const tifftest::TStripFile filled =
      tifftest::Tiffcp("-c g3:2d:fill -r 100000", dir.File("raw.tif"), dir.File("fill.tif"));
  ASSERT_TRUE(filled.Ok);
  ASSERT_EQ(filled.Tag(292) & 5u, 5u);
  EXPECT_EQ(Decode(fsG3TwoD, filled.Strips, w, h, 1, true), Inverted(page, w));
}


TEST(CcittInterop, EmptyRunsStayChangesOfTheReferenceRow) {
  if (!tifftest::HaveTool("tiffcp")) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
  // Row 0: H(white 0, black 0), H(white 20, black 10), V0. Row 1 begins with
  // a pass mode over row 0's two empty runs at 0, then copies it by V0s, as
  // does row 2. Bits first left.
  const std::string rows[] = {"001" "00110101" "0000110111" "001" "0001000" "0000100" "1", "0001" "111", "111"};
  const std::string eol = "000000000001";
  const int w = 64, h = 3;
  Bytes row(8, 0);
  SetBlack(row, 20, 30);
  testing_support::TTempFolder dir;
  for (const TScheme scheme : {fsG4, fsG3TwoD}) {
    std::string bits;
    for (const std::string& r : rows) bits += (scheme == fsG4 ? "" : eol + "0") + r;
    bits += scheme == fsG4 ? eol + eol : eol;
    Bytes strip((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
      if (bits[i] == '1') strip[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    std::map<int, std::uint32_t> extra;
    if (scheme == fsG3TwoD) extra[292] = 1;
    codectest::Save(dir.File("fax.tif"), tifftest::MakeTiff(w, h, 1, scheme == fsG4 ? 4 : 3, 0, strip, extra));
    const tifftest::TStripFile plain = tifftest::Tiffcp("-c none", dir.File("fax.tif"), dir.File("plain.tif"));
    ASSERT_TRUE(plain.Ok);
    Rows theirs;
    for (int y = 0; y < h; ++y) theirs.emplace_back(plain.Strips.begin() + y * 8, plain.Strips.begin() + (y + 1) * 8);
    EXPECT_EQ(theirs, Rows(h, row)) << scheme;
    EXPECT_EQ(Decode(scheme, strip, w, h), Inverted(theirs, w)) << scheme;
  }
}

} // namespace
