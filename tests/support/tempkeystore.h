// The key store in a temporary folder for the life of a test, and the values
// of one key as texts.
#pragma once

#include "platform/registry.h"
#include "support/tempfolder.h"

#include <map>
#include <string>
#include <vector>

namespace testing_support {

class TTempKeyStore {
public:
  TTempKeyStore() { platform::SetKeyStoreFolder(FFolder.Path()); }
  ~TTempKeyStore() { platform::SetKeyStoreFolder(""); }
  TTempKeyStore(const TTempKeyStore&) = delete;
  TTempKeyStore& operator=(const TTempKeyStore&) = delete;

private:
  TTempFolder FFolder;
};

// The values of Key (a path from the root) by name: texts as they are,
// integers in decimal, binary values as "#" and their size. Empty when the
// key is missing.
inline std::map<std::string, std::string> KeyValueTexts(const std::string& Key,
                                                        platform::HKEY Root = platform::HKEY_CURRENT_USER) {
  std::map<std::string, std::string> Values;
  platform::TRegistry Registry(platform::KEY_READ);
  Registry.SetRootKey(Root);
  if (!Registry.OpenKeyReadOnly(Key)) return Values;
  std::vector<std::string> Names;
  Registry.GetValueNames(Names);
  for (const auto& Name : Names) {
    switch (Registry.GetDataType(Name)) {
    case platform::rdInteger: Values[Name] = std::to_string(Registry.ReadInteger(Name)); break;
    case platform::rdBinary: Values[Name] = "#" + std::to_string(Registry.ReadBinaryData(Name).size()); break;
    default: Values[Name] = Registry.ReadString(Name); break;
    }
  }
  return Values;
}

} // namespace testing_support
