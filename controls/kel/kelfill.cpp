#include "controls/kel/kelfill.h"

#include <cmath>
#include <cstdio>

#include "controls/kel/kelbitmaplist.h"

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- TKelGradient

TKelGradient::TKelGradient() { RecalcColors(); }

void TKelGradient::SetColorCount(int value) {
  if (value < 2 || value > 236) return;
  SetProp(FColorCount, value);
}

void TKelGradient::SetColorList(const std::vector<TColor>& value) {
  BeginUpdate();
  FColorList = value;
  EndUpdate(true);
}

void TKelGradient::Change() {
  RecalcColors();
  TKelObject::Change();
}

void TKelGradient::RecalcColors() {
  FPalette.reset();
  FColors.clear();
  if (FTwoColors) {
    KelMakeColorSteps(FColor, FEndColor, FColorCount, true, &FColors);
  } else if (FColorList.size() > 1) {
    const int k = FColorCount / int(FColorList.size());
    KelMakeColorSteps(FColorList[0], FColorList[1], k, true, &FColors);
    for (std::size_t i = 1; i + 1 < FColorList.size(); ++i)
      KelMakeColorSteps(FColorList[i], FColorList[i + 1], k, false, &FColors);
  }
  if (FPaletteRealize) FPalette = KelCreateColorPalette(&FColors);
}

void TKelGradient::PaintTo(TCanvas& canvas, const TRect& rect) const {
  KelGradientFill(canvas, rect, FStyle, 0, FPaletteRealize ? kgfRealizePalette : 0, FPalette.get(), &FColors);
}

void TKelGradient::RealizePaletteOn(TCanvas&) const {
  // Every display here is true colour: there is no palette to realize.
}

std::string TKelGradient::GetSetStr() const {
  static const char* const words[] = {"horizontal", "vertical", "square", "elliptic", "top left",
                                      "top right", "bottom left", "bottom right", "top left diag",
                                      "top right diag"};
  return std::string(FStyle <= gstTopRightDiagonal ? words[FStyle] : "") + ", Col: " +
         std::to_string(FColorCount) + (FTwoColors ? ", 2 col mode" : ", mult. col mode");
}

void TKelGradient::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelGradient*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FColorCount = s->FColorCount;
  FColor = s->FColor;
  FEndColor = s->FEndColor;
  FPaletteRealize = s->FPaletteRealize;
  FStyle = s->FStyle;
  FColorList = s->FColorList;
  FTwoColors = s->FTwoColors;
  EndUpdate(true);
}

void TKelGradient::WriteColorList(TStream& stream) const {
  KelWriteIntegerList(stream, std::vector<std::int32_t>(FColorList.begin(), FColorList.end()));
}

void TKelGradient::ReadColorList(TStream& stream) {
  const std::vector<std::int32_t> values = KelReadIntegerList(stream);
  const std::vector<TColor> colors(values.begin(), values.end());
  SetColorList(colors);
}

// ---------------------------------------------------------------- TKelShapeFill

TKelShapeFill::TKelShapeFill() { LinkChild(FGradient); }

void TKelShapeFill::SetBitmap(const TBitmap& value) {
  FBitmap.Assign(value);
  Change();
}

const TBitmap* TKelShapeFill::FillBitmap() const {
  if (FStyle == sfBitmap) return &FBitmap;
  if (FStyle == sfBitmapList) return &FListBitmap;
  return nullptr;
}

std::string TKelShapeFill::GetSetStr() const {
  static const char* const words[] = {"Disabled", "", "Brush", "Bitmap", "BitmapList", "Gradient"};
  return std::string("{") + (FStyle <= sfGradient ? words[FStyle] : "") + "}";
}

void TKelShapeFill::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelShapeFill*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FBitmap.Assign(s->FBitmap);
  FListBitmap.Assign(s->FListBitmap);
  FGradient.Assign(s->FGradient);
  FStyle = s->FStyle;
  FTileMode = s->FTileMode;
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelFillObject

TKelFillObject::TKelFillObject() {
  BeginUpdate();
  SetStyle(sfNone);
  EndUpdate(false);
}

bool TKelFillObject::AlignmentShows() const {
  return (FStyle == sfBitmap || FStyle == sfBitmapList) && TileMode() == tmNone;
}

void TKelFillObject::SetAlignment(TKelAlignment value) {
  if (value == FAlignment) return;
  FAlignment = value;
  if (AlignmentShows()) Change();
}

void TKelFillObject::SetOffset(int index, int value) {
  int& field = index == 0 ? FOffsetX : FOffsetY;
  if (value == field) return;
  field = value;
  if (AlignmentShows()) Change();
}

void TKelFillObject::SetBrush(const TBrush& value) {
  if (value.Color == FBrush.Color && value.Style == FBrush.Style && value.Pattern == FBrush.Pattern) return;
  FBrush = value;
  Change();
}

void TKelFillObject::SetBrushColor(TColor value) {
  TBrush brush = FBrush;
  brush.Color = value;
  SetBrush(brush);
}

bool TKelFillObject::FillRect(TCanvas& canvas, const TRect& rect, std::uint32_t clipOffset, TColor backColor) {
  if (FStyle == sfGradient && (FOptions & foGrUseBitmap)) return PaintFill(canvas, rect, backColor);
  const bool had = canvas.HasClip();
  const QRegion old = canvas.ClipRegion();
  const QRegion region((clipOffset ? KelOffsetRect(rect, clipOffset) : rect).ToQRect());
  canvas.SetClipRegion(had ? old.intersected(region) : region);
  const bool result = PaintFill(canvas, rect, backColor);
  if (had) canvas.SetClipRegion(old);
  else canvas.RemoveClip();
  return result;
}

bool TKelFillObject::PaintFill(TCanvas& canvas, const TRect& rect, TColor backColor) {
  switch (FStyle) {
    case sfNone: return false;
    case sfBrushBitmap: {
      const TBrush old = canvas.Brush;
      // The NT family takes the whole bitmap as the pattern.
      if (!Bitmap().Empty()) canvas.Brush.Pattern = Bitmap().ToImage();
      canvas.FillRect(rect);
      canvas.Brush = old;
      return true;
    }
    case sfBrush: {
      const TBrush oldBrush = canvas.Brush;
      const TColor oldPen = canvas.Pen.Color;
      const TColor oldBack = canvas.BackColor;
      canvas.Brush = FBrush;
      canvas.Pen.Color = backColor;
      if (FBrush.Style != bsSolid) canvas.BackColor = static_cast<TColor>(ColorToRGB(backColor));
      canvas.FillRect(rect);
      canvas.Brush = oldBrush;
      canvas.Pen.Color = oldPen;
      canvas.BackColor = oldBack;
      return true;
    }
    case sfBitmap:
    case sfBitmapList: {
      const TBitmap& source = FStyle == sfBitmap ? Bitmap() : ListBitmap();
      const auto background = [&] {
        if (!(FOptions & foFillInner)) return;
        const TBrush old = canvas.Brush;
        canvas.Brush = TBrush{backColor, bsSolid, {}};
        canvas.FillRect(rect);
        canvas.Brush = old;
      };
      if (source.Empty()) {
        background();
        return false;
      }
      const unsigned quick = (FOptions & foQuickDraw) ? 0 : kbfRealizePalette;
      switch (TileMode()) {
        case tmNone: {
          background();
          TRect place = KelAlignRect(FAlignment, rect, Rect(0, 0, source.Width(), source.Height()));
          place = Rect(place.Left + FOffsetX, place.Top + FOffsetY, place.Right + FOffsetX, place.Bottom + FOffsetY);
          KelDrawBitmapRect(canvas, place, source, clNone, quick);
          break;
        }
        case tmCenter:
          background();
          KelDrawBitmapRect(canvas, rect, source, clNone, quick | kbfCenter);
          break;
        case tmStretch: KelDrawBitmapRect(canvas, rect, source, clNone, quick | kbfStretch); break;
        case tmTile: KelDrawBitmapRect(canvas, rect, source, clNone, quick | kbfTile); break;
      }
      return true;
    }
    case sfGradient: {
      unsigned flags = (FOptions & foGrUseBitmap) ? kgfOffscreen : 0;
      if (Gradient().PaletteRealize()) flags |= kgfRealizePalette;
      KelGradientFill(canvas, rect, Gradient().Style(), 0, flags, Gradient().Palette(), &Gradient().Colors());
      return true;
    }
  }
  return false;
}

void TKelFillObject::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelFillObject*>(&source);
  if (s == nullptr) return TKelShapeFill::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FBrush = s->FBrush;
  FOptions = s->FOptions;
  Bitmap().Assign(s->Bitmap());
  ListBitmap().Assign(s->ListBitmap());
  Gradient().Assign(s->Gradient());
  SetStyle(s->Style());
  SetTileMode(s->TileMode());
  // Placement is part of the settings: a copy without it would draw elsewhere.
  FAlignment = s->FAlignment;
  FOffsetX = s->FOffsetX;
  FOffsetY = s->FOffsetY;
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelAlphaObject

TKelAlphaObject::TKelAlphaObject()
    : FLink(std::make_unique<TKelChangeLink>(nullptr, [this](TKelChangeLink*) { UpdateFromList(); })) {
  LinkChild(FFillObject);
  FLink->OnFree = [this](TKelChangeLink*) {
    FImageList = nullptr;
    UpdateFromList();
  };
}

TKelAlphaObject::~TKelAlphaObject() {
  if (FImageList != nullptr) FImageList->UnregisterChanges(FLink.get());
}

void TKelAlphaObject::SetImageList(TKelCustomImageList*) {
  if (FImageList != nullptr) FImageList->UnregisterChanges(FLink.get());
  FImageList = nullptr;
  UpdateFromList();
}

void TKelAlphaObject::SetStrength(float) {
  if (FStrength == 0.0f) return;
  FStrength = 0.0f;
  Change();
}

void TKelAlphaObject::SetIndex(int index, int) {
  (index == 0 ? FImageIndex : FListIndex) = 0;
  UpdateFromList();
}

void TKelAlphaObject::UpdateFromList() {
  if (FImageList != nullptr && FImageList->ItemExists(FListIndex, FImageIndex))
    FImageList->AssignItemTo(FListIndex, FImageIndex, &FFillObject.ListBitmap());
  else
    FFillObject.ListBitmap().Assign(TBitmap());
  Change();
}

std::string TKelAlphaObject::GetSetStr() const {
  const TKelFillStyle style = FFillObject.Style();
  if (style == sfNone) return "{Disabled}";
  const char* kind = style == sfBrush ? "brush"
                     : style == sfBitmap || style == sfBitmapList ? "bmp"
                     : style == sfGradient ? "grad" : "";
  char strength[32];
  std::snprintf(strength, sizeof strength, "%.3f", double(FStrength));
  return std::string("{Enabled (") + kind + "), strength: " + strength + "}";
}

void TKelAlphaObject::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelAlphaObject*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FFillObject.Assign(s->FFillObject);
  FEnabled = s->FEnabled;
  FStrength = s->FStrength;
  FImageIndex = s->FImageIndex;
  FListIndex = s->FListIndex;
  FImageList = s->FImageList;
  if (FImageList != nullptr) FImageList->RegisterChanges(FLink.get());
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelBitmapEffectObject

TKelBitmapEffectObject::TKelBitmapEffectObject() {
  FAlphaBlend.OnChange = [this](TKelObject*) { SubObjectChange(); };
}

void TKelBitmapEffectObject::SubObjectChange() {
  Change();
  FBufferValid = false;
}

bool TKelBitmapEffectObject::Effect(int index) const { return index >= 0 && index < 6 && FEffects[index]; }

void TKelBitmapEffectObject::SetEffect(int index, bool) {
  if (index < 0 || index >= 6) return;
  const bool was = FEffects[index];
  FEffects[index] = false;
  if (index == 4) {
    FBufferValid = false;
    FBuffer.reset();
  }
  if (was) SubObjectChange();
}

void TKelBitmapEffectObject::SetBrightness(int) {
  if (FBrightness == 0) return;
  FBrightness = 0;
  SubObjectChange();
}

std::string TKelBitmapEffectObject::GetSetStr() const {
  std::string items;
  const auto add = [&](const char* item) {
    if (!items.empty()) items += ",";
    items += item;
  };
  if (FAlphaBlend.FillObject().Style() != sfNone) add("alpha");
  if (FEffects[0]) add("FV");
  if (FEffects[1]) add("FH");
  if (FEffects[2]) add("GS");
  if (FEffects[3]) add("INV");
  if (FBrightness != 0) add("B");
  return "{" + (items.empty() ? std::string("Disabled") : items) + "}";
}

void TKelBitmapEffectObject::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelBitmapEffectObject*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FAlphaBlend.Assign(s->FAlphaBlend);
  for (int i = 0; i < 6; ++i) FEffects[i] = s->FEffects[i];
  FBrightness = s->FBrightness;
  EndUpdate(true);
}

} // namespace kel
