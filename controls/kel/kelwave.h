// One wave sound held in memory as its RIFF/WAVE file image: checked when it
// comes in, streamed in stored forms and to files, played through the
// platform's sound layer, and silenced before its data changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "controls/kel/kelfoundation.h"
#include "platform/stream.h"

namespace kel {

class EInvalidWave : public EKelException {
public:
  using EKelException::EKelException;
};

struct TKelWaveHeader {
  std::uint32_t RiffSize = 0;
  bool Pcm = false;
  // 1 mono, 2 stereo, 0 anything else.
  std::uint16_t Channels = 0;
  std::uint32_t SampleRate = 0;
  std::uint16_t BlockAlign = 0;
};

// Checks the head of a wave image ("RIFF", size, "WAVE", "fmt ", the
// format's fields) and fills header; the stream is rewound to 0 in every
// case.
bool KelWaveParseHeader(platform::TStream& stream, TKelWaveHeader& header);

class TKelWave : public TKelObject {
public:
  TKelWave() = default;

  bool Empty() const { return FData == nullptr || FData->Size() == 0; }
  std::int64_t Size() const { return FData == nullptr ? 0 : FData->Size(); }
  // The file image (empty without data).
  std::vector<std::uint8_t> Bytes() const;
  const TKelWaveHeader& Header() const { return FHeader; }

  void Clear();
  // count bytes from the stream's position; 0 clears. Invalid data raises
  // EInvalidWave and the previous data stays.
  void LoadFromStream(platform::TStream& stream, std::int64_t count);
  // From the stream's position to its end.
  void LoadFromStream(platform::TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(platform::TStream& stream) const;
  void SaveToFile(const std::string& fileName) const;

  // From another wave: its bytes (an empty one clears).
  void Assign(const TKelObject& source) override;
  void Assign(std::nullptr_t) { Clear(); }

  // The "Data" property: a 4-byte length and the file image, written only
  // with data.
  void WriteData(platform::TStream& stream) const;
  void ReadData(platform::TStream& stream);
  void WriteProperties(platform::TStream& stream) const;
  void ReadProperties(platform::TStream& stream);

  // Starts the sound and returns at once; false when nothing plays.
  bool Play() const;

private:
  // Silences the sound, then takes data (none to clear).
  void Replace(std::unique_ptr<platform::TMemoryStream> data, const TKelWaveHeader& header);

  std::unique_ptr<platform::TMemoryStream> FData;
  TKelWaveHeader FHeader;
};

} // namespace kel
