#include "app/settings.h"

#include "app/helpdlg.h"
#include "controls/support/ndcoders/ndcoders.h"

#include <QCoreApplication>
#include <QStringList>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace app {

std::string ReadSetting(const std::string& name) {
  platform::TRegistry reg(platform::KEY_ALL_ACCESS);
  reg.SetRootKey(platform::HKEY_CURRENT_USER);
  if (!reg.OpenKey(SettingsKey, true)) return std::string();
  return reg.ReadString(name); // another kind raises; the typed readers catch it
}

void WriteSetting(const std::string& name, const std::string& value) {
  platform::TRegistry reg(platform::KEY_ALL_ACCESS);
  reg.SetRootKey(platform::HKEY_CURRENT_USER);
  if (!reg.OpenKey(SettingsKey, true)) return;
  reg.WriteString(name, value);
}

std::string BooleanToText(bool value) { return value ? "True" : "False"; }

bool TextToBool(const std::string& text, bool& result) {
  int number = 0;
  if (TextToInt(text, number)) {
    result = number != 0;
    return true;
  }
  std::string lower = text;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == "true" || lower == "false") {
    result = lower == "true";
    return true;
  }
  return false;
}

bool TextToInt(const std::string& text, int& result) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  const char* start = text.c_str() + i;
  if (*start != '-' && *start != '+' && (*start < '0' || *start > '9')) return false;
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(start, &end, 10);
  if (errno != 0 || end == start || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return false;
  result = static_cast<int>(n);
  return true;
}

bool ReadSettingBool(const std::string& name, bool defaultValue) {
  bool result = defaultValue;
  try {
    bool parsed = false;
    if (TextToBool(ReadSetting(name), parsed)) result = parsed;
  } catch (...) {
    // An unreadable setting takes its default.
  }
  return result;
}

int ReadSettingInt(const std::string& name, int defaultValue) {
  int result = defaultValue;
  try {
    int parsed = 0;
    if (TextToInt(ReadSetting(name), parsed)) result = parsed;
  } catch (...) {
    // An unreadable setting takes its default.
  }
  return result;
}

void WriteSettingBool(const std::string& name, bool value) { WriteSetting(name, BooleanToText(value)); }
void WriteSettingInt(const std::string& name, int value) { WriteSetting(name, std::to_string(value)); }

void SayKeptSettingsFiles() {
  if (!HelpDlg) return;
  const std::vector<std::string> kept = platform::TakeKeptUnreadableFiles();
  if (!kept.empty()) {
    QStringList names;
    for (const std::string& file : kept) names << QString::fromStdString(file);
    HelpDlg->ShowSettingsNotRead(names);
    HelpDlg->ShowModal();
  }
  // The message above runs an event loop: a failure met meanwhile is taken too.
  if (!HelpDlg) return;
  const std::vector<platform::TKeyStoreReadFailure> failed = platform::TakeKeyStoreReadFailures();
  if (failed.empty()) return;
  QStringList names;
  for (const auto& failure : failed)
    names << QString::fromStdString(failure.File) + QStringLiteral(" (") +
                 QString::fromLocal8Bit(std::strerror(failure.Error)) + QStringLiteral(")");
  HelpDlg->ShowSettingsNotReadAgain(names);
  HelpDlg->ShowModal();
}

void SayKeptSettingsFilesWhenMoved() {
  const auto say = [] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { SayKeptSettingsFiles(); }, Qt::QueuedConnection);
  };
  platform::SetOnUnreadableKept(say);
  platform::SetOnKeyStoreReadFailed(say);
}

std::string BackgroundColorValueName() { return wn::Base64EncodeString("BackGroundColor"); }

void WriteRegistryValue(platform::HKEY root, const std::string& keyPath, const std::string& valueName,
                        const QVariant& value, int kind) {
  platform::TRegistry reg(platform::KEY_WRITE);
  reg.SetRootKey(root);
  std::string path = keyPath;
  if (path.empty() || path[0] != '\\') path = "\\" + path;
  if (!reg.OpenKey(path, true))
    throw std::runtime_error("The configuration registry key could not be opened.");
  if (kind == 0) {
    // Reading the stored kind needs read access on the same key.
    platform::TRegistry probe(platform::KEY_READ);
    probe.SetRootKey(root);
    platform::TRegDataType stored =
        probe.OpenKeyReadOnly(path) ? probe.GetDataType(valueName) : platform::rdUnknown;
    switch (stored) {
      case platform::rdString: kind = 1; break;
      case platform::rdExpandString: kind = 2; break;
      case platform::rdInteger: kind = 3; break;
      case platform::rdBinary: kind = 4; break;
      default: kind = -1; break;
    }
  }
  const std::string text = value.toString().toStdString();
  switch (kind) {
    case 1: reg.WriteString(valueName, text); break;
    case 2: reg.WriteExpandString(valueName, text); break;
    case 3: {
      bool ok = false;
      int n = value.toInt(&ok);
      if (!ok) throw std::runtime_error("Could not convert variant of type (" + std::string(value.typeName() ? value.typeName() : "Empty") + ") into type (Integer)");
      reg.WriteInteger(valueName, n);
      break;
    }
    case 4: reg.WriteBinaryData(valueName, std::vector<std::uint8_t>(text.begin(), text.end())); break;
    default: throw std::runtime_error("The configuration registry key could not be written.");
  }
}

} // namespace app
