// Program-wide data of the edit-control library: the international settings
// with the date pictures in the library's own picture letters, the user's
// character sets, and the text routines they build on.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace wn {

// The named international values ("sDecimal", "iCurrency", "sShortDate"...)
// as this system gives them; a name left out takes its default.
struct TQoIntlProfile {
  std::map<std::string, std::string> Values;
  // The user's own short date picture, when one is kept in the key store.
  bool HasUserShortDate = false;
  std::string UserShortDate;
  // The long time format of the run-time library (twelve-hour test).
  std::string LongTimeFormat;
};

// Reads the settings of the current locale.
TQoIntlProfile ReadSystemIntlProfile();

// Text fields hold UTF-8 and keep within their room, counted in bytes and
// never cutting a character; a "character" field holds one UTF-8 character.
class TQoIntlSup {
 public:
  static constexpr std::size_t CurrencyRoom = 5;
  static constexpr std::size_t AmPmRoom = 5;
  static constexpr std::size_t CountryRoom = 255;
  static constexpr std::size_t LongDateRoom = 39;
  static constexpr std::size_t ShortDateRoom = 29;
  static constexpr std::size_t SlotSize = 6;

  TQoIntlSup();
  explicit TQoIntlSup(const TQoIntlProfile& Profile);

  std::string CurrencyLtStr = "$";
  std::string CurrencyRtStr = "$";
  std::string DecimalChar = ".";
  std::string CommaChar = ",";
  std::uint8_t CurrencyDigits = 2;
  std::string ListChar = ",";
  std::string SlashChar = "/";
  std::string TrueChar = "T";
  std::string FalseChar = "F";
  std::string YesChar = "Y";
  std::string NoChar = "N";
  std::string WinTimeAMString = "AM";
  std::string WinTimePMString = "PM";
  std::string TimeSepChar = ":";
  std::string CountryName;
  std::int8_t CurrencyFormat = 0;
  // The first three quoted literals of the long date picture, zero-filled.
  std::array<std::array<char, SlotSize>, 3> Slots{};
  std::string LongDatePicture = "dddd, MMMM dd, yyyy";
  std::uint8_t NegCurrencyFormat = 0;
  std::string ShortDatePicture = "MM/dd/yy";
  bool TLZero = false;
  bool TwelveHour = false;

  // The text of a literal slot (its bytes up to the first zero).
  std::string SlotText(int Index) const;

 private:
  void Read(const TQoIntlProfile& Profile);
};

// Eight user-definable character sets and two rows of eight settings.
class TQoUserData {
 public:
  TQoUserData();

  std::array<std::bitset<256>, 8> UserCharSets;
  std::array<std::uint8_t, 8> UserSettings{};
  std::array<std::uint8_t, 8> UserChars{};
};

// Created on first use from the current locale; live until the program ends.
TQoIntlSup& ProgramIntlSup();
TQoUserData& ProgramUserData();

// Null-terminated string primitives; positions are 0-based. The caller
// provides the room for an insertion.
void StrDeleteChar(char* S, std::size_t Pos);
void StrInsertChar(char* S, char C, std::size_t Pos);
bool StrFindChar(const char* S, char C, std::size_t& Pos);
bool StrFindStr(const char* S, const char* T, std::size_t& Pos);

using TQoCharSet = std::bitset<256>;
TQoCharSet QoCharSet(std::string_view Chars);

// Words are maximal runs of characters outside Delims. The 1-based position
// of the N-th word's first character, 0 when there are fewer than N words.
int WordStartN(int N, std::string_view S, const TQoCharSet& Delims);
// The N-th word, or the empty string.
std::string ExtractWordN(int N, std::string_view S, const TQoCharSet& Delims);

}  // namespace wn
