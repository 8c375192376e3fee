// Caption and layout settings: where glyph, text and drop-down arrow sit,
// and how caption text is styled.
#pragma once

#include <cstdint>
#include <string>

#include "controls/kel/kelfoundation.h"
#include "controls/kel/keltypes.h"
#include "platform/colors.h"

namespace kel {

using platform::TColor;

class TKelGlyphTextLayout : public TKelObject {
public:
  TKelGlyphTextLayout() = default;

  TKelTextArrange AlignText2Glyph() const { return FAlignText2Glyph; }
  void SetAlignText2Glyph(TKelTextArrange value) { SetProp(FAlignText2Glyph, value); }
  int OffsetX() const { return FOffsetX; }
  int OffsetY() const { return FOffsetY; }
  // index 0 OffsetX, 1 OffsetY.
  void SetOffset(int index, int value) { SetProp(index == 0 ? FOffsetX : FOffsetY, value); }
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value) { SetProp(FSpacing, value); }
  TKelAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKelAlignment value) { SetProp(FAlignment, value); }

  void Assign(const TKelObject& source) override;

protected:
  TKelAlignment FAlignment = agTopLeft;

private:
  TKelTextArrange FAlignText2Glyph = taRight;
  int FOffsetX = 0;
  int FOffsetY = 0;
  int FSpacing = 2;
};

class TKelButtonLayout : public TKelGlyphTextLayout {
public:
  TKelButtonLayout() { FAlignment = agCenter; }

  bool Arrow() const { return FArrow; }
  void SetArrow(bool value) { SetProp(FArrow, value); }
  TColor ArrowColor() const { return FArrowColor; }
  void SetArrowColor(TColor value) { SetProp(FArrowColor, value); }
  int ArrowIndent() const { return FArrowIndent; }
  void SetArrowIndent(int value) { SetProp(FArrowIndent, value); }
  TKelArrowPosition ArrowPosition() const { return FArrowPosition; }
  void SetArrowPosition(TKelArrowPosition value) { SetProp(FArrowPosition, value); }
  // 2..10; other sizes are ignored.
  std::uint8_t ArrowSize() const { return FArrowSize; }
  void SetArrowSize(std::uint8_t value);

  void Assign(const TKelObject& source) override;

private:
  bool FArrow = false;
  TColor FArrowColor = platform::clBlack;
  int FArrowIndent = 3;
  TKelArrowPosition FArrowPosition = apRightText;
  std::uint8_t FArrowSize = 3;
};

class TKel3DCaption : public TKelObject {
public:
  TKel3DCaption() = default;

  TKelDisabledStyle DisabledStyle() const { return FDisabledStyle; }
  void SetDisabledStyle(TKelDisabledStyle value) { SetProp(FDisabledStyle, value); }
  std::uint8_t LightDepth() const { return FLightDepth; }
  std::uint8_t ShadowDepth() const { return FShadowDepth; }
  // index 0 LightDepth, 1 ShadowDepth.
  void SetDepth(int index, std::uint8_t value) { SetProp(index == 0 ? FLightDepth : FShadowDepth, value); }
  TColor LightColor() const { return FLightColor; }
  TColor ShadowColor() const { return FShadowColor; }
  // index 0 LightColor, 1 ShadowColor.
  void SetColor(int index, TColor value) { SetProp(index == 0 ? FLightColor : FShadowColor, value); }
  TKelThreeDStyle Style() const { return FStyle; }
  void SetStyle(TKelThreeDStyle value) { SetProp(FStyle, value); }
  TKelThreeDOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TKelThreeDOrientation value) { SetProp(FOrientation, value); }
  // Extra spacing between the characters, in pixels.
  int Tracing() const { return FTracing; }
  void SetTracing(int value) { SetProp(FTracing, value); }

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

private:
  TKelDisabledStyle FDisabledStyle = dsAuto;
  std::uint8_t FLightDepth = 1;
  std::uint8_t FShadowDepth = 1;
  TColor FLightColor = platform::clBtnHighlight;
  TColor FShadowColor = platform::clBtnShadow;
  TKelThreeDStyle FStyle = tdNone;
  TKelThreeDOrientation FOrientation = toTopLeft;
  int FTracing = 0;
};

class TKelFxCaption : public TKel3DCaption {
public:
  TKelFxCaption() = default;

  // Degrees 0..359; 360 is stored as 0, larger values are ignored.
  std::uint16_t Angle() const { return FAngle; }
  void SetAngle(std::uint16_t value);
  std::uint16_t PosX() const { return FPosX; }
  std::uint16_t PosY() const { return FPosY; }
  // index 0 PosX, 1 PosY; negative values stop at 0.
  void SetPos(int index, int value);
  // Without a notification: the text measurement remembers where rotated
  // text starts.
  void SetPosition(int x, int y);

  std::string GetSetStr() const override;
  void Assign(const TKelObject& source) override;

private:
  std::uint16_t FAngle = 0;
  std::uint16_t FPosX = 0;
  std::uint16_t FPosY = 0;
};

} // namespace kel
