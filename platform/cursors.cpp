#include "platform/cursors.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <map>

namespace platform {

namespace {

std::map<TCursor, QCursor>& Table() {
  static std::map<TCursor, QCursor> table;
  return table;
}

TCursor gScreenCursor = crDefault;

Qt::CursorShape SystemShape(TCursor Number) {
  switch (Number) {
    case crNone: return Qt::BlankCursor;
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crUpArrow: return Qt::UpArrowCursor;
    case crHourGlass:
    case crSQLWait: return Qt::WaitCursor;
    case crDrag:
    case crMultiDrag: return Qt::DragCopyCursor;
    case crNoDrop:
    case crNo: return Qt::ForbiddenCursor;
    case crHSplit: return Qt::SplitHCursor;
    case crVSplit: return Qt::SplitVCursor;
    case crAppStart: return Qt::BusyCursor;
    case crHelp: return Qt::WhatsThisCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

} // namespace

void RegisterCursor(TCursor Number, const QCursor& Cursor) { Table()[Number] = Cursor; }

bool IsCursorRegistered(TCursor Number) { return Table().count(Number) != 0; }

QCursor CursorOf(TCursor Number) {
  auto it = Table().find(Number);
  if (it != Table().end()) return it->second;
  return QCursor(SystemShape(Number));
}

void SetControlCursor(QWidget* Control, TCursor Number) {
  if (Control == nullptr) return;
  if (Number == crDefault)
    Control->unsetCursor();
  else
    Control->setCursor(CursorOf(Number));
}

void SetScreenCursor(TCursor Number) {
  if (Number == gScreenCursor) return;
  if (gScreenCursor != crDefault) QGuiApplication::restoreOverrideCursor();
  gScreenCursor = Number;
  if (Number != crDefault) QGuiApplication::setOverrideCursor(CursorOf(Number));
}

TCursor ScreenCursor() { return gScreenCursor; }

TQuestionCursor::TQuestionCursor() {
  // The arrow goes on top of the others and comes off again in turn.
  if (!QGuiApplication::overrideCursor()) return;
  QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  FSet = true;
}

TQuestionCursor::~TQuestionCursor() {
  if (FSet) QGuiApplication::restoreOverrideCursor();
}

} // namespace platform
