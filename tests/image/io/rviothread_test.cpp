// The asynchronous input/output thread and the component's thread list.
#include "image/io/rviothread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>

#include "platform/stream.h"
#include "platform/thread.h"

namespace {

using namespace rv;
using namespace std::chrono_literals;

// Runs the user-interface thread's event loop until Done or two seconds.
template <class F>
bool PumpUntil(F Done) {
  const auto Deadline = std::chrono::steady_clock::now() + 2s;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct TOutcome {
  std::thread::id WorkedOn;
  std::thread::id EndedOn;
  bool WorkerSawItself = false;
  bool Ended = false;
  bool Raised = false;
  int Result = 0;
  int CountAtEnd = -1;
};

TEST(RvIOThread, WorkRunsOffTheUiThreadAndItsEndArrivesOnIt) {
  TRvIOThreadList List;
  TOutcome Out;
  auto Token = std::make_shared<int>(0);
  std::weak_ptr<int> Alive = Token;
  new TRvIOThread(
      nullptr, List,
      TRvIOFileProc([&Out, &List, Token](const std::string& Name) {
        EXPECT_EQ(Name, "a.jpg");
        Out.WorkedOn = std::this_thread::get_id();
        Out.WorkerSawItself = List.IsWorkerThread();
      }),
      "a.jpg",
      [&](TRvIOThread& T, bool Raised) {
        Out.EndedOn = std::this_thread::get_id();
        Out.Raised = Raised;
        Out.Ended = true;
        Out.CountAtEnd = List.Count();
        EXPECT_EQ(T.Kind(), iotkFileName);
      });
  Token.reset();
  EXPECT_FALSE(List.IsWorkerThread());
  ASSERT_TRUE(PumpUntil([&] { return Out.Ended && List.Count() == 0; }));
  EXPECT_NE(Out.WorkedOn, std::this_thread::get_id());
  EXPECT_EQ(Out.EndedOn, std::this_thread::get_id());
  EXPECT_TRUE(Out.WorkerSawItself);
  EXPECT_FALSE(Out.Raised);
  EXPECT_EQ(Out.CountAtEnd, 1); // still listed while its end is reported
  EXPECT_TRUE(Alive.expired()); // the worker, with its method, was freed
}

TEST(RvIOThread, EveryShapePassesItsArguments) {
  TRvIOThreadList List;
  platform::TMemoryStream Stream;
  std::atomic<int> Sum{0};
  int Results = 0;
  int Ends = 0;
  auto End = [&](TRvIOThread& T, bool Raised) {
    EXPECT_FALSE(Raised);
    if (T.Kind() == iotkFileNameFunc || T.Kind() == iotkStreamFunc) Results += T.Result();
    ++Ends;
  };
  new TRvIOThread(nullptr, List, TRvIOFileProc([&](const std::string& F) { Sum += int(F.size()); }),
                  "abc", End);
  new TRvIOThread(nullptr, List, TRvIOStreamProc([&](platform::TStream& S) {
                    Sum += &S == &Stream ? 10 : 1000;
                  }),
                  Stream, End);
  new TRvIOThread(nullptr, List, TRvIOFileFunc([](const std::string&) { return 7; }), "x", End);
  new TRvIOThread(nullptr, List, TRvIOProc([&] { Sum += 100; }), End);
  new TRvIOThread(nullptr, List, TRvIOStreamFunc([](platform::TStream&) { return 70; }), Stream, End);
  new TRvIOThread(nullptr, List,
                  TRvIOFileValueProc([&](const std::string&, int V) { Sum += V; }), "f", 1000, End);
  new TRvIOThread(nullptr, List,
                  TRvIOStreamValueProc([&](platform::TStream&, int V) { Sum += V; }), Stream, 10000,
                  End);
  new TRvIOThread(nullptr, List,
                  TRvIOFileValue2Proc([&](const std::string&, int A, int B) { Sum += A * B; }), "w",
                  300, 1000, End);
  ASSERT_TRUE(PumpUntil([&] { return Ends == 8; }));
  EXPECT_EQ(Sum.load(), 3 + 10 + 100 + 1000 + 10000 + 300000);
  EXPECT_EQ(Results, 77);
  EXPECT_EQ(List.Count(), 0);
}

TEST(RvIOThread, ExceptionsOfTheMethodAreReportedNotFatal) {
  TRvIOThreadList List;
  int Raised = 0;
  int Ends = 0;
  auto End = [&](TRvIOThread&, bool R) {
    Raised += R ? 1 : 0;
    ++Ends;
  };
  new TRvIOThread(nullptr, List, TRvIOProc([] { throw std::runtime_error("bad file"); }), End);
  new TRvIOThread(nullptr, List, TRvIOProc([] { throw std::bad_alloc(); }), End);
  new TRvIOThread(nullptr, List, TRvIOFileFunc([](const std::string&) -> int { throw 3; }), "", End);
  ASSERT_TRUE(PumpUntil([&] { return Ends == 3; }));
  EXPECT_EQ(Raised, 3);
}

TEST(RvIOThread, WaitUntilEmptyServesTheWorkersSynchronisedCalls) {
  TRvIOThreadList List;
  std::thread::id SyncOn;
  bool Ended = false;
  new TRvIOThread(
      nullptr, List, TRvIOProc([&] {
        std::this_thread::sleep_for(20ms);
        // Progress shown on the user-interface thread while it waits.
        platform::Synchronize([&] { SyncOn = std::this_thread::get_id(); });
      }),
      [&](TRvIOThread&, bool) { Ended = true; });
  List.WaitUntilEmpty(); // no event loop runs: the wait itself delivers
  EXPECT_TRUE(Ended);
  EXPECT_EQ(SyncOn, std::this_thread::get_id());
  EXPECT_EQ(List.Count(), 0);
}

TEST(RvIOThread, DestroyingTheListWaitsForItsWorkers) {
  std::atomic<bool> Finished{false};
  bool Ended = false;
  {
    TRvIOThreadList List;
    new TRvIOThread(
        nullptr, List, TRvIOProc([&] {
          std::this_thread::sleep_for(50ms);
          Finished = true;
        }),
        [&](TRvIOThread&, bool) { Ended = true; });
  }
  EXPECT_TRUE(Finished);
  EXPECT_TRUE(Ended);
  // A queued delivery for the freed list finds nothing to do.
  QCoreApplication::processEvents();
}

TEST(RvIOThread, AWorkerThatCallsAgainIsRecognisedAsInside) {
  TRvIOThreadList List;
  std::atomic<int> Nested{0};
  int Ends = 0;
  new TRvIOThread(
      nullptr, List, TRvIOFileProc([&](const std::string&) {
        // What the component does: on its own worker it runs synchronously.
        if (List.IsWorkerThread()) ++Nested;
      }),
      "f", [&](TRvIOThread& T, bool) {
        EXPECT_EQ(T.FileName(), "f");
        ++Ends;
      });
  // Another thread that is not a worker.
  bool OtherInside = true;
  std::thread Other([&] { OtherInside = List.IsWorkerThread(); });
  Other.join();
  ASSERT_TRUE(PumpUntil([&] { return Ends == 1; }));
  EXPECT_EQ(Nested.load(), 1);
  EXPECT_FALSE(OtherInside);
}

} // namespace
