// Bevel, shadow and shape settings: drop shadows, the one-colour-pair bevel
// of a shape, the outline kind of a shape button, the full bevel of a
// control with its painter, and the mask bitmaps and region data of a
// window region with their stored form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelfoundation.h"
#include "controls/kel/kelgraph.h"
#include "controls/kel/keltypes.h"

namespace kel {

class TKelShadow : public TKelObject {
public:
  TKelShadow() = default;

  TColor Color() const { return FColor; }
  void SetColor(TColor value) { SetProp(FColor, value); }
  // 0..40; larger depths are ignored.
  int Depth() const { return FDepth; }
  void SetDepth(int value);
  TKelShadowStyle Style() const { return FStyle; }
  void SetStyle(TKelShadowStyle value) { SetProp(FStyle, value); }

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

protected:
  TKelShadowStyle FStyle = hssSolid;

private:
  TColor FColor = platform::clBtnShadow;
  int FDepth = 6;
};

class TKelRgnShadow : public TKelShadow {
public:
  TKelRgnShadow() { FStyle = hssNone; }
};

class TKelSimpleBevel : public TKelObject {
public:
  TKelSimpleBevel() = default;

  // 0..50; larger widths are ignored.
  int Width() const { return FWidth; }
  void SetWidth(int value);
  TKelSimpleBevelStyle Style() const { return FStyle; }
  void SetStyle(TKelSimpleBevelStyle value) { SetProp(FStyle, value); }
  TColor Color() const { return FColor; }
  TColor LightColor() const { return FLightColor; }
  TColor ShadowColor() const { return FShadowColor; }
  // index 0 LightColor, 1 ShadowColor, 2 Color.
  void SetColor(int index, TColor value);

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

private:
  int FWidth = 2;
  TKelSimpleBevelStyle FStyle = sbNormal;
  TColor FColor = platform::clBlack;
  TColor FLightColor = platform::clBtnHighlight;
  TColor FShadowColor = platform::clBtnShadow;
};

class TKelShape : public TKelObject {
public:
  TKelShape();

  TKelSimpleBevel& Bevel() { return FBevel; }
  const TKelSimpleBevel& Bevel() const { return FBevel; }
  void SetBevel(const TKelSimpleBevel& value) { FBevel.Assign(value); }
  const platform::TBrush& Brush() const { return FBrush; }
  void SetBrush(const platform::TBrush& value);
  void SetBrushColor(TColor value);
  TKelPercent RoundPercent() const { return FRoundPercent; }
  void SetRoundPercent(int value);
  TKelShadow& Shadow() { return FShadow; }
  const TKelShadow& Shadow() const { return FShadow; }
  void SetShadow(const TKelShadow& value) { FShadow.Assign(value); }
  TKelShapeType Shape() const { return FShape; }
  void SetShape(TKelShapeType value) { SetProp(FShape, value); }
  bool Square() const { return FSquare; }
  void SetSquare(bool value) { SetProp(FSquare, value); }

  // The button's Shape setter copies settings: without a copy of its own a
  // shape could not be assigned at all.
  void Assign(const TKelObject& source) override;

private:
  TKelSimpleBevel FBevel;
  platform::TBrush FBrush;
  TKelPercent FRoundPercent = 33;
  TKelShadow FShadow;
  TKelShapeType FShape = stRectangle;
  bool FSquare = false;
};

class TKelBevel : public TKelObject {
public:
  TKelBevel();

  TKelBevelStyle StyleInner() const { return FStyleInner; }
  TKelBevelStyle StyleOuter() const { return FStyleOuter; }
  // bvShadow applies to both sides at once.
  void SetStyleInner(TKelBevelStyle value) { SetStyle(false, value); }
  void SetStyleOuter(TKelBevelStyle value) { SetStyle(true, value); }
  int WidthInner() const { return FWidthInner; }
  int WidthOuter() const { return FWidthOuter; }
  void SetWidthInner(int value);
  void SetWidthOuter(int value);
  TColor BorderColor() const { return FBorderColor; }
  TColor LightColor() const { return FLightColor; }
  TColor ShadowColor() const { return FShadowColor; }
  // index 0 BorderColor, 1 LightColor, 2 ShadowColor.
  void SetColor(int index, TColor value);
  int BorderInnerWidth() const { return FBorderInnerWidth; }
  void SetBorderInnerWidth(int value);
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int value);
  TKelFrameSides BorderSides() const { return FBorderSides; }
  void SetBorderSides(TKelFrameSides value) { SetProp(FBorderSides, TKelFrameSides(value & kelAllSides)); }
  TKelEdgeStyle EdgeStyle() const { return FEdgeStyle; }
  void SetEdgeStyle(TKelEdgeStyle value) { SetProp(FEdgeStyle, value); }
  TKelBevelMode Mode() const { return FMode; }
  void SetMode(TKelBevelMode value);
  TKelBorderStyle StandardStyle() const { return FStandardStyle; }
  // Stored always; notifies only in standard mode.
  void SetStandardStyle(TKelBorderStyle value);
  bool FrameSuppressed() const { return FFrameSuppressed; }
  void SetFrameSuppressed(bool value) { SetProp(FFrameSuppressed, value); }
  bool ModeSwitched() const { return FModeSwitched; }

  // Pixels the bevel takes from each side, and from the edge to the client area.
  int TotalWidth() const { return FTotalWidth; }
  int InnerWidth() const { return FInnerWidth; }
  int GetBevelExtend() const;

  // Paints the bevel and answers the rectangle inside it.
  TRect PaintBevel(TCanvas& canvas, const TRect& rect, bool transparent) const;

  void Change() override;
  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

private:
  void SetStyle(bool outer, TKelBevelStyle value);
  void Recalc();

  TKelBevelStyle FStyleInner = bvNone;
  TKelBevelStyle FStyleOuter = bvNone;
  int FWidthInner = 1;
  int FWidthOuter = 1;
  TColor FBorderColor = platform::clBtnFace;
  int FBorderInnerWidth = 0;
  int FBorderWidth = 0;
  TKelFrameSides FBorderSides = kelAllSides;
  TKelEdgeStyle FEdgeStyle = etEtched;
  int FTotalWidth = 0;
  int FInnerWidth = 0;
  TColor FLightColor = platform::clBtnHighlight;
  TKelBevelMode FMode = bmCustom;
  TColor FShadowColor = platform::clBtnShadow;
  TKelBorderStyle FStandardStyle = lsSingleLowered;
  bool FFrameSuppressed = false;
  bool FModeSwitched = false;
};

class TKelRegionMask : public TKelObject {
public:
  TKelRegionMask() = default;

  const std::vector<std::uint8_t>& RegionData() const { return FRegionData; }
  void SetRegionData(const std::vector<std::uint8_t>& data);
  int RegionDataSize() const { return FRegionDataSize; }
  // Read before "RegionData": the size its block must have.
  void SetRegionDataSize(int value) { FRegionDataSize = value < 0 ? 0 : value; }
  TBitmap& BorderBitmap() { return FBorder; }
  TBitmap& BorderUpBitmap() { return FBorderUp; }
  TBitmap& BorderDownBitmap() { return FBorderDown; }
  TKelSavePixelFormat PixelFormat = spfDefault;
  bool Compressed = false;

  void Assign(const TKelObject& source) override;

  // The extra stored properties ("RegionData", "BorderBmp", "BorderUpBmp",
  // "BorderDnBmp"), each written only when it holds something.
  void WriteProperties(platform::TStream& stream) const;
  // Reads the stored properties that follow, up to the end of the stream.
  void ReadProperties(platform::TStream& stream);

private:
  std::vector<std::uint8_t> FRegionData;
  int FRegionDataSize = 0;
  TBitmap FBorderUp;
  TBitmap FBorderDown;
  TBitmap FBorder;
};

} // namespace kel
