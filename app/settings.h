// The user's preferences: text values under one per-user key, each read with
// a default and never cached between calls.
#pragma once

#include "platform/registry.h"

#include <QVariant>
#include <string>

namespace app {

inline constexpr const char* SettingsKey = "\\Software\\Halvenworth\\Pictrova 3";

std::string ReadSetting(const std::string& name);
void WriteSetting(const std::string& name, const std::string& value);
bool ReadSettingBool(const std::string& name, bool defaultValue);
int ReadSettingInt(const std::string& name, int defaultValue);
std::string BooleanToText(bool value);
void WriteSettingBool(const std::string& name, bool value);
void WriteSettingInt(const std::string& name, int value);

// Writes one value anywhere in the key store. kind: 0 the kind already stored
// under that name, 1 text, 2 expandable text, 3 integer, 4 raw bytes of the
// value's text.
void WriteRegistryValue(platform::HKEY root, const std::string& keyPath, const std::string& valueName,
                        const QVariant& value, int kind);

// "Settings Not Read" with the settings files moved aside since it was last
// said, and with those read before that failed to be read again; nothing
// when there are none, or no message dialog exists yet.
void SayKeptSettingsFiles();
// From now on each move and each such failure is said from the event loop,
// whichever thread's read met it.
void SayKeptSettingsFilesWhenMoved();

// The value name of the background colour: the base64 text of
// "BackGroundColor", derived afresh each time.
std::string BackgroundColorValueName();

// The text readers' conversions, apart so that they can be checked alone.
bool TextToBool(const std::string& text, bool& result);
bool TextToInt(const std::string& text, int& result);

} // namespace app
