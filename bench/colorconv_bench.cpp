// Conversion of a 6000 x 4000 24-bit picture to gray and to 256 colours
// beside libvips on one thread. Gray: vips_colourspace to B_W. 256 colours:
// libvips has no operation that only quantises, so the yardstick is its
// closest one, a palette PNG saved to memory (libimagequant, no dithering,
// no compression, no filter), which also pays for writing the PNG. Each of
// our runs reports its time as a multiple of its yardstick ("x_vips").
// glib names members "signals", which Qt defines as a keyword: glib first.
#include "bench_support.h"

#include "image/model/rvcolorconv.h"
#include "platform/graphics.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr int kW = 6000, kH = 4000;

const std::vector<std::uint8_t>& SourceBytes() {
  static const std::vector<std::uint8_t> bytes = bench::PhotoLikeBytes(kW, kH, 4711);
  return bytes;
}

void Fill(platform::TBitmap& B) {
  const auto& bytes = SourceBytes();
  for (int y = 0; y < kH; ++y)
    std::memcpy(B.ScanLine(y), bytes.data() + static_cast<std::size_t>(y) * kW * 3, kW * 3);
}


double Seconds(std::chrono::steady_clock::time_point T0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
}

double VipsGrayOnce() {
  bench::InitVipsOnce();
  const auto& bytes = SourceBytes();
  const auto t0 = std::chrono::steady_clock::now();
  VipsImage* in =
      vips_image_new_from_memory(bytes.data(), bytes.size(), kW, kH, 3, VIPS_FORMAT_UCHAR);
  VipsImage* out = nullptr;
  if (vips_colourspace(in, &out, VIPS_INTERPRETATION_B_W, nullptr) != 0) vips_error_exit(nullptr);
  std::size_t size = 0;
  void* mem = vips_image_write_to_memory(out, &size);
  const double s = Seconds(t0);
  if (mem == nullptr) vips_error_exit(nullptr);
  g_free(mem);
  g_object_unref(out);
  g_object_unref(in);
  return s;
}

double VipsPaletteOnce() {
  bench::InitVipsOnce();
  const auto& bytes = SourceBytes();
  const auto t0 = std::chrono::steady_clock::now();
  VipsImage* in =
      vips_image_new_from_memory(bytes.data(), bytes.size(), kW, kH, 3, VIPS_FORMAT_UCHAR);
  void* buf = nullptr;
  std::size_t len = 0;
  if (vips_pngsave_buffer(in, &buf, &len, "palette", TRUE, "bitdepth", 8, "dither", 0.0,
                          "compression", 0, "filter", VIPS_FOREIGN_PNG_FILTER_NONE, nullptr) != 0)
    vips_error_exit(nullptr);
  const double s = Seconds(t0);
  g_free(buf);
  g_object_unref(in);
  return s;
}

double Best(double (*Once)(), int Runs) {
  double best = 1e30;
  for (int i = 0; i < Runs; ++i) best = std::min(best, Once());
  return best;
}

double VipsGrayBest() {
  static const double best = Best(VipsGrayOnce, 3);
  return best;
}
double VipsPaletteBest() {
  static const double best = Best(VipsPaletteOnce, 2);
  return best;
}

void OursGray(benchmark::State& state) {
  platform::TBitmap b(kW, kH, platform::pf24bit);
  double best = 1e30;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(b);
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    rv::RvConvertRectToGray(&b, 0, 0, kW, kH, nullptr, nullptr);
    best = std::min(best, Seconds(t0));
    benchmark::DoNotOptimize(b.ScanLine(0));
  }
  state.counters["best_ms"] = best * 1000;
  state.counters["vips_ms"] = VipsGrayBest() * 1000;
  state.counters["x_vips"] = best / VipsGrayBest();
}

void OursPalette(benchmark::State& state) {
  platform::TBitmap b(kW, kH, platform::pf24bit);
  std::vector<rv::TRGB> palette(256);
  double best = 1e30;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(b);
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    rv::RvQuantizeBitmap(&b, 256, palette.data(), nullptr, nullptr);
    best = std::min(best, Seconds(t0));
    benchmark::DoNotOptimize(b.ScanLine(0));
  }
  state.counters["best_ms"] = best * 1000;
  state.counters["vips_ms"] = VipsPaletteBest() * 1000;
  state.counters["x_vips"] = best / VipsPaletteBest();
}

void VipsGray(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(VipsGrayOnce());
}

void VipsPalette(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(VipsPaletteOnce());
}

} // namespace

BENCHMARK(OursGray)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(VipsGray)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(OursPalette)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(VipsPalette)->Unit(benchmark::kMillisecond)->Iterations(2);
