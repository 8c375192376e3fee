#include "controls/support/qoedit/qocomponent.h"

#include <QCoreApplication>
#include <QDate>
#include <QWidget>

namespace wn {

TQoComponent::TQoComponent(QObject* Owner) : QObject(Owner) {}

TQoComponent::~TQoComponent() = default;

void TQoComponent::SetCollectionStreamer(std::unique_ptr<TQoCollectionStreamer> Streamer) {
  FCollectionStreamer = std::move(Streamer);
}

QObject* TQoComponent::GetChildOwner() const {
  return FCollectionStreamer ? FCollectionStreamer->Owner() : nullptr;
}

void TQoComponent::GetChildren(const std::function<void(QObject* Child)>& Proc) const {
  if (!FCollectionStreamer) return;
  for (const auto& Collection : FCollectionStreamer->Collections) {
    if (!Collection->StoredWithForm) continue;
    for (QObject* Item : Collection->Items) Proc(Item);
  }
}

void TQoComponent::Loaded() {
  if (!FCollectionStreamer) return;
  for (const auto& Collection : FCollectionStreamer->Collections) {
    Collection->Loading = true;
    try {
      Collection->Load();
    } catch (...) {
      Collection->Loading = false;
      throw;
    }
    Collection->Loading = false;
    Collection->Loaded = true;
  }
}

TQoController::TQoController(QObject* Owner)
    : TQoComponent(Owner),
      FEntryCommands(std::make_unique<TQoCommandProcessor>()),
      FTimerPool(std::make_unique<TQoTimerPool>()),
      FEpoch(CurrentCentury()) {
  FTimerPool->OnAllTimers = [this](TQoTimerPool* Sender, int Handle, int Elapsed, int Interval) {
    if (OnTimerTrigger) OnTimerTrigger(Sender, Handle, Elapsed, Interval);
  };
}

TQoController::~TQoController() {
  FEntryCommands.reset();
  FTimerPool.reset();
}

int TQoController::Epoch() const {
  int Result = FEpoch;
  if (OnGetEpoch) OnGetEpoch(const_cast<TQoController*>(this), Result);
  return Result;
}

void TQoController::SetEpoch(int Value) {
  if (Value == FEpoch || Value < 1600 || Value > 3999) return;
  FEpoch = Value;
}

bool TQoController::IsSpecialControl(QWidget* Control) {
  bool Special = false;
  if (OnIsSpecialControl) OnIsSpecialControl(this, Control, Special);
  return Special;
}

namespace {

std::unique_ptr<TQoController>& SharedControllerSlot() {
  static std::unique_ptr<TQoController> Slot;
  return Slot;
}

// Its timer must go before the application object does.
void FreeSharedController() { SharedControllerSlot().reset(); }

}  // namespace

TQoController* SharedController() {
  auto& Slot = SharedControllerSlot();
  if (!Slot) {
    Slot = std::make_unique<TQoController>();
    if (QCoreApplication::instance()) qAddPostRoutine(FreeSharedController);
  }
  return Slot.get();
}

TQoController* FindQoController(QObject* Owner) {
  QObject* Form = Owner;
  if (auto* Widget = qobject_cast<QWidget*>(Owner)) {
    Form = Widget->window();
  } else {
    while (Form && Form->parent()) Form = Form->parent();
  }
  if (Form) {
    if (auto* Own = qobject_cast<TQoController*>(Form)) return Own;
    if (auto* Own = Form->findChild<TQoController*>()) return Own;
  }
  return SharedController();
}

int CurrentCentury() { return QDate::currentDate().year() / 100 * 100; }

QImage LoadQoBitmap(const std::string& ResourceName) {
  return QImage(QStringLiteral(":/qoedit/") + QString::fromStdString(ResourceName));
}

TQ32ContainerList::~TQ32ContainerList() {
  for (auto& Item : FItems) delete Item.data();
}

int TQ32ContainerList::Add(QObject* Item) {
  FItems.emplace_back(Item);
  return Count() - 1;
}

void TQ32ContainerList::Remove(QObject* Item) {
  std::erase_if(FItems, [Item](const QPointer<QObject>& P) { return P.data() == Item; });
}

QObject* TQ32ContainerList::Items(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<std::size_t>(Index)].data();
}

}  // namespace wn
