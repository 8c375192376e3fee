#include "controls/support/qoedit/qocomponent.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "controls/support/wnutils/wnutils.h"

namespace {

using wn::TQoController;

TEST(QoController, EpochTakesOnlyYears1600To3999) {
  TQoController C;
  const int Start = C.Epoch();
  C.SetEpoch(1599);
  EXPECT_EQ(C.Epoch(), Start);
  C.SetEpoch(4000);
  EXPECT_EQ(C.Epoch(), Start);
  C.SetEpoch(1600);
  EXPECT_EQ(C.Epoch(), 1600);
  C.SetEpoch(3999);
  EXPECT_EQ(C.Epoch(), 3999);
}

TEST(QoController, EpochStartsAtTheCurrentCentury) {
  const int Year = QDate::currentDate().year();
  EXPECT_EQ(wn::CurrentCentury() % 100, 0);
  EXPECT_GT(wn::CurrentCentury(), Year - 100);
  EXPECT_LE(wn::CurrentCentury(), Year);
  EXPECT_EQ(TQoController().Epoch(), wn::CurrentCentury());
}

TEST(QoController, OnGetEpochAnswersWithoutChangingTheStoredValue) {
  TQoController C;
  C.SetEpoch(1900);
  int Seen = 0;
  C.OnGetEpoch = [&](QObject* Sender, int& Epoch) {
    EXPECT_EQ(Sender, &C);
    Seen = Epoch;
    Epoch = 2100;
  };
  EXPECT_EQ(C.Epoch(), 2100);
  EXPECT_EQ(Seen, 1900);
  C.OnGetEpoch = nullptr;
  EXPECT_EQ(C.Epoch(), 1900);
}

TEST(QoController, CreationDefaults) {
  TQoController C;
  EXPECT_EQ(C.About(), "v4.06");
  C.SetAbout("v9");
  EXPECT_EQ(C.About(), "v4.06");
  EXPECT_EQ(C.EntryOptions, (wn::TQoBaseEFOptions{wn::efoAutoSelect, wn::efoBeepOnError, wn::efoInsertPushes}));
  ASSERT_EQ(C.EntryCommands().TableCount(), 3);
  EXPECT_EQ(C.EntryCommands().Table(0).Name, "Default");
  EXPECT_TRUE(C.EntryCommands().Table(0).Active);
  EXPECT_EQ(C.TimerPool().Count(), 0);
}

TEST(QoController, TimerTriggersReachOnTimerTriggerUnchanged) {
  TQoController C;
  std::vector<int> Got;
  C.OnTimerTrigger = [&](wn::TQoTimerPool* Sender, int Handle, int Elapsed, int Interval) {
    EXPECT_EQ(Sender, &C.TimerPool());
    Got = {Handle, Elapsed, Interval};
  };
  const std::int64_t Before = wn::TickCountMs();
  const int Handle = C.TimerPool().Add(100, nullptr);
  C.TimerPool().TimerExpired(Before + 10000);
  ASSERT_EQ(Got.size(), 3u);
  EXPECT_EQ(Got[0], Handle);
  EXPECT_GE(Got[1], 9000);
  EXPECT_EQ(Got[2], 100);
}

TEST(QoController, SpecialControlQuery) {
  TQoController C;
  QWidget W;
  EXPECT_FALSE(C.IsSpecialControl(&W));
  C.OnIsSpecialControl = [&](QObject* Sender, QWidget* Control, bool& Special) {
    EXPECT_EQ(Sender, &C);
    EXPECT_FALSE(Special);
    Special = Control == &W;
  };
  EXPECT_TRUE(C.IsSpecialControl(&W));
  EXPECT_FALSE(C.IsSpecialControl(nullptr));
}

TEST(QoController, SharedControllerIsOneObjectWithoutOwner) {
  TQoController* A = wn::SharedController();
  ASSERT_NE(A, nullptr);
  EXPECT_EQ(wn::SharedController(), A);
  EXPECT_EQ(A->parent(), nullptr);
}

TEST(QoController, ComponentsFindTheControllerOfTheirForm) {
  QPointer<TQoController> Own;
  {
    QWidget Form;
    auto* Panel = new QWidget(&Form);
    auto* Edit = new QLineEdit(Panel);
    auto* Component = new wn::TQoComponent(&Form);
    Own = new TQoController(&Form);
    EXPECT_EQ(wn::FindQoController(Edit), Own.data());
    EXPECT_EQ(wn::FindQoController(Component), Own.data());
    EXPECT_EQ(wn::FindQoController(&Form), Own.data());

    QWidget Other;
    auto* Lonely = new QLineEdit(&Other);
    EXPECT_EQ(wn::FindQoController(Lonely), wn::SharedController());
    EXPECT_EQ(wn::FindQoController(nullptr), wn::SharedController());
  }
  EXPECT_TRUE(Own.isNull()) << "the form frees its controller";
}

struct TCountingCollection : wn::TQoStreamedCollection {
  bool SawLoading = false;
  void Load() override { SawLoading = Loading; }
};

TEST(QoComponent, StreamsTheCollectionsStoredWithTheForm) {
  QObject Form;
  wn::TQoComponent C(&Form);
  std::vector<QObject*> Children;
  C.GetChildren([&](QObject* Child) { Children.push_back(Child); });
  EXPECT_TRUE(Children.empty());
  EXPECT_EQ(C.GetChildOwner(), nullptr);

  QObject A, B, X;
  auto Streamer = std::make_unique<wn::TQoCollectionStreamer>(&Form);
  auto* First = new TCountingCollection;
  First->StoredWithForm = true;
  First->Items = {&A, &B};
  auto* Hidden = new TCountingCollection;
  Hidden->Items = {&X};
  auto* Last = new TCountingCollection;
  Last->StoredWithForm = true;
  Last->Items = {&X};
  Streamer->Collections.emplace_back(First);
  Streamer->Collections.emplace_back(Hidden);
  Streamer->Collections.emplace_back(Last);
  C.SetCollectionStreamer(std::move(Streamer));

  EXPECT_EQ(C.GetChildOwner(), &Form);
  C.GetChildren([&](QObject* Child) { Children.push_back(Child); });
  EXPECT_EQ(Children, (std::vector<QObject*>{&A, &B, &X}));

  C.Loaded();
  for (auto* Coll : {First, Hidden, Last}) {
    EXPECT_TRUE(Coll->SawLoading);
    EXPECT_FALSE(Coll->Loading);
    EXPECT_TRUE(Coll->Loaded);
  }
}

TEST(Q32ContainerList, FreesTheContainersItStillHolds) {
  QWidget Bar;
  QPointer<QObject> Kept = new QObject;
  QPointer<QObject> Taken = new QObject;
  QPointer<QObject> Gone = new QObject(&Bar);
  {
    wn::TQ32ContainerList List(&Bar);
    EXPECT_EQ(List.StatusBar(), &Bar);
    EXPECT_EQ(List.Add(Kept), 0);
    EXPECT_EQ(List.Add(Taken), 1);
    EXPECT_EQ(List.Add(Gone), 2);
    List.Remove(Taken);
    EXPECT_EQ(List.Count(), 2);
    EXPECT_EQ(List.Items(1), Gone.data());
    EXPECT_EQ(List.Items(5), nullptr);
    delete Gone.data();  // freed elsewhere first: the list must not free it again
  }
  EXPECT_TRUE(Kept.isNull());
  ASSERT_FALSE(Taken.isNull());
  delete Taken.data();
}

TEST(QoBitmap, UnknownResourceGivesANullImage) {
  EXPECT_TRUE(wn::LoadQoBitmap("NOSUCHBITMAP").isNull());
}

}  // namespace
