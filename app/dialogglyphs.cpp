#include "app/dialogglyphs.h"

#include "platform/graphics.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace app {

namespace {

const QColor Key(128, 128, 0);
// Black: a disabled button embosses only a glyph's black pixels.
const QColor Ink(0, 0, 0);
const QColor Folder(224, 192, 64);

void Arrowhead(QPainter& p, QPointF tip, QPointF back) {
  const QPointF d = tip - back;
  const QPointF n(-d.y(), d.x());
  QPainterPath head;
  head.moveTo(tip);
  head.lineTo(back + n * 0.6);
  head.lineTo(back - n * 0.6);
  head.closeSubpath();
  p.fillPath(head, Ink);
}

void Turn(QPainter& p, bool clockwise, int span) {
  p.setPen(QPen(Ink, 1.6));
  const QRectF circle(3, 3, 10, 10);
  // Qt counts angles counter-clockwise from three o'clock.
  p.drawArc(circle, 90 * 16, (clockwise ? -span : span) * 16);
  const double end = (90.0 + (clockwise ? -span : span)) * M_PI / 180.0;
  const QPointF at(8 + 5 * std::cos(end), 8 - 5 * std::sin(end));
  const QPointF along = clockwise ? QPointF(std::sin(end), std::cos(end)) : QPointF(-std::sin(end), -std::cos(end));
  Arrowhead(p, at + along * 2.5, at - along * 1.5);
}

void Mirror(QPainter& p, bool horizontal) {
  p.save();
  if (!horizontal) {
    p.translate(16, 0);
    p.rotate(90);
  }
  QPainterPath left, right;
  left.moveTo(7, 3);
  left.lineTo(7, 13);
  left.lineTo(2, 13);
  left.closeSubpath();
  right.moveTo(9, 3);
  right.lineTo(9, 13);
  right.lineTo(14, 13);
  right.closeSubpath();
  p.fillPath(left, Ink);
  p.setPen(QPen(Ink, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(right);
  p.restore();
}

void FolderShape(QPainter& p) {
  p.setPen(QPen(QColor(96, 64, 0), 1));
  p.setBrush(Folder);
  p.drawRect(QRectF(1.5, 5.5, 12, 8));
  p.drawRect(QRectF(1.5, 3.5, 5, 2));
}

} // namespace

void MakeDialogGlyph(TDialogGlyph Kind, platform::TBitmap& Glyph) {
  const int size = Kind == dgSliderButton ? 11 : 16;
  QImage image(size, size, QImage::Format_RGB32);
  image.fill(Key);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, Kind != dgSliderButton);
  switch (Kind) {
    case dgRotateCW: Turn(p, true, 270); break;
    case dgRotateCCW: Turn(p, false, 270); break;
    case dgRotate180: Turn(p, true, 180); break;
    case dgFlipHorizontal: Mirror(p, true); break;
    case dgFlipVertical: Mirror(p, false); break;
    case dgResize:
      p.setPen(QPen(Ink, 1));
      p.drawRect(QRectF(1.5, 1.5, 12, 12));
      p.fillRect(QRectF(2, 2, 6, 6), Ink);
      Arrowhead(p, QPointF(13, 13), QPointF(9, 9));
      break;
    case dgResetSizes:
      p.setPen(QPen(Ink, 1));
      p.drawRect(QRectF(3.5, 3.5, 9, 9));
      Turn(p, false, 200);
      break;
    case dgNewFolder:
      FolderShape(p);
      p.setPen(QPen(QColor(255, 255, 255), 1.5));
      p.drawLine(QPointF(11, 1), QPointF(11, 7));
      p.drawLine(QPointF(8, 4), QPointF(14, 4));
      break;
    case dgUpOneLevel:
      FolderShape(p);
      p.setPen(QPen(Ink, 1.5));
      p.drawLine(QPointF(8, 12), QPointF(8, 7));
      Arrowhead(p, QPointF(8, 4), QPointF(8, 7.5));
      break;
    case dgViewMenu:
      for (int row = 0; row < 3; ++row) {
        p.fillRect(QRectF(2, 3 + row * 4, 3, 3), Ink);
        p.fillRect(QRectF(6, 4 + row * 4, 8, 1), Ink);
      }
      break;
    case dgSliderButton:
      p.fillRect(QRect(1, 7, 9, 1), Ink);
      for (int row = 0; row < 4; ++row) p.fillRect(QRect(2 + row, 1 + row, 7 - 2 * row, 1), Ink);
      break;
  }
  p.end();
  // The transparent colour is the lower-left pixel.
  image.setPixel(0, size - 1, Key.rgb());
  Glyph.SetImage(image);
}

} // namespace app
