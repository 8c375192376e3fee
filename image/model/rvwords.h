// The captions of the library's dialogs in every language they speak.
#pragma once

#include <cstdint>
#include <string>

#include "image/model/rvmsglanguage.h"

namespace rv {

inline constexpr int RvWordCount = 124;

// Stores Text in the slot of (Language, Word); msSystem and words beyond the
// table are ignored. Used by the filler only.
void RvSetWord(TMsgLanguage Language, std::uint8_t Word, const std::string& Text);

// The caption of Word in Language; an empty slot gives the English word.
// msSystem takes the language of the user's locale. A word beyond the table
// gives an empty text.
std::string RvWord(std::uint8_t Word, TMsgLanguage Language);

// The primary language identifier of the system locale (7 German, 9 English,
// 10 Spanish, ...), taken from the user's message locale (LC_ALL, then
// LC_MESSAGES, then LANG); 0 when it names no language we know.
int RvSystemPrimaryLanguage();

} // namespace rv
