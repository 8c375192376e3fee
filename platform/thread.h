// Threads that hand work to the user-interface thread.
//
// Synchronize runs a call on the user-interface thread and waits for it. A
// window that waits for one of its threads uses TThread::WaitFor, which keeps
// serving those calls while it waits, so the two never deadlock.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

// Runs call on the user-interface thread and returns when it has run. Called
// on that thread, it runs the call at once. An exception of the call is
// carried back to the caller.
void Synchronize(const std::function<void()>& call);

// Runs the calls that worker threads are waiting on; answers true when it
// ran at least one. Only on the user-interface thread.
bool CheckSynchronize();

bool IsMainThread();

class TThread {
public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Asks the thread to stop; Execute polls Terminated.
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const { return FFinished.load(); }
  // Waits for the end of Execute; on the user-interface thread it serves the
  // thread's synchronised calls meanwhile.
  void WaitFor();

protected:
  virtual void Execute() = 0;
  void DoSynchronize(const std::function<void()>& call) { Synchronize(call); }

private:
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
};

} // namespace platform
