#include "controls/support/qoformstate/qoformstate.h"

#include "platform/application.h"
#include "platform/graphics.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMetaObject>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <charconv>
#include <cstdio>

namespace wn {

namespace {

constexpr const char* FormColorProperty = "Color";
constexpr const char* DefaultMonitorProperty = "DefaultMonitor";
constexpr const char* MaxPositionProperty = "MaxPosition";

// An exception inside a hook goes to the application's handler; the form
// opens or closes all the same.
void PassToApplication() {
  if (auto* App = dynamic_cast<platform::TApplication*>(QCoreApplication::instance()))
    App->HandleException(std::current_exception());
}

template <class F>
void Guarded(F&& Action) {
  try {
    Action();
  } catch (...) {
    PassToApplication();
  }
}

// One Open and Close around Work, the Close also when Work fails.
template <class F>
void WithStoreOpen(TQoAbstractStore& Store, F&& Work) {
  Store.Open();
  try {
    Work();
  } catch (...) {
    Store.Close();
    throw;
  }
  Store.Close();
}

// The program's own main window: it minimizes the whole application.
bool IsApplicationMainForm(const QWidget* Form) {
  return qobject_cast<const QMainWindow*>(Form) != nullptr && Form->parentWidget() == nullptr;
}

QString ClassName(const QObject* Object) { return QString::fromLatin1(Object->metaObject()->className()); }

// Sets the normal rectangle without losing a maximized or minimized state.
void ApplyNormalRect(QWidget* Form, const QRect& Rect) {
  const Qt::WindowStates States = Form->windowState();
  if (States & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) {
    Form->setWindowState(Qt::WindowNoState);
    Form->setGeometry(Rect);
    Form->setWindowState(States);
  } else {
    Form->setGeometry(Rect);
  }
}

}  // namespace

// ---------------------------------------------------------------- helpers

bool TryTextToInt(const std::string& Text, int& Value) {
  std::size_t First = 0;
  while (First < Text.size() && (Text[First] == ' ' || Text[First] == '\t')) ++First;
  const char* Begin = Text.data() + First;
  const char* End = Text.data() + Text.size();
  if (Begin != End && *Begin == '+') ++Begin;
  int Result = 0;
  const auto [Stop, Error] = std::from_chars(Begin, End, Result);
  if (Error != std::errc() || Stop != End || Begin == End) return false;
  Value = Result;
  return true;
}

std::vector<std::string> SplitPlacementWords(const std::string& Text) {
  std::vector<std::string> Words;
  std::string Word;
  for (char C : Text) {
    if (C == ' ' || C == ',') {
      if (!Word.empty()) Words.push_back(Word);
      Word.clear();
    } else {
      Word += C;
    }
  }
  if (!Word.empty()) Words.push_back(Word);
  return Words;
}

QRect MoveOntoScreen(const QRect& Rect) {
  const QScreen* Primary = QGuiApplication::primaryScreen();
  if (!Primary) return Rect;
  // No window grows past the desktop: its pixels would have to exist.
  QRect Result(Rect.topLeft(), Rect.size().boundedTo(Primary->virtualGeometry().size()));
  const QList<QScreen*> Screens = QGuiApplication::screens();
  for (const QScreen* Screen : Screens)
    if (Screen->geometry().intersects(Result)) return Result;
  const QRect Area = Primary->availableGeometry();
  const int Width = std::min(Result.width(), Area.width());
  const int Height = std::min(Result.height(), Area.height());
  const int Left = std::clamp(Result.left(), Area.left(), Area.left() + Area.width() - Width);
  const int Top = std::clamp(Result.top(), Area.top(), Area.top() + Area.height() - Height);
  return QRect(Left, Top, Width, Height);
}

bool IsSizeableForm(const QWidget* Form) {
  return Form->minimumSize() != Form->maximumSize() &&
         !Form->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint);
}

std::string GetComponentName(const QObject* Component) {
  if (!Component) return {};
  const QString Name = Component->objectName();
  if (const auto* Widget = qobject_cast<const QWidget*>(Component)) {
    if (Widget->isWindow()) return ClassName(Widget).toStdString();
    const QWidget* Form = Widget->window();
    const QString FormName = Form->objectName().isEmpty() ? ClassName(Form) : Form->objectName();
    return (FormName + QLatin1Char('.') + Name).toStdString();
  }
  const auto* Owner = qobject_cast<const QWidget*>(Component->parent());
  if (Owner && Owner->isWindow()) return (ClassName(Owner) + QLatin1Char('.') + Name).toStdString();
  return Name.toStdString();
}

platform::TColor FormColor(const QWidget* Form) {
  const QVariant Value = Form->property(FormColorProperty);
  return Value.isValid() ? static_cast<platform::TColor>(Value.toInt()) : platform::clBtnFace;
}

void SetFormColor(QWidget* Form, platform::TColor Color) {
  Form->setProperty(FormColorProperty, static_cast<int>(Color));
  QPalette Palette = Form->palette();
  Palette.setColor(QPalette::Window, QColor::fromRgb(platform::ColorToQRgb(Color)));
  Form->setPalette(Palette);
}

TDefaultMonitor FormDefaultMonitor(const QWidget* Form) {
  const QVariant Value = Form->property(DefaultMonitorProperty);
  return Value.isValid() ? static_cast<TDefaultMonitor>(Value.toInt()) : dmActiveForm;
}

void SetFormDefaultMonitor(QWidget* Form, TDefaultMonitor Value) {
  Form->setProperty(DefaultMonitorProperty, static_cast<int>(Value));
}

QPoint FormMaxPosition(const QWidget* Form) { return Form->property(MaxPositionProperty).toPoint(); }

int FormShowCmd(const QWidget* Form) {
  const Qt::WindowStates States = Form->windowState();
  if (States & Qt::WindowMinimized) return SW_SHOWMINIMIZED;
  if (States & (Qt::WindowMaximized | Qt::WindowFullScreen)) return SW_SHOWMAXIMIZED;
  return SW_SHOWNORMAL;
}

int FormPlacementFlags(const QWidget* Form) {
  const Qt::WindowStates States = Form->windowState();
  return (States & Qt::WindowMinimized) && (States & Qt::WindowMaximized) ? WPF_RESTORETOMAXIMIZED : 0;
}

QRect FormNormalRect(const QWidget* Form) {
  // Qt keeps no normal rectangle for a window minimized straight from normal.
  const QRect Normal = Form->normalGeometry();
  return Normal.isValid() ? Normal : Form->geometry();
}

// ------------------------------------------------------- TQoAbstractStore

TQoAbstractStore::TQoAbstractStore(QObject* Owner) : TQoComponent(Owner) {}

void TQoAbstractStore::Open() {
  ++FOpenCount;
  if (FOpenCount != 1) return;
  try {
    DoOpen();
  } catch (...) {
    // A store that failed to open must not count as open: the caller's
    // Close never comes, and the next Open has to try again.
    FOpenCount = 0;
    throw;
  }
}

void TQoAbstractStore::Close() {
  if (FOpenCount > 0) --FOpenCount;
  if (FOpenCount == 0) DoClose();
}

void TQoAbstractStore::EraseSection(const std::string&) {}

int TQoAbstractStore::ReadInteger(const std::string& Section, const std::string& Item, int Default) {
  int Value = Default;
  return TryTextToInt(ReadString(Section, Item, std::to_string(Default)), Value) ? Value : Default;
}

void TQoAbstractStore::WriteInteger(const std::string& Section, const std::string& Item, int Value) {
  WriteString(Section, Item, std::to_string(Value));
}

// ------------------------------------------------------- TQoRegistryStore

TQoRegistryStore::TQoRegistryStore(QObject* Owner) : TQoAbstractStore(Owner) {}

TQoRegistryStore::~TQoRegistryStore() = default;

std::string TQoRegistryStore::KeyName() const {
  if (!FKeyName.empty()) return FKeyName;
  return "Software\\" + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}

void TQoRegistryStore::SetKeyName(const std::string& Value) {
  if (Value == FKeyName) return;
  std::size_t First = 0;
  std::size_t Last = Value.size();
  while (First < Last && Value[First] == '\\') ++First;
  while (Last > First && Value[Last - 1] == '\\') --Last;
  FKeyName = Value.substr(First, Last - First);
}

platform::HKEY TQoRegistryStore::Root() const {
  return FRegistryRoot == rrLocalMachine ? platform::HKEY_LOCAL_MACHINE : platform::HKEY_CURRENT_USER;
}

void TQoRegistryStore::DoOpen() {
  auto Registry = std::make_unique<platform::TRegistry>();
  // The ini-style registry object creates its key under the current user
  // first, whatever root is chosen afterwards.
  Registry->OpenKey(KeyName(), true);
  Registry->CloseKey();
  Registry->SetRootKey(Root());
  if (!Registry->OpenKey(KeyName(), true))
    throw platform::ERegistryException("Unable to open key '" + KeyName() + "'");
  FRegIniFile = std::move(Registry);
}

void TQoRegistryStore::DoClose() { FRegIniFile.reset(); }

std::string TQoRegistryStore::SectionPath(const std::string& Section) const {
  const std::string Key = FRegIniFile ? FRegIniFile->CurrentPath() : KeyName();
  return "\\" + Key + "\\" + Section;
}

std::string TQoRegistryStore::ReadString(const std::string& Section, const std::string& Item,
                                         const std::string& Default) {
  platform::TRegistry Registry(platform::KEY_READ);
  Registry.SetRootKey(Root());
  if (!Registry.OpenKeyReadOnly(SectionPath(Section)) || !Registry.ValueExists(Item)) return Default;
  // A value of another kind counts as missing, so a damaged store cannot
  // keep the window from opening.
  const platform::TRegDataType Kind = Registry.GetDataType(Item);
  if (Kind != platform::rdString && Kind != platform::rdExpandString) return Default;
  return Registry.ReadString(Item);
}

void TQoRegistryStore::WriteString(const std::string& Section, const std::string& Item,
                                   const std::string& Value) {
  platform::TRegistry Registry;
  Registry.SetRootKey(Root());
  if (!Registry.OpenKey(SectionPath(Section), true))
    throw platform::ERegistryException("Unable to open key '" + SectionPath(Section) + "'");
  Registry.WriteString(Item, Value);
}

void TQoRegistryStore::EraseSection(const std::string& Section) {
  platform::TRegistry Registry;
  Registry.SetRootKey(Root());
  Registry.DeleteKey(SectionPath(Section));
}

// ------------------------------------------------------- TQoAbstractState

TQoAbstractState::TQoAbstractState(QObject* Owner) : TQoComponent(Owner) {
  if (!qobject_cast<QWidget*>(Owner)) throw EQoException("This component can only be used on forms");
}

TQoAbstractState::~TQoAbstractState() {
  Unhook();
  QObject::disconnect(FStorageConnection);
}

void TQoAbstractState::Unhook() {
  if (!FHookedForm) return;
  // A parent that frees its children has taken us out of its list first:
  // then the form itself is going away, and this is its destruction.
  const QObject* Parent = parent();
  if (Parent && !Parent->children().contains(this)) FormDestroy();
  FHookedForm->removeEventFilter(this);
  FHookedForm = nullptr;
}

void TQoAbstractState::SetStorage(TQoAbstractStore* Value) {
  if (FStorage == Value) return;
  QObject::disconnect(FStorageConnection);
  FStorage = Value;
  if (!Value) return;
  FStorageConnection = connect(Value, &QObject::destroyed, this, [this] { StorageDestroyed(); });
  KeepStorageAfterUs();
}

void TQoAbstractState::KeepStorageAfterUs() {
  // A form frees its children in their order; a store freed before us could
  // not take the save at the form's end.
  QObject* Owner = parent();
  if (!FStorage || !Owner || FStorage->parent() != Owner) return;
  const QObjectList& Siblings = Owner->children();
  if (Siblings.indexOf(FStorage.data()) > Siblings.indexOf(this)) return;
  FStorage->setParent(nullptr);
  FStorage->setParent(Owner);
}

void TQoAbstractState::StorageDestroyed() {
  FActive = false;
  FStorage = nullptr;
}

std::string TQoAbstractState::Section() const {
  return FSection.empty() ? GetComponentName(parent()) : FSection;
}

QWidget* TQoAbstractState::Form() const {
  auto* Owner = qobject_cast<QWidget*>(parent());
  return Owner ? Owner->window() : nullptr;
}

void TQoAbstractState::RestoreState() {
  FSaved = false;
  DoRestoreState();
  FRestored = true;
  if (OnRestoreState) OnRestoreState(this);
}

void TQoAbstractState::SaveState() {
  if (FActive && !FRestored) return;
  DoSaveState();
  if (OnSaveState) OnSaveState(this);
  FSaved = true;
}

void TQoAbstractState::Loaded() {
  TQoComponent::Loaded();
  QWidget* FormWidget = Form();
  if (!FormWidget || FHookedForm) return;
  FHookedForm = FormWidget;
  KeepStorageAfterUs();
  // A form that is on screen already has long been created.
  FCreateHooked = !FormWidget->isVisible();
  FormWidget->installEventFilter(this);
}

bool TQoAbstractState::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched != FHookedForm) return false;
  switch (Event->type()) {
    case QEvent::Polish:
    case QEvent::Show:
      if (FCreateHooked) {
        FCreateHooked = false;
        FormCreate();
      }
      break;
    case QEvent::Close:
      if (!FInCloseQuery) {
        FormCloseQuery(Event);
        return true;
      }
      break;
    default:
      break;
  }
  return false;
}

void TQoAbstractState::FormCreate() {
  if (FActive) Guarded([this] { RestoreState(); });
}

void TQoAbstractState::FormCloseQuery(QEvent* Event) {
  // The form answers first; only a close that goes ahead is saved.
  FInCloseQuery = true;
  static_cast<QObject*>(FHookedForm.data())->event(Event);
  FInCloseQuery = false;
  if (Event->isAccepted() && FActive && FHookedForm && FHookedForm->windowHandle())
    Guarded([this] { SaveState(); });
}

void TQoAbstractState::FormDestroy() {
  if (!FActive || FSaved) return;
  FSavingOnDestroy = true;
  Guarded([this] { SaveState(); });
  FSavingOnDestroy = false;
}

// ----------------------------------------------------------- TQoFormState

TQoFormState::TQoFormState(QObject* Owner) : TQoAbstractState(Owner) {}

// The form's end is saved while this class is still whole.
TQoFormState::~TQoFormState() { Unhook(); }

void TQoFormState::DoRestoreState() {
  QWidget* FormWidget = Form();
  if (!Storage() || !FormWidget) return;
  WithStoreOpen(*Storage(), [&] {
    RestoreFormState(FormWidget, SectionText());
    if (!Options.count(fsActiveControl)) return;
    const std::string Name = Storage()->ReadString(SectionText(), "ActiveControl", "");
    auto* Control = Name.empty() ? nullptr : FormWidget->findChild<QWidget*>(QString::fromStdString(Name));
    if (Control && Control->focusPolicy() != Qt::NoFocus && Control->isEnabled() && Control->isVisibleTo(FormWidget))
      Control->setFocus();
  });
  ResetMaxPosition();
}

void TQoFormState::ResetMaxPosition() {
  QWidget* FormWidget = Form();
  if (!parent() || !FormWidget || !FormWidget->windowHandle()) return;
  // The frame as the window system draws it: none for a form without
  // border, the border or the sizing frame for the others.
  const QRect Frame = FormWidget->frameGeometry();
  const QRect Client = FormWidget->geometry();
  const QPoint Position(-std::max(0, Client.left() - Frame.left()), -std::max(0, Frame.bottom() - Client.bottom()));
  // A placement read from a hidden form is not applied, so nothing of it
  // stays. Where a window manager maximises, it keeps its own place for the
  // form; the placement holds the position all the same.
  if (FormWidget->isVisible()) FormWidget->setProperty(MaxPositionProperty, Position);
}

void TQoFormState::DoSaveState() {
  QWidget* FormWidget = Form();
  if (!Storage() || !FormWidget) return;
  WithStoreOpen(*Storage(), [&] {
    SaveFormState(FormWidget, SectionText());
    if (!Options.count(fsActiveControl)) return;
    if (const QWidget* Control = FormWidget->focusWidget())
      Storage()->WriteString(SectionText(), "ActiveControl", Control->objectName().toStdString());
  });
}

void TQoFormState::SaveFormState(QWidget* FormWidget, const std::string& Section) {
  TQoAbstractStore* Store = Storage();
  const QRect Normal = FormNormalRect(FormWidget);
  char Pos[64];
  std::snprintf(Pos, sizeof Pos, "%d,%d,%d,%d", Normal.left(), Normal.top(), Normal.left() + Normal.width(),
                Normal.top() + Normal.height());
  Store->WriteInteger(Section, "Flags", FormPlacementFlags(FormWidget));
  Store->WriteInteger(Section, "ShowCmd", FormShowCmd(FormWidget));
  Store->WriteString(Section, "NormalPos", Pos);
  Store->WriteInteger(Section, "PixelsPerInch", FormWidget->logicalDpiY());
  if (Options.count(fsDefaultMonitor))
    Store->WriteInteger(Section, "DefaultMonitor", FormDefaultMonitor(FormWidget));
  Store->WriteInteger(Section, "Color", FormColor(FormWidget));
}

void TQoFormState::RestoreFormState(QWidget* FormWidget, const std::string& Section) {
  TQoAbstractStore* Store = Storage();
  if (!Options.count(fsState) && !Options.count(fsPosition)) return;
  // A placement saved at another screen resolution is ignored.
  const int Ppi = FormWidget->logicalDpiY();
  if (Store->ReadInteger(Section, "PixelsPerInch", Ppi) != Ppi) return;

  int Flags = FormPlacementFlags(FormWidget);
  if (Options.count(fsPosition)) {
    Flags = Store->ReadInteger(Section, "Flags", Flags);
    const std::string Text = Store->ReadString(Section, "NormalPos", "");
    if (Text.empty()) return;
    const std::vector<std::string> Words = SplitPlacementWords(Text);
    const auto Word = [&Words](std::size_t Index, int Fallback) {
      int Value = Fallback;
      return Index < Words.size() && TryTextToInt(Words[Index], Value) ? Value : Fallback;
    };
    const QRect Current = FormNormalRect(FormWidget);
    // Coordinates beyond any desktop only need to stay clear of overflow:
    // such a window is moved onto a screen below.
    const auto Coordinate = [](std::int64_t Value) {
      return std::clamp<std::int64_t>(Value, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    };
    const std::int64_t Left = Coordinate(Word(0, Current.left()));
    const std::int64_t Top = Coordinate(Word(1, Current.top()));
    if (Options.count(fsNoSize)) {
      const QRect Moved = MoveOntoScreen(QRect(int(Left), int(Top), Current.width(), Current.height()));
      ApplyNormalRect(FormWidget, QRect(Moved.topLeft(), Current.size()));
    } else {
      std::int64_t Right = Word(2, Current.left() + Current.width());
      std::int64_t Bottom = Word(3, Current.top() + Current.height());
      // Forms of a fixed size keep their size; only the position comes back.
      if (!IsSizeableForm(FormWidget)) {
        Right = Left + Current.width();
        Bottom = Top + Current.height();
      }
      // Placements saved on a screen that is gone would open out of reach.
      if (Right > Left) {
        const QRect Normal(int(Left), int(Top), int(Coordinate(Right - Left)),
                           int(std::clamp<std::int64_t>(Bottom - Top, 0, QWIDGETSIZE_MAX)));
        ApplyNormalRect(FormWidget, MoveOntoScreen(Normal));
      }
    }
  }

  if (Options.count(fsState)) {
    const int ShowCmd = Store->ReadInteger(Section, "ShowCmd", 0);
    Qt::WindowStates State = Qt::WindowNoState;
    if (ShowCmd == SW_SHOWMINIMIZED || ShowCmd == SW_MINIMIZE) State = Qt::WindowMinimized;
    else if (ShowCmd == SW_SHOWMAXIMIZED) State = Qt::WindowMaximized;
    if ((State & Qt::WindowMinimized) && (Flags & WPF_RESTORETOMAXIMIZED)) State |= Qt::WindowMaximized;
    if ((State & Qt::WindowMinimized) && IsApplicationMainForm(FormWidget)) {
      // The whole application goes to the task bar once start-up is over.
      QPointer<QWidget> Target = FormWidget;
      QMetaObject::invokeMethod(
          FormWidget, [Target, State] { if (Target) Target->setWindowState(State); }, Qt::QueuedConnection);
      return;
    }
    FormWidget->setWindowState(State);
  }

  if (Options.count(fsDefaultMonitor)) {
    const std::string Text = Store->ReadString(Section, "DefaultMonitor", "");
    int Value = 0;
    if (!Text.empty() && TryTextToInt(Text, Value) && Value >= dmDesktop && Value <= dmActiveForm)
      SetFormDefaultMonitor(FormWidget, static_cast<TDefaultMonitor>(Value));
  }
  if (Options.count(fsColor)) SetFormColor(FormWidget, Store->ReadInteger(Section, "Color", FormColor(FormWidget)));
  FormWidget->update();
}

}  // namespace wn
