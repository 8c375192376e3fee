// One transition frame at 1920 x 1080 for representative effects (blends,
// wipes, slides, zooms) and the random ones, which touch every pixel through
// a per-place draw. A frame has to fit in one refresh at 60 Hz: each run
// reports its share of that 16.7 ms budget ("of_60Hz").
#include "image/model/rvtransitions.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

namespace {

using rv::TRvTransitionType;

constexpr int kW = 1920, kH = 1080;
constexpr double kFrameBudget = 1.0 / 60.0;

void Fill(platform::TBitmap& B, std::uint32_t Seed) {
  B.SetPixelFormat(platform::pf24bit);
  B.SetSize(kW, kH);
  std::uint32_t s = Seed;
  for (int y = 0; y < kH; ++y) {
    std::uint8_t* p = B.ScanLine(y);
    for (int i = 0; i < kW * 3; ++i) {
      s = s * 1664525u + 1013904223u;
      p[i] = static_cast<std::uint8_t>((i / 9 + y / 4 + (s >> 30)) & 255);
    }
  }
}

void BM_TransitionFrame(benchmark::State& State) {
  const auto effect = static_cast<TRvTransitionType>(State.range(0));
  const int progress = static_cast<int>(State.range(1));
  platform::TBitmap start, end, frame;
  Fill(start, 1);
  Fill(end, 2);
  const rv::TRGB back{40, 40, 40};
  for (auto _ : State) {
    rv::RvDrawTransition(effect, start, end, frame, progress, back, 77);
    benchmark::DoNotOptimize(frame.ScanLine(kH / 2));
  }
  State.SetItemsProcessed(State.iterations() * kW * kH);
  State.counters["of_60Hz"] =
      benchmark::Counter(static_cast<double>(State.iterations()) * kFrameBudget,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Effect code, progress (mid-way, 600 of 1024).
BENCHMARK(BM_TransitionFrame)
    ->ArgNames({"effect", "progress"})
    ->Args({rv::rvttCrossDissolve, 600})
    ->Args({rv::rvttFadeOutIn, 600})
    ->Args({rv::rvttLeftRight2, 600})
    ->Args({rv::rvttFromUpLeft, 600})
    ->Args({rv::rvttMoveLeftRight1, 600})
    ->Args({rv::rvttMoveUpDown1, 600})
    ->Args({rv::rvttCenter2, 600})
    ->Args({rv::rvttCenterZoom1, 600})
    ->Args({rv::rvttRandomBoxes, 600})
    ->Args({rv::rvttRandomPoints, 600})
    ->Unit(benchmark::kMillisecond);

} // namespace
