// Icon and cursor readers: hand-built directories, masks, 32-bit images,
// ImageMagick's icons and broken files.
#include <gtest/gtest.h>

#include "image/io/bmp/rvico.h"
#include "image/io/bmptestutil.h"
#include "image/io/codectest_util.h"
#include "support/tempfolder.h"

using namespace bmptest;
using rv::TIOParamsVals;
using rv::TRvBitmap;
using rv::TRvMask;

namespace {

struct TEntry {
  unsigned Width, Height, Colours, Planes, Bits;
  TBytes Image;
};

// Directory header, 16-byte entries, then each image in turn.
TBytes Directory(unsigned Type, std::vector<TEntry> Entries) {
  TBytes b;
  b.U16(0).U16(Type).U16(unsigned(Entries.size())); // reserved, 1 icon / 2 cursor, count
  std::uint32_t offset = 6 + 16 * std::uint32_t(Entries.size());
  for (const TEntry& e : Entries) {
    b.U8(e.Width).U8(e.Height).U8(e.Colours).U8(0); // sizes, colour count, reserved
    b.U16(e.Planes).U16(e.Bits);                    // planes / hot spot x, bits / hot spot y
    b.U32(std::uint32_t(e.Image.Size()));           // data size
    b.U32(offset);                                  // data offset
    offset += std::uint32_t(e.Image.Size());
  }
  for (const TEntry& e : Entries)
    b.Data.insert(b.Data.end(), e.Image.Data.begin(), e.Image.Data.end());
  return b;
}

// The 40-byte header of an icon image: the height counts colour and mask.
TBytes ImageHead(std::int32_t Width, std::int32_t Height, int Bits) {
  TBytes b;
  b.U32(40).I32(Width).I32(2 * Height).U16(1).U16(Bits);
  b.U32(0).U32(0).I32(0).I32(0).U32(0).U32(0); // compression, size, resolution, colours
  return b;
}

struct TIcoRead {
  bool Aborted = false;
  std::unique_ptr<TRvMask> Mask;
};

TIcoRead ReadIcon(const std::vector<std::uint8_t>& Bytes, TRvBitmap* Bitmap, TIOParamsVals& Params,
                  bool Cursor = false, bool NoMask = false, bool HeaderOnly = false) {
  platform::TBytesStream s(Bytes.data(), std::int64_t(Bytes.size()));
  rv::TRvLocalProgress p;
  TIcoRead r;
  if (Cursor)
    rv::CurReadStream(s, Bitmap, Params, NoMask, r.Mask, p.Rec, HeaderOnly);
  else
    rv::IcoReadStream(s, Bitmap, Params, NoMask, r.Mask, p.Rec, HeaderOnly);
  r.Aborted = p.Rec.IsAborting();
  return r;
}

int Alpha(TRvMask& M, int X, int Y) { return M.ScanLine(Y)[X]; }

std::uint32_t Ramp(int I) {
  return (std::uint32_t(3 * I) << 16) | (std::uint32_t(2 * I) << 8) | std::uint32_t(I);
}

// A 32 x 32 icon at 4 bits: index (x + y) mod 16; the AND mask hides the
// first four pixels of the top row and the last pixel of the bottom row.
TBytes FourBitIcon() {
  TBytes img = ImageHead(32, 32, 4);
  for (int i = 0; i < 16; ++i) img.Raw({unsigned(i), unsigned(2 * i), unsigned(3 * i), 0});
  for (int row = 0; row < 32; ++row) { // colour rows, bottom first
    const int y = 31 - row;
    for (int x = 0; x < 32; x += 2) img.U8(unsigned(((x + y) % 16) << 4 | ((x + 1 + y) % 16)));
  }
  for (int row = 0; row < 32; ++row) { // AND rows, bottom first
    const int y = 31 - row;
    img.Raw({y == 0 ? 0xF0u : 0u, 0, 0, y == 31 ? 0x01u : 0u});
  }
  return Directory(1, {{32, 32, 16, 1, 4, img}});
}

// 2 x 2 at 32 bits; Alpha false leaves every alpha byte 0 (an old-style
// image whose AND mask hides (1, 0)).
TBytes ThirtyTwoBitIcon(bool WithAlpha) {
  TBytes img = ImageHead(2, 2, 32);
  img.Raw({10, 20, 30, WithAlpha ? 255u : 0u, 40, 50, 60, 0}); // bottom row
  img.Raw({1, 2, 3, WithAlpha ? 128u : 0u, 4, 5, 6, 0});       // top row
  img.Raw({0, 0, 0, 0}).Raw({0x40, 0, 0, 0});                  // AND rows, bottom first
  return Directory(1, {{2, 2, 0, 1, 32, img}});
}

} // namespace

TEST(IcoRead, FourBitIconWithMask) {
  TRvBitmap bmp;
  TIOParamsVals params;
  params.IcoBackground = rv::TRGB{30, 20, 10};
  TIcoRead r = ReadIcon(FourBitIcon().Data, &bmp, params);
  ASSERT_FALSE(r.Aborted);
  ASSERT_TRUE(r.Mask);
  EXPECT_EQ(params.Width, 32);
  EXPECT_EQ(params.Height, 32);
  EXPECT_EQ(params.BitsPerSample, 4);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_EQ(params.ColorMapCount, 16);
  EXPECT_FALSE(r.Mask->Full());
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool hidden = (y == 0 && x < 4) || (y == 31 && x == 31);
      ASSERT_EQ(Alpha(*r.Mask, x, y), hidden ? 0 : 255) << x << "," << y;
      ASSERT_EQ(Rgb(bmp, x, y), hidden ? 0x0A141Eu : Ramp((x + y) % 16)) << x << "," << y;
    }
}

TEST(IcoRead, OneBitIconOnBlackAndOnWhite) {
  // 8 x 2; colour rows: bottom 0xF0, top 0x0F; AND: bottom 0xCC.
  TBytes img = ImageHead(8, 2, 1);
  img.Raw({0, 0, 0, 0, 255, 255, 255, 0});
  img.Raw({0xF0, 0, 0, 0}).Raw({0x0F, 0, 0, 0});
  img.Raw({0xCC, 0, 0, 0}).Raw({0x00, 0, 0, 0});
  const TBytes file = Directory(1, {{8, 2, 2, 1, 1, img}});
  TRvBitmap bmp;
  TIOParamsVals params;
  params.IcoBackground = rv::TRGB{0, 0, 0};
  TIcoRead r = ReadIcon(file.Data, &bmp, params);
  ASSERT_FALSE(r.Aborted);
  ASSERT_EQ(bmp.PixelFormat(), rv::rvpf1Bit);
  // Inverted pixels (colour 1, AND 1) turn white, transparent ones black.
  EXPECT_EQ(Bit(bmp, 0, 1), 1);
  EXPECT_EQ(Bit(bmp, 4, 1), 0);
  EXPECT_EQ(Bit(bmp, 2, 1), 1);
  EXPECT_EQ(Alpha(*r.Mask, 0, 1), 0);
  EXPECT_EQ(Alpha(*r.Mask, 4, 1), 0);
  EXPECT_EQ(Alpha(*r.Mask, 2, 1), 255);
  params.IcoBackground = rv::TRGB{255, 255, 255};
  r = ReadIcon(file.Data, &bmp, params);
  EXPECT_EQ(Bit(bmp, 0, 1), 0);
  EXPECT_EQ(Bit(bmp, 4, 1), 1);
  EXPECT_EQ(Bit(bmp, 2, 1), 1);
  EXPECT_EQ(Bit(bmp, 4, 0), 1); // no AND bit: as stored
}

TEST(IcoRead, HeaderSizeWinsOverTheEntry) {
  TBytes img = ImageHead(32, 32, 24);
  img.Zeros(32 * 32 * 3 + 32 * 4);
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadIcon(Directory(1, {{16, 16, 0, 1, 24, img}}).Data, &bmp, params).Aborted);
  EXPECT_EQ(params.Width, 32);
  EXPECT_EQ(params.Height, 32);
  EXPECT_EQ(params.BitsPerSample, 8);
  EXPECT_EQ(params.SamplesPerPixel, 3);
  EXPECT_EQ(bmp.Width(), 32);
}

TEST(IcoRead, ThirtyTwoBitIconsTakeTheirAlphaOrElseTheMask) {
  for (bool withAlpha : {true, false}) {
    TRvBitmap bmp;
    TIOParamsVals params;
    params.IcoBackground = rv::TRGB{7, 8, 9};
    TIcoRead r = ReadIcon(ThirtyTwoBitIcon(withAlpha).Data, &bmp, params);
    ASSERT_FALSE(r.Aborted);
    // Alpha 0, or a set AND bit, shows the background.
    EXPECT_EQ(Pixels(bmp), (std::vector<std::uint32_t>{0x030201, 0x090807, 0x1E140A, withAlpha ? 0x090807u : 0x3C3228u}));
    EXPECT_EQ(Alpha(*r.Mask, 0, 0), withAlpha ? 128 : 255);
    EXPECT_EQ(Alpha(*r.Mask, 1, 0), 0);
    EXPECT_EQ(Alpha(*r.Mask, 0, 1), 255);
    EXPECT_EQ(params.BitsPerSample, 8);
    EXPECT_EQ(params.SamplesPerPixel, 3);
  }
}

TEST(IcoRead, NoMaskLeavesTheMaskAlone) {
  TRvBitmap bmp;
  TIOParamsVals params;
  TIcoRead r = ReadIcon(FourBitIcon().Data, &bmp, params, false, true);
  EXPECT_FALSE(r.Aborted);
  EXPECT_FALSE(r.Mask);
  EXPECT_EQ(Rgb(bmp, 0, 0), 0xFFFFFFu); // hidden: the white background
}

TEST(IcoRead, BitmapInsideAnIconFile) {
  TBytes b = BmpHead(2, 1, 24, 0, 0, 54).Raw({1, 2, 3, 4, 5, 6, 0, 0});
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadIcon(b.Data, &bmp, params).Aborted);
  EXPECT_EQ(Rgb(bmp, 0, 0), 0x030201u);
  EXPECT_EQ(Rgb(bmp, 1, 0), 0x060504u);
}

TEST(IcoRead, IndexOutOfRangeTouchesNothing) {
  TRvBitmap bmp;
  TIOParamsVals params;
  params.IcoImageIndex = 1;
  params.Width = 77;
  TIcoRead r = ReadIcon(FourBitIcon().Data, &bmp, params);
  EXPECT_FALSE(r.Aborted);
  EXPECT_EQ(params.Width, 77);
  EXPECT_EQ(bmp.Width(), 0);
  params.IcoImageIndex = -1;
  EXPECT_FALSE(ReadIcon(FourBitIcon().Data, &bmp, params).Aborted);
  EXPECT_EQ(params.Width, 77);
}

TEST(IcoRead, SecondEntryIsChosenByIndex) {
  TBytes small = ImageHead(1, 1, 24);
  small.Raw({1, 1, 1, 0}).Raw({0, 0, 0, 0});
  TBytes big = ImageHead(2, 1, 24);
  big.Raw({9, 8, 7, 6, 5, 4, 0, 0}).Raw({0, 0, 0, 0});
  TRvBitmap bmp;
  TIOParamsVals params;
  params.IcoImageIndex = 1;
  ASSERT_FALSE(
      ReadIcon(Directory(1, {{1, 1, 0, 1, 24, small}, {2, 1, 0, 1, 24, big}}).Data, &bmp, params)
          .Aborted);
  EXPECT_EQ(bmp.Width(), 2);
  EXPECT_EQ(Rgb(bmp, 1, 0), 0x040506u);
}

TEST(IcoRead, RefusedImages) {
  TRvBitmap bmp;
  TIOParamsVals params;
  // Both bit counts 0 and no colour count.
  TBytes none = ImageHead(2, 2, 0);
  none.Zeros(32);
  EXPECT_TRUE(ReadIcon(Directory(1, {{2, 2, 0, 1, 0, none}}).Data, &bmp, params).Aborted);
  EXPECT_EQ(bmp.Width(), 0);
  // A PNG stored in the directory.
  TBytes png;
  png.Raw({0x89, 'P', 'N', 'G', 13, 10, 26, 10}).Zeros(40);
  EXPECT_TRUE(ReadIcon(Directory(1, {{0, 0, 0, 1, 32, png}}).Data, &bmp, params).Aborted);
  // Sixteen bits per pixel has no decoding path.
  TBytes sixteen = ImageHead(2, 2, 16);
  sixteen.Zeros(32);
  EXPECT_TRUE(ReadIcon(Directory(1, {{2, 2, 0, 1, 16, sixteen}}).Data, &bmp, params).Aborted);
}

TEST(CurRead, HotSpotAndColourCount) {
  TBytes img = ImageHead(8, 1, 1);
  img.Raw({0, 0, 0, 0, 255, 255, 255, 0}).Raw({0x81, 0, 0, 0}).Raw({0x01, 0, 0, 0});
  const TBytes file = Directory(2, {{8, 1, 0, 5, 7, img}}); // planes 5, bits 7: the hot spot
  TRvBitmap bmp;
  TIOParamsVals params;
  TIcoRead r = ReadIcon(file.Data, &bmp, params, true);
  ASSERT_FALSE(r.Aborted);
  EXPECT_EQ(params.CurHotSpotX, 5);
  EXPECT_EQ(params.CurHotSpotY, 7);
  EXPECT_EQ(params.BitsPerSample, 1);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  EXPECT_EQ(params.ColorMapCount, 2);
  EXPECT_EQ(Bit(bmp, 0, 0), 1);
  EXPECT_EQ(Bit(bmp, 7, 0), 0); // inverted pixel on the white background
  EXPECT_EQ(Alpha(*r.Mask, 7, 0), 0);
}

TEST(CurRead, EntryColourCountCannotWidenOneBitRows) {
  // The entry claims 4 colours over a 1-bit image: four palette entries are
  // read, the image stays 1-bit.
  TBytes img = ImageHead(8, 1, 1);
  img.Raw({0, 0, 0, 0, 255, 255, 255, 0, 1, 1, 1, 0, 2, 2, 2, 0})
      .Raw({0xFF, 0, 0, 0})
      .Raw({0, 0, 0, 0});
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadIcon(Directory(2, {{8, 1, 4, 0, 0, img}}).Data, &bmp, params, true).Aborted);
  EXPECT_EQ(params.ColorMapCount, 4);
  EXPECT_EQ(bmp.PixelFormat(), rv::rvpf1Bit);
  EXPECT_EQ(Bit(bmp, 3, 0), 1);
  // The reverse: two colours claimed over 4-bit rows decode at 24 bits.
  TBytes four = ImageHead(8, 1, 4);
  four.Raw({0, 0, 0, 0, 9, 9, 9, 0}).Raw({0x01, 0x10, 0, 0}).Raw({0, 0, 0, 0});
  ASSERT_FALSE(ReadIcon(Directory(2, {{8, 1, 2, 0, 0, four}}).Data, &bmp, params, true).Aborted);
  EXPECT_EQ(bmp.PixelFormat(), rv::rvpf24Bit);
  EXPECT_EQ(Rgb(bmp, 1, 0), 0x090909u);
  EXPECT_EQ(Rgb(bmp, 2, 0), 0x090909u);
  EXPECT_EQ(Rgb(bmp, 3, 0), 0u);
}

TEST(IcoProbe, DirectoriesAreToldApart) {
  const TBytes ico = FourBitIcon();
  platform::TBytesStream s(ico.Data.data(), std::int64_t(ico.Size()));
  EXPECT_TRUE(rv::IsIcoStream(s));
  EXPECT_FALSE(rv::IsCurStream(s));
  EXPECT_EQ(s.Position(), 0);
  auto probe = [](TBytes B) {
    platform::TBytesStream t(B.Data.data(), std::int64_t(B.Size()));
    return rv::IsIcoStream(t);
  };
  TBytes bad = ico;
  bad.Data[9] = 1; // reserved byte of the entry
  EXPECT_FALSE(probe(bad));
  bad = ico;
  bad.Data[14] = bad.Data[15] = bad.Data[16] = bad.Data[17] = 0; // data size 0
  EXPECT_FALSE(probe(bad));
  bad = ico;
  bad.Data[18] = 10; // offset inside the directory
  EXPECT_FALSE(probe(bad));
  bad.Data.assign(ico.Data.begin(), ico.Data.begin() + 22);
  EXPECT_FALSE(probe(bad)); // shorter than 23 bytes
}

TEST(IcoRead, DamagedIconsAreSafe) {
  for (const TBytes& f : {FourBitIcon(), ThirtyTwoBitIcon(true), ThirtyTwoBitIcon(false)})
    codectest::ExpectDamageIsSafe(
        [](platform::TStream& S, codectest::TDecoded& D, rv::TRvProgressRec& P) {
          rv::IsIcoStream(S);
          rv::IcoReadStream(S, &D.Bitmap, D.Params, false, D.Mask, P, false);
        },
        f.Data);
}

TEST(IcoRead, HugeSizesAreRefusedByTheCap) {
  TPixelCap cap(1000);
  TBytes img = ImageHead(4000, 4000, 24);
  TRvBitmap bmp;
  TIOParamsVals params;
  EXPECT_TRUE(ReadIcon(Directory(1, {{0, 0, 0, 1, 24, img}}).Data, &bmp, params).Aborted);
  EXPECT_EQ(params.Width, 4000);
  EXPECT_EQ(bmp.Width(), 0);
}

TEST(IcoInterop, ReadsIconsAsImageMagickDoes) {
  CODECTEST_NEED_TOOLS("convert");
  testing_support::TTempFolder dir;
  // ImageMagick's 4-bit icon of an opaque picture of twelve colours, and
  // its 32-bit icon with partial transparency.
  ASSERT_TRUE(codectest::Run("convert -size 19x7 plasma:fractal -seed 5 -colors 12 -type palette '" + dir.File("p.ico") + "'"));
  ASSERT_TRUE(codectest::Run("convert -size 9x5 xc:none -fill 'rgba(255,0,0,0.5)' -draw 'rectangle 0,0 4,4' "
                             "-fill '#0000ff' -draw 'point 6,2' '" + dir.File("a.png") + "' && convert '" +
                             dir.File("a.png") + "' '" + dir.File("a.ico") + "'"));
  // A 24-bit icon whose AND mask hides the top row's first and last pixels
  // and the bottom row's middle one.
  TBytes img = ImageHead(3, 2, 24);
  img.Raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}).Raw({10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0});
  img.Raw({0x40, 0, 0, 0, 0xA0, 0, 0, 0});
  codectest::Save(dir.File("m.ico"), Directory(1, {{3, 2, 0, 1, 24, img}}).Data);
  for (const auto& [name, bits] : {std::pair{"p.ico", 4}, std::pair{"a.ico", 32}, std::pair{"m.ico", 24}}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> bytes = codectest::Load(dir.File(name));
    ASSERT_EQ(bytes[12], bits); // bits per pixel in the entry
    TRvBitmap bmp;
    TIOParamsVals params;
    TIcoRead r = ReadIcon(bytes, &bmp, params);
    ASSERT_FALSE(r.Aborted);
    codectest::ExpectMatches(bmp, r.Mask.get(), codectest::Reference(dir.File(name)));
  }
}
