// Where a program keeps its settings: an ini file or a registry key,
// optionally per network user, optionally with values encoded by a key, and
// how many numbered entries a list may keep. Only the settings themselves:
// reading and writing values goes through the program's own settings store.
#pragma once

#include <cstdint>
#include <string>

#include "controls/kel/kelfoundation.h"

namespace kel {

enum TKelPathPrefix : std::uint8_t { ppWindows, ppSystem, ppProgram, ppFixed };
enum TKelRegRootKey : std::uint8_t { rpClassesRoot, rpCurrentUser, rpLocalMachine, rpUsers, rpCurrentConfig, rpDynData };
enum TKelIniTarget : std::uint8_t { itIniFile, itRegistry, itAuto };

class TKelIniCtrl : public TKelCustomComponent {
public:
  // Letter counters run from A to Z: at most 26 entries.
  static constexpr int MaxAlphaEntries = 26;

  bool AlphaCounter() const { return FAlphaCounter; }
  // Any change lowers MaxEntries to 26 when it is above.
  void SetAlphaCounter(bool value);
  bool Common() const { return FCommon; }
  void SetCommon(bool value) { Set(FCommon, value); }
  const std::string& IniFile() const { return FIniFile; }
  // A name without extension gets ".INI".
  void SetIniFile(const std::string& value);
  TKelPathPrefix IniPrefix() const { return FIniPrefix; }
  void SetIniPrefix(TKelPathPrefix value) { Set(FIniPrefix, value); }
  int MaxEntries() const { return FMaxEntries; }
  // 0..255; above 26 refused while AlphaCounter is on.
  void SetMaxEntries(int value);
  bool NetUser() const { return FNetUser; }
  // Switching it on fills User with the current user's name.
  void SetNetUser(bool value);
  const std::string& User() const { return FUser; }
  void SetUser(const std::string& value) { Set(FUser, value); }
  const std::string& RegPath() const { return FRegPath; }
  void SetRegPath(const std::string& value) { Set(FRegPath, value); }
  TKelRegRootKey RegRoot() const { return FRegRoot; }
  void SetRegRoot(TKelRegRootKey value) { Set(FRegRoot, value); }
  TKelIniTarget Target() const { return FTarget; }
  void SetTarget(TKelIniTarget value) { Set(FTarget, value); }
  // The target in force: automatic means the registry.
  TKelIniTarget EffectiveTarget() const { return FTarget == itAuto ? itRegistry : FTarget; }
  std::uint16_t EncKey() const { return FEncKey; }
  void SetEncKey(std::uint16_t value) { Set(FEncKey, value); }
  bool Encoded() const { return FEncoded; }
  void SetEncoded(bool value) { Set(FEncoded, value); }

private:
  template <class T, class U> void Set(T& field, const U& value) {
    if (field == value) return;
    field = value;
    Change();
  }

  bool FAlphaCounter = false;
  bool FCommon = true;
  std::string FIniFile;
  TKelPathPrefix FIniPrefix = ppWindows;
  std::uint8_t FMaxEntries = 16;
  bool FNetUser = false;
  std::string FUser;
  std::string FRegPath;
  TKelRegRootKey FRegRoot = rpCurrentUser;
  TKelIniTarget FTarget = itAuto;
  std::uint16_t FEncKey = 27604;
  bool FEncoded = false;
};

// The one the library's application object keeps.
TKelIniCtrl& KelApplicationIniCtrl();

} // namespace kel
