// Programs of the desktop (the opener, the mail program) started with their
// arguments as bytes, and their ends collected from the event loop.
#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace platform {

// Starts Program (looked up on PATH unless it holds a "/") with Arguments
// handed over as their bytes: a file name need not be UTF-8, and a text
// argument (all QProcess takes) would name another file. The child reads
// nothing, writes where this program writes, holds none of its other
// descriptors and begins with the termination signals unblocked; with
// OwnSession it runs in a session of its own. Answers its process id, -1
// when it could not be started.
pid_t StartProgram(const std::string& Program, const std::vector<std::string>& Arguments, bool OwnSession);

// Waits out of the event loop up to Ms milliseconds (all the time it takes
// when Ms < 0) for the end of the child Pid and collects it: its wait
// status, -1 when someone else collected it; nothing when it still runs.
std::optional<int> WaitProgram(pid_t Pid, int Ms = -1);

// Collects the end of the child Pid from the event loop, so that none is
// left a zombie: Ended then gets its wait status, or -1 when someone else
// collected it. A Pid below 0 (a child that never started) is answered from
// the event loop with -1 as well, so that callers see one order of events.
class TChildEndWatch : public QObject {
public:
  TChildEndWatch(pid_t Pid, QObject* Parent, std::function<void(int Status)> Ended);
  ~TChildEndWatch() override;
  TChildEndWatch(const TChildEndWatch&) = delete;
  TChildEndWatch& operator=(const TChildEndWatch&) = delete;

  pid_t Pid() const { return FPid; }
  // Waits up to Ms milliseconds for the end, then kills the child; either
  // way it is collected here, and Ended is not called.
  void EndQuietly(int Ms);

private:
  void Collected(int Status);

  pid_t FPid;
  int FPidFd = -1;
  bool FCollected = false;
  QSocketNotifier* FNotifier = nullptr;
  QTimer* FPoll = nullptr;
  std::function<void(int)> FEnded;
};

} // namespace platform
