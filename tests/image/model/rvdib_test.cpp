#include "image/model/rvdib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {

using namespace rv;

TEST(Dibbitmap, LayoutAndFormats) {
  TRvDibbitmap dib;
  EXPECT_EQ(dib.Canvas(), nullptr);
  dib.Allocate(10, 4, rvpf8BitGray); // not a DIB format: nothing
  EXPECT_EQ(dib.Width(), 0);
  dib.Allocate(33, 4, rvpf1Bit);
  EXPECT_EQ(dib.RowLen(), 8);
  EXPECT_EQ(dib.PixelFormat(), rvpf1Bit);
  dib.Allocate(3, 2, rvpf24Bit);
  EXPECT_EQ(dib.RowLen(), 12);
  EXPECT_EQ(dib.Info().bmiHeader.biHeight, -2); // rows stored top-down
  EXPECT_EQ(dib.Info().bmiHeader.biSizeImage, 24u);
  EXPECT_EQ(dib.Scanline(1) - dib.Scanline(0), 12);
  EXPECT_NE(dib.Canvas(), nullptr);
}

TEST(Dibbitmap, FailedCreationIsReportedAndLeavesItEmpty) {
  TRvDibbitmap dib;
  ASSERT_TRUE(dib.AllocateDIB(4, 4, 24));
  EXPECT_FALSE(dib.AllocateDIB(4, 4, 8));
  EXPECT_EQ(dib.Width(), 4); // refused arguments change nothing
  EXPECT_FALSE(dib.AllocateDIB(200000, 200000, 24));
  EXPECT_EQ(dib.Width(), 0);
  EXPECT_EQ(dib.Bits(), nullptr);
}

TEST(Dibbitmap, AssignCopiesOnlyFromADib) {
  TRvDibbitmap a, b;
  a.AllocateDIB(2, 2, 24);
  a.Scanline(1)[5] = 77;
  b.Assign(&a);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Scanline(1)[5], 77);
  TRvBitmap other;
  other.Allocate(5, 5, rvpf24Bit);
  b.Assign(&other);
  EXPECT_EQ(b.Width(), 2);
}

TEST(VirtualBitmap, TilesAndFileSize) {
  TRvVirtualBitmap v;
  ASSERT_TRUE(v.Allocate(2000, 600, 1));
  EXPECT_EQ(v.TileWidth(), 1024);
  EXPECT_EQ(v.TileHeight(), 512);
  EXPECT_EQ(v.TilesX(), 2);
  EXPECT_EQ(v.TilesY(), 2);
  EXPECT_EQ(v.FileSize(), 262144u); // 128 x 2 x 512 x 2
  EXPECT_FALSE(v.Allocate(10, 10, 16));
}

struct Visit {
  int count = 0;
  int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
};
void Count(int x, int y, std::uint8_t* pixel, void* param) {
  auto* v = static_cast<Visit*>(param);
  ++v->count;
  v->minX = std::min(v->minX, x);
  v->maxX = std::max(v->maxX, x);
  v->minY = std::min(v->minY, y);
  v->maxY = std::max(v->maxY, y);
  pixel[0] = static_cast<std::uint8_t>(255 - pixel[0]);
}

TEST(VirtualBitmap, CopyRectAcrossATileCornerReachesFourTiles) {
  TRvVirtualBitmap v;
  ASSERT_TRUE(v.Allocate(600, 600, 8));
  TRvBitmap src;
  src.Allocate(600, 600, rvpf8BitGray);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 600; ++x) src.Scanline(y)[x] = std::uint8_t(x + y);
  v.CopyRect(&src, 250, 250, 10, 10); // tiles are 256 x 256
  Visit visit;
  v.ApplyPixelFunction(250, 250, 10, 10, Count, &visit);
  EXPECT_EQ(visit.count, 100);
  EXPECT_EQ(visit.minX, 250);
  EXPECT_EQ(visit.maxY, 259);
  // Read back through a second pass: the callback inverted every pixel.
  struct Check { int bad = 0; } check;
  v.ApplyPixelFunction(
      250, 250, 10, 10,
      [](int x, int y, std::uint8_t* p, void* param) {
        if (p[0] != std::uint8_t(255 - std::uint8_t(x + y))) ++static_cast<Check*>(param)->bad;
      },
      &check);
  EXPECT_EQ(check.bad, 0);
}

TEST(VirtualBitmap, BlackAndWhiteIntoColourExpandsToWhiteAndBlack) {
  TRvVirtualBitmap v;
  ASSERT_TRUE(v.Allocate(16, 2, 24));
  TRvBitmap bw;
  bw.Allocate(16, 2, rvpf1Bit);
  bw.Scanline(0)[0] = 0x80;
  bw.Scanline(0)[1] = 0x01;
  v.CopyRect(&bw, 0, 0, 16, 1);
  std::vector<int> seen;
  v.ApplyPixelFunction(0, 0, 16, 1,
                       [](int, int, std::uint8_t* p, void* param) {
                         static_cast<std::vector<int>*>(param)->push_back(p[0] + p[1] + p[2]);
                       },
                       &seen);
  ASSERT_EQ(seen.size(), 16u);
  EXPECT_EQ(seen[0], 765);
  EXPECT_EQ(seen[1], 0);
  EXPECT_EQ(seen[15], 765);
}

TEST(VirtualBitmap, DrawToPaintsTheScaledPicture) {
  TRvVirtualBitmap v;
  ASSERT_TRUE(v.Allocate(40, 20, 24));
  TRvBitmap src;
  src.Allocate(40, 20, rvpf24Bit);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      std::uint8_t* p = src.Scanline(y) + 3 * x;
      p[0] = 0; p[1] = 0; p[2] = x < 20 ? 255 : 0; // left half red
    }
  v.CopyRect(&src, 0, 0, 40, 20);
  platform::TBitmap page(20, 10, platform::pf24bit);
  v.DrawTo(nullptr, page.Canvas(), false, 0, 0, 40, 20, 0, 0, 20, 10);
  EXPECT_EQ(page.ScanLine(5)[3 * 2 + 2], 255);
  EXPECT_EQ(page.ScanLine(5)[3 * 17 + 2], 0);
}

TEST(Painting, BevelDrawsTopLeftThenBottomRight) {
  platform::TBitmap bmp(10, 10, platform::pf24bit);
  RvDrawBevel(bmp.Canvas(), 1, 1, 8, 8, platform::clWhite, platform::clRed);
  EXPECT_EQ(bmp.Canvas().Pixels(1, 5), platform::clWhite);
  EXPECT_EQ(bmp.Canvas().Pixels(5, 1), platform::clWhite);
  EXPECT_EQ(bmp.Canvas().Pixels(5, 8), platform::clRed);
  EXPECT_EQ(bmp.Canvas().Pixels(8, 5), platform::clRed);
  EXPECT_EQ(bmp.Canvas().Pixels(5, 5), platform::clBlack);
}

TEST(Painting, ShadowRampRunsFromDarkToLight) {
  platform::TBitmap bmp(8, 20, platform::pf24bit);
  RvDrawShadowStripA(bmp.Canvas(), 0, 0, 2, 8, 20);
  EXPECT_EQ(bmp.ScanLine(10)[0], 93);  // exp(0) / e x 255
  EXPECT_EQ(bmp.ScanLine(10)[3 * 7], 225); // exp(7/8) / e x 255
  RvDrawShadowStripA(bmp.Canvas(), 0, 0, 3, 8, 20);
  EXPECT_EQ(bmp.ScanLine(0)[0], 255);  // faded at the strip's start
  EXPECT_EQ(bmp.ScanLine(10)[0], 93);
}

TEST(Painting, HintBoxStaysInsideAndSavesWhatItCovers) {
  platform::TBitmap page(200, 100, platform::pf24bit);
  platform::TCanvas& c = page.Canvas();
  c.Brush.Color = platform::clBlue;
  c.FillRect(platform::Rect(0, 0, 200, 100));
  c.Brush.Color = platform::clWhite;
  platform::TBitmap saved;
  int x = 190, y = 95;
  RvDrawHintBox(c, x, y, 200, 100, platform::clWhite, platform::clBlack, "12.5 mm", c.Font, &saved);
  const int w = c.TextWidth("12.5 mm") + 12, h = c.TextHeight("12.5 mm") + 12;
  EXPECT_EQ(x, 200 - (w + 12));
  EXPECT_EQ(y, 100 - (h + 12));
  ASSERT_EQ(saved.Width(), w);
  ASSERT_EQ(saved.Height(), h);
  EXPECT_EQ(saved.PixelFormat(), platform::pf24bit);
  EXPECT_EQ(saved.Canvas().Pixels(w / 2, h / 2), platform::clBlue);
  EXPECT_EQ(c.Pixels(x + 2, y + 2), platform::clBlue);      // outside the box
  EXPECT_EQ(c.Pixels(x + 6, y + 10), platform::clWhite);     // left edge of the bevel
  EXPECT_EQ(c.Pixels(x + w - 1, y + 10), platform::clBlack); // right edge
}

TEST(Numbers, StrToFloatTakesBothSeparators) {
  EXPECT_DOUBLE_EQ(static_cast<double>(RvStrToFloat("1,5")), 1.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(RvStrToFloat("1.5")), 1.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(RvStrToFloat(" -2.25 ")), -2.25);
  EXPECT_THROW(RvStrToFloat("abc"), std::invalid_argument);
  EXPECT_THROW(RvStrToFloat(""), std::invalid_argument);
  EXPECT_FALSE(RvIsWinXP());
}

} // namespace
