#include "controls/kel/kelcontrol.h"

#include <QEnterEvent>
#include <QPainter>
#include <unordered_map>

#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelfoundation.h"
#include "platform/graphics.h"

namespace kel {

// ---- TKelControl

TKelControl::TKelControl(QWidget* parent) : QWidget(parent) {}

void TKelControl::SetBounds(int left, int top, int width, int height) {
  const QRect before = geometry();
  setGeometry(left, top, width, height);
  if (FLoading) return;
  const QRect after = geometry();
  std::uint8_t flags = 0;
  if (after.topLeft() != before.topLeft()) flags |= kelBoundsMoved;
  if (after.size() != before.size()) flags |= kelBoundsResized;
  if (flags) BoundsChanged(flags);
}

platform::TFont TKelControl::WidgetFont() const {
  const QFont f = font();
  platform::TFont result;
  result.Name = f.family().toStdString();
  result.Size = f.pointSize() > 0 ? f.pointSize() : 8;
  result.Bold = f.bold();
  result.Italic = f.italic();
  result.Underline = f.underline();
  result.StrikeOut = f.strikeOut();
  return result;
}

void TKelControl::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (--FUpdateCount == 0) UpdateControl();
}

void TKelControl::EndLoading() {
  if (!FLoading) return;
  FLoading = false;
  Loaded();
}

std::uint8_t TKelControl::ThemeMode() const {
  return SupportsThemes() && KelThemesActive() ? FThemeSetting : 0;
}

void TKelControl::ThemeChanged() {
  if (SupportsThemes()) update();
}

void TKelControl::BoundsChanged(std::uint8_t flags) {
  if (OnBoundsChange) OnBoundsChange(this, flags);
}

void TKelControl::MouseEnter() {
  if (isEnabled() && OnMouseEnter) OnMouseEnter(this);
}

void TKelControl::MouseExit() {
  if (isEnabled() && OnMouseExit) OnMouseExit(this);
}

void TKelControl::UpdateControl() {
  if (FUpdateCount > 0 || FLoading) return;
  update();
}

void TKelControl::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  MouseEnter();
}

void TKelControl::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  MouseExit();
}

// ---- parent backgrounds

namespace {

std::unordered_map<const QWidget*, TKelParentBackground*>& ParentBackgrounds() {
  static std::unordered_map<const QWidget*, TKelParentBackground*> sources;
  return sources;
}

} // namespace

void KelSetParentBackground(const QWidget* widget, TKelParentBackground* source) {
  if (widget == nullptr) return;
  if (source == nullptr) {
    ParentBackgrounds().erase(widget);
    return;
  }
  // A widget that goes takes its entry along: a new one at its address must
  // not find the old answerer.
  if (ParentBackgrounds().insert_or_assign(widget, source).second)
    QObject::connect(widget, &QObject::destroyed, [widget] { ParentBackgrounds().erase(widget); });
}

TKelParentBackground* KelParentBackground(const QWidget* widget) {
  const auto it = ParentBackgrounds().find(widget);
  return it == ParentBackgrounds().end() ? nullptr : it->second;
}

bool KelParentPaintsTransparent(const QWidget* parent) {
  if (parent == nullptr) return false;
  if (const TKelParentBackground* source = KelParentBackground(parent)) return source->ChildrenTransparent();
  return parent->property(kelTransparentBackgroundProperty).toBool();
}

void KelPaintParentBackground(QWidget* child, platform::TCanvas& canvas) {
  QWidget* parent = child->parentWidget();
  if (parent == nullptr) return;
  if (TKelParentBackground* source = KelParentBackground(parent)) return source->PaintChildBackground(child, canvas);
  const QRect area = child->geometry();
  canvas.Paint([&](QPainter& p) { parent->render(&p, QPoint(), QRegion(area), QWidget::DrawWindowBackground); });
}

// ---- TKelListBinding

bool TKelListBinding::SetIndex(int index, std::int32_t value) {
  if (value < 0 || (index != 0 && index != 1)) return false;
  std::int32_t& field = index == 0 ? FImageIndex : FListIndex;
  if (field == value) return false;
  field = value;
  return true;
}

bool TKelListBinding::ItemMissing() const {
  return List() == nullptr || !List()->ItemExists(FListIndex, FImageIndex);
}

// ---- TKelBaseControl

TKelBaseControl::TKelBaseControl(QWidget* parent) : TKelControl(parent), FBinding(this, [this] { ListChanged(); }) {
  FBitmapEffect.OnChange = [this](TKelObject*) { UpdateControl(); };
}

bool TKelBaseControl::ListItemMissing() const { return FBinding.ItemMissing(); }

void TKelBaseControl::SetIndexes(int index, std::int32_t value) {
  if (FBinding.SetIndex(index, value) && FBinding.List() != nullptr) ListChanged();
}

void TKelBaseControl::ListChanged() { UpdateControl(); }

void TKelBaseControl::Loaded() { ListChanged(); }

// ---- TKelBaseGraphicControl

TKelBaseGraphicControl::TKelBaseGraphicControl(QWidget* parent) : TKelBaseControl(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setAttribute(Qt::WA_NoSystemBackground, true);
  resize(30, 30);
}

void TKelBaseGraphicControl::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  setAttribute(Qt::WA_OpaquePaintEvent, !value);
  UpdateControl();
}

bool TKelBaseGraphicControl::IsTransparentNow() const {
  return FTransparent && KelParentPaintsTransparent(parentWidget());
}

void TKelBaseGraphicControl::UpdateControl() {
  if (IsUpdating() || Loading()) return;
  if (FTransparent)
    update();
  else
    repaint();
}

// ---- TKelGraphicControl

TKelGraphicControl::TKelGraphicControl(QWidget* parent) : TKelBaseGraphicControl(parent) {
  FBevel.OnChange = [this](TKelObject*) { UpdateControl(); };
}

void TKelGraphicControl::paintEvent(QPaintEvent*) {
  if (Loading()) return;
  QPainter painter(this);
  platform::TCanvas canvas(&painter);
  Paint(canvas);
}

void TKelGraphicControl::Paint(platform::TCanvas& canvas) {
  FBevel.PaintBevel(canvas, platform::Rect(0, 0, width(), height()), false);
}

// ---- theme notice

void KelBroadcastThemeChanged(QWidget* root) {
  if (!root) return;
  if (auto* control = dynamic_cast<TKelControl*>(root)) control->ThemeChanged();
  for (QWidget* child : root->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    KelBroadcastThemeChanged(child);
}

} // namespace kel
