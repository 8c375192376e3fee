#include "shell/sxbase.h"

#include <gtest/gtest.h>

#include <set>

using namespace sx;

TEST(SyMessages, TableHoldsEightySevenUniqueCodesInOrder) {
  const auto& table = SyMessageTable();
  ASSERT_EQ(table.size(), 87u);
  std::set<std::int32_t> codes;
  for (const auto& m : table) codes.insert(m.Code);
  EXPECT_EQ(codes.size(), 87u);
  EXPECT_EQ(table.front().Code, 51);
  EXPECT_EQ(table.back().Code, 306);
}

TEST(SyMessages, LookupGivesTheListedTexts) {
  EXPECT_EQ(LookupSyMessage(51), "Compare property must be set");
  EXPECT_EQ(LookupSyMessage(134), "The specified key cannnot be found in version info");
  EXPECT_EQ(LookupSyMessage(240), "Invalid folder");
  EXPECT_EQ(LookupSyMessage(276),
            "Buffered/text stream: Cannot set the size of the underlying stream (needs OnSetStreamSize event)");
  EXPECT_EQ(LookupSyMessage(129), "");
  EXPECT_EQ(LookupSyMessage(0), "");
}

TEST(SyMessages, RaiseCarriesCodeAndText) {
  try {
    RaiseSyError<ESyInvalidFolder>(240);
    FAIL();
  } catch (const ESyException& e) {
    EXPECT_EQ(e.ErrorCode, 240);
    EXPECT_STREQ(e.what(), "Invalid folder");
    EXPECT_NE(dynamic_cast<const ESyInvalidFolder*>(&e), nullptr);
  }
  try {
    RaiseSyContainerErrorFmt(57, {"TFoo"});
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 57);
    EXPECT_STREQ(e.what(), "Container class name TFoo read from stream is unregistered");
  }
  // A code the table lacks gives an empty message.
  EXPECT_STREQ(CreateSyError<ESyShellError>(999).what(), "");
}

TEST(SyComponent, VersionIsFixed) {
  TSyComponent c;
  c.SetVersion("9.99");
  EXPECT_EQ(c.Version(), "1.02");
}

TEST(SyComponent, LastShellErrorKeepsCodeAndText) {
  TSyShellComponent c;
  EXPECT_GE(c.ShellVersion, 6.0);
  c.SetLastShellError(2);
  EXPECT_EQ(c.LastError, 2u);
  EXPECT_FALSE(c.LastErrorText.empty());
  int fired = 0;
  c.OnError = [&](TSyComponent* sender) { fired += sender == &c; };
  c.DoError();
  EXPECT_EQ(fired, 1);
}

TEST(SyVersionInfo, MissingFileAndFilesWithoutResource) {
  TSyVersionInfo v;
  try {
    v.SetFileName("/nonexistent/file");
    FAIL();
  } catch (const ESyVersionInfoError& e) {
    EXPECT_EQ(e.ErrorCode, 73);
  }
  v.SetFileName("/bin/sh");
  try {
    v.FileVersion();
    FAIL();
  } catch (const ESyVersionInfoError& e) {
    EXPECT_EQ(e.ErrorCode, 100);
  }
}

TEST(SyVersionInfo, VersionStrToFloat) {
  EXPECT_DOUBLE_EQ(VersionStrToFloat("5.00.2900.2180"), 5.0);
  EXPECT_DOUBLE_EQ(VersionStrToFloat("4.72.3110.0"), 4.72);
  EXPECT_DOUBLE_EQ(VersionStrToFloat("6.4.2"), 6.4);
  EXPECT_DOUBLE_EQ(VersionStrToFloat("5.0"), 0);        // one dot
  EXPECT_DOUBLE_EQ(VersionStrToFloat("123456.1.2"), 0); // second dot at position 9
  EXPECT_DOUBLE_EQ(VersionStrToFloat("abc"), 0);
}

TEST(SyStrings, Commaize) {
  EXPECT_EQ(Commaize(4500000), "4,500,000");
  EXPECT_EQ(Commaize(-1234), "-1,234");
  EXPECT_EQ(Commaize(999), "999");
  EXPECT_EQ(Commaize(0), "0");
  EXPECT_EQ(CommaizeCh(1000, '.'), "1.000");
  EXPECT_EQ(Commaize(INT64_MIN), "-9,223,372,036,854,775,808");
}

TEST(SyStrings, PadTrimAndFind) {
  EXPECT_EQ(PadChS("73", '0', 5), "00073");
  EXPECT_EQ(PadChS("abcdef", '0', 5), "abcdef");
  EXPECT_EQ(PadS("x", 3), "  x");
  EXPECT_EQ(PadChS("a", '-', 300).size(), 255u);
  EXPECT_EQ(TrimSpaces(" \t  \t"), "");
  EXPECT_EQ(TrimSpaces("\t a b \n"), "a b");
  int pos = -1;
  EXPECT_TRUE(StrChPosS("hello", 'l', pos));
  EXPECT_EQ(pos, 3);
  EXPECT_FALSE(StrChPosS("hello", 'z', pos));
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(Long2Str(-42), "-42");
}
