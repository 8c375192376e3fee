// The key maps of the edit-control library: tables that map a key, or a
// sequence of two keys, with its shift states to a command number, and the
// processor that holds the named tables with the three built-in maps.
#pragma once

#include <Qt>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/support/qoedit/qomessages.h"
#include "platform/stream.h"

namespace wn {

class ETableNotFound : public EQoException {
 public:
  ETableNotFound();
};

class EDuplicateCommand : public EQoException {
 public:
  EDuplicateCommand();
};

// Shift-state bits of a record.
constexpr std::uint8_t qssShift = 2;
constexpr std::uint8_t qssCtrl = 4;
constexpr std::uint8_t qssAlt = 8;
// Second shift state of the built-in two-key sequences.
constexpr std::uint8_t qssSequence = 128;

// Virtual-key codes of the keys the built-in maps use; digits and letters
// are their character codes.
constexpr std::uint8_t vkBack = 8, vkTab = 9, vkReturn = 13, vkPrior = 33, vkNext = 34,
                       vkEnd = 35, vkHome = 36, vkLeft = 37, vkUp = 38, vkRight = 39,
                       vkDown = 40, vkInsert = 45, vkDelete = 46, vkF2 = 113;

// The virtual-key code of a Qt key (QKeyEvent::key()); 0 when it has none.
std::uint8_t QtKeyToVirtualKey(int QtKey);
// The record's shift-state bits of Qt's keyboard modifiers.
std::uint8_t QtModifiersToShiftState(Qt::KeyboardModifiers Modifiers);

#pragma pack(push, 1)
struct TQoCmdRec {
  std::uint8_t Key1 = 0;
  std::uint8_t Shift1 = 0;
  std::uint8_t Key2 = 0;
  std::uint8_t Shift2 = 0;
  std::uint16_t Command = 0;

  // The four key bytes as one little-endian integer, first key lowest.
  std::uint32_t Keys() const {
    return Key1 | (std::uint32_t(Shift1) << 8) | (std::uint32_t(Key2) << 16) | (std::uint32_t(Shift2) << 24);
  }
  static TQoCmdRec FromKeys(std::uint32_t Keys, std::uint16_t Command);
  bool operator==(const TQoCmdRec&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TQoCmdRec) == 6);

class TQoCommandTable {
 public:
  TQoCommandTable();

  std::string Name;
  bool Active = true;

  int AddRec(const TQoCmdRec& Rec);
  // The index of the first record with the same keys, or -1.
  int FindKeys(const TQoCmdRec& Rec) const;
  TQoCmdRec GetRec(int Index) const;
  void InsertRec(int Index, const TQoCmdRec& Rec);
  void ReplaceRec(int Index, const TQoCmdRec& Rec);
  void DeleteRec(int Index);
  void ClearRecs();
  int Count() const { return static_cast<int>(FRecs.size()); }

  // Line 1 the name, then one line of five right-aligned numbers per record.
  void WriteToTextFile(const std::string& FileName) const;
  // Raises platform::EStreamError for a missing file or a bad line; the
  // table is unchanged then.
  void ReadFromTextFile(const std::string& FileName);

  // The stored property CommandList, kept only when there are records.
  bool HasCommandList() const { return !FRecs.empty(); }
  // A table of a built-in name stores only its differences from that map.
  void WriteCommandList(platform::TStream& Stream) const;
  // Raises platform::EStreamError on malformed data; the table is unchanged then.
  void ReadCommandList(platform::TStream& Stream);

 private:
  std::vector<TQoCmdRec> FRecs;
};

class TQoCommandProcessor {
 public:
  // Holds "Default" (active), "WordStar" and "Grid" with their built-in maps.
  TQoCommandProcessor();
  virtual ~TQoCommandProcessor();
  TQoCommandProcessor(const TQoCommandProcessor&) = delete;
  TQoCommandProcessor& operator=(const TQoCommandProcessor&) = delete;

  int NewTable(const std::string& Name, bool Active);
  // The first table of that name, compared in upper case; nullptr when none.
  TQoCommandTable* FindTable(const std::string& Name) const;
  void AddToTable(const std::string& TableName, const TQoCmdRec& Rec);
  // Renames the table to the first free name of its family when its base
  // name is taken; answers its index.
  int AddTableUnderFreeName(std::unique_ptr<TQoCommandTable> Table);
  void ClearTables();
  void ClearPendingKeys();

  int TableCount() const { return static_cast<int>(FTables.size()); }
  // Raises ETableNotFound for an index out of range.
  TQoCommandTable& Table(int Index) const;

  virtual int ReadTableFromTextFile(const std::string& FileName);
  virtual void WriteTableToTextFile(const std::string& TableName, const std::string& FileName);

  bool HasTableList() const { return !FTables.empty(); }
  void WriteTableList(platform::TStream& Stream) const;
  // Raises platform::EStreamError on malformed data; the tables are unchanged then.
  void ReadTableList(platform::TStream& Stream);

 private:
  std::vector<std::unique_ptr<TQoCommandTable>> FTables;
  std::uint8_t FPendingKeys[3] = {};
};

// The built-in map of "Default", "WordStar" or "Grid" (any case); empty for
// any other name.
const std::vector<TQoCmdRec>& QoBuiltInCommands(const std::string& TableName);

}  // namespace wn
