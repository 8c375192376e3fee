// The languages of the library's dialogs.
#pragma once

#include <cstdint>

namespace rv {

enum TMsgLanguage : std::uint8_t {
  msSystem, // follows the system language
  msEnglish,
  msItalian,
  msGerman,
  msSpanish,
  msFrench,
  msPortuguese,
  msGreek,
  msRussian,
  msDutch,
  msSwedish,
  msPolish,
  msUser,
};

} // namespace rv
