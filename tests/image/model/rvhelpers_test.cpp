#include "image/model/rvhelpers.h"
#include "image/model/rvprogress.h"

#include <climits>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace rv;

TEST(RvHelpersColour, GrayWeightsTruncate) {
  TRGB c;
  RvCreateRGB(255, 0, 0, c);
  EXPECT_EQ(c.b, 0);
  EXPECT_EQ(c.r, 255);
  EXPECT_EQ(RvRGBToGray(c), 53);
  RvCreateRGB(0, 255, 0, c);
  EXPECT_EQ(RvRGBToGray(c), 181);
  RvCreateRGB(0, 0, 255, c);
  EXPECT_EQ(RvRGBToGray(c), 20);
  RvCreateRGB(255, 255, 255, c);
  EXPECT_EQ(RvRGBToGray(c), 255);
  EXPECT_EQ(RvGray16(255, 0, 0), 13839);
}

TEST(RvHelpersColour, SwapsAndPacking) {
  EXPECT_EQ(RvSwapRedBlue(0x00112233), 0x00332211);
  EXPECT_EQ(RvSwapRedBlue(static_cast<int>(0xFF112233u)), 0x00332211);
  TRGB c;
  RvColorToRGB(platform::clRed, c);
  EXPECT_EQ(c.r, 255);
  EXPECT_EQ(c.g, 0);
  EXPECT_EQ(c.b, 0);
  EXPECT_EQ(RvRGBToPacked(c), 0x00FF0000u);
  // A triple read as a little-endian word is 0x00RRGGBB.
  std::uint8_t bytes[4] = {0x33, 0x22, 0x11, 0xAB};
  EXPECT_EQ(RvRGBToPacked(*reinterpret_cast<TRGB*>(bytes)), 0x00112233u);
}

TEST(RvHelpersNumbers, RoundingAndClamping) {
  EXPECT_EQ(RvCeil(2.0), 2);
  EXPECT_EQ(RvCeil(2.1), 3);
  EXPECT_EQ(RvCeil(-1.5), -1);
  EXPECT_EQ(RvFloor(-1.5), -2);
  EXPECT_EQ(RvFloor(2.0), 2);
  EXPECT_EQ(RvClamp(5, 10, 20), 10);
  EXPECT_EQ(RvClamp(25, 10, 20), 20);
  EXPECT_EQ(RvClamp(20, 10, 20), 20);
  EXPECT_EQ(RvClampByte(-3), 0);
  EXPECT_EQ(RvClampByte(300), 255);
  EXPECT_EQ(RvRound(2.5), 2);
  EXPECT_EQ(RvRound(3.5), 4);
  EXPECT_EQ(RvRound(-2.5), -2);
  EXPECT_EQ(RvMulDiv(5, 1, 2), 3);
  EXPECT_EQ(RvMulDiv(-5, 1, 2), -3);
  EXPECT_EQ(RvMulDiv(7, 1, 3), 2);
  EXPECT_EQ(RvMulDiv(1, 1, 0), -1);
  EXPECT_EQ(RvFMin(1.0, 1.0), 1.0);
}

TEST(RvHelpersNumbers, Powers) {
  EXPECT_DOUBLE_EQ(static_cast<double>(RvPower(2, 0.5)), std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(static_cast<double>(RvPower(2, -2)), 0.25);
  EXPECT_DOUBLE_EQ(static_cast<double>(RvPower(0, 3)), 0.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(RvPower(5, 0)), 1.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(RvIntPower(10, 2)), 1024.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(RvIntPower(INT_MIN, 1)), 1.0);
}

TEST(RvHelpersBits, RowLengthsAndMasks) {
  EXPECT_EQ(RvRowLen(1, 1), 4);
  EXPECT_EQ(RvRowLen(33, 1), 8);
  EXPECT_EQ(RvRowLen(3, 24), 12);
  EXPECT_EQ(RvRowLen(5, 4), 4);
  // Would wrap in 32 bits.
  EXPECT_EQ(RvRowLen(INT_MAX, 24), 6442450944LL);
  EXPECT_EQ(RvBitmapRowLen(10, platform::pf16bit), 20);
  EXPECT_EQ(RvPixelFormatBits(platform::pfDevice), 0);
  EXPECT_EQ(RvMaskShiftWidth(0x0000F800), 5);
  EXPECT_EQ(RvMaskShiftWidth(0x000007E0), 6);
  EXPECT_EQ(RvMaskShiftWidth(0), 0);
  EXPECT_EQ(RvMaskShiftWidth(0xFFC0), 10);
  EXPECT_EQ(RvMaskShiftWidth(0x80000000), 1);
  EXPECT_EQ(RvMaskBitEnd(0x00000400), 10);
  EXPECT_EQ(RvMaskBitEnd(0x000007E0), 11);
  EXPECT_EQ(RvMaskBitEnd(0), -1);
}

TEST(RvHelpersBits, Reversals) {
  std::uint8_t b = 1;
  RvReverseBits8(b);
  EXPECT_EQ(b, 128);
  b = 3;
  RvReverseBits8(b);
  EXPECT_EQ(b, 192);
  std::uint32_t v = 1;
  RvReverseBits32(v);
  EXPECT_EQ(v, 0x80000000u);
  v = 0x00000003;
  RvReverseBits32(v);
  EXPECT_EQ(v, 0xC0000000u);
  EXPECT_EQ(RvSwapWord(0x1234), 0x3412);
  EXPECT_EQ(RvSwapDWord(0x11223344u), 0x44332211u);
}

TEST(RvHelpersHash, CountsDistinctKeys) {
  THash1 h(4);
  EXPECT_TRUE(h.Insert(7));
  EXPECT_FALSE(h.Insert(7));
  EXPECT_EQ(h.Count(), 1);
  // Same slot (low four bits), chained.
  EXPECT_TRUE(h.Insert(7 + 16));
  EXPECT_TRUE(h.Insert(7 + 32));
  EXPECT_FALSE(h.Insert(7 + 16));
  EXPECT_FALSE(h.Insert(7 + 32));
  EXPECT_EQ(h.Count(), 3);
}

TEST(RvHelpersLab, BlackAndWhite) {
  std::uint8_t lab[3];
  RvRGBToCIELab(0, lab);
  EXPECT_EQ(lab[0], 0);
  EXPECT_EQ(lab[1], 0);
  EXPECT_EQ(lab[2], 0);
  RvRGBToCIELab(0xFFFFFF, lab);
  EXPECT_EQ(lab[0], 242);
  EXPECT_EQ(lab[1], 0xE8); // Trunc(-24.92)
  EXPECT_EQ(lab[2], 0xFA); // Trunc(-6.85)
  TRGB c;
  // L 0, a = b = 0: a' = b' = -0.392, X = -1.0e-4, Y = 0, Z = 2.5e-4;
  // R < 0, G = 1.14e-4 -> Trunc(sqrt(G) x 256) = 2.
  RvCIELabToRGB(0, c);
  EXPECT_EQ(c.r, 0);
  EXPECT_EQ(c.g, 2);
}

TEST(RvHelpersFiles, ForceDirectories) {
  const auto root = std::filesystem::temp_directory_path() / "h2-force-dirs";
  std::filesystem::remove_all(root);
  const std::string deep = (root / "a" / "b" / "c").string() + "/";
  RvForceDirectories(deep);
  EXPECT_TRUE(RvDirectoryExists((root / "a" / "b" / "c").string()));
  EXPECT_THROW(RvForceDirectories(""), std::runtime_error);
  std::filesystem::remove_all(root);
}

TEST(RvHelpersGeometry, Distances) {
  EXPECT_DOUBLE_EQ(RvDistance(0, 0, 3, 4), 5.0);
  // 32-bit squares would wrap here.
  EXPECT_NEAR(RvDistance(0, 0, 40000, 40000), 56568.542, 0.001);
  EXPECT_DOUBLE_EQ(RvPointLineDistance(0, 5, -10, 0, 10, 0), 5.0);
  // A line through two equal points is the point itself.
  EXPECT_DOUBLE_EQ(RvPointLineDistance(3, 4, 0, 0, 0, 0), 5.0);
  EXPECT_DOUBLE_EQ(RvPointSegmentDistance(3, 4, 0, 0, 0, 0), 5.0);
  EXPECT_DOUBLE_EQ(RvPointSegmentDistance(13, 4, 0, 0, 10, 0), 5.0);
  EXPECT_DOUBLE_EQ(RvPointSegmentDistance(50010, 0, 0, 0, 10, 0), 1000000.0);
  const platform::TPoint line[] = {{0, 0}, {10, 0}, {10, 10}};
  EXPECT_DOUBLE_EQ(RvPointPolylineDistance(15, 5, line, 3, 1, 1, 0, 0, 0, 0), 5.0);
  EXPECT_DOUBLE_EQ(RvPointPolylineDistance(15, 5, line, 1, 1, 1, 0, 0, 0, 0), 1000000.0);
  // Zoom 2 and an offset move the polyline on the screen.
  EXPECT_DOUBLE_EQ(RvPointPolylineDistance(25, 10, line, 3, 2, 2, 5, 0, 0, 0), 0.0);
}

TEST(RvHelpersGeometry, Rectangles) {
  EXPECT_EQ(RvRectInRect(0, 0, 10, 10, 2, 2, 5, 5), 2);
  EXPECT_EQ(RvRectInRect(0, 0, 10, 10, 5, 5, 15, 15), 1);
  EXPECT_EQ(RvRectInRect(0, 0, 10, 10, 20, 20, 30, 30), 0);
  EXPECT_TRUE(RvRectsIntersect(10, 10, 0, 0, 5, 5, 20, 20));
  EXPECT_FALSE(RvRectsIntersect(0, 0, 4, 4, 5, 5, 20, 20));
  EXPECT_TRUE(RvPointInRectOrdered(5, 5, 10, 10, 0, 0));
  EXPECT_FALSE(RvPointInRect(5, 5, 10, 10, 0, 0));
}

TEST(RvHelpersGeometry, SnapLine) {
  int x = -10, y = -41;
  RvSnapLine(0, 0, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, -41);
  x = -10, y = -40;
  RvSnapLine(0, 0, x, y);
  EXPECT_EQ(x, -10);
  EXPECT_EQ(y, -10);
  x = -40, y = -38;
  RvSnapLine(0, 0, x, y);
  EXPECT_EQ(x, -38);
  EXPECT_EQ(y, -38);
  x = 40, y = 0;
  RvSnapLine(0, 0, x, y);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 0);
  x = 10, y = -40; // up and to the right
  RvSnapLine(0, 0, x, y);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, -40);
}

TEST(RvProgress, ReportsTruncatedPercentAndAbortsAcrossThreads) {
  TRvLocalProgress local;
  TRvProgressRec& rec = local.Rec;
  rec.Per = 100.0 / 3;
  rec.Step(2); // no event: nothing to call
  std::vector<int> seen;
  rec.OnProgress = [&](void*, int per) { seen.push_back(per); };
  rec.Step(1);
  rec.Step(2);
  rec.Step(3);
  EXPECT_EQ(seen, (std::vector<int>{33, 66, 100}));
  EXPECT_FALSE(rec.IsAborting());
  std::thread other([&] { rec.Aborting->store(true); });
  other.join();
  EXPECT_TRUE(rec.IsAborting());
}
