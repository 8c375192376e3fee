#include "image/views/rvview.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

namespace rv {

TRvView::TRvView(QWidget* AOwner) : QWidget(AOwner) {
  // The views paint every pixel of their client area themselves.
  setAttribute(Qt::WA_OpaquePaintEvent);
  CreateParams();
}

TRvView::~TRvView() {
  // Every component still registered hears of the end exactly once; the
  // record leaves the list before its call.
  while (!FCallbacks.empty()) {
    TCallbackRecord record = std::move(FCallbacks.front());
    FCallbacks.erase(FCallbacks.begin());
    if (record.Callback) record.Callback(this, true);
  }
}

void TRvView::SetBorderStyle(TBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  RecreateWnd();
}

void TRvView::SetCtl3D(bool Value) {
  if (Value == FCtl3D) return;
  FCtl3D = Value;
  FParentCtl3D = false;
  RecreateWnd();
}

void TRvView::CreateParams() {
  FFrameWidth = FBorderStyle == bsSingle ? (FCtl3D ? 2 : 1) : 0;
  setContentsMargins(FFrameWidth, FFrameWidth, FFrameWidth, FFrameWidth);
}

void TRvView::RecreateWnd() {
  CreateParams();
  QWidget::update();
}

void TRvView::SetBackground(platform::TColor Value) { FBackground = Value; }

int TRvView::LockUpdate() { return ++FUpdateLock; }

int TRvView::UnlockUpdate() {
  if (FUpdateLock > 0) --FUpdateLock;
  if (FUpdateLock == 0) Update();
  return FUpdateLock;
}

int TRvView::UnlockUpdateEx() {
  if (FUpdateLock > 0) --FUpdateLock;
  return FUpdateLock;
}

void TRvView::SetDpiX(int Value) {
  if (Value != 0) FDpiX = Value;
}

void TRvView::SetDpiY(int Value) {
  if (Value != 0) FDpiY = Value;
}

void TRvView::SetDPI(int X, int Y) {
  SetDpiX(X);
  SetDpiY(Y);
}

void TRvView::Update() { QWidget::update(); }

int TRvView::RegisterBitmapChangeEvent(TRvBitmapChangeEvent Callback) {
  const int handle = FNextHandle++;
  FCallbacks.push_back({handle, std::move(Callback)});
  return handle;
}

void TRvView::RemoveBitmapChangeEvent(int Handle) {
  if (Handle <= RvNoBitmapChangeEvent) return;
  auto it = std::find_if(FCallbacks.begin(), FCallbacks.end(),
                         [Handle](const TCallbackRecord& r) { return r.Handle == Handle; });
  if (it != FCallbacks.end()) FCallbacks.erase(it);
}

void TRvView::CallBitmapChangeEvents() {
  // A callback may register or remove others: walk a snapshot of the
  // handles and call only those still registered.
  std::vector<int> handles;
  handles.reserve(FCallbacks.size());
  for (const auto& r : FCallbacks) handles.push_back(r.Handle);
  for (int handle : handles) {
    auto it = std::find_if(FCallbacks.begin(), FCallbacks.end(),
                           [handle](const TCallbackRecord& r) { return r.Handle == handle; });
    if (it == FCallbacks.end() || !it->Callback) continue;
    TRvBitmapChangeEvent callback = it->Callback;
    callback(this, false);
  }
}

int TRvView::ClientWidth() const { return std::max(0, contentsRect().width()); }
int TRvView::ClientHeight() const { return std::max(0, contentsRect().height()); }

void TRvView::Paint() {
  platform::TCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->Brush.Color = FBackground;
  canvas->Brush.Style = platform::bsSolid;
  canvas->FillRect(platform::Rect(0, 0, ClientWidth(), ClientHeight()));
}

void TRvView::paintEvent(QPaintEvent* Event) {
  QPainter painter(this);
  if (FFrameWidth > 0) {
    platform::TCanvas frame(&painter);
    platform::TRect r = platform::Rect(0, 0, width(), height());
    if (FFrameWidth == 2) {
      platform::DrawEdge(frame, r, platform::EDGE_SUNKEN, platform::BF_RECT);
    } else {
      frame.Brush.Color = platform::clWindowFrame;
      frame.FrameRect(r);
    }
  }
  const QRect clip = contentsRect().intersected(Event->rect());
  painter.setClipRect(clip);
  painter.translate(FFrameWidth, FFrameWidth);
  platform::TCanvas canvas(&painter);
  FCanvas = &canvas;
  FPaintClip = platform::Bounds(clip.x() - FFrameWidth, clip.y() - FFrameWidth, clip.width(),
                                clip.height());
  // Painting never stops on a failure: it is logged and the next paint
  // starts afresh.
  try {
    if (FUpdateLock == 0)
      Paint();
    else
      PaintLocked();
  } catch (const std::exception& e) {
    qDebug("[Paint] %s\r\n", e.what());
  } catch (...) {
    // Whatever was thrown, it must not cross Qt's event dispatch.
    qDebug("[Paint] unknown failure\r\n");
  }
  FCanvas = nullptr;
  FPaintClip = {};
}

void TRvView::enterEvent(QEnterEvent* Event) {
  QWidget::enterEvent(Event);
  if (OnMouseEnter) OnMouseEnter(this);
}

void TRvView::leaveEvent(QEvent* Event) {
  QWidget::leaveEvent(Event);
  if (OnMouseLeave) OnMouseLeave(this);
}

} // namespace rv
