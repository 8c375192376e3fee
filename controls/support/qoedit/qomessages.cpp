#include "controls/support/qoedit/qomessages.h"

#include <QChar>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "controls/support/wnutils/wnutils.h"

namespace wn {

namespace {

struct TQoMessageRec {
  std::uint16_t Number;
  const char* Text;
};

// Sorted by number: the lookup is a binary search.
constexpr TQoMessageRec QoMessages[] = {
    {30168, "Unknown Error condition"},
    {30169, "Duplicate command found while adding a new command to the table"},
    {30170, "Command table not found or command table index out of range"},
    {30179, "Value is not within required range"},
    {30189, "No Window's timers are available"},
    {30244, "Label not attached"},
    {30266, "Grid"},
    {30275, "Default"},
    {30276, "WordStar"},
    {30277, "(Unknown)"},
    {30330, "Owner must be a TForm or descendant"},
    {30336, "Invalid value - Maximum must always be greater than Minimum"},
    {30337, "This component can only be used on forms"},
    {30368, "Y"},
    {30369, "N"},
    {30370, "T"},
    {30371, "F"},
};

constexpr int MinTimerInterval = 55;
// A trigger may fire this much early rather than a whole timer period late.
constexpr int EarlyFireMargin = 27;

int SaturatedInt(std::int64_t V) {
  return static_cast<int>(std::clamp<std::int64_t>(V, INT_MIN, INT_MAX));
}

}  // namespace

ENoTimersAvailable::ENoTimersAvailable() : EQoException(GetQoMessage(30189)) {}

std::string GetQoMessage(int MessageNumber) {
  const auto key = static_cast<std::uint16_t>(MessageNumber & 0xFFFF);
  const auto* end = std::end(QoMessages);
  const auto* it = std::lower_bound(std::begin(QoMessages), end, key,
                                    [](const TQoMessageRec& R, std::uint16_t K) { return R.Number < K; });
  if (it == end || it->Number != key) return "Unknown";
  return it->Text;
}

const std::bitset<256>& QoAlphaChars() {
  static const std::bitset<256> chars = [] {
    std::bitset<256> s;
    for (unsigned char c : std::string(" ,-.")) s.set(c);
    for (int c = 'A'; c <= 'Z'; ++c) s.set(static_cast<std::size_t>(c));
    for (int c = 'a'; c <= 'z'; ++c) s.set(static_cast<std::size_t>(c));
    // The upper half is read as Latin-1, the code page these editors use.
    for (int c = 128; c <= 255; ++c)
      if (QChar(static_cast<char16_t>(c)).isLetter()) s.set(static_cast<std::size_t>(c));
    return s;
  }();
  return chars;
}

TQoTimerPool::TQoTimerPool() : FTimer(std::make_unique<QTimer>()) {
  FTimer->setTimerType(Qt::PreciseTimer);
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerExpired(TickCountMs()); });
}

TQoTimerPool::~TQoTimerPool() {
  FInterval = 0;
  ResetTimer();
}

TQoTimerPool::TQoTrigger* TQoTimerPool::Find(int Handle) const {
  for (const auto& t : FTriggers)
    if (t->Handle == Handle) return t.get();
  return nullptr;
}

bool TQoTimerPool::Exists(int Handle) const { return Find(Handle) != nullptr; }

bool TQoTimerPool::TimerRunning() const { return FTimer->isActive(); }

int TQoTimerPool::Add(int Interval, TQoTimerEvent Event, bool Repeat) {
  if (Interval < 0) throw EQoException(GetQoMessage(30179));
  auto t = std::make_unique<TQoTrigger>();
  while (Find(FNextHandle)) FNextHandle = FNextHandle == INT_MAX ? 1 : FNextHandle + 1;
  t->Handle = FNextHandle;
  FNextHandle = FNextHandle == INT_MAX ? 1 : FNextHandle + 1;
  t->Interval = Interval;
  t->Last = TickCountMs();
  t->Event = std::move(Event);
  t->Repeat = Repeat;
  const int handle = t->Handle;
  FTriggers.push_back(std::move(t));
  Recount();
  CalcInterval(TickCountMs());
  ResetTimer();
  return handle;
}

void TQoTimerPool::Remove(int Handle) {
  auto it = std::find_if(FTriggers.begin(), FTriggers.end(),
                         [Handle](const auto& t) { return t->Handle == Handle; });
  if (it == FTriggers.end()) return;
  FTriggers.erase(it);
  Recount();
  CalcInterval(TickCountMs());
  ResetTimer();
}

void TQoTimerPool::SetActive(int Handle, bool Active) {
  TQoTrigger* t = Find(Handle);
  if (!t || t->Active == Active) return;
  t->Active = Active;
  if (Active) t->Last = TickCountMs();
  Recount();
  CalcInterval(TickCountMs());
  ResetTimer();
}

void TQoTimerPool::Recount() {
  FActiveCount = static_cast<int>(
      std::count_if(FTriggers.begin(), FTriggers.end(), [](const auto& t) { return t->Active; }));
}

void TQoTimerPool::CalcInterval(std::int64_t Now) {
  if (FActiveCount == 0) {
    FInterval = 0;
    return;
  }
  std::int64_t v = INT64_MAX;
  for (const auto& t : FTriggers) {
    if (!t->Active) continue;
    // The tick count here is 64-bit and never wraps.
    const std::int64_t since = std::max<std::int64_t>(0, Now - t->Last);
    v = std::min({v, static_cast<std::int64_t>(t->Interval), t->Interval - since});
  }
  v = std::max<std::int64_t>(v, MinTimerInterval);
  // Shrink the period until it divides every interval, so that no trigger
  // waits for a period that overshoots it.
  bool restart = true;
  while (restart && v > MinTimerInterval) {
    restart = false;
    for (const auto& t : FTriggers) {
      if (!t->Active) continue;
      const std::int64_t rest = t->Interval % v;
      if (rest != 0) {
        v -= rest;
        restart = true;
        break;
      }
    }
  }
  FInterval = SaturatedInt(std::max<std::int64_t>(v, MinTimerInterval));
}

void TQoTimerPool::ResetTimer() {
  FTimer->stop();
  if (FInterval != 0 && FActiveCount > 0) FTimer->start(FInterval);
}

void TQoTimerPool::TimerExpired(std::int64_t Now) {
  // Handlers may add or remove triggers: walk a snapshot of the handles.
  std::vector<int> handles;
  handles.reserve(FTriggers.size());
  for (const auto& t : FTriggers) handles.push_back(t->Handle);
  for (int handle : handles) {
    TQoTrigger* t = Find(handle);
    if (!t || !t->Active) continue;
    const std::int64_t since = std::max<std::int64_t>(0, Now - t->Last);
    if (since < static_cast<std::int64_t>(t->Interval) - EarlyFireMargin) continue;
    t->Last = Now;
    t->Elapsed = SaturatedInt(static_cast<std::int64_t>(t->Elapsed) + since);
    const int elapsed = t->Elapsed;
    const int interval = t->Interval;
    TQoTimerEvent event = t->Event;
    if (!t->Repeat) Remove(handle);
    if (event) event(this, handle, elapsed, interval);
    if (OnAllTimers) OnAllTimers(this, handle, elapsed, interval);
  }
}

}  // namespace wn
