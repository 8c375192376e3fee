#include "controls/kel/kelbevel.h"
#include "controls/kel/kelcaption.h"
#include "controls/kel/kelfill.h"
#include "controls/kel/kelshape.h"

#include <gtest/gtest.h>

#include "platform/stream.h"

using namespace kel;
using namespace platform;

namespace {
struct TCounter {
  int Count = 0;
  void Watch(TKelObject& o) {
    o.OnChange = [this](TKelObject*) { ++Count; };
  }
};
} // namespace

TEST(KelGradientSettings, TablesAndColourList) {
  TKelGradient g;
  ASSERT_EQ(g.Colors().size(), 16u);
  EXPECT_EQ(g.Colors().front(), std::uint32_t(clBlue));
  EXPECT_EQ(g.Colors().back(), std::uint32_t(clBlack));
  EXPECT_EQ(g.GetSetStr(), "vertical, Col: 16, 2 col mode");
  TCounter n;
  n.Watch(g);
  g.SetColorCount(236);
  EXPECT_EQ(g.ColorCount(), 236);
  g.SetColorCount(237);
  g.SetColorCount(1);
  EXPECT_EQ(g.ColorCount(), 236);
  g.SetColorCount(16);
  g.SetColorList({clRed, clLime, clBlue});
  g.SetTwoColors(false);
  EXPECT_EQ(g.Colors().size(), 9u); // k = 5: 5 + 4
  EXPECT_EQ(g.Colors()[4], std::uint32_t(clLime));
  EXPECT_EQ(g.GetSetStr(), "vertical, Col: 16, mult. col mode");
  EXPECT_EQ(n.Count, 4);
  g.SetColorList({clRed});
  EXPECT_TRUE(g.Colors().empty());

  // The stored list: list start, the smallest integer of each, list end.
  g.SetColorList({5, -200, 0x0000FF, 0xC0C0C0});
  TMemoryStream s;
  g.WriteColorList(s);
  const std::vector<std::uint8_t> expected = {1, 2, 5, 3, 0x38, 0xFF, 3, 0xFF, 0, 4, 0xC0, 0xC0, 0xC0, 0, 0};
  EXPECT_EQ(s.Data(), expected);
  TKelGradient back;
  s.SetPosition(0);
  back.ReadColorList(s);
  EXPECT_EQ(back.ColorList(), g.ColorList());
  const std::uint8_t broken[] = {1, 2, 5, 9};
  TBytesStream bad(broken, sizeof broken);
  EXPECT_THROW(back.ReadColorList(bad), EKelException);
  const std::uint8_t shortList[] = {1, 4, 1};
  TBytesStream cut(shortList, sizeof shortList);
  EXPECT_THROW(back.ReadColorList(cut), EStreamError);
}

TEST(KelFillSettings, SilentSettersAssignAndSummaries) {
  TKelFillObject f;
  EXPECT_EQ(f.Style(), sfNone);
  EXPECT_EQ(f.GetSetStr(), "{Disabled}");
  TCounter n;
  n.Watch(f);
  f.SetStyle(sfGradient);
  f.SetAlignment(agCenter);
  f.SetOffset(0, 5);
  EXPECT_EQ(n.Count, 1);
  f.SetStyle(sfBitmap);
  f.SetTileMode(tmNone);
  f.SetOffset(1, 7);
  EXPECT_EQ(n.Count, 4);
  f.Gradient().SetColor(clSilver); // a change inside reaches the owner
  EXPECT_EQ(n.Count, 5);
  TKelFillObject copy;
  TCounter m;
  m.Watch(copy);
  copy.Assign(f);
  EXPECT_EQ(m.Count, 1);
  EXPECT_EQ(copy.Alignment(), agCenter);
  EXPECT_EQ(copy.OffsetX(), 5);
  EXPECT_EQ(copy.OffsetY(), 7);
  EXPECT_EQ(copy.Gradient().Color(), clSilver);
  EXPECT_EQ(copy.GetSetStr(), "{Bitmap}");

  TKelAlphaObject alpha;
  TCounter a;
  a.Watch(alpha);
  alpha.SetStrength(0.9f);
  EXPECT_EQ(alpha.Strength(), 0.0f);
  alpha.SetStrength(0.9f);
  EXPECT_EQ(a.Count, 1);
  EXPECT_EQ(alpha.GetSetStr(), "{Disabled}");
  alpha.FillObject().SetStyle(sfGradient);
  EXPECT_EQ(alpha.GetSetStr(), "{Enabled (grad), strength: 0.000}");
  TKelBitmapEffectObject effect;
  EXPECT_EQ(effect.GetSetStr(), "{Disabled}");
  effect.SetEffect(0, true);
  EXPECT_FALSE(effect.Effect(0));
}

TEST(KelFillSettings, PaintFillByStyle) {
  TBitmap b(10, 4, pf32bit);
  TKelFillObject f;
  EXPECT_FALSE(f.PaintFill(b.Canvas(), Rect(0, 0, 10, 4), clWhite));
  f.SetStyle(sfBrush);
  f.SetBrushColor(clRed);
  EXPECT_TRUE(f.PaintFill(b.Canvas(), Rect(0, 0, 10, 4), clWhite));
  EXPECT_EQ(b.Canvas().Pixels(9, 3), clRed);
  f.SetStyle(sfBitmap);
  EXPECT_FALSE(f.PaintFill(b.Canvas(), Rect(0, 0, 10, 4), clLime)); // empty bitmap: background only
  EXPECT_EQ(b.Canvas().Pixels(0, 0), clLime);
  TBitmap tile(2, 2, pf24bit);
  tile.Canvas().Brush.Color = clBlue;
  tile.Canvas().FillRect(Rect(0, 0, 2, 2));
  f.SetBitmap(tile);
  f.SetTileMode(tmNone);
  f.SetAlignment(agBottomRight);
  EXPECT_TRUE(f.PaintFill(b.Canvas(), Rect(0, 0, 10, 4), clLime));
  EXPECT_EQ(b.Canvas().Pixels(9, 3), clBlue);
  EXPECT_EQ(b.Canvas().Pixels(7, 3), clLime);
  // A pattern bitmap tiles from the device origin.
  f.SetStyle(sfBrushBitmap);
  f.SetBitmap(tile);
  tile.Canvas().SetPixels(1, 1, clRed);
  f.SetBitmap(tile);
  EXPECT_TRUE(f.PaintFill(b.Canvas(), Rect(0, 0, 10, 4), clLime));
  EXPECT_EQ(b.Canvas().Pixels(0, 0), clBlue);
  EXPECT_EQ(b.Canvas().Pixels(3, 3), clRed);
  EXPECT_EQ(b.Canvas().Pixels(9, 1), clRed);
  f.SetStyle(sfGradient);
  f.Gradient().SetColor(clSilver);
  f.PaintFill(b.Canvas(), Rect(0, 0, 10, 4), clWhite);
  // Four rows for 16 colours: rows start at colours 1, 5, 9 and 13 (MulDiv).
  EXPECT_EQ(b.Canvas().Pixels(5, 0), static_cast<TColor>(RGB(179, 179, 179)));
  EXPECT_EQ(b.Canvas().Pixels(5, 3), static_cast<TColor>(RGB(26, 26, 26)));
}

TEST(KelBevelSettings, WidthsAndRules) {
  const struct {
    TKelBevelMode Mode;
    TKelBevelStyle Outer, Inner;
    int WidthOuter, WidthInner, Border, BorderInner;
    int Total;
  } cases[] = {
      {bmCustom, bvNone, bvNone, 1, 1, 0, 0, 0},         {bmCustom, bvLowered, bvNone, 1, 1, 0, 0, 1},
      {bmCustom, bvNone, bvFrameRaised, 1, 2, 0, 0, 3},  {bmCustom, bvRaised, bvLowered, 2, 1, 1, 1, 5},
      {bmCustom, bvShadow, bvShadow, 4, 2, 0, 1, 3},     {bmStandard, bvNone, bvNone, 1, 1, 0, 1, 2},
      {bmWindows, bvNone, bvNone, 1, 1, 0, 2, 4},
  };
  for (const auto& c : cases) {
    TKelBevel b;
    b.SetMode(c.Mode);
    b.SetStyleOuter(c.Outer);
    b.SetStyleInner(c.Inner);
    b.SetWidthOuter(c.WidthOuter);
    b.SetWidthInner(c.WidthInner);
    b.SetBorderWidth(c.Border);
    b.SetBorderInnerWidth(c.BorderInner);
    EXPECT_EQ(b.TotalWidth(), c.Total) << int(c.Mode) << " " << int(c.Outer) << " " << int(c.Inner);
  }
  TKelBevel b;
  b.SetStyleOuter(bvShadow);
  EXPECT_EQ(b.StyleInner(), bvShadow);
  b.SetStyleOuter(bvRaised);
  EXPECT_EQ(b.StyleInner(), bvNone);
  b.SetMode(bmEdge);
  b.SetBorderSides(0);
  b.SetBorderInnerWidth(3);
  EXPECT_EQ(b.TotalWidth(), 3);
  EXPECT_EQ(b.GetSetStr(), "{Edged style}");
  TCounter n;
  n.Watch(b);
  b.SetStandardStyle(lsRaised); // not standard mode: stored silently
  EXPECT_EQ(n.Count, 0);
  EXPECT_EQ(b.StandardStyle(), lsRaised);
  // A fresh bevel paints nothing and returns the rectangle.
  TBitmap bmp(4, 4, pf24bit);
  TKelBevel fresh;
  const TRect r = fresh.PaintBevel(bmp.Canvas(), Rect(0, 0, 4, 4), false);
  EXPECT_EQ(r.Right, 4);
  // The progress fill's bevel: one lowered pixel.
  TKelBevel lowered;
  lowered.SetStyleOuter(bvLowered);
  TBitmap paint(6, 6, pf24bit);
  const TRect inner = lowered.PaintBevel(paint.Canvas(), Rect(0, 0, 6, 6), false);
  EXPECT_EQ(inner.Left, 1);
  EXPECT_EQ(paint.Canvas().Pixels(0, 2), static_cast<TColor>(ColorToRGB(clBtnShadow)));
  EXPECT_EQ(paint.Canvas().Pixels(5, 2), static_cast<TColor>(ColorToRGB(clBtnHighlight)));
}

TEST(KelBevelSettings, ShadowShapeAndCaptionSummaries) {
  TKelShadow s;
  EXPECT_EQ(s.GetSetStr(), "{solid, 6}");
  s.SetStyle(hssNone);
  EXPECT_EQ(s.GetSetStr(), "{Disabled}");
  EXPECT_EQ(TKelRgnShadow().Style(), hssNone);
  TKelSimpleBevel bevel;
  EXPECT_EQ(bevel.GetSetStr(), "{Normal}");
  TKelShape a, b;
  a.SetShape(stRoundRect);
  a.Shadow().SetDepth(3);
  a.SetBrushColor(clBtnFace);
  TCounter n;
  n.Watch(b);
  b.Assign(a);
  EXPECT_EQ(n.Count, 1);
  EXPECT_EQ(b.Shape(), stRoundRect);
  EXPECT_EQ(b.Shadow().Depth(), 3);
  EXPECT_EQ(b.Brush().Color, clBtnFace);

  TKelFxCaption fx;
  TCounter f;
  f.Watch(fx);
  fx.SetAngle(45);
  fx.SetStyle(tdSunken);
  EXPECT_EQ(fx.GetSetStr(), "{sunken, rot: 45\xC2\xB0}");
  fx.SetStyle(tdNone);
  EXPECT_EQ(fx.GetSetStr(), "{ rot: 45\xC2\xB0}");
  fx.SetAngle(360);
  EXPECT_EQ(fx.Angle(), 0);
  EXPECT_EQ(f.Count, 4);
  fx.SetPosition(-3, 7); // no notification; never below 0
  EXPECT_EQ(fx.PosX(), 0);
  EXPECT_EQ(fx.PosY(), 7);
  EXPECT_EQ(f.Count, 4);
  EXPECT_EQ(TKelButtonLayout().Alignment(), agCenter);
  EXPECT_EQ(TKelGlyphTextLayout().Alignment(), agTopLeft);
  EXPECT_EQ(TKel3DCaption().GetSetStr(), "{Disabled}");
}

TEST(KelRegionMask, StoredForm) {
  TKelRegionMask empty;
  TMemoryStream none;
  empty.WriteProperties(none);
  EXPECT_EQ(none.Size(), 0);
  TKelRegionMask mask;
  mask.SetRegionData({1, 2, 3, 4, 5});
  mask.BorderBitmap().SetPixelFormat(pf24bit);
  mask.BorderBitmap().SetSize(2, 2);
  mask.Compressed = true;
  TMemoryStream s;
  mask.WriteProperties(s);
  TKelRegionMask back;
  back.SetRegionDataSize(5);
  s.SetPosition(0);
  back.ReadProperties(s);
  EXPECT_EQ(back.RegionData(), mask.RegionData());
  EXPECT_EQ(back.BorderBitmap().Width(), 2);
  EXPECT_TRUE(back.Compressed);
  TMemoryStream again;
  back.WriteProperties(again);
  EXPECT_EQ(again.Data(), s.Data());
  // Data longer than its announced size is refused, not written past the block.
  TKelRegionMask small;
  small.SetRegionDataSize(3);
  s.SetPosition(0);
  EXPECT_THROW(small.ReadProperties(s), EKelException);
}
