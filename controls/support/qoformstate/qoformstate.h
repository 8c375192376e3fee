// Keeping a window's placement across runs: a store of named text items in
// sections under one key of the key store, and a component that reads its
// form's placement back when the form is created and writes it when the form
// closes. The component works through hooks on its form only.
#pragma once

#include "controls/support/qoedit/qocomponent.h"
#include "platform/colors.h"
#include "platform/registry.h"

#include <QPointer>
#include <QRect>
#include <memory>
#include <set>
#include <string>

class QWidget;

namespace wn {

// Placement values as the window manager of the original platform numbered them.
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int WPF_SETMINPOSITION = 1;
inline constexpr int WPF_RESTORETOMAXIMIZED = 2;

// Where a form asks to appear when it has no position of its own; kept in
// the form's "DefaultMonitor" property.
enum TDefaultMonitor { dmDesktop, dmPrimary, dmMainForm, dmActiveForm };

// A store of text items in named sections. Open and Close nest; only the
// outermost pair opens and closes the underlying store.
class TQoAbstractStore : public TQoComponent {
  Q_OBJECT
 public:
  explicit TQoAbstractStore(QObject* Owner = nullptr);

  void Open();
  void Close();
  int OpenCount() const { return FOpenCount; }

  virtual std::string ReadString(const std::string& Section, const std::string& Item,
                                 const std::string& Default) = 0;
  virtual void WriteString(const std::string& Section, const std::string& Item, const std::string& Value) = 0;
  virtual void EraseSection(const std::string& Section);

  // Default when the text is no valid 32-bit decimal integer.
  int ReadInteger(const std::string& Section, const std::string& Item, int Default);
  void WriteInteger(const std::string& Section, const std::string& Item, int Value);

 protected:
  virtual void DoOpen() = 0;
  virtual void DoClose() = 0;

 private:
  int FOpenCount = 0;
};

enum TQoRegistryRoot { rrCurrentUser, rrLocalMachine };

// Sections are sub-keys of KeyName, items their text values.
class TQoRegistryStore : public TQoAbstractStore {
  Q_OBJECT
 public:
  explicit TQoRegistryStore(QObject* Owner = nullptr);
  ~TQoRegistryStore() override;

  // Empty reads as "Software\" and the program file's name without folder
  // and extension.
  std::string KeyName() const;
  // Leading and trailing backslashes are dropped.
  void SetKeyName(const std::string& Value);
  TQoRegistryRoot RegistryRoot() const { return FRegistryRoot; }
  void SetRegistryRoot(TQoRegistryRoot Value) { FRegistryRoot = Value; }

  std::string ReadString(const std::string& Section, const std::string& Item,
                         const std::string& Default) override;
  void WriteString(const std::string& Section, const std::string& Item, const std::string& Value) override;
  void EraseSection(const std::string& Section) override;

 protected:
  void DoOpen() override;
  void DoClose() override;

 private:
  std::string SectionPath(const std::string& Section) const;
  platform::HKEY Root() const;

  std::string FKeyName;
  TQoRegistryRoot FRegistryRoot = rrCurrentUser;
  // Present only between DoOpen and DoClose.
  std::unique_ptr<platform::TRegistry> FRegIniFile;
};

// A component that hooks its form: restores at creation, saves when a close
// goes ahead, and saves at destruction when nothing was saved since the
// last restore. Its owner must be a widget.
class TQoAbstractState : public TQoComponent {
  Q_OBJECT
 public:
  // Raises EQoException when Owner is no widget.
  explicit TQoAbstractState(QObject* Owner);
  ~TQoAbstractState() override;

  bool Active() const { return FActive; }
  void SetActive(bool Value) { FActive = Value; }
  TQoAbstractStore* Storage() const { return FStorage.data(); }
  // Not owned: a store that goes away turns the component off.
  void SetStorage(TQoAbstractStore* Value);
  // Empty reads as GetComponentName of the owner.
  std::string Section() const;
  void SetSection(const std::string& Value) { FSection = Value; }

  void RestoreState();
  void SaveState();

  bool Restored() const { return FRestored; }
  bool Saved() const { return FSaved; }
  bool SavingOnDestroy() const { return FSavingOnDestroy; }

  // The form whose events are hooked: the owner's window.
  QWidget* Form() const;

  // Hooks the form. Its placement is restored when it is first polished,
  // which Qt does just before the window first shows; a form polished
  // already is restored when it first shows.
  void Loaded() override;

  TQoNotifyEvent OnSaveState;
  TQoNotifyEvent OnRestoreState;

 protected:
  virtual void DoRestoreState() = 0;
  virtual void DoSaveState() = 0;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  // Takes the hooks off; at the form's end, saves first. The most derived
  // class calls it in its destructor, while its saving still works.
  void Unhook();
  // The text as it was set, which is what save and restore use.
  const std::string& SectionText() const { return FSection; }

 private:
  void FormCreate();
  void FormCloseQuery(QEvent* Event);
  void FormDestroy();
  void StorageDestroyed();
  void KeepStorageAfterUs();

  bool FActive = true;
  QPointer<TQoAbstractStore> FStorage;
  QMetaObject::Connection FStorageConnection;
  std::string FSection;
  QPointer<QWidget> FHookedForm;
  bool FCreateHooked = false;
  bool FInCloseQuery = false;
  bool FSavingOnDestroy = false;
  bool FRestored = false;
  bool FSaved = false;
};

enum TQoFormStateOption { fsState, fsPosition, fsNoSize, fsColor, fsActiveControl, fsDefaultMonitor };
using TQoFormStateOptions = std::set<TQoFormStateOption>;

// Values kept under the section: "Flags", "ShowCmd", "NormalPos",
// "PixelsPerInch", "DefaultMonitor" (with fsDefaultMonitor), "Color" and
// "ActiveControl" (with fsActiveControl).
class TQoFormState : public TQoAbstractState {
  Q_OBJECT
 public:
  explicit TQoFormState(QObject* Owner);
  ~TQoFormState() override;

  TQoFormStateOptions Options{fsState, fsPosition};

  // After every restore: the form's maximised position becomes minus the
  // width and height of its frame, so that a maximised form's frame lies
  // beyond the screen's edges. Only a form that has its window and shows
  // takes it.
  void ResetMaxPosition();

 protected:
  void DoRestoreState() override;
  void DoSaveState() override;

 private:
  void SaveFormState(QWidget* Form, const std::string& Section);
  void RestoreFormState(QWidget* Form, const std::string& Section);
};

// The name under which a component's state is kept by default: the class
// name of a window; "<window name>.<name>" of a control inside one (the
// window's class name when it has no name); "<owner class>.<name>" of a
// non-widget owned by a window; else the bare name.
std::string GetComponentName(const QObject* Component);

// Whether the user can resize Form: not fixed in size.
bool IsSizeableForm(const QWidget* Form);

// A form's colour: its "Color" property, clBtnFace when it has none.
platform::TColor FormColor(const QWidget* Form);
// Sets the property and paints the form's background in that colour.
void SetFormColor(QWidget* Form, platform::TColor Color);
TDefaultMonitor FormDefaultMonitor(const QWidget* Form);
void SetFormDefaultMonitor(QWidget* Form, TDefaultMonitor Value);

// The maximised position of a form's placement; (0, 0) until one was set.
QPoint FormMaxPosition(const QWidget* Form);

// The placement's numbers of a form as they are stored.
int FormShowCmd(const QWidget* Form);
int FormPlacementFlags(const QWidget* Form);
QRect FormNormalRect(const QWidget* Form);

// Rect itself when it overlaps a connected screen; else moved (and shrunk
// when needed) into the primary screen's available area.
QRect MoveOntoScreen(const QRect& Rect);

// The words of a "NormalPos" text: separated by blanks and commas.
std::vector<std::string> SplitPlacementWords(const std::string& Text);

// Decimal text of a 32-bit integer, leading blanks allowed; false otherwise.
bool TryTextToInt(const std::string& Text, int& Value);

}  // namespace wn
