// The thumbnail view's background loader. The view queues requests; worker
// threads turn each into a load job (a private input/output component with a
// bitmap of its own), decode and reduce the picture without holding any
// lock, and hand the result back to the view on the user-interface thread,
// tagged with the identity of the image it was asked for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/model/rvbitmap.h"
#include "image/model/rvresample.h"
#include "platform/colors.h"

namespace rv {

class TIOParamsVals;
class TRastrumIO;

// What a job needs, copied from the image when it was asked for: the workers
// never read the view's records.
struct TRvLoadRequest {
  std::uint64_t Key = 0;
  std::string FileName;
  platform::TColor Background = 0;
  // Reduce to ThumbWidth x ThumbHeight (the view stores thumbnails).
  bool Thumb = false;
  int ThumbWidth = 100;
  int ThumbHeight = 100;
  TResampleFilter Filter = rfFastLinear;
};

struct TRvLoadResult {
  std::uint64_t Key = 0;
  std::string FileName;
  // The reduction (or the picture as loaded); for a failed load the blank
  // marked thumbnail.
  std::unique_ptr<TRvBitmap> Bitmap;
  std::unique_ptr<TIOParamsVals> Params;
  platform::TColor Background = 0;
  int FullWidth = 0;
  int FullHeight = 0;
  bool Failed = false;
};

// Runs one load as a worker does: never raises. Cancelled, when given, stops
// the load whenever it is set, before the reader starts as well as during.
std::shared_ptr<TRvLoadResult> RvRunLoadJob(const TRvLoadRequest& Request, TRastrumIO& IO,
                                            const std::atomic<bool>* Cancelled = nullptr);

class TRvStarter {
public:
  // Called on a worker thread when results wait where there were none: it
  // must ask the user-interface thread to take them (TakeResults), and only
  // ask (it runs under the starter's lock).
  using TDeliverProc = std::function<void()>;

  explicit TRvStarter(TDeliverProc Deliver);
  // Cancels every job and joins the workers.
  ~TRvStarter();
  TRvStarter(const TRvStarter&) = delete;
  TRvStarter& operator=(const TRvStarter&) = delete;

  // At most this many jobs run at once; 0 runs none.
  void SetPoolSize(int Value);
  int PoolSize() const;

  // Queue operations (user-interface thread).
  bool IsPending(std::uint64_t Key) const;
  // A result for Key read from FileName waits to be taken.
  bool HasResult(std::uint64_t Key, const std::string& FileName) const;
  void Enqueue(TRvLoadRequest Request);
  // Drops queued requests and cancels running jobs whose image is no
  // longer wanted.
  void Prune(const std::function<bool(std::uint64_t Key)>& Wanted, bool Running);
  // Empties the queue and cancels every running job.
  void StopLoaders();
  int QueueCount() const;
  int RunningCount() const;
  // Up to Max results of jobs that ran to their end uncancelled, oldest
  // first; Rest receives how many still wait.
  std::vector<std::shared_ptr<TRvLoadResult>> TakeResults(int Max, int& Rest);
  // Stops and joins the workers; the queue is dropped.
  void Terminate();

private:
  struct TJob {
    TRvLoadRequest Request;
    std::unique_ptr<TRastrumIO> IO;
    std::atomic<bool> Cancelled{false};
  };

  void Execute();
  void Cancel(TJob& Job);
  void StartWorkers(std::unique_lock<std::mutex>& Lock);

  TDeliverProc FDeliver;
  // Guards the queue, the job list, the results and the pool size; never
  // held while a picture is decoded. Results pass to the user-interface
  // thread under it, so what a worker wrote is seen whole.
  mutable std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TRvLoadRequest> FQueue;
  std::vector<std::shared_ptr<TJob>> FRunning;
  std::deque<std::shared_ptr<TRvLoadResult>> FDone;
  std::vector<std::thread> FWorkers;
  int FPoolSize = 5;
  bool FTerminated = false;
};

} // namespace rv
