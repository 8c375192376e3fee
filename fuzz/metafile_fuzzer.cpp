// Metafiles come from any file with a metafile extension: arbitrary bytes must
// load or be refused, and a loaded one must play onto a small picture without
// reading outside its records.
#include "platform/metafile.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdlib>

namespace {
// Text needs the GUI application's font database; the first input makes one.
// It lives until the process ends: destroyed at exit, it would leave the font
// caches it owns unreachable.
void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 0;
  static char* argv[] = {nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}
} // namespace

// The font configuration library keeps its caches for the life of the
// process; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnsureApplication();
  platform::TMetafile metafile;
  try {
    metafile.LoadFromBytes(data, size);
  } catch (const platform::EInvalidGraphic&) {
    return 0;
  }
  if (metafile.Width() <= 0 || metafile.Height() <= 0) std::abort();
  QImage target(48, 32, QImage::Format_RGB32);
  target.fill(Qt::white);
  QPainter painter(&target);
  metafile.Draw(painter, QRect(0, 0, 48, 32));
  return 0;
}
