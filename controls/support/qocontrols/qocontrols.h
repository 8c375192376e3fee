// The bases of the edit-control library's visible controls: a drawn control,
// the same with a controller link, and the library's edit, each able to carry
// an attached label kept at a fixed offset from its top-left corner; and the
// edit with a drop-down button that the slider edit builds on.
#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <stdexcept>
#include <string>

#include "controls/support/qoedit/qocomponent.h"
#include "platform/graphics.h"
#include "platform/input.h"

namespace wn {

// The class library's error of a component (a name it cannot take).
class EComponentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The class library's error of a text that is no number.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Private messages the library's controls send themselves and each other.
inline constexpr int QM_AFTERENTER = 32520;
inline constexpr int QM_AFTEREXIT = 32521;
inline constexpr int QM_CONTROLMOVED = 32523;
inline constexpr int QM_LABELMOVED = 32524;
inline constexpr int QM_ATTACHLABEL = 32525;

inline QEvent::Type QoEventType(int Message) { return static_cast<QEvent::Type>(Message); }

// The system's warning sound. Tests replace the sound to count it.
void MessageBeep(unsigned Type = 0);
extern std::function<void(unsigned Type)> MessageBeepHook;

// Letters, digits and "_", not starting with a digit.
bool IsValidIdent(const std::string& Name);
// Base followed by the smallest number from 1 that no object below Form is
// named with; raises EComponentError when Base is no identifier.
std::string FreeComponentName(const QObject* Form, const std::string& Base);
// The form or frame a control sits on.
QWidget* GetImmediateParentForm(QWidget* Control);

// The library's float text: up to 15 significant digits, the shortest form,
// the locale's decimal separator.
std::string QoFloatToStr(double Value);
// A floating-point text ("+1.5E3", blanks around allowed, the locale's
// decimal separator); false when it is none.
bool QoTextToFloat(const std::string& Text, double& Value);

class TQoAttachedLabel;

// Where a control keeps its attached label.
class TQoLabelInfo {
 public:
  int OffsetX() const { return FOffsetX; }
  int OffsetY() const { return FOffsetY; }
  void SetOffsetX(int Value);
  void SetOffsetY(int Value);
  // Stores both and reports one change.
  void MoveOffsets(int X, int Y);
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  TQoAttachedLabel* Label() const { return FLabel; }

 private:
  friend class TQoLabelLink;
  int FOffsetX = 0;
  int FOffsetY = 0;
  bool FVisible = false;
  QPointer<TQoAttachedLabel> FLabel;
  std::function<void()> FOnChange;
  std::function<void(bool)> FOnVisibleChange;
};

// A label that belongs to a control and reports its own moves to it.
class TQoAttachedLabel : public QLabel {
 public:
  TQoAttachedLabel(QWidget* Parent, QWidget* Control);
  ~TQoAttachedLabel() override;
  QWidget* Control() const { return FControl; }
  // Tells the control, when it is on the label's form, that the label moved.
  void ReportLabelMove();
  // The text; the label takes its size from it while AutoSize is on.
  void SetCaption(const QString& Value);
  bool AutoSize = true;
  bool Loading = false;

 protected:
  void moveEvent(QMoveEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  QPointer<QWidget> FControl;
  bool FDestroying = false;
};

// The attached-label side of a control, shared by the control bases.
class TQoLabelLink {
 public:
  TQoLabelLink(QWidget* Control, bool LabelAutoSize);
  ~TQoLabelLink();
  TQoLabelLink(const TQoLabelLink&) = delete;
  TQoLabelLink& operator=(const TQoLabelLink&) = delete;

  TQoLabelInfo& Info() { return FInfo; }
  bool LabelBelow = false;
  bool Loading = false;

  void ToggleLabel(bool Value);
  void PlaceLabel();
  // Raises EQoException "Label not attached" when the control has none.
  TQoAttachedLabel* LabelOrRaise() const;
  // Answers whether Event was one of the label's messages (then handled).
  bool HandleEvent(QEvent* Event);
  // The control's bounds were set.
  void BoundsChanged();

 private:
  bool CanPlace() const;
  void OffsetsFromLabel(int& X, int& Y) const;
  void Attach(TQoAttachedLabel* Label);

  QWidget* FControl;
  bool FLabelAutoSize;
  TQoLabelInfo FInfo;
  QMetaObject::Connection FLabelGone;
};

// (Sender, Shift, Delta, XPos, YPos): signed, so that positions left of or
// above the primary screen and wheel turns towards the user keep their sign.
using TQoMouseWheelEvent =
    std::function<void(QObject* Sender, platform::TShiftState Shift, int Delta, int XPos, int YPos)>;

// A windowed control drawn by the library.
class TQoCustomControl : public QWidget {
 public:
  explicit TQoCustomControl(QWidget* Parent = nullptr);
  ~TQoCustomControl() override;

  TQoLabelInfo& LabelInfo() { return FLabel.Info(); }
  TQoAttachedLabel* LabelOrRaise() const { return FLabel.LabelOrRaise(); }
  void PlaceLabel() { FLabel.PlaceLabel(); }
  std::string About() const { return "v4.06"; }
  void SetAbout(const std::string&) {}

  TQoNotifyEvent AfterEnter;
  TQoNotifyEvent AfterExit;
  TQoMouseWheelEvent OnMouseWheel;

 protected:
  TQoLabelLink& LabelLink() { return FLabel; }
  virtual void DoMouseWheel(platform::TShiftState Shift, int Delta, int XPos, int YPos);
  bool event(QEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;

 private:
  TQoLabelLink FLabel;
};

// A drawn control linked to a controller: the form's own, else the shared one.
class TQoCustomControlEx : public TQoCustomControl {
 public:
  explicit TQoCustomControlEx(QWidget* Parent = nullptr);
  TQoController* Controller();
  virtual void SetController(QObject* Value);

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  QPointer<TQoController> FController;
};

// The base of the library's edits.
class TQoCustomEdit : public QLineEdit {
 public:
  explicit TQoCustomEdit(QWidget* Parent = nullptr);
  ~TQoCustomEdit() override;

  TQoLabelInfo& LabelInfo() { return FLabel.Info(); }
  TQoAttachedLabel* LabelOrRaise() const { return FLabel.LabelOrRaise(); }
  void PlaceLabel() { FLabel.PlaceLabel(); }
  std::string About() const { return "v4.06"; }
  TQoController* Controller();
  void SetController(QObject* Value);

 protected:
  TQoLabelLink& LabelLink() { return FLabel; }
  bool event(QEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

 private:
  TQoLabelLink FLabel;
  QPointer<TQoController> FController;
};

// The drop-down button of an edit: a bitmap without caption, no tab stop.
class TQoEdButton : public QAbstractButton {
 public:
  explicit TQoEdButton(QWidget* Parent);
  platform::TBitmap& Glyph() { return FGlyph; }

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  platform::TBitmap FGlyph;
};

// An edit with a drop-down button at its right edge; opening and closing the
// pop-up are requests the edit posts to itself.
class TQoEdPopup : public TQoCustomEdit {
 public:
  static constexpr int QM_CLOSEPOPUP = QEvent::User + 100;
  static constexpr int QM_OPENPOPUP = QEvent::User + 101;

  explicit TQoEdPopup(QWidget* Parent = nullptr);

  bool ShowButton() const { return FShowButton; }
  void SetShowButton(bool Value);
  const platform::TBitmap& ButtonGlyph() const { return FButton->Glyph(); }
  // A copy of Value; nullptr gives an empty glyph.
  void SetButtonGlyph(const platform::TBitmap* Value);
  TQoEdButton* Button() const { return FButton; }
  int ButtonWidth() const;

  void PostOpenPopup();
  void PostClosePopup();
  virtual bool PopupVisible() const { return false; }

 protected:
  virtual void PopupOpen() {}
  virtual void PopupClose() {}
  void LayoutButton();
  bool event(QEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  TQoEdButton* FButton;
  bool FShowButton = true;
};

}  // namespace wn
