#include "app/transitionsounds.h"
#include "platform/sound.h"

#include <gtest/gtest.h>

using namespace app;

TEST(TransitionSounds, EachNamedSoundIsAPlayableShortWave) {
  for (int number = 1; number <= 10; ++number) {
    const QByteArray wave = TransitionSoundWave(number);
    const auto samples =
        platform::ParseWaveImage(reinterpret_cast<const std::uint8_t*>(wave.constData()), static_cast<std::size_t>(wave.size()));
    ASSERT_TRUE(samples) << number;
    EXPECT_EQ(samples->Format.sampleRate(), 22050);
    EXPECT_EQ(samples->Format.channelCount(), 1);
    EXPECT_EQ(samples->Format.sampleFormat(), QAudioFormat::Int16);
    // Heard, and over before the next picture of a quick show.
    EXPECT_GT(samples->Samples.size(), 200) << number;
    EXPECT_LT(samples->Samples.size(), 2 * 22050) << number;
  }
  EXPECT_TRUE(TransitionSoundWave(0).isEmpty());
  EXPECT_TRUE(TransitionSoundWave(11).isEmpty());
}
