// Shows a real picture at fit with a selection in a window on the display,
// takes a screenshot of the whole screen and checks its pixels: the picture
// against the same file decoded by Qt's own reader, the selection outline
// in its two colours, the background beside the picture.
// Usage: viewcheck <picture> <screenshot file>
#include <QApplication>
#include <QImageReader>
#include <cstdio>
#include <cstdlib>

#include "image/io/rastrumio.h"
#include "image/views/rastrumview.h"
#include "image/views/rvrender.h"
#include "screencheck.h"

namespace {

int Fail(const char* What) { return screencheck::Fail("VIEW CHECK", What); }

int Check(rv::TRastrumView& View, const QImage& Screen, const QImage& Reference) {
  const QPoint origin = View.mapToGlobal(QPoint(View.FrameWidth(), View.FrameWidth()));
  const platform::TRect src = View.SourceRect();
  const std::int64_t sx = rv::RvFixedStep(src.Width(), View.DestWidth());
  const std::int64_t sy = rv::RvFixedStep(src.Height(), View.DestHeight());
  const int w = std::min(View.DestWidth(), View.ExtentX()), h = std::min(View.DestHeight(), View.ExtentY());
  // The selection's outline and grips lie near the rectangle's edges.
  const int bx1 = View.BitmapToScreenX(View.SelX1()) - 8, bx2 = View.BitmapToScreenX(View.SelX2() + 1) + 8;
  const int by1 = View.BitmapToScreenY(View.SelY1()) - 8, by2 = View.BitmapToScreenY(View.SelY2() + 1) + 8;
  auto nearOutline = [&](int x, int y) {
    const bool inX = x >= bx1 && x <= bx2, inY = y >= by1 && y <= by2;
    return (inX && (std::abs(y - by1 - 8) <= 8 || std::abs(y - by2 + 8) <= 8)) ||
           (inY && (std::abs(x - bx1 - 8) <= 8 || std::abs(x - bx2 + 8) <= 8));
  };
  long compared = 0, close = 0;
  double total = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (nearOutline(x, y)) continue;
      const QRgb got = Screen.pixel(origin.x() + View.OffsetX() + x, origin.y() + View.OffsetY() + y);
      const QRgb want = Reference.pixel(src.Left + static_cast<int>((x * sx) >> 14),
                                        src.Top + static_cast<int>((y * sy) >> 14));
      const int d = std::max({std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                              std::abs(qBlue(got) - qBlue(want))});
      ++compared;
      total += d;
      if (d <= 12) ++close;
    }
  std::printf("picture: %ld pixels compared, %.3f %% within 12 levels, mean difference %.3f\n", compared,
              100.0 * close / compared, total / compared);
  if (compared < 100000 || close < compared * 0.99 || total / compared > 3) return Fail("picture pixels");

  // The outline's top edge, on the first client row that shows the
  // selection's first bitmap row: black and white dashes only.
  int top = 0;
  while (src.Top + static_cast<int>((top * sy) >> 14) < View.SelY1()) ++top;
  top += View.OffsetY();
  int dashes = 0, edge = 0;
  for (int x = View.BitmapToScreenX(View.SelX1()) + 10; x < View.BitmapToScreenX(View.SelX2()) - 10; ++x, ++edge) {
    const QRgb c = Screen.pixel(origin.x() + x, origin.y() + top) & 0xFFFFFF;
    if (c == 0 || c == 0xFFFFFF) ++dashes;
  }
  std::printf("outline: %d of %d pixels black or white\n", dashes, edge);
  if (edge < 50 || dashes < edge * 0.95) return Fail("selection outline");

  // Below the fitted picture: the button-face background.
  if (View.DestHeight() + 2 < View.ExtentY()) {
    const QRgb c = Screen.pixel(origin.x() + 10, origin.y() + View.ExtentY() - 2) & 0xFFFFFF;
    std::printf("background: %06x\n", c);
    if (c != 0xD4D0C8) return Fail("background");
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: viewcheck <picture> <screenshot file>");
  QApplication app(argc, argv);
  const QString picture = QString::fromLocal8Bit(argv[1]), shotFile = QString::fromLocal8Bit(argv[2]);
  QImageReader reader(picture);
  reader.setAutoTransform(false);
  const QImage reference = reader.read().convertToFormat(QImage::Format_RGB32);
  if (reference.isNull()) return Fail("the reference decoder cannot read the picture");

  QWidget window;
  window.setGeometry(0, 0, 800, 600);
  rv::TRastrumView view(&window);
  view.setGeometry(0, 0, 800, 600);
  view.GetIO()->LoadFromFile(argv[1]);
  if (view.GetBitmap()->Width() != reference.width()) return Fail("the picture did not load");
  view.Fit();
  view.SetSelectionBase(rv::rvsbBitmap);
  const int w = reference.width(), h = reference.height();
  view.SelectRect(w / 4, h / 4, w / 2, h / 2, 0);
  window.show();

  // The outline shows once the view has settled after the fit.
  return screencheck::ShootWhenSettled(app, view, shotFile, "VIEW CHECK",
                                       [&](const QImage& Screen) { return Check(view, Screen, reference); });
}
