#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "image/io/pnm/rvpnm.h"
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

void ReadPnm(const Bytes& B, TRead& R, bool HeaderOnly = false) {
  auto S = StreamOf(B);
  PnmReadStream(S, R.Bmp, R.Params, R.Progress.Rec, HeaderOnly);
}

Bytes WritePnm(TRvBitmap& Bmp, TIOParamsVals& Params, bool* Aborted = nullptr) {
  platform::TMemoryStream S;
  TRvLocalProgress P;
  PnmWriteStream(S, Bmp, Params, P.Rec);
  if (Aborted) *Aborted = P.Rec.IsAborting();
  return S.Data();
}

std::string Text(const Bytes& B, std::size_t N) {
  return std::string(B.begin(), B.begin() + static_cast<std::ptrdiff_t>(std::min(N, B.size())));
}

} // namespace

// ---- Hand-built files

TEST(PnmRead, PlainBitmapZeroIsWhite) {
  Bytes B;
  PutText(B, "P1\n2 2\n"); // magic, width 2, height 2
  PutText(B, "0 1\n1 0\n"); // pixels: 0 white, 1 black
  TRead R;
  ReadPnm(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(R.Bmp.PixelFormat(), rvpf1Bit);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0u);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 1), 0u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(R.Params.BitsPerSample, 1);
  EXPECT_EQ(R.Params.SamplesPerPixel, 1);
}

TEST(PnmRead, GrayMaximum15Scales) {
  Bytes B;
  PutText(B, "P5 2 1 15\n"); // magic, width 2, height 1, maximum 15
  Put(B, {15, 7});           // the two samples
  TRead R;
  ReadPnm(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0x777777u); // 7 x 255 / 15 = 119
}

TEST(PnmRead, CommentBeforeWidthIsKeptTrimmed) {
  Bytes B;
  PutText(B, "P2\n#   made by hand  \n1 1\n255\n200\n");
  TRead R;
  ReadPnm(B, R);
  ASSERT_EQ(R.Params.PnmComments.size(), 1u);
  EXPECT_EQ(R.Params.PnmComments[0], "made by hand");
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xC8C8C8u);
}

TEST(PnmRead, CommentAmongSamplesTakesOneSample) {
  Bytes B;
  PutText(B, "P3 2 1 255\n10 20 #note\n 40 50 60 70\n");
  TRead R;
  ReadPnm(B, R);
  // red 10, green 20, blue = the comment (0); then 40 50 60
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0x0A1400u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0x28323Cu);
}

TEST(PnmRead, BinaryColourSwapsToBlueGreenRed) {
  Bytes B;
  PutText(B, "P6 1 1 255\n");
  Put(B, {1, 2, 3}); // red, green, blue
  TRead R;
  ReadPnm(B, R);
  EXPECT_EQ(R.Bmp.Scanline(0)[0], 3);
  EXPECT_EQ(R.Bmp.Scanline(0)[2], 1);
  EXPECT_EQ(R.Params.SamplesPerPixel, 3);
}

TEST(PnmRead, HeaderOnlyAllocatesNothing) {
  Bytes B;
  PutText(B, "P6 4000 3000 255\n");
  TRead R;
  ReadPnm(B, R, true);
  EXPECT_FALSE(R.Aborted());
  EXPECT_EQ(R.Params.Width, 4000);
  EXPECT_EQ(R.Params.Height, 3000);
  EXPECT_EQ(R.Bmp.Width(), 0);
}

TEST(PnmProbe, RecognisesAndRestoresPosition) {
  Bytes Good;
  PutText(Good, "xxP4 # c\n 8 1\n");
  auto S = StreamOf(Good);
  S.SetPosition(2);
  EXPECT_TRUE(IsPnmStream(S));
  EXPECT_EQ(S.Position(), 2);
  Bytes Bad;
  PutText(Bad, "P7 8 1 255\n");
  auto S2 = StreamOf(Bad);
  EXPECT_FALSE(IsPnmStream(S2));
  Bytes NoHeight;
  PutText(NoHeight, "P5 8 x 255\n");
  auto S3 = StreamOf(NoHeight);
  EXPECT_FALSE(IsPnmStream(S3));
}

// ---- Mends

TEST(PnmMend, MaximumZeroIsRefused) {
  Bytes B;
  PutText(B, "P2 1 1 0\n5\n");
  TRead R;
  ReadPnm(B, R);
  EXPECT_TRUE(R.Aborted());
}

TEST(PnmMend, SixteenBitSamplesAreTwoBytesHighFirst) {
  Bytes B;
  PutText(B, "P6 1 1 65535\n");
  Put(B, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0xFF}); // red 65535, green 32768, blue 255
  TRead R;
  ReadPnm(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFF7F00u); // 32768 x 255 / 65535 = 127, 255 x 255 / 65535 = 0
}

TEST(PnmMend, ColourSamplesScaleToTheirMaximum) {
  Bytes B;
  PutText(B, "P6 1 1 15\n");
  Put(B, {15, 7, 0});
  TRead R;
  ReadPnm(B, R);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFF7700u);
}

TEST(PnmMend, SampleAboveMaximumIsClamped) {
  Bytes B;
  PutText(B, "P5 1 1 100\n");
  Put(B, {200});
  TRead R;
  ReadPnm(B, R);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFFFFFFu);
}

// ---- Broken input

TEST(PnmBroken, TruncatedBinaryGivesPartialPicture) {
  Bytes B;
  PutText(B, "P6 2 2 255\n");
  Put(B, {1, 2, 3, 4, 5, 6, 7}); // one row and one byte of the next
  TRead R;
  ReadPnm(B, R);
  EXPECT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0x040506u);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 1), 0x070000u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 1), 0u);
}

TEST(PnmBroken, BadSizesAndMagicAbort) {
  for (const char* Text : {"P6 0 5 255\n", "P9 3 5 255\n", "P5 99999999999 1 255\n", ""}) {
    Bytes B;
    PutText(B, Text);
    TRead R;
    ReadPnm(B, R);
    EXPECT_TRUE(R.Aborted()) << Text;
  }
}

TEST(PnmBroken, PictureOverThePixelCapIsRefused) {
  const auto Saved = RvMaxPixels();
  RvSetMaxPixels(1000);
  Bytes B;
  PutText(B, "P5 100 11 255\n");
  TRead R;
  ReadPnm(B, R);
  RvSetMaxPixels(Saved);
  EXPECT_TRUE(R.Aborted());
  EXPECT_EQ(R.Bmp.Width(), 0);
}

TEST(PnmRead, AbortFlagStopsReading) {
  Bytes B;
  PutText(B, "P5 1 50 255\n");
  B.resize(B.size() + 50, 9);
  TRead R;
  int Reports = 0;
  R.Progress.Rec.OnProgress = [&](void*, int) {
    if (++Reports == 3) R.Progress.Rec.Abort();
  };
  ReadPnm(B, R);
  EXPECT_EQ(Reports, 3);
}

// ---- Writing

TEST(PnmWrite, GrayFromColourWithComments) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 2, 1, {0xFF0000, 0x00FF00});
  TIOParamsVals P;
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  P.PnmComments = {"one", "two"};
  const Bytes B = WritePnm(Bmp, P);
  const std::string Expected = "P5 \n# one\n\n# two\n2 1 255\n";
  ASSERT_EQ(Text(B, Expected.size()), Expected);
  ASSERT_EQ(B.size(), Expected.size() + 2);
  EXPECT_EQ(B[Expected.size()], 53);      // (255 x 21) div 100
  EXPECT_EQ(B[Expected.size() + 1], 181); // (255 x 71) div 100
}

TEST(PnmWrite, BitmapInvertsBits) {
  TRvBitmap Bmp;
  Bmp.Allocate(10, 1, rvpf1Bit);
  Bmp.Scanline(0)[0] = 0xF0; // four white, four black
  Bmp.Scanline(0)[1] = 0x40;
  TIOParamsVals P;
  const Bytes B = WritePnm(Bmp, P);
  ASSERT_EQ(Text(B, 8), "P4 10 1\n");
  ASSERT_EQ(B.size(), 10u);
  EXPECT_EQ(B[8], 0x0F);
  EXPECT_EQ(B[9] & 0xC0, 0x80);
}

TEST(PnmWrite, ColourPictureAskedForOneBitIsReducedNotReinterpreted) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 6, 2, {0x102030, 0xF0E0D0});
  TIOParamsVals P;
  P.BitsPerSample = 1;
  P.SamplesPerPixel = 1;
  TRead R;
  ReadPnm(WritePnm(Bmp, P), R);
  ASSERT_FALSE(R.Aborted());
  for (int X = 0; X < 6; ++X)
    EXPECT_EQ(PixelAt(R.Bmp, X, 0), PixelAt(Bmp, X, 0) == 0x102030 ? 0u : 0xFFFFFFu);
}

TEST(PnmWrite, RoundTripColour) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 31, 17);
  TIOParamsVals P;
  TRead R;
  ReadPnm(WritePnm(Bmp, P), R);
  ExpectSamePixels(Bmp, R.Bmp);
}

TEST(PnmWrite, EmptyPictureIsAnError) {
  TRvBitmap Bmp;
  TIOParamsVals P;
  bool Aborted = false;
  EXPECT_TRUE(WritePnm(Bmp, P, &Aborted).empty());
  EXPECT_TRUE(Aborted);
}

// ---- Other programs

TEST(PnmInterop, ReadsNetpbmPlainAndRawForms) {
  if (!HaveTool("pnmtoplainpnm") || !HaveTool("pgmramp")) GTEST_SKIP() << "netpbm missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 23, 9);
  SaveBytes(Dir.File("src.ppm"), PixmapBytes(Source));
  ASSERT_TRUE(RunTool("pnmtoplainpnm " + Dir.File("src.ppm") + " > " + Dir.File("plain.ppm")));
  TRead Plain;
  ReadPnm(LoadBytes(Dir.File("plain.ppm")), Plain);
  ExpectSamePixels(Source, Plain.Bmp);

  ASSERT_TRUE(RunTool("pgmramp -lr 40 3 > " + Dir.File("ramp.pgm")));
  ASSERT_TRUE(RunTool("pnmtoplainpnm " + Dir.File("ramp.pgm") + " | pgmtoppm white | pnmtoplainpnm > " +
                  Dir.File("ramp.ppm")));
  TRead Ramp;
  ReadPnm(LoadBytes(Dir.File("ramp.pgm")), Ramp);
  TPixmap Expected;
  ASSERT_TRUE(ParsePixmap(LoadBytes(Dir.File("ramp.ppm")), Expected));
  ExpectMatchesPixmap(Ramp.Bmp, Expected);
}

TEST(PnmInterop, ReadsImageMagickSixteenBitAndBitmap) {
  if (!HaveTool("convert")) GTEST_SKIP() << "convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 13, 7);
  SaveBytes(Dir.File("src.ppm"), PixmapBytes(Source));
  ASSERT_TRUE(RunTool("convert " + Dir.File("src.ppm") + " -depth 16 " + Dir.File("deep.ppm")));
  TRead Deep;
  ReadPnm(LoadBytes(Dir.File("deep.ppm")), Deep);
  ASSERT_EQ(Deep.Params.Width, 13);
  ExpectSamePixels(Source, Deep.Bmp);

  ASSERT_TRUE(RunTool("convert " + Dir.File("src.ppm") + " -threshold 50% " + Dir.File("bw.pbm")));
  ASSERT_TRUE(RunTool("convert " + Dir.File("bw.pbm") + " -compress none " + Dir.File("bw.ppm")));
  TRead Bw;
  ReadPnm(LoadBytes(Dir.File("bw.pbm")), Bw);
  TPixmap Expected;
  ASSERT_TRUE(ParsePixmap(LoadBytes(Dir.File("bw.ppm")), Expected));
  ExpectMatchesPixmap(Bw.Bmp, Expected);
}

TEST(PnmInterop, NetpbmReadsOurFiles) {
  if (!HaveTool("pnmtoplainpnm") || !HaveTool("pgmtoppm")) GTEST_SKIP() << "netpbm missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 19, 11);
  TIOParamsVals P;
  P.PnmComments = {"written by us"};
  SaveBytes(Dir.File("ours.ppm"), WritePnm(Source, P));
  ASSERT_TRUE(RunTool("pnmtoplainpnm " + Dir.File("ours.ppm") + " > " + Dir.File("plain.ppm")));
  TPixmap Theirs;
  ASSERT_TRUE(ParsePixmap(LoadBytes(Dir.File("plain.ppm")), Theirs));
  ExpectMatchesPixmap(Source, Theirs);

  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  SaveBytes(Dir.File("ours.pgm"), WritePnm(Source, P));
  ASSERT_TRUE(RunTool("pgmtoppm white " + Dir.File("ours.pgm") + " | pnmtoplainpnm > " + Dir.File("gray.ppm")));
  TPixmap Gray;
  ASSERT_TRUE(ParsePixmap(LoadBytes(Dir.File("gray.ppm")), Gray));
  for (int Y = 0; Y < 11; ++Y)
    for (int X = 0; X < 19; ++X) {
      const std::uint32_t C = PixelAt(Source, X, Y);
      const std::uint32_t G = static_cast<std::uint32_t>(RvGray(C >> 16, (C >> 8) & 255, C & 255));
      ASSERT_EQ(Gray.At(X, Y), G * 0x010101u);
    }
}

// A save writes back the file's form, plain or binary, and its maximum (two
// bytes a sample above 255) while every level is one of it, else 255; a
// depth over 8 bits is recorded for the save to ask about. Netpbm agrees.
TEST(PnmWrite, TheFilesFormAndMaximumComeBack) {
  const auto File = [](const std::string& Head, std::initializer_list<int> Samples) {
    Bytes B;
    PutText(B, Head);
    Put(B, Samples);
    return B;
  };
  const struct {
    Bytes In;
    int Bits;
    std::string Netpbm;
    bool Same;
  } Cases[] = {{File("P5 2 1 65535\n", {0x12, 0x34, 0xFF, 0xFF}), 16, "PGM raw, 2 by 1  maxval 65535", false},
               {File("P6 1 1 65535\n", {0, 0, 0x80, 0x80, 0xFF, 0xFF}), 16, "PPM raw, 1 by 1  maxval 65535", true},
               {File("P5 3 1 15\n", {15, 7, 0}), 8, "PGM raw, 3 by 1  maxval 15", true},
               {File("P2 3 1 15\n0 7 15\n", {}), 8, "PGM plain, 3 by 1  maxval 15", true},
               {File("P3 2 1 1023\n1023 0 512 4 8 9\n", {}), 10, "PPM plain, 2 by 1  maxval 1023", false},
               {File("P1 3 2\n010101\n", {}), 1, "PBM plain, 3 by 2", false}};
  testing_support::TTempFolder Dir;
  for (const auto& C : Cases) {
    TRead R, Again;
    ReadPnm(C.In, R);
    EXPECT_EQ(std::tuple(R.Params.BitsPerSample, R.Params.DpiStated), std::tuple(C.Bits, false)) << C.Netpbm;
    const Bytes Out = WritePnm(R.Bmp, R.Params);
    EXPECT_TRUE(!C.Same || Out == C.In) << C.Netpbm;
    ReadPnm(Out, Again);
    ExpectSamePixels(R.Bmp, Again.Bmp);
    SaveBytes(Dir.File("out.pnm"), Out);
    EXPECT_TRUE(!HaveTool("pamfile") || RunTool("pamfile " + Dir.File("out.pnm") + " | grep -q '" + C.Netpbm + "'"))
        << C.Netpbm;
  }
  // A level an edit made that a maximum of 15 has not.
  TRead R;
  ReadPnm(File("P5 1 1 15\n", {7}), R);
  std::memset(R.Bmp.Scanline(0), 100, 3);
  EXPECT_EQ(Text(WritePnm(R.Bmp, R.Params), 10), "P5 1 1 255");
}
