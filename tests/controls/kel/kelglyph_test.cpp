#include "controls/kel/kelglyph.h"

#include <gtest/gtest.h>

using namespace kel;
using namespace platform;

TEST(KelGlyph, NumGlyphsFromTheShape) {
  TKelGlyph g;
  const struct {
    int W, H, Expected;
  } cases[] = {{64, 16, 4}, {112, 16, 1}, {32, 16, 2}, {16, 20, 2}};
  for (const auto& c : cases) {
    TBitmap b(c.W, c.H, pf24bit);
    g.SetGlyph(b);
    EXPECT_EQ(g.NumGlyphs(), c.Expected) << c.W << "x" << c.H;
  }
  g.SetNumGlyphs(0);
  EXPECT_EQ(g.NumGlyphs(), 2);
}

TEST(KelGlyph, StateImagesAndSharedLists) {
  TBitmap one(16, 16, pf24bit);
  KelFillSolidBitmap(one, Rect(0, 0, 16, 16), clOlive);
  one.Canvas().SetPixels(3, 3, clBlack);
  TKelGlyph a, b;
  a.SetGlyph(one);
  b.SetGlyph(one);
  const int up = a.CreateStateImage(0);
  const int disabled = a.CreateStateImage(1);
  EXPECT_NE(up, disabled);
  EXPECT_EQ(a.CreateStateImage(7), disabled);
  EXPECT_EQ(a.CreateStateImage(4), up); // beyond the strip: image 0
  b.CreateStateImage(0);
  EXPECT_EQ(a.GlyphList(), b.GlyphList());
  EXPECT_EQ(KelGlyphCache()->ListCount(), 1);
  TKelGlyphList* list = a.GlyphList();
  TBitmap out;
  list->GetBitmap(disabled, &out);
  EXPECT_EQ(out.Canvas().Pixels(3, 3), static_cast<TColor>(ColorToRGB(clBtnShadow)));
  // A two-image strip: the disabled state shows the second image.
  TBitmap two(32, 16, pf24bit);
  KelFillSolidBitmap(two, Rect(0, 0, 32, 16), clOlive);
  two.Canvas().Brush.Color = clRed;
  two.Canvas().FillRect(Rect(16, 0, 32, 8));
  TKelGlyph c;
  c.SetGlyph(two);
  list->GetBitmap(c.CreateStateImage(1), &out);
  EXPECT_EQ(out.Canvas().Pixels(2, 2), clRed);
  // Zero-pixel images: no glyph.
  TBitmap thin(3, 16, pf24bit);
  TKelGlyph d;
  d.SetGlyph(thin);
  d.SetNumGlyphs(4);
  EXPECT_EQ(d.CreateStateImage(0), -1);
  const std::int64_t bytes = KelGlyphCache()->Bytes();
  EXPECT_GT(bytes, 0);
  a.SetGlyph(TBitmap());
  b.SetGlyph(TBitmap());
  c.SetGlyph(TBitmap());
  EXPECT_EQ(KelGlyphCache()->ListCount(), 0);
}
