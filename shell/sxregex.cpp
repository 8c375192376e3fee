#include "shell/sxregex.h"

#include "shell/sxbase.h"

#include <algorithm>
#include <unordered_map>

namespace sx {

namespace {

enum : std::int32_t {
  scTokenError = 290, scClassError = 291, scAltAfterClosure = 292, scUnbalancedParens = 293,
  scClosureMisplaced = 294, scEndOfPattern = 295, scUnbalancedTag = 296, scNoPatterns = 297,
  scPatternTooLong = 298, scStreamsUnassigned = 299, scEmptyOperand = 302
};

[[noreturn]] void RegExError(std::int32_t code) { RaiseSyError<ESyRegExError>(code); }

std::uint8_t Upper(std::uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<std::uint8_t>(c - 32) : c; }

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsClosureKind(const TSxPatternToken* t) { return t->Kind == tkClosure || t->Kind == tkOptional; }

std::uint8_t EscapedChar(char e) {
  switch (e) {
  case 's': return ' ';
  case 't': return 9;
  case 'b': return 8;
  case 'r': return 13;
  case 'l': return 10;
  default: return static_cast<std::uint8_t>(e);
  }
}

// Reads a pattern once from left to right into tokens of the heap.
class TPatternCompiler {
public:
  TPatternCompiler(TSxNodeHeap& heap, const std::string& pattern, bool ignoreCase)
      : FHeap(heap), P(pattern), FIgnoreCase(ignoreCase) {}

  TSxPatternToken* Compile() {
    try {
      TSxPatternToken* head = ParseSequence(false);
      if (FInTag) RegExError(scUnbalancedTag);
      return head;
    } catch (...) {
      for (TSxPatternToken* t : FMade) FHeap.Free(t);
      throw;
    }
  }

private:
  TSxPatternToken* New(TSxTokenKind kind) {
    TSxPatternToken* t = FHeap.Alloc();
    FMade.push_back(t);
    t->Kind = kind;
    return t;
  }

  TSxPatternToken* Literal(std::uint8_t c) {
    TSxPatternToken* t = New(tkLiteral);
    t->Character = FIgnoreCase ? Upper(c) : c;
    return t;
  }

  void AddMember(TSxPatternToken* t, std::uint8_t c) {
    t->ClassText.set(c);
    if (FIgnoreCase) t->ClassText.set(Upper(c));
  }

  TSxPatternToken* ClassOf(const char* members) {
    TSxPatternToken* t = New(tkClass);
    for (const char* m = members; *m; ++m) AddMember(t, static_cast<std::uint8_t>(*m));
    return t;
  }

  TSxPatternToken* ParseClass() {
    ++I; // "["
    TSxPatternToken* t = New(tkClass);
    if (I < P.size() && P[I] == '^') {
      t->Kind = tkNegatedClass;
      ++I;
    }
    for (;;) {
      if (I >= P.size()) RegExError(scClassError);
      const char c = P[I];
      if (c == ']') {
        ++I;
        return t;
      }
      if (c == '\\') {
        ++I;
        if (I >= P.size()) {
          AddMember(t, '\\');
          continue;
        }
        AddMember(t, EscapedChar(P[I]));
        ++I;
        continue;
      }
      if (I + 2 < P.size() && P[I + 1] == '-' && IsAlnum(c) && IsAlnum(P[I + 2]) && c <= P[I + 2]) {
        for (int m = static_cast<std::uint8_t>(c); m <= static_cast<std::uint8_t>(P[I + 2]); ++m)
          AddMember(t, static_cast<std::uint8_t>(m));
        I += 3;
        continue;
      }
      AddMember(t, static_cast<std::uint8_t>(c));
      ++I;
    }
  }

  // Parses up to the end of the pattern or, inside parentheses, up to ")".
  TSxPatternToken* ParseSequence(bool inGroup) {
    TSxPatternToken* head = nullptr;
    TSxPatternToken* tail = nullptr; // last token of the chain
    TSxPatternToken* unit = nullptr; // first token of the last unit
    TSxPatternToken* beforeUnit = nullptr; // token whose next is unit
    bool lastWasClosure = false, pendingAlt = false;
    auto append = [&](TSxPatternToken* t) {
      beforeUnit = tail;
      if (tail) tail->Next = t;
      else head = t;
      tail = unit = t;
      lastWasClosure = pendingAlt = false;
    };

    while (I < P.size()) {
      const char c = P[I];
      if (c == ')') {
        if (!inGroup) RegExError(scUnbalancedParens);
        break;
      }
      if (c == '*' || c == '+' || c == '?') {
        if (!unit) {
          append(Literal(static_cast<std::uint8_t>(c)));
          ++I;
          continue;
        }
        if (pendingAlt) RegExError(scTokenError);
        if (lastWasClosure || unit->Kind == tkBegOfLine || unit->Kind == tkEndOfLine)
          RegExError(scClosureMisplaced);
        TSxPatternToken* operand = unit;
        const TSxPatternToken* nested = operand->Nested;
        if (c != '?' && operand->Kind == tkGroup && nested && IsClosureKind(nested) && nested->Next &&
            !nested->Next->Next &&
            (nested->Next->Kind == tkLiteral || nested->Next->Kind == tkClass ||
             nested->Next->Kind == tkNegatedClass || nested->Next->Kind == tkAnyChar))
          RegExError(scEmptyOperand);
        if (c == '+') {
          // x+ is x followed by x*; the copy shares x's nested pattern.
          TSxPatternToken* copy = New(operand->Kind);
          copy->ClassText = operand->ClassText;
          copy->Character = operand->Character;
          copy->Nested = operand->Nested;
          copy->SharesNested = operand->Nested != nullptr;
          TSxPatternToken* closure = New(tkClosure);
          closure->Next = copy;
          tail->Next = closure;
          beforeUnit = tail;
          unit = closure;
          tail = copy;
        } else {
          TSxPatternToken* closure = New(c == '*' ? tkClosure : tkOptional);
          closure->Next = operand;
          if (beforeUnit) beforeUnit->Next = closure;
          else head = closure;
          unit = closure;
        }
        lastWasClosure = true;
        ++I;
        continue;
      }
      if (c == '|') {
        if (!unit || pendingAlt) RegExError(scTokenError);
        if (lastWasClosure) RegExError(scAltAfterClosure);
        tail->Alternative = true;
        pendingAlt = true;
        ++I;
        continue;
      }
      switch (c) {
      case '(': {
        ++I;
        TSxPatternToken* nested = ParseSequence(true);
        if (I >= P.size() || P[I] != ')') RegExError(scUnbalancedParens);
        ++I;
        TSxPatternToken* group = New(tkGroup);
        group->Nested = nested;
        append(group);
        continue;
      }
      case '[': append(ParseClass()); continue;
      case '{': {
        if (FInTag) RegExError(scUnbalancedTag);
        FInTag = true;
        TSxPatternToken* t = New(tkTagStart);
        t->Character = static_cast<std::uint8_t>(++FTagCount);
        append(t);
        break;
      }
      case '}': {
        if (!FInTag) RegExError(scUnbalancedTag);
        FInTag = false;
        TSxPatternToken* t = New(tkTagEnd);
        t->Character = static_cast<std::uint8_t>(FTagCount);
        append(t);
        break;
      }
      case '^': append(New(tkBegOfLine)); break;
      case '$': append(New(tkEndOfLine)); break;
      case '.': append(New(tkAnyChar)); break;
      case '\\': {
        ++I;
        if (I >= P.size()) RegExError(scEndOfPattern);
        const char e = P[I];
        if (e == 'n') {
          append(Literal(13));
          append(Literal(10));
        } else if (e == 'w') {
          append(ClassOf("\t !\"&()*+,-./:;<=>?@[\\]^`{|}~"));
        } else if (e == 'h') {
          append(ClassOf("0123456789ABCDEF"));
        } else {
          append(Literal(EscapedChar(e)));
        }
        break;
      }
      default: append(Literal(static_cast<std::uint8_t>(c))); break;
      }
      ++I;
    }
    if (pendingAlt) RegExError(I >= P.size() ? scEndOfPattern : scTokenError);
    return head;
  }

  TSxNodeHeap& FHeap;
  const std::string& P;
  bool FIgnoreCase;
  std::size_t I = 0;
  bool FInTag = false;
  int FTagCount = 0;
  std::vector<TSxPatternToken*> FMade;
};

// Matches compiled patterns against one text. The result of a pattern from a
// token at a position never changes during one search, so it is kept: this
// bounds the work of nested closures without changing which match is found.
class TPatternMatcher {
public:
  TPatternMatcher(const std::string& text, bool ignoreCase, std::int32_t tokens)
      : T(text), N(static_cast<std::int64_t>(text.size())), FIgnoreCase(ignoreCase) {
    const std::int64_t cells = static_cast<std::int64_t>(tokens) * (N + 1);
    if (cells <= (std::int64_t(1) << 20)) FDense.assign(static_cast<std::size_t>(cells), kUnknown);
  }

  std::int64_t MatchPattern(const TSxPatternToken* t, std::int64_t p) {
    if (!t) return p;
    const std::int64_t key = static_cast<std::int64_t>(t->Index) * (N + 1) + p;
    if (!FDense.empty()) {
      std::int64_t& cell = FDense[static_cast<std::size_t>(key)];
      if (cell == kUnknown) cell = Walk(t, p);
      return cell;
    }
    const auto found = FSparse.find(key);
    if (found != FSparse.end()) return found->second;
    const std::int64_t result = Walk(t, p);
    FSparse.emplace(key, result);
    return result;
  }

private:
  static constexpr std::int64_t kUnknown = -2;

  std::uint8_t CharAt(std::int64_t p) const {
    if (p >= N) return 0;
    const auto c = static_cast<std::uint8_t>(T[static_cast<std::size_t>(p)]);
    return FIgnoreCase ? Upper(c) : c;
  }

  // End of the token's match at p, or -1.
  std::int64_t MatchToken(const TSxPatternToken* t, std::int64_t p) {
    const std::uint8_t c = CharAt(p);
    if (c == 0) return t->Kind == tkTagEnd ? p : -1;
    switch (t->Kind) {
    case tkLiteral: return c == t->Character ? p + 1 : -1;
    case tkClass: return t->ClassText.test(c) ? p + 1 : -1;
    case tkNegatedClass: return (!t->ClassText.test(c) && c != 13 && c != 10) ? p + 1 : -1;
    case tkAnyChar: return (c != 13 && c != 10) ? p + 1 : -1;
    case tkBegOfLine: return p == 0 ? p : -1;
    case tkEndOfLine: return (c == 13 && CharAt(p + 1) == 10) ? p : -1;
    case tkGroup: return MatchPattern(t->Nested, p);
    case tkTagStart:
    case tkTagEnd:
    case tkEnd: return p;
    default: return -1;
    }
  }

  std::int64_t Walk(const TSxPatternToken* t, std::int64_t p) {
    while (t) {
      if (t->Kind == tkClosure) {
        const TSxPatternToken* operand = t->Next;
        std::vector<std::int64_t> ends{p};
        // An operand that matched nothing would repeat for ever.
        for (std::int64_t e; (e = MatchToken(operand, ends.back())) > ends.back();) ends.push_back(e);
        for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
          const std::int64_t r = MatchPattern(operand->Next, *it);
          if (r >= 0) return r;
        }
        return -1;
      }
      if (t->Kind == tkOptional) {
        const TSxPatternToken* operand = t->Next;
        const std::int64_t e = MatchToken(operand, p);
        if (e >= 0) {
          const std::int64_t r = MatchPattern(operand->Next, e);
          if (r >= 0) return r;
        }
        return MatchPattern(operand->Next, p);
      }
      const std::int64_t e = MatchToken(t, p);
      if (e >= 0) {
        p = e;
        while (t->Alternative) {
          t = t->Next;
          if (IsClosureKind(t)) t = t->Next;
        }
        t = t->Next;
      } else if (t->Alternative) {
        t = t->Next;
      } else {
        return -1;
      }
    }
    return p;
  }

  const std::string& T;
  std::int64_t N;
  bool FIgnoreCase;
  std::vector<std::int64_t> FDense;
  std::unordered_map<std::int64_t, std::int64_t> FSparse;
};

std::string TrimControl(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<std::uint8_t>(s[b]) <= 32) ++b;
  while (e > b && static_cast<std::uint8_t>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

} // namespace

// ---------------------------------------------------------------- node heap

TSxPatternToken* TSxNodeHeap::Alloc() {
  if (!FFree.empty()) {
    TSxPatternToken* t = FFree.back();
    FFree.pop_back();
    const std::int32_t index = t->Index;
    *t = TSxPatternToken();
    t->Index = index;
    return t;
  }
  FAll.push_back(std::make_unique<TSxPatternToken>());
  FAll.back()->Index = static_cast<std::int32_t>(FAll.size() - 1);
  return FAll.back().get();
}

void TSxNodeHeap::Free(TSxPatternToken* token) {
  if (token) FFree.push_back(token);
}

void TSxNodeHeap::FreePattern(TSxPatternToken* head) {
  while (head) {
    TSxPatternToken* next = head->Next;
    if (head->Nested && !head->SharesNested) FreePattern(head->Nested);
    Free(head);
    head = next;
  }
}

// ---------------------------------------------------------------- stream engine

TSxStreamRegEx::TSxStreamRegEx() = default;

TSxStreamRegEx::~TSxStreamRegEx() {
  FHeap.FreePattern(FMatch);
  FHeap.FreePattern(FAvoid);
}

TSxPatternToken* TSxStreamRegEx::Compile(const std::vector<std::string>& lines) {
  std::string pattern;
  for (const std::string& line : lines) pattern += TrimControl(line);
  if (static_cast<std::int64_t>(pattern.size()) > Settings.MaxLineLength) RegExError(scPatternTooLong);
  return TPatternCompiler(FHeap, pattern, Settings.IgnoreCase).Compile();
}

void TSxStreamRegEx::SetMatchPattern(const std::vector<std::string>& lines) {
  FHeap.FreePattern(FMatch);
  FMatch = nullptr;
  FMatch = Compile(lines);
}

void TSxStreamRegEx::SetSelAvoidPattern(const std::vector<std::string>& lines) {
  FHeap.FreePattern(FAvoid);
  FAvoid = nullptr;
  FAvoid = Compile(lines);
}

void TSxStreamRegEx::SetReplacePattern(const std::vector<std::string>& lines) { FReplace = lines; }

bool TSxStreamRegEx::Search(TSxPatternToken* pattern, const std::string& text, TMatchPosition& info) {
  const std::string t = text + "\r\n";
  TPatternMatcher matcher(t, Settings.IgnoreCase, FHeap.Capacity());
  const auto n = static_cast<std::int64_t>(t.size());
  for (std::int64_t start = 0; start < n; ++start) {
    const std::int64_t end = matcher.MatchPattern(pattern, start);
    if (end >= 0) {
      info.StartPos = static_cast<std::int32_t>(start + 1);
      info.Length = static_cast<std::int32_t>(end - start);
      info.EndPos = info.StartPos + info.Length - 1;
      return true;
    }
  }
  info = TMatchPosition();
  return false;
}

bool TSxStreamRegEx::CheckString(const std::string& s, TMatchPosition& matchInfo) {
  if (!FMatch && !FAvoid) RegExError(scNoPatterns);
  if (!FMatch) {
    matchInfo = TMatchPosition();
    return false;
  }
  return Search(FMatch, s, matchInfo);
}

bool TSxStreamRegEx::SelectLine(const std::string& line, TMatchPosition& info) {
  if (!FAvoid) return true;
  return Search(FAvoid, line, info) != Settings.Avoid;
}

void TSxStreamRegEx::Execute(platform::TStream* input, platform::TStream* output) {
  if (!input || !output) RegExError(scStreamsUnassigned);
  if (!FMatch && !FAvoid) RegExError(scNoPatterns);
  std::string data;
  char buffer[4096];
  for (std::int64_t got; (got = input->Read(buffer, sizeof buffer)) > 0;) data.append(buffer, static_cast<std::size_t>(got));

  std::vector<std::string> lines;
  if (Settings.InLineTerminator == ltNone) {
    const auto width = static_cast<std::size_t>(std::clamp(Settings.InFixedLineLength, 1, 4096));
    for (std::size_t at = 0; at < data.size(); at += width) lines.push_back(data.substr(at, width));
  } else {
    const char separator = Settings.InLineTerminator == ltCR ? '\r'
                           : Settings.InLineTerminator == ltOther ? Settings.InLineTermChar : '\n';
    std::size_t at = 0;
    while (at < data.size()) {
      std::size_t stop = data.find(separator, at);
      if (stop == std::string::npos) stop = data.size();
      std::string line = data.substr(at, stop - at);
      if (Settings.InLineTerminator == ltCRLF && !line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      at = stop + 1;
    }
  }

  TSxTextStream out(output);
  out.SetLineTerminator(Settings.OutLineTerminator);
  out.SetLineTermChar(Settings.OutLineTermChar);
  out.SetFixedLineLength(Settings.OutFixedLineLength);
  for (std::string& line : lines) {
    if (static_cast<std::int64_t>(line.size()) > Settings.MaxLineLength)
      line.resize(static_cast<std::size_t>(std::max<std::int32_t>(Settings.MaxLineLength, 0)));
    ++LinesRead;
    TMatchPosition info;
    bool written = false;
    if (SelectLine(line, info)) {
      ++LinesSelected;
      if (!FMatch || Search(FMatch, line, info)) {
        ++LinesMatched;
        written = true;
      }
    }
    if ((written || (Settings.OutputOptions & ooUnselected)) && !(Settings.OutputOptions & ooNoOutput)) {
      const std::string text = Settings.LineNumbers ? PadS(Long2Str(static_cast<std::int32_t>(LinesRead)), 6) + "  " + line : line;
      out.WriteLineArray(text.data(), static_cast<std::int64_t>(text.size()));
    }
  }
}

// ---------------------------------------------------------------- string wrapper

TSxRegEx::TSxRegEx() : FEngine(std::make_unique<TSxStreamRegEx>()) {}

TSxRegEx::~TSxRegEx() = default;

void TSxRegEx::SetIgnoreCase(bool value) {
  if (value == FSettings.IgnoreCase) return;
  FSettings.IgnoreCase = value;
  Recompile();
}

void TSxRegEx::Recompile() {
  FEngine->Settings = FSettings;
  FEngine->SetMatchPattern(FMatchPattern);
  FEngine->SetSelAvoidPattern(FSelAvoidPattern);
  FEngine->SetReplacePattern(FReplacePattern);
}

void TSxRegEx::SetMatchPattern(const std::vector<std::string>& lines) {
  FMatchPattern = lines;
  FEngine->Settings = FSettings;
  FEngine->SetMatchPattern(lines);
}

void TSxRegEx::SetSelAvoidPattern(const std::vector<std::string>& lines) {
  FSelAvoidPattern = lines;
  FEngine->Settings = FSettings;
  FEngine->SetSelAvoidPattern(lines);
}

void TSxRegEx::SetReplacePattern(const std::vector<std::string>& lines) {
  FReplacePattern = lines;
  FEngine->SetReplacePattern(lines);
}

bool TSxRegEx::SetMatchPatternFromMasks(const std::string& masks) {
  std::string pattern;
  std::size_t at = 0;
  for (;;) {
    const std::size_t stop = std::min(masks.find(';', at), masks.size());
    if (stop > at) {
      if (!pattern.empty()) pattern += '|';
      pattern += WildcardToRegEx(masks.substr(at, stop - at));
    }
    if (stop >= masks.size()) break;
    at = stop + 1;
  }
  if (pattern.empty()) {
    SetMatchPattern({});
    return false;
  }
  SetMatchPattern({pattern});
  return true;
}

bool TSxRegEx::CheckString(const std::string& s, TMatchPosition& matchInfo) {
  // Literals are stored in the case of the compile, so a change of the
  // settings since then needs a fresh compile.
  if (FEngine->Settings.IgnoreCase != FSettings.IgnoreCase || FEngine->Settings.MaxLineLength != FSettings.MaxLineLength)
    Recompile();
  FEngine->Settings = FSettings;
  return FEngine->CheckString(s, matchInfo);
}

std::string WildcardToRegEx(const std::string& mask) {
  if (mask.empty()) return {};
  // Characters of the pattern language in a file name stand for themselves.
  auto special = [](char c) { return std::string(".\\()[]|+{}^$").find(c) != std::string::npos; };
  std::string result;
  std::size_t i = 0;
  const char first = mask[0];
  if (first != '*' && first != '?') {
    result = "((^[";
    // Inside the class only these would change its meaning.
    if (first == ']' || first == '\\' || first == '^') result += '\\';
    result += first;
    result += "])";
    i = 1;
  } else {
    result = "(";
  }
  for (; i < mask.size(); ++i) {
    const char c = mask[i];
    if (c == '*') result += ".*";
    else if (c == '?') result += i == 0 ? "(^.)" : ".?";
    else if (special(c)) (result += '\\') += c;
    else result += c;
  }
  return result + "\\n)";
}

} // namespace sx
