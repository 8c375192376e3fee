// The root of the edit-control library's non-visual components, the
// controller that a form's editing controls share, and two small services of
// the library (its bitmaps and the status bar's container list).
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "controls/support/qoedit/qocommands.h"
#include "controls/support/qoedit/qomessages.h"

class QWidget;

namespace wn {

// One collection that a component streams as children of its form.
class TQoStreamedCollection {
 public:
  virtual ~TQoStreamedCollection() = default;

  bool StoredWithForm = false;
  bool Loading = false;
  bool Loaded = false;
  // Not owned: the items belong to the form.
  std::vector<QObject*> Items;

  // Called once after the owning component has been loaded.
  virtual void Load() {}
};

class TQoCollectionStreamer {
 public:
  explicit TQoCollectionStreamer(QObject* Owner) : FOwner(Owner) {}
  virtual ~TQoCollectionStreamer() = default;
  TQoCollectionStreamer(const TQoCollectionStreamer&) = delete;
  TQoCollectionStreamer& operator=(const TQoCollectionStreamer&) = delete;

  QObject* Owner() const { return FOwner; }
  std::vector<std::unique_ptr<TQoStreamedCollection>> Collections;

 private:
  QObject* FOwner;
};

// Base of the library's components. The owner (a form, usually) frees the
// component with itself.
class TQoComponent : public QObject {
  Q_OBJECT
 public:
  explicit TQoComponent(QObject* Owner = nullptr);
  ~TQoComponent() override;

  std::string About() const { return "v4.06"; }
  void SetAbout(const std::string&) {}

  TQoCollectionStreamer* CollectionStreamer() const { return FCollectionStreamer.get(); }
  void SetCollectionStreamer(std::unique_ptr<TQoCollectionStreamer> Streamer);

  // Who owns the children this component streams; nullptr without a streamer.
  virtual QObject* GetChildOwner() const;
  // Passes every item of every collection stored with the form, in order;
  // nothing without a streamer.
  virtual void GetChildren(const std::function<void(QObject* Child)>& Proc) const;
  // Called once the component's stored settings have been read.
  virtual void Loaded();

 private:
  std::unique_ptr<TQoCollectionStreamer> FCollectionStreamer;
};

enum TQoBaseEFOption {
  efoAutoAdvanceChar,
  efoAutoAdvanceLeftRight,
  efoAutoAdvanceUpDown,
  efoAutoSelect,
  efoBeepOnError,
  efoInsertPushes
};
using TQoBaseEFOptions = std::set<TQoBaseEFOption>;

using TQoNotifyEvent = std::function<void(QObject* Sender)>;
using TQoErrorEvent = std::function<void(QObject* Sender, int ErrorCode, const std::string& ErrorMsg)>;
using TGetEpochEvent = std::function<void(QObject* Sender, int& Epoch)>;
using TDelayNotifyEvent = std::function<void(QObject* Sender, std::uint16_t NotifyCode)>;
using TIsSpecialControlEvent = std::function<void(QObject* Sender, QWidget* Control, bool& Special)>;

// What all editing controls of one form share.
class TQoController : public TQoComponent {
  Q_OBJECT
 public:
  explicit TQoController(QObject* Owner = nullptr);
  ~TQoController() override;

  TQoCommandProcessor& EntryCommands() const { return *FEntryCommands; }
  TQoBaseEFOptions EntryOptions{efoAutoSelect, efoBeepOnError, efoInsertPushes};

  // The stored epoch, or what OnGetEpoch makes of it.
  int Epoch() const;
  // Only years 1600..3999 are taken.
  void SetEpoch(int Value);

  TQoTimerPool& TimerPool() const { return *FTimerPool; }

  // Whether Control (nullptr when the window is not one of ours) is special
  // to the editing controls; false unless OnIsSpecialControl says otherwise.
  bool IsSpecialControl(QWidget* Control);

  TQoErrorEvent OnError;
  TGetEpochEvent OnGetEpoch;
  TDelayNotifyEvent OnDelayNotify;
  TIsSpecialControlEvent OnIsSpecialControl;
  TQoNotifyEvent OnPostEdit;
  TQoNotifyEvent OnPreEdit;
  TQoTimerEvent OnTimerTrigger;

 private:
  std::unique_ptr<TQoCommandProcessor> FEntryCommands;
  std::unique_ptr<TQoTimerPool> FTimerPool;
  int FEpoch;
};

// The controller of every control whose form has none; created on first use
// and freed when the program ends.
TQoController* SharedController();

// The controller on the form of Owner (the window of a widget, else the
// topmost owner), or the shared one when that form has none.
TQoController* FindQoController(QObject* Owner);

// The current year rounded down to a multiple of 100.
int CurrentCentury();

// A bitmap of the library, from the program's resources under ":/qoedit/";
// a null image when there is none of that name.
QImage LoadQoBitmap(const std::string& ResourceName);

// The status bar's containers: remembers its bar and frees the containers
// it still holds when it is freed.
class TQ32ContainerList {
 public:
  explicit TQ32ContainerList(QWidget* StatusBar) : FStatusBar(StatusBar) {}
  ~TQ32ContainerList();
  TQ32ContainerList(const TQ32ContainerList&) = delete;
  TQ32ContainerList& operator=(const TQ32ContainerList&) = delete;

  QWidget* StatusBar() const { return FStatusBar; }
  int Add(QObject* Item);
  // Takes the item out of the list without freeing it.
  void Remove(QObject* Item);
  int Count() const { return static_cast<int>(FItems.size()); }
  QObject* Items(int Index) const;

 private:
  QWidget* FStatusBar;
  // Guarded: a container may have been freed with its parent already.
  std::vector<QPointer<QObject>> FItems;
};

}  // namespace wn
