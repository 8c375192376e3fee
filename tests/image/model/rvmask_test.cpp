#include "image/model/rvmask.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rv;

namespace {

void ExpectBox(const TRvMask& m, int x1, int y1, int x2, int y2) {
  EXPECT_EQ(m.X1(), x1);
  EXPECT_EQ(m.Y1(), y1);
  EXPECT_EQ(m.X2(), x2);
  EXPECT_EQ(m.Y2(), y2);
}

// The mask's pixels as text, rows joined by blanks: '.' clear, '#' set.
std::string Picture(const TRvMask& m) {
  std::string text;
  for (int y = 0; y < m.Height(); ++y) {
    if (y) text += ' ';
    for (int x = 0; x < m.Width(); ++x) text += m.GetPixel(x, y) ? '#' : '.';
  }
  return text;
}

// A white canvas.
struct TCanvasPicture {
  platform::TBitmap Bitmap;
  TCanvasPicture(int w, int h) : Bitmap(w, h, platform::pf24bit) {
    Bitmap.Canvas().Brush.Color = platform::clWhite;
    Bitmap.Canvas().FillRect(platform::Rect(0, 0, w, h));
  }
  platform::TCanvas& Canvas() { return Bitmap.Canvas(); }
  // '.' white, 'r' red, 'b' blue, '?' anything else.
  std::string Text() {
    std::string text;
    for (int y = 0; y < Bitmap.Height(); ++y) {
      if (y) text += ' ';
      for (int x = 0; x < Bitmap.Width(); ++x) {
        const platform::TColor c = Canvas().Pixels(x, y);
        text += c == platform::clWhite ? '.' : c == platform::clRed ? 'r' : c == platform::clBlue ? 'b' : '?';
      }
    }
    return text;
  }
};

void Square(TRvMask& m, int x1, int y1, int x2, int y2) {
  const platform::TPoint corners[] = {{x1, y1}, {x2 + 1, y1}, {x2 + 1, y2 + 1}, {x1, y2 + 1}};
  m.FillPolygon(1, corners, 4);
}

} // namespace

TEST(RvMaskLayout, RowLengthsAtTheWordBoundaries) {
  const struct {
    int Width, Height, Bits, RowLen;
  } cases[] = {{1, 1, 1, 4}, {31, 2, 1, 4}, {32, 2, 1, 4}, {33, 2, 1, 8}, {64, 1, 1, 8}, {65, 1, 1, 12},
               {1, 1, 8, 1}, {3, 2, 8, 3},  {0, 5, 1, 0},  {5, 0, 8, 0},  {3, 2, 4, 0},  {3, 2, 0, 0}};
  for (const auto& c : cases) {
    TRvMask m;
    m.Allocate(c.Width, c.Height, c.Bits);
    EXPECT_EQ(m.RowLen(), c.RowLen) << c.Width << "x" << c.Height << "x" << c.Bits;
    EXPECT_EQ(m.BitCount(), c.RowLen ? c.Bits : 0);
    EXPECT_EQ(m.Width(), c.Width);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_FALSE(m.Full());
    if (c.RowLen == 0) {
      EXPECT_EQ(m.Bits(), nullptr);
      continue;
    }
    // Bottom-up: the top row last in the block.
    EXPECT_EQ(m.ScanLine(0), m.Bits() + (c.Height - 1) * c.RowLen);
    EXPECT_EQ(m.ScanLine(c.Height - 1), m.Bits());
  }
  TRvMask m;
  m.Allocate(4, 4, 8);
  m.FreeBits();
  EXPECT_EQ(m.Bits(), nullptr);
  EXPECT_EQ(m.Width() + m.Height() + m.BitCount() + m.RowLen(), 0);
}

TEST(RvMaskPixels, EdgesOfTheMaskAndTheBox) {
  for (int bits : {1, 8}) {
    TRvMask m;
    m.Allocate(33, 3, bits);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {33, 0}, {0, 3}}) {
      m.SetPixel(x, y, 1);
      EXPECT_EQ(m.GetPixel(x, y), 0) << x << "," << y;
    }
    EXPECT_TRUE(m.IsEmpty());
    m.SetPixel(32, 2, 1);
    ExpectBox(m, 32, 2, 32, 2);
    m.SetPixel(0, 0, 1);
    EXPECT_EQ(m.GetPixel(33, 1), 0); // not the next row's first pixel
    m.SetPixel(5, 1, 0); // clearing widens nothing
    ExpectBox(m, 0, 0, 32, 2);
    EXPECT_EQ(m.GetPixel(32, 2), 1);
    EXPECT_TRUE(m.IsPointInside(0, 0));
    m.SetPixel(32, 2, 0);
    EXPECT_FALSE(m.IsPointInside(32, 2));
  }
  TRvMask m;
  m.Allocate(10, 10, 1);
  m.SetPixel(3, 4, 1);
  EXPECT_EQ(m.ScanLine(4)[0], 0x10); // the leftmost pixel in the top bit
  m.Fill(0);
  EXPECT_TRUE(m.Full()); // a 1-bit mask always counts as full
  ExpectBox(m, 3, 4, 3, 4);
  m.Clear();
  EXPECT_TRUE(m.IsEmpty());

  TRvMask a;
  a.Allocate(10, 10, 8);
  a.Fill(0);
  EXPECT_FALSE(a.Full());
  a.Fill(255);
  EXPECT_TRUE(a.Full());
  a.SetPixel(1, 1, 255);
  EXPECT_TRUE(a.Full());
  a.SetPixel(2, 1, 0x1FF); // the low byte
  EXPECT_EQ(a.GetPixel(2, 1), 255);
  a.SetPixel(1, 1, 128);
  EXPECT_FALSE(a.Full());
  a.Fill(255);
  a.FillSpan(254, 0, 0, 0);
  EXPECT_FALSE(a.Full());
}

TEST(RvMaskPixels, SpansAreClippedToTheRow) {
  const struct {
    int Width, X1, Y, X2, Written;
    std::vector<std::uint8_t> Row; // the row's bytes, padding included
  } cases[] = {
      {33, 0, 1, 32, 33, {0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0}},
      {33, -5, 1, 40, 33, {0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0}},
      {33, 7, 1, 16, 10, {0x01, 0xFF, 0x80, 0, 0, 0, 0, 0}},
      {33, 8, 1, 15, 8, {0, 0xFF, 0, 0, 0, 0, 0, 0}},
      {33, 8, 1, 14, 7, {0, 0xFE, 0, 0, 0, 0, 0, 0}},
      {33, 31, 1, 32, 2, {0, 0, 0, 0x01, 0x80, 0, 0, 0}},
      {33, 33, 1, 40, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {33, -3, 1, -1, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {33, 9, 1, 8, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {33, 0, -1, 32, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {33, 0, 3, 32, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {32, 30, 1, 40, 2, {0, 0, 0, 0x03}},
      {31, 30, 1, 30, 1, {0, 0, 0, 0x02}},
      {1, 0, 1, 5, 1, {0x80, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    TRvMask m;
    m.Allocate(c.Width, 3, 1);
    // The value does not matter in a 1-bit mask.
    EXPECT_EQ(m.FillSpan(0, c.X1, c.Y, c.X2), c.Written) << c.Width << ": " << c.X1 << ".." << c.X2;
    const std::vector<std::uint8_t> row(m.ScanLine(1), m.ScanLine(1) + m.RowLen());
    EXPECT_EQ(row, c.Row) << c.Width << ": " << c.X1 << ".." << c.X2 << " row " << c.Y;
    int set = 0;
    for (int y : {0, 2})
      for (int x = 0; x < c.Width; ++x) set += m.GetPixel(x, y);
    EXPECT_EQ(set, 0);
    EXPECT_TRUE(m.IsEmpty()); // spans leave the box alone
  }
  TRvMask a;
  a.Allocate(5, 1, 8);
  EXPECT_EQ(a.FillSpan(7, 3, 0, 9), 2);
  EXPECT_EQ(std::vector<std::uint8_t>(a.Bits(), a.Bits() + 5), (std::vector<std::uint8_t>{0, 0, 0, 7, 7}));
}

TEST(RvMaskPolygons, RightAndBottomEdgesStayOut) {
  TRvMask m;
  m.Allocate(8, 8, 8);
  const platform::TPoint square[] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  m.AddPolygons(200, square, 4);
  ExpectBox(m, 0, 0, 3, 3);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(m.GetPixel(x, y), x < 4 && y < 4 ? 200 : 0) << x << "," << y;

  const struct {
    std::vector<platform::TPoint> Points;
    int Width, Height;
    const char* Picture;
    int X1, Y1, X2, Y2;
  } cases[] = {
      // Two polygons, the second a triangle not starting at row 0; vertices
      // outside the mask are clamped into the box.
      {{{-2, 0}, {2, 0}, {2, 2}, {-2, 2}, {RvPolygonSeparator, 0}, {5, 2}, {9, 8}, {5, 8}}, 10, 7,
       "##........ ##........ .......... .....#.... .....#.... .....##... .....###..", 0, 0, 8, 6},
      // An edge leaning left moves only when its error leaves [-dy, dy].
      {{{2, 0}, {4, 0}, {4, 2}, {1, 2}}, 5, 3, "..##. ..##. .....", 1, 0, 3, 1},
      // More than one pixel a row: x steps by dx div dy, the error by the rest.
      {{{0, 0}, {7, 2}, {0, 2}}, 8, 3, "........ ###..... ........", 0, 0, 6, 1},
  };
  for (const auto& c : cases) {
    TRvMask t;
    t.Allocate(c.Width, c.Height, 1);
    t.AddPolygons(1, c.Points.data(), static_cast<int>(c.Points.size()));
    EXPECT_EQ(Picture(t), c.Picture);
    ExpectBox(t, c.X1, c.Y1, c.X2, c.Y2);
  }
}

TEST(RvMaskPolygons, NothingFilledKeepsTheBox) {
  TRvMask m;
  m.Allocate(10, 10, 1);
  const platform::TPoint flat[] = {{1, 5}, {8, 5}, {4, 5}};
  m.FillPolygon(1, flat, 3);
  EXPECT_TRUE(m.IsEmpty());
  m.SetPixel(3, 4, 1);
  m.FillPolygon(1, flat, 3);
  m.FillPolygon(1, nullptr, 0);
  ExpectBox(m, 3, 4, 3, 4);
}

TEST(RvMaskTranslate, MovesAreReducedOrClippedAtEveryEdge) {
  // A 2 x 2 block at (X, Y) of a 10 x 6 mask, moved by (DX, DY).
  const struct {
    bool Clip;
    int X, Y, DX, DY;
    int OutDX, OutDY;
    int X1, Y1, X2, Y2; // the box after, X1 = -1: empty
  } cases[] = {
      {false, 0, 0, -3, -1, 0, 0, 0, 0, 1, 1},
      {false, 2, 1, -5, 9, -2, 3, 0, 4, 1, 5},
      {false, 7, 3, 5, -7, 1, -3, 8, 0, 9, 1},
      {false, 8, 4, 1, 1, 0, 0, 8, 4, 9, 5},
      {false, 3, 2, -3, -2, -3, -2, 0, 0, 1, 1},
      {false, 3, 2, 5, 2, 5, 2, 8, 4, 9, 5},
      {true, 2, 1, -3, 0, -3, 0, 0, 1, 0, 2},
      {true, 7, 1, 2, 0, 2, 0, 9, 1, 9, 2},
      {true, 2, 1, 0, -2, 0, -2, 2, 0, 3, 0},
      {true, 2, 3, 0, 2, 0, 2, 2, 5, 3, 5},
      {true, 2, 1, 20, 0, 20, 0, -1, 0, 0, 0},
      {true, 2, 1, 0, -9, 0, -9, -1, 0, 0, 0},
  };
  for (int bits : {1, 8})
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << bits << " bits, clip " << c.Clip << ", block " << c.X << "," << c.Y
                                      << " by " << c.DX << "," << c.DY);
      TRvMask m;
      m.Allocate(10, 6, bits);
      for (int y = c.Y; y <= c.Y + 1; ++y)
        for (int x = c.X; x <= c.X + 1; ++x) m.SetPixel(x, y, 1);
      int dx = c.DX, dy = c.DY;
      m.Translate(dx, dy, c.Clip);
      EXPECT_EQ(dx, c.OutDX);
      EXPECT_EQ(dy, c.OutDY);
      if (c.X1 < 0) {
        EXPECT_TRUE(m.IsEmpty());
      } else {
        ExpectBox(m, c.X1, c.Y1, c.X2, c.Y2);
      }
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
          EXPECT_EQ(m.GetPixel(x, y), c.X1 >= 0 && x >= c.X1 && x <= c.X2 && y >= c.Y1 && y <= c.Y2 ? 1 : 0)
              << x << "," << y;
    }
  // Pixels outside the box are lost; a 1-bit run lands at any bit offset.
  TRvMask m;
  m.Allocate(20, 5, 1);
  for (int x = 3; x <= 9; ++x) m.SetPixel(x, 1, 1);
  m.SetBox(3, 1, 5, 1);
  int dx = 5, dy = 2;
  m.Translate(dx, dy, true);
  EXPECT_EQ(Picture(m), ".................... .................... .................... "
                        "........###......... ....................");
  // Cut at the right edge of a whole word: nothing spills into the next row.
  TRvMask w;
  w.Allocate(32, 2, 1);
  w.FillSpan(1, 30, 1, 31);
  w.SetBox(30, 1, 31, 1);
  dx = 1, dy = 0;
  w.Translate(dx, dy, true);
  EXPECT_EQ(Picture(w), std::string(32, '.') + " " + std::string(31, '.') + "#");
}

TEST(RvMaskPainting, XorTwiceRestoresAndRowsStayUpright) {
  TCanvasPicture target(8, 4);
  TRvMask m;
  m.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4); // empty: nothing
  m.Allocate(8, 4, 1);
  m.SetPixel(1, 0, 1);
  m.SetPixel(6, 2, 1);
  m.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4);
  EXPECT_EQ(target.Text(), ".?...... ........ ......?. ........");
  m.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4);
  // The part of the mask from row 2 on, drawn at the top.
  m.DrawXor(target.Canvas(), 0, 0, 8, 2, 0, 2, 8, 2);
  EXPECT_EQ(target.Text(), "......?. ........ ........ ........");
  TRvMask alpha; // not drawn
  alpha.Allocate(8, 4, 8);
  alpha.Fill(255);
  alpha.SetPixel(0, 0, 255);
  alpha.DrawXor(target.Canvas(), 0, 0, 8, 4, 0, 0, 8, 4);
  EXPECT_EQ(target.Text(), "......?. ........ ........ ........");
}

TEST(RvMaskPainting, OutlinesMarchAroundTheVisiblePart) {
  TRvMask m;
  m.Allocate(8, 8, 1);
  Square(m, 1, 1, 5, 5);
  const struct {
    int OffsetX, OffsetY, Phase, DestW, DestH, ZoomW, ZoomH, OriginX, OriginY;
    const char* Canvas;
  } cases[] = {
      // The whole square: stripes four wide by x + y + phase.
      {0, 0, 0, 8, 8, 8, 8, 0, 0, "........ .bbrrr.. .b...r.. .r...b.. .r...b.. .rrbbb.. ........ ........"},
      {2, 1, 3, 8, 8, 8, 8, 0, 0, "........ ........ ...bbbbr ...b...r ...b...r ...b...r ...rrrrb ........"},
      // Only the height changed since the last paint.
      {0, 0, 0, 8, 10, 8, 10, 0, 0, "........ .bbrrr.. .b...r.. .r...b.. .r...b.. .rrbbb.. ........ ........"},
      // Scrolled: a side cut by the view is no edge, the others stay.
      {0, 0, 0, 5, 8, 5, 8, 3, 0, "........ bbb..... ..r..... ..r..... ..r..... rrr..... ........ ........"},
      {0, 0, 0, 8, 5, 8, 5, 0, 3, ".b...r.. .b...r.. .brrrr.. ........ ........ ........ ........ ........"},
      // Twice the size, cut at the right and bottom.
      {0, 0, 0, 8, 8, 4, 4, 0, 0, "........ ........ ..rrrrbb ..r..... ..r..... ..r..... ..b..... ..b....."},
      // One column: only its ends lie on real edges.
      {0, 0, 0, 1, 8, 1, 8, 3, 0, "........ b....... ........ ........ ........ r....... ........ ........"},
      {0, 0, 0, 8, 1, 8, 1, 0, 3, ".b...r.. ........ ........ ........ ........ ........ ........ ........"},
      // Nothing for an empty view.
      {0, 0, 0, 0, 8, 8, 8, 0, 0, "........ ........ ........ ........ ........ ........ ........ ........"},
      {0, 0, 0, 8, 0, 8, 8, 0, 0, "........ ........ ........ ........ ........ ........ ........ ........"},
  };
  for (const auto& c : cases) {
    TCanvasPicture target(8, 8);
    m.DrawOutline(target.Canvas(), c.OffsetX, c.OffsetY, platform::clRed, platform::clBlue, c.Phase, c.DestW, c.DestH,
                  c.ZoomW, c.ZoomH, c.OriginX, c.OriginY);
    EXPECT_EQ(target.Text(), c.Canvas) << c.DestW << "x" << c.DestH << " from " << c.OriginX << "," << c.OriginY;
  }
  // A hole inside: its eight neighbours are edges too.
  m.SetPixel(3, 3, 0);
  TCanvasPicture holed(8, 8);
  m.DrawOutline(holed.Canvas(), 0, 0, platform::clRed, platform::clBlue, 0, 8, 8, 8, 8, 0, 0);
  EXPECT_EQ(holed.Text(), "........ .bbrrr.. .brrrr.. .rr.rb.. .rrrbb.. .rrbbb.. ........ ........");
  // Nor for an 8-bit mask.
  TCanvasPicture target(2, 2);
  TRvMask alpha;
  alpha.Allocate(2, 2, 8);
  alpha.SetPixel(1, 1, 255);
  alpha.DrawOutline(target.Canvas(), 0, 0, platform::clRed, platform::clBlue, 0, 2, 2, 2, 2, 0, 0);
  EXPECT_EQ(target.Text(), ".. ..");
}

TEST(RvMaskCopy, CopiesWhereTheMaskIsSetInsideTheBox) {
  // 8-bit: a blend by m / 256, truncated.
  TRvMask m;
  m.Allocate(2, 1, 8);
  m.SetPixel(0, 0, 128);
  m.SetPixel(1, 0, 192);
  platform::TBitmap source(2, 1, platform::pf24bit), dest(2, 1, platform::pf24bit);
  std::uint8_t* s = source.ScanLine(0);
  std::uint8_t* d = dest.ScanLine(0);
  const std::uint8_t sv[6] = {255, 20, 10, 100, 0, 0}, dv[6] = {0, 0, 0, 200, 0, 0};
  std::copy(sv, sv + 6, s);
  std::copy(dv, dv + 6, d);
  m.CopyBitmap(&source, &dest, false, false);
  EXPECT_EQ(std::vector<int>(d, d + 6), (std::vector<int>{127, 10, 5, 125, 0, 0}));

  // 1-bit into bitmaps holding just the box, or smaller than that.
  TRvMask one;
  one.Allocate(6, 6, 1);
  one.SetPixel(4, 5, 1);
  one.SetPixel(2, 3, 1);
  platform::TBitmap box(3, 3, platform::pf24bit), full(6, 6, platform::pf24bit), small(2, 2, platform::pf24bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 9; ++x) box.ScanLine(y)[x] = static_cast<std::uint8_t>(10 * y + x + 1);
  one.CopyBitmap(&box, &full, true, false);
  EXPECT_EQ(std::vector<int>(full.ScanLine(5) + 12, full.ScanLine(5) + 15), (std::vector<int>{27, 28, 29}));
  EXPECT_EQ(std::vector<int>(full.ScanLine(3) + 6, full.ScanLine(3) + 9), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(full.ScanLine(3)[9], 0);
  one.CopyBitmap(&full, &small, false, true);
  EXPECT_EQ(std::vector<int>(small.ScanLine(0), small.ScanLine(0) + 6), (std::vector<int>{1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(small.ScanLine(1)[0], 0);

  // 1-bit bitmaps take the bit, whatever the mask's depth; mixed formats nothing.
  for (int bits : {1, 8}) {
    TRvMask bw;
    bw.Allocate(9, 1, bits);
    bw.SetPixel(0, 0, 1);
    bw.SetPixel(8, 0, 1);
    platform::TBitmap ones(9, 1, platform::pf1bit), zeros(9, 1, platform::pf1bit), rgb(9, 1, platform::pf24bit);
    ones.ScanLine(0)[0] = ones.ScanLine(0)[1] = 0xFF;
    bw.CopyBitmap(&ones, &zeros, false, false);
    EXPECT_EQ(zeros.ScanLine(0)[0], 0x80) << bits;
    EXPECT_EQ(zeros.ScanLine(0)[1], 0x80) << bits;
    bw.CopyBitmap(&ones, &rgb, false, false);
    EXPECT_EQ(rgb.ScanLine(0)[0], 0) << bits;
  }
}

TEST(RvMaskAssign, CopiesPixelsBoxAndFlag) {
  TRvMask a, b;
  a.Allocate(5, 5, 8);
  a.Fill(255);
  a.SetPixel(2, 2, 255);
  b.Assign(&a);
  b.Assign(nullptr);
  b.Assign(&b);
  EXPECT_TRUE(b.Full());
  ExpectBox(b, 2, 2, 2, 2);
  EXPECT_EQ(b.GetPixel(4, 4), 255);
  EXPECT_EQ(b.RowLen(), 5);
}
