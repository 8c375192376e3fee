#include "platform/sound.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/waveimage.h"

using namespace platform;

namespace {
using Bytes = std::vector<std::uint8_t>;
QByteArray Q(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }
} // namespace

TEST(SoundLayer, WaveFormatsAndTheirSamples) {
  const Bytes pcm16 = {1, 2, 3, 4, 5, 6, 7, 8};
  const struct {
    std::uint16_t Tag, Channels, Bits;
    Bytes Samples;
    QAudioFormat::SampleFormat Format;
    Bytes Expected;
  } cases[] = {
      {1, 1, 8, {0x80, 0x7F, 0x00}, QAudioFormat::UInt8, {0x80, 0x7F, 0x00}},
      {1, 2, 16, pcm16, QAudioFormat::Int16, pcm16},
      {1, 1, 32, pcm16, QAudioFormat::Int32, pcm16},
      {3, 2, 32, pcm16, QAudioFormat::Float, pcm16},
      // 24 bits widen to 32: the three bytes become the top ones.
      {1, 1, 24, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, QAudioFormat::Int32, {0, 0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66}},
      // A trailing part of a frame is left out.
      {1, 2, 16, {1, 2, 3, 4, 5, 6}, QAudioFormat::Int16, {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    const Bytes image = WaveImage(c.Tag, c.Channels, 8000, c.Bits, c.Samples);
    const auto wave = ParseWaveImage(image.data(), image.size());
    ASSERT_TRUE(wave.has_value()) << c.Bits;
    EXPECT_EQ(wave->Format.sampleFormat(), c.Format) << c.Bits;
    EXPECT_EQ(wave->Format.channelCount(), c.Channels);
    EXPECT_EQ(wave->Format.sampleRate(), 8000);
    EXPECT_EQ(wave->Samples, Q(c.Expected)) << c.Bits;
  }
  // 64-bit floats narrow to 32.
  Bytes doubles(16);
  const double values[] = {0.5, -0.25};
  std::memcpy(doubles.data(), values, 16);
  const Bytes image = WaveImage(3, 1, 8000, 64, doubles);
  const auto narrowed = ParseWaveImage(image.data(), image.size());
  ASSERT_TRUE(narrowed.has_value());
  const float expected[] = {0.5f, -0.25f};
  EXPECT_EQ(narrowed->Samples, QByteArray(reinterpret_cast<const char*>(expected), 8));
}

TEST(SoundLayer, ChunksAreBoundedAndNonsenseRefused) {
  // A "data" chunk that announces more than the file holds plays what is there.
  const Bytes longer = WaveImage(1, 1, 8000, 8, {1, 2, 3}, 1000000);
  const auto bounded = ParseWaveImage(longer.data(), longer.size());
  ASSERT_TRUE(bounded.has_value());
  EXPECT_EQ(bounded->Samples.size(), 3);
  // A chunk of odd size before "fmt " is skipped with its pad byte.
  Bytes listed = WaveImage(1, 1, 8000, 8, {7});
  const Bytes list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  listed.insert(listed.begin() + 12, list.begin(), list.end());
  const auto skipped = ParseWaveImage(listed.data(), listed.size());
  ASSERT_TRUE(skipped.has_value());
  EXPECT_EQ(skipped->Samples, QByteArray(1, 7));

  const Bytes good = WaveImage(1, 2, 8000, 16, {1, 2, 3, 4});
  const struct {
    const char* What;
    std::size_t At;
    std::uint8_t Value;
  } refused[] = {
      {"RIFX", 3, 'X'},         {"no WAVE", 11, 'F'}, {"0 channels", 22, 0},  {"0 block align", 32, 0},
      {"ADPCM", 20, 2},         {"0 rate", 26, 0},    {"no data", 36, 'D'},   {"fmt cut short", 16, 12},
  };
  for (const auto& r : refused) {
    Bytes bad = good;
    bad[r.At] = r.Value;
    if (r.At == 26) bad[24] = bad[25] = 0;
    EXPECT_FALSE(ParseWaveImage(bad.data(), bad.size()).has_value()) << r.What;
  }
  EXPECT_FALSE(ParseWaveImage(good.data(), 11).has_value());
  EXPECT_FALSE(PlayWaveSound(good.data(), 20));
}
