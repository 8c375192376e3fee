// Runs a fuzz target over every file of its saved corpus, so that the test
// build (with sanitizers) checks each input that ever mattered. An input that
// hangs or takes memory out of all proportion is a finding as much as a
// crash: a watchdog ends the run naming it, and the slowest input is told.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Clock = std::chrono::steady_clock;

// Far above what any input of the corpus needs under the sanitizers on a busy
// machine, far below what a runaway loop or allocation reaches.
constexpr std::chrono::seconds DefaultSecondsLimit{30};
constexpr long DefaultMegabytesLimit = 2048;

long Setting(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  const long value = std::strtol(text, nullptr, 10);
  return value > 0 ? value : fallback;
}

long ResidentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

// The input being replayed, watched from a thread of its own.
class TWatchdog {
public:
  TWatchdog()
      : FSeconds(Setting("PICTROVA_REPLAY_SECONDS", DefaultSecondsLimit.count())),
        FMegabytes(Setting("PICTROVA_REPLAY_MEGABYTES", DefaultMegabytesLimit)), FThread([this] { Watch(); }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FDone = true;
    }
    FWake.notify_all();
    FThread.join();
  }
  void Begin(const std::string& name) {
    std::lock_guard<std::mutex> lock(FLock);
    FName = name;
    FStart = Clock::now();
    FActive = true;
  }
  void End() {
    std::lock_guard<std::mutex> lock(FLock);
    FActive = false;
  }

private:
  void Watch() {
    std::unique_lock<std::mutex> lock(FLock);
    while (!FWake.wait_for(lock, std::chrono::milliseconds(100), [this] { return FDone; })) {
      if (!FActive) continue;
      const auto spent = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - FStart).count();
      const long resident = ResidentMegabytes();
      if (spent < FSeconds && resident < FMegabytes) continue;
      std::fprintf(stderr, "replay: %s took %lld s and %ld MB resident (limits %ld s, %ld MB)\n", FName.c_str(),
                   static_cast<long long>(spent), resident, FSeconds, FMegabytes);
      std::fflush(stderr);
      std::_Exit(2);
    }
  }

  const long FSeconds;
  const long FMegabytes;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FDone = false;
  bool FActive = false;
  std::string FName;
  Clock::time_point FStart;
  std::thread FThread;
};

} // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::size_t count = 0;
  TWatchdog watchdog;
  Clock::duration slowest{};
  std::string slowestName;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::recursive_directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (fs::exists(argv[i])) {
      files.emplace_back(argv[i]);
    }
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      watchdog.Begin(file.string());
      const Clock::time_point start = Clock::now();
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      const Clock::duration spent = Clock::now() - start;
      watchdog.End();
      if (spent > slowest) {
        slowest = spent;
        slowestName = file.filename().string();
      }
      ++count;
    }
  }
  std::printf("replayed %zu inputs; slowest %s (%lld ms)\n", count, slowestName.c_str(),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
  return count > 0 ? 0 : 1;
}
