// What the side-by-side benchmarks share: a photograph-like test picture and
// libvips set up once, on one thread and without its operation cache, so
// that both sides do the same work.
#pragma once

#include <vips/vips.h> // before Qt: glib names a member "signals"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// Width x Height blue-green-red pixels: smooth gradients with some noise.
inline std::vector<std::uint8_t> PhotoLikeBytes(int Width, int Height, std::uint32_t Seed) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(Width) * Height * 3);
  std::uint32_t s = Seed;
  for (std::size_t i = 0; i < v.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    const std::size_t px = i / 3, x = px % Width, y = px / Width;
    v[i] = static_cast<std::uint8_t>((x / 24 + y / 16 + (i % 3) * 40 + (s >> 29)) & 255);
  }
  return v;
}

inline void InitVipsOnce() {
  static const bool done = [] {
    if (VIPS_INIT("pictrova_bench") != 0) vips_error_exit(nullptr);
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    return true;
  }();
  (void)done;
}

} // namespace bench
