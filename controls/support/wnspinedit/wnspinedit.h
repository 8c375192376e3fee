// The supporting collection's edit base (disabled colours, hint colour,
// clipboard permissions, its own caret, edits that empty each other), and the
// numeric spin edit with up/down buttons built on it.
#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "platform/colors.h"
#include "platform/graphics.h"

namespace wn {

class TWnCustomEdit;

// The caret an edit shows while it has the focus: a bitmap, or a bar of the
// given size; all zero and no bitmap leave the system's caret.
class TWnCaret {
 public:
  explicit TWnCaret(TWnCustomEdit* Owner);

  const platform::TBitmap& Bitmap() const { return FBitmap; }
  // Copies Value and resets Width, Height and Gray.
  void SetBitmap(const platform::TBitmap& Value);
  int Width() const { return FWidth; }
  void SetWidth(int Value);
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  bool Gray() const { return FGray; }
  void SetGray(bool Value);
  bool IsDefault() const { return FBitmap.Empty() && FWidth == 0 && FHeight == 0 && !FGray; }

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  std::function<void()> OnChange;

 private:
  void Changed();

  TWnCustomEdit* FOwner;
  platform::TBitmap FBitmap;
  int FWidth = 0;
  int FHeight = 0;
  bool FGray = false;
  int FUpdateCount = 0;
};

class TWnCustomEdit : public QLineEdit {
 public:
  explicit TWnCustomEdit(QWidget* Parent = nullptr);
  ~TWnCustomEdit() override;

  platform::TColor DisabledColor = platform::clWindow;
  platform::TColor DisabledTextColor = platform::clGrayText;
  platform::TColor HintColor = platform::clInfoBk;
  bool AllowCopy = true;
  bool AllowCut = true;
  bool AllowPaste = true;
  bool AllowUndo = true;
  bool HotTrack() const { return FHotTrack; }
  void SetHotTrack(bool Value);
  TWnCaret& Caret() { return *FCaret; }
  // Edits of one owner with the same index empty each other; -1 is none.
  int GroupIndex = -1;

  // The clipboard commands, as far as the permissions allow.
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  void Undo();

 protected:
  // Empties the other edits of the group.
  void ClearGroup();
  virtual bool PasteAllowed() const { return AllowPaste; }
  virtual bool CutAllowed() const { return AllowCut; }
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;

 private:
  void ApplyCaret();
  void ApplyHotTrack();

  std::unique_ptr<TWnCaret> FCaret;
  bool FHotTrack = false;
  bool FMouseInside = false;
  QPalette FSavedHintPalette;
  bool FHintPaletteSaved = false;
};

// The diagonal spin button: a square split from its lower-left to its
// upper-right corner into an upper and a lower half.
class TWnSpinButton : public QWidget {
 public:
  enum TSpinHalf { shNone, shUpper, shLower };

  explicit TWnSpinButton(QWidget* Parent = nullptr);

  // A null bitmap restores the built-in glyph.
  void SetUpGlyph(const platform::TBitmap* Value);
  void SetDownGlyph(const platform::TBitmap* Value);
  const platform::TBitmap& UpGlyph() const { return FUpGlyph; }
  const platform::TBitmap& DownGlyph() const { return FDownGlyph; }
  QWidget* FocusControl = nullptr;
  std::function<void(QObject* Sender)> OnTopClick;
  std::function<void(QObject* Sender)> OnBottomClick;

  TSpinHalf Pressed() const { return FPressed; }
  // Which half (x, y) falls in.
  TSpinHalf HalfAt(int X, int Y) const;
  // Face 0 nothing pressed, 1 upper, 2 lower; made for the present size.
  const platform::TBitmap& Face(int State);
  // The repeat timer's tick: the pressed half's click again.
  void RepeatTick();
  QTimer& RepeatTimer() { return FRepeat; }

  // Draws face State (0, 1, 2) of a W x H button into Bitmap.
  static void RenderFace(platform::TBitmap& Bitmap, int W, int H, int State, const platform::TBitmap& Up,
                         const platform::TBitmap& Down);
  static void BuiltInGlyph(platform::TBitmap& Bitmap, bool Up);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void Click(TSpinHalf Half);
  void InvalidateFaces();

  platform::TBitmap FUpGlyph;
  platform::TBitmap FDownGlyph;
  platform::TBitmap FFaces[3];
  bool FFacesValid = false;
  TSpinHalf FPressed = shNone;
  TSpinHalf FHeld = shNone;
  QTimer FRepeat;
};

// The standard up/down pair: each press moves its position away from 0 and
// the position goes back to 0 at once, so each press is one click.
class TWnUpDown : public QWidget {
 public:
  explicit TWnUpDown(QWidget* Parent = nullptr);
  int Position() const { return FPosition; }
  // The system's thumb-position report: 1 next, -1 previous, 0 nothing.
  void ThumbPosition(int Position);
  std::function<void(bool Up)> OnClick;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  int FPosition = 0;
  bool FHandling = false;
  int FPressedHalf = 0;
};

enum TValueType { vtInteger, vtFloat, vtHex };
enum TSpinButtonKind { bkStandard, bkDiagonal };
enum TSpinAlignment { taSpinLeftJustify, taSpinRightJustify, taSpinCenter };

class TWnSpinEdit : public TWnCustomEdit {
 public:
  explicit TWnSpinEdit(QWidget* Parent = nullptr);
  ~TWnSpinEdit() override;

  double MinValue() const { return FMinValue; }
  void SetMinValue(double Value);
  double MaxValue() const { return FMaxValue; }
  void SetMaxValue(double Value);
  double Increment() const { return FIncrement; }
  void SetIncrement(double Value) { FIncrement = Value; }
  // Read from the text and written to it.
  double Value() const;
  void SetValue(double Value);
  TValueType ValueType() const { return FValueType; }
  void SetValueType(TValueType Value);
  int Decimal() const { return FDecimal; }
  void SetDecimal(int Value);
  bool Thousands() const { return FThousands; }
  void SetThousands(bool Value);
  bool ArrowKeys = true;
  bool EditorEnabled() const { return FEditorEnabled; }
  void SetEditorEnabled(bool Value) { FEditorEnabled = Value; }
  TSpinButtonKind ButtonKind() const { return FButtonKind; }
  void SetButtonKind(TSpinButtonKind Value);
  TSpinAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TSpinAlignment Value);
  bool AutoSelect = true;

  int GetIntegerValue() const;
  void SetIntegerValue(int Value) { SetValue(Value); }
  // Value kept within MinValue and MaxValue (when they differ).
  double CheckValue(double Value) const;

  virtual bool IsValidChar(QChar Key) const;
  virtual void UpClick();
  virtual void DownClick();

  TWnSpinButton* DiagonalButton() const { return FDiagonal; }
  TWnUpDown* UpDown() const { return FUpDown; }
  int ButtonWidth() const;

  std::function<void(QObject* Sender)> OnTopClick;
  std::function<void(QObject* Sender)> OnBottomClick;
  std::function<void(QObject* Sender)> OnChange;

 protected:
  bool PasteAllowed() const override { return FEditorEnabled && !isReadOnly() && AllowPaste; }
  bool CutAllowed() const override { return FEditorEnabled && !isReadOnly() && AllowCut; }
  void keyPressEvent(QKeyEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void TextChanged();
  void Step(double Delta, const std::function<void(QObject*)>& After);
  bool ConvertText(const std::string& Text, double& Value) const;
  void LayoutButton();
  void MakeButton();

  double FMinValue = 0;
  double FMaxValue = 0;
  double FIncrement = 1;
  TValueType FValueType = vtInteger;
  int FDecimal = 2;
  bool FThousands = false;
  bool FEditorEnabled = true;
  TSpinButtonKind FButtonKind = bkDiagonal;
  TSpinAlignment FAlignment = taSpinLeftJustify;
  double FLastValue = 0;
  bool FChanging = false;
  TWnSpinButton* FDiagonal = nullptr;
  TWnUpDown* FUpDown = nullptr;
};

}  // namespace wn
