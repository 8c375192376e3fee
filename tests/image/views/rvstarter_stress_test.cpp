// The thumbnail loader on a machine busier than it has cores: every picture
// of a mixed JPEG and PNG folder must arrive whole, round after round, both
// straight from the loader and through the view.
#include "image/views/rvstarter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "image/views/rvmview.h"
#include "mviewtestutil.h"
#include "support/tempfolder.h"

namespace {

using namespace rv;
using namespace mviewtest;

int Cores() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

// Threads that only burn processor time until the object goes: twice as
// many as there are cores, so that every worker waits for its turn.
class TBusyMachine {
public:
  TBusyMachine() {
    for (int i = 0; i < 2 * Cores(); ++i)
      FThreads.emplace_back([this] {
        unsigned spin = 0;
        while (!FStop.load(std::memory_order_relaxed)) spin = spin * 1664525u + 1013904223u;
        FSink.fetch_add(spin, std::memory_order_relaxed);
      });
  }
  ~TBusyMachine() {
    FStop = true;
    for (std::thread& t : FThreads) t.join();
  }

private:
  std::atomic<bool> FStop{false};
  std::atomic<unsigned> FSink{0};
  std::vector<std::thread> FThreads;
};

class StarterUnderLoad : public testing::Test {
protected:
  // Six JPEGs and six PNGs of differing sizes, each filled with its own grey.
  void SetUp() override {
    for (int i = 0; i < 12; ++i) {
      const std::string name = Dir.File("p" + std::to_string(i) + (i % 2 ? ".png" : ".jpg"));
      SaveMarked(name, 160 + 8 * i, 120 + 4 * i, 0x404040u + 0x080808u * static_cast<std::uint32_t>(i));
      Files.push_back(name);
    }
  }
  testing_support::TTempFolder Dir;
  std::vector<std::string> Files;
};

// Fewer under ThreadSanitizer, which runs every load many times slower.
#ifdef __SANITIZE_THREAD__
constexpr int Rounds = 6;
#else
constexpr int Rounds = 25;
#endif

TEST_F(StarterUnderLoad, EveryThumbnailArrivesWhole) {
  TBusyMachine busy;
  for (int round = 0; round < Rounds; ++round) {
    std::mutex lock;
    std::condition_variable ready;
    bool announced = false;
    TRvStarter starter([&] {
      std::lock_guard guard(lock);
      announced = true;
      ready.notify_one();
    });
    starter.SetPoolSize(Cores());
    std::uint64_t key = 1;
    for (const std::string& f : Files) starter.Enqueue({key++, f, 0, true, 50, 40, rfFastLinear});
    std::set<std::uint64_t> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (seen.size() < Files.size() && std::chrono::steady_clock::now() < deadline) {
      {
        std::unique_lock wait(lock);
        ready.wait_for(wait, std::chrono::milliseconds(50), [&] { return announced; });
        announced = false;
      }
      int rest = 0;
      for (const auto& result : starter.TakeResults(1 << 20, rest)) {
        ASSERT_FALSE(result->Failed) << "round " << round << ": " << result->FileName;
        EXPECT_TRUE(seen.insert(result->Key).second) << result->FileName;
        EXPECT_EQ(result->Bitmap->Width(), 50) << result->FileName;
      }
    }
    ASSERT_EQ(seen.size(), Files.size()) << "round " << round;
    EXPECT_EQ(starter.QueueCount() + starter.RunningCount(), 0);
  }
}

TEST_F(StarterUnderLoad, TheStripFillsWithoutAFailedCell) {
  TBusyMachine busy;
  for (int round = 0; round < Rounds; ++round) {
    TRastrumMView view;
    Shape(view, 12 * 54 + 4, 60, 0);
    view.StoreType = rvtThumb;
    view.ThreadPoolSize = Cores();
    for (const std::string& f : Files) view.SetImageFileName(view.AppendImage(), f);
    view.DeselectNU();
    Grab(view);
    const bool done = WaitFor(
        [&] {
          for (int i = 0; i < view.ImageCount(); ++i)
            if (!view.ImageHasPixels(i) && !view.ImageLoadFailed(i)) return false;
          return true;
        },
        60000);
    ASSERT_TRUE(done) << "round " << round;
    for (int i = 0; i < view.ImageCount(); ++i) ASSERT_FALSE(view.ImageLoadFailed(i)) << "round " << round << " " << i;
  }
}

} // namespace
