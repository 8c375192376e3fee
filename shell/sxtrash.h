// The trash's record of where a file came from and when it was deleted: the
// ".trashinfo" file beside the trashed file's "files" folder.
#pragma once

#include <optional>
#include <string>

namespace sx {

struct TSxTrashInfo {
  std::string OriginalPath;  // decoded; relative paths are kept as written
  std::string DeletionDate;  // "YYYY-MM-DDThh:mm:ss", local time
};

// Reads the text of a ".trashinfo" file: the "[Trash Info]" group's "Path"
// (percent-encoded) and "DeletionDate"; none without a path in that group.
std::optional<TSxTrashInfo> SxParseTrashInfo(const std::string& text);

// The record of a file inside a trash's "files" folder; none when it has
// none or it cannot be read. Files beyond 64 KB are not records.
std::optional<TSxTrashInfo> SxReadTrashInfo(const std::string& trashedPath);

} // namespace sx
