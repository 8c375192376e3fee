// The thumbnail view with a folder of 24-megapixel pictures.
//
// Thumbnails per second: the view's loader on every core against libvips'
// vipsthumbnail (one process per core) on the same files at the same size.
// The strip scenario: 10,000 records appended, the first screen painted and
// loaded, then the strip scrolled while thumbnails load, a 1 ms timer on the
// user-interface thread measuring the longest time it was kept waiting.
// Memory: 10,000 stored thumbnails against 10,000 times the cell's bytes.
//
// The pictures (8 JPEGs and 8 PNGs, 6000 x 4000) are made once and kept in
// /tmp/pictrova_thumbs_bench; the folders of thousands of files are hard
// links to them, so every file is read and decoded in full.
#include "bench_support.h" // before Qt

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <ctime>
#include <thread>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "image/io/rastrumio.h"
#include "image/views/rvmview.h"
#include "image/views/rvstarter.h"

namespace {

const std::string Root = "/tmp/pictrova_thumbs_bench";
constexpr int PhotoW = 6000, PhotoH = 4000, Sources = 8;

bool Exists(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && st.st_size > 0;
}

// The 16 source pictures, written once.
const std::vector<std::string>& SourceFiles() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> names;
    ::mkdir(Root.c_str(), 0755);
    for (int i = 0; i < 2 * Sources; ++i) {
      const bool jpeg = i < Sources;
      const std::string name = Root + "/photo" + std::to_string(i) + (jpeg ? ".jpg" : ".png");
      if (!Exists(name)) {
        rv::TRastrumIO io;
        rv::TRvBitmap& b = *io.RvBitmap();
        b.Allocate(PhotoW, PhotoH, rv::rvpf24Bit);
        const std::vector<std::uint8_t> bytes = bench::PhotoLikeBytes(PhotoW, PhotoH, 7u + i);
        for (int y = 0; y < PhotoH; ++y)
          std::memcpy(b.Scanline(y), bytes.data() + static_cast<std::size_t>(y) * PhotoW * 3, PhotoW * 3);
        io.Params().JpegQuality = 85;
        io.Params().PngCompression = 3;
        io.SaveToFile(name);
      }
      names.push_back(name);
    }
    return names;
  }();
  return files;
}

// A folder of Count names, hard links to the sources in turn.
std::vector<std::string> Folder(int Count) {
  // The sources first: they make the root the folder goes in.
  const std::vector<std::string>& sources = SourceFiles();
  const std::string dir = Root + "/folder" + std::to_string(Count);
  ::mkdir(dir.c_str(), 0755);
  std::vector<std::string> names;
  for (int i = 0; i < Count; ++i) {
    const std::string& source = sources[static_cast<std::size_t>(i) % sources.size()];
    char name[32];
    std::snprintf(name, sizeof name, "/f%05d", i);
    const std::string path = dir + name + source.substr(source.size() - 4);
    if (!Exists(path)) ::link(source.c_str(), path.c_str());
    names.push_back(path);
  }
  return names;
}

// The files of the throughput runs: 0 all, 1 the JPEGs, 2 the PNGs.
std::vector<std::string> Kind(int Which) {
  std::vector<std::string> all = Folder(4 * 2 * Sources), kept;
  for (const std::string& f : all) {
    const bool jpeg = f.ends_with(".jpg");
    if (Which == 0 || (Which == 1) == jpeg) kept.push_back(f);
  }
  return kept;
}

int Cores() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

// Processor time of the calling thread: what it worked, not what it waited
// for the processor on a busy machine.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ResidentMB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// ---- Thumbnails per second

void BM_ThumbnailsPictrova(benchmark::State& state) {
  const std::vector<std::string> files = Kind(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::mutex lock;
    std::condition_variable ready;
    bool announced = false;
    rv::TRvStarter starter([&] {
      std::lock_guard guard(lock);
      announced = true;
      ready.notify_one();
    });
    int left = static_cast<int>(files.size());
    std::vector<std::string> failed;
    starter.SetPoolSize(Cores());
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t key = 1;
    for (const std::string& f : files) starter.Enqueue({key++, f, 0, true, 100, 100, rv::rfFastLinear});
    while (left > 0) {
      {
        std::unique_lock wait(lock);
        ready.wait_for(wait, std::chrono::milliseconds(50), [&] { return announced; });
        announced = false;
      }
      int rest = 0;
      for (const auto& result : starter.TakeResults(1 << 20, rest)) {
        if (result->Failed) failed.push_back(result->FileName);
        --left;
      }
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!failed.empty()) {
      // Which file, and whether it loads when asked again on its own: a file
      // that does was unreadable for a moment (gone, replaced, an error of
      // the system), one that does not is a fault of the reader.
      rv::TRastrumIO io;
      const bool again = !rv::RvRunLoadJob({0, failed.front(), 0, true, 100, 100, rv::rfFastLinear}, io)->Failed;
      const std::string message = "a thumbnail failed: " + std::to_string(failed.size()) + " of " +
                                  std::to_string(files.size()) + ", the first " + failed.front() +
                                  (again ? " (loads when asked again)" : " (fails again)");
      std::fprintf(stderr, "%s\n", message.c_str());
      state.SkipWithError(message.c_str());
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
  state.counters["threads"] = Cores();
}
BENCHMARK(BM_ThumbnailsPictrova)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ThumbnailsVips(benchmark::State& state) {
  if (std::system("command -v vipsthumbnail >/dev/null 2>&1") != 0) {
    state.SkipWithError("vipsthumbnail missing (libvips-tools)");
    return;
  }
  const std::vector<std::string> files = Kind(static_cast<int>(state.range(0)));
  const std::string out = Root + "/vips_out";
  ::mkdir(out.c_str(), 0755);
  // One process per core, each over its share of the files.
  std::string command = "(";
  const int cores = Cores();
  for (int c = 0; c < cores; ++c) {
    // At the loader's own priority (its workers run niced by 5).
    command += " VIPS_CONCURRENCY=1 nice -n 5 vipsthumbnail --size 100x100 -o '" + out + "/%s.jpg'";
    for (std::size_t i = static_cast<std::size_t>(c); i < files.size(); i += static_cast<std::size_t>(cores))
      command += " '" + files[i] + "'";
    command += " &";
  }
  command += " wait)";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("vipsthumbnail failed");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
  state.counters["threads"] = cores;
}
BENCHMARK(BM_ThumbnailsVips)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// ---- Records

void BM_AppendRecords(benchmark::State& state) {
  bench::EnsureApplication();
  const std::vector<std::string> files = Folder(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rv::TRastrumMView view;
    view.StoreType = rv::rvtThumb;
    for (const std::string& f : files) view.SetImageFileName(view.AppendImage(), f);
    benchmark::DoNotOptimize(view.ImageCount());
    state.PauseTiming();
    view.StopLoaders();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendRecords)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// ---- The strip with 10,000 files

void BM_StripScenario(benchmark::State& state) {
  bench::EnsureApplication();
  const std::vector<std::string> files = Folder(10000);
  for (auto _ : state) {
    rv::TRastrumMView view;
    view.resize(1280, 120);
    view.StoreType = rv::rvtThumb;
    view.ThreadPoolSize = Cores();
    view.SetScrollBars(rv::ssHorizontal);
    view.show();
    QElapsedTimer clock;
    clock.start();
    for (const std::string& f : files) view.SetImageFileName(view.AppendImage(), f);
    view.DeselectNU();
    const double filled = clock.nsecsElapsed() / 1e6;
    bool painted = false;
    view.OnBeforeImageDraw = [&](void*, int, int, int, platform::TCanvas&) { painted = true; };
    clock.restart();
    while (!painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    view.OnBeforeImageDraw = nullptr;
    const double firstPaint = clock.nsecsElapsed() / 1e6;
    int visible = 0;
    while (visible < view.ImageCount() && view.ImageVisibility(visible) != 0) ++visible;
    // The JPEGs of the first screen (decoded at reduced scale), then all.
    auto screenLoaded = [&](bool JpegOnly) {
      for (int i = 0; i < visible; ++i)
        if ((!JpegOnly || view.ImageFileName(i).ends_with(".jpg")) && !view.ImageHasPixels(i) &&
            !view.ImageLoadFailed(i))
          return false;
      return true;
    };
    while (!screenLoaded(true)) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double jpegScreen = clock.nsecsElapsed() / 1e6;
    while (!screenLoaded(false)) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double firstScreen = clock.nsecsElapsed() / 1e6;

    // Scroll 30 pixels every 16 ms for 4 seconds while the loader works.
    // The meter sees every stall of the loop, paints included; the second
    // timer takes the processor time the thread spent between two ticks,
    // which a busy machine's scheduling does not inflate.
    bench::TLoopBlockMeter meter;
    double busiest = 0, lastCpu = ThreadCpuMs();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const double cpu = ThreadCpuMs();
      busiest = std::max(busiest, cpu - lastCpu);
      lastCpu = cpu;
    });
    QTimer scroller;
    QObject::connect(&scroller, &QTimer::timeout, [&] {
      view.SetViewX(view.ViewX() + 30);
      view.repaint();
    });
    QElapsedTimer span;
    span.start();
    meter.Start();
    ticker.start(1);
    scroller.start(16);
    while (span.elapsed() < 4000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ticker.stop();
    scroller.stop();
    const double longest = meter.Stop();
    int loaded = 0;
    for (int i = 0; i < view.ImageCount(); ++i) loaded += view.ImageHasPixels(i);
    state.counters["fill_ms"] = filled;
    state.counters["first_paint_ms"] = firstPaint;
    state.counters["first_screen_jpeg_ms"] = jpegScreen;
    state.counters["first_screen_ms"] = firstScreen;
    state.counters["screen_cells"] = visible;
    state.counters["max_stall_ms"] = longest;
    state.counters["max_busy_ms"] = busiest;
    state.counters["scrolled_px"] = view.ViewX();
    state.counters["loaded"] = loaded;
  }
}
BENCHMARK(BM_StripScenario)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- Memory of 10,000 stored thumbnails

void BM_StoreMemory(benchmark::State& state) {
  bench::EnsureApplication();
  for (auto _ : state) {
    const double before = ResidentMB();
    rv::TRastrumMView view;
    view.StoreType = rv::rvtThumb;
    rv::TRvBitmap thumb;
    thumb.Allocate(100, 67, rv::rvpf24Bit);
    const std::vector<std::uint8_t> bytes = bench::PhotoLikeBytes(100, 67, 3);
    for (int y = 0; y < 67; ++y) std::memcpy(thumb.Scanline(y), bytes.data() + y * 300, 300);
    view.LockUpdate();
    for (int i = 0; i < 10000; ++i) view.SetImage(view.AppendImage(), &thumb);
    view.UnlockUpdate();
    const double after = ResidentMB();
    state.counters["resident_MB"] = after - before;
    state.counters["cells_MB"] = 10000.0 * 100 * 100 * 3 / (1 << 20);
  }
}
BENCHMARK(BM_StoreMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
