#include "image/io/rviothread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace rv {

struct TRvIOThreadListState : std::enable_shared_from_this<TRvIOThreadListState> {
  mutable std::mutex Lock;
  std::condition_variable Changed;
  // Every worker not yet freed, in order of creation.
  std::vector<TRvIOThread*> Threads;
  // Workers whose end waits to be delivered on the user-interface thread.
  std::vector<TRvIOThread*> Ready;
  // Without an application object the end is delivered on the worker itself,
  // which cannot free itself; it is freed by the next look at the list.
  std::vector<TRvIOThread*> Reap;

  // Under Lock: T has been launched and its method has returned.
  void Schedule(TRvIOThread* T);
  void DeliverReady();
  void DeliverOnWorker(TRvIOThread* T);
  void FreeReaped();
};

void TRvIOThreadListState::Schedule(TRvIOThread* T) {
  Ready.push_back(T);
  Changed.notify_all();
  if (auto* App = QCoreApplication::instance()) {
    std::weak_ptr<TRvIOThreadListState> Weak = weak_from_this();
    QMetaObject::invokeMethod(
        App,
        [Weak] {
          if (auto State = Weak.lock()) State->DeliverReady();
        },
        Qt::QueuedConnection);
  }
}

void TRvIOThreadListState::DeliverReady() {
  for (;;) {
    TRvIOThread* T = nullptr;
    {
      std::lock_guard Guard(Lock);
      if (Ready.empty()) return;
      T = Ready.front();
      Ready.erase(Ready.begin());
    }
    if (T->FOnEnd) {
      try {
        T->FOnEnd(*T, T->FRaised);
      } catch (...) {
        // A failing end handler must not keep the worker alive for ever.
      }
    }
    {
      std::lock_guard Guard(Lock);
      Threads.erase(std::remove(Threads.begin(), Threads.end(), T), Threads.end());
    }
    delete T;
    Changed.notify_all();
  }
}

void TRvIOThreadListState::DeliverOnWorker(TRvIOThread* T) {
  {
    std::lock_guard Guard(Lock);
    Ready.erase(std::remove(Ready.begin(), Ready.end(), T), Ready.end());
  }
  if (T->FOnEnd) {
    try {
      T->FOnEnd(*T, T->FRaised);
    } catch (...) {
    }
  }
  {
    std::lock_guard Guard(Lock);
    Threads.erase(std::remove(Threads.begin(), Threads.end(), T), Threads.end());
    Reap.push_back(T);
  }
  Changed.notify_all();
}

void TRvIOThreadListState::FreeReaped() {
  std::vector<TRvIOThread*> Dead;
  {
    std::lock_guard Guard(Lock);
    Dead.swap(Reap);
  }
  for (TRvIOThread* T : Dead) delete T;
}

TRvIOThreadList::TRvIOThreadList() : FState(std::make_shared<TRvIOThreadListState>()) {}

TRvIOThreadList::~TRvIOThreadList() {
  WaitUntilEmpty();
  FState->FreeReaped();
}

int TRvIOThreadList::Count() const {
  std::lock_guard Guard(FState->Lock);
  return static_cast<int>(FState->Threads.size());
}

bool TRvIOThreadList::IsWorkerThread() const {
  const std::thread::id Self = std::this_thread::get_id();
  std::lock_guard Guard(FState->Lock);
  for (const TRvIOThread* T : FState->Threads)
    if (!T->FEnded && T->FWorkerThreadID.load() == Self) return true;
  return false;
}

void TRvIOThreadList::WaitUntilEmpty() {
  const bool OnMain = QCoreApplication::instance() != nullptr && platform::IsMainThread();
  for (;;) {
    if (OnMain) {
      FState->DeliverReady();
      platform::CheckSynchronize();
    }
    std::unique_lock Guard(FState->Lock);
    if (FState->Threads.empty()) break;
    if (OnMain)
      FState->Changed.wait_for(Guard, std::chrono::milliseconds(1));
    else
      FState->Changed.wait(Guard, [this] { return FState->Threads.empty(); });
  }
  FState->FreeReaped();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOThreadKind Kind,
                         TRvIOThreadEnd OnEnd)
    : FThreadList(ThreadList.FState), FKind(Kind), FIO(IO), FOnEnd(std::move(OnEnd)) {}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileProc Method,
                         const std::string& FileName, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkFileName, std::move(OnEnd)) {
  FFileNameProc = std::move(Method);
  FFileName = FileName;
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOStreamProc Method,
                         platform::TStream& Stream, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkStream, std::move(OnEnd)) {
  FStreamProc = std::move(Method);
  FStream = &Stream;
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileFunc Method,
                         const std::string& FileName, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkFileNameFunc, std::move(OnEnd)) {
  FFileNameFunc = std::move(Method);
  FFileName = FileName;
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOProc Method,
                         TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkProc, std::move(OnEnd)) {
  FProc = std::move(Method);
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOStreamFunc Method,
                         platform::TStream& Stream, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkStreamFunc, std::move(OnEnd)) {
  FStreamFunc = std::move(Method);
  FStream = &Stream;
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileValueProc Method,
                         const std::string& FileName, int Value, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkFileNameValue, std::move(OnEnd)) {
  FFileNameValueProc = std::move(Method);
  FFileName = FileName;
  FValue = Value;
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOStreamValueProc Method,
                         platform::TStream& Stream, int Value, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkStreamValue, std::move(OnEnd)) {
  FStreamValueProc = std::move(Method);
  FStream = &Stream;
  FValue = Value;
  Launch();
}

TRvIOThread::TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileValue2Proc Method,
                         const std::string& FileName, int Value1, int Value2, TRvIOThreadEnd OnEnd)
    : TRvIOThread(IO, ThreadList, iotkFileNameValue2, std::move(OnEnd)) {
  FFileNameValue2Proc = std::move(Method);
  FFileName = FileName;
  FValue1 = Value1;
  FValue2 = Value2;
  Launch();
}

TRvIOThread::~TRvIOThread() = default;

void TRvIOThread::Launch() {
  TRvIOThreadListState& State = *FThreadList;
  State.FreeReaped();
  {
    std::lock_guard Guard(State.Lock);
    State.Threads.push_back(this);
  }
  try {
    Start();
  } catch (...) {
    std::lock_guard Guard(State.Lock);
    State.Threads.erase(std::remove(State.Threads.begin(), State.Threads.end(), this),
                        State.Threads.end());
    throw;
  }
  bool Now = false;
  {
    // The end is delivered only once both the thread object is complete and
    // the method has returned, whichever comes last.
    std::lock_guard Guard(State.Lock);
    FLaunched = true;
    if (FEnded) {
      State.Schedule(this);
      Now = QCoreApplication::instance() == nullptr;
    }
  }
  if (Now) State.DeliverOnWorker(this);
}

void TRvIOThread::Execute() {
  FWorkerThreadID.store(std::this_thread::get_id());
  try {
    switch (FKind) {
    case iotkFileName:
      FFileNameProc(FFileName);
      break;
    case iotkStream:
      FStreamProc(*FStream);
      break;
    case iotkFileNameFunc:
      FResult = FFileNameFunc(FFileName);
      break;
    case iotkProc:
      FProc();
      break;
    case iotkStreamFunc:
      FResult = FStreamFunc(*FStream);
      break;
    case iotkFileNameValue:
      FFileNameValueProc(FFileName, FValue);
      break;
    case iotkStreamValue:
      FStreamValueProc(*FStream, FValue);
      break;
    case iotkFileNameValue2:
      FFileNameValue2Proc(FFileName, FValue1, FValue2);
      break;
    }
  } catch (...) {
    // Memory exhaustion included: the worker reports the failure through
    // the component instead of ending the process.
    FRaised = true;
  }
  TRvIOThreadListState& State = *FThreadList;
  bool Now = false;
  {
    std::lock_guard Guard(State.Lock);
    FEnded = true;
    if (FLaunched) {
      State.Schedule(this);
      Now = QCoreApplication::instance() == nullptr;
    }
  }
  if (Now) State.DeliverOnWorker(this);
}

} // namespace rv
