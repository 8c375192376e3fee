// Resampling a 6000 x 4000 24-bit picture to 1500 x 1000 beside libvips'
// vips_resize with the same kernel on one thread, and the fast stretch of
// the thumbnails beside a plain copy of the same bytes. Each of our runs
// reports its time as a multiple of its yardstick ("x_vips", "x_copy").
// glib names members "signals", which Qt defines as a keyword: glib first.
#include "bench_support.h"

#include "image/model/rvbitmap.h"
#include "image/model/rvresample.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kSrcW = 6000, kSrcH = 4000, kDstW = 1500, kDstH = 1000;

const std::vector<std::uint8_t>& SourceBytes() {
  static const std::vector<std::uint8_t> bytes = bench::PhotoLikeBytes(kSrcW, kSrcH, 12345);
  return bytes;
}

rv::TRvBitmap& SourceBitmap() {
  static rv::TRvBitmap* bmp = [] {
    auto* b = new rv::TRvBitmap;
    b->SetLocation(rv::rvlMemory);
    b->Allocate(kSrcW, kSrcH, rv::rvpf24Bit);
    const auto& bytes = SourceBytes();
    for (int y = 0; y < kSrcH; ++y)
      std::memcpy(b->Scanline(y), bytes.data() + static_cast<std::size_t>(y) * kSrcW * 3, kSrcW * 3);
    return b;
  }();
  return *bmp;
}


// One full vips_resize to memory; answers seconds.
double VipsOnce(VipsKernel kernel, bool fair) {
  bench::InitVipsOnce();
  const auto& bytes = SourceBytes();
  const auto t0 = std::chrono::steady_clock::now();
  VipsImage* in = vips_image_new_from_memory(bytes.data(), bytes.size(), kSrcW, kSrcH, 3,
                                             VIPS_FORMAT_UCHAR);
  VipsImage* out = nullptr;
  // gap 0 asks for the full kernel over the whole reduction, as our passes do;
  // the default first shrinks by boxes.
  int rc = fair ? vips_resize(in, &out, 0.25, "kernel", kernel, "gap", 0.0, nullptr)
                : vips_resize(in, &out, 0.25, "kernel", kernel, nullptr);
  if (rc != 0) vips_error_exit(nullptr);
  std::size_t size = 0;
  void* mem = vips_image_write_to_memory(out, &size);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (mem == nullptr || size != static_cast<std::size_t>(kDstW) * kDstH * 3) vips_error_exit(nullptr);
  g_free(mem);
  g_object_unref(out);
  g_object_unref(in);
  return s;
}

double VipsBest(VipsKernel kernel, bool fair) {
  static std::map<std::pair<int, bool>, double> cache;
  auto key = std::make_pair(static_cast<int>(kernel), fair);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  double best = 1e30;
  for (int i = 0; i < 3; ++i) best = std::min(best, VipsOnce(kernel, fair));
  return cache[key] = best;
}

double CopyBest() {
  static double best = [] {
    const auto& bytes = SourceBytes();
    std::vector<std::uint8_t> copy(bytes.size());
    double b = 1e30;
    for (int i = 0; i < 5; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      std::memcpy(copy.data(), bytes.data(), bytes.size());
      benchmark::DoNotOptimize(copy.data());
      b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return b;
  }();
  return best;
}

void Ours(benchmark::State& state, rv::TResampleFilter filter, VipsKernel kernel, bool vector) {
  rv::TRvBitmap& src = SourceBitmap();
  rv::TRvBitmap dst;
  dst.SetLocation(rv::rvlMemory);
  dst.Allocate(kDstW, kDstH, rv::rvpf24Bit);
  rv::RvResampleSetVectorPaths(vector);
  double best = 1e30;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    rv::RvResampleBitmap(&src, &dst, filter);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    benchmark::DoNotOptimize(dst.Scanline(0));
  }
  rv::RvResampleSetVectorPaths(true);
  state.counters["best_ms"] = best * 1000;
  state.counters["vips_fair_ms"] = VipsBest(kernel, true) * 1000;
  state.counters["vips_default_ms"] = VipsBest(kernel, false) * 1000;
  state.counters["x_vips_fair"] = best / VipsBest(kernel, true);
  state.counters["x_vips_default"] = best / VipsBest(kernel, false);
  if (filter == rv::rfFastLinear) {
    state.counters["copy_ms"] = CopyBest() * 1000;
    state.counters["x_copy"] = best / CopyBest();
  }
}

void Vips(benchmark::State& state, VipsKernel kernel, bool fair) {
  bench::InitVipsOnce();
  for (auto _ : state) benchmark::DoNotOptimize(VipsOnce(kernel, fair));
}

void PlainCopy(benchmark::State& state) {
  const auto& bytes = SourceBytes();
  std::vector<std::uint8_t> copy(bytes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

} // namespace

BENCHMARK_CAPTURE(Ours, Lanczos3, rv::rfLanczos3, VIPS_KERNEL_LANCZOS3, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(Vips, Lanczos3_gap0, VIPS_KERNEL_LANCZOS3, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Vips, Lanczos3_default, VIPS_KERNEL_LANCZOS3, false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(Ours, Triangle, rv::rfTriangle, VIPS_KERNEL_LINEAR, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(Vips, Linear_gap0, VIPS_KERNEL_LINEAR, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Vips, Linear_default, VIPS_KERNEL_LINEAR, false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(Ours, FastLinear, rv::rfFastLinear, VIPS_KERNEL_LINEAR, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Lanczos3_plainLoops, rv::rfLanczos3, VIPS_KERNEL_LANCZOS3, false)->Unit(benchmark::kMillisecond)->Iterations(2);
