// The asynchronous input/output thread: one load, save or acquisition of an
// input/output component run on a worker of its own. The worker calls the
// very method it was handed (which then runs synchronously, because it finds
// itself on one of the component's workers) and reports its end on the
// user-interface thread, where it also leaves the component's list and is
// freed.
//
// How the component uses it:
//   new TRvIOThread(this, Threads, TRvIOFileProc(<method>), FileName, OnEnd);
// and nothing more: the worker adds itself to Threads, runs, and once its
// end has been delivered (OnEnd on the user-interface thread) it leaves the
// list and deletes itself. Threads.IsWorkerThread() tells the component that
// it is being called from one of its workers; Threads.WaitUntilEmpty() is the
// component's destructor's wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/stream.h"
#include "platform/thread.h"

namespace rv {

class TRastrumIO;
class TRvIOThread;
struct TRvIOThreadListState;

// Which of the method slots a worker uses.
enum TRvIOThreadKind : std::uint8_t {
  iotkFileName,        // procedure (FileName)
  iotkStream,          // procedure (Stream)
  iotkFileNameFunc,    // function (FileName): Integer
  iotkProc,            // procedure
  iotkStreamFunc,      // function (Stream): Integer
  iotkFileNameValue,   // procedure (FileName; Value)
  iotkStreamValue,     // procedure (Stream; Value)
  iotkFileNameValue2,  // procedure (FileName; Value1, Value2)
};

// The method slots: a bound method (code and object). A lambda returning a
// value converts to both the procedure and the function shape of its
// arguments; name the function shape (TRvIOFileFunc(...)) for those.
using TRvIOFileProc = std::function<void(const std::string& FileName)>;
using TRvIOStreamProc = std::function<void(platform::TStream& Stream)>;
using TRvIOFileFunc = std::function<int(const std::string& FileName)>;
using TRvIOProc = std::function<void()>;
using TRvIOStreamFunc = std::function<int(platform::TStream& Stream)>;
using TRvIOFileValueProc = std::function<void(const std::string& FileName, int Value)>;
using TRvIOStreamValueProc = std::function<void(platform::TStream& Stream, int Value)>;
using TRvIOFileValue2Proc = std::function<void(const std::string& FileName, int Value1, int Value2)>;

// Called on the user-interface thread when the worker's method has returned
// (Raised false) or raised (Raised true: the component sets Aborting). The
// worker is still in the list during the call and is freed right after it.
using TRvIOThreadEnd = std::function<void(TRvIOThread& Thread, bool Raised)>;

// The component's list of its running workers, guarded by its own lock.
// Owned by the component; its destructor waits for the workers like
// WaitUntilEmpty.
class TRvIOThreadList {
public:
  TRvIOThreadList();
  ~TRvIOThreadList();
  TRvIOThreadList(const TRvIOThreadList&) = delete;
  TRvIOThreadList& operator=(const TRvIOThreadList&) = delete;

  // Workers whose end has not been delivered yet.
  int Count() const;
  // True when the calling thread is one of the listed workers while it runs
  // its method.
  bool IsWorkerThread() const;
  // Blocks until every worker has ended, been reported and freed. On the
  // user-interface thread it delivers the ends (and serves the workers'
  // synchronised calls) itself meanwhile, so it never waits on itself.
  void WaitUntilEmpty();

private:
  friend class TRvIOThread;
  std::shared_ptr<TRvIOThreadListState> FState;
};

class TRvIOThread final : public platform::TThread {
public:
  // One constructor per method shape. Each stores the component, the list,
  // the kind, the method and the arguments, adds the worker to the list and
  // starts it. The object owns itself from then on: never delete it.
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileProc Method,
              const std::string& FileName, TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOStreamProc Method,
              platform::TStream& Stream, TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileFunc Method,
              const std::string& FileName, TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOProc Method,
              TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOStreamFunc Method,
              platform::TStream& Stream, TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileValueProc Method,
              const std::string& FileName, int Value, TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOStreamValueProc Method,
              platform::TStream& Stream, int Value, TRvIOThreadEnd OnEnd = {});
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOFileValue2Proc Method,
              const std::string& FileName, int Value1, int Value2, TRvIOThreadEnd OnEnd = {});

  TRvIOThreadKind Kind() const { return FKind; }
  TRastrumIO* IO() const { return FIO; }
  const std::string& FileName() const { return FFileName; }
  platform::TStream* Stream() const { return FStream; }
  int Value() const { return FValue; }
  int Value1() const { return FValue1; }
  int Value2() const { return FValue2; }
  // The function shapes' result; -1 until the method returned.
  int Result() const { return FResult; }
  std::thread::id WorkerThreadID() const { return FWorkerThreadID.load(); }

protected:
  void Execute() override;

private:
  friend struct TRvIOThreadListState;
  friend class TRvIOThreadList;
  ~TRvIOThread() override;
  TRvIOThread(TRastrumIO* IO, TRvIOThreadList& ThreadList, TRvIOThreadKind Kind,
              TRvIOThreadEnd OnEnd);
  void Launch();

  std::shared_ptr<TRvIOThreadListState> FThreadList;
  TRvIOThreadKind FKind;
  TRvIOFileProc FFileNameProc;
  TRvIOStreamProc FStreamProc;
  TRvIOFileFunc FFileNameFunc;
  TRvIOProc FProc;
  TRvIOStreamFunc FStreamFunc;
  TRvIOFileValueProc FFileNameValueProc;
  TRvIOStreamValueProc FStreamValueProc;
  TRvIOFileValue2Proc FFileNameValue2Proc;
  std::string FFileName;
  platform::TStream* FStream = nullptr;
  int FValue = 0;
  int FValue1 = 0;
  int FValue2 = 0;
  std::atomic<std::thread::id> FWorkerThreadID{};
  TRastrumIO* FIO;
  TRvIOThreadEnd FOnEnd;
  int FResult = -1;
  bool FRaised = false;
  // Guarded by the list's lock: the constructor has finished starting the
  // thread, and the method has returned.
  bool FLaunched = false;
  bool FEnded = false;
};

} // namespace rv
