#include "controls/support/qrcheckbox/qrcheckbox.h"

#include "platform/graphics.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>

namespace wn {

using namespace platform;

namespace {

QColor Qc(TColor color) { return QColor::fromRgb(ColorToQRgb(color)); }

} // namespace

QChar AcceleratorChar(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('&')) continue;
    if (caption[i + 1] != QLatin1Char('&')) return caption[i + 1];
    ++i;
  }
  return QChar();
}

TQrCheckBox::TQrCheckBox(QWidget* parent) : QWidget(parent) {
  resize(90, 15);
  AdjustBounds();
}

void TQrCheckBox::SetAlignment(TLeftRight value) {
  if (FAlignment == value) return;
  FAlignment = value;
  update();
}

void TQrCheckBox::SetAutoSize(bool value) {
  if (FAutoSize == value) return;
  FAutoSize = value;
  AdjustBounds();
}

void TQrCheckBox::SetColor(TColor value) {
  if (FColor == value) return;
  FColor = value;
  update();
}

void TQrCheckBox::SetChecked(bool value) {
  if (FChecked == value) return;
  FChecked = value;
  SetState(value ? cbChecked : cbUnchecked);
  update();
}

void TQrCheckBox::SetState(TCheckBoxState value) {
  if (FState == value) return;
  FState = value;
  if (value == cbChecked) FChecked = true;
  else if (value == cbUnchecked) FChecked = false;
  if (OnChange) OnChange(this);
  update();
}

void TQrCheckBox::SetCheckSize(int value) {
  if (FCheckSize == value) return;
  FCheckSize = value;
  AdjustBounds();
  update();
}

void TQrCheckBox::SetSpacing(int value) {
  if (FSpacing == value) return;
  FSpacing = value;
  AdjustBounds();
  update();
}

void TQrCheckBox::SetStyle(TCheckStyle value) {
  if (FStyle == value) return;
  FStyle = value;
  update();
}

void TQrCheckBox::SetTransparent(bool value) {
  if (FTransparent == value) return;
  FTransparent = value;
  update();
}

void TQrCheckBox::SetWordWrap(bool value) {
  if (FWordWrap == value) return;
  FWordWrap = value;
  AdjustBounds();
  update();
}

void TQrCheckBox::SetCaption(const QString& value) {
  if (FCaption == value) return;
  FCaption = value;
  UpdateShortcut();
  AdjustBounds();
  update();
}

void TQrCheckBox::UpdateShortcut() {
  if (FShortcutId != 0) releaseShortcut(FShortcutId);
  FShortcutId = 0;
  const QKeySequence sequence = QKeySequence::mnemonic(FCaption);
  if (!sequence.isEmpty()) FShortcutId = grabShortcut(sequence);
}

bool TQrCheckBox::DialogChar(QChar key) {
  const QChar accel = AcceleratorChar(FCaption);
  if (accel.isNull() || accel.toUpper() != key.toUpper()) return false;
  switch (FState) {
  case cbUnchecked: SetState(cbChecked); break;
  case cbChecked: SetState(FAllowGrayed ? cbGrayed : cbUnchecked); break;
  case cbGrayed: SetState(cbUnchecked); break;
  }
  if (isEnabled() && OnClick) OnClick(this);
  return true;
}

bool TQrCheckBox::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    auto* se = static_cast<QShortcutEvent*>(event);
    if (se->shortcutId() == FShortcutId && FShortcutId != 0) {
      DialogChar(AcceleratorChar(FCaption));
      return true;
    }
  }
  return QWidget::event(event);
}

void TQrCheckBox::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) AdjustBounds();
  if (event->type() == QEvent::EnabledChange) update();
  QWidget::changeEvent(event);
}

int TQrCheckBox::TextFlags() const {
  int flags = Qt::AlignVCenter | Qt::TextExpandTabs | Qt::TextShowMnemonic;
  flags |= FWordWrap ? int(Qt::TextWordWrap) : int(Qt::TextSingleLine);
  flags |= FAlignment == taRightJustify ? int(Qt::AlignRight) : int(Qt::AlignLeft);
  return flags;
}

void TQrCheckBox::AdjustBounds() {
  if (!FAutoSize) return;
  QString text = FCaption;
  if (text.isEmpty() || text == QLatin1String("&")) text = QStringLiteral(" ");
  const QFontMetrics metrics(font());
  const int wrapWidth = FWordWrap ? std::max(1, width() - FCheckSize - FSpacing) : 1 << 20;
  const QRect bounds =
      metrics.boundingRect(QRect(0, 0, wrapWidth, 0), TextFlags() & ~int(Qt::AlignVCenter), text);
  resize(bounds.width() + FCheckSize + FSpacing + 2, bounds.height() + 2);
}

void TQrCheckBox::mousePressEvent(QMouseEvent* event) {
  if (!isEnabled()) return;
  if (event->button() == Qt::LeftButton) {
    FMouseDown = true;
    if (FState == cbUnchecked) {
      SetState(cbChecked);
      FCheckedByPress = true;
      if (OnClick) OnClick(this);
    }
  }
  const QPoint pos = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
}

void TQrCheckBox::mouseReleaseEvent(QMouseEvent* event) {
  if (!isEnabled()) return;
  if (FMouseDown && event->button() == Qt::LeftButton) {
    if (!FCheckedByPress) {
      if (FState == cbChecked) {
        SetState(FAllowGrayed ? cbGrayed : cbUnchecked);
        if (OnClick) OnClick(this);
      } else if (FState == cbGrayed) {
        SetState(cbUnchecked);
        if (OnClick) OnClick(this);
      }
    }
    FCheckedByPress = false;
  }
  const QPoint pos = event->position().toPoint();
  if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (event->button() == Qt::LeftButton) FMouseDown = false;
}

void TQrCheckBox::mouseMoveEvent(QMouseEvent* event) {
  if (!isEnabled()) return;
  const QPoint pos = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(this, event->modifiers(), pos.x(), pos.y());
}

void TQrCheckBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  TCanvas canvas(&painter);
  Paint(canvas);
}

void TQrCheckBox::Paint(TCanvas& canvas) {
  const QRect client = rect();
  canvas.Brush.Color = FColor;
  if (!FTransparent) {
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(Rect(client.left(), client.top(), client.right() + 1, client.bottom() + 1));
  } else {
    canvas.Brush.Style = bsClear;
  }
  const int glyphLeft = FAlignment == taRightJustify ? client.width() - FCheckSize : 0;
  const QRect glyph(glyphLeft, (client.height() - FCheckSize) / 2, FCheckSize, FCheckSize);
  switch (FStyle) {
  case csDiamond: DrawDiamond(canvas, glyph); break;
  case csTrafficLight: DrawTrafficLight(canvas, glyph); break;
  default: DrawCheck(canvas, glyph); break;
  }
  QRect text = client;
  if (FAlignment == taRightJustify) text.setRight(text.right() - (FCheckSize + FSpacing));
  else text.setLeft(text.left() + FCheckSize + FSpacing);
  DrawCaption(canvas, text);
}

// The classic frame-control look: sunken box or circle, raised or pushed
// button; the grayed state draws the checked look inactive (or the button flat).
void TQrCheckBox::DrawCheck(TCanvas& canvas, const QRect& r) {
  const bool checked = FState != cbUnchecked;
  const bool inactive = FState == cbGrayed;
  TRect box = Rect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height());
  if (FStyle == csCheckBox) {
    DrawEdge(canvas, box, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    canvas.Paint([&](QPainter& p) {
      p.fillRect(box.ToQRect(), Qc(inactive ? clBtnFace : clWindow));
      if (!checked || box.Width() < 7 || box.Height() < 7) return;
      // A three-pixel-thick tick, 7 x 7, centred in the box.
      static const int columnTop[7] = {2, 3, 4, 3, 2, 1, 0};
      const int ox = box.Left + (box.Width() - 7) / 2;
      const int oy = box.Top + (box.Height() - 7) / 2;
      const QColor mark = Qc(inactive ? clBtnShadow : clWindowText);
      for (int i = 0; i < 7; ++i) p.fillRect(QRect(ox + i, oy + columnTop[i], 1, 3), mark);
    });
  } else if (FStyle == csRadioButton) {
    canvas.Paint([&](QPainter& p) {
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setBrush(Qt::NoBrush);
      const QRect outer(r.left(), r.top(), r.width() - 1, r.height() - 1);
      const QRect inner = outer.adjusted(1, 1, -1, -1);
      p.setPen(Qc(clBtnShadow));
      p.drawArc(outer, 45 * 16, 180 * 16);
      p.setPen(Qc(clBtnHighlight));
      p.drawArc(outer, 225 * 16, 180 * 16);
      p.setPen(Qc(cl3DDkShadow));
      p.drawArc(inner, 45 * 16, 180 * 16);
      p.setPen(Qc(cl3DLight));
      p.drawArc(inner, 225 * 16, 180 * 16);
      const QColor face = Qc(inactive ? clBtnFace : clWindow);
      p.setPen(face);
      p.setBrush(face);
      p.drawEllipse(inner.adjusted(1, 1, -1, -1));
      if (checked) {
        const int dot = std::max(2, r.width() / 3);
        const QColor mark = Qc(inactive ? clBtnShadow : clWindowText);
        p.setPen(mark);
        p.setBrush(mark);
        p.drawEllipse(QRect(r.left() + (r.width() - dot) / 2, r.top() + (r.height() - dot) / 2, dot - 1, dot - 1));
      }
    });
  } else {
    if (inactive) {
      canvas.Paint([&](QPainter& p) {
        p.fillRect(box.ToQRect(), Qc(clBtnFace));
        p.setPen(Qc(clBtnShadow));
        p.setBrush(Qt::NoBrush);
        p.drawRect(box.ToQRect().adjusted(0, 0, -1, -1));
      });
    } else {
      DrawEdge(canvas, box, checked ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_MIDDLE);
    }
  }
}

void TQrCheckBox::DrawDiamond(TCanvas& canvas, const QRect& r) {
  const int L = r.left(), T = r.top(), R = r.left() + r.width(), B = r.top() + r.height();
  const int h = (R - L) / 2;
  const bool unchecked = FState == cbUnchecked;
  canvas.Pen.Width = 1;
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = unchecked ? clBtnHighlight : clBtnShadow;
  canvas.MoveTo(L + h, T);
  canvas.LineTo(L, T + h);
  canvas.LineTo(L + h, B - 1);
  canvas.Pen.Color = unchecked ? clBtnShadow : clBtnHighlight;
  canvas.LineTo(R - 1, T + h);
  canvas.LineTo(L + h, T);
  if (unchecked) return;
  const TBrush saved = canvas.Brush;
  canvas.Pen.Color = saved.Color;
  canvas.Brush.Color = FState == cbChecked ? clBlack : TColor(0x808080);
  canvas.Brush.Style = bsSolid;
  const TPoint corners[4] = {{L + h, T + 1}, {R - 2, T + h}, {L + h, B - 2}, {L + 1, T + h}};
  canvas.Polygon(corners, 4);
  canvas.Brush = saved;
}

void TQrCheckBox::DrawTrafficLight(TCanvas& canvas, const QRect& r) {
  const int L = r.left(), T = r.top(), R = r.left() + r.width(), B = r.top() + r.height();
  const TBrush saved = canvas.Brush;
  canvas.Pen.Color = clBlack;
  canvas.Pen.Width = 1;
  canvas.Pen.Style = psSolid;
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = FState == cbUnchecked ? clLime : FState == cbChecked ? clRed : clYellow;
  canvas.Ellipse(L + 1, T + 1, R - 1, B - 1);
  // Dark rim above left, light rim below right: the light looks sunken.
  canvas.Paint([&](QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    const QRect rim(L, T, R - L - 1, B - T - 1);
    p.setPen(Qc(clBtnShadow));
    p.drawArc(rim, 45 * 16, 180 * 16);
    p.setPen(Qc(clBtnHighlight));
    p.drawArc(rim, 225 * 16, 180 * 16);
  });
  canvas.Brush = saved;
}

void TQrCheckBox::DrawCaption(TCanvas& canvas, const QRect& r) {
  const int flags = TextFlags();
  canvas.Paint([&](QPainter& p) {
    p.setFont(font());
    if (!isEnabled()) {
      p.setPen(Qc(clBtnHighlight));
      p.drawText(r.translated(1, 1), flags, FCaption);
      p.setPen(Qc(clInactiveCaption));
    } else {
      p.setPen(Qc(clWindowText));
    }
    p.drawText(r, flags, FCaption);
  });
}

} // namespace wn
