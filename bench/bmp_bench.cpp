// BMP decoding beside a plain copy of the same pixel bytes, the memory
// bandwidth limit: 24-bit, 8-bit palette and RLE8 files of 4000 x 3000.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "image/io/bmp/rvbmp.h"
#include "image/io/rvsafeio.h"
#include "platform/stream.h"

namespace {

constexpr int BenchWidth = 4000;
constexpr int BenchHeight = 3000;

void Put32(std::vector<std::uint8_t>& B, std::uint32_t V) {
  for (int i = 0; i < 4; ++i) B.push_back(static_cast<std::uint8_t>(V >> (8 * i)));
}

// File and information headers; the pixel data start right after the palette.
std::vector<std::uint8_t> Header(int Bits, std::uint32_t Compression, int Colours) {
  std::vector<std::uint8_t> b = {'B', 'M'};
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 14 + 40 + 4 * static_cast<std::uint32_t>(Colours));
  Put32(b, 40);
  Put32(b, BenchWidth);
  Put32(b, BenchHeight);
  Put32(b, 1u | (static_cast<std::uint32_t>(Bits) << 16));
  Put32(b, Compression);
  Put32(b, 0);
  Put32(b, 3780);
  Put32(b, 3780);
  Put32(b, static_cast<std::uint32_t>(Colours));
  Put32(b, 0);
  for (int i = 0; i < Colours; ++i) Put32(b, static_cast<std::uint32_t>(i * 0x010203) & 0xFFFFFF);
  return b;
}

struct TFiles {
  std::vector<std::uint8_t> Rgb24, Pal8, Rle8;
  std::size_t Rgb24Pixels = 0, Pal8Pixels = 0, Rle8Pixels = 0;

  TFiles() {
    Rgb24 = Header(24, 0, 0);
    Rgb24Pixels = Rgb24.size();
    const std::size_t row24 = static_cast<std::size_t>(rv::RvRowLen(BenchWidth, 24));
    for (int y = 0; y < BenchHeight; ++y)
      for (std::size_t x = 0; x < row24; ++x) Rgb24.push_back(static_cast<std::uint8_t>(x * 7 + y));

    Pal8 = Header(8, 0, 256);
    Pal8Pixels = Pal8.size();
    const std::size_t row8 = static_cast<std::size_t>(rv::RvRowLen(BenchWidth, 8));
    for (int y = 0; y < BenchHeight; ++y)
      for (std::size_t x = 0; x < row8; ++x) Pal8.push_back(static_cast<std::uint8_t>(x / 3 + y));

    // Runs of 1 to 16 pixels, the texture of a scanned drawing.
    Rle8 = Header(8, 1, 256);
    Rle8Pixels = Rle8.size();
    std::vector<std::uint8_t> indexes(BenchWidth),
        out(static_cast<std::size_t>(rv::BmpRleRowBound(BenchWidth)));
    for (int y = 0; y < BenchHeight; ++y) {
      for (int x = 0; x < BenchWidth; ++x)
        indexes[x] = static_cast<std::uint8_t>((x / (1 + (x + y) % 16)) & 0xFF);
      const int n = rv::BmpEncodeRle8(indexes.data(), BenchWidth, out.data());
      Rle8.insert(Rle8.end(), out.begin(), out.begin() + n);
    }
    Rle8.push_back(0);
    Rle8.push_back(1);
  }
};

const TFiles& Files() {
  static const TFiles files;
  return files;
}

void Decode(benchmark::State& State, const std::vector<std::uint8_t>& File) {
  rv::TRvBitmap bitmap;
  for (auto _ : State) {
    platform::TBytesStream s(File.data(), static_cast<std::int64_t>(File.size()));
    rv::TIOParamsVals params;
    rv::TRvLocalProgress progress;
    rv::BmpReadStream(s, &bitmap, static_cast<std::int64_t>(File.size()), params, progress.Rec,
                      false);
    if (progress.Rec.IsAborting()) State.SkipWithError("decode failed");
    benchmark::DoNotOptimize(bitmap.Scanline(0));
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) *
                          static_cast<std::int64_t>(File.size()));
}

void Copy(benchmark::State& State, const std::vector<std::uint8_t>& File, std::size_t PixelStart) {
  std::vector<std::uint8_t> dest(File.size() - PixelStart);
  for (auto _ : State) {
    std::memcpy(dest.data(), File.data() + PixelStart, dest.size());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) *
                          static_cast<std::int64_t>(File.size()));
}

// The same copy into a block allocated for each pass, as a decode must: the
// page faults of fresh memory are part of every load.
void CopyFresh(benchmark::State& State, const std::vector<std::uint8_t>& File,
               std::size_t PixelStart) {
  for (auto _ : State) {
    std::unique_ptr<std::uint8_t[]> dest(new std::uint8_t[File.size() - PixelStart]);
    std::memcpy(dest.get(), File.data() + PixelStart, File.size() - PixelStart);
    benchmark::DoNotOptimize(dest.get());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) *
                          static_cast<std::int64_t>(File.size()));
}

void BM_BmpDecode24(benchmark::State& State) { Decode(State, Files().Rgb24); }
void BM_PlainCopy24(benchmark::State& State) { Copy(State, Files().Rgb24, Files().Rgb24Pixels); }
void BM_FreshCopy24(benchmark::State& State) {
  CopyFresh(State, Files().Rgb24, Files().Rgb24Pixels);
}
void BM_BmpDecode8(benchmark::State& State) { Decode(State, Files().Pal8); }
void BM_PlainCopy8(benchmark::State& State) { Copy(State, Files().Pal8, Files().Pal8Pixels); }
void BM_BmpDecodeRle8(benchmark::State& State) { Decode(State, Files().Rle8); }
void BM_PlainCopyRle8(benchmark::State& State) { Copy(State, Files().Rle8, Files().Rle8Pixels); }

} // namespace

BENCHMARK(BM_BmpDecode24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopy24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshCopy24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpDecode8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopy8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpDecodeRle8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopyRle8)->Unit(benchmark::kMillisecond);
