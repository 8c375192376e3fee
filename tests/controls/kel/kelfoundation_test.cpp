#include "controls/kel/kelcontrol.h"
#include "controls/kel/kelfoundation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace kel;

namespace {

// A two-level settings tree like the library's fills and gradients.
class TTestGradient : public TKelObject {
public:
  int Steps() const { return FSteps; }
  void SetSteps(int value) { SetProp(FSteps, value); }

private:
  int FSteps = 16;
};

class TTestFill : public TKelObject {
public:
  TTestFill() { LinkChild(FGradient); }
  int Color() const { return FColor; }
  void SetColor(int value) { SetProp(FColor, value); }
  TTestGradient& Gradient() { return FGradient; }

private:
  int FColor = 0;
  TTestGradient FGradient;
};

struct TOwner {
  TTestFill Fill;
  int Changes = 0;
  TKelObject* LastSender = nullptr;
  TOwner() {
    Fill.OnChange = [this](TKelObject* sender) {
      ++Changes;
      LastSender = sender;
    };
  }
};

TEST(KelObjectTest, ChangeReachesOwnerOncePerChange) {
  TOwner owner;
  owner.Fill.SetColor(5);
  EXPECT_EQ(owner.Changes, 1);
  EXPECT_EQ(owner.LastSender, &owner.Fill);
  owner.Fill.Gradient().SetSteps(32);
  EXPECT_EQ(owner.Changes, 2);
  EXPECT_EQ(owner.Fill.Gradient().Steps(), 32);
}

TEST(KelObjectTest, UnchangedValueDoesNothing) {
  TOwner owner;
  owner.Fill.SetColor(0);
  owner.Fill.Gradient().SetSteps(16);
  EXPECT_EQ(owner.Changes, 0);
}

TEST(KelObjectTest, UpdateBracketIsAFlag) {
  TOwner owner;
  owner.Fill.BeginUpdate();
  owner.Fill.BeginUpdate();
  owner.Fill.SetColor(1);
  owner.Fill.Gradient().SetSteps(2); // suppressed at the parent
  EXPECT_EQ(owner.Changes, 0);
  owner.Fill.EndUpdate(false);
  EXPECT_FALSE(owner.Fill.Updating());
  EXPECT_EQ(owner.Changes, 0);
  owner.Fill.BeginUpdate();
  owner.Fill.BeginUpdate();
  owner.Fill.EndUpdate(true);
  EXPECT_EQ(owner.Changes, 1);
  // No handler: changes are silent.
  TTestGradient loose;
  loose.SetSteps(3);
  EXPECT_EQ(loose.Steps(), 3);
  EXPECT_THROW(loose.Assign(owner.Fill), EKelException);
}

// A private pool driven tick by tick.
class TimerPoolTest : public ::testing::Test {
protected:
  TimerPoolTest() {
    Pool.BeginLoading();
    Pool.SetMinInterval(50);
    Pool.EndLoading();
    Pool.OnTimer = [this](TKelTimerPool*, std::uint16_t id, std::int32_t count) {
      Fired.emplace_back(id, count);
    };
  }
  int FiredCount(std::uint16_t id) const {
    int n = 0;
    for (const auto& f : Fired) n += f.first == id;
    return n;
  }
  TKelTimerPool Pool;
  std::vector<std::pair<std::uint16_t, std::int32_t>> Fired;
};

TEST_F(TimerPoolTest, ItemsFireEveryTicksTicks) {
  Pool.AddItem(1, 50, nullptr);
  Pool.AddItem(2, 100, nullptr);
  Pool.AddItem(3, 150, nullptr);
  EXPECT_EQ(Pool.FindItem(2)->Ticks(), 2u);
  EXPECT_TRUE(Pool.Running());
  EXPECT_EQ(Pool.TickCounter(), 1u);
  for (int i = 0; i < 6; ++i) Pool.TimerTick();
  EXPECT_EQ(FiredCount(1), 6);
  EXPECT_EQ(FiredCount(2), 3);
  EXPECT_EQ(FiredCount(3), 2);
  // The first tick is number 1: only the 50 ms item fires on it.
  EXPECT_EQ(Fired[0], std::make_pair(std::uint16_t(1), 1));
  EXPECT_EQ(Fired[1], std::make_pair(std::uint16_t(1), 2));
  EXPECT_EQ(Fired[2], std::make_pair(std::uint16_t(2), 1));
}

TEST_F(TimerPoolTest, IntervalsMustBeMultiplesOfMinInterval) {
  EXPECT_NO_THROW(Pool.AddItem(1, 500, nullptr));
  EXPECT_NO_THROW(Pool.AddItem(2, 100, nullptr));
  EXPECT_THROW(Pool.AddItem(3, 120, nullptr), EKelException);
  EXPECT_THROW(Pool.AddItem(4, 0, nullptr), EKelException);
  EXPECT_EQ(Pool.Count(), 2);
  try {
    Pool.AddItem(2, 100, nullptr);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (2)");
  }
  try {
    Pool.AddItem(5, 30, nullptr);
    FAIL();
  } catch (const EKelException& e) {
    EXPECT_STREQ(e.what(), "Interval not compatible with MinInterval property!");
  }

  TKelTimerItem& item = *Pool.FindItem(1);
  EXPECT_EQ(item.Ticks(), 10u);
  for (int i = 0; i < 4; ++i) Pool.TimerTick();
  item.SetInterval(120); // ignored, count kept
  EXPECT_EQ(item.Interval(), 500);
  EXPECT_EQ(item.Ticks(), 10u);
  item.SetInterval(0); // the minimum
  EXPECT_EQ(item.Interval(), 50);
  EXPECT_EQ(item.Ticks(), 1u);
}

TEST_F(TimerPoolTest, MinIntervalChangesOnlyWhileLoading) {
  Pool.SetMinInterval(100);
  EXPECT_EQ(Pool.MinInterval(), 50);
  Pool.BeginLoading();
  Pool.SetMinInterval(0);
  EXPECT_EQ(Pool.MinInterval(), 50);
  Pool.SetMinInterval(25);
  Pool.EndLoading();
  EXPECT_EQ(Pool.MinInterval(), 25);
  TKelTimerPool fresh;
  EXPECT_EQ(fresh.MinInterval(), 1000);
}

TEST_F(TimerPoolTest, RepeatLimitAndEnabled) {
  TKelTimerItem& item = Pool.AddItem(7, 50, nullptr);
  item.RepeatLimit = 2;
  for (int i = 0; i < 5; ++i) Pool.TimerTick();
  ASSERT_EQ(FiredCount(7), 2);
  EXPECT_EQ(Fired.back().second, 2); // the last firing still sees its count
  EXPECT_FALSE(item.Enabled());
  item.SetEnabled(true);
  EXPECT_TRUE(item.Enabled());
  EXPECT_EQ(item.FireCount(), 0);
  item.SetEnabled(false);
  item.RepeatLimit = 0;
  item.SetEnabled(true); // refused
  EXPECT_FALSE(item.Enabled());
}

TEST_F(TimerPoolTest, TimerStopsWithoutEnabledItems) {
  Pool.Restart(true);
  EXPECT_FALSE(Pool.Running());
  TKelTimerItem& item = Pool.AddItem(1, 50, nullptr);
  EXPECT_TRUE(Pool.Running());
  item.SetEnabled(false);
  Pool.Restart(true);
  EXPECT_FALSE(Pool.Running());
  item.SetEnabled(true);
  Pool.Restart(false);
  EXPECT_FALSE(Pool.Running());
}

TEST_F(TimerPoolTest, CallbacksMayRemoveItemsAndAreNotReentered) {
  int fires = 0;
  Pool.AddItem(1, 50, [&](TKelTimerPool* pool) {
    ++fires;
    EXPECT_EQ(pool, &Pool);
    pool->TimerTick(); // re-entry is ignored
    pool->RemoveItem(1);
    pool->RemoveItem(2);
  });
  Pool.AddItem(2, 50, nullptr);
  Pool.TimerTick();
  Pool.TimerTick();
  EXPECT_EQ(fires, 1);
  EXPECT_EQ(FiredCount(2), 0);
  EXPECT_EQ(Pool.Count(), 0);
  EXPECT_EQ(Pool.TickCounter(), 3u);
}

TEST(KelSharedTimerTest, SlotsAndIntervals) {
  EXPECT_EQ(KelApplication().TimerPool().MinInterval(), 50);
  std::vector<std::uint16_t> ids;
  ids.push_back(KelTimerAdd(500, [](TKelTimerPool*) {}));
  ids.push_back(KelTimerAdd(100, [](TKelTimerPool*) {}));
  EXPECT_EQ(ids[0], 64769);
  EXPECT_EQ(ids[1], 64770);
  EXPECT_THROW(KelTimerAdd(120, [](TKelTimerPool*) {}), EKelException);
  // A refused interval takes no slot.
  ids.push_back(KelTimerAdd(50, [](TKelTimerPool*) {}));
  EXPECT_EQ(ids[2], 64771);
  while (ids.size() < 250) ids.push_back(KelTimerAdd(50, [](TKelTimerPool*) {}));
  EXPECT_EQ(ids.back(), 65018);
  EXPECT_EQ(KelTimerAdd(50, [](TKelTimerPool*) {}), 0); // the 251st
  KelTimerRemove(100); // not a shared id
  KelTimerRemove(ids[1]);
  EXPECT_EQ(KelTimerAdd(50, [](TKelTimerPool*) {}), ids[1]);
  KelTimerRemove(65100); // past the last slot
  EXPECT_EQ(KelApplication().TimerPool().Count(), 250);
  for (std::uint16_t id : ids) KelTimerRemove(id);
  EXPECT_EQ(KelApplication().TimerPool().Count(), 0);
  KelApplication().TimerPool().Restart(true);
  EXPECT_FALSE(KelApplication().TimerPool().Running());
}

TEST(KelSharedTimerTest, RealTimerKeepsTheMinimumInterval) {
  int fastFires = 0, slowFires = 0;
  QElapsedTimer clock;
  clock.start();
  qint64 firstFast = -1, thirdFast = -1;
  const std::uint16_t fast = KelTimerAdd(50, [&](TKelTimerPool*) {
    ++fastFires;
    if (fastFires == 1) firstFast = clock.elapsed();
    if (fastFires == 3) thirdFast = clock.elapsed();
  });
  const std::uint16_t slow = KelTimerAdd(100, [&](TKelTimerPool*) { ++slowFires; });
  while (fastFires < 4 && clock.elapsed() < 3000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  KelTimerRemove(fast);
  KelTimerRemove(slow);
  ASSERT_GE(fastFires, 4);
  EXPECT_GE(slowFires, 1);
  EXPECT_LE(slowFires, fastFires / 2 + 1);
  // Two intervals of at least 50 ms lie between the first and third firing.
  EXPECT_GE(thirdFast - firstFast, 90);
}

TEST(KelThemeTest, ThemesStayOff) {
  EXPECT_FALSE(KelThemesLoaded());
  KelApplication().SetThemeMode(true);
  EXPECT_FALSE(KelApplication().ThemeMode());
  EXPECT_FALSE(KelThemesActive());
}

class TCountingControl : public TKelBaseGraphicControl {
public:
  int Updates = 0;
  int ListChanges = 0;
  void UpdateControl() override {
    ++Updates;
    TKelBaseGraphicControl::UpdateControl();
  }
  void ListChanged() override {
    ++ListChanges;
    TKelBaseGraphicControl::ListChanged();
  }
  bool SupportsThemes() const override { return true; }
};

TEST(KelControlTest, BoundsChangeFlags) {
  TCountingControl control;
  std::vector<int> flags;
  control.OnBoundsChange = [&](TKelControl* sender, std::uint8_t f) {
    EXPECT_EQ(sender, &control);
    flags.push_back(f);
  };
  EXPECT_EQ(control.width(), 30);
  EXPECT_EQ(control.height(), 30);
  control.SetBounds(0, 0, 30, 30); // nothing changed
  control.SetBounds(5, 6, 30, 30);
  control.SetBounds(5, 6, 40, 30);
  control.SetBounds(1, 1, 10, 10);
  ASSERT_EQ(flags.size(), 3u);
  EXPECT_EQ(flags[0], kelBoundsMoved);
  EXPECT_EQ(flags[1], kelBoundsResized);
  EXPECT_EQ(flags[2], kelBoundsMoved | kelBoundsResized);
  control.BeginLoading();
  control.SetBounds(2, 2, 10, 10);
  control.EndLoading();
  EXPECT_EQ(flags.size(), 3u);
}

TEST(KelControlTest, MouseEventsOnlyWhenEnabled) {
  TCountingControl control;
  int enters = 0, exits = 0;
  control.OnMouseEnter = [&](TKelControl*) { ++enters; };
  control.OnMouseExit = [&](TKelControl*) { ++exits; };
  control.MouseEnter();
  control.MouseExit();
  control.setEnabled(false);
  control.MouseEnter();
  control.MouseExit();
  EXPECT_EQ(enters, 1);
  EXPECT_EQ(exits, 1);
}

TEST(KelControlTest, UpdateLockAndThemeMode) {
  TCountingControl control;
  control.BeginUpdate();
  control.BeginUpdate();
  EXPECT_TRUE(control.IsUpdating());
  control.EndUpdate();
  EXPECT_EQ(control.Updates, 0);
  control.EndUpdate();
  EXPECT_FALSE(control.IsUpdating());
  EXPECT_EQ(control.Updates, 1);
  control.EndUpdate(); // unbalanced: ignored
  EXPECT_EQ(control.Updates, 1);
  control.SetThemeMode(2);
  EXPECT_EQ(control.ThemeMode(), 0); // no themes here
}

TEST(KelControlTest, SetIndexesIgnoresNegativeAndUnchanged) {
  TCountingControl control;
  control.SetIndexes(0, -1);
  control.SetIndexes(1, 0);
  control.SetImageIndex(3);
  control.SetListIndex(2);
  control.SetIndexes(2, 9); // no such index
  EXPECT_EQ(control.ImageIndex(), 3);
  EXPECT_EQ(control.ListIndex(), 2);
  // Without a bound list nothing repaints.
  EXPECT_EQ(control.ListChanges, 0);
  EXPECT_EQ(control.Updates, 0);
}

TEST(KelControlTest, TransparencyFollowsTheParent) {
  QWidget parent;
  auto* control = new TCountingControl;
  control->setParent(&parent);
  EXPECT_TRUE(control->Transparent());
  EXPECT_FALSE(control->IsTransparentNow());
  parent.setProperty(kelTransparentBackgroundProperty, true);
  EXPECT_TRUE(control->IsTransparentNow());
  control->SetTransparent(false);
  EXPECT_FALSE(control->IsTransparentNow());
}

class TCountingHook : public TKelWndProcComponent {
public:
  using TKelWndProcComponent::TKelWndProcComponent;
  int Seen = 0;
  bool Eat = false;

protected:
  bool WndProc(QEvent* event) override {
    if (event->type() != QEvent::User) return false;
    ++Seen;
    return Eat;
  }
};

class TUserEventWidget : public QWidget {
public:
  int Handled = 0;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) ++Handled;
    return QWidget::event(e);
  }
};

TEST(KelWndProcTest, HookSeesEventsFirst) {
  TUserEventWidget owner;
  TCountingHook hook(&owner);
  QEvent ev(QEvent::User);
  QCoreApplication::sendEvent(&owner, &ev);
  EXPECT_EQ(hook.Seen, 0);
  hook.BeginLoading();
  hook.EndLoading(); // loading completes with a hook
  EXPECT_TRUE(hook.Hooked());
  QCoreApplication::sendEvent(&owner, &ev);
  EXPECT_EQ(hook.Seen, 1);
  EXPECT_EQ(owner.Handled, 2);
  hook.Eat = true;
  QCoreApplication::sendEvent(&owner, &ev);
  EXPECT_EQ(owner.Handled, 2);
  hook.SetEnabled(false);
  EXPECT_FALSE(hook.Hooked());
  QCoreApplication::sendEvent(&owner, &ev);
  EXPECT_EQ(hook.Seen, 2);
  EXPECT_EQ(owner.Handled, 3);
}

} // namespace

TEST(KelOneInstance, MessagesNameTheClass) {
  EXPECT_NO_THROW(KelCheckOneInstance("TKelFormShape", 1, false));
  const struct {
    int Count;
    bool WrongOwner, PerProject;
    const char* Message;
  } cases[] = {{2, false, false, "TKelFormShape:\rInvalid owner (<>TForm) or second instance on a form"},
               {1, true, false, "TKelFormShape:\rInvalid owner (<>TForm) or second instance on a form"},
               {2, false, true, "TKelFormShape:\rAlready one TKelFormShape control in this project!"}};
  for (const auto& c : cases) {
    try {
      KelCheckOneInstance("TKelFormShape", c.Count, c.WrongOwner, c.PerProject);
      ADD_FAILURE() << c.Count;
    } catch (const KelEOneInstError& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
  }
}
