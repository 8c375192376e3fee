// An A4 page at 300 dpi in colour from SANE's test device: Acquire of the
// input/output component (without the source's window) side by side with
// scanimage and the same options. A 1 ms timer measures the longest time the
// event loop was kept waiting during Acquire.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

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

void App() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "acquire_bench";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  new QApplication(argc, argv);
}

void BM_AcquireA4Colour300Dpi(benchmark::State& State) {
  ConfigDir();
  App();
  double worst = 0;
  for (auto _ : State) {
    rv::TRastrumIO io;
    io.TWainParams().VisibleDialog = false;
    io.TWainParams().SetProgressIndicators(false);
    QElapsedTimer clock;
    qint64 lastTick = 0, longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      longest = std::max(longest, now - lastTick);
      lastTick = now;
    });
    ticker.start();
    clock.start();
    const bool ok = io.Acquire();
    longest = std::max(longest, clock.nsecsElapsed() - lastTick);
    if (!ok || io.RvBitmap()->Width() != 2480) State.SkipWithError("the test device gave no A4 page");
    worst = std::max(worst, static_cast<double>(longest) / 1e6);
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
