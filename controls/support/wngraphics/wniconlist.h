// Icons held as their icon file image, an ordered list of them with its
// stored form, and the clipboard format that carries one icon.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace wn {

// An icon: the bytes of its icon file image and the picture decoded from
// them (32-bit with alpha). Empty when it holds no bytes.
class TIcon {
public:
  TIcon() = default;
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  bool Empty() const { return !FData || FData->empty(); }
  int Width() const { return FImage.width(); }
  int Height() const { return FImage.height(); }
  const QImage& Image() const { return FImage; }
  const std::vector<std::uint8_t>& Data() const;

  // Takes an icon file image; bytes that do not decode raise
  // platform::EInvalidGraphic and leave the icon as it was.
  void LoadFromBytes(const std::uint8_t* Data, std::int64_t Size);
  // The rest of the stream (size - position).
  void LoadFromStream(platform::TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  // The icon file image; nothing for an empty icon.
  void SaveToStream(platform::TStream& Stream) const;
  // A copy of Source; null empties the icon.
  void Assign(const TIcon* Source);
  void Clear();

  std::function<void(TIcon* Sender)> OnChange;

private:
  void Changed();

  // Shared between copies, as the picture is: icons copied per frame of an
  // animation cost no more than one.
  std::shared_ptr<const std::vector<std::uint8_t>> FData;
  QImage FImage;
};

class TWnIconList {
public:
  // The name of the binary property that carries the list in form data.
  static constexpr const char* IconsPropertyName = "Icons";

  TWnIconList() = default;
  virtual ~TWnIconList();
  TWnIconList(const TWnIconList&) = delete;
  TWnIconList& operator=(const TWnIconList&) = delete;

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();

  virtual void Changed();
  // Null for an empty entry; an index out of range raises std::out_of_range.
  virtual TIcon* GetIcon(int Index) const;
  virtual int Count() const { return static_cast<int>(FList.size()); }
  virtual void SetIcon(int Index, const TIcon* Icon);
  virtual int Add(const TIcon* Icon);
  // The icon file Name in the resource folder Module (a Qt resource path
  // such as ":/icons" or a folder on disk).
  virtual int AddResource(const std::string& Module, const std::string& Name);
  virtual void Clear();
  virtual void Delete(int Index);
  virtual void Exchange(int Index1, int Index2);
  virtual int IndexOf(const TIcon* Icon) const;
  virtual void Insert(int Index, const TIcon* Icon);
  virtual void InsertResource(int Index, const std::string& Module, const std::string& Name);
  // The stored form: a 32-bit little-endian count, then per entry a 32-bit
  // length and that many bytes of the icon's file image (0: empty entry).
  // Damaged data raises platform::EStreamError or platform::EInvalidGraphic.
  virtual void LoadFromStream(platform::TStream& Stream);
  virtual void Move(int CurIndex, int NewIndex);
  virtual void SaveToStream(platform::TStream& Stream) const;

  // From another list (a copy of each icon), from one icon (a list of it),
  // from nothing (empty).
  virtual void Assign(const TWnIconList* Source);
  virtual void Assign(const TIcon* Source);

  // Whether the "Icons" property goes into form data: the list has entries
  // and differs from the ancestor's (another count, or another icon object
  // at some index).
  bool ShouldWriteIcons(const TWnIconList* Ancestor) const;

  int UpdateCount() const { return FUpdateCount; }
  std::function<void(TWnIconList* Sender)> OnChange;

private:
  void Hook(TIcon* Icon);
  void CheckIndex(int Index, int Limit) const;
  std::unique_ptr<TIcon> LoadResource(const std::string& Module, const std::string& Name) const;

  std::vector<std::unique_ptr<TIcon>> FList;
  std::int32_t FUpdateCount = 0;
};

// The clipboard format "Corvane Icon": the icon's file image under a MIME
// type of our own.
extern const char* const CorvaneIconFormatName;
QString CorvaneIconMimeType();
void CopyIconToClipboard(const TIcon& Icon);
bool ClipboardHasIcon();
// Loads the clipboard's icon into Icon; false when there is none.
bool PasteIconFromClipboard(TIcon& Icon);

} // namespace wn
