#include "controls/kel/kelbevel.h"

#include <cstring>

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- TKelShadow

void TKelShadow::SetDepth(int value) {
  if (value < 0 || value > 40) return;
  SetProp(FDepth, value);
}

std::string TKelShadow::GetSetStr() const {
  if (FStyle == hssNone) return "{Disabled}";
  return std::string("{") + (FStyle == hssSolid ? "solid" : "tracing") + ", " + std::to_string(FDepth) + "}";
}

void TKelShadow::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelShadow*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FColor = s->FColor;
  FDepth = s->FDepth;
  FStyle = s->FStyle;
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelSimpleBevel

void TKelSimpleBevel::SetWidth(int value) {
  if (value < 0 || value > 50) return;
  SetProp(FWidth, value);
}

void TKelSimpleBevel::SetColor(int index, TColor value) {
  SetProp(index == 0 ? FLightColor : index == 1 ? FShadowColor : FColor, value);
}

std::string TKelSimpleBevel::GetSetStr() const {
  static const char* const words[] = {"Normal", "Inset", "Offset"};
  return std::string("{") + (FStyle <= sbOffset ? words[FStyle] : "") + "}";
}

void TKelSimpleBevel::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelSimpleBevel*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FWidth = s->FWidth;
  FStyle = s->FStyle;
  FColor = s->FColor;
  FLightColor = s->FLightColor;
  FShadowColor = s->FShadowColor;
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelShape

TKelShape::TKelShape() {
  LinkChild(FBevel);
  LinkChild(FShadow);
}

void TKelShape::SetBrush(const TBrush& value) {
  if (value.Color == FBrush.Color && value.Style == FBrush.Style && value.Pattern == FBrush.Pattern) return;
  FBrush = value;
  Change();
}

void TKelShape::SetBrushColor(TColor value) {
  TBrush brush = FBrush;
  brush.Color = value;
  SetBrush(brush);
}

void TKelShape::SetRoundPercent(int value) {
  if (value < 0 || value > 100) return;
  SetProp(FRoundPercent, TKelPercent(value));
}

void TKelShape::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelShape*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FBevel.Assign(s->FBevel);
  FBrush = s->FBrush;
  FRoundPercent = s->FRoundPercent;
  FShadow.Assign(s->FShadow);
  FShape = s->FShape;
  FSquare = s->FSquare;
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelBevel

TKelBevel::TKelBevel() { Recalc(); }

void TKelBevel::SetStyle(bool outer, TKelBevelStyle value) {
  TKelBevelStyle& field = outer ? FStyleOuter : FStyleInner;
  TKelBevelStyle& other = outer ? FStyleInner : FStyleOuter;
  if (field == value) return;
  if (field == bvShadow) other = bvNone;
  if (value == bvShadow) other = bvShadow;
  field = value;
  Change();
}

void TKelBevel::SetWidthInner(int value) {
  if (value < 0 || value > 50) return;
  SetProp(FWidthInner, value);
}

void TKelBevel::SetWidthOuter(int value) {
  if (value < 0 || value > 50) return;
  SetProp(FWidthOuter, value);
}

void TKelBevel::SetColor(int index, TColor value) {
  SetProp(index == 0 ? FBorderColor : index == 1 ? FLightColor : FShadowColor, value);
}

void TKelBevel::SetBorderInnerWidth(int value) {
  if (value < 0 || value > 255) return;
  SetProp(FBorderInnerWidth, value);
}

void TKelBevel::SetBorderWidth(int value) {
  if (value < 0 || value > 255) return;
  SetProp(FBorderWidth, value);
}

void TKelBevel::SetMode(TKelBevelMode value) {
  if (value == FMode) return;
  if (FFrameSuppressed && (FMode == bmWindows || value == bmWindows)) FModeSwitched = true;
  FMode = value;
  Change();
}

void TKelBevel::SetStandardStyle(TKelBorderStyle value) {
  if (value == FStandardStyle) return;
  FStandardStyle = value;
  if (FMode == bmStandard) Change();
  else Recalc();
}

int TKelBevel::GetBevelExtend() const {
  switch (FMode) {
    case bmCustom: {
      if (FStyleInner == bvShadow) return FWidthInner + FBorderInnerWidth;
      int width = FBorderWidth + FBorderInnerWidth;
      if (FStyleInner == bvNone && FStyleOuter == bvNone) return width;
      const auto frame = [](TKelBevelStyle s) { return s == bvFrameLowered || s == bvFrameRaised ? 1 : 0; };
      if (FStyleOuter != bvNone) width += FWidthOuter + frame(FStyleOuter);
      if (FStyleInner != bvNone) width += FWidthInner + frame(FStyleInner);
      return width;
    }
    case bmStandard: return KelFrameWidth(FStandardStyle) + FBorderInnerWidth;
    case bmEdge: return (FBorderSides != 0 ? 2 : 0) + FBorderInnerWidth;
    case bmWindows: return FFrameSuppressed ? 0 : FBorderInnerWidth + 2;
  }
  return 0;
}

void TKelBevel::Recalc() {
  FTotalWidth = GetBevelExtend();
  FInnerWidth = FMode == bmCustom && FStyleOuter == bvShadow ? FWidthInner + FWidthOuter + FBorderInnerWidth
                                                              : FTotalWidth;
}

void TKelBevel::Change() {
  Recalc();
  TKelObject::Change();
}

TRect TKelBevel::PaintBevel(TCanvas& canvas, const TRect& rect, bool transparent) const {
  if (FTotalWidth == 0) return rect;
  TRect r = rect;
  const auto ring = [&](int w) {
    if (transparent) {
      r = Rect(r.Left + w, r.Top + w, r.Right - w, r.Bottom - w);
      return;
    }
    const TBrush old = canvas.Brush;
    canvas.Brush = TBrush{FBorderColor, bsSolid, {}};
    for (int i = 0; i < w; ++i) {
      canvas.FrameRect(r);
      r = Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
    }
    canvas.Brush = old;
  };
  switch (FMode) {
    case bmCustom:
      if (FStyleOuter == bvShadow) {
        KelDrawShadowFrame(canvas, r, FLightColor, transparent, FWidthInner, FWidthOuter, FBorderColor, FShadowColor);
      } else {
        KelDrawBevelFrame(canvas, r, FStyleOuter, FWidthOuter, FShadowColor, FLightColor);
        ring(FBorderWidth);
        KelDrawBevelFrame(canvas, r, FStyleInner, FWidthInner, FShadowColor, FLightColor);
      }
      break;
    case bmStandard: KelDrawFrame(canvas, r, FStandardStyle); break;
    case bmEdge:
      if (FBorderSides != 0) {
        static const unsigned edges[] = {BDR_RAISEDINNER, BDR_RAISEDOUTER, BDR_SUNKENINNER, BDR_SUNKENOUTER,
                                         EDGE_BUMP,       EDGE_ETCHED,     EDGE_RAISED,     EDGE_SUNKEN};
        unsigned sides = 0;
        if (FBorderSides & fsBottom) sides |= BF_BOTTOM;
        if (FBorderSides & fsTop) sides |= BF_TOP;
        if (FBorderSides & fsRight) sides |= BF_RIGHT;
        if (FBorderSides & fsLeft) sides |= BF_LEFT;
        TRect edge = r;
        DrawEdge(canvas, edge, edges[FEdgeStyle], sides);
        r = Rect(r.Left + 2, r.Top + 2, r.Right - 2, r.Bottom - 2);
      }
      break;
    case bmWindows: KelDrawFrame(canvas, r, lsLoweredExt); break;
  }
  ring(FBorderInnerWidth);
  return r;
}

std::string TKelBevel::GetSetStr() const {
  static const char* const words[] = {"Custom style", "Standard style", "Edged style", "Windows style"};
  return std::string("{") + (FMode <= bmWindows ? words[FMode] : "") + "}";
}

void TKelBevel::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelBevel*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FStyleInner = s->FStyleInner;
  FStyleOuter = s->FStyleOuter;
  FWidthInner = s->FWidthInner;
  FWidthOuter = s->FWidthOuter;
  FBorderColor = s->FBorderColor;
  FBorderInnerWidth = s->FBorderInnerWidth;
  FBorderWidth = s->FBorderWidth;
  FBorderSides = s->FBorderSides;
  FEdgeStyle = s->FEdgeStyle;
  FLightColor = s->FLightColor;
  FMode = s->FMode;
  FShadowColor = s->FShadowColor;
  FStandardStyle = s->FStandardStyle;
  FFrameSuppressed = s->FFrameSuppressed;
  EndUpdate(true);
  Recalc();
}

// ---------------------------------------------------------------- TKelRegionMask

void TKelRegionMask::SetRegionData(const std::vector<std::uint8_t>& data) {
  FRegionData = data;
  FRegionDataSize = static_cast<int>(data.size());
}

void TKelRegionMask::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelRegionMask*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  FRegionData.clear();
  FRegionDataSize = 0;
  if (s->FRegionDataSize > 0) {
    FRegionDataSize = s->FRegionDataSize;
    FRegionData = s->FRegionData;
    FBorderUp.Assign(s->FBorderUp);
    FBorderDown.Assign(s->FBorderDown);
    FBorder.Assign(s->FBorder);
  }
}

namespace {

void WriteBitmapProperty(TStream& stream, const char* name, const TBitmap& bitmap, bool compressed) {
  if (bitmap.Empty()) return;
  KelWriteBinaryProperty(stream, name, [&](TStream& s) {
    const std::uint8_t flag = compressed ? 1 : 0;
    s.WriteBuffer(&flag, 1);
    KelStreamWriteBitmap(s, bitmap, compressed, -1);
  });
}

} // namespace

void TKelRegionMask::WriteProperties(TStream& stream) const {
  if (FRegionDataSize != 0)
    KelWriteBinaryProperty(stream, "RegionData", [&](TStream& s) {
      s.WriteBuffer(FRegionData.data(), std::int64_t(FRegionData.size()));
    });
  WriteBitmapProperty(stream, "BorderBmp", FBorder, Compressed);
  WriteBitmapProperty(stream, "BorderUpBmp", FBorderUp, Compressed);
  WriteBitmapProperty(stream, "BorderDnBmp", FBorderDown, Compressed);
}

void TKelRegionMask::ReadProperties(TStream& stream) {
  while (stream.Position() < stream.Size()) {
    std::uint8_t length = 0;
    stream.ReadBuffer(&length, 1);
    std::string name(length, '\0');
    stream.ReadBuffer(name.data(), length);
    stream.SetPosition(stream.Position() - 1 - length);
    if (name == "RegionData") {
      KelReadBinaryProperty(stream, name, [&](TStream& s) {
        // The block must be the size announced: a longer one would overrun it.
        if (s.Size() != FRegionDataSize) throw EKelContainerError("RegionData does not fit its size");
        std::vector<std::uint8_t> data(static_cast<std::size_t>(FRegionDataSize));
        s.ReadBuffer(data.data(), FRegionDataSize);
        FRegionData = std::move(data);
      });
    } else if (name == "BorderBmp" || name == "BorderUpBmp" || name == "BorderDnBmp") {
      TBitmap& target = name == "BorderBmp" ? FBorder : name == "BorderUpBmp" ? FBorderUp : FBorderDown;
      KelReadBinaryProperty(stream, name, [&](TStream& s) {
        std::uint8_t flag = 0;
        s.ReadBuffer(&flag, 1);
        Compressed = flag != 0;
        KelStreamReadBitmap(s, target, Compressed);
      });
    } else {
      throw EKelContainerError("Unknown property " + name);
    }
  }
}

} // namespace kel
