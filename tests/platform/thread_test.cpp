#include "platform/thread.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace platform;

namespace {

class TCounter : public TThread {
public:
  int Sum = 0;
  std::thread::id RanOn;

protected:
  void Execute() override {
    for (int i = 1; i <= 50 && !Terminated(); ++i)
      DoSynchronize([this, i] {
        Sum += i;
        RanOn = std::this_thread::get_id();
      });
  }
};

} // namespace

TEST(Synchronize, WaitForServesTheThreadsCallsOnTheMainThread) {
  TCounter thread;
  thread.Start();
  thread.WaitFor(); // would deadlock if waiting did not serve the calls
  EXPECT_EQ(thread.Sum, 1275);
  EXPECT_EQ(thread.RanOn, std::this_thread::get_id());
}

TEST(Synchronize, CallsAreServedByTheEventLoopToo) {
  bool ran = false;
  std::thread worker([&] { Synchronize([&] { ran = true; }); });
  while (!ran) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(Synchronize, AnExceptionReturnsToTheCaller) {
  bool caught = false;
  std::thread worker([&] {
    try {
      Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  while (!caught) {
    CheckSynchronize();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (caught) break;
  }
  worker.join();
  EXPECT_TRUE(caught);
}

TEST(Synchronize, OnTheMainThreadRunsAtOnce) {
  int n = 0;
  Synchronize([&] { n = 5; });
  EXPECT_EQ(n, 5);
}
