// In-memory wave sounds, played asynchronously and one at a time: what the
// program asks of the platform's sound call with a memory image. The
// samples go to the default audio output in the format of the wave's
// "fmt " chunk; where no output device exists, nothing plays and nothing
// fails.
#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

struct TWaveSamples {
  QAudioFormat Format;
  QByteArray Samples;
};

// The playable samples of a RIFF/WAVE image: PCM of 8, 16, 24 or 32 bits
// (24 bits widened to 32) or float of 32 or 64 bits (64 narrowed to 32).
// The "data" chunk is bounded by the image and cut to whole frames. None
// for other formats, 0 channels, a 0 block align or a 0 sample rate.
std::optional<TWaveSamples> ParseWaveImage(const std::uint8_t* data, std::size_t size);

// Where samples go: the system's default audio output unless a test put
// its own in place.
class TSoundOutput {
public:
  virtual ~TSoundOutput() = default;
  // Starts the samples and returns at once; false when they cannot play.
  virtual bool Play(const QAudioFormat& format, const QByteArray& samples) = 0;
  virtual void Stop() = 0;
};
// nullptr brings back the system's output.
void SetSoundOutput(TSoundOutput* output);

// Stops what plays, then starts the image's samples; false when the image is
// no playable wave or there is no output to play it on.
bool PlayWaveSound(const std::uint8_t* data, std::size_t size);
void StopSound();

} // namespace platform
