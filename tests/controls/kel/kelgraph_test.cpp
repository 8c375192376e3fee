#include "controls/kel/kelgraph.h"
#include "controls/kel/kelshape.h"

#include <gtest/gtest.h>

#include "controls/kel/kel_test_support.h"

#include <string>
#include <vector>

using namespace kel;
using namespace platform;

namespace {

// A magenta picture, so every drawn pixel shows.
struct TMagenta : TPicture {
  TMagenta(int w, int h) : TPicture(w, h, clFuchsia) {}
};

TColor Rgb(TColor c) { return static_cast<TColor>(ColorToRGB(c)); }

} // namespace

TEST(KelFrames, StylesShrinkByTheirWidth) {
  const struct {
    TKelBorderStyle Style;
    int Shrink;
  } cases[] = {{lsNone, 0},        {lsSingle, 1},         {lsLowered, 2},        {lsRaised, 2},
               {lsSingleRaised, 1}, {lsSingleLowered, 1}, {lsDoubleLowered, 2}, {lsFrameInset, 2},
               {lsLoweredExt, 2}};
  for (const auto& c : cases) {
    TMagenta m(10, 10);
    TRect r = Rect(0, 0, 10, 10);
    KelDrawFrame(m.C(), r, c.Style);
    EXPECT_EQ(r.Left, c.Shrink) << int(c.Style);
    // A single frame's light edge is drawn outside the rectangle's right side.
    EXPECT_EQ(r.Right, 10 - (c.Style == lsSingle ? 0 : c.Shrink)) << int(c.Style);
    EXPECT_EQ(KelFrameWidth(c.Style), c.Style == lsLoweredExt ? 2 : c.Shrink);
  }
  TMagenta m(6, 6);
  TRect r = Rect(0, 0, 6, 6);
  KelDrawFrame(m.C(), r, lsDoubleLowered);
  EXPECT_EQ(m(0, 0), Rgb(clBtnShadow));
  EXPECT_EQ(m(5, 5), Rgb(clBtnHighlight));
  EXPECT_EQ(m(1, 1), Rgb(clBtnShadow));
  EXPECT_EQ(m(2, 2), clFuchsia);
}

TEST(KelFrames, BevelBands) {
  // Width 1: left and top in the top-left colour, the corners at top right
  // and bottom left in the bottom-right colour.
  TMagenta m(8, 6);
  TRect r = Rect(0, 0, 8, 6);
  EXPECT_TRUE(KelDrawBevelFrame(m.C(), r, bvRaised, 1, clBlue, clLime));
  EXPECT_EQ(r.Left, 1);
  EXPECT_EQ(r.Bottom, 5);
  EXPECT_EQ(m(0, 0), clLime);
  EXPECT_EQ(m(0, 3), clLime);
  EXPECT_EQ(m(3, 0), clLime);
  EXPECT_EQ(m(7, 0), clBlue);
  EXPECT_EQ(m(0, 5), clBlue);
  EXPECT_EQ(m(7, 5), clBlue);
  EXPECT_EQ(m(3, 3), clFuchsia);
  // Width 3: bands of three pixels meeting in diagonals.
  TMagenta wide(12, 12);
  r = Rect(0, 0, 12, 12);
  KelDrawBevelFrame(wide.C(), r, bvLowered, 3, clBlue, clLime);
  EXPECT_EQ(r.Left, 3);
  EXPECT_EQ(wide(1, 6), clBlue);
  EXPECT_EQ(wide(6, 2), clBlue);
  EXPECT_EQ(wide(10, 6), clLime);
  EXPECT_EQ(wide(6, 10), clLime);
  EXPECT_EQ(wide(6, 6), clFuchsia);
  // Frame styles take one pixel more; none and shadow draw nothing.
  r = Rect(0, 0, 12, 12);
  KelDrawBevelFrame(wide.C(), r, bvFrameRaised, 2, clBlue, clLime);
  EXPECT_EQ(r.Left, 3);
  EXPECT_EQ(r.Right, 9);
  for (TKelBevelStyle s : {bvNone, bvShadow}) {
    r = Rect(0, 0, 12, 12);
    EXPECT_FALSE(KelDrawBevelFrame(wide.C(), r, s, 2, clBlue, clLime));
    EXPECT_EQ(r.Left, 0);
  }
}

TEST(KelFrames, ShadowFrame) {
  TMagenta m(10, 10);
  TRect r = Rect(0, 0, 10, 10);
  KelDrawShadowFrame(m.C(), r, clLime, false, 1, 2, clWhite, clBlack);
  EXPECT_EQ(r.Right, 7); // 2 for the shadow, 1 for the ring
  EXPECT_EQ(m(9, 1), clWhite);  // corner
  EXPECT_EQ(m(9, 2), clBlack);  // right strip
  EXPECT_EQ(m(2, 9), clBlack);  // bottom strip
  EXPECT_EQ(m(1, 9), clWhite);
  EXPECT_EQ(m(0, 0), clLime);
  EXPECT_EQ(m(7, 7), clLime);
  EXPECT_EQ(m(1, 1), clFuchsia);
  TMagenta t(10, 10);
  r = Rect(0, 0, 10, 10);
  KelDrawShadowFrame(t.C(), r, clLime, true, 0, 2, clWhite, clBlack);
  EXPECT_EQ(t(9, 1), clFuchsia);
}

TEST(KelArrows, RowsTipAndDisabledLook) {
  TMagenta m(12, 8);
  KelDrawArrow(m.C(), 1, 1, true, true, clBlack, 3);
  // Rows of 5 and 3 pixels, then the tip.
  EXPECT_EQ(m.Count(clBlack), 9);
  EXPECT_EQ(m(1, 1), clBlack);
  EXPECT_EQ(m(5, 1), clBlack);
  EXPECT_EQ(m(6, 1), clFuchsia);
  EXPECT_EQ(m(3, 3), clBlack);
  TMagenta up(12, 8);
  KelDrawArrow(up.C(), 2, 0, true, false, clBlack, 3);
  EXPECT_EQ(up.Count(clBlack), 1 + 3 + 5);
  EXPECT_EQ(up(3, 0), clBlack);
  EXPECT_EQ(up(1, 2), clBlack);
  TMagenta off(12, 8);
  KelDrawArrow(off.C(), 1, 1, false, true, clBlack, 3);
  EXPECT_EQ(off(1, 1), Rgb(clGrayText));
  EXPECT_EQ(off(6, 2), Rgb(clHighlightText));
  for (int size : {1, 16}) {
    TMagenta none(40, 40);
    KelDrawArrow(none.C(), 1, 1, true, true, clBlack, size);
    EXPECT_EQ(none.Count(clFuchsia), 1600);
  }
}

TEST(KelColours, RampsAndBlends) {
  TKelColorTable t;
  KelMakeColorSteps(clBlue, clBlack, 16, true, &t);
  ASSERT_EQ(t.size(), 16u);
  EXPECT_EQ(t.front(), std::uint32_t(clBlue));
  EXPECT_EQ(t.back(), std::uint32_t(clBlack));
  EXPECT_EQ(t[1], RGB(0, 0, 238)); // 255 + MulDiv(1, -255, 15) = 255 - 17
  // A one-step ramp is its start colour.
  KelMakeColorSteps(clRed, clBlue, 1, true, &t);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0], std::uint32_t(clRed));
  // Without clearing, the first step (the previous end) is left out.
  KelMakeColorSteps(clBlue, clLime, 3, false, &t);
  EXPECT_EQ(t.size(), 3u);
  EXPECT_EQ(KelBlendColor(clBlack, clWhite, 1, 2), static_cast<TColor>(RGB(128, 128, 128)));
  EXPECT_EQ(KelBlendColor(clBlack, clWhite, 1, 4), static_cast<TColor>(RGB(64, 64, 64)));
  EXPECT_EQ(KelBlendColor(clRed, clWhite, 3, 0), clRed);
  EXPECT_EQ(KelMulDiv(5, 3, 0), -1);
  EXPECT_EQ(KelRound(2.5), 2);
  EXPECT_EQ(KelRound(3.5), 4);
}

TEST(KelGradients, HorizontalBandsFollowMulDiv) {
  TKelColorTable colors;
  for (int i = 0; i < 16; ++i) colors.push_back(RGB(std::uint8_t(i * 10), 0, 0));
  TMagenta m(100, 4);
  KelGradientFill(m.C(), Rect(0, 0, 100, 4), gstHorizontal, 0, 0, nullptr, &colors);
  const int starts[] = {0, 6, 13, 19, 25};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(m(starts[i], 2), static_cast<TColor>(colors[std::size_t(i)])) << i;
    if (i > 0) {
      EXPECT_EQ(m(starts[i] - 1, 2), static_cast<TColor>(colors[std::size_t(i - 1)])) << i;
    }
  }
  EXPECT_EQ(m(99, 3), static_cast<TColor>(colors[15]));
  // Vertical bands the same way, through an off-screen bitmap, at an offset.
  TMagenta v(4, 104);
  KelGradientFill(v.C(), Rect(0, 4, 4, 104), gstVertical, 0, kgfOffscreen, nullptr, &colors);
  EXPECT_EQ(v(1, 3), clFuchsia);
  EXPECT_EQ(v(1, 4 + 13), static_cast<TColor>(colors[2]));
  EXPECT_EQ(v(1, 4 + 12), static_cast<TColor>(colors[1]));
}

TEST(KelGradients, OneColourFillsTheRectangleInEveryStyle) {
  const TKelColorTable one = {RGB(10, 20, 30)};
  for (int style = gstHorizontal; style <= gstTopRightDiagonal; ++style) {
    TMagenta m(30, 20);
    KelGradientFill(m.C(), Rect(0, 0, 30, 20), TKelGradientStyle(style), 0, kgfClip, nullptr, &one);
    EXPECT_EQ(m.Count(static_cast<TColor>(one[0])), 600) << style;
  }
  TMagenta corner(30, 30);
  const TKelColorTable two = {RGB(255, 0, 0), RGB(0, 0, 255)};
  KelGradientFill(corner.C(), Rect(0, 0, 30, 30), gstTopLeft, 0, 0, nullptr, &two);
  EXPECT_EQ(corner(0, 0), clRed);
  EXPECT_EQ(corner(29, 29), clBlue);
  TMagenta empty(4, 4);
  KelGradientFill(empty.C(), Rect(0, 0, 4, 4), gstVertical, 0, 0, nullptr, nullptr);
  EXPECT_EQ(empty.Count(clFuchsia), 16);
}

TEST(KelGlyphs, DisabledCopies) {
  // Every pixel the transparent colour: nothing changes.
  TBitmap plain(4, 4, pf24bit);
  KelFillSolidBitmap(plain, Rect(0, 0, 4, 4), clOlive);
  TBitmap out;
  KelMakeDisabledGlyph(out, plain);
  EXPECT_EQ(out.Canvas().Pixels(2, 2), clOlive);
  // Brightness 0 (black) and 765 (white): mean 382.5, threshold -rnd(-182.5) = 182.
  TBitmap glyph(3, 1, pf24bit);
  glyph.Canvas().SetPixels(0, 0, clOlive);
  glyph.Canvas().SetPixels(1, 0, clBlack);
  glyph.Canvas().SetPixels(2, 0, clWhite);
  KelMakeDisabledGlyph(out, glyph);
  EXPECT_EQ(out.Canvas().Pixels(0, 0), clOlive);
  EXPECT_EQ(out.Canvas().Pixels(1, 0), clBlack);
  EXPECT_EQ(out.Canvas().Pixels(2, 0), clWhite);
  TBitmap mid(2, 1, pf24bit);
  mid.Canvas().SetPixels(0, 0, clOlive);
  mid.Canvas().SetPixels(1, 0, static_cast<TColor>(RGB(100, 100, 100))); // T = 100: 150 < 300 <= 350
  KelMakeDisabledGlyph(out, mid);
  EXPECT_EQ(out.Canvas().Pixels(1, 0), Rgb(clBtnShadow));

  // Embossed: the black pixel in shadow, its highlight one down and right.
  TBitmap source(4, 4, pf24bit);
  KelFillSolidBitmap(source, Rect(0, 0, 4, 4), clOlive);
  source.Canvas().SetPixels(1, 1, clBlack);
  source.Canvas().SetPixels(2, 1, clRed);
  TBitmap embossed;
  KelDrawDisabledEmbossed(embossed, source, 0, 0);
  EXPECT_EQ(embossed.Canvas().Pixels(1, 1), Rgb(clBtnShadow));
  EXPECT_EQ(embossed.Canvas().Pixels(2, 2), Rgb(clBtnHighlight));
  EXPECT_EQ(embossed.Canvas().Pixels(2, 1), clOlive);
  EXPECT_EQ(embossed.Canvas().Pixels(0, 0), clOlive);
}

TEST(KelBitmaps, StylesPlaceTheImage) {
  TBitmap image(4, 2, pf24bit);
  KelFillSolidBitmap(image, Rect(0, 0, 4, 2), clBlue);
  image.Canvas().SetPixels(0, 1, clRed); // bottom left: its own transparent colour
  const struct {
    unsigned Flags;
    int Blue;
    TPoint Inside, Outside;
  } cases[] = {
      {0, 7, {3, 0}, {4, 0}},
      {kbfCenter, 7, {5, 4}, {2, 4}},
      {kbfStretch, 10 * 10 - 10 * 5, {9, 0}, {0, 9}},  // left half of the rows red
      {kbfStretch | kbfKeepAspect, 10 * 5 - 5 * 3 + 0, {9, 0}, {9, 6}},
      {kbfTile, 7 * 15, {4 + 3, 2}, {4, 3}},
  };
  for (const auto& c : cases) {
    TMagenta m(10, 10);
    KelDrawBitmapStyled(m.C(), Rect(0, 0, 10, 10), image, nullptr, clNone, c.Flags, Rect(0, 0, 4, 2));
    EXPECT_EQ(m(c.Inside.X, c.Inside.Y), clBlue) << c.Flags;
    EXPECT_NE(m(c.Outside.X, c.Outside.Y), clBlue) << c.Flags;
  }
  // Transparent colour and the bitmap's own transparent colour.
  TMagenta key(4, 2);
  KelDrawBitmapStyled(key.C(), Rect(0, 0, 4, 2), image, nullptr, clRed, kbfTransparentColor, Rect(0, 0, 4, 2));
  EXPECT_EQ(key(0, 1), clFuchsia);
  EXPECT_EQ(key(1, 1), clBlue);
  TMagenta own(4, 2);
  KelDrawBitmapStyled(own.C(), Rect(0, 0, 4, 2), image, nullptr, clLime, kbfOwnTransparent, Rect(0, 0, 4, 2));
  EXPECT_EQ(own(0, 1), clLime);
  // Through a mask: white keeps the destination.
  TBitmap mask, colour;
  KelMaskTransparentColor(colour, mask, image, clRed);
  EXPECT_EQ(mask.Canvas().Pixels(0, 1), clWhite);
  EXPECT_EQ(colour.Canvas().Pixels(0, 1), clBlack);
  TMagenta masked(4, 2);
  KelDrawBitmapStyled(masked.C(), Rect(0, 0, 4, 2), colour, &mask, clNone, kbfMask, Rect(0, 0, 4, 2));
  EXPECT_EQ(masked(0, 1), clFuchsia);
  EXPECT_EQ(masked(2, 1), clBlue);
}

TEST(KelAlign, NineAnchors) {
  const TRect box = Rect(10, 20, 110, 70), item = Rect(0, 0, 20, 10);
  const struct {
    TKelAlignment A;
    int X, Y;
  } cases[] = {{agTopLeft, 10, 20},   {agTopCenter, 50, 20},   {agTopRight, 90, 20},
               {agCenterLeft, 10, 40}, {agCenter, 50, 40},      {agCenterRight, 90, 40},
               {agBottomLeft, 10, 60}, {agBottomCenter, 50, 60}, {agBottomRight, 90, 60}};
  for (const auto& c : cases) {
    const TRect r = KelAlignRect(c.A, box, item);
    EXPECT_EQ(r.Left, c.X) << int(c.A);
    EXPECT_EQ(r.Top, c.Y) << int(c.A);
    EXPECT_EQ(r.Width(), 20);
  }
}

TEST(KelText, DisabledThreeDIsSunkenInGrayText) {
  TKel3DCaption style;
  style.SetDisabledStyle(ds3d);
  style.SetColor(0, clLime);
  TMagenta m(60, 20);
  m.C().Font.Size = 12;
  m.C().Font.Color = clBlack;
  KelDrawFxText(m.C(), "HH", &style, 0, DT_LEFT | DT_SINGLELINE | DT_VCENTER, Rect(0, 0, 60, 20));
  EXPECT_GT(m.Count(Rgb(clGrayText)), 5);
  EXPECT_GT(m.Count(clLime), 0);
  EXPECT_EQ(m.Count(clBlack), 0);
  // The light copy sits one pixel down and right of the text.
  int firstGray = -1, firstLime = -1;
  for (int x = 0; x < 60 && (firstGray < 0 || firstLime < 0); ++x)
    for (int y = 0; y < 20; ++y) {
      if (firstGray < 0 && m(x, y) == Rgb(clGrayText)) firstGray = x;
      if (firstLime < 0 && m(x, y) == clLime) firstLime = x;
    }
  EXPECT_EQ(firstLime, firstGray + 1);
  // Enabled, a plain style draws in the font colour only.
  TMagenta e(60, 20);
  e.C().Font.Color = clBlack;
  KelDrawFxText(e.C(), "&HH", &style, kfxEnabled, DT_LEFT | DT_SINGLELINE, Rect(0, 0, 60, 20));
  EXPECT_GT(e.Count(clBlack), 5);
  EXPECT_EQ(e.Count(clLime), 0);
}

TEST(KelText, MeasuringGrowsByEffectAndMargin) {
  TBitmap b(10, 10, pf32bit);
  TCanvas& c = b.Canvas();
  TRect plain = Rect(0, 0, 0, 0);
  KelCalcTextRect(c, nullptr, "Close", 0, false, true, plain);
  TKel3DCaption shadow;
  shadow.SetStyle(tdShadow);
  shadow.SetDepth(1, 3);
  TRect grown = Rect(0, 0, 0, 0);
  KelCalcTextRect(c, &shadow, "Close", 1, false, true, grown);
  EXPECT_EQ(grown.Width(), plain.Width() + 3 + 2);
  EXPECT_EQ(grown.Height(), plain.Height() + 3 + 2);
  // "&" alone is measured as a blank, like an empty text.
  TRect amp = Rect(0, 0, 0, 0), blank = Rect(0, 0, 0, 0);
  KelCalcTextRect(c, nullptr, "&", 0, false, true, amp);
  KelCalcTextRect(c, nullptr, "", 0, false, true, blank);
  EXPECT_EQ(amp.Width(), blank.Width());
  EXPECT_GT(blank.Width(), 2);
}

TEST(KelLayout, GlyphBesideCaptionAndArrow) {
  TBitmap glyph(8, 8, pf24bit);
  KelFillSolidBitmap(glyph, Rect(0, 0, 8, 8), clBlue);
  TKelButtonLayout layout;
  TMagenta m(80, 30);
  const TKelLayoutRects r = KelCalcGlyphTextLayout(m.C(), "", &glyph, Rect(0, 0, 8, 8), nullptr, clOlive, layout,
                                                   Rect(0, 0, 80, 30), kglEnabled, nullptr);
  EXPECT_EQ(r.Glyph.Left, 36); // centred alone
  EXPECT_EQ(r.Glyph.Top, 11);
  EXPECT_EQ(m(40, 15), clBlue);
  layout.SetArrow(true);
  TMagenta a(80, 30);
  const TKelLayoutRects ra = KelCalcGlyphTextLayout(a.C(), "", &glyph, Rect(0, 0, 8, 8), nullptr, clOlive, layout,
                                                    Rect(0, 0, 80, 30), kglEnabled, nullptr);
  EXPECT_EQ(a.Count(clBlack), 9); // the arrow of size 3
  EXPECT_LT(ra.Glyph.Left, 36);
  // Measuring draws nothing and frames the union.
  TMagenta n(80, 30);
  const TKelLayoutRects rn = KelCalcGlyphTextLayout(n.C(), "Go", &glyph, Rect(0, 0, 8, 8), nullptr, clOlive, layout,
                                                    Rect(0, 0, 80, 30), kglMeasureOnly, nullptr);
  EXPECT_EQ(n.Count(clFuchsia), 2400);
  EXPECT_EQ(rn.Focus.Left, rn.Union.Left - 1);
  EXPECT_EQ(rn.Caption.Left, rn.Glyph.Right + layout.Spacing() + 1);
}

// A canvas that records the shape calls instead of drawing them.
class TRecordingCanvas : public TCanvas {
public:
  TRecordingCanvas() : TCanvas(static_cast<QPainter*>(nullptr)) {}
  std::vector<std::string> Calls;
  void Note(const std::string& name, std::initializer_list<int> args) {
    std::string s = name + "(";
    for (int a : args) s += std::to_string(a) + ",";
    s += "w" + std::to_string(Pen.Style == psClear ? 0 : Pen.Width) + ")";
    Calls.push_back(s);
  }
  void Rectangle(int a, int b, int c, int d) override { Note("Rectangle", {a, b, c, d}); }
  void RoundRect(int a, int b, int c, int d, int e, int f) override { Note("RoundRect", {a, b, c, d, e, f}); }
  void Ellipse(int a, int b, int c, int d) override { Note("Ellipse", {a, b, c, d}); }
  void Arc(int a, int b, int c, int d, int e, int f, int g, int h) override {
    Note("Arc", {a, b, c, d, e, f, g, h});
  }
  void Polygon(const TPoint* p, int n) override { Note("Polygon", {n, p[0].X, p[0].Y}); }
  void LineTo(int x, int y) override {
    Note("Line", {PenPos.X, PenPos.Y, x, y});
    PenPos = {x, y};
  }
};

TEST(KelShapePainter, ArcsAndWidePensThroughARecordingCanvas) {
  TKelShadow shadow;
  shadow.SetDepth(4);
  TKelSimpleBevel bevel;
  bevel.SetWidth(3);
  bevel.SetStyle(sbOffset);
  TRecordingCanvas c;
  KelShapePaint(Rect(0, 0, 40, 30), c, stEllipse, clWhite, clWhite, nullptr, &shadow, &bevel, 33, TBrush{}, false);
  // h = 1, h2 = 1: shadow at the outline, body up and left by 4 with the
  // inner corners, then two half arcs of the inner ellipse.
  const std::vector<std::string> expected = {"Ellipse(4,4,40,30,w0)", "Ellipse(1,1,35,25,w3)",
                                             "Arc(1,1,35,25,35,1,1,25,w3)", "Arc(1,1,35,25,1,25,35,1,w3)"};
  EXPECT_EQ(c.Calls, expected);
  TRecordingCanvas r;
  KelShapePaint(Rect(10, 10, 50, 30), r, stRoundRect, clWhite, clWhite, nullptr, nullptr, &bevel, 50, TBrush{},
                false);
  ASSERT_FALSE(r.Calls.empty());
  EXPECT_EQ(r.Calls[0], "RoundRect(11,11,50,30,10,10,w3)");
  EXPECT_NE(std::find_if(r.Calls.begin(), r.Calls.end(), [](const std::string& s) { return s.rfind("Arc", 0) == 0; }),
            r.Calls.end());
}
