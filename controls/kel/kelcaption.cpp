#include "controls/kel/kelcaption.h"

#include <algorithm>

namespace kel {

void TKelGlyphTextLayout::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelGlyphTextLayout*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FAlignText2Glyph = s->FAlignText2Glyph;
  FOffsetX = s->FOffsetX;
  FOffsetY = s->FOffsetY;
  FSpacing = s->FSpacing;
  FAlignment = s->FAlignment;
  EndUpdate(true);
}

void TKelButtonLayout::SetArrowSize(std::uint8_t value) {
  if (value < 2 || value > 10) return;
  SetProp(FArrowSize, value);
}

void TKelButtonLayout::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelButtonLayout*>(&source);
  if (s == nullptr) return TKelGlyphTextLayout::Assign(source);
  if (s == this) return;
  BeginUpdate();
  SetAlignText2Glyph(s->AlignText2Glyph());
  SetOffset(0, s->OffsetX());
  SetOffset(1, s->OffsetY());
  SetSpacing(s->Spacing());
  SetAlignment(s->Alignment());
  FArrow = s->FArrow;
  FArrowColor = s->FArrowColor;
  FArrowIndent = s->FArrowIndent;
  FArrowPosition = s->FArrowPosition;
  FArrowSize = s->FArrowSize;
  EndUpdate(true);
}

std::string TKel3DCaption::GetSetStr() const {
  static const char* const words[] = {"Disabled", "sunken", "raised", "sunken shadow", "raised shadow",
                                      "PColor sunken", "", "shadow", "outline", "extrude", "extrude enh"};
  return std::string("{") + (FStyle <= tdExtrudeEnh ? words[FStyle] : "") + "}";
}

void TKel3DCaption::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKel3DCaption*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FDisabledStyle = s->FDisabledStyle;
  FLightDepth = s->FLightDepth;
  FShadowDepth = s->FShadowDepth;
  FLightColor = s->FLightColor;
  FShadowColor = s->FShadowColor;
  FStyle = s->FStyle;
  FOrientation = s->FOrientation;
  FTracing = s->FTracing;
  if (auto* fx = dynamic_cast<TKelFxCaption*>(this)) {
    if (const auto* sfx = dynamic_cast<const TKelFxCaption*>(s)) {
      fx->SetAngle(sfx->Angle());
      fx->SetPos(0, sfx->PosX());
      fx->SetPos(1, sfx->PosY());
    }
  }
  EndUpdate(true);
}

void TKelFxCaption::SetAngle(std::uint16_t value) {
  if (value > 360) return;
  SetProp(FAngle, static_cast<std::uint16_t>(value == 360 ? 0 : value));
}

void TKelFxCaption::SetPos(int index, int value) {
  // The stored position is unsigned: a negative one would wrap to 65535.
  const auto v = static_cast<std::uint16_t>(std::clamp(value, 0, 0xFFFF));
  SetProp(index == 0 ? FPosX : FPosY, v);
}

void TKelFxCaption::SetPosition(int x, int y) {
  BeginUpdate();
  SetPos(0, x);
  SetPos(1, y);
  EndUpdate(false);
}

std::string TKelFxCaption::GetSetStr() const {
  std::string text = TKel3DCaption::GetSetStr();
  if (FAngle == 0) return text;
  if (text == "{Disabled}") text = "{";
  else text.back() = ',';
  return text + " rot: " + std::to_string(FAngle) + "\xC2\xB0}";
}

void TKelFxCaption::Assign(const TKelObject& source) { TKel3DCaption::Assign(source); }

} // namespace kel
