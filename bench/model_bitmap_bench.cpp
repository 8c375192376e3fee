// A picture too large for memory lives in a mapped temporary file: touching
// every row of it keeps resident memory near one mapped window, far below
// the picture's size.
#include "image/model/rvbitmap.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <fstream>
#include <string>

namespace {

double ResidentMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

void BM_FileKindRowByRow(benchmark::State& state) {
  const int width = 16384; // 24-bit rows of 48 KB
  const int height = static_cast<int>(state.range(0));
  double peakGrowth = 0, pictureMB = 0;
  bool fileKind = false;
  for (auto _ : state) {
    const double before = ResidentMB();
    rv::TRvBitmap picture;
    // What a picture above half the free memory gets, at a size that runs
    // in seconds.
    picture.SetMapThreshold(0);
    picture.Allocate(width, height, rv::rvpf24Bit);
    fileKind = picture.Location() == rv::rvlFile;
    pictureMB = static_cast<double>(picture.RowLen()) * height / (1024.0 * 1024.0);
    for (int y = 0; y < height; ++y) {
      std::memset(picture.Scanline(y), y & 255, static_cast<std::size_t>(picture.RowLen()));
      if ((y & 255) == 0) peakGrowth = std::max(peakGrowth, ResidentMB() - before);
    }
    std::uint64_t sum = 0;
    for (int y = height - 1; y >= 0; --y) sum += picture.Scanline(y)[y % width];
    benchmark::DoNotOptimize(sum);
    peakGrowth = std::max(peakGrowth, ResidentMB() - before);
  }
  state.counters["file_kind"] = fileKind ? 1 : 0;
  state.counters["picture_MB"] = pictureMB;
  state.counters["peak_resident_growth_MB"] = peakGrowth;
  state.counters["window_MB"] = static_cast<double>(rv::TRvBitmap::MapWindow) / (1024.0 * 1024.0);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * width * 3 * height);
}

} // namespace

BENCHMARK(BM_FileKindRowByRow)->Arg(21846)->Iterations(1)->Unit(benchmark::kMillisecond);
