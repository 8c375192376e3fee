// Services shared by the edit-control library: its message table, the set of
// characters its editors treat as alphabetic, and the timer pool that serves
// any number of triggers from one timer.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QTimer;

namespace wn {

// Errors of the edit-control library.
class EQoException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ENoTimersAvailable : public EQoException {
 public:
  ENoTimersAvailable();
};

// The text of a library message; "Unknown" when the number has none. Only
// the low 16 bits of the number count.
std::string GetQoMessage(int MessageNumber);

// Blank, ",", "-", ".", the ASCII letters and the letters among 128..255.
const std::bitset<256>& QoAlphaChars();

class TQoTimerPool;

// (pool, trigger handle, milliseconds since the trigger was added, interval)
using TQoTimerEvent = std::function<void(TQoTimerPool* Sender, int Handle, int Elapsed, int Interval)>;

class TQoTimerPool {
 public:
  TQoTimerPool();
  ~TQoTimerPool();
  TQoTimerPool(const TQoTimerPool&) = delete;
  TQoTimerPool& operator=(const TQoTimerPool&) = delete;

  // Adds an active trigger firing every Interval milliseconds (once when
  // Repeat is false); answers its handle, never 0.
  int Add(int Interval, TQoTimerEvent Event, bool Repeat = true);
  // A handle that is not in the pool changes nothing.
  void Remove(int Handle);
  void SetActive(int Handle, bool Active);
  bool Exists(int Handle) const;

  int Count() const { return static_cast<int>(FTriggers.size()); }
  int ActiveCount() const { return FActiveCount; }
  // The period of the shared timer in milliseconds; 0 when it is stopped.
  int Interval() const { return FInterval; }
  bool TimerRunning() const;
  std::string About() const { return "v4.06"; }

  // Fires every trigger that is due at the tick count Now; the shared timer
  // calls it with the current tick count.
  void TimerExpired(std::int64_t Now);

  TQoTimerEvent OnAllTimers;

 private:
  struct TQoTrigger {
    int Handle = 0;
    int Elapsed = 0;
    int Interval = 0;
    std::int64_t Last = 0;
    TQoTimerEvent Event;
    bool Active = true;
    bool Repeat = true;
  };

  TQoTrigger* Find(int Handle) const;
  void Recount();
  void CalcInterval(std::int64_t Now);
  void ResetTimer();

  std::vector<std::unique_ptr<TQoTrigger>> FTriggers;
  std::unique_ptr<QTimer> FTimer;
  int FInterval = 0;
  int FActiveCount = 0;
  int FNextHandle = 1;
};

}  // namespace wn
