#include <gtest/gtest.h>

#include "image/io/rvioparams.h"

using namespace rv;

namespace {
void FakeTiffEncode(const std::uint8_t*, int, platform::TStream*, void*&) {}
} // namespace

TEST(TIOParamsVals, ValuesAtCreation) {
  TIOParamsVals P;
  EXPECT_EQ(P.Width, 0);
  EXPECT_EQ(P.Height, 0);
  EXPECT_EQ(P.DpiX, 0);
  EXPECT_EQ(P.DpiY, 0);
  EXPECT_EQ(P.BitsPerSample, 8);
  EXPECT_EQ(P.SamplesPerPixel, 3);
  EXPECT_EQ(P.TiffPhotometric, 2);
  EXPECT_EQ(P.GifVersion, "GIF89a");
  EXPECT_EQ(P.JpegQuality, 50);
  EXPECT_EQ(P.JpegScale, 1);
  EXPECT_EQ(P.JpegColorSpace, 2);
  EXPECT_EQ(P.PcxVersion, 5);
  EXPECT_EQ(P.PcxCompression, 1);
  EXPECT_EQ(P.PngCompression, 5);
  EXPECT_TRUE(P.TgaCompressed);
  EXPECT_DOUBLE_EQ(P.TgaGamma, 2.2);
  EXPECT_DOUBLE_EQ(P.J2000Rate, 1.0);
  EXPECT_EQ(P.IcoBackground.r, 255);
  EXPECT_NEAR(P.TgaDateTime, RvNow(), 1.0 / 1440);
  EXPECT_EQ(P.ColorMap, nullptr);
  EXPECT_EQ(P.ExifBitmap, nullptr);
  EXPECT_EQ(P.JpegMarkersLeftOut, 0);
}

TEST(TIOParamsVals, NewRecordTakesTheInstalledLzwCoders) {
  RvDefaultTiffLzwCompress = FakeTiffEncode;
  TIOParamsVals P;
  RvDefaultTiffLzwCompress = nullptr;
  EXPECT_EQ(P.TiffLzwCompress, FakeTiffEncode);
  EXPECT_EQ(P.GifLzwDecompress, nullptr);
}

TEST(TIOParamsVals, AssignCopiesThePaletteIndependently) {
  auto Source = std::make_unique<TIOParamsVals>();
  TRGB* Map = Source->AllocColorMap(16);
  for (int I = 0; I < 16; ++I) RvCreateRGB(static_cast<std::uint8_t>(I), 0, 0, Map[I]);
  Source->JpegMarkers.AddMarker(0xFE, "hi", 2);
  Source->JpegMarkersLeftOut = 3;
  Source->PnmComments = {"c"};
  Source->TgaImageId = "id";
  TIOParamsVals Copy;
  Copy.Assign(*Source);
  Source.reset();
  ASSERT_EQ(Copy.ColorMapCount, 16);
  EXPECT_EQ(Copy.ColorMap[15].r, 15);
  EXPECT_EQ(Copy.JpegMarkers.Count(), 1);
  EXPECT_EQ(Copy.JpegMarkersLeftOut, 3);
  EXPECT_EQ(Copy.PnmComments.size(), 1u);
  EXPECT_EQ(Copy.TgaImageId, "id");
}

TEST(TIOParamsVals, AssignWithoutExifBitmapKeepsOurs) {
  TIOParamsVals Source, Target;
  Target.ExifBitmap = std::make_unique<TRvBitmap>();
  TRvBitmap* Ours = Target.ExifBitmap.get();
  Target.Assign(Source);
  EXPECT_EQ(Target.ExifBitmap.get(), Ours);
}

TEST(TIOParamsVals, ResetInfoKeepsOptionsAndEmptiesFileTexts) {
  TIOParamsVals P;
  P.JpegQuality = 90;
  P.FileType = rvftPNG;
  P.Width = 640;
  P.AllocColorMap(4);
  P.HasExif = true;
  P.ExifMake = "Camera";
  P.ExifWhitePoint[1] = 0.5;
  P.PnmComments = {"x"};
  P.GifComments = {"y"};
  P.TgaAuthor = "me";
  P.IptcRecords.AddItem(2, 5, 1, "t");
  P.JpegMarkersLeftOut = 2;
  P.ResetInfo();
  EXPECT_EQ(P.JpegQuality, 90);
  EXPECT_EQ(P.FileType, rvftPNG);
  EXPECT_EQ(P.Width, 640);
  EXPECT_EQ(P.ColorMapCount, 4);
  EXPECT_FALSE(P.HasExif);
  EXPECT_TRUE(P.ExifMake.empty());
  EXPECT_EQ(P.ExifWhitePoint[1], 0.0);
  EXPECT_TRUE(P.PnmComments.empty());
  EXPECT_TRUE(P.GifComments.empty());
  EXPECT_TRUE(P.TgaAuthor.empty());
  EXPECT_EQ(P.IptcRecords.Count(), 0);
  EXPECT_EQ(P.JpegMarkersLeftOut, 0);
}

TEST(TIOParamsVals, FormatDescription) {
  TIOParamsVals P;
  EXPECT_EQ(P.FormatDescription(), "");
  P.FileType = rvftBMP;
  P.BmpVersion = 1;
  EXPECT_EQ(P.FormatDescription(), "Windows Bitmap (BMP) ver.3");
  P.FileType = rvftJPEG;
  EXPECT_EQ(P.FormatDescription(), "JPEG Bitmap (JPG) YCbCr");
  P.FileType = rvftTIFF;
  P.TiffCompression = 9;
  EXPECT_EQ(P.FormatDescription(), "TIFF Bitmap (TIF)");
  P.TiffCompression = 8;
  EXPECT_EQ(P.FormatDescription(), "TIFF Bitmap (TIF) PackBits RLE");
  P.FileType = rvftTGA;
  P.TgaCompressed = false;
  EXPECT_EQ(P.FormatDescription(), "Targa Bitmap (TGA) Uncompressed");
  P.FileType = rvftPXM;
  EXPECT_EQ(P.FormatDescription(), "Portable Pixmap, GreyMap, BitMap (PXM)");
  P.FileType = rvftJ2K;
  P.J2000ColorSpace = 0;
  EXPECT_EQ(P.FormatDescription(), "JPEG2000 Code Stream (J2K) Gray level");
  P.FileType = rvftPCX;
  P.PcxCompression = 0;
  EXPECT_EQ(P.FormatDescription(), "PaintBrush (PCX) Uncompressed");
}

TEST(RvDateTime, KnownDaysAndRoundTrip) {
  TRvDateTime T;
  ASSERT_TRUE(RvEncodeDateTime(1899, 12, 30, 0, 0, 0, T));
  EXPECT_EQ(T, 0.0);
  ASSERT_TRUE(RvEncodeDateTime(2000, 1, 1, 12, 0, 0, T));
  EXPECT_DOUBLE_EQ(T, 36526.5);
  EXPECT_FALSE(RvEncodeDateTime(2023, 2, 29, 0, 0, 0, T));
  EXPECT_TRUE(RvEncodeDateTime(2024, 2, 29, 23, 59, 59, T));
  int Y, M, D, H, N, S;
  RvDecodeDateTime(T, Y, M, D, H, N, S);
  EXPECT_EQ(Y, 2024);
  EXPECT_EQ(M, 2);
  EXPECT_EQ(D, 29);
  EXPECT_EQ(H, 23);
  EXPECT_EQ(N, 59);
  EXPECT_EQ(S, 59);
}

TEST(RvDateTime, NoDateOutsideTheCalendarDecodesAsDayZero) {
  int Y, M, D, H, N, S;
  RvDecodeDateTime(1e300, Y, M, D, H, N, S);
  EXPECT_EQ(Y, 1899);
  EXPECT_EQ(M, 12);
  EXPECT_EQ(D, 30);
}
