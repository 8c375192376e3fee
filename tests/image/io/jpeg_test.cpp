#include <gtest/gtest.h>

#include <cstring>

#include "image/io/jpeg/jpegfilt.h"
#include "image/io/rvsafeio.h"
#include "libcodecs_testutil.h"

using namespace libcodecs_test;
using rv::TIOParamsVals;
using rv::TRvBitmap;

namespace {

Bytes Encode(TRvBitmap& Bmp, TIOParamsVals& Params) {
  platform::TMemoryStream S;
  TProgress P;
  rv::JpegWriteStream(S, Bmp, Params, P.Rec);
  EXPECT_FALSE(P.Aborted());
  return S.Data();
}

Bytes Encode(TRvBitmap& Bmp, int Quality = 95, int ColorSpace = 2) {
  TIOParamsVals Params;
  Params.JpegQuality = Quality;
  Params.JpegColorSpace = static_cast<std::uint8_t>(ColorSpace);
  return Encode(Bmp, Params);
}

bool Decode(const Bytes& Data, TRvBitmap& Bmp, TIOParamsVals& Params, bool HeaderOnly = false) {
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  TProgress P;
  rv::JpegReadStream(S, Bmp, Params, HeaderOnly, P.Rec);
  return !P.Aborted();
}

// Offset of the first marker with that code after SOI, or -1.
std::int64_t FindMarker(const Bytes& Data, int Code) {
  std::size_t P = 2;
  while (P + 4 <= Data.size() && Data[P] == 0xFF) {
    if (Data[P + 1] == Code) return static_cast<std::int64_t>(P);
    if (Data[P + 1] == 0xDA) break;
    P += 2 + (Data[P + 2] << 8 | Data[P + 3]);
  }
  return -1;
}

} // namespace

// ---- Start search, scaling choice and colour conversions

TEST(JpegFindStart, FindsTheStartWithinTheFirstHundredBytes) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 16, 16);
  const Bytes Jpeg = Encode(Bmp);
  for (int Garbage : {0, 1, 99}) {
    Bytes Data(static_cast<std::size_t>(Garbage), 0x11);
    Data.insert(Data.end(), Jpeg.begin(), Jpeg.end());
    platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
    S.SetPosition(0);
    EXPECT_EQ(rv::JpegFindStart(S), Garbage);
    EXPECT_EQ(S.Position(), 0);
    TRvBitmap Out;
    TIOParamsVals Params;
    EXPECT_TRUE(Decode(Data, Out, Params)) << Garbage;
    EXPECT_EQ(Out.Width(), 16);
  }
  Bytes Data(100, 0x11);
  Data.insert(Data.end(), Jpeg.begin(), Jpeg.end());
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  EXPECT_EQ(rv::JpegFindStart(S), -1);
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_FALSE(Decode(Data, Out, Params));
}

TEST(JpegFindStart, NeedsTheByteAfterTheStartMarker) {
  const Bytes Data = {0xFF, 0xD8, 0x00, 0xFF, 0xD8, 0xFF};
  platform::TBytesStream S(Data.data(), 6);
  EXPECT_EQ(rv::JpegFindStart(S), 3);
}

TEST(JpegAutoScale, PicksTheSmallestSizeThatCoversTheWish) {
  EXPECT_EQ(rv::JpegAutoScale(3000, 2000, 160, 120), 8); // 375 x 250
  EXPECT_EQ(rv::JpegAutoScale(1000, 800, 160, 120), 4);  // 250 x 200
  EXPECT_EQ(rv::JpegAutoScale(1000, 800, 0, 0), 1);
  EXPECT_EQ(rv::JpegAutoScale(100, 100, 160, 120), 1);
  EXPECT_EQ(rv::JpegAutoScale(320, 240, 160, 120), 2);
}

TEST(JpegColour, CmykToBgrMultipliesByBlack) {
  std::uint8_t Bgr[3];
  const std::uint8_t White[4] = {255, 255, 255, 255};
  rv::JpegCmykToBgr(White, Bgr);
  EXPECT_EQ(Bgr[0], 255);
  EXPECT_EQ(Bgr[1], 255);
  EXPECT_EQ(Bgr[2], 255);
  const std::uint8_t Black[4] = {0, 0, 0, 77};
  rv::JpegCmykToBgr(Black, Bgr);
  EXPECT_EQ(Bgr[0] + Bgr[1] + Bgr[2], 0);
  const std::uint8_t Some[4] = {200, 100, 50, 128}; // 200*128/255 = 100, 50, 25
  rv::JpegCmykToBgr(Some, Bgr);
  EXPECT_EQ(Bgr[2], 100);
  EXPECT_EQ(Bgr[1], 50);
  EXPECT_EQ(Bgr[0], 25);
}

TEST(JpegColour, BgrToCmykDividesByTheBrightestChannel) {
  std::uint8_t Cmyk[4];
  const std::uint8_t Pixel[3] = {25, 50, 100}; // blue, green, red
  rv::JpegBgrToCmyk(Pixel, Cmyk);
  EXPECT_EQ(Cmyk[0], 255); // 100*255/100
  EXPECT_EQ(Cmyk[1], 127); // 50*255/100
  EXPECT_EQ(Cmyk[2], 63);
  EXPECT_EQ(Cmyk[3], 100);
  const std::uint8_t Black[3] = {0, 0, 0};
  rv::JpegBgrToCmyk(Black, Cmyk);
  EXPECT_EQ(Cmyk[0] + Cmyk[1] + Cmyk[2], 0);
  EXPECT_EQ(Cmyk[3], 1);
}

// ---- Round trips through our writer and reader

TEST(JpegRoundTrip, ColourPictureComesBackClose) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 97, 61);
  const Bytes Data = Encode(Bmp, 100);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_EQ(Params.Width, 97);
  EXPECT_EQ(Params.Height, 61);
  EXPECT_EQ(Params.BitsPerSample, 8);
  EXPECT_EQ(Params.SamplesPerPixel, 3);
  EXPECT_EQ(Params.JpegColorSpace, 2);
  EXPECT_FALSE(Params.JpegProgressive);
  EXPECT_EQ(Params.ColorMapCount, 0);
  EXPECT_LE(MaxDifference(Bmp, Out), 6);
}

TEST(JpegRoundTrip, EveryColourSpaceKeepsTheColours) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 40, 30);
  for (int Space : {0, 2, 3, 4}) {
    const Bytes Data = Encode(Bmp, 100, Space);
    TRvBitmap Out;
    TIOParamsVals Params;
    ASSERT_TRUE(Decode(Data, Out, Params)) << Space;
    EXPECT_EQ(Params.JpegColorSpace, Space);
    EXPECT_EQ(Params.SamplesPerPixel, Space >= 3 ? 4 : 3);
    EXPECT_LE(MaxDifference(Bmp, Out), 8) << Space;
  }
}

TEST(JpegRoundTrip, GrayFileReadsAsEqualChannels) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 33, 17);
  const Bytes Data = Encode(Bmp, 100, 1);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_EQ(Params.JpegColorSpace, 1);
  EXPECT_EQ(Params.SamplesPerPixel, 1);
  for (int Y = 0; Y < 17; ++Y)
    for (int X = 0; X < 33; ++X) {
      const std::uint8_t* P = Px(Out, X, Y);
      ASSERT_EQ(P[0], P[1]);
      ASSERT_EQ(P[1], P[2]);
    }
}

TEST(JpegRoundTrip, ProgressiveFlagTravelsBothWays) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 64, 48);
  TIOParamsVals W;
  W.JpegQuality = 90;
  W.JpegProgressive = true;
  W.JpegOptimalHuffman = true;
  W.JpegDctMethod = 2;
  const Bytes Data = Encode(Bmp, W);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_TRUE(Params.JpegProgressive);
  EXPECT_LE(MaxDifference(Bmp, Out), 12);
}

TEST(JpegRoundTrip, OneBitPictureIsWrittenAsColourAndLeftAlone) {
  TRvBitmap Bmp;
  Bmp.Allocate(20, 10, rv::rvpf1Bit);
  for (int Y = 0; Y < 10; ++Y) std::memset(Bmp.Scanline(Y), Y < 5 ? 0xFF : 0x00, 4);
  const Bytes Data = Encode(Bmp, 100, 2);
  EXPECT_EQ(Bmp.PixelFormat(), rv::rvpf1Bit);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_EQ(Params.SamplesPerPixel, 3);
  EXPECT_GT(Px(Out, 3, 1)[1], 240);
  EXPECT_LT(Px(Out, 3, 8)[1], 15);
}

TEST(JpegRoundTrip, EightBitGrayPictureIsConvertedNotOverrun) {
  TRvBitmap Bmp;
  Bmp.Allocate(30, 8, rv::rvpf8BitGray);
  for (int Y = 0; Y < 8; ++Y) std::memset(Bmp.Scanline(Y), 200, 30);
  const Bytes Data = Encode(Bmp, 100, 2);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_EQ(Out.Width(), 30);
  EXPECT_NEAR(Px(Out, 29, 7)[0], 200, 2);
}

// ---- Resolution

TEST(JpegResolution, DotsPerCentimetreBecomeDotsPerInch) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  Bytes Data = Encode(Bmp);
  // JFIF APP0 right after SOI: units at byte 13, densities at 14 and 16.
  ASSERT_EQ(Data[3], 0xE0);
  Data[13] = 2;
  Data[14] = 0;
  Data[15] = 118;
  Data[16] = 0;
  Data[17] = 118;
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params, true));
  EXPECT_EQ(Params.DpiX, 299); // Trunc(118 x 2.54)
  EXPECT_EQ(Params.DpiY, 299);
}

TEST(JpegResolution, WrittenDensityIsTheRecordsOrTheDefault) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  TIOParamsVals W;
  W.DpiX = 300;
  W.DpiY = 150;
  Bytes Data = Encode(Bmp, W);
  EXPECT_EQ(Data[13], 1);
  EXPECT_EQ(Data[14] << 8 | Data[15], 300);
  EXPECT_EQ(Data[16] << 8 | Data[17], 150);
  const std::int32_t Saved = rv::RvDefaultDpiX;
  rv::RvDefaultDpiX = 96;
  W.DpiX = 0;
  Data = Encode(Bmp, W);
  rv::RvDefaultDpiX = Saved;
  EXPECT_EQ(Data[14] << 8 | Data[15], 96);
  // Too large for the 16-bit field: the largest it holds, not a wrapped one.
  W.DpiX = 70000;
  Data = Encode(Bmp, W);
  EXPECT_EQ(Data[14] << 8 | Data[15], 65535);
}

// ---- Markers

TEST(JpegMarkers, FirstJfifIsDroppedAndTheRestWrittenBack) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 16, 16);
  TIOParamsVals W;
  const Bytes Exif = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42};
  W.JpegMarkers.AddMarker(0xE1, Exif.data(), static_cast<int>(Exif.size()));
  W.JpegMarkers.AddMarker(0xFE, "hello", 5);
  const Bytes Data = Encode(Bmp, W);

  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  ASSERT_EQ(Params.JpegMarkers.Count(), 2);
  EXPECT_EQ(Params.JpegMarkers.MarkerType(0), 0xE1);
  EXPECT_EQ(Params.JpegMarkers.MarkerLength(0), 10);
  EXPECT_EQ(std::memcmp(Params.JpegMarkers.MarkerData(0), Exif.data(), 10), 0);
  EXPECT_EQ(Params.JpegMarkers.MarkerType(1), 0xFE);

  // Saved again: the new JFIF header first, then APP1, then COM.
  const Bytes Again = Encode(Out, Params);
  const std::int64_t App0 = FindMarker(Again, 0xE0);
  const std::int64_t App1 = FindMarker(Again, 0xE1);
  const std::int64_t Com = FindMarker(Again, 0xFE);
  EXPECT_EQ(App0, 2);
  EXPECT_LT(App0, App1);
  EXPECT_LT(App1, Com);
}

TEST(JpegMarkers, MarkersAreReplacedOnEveryRead) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  const Bytes Data = Encode(Bmp);
  TRvBitmap Out;
  TIOParamsVals Params;
  Params.JpegMarkers.AddMarker(0xFE, "old", 3);
  ASSERT_TRUE(Decode(Data, Out, Params, true));
  EXPECT_EQ(Params.JpegMarkers.Count(), 0);
}

TEST(JpegMarkers, AdobeSegmentThatDisagreesWithTheColourSpaceIsDropped) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 24, 24);
  // An Adobe segment as an RGB file carries it: transform 0.
  const Bytes Adobe = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0};
  TIOParamsVals W;
  W.JpegQuality = 100;
  W.JpegMarkers.AddMarker(0xEE, Adobe.data(), 12);
  W.JpegColorSpace = 2;
  Bytes Data = Encode(Bmp, W);
  EXPECT_EQ(FindMarker(Data, 0xEE), -1);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_EQ(Params.JpegColorSpace, 2);
  EXPECT_LE(MaxDifference(Bmp, Out), 8);

  // Written as RGB it agrees and stays.
  W.JpegColorSpace = 0;
  Data = Encode(Bmp, W);
  Params.JpegMarkers.Clear();
  ASSERT_TRUE(Decode(Data, Out, Params));
  EXPECT_EQ(Params.JpegColorSpace, 0);
  EXPECT_NE(Params.JpegMarkers.IndexOf(0xEE), -1);
  EXPECT_LE(MaxDifference(Bmp, Out), 8);
}

// ---- Scaled decoding

TEST(JpegScale, FixedAndAutomaticScales) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 200, 120);
  const Bytes Data = Encode(Bmp);
  const struct {
    int Scale, Denominator, W, H;
  } Cases[] = {{1, 1, 200, 120}, {2, 2, 100, 60}, {3, 4, 50, 30}, {4, 8, 25, 15}, {9, 1, 200, 120}};
  for (const auto& C : Cases) {
    TRvBitmap Out;
    TIOParamsVals Params;
    Params.JpegScale = static_cast<std::uint8_t>(C.Scale);
    ASSERT_TRUE(Decode(Data, Out, Params));
    EXPECT_EQ(Params.JpegScaleUsed, C.Denominator);
    EXPECT_EQ(Out.Width(), C.W);
    EXPECT_EQ(Out.Height(), C.H);
    EXPECT_EQ(Params.UnscaledWidth, 200);
    EXPECT_EQ(Params.UnscaledHeight, 120);
  }
}

TEST(JpegScale, HeaderOnlyAutomaticScaleReportsBothSizesAndLeavesTheBitmap) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 400, 240);
  const Bytes Data = Encode(Bmp);
  TRvBitmap Out;
  Out.Allocate(3, 3, rv::rvpf8BitGray);
  TIOParamsVals Params;
  Params.JpegScale = 0;
  Params.Width = 50;
  Params.Height = 30;
  ASSERT_TRUE(Decode(Data, Out, Params, true));
  EXPECT_EQ(Params.JpegScaleUsed, 8);
  EXPECT_EQ(Params.Width, 50);
  EXPECT_EQ(Params.Height, 30);
  EXPECT_EQ(Params.UnscaledWidth, 400);
  EXPECT_EQ(Params.UnscaledHeight, 240);
  EXPECT_EQ(Out.Width(), 3);
  EXPECT_EQ(Out.PixelFormat(), rv::rvpf8BitGray);
}

// ---- Progress, abort, short writes, library errors

TEST(JpegProgress, ReportsEveryRowUpToOneHundred) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 16, 40);
  const Bytes Data = Encode(Bmp);
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  TRvBitmap Out;
  TIOParamsVals Params;
  TProgress P;
  rv::JpegReadStream(S, Out, Params, false, P.Rec);
  ASSERT_FALSE(P.Aborted());
  ASSERT_EQ(P.Percents.size(), 40u);
  EXPECT_EQ(P.Percents.front(), 2); // Trunc(1 x 100 / 40)
  EXPECT_EQ(P.Percents.back(), 100);
}

TEST(JpegProgress, SettingTheFlagStopsTheRead) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 16, 40);
  const Bytes Data = Encode(Bmp);
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  TRvBitmap Out;
  TIOParamsVals Params;
  TProgress P;
  P.Rec.OnProgress = [&](void*, int Per) {
    if (Per >= 25) P.Flag = true;
  };
  rv::JpegReadStream(S, Out, Params, false, P.Rec);
  EXPECT_TRUE(P.Aborted());
  EXPECT_EQ(Out.Height(), 40);
  EXPECT_EQ(Px(Out, 5, 39)[1], 0); // never reached: zeros
}

TEST(JpegWrite, ShortWriteSetsTheFlag) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 300, 200);
  TShortStream S(1000);
  TIOParamsVals Params;
  TProgress P;
  rv::JpegWriteStream(S, Bmp, Params, P.Rec);
  EXPECT_TRUE(P.Aborted());
}

TEST(JpegWrite, LibraryErrorRaisesAndSetsTheFlag) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  TIOParamsVals Params;
  const Bytes Huge(70000, 'x'); // longer than a marker can be
  Params.JpegMarkers.AddMarker(0xFE, Huge.data(), static_cast<int>(Huge.size()));
  platform::TMemoryStream S;
  TProgress P;
  EXPECT_THROW(rv::JpegWriteStream(S, Bmp, Params, P.Rec), rv::ERvJpegException);
  EXPECT_TRUE(P.Aborted());
}

TEST(JpegWrite, EmptyPictureIsALibraryError) {
  TRvBitmap Bmp;
  TIOParamsVals Params;
  platform::TMemoryStream S;
  TProgress P;
  EXPECT_THROW(rv::JpegWriteStream(S, Bmp, Params, P.Rec), rv::ERvJpegException);
}

// ---- Broken input

TEST(JpegBroken, EmptyOrStartOnlyStreamsFail) {
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_FALSE(Decode(Bytes{}, Out, Params));
  EXPECT_FALSE(Decode(Bytes{0xFF, 0xD8, 0xFF}, Out, Params));
}

TEST(JpegBroken, TruncatedFileKeepsWhatWasDecoded) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 64, 64);
  Bytes Data = Encode(Bmp, 100);
  Data.resize(Data.size() * 2 / 3);
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_TRUE(Decode(Data, Out, Params)); // the library ends the picture itself
  EXPECT_GT(Params.JpegWarningCount, 0);
  EXPECT_NE(Params.JpegWarningCode, 0);
  ASSERT_EQ(Out.Height(), 64);
  EXPECT_LE(std::abs(Px(Out, 10, 2)[2] - Px(Bmp, 10, 2)[2]), 6);
}

TEST(JpegBroken, CorruptedBytesNeverCrash) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 48, 32);
  TIOParamsVals W;
  for (bool Progressive : {false, true}) {
    W.JpegProgressive = Progressive;
    const Bytes Good = Encode(Bmp, W);
    std::uint32_t Seed = 7;
    for (int Round = 0; Round < 300; ++Round) {
      Bytes Data = Good;
      for (int K = 0; K < 4; ++K) {
        Seed = Seed * 1103515245u + 12345u;
        Data[(Seed >> 8) % Data.size()] = static_cast<std::uint8_t>(Seed >> 24);
      }
      TRvBitmap Out;
      TIOParamsVals Params;
      Decode(Data, Out, Params);
      if (Out.Width() > 0) {
        EXPECT_EQ(Out.PixelFormat(), rv::rvpf24Bit);
      }
    }
  }
}

TEST(JpegBroken, PictureOverThePixelCapIsRefusedButItsHeaderRead) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 100, 100);
  const Bytes Data = Encode(Bmp);
  const std::int64_t Saved = rv::RvMaxPixels();
  rv::RvSetMaxPixels(5000);
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_TRUE(Decode(Data, Out, Params, true));
  EXPECT_EQ(Params.Width, 100);
  EXPECT_FALSE(Decode(Data, Out, Params));
  Params.JpegScale = 3; // 25 x 25 fits
  EXPECT_TRUE(Decode(Data, Out, Params));
  rv::RvSetMaxPixels(Saved);
}

// A progressive, arithmetic-coded gray frame of W x H pixels whose Scans
// scans have nothing behind their headers.
Bytes EmptyScans(int W, int H, int Scans) {
  Bytes D = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0}; // quantisation table 0, 8-bit, all ones
  D.insert(D.end(), 64, 1);
  // SOF10: 8 bits, H, W, one component (id 1, 1 x 1, table 0).
  D.insert(D.end(), {0xFF, 0xCA, 0, 11, 8, static_cast<std::uint8_t>(H >> 8), static_cast<std::uint8_t>(H),
                     static_cast<std::uint8_t>(W >> 8), static_cast<std::uint8_t>(W), 1, 1, 0x11, 0});
  for (int N = 0; N < Scans; ++N) D.insert(D.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0}); // first DC scan
  D.insert(D.end(), {0xFF, 0xD9});
  return D;
}

// Every scan is a pass over the whole picture: a scan with no data is where
// the data end, as the end of a truncated file is, and the read goes no
// further. The scans before it are shown whole; a large frame with no data
// at all is refused, as one cut after its header is.
TEST(JpegBroken, ScansWithNoDataEndTheRead) {
  std::int64_t Scans = rv::JpegScansRead();
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_FALSE(Decode(EmptyScans(1024, 512, 300), Out, Params));
  EXPECT_EQ(rv::JpegScansRead() - Scans, 0);
  Scans = rv::JpegScansRead();
  EXPECT_TRUE(Decode(EmptyScans(256, 256, 300), Out, Params));
  EXPECT_EQ(rv::JpegScansRead() - Scans, 0);
  EXPECT_EQ(Out.Width(), 256);
  EXPECT_GT(Params.JpegWarningCount, 0);

  TRvBitmap Bmp;
  MakeNoise(Bmp, 48, 40);
  TIOParamsVals W;
  W.JpegProgressive = true;
  const Bytes Good = Encode(Bmp, W);
  TRvBitmap Whole;
  Scans = rv::JpegScansRead();
  ASSERT_TRUE(Decode(Good, Whole, Params));
  const std::int64_t GoodScans = rv::JpegScansRead() - Scans;
  Bytes Padded(Good.begin(), Good.end() - 2);
  for (int N = 0; N < 100; ++N) Padded.insert(Padded.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0});
  Padded.insert(Padded.end(), {0xFF, 0xD9});
  Scans = rv::JpegScansRead();
  ASSERT_TRUE(Decode(Padded, Out, Params));
  EXPECT_EQ(rv::JpegScansRead() - Scans, GoodScans);
  ExpectSame24(Whole, Out);
}

// A thumbnail's read at an eighth takes the picture's means (its DC scans)
// and leaves the scans of detail unread: the same pixels, of a real file,
// and a few of a file of hundreds of scans.
TEST(JpegBroken, AThumbnailAtAnEighthReadsOnlyTheScansOfMeans) {
  auto Read = [](const Bytes& Data, TRvBitmap& Out, int Scale, std::int64_t& Scans) {
    TIOParamsVals Params;
    Params.JpegScale = static_cast<std::uint8_t>(Scale);
    Params.Width = 32;
    Params.Height = 24;
    const std::int64_t Before = rv::JpegScansRead();
    const bool Read = Decode(Data, Out, Params);
    Scans = rv::JpegScansRead() - Before;
    return Read;
  };
  TRvBitmap Bmp;
  MakeNoise(Bmp, 256, 192);
  TIOParamsVals W;
  W.JpegProgressive = true;
  W.JpegColorSpace = 1;
  const Bytes Good = Encode(Bmp, W);
  TRvBitmap Eighth, Thumb;
  std::int64_t AllScans = 0, ThumbScans = 0;
  ASSERT_TRUE(Read(Good, Eighth, 4, AllScans));
  ASSERT_TRUE(Read(Good, Thumb, 0, ThumbScans));
  EXPECT_EQ(Thumb.Width(), 32);
  EXPECT_LT(ThumbScans, AllScans);
  ExpectSame24(Eighth, Thumb);

  // One scan of means, then 300 scans of detail with a byte each.
  Bytes Many = EmptyScans(512, 512, 0);
  Many.resize(Many.size() - 2);
  Many.insert(Many.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0, 0x12, 0x34});
  for (int N = 0; N < 300; ++N) Many.insert(Many.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 1, 63, 0, 0x56});
  Many.insert(Many.end(), {0xFF, 0xD9});
  ASSERT_TRUE(Read(Many, Thumb, 0, ThumbScans));
  EXPECT_EQ(ThumbScans, 1);
  ASSERT_TRUE(Read(Many, Eighth, 4, AllScans));
  EXPECT_EQ(AllScans, 301);
}

// ---- Other programs

TEST(JpegInterop, ReadsCjpegFilesLikeDjpeg) {
  LIBCODECS_NEED_TOOL("cjpeg");
  LIBCODECS_NEED_TOOL("djpeg");
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp;
  MakeNoise(Bmp, 75, 45);
  WritePnm(Bmp, Dir.File("in.ppm"));
  const struct {
    const char* Options;
    const char* DjpegOptions;
    int Scale;
  } Cases[] = {{"-quality 90", "", 1},
               {"-quality 75 -progressive", "", 1},
               {"-quality 75 -progressive -arithmetic", "-scale 1/2", 2},
               {"-grayscale", "", 1},
               {"-rgb -quality 100", "", 1},
               {"-sample 1x1", "-scale 1/2", 2},
               {"-quality 80", "-scale 1/8", 4},
               {"-optimize -restart 1", "-scale 1/4", 3}};
  for (const auto& C : Cases) {
    ASSERT_TRUE(RunTool(std::string("cjpeg ") + C.Options + " -outfile " + Dir.File("t.jpg") + " " +
                    Dir.File("in.ppm")));
    ASSERT_TRUE(RunTool(std::string("djpeg -pnm ") + C.DjpegOptions + " -outfile " +
                    Dir.File("ref.pnm") + " " + Dir.File("t.jpg")));
    TRvBitmap Ref;
    ASSERT_TRUE(ReadPnm(Dir.File("ref.pnm"), Ref));
    TRvBitmap Out;
    TIOParamsVals Params;
    Params.JpegScale = static_cast<std::uint8_t>(C.Scale);
    ASSERT_TRUE(Decode(ReadFile(Dir.File("t.jpg")), Out, Params)) << C.Options;
    ExpectSame24(Ref, Out);
  }
}

TEST(JpegInterop, DjpegReadsOurFilesAsWeDo) {
  LIBCODECS_NEED_TOOL("djpeg");
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp;
  MakeNoise(Bmp, 61, 37);
  for (int Space : {0, 1, 2, 3, 4}) {
    for (bool Progressive : {false, true}) {
      TIOParamsVals W;
      W.JpegColorSpace = static_cast<std::uint8_t>(Space);
      W.JpegProgressive = Progressive;
      W.JpegQuality = 85;
      const Bytes Data = Encode(Bmp, W);
      WriteFile(Dir.File("ours.jpg"), Data);
      TRvBitmap Out;
      TIOParamsVals Params;
      ASSERT_TRUE(Decode(Data, Out, Params));
      if (Space >= 3) {
        // djpeg leaves CMYK as it is; it must at least accept the file.
        EXPECT_TRUE(RunTool("djpeg -outfile " + Dir.File("ref.pnm") + " " + Dir.File("ours.jpg")));
        continue;
      }
      ASSERT_TRUE(RunTool("djpeg -pnm -outfile " + Dir.File("ref.pnm") + " " + Dir.File("ours.jpg")));
      TRvBitmap Ref;
      ASSERT_TRUE(ReadPnm(Dir.File("ref.pnm"), Ref));
      ExpectSame24(Ref, Out);
    }
  }
}

TEST(JpegInterop, ReadsImageMagickCmykFiles) {
  LIBCODECS_NEED_TOOL("convert");
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp;
  MakeGradient(Bmp, 40, 24);
  WritePnm(Bmp, Dir.File("in.ppm"));
  ASSERT_TRUE(RunTool("convert " + Dir.File("in.ppm") + " -colorspace CMYK -quality 100 " +
                  Dir.File("cmyk.jpg")));
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(ReadFile(Dir.File("cmyk.jpg")), Out, Params));
  EXPECT_GE(Params.JpegColorSpace, 3); // CMYK or YCCK, as the tool chooses
  EXPECT_EQ(Params.SamplesPerPixel, 4);
  EXPECT_LE(MaxDifference(Bmp, Out), 10); // quality 100, two colour conversions
}
