// Small guards of the shell views: the hourglass while the shell works, and
// a depth count that marks changes of the view's own making.
#pragma once

#include <QtWidgets/QApplication>

namespace sx {

struct TSxWaitCursor {
  TSxWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TSxWaitCursor() { QApplication::restoreOverrideCursor(); }
  TSxWaitCursor(const TSxWaitCursor&) = delete;
  TSxWaitCursor& operator=(const TSxWaitCursor&) = delete;
};

struct TSxBusy {
  explicit TSxBusy(int& Depth) : FDepth(Depth) { ++FDepth; }
  ~TSxBusy() { --FDepth; }
  TSxBusy(const TSxBusy&) = delete;
  TSxBusy& operator=(const TSxBusy&) = delete;

private:
  int& FDepth;
};

} // namespace sx
