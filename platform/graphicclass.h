// Picture classes of the class library's graphic framework and the small
// registry through which the picture container finds one: by a file's
// extension, or by a clipboard format of ours.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/graphics.h"
#include "platform/stream.h"

class QMimeData;

namespace platform {

// An operation a picture class refuses or cannot carry out on its data.
class EInvalidGraphicOperation : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum TProgressStage { psStarting, psRunning, psEnding };

class TGraphic {
public:
  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  virtual std::string ClassName() const = 0;
  // The base refuses every source with EInvalidGraphicOperation.
  virtual void Assign(const TGraphic* Source);
  virtual void Draw(TCanvas& Canvas, const TRect& Rect) = 0;
  virtual bool GetEmpty() = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  virtual void SetWidth(int Value) = 0;
  virtual void SetHeight(int Value) = 0;
  virtual bool GetTransparent() { return FTransparent; }
  void SetTransparent(bool Value);

  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) = 0;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);
  // The picture's own clipboard formats, read from or added to Data.
  virtual void LoadFromClipboardFormat(const QMimeData& Data) = 0;
  virtual void SaveToClipboardFormat(QMimeData& Data) = 0;

  std::function<void(TGraphic* Sender)> OnChange;
  std::function<void(TGraphic* Sender, TProgressStage Stage, int PercentDone)> OnProgress;

protected:
  void Changed();
  void Progress(TProgressStage Stage, int PercentDone);

  bool FTransparent = false;
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

struct TGraphicClass {
  std::string Extension;   // lower case, without its dot
  std::string Description; // for the file dialogs' filters
  std::string ClassName;
  TGraphicFactory Create;
};

// A later registration of the same extension replaces the earlier one.
void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                        const std::string& ClassName, TGraphicFactory Create);
// Name is the clipboard format's name ("GIF Image"); it travels under
// ClipboardFormatMimeType(Name).
void RegisterClipboardFormat(const std::string& Name, const std::string& ClassName, TGraphicFactory Create);
// Removes every extension and clipboard format of the class.
void UnregisterGraphicClass(const std::string& ClassName);

// Extension with or without its dot, any case; empty when none is registered.
std::optional<TGraphicClass> FindGraphicClass(const std::string& Extension);
// The MIME type of a clipboard format of ours: "application/x-" and the
// name in lower case with dashes for spaces.
QString ClipboardFormatMimeType(const std::string& Name);

// The picture container's loaders. The file's class comes from its
// extension (EInvalidGraphic "Unknown picture file extension (.ext)"); the
// clipboard's from the first registered format it holds (null when none).
std::unique_ptr<TGraphic> LoadGraphicFromFile(const std::string& FileName);
std::unique_ptr<TGraphic> LoadGraphicFromClipboard(const QMimeData& Data);

} // namespace platform
