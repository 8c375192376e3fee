#include <QScrollBar>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include "image/io/rvioparams.h"
#include "viewtest_support.h"

namespace {

using namespace rv;
using viewtest::MakeView;

struct TFitCase {
  int PictureW, PictureH;
  TRvBackgroundStyle Style;
  double Zoom;
};

TEST(RastrumViewGeometry, FitZoomUsesTheOuterSizeLessTheBackgroundBorder) {
  const TFitCase cases[] = {
      {400, 100, rvbsSolid, 50},      {400, 100, rvbsCropped, 49},  {400, 100, rvbsCropShadow, 47.5},
      {50, 200, rvbsSolid, 50},       {20, 10, rvbsSolid, 1000},    {1000, 1000, rvbsDiagonals, 10},
  };
  for (const TFitCase& c : cases) {
    auto view = MakeView(200, 100, c.PictureW, c.PictureH);
    view->SetBackgroundStyle(c.Style);
    EXPECT_DOUBLE_EQ(view->FitZoom(), c.Zoom) << c.PictureW << "x" << c.PictureH << " style " << int(c.Style);
    view->Fit();
    EXPECT_DOUBLE_EQ(view->Zoom(), c.Zoom);
  }
  // The framed view fits to its outer size too, 4 pixels more than the client.
  auto framed = MakeView(204, 104, 400, 100);
  framed->SetBorderStyle(bsSingle);
  EXPECT_DOUBLE_EQ(framed->FitZoom(), 51);
}

TEST(RastrumViewGeometry, FitZoomOfAPictureWithoutPixelsIsOneToOne) {
  auto view = MakeView(200, 100, 10, 10);
  view->GetBitmap()->SetSize(0, 0);
  view->Update();
  EXPECT_DOUBLE_EQ(view->FitZoom(), 100);
  view->Fit();
  EXPECT_DOUBLE_EQ(view->Zoom(), 100);
}

TEST(RastrumViewGeometry, CenterPlacesASmallPictureInTheMiddle) {
  auto view = MakeView(200, 100, 101, 50);
  EXPECT_EQ(view->OffsetX(), 0);
  view->SetCenter(true);
  EXPECT_EQ(view->OffsetX(), 49); // (200 - 101) shr 1
  EXPECT_EQ(view->OffsetY(), 25);
  EXPECT_EQ(view->DrawWidth(), 101);
  view->SetZoom(300); // larger than the client: no offset
  EXPECT_EQ(view->OffsetX(), 0);
  EXPECT_EQ(view->DrawWidth(), 200);
  EXPECT_EQ(view->ZoomedWidth(), 303);
  EXPECT_EQ(view->OffsetY(), 0);
}

TEST(RastrumViewGeometry, SetZoomIgnoresNonPositiveAndEqualValues) {
  auto view = MakeView(200, 100, 50, 50);
  int changes = 0;
  view->OnViewChange = [&](void*, int) { ++changes; };
  for (double z : {0.0, -5.0, 100.0}) view->SetZoom(z);
  EXPECT_EQ(changes, 0);
  EXPECT_DOUBLE_EQ(view->Zoom(), 100);
}

TEST(RastrumViewGeometry, MaximumViewPositionsFollowTheZoomedSize) {
  struct TCase {
    double Zoom;
    int MaxX, MaxY;
  } cases[] = {{100, 200, 200}, {50, 0, 50}, {25, 0, 0}, {200, 601, 501}};
  for (const TCase& c : cases) {
    auto view = MakeView(200, 100, 400, 300);
    view->SetZoom(c.Zoom);
    int mx = -1, my = -1;
    view->GetMaxViewXY(mx, my);
    EXPECT_EQ(mx, c.MaxX) << c.Zoom;
    EXPECT_EQ(my, c.MaxY) << c.Zoom;
    view->SetViewXY(100000, -7);
    EXPECT_EQ(view->ViewX(), c.MaxX);
    EXPECT_EQ(view->ViewY(), 0);
  }
}

TEST(RastrumViewGeometry, ZoomKeepsTheCentreWithinTheOldLimits) {
  auto view = MakeView(200, 200, 1000, 1000);
  view->SetViewXY(400, 300);
  int changes = 0, last = -1;
  view->OnViewChange = [&](void*, int c) {
    ++changes;
    last = c;
  };
  // Centre bitmap point (500, 400); at 200 % it would be at 900, 700, but the
  // position is clamped with the limits of 100 % (800).
  view->SetZoom(200);
  EXPECT_EQ(view->ViewX(), 800);
  EXPECT_EQ(view->ViewY(), 700);
  EXPECT_EQ(last, 1);
  EXPECT_GE(changes, 1);
  // Zooming out keeps the centre: (900, 800) of 200 % is (450, 400).
  view->SetZoom(50);
  EXPECT_EQ(view->ViewX(), 125);
  EXPECT_EQ(view->ViewY(), 100);
}

TEST(RastrumViewGeometry, ScreenAndBitmapCoordinatesMapBothWays) {
  auto view = MakeView(200, 100, 1000, 1000);
  view->SetZoom(250);
  view->SetViewXY(10, 25);
  view->ComputeVisibleRect();
  EXPECT_EQ(view->SourceRect().Left, 4);  // Nearest(10 x 1000 / 2500)
  EXPECT_EQ(view->SourceRect().Top, 10);
  struct TCase {
    int Screen, Bitmap;
  } xs[] = {{0, 4}, {1, 4}, {2, 4}, {3, 5}, {7, 6}, {199, 83}};
  for (const TCase& c : xs) EXPECT_EQ(view->ScreenToBitmapX(c.Screen), c.Bitmap) << c.Screen;
  EXPECT_EQ(view->ScreenToBitmapY(5), 12);
  // Nearest((6 + Nearest(-4)) x 2.5)
  EXPECT_EQ(view->BitmapToScreenX(6), 5);
  EXPECT_EQ(view->BitmapToScreenY(12), 5);
  view->SetCenter(true);
  view->SetZoom(10);
  view->ComputeVisibleRect();
  EXPECT_EQ(view->OffsetX(), 50);
  EXPECT_EQ(view->ScreenToBitmapX(50), 0);
  EXPECT_EQ(view->ScreenToBitmapX(149), 990);
  EXPECT_EQ(view->BitmapToScreenX(990), 149);
}

TEST(RastrumViewGeometry, AutomaticZoomStretchesShrinksAndStopsAtOnePercent) {
  struct TCase {
    int W, H;
    bool Fit, Stretch, Shrink;
    double Zoom;
  } cases[] = {
      {50, 25, true, false, false, 400},   {50, 25, false, false, true, 100},
      {50, 25, false, true, false, 400},   {400, 100, false, false, true, 50},
      {400, 100, false, true, false, 100}, {30000, 150, true, false, false, 1},
  };
  for (const TCase& c : cases) {
    auto view = MakeView(200, 100, c.W, c.H);
    view->AutoFit = c.Fit;
    view->AutoStretch = c.Stretch;
    view->AutoShrink = c.Shrink;
    view->Update();
    EXPECT_DOUBLE_EQ(view->Zoom(), c.Zoom) << c.W << "x" << c.H;
  }
}

TEST(RastrumViewGeometry, BlankLeavesAnEmptyOnePixelPicture) {
  auto view = MakeView(200, 100, 50, 50);
  EXPECT_FALSE(view->IsEmpty());
  view->Blank();
  EXPECT_TRUE(view->IsEmpty());
  EXPECT_EQ(view->GetBitmap()->Width(), 1);
  EXPECT_FALSE(view->HasAlphaChannel());
  // A new background is no picture.
  view->SetBackground(platform::clBlue);
  EXPECT_TRUE(view->IsEmpty());

  // A picture of one pixel is a picture: fitted and drawn as any small one.
  view->AutoFit = true;
  platform::TBitmap pixel(1, 1, platform::pf24bit);
  pixel.Canvas().SetPixels(0, 0, platform::clRed);
  view->Assign(&pixel);
  EXPECT_FALSE(view->IsEmpty());
  EXPECT_DOUBLE_EQ(view->Zoom(), 10000);
  const QImage shown = viewtest::Shot(*view);
  EXPECT_EQ(viewtest::At(shown, 0, 0), 0xFF0000u);
  EXPECT_EQ(viewtest::At(shown, 99, 99), 0xFF0000u);
  EXPECT_EQ(viewtest::At(shown, 100, 50), 0x0000FFu);
  // Blanked, the view has no picture to fit: 100 percent, as before one.
  view->Blank();
  EXPECT_TRUE(view->IsEmpty());
  EXPECT_DOUBLE_EQ(view->Zoom(), 100);
}

TEST(RastrumViewGeometry, ScrollBarsScaleTheViewIntoTheirRange) {
  auto view = MakeView(200, 200, 1000, 1000);
  view->SetScrollBars(ssBoth);
  const auto bars = view->findChildren<QScrollBar*>();
  ASSERT_EQ(bars.size(), 2);
  QScrollBar* vbar = bars[0]->orientation() == Qt::Vertical ? bars[0] : bars[1];
  const int extent = view->ExtentY();
  EXPECT_LT(extent, 200);
  EXPECT_TRUE(vbar->isVisibleTo(view.get()));
  // The platform's 0..65535 with the page inside: Qt's maximum leaves the page out.
  const double scale = (extent + (1000 - extent)) / 65536.0;
  const int page = static_cast<int>(extent / scale);
  EXPECT_EQ(vbar->pageStep(), page);
  EXPECT_EQ(vbar->maximum(), 65536 - page);
  view->SetViewY(500);
  EXPECT_EQ(vbar->value(), static_cast<int>(500 / scale));

  struct TStep {
    TRvScrollCode Code;
    int Position;
    int ViewY;
  } steps[] = {{scLineDown, 0, 501}, {scLineUp, 0, 500}, {scPageDown, 0, 500 + extent},
               {scTop, 0, 0}, {scBottom, 0, 1000 - extent}, {scPosition, 6553, static_cast<int>(6553 * scale)}};
  for (const TStep& s : steps) {
    view->VScroll(s.Code, s.Position);
    EXPECT_EQ(view->ViewY(), s.ViewY) << int(s.Code);
  }
  view->VScrollBarParams().Tracking = false;
  view->VScroll(scTrack, 0);
  EXPECT_NE(view->ViewY(), 0);
  view->VScrollBarParams().Tracking = true;
  view->VScrollBarParams().LineStep = 4;
  view->SetZoom(300); // steps scale with the whole zoom factor
  const int before = view->ViewY();
  vbar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(view->ViewY(), before + 12);
  EXPECT_EQ(vbar->value(), static_cast<int>(view->ViewY() / ((view->ExtentY() + 3000.0 + 1 - view->ExtentY()) / 65536.0)));
}

TEST(RastrumViewGeometry, WheelPartsAddUpToWholeNotches) {
  struct TCase {
    std::vector<int> Deltas;
    double Zoom;
  } cases[] = {{{60}, 100}, {{60, 60}, 92}, {{-120}, 108}, {{40, 40, 40, 120}, 85}, {{240}, 85}};
  for (const TCase& c : cases) {
    auto view = MakeView(200, 100, 50, 50);
    for (int d : c.Deltas) view->MouseWheel(d, 10, 10);
    EXPECT_NEAR(view->Zoom(), c.Zoom, 1e-9);
  }
  auto scroll = MakeView(200, 100, 400, 400);
  scroll->MouseWheelParams().Action = 1;
  scroll->MouseWheelParams().Variation = 1;
  scroll->MouseWheel(-120, 0, 0); // towards the user: down by 8 % of 100
  EXPECT_EQ(scroll->ViewY(), 8);
  scroll->MouseWheelParams().Variation = 0;
  scroll->MouseWheelParams().InvertDirection = true;
  scroll->MouseWheel(-120, 0, 0);
  EXPECT_EQ(scroll->ViewY(), 0);
}

TEST(RastrumViewGeometry, TouchpadWheelEventsZoomOnlyByWholeNotches) {
  auto view = MakeView(200, 100, 50, 50);
  auto wheel = [&](QPoint Delta) {
    QWheelEvent e(QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)), QPoint(), Delta, Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.get(), &e);
    return e.isAccepted();
  };
  EXPECT_TRUE(wheel({0, 60}));
  EXPECT_DOUBLE_EQ(view->Zoom(), 100) << "half a notch waits for the other half";
  EXPECT_TRUE(wheel({0, 60}));
  EXPECT_DOUBLE_EQ(view->Zoom(), 92);
  EXPECT_FALSE(wheel({120, 0})) << "a sideways turn is left to the parent";
  EXPECT_DOUBLE_EQ(view->Zoom(), 92);
}

TEST(RastrumViewGeometry, TheFirstViewSetsTheLibraryResolutionFromTheScreen) {
  auto view = MakeView(20, 20, 2, 2);
  EXPECT_GT(RvDefaultDpiX, 0);
  EXPECT_GT(RvDefaultDpiY, 0);
  EXPECT_EQ(view->DpiX(), RvDefaultDpiX);
}

} // namespace
