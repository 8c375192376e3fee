// The slider and the numeric edit whose drop-down button opens a slider
// below it; moving the slider writes its position into the edit.
#pragma once

#include <cmath>
#include <exception>
#include <functional>
#include <string>

#include "controls/support/qocontrols/qocontrols.h"
#include "platform/colors.h"
#include "platform/graphics.h"

namespace wn {

enum TQoSliderOrientation { soHorizontal, soVertical };
enum TQoBorderStyle { bsNone, bsSingle };
enum TQoPopupAnchor { paLeft, paRight };

class TQoSlider : public TQoCustomControl {
 public:
  explicit TQoSlider(QWidget* Parent = nullptr);
  // A pop-up slider is a window of its own that closes when the user
  // clicks elsewhere.
  TQoSlider(QWidget* Parent, bool Popup);

  double Min() const { return FMin; }
  // Raises EQoException unless Value lies below Max.
  void SetMin(double Value);
  double Max() const { return FMax; }
  // Raises EQoException unless Value lies above Min.
  void SetMax(double Value);
  double Position() const { return FPosition; }
  // Rounded to a multiple of Step, then kept within Min and Max.
  void SetPosition(double Value);
  double Step() const { return FStep; }
  void SetStep(double Value);
  TQoSliderOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TQoSliderOrientation Value);
  bool DrawMarks() const { return FDrawMarks; }
  void SetDrawMarks(bool Value);
  platform::TColor MarkColor() const { return FMarkColor; }
  void SetMarkColor(platform::TColor Value);
  TQoBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TQoBorderStyle Value);
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);
  bool IsPopup() const { return FPopup; }
  bool Dragging() const { return FDragging; }
  bool Loading = false;

  // The drawing area inside the border, in widget coordinates.
  QRect ClientArea() const;
  int ThumbSize() const { return FThumbSize; }
  // In client-area coordinates, as of the last paint.
  const platform::TRect& ThumbRect() const { return FThumbRect; }
  // Draws the whole client area into the paint bitmap.
  void RenderBitmap();
  const platform::TBitmap& PaintBitmap() const { return FBitmap; }

  // Odd, at least 7: 8 percent of the slider's length.
  static int ThumbSizeFor(int Size);
  // Where a value's thumb starts along a slider of Size pixels.
  static int OffsetOf(double Value, double Min, double Range, int Size, int ThumbSize);

  TQoNotifyEvent OnChange;
  // A pop-up slider asks to be closed (Enter, Escape, Alt+Up).
  std::function<void()> OnCloseRequest;
  // A pop-up slider was hidden, by its edit or by a click elsewhere.
  std::function<void()> OnHidden;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  void DoMouseWheel(platform::TShiftState Shift, int Delta, int XPos, int YPos) override;

 private:
  int Length() const;
  int BorderWidth() const;
  void StepBy(double Delta);
  void Press(int X, int Y);
  void DrawThumb(platform::TCanvas& Canvas, const platform::TRect& R);
  void DrawFocus(const platform::TRect& R);

  double FMin = 0;
  double FMax = 10;
  double FPosition = 0;
  double FStep = 1;
  TQoSliderOrientation FOrientation = soHorizontal;
  bool FDrawMarks = true;
  platform::TColor FMarkColor = platform::clBtnText;
  TQoBorderStyle FBorderStyle = bsSingle;
  platform::TColor FColor = platform::clWindow;
  bool FPopup = false;
  platform::TBitmap FBitmap;
  platform::TRect FThumbRect;
  int FThumbSize = 7;
  bool FDragging = false;
  int FDragOffset = 0;
};

class TQoCustomSliderEdit : public TQoEdPopup {
 public:
  explicit TQoCustomSliderEdit(QWidget* Parent = nullptr);
  ~TQoCustomSliderEdit() override;

  bool AllowIncDec = false;
  bool Validate = false;
  TQoSlider* Slider() const { return FSlider; }

  double PopupMin() const { return FSlider->Min(); }
  void SetPopupMin(double Value) { FSlider->SetMin(Value); }
  double PopupMax() const { return FSlider->Max(); }
  void SetPopupMax(double Value) { FSlider->SetMax(Value); }
  double PopupStep() const { return FSlider->Step(); }
  void SetPopupStep(double Value) { FSlider->SetStep(Value); }
  bool PopupDrawMarks() const { return FSlider->DrawMarks(); }
  void SetPopupDrawMarks(bool Value) { FSlider->SetDrawMarks(Value); }
  int PopupWidth() const { return FSlider->width(); }
  void SetPopupWidth(int Value) { FSlider->resize(Value, FSlider->height()); }
  int PopupHeight() const { return FSlider->height(); }
  void SetPopupHeight(int Value) { FSlider->resize(FSlider->width(), Value); }
  TQoPopupAnchor PopupAnchor = paLeft;
  // The drop-down button works only while the edit can be changed.
  void SetReadOnly(bool Value);

  // The text's number (everything but signs, digits and the decimal
  // separator left out). Raises EConvertError for no number and, with
  // Validate, EQoException for one outside PopupMin..PopupMax.
  double Value() const;
  // The value rounded to the nearest integer, halves to even.
  int GetIntegerValue() const { return static_cast<int>(std::nearbyint(Value())); }
  void SetIntegerValue(int Value);

  bool PopupVisible() const override;

  // Where the pop-up opens: Anchor (screen) moved so that a slider of
  // SliderSize stays within Bounds, above the edit when there is no room below.
  static QPoint PopupPlace(QPoint Anchor, QSize SliderSize, int EditHeight, const QRect& Bounds);

  TQoNotifyEvent OnChange;
  // A value refused as the edit loses the focus; unset, the application's
  // error handler shows it.
  std::function<void(std::exception_ptr Error)> OnValidateError;

 protected:
  void PopupOpen() override;
  void PopupClose() override;
  void keyPressEvent(QKeyEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

 private:
  void SliderChange();
  void IncDec(int Delta);

  TQoSlider* FSlider;
  bool FClosing = false;
  QCursor FSavedCursor;
};

class TQoSliderEdit : public TQoCustomSliderEdit {
 public:
  using TQoCustomSliderEdit::TQoCustomSliderEdit;
};

}  // namespace wn
