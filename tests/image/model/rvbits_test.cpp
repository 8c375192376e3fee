#include "image/model/rvbits.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace rv;

TEST(RvBits, CopyBitsKeepsNeighbouringBits) {
  // 3 bits from bit 6 of the source to bit 0 of the destination: source
  // bits 6, 7 set, bit 8 clear.
  const std::uint8_t source[2] = {0x03, 0x00};
  std::uint8_t dest[1] = {0x1F};
  RvCopyBits(dest, source, 0, 2, 3, 6);
  EXPECT_EQ(dest[0], 0xDF);
}

TEST(RvBits, CopyBitsMatchesBitByBitAtAnyOffset) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int rowBytes = 1 + static_cast<int>(random() % 9);
    // Exactly rowBytes on the heap: a read past them trips the sanitizer.
    std::vector<std::uint8_t> source(static_cast<std::size_t>(rowBytes));
    for (auto& b : source) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> dest(12), expected;
    for (auto& b : dest) b = static_cast<std::uint8_t>(random());
    expected = dest;
    const int sourceBit = static_cast<int>(random() % (rowBytes * 8));
    const int count = static_cast<int>(random() % (rowBytes * 8 - sourceBit + 1));
    const int destBit = static_cast<int>(random() % (dest.size() * 8 - count + 1));
    for (int i = 0; i < count; ++i)
      RvSetBit(expected.data(), destBit + i, RvTestBit(source.data(), sourceBit + i));
    RvCopyBits(dest.data(), source.data(), destBit, rowBytes, count, sourceBit);
    ASSERT_EQ(dest, expected) << "trial " << trial;
  }
}

TEST(RvBits, OrderedDitherOfMidGrayIsHalfWhite) {
  platform::TBitmap bitmap(8, 8, platform::pf24bit);
  for (int y = 0; y < 8; ++y) std::memset(bitmap.ScanLine(y), 128, 24);
  TRvLocalProgress progress;
  int last = -1;
  progress.Rec.OnProgress = [&](void*, int per) { last = per; };
  RvOrderedDitherToBW(&bitmap, progress.Rec);
  ASSERT_EQ(bitmap.PixelFormat(), platform::pf1bit);
  EXPECT_TRUE(bitmap.Monochrome());
  int white = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool set = RvTestBit(bitmap.ScanLine(y), x);
      white += set;
      EXPECT_EQ(set, RvDitherMatrix[x][y] < 32) << x << "," << y;
    }
  EXPECT_EQ(white, 32);
  EXPECT_EQ(last, 94); // Trunc(8 x 100 / 8.5)
}

TEST(RvBits, ExpandsPartialLastByte) {
  platform::TBitmap source(10, 1, platform::pf1bit);
  source.ScanLine(0)[0] = 0xA5;
  source.ScanLine(0)[1] = 0xBF; // only the first two pixels count
  platform::TBitmap dest;
  TRvLocalProgress progress;
  RvBWToRGBBitmap(&source, &dest, progress.Rec);
  ASSERT_EQ(dest.PixelFormat(), platform::pf24bit);
  ASSERT_EQ(dest.Width(), 10);
  const int bits[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0};
  for (int x = 0; x < 10; ++x)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(dest.ScanLine(0)[3 * x + c], bits[x] ? 255 : 0) << x;
}

TEST(RvBits, CopyBitmapFromEmptyLeavesOnePixel) {
  platform::TBitmap empty;
  empty.SetPixelFormat(platform::pf8bit);
  platform::TBitmap dest(5, 5, platform::pf24bit);
  RvCopyBitmap(&empty, &dest);
  EXPECT_EQ(dest.Width(), 1);
  EXPECT_EQ(dest.Height(), 1);
  EXPECT_EQ(dest.PixelFormat(), platform::pf8bit);
  platform::TBitmap src(3, 2, platform::pf24bit);
  src.ScanLine(1)[8] = 77;
  auto clone = RvCloneBitmap(&src);
  EXPECT_EQ(clone->Width(), 3);
  EXPECT_EQ(clone->ScanLine(1)[8], 77);
}
