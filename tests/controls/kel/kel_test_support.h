// What the control library's tests share: a picture filled with one colour
// to draw on and read back, screen pixels as colours, and synthetic mouse
// events.
#pragma once

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include "platform/graphics.h"

struct TPicture {
  TPicture(int w, int h, platform::TColor c) : Bitmap(w, h, platform::pf32bit) {
    Bitmap.Canvas().Brush = platform::TBrush{c, platform::bsSolid, {}};
    Bitmap.Canvas().FillRect(platform::Rect(0, 0, w, h));
  }
  platform::TColor operator()(int x, int y) { return Bitmap.Canvas().Pixels(x, y); }
  int Count(platform::TColor c) {
    int n = 0;
    for (int y = 0; y < Bitmap.Height(); ++y)
      for (int x = 0; x < Bitmap.Width(); ++x) n += (*this)(x, y) == c;
    return n;
  }
  platform::TCanvas& C() { return Bitmap.Canvas(); }
  platform::TBitmap Bitmap;
};

inline platform::TColor PixelColor(const QImage& image, int x, int y) {
  const QRgb c = image.pixel(x, y);
  return platform::TColor(qRed(c) | qGreen(c) << 8 | qBlue(c) << 16);
}

// A left-button event at a point of target; a move carries the held button.
inline void SendMouse(QWidget* target, QEvent::Type type, QPoint at) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}
