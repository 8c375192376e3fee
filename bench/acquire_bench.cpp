// An A4 page at 300 dpi in colour from SANE's test device: Acquire of the
// input/output component (without the source's window) side by side with
// scanimage and the same options. A 1 ms timer measures the longest time the
// event loop was kept waiting during Acquire.
#include "bench_support.h" // before Qt, as libvips needs

#include <benchmark/benchmark.h>

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "image/io/rastrumio.h"

namespace {

// SANE reads its configuration folder once per process: one for the run.
QString ConfigDir() {
  static QTemporaryDir dir;
  static const bool written = [] {
    const std::string path = dir.path().toStdString();
    std::ofstream(path + "/dll.conf") << "test\n";
    std::ofstream(path + "/test.conf") << "number_of_devices 1\nmode Color\ndepth 8\nresolution 300\n"
                                          "test-picture \"Color pattern\"\ngeometry_max 300\n"
                                          "tl_x 0\ntl_y 0\nbr_x 210\nbr_y 297\n";
    setenv("SANE_CONFIG_DIR", path.c_str(), 1);
    return true;
  }();
  (void)written;
  return dir.path();
}

void BM_AcquireA4Colour300Dpi(benchmark::State& State) {
  ConfigDir();
  bench::EnsureApplication();
  double worst = 0;
  for (auto _ : State) {
    rv::TRastrumIO io;
    io.TWainParams().VisibleDialog = false;
    io.TWainParams().SetProgressIndicators(false);
    bench::TLoopBlockMeter meter;
    meter.Start();
    const bool ok = io.Acquire();
    worst = std::max(worst, meter.Stop());
    if (!ok || io.RvBitmap()->Width() != 2480) State.SkipWithError("the test device gave no A4 page");
  }
  State.counters["max_block_ms"] = worst;
}
BENCHMARK(BM_AcquireA4Colour300Dpi)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScanimageA4Colour300Dpi(benchmark::State& State) {
  const QString dir = ConfigDir();
  for (auto _ : State) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), dir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("scanimage"), {QStringLiteral("-d"), QStringLiteral("test:0"),
                                          QStringLiteral("--format=pnm")});
    p.waitForFinished(120000);
    const QByteArray page = p.readAllStandardOutput();
    if (p.exitCode() != 0 || page.size() < 2480 * 3507 * 3) State.SkipWithError("scanimage failed");
    benchmark::DoNotOptimize(page.data());
  }
}
BENCHMARK(BM_ScanimageA4Colour300Dpi)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
