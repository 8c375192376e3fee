#include "controls/kel/kelprogressfill.h"

#include <gtest/gtest.h>

using namespace kel;
using namespace platform;

namespace {
QRgb Px(const TKelProgressFill& p, int x, int y) {
  return p.Picture().Image().pixel(x, y) | 0xFF000000u;
}
} // namespace

TEST(KelProgressFill, RangeSetters) {
  const struct {
    int Min, Max;
    bool SetMax;
    int Value;
    int NewMin, NewMax;
  } cases[] = {
      {0, 100, true, 0, 0, 100},     // equal to the minimum: ignored
      {0, 100, true, -10, -10, 0},   // below the minimum: the range flips
      {0, 100, true, 50, 0, 50},     {0, 100, false, 100, 0, 100},
      {0, 100, false, 150, 100, 150}, {0, 100, false, 20, 20, 100},
  };
  for (const auto& c : cases) {
    TKelProgressFill p;
    if (c.SetMax) p.SetMaxValue(c.Value);
    else p.SetMinValue(c.Value);
    EXPECT_EQ(p.MinValue(), c.NewMin) << c.Value;
    EXPECT_EQ(p.MaxValue(), c.NewMax) << c.Value;
    EXPECT_GE(p.UserValue(), p.MinValue());
    EXPECT_LE(p.UserValue(), p.MaxValue());
  }
  TKelProgressFill p;
  p.SetMaxValue(7);
  p.SetUserValue(3);
  EXPECT_EQ(p.Position(), 43);
  p.SetUserValue(8);
  EXPECT_EQ(p.UserValue(), 3);
  p.SetPosition(150);
  EXPECT_EQ(p.Position(), 100);
  EXPECT_EQ(p.UserValue(), 7);
  p.SetPosition(50);
  EXPECT_EQ(p.UserValue(), 4); // Round(3.5) to even
  // The span of two far-apart values needs 64 bits.
  p.SetMinValue(-2000000000);
  p.SetMaxValue(2000000000);
  EXPECT_EQ(p.PercentOf(0), 50);
  EXPECT_EQ(p.PercentOf(2000000000), 100);
}

TEST(KelProgressFill, DeltaAndRepaints) {
  TKelProgressFill p;
  p.SetDelta(5);
  p.SetPosition(10);
  const int rendered = p.RenderCount();
  p.SetPosition(13);
  EXPECT_EQ(p.RenderCount(), rendered);
  EXPECT_EQ(p.LastPainted(), 10);
  p.SetPosition(100);
  EXPECT_EQ(p.RenderCount(), rendered + 1);
  p.SetPosition(98);
  EXPECT_EQ(p.LastPainted(), 100);
  // A repaint always renders the current value, even within Delta.
  p.show();
  p.grab();
  EXPECT_EQ(p.LastPainted(), 98);
  p.SetDelta(0);
  EXPECT_EQ(p.Delta(), 1);
  // Updates reuse one picture.
  const uchar* bits = p.Picture().Image().constBits();
  for (int v = 0; v <= 100; v += 7) p.SetPosition(v);
  EXPECT_EQ(p.Picture().Image().constBits(), bits);
}

TEST(KelProgressFill, BarLengthTruncates) {
  TKelProgressFill p;
  p.Bevel().SetStyleOuter(bvNone);
  p.FillObject().SetStyle(sfBrush);
  p.FillObject().SetBrushColor(clRed);
  p.SetBrushBackColor(clBlue);
  const struct {
    int Percent, Length;
  } cases[] = {{99, 79}, {100, 80}, {1, 0}, {50, 40}, {29, 23}};
  for (const auto& c : cases) {
    p.SetPosition(c.Percent);
    p.show();
    p.grab();
    if (c.Length > 0) {
      EXPECT_EQ(Px(p, c.Length - 1, 10), qRgb(255, 0, 0)) << c.Percent;
    }
    if (c.Length < 80) {
      EXPECT_EQ(Px(p, c.Length, 10), qRgb(0, 0, 255)) << c.Percent;
    }
  }
  p.SetDirection(mdVerticalReverse);
  p.SetPosition(50);
  p.grab();
  EXPECT_EQ(Px(p, 5, 19), qRgb(255, 0, 0));
  EXPECT_EQ(Px(p, 5, 9), qRgb(0, 0, 255));
}

TEST(KelProgressFill, FormLookAtHalf) {
  TKelProgressFill p;
  p.SetBar3D(lsDoubleLowered);
  p.Bevel().SetStyleOuter(bvLowered);
  p.Bevel().SetMode(bmCustom);
  p.FillObject().SetStyle(sfGradient);
  p.FillObject().Gradient().SetColor(clSilver);
  p.SetMaxValue(10);
  p.SetUserValue(5);
  p.show();
  p.grab();
  const QRgb shadow = qRgb(128, 128, 128), white = qRgb(255, 255, 255), face = qRgb(212, 208, 200);
  EXPECT_EQ(Px(p, 0, 10), shadow); // lowered bevel
  EXPECT_EQ(Px(p, 79, 10), white);
  EXPECT_EQ(Px(p, 1, 10), shadow);  // bar frame, two sunken rings
  EXPECT_EQ(Px(p, 2, 10), shadow);
  EXPECT_EQ(Px(p, 39, 10), white);
  EXPECT_EQ(Px(p, 38, 10), white);
  EXPECT_EQ(Px(p, 40, 10), face); // the rest
  EXPECT_EQ(Px(p, 20, 3), qRgb(166, 166, 166)); // gradient band 2
  EXPECT_LT(qGray(Px(p, 20, 16)), qGray(Px(p, 20, 3)));
  // The percentage: in the window colour over the bar, the font colour over the rest.
  p.SetOptionsText(toPercent);
  p.grab();
  int onBar = 0, onRest = 0;
  for (int y = 3; y < 17; ++y) {
    for (int x = 3; x < 38; ++x) onBar += Px(p, x, y) == white;
    for (int x = 41; x < 78; ++x) onRest += qGray(Px(p, x, y)) < 60;
  }
  EXPECT_GT(onBar + onRest, 10);
  EXPECT_GT(onRest, 0);
}
