#include "controls/kel/kelinictrl.h"

#include "controls/kel/kelsysin.h"

namespace kel {

void TKelIniCtrl::SetAlphaCounter(bool value) {
  if (value == FAlphaCounter) return;
  FAlphaCounter = value;
  if (FMaxEntries > MaxAlphaEntries) FMaxEntries = MaxAlphaEntries;
  Change();
}

void TKelIniCtrl::SetIniFile(const std::string& value) {
  const std::size_t name = value.find_last_of("\\/");
  const std::size_t dot = value.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (name == std::string::npos || dot > name);
  Set(FIniFile, value.empty() || hasExtension ? value : value + ".INI");
}

void TKelIniCtrl::SetMaxEntries(int value) {
  if (value < 0 || value > 255) return;
  if (FAlphaCounter && value > MaxAlphaEntries) return;
  Set(FMaxEntries, std::uint8_t(value));
}

void TKelIniCtrl::SetNetUser(bool value) {
  if (value == FNetUser) return;
  FNetUser = value;
  if (value) FUser = KelUserName();
  Change();
}

TKelIniCtrl& KelApplicationIniCtrl() {
  static TKelIniCtrl ini;
  return ini;
}

} // namespace kel
