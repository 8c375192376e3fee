#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <vector>

#include "image/views/rvmview.h"
#include "mviewtestutil.h"

namespace {

using namespace rv;
using namespace mviewtest;

std::vector<int> Selection(const TRastrumMView& View) {
  std::vector<int> v;
  for (int i = 0; i < View.MultiSelectedImagesCount(); ++i) v.push_back(View.MultiSelectedImages(i));
  return v;
}

// A 3-column grid of Count images, 170 x 100, nothing selected.
void Grid(TRastrumMView& View, int Count, int Columns = 3) {
  Shape(View, 170, 100, Columns);
  for (int i = 0; i < Count; ++i) View.AppendImage();
  View.DeselectNU();
}

// The client point in the middle of cell Index.
QPoint Middle(const TRastrumMView& View, int Index) {
  return QPoint(View.ImageID(Index) - View.ViewX() + 25, View.ImageTag(Index) - View.ViewY() + 20);
}

// Synthetic Qt events, as the window system would deliver them.
void SendMouse(TRastrumMView& View, QEvent::Type Type, QPointF At, Qt::MouseButton Button,
               Qt::MouseButtons Buttons) {
  QMouseEvent e(Type, At, View.mapToGlobal(At), Button, Buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(&View, &e);
}

void SendKey(TRastrumMView& View, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  QKeyEvent e(QEvent::KeyPress, Key, Modifiers);
  QCoreApplication::sendEvent(&View, &e);
}

void Click(TRastrumMView& View, int Index, platform::TShiftState Shift = 0) {
  const QPoint p = Middle(View, Index);
  View.MouseDown(platform::mbLeft, Shift, p.x(), p.y());
  View.MouseUp(platform::mbLeft, Shift, p.x(), p.y());
}

TEST(MViewSelect, BatchSelectionIsQuietUntilItEnds) {
  TRastrumMView view;
  Grid(view, 6);
  int events = 0;
  view.OnImageSelect = [&](void*, int) { ++events; };
  view.SetSelectedImage(2);
  EXPECT_EQ(events, 1);
  view.SetEnableMultiSelect(true);
  view.BeginSelectImages();
  for (int i : {1, 4, 3}) view.SetSelectedImage(i);
  EXPECT_EQ(view.SelectedImage(), -1);
  EXPECT_EQ(events, 1);
  view.EndSelectImages();
  EXPECT_EQ(Selection(view), (std::vector<int>{1, 4, 3}));
  EXPECT_EQ(view.SelectedImage(), 3);
  EXPECT_EQ(view.MultiSelectedImages(3), -1);
  EXPECT_EQ(view.MultiSelectedImages(-1), -1);
  view.BeginSelectImages();
  view.EndSelectImages(); // an empty batch leaves no current image
  EXPECT_EQ(view.SelectedImage(), -1);
}

TEST(MViewSelect, ClicksWithAndWithoutModifiers) {
  TRastrumMView view;
  Grid(view, 7);
  view.SetEnableMultiSelect(true);
  int events = 0;
  view.OnImageSelect = [&](void*, int) { ++events; };
  Click(view, 1);
  EXPECT_EQ(events, 1);
  Click(view, 1); // the current image again: nothing
  EXPECT_EQ(events, 1);
  Click(view, 3, platform::ssCtrl);
  EXPECT_EQ(Selection(view), (std::vector<int>{1, 3}));
  Click(view, 3, platform::ssCtrl); // toggled off: no current image
  EXPECT_EQ(Selection(view), (std::vector<int>{1}));
  EXPECT_EQ(view.SelectedImage(), -1);
  Click(view, 1);
  Click(view, 4, platform::ssShift); // the run between, from the current one
  EXPECT_EQ(Selection(view), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(view.SelectedImage(), 4);
  // A rectangle over the grid: rows 0..2, columns 0..1 from image 1 to 6;
  // grid position 7 has no image.
  view.MultiSelectionOptions = rvmoRegion;
  Click(view, 1);
  Click(view, 6, platform::ssShift);
  EXPECT_EQ(Selection(view), (std::vector<int>{1, 0, 3, 4, 6}));
  Click(view, 5); // plain click: only that one
  EXPECT_EQ(Selection(view), (std::vector<int>{5}));
  // A click beside every cell changes nothing.
  view.MouseUp(platform::mbLeft, 0, 2, 2);
  EXPECT_EQ(view.SelectedImage(), 5);
}

TEST(MViewSelect, DraggingSelectsFromTheImageUnderThePress) {
  TRastrumMView view;
  Grid(view, 7);
  view.SetEnableMultiSelect(true);
  auto send = [&](QEvent::Type Type, int Index, Qt::MouseButton Button, Qt::MouseButtons Buttons) {
    SendMouse(view, Type, Middle(view, Index), Button, Buttons);
  };
  send(QEvent::MouseButtonPress, 1, Qt::LeftButton, Qt::LeftButton);
  send(QEvent::MouseMove, 2, Qt::NoButton, Qt::LeftButton);
  send(QEvent::MouseMove, 4, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(Selection(view), (std::vector<int>{1, 2, 3, 4}));
  send(QEvent::MouseMove, 3, Qt::NoButton, Qt::LeftButton); // back again: shorter run
  EXPECT_EQ(Selection(view), (std::vector<int>{1, 2, 3}));
  send(QEvent::MouseButtonRelease, 3, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(view.SelectedImage(), 3);
  // Without the button held a move selects nothing.
  send(QEvent::MouseMove, 6, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(view.SelectedImage(), 3);
}

TEST(MViewSelect, FramedViewMapsMouseToClientPoints) {
  TRastrumMView view;
  Grid(view, 3);
  view.SetBorderStyle(bsSingle); // a 2-pixel frame
  view.Update();
  for (const int x : {58, 57}) {
    SendMouse(view, QEvent::MouseButtonPress, QPointF(x + 2, 4 + 2), Qt::LeftButton, Qt::LeftButton);
    SendMouse(view, QEvent::MouseButtonRelease, QPointF(x + 2, 4 + 2), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(view.SelectedImage(), 1) << x; // 57 is the border: no change
  }
}

TEST(MViewSelect, WheelScrollsByWholeCells) {
  TRastrumMView view;
  Grid(view, 30);
  auto wheel = [&](int Dy, int Dx = 0) {
    QWheelEvent e(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(Dx, Dy),
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&view, &e);
  };
  wheel(-120);
  EXPECT_EQ(view.ViewY(), 44);
  wheel(-60);
  EXPECT_EQ(view.ViewY(), 44);
  wheel(-60); // two halves make a notch
  EXPECT_EQ(view.ViewY(), 88);
  wheel(120);
  EXPECT_EQ(view.ViewY(), 44);
  wheel(0, -120); // sideways: not this axis
  EXPECT_EQ(view.ViewY(), 44);
  view.MouseWheel(0);
  EXPECT_EQ(view.ViewY(), 88);
}

struct TKeyCase {
  int Grid, Start, Key;
  int Expected, ViewY;
};

TEST(MViewSelect, KeysMoveTheCurrentImage) {
  // 9 images in 3 columns, 2 rows fit in 100 pixels.
  const TKeyCase cases[] = {
      {3, 4, Qt::Key_Left, 3, 0},  {3, 4, Qt::Key_Right, 5, 0}, {3, 4, Qt::Key_Up, 1, 0},
      {3, 4, Qt::Key_Down, 7, 36}, {3, 4, Qt::Key_Home, 0, 0},  {3, 4, Qt::Key_End, 8, 36},
      {3, 4, Qt::Key_PageDown, 4, 0},  {3, 4, Qt::Key_PageUp, 4, 0}, // 4 +- 6 is outside the list
      {3, 1, Qt::Key_PageDown, 7, 36}, {3, 0, Qt::Key_Left, 8, 36}, // wraps to the last
      {3, 8, Qt::Key_Right, 0, 0}, {0, 4, Qt::Key_Up, 4, 0},    // one row: up and down do nothing
      {0, 4, Qt::Key_Down, 4, 0},  {3, -1, Qt::Key_Left, -1, 0},
  };
  for (const TKeyCase& c : cases) {
    TRastrumMView view;
    Grid(view, 9, c.Grid);
    if (c.Start >= 0) view.SetSelectedImage(c.Start);
    int events = 0;
    view.OnImageSelect = [&](void*, int) { ++events; };
    view.KeyDown(c.Key, 0);
    EXPECT_EQ(view.SelectedImage(), c.Expected) << "key " << c.Key << " from " << c.Start;
    EXPECT_EQ(view.ViewY(), c.ViewY) << "key " << c.Key << " from " << c.Start;
    if (c.Start >= 0 && c.Expected == c.Start && c.Grid != 0) {
      EXPECT_EQ(events, 1) << "key " << c.Key;
    }
  }
}

TEST(MViewSelect, ShiftedKeysExtendTheSelection) {
  TRastrumMView view;
  Grid(view, 9);
  view.SetEnableMultiSelect(true);
  view.SetSelectedImage(4);
  SendKey(view, Qt::Key_Right, Qt::ShiftModifier);
  SendKey(view, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(Selection(view), (std::vector<int>{4, 5, 8}));
  SendKey(view, Qt::Key_Left);
  EXPECT_EQ(Selection(view), (std::vector<int>{7}));
}

TEST(MViewSelect, PlayShowsEachImageForItsTime) {
  TRastrumMView view;
  Grid(view, 3);
  view.SetImageDelayTime(1, 50);
  view.SetImageDelayTime(2, 200);
  view.SetSelectedImage(1);
  int changes = 0;
  view.RegisterBitmapChangeEvent([&](TRvViewLink*, bool) { ++changes; });
  view.SetPlaying(true);
  EXPECT_EQ(view.DisplayMode(), mdSingle);
  EXPECT_EQ(view.SelectedImage(), -1);
  EXPECT_EQ(view.PlayInterval(), 10); // image 0 has no time: at least 10 ms
  EXPECT_EQ(view.PlayFrame(), 1);
  changes = 0;
  view.PlayStep();
  EXPECT_EQ(view.PlayInterval(), 50);
  EXPECT_EQ(changes, 0);
  view.PlayStep(); // the last image: the change callbacks run, 0 is next
  EXPECT_EQ(view.PlayInterval(), 200);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(view.PlayFrame(), 0);
  // While playing, selection and display mode wait for the end.
  view.SetSelectedImage(2);
  view.KeyDown(Qt::Key_Right, 0);
  view.SetDisplayMode(mdGrid);
  EXPECT_EQ(view.SelectedImage(), -1);
  EXPECT_EQ(view.DisplayMode(), mdSingle);
  view.SetPlaying(false);
  EXPECT_EQ(view.PlayInterval(), 0);
  EXPECT_EQ(view.DisplayMode(), mdGrid);
  EXPECT_EQ(view.SelectedImage(), 1);
  // Inserting stops play mode.
  view.SetPlaying(true);
  view.InsertImage(0);
  EXPECT_FALSE(view.Playing());
}

} // namespace
