#include "image/model/rvbwgray.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace rv;
using platform::TBitmap;

void Checkerboard(TBitmap& bmp, int phase) {
  for (int y = 0; y < bmp.Height(); ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    std::memset(row, 0, bmp.ScanLineSize());
    for (int x = 0; x < bmp.Width(); ++x)
      if ((x + y + phase) % 2 == 0) row[x >> 3] |= 0x80 >> (x & 7);
  }
}

TEST(BWGray, CheckerboardToOnePixelAveragesTheClampedBox) {
  // sx = sy = 8: rows and columns 0..4, 25 pixels.
  for (int phase : {0, 1}) {
    TBitmap src(8, 8, platform::pf1bit), dst(1, 1, platform::pf8bit);
    Checkerboard(src, phase);
    RvShrinkBWTBitmapToGray(&src, 0, 0, 7, 7, &dst);
    ASSERT_EQ(dst.PixelFormat(), platform::pf24bit);
    const std::uint8_t* p = dst.ScanLine(0);
    EXPECT_EQ(p[0], phase == 0 ? 132 : 122); // 255 x 13 div 25, 255 x 12 div 25
    EXPECT_EQ(p[1], p[0]);
    EXPECT_EQ(p[2], p[0]);
  }
}

TEST(BWGray, HalvingWorkedBoxByBox) {
  // 4 x 2 -> 2 x 2: sx = 2, sy = 1. Columns 0..1 and 1..3 (the box ends at
  // trunc(sx / 2 + c)); rows 0..0 and 0..1.
  TBitmap src(4, 2, platform::pf1bit), dst(2, 2, platform::pf24bit);
  src.ScanLine(0)[0] = 0xC0; // 1 1 0 0
  src.ScanLine(1)[0] = 0x10; // 0 0 0 1
  RvShrinkBWTBitmapToGray(&src, 0, 0, 3, 1, &dst);
  EXPECT_EQ(dst.ScanLine(0)[0], 255);
  EXPECT_EQ(dst.ScanLine(0)[3], 85);  // 1 of 3
  EXPECT_EQ(dst.ScanLine(1)[0], 127); // 2 of 4
  EXPECT_EQ(dst.ScanLine(1)[3], 85);  // 2 of 6
}

TEST(BWGray, BoxesNearTheEdgeNeverReadPastTheRow) {
  // A rectangle that starts inside the picture: its far boxes would reach
  // beyond the last column and row without the clamp.
  TRvBitmap src, dst;
  src.SetLocation(rvlMemory);
  src.Allocate(9, 9, rvpf1Bit);
  for (int y = 0; y < 9; ++y) std::memset(src.Scanline(y), 0xFF, src.RowLen());
  dst.Allocate(2, 2, rvpf24Bit);
  RvShrinkBWToGray(&src, 5, 5, 8, 8, &dst);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(dst.Scanline(y)[3 * x], 255);
}

TEST(BWGray, RawRowsBottomUpIntoANewBlock) {
  // 2 x 2 source, bottom row first: bottom row white, top row black.
  std::uint8_t bits[8] = {0xC0, 0, 0, 0, 0x00, 0, 0, 0};
  auto block = RvShrinkBWBitsToGray(bits, 2, 2, 0, 0, 1, 1, 1, 2);
  ASSERT_NE(block, nullptr);
  // Destination rows are 4 bytes (1 pixel padded), bottom row first; the
  // bottom row's box holds source rows 0..1, the top row's row 0 only.
  EXPECT_EQ(block[0], 127);
  EXPECT_EQ(block[4], 0);
  EXPECT_EQ(RvShrinkBWBitsToGray(bits, 2, 2, 0, 0, 1, 1, 0, 2), nullptr);
  EXPECT_EQ(RvShrinkBWBitsToGray(bits, 0, 2, 0, 0, 1, 1, 1, 2), nullptr);
}

TEST(BWGray, ZeroSizesWriteNothing) {
  TBitmap src(8, 8, platform::pf1bit), dst(0, 0, platform::pf8bit);
  RvShrinkBWTBitmapToGray(&src, 0, 0, 7, 7, &dst);
  EXPECT_EQ(dst.PixelFormat(), platform::pf8bit);
}

TEST(BWGray, GrayTest) {
  TBitmap gray(3, 2, platform::pf24bit);
  std::memset(gray.ScanLine(0), 40, 9);
  std::memset(gray.ScanLine(1), 90, 9);
  EXPECT_TRUE(RvIsGrayBitmap(&gray));
  gray.ScanLine(1)[4] = 91;
  EXPECT_FALSE(RvIsGrayBitmap(&gray));
  TBitmap empty(0, 0, platform::pf24bit);
  EXPECT_TRUE(RvIsGrayBitmap(&empty));
  TBitmap pal(3, 2, platform::pf8bit);
  EXPECT_FALSE(RvIsGrayBitmap(&pal));
  TRvBitmap lib;
  EXPECT_FALSE(RvIsGrayBitmap(&lib));
}

} // namespace
