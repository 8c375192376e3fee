// The application object of the benchmarks: one for all, able to show
// widgets, offscreen when there is no display.
#pragma once

#include <QtWidgets/QApplication>

#include <cstdlib>

namespace bench {

inline QApplication& App() {
  static QApplication* app = [] {
    if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "pictrova_bench";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

} // namespace bench
