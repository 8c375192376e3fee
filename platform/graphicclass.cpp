#include "platform/graphicclass.h"

#include <QMimeData>
#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {

namespace {

struct TClipboardClass {
  std::string Name;
  std::string ClassName;
  TGraphicFactory Create;
};

struct TRegistry {
  std::mutex Lock;
  std::vector<TGraphicClass> Files;
  std::vector<TClipboardClass> Clipboard;
};

// Made on first use: picture classes register themselves during static
// initialisation, in no particular order.
TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::string LowerExtension(std::string Extension) {
  if (!Extension.empty() && Extension[0] == '.') Extension.erase(0, 1);
  for (char& c : Extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return Extension;
}

} // namespace

void TGraphic::Assign(const TGraphic* Source) {
  throw EInvalidGraphicOperation("Cannot assign a " + (Source ? Source->ClassName() : std::string("nil")) +
                                 " to a " + ClassName());
}

void TGraphic::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  Changed();
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& FileName) {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
}

void TGraphic::Changed() {
  if (OnChange) OnChange(this);
}

void TGraphic::Progress(TProgressStage Stage, int PercentDone) {
  if (OnProgress) OnProgress(this, Stage, PercentDone);
}

void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                        const std::string& ClassName, TGraphicFactory Create) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string ext = LowerExtension(Extension);
  std::erase_if(r.Files, [&](const TGraphicClass& c) { return c.Extension == ext; });
  r.Files.push_back({ext, Description, ClassName, std::move(Create)});
}

void RegisterClipboardFormat(const std::string& Name, const std::string& ClassName, TGraphicFactory Create) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  std::erase_if(r.Clipboard, [&](const TClipboardClass& c) { return c.Name == Name; });
  r.Clipboard.push_back({Name, ClassName, std::move(Create)});
}

void UnregisterGraphicClass(const std::string& ClassName) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  std::erase_if(r.Files, [&](const TGraphicClass& c) { return c.ClassName == ClassName; });
  std::erase_if(r.Clipboard, [&](const TClipboardClass& c) { return c.ClassName == ClassName; });
}

std::optional<TGraphicClass> FindGraphicClass(const std::string& Extension) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  const std::string ext = LowerExtension(Extension);
  for (const TGraphicClass& c : r.Files)
    if (c.Extension == ext) return c;
  return std::nullopt;
}

QString ClipboardFormatMimeType(const std::string& Name) {
  return QStringLiteral("application/x-") + QString::fromStdString(Name).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
}

std::unique_ptr<TGraphic> LoadGraphicFromFile(const std::string& FileName) {
  const std::size_t slash = FileName.find_last_of('/');
  const std::size_t dot = FileName.find_last_of('.');
  const std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                              ? std::string()
                              : FileName.substr(dot + 1);
  const std::optional<TGraphicClass> c = FindGraphicClass(ext);
  if (!c) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> graphic = c->Create();
  graphic->LoadFromFile(FileName);
  return graphic;
}

std::unique_ptr<TGraphic> LoadGraphicFromClipboard(const QMimeData& Data) {
  TGraphicFactory create;
  {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    for (const TClipboardClass& c : r.Clipboard)
      if (Data.hasFormat(ClipboardFormatMimeType(c.Name))) {
        create = c.Create;
        break;
      }
  }
  if (!create) return nullptr;
  std::unique_ptr<TGraphic> graphic = create();
  graphic->LoadFromClipboardFormat(Data);
  return graphic;
}

} // namespace platform
