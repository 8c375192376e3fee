#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "image/io/codectest_util.h"
#include "image/io/rvsafeio.h"
#include "image/io/tga/rvtga.h"
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
  std::unique_ptr<TRvMask> Mask;
  bool Aborted() const { return Progress.Rec.IsAborting(); }
};

void ReadTga(const Bytes& B, TRead& R, bool HeaderOnly = false) {
  auto S = StreamOf(B);
  TgaReadStream(S, R.Bmp, R.Params, R.Progress.Rec, HeaderOnly, R.Mask, HeaderOnly);
}

Bytes WriteTga(TRvBitmap& Bmp, TIOParamsVals& Params, const TRvMask* Mask = nullptr) {
  platform::TMemoryStream S;
  TRvLocalProgress P;
  TgaWriteStream(S, Bmp, Params, Mask, P.Rec);
  EXPECT_FALSE(P.Rec.IsAborting());
  return S.Data();
}

// The 18-byte header, field by field.
Bytes Header(int Type, int Width, int Height, int Depth, int Descriptor, int MapType = 0,
             int MapLength = 0, int EntrySize = 0, int IdLength = 0, int FirstEntry = 0) {
  Bytes B;
  Put(B, {IdLength, MapType, Type}); // ID length, colour-map type, image type
  Put16(B, FirstEntry);               // first colour-map entry
  Put16(B, MapLength);                // colour-map length
  Put(B, {EntrySize});                // entry size in bits
  Put16(B, 3);                        // x origin
  Put16(B, 4);                        // y origin
  Put16(B, Width);
  Put16(B, Height);
  Put(B, {Depth, Descriptor});
  return B;
}

int Le16(const Bytes& B, std::size_t At) { return B[At] | (B[At + 1] << 8); }

} // namespace

// ---- Hand-built files

TEST(TgaRead, NoFooterGivesDefaults) {
  Bytes B = Header(2, 1, 1, 24, 0x20);
  Put(B, {1, 2, 3}); // blue, green, red
  TRead R;
  R.Params.TgaAuthor = "stale";
  ReadTga(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0x030201u);
  EXPECT_TRUE(R.Params.TgaAuthor.empty());
  EXPECT_DOUBLE_EQ(R.Params.TgaGamma, 2.2);
  EXPECT_DOUBLE_EQ(R.Params.TgaAspectRatio, 1.0);
  EXPECT_NEAR(R.Params.TgaDateTime, RvNow(), 1.0 / 1440);
  EXPECT_EQ(R.Params.TgaXPos, 3);
  EXPECT_EQ(R.Params.TgaYPos, 4);
  EXPECT_FALSE(R.Params.TgaCompressed);
}

TEST(TgaRead, BottomUpRunLengthEqualsTopDownRaw) {
  Bytes Raw = Header(2, 2, 2, 24, 0x20);
  Put(Raw, {10, 10, 10, 20, 20, 20}); // top row
  Put(Raw, {30, 30, 30, 30, 30, 30}); // bottom row
  Bytes Rle = Header(10, 2, 2, 24, 0x00);
  Put(Rle, {0x81, 30, 30, 30});             // bottom row first: run of two
  Put(Rle, {0x01, 10, 10, 10, 20, 20, 20}); // top row: raw packet of two
  TRead A, B;
  ReadTga(Raw, A);
  ReadTga(Rle, B);
  ASSERT_FALSE(B.Aborted());
  ExpectSamePixels(A.Bmp, B.Bmp);
  EXPECT_TRUE(B.Params.TgaCompressed);
}

TEST(TgaRead, PixelsAndAlphaOfEveryDepth) {
  const auto File = [](Bytes Head, std::initializer_list<int> Data) {
    Put(Head, Data);
    return Head;
  };
  Bytes WithId = Header(3, 1, 1, 8, 0x20, 0, 0, 0, 4);
  PutText(WithId, "abc");
  struct TCase {
    const char* Name;
    Bytes Data;
    int Bits, Samples;
    std::vector<std::uint32_t> Pixels; // 0x00RRGGBB
    std::vector<int> Alpha;            // empty: no mask
  } Cases[] = {
      // 5-5-5 words, each channel shifted left by 3; right to left.
      {"16-bit colour", File(Header(2, 2, 1, 16, 0x30), {0x00, 0x7C, 0x1F, 0x00}), 5, 3, {0x0000F8, 0xF80000}, {}},
      {"map from entry 5", File(Header(1, 2, 1, 8, 0x20, 1, 2, 24, 0, 5), {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 5, 6}),
       8, 1, {0x332211, 0x665544}, {}},
      {"gray with an image id", File(WithId, {0, 0x7F}), 8, 1, {0x7F7F7F}, {}},
      {"32-bit with alpha", File(Header(2, 2, 1, 32, 0x28), {1, 2, 3, 200, 4, 5, 6, 0}), 8, 4, {0x030201, 0x060504},
       {200, 0}},
      // 16-bit gray (types 3 and 11): gray in the low byte, alpha in the high one.
      {"16-bit gray", File(Header(3, 3, 1, 16, 0x28), {10, 255, 50, 128, 90, 0}), 8, 2, {0x0A0A0A, 0x323232, 0x5A5A5A},
       {255, 128, 0}},
      {"16-bit gray run-length", File(Header(11, 3, 1, 16, 0x28), {0x80, 10, 255, 0x01, 50, 128, 90, 0}), 8, 2,
       {0x0A0A0A, 0x323232, 0x5A5A5A}, {255, 128, 0}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRead R;
    ReadTga(C.Data, R);
    ASSERT_FALSE(R.Aborted());
    EXPECT_EQ(R.Params.BitsPerSample, C.Bits);
    EXPECT_EQ(R.Params.SamplesPerPixel, C.Samples);
    ASSERT_EQ(R.Mask != nullptr, !C.Alpha.empty());
    for (int X = 0; X < static_cast<int>(C.Pixels.size()); ++X) {
      EXPECT_EQ(PixelAt(R.Bmp, X, 0), C.Pixels[static_cast<std::size_t>(X)]) << X;
      if (R.Mask) {
        EXPECT_EQ(R.Mask->ScanLine(0)[X], C.Alpha[static_cast<std::size_t>(X)]) << X;
      }
    }
  }
  TRead Gray, Mapped;
  ReadTga(Cases[2].Data, Gray);
  ReadTga(Cases[1].Data, Mapped);
  EXPECT_EQ(Gray.Params.TgaImageId, "abc");
  EXPECT_TRUE(Gray.Params.TgaGrayLevel);
  EXPECT_FALSE(Mapped.Params.TgaGrayLevel);
  EXPECT_EQ(Mapped.Params.ColorMapCount, 2);
}

TEST(TgaProbe, TypesDepthsAndPgmLookalike) {
  Bytes Good = Header(10, 1, 1, 24, 0);
  auto S = StreamOf(Good);
  EXPECT_TRUE(IsTgaStream(S));
  EXPECT_EQ(S.Position(), 0);
  Bytes BadDepth = Header(2, 1, 1, 12, 0);
  auto S2 = StreamOf(BadDepth);
  EXPECT_FALSE(IsTgaStream(S2));
  // ID length 'P', colour-map type '5' and image type 10, a line feed: the
  // start of a gray map, not taken for TGA.
  Bytes Lookalike = Header(10, 1, 1, 24, 0);
  Lookalike[0] = 'P';
  Lookalike[1] = '5';
  auto S3 = StreamOf(Lookalike);
  EXPECT_FALSE(IsTgaStream(S3));
  Lookalike[1] = '1';
  auto S4 = StreamOf(Lookalike);
  EXPECT_TRUE(IsTgaStream(S4));
}

// ---- Mends and broken files

TEST(TgaMend, RunPacketCrossingTheRowEndCarriesOn) {
  Bytes B = Header(10, 2, 2, 24, 0x20);
  Put(B, {0x82, 9, 8, 7});   // a run of three: both pixels of row 0, the first of row 1
  Put(B, {0x00, 1, 2, 3});   // one raw pixel
  TRead R;
  ReadTga(B, R);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 1), 0x070809u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 1), 0x030201u);
}

TEST(TgaMend, MapEntriesBeyond256StayOutside) {
  Bytes B = Header(1, 1, 1, 8, 0x20, 1, 4, 24, 0, 254);
  for (int I = 0; I < 4; ++I) Put(B, {I, I, I}); // entries 254 .. 257
  Put(B, {255});
  TRead R;
  ReadTga(B, R);
  ASSERT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0x010101u);
}

TEST(TgaBroken, BadHeadersAbort) {
  for (const Bytes& B : {Header(4, 1, 1, 24, 0), Header(2, 0, 1, 24, 0), Header(2, 1, 1, 7, 0),
                         Bytes{2, 0, 2}}) {
    TRead R;
    ReadTga(B, R);
    EXPECT_TRUE(R.Aborted());
  }
}

TEST(TgaBroken, TruncatedRunLengthDataGivesPartialPicture) {
  Bytes B = Header(10, 3, 2, 24, 0x20);
  Put(B, {0x7F, 1, 2, 3}); // a raw packet of 128 pixels with one present
  TRead R;
  ReadTga(B, R);
  EXPECT_FALSE(R.Aborted());
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0x030201u);
  EXPECT_EQ(PixelAt(R.Bmp, 2, 1), 0u);
}

TEST(TgaBroken, FooterPointingOutsideKeepsDefaults) {
  Bytes B = Header(2, 1, 1, 24, 0x20);
  Put(B, {1, 2, 3});
  Put(B, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}); // extension offset far away
  PutText(B, "TRUEVISION-XFILE.");
  B.push_back(0);
  TRead R;
  ReadTga(B, R);
  EXPECT_FALSE(R.Aborted());
  EXPECT_DOUBLE_EQ(R.Params.TgaGamma, 2.2);
}

TEST(TgaRead, AbortFlagStopsReading) {
  Bytes B = Header(3, 1, 30, 8, 0x20);
  B.resize(B.size() + 30, 5);
  TRead R;
  int Reports = 0;
  R.Progress.Rec.OnProgress = [&](void*, int) {
    if (++Reports == 4) R.Progress.Rec.Abort();
  };
  ReadTga(B, R);
  EXPECT_EQ(Reports, 4);
}

// ---- Writing

TEST(TgaWrite, ExtensionAreaAndFooter) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 3, 2);
  TIOParamsVals P;
  P.TgaCompressed = false;
  P.TgaAuthor = "Author";
  P.TgaJobName = std::string(60, 'j');
  ASSERT_TRUE(RvEncodeDateTime(2021, 3, 14, 15, 9, 26, P.TgaDateTime));
  RvCreateRGB(1, 2, 3, P.TgaKeyColor);
  const Bytes B = WriteTga(Bmp, P);
  ASSERT_EQ(B.size(), 18u + 1 + 18 + 495 + 26);
  const std::size_t E = 18 + 1 + 18;
  EXPECT_EQ(Le16(B, E), 495);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&B[E + 2])), "Author");
  EXPECT_EQ(Le16(B, E + 367), 3);
  EXPECT_EQ(Le16(B, E + 369), 14);
  EXPECT_EQ(Le16(B, E + 371), 2021);
  EXPECT_EQ(Le16(B, E + 377), 26);
  EXPECT_EQ(B[E + 379 + 40], 0); // the job name cut to 40 characters
  EXPECT_EQ(B[E + 471], 1);
  EXPECT_EQ(Le16(B, E + 478), 22000);
  EXPECT_EQ(Le16(B, E + 480), 10000);
  EXPECT_EQ(B[B.size() - 26], E); // extension offset
  TRead R;
  ReadTga(B, R);
  EXPECT_DOUBLE_EQ(R.Params.TgaGamma, 2.2);
  EXPECT_EQ(R.Params.TgaAuthor, "Author");
  EXPECT_EQ(R.Params.TgaJobName, std::string(40, 'j'));
  EXPECT_DOUBLE_EQ(R.Params.TgaDateTime, P.TgaDateTime);
  EXPECT_EQ(R.Params.TgaKeyColor.r, 1);
  ExpectSamePixels(Bmp, R.Bmp);
}

TEST(TgaMend, OneAndFourBitPicturesAreWrittenAsEightBit) {
  TRvBitmap Bw;
  Bw.Allocate(9, 2, rvpf1Bit);
  Bw.Scanline(0)[0] = 0xA5;
  Bw.Scanline(1)[0] = 0x3C;
  Bw.Scanline(1)[1] = 0x80;
  TIOParamsVals P;
  P.BitsPerSample = 1;
  P.SamplesPerPixel = 1;
  Bytes B = WriteTga(Bw, P);
  EXPECT_EQ(B[2], 3);  // gray
  EXPECT_EQ(B[16], 8); // eight bits per pixel
  EXPECT_EQ(Le16(B, 5), 0);
  TRead R;
  ReadTga(B, R);
  ExpectSamePixels(Bw, R.Bmp);

  TRvBitmap Few;
  MakeStripes(Few, 7, 3, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456});
  TIOParamsVals P4;
  P4.BitsPerSample = 4;
  P4.SamplesPerPixel = 1;
  B = WriteTga(Few, P4);
  EXPECT_EQ(B[1], 1);
  EXPECT_EQ(B[2], 1);
  EXPECT_EQ(Le16(B, 5), 16);
  EXPECT_EQ(B[16], 8);
  EXPECT_EQ(P4.ColorMapCount, 16);
  TRead R4;
  ReadTga(B, R4);
  ExpectSamePixels(Few, R4.Bmp);
}

TEST(TgaMend, LongImageIdIsCutToItsLengthByte) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 2, 2);
  TIOParamsVals P;
  P.TgaImageId = std::string(300, 'x');
  const Bytes B = WriteTga(Bmp, P);
  EXPECT_EQ(B[0], 255);
  EXPECT_EQ(B[18 + 254], 0);
  TRead R;
  ReadTga(B, R);
  EXPECT_EQ(R.Params.TgaImageId, std::string(254, 'x'));
  ExpectSamePixels(Bmp, R.Bmp);
}

TEST(TgaMend, GrayFileHasZeroColourMapFields) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 5, 2, {0x101010, 0x808080, 0xF0F0F0});
  TIOParamsVals P;
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  P.TgaGrayLevel = true;
  const Bytes B = WriteTga(Bmp, P);
  EXPECT_EQ(B[1], 0);
  EXPECT_EQ(B[2], 11);
  EXPECT_EQ(Le16(B, 5), 0);
  EXPECT_EQ(B[7], 0);
  TRead R;
  ReadTga(B, R);
  ExpectSamePixels(Bmp, R.Bmp);
}

// ---- Other programs

TEST(TgaInterop, ReadsNetpbmAndImageMagickFiles) {
  if (!HaveTool("ppmtotga") || !HaveTool("convert")) GTEST_SKIP() << "ppmtotga or convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 29, 9);
  for (int X = 3; X < 20; ++X) std::memcpy(Source.Scanline(4) + 3 * X, Source.Scanline(4), 3);
  SaveBytes(Dir.File("src.ppm"), PixmapBytes(Source));
  for (const std::string& Command :
       {"ppmtotga -rgb " + Dir.File("src.ppm"), "ppmtotga -rgb -norle " + Dir.File("src.ppm"),
        // ImageMagick 6 stores its rows top first whatever the descriptor says
        // unless it is told so; netpbm and we follow the descriptor.
        "convert " + Dir.File("src.ppm") + " -orient TopLeft -compress RLE tga:-",
        "convert " + Dir.File("src.ppm") + " -orient TopLeft -compress none tga:-"}) {
    SCOPED_TRACE(Command);
    ASSERT_TRUE(RunTool(Command + " > " + Dir.File("t.tga")));
    TRead R;
    ReadTga(LoadBytes(Dir.File("t.tga")), R);
    ASSERT_FALSE(R.Aborted()) << Command;
    ExpectSamePixels(Source, R.Bmp);
  }
  TRvBitmap Few;
  MakeStripes(Few, 29, 9, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00});
  SaveBytes(Dir.File("few.ppm"), PixmapBytes(Few));
  ASSERT_TRUE(RunTool("ppmtotga -cmap " + Dir.File("few.ppm") + " > " + Dir.File("c.tga")));
  TRead R;
  ReadTga(LoadBytes(Dir.File("c.tga")), R);
  ASSERT_FALSE(R.Aborted());
  ExpectSamePixels(Few, R.Bmp);
}

TEST(TgaInterop, OtherProgramsReadOurFiles) {
  if (!HaveTool("tgatoppm") || !HaveTool("convert")) GTEST_SKIP() << "tgatoppm or convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source;
  MakePattern(Source, 31, 6);
  for (int X = 2; X < 25; ++X) std::memcpy(Source.Scanline(1) + 3 * X, Source.Scanline(1), 3);
  TRvBitmap Few;
  MakeStripes(Few, 31, 6, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  struct TCase {
    TRvBitmap* Bmp;
    int Bits, Samples;
    bool Rle;
  };
  for (const TCase& C : {TCase{&Source, 8, 3, true}, TCase{&Source, 8, 3, false},
                         TCase{&Few, 8, 1, true}, TCase{&Few, 4, 1, false}}) {
    TIOParamsVals P;
    P.BitsPerSample = C.Bits;
    P.SamplesPerPixel = C.Samples;
    P.TgaCompressed = C.Rle;
    SaveBytes(Dir.File("ours.tga"), WriteTga(*C.Bmp, P));
    for (const std::string& Command :
         {"tgatoppm " + Dir.File("ours.tga") + " | pnmtoplainpnm",
          "convert " + Dir.File("ours.tga") + " -compress none ppm:-"}) {
      ASSERT_TRUE(RunTool(Command + " > " + Dir.File("back.ppm"))) << Command;
      TPixmap Back;
      ASSERT_TRUE(ParsePixmap(LoadBytes(Dir.File("back.ppm")), Back)) << Command;
      ExpectMatchesPixmap(*C.Bmp, Back);
    }
  }
}

// A file turned a quarter and written back holds the picture turned, pixel
// for pixel and with its alpha, in its own layout: type, depth, colour map
// (entries, their order and size), origin corner, alpha bits, compression,
// ID and position. ImageMagick finds it turned as it turns the original.
TEST(TgaInterop, TurnedFilesComeBackInTheirOwnLayout) {
  if (!HaveTool("ppmtotga") || !HaveTool("convert")) GTEST_SKIP() << "ppmtotga or convert missing";
  testing_support::TTempFolder Dir;
  TRvBitmap Source, Few;
  SaveTurnSources(Dir.Path(), 29, 9, Source, Few);
  const std::string Src = " " + Dir.File("src.ppm"), Colours = " " + Dir.File("few.ppm");
  // Hand-built, 5 x 3: corners and forms ppmtotga does not write. Run-length
  // pixels go one to a raw packet.
  const auto Made = [](Bytes File, int Unit, int Rle, const std::function<int(int P, int K)>& Byte) {
    for (int P = 0; P < 15; ++P)
      for (int K = -Rle; K < Unit; ++K) File.push_back(static_cast<std::uint8_t>(K < 0 ? 0 : Byte(P, K)));
    return File;
  };
  Bytes Map16 = Header(1, 5, 3, 8, 0x30, 1, 7, 16), Map32 = Header(9, 5, 3, 8, 0x08, 1, 6, 32);
  for (int I = 0; I < 7; ++I) Put16(Map16, (I * 0x0C63 + 0x1234) & 0x7FFF);
  for (int I = 0; I < 6; ++I) Put(Map32, {I * 40, 200 - I * 30, (I * 77) % 256, 255 - I * 50});
  for (const auto& [Make, File] : std::vector<std::pair<std::string, Bytes>>{
           {"ppmtotga -cmap" + Colours, {}}, {"ppmtotga -cmap -norle" + Colours, {}}, {"ppmtotga -mono" + Src, {}},
           {"ppmtotga -rgb -norle" + Src, {}}, {"convert" + Colours + " -type palette tga:-", {}},
           {"16-bit map, top right", Made(Map16, 1, 0, [](int P, int) { return P % 7; })},
           {"32-bit map", Made(Map32, 1, 1, [](int P, int) { return P % 6; })},
           {"5-5-5", Made(Header(10, 5, 3, 16, 0x20), 2, 1, [](int P, int K) { return K ? P * 9 % 128 : P * 2; })},
           {"32-bit alpha, bottom right", Made(Header(2, 5, 3, 32, 0x18), 4, 0, [](int P, int K) { return P * 17 + K * 60; })},
           {"gray and alpha", Made(Header(11, 5, 3, 16, 0x28), 2, 1, [](int P, int K) { return K ? P * 5 : P * 13; })}}) {
    SCOPED_TRACE(Make);
    ASSERT_TRUE(!File.empty() || RunTool(Make + " > " + Dir.File("was.tga")));
    const Bytes Was = File.empty() ? LoadBytes(Dir.File("was.tga")) : File;
    SaveBytes(Dir.File("was.tga"), Was);
    TRead R;
    ReadTga(Was, R);
    ASSERT_FALSE(R.Aborted());
    TurnClockwise(R.Bmp);
    if (R.Mask != nullptr) RvRotateMask(R.Mask.get(), -90, false);
    const Bytes Now = WriteTga(R.Bmp, R.Params, R.Mask.get());
    SaveBytes(Dir.File("now.tga"), Now);
    TRead Back;
    ReadTga(Now, Back);
    ASSERT_EQ(Back.Mask != nullptr, R.Mask != nullptr);
    codectest::ExpectMatches(Back.Bmp, Back.Mask.get(), codectest::Ours(R.Bmp, R.Mask.get()));
    // ImageMagick gives the rows as stored unless told to put them upright.
    EXPECT_EQ(codectest::Reference(Dir.File("now.tga"), "-auto-orient").Pixels,
              codectest::Reference(Dir.File("was.tga"), "-auto-orient -rotate 90").Pixels);
    // The header but for the sizes, turned (the ID goes out with an ending
    // NUL); the ID's text and the colour map as they were.
    Bytes Head(Was.begin() + 1, Was.begin() + 18);
    for (int I = 0; I < 2; ++I) std::swap(Head[11 + I], Head[13 + I]);
    EXPECT_EQ(Bytes(Now.begin() + 1, Now.begin() + 18), Head);
    EXPECT_EQ(Back.Params.TgaImageId, R.Params.TgaImageId);
    const std::size_t MapBytes = static_cast<std::size_t>(Le16(Was, 5)) * ((Was[7] + 7) / 8);
    ASSERT_GE(Now.size(), 18u + Now[0] + MapBytes);
    EXPECT_TRUE(std::equal(Was.begin() + 18 + Was[0], Was.begin() + 18 + Was[0] + MapBytes, Now.begin() + 18 + Now[0]));
  }
}
