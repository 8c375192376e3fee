#include "platform/thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace platform {

namespace {

struct TSyncCall {
  std::function<void()> Call;
  std::exception_ptr Error;
  bool Done = false;
};

std::mutex gSyncMutex;
std::condition_variable gSyncDone;   // a call was served
std::condition_variable gSyncQueued; // a call waits (for WaitFor)
std::deque<TSyncCall*> gSyncQueue;

} // namespace

bool IsMainThread() {
  auto* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

bool CheckSynchronize() {
  bool ran = false;
  for (;;) {
    TSyncCall* call = nullptr;
    {
      std::lock_guard lock(gSyncMutex);
      if (gSyncQueue.empty()) break;
      call = gSyncQueue.front();
      gSyncQueue.pop_front();
    }
    try {
      call->Call();
    } catch (...) {
      call->Error = std::current_exception();
    }
    {
      std::lock_guard lock(gSyncMutex);
      call->Done = true;
    }
    gSyncDone.notify_all();
    ran = true;
  }
  return ran;
}

void Synchronize(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  TSyncCall call{fn, nullptr, false};
  {
    std::lock_guard lock(gSyncMutex);
    gSyncQueue.push_back(&call);
  }
  gSyncQueued.notify_all();
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  std::unique_lock lock(gSyncMutex);
  gSyncDone.wait(lock, [&] { return call.Done; });
  if (call.Error) std::rethrow_exception(call.Error);
}

TThread::TThread() = default;

TThread::~TThread() {
  if (FThread.joinable()) {
    Terminate();
    WaitFor();
  }
}

void TThread::Start() {
  FThread = std::thread([this] {
    try {
      Execute();
    } catch (...) {
      // A thread's failure ends the thread; it never takes the process down.
    }
    FFinished.store(true);
    gSyncQueued.notify_all();
  });
}

void TThread::WaitFor() {
  if (!FThread.joinable()) return;
  if (IsMainThread()) {
    while (!FFinished.load()) {
      CheckSynchronize();
      std::unique_lock lock(gSyncMutex);
      gSyncQueued.wait_for(lock, std::chrono::milliseconds(5),
                           [&] { return FFinished.load() || !gSyncQueue.empty(); });
    }
    CheckSynchronize();
  }
  FThread.join();
}

} // namespace platform
