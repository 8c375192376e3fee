// What the picture-view tests share: a view without frame at a chosen size,
// shown on the offscreen platform, and pictures whose every pixel tells
// where it lies, so that an offset, a flip or a wrong step shows; and the
// synthetic clicks and keys that drive windows.
#pragma once

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <memory>

#include "image/views/rastrumview.h"

namespace viewtest {

// A left click in the middle of W.
inline void Click(QWidget* W) {
  const QPointF at(W->width() / 2.0, W->height() / 2.0);
  const QPointF global = W->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(W, &press);
  QApplication::sendEvent(W, &release);
}

inline void Key(QWidget* W, int K, const QString& Text = {}) {
  QKeyEvent press(QEvent::KeyPress, K, Qt::NoModifier, Text);
  QKeyEvent release(QEvent::KeyRelease, K, Qt::NoModifier, Text);
  QApplication::sendEvent(W, &press);
  QApplication::sendEvent(W, &release);
}

// Replaces a field's text as a user would: select all, type.
inline void Type(QLineEdit* E, const QString& Text) {
  E->selectAll();
  for (QChar c : Text) Key(E, c.unicode(), QString(c));
}

// Red 0x80, green the row, blue the column (both modulo 256).
inline QRgb MarkedPixel(int X, int Y) { return qRgb(0x80, Y & 255, X & 255); }

inline void FillMarked(platform::TBitmap& Bitmap, int Width, int Height) {
  Bitmap.SetPixelFormat(platform::pf24bit);
  Bitmap.SetSize(Width, Height);
  for (int y = 0; y < Height; ++y) {
    std::uint8_t* row = Bitmap.ScanLine(y);
    for (int x = 0; x < Width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x);
      row[3 * x + 1] = static_cast<std::uint8_t>(y);
      row[3 * x + 2] = 0x80;
    }
  }
}

// A shown view of ClientWidth x ClientHeight without frame, holding a
// marked picture of PictureWidth x PictureHeight.
inline std::unique_ptr<rv::TRastrumView> MakeView(int ClientWidth, int ClientHeight,
                                                  int PictureWidth, int PictureHeight) {
  auto view = std::make_unique<rv::TRastrumView>();
  view->SetBorderStyle(rv::bsNone);
  view->SetBackground(platform::clLime);
  view->resize(ClientWidth, ClientHeight);
  view->show();
  platform::TBitmap picture;
  FillMarked(picture, PictureWidth, PictureHeight);
  view->Assign(&picture);
  return view;
}

inline QImage Shot(rv::TRastrumView& View) {
  return View.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb At(const QImage& Image, int X, int Y) { return Image.pixel(X, Y) & 0xFFFFFFu; }
inline QRgb Rgb(QRgb C) { return C & 0xFFFFFFu; }

} // namespace viewtest
