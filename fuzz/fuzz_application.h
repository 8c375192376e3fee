// Set-up shared by the fuzzers that draw or make widgets: Qt's application
// object, made by the first input, offscreen.
#pragma once

#include <QCoreApplication>
#include <cstdlib>

// It lives until the process ends: destroyed at exit, it would leave the
// font caches it owns unreachable.
template <class TApp>
void EnsureFuzzApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 0;
  static char* argv[] = {nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static TApp* app = new TApp(argc, argv);
  (void)app;
}

// The font configuration library keeps its caches for the life of the
// process; they are not leaks of ours. (One fuzzer per program includes this.)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
