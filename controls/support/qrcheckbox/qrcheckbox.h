// A window-less check box that paints its own glyph in one of five styles,
// optionally three-state and optionally transparent over its parent.
#pragma once

#include "platform/colors.h"

#include <QString>
#include <QWidget>
#include <functional>

namespace platform {
class TCanvas;
}

namespace wn {

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };
enum TCheckStyle { csCheckBox, csDiamond, csPushButton, csRadioButton, csTrafficLight };
enum TLeftRight { taLeftJustify, taRightJustify };

class TQrCheckBox : public QWidget {
public:
  using TNotifyEvent = std::function<void(TQrCheckBox*)>;
  // button, modifiers and position in client coordinates.
  using TMouseEvent = std::function<void(TQrCheckBox*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)>;
  using TMouseMoveEvent = std::function<void(TQrCheckBox*, Qt::KeyboardModifiers, int, int)>;

  explicit TQrCheckBox(QWidget* parent = nullptr);

  TLeftRight Alignment() const { return FAlignment; }
  void SetAlignment(TLeftRight value);
  bool AllowGrayed() const { return FAllowGrayed; }
  void SetAllowGrayed(bool value) { FAllowGrayed = value; }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor value);
  bool Checked() const { return FChecked; }
  void SetChecked(bool value);
  TCheckBoxState State() const { return FState; }
  void SetState(TCheckBoxState value);
  int CheckSize() const { return FCheckSize; }
  void SetCheckSize(int value);
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value);
  TCheckStyle Style() const { return FStyle; }
  void SetStyle(TCheckStyle value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& value);

  TNotifyEvent OnChange;
  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

  // The dialog's accelerator character; answers whether it was consumed.
  bool DialogChar(QChar key);

  // Draws the whole control onto canvas (client coordinates).
  void Paint(platform::TCanvas& canvas);

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

private:
  void AdjustBounds();
  void UpdateShortcut();
  void DrawCheck(platform::TCanvas& canvas, const QRect& r);
  void DrawDiamond(platform::TCanvas& canvas, const QRect& r);
  void DrawTrafficLight(platform::TCanvas& canvas, const QRect& r);
  void DrawCaption(platform::TCanvas& canvas, const QRect& r);
  int TextFlags() const;

  TLeftRight FAlignment = taLeftJustify;
  bool FAllowGrayed = false;
  bool FAutoSize = false;
  platform::TColor FColor = platform::clBtnFace;
  bool FChecked = false;
  TCheckBoxState FState = cbUnchecked;
  int FCheckSize = 13;
  int FSpacing = 4;
  TCheckStyle FStyle = csCheckBox;
  bool FTransparent = false;
  bool FWordWrap = false;
  QString FCaption;
  bool FMouseDown = false;
  bool FCheckedByPress = false;
  int FShortcutId = 0;
};

// The character after the single "&" of a caption ("&&" is a literal "&"),
// or a null character.
QChar AcceleratorChar(const QString& caption);

} // namespace wn
