// Fill and gradient settings: a colour ramp with ten geometric styles, the
// choice between brush, pattern, bitmap, image-list entry and gradient, the
// fill painter, and the alpha and bitmap-effect switches.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelfoundation.h"
#include "controls/kel/kelgraph.h"
#include "controls/kel/keltypes.h"
#include "platform/graphics.h"
#include "platform/stream.h"

namespace kel {

class TKelCustomImageList;
class TKelChangeLink;

class TKelGradient : public TKelObject {
public:
  TKelGradient();

  // 2..236; other counts are ignored.
  int ColorCount() const { return FColorCount; }
  void SetColorCount(int value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value) { SetProp(FColor, value); }
  TColor EndColor() const { return FEndColor; }
  void SetEndColor(TColor value) { SetProp(FEndColor, value); }
  bool PaletteRealize() const { return FPaletteRealize; }
  void SetPaletteRealize(bool value) { SetProp(FPaletteRealize, value); }
  TKelGradientStyle Style() const { return FStyle; }
  void SetStyle(TKelGradientStyle value) { SetProp(FStyle, value); }
  bool TwoColors() const { return FTwoColors; }
  void SetTwoColors(bool value) { SetProp(FTwoColors, value); }
  const std::vector<TColor>& ColorList() const { return FColorList; }
  void SetColorList(const std::vector<TColor>& value);

  // The ramp, rebuilt on every change.
  const TKelColorTable& Colors() const { return FColors; }
  const TKelPalette* Palette() const { return FPalette.get(); }

  void PaintTo(TCanvas& canvas, const TRect& rect) const;
  void RealizePaletteOn(TCanvas& canvas) const;

  void Change() override;
  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

  // The extra stored property "ColorList": written only with colours.
  bool HasColorList() const { return !FColorList.empty(); }
  void WriteColorList(platform::TStream& stream) const;
  void ReadColorList(platform::TStream& stream);

private:
  void RecalcColors();

  int FColorCount = 16;
  TColor FColor = platform::clBlue;
  TKelColorTable FColors;
  TColor FEndColor = platform::clBlack;
  bool FPaletteRealize = false;
  std::unique_ptr<TKelPalette> FPalette;
  TKelGradientStyle FStyle = gstVertical;
  std::vector<TColor> FColorList;
  bool FTwoColors = true;
};

class TKelShapeFill : public TKelObject {
public:
  TKelShapeFill();

  TBitmap& Bitmap() { return FBitmap; }
  const TBitmap& Bitmap() const { return FBitmap; }
  void SetBitmap(const TBitmap& value);
  // After drawing into Bitmap() in place.
  void BitmapChanged() { Change(); }
  TKelGradient& Gradient() { return FGradient; }
  const TKelGradient& Gradient() const { return FGradient; }
  void SetGradient(const TKelGradient& value) { FGradient.Assign(value); }
  TKelFillStyle Style() const { return FStyle; }
  virtual void SetStyle(TKelFillStyle value) { SetProp(FStyle, value); }
  TKelTileMode TileMode() const { return FTileMode; }
  void SetTileMode(TKelTileMode value) { SetProp(FTileMode, value); }
  // Receives an image-list entry for sfBitmapList; changes notify nobody.
  TBitmap& ListBitmap() { return FListBitmap; }
  const TBitmap& ListBitmap() const { return FListBitmap; }

  // Bitmap (sfBitmap), the list bitmap (sfBitmapList) or none.
  const TBitmap* FillBitmap() const;

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

protected:
  TKelFillStyle FStyle = sfBrush;

private:
  TBitmap FBitmap;
  TKelGradient FGradient;
  TKelTileMode FTileMode = tmTile;
  TBitmap FListBitmap;
};

using TKelFillOptions = std::uint8_t;
inline constexpr TKelFillOptions foFillInner = 1, foQuickDraw = 2, foGrUseBitmap = 4;

class TKelFillObject : public TKelShapeFill {
public:
  TKelFillObject();

  // Notify only where they show: a bitmap fill that is not tiled.
  TKelAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKelAlignment value);
  int OffsetX() const { return FOffsetX; }
  int OffsetY() const { return FOffsetY; }
  void SetOffset(int index, int value);
  const platform::TBrush& Brush() const { return FBrush; }
  void SetBrush(const platform::TBrush& value);
  void SetBrushColor(TColor value);
  TKelFillOptions Options() const { return FOptions; }
  void SetOptions(TKelFillOptions value) { SetProp(FOptions, value); }

  // clipOffset shifts the clip region (low 16 bits x, high 16 bits y).
  bool FillRect(TCanvas& canvas, const TRect& rect, std::uint32_t clipOffset, TColor backColor);
  // True when something was painted.
  bool PaintFill(TCanvas& canvas, const TRect& rect, TColor backColor);

  void Assign(const TKelObject& source) override;

private:
  bool AlignmentShows() const;

  TKelAlignment FAlignment = agTopLeft;
  int FOffsetX = 0;
  int FOffsetY = 0;
  platform::TBrush FBrush;
  TKelFillOptions FOptions = foFillInner | foGrUseBitmap;
};

class TKelAlphaObject : public TKelObject {
public:
  TKelAlphaObject();
  ~TKelAlphaObject() override;

  // This library keeps alpha blending off: the setters below store their
  // neutral values whatever they are given.
  TKelCustomImageList* ImageList() const { return FImageList; }
  void SetImageList(TKelCustomImageList* value);
  float Strength() const { return FStrength; }
  void SetStrength(float value);
  int ImageIndex() const { return FImageIndex; }
  int ListIndex() const { return FListIndex; }
  void SetIndex(int index, int value);
  bool Enabled() const { return FEnabled; }
  TKelFillObject& FillObject() { return FFillObject; }
  const TKelFillObject& FillObject() const { return FFillObject; }
  void SetFillObject(const TKelFillObject& value) { FFillObject.Assign(value); }

  void UpdateFromList();

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

private:
  TKelCustomImageList* FImageList = nullptr;
  float FStrength = 0.6f;
  int FImageIndex = 0;
  int FListIndex = 0;
  bool FEnabled = false;
  TKelFillObject FFillObject;
  std::unique_ptr<TKelChangeLink> FLink;
};

class TKelBitmapEffectObject : public TKelObject {
public:
  TKelBitmapEffectObject();

  TKelAlphaObject& AlphaBlend() { return FAlphaBlend; }
  const TKelAlphaObject& AlphaBlend() const { return FAlphaBlend; }
  // index 0 FlipVertical, 1 FlipHorizontal, 2 GrayScale, 3 Invert, 4
  // Buffered, 5 the unpublished switch; all stay off in this library.
  bool Effect(int index) const;
  void SetEffect(int index, bool value);
  int Brightness() const { return FBrightness; }
  void SetBrightness(int value);
  bool BufferValid() const { return FBufferValid; }

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

private:
  void SubObjectChange();

  TKelAlphaObject FAlphaBlend;
  bool FBufferValid = false;
  bool FEffects[6] = {};
  std::unique_ptr<TBitmap> FBuffer;
  std::int16_t FBrightness = 0;
};

} // namespace kel
