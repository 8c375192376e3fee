#include "controls/support/wngraphics/wngradient.h"
#include "controls/support/wngraphics/wnpagecontrol.h"
#include "controls/support/wngraphics/wntransparent.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <gtest/gtest.h>

using namespace wn;

TEST(WnGradient, OneRowBandsAndStepsLimitedToHeight) {
  TWnGradient G;
  G.SetStyle(grVertical);
  G.SetStartColor(platform::clSilver);
  G.SetEndColor(platform::clWhite);
  G.SetSteps(31);
  G.resize(40, 31);
  const QImage& Image = G.CachedImage();
  // Channel of row i: Round(192 + i * 63 / 31).
  EXPECT_EQ(qRed(Image.pixel(5, 0)), 192);
  EXPECT_EQ(qRed(Image.pixel(5, 1)), 194);
  EXPECT_EQ(qRed(Image.pixel(5, 15)), 222);
  EXPECT_EQ(qRed(Image.pixel(5, 30)), 253);
  for (int Y = 1; Y < 31; ++Y) EXPECT_NE(Image.pixel(0, Y), Image.pixel(0, Y - 1)) << Y;

  G.SetSteps(100);
  G.CachedImage();
  EXPECT_EQ(G.Steps(), 31);
}

TEST(WnGradient, CacheRebuiltOnlyOnResize) {
  TWnGradient G;
  G.resize(20, 10);
  G.CachedImage();
  const int Before = G.BuildCount();
  const QImage Painted = G.grab().toImage();  // repaint at the same size: the cache only
  EXPECT_EQ(G.BuildCount(), Before);
  EXPECT_EQ(Painted.pixel(0, 5), G.CachedImage().pixel(0, 5));
  G.resize(30, 10);
  G.CachedImage();
  EXPECT_EQ(G.BuildCount(), Before + 1);
  // Horizontal (default): blue to black along the width.
  EXPECT_EQ(G.CachedImage().pixel(0, 5), qRgb(0, 0, 255));
}

TEST(WnGradient, ZeroHeightDoesNotDivideByZero) {
  TWnGradient G;
  G.SetStyle(grVertical);
  G.SetSteps(29);
  G.resize(50, 0);
  EXPECT_TRUE(G.CachedImage().isNull());
  EXPECT_EQ(G.Steps(), 29);
  G.SetSteps(0);
  G.resize(50, 4);
  EXPECT_EQ(G.CachedImage().height(), 4);
}

TEST(WnPageControl, HideAllTabsKeepsPageAndAppliesToLaterPages) {
  TWnPageControl PC;
  PC.SetHideAllTabs(true);  // before any page exists
  PC.addTab(new QWidget, "one");
  PC.addTab(new QWidget, "two");
  PC.setCurrentIndex(1);
  EXPECT_FALSE(PC.isTabVisible(0));
  EXPECT_FALSE(PC.isTabVisible(1));
  EXPECT_EQ(PC.currentIndex(), 1);
  PC.SetHideAllTabs(false);
  EXPECT_TRUE(PC.isTabVisible(0));
  EXPECT_EQ(PC.currentIndex(), 1);
  EXPECT_EQ(PC.focusPolicy(), Qt::TabFocus);
}

TEST(WnPageControl, CtrlTabSkipsDisabledPagesAndWraps) {
  TWnPageControl PC;
  for (const char* Name : {"a", "b", "c", "d"}) PC.addTab(new QWidget, Name);
  PC.setTabEnabled(3, false);
  PC.setCurrentIndex(0);
  QKeyEvent Back(QEvent::KeyPress, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  QApplication::sendEvent(&PC, &Back);
  EXPECT_EQ(PC.currentIndex(), 2);  // the last enabled page
  QKeyEvent Next(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier);
  QApplication::sendEvent(&PC, &Next);
  EXPECT_EQ(PC.currentIndex(), 0);
  PC.setTabEnabled(1, false);
  PC.setTabEnabled(2, false);
  EXPECT_FALSE(PC.SelectNextPage(true));
  EXPECT_EQ(PC.currentIndex(), 0);
}

TEST(DrawTransparentBitmap, LeavesOutTheColour) {
  QImage Dest(4, 2, QImage::Format_RGB32);
  Dest.fill(qRgb(1, 2, 3));
  QImage Bitmap(2, 2, QImage::Format_RGB32);
  Bitmap.fill(qRgb(255, 0, 255));
  Bitmap.setPixel(0, 0, qRgb(10, 20, 30));
  {
    QPainter P(&Dest);
    DrawTransparentBitmap(P, 1, 0, platform::clFuchsia, Bitmap);
  }
  EXPECT_EQ(Dest.pixel(1, 0), qRgb(10, 20, 30));
  EXPECT_EQ(Dest.pixel(2, 0), qRgb(1, 2, 3));
  EXPECT_EQ(Dest.pixel(1, 1), qRgb(1, 2, 3));
  EXPECT_EQ(Dest.pixel(0, 0), qRgb(1, 2, 3));

  // clDefault: the bottom-left pixel's colour; stretched to 4 x 2.
  Dest.fill(qRgb(1, 2, 3));
  {
    QPainter P(&Dest);
    DrawTransparentBitmap(P, QRect(), QRect(0, 0, 4, 2), platform::clDefault, Bitmap);
  }
  EXPECT_EQ(Dest.pixel(0, 0), qRgb(10, 20, 30));
  EXPECT_EQ(Dest.pixel(1, 0), qRgb(10, 20, 30));
  EXPECT_EQ(Dest.pixel(2, 0), qRgb(1, 2, 3));
  EXPECT_EQ(Dest.pixel(3, 1), qRgb(1, 2, 3));

  // clNone copies every pixel.
  {
    QPainter P(&Dest);
    DrawTransparentBitmap(P, 0, 0, platform::clNone, Bitmap);
  }
  EXPECT_EQ(Dest.pixel(1, 1), qRgb(255, 0, 255));
}
