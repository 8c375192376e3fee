#include "platform/childprocess.h"
#include "platform/application.h"

#include <QtCore/QSocketNotifier>
#include <QtCore/QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

pid_t StartProgram(const std::string& Program, const std::vector<std::string>& Arguments, bool OwnSession) {
  std::vector<char*> argv;
  // posix_spawn reads them only.
  argv.push_back(const_cast<char*>(Program.c_str()));
  for (const std::string& argument : Arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           static_cast<short>((OwnSession ? POSIX_SPAWN_SETSID : 0) |
                                              UnblockTerminationSignalsInSpawn(attributes)));
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, Program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

std::optional<int> WaitProgram(pid_t Pid, int Ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(Pid, &status, Ms < 0 ? 0 : WNOHANG);
    if (ended == Pid) return status;
    if (ended < 0 && errno != EINTR) return -1;
    if (ended == 0) {
      if (std::chrono::steady_clock::now() >= until) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

TChildEndWatch::TChildEndWatch(pid_t Pid, QObject* Parent, std::function<void(int Status)> Ended)
    : QObject(Parent), FPid(Pid), FEnded(std::move(Ended)) {
  if (Pid < 0) {
    QTimer::singleShot(0, this, [this] { Collected(-1); });
    return;
  }
  const auto collect = [this] {
    if (const std::optional<int> status = WaitProgram(FPid, 0)) Collected(*status);
  };
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
  if (pidFd >= 0) {
    FPidFd = pidFd;
    FNotifier = new QSocketNotifier(pidFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, collect);
  } else {
    // A kernel without process descriptors: asked now and then.
    FPoll = new QTimer(this);
    connect(FPoll, &QTimer::timeout, this, collect);
    FPoll->start(200);
  }
}

TChildEndWatch::~TChildEndWatch() {
  if (FPidFd >= 0) ::close(FPidFd);
}

void TChildEndWatch::Collected(int Status) {
  if (FCollected) return;
  FCollected = true;
  // The descriptor stays readable once the child has ended.
  if (FNotifier) FNotifier->setEnabled(false);
  if (FPoll) FPoll->stop();
  if (!FEnded) return;
  const std::function<void(int)> ended = std::move(FEnded);
  FEnded = nullptr;
  ended(Status);
}

void TChildEndWatch::EndQuietly(int Ms) {
  FEnded = nullptr;
  if (FCollected || FPid < 0) return;
  std::optional<int> status = WaitProgram(FPid, Ms);
  if (!status) {
    ::kill(FPid, SIGKILL);
    status = WaitProgram(FPid);
  }
  Collected(*status);
}

} // namespace platform
