// Decoding PNM, PCX and TGA beside a plain copy of the same pixel bytes (the
// memory-bandwidth limit). Each file is written by our own writer once, in
// memory, and decoded from memory.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "image/io/pcx/rvpcx.h"
#include "image/io/pnm/rvpnm.h"
#include "image/io/tga/rvtga.h"
#include "image/model/rvprogress.h"

namespace {

constexpr int Width = 3000;
constexpr int Height = 2000;

// A photograph-like picture: smooth gradients with a little noise, so that
// run-length coding finds short runs only.
void MakePicture(rv::TRvBitmap& Bmp) {
  Bmp.Allocate(Width, Height, rv::rvpf24Bit);
  std::uint32_t Seed = 12345;
  for (int Y = 0; Y < Height; ++Y) {
    std::uint8_t* Row = Bmp.Scanline(Y);
    for (int X = 0; X < Width; ++X) {
      Seed = Seed * 1103515245u + 12345u;
      const int Noise = static_cast<int>((Seed >> 16) & 3);
      Row[3 * X] = static_cast<std::uint8_t>(X / 12 + Noise);
      Row[3 * X + 1] = static_cast<std::uint8_t>(Y / 8 + Noise);
      Row[3 * X + 2] = static_cast<std::uint8_t>((X + Y) / 20);
    }
  }
}

enum TFormat { fmPnm, fmPcx, fmPcxRaw, fmTga, fmTgaRaw };

const std::vector<std::uint8_t>& Encoded(TFormat Format) {
  static std::vector<std::uint8_t> Files[5];
  std::vector<std::uint8_t>& F = Files[Format];
  if (!F.empty()) return F;
  rv::TRvBitmap Bmp;
  MakePicture(Bmp);
  rv::TIOParamsVals Params;
  Params.PcxCompression = Format == fmPcxRaw ? 0 : 1;
  Params.TgaCompressed = Format == fmTga;
  platform::TMemoryStream S;
  rv::TRvLocalProgress P;
  switch (Format) {
  case fmPnm: rv::PnmWriteStream(S, Bmp, Params, P.Rec); break;
  case fmPcx:
  case fmPcxRaw: rv::PcxWriteStream(S, Bmp, Params, P.Rec); break;
  default: rv::TgaWriteStream(S, Bmp, Params, nullptr, P.Rec); break;
  }
  F = S.Data();
  return F;
}

void Decode(benchmark::State& State, TFormat Format) {
  const std::vector<std::uint8_t>& File = Encoded(Format);
  for (auto _ : State) {
    platform::TBytesStream S(File.data(), static_cast<std::int64_t>(File.size()));
    rv::TRvBitmap Bmp;
    rv::TIOParamsVals Params;
    rv::TRvLocalProgress P;
    std::unique_ptr<rv::TRvMask> Mask;
    switch (Format) {
    case fmPnm: rv::PnmReadStream(S, Bmp, Params, P.Rec, false); break;
    case fmPcx:
    case fmPcxRaw: rv::PcxReadStream(S, Bmp, Params, false, P.Rec, S.Size()); break;
    default: rv::TgaReadStream(S, Bmp, Params, P.Rec, false, Mask, false); break;
    }
    if (P.Rec.IsAborting()) State.SkipWithError("decode failed");
    benchmark::DoNotOptimize(Bmp.Scanline(0));
  }
  State.SetBytesProcessed(State.iterations() * std::int64_t{Width} * Height * 3);
}

// The peer: the same number of pixel bytes copied into a fresh buffer.
void BM_PlainCopy(benchmark::State& State) {
  std::vector<std::uint8_t> Source(static_cast<std::size_t>(Width) * Height * 3, 7);
  for (auto _ : State) {
    std::unique_ptr<std::uint8_t[]> Dest(new std::uint8_t[Source.size()]);
    std::memcpy(Dest.get(), Source.data(), Source.size());
    benchmark::DoNotOptimize(Dest.get());
  }
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(Source.size()));
}

void BM_PnmDecode(benchmark::State& S) { Decode(S, fmPnm); }
void BM_PcxDecodeRle(benchmark::State& S) { Decode(S, fmPcx); }
void BM_PcxDecodeRaw(benchmark::State& S) { Decode(S, fmPcxRaw); }
void BM_TgaDecodeRle(benchmark::State& S) { Decode(S, fmTga); }
void BM_TgaDecodeRaw(benchmark::State& S) { Decode(S, fmTgaRaw); }

} // namespace

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PnmDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PcxDecodeRle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PcxDecodeRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaDecodeRle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaDecodeRaw)->Unit(benchmark::kMillisecond);
