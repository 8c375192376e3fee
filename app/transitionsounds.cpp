#include "app/transitionsounds.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace app {

namespace {

constexpr int Rate = 22050;
constexpr double Pi = 3.14159265358979323846;

void Put32(QByteArray& out, std::uint32_t v) {
  char b[4];
  qToLittleEndian(v, b);
  out.append(b, 4);
}
void Put16(QByteArray& out, std::uint16_t v) {
  char b[2];
  qToLittleEndian(v, b);
  out.append(b, 2);
}

QByteArray WaveImage(const std::vector<float>& samples) {
  QByteArray out;
  const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  out.append("RIFF", 4);
  Put32(out, 36 + dataSize);
  out.append("WAVEfmt ", 8);
  Put32(out, 16);
  Put16(out, 1); // PCM
  Put16(out, 1); // mono
  Put32(out, Rate);
  Put32(out, Rate * 2);
  Put16(out, 2);
  Put16(out, 16);
  out.append("data", 4);
  Put32(out, dataSize);
  for (float s : samples) Put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(s, -1.0f, 1.0f) * 32000)));
  return out;
}

// A decaying burst: noise and a tone of Pitch mixed by Tone (0 to 1), Ms long,
// starting At ms into Out.
void Burst(std::vector<float>& out, double at, double ms, double pitch, double tone, double level, std::uint32_t seed) {
  const std::size_t start = static_cast<std::size_t>(at * Rate / 1000);
  const std::size_t count = static_cast<std::size_t>(ms * Rate / 1000);
  if (out.size() < start + count) out.resize(start + count, 0.0f);
  std::uint32_t s = seed;
  for (std::size_t i = 0; i < count; ++i) {
    s = s * 1664525u + 1013904223u;
    const double noise = static_cast<double>(s >> 8) / (1u << 24) * 2 - 1;
    const double t = static_cast<double>(i) / Rate;
    const double env = std::exp(-5.0 * static_cast<double>(i) / static_cast<double>(count));
    out[start + i] += static_cast<float>(level * env * ((1 - tone) * noise + tone * std::sin(2 * Pi * pitch * t)));
  }
}

} // namespace

QByteArray TransitionSoundWave(int number) {
  std::vector<float> w;
  switch (number) {
  case 1: Burst(w, 0, 12, 2400, 0.3, 0.8, 1); break;
  case 2: Burst(w, 0, 18, 1500, 0.5, 0.8, 2); break;
  case 3: Burst(w, 0, 8, 3200, 0.1, 0.9, 3); break;
  case 4: Burst(w, 0, 25, 900, 0.6, 0.7, 4); Burst(w, 30, 10, 1800, 0.3, 0.4, 5); break;
  case 5: Burst(w, 0, 10, 4000, 0.2, 0.6, 6); Burst(w, 15, 10, 4000, 0.2, 0.5, 7); break;
  // Shutters: a click as it opens, one as it closes.
  case 6: Burst(w, 0, 20, 1200, 0.2, 0.9, 8); Burst(w, 70, 30, 800, 0.2, 0.8, 9); break;
  case 7: Burst(w, 0, 15, 2000, 0.1, 0.9, 10); Burst(w, 40, 15, 2000, 0.1, 0.7, 11); Burst(w, 160, 60, 300, 0.5, 0.4, 12); break;
  case 8: Burst(w, 0, 40, 600, 0.3, 0.9, 13); Burst(w, 120, 40, 500, 0.3, 0.8, 14); break;
  // Chimes: three bell tones.
  case 9: Burst(w, 0, 600, 1319, 1.0, 0.35, 15); Burst(w, 100, 600, 1568, 1.0, 0.3, 16); Burst(w, 200, 700, 2093, 1.0, 0.3, 17); break;
  // A projector's slide change: the carrier's rattle, then the drop.
  case 10:
    for (int k = 0; k < 8; ++k) Burst(w, k * 22.0, 14, 700, 0.3, 0.5, 18u + static_cast<std::uint32_t>(k));
    Burst(w, 200, 60, 250, 0.4, 0.9, 30);
    break;
  default: return QByteArray();
  }
  return WaveImage(w);
}

} // namespace app
