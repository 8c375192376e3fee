// The overlays of the vector layer, painted over the back buffer in the
// paint event: grips, rubber bands, previews and the measure hint. Each
// change repaints only the rectangles it covered and covers.
#include "image/views/rastrumvect.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "image/model/rvdib.h"

namespace rv {

// ------------------------------------------------------------ grips

// The grips drawn for the selected objects on the screen: squares at the
// corners (lines and rulers only at their ends, gauges none) and a diamond
// at the centre; Index 3 is the diamond. Grips off the client are left out.
std::vector<std::pair<int, QPoint>> TRastrumVect::ShownGrips() const {
  std::vector<std::pair<int, QPoint>> shown;
  const int room = GripHalf() + std::max(GripPenWidth, 1) + 1;
  const QRect client = QRect(0, 0, ExtentX(), ExtentY()).adjusted(-room, -room, room, room);
  for (int hobj : FSelected) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(hobj)];
    if (!BoxOnScreen(o)) continue;
    QPoint g[6];
    GripPositions(o, g);
    for (int i : {1, 2, 4, 5, 3}) {
      const bool square = i != 3 && o.Kind != rvokAngle && (i <= 2 || (o.Kind != rvokLine && o.Kind != rvokRuler));
      if ((square || i == 3) && client.contains(g[i])) shown.emplace_back(i, g[i]);
    }
  }
  return shown;
}

// A grip's half size within what a screen can show.
int TRastrumVect::GripHalf() const { return std::clamp(GripSize, 0, 256); }

std::vector<QRect> TRastrumVect::GripRects() const {
  std::vector<QRect> rects;
  const int h = GripHalf(), pw = std::clamp(GripPenWidth, 1, 256);
  for (const auto& [grip, at] : ShownGrips()) {
    const int pen = grip == 3 ? 1 : pw;
    rects.push_back(QRect(at.x() - h - pen, at.y() - h - pen, 2 * (h + pen) + 1, 2 * (h + pen) + 1));
  }
  return rects;
}

// Inverted squares at the corners and a diamond at the centre of every
// selected object on the screen.
void TRastrumVect::DrawGrips(QPainter& P) {
  if (FSelected.empty()) return;
  platform::TCanvas canvas(&P);
  canvas.Pen.Mode = platform::pmNot;
  canvas.Brush.Style = platform::bsClear;
  const int h = GripHalf();
  for (const auto& [grip, at] : ShownGrips()) {
    const int cx = at.x(), cy = at.y();
    if (grip != 3) {
      canvas.Pen.Width = std::clamp(GripPenWidth, 1, 256);
      canvas.Pen.Style = GripPenStyle;
      canvas.Rectangle(cx - h, cy - h, cx + h, cy + h);
      continue;
    }
    canvas.Pen.Width = 1;
    canvas.Pen.Style = platform::psSolid;
    const platform::TPoint diamond[] = {{cx, cy - h}, {cx + h, cy}, {cx, cy + h}, {cx - h, cy}, {cx, cy - h}};
    canvas.Polyline(diamond, 5);
  }
}

void TRastrumVect::InvalidateRects(const std::vector<QRect>& Rects) {
  if (Rects.size() > 64) {
    Invalidate();
    return;
  }
  const int f = FrameWidth();
  for (const QRect& r : Rects)
    if (!r.isEmpty()) QWidget::update(r.translated(f, f));
}

void TRastrumVect::InvalidateGrips() {
  if (!FSelected.empty()) InvalidateRects(GripRects());
}

// ------------------------------------------------------------ overlays

TRvVObject TRastrumVect::PreviewObject() const {
  TRvVObject o;
  if (FOverlay == 4) {
    o.Kind = rvokRuler;
    o.RulerType = FTemplate.RulerType;
    o.RulerUnit = FTemplate.RulerUnit;
    o.PenWidth = FTemplate.PenWidth;
    o.PenColor = FTemplate.PenColor;
    o.Left = ScreenToBitmapX(FOverlayA.x());
    o.Top = ScreenToBitmapY(FOverlayA.y());
    o.Right = ScreenToBitmapX(FOverlayB.x());
    o.Bottom = ScreenToBitmapY(FOverlayB.y());
  } else if (FOverlay == 5 && Record(FAngle) != nullptr) {
    o = *Record(FAngle);
    const int placed = RvPlacedPoints(o);
    if (placed > 0 && placed < 3)
      o.AnglePoints[static_cast<std::size_t>(placed)] = {ScreenToBitmapX(FOverlayB.x()), ScreenToBitmapY(FOverlayB.y())};
  }
  return o;
}

std::vector<QRect> TRastrumVect::OverlayRects() const {
  const QRect r = QRect(FOverlayA, FOverlayB).normalized();
  switch (FOverlay) {
    case 1:
    case 3: return {r.adjusted(-2, -2, 2, 2)};
    case 2:
      // Only the four edges of a rubber band change.
      return {QRect(r.left() - 1, r.top() - 1, r.width() + 2, 3), QRect(r.left() - 1, r.bottom() - 1, r.width() + 2, 3),
              QRect(r.left() - 1, r.top() - 1, 3, r.height() + 2), QRect(r.right() - 1, r.top() - 1, 3, r.height() + 2)};
    case 4:
    case 5: return {PaintedBounds(PreviewObject(), Mapping())};
    default: return {};
  }
}

void TRastrumVect::SetOverlay(int Kind, QPoint A, QPoint B) {
  if (Kind == FOverlay && A == FOverlayA && B == FOverlayB) return;
  InvalidateRects(OverlayRects());
  FOverlay = Kind;
  FOverlayA = A;
  FOverlayB = B;
  InvalidateRects(OverlayRects());
}

void TRastrumVect::DrawOverlays(QPainter& P) {
  P.setClipRect(QRect(0, 0, ExtentX(), ExtentY()), Qt::IntersectClip);
  DrawGrips(P);
  platform::TCanvas canvas(&P);
  canvas.Pen.Mode = platform::pmNot;
  canvas.Pen.Width = 1;
  canvas.Brush.Style = platform::bsClear;
  const QPoint a = FOverlayA, b = FOverlayB;
  switch (FOverlay) {
    case 1:
      canvas.MoveTo(a.x(), a.y());
      canvas.LineTo(b.x(), b.y());
      break;
    case 2: canvas.Rectangle(a.x(), a.y(), b.x(), b.y()); break;
    case 3: canvas.Ellipse(a.x(), a.y(), b.x(), b.y()); break;
    case 4:
    case 5: {
      const TRvVObject o = PreviewObject();
      if (o.Kind == rvokRuler || o.Kind == rvokAngle) DrawObjectPreview(P, o);
      break;
    }
    default: break;
  }
  if (FHintShown) {
    canvas.Pen.Mode = platform::pmCopy;
    canvas.Brush = MeasureHintBrush;
    int x = FHintRect.x(), y = FHintRect.y();
    RvDrawHintBox(canvas, x, y, ExtentX(), ExtentY(), MeasureHintColor1, MeasureHintColor2, FHintText, FHintFont,
                  nullptr);
  }
}

void TRastrumVect::Paint() {
  TRastrumView::Paint();
  if (platform::TCanvas* canvas = GetCanvas()) canvas->Paint([&](QPainter& P) { DrawOverlays(P); });
}

// ------------------------------------------------------------ measure hint

void TRastrumVect::SetMeasureHintFont(const platform::TFont& Value) {
  FHintFont = Value;
  RefreshMeasureHint();
}

void TRastrumVect::SetMeasureHintVisible(bool Value) {
  if (Value == FHintVisible) return;
  if (!Value) RemoveMeasureHint();
  FHintVisible = Value;
}

void TRastrumVect::RemoveMeasureHint() {
  if (!FHintShown) return;
  FHintShown = false;
  InvalidateRects({FHintRect});
}

void TRastrumVect::ShowMeasureHint(int X, int Y) {
  if (!FHintVisible) return;
  if (X == -1000000) X = FHintPos.x();
  if (Y == -1000000) Y = FHintPos.y();
  X = std::max(X, 0);
  Y = std::max(Y, 0);
  double value;
  bool area = false;
  if (FVectInteract & mviMeasureArea) {
    value = MeasureSelectionArea();
    area = true;
  } else if (FVectInteract & mviMeasurePerimeter) {
    value = MeasureSelectionPerimeter();
  } else if (FVectInteract & mviMeasureDrag) {
    value = DragMeasure(X, Y);
  } else {
    return;
  }
  if (value == 0) value = FLastValue;
  FLastValue = value;
  std::string text = area ? AreaText(value) : LengthText(value);
  if (OnMeasureHint) OnMeasureHint(this, text, value);
  RemoveMeasureHint();
  // Placed as the hint box places itself: inside the client, 12 pixels off
  // its right and bottom edge.
  const QFont font = FHintFont.ToQFont();
  const QFontMetrics fm(font);
  const int w = fm.horizontalAdvance(QString::fromStdString(text)) + 12, h = fm.height() + 12;
  if (X > ExtentX() - (w + 12)) X = ExtentX() - (w + 12);
  if (Y > ExtentY() - (h + 12)) Y = ExtentY() - (h + 12);
  X = std::max(X, 0);
  Y = std::max(Y, 0);
  FHintPos = QPoint(X, Y);
  FHintText = std::move(text);
  FHintRect = QRect(X, Y, w, h);
  FHintShown = true;
  InvalidateRects({FHintRect});
}

void TRastrumVect::RefreshMeasureHint() {
  RemoveMeasureHint();
  ShowMeasureHint(-1000000, -1000000);
}

} // namespace rv
