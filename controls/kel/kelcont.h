// Further items and containers of the control library: image strips, string
// lists and wave sounds with their stored forms, and the container that
// holds the library's global lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelwave.h"

namespace kel {

using platform::TBitmap;
using platform::TCanvas;
using platform::TColor;
using platform::TPoint;
using platform::TRect;

enum TKelDrawingStyle : std::uint8_t { dsFocus, dsSelected, dsNormal, dsTransparent };
enum TKelImageType : std::uint8_t { itImage, itMask };

// Strips never grow wider than this, so every offset fits 16 bits.
inline constexpr int kelMaxStripWidth = 32768;

// One image strip: many images of one size side by side, with an optional
// monochrome mask strip (black where the image is opaque).
class TKelImageListItem : public TKelListItem {
public:
  TKelImageListItem();
  // "Invalid image size" when either size is below 1.
  static std::unique_ptr<TKelImageListItem> CreateSize(int width, int height);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // At least 1; a change empties the strips and notifies once.
  void SetWidth(int value);
  void SetHeight(int value);
  int AllocBy() const { return FAllocBy; }
  void SetAllocBy(int value) { FAllocBy = value < 1 ? 1 : value; }
  bool Masked() const { return FMasked; }
  void SetMasked(bool value);
  TKelSavePixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TKelSavePixelFormat value) { FPixelFormat = value; }
  TColor BkColor = platform::clNone;
  TColor BlendColor = platform::clNone;
  TKelDrawingStyle DrawingStyle = dsNormal;
  TKelImageType ImageType = itImage;

  int Count() const { return static_cast<int>(FOffsets.size()); }
  int UsedWidth() const { return FUsedWidth; }
  int Offset(int index) const;

  bool ValidImage(const TBitmap* graphic) const;
  int AllocImage();
  int Add(const TBitmap* image, const TBitmap* mask);
  void Replace(int index, const TBitmap* image, const TBitmap* mask);
  void ReplaceMasked(int index, const TBitmap* image, TColor transparentColor);
  void AddImages(const TKelImageListItem& source);
  void Clear();
  bool IsEmpty() const { return FOffsets.empty(); }

  TBitmap& ImageBitmap() { return FImage; }
  TBitmap& MaskBitmap() { return FMask; }
  const TBitmap& ImageBitmap() const { return FImage; }
  const TBitmap& MaskBitmap() const { return FMask; }
  TRect GetImageRect(int index) const;
  void GetBitmap(int index, TBitmap* target) const;
  TColor GetTransparentColor(int index) const;
  TColor GetPixel(TPoint point, int index) const;

  void Draw(TCanvas& canvas, int x, int y, int index);
  void DrawStyled(TCanvas& canvas, const TRect& rect, unsigned flags, int index, TRect* result);
  void DrawClipped(TCanvas& canvas, const TRect& rect, unsigned flags, std::uint32_t clip, TColor transparentColor,
                   int index);

  void WriteData(platform::TStream& stream) const override;
  void ReadData(platform::TStream& stream) override;
  // The earlier stored form "Bitmap": read, never written.
  void ReadBitmapProperty(platform::TStream& stream);
  void Assign(const TKelListItem& source) override;

private:
  void Compose(TCanvas& canvas, int x, int y, int offset);

  int FAllocBy = 4;
  int FHeight = 16;
  int FUsedWidth = 0;
  int FWidth = 16;
  TBitmap FImage;
  TBitmap FMask;
  std::vector<std::int16_t> FOffsets;
  bool FMasked = false;
  TKelSavePixelFormat FPixelFormat = spfDefault;
};

class TKelImageList : public TKelCustomImageList {
public:
  std::unique_ptr<TKelListItem> CreateItem() const override;
  TKelContainerKind Kind() const override { return ckImageList; }
  TKelImageListItem* Strip(int index) const;

  platform::TCanvas* ItemCanvas(int listIndex) override;
  TRect ItemRect(int listIndex) const override;
  int ItemSize(int listIndex, int selector) const override;
  bool ItemEmpty(int listIndex) const override;
  bool ItemExists(int listIndex, int imageIndex) const override;
  void AssignItemTo(int listIndex, int imageIndex, TBitmap* target) const override;
  int ImageCount(int listIndex) const override;
  TColor ItemTransparentColor(int listIndex, int imageIndex = 0) const override;
  bool ItemMasked(int listIndex) const override;
  TColor ItemPixel(int listIndex, int imageIndex, int x, int y) const override;
  void DrawItem(TCanvas& canvas, int x, int y, int listIndex, int imageIndex) override;
  void DrawItemRect(TCanvas& canvas, const TRect& rect, int listIndex, int imageIndex) override;
  void DrawItemEffect(TCanvas& canvas, int x, int y, int listIndex, int imageIndex, bool transparent) override;
};

class TKelStringListItem : public TKelListItem {
public:
  std::vector<std::string> Lines;
  void WriteData(platform::TStream& stream) const override;
  void ReadData(platform::TStream& stream) override;
  void Assign(const TKelListItem& source) override;
};

class TKelWaveListItem : public TKelListItem {
public:
  TKelWaveListItem() {
    Wave.OnChange = [this](TKelObject*) { Change(); };
  }
  TKelWave Wave;
  void WriteData(platform::TStream& stream) const override;
  void ReadData(platform::TStream& stream) override;
  void Assign(const TKelListItem& source) override;
};

class TKelStringList : public TKelCustomContainer {
public:
  std::unique_ptr<TKelListItem> CreateItem() const override;
  TKelContainerKind Kind() const override { return ckStringList; }
};

class TKelWaveList : public TKelCustomContainer {
public:
  std::unique_ptr<TKelListItem> CreateItem() const override;
  TKelContainerKind Kind() const override { return ckWaveList; }
};

// One list of each kind, whose changes it passes on as its own.
class TKelContainer : public TKelBaseContainer {
public:
  TKelContainer();
  ~TKelContainer() override;

  TKelBitmapList& BitmapList() { return FBitmapList; }
  TKelImageList& ImageList() { return FImageList; }
  TKelStringList& StringList() { return FStringList; }
  TKelWaveList& WaveList() { return FWaveList; }

private:
  TKelBitmapList FBitmapList;
  TKelImageList FImageList;
  TKelStringList FStringList;
  TKelWaveList FWaveList;
};

// The library's global container, whose bitmap list and image list are the
// two global lists.
TKelContainer& KelGlobalContainer();
TKelImageList& KelGlobalImageList();

} // namespace kel
