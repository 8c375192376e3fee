// An asynchronous load of a 6000 x 4000 JPEG through the input/output
// component, with the user-interface thread's event loop running: a 1 ms
// timer measures the longest gap between two of its ticks (the time the
// loop was blocked). Side by side, the same load run synchronously, which
// blocks the loop for the whole decode.
#include "bench_support.h" // before Qt, as libvips needs

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "image/io/rastrumio.h"
#include "image/model/rvbitmap.h"

namespace {

// One application for every benchmark, able to show widgets.
QCoreApplication& App() {
  bench::EnsureApplication();
  return *QCoreApplication::instance();
}

// A photograph-like 6000 x 4000 JPEG, written once.
const std::string& PhotoFile() {
  static const std::string name = [] {
    std::string path = "/tmp/pictrova_asyncload_" + std::to_string(::getpid()) + ".jpg";
    rv::TRastrumIO io;
    rv::TRvBitmap& b = *io.RvBitmap();
    b.Allocate(6000, 4000, rv::rvpf24Bit);
    std::uint32_t s = 1;
    for (int y = 0; y < 4000; ++y) {
      std::uint8_t* row = b.Scanline(y);
      for (int x = 0; x < 6000; ++x) {
        s = s * 1103515245u + 12345u;
        const int n = static_cast<int>((s >> 16) & 15);
        row[3 * x] = static_cast<std::uint8_t>((x / 24 + n) & 255);
        row[3 * x + 1] = static_cast<std::uint8_t>((y / 16 + n) & 255);
        row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) / 40 + n) & 255);
      }
    }
    io.Params().JpegQuality = 85;
    io.SaveToFile(path);
    std::atexit([] { std::remove(("/tmp/pictrova_asyncload_" + std::to_string(::getpid()) + ".jpg").c_str()); });
    return path;
  }();
  return name;
}

// Runs the event loop until the load finished; answers the longest gap
// between two ticks of a 1 ms timer, in milliseconds.
double RunLoad(bool Async) {
  QCoreApplication& app = App();
  (void)app;
  rv::TRvBitmap target;
  rv::TRastrumIO io;
  io.SetAttachedRvBitmap(&target);
  io.AsyncMode = Async;
  int lastProgress = -1;
  io.OnProgress = [&](void*, int Per) { lastProgress = Per; };
  QEventLoop loop;
  bool finished = false;
  io.OnFinishWork = [&](void*) {
    finished = true;
    loop.quit();
  };
  bench::TLoopBlockMeter meter;
  meter.Start();
  // Starting the load is itself part of what the loop waits for.
  QTimer::singleShot(0, [&] { io.LoadFromFile(PhotoFile()); });
  if (!finished) loop.exec();
  const double longest = meter.Stop();
  io.Threads().WaitUntilEmpty();
  if (io.Aborting || target.Width() != 6000) std::fprintf(stderr, "load failed\n");
  return longest;
}

void BM_AsyncLoad6000x4000Jpeg(benchmark::State& State) {
  PhotoFile();
  double worst = 0;
  for (auto _ : State) worst = std::max(worst, RunLoad(true));
  State.counters["max_block_ms"] = worst;
}
BENCHMARK(BM_AsyncLoad6000x4000Jpeg)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SyncLoad6000x4000Jpeg(benchmark::State& State) {
  PhotoFile();
  double worst = 0;
  for (auto _ : State) worst = std::max(worst, RunLoad(false));
  State.counters["max_block_ms"] = worst;
}
BENCHMARK(BM_SyncLoad6000x4000Jpeg)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
