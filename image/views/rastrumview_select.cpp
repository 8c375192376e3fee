// Selections and mouse interaction of the single-picture view: rectangles,
// ellipses, polygons, lassos and magic-wand regions with grips, moves and
// auto-scroll; zoom by click, by rectangle and by wheel; panning.
#include "image/views/rastrumview.h"

#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "image/model/rvhelpers.h"
#include "image/model/rvregionscan.h"
#include "image/views/rvviewmath.h"

namespace rv {

namespace {

constexpr double kZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};

// The mouse handlers work in client coordinates whatever the caller chose.
class TClientBase {
public:
  explicit TClientBase(TRvSelectionBase& Base) : FBase(Base), FSaved(Base) { Base = rvsbClientArea; }
  ~TClientBase() { FBase = FSaved; }
  TClientBase(const TClientBase&) = delete;
  TClientBase& operator=(const TClientBase&) = delete;

private:
  TRvSelectionBase& FBase;
  TRvSelectionBase FSaved;
};

} // namespace

// ------------------------------------------------------------ settings

void TRastrumView::SetSelectionOptions(TRvSelectionOptions Value) {
  FSelectionOptions = Value;
  FSel->Animated = (Value & rvsoAnimated) != 0;
  FSel->Sizeable = (Value & rvsoSizeable) != 0;
  Update();
}

void TRastrumView::SetSelectionColor1(platform::TColor Value) {
  FSel->Color1 = Value;
  FMaskColor1 = Value;
  SchedulePaint();
}

void TRastrumView::SetSelectionColor2(platform::TColor Value) {
  FSel->Color2 = Value;
  FMaskColor2 = Value;
  SchedulePaint();
}

void TRastrumView::SetSelectionGripStyle(platform::TColor GripColor1, platform::TColor GripColor2,
                                         platform::TBrushStyle GripBrushStyle, int GripSize,
                                         bool ExtendedGrips) {
  FGripPen = GripColor1;
  FGripBrush = GripColor2;
  FGripBrushStyle = GripBrushStyle;
  FGripSize = GripSize;
  FExtendedGrips = ExtendedGrips;
  SchedulePaint();
}

void TRastrumView::SetMouseInteract(TRvMouseInteract Value) {
  if (Value == FMouseInteract) return;
  if (FPolyEntry && (FMouseInteract & miSelectPolygon) != 0) {
    FSel->RemoveLastPoint();
    FSelMask.Clear();
    EndSelect();
    FPolyEntry = false;
    Invalidate();
  }
  const TRvMouseInteract added = Value & ~FMouseInteract;
  TRvMouseInteract stored;
  if (added & miScroll) stored = Value & (miZoom | miScroll);
  else if (added & miSelect) stored = Value & (miZoom | miSelect);
  else if (added & miSelectPolygon) stored = miSelectPolygon;
  else if (added & miSelectCircle) stored = Value & (miZoom | miSelectCircle);
  else if (added & miSelectLasso) stored = Value & (miZoom | miSelectLasso);
  else if (added & miSelectZoom) stored = Value & (miZoom | miSelectZoom);
  else if (added & miZoom) stored = Value & ~(miSelectPolygon | miSelectMagicWand);
  else if (added & miSelectMagicWand) stored = miSelectMagicWand;
  else stored = Value;
  FMouseInteract = stored;
}

// ------------------------------------------------------------ selection operations

int TRastrumView::ToBitmapX(int X) const { return FSelectionBase == rvsbClientArea ? ScreenToBitmapX(X) : X; }
int TRastrumView::ToBitmapY(int Y) const { return FSelectionBase == rvsbClientArea ? ScreenToBitmapY(Y) : Y; }

void TRastrumView::ShowOutline() {
  FSel->Visible = true;
  if ((FSelectionOptions & rvsoFilled) != 0) {
    // The inverted area is part of the rendered picture.
    FDirty = true;
    FRenderAll = true;
  }
  SchedulePaint();
  UpdateSelectionTimer();
}

void TRastrumView::RectSelection(int X1, int Y1, int X2, int Y2, int Op, bool Square) {
  if (X1 == X2 || Y1 == Y2) return;
  X1 = ToBitmapX(X1);
  X2 = ToBitmapX(X2);
  Y1 = ToBitmapY(Y1);
  Y2 = ToBitmapY(Y2);
  FSelected = true;
  if (Op == 1 && FSel->Count() > 0) {
    if (!FSel->IsSeparator(FSel->Count() - 1)) FSel->AddSeparator();
  } else {
    FSel->Clear();
  }
  if (Op == 0) FSelMask.Clear();
  if (Square) Y2 = Y1 + (X2 - X1);
  const int w = FBitmap.Width(), h = FBitmap.Height();
  X1 = std::clamp(X1, 0, std::max(w - 1, 0));
  X2 = std::clamp(X2, 0, std::max(w - 1, 0));
  Y1 = std::clamp(Y1, 0, std::max(h - 1, 0));
  Y2 = std::clamp(Y2, 0, std::max(h - 1, 0));
  RvOrderRect(X1, Y1, X2, Y2);
  ++X2;
  ++Y2;
  FSel->AddPoint(X1, Y1);
  FSel->AddPoint(X2, Y1);
  FSel->AddPoint(X2, Y2);
  FSel->AddPoint(X1, Y2);
  ShowOutline();
}

void TRastrumView::SelectRect(int X1, int Y1, int X2, int Y2, int Op) {
  RectSelection(X1, Y1, X2, Y2, Op, false);
  if (Op == 0) FSelMask.Clear();
  EndSelect();
  FDirty = true;
  FRenderAll = true;
  SchedulePaint();
}

void TRastrumView::AddSelectionPoint(int X, int Y) {
  X = std::clamp(ToBitmapX(X), 0, FBitmap.Width());
  Y = std::clamp(ToBitmapY(Y), 0, FBitmap.Height());
  FSel->AddPoint(X, Y);
  FSelected = true;
  ShowOutline();
  if (FSel->Count() > 2) {
    FSelMask.Clear();
    EndSelect();
  }
  FDirty = true;
  FRenderAll = true;
  SchedulePaint();
}

void TRastrumView::EndSelect() {
  FSelMask.AddPolygons(1, FSel->Points(), FSel->Count());
  if (FSelMask.IsEmpty()) {
    FSelected = false;
    FSel->Clear();
  }
}

void TRastrumView::Deselect() {
  if (FSelected) {
    FSelected = false;
    FSel->Visible = false;
    if ((FSelectionOptions & rvsoFilled) != 0) {
      FDirty = true;
      FRenderAll = true;
    }
    if (UpdateLockCount() == 0) SchedulePaint();
  }
  FSel->Clear();
  FSelMask.Clear();
  FPolyEntry = FLasso = FRubberBand = FEllipse = false;
  FGrip = -1;
  FMoveState = -1;
  SetShownCursor(FCursor);
  UpdateSelectionTimer();
}

bool TRastrumView::Dragging() const {
  return FRubberBand || FEllipse || FLasso || FGrip >= 0 || FMoveState >= 0;
}

int TRastrumView::SelX1() const { return Dragging() || FPolyEntry ? FSel->X1 : FSelMask.X1(); }
int TRastrumView::SelY1() const { return Dragging() || FPolyEntry ? FSel->Y1 : FSelMask.Y1(); }
int TRastrumView::SelX2() const { return Dragging() || FPolyEntry ? FSel->X2 - 1 : FSelMask.X2(); }
int TRastrumView::SelY2() const { return Dragging() || FPolyEntry ? FSel->Y2 - 1 : FSelMask.Y2(); }

void TRastrumView::MagicWand(int X, int Y, bool Add) {
  X = ToBitmapX(X);
  Y = ToBitmapY(Y);
  const int w = FBitmap.Width(), h = FBitmap.Height();
  // Only pixels of the picture have a colour to start from; the mouse clamp
  // can give X = width or Y = height.
  if (X < 0 || X >= w || Y < 0 || Y >= h) return;
  if (MagicWandMode == 0) {
    const std::vector<platform::TPoint> outline =
        RvMagicWandOutline(&FBitmap, X, Y, MagicWandTolerance, MagicWandMaxFilter);
    if (!outline.empty()) {
      FSelected = true;
      if (Add && FSel->Count() > 0) {
        if (!FSel->IsSeparator(FSel->Count() - 1)) FSel->AddSeparator();
      } else {
        FSel->Clear();
        FSelMask.Clear();
      }
      for (const platform::TPoint& p : outline)
        FSel->AddPoint(std::clamp(p.X, 0, w), std::clamp(p.Y, 0, h));
      if (!Add) FSelMask.Clear();
      EndSelect();
      ShowOutline();
    }
  } else {
    if (!Add) {
      FSel->Clear();
      FSelMask.Clear();
    }
    if (MagicWandMode == 1)
      RvMagicWandFill(&FBitmap, X, Y, &FSelMask, MagicWandTolerance, MagicWandMaxFilter);
    else
      RvSelectSimilarColors(&FBitmap, X, Y, &FSelMask, MagicWandTolerance);
    FSelected = !FSelMask.IsEmpty();
    ShowOutline();
  }
  FDirty = true;
  FRenderAll = true;
  SchedulePaint();
}

void TRastrumView::ZoomSelection() {
  if (!FSelected) return;
  const int left = SelX1(), top = SelY1();
  const int w = SelX2() - left + 1, h = SelY2() - top + 1;
  if (left < 0 || top < 0 || w < 2 || h < 2) return;
  LockUpdate();
  Deselect();
  SetZoom(std::min(height() / (h / 100.0), width() / (w / 100.0)));
  const double f = FZoom / 100;
  SetViewXY(RvTrunc(left * f) - (ExtentX() - RvTrunc(w * f)) / 2,
            RvTrunc(top * f) - (ExtentY() - RvTrunc(h * f)) / 2);
  UnlockUpdate();
}

void TRastrumView::MoveSelection(int DX, int DY) {
  FSelMask.Translate(DX, DY, (FSelectionOptions & rvsoCutBorders) != 0);
  if (DX == 0 && DY == 0) return;
  const int w = FBitmap.Width(), h = FBitmap.Height();
  for (int i = 0; i < FSel->Count(); ++i) {
    if (FSel->IsSeparator(i)) continue;
    const platform::TPoint& p = (*FSel)[i];
    FSel->SetPoint(i, std::clamp(p.X + DX, 0, w), std::clamp(p.Y + DY, 0, h));
  }
  FSel->X1 = std::clamp(FSel->X1 + DX, 0, w);
  FSel->X2 = std::clamp(FSel->X2 + DX, 0, w);
  FSel->Y1 = std::clamp(FSel->Y1 + DY, 0, h);
  FSel->Y2 = std::clamp(FSel->Y2 + DY, 0, h);
  ShowOutline();
}

int TRastrumView::ResizeByGrip(int Grip, int X, int Y, bool Constrain) {
  if (!FSel->IsRectangle()) return Grip;
  X = ToBitmapX(X);
  Y = ToBitmapY(Y);
  int acting = Grip;
  if (Constrain) {
    const double x1 = FDownBox[0], y1 = FDownBox[1], x2 = FDownBox[2], y2 = FDownBox[3];
    const double h0 = y2 - y1 + 1;
    if (h0 == 0) return Grip;
    const double r = (x2 - x1 + 1) / h0;
    switch (Grip) {
      case 0:
      case 4: Y = RvNearest((y2 * r + (X - x2 - 1) + r) / r); acting = 0; break;
      case 1: Y = RvNearest((y2 * r + (x1 - X - 1)) / r); break;
      case 2:
      case 5: Y = RvNearest((y1 * r + (X - x1 + 1) - r) / r); acting = 2; break;
      case 3: Y = RvNearest((y1 * r + (x2 - X + 1) + r) / r); break;
      case 6: X = RvNearest(-r * y2 + Y * r - r + x2 + 1); acting = 0; break;
      case 7: X = RvNearest(Y * r - r * y1 + r + x1 - 1); acting = 2; break;
      default: break;
    }
  }
  if (acting == 1 || acting == 2 || acting == 5) ++X;
  if (acting == 2 || acting == 3 || acting == 7) ++Y;
  int x1 = FSel->X1, y1 = FSel->Y1, x2 = FSel->X2, y2 = FSel->Y2;
  if (acting == 0 || acting == 3 || acting == 4) x1 = X == x2 ? X - 1 : X;
  if (acting == 1 || acting == 2 || acting == 5) x2 = X == x1 ? X + 1 : X;
  if (acting == 0 || acting == 1 || acting == 6) y1 = Y == y2 ? Y - 1 : Y;
  if (acting == 2 || acting == 3 || acting == 7) y2 = Y == y1 ? Y + 1 : Y;
  int grip = Grip;
  if (x1 > x2) {
    static constexpr int mirror[8] = {1, 0, 3, 2, 5, 4, 6, 7};
    grip = mirror[grip];
  }
  if (y1 > y2) {
    static constexpr int mirror[8] = {3, 2, 1, 0, 4, 5, 7, 6};
    grip = mirror[grip];
  }
  const int w = FBitmap.Width(), h = FBitmap.Height();
  FSel->Clear();
  RvOrderRect(x1, y1, x2, y2);
  x1 = std::clamp(x1, 0, w);
  x2 = std::clamp(x2, 0, w);
  y1 = std::clamp(y1, 0, h);
  y2 = std::clamp(y2, 0, h);
  RvOrderRect(x1, y1, x2, y2);
  FSel->AddPoint(x1, y1);
  FSel->AddPoint(x2, y1);
  FSel->AddPoint(x2, y2);
  FSel->AddPoint(x1, y2);
  ShowOutline();
  return grip;
}

int TRastrumView::GripAt(int X, int Y) const {
  const TRvSelectionRecord& r = *FSel;
  if (!r.Visible || !r.Sizeable || !r.IsRectangle() || FRubberBand) return -1;
  for (int i = 0; i < 4; ++i) {
    int px, py;
    MapSelectionPoint(r[i], px, py, true);
    if (std::abs(X - px) <= FGripSize && std::abs(Y - py) <= FGripSize) return i;
  }
  int left, top, right, bottom;
  MapSelectionPoint({r.X1, r.Y1}, left, top, true);
  MapSelectionPoint({r.X2, r.Y2}, right, bottom, true);
  if (RvPointSegmentDistance(X, Y, left, top, left, bottom) < 3.0) return 4;
  if (RvPointSegmentDistance(X, Y, right, top, right, bottom) < 3.0) return 5;
  if (RvPointSegmentDistance(X, Y, left, top, right, top) < 3.0) return 6;
  if (RvPointSegmentDistance(X, Y, left, bottom, right, bottom) < 3.0) return 7;
  return -1;
}

int TRastrumView::InsideSelection(int X, int Y) const {
  if ((FSelectionOptions & rvsoMoveable) == 0 || FSelMask.IsEmpty() || Dragging()) return -1;
  return FSelMask.IsPointInside(ToBitmapX(X), ToBitmapY(Y)) ? 0 : -1;
}

bool TRastrumView::Constrained(platform::TShiftState Shift) const {
  return (Shift & platform::ssAlt) != 0 || ConstrainAlways;
}

void TRastrumView::ClampMouse(int& X, int& Y) const {
  X = std::clamp(X, FOffX, FOffX + FDrawW);
  Y = std::clamp(Y, FOffY, FOffY + FDrawH);
}

void TRastrumView::SnapToLastPoint(int& X, int& Y) const {
  const int n = FSel->Count();
  if (n == 0 || FSel->IsSeparator(n - 1)) return;
  const platform::TPoint& last = (*FSel)[n - 1];
  RvSnapLine(BitmapToScreenX(last.X), BitmapToScreenY(last.Y), X, Y);
}

void TRastrumView::OffsetMousePoints(int DX, int DY) {
  FPrevPos -= QPoint(DX, DY);
  FCurPos -= QPoint(DX, DY);
}

// ------------------------------------------------------------ mouse

void TRastrumView::MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
  if (isEnabled()) setFocus(Qt::MouseFocusReason);
  if (Button != platform::mbLeft && (FMouseInteract & miZoom) == 0) return;
  FButtonDown = true;
  FDownButton = Button;
  FDragShift = Shift;
  FRestoreFilter = FZoomFilter;
  if ((FMouseInteract & miScroll) == 0) FZoomFilter = rfNone;
  const TClientBase base(FSelectionBase);
  FLastMouse = QPoint(X, Y);
  ClampMouse(X, Y);
  FDownPos = FPrevPos = FCurPos = QPoint(X, Y);
  FDownView = QPoint(FViewX, FViewY);
  FDownCount = FSel->Count();
  const TRvMouseInteract mi = FMouseInteract;
  if (mi & (miSelectPolygon | miSelectLasso)) {
    FMoveState = InsideSelection(X, Y);
    if (FMoveState == -1) {
      if (Constrained(Shift)) SnapToLastPoint(X, Y);
      if (!FPolyEntry) {
        if ((Shift & platform::ssShift) != 0) {
          if (FSel->Count() > 0 && !FSel->IsSeparator(FSel->Count() - 1)) FSel->AddSeparator();
        } else {
          Deselect();
        }
      }
      AddSelectionPoint(X, Y);
      FPolyEntry = true;
      FLasso = (mi & miSelectLasso) != 0;
      FPrevPos = FCurPos = QPoint(X, Y);
      if (OnSelectionChanging) OnSelectionChanging(this);
    }
  } else if (mi & (miSelect | miSelectZoom)) {
    FGrip = GripAt(X, Y);
    FMoveState = FGrip == -1 ? InsideSelection(X, Y) : -1;
    if (FGrip == -1 && FMoveState == -1) {
      FRubberBand = true;
      if (OnSelectionChanging) OnSelectionChanging(this);
    } else if (FGrip >= 0) {
      FDownBox[0] = FSel->X1;
      FDownBox[1] = FSel->Y1;
      FDownBox[2] = FSel->X2;
      FDownBox[3] = FSel->Y2;
    }
  } else if (mi & miSelectCircle) {
    FMoveState = InsideSelection(X, Y);
    if (FMoveState == -1) {
      FEllipse = true;
      FSel->Visible = true;
      if (OnSelectionChanging) OnSelectionChanging(this);
    }
  } else if (mi & miSelectMagicWand) {
    FMoveState = InsideSelection(X, Y);
  }
  if (Button == platform::mbLeft && (mi & miScroll) != 0) platform::SetScreenCursor(crRvHand);
}

bool TRastrumView::AutoScroll() {
  const QPoint p = FLastMouse;
  int dx = 0, dy = 0;
  if (p.x() < FOffX) dx = p.x() - FOffX;
  else if (p.x() > FOffX + FDrawW - 1) dx = p.x() - (FOffX + FDrawW - 1);
  if (p.y() < FOffY) dy = p.y() - FOffY;
  else if (p.y() > FOffY + FDrawH - 1) dy = p.y() - (FOffY + FDrawH - 1);
  if (dx == 0 && dy == 0) return false;
  const int oldX = FViewX, oldY = FViewY;
  SetViewXY(FViewX + dx, FViewY + dy);
  const int mx = FViewX - oldX, my = FViewY - oldY;
  if (mx == 0 && my == 0) return false;
  FDownPos -= QPoint(mx, my);
  OffsetMousePoints(mx, my);
  // The loop goes on from a timer, so that the window shows each step.
  if (FButtonDown && !FAutoScrollTimer->isActive()) FAutoScrollTimer->start();
  return true;
}

void TRastrumView::DragTo(platform::TShiftState Shift, int X, int Y) {
  const TClientBase base(FSelectionBase);
  const int rawX = X, rawY = Y;
  ClampMouse(X, Y);
  const TRvMouseInteract mi = FMouseInteract;
  const bool constrain = Constrained(Shift);
  auto changing = [this] {
    if (OnSelectionChanging) OnSelectionChanging(this);
  };
  if (mi & miScroll) {
    SetViewXY(FDownView.x() - (rawX - FDownPos.x()), FDownView.y() - (rawY - FDownPos.y()));
  } else if (FGrip >= 0) {
    AutoScroll();
    FGrip = ResizeByGrip(FGrip, X, Y, constrain);
    changing();
  } else if (FMoveState >= 0) {
    AutoScroll();
    MoveSelection(ToBitmapX(X) - ToBitmapX(FPrevPos.x()), ToBitmapY(Y) - ToBitmapY(FPrevPos.y()));
    changing();
  } else if (FRubberBand) {
    AutoScroll();
    if ((Shift & platform::ssShift) != 0) {
      if (FSel->Count() != FDownCount) FSel->RemoveLastPolygon();
      RectSelection(FDownPos.x(), FDownPos.y(), X, Y, 1, constrain);
    } else {
      RectSelection(FDownPos.x(), FDownPos.y(), X, Y, 0, constrain);
    }
    changing();
  } else if (FLasso && FPolyEntry) {
    AutoScroll();
    FSel->AddPoint(std::clamp(ToBitmapX(X), 0, FBitmap.Width()),
                   std::clamp(ToBitmapY(Y), 0, FBitmap.Height()));
    ShowOutline();
    changing();
  } else if (FEllipse) {
    AutoScroll();
    if ((Shift & platform::ssShift) != 0) {
      if (FSel->Count() != FDownCount) FSel->RemoveLastPolygon();
      if (FSel->Count() > 0 && !FSel->IsSeparator(FSel->Count() - 1)) FSel->AddSeparator();
    } else {
      FSel->Clear();
    }
    int rx = std::abs(FDownPos.x() - X), ry = std::abs(FDownPos.y() - Y);
    if (constrain) rx = ry = std::max(rx, ry);
    const int brx = RvTrunc(rx * FIZ), bry = RvTrunc(ry * FIZ);
    int n = static_cast<int>(static_cast<unsigned>(RvTrunc(std::min(brx, bry) * 2 * std::numbers::pi)) >> 2);
    n = std::max(n, 3);
    const int cx = ToBitmapX(FDownPos.x()), cy = ToBitmapY(FDownPos.y());
    const int w = FBitmap.Width(), h = FBitmap.Height();
    for (int i = 0; i < n; ++i) {
      const double a = 2 * std::numbers::pi * i / n;
      FSel->AddPoint(std::clamp(RvTrunc(std::cos(a) * brx + cx), 0, w),
                     std::clamp(RvTrunc(std::sin(a) * bry + cy), 0, h));
    }
    FSelected = true;
    ShowOutline();
    changing();
  }
}

void TRastrumView::MouseMove(platform::TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
  FLastMouse = QPoint(X, Y);
  const bool held = FButtonDown && (Shift & (platform::ssLeft | platform::ssRight | platform::ssMiddle)) != 0;
  if (held) {
    FDragShift = Shift;
    DragTo(Shift, X, Y);
  }
  const TClientBase base(FSelectionBase);
  ClampMouse(X, Y);
  if (!held) {
    if (FPolyEntry && !FLasso) {
      if (Constrained(Shift)) SnapToLastPoint(X, Y);
      FPrevPos = QPoint(X, Y);
      SchedulePaint();
      if (OnSelectionChanging) OnSelectionChanging(this);
    } else if ((FMouseInteract & ~(miZoom | miScroll)) != 0) {
      const int grip = GripAt(X, Y);
      if (OnMouseInResizingGrip) OnMouseInResizingGrip(this, grip);
      static constexpr platform::TCursor gripCursors[8] = {crRvSizeNWSE, crRvSizeNESW, crRvSizeNWSE,
                                                           crRvSizeNESW, crRvSizeWE,   crRvSizeWE,
                                                           crRvSizeNS,   crRvSizeNS};
      if (grip >= 0) SetShownCursor(gripCursors[grip]);
      else SetShownCursor(InsideSelection(X, Y) == 0 ? crRvMove : FCursor);
    }
  }
  if (OnMouseInSel && FSelMask.IsPointInside(ToBitmapX(X), ToBitmapY(Y))) OnMouseInSel(this);
  FPrevPos = FCurPos = QPoint(X, Y);
}

void TRastrumView::EndMoves() {
  FRubberBand = FEllipse = false;
  FGrip = -1;
  FMoveState = -1;
}

void TRastrumView::MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
  const bool wasDown = FButtonDown;
  FButtonDown = false;
  FAutoScrollTimer->stop();
  if (!wasDown) return;
  const TClientBase base(FSelectionBase);
  const TRvMouseInteract mi = FMouseInteract;
  const bool shift = (Shift & platform::ssShift) != 0;
  auto changed = [this] {
    if (OnSelectionChange) OnSelectionChange(this);
  };
  if ((mi & miZoom) != 0 && QPoint(X, Y) == FDownPos) {
    if (Button == platform::mbLeft) {
      if (mi & miScroll) platform::SetScreenCursor(platform::crDefault);
      double zoom = FZoom + 100;
      if (FZoom < 100)
        for (double z : kZoomSteps)
          if (z > FZoom) {
            zoom = z;
            break;
          }
      if (OnZoomIn) OnZoomIn(this, zoom);
      if (zoom != FZoom) ZoomAt(X, Y, zoom);
    } else if (Button == platform::mbRight) {
      double zoom = FZoom - 100;
      if (FZoom < 200) {
        zoom = 2;
        for (int i = 7; i >= 0; --i)
          if (kZoomSteps[i] < FZoom) {
            zoom = kZoomSteps[i];
            break;
          }
      }
      if (OnZoomOut) OnZoomOut(this, zoom);
      if (zoom != FZoom) ZoomAt(X, Y, zoom);
    }
    FPolyEntry = false;
  } else if (Button == platform::mbLeft) {
    int cx = X, cy = Y;
    ClampMouse(cx, cy);
    const bool moved = QPoint(cx, cy) != FDownPos;
    if (mi & miScroll) {
      SetViewXY(FDownView.x() - (X - FDownPos.x()), FDownView.y() - (Y - FDownPos.y()));
      platform::SetScreenCursor(platform::crDefault);
    } else if (mi & miSelectZoom) {
      ZoomSelection();
      FRubberBand = false;
    } else if (mi & (miSelect | miSelectCircle | miSelectLasso)) {
      // The drag that drew this mode's shape, if one ran.
      const bool drew = (mi & miSelect) ? FRubberBand || FGrip >= 0 : (mi & miSelectCircle) ? FEllipse : FLasso;
      if (moved || FMoveState >= 0 || ((mi & miSelect) && FGrip >= 0)) {
        if (drew) {
          if (!shift) FSelMask.Clear();
          EndSelect();
        }
        if (mi & miSelectLasso) FPolyEntry = FLasso = false;
        EndMoves();
        changed();
        Update();
      } else {
        Deselect();
      }
    } else if (mi & miSelectPolygon) {
      FMoveState = -1;
      Update();
    } else if (mi & miSelectMagicWand) {
      if (FMoveState < 0) {
        platform::SetScreenCursor(platform::crHourGlass);
        MagicWand(X, Y, shift);
        platform::SetScreenCursor(platform::crDefault);
      } else {
        FMoveState = -1;
      }
      changed();
      Update();
    }
  }
  if (FZoomFilter != FRestoreFilter) {
    FZoomFilter = FRestoreFilter;
    FDirty = true;
    FRenderAll = true;
    SchedulePaint();
  }
  if (Button == platform::mbLeft) {
    EndMoves();
    FLasso = false;
  }
}

void TRastrumView::DblClick() {
  if (OnDblClick) OnDblClick(this);
  if (!FPolyEntry || FLasso) return;
  FSel->RemoveLastPoint();
  if ((QGuiApplication::keyboardModifiers() & Qt::ShiftModifier) == 0) FSelMask.Clear();
  EndSelect();
  Update();
  FPolyEntry = false;
  if (OnSelectionChange) OnSelectionChange(this);
}

} // namespace rv
