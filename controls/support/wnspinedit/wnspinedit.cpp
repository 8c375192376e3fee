#include "controls/support/wnspinedit/wnspinedit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "controls/support/qocontrols/qocontrols.h"
#include "controls/support/qoedit/qointl.h"

namespace wn {

using namespace platform;

namespace {

constexpr int FirstRepeatDelay = 400;
constexpr int RepeatDelay = 100;

// Digits of a value in the class library's fixed and number formats: 15
// significant digits, Decimals after the separator, halves rounded away
// from zero as the decimal digits read.
std::string FormatFixed(double Value, int Decimals, bool Thousands) {
  const auto& intl = ProgramIntlSup();
  if (!std::isfinite(Value)) return "0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(Value));
  std::string digits;
  for (const char* p = buffer; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  const int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
  // Integer digits before the point: digits[0..point).
  int point = exponent + 1;
  const int keep = point + Decimals;
  if (keep < static_cast<int>(digits.size())) {
    const bool up = keep >= 0 && digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(std::max(keep, 0)));
    if (up) {
      int i = keep - 1;
      for (; i >= 0 && digits[static_cast<std::size_t>(i)] == '9'; --i) digits[static_cast<std::size_t>(i)] = '0';
      if (i >= 0) {
        ++digits[static_cast<std::size_t>(i)];
      } else {
        digits.insert(digits.begin(), '1');
        ++point;
      }
    }
  }
  // Pad to the digits the format shows.
  while (static_cast<int>(digits.size()) < point + Decimals) digits += '0';
  if (point <= 0) {
    digits.insert(0, static_cast<std::size_t>(1 - point), '0');
    point = 1;
  }
  std::string whole = digits.substr(0, static_cast<std::size_t>(point));
  const std::string fraction = digits.substr(static_cast<std::size_t>(point), static_cast<std::size_t>(Decimals));
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  if (Thousands)
    for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3)
      whole.insert(static_cast<std::size_t>(at), intl.CommaChar);
  const bool zero = whole.find_first_not_of("0" + intl.CommaChar) == std::string::npos &&
                    fraction.find_first_not_of('0') == std::string::npos;
  std::string text = (Value < 0 && !zero ? "-" : "") + whole;
  if (Decimals > 0) text += intl.DecimalChar + fraction;
  return text;
}

// The class library's integer text: blanks, a sign, then decimal digits or
// hexadecimal ones after "$" or "0x"; 32 bits.
bool TextToInt(const std::string& Text, long long& Value) {
  std::size_t i = Text.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  bool negative = false;
  if (Text[i] == '+' || Text[i] == '-') negative = Text[i++] == '-';
  int base = 10;
  if (i < Text.size() && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < Text.size() && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  const std::size_t start = i;
  long long v = 0;
  for (; i < Text.size(); ++i) {
    const char c = Text[i];
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) break;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return false;
  }
  if (i == start || Text.find_first_not_of(' ', i) != std::string::npos) return false;
  if (base == 10 && v > (negative ? 2147483648LL : 2147483647LL)) return false;
  // Hexadecimal texts name the 32-bit pattern.
  if (base == 16 && v > 0x7FFFFFFFLL) v -= 0x100000000LL;
  Value = negative ? -v : v;
  return true;
}

std::string StripThousands(const std::string& Text) {
  const std::string& sep = ProgramIntlSup().CommaChar;
  if (sep.empty()) return Text;
  std::string out;
  for (std::size_t i = 0; i < Text.size();) {
    if (Text.compare(i, sep.size(), sep) == 0) {
      i += sep.size();
      continue;
    }
    out += Text[i++];
  }
  return out;
}

// Hides the system's caret where the edit draws one of its own.
class TNoCaretStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric Metric, const QStyleOption* Option, const QWidget* Widget) const override {
    if (Metric == PM_TextCursorWidth) return 0;
    return QProxyStyle::pixelMetric(Metric, Option, Widget);
  }
};

}  // namespace

// ---------------------------------------------------------------- caret

TWnCaret::TWnCaret(TWnCustomEdit* Owner) : FOwner(Owner) {}

void TWnCaret::SetBitmap(const TBitmap& Value) {
  FBitmap.Assign(Value);
  FWidth = 0;
  FHeight = 0;
  FGray = false;
  Changed();
}

void TWnCaret::SetWidth(int Value) {
  if (Value != FWidth) FWidth = Value;
  Changed();
}

void TWnCaret::SetHeight(int Value) {
  if (Value != FHeight) FHeight = Value;
  Changed();
}

void TWnCaret::SetGray(bool Value) {
  if (Value != FGray) FGray = Value;
  Changed();
}

void TWnCaret::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Changed();
}

void TWnCaret::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange();
}

// ---------------------------------------------------------------- edit base

TWnCustomEdit::TWnCustomEdit(QWidget* Parent) : QLineEdit(Parent), FCaret(std::make_unique<TWnCaret>(this)) {
  FCaret->OnChange = [this] { ApplyCaret(); };
  QObject::connect(this, &QLineEdit::cursorPositionChanged, this, [this] {
    if (!FCaret->IsDefault()) update();
  });
}

TWnCustomEdit::~TWnCustomEdit() {
  if (FHintPaletteSaved) QToolTip::setPalette(FSavedHintPalette);
}

void TWnCustomEdit::SetHotTrack(bool Value) {
  if (Value == FHotTrack) return;
  FHotTrack = Value;
  ApplyHotTrack();
}

void TWnCustomEdit::ApplyHotTrack() { setFrame(!FHotTrack || FMouseInside); }

void TWnCustomEdit::ApplyCaret() {
  if (FCaret->IsDefault()) {
    setStyle(nullptr);
  } else if (!dynamic_cast<TNoCaretStyle*>(style())) {
    auto* own = new TNoCaretStyle;
    own->setParent(this);
    setStyle(own);
  }
  update();
}

void TWnCustomEdit::ClearGroup() {
  if (GroupIndex == -1) return;
  QWidget* owner = window();
  for (TWnCustomEdit* other : owner->findChildren<TWnCustomEdit*>()) {
    if (other == this || other->GroupIndex != GroupIndex) continue;
    // Another edit that carries this one's name stands for this one.
    if (!objectName().isEmpty() && other->objectName() == objectName()) continue;
    other->clear();
  }
}

void TWnCustomEdit::CopyToClipboard() {
  if (AllowCopy) copy();
}

void TWnCustomEdit::CutToClipboard() {
  if (CutAllowed()) cut();
}

void TWnCustomEdit::PasteFromClipboard() {
  if (PasteAllowed()) paste();
  ClearGroup();
}

void TWnCustomEdit::Undo() {
  if (AllowUndo) undo();
}

void TWnCustomEdit::paintEvent(QPaintEvent* Event) {
  QLineEdit::paintEvent(Event);
  QPainter painter(this);
  if (!isEnabled()) {
    // A disabled edit shows its text in its own colours.
    const int frame = hasFrame() ? 2 : 0;
    const QRect inside = rect().adjusted(frame, frame, -frame, -frame);
    painter.fillRect(inside, QColor::fromRgb(ColorToQRgb(DisabledColor)));
    painter.setPen(QColor::fromRgb(ColorToQRgb(DisabledTextColor)));
    painter.setFont(font());
    painter.drawText(inside.adjusted(1, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, displayText());
    return;
  }
  if (!hasFocus() || FCaret->IsDefault()) return;
  const QRect at = cursorRect();
  const int x = at.center().x();
  if (!FCaret->Bitmap().Empty()) {
    painter.drawImage(x, at.top(), FCaret->Bitmap().ToImage());
    return;
  }
  const int w = std::max(1, FCaret->Width());
  const int h = FCaret->Height() > 0 ? FCaret->Height() : at.height();
  painter.fillRect(QRect(x, at.top(), w, h), FCaret->Gray() ? QColor(128, 128, 128) : QColor(0, 0, 0));
}

void TWnCustomEdit::keyPressEvent(QKeyEvent* Event) {
  ClearGroup();
  if (Event->matches(QKeySequence::Copy) && !AllowCopy) return;
  if (Event->matches(QKeySequence::Cut) && !CutAllowed()) return;
  if (Event->matches(QKeySequence::Undo) && !AllowUndo) return;
  if (Event->matches(QKeySequence::Paste)) {
    PasteFromClipboard();
    return;
  }
  QLineEdit::keyPressEvent(Event);
}

void TWnCustomEdit::enterEvent(QEnterEvent* Event) {
  QLineEdit::enterEvent(Event);
  FMouseInside = true;
  if (FHotTrack) ApplyHotTrack();
  if (!FHintPaletteSaved) {
    FSavedHintPalette = QToolTip::palette();
    FHintPaletteSaved = true;
    QPalette hint = FSavedHintPalette;
    hint.setColor(QPalette::ToolTipBase, QColor::fromRgb(ColorToQRgb(HintColor)));
    QToolTip::setPalette(hint);
  }
}

void TWnCustomEdit::leaveEvent(QEvent* Event) {
  QLineEdit::leaveEvent(Event);
  FMouseInside = false;
  if (FHotTrack) ApplyHotTrack();
  if (FHintPaletteSaved) {
    QToolTip::setPalette(FSavedHintPalette);
    FHintPaletteSaved = false;
  }
}

void TWnCustomEdit::focusInEvent(QFocusEvent* Event) {
  QLineEdit::focusInEvent(Event);
  if (!FCaret->IsDefault()) update();
}

void TWnCustomEdit::focusOutEvent(QFocusEvent* Event) {
  QLineEdit::focusOutEvent(Event);
  if (!FCaret->IsDefault()) update();
}

void TWnCustomEdit::contextMenuEvent(QContextMenuEvent* Event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu());
  for (QAction* action : menu->actions()) {
    const QString name = action->objectName();
    if ((name == QLatin1String("edit-copy") && !AllowCopy) || (name == QLatin1String("edit-cut") && !CutAllowed()) ||
        (name == QLatin1String("edit-undo") && !AllowUndo) || (name == QLatin1String("edit-paste") && !PasteAllowed()))
      action->setEnabled(false);
    if (name == QLatin1String("edit-paste")) QObject::connect(action, &QAction::triggered, this, [this] { ClearGroup(); });
  }
  menu->exec(Event->globalPos());
}

// ---------------------------------------------------------------- diagonal button

TWnSpinButton::TWnSpinButton(QWidget* Parent) : QWidget(Parent) {
  BuiltInGlyph(FUpGlyph, true);
  BuiltInGlyph(FDownGlyph, false);
  FRepeat.setSingleShot(false);
  QObject::connect(&FRepeat, &QTimer::timeout, this, [this] { RepeatTick(); });
  resize(20, 20);
}

void TWnSpinButton::BuiltInGlyph(TBitmap& Bitmap, bool Up) {
  // Five pixels wide, the last row left empty: its first pixel gives the
  // glyph's transparent colour.
  Bitmap.SetSize(5, 4);
  Bitmap.SetPixelFormat(pf24bit);
  TCanvas& canvas = Bitmap.Canvas();
  canvas.Brush.Color = clWhite;
  canvas.FillRect(Rect(0, 0, 5, 4));
  for (int row = 0; row < 3; ++row) {
    const int half = Up ? row : 2 - row;
    for (int x = 2 - half; x <= 2 + half; ++x) canvas.SetPixels(x, row, clBlack);
  }
}

void TWnSpinButton::SetUpGlyph(const TBitmap* Value) {
  if (Value) FUpGlyph.Assign(*Value);
  else BuiltInGlyph(FUpGlyph, true);
  InvalidateFaces();
}

void TWnSpinButton::SetDownGlyph(const TBitmap* Value) {
  if (Value) FDownGlyph.Assign(*Value);
  else BuiltInGlyph(FDownGlyph, false);
  InvalidateFaces();
}

void TWnSpinButton::InvalidateFaces() {
  FFacesValid = false;
  update();
}

TWnSpinButton::TSpinHalf TWnSpinButton::HalfAt(int X, int Y) const {
  const int w = width();
  const int h = height();
  // A button of no width has no diagonal to divide by: all of it is upper.
  if (w <= 0) return Y <= h ? shUpper : shLower;
  return Y <= h - static_cast<double>(h) / w * X ? shUpper : shLower;
}

namespace {

void DrawGlyph(TCanvas& Canvas, int X, int Y, const TBitmap& Glyph) {
  if (Glyph.Empty()) return;
  // The glyph's transparent colour is its lower-left pixel.
  const QRgb corner = Glyph.ToImage().pixel(0, Glyph.Height() - 1);
  const TColor key = static_cast<TColor>(RGB(static_cast<std::uint8_t>(qRed(corner)),
                                             static_cast<std::uint8_t>(qGreen(corner)),
                                             static_cast<std::uint8_t>(qBlue(corner))));
  Canvas.Brush.Color = clBtnFace;
  Canvas.BrushCopy(Bounds(X, Y, Glyph.Width(), Glyph.Height()), Glyph, Rect(0, 0, Glyph.Width(), Glyph.Height()),
                   key);
}

void Line(TCanvas& Canvas, TColor Color, std::initializer_list<TPoint> Points) {
  Canvas.Pen.Color = Color;
  auto p = Points.begin();
  Canvas.MoveTo(p->X, p->Y);
  for (++p; p != Points.end(); ++p) Canvas.LineTo(p->X, p->Y);
}

}  // namespace

void TWnSpinButton::RenderFace(TBitmap& Bitmap, int W, int H, int State, const TBitmap& Up, const TBitmap& Down) {
  Bitmap.SetSize(W, H);
  if (W <= 0 || H <= 0) return;
  TCanvas& c = Bitmap.Canvas();
  const bool upper = State == 1;
  const bool lower = State == 2;
  c.Brush.Style = bsSolid;
  c.Brush.Color = clBtnFace;
  c.Pen.Width = 1;
  c.Pen.Style = psSolid;
  c.Pen.Color = clWindowFrame;
  c.Rectangle(0, 0, W, H);
  Line(c, clWindowFrame, {{-1, H}, {W, -1}});
  Line(c, upper ? clBtnShadow : clBtnHighlight, {{1, H - 4}, {1, 1}, {W - 3, 1}});
  if (!upper) Line(c, clBtnShadow, {{1, H - 3}, {W - 2, 0}});
  Line(c, lower ? clBtnHighlight : clBtnShadow, {{2, H - 2}, {W - 2, H - 2}, {W - 2, 1}});
  Line(c, lower ? clBtnShadow : clBtnHighlight, {{2, H - 2}, {W - 1, 1}});
  const int k = upper ? 2 : 1;
  DrawGlyph(c, static_cast<int>(std::nearbyint(W / 4.0 - Up.Width() / 2.0)) + k,
            static_cast<int>(std::nearbyint(H / 4.0 - Up.Height() / 2.0)) + k, Up);
  DrawGlyph(c, static_cast<int>(std::nearbyint(3.0 * W / 4.0 - Down.Width() / 2.0)) - 1,
            static_cast<int>(std::nearbyint(3.0 * H / 4.0 - Down.Height() / 2.0)) - 1, Down);
  if (lower) Line(c, clBtnShadow, {{3, H - 2}, {W - 1, 2}});
}

const TBitmap& TWnSpinButton::Face(int State) {
  if (!FFacesValid) {
    for (int s = 0; s < 3; ++s) RenderFace(FFaces[s], width(), height(), s, FUpGlyph, FDownGlyph);
    FFacesValid = true;
  }
  return FFaces[std::clamp(State, 0, 2)];
}

void TWnSpinButton::paintEvent(QPaintEvent*) {
  const TBitmap& face = Face(FPressed == shUpper ? 1 : FPressed == shLower ? 2 : 0);
  if (face.Empty()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, face.ToImage());
}

void TWnSpinButton::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  InvalidateFaces();
}

void TWnSpinButton::Click(TSpinHalf Half) {
  if (Half == shUpper && OnTopClick) OnTopClick(this);
  if (Half == shLower && OnBottomClick) OnBottomClick(this);
}

void TWnSpinButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !isEnabled()) return;
  if (FocusControl && FocusControl->focusPolicy() != Qt::NoFocus && FocusControl->isEnabled() &&
      !FocusControl->hasFocus())
    FocusControl->setFocus(Qt::MouseFocusReason);
  const QPoint p = Event->position().toPoint();
  FHeld = FPressed = HalfAt(p.x(), p.y());
  update();
  Click(FHeld);
  FRepeat.start(FirstRepeatDelay);
}

void TWnSpinButton::RepeatTick() {
  FRepeat.setInterval(RepeatDelay);
  if (FHeld == shNone) {
    FRepeat.stop();
    return;
  }
  Click(FHeld);
}

void TWnSpinButton::mouseMoveEvent(QMouseEvent* Event) {
  if (FHeld == shNone) return;
  const QPoint p = Event->position().toPoint();
  const bool over = rect().contains(p) && HalfAt(p.x(), p.y()) == FHeld;
  const TSpinHalf shown = over ? FHeld : shNone;
  if (shown == FPressed) return;
  FPressed = shown;
  update();
}

void TWnSpinButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  FRepeat.stop();
  FHeld = shNone;
  FPressed = shNone;
  update();
}

// ---------------------------------------------------------------- up/down

TWnUpDown::TWnUpDown(QWidget* Parent) : QWidget(Parent) {
  setFocusPolicy(Qt::NoFocus);
  resize(15, 20);
}

void TWnUpDown::ThumbPosition(int Position) {
  if (FHandling) return;
  FHandling = true;
  FPosition = Position;
  if (Position > 0 && OnClick) OnClick(true);
  else if (Position < 0 && OnClick) OnClick(false);
  // Back to the middle, so the next press moves it away from 0 again.
  FPosition = 0;
  FHandling = false;
}

void TWnUpDown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int half = height() / 2;
  const QRect parts[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
  for (int i = 0; i < 2; ++i) {
    QStyleOption option;
    option.initFrom(this);
    option.rect = parts[i];
    option.state |= (FPressedHalf == (i == 0 ? 1 : -1)) ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, this);
    option.rect = parts[i].adjusted(3, 2, -3, -2);
    style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &option, &painter,
                           this);
  }
}

void TWnUpDown::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  FPressedHalf = Event->position().y() < height() / 2 ? 1 : -1;
  update();
  ThumbPosition(FPressedHalf);
}

void TWnUpDown::mouseReleaseEvent(QMouseEvent*) {
  FPressedHalf = 0;
  update();
}

void TWnUpDown::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  const int w = std::min(style()->pixelMetric(QStyle::PM_ScrollBarExtent), 15);
  if (width() != w) resize(w, height());
}

// ---------------------------------------------------------------- spin edit

TWnSpinEdit::TWnSpinEdit(QWidget* Parent) : TWnCustomEdit(Parent) {
  FChanging = true;
  setText(QStringLiteral("0"));
  MakeButton();
  FChanging = false;
  QObject::connect(this, &QLineEdit::textChanged, this, [this] { TextChanged(); });
}

TWnSpinEdit::~TWnSpinEdit() = default;

void TWnSpinEdit::MakeButton() {
  delete FDiagonal;
  delete FUpDown;
  FDiagonal = nullptr;
  FUpDown = nullptr;
  // This system offers the new-style controls, so the kind asked for is used.
  if (FButtonKind == bkDiagonal) {
    FDiagonal = new TWnSpinButton(this);
    FDiagonal->FocusControl = this;
    FDiagonal->OnTopClick = [this](QObject*) { UpClick(); };
    FDiagonal->OnBottomClick = [this](QObject*) { DownClick(); };
    FDiagonal->setCursor(Qt::ArrowCursor);
    FDiagonal->show();
  } else {
    FUpDown = new TWnUpDown(this);
    FUpDown->OnClick = [this](bool Up) {
      if (focusPolicy() != Qt::NoFocus && isEnabled() && !hasFocus()) setFocus(Qt::MouseFocusReason);
      if (Up) UpClick();
      else DownClick();
    };
    FUpDown->setCursor(Qt::ArrowCursor);
    FUpDown->show();
  }
  LayoutButton();
}

void TWnSpinEdit::SetButtonKind(TSpinButtonKind Value) {
  if (Value == FButtonKind) return;
  FButtonKind = Value;
  MakeButton();
}

int TWnSpinEdit::ButtonWidth() const {
  if (FDiagonal) return FDiagonal->width();
  if (FUpDown) return FUpDown->width();
  return style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

void TWnSpinEdit::LayoutButton() {
  const int frame = hasFrame() ? 2 : 0;
  const int h = std::max(0, height() - 2 * frame);
  if (FDiagonal) {
    FDiagonal->setGeometry(width() - frame - h, frame, h, h);
    FDiagonal->setEnabled(isEnabled());
  }
  if (FUpDown) {
    const int w = std::min(style()->pixelMetric(QStyle::PM_ScrollBarExtent), 15);
    FUpDown->setGeometry(width() - frame - w, frame, w, h);
    FUpDown->setEnabled(isEnabled());
  }
  setTextMargins(0, 0, ButtonWidth() + 2, 0);
}

void TWnSpinEdit::resizeEvent(QResizeEvent* Event) {
  TWnCustomEdit::resizeEvent(Event);
  const int minimum = fontMetrics().height() + 4 + 1;
  if (height() < minimum) {
    resize(width(), minimum);
    return;
  }
  LayoutButton();
}

void TWnSpinEdit::changeEvent(QEvent* Event) {
  TWnCustomEdit::changeEvent(Event);
  if (Event->type() == QEvent::EnabledChange || Event->type() == QEvent::FontChange ||
      Event->type() == QEvent::LayoutDirectionChange)
    LayoutButton();
}

void TWnSpinEdit::SetMinValue(double Value) {
  if (Value == FMinValue) return;
  FMinValue = Value;
}

void TWnSpinEdit::SetMaxValue(double Value) {
  if (Value == FMaxValue) return;
  FMaxValue = Value;
}

double TWnSpinEdit::CheckValue(double Value) const {
  if (FMaxValue == FMinValue) return Value;
  if (Value < FMinValue) return FMinValue;
  if (Value > FMaxValue) return FMaxValue;
  return Value;
}

bool TWnSpinEdit::ConvertText(const std::string& Text, double& Value) const {
  if (FValueType == vtFloat) return QoTextToFloat(StripThousands(Text), Value);
  long long v = 0;
  const bool done = FValueType == vtHex ? TextToInt("$" + Text, v) : TextToInt(StripThousands(Text), v);
  if (done) Value = static_cast<double>(v);
  return done;
}

double TWnSpinEdit::Value() const {
  double v = 0;
  if (ConvertText(text().toStdString(), v)) return v;
  return FValueType == vtFloat ? FMinValue : std::trunc(FMinValue);
}

void TWnSpinEdit::SetValue(double Value) {
  const double v = CheckValue(Value);
  std::string text;
  switch (FValueType) {
    case vtFloat:
      text = FormatFixed(v, FDecimal, FThousands);
      break;
    case vtInteger:
      text = FormatFixed(v, 0, FThousands);
      break;
    case vtHex: {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(static_cast<long long>(std::nearbyint(v))));
      text = buffer;
      break;
    }
  }
  setText(QString::fromStdString(text));
}

void TWnSpinEdit::SetValueType(TValueType Value) {
  if (Value == FValueType) return;
  const double v = this->Value();
  FValueType = Value;
  if (Value != vtFloat) {
    FIncrement = std::nearbyint(FIncrement);
    if (FIncrement == 0) FIncrement = 1;
  }
  if (Value == vtHex) FThousands = false;
  SetValue(v);
}

void TWnSpinEdit::SetDecimal(int Value) {
  if (Value == FDecimal) return;
  const double v = this->Value();
  FDecimal = Value;
  SetValue(v);
}

void TWnSpinEdit::SetThousands(bool Value) {
  if (FValueType == vtHex || Value == FThousands) return;
  const double v = this->Value();
  FThousands = Value;
  SetValue(v);
}

void TWnSpinEdit::SetAlignment(TSpinAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  setAlignment(Value == taSpinRightJustify ? Qt::AlignRight : Value == taSpinCenter ? Qt::AlignHCenter : Qt::AlignLeft);
}

int TWnSpinEdit::GetIntegerValue() const { return static_cast<int>(std::nearbyint(Value())); }

void TWnSpinEdit::TextChanged() {
  if (FChanging) return;
  FChanging = true;
  const int caret = cursorPosition();
  const std::string typed = text().toStdString();
  if (!typed.empty()) {
    double v = 0;
    SetValue(ConvertText(typed, v) ? v : FLastValue);
  }
  FChanging = false;
  const double now = Value();
  if (now != FLastValue && OnChange) OnChange(this);
  setCursorPosition(caret);
  FLastValue = now;
}

void TWnSpinEdit::Step(double Delta, const std::function<void(QObject*)>& After) {
  if (isReadOnly()) {
    MessageBeep(0);
    return;
  }
  const QString before = text();
  FChanging = true;
  SetValue(Value() + Delta);
  FChanging = false;
  if (text() != before) {
    setModified(true);
    TextChanged();
  }
  if (After) After(this);
}

void TWnSpinEdit::UpClick() { Step(FIncrement, OnTopClick); }

void TWnSpinEdit::DownClick() { Step(-FIncrement, OnBottomClick); }

bool TWnSpinEdit::IsValidChar(QChar Key) const {
  const char16_t c = Key.unicode();
  if (!FEditorEnabled) return c < 32 && c != 8;
  if (c < 32) return true;
  if (c == '+' || c == '-' || (c >= '0' && c <= '9')) return true;
  const QString t = text();
  if (FValueType == vtFloat) {
    if (QString(Key) == QString::fromStdString(ProgramIntlSup().DecimalChar) &&
        !t.contains(QString::fromStdString(ProgramIntlSup().DecimalChar)))
      return true;
    if ((c == 'E' || c == 'e') && !t.toUpper().contains(QLatin1Char('E'))) return true;
  }
  if (FValueType == vtHex && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return true;
  return false;
}

void TWnSpinEdit::keyPressEvent(QKeyEvent* Event) {
  const int key = Event->key();
  if (ArrowKeys && (key == Qt::Key_Up || key == Qt::Key_Down) && !(Event->modifiers() & Qt::AltModifier)) {
    if (key == Qt::Key_Up) UpClick();
    else DownClick();
    return;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
    // The dialog's default and cancel buttons take these.
    Event->ignore();
    return;
  }
  const QString typed = Event->text();
  if (typed.size() == 1 && typed[0].unicode() != 127 && !IsValidChar(typed[0])) {
    MessageBeep(0);
    return;
  }
  TWnCustomEdit::keyPressEvent(Event);
}

void TWnSpinEdit::wheelEvent(QWheelEvent* Event) {
  if (Event->angleDelta().y() < 1) DownClick();
  else UpClick();
  Event->accept();
}

void TWnSpinEdit::focusInEvent(QFocusEvent* Event) {
  TWnCustomEdit::focusInEvent(Event);
  if (AutoSelect && !(QApplication::mouseButtons() & Qt::LeftButton)) selectAll();
}

void TWnSpinEdit::focusOutEvent(QFocusEvent* Event) {
  const double v = Value();
  if (CheckValue(v) != v) SetValue(v);
  TWnCustomEdit::focusOutEvent(Event);
}

}  // namespace wn
