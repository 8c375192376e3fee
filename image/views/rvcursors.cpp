// The picture view's eighteen cursors, drawn here: magnifiers, crosses,
// eraser, hand, pen and the arrows of moving and resizing. Black strokes on
// a white halo, so that they show on any picture.
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "image/views/rastrumview.h"

namespace rv {

namespace {

QCursor Make(const QPainterPath& Path, int HotX, int HotY) {
  QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.strokePath(Path, QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.strokePath(Path, QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.end();
  return QCursor(QPixmap::fromImage(image), HotX, HotY);
}

void Line(QPainterPath& P, double X1, double Y1, double X2, double Y2) {
  P.moveTo(X1, Y1);
  P.lineTo(X2, Y2);
}

// A double arrow from (X1, Y1) to (X2, Y2) with heads at both ends.
void Arrow(QPainterPath& P, double X1, double Y1, double X2, double Y2) {
  Line(P, X1, Y1, X2, Y2);
  const QLineF shaft(X1, Y1, X2, Y2);
  for (int end = 0; end < 2; ++end) {
    const QPointF tip = end == 0 ? shaft.p1() : shaft.p2();
    QLineF back = end == 0 ? shaft : QLineF(shaft.p2(), shaft.p1());
    back.setLength(5);
    QLineF left = back, right = back;
    left.setAngle(back.angle() + 35);
    right.setAngle(back.angle() - 35);
    Line(P, tip.x(), tip.y(), left.p2().x(), left.p2().y());
    Line(P, tip.x(), tip.y(), right.p2().x(), right.p2().y());
  }
}

void Magnifier(QPainterPath& P) {
  P.addEllipse(QPointF(12, 12), 8, 8);
  Line(P, 18, 18, 27, 27);
}

// A cross with an open centre around (15, 15); Gap 0 closes it.
void Cross(QPainterPath& P, int Gap, int Arm) {
  Line(P, 15 - Arm, 15, 15 - Gap, 15);
  Line(P, 15 + Gap, 15, 15 + Arm, 15);
  Line(P, 15, 15 - Arm, 15, 15 - Gap);
  Line(P, 15, 15 + Gap, 15, 15 + Arm);
}

void Plus(QPainterPath& P) {
  Line(P, 22, 26, 30, 26);
  Line(P, 26, 22, 26, 30);
}

void Minus(QPainterPath& P) { Line(P, 22, 26, 30, 26); }

void Cross3(QPainterPath& P) {
  Cross(P, 3, 11);
  P.addRect(14, 14, 2, 2);
}

void Cross2(QPainterPath& P) {
  Cross(P, 0, 11);
  P.addRect(11, 11, 8, 8);
}

} // namespace

void RvRegisterViewCursors() {
  if (platform::IsCursorRegistered(crRvZoomOut)) return;
  struct TEntry {
    platform::TCursor Number;
    int HotX, HotY;
    void (*Draw)(QPainterPath&);
  };
  static const TEntry entries[] = {
      {crRvZoomOut, 12, 12, [](QPainterPath& p) { Magnifier(p); Line(p, 8, 12, 16, 12); }},
      {crRvZoomIn, 12, 12, [](QPainterPath& p) { Magnifier(p); Line(p, 8, 12, 16, 12); Line(p, 12, 8, 12, 16); }},
      {crRvCross, 15, 15, [](QPainterPath& p) { Cross(p, 0, 15); }},
      {crRvEraser, 6, 26, [](QPainterPath& p) {
         p.moveTo(6, 26); p.lineTo(20, 12); p.lineTo(27, 19); p.lineTo(13, 33); p.closeSubpath();
         Line(p, 10, 22, 17, 29); }},
      {crRvHand, 15, 15, [](QPainterPath& p) {
         p.addRoundedRect(9, 14, 14, 12, 4, 4);
         for (int f = 0; f < 4; ++f) Line(p, 10 + 4 * f, 14, 10 + 4 * f, 5 + (f == 0 || f == 3 ? 3 : 0));
         Line(p, 23, 20, 28, 15); }},
      {crRvPen, 3, 28, [](QPainterPath& p) {
         p.moveTo(3, 28); p.lineTo(6, 21); p.lineTo(24, 3); p.lineTo(28, 7); p.lineTo(10, 25); p.closeSubpath(); }},
      {crRvCross1, 15, 15, [](QPainterPath& p) { Cross(p, 4, 15); }},
      {crRvCross3, 15, 15, Cross3},
      {crRvSizeNWSE, 15, 15, [](QPainterPath& p) { Arrow(p, 6, 6, 24, 24); }},
      {crRvSizeNS, 15, 15, [](QPainterPath& p) { Arrow(p, 15, 3, 15, 27); }},
      {crRvSizeNESW, 15, 15, [](QPainterPath& p) { Arrow(p, 24, 6, 6, 24); }},
      {crRvSizeWE, 15, 15, [](QPainterPath& p) { Arrow(p, 3, 15, 27, 15); }},
      {crRvMove, 15, 15, [](QPainterPath& p) { Arrow(p, 3, 15, 27, 15); Arrow(p, 15, 3, 15, 27); }},
      {crRvCross3Add, 15, 15, [](QPainterPath& p) { Cross3(p); Plus(p); }},
      {crRvCross3Sub, 15, 15, [](QPainterPath& p) { Cross3(p); Minus(p); }},
      {crRvCross2, 15, 15, Cross2},
      {crRvCross2Add, 15, 15, [](QPainterPath& p) { Cross2(p); Plus(p); }},
      {crRvCross2Sub, 15, 15, [](QPainterPath& p) { Cross2(p); Minus(p); }},
  };
  for (const TEntry& e : entries) {
    QPainterPath path;
    e.Draw(path);
    platform::RegisterCursor(e.Number, Make(path, e.HotX, e.HotY));
  }
}

} // namespace rv
