#include "controls/kel/kelfoundation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <limits>

namespace kel {

// ---- TKelObject

void TKelObject::Change() {
  if (!FUpdating && OnChange) OnChange(this);
}

void TKelObject::EndUpdate(bool doChange) {
  FUpdating = false;
  if (doChange) Change();
}

void TKelObject::Assign(const TKelObject& source) {
  if (&source == this) return;
  throw EKelException("Cannot assign these settings");
}

void TKelObject::LinkChild(TKelObject& child) {
  child.OnChange = [this](TKelObject*) { Change(); };
}

// ---- TKelCustomComponent

void TKelCustomComponent::Change() {
  if (!FUpdating && OnChange) OnChange(this);
}

void TKelCustomComponent::EndUpdate(bool doChange) {
  FUpdating = false;
  if (doChange) Change();
}

void TKelCustomComponent::EndLoading() {
  if (!FLoading) return;
  FLoading = false;
  Loaded();
}

// ---- TKelTimerItem

TKelTimerItem::TKelTimerItem(TKelTimerPool* pool, std::uint16_t id)
    : FPool(pool), FId(id), FTicks(pool->MinInterval() ? 1000u / pool->MinInterval() : 1u) {}

void TKelTimerItem::SetEnabled(bool value) {
  if (value == FEnabled) return;
  if (value && RepeatLimit == 0) return;
  FEnabled = value;
  FFireCount = 0;
}

void TKelTimerItem::SetInterval(std::uint16_t ms) {
  if (ms == FInterval) return;
  const std::uint16_t minInterval = FPool->MinInterval();
  if (ms % minInterval != 0) return;
  const std::uint16_t interval = ms == 0 ? minInterval : ms;
  FTicks = interval / minInterval;
  FInterval = interval;
  FFireCount = 0;
}

void TKelTimerItem::Fire() {
  FFireCount = FFireCount == std::numeric_limits<std::int32_t>::max() ? 0 : FFireCount + 1;
  // The count stays readable by the handler of this last firing.
  if (FFireCount == RepeatLimit) FEnabled = false;
  if (Callback)
    Callback(FPool);
  else if (FPool->OnTimer)
    FPool->OnTimer(FPool, FId, FFireCount);
}

// ---- TKelTimerPool

TKelTimerPool::TKelTimerPool() = default;

TKelTimerPool::~TKelTimerPool() {
  if (FTimer) FTimer->stop();
}

void TKelTimerPool::SetMinInterval(std::uint16_t value) {
  if (!Loading()) return;
  // Every interval is divided by the minimum: 0 would divide by zero.
  if (value == 0) return;
  FMinInterval = value;
}

TKelTimerItem& TKelTimerPool::AddItem(std::uint16_t id, std::uint16_t interval,
                                      TKelTimerItem::TCallback callback) {
  if (FindItem(id)) throw EListError("List index out of bounds (" + std::to_string(id) + ")");
  if (interval < FMinInterval || interval % FMinInterval != 0)
    throw EKelException("Interval not compatible with MinInterval property!");
  auto item = std::make_unique<TKelTimerItem>(this, id);
  item->SetInterval(interval);
  item->Callback = std::move(callback);
  TKelTimerItem& result = *item;
  FItems.push_back(std::move(item));
  Restart(true);
  return result;
}

void TKelTimerPool::RemoveItem(std::uint16_t id) {
  auto it = std::find_if(FItems.begin(), FItems.end(),
                         [id](const auto& item) { return item->FId == id; });
  if (it == FItems.end()) return;
  (*it)->FEnabled = false;
  (*it)->FRemoved = true;
  (*it)->Callback = nullptr;
  // An item may remove itself from its own callback: it lives until the tick ends.
  if (FInTick) FRemovedDuringTick.push_back(std::move(*it));
  FItems.erase(it);
}

TKelTimerItem* TKelTimerPool::FindItem(std::uint16_t id) const {
  for (const auto& item : FItems)
    if (item->FId == id) return item.get();
  return nullptr;
}

void TKelTimerPool::Restart(bool enable) {
  if (!FTimer) {
    FTimer = std::make_unique<QTimer>();
    FTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerTick(); });
  }
  FRunning = false;
  FTimer->stop();
  const bool anyEnabled =
      std::any_of(FItems.begin(), FItems.end(), [](const auto& item) { return item->FEnabled; });
  if (enable && anyEnabled) {
    FTimer->start(FMinInterval);
    if (!FTimer->isActive()) throw EOutOfResources("Not enough timers available");
    FTickCounter = 1;
    FRunning = true;
  }
}

void TKelTimerPool::TimerTick() {
  if (FInTick) return;
  FInTick = true;
  struct TTickEnd {
    TKelTimerPool* Pool;
    ~TTickEnd() {
      Pool->FInTick = false;
      Pool->FRemovedDuringTick.clear();
    }
  } tickEnd{this};
  // Callbacks may add or remove items: walk a snapshot, skip what was removed.
  std::vector<TKelTimerItem*> items;
  items.reserve(FItems.size());
  for (const auto& item : FItems) items.push_back(item.get());
  const std::uint32_t counter = FTickCounter;
  for (TKelTimerItem* item : items) {
    if (item->FRemoved || !item->FEnabled || item->FTicks == 0) continue;
    if (counter % item->FTicks == 0) item->Fire();
  }
  FTickCounter = FTickCounter == std::numeric_limits<std::uint32_t>::max() ? 0 : FTickCounter + 1;
}

// ---- TKelApplication and the shared pool

TKelApplication::TKelApplication() {
  FTimerPool.BeginLoading();
  FTimerPool.SetMinInterval(50);
  FTimerPool.EndLoading();
}

void TKelApplication::SetThemeMode(bool on) {
  if (on == FThemeMode) return;
  if (on && !KelThemesActive()) return;
  FThemeMode = on;
}

namespace {

std::unique_ptr<TKelApplication>& ApplicationHolder() {
  static std::unique_ptr<TKelApplication> holder;
  return holder;
}

// The shared pool's timer must go before the Qt application object does.
void FreeKelApplication() { ApplicationHolder().reset(); }

} // namespace

TKelApplication& KelApplication() {
  auto& holder = ApplicationHolder();
  if (!holder) {
    holder = std::make_unique<TKelApplication>();
    if (QCoreApplication::instance()) qAddPostRoutine(FreeKelApplication);
  }
  return *holder;
}

std::uint16_t KelTimerAdd(std::uint16_t interval, TKelTimerItem::TCallback callback) {
  TKelApplication& app = KelApplication();
  auto& slotTable = app.TimerSlots();
  for (int slot = 1; slot <= kelSharedTimerSlots; ++slot) {
    if (slotTable[slot]) continue;
    const auto id = static_cast<std::uint16_t>(0xFD00 + slot);
    app.TimerPool().AddItem(id, interval, std::move(callback));
    slotTable[slot] = true;
    return id;
  }
  return 0;
}

void KelTimerRemove(std::uint16_t id) {
  if (id < kelSharedTimerFirstId) return;
  const int slot = id - 0xFD00;
  // Ids past the last slot belong to no shared item.
  if (slot > kelSharedTimerSlots) return;
  TKelApplication& app = KelApplication();
  app.TimerPool().RemoveItem(id);
  app.TimerSlots()[slot] = false;
}

bool KelThemesLoaded() { return false; }

bool KelThemesActive() { return KelApplication().ThemeMode() && KelThemesLoaded(); }

// ---- TKelWndProcComponent

class TKelWndProcComponent::TFilter : public QObject {
public:
  explicit TFilter(TKelWndProcComponent* component) : FComponent(component) {}
  bool eventFilter(QObject*, QEvent* event) override { return FComponent->WndProc(event); }

private:
  TKelWndProcComponent* FComponent;
};

TKelWndProcComponent::TKelWndProcComponent(QWidget* owner) : FOwner(owner) {}

TKelWndProcComponent::~TKelWndProcComponent() { Unhook(); }

void TKelWndProcComponent::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  if (value)
    Hook();
  else
    Unhook();
}

void TKelWndProcComponent::Hook() {
  if (!FOwner || FFilter) return;
  FFilter = std::make_unique<TFilter>(this);
  FOwner->installEventFilter(FFilter.get());
}

void TKelWndProcComponent::Unhook() {
  if (!FFilter) return;
  if (FOwner) FOwner->removeEventFilter(FFilter.get());
  FFilter.reset();
}

bool TKelWndProcComponent::WndProc(QEvent*) { return false; }

void TKelWndProcComponent::Loaded() {
  if (FEnabled) Hook();
}

// ---- one instance per owner, theme manager

void KelCheckOneInstance(const std::string& className, int countOnOwner, bool wrongOwner, bool perProject) {
  if (!wrongOwner && countOnOwner <= 1) return;
  const std::string reason = perProject ? "Already one " + className + " control in this project!"
                                        : std::string("Invalid owner (<>TForm) or second instance on a form");
  throw KelEOneInstError(className + ":\r" + reason);
}

bool TKelXPThemeManager::WndProc(QEvent* event) {
  if (event->type() == QEvent::ThemeChange && KelThemesActive()) {
    KelApplication().SetThemeMode(false);
    KelApplication().SetThemeMode(true);
  }
  return false;
}

} // namespace kel
