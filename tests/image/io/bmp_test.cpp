// BMP reader and writer: hand-built files, ImageMagick's files, broken files
// and round trips.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "image/io/bmptestutil.h"
#include "image/io/codectest_util.h"
#include "support/tempfolder.h"

using namespace bmptest;
using rv::TIOParamsVals;
using rv::TRvBitmap;

namespace {

// Keeps the library-wide default resolution for one test.
struct TDefaultDpi {
  TDefaultDpi(int X, int Y) : FX(rv::RvDefaultDpiX), FY(rv::RvDefaultDpiY) {
    rv::RvDefaultDpiX = X;
    rv::RvDefaultDpiY = Y;
  }
  ~TDefaultDpi() {
    rv::RvDefaultDpiX = FX;
    rv::RvDefaultDpiY = FY;
  }
  int FX, FY;
};

// Palette entry i = (red 3i, green 2i, blue i), 4 bytes each.
TBytes& RampPalette(TBytes& B, int Count) {
  for (int i = 0; i < Count; ++i) B.Raw({unsigned(i), unsigned(2 * i), unsigned(3 * i), 0});
  return B;
}
std::uint32_t Ramp(int I) {
  return (std::uint32_t(3 * I) << 16) | (std::uint32_t(2 * I) << 8) | std::uint32_t(I);
}

// A 24-bit 2 x 2 picture: top row red, white; bottom row blue, green.
TBytes TwoByTwo(bool TopDown) {
  TBytes b = BmpHead(2, TopDown ? -2 : 2, 24, 0, 0, 54);
  const std::initializer_list<unsigned> top = {0, 0, 255, 255, 255, 255, 0, 0};
  const std::initializer_list<unsigned> bottom = {255, 0, 0, 0, 255, 0, 0, 0};
  if (TopDown)
    b.Raw(top).Raw(bottom);
  else
    b.Raw(bottom).Raw(top);
  return b;
}

// RLE8 palette: 0 black, 1 red, 2 green, 3 blue.
TBytes Rle8Head(int Width, int Height, std::int32_t Sign = 1) {
  TBytes b = BmpHead(Width, Sign * Height, 8, 1, 4, 14 + 40 + 16);
  b.Raw({0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0});
  return b;
}

} // namespace

// ---- Hand-built files -------------------------------------------------

TEST(BmpRead, TwentyFourBitsBottomUpAndTopDown) {
  for (bool topDown : {false, true}) {
    TRvBitmap bmp;
    TIOParamsVals params;
    const TRead r = ReadBmp(TwoByTwo(topDown).Data, &bmp, params);
    ASSERT_FALSE(r.Aborted);
    EXPECT_EQ(bmp.PixelFormat(), rv::rvpf24Bit);
    EXPECT_EQ(Pixels(bmp), (std::vector<std::uint32_t>{0xFF0000, 0xFFFFFF, 0x0000FF, 0x00FF00}));
    EXPECT_EQ(params.Height, 2);
    EXPECT_EQ(params.BmpVersion, 1);
    EXPECT_EQ(params.BitsPerSample, 8);
    EXPECT_EQ(params.SamplesPerPixel, 3);
    EXPECT_EQ(params.DpiX, 96); // 3780 pixels per metre
    EXPECT_EQ(r.Progress, 2);
  }
}

TEST(BmpRead, ResolutionAndItsDefault) {
  TDefaultDpi dpi(77, 78);
  TRvBitmap bmp;
  TIOParamsVals params;
  TBytes b = BmpHead(1, 1, 24, 0, 0, 54, 2835).Raw({1, 2, 3, 0});
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  EXPECT_EQ(params.DpiX, 72);
  b = BmpHead(1, 1, 24, 0, 0, 54, 0).Raw({1, 2, 3, 0});
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  EXPECT_EQ(params.DpiX, 77);
  EXPECT_EQ(params.DpiY, 78);
  EXPECT_EQ(rv::BmpDpiFromPpm(3780), 96);
  EXPECT_EQ(rv::BmpPpmFromDpi(96), 3780);
  EXPECT_EQ(rv::BmpPpmFromDpi(300), 11811);
}

TEST(BmpRead, PixelsOfEveryDepthAndLayout) {
  TDefaultDpi dpi(81, 82);
  // 1-bit, 3 x 2 (bottom row indexes 1 0 1, top row 0 1 0) with the given palette.
  const auto oneBit = [](std::initializer_list<unsigned> Palette) {
    return BmpHead(3, 2, 1, 0, 0, 14 + 40 + 8).Raw(Palette).Raw({0xA0, 0, 0, 0}).Raw({0x40, 0, 0, 0});
  };
  const auto ramp = [](TBytes B, int Count, std::initializer_list<unsigned> Pixels) {
    return RampPalette(B, Count).Raw(Pixels);
  };
  TBytes core;
  core.Raw({'B', 'M'}).U32(0).U32(0).U32(14 + 12 + 6);
  core.U32(12).U16(2).U16(1).U16(1).U16(1).Raw({0, 0, 0, 255, 255, 255, 0x40, 0, 0, 0}); // 3-byte palette
  // A 124-byte header holds its masks at offset 40; none follow it.
  TBytes v5;
  v5.Raw({'B', 'M'}).U32(0).U32(0).U32(14 + 124);
  v5.U32(124).I32(2).I32(1).U16(1).U16(16).U32(3).U32(4).I32(0).I32(0).U32(0).U32(0);
  v5.U32(0xF800).U32(0x07E0).U32(0x001F).U32(0).Zeros(124 - 56).U16(0x07E0).U16(0xF81F);
  struct TCase {
    const char* Name;
    TBytes File;
    bool OneBit;
    int Bits, MapCount;
    std::vector<std::uint32_t> Pixels; // 0x00RRGGBB, top row first
  } Cases[] = {
      // A set bit is white: white-first palettes flip every bit.
      {"1-bit white, black", oneBit({255, 255, 255, 0, 0, 0, 0, 0}), true, 1, 2, {~0u >> 8, 0, ~0u >> 8, 0, ~0u >> 8, 0}},
      {"1-bit black, white", oneBit({0, 0, 0, 0, 255, 255, 255, 0}), true, 1, 2, {0, ~0u >> 8, 0, ~0u >> 8, 0, ~0u >> 8}},
      {"1-bit other colours", oneBit({0, 0, 200, 0, 90, 0, 0, 0}), false, 1, 2,
       {0xC80000, 0x00005A, 0xC80000, 0x00005A, 0xC80000, 0x00005A}},
      {"4-bit high nibble first", ramp(BmpHead(3, 1, 4, 0, 0, 14 + 40 + 64), 16, {0x12, 0x30, 0, 0}), false, 4, 16,
       {Ramp(1), Ramp(2), Ramp(3)}},
      {"8-bit, colours used 0", ramp(BmpHead(1, 1, 8, 0, 0, 14 + 40 + 1024), 256, {7, 0, 0, 0}), false, 8, 256, {Ramp(7)}},
      {"8-bit, colours used 300", ramp(BmpHead(1, 1, 8, 0, 300, 14 + 40 + 1024), 256, {7, 0, 0, 0}), false, 8, 256, {Ramp(7)}},
      {"8-bit index past the palette is black", ramp(BmpHead(2, 1, 8, 0, 2, 14 + 40 + 8), 2, {1, 200, 0, 0}), false, 8,
       2, {Ramp(1), 0}},
      // 16-bit fields are widened to the full 0..255 by their own widths.
      {"16-bit without masks is 5-5-5", BmpHead(2, 1, 16, 0, 0, 54).U16(0x7FFF).U16(0x4210), false, 5, 0,
       {0xFFFFFF, 0x838383}},
      {"16-bit masks after the header: 5-6-5",
       BmpHead(2, 1, 16, 3, 0, 66).U32(0xF800).U32(0x07E0).U32(0x001F).U16(0x07E0).U16(0xF81F), false, 5, 0,
       {0x00FF00, 0xFF00FF}},
      {"16-bit masks, then the palette",
       BmpHead(2, 1, 16, 3, 2, 74).U32(0xF800).U32(0x07E0).U32(0x001F).Raw({1, 2, 3, 0, 4, 5, 6, 0}).U16(0x07E0).U16(0xF81F),
       false, 5, 2, {0x00FF00, 0xFF00FF}},
      {"16-bit masks inside a 124-byte header", v5, false, 5, 0, {0x00FF00, 0xFF00FF}},
      {"16-bit 3-10-3, green on top, a 10-bit field by its top 8 bits",
       BmpHead(2, 1, 16, 3, 0, 66).U32(0x0038).U32(0xFFC0).U32(0x0007).U16(0x8012).U16(0xFFFF), false, 5, 0,
       {0x488048, 0xFFFFFF}},
      {"32-bit drops the fourth byte", BmpHead(1, 1, 32, 0, 0, 54).Raw({0x11, 0x22, 0x33, 0x44}), false, 8, 0, {0x332211}},
      {"32-bit unusual masks are applied",
       BmpHead(1, 1, 32, 3, 0, 66).U32(0x0000FF00).U32(0x00FF0000).U32(0xFF000000).Raw({0x44, 0x11, 0x22, 0x33}), false,
       8, 0, {0x112233}},
      {"core header", core, true, 1, 2, {0, ~0u >> 8}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRvBitmap bmp;
    TIOParamsVals params;
    ASSERT_FALSE(ReadBmp(C.File.Data, &bmp, params).Aborted);
    EXPECT_EQ(bmp.PixelFormat(), C.OneBit ? rv::rvpf1Bit : rv::rvpf24Bit);
    EXPECT_EQ(params.BitsPerSample, C.Bits);
    EXPECT_EQ(params.ColorMapCount, C.MapCount);
    EXPECT_EQ(Pixels(bmp), C.Pixels);
  }
  TIOParamsVals params;
  ReadBmp(core.Data, nullptr, params, true);
  EXPECT_EQ(params.BmpVersion, 2);
  EXPECT_EQ(params.DpiX, 81);
  EXPECT_EQ(params.DpiY, 82);
  ReadBmp(v5.Data, nullptr, params, true);
  EXPECT_EQ(params.BmpVersion, 0);
}

TEST(BmpRead, HeaderOnlyLeavesTheBitmapAlone) {
  TBytes b = BmpHead(3, 1, 4, 0, 0, 14 + 40 + 64);
  RampPalette(b, 16);
  b.Raw({0x12, 0x30, 0, 0});
  TRvBitmap bmp;
  bmp.Allocate(5, 5, rv::rvpf8BitGray);
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params, true).Aborted);
  EXPECT_EQ(params.Width, 3);
  EXPECT_EQ(params.Height, 1);
  EXPECT_EQ(params.BitsPerSample, 4);
  EXPECT_EQ(params.SamplesPerPixel, 1);
  ASSERT_EQ(params.ColorMapCount, 16);
  EXPECT_EQ(params.ColorMap[5].r, 15);
  EXPECT_EQ(bmp.Width(), 5);
  EXPECT_EQ(bmp.PixelFormat(), rv::rvpf8BitGray);
}

TEST(BmpRead, Rle8RunsAbsoluteGroupsAndDeltas) {
  TBytes b = Rle8Head(6, 3);
  b.Raw({3, 1, 0, 3, 2, 3, 2, 0, 0, 0}); // bottom: 3 red, absolute G B G + pad, EOL
  b.Raw({2, 3, 0, 2, 2, 0, 1, 1, 0, 0}); // middle: 2 blue, delta 2 right, red, EOL
  b.Raw({10, 2, 0, 1});                  // top: a run of 10 cut at 6, end of bitmap
  b.Raw({5, 1});                         // after the end: ignored
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  EXPECT_EQ(params.BmpCompression, 1);
  const std::vector<std::uint32_t> expect = {
      0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00, //
      0x0000FF, 0x0000FF, 0,        0,        0xFF0000, 0,        //
      0xFF0000, 0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF, 0x00FF00};
  EXPECT_EQ(Pixels(bmp), expect);
}

TEST(BmpRead, Rle8DeltaUpAndOutOfThePicture) {
  TBytes b = Rle8Head(3, 2);
  b.Raw({1, 1, 0, 2, 1, 1, 1, 3}); // red at (0,1); delta 1 right, 1 up; blue at (2,0)
  b.Raw({0, 2, 0, 9, 1, 2});       // delta far above the picture stops decoding
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  const std::vector<std::uint32_t> expect = {0, 0, 0x0000FF, 0xFF0000, 0, 0};
  EXPECT_EQ(Pixels(bmp), expect);
}

TEST(BmpRead, Rle8TopDownAndUnterminated) {
  TBytes b = Rle8Head(2, 2, -1);
  b.Raw({2, 1, 0, 0, 1, 3}); // no end-of-bitmap escape
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  const std::vector<std::uint32_t> expect = {0xFF0000, 0xFF0000, 0x0000FF, 0};
  EXPECT_EQ(Pixels(bmp), expect);
}

TEST(BmpRead, Rle4NibblesAndPadding) {
  TRvBitmap bmp;
  TIOParamsVals params;
  TBytes b = BmpHead(6, 1, 4, 2, 16, 14 + 40 + 64);
  RampPalette(b, 16);
  b.Raw({3, 0x12, 0, 3, 0x34, 0x50, 0, 1}); // run 1 2 1, absolute 3 4 5 (2 bytes)
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  std::vector<std::uint32_t> expect = {Ramp(1), Ramp(2), Ramp(1), Ramp(3), Ramp(4), Ramp(5)};
  EXPECT_EQ(Pixels(bmp), expect);
  b = BmpHead(6, 1, 4, 2, 16, 14 + 40 + 64);
  RampPalette(b, 16);
  b.Raw({0, 5, 0x12, 0x34, 0x50, 0, 1, 0x66, 0, 1}); // 5 nibbles in 3 bytes + pad, run 6
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  expect = {Ramp(1), Ramp(2), Ramp(3), Ramp(4), Ramp(5), Ramp(6)};
  EXPECT_EQ(Pixels(bmp), expect);
}

// ---- Broken files -----------------------------------------------------

TEST(BmpRead, NotABitmapLeavesEverything) {
  TBytes b = TwoByTwo(false);
  b.Data[1] = 'A';
  TRvBitmap bmp;
  TIOParamsVals params;
  params.Width = 123;
  EXPECT_TRUE(ReadBmp(b.Data, &bmp, params).Aborted);
  EXPECT_EQ(params.Width, 123);
  EXPECT_EQ(bmp.Width(), 0);
}

TEST(BmpRead, UndecodableCombinationsFailInsteadOfBlank) {
  TRvBitmap bmp;
  TIOParamsVals params;
  const TBytes cases[] = {
      BmpHead(2, 2, 24, 1, 0, 54).Zeros(16), // RLE8 at 24 bits
      BmpHead(2, 2, 24, 4, 0, 54).Zeros(16), // embedded JPEG
      BmpHead(2, 2, 2, 0, 0, 54).Zeros(16),  // two bits per pixel
      BmpHead(2, 2, 16, 1, 0, 54).Zeros(16), // RLE at 16 bits
      BmpHead(0, 2, 24, 0, 0, 54).Zeros(16), // no width
      BmpHead(2, 0, 24, 0, 0, 54).Zeros(16), // no height
  };
  for (const TBytes& b : cases) {
    EXPECT_TRUE(ReadBmp(b.Data, &bmp, params).Aborted);
    EXPECT_FALSE(ReadBmp(b.Data, nullptr, params, true).Aborted);
  }
}

TEST(BmpRead, PixelCapRefusesBeforeAllocating) {
  TPixelCap cap(100);
  TRvBitmap bmp;
  TIOParamsVals params;
  EXPECT_TRUE(ReadBmp(BmpHead(20, 20, 24, 0, 0, 54).Data, &bmp, params).Aborted);
  EXPECT_EQ(bmp.Width(), 0);
  EXPECT_FALSE(ReadBmp(BmpHead(20, 20, 24, 0, 0, 54).Data, nullptr, params, true).Aborted);
  EXPECT_EQ(params.Width, 20);
}

TEST(BmpRead, TruncatedFileShowsWhatWasRead) {
  TBytes b = BmpHead(1, 3, 24, 0, 0, 54);
  b.Raw({1, 2, 3, 0}).Raw({4, 5}); // bottom row whole, middle row cut
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  const std::vector<std::uint32_t> expect = {0, 0x000504, 0x030201};
  EXPECT_EQ(Pixels(bmp), expect);
}

TEST(BmpRead, DamagedFilesOfEveryKindAreSafe) {
  std::vector<TBytes> files = {TwoByTwo(false), TwoByTwo(true)};
  TBytes rle = Rle8Head(6, 3);
  rle.Raw({3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 2, 3, 0, 2, 2, 0, 1, 1, 0, 0, 10, 2, 0, 1});
  files.push_back(rle);
  TBytes rle4 = BmpHead(6, 1, 4, 2, 16, 14 + 40 + 64);
  RampPalette(rle4, 16).Raw({0, 5, 0x12, 0x34, 0x50, 0, 1, 0x66, 0, 1});
  files.push_back(rle4);
  TBytes masks = BmpHead(2, 1, 16, 3, 0, 66);
  masks.U32(0xF800).U32(0x07E0).U32(0x001F).U16(0x07E0).U16(0xF81F);
  files.push_back(masks);
  for (bool header : {false, true})
    for (const TBytes& f : files)
      codectest::ExpectDamageIsSafe(
          [header](platform::TStream& S, codectest::TDecoded& D, rv::TRvProgressRec& P) {
            rv::BmpReadStream(S, header ? nullptr : &D.Bitmap, 0, D.Params, P, header);
          },
          f.Data);
}

TEST(BmpRead, HostileRleCannotWriteOutside) {
  TBytes b = Rle8Head(4, 2);
  b.Raw({255, 1, 255, 1, 0, 2, 255, 0, 0, 2, 3, 1, 0, 255, 1, 2,
         3}); // runs, deltas and a short group
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(b.Data, &bmp, params).Aborted);
  EXPECT_EQ(Rgb(bmp, 3, 1), 0xFF0000u);
}

TEST(BmpRead, AbortFromProgressStopsTheRows) {
  TBytes b = BmpHead(1, 4, 24, 0, 0, 54);
  for (int i = 0; i < 4; ++i) b.Raw({9, 9, 9, 0});
  platform::TBytesStream s(b.Data.data(), static_cast<std::int64_t>(b.Size()));
  rv::TRvLocalProgress p;
  int calls = 0;
  p.Rec.OnProgress = [&](void*, int Per) {
    EXPECT_EQ(Per, calls * 25);
    if (++calls == 2) p.Rec.Abort();
  };
  TRvBitmap bmp;
  TIOParamsVals params;
  rv::BmpReadStream(s, &bmp, 0, params, p.Rec, false);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Rgb(bmp, 0, 3), 0x090909u); // bottom row read
  EXPECT_EQ(Rgb(bmp, 0, 2), 0u);        // the rest not
}

// ---- Writer -----------------------------------------------------------

namespace {

std::uint32_t At32(const std::vector<std::uint8_t>& B, std::size_t O) {
  return B[O] | (B[O + 1] << 8) | (B[O + 2] << 16) | (std::uint32_t(B[O + 3]) << 24);
}
std::uint32_t At16(const std::vector<std::uint8_t>& B, std::size_t O) {
  return B[O] | (B[O + 1] << 8);
}

// W x H with Colour(x, y) as 0x00RRGGBB.
template <typename F> void Paint(TRvBitmap& Bmp, int W, int H, F Colour) {
  rv::RvAllocateBitmap(Bmp, W, H, rv::rvpf24Bit);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const std::uint32_t c = Colour(x, y);
      std::uint8_t* p = Bmp.Scanline(y) + 3 * x;
      p[0] = std::uint8_t(c);
      p[1] = std::uint8_t(c >> 8);
      p[2] = std::uint8_t(c >> 16);
    }
}

using codectest::TShortStream;

} // namespace

TEST(BmpWrite, TwentyFourBitLayout) {
  TRvBitmap bmp;
  Paint(bmp, 2, 2, [](int x, int y) {
    return y == 0 ? (x ? 0xFFFFFFu : 0xFF0000u) : (x ? 0x00FF00u : 0x0000FFu);
  });
  TIOParamsVals params;
  params.DpiX = 96;
  params.DpiY = 300;
  const std::vector<std::uint8_t> f = WriteBmp(bmp, params);
  ASSERT_EQ(f.size(), 70u);
  EXPECT_EQ(At16(f, 0), 0x4D42u);
  EXPECT_EQ(At32(f, 2), 70u);        // file size
  EXPECT_EQ(At32(f, 10), 54u);       // pixel offset
  EXPECT_EQ(At32(f, 14), 40u);       // header size
  EXPECT_EQ(At32(f, 18), 2u);        // width
  EXPECT_EQ(At32(f, 22), 2u);        // height, bottom-up
  EXPECT_EQ(At16(f, 26), 1u);        // planes
  EXPECT_EQ(At16(f, 28), 24u);       // bits
  EXPECT_EQ(At32(f, 30), 0u);        // compression
  EXPECT_EQ(At32(f, 34), 16u);       // image data size
  EXPECT_EQ(At32(f, 38), 3780u);     // 96 dpi
  EXPECT_EQ(At32(f, 42), 11811u);    // 300 dpi
  EXPECT_EQ(At32(f, 46), 0u);        // colours used
  EXPECT_EQ(At32(f, 50), 16777216u); // important colours
  const std::vector<std::uint8_t> rows(f.begin() + 54, f.end());
  const TBytes same = TwoByTwo(false);
  EXPECT_EQ(rows, std::vector<std::uint8_t>(same.Data.begin() + 54, same.Data.end()));
}

TEST(BmpWrite, RleAtEightBits) {
  // Two colours in bands of two rows, 40 x 16.
  TRvBitmap bmp;
  Paint(bmp, 40, 16, [](int, int y) { return (y / 2) % 2 ? 0x102030u : 0x405060u; });
  TIOParamsVals params;
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 1;
  params.BmpCompression = 1;
  bool aborted = true;
  const std::vector<std::uint8_t> f = WriteBmp(bmp, params, &aborted);
  ASSERT_FALSE(aborted);
  EXPECT_EQ(At16(f, 28), 8u);
  EXPECT_EQ(At32(f, 30), 1u);   // RLE8
  EXPECT_EQ(At32(f, 46), 256u); // colours used
  const std::size_t p = 14 + 40 + 1024;
  ASSERT_EQ(At32(f, 10), p);
  // Each uniform row is one run of 40 and an end of line; then the end of bitmap.
  ASSERT_EQ(f.size(), p + 16 * 4 + 2);
  for (std::size_t r = 0; r < 16; ++r) {
    EXPECT_EQ(f[p + 4 * r], 40);
    EXPECT_EQ(f[p + 4 * r + 2], 0);
    EXPECT_EQ(f[p + 4 * r + 3], 0);
  }
  EXPECT_EQ(f[f.size() - 2], 0);
  EXPECT_EQ(f[f.size() - 1], 1);
  EXPECT_EQ(At32(f, 34), 16u * 4 + 2); // image data size
  EXPECT_EQ(At32(f, 2), f.size());
  EXPECT_EQ(params.ColorMapCount, 256);
  TRvBitmap back;
  TIOParamsVals p2;
  ASSERT_FALSE(ReadBmp(f, &back, p2).Aborted);
  EXPECT_EQ(p2.BmpCompression, 1);
  const auto px = Pixels(back);
  EXPECT_EQ(px[0], px[40]);
  EXPECT_NE(px[0], px[80]);
  // At 24 bits the rows stay uncompressed.
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 3;
  const std::vector<std::uint8_t> plain = WriteBmp(bmp, params);
  EXPECT_EQ(At32(plain, 30), 0u);
  EXPECT_EQ(At16(plain, 28), 24u);
}

TEST(BmpWrite, SixtyFourByteHeader) {
  TRvBitmap bmp;
  Paint(bmp, 1, 1, [](int, int) { return 0xABCDEFu; });
  TIOParamsVals params;
  params.BmpVersion = 3;
  const std::vector<std::uint8_t> f = WriteBmp(bmp, params);
  EXPECT_EQ(At32(f, 14), 64u);
  EXPECT_EQ(At32(f, 10), 78u);
  for (std::size_t i = 54; i < 78; ++i) EXPECT_EQ(f[i], 0) << i;
}

TEST(BmpWrite, CoreHeaderWithThreeBytePalette) {
  TRvBitmap bmp;
  rv::RvAllocateBitmap(bmp, 3, 1, rv::rvpf1Bit);
  bmp.Scanline(0)[0] = 0xA0; // white, black, white
  TIOParamsVals params;
  params.BmpVersion = 2;
  params.BitsPerSample = 1;
  const std::vector<std::uint8_t> f = WriteBmp(bmp, params);
  ASSERT_EQ(f.size(), 14u + 12 + 6 + 4);
  EXPECT_EQ(At32(f, 14), 12u);
  EXPECT_EQ(At16(f, 18), 3u);
  EXPECT_EQ(At16(f, 20), 1u);
  EXPECT_EQ(At16(f, 24), 1u); // bits
  EXPECT_EQ(At32(f, 10), 32u);
  const std::vector<std::uint8_t> pal(f.begin() + 26, f.begin() + 32);
  EXPECT_EQ(pal, (std::vector<std::uint8_t>{0, 0, 0, 255, 255, 255}));
  EXPECT_EQ(f[32], 0xA0);
}

TEST(BmpWrite, CoreHeaderRefusesWidePictures) {
  TRvBitmap bmp;
  rv::RvAllocateBitmap(bmp, 70000, 1, rv::rvpf1Bit);
  TIOParamsVals params;
  params.BmpVersion = 2;
  params.BitsPerSample = 1;
  bool aborted = false;
  EXPECT_TRUE(WriteBmp(bmp, params, &aborted).empty());
  EXPECT_TRUE(aborted);
}

TEST(BmpWrite, TwoColoursBecomeOneBitDarkerFirst) {
  TRvBitmap bmp;
  Paint(bmp, 4, 1, [](int x, int) { return x % 2 ? 0x0000FFu : 0xFF0000u; }); // red, blue, ...
  TIOParamsVals params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  const std::vector<std::uint8_t> f = WriteBmp(bmp, params);
  EXPECT_EQ(At16(f, 28), 1u);
  // Blue (gray 20) is darker than red (gray 53): entry 0 blue, entry 1 red.
  const std::vector<std::uint8_t> pal(f.begin() + 54, f.begin() + 62);
  EXPECT_EQ(pal, (std::vector<std::uint8_t>{255, 0, 0, 0, 0, 0, 255, 0}));
  EXPECT_EQ(f[62], 0xA0); // set where red
  ASSERT_EQ(params.ColorMapCount, 2);
  EXPECT_EQ(params.ColorMap[1].r, 255);
}

TEST(BmpWrite, ShortWriteAbortsAndLeavesPlaceholders) {
  TRvBitmap bmp;
  Paint(bmp, 4, 4, [](int, int) { return 0x777777u; });
  TIOParamsVals params;
  TShortStream s(60);
  rv::TRvLocalProgress p;
  rv::BmpWriteStream(s, bmp, params, p.Rec);
  EXPECT_TRUE(p.Rec.IsAborting());
  ASSERT_GE(s.Data().size(), 14u);
  EXPECT_EQ(At16(s.Data(), 0), 0x4D42u);
  EXPECT_EQ(At32(s.Data(), 2), 0u);
  EXPECT_EQ(At32(s.Data(), 10), 0u);
}

TEST(BmpWrite, FourBitsPackedAndReadBack) {
  TRvBitmap bmp;
  const std::uint32_t colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  Paint(bmp, 5, 3, [&](int x, int y) { return colours[(x + y) % 3]; });
  TIOParamsVals params;
  params.BitsPerSample = 4;
  params.SamplesPerPixel = 1;
  for (int rle = 0; rle < 2; ++rle) {
    params.BmpCompression = static_cast<std::uint8_t>(rle);
    const std::vector<std::uint8_t> f = WriteBmp(bmp, params);
    EXPECT_EQ(At16(f, 28), 4u);
    EXPECT_EQ(At32(f, 30), rle ? 2u : 0u);
    EXPECT_EQ(At32(f, 46), 16u);
    TRvBitmap back;
    TIOParamsVals p2;
    ASSERT_FALSE(ReadBmp(f, &back, p2).Aborted);
    EXPECT_EQ(p2.BitsPerSample, 4);
    // The quantiser keeps three distinct colours apart.
    const auto px = Pixels(back);
    EXPECT_EQ(px[0], px[3]);
    EXPECT_NE(px[0], px[1]);
    EXPECT_NE(px[1], px[2]);
  }
}

// ---- Run-length encoders ----------------------------------------------

TEST(BmpRle, EncodedBytes) {
  std::uint8_t out[256];
  auto enc8 = [&](std::vector<std::uint8_t> Row) {
    const int n = rv::BmpEncodeRle8(Row.data(), int(Row.size()), out);
    return std::vector<std::uint8_t>(out, out + n);
  };
  auto enc4 = [&](std::vector<std::uint8_t> Row) {
    const int n = rv::BmpEncodeRle4(Row.data(), int(Row.size()), out);
    return std::vector<std::uint8_t>(out, out + n);
  };
  using V = std::vector<std::uint8_t>;
  EXPECT_EQ(enc8({5, 5, 5, 1, 2, 3, 4, 7, 7}), (V{3, 5, 0, 4, 1, 2, 3, 4, 2, 7, 0, 0}));
  EXPECT_EQ(enc8({1, 2, 3}), (V{0, 3, 1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(enc8({1, 2}), (V{1, 1, 1, 2, 0, 0}));
  EXPECT_EQ(enc8({9}), (V{1, 9, 0, 0}));
  EXPECT_EQ(enc4({1, 2, 3}), (V{0, 3, 0x12, 0x30, 0, 0}));
  EXPECT_EQ(enc4({1, 2, 3, 4, 5}), (V{0, 5, 0x12, 0x34, 0x50, 0, 0, 0}));
  EXPECT_EQ(enc4({1, 2}), (V{2, 0x12, 0, 0}));
  EXPECT_EQ(enc4({3, 3, 3, 3}), (V{4, 0x33, 0, 0}));
  std::vector<std::uint8_t> long300(300, 5);
  std::vector<std::uint8_t> big(rv::BmpRleRowBound(300));
  const int n = rv::BmpEncodeRle8(long300.data(), 300, big.data());
  EXPECT_EQ(V(big.begin(), big.begin() + n), (V{255, 5, 45, 5, 0, 0}));
}

TEST(BmpRle, RandomRowsSurviveEncodeAndDecode) {
  std::mt19937 rng(7);
  rv::TRGB map[16];
  for (int i = 0; i < 16; ++i)
    map[i] = rv::TRGB{std::uint8_t(i), std::uint8_t(2 * i), std::uint8_t(3 * i)};
  for (int trial = 0; trial < 200; ++trial) {
    const int width = 1 + int(rng() % 700);
    const bool four = trial % 2;
    std::vector<std::uint8_t> row(width);
    const int spread = 1 + int(rng() % 4);
    for (auto& v : row) v = std::uint8_t(rng() % spread);
    if (trial % 5 == 0)
      for (auto& v : row) v = std::uint8_t(rng() % 16);
    std::vector<std::uint8_t> data(rv::BmpRleRowBound(width));
    int n = four ? rv::BmpEncodeRle4(row.data(), width, data.data())
                 : rv::BmpEncodeRle8(row.data(), width, data.data());
    ASSERT_LE(n, rv::BmpRleRowBound(width));
    TRvBitmap bmp;
    rv::RvAllocateBitmap(bmp, width, 1, rv::rvpf24Bit);
    rv::TRvLocalProgress p;
    if (four)
      rv::BmpDecodeRle4(bmp, data.data(), n, p.Rec, map, 16);
    else
      rv::BmpDecodeRle8(bmp, data.data(), n, p.Rec, map, 16);
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(Rgb(bmp, x, 0), (std::uint32_t(3 * row[x]) << 16) | (2 * row[x] << 8) | row[x])
          << "trial " << trial << " x " << x;
  }
}

// ---- ImageMagick ------------------------------------------------------

TEST(BmpInterop, ReadsImageMagickFiles) {
  CODECTEST_NEED_TOOLS("convert");
  testing_support::TTempFolder dir;
  struct TCase {
    const char* Options;
    int Bits;
  };
  const TCase cases[] = {
      {"-colors 40 -type palette BMP3:", 8},               // 8-bit palette
      {"-colors 12 -type palette BMP3:", 4},               // 4-bit palette
      {"-colors 40 -type palette -compress RLE BMP3:", 8}, // RLE8
      {"-colors 12 -type palette BMP2:", 4},               // OS/2 core header
      {"-type truecolor BMP3:", 24},
      {"-type truecolormatte ", 32}, // with bit fields
      {"-define bmp:subtype=RGB565 ", 16},
      {"-define bmp:subtype=RGB555 ", 16},
      {"-monochrome BMP3:", 1},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options);
    const std::string file = dir.File("im" + std::to_string(n++) + ".bmp");
    ASSERT_TRUE(codectest::Run("convert -size 19x7 plasma:fractal -seed 5 " + std::string(c.Options) + "'" + file + "'"));
    const std::vector<std::uint8_t> bytes = codectest::Load(file);
    ASSERT_EQ(At16(bytes, At32(bytes, 14) == 12 ? 24 : 28), unsigned(c.Bits));
    TRvBitmap bmp;
    TIOParamsVals params;
    ASSERT_FALSE(ReadBmp(bytes, &bmp, params, false, std::int64_t(bytes.size())).Aborted);
    // 16-bit channels are widened within a level of ImageMagick's.
    codectest::ExpectMatches(bmp, nullptr, codectest::Reference(file), c.Bits == 16 ? 1 : 0);
  }
}

TEST(BmpInterop, TwoColoursOtherThanBlackAndWhiteKeepTheirColours) {
  CODECTEST_NEED_TOOLS("convert", "ppmtobmp");
  testing_support::TTempFolder dir;
  const std::string ppm = dir.File("two.ppm"), file = dir.File("two.bmp");
  ASSERT_TRUE(codectest::Run("convert -size 9x5 xc:'#C03010' -fill '#2080F0' -draw 'rectangle 2,1 5,3' -depth 8 '" +
                             ppm + "' && ppmtobmp '" + ppm + "' > '" + file + "'"));
  const std::vector<std::uint8_t> bytes = codectest::Load(file);
  ASSERT_GT(bytes.size(), 30u);
  ASSERT_EQ(At16(bytes, 28), 1u);
  TRvBitmap bmp;
  TIOParamsVals params;
  ASSERT_FALSE(ReadBmp(bytes, &bmp, params).Aborted);
  EXPECT_EQ(params.BitsPerSample, 1);
  codectest::ExpectMatches(bmp, nullptr, codectest::Reference(file));
}

TEST(BmpInterop, ImageMagickReadsOurFiles) {
  CODECTEST_NEED_TOOLS("convert");
  testing_support::TTempFolder dir;
  TRvBitmap bmp;
  // More pixels than the neural quantiser's sampling step.
  Paint(bmp, 41, 17, [](int x, int y) {
    return std::uint32_t(x * 6) << 16 | std::uint32_t(y * 15) << 8 | std::uint32_t((x * y) & 0xFF);
  });
  struct TCase {
    int Bits, Samples, Version, Rle;
  };
  const TCase cases[] = {{8, 3, 1, 0}, {8, 3, 3, 0}, {8, 3, 2, 0}, {8, 1, 1, 0}, {8, 1, 1, 1},
                         {4, 1, 1, 0}, {4, 1, 1, 1}, {4, 1, 2, 0}, {1, 1, 1, 0}, {1, 1, 2, 0}};
  int n = 0;
  for (const TCase& c : cases) {
    TIOParamsVals params;
    params.BitsPerSample = c.Bits;
    params.SamplesPerPixel = c.Samples;
    params.BmpVersion = std::uint8_t(c.Version);
    params.BmpCompression = std::uint8_t(c.Rle);
    bool aborted = true;
    const std::vector<std::uint8_t> f = WriteBmp(bmp, params, &aborted);
    ASSERT_FALSE(aborted);
    const std::string name = dir.File("ours" + std::to_string(n++) + ".bmp");
    codectest::Save(name, f);
    TRvBitmap back;
    TIOParamsVals p2;
    ASSERT_FALSE(ReadBmp(f, &back, p2).Aborted);
    SCOPED_TRACE(std::to_string(c.Bits) + "/" + std::to_string(c.Samples) + " v" + std::to_string(c.Version));
    codectest::ExpectMatches(back, nullptr, codectest::Reference(name));
  }
}

namespace {

// 16-bit 5-6-5 pixels after a 40-byte header, its three masks and a colour
// table of Colours entries (which a 16-bit picture does not use).
TBytes BitFieldsWithTable(unsigned Colours, int Width, int Height) {
  TBytes b = BmpHead(Width, Height, 16, 3, Colours, 14 + 40 + 12 + 4 * Colours);
  b.U32(0xF800).U32(0x07E0).U32(0x001F);
  for (unsigned i = 0; i < Colours; ++i) b.Raw({i, 255 - i, i / 2, 0});
  for (int y = Height - 1; y >= 0; --y) {
    for (int x = 0; x < Width; ++x)
      b.U16(unsigned((x * 5 + y * 3) % 32) << 11 | unsigned((x * 9 + y * 7) % 64) << 5 | unsigned((x * 2 + y * 11) % 32));
    b.Zeros(std::size_t(rv::RvRowLen(Width, 16) - 2 * Width));
  }
  return b;
}

} // namespace

TEST(BmpInterop, BitFieldsBeforeAColourTableReadAsImageMagickReadsThem) {
  // bmptopnm (Netpbm 11) takes no masks from a 40-byte header and reads
  // such files as 5-5-5: ImageMagick is the peer here.
  CODECTEST_NEED_TOOLS("convert");
  testing_support::TTempFolder dir;
  std::vector<std::uint32_t> first;
  for (unsigned colours : {0u, 256u}) {
    SCOPED_TRACE(colours);
    const TBytes file = BitFieldsWithTable(colours, 13, 6);
    const std::string name = dir.File("bf" + std::to_string(colours) + ".bmp");
    codectest::Save(name, file.Data);
    TRvBitmap bmp;
    TIOParamsVals params;
    ASSERT_FALSE(ReadBmp(file.Data, &bmp, params).Aborted);
    const codectest::TRgba ref = codectest::Reference(name);
    ASSERT_EQ(ref.Width, 13);
    // Both widen the 5 and 6 bits to 0..255, within a level of each other,
    // and narrowed back they are the same bits.
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 13; ++x) {
        int ours[3];
        codectest::OurPixel(bmp, x, y, ours);
        const std::uint8_t* p = ref.At(x, y);
        for (int c = 0; c < 3; ++c) {
          const int max = c == 1 ? 63 : 31;
          ASSERT_NEAR(ours[c], p[c], 1) << x << "," << y << " channel " << c;
          ASSERT_EQ((ours[c] * max + 127) / 255, (p[c] * max + 127) / 255) << x << "," << y << " channel " << c;
        }
      }
    if (first.empty()) first = Pixels(bmp);
    else EXPECT_EQ(Pixels(bmp), first);
  }
}

namespace {

// A 32-bit 19 x 7 picture after Header (40, 56 or 108 bytes of it, the
// compression given, masks after a 40-byte header when it says bit
// fields), its fourth bytes Alpha(x, y).
template <class TAlpha>
TBytes ThirtyTwoBits(std::uint32_t HeaderSize, std::uint32_t Compression, TAlpha Alpha) {
  const bool trailing = HeaderSize == 40 && Compression == 3;
  const std::uint32_t pixels = 14 + HeaderSize + (trailing ? 12 : 0);
  TBytes b = BmpHead(19, 7, 32, Compression, 0, pixels);
  b.Data[14] = static_cast<std::uint8_t>(HeaderSize);
  if (HeaderSize > 40 || trailing) b.U32(0x00FF0000).U32(0x0000FF00).U32(0x000000FF);
  if (HeaderSize > 52) b.U32(0xFF000000);
  if (HeaderSize > 56) b.Raw({'B', 'G', 'R', 's'}).Zeros(HeaderSize - 60);
  for (int y = 6; y >= 0; --y)
    for (int x = 0; x < 19; ++x) b.Raw({unsigned(x * 13), unsigned(y * 30), 200, Alpha(x, y)});
  return b;
}

} // namespace

// Which 32-bit files have transparency, and what it is, as ImageMagick
// reads them: a header stating an alpha mask with its bit fields, or the
// fourth bytes of a plain 40-byte header's pixels when any is used.
TEST(BmpInterop, TransparencyReadsAsImageMagickReadsIt) {
  CODECTEST_NEED_TOOLS("convert");
  testing_support::TTempFolder dir;
  const auto ramp = [](int x, int y) { return unsigned((x * 11 + y * 29) % 256); };
  const auto none = [](int, int) { return 0u; };
  struct TCase {
    const char* Name;
    TBytes File;
    bool Alpha;
  };
  const TCase cases[] = {{"mask in a 56-byte header", ThirtyTwoBits(56, 3, ramp), true},
                         {"mask in a 108-byte header", ThirtyTwoBits(108, 3, ramp), true},
                         {"fourth bytes of a 40-byte header", ThirtyTwoBits(40, 0, ramp), true},
                         {"fourth bytes all 0", ThirtyTwoBits(40, 0, none), false},
                         {"no bit fields in a 108-byte header", ThirtyTwoBits(108, 0, ramp), false},
                         {"masks after a 40-byte header", ThirtyTwoBits(40, 3, ramp), false}};
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file = dir.File("a" + std::to_string(n++) + ".bmp");
    codectest::Save(file, c.File.Data);
    platform::TBytesStream s(c.File.Data.data(), static_cast<std::int64_t>(c.File.Size()));
    TRvBitmap bmp;
    TIOParamsVals params;
    std::unique_ptr<rv::TRvMask> mask;
    rv::TRvLocalProgress p;
    rv::BmpReadStream(s, &bmp, 0, params, p.Rec, false, &mask);
    ASSERT_FALSE(p.Rec.IsAborting());
    EXPECT_EQ(mask && !mask->Full(), c.Alpha);
    codectest::ExpectMatches(bmp, c.Alpha ? mask.get() : nullptr, codectest::Reference(file));
  }
}

namespace {

// One file kind of the turned-picture table.
struct TKind {
  const char* Name;
  std::uint32_t HeaderSize; // 12: the core header
  int Bits;
  std::uint32_t Compression;
  int Colours;              // palette entries (their count is also colours-used, 0 when 2^Bits)
  std::int32_t PpmX, PpmY;  // 0: no resolution
  std::vector<std::uint32_t> Masks = {};
  bool Profile = false;
};

// The W x H picture of Kind: palette entry i = (37i, 255 - 3i, 91i) but for
// the 1-bit kinds' own two; pixel values from Value(x, y), rows bottom up,
// run-length encoded by our encoder where the kind says so; a version 5
// header names sRGB or carries a made-up profile after the pixels.
std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& B, std::size_t From, std::size_t To) {
  return std::vector<std::uint8_t>(B.begin() + std::ptrdiff_t(From), B.begin() + std::ptrdiff_t(To));
}

template <class TValue>
TBytes KindFile(const TKind& K, int W, int H, const std::vector<std::uint32_t>& Two, TValue Value) {
  const bool core = K.HeaderSize == 12, fields = K.Compression == 3;
  const int entries = core && K.Bits <= 8 ? 1 << K.Bits : K.Colours;
  const std::uint32_t pixels = 14 + K.HeaderSize + (fields && K.HeaderSize == 40 ? 12 : 0) + entries * (core ? 3 : 4);
  TBytes b;
  b.Raw({'B', 'M'}).U32(0).U32(0).U32(pixels).U32(K.HeaderSize);
  if (core) {
    b.U16(W).U16(H).U16(1).U16(K.Bits);
  } else {
    b.I32(W).I32(H).U16(1).U16(K.Bits).U32(K.Compression).U32(0).I32(K.PpmX).I32(K.PpmY);
    b.U32(K.Bits <= 8 && K.Colours == 1 << K.Bits ? 0 : K.Colours).U32(0);
    for (std::uint32_t m : K.Masks) b.U32(m);
    if (K.HeaderSize >= 108) {
      b.Zeros(56 - 40 - 4 * K.Masks.size()).Raw(K.Profile ? std::initializer_list<unsigned>{'D', 'E', 'B', 'M'}
                                                          : std::initializer_list<unsigned>{'B', 'G', 'R', 's'});
      b.Zeros(108 - 60);
    }
    if (K.HeaderSize == 124) b.U32(8).U32(0).U32(K.Profile ? 20 : 0).U32(0); // intent, profile place and size
    if (K.HeaderSize > 40 && K.HeaderSize < 108) b.Zeros(14 + K.HeaderSize - b.Size());
  }
  for (int i = 0; i < entries; ++i) {
    const std::uint32_t c =
        K.Bits == 1 ? Two[i] : std::uint32_t(37 * i & 255) << 16 | (255 - 3 * i) << 8 | (91 * i & 255);
    b.Raw({c & 255, (c >> 8) & 255, c >> 16});
    if (!core) b.U8(0);
  }
  std::vector<std::uint8_t> row(W), rle(rv::BmpRleRowBound(W));
  for (int y = H - 1; y >= 0; --y) {
    if (K.Compression == 1 || K.Compression == 2) {
      for (int x = 0; x < W; ++x) row[x] = std::uint8_t(Value(x, y));
      const int n = K.Compression == 1 ? rv::BmpEncodeRle8(row.data(), W, rle.data())
                                       : rv::BmpEncodeRle4(row.data(), W, rle.data());
      b.Data.insert(b.Data.end(), rle.begin(), rle.begin() + n);
      continue;
    }
    TBytes line;
    line.Zeros(std::size_t(rv::RvRowLen(W, K.Bits)));
    for (int x = 0; x < W; ++x) {
      const std::uint32_t v = Value(x, y);
      if (K.Bits <= 8) line.Data[x * K.Bits / 8] |= std::uint8_t(v << (8 - K.Bits - x * K.Bits % 8));
      for (int k = 0; K.Bits > 8 && k < K.Bits / 8; ++k) line.Data[x * K.Bits / 8 + k] = std::uint8_t(v >> 8 * k);
    }
    b.Data.insert(b.Data.end(), line.Data.begin(), line.Data.end());
  }
  if (K.Compression == 1 || K.Compression == 2) b.Raw({0, 1});
  if (K.Profile) {
    // Where the profile is, counted from the information header.
    const std::uint32_t at = std::uint32_t(b.Size() - 14);
    for (int k = 0; k < 4; ++k) b.Data[14 + 112 + k] = std::uint8_t(at >> 8 * k);
    for (int i = 0; i < 20; ++i) b.U8(i * 11);
  }
  return b;
}

} // namespace

// A turned picture written again has the colours it had: the file's own
// palette (its entries in their order, as many as it used), compression,
// header version and colour space, 16 or 32 bits, its resolution turned,
// and none where the file stated none. ImageMagick sees the file turned.
TEST(BmpWrite, ATurnedPictureKeepsItsFilesPaletteCompressionAndHeader) {
  testing_support::TTempFolder dir;
  const TKind kinds[] = {
      {"1-bit red and blue", 40, 1, 0, 2, 2835, 3780},
      {"1-bit white then black", 40, 1, 0, 2, 0, 0},
      {"4-bit of 12 colours", 40, 4, 0, 12, 2835, 3780},
      {"4-bit of 16 colours, no resolution", 40, 4, 0, 16, 0, 0},
      {"8-bit of 61 colours", 40, 8, 0, 61, 3780, 3780},
      {"8-bit of 200 colours, version 5", 124, 8, 0, 200, 2835, 3780},
      {"RLE4", 40, 4, 2, 13, 0, 0},
      {"RLE8", 40, 8, 1, 200, 2835, 3780},
      {"core header", 12, 8, 0, 256, 0, 0},
      {"OS/2 2.x", 64, 4, 0, 16, 2835, 2835},
      {"16-bit 5-6-5, version 4", 108, 16, 3, 0, 2835, 3780, {0xF800, 0x07E0, 0x001F, 0}},
      {"16-bit 5-5-5", 40, 16, 0, 0, 0, 0},
      {"16-bit 5-6-5 after a 40-byte header", 40, 16, 3, 0, 2835, 3780, {0xF800, 0x07E0, 0x001F}},
      {"32-bit", 40, 32, 0, 0, 2835, 3780},
      {"24-bit with a profile", 124, 24, 0, 0, 2835, 3780, {}, true}};
  const std::vector<std::uint32_t> redBlue = {0xFF0000, 0x0000FF}, whiteBlack = {0xFFFFFF, 0};
  const int W = 13, H = 6;
  int n = 0;
  for (const TKind& k : kinds) {
    SCOPED_TRACE(k.Name);
    const int colours = k.Bits <= 8 ? k.Colours : 0;
    const TBytes file = KindFile(k, W, H, n == 1 ? whiteBlack : redBlue, [&](int x, int y) -> std::uint32_t {
      if (k.Bits <= 8) return std::uint32_t((x * 5 + y * 3) % colours);
      if (k.Bits == 16) return std::uint32_t(x * 2311 + y * 977) & (k.Compression == 3 ? 0xFFFF : 0x7FFF);
      return std::uint32_t(x * 40 + y) << 16 | std::uint32_t(y * 40) << 8 | std::uint32_t(x * 19);
    });
    TRvBitmap bmp;
    TIOParamsVals params;
    ASSERT_FALSE(ReadBmp(file.Data, &bmp, params).Aborted);
    EXPECT_EQ(params.DpiStated, k.HeaderSize != 12 && k.PpmX != 0);
    codectest::TurnClockwise(bmp, nullptr);
    std::swap(params.DpiX, params.DpiY);
    const std::vector<std::uint8_t> f = WriteBmp(bmp, params);
    ASSERT_GT(f.size(), 54u);
    // The header and palette as the file had them, the resolution turned.
    EXPECT_EQ(At32(f, 14), k.HeaderSize);
    EXPECT_EQ(At16(f, k.HeaderSize == 12 ? 24 : 28), unsigned(k.Bits));
    EXPECT_EQ(At32(f, 10), At32(file.Data, 10));
    const std::size_t tables = At32(file.Data, 10);
    if (k.HeaderSize != 12) {
      EXPECT_EQ(At32(f, 30), k.Compression);
      EXPECT_EQ(At32(f, 38), std::uint32_t(k.PpmY));
      EXPECT_EQ(At32(f, 42), std::uint32_t(k.PpmX));
      EXPECT_EQ(At32(f, 46), At32(file.Data, 46)); // colours used
      // Bit fields, colour space, intent and the OS/2 fields.
      const std::size_t fields = tables - 4 * colours - (k.Profile ? 12 : 0);
      EXPECT_EQ(Slice(f, 54, fields), Slice(file.Data, 54, fields));
    }
    EXPECT_EQ(Slice(f, 14 + k.HeaderSize, tables), Slice(file.Data, 14 + k.HeaderSize, tables)) << "palette";
    if (k.Profile) {
      EXPECT_EQ(params.IccProfile.size(), 20u);
      EXPECT_EQ(Slice(f, f.size() - 20, f.size()), params.IccProfile);
      EXPECT_EQ(At32(f, 14 + 112) + 14 + 20, f.size());
    }
    TRvBitmap back;
    TIOParamsVals p2;
    ASSERT_FALSE(ReadBmp(f, &back, p2).Aborted);
    EXPECT_EQ(Pixels(back), Pixels(bmp));
    CODECTEST_NEED_TOOLS("convert");
    const std::string was = dir.File("was" + std::to_string(n) + ".bmp");
    const std::string ours = dir.File("ours" + std::to_string(n++) + ".bmp");
    codectest::Save(was, file.Data);
    codectest::Save(ours, f);
    // ImageMagick keeps the fourth bytes of 32-bit pixels as an alpha it then turns.
    const codectest::TRgba turned = codectest::Reference(was, "-alpha off -rotate 90");
    ASSERT_GT(turned.Width, 0);
    EXPECT_EQ(codectest::Reference(ours).Pixels, turned.Pixels);
  }
}

// Fields of every width from 1 to 16 bits, in any place and order, alpha
// too: a picture read from them is written back in them, each field giving
// back its bits (a wider one its top 8); colours they lack go into 24 bits.
// Fields of 9 bits and more once took a negative shift.
TEST(BmpWrite, SixteenBitFieldsOfEveryWidthKeepThePicture) {
  const auto read = [](const std::vector<std::uint8_t>& F, TRvBitmap& Bmp, TIOParamsVals& Params,
                        std::unique_ptr<rv::TRvMask>& Alpha) {
    platform::TBytesStream s(F.data(), static_cast<std::int64_t>(F.size()));
    rv::TRvLocalProgress p;
    rv::BmpReadStream(s, &Bmp, 0, Params, p.Rec, false, &Alpha);
    EXPECT_FALSE(p.Rec.IsAborting());
  };
  TRvBitmap painted;
  Paint(painted, 128, 64,
        [](int x, int y) { return std::uint32_t(x * 2) << 16 | std::uint32_t(y * 4) << 8 | std::uint32_t(x + y); });
  // A header size, then channels (0 red, 1 green, 2 blue, 3 alpha) from the
  // top bit: the first of the width, the others sharing what is left.
  const std::vector<std::vector<int>> orders = {{40, 0, 1, 2}, {56, 1, 2, 0}, {108, 2, 3, 0, 1}, {108, 3, 1, 2, 0}};
  for (const std::vector<int>& order : orders)
    for (int width = 1; width <= 16; ++width) {
      SCOPED_TRACE("header " + std::to_string(order[0]) + ", channel " + std::to_string(order[1]) + " of " +
                   std::to_string(width) + " bits");
      std::uint32_t masks[4] = {}, kept = 0;
      const int others = int(order.size()) - 2, rest = 16 - width;
      for (int k = 1, top = 16; k < int(order.size()); ++k) {
        const int bits = k == 1 ? width : rest / others + (k - 2 < rest % others ? 1 : 0);
        const std::uint32_t m = ((1u << bits) - 1) << (top -= bits);
        masks[order[k]] = m;
        kept |= m & ~(m >> std::min(bits, 8)); // what the field must give back
      }
      TBytes file = BmpHead(128, 64, 16, 3, 0, 14 + order[0] + (order[0] == 40 ? 12 : 0));
      file.Data[14] = std::uint8_t(order[0]);
      for (int k = 0; k < (order[0] == 40 ? 3 : 4); ++k) file.U32(masks[k]);
      if (order[0] == 108) file.Raw({'B', 'G', 'R', 's'}).Zeros(48);
      for (unsigned i = 0; i < 128 * 64; ++i) file.U16(i * 40503 & 0xFFFF);
      TRvBitmap bmp, back;
      std::unique_ptr<rv::TRvMask> alpha, backAlpha;
      TIOParamsVals params;
      read(file.Data, bmp, params, alpha);
      EXPECT_EQ(alpha && !alpha->Full(), masks[3] != 0 && order[0] != 40);
      platform::TMemoryStream written;
      rv::TRvLocalProgress p;
      rv::BmpWriteStream(written, bmp, params, p.Rec, alpha && !alpha->Full() ? alpha.get() : nullptr);
      const std::vector<std::uint8_t>& f = written.Data();
      ASSERT_EQ(f.size(), file.Size());
      EXPECT_EQ(Slice(f, 28, 34), Slice(file.Data, 28, 34)) << "16 bits of bit fields";
      EXPECT_EQ(Slice(f, 54, At32(f, 10)), Slice(file.Data, 54, At32(f, 10))) << "the fields";
      for (std::size_t i = At32(f, 10); i < f.size(); i += 2)
        ASSERT_EQ(At16(f, i) & kept, At16(file.Data, i) & kept) << "at " << i;
      TIOParamsVals p2;
      read(f, back, p2, backAlpha);
      EXPECT_EQ(codectest::Ours(back, backAlpha.get()).Pixels, codectest::Ours(bmp, alpha.get()).Pixels);
      const std::vector<std::uint8_t> whole = WriteBmp(painted, params);
      EXPECT_EQ(At16(whole, 28), 24u);
      ReadBmp(whole, &back, p2);
      EXPECT_EQ(Pixels(back), Pixels(painted));
    }
  // 5-bit samples with their low bits clear, as other formats' readers
  // leave them, still take 16 bits.
  TIOParamsVals five;
  five.BitsPerSample = 5;
  five.SamplesPerPixel = 3;
  Paint(painted, 2, 1, [](int x, int) { return x ? 0x10F8A0u : 0x08F850u; });
  const std::vector<std::uint8_t> f = WriteBmp(painted, five);
  EXPECT_EQ(Slice(f, 28, 34), std::vector<std::uint8_t>({16, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Slice(f, 54, 58), std::vector<std::uint8_t>({0xEA, 0x07, 0xF4, 0x0B}));
  // Fields no write can state again (two sharing bits) read from a 16-bit
  // file give samples that are not widened 5-bit ones: they take 24 bits,
  // not 5-5-5 with their low bits dropped.
  TBytes shared = BmpHead(2, 1, 16, 3, 0, 66);
  shared.U32(0xFF00).U32(0x0FF0).U32(0x000F).U16(0xF800).U16(0x1080);
  TRvBitmap bmp, back;
  TIOParamsVals params;
  ReadBmp(shared.Data, &bmp, params);
  EXPECT_EQ(Pixels(bmp)[0] >> 16, 0xF8u);
  const std::vector<std::uint8_t> kept = WriteBmp(bmp, params);
  EXPECT_EQ(At16(kept, 28), 24u);
  ReadBmp(kept, &back, params);
  EXPECT_EQ(Pixels(back), Pixels(bmp));
}
