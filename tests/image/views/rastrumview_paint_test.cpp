#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "image/io/rastrumio.h"
#include "image/views/rvrender.h"
#include "support/tempfolder.h"
#include "viewtest_support.h"

namespace {

using namespace rv;
using viewtest::At;
using viewtest::MakeView;
using viewtest::MarkedPixel;
using viewtest::Rgb;
using viewtest::Shot;

const QRgb kLime = 0x00FF00;

struct TRenderCase {
  int ClientW, ClientH, PictureW, PictureH;
  double Zoom;
  int ViewX, ViewY;
  // Picture pixel shown at client (x, y), or -1 for the background.
  std::function<QPoint(int, int)> Source;
};

TEST(RastrumViewPaint, PicturePixelsLandWhereTheGeometrySays) {
  const TRenderCase cases[] = {
      {64, 48, 40, 30, 100, 0, 0, [](int x, int y) { return QPoint(x, y); }},
      {100, 80, 40, 30, 200, 0, 0, [](int x, int y) { return QPoint(x / 2, y / 2); }},
      {64, 48, 40, 30, 50, 0, 0, [](int x, int y) { return QPoint(2 * x, 2 * y); }},
      {40, 30, 40, 30, 200, 20, 10, [](int x, int y) { return QPoint(10 + x / 2, 5 + y / 2); }},
      {30, 20, 60, 50, 100, 17, 9, [](int x, int y) { return QPoint(17 + x, 9 + y); }},
  };
  for (const TRenderCase& c : cases) {
    for (bool vector : {true, false}) {
      RvRenderSetVectorPaths(vector);
      auto view = MakeView(c.ClientW, c.ClientH, c.PictureW, c.PictureH);
      view->SetZoom(c.Zoom);
      view->SetViewXY(c.ViewX, c.ViewY);
      const QImage shot = Shot(*view);
      for (int y = 0; y < c.ClientH; ++y)
        for (int x = 0; x < c.ClientW; ++x) {
          const QPoint s = c.Source(x, y);
          const bool inside = s.x() < c.PictureW && s.y() < c.PictureH;
          const QRgb want = inside ? Rgb(MarkedPixel(s.x(), s.y())) : kLime;
          ASSERT_EQ(At(shot, x, y), want) << "zoom " << c.Zoom << " at " << x << "," << y;
        }
    }
  }
  RvRenderSetVectorPaths(true);
}

TEST(RastrumViewPaint, ACentredPictureHasBackgroundOnEverySide) {
  auto view = MakeView(60, 40, 20, 10);
  view->SetCenter(true);
  const QImage shot = Shot(*view);
  EXPECT_EQ(At(shot, 19, 15), kLime);
  EXPECT_EQ(At(shot, 20, 15), Rgb(MarkedPixel(0, 0)));
  EXPECT_EQ(At(shot, 39, 24), Rgb(MarkedPixel(19, 9)));
  EXPECT_EQ(At(shot, 40, 24), kLime);
  EXPECT_EQ(At(shot, 20, 25), kLime);
  EXPECT_EQ(At(shot, 20, 14), kLime);
}

struct TBackgroundCase {
  TRvBackgroundStyle Style;
  int X, Y;
  QRgb Color;
};

TEST(RastrumViewPaint, EachBackgroundStyleDrawsItsPattern) {
  const QRgb navy = 0x000080, contrast = 0xFFFF7F, white = 0xFFFFFF;
  const TBackgroundCase cases[] = {
      {rvbsSolid, 5, 5, navy},          {rvbsHorizontal, 5, 8, navy},     {rvbsHorizontal, 5, 1, white},
      {rvbsVertical, 16, 5, navy},      {rvbsVertical, 1, 5, white},      {rvbsFDiagonal, 11, 3, navy},
      {rvbsFDiagonal, 3, 4, white},     {rvbsBDiagonal, 0, 7, navy},      {rvbsBDiagonal, 1, 1, white},
      {rvbsCross, 0, 5, navy},          {rvbsCross, 5, 8, navy},          {rvbsCross, 5, 5, white},
      {rvbsDiagCross, 3, 3, navy},      {rvbsDiagCross, 3, 4, navy},      {rvbsDiagCross, 3, 5, white},
      {rvbsChessboard, 0, 0, navy},     {rvbsChessboard, 16, 0, contrast}, {rvbsChessboard, 0, 16, contrast},
      {rvbsChessboard, 31, 31, navy},   {rvbsDiagonals, 0, 0, contrast},  {rvbsDiagonals, 39, 0, contrast},
      {rvbsDiagonals, 20, 5, navy},     {rvbsCropped, 0, 0, navy},        {rvbsCropShadow, 39, 39, navy},
  };
  for (const TBackgroundCase& c : cases) {
    auto view = MakeView(40, 40, 1, 1);
    view->SetBackground(platform::clNavy);
    view->Blank();
    view->SetBackgroundStyle(c.Style);
    EXPECT_EQ(At(Shot(*view), c.X, c.Y), c.Color) << "style " << int(c.Style) << " at " << c.X << "," << c.Y;
  }
}

TEST(RastrumViewPaint, CroppedStylesFrameOrShadowThePicture) {
  auto view = MakeView(40, 40, 10, 10);
  view->SetBackground(platform::clNavy);
  view->SetCenter(true);
  view->SetBackgroundStyle(rvbsCropped);
  QImage shot = Shot(*view);
  // The picture lies at 15..24; the sunken edge takes two pixels around it.
  EXPECT_EQ(At(shot, 12, 20), 0x000080u);
  EXPECT_EQ(At(shot, 13, 20), Rgb(platform::ColorToQRgb(platform::clBtnShadow)));
  EXPECT_EQ(At(shot, 26, 20), Rgb(platform::ColorToQRgb(platform::clBtnHighlight)));
  EXPECT_EQ(At(shot, 15, 15), Rgb(MarkedPixel(0, 0)));
  view->SetBackgroundStyle(rvbsCropShadow);
  shot = Shot(*view);
  const auto level = [](int i) { return static_cast<int>(std::exp(i / 5.0) / std::exp(1.0) * 255) * 0x010101u; };
  EXPECT_EQ(At(shot, 25, 22), level(0));
  EXPECT_EQ(At(shot, 29, 22), level(4));
  EXPECT_EQ(At(shot, 22, 27), level(2));
  EXPECT_EQ(At(shot, 27, 17), 0x000080u); // above the shadow's start
}

TEST(RastrumViewPaint, AlphaBlendsThePictureOverTheBackground) {
  auto view = MakeView(10, 10, 4, 1);
  view->SetBackground(platform::clWhite);
  platform::TBitmap black(4, 1, platform::pf24bit);
  view->Assign(&black);
  TRvMask* alpha = view->GetAlphaChannel();
  const int values[4] = {0, 128, 255, 64};
  for (int x = 0; x < 4; ++x) alpha->SetPixel(x, 0, values[x]);
  EXPECT_EQ(At(Shot(*view), 1, 0), 0x000000u) << "shown opaque while the display is off";
  view->SetEnableAlphaChannel(true);
  const QImage shot = Shot(*view);
  const int gray[4] = {255, 127, 0, 191};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(At(shot, x, 0), gray[x] * 0x010101u) << x;
  EXPECT_EQ(At(shot, 5, 5), 0xFFFFFFu);
  // An entirely opaque mask shows the picture itself.
  alpha->Fill(255);
  view->Update();
  EXPECT_EQ(At(Shot(*view), 1, 0), 0x000000u);
}

TEST(RastrumViewPaint, AZoomFilterKeepsTheTransparency) {
  auto view = MakeView(40, 40, 20, 20);
  view->SetBackground(platform::clWhite);
  platform::TBitmap black(20, 20, platform::pf24bit);
  view->Assign(&black);
  view->GetAlphaChannel()->Fill(128);
  view->SetEnableAlphaChannel(true);
  view->SetZoomFilter(rfTriangle);
  view->SetZoom(150);
  while (view->DelayedFilterCountdown() > 0) view->SelectionTimerTick();
  const QImage shot = Shot(*view);
  EXPECT_EQ(At(shot, 15, 15), 0x7F7F7Fu);
  EXPECT_EQ(At(shot, 29, 29), 0x7F7F7Fu);
  EXPECT_EQ(At(shot, 35, 35), 0xFFFFFFu);
}

TEST(RastrumViewPaint, OneBitPicturesShowSetBitsWhite) {
  auto view = MakeView(10, 10, 2, 2);
  platform::TBitmap bits(8, 1, platform::pf1bit);
  bits.ScanLine(0)[0] = 0xA0; // pixels 0 and 2 set
  view->Assign(&bits);
  QImage shot = Shot(*view);
  EXPECT_EQ(At(shot, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(At(shot, 1, 0), 0x000000u);
  EXPECT_EQ(At(shot, 2, 0), 0xFFFFFFu);
  view->SetBackground(platform::clBlack);
  view->GetAlphaChannel()->SetPixel(0, 0, 128);
  view->SetEnableAlphaChannel(true);
  shot = Shot(*view);
  EXPECT_EQ(At(shot, 0, 0), 0x7F7F7Fu);
}

TEST(RastrumViewPaint, ThePixelGridInvertsPixelEdgesFromZoom400) {
  auto view = MakeView(16, 16, 4, 4);
  view->DisplayGrid = true;
  view->SetZoom(400);
  QImage shot = Shot(*view);
  const QRgb inverted = ~MarkedPixel(1, 0) & 0xFFFFFFu;
  EXPECT_EQ(At(shot, 4, 1), inverted);
  EXPECT_EQ(At(shot, 5, 1), Rgb(MarkedPixel(1, 0)));
  EXPECT_EQ(At(shot, 5, 4), ~MarkedPixel(1, 1) & 0xFFFFFFu);
  view->SetZoom(300);
  shot = Shot(*view);
  // 14-bit steps: column 1 starts at 4 (3 x 5461 shr 14 is still 0).
  EXPECT_EQ(At(shot, 3, 1), Rgb(MarkedPixel(0, 0)));
  EXPECT_EQ(At(shot, 4, 1), Rgb(MarkedPixel(1, 0)));
}

TEST(RastrumViewPaint, AZoomFilterWaitsTwoTimerTicks) {
  auto view = MakeView(60, 60, 40, 40);
  platform::TBitmap stripes(40, 40, platform::pf24bit);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      std::memset(stripes.ScanLine(y) + 3 * x, x % 2 ? 255 : 0, 3);
  view->Assign(&stripes);
  view->SetZoomFilter(rfTriangle);
  // Leaving 100 % paints filtered at once; later changes wait.
  view->SetZoom(150);
  auto twoLevels = [](const QImage& shot) {
    for (int x = 0; x < 60; ++x)
      if (const QRgb c = At(shot, x, 10); c != 0 && c != 0xFFFFFF) return false;
    return true;
  };
  EXPECT_FALSE(twoLevels(Shot(*view)));
  view->SetZoom(170);
  EXPECT_TRUE(twoLevels(Shot(*view))) << "first paint unfiltered";
  view->SelectionTimerTick();
  EXPECT_TRUE(twoLevels(Shot(*view)));
  view->SelectionTimerTick();
  EXPECT_FALSE(twoLevels(Shot(*view))) << "filtered after the second tick";
}

TEST(RastrumViewPaint, EmptyPicturesShowOnlyTheBackground) {
  auto view = MakeView(20, 20, 5, 5);
  view->Blank();
  EXPECT_EQ(At(Shot(*view), 0, 0), kLime);
  view->GetBitmap()->SetSize(0, 0);
  view->Update();
  EXPECT_EQ(At(Shot(*view), 0, 0), kLime);
  view->SetZoomFilter(rfLanczos3);
  EXPECT_EQ(At(Shot(*view), 10, 10), kLime);
}

TEST(RastrumViewPaint, TheBackBufferHasTheClientsSizeAtAnyZoom) {
  auto view = MakeView(120, 80, 600, 400);
  for (double zoom : {100.0, 3200.0, 5.0}) {
    view->SetZoom(zoom);
    view->RenderBackBuffer();
    EXPECT_EQ(view->BackBuffer().Width(), 120);
    EXPECT_EQ(view->BackBuffer().Height(), 80);
  }
}

TEST(RastrumViewPaint, AScrolledBackBufferEqualsAFreshRender) {
  for (double zoom : {100.0, 200.0, 37.0, 300.0}) {
    auto view = MakeView(90, 70, 300, 200);
    view->SetZoom(zoom);
    view->SetViewXY(20, 20);
    view->RenderBackBuffer();
    for (QPoint step : {QPoint(7, 3), QPoint(-5, 0), QPoint(0, -11), QPoint(1, 1)}) {
      view->SetViewXY(view->ViewX() + step.x(), view->ViewY() + step.y());
      view->RenderBackBuffer();
      const QImage scrolled = view->BackBuffer().Image().copy();
      view->Update();
      view->RenderBackBuffer();
      ASSERT_EQ(scrolled, view->BackBuffer().Image()) << "zoom " << zoom << " step " << step.x() << "," << step.y();
    }
  }
}

TEST(RastrumViewPaint, AScrollGivesAFreshRendersPixelsAndRendersOnlyStripsWhereTheMapsLineUp) {
  // At every zoom the scrolled back buffer is what a full render at the new
  // place gives, pixel for pixel; at the zooms whose source map moves with
  // the view (1:1 and whole shrink factors) only the uncovered strips
  // are rendered.
  const int w = 120, h = 90;
  for (double zoom : {37.0, 333.0, 71.3, 100.0, 50.0, 200.0, 17.0, 1250.0}) {
    auto view = MakeView(w, h, 1400, 1040);
    view->SetZoom(zoom);
    view->SetViewXY(40, 60);
    view->RenderBackBuffer();
    int shifted = 0, shifts = 0;
    for (QPoint step : {QPoint(0, 86), QPoint(0, -86), QPoint(13, 0), QPoint(-7, -5), QPoint(1, 0), QPoint(0, 1),
                        QPoint(-30, 41), QPoint(119, 0)}) {
      view->SetViewXY(view->ViewX() + step.x(), view->ViewY() + step.y());
      view->RenderBackBuffer();
      const std::int64_t rendered = view->RenderedPixels();
      const QImage scrolled = view->BackBuffer().Image().copy();
      view->Update();
      view->RenderBackBuffer();
      ASSERT_EQ(view->RenderedPixels(), w * h);
      ASSERT_EQ(scrolled, view->BackBuffer().Image()) << "zoom " << zoom << " step " << step.x() << "," << step.y();
      // At most the strips of one step's size (a zoomed pixel more above 100 %).
      const int slack = zoom > 100 ? static_cast<int>(std::ceil(zoom / 100)) : 0;
      const std::int64_t strips = std::int64_t{std::abs(step.y()) + slack} * w + std::int64_t{std::abs(step.x()) + slack} * h;
      const bool linesUp = zoom == 100.0 || zoom == 50.0;
      if (linesUp && std::abs(step.x()) < w - slack && std::abs(step.y()) < h - slack) {
        EXPECT_LE(rendered, strips) << "zoom " << zoom << " step " << step.x() << "," << step.y();
        shifted += rendered < w * h;
        ++shifts;
      }
    }
    EXPECT_EQ(shifted, shifts) << "zoom " << zoom;
    if (zoom == 100.0) EXPECT_GT(shifts, 0);
  }
}

TEST(RastrumViewPaint, ATransitionShowsItsFramesThenTheNewPicture) {
  auto view = MakeView(30, 20, 30, 20);
  std::int64_t now = 0;
  view->Transition().Clock = [&] { return now; };
  view->PrepareTransition();
  platform::TBitmap red(30, 20, platform::pf24bit);
  red.Canvas().Brush.Color = platform::clRed;
  red.Canvas().FillRect(platform::Rect(0, 0, 30, 20));
  view->Assign(&red);
  view->RunTransition(rvttLeftRight1, 400);
  ASSERT_TRUE(view->TransitionRunning());
  EXPECT_EQ(view->UpdateLockCount(), 1);
  view->Transition().Step(); // the first frame shows the old picture
  EXPECT_EQ(At(Shot(*view), 29, 5), Rgb(MarkedPixel(29, 5)));
  now = 200;
  view->Transition().Step();
  view->Transition().Step(); // half-way: the left half is new
  QImage shot = Shot(*view);
  EXPECT_EQ(At(shot, 2, 5), 0xFF0000u);
  EXPECT_EQ(At(shot, 29, 5), Rgb(MarkedPixel(29, 5)));
  now = 400;
  view->Transition().Step();
  EXPECT_FALSE(view->TransitionRunning());
  EXPECT_EQ(view->UpdateLockCount(), 0);
  EXPECT_EQ(At(Shot(*view), 29, 5), 0xFF0000u);
}

TEST(RastrumViewPaint, BetweenLoadAndTransitionTheOldPictureStays) {
  testing_support::TTempFolder dir;
  const std::string red = dir.File("red.bmp"), blue = dir.File("blue.bmp");
  QImage picture(30, 20, QImage::Format_RGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(QString::fromStdString(red)));
  picture.fill(Qt::blue);
  ASSERT_TRUE(picture.save(QString::fromStdString(blue)));
  auto view = MakeView(30, 20, 30, 20);
  std::int64_t now = 0;
  view->Transition().Clock = [&] { return now; };
  const QRgb old = Rgb(MarkedPixel(29, 5));

  // As the main window does it: capture, load through the view's own
  // component (which updates the view), then a paint forced from elsewhere.
  view->PrepareTransition();
  view->GetIO()->LoadFromFile(red);
  ASSERT_EQ(view->GetBitmap()->Width(), 30);
  EXPECT_EQ(At(Shot(*view), 29, 5), old);
  EXPECT_EQ(At(Shot(*view), 2, 5), Rgb(MarkedPixel(2, 5)));
  view->RunTransition(rvttCrossDissolve, 400);
  ASSERT_TRUE(view->TransitionRunning());
  EXPECT_FALSE(view->HoldingTransitionStart());
  EXPECT_EQ(view->UpdateLockCount(), 1);
  // The first frame is the old picture, before and after the first tick.
  EXPECT_EQ(At(Shot(*view), 29, 5), old);
  view->Transition().Step();
  EXPECT_EQ(At(Shot(*view), 29, 5), old);
  now = 400;
  view->Transition().Step();
  view->Transition().Step();
  EXPECT_FALSE(view->TransitionRunning());
  EXPECT_EQ(view->UpdateLockCount(), 0);
  EXPECT_EQ(At(Shot(*view), 29, 5), 0xFF0000u);

  // Without an effect the new picture shows as soon as RunTransition comes.
  view->PrepareTransition();
  view->GetIO()->LoadFromFile(blue);
  EXPECT_EQ(At(Shot(*view), 29, 5), 0xFF0000u);
  view->RunTransition(rvttNone, 400);
  EXPECT_EQ(view->UpdateLockCount(), 0);
  EXPECT_EQ(At(Shot(*view), 29, 5), 0x0000FFu);

  // A load that never reaches RunTransition holds the view only until the
  // event loop turns.
  view->PrepareTransition();
  view->GetIO()->LoadFromFile(red);
  view->PrepareTransition(); // a second try keeps the first capture
  EXPECT_EQ(view->UpdateLockCount(), 1);
  EXPECT_EQ(At(Shot(*view), 29, 5), 0x0000FFu);
  QCoreApplication::processEvents();
  EXPECT_FALSE(view->HoldingTransitionStart());
  EXPECT_EQ(view->UpdateLockCount(), 0);
  EXPECT_EQ(At(Shot(*view), 29, 5), 0xFF0000u);
}

TEST(RastrumViewPaint, PaintingReportsThroughOnPaint) {
  auto view = MakeView(20, 20, 5, 5);
  int paints = 0;
  view->OnPaint = [&](void* s) {
    EXPECT_EQ(s, view.get());
    ++paints;
  };
  Shot(*view);
  EXPECT_EQ(paints, 1);
}

TEST(RastrumViewPaint, AFailureWhilePaintingStaysInsideThePaint) {
  auto view = MakeView(20, 20, 5, 5);
  const std::function<void()> failures[] = {[] { throw std::runtime_error("handler failed"); }, [] { throw 7; }};
  for (const auto& fail : failures) {
    view->OnPaint = [&](void*) { fail(); };
    QImage shot;
    EXPECT_NO_THROW(shot = Shot(*view));
    EXPECT_EQ(At(shot, 1, 2), Rgb(MarkedPixel(1, 2))) << "what was painted before the failure stays";
  }
  // The next paint starts afresh.
  view->OnPaint = nullptr;
  platform::TBitmap other;
  viewtest::FillMarked(other, 5, 5);
  other.Canvas().SetPixels(0, 0, platform::clWhite);
  view->Assign(&other);
  EXPECT_EQ(At(Shot(*view), 0, 0), 0xFFFFFFu);
}

} // namespace
