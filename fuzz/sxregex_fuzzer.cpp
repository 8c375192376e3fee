// Patterns and file masks come from the user's filter setting: any pattern
// must either compile or raise the regular-expression error, and any match
// must lie inside the text. Input: a flag byte, the pattern, a zero byte,
// the text.
#include "platform/stream.h"
#include "shell/sxbase.h"
#include "shell/sxregex.h"

#include <algorithm>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = rest.find('\0');
  // Short enough that the worst backtracking stays well inside the time limit.
  const std::string pattern = rest.substr(0, std::min<std::size_t>(split, 256));
  const std::string text =
      split == std::string::npos ? std::string() : rest.substr(split + 1, 128);

  sx::TSxRegEx regex;
  regex.SetIgnoreCase(flags & 1);
  try {
    if (flags & 2) {
      if (!regex.SetMatchPatternFromMasks(pattern)) return 0;
    } else {
      regex.SetMatchPattern({pattern});
    }
    sx::TMatchPosition info;
    if (regex.CheckString(text, info)) {
      const std::int64_t limit = static_cast<std::int64_t>(text.size()) + 2;
      if (info.StartPos < 1 || info.Length < 0 || info.StartPos - 1 + info.Length > limit ||
          info.EndPos != info.StartPos + info.Length - 1)
        std::abort();
    }
    if (flags & 4) {
      sx::TSxStreamRegEx engine;
      engine.Settings.IgnoreCase = flags & 1;
      engine.Settings.LineNumbers = flags & 8;
      engine.SetSelAvoidPattern({pattern});
      platform::TBytesStream input(text.data(), static_cast<std::int64_t>(text.size()));
      platform::TMemoryStream output;
      engine.Execute(&input, &output);
      if (engine.LinesSelected > engine.LinesRead) std::abort();
    }
  } catch (const sx::ESyRegExError& e) {
    if (e.ErrorCode < 290 || e.ErrorCode > 302) std::abort();
  }
  return 0;
}
