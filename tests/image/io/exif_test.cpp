#include "image/io/tiff/exif.h"

#include "image/io/jpeg/jpegfilt.h"
#include "image/io/rastrumio.h"
#include "image/io/tiffbuild_testutil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace rv;
using tiffbuild::Bytes;
using tiffbuild::TBuilder;

struct TBlockOptions {
  bool Intel = true;
  bool Thumbnail = true;
  bool BrokenThumbnail = false;
};

// An APP1 Exif block: camera tags, an Exif sub-directory and a 2 x 2 RGB
// thumbnail in the second directory.
Bytes ExifBlock(const TBlockOptions& O = {}) {
  TBuilder B(O.Intel);
  tiffbuild::TTag Shutter{37377, 10, 1, {}};
  B.Put32(Shutter.Data, static_cast<std::uint32_t>(-3));
  B.Put32(Shutter.Data, 2);
  const std::uint32_t Exif = B.AddIfd(
      {B.Rational(33434, {{1, 250}}), B.Rational(33437, {{28, 10}}), B.Short(34855, {100, 200}),
       B.Undefined(36864, {'0', '2', '3', '0'}), B.Ascii(36867, "2024:01:02 03:04:05"), Shutter,
       B.Short(37385, {16}), B.Undefined(37510, Bytes{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'i', '!'}),
       B.Short(40962, {640}), B.Undefined(41728, {3})},
      0);
  std::uint32_t Thumb = 0;
  if (O.Thumbnail) {
    const std::uint32_t Strip = B.AddBlob({255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3});
    Thumb = B.AddIfd({B.Short(256, {2}), B.Short(257, {2}), B.Short(258, {8, 8, 8}),
                      B.Short(259, {O.BrokenThumbnail ? 34712u : 1u}), B.Short(262, {2}), B.Long(273, {Strip}),
                      B.Short(277, {3}), B.Long(279, {12})},
                     0);
  }
  const std::uint32_t First =
      B.AddIfd({B.Ascii(271, "Camera Co"), B.Ascii(272, "Model 1"), B.Short(274, {6}), B.Rational(282, {{72, 1}}),
                B.Rational(283, {{72, 1}}), B.Short(296, {2}), B.Rational(318, {{3127, 10000}, {329, 1000}}),
                B.Long(34665, {Exif})},
               Thumb);
  B.SetFirst(First);
  Bytes Block = {'E', 'x', 'i', 'f', 0, 0};
  Block.insert(Block.end(), B.B.begin(), B.B.end());
  return Block;
}

TEST(Exif, FillsTheFieldsOfBothDirectories) {
  for (bool Intel : {true, false}) {
    SCOPED_TRACE(Intel);
    const Bytes Block = ExifBlock({Intel});
    TIOParamsVals P;
    ASSERT_TRUE(RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), P));
    EXPECT_TRUE(P.HasExif);
    EXPECT_EQ(P.ExifMake, "Camera Co");
    EXPECT_EQ(P.ExifModel, "Model 1");
    EXPECT_EQ(P.ExifOrientation, 6);
    EXPECT_DOUBLE_EQ(P.ExifXResolution, 72.0);
    EXPECT_EQ(P.ExifResolutionUnit, 2);
    EXPECT_DOUBLE_EQ(P.ExifWhitePoint[0], 0.3127);
    EXPECT_DOUBLE_EQ(P.ExifWhitePoint[1], 0.329);
    EXPECT_DOUBLE_EQ(P.ExifExposureTime, 1.0 / 250);
    EXPECT_DOUBLE_EQ(P.ExifFNumber, 2.8);
    EXPECT_EQ(P.ExifISOSpeedRatings[0], 100);
    EXPECT_EQ(P.ExifISOSpeedRatings[1], 200);
    EXPECT_EQ(P.ExifExifVersion, "0230");
    EXPECT_EQ(P.ExifDateTimeOriginal, "2024:01:02 03:04:05");
    EXPECT_DOUBLE_EQ(P.ExifShutterSpeedValue, -1.5); // signed rational
    EXPECT_EQ(P.ExifFlash, 16);
    EXPECT_EQ(P.ExifUserCommentCode, "ASCII");
    EXPECT_EQ(P.ExifUserComment, "Hi!");
    EXPECT_EQ(P.ExifImageWidth, 640);
    EXPECT_EQ(P.ExifFileSource, 3);
    // The thumbnail, and the record's own TIFF fields untouched.
    ASSERT_NE(P.ExifBitmap, nullptr);
    ASSERT_EQ(P.ExifBitmap->Width(), 2);
    EXPECT_EQ(P.ExifBitmap->Scanline(0)[2], 255); // red, stored blue-green-red
    EXPECT_EQ(P.ExifBitmap->Scanline(1)[3], 3);
    EXPECT_EQ(P.TiffImageCount, 0);
    EXPECT_EQ(P.Width, 0);
  }
}

TEST(Exif, OtherBlocksAndShortBlocksChangeNothing) {
  TIOParamsVals P;
  P.ExifMake = "kept";
  const Bytes Xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e'};
  EXPECT_FALSE(RvLoadExifFromApp1(Xmp.data(), static_cast<std::int64_t>(Xmp.size()), P));
  const Bytes Block = ExifBlock();
  // Sizes that cut into the 6-byte identifier or the TIFF header.
  for (std::int64_t Size : {0, 4, 6, 13}) EXPECT_FALSE(RvLoadExifFromApp1(Block.data(), Size, P)) << Size;
  EXPECT_FALSE(RvLoadExifFromApp1(nullptr, 100, P));
  EXPECT_EQ(P.ExifMake, "kept");
  EXPECT_FALSE(P.HasExif);
  EXPECT_EQ(P.ExifBitmap, nullptr);
}

TEST(Exif, DamagedBlocksAreReported) {
  TIOParamsVals P;
  // A bad byte order.
  Bytes Block = ExifBlock();
  Block[6] = Block[7] = 'Q';
  EXPECT_FALSE(RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), P));
  // A first directory beyond the block.
  Block = ExifBlock();
  Block[10] = Block[11] = Block[12] = 0x7F;
  EXPECT_FALSE(RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), P));
  // The block cut short before its directories.
  Block = ExifBlock();
  EXPECT_FALSE(RvLoadExifFromApp1(Block.data(), 20, P));
  EXPECT_FALSE(P.HasExif);
  EXPECT_EQ(P.ExifBitmap, nullptr);
}

TEST(Exif, OrientationIsRewrittenInPlace) {
  for (bool Intel : {true, false}) {
    SCOPED_TRACE(Intel);
    Bytes Block = ExifBlock({Intel});
    const Bytes Before = Block;
    ASSERT_TRUE(RvSetExifOrientation(Block.data(), static_cast<std::int64_t>(Block.size()), 1));
    ASSERT_EQ(Block.size(), Before.size());
    TIOParamsVals P;
    ASSERT_TRUE(RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), P));
    EXPECT_EQ(P.ExifOrientation, 1);
    EXPECT_EQ(P.ExifMake, "Camera Co");
    // Two bytes of the value, nothing else.
    int Changed = 0;
    for (std::size_t I = 0; I < Block.size(); ++I) Changed += Block[I] != Before[I];
    EXPECT_EQ(Changed, 1);
  }
  // Out of range values, other blocks and cut blocks are left alone.
  Bytes Block = ExifBlock();
  const Bytes Before = Block;
  EXPECT_FALSE(RvSetExifOrientation(Block.data(), static_cast<std::int64_t>(Block.size()), 9));
  EXPECT_FALSE(RvSetExifOrientation(Block.data(), 20, 1));
  Bytes Xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e'};
  EXPECT_FALSE(RvSetExifOrientation(Xmp.data(), static_cast<std::int64_t>(Xmp.size()), 1));
  EXPECT_EQ(Block, Before);
}

TEST(Exif, ThumbnailMissingOrUndecodableLeavesTheTags) {
  TIOParamsVals None;
  TBlockOptions O;
  O.Thumbnail = false;
  Bytes Block = ExifBlock(O);
  ASSERT_TRUE(RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), None));
  EXPECT_EQ(None.ExifMake, "Camera Co");
  ASSERT_NE(None.ExifBitmap, nullptr);
  EXPECT_EQ(None.ExifBitmap->Width(), 0);

  TIOParamsVals Broken;
  O.Thumbnail = true;
  O.BrokenThumbnail = true;
  Block = ExifBlock(O);
  ASSERT_TRUE(RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), Broken));
  EXPECT_EQ(Broken.ExifFlash, 16);
  EXPECT_EQ(Broken.ExifBitmap->Width(), 0);
}

// ---- Crafted blocks: the work must follow the block's size

// A JPEG picture of 8 x 8 pixels carrying Block as its APP1 segment.
Bytes JpegWithApp1(const Bytes& Block) {
  TRvBitmap Picture;
  Picture.Allocate(8, 8, rvpf24Bit);
  TIOParamsVals W;
  W.JpegMarkers.AddMarker(0xE1, Block.data(), static_cast<int>(Block.size()));
  platform::TMemoryStream S;
  TRvLocalProgress P;
  JpegWriteStream(S, Picture, W, P.Rec);
  return S.Data();
}

// Three directories of N entries: every entry of the first points at the
// second, every entry of the second at the third; the first's link names an
// empty thumbnail directory at the end.
Bytes ManyPointersBlock(std::uint32_t N) {
  TBuilder B;
  std::vector<tiffbuild::TTag> Plain(N, B.Short(37385, {16}));
  const std::uint32_t Third = B.AddIfd(Plain, 0);
  const std::uint32_t Second = B.AddIfd(std::vector<tiffbuild::TTag>(N, B.Long(34665, {Third})), 0);
  std::size_t Link = 0;
  B.SetFirst(B.AddIfd(std::vector<tiffbuild::TTag>(N, B.Long(34665, {Second})), 0, &Link));
  B.Patch32(Link, B.AddIfd({}, 0));
  Bytes Block = {'E', 'x', 'i', 'f', 0, 0};
  Block.insert(Block.end(), B.B.begin(), B.B.end());
  return Block;
}

// Leaving the thumbnail out of a saved turned picture walks each directory
// once, however many entries point at it; the block loses its empty
// thumbnail directory, as before.
TEST(Exif, DirectoriesManyEntriesPointAtAreWalkedOnce) {
  const std::uint32_t N = 400;
  const Bytes Block = ManyPointersBlock(N);
  TIOParamsVals P;
  P.JpegMarkers.AddMarker(0xE1, Block.data(), static_cast<int>(Block.size()));
  std::int64_t Visited = 0;
  RvDropJpegExifThumbnail(P.JpegMarkers, &Visited);
  EXPECT_EQ(Visited, 3 * N);
  ASSERT_EQ(P.JpegMarkers.MarkerLength(0), static_cast<int>(Block.size()) - 6);
  TIOParamsVals Again;
  EXPECT_TRUE(RvLoadExifFromApp1(P.JpegMarkers.MarkerData(0), P.JpegMarkers.MarkerLength(0), Again));
}

// An Exif thumbnail of 2^24 pixels fax-coded in strips of one row that all
// share 16 bytes (a 16 KB block): a read of the file's header decodes no
// thumbnail at all, nor does a whole read, its pixels being out of all
// proportion to the block; the picture and the camera's tags read as ever,
// and a thumbnail in proportion is decoded by the whole read.
TEST(Exif, ThumbnailsAreDecodedOnlyByWholeReadsAndInProportion) {
  TBuilder B;
  const std::uint32_t Data = B.AddBlob(Bytes(16, 0)), Rows = 1u << 11;
  const std::uint32_t Thumb =
      B.AddIfd({B.Long(256, {1u << 13}), B.Long(257, {Rows}), B.Short(258, {1}), B.Short(259, {4}), B.Short(262, {0}),
                B.Long(273, std::vector<std::uint32_t>(Rows, Data)), B.Long(278, {1}),
                B.Long(279, std::vector<std::uint32_t>(Rows, 16))},
               0);
  B.SetFirst(B.AddIfd({B.Ascii(271, "Camera Co")}, Thumb));
  Bytes Tiled = {'E', 'x', 'i', 'f', 0, 0};
  Tiled.insert(Tiled.end(), B.B.begin(), B.B.end());

  for (const bool Fits : {false, true}) {
    SCOPED_TRACE(Fits);
    const Bytes File = JpegWithApp1(Fits ? ExifBlock() : Tiled);
    platform::TBytesStream S(File.data(), static_cast<std::int64_t>(File.size()));
    TRastrumIO IO;
    IO.ParamsFromStream(S);
    ASSERT_FALSE(IO.Aborting);
    EXPECT_EQ(IO.Params().ExifMake, "Camera Co");
    EXPECT_TRUE(IO.Params().ExifBitmap == nullptr || IO.Params().ExifBitmap->Width() == 0);

    S.SetPosition(0);
    IO.LoadFromStream(S);
    ASSERT_FALSE(IO.Aborting);
    EXPECT_EQ(IO.Params().Width, 8);
    EXPECT_EQ(IO.Params().ExifMake, "Camera Co");
    ASSERT_NE(IO.Params().ExifBitmap, nullptr);
    EXPECT_EQ(IO.Params().ExifBitmap->Width(), Fits ? 2 : 0);
  }
}

TEST(Exif, IndexedAccessorsCheckTheirRange) {
  TIOParamsVals P;
  SetExifISOSpeedRatings(P, 1, 400);
  SetExifISOSpeedRatings(P, 2, 999);
  SetExifISOSpeedRatings(P, -1, 999);
  EXPECT_EQ(GetExifISOSpeedRatings(P, 1), 400);
  EXPECT_EQ(GetExifISOSpeedRatings(P, 2), 0);
  EXPECT_EQ(GetExifISOSpeedRatings(P, -1), 0);
  SetExifPrimaryChromaticities(P, 5, 0.06);
  SetExifPrimaryChromaticities(P, 6, 1.0);
  EXPECT_DOUBLE_EQ(GetExifPrimaryChromaticities(P, 5), 0.06);
  EXPECT_DOUBLE_EQ(GetExifPrimaryChromaticities(P, 6), 0.0);
  SetExifWhitePoint(P, 2, 1.0);
  EXPECT_DOUBLE_EQ(GetExifWhitePoint(P, 2), 0.0);
  SetExifYCbCrCoefficients(P, 2, 0.114);
  SetExifYCbCrCoefficients(P, 3, 1.0);
  EXPECT_DOUBLE_EQ(GetExifYCbCrCoefficients(P, 2), 0.114);
  SetExifReferenceBlackWhite(P, 5, 255);
  SetExifReferenceBlackWhite(P, 100, 1);
  EXPECT_DOUBLE_EQ(GetExifReferenceBlackWhite(P, 5), 255);
  EXPECT_DOUBLE_EQ(GetExifReferenceBlackWhite(P, 100), 0);
  EXPECT_DOUBLE_EQ(P.ExifWhitePoint[0] + P.ExifWhitePoint[1], 0.0);
}

} // namespace

// The XMP packet's tiff:Orientation is set in either form, under whatever
// prefix the packet binds to the namespace; the rest stays as it was.
TEST(Exif, XmpOrientationIsSetInEitherForm) {
  const std::string Tiff = "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"", Name("http://ns.adobe.com/xap/1.0/\0", 29);
  const std::pair<std::string, std::string> Cases[] = {
      {"<d " + Tiff + " tiff:Orientation=\"6\" tiff:Make=\"6\"/>", "<d " + Tiff + " tiff:Orientation=\"1\" tiff:Make=\"6\"/>"},
      {"<d " + Tiff + "><tiff:Orientation>6</tiff:Orientation></d>", "<d " + Tiff + "><tiff:Orientation>1</tiff:Orientation></d>"},
      {"<d xmlns:t='http://ns.adobe.com/tiff/1.0/'\n t:Orientation = ' 08 '><t:Orientation>\n 6 </t:Orientation></d>",
       "<d xmlns:t='http://ns.adobe.com/tiff/1.0/'\n t:Orientation = ' 1 '><t:Orientation>\n 1 </t:Orientation></d>"},
      // Another namespace's orientation, or a longer name, is not the one.
      {"<d xmlns:tiff=\"http://example.com/\" tiff:Orientation=\"6\" x:tiff:OrientationX=\"6\"/>", ""}};
  for (const auto& [Packet, Expected] : Cases) {
    TRvMarkerList Markers;
    const std::string Block = Name + Packet;
    Markers.AddMarker(0xE1, Block.data(), static_cast<int>(Block.size()));
    EXPECT_EQ(RvSetJpegXmpOrientation(Markers, 1), !Expected.empty());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Markers.MarkerData(0)), Markers.MarkerLength(0)),
              Name + (Expected.empty() ? Packet : Expected));
  }
}
