#include "platform/application.h"

#include <QDialog>
#include <QProcess>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <xcb/xcb.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <vector>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {

void MapLargeBlocksApart() {
  // Pictures are made on worker threads and freed on this one. Under the C
  // library's sliding threshold the first picture freed lifts the threshold
  // past every picture's size; from then on pictures are cut from the
  // workers' heaps, which keep them when they are freed (gigabytes after a
  // fast walk through a folder). A fixed threshold maps each block of a
  // megabyte or more on its own and gives it back when it is freed.
  constexpr int LargeBlock = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, LargeBlock);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::SetTitle(const QString& title) {
  // Not the display name: Qt would append that to every window caption.
  FTitle = title;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    // Sent before the window is mapped: the window manager learns its owner
    // in time to stack it.
    if (event->type() == QEvent::Show && receiver->isWidgetType()) {
      QWidget* widget = static_cast<QWidget*>(receiver);
      if (widget->isWindow()) {
        PlaceOverOwner(*widget);
        // Without a caption of its own a window would be titled by the
        // executable's name: a box asking about a file names the program.
        const Qt::WindowType type = widget->windowType();
        if (widget->windowTitle().isEmpty() && (type == Qt::Window || type == Qt::Dialog))
          widget->setWindowTitle(FTitle);
      }
    }
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

QWidget* MainWindow() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible() && window->inherits("QMainWindow")) return window;
  return nullptr;
}

} // namespace

QWidget* DialogOwner(QWidget* preferred) {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (preferred)
    if (QWidget* served = ServedWindow(preferred->window())) return served;
  if (QWidget* active = ServedWindow(QApplication::activeWindow())) return active;
  // Before the window manager has made any window active: the main window.
  return MainWindow();
}

void PlaceOverOwner(QWidget& Window) { PlaceOverOwner(Window, QGuiApplication::platformName()); }

void PlaceOverOwner(QWidget& Window, const QString& PlatformName) {
  const Qt::WindowType type = Window.windowType();
  if (!Window.isWindow() || (type != Qt::Dialog && type != Qt::Tool && type != Qt::Sheet)) return;
  QWidget* owner = nullptr;
  if (Window.windowModality() == Qt::WindowModal) {
    // It blocks only the windows it belongs to.
    owner = DialogOwner(Window.parentWidget());
    if (!owner) return;
  } else if (Window.isModal()) {
    // Modal to the whole program. Under X11 it belongs to no one window, and
    // window managers keep it over all of ours. Owned by one window it came
    // up just over that one, under a palette kept over the window the user
    // works in; owned by another modal window, a manager that keeps the
    // focus on the one modal to the whole program fought it for the focus.
    // A Wayland compositor takes a window without an owner for an unrelated
    // one, which can open or fall under the window it blocks: elsewhere it
    // belongs to the topmost modal window, else to the window it serves.
    if (PlatformName != QLatin1String("xcb")) {
      QWidget* modal = QApplication::activeModalWidget();
      owner = modal && modal != &Window ? modal : DialogOwner(Window.parentWidget());
      if (!owner) return;
    }
  } else if (!Window.parentWidget()) {
    owner = MainWindow();
    if (!owner) return;
  } else {
    return;
  }
  if (owner == &Window || (owner && !owner->windowHandle())) return;
  Window.winId(); // its window exists from here on
  QWindow* window = Window.windowHandle();
  if (!window) return;
  QWindow* ownerWindow = owner ? owner->windowHandle() : nullptr;
  // Never under itself: a window whose owners lead back to it.
  for (QWindow* up = ownerWindow; up; up = up->transientParent())
    if (up == window) return;
  window->setTransientParent(ownerWindow);
  if (Window.isModal())
    // Once mapped: a modal window the user cannot see blocks the program.
    QTimer::singleShot(0, &Window, [&Window] {
      if (!Window.isVisible()) return;
      Window.raise();
      Window.activateWindow();
    });
}

namespace {

// An atom's value, 0 when the server has none by that name.
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : 0;
  std::free(reply);
  return atom;
}

// The values of a window's property of 32-bit items (windows, atoms).
std::vector<uint32_t> Property32(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                 xcb_atom_t type) {
  std::vector<uint32_t> values;
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, 4096), nullptr);
  if (reply && reply->format == 32) {
    const auto* items = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    values.assign(items, items + xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  return values;
}

} // namespace

bool WindowManagerFullScreen() {
  const QString platformName = QGuiApplication::platformName();
  // A Wayland compositor always manages the windows.
  if (platformName.startsWith(QLatin1String("wayland"))) return true;
  if (platformName != QLatin1String("xcb")) return false;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return false;
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
  if (!screens.rem) return false;
  const xcb_window_t root = screens.data->root;
  // A manager that runs names a window of its own that names itself; the
  // root's property outlives a manager that ended.
  const xcb_atom_t check = Atom(connection, "_NET_SUPPORTING_WM_CHECK");
  if (!check) return false;
  const std::vector<uint32_t> named = Property32(connection, root, check, XCB_ATOM_WINDOW);
  if (named.empty() || Property32(connection, named[0], check, XCB_ATOM_WINDOW) != named) return false;
  const xcb_atom_t supported = Atom(connection, "_NET_SUPPORTED");
  const xcb_atom_t fullScreen = Atom(connection, "_NET_WM_STATE_FULLSCREEN");
  if (!supported || !fullScreen) return false;
  const std::vector<uint32_t> atoms = Property32(connection, root, supported, XCB_ATOM_ATOM);
  return std::find(atoms.begin(), atoms.end(), fullScreen) != atoms.end();
}

namespace {

constexpr int TerminationSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The termination signals the program takes: all but those its starter
// ignores.
sigset_t TakenSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : TerminationSignals) {
    struct sigaction now {};
    if (::sigaction(signo, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    sigaddset(&set, signo);
  }
  return set;
}

// Runs in a new child before it goes on or loads its program: only calls
// that are safe there.
void UnblockTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : TerminationSignals) sigaddset(&set, signo);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace

void BlockTerminationSignals() {
  static const bool hooked = ::pthread_atfork(nullptr, nullptr, UnblockTerminationSignals) == 0;
  (void)hooked;
  const sigset_t taken = TakenSignals();
  ::pthread_sigmask(SIG_BLOCK, &taken, nullptr);
}

void UnblockTerminationSignalsInChild(QProcess& Process) {
  Process.setChildProcessModifier(UnblockTerminationSignals);
}

short UnblockTerminationSignalsInSpawn(posix_spawnattr_t& Attributes) {
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&Attributes, &none);
  posix_spawnattr_setsigdefault(&Attributes, &defaults);
  return POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
}

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), OnSignal(std::move(onSignal)) {
  const sigset_t taken = TakenSignals();
  ::pthread_sigmask(SIG_BLOCK, &taken, &FMaskBefore);
  FDescriptor = ::signalfd(-1, &taken, SFD_NONBLOCK | SFD_CLOEXEC);
  if (FDescriptor < 0) {
    // Without a descriptor the signals take their default actions here,
    // where nothing else blocks them.
    ::pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
    return;
  }
  FNotifier = new QSocketNotifier(FDescriptor, QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadSignals(); });
}

void TTerminationSignals::ReadSignals() {
  signalfd_siginfo info {};
  while (::read(FDescriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    const int signo = static_cast<int>(info.ssi_signo);
    const bool again = std::find(FSeen.begin(), FSeen.end(), signo) != FSeen.end();
    // The next one of this kind takes the default action in this thread,
    // the only one that has it unblocked, whatever the event loop does.
    ::signal(signo, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signo);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    if (again || !OnSignal) {
      ::raise(signo);
      continue;
    }
    FSeen.push_back(signo);
    OnSignal(signo);
  }
}

TTerminationSignals::~TTerminationSignals() {
  if (!FNotifier) return;
  delete FNotifier;
  FNotifier = nullptr;
  ::close(FDescriptor);
  FDescriptor = -1;
  // What the thread had unblocked before is unblocked again; what it had
  // blocked (the program blocks them from its start) stays blocked.
  sigset_t unblock;
  sigemptyset(&unblock);
  for (int signo : TerminationSignals)
    if (!sigismember(&FMaskBefore, signo)) sigaddset(&unblock, signo);
  ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
}

} // namespace platform
