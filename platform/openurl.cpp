#include "platform/openurl.h"
#include "platform/application.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QPointer>
#include <QtCore/QSocketNotifier>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

std::chrono::milliseconds OpenerAnswerTime{5000};
std::atomic<int> Running{0};

// The opener in a session of its own, reading nothing: it outlives the
// window that asked and the program, as a program started from the desktop
// would. Answers its process id, -1 when it could not be started.
pid_t StartOpener(const QString& Opener, const QString& Argument) {
  QByteArray program = QFile::encodeName(Opener), argument = Argument.toLocal8Bit();
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | UnblockTerminationSignalsInSpawn(attributes));
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// Waits for one opener's end from the event loop and collects its status,
// so that none is left a zombie, whether or not anyone still waits for the
// answer. xdg-open hands Url to the desktop and ends at once; where it finds
// no desktop, it runs the program itself and ends when that program ends,
// with that program's failure as its own. So only an end within the answer
// time with one of its own failure codes (1 syntax, 2 no such file, 3 no
// tool found, 4 the action failed) is a failure to open; past that time the
// opener counts as having opened.
class TOpenerWatch : public QObject {
public:
  TOpenerWatch(pid_t Pid, QObject* Context, std::function<void(bool)> Done)
      : QObject(QCoreApplication::instance()), FPid(Pid), FContext(Context), FDone(std::move(Done)) {
    ++Running;
    QTimer::singleShot(OpenerAnswerTime, this, [this] { Answer(true); });
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
    if (pidFd >= 0) {
      FPidFd = pidFd;
      auto* ended = new QSocketNotifier(pidFd, QSocketNotifier::Read, this);
      connect(ended, &QSocketNotifier::activated, this, [this] { Collect(); });
    } else {
      // A kernel without process descriptors: asked now and then.
      auto* poll = new QTimer(this);
      connect(poll, &QTimer::timeout, this, [this] { Collect(); });
      poll->start(200);
    }
  }
  ~TOpenerWatch() override {
    if (FPidFd >= 0) ::close(FPidFd);
    if (!FCollected) --Running;
  }

private:
  void Collect() {
    if (FCollected) return;
    int status = 0;
    const pid_t ended = ::waitpid(FPid, &status, WNOHANG);
    if (ended == 0 || (ended < 0 && errno == EINTR)) return;
    FCollected = true;
    --Running;
    // Collected by someone else (children ignored): nothing known of it.
    const bool failed = ended == FPid && WIFEXITED(status) && WEXITSTATUS(status) >= 1 && WEXITSTATUS(status) <= 4;
    Answer(!failed);
    deleteLater();
  }
  void Answer(bool Opened) {
    if (!FDone) return;
    const auto done = std::move(FDone);
    FDone = nullptr;
    if (FContext) done(Opened);
  }

  pid_t FPid;
  int FPidFd = -1;
  bool FCollected = false;
  QPointer<QObject> FContext;
  std::function<void(bool)> FDone;
};

} // namespace

void OpenUrlAsync(const QUrl& Url, QObject* Context, std::function<void(bool Opened)> Done) {
  const QString Opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  const pid_t Pid = Opener.isEmpty() ? -1 : StartOpener(Opener, Url.toString(QUrl::FullyEncoded));
  if (Pid < 0) {
    // Without xdg-open, Qt's own choice of browser.
    const bool Opened = !Opener.isEmpty() ? false : QDesktopServices::openUrl(Url);
    // Answered from the event loop as the opener's end would be, so that
    // callers see one order of events.
    QTimer::singleShot(0, Context, [Done = std::move(Done), Opened] { Done(Opened); });
    return;
  }
  new TOpenerWatch(Pid, Context, std::move(Done));
}

void SetOpenerAnswerTime(std::chrono::milliseconds Time) { OpenerAnswerTime = Time; }

int RunningOpeners() { return Running; }

} // namespace platform
