#include "platform/application.h"

#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

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

namespace {

// A window that is neither modal nor a window of its own (a palette such as
// the tool box, a modeless dialog such as the e-mail wizard) serves the
// window under it: a modal message owned by it blocks its owner, and some
// window managers then hand the focus between the two for good. Such a
// window without a parent serves the main window.
QWidget* ServedWindow(QWidget* window) {
  while (window && (window->windowType() == Qt::Tool || window->windowType() == Qt::Dialog) &&
         window->windowModality() == Qt::NonModal)
    window = window->parentWidget() ? window->parentWidget()->window() : nullptr;
  return window;
}

} // namespace

QWidget* DialogOwner(QWidget* preferred) {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (preferred)
    if (QWidget* served = ServedWindow(preferred->window())) return served;
  if (QWidget* active = ServedWindow(QApplication::activeWindow())) return active;
  // Before the window manager has made any window active: the main window.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible() && window->inherits("QMainWindow")) return window;
  return nullptr;
}

namespace {

constexpr int TerminationSignals[] = {SIGTERM, SIGHUP, SIGINT};
// [0] written by the handler, [1] read by the event loop.
int SignalPipe[2] = {-1, -1};

void NoteSignal(int signo) {
  const int saved = errno;
  const char number = static_cast<char>(signo);
  [[maybe_unused]] const ssize_t written = ::write(SignalPipe[0], &number, 1);
  errno = saved;
}

} // namespace

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), FOnSignal(std::move(onSignal)) {
  if (SignalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, SignalPipe) != 0) {
    SignalPipe[0] = SignalPipe[1] = -1;
    return;
  }
  FNotifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] {
    char number = 0;
    while (::read(SignalPipe[1], &number, 1) == 1)
      if (FOnSignal) FOnSignal(number);
  });
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signo : TerminationSignals) {
    // What the starter ignores (nohup's hang-up) stays ignored.
    struct sigaction old {};
    if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signo, &action, nullptr);
  }
}

TTerminationSignals::~TTerminationSignals() {
  if (!FNotifier) return;
  for (int signo : TerminationSignals) {
    struct sigaction old {};
    if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == NoteSignal) ::signal(signo, SIG_DFL);
  }
  delete FNotifier;
  FNotifier = nullptr;
  ::close(SignalPipe[0]);
  ::close(SignalPipe[1]);
  SignalPipe[0] = SignalPipe[1] = -1;
}

} // namespace platform
