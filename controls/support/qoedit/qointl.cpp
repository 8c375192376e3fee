#include "controls/support/qoedit/qointl.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "controls/support/qoedit/qomessages.h"
#include "platform/registry.h"

namespace wn {

namespace {

QString CurrencyPattern(const QLocale& Locale, double Value) {
  // Reduce the locale's rendering to the shape of the classic format tables:
  // "$" for the symbol, "1" for the amount, "-" for the sign, " " for any gap.
  QString Text = Locale.toCurrencyString(Value);
  Text.replace(Locale.currencySymbol(), QStringLiteral("$"));
  Text.replace(Locale.negativeSign(), QStringLiteral("-"));
  const QString Decimal = Locale.decimalPoint();
  const QString Group = Locale.groupSeparator();
  QString Shape;
  for (const QChar C : Text) {
    if (C.category() == QChar::Other_Format) continue;
    QChar Out = C;
    if (C.isDigit() || Decimal.contains(C) || Group.contains(C)) Out = u'1';
    else if (C.isSpace()) Out = u' ';
    if ((Out == u'1' || Out == u' ') && !Shape.isEmpty() && Shape.back() == Out) continue;
    Shape += Out;
  }
  return Shape;
}

int PatternIndex(const QString& Shape, std::initializer_list<const char*> Table, int Default) {
  int Index = 0;
  for (const char* Pattern : Table) {
    if (Shape == QLatin1String(Pattern)) return Index;
    ++Index;
  }
  return Default;
}

// The first separator of a picture: the first character outside quotes that
// is no picture letter.
QString FirstSeparator(const QString& Picture, const QString& Default) {
  bool Quoted = false;
  for (const QChar C : Picture) {
    if (C == u'\'') Quoted = !Quoted;
    else if (!Quoted && !C.isLetter() && !C.isSpace()) return QString(C);
  }
  return Default;
}

std::string CutToRoom(std::string S, std::size_t Room) {
  if (S.size() <= Room) return S;
  std::size_t End = Room;
  while (End > 0 && (static_cast<unsigned char>(S[End]) & 0xC0) == 0x80) --End;
  S.resize(End);
  return S;
}

std::string FirstChar(const std::string& S) {
  if (S.empty()) return S;
  std::size_t End = 1;
  while (End < S.size() && (static_cast<unsigned char>(S[End]) & 0xC0) == 0x80) ++End;
  return S.substr(0, End);
}

class TProfileReader {
 public:
  explicit TProfileReader(const TQoIntlProfile& Profile) : FProfile(Profile) {}

  std::string Str(const char* Name, const char* Default, std::size_t Room) const {
    auto It = FProfile.Values.find(Name);
    return CutToRoom(It == FProfile.Values.end() ? std::string(Default) : It->second, Room);
  }
  std::string Char(const char* Name, const char* Default) const {
    std::string Text = Str(Name, Default, 5);
    return FirstChar(Text.empty() ? std::string(Default) : Text);
  }
  int Int(const char* Name, int Default) const {
    auto It = FProfile.Values.find(Name);
    if (It == FProfile.Values.end()) return Default;
    return static_cast<int>(std::strtol(It->second.c_str(), nullptr, 10));
  }

 private:
  const TQoIntlProfile& FProfile;
};

void ReplaceAll(std::string& S, const std::string& From, const std::string& To) {
  if (From.empty()) return;
  for (std::size_t Pos = S.find(From); Pos != std::string::npos; Pos = S.find(From, Pos + To.size()))
    S.replace(Pos, From.size(), To);
}

void ReplaceRun(std::string& S, const char* Start, char Letter, char NewLetter) {
  std::size_t Pos = S.find(Start);
  if (Pos == std::string::npos) return;
  for (; Pos < S.size() && S[Pos] == Letter; ++Pos) S[Pos] = NewLetter;
}

}  // namespace

// Where each value comes from on this system: decimal and thousands
// characters, AM and PM texts, currency symbol, date pictures and the time
// formats from QLocale (the default locale: LC_ALL / LC_* / LANG unless a
// default was set); the country name is QLocale's territory name; currency
// digits and both currency formats are read off QLocale's rendering of 1 and
// -1 in the currency; date and time separators are the first separators of
// the short date and time formats; the list character, which no locale API
// gives, is ";" where the decimal character is "," and "," elsewhere; the
// user's short date picture is the key store's
// "Control Panel\International" "sShortDate" when present.
TQoIntlProfile ReadSystemIntlProfile() {
  const QLocale Locale;
  TQoIntlProfile Profile;
  auto& V = Profile.Values;
  const QString Decimal = Locale.decimalPoint();
  V["sDecimal"] = Decimal.toStdString();
  V["sThousand"] = Locale.groupSeparator().toStdString();
  V["sList"] = Decimal == QStringLiteral(",") ? ";" : ",";

  const QString Money = Locale.toCurrencyString(1.0);
  const qsizetype DecimalAt = Money.lastIndexOf(Decimal);
  int Digits = 0;
  if (DecimalAt >= 0)
    for (qsizetype I = DecimalAt + Decimal.size(); I < Money.size() && Money[I].isDigit(); ++I) ++Digits;
  V["iCurrDigits"] = std::to_string(Digits);
  V["sCurrency"] = Locale.currencySymbol().toStdString();
  V["iCurrency"] = std::to_string(PatternIndex(CurrencyPattern(Locale, 1.0), {"$1", "1$", "$ 1", "1 $"}, 0));
  V["iNegCurr"] = std::to_string(PatternIndex(
      CurrencyPattern(Locale, -1.0),
      {"($1)", "-$1", "$-1", "$1-", "(1$)", "-1$", "1-$", "1$-", "-1 $", "-$ 1", "1 $-", "$ 1-", "$ -1",
       "1- $", "($ 1)", "(1 $)"},
      0));
  V["sCountry"] = QLocale::territoryToString(Locale.territory()).toStdString();

  const QString ShortTime = Locale.timeFormat(QLocale::ShortFormat);
  const QString LongTime = Locale.timeFormat(QLocale::LongFormat);
  V["iTLZero"] = LongTime.startsWith(QStringLiteral("hh"), Qt::CaseInsensitive) ? "1" : "0";
  V["sTime"] = FirstSeparator(ShortTime, QStringLiteral(":")).toStdString();
  V["s1159"] = Locale.amText().toStdString();
  V["s2359"] = Locale.pmText().toStdString();

  const QString ShortDate = Locale.dateFormat(QLocale::ShortFormat);
  V["sDate"] = FirstSeparator(ShortDate, QStringLiteral("/")).toStdString();
  V["sShortDate"] = ShortDate.toStdString();
  V["sLongDate"] = Locale.dateFormat(QLocale::LongFormat).toStdString();

  // The run-time library spells the day-half "AMPM" and has no time zone.
  QString RtlTime = LongTime;
  RtlTime.replace(QStringLiteral("AP"), QStringLiteral("AMPM"), Qt::CaseInsensitive);
  RtlTime.remove(u't');
  Profile.LongTimeFormat = RtlTime.trimmed().toStdString();

  platform::TRegistry Registry(platform::KEY_READ);
  Registry.SetRootKey(platform::HKEY_CURRENT_USER);
  try {
    if (Registry.OpenKeyReadOnly("\\Control Panel\\International") && Registry.ValueExists("sShortDate")) {
      Profile.UserShortDate = Registry.ReadString("sShortDate");
      Profile.HasUserShortDate = true;
    }
  } catch (const platform::ERegistryException&) {
    // A value of another kind is no picture: the locale's stays.
  }
  return Profile;
}

TQoIntlSup::TQoIntlSup() { Read(ReadSystemIntlProfile()); }

TQoIntlSup::TQoIntlSup(const TQoIntlProfile& Profile) { Read(Profile); }

std::string TQoIntlSup::SlotText(int Index) const {
  const auto& Slot = Slots.at(static_cast<std::size_t>(Index));
  return std::string(Slot.data(), std::find(Slot.begin(), Slot.end(), '\0'));
}

void TQoIntlSup::Read(const TQoIntlProfile& Profile) {
  const TProfileReader P(Profile);

  DecimalChar = P.Char("sDecimal", ".");
  CommaChar = P.Char("sThousand", ",");
  CurrencyDigits = static_cast<std::uint8_t>(P.Int("iCurrDigits", 2));
  if (CommaChar == DecimalChar) {
    DecimalChar = ".";
    CommaChar = ",";
  }

  NegCurrencyFormat = static_cast<std::uint8_t>(P.Int("iNegCurr", 0));
  ListChar = P.Char("sList", ",");
  CountryName = P.Str("sCountry", "", CountryRoom);

  CurrencyLtStr = P.Str("sCurrency", "$", CurrencyRoom);
  CurrencyRtStr = CurrencyLtStr;
  CurrencyFormat = static_cast<std::int8_t>(P.Int("iCurrency", 0));
  // A symbol that fills its room gets no blank rather than running past it.
  if (CurrencyFormat == 2 && CurrencyLtStr.size() < CurrencyRoom) CurrencyLtStr += ' ';
  if (CurrencyFormat == 3 && CurrencyRtStr.size() < CurrencyRoom) CurrencyRtStr.insert(0, 1, ' ');

  TLZero = P.Int("iTLZero", 0) != 0;
  TwelveHour = !Profile.LongTimeFormat.empty() && Profile.LongTimeFormat.back() == 'M';
  TimeSepChar = P.Char("sTime", ":");
  SlashChar = P.Char("sDate", "/");
  WinTimeAMString = P.Str("s1159", "AM", AmPmRoom);
  WinTimePMString = P.Str("s2359", "PM", AmPmRoom);

  ShortDatePicture = Profile.HasUserShortDate ? CutToRoom(Profile.UserShortDate, ShortDateRoom)
                                              : P.Str("sShortDate", "MM/dd/yy", ShortDateRoom);
  if (SlashChar != "/") ReplaceAll(ShortDatePicture, SlashChar, "/");

  LongDatePicture = P.Str("sLongDate", "dddd, MMMM dd, yyyy", LongDateRoom);

  // Quoted literals go to the slots; the picture keeps a fill letter for
  // each of their characters.
  static constexpr char FillLetters[3] = {'f', 'g', 'h'};
  for (auto& Slot : Slots) Slot.fill('\0');
  for (std::size_t I = 0; I < Slots.size(); ++I) {
    const std::size_t Open = LongDatePicture.find('\'');
    if (Open == std::string::npos) break;
    LongDatePicture.erase(Open, 1);
    const std::size_t Close = LongDatePicture.find('\'', Open);
    if (Close == std::string::npos) break;
    const std::size_t Kept = std::min(Close - Open, SlotSize);
    for (std::size_t K = 0; K < Kept; ++K) {
      Slots[I][K] = LongDatePicture[Open + K];
      LongDatePicture[Open + K] = FillLetters[I];
    }
    LongDatePicture.erase(Open + Kept, Close - Open - Kept + 1);
  }

  ReplaceRun(LongDatePicture, "ddd", 'd', 'w');
  ReplaceRun(ShortDatePicture, "MMM", 'M', 'n');
  ReplaceRun(LongDatePicture, "MMM", 'M', 'n');

  for (std::size_t I = 0; I < LongDatePicture.size(); ++I) {
    const char C = LongDatePicture[I];
    if ((C != ',' && C != '.') || (I + 1 < LongDatePicture.size() && LongDatePicture[I + 1] == ' ')) continue;
    // A full picture takes no more blanks rather than overrunning its room.
    if (LongDatePicture.size() >= LongDateRoom) break;
    LongDatePicture.insert(I + 1, 1, ' ');
  }

  auto OneCharMessage = [](int Number, std::string& Field) {
    const std::string Text = GetQoMessage(Number);
    if (Text.size() == 1) Field = Text;
  };
  OneCharMessage(30368, YesChar);
  OneCharMessage(30369, NoChar);
  OneCharMessage(30370, TrueChar);
  OneCharMessage(30371, FalseChar);
}

TQoUserData::TQoUserData() {
  for (auto& Set : UserCharSets) {
    Set.set();
    Set.reset(0);
  }
  for (std::size_t I = 0; I < UserChars.size(); ++I) UserChars[I] = static_cast<std::uint8_t>(241 + I);
}

TQoIntlSup& ProgramIntlSup() {
  static TQoIntlSup Instance;
  return Instance;
}

TQoUserData& ProgramUserData() {
  static TQoUserData Instance;
  return Instance;
}

void StrDeleteChar(char* S, std::size_t Pos) {
  const std::size_t Len = std::strlen(S);
  if (Pos >= Len) return;
  std::memmove(S + Pos, S + Pos + 1, Len - Pos);
}

void StrInsertChar(char* S, char C, std::size_t Pos) {
  const std::size_t Len = std::strlen(S);
  if (Pos > Len) Pos = Len;
  std::memmove(S + Pos + 1, S + Pos, Len - Pos + 1);
  S[Pos] = C;
}

bool StrFindChar(const char* S, char C, std::size_t& Pos) {
  if (C == '\0') return false;
  const char* Found = std::strchr(S, C);
  if (!Found) return false;
  Pos = static_cast<std::size_t>(Found - S);
  return true;
}

bool StrFindStr(const char* S, const char* T, std::size_t& Pos) {
  if (*T == '\0' || std::strlen(T) > std::strlen(S)) return false;
  const char* Found = std::strstr(S, T);
  if (!Found) return false;
  Pos = static_cast<std::size_t>(Found - S);
  return true;
}

TQoCharSet QoCharSet(std::string_view Chars) {
  TQoCharSet Set;
  for (const char C : Chars) Set.set(static_cast<unsigned char>(C));
  return Set;
}

int WordStartN(int N, std::string_view S, const TQoCharSet& Delims) {
  int Count = 0;
  std::size_t I = 0;
  while (I < S.size()) {
    while (I < S.size() && Delims.test(static_cast<unsigned char>(S[I]))) ++I;
    if (I >= S.size()) break;
    if (++Count == N) return static_cast<int>(I) + 1;
    while (I < S.size() && !Delims.test(static_cast<unsigned char>(S[I]))) ++I;
  }
  return 0;
}

std::string ExtractWordN(int N, std::string_view S, const TQoCharSet& Delims) {
  const int Start = WordStartN(N, S, Delims);
  if (Start == 0) return {};
  std::size_t End = static_cast<std::size_t>(Start) - 1;
  while (End < S.size() && !Delims.test(static_cast<unsigned char>(S[End]))) ++End;
  return std::string(S.substr(static_cast<std::size_t>(Start) - 1, End - static_cast<std::size_t>(Start) + 1));
}

}  // namespace wn
