// Shows a shaped window (round rectangle, raised border, tracing shadow, a
// teal fill) on the display and checks a screenshot of the whole screen: the
// root window shows through the cut corners, the border runs along the
// edge, the shadow is a checkerboard and the client area is filled.
// Usage: shapecheck <folder for the screenshots>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <cstdio>

#include "controls/kel/kelformshape.h"

namespace {

QImage Screenshot(const QString& file) {
  QProcess import;
  import.start("import", {"-window", "root", file});
  if (!import.waitForFinished(20000) || import.exitCode() != 0) return QImage();
  return QImage(file).convertToFormat(QImage::Format_RGB32);
}

QRgb Rgb(platform::TColor c) { return platform::ColorToQRgb(c) | 0xFF000000u; }

// What is wrong with the screen, or empty when all is as it should be.
QString Check(const QImage& before, const QImage& after, QPoint origin, QPoint client, QSize inside) {
  const auto at = [&](int x, int y) { return after.pixel(origin.x() + x, origin.y() + y); };
  const auto root = [&](int x, int y) { return before.pixel(origin.x() + x, origin.y() + y); };
  // The frame area and the round corner below left are cut.
  for (const QPoint p : {QPoint(1, 298), QPoint(8, 290), QPoint(398, 2 + 30 + 4)})
    if (at(p.x(), p.y()) != root(p.x(), p.y())) return QString("not cut at %1,%2").arg(p.x()).arg(p.y());
  // Inside: the fill.
  if (at(200, 150) != Rgb(platform::clTeal)) return "no fill inside";
  // The raised border: light on the left edge, shadow colour at the bottom.
  const int cx = client.x(), cy = client.y();
  if (at(cx + 1, 150) != Rgb(platform::clBtnHighlight)) return "no light border on the left edge";
  if (at(cx + inside.width() / 2, cy + inside.height() - 1) != Rgb(platform::clBtnShadow))
    return "no shadow border along the bottom";
  // The tracing shadow below: neighbours alternate.
  const int y = cy + inside.height() + 3, x = cx + inside.width() / 2;
  if (at(x, y) == at(x + 1, y) || at(x, y) != at(x + 1, y + 1)) return "no checkerboard shadow";
  return {};
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: shapecheck <folder>\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  const QImage before = Screenshot(folder + "/before.png");
  if (before.isNull()) {
    std::fprintf(stderr, "SHAPE CHECK FAILED: import could not take the screenshot\n");
    return 1;
  }

  QWidget form;
  form.setWindowTitle("Shaped");
  form.setGeometry(100, 100, 400, 300);
  kel::TKelFormShape shape(&form);
  shape.Region().SetRoundX(60);
  shape.Region().SetRoundY(60);
  shape.Region().Border().SetStyle(kel::rbRaised);
  shape.Region().Shadow().SetStyle(kel::hssTracing);
  shape.Region().Shadow().SetColor(platform::clBlack);
  shape.Region().Shadow().SetDepth(6);
  shape.FillObject().SetStyle(kel::sfBrush);
  shape.FillObject().SetBrushColor(platform::clTeal);
  form.show();

  // The border is drawn on the client rectangle less the shadow's depth.
  const platform::TRect client = shape.ClientRect();
  const QSize inside(client.Width() - 6, client.Height() - 6);
  int result = 1;
  QString problem = "the window did not show";
  QElapsedTimer clock;
  clock.start();
  QTimer poll;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const QImage after = Screenshot(folder + "/after.png");
    problem = after.isNull() ? "no screenshot" : Check(before, after, form.geometry().topLeft(), shape.ClientOrigin(), inside);
    if (problem.isEmpty()) result = 0;
    if (problem.isEmpty() || clock.elapsed() > 30000) app.quit();
  });
  poll.start();
  app.exec();
  if (result != 0) std::fprintf(stderr, "SHAPE CHECK FAILED: %s\n", qPrintable(problem));
  else std::printf("shaped window: cut corners, border, shadow and fill as drawn\n");
  return result;
}
