#include <gtest/gtest.h>

#include <string>

#include "image/io/codectest_util.h"
#include "image/io/pcx/rvpcx.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvprogress.h"
#include "simplecodecs_testutil.h"
#include "support/tempfolder.h"

using namespace rv;
using namespace simplecodecs_test;

namespace {

struct TRead {
  TRvBitmap Bmp;
  TIOParamsVals Params;
  TRvLocalProgress Progress;
  bool Aborted() const { return Progress.Rec.IsAborting(); }
};

void ReadPcx(const Bytes& B, TRead& R, bool HeaderOnly = false) {
  auto S = StreamOf(B);
  PcxReadStream(S, R.Bmp, R.Params, HeaderOnly, R.Progress.Rec, S.Size());
}

Bytes WritePcx(TRvBitmap& Bmp, TIOParamsVals& Params, bool* Aborted = nullptr) {
  platform::TMemoryStream S;
  TRvLocalProgress P;
  PcxWriteStream(S, Bmp, Params, P.Rec);
  if (Aborted) *Aborted = P.Rec.IsAborting();
  return S.Data();
}

// The 128-byte header, field by field.
Bytes Header(int Encoding, int Bits, int Width, int Height, int Planes, int BytesPerLine,
             int HDpi = 72, int VDpi = 72, const std::vector<std::uint32_t>& Palette = {}) {
  Bytes B;
  Put(B, {10, 5, Encoding, Bits}); // manufacturer, version, encoding, bits per pixel
  Put16(B, 0);                     // xmin
  Put16(B, 0);                     // ymin
  Put16(B, Width - 1);             // xmax
  Put16(B, Height - 1);            // ymax
  Put16(B, HDpi);
  Put16(B, VDpi);
  for (int I = 0; I < 16; ++I) {   // palette, red green blue
    const std::uint32_t C = I < static_cast<int>(Palette.size()) ? Palette[static_cast<std::size_t>(I)] : 0;
    Put(B, {static_cast<int>(C >> 16) & 255, static_cast<int>(C >> 8) & 255, static_cast<int>(C) & 255});
  }
  Put(B, {0, Planes});             // reserved, planes
  Put16(B, BytesPerLine);
  Put16(B, 1);                     // palette information
  B.resize(128, 0);
  return B;
}

int Le16(const Bytes& B, std::size_t At) { return B[At] | (B[At + 1] << 8); }

Bytes Repeat(int Count, int Value) { return Bytes(static_cast<std::size_t>(Count), static_cast<std::uint8_t>(Value)); }

Bytes Join(Bytes A, const Bytes& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

} // namespace

// ---- Run-length coding

TEST(PcxCoding, EncodedRowsAtTheRunLimits) {
  const struct {
    Bytes In;
    int Count, Stride, Offset;
    Bytes Out;
  } cases[] = {
      {{0x05, 0xC7, 0x07, 0x07, 0x07, 0x09}, 6, 1, 0, {0x05, 0xC1, 0xC7, 0xC3, 0x07, 0x09}},
      {{0xBF, 0xC0}, 2, 1, 0, {0xBF, 0xC1, 0xC0}},
      {Join(Repeat(69, 0x11), {0x22}), 70, 1, 0, {0xFF, 0x11, 0xC6, 0x11, 0x22}},
      {Repeat(64, 0x11), 64, 1, 0, {0xFF, 0x11, 0x11}},
      {Repeat(63, 0x11), 63, 1, 0, {0xFF, 0x11, 0x00}}, // odd: the pad byte
      {Repeat(3, 0xEE), 3, 1, 0, {0xC3, 0xEE, 0x00}},
      {{1, 2, 3, 1, 2, 4}, 2, 3, 2, {3, 4}}, // the reds of two blue-green-red pixels
  };
  for (const auto& c : cases) {
    Bytes Out(static_cast<std::size_t>(2 * c.Count + 2));
    Out.resize(static_cast<std::size_t>(PcxEncodeRow(Out.data(), c.In.data(), c.Count, c.Stride, c.Offset)));
    EXPECT_EQ(Out, c.Out) << c.Count;
  }
}

TEST(PcxCoding, DecodedLinesCarryRunsOnAndZeroWhatIsMissing) {
  const struct {
    Bytes Data;
    bool Rle;
    int LineBytes;
    Bytes First, Second; // two lines in turn
  } cases[] = {
      {{0xC3, 0x10, 0x20}, true, 2, {0x10, 0x10}, {0x10, 0x20}},
      {{0xC0, 0x55, 0x07, 0xBF, 0xC1, 0xC0}, true, 2, {0x07, 0xBF}, {0xC0, 0}}, // a run of none
      {{0xFF, 0x01}, true, 2, {1, 1}, {1, 1}},
      {{0x09, 0xC4}, true, 2, {0x09, 0}, {0, 0}},
      {{1, 2, 3}, false, 2, {1, 2}, {3, 0}},
      {{9, 8}, false, 1, {9}, {8}},
  };
  for (const auto& c : cases) {
    TRvByteReader In(c.Data.data(), static_cast<std::int64_t>(c.Data.size()));
    TPcxDecodeState State;
    Bytes First(static_cast<std::size_t>(c.LineBytes), 0xAA), Second(First);
    PcxDecodeRow(In, First.data(), c.LineBytes, c.Rle, State);
    PcxDecodeRow(In, Second.data(), c.LineBytes, c.Rle, State);
    EXPECT_EQ(First, c.First) << c.Data.size() << " bytes, rle " << c.Rle;
    EXPECT_EQ(Second, c.Second) << c.Data.size() << " bytes, rle " << c.Rle;
  }
}

// ---- Hand-built files

TEST(PcxRead, HeadersGiveTheParametersOrAreRefused) {
  RvDefaultDpiX = 96;
  RvDefaultDpiY = 97;
  const struct {
    Bytes File;
    int Width, Height, Bits, Samples, Colours, DpiX, DpiY; // Width 0: refused
  } cases[] = {
      {Header(0, 8, 3, 1, 1, 4, 300, 0), 3, 1, 8, 1, 256, 96, 97},
      {Header(1, 8, 3, 2, 1, 4, 0, 200), 3, 2, 8, 1, 256, 96, 97},
      {Header(1, 8, 1, 1, 3, 1, 300, 200), 1, 1, 8, 3, 0, 300, 200},
      {Header(0, 1, 16, 1, 1, 2), 16, 1, 1, 1, 2, 72, 72},
      {Header(0, 4, 3, 1, 1, 2), 3, 1, 4, 1, 16, 72, 72},
      {Header(0, 1, 9, 1, 4, 2), 9, 1, 4, 1, 16, 72, 72},
      {Header(2, 8, 3, 1, 1, 4), 0, 0, 0, 0, 0, 0, 0}, // unknown encoding
      {Header(0, 9, 3, 1, 1, 4), 0, 0, 0, 0, 0, 0, 0},
      {Header(0, 2, 4, 1, 1, 2), 0, 0, 0, 0, 0, 0, 0}, // a layout without a decoder
      {Header(0, 8, 3, 1, 2, 4), 0, 0, 0, 0, 0, 0, 0},
      {Header(0, 8, 0, 1, 1, 4), 0, 0, 0, 0, 0, 0, 0}, // xmax below xmin
      {Header(0, 8, 40, 2, 3, 39), 0, 0, 0, 0, 0, 0, 0}, // line shorter than the picture
      {Header(0, 1, 17, 1, 1, 2), 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    TRead R;
    ReadPcx(c.File, R, true);
    EXPECT_EQ(R.Aborted(), c.Width == 0) << &c - cases;
    EXPECT_EQ(R.Bmp.Width(), 0) << &c - cases; // only the header is read
    if (c.Width == 0) continue;
    const int Got[] = {R.Params.Width, R.Params.Height, R.Params.BitsPerSample, R.Params.SamplesPerPixel,
                       R.Params.ColorMapCount, R.Params.DpiX, R.Params.DpiY};
    const int Want[] = {c.Width, c.Height, c.Bits, c.Samples, c.Colours, c.DpiX, c.DpiY};
    EXPECT_EQ(std::vector<int>(Got, Got + 7), std::vector<int>(Want, Want + 7)) << &c - cases;
  }
  RvDefaultDpiX = RvDefaultDpiY = 0;
  // An origin other than (0, 0): the size is the difference.
  Bytes B = Header(0, 8, 1, 1, 3, 4);
  B[4] = 2, B[6] = 3, B[8] = 5, B[10] = 4; // (2, 3) to (5, 4)
  TRead R;
  ReadPcx(B, R, true);
  EXPECT_EQ(R.Params.Width, 4);
  EXPECT_EQ(R.Params.Height, 2);
  B[0] = 11;
  TRead NotPcx;
  NotPcx.Params.Width = 77;
  ReadPcx(B, NotPcx);
  EXPECT_TRUE(NotPcx.Aborted());
  EXPECT_EQ(NotPcx.Params.Width, 77);
}

TEST(PcxRead, EveryLayoutDecodes) {
  std::vector<std::uint32_t> Pal(16);
  for (int I = 0; I < 16; ++I) Pal[static_cast<std::size_t>(I)] = static_cast<std::uint32_t>(I * 0x101010);
  Bytes EndPalette(769, 0);
  EndPalette[0] = 12;
  EndPalette[1 + 3] = 0xAA; // entry 1 red
  EndPalette[1 + 8] = 0xBB; // entry 2 blue
  const struct {
    Bytes File;
    std::vector<std::uint32_t> Row; // the first row's pixels
  } cases[] = {
      // A red run spilling into the green line.
      {Join(Header(1, 8, 2, 1, 3, 2), {0xC3, 0x10, 0x20, 0x30, 0x31}), {0x101030, 0x102031}},
      // Four planes: plane p sets bit p of the index.
      {Join(Header(0, 1, 2, 1, 4, 2, 72, 72, Pal), {0x80, 0, 0x40, 0, 0xC0, 0, 0, 0}), {0x505050, 0x606060}},
      {Join(Join(Header(0, 8, 3, 1, 1, 4), {2, 1, 0, 0}), EndPalette), {0x0000BB, 0xAA0000, 0}},
      // Two pixels a byte, high nibble first; the odd width leaves a nibble unused.
      {Join(Header(0, 4, 3, 1, 1, 2, 72, 72, Pal), {0x12, 0x3F}), {0x101010, 0x202020, 0x303030}},
      // One bit: set bits white.
      {Join(Header(0, 1, 10, 1, 1, 2), {0xA5, 0x80}),
       {0xFFFFFF, 0, 0xFFFFFF, 0, 0, 0xFFFFFF, 0, 0xFFFFFF, 0xFFFFFF, 0}},
      {Join(Header(1, 8, 1, 1, 3, 1), {7, 8, 9}), {0x070809}},
  };
  for (const auto& c : cases) {
    TRead R;
    ReadPcx(c.File, R);
    ASSERT_FALSE(R.Aborted()) << &c - cases;
    ASSERT_EQ(R.Bmp.Width(), static_cast<int>(c.Row.size()));
    EXPECT_EQ(R.Bmp.PixelFormat(), c.File[3] == 1 && c.File[65] == 1 ? rvpf1Bit : rvpf24Bit);
    for (int X = 0; X < R.Bmp.Width(); ++X) EXPECT_EQ(PixelAt(R.Bmp, X, 0), c.Row[static_cast<std::size_t>(X)]) << &c - cases;
  }
  // Four planes a whole word wide: the second row's padding bits stay out of the first row.
  TRead R;
  ReadPcx(Join(Header(0, 1, 8, 2, 4, 2, 72, 72, Pal), {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}), R);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xF0F0F0u);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 1), 0u);
}

// ---- Broken files

TEST(PcxBroken, MissingDataReadsAsZeros) {
  const struct {
    Bytes File;
    std::uint32_t First, Last; // the ends of the last row
  } cases[] = {
      // Red line, green line, a run count without a value.
      {Join(Header(1, 8, 4, 3, 3, 4), {0xC4, 0x50, 0xC4, 0x60, 0xC4}), 0, 0},
      {Join(Header(0, 8, 2, 2, 3, 2), {1, 2, 3, 4, 5, 6, 7}), 0x070000, 0},
      // Shorter than its palette: a black one.
      {Join(Header(0, 8, 2, 1, 1, 2), {1, 2}), 0, 0},
  };
  for (const auto& c : cases) {
    TRead R;
    ReadPcx(c.File, R);
    ASSERT_FALSE(R.Aborted());
    EXPECT_EQ(PixelAt(R.Bmp, 0, R.Bmp.Height() - 1), c.First) << &c - cases;
    EXPECT_EQ(PixelAt(R.Bmp, R.Bmp.Width() - 1, R.Bmp.Height() - 1), c.Last) << &c - cases;
  }
  TRead R;
  ReadPcx(cases[0].File, R);
  EXPECT_EQ(PixelAt(R.Bmp, 3, 0), 0x506000u);
}

TEST(PcxBroken, EveryTruncationOfAGoodFileIsSafe) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 9, 5);
  TIOParamsVals P;
  for (int Depth : {24, 8}) {
    P.BitsPerSample = 8;
    P.SamplesPerPixel = Depth == 24 ? 3 : 1;
    const Bytes Whole = WritePcx(Bmp, P);
    for (std::size_t N = 0; N < Whole.size(); N += 7) {
      TRead R;
      ReadPcx(Bytes(Whole.begin(), Whole.begin() + static_cast<std::ptrdiff_t>(N)), R);
      // Without the bytes-per-line field the header is unusable.
      if (N < 66) {
        EXPECT_TRUE(R.Aborted()) << N;
      }
    }
  }
}

// ---- Writing

TEST(PcxWrite, HeaderFieldsForEveryDepth) {
  const struct {
    int Bits, Samples;              // asked for
    int Depth, Planes, Bpl, Info;   // written, for a width of 9
  } cases[] = {
      {1, 1, 1, 1, 2, 1},  {1, 3, 1, 1, 2, 1},  {2, 1, 4, 1, 6, 1},  {3, 1, 4, 1, 6, 1},  {4, 1, 4, 1, 6, 1},
      {5, 1, 8, 1, 10, 1}, {2, 4, 8, 1, 10, 1}, {8, 1, 8, 1, 10, 1}, {3, 3, 8, 3, 10, 0}, {8, 3, 8, 3, 10, 0},
      {16, 3, 8, 3, 10, 0},
  };
  TRvBitmap Bmp;
  MakeStripes(Bmp, 9, 2, {0x000000, 0xFFFFFF});
  for (const auto& c : cases)
    for (int Rle : {0, 1}) {
      TIOParamsVals P;
      P.BitsPerSample = c.Bits;
      P.SamplesPerPixel = c.Samples;
      P.PcxCompression = static_cast<std::uint8_t>(Rle);
      P.PcxVersion = 3;
      P.DpiX = 300;
      P.DpiY = 70000; // beyond 16 bits: the largest
      const Bytes B = WritePcx(Bmp, P);
      ASSERT_GE(B.size(), 128u);
      const int Got[] = {B[0], B[1], B[2], B[3], Le16(B, 4), Le16(B, 6), Le16(B, 8), Le16(B, 10), Le16(B, 12),
                         Le16(B, 14), B[65], Le16(B, 66), Le16(B, 68)};
      const int Want[] = {10, 3, Rle, c.Depth, 0, 0, 8, 1, 300, 65535, c.Planes, c.Bpl, c.Info};
      EXPECT_EQ(std::vector<int>(Got, Got + 13), std::vector<int>(Want, Want + 13)) << c.Bits << "x" << c.Samples;
      if (!Rle) {
        const bool EndPalette = c.Depth == 8 && c.Planes == 1;
        EXPECT_EQ(B.size(), 128u + 2 * c.Planes * c.Bpl + (EndPalette ? 769 : 0)) << c.Bits << "x" << c.Samples;
        if (EndPalette) {
          EXPECT_EQ(B[128 + 2 * c.Bpl], 12);
        }
      }
    }
}

TEST(PcxWrite, RoundTripsEveryDepth) {
  struct TCase {
    int Bits, Samples;
    std::vector<std::uint32_t> Colors;
  };
  const std::vector<TCase> Cases = {
      {8, 3, {}},
      {16, 3, {}},
      {8, 1, {0x102030, 0x405060, 0x708090, 0xFF0000, 0x00FF00}},
      {4, 1, {0x000000, 0xFFFFFF, 0x808080, 0x123456, 0xABCDEF, 0x0000FF}},
      {1, 1, {0x000000, 0xFFFFFF}},
  };
  for (const TCase& C : Cases)
    for (int Rle : {0, 1}) {
      TRvBitmap Bmp;
      if (C.Colors.empty())
        MakePattern(Bmp, 21, 6);
      else
        MakeStripes(Bmp, 21, 6, C.Colors);
      TIOParamsVals P;
      P.BitsPerSample = C.Bits;
      P.SamplesPerPixel = C.Samples;
      P.PcxCompression = static_cast<std::uint8_t>(Rle);
      TRead R;
      ReadPcx(WritePcx(Bmp, P), R);
      ASSERT_FALSE(R.Aborted()) << C.Bits << "x" << C.Samples;
      ExpectSamePixels(Bmp, R.Bmp);
      EXPECT_EQ(R.Params.PcxCompression, Rle);
    }
}

TEST(PcxWrite, SizesBeyondSixteenBitsAreRefused) {
  const struct {
    int Width, Height;
    bool Written;
  } cases[] = {{65536, 1, true}, {65537, 1, false}, {1, 65536, true}, {1, 65537, false}, {0, 1, false}};
  for (const auto& c : cases) {
    TRvBitmap Bmp;
    Bmp.Allocate(c.Width, c.Height, rvpf24Bit);
    TIOParamsVals P;
    bool Aborted = false;
    const Bytes B = WritePcx(Bmp, P, &Aborted);
    EXPECT_EQ(Aborted, !c.Written) << c.Width << "x" << c.Height;
    EXPECT_EQ(B.empty(), !c.Written) << c.Width << "x" << c.Height;
    if (c.Written) {
      EXPECT_EQ(Le16(B, 8) + Le16(B, 10), c.Width + c.Height - 2);
    }
  }
}

TEST(PcxWrite, TwoColourPictureAtOneBitKeepsItsColoursInThePalette) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 9, 2, {0xE0D0C0, 0x203040});
  TIOParamsVals P;
  P.BitsPerSample = 1;
  const Bytes B = WritePcx(Bmp, P);
  EXPECT_EQ(B[16], 0x20); // entry 0, the darker colour, red first
  EXPECT_EQ(B[19], 0xE0); // entry 1
  TRead R;
  ReadPcx(B, R);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFFFFFFu); // the lighter colour became white
}

TEST(PcxWrite, AbortFlagStopsWritingAndReading) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 4, 40);
  TIOParamsVals P;
  platform::TMemoryStream S;
  TRvLocalProgress Progress;
  int Reports = 0;
  Progress.Rec.OnProgress = [&](void*, int) {
    if (++Reports == 2) Progress.Rec.Abort();
  };
  PcxWriteStream(S, Bmp, P, Progress.Rec);
  EXPECT_EQ(Reports, 2);
  EXPECT_LT(S.Size(), 128 + 40 * 12);

  TRead R;
  R.Progress.Rec.OnProgress = [&](void*, int) { R.Progress.Rec.Abort(); };
  ReadPcx(Join(Header(1, 8, 1, 2, 3, 1), {7, 8, 9, 7, 8, 9}), R);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0u); // stopped before the first row
}

// ---- Other programs

TEST(PcxInterop, ReadsNetpbmAndImageMagickFiles) {
  if (!HaveTool("ppmtopcx") || !HaveTool("convert")) GTEST_SKIP() << "ppmtopcx or convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 27, 8);
  SaveBytes(Dir.File("src.ppm"), PixmapBytes(Source));
  for (const std::string& Command :
       {"ppmtopcx " + Dir.File("src.ppm"), "convert " + Dir.File("src.ppm") + " pcx:-"}) {
    ASSERT_TRUE(RunTool(Command + " > " + Dir.File("t.pcx")));
    TRead R;
    ReadPcx(LoadBytes(Dir.File("t.pcx")), R);
    ASSERT_FALSE(R.Aborted()) << Command;
    ExpectSamePixels(Source, R.Bmp);
  }
  // A 16-colour picture through netpbm's four-plane and packed forms.
  TRvBitmap Few;
  MakeStripes(Few, 27, 8, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x808080});
  SaveBytes(Dir.File("few.ppm"), PixmapBytes(Few));
  for (const char* Form : {"-planes 4", "-packed", "-8bit"}) {
    ASSERT_TRUE(RunTool(std::string("ppmtopcx ") + Form + " " + Dir.File("few.ppm") + " > " + Dir.File("f.pcx")));
    TRead R;
    ReadPcx(LoadBytes(Dir.File("f.pcx")), R);
    ASSERT_FALSE(R.Aborted()) << Form;
    ExpectSamePixels(Few, R.Bmp);
  }
}

TEST(PcxInterop, OtherProgramsReadOurFiles) {
  if (!HaveTool("pcxtoppm") || !HaveTool("convert")) GTEST_SKIP() << "pcxtoppm or convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 23, 7);
  TRvBitmap Few;
  MakeStripes(Few, 23, 7, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  struct TCase {
    TRvBitmap* Bmp;
    int Bits, Samples;
  };
  for (const TCase& C : {TCase{&Source, 8, 3}, TCase{&Few, 8, 1}, TCase{&Few, 4, 1}}) {
    TIOParamsVals P;
    P.BitsPerSample = C.Bits;
    P.SamplesPerPixel = C.Samples;
    SaveBytes(Dir.File("ours.pcx"), WritePcx(*C.Bmp, P));
    for (const std::string& Command :
         {"pcxtoppm " + Dir.File("ours.pcx") + " | pnmtoplainpnm",
          "convert " + Dir.File("ours.pcx") + " -compress none ppm:-"}) {
      ASSERT_TRUE(RunTool(Command + " > " + Dir.File("back.ppm"))) << Command;
      TPixmap Back;
      ASSERT_TRUE(ParsePixmap(LoadBytes(Dir.File("back.ppm")), Back)) << Command;
      ExpectMatchesPixmap(*C.Bmp, Back);
    }
  }
}

// A file turned a quarter and written back holds the picture turned, pixel
// for pixel, in its own layout: depth, planes, palette entries in their
// order, compression, version and the resolution it stated, turned (none
// where it stated none). ImageMagick finds it turned as it turns the file.
TEST(PcxInterop, TurnedFilesComeBackInTheirOwnLayout) {
  if (!HaveTool("ppmtopcx") || !HaveTool("convert")) GTEST_SKIP() << "ppmtopcx or convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source, Few;
  SaveTurnSources(Dir.Path(), 27, 8, Source, Few);
  // Raw, two pixels a byte, entries in no order of colour; the last two
  // both black, which the save cannot tell apart.
  Bytes Raw = Header(0, 4, 9, 5, 1, 6, 200, 100, {0x3A2B1C, 0xF00F0F, 0x102030, 0x0A0B0C, 0xFEDCBA, 0x778899, 0x000001,
                                                  0x800080, 0x123456, 0x654321, 0xABCDEF, 0x00FF00, 0x5A5A5A, 0x0F0F0F});
  for (int I = 0; I < 30; ++I) Raw.push_back(static_cast<std::uint8_t>(I * 37 % 256));
  const std::string Few4 = " " + Dir.File("few.ppm") + " > ";
  for (const auto& [Make, Dpi] : std::vector<std::pair<std::string, int>>{
           {"convert " + Dir.File("few.ppm") + " -threshold 50% pbm:- | ppmtopcx > ", 150 | 75 << 16},
           {"ppmtopcx -planes 4" + Few4, 300 | 300 << 16}, {"ppmtopcx -packed" + Few4, 0},
           {"ppmtopcx -8bit" + Few4, 72 | 144 << 16}, {"ppmtopcx -24bit " + Dir.File("src.ppm") + " > ", 96 | 48 << 16},
           {"", 0}}) {
    SCOPED_TRACE(Make);
    const std::string WasFile = Dir.File("was.pcx"), NowFile = Dir.File("now.pcx");
    ASSERT_TRUE(Make.empty() || RunTool(Make + WasFile));
    Bytes Was = Make.empty() ? Raw : LoadBytes(WasFile);
    ASSERT_GT(Was.size(), 128u);
    if (!Make.empty())
      for (int I = 0; I < 4; ++I) Was[12 + I] = static_cast<std::uint8_t>(Dpi >> (8 * (I & 1) + 16 * (I / 2)));
    SaveBytes(WasFile, Was);
    TRead R;
    ReadPcx(Was, R);
    ASSERT_FALSE(R.Aborted());
    R.Params.FileType = rvftPCX; // as the input/output component records it
    EXPECT_EQ(R.Params.ColorMapRepeatsUsed, Make.empty());
    TurnClockwise(R.Bmp);
    std::swap(R.Params.DpiX, R.Params.DpiY);
    const Bytes Now = WritePcx(R.Bmp, R.Params);
    SaveBytes(NowFile, Now);
    TRead Back;
    ReadPcx(Now, Back);
    ExpectSamePixels(R.Bmp, Back.Bmp);
    EXPECT_EQ(codectest::Reference(NowFile).Pixels, codectest::Reference(WasFile, "-rotate 90").Pixels);
    // Manufacturer, version, encoding, bits; the sizes and resolutions
    // turned; the header palette, planes and (where a palette is) its kind.
    const auto Field = [](const Bytes& B, std::initializer_list<int> At) {
      std::vector<int> V;
      for (int A : At) V.push_back(A < 8 || A == 65 ? B[A] : Le16(B, A));
      return V;
    };
    EXPECT_EQ(Field(Now, {0, 1, 2, 3, 8, 10, 12, 14, 65}), Field(Was, {0, 1, 2, 3, 10, 8, 14, 12, 65}));
    EXPECT_EQ(Bytes(Now.begin() + 16, Now.begin() + 64), Bytes(Was.begin() + 16, Was.begin() + 64));
    EXPECT_TRUE(Was[65] != 1 || Le16(Now, 68) == Le16(Was, 68));
    EXPECT_TRUE(Was[3] != 8 || Was[65] != 1 || std::equal(Now.end() - 769, Now.end(), Was.end() - 769));
  }
}
