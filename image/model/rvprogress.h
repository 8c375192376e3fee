// The record through which codecs and long conversions report progress and
// learn of (or report) an abort.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace rv {

// Sender, percent 0..100.
using TRvProgressEvent = std::function<void(void* Sender, int Per)>;

// The caller's abort flag: set by the caller (from any thread) to stop a
// codec, and by a codec to report bad input or a failed write.
using TRvAbortFlag = std::atomic<bool>;

struct TRvProgressRec {
  TRvProgressEvent OnProgress;
  void* Sender = nullptr;
  std::int32_t Val = 0;
  double Per = 0;
  // Never null while a codec runs.
  TRvAbortFlag* Aborting = nullptr;

  // Stores Val and reports Trunc(Val x Per) when an event is assigned.
  void Step(std::int32_t Value);
  bool IsAborting() const { return Aborting != nullptr && Aborting->load(std::memory_order_relaxed); }
  void Abort() {
    if (Aborting != nullptr) Aborting->store(true, std::memory_order_relaxed);
  }
};

// A record with no event and a flag of its own, for callers that have
// neither.
class TRvLocalProgress {
public:
  TRvLocalProgress() { Rec.Aborting = &FFlag; }
  TRvLocalProgress(const TRvLocalProgress&) = delete;
  TRvLocalProgress& operator=(const TRvLocalProgress&) = delete;
  TRvProgressRec Rec;

private:
  TRvAbortFlag FFlag{false};
};

} // namespace rv
