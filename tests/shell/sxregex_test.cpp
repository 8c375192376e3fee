#include "shell/sxbase.h"
#include "shell/sxregex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace sx;

namespace {

bool Matches(const std::string& pattern, const std::string& text, bool ignoreCase = false,
             TMatchPosition* out = nullptr) {
  TSxRegEx r;
  r.SetIgnoreCase(ignoreCase);
  r.SetMatchPattern({pattern});
  TMatchPosition info;
  const bool result = r.CheckString(text, info);
  if (out) *out = info;
  return result;
}

bool MaskMatches(const std::string& masks, const std::string& name) {
  TSxRegEx r;
  r.SetIgnoreCase(true);
  EXPECT_TRUE(r.SetMatchPatternFromMasks(masks));
  TMatchPosition info;
  return r.CheckString(name, info);
}

std::int32_t CompileError(const std::string& pattern) {
  try {
    TSxRegEx r;
    r.SetMatchPattern({pattern});
  } catch (const ESyRegExError& e) {
    return e.ErrorCode;
  }
  return 0;
}

} // namespace

TEST(SxRegExMasks, WildcardConversion) {
  EXPECT_EQ(WildcardToRegEx("*.jpg"), "(.*\\.jpg\\n)");
  EXPECT_EQ(WildcardToRegEx("a*.txt"), "((^[a]).*\\.txt\\n)");
  EXPECT_EQ(WildcardToRegEx("?x"), "((^.)x\\n)");
  EXPECT_EQ(WildcardToRegEx("a?.txt"), "((^[a]).?\\.txt\\n)");
  EXPECT_EQ(WildcardToRegEx("a"), "((^[a])\\n)");
  // Pattern characters in a name stand for themselves.
  EXPECT_EQ(WildcardToRegEx("a(1)+.jpg"), "((^[a])\\(1\\)\\+\\.jpg\\n)");
  EXPECT_EQ(WildcardToRegEx("]x"), "((^[\\]])x\\n)");
  TSxRegEx r;
  ASSERT_TRUE(r.SetMatchPatternFromMasks("*.jpeg;*.jpg"));
  EXPECT_EQ(r.MatchPattern(), std::vector<std::string>{"(.*\\.jpeg\\n)|(.*\\.jpg\\n)"});
  EXPECT_FALSE(r.SetMatchPatternFromMasks(";;"));
  EXPECT_FALSE(r.SetMatchPatternFromMasks(""));
}

TEST(SxRegExMasks, ExtensionMasksIgnoringCase) {
  EXPECT_TRUE(MaskMatches("*.jpg", "A.JPG"));
  EXPECT_TRUE(MaskMatches("*.jpg", "a.Jpg"));
  EXPECT_FALSE(MaskMatches("*.jpg", "a.jpg.bak"));
  EXPECT_FALSE(MaskMatches("*.jpg", "ajpg"));
  EXPECT_TRUE(MaskMatches("*.jpg;*.jpeg", "b.JPEG"));
  EXPECT_TRUE(MaskMatches("*.jpg;*.jpeg", "b.jpg"));
  EXPECT_FALSE(MaskMatches("*.jpg;*.jpeg", "b.gif"));
  EXPECT_TRUE(MaskMatches("*", "README"));
  EXPECT_TRUE(MaskMatches("*", ""));
}

TEST(SxRegExMasks, QuestionMarks) {
  EXPECT_TRUE(MaskMatches("?x", "ax"));
  EXPECT_FALSE(MaskMatches("?x", "x"));
  EXPECT_FALSE(MaskMatches("?x", "abx"));
  EXPECT_TRUE(MaskMatches("a?.txt", "a.txt"));
  EXPECT_TRUE(MaskMatches("a?.txt", "ab.txt"));
  EXPECT_FALSE(MaskMatches("a?.txt", "abc.txt"));
  EXPECT_FALSE(MaskMatches("a?.txt", "b.txt"));
}

TEST(SxRegExMasks, PiecesAreNotTrimmed) {
  EXPECT_TRUE(MaskMatches("*.jpg; *.png", " a.png"));
  EXPECT_FALSE(MaskMatches("*.jpg; *.png", "a.png"));
  EXPECT_TRUE(MaskMatches("*.jpg; *.png", "a.jpg"));
}

TEST(SxRegExMasks, NamesWithPatternCharacters) {
  EXPECT_TRUE(MaskMatches("a(1)*", "A(1) copy.jpg"));
  EXPECT_FALSE(MaskMatches("a(1)*", "a1.jpg"));
  EXPECT_TRUE(MaskMatches("c++.txt", "C++.TXT"));
  EXPECT_TRUE(MaskMatches("^*", "^x"));
}

TEST(SxRegEx, AlternationBindsSingleTokens) {
  EXPECT_TRUE(Matches("a|b", "a"));
  EXPECT_TRUE(Matches("a|b", "b"));
  EXPECT_FALSE(Matches("a|b", "c"));
  TMatchPosition info;
  ASSERT_TRUE(Matches("ab|cd", "xxacd", false, &info));
  EXPECT_EQ(info.StartPos, 3);
  EXPECT_EQ(info.Length, 3);
  EXPECT_EQ(info.EndPos, 5);
  EXPECT_TRUE(Matches("ab|cd", "abd"));
  EXPECT_FALSE(Matches("ab|cd", "ad"));
  EXPECT_FALSE(Matches("ab|cd", "abcd"));
}

TEST(SxRegEx, ClosuresAndOptionals) {
  TMatchPosition info;
  ASSERT_TRUE(Matches("a.*b", "xaxxbyyb", false, &info));
  EXPECT_EQ(info.StartPos, 2);
  EXPECT_EQ(info.Length, 7);
  ASSERT_TRUE(Matches("x+", "axxxb", false, &info));
  EXPECT_EQ(info.StartPos, 2);
  EXPECT_EQ(info.Length, 3);
  EXPECT_FALSE(Matches("ax+b", "ab"));
  EXPECT_TRUE(Matches("colou?r", "color"));
  EXPECT_TRUE(Matches("colou?r", "colour"));
  ASSERT_TRUE(Matches("(ab)+c", "xababc", false, &info));
  EXPECT_EQ(info.StartPos, 2);
  EXPECT_EQ(info.Length, 5);
  // A leading closure character is a literal.
  EXPECT_TRUE(Matches("*a", "x*a"));
  EXPECT_FALSE(Matches("*a", "a"));
  EXPECT_TRUE(Matches("(+)", "1+1"));
  // An operand that can match nothing repeats once, not for ever.
  EXPECT_TRUE(Matches("x()*y", "xy"));
}

TEST(SxRegEx, LineAnchors) {
  EXPECT_TRUE(Matches("^abc", "abcd"));
  EXPECT_FALSE(Matches("^abc", "xabc"));
  TMatchPosition info;
  ASSERT_TRUE(Matches("bc$", "abc", false, &info));
  EXPECT_EQ(info.StartPos, 2);
  EXPECT_EQ(info.Length, 2);
  EXPECT_FALSE(Matches("ab$", "abc"));
  ASSERT_TRUE(Matches("c\\n", "abc", false, &info));
  EXPECT_EQ(info.Length, 3);
  EXPECT_FALSE(Matches("a.c", "a\rc"));
}

TEST(SxRegEx, ClassesAndEscapes) {
  TMatchPosition info;
  ASSERT_TRUE(Matches("[a-c]+", "xxbcaz", false, &info));
  EXPECT_EQ(info.StartPos, 3);
  EXPECT_EQ(info.Length, 3);
  EXPECT_FALSE(Matches("[^a-c]", "abc")); // nor the CR LF behind it
  EXPECT_TRUE(Matches("[^a-c]", "abcd"));
  EXPECT_TRUE(Matches("[z-a]", "-"));
  EXPECT_FALSE(Matches("[z-a]", "m"));
  EXPECT_TRUE(Matches("[!-z]", "-"));
  EXPECT_FALSE(Matches("[!-z]", "m"));
  EXPECT_TRUE(Matches("[\\s]", "a b"));
  EXPECT_TRUE(Matches("[\\]]", "]"));
  EXPECT_TRUE(Matches("a\\sb\\tc", "a b\tc"));
  EXPECT_TRUE(Matches("\\.", "."));
  EXPECT_FALSE(Matches("\\.", "a"));
  EXPECT_TRUE(Matches("\\h\\h", "3F"));
  EXPECT_FALSE(Matches("\\h\\h", "3f"));
  EXPECT_TRUE(Matches("\\h\\h", "3f", true));
  EXPECT_TRUE(Matches("\\w", "a~"));
  EXPECT_TRUE(Matches("\\w", "a\tb"));
  EXPECT_FALSE(Matches("\\w", "ab_"));
}

TEST(SxRegEx, IgnoreCaseAndRecompile) {
  EXPECT_FALSE(Matches("ABC", "abc"));
  EXPECT_TRUE(Matches("ABC", "abc", true));
  EXPECT_TRUE(Matches("[a-c]x", "Bx", true));
  TSxRegEx r;
  r.SetMatchPattern({"abc"});
  TMatchPosition info;
  EXPECT_FALSE(r.CheckString("ABC", info));
  r.SetIgnoreCase(true);
  EXPECT_TRUE(r.CheckString("ABC", info));
}

TEST(SxRegEx, TagsAndTrimmedLines) {
  EXPECT_TRUE(Matches("{ab}c", "xabc"));
  TSxRegEx r;
  r.SetMatchPattern({"  a", "b\t "});
  TMatchPosition info;
  ASSERT_TRUE(r.CheckString("xab", info));
  EXPECT_EQ(info.StartPos, 2);
}

TEST(SxRegEx, MalformedPatternsRaise) {
  EXPECT_EQ(CompileError("[abc"), 291);
  EXPECT_EQ(CompileError("[a\\"), 291);
  EXPECT_EQ(CompileError("a*|b"), 292);
  EXPECT_EQ(CompileError("a+|b"), 292);
  EXPECT_EQ(CompileError("(ab"), 293);
  EXPECT_EQ(CompileError("ab)"), 293);
  EXPECT_EQ(CompileError("^*"), 294);
  EXPECT_EQ(CompileError("a**"), 294);
  EXPECT_EQ(CompileError("$+"), 294);
  EXPECT_EQ(CompileError("a?*"), 294);
  EXPECT_EQ(CompileError("ab\\"), 295);
  EXPECT_EQ(CompileError("a|"), 295);
  EXPECT_EQ(CompileError("{a"), 296);
  EXPECT_EQ(CompileError("a}"), 296);
  EXPECT_EQ(CompileError("{a{b}}"), 296);
  EXPECT_EQ(CompileError("(a*)*"), 302);
  EXPECT_EQ(CompileError("(\\s?)+"), 302);
  EXPECT_EQ(CompileError("|a"), 290);
  EXPECT_EQ(CompileError(std::string(1025, 'a')), 298);
  EXPECT_EQ(CompileError("(a*)?"), 0);
  EXPECT_EQ(CompileError("(ab*)*"), 0);
  EXPECT_EQ(CompileError(std::string(1024, 'a')), 0);
}

TEST(SxRegEx, FailedCompileDiscardsThePreviousPattern) {
  TSxRegEx r;
  r.SetMatchPattern({"a"});
  EXPECT_THROW(r.SetMatchPattern({"[a"}), ESyRegExError);
  TMatchPosition info;
  try {
    r.CheckString("a", info);
    FAIL() << "a check without patterns must raise";
  } catch (const ESyRegExError& e) {
    EXPECT_EQ(e.ErrorCode, 297);
  }
}

TEST(SxRegEx, NestedClosuresStayFast) {
  std::string pattern;
  for (int i = 0; i < 14; ++i) pattern += "a*";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Matches(pattern + "c", std::string(60, 'a')));
  EXPECT_FALSE(Matches("((a|b)*)*c", std::string(60, 'a')));
  EXPECT_TRUE(Matches("((a|b)*)*c", std::string(60, 'b') + "c"));
  // The longest patterns allowed, at their deepest.
  EXPECT_TRUE(Matches(std::string(511, '(') + "a" + std::string(511, ')'), "xa"));
  std::string closures;
  for (int i = 0; i < 511; ++i) closures += "a*";
  EXPECT_FALSE(Matches(closures + "c", std::string(80, 'a')));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(SxStreamRegEx, LineProcessing) {
  const std::string text = "one\r\ntwo\r\nthree";
  platform::TBytesStream input(text.data(), static_cast<std::int64_t>(text.size()));
  platform::TMemoryStream output;
  TSxStreamRegEx engine;
  engine.Settings.LineNumbers = true;
  engine.SetMatchPattern({"t"});
  engine.Execute(&input, &output);
  EXPECT_EQ(std::string(output.Data().begin(), output.Data().end()), "     2  two\r\n     3  three\r\n");
  EXPECT_EQ(engine.LinesRead, 3);
  EXPECT_EQ(engine.LinesSelected, 3);
  EXPECT_EQ(engine.LinesMatched, 2);

  platform::TBytesStream again(text.data(), static_cast<std::int64_t>(text.size()));
  platform::TMemoryStream avoided;
  TSxStreamRegEx avoid;
  avoid.Settings.Avoid = true;
  avoid.SetSelAvoidPattern({"o"});
  avoid.Execute(&again, &avoided);
  EXPECT_EQ(std::string(avoided.Data().begin(), avoided.Data().end()), "three\r\n");
  EXPECT_EQ(avoid.LinesSelected, 1);
}
