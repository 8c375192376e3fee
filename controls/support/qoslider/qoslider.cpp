#include "controls/support/qoslider/qoslider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cmath>

#include "controls/support/qoedit/qointl.h"
#include "platform/application.h"

namespace wn {

using namespace platform;

namespace {

constexpr int MarkSpacing = 5;

// The default glyph of the drop-down button: a small arrow pointing down.
TBitmap* DefaultSliderGlyph() {
  static TBitmap glyph;
  if (glyph.Empty()) {
    QImage image = LoadQoBitmap("ORBTNSLD");
    if (image.isNull()) {
      image = QImage(7, 4, QImage::Format_ARGB32);
      image.fill(Qt::transparent);
      for (int row = 0; row < 4; ++row)
        for (int x = row; x < 7 - row; ++x) image.setPixel(x, row, qRgb(0, 0, 0));
    }
    glyph.SetImage(image);
  }
  return &glyph;
}

}  // namespace

// ---------------------------------------------------------------- slider

TQoSlider::TQoSlider(QWidget* Parent) : TQoSlider(Parent, false) {}

TQoSlider::TQoSlider(QWidget* Parent, bool Popup) : TQoCustomControl(Parent), FPopup(Popup) {
  if (Popup) setWindowFlags(Qt::Popup);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Popup ? Qt::StrongFocus : Qt::StrongFocus);
  resize(150, 20);
}

void TQoSlider::SetMin(double Value) {
  if (Value == FMin) return;
  if (!Loading && Value >= FMax) throw EQoException(GetQoMessage(30336));
  FMin = Value;
  update();
}

void TQoSlider::SetMax(double Value) {
  if (Value == FMax) return;
  if (!Loading && Value <= FMin) throw EQoException(GetQoMessage(30336));
  FMax = Value;
  update();
}

void TQoSlider::SetPosition(double Value) {
  if (Value == FPosition) return;
  double v = std::nearbyint(Value / FStep) * FStep;
  v = std::min(v, FMax);
  v = std::max(v, FMin);
  FPosition = v;
  update();
  if (OnChange) OnChange(this);
}

void TQoSlider::SetStep(double Value) {
  // A step downwards moves as far as one upwards.
  FStep = Value == 0 ? 1 : std::fabs(Value);
}

void TQoSlider::SetOrientation(TQoSliderOrientation Value) {
  if (Value == FOrientation) return;
  FOrientation = Value;
  if (!Loading) resize(height(), width());
  update();
}

void TQoSlider::SetDrawMarks(bool Value) {
  if (Value == FDrawMarks) return;
  FDrawMarks = Value;
  update();
}

void TQoSlider::SetMarkColor(TColor Value) {
  if (Value == FMarkColor) return;
  FMarkColor = Value;
  update();
}

void TQoSlider::SetBorderStyle(TQoBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  update();
}

void TQoSlider::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  update();
}

int TQoSlider::BorderWidth() const {
  if (FBorderStyle == bsNone) return 0;
  // A pop-up keeps a plain frame; a placed slider gets the sunken edge.
  return FPopup ? 1 : 2;
}

QRect TQoSlider::ClientArea() const {
  const int b = BorderWidth();
  return rect().adjusted(b, b, -b, -b);
}

int TQoSlider::Length() const {
  const QRect c = ClientArea();
  return FOrientation == soVertical ? c.height() : c.width();
}

int TQoSlider::ThumbSizeFor(int Size) {
  int ts = static_cast<int>(Size * 0.08);
  if (ts % 2 == 0) ++ts;
  return std::max(ts, 7);
}

int TQoSlider::OffsetOf(double Value, double Min, double Range, int Size, int ThumbSize) {
  const int travel = Size - 1 - ThumbSize;
  // A slider just one pixel longer than its thumb has no travel to divide.
  if (travel <= 0 || Range <= 0) return 0;
  return static_cast<int>(std::nearbyint((Value - Min) / Range * travel));
}

void TQoSlider::RenderBitmap() {
  const QRect c = ClientArea();
  const int w = std::max(0, c.width());
  const int h = std::max(0, c.height());
  if (FBitmap.Width() != w || FBitmap.Height() != h) FBitmap.SetSize(w, h);
  if (w == 0 || h == 0) return;
  TCanvas& canvas = FBitmap.Canvas();
  const bool vertical = FOrientation == soVertical;
  const int size = vertical ? h : w;
  const double range = FMax - FMin;
  const int ts = ThumbSizeFor(size);
  FThumbSize = ts;

  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = FColor;
  canvas.FillRect(Rect(0, 0, w, h));
  canvas.Pen.Color = FMarkColor;
  canvas.Pen.Width = 1;

  const int t = OffsetOf(FPosition, FMin, range, size, ts);
  FThumbRect = vertical ? Rect(w / 2, h - t - ts, w, h - t) : Rect(t, h / 2, t + ts, h);
  DrawThumb(canvas, FThumbRect);

  canvas.Pen.Color = FMarkColor;
  if (vertical) {
    const int y = h - t - 1 - ts / 2;
    canvas.MoveTo(w / 2, y);
    canvas.LineTo(w / 2 + (w - w / 2) / 2, y);
  } else {
    const int x = t + ts / 2;
    canvas.MoveTo(x, h / 2);
    canvas.LineTo(x, h / 2 + (h - h / 2) / 2);
  }

  if (FDrawMarks) {
    const double count = std::trunc(range / FStep);
    const int limit = (size - ts / 2) / MarkSpacing;
    const auto mark = [&](int at) {
      if (vertical) {
        canvas.MoveTo(0, at);
        canvas.LineTo(w / 4, at);
      } else {
        canvas.MoveTo(at, 0);
        canvas.LineTo(at, h / 4);
      }
    };
    if (count <= limit) {
      for (long k = 0;; ++k) {
        const double v = FMin + static_cast<double>(k) * FStep;
        if (v > FMax) break;
        const int offset = OffsetOf(v, FMin, range, size, ts);
        mark(vertical ? h - offset - ts / 2 : offset + ts / 2);
      }
    } else {
      for (int i = 0; i < limit; ++i) mark(vertical ? h - ts / 2 - i * MarkSpacing : ts / 2 + i * MarkSpacing);
    }
  }

  if (hasFocus()) {
    const TRect& r = FThumbRect;
    DrawFocus(Rect(r.Left - 3, r.Top - 3, r.Right + 3, r.Bottom + 3));
  }
}

void TQoSlider::DrawThumb(TCanvas& Canvas, const TRect& R) {
  TRect r = R;
  Canvas.Brush.Color = clBtnFace;
  Canvas.FillRect(r);
  DrawEdge(Canvas, r, FDragging ? BDR_SUNKENINNER : BDR_RAISEDINNER, BF_RECT);
  // Rounded corners: the corner pixels show the slider's colour.
  for (const TPoint p : {TPoint{R.Left, R.Top}, TPoint{R.Right - 1, R.Top}, TPoint{R.Left, R.Bottom - 1},
                         TPoint{R.Right - 1, R.Bottom - 1}})
    if (p.X >= 0 && p.Y >= 0 && p.X < FBitmap.Width() && p.Y < FBitmap.Height()) Canvas.SetPixels(p.X, p.Y, FColor);
}

void TQoSlider::DrawFocus(const TRect& R) {
  // The system's focus rectangle: every other pixel of the outline inverted.
  QImage& image = FBitmap.Image();
  const auto invert = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height() || (x + y) % 2 != 0) return;
    image.setPixel(x, y, image.pixel(x, y) ^ 0x00FFFFFF);
  };
  for (int x = R.Left; x < R.Right; ++x) {
    invert(x, R.Top);
    invert(x, R.Bottom - 1);
  }
  for (int y = R.Top + 1; y < R.Bottom - 1; ++y) {
    invert(R.Left, y);
    invert(R.Right - 1, y);
  }
}

void TQoSlider::paintEvent(QPaintEvent*) {
  RenderBitmap();
  QPainter painter(this);
  const QRect c = ClientArea();
  if (FBorderStyle == bsSingle) {
    TCanvas canvas(&painter);
    TRect r = Rect(0, 0, width(), height());
    if (FPopup) {
      canvas.Brush.Color = clWindowFrame;
      canvas.FrameRect(r);
    } else {
      DrawEdge(canvas, r, EDGE_SUNKEN, BF_RECT);
    }
  }
  if (!FBitmap.Empty()) painter.drawImage(c.topLeft(), FBitmap.ToImage());
}

void TQoSlider::StepBy(double Delta) {
  SetPosition(FPosition + Delta);
  update();
}

void TQoSlider::Press(int X, int Y) {
  const TRect& r = FThumbRect;
  if (X >= r.Left && X < r.Right && Y >= r.Top && Y < r.Bottom) {
    FDragging = true;
    FDragOffset = FOrientation == soVertical ? r.Bottom - Y : X - r.Left;
  } else if (FOrientation == soVertical) {
    if (Y < r.Top) StepBy(FStep);
    else if (Y >= r.Bottom) StepBy(-FStep);
  } else {
    if (X >= r.Right) StepBy(FStep);
    else if (X < r.Left) StepBy(-FStep);
  }
  update();
}

void TQoSlider::mousePressEvent(QMouseEvent* Event) {
  if (!FPopup) {
    setFocus(Qt::MouseFocusReason);
    TQoCustomControl::mousePressEvent(Event);
  }
  if (Event->button() != Qt::LeftButton) return;
  RenderBitmap();
  const QPoint p = Event->position().toPoint() - ClientArea().topLeft();
  Press(p.x(), p.y());
}

void TQoSlider::mouseDoubleClickEvent(QMouseEvent* Event) {
  // A double click arrives as a second press.
  mousePressEvent(Event);
}

void TQoSlider::mouseMoveEvent(QMouseEvent* Event) {
  if (!FPopup) TQoCustomControl::mouseMoveEvent(Event);
  if (!FDragging) return;
  const QRect c = ClientArea();
  const QPoint q = Event->position().toPoint() - c.topLeft();
  const bool vertical = FOrientation == soVertical;
  const int size = Length();
  int p = vertical ? c.height() - q.y() - FDragOffset : q.x() - FDragOffset;
  p = std::clamp(p, 0, std::max(0, size - FThumbSize));
  const int travel = size - 1 - FThumbSize;
  const double value = travel > 0 ? (FMax - FMin) / travel * p + FMin : FMin;
  SetPosition(std::nearbyint(value / FStep) * FStep);
  update();
}

void TQoSlider::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FPopup) TQoCustomControl::mouseReleaseEvent(Event);
  FDragging = false;
  update();
}

void TQoSlider::keyPressEvent(QKeyEvent* Event) {
  const int key = Event->key();
  if (FPopup && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape ||
                 (key == Qt::Key_Up && (Event->modifiers() & Qt::AltModifier)))) {
    if (OnCloseRequest) OnCloseRequest();
    return;
  }
  const Qt::KeyboardModifiers held = Event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (held != Qt::NoModifier) {
    TQoCustomControl::keyPressEvent(Event);
    return;
  }
  const bool vertical = FOrientation == soVertical;
  if (key == Qt::Key_Home) SetPosition(FMin);
  else if (key == Qt::Key_End) SetPosition(FMax);
  else if ((vertical && key == Qt::Key_Up) || (!vertical && key == Qt::Key_Right) || key == Qt::Key_Plus)
    StepBy(FStep);
  else if ((vertical && key == Qt::Key_Down) || (!vertical && key == Qt::Key_Left) || key == Qt::Key_Minus)
    StepBy(-FStep);
  else TQoCustomControl::keyPressEvent(Event);
}

void TQoSlider::DoMouseWheel(TShiftState Shift, int Delta, int XPos, int YPos) {
  TQoCustomControl::DoMouseWheel(Shift, Delta, XPos, YPos);
  StepBy(Delta >= 0 ? FStep : -FStep);
}

void TQoSlider::focusInEvent(QFocusEvent* Event) {
  TQoCustomControl::focusInEvent(Event);
  update();
}

void TQoSlider::focusOutEvent(QFocusEvent* Event) {
  TQoCustomControl::focusOutEvent(Event);
  update();
}

void TQoSlider::hideEvent(QHideEvent* Event) {
  TQoCustomControl::hideEvent(Event);
  FDragging = false;
  if (FPopup && OnHidden) OnHidden();
}

// ---------------------------------------------------------------- slider edit

TQoCustomSliderEdit::TQoCustomSliderEdit(QWidget* Parent)
    : TQoEdPopup(Parent), FSlider(new TQoSlider(this, true)) {
  SetButtonGlyph(DefaultSliderGlyph());
  FSlider->hide();
  FSlider->resize(width(), FSlider->height());
  FSlider->OnChange = [this](QObject*) { SliderChange(); };
  FSlider->OnCloseRequest = [this] { PostClosePopup(); };
  FSlider->OnHidden = [this] { PopupClose(); };
  QObject::connect(this, &QLineEdit::textChanged, this, [this] {
    if (OnChange) OnChange(this);
  });
}

TQoCustomSliderEdit::~TQoCustomSliderEdit() {
  FSlider->OnHidden = nullptr;
  FSlider->OnChange = nullptr;
}

void TQoCustomSliderEdit::SetReadOnly(bool Value) {
  setReadOnly(Value);
  Button()->setEnabled(!Value);
}

double TQoCustomSliderEdit::Value() const {
  const std::string decimal = ProgramIntlSup().DecimalChar;
  const std::string text = this->text().toStdString();
  std::string kept;
  for (std::size_t i = 0; i < text.size();) {
    if (!decimal.empty() && text.compare(i, decimal.size(), decimal) == 0) {
      kept += decimal;
      i += decimal.size();
      continue;
    }
    const char c = text[i++];
    if (c == '+' || c == '-' || (c >= '0' && c <= '9')) kept += c;
  }
  double value = 0;
  if (!QoTextToFloat(kept, value)) throw EConvertError("'" + kept + "' is not a valid floating point value");
  if (Validate && (value < PopupMin() || value > PopupMax()))
    throw EQoException(GetQoMessage(30179) + "\r[" + QoFloatToStr(PopupMin()) + ", " + QoFloatToStr(PopupMax()) +
                       "]");
  return value;
}

void TQoCustomSliderEdit::SetIntegerValue(int Value) { setText(QString::number(Value)); }

bool TQoCustomSliderEdit::PopupVisible() const { return FSlider->isVisible(); }

QPoint TQoCustomSliderEdit::PopupPlace(QPoint Anchor, QSize SliderSize, int EditHeight, const QRect& Bounds) {
  int x = Anchor.x();
  int y = Anchor.y();
  const int right = Bounds.x() + Bounds.width();
  const int bottom = Bounds.y() + Bounds.height();
  if (y + SliderSize.height() >= bottom) y -= SliderSize.height() + EditHeight;
  if (x + SliderSize.width() >= right) x = right - SliderSize.width() - 1;
  if (Bounds.x() >= x) x = Bounds.x() + 1;
  return {x, y};
}

void TQoCustomSliderEdit::PopupOpen() {
  if (FSlider->isVisible()) return;
  QWidget* form = GetImmediateParentForm(this);
  const QScreen* screen = this->screen();
  QRect bounds = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
  if (form && form != this && screen) bounds = screen->geometry();
  // Client coordinates of a framed edit start two pixels inside it.
  const int inset = hasFrame() ? 2 : 0;
  QPoint anchor = PopupAnchor == paLeft ? QPoint(-3, height() - 4) : QPoint(width() - FSlider->width() - 1, height() - 2);
  anchor = mapToGlobal(anchor + QPoint(inset, inset));
  if (!hasFrame()) anchor += QPoint(3, 3);
  // The pop-up has no frame: its client area goes where the frame would.
  FSlider->setGeometry(QRect(PopupPlace(anchor, FSlider->size(), height(), bounds), FSlider->size()));
  FSavedCursor = cursor();
  setCursor(Qt::ArrowCursor);
  double position = FSlider->Min();
  if (!QoTextToFloat(text().toStdString(), position)) position = FSlider->Min();
  FSlider->show();
  FSlider->SetPosition(position);
  FSlider->raise();
  FSlider->activateWindow();
  FSlider->setFocus(Qt::PopupFocusReason);
}

void TQoCustomSliderEdit::PopupClose() {
  if (FClosing) return;
  FClosing = true;
  if (FSlider->isVisible()) FSlider->hide();
  setCursor(FSavedCursor);
  const int at = hasSelectedText() ? selectionStart() : cursorPosition();
  setFocus(Qt::PopupFocusReason);
  setCursorPosition(at);
  FClosing = false;
}

void TQoCustomSliderEdit::SliderChange() {
  setText(QString::fromStdString(QoFloatToStr(FSlider->Position())));
  setModified(true);
}

void TQoCustomSliderEdit::IncDec(int Delta) {
  if (text().isEmpty()) setText(QStringLiteral("0"));
  double value = 0;
  try {
    value = Value();
  } catch (const std::exception&) {
    MessageBeep(0);
    return;
  }
  const int start = selectionStart();
  const int length = selectionLength();
  const int caret = cursorPosition();
  setText(QString::fromStdString(QoFloatToStr(value + Delta)));
  if (start >= 0) setSelection(start, length);
  else setCursorPosition(caret);
}

void TQoCustomSliderEdit::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Down && (Event->modifiers() & Qt::AltModifier)) {
    PostOpenPopup();
    return;
  }
  const QString typed = Event->text();
  if (typed.size() != 1 || typed[0].unicode() < 32 || typed[0].unicode() == 127) {
    TQoEdPopup::keyPressEvent(Event);
    return;
  }
  const QChar c = typed[0];
  if (AllowIncDec && (c == QLatin1Char('+') || c == QLatin1Char('-'))) {
    IncDec(c == QLatin1Char('+') ? 1 : -1);
    return;
  }
  static const QString allowed = QStringLiteral("*+-./0123456789");
  if (!allowed.contains(c) && QString::fromStdString(ProgramIntlSup().DecimalChar) != typed) {
    MessageBeep(0);
    return;
  }
  TQoEdPopup::keyPressEvent(Event);
}

void TQoCustomSliderEdit::focusOutEvent(QFocusEvent* Event) {
  if (isModified() && !FSlider->isVisible()) {
    try {
      Value();
    } catch (...) {
      // Reported, not thrown through the focus change; the text stays as typed.
      std::exception_ptr error = std::current_exception();
      if (OnValidateError) {
        OnValidateError(error);
      } else if (auto* application = dynamic_cast<TApplication*>(QCoreApplication::instance())) {
        QMetaObject::invokeMethod(application, [application, error] { application->HandleException(error); },
                                  Qt::QueuedConnection);
      }
    }
  }
  TQoEdPopup::focusOutEvent(Event);
}

}  // namespace wn
