// Hand-built RIFF/WAVE images for the wave tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "RIFF", size, "WAVE", a 16-byte "fmt " chunk, then "data" with the
// samples (its announced size may differ from what follows).
inline std::vector<std::uint8_t> WaveImage(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                           std::uint16_t bits, const std::vector<std::uint8_t>& samples,
                                           std::int64_t announced = -1) {
  std::vector<std::uint8_t> b;
  const auto text = [&](const char* s) { b.insert(b.end(), s, s + 4); };
  const auto u16 = [&](std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
  };
  const auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const std::uint16_t align = std::uint16_t(channels * ((bits + 7) / 8));
  text("RIFF");
  u32(std::uint32_t(36 + samples.size()));
  text("WAVE");
  text("fmt ");
  u32(16);
  u16(tag);
  u16(channels);
  u32(rate);
  u32(rate * align);
  u16(align);
  u16(bits);
  text("data");
  u32(announced < 0 ? std::uint32_t(samples.size()) : std::uint32_t(announced));
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}
