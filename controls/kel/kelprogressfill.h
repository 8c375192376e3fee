// The progress fill: a bevelled frame and a bar whose length is the current
// percentage, painted by a fill object, with optional text.
#pragma once

#include <cstdint>
#include <string>

#include "controls/kel/kelcaption.h"
#include "controls/kel/kelcontrol.h"
#include "controls/kel/kelfill.h"

namespace kel {

enum TKelMeterDirection : std::uint8_t { mdHorizontal, mdVertical, mdHorizontalReverse, mdVerticalReverse };
enum TKelMeterTextOptions : std::uint8_t { toNoText, toCaption, toPercent };

class TKelBaseMeter : public TKelGraphicControl {
  Q_OBJECT
public:
  explicit TKelBaseMeter(QWidget* parent = nullptr);

  TKel3DCaption& Font3D() { return FFont3D; }
  void SetFont3D(const TKel3DCaption& value) { FFont3D.Assign(value); }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  TKelMeterDirection Direction() const { return FDirection; }
  void SetDirection(TKelMeterDirection value);
  int MaxValue() const { return FMaxValue; }
  int MinValue() const { return FMinValue; }
  void SetMaxValue(int value);
  void SetMinValue(int value);
  int Position() const { return FPosition; }
  // Above 100 stores 100.
  void SetPosition(int value);
  int Step() const { return FStep; }
  void SetStep(int value) { FStep = std::clamp(value, 0, 100); }
  TKelMeterTextOptions OptionsText() const { return FOptionsText; }
  void SetOptionsText(TKelMeterTextOptions value);
  bool UseFontColor() const { return FUseFontColor; }
  void SetUseFontColor(bool value);
  int UserValue() const { return FUserValue; }
  // Ignored outside MinValue..MaxValue.
  void SetUserValue(int value);
  int Delta() const { return FDelta; }
  void SetDelta(int value) { FDelta = value < 1 ? 1 : std::min(value, 255); }
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  int LastPainted() const { return FLastPainted; }
  // Counts the pictures rendered (value changes and paint events).
  int RenderCount() const { return FRenderCount; }

  // Round((UserValue - MinValue) / (MaxValue - MinValue) x 100) in 0..100.
  int PercentOf(int userValue) const;
  // Paints the bar unless the change is below Delta.
  void UpdateBar();
  // The last rendered picture.
  const TBitmap& Picture() const { return FPicture; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void Render(int percent);
  virtual void DrawFill(TCanvas& canvas, const TRect& bar, const TRect& inner, int percent);
  virtual TColor RestTextColor() const;
  void DrawMeterText(TCanvas& canvas, const TRect& inner, const TRect& bar, const TRect& rest, int percent);
  platform::TFont EffectiveFont() const;

private:
  void Recompute();

  TKel3DCaption FFont3D;
  TAlignment FAlignment = taCenter;
  TKelMeterDirection FDirection = mdHorizontal;
  int FMaxValue = 100;
  int FMinValue = 0;
  int FPosition = 0;
  int FLastPainted = 0;
  int FStep = 10;
  TKelMeterTextOptions FOptionsText = toNoText;
  bool FUseFontColor = false;
  int FUserValue = 0;
  int FDelta = 1;
  bool FPainting = false;
  std::string FCaption;
  TColor FColor = platform::clWindow;
  TBitmap FPicture;
  int FRenderCount = 0;
};

class TKelCustomProgressFill : public TKelBaseMeter {
  Q_OBJECT
public:
  explicit TKelCustomProgressFill(QWidget* parent = nullptr);

  TKelBorderStyle Bar3D() const { return FBar3D; }
  void SetBar3D(TKelBorderStyle value);
  TColor BrushBackColor() const { return FBrushBackColor; }
  void SetBrushBackColor(TColor value);
  TKelFillObject& FillObject() { return FFillObject; }
  void SetFillObject(const TKelFillObject& value) { FFillObject.Assign(value); }

protected:
  void DrawFill(TCanvas& canvas, const TRect& bar, const TRect& inner, int percent) override;
  TColor RestTextColor() const override;

private:
  TKelBorderStyle FBar3D = lsNone;
  TColor FBrushBackColor = platform::clBtnFace;
  TKelFillObject FFillObject;
};

class TKelProgressFill : public TKelCustomProgressFill {
  Q_OBJECT
public:
  explicit TKelProgressFill(QWidget* parent = nullptr);
};

} // namespace kel
