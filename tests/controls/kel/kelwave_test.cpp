#include "controls/kel/kelwave.h"

#include <gtest/gtest.h>

#include <QAudioDevice>
#include <QMediaDevices>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "support/waveimage.h"

using namespace kel;
using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Takes the samples in place of the audio output and logs what it is asked.
class TRecordingOutput : public TSoundOutput {
public:
  TRecordingOutput() { SetSoundOutput(this); }
  ~TRecordingOutput() override { SetSoundOutput(nullptr); }
  bool Play(const QAudioFormat& format, const QByteArray& samples) override {
    Log.push_back("play");
    Format = format;
    Samples = samples;
    return true;
  }
  void Stop() override { Log.push_back("stop"); }
  std::vector<std::string> Log;
  QAudioFormat Format;
  QByteArray Samples;
};

void Load(TKelWave& wave, const Bytes& image) {
  TBytesStream in(image.data(), std::int64_t(image.size()));
  wave.LoadFromStream(in);
}

} // namespace

TEST(KelWave, HeadersAreCheckedAndOldDataKept) {
  const Bytes valid = WaveImage(1, 2, 22050, 16, {1, 2, 3, 4});
  TMemoryStream s;
  s.WriteBuffer(valid.data(), std::int64_t(valid.size()));
  TKelWaveHeader header;
  ASSERT_TRUE(KelWaveParseHeader(s, header));
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(header.RiffSize, 40u);
  EXPECT_TRUE(header.Pcm);
  EXPECT_EQ(header.Channels, 2);
  EXPECT_EQ(header.SampleRate, 22050u);
  EXPECT_EQ(header.BlockAlign, 4);

  TKelWave wave;
  Load(wave, valid);
  const struct {
    const char* What;
    std::size_t At;
    char Value;
    std::size_t Size;
  } broken[] = {
      {"RIFX", 3, 'X', valid.size()}, {"no WAVE", 8, 'w', valid.size()}, {"no fmt", 12, 'F', valid.size()},
      {"cut in the header", 0, 'R', 33},
  };
  for (const auto& b : broken) {
    Bytes bad = valid;
    bad[b.At] = std::uint8_t(b.Value);
    bad.resize(b.Size);
    EXPECT_THROW(Load(wave, bad), EInvalidWave) << b.What;
    EXPECT_EQ(wave.Bytes(), valid) << b.What;
  }
  TMemoryStream empty;
  EXPECT_FALSE(KelWaveParseHeader(empty, header));
  // Other channel counts read as 0, other formats as not PCM.
  Load(wave, WaveImage(3, 6, 48000, 32, {}));
  EXPECT_EQ(wave.Header().Channels, 0);
  EXPECT_FALSE(wave.Header().Pcm);
  // A count of 0 clears.
  TBytesStream none(valid.data(), 0);
  wave.LoadFromStream(none, 0);
  EXPECT_TRUE(wave.Empty());
}

TEST(KelWave, StoredFormAssignAndFiles) {
  const Bytes image = WaveImage(1, 1, 8000, 8, {0x80, 0x81});
  TKelWave wave;
  TMemoryStream nothing;
  wave.WriteProperties(nothing);
  EXPECT_EQ(nothing.Size(), 0);
  Load(wave, image);
  TMemoryStream s;
  wave.WriteProperties(s);
  // "Data", a binary value of N + 4 bytes: N, then the image.
  const std::size_t n = image.size();
  Bytes head = {4, 'D', 'a', 't', 'a', 10, std::uint8_t(n + 4), 0, 0, 0, std::uint8_t(n), 0, 0, 0};
  ASSERT_EQ(s.Data().size(), head.size() + n);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), s.Data().begin()));
  TKelWave back;
  s.SetPosition(0);
  back.ReadProperties(s);
  EXPECT_EQ(back.Bytes(), image);

  TKelWave copy;
  int changes = 0;
  copy.OnChange = [&](TKelObject*) { ++changes; };
  copy.Assign(wave);
  EXPECT_EQ(copy.Bytes(), image);
  copy.Assign(TKelWave());
  EXPECT_TRUE(copy.Empty());
  copy.Assign(wave);
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(changes, 4);
}

TEST(KelWave, SamplesReachTheOutputAfterAStop) {
  TRecordingOutput output;
  const Bytes samples = {0, 1, 2, 3, 4, 5, 6, 7};
  TKelWave wave;
  Load(wave, WaveImage(1, 2, 44100, 16, samples));
  EXPECT_EQ(output.Log, (std::vector<std::string>{"stop"}));
  ASSERT_TRUE(wave.Play());
  EXPECT_EQ(output.Log, (std::vector<std::string>{"stop", "stop", "play"}));
  EXPECT_EQ(output.Format.sampleRate(), 44100);
  EXPECT_EQ(output.Format.channelCount(), 2);
  EXPECT_EQ(output.Format.sampleFormat(), QAudioFormat::Int16);
  EXPECT_EQ(output.Samples, QByteArray(reinterpret_cast<const char*>(samples.data()), qsizetype(samples.size())));

  // Every replacement and the clearing stop the sound first.
  output.Log.clear();
  TKelWave other;
  Load(other, WaveImage(1, 1, 8000, 8, {9}));
  wave.Assign(other);
  wave.Clear();
  EXPECT_EQ(output.Log, (std::vector<std::string>{"stop", "stop", "stop"}));
  EXPECT_FALSE(wave.Play());
}

TEST(KelWave, WithoutAnOutputDeviceNothingPlays) {
  if (!QMediaDevices::audioOutputs().isEmpty()) GTEST_SKIP() << "this machine has a sound device";
  TKelWave wave;
  Load(wave, WaveImage(1, 1, 8000, 8, Bytes(8000, 0x80)));
  EXPECT_FALSE(wave.Play());
  StopSound();
}
