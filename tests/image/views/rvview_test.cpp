#include "image/views/rvview.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "image/model/rastrumproc.h"

namespace {

using namespace rv;

class TTestView : public TRvView {
public:
  TTestView() : Picture(4, 4, platform::pf24bit) {}
  platform::TBitmap* GetBitmap() override { return &Picture; }
  void Update() override {
    ++Updates;
    TRvView::Update();
  }
  platform::TBitmap Picture;
  int Recreated = 0;
  int Updates = 0;

protected:
  void RecreateWnd() override {
    ++Recreated;
    TRvView::RecreateWnd();
  }
};

TEST(RvView, StartsFramedWithTheButtonFaceBackground) {
  TTestView view;
  EXPECT_EQ(view.BorderStyle(), bsSingle);
  EXPECT_TRUE(view.Ctl3D());
  EXPECT_EQ(view.GetBackground(), platform::clBtnFace);
  EXPECT_EQ(view.DpiX(), 0);
  EXPECT_EQ(view.FrameWidth(), 2);
  EXPECT_EQ(view.GetCanvas(), nullptr);
}

TEST(RvView, ZeroResolutionIsIgnored) {
  TTestView view;
  view.SetDpiX(96);
  view.SetDpiX(0);
  EXPECT_EQ(view.DpiX(), 96);
  view.SetDPI(0, 300);
  EXPECT_EQ(view.DpiX(), 96);
  EXPECT_EQ(view.DpiY(), 300);
}

TEST(RvView, SameFrameValuesDoNotRecreateTheWindow) {
  TTestView view;
  view.SetBorderStyle(bsSingle);
  view.SetCtl3D(true);
  EXPECT_EQ(view.Recreated, 0);
  view.SetCtl3D(false);
  EXPECT_EQ(view.Recreated, 1);
  EXPECT_EQ(view.FrameWidth(), 1);
  view.SetBorderStyle(bsNone);
  EXPECT_EQ(view.Recreated, 2);
  EXPECT_EQ(view.FrameWidth(), 0);
}

TEST(RvView, UpdateLockCountsAndRefreshesAtZero) {
  TTestView view;
  EXPECT_EQ(view.LockUpdate(), 1);
  EXPECT_EQ(view.LockUpdate(), 2);
  EXPECT_EQ(view.UnlockUpdate(), 1);
  EXPECT_EQ(view.Updates, 0);
  EXPECT_EQ(view.UnlockUpdateEx(), 0);
  EXPECT_EQ(view.Updates, 0);
  EXPECT_EQ(view.UnlockUpdateEx(), 0); // never below 0
  EXPECT_EQ(view.LockUpdate(), 1);
  EXPECT_EQ(view.UnlockUpdate(), 0);
  EXPECT_EQ(view.Updates, 1);
}

TEST(RvView, CallbacksAreRemovedOnceAndCalledInOrder) {
  std::vector<std::pair<int, bool>> calls;
  auto view = std::make_unique<TTestView>();
  TRvViewLink* const self = view.get();
  const int a = view->RegisterBitmapChangeEvent([&](TRvViewLink* s, bool d) {
    EXPECT_EQ(s, self);
    calls.push_back({1, d});
  });
  const int b = view->RegisterBitmapChangeEvent([&](TRvViewLink*, bool d) { calls.push_back({2, d}); });
  EXPECT_GT(a, 0);
  EXPECT_NE(a, b);
  view->CallBitmapChangeEvents();
  const int c = view->RegisterBitmapChangeEvent([&](TRvViewLink*, bool d) { calls.push_back({3, d}); });
  view->RemoveBitmapChangeEvent(c);
  view->RemoveBitmapChangeEvent(c);
  view->RemoveBitmapChangeEvent(-1);
  EXPECT_EQ(view->BitmapChangeEventCount(), 2);
  view.reset();
  EXPECT_EQ(calls, (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {1, true}, {2, true}}));
}

TEST(RvView, ACallbackRemovedDuringTheWalkIsSkipped) {
  std::vector<int> calls;
  TTestView view;
  int second = RvNoBitmapChangeEvent;
  const int first = view.RegisterBitmapChangeEvent([&](TRvViewLink*, bool) {
    calls.push_back(1);
    view.RemoveBitmapChangeEvent(second);
  });
  second = view.RegisterBitmapChangeEvent([&](TRvViewLink*, bool) { calls.push_back(2); });
  view.RegisterBitmapChangeEvent([&](TRvViewLink* s, bool) {
    calls.push_back(3);
    s->RemoveBitmapChangeEvent(first);
  });
  view.CallBitmapChangeEvents();
  view.CallBitmapChangeEvents();
  EXPECT_EQ(calls, (std::vector<int>{1, 3, 3}));
}

TEST(RvView, AProcessingComponentFollowsAndOutlivesItsView) {
  TRastrumProc proc;
  {
    TTestView view;
    proc.SetAttachedRastrum(&view);
    EXPECT_EQ(view.BitmapChangeEventCount(), 1);
    EXPECT_EQ(proc.Bitmap(), &view.Picture);
    proc.SetBackground(platform::clRed);
    EXPECT_EQ(view.GetBackground(), platform::clRed);
    proc.Flip(rvfdVertical);
    EXPECT_EQ(view.Updates, 1);
  }
  EXPECT_EQ(proc.AttachedRastrum(), nullptr);
  EXPECT_EQ(proc.Bitmap(), nullptr);
  proc.Rotate(90, true);
  EXPECT_EQ(proc.UndoCount(), 1);
}

TEST(RvView, PaintsItsBackgroundInsideTheFrame) {
  TTestView view;
  view.SetBackground(platform::clLime);
  view.resize(20, 10);
  EXPECT_EQ(view.ClientWidth(), 16);
  const QImage shot = view.grab().toImage();
  EXPECT_EQ(shot.pixel(10, 5) & 0xFFFFFF, 0x00FF00u);
  view.LockUpdate();
  view.SetBackground(platform::clRed);
  // Locked: nothing new is painted.
  const QImage locked = view.grab().toImage();
  EXPECT_NE(locked.pixel(10, 5) & 0xFFFFFF, 0xFF0000u);
}

TEST(RvView, MouseEnterAndLeaveFireTheirEvents) {
  TTestView view;
  int enter = 0, leave = 0;
  view.OnMouseEnter = [&](void* s) {
    EXPECT_EQ(s, &view);
    ++enter;
  };
  view.OnMouseLeave = [&](void*) { ++leave; };
  QEnterEvent in(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(&view, &in);
  QEvent out(QEvent::Leave);
  QApplication::sendEvent(&view, &out);
  EXPECT_EQ(enter, 1);
  EXPECT_EQ(leave, 1);
}

} // namespace
