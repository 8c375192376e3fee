#include "image/model/rvquantizer.h"
#include "image/model/rvbitmap.h"

#include <gtest/gtest.h>

using namespace rv;

namespace {
void Paint(platform::TBitmap& b, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t bl) {
  std::uint8_t* p = b.ScanLine(y) + 3 * x;
  p[0] = bl;
  p[1] = g;
  p[2] = r;
}
} // namespace

TEST(RvQuantizerChoice, GrayPictureGetsIdentityPalette) {
  platform::TBitmap b(4, 4, platform::pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) Paint(b, x, y, 16 * (x + y), 16 * (x + y), 16 * (x + y));
  TRGB palette[256];
  TRvQuantizer q(&b, palette, 256);
  EXPECT_TRUE(q.GrayIdentity());
  EXPECT_EQ(palette[0].r, 0);
  EXPECT_EQ(palette[200].g, 200);
  EXPECT_EQ(palette[255].b, 255);
  EXPECT_EQ(q.RGBIndex(0x404040), 64);
}

TEST(RvQuantizerChoice, LibraryBitmapNeverCountsAsGray) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  b.Allocate(4, 4, rvpf24Bit);
  b.Fill(0x808080);
  TRGB palette[256];
  TRvQuantizer q(&b, palette, 256);
  EXPECT_FALSE(q.GrayIdentity());
  EXPECT_EQ(q.Method(), 0);
}

TEST(RvQuantizerChoice, NeuralFrom128MedianBelow) {
  platform::TBitmap b(2, 2, platform::pf24bit);
  Paint(b, 0, 0, 255, 0, 0);
  TRGB palette[128];
  EXPECT_EQ(TRvQuantizer(&b, palette, 128).Method(), 0);
  EXPECT_EQ(TRvQuantizer(&b, palette, 127).Method(), 1);
}

TEST(RvQuantizerMedianCut, ThreeColoursGetThreeEntries) {
  platform::TBitmap b(30, 1, platform::pf24bit);
  for (int x = 0; x < 30; ++x) {
    if (x < 10) Paint(b, x, 0, 255, 0, 0);
    else if (x < 20) Paint(b, x, 0, 0, 255, 0);
    else Paint(b, x, 0, 0, 0, 255);
  }
  TRGB palette[16];
  TRvQuantizer q(&b, palette, 16);
  const int red = q.RGBIndex(0xFF0000), green = q.RGBIndex(0x00FF00), blue = q.RGBIndex(0x0000FF);
  EXPECT_NE(red, green);
  EXPECT_NE(green, blue);
  EXPECT_NE(red, blue);
  // Means in 5-bit units, times 8: 31 x 8 = 248.
  EXPECT_EQ(palette[red].r, 248);
  EXPECT_EQ(palette[red].g, 0);
  EXPECT_EQ(palette[green].g, 248);
  EXPECT_EQ(palette[blue].b, 248);
  EXPECT_EQ(palette[blue].r, 0);
}

TEST(RvQuantizerMedianCut, OneCellMakesOneBox) {
  platform::TBitmap b(2, 1, platform::pf24bit);
  Paint(b, 0, 0, 10, 10, 10);
  Paint(b, 1, 0, 12, 13, 14);
  TRGB palette[8];
  for (auto& p : palette) p = TRGB{0x77, 0x77, 0x77};
  TRvQuantSource source{&b, nullptr, 2, 1};
  TRvMedianCutState* s = MedianCutQuantizerCreate(source, palette, 8);
  EXPECT_EQ(MedianCutQuantizerBoxes(s), 1);
  EXPECT_EQ(MedianCutQuantizerIndex(s, 0x0A0A0A), 0);
  MedianCutQuantizerFree(s);
  EXPECT_EQ(palette[0].r, 8);
  EXPECT_EQ(palette[0].b, 8);
  EXPECT_EQ(palette[1].r, 0x77);
  EXPECT_EQ(palette[7].g, 0x77);
}

TEST(RvQuantizerNeural, SampleFactor) {
  EXPECT_EQ(NeuralQuantSampleFactor(1999), 1);
  EXPECT_EQ(NeuralQuantSampleFactor(2000), 2);
  EXPECT_EQ(NeuralQuantSampleFactor(150000), 15);
  EXPECT_EQ(NeuralQuantSampleFactor(10000000), 30);
}

TEST(RvQuantizerNeural, SeparatesBlackFromWhite) {
  platform::TBitmap b(40, 40, platform::pf24bit);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const std::uint8_t v = (x < 20) ? 0 : 255;
      Paint(b, x, y, v, v, v);
    }
  Paint(b, 0, 0, 200, 10, 10); // not gray: the network learns
  TRGB palette[256];
  TRvQuantizer q(&b, palette, 256);
  ASSERT_FALSE(q.GrayIdentity());
  const TRGB black = palette[q.RGBIndex(0x000000)], white = palette[q.RGBIndex(0xFFFFFF)];
  EXPECT_LT(black.r + black.g + black.b, 30);
  EXPECT_GT(white.r + white.g + white.b, 3 * 255 - 30);
}

TEST(RvQuantizerNeural, PictureSmallerThanTheStepStaysInside) {
  // 3 pixels against a step of 499: every sample lies inside the picture.
  platform::TBitmap b(3, 1, platform::pf24bit);
  Paint(b, 0, 0, 255, 0, 0);
  Paint(b, 1, 0, 0, 255, 0);
  Paint(b, 2, 0, 0, 0, 255);
  TRGB palette[128];
  TRvQuantizer q(&b, palette, 128);
  EXPECT_GE(q.RGBIndex(0xFF0000), 0);
  EXPECT_LT(q.RGBIndex(0xFF0000), 128);
}
