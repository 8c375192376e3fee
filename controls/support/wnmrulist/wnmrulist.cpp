#include "controls/support/wnmrulist/wnmrulist.h"

#include <QAction>
#include <QMenu>

#include <cstring>

namespace wn {

namespace {

platform::HKEY RootKeyHandle(TWnHKey Key) {
  switch (Key) {
    case hkClassesRoot: return platform::HKEY_CLASSES_ROOT;
    case hkLocalMachine: return platform::HKEY_LOCAL_MACHINE;
    case hkUsers: return HKEY_USERS;
    case hkCurrentConfig: return HKEY_CURRENT_CONFIG;
    case hkCurrentUser: break;
  }
  return platform::HKEY_CURRENT_USER;
}

constexpr int TextBufferSize = 256;
constexpr int DataBufferSize = 1024;
constexpr int LargeDataBufferSize = 64000;

}  // namespace

TWnMruList::TWnMruList() {
  SetWantUnicode(false);
  Close();
}

TWnMruList::~TWnMruList() = default;

TMruListDesc TWnMruList::ListDescription() const {
  TMruListDesc Desc;
  Desc.cbSize = 4;
  Desc.uMax = FMaxItems;
  Desc.fFlags = (FDataType == dtBinary ? MRU_BINARY : MRU_STRING) | (FDelayedWrite ? MRU_CACHEWRITE : 0);
  Desc.hKey = RootKeyHandle(FRootKey);
  Desc.SubKey = FSubKeyUnicode.toStdString();
  return Desc;
}

void TWnMruList::Open() {
  if (FSubKeyUnicode.isEmpty()) return;
  // A list opened twice would otherwise be held twice; the older one goes
  // first so that what it still has to write is there for the new one.
  FList.reset();
  FList = TMruServiceList::Create(ListDescription());
  if (!FList) throw EMruException("Unable to create MRU");
}

void TWnMruList::Close() {
  FList.reset();
  FItemIndex = -1;
  FItemData.reset();
}

void TWnMruList::Reopen() {
  Close();
  Open();
}

void TWnMruList::SetActive(bool Value) {
  if (Value == Active()) return;
  if (Value)
    Open();
  else
    Close();
}

void TWnMruList::SetRootKey(TWnHKey Value) {
  if (Value == FRootKey) return;
  FRootKey = Value;
  Reopen();
}

void TWnMruList::SetMaxItems(TMRUCount Value) {
  if (Value == FMaxItems) return;
  FMaxItems = Value;
  Reopen();
}

void TWnMruList::SetDataType(TWnDataType Value) {
  if (Value == FDataType) return;
  FDataType = Value;
  Reopen();
}

void TWnMruList::SetSubKeyUnicode(const QString& Value) {
  if (Value == FSubKeyUnicode) return;
  FSubKeyUnicode = Value;
  Reopen();
}

void TWnMruList::SetWantUnicode(bool Value) {
  FWantUnicode = Value;
  FUseUnicode = FWantUnicode && FNTFamily;
}

bool TWnMruList::AddString(const std::string& Text) { return FList && FList->AddString(Text) != -1; }

bool TWnMruList::AddPChar(const char* Text) { return AddString(Text ? std::string(Text) : std::string()); }

int TWnMruList::FindString(const std::string& Text) { return FList ? FList->FindString(Text) : -1; }

int TWnMruList::DeleteItem(int Index) {
  const int Result = FList ? FList->Delete(Index) : 0;
  Reopen();
  return Result;
}

int TWnMruList::GetItemsCount() { return FList ? FList->Enum(-1, nullptr, 0, false) : 0; }

bool TWnMruList::ReadItem(int Index, bool FireEvents) {
  if (!FList) return false;
  if (FDataType == dtBinary) {
    std::vector<std::uint8_t> Buffer(DataBufferSize);
    int Result = FList->Enum(Index, Buffer.data(), DataBufferSize, FUseUnicode);
    if (Result >= DataBufferSize) {
      Buffer.resize(LargeDataBufferSize);
      Result = FList->Enum(Index, Buffer.data(), LargeDataBufferSize, FUseUnicode);
    }
    if (Result == -1) return false;
    // An item larger than the buffer is cut to what was read, never read past it.
    Buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(Result), Buffer.size()));
    FItemData = std::move(Buffer);
    FItemIndex = Index;
    if (FireEvents) DoEnumData(static_cast<int>(FItemData->size()));
    return true;
  }
  const std::size_t CharSize = FUseUnicode ? sizeof(char16_t) : sizeof(char);
  std::vector<std::uint8_t> Buffer(TextBufferSize * CharSize);
  int Result = FList->Enum(Index, Buffer.data(), TextBufferSize, FUseUnicode);
  if (Result > TextBufferSize - 1) {
    Buffer.assign((static_cast<std::size_t>(Result) + 1) * CharSize, 0);
    Result = FList->Enum(Index, Buffer.data(), Result + 1, FUseUnicode);
  }
  if (Result == -1) return false;
  FItemData = std::move(Buffer);
  FItemIndex = Index;
  if (FireEvents) {
    if (FUseUnicode)
      DoEnumUnicodeText();
    else
      DoEnumText();
  }
  return true;
}

std::string TWnMruList::ItemText() const {
  if (!FItemData) return {};
  const auto* Begin = reinterpret_cast<const char*>(FItemData->data());
  return std::string(Begin, strnlen(Begin, FItemData->size()));
}

QString TWnMruList::ItemUnicodeText() const {
  if (!FItemData) return {};
  std::u16string Text(FItemData->size() / sizeof(char16_t), u'\0');
  std::memcpy(Text.data(), FItemData->data(), Text.size() * sizeof(char16_t));
  return QString::fromStdU16String(Text.substr(0, Text.find(u'\0')));
}

void TWnMruList::DoEnumText() {
  if (OnEnumText) OnEnumText(this, ItemText(), FItemIndex);
}

void TWnMruList::DoEnumUnicodeText() {
  if (OnEnumUnicodeText) OnEnumUnicodeText(this, ItemUnicodeText(), FItemIndex);
}

void TWnMruList::DoEnumData(int Size) {
  if (OnEnumData) OnEnumData(this, FItemData ? FItemData->data() : nullptr, Size, FItemIndex);
}

int AddMruMenuItems(QMenu& Menu, TWnMruList& List, const std::function<void(QAction*)>& OnClick) {
  int Added = 0;
  const int Count = List.GetItemsCount();
  for (int i = 0; i < Count; ++i) {
    if (!List.ReadItem(i, false)) continue;
    const QString Text = List.UseUnicode() ? List.ItemUnicodeText() : QString::fromStdString(List.ItemText());
    QAction* Action = Menu.addAction(QString(Text).replace(QLatin1Char('&'), QStringLiteral("&&")));
    // A byte entry (a path) keeps its bytes: its text may have lost some.
    Action->setData(List.UseUnicode() ? QVariant(Text) : QVariant(QByteArray::fromStdString(List.ItemText())));
    if (OnClick) QObject::connect(Action, &QAction::triggered, Action, [Action, OnClick] { OnClick(Action); });
    ++Added;
  }
  return Added;
}

QString MruMenuItemText(const QAction* Action) { return Action ? Action->data().toString() : QString(); }

std::string MruMenuItemBytes(const QAction* Action) {
  return Action ? Action->data().toByteArray().toStdString() : std::string();
}

}  // namespace wn
