#include "platform/graphics.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace platform;

namespace {
TBitmap* White(TBitmap& b) {
  b.Canvas().Brush.Color = clWhite;
  b.Canvas().FillRect(Rect(0, 0, b.Width(), b.Height()));
  return &b;
}
int Count(TBitmap& b, TColor c) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.Canvas().Pixels(x, y) == c;
  return n;
}
} // namespace

TEST(GraphicsBitmap, RowLayoutAndFormats) {
  TBitmap b;
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.PixelFormat(), pfDevice);
  b.SetPixelFormat(pf24bit);
  b.SetSize(3, 2);
  EXPECT_EQ(b.ScanLineSize(), 12);
  b.Canvas().SetPixels(1, 0, clRed); // 0x0000FF: stored blue, green, red
  EXPECT_EQ(b.ScanLine(0)[3], 0);
  EXPECT_EQ(b.ScanLine(0)[5], 255);
  b.SetWidth(5); // the overlap stays
  EXPECT_EQ(b.ScanLine(0)[5], 255);
  EXPECT_EQ(b.ScanLineSize(), 16);
  TBitmap mono(9, 1, pf1bit);
  EXPECT_TRUE(mono.Monochrome());
  EXPECT_EQ(mono.ScanLineSize(), 4);
  EXPECT_EQ(TBitmap(7, 1, pf4bit).ScanLineSize(), 4);
  EXPECT_EQ(TBitmap(9, 1, pf4bit).ScanLineSize(), 8);
}

TEST(GraphicsBitmap, PalettesAndConversion) {
  TBitmap b(2, 1, pf8bit);
  const TPaletteEntry red{255, 0, 0, 0};
  EXPECT_EQ(b.SetPaletteEntries(7, 1, &red), 1);
  b.ScanLine(0)[0] = 7;
  EXPECT_EQ(b.Canvas().Pixels(0, 0), clRed);
  TPaletteEntry e[2];
  EXPECT_EQ(b.GetPaletteEntries(255, 2, e), 1);
  b.SetPixelFormat(pf24bit);
  EXPECT_EQ(b.ScanLine(0)[2], 255);
  b.SetPixelFormat(pf1bit);
  EXPECT_TRUE(b.Monochrome());
  TBitmap copy;
  copy.Assign(b);
  EXPECT_EQ(copy.PixelFormat(), pf1bit);
  EXPECT_EQ(copy.Width(), 2);
}

TEST(GraphicsCanvas, FilledShapesLeaveOutRightAndBottom) {
  TBitmap b(10, 10, pf24bit);
  White(b);
  b.Canvas().Brush.Color = clBlack;
  b.Canvas().FillRect(Rect(2, 2, 5, 4));
  EXPECT_EQ(Count(b, clBlack), 6);
  EXPECT_EQ(b.Canvas().Pixels(4, 3), clBlack);
  EXPECT_EQ(b.Canvas().Pixels(5, 3), clWhite);
  White(b);
  b.Canvas().Brush.Color = clBlue;
  b.Canvas().Pen.Color = clRed;
  b.Canvas().Rectangle(1, 1, 6, 5); // frame on 1..5 x 1..4
  EXPECT_EQ(Count(b, clRed), 14);
  EXPECT_EQ(Count(b, clBlue), 6);
  EXPECT_EQ(b.Canvas().Pixels(5, 4), clRed);
  EXPECT_EQ(b.Canvas().Pixels(6, 4), clWhite);
  White(b);
  b.Canvas().Brush.Color = clGreen;
  b.Canvas().FrameRect(Rect(0, 0, 3, 3));
  EXPECT_EQ(Count(b, clGreen), 8);
}

TEST(GraphicsCanvas, LinesLeaveOutTheirEndAndXorUndoes) {
  TBitmap b(10, 10, pf24bit);
  White(b);
  TCanvas& c = b.Canvas();
  c.MoveTo(0, 0);
  c.LineTo(5, 0);
  EXPECT_EQ(Count(b, clBlack), 5);
  EXPECT_EQ(c.Pixels(5, 0), clWhite);
  EXPECT_EQ(c.PenPos.X, 5);
  White(b);
  c.Pen.Mode = pmXor;
  c.Pen.Color = clWhite;
  c.MoveTo(1, 1);
  c.LineTo(8, 6);
  const int drawn = Count(b, clBlack);
  EXPECT_EQ(drawn, 7);
  c.MoveTo(1, 1);
  c.LineTo(8, 6);
  EXPECT_EQ(Count(b, clBlack), 0);
}

TEST(GraphicsCanvas, PaletteBitmapKeepsUntouchedIndices) {
  TBitmap b(4, 1, pf8bit);
  TPaletteEntry black{0, 0, 0, 0};
  b.SetPaletteEntries(9, 1, &black); // a second black entry
  b.ScanLine(0)[0] = 9;
  b.Canvas().Brush.Color = clWhite;
  b.Canvas().FillRect(Rect(2, 0, 4, 1));
  EXPECT_EQ(b.ScanLine(0)[0], 9);
  EXPECT_EQ(b.ScanLine(0)[2], 255);
  TBitmap mono(16, 1, pf1bit);
  mono.Canvas().Brush.Color = clWhite;
  mono.Canvas().FillRect(Rect(4, 0, 12, 1));
  EXPECT_EQ(mono.ScanLine(0)[0], 0x0F);
  EXPECT_EQ(mono.ScanLine(0)[1], 0xF0);
}

TEST(GraphicsBlits, RasterOperations) {
  TBitmap dest(2, 1, pf24bit), src(2, 1, pf24bit);
  dest.Canvas().SetPixels(0, 0, 0x00F0F0F0);
  dest.Canvas().SetPixels(1, 0, 0x000F0F0F);
  src.Canvas().SetPixels(0, 0, 0x00FF00FF);
  src.Canvas().SetPixels(1, 0, 0x00FF00FF);
  BitBlt(dest.Canvas(), 0, 0, 2, 1, src.Canvas(), 0, 0, SRCINVERT);
  EXPECT_EQ(dest.Canvas().Pixels(0, 0), 0x000FF00F);
  EXPECT_EQ(dest.Canvas().Pixels(1, 0), 0x00F00FF0);
  BitBlt(dest.Canvas(), 0, 0, 2, 1, src.Canvas(), 0, 0, SRCAND);
  EXPECT_EQ(dest.Canvas().Pixels(0, 0), 0x000F000F);
  BitBlt(dest.Canvas(), 0, 0, 1, 1, src.Canvas(), 0, 0, DSTINVERT);
  EXPECT_EQ(dest.Canvas().Pixels(0, 0), 0x00F0FFF0);
  // Stretch without smoothing: two pixels to four.
  TBitmap wide(4, 1, pf24bit);
  StretchBlt(wide.Canvas(), 0, 0, 4, 1, dest.Canvas(), 0, 0, 2, 1, SRCCOPY);
  EXPECT_EQ(wide.Canvas().Pixels(1, 0), 0x00F0FFF0);
  EXPECT_EQ(wide.Canvas().Pixels(2, 0), dest.Canvas().Pixels(1, 0));
}

TEST(GraphicsBlits, BottomUpDibSourceRowsCountFromTheBottom) {
  // 2 x 3 bottom-up 24-bit DIB: stored rows bottom, middle, top.
  std::uint8_t bits[3][8] = {};
  bits[0][2] = 255; // bottom row, pixel 0 red
  bits[2][1] = 255; // top row, pixel 0 green
  TBitmapInfo info{};
  info.bmiHeader.biWidth = 2;
  info.bmiHeader.biHeight = 3;
  info.bmiHeader.biBitCount = 24;
  TBitmap b(2, 3, pf24bit);
  EXPECT_EQ(StretchDIBits(b.Canvas(), 0, 0, 2, 3, 0, 0, 2, 3, bits, info, DIB_RGB_COLORS, SRCCOPY), 3);
  EXPECT_EQ(b.Canvas().Pixels(0, 0), clLime);
  EXPECT_EQ(b.Canvas().Pixels(0, 2), clRed);
  // Source y 2 from the bottom with height 1 is the top row.
  TBitmap one(1, 1, pf24bit);
  StretchDIBits(one.Canvas(), 0, 0, 1, 1, 0, 2, 1, 1, bits, info, DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(one.Canvas().Pixels(0, 0), clLime);
}

TEST(GraphicsEdges, RaisedEdgeInClassicColours) {
  TBitmap b(6, 6, pf24bit);
  TRect r = Rect(0, 0, 6, 6);
  DrawEdge(b.Canvas(), r, EDGE_RAISED, BF_RECT | BF_ADJUST);
  EXPECT_EQ(r.Left, 2);
  EXPECT_EQ(r.Bottom, 4);
  EXPECT_EQ(static_cast<std::uint32_t>(b.Canvas().Pixels(0, 0)), ColorToRGB(cl3DLight));
  EXPECT_EQ(static_cast<std::uint32_t>(b.Canvas().Pixels(5, 5)), ColorToRGB(cl3DDkShadow));
  EXPECT_EQ(static_cast<std::uint32_t>(b.Canvas().Pixels(1, 1)), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(static_cast<std::uint32_t>(b.Canvas().Pixels(4, 4)), ColorToRGB(clBtnShadow));
}

TEST(GraphicsCanvas, PainterCanvasDrawsOnItsDevice) {
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    TCanvas c(&p);
    c.Brush.Color = clBlack;
    c.FillRect(Rect(0, 0, 2, 2));
    EXPECT_EQ(c.Pixels(1, 1), clBlack);
  }
  EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));
}

TEST(GraphicsCanvas, ShapesWithoutPenLeaveOutOneMorePixel) {
  TBitmap b(12, 12, pf24bit);
  White(b);
  TCanvas& c = b.Canvas();
  c.Pen.Style = psClear;
  c.Brush.Color = clBlack;
  c.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(Count(b, clBlack), 81);
  EXPECT_EQ(c.Pixels(8, 8), clBlack);
  EXPECT_EQ(c.Pixels(9, 9), clWhite);
  // A wide pen is centred on the path, as the shapes' inner outlines expect.
  White(b);
  c.Pen = TPen{clRed, 3, psSolid, pmCopy};
  c.Brush.Style = bsClear;
  c.Rectangle(2, 2, 10, 10);
  EXPECT_EQ(c.Pixels(1, 5), clRed);
  EXPECT_EQ(c.Pixels(3, 5), clRed);
  EXPECT_EQ(c.Pixels(4, 5), clWhite);
  EXPECT_EQ(c.Pixels(10, 5), clRed);
  EXPECT_EQ(c.Pixels(11, 5), clWhite);
}

TEST(GraphicsCanvas, RoundRectArcAndClip) {
  TBitmap b(20, 20, pf24bit);
  White(b);
  TCanvas& c = b.Canvas();
  c.Brush.Color = clBlue;
  c.Pen.Color = clBlack;
  c.RoundRect(0, 0, 20, 20, 10, 10);
  EXPECT_EQ(c.Pixels(0, 0), clWhite); // the corner is cut
  EXPECT_EQ(c.Pixels(10, 0), clBlack);
  EXPECT_EQ(c.Pixels(10, 10), clBlue);
  White(b);
  // Upper half of a circle: from the right point counter-clockwise to the left.
  c.Arc(0, 0, 20, 20, 20, 10, 0, 10);
  int upper = 0, lower = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      if (c.Pixels(x, y) == clBlack) (y < 9 ? upper : lower) += y < 9 || y > 11;
  EXPECT_GT(upper, 20);
  EXPECT_EQ(lower, 0);
  White(b);
  c.SetClipRect(Rect(5, 5, 10, 10));
  c.Brush = TBrush{clGreen, bsSolid, {}};
  c.FillRect(Rect(0, 0, 20, 20));
  c.RemoveClip();
  EXPECT_EQ(Count(b, clGreen), 25);
  EXPECT_EQ(c.Pixels(4, 4), clWhite);
}

TEST(GraphicsCanvas, PatternAndHatchBrushes) {
  TBitmap b(16, 2, pf24bit);
  White(b);
  TCanvas& c = b.Canvas();
  QImage pattern(8, 8, QImage::Format_Mono);
  pattern.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) pattern.setPixel(x, y, x & 1);
  c.Brush.Pattern = pattern;
  c.TextColor = clRed;  // 0 bits
  c.BackColor = clBlue; // 1 bits
  c.FillRect(Rect(0, 0, 16, 2));
  EXPECT_EQ(c.Pixels(0, 0), clRed);
  EXPECT_EQ(c.Pixels(1, 0), clBlue);
  EXPECT_EQ(c.Pixels(8, 1), clRed); // tiled from the origin
  c.Brush = TBrush{clBlack, bsVertical, {}};
  c.BackColor = clYellow;
  c.BackMode = bkOpaque;
  c.FillRect(Rect(0, 0, 16, 2));
  EXPECT_EQ(Count(b, clYellow) + Count(b, clBlack), 32);
  EXPECT_GT(Count(b, clYellow), 0);
}

TEST(GraphicsBlits, MonochromeCopiesKeysAndBrushOperations) {
  // Colour to monochrome: white where the source shows its background colour.
  TBitmap colour(3, 1, pf24bit);
  colour.Canvas().SetPixels(0, 0, clRed);
  colour.Canvas().SetPixels(1, 0, clLime);
  colour.Canvas().SetPixels(2, 0, clRed);
  colour.Canvas().BackColor = clRed;
  TBitmap mono(3, 1, pf1bit);
  BitBlt(mono.Canvas(), 0, 0, 3, 1, colour.Canvas(), 0, 0, SRCCOPY);
  EXPECT_EQ(mono.Canvas().Pixels(0, 0), clWhite);
  EXPECT_EQ(mono.Canvas().Pixels(1, 0), clBlack);
  // Monochrome to colour: 0 takes the text colour, 1 the background colour.
  TBitmap dest(3, 1, pf24bit);
  dest.Canvas().TextColor = clNavy;
  dest.Canvas().BackColor = clYellow;
  BitBlt(dest.Canvas(), 0, 0, 3, 1, mono.Canvas(), 0, 0, SRCCOPY);
  EXPECT_EQ(dest.Canvas().Pixels(0, 0), clYellow);
  EXPECT_EQ(dest.Canvas().Pixels(1, 0), clNavy);
  // Source ? brush : destination.
  dest.Canvas().TextColor = clBlack;
  dest.Canvas().BackColor = clWhite;
  dest.Canvas().Brush.Color = clGreen;
  BitBlt(dest.Canvas(), 0, 0, 3, 1, mono.Canvas(), 0, 0, DSPDxax);
  EXPECT_EQ(dest.Canvas().Pixels(0, 0), clGreen);
  EXPECT_EQ(dest.Canvas().Pixels(1, 0), clNavy);
  // Brush copy and colour key.
  TBitmap target(3, 1, pf24bit);
  target.Canvas().Brush.Color = clFuchsia;
  target.Canvas().BrushCopy(Rect(0, 0, 3, 1), colour, Rect(0, 0, 3, 1), clRed);
  EXPECT_EQ(target.Canvas().Pixels(0, 0), clFuchsia);
  EXPECT_EQ(target.Canvas().Pixels(1, 0), clLime);
  White(target);
  TransparentBlt(target.Canvas(), 0, 0, 3, 1, colour.Canvas(), 0, 0, 3, 1, clRed);
  EXPECT_EQ(target.Canvas().Pixels(0, 0), clWhite);
  EXPECT_EQ(target.Canvas().Pixels(1, 0), clLime);
}

TEST(GraphicsEdges, SoftEdgesSwapTheLightSides) {
  TBitmap b(6, 6, pf24bit);
  TRect r = Rect(0, 0, 6, 6);
  DrawEdge(b.Canvas(), r, EDGE_RAISED, BF_RECT | BF_SOFT | BF_ADJUST);
  EXPECT_EQ(static_cast<std::uint32_t>(b.Canvas().Pixels(0, 0)), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(static_cast<std::uint32_t>(b.Canvas().Pixels(1, 1)), ColorToRGB(cl3DLight));
}
