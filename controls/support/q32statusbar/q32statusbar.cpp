#include "controls/support/q32statusbar/q32statusbar.h"

#include "controls/support/qoformstate/qoformstate.h"

#include <QApplication>
#include <QChildEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusTipEvent>
#include <QWindow>

#include <algorithm>

namespace wn {

using namespace platform;

namespace {

// The native bar takes at most this many parts from its owner.
constexpr int MaxPanelParts = 128;

platform::TFont CanvasFont(const QFont& Font) {
  platform::TFont Result;
  Result.Name = Font.family().toStdString();
  Result.Size = Font.pointSize();
  Result.Bold = Font.bold();
  Result.Italic = Font.italic();
  Result.Underline = Font.underline();
  Result.StrikeOut = Font.strikeOut();
  return Result;
}

unsigned BevelEdge(TPanelBevel Bevel) {
  switch (Bevel) {
    case bvLowered: return BDR_SUNKENOUTER;
    case bvRaised: return BDR_RAISEDINNER;
    default: return 0;
  }
}

}  // namespace

// --------------------------------------------------------- TQ32StatusPanel

TQ32StatusPanel::TQ32StatusPanel(TQ32StatusPanels* Collection) : FCollection(Collection) {}

TQ32StatusPanel::~TQ32StatusPanel() {
  // A deleted panel's container would stay on the bar, covering a part that
  // is no longer its own.
  if (FStyle == spsContainer) FreeContainer();
}

int TQ32StatusPanel::Index() const { return FCollection->IndexOf(this); }

TQ32CustomStatusBar* TQ32StatusPanel::StatusBar() const { return FCollection->StatusBar(); }

void TQ32StatusPanel::Assign(const TQ32StatusPanel& Source) {
  SetText(Source.FText);
  SetWidth(Source.FWidth);
  SetAlignment(Source.FAlignment);
  SetBevel(Source.FBevel);
  SetStyle(Source.FStyle);
}

void TQ32StatusPanel::SetText(const QString& Value) {
  if (Value == FText) return;
  FText = Value;
  Changed(false);
}

void TQ32StatusPanel::SetWidth(int Value) {
  if (Value == FWidth) return;
  FWidth = Value;
  Changed(true);
}

void TQ32StatusPanel::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  Changed(false);
}

void TQ32StatusPanel::SetBevel(TQ32StatusPanelBevel Value) {
  if (Value == FBevel) return;
  FBevel = Value;
  Changed(false);
}

TBiDiMode TQ32StatusPanel::BiDiMode() const {
  return FParentBiDiMode && StatusBar() ? StatusBar()->BiDiMode() : FBiDiMode;
}

void TQ32StatusPanel::SetBiDiMode(TBiDiMode Value) {
  if (Value == FBiDiMode && !FParentBiDiMode) return;
  FBiDiMode = Value;
  FParentBiDiMode = false;
  Changed(false);
}

void TQ32StatusPanel::SetParentBiDiMode(bool Value) {
  if (Value == FParentBiDiMode) return;
  FParentBiDiMode = Value;
  Changed(false);
}

void TQ32StatusPanel::SetStyle(TQ32StatusPanelStyle Value) {
  if (Value == FStyle) return;
  if (FStyle == spsContainer) FreeContainer();
  FStyle = Value;
  if (Value == spsContainer) FContainerIndex = StatusBar()->CreateContainer()->Index();
  Changed(false);
}

void TQ32StatusPanel::FreeContainer() {
  if (TQ32CustomStatusBar* Bar = StatusBar()) Bar->RemoveContainer(FContainerIndex);
  FContainerIndex = -1;
}

void TQ32StatusPanel::Changed(bool AllItems) { FCollection->Update(AllItems ? nullptr : this); }

// -------------------------------------------------------- TQ32StatusPanels

TQ32StatusPanel* TQ32StatusPanels::Add() {
  FItems.push_back(std::make_unique<TQ32StatusPanel>(this));
  Update(nullptr);
  return FItems.back().get();
}

void TQ32StatusPanels::Delete(int Index) {
  if (Index < 0 || Index >= Count()) return;
  // Out of the list before it goes, so that nothing lays it out any more.
  std::unique_ptr<TQ32StatusPanel> Panel = std::move(FItems[static_cast<std::size_t>(Index)]);
  FItems.erase(FItems.begin() + Index);
  Panel.reset();
  Update(nullptr);
}

void TQ32StatusPanels::Clear() {
  BeginUpdate();
  while (Count() > 0) Delete(Count() - 1);
  EndUpdate();
}

int TQ32StatusPanels::IndexOf(const TQ32StatusPanel* Panel) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Panel) return static_cast<int>(i);
  return -1;
}

void TQ32StatusPanels::Assign(const TQ32StatusPanels& Source) {
  if (&Source == this) return;
  BeginUpdate();
  Clear();
  for (const auto& Item : Source.FItems) Add()->Assign(*Item);
  EndUpdate();
}

void TQ32StatusPanels::Reverse() { std::reverse(FItems.begin(), FItems.end()); }

void TQ32StatusPanels::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  if (FUpdateCount == 0) Update(nullptr);
}

void TQ32StatusPanels::Update(TQ32StatusPanel* Item) {
  if (FUpdateCount > 0 || !FStatusBar) return;
  if (Item)
    FStatusBar->UpdatePanel(Item->Index(), false);
  else
    FStatusBar->UpdatePanels(true, false);
}

// --------------------------------------------------------- TQ32SBContainer

TQ32SBContainer::TQ32SBContainer(TQ32CustomStatusBar* StatusBar, int Index)
    : QWidget(StatusBar), FStatusBar(StatusBar), FIndex(Index) {}

void TQ32SBContainer::SetBevelOuter(TPanelBevel Value) {
  if (Value == FBevelOuter) return;
  FBevelOuter = Value;
  update();
}

void TQ32SBContainer::SetBevelInner(TPanelBevel Value) {
  if (Value == FBevelInner) return;
  FBevelInner = Value;
  update();
}

void TQ32SBContainer::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  update();
}

void TQ32SBContainer::Host(QWidget* Control) {
  auto* Layout = qobject_cast<QHBoxLayout*>(layout());
  if (!Layout) {
    Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
  }
  Layout->addWidget(Control);
  Control->show();
}

void TQ32SBContainer::AdjustChildren() {
  for (QObject* Child : children()) {
    auto* Control = qobject_cast<QWidget*>(Child);
    if (!Control) continue;
    Control->setGeometry(Control->x(), 0, Control->width(), height());
    if (auto* Edit = qobject_cast<QLineEdit*>(Control)) Edit->setFrame(false);
  }
}

void TQ32SBContainer::Invalidate() {
  update();
  for (QObject* Child : children())
    if (auto* Control = qobject_cast<QWidget*>(Child)) Control->update();
}

void TQ32SBContainer::childEvent(QChildEvent* Event) {
  QWidget::childEvent(Event);
  if (Event->type() == QEvent::ChildAdded && Event->child()->isWidgetType()) AdjustChildren();
}

void TQ32SBContainer::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  TCanvas Canvas(&Painter);
  Canvas.Paint([this](QPainter& P) { P.fillRect(rect(), QColor::fromRgb(ColorToQRgb(FColor))); });
  TRect Edge = Bounds(0, 0, width(), height());
  if (const unsigned Outer = BevelEdge(FBevelOuter)) DrawEdge(Canvas, Edge, Outer, BF_RECT | BF_ADJUST);
  if (const unsigned Inner = BevelEdge(FBevelInner)) DrawEdge(Canvas, Edge, Inner, BF_RECT | BF_ADJUST);
}

// ----------------------------------------------------- TQ32CustomStatusBar

TQ32CustomStatusBar::TQ32CustomStatusBar(QWidget* Parent)
    : QWidget(Parent), FPanels(this), FContainers(std::make_unique<TQ32ContainerList>(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(width(), 19);
  SyncToSystemFont();
  WatchHints();
  CreateWnd();
}

TQ32CustomStatusBar::~TQ32CustomStatusBar() {
  if (FHintWindow) FHintWindow->removeEventFilter(this);
  // The panels free their containers while the list is still there.
  FDestroying = true;
  FPanels.Clear();
  FContainers.reset();
}

TQ32SBContainer* TQ32CustomStatusBar::Container(int Index) const {
  return dynamic_cast<TQ32SBContainer*>(FContainers->Items(Index));
}

TQ32SBContainer* TQ32CustomStatusBar::CreateContainer() {
  auto* Item = new TQ32SBContainer(this, -1);
  const int Index = FContainers->Add(Item);
  Item->SetIndex(Index);
  Item->setObjectName(QStringLiteral("Container%1").arg(Index));
  Item->SetColor(FColor);
  Item->AdjustChildren();
  return Item;
}

void TQ32CustomStatusBar::RemoveContainer(int Index) {
  QObject* Item = FContainers ? FContainers->Items(Index) : nullptr;
  if (!Item) return;
  FContainers->Remove(Item);
  delete Item;
  // The containers after it move down one place in the list; their panels
  // follow them, or they would lose their containers.
  for (int i = Index; i < FContainers->Count(); ++i)
    if (TQ32SBContainer* Later = Container(i)) Later->SetIndex(i);
  for (int i = 0; i < FPanels.Count(); ++i) {
    TQ32StatusPanel* Panel = FPanels.Items(i);
    if (Panel && Panel->FStyle == spsContainer && Panel->FContainerIndex > Index) --Panel->FContainerIndex;
  }
}

void TQ32CustomStatusBar::CreateWnd() {
  FWindow = TQ32StatusParts();
  FWindow.SetSizeGrip(FSizeGrip && window() != this && IsSizeableForm(window()));
  FWindow.SetBkColor(FColor);
  UpdatePanels(true, false);
  if (!FSimpleText.isEmpty()) FWindow.SetText(TQ32StatusParts::SimplePart | SimpleTextFlags(), FSimpleText);
  FWindow.SetSimple(FSimplePanel);
  update();
}

void TQ32CustomStatusBar::RecreateWnd() { CreateWnd(); }

int TQ32CustomStatusBar::SimpleTextFlags() const { return FBiDiMode != bdLeftToRight ? SBT_RTLREADING : 0; }

void TQ32CustomStatusBar::SetColor(TColor Value) {
  FParentColor = false;
  if (Value == FColor) return;
  FColor = Value;
  RecreateWnd();
}

void TQ32CustomStatusBar::SetParentColor(bool Value) {
  if (Value == FParentColor) return;
  FParentColor = Value;
  if (Value && parentWidget()) {
    FColor = FormColor(parentWidget());
    RecreateWnd();
  }
}

void TQ32CustomStatusBar::SetParentFont(bool Value) {
  if (Value == FParentFont) return;
  FParentFont = Value;
  if (Value) {
    FUseSystemFont = false;
    setFont(QFont());
  }
}

void TQ32CustomStatusBar::SetUseSystemFont(bool Value) {
  if (Value == FUseSystemFont) return;
  FUseSystemFont = Value;
  if (Value) {
    FParentFont = false;
    SyncToSystemFont();
  }
}

void TQ32CustomStatusBar::SyncToSystemFont() {
  if (FUseSystemFont) setFont(QApplication::font("QStatusBar"));
}

void TQ32CustomStatusBar::SetSimplePanel(bool Value) {
  if (Value == FSimplePanel) return;
  FSimplePanel = Value;
  FWindow.SetSimple(Value);
  update();
}

void TQ32CustomStatusBar::SetSimpleText(const QString& Value) {
  if (Value == FSimpleText) return;
  FSimpleText = Value;
  FWindow.SetText(TQ32StatusParts::SimplePart | SimpleTextFlags(), Value);
  update();
}

void TQ32CustomStatusBar::SetSizeGrip(bool Value) {
  if (Value == FSizeGrip) return;
  FSizeGrip = Value;
  RecreateWnd();
}

void TQ32CustomStatusBar::SetBiDiMode(TBiDiMode Value) {
  if (Value == FBiDiMode) return;
  FBiDiMode = Value;
  RecreateWnd();
}

void TQ32CustomStatusBar::UpdatePanels(bool UpdateRects, bool UpdateText) {
  if (FDestroying) return;
  const int Count = std::min(FPanels.Count(), MaxPanelParts);
  if (UpdateRects) {
    if (Count > 0) {
      std::vector<int> Edges;
      int Right = 0;
      for (int i = 0; i < Count - 1; ++i) Edges.push_back(Right += FPanels[i].Width());
      Edges.push_back(-1);
      FWindow.SetParts(Edges);
    } else {
      FWindow.SetParts({-1});
      FWindow.SetText(0, QString());
    }
  }
  for (int i = 0; i < Count; ++i) {
    UpdatePanel(i, UpdateText);
    if (FPanels[i].Style() != spsContainer) continue;
    if (TQ32SBContainer* Item = Container(FPanels[i].ContainerIndex())) {
      Item->AdjustChildren();
      Item->Invalidate();
    }
  }
}

void TQ32CustomStatusBar::UpdatePanel(int Index, bool Repaint) {
  if (FDestroying || Index < 0 || Index >= FPanels.Count()) return;
  TQ32StatusPanel& Panel = FPanels[Index];
  const QRect Part = FWindow.PartRect(Index, size());
  if (Panel.Style() == spsContainer) {
    Panel.FNeedsUpdate = true;
    TQ32SBContainer* Item = Container(Panel.ContainerIndex());
    if (!Item) return;
    Item->SetColor(FColor);
    Item->setVisible(true);
    Item->setGeometry(Panel.Bevel() == spbNone ? Part : Part.adjusted(1, 1, -1, -1));
    return;
  }
  if (!Repaint) {
    Panel.FNeedsUpdate = true;
    update(Part);
    return;
  }
  if (!Panel.FNeedsUpdate) return;
  Panel.FNeedsUpdate = false;
  int Flags = Panel.Bevel() == spbNone ? SBT_NOBORDERS : Panel.Bevel() == spbRaised ? SBT_POPOUT : 0;
  if (Panel.UseRightToLeftReading()) Flags |= SBT_RTLREADING;
  if (Panel.Style() == spsOwnerDraw) Flags |= SBT_OWNERDRAW;
  TAlignment Alignment = Panel.Alignment();
  if (Panel.UseRightToLeftAlignment()) {
    if (Alignment == TAlignment::taLeftJustify) Alignment = TAlignment::taRightJustify;
    else if (Alignment == TAlignment::taRightJustify) Alignment = TAlignment::taLeftJustify;
  }
  QString Text = Panel.Text();
  if (Alignment == TAlignment::taRightJustify) Text.prepend(QStringLiteral("\t\t"));
  else if (Alignment == TAlignment::taCenter) Text.prepend(QLatin1Char('\t'));
  FWindow.SetText(Index | Flags, Text);
}

void TQ32CustomStatusBar::FlipChildren(bool) {
  const int Count = FPanels.Count();
  if (FSimplePanel || Count == 0) return;
  const int FirstWidth = FPanels[0].Width();
  int AllButLast = 0;
  for (int i = 0; i < Count - 1; ++i) AllButLast += FPanels[i].Width();
  FPanels.BeginUpdate();
  FPanels.Reverse();
  FPanels[Count - 1].SetWidth(FirstWidth);
  FPanels[0].SetWidth(width() - AllButLast);
  FPanels.EndUpdate();
  UpdatePanels(true, true);
}

bool TQ32CustomStatusBar::DoHint() {
  if (!OnHint) return false;
  OnHint(this);
  return true;
}

bool TQ32CustomStatusBar::HintAction(const QString& Hint) {
  FHint = Hint;
  if (!FAutoHint) return false;
  if (!DoHint()) {
    if (!FSimplePanel && FPanels.Count() > 0)
      FPanels[0].SetText(Hint);
    else
      SetSimpleText(Hint);
  }
  return true;
}

void TQ32CustomStatusBar::WatchHints() {
  QWidget* Window = window();
  if (FHintWindow == Window) return;
  if (FHintWindow) FHintWindow->removeEventFilter(this);
  FHintWindow = Window;
  Window->installEventFilter(this);
}

bool TQ32CustomStatusBar::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FHintWindow && Event->type() == QEvent::StatusTip)
    return HintAction(static_cast<QStatusTipEvent*>(Event)->tip());
  return QWidget::eventFilter(Watched, Event);
}

bool TQ32CustomStatusBar::event(QEvent* Event) {
  switch (Event->type()) {
    case QEvent::ParentChange:
      // The size grip depends on the window the bar is in.
      WatchHints();
      RecreateWnd();
      break;
    case QEvent::ApplicationFontChange:
      SyncToSystemFont();
      break;
    default:
      break;
  }
  return QWidget::event(Event);
}

void TQ32CustomStatusBar::paintEvent(QPaintEvent*) {
  // Texts changed since the last paint reach the window now.
  UpdatePanels(false, true);
  QPainter Painter(this);
  TCanvas Canvas(&Painter);
  FWindow.Paint(Canvas, size(), font(),
                [this](TCanvas& On, int Part, const TRect& Rect) { DrawPanel(On, Part, Rect); });
}

void TQ32CustomStatusBar::DrawPanel(TCanvas& On, int Part, const TRect& Rect) {
  // The canvas' settings are the drawing's own: they go back afterwards.
  const platform::TFont SavedFont = On.Font;
  const TBrush SavedBrush = On.Brush;
  const TPen SavedPen = On.Pen;
  On.Font = CanvasFont(font());
  On.Brush.Color = clBtnFace;
  On.Brush.Style = bsSolid;
  FCanvas = &On;
  if (OnDrawPanel && Part < FPanels.Count())
    OnDrawPanel(this, FPanels.Items(Part), Rect);
  else
    On.FillRect(Rect);
  FCanvas = nullptr;
  On.Font = SavedFont;
  On.Brush = SavedBrush;
  On.Pen = SavedPen;
}

void TQ32CustomStatusBar::resizeEvent(QResizeEvent*) {
  if (OnResize) OnResize(this);
  update();
}

void TQ32CustomStatusBar::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && FWindow.GripRect(size()).contains(Event->position().toPoint())) {
    if (QWindow* Handle = window()->windowHandle()) Handle->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
    return;
  }
  QWidget::mousePressEvent(Event);
}

}  // namespace wn
