#include "controls/support/qoedit/qointl.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTemporaryDir>

#include <cstring>

#include "platform/registry.h"

namespace {

using wn::TQoIntlProfile;
using wn::TQoIntlSup;

TQoIntlSup FromValues(std::map<std::string, std::string> Values) {
  TQoIntlProfile Profile;
  Profile.Values = std::move(Values);
  return TQoIntlSup(Profile);
}

TEST(QoIntlSup, DefaultsWhenTheProfileIsEmpty) {
  const TQoIntlSup I = FromValues({});
  EXPECT_EQ(I.CurrencyLtStr, "$");
  EXPECT_EQ(I.CurrencyRtStr, "$");
  EXPECT_EQ(I.DecimalChar, ".");
  EXPECT_EQ(I.CommaChar, ",");
  EXPECT_EQ(I.CurrencyDigits, 2);
  EXPECT_EQ(I.ListChar, ",");
  EXPECT_EQ(I.SlashChar, "/");
  EXPECT_EQ(I.TimeSepChar, ":");
  EXPECT_EQ(I.WinTimeAMString, "AM");
  EXPECT_EQ(I.WinTimePMString, "PM");
  EXPECT_EQ(I.YesChar + I.NoChar + I.TrueChar + I.FalseChar, "YNTF");
  EXPECT_EQ(I.CountryName, "");
  EXPECT_EQ(I.ShortDatePicture, "MM/dd/yy");
  EXPECT_EQ(I.LongDatePicture, "wwww, nnnn dd, yyyy");
  EXPECT_EQ(I.SlotText(0), "");
  EXPECT_FALSE(I.TLZero);
  EXPECT_FALSE(I.TwelveHour);
}

TEST(QoIntlSup, EqualDecimalAndThousandsCharactersAreReset) {
  const TQoIntlSup I = FromValues({{"sDecimal", ","}, {"sThousand", ","}});
  EXPECT_EQ(I.DecimalChar, ".");
  EXPECT_EQ(I.CommaChar, ",");
  EXPECT_EQ(FromValues({{"sDecimal", ""}}).DecimalChar, ".") << "empty text takes the default";
}

TEST(QoIntlSup, DateSeparatorBecomesSlashAndMonthNamesBecomeN) {
  EXPECT_EQ(FromValues({{"sShortDate", "dd.MM.yyyy"}, {"sDate", "."}}).ShortDatePicture, "dd/MM/yyyy");
  EXPECT_EQ(FromValues({{"sShortDate", "dd-MMM-yy"}, {"sDate", "-"}}).ShortDatePicture, "dd/nnn/yy");
  EXPECT_EQ(FromValues({{"sLongDate", "dddd,d.MMMM"}}).LongDatePicture, "wwww, d. nnnn");
}

TEST(QoIntlSup, QuotedLiteralsMoveToTheSlots) {
  TQoIntlSup I = FromValues({{"sLongDate", "d 'de' MMMM"}});
  EXPECT_EQ(I.LongDatePicture, "d ff nnnn");
  EXPECT_EQ(I.SlotText(0), "de");

  I = FromValues({{"sLongDate", "'abcdefgh' d 'x' M 'yz' y 'q'"}});
  EXPECT_EQ(I.LongDatePicture, "ffffff d g M hh y 'q'");
  EXPECT_EQ(I.SlotText(0), "abcdef");
  EXPECT_EQ(I.SlotText(1), "x");
  EXPECT_EQ(I.SlotText(2), "yz");

  I = FromValues({{"sLongDate", "d 'abc"}});
  EXPECT_EQ(I.LongDatePicture, "d abc");
  EXPECT_EQ(I.SlotText(0), "");
}

TEST(QoIntlSup, CurrencyBlanksFollowTheFormatAndKeepTheRoom) {
  TQoIntlSup I = FromValues({{"sCurrency", "kr"}, {"iCurrency", "3"}});
  EXPECT_EQ(I.CurrencyLtStr, "kr");
  EXPECT_EQ(I.CurrencyRtStr, " kr");
  I = FromValues({{"sCurrency", "kr"}, {"iCurrency", "2"}});
  EXPECT_EQ(I.CurrencyLtStr, "kr ");
  EXPECT_EQ(I.CurrencyRtStr, "kr");
  I = FromValues({{"sCurrency", "ABCDEFG"}, {"iCurrency", "2"}});
  EXPECT_EQ(I.CurrencyLtStr, "ABCDE");
  EXPECT_EQ(I.CurrencyRtStr, "ABCDE");
  // Cut at a character boundary: two 3-byte characters do not fit in 5.
  EXPECT_EQ(FromValues({{"s1159", "午前"}}).WinTimeAMString, "午");
}

TEST(QoIntlSup, BlanksAfterPunctuationStayWithinTheRoom) {
  const TQoIntlSup I = FromValues({{"sLongDate", std::string(30, '.')}});
  EXPECT_EQ(I.LongDatePicture.size(), TQoIntlSup::LongDateRoom);
  EXPECT_EQ(I.LongDatePicture.substr(0, 4), ". . ");
}

TEST(QoIntlSup, TimeSettings) {
  TQoIntlProfile Profile;
  Profile.Values = {{"iTLZero", "1"}};
  Profile.LongTimeFormat = "h:mm:ss AMPM";
  TQoIntlSup I(Profile);
  EXPECT_TRUE(I.TLZero);
  EXPECT_TRUE(I.TwelveHour);
  Profile.LongTimeFormat = "HH:mm:ss";
  EXPECT_FALSE(TQoIntlSup(Profile).TwelveHour);
}

TEST(QoIntlSup, UserShortDateWinsOverTheLocale) {
  TQoIntlProfile Profile;
  Profile.Values = {{"sShortDate", "dd.MM.yy"}, {"sDate", "-"}};
  Profile.HasUserShortDate = true;
  Profile.UserShortDate = "yyyy-MM-dd";
  EXPECT_EQ(TQoIntlSup(Profile).ShortDatePicture, "yyyy/MM/dd");
}

// Runs with a chosen default locale and a private key store, then restores both.
class QoIntlLocale : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    platform::SetKeyStoreFolder(Dir.path().toStdString());
  }
  void TearDown() override {
    QLocale::setDefault(Saved);
    platform::SetKeyStoreFolder("");
  }
  QLocale Saved;
  QTemporaryDir Dir;
};

TEST_F(QoIntlLocale, GermanSettings) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const TQoIntlSup I;
  EXPECT_EQ(I.DecimalChar, ",");
  EXPECT_EQ(I.CommaChar, ".");
  EXPECT_EQ(I.ListChar, ";");
  EXPECT_EQ(I.SlashChar, ".");
  EXPECT_EQ(I.TimeSepChar, ":");
  EXPECT_EQ(I.CurrencyDigits, 2);
  EXPECT_EQ(I.CurrencyFormat, 3);
  EXPECT_EQ(I.CurrencyLtStr, "€");
  EXPECT_EQ(I.CurrencyRtStr, " €");
  EXPECT_EQ(I.NegCurrencyFormat, 8);
  EXPECT_EQ(I.CountryName, "Germany");
  EXPECT_EQ(I.ShortDatePicture, "dd/MM/yy");
  EXPECT_EQ(I.LongDatePicture, "wwww, d. nnnn yyyy");
  EXPECT_TRUE(I.TLZero);
  EXPECT_FALSE(I.TwelveHour);
}

TEST_F(QoIntlLocale, AmericanSettings) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const TQoIntlSup I;
  EXPECT_EQ(I.DecimalChar, ".");
  EXPECT_EQ(I.CommaChar, ",");
  EXPECT_EQ(I.ListChar, ",");
  EXPECT_EQ(I.SlashChar, "/");
  EXPECT_EQ(I.CurrencyFormat, 0);
  EXPECT_EQ(I.NegCurrencyFormat, 0);  // ($1.00)
  EXPECT_EQ(I.CurrencyLtStr, "$");
  EXPECT_EQ(I.WinTimeAMString, "AM");
  EXPECT_EQ(I.WinTimePMString, "PM");
  EXPECT_EQ(I.ShortDatePicture, "M/d/yy");
  EXPECT_EQ(I.LongDatePicture, "wwww, nnnn d, yyyy");
  EXPECT_FALSE(I.TLZero);
  EXPECT_TRUE(I.TwelveHour);
}

TEST_F(QoIntlLocale, SpanishLiteralsAndTheKeyStoresShortDate) {
  QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
  {
    platform::TRegistry Reg;
    Reg.SetRootKey(platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(Reg.OpenKey("\\Control Panel\\International", true));
    Reg.WriteString("sShortDate", "yyyy/MM/dd");
  }
  const TQoIntlSup I;
  EXPECT_EQ(I.LongDatePicture, "wwww, d ff nnnn gg yyyy");
  EXPECT_EQ(I.SlotText(0), "de");
  EXPECT_EQ(I.SlotText(1), "de");
  EXPECT_EQ(I.ShortDatePicture, "yyyy/MM/dd");
}

TEST(QoUserData, Defaults) {
  const wn::TQoUserData U;
  for (const auto& Set : U.UserCharSets) {
    EXPECT_FALSE(Set.test(0));
    EXPECT_EQ(Set.count(), 255u);
  }
  EXPECT_EQ(U.UserSettings, (std::array<std::uint8_t, 8>{}));
  EXPECT_EQ(U.UserChars, (std::array<std::uint8_t, 8>{241, 242, 243, 244, 245, 246, 247, 248}));
  EXPECT_EQ(&wn::ProgramUserData(), &wn::ProgramUserData());
  EXPECT_EQ(&wn::ProgramIntlSup(), &wn::ProgramIntlSup());
}

TEST(QoStrings, DeleteAndInsertCharacters) {
  char S[8] = "abcd";
  wn::StrDeleteChar(S, 1);
  EXPECT_STREQ(S, "acd");
  wn::StrDeleteChar(S, 3);
  wn::StrDeleteChar(S, 100);
  EXPECT_STREQ(S, "acd");
  wn::StrInsertChar(S, 'X', 0);
  EXPECT_STREQ(S, "Xacd");
  wn::StrInsertChar(S, 'Y', 2);
  EXPECT_STREQ(S, "XaYcd");
  wn::StrInsertChar(S, 'Z', 50);
  EXPECT_STREQ(S, "XaYcdZ");
}

TEST(QoStrings, FindCharacterAndString) {
  std::size_t Pos = 99;
  EXPECT_TRUE(wn::StrFindChar("hello", 'l', Pos));
  EXPECT_EQ(Pos, 2u);
  EXPECT_FALSE(wn::StrFindChar("", 'l', Pos));
  EXPECT_FALSE(wn::StrFindChar("hello", 'z', Pos));
  EXPECT_TRUE(wn::StrFindStr("abcabc", "ca", Pos));
  EXPECT_EQ(Pos, 2u);
  EXPECT_FALSE(wn::StrFindStr("abc", "", Pos));
  EXPECT_FALSE(wn::StrFindStr("ab", "abc", Pos));
  EXPECT_FALSE(wn::StrFindStr("abc", "bd", Pos));
}

TEST(QoStrings, WordsOfAText) {
  const auto Comma = wn::QoCharSet(",");
  EXPECT_EQ(wn::ExtractWordN(3, "a,,b,c", Comma), "c");
  EXPECT_EQ(wn::ExtractWordN(2, "a,,b,c", Comma), "b");
  EXPECT_EQ(wn::WordStartN(2, "a,,b,c", Comma), 4);
  EXPECT_EQ(wn::WordStartN(4, "a,,b,c", Comma), 0);
  EXPECT_EQ(wn::ExtractWordN(4, "a,,b,c", Comma), "");
  EXPECT_EQ(wn::WordStartN(1, ",,xy, ", Comma), 3);
  EXPECT_EQ(wn::ExtractWordN(2, ",,xy, ", Comma), " ");
  EXPECT_EQ(wn::WordStartN(0, "a", Comma), 0);
  EXPECT_EQ(wn::ExtractWordN(2, "10 20 30", wn::QoCharSet(" ")), "20");
}

}  // namespace
