#include "image/views/rvstarter.h"

#include <algorithm>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/views/rvthumbfit.h"

namespace rv {

namespace {

// More workers than this would only fight over the disk.
constexpr int MaxWorkers = 64;

} // namespace

std::shared_ptr<TRvLoadResult> RvRunLoadJob(const TRvLoadRequest& Request, TRastrumIO& IO,
                                            const std::atomic<bool>* Cancelled) {
  auto result = std::make_shared<TRvLoadResult>();
  result->Key = Request.Key;
  result->FileName = Request.FileName;
  result->Background = Request.Background;
  auto bitmap = std::make_unique<TRvBitmap>();
  bool failed = false;
  try {
    IO.SetAttachedRvBitmap(bitmap.get());
    IO.SetBackground(Request.Background);
    IO.AsyncMode = false;
    // A load clears the component's abort flag as it starts, so a cancel
    // that came before would be lost and the picture decoded in full for
    // nothing: the reader's progress steps set it again.
    auto cancelled = [Cancelled] { return Cancelled != nullptr && Cancelled->load(std::memory_order_relaxed); };
    if (Cancelled != nullptr)
      IO.OnProgress = [&IO, cancelled](void*, int) {
        if (cancelled()) IO.Aborting = true;
      };
    TIOParamsVals& params = IO.Params();
    params.JpegScale = Request.Thumb ? 0 : 1;
    if (Request.Thumb) {
      params.Width = Request.ThumbWidth;
      params.Height = Request.ThumbHeight;
    }
    if (!cancelled()) IO.LoadFromFile(Request.FileName);
    failed = cancelled() || IO.Aborting.load() || bitmap->Width() < 1 || bitmap->Height() < 1;
    result->Params = std::make_unique<TIOParamsVals>();
    result->Params->Assign(IO.Params());
    result->Background = IO.GetBackground();
    IO.SetAttachedRvBitmap(nullptr);
    if (!failed) {
      result->FullWidth = bitmap->Width();
      result->FullHeight = bitmap->Height();
      if (Request.Thumb) {
        if (auto reduced = RvReduceToThumb(bitmap.get(), Request.ThumbWidth, Request.ThumbHeight,
                                           Request.Filter))
          bitmap = std::move(reduced);
      }
      if (auto wide = RvStorableCopy(bitmap.get())) bitmap = std::move(wide);
      result->Bitmap = std::move(bitmap);
    }
  } catch (...) {
    // Whatever a reader raised, the job ends like an unreadable file: it
    // must not take its place among the running jobs for good.
    failed = true;
  }
  if (failed) {
    result->Failed = true;
    result->Bitmap = RvFailedThumb(Request.ThumbWidth, Request.ThumbHeight, Request.Background);
    result->FullWidth = result->Bitmap->Width();
    result->FullHeight = result->Bitmap->Height();
    if (!result->Params) result->Params = std::make_unique<TIOParamsVals>();
  }
  return result;
}

TRvStarter::TRvStarter(TDeliverProc Deliver) : FDeliver(std::move(Deliver)) {}

TRvStarter::~TRvStarter() { Terminate(); }

void TRvStarter::SetPoolSize(int Value) {
  {
    std::unique_lock lock(FLock);
    FPoolSize = std::clamp(Value, 0, MaxWorkers);
    if (!FTerminated && !FQueue.empty()) StartWorkers(lock);
  }
  FWake.notify_all();
}

int TRvStarter::PoolSize() const {
  std::lock_guard lock(FLock);
  return FPoolSize;
}

bool TRvStarter::IsPending(std::uint64_t Key) const {
  std::lock_guard lock(FLock);
  if (std::any_of(FQueue.begin(), FQueue.end(), [&](const auto& r) { return r.Key == Key; }))
    return true;
  return std::any_of(FRunning.begin(), FRunning.end(),
                     [&](const auto& j) { return j->Request.Key == Key && !j->Cancelled; });
}

bool TRvStarter::HasResult(std::uint64_t Key, const std::string& FileName) const {
  std::lock_guard lock(FLock);
  return std::any_of(FDone.begin(), FDone.end(),
                     [&](const auto& r) { return r->Key == Key && r->FileName == FileName; });
}

void TRvStarter::StartWorkers(std::unique_lock<std::mutex>&) {
  const int wanted = std::min(FPoolSize, MaxWorkers);
  while (static_cast<int>(FWorkers.size()) < wanted) FWorkers.emplace_back([this] { Execute(); });
}

void TRvStarter::Enqueue(TRvLoadRequest Request) {
  {
    std::unique_lock lock(FLock);
    if (FTerminated) return;
    FQueue.push_back(std::move(Request));
    StartWorkers(lock);
  }
  FWake.notify_one();
}

void TRvStarter::Cancel(TJob& Job) {
  Job.Cancelled = true;
  // The reader polls the flag and stops early.
  if (Job.IO) Job.IO->Aborting = true;
}

void TRvStarter::Prune(const std::function<bool(std::uint64_t)>& Wanted, bool Running) {
  std::lock_guard lock(FLock);
  std::erase_if(FQueue, [&](const TRvLoadRequest& r) { return !Wanted(r.Key); });
  if (!Running) return;
  for (auto& job : FRunning)
    if (!job->Cancelled && !Wanted(job->Request.Key)) Cancel(*job);
}

void TRvStarter::StopLoaders() {
  std::lock_guard lock(FLock);
  FQueue.clear();
  for (auto& job : FRunning) Cancel(*job);
}

int TRvStarter::QueueCount() const {
  std::lock_guard lock(FLock);
  return static_cast<int>(FQueue.size());
}

int TRvStarter::RunningCount() const {
  std::lock_guard lock(FLock);
  return static_cast<int>(FRunning.size());
}

void TRvStarter::Terminate() {
  {
    std::lock_guard lock(FLock);
    FTerminated = true;
    FQueue.clear();
    FDone.clear();
    for (auto& job : FRunning) Cancel(*job);
  }
  FWake.notify_all();
  for (std::thread& worker : FWorkers)
    if (worker.joinable()) worker.join();
  FWorkers.clear();
}

void TRvStarter::Execute() {
  pthread_setname_np(pthread_self(), "rvstarter");
  // Decoding waits for the user-interface thread, never the other way.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
  for (;;) {
    std::shared_ptr<TJob> job;
    {
      std::unique_lock lock(FLock);
      FWake.wait(lock, [this] {
        return FTerminated || (!FQueue.empty() && static_cast<int>(FRunning.size()) < FPoolSize);
      });
      if (FTerminated) return;
      job = std::make_shared<TJob>();
      job->Request = std::move(FQueue.front());
      FQueue.pop_front();
      job->IO = std::make_unique<TRastrumIO>();
      FRunning.push_back(job);
    }
    std::shared_ptr<TRvLoadResult> result = RvRunLoadJob(job->Request, *job->IO, &job->Cancelled);
    {
      std::lock_guard lock(FLock);
      std::erase(FRunning, job);
      if (!job->Cancelled) {
        FDone.push_back(std::move(result));
        // Told in the same step as the job stops running: whoever finds none
        // running finds every result already on its way. Telling only posts.
        if (FDone.size() == 1 && FDeliver) FDeliver();
      }
    }
    // Out of the list, no one else reaches the job's component any more.
    job->IO.reset();
    // A place in the pool is free again.
    FWake.notify_all();
  }
}

std::vector<std::shared_ptr<TRvLoadResult>> TRvStarter::TakeResults(int Max, int& Rest) {
  std::vector<std::shared_ptr<TRvLoadResult>> taken;
  std::lock_guard lock(FLock);
  while (!FDone.empty() && static_cast<int>(taken.size()) < Max) {
    taken.push_back(std::move(FDone.front()));
    FDone.pop_front();
  }
  Rest = static_cast<int>(FDone.size());
  return taken;
}

} // namespace rv
