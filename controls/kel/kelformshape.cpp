#include "controls/kel/kelformshape.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <unordered_map>

#include "controls/kel/kelbitmaplist.h"

namespace kel {

using namespace platform;

int KelClassicMetric(int index) {
  switch (index) {
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CYCAPTION: return 19;
    case SM_CYSMCAPTION: return 15;
    default: return 0;
  }
}

namespace {

std::unordered_map<const QWidget*, TKelFormShape*>& FormShapes() {
  static std::unordered_map<const QWidget*, TKelFormShape*> shapes;
  return shapes;
}

QWidget* CheckedForm(QWidget* form) {
  const bool wrongOwner = form == nullptr || !form->isWindow();
  const int count = !wrongOwner && FormShapes().count(form) ? 2 : 1;
  KelCheckOneInstance("TKelFormShape", count, wrongOwner);
  return form;
}

} // namespace

TKelFormShape::TKelFormShape(QWidget* form)
    : TKelWndProcComponent(CheckedForm(form)), FBinding(form, [this] { Update(); }), FFormKey(form) {
  FormShapes()[form] = this;
  FRegion.OnChange = [this](TKelObject*) { Update(); };
  FFillObject.OnChange = [this](TKelObject*) { Update(); };
  if (Enabled()) Hook();
}

TKelFormShape::~TKelFormShape() {
  FRegion.OwnerDestroying = true;
  FRegion.OnChange = nullptr;
  FFillObject.OnChange = nullptr;
  Unhook();
  FormShapes().erase(FFormKey);
}

void TKelFormShape::SetShowFormCaption(bool value) {
  if (value == FShowFormCaption) return;
  FShowFormCaption = value;
  UpdateFormRegion();
}

void TKelFormShape::SetUseRgnBitmap(bool value) {
  if (value == FUseRgnBitmap) return;
  FUseRgnBitmap = value;
  Update();
}

void TKelFormShape::SetIndexes(int index, int value) {
  if (FBinding.SetIndex(index, value) && FBinding.List() != nullptr) Update();
}

void TKelFormShape::SetBorderStyle(TFormBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  UpdateFormRegion();
}

void TKelFormShape::Update() {
  FBackgroundValid = false;
  UpdateFormRegion();
  if (QWidget* form = Owner()) form->update();
}

void TKelFormShape::Loaded() {
  TKelWndProcComponent::Loaded();
  if (Enabled()) UpdateFormRegion();
}

void TKelFormShape::FrameSizes(int& fx, int& fy, int& caption) const {
  const bool sizeable = FBorderStyle == bsSizeable || FBorderStyle == bsSizeToolWin;
  fx = KelClassicMetric(sizeable ? SM_CXFRAME : SM_CXDLGFRAME);
  fy = KelClassicMetric(sizeable ? SM_CYFRAME : SM_CYDLGFRAME);
  switch (FBorderStyle) {
    case bsNone: caption = 0; fx = fy = 0; break;
    case bsToolWindow:
    case bsSizeToolWin: caption = KelClassicMetric(SM_CYSMCAPTION); break;
    default: caption = KelClassicMetric(SM_CYCAPTION); break;
  }
}

QPoint TKelFormShape::ClientOrigin() const {
  int fx, fy, caption;
  FrameSizes(fx, fy, caption);
  return QPoint(fx, fy + caption);
}

TRect TKelFormShape::ClientRect() const {
  int fx, fy, caption;
  FrameSizes(fx, fy, caption);
  const QWidget* form = Owner();
  if (form == nullptr) return {};
  return Rect(0, 0, std::max(0, form->width() - 2 * fx), std::max(0, form->height() - 2 * fy - caption));
}

void TKelFormShape::UpdateFormRegion() {
  QWidget* form = Owner();
  if (Loading() || FBusy || form == nullptr) return;
  FBusy = true;
  const bool minimized = form->windowState() & Qt::WindowMinimized;
  int fx, fy, caption;
  FrameSizes(fx, fy, caption);
  const int depth = FRegion.Shadow().Depth();
  const TBitmap& maskBitmap = FRegion.Mask().BorderBitmap();
  // An empty mask has no size to give: the form keeps its own.
  if (!minimized && FRegion.Shape() == rsBitmap && !maskBitmap.Empty())
    form->setGeometry(form->x(), form->y(), maskBitmap.Width() + depth + 2 * fx,
                      maskBitmap.Height() + caption + 2 * fy + depth);
  const int W = form->width(), H = form->height();
  const TRect r = Rect(-1, -1, W - 2 * fx + 1, H - 2 * fy - caption + 1);
  const QRegion captionStrip(0, 0, W, fy + caption);
  QRegion working;
  bool shaped = true;
  if (!minimized) {
    FShapeRect = r;
    const std::optional<QRegion>& region = FRegion.CreateRegion(r);
    // Without a region (its data missing) the form stays whole rather than
    // vanishing.
    shaped = region.has_value();
    if (shaped) {
      working = region->translated(fx, fy + caption);
      if (FRegion.Shadow().Style() != hssNone) working = working.united(working.translated(depth, depth));
      if (FShowFormCaption && FBorderStyle != bsNone) working = working.united(captionStrip);
      else working = working.subtracted(captionStrip);
    }
  } else {
    working = captionStrip;
  }
  FWindowRegion = working;
  if (ShapeInForce()) {
    // Layouts keep the form's children in the client area.
    form->setContentsMargins(fx, fy + caption, fx, fy);
    form->clearMask();
    if (shaped) form->setMask(working);
  }
  FCaptionHeight = caption;
  FBusy = false;
}

void TKelFormShape::Hook() {
  QWidget* form = Owner();
  if (form == nullptr || Hooked()) return;
  TKelWndProcComponent::Hook();
  if (!(form->windowFlags() & Qt::FramelessWindowHint)) {
    const bool visible = form->isVisible();
    form->setWindowFlag(Qt::FramelessWindowHint, true);
    FMadeFrameless = true;
    if (visible) form->show();
  }
  KelSetParentBackground(form, this);
  form->setProperty(kelTransparentBackgroundProperty, true);
  UpdateFormRegion();
}

void TKelFormShape::Unhook() {
  QWidget* form = Owner();
  if (!Hooked()) return;
  TKelWndProcComponent::Unhook();
  FDragging = false;
  KelSetParentBackground(FFormKey, nullptr);
  if (form == nullptr) return;
  form->setProperty(kelTransparentBackgroundProperty, QVariant());
  form->clearMask();
  form->setContentsMargins(0, 0, 0, 0);
  if (FMadeFrameless) {
    const bool visible = form->isVisible();
    form->setWindowFlag(Qt::FramelessWindowHint, false);
    FMadeFrameless = false;
    if (visible) form->show();
  }
}

bool TKelFormShape::HasBackground() const {
  if (FUseRgnBitmap && FRegion.Shape() == rsBitmap) return true;
  return FFillObject.Style() != sfNone;
}

void TKelFormShape::RenderBackground() {
  const TRect client = ClientRect();
  if (FBackgroundValid && FBackground.Width() == client.Width() && FBackground.Height() == client.Height()) return;
  FBackground.SetPixelFormat(pf24bit);
  FBackground.SetSize(client.Width(), client.Height());
  if (FFillObject.Style() == sfBitmapList && FBinding.List() != nullptr &&
      FBinding.List()->ItemExists(FBinding.ListIndex(), FBinding.ImageIndex()))
    FBinding.List()->AssignItemTo(FBinding.ListIndex(), FBinding.ImageIndex(), &FFillObject.ListBitmap());
  if (!FBackground.Empty()) {
    TCanvas& c = FBackground.Canvas();
    c.Brush = TBrush{clWhite, bsSolid, {}};
    c.FillRect(client);
    FFillObject.PaintFill(c, client, clWhite);
  }
  FBackgroundValid = true;
}

const TBitmap* TKelFormShape::BackgroundBitmap() {
  if (FUseRgnBitmap && FRegion.Shape() == rsBitmap) return &FRegion.Mask().BorderBitmap();
  if (FFillObject.Style() == sfNone) return nullptr;
  RenderBackground();
  return &FBackground;
}

void TKelFormShape::PaintControlBackground(TCanvas& canvas, const TRect& rect, QPoint position) {
  if (!HasBackground()) return;
  const TBitmap* background = BackgroundBitmap();
  if (background == nullptr || background->Empty()) return;
  const std::uint32_t mode = canvas.CopyMode;
  canvas.CopyMode = SRCCOPY;
  canvas.CopyRect(rect, const_cast<TBitmap*>(background)->Canvas(),
                  Bounds(position.x(), position.y(), rect.Width(), rect.Height()));
  canvas.CopyMode = mode;
}

void TKelFormShape::PaintChildBackground(QWidget* child, TCanvas& canvas) {
  if (HasBackground()) {
    PaintControlBackground(canvas, Rect(0, 0, child->width(), child->height()), child->pos() - ClientOrigin());
    return;
  }
  QWidget* form = Owner();
  if (form == nullptr) return;
  const QRect area = child->geometry();
  canvas.Paint([&](QPainter& p) { form->render(&p, QPoint(), QRegion(area), QWidget::DrawWindowBackground); });
}

void TKelFormShape::PaintFormBackground(TCanvas& canvas) {
  const TRect client = ClientRect();
  if (!FUseRgnBitmap || FRegion.Shape() != rsBitmap) {
    if (FFillObject.Style() != sfNone) {
      RenderBackground();
      canvas.Draw(0, 0, FBackground);
    }
  } else {
    canvas.Draw(0, 0, FRegion.Mask().BorderBitmap());
  }
  FRegion.PaintBorder(canvas, client);
}

void TKelFormShape::PaintCaption(QPainter& painter) {
  QWidget* form = Owner();
  const QPoint origin = ClientOrigin();
  const QRect strip(0, 0, form->width(), origin.y());
  painter.fillRect(strip, QColor::fromRgb(ColorToQRgb(clActiveCaption)));
  QFont font = form->font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor::fromRgb(ColorToQRgb(clCaptionText)));
  painter.drawText(strip.adjusted(origin.x() + 2, 0, -origin.x(), 0), Qt::AlignLeft | Qt::AlignVCenter,
                   form->windowTitle());
}

bool TKelFormShape::WndProc(QEvent* event) {
  QWidget* form = Owner();
  if (form == nullptr) return false;
  switch (event->type()) {
    case QEvent::Resize:
      FBackgroundValid = false;
      UpdateFormRegion();
      form->update();
      break;
    case QEvent::WindowStateChange: UpdateFormRegion(); break;
    case QEvent::Paint: {
      // Before the form's own painting: the caption stand-in, the
      // background and the region's border.
      QPainter painter(form);
      if (FShowFormCaption && FBorderStyle != bsNone) PaintCaption(painter);
      const QPoint origin = ClientOrigin();
      painter.translate(origin);
      TCanvas canvas(&painter);
      PaintFormBackground(canvas);
      break;
    }
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::RightButton) FRightButton = true;
      if (mouse->button() != Qt::LeftButton || FRightButton) break;
      const QPoint at = mouse->position().toPoint();
      const bool inCaption = FShowFormCaption && FBorderStyle != bsNone && at.y() < ClientOrigin().y();
      // A press on a child belongs to the child.
      if (form->childAt(at) != nullptr || !(FFormDragable || inCaption)) break;
      if (form->windowHandle() != nullptr && form->windowHandle()->startSystemMove()) return true;
      FDragging = true;
      FDragFrom = mouse->globalPosition().toPoint();
      FFormFrom = form->pos();
      return true;
    }
    case QEvent::MouseMove:
      if (!FDragging) break;
      form->move(FFormFrom + static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - FDragFrom);
      return true;
    case QEvent::MouseButtonRelease: {
      const auto button = static_cast<QMouseEvent*>(event)->button();
      if (button == Qt::RightButton) FRightButton = false;
      if (button == Qt::LeftButton && FDragging) {
        FDragging = false;
        return true;
      }
      break;
    }
    default: break;
  }
  return false;
}

} // namespace kel
