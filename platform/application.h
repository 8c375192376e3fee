// The application object: Qt's, with the class library's habit of handing an
// exception that reaches the event loop to one handler instead of ending.
#pragma once

#include <QApplication>
#include <csignal>
#include <exception>
#include <functional>
#include <spawn.h>
#include <string>
#include <vector>

class QProcess;
class QSocketNotifier;

namespace platform {

// Ends the current operation silently: the event loop's handler drops it.
class EAbort : public std::exception {
public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Set before any thread starts, so that every heap the C library makes
// follows it: the first thing main does.
void MapLargeBlocksApart();

class TApplication : public QApplication {
public:
  TApplication(int& argc, char** argv);

  // Shown by the desktop in task lists; the main window keeps its own caption.
  void SetTitle(const QString& title);
  QString Title() const { return FTitle; }

  // Called with the exception that an event handler let through. Without a
  // handler the exception's text goes to the standard error stream.
  std::function<void(std::exception_ptr)> OnException;

  bool notify(QObject* receiver, QEvent* event) override;
  void HandleException(std::exception_ptr error);
  // Runs work where no event handler is around it (the start-up before the
  // event loop, a destructor): what it raises goes to the application's
  // handler as from an event, instead of ending the program.
  static void Guarded(const std::function<void()>& work);

  // The text of an exception for the user, whatever its type.
  static QString ExceptionMessage(std::exception_ptr error);

private:
  QString FTitle;
};

// The window a new message or dialog belongs to: the topmost modal window,
// else Preferred's window, else the active one, else the main window; for a
// tool window or a modeless dialog, the window it serves. A message owned by a window under a
// modal one is blocked by that one, and a window manager may stack it out of
// sight.
QWidget* DialogOwner(QWidget* preferred = nullptr);

// Hands Window, a dialog or palette about to be shown, to the window manager
// as a window of ours: one modal to the whole program belongs, under X11, to
// no one window, so that the manager stacks it above all of the program's
// windows, palettes included, and elsewhere (Wayland) to the topmost modal
// window or else DialogOwner's window, which it must never fall under; a
// window-modal one belongs to DialogOwner's window, whose windows it blocks;
// a modeless one without a parent belongs to the main window (stacked above
// all of the program's windows it could cover a modal window that blocks
// it). The application object applies this to every window it shows, for
// the platform Qt runs on; PlatformName is that platform's name as Qt gives
// it ("xcb" for X11).
void PlaceOverOwner(QWidget& Window);
void PlaceOverOwner(QWidget& Window, const QString& PlatformName);

// Whether the window manager takes the full-screen state of a window and
// covers the screen with it; without one the window covers it itself.
bool WindowManagerFullScreen();

// ---- The session's end: SIGTERM (logout), SIGHUP (a terminal closed) and
// SIGINT (Ctrl+C in a terminal).
//
// The whole design, and which path covers which thread or child:
// - Every thread of the program: BlockTerminationSignals, called first in
//   the program, before the application object or any thread exists,
//   blocks them; each thread started later inherits the block, so that no
//   handler a library installs or resets (a scanner backend's reader resets
//   SIGTERM's) decides how the program ends.
// - The main thread reads them from a signal descriptor, through a
//   TTerminationSignals made as soon as the application object exists:
//   signals sent meanwhile wait for it. Without OnSignal (the start-up,
//   before the main window is up; its end, after the window has gone) a
//   signal ends the program as its default action would. With OnSignal, the
//   first signal of a kind goes to it through the event loop, and the next
//   one of that kind takes its default action. What the starter ignores
//   (nohup's hang-up, a background job's interrupt) stays ignored.
// - Children begin with them unblocked, whichever way they start (a
//   browser that xdg-open starts must end at logout): one made by fork (a
//   library's, QProcess::startDetached) through the fork handler
//   BlockTerminationSignals installs; one QProcess::start makes, which runs
//   no fork handlers, through UnblockTerminationSignalsInChild; one made by
//   posix_spawn, which runs none either, through
//   UnblockTerminationSignalsInSpawn.

// Blocks the termination signals in the calling thread, and so in every
// thread it starts from then on; a child forked from then on starts with
// them unblocked again.
void BlockTerminationSignals();

// One object at a time; the calling thread's signal mask comes back with
// its end.
class TTerminationSignals : public QObject {
public:
  explicit TTerminationSignals(std::function<void(int)> onSignal = nullptr, QObject* parent = nullptr);
  ~TTerminationSignals() override;
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

  bool Installed() const { return FNotifier != nullptr; }

  // Told the signal's number; unset, the signal takes its default action.
  std::function<void(int)> OnSignal;

private:
  void ReadSignals();

  QSocketNotifier* FNotifier = nullptr;
  int FDescriptor = -1;
  sigset_t FMaskBefore {};
  // The kinds seen once: the next one of a kind is the system's.
  std::vector<int> FSeen;
};

// A child that Process starts begins with the termination signals unblocked.
void UnblockTerminationSignalsInChild(QProcess& Process);

// A child that posix_spawn starts with Attributes begins with no signal
// blocked and SIGPIPE at its default action; answers the flags this needs,
// for the caller to add to its own.
short UnblockTerminationSignalsInSpawn(posix_spawnattr_t& Attributes);

} // namespace platform
