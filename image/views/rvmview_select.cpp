// Selection, hit tests, mouse, keyboard, wheel and play mode of the
// thumbnail view.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>

#include "image/views/rvmview.h"

namespace rv {

// ------------------------------------------------------------ selection core

bool TRastrumMView::IsSelected(int Index) const {
  if (Index == FSelectedImage && Index >= 0) return true;
  return FEnableMultiSelect && std::find(FMultiSelected.begin(), FMultiSelected.end(), Index) != FMultiSelected.end();
}

void TRastrumMView::ReleaseCurrent() {
  // The application may have drawn on the lent bitmap: its pixels go back.
  if (FCurrentBitmap != nullptr) FStore->ReleaseBitmap(FCurrentBitmap, true);
  FCurrentBitmap = nullptr;
  if (TImageRecord* r = Record(FSelectedImage)) DropScaledCopy(*r);
}

void TRastrumMView::SetSelectedInternal(int Index) {
  if (FPlaying || Index < 0 || Index >= ImageCount()) return;
  ReleaseCurrent();
  if (FEnableMultiSelect) {
    if (!FMultiSelecting) {
      FMultiSelected.assign(1, Index);
    } else if (!FSelectingBatch) {
      auto it = std::find(FMultiSelected.begin(), FMultiSelected.end(), Index);
      if (it != FMultiSelected.end()) {
        FMultiSelected.erase(it);
        if (!FKeepOnToggle) {
          FSelectedImage = -1;
          return;
        }
      }
      FMultiSelected.push_back(Index);
    } else {
      FMultiSelected.push_back(Index);
    }
  }
  if (FSelectingBatch || FAddingRange) {
    FSelectedImage = FSelectingBatch ? -1 : Index;
    return;
  }
  FSelectedImage = Index;
  if (TImageRecord* r = Record(Index)) DropScaledCopy(*r);
  TakeCurrentBitmap();
}

void TRastrumMView::ClearSelection() {
  ReleaseCurrent();
  FSelectedImage = -1;
  if (FEnableMultiSelect) FMultiSelected.clear();
}

void TRastrumMView::SetSelectedImage(int Index) {
  if (FPlaying) return;
  SetSelectedInternal(Index);
  if (FSelectingBatch) return;
  Update();
  if (OnImageSelect) OnImageSelect(this, FSelectedImage);
}

void TRastrumMView::DeselectNU() {
  ClearSelection();
  Update();
}

void TRastrumMView::BeginSelectImages() {
  ClearSelection();
  FSelectingBatch = true;
  FMultiSelecting = true;
}

void TRastrumMView::EndSelectImages() {
  FSelectingBatch = false;
  FMultiSelecting = false;
  // A batch that selected nothing leaves no current image.
  if (!FMultiSelected.empty()) {
    FSelectedImage = FMultiSelected.back();
    TakeCurrentBitmap();
  }
  Update();
}

int TRastrumMView::MultiSelectedImages(int I) const {
  if (I < 0 || I >= MultiSelectedImagesCount()) return -1;
  return FMultiSelected[static_cast<std::size_t>(I)];
}

// ------------------------------------------------------------ hit tests

int TRastrumMView::ImageAtGridPos(int Row, int Col) const {
  if (Row < 0 || Col < 0) return -1;
  const std::int64_t index = static_cast<std::int64_t>(Col) + static_cast<std::int64_t>(Row) * Columns();
  return index < ImageCount() ? static_cast<int>(index) : -1;
}

int TRastrumMView::ImageAtPos(int X, int Y) const {
  const int stepX = FThumbWidth + FHorizBorder, stepY = FThumbHeight + FVertBorder;
  if (stepX <= 0 || stepY <= 0) return -1;
  const int index = ImageAtGridPos((Y + FViewY) / stepY, (X + FViewX) / stepX);
  const TImageRecord* r = Record(index);
  if (r == nullptr) return -1;
  const int cx = r->X - FViewX, cy = r->Y - FViewY;
  return (cx <= X && X <= cx + FThumbWidth - 1 && cy <= Y && Y <= cy + FThumbHeight) ? index : -1;
}

int TRastrumMView::ImageVisibility(int Index) const {
  const TImageRecord* r = Record(Index);
  if (r == nullptr) return 0;
  const int x1 = r->X - FViewX, y1 = r->Y - FViewY;
  const int x2 = x1 + FThumbWidth - 1, y2 = y1 + FThumbHeight - 1;
  const int cw = ClientWidth(), ch = ClientHeight();
  if (x2 < 0 || y2 < 0 || x1 > cw - 1 || y1 > ch - 1) return 0;
  return (x1 >= 0 && y1 >= 0 && x2 <= cw - 1 && y2 <= ch - 1) ? 2 : 1;
}

bool TRastrumMView::IsImageVisible(int Index) const { return ImageVisibility(Index) != 0; }

// ------------------------------------------------------------ mouse

void TRastrumMView::SelectAt(int X, int Y, platform::TShiftState Shift) {
  const bool savedMulti = FMultiSelecting;
  if (Shift & (platform::ssShift | platform::ssCtrl)) FMultiSelecting = true;
  const int clicked = ImageAtPos(X, Y);
  if (clicked < 0 || (clicked == FSelectedImage && (!FMultiSelecting || !FEnableMultiSelect))) {
    FMultiSelecting = savedMulti;
    return;
  }
  if (Shift & platform::ssShift) {
    const int current = FSelectedImage;
    // The images in between join the selection without becoming current
    // one by one, which would read every one of them.
    FAddingRange = true;
    auto inList = [this](int I) {
      return std::find(FMultiSelected.begin(), FMultiSelected.end(), I) != FMultiSelected.end();
    };
    if (MultiSelectionOptions & rvmoRegion) {
      const int r1 = std::min(ImageRow(current), ImageRow(clicked)), r2 = std::max(ImageRow(current), ImageRow(clicked));
      const int c1 = std::min(ImageCol(current), ImageCol(clicked)), c2 = std::max(ImageCol(current), ImageCol(clicked));
      for (int r = r1; r <= r2; ++r)
        for (int c = c1; c <= c2; ++c) {
          const int i = ImageAtGridPos(r, c);
          if (i >= 0 && i != current && i != clicked && !inList(i)) SetSelectedInternal(i);
        }
    } else {
      const int step = clicked > current ? 1 : -1;
      for (int i = current + step; i != clicked; i += step)
        if (!inList(i)) SetSelectedInternal(i);
    }
    FAddingRange = false;
  }
  SetSelectedInternal(clicked);
  if (FVisibleSelection) Update();
  if (OnImageSelect) OnImageSelect(this, FSelectedImage);
  CallBitmapChangeEvents();
  FMultiSelecting = savedMulti;
}

void TRastrumMView::MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) {
  (void)Button;
  (void)Shift;
  if (FSkipMouseDown) {
    FSkipMouseDown = false;
    return;
  }
  if (focusPolicy() != Qt::NoFocus && isEnabled()) setFocus(Qt::MouseFocusReason);
  FDownX = X;
  FDownY = Y;
  FDownViewX = FViewX;
  FDownViewY = FViewY;
  FDownImage = FLastDragImage = ImageAtPos(X, Y);
}

void TRastrumMView::MouseMove(platform::TShiftState Shift, int X, int Y) {
  (void)Shift;
  if (!FMouseCaptured) return;
  if ((FMouseInteract & mmiSelect) && FEnableMultiSelect) {
    const int image = ImageAtPos(X, Y);
    if (image != FLastDragImage) {
      FLastDragImage = image;
      const int start = FDownImage < 0 ? 0 : FDownImage;
      const bool keep = FKeepOnToggle, multi = FMultiSelecting;
      FKeepOnToggle = true;
      FMultiSelecting = false;
      ClearSelection();
      SetSelectedInternal(start);
      FMultiSelecting = multi;
      SelectAt(X, Y, platform::ssShift);
      FKeepOnToggle = keep;
    }
  }
  if (FMouseInteract & mmiScroll) SetViewXY(FDownViewX - (X - FDownX), FDownViewY - (Y - FDownY));
}

void TRastrumMView::MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) {
  if (Button != platform::mbLeft || FPlaying) return;
  if (FMouseInteract & mmiSelect) SelectAt(X, Y, Shift);
  if (FMouseInteract & mmiScroll) SetViewXY(FDownViewX - (X - FDownX), FDownViewY - (Y - FDownY));
}

void TRastrumMView::MouseWheel(int Delta) {
  const int step = FThumbHeight + FVertBorder;
  SetViewY(FViewY + (Delta <= 0 ? step : -step));
}

void TRastrumMView::mousePressEvent(QMouseEvent* Event) {
  const QPoint p = Event->position().toPoint() - contentsRect().topLeft();
  platform::TMouseButton button;
  if (!platform::MouseButtonOf(Event->button(), button)) return;
  if (button == platform::mbLeft) FMouseCaptured = true;
  MouseDown(button, platform::ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
}

void TRastrumMView::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint p = Event->position().toPoint() - contentsRect().topLeft();
  MouseMove(platform::ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
}

void TRastrumMView::mouseReleaseEvent(QMouseEvent* Event) {
  const QPoint p = Event->position().toPoint() - contentsRect().topLeft();
  platform::TMouseButton button;
  if (!platform::MouseButtonOf(Event->button(), button)) return;
  if (button == platform::mbLeft) FMouseCaptured = false;
  MouseUp(button, platform::ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
}

void TRastrumMView::mouseDoubleClickEvent(QMouseEvent* Event) {
  FSkipMouseDown = true;
  if (OnDblClick) OnDblClick(this);
  TRvView::mouseDoubleClickEvent(Event);
}

void TRastrumMView::wheelEvent(QWheelEvent* Event) {
  const int delta = Event->angleDelta().y();
  Event->accept();
  // A horizontal wheel says nothing about this axis; fine-grained wheels
  // add up to whole notches of 120.
  if (delta == 0) return;
  FWheelRest += delta;
  while (FWheelRest >= 120 || FWheelRest <= -120) {
    const int notch = FWheelRest > 0 ? 120 : -120;
    MouseWheel(notch);
    FWheelRest -= notch;
  }
}

void TRastrumMView::focusInEvent(QFocusEvent* Event) {
  TRvView::focusInEvent(Event);
  QWidget::update();
}

void TRastrumMView::focusOutEvent(QFocusEvent* Event) {
  TRvView::focusOutEvent(Event);
  QWidget::update();
}

// ------------------------------------------------------------ keyboard

// The direction of MoveSelection a navigation key asks for; -1 for others.
int DirectionOfKey(int Key) {
  switch (Key) {
  case Qt::Key_Left: return 0;
  case Qt::Key_Right: return 1;
  case Qt::Key_Up: return 2;
  case Qt::Key_Down: return 3;
  case Qt::Key_Home: return 4;
  case Qt::Key_End: return 5;
  case Qt::Key_PageDown: return 6;
  case Qt::Key_PageUp: return 7;
  default: return -1;
  }
}

void TRastrumMView::keyPressEvent(QKeyEvent* Event) {
  // The view claims the navigation keys; the rest go to its parent.
  if (DirectionOfKey(Event->key()) < 0) {
    TRvView::keyPressEvent(Event);
    return;
  }
  Event->accept();
  KeyDown(Event->key(), platform::ShiftStateOf(Event->modifiers(), Qt::NoButton));
}

void TRastrumMView::KeyDown(int Key, platform::TShiftState Shift) {
  if (FPlaying) return;
  const bool savedMulti = FMultiSelecting, savedKeep = FKeepOnToggle;
  if (FEnableMultiSelect && (Shift & (platform::ssShift | platform::ssCtrl))) {
    FMultiSelecting = true;
    FKeepOnToggle = true;
  }
  if (const int direction = DirectionOfKey(Key); direction >= 0) MoveSelection(direction);
  FMultiSelecting = savedMulti;
  FKeepOnToggle = savedKeep;
  Update();
}

void TRastrumMView::ScrollAfterMove(int Direction) {
  const TImageRecord* r = Record(FSelectedImage);
  if (r == nullptr || ImageVisibility(FSelectedImage) == 2) return;
  const int cw = ClientWidth(), ch = ClientHeight();
  const int farX = r->X - cw + FThumbWidth + FHorizBorder, farY = r->Y - ch + FThumbHeight + FVertBorder;
  switch (Direction) {
  case 0: SetViewXY(r->X - FHorizBorder, r->Y - FVertBorder); break;
  case 1: SetViewXY(farX, farY); break;
  case 2:
  case 7:
    SetViewY(r->Y - FVertBorder);
    if (ImageVisibility(FSelectedImage) != 2) SetViewX(r->X - FHorizBorder);
    break;
  case 3:
  case 5:
  case 6:
    SetViewY(farY);
    if (ImageVisibility(FSelectedImage) != 2) SetViewX(farX);
    break;
  case 4: SetViewXY(0, 0); break;
  default: break;
  }
}

void TRastrumMView::MoveSelection(int Direction) {
  const int count = ImageCount();
  // Cells of no size have no rows to count.
  if (count == 0 || FThumbHeight + FVertBorder <= 0) return;
  const int cols = Columns();
  const int rows = (ClientHeight() - FVertBorder) / (FThumbHeight + FVertBorder);
  const int current = FSelectedImage;
  int next = current;
  switch (Direction) {
  case 0:
    if (current < 0) return;
    next = current - 1 < 0 ? count - 1 : current - 1;
    break;
  case 1: next = current + 1 >= count ? 0 : current + 1; break;
  case 2:
    if (current < 0 || FGridWidth == 0) return;
    next = std::max(current - cols, 0);
    break;
  case 3:
    if (FGridWidth == 0) return;
    next = std::min(current + cols, count - 1);
    break;
  case 4: next = 0; break;
  case 5: next = count - 1; break;
  case 6: next = current + cols * rows; break;
  case 7:
    if (current < 0) return;
    next = current - cols * rows;
    break;
  default: return;
  }
  SetSelectedImage(next);
  ScrollAfterMove(Direction);
}

// ------------------------------------------------------------ play mode

void TRastrumMView::SetPlaying(bool Value) {
  if (Value == FPlaying) return;
  if (Value) {
    FSavedDisplayMode = FDisplayMode;
    FSavedSelected = FSelectedImage;
    DeselectNU();
    FPlaying = true;
    PlayStep();
    return;
  }
  FPlaying = false;
  FPlayTimer.stop();
  SetDisplayMode(FSavedDisplayMode);
  SetSelectedImage(FSavedSelected);
}

void TRastrumMView::PlayStep() {
  if (FPlayStepRunning || FDestroying) return;
  FPlayStepRunning = true;
  FPlayTimer.stop();
  if (FPlaying) {
    if (FDisplayMode != mdSingle) {
      FDisplayMode = mdSingle;
      Update();
    }
    const int count = ImageCount();
    FPlayFrame = std::min(FPlayFrame, count - 1);
    if (count > 0) {
      FPlayFrame = std::max(FPlayFrame, 0);
      const int shown = FPlayFrame;
      repaint();
      if (shown == count - 1) {
        FPlayFrame = 0;
        CallBitmapChangeEvents();
      } else {
        ++FPlayFrame;
      }
      FPlayTimer.start(std::max(ImageDelayTime(shown), 10));
    }
  }
  FPlayStepRunning = false;
}

} // namespace rv
