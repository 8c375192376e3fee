#include "controls/support/wnmrulist/wnmruservice.h"

#include <QString>

#include <algorithm>
#include <cstring>

namespace wn {

namespace {

constexpr const char* OrderValue = "MRUList";

// The slot of a value name, -1 for names that are no slot's.
int SlotOf(const std::string& Name) {
  if (Name.size() != 1) return -1;
  const int Slot = static_cast<unsigned char>(Name[0]) - 'a';
  return Slot >= 0 && Slot < TMruServiceList::SlotLimit ? Slot : -1;
}

bool IsStoreRoot(platform::HKEY Key) {
  return Key == platform::HKEY_CURRENT_USER || Key == platform::HKEY_CLASSES_ROOT ||
         Key == platform::HKEY_LOCAL_MACHINE;
}

}  // namespace

std::string MruSlotName(int Slot) { return std::string(1, static_cast<char>('a' + Slot)); }

TMruServiceList::TMruServiceList(const TMruListDesc& Desc)
    : FDesc(Desc), FCapacity(std::min<std::uint32_t>(Desc.uMax, SlotLimit)) {}

std::unique_ptr<TMruServiceList> TMruServiceList::Create(const TMruListDesc& Desc) {
  if (!IsStoreRoot(Desc.hKey) || Desc.SubKey.empty()) return nullptr;
  std::unique_ptr<TMruServiceList> List(new TMruServiceList(Desc));
  if (!List->Load()) return nullptr;
  return List;
}

TMruServiceList::~TMruServiceList() {
  if (FDirty) Write();
}

bool TMruServiceList::Load() {
  platform::TRegistry Registry;
  Registry.SetRootKey(FDesc.hKey);
  if (!Registry.OpenKey(FDesc.SubKey, true)) return false;
  const bool Binary = FDesc.fFlags & MRU_BINARY;
  std::string Order;
  if (Registry.GetDataType(OrderValue) == platform::rdString) Order = Registry.ReadString(OrderValue);
  bool Damaged = false;
  std::vector<bool> Seen(SlotLimit, false);
  for (char Letter : Order) {
    const int Slot = SlotOf(std::string(1, Letter));
    const std::string Name = MruSlotName(Slot);
    if (Slot < 0 || Seen[Slot] || Registry.GetDataType(Name) != (Binary ? platform::rdBinary : platform::rdString)) {
      Damaged = true;
      continue;
    }
    Seen[Slot] = true;
    TEntry Entry{Slot, {}};
    if (Binary) {
      const std::vector<std::uint8_t> Bytes = Registry.ReadBinaryData(Name);
      Entry.Data.assign(Bytes.begin(), Bytes.end());
    } else {
      Entry.Data = Registry.ReadString(Name);
    }
    FEntries.push_back(std::move(Entry));
  }
  // A lower capacity than the list was written with keeps the most recent.
  if (FEntries.size() > FCapacity) {
    FEntries.resize(FCapacity);
    Damaged = true;
  }
  std::vector<std::string> Names;
  Registry.GetValueNames(Names);
  for (const std::string& Name : Names) {
    const int Slot = SlotOf(Name);
    if (Slot >= 0 && std::none_of(FEntries.begin(), FEntries.end(), [Slot](const TEntry& E) { return E.Slot == Slot; }))
      Damaged = true;
  }
  if (Damaged) Changed();
  return true;
}

void TMruServiceList::Changed() {
  FDirty = true;
  if (!(FDesc.fFlags & MRU_CACHEWRITE)) Write();
}

// Writes the whole list: values that did not change cost no write, and slot
// values no entry uses are removed.
void TMruServiceList::Write() {
  try {
    platform::TRegistry Registry;
    Registry.SetRootKey(FDesc.hKey);
    if (!Registry.OpenKey(FDesc.SubKey, true)) return;
    std::string Order;
    for (const TEntry& Entry : FEntries) {
      const std::string Name = MruSlotName(Entry.Slot);
      if (FDesc.fFlags & MRU_BINARY)
        Registry.WriteBinaryData(Name, std::vector<std::uint8_t>(Entry.Data.begin(), Entry.Data.end()));
      else
        Registry.WriteString(Name, Entry.Data);
      Order += Name;
    }
    Registry.WriteString(OrderValue, Order);
    std::vector<std::string> Names;
    Registry.GetValueNames(Names);
    for (const std::string& Name : Names) {
      const int Slot = SlotOf(Name);
      if (Slot >= 0 && Order.find(static_cast<char>('a' + Slot)) == std::string::npos) Registry.DeleteValue(Name);
    }
    FDirty = false;
  } catch (const platform::ERegistryException&) {
    // Stays dirty: the next change or the list's end tries again.
  }
}

int TMruServiceList::FreeSlot() const {
  for (int Slot = 0; Slot < SlotLimit; ++Slot)
    if (std::none_of(FEntries.begin(), FEntries.end(), [Slot](const TEntry& E) { return E.Slot == Slot; }))
      return Slot;
  return -1;
}

int TMruServiceList::AddString(const std::string& Text) {
  if ((FDesc.fFlags & MRU_BINARY) || FCapacity == 0) return -1;
  const int Found = FindString(Text);
  if (Found >= 0) {
    std::rotate(FEntries.begin(), FEntries.begin() + Found, FEntries.begin() + Found + 1);
  } else {
    int Slot;
    if (FEntries.size() >= FCapacity) {
      Slot = FEntries.back().Slot;
      FEntries.pop_back();
    } else {
      Slot = FreeSlot();
    }
    FEntries.insert(FEntries.begin(), TEntry{Slot, Text});
  }
  Changed();
  return 0;
}

int TMruServiceList::FindString(const std::string& Text) const {
  if (FDesc.fFlags & MRU_BINARY) return -1;
  for (std::size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i].Data == Text) return static_cast<int>(i);
  return -1;
}

int TMruServiceList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) return 0;
  FEntries.erase(FEntries.begin() + Index);
  Changed();
  return 1;
}

int TMruServiceList::Enum(int Index, void* Buffer, int Size, bool Wide) {
  if (Index < 0) return Count();
  if (Index >= Count()) return -1;
  ++FItemReads;
  const std::string& Data = FEntries[static_cast<std::size_t>(Index)].Data;
  if (FDesc.fFlags & MRU_BINARY) {
    if (Buffer && Size > 0) std::memcpy(Buffer, Data.data(), std::min<std::size_t>(Data.size(), std::size_t(Size)));
    return static_cast<int>(Data.size());
  }
  if (Wide) {
    const QString Text = QString::fromUtf8(Data.data(), static_cast<qsizetype>(Data.size()));
    if (Buffer && Size > 0) {
      const qsizetype N = std::min<qsizetype>(Text.size(), Size - 1);
      auto* Out = static_cast<char16_t*>(Buffer);
      std::memcpy(Out, Text.utf16(), static_cast<std::size_t>(N) * sizeof(char16_t));
      Out[N] = 0;
    }
    return static_cast<int>(Text.size());
  }
  if (Buffer && Size > 0) {
    const std::size_t N = std::min<std::size_t>(Data.size(), std::size_t(Size - 1));
    auto* Out = static_cast<char*>(Buffer);
    std::memcpy(Out, Data.data(), N);
    Out[N] = 0;
  }
  return static_cast<int>(Data.size());
}

}  // namespace wn
