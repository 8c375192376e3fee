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
  bool Damaged = false;
  Registry.ReadKey([&](const platform::TRegKeyNode& Key) {
    FEntries = ReadEntries(Key, FDesc.fFlags & MRU_BINARY, FCapacity, Damaged);
  });
  if (Damaged) Changed();
  return true;
}

std::vector<TMruServiceList::TEntry> TMruServiceList::ReadEntries(const platform::TRegKeyNode& Key, bool Binary,
                                                                  std::size_t Capacity, bool& Damaged) {
  // The store keys values by their lower-case name; slot letters have no
  // upper case.
  const auto Find = [&Key](const std::string& Name) -> const platform::TRegValue* {
    const auto It = Key.Values.find(Name);
    return It == Key.Values.end() ? nullptr : &It->second;
  };
  std::vector<TEntry> Entries;
  std::string Order;
  if (const platform::TRegValue* Value = Find("mrulist"); Value && Value->Kind == platform::rdString)
    Order = Value->Text;
  std::vector<bool> Seen(SlotLimit, false);
  for (char Letter : Order) {
    const int Slot = SlotOf(std::string(1, Letter));
    const platform::TRegValue* Value = Slot < 0 ? nullptr : Find(MruSlotName(Slot));
    if (!Value || Seen[Slot] || Value->Kind != (Binary ? platform::rdBinary : platform::rdString)) {
      Damaged = true;
      continue;
    }
    Seen[Slot] = true;
    Entries.push_back({Slot, Binary ? std::string(Value->Bytes.begin(), Value->Bytes.end()) : Value->Text});
  }
  // A lower capacity than the list was written with keeps the most recent.
  if (Entries.size() > Capacity) {
    Entries.resize(Capacity);
    Damaged = true;
  }
  for (const auto& [_, Value] : Key.Values) {
    const int Slot = SlotOf(Value.Name);
    if (Slot >= 0 && std::none_of(Entries.begin(), Entries.end(), [Slot](const TEntry& E) { return E.Slot == Slot; }))
      Damaged = true;
  }
  return Entries;
}

void TMruServiceList::Apply(std::vector<TEntry>& Entries, const TChange& Change, std::size_t Capacity) {
  const auto Found = std::find_if(Entries.begin(), Entries.end(), [&](const TEntry& E) { return E.Data == Change.Data; });
  if (!Change.Add) {
    if (Found != Entries.end()) Entries.erase(Found);
    return;
  }
  if (Found != Entries.end()) {
    std::rotate(Entries.begin(), Found, Found + 1);
    return;
  }
  if (Capacity == 0) return;
  int Slot = -1;
  if (Entries.size() >= Capacity) {
    Slot = Entries.back().Slot;
    Entries.pop_back();
  } else {
    for (int Free = 0; Free < SlotLimit && Slot < 0; ++Free)
      if (std::none_of(Entries.begin(), Entries.end(), [Free](const TEntry& E) { return E.Slot == Free; })) Slot = Free;
  }
  Entries.insert(Entries.begin(), TEntry{Slot, Change.Data});
}

bool TMruServiceList::StoreEntries(platform::TRegKeyNode& Key, const std::vector<TEntry>& Entries, bool Binary) {
  bool Changes = false;
  const auto Put = [&](const std::string& Lower, platform::TRegValue Value) {
    platform::TRegValue& Stored = Key.Values[Lower];
    if (Stored == Value) return;
    Stored = std::move(Value);
    Changes = true;
  };
  std::string Order;
  for (const TEntry& Entry : Entries) {
    const std::string Name = MruSlotName(Entry.Slot);
    if (Binary)
      Put(Name, {Name, platform::rdBinary, {}, 0, std::vector<std::uint8_t>(Entry.Data.begin(), Entry.Data.end())});
    else
      Put(Name, {Name, platform::rdString, Entry.Data, 0, {}});
    Order += Name;
  }
  Put("mrulist", {OrderValue, platform::rdString, Order, 0, {}});
  // Slot values no entry uses go.
  for (auto It = Key.Values.begin(); It != Key.Values.end();) {
    const int Slot = SlotOf(It->second.Name);
    if (Slot >= 0 && Order.find(static_cast<char>('a' + Slot)) == std::string::npos) {
      It = Key.Values.erase(It);
      Changes = true;
    } else {
      ++It;
    }
  }
  return Changes;
}

void TMruServiceList::Changed() {
  FDirty = true;
  if (!(FDesc.fFlags & MRU_CACHEWRITE)) Write();
}

// The list as stored now, with this run's changes on it, written in one
// step under the store's lock: another run's changes since this one read
// the list stay, and an unchanged list costs no write.
void TMruServiceList::Write() {
  platform::TRegistry Registry;
  Registry.SetRootKey(FDesc.hKey);
  if (!Registry.OpenKey(FDesc.SubKey, true)) return;
  const bool Binary = FDesc.fFlags & MRU_BINARY;
  const bool Written = Registry.ChangeKey([Changes = FChanges, Binary, Capacity = FCapacity](platform::TRegKeyNode& Key) {
    bool Damaged = false;
    std::vector<TEntry> Entries = ReadEntries(Key, Binary, Capacity, Damaged);
    for (const TChange& Change : Changes) Apply(Entries, Change, Capacity);
    return StoreEntries(Key, Entries, Binary);
  });
  // Stays dirty otherwise: the next change or the list's end tries again.
  if (!Written) return;
  FChanges.clear();
  FDirty = false;
  bool Damaged = false;
  Registry.ReadKey([&](const platform::TRegKeyNode& Key) { FEntries = ReadEntries(Key, Binary, FCapacity, Damaged); });
}

int TMruServiceList::AddString(const std::string& Text) {
  if ((FDesc.fFlags & MRU_BINARY) || FCapacity == 0) return -1;
  FChanges.push_back({true, Text});
  Apply(FEntries, FChanges.back(), FCapacity);
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
  FChanges.push_back({false, FEntries[static_cast<std::size_t>(Index)].Data});
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
