// What the benchmarks of a reader of ours beside a bare decode of the same
// bytes by the library it stands on share: the timing, and a real
// photograph to encode their files from.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image/io/jpeg/jpegfilt.h"
#include "image/model/rvbitmap.h"
#include "platform/stream.h"

namespace bench {

// A photograph of the desktop's backgrounds, 3840 x 2160.
constexpr const char* RealPhoto = "/usr/share/backgrounds/mate/abstract/Elephants_3840x2160.jpg";

// Reads RealPhoto into Bmp; false when it is missing.
inline bool ReadRealPhoto(rv::TRvBitmap& Bmp) {
  std::ifstream F(RealPhoto, std::ios::binary);
  const std::vector<std::uint8_t> Data((std::istreambuf_iterator<char>(F)), {});
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  rv::TIOParamsVals Params;
  rv::TRvLocalProgress P;
  rv::JpegReadStream(S, Bmp, Params, false, P.Rec);
  return !P.Rec.IsAborting();
}

// The bare run of a subject goes first; each "Ours" run then reports its
// time over the bare run's as vs_bare.

// Seconds per iteration of the bare runs, by subject.
inline std::map<std::string, double>& BareTimes() {
  static std::map<std::string, double> Times;
  return Times;
}

template <typename F>
void Timed(benchmark::State& State, const std::string& Subject, bool Bare, F Body) {
  using Clock = std::chrono::steady_clock;
  const auto Start = Clock::now();
  for (auto _ : State) Body();
  const double PerIteration =
      std::chrono::duration<double>(Clock::now() - Start).count() / static_cast<double>(State.iterations());
  if (Bare) {
    BareTimes()[Subject] = PerIteration;
  } else if (BareTimes().count(Subject) != 0) {
    State.counters["vs_bare"] = PerIteration / BareTimes()[Subject];
  }
}

} // namespace bench
