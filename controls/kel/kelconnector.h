// Image lists of the class-library kind (images of one size in one list,
// copied out and drawn by index) and the connector that presents several of
// them to the library's controls: the list index picks the list, the image
// index the image in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelbitmaplist.h"

namespace kel {

using platform::TBitmap;
using platform::TCanvas;
using platform::TColor;

class TCustomImageList {
public:
  TCustomImageList() = default;
  // Tells every link that the list goes.
  virtual ~TCustomImageList();
  TCustomImageList(const TCustomImageList&) = delete;
  TCustomImageList& operator=(const TCustomImageList&) = delete;

  std::string Name;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int Count() const = 0;
  virtual bool Masked() const = 0;
  // Target sized to the list's images, image index copied into it.
  virtual void GetBitmap(int index, TBitmap& target) const = 0;
  virtual void Draw(TCanvas& canvas, int x, int y, int index) const = 0;

  void RegisterChanges(TKelChangeLink* link);
  void UnregisterChanges(TKelChangeLink* link);

protected:
  void Changed();

private:
  std::vector<TKelChangeLink*> FLinks;
};

// The images kept as bitmaps; a masked list leaves out each image's
// bottom-left colour when it draws.
class TImageList : public TCustomImageList {
public:
  TImageList(int width, int height) : FWidth(width < 1 ? 1 : width), FHeight(height < 1 ? 1 : height) {}

  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  int Count() const override { return int(FImages.size()); }
  bool Masked() const override { return FMasked; }
  void SetMasked(bool value);
  // Takes the list's size from image's top-left corner; answers the index.
  int Add(const TBitmap& image);
  void Clear();
  void GetBitmap(int index, TBitmap& target) const override;
  void Draw(TCanvas& canvas, int x, int y, int index) const override;

private:
  int FWidth, FHeight;
  bool FMasked = false;
  std::vector<std::unique_ptr<TBitmap>> FImages;
};

// One list of the connector, under its own name or the list's.
class TKelDovImageListItem {
public:
  TKelDovImageListItem(QObject* owner, std::function<void()> changed) : FHolder(owner, std::move(changed)) {}

  TCustomImageList* ImageList() const { return FHolder.List(); }
  void SetImageList(TCustomImageList* value) { FHolder.SetList(value); }
  std::string Name;
  std::string DisplayName() const;

private:
  TKelListHolder<TCustomImageList> FHolder;
};

class TKelImageListConnector : public TKelCustomImageList {
public:
  TKelImageListConnector() = default;

  // The collection of lists (the connector's items).
  TKelDovImageListItem& AddEntry();
  void DeleteEntry(int index);
  int EntryCount() const { return int(FEntries.size()); }
  TKelDovImageListItem* Entry(int index) const;

  // The connector holds lists, not items of its own.
  std::unique_ptr<TKelListItem> CreateItem() const override;
  TKelContainerKind Kind() const override { return ckGeneral; }

  platform::TCanvas* ItemCanvas(int listIndex) override { return nullptr; }
  platform::TRect ItemRect(int listIndex) const override;
  int ItemSize(int listIndex, int selector) const override;
  bool ItemEmpty(int listIndex) const override;
  bool ItemExists(int listIndex, int imageIndex) const override;
  void AssignItemTo(int listIndex, int imageIndex, TBitmap* target) const override;
  int ImageCount(int listIndex) const override;
  TColor ItemTransparentColor(int listIndex, int imageIndex = 0) const override;
  bool ItemMasked(int listIndex) const override;
  TColor ItemPixel(int listIndex, int imageIndex, int x, int y) const override { return 0xFFFFFF; }
  void DrawItem(TCanvas& canvas, int x, int y, int listIndex, int imageIndex) override;
  void DrawItemRect(TCanvas& canvas, const platform::TRect& rect, int listIndex, int imageIndex) override;
  void DrawItemEffect(TCanvas& canvas, int x, int y, int listIndex, int imageIndex, bool transparent) override;

private:
  TCustomImageList* List(int listIndex) const;

  std::vector<std::unique_ptr<TKelDovImageListItem>> FEntries;
};

} // namespace kel
