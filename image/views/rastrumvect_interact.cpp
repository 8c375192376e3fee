// How the user makes, selects, moves, resizes and edits the objects of the
// vector layer with the mouse and keyboard, and measures by dragging.
#include "image/views/rastrumvect.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <algorithm>
#include <climits>
#include <cmath>

#include "image/model/rvhelpers.h"
#include "image/views/rvviewmath.h"

namespace rv {

namespace {

// Coordinates moved by a drag stay 32-bit whatever the object held.
std::int32_t Shifted(std::int32_t V, std::int64_t D) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(V + D, INT32_MIN, INT32_MAX));
}

void SetBox(TRvVObject& O, const platform::TRect& Box) {
  O.Left = Box.Left;
  O.Top = Box.Top;
  O.Right = Box.Right;
  O.Bottom = Box.Bottom;
}

bool IsDragKind(int Kind) {
  return Kind == rvokLine || Kind == rvokRuler || Kind == rvokBox || Kind == rvokEllipse || Kind == rvokBitmap ||
         Kind == rvokText;
}

} // namespace

// Enter commits the text, Esc takes back the last change and commits what
// is left; both keys stay in the editor.
class TRastrumVect::TEditorFilter : public QObject {
public:
  TEditorFilter(TRastrumVect* Owner, QObject* Parent) : QObject(Parent), FOwner(Owner) {}
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() != QEvent::KeyPress) return QObject::eventFilter(Watched, Event);
    const int key = static_cast<QKeyEvent*>(Event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      FOwner->EndInteraction();
      return true;
    }
    if (key == Qt::Key_Escape) {
      FOwner->FEditor->undo();
      FOwner->EndInteraction();
      return true;
    }
    return QObject::eventFilter(Watched, Event);
  }

private:
  TRastrumVect* FOwner;
};

void TRastrumVect::InstallEditorFilter() {
  // Owned by the editor, so that it goes with it.
  FEditor->installEventFilter(new TEditorFilter(this, FEditor));
}

// ------------------------------------------------------------ geometry

void TRastrumVect::ClampToPicture(int& X, int& Y) const {
  X = std::clamp(X, OffsetX(), std::max(OffsetX(), OffsetX() + DrawWidth() - 1));
  Y = std::clamp(Y, OffsetY(), std::max(OffsetY(), OffsetY() + DrawHeight() - 1));
}

QPoint TRastrumVect::ToPicture(QPoint P) const { return QPoint(ScreenToBitmapX(P.x()), ScreenToBitmapY(P.y())); }

void TRastrumVect::GripPositions(const TRvVObject& O, QPoint (&Grips)[6]) const {
  // Far off the client a grip only needs to stay far: kept within a range
  // where sums of coordinates cannot overflow.
  auto near = [](double V) { return static_cast<int>(std::clamp(V, -1e7, 1e7)); };
  const TMapping m = Mapping();
  const TClientBox b = ClientBox(O, m);
  const int x1 = near(m.IX(O.Left)), y1 = near(m.IY(O.Top)), x2 = near(m.IX(O.Right)), y2 = near(m.IY(O.Bottom));
  Grips[1] = QPoint(x1, y1);
  Grips[2] = QPoint(x2, y2);
  Grips[3] = QPoint(near(b.X1 + std::floor((b.X2 - b.X1 + 1) / 2)), near(b.Y1 + std::floor((b.Y2 - b.Y1 + 1) / 2)));
  Grips[4] = QPoint(x2, y1);
  Grips[5] = QPoint(x1, y2);
}

bool TRastrumVect::BoxOnScreen(const TRvVObject& O) const {
  const TClientBox b = ClientBox(O);
  return b.X2 >= 0 && b.Y2 >= 0 && b.X1 < ExtentX() && b.Y1 < ExtentY();
}

int TRastrumVect::GripHit(int X, int Y) const {
  auto near = [&](QPoint G) {
    return std::abs(static_cast<std::int64_t>(X) - G.x()) <= GripSize &&
           std::abs(static_cast<std::int64_t>(Y) - G.y()) <= GripSize;
  };
  for (int h : FSelected) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
    if (!BoxOnScreen(o)) continue;
    QPoint g[6];
    GripPositions(o, g);
    int grip = near(g[1]) ? 1 : (near(g[2]) ? 2 : (near(g[3]) ? 3 : 0));
    if (o.Kind != rvokLine && o.Kind != rvokRuler) {
      if (near(g[4])) grip = 4;
      else if (near(g[5])) grip = 5;
    }
    if (grip != 0) return grip;
  }
  return 0;
}

// ------------------------------------------------------------ mouse

void TRastrumVect::MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) {
  TRastrumView::MouseDown(Button, Shift, X, Y);
  if (Button != platform::mbLeft) return;
  FButtonDown = true;
  if (FEditing >= 0) {
    EndEditing();
    Update();
  }
  // The button-down point as the view keeps it: inside the drawn picture.
  const QPoint down(std::clamp(X, OffsetX(), OffsetX() + DrawWidth()), std::clamp(Y, OffsetY(), OffsetY() + DrawHeight()));
  FDown = FCur = down;
  FRaw = QPoint(X, Y);
  FAppliedX = FAppliedY = 0;
  FMoving = false;
  const TRvVectInteract v = FVectInteract;
  static constexpr struct {
    TRvVectInteract Bit;
    TRvVObjKind Kind;
  } makers[] = {{mviPutLine, rvokLine}, {mviPutRuler, rvokRuler},   {mviPutBox, rvokBox},
                {mviPutEllipse, rvokEllipse}, {mviPutBitmap, rvokBitmap}, {mviPutText, rvokText}};
  for (const auto& m : makers)
    if (v & m.Bit) {
      FMaking = m.Kind;
      FMeasuring = false;
      return;
    }
  if (v & mviMeasureDrag) {
    FMaking = rvokLine;
    FMeasuring = true;
  } else if (v & mviPutAngle) {
    AngleClick(down);
  } else if (v & mviPutPolyline) {
    PolylineClick(down, (Shift & platform::ssDouble) != 0);
  } else if (v & mviSelectObjects) {
    SelectModeDown(Shift, down);
  }
}

// A gauge or polyline from the template with the empty box, which only
// that object takes: a click-made object keeps the size of the last one
// made, not that of nothing.
int TRastrumVect::AddBuiltObject(TRvVObjKind Kind) {
  const platform::TRect saved{FTemplate.Left, FTemplate.Top, FTemplate.Right, FTemplate.Bottom};
  FTemplate.Kind = Kind;
  SetBox(FTemplate, RvVectEmptyBox);
  const int handle = AddNewObject(FTemplate);
  SetBox(FTemplate, saved);
  FMaking = Kind;
  UnselectAll();
  return handle;
}

// The object built by clicks is done: the template takes its box, it is
// selected and announced.
void TRastrumVect::FinishBuilt(int& Handle) {
  const int made = Handle;
  const TRvVObject& o = FObjects[static_cast<std::size_t>(made)];
  SetBox(FTemplate, {o.Left, o.Top, o.Right, o.Bottom});
  FMaking = rvokNone;
  Handle = -3;
  SetOverlay(0, {}, {});
  SelectObject(made);
  DoVectorialChanged();
  if (OnNewObject) OnNewObject(this, made);
}

void TRastrumVect::AngleClick(QPoint At) {
  const QPoint p = ToPicture(At);
  TRvVObject* gauge = ObjectAt(FAngle);
  if (FMaking != rvokAngle || gauge == nullptr) {
    FTemplate.AnglePoints = {platform::TPoint{p.x(), p.y()}, platform::TPoint{RvNotPlaced, RvNotPlaced},
                             platform::TPoint{RvNotPlaced, RvNotPlaced}};
    FAngle = AddBuiltObject(rvokAngle);
  } else if (RvPlacedPoints(*gauge) == 1) {
    gauge->AnglePoints[1] = {p.x(), p.y()};
  } else {
    gauge->AnglePoints[2] = {p.x(), p.y()};
    const auto& a = gauge->AnglePoints;
    SetBox(*gauge, {std::min({a[0].X, a[1].X, a[2].X}), std::min({a[0].Y, a[1].Y, a[2].Y}),
                    std::max({a[0].X, a[1].X, a[2].X}), std::max({a[0].Y, a[1].Y, a[2].Y})});
    FinishBuilt(FAngle);
  }
  Update();
}

void TRastrumVect::PolylineClick(QPoint At, bool Double) {
  const QPoint p = ToPicture(At);
  if (FMaking != rvokPolyline || Record(FPolyline) == nullptr) {
    FTemplate.Points.clear();
    FPolyline = AddBuiltObject(rvokPolyline);
    AddPolylinePoint(FPolyline, p.x(), p.y());
  } else {
    AddPolylinePoint(FPolyline, p.x(), p.y());
    if (Double) FinishBuilt(FPolyline);
  }
  Update();
}

void TRastrumVect::SelectModeDown(platform::TShiftState Shift, QPoint At) {
  if (Shift & platform::ssDouble) {
    double distance;
    const int h = FindObjectAt(At.x(), At.y(), true, distance);
    if (h < 0) return;
    if (OnObjectDblClick) OnObjectDblClick(this, h);
    if (FObjects[static_cast<std::size_t>(h)].Kind == rvokText && distance == 0) {
      UnselectAll();
      SelectObject(h);
      StartEditing(h);
    }
    return;
  }
  FGrip = GripHit(At.x(), At.y());
  if (FGrip != 0)
    for (int h : FSelected) {
      TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
      o.SavedRect = {o.Left, o.Top, o.Right, o.Bottom};
    }
}

void TRastrumVect::MouseMove(platform::TShiftState Shift, int X, int Y) {
  RemoveMeasureHint();
  TRastrumView::MouseMove(Shift, X, Y);
  FRaw = QPoint(X, Y);
  int cx = X, cy = Y;
  ClampToPicture(cx, cy);
  const bool held = FButtonDown && (Shift & platform::ssLeft) != 0;
  if (held) {
    if (FGrip != 0) GripDragTo(Shift, {cx, cy});
    else if (FMaking != rvokNone) MakingMove(Shift, {cx, cy});
    else if (FVectInteract & mviSelectObjects) RubberBandTo(Shift, {cx, cy});
  } else if (FMaking == rvokPolyline && Record(FPolyline) != nullptr) {
    const TRvVObject& line = *Record(FPolyline);
    const QPoint last(ClientX(line.Points.back().X), ClientY(line.Points.back().Y));
    int ex = cx, ey = cy;
    if (Shift & platform::ssCtrl) RvSnapLine(last.x(), last.y(), ex, ey);
    SetOverlay(1, last, {ex, ey});
    if (FVectInteract & mviMeasureDrag) SetMeasureHintVisible(true);
  } else if (FMaking == rvokAngle) {
    SetOverlay(5, {}, {cx, cy});
  } else if (OnObjectOver) {
    double distance;
    const int h = FindObjectAt(cx, cy, false, distance);
    if (h >= 0) OnObjectOver(this, h);
  }
  ShowMeasureHint(X, Y);
}

void TRastrumVect::GripDragTo(platform::TShiftState Shift, QPoint At) {
  FMoving = true;
  const double s = PicturePerClient();
  const int totalX = RvNearest((At.x() - FDown.x()) * s), totalY = RvNearest((At.y() - FDown.y()) * s);
  int ox = totalX - FAppliedX, oy = totalY - FAppliedY;
  FAppliedX = totalX;
  FAppliedY = totalY;
  // Alt keeps the proportions, and so does the view's ConstrainAlways,
  // which makes every drag behave as if Alt were held.
  const bool keep = (Shift & platform::ssAlt) != 0 || ConstrainAlways;
  const std::vector<int> selected = FSelected;
  ObjectsChanged();
  for (int h : selected) {
    if (OnObjectMoveResize) OnObjectMoveResize(this, h, FGrip, ox, oy);
    TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
    if ((o.Style & rvosSizeable) != 0 && o.Kind != rvokAngle && FGrip != 3) {
      if (FGrip == 1 || FGrip == 5) o.Left = Shifted(o.Left, ox);
      if (FGrip == 2 || FGrip == 4) o.Right = Shifted(o.Right, ox);
      if (FGrip == 1 || FGrip == 4) o.Top = Shifted(o.Top, oy);
      if (FGrip == 2 || FGrip == 5) o.Bottom = Shifted(o.Bottom, oy);
      const double w = static_cast<double>(o.Right) - o.Left;
      const double sh = static_cast<double>(o.SavedRect.Bottom) - o.SavedRect.Top;
      const double sw = static_cast<double>(o.SavedRect.Right) - o.SavedRect.Left;
      if (keep && w != 0 && sh != 0 && sw != 0) {
        const double r = w * sh / sw;
        if (FGrip == 1 || FGrip == 4) o.Top = RvSaturate(std::nearbyint(o.Bottom - r));
        else o.Bottom = RvSaturate(std::nearbyint(o.Top + r));
      }
    }
    if ((o.Style & rvosMoveable) != 0 && FGrip == 3) {
      o.Left = Shifted(o.Left, ox);
      o.Right = Shifted(o.Right, ox);
      o.Top = Shifted(o.Top, oy);
      o.Bottom = Shifted(o.Bottom, oy);
      if (o.Kind == rvokAngle)
        for (platform::TPoint& p : o.AnglePoints)
          if (p.X != RvNotPlaced || p.Y != RvNotPlaced) p = {Shifted(p.X, ox), Shifted(p.Y, oy)};
    }
  }
  Update();
}

void TRastrumVect::RubberBandTo(platform::TShiftState Shift, QPoint At) {
  FBand = true;
  SetOverlay(2, FDown, At);
  InvalidateGrips();
  if ((Shift & platform::ssShift) == 0) {
    for (int h : FSelected) FSelFlags[static_cast<std::size_t>(h)] = false;
    FSelected.clear();
  }
  int x1 = ScreenToBitmapX(FDown.x()), y1 = ScreenToBitmapY(FDown.y());
  int x2 = ScreenToBitmapX(At.x()), y2 = ScreenToBitmapY(At.y());
  RvOrderRect(x1, y1, x2, y2);
  for (int h : FOrder) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
    if (FSelFlags[static_cast<std::size_t>(h)] || (o.Style & rvosSelectable) == 0) continue;
    if (std::min(o.Left, o.Right) >= x1 && std::max(o.Left, o.Right) <= x2 && std::min(o.Top, o.Bottom) >= y1 &&
        std::max(o.Top, o.Bottom) <= y2) {
      FSelected.push_back(h);
      FSelFlags[static_cast<std::size_t>(h)] = true;
    }
  }
  if (OnSelectObject) OnSelectObject(this);
  InvalidateGrips();
}

void TRastrumVect::MakingMove(platform::TShiftState Shift, QPoint At) {
  FMoving = true;
  const bool ctrl = (Shift & platform::ssCtrl) != 0;
  QPoint end = At;
  switch (FMaking) {
    case rvokLine:
    case rvokRuler: {
      if (FMaking == rvokLine && (FVectInteract & mviMeasureDrag)) SetMeasureHintVisible(true);
      int ex = end.x(), ey = end.y();
      if (ctrl) RvSnapLine(FDown.x(), FDown.y(), ex, ey);
      end = QPoint(ex, ey);
      SetOverlay(FMaking == rvokLine ? 1 : 4, FDown, end);
      break;
    }
    case rvokEllipse:
      if (ctrl) {
        const int dx = end.x() - FDown.x(), dy = end.y() - FDown.y();
        const int d = std::abs(dx) > std::abs(dy) ? dx : dy;
        end = FDown + QPoint(d, d);
      }
      SetOverlay(3, FDown, end);
      break;
    case rvokBox:
    case rvokBitmap:
    case rvokText: SetOverlay(2, FDown, end); break;
    case rvokPolyline: {
      const QPoint p = ToPicture(end);
      AddPolylinePoint(FPolyline, p.x(), p.y());
      Update();
      break;
    }
    case rvokAngle: SetOverlay(5, {}, end); break;
    default: break;
  }
  FCur = end;
}

void TRastrumVect::MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) {
  TRastrumView::MouseUp(Button, Shift, X, Y);
  if (Button != platform::mbLeft || !FButtonDown) return;
  FButtonDown = false;
  int cx = X, cy = Y;
  ClampToPicture(cx, cy);
  if (FMaking == rvokPolyline) {
    FDown = QPoint(cx, cy);
    if (const TRvVObject* line = Record(FPolyline))
      SetOverlay(1, QPoint(ClientX(line->Points.back().X), ClientY(line->Points.back().Y)), FDown);
  } else if (FMaking != rvokAngle && FEditing < 0) {
    if (IsDragKind(FMaking)) FinishMaking();
    else if (FGrip == 0 && (FVectInteract & mviSelectObjects) && QPoint(cx, cy) == FDown) SelectClick(Shift, {cx, cy});
    else if (FGrip != 0) {
      ObjectsChanged();
      for (int h : FSelected) {
        TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
        if (o.Kind != rvokLine && o.Kind != rvokRuler && o.Kind != rvokPolyline)
          RvOrderRect(o.Left, o.Top, o.Right, o.Bottom);
      }
      DoVectorialChanged();
    }
    FBand = false;
    SetOverlay(0, {}, {});
    Update();
    FMaking = rvokNone;
    FMeasuring = false;
    FGrip = 0;
    if (FMoving) {
      FMoving = false;
      Invalidate();
    }
  }
  if (FEditing < 0) ShowMeasureHint(X, Y);
}

void TRastrumVect::FinishMaking() {
  const QPoint a = ToPicture(FDown);
  if (FMoving) {
    const QPoint b = ToPicture(FCur);
    FTemplate.Left = a.x();
    FTemplate.Top = a.y();
    FTemplate.Right = b.x();
    FTemplate.Bottom = b.y();
    // A box keeps its size for the next click, not the way it was dragged.
    if (FMaking != rvokLine && FMaking != rvokRuler)
      RvOrderRect(FTemplate.Left, FTemplate.Top, FTemplate.Right, FTemplate.Bottom);
  } else {
    FTemplate.Right = Shifted(a.x(), static_cast<std::int64_t>(FTemplate.Right) - FTemplate.Left);
    FTemplate.Bottom = Shifted(a.y(), static_cast<std::int64_t>(FTemplate.Bottom) - FTemplate.Top);
    FTemplate.Left = a.x();
    FTemplate.Top = a.y();
  }
  FTemplate.Kind = static_cast<TRvVObjKind>(FMaking);
  if (FMeasuring) {
    RemoveMeasureHint();
    SetMeasureHintVisible(false);
    if (OnDragLenEnd) OnDragLenEnd(this, FLastValue);
    return;
  }
  const int made = AddNewObject(FTemplate);
  UnselectAll();
  SelectObject(made);
  if (FMaking == rvokText) StartEditing(made);
  else DoVectorialChanged();
  if (OnNewObject) OnNewObject(this, made);
}

void TRastrumVect::SelectClick(platform::TShiftState Shift, QPoint At) {
  const bool shift = (Shift & platform::ssShift) != 0;
  double distance;
  const int h = FindObjectAt(At.x(), At.y(), true, distance);
  if (h < 0) {
    if (!shift) UnselectAll();
    return;
  }
  if (OnObjectClick) OnObjectClick(this, h);
  if (!IsSelected(h)) {
    if (!shift) UnselectAll();
    SelectObject(h);
  } else if (!shift) {
    UnselectAll();
    SelectObject(h);
  } else {
    UnselectObject(h);
  }
}

void TRastrumVect::EndInteraction() {
  FMaking = rvokNone;
  FMeasuring = false;
  FPolyline = FAngle = -3;
  FGrip = 0;
  FBand = false;
  SetOverlay(0, {}, {});
  if (FEditing >= 0) {
    EndEditing();
    Update();
  }
}

// ------------------------------------------------------------ keys and text

void TRastrumVect::KeyDown(int& Key, platform::TShiftState Shift) {
  if (Key == Qt::Key_Escape && FEditing >= 0) {
    EndEditing();
    Update();
  } else if (Key == Qt::Key_F2 && !FSelected.empty() &&
             FObjects[static_cast<std::size_t>(FSelected.front())].Kind == rvokText) {
    StartEditing(FSelected.front());
  }
  TRastrumView::KeyDown(Key, Shift);
}

void TRastrumVect::StartEditing(int hobj) {
  const int h = Resolve(hobj);
  if (h < 0 || FObjects[static_cast<std::size_t>(h)].Kind != rvokText) return;
  if (FEditing >= 0 && FEditing != h) EndEditing();
  FEditing = h;
  PlaceTextEditor();
  FEditor->setFocus();
  FEditor->setText(QString::fromStdString(FObjects[static_cast<std::size_t>(h)].Text.value_or(std::string())));
  FEditor->show();
  Update();
}

void TRastrumVect::PlaceTextEditor() {
  if (FEditing < 0 || FEditor == nullptr) return;
  const TRvVObject& o = FObjects[static_cast<std::size_t>(FEditing)];
  const TClientBox b = ClientBox(o);
  const int f = FrameWidth();
  auto cut = [](double v) { return static_cast<int>(std::clamp(v, -1e6, 1e6)); };
  FEditor->setGeometry(cut(b.X1) + f, cut(b.Y1) + f, std::max(1, cut(b.X2 + 1 - b.X1)), std::max(1, cut(b.Y2 + 1 - b.Y1)));
  QPalette palette = FEditor->palette();
  palette.setColor(QPalette::Text, QColor::fromRgb(platform::ColorToQRgb(o.PenColor)));
  palette.setColor(QPalette::Base, QColor::fromRgb(platform::ColorToQRgb(
                                       o.BrushStyle == platform::bsSolid ? o.BrushColor : GetBackground())));
  FEditor->setPalette(palette);
  const TRvLogFont lf = o.Font.value_or(TRvLogFont{});
  QFont font(QString::fromStdString(lf.FaceName()));
  const double height = lf.lfHeight != 0 ? std::fabs(lf.lfHeight * (Zoom() / 100.0)) : b.Y2 - b.Y1;
  font.setPixelSize(std::clamp(static_cast<int>(height), 1, 2048));
  font.setBold(lf.lfWeight >= 700);
  font.setItalic(lf.lfItalic != 0);
  font.setUnderline(lf.lfUnderline != 0);
  font.setStrikeOut(lf.lfStrikeOut != 0);
  FEditor->setFont(font);
}

int TRastrumVect::PictureWidth(int ClientPixels) const { return RvNearest(ClientPixels * PicturePerClient()); }

void TRastrumVect::EditorChanged() {
  if (FEditing < 0) return;
  TRvVObject& o = FObjects[static_cast<std::size_t>(FEditing)];
  if (!o.AutoSize) return;
  ObjectsChanged();
  const QFontMetrics fm(FEditor->font());
  const int w = fm.horizontalAdvance(FEditor->text());
  FEditor->resize(std::max(w, 1), FEditor->height());
  o.Right = Shifted(o.Left, PictureWidth(w + fm.horizontalAdvance(QStringLiteral("M"))));
  Update();
}

void TRastrumVect::EndEditing() {
  if (FEditing < 0 || FEditor == nullptr) return;
  TRvVObject& o = FObjects[static_cast<std::size_t>(FEditing)];
  o.Text = FEditor->text().toStdString();
  ObjectsChanged();
  if (o.AutoSize) o.Right = Shifted(o.Left, PictureWidth(QFontMetrics(FEditor->font()).horizontalAdvance(FEditor->text())));
  FEditing = -1;
  FEditor->hide();
  if (!FDestroying) setFocus();
  DoVectorialChanged();
}

} // namespace rv
