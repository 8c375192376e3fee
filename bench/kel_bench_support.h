// What the control library's benchmarks share: Qt's application object
// (offscreen) made before any benchmark runs, and the peer they are measured
// against, QPainter::fillRect of the same area.
#pragma once

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

namespace kelbench {

struct TAppOnce {
  TAppOnce() {
    if (QCoreApplication::instance() != nullptr) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "pictrova_bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
};
inline TAppOnce gApp;

// Seconds of one fillRect of w x h on a 32-bit picture.
inline double PeerSeconds(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  const int rounds = 2000;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    QPainter p(&image);
    p.fillRect(QRect(0, 0, w, h), QColor(i & 255, 20, 30));
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

// Our time per iteration over the peer's, as the counter per_fillRect.
inline void PerFillRect(benchmark::State& state, int w, int h) {
  state.counters["per_fillRect"] = benchmark::Counter(
      PeerSeconds(w, h), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace kelbench
