// Shared by the thumbnail view's tests: pictures with marked corners, files
// of them, grabbing the rendered view, and waiting for the loader.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "image/io/rastrumio.h"
#include "image/model/rvbitmap.h"
#include "image/views/rvmview.h"

namespace mviewtest {

inline void Put(rv::TRvBitmap& B, int X, int Y, std::uint32_t Rgb) {
  std::uint8_t* p = B.Scanline(Y) + 3 * X;
  p[0] = static_cast<std::uint8_t>(Rgb);
  p[1] = static_cast<std::uint8_t>(Rgb >> 8);
  p[2] = static_cast<std::uint8_t>(Rgb >> 16);
}

inline constexpr std::uint32_t TopLeft = 0xFF0000, TopRight = 0x00FF00, BottomLeft = 0x0000FF,
                               BottomRight = 0xFFFFFF;

// W x H filled with Fill (0x00RRGGBB); Mark x Mark blocks in the corners:
// red top left, green top right, blue bottom left, white bottom right.
inline void MarkedPicture(rv::TRvBitmap& B, int W, int H, std::uint32_t Fill, int Mark = 8) {
  B.Allocate(W, H, rv::rvpf24Bit);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool left = x < Mark, right = x >= W - Mark, top = y < Mark, bottom = y >= H - Mark;
      Put(B, x, y,
          top && left       ? TopLeft
          : top && right    ? TopRight
          : bottom && left  ? BottomLeft
          : bottom && right ? BottomRight
                            : Fill);
    }
}

// Saves a marked picture in the format of the name's extension.
inline void SaveMarked(const std::string& FileName, int W, int H, std::uint32_t Fill) {
  rv::TRastrumIO io;
  MarkedPicture(*io.RvBitmap(), W, H, Fill);
  io.SaveToFile(FileName);
  ASSERT_FALSE(io.Aborting.load()) << FileName;
}

// The view as painted, one 0x00RRGGBB value per pixel, client origin at 0,0
// (the tests give their views no frame).
inline QImage Grab(rv::TRastrumMView& View) {
  return View.grab().toImage().convertToFormat(QImage::Format_RGB32);
}
inline std::uint32_t At(const QImage& Image, int X, int Y) { return Image.pixel(X, Y) & 0xFFFFFF; }

// Serves queued calls until Done holds or the deadline passes.
inline bool WaitFor(const std::function<bool()>& Done, int Milliseconds = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!Done()) {
    if (timer.elapsed() > Milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// A frameless view with the cell geometry most tests use: 50 x 40 cells,
// borders of 4, so cells step by 54 across and 44 down.
inline void Shape(rv::TRastrumMView& View, int Width, int Height, int Grid) {
  View.SetBorderStyle(rv::bsNone);
  View.resize(Width, Height);
  View.SetThumbWidth(50);
  View.SetThumbHeight(40);
  View.SetGridWidth(Grid);
}

} // namespace mviewtest
