#include "controls/support/qoedit/qomessages.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <climits>
#include <vector>

#include "controls/support/wnutils/wnutils.h"

namespace {

using wn::GetQoMessage;
using wn::TQoTimerPool;

TEST(QoMessages, TextsOfTheTable) {
  EXPECT_EQ(GetQoMessage(30168), "Unknown Error condition");
  EXPECT_EQ(GetQoMessage(30169), "Duplicate command found while adding a new command to the table");
  EXPECT_EQ(GetQoMessage(30170), "Command table not found or command table index out of range");
  EXPECT_EQ(GetQoMessage(30179), "Value is not within required range");
  EXPECT_EQ(GetQoMessage(30189), "No Window's timers are available");
  EXPECT_EQ(GetQoMessage(30244), "Label not attached");
  EXPECT_EQ(GetQoMessage(30266), "Grid");
  EXPECT_EQ(GetQoMessage(30275), "Default");
  EXPECT_EQ(GetQoMessage(30276), "WordStar");
  EXPECT_EQ(GetQoMessage(30277), "(Unknown)");
  EXPECT_EQ(GetQoMessage(30330), "Owner must be a TForm or descendant");
  EXPECT_EQ(GetQoMessage(30336), "Invalid value - Maximum must always be greater than Minimum");
  EXPECT_EQ(GetQoMessage(30337), "This component can only be used on forms");
  EXPECT_EQ(GetQoMessage(30368), "Y");
  EXPECT_EQ(GetQoMessage(30371), "F");
  EXPECT_EQ(wn::ENoTimersAvailable().what(), std::string("No Window's timers are available"));
}

TEST(QoMessages, OnlyTheLow16BitsCountAndAbsentNumbersAreUnknown) {
  EXPECT_EQ(GetQoMessage(30168 + 0x10000), "Unknown Error condition");
  EXPECT_EQ(GetQoMessage(30167), "Unknown");
  EXPECT_EQ(GetQoMessage(0), "Unknown");
  EXPECT_EQ(GetQoMessage(65535), "Unknown");
  EXPECT_EQ(GetQoMessage(-1), "Unknown");
}

TEST(QoMessages, AlphabeticCharacters) {
  const auto& set = wn::QoAlphaChars();
  for (unsigned char c : std::string(" ,-.AZaz")) EXPECT_TRUE(set.test(c)) << c;
  for (unsigned char c : std::string("09!_@[`{")) EXPECT_FALSE(set.test(c)) << c;
  EXPECT_TRUE(set.test(0xC0));   // capital A with grave
  EXPECT_TRUE(set.test(0xFF));   // small y with diaeresis
  EXPECT_FALSE(set.test(0xD7));  // multiplication sign
  EXPECT_FALSE(set.test(0xA0));  // no-break space
}

TEST(QoTimerPool, IntervalIsACommonDivisorOfAtLeast55) {
  TQoTimerPool pool;
  EXPECT_EQ(pool.About(), "v4.06");
  EXPECT_EQ(pool.Interval(), 0);
  const int a = pool.Add(100, nullptr);
  EXPECT_EQ(pool.Interval(), 100);
  EXPECT_TRUE(pool.TimerRunning());
  // 250 mod 100 = 50: the candidate drops to 50, which is raised to 55.
  const int b = pool.Add(250, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(pool.Interval(), 55);
  EXPECT_EQ(pool.ActiveCount(), 2);

  pool.Remove(12345);
  EXPECT_EQ(pool.Count(), 2);
  EXPECT_EQ(pool.Interval(), 55);
  pool.Remove(a);
  EXPECT_EQ(pool.Count(), 1);
  EXPECT_GE(pool.Interval(), 55);
  EXPECT_LE(pool.Interval(), 250);
  pool.SetActive(b, false);
  EXPECT_EQ(pool.ActiveCount(), 0);
  EXPECT_FALSE(pool.TimerRunning());
  pool.Remove(b);
  EXPECT_EQ(pool.Interval(), 0);
  EXPECT_FALSE(pool.TimerRunning());
}

TEST(QoTimerPool, FiresUpTo27MillisecondsEarly) {
  TQoTimerPool pool;
  struct Call { int Handle, Elapsed, Interval; };
  std::vector<Call> calls, all;
  const std::int64_t before = wn::TickCountMs();
  const int h = pool.Add(100, [&](TQoTimerPool* p, int H, int E, int I) {
    EXPECT_EQ(p, &pool);
    calls.push_back({H, E, I});
  });
  const std::int64_t after = wn::TickCountMs();
  pool.OnAllTimers = [&](TQoTimerPool*, int H, int E, int I) { all.push_back({H, E, I}); };

  pool.TimerExpired(before + 72);  // at most 72 ms since it was added
  EXPECT_TRUE(calls.empty());
  pool.TimerExpired(after + 73);   // at least 73 ms: due
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Handle, h);
  EXPECT_EQ(calls[0].Interval, 100);
  EXPECT_GE(calls[0].Elapsed, 73);
  EXPECT_LE(calls[0].Elapsed, 73 + (after - before));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Elapsed, calls[0].Elapsed);

  // The next firing counts from this one; the elapsed time accumulates.
  pool.TimerExpired(after + 73 + 72);
  EXPECT_EQ(calls.size(), 1u);
  pool.TimerExpired(after + 73 + 100);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].Elapsed, calls[0].Elapsed + 100);
  EXPECT_TRUE(pool.Exists(h));
}

TEST(QoTimerPool, ElapsedTimeSaturates) {
  TQoTimerPool pool;
  int elapsed = 0;
  pool.Add(100, [&](TQoTimerPool*, int, int E, int) { elapsed = E; });
  const std::int64_t far = wn::TickCountMs() + (std::int64_t(1) << 40);
  pool.TimerExpired(far);
  EXPECT_EQ(elapsed, INT_MAX);
  pool.TimerExpired(far + 200);
  EXPECT_EQ(elapsed, INT_MAX);
}

TEST(QoTimerPool, OneShotIsRemovedAndHandlersMayChangeThePool) {
  TQoTimerPool pool;
  int oneShot = 0, removed = 0, kept = 0, victim = 0;
  pool.Add(100, [&](TQoTimerPool* p, int, int, int) {
    ++oneShot;
    p->Remove(victim);
  }, false);
  victim = pool.Add(100, [&](TQoTimerPool*, int, int, int) { ++removed; });
  pool.Add(100, [&](TQoTimerPool*, int, int, int) { ++kept; });
  EXPECT_EQ(pool.Count(), 3);
  pool.TimerExpired(wn::TickCountMs() + 1000);
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(removed, 0);
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(pool.Count(), 1);
  pool.TimerExpired(wn::TickCountMs() + 3000);
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(kept, 2);
}

TEST(QoTimerPool, RealTimerServesPeriodicAndOneShotTriggers) {
  TQoTimerPool pool;
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> periodic;
  int oneShot = 0;
  pool.Add(60, [&](TQoTimerPool*, int, int, int) { ++oneShot; }, false);
  pool.Add(110, [&](TQoTimerPool*, int, int, int) { periodic.push_back(clock.elapsed()); });
  while (periodic.size() < 3 && clock.elapsed() < 3000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  ASSERT_GE(periodic.size(), 3u);
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(pool.Count(), 1);
  EXPECT_GE(periodic[0], 110 - 27 - 2);
  EXPECT_GE(periodic[1] - periodic[0], 110 - 27 - 2);  // two clocks: allow their rounding
}

}  // namespace
