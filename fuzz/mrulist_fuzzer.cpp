// The recent-items list is read back from the key store at every start: any
// stored form must open to a list within its capacity whose items read, and
// what the open wrote back must open to the same list.
#include "controls/support/wnmrulist/wnmrulist.h"

#include <QDir>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string Key = "Software\\Halvenworth\\Pictrova 3\\RecentFolders";

// A fresh folder per input: the key store keeps what it read while the
// file looks the same.
std::string FreshStoreFolder() {
  struct TBase {
    std::string Path = (QDir("/dev/shm").exists() ? std::string("/dev/shm") : QDir::tempPath().toStdString()) +
                       "/mrulist-fuzz-" + std::to_string(getpid());
    ~TBase() { QDir(QString::fromStdString(Path)).removeRecursively(); }
  };
  static const TBase Base;
  static int Count = 0;
  QDir(QString::fromStdString(Base.Path + "/" + std::to_string(Count))).removeRecursively();
  return Base.Path + "/" + std::to_string(++Count);
}

std::vector<std::string> ReadAll(wn::TWnMruList& List) {
  std::vector<std::string> Items;
  const int Count = List.GetItemsCount();
  for (int i = 0; i < Count; ++i) {
    if (!List.ReadItem(i, true)) std::abort();
    if (List.ItemIndex() != i) std::abort();
    Items.push_back(List.DataType() == wn::dtBinary
                        ? std::string(List.ItemData()->begin(), List.ItemData()->end())
                        : List.ItemText());
  }
  return Items;
}

}  // namespace

// The input: a capacity byte, a kind byte (bit 0: binary list), then
// newline-separated values, each a name character, a kind character ('s'
// text, 'b' binary, anything else an integer) and the value's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int Capacity = data[0];
  const bool Binary = data[1] & 1;
  const std::string Text(reinterpret_cast<const char*>(data + 2), size - 2);

  platform::TRegKeyNode Root;
  platform::TRegKeyNode* Node = &Root;
  for (const char* Part : {"Software", "Halvenworth", "Pictrova 3", "RecentFolders"}) {
    std::string Lower(Part);
    for (char& C : Lower) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    Node = &Node->SubKeys[Lower];
    Node->Name = Part;
  }
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    const std::size_t End = std::min(Text.find('\n', Pos), Text.size());
    const std::string Field = Text.substr(Pos, End - Pos);
    Pos = End + 1;
    if (Field.size() < 2) continue;
    platform::TRegValue Value;
    Value.Name = Field.substr(0, 1);
    const std::string Bytes = Field.substr(2);
    if (Field[1] == 's') {
      Value.Kind = platform::rdString;
      Value.Text = Bytes;
    } else if (Field[1] == 'b') {
      Value.Kind = platform::rdBinary;
      Value.Bytes.assign(Bytes.begin(), Bytes.end());
    } else {
      Value.Kind = platform::rdInteger;
      Value.Integer = static_cast<std::int32_t>(Bytes.size());
    }
    if (Value.Name == "M") Value.Name = "MRUList";
    std::string Lower = Value.Name;
    for (char& C : Lower) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    Node->Values[Lower] = std::move(Value);
  }
  const std::string Folder = FreshStoreFolder();
  QDir().mkpath(QString::fromStdString(Folder));
  std::ofstream(Folder + "/HKEY_CURRENT_USER.keys", std::ios::binary) << platform::SerializeKeyStore(Root);
  platform::SetKeyStoreFolder(Folder);

  std::vector<std::string> First;
  {
    wn::TWnMruList List;
    List.SetDataType(Binary ? wn::dtBinary : wn::dtString);
    List.SetSubKey(Key);
    List.SetMaxItems(static_cast<wn::TMRUCount>(Capacity));
    First = ReadAll(List);
    if (First.size() > std::size_t(std::min(Capacity, wn::TMruServiceList::SlotLimit))) std::abort();
    List.Reopen();
    if (ReadAll(List) != First) std::abort();
    if (!Binary && Capacity > 0) {
      if (!List.AddString("/new")) std::abort();
      if (List.FindString("/new") != 0 || List.GetItemsCount() > std::min(Capacity, 30)) std::abort();
    }
  }
  platform::SetKeyStoreFolder("");
  return 0;
}
