// The recent-items list service that the common controls offer, kept in the
// key store. One key holds a list: "MRUList", the slot letters most recent
// first, and one value per slot named by its letter ("a" to "~", so a list
// keeps at most 30 items), text or binary by the list's kind. Every index
// this service takes or answers is a position in that order, 0 the most
// recent.
#pragma once

#include "platform/registry.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wn {

inline constexpr std::uint32_t MRU_STRING = 0;
inline constexpr std::uint32_t MRU_BINARY = 1;
// Changes are written when the list is freed.
inline constexpr std::uint32_t MRU_CACHEWRITE = 2;

inline constexpr platform::HKEY HKEY_USERS = 0x80000003u;
inline constexpr platform::HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

// The list description: the platform's record of six fields.
struct TMruListDesc {
  std::uint32_t cbSize = 0;
  std::uint32_t uMax = 0;
  std::uint32_t fFlags = 0;
  platform::HKEY hKey = 0;
  // The sub key, 8-bit or wide text by the creating entry (UTF-8 here).
  std::string SubKey;
  // Items compare exactly: names that differ in case are different files.
  const void* lpfnCompare = nullptr;
  bool operator==(const TMruListDesc&) const = default;
};

class TMruServiceList {
 public:
  // The most items a list keeps, whatever its description asks for.
  static constexpr int SlotLimit = 30;

  // Opens or creates the list's key and reads the list; nullptr when the
  // root is none of the store's or the key cannot be made. Entries past
  // the capacity are dropped, oldest first.
  static std::unique_ptr<TMruServiceList> Create(const TMruListDesc& Desc);
  // Writes what a delayed-write list still holds.
  ~TMruServiceList();
  TMruServiceList(const TMruServiceList&) = delete;
  TMruServiceList& operator=(const TMruServiceList&) = delete;

  // Puts Text in front (moving it there when present); its index, or -1.
  int AddString(const std::string& Text);
  int FindString(const std::string& Text) const;
  // Nonzero when an item was deleted.
  int Delete(int Index);
  int Count() const { return static_cast<int>(FEntries.size()); }
  // Negative Index: the item count. Otherwise copies item Index into Buffer
  // and answers its full length (-1 when there is no such item): text lists
  // copy at most Size - 1 characters and a terminating zero, as 8-bit text
  // or, when Wide, as UTF-16 characters; binary lists copy at most Size
  // bytes.
  int Enum(int Index, void* Buffer, int Size, bool Wide);
  // How often Enum read an item, for those who watch the reads.
  int ItemReads() const { return FItemReads; }

  const TMruListDesc& Desc() const { return FDesc; }

 private:
  struct TEntry {
    int Slot = 0;
    std::string Data;
  };
  // One change of this run's: Data put in front, or removed.
  struct TChange {
    bool Add = true;
    std::string Data;
  };
  explicit TMruServiceList(const TMruListDesc& Desc);
  bool Load();
  void Changed();
  void Write();
  // The list a key holds: the slots its order names, each once and of the
  // list's kind, the most recent Capacity of them. Damaged tells that the
  // key holds more or other than that.
  static std::vector<TEntry> ReadEntries(const platform::TRegKeyNode& Key, bool Binary, std::size_t Capacity,
                                         bool& Damaged);
  static void Apply(std::vector<TEntry>& Entries, const TChange& Change, std::size_t Capacity);
  // Puts Entries into Key as ReadEntries reads them; answers whether Key changed.
  static bool StoreEntries(platform::TRegKeyNode& Key, const std::vector<TEntry>& Entries, bool Binary);

  TMruListDesc FDesc;
  std::size_t FCapacity = 0;
  std::vector<TEntry> FEntries;
  // This run's changes not yet written: each write applies them to the list
  // as stored then, so that another run's changes in between stay.
  std::vector<TChange> FChanges;
  bool FDirty = false;
  int FItemReads = 0;
};

// The value name of slot Slot.
std::string MruSlotName(int Slot);

}  // namespace wn
