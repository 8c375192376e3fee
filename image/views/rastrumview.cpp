#include "image/views/rastrumview.h"
#include "image/io/rvloadedpicture.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/model/rastrumproc.h"
#include "image/model/rvbits.h"
#include "image/views/rviopreviews.h"
#include "image/views/rvviewmath.h"

namespace rv {

// The transition engine's hold on the view: lock, refresh, frame paints.
class TRastrumView::TTransitionLink : public TRvTransitionView {
public:
  explicit TTransitionLink(TRastrumView* View) : FView(View) {}
  void TransitionLockUpdate() override { FView->LockUpdate(); }
  void TransitionUnlockUpdate() override { FView->UnlockUpdateEx(); }
  void TransitionRefresh() override { FView->Update(); }
  void TransitionPaint() override { FView->SchedulePaint(); }
  platform::TColor TransitionBackground() const override { return FView->GetBackground(); }

private:
  TRastrumView* FView;
};

void TRastrumView::SetDefaultResolutionFromScreen() {
  static const bool done = [] {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      RvDefaultDpiX = RvTrunc(screen->logicalDotsPerInchX());
      RvDefaultDpiY = RvTrunc(screen->logicalDotsPerInchY());
    }
    return true;
  }();
  (void)done;
}

TRastrumView::TRastrumView(QWidget* AOwner)
    : TRvView(AOwner), FBitmap(105, 105, platform::pf24bit) {
  SetDefaultResolutionFromScreen();
  RvRegisterViewCursors();
  // The input/output components show their parameters preview through us.
  RvInstallIOPreviews();
  FTransitionLink = std::make_unique<TTransitionLink>(this);
  FTransition = std::make_unique<TRvTransitionEffects>(FTransitionLink.get());
  FTransition->SetDuration(1000);

  FHBar = new QScrollBar(Qt::Horizontal, this);
  FVBar = new QScrollBar(Qt::Vertical, this);
  for (QScrollBar* bar : {FHBar, FVBar}) {
    const bool vertical = bar == FVBar;
    bar->hide();
    bar->setRange(0, 0);
    bar->setFocusPolicy(Qt::NoFocus);
    connect(bar, &QScrollBar::actionTriggered, this, [this, bar, vertical](int Action) {
      TRvScrollCode code;
      switch (Action) {
        case QAbstractSlider::SliderSingleStepSub: code = scLineUp; break;
        case QAbstractSlider::SliderSingleStepAdd: code = scLineDown; break;
        case QAbstractSlider::SliderPageStepSub: code = scPageUp; break;
        case QAbstractSlider::SliderPageStepAdd: code = scPageDown; break;
        case QAbstractSlider::SliderToMinimum: code = scTop; break;
        case QAbstractSlider::SliderToMaximum: code = scBottom; break;
        case QAbstractSlider::SliderMove: code = scTrack; break;
        default: return;
      }
      ScrollTo(vertical, code, bar->sliderPosition());
      // The bar shows where the view went, not where Qt would have stepped.
      const double scale = vertical ? FVScale : FHScale;
      bar->setSliderPosition(RvTrunc((vertical ? FViewY : FViewX) / scale));
    });
    connect(bar, &QScrollBar::sliderReleased, this, [this, bar, vertical] {
      ScrollTo(vertical, scPosition, bar->sliderPosition());
    });
  }

  FZoom = 100;
  FZZ = 1;
  FIZ = 1;
  resize(105, 105);
  FCenter = false;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    SetDPI(RvTrunc(screen->logicalDotsPerInchX()), RvTrunc(screen->logicalDotsPerInchY()));

  FSelList.push_back(std::make_unique<TRvSelectionRecord>());
  FSel = FSelList.back().get();
  FSel->Animated = (FSelectionOptions & rvsoAnimated) != 0;
  FSel->Sizeable = (FSelectionOptions & rvsoSizeable) != 0;
  FSelTimer = std::make_unique<QTimer>();
  FSelTimer->setInterval(210);
  QObject::connect(FSelTimer.get(), &QTimer::timeout, this, [this] { SelectionTimerTick(); });
  FSelTimer->start();
  FAutoScrollTimer = std::make_unique<QTimer>();
  FAutoScrollTimer->setInterval(16);
  QObject::connect(FAutoScrollTimer.get(), &QTimer::timeout, this, [this] {
    if (!FButtonDown || !AutoScroll()) {
      FAutoScrollTimer->stop();
      return;
    }
    DragTo(FDragShift, FLastMouse.x(), FLastMouse.y());
  });

  FSelMask.Allocate(FBitmap.Width(), FBitmap.Height(), 1);
  FBitmap.Canvas().Brush.Color = GetBackground();
  FBitmap.Canvas().FillRect(platform::Rect(0, 0, FBitmap.Width(), FBitmap.Height()));
  SetCursor(crRvCross3);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  Update();
}

TRastrumView::~TRastrumView() {
  FDestroying = true;
  FSelTimer->stop();
  FAutoScrollTimer->stop();
  if (platform::ScreenCursor() == crRvHand && FButtonDown) platform::SetScreenCursor(platform::crDefault);
  FTransition.reset();
  FIO.reset();
  FProc.reset();
}

// ------------------------------------------------------------ components

TRastrumIO* TRastrumView::GetIO() {
  if (!FIO) {
    FIO = std::make_unique<TRastrumIO>();
    FIO->SetAttachedRastrum(this);
    FIO->OnProgress = FOnProgress;
  }
  return FIO.get();
}

TRastrumProc* TRastrumView::GetProc() {
  if (!FProc) {
    FProc = std::make_unique<TRastrumProc>();
    FProc->SetAttachedRastrum(this);
    FProc->OnProgress = FOnProgress;
  }
  return FProc.get();
}

void TRastrumView::SetOnProgress(TRvProgressEvent Value) {
  FOnProgress = std::move(Value);
  if (FIO) FIO->OnProgress = FOnProgress;
  if (FProc) FProc->OnProgress = FOnProgress;
}

// ------------------------------------------------------------ picture

TRvMask* TRastrumView::GetAlphaChannel() {
  if (!FAlpha) {
    FAlpha = std::make_unique<TRvMask>();
    FAlpha->Allocate(FBitmap.Width(), FBitmap.Height(), 8);
    FAlpha->Fill(255);
  }
  return FAlpha.get();
}

void TRastrumView::SetAlphaChannel(TRvMask* Value) { FAlpha.reset(Value); }

void TRastrumView::RemoveAlphaChannel() { FAlpha.reset(); }

void TRastrumView::Blank() {
  ReleaseTransitionStart();
  FTransition->Stop();
  FBitmap.SetSize(1, 1);
  // Blank before Clear lays it out: the blank pixel is no picture to fit.
  FBlank = true;
  Clear();
}

void TRastrumView::Clear() {
  platform::TCanvas& canvas = FBitmap.Canvas();
  canvas.Brush.Color = GetBackground();
  canvas.Brush.Style = platform::bsSolid;
  canvas.FillRect(platform::Rect(0, 0, FBitmap.Width(), FBitmap.Height()));
  RemoveAlphaChannel();
  Update();
}

bool TRastrumView::IsEmpty() const {
  // A picture of one pixel is a picture: only the pixel Blank leaves is none.
  return FBitmap.Empty() || (FBlank && FBitmap.Width() == 1 && FBitmap.Height() == 1);
}

void TRastrumView::Assign(const TRastrumView* Source) {
  if (Source == nullptr) {
    Clear();
    return;
  }
  // Copying a view onto itself would read the rows it is rewriting.
  if (Source == this) return;
  RvCopyBitmap(&Source->FBitmap, &FBitmap);
  FAlpha.reset();
  if (Source->FAlpha) {
    FAlpha = std::make_unique<TRvMask>();
    FAlpha->Assign(Source->FAlpha.get());
  }
  TRvView::SetBackground(Source->GetBackground());
  SetDPI(Source->DpiX(), Source->DpiY());
  Update();
  ImageChange();
}

void TRastrumView::Assign(const platform::TBitmap* Source) {
  if (Source == nullptr) {
    Clear();
    return;
  }
  if (Source == &FBitmap) return;
  if (Source->PixelFormat() == platform::pf24bit || Source->PixelFormat() == platform::pf1bit) {
    RvCopyBitmap(Source, &FBitmap);
  } else {
    FBitmap.SetSize(1, 1);
    FBitmap.SetPixelFormat(platform::pf24bit);
    FBitmap.SetSize(Source->Width(), Source->Height());
    FBitmap.Canvas().Draw(0, 0, *Source);
  }
  Update();
  ImageChange();
}

void TRastrumView::TakePicture(TRvLoadedPicture& Source) {
  FBitmap.Assign(*Source.GetBitmap());
  FAlpha = Source.TakeAlphaChannel();
  SetDPI(Source.DpiX(), Source.DpiY());
  Update();
  ImageChange();
}

void TRastrumView::SetBackground(platform::TColor Value) {
  TRvView::SetBackground(Value);
  Update();
  // A new background brings no picture: a blank view stays blank.
  FBackgroundChange = true;
  ImageChange();
  FBackgroundChange = false;
}

void TRastrumView::ImageChange() {
  // The first picture after Blank: one of a single pixel was laid out as
  // the blank one (at 100 percent) and is laid out again as a picture.
  if (!FBackgroundChange && std::exchange(FBlank, false) && FBitmap.Width() == 1 && FBitmap.Height() == 1) Update();
  if (OnImageChange) OnImageChange(this);
}

// ------------------------------------------------------------ geometry

int TRastrumView::ExtentX() const {
  if (!HasParentWindow()) return 50;
  const int bar = FVBarShown ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FVBar) : 0;
  return std::max(0, ClientWidth() - bar);
}

int TRastrumView::ExtentY() const {
  if (!HasParentWindow()) return 50;
  const int bar = FHBarShown ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FHBar) : 0;
  return std::max(0, ClientHeight() - bar);
}

int TRastrumView::ScreenToBitmapX(int X) const { return RvTrunc((X - FOffX) * FIZ + FSrcX); }
int TRastrumView::ScreenToBitmapY(int Y) const { return RvTrunc((Y - FOffY) * FIZ + FSrcY); }

int TRastrumView::BitmapToScreenX(int X) const {
  return RvNearest((X + RvNearest(-FViewX * FIZ)) * FZZ + FOffX);
}

int TRastrumView::BitmapToScreenY(int Y) const {
  return RvNearest((Y + RvNearest(-FViewY * FIZ)) * FZZ + FOffY);
}

void TRastrumView::GetMaxViewXY(int& MaxX, int& MaxY) const {
  const int zw = RvTrunc((FBitmap.Width() + FExtra) * FZZ);
  const int zh = RvTrunc((FBitmap.Height() + FExtra) * FZZ);
  MaxX = MaxY = 0;
  if (zw < 1 || zh < 1) return;
  MaxX = zw - ExtentX();
  MaxY = zh - ExtentY();
  if (MaxX < 0 || ScreenToBitmapX(MaxX) == 0) MaxX = 0;
  if (MaxY < 0 || ScreenToBitmapY(MaxY) == 0) MaxY = 0;
  if (zw <= width() && zh <= height()) MaxX = MaxY = 0;
}

double TRastrumView::FitZoom() const {
  const int bw = FBitmap.Width(), bh = FBitmap.Height();
  // A picture without pixels fits at any zoom: answer 1:1 rather than divide by 0.
  if (bw <= 0 || bh <= 0) return 100;
  int bx, by;
  RvBackgroundBorder(FBackgroundStyle, bx, by);
  return std::min((width() - 2 * bx) / (bw / 100.0), (height() - 2 * by) / (bh / 100.0));
}

double TRastrumView::AutoZoom(int W, int H, int CW, int CH, bool Stretch, bool Shrink) const {
  if (W == 0 || H == 0 || CW == 0 || CH == 0) return 100;
  const bool widthLimits = static_cast<double>(W) / CW > static_cast<double>(H) / CH;
  const int size = widthLimits ? W : H, client = widthLimits ? CW : CH;
  if ((size > client && Shrink) || (size <= client && Stretch)) return FitZoom();
  return 100;
}

void TRastrumView::ArmDelayedFilter() {
  if (DelayZoomFilter && FZoomFilter != rfNone && FZoom != 100) FDelayCount = 2;
}

void TRastrumView::SetZoom(double Value) {
  if (Value <= 0 || Value == FZoom || !std::isfinite(Value)) return;
  ArmCountdowns();
  LockUpdate();
  const double f = Value / 100;
  const int hx = static_cast<int>(static_cast<unsigned>(ExtentX()) >> 1);
  const int hy = static_cast<int>(static_cast<unsigned>(ExtentY()) >> 1);
  const int cx = RvNearest((FViewX + hx - FOffX) * FIZ);
  const int cy = RvNearest((FViewY + hy - FOffY) * FIZ);
  const int nx = RvTrunc(cx * f - hx);
  const int ny = RvTrunc(cy * f - hy);
  // The limits of the zoom still in force: the next Update clamps again.
  int maxX, maxY;
  GetMaxViewXY(maxX, maxY);
  FViewX = nx > maxX ? maxX : (nx < 0 ? 0 : nx);
  FViewY = ny > maxY ? maxY : (ny < 0 ? 0 : ny);
  FZoom = Value;
  FZZ = Value / 100;
  FIZ = 100 / Value;
  Update();
  UnlockUpdateEx();
  PaintRequested();
  LockUpdate();
  Update();
  UnlockUpdateEx();
  UpdateSelectionTimer();
  DoViewChange(1);
}

void TRastrumView::ZoomAt(int X, int Y, double Value) {
  LockUpdate();
  const int bx = ScreenToBitmapX(X), by = ScreenToBitmapY(Y);
  SetZoom(Value);
  const double f = FZoom / 100;
  SetViewXY(RvTrunc(bx * f - ExtentX() / 2), RvTrunc(by * f - ExtentY() / 2));
  UnlockUpdate();
}

void TRastrumView::Fit() {
  if (FBitmap.Width() != 0 && FBitmap.Height() != 0) SetZoom(FitZoom());
}

void TRastrumView::FitToWidth() {
  const int bw = FBitmap.Width();
  if (bw == 0 || FBitmap.Height() == 0) return;
  int bx, by;
  RvBackgroundBorder(FBackgroundStyle, bx, by);
  LockUpdate();
  SetZoom((width() - 2 * bx) / (bw / 100.0));
  // Again with the client width once the scroll bars have adapted.
  SetZoom(ExtentX() / (bw / 100.0));
  UnlockUpdate();
}

void TRastrumView::FitToHeight() {
  const int bh = FBitmap.Height();
  if (FBitmap.Width() == 0 || bh == 0) return;
  int bx, by;
  RvBackgroundBorder(FBackgroundStyle, bx, by);
  LockUpdate();
  SetZoom((height() - 2 * by) / (bh / 100.0));
  SetZoom(ExtentY() / (bh / 100.0));
  UnlockUpdate();
}

void TRastrumView::ViewMoved() {
  FDirty = true;
  FFullRepaint = true;
  PaintRequested();
}

void TRastrumView::PaintRequested() {
  // The paint comes later, but the visible rectangle that the coordinate
  // mapping reads must follow the move at once.
  ComputeVisibleRect();
  SchedulePaint();
}

void TRastrumView::ArmCountdowns() {
  ArmDelayedFilter();
  FFastCount = 2;
}

void TRastrumView::ViewChanged(bool Horizontal, bool Vertical) {
  ViewMoved();
  DoViewChange(0);
  UpdateSelectionTimer();
  if (Horizontal && (FScrollBars == ssHorizontal || FScrollBars == ssBoth)) {
    const QSignalBlocker block(FHBar);
    FHBar->setValue(RvTrunc(FViewX / FHScale));
  }
  if (Vertical && (FScrollBars == ssVertical || FScrollBars == ssBoth)) {
    const QSignalBlocker block(FVBar);
    FVBar->setValue(RvTrunc(FViewY / FVScale));
  }
}

void TRastrumView::SetViewXY(int X, int Y) {
  if (X == FViewX && Y == FViewY) return;
  int maxX, maxY;
  GetMaxViewXY(maxX, maxY);
  X = std::clamp(X, 0, std::max(maxX, 0));
  Y = std::clamp(Y, 0, std::max(maxY, 0));
  if (X == FViewX && Y == FViewY) return;
  ArmCountdowns();
  FViewX = X;
  FViewY = Y;
  ViewChanged(true, true);
}

// One axis acts whenever the value asked for differs, even when the clamp
// leaves the view where it was.
void TRastrumView::SetViewX(int X) {
  if (X == FViewX) return;
  ArmCountdowns();
  int maxX, maxY;
  GetMaxViewXY(maxX, maxY);
  FViewX = std::clamp(X, 0, std::max(maxX, 0));
  ViewChanged(true, false);
}

void TRastrumView::SetViewY(int Y) {
  if (Y == FViewY) return;
  ArmCountdowns();
  int maxX, maxY;
  GetMaxViewXY(maxX, maxY);
  FViewY = std::clamp(Y, 0, std::max(maxY, 0));
  ViewChanged(false, true);
}

void TRastrumView::Update() {
  if (FDestroying) return;
  const int bw = FBitmap.Width(), bh = FBitmap.Height();
  if ((AutoStretch || AutoShrink || AutoFit) && bw != 0 && bh != 0) {
    int bx, by;
    RvBackgroundBorder(FBackgroundStyle, bx, by);
    if (IsEmpty())
      FZoom = 100;
    else
      FZoom = AutoZoom(bw, bh, ExtentX() - 2 * bx, ExtentY() - 2 * by, AutoStretch || AutoFit,
                       AutoShrink || AutoFit);
    if (FZoom < 1.0) FZoom = 1.0;
    FZZ = FZoom / 100;
    FIZ = 100 / FZoom;
    DoViewChange(1);
  }
  if (bw != FLastBitmapW || bh != FLastBitmapH) {
    FLastBitmapW = bw;
    FLastBitmapH = bh;
    if (FSelected) Deselect();
    FSelMask.Allocate(bw, bh, 1);
    if (FAlpha && (FAlpha->Width() != bw || FAlpha->Height() != bh)) {
      FAlpha->Allocate(bw, bh, 8);
      FAlpha->Fill(255);
    }
  }
  const int ex = ExtentX(), ey = ExtentY();
  int maxX, maxY;
  GetMaxViewXY(maxX, maxY);
  bool moved = false;
  if (FViewX > maxX) {
    FViewX = std::max(maxX, 0);
    moved = true;
  }
  if (FViewY > maxY) {
    FViewY = std::max(maxY, 0);
    moved = true;
  }
  if (moved) DoViewChange(0);
  if (HasParentWindow()) {
    try {
      UpdateScrollBars(maxX, maxY);
    } catch (...) {
      // A failure while the bars are set up leaves them as they were.
    }
  }
  if ((ExtentX() != ex || ExtentY() != ey) && FUpdateDepth < 4) {
    ++FUpdateDepth;
    Update();
    --FUpdateDepth;
    return;
  }
  FZoomW = RvNearest(bw * FZZ);
  FZoomH = RvNearest(bh * FZZ);
  FOffX = FOffY = 0;
  FDrawW = std::min(FZoomW, ExtentX());
  FDrawH = std::min(FZoomH, ExtentY());
  if (FCenter) {
    if (ExtentX() > FDrawW) FOffX = static_cast<int>(static_cast<unsigned>(ExtentX() - FDrawW) >> 1);
    if (ExtentY() > FDrawH) FOffY = static_cast<int>(static_cast<unsigned>(ExtentY() - FDrawH) >> 1);
  }
  FDirty = true;
  FFullRepaint = true;
  FRenderAll = true;
  if (HasParentWindow() && !FNoInvalidate && FInvalidateOnUpdate) Invalidate();
}

void TRastrumView::SetBarShown(bool Horizontal, bool Shown, bool Enabled) {
  (Horizontal ? FHBarShown : FVBarShown) = Shown;
  QScrollBar* bar = Horizontal ? FHBar : FVBar;
  bar->setEnabled(Enabled);
  bar->setVisible(Shown);
}

void TRastrumView::UpdateScrollBars(int MaxX, int MaxY) {
  // The platform's bar runs 0..65535 with the page inside that range; Qt's
  // range leaves the page out, so its maximum is 65536 - page.
  auto setUp = [](QScrollBar* Bar, int Extent, int Max, int View, double& Scale) {
    Scale = (Extent + static_cast<double>(Max)) / 65536;
    const int page = std::clamp(RvTrunc(Extent / Scale), 1, 65536);
    const QSignalBlocker block(Bar);
    Bar->setRange(0, 65536 - page);
    Bar->setPageStep(page);
    Bar->setSingleStep(1);
    Bar->setValue(RvTrunc(View / Scale));
  };
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth) {
    if (MaxX > 0) {
      SetBarShown(true, true, true);
      setUp(FHBar, ExtentX(), MaxX, FViewX, FHScale);
    } else {
      SetBarShown(true, ScrollBarsAlwaysVisible, false);
    }
  }
  if (FScrollBars == ssVertical || FScrollBars == ssBoth) {
    if (MaxY > 0) {
      SetBarShown(false, true, true);
      setUp(FVBar, ExtentY(), MaxY, FViewY, FVScale);
    } else {
      SetBarShown(false, ScrollBarsAlwaysVisible, false);
    }
  }
  LayoutScrollBars();
}

void TRastrumView::LayoutScrollBars() {
  const QRect c = contentsRect();
  const int ev = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FVBar);
  const int eh = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FHBar);
  FVBar->setGeometry(c.right() + 1 - ev, c.top(), ev, std::max(0, c.height() - (FHBarShown ? eh : 0)));
  FHBar->setGeometry(c.left(), c.bottom() + 1 - eh, std::max(0, c.width() - (FVBarShown ? ev : 0)), eh);
}

void TRastrumView::SetScrollBars(TScrollStyle Value) {
  FScrollBars = Value;
  if (Value != ssVertical && Value != ssBoth) SetBarShown(false, false, false);
  if (Value != ssHorizontal && Value != ssBoth) SetBarShown(true, false, false);
  Update();
}

void TRastrumView::ScrollTo(bool Vertical, TRvScrollCode Code, int Position) {
  const TRvScrollBarParams& params = Vertical ? FVParams : FHParams;
  const int view = Vertical ? FViewY : FViewX;
  const int extent = Vertical ? ExtentY() : ExtentX();
  const double scale = Vertical ? FVScale : FHScale;
  const int z = std::max(RvTrunc(FZZ), 1);
  int maxX, maxY;
  GetMaxViewXY(maxX, maxY);
  int next = view;
  switch (Code) {
    case scLineUp: next = view - (params.LineStep == -1 ? z : z * params.LineStep); break;
    case scLineDown: next = view + (params.LineStep == -1 ? z : z * params.LineStep); break;
    case scPageUp: next = params.PageStep == -1 ? view - extent : view - z * params.PageStep; break;
    case scPageDown: next = params.PageStep == -1 ? view + extent : view + z * params.PageStep; break;
    case scPosition: next = RvTrunc(Position * scale); break;
    case scTrack:
      if (params.Tracking) next = RvTrunc(Position * scale);
      break;
    case scTop: next = 0; break;
    case scBottom: next = Vertical ? maxY : maxX; break;
    default: break;
  }
  if (Vertical)
    SetViewY(next);
  else
    SetViewX(next);
}

void TRastrumView::HScroll(TRvScrollCode Code, int Position) { ScrollTo(false, Code, Position); }
void TRastrumView::VScroll(TRvScrollCode Code, int Position) { ScrollTo(true, Code, Position); }

void TRastrumView::MouseWheel(int Delta, int X, int Y) {
  if (FWheelParams.Action == 0) return;
  // A touchpad reports parts of a notch: they count once they make a whole one.
  FWheelRest += Delta;
  while (std::abs(FWheelRest) >= 120) {
    const bool away = FWheelRest > 0;
    FWheelRest -= away ? 120 : -120;
    int d = away ? -1 : 1;
    if (FWheelParams.InvertDirection) d = -d;
    const int value = FWheelParams.Value;
    if (FWheelParams.Action == 1) {
      if (FWheelParams.Variation == 0)
        SetViewY(FViewY + std::max(RvTrunc(FZZ), 1) * value * d);
      else
        SetViewY(FViewY + d * std::max(RvNearest(ExtentY() * value / 100.0), 1));
    } else if (FWheelParams.Action == 2) {
      const double zoom = FWheelParams.Variation == 0
                              ? FZoom + value * d
                              : FZoom + d * std::max(RvNearest(value * FZoom / 100), 1);
      if (!FWheelParams.ZoomPosition)
        SetZoom(zoom);
      else
        ZoomAt(X, Y, zoom);
    }
  }
}

// ------------------------------------------------------------ properties

void TRastrumView::SetZoomFilter(TResampleFilter Value) {
  FRestoreFilter = Value;
  if (Value == FZoomFilter) return;
  FZoomFilter = Value;
  Update();
}

void TRastrumView::SetCenter(bool Value) {
  if (Value == FCenter) return;
  FCenter = Value;
  Update();
}

void TRastrumView::SetBackgroundStyle(TRvBackgroundStyle Value) {
  FBackgroundStyle = Value;
  Invalidate();
  Update();
}

void TRastrumView::SetEnableAlphaChannel(bool Value) {
  FEnableAlpha = Value;
  Update();
}

void TRastrumView::SetCursor(platform::TCursor Value) {
  FCursor = Value;
  SetShownCursor(Value);
}

void TRastrumView::SetShownCursor(platform::TCursor Value) {
  FShownCursor = Value;
  platform::SetControlCursor(this, Value);
}

void TRastrumView::DoViewChange(int Change) {
  if (OnViewChange) OnViewChange(this, Change);
}

void TRastrumView::Invalidate() { QWidget::update(); }

void TRastrumView::SchedulePaint() { QWidget::update(); }

// ------------------------------------------------------------ transitions

void TRastrumView::PrepareTransition() {
  // Held already: the screen still shows the captured picture, which stays
  // the start whatever a failed load left in the view.
  if (FHoldingStart || ExtentX() == 0 || ExtentY() == 0) return;
  FTransition->SetSizes(ExtentX(), ExtentY());
  DrawImageTo(FTransition->StartImage());
  // A paint forced between the load and RunTransition (a progress bar that
  // repaints at once flushes the whole window) would show the new picture
  // for one frame before the transition goes back to the old one.
  FHoldingStart = true;
  LockUpdate();
  const unsigned serial = ++FHoldSerial;
  QMetaObject::invokeMethod(
      this,
      [this, serial] {
        if (serial == FHoldSerial) ReleaseTransitionStart();
      },
      Qt::QueuedConnection);
}

void TRastrumView::ReleaseTransitionStart() {
  if (!FHoldingStart) return;
  FHoldingStart = false;
  UnlockUpdateEx();
  // Without a transition taking over, the present picture is painted.
  if (!FTransition->Running()) SchedulePaint();
}

void TRastrumView::RunTransition(TRvTransitionType Effect, int Duration) {
  if (ExtentX() == 0 || ExtentY() == 0) {
    ReleaseTransitionStart();
    return;
  }
  FTransition->SetTransitionType(Effect);
  FTransition->SetDuration(Duration);
  // The end picture is drawn with the first frame (see PaintLocked), not in
  // the turn that took the new picture: that turn stays short. Unsized
  // snapshots (no PrepareTransition since a stop) get it here.
  const platform::TBitmap& End = FTransition->EndImage();
  FEndPending = End.Width() == ExtentX() && End.Height() == ExtentY();
  if (!FEndPending) DrawImageTo(FTransition->EndImage());
  // The transition takes its own lock before the hold lets go of the view:
  // no paint of the new picture comes between.
  FTransition->Start(true);
  ReleaseTransitionStart();
}

void TRastrumView::DrawPendingTransitionEnd() {
  if (!FEndPending) return;
  FEndPending = false;
  if (FTransition->Running()) DrawImageTo(FTransition->EndImage());
}

// ------------------------------------------------------------ Qt events

QPoint TRastrumView::ClientPos(const QPointF& WidgetPos) const {
  return QPoint(static_cast<int>(std::floor(WidgetPos.x())) - FrameWidth(),
                static_cast<int>(std::floor(WidgetPos.y())) - FrameWidth());
}

void TRastrumView::resizeEvent(QResizeEvent* Event) {
  TRvView::resizeEvent(Event);
  // The captured picture no longer fits the view.
  ReleaseTransitionStart();
  FTransition->Stop();
  LayoutScrollBars();
  Update();
}

void TRastrumView::mousePressEvent(QMouseEvent* Event) {
  platform::TMouseButton button;
  if (!platform::MouseButtonOf(Event->button(), button)) return TRvView::mousePressEvent(Event);
  const QPoint p = ClientPos(Event->position());
  MouseDown(button, platform::ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
}

void TRastrumView::mouseDoubleClickEvent(QMouseEvent* Event) {
  platform::TMouseButton button;
  if (!platform::MouseButtonOf(Event->button(), button)) return TRvView::mouseDoubleClickEvent(Event);
  const QPoint p = ClientPos(Event->position());
  // Qt gives the second press of a double click as this event alone: it is
  // a press first (a polygon takes its point), then the double click.
  MouseDown(button, platform::ShiftStateOf(Event->modifiers(), Event->buttons()) | platform::ssDouble,
            p.x(), p.y());
  DblClick();
}

void TRastrumView::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint p = ClientPos(Event->position());
  MouseMove(platform::ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
}

void TRastrumView::mouseReleaseEvent(QMouseEvent* Event) {
  platform::TMouseButton button;
  if (!platform::MouseButtonOf(Event->button(), button)) return TRvView::mouseReleaseEvent(Event);
  const QPoint p = ClientPos(Event->position());
  MouseUp(button, platform::ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
  if (button == platform::mbLeft && rect().contains(Event->position().toPoint()) && OnClick) OnClick(this);
}

void TRastrumView::wheelEvent(QWheelEvent* Event) {
  const int delta = Event->angleDelta().y();
  if (FWheelParams.Action == 0 || delta == 0) {
    Event->ignore();
    return;
  }
  const QPoint p = ClientPos(Event->position());
  MouseWheel(delta, p.x(), p.y());
  Event->accept();
}

void TRastrumView::keyPressEvent(QKeyEvent* Event) {
  int key = Event->key();
  const platform::TShiftState shift = platform::ShiftStateOf(Event->modifiers(), Qt::NoButton);
  KeyDown(key, shift);
  switch (Event->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
      // The view wants these keys: they run its key-up handling at once.
      int again = Event->key();
      KeyUp(again, shift);
      Event->accept();
      return;
    }
    default: break;
  }
  if (key == 0) Event->accept();
  else TRvView::keyPressEvent(Event);
}

void TRastrumView::keyReleaseEvent(QKeyEvent* Event) {
  int key = Event->key();
  KeyUp(key, platform::ShiftStateOf(Event->modifiers(), Qt::NoButton));
  if (key == 0) Event->accept();
  else TRvView::keyReleaseEvent(Event);
}

void TRastrumView::focusInEvent(QFocusEvent* Event) {
  TRvView::focusInEvent(Event);
  Invalidate();
}

void TRastrumView::focusOutEvent(QFocusEvent* Event) {
  TRvView::focusOutEvent(Event);
  Invalidate();
}

void TRastrumView::KeyDown(int& Key, platform::TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
  if ((Shift & platform::ssShift) != 0) {
    if (FCursor == crRvCross3) SetCursor(crRvCross3Add);
    else if (FCursor == crRvCross2) SetCursor(crRvCross2Add);
  }
}

void TRastrumView::KeyUp(int& Key, platform::TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, Shift);
  if ((Shift & platform::ssShift) == 0) {
    if (FCursor == crRvCross3Add) SetCursor(crRvCross3);
    else if (FCursor == crRvCross2Add) SetCursor(crRvCross2);
  }
}

} // namespace rv
