// ".trashinfo" records as other programs write them: whatever the reader
// accepts must read back the same once the program's own trash writes it.
#include "platform/trash.h"
#include "shell/sxtrash.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto info = sx::SxParseTrashInfo(text);
  if (!info) return 0;
  if (info->OriginalPath.empty() || info->OriginalPath.find('\0') != std::string::npos) std::abort();
  const std::string again = platform::TrashInfoText(info->OriginalPath, info->DeletionDate);
  const auto reread = sx::SxParseTrashInfo(again);
  if (!reread || reread->OriginalPath != info->OriginalPath || reread->DeletionDate != info->DeletionDate)
    std::abort();
  return 0;
}
