// The shell library's small regular-expression engine: patterns compiled
// into token lists and matched against lines of text, and the string-level
// wrapper that turns DOS file masks into patterns.
#pragma once

#include "platform/stream.h"
#include "shell/sxtextwriter.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sx {

enum TSxTokenKind : std::uint8_t {
  tkEnd, tkLiteral, tkClass, tkNegatedClass, tkClosure, tkOptional, tkAnyChar,
  tkBegOfLine, tkEndOfLine, tkGroup, tkTagStart, tkTagEnd, tkReplaceRef
};

struct TSxPatternToken {
  std::bitset<256> ClassText; // member characters of a class token
  TSxPatternToken* Nested = nullptr; // first token inside parentheses
  TSxPatternToken* Next = nullptr;
  TSxTokenKind Kind = tkEnd;
  std::uint8_t Character = 0; // literal, tag number or reference digit
  bool Alternative = false; // "|" followed this token
  bool SharesNested = false; // the nested pattern belongs to another token
  std::int32_t Index = 0; // place in the heap, for match bookkeeping
};

// Hands out tokens and takes freed ones back for reuse.
class TSxNodeHeap {
public:
  TSxPatternToken* Alloc();
  void Free(TSxPatternToken* token);
  // Frees a whole pattern, nested patterns included.
  void FreePattern(TSxPatternToken* head);
  std::int32_t Capacity() const { return static_cast<std::int32_t>(FAll.size()); }

private:
  std::vector<std::unique_ptr<TSxPatternToken>> FAll;
  std::vector<TSxPatternToken*> FFree;
};

struct TMatchPosition {
  std::int32_t StartPos = 0; // 1-based
  std::int32_t EndPos = 0; // 1-based, last character of the match
  std::int32_t Length = 0;
};

// Output option bits of line processing.
enum : std::uint8_t { ooUnselected = 1, ooNoOutput = 2 };

struct TSxRegExSettings {
  bool IgnoreCase = false;
  bool Avoid = false; // selects the lines that the avoid pattern does not match
  bool LineNumbers = false;
  std::uint8_t OutputOptions = 0;
  char InLineTermChar = '\n';
  TSxLineTerminator InLineTerminator = ltCRLF;
  std::int32_t InFixedLineLength = 80;
  char OutLineTermChar = '\n';
  TSxLineTerminator OutLineTerminator = ltCRLF;
  std::int32_t OutFixedLineLength = 80;
  std::int32_t MaxLineLength = 1024; // also the longest pattern
};

class TSxStreamRegEx {
public:
  TSxStreamRegEx();
  ~TSxStreamRegEx();
  TSxStreamRegEx(const TSxStreamRegEx&) = delete;
  TSxStreamRegEx& operator=(const TSxStreamRegEx&) = delete;

  TSxRegExSettings Settings;

  // Each compiles at once; an empty list leaves no compiled pattern. A
  // failure raises ESyRegExError after the previous pattern was discarded.
  void SetMatchPattern(const std::vector<std::string>& lines);
  void SetSelAvoidPattern(const std::vector<std::string>& lines);
  void SetReplacePattern(const std::vector<std::string>& lines);
  bool HasMatchPattern() const { return FMatch != nullptr; }
  bool HasSelAvoidPattern() const { return FAvoid != nullptr; }

  bool CheckString(const std::string& s, TMatchPosition& matchInfo);
  // Reads lines from input, writes the selected ones to output.
  void Execute(platform::TStream* input, platform::TStream* output);

  std::int64_t LinesRead = 0, LinesSelected = 0, LinesMatched = 0;

private:
  TSxPatternToken* Compile(const std::vector<std::string>& lines);
  bool Search(TSxPatternToken* pattern, const std::string& text, TMatchPosition& info);
  bool SelectLine(const std::string& line, TMatchPosition& info);

  TSxNodeHeap FHeap;
  TSxPatternToken* FMatch = nullptr;
  TSxPatternToken* FAvoid = nullptr;
  std::vector<std::string> FReplace;
};

class TSxRegEx {
public:
  TSxRegEx();
  ~TSxRegEx();

  bool IgnoreCase() const { return FSettings.IgnoreCase; }
  void SetIgnoreCase(bool value);
  TSxRegExSettings& Settings() { return FSettings; }

  const std::vector<std::string>& MatchPattern() const { return FMatchPattern; }
  void SetMatchPattern(const std::vector<std::string>& lines);
  const std::vector<std::string>& SelAvoidPattern() const { return FSelAvoidPattern; }
  void SetSelAvoidPattern(const std::vector<std::string>& lines);
  const std::vector<std::string>& ReplacePattern() const { return FReplacePattern; }
  void SetReplacePattern(const std::vector<std::string>& lines);

  // False when the ";"-separated list holds no mask.
  bool SetMatchPatternFromMasks(const std::string& masks);
  bool CheckString(const std::string& s, TMatchPosition& matchInfo);

private:
  void Recompile();

  TSxRegExSettings FSettings;
  std::vector<std::string> FMatchPattern, FSelAvoidPattern, FReplacePattern;
  std::unique_ptr<TSxStreamRegEx> FEngine;
};

// "*.jpg" gives "(.*\.jpg\n)", "a*.txt" gives "((^[a]).*\.txt\n)".
std::string WildcardToRegEx(const std::string& mask);

} // namespace sx
