#include "shell/sxbase.h"
#include "shell/sxregex.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace sx;

namespace {

// The error code a call raises, 0 when it raises none.
std::int32_t ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ESyRegExError& e) {
    return e.ErrorCode;
  }
  return 0;
}

} // namespace

TEST(SxRegEx, MatchesAtTheFirstPossibleStart) {
  const struct {
    const char* Pattern;
    std::string Text;
    bool IgnoreCase;
    int Start, Length; // Start 0: no match
  } cases[] = {
      {"b", "abab", false, 2, 1}, {"x*", "", false, 1, 0},
      // Alternation binds single tokens.
      {"a|b", "a", false, 1, 1}, {"a|b", "b", false, 1, 1}, {"a|b", "c", false, 0, 0},
      {"ab|cd", "xxacd", false, 3, 3}, {"ab|cd", "abd", false, 1, 3}, {"ab|cd", "ad", false, 0, 0},
      {"ab|cd", "abcd", false, 0, 0},
      // Closures, greedy and backtracking; optionals.
      {"a.*b", "xaxxbyyb", false, 2, 7}, {"a*a", "aaa", false, 1, 3}, {"x+", "axxxb", false, 2, 3},
      {"ax+b", "ab", false, 0, 0}, {"colou?r", "color", false, 1, 5}, {"colou?r", "colour", false, 1, 6},
      {"(ab)+c", "xababc", false, 2, 5}, {"x()*y", "xy", false, 1, 2},
      // A leading closure character is a literal.
      {"*a", "x*a", false, 2, 2}, {"*a", "a", false, 0, 0}, {"(+)", "1+1", false, 2, 1},
      // Anchors, and the CR LF behind every text.
      {"^abc", "abcd", false, 1, 3}, {"^abc", "xabc", false, 0, 0}, {"b^", "ab", false, 0, 0},
      {"bc$", "abc", false, 2, 2}, {"ab$", "abc", false, 0, 0}, {"c\\n", "abc", false, 3, 3},
      {"c\\r\\l", "abc", false, 3, 3}, {"a.", "a", false, 0, 0}, {"a.c", "a\rc", false, 0, 0},
      {"a.c", "a\nc", false, 0, 0}, {"c\\n.", "abc", false, 0, 0}, {"c\\n[^x]", "abc", false, 0, 0},
      {"c\\nd", "abc", false, 0, 0}, {"{c\\n}", "abc", false, 3, 3},
      {"{ab}c", "xabc", false, 2, 3}, {"a{}", "a", false, 1, 1},
      // Classes: ranges at their ends, reversed or half ranges, escapes.
      {"[a-c]+", "xxbcaz", false, 3, 3}, {"[0-9]", "/", false, 0, 0}, {"[0-9]", ":", false, 0, 0},
      {"[0-9]", "0", false, 1, 1}, {"[0-9]", "9", false, 1, 1}, {"[0-9][a-z][A-Z]", "5mM", false, 1, 3}, {"[a-a]", "a", false, 1, 1},
      {"[a-z]", "Z", true, 1, 1}, {"[A-Z]", "z", true, 1, 1}, {"[a-z]", "`{", true, 0, 0},
      {"[a-c]x", "Bx", true, 1, 2}, {"[z-a]", "-", false, 1, 1}, {"[z-a]", "m", false, 0, 0},
      {"[!-z]", "-", false, 1, 1}, {"[!-z]", "m", false, 0, 0}, {"[a-]", "-", false, 1, 1},
      {"[^a-c]", "abc", false, 0, 0}, {"[^a-c]", "abcd", false, 4, 1}, {"[\\]]", "]", false, 1, 1},
      {"[\\s]", "a b", false, 2, 1}, {"[\\t]", "a\tb", false, 2, 1}, {"[\\b]", "\b", false, 1, 1},
      {"[\\l]", "a", false, 3, 1}, {"[\\r]", "a", false, 2, 1}, {"[\\q]", "q", false, 1, 1},
      // Escapes outside classes.
      {"a\\sb\\tc\\b", "a b\tc\b", false, 1, 6}, {"\\.", ".", false, 1, 1}, {"\\.", "a", false, 0, 0},
      {"\\h\\h", "3F", false, 1, 2}, {"\\h\\h", "3f", false, 0, 0}, {"\\h\\h", "3f", true, 1, 2},
      {"\\h", "G", false, 0, 0}, {"\\w", "a~", false, 2, 1}, {"\\w", "a\tb", false, 2, 1},
      {"\\w", "ab_", false, 0, 0},
      // Case.
      {"ABC", "abc", false, 0, 0}, {"ABC", "abc", true, 1, 3}, {"abc", "ABC", true, 1, 3},
  };
  for (const auto& c : cases) {
    TSxRegEx r;
    r.SetIgnoreCase(c.IgnoreCase);
    r.SetMatchPattern({c.Pattern});
    TMatchPosition info;
    EXPECT_EQ(r.CheckString(c.Text, info), c.Start > 0) << c.Pattern << " in " << c.Text;
    EXPECT_EQ(info.StartPos, c.Start) << c.Pattern << " in " << c.Text;
    EXPECT_EQ(info.Length, c.Length) << c.Pattern << " in " << c.Text;
    EXPECT_EQ(info.EndPos, c.Start > 0 ? c.Start + c.Length - 1 : 0) << c.Pattern << " in " << c.Text;
  }
}

TEST(SxRegEx, FileMasksIgnoringCase) {
  const struct {
    const char* Masks;
    const char* Name;
    bool Matches;
  } cases[] = {
      {"*.jpg", "A.JPG", true}, {"*.jpg", "a.Jpg", true}, {"*.jpg", "a.jpg.bak", false}, {"*.jpg", "ajpg", false},
      {"*.jpg;*.jpeg", "b.JPEG", true}, {"*.jpg;*.jpeg", "b.jpg", true}, {"*.jpg;*.jpeg", "b.gif", false},
      {"*", "README", true}, {"*", "", true}, {"a", "A", true}, {"a", "ab", false},
      // "?" first stands for exactly one character, elsewhere for at most one.
      {"?x", "ax", true}, {"?x", "x", false}, {"?x", "abx", false},
      {"a?.txt", "a.txt", true}, {"a?.txt", "ab.txt", true}, {"a?.txt", "abc.txt", false}, {"a?.txt", "b.txt", false},
      // Pieces are not trimmed; empty pieces are skipped.
      {"*.jpg; *.png", " a.png", true}, {"*.jpg; *.png", "a.png", false}, {"*.jpg; *.png", "a.jpg", true},
      {"*.jpg;", "x.jpg", true}, {";*.jpg", "x.jpg", true}, {"*.gif;;*.png", "x.png", true},
      {"*.gif;*.png;*.bmp", "x.png", true},
      // Characters of the pattern language stand for themselves.
      {"a(1)*", "A(1) copy.jpg", true}, {"a(1)*", "a1.jpg", false}, {"c++.txt", "C++.TXT", true},
      {"c++.txt", "cc.txt", false}, {"x[1].jpg", "X[1].JPG", true}, {"x[1].jpg", "x1.jpg", false},
      {"a|b", "a|b", true}, {"a|b", "a", false}, {"{a}$^", "{A}$^", true}, {"^*", "^x", true},
      {"]x", "]x", true}, {"\\*", "\\a", true}, {"\\*", "a", false},
  };
  for (const auto& c : cases) {
    TSxRegEx r;
    r.SetIgnoreCase(true);
    ASSERT_TRUE(r.SetMatchPatternFromMasks(c.Masks)) << c.Masks;
    TMatchPosition info;
    EXPECT_EQ(r.CheckString(c.Name, info), c.Matches) << c.Masks << " against " << c.Name;
  }
  EXPECT_EQ(WildcardToRegEx("*.jpg"), "(.*\\.jpg\\n)");
  EXPECT_EQ(WildcardToRegEx("a*.txt"), "((^[a]).*\\.txt\\n)");
  // A list without a mask leaves no pattern to check against.
  for (const char* empty : {"", ";", ";;"}) {
    TSxRegEx r;
    EXPECT_FALSE(r.SetMatchPatternFromMasks(empty));
    TMatchPosition info;
    EXPECT_EQ(ErrorOf([&] { r.CheckString("a", info); }), 297) << empty;
  }
}

TEST(SxRegEx, MalformedPatternsRaiseTheirCodes) {
  const struct {
    std::string Pattern;
    std::int32_t Code;
  } cases[] = {
      {"[abc", 291}, {"[a\\", 291}, {"a*|b", 292}, {"a+|b", 292}, {"(ab", 293}, {"ab)", 293}, {"^*", 294},
      {"a**", 294}, {"$+", 294}, {"a?*", 294}, {"ab\\", 295}, {"a|", 295}, {"{a", 296}, {"a}", 296},
      {"{a{b}}", 296}, {"(a*)*", 302}, {"(a*)+", 302}, {"(\\s?)+", 302}, {"([a]*)*", 302}, {"([^a]*)*", 302},
      {"(.*)*", 302}, {"|a", 290}, {"a||b", 290}, {"a|*", 290}, {"(a|)", 290}, {std::string(1025, 'a'), 298},
      {"(a*)?", 0}, {"(ab*)*", 0}, {"((a)*)*", 0}, {"(a*b)+", 0}, {"a|b|c", 0}, {std::string(1024, 'a'), 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorOf([&] { TSxRegEx().SetMatchPattern({c.Pattern}); }), c.Code) << c.Pattern;
}

TEST(SxRegEx, SettingsChangesRecompileAndFailuresDiscardThePattern) {
  TSxRegEx r;
  r.SetMatchPattern({"  a", "b!\x01\t "}); // lines are trimmed and joined
  TMatchPosition info;
  ASSERT_TRUE(r.CheckString("xAB!", info) == false && r.CheckString("xab", info) == false &&
              r.CheckString("xab!", info));
  EXPECT_EQ(info.StartPos, 2);
  r.SetIgnoreCase(true);
  EXPECT_TRUE(r.CheckString("XAB!", info));
  r.Settings().IgnoreCase = false;
  EXPECT_FALSE(r.CheckString("XAB!", info));
  r.Settings().MaxLineLength = 1;
  EXPECT_EQ(ErrorOf([&] { r.CheckString("ab", info); }), 298);

  // x+ shares x's inner pattern: freeing both must not free it twice.
  TSxRegEx shared;
  shared.SetMatchPattern({"(ab)+c"});
  shared.SetMatchPattern({"(xy)+z1234567"});
  EXPECT_TRUE(shared.CheckString("xyxyz1234567", info));
  EXPECT_EQ(info.Length, 12);
  EXPECT_FALSE(shared.CheckString("xyz123456", info));

  TSxRegEx failed;
  failed.SetMatchPattern({"a"});
  EXPECT_EQ(ErrorOf([&] { failed.SetMatchPattern({"[a"}); }), 291);
  EXPECT_EQ(ErrorOf([&] { failed.CheckString("a", info); }), 297);
  // An avoid pattern alone checks nothing.
  failed.SetSelAvoidPattern({"a"});
  EXPECT_FALSE(failed.CheckString("a", info));
  EXPECT_EQ(info.StartPos, 0);
}

TEST(SxRegEx, NestedClosuresAtTheLongestPatterns) {
  std::string fourteen, many;
  for (int i = 0; i < 14; ++i) fourteen += "a*";
  for (int i = 0; i < 511; ++i) many += "a*";
  const struct {
    std::string Pattern, Text;
    bool Matches;
  } cases[] = {
      {fourteen + "c", std::string(60, 'a'), false},
      {"((a|b)*)*c", std::string(60, 'a'), false},
      {"((a|b)*)*c", std::string(60, 'b') + "c", true},
      {std::string(511, '(') + "a" + std::string(511, ')'), "xa", true},
      {many + "c", std::string(80, 'a'), false},
  };
  for (const auto& c : cases) {
    TSxRegEx r;
    r.SetMatchPattern({c.Pattern});
    TMatchPosition info;
    EXPECT_EQ(r.CheckString(c.Text, info), c.Matches) << c.Pattern.substr(0, 20);
  }
}

TEST(SxStreamRegEx, LineProcessing) {
  const struct {
    const char* Input;
    const char* Match;
    const char* Avoid;
    std::function<void(TSxRegExSettings&)> Set;
    const char* Output;
    std::int64_t Read, Selected, Matched;
  } cases[] = {
      {"one\r\ntwo\r\nthree", "t", nullptr, [](TSxRegExSettings& s) { s.LineNumbers = true; },
       "     2  two\r\n     3  three\r\n", 3, 3, 2},
      {"one\r\ntwo\r\nthree", nullptr, "o", [](TSxRegExSettings& s) { s.Avoid = true; }, "three\r\n", 3, 1, 1},
      {"one\r\ntwo\r\nthree", nullptr, "o", [](TSxRegExSettings&) {}, "one\r\ntwo\r\n", 3, 2, 2},
      {"one\ntwo", "o", nullptr, [](TSxRegExSettings& s) { s.Avoid = true; }, "one\r\ntwo\r\n", 2, 2, 2},
      {"a", "a", nullptr, [](TSxRegExSettings&) {}, "a\r\n", 1, 1, 1},
      {"one\r\ntwo\r\nthree", "e", "t", [](TSxRegExSettings&) {}, "three\r\n", 3, 2, 1},
      {"one\ntwo\n", "t", nullptr, [](TSxRegExSettings& s) { s.OutputOptions = ooUnselected; }, "one\r\ntwo\r\n", 2, 2, 1},
      {"one\ntwo", "o", nullptr, [](TSxRegExSettings& s) { s.OutputOptions = ooNoOutput; }, "", 2, 2, 2},
      {"a\rb\nc\r", "b", nullptr, [](TSxRegExSettings& s) { s.InLineTerminator = ltCR; }, "b\nc\r\n", 2, 2, 1},
      {"a;ab;b", "a", nullptr,
       [](TSxRegExSettings& s) {
         s.InLineTerminator = ltOther;
         s.InLineTermChar = ';';
         s.OutLineTerminator = ltLF;
       },
       "a\nab\n", 3, 3, 2},
      {"abcdef", "", "c|e",
       [](TSxRegExSettings& s) {
         s.InLineTerminator = ltNone;
         s.InFixedLineLength = 2;
         s.OutLineTerminator = ltOther;
         s.OutLineTermChar = '|';
       },
       "cd|ef|", 3, 2, 2},
      {"three\r\nthe", "th", nullptr, [](TSxRegExSettings& s) { s.MaxLineLength = 3; }, "thr\r\nthe\r\n", 2, 2, 2},
  };
  for (const auto& c : cases) {
    platform::TBytesStream input(c.Input, static_cast<std::int64_t>(std::string(c.Input).size()));
    platform::TMemoryStream output;
    TSxStreamRegEx engine;
    c.Set(engine.Settings);
    if (c.Match) engine.SetMatchPattern({c.Match});
    if (c.Avoid) engine.SetSelAvoidPattern({c.Avoid});
    engine.Execute(&input, &output);
    EXPECT_EQ(std::string(output.Data().begin(), output.Data().end()), c.Output) << c.Input;
    EXPECT_EQ(engine.LinesRead, c.Read) << c.Input;
    EXPECT_EQ(engine.LinesSelected, c.Selected) << c.Input;
    EXPECT_EQ(engine.LinesMatched, c.Matched) << c.Input;
  }
  TSxStreamRegEx engine;
  platform::TMemoryStream stream;
  EXPECT_EQ(ErrorOf([&] { engine.Execute(&stream, &stream); }), 297);
  engine.SetMatchPattern({"a"});
  EXPECT_EQ(ErrorOf([&] { engine.Execute(nullptr, &stream); }), 299);
  EXPECT_EQ(ErrorOf([&] { engine.Execute(&stream, nullptr); }), 299);
}
