#include "platform/sound.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QCoreApplication>
#include <QMediaDevices>
#include <cstring>

namespace platform {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

constexpr std::uint16_t kPcm = 1, kFloat = 3, kExtensible = 0xFFFE;

} // namespace

std::optional<TWaveSamples> ParseWaveImage(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return std::nullopt;
  const std::uint8_t* fmt = nullptr;
  std::size_t fmtSize = 0;
  const std::uint8_t* samples = nullptr;
  std::size_t samplesSize = 0;
  std::size_t at = 12;
  while (at + 8 <= size && samples == nullptr) {
    const std::uint8_t* id = data + at;
    const std::uint64_t chunk = U32(data + at + 4);
    const std::size_t left = size - at - 8;
    if (std::memcmp(id, "data", 4) == 0) {
      // Many files announce more than they hold: play what is there.
      samples = data + at + 8;
      samplesSize = std::size_t(std::min<std::uint64_t>(chunk, left));
      break;
    }
    if (chunk > left) break;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      fmt = data + at + 8;
      fmtSize = std::size_t(chunk);
    }
    at += 8 + std::size_t(chunk) + (chunk & 1);
  }
  if (fmt == nullptr || fmtSize < 16 || samples == nullptr) return std::nullopt;
  std::uint16_t tag = U16(fmt);
  const std::uint16_t channels = U16(fmt + 2);
  const std::uint32_t rate = U32(fmt + 4);
  const std::uint16_t blockAlign = U16(fmt + 12);
  const std::uint16_t bits = U16(fmt + 14);
  if (tag == kExtensible && fmtSize >= 40) tag = U16(fmt + 24);
  if (channels == 0 || blockAlign == 0 || rate == 0 || rate > 1000000) return std::nullopt;
  if (std::uint32_t(channels) * ((bits + 7u) / 8u) != blockAlign) return std::nullopt;

  TWaveSamples wave;
  wave.Format.setSampleRate(int(rate));
  wave.Format.setChannelCount(channels);
  const std::size_t frames = samplesSize / blockAlign;
  const std::size_t values = frames * channels;
  const auto copy = [&](QAudioFormat::SampleFormat format) {
    wave.Format.setSampleFormat(format);
    wave.Samples = QByteArray(reinterpret_cast<const char*>(samples), qsizetype(frames * blockAlign));
  };
  if (tag == kPcm && bits == 8) copy(QAudioFormat::UInt8);
  else if (tag == kPcm && bits == 16) copy(QAudioFormat::Int16);
  else if (tag == kPcm && bits == 32) copy(QAudioFormat::Int32);
  else if (tag == kFloat && bits == 32) copy(QAudioFormat::Float);
  else if (tag == kPcm && bits == 24) {
    wave.Format.setSampleFormat(QAudioFormat::Int32);
    wave.Samples.resize(qsizetype(values * 4));
    auto* out = reinterpret_cast<std::int32_t*>(wave.Samples.data());
    for (std::size_t i = 0; i < values; ++i) {
      const std::uint8_t* s = samples + i * 3;
      out[i] = std::int32_t(std::uint32_t(s[0]) << 8 | std::uint32_t(s[1]) << 16 | std::uint32_t(s[2]) << 24);
    }
  } else if (tag == kFloat && bits == 64) {
    wave.Format.setSampleFormat(QAudioFormat::Float);
    wave.Samples.resize(qsizetype(values * 4));
    auto* out = reinterpret_cast<float*>(wave.Samples.data());
    for (std::size_t i = 0; i < values; ++i) {
      double v;
      std::memcpy(&v, samples + i * 8, 8);
      out[i] = float(v);
    }
  } else {
    return std::nullopt;
  }
  return wave;
}

namespace {

// The default audio output; the sink and its buffer go when the samples
// have played or the next sound stops them.
class TSystemOutput : public TSoundOutput {
public:
  ~TSystemOutput() override { Stop(); }
  bool Play(const QAudioFormat& format, const QByteArray& samples) override {
    Stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format)) return false;
    FSink = new QAudioSink(device, format);
    auto* buffer = new QBuffer(FSink);
    buffer->setData(samples);
    buffer->open(QIODevice::ReadOnly);
    QObject::connect(FSink, &QAudioSink::stateChanged, FSink, [this, sink = FSink](QAudio::State state) {
      if (state == QAudio::IdleState && sink == FSink) Stop();
    });
    FSink->start(buffer);
    return FSink != nullptr && FSink->error() == QAudio::NoError;
  }
  void Stop() override {
    if (FSink == nullptr) return;
    QAudioSink* sink = FSink;
    FSink = nullptr;
    sink->stop();
    // It may be reporting its own end just now.
    sink->deleteLater();
  }

private:
  QAudioSink* FSink = nullptr;
};

TSoundOutput* gOutput = nullptr;

TSystemOutput* gSystem = nullptr;

// The sink must go while Qt's application object is still there.
void FreeSystemOutput() {
  delete gSystem;
  gSystem = nullptr;
}

TSoundOutput& Output() {
  if (gOutput != nullptr) return *gOutput;
  if (gSystem == nullptr) {
    gSystem = new TSystemOutput;
    qAddPostRoutine(FreeSystemOutput);
  }
  return *gSystem;
}

} // namespace

void SetSoundOutput(TSoundOutput* output) { gOutput = output; }

bool PlayWaveSound(const std::uint8_t* data, std::size_t size) {
  StopSound();
  const std::optional<TWaveSamples> wave = ParseWaveImage(data, size);
  if (!wave) return false;
  return Output().Play(wave->Format, wave->Samples);
}

void StopSound() { Output().Stop(); }

} // namespace platform
