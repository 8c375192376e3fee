#include "controls/kel/kelcustomcontrol.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "controls/kel/kelbitmaplist.h"

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- TKelCustomControl

TKelCustomControl::TKelCustomControl(QWidget* parent)
    : QWidget(parent), FBinding(this, [this] { ListChanged(); }) {
  resize(100, 40);
  setFocusPolicy(Qt::ClickFocus);
  FBitmapEffect.OnChange = [this](TKelObject*) { RepaintChange(); };
  KelSetParentBackground(this, this);
}

TKelCustomControl::~TKelCustomControl() { KelSetParentBackground(this, nullptr); }

void TKelCustomControl::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  RepaintChange();
}

void TKelCustomControl::SetTransparencyMode(std::uint8_t value) {
  if (value > 1 || value == FTransparencyMode) return;
  FTransparencyMode = value;
  RepaintChange();
}

void TKelCustomControl::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  RepaintChange();
}

void TKelCustomControl::SetBorderStyle(TFormBorderStyle value) {
  if (value != bsNone) value = bsSingle;
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  UpdateMargins();
}

void TKelCustomControl::SetCtl3D(bool value) {
  if (value == FCtl3D) return;
  FCtl3D = value;
  UpdateMargins();
}

void TKelCustomControl::SetFrameTracking(bool value) {
  if (value == FFrameTracking) return;
  FFrameTracking = value;
  update();
}

int TKelCustomControl::FrameWidth() const { return FBorderStyle == bsNone ? 0 : FCtl3D ? 2 : 1; }

void TKelCustomControl::UpdateMargins() {
  const int w = FrameWidth();
  setContentsMargins(w, w, w, w);
  update();
}

void TKelCustomControl::SetIndexes(int index, std::int32_t value) {
  if (FBinding.SetIndex(index, value) && FBinding.List() != nullptr) ListChanged();
}

void TKelCustomControl::RepaintChange() {
  if (FRepaintOnChange) update();
}

void TKelCustomControl::ThemeChanged() { update(); }

void TKelCustomControl::PaintBackground(TCanvas& canvas) {
  // Transparent in either mode: Qt has already drawn the parent under us.
  if (FTransparent || FTransparencyMode == 1) return;
  canvas.Brush = TBrush{FColor, bsSolid, {}};
  canvas.FillRect(Rect(0, 0, width(), height()));
}

void TKelCustomControl::PaintFrame(TCanvas& canvas) {
  const int w = FrameWidth();
  if (w == 0) return;
  TRect r = Rect(0, 0, width(), height());
  if (FCtl3D) {
    DrawEdge(canvas, r, EDGE_SUNKEN, BF_RECT);
    return;
  }
  const bool hot = FFrameTracking && (FMouseInside || FFocused) && isEnabled();
  canvas.Brush = TBrush{hot ? clWindowFrame : clBtnShadow, bsSolid, {}};
  canvas.FrameRect(r);
}

void TKelCustomControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  TCanvas canvas(&painter);
  PaintBackground(canvas);
  PaintFrame(canvas);
  Paint(canvas);
}

void TKelCustomControl::PaintChildBackground(QWidget* child, TCanvas& canvas) {
  const QRect area = child->geometry();
  canvas.Paint([&](QPainter& p) { render(&p, QPoint(), QRegion(area), QWidget::DrawWindowBackground); });
}

bool TKelCustomControl::event(QEvent* event) {
  if (event->type() == kelFocusGainedEvent) {
    if (OnFocusGained) OnFocusGained(this);
    return true;
  }
  if (event->type() == kelFocusLostEvent) {
    if (OnFocusLost) OnFocusLost(this);
    return true;
  }
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::ThemeChange) ThemeChanged();
  return handled;
}

// Focus changes are reported after the change has settled, as queued notices.
void TKelCustomControl::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  FFocused = true;
  QCoreApplication::postEvent(this, new QEvent(kelFocusGainedEvent));
  if (FFrameTracking) update();
}

void TKelCustomControl::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  FFocused = false;
  QCoreApplication::postEvent(this, new QEvent(kelFocusLostEvent));
  if (FFrameTracking) update();
}

void TKelCustomControl::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter(this);
  FMouseInside = true;
  if (FFrameTracking) update();
}

void TKelCustomControl::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  FMouseInside = false;
  if (!FFocused && FFrameTracking) update();
  if (OnMouseExit) OnMouseExit(this);
}

// A transparent control shows what lies under its new place.
void TKelCustomControl::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (FTransparent) update();
}

void TKelCustomControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (FTransparent) update();
}

// ---------------------------------------------------------------- TKelCustomScrollBox

TKelCustomScrollBox::TKelCustomScrollBox(QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  resize(185, 41);
  auto* content = new QWidget;
  content->setAutoFillBackground(false);
  setWidget(content);
  content->installEventFilter(this);
  KelSetParentBackground(content, this);
  FBevel.OnChange = [this](TKelObject*) { UpdateFrame(); };
  for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this, bar] { ScrollMessage(!bar->isSliderDown()); });
    connect(bar, &QScrollBar::sliderReleased, this, [this] { ScrollMessage(true); });
  }
  UpdateFrame();
}

TKelCustomScrollBox::~TKelCustomScrollBox() {
  FBevel.OnChange = nullptr;
  if (widget() != nullptr) KelSetParentBackground(widget(), nullptr);
}

void TKelCustomScrollBox::UpdateFrame() {
  const int w = FBevel.TotalWidth();
  setViewportMargins(w, w, w, w);
  update();
}

void TKelCustomScrollBox::SetTransparentBackground(bool value) {
  if (value == FTransparentBackground) return;
  FTransparentBackground = value;
  ApplyBackground();
}

void TKelCustomScrollBox::ApplyBackground() {
  viewport()->setAutoFillBackground(!FTransparentBackground);
  viewport()->update();
  update();
}

void TKelCustomScrollBox::SetSaveResources(bool value) {
  if (value == FSaveResources) return;
  FSaveResources = value;
  if (value) ApplySaveResources();
}

void TKelCustomScrollBox::ApplySaveResources() {
  QWidget* content = widget();
  if (content == nullptr) return;
  const int h = horizontalScrollBar()->value(), v = verticalScrollBar()->value();
  const QRect view(-content->pos(), viewport()->size());
  for (QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const auto ours = std::find(FHiddenByUs.begin(), FHiddenByUs.end(), child);
    if (child->geometry().intersects(view)) {
      if (ours != FHiddenByUs.end()) {
        FHiddenByUs.erase(ours);
        child->show();
      }
    } else if (ours == FHiddenByUs.end() && child->isVisibleTo(content)) {
      FHiddenByUs.push_back(child);
      child->hide();
    }
  }
  horizontalScrollBar()->setValue(h);
  verticalScrollBar()->setValue(v);
}

void TKelCustomScrollBox::ScrollMessage(bool ended) {
  ++FScrollCount;
  if (FTransparentBackground) {
    const bool now = RepaintWhileScrolling ? FScrollCount % std::max(1, RepaintInterval) == 0 : ended;
    if (now) {
      viewport()->update();
      if (widget() != nullptr)
        for (QWidget* child : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->update();
      ++FChildRepaints;
    }
  }
  if (FSaveResources) ApplySaveResources();
  const QPoint position(horizontalScrollBar()->value(), verticalScrollBar()->value());
  if (position == FLastPosition) return;
  FLastPosition = position;
  if (OnScroll) OnScroll(this);
}

bool TKelCustomScrollBox::ChildrenTransparent() const {
  return FTransparentBackground && KelParentPaintsTransparent(parentWidget());
}

void TKelCustomScrollBox::PaintChildBackground(QWidget* child, TCanvas& canvas) {
  QWidget* under = FTransparentBackground && parentWidget() != nullptr ? parentWidget() : viewport();
  const QRect area(child->mapTo(under, QPoint(0, 0)), child->size());
  canvas.Paint([&](QPainter& p) { under->render(&p, QPoint(), QRegion(area), QWidget::DrawWindowBackground); });
}

void TKelCustomScrollBox::FitContent() {
  QWidget* content = widget();
  if (content == nullptr) return;
  QRect bounds(QPoint(0, 0), viewport()->size());
  for (QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (child->isVisibleTo(content) || std::count(FHiddenByUs.begin(), FHiddenByUs.end(), child))
      bounds = bounds.united(child->geometry());
  content->resize(bounds.right() + 1, bounds.bottom() + 1);
}

bool TKelCustomScrollBox::eventFilter(QObject* watched, QEvent* event) {
  QWidget* content = widget();
  if (watched == content) {
    if (event->type() == QEvent::ChildAdded) {
      if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
        child->installEventFilter(this);
      FitContent();
    } else if (event->type() == QEvent::ChildRemoved) {
      FHiddenByUs.erase(std::remove(FHiddenByUs.begin(), FHiddenByUs.end(),
                                    static_cast<QWidget*>(static_cast<QChildEvent*>(event)->child())),
                        FHiddenByUs.end());
      FitContent();
    }
  } else if (content != nullptr && watched->parent() == content &&
             (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
    FitContent();
  }
  return QScrollArea::eventFilter(watched, event);
}

bool TKelCustomScrollBox::event(QEvent* event) {
  if (event->type() == QEvent::Paint) {
    // The bevel around the viewport, in the margins kept for it.
    QPainter painter(this);
    TCanvas canvas(&painter);
    const int w = FBevel.TotalWidth();
    const QRect v = viewport()->geometry().adjusted(-w, -w, w, w);
    FBevel.PaintBevel(canvas, Rect(v.left(), v.top(), v.right() + 1, v.bottom() + 1), false);
    return true;
  }
  const bool handled = QScrollArea::event(event);
  if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest) FitContent();
  if (event->type() == QEvent::ThemeChange) update();
  return handled;
}

void TKelCustomScrollBox::showEvent(QShowEvent* event) {
  QScrollArea::showEvent(event);
  if (FShownOnce) return;
  FShownOnce = true;
  FitContent();
  if (FSaveResources) ApplySaveResources();
}

void TKelCustomScrollBox::changeEvent(QEvent* event) {
  QScrollArea::changeEvent(event);
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange) {
    viewport()->update();
    update();
  }
}

} // namespace kel
