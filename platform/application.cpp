#include "platform/application.h"

#include <cstdio>

namespace platform {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::SetTitle(const QString& title) {
  // Not the display name: Qt would append that to every window caption.
  FTitle = title;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException(std::current_exception());
    return false;
  }
}

void TApplication::HandleException(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (...) {
  }
  if (OnException) {
    try {
      OnException(error);
      return;
    } catch (...) {
      // The error path itself failed; fall back to the console below.
    }
  }
  std::fprintf(stderr, "%s\n", ExceptionMessage(error).toLocal8Bit().constData());
}

void TApplication::Guarded(const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    if (auto* application = dynamic_cast<TApplication*>(QCoreApplication::instance()))
      application->HandleException(std::current_exception());
    else
      std::fprintf(stderr, "%s\n", ExceptionMessage(std::current_exception()).toLocal8Bit().constData());
  }
}

QString TApplication::ExceptionMessage(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
  return QString();
}

} // namespace platform
