#include <gtest/gtest.h>

#include <string>

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

} // namespace

// ---- Run-length coding

TEST(PcxEncode, HighLiteralBecomesRunOfOne) {
  const std::uint8_t In[] = {0x05, 0xC7, 0x07, 0x07, 0x07, 0x09};
  std::uint8_t Out[16];
  const int N = PcxEncodeRow(Out, In, 6, 1, 0);
  const std::vector<int> Expected = {0x05, 0xC1, 0xC7, 0xC3, 0x07, 0x09};
  ASSERT_EQ(N, 6);
  for (int I = 0; I < N; ++I) EXPECT_EQ(Out[I], Expected[static_cast<std::size_t>(I)]);
}

TEST(PcxEncode, OddCountGetsPadAndRunsStopAt63) {
  std::uint8_t In[70];
  std::fill(In, In + 70, 0x11);
  In[69] = 0x22;
  std::uint8_t Out[160];
  // 69 of 0x11 then 0x22: 63 + 6, the literal, no pad (70 is even).
  ASSERT_EQ(PcxEncodeRow(Out, In, 70, 1, 0), 5);
  EXPECT_EQ(Out[0], 0xFF);
  EXPECT_EQ(Out[2], 0xC6);
  EXPECT_EQ(Out[4], 0x22);
  // Three bytes: the run of 0x11 x 3 and the pad byte 0.
  ASSERT_EQ(PcxEncodeRow(Out, In, 3, 1, 0), 3);
  EXPECT_EQ(Out[2], 0);
}

TEST(PcxEncode, StrideAndOffsetPickOneChannel) {
  const std::uint8_t Bgr[] = {1, 2, 3, 1, 2, 4};
  std::uint8_t Out[8];
  ASSERT_EQ(PcxEncodeRow(Out, Bgr, 2, 3, 2), 2); // reds 3 and 4
  EXPECT_EQ(Out[0], 3);
  EXPECT_EQ(Out[1], 4);
}

// ---- Hand-built files

TEST(PcxRead, RunCrossingPlaneLineCarriesOn) {
  Bytes B = Header(1, 8, 2, 1, 3, 2);
  Put(B, {0xC3, 0x10}); // three of 0x10: both reds and the first green
  Put(B, {0x20});       // second green
  Put(B, {0x30, 0x31}); // blues
  TRead R;
  ReadPcx(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0x101030u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0x102031u);
  EXPECT_EQ(R.Params.BitsPerSample, 8);
  EXPECT_EQ(R.Params.SamplesPerPixel, 3);
}

TEST(PcxRead, FourPlanesOfOneBitReadAsSixteenColours) {
  std::vector<std::uint32_t> Pal(16);
  for (int I = 0; I < 16; ++I) Pal[static_cast<std::size_t>(I)] = static_cast<std::uint32_t>(I * 0x101010);
  Bytes B = Header(0, 1, 2, 1, 4, 2, 72, 72, Pal);
  Put(B, {0x80, 0}); // plane 0: first pixel has bit 0
  Put(B, {0x40, 0}); // plane 1: second pixel has bit 1
  Put(B, {0xC0, 0}); // plane 2: both have bit 2
  Put(B, {0x00, 0}); // plane 3: none
  TRead R;
  ReadPcx(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(R.Bmp.PixelFormat(), rvpf24Bit);
  EXPECT_EQ(R.Params.BitsPerSample, 4);
  EXPECT_EQ(R.Params.SamplesPerPixel, 1);
  EXPECT_EQ(R.Params.ColorMapCount, 16);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 5u * 0x101010u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 6u * 0x101010u);
}

TEST(PcxRead, EightBitUsesEndPaletteAndDefaultDpiInBothDirections) {
  RvDefaultDpiX = 96;
  RvDefaultDpiY = 97;
  Bytes B = Header(0, 8, 3, 1, 1, 4, 300, 0);
  Put(B, {2, 1, 0, 0}); // indices and the pad byte
  B.push_back(12);
  Bytes Pal(768, 0);
  Pal[3] = 0xAA; // entry 1 red
  Pal[8] = 0xBB; // entry 2 blue
  B.insert(B.end(), Pal.begin(), Pal.end());
  TRead R;
  ReadPcx(B, R);
  RvDefaultDpiX = RvDefaultDpiY = 0;
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(R.Params.DpiX, 96);
  EXPECT_EQ(R.Params.DpiY, 97);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0x0000BBu);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0xAA0000u);
  ASSERT_EQ(R.Params.ColorMapCount, 256);
  EXPECT_EQ(R.Params.ColorMap[1].r, 0xAA);
}

TEST(PcxRead, OneBitKeepsSetBitsWhite) {
  Bytes B = Header(0, 1, 10, 1, 1, 2);
  Put(B, {0xA5, 0x80});
  TRead R;
  ReadPcx(B, R);
  EXPECT_EQ(R.Bmp.PixelFormat(), rvpf1Bit);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0u);
  EXPECT_EQ(PixelAt(R.Bmp, 8, 0), 0xFFFFFFu);
}

TEST(PcxRead, NotPcxChangesNothing) {
  Bytes B = Header(0, 8, 3, 1, 3, 4);
  B[0] = 11;
  TRead R;
  R.Params.Width = 77;
  ReadPcx(B, R);
  EXPECT_TRUE(R.Aborted());
  EXPECT_EQ(R.Params.Width, 77);
}

// ---- Mends and broken files

TEST(PcxMend, LineShorterThanPictureIsRefused) {
  Bytes B = Header(0, 8, 40, 2, 3, 8); // 40 pixels but 8 bytes per line
  B.resize(B.size() + 200, 1);
  TRead R;
  ReadPcx(B, R);
  EXPECT_TRUE(R.Aborted());
}

TEST(PcxMend, LayoutWithoutDecoderIsAnErrorNotABlankPicture) {
  Bytes B = Header(0, 2, 4, 1, 1, 2); // 2 bits in one plane
  Put(B, {0x1B, 0});
  TRead R;
  ReadPcx(B, R);
  EXPECT_TRUE(R.Aborted());
}

TEST(PcxBroken, TruncatedDataGivesPartialPicture) {
  Bytes B = Header(1, 8, 4, 3, 3, 4);
  Put(B, {0xC4, 0x50, 0xC4, 0x60, 0xC4}); // red line, green line, a run count without value
  TRead R;
  ReadPcx(B, R);
  EXPECT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 3, 0), 0x506000u);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 2), 0u);
}

TEST(PcxBroken, EightBitFileShorterThanItsPalette) {
  Bytes B = Header(0, 8, 2, 1, 1, 2);
  Put(B, {1, 2});
  TRead R;
  ReadPcx(B, R);
  EXPECT_FALSE(R.Aborted());
  EXPECT_EQ(R.Bmp.Width(), 2);
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

TEST(PcxWrite, OddWidthAtEightBitsPadsTheLine) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 5, 2, {0x112233, 0x445566, 0x778899});
  TIOParamsVals P;
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  P.PcxCompression = 0;
  const Bytes B = WritePcx(Bmp, P);
  EXPECT_EQ(Le16(B, 66), 6);
  EXPECT_EQ(B[3], 8);
  EXPECT_EQ(B[65], 1);
  ASSERT_EQ(B.size(), 128u + 2 * 6 + 1 + 768);
  EXPECT_EQ(B[128 + 12], 12);
}

TEST(PcxWrite, RoundTripsEveryDepth) {
  struct TCase {
    int Bits, Samples;
    std::vector<std::uint32_t> Colors;
  };
  const std::vector<TCase> Cases = {
      {8, 3, {}},
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

TEST(PcxMend, UnsupportedDepthIsConvertedNotWrittenInvalid) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 8, 3);
  TIOParamsVals P;
  P.BitsPerSample = 16;
  P.SamplesPerPixel = 3;
  TRead R;
  ReadPcx(WritePcx(Bmp, P), R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(R.Params.SamplesPerPixel, 3);
  ExpectSamePixels(Bmp, R.Bmp);
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

TEST(PcxWrite, AbortFlagStopsWriting) {
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
