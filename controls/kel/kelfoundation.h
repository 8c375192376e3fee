// Foundation of the control library: change-notifying settings objects, the
// non-visual component base, the multiplexed timer pool, the library's
// application object with its theme switch, and window-procedure hooks.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QEvent;
class QObject;
class QTimer;
class QWidget;

namespace kel {

class EKelException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
class EListError : public EKelException {
public:
  using EKelException::EKelException;
};
class EOutOfResources : public EKelException {
public:
  using EKelException::EKelException;
};
// A component that may exist once per form found another, or a wrong owner.
class KelEOneInstError : public EKelException {
public:
  using EKelException::EKelException;
};

// Root of every paint-settings object. Setters of descendants compare, store
// and call Change; an owner sets OnChange so that any change repaints it, and
// an object that holds settings objects of its own links them to itself so a
// change anywhere in the tree reaches the owner once.
class TKelObject {
public:
  TKelObject() = default;
  virtual ~TKelObject() = default;
  TKelObject(const TKelObject&) = delete;
  TKelObject& operator=(const TKelObject&) = delete;

  std::function<void(TKelObject* sender)> OnChange;

  // Fires OnChange unless updating or no handler is assigned.
  virtual void Change();
  // A flag, not a counter: brackets do not nest.
  void BeginUpdate() { FUpdating = true; }
  void EndUpdate(bool doChange = true);
  bool Updating() const { return FUpdating; }
  // Design-time summary of the settings.
  virtual std::string GetSetStr() const { return {}; }
  // Copies the settings of source; the base knows none.
  virtual void Assign(const TKelObject& source);

protected:
  // Makes child's changes this object's changes.
  void LinkChild(TKelObject& child);
  // The setter pattern: nothing for an unchanged value, else store and Change.
  template <class T, class U> bool SetProp(T& field, const U& value) {
    if (field == value) return false;
    field = value;
    Change();
    return true;
  }

private:
  bool FUpdating = false;
};

// Non-visual component base.
class TKelCustomComponent {
public:
  TKelCustomComponent() = default;
  virtual ~TKelCustomComponent() = default;
  TKelCustomComponent(const TKelCustomComponent&) = delete;
  TKelCustomComponent& operator=(const TKelCustomComponent&) = delete;

  std::string About;
  std::function<void(TKelCustomComponent* sender)> OnChange;

  virtual void Change();
  void BeginUpdate() { FUpdating = true; }
  void EndUpdate(bool doChange = true);
  bool Updating() const { return FUpdating; }

  // Reading stored settings: some properties may change only meanwhile.
  void BeginLoading() { FLoading = true; }
  void EndLoading();
  bool Loading() const { return FLoading; }

protected:
  virtual void Loaded() {}

private:
  bool FUpdating = false;
  bool FLoading = false;
};

class TKelTimerPool;

// One timed item of a pool.
class TKelTimerItem {
public:
  using TCallback = std::function<void(TKelTimerPool* sender)>;

  TKelTimerItem(TKelTimerPool* pool, std::uint16_t id);

  std::int32_t RepeatLimit = -1; // -1 = endless
  std::int32_t FireCount() const { return FFireCount; }
  std::uint16_t Id() const { return FId; }
  std::uint16_t Interval() const { return FInterval; }
  std::uint32_t Ticks() const { return FTicks; }
  bool Enabled() const { return FEnabled; }
  TCallback Callback;

  // Ignored while the repeat limit is 0 (enabling); a change resets the count.
  void SetEnabled(bool value);
  // Ignored for an interval that is not a multiple of the pool's minimum.
  void SetInterval(std::uint16_t ms);

private:
  friend class TKelTimerPool;
  void Fire();

  TKelTimerPool* FPool;
  std::int32_t FFireCount = 0;
  bool FEnabled = true;
  bool FRemoved = false;
  std::uint16_t FId;
  std::uint16_t FInterval = 1000;
  std::uint32_t FTicks;
};

// One timer serving many items: each item fires every Ticks ticks of the
// pool's MinInterval.
class TKelTimerPool : public TKelCustomComponent {
public:
  TKelTimerPool();
  ~TKelTimerPool() override;

  std::uint16_t MinInterval() const { return FMinInterval; }
  // Changeable only while loading.
  void SetMinInterval(std::uint16_t value);

  std::function<void(TKelTimerPool* pool, std::uint16_t id, std::int32_t fireCount)> OnTimer;

  TKelTimerItem& AddItem(std::uint16_t id, std::uint16_t interval, TKelTimerItem::TCallback callback);
  void RemoveItem(std::uint16_t id);
  TKelTimerItem* FindItem(std::uint16_t id) const;
  int Count() const { return static_cast<int>(FItems.size()); }

  // Stops the timer, and starts it again when enable is true and an item is enabled.
  void Restart(bool enable);
  bool Running() const { return FRunning; }
  std::uint32_t TickCounter() const { return FTickCounter; }

  // One tick of the timer; the timer calls it, and tests may call it in its place.
  void TimerTick();

private:
  std::uint16_t FMinInterval = 1000;
  std::vector<std::unique_ptr<TKelTimerItem>> FItems;
  std::vector<std::unique_ptr<TKelTimerItem>> FRemovedDuringTick;
  std::unique_ptr<QTimer> FTimer;
  bool FRunning = false;
  bool FInTick = false;
  std::uint32_t FTickCounter = 0;
};

inline constexpr std::uint16_t kelSharedTimerFirstId = 0xFD01; // slot 1
inline constexpr int kelSharedTimerSlots = 250;

// The library's application object: the shared timer pool and the theme switch.
class TKelApplication {
public:
  TKelApplication();
  TKelApplication(const TKelApplication&) = delete;
  TKelApplication& operator=(const TKelApplication&) = delete;

  TKelTimerPool& TimerPool() { return FTimerPool; }
  std::array<bool, kelSharedTimerSlots + 1>& TimerSlots() { return FTimerSlots; }

  bool ThemeMode() const { return FThemeMode; }
  // Switching on is refused while the theme library reports themes inactive.
  void SetThemeMode(bool on);

private:
  TKelTimerPool FTimerPool;
  std::array<bool, kelSharedTimerSlots + 1> FTimerSlots{}; // index 0 unused
  bool FThemeMode = false;
};

TKelApplication& KelApplication();

// A shared-pool item firing every interval ms (a multiple of 50); its id, or
// 0 when all 250 slots are taken.
std::uint16_t KelTimerAdd(std::uint16_t interval, TKelTimerItem::TCallback callback);
void KelTimerRemove(std::uint16_t id);

// The visual-theme library is not bound on this platform: controls paint classically.
bool KelThemesLoaded();
bool KelThemesActive();

// Watches the events of its owner window before the window handles them.
class TKelWndProcComponent : public TKelCustomComponent {
public:
  explicit TKelWndProcComponent(QWidget* owner);
  ~TKelWndProcComponent() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  bool Hooked() const { return FFilter != nullptr; }
  QWidget* Owner() const { return FOwner; }

  // A component that does more when it starts or stops watching extends
  // these; a destructor that must undo its part calls its own Unhook.
  virtual void Hook();
  virtual void Unhook();

protected:
  // True when the event is handled here and the window must not see it.
  virtual bool WndProc(QEvent* event);
  void Loaded() override;

private:
  class TFilter;
  QPointer<QWidget> FOwner;
  std::unique_ptr<TFilter> FFilter;
  bool FEnabled = true;
};

// Raises KelEOneInstError when owner is not a window (wrongOwner) or holds
// more than one component of the class.
void KelCheckOneInstance(const std::string& className, int countOnOwner, bool wrongOwner, bool perProject = false);

// Reacts to the desktop's theme changes for the library's controls. Themes
// stay off here (no theme library), so a change only refreshes the state.
class TKelXPThemeManager : public TKelWndProcComponent {
public:
  explicit TKelXPThemeManager(QWidget* owner) : TKelWndProcComponent(owner) {}

protected:
  bool WndProc(QEvent* event) override;
};

} // namespace kel
