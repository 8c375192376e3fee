// Bitmap-list containers of the control library and their stored form: the
// items' "Internal" binary property, the block framing of compressed image
// data and container files.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelfoundation.h"
#include "platform/graphics.h"
#include "platform/stream.h"

class QObject;

namespace kel {

// Damaged stored items or container files.
class EKelContainerError : public EKelException {
public:
  using EKelException::EKelException;
};

enum TKelSavePixelFormat : std::uint8_t { spfDefault = 0, spfMono = 1, spf4bit = 2, spf8bit = 3 };

// The colour count an item is written with; -1 lets the bitmap save itself.
int KelSavePixelFormatColors(TKelSavePixelFormat format);

// Flags byte of a stored item.
inline constexpr std::uint8_t kelItemCompressed = 0x01;
inline constexpr std::uint8_t kelItemDescription = 0x02;
inline constexpr std::uint8_t kelItemIdent = 0x04;
inline constexpr std::uint8_t kelItemImage = 0x08;
inline constexpr std::uint8_t kelItemMono = 0x10;
inline constexpr std::uint8_t kelItem4bit = 0x20;
inline constexpr std::uint8_t kelItem8bit = 0x40;

// An expanded image larger than this is taken for damage.
inline constexpr std::int64_t kelMaxImageBytes = std::int64_t(256) << 20;

// ---------------------------------------------------------------- streaming

// Writes count bytes of source as a total length and framed blocks.
void KelCompressToStream(platform::TStream& source, platform::TStream& target, std::int64_t count);
// Reads framed blocks and appends what they expand to to target.
void KelDecompressFromStream(platform::TStream& source, platform::TStream& target);

// The BMP file image the bitmap saves itself as (its own format and palette).
std::vector<std::uint8_t> KelBitmapToBmpFile(const platform::TBitmap& bitmap);
// A BMP file image reduced to colors (2, 16 or 256) colours; a monochrome
// bitmap always gives 2 colours.
std::vector<std::uint8_t> KelBitmapToBmpImage(const platform::TBitmap& bitmap, int colors);
// Loads a BMP file image; EInvalidGraphic when it is not one.
void KelBitmapFromBmpFile(platform::TBitmap& bitmap, const std::uint8_t* data, std::size_t size);

// colors: -1 (the bitmap's own image), 2, 16 or 256. original, when given, is
// the image to write in place of the bitmap's own (a loaded image kept as it
// was read).
void KelStreamWriteBitmap(platform::TStream& stream, const platform::TBitmap& bitmap, bool compressed,
                          int colors, const std::vector<std::uint8_t>* original = nullptr);
// image, when given, receives the BMP file image as read.
void KelStreamReadBitmap(platform::TStream& stream, platform::TBitmap& bitmap, bool compressed,
                         std::vector<std::uint8_t>* image = nullptr);

// Little-endian 32-bit values of the stored forms.
void KelWriteU32(platform::TStream& stream, std::uint32_t value);
std::uint32_t KelReadU32(platform::TStream& stream);
// A block of bytes: a 4-byte length and the bytes, or compressed framed
// blocks. Reading refuses lengths beyond the stream's end.
void KelWriteDataBlock(platform::TStream& stream, const std::vector<std::uint8_t>& data, bool compressed);
std::vector<std::uint8_t> KelReadDataBlock(platform::TStream& stream, bool compressed);
// Pixel format bits of the flags byte, and back.
std::uint8_t KelPixelFormatFlags(TKelSavePixelFormat format);
TKelSavePixelFormat KelPixelFormatFromFlags(std::uint8_t flags);

// ---------------------------------------------------------------- filer

// The class library's value types used here.
inline constexpr std::uint8_t kelValueBinary = 10;

// A binary property: name (length byte and characters), the binary value
// type, a 4-byte length and the bytes write produces.
void KelWriteBinaryProperty(platform::TStream& stream, const std::string& name,
                            const std::function<void(platform::TStream&)>& write);
// Reads the property named name (EKelContainerError for another name or
// value type) and hands its bytes to read.
void KelReadBinaryProperty(platform::TStream& stream, const std::string& name,
                           const std::function<void(platform::TStream&)>& read);

// A list of integers: the list value type, each integer in its smallest
// encoding, the end marker.
void KelWriteIntegerList(platform::TStream& stream, const std::vector<std::int32_t>& values);
std::vector<std::int32_t> KelReadIntegerList(platform::TStream& stream);

// ---------------------------------------------------------------- items

class TKelBaseContainer;

// Through it a container tells a bound control that its contents changed.
class TKelChangeLink {
public:
  TKelChangeLink(QObject* owner, std::function<void(TKelChangeLink* link)> onChange)
      : Owner(owner), OnChange(std::move(onChange)) {}
  QObject* Owner;
  std::function<void(TKelChangeLink* link)> OnChange;
  // The container goes: whoever is bound to it lets go.
  std::function<void(TKelChangeLink* link)> OnFree;
};

// A bound list and the link through which it reports: changed runs when the
// list changes, when it goes, and when another list is bound. TList keeps
// its links through RegisterChanges and UnregisterChanges and calls OnFree
// when it goes.
template <class TList> class TKelListHolder {
public:
  TKelListHolder(QObject* owner, std::function<void()> changed)
      : FLink(owner, [this](TKelChangeLink*) { FChanged(); }), FChanged(std::move(changed)) {
    FLink.OnFree = [this](TKelChangeLink*) {
      FList = nullptr;
      FChanged();
    };
  }
  ~TKelListHolder() {
    if (FList != nullptr) FList->UnregisterChanges(&FLink);
  }
  TKelListHolder(const TKelListHolder&) = delete;
  TKelListHolder& operator=(const TKelListHolder&) = delete;

  TList* List() const { return FList; }
  void SetList(TList* value) {
    if (value == FList) return;
    if (FList != nullptr) FList->UnregisterChanges(&FLink);
    FList = value;
    if (FList != nullptr) FList->RegisterChanges(&FLink);
    FChanged();
  }

private:
  TList* FList = nullptr;
  TKelChangeLink FLink;
  std::function<void()> FChanged;
};

class TKelListItem : public TKelCustomComponent {
public:
  TKelListItem() = default;

  const std::string& Description() const { return FDescription; }
  // Kept to 255 bytes, the most its length byte can say.
  void SetDescription(const std::string& value);
  std::uint16_t Ident() const { return FIdent; }
  void SetIdent(std::uint16_t value) { FIdent = value; }
  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool value) { FCompressed = value; }

  TKelBaseContainer* Container() const { return FContainer; }

  // The "Internal" data.
  virtual void WriteData(platform::TStream& stream) const = 0;
  virtual void ReadData(platform::TStream& stream) = 0;
  // The "Internal" property as the filer stores it.
  void WriteProperties(platform::TStream& stream) const;
  void ReadProperties(platform::TStream& stream);

  virtual void Assign(const TKelListItem& source);

protected:
  // The common head of the stored forms: the flags byte (compressed,
  // Description and Ident bits added here) and the fields it announces.
  void WriteHead(platform::TStream& stream, std::uint8_t flags) const;
  // Reads the head, stores what it holds and answers the flags.
  std::uint8_t ReadHead(platform::TStream& stream);

private:
  friend class TKelBaseContainer;
  friend class TKelCustomContainer;
  std::string FDescription;
  TKelBaseContainer* FContainer = nullptr;
  std::uint16_t FIdent = 0;
  bool FCompressed = false;
};

class TKelBitmapListItem : public TKelListItem {
public:
  TKelBitmapListItem() = default;

  platform::TBitmap& Bitmap() { return FBitmap; }
  const platform::TBitmap& Bitmap() const { return FBitmap; }
  void SetBitmap(const platform::TBitmap& value) { FBitmap.Assign(value); }
  TKelSavePixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TKelSavePixelFormat value) { FPixelFormat = value; }

  void WriteData(platform::TStream& stream) const override;
  void ReadData(platform::TStream& stream) override;
  void Assign(const TKelListItem& source) override;

private:
  // The image as it was read, written back as long as the pixels stay as
  // loaded, so that stored items come back byte for byte.
  bool LoadedImageCurrent() const;
  platform::TBitmap FBitmap;
  TKelSavePixelFormat FPixelFormat = spfDefault;
  std::vector<std::uint8_t> FLoadedImage;
  qint64 FLoadedKey = 0;
  std::vector<platform::TPaletteEntry> FLoadedPalette;
};

// ---------------------------------------------------------------- containers

enum TKelContainerKind : std::uint8_t {
  ckImageList = 0,
  ckBitmapList = 1,
  ckWaveList = 2,
  ckStringList = 3,
  ckGeneral = 4,
  ckRichText = 5
};
// "KelIML30" ... "KelRTL50" and "iml" ... "rtf".
const char* KelContainerSignature(TKelContainerKind kind);
const char* KelContainerExtension(TKelContainerKind kind);

class TKelBaseContainer : public TKelCustomComponent {
public:
  TKelBaseContainer() = default;
  ~TKelBaseContainer() override;

  int Count() const { return static_cast<int>(FItems.size()); }
  TKelListItem* Items(int index) const;
  // Takes the item and sets its container.
  TKelListItem& Add(std::unique_ptr<TKelListItem> item);
  void Delete(int index);
  void Clear();

  // Bound controls hear of every change through their links.
  void RegisterChanges(TKelChangeLink* link);
  void UnregisterChanges(TKelChangeLink* link);
  void Change() override;

protected:
  std::vector<std::unique_ptr<TKelListItem>> FItems;

private:
  std::vector<TKelChangeLink*> FLinks;
};

class TKelCustomContainer : public TKelBaseContainer {
public:
  bool DefaultCompressed() const { return FDefaultCompressed; }
  void SetDefaultCompressed(bool value) { FDefaultCompressed = value; }
  TKelSavePixelFormat DefaultPixelFormat() const { return FDefaultPixelFormat; }
  void SetDefaultPixelFormat(TKelSavePixelFormat value) { FDefaultPixelFormat = value; }

  // A new item of the container's item class with the default storage settings.
  virtual std::unique_ptr<TKelListItem> CreateItem() const = 0;
  virtual TKelContainerKind Kind() const = 0;
  TKelListItem& AddNew();

  // A 4-byte item count and the items' stored forms; with offsets the
  // absolute start of every item follows the count.
  void WriteToStream(platform::TStream& stream, bool withOffsets) const;
  // Replaces the items by those read.
  void ReadFromStream(platform::TStream& stream, bool withOffsets);
  // The signature of the container's kind and the stream with offsets.
  void SaveToFile(const std::string& fileName) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToStreamFile(platform::TStream& stream) const;
  void LoadFromStreamFile(platform::TStream& stream, const std::string& fileName = {});
  // Reads only item index of a container file of this container's kind into item.
  void LoadItemFromStreamFile(platform::TStream& stream, int index, TKelListItem& item,
                              const std::string& fileName = {}) const;
  void LoadItemFromFile(const std::string& fileName, int index, TKelListItem& item) const;

private:
  bool FDefaultCompressed = false;
  TKelSavePixelFormat FDefaultPixelFormat = spfDefault;
};

class TKelCustomImageList : public TKelCustomContainer {
public:
  TKelCustomImageList() = default;

  // listIndex selects the item; what imageIndex selects is the list's own.
  virtual platform::TCanvas* ItemCanvas(int listIndex) = 0;
  virtual platform::TRect ItemRect(int listIndex) const = 0;
  // selector 0 width, 1 height.
  virtual int ItemSize(int listIndex, int selector) const = 0;
  virtual bool ItemEmpty(int listIndex) const = 0;
  virtual bool ItemExists(int listIndex, int imageIndex) const = 0;
  virtual void AssignItemTo(int listIndex, int imageIndex, platform::TBitmap* target) const = 0;
  virtual int ImageCount(int listIndex) const = 0;
  // The transparent colour of image imageIndex of the item.
  virtual platform::TColor ItemTransparentColor(int listIndex, int imageIndex = 0) const = 0;
  // Whether the item keeps a mask.
  virtual bool ItemMasked(int listIndex) const { return false; }
  virtual platform::TColor ItemPixel(int listIndex, int imageIndex, int x, int y) const = 0;
  virtual void DrawItem(platform::TCanvas& canvas, int x, int y, int listIndex, int imageIndex) = 0;
  // Stretched to rect.
  virtual void DrawItemRect(platform::TCanvas& canvas, const platform::TRect& rect, int listIndex,
                            int imageIndex) = 0;
  // With the item's transparent colour left out when transparent is true.
  virtual void DrawItemEffect(platform::TCanvas& canvas, int x, int y, int listIndex, int imageIndex,
                              bool transparent) = 0;

  // From a list of the same class: items and storage settings, one change.
  void AssignList(const TKelCustomImageList& source);
};

class TKelBitmapList : public TKelCustomImageList {
public:
  TKelBitmapList() = default;

  std::unique_ptr<TKelListItem> CreateItem() const override;
  TKelContainerKind Kind() const override { return ckBitmapList; }
  TKelBitmapListItem* BitmapItem(int index) const;

  platform::TCanvas* ItemCanvas(int listIndex) override;
  platform::TRect ItemRect(int listIndex) const override;
  int ItemSize(int listIndex, int selector) const override;
  bool ItemEmpty(int listIndex) const override;
  bool ItemExists(int listIndex, int imageIndex) const override;
  void AssignItemTo(int listIndex, int imageIndex, platform::TBitmap* target) const override;
  int ImageCount(int listIndex) const override;
  platform::TColor ItemTransparentColor(int listIndex, int imageIndex = 0) const override;
  platform::TColor ItemPixel(int listIndex, int imageIndex, int x, int y) const override;
  void DrawItem(platform::TCanvas& canvas, int x, int y, int listIndex, int imageIndex) override;
  void DrawItemRect(platform::TCanvas& canvas, const platform::TRect& rect, int listIndex,
                    int imageIndex) override;
  void DrawItemEffect(platform::TCanvas& canvas, int x, int y, int listIndex, int imageIndex,
                      bool transparent) override;
};

// The library's global bitmap list and image list (held by the global
// container), shared by every control bound to them.
TKelBitmapList& KelGlobalBitmapList();
TKelCustomImageList* KelGlobalImageListPtr();

// A control bound to a global list stores, as its "Internal" property (a
// string value), the signature of that list's kind; nothing is written for
// other lists. Reading answers the global list the name stands for, or none.
inline constexpr std::uint8_t kelValueString = 6;
bool KelWriteListBinding(platform::TStream& stream, const TKelCustomImageList* list);
TKelCustomImageList* KelReadListBinding(platform::TStream& stream);

// A bitmap's transparent colour: its bottom-left pixel.
platform::TColor KelBitmapTransparentColor(const platform::TBitmap& bitmap);

} // namespace kel
