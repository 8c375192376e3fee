#include "controls/kel/kelwave.h"

#include <cstring>

#include "controls/kel/kelbitmaplist.h"
#include "platform/sound.h"

namespace kel {

using namespace platform;

bool KelWaveParseHeader(TStream& stream, TKelWaveHeader& header) {
  struct TRewind {
    TStream& Stream;
    ~TRewind() { Stream.SetPosition(0); }
  } rewind{stream};
  stream.SetPosition(0);
  // Every field read must be there: a short image is no wave.
  std::uint8_t b[34];
  if (stream.Read(b, sizeof b) != std::int64_t(sizeof b)) return false;
  if (std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0 || std::memcmp(b + 12, "fmt ", 4) != 0)
    return false;
  const auto u16 = [&](int at) { return std::uint16_t(b[at] | b[at + 1] << 8); };
  const auto u32 = [&](int at) { return std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16; };
  header.RiffSize = u32(4);
  header.Pcm = u16(20) == 1;
  const std::uint16_t channels = u16(22);
  header.Channels = channels == 1 || channels == 2 ? channels : 0;
  header.SampleRate = u32(24);
  header.BlockAlign = u16(32);
  return true;
}

std::vector<std::uint8_t> TKelWave::Bytes() const { return FData != nullptr ? FData->Data() : std::vector<std::uint8_t>{}; }

void TKelWave::Replace(std::unique_ptr<TMemoryStream> data, const TKelWaveHeader& header) {
  // The old image may be what plays just now.
  StopSound();
  FData = std::move(data);
  FHeader = header;
  if (FData != nullptr) FData->SetPosition(0);
  Change();
}

void TKelWave::Clear() { Replace(nullptr, {}); }

void TKelWave::LoadFromStream(TStream& stream, std::int64_t count) {
  if (count == 0) return Clear();
  if (count < 0 || count > stream.Size() - stream.Position()) throw EInvalidWave("Invalid wave data");
  auto data = std::make_unique<TMemoryStream>();
  data->CopyFrom(stream, count);
  TKelWaveHeader header;
  if (!KelWaveParseHeader(*data, header)) throw EInvalidWave("Invalid wave data");
  Replace(std::move(data), header);
}

void TKelWave::LoadFromStream(TStream& stream) { LoadFromStream(stream, stream.Size() - stream.Position()); }

void TKelWave::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TKelWave::SaveToStream(TStream& stream) const {
  if (FData != nullptr && FData->Size() > 0) stream.WriteBuffer(FData->Memory(), FData->Size());
}

void TKelWave::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TKelWave::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelWave*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  if (s->Empty()) return Clear();
  auto data = std::make_unique<TMemoryStream>();
  data->WriteBuffer(s->FData->Memory(), s->FData->Size());
  Replace(std::move(data), s->FHeader);
}

void TKelWave::WriteData(TStream& stream) const {
  KelWriteU32(stream, std::uint32_t(Size()));
  SaveToStream(stream);
}

void TKelWave::ReadData(TStream& stream) {
  const std::uint32_t count = KelReadU32(stream);
  LoadFromStream(stream, count);
}

void TKelWave::WriteProperties(TStream& stream) const {
  if (Empty()) return;
  KelWriteBinaryProperty(stream, "Data", [this](TStream& s) { WriteData(s); });
}

void TKelWave::ReadProperties(TStream& stream) {
  KelReadBinaryProperty(stream, "Data", [this](TStream& s) { ReadData(s); });
}

bool TKelWave::Play() const {
  if (Empty()) return false;
  return PlayWaveSound(FData->Memory(), std::size_t(FData->Size()));
}

} // namespace kel
