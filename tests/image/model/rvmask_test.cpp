#include "image/model/rvmask.h"

#include <gtest/gtest.h>

using namespace rv;

namespace {
void ExpectBox(const TRvMask& m, int x1, int y1, int x2, int y2) {
  EXPECT_EQ(m.X1(), x1);
  EXPECT_EQ(m.Y1(), y1);
  EXPECT_EQ(m.X2(), x2);
  EXPECT_EQ(m.Y2(), y2);
}
} // namespace

TEST(RvMaskLayout, RowLengthsAndBottomUpRows) {
  TRvMask m;
  EXPECT_TRUE(m.IsEmpty());
  m.Allocate(3, 2, 8);
  EXPECT_EQ(m.RowLen(), 3);
  EXPECT_EQ(m.ScanLine(0), m.Bits() + 3); // top row last in the block
  m.Allocate(3, 2, 1);
  EXPECT_EQ(m.RowLen(), 4);
  m.Allocate(3, 2, 4);
  EXPECT_EQ(m.Bits(), nullptr);
}

TEST(RvMaskPixels, BoxAndFullFlag) {
  TRvMask m;
  m.Allocate(10, 10, 1);
  m.SetPixel(3, 4, 1);
  ExpectBox(m, 3, 4, 3, 4);
  EXPECT_EQ(m.GetPixel(3, 4), 1);
  EXPECT_EQ(m.ScanLine(4)[0], 0x10);
  m.SetPixel(10, 0, 1);
  ExpectBox(m, 3, 4, 3, 4);
  m.Fill(0);
  EXPECT_TRUE(m.Full());

  TRvMask a;
  a.Allocate(10, 10, 8);
  a.SetPixel(10, 0, 1);
  EXPECT_TRUE(a.IsEmpty());
  a.Fill(0);
  EXPECT_FALSE(a.Full());
  a.Fill(255);
  EXPECT_TRUE(a.Full());
  a.SetPixel(1, 1, 128);
  EXPECT_FALSE(a.Full());
  EXPECT_EQ(a.GetPixel(1, 1), 128);
}

TEST(RvMaskPixels, SpanOutsideRowsIsSkipped) {
  TRvMask m;
  m.Allocate(20, 3, 1);
  EXPECT_EQ(m.FillSpan(1, -5, -1, 30), 0);
  EXPECT_EQ(m.FillSpan(1, -5, 3, 30), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 20; ++x) EXPECT_EQ(m.GetPixel(x, y), 0);
  EXPECT_EQ(m.FillSpan(0, 3, 1, 17), 15); // a 1-bit span sets bits
  EXPECT_EQ(m.GetPixel(2, 1), 0);
  EXPECT_EQ(m.GetPixel(3, 1), 1);
  EXPECT_EQ(m.GetPixel(17, 1), 1);
  EXPECT_EQ(m.GetPixel(18, 1), 0);
}

TEST(RvMaskPolygons, SquareLeavesRightAndBottomOut) {
  TRvMask m;
  m.Allocate(8, 8, 8);
  const platform::TPoint square[] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  m.AddPolygons(200, square, 4);
  ExpectBox(m, 0, 0, 3, 3);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(m.GetPixel(x, y), x < 4 && y < 4 ? 200 : 0) << x << "," << y;
}

TEST(RvMaskPolygons, SeveralPolygonsAndATriangle) {
  TRvMask m;
  m.Allocate(20, 10, 1);
  const platform::TPoint points[] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {RvPolygonSeparator, 0},
                                     {10, 0}, {18, 8}, {10, 8}};
  m.AddPolygons(1, points, 8);
  EXPECT_EQ(m.GetPixel(1, 1), 1);
  EXPECT_EQ(m.GetPixel(2, 1), 0);
  // Triangle rows: row y covers x 10 .. 10 + y - 1.
  EXPECT_EQ(m.GetPixel(10, 0), 0);
  EXPECT_EQ(m.GetPixel(10, 4), 1);
  EXPECT_EQ(m.GetPixel(13, 4), 1);
  EXPECT_EQ(m.GetPixel(14, 4), 0);
  ExpectBox(m, 0, 0, 17, 7);
}

TEST(RvMaskPolygons, FlatPolygonKeepsTheBoxTrue) {
  TRvMask m;
  m.Allocate(10, 10, 1);
  const platform::TPoint flat[] = {{1, 5}, {8, 5}, {4, 5}};
  m.FillPolygon(1, flat, 3);
  EXPECT_TRUE(m.IsEmpty());
  m.SetPixel(3, 4, 1);
  m.FillPolygon(1, flat, 3);
  ExpectBox(m, 3, 4, 3, 4);
}

TEST(RvMaskTranslate, OddOffsetsOfOneBitRuns) {
  TRvMask m;
  m.Allocate(20, 5, 1);
  for (int x = 3; x <= 9; ++x) m.SetPixel(x, 1, 1);
  int dx = 5, dy = 2;
  m.Translate(dx, dy, true);
  ExpectBox(m, 8, 3, 14, 3);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(m.GetPixel(x, 3), x >= 8 && x <= 14 ? 1 : 0) << x;
  EXPECT_EQ(m.GetPixel(3, 1), 0);
  dx = -3;
  dy = 0;
  m.Translate(dx, dy, false);
  EXPECT_EQ(dx, -3);
  ExpectBox(m, 5, 3, 11, 3);
  EXPECT_EQ(m.GetPixel(5, 3), 1);
  EXPECT_EQ(m.GetPixel(12, 3), 0);
}

TEST(RvMaskTranslate, WithoutClipTheMoveIsReduced) {
  TRvMask m;
  m.Allocate(10, 4, 8);
  m.SetPixel(9, 1, 50);
  m.SetPixel(7, 1, 60);
  int dx = 5, dy = 0;
  m.Translate(dx, dy, false);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(m.GetPixel(9, 1), 50);
  dx = 0;
  dy = 9;
  m.Translate(dx, dy, false);
  EXPECT_EQ(dy, 2);
  EXPECT_EQ(m.GetPixel(9, 3), 50);
  EXPECT_EQ(m.GetPixel(7, 3), 60);
  // Clipped: the part moved out is lost.
  dx = 2;
  dy = 0;
  m.Translate(dx, dy, true);
  EXPECT_EQ(m.GetPixel(9, 3), 60);
  ExpectBox(m, 9, 3, 9, 3);
}

TEST(RvMaskPainting, XorTwiceRestoresAndRowsStayUpright) {
  platform::TBitmap target(8, 4, platform::pf24bit);
  target.Canvas().Brush.Color = platform::clWhite;
  target.Canvas().FillRect(platform::Rect(0, 0, 8, 4));
  TRvMask m;
  m.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4); // empty: nothing
  m.Allocate(8, 4, 1);
  m.SetPixel(1, 0, 1);
  m.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4);
  EXPECT_EQ(target.Canvas().Pixels(1, 0), platform::clBlack);
  EXPECT_EQ(target.Canvas().Pixels(1, 3), platform::clWhite);
  EXPECT_EQ(target.Canvas().Pixels(0, 0), platform::clWhite);
  m.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4);
  EXPECT_EQ(target.Canvas().Pixels(1, 0), platform::clWhite);
}

TEST(RvMaskPainting, OutlineMarchesAroundTheSquare) {
  TRvMask m;
  m.Allocate(10, 10, 1);
  const platform::TPoint square[] = {{2, 2}, {6, 2}, {6, 6}, {2, 6}};
  m.FillPolygon(1, square, 4);
  platform::TBitmap target(10, 10, platform::pf24bit);
  target.Canvas().Brush.Color = platform::clWhite;
  target.Canvas().FillRect(platform::Rect(0, 0, 10, 10));
  // A buffer of another shape first, of the same area.
  m.DrawOutline(target.Canvas(), 0, 0, platform::clRed, platform::clBlue, 0, 20, 5, 20, 5, 0, 0);
  target.Canvas().FillRect(platform::Rect(0, 0, 10, 10));
  m.DrawOutline(target.Canvas(), 0, 0, platform::clRed, platform::clBlue, 0, 10, 10, 10, 10, 0, 0);
  int drawn = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) drawn += target.Canvas().Pixels(x, y) != platform::clWhite;
  EXPECT_EQ(drawn, 12);
  EXPECT_EQ(target.Canvas().Pixels(2, 2), platform::clRed);  // (2 + 2) and 7 = 4
  EXPECT_EQ(target.Canvas().Pixels(5, 5), platform::clBlue); // 10 and 7 = 2
  EXPECT_EQ(target.Canvas().Pixels(3, 3), platform::clWhite);
}

TEST(RvMaskCopy, BlendsByEightBitMask) {
  TRvMask m;
  m.Allocate(2, 1, 8);
  m.SetPixel(0, 0, 128);
  m.SetPixel(1, 0, 255);
  platform::TBitmap source(2, 1, platform::pf24bit), dest(2, 1, platform::pf24bit);
  std::uint8_t* s = source.ScanLine(0);
  std::uint8_t* d = dest.ScanLine(0);
  s[0] = 255, d[0] = 0;   // 0 + 255 x 128 / 256, truncated
  s[3] = 100, d[3] = 200; // a darker source pulls down
  m.CopyBitmap(&source, &dest, false, false);
  EXPECT_EQ(d[0], 127);
  EXPECT_EQ(d[3], 100);
  // At the box: the source holds just the box.
  TRvMask one;
  one.Allocate(6, 6, 1);
  one.SetPixel(4, 5, 1);
  platform::TBitmap boxSource(1, 1, platform::pf24bit), full(6, 6, platform::pf24bit);
  boxSource.ScanLine(0)[1] = 9;
  one.CopyBitmap(&boxSource, &full, true, false);
  EXPECT_EQ(full.ScanLine(5)[4 * 3 + 1], 9);
}

TEST(RvMaskAssign, CopiesPixelsBoxAndFlag) {
  TRvMask a, b;
  a.Allocate(5, 5, 8);
  a.Fill(255);
  a.SetPixel(2, 2, 255);
  b.Assign(&a);
  EXPECT_TRUE(b.Full());
  ExpectBox(b, 2, 2, 2, 2);
  EXPECT_EQ(b.GetPixel(4, 4), 255);
  b.Clear();
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.GetPixel(4, 4), 0);
}
