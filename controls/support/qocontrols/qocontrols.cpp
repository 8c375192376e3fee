#include "controls/support/qocontrols/qocontrols.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QWheelEvent>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "controls/support/qoedit/qointl.h"

namespace wn {

using namespace platform;

std::function<void(unsigned Type)> MessageBeepHook;

void MessageBeep(unsigned Type) {
  if (MessageBeepHook) {
    MessageBeepHook(Type);
    return;
  }
  QApplication::beep();
}

bool IsValidIdent(const std::string& Name) {
  if (Name.empty()) return false;
  const auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(Name[0])) return false;
  for (char c : Name)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::string FreeComponentName(const QObject* Form, const std::string& Base) {
  if (!IsValidIdent(Base)) throw EComponentError("''" + Base + "'' is not a valid component name");
  for (int n = 1;; ++n) {
    const std::string name = Base + std::to_string(n);
    if (!Form || !Form->findChild<QObject*>(QString::fromStdString(name))) return name;
  }
}

QWidget* GetImmediateParentForm(QWidget* Control) { return Control ? Control->window() : nullptr; }

namespace {

const std::string& DecimalSeparator() { return ProgramIntlSup().DecimalChar; }

}  // namespace

std::string QoFloatToStr(double Value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", Value);
  std::string text = buffer;
  // The class library writes exponents as "E" and its digits without padding.
  const auto e = text.find('e');
  if (e != std::string::npos) {
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    std::string sign;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
      if (exponent[0] == '-') sign = "-";
      exponent.erase(0, 1);
    }
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    text = mantissa + "E" + sign + exponent;
  }
  const auto dot = text.find('.');
  if (dot != std::string::npos) text.replace(dot, 1, DecimalSeparator());
  return text;
}

bool QoTextToFloat(const std::string& Text, double& Value) {
  std::string s = Text;
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  s = s.substr(first, s.find_last_not_of(' ') - first + 1);
  const std::string& dec = DecimalSeparator();
  if (!dec.empty() && dec != ".") {
    if (s.find('.') != std::string::npos) return false;
    const auto at = s.find(dec);
    if (at != std::string::npos) s.replace(at, dec.size(), ".");
  }
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::size_t start = i;
  std::size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const std::size_t expStart = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
    if (j == expStart) return false;
    i = j;
  }
  if (i != s.size()) return false;
  // from_chars takes no "+" and does not depend on the C locale.
  double v = 0;
  const auto result = std::from_chars(s.data() + start, s.data() + s.size(), v);
  if (result.ec != std::errc() || !std::isfinite(v)) return false;
  Value = negative ? -v : v;
  return true;
}

// ---------------------------------------------------------------- label info

void TQoLabelInfo::SetOffsetX(int Value) {
  if (Value == FOffsetX) return;
  FOffsetX = Value;
  if (FOnChange) FOnChange();
}

void TQoLabelInfo::SetOffsetY(int Value) {
  if (Value == FOffsetY) return;
  FOffsetY = Value;
  if (FOnChange) FOnChange();
}

void TQoLabelInfo::MoveOffsets(int X, int Y) {
  if (X == FOffsetX && Y == FOffsetY) return;
  FOffsetX = X;
  FOffsetY = Y;
  if (FOnChange) FOnChange();
}

void TQoLabelInfo::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  if (!FOnVisibleChange) return;
  try {
    FOnVisibleChange(Value);
  } catch (...) {
    // No label was made: the control has none.
    FVisible = FLabel != nullptr;
    throw;
  }
}

// ---------------------------------------------------------------- attached label

namespace {

class TQoAttachLabelEvent : public QEvent {
 public:
  explicit TQoAttachLabelEvent(TQoAttachedLabel* Label) : QEvent(QoEventType(QM_ATTACHLABEL)), Label(Label) {}
  TQoAttachedLabel* Label;
};

}  // namespace

TQoAttachedLabel::TQoAttachedLabel(QWidget* Parent, QWidget* Control) : QLabel(Parent), FControl(Control) {
  setBuddy(Control);
  setAutoFillBackground(true);
}

TQoAttachedLabel::~TQoAttachedLabel() { FDestroying = true; }

void TQoAttachedLabel::SetCaption(const QString& Value) {
  setText(Value);
  if (AutoSize) adjustSize();
}

void TQoAttachedLabel::ReportLabelMove() {
  if (Loading || FDestroying || !FControl || FControl->window() != window()) return;
  TQoAttachLabelEvent attach(this);
  QCoreApplication::sendEvent(FControl, &attach);
  QCoreApplication::postEvent(FControl, new QEvent(QoEventType(QM_LABELMOVED)));
}

void TQoAttachedLabel::moveEvent(QMoveEvent* Event) {
  QLabel::moveEvent(Event);
  ReportLabelMove();
}

void TQoAttachedLabel::resizeEvent(QResizeEvent* Event) {
  QLabel::resizeEvent(Event);
  ReportLabelMove();
}

// ---------------------------------------------------------------- label link

TQoLabelLink::TQoLabelLink(QWidget* Control, bool LabelAutoSize) : FControl(Control), FLabelAutoSize(LabelAutoSize) {
  FInfo.FOnChange = [this] { PlaceLabel(); };
  FInfo.FOnVisibleChange = [this](bool Value) { ToggleLabel(Value); };
}

TQoLabelLink::~TQoLabelLink() {
  FInfo.SetVisible(false);
  QObject::disconnect(FLabelGone);
  FInfo.FOnChange = nullptr;
  FInfo.FOnVisibleChange = nullptr;
}

void TQoLabelLink::Attach(TQoAttachedLabel* Label) {
  QObject::disconnect(FLabelGone);
  FInfo.FLabel = Label;
  if (!Label) return;
  FLabelGone = QObject::connect(Label, &QObject::destroyed, FControl, [this] {
    FInfo.FLabel = nullptr;
    FInfo.FVisible = false;
  });
}

void TQoLabelLink::ToggleLabel(bool Value) {
  if (Loading) return;
  QWidget* form = GetImmediateParentForm(FControl);
  if (!form) return;
  TQoAttachedLabel* previous = FInfo.FLabel;
  Attach(nullptr);
  delete previous;
  if (!Value) return;
  const std::string name = FreeComponentName(form, FControl->objectName().toStdString() + "Label");
  auto* label = new TQoAttachedLabel(FControl->parentWidget(), FControl);
  label->setObjectName(QString::fromStdString(name));
  label->SetCaption(QString::fromStdString(name));
  Attach(label);
  FInfo.MoveOffsets(0, 0);
  PlaceLabel();
  label->raise();
  label->setVisible(!FControl->isHidden());
  // An edit's label keeps the size it has; a drawn control's follows its text.
  label->AutoSize = FLabelAutoSize;
}

bool TQoLabelLink::CanPlace() const {
  return FInfo.FVisible && FInfo.FLabel && FInfo.FLabel->parentWidget() && !Loading;
}

void TQoLabelLink::PlaceLabel() {
  if (!CanPlace()) return;
  TQoAttachedLabel* label = FInfo.FLabel;
  const int top = LabelBelow ? FControl->y() + FInfo.FOffsetY + FControl->height()
                             : FControl->y() + FInfo.FOffsetY - label->height();
  label->move(FControl->x() + FInfo.FOffsetX, top);
}

void TQoLabelLink::OffsetsFromLabel(int& X, int& Y) const {
  const TQoAttachedLabel* label = FInfo.FLabel;
  X = label->x() - FControl->x();
  Y = LabelBelow ? label->y() - FControl->y() - FControl->height() : label->y() + label->height() - FControl->y();
}

TQoAttachedLabel* TQoLabelLink::LabelOrRaise() const {
  if (!FInfo.FVisible) throw EQoException(GetQoMessage(30244));
  return FInfo.FLabel;
}

void TQoLabelLink::BoundsChanged() {
  QCoreApplication::postEvent(FControl, new QEvent(QoEventType(QM_CONTROLMOVED)));
}

bool TQoLabelLink::HandleEvent(QEvent* Event) {
  const int type = Event->type();
  if (type == QM_CONTROLMOVED) {
    if (CanPlace()) {
      int x = 0, y = 0;
      OffsetsFromLabel(x, y);
      if (x != FInfo.FOffsetX || y != FInfo.FOffsetY) PlaceLabel();
    }
    return true;
  }
  if (type == QM_LABELMOVED) {
    if (FInfo.FLabel && FInfo.FLabel->parentWidget()) {
      FInfo.FVisible = true;
      int x = 0, y = 0;
      OffsetsFromLabel(x, y);
      FInfo.MoveOffsets(x, y);
    }
    return true;
  }
  if (type == QM_ATTACHLABEL) {
    Attach(static_cast<TQoAttachLabelEvent*>(Event)->Label);
    return true;
  }
  if ((type == QEvent::ShowToParent || type == QEvent::HideToParent) && !Loading && FInfo.FVisible &&
      FInfo.FLabel)
    FInfo.FLabel->setVisible(type == QEvent::ShowToParent);
  return false;
}

// ---------------------------------------------------------------- drawn control

TQoCustomControl::TQoCustomControl(QWidget* Parent) : QWidget(Parent), FLabel(this, true) {}

TQoCustomControl::~TQoCustomControl() = default;

bool TQoCustomControl::event(QEvent* Event) {
  if (FLabel.HandleEvent(Event)) return true;
  if (Event->type() == QM_AFTERENTER) {
    if (AfterEnter) AfterEnter(this);
    return true;
  }
  if (Event->type() == QM_AFTEREXIT) {
    if (AfterExit) AfterExit(this);
    return true;
  }
  return QWidget::event(Event);
}

void TQoCustomControl::moveEvent(QMoveEvent* Event) {
  QWidget::moveEvent(Event);
  FLabel.BoundsChanged();
}

void TQoCustomControl::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  FLabel.BoundsChanged();
}

void TQoCustomControl::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  QCoreApplication::postEvent(this, new QEvent(QoEventType(QM_AFTERENTER)));
}

void TQoCustomControl::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  QCoreApplication::postEvent(this, new QEvent(QoEventType(QM_AFTEREXIT)));
}

void TQoCustomControl::wheelEvent(QWheelEvent* Event) {
  const QPoint global = Event->globalPosition().toPoint();
  DoMouseWheel(ShiftStateOf(Event->modifiers(), Event->buttons()), Event->angleDelta().y(), global.x(),
               global.y());
  Event->accept();
}

void TQoCustomControl::DoMouseWheel(TShiftState Shift, int Delta, int XPos, int YPos) {
  if (OnMouseWheel) OnMouseWheel(this, Shift, Delta, XPos, YPos);
}

TQoCustomControlEx::TQoCustomControlEx(QWidget* Parent) : TQoCustomControl(Parent) {}

TQoController* TQoCustomControlEx::Controller() {
  if (!FController) FController = FindQoController(this);
  return FController;
}

void TQoCustomControlEx::SetController(QObject* Value) { FController = qobject_cast<TQoController*>(Value); }

void TQoCustomControlEx::showEvent(QShowEvent* Event) {
  Controller();
  TQoCustomControl::showEvent(Event);
}

// ---------------------------------------------------------------- edit

TQoCustomEdit::TQoCustomEdit(QWidget* Parent) : QLineEdit(Parent), FLabel(this, false) {}

TQoCustomEdit::~TQoCustomEdit() = default;

TQoController* TQoCustomEdit::Controller() {
  if (!FController) FController = FindQoController(this);
  return FController;
}

void TQoCustomEdit::SetController(QObject* Value) { FController = qobject_cast<TQoController*>(Value); }

bool TQoCustomEdit::event(QEvent* Event) {
  if (FLabel.HandleEvent(Event)) return true;
  return QLineEdit::event(Event);
}

void TQoCustomEdit::moveEvent(QMoveEvent* Event) {
  QLineEdit::moveEvent(Event);
  FLabel.BoundsChanged();
}

void TQoCustomEdit::resizeEvent(QResizeEvent* Event) {
  QLineEdit::resizeEvent(Event);
  FLabel.BoundsChanged();
}

void TQoCustomEdit::showEvent(QShowEvent* Event) {
  Controller();
  QLineEdit::showEvent(Event);
}

// ---------------------------------------------------------------- drop-down button

TQoEdButton::TQoEdButton(QWidget* Parent) : QAbstractButton(Parent) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
}

void TQoEdButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  TCanvas canvas(&painter);
  TRect r = Rect(0, 0, width(), height());
  canvas.Brush.Color = clBtnFace;
  canvas.FillRect(r);
  const bool down = isDown();
  DrawEdge(canvas, r, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  if (FGlyph.Empty()) return;
  const int shift = down ? 1 : 0;
  const int x = (width() - FGlyph.Width()) / 2 + shift;
  const int y = (height() - FGlyph.Height()) / 2 + shift;
  const QImage glyph = FGlyph.ToImage();
  canvas.Paint([&](QPainter& p) {
    if (!isEnabled()) p.setOpacity(0.4);
    p.drawImage(x, y, glyph);
  });
}

TQoEdPopup::TQoEdPopup(QWidget* Parent) : TQoCustomEdit(Parent), FButton(new TQoEdButton(this)) {
  QObject::connect(FButton, &QAbstractButton::clicked, this, [this] { PostOpenPopup(); });
  LayoutButton();
}

void TQoEdPopup::SetShowButton(bool Value) {
  if (Value == FShowButton) return;
  FShowButton = Value;
  LayoutButton();
}

void TQoEdPopup::SetButtonGlyph(const TBitmap* Value) {
  if (Value) FButton->Glyph().Assign(*Value);
  else FButton->Glyph().SetSize(0, 0);
  LayoutButton();
}

int TQoEdPopup::ButtonWidth() const {
  if (!FShowButton) return 0;
  return std::max(style()->pixelMetric(QStyle::PM_ScrollBarExtent), FButton->Glyph().Width() + 4);
}

void TQoEdPopup::LayoutButton() {
  const int w = ButtonWidth();
  FButton->setVisible(w > 0);
  // A framed edit's client area lies two pixels inside; the button ends at its right edge.
  const int border = hasFrame() ? 2 : 0;
  FButton->setGeometry(width() - border - w, border, w, std::max(0, height() - 2 * border));
  setTextMargins(0, 0, w, 0);
  FButton->update();
}

void TQoEdPopup::PostOpenPopup() { QCoreApplication::postEvent(this, new QEvent(QoEventType(QM_OPENPOPUP))); }

void TQoEdPopup::PostClosePopup() { QCoreApplication::postEvent(this, new QEvent(QoEventType(QM_CLOSEPOPUP))); }

bool TQoEdPopup::event(QEvent* Event) {
  const int type = Event->type();
  if (type == QM_OPENPOPUP) {
    PopupOpen();
    return true;
  }
  if (type == QM_CLOSEPOPUP) {
    PopupClose();
    return true;
  }
  if (type == QEvent::ShortcutOverride || type == QEvent::KeyPress) {
    // While the pop-up is open, Enter and Escape close it instead of
    // reaching the dialog's default and cancel buttons.
    const int key = static_cast<QKeyEvent*>(Event)->key();
    if (PopupVisible() && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)) {
      if (type == QEvent::KeyPress) PostClosePopup();
      Event->accept();
      return true;
    }
  }
  return TQoCustomEdit::event(Event);
}

void TQoEdPopup::resizeEvent(QResizeEvent* Event) {
  TQoCustomEdit::resizeEvent(Event);
  LayoutButton();
}

}  // namespace wn
