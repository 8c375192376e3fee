#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include "viewtest_support.h"

namespace {

using namespace rv;
using viewtest::MakeView;

using viewtest::Click;
using viewtest::Drag;
using viewtest::Move;
using viewtest::Press;
using viewtest::Release;
using viewtest::Send;

struct TBox {
  int X1, Y1, X2, Y2;
  bool operator==(const TBox&) const = default;
};
TBox Box(const TRastrumView& V) { return {V.SelX1(), V.SelY1(), V.SelX2(), V.SelY2()}; }
std::ostream& operator<<(std::ostream& S, const TBox& B) {
  return S << "(" << B.X1 << "," << B.Y1 << ")-(" << B.X2 << "," << B.Y2 << ")";
}

struct TDragCase {
  double Zoom;
  bool Square;
  QPoint From, To;
  TBox Selected;
};

TEST(RastrumViewSelect, RectangleDragsSelectBitmapBoxes) {
  const TDragCase cases[] = {
      {100, false, {10, 10}, {50, 40}, {10, 10, 50, 40}},
      {100, false, {50, 40}, {10, 10}, {10, 10, 50, 40}},
      {100, true, {10, 10}, {50, 30}, {10, 10, 50, 50}},
      {200, false, {10, 10}, {50, 40}, {5, 5, 25, 20}},
  };
  for (const TDragCase& c : cases) {
    auto view = MakeView(100, 80, 100, 80);
    view->SetZoom(c.Zoom);
    view->SetMouseInteract(miSelect);
    view->ConstrainAlways = c.Square;
    int changing = 0, changed = 0;
    view->OnSelectionChanging = [&](void*) { ++changing; };
    view->OnSelectionChange = [&](void*) { ++changed; };
    Drag(view.get(), c.From, c.To);
    EXPECT_TRUE(view->Selected());
    EXPECT_EQ(Box(*view), c.Selected) << c.From.x() << "," << c.From.y();
    EXPECT_GE(changing, 2);
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(view->SelectionMask()->IsPointInside(c.Selected.X1, c.Selected.Y2));
    EXPECT_FALSE(view->SelectionMask()->IsPointInside(c.Selected.X2 + 1, c.Selected.Y2));
    Click(view.get(), {70, 70});
    EXPECT_FALSE(view->Selected()) << "a click on nothing removes the selection";
  }
}

TEST(RastrumViewSelect, GripsResizeAndMirrorPastTheOppositeCorner) {
  auto view = MakeView(100, 80, 100, 80);
  view->SetMouseInteract(miSelect);
  Drag(view.get(), {10, 10}, {50, 40});
  struct TGrip {
    QPoint At;
    int Grip;
  } grips[] = {{{10, 10}, 0}, {{51, 10}, 1}, {{51, 41}, 2}, {{10, 41}, 3}, {{10, 25}, 4},
               {{51, 25}, 5}, {{30, 10}, 6}, {{30, 41}, 7}, {{30, 25}, -1}, {{18, 18}, -1}};
  for (const TGrip& g : grips) EXPECT_EQ(view->GripAt(g.At.x(), g.At.y()), g.Grip) << g.At.x() << "," << g.At.y();
  Drag(view.get(), {51, 41}, {70, 60});
  EXPECT_EQ(Box(*view), (TBox{10, 10, 70, 60}));
  // The bottom-right grip dragged past the top-left corner becomes the
  // top-left grip of the mirrored box and goes on from there.
  Press(view.get(), {71, 61});
  Move(view.get(), {4, 5});
  EXPECT_EQ(Box(*view), (TBox{5, 6, 9, 9}));
  Move(view.get(), {2, 3});
  Release(view.get(), {2, 3});
  EXPECT_EQ(Box(*view), (TBox{2, 3, 9, 9}));
}

TEST(RastrumViewSelect, ADragInsideMovesTheSelection) {
  auto view = MakeView(100, 80, 100, 80);
  view->SetMouseInteract(miSelect);
  Drag(view.get(), {10, 10}, {50, 40});
  Drag(view.get(), {30, 30}, {35, 33});
  EXPECT_EQ(Box(*view), (TBox{15, 13, 55, 43}));
}

TEST(RastrumViewSelect, APolygonClosesWithTheDoubleClickedPoint) {
  auto view = MakeView(100, 80, 100, 80);
  view->SetMouseInteract(miSelectPolygon);
  int changed = 0;
  view->OnSelectionChange = [&](void*) { ++changed; };
  Click(view.get(), {10, 10});
  Click(view.get(), {60, 10});
  EXPECT_TRUE(view->PolygonEntry());
  Move(view.get(), {40, 40}, Qt::NoButton);
  Click(view.get(), {60, 50});
  Send(view.get(), QEvent::MouseButtonDblClick, {60, 50}, Qt::LeftButton, Qt::LeftButton, {});
  Release(view.get(), {60, 50});
  EXPECT_FALSE(view->PolygonEntry());
  EXPECT_EQ(changed, 1);
  ASSERT_EQ(view->SelectionPointCount(), 3);
  EXPECT_EQ(view->SelectionPoints()[2].X, 60);
  EXPECT_EQ(view->SelectionPoints()[2].Y, 50);
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(55, 20));
  EXPECT_FALSE(view->SelectionMask()->IsPointInside(15, 45));
  EXPECT_EQ(Box(*view), (TBox{10, 10, 59, 49}));
}

TEST(RastrumViewSelect, ALassoFollowsTheDragAndClosesAtTheRelease) {
  auto view = MakeView(100, 80, 100, 80);
  view->SetMouseInteract(miSelectLasso);
  int changed = 0;
  view->OnSelectionChange = [&](void*) { ++changed; };
  Press(view.get(), {10, 10});
  EXPECT_TRUE(view->PolygonEntry());
  // The last point runs past the picture: it is held at its border.
  for (QPoint p : {QPoint(60, 10), QPoint(60, 40), QPoint(30, 40), QPoint(150, 90)}) Move(view.get(), p);
  Release(view.get(), {150, 90});
  EXPECT_FALSE(view->PolygonEntry());
  EXPECT_EQ(changed, 1);
  ASSERT_EQ(view->SelectionPointCount(), 5);
  EXPECT_EQ(view->SelectionPoints()[4].X, 100);
  EXPECT_EQ(view->SelectionPoints()[4].Y, 80);
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(50, 20));
  EXPECT_FALSE(view->SelectionMask()->IsPointInside(20, 35));
  EXPECT_FALSE(view->SelectionMask()->IsPointInside(5, 5));

  // A second lasso without Shift replaces the first; with Shift it adds.
  Press(view.get(), {70, 50});
  for (QPoint p : {QPoint(90, 50), QPoint(90, 70), QPoint(70, 70)}) Move(view.get(), p);
  Release(view.get(), {70, 70});
  EXPECT_FALSE(view->SelectionMask()->IsPointInside(50, 20));
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(80, 60));
  Press(view.get(), {10, 10}, Qt::LeftButton, Qt::ShiftModifier);
  for (QPoint p : {QPoint(30, 10), QPoint(30, 30), QPoint(10, 30)}) Move(view.get(), p, Qt::LeftButton, Qt::ShiftModifier);
  Release(view.get(), {10, 30}, Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(80, 60));
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(20, 20));
}

TEST(RastrumViewSelect, ARectangleDrawnInZoomModeFillsTheView) {
  auto view = MakeView(100, 80, 100, 80);
  view->SetMouseInteract(miSelectZoom);
  // A click draws no rectangle: nothing changes.
  Click(view.get(), {30, 30});
  EXPECT_DOUBLE_EQ(view->Zoom(), 100);
  Drag(view.get(), {20, 30}, {45, 50});
  EXPECT_FALSE(view->Selected()) << "the rectangle only chooses the zoom";
  // 26 x 21 pixels into the 100 x 80 window: the height limits.
  EXPECT_DOUBLE_EQ(view->Zoom(), 8000.0 / 21);
  // The rectangle's centre comes to the centre of the view.
  EXPECT_NEAR(view->ScreenToBitmapX(view->ExtentX() / 2), 32, 1);
  EXPECT_NEAR(view->ScreenToBitmapY(view->ExtentY() / 2), 40, 1);
}

TEST(RastrumViewSelect, TheMagicWandTakesOnlyPixelsOfThePicture) {
  auto view = MakeView(60, 40, 40, 30);
  platform::TBitmap picture(40, 30, platform::pf24bit);
  picture.Canvas().Brush.Color = platform::clWhite;
  picture.Canvas().FillRect(platform::Rect(0, 0, 40, 30));
  picture.Canvas().Brush.Color = platform::clRed;
  picture.Canvas().FillRect(platform::Rect(10, 5, 20, 15));
  view->Assign(&picture);
  view->SetMouseInteract(miSelectMagicWand);
  for (int mode : {0, 1, 2}) {
    view->Deselect();
    view->MagicWandMode = mode;
    Click(view.get(), {12, 8});
    EXPECT_TRUE(view->Selected()) << mode;
    EXPECT_EQ(Box(*view), (TBox{10, 5, 19, 14})) << mode;
  }
  // Beyond the picture the mouse is clamped to its width: no pixel there.
  view->Deselect();
  Click(view.get(), {55, 8});
  EXPECT_FALSE(view->Selected());
  view->MagicWand(40, 3, false);
  view->SetSelectionBase(rvsbBitmap);
  view->MagicWand(3, 30, false);
  view->MagicWand(-1, 3, false);
  EXPECT_FALSE(view->Selected());
}

TEST(RastrumViewSelect, AnEllipseBelowOneBitmapPixelStillHasThreePoints) {
  auto view = MakeView(100, 80, 20, 20);
  view->SetZoom(800);
  view->SetMouseInteract(miSelectCircle);
  int points = -1;
  view->OnSelectionChanging = [&](void*) { points = view->SelectionPointCount(); };
  Press(view.get(), {20, 20});
  Move(view.get(), {22, 21});
  EXPECT_EQ(points, 3);
  Move(view.get(), {60, 60}); // radii of 5 bitmap pixels: Trunc(5 x 2 pi) shr 2
  EXPECT_EQ(points, 7);
  Release(view.get(), {60, 60});
  EXPECT_EQ(view->SelX1(), 0);
  EXPECT_EQ(view->SelX2(), 6); // centre 2, radius 5, right edge left out
}

TEST(RastrumViewSelect, MouseInteractKeepsCompatibleModes) {
  struct TCase {
    TRvMouseInteract From, To, Stored;
  } cases[] = {
      {0, miZoom | miSelectPolygon, miSelectPolygon},
      {0, miZoom | miScroll | miSelect, miZoom | miScroll},
      {miZoom, miZoom | miSelect, miZoom | miSelect},
      {miSelect, miSelect | miSelectCircle, miSelectCircle},
      {miSelectPolygon, miSelectPolygon | miZoom, miZoom},
      {0, miSelectMagicWand | miSelect, miSelect},
      {miZoom | miSelect, miSelect, miSelect},
      {0, miSelectMagicWand | miSelectLasso, miSelectLasso},
  };
  for (const TCase& c : cases) {
    auto view = MakeView(10, 10, 5, 5);
    view->SetMouseInteract(c.From);
    view->SetMouseInteract(c.To);
    EXPECT_EQ(view->MouseInteract(), c.Stored) << int(c.From) << " -> " << int(c.To);
  }
}

TEST(RastrumViewSelect, ZoomClicksStepThroughTheList) {
  struct TCase {
    double Zoom;
    Qt::MouseButton Button;
    double After;
  } cases[] = {
      {75, Qt::LeftButton, 100},  {100, Qt::LeftButton, 200}, {1, Qt::LeftButton, 2},
      {150, Qt::LeftButton, 250}, {150, Qt::RightButton, 100}, {250, Qt::RightButton, 150},
      {2, Qt::RightButton, 2},    {1, Qt::RightButton, 2},    {40, Qt::RightButton, 33},
  };
  for (const TCase& c : cases) {
    auto view = MakeView(100, 100, 50, 50);
    view->SetZoom(c.Zoom);
    view->SetMouseInteract(miZoom);
    // A click counts only on the picture (at 1 % it is 0 pixels wide).
    Click(view.get(), {0, 0}, c.Button);
    EXPECT_DOUBLE_EQ(view->Zoom(), c.After) << c.Zoom;
  }
  auto view = MakeView(100, 100, 50, 50);
  view->SetMouseInteract(miZoom);
  view->OnZoomIn = [](void*, double& z) { z = 300; };
  Click(view.get(), {20, 20});
  EXPECT_DOUBLE_EQ(view->Zoom(), 300);
}

TEST(RastrumViewSelect, ScrollModePansAndDragsAutoScroll) {
  auto view = MakeView(100, 80, 300, 200);
  view->SetMouseInteract(miScroll);
  Drag(view.get(), {50, 50}, {40, 45});
  EXPECT_EQ(view->ViewX(), 10);
  EXPECT_EQ(view->ViewY(), 5);
  EXPECT_EQ(platform::ScreenCursor(), platform::crDefault);

  view->SetViewXY(0, 0);
  view->SetMouseInteract(miSelect);
  Press(view.get(), {10, 10});
  Move(view.get(), {120, 30}); // 21 pixels right of the picture's last column
  EXPECT_EQ(view->ViewX(), 21);
  Release(view.get(), {120, 30});
  EXPECT_EQ(Box(*view), (TBox{10, 10, 121, 30}));
}

TEST(RastrumViewSelect, ShiftShowsTheAddingCursor) {
  auto view = MakeView(10, 10, 5, 5);
  // As the platform sends them: the modifiers from before the key changed them.
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
  QApplication::sendEvent(view.get(), &down);
  EXPECT_EQ(view->Cursor(), crRvCross3Add);
  QKeyEvent up(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier);
  QApplication::sendEvent(view.get(), &up);
  EXPECT_EQ(view->Cursor(), crRvCross3);
  EXPECT_TRUE(platform::IsCursorRegistered(crRvCross2Sub));
}

TEST(RastrumViewSelect, SelectRectAddsPolygonsToTheMask) {
  auto view = MakeView(100, 80, 100, 80);
  view->SetSelectionBase(rvsbBitmap);
  view->SelectRect(5, 5, 9, 9, 0);
  view->SelectRect(20, 20, 29, 24, 1);
  EXPECT_EQ(view->SelectionPointCount(), 9); // two rectangles and a separator
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(7, 7));
  EXPECT_TRUE(view->SelectionMask()->IsPointInside(29, 24));
  EXPECT_EQ(Box(*view), (TBox{5, 5, 29, 24}));
  view->SelectRect(40, 40, 40, 50, 0); // no area: the points stay, the mask is refilled
  EXPECT_EQ(Box(*view), (TBox{5, 5, 29, 24}));
  view->Deselect();
  EXPECT_EQ(view->SelectionPointCount(), 0);
  EXPECT_TRUE(view->SelectionMask()->IsEmpty());
}

} // namespace
