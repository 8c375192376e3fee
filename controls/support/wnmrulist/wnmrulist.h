// A most-recently-used list of texts (or binary items) kept in the key store
// through the recent-items list service, and the recent-items menu built
// from one.
#pragma once

#include "controls/support/wnmrulist/wnmruservice.h"
#include "controls/support/wnutils/wnutils.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace wn {

class EMruException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TWnHKey { hkClassesRoot, hkCurrentUser, hkLocalMachine, hkUsers, hkCurrentConfig };
enum TWnDataType { dtString, dtBinary };
// Declared 0 to 29; not checked when set.
using TMRUCount = std::uint8_t;

class TWnMruList : public TWnComponent {
 public:
  using TOnEnumText = std::function<void(TWnMruList* Sender, const std::string& Value, int Index)>;
  using TOnEnumUnicodeText = std::function<void(TWnMruList* Sender, const QString& Value, int Index)>;
  using TOnEnumData = std::function<void(TWnMruList* Sender, const void* Data, int Size, int Index)>;

  TWnMruList();
  ~TWnMruList() override;
  TWnMruList(const TWnMruList&) = delete;
  TWnMruList& operator=(const TWnMruList&) = delete;

  // Silent without a sub key; raises EMruException when the list cannot be made.
  void Open();
  void Close();
  void Reopen();
  bool Active() const { return FList != nullptr; }
  void SetActive(bool Value);

  // Each of these reopens the list when the value changes.
  TWnHKey RootKey() const { return FRootKey; }
  void SetRootKey(TWnHKey Value);
  TMRUCount MaxItems() const { return FMaxItems; }
  void SetMaxItems(TMRUCount Value);
  TWnDataType DataType() const { return FDataType; }
  void SetDataType(TWnDataType Value);
  const QString& SubKeyUnicode() const { return FSubKeyUnicode; }
  void SetSubKeyUnicode(const QString& Value);
  std::string SubKey() const { return FSubKeyUnicode.toStdString(); }
  void SetSubKey(const std::string& Value) { SetSubKeyUnicode(QString::fromStdString(Value)); }

  // Taken at the next open.
  bool DelayedWrite() const { return FDelayedWrite; }
  void SetDelayedWrite(bool Value) { FDelayedWrite = Value; }
  bool WantUnicode() const { return FWantUnicode; }
  void SetWantUnicode(bool Value);
  bool UseUnicode() const { return FUseUnicode; }

  bool AddString(const std::string& Text);
  // The text up to its first null character.
  bool AddPChar(const char* Text);
  int FindString(const std::string& Text);
  int DeleteItem(int Index);
  int GetItemsCount();
  bool GetItem(int Index) { return ReadItem(Index, true); }
  bool ReadItem(int Index, bool FireEvents);

  // The item last read: its index (-1 when none) and its buffer (none after
  // a close): zero-terminated 8-bit or UTF-16 text, or the raw bytes.
  int ItemIndex() const { return FItemIndex; }
  const std::optional<std::vector<std::uint8_t>>& ItemData() const { return FItemData; }
  std::string ItemText() const;
  QString ItemUnicodeText() const;

  // What Open hands to the list service.
  TMruListDesc ListDescription() const;
  // The open list; nullptr when closed.
  TMruServiceList* Handle() const { return FList.get(); }

  TOnEnumText OnEnumText;
  TOnEnumUnicodeText OnEnumUnicodeText;
  TOnEnumData OnEnumData;

 protected:
  virtual void DoEnumText();
  virtual void DoEnumUnicodeText();
  virtual void DoEnumData(int Size);

 private:
  std::unique_ptr<TMruServiceList> FList;
  TMRUCount FMaxItems = 10;
  TWnHKey FRootKey = hkCurrentUser;
  QString FSubKeyUnicode;
  TWnDataType FDataType = dtString;
  bool FDelayedWrite = false;
  bool FWantUnicode = false;
  // This system's text is wide throughout.
  const bool FNTFamily = true;
  bool FUseUnicode = false;
  int FItemIndex = -1;
  std::optional<std::vector<std::uint8_t>> FItemData;
};

// Adds one action per entry of List that can be read, most recent first,
// each calling OnClick. The caption shows the text as it is ("&" doubled so
// it makes no shortcut); the action's data holds the text itself, so the
// entry is found again whatever characters it holds. Answers how many were
// added.
int AddMruMenuItems(QMenu& Menu, TWnMruList& List, const std::function<void(QAction*)>& OnClick);
// The text an action of AddMruMenuItems stands for.
QString MruMenuItemText(const QAction* Action);
// Its bytes: those of a byte entry as stored, a text entry's in UTF-8.
std::string MruMenuItemBytes(const QAction* Action);

}  // namespace wn
