#include "controls/kel/kelshape.h"

#include <gtest/gtest.h>

using namespace kel;
using namespace platform;

namespace {
std::vector<std::pair<int, int>> Points(const TKelPointList& l) {
  std::vector<std::pair<int, int>> out;
  for (int i = 0; i < l.Count(); ++i) out.push_back({l.Point(i).X, l.Point(i).Y});
  return out;
}
using P = std::vector<std::pair<int, int>>;
} // namespace

TEST(KelPointList, PacksXHighUnsignedYLowSigned) {
  TKelPointList l;
  int changes = 0;
  l.OnChange = [&](TKelPointList*) { ++changes; };
  l.Add({40000, -5});
  EXPECT_EQ(l.Point(0).X, 40000);
  EXPECT_EQ(l.Point(0).Y, -5);
  EXPECT_EQ(l.Point(3).X, 0); // past the end
  l.Offset(1, 2);
  EXPECT_EQ(l.Point(0).Y, -3);
  l.BeginUpdate();
  l.SetPoint(0, {1, 1});
  l.EndUpdate();
  EXPECT_EQ(changes, 2);
}

TEST(KelShapeOutlines, WorkedVertices) {
  TKelShadow none;
  none.SetStyle(hssNone);
  TKelSimpleBevel bevel1, bevel3;
  bevel1.SetWidth(1);
  bevel3.SetWidth(3);
  TKelPointList l;
  // Square: 40 x 20 gives a centred 20 x 20 outline.
  KelShapeOutline(Rect(0, 0, 40, 20), stRectangle, l, &none, &bevel1, true, 33);
  EXPECT_EQ(Points(l), (P{{10, 0}, {30, 20}, {10, 0}, {30, 20}}));
  // Round rectangle corner 33 x 30 div 100 = 9.
  KelShapeOutline(Rect(0, 0, 60, 30), stRoundRect, l, nullptr, &bevel1, false, 33);
  EXPECT_EQ(Points(l), (P{{0, 0}, {60, 30}, {9, 9}, {0, 0}, {60, 30}, {9, 9}}));
  // Octagon in 100 x 100: a = 29, a' = 41.
  KelShapeOutline(Rect(0, 0, 100, 100), stOctagon, l, nullptr, &bevel1, false, 33);
  EXPECT_EQ(l.Point(0).X, 29);
  EXPECT_EQ(l.Point(1).X, 70);
  EXPECT_EQ(l.Point(2).Y, 29);
  EXPECT_EQ(l.Point(3).Y, 70);
  // A shadow of depth 3 moves the outline; the inner ring follows the bevel.
  TKelShadow shadow;
  shadow.SetDepth(3);
  KelShapeOutline(Rect(0, 0, 30, 20), stDiamond, l, &shadow, &bevel3, false, 33);
  EXPECT_EQ(Points(l), (P{{16, 3}, {30, 11}, {16, 20}, {3, 11}, {16, 4}, {29, 11}, {16, 19}, {4, 11}}));
  KelShapeOutline(Rect(0, 0, 50, 50), stComb, l, nullptr, &bevel1, false, 33);
  EXPECT_EQ(Points(l).size(), 12u);
  EXPECT_EQ(l.Point(1).Y, 10);
  EXPECT_EQ(l.Point(2).Y, 40);
  KelShapeOutline(Rect(0, 0, 100, 100), stStar, l, nullptr, &bevel3, false, 33);
  EXPECT_EQ(l.Point(1).X, 65);
  EXPECT_EQ(l.Point(1).Y, 38);
  EXPECT_EQ(l.Point(10 + 2).X, 99); // R - h2
  EXPECT_EQ(l.Point(10 + 1).X, 65); // inner points unchanged
}

TEST(KelShapePaint, ShadowBodyAndBevelPixels) {
  TBitmap b(30, 20, pf32bit);
  b.Canvas().Brush.Color = clFuchsia;
  b.Canvas().FillRect(Rect(0, 0, 30, 20));
  TKelShadow shadow;
  shadow.SetDepth(3);
  shadow.SetColor(clNavy);
  TKelSimpleBevel bevel;
  bevel.SetWidth(1);
  bevel.SetStyle(sbOffset);
  bevel.SetColor(0, clWhite);
  bevel.SetColor(1, clSilver);
  TBrush face{clLime, bsSolid, {}};
  KelShapePaint(Rect(0, 0, 30, 20), b.Canvas(), stRectangle, clFuchsia, clFuchsia, nullptr, &shadow, &bevel, 33,
                face, false);
  TCanvas& c = b.Canvas();
  EXPECT_EQ(c.Pixels(0, 0), clWhite);    // light edge, top left
  EXPECT_EQ(c.Pixels(10, 0), clWhite);
  EXPECT_EQ(c.Pixels(26, 10), clSilver); // dark edge, right
  EXPECT_EQ(c.Pixels(10, 16), clSilver); // dark edge, bottom
  EXPECT_EQ(c.Pixels(10, 10), clLime);   // body
  EXPECT_EQ(c.Pixels(28, 10), clNavy);   // shadow strip
  EXPECT_EQ(c.Pixels(1, 18), clFuchsia); // left of the shadow
  // No shadow: the body fills the whole rectangle.
  TKelShadow off;
  off.SetStyle(hssNone);
  c.Brush.Color = clFuchsia;
  c.FillRect(Rect(0, 0, 30, 20));
  KelShapePaint(Rect(0, 0, 30, 20), c, stRectangle, clFuchsia, clFuchsia, nullptr, &off, &bevel, 33, face, false);
  EXPECT_EQ(c.Pixels(29, 10), clSilver);
  EXPECT_EQ(c.Pixels(28, 10), clLime);
  // A tracing shadow is a checkerboard laid over what is under it.
  c.Brush.Color = clWhite;
  c.FillRect(Rect(0, 0, 30, 20));
  shadow.SetStyle(hssTracing);
  KelShapePaint(Rect(0, 0, 30, 20), c, stRectangle, clWhite, clWhite, nullptr, &shadow, &bevel, 33, face, false);
  EXPECT_NE(c.Pixels(28, 10), c.Pixels(28, 11));
  EXPECT_TRUE(c.Pixels(28, 10) == clNavy || c.Pixels(28, 11) == clNavy);
}

TEST(KelShapePaint, OctagonPixels) {
  TBitmap b(100, 100, pf32bit);
  b.Canvas().Brush.Color = clFuchsia;
  b.Canvas().FillRect(Rect(0, 0, 100, 100));
  TKelSimpleBevel pen;
  pen.SetWidth(1); // sbNormal: the outline in the bevel's colour, black
  KelShapePaint(Rect(0, 0, 100, 100), b.Canvas(), stOctagon, clFuchsia, clFuchsia, nullptr, nullptr, &pen, 33,
                TBrush{clLime, bsSolid, {}}, false);
  TCanvas& c = b.Canvas();
  // The top edge runs from x 29 to 70, the left one from y 29 to 70.
  EXPECT_EQ(c.Pixels(29, 0), clBlack);
  EXPECT_EQ(c.Pixels(70, 0), clBlack);
  EXPECT_EQ(c.Pixels(27, 0), clFuchsia);
  EXPECT_EQ(c.Pixels(0, 50), clBlack);
  EXPECT_EQ(c.Pixels(0, 27), clFuchsia);
  EXPECT_EQ(c.Pixels(50, 50), clLime);
  EXPECT_EQ(c.Pixels(3, 3), clFuchsia); // the cut corner
}
