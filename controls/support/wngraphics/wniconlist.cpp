#include "controls/support/wngraphics/wniconlist.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <stdexcept>
#include <string>

#include "image/io/bmp/rvico.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/graphics.h"

namespace wn {

using platform::EInvalidGraphic;
using platform::EStreamError;

namespace {

std::uint32_t U32At(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// Only an icon directory (type 1) whose entries and their images lie inside
// the data is an icon; the image decoder is lenient about the rest.
void CheckIconDirectory(const std::uint8_t* data, std::int64_t size) {
  if (size < 6 || data[0] != 0 || data[1] != 0 || data[2] != 1 || data[3] != 0)
    throw EInvalidGraphic("Invalid icon image");
  const std::int64_t count = data[4] | data[5] << 8;
  if (count == 0 || 6 + count * 16 > size) throw EInvalidGraphic("Invalid icon image");
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint8_t* e = data + 6 + i * 16;
    const std::int64_t bytes = U32At(e + 8);
    const std::int64_t offset = U32At(e + 12);
    if (bytes == 0 || offset + bytes > size) throw EInvalidGraphic("Invalid icon image");
  }
}

QImage DecodeIcon(const std::uint8_t* data, std::int64_t size) {
  CheckIconDirectory(data, size);
  platform::TBytesStream stream(data, size);
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  std::unique_ptr<rv::TRvMask> mask;
  rv::TRvLocalProgress progress;
  rv::IcoReadStream(stream, &bitmap, params, false, mask, progress.Rec, false);
  if (progress.Rec.IsAborting() || bitmap.Width() <= 0 || bitmap.Height() <= 0)
    throw EInvalidGraphic("Invalid icon image");
  const bool alpha = mask && mask->Width() == bitmap.Width() && mask->Height() == bitmap.Height() &&
                     mask->BitCount() == 8;
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_ARGB32);
  if (image.isNull()) throw EInvalidGraphic("Invalid icon image");
  for (int y = 0; y < bitmap.Height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) {
      rv::TRGB c;
      bitmap.GetPixelRGB(x, y, c);
      const int a = alpha ? mask->GetPixel(x, y) : 255;
      row[x] = qRgba(c.r, c.g, c.b, a);
    }
  }
  return image;
}

std::uint32_t ReadUInt32(platform::TStream& stream) {
  std::uint8_t b[4];
  stream.ReadBuffer(b, 4);
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
         std::uint32_t{b[3]} << 24;
}

void WriteUInt32(platform::TStream& stream, std::uint32_t v) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  stream.WriteBuffer(b, 4);
}

} // namespace

// --- TIcon ---

void TIcon::LoadFromBytes(const std::uint8_t* Data, std::int64_t Size) {
  if (Data == nullptr || Size <= 0) throw EInvalidGraphic("Invalid icon image");
  QImage image = DecodeIcon(Data, Size);
  FData = std::make_shared<const std::vector<std::uint8_t>>(Data, Data + Size);
  FImage = std::move(image);
  Changed();
}

void TIcon::LoadFromStream(platform::TStream& Stream) {
  const std::int64_t rest = Stream.Size() - Stream.Position();
  if (rest <= 0) throw EInvalidGraphic("Invalid icon image");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(rest));
  Stream.ReadBuffer(bytes.data(), rest);
  LoadFromBytes(bytes.data(), rest);
}

void TIcon::LoadFromFile(const std::string& FileName) {
  platform::TFileStream stream(FileName, platform::fmOpenRead);
  LoadFromStream(stream);
}

void TIcon::SaveToStream(platform::TStream& Stream) const {
  if (!Empty()) Stream.WriteBuffer(FData->data(), static_cast<std::int64_t>(FData->size()));
}

const std::vector<std::uint8_t>& TIcon::Data() const {
  static const std::vector<std::uint8_t> none;
  return FData ? *FData : none;
}

void TIcon::Assign(const TIcon* Source) {
  if (Source == this) return;
  if (Source == nullptr) {
    Clear();
    return;
  }
  FData = Source->FData;
  FImage = Source->FImage;
  Changed();
}

void TIcon::Clear() {
  FData.reset();
  FImage = QImage();
  Changed();
}

void TIcon::Changed() {
  if (OnChange) OnChange(this);
}

// --- TWnIconList ---

TWnIconList::~TWnIconList() {
  for (auto& icon : FList)
    if (icon) icon->OnChange = nullptr;
}

void TWnIconList::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  if (FUpdateCount == 0) Changed();
}

void TWnIconList::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TWnIconList::CheckIndex(int Index, int Limit) const {
  if (Index < 0 || Index > Limit)
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

TIcon* TWnIconList::GetIcon(int Index) const {
  CheckIndex(Index, Count() - 1);
  return FList[static_cast<std::size_t>(Index)].get();
}

void TWnIconList::Hook(TIcon* Icon) {
  if (Icon != nullptr) Icon->OnChange = [this](TIcon*) { Changed(); };
}

void TWnIconList::SetIcon(int Index, const TIcon* Icon) {
  CheckIndex(Index, Count());
  BeginUpdate();
  try {
    if (Index == Count()) FList.emplace_back();
    auto& entry = FList[static_cast<std::size_t>(Index)];
    if (!entry) entry = std::make_unique<TIcon>();
    Hook(entry.get());
    entry->Assign(Icon);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TWnIconList::Add(const TIcon* Icon) {
  Insert(Count(), Icon);
  return Count() - 1;
}

std::unique_ptr<TIcon> TWnIconList::LoadResource(const std::string& Module, const std::string& Name) const {
  QFile file(QString::fromStdString(Module) + QLatin1Char('/') + QString::fromStdString(Name));
  if (!file.open(QIODevice::ReadOnly))
    throw EInvalidGraphic("Cannot load icon resource " + Name);
  const QByteArray bytes = file.readAll();
  auto icon = std::make_unique<TIcon>();
  icon->LoadFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
  return icon;
}

int TWnIconList::AddResource(const std::string& Module, const std::string& Name) {
  InsertResource(Count(), Module, Name);
  return Count() - 1;
}

void TWnIconList::Insert(int Index, const TIcon* Icon) {
  CheckIndex(Index, Count());
  auto icon = std::make_unique<TIcon>();
  icon->Assign(Icon);
  Hook(icon.get());
  FList.insert(FList.begin() + Index, std::move(icon));
  Changed();
}

void TWnIconList::InsertResource(int Index, const std::string& Module, const std::string& Name) {
  CheckIndex(Index, Count());
  auto icon = LoadResource(Module, Name);
  Hook(icon.get());
  FList.insert(FList.begin() + Index, std::move(icon));
  Changed();
}

void TWnIconList::Clear() {
  BeginUpdate();
  for (int i = Count() - 1; i >= 0; --i) Delete(i);
  EndUpdate();
}

void TWnIconList::Delete(int Index) {
  CheckIndex(Index, Count() - 1);
  auto& entry = FList[static_cast<std::size_t>(Index)];
  if (entry) entry->OnChange = nullptr;
  FList.erase(FList.begin() + Index);
  Changed();
}

void TWnIconList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1, Count() - 1);
  CheckIndex(Index2, Count() - 1);
  std::swap(FList[static_cast<std::size_t>(Index1)], FList[static_cast<std::size_t>(Index2)]);
  Changed();
}

int TWnIconList::IndexOf(const TIcon* Icon) const {
  if (Icon == nullptr) return -1;
  for (std::size_t i = 0; i < FList.size(); ++i)
    if (FList[i].get() == Icon) return static_cast<int>(i);
  return -1;
}

void TWnIconList::Move(int CurIndex, int NewIndex) {
  CheckIndex(CurIndex, Count() - 1);
  CheckIndex(NewIndex, Count() - 1);
  if (CurIndex != NewIndex) {
    auto icon = std::move(FList[static_cast<std::size_t>(CurIndex)]);
    FList.erase(FList.begin() + CurIndex);
    FList.insert(FList.begin() + NewIndex, std::move(icon));
  }
  Changed();
}

void TWnIconList::LoadFromStream(platform::TStream& Stream) {
  BeginUpdate();
  try {
    Clear();
    const std::uint32_t count = ReadUInt32(Stream);
    // Each entry needs at least its length word: a count the data cannot
    // hold is damage, not a reason to reserve memory.
    const std::int64_t rest = Stream.Size() - Stream.Position();
    if (std::int64_t{count} * 4 > rest) throw EStreamError("Stream read error");
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t length = ReadUInt32(Stream);
      if (length == 0) {
        FList.emplace_back();
        continue;
      }
      if (std::int64_t{length} > Stream.Size() - Stream.Position()) throw EStreamError("Stream read error");
      std::vector<std::uint8_t> bytes(length);
      Stream.ReadBuffer(bytes.data(), length);
      auto icon = std::make_unique<TIcon>();
      icon->LoadFromBytes(bytes.data(), length);
      Hook(icon.get());
      FList.push_back(std::move(icon));
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TWnIconList::SaveToStream(platform::TStream& Stream) const {
  WriteUInt32(Stream, static_cast<std::uint32_t>(FList.size()));
  for (const auto& icon : FList) {
    if (!icon || icon->Empty()) {
      WriteUInt32(Stream, 0);
      continue;
    }
    platform::TMemoryStream scratch;
    icon->SaveToStream(scratch);
    if (scratch.Size() > 0xFFFFFFFFll) throw EStreamError("Stream write error");
    WriteUInt32(Stream, static_cast<std::uint32_t>(scratch.Size()));
    Stream.WriteBuffer(scratch.Memory(), scratch.Size());
  }
}

void TWnIconList::Assign(const TWnIconList* Source) {
  if (Source == this) return;
  BeginUpdate();
  try {
    Clear();
    if (Source != nullptr)
      for (const auto& icon : Source->FList) Add(icon.get());
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TWnIconList::Assign(const TIcon* Source) {
  BeginUpdate();
  try {
    Clear();
    if (Source != nullptr) Add(Source);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

bool TWnIconList::ShouldWriteIcons(const TWnIconList* Ancestor) const {
  if (FList.empty()) return false;
  if (Ancestor == nullptr) return true;
  if (Ancestor->Count() != Count()) return true;
  for (std::size_t i = 0; i < FList.size(); ++i)
    if (Ancestor->FList[i].get() != FList[i].get()) return true;
  return false;
}

// --- clipboard ---

const char* const CorvaneIconFormatName = "Corvane Icon";

QString CorvaneIconMimeType() { return QStringLiteral("application/x-corvane-icon"); }

void CopyIconToClipboard(const TIcon& Icon) {
  auto* data = new QMimeData;
  const auto& bytes = Icon.Data();
  data->setData(CorvaneIconMimeType(),
                QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
  if (!Icon.Image().isNull()) data->setImageData(Icon.Image());
  QGuiApplication::clipboard()->setMimeData(data);
}

bool ClipboardHasIcon() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data != nullptr && data->hasFormat(CorvaneIconMimeType());
}

bool PasteIconFromClipboard(TIcon& Icon) {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (data == nullptr || !data->hasFormat(CorvaneIconMimeType())) return false;
  const QByteArray bytes = data->data(CorvaneIconMimeType());
  Icon.LoadFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
  return true;
}

} // namespace wn
