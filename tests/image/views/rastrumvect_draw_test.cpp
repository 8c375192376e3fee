#include <QPainter>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>
#include <tuple>

#include "image/views/rastrumvect.h"
#include "image/views/rvrender.h"
#include "viewtest_support.h"

namespace {

using namespace rv;
using viewtest::At;

// A shown layer over a white picture, or over a picture whose right half
// from HalfAt on is black.
std::unique_ptr<TRastrumVect> WhiteLayer(int W, int H, int HalfAt = -1) {
  auto view = viewtest::MakeView<TRastrumVect>(W, H, W, H);
  platform::TBitmap picture(W, H, platform::pf24bit);
  picture.Canvas().Brush.Color = platform::clWhite;
  picture.Canvas().FillRect(platform::Rect(0, 0, W, H));
  if (HalfAt >= 0) {
    picture.Canvas().Brush.Color = platform::clBlack;
    picture.Canvas().FillRect(platform::Rect(HalfAt, 0, W, H));
  }
  view->Assign(&picture);
  return view;
}

TRvVObject Make(TRvVObjKind Kind, int L, int T, int R, int B) {
  TRvVObject o;
  o.Kind = Kind;
  o.Left = L, o.Top = T, o.Right = R, o.Bottom = B;
  o.PenColor = platform::clBlack;
  return o;
}

struct TBox {
  int L, T, R, B;
};

int CountColumn(const QImage& S, int X, int Y1, int Y2, QRgb C) {
  int n = 0;
  for (int y = Y1; y <= Y2; ++y) n += At(S, X, y) == C;
  return n;
}
int CountRow(const QImage& S, int Y, int X1, int X2, QRgb C) {
  int n = 0;
  for (int x = X1; x <= X2; ++x) n += At(S, x, Y) == C;
  return n;
}
int CountIn(const QImage& S, QRect R, const std::function<bool(QRgb)>& Is) {
  int n = 0;
  for (int y = R.top(); y <= R.bottom(); ++y)
    for (int x = R.left(); x <= R.right(); ++x) n += Is(At(S, x, y));
  return n;
}
bool Dark(QRgb C) { return qRed(C) < 128 && qGreen(C) < 128 && qBlue(C) < 128; }

// Each kind at 100 % and 200 %: pens widen with the zoom, shapes land on
// their zoomed places.
TEST(RastrumVectDraw, EveryKindAtTwoZooms) {
  for (const int z : {1, 2}) {
    auto view = WhiteLayer(240, 200);
    TRvVObject line = Make(rvokLine, 10, 10, 50, 10);
    TRvVObject box = Make(rvokBox, 10, 20, 40, 40);
    TRvVObject solid = Make(rvokBox, 50, 20, 70, 40);
    solid.BrushStyle = platform::bsSolid;
    solid.BrushColor = platform::clRed;
    TRvVObject ellipse = Make(rvokEllipse, 10, 50, 50, 90);
    TRvVObject arc = Make(rvokArc, 60, 50, 100, 90);
    arc.ArcEnd = std::numbers::pi / 2;
    TRvVObject gauge2 = Make(rvokAngle, 0, 0, 0, 0);
    gauge2.AnglePoints = {platform::TPoint{70, 10}, platform::TPoint{100, 10},
                          platform::TPoint{RvNotPlaced, RvNotPlaced}};
    for (const TRvVObject& o : {line, box, solid, ellipse, arc, gauge2}) view->AddNewObject(o);
    view->SetZoom(100.0 * z);
    view->SetViewXY(0, 0);
    const QImage s = viewtest::Shot(*view);
    SCOPED_TRACE(z);
    EXPECT_EQ(view->DrawnObjectsCount(), 6);
    EXPECT_EQ(CountColumn(s, 30 * z, 10 * z - 4, 10 * z + 4, 0), z) << "line";
    EXPECT_EQ(CountRow(s, 30 * z, 10 * z - 4, 10 * z + 4, 0), z) << "box: left edge";
    EXPECT_EQ(At(s, 25 * z, 30 * z), 0xFFFFFFu) << "box: clear inside";
    EXPECT_EQ(At(s, 60 * z, 30 * z), 0xFF0000u) << "solid box: filled";
    EXPECT_EQ(CountRow(s, 70 * z, 10 * z - 4, 10 * z + 4, 0), z) << "ellipse: left";
    EXPECT_EQ(At(s, 30 * z, 70 * z), 0xFFFFFFu) << "ellipse: inside";
    // The arc runs counter-clockwise on the screen from 3 o'clock to
    // 6 o'clock: over the top and the left, not the bottom-right.
    EXPECT_GE(CountColumn(s, 80 * z, 50 * z - 4, 50 * z + 4, 0), 1) << "arc: top";
    EXPECT_GE(CountRow(s, 70 * z, 60 * z - 4, 60 * z + 4, 0), 1) << "arc: left";
    const int d = static_cast<int>(20 * z * std::sqrt(0.5));
    EXPECT_EQ(CountIn(s, QRect(80 * z + d - 4, 70 * z + d - 4, 9, 9), Dark), 0) << "arc: bottom-right";
    EXPECT_EQ(CountColumn(s, 85 * z, 10 * z - 4, 10 * z + 4, 0), 1) << "gauge: one segment";
    EXPECT_EQ(CountIn(s, QRect(100 * z + 2, 10 * z + 2, 30, 16), Dark), 0) << "gauge: no text yet";
  }
}

TEST(RastrumVectDraw, PenWidthsFollowTheZoomUnlessAskedNotTo) {
  struct TCase {
    double Zoom;
    int PenWidth;
    bool Follow;
    int Thickness;
  } cases[] = {{100, 3, true, 3}, {200, 3, true, 6}, {50, 3, true, 2}, {200, 3, false, 3}, {25, 1, true, 1}};
  for (const TCase& c : cases) {
    auto view = WhiteLayer(200, 160);
    TRvVObject line = Make(rvokLine, 10, 40, 150, 40);
    line.PenWidth = c.PenWidth;
    view->AddNewObject(line);
    view->SetZoomObjectsWidth(c.Follow);
    view->SetZoom(c.Zoom);
    view->SetViewXY(0, 0);
    const QImage s = viewtest::Shot(*view);
    const int y = static_cast<int>(40 * c.Zoom / 100), x = static_cast<int>(80 * c.Zoom / 100);
    EXPECT_EQ(CountColumn(s, x, y - 8, y + 8, 0), c.Thickness) << c.Zoom << " " << c.PenWidth;
  }
}

TEST(RastrumVectDraw, ArrowHeadsPointOutwardsOrInwards) {
  struct TCase {
    TRvArrowShape Shape;
    int NearEnd, FarFromEnd; // black pixels across the line 2 and 18 pixels from the end
  } cases[] = {{rvasTipAtEnd, 1, 9}, {rvasBaseAtEnd, 9, 1}, {rvasNone, 1, 1}};
  for (const TCase& c : cases) {
    auto view = WhiteLayer(120, 100);
    TRvVObject line = Make(rvokLine, 10, 50, 90, 50);
    line.EndShape = c.Shape;
    line.BrushStyle = platform::bsSolid;
    line.BrushColor = platform::clBlack;
    view->AddNewObject(line);
    const QImage s = viewtest::Shot(*view);
    EXPECT_NEAR(CountColumn(s, 88, 40, 60, 0), c.NearEnd, 1) << c.Shape;
    EXPECT_NEAR(CountColumn(s, 72, 40, 60, 0), c.FarFromEnd, 1) << c.Shape;
  }
}

TEST(RastrumVectDraw, BitmapsStretchByFixedStepsAndBlendThroughTheirMask) {
  auto view = WhiteLayer(200, 120, 100);
  // Four columns of gray levels, the mask of each row a weight.
  platform::TBitmap pixels(4, 4, platform::pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) std::memset(pixels.ScanLine(y) + 3 * x, 40 * x, 3);
  TRvMask mask;
  mask.Allocate(4, 4, 8);
  const std::uint8_t weights[4] = {128, 255, 0, 64};
  for (int y = 0; y < 4; ++y) std::memset(mask.ScanLine(y), weights[y], 4);
  TRvVObject over = Make(rvokBitmap, 10, 10, 13, 13);
  const int a = view->AddNewObject(over);
  view->SetObjBitmap(a, &pixels, &mask);
  platform::TBitmap white(4, 4, platform::pf24bit);
  std::memset(white.ScanLine(0), 255, static_cast<std::size_t>(white.Image().sizeInBytes()));
  const int b = view->AddNewObject(Make(rvokBitmap, 110, 10, 113, 13));
  view->SetObjBitmap(b, &white, &mask);
  const int c = view->AddNewObject(Make(rvokBitmap, 10, 30, 13, 31));
  view->SetObjBitmap(c, &pixels, nullptr);
  QImage s = viewtest::Shot(*view);
  // Column 0 is black over white: dst + ((src - dst) x m x 1024) >> 18.
  struct TCase {
    int X, Y;
    int Level;
  } cases[] = {{10, 10, 127}, {10, 11, 0},   {10, 12, 255}, {10, 13, 191}, {13, 10, 120 + 67},
               {110, 10, 127}, {110, 11, 254}, {110, 12, 0},  {110, 13, 63},  {12, 30, 80}};
  for (const TCase& k : cases) EXPECT_EQ(qRed(At(s, k.X, k.Y)), k.Level) << k.X << "," << k.Y;
  // At 200 % the box runs from the first to one past the last picture point:
  // 7 client columns for 4 source columns, stepped 4 x 16384 / 7 at a time.
  view->SetZoom(200);
  view->SetViewXY(0, 0);
  s = viewtest::Shot(*view);
  const int columns[] = {0, 0, 1, 1, 2, 2, 3};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(qRed(At(s, 20 + i, 60)), 40 * columns[i]) << i;
  EXPECT_EQ(qRed(At(s, 27, 60)), 255) << "past the box";
  // A filter resamples first: a constant picture stays constant.
  platform::TBitmap red(4, 4, platform::pf24bit);
  red.Canvas().Brush.Color = platform::clRed;
  red.Canvas().FillRect(platform::Rect(0, 0, 4, 4));
  const int d = view->AddNewObject(Make(rvokBitmap, 40, 40, 43, 43));
  view->SetObjBitmap(d, &red, nullptr);
  view->SetBitmapResampleFilter(rfTriangle);
  s = viewtest::Shot(*view);
  for (int x = 80; x <= 86; ++x) EXPECT_EQ(At(s, x, 83), 0xFF0000u) << x;
  const int e = view->AddNewObject(Make(rvokBitmap, 5, 5, 6, 6));
  view->SetObjBitmapIndex(e, -1);
  view->Update();
  s = viewtest::Shot(*view);
  EXPECT_EQ(At(s, 11, 11), 0u) << "no bitmap: a frame with its diagonals";
}

// The vector path of the blend gives the plain loop's pixels, stretched
// both ways, at any width (eight at a time and the rest).
TEST(RastrumVectDraw, TheVectorBlendEqualsThePlainOne) {
  platform::TBitmap pixels(37, 23, platform::pf24bit);
  TRvMask mask;
  mask.Allocate(37, 23, 8);
  std::uint32_t seed = 5;
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37 * 3; ++x) pixels.ScanLine(y)[x] = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    for (int x = 0; x < 37; ++x) mask.ScanLine(y)[x] = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  }
  QImage shots[2];
  for (const bool vector : {false, true}) {
    auto view = viewtest::MakeView<TRastrumVect>(160, 120, 160, 120);
    const TBox boxes[] = {{3, 4, 40, 27}, {50, 10, 150, 110}, {20, 60, 30, 70}};
    for (const TBox& b : boxes) view->SetObjBitmap(view->AddNewObject(Make(rvokBitmap, b.L, b.T, b.R, b.B)), &pixels, &mask);
    RvRenderSetVectorPaths(vector);
    view->Update();
    shots[vector] = viewtest::Shot(*view);
  }
  RvRenderSetVectorPaths(true);
  EXPECT_EQ(shots[0], shots[1]);
}

TEST(RastrumVectDraw, TextsSitInTheirBoxInThePenColour) {
  auto view = WhiteLayer(200, 100);
  TRvVObject text = Make(rvokText, 20, 20, 120, 50);
  text.Text = "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";
  text.PenColor = platform::clRed;
  text.Font = view->ObjectAt(-1)->Font;
  text.Font->lfHeight = -16;
  view->AddNewObject(text);
  auto reddish = [](QRgb C) { return qRed(C) > 200 && qGreen(C) < 100 && qBlue(C) < 100; };
  QImage s = viewtest::Shot(*view);
  EXPECT_GT(CountIn(s, QRect(22, 22, 97, 27), reddish), 100);
  EXPECT_EQ(CountIn(s, QRect(122, 20, 60, 31), reddish), 0) << "clipped to the box";
  EXPECT_EQ(CountIn(s, QRect(22, 22, 97, 5), reddish), 0) << "centred: nothing near the top";
  // Without a text nothing is drawn, not even the box.
  view->ObjectAt(0)->Text.reset();
  view->Update();
  s = viewtest::Shot(*view);
  EXPECT_EQ(CountIn(s, QRect(15, 15, 110, 40), reddish), 0);
}

TEST(RastrumVectDraw, RulersAndGaugesCarryTheirLabels) {
  auto view = WhiteLayer(200, 160);
  TRvVObject ruler = Make(rvokRuler, 20, 40, 180, 40);
  view->AddNewObject(ruler);
  TRvVObject graduated = Make(rvokRuler, 20, 100, 120, 100);
  graduated.RulerType = rvrtGraduated;
  graduated.RulerUnit = rvuCENTIMETERS;
  view->SetDPI(254, 254);
  view->AddNewObject(graduated);
  TRvVObject gauge = Make(rvokAngle, 0, 0, 0, 0);
  gauge.AnglePoints = {platform::TPoint{160, 140}, platform::TPoint{130, 140}, platform::TPoint{130, 110}};
  view->AddNewObject(gauge);
  const QImage s = viewtest::Shot(*view);
  EXPECT_EQ(CountRow(s, 40, 20, 179, 0), 160) << "the ruler's line";
  EXPECT_GT(CountIn(s, QRect(60, 20, 80, 18), Dark), 20) << "its length above the middle";
  EXPECT_EQ(CountIn(s, QRect(24, 20, 26, 15), Dark), 0);
  // Graduated in centimetres at 254 dpi: a tick every tenth (10 pixels),
  // long at whole units, middle-sized at halves; lengths from the line.
  EXPECT_EQ(CountColumn(s, 20, 100, 113, 0), 12);
  EXPECT_EQ(CountColumn(s, 70, 100, 113, 0), 8);
  EXPECT_EQ(CountColumn(s, 30, 100, 113, 0), 6);
  EXPECT_EQ(CountColumn(s, 35, 100, 113, 0), 1);
  EXPECT_GT(CountIn(s, QRect(10, 114, 20, 20), Dark), 5) << "the label 0";
  EXPECT_GT(CountIn(s, QRect(130, 141, 60, 18), Dark), 20) << "the gauge's angle at its vertex";
}

TEST(RastrumVectDraw, GripsAndTheHintAreOverlays) {
  auto view = WhiteLayer(200, 150);
  view->AddNewObject(Make(rvokBox, 40, 40, 80, 60));
  view->SetObjectsHidden(true);
  view->SelectObject(0);
  QImage s = viewtest::Shot(*view);
  EXPECT_EQ(view->DrawnObjectsCount(), 0);
  // The grips invert what lies under them: squares at the corners, a
  // diamond at the centre.
  EXPECT_EQ(At(s, 36, 36), 0u);
  EXPECT_EQ(At(s, 84, 64), 0xFFFFFFu) << "the square's right and bottom edge lie inside";
  EXPECT_EQ(At(s, 83, 63), 0u);
  EXPECT_EQ(At(s, 60, 46), 0u) << "diamond top";
  EXPECT_EQ(At(s, 60, 50), 0xFFFFFFu) << "diamond inside";
  EXPECT_EQ(view->BackBuffer().Image().pixel(36, 36) & 0xFFFFFFu, 0xFFFFFFu) << "not in the back buffer";
  view->SetVectInteract(mviMeasureDrag);
  view->SetMeasureHintVisible(true);
  view->ShowMeasureHint(100, 100);
  const QRect hint = view->MeasureHintRect();
  ASSERT_FALSE(hint.isEmpty());
  s = viewtest::Shot(*view);
  EXPECT_EQ(At(s, hint.left() + 7, hint.top() + 8), 0xFFFF60u) << "the hint's brush";
  EXPECT_EQ(At(s, hint.left() + 6, hint.top() + 6), 0xFFFFFFu) << "its light frame";
  EXPECT_EQ(At(s, hint.right(), hint.bottom()), 0x808080u) << "its dark frame";
  EXPECT_EQ(At(s, hint.left() + 2, hint.top() + 2), 0xFFFFFFu) << "the offset from the pointer";
  // Near the client's corner the box moves inside.
  view->ShowMeasureHint(199, 149);
  EXPECT_EQ(view->MeasureHintRect().right(), 200 - 12 - 1);
  view->RemoveMeasureHint();
  EXPECT_TRUE(view->MeasureHintRect().isEmpty());
}

// Objects whose bounds miss the view cost nothing and are not drawn; what
// is drawn is the same with every object tried.
TEST(RastrumVectDraw, ObjectsOutOfViewAreNotDrawnAndCullingChangesNoPixel) {
  auto view = WhiteLayer(1800, 1500);
  view->resize(160, 120);
  int boxes = 0;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x, ++boxes) view->AddNewObject(Make(rvokBox, 300 * x + 20, 300 * y + 20, 300 * x + 60, 300 * y + 50));
  view->SetZoom(100);
  view->SetViewXY(0, 0);
  viewtest::Shot(*view);
  EXPECT_EQ(view->DrawnObjectsCount(), 1);
  view->SetViewXY(300, 280);
  viewtest::Shot(*view);
  EXPECT_EQ(view->DrawnObjectsCount(), 1);
  view->SetViewXY(100, 100);
  viewtest::Shot(*view);
  EXPECT_EQ(view->DrawnObjectsCount(), 0);
  // Every kind, near the view's edges too: labels and arrow heads reach
  // beyond an object's box.
  for (int i = 0; i < 180; ++i) {
    TRvVObject o = Make(static_cast<TRvVObjKind>(rvokLine + i % 9), (i * 97) % 1700, (i * 61) % 1400, 0, 0);
    o.Right = o.Left + 10 + i % 70;
    o.Bottom = o.Top + 8 + i % 50;
    o.PenWidth = 1 + i % 4;
    o.EndShape = i % 2 ? rvasTipAtEnd : rvasNone;
    o.ShapeHeight = 10 + i % 30;
    o.Text = "T" + std::to_string(i);
    o.ArcEnd = 2;
    o.AnglePoints = {platform::TPoint{o.Right, o.Bottom}, platform::TPoint{o.Left, o.Bottom},
                     platform::TPoint{o.Left + 5, o.Top}};
    view->AddNewObject(o);
  }
  const int all = view->ObjectsCount();
  for (double zoom : {100.0, 37.0, 250.0, 8.0}) {
    for (QPoint at : {QPoint(0, 0), QPoint(400, 333), QPoint(900, 700)}) {
      view->SetZoom(zoom);
      view->SetViewXY(at.x(), at.y());
      view->SetCullObjects(true);
      view->Update();
      const QImage culled = viewtest::Shot(*view);
      const int drawn = view->DrawnObjectsCount();
      view->SetCullObjects(false);
      view->Update();
      EXPECT_EQ(viewtest::Shot(*view), culled) << zoom << " at " << at.x() << "," << at.y();
      EXPECT_EQ(view->DrawnObjectsCount(), all);
      if (zoom >= 37) {
        EXPECT_LT(drawn, all / 2) << zoom;
      }
    }
  }
  view->SetCullObjects(true);
}

// A scroll moves the back buffer's pixels only where the objects move by
// the same whole pixels: the result equals a fresh render.
TEST(RastrumVectDraw, ScrollingGivesTheFreshRender) {
  for (const double zoom : {100.0, 37.0, 150.0}) {
    auto view = viewtest::MakeView<TRastrumVect>(120, 90, 400, 300);
    auto fresh = viewtest::MakeView<TRastrumVect>(120, 90, 400, 300);
    for (TRastrumVect* v : {view.get(), fresh.get()}) {
      for (int i = 0; i < 40; ++i) {
        TRvVObject o = Make(i % 2 ? rvokEllipse : rvokLine, 7 * i, 5 * i, 7 * i + 30, 5 * i + 20);
        o.PenWidth = 2;
        v->AddNewObject(o);
      }
      v->SetZoom(zoom);
      v->SetViewXY(20, 20);
    }
    viewtest::Shot(*view);
    for (int step = 1; step <= 6; ++step) {
      view->SetViewXY(20 + 3 * step, 20 + step);
      fresh->SetViewXY(20 + 3 * step, 20 + step);
      fresh->Update();
      EXPECT_EQ(viewtest::Shot(*view), viewtest::Shot(*fresh)) << zoom << " step " << step;
    }
  }
}

// ------------------------------------------------------------ the kept frame

// Every kind over the marked picture (blends, hatches and glyphs show what
// lies under them), two of them selected.
std::unique_ptr<TRastrumVect> EveryKind() {
  auto view = viewtest::MakeView<TRastrumVect>(200, 150, 400, 300);
  for (int i = 0; i < 9; ++i) {
    TRvVObject o = Make(static_cast<TRvVObjKind>(rvokLine + i), 40 * i, 30 * i, 40 * i + 70, 30 * i + 50);
    o.BeginShape = rvasBaseAtEnd, o.EndShape = rvasTipAtEnd, o.PenWidth = 1 + i % 3;
    o.BrushStyle = i == 1 ? platform::bsDiagCross : platform::bsSolid, o.BrushColor = platform::clBlue;
    o.Text = "Kept", o.Font = TRvLogFont{}, o.Font->lfHeight = -18, o.Font->lfEscapement = 150;
    o.RulerType = i == 6 ? rvrtGraduated : rvrtLabelMiddle;
    o.AnglePoints = {platform::TPoint{o.Right, o.Bottom}, platform::TPoint{o.Left, o.Bottom},
                     platform::TPoint{o.Left + 20, o.Top}};
    const int h = view->AddNewObject(o);
    for (int k = 0; o.Kind == rvokPolyline && k < 6; ++k) view->AddPolylinePoint(h, o.Left + 12 * k, o.Top + k % 2 * 40);
  }
  platform::TBitmap pixels(16, 16, platform::pf24bit);
  TRvMask mask;
  mask.Allocate(16, 16, 8);
  for (int y = 0; y < 16; ++y) std::memset(pixels.ScanLine(y), 15 * y, 48), std::memset(mask.ScanLine(y), 17 * y, 16);
  view->SetObjBitmap(4, &pixels, &mask);
  view->SelectObject(1);
  view->SelectObject(5);
  return view;
}

// A view keeping its frames beside one drawing every frame, through steps
// that change what the objects look like (drawn again) or not (taken from
// the cache): the same pixels, and objects out of view never drawn.
TEST(RastrumVectCache, KeptFramesEqualDrawnOnesAndEveryChangeDrawsAgain) {
  auto kept = EveryKind(), drawn = EveryKind();
  drawn->SetCacheObjects(false);
  // The picture's rows From to To, left half, set to one gray in place.
  auto gray = [](TRastrumVect& V, int From, int To) {
    for (int y = From; y < To; ++y) std::memset(V.GetBitmap()->ScanLine(y), 0x33, 600);
  };
  const std::vector<std::tuple<const char*, bool, std::function<void(TRastrumVect&)>>> steps = {
      {"fit", true, [](TRastrumVect& V) { V.Fit(); }},
      {"100 %", true, [](TRastrumVect& V) { V.SetZoom(100), V.SetViewXY(0, 0); }},
      {"scrolled", true, [](TRastrumVect& V) { V.SetViewXY(130, 110); }},
      {"150 %", true, [](TRastrumVect& V) { V.SetZoom(150), V.SetViewXY(37, 51); }},
      {"edited", true, [](TRastrumVect& V) { V.ObjectAt(1)->PenColor = 0xFF, V.ObjectAt(7)->Points[2].Y += 30; }},
      {"selection", false, [](TRastrumVect& V) { V.UnselectObject(1), V.SelectObject(7); }},
      {"text edited", true, [](TRastrumVect& V) { V.UnselectAll(), V.SelectObject(5), viewtest::Key(&V, Qt::Key_F2); }},
      {"filtered", true, [](TRastrumVect& V) { V.EndInteraction(), V.SetZoomFilter(rfTriangle), V.Fit(); }},
      // The picture changes under the same objects, low in the frame or
      // all over.
      {"a few rows", true, [&](TRastrumVect& V) { V.SetZoomFilter(rfNone), gray(V, 250, 252); }},
      {"another picture", true, [&](TRastrumVect& V) { gray(V, 0, 300); }},
      {"hidden", false, [](TRastrumVect& V) { V.SetObjectsHidden(true); }},
      {"shown", false, [](TRastrumVect& V) { V.SetObjectsHidden(false); }},
      {"added", true, [](TRastrumVect& V) { V.AddNewObject(Make(rvokBox, 5, 5, 20, 20)); }},
      {"no bitmap", true, [](TRastrumVect& V) { V.SetObjBitmapIndex(4, -1); }},
      {"resized", true, [](TRastrumVect& V) { V.resize(180, 150); }},
      {"pen widths", true, [](TRastrumVect& V) { V.SetZoomObjectsWidth(false); }},
      {"resampled", true, [](TRastrumVect& V) { V.SetBitmapResampleFilter(rfTriangle); }},
      {"scale", true, [](TRastrumVect& V) { V.SetMeasureScale(2); }},
      {"digits", true, [](TRastrumVect& V) { V.SetFloatDigits(4); }},
      {"resolution", true, [](TRastrumVect& V) { V.SetDPI(300, 300); }},
      {"out of view", false, [](TRastrumVect& V) { V.SetZoom(800), V.SetViewXY(0, 100000); }},
      {"removed", false, [](TRastrumVect& V) { V.Fit(), V.RemoveAllObjects(); }},
  };
  for (const auto& [what, draws, step] : steps) {
    step(*kept);
    step(*drawn);
    drawn->Update();
    const QImage expected = viewtest::Shot(*drawn);
    for (const bool again : {false, true}) {
      const std::int64_t calls = kept->DrawCalls();
      kept->Update();
      EXPECT_EQ(viewtest::Shot(*kept), expected) << what << (again ? ", taken from the cache" : "");
      EXPECT_EQ(kept->DrawCalls() > calls, draws && !again) << what << (again ? ", taken from the cache" : "");
      EXPECT_EQ(kept->DrawnObjectsCount(), drawn->DrawnObjectsCount()) << what;
    }
    if (std::string(what) == "out of view") EXPECT_EQ(kept->DrawnObjectsCount(), 0);
  }
}

} // namespace
