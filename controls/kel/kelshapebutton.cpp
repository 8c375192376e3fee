#include "controls/kel/kelshapebutton.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QToolTip>

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- colours

void TKelShapeButtonColor::SetColor(int index, TColor value) {
  if (index < 0 || index > 4) return;
  SetProp(FColors[index], value);
}

TColor TKelShapeButtonColor::ForState(int state) const {
  switch (state) {
    case bsUp: return Up();
    case bsDisabled:
    case bsDisabledOptionSet: return Disabled();
    case bsMouseOver: return MouseOver();
    case bsOptionSet:
    case bsDropDown: return OptionSet();
    case bsDown: return Down();
    default: return clNone;
  }
}

void TKelShapeButtonColor::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelShapeButtonColor*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  for (int i = 0; i < 5; ++i) FColors[i] = s->FColors[i];
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelBaseGraphicButton

std::function<void(QMenu&, const QPoint&)> TKelBaseGraphicButton::MenuPopup;

TKelBaseGraphicButton::TKelBaseGraphicButton(QWidget* parent) : TKelBaseControl(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_NoSystemBackground, true);
  resize(25, 25);
  FGlyph.OnChange = [this] { UpdateControl(); };
  FButtonLayout.OnChange = [this](TKelObject*) { UpdateControl(); };
  FFontFX.OnChange = [this](TKelObject*) { UpdateControl(); };
  FFont.Name = QApplication::font().family().toStdString();
}

TKelBaseGraphicButton::~TKelBaseGraphicButton() {
  StopTimer(0);
  StopTimer(1);
}

void TKelBaseGraphicButton::SetGroupIndex(int value) {
  if (value == FGroupIndex) return;
  FGroupIndex = value;
  if (value == 0 && FPressed) {
    FPressed = false;
    SetState(isEnabled() ? bsUp : bsDisabled);
  }
}

void TKelBaseGraphicButton::SetPressed(bool value) {
  if (FGroupIndex == 0) value = false;
  if (value == FPressed) return;
  if (!value && !FAllowAllUp) return;
  FPressed = value;
  if (value) {
    SetState(isEnabled() ? bsOptionSet : bsDisabledOptionSet);
    Repaint();
    NotifyGroup();
  } else {
    SetState(isEnabled() ? bsUp : bsDisabled);
    Repaint();
  }
}

void TKelBaseGraphicButton::SetUseCaption(bool value) { SetControlProp(FUseCaption, value); }

void TKelBaseGraphicButton::SetCaption(const std::string& value) {
  if (value == FCaption) return;
  FCaption = value;
  UpdateShortcut();
  UpdateControl();
}

void TKelBaseGraphicButton::SetMultiLine(bool value) { SetControlProp(FMultiLine, value); }

void TKelBaseGraphicButton::SetFont(const TFont& value) {
  FFont = value;
  FParentFont = false;
  UpdateControl();
}

void TKelBaseGraphicButton::SetParentFont(bool value) { SetControlProp(FParentFont, value); }

TFont TKelBaseGraphicButton::EffectiveFont() const {
  if (!FParentFont) return FFont;
  TFont result = WidgetFont();
  result.Color = clBtnText;
  return result;
}

void TKelBaseGraphicButton::SetColor(TColor value) { SetControlProp(FColor, value); }

void TKelBaseGraphicButton::SetGlyph(const TBitmap& value) { FGlyph.SetGlyph(value); }

void TKelBaseGraphicButton::UpdateShortcut() {
  const QKeySequence key = QKeySequence::mnemonic(QString::fromStdString(FCaption));
  if (key.isEmpty()) {
    delete FShortcut;
    FShortcut = nullptr;
    return;
  }
  if (FShortcut == nullptr) {
    FShortcut = new QShortcut(this);
    FShortcut->setContext(Qt::WindowShortcut);
    connect(FShortcut, &QShortcut::activated, this, [this] { DialogChar(); });
  }
  FShortcut->setKey(key);
}

bool TKelBaseGraphicButton::IsTransparentNow() const { return KelParentPaintsTransparent(parentWidget()); }

void TKelBaseGraphicButton::PaintParentBackground(TCanvas& canvas) { KelPaintParentBackground(this, canvas); }

void TKelBaseGraphicButton::Repaint() {
  if (!isVisible() || IsUpdating() || Loading()) return;
  update();
}

bool TKelBaseGraphicButton::LooksSame(TKelButtonState, TKelButtonState) const { return false; }

void TKelBaseGraphicButton::SetState(TKelButtonState value) {
  if (value == FState) return;
  const TKelButtonState old = FState;
  FSavedState = value == bsMouseOver && old != bsOptionSet ? bsUp : old;
  FState = value;
  if (!LooksSame(old, value)) Repaint();
  if (FAllowMouseOver) {
    if (old == bsMouseOver) StopTimer(0);
    if (value == bsMouseOver && !FPressed) StartTimer(0, 100, [this] { CheckMousePos(); });
  }
}

void TKelBaseGraphicButton::StartTimer(int slot, std::uint16_t interval, std::function<void()> callback) {
  if (slot < 0 || slot > 1 || FTimers[slot] != 0) return;
  const std::uint16_t id = KelTimerAdd(interval, [callback](TKelTimerPool*) { callback(); });
  if (id == 0) throw EOutOfResources("Not enough timers available");
  FTimers[slot] = id;
}

void TKelBaseGraphicButton::StopTimer(int slot) {
  if (slot < 0 || slot > 1 || FTimers[slot] == 0) return;
  const std::uint16_t id = FTimers[slot];
  FTimers[slot] = 0;
  TKelTimerPool& pool = KelApplication().TimerPool();
  if (TKelTimerItem* item = pool.FindItem(id)) {
    item->SetEnabled(false);
    item->Callback = nullptr;
  }
  KelTimerRemove(id);
}

void TKelBaseGraphicButton::PaintGlyphAndCaption(TCanvas& canvas, const TRect& body) {
  TFont font = EffectiveFont();
  if (EnterColorChange && FState == bsMouseOver) font.Color = EnterColor;
  canvas.Font = font;
  canvas.Brush.Style = bsClear;
  const std::string caption = UseCaption() ? Caption() : std::string();
  const unsigned flags = isEnabled() ? kglEnabled : 0;
  if (UsesImageList() && !ListItemMissing()) {
    TBitmap glyph;
    ImageList()->AssignItemTo(ListIndex(), ImageIndex(), &glyph);
    KelCalcGlyphTextLayout(canvas, caption, &glyph, Rect(0, 0, glyph.Width(), glyph.Height()), nullptr,
                           KelBitmapTransparentColor(glyph), FButtonLayout, body, flags, &FFontFX, MultiLine());
  } else {
    FGlyph.Draw(canvas, body, caption, FState, FButtonLayout, flags, &FFontFX, MultiLine());
  }
}

bool TKelBaseGraphicButton::PointInShape(int x, int y) { return x >= 0 && x <= width() && y >= 0 && y <= height(); }

bool TKelBaseGraphicButton::Inside(int x, int y) {
  return FAllowTransparency ? PointInShape(x, y) : rect().contains(x, y);
}

void TKelBaseGraphicButton::CheckMousePos() {
  const QPoint p = mapFromGlobal(QCursor::pos());
  const bool inside = FAllowTransparency ? PointInShape(p.x(), p.y())
                                         : p.x() >= 0 && p.x() < width() && p.y() >= 0 && p.y() <= height();
  if (isEnabled() && !FPressed && !inside) SetState(bsUp);
}

void TKelBaseGraphicButton::RepeatTick() {
  if (FState != bsDown) return;
  if (TKelTimerItem* item = KelApplication().TimerPool().FindItem(FTimers[1])) item->SetInterval(RepeatingInterval);
  Click();
}

void TKelBaseGraphicButton::Click() {
  if (OnClick) OnClick(this);
}

void TKelBaseGraphicButton::MouseEnter() {
  if (!FAllowTransparency) TKelControl::MouseEnter();
  if (FState == bsUp && FAllowMouseOver && isEnabled()) SetState(bsMouseOver);
}

void TKelBaseGraphicButton::MouseExit() {
  TKelControl::MouseExit();
  if (FState == bsMouseOver) SetState(FSavedState);
  if (HideHint) QToolTip::hideText();
}

void TKelBaseGraphicButton::MouseDown(int x, int y) {
  if (FAllowTransparency && !PointInShape(x, y)) return;
  if (FDropDownMenu) {
    if (FState == bsDropDown) {
      SetState(bsMouseOver);
      return;
    }
    const bool arrow = FButtonLayout.Arrow();
    if (!arrow || x >= width() - ArrowWidth) {
      DropDown();
      return;
    }
  }
  FTracking = true;
  if (FGroupIndex != 0 && FSavedState == bsOptionSet && FState == bsMouseOver) {
    SetState(bsOptionSet);
    return;
  }
  if (!FPressed) {
    SetState(bsDown);
    if (RepeatedClick) {
      Click();
      StartTimer(1, RepeatingDelay, [this] { RepeatTick(); });
    }
  }
}

void TKelBaseGraphicButton::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  // Outside the outline the press belongs to what shows through.
  if (FAllowTransparency && !PointInShape(p.x(), p.y())) return;
  if (OnMouseDown) OnMouseDown(this, event->button(), p.x(), p.y());
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  MouseDown(p.x(), p.y());
}

void TKelBaseGraphicButton::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
  if (event->button() == Qt::LeftButton && FPressed && OnDblClick) OnDblClick(this);
}

void TKelBaseGraphicButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(this, p.x(), p.y());
  if (FState == bsDropDown || !isEnabled()) return;
  const bool inside = Inside(p.x(), p.y());
  if (FTracking) {
    if (inside) SetState(FPressed ? bsOptionSet : bsDown);
    else if (FGroupIndex == 0 || FState == bsDown) SetState(FPressed ? bsOptionSet : bsUp);
    return;
  }
  if (FAllowTransparency && FAllowMouseOver) {
    if (inside && !(FPressed && FGroupIndex != 0)) SetState(bsMouseOver);
    else if (!inside && FState == bsMouseOver) SetState(FSavedState);
  }
  if (inside && FState != bsMouseOver) {
    TKelControl::MouseEnter();
    if (FState == bsUp && FAllowMouseOver) SetState(bsMouseOver);
  }
}

void TKelBaseGraphicButton::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseUp) OnMouseUp(this, event->button(), p.x(), p.y());
  if (event->button() != Qt::LeftButton || FState == bsDropDown) return;
  const bool tracked = FTracking;
  FTracking = false;
  StopTimer(1);
  if (!tracked) return;
  const bool inside = Inside(p.x(), p.y());
  TKelButtonState next;
  if (FGroupIndex == 0) {
    next = inside && FAllowMouseOver ? bsMouseOver : bsUp;
  } else if (!inside) {
    next = FPressed ? bsOptionSet : bsUp;
  } else {
    if (!FPressed) {
      FPressed = true;
      NotifyGroup();
    } else if (FAllowAllUp) {
      FPressed = false;
    }
    next = FPressed ? bsOptionSet : (FAllowMouseOver ? bsMouseOver : bsUp);
  }
  SetState(next);
  if (inside && !RepeatedClick) Click();
  // The mouse-over polling started with bsMouseOver follows the cursor from here.
}

void TKelBaseGraphicButton::changeEvent(QEvent* event) {
  TKelBaseControl::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    if (isEnabled()) SetState(FPressed ? bsOptionSet : bsUp);
    else SetState(FPressed ? bsDisabledOptionSet : bsDisabled);
    Repaint();
  } else if (event->type() == QEvent::FontChange) {
    UpdateControl();
  }
}

void TKelBaseGraphicButton::DropDown() {
  if (!FDropDownMenu || FState == bsDropDown) return;
  SetState(bsDropDown);
  if (OnDropDown) OnDropDown(this);
  const QPoint at = DropDownRight ? mapToGlobal(QPoint(width(), DropDownIndent))
                                  : mapToGlobal(QPoint(DropDownIndent, height()));
  if (MenuPopup) MenuPopup(*FDropDownMenu, at);
  else FDropDownMenu->exec(at);
  FTracking = false;
  SetState(bsMouseOver);
}

void TKelBaseGraphicButton::DialogChar() {
  if (!isEnabled() || !isVisible()) return;
  if (FDropDownMenu) {
    if (FState == bsDropDown) SetState(bsMouseOver);
    else DropDown();
    return;
  }
  if (FGroupIndex == 0) {
    Click();
    return;
  }
  if (FPressed && !FAllowAllUp) return;
  // Without mouse-over a grouped button still toggles and reports it.
  FPressed = !FPressed;
  if (FPressed) {
    SetState(bsOptionSet);
    NotifyGroup();
    Click();
  } else {
    SetState(bsUp);
  }
}

void TKelBaseGraphicButton::NotifyGroup() {
  if (FGroupIndex == 0 || parentWidget() == nullptr) return;
  for (QObject* child : parentWidget()->children())
    if (auto* button = qobject_cast<TKelBaseGraphicButton*>(child))
      if (button != this) button->ButtonPressed(FGroupIndex, this);
}

void TKelBaseGraphicButton::ButtonPressed(int group, TKelBaseGraphicButton* sender) {
  if (group != FGroupIndex || sender == this) return;
  if (sender->FPressed && FPressed) {
    FPressed = false;
    SetState(FState == bsMouseOver && HasMouseOverGlyph() ? bsMouseOver : (isEnabled() ? bsUp : bsDisabled));
    Repaint();
  }
  FAllowAllUp = sender->FAllowAllUp;
}

// ---------------------------------------------------------------- TKelCustomShapeButton

TKelCustomShapeButton::TKelCustomShapeButton(QWidget* parent)
    : TKelBaseGraphicButton(parent),
      FFillList(this, [this] { UpdateControl(); }) {
  FShape.SetBrushColor(clBtnFace);
  const auto changed = [this](TKelObject*) {
    FRegionValid = false;
    UpdateControl();
  };
  FShape.OnChange = changed;
  FColors.OnChange = changed;
  FShapeFill.OnChange = changed;
}

TKelCustomShapeButton::~TKelCustomShapeButton() = default;

void TKelCustomShapeButton::SetMode(TKelShapeButtonMode value) { SetControlProp(FMode, value); }

void TKelCustomShapeButton::SetStyle(TKelShapeButtonStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  FRegionValid = false;
  UpdateControl();
}

void TKelCustomShapeButton::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  setAttribute(Qt::WA_OpaquePaintEvent, !value);
  UpdateControl();
}

void TKelCustomShapeButton::SetShapeFillImageList(TKelCustomImageList* value) { FFillList.SetList(value); }

void TKelCustomShapeButton::SetShapeFillIndexes(int imageIndex, int listIndex) {
  if (imageIndex < 0 || listIndex < 0) return;
  if (imageIndex == FShapeFillImageIndex && listIndex == FShapeFillListIndex) return;
  FShapeFillImageIndex = imageIndex;
  FShapeFillListIndex = listIndex;
  UpdateControl();
}

void TKelCustomShapeButton::resizeEvent(QResizeEvent* event) {
  FRegionValid = false;
  TKelBaseGraphicButton::resizeEvent(event);
}

const QRegion& TKelCustomShapeButton::ShapeRegion() {
  if (FRegionValid) return FRegion;
  const TKelShadow* shadow = FStyle == sbsShadow ? &FShape.Shadow() : nullptr;
  TKelPointList points;
  KelShapeOutline(Rect(0, 0, width(), height()), FShape.Shape(), points, shadow, &FShape.Bevel(), FShape.Square(),
                  FShape.RoundPercent());
  const int sd = shadow != nullptr && shadow->Style() != hssNone ? shadow->Depth() : 0;
  const TPoint a = points.Point(0), b = points.Point(1);
  const QRect box(a.X - sd, a.Y - sd, b.X - a.X, b.Y - a.Y);
  switch (FShape.Shape()) {
    case stEllipse: FRegion = QRegion(box, QRegion::Ellipse); break;
    case stRectangle: FRegion = QRegion(box); break;
    case stRoundRect: {
      const int corner = FShape.RoundPercent() * std::min(width(), height()) / 100;
      QPainterPath path;
      path.addRoundedRect(QRectF(box), corner / 2.0, corner / 2.0);
      FRegion = QRegion(path.toFillPolygon().toPolygon());
      break;
    }
    default: {
      QPolygon polygon;
      const int count = points.Count() / 2;
      for (int i = 0; i < count; ++i) polygon << QPoint(points.Point(i).X - sd, points.Point(i).Y - sd);
      FRegion = QRegion(polygon);
      break;
    }
  }
  FRegionValid = true;
  return FRegion;
}

bool TKelCustomShapeButton::PointInShape(int x, int y) { return ShapeRegion().contains(QPoint(x, y)); }

bool TKelCustomShapeButton::LooksSame(TKelButtonState from, TKelButtonState to) const {
  const bool pair = (from == bsUp && to == bsMouseOver) || (from == bsMouseOver && to == bsUp) ||
                    (FGlyph.NumGlyphs() < 3 && ((from == bsMouseOver && to == bsOptionSet) ||
                                                (from == bsOptionSet && to == bsMouseOver)));
  if (!pair) return false;
  const bool nothing = FGlyph.NumGlyphs() < 3 && !HasMouseOverGlyph() && (!AllowMouseOver() || !EnterColorChange);
  // The face colours of the two states differ on most forms (a grey face
  // under the mouse): such a change must show.
  return nothing && FColors.ForState(from) == FColors.ForState(to);
}

void TKelCustomShapeButton::UpdateControl() {
  UpdateShapeFill();
  TKelBaseGraphicButton::UpdateControl();
}

void TKelCustomShapeButton::UpdateShapeFill() {
  if (FMode != sbmShapeFill || width() <= 0 || height() <= 0) {
    FFillBitmap.Assign(TBitmap());
    return;
  }
  FFillBitmap.SetPixelFormat(pf32bit);
  FFillBitmap.SetSize(width(), height());
  const TRect all = Rect(0, 0, width(), height());
  TCanvas& c = FFillBitmap.Canvas();
  c.Brush = FShape.Brush();
  c.FillRect(all);
  switch (FShapeFill.Style()) {
    case sfGradient: FShapeFill.Gradient().PaintTo(c, all); break;
    case sfBitmap:
    case sfBitmapList: {
      const TBitmap* source = &FShapeFill.Bitmap();
      if (FShapeFill.Style() == sfBitmapList) {
        FShapeFill.ListBitmap().Assign(TBitmap());
        if (FFillList.List() != nullptr)
          FFillList.List()->AssignItemTo(FShapeFillListIndex, FShapeFillImageIndex, &FShapeFill.ListBitmap());
        source = &FShapeFill.ListBitmap();
      }
      static const unsigned styles[] = {0, kbfCenter, kbfStretch, kbfTile};
      KelDrawBitmapStyled(c, all, *source, nullptr, clNone, styles[FShapeFill.TileMode()],
                          Rect(0, 0, source->Width(), source->Height()));
      break;
    }
    default: break;
  }
}

void TKelCustomShapeButton::PaintTo(TCanvas& canvas) {
  const int W = width(), H = height();
  const TRect all = Rect(0, 0, W, H);
  if (IsTransparentNow()) {
    PaintParentBackground(canvas);
  } else {
    canvas.Brush = TBrush{Color(), bsSolid, {}};
    canvas.FillRect(all);
  }
  const int state = State();
  const bool pressedLook = state == bsOptionSet || state == bsDown || state == bsDropDown ||
                           state == bsDisabledOptionSet;
  const bool shifted = state == bsOptionSet || state == bsDown || state == bsDropDown;
  TKelShadow pressedShadow;
  TKelSimpleBevel bevel3D;
  const TKelShadow* shadow = nullptr;
  const TKelSimpleBevel* bevel = &FShape.Bevel();
  int shift = 0;
  if (FStyle == sbsShadow) {
    if (pressedLook) {
      pressedShadow.Assign(FShape.Shadow());
      pressedShadow.SetDepth(0);
      shadow = &pressedShadow;
    } else {
      shadow = &FShape.Shadow();
    }
    if (shifted) shift = FShape.Shadow().Style() != hssNone ? FShape.Shadow().Depth() : 0;
  } else {
    bevel3D.SetColor(0, FShape.Bevel().LightColor());
    bevel3D.SetColor(1, FShape.Bevel().ShadowColor());
    bevel3D.SetWidth(FShape.Bevel().Width());
    bevel3D.SetStyle(pressedLook ? sbInset : sbOffset);
    bevel = &bevel3D;
    if (shifted) shift = 2;
  }
  const TRect face = Rect(shift, shift, W, H);
  TBrush brush = FShape.Brush();
  const TColor stateColor = FColors.ForState(state);
  if (stateColor != clNone) brush.Color = stateColor;
  KelShapePaint(face, canvas, FShape.Shape(), Color(), Color(),
                FMode == sbmShapeFill && !FFillBitmap.Empty() ? &FFillBitmap : nullptr, shadow, bevel,
                FShape.RoundPercent(), brush, FShape.Square());

  // Caption and glyph sit on the body, which is the face less the shadow.
  const int sd = shadow != nullptr && shadow->Style() != hssNone ? shadow->Depth() : 0;
  canvas.Brush = TBrush{brush.Color, bsClear, {}};
  PaintGlyphAndCaption(canvas, Rect(face.Left, face.Top, face.Right - sd, face.Bottom - sd));
}

void TKelCustomShapeButton::paintEvent(QPaintEvent*) {
  if (Loading() || width() <= 0 || height() <= 0) return;
  if (FWork.Width() != width() || FWork.Height() != height()) {
    FWork.SetPixelFormat(pf32bit);
    FWork.SetSize(width(), height());
  }
  TCanvas& work = FWork.Canvas();
  work.RemoveClip();
  PaintTo(work);
  QPainter painter(this);
  TCanvas canvas(&painter);
  if (IsTransparentNow() || !FTransparent)
    canvas.Draw(0, 0, FWork);
  else
    KelDrawBitmapStyled(canvas, Rect(0, 0, width(), height()), FWork, nullptr, Color(), kbfTransparentColor,
                        Rect(0, 0, width(), height()));
}

TKelShapeButton::TKelShapeButton(QWidget* parent) : TKelCustomShapeButton(parent) {}

} // namespace kel
