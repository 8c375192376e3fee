#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "image/io/jpeg/jpegfilt.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/exif.h"
#include "image/io/tiffbuild_testutil.h"
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

bool Decode(const Bytes& Data, TRvBitmap& Bmp, TIOParamsVals& Params, bool HeaderOnly = false,
            rv::TJpegReadWork* Work = nullptr) {
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  TProgress P;
  rv::JpegReadStream(S, Bmp, Params, HeaderOnly, P.Rec, Work);
  return !P.Aborted();
}

// The scans of a file read whole, or -1 when the read failed.
std::int64_t ScansTaken(const Bytes& Data, TRvBitmap& Bmp, TIOParamsVals& Params) {
  rv::TJpegReadWork Work;
  return Decode(Data, Bmp, Params, false, &Work) ? Work.Scans : -1;
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
  // An ICC profile of 150,000 bytes in three APP2 markers: name, number, count, part.
  Bytes Profile(150000), Joined;
  for (std::size_t N = 0; N < Profile.size(); ++N) Profile[N] = static_cast<std::uint8_t>(N * 7 + N / 251);
  for (int Part = 0; Part < 3; ++Part) {
    Bytes Chunk = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, static_cast<std::uint8_t>(Part + 1), 3};
    Chunk.insert(Chunk.end(), Profile.begin() + Part * 50000, Profile.begin() + (Part + 1) * 50000);
    W.JpegMarkers.AddMarker(0xE2, Chunk.data(), static_cast<int>(Chunk.size()));
  }
  W.JpegMarkers.AddMarker(0xFE, "hello", 5);
  const Bytes Data = Encode(Bmp, W);

  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Decode(Data, Out, Params));
  ASSERT_EQ(Params.JpegMarkers.Count(), 5);
  EXPECT_EQ(Params.JpegMarkers.MarkerType(0), 0xE1);
  EXPECT_EQ(Params.JpegMarkers.MarkerLength(0), 10);
  EXPECT_EQ(std::memcmp(Params.JpegMarkers.MarkerData(0), Exif.data(), 10), 0);
  for (int N = 1; N <= 3; ++N) {
    const std::uint8_t* Chunk = Params.JpegMarkers.MarkerData(N);
    EXPECT_EQ(Params.JpegMarkers.MarkerType(N) << 8 | Chunk[12], 0xE200 | N);
    Joined.insert(Joined.end(), Chunk + 14, Chunk + Params.JpegMarkers.MarkerLength(N));
  }
  EXPECT_EQ(Joined, Profile);
  EXPECT_EQ(Params.JpegMarkers.MarkerType(4), 0xFE);

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

// Each comment or application marker is met once, at a cost of its own size
// whatever comes before it; the first are kept up to the counts of markers
// and of bytes kept and the data of the rest skipped and counted, by a
// header's read as by a whole one. Past the counts the first Exif block and
// each chunk of the ICC profile are kept all the same; XMP and a chunk met
// again are not. A JFIF or Adobe header among the rest still counts.
TEST(JpegMarkers, ManyMarkersAreMetOnceAndKeptWithinTheCounts) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  Bytes Exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0}, Xmp(20, 'x');
  Bytes Icc1 = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 2}, Icc2 = Icc1;
  Exif.resize(32);
  Icc1.resize(1014, 7);
  Icc2[12] = 2;
  const struct {
    // 2: a JFIF header before the markers; 4 (YCCK): an Adobe header after them.
    int ColorSpace, Count, Size, Kept;
  } Cases[] = {{2, 64000, 0, rv::JpegMarkersKept}, // 256 KB of empty markers
               {2, 300, 65533, static_cast<int>(rv::JpegMarkerBytesKept / 65533)},
               {2, 40, 1000, 40},
               {4, 2000, 0, rv::JpegMarkersKept}};
  for (const auto& C : Cases) {
    const Bytes Plain = Encode(Bmp, 95, C.ColorSpace);
    const std::size_t At = C.ColorSpace == 2 ? 4 + (Plain[4] << 8 | Plain[5]) : 2;
    Bytes Data(Plain.begin(), Plain.begin() + static_cast<std::ptrdiff_t>(At));
    auto Add = [&](int Code, const Bytes& Body) {
      const auto Length = static_cast<std::uint16_t>(Body.size() + 2);
      Data.insert(Data.end(), {0xFF, static_cast<std::uint8_t>(Code), static_cast<std::uint8_t>(Length >> 8),
                               static_cast<std::uint8_t>(Length)});
      Data.insert(Data.end(), Body.begin(), Body.end());
    };
    for (int N = 0; N < C.Count; ++N) Add(0xE2, Bytes(static_cast<std::size_t>(C.Size), static_cast<std::uint8_t>(N)));
    for (const Bytes* Body : {&Icc1, &Exif, &Xmp, &Icc1, &Icc2})
      Add(Body == &Icc1 || Body == &Icc2 ? 0xE2 : 0xE1, *Body);
    const int Past = C.Count > C.Kept ? 2 : 0;
    Data.insert(Data.end(), Plain.begin() + static_cast<std::ptrdiff_t>(At), Plain.end());
    TRvBitmap Ref, Out;
    TIOParamsVals RefParams, Params;
    ASSERT_TRUE(Decode(Plain, Ref, RefParams));
    for (const bool HeaderOnly : {true, false}) {
      SCOPED_TRACE(std::to_string(C.Count) + " of " + std::to_string(C.Size) + (HeaderOnly ? ", header" : ""));
      rv::TJpegReadWork Work;
      ASSERT_TRUE(Decode(Data, Out, Params, HeaderOnly, &Work));
      EXPECT_EQ(Work.Markers, C.Count + 6); // and the file's own header
      ASSERT_EQ(Params.JpegMarkers.Count(), C.Kept + 5 - Past);
      EXPECT_EQ(Params.JpegMarkersLeftOut, C.Count - C.Kept + Past + (C.ColorSpace == 4)); // an Adobe header too
      EXPECT_EQ(Params.JpegMarkers.MarkerLength(C.Kept - 1), C.Size);
      EXPECT_EQ(rv::RvExifMarkerIndex(Params.JpegMarkers), C.Kept + 1);
      EXPECT_EQ(Params.JpegMarkers.MarkerData(C.Kept + 4 - Past)[12], 2); // the profile whole
      EXPECT_EQ(Params.JpegColorSpace, C.ColorSpace);
      if (C.ColorSpace == 2) EXPECT_EQ(Params.DpiX, rv::RvDefaultDpiX);
    }
    ExpectSame24(Ref, Out);
  }
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

// A progressive, arithmetic-coded gray frame of W x H pixels: a scan of
// means, then Scans - 1 scans of detail, each scan followed by DataBytes
// bytes of its own. Adding: each scan adds a bit no earlier scan had, the
// means from bit 13, a coefficient at a time from bit 13 down, the means'
// 13 refinements last.
Bytes ArithScans(int W, int H, int Scans, int DataBytes = 0, bool Adding = false) {
  Bytes D = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0}; // quantisation table 0, 8-bit, all ones
  D.insert(D.end(), 64, 1);
  // SOF10: 8 bits, H, W, one component (id 1, 1 x 1, table 0).
  D.insert(D.end(), {0xFF, 0xCA, 0, 11, 8, static_cast<std::uint8_t>(H >> 8), static_cast<std::uint8_t>(H),
                     static_cast<std::uint8_t>(W >> 8), static_cast<std::uint8_t>(W), 1, 1, 0x11, 0});
  for (int N = 0; N < Scans; ++N) {
    // Component 1, coefficients Ss..Se (0..0, means, or 1..63), bits Ah, Al.
    const int Left = Scans - N, Step = (N - 1) % 14, Means = N == 0 || (Adding && Left <= 13);
    const int Ss = Means ? 0 : Adding ? 1 + (N - 1) / 14 : 1, Se = Means || Adding ? Ss : 63;
    const int Bits = !Adding ? 0
                     : Means ? (N == 0 ? 13 : Left << 4 | (Left - 1))
                             : (Step == 0 ? 13 : (14 - Step) << 4 | (13 - Step));
    D.insert(D.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, static_cast<std::uint8_t>(Ss), static_cast<std::uint8_t>(Se),
                       static_cast<std::uint8_t>(Bits)});
    for (int K = 0; K < DataBytes; ++K) D.push_back(static_cast<std::uint8_t>(0x11 * ((N + K) % 14 + 1)));
  }
  D.insert(D.end(), {0xFF, 0xD9});
  return D;
}

// The pixel cap holds the stored frame of every read, whatever the scale: a
// read at a reduced scale decodes every stored block all the same. A frame
// over it is refused as too large before a block is decoded; its header is
// read.
TEST(JpegBroken, PictureOverThePixelCapIsRefusedButItsHeaderRead) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 100, 100);
  const std::int64_t Saved = rv::RvMaxPixels();
  rv::RvSetMaxPixels(5000);
  // Sequential (SOF9) arithmetic coding fills a frame with a scan of no byte.
  Bytes Arith = ArithScans(512, 256, 1);
  Arith[72] = 0xC9;
  for (const Bytes& Data : {Encode(Bmp), Arith})
    for (int Scale : {1, 3, 0}) { // 0: a thumbnail's automatic eighth
      TRvBitmap Out;
      TIOParamsVals Params;
      Params.JpegScale = static_cast<std::uint8_t>(Scale);
      Params.Width = Params.Height = 8;
      EXPECT_TRUE(Decode(Data, Out, Params, true));
      rv::TJpegReadWork Work;
      EXPECT_FALSE(Decode(Data, Out, Params, false, &Work)) << Scale;
      EXPECT_EQ(Work.Blocks, 0);
      EXPECT_EQ(rv::RvLastSizeRefusal().Width, Params.UnscaledWidth);
    }
  rv::RvSetMaxPixels(Saved);
}

// Every scan is a pass over the blocks of its components. Scans are taken
// while they go through at most 16 times the picture's blocks or 4 blocks
// for every byte behind the first scan's header; past both, the read ends
// as a truncated file's does, with the library's warning, and shows the
// scans taken. A scan with nothing behind its header is taken as any other.
TEST(JpegBroken, ScansAreTakenWhileThePassesOrTheBytesAllowThem) {
  TRvBitmap Out;
  TIOParamsVals Params;
  rv::TJpegReadWork Work;
  // 16384 blocks: 499 scans of two bytes each pay for a pass and a half.
  ASSERT_TRUE(Decode(ArithScans(1024, 1024, 499, 2), Out, Params, false, &Work));
  EXPECT_EQ(Work.Scans, 16);
  EXPECT_EQ(Work.Blocks, 16 * 16384);
  EXPECT_EQ(Out.Width(), 1024);
  EXPECT_GT(Params.JpegWarningCount, 0);
  // No byte at all behind the headers: a frame larger than what may be shown
  // unbacked as well.
  EXPECT_EQ(ScansTaken(ArithScans(1024, 512, 300), Out, Params), 16);
  EXPECT_EQ(ScansTaken(ArithScans(256, 256, 300), Out, Params), 16);
  EXPECT_GT(Params.JpegWarningCount, 0);
  // 64 blocks and 200 scans of 64 bytes: 200 passes, paid for by the bytes.
  EXPECT_EQ(ScansTaken(ArithScans(64, 64, 200, 64), Out, Params), 200);

  // A real file followed by 100 scans of refinement with no data, which
  // leave its coefficients as they are: all are read.
  TRvBitmap Bmp;
  MakeNoise(Bmp, 48, 40);
  TIOParamsVals W;
  W.JpegProgressive = true;
  const Bytes Good = Encode(Bmp, W);
  TRvBitmap Whole;
  const std::int64_t GoodScans = ScansTaken(Good, Whole, Params);
  ASSERT_GT(GoodScans, 1);
  Bytes Padded(Good.begin(), Good.end() - 2);
  for (int N = 0; N < 100; ++N) Padded.insert(Padded.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0, 0x10});
  Padded.insert(Padded.end(), {0xFF, 0xD9});
  EXPECT_EQ(ScansTaken(Padded, Out, Params), GoodScans + 100);
  ExpectSame24(Whole, Out);

  // Scans that add bits are taken whatever they hold while all the scans
  // stay within 128 passes, above the 100 scans encoders write at most; past
  // them they are held as repeats are. 500 of them without a byte: 128, whole
  // or as a thumbnail, whose means come last. With 64 bytes each, the bytes
  // pay for them all.
  const struct {
    int W, DataBytes, Scale, Scans;
  } Adding[] = {{1024, 0, 1, 128}, {1024, 0, 0, 128}, {64, 64, 1, 500}};
  for (const auto& A : Adding) {
    Work = {};
    Params.JpegScale = static_cast<std::uint8_t>(A.Scale);
    Params.Width = Params.Height = 64;
    ASSERT_TRUE(Decode(ArithScans(A.W, A.W, 500, A.DataBytes, true), Out, Params, false, &Work));
    EXPECT_EQ(Work.Scans, A.Scans) << A.W << " " << A.Scale;
    EXPECT_EQ(Work.Blocks, A.Scans * (A.W / 8) * (A.W / 8));
  }
}

// An Exif thumbnail is read as any file is: a picture of 8 x 8 pixels that
// carries one of 499 scans takes the scans its thumbnail's own read takes.
TEST(JpegBroken, AnExifThumbnailOfManyScansTakesTheScansAllowed) {
  const Bytes Thumbnail = ArithScans(1024, 1024, 499, 2);
  tiffbuild::TBuilder B;
  const std::uint32_t At = B.AddBlob(Thumbnail);
  B.AddBlob(Bytes(1 << 14, 0)); // a byte for every 64 pixels: in proportion
  const auto Length = static_cast<std::uint32_t>(Thumbnail.size());
  const std::uint32_t Second = B.AddIfd(
      {B.Long(256, {1024}), B.Long(257, {1024}), B.Short(259, {6}), B.Long(513, {At}), B.Long(514, {Length})}, 0);
  B.SetFirst(B.AddIfd({B.Short(274, {1})}, Second));
  Bytes Block = {'E', 'x', 'i', 'f', 0, 0};
  Block.insert(Block.end(), B.B.begin(), B.B.end());
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  TIOParamsVals W;
  W.JpegMarkers.AddMarker(0xE1, Block.data(), static_cast<int>(Block.size()));
  const Bytes Carrier = Encode(Bmp, W);

  TRvBitmap Out, Direct;
  TIOParamsVals Params, DirectParams;
  ASSERT_TRUE(Decode(Carrier, Out, Params));
  const int App1 = rv::RvExifMarkerIndex(Params.JpegMarkers);
  ASSERT_GE(App1, 0);
  ASSERT_TRUE(rv::RvLoadExifFromApp1(Params.JpegMarkers.MarkerData(App1), Params.JpegMarkers.MarkerLength(App1),
                                     Params));
  ASSERT_NE(Params.ExifBitmap, nullptr);
  EXPECT_EQ(ScansTaken(Thumbnail, Direct, DirectParams), 16);
  // Each scan of detail has bytes of its own: the last one taken decides
  // the picture.
  ExpectSame24(Direct, *Params.ExifBitmap);
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
    rv::TJpegReadWork Work;
    const bool Read = Decode(Data, Out, Params, false, &Work);
    Scans = Work.Scans;
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

  // One scan of means, then 300 scans of detail with a byte each; a read at a
  // fixed eighth takes as many as its allowance (16 passes).
  const Bytes Many = ArithScans(512, 512, 301, 1);
  ASSERT_TRUE(Read(Many, Thumb, 0, ThumbScans));
  EXPECT_EQ(ThumbScans, 1);
  ASSERT_TRUE(Read(Many, Eighth, 4, AllScans));
  EXPECT_EQ(AllScans, 16);
}

// ---- Other programs

namespace {

// The scans of a file and how many hold no byte: nothing but a marker other
// than a restart marker behind their headers.
struct TScanCensus {
  std::int64_t Scans = 0;
  std::int64_t Empty = 0;
};

TScanCensus CensusOfScans(const Bytes& Data) {
  TScanCensus Census;
  auto IsMarker = [&](std::size_t At) {
    return Data[At] == 0xFF && Data[At + 1] != 0 && (Data[At + 1] < 0xD0 || Data[At + 1] > 0xD7);
  };
  for (std::size_t At = 2; At + 4 <= Data.size() && Data[At + 1] != 0xD9;) {
    const bool Scan = Data[At + 1] == 0xDA;
    At += 2 + (Data[At + 2] << 8 | Data[At + 3]);
    if (!Scan) continue;
    const std::size_t Start = At;
    while (At + 1 < Data.size() && !IsMarker(At)) ++At;
    ++Census.Scans;
    if (At == Start) ++Census.Empty;
  }
  return Census;
}

// Reads File at Scale (JpegScale) as djpeg does with its options: the same
// pixels, from every scan of the file. Answers the file's census. Of a Cut
// file djpeg warns.
TScanCensus ExpectReadAsDjpeg(const testing_support::TTempFolder& Dir, const std::string& File,
                              const std::string& DjpegOptions = "", int Scale = 1, bool Cut = false) {
  SCOPED_TRACE(File + " " + DjpegOptions);
  const Bytes Data = ReadFile(File);
  const TScanCensus Census = CensusOfScans(Data);
  EXPECT_TRUE(RunTool("djpeg -pnm " + DjpegOptions + " -outfile " + Dir.File("ref.pnm") + " " + File +
                      (Cut ? " || test $? -eq 2" : "")));
  TRvBitmap Ref, Out;
  EXPECT_TRUE(ReadPnm(Dir.File("ref.pnm"), Ref));
  TIOParamsVals Params;
  Params.JpegScale = static_cast<std::uint8_t>(Scale);
  EXPECT_EQ(ScansTaken(Data, Out, Params), Census.Scans);
  ExpectSame24(Ref, Out);
  return Census;
}

// Reads File as ExpectReadAsDjpeg does at an eighth, and as a thumbnail is
// read, at the eighth its wish picks (the eighth's size rounds up).
void ExpectEighthAsDjpeg(const testing_support::TTempFolder& Dir, const std::string& File, bool Cut = false) {
  ExpectReadAsDjpeg(Dir, File, "-scale 1/8", 4, Cut);
  SCOPED_TRACE(File + " as a thumbnail");
  TRvBitmap Ref, Thumb;
  ASSERT_TRUE(ReadPnm(Dir.File("ref.pnm"), Ref));
  TIOParamsVals Params;
  Params.JpegScale = 0;
  Params.Width = Ref.Width() - 1;
  Params.Height = Ref.Height() - 1;
  ASSERT_TRUE(Decode(ReadFile(File), Thumb, Params));
  ExpectSame24(Ref, Thumb);
}

// Scan scripts of three components: a band ("0: 1-63") taken from bit Ah
// to bit Al; taken to bit Top, then refined a bit a scan down to 0.
std::string ScanStep(const std::string& Band, int Ah, int Al) {
  return Band + ", " + std::to_string(Ah) + ", " + std::to_string(Al) + ";\n";
}

std::string ScanSteps(const std::string& Band, int Top) {
  std::string Script = ScanStep(Band, 0, Top);
  for (int Bit = Top; Bit > 0; --Bit) Script += ScanStep(Band, Bit, Bit - 1);
  return Script;
}

enum TLongScript { lsFourSteps, lsMeansLast, lsBitByBit, lsEachCoefficient, lsDeep };

std::string LongScanScript(TLongScript Kind) {
  const std::vector<std::string> Luma = {"0: 1-2", "0: 3-5", "0: 6-9", "0: 10-20", "0: 21-63"};
  std::string Script;
  switch (Kind) {
  case lsFourSteps: // 32 scans: four steps of precision over the means and seven bands
    for (int Al = 3; Al >= 0; --Al)
      for (const auto& Band : {std::string("0,1,2: 0-0"), Luma[0], Luma[1], Luma[2], Luma[3], Luma[4],
                               std::string("1: 1-63"), std::string("2: 1-63")})
        Script += ScanStep(Band, Al == 3 ? 0 : Al + 1, Al);
    return Script;
  case lsMeansLast: // 20 scans: the means' refinements last, each component's on its own
    Script = ScanStep("0,1,2: 0-0", 0, 3);
    for (const auto& Band : Luma) Script += ScanStep(Band, 0, 1);
    Script += ScanStep("0: 1-63", 1, 0) + ScanSteps("1: 1-63", 1) + ScanSteps("2: 1-63", 1);
    for (int Bit = 3; Bit > 0; --Bit)
      for (const char* C : {"0", "1", "2"}) Script += ScanStep(std::string(C) + ": 0-0", Bit, Bit - 1);
    return Script;
  case lsBitByBit: // 77 scans: every band a bit a scan
    Script = ScanSteps("0,1,2: 0-0", 8);
    for (const auto& Band : Luma) Script += ScanSteps(Band, 7);
    for (const char* Band : {"1: 1-5", "1: 6-63", "2: 1-5", "2: 6-63"}) Script += ScanSteps(Band, 6);
    return Script;
  case lsEachCoefficient: // 66 scans: one for every coefficient of the luminance
    for (int K = 0; K < 64; ++K)
      Script += ScanStep(K == 0 ? "0,1,2: 0-0" : "0: " + std::to_string(K) + "-" + std::to_string(K), 0, 0);
    return Script + ScanStep("1: 1-63", 0, 0) + ScanStep("2: 1-63", 0, 0);
  case lsDeep: // 38 scans: few bands, each from deep down
    Script = ScanSteps("0,1,2: 0-0", 5);
    for (const char* Band : {"0: 1-5", "0: 6-63", "1: 1-63", "2: 1-63"}) Script += ScanSteps(Band, 7);
    return Script;
  }
  return Script;
}

} // namespace

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
    ExpectReadAsDjpeg(Dir, Dir.File("t.jpg"), C.DjpegOptions, C.Scale);
  }
}

// The arithmetic coder leaves out the zero bytes that would end a scan's
// data: a smooth picture's scans of refinement may hold no byte at all, and
// are read as any other.
TEST(JpegInterop, ReadsProgressiveArithmeticFilesOfSmoothPicturesLikeDjpeg) {
  LIBCODECS_NEED_TOOL("cjpeg");
  LIBCODECS_NEED_TOOL("djpeg");
  testing_support::TTempFolder Dir;
  std::int64_t Empty = 0;
  for (int Size : {16, 33, 56, 72, 80, 100}) {
    TRvBitmap Bmp;
    MakeGradient(Bmp, Size, Size);
    WritePnm(Bmp, Dir.File("in.ppm"));
    for (const char* Sampling : {"", "-sample 1x1", "-grayscale"}) {
      ASSERT_TRUE(RunTool(std::string("cjpeg -progressive -arithmetic ") + Sampling + " -outfile " +
                          Dir.File("t.jpg") + " " + Dir.File("in.ppm")));
      Empty += ExpectReadAsDjpeg(Dir, Dir.File("t.jpg")).Empty;
    }
  }
  EXPECT_GT(Empty, 0);
}

// What real encoders write progressively, with their own scan scripts, a
// long one and one that never sends some bands or bits of detail, from made
// pictures and from the desktop's backgrounds: read whole, none near the
// allowances of its scans; photographs cut short too.
TEST(JpegInterop, ReadsEveryScanOfProgressiveFilesLikeDjpeg) {
  LIBCODECS_NEED_TOOL("cjpeg");
  LIBCODECS_NEED_TOOL("djpeg");
  LIBCODECS_NEED_TOOL("jpegtran");
  testing_support::TTempFolder Dir;
  // 24 scans: the means, five bands of luminance and the colours whole, each
  // in three steps of precision.
  std::string Script;
  for (const char* Step : {"0, 2", "2, 1", "1, 0"})
    for (const char* Band : {"0,1,2: 0-0", "0: 1-2", "0: 3-5", "0: 6-9", "0: 10-20", "0: 21-63", "1: 1-63", "2: 1-63"})
      Script += std::string(Band) + ", " + Step + ";\n";
  WriteFile(Dir.File("scans.txt"), Bytes(Script.begin(), Script.end()));
  Script = "0,1,2: 0-0, 0, 1;\n0: 1-5, 0, 0;\n1: 1-63, 0, 0;\n2: 1-63, 0, 1;\n0,1,2: 0-0, 1, 0;\n";
  WriteFile(Dir.File("partial.txt"), Bytes(Script.begin(), Script.end()));
  const std::string Transcodings[] = {"-progressive -arithmetic", "-scans " + Dir.File("scans.txt"),
                                      "-scans " + Dir.File("partial.txt"), "-progressive"};

  TRvBitmap Bmp;
  MakeNoise(Bmp, 75, 45);
  WritePnm(Bmp, Dir.File("noise.ppm"));
  MakeGradient(Bmp, 200, 120);
  WritePnm(Bmp, Dir.File("gradient.ppm"));
  for (const std::string Made : {"noise", "gradient"}) {
    const std::string Picture = Dir.File(Made + ".ppm"), Baseline = Dir.File(Made + ".jpg");
    for (const char* Options : {"-progressive", "-progressive -arithmetic", "-progressive -grayscale"}) {
      ASSERT_TRUE(RunTool(std::string("cjpeg ") + Options + " -outfile " + Dir.File("t.jpg") + " " + Picture));
      ExpectReadAsDjpeg(Dir, Dir.File("t.jpg"));
    }
    ASSERT_TRUE(RunTool("cjpeg -quality 90 -outfile " + Baseline + " " + Picture));
    for (const auto& Options : Transcodings) {
      ASSERT_TRUE(RunTool("jpegtran " + Options + " -outfile " + Dir.File("t.jpg") + " " + Baseline));
      ExpectReadAsDjpeg(Dir, Dir.File("t.jpg"));
    }
  }
  // Photographs are compared at an eighth, which takes every scan all the
  // same, and as thumbnails, which smooth what never came as djpeg does; the
  // large ones are left out to keep the test short.
  std::error_code Error;
  for (const auto& Entry : std::filesystem::recursive_directory_iterator("/usr/share/backgrounds", Error)) {
    if (Entry.path().extension() != ".jpg" || Entry.file_size(Error) > 250000) continue;
    for (const auto& Options : Transcodings) {
      ASSERT_TRUE(RunTool("jpegtran " + Options + " -outfile " + Dir.File("t.jpg") + " " + Entry.path().string()));
      ExpectEighthAsDjpeg(Dir, Dir.File("t.jpg"));
    }
    const Bytes Whole = ReadFile(Dir.File("t.jpg"));
    for (const std::size_t Percent : {5, 10, 30}) {
      WriteFile(Dir.File("cut.jpg"), Bytes(Whole.begin(), Whole.begin() + Whole.size() * Percent / 100));
      ExpectEighthAsDjpeg(Dir, Dir.File("cut.jpg"), true);
    }
  }
}

// Long scan scripts of every kind, as jpegtran writes them from photographs
// without loss (Huffman or arithmetic, with and without restarts) and cjpeg
// from large pictures of flat colour, smooth shades and text, which hold few
// bytes for their blocks: every scan adds bits no earlier scan had, however
// many passes the scans make, and is read.
TEST(JpegInterop, ReadsLongScanScriptsLikeDjpeg) {
  LIBCODECS_NEED_TOOL("cjpeg");
  LIBCODECS_NEED_TOOL("djpeg");
  LIBCODECS_NEED_TOOL("jpegtran");
  const std::string Garden = "/usr/share/backgrounds/mate/nature/Garden.jpg"; // 2560 x 1600, 4:2:0
  const std::string Green = "/usr/share/backgrounds/mate/desktop/GreenTraditional.jpg"; // 1900 x 1200, 4:4:4
  if (!std::filesystem::exists(Garden) || !std::filesystem::exists(Green)) GTEST_SKIP() << "no photographs";
  testing_support::TTempFolder Dir;
  const std::string Flat = Dir.File("flat.ppm"), Smooth = Dir.File("smooth.ppm"), Text = Dir.File("text.ppm");
  TRvBitmap Bmp;
  MakeGradient(Bmp, 2400, 1800);
  WritePnm(Bmp, Smooth);
  for (int Y = 0; Y < Bmp.Height(); ++Y) std::memset(Bmp.Scanline(Y), 0x90, static_cast<std::size_t>(Bmp.RowLen()));
  WritePnm(Bmp, Flat);
  Bmp.Allocate(2480, 3508, rv::rvpf24Bit); // an A4 page at 300 dpi: lines of words of strokes
  for (int Y = 0; Y < Bmp.Height(); ++Y)
    for (int X = 0; X < Bmp.Width(); ++X) {
      const bool Ink = Y % 40 > 12 && (X % 9 < 2 || Y % 40 == 35) && (X / 50 * 7 + Y / 40 * 3) % 5 != 0;
      std::memset(Px(Bmp, X, Y), Ink ? 0 : 255, 3);
    }
  WritePnm(Bmp, Text);
  const struct {
    const char* Tool;
    const std::string& Picture;
    TLongScript Script;
    const char* Options;
    bool Eighth;
  } Cases[] = {{"jpegtran", Garden, lsFourSteps, "", false},
               {"jpegtran", Green, lsFourSteps, "-arithmetic -restart 2", true},
               {"jpegtran", Garden, lsMeansLast, "-arithmetic", true},
               {"jpegtran", Garden, lsBitByBit, "-arithmetic", false},
               {"jpegtran", Green, lsBitByBit, "", true},
               {"jpegtran", Green, lsEachCoefficient, "-arithmetic -restart 1", false},
               {"jpegtran", Garden, lsEachCoefficient, "-restart 4", true},
               {"jpegtran", Green, lsDeep, "", false},
               {"cjpeg", Flat, lsDeep, "", false},
               {"cjpeg", Flat, lsMeansLast, "-arithmetic", true},
               {"cjpeg", Smooth, lsDeep, "-arithmetic", false},
               {"cjpeg", Smooth, lsMeansLast, "-restart 1", true},
               {"cjpeg", Text, lsDeep, "", true},
               {"cjpeg", Text, lsMeansLast, "-arithmetic", false}};
  for (const auto& C : Cases) {
    const std::string Script = LongScanScript(C.Script);
    WriteFile(Dir.File("scans.txt"), Bytes(Script.begin(), Script.end()));
    ASSERT_TRUE(RunTool(std::string(C.Tool) + " " + C.Options + " -scans " + Dir.File("scans.txt") + " -outfile " +
                        Dir.File("t.jpg") + " " + C.Picture));
    if (C.Eighth)
      ExpectEighthAsDjpeg(Dir, Dir.File("t.jpg"));
    else
      ExpectReadAsDjpeg(Dir, Dir.File("t.jpg"));
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

// The resolution a save writes is the file's, in the file's unit; one
// that stated only a ratio of pixels, or none at all, states none after the
// save either. A quarter turn (DpiX and DpiY exchanged) turns either.
TEST(JpegResolution, ASaveStatesWhatTheFileStatedInItsUnit) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 8, 8);
  const struct {
    int Unit, X, Y; // -1: no JFIF header
    bool Stated;
    int DpiX, DpiY;
  } Cases[] = {{0, 1, 1, false, 96, 96}, {0, 2, 1, false, 2, 1}, {1, 200, 100, true, 200, 100},
               {2, 118, 59, true, 299, 149}, {-1, 0, 0, false, 96, 96}};
  const std::int32_t Saved = rv::RvDefaultDpiX;
  rv::RvDefaultDpiX = rv::RvDefaultDpiY = 96;
  for (const auto& C : Cases) {
    // The JFIF header's unit and densities at 13, or no header.
    Bytes Data = Encode(Bmp);
    const Bytes Jfif = {std::uint8_t(C.Unit), 0, std::uint8_t(C.X), 0, std::uint8_t(C.Y)};
    if (C.Unit < 0) Data.erase(Data.begin() + 2, Data.begin() + 20);
    else std::copy(Jfif.begin(), Jfif.end(), Data.begin() + 13);
    TRvBitmap Out;
    TIOParamsVals P;
    ASSERT_TRUE(Decode(Data, Out, P, true));
    EXPECT_EQ(std::tuple(P.DpiStated, P.DpiX, P.DpiY), std::tuple(C.Stated, C.DpiX, C.DpiY)) << C.Unit << C.X;
    std::swap(P.DpiX, P.DpiY);
    const Bytes Again = Encode(Bmp, P);
    ASSERT_EQ(FindMarker(Again, 0xE0), C.Unit < 0 ? -1 : 2);
    if (C.Unit >= 0) EXPECT_EQ(Bytes(Again.begin() + 13, Again.begin() + 18), Bytes({Data[13], 0, Data[17], 0, Data[15]}));
  }
  rv::RvDefaultDpiX = rv::RvDefaultDpiY = Saved;
}

// A phone's video after the picture (its XMP counts from the file's end),
// or a second picture an MPF index places there: a save copies what
// follows the picture from the file after the new one, byte for byte, and
// places the index's pictures again. An index that places a picture inside
// the picture itself cannot be kept. A file changed since its read holds
// none of it any more: the write is aborted rather than leave it out.
TEST(JpegTrailer, WhatFollowsThePictureFollowsTheNewOne) {
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp, Small;
  MakeNoise(Bmp, 64, 48);
  MakeGradient(Small, 16, 8);
  const Bytes Second = Encode(Small), Video(70000, 0x5A);
  const std::string Xmp = std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                          "<x:xmpmeta GCamera:MicroVideo=\"1\" GCamera:MicroVideoOffset=\"70000\"/>";
  // An MPF index of two pictures, little-endian: a directory of the count
  // and the entries, the entries (16 bytes each) at 50 in the structure.
  const auto Le = [](Bytes& B, std::size_t At, std::uint32_t V) {
    for (int I = 0; I < 4; ++I) B[At + I] = static_cast<std::uint8_t>(V >> (8 * I));
  };
  Bytes Mpf = {'M', 'P', 'F', 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0, 1, 0xB0, 4, 0, 1, 0, 0, 0, 2, 0, 0, 0,
               2, 0xB0, 7, 0, 32, 0, 0, 0, 50, 0, 0, 0};
  Mpf.resize(4 + 50 + 32, 0);
  enum TKind { Motion, Placed, IntoPicture, Changed };
  for (const TKind Kind : {Motion, Placed, IntoPicture, Changed}) {
    TIOParamsVals W;
    const bool Index = Kind == Placed || Kind == IntoPicture;
    if (Index) W.JpegMarkers.AddMarker(0xE2, Mpf.data(), static_cast<int>(Mpf.size()));
    else W.JpegMarkers.AddMarker(0xE1, Xmp.data(), static_cast<int>(Xmp.size()));
    Bytes File = Encode(Bmp, W);
    const std::size_t Picture = File.size(), Base = FindMarker(File, 0xE2) + 8;
    if (Index) {
      Le(File, Base + 50 + 4, static_cast<std::uint32_t>(Picture));
      Le(File, Base + 66 + 4, static_cast<std::uint32_t>(Second.size()));
      Le(File, Base + 66 + 8, static_cast<std::uint32_t>(Kind == Placed ? Picture - Base : 2));
    }
    const Bytes& After = Index ? Second : Video;
    File.insert(File.end(), After.begin(), After.end());
    WriteFile(Dir.File("in.jpg"), File);

    platform::TFileStream In(Dir.File("in.jpg"), platform::fmOpenRead);
    TRvBitmap Read;
    TIOParamsVals P;
    TProgress Progress;
    rv::JpegReadStream(In, Read, P, false, Progress.Rec);
    const rv::TRvTrailer T = P.Trailer;
    EXPECT_EQ(std::tuple(T.At, T.Length, T.MpfBase, T.Unplaced),
              std::tuple(std::int64_t(Picture), std::int64_t(After.size()), Index ? std::int64_t(Base) : -1,
                         Kind == IntoPicture ? 1 : 0))
        << Kind;
    if (Kind == Changed) WriteFile(Dir.File("in.jpg"), Bytes(File.begin() + 1, File.end()));
    // Written anew at another quality: the picture's size changes.
    platform::TFileStream From(Dir.File("in.jpg"), platform::fmOpenRead);
    P.TrailerFrom = &From;
    P.WriteTrailer = true;
    P.JpegQuality = 60;
    if (Kind == Changed) {
      platform::TMemoryStream S;
      TProgress Aborted;
      rv::JpegWriteStream(S, Read, P, Aborted.Rec);
      EXPECT_TRUE(Aborted.Aborted() && P.TrailerMissed);
      continue;
    }
    const Bytes Out = Encode(Read, P);
    const auto End = static_cast<std::size_t>(P.TrailerWritten.At);
    ASSERT_NE(End, Picture);
    EXPECT_EQ(Out[End - 2] << 8 | Out[End - 1], 0xFFD9);
    EXPECT_EQ(Bytes(Out.begin() + std::ptrdiff_t(End), Out.end()), Kind == IntoPicture ? Bytes() : After)
        << Kind;
    WriteFile(Dir.File("out.jpg"), Out);
    EXPECT_TRUE(!HaveTool("djpeg") || RunTool("djpeg -outfile " + Dir.File("out.ppm") + " " + Dir.File("out.jpg")));
    if (Kind != Placed) continue;
    // The first entry measures the new picture; the second finds the copy.
    const std::size_t NewBase = FindMarker(Out, 0xE2) + 8;
    EXPECT_EQ(P.TrailerWritten.MpfBase, std::int64_t(NewBase));
    EXPECT_EQ(Out[NewBase + 54] | Out[NewBase + 55] << 8 | Out[NewBase + 56] << 16, int(End));
    EXPECT_EQ(NewBase + (Out[NewBase + 74] | Out[NewBase + 75] << 8 | Out[NewBase + 76] << 16), End);
  }
}
