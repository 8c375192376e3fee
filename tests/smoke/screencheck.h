// What the screenshot checks of the picture views share: wait until a view
// has settled on the display, take a screenshot of the whole screen with
// ImageMagick's import and hand it to the check.
#pragma once

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "image/views/rastrumview.h"

namespace screencheck {

inline int Fail(const char* Prefix, const char* What) {
  std::fprintf(stderr, "%s FAILED: %s\n", Prefix, What);
  return 1;
}

// Runs App until View has settled after its last change (the fast-paint
// countdown over, then one more paint), shoots the screen into File and
// answers Check's result; 1 when no shot could be had or the view did not
// settle within 30 s.
inline int ShootWhenSettled(QApplication& App, rv::TRastrumView& View, const QString& File, const char* Prefix,
                            const std::function<int(const QImage&)>& Check) {
  int result = 2;
  bool asked = false;
  int paints = 0;
  View.OnPaint = [&](void*) { paints += asked; };
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (View.FastPaintCountdown() > 0) return;
    if (!asked) {
      asked = true;
      View.Invalidate();
      return;
    }
    if (paints < 1) return;
    poll.stop();
    QProcess import;
    import.start("import", {"-window", "root", File});
    if (!import.waitForFinished(20000) || import.exitCode() != 0) {
      result = Fail(Prefix, "import could not take the screenshot");
    } else {
      const QImage screen = QImage(File).convertToFormat(QImage::Format_RGB32);
      result = screen.isNull() ? Fail(Prefix, "no screenshot") : Check(screen);
    }
    App.quit();
  });
  poll.start();
  QTimer::singleShot(30000, &App, [&] {
    result = Fail(Prefix, "the view did not settle within 30 s");
    App.quit();
  });
  App.exec();
  View.OnPaint = nullptr;
  return result;
}

} // namespace screencheck
