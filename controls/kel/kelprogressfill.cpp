#include "controls/kel/kelprogressfill.h"

#include <QPainter>
#include <cstdio>
#include <cstdlib>

namespace kel {

using namespace platform;

TKelBaseMeter::TKelBaseMeter(QWidget* parent) : TKelGraphicControl(parent) {
  resize(80, 20);
  // The meter paints its whole area itself.
  SetTransparent(false);
  Bevel().BeginUpdate();
  Bevel().SetStyleOuter(bvLowered);
  Bevel().EndUpdate(false);
  FFont3D.OnChange = [this](TKelObject*) { UpdateControl(); };
}

void TKelBaseMeter::SetAlignment(TAlignment value) { SetControlProp(FAlignment, value); }

void TKelBaseMeter::SetDirection(TKelMeterDirection value) { SetControlProp(FDirection, value); }

void TKelBaseMeter::SetOptionsText(TKelMeterTextOptions value) { SetControlProp(FOptionsText, value); }

void TKelBaseMeter::SetUseFontColor(bool value) { SetControlProp(FUseFontColor, value); }

void TKelBaseMeter::SetCaption(const std::string& value) { SetControlProp(FCaption, value); }

void TKelBaseMeter::SetColor(TColor value) { SetControlProp(FColor, value); }

int TKelBaseMeter::PercentOf(int userValue) const {
  // In 64 bits: the span of two 32-bit values overflows 32.
  const std::int64_t span = std::int64_t(FMaxValue) - FMinValue;
  if (span == 0) return 0;
  const long double ratio = (static_cast<long double>(userValue) - FMinValue) / span * 100.0L;
  return std::clamp(KelRoundExtended(ratio), 0, 100);
}

void TKelBaseMeter::Recompute() { FPosition = PercentOf(FUserValue); }

void TKelBaseMeter::SetMaxValue(int value) {
  if (value == FMaxValue || value == FMinValue) return;
  const int low = std::min(value, FMinValue), high = std::max(value, FMinValue);
  FMinValue = low;
  FMaxValue = high;
  if (FUserValue < FMinValue || FUserValue > FMaxValue) FUserValue = FMaxValue;
  Recompute();
  UpdateControl();
}

void TKelBaseMeter::SetMinValue(int value) {
  if (value == FMinValue || value == FMaxValue) return;
  const int low = std::min(value, FMaxValue), high = std::max(value, FMaxValue);
  FMinValue = low;
  FMaxValue = high;
  if (FUserValue < FMinValue || FUserValue > FMaxValue) FUserValue = FMinValue;
  Recompute();
  UpdateControl();
}

void TKelBaseMeter::SetUserValue(int value) {
  if (value == FUserValue || value < FMinValue || value > FMaxValue) return;
  FUserValue = value;
  Recompute();
  UpdateBar();
}

void TKelBaseMeter::SetPosition(int value) {
  value = std::clamp(value, 0, 100);
  if (value == FPosition) return;
  FPosition = value;
  FUserValue = KelRoundExtended(FPosition * 0.01L * (static_cast<long double>(FMaxValue) - FMinValue)) + FMinValue;
  UpdateBar();
}

void TKelBaseMeter::UpdateBar() {
  if (FPainting) return;
  const int p = FPosition;
  if (std::abs(p - FLastPainted) < FDelta && !(p != FLastPainted && (p == 0 || p == 100))) return;
  Render(p);
  if (isVisible() && !IsUpdating() && !Loading()) repaint();
}

TFont TKelBaseMeter::EffectiveFont() const { return WidgetFont(); }

void TKelBaseMeter::Render(int percent) {
  FPainting = true;
  ++FRenderCount;
  const int W = width(), H = height();
  if (FPicture.Width() != W || FPicture.Height() != H) {
    FPicture.SetPixelFormat(pf32bit);
    FPicture.SetSize(W, H);
  }
  if (!FPicture.Empty()) {
    TCanvas& c = FPicture.Canvas();
    c.RemoveClip();
    c.Brush = TBrush{FColor, bsSolid, {}};
    c.FillRect(Rect(0, 0, W, H));
    const TRect inner = Bevel().PaintBevel(c, Rect(0, 0, W, H), false);
    const bool horizontal = FDirection == mdHorizontal || FDirection == mdHorizontalReverse;
    const int size = std::max(0, horizontal ? inner.Width() : inner.Height());
    // Whole pixels of the percentage, in integers so 29 % of 100 is 29.
    const int length = std::min(size, percent * size / 100);
    TRect bar = inner, rest = inner;
    switch (FDirection) {
      case mdHorizontal: bar.Right = inner.Left + length; rest.Left = bar.Right; break;
      case mdHorizontalReverse: bar.Left = inner.Right - length; rest.Right = bar.Left; break;
      case mdVertical: bar.Bottom = inner.Top + length; rest.Top = bar.Bottom; break;
      case mdVerticalReverse: bar.Top = inner.Bottom - length; rest.Bottom = bar.Top; break;
    }
    DrawFill(c, bar, inner, percent);
    if (FOptionsText != toNoText) DrawMeterText(c, inner, bar, rest, percent);
  }
  FLastPainted = percent;
  FPainting = false;
}

void TKelBaseMeter::DrawFill(TCanvas&, const TRect&, const TRect&, int) {}

TColor TKelBaseMeter::RestTextColor() const { return EffectiveFont().Color; }

void TKelBaseMeter::DrawMeterText(TCanvas& c, const TRect& inner, const TRect& bar, const TRect& rest, int percent) {
  char number[16];
  std::snprintf(number, sizeof number, "%d%%", percent);
  const std::string text = FOptionsText == toPercent ? std::string(number) : FCaption;
  const unsigned align = FAlignment == taCenter ? DT_CENTER : FAlignment == taRightJustify ? DT_RIGHT : DT_LEFT;
  const unsigned format = DT_SINGLELINE | DT_VCENTER | align;
  const unsigned flags = isEnabled() ? kfxEnabled : 0;
  c.Font = EffectiveFont();
  c.Brush.Style = bsClear;
  const auto draw = [&](TColor color, const TRect* clip) {
    c.Font.Color = color;
    if (clip != nullptr) {
      if (clip->Width() <= 0 || clip->Height() <= 0) return;
      c.SetClipRect(*clip);
    }
    KelDrawFxText(c, text, &FFont3D, flags, format, inner);
    c.RemoveClip();
  };
  if (FUseFontColor) {
    draw(EffectiveFont().Color, nullptr);
  } else {
    draw(FColor, &bar);
    draw(RestTextColor(), &rest);
  }
}

void TKelBaseMeter::paintEvent(QPaintEvent*) {
  if (Loading()) return;
  // A repaint always renders: a value flipped to force it could still sit
  // within Delta of the last one and paint nothing.
  Render(FPosition);
  QPainter painter(this);
  painter.drawImage(0, 0, FPicture.Image());
}

// ---------------------------------------------------------------- TKelCustomProgressFill

TKelCustomProgressFill::TKelCustomProgressFill(QWidget* parent) : TKelBaseMeter(parent) {
  FFillObject.OnChange = [this](TKelObject*) { UpdateControl(); };
}

void TKelCustomProgressFill::SetBar3D(TKelBorderStyle value) { SetControlProp(FBar3D, value); }

void TKelCustomProgressFill::SetBrushBackColor(TColor value) { SetControlProp(FBrushBackColor, value); }

void TKelCustomProgressFill::DrawFill(TCanvas& c, const TRect& bar, const TRect& inner, int percent) {
  c.Brush = TBrush{FBrushBackColor, bsSolid, {}};
  c.FillRect(inner);
  if (bar.Width() > 0 && bar.Height() > 0) FFillObject.PaintFill(c, bar, FBrushBackColor);
  if (percent != 0) {
    TRect frame = bar;
    KelDrawFrame(c, frame, FBar3D);
  }
}

TColor TKelCustomProgressFill::RestTextColor() const {
  if (FFillObject.Style() == sfNone || FFillObject.Style() == sfBrush) return FFillObject.Brush().Color;
  return TKelBaseMeter::RestTextColor();
}

TKelProgressFill::TKelProgressFill(QWidget* parent) : TKelCustomProgressFill(parent) {}

} // namespace kel
