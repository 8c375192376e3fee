// The desktop's trash as file managers share it: each trashed file in the
// trash's "files" folder, with a ".trashinfo" record of the same name in its
// "info" folder saying where it came from and when it went.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The record's text: Path with every byte but letters, digits, "-._~" and
// "/" percent-encoded, so that any name (a "%", a line break) reads back as
// it was; DeletionDate as "YYYY-MM-DDThh:mm:ss", local time.
std::string TrashInfoText(const std::string& OriginalPath, const std::string& DeletionDate);

// Moves the file or folder at Path into the trash of its own device: the
// user's home trash, else the top folder's ".Trash/<uid>" or ".Trash-<uid>".
// The record is made first, under a name no one else holds, and the file
// follows by a rename that replaces nothing (the file operations' own). A
// name that, numbered and with the record's ".trashinfo", would pass the
// longest name the trash holds is shortened there, its extension kept; the
// record keeps the whole path.
// Answers 0, or the error that stopped it (the file is then where it was,
// with no record of it left).
int MoveToTrash(const std::string& Path);

// The name the trash gives the N-th try (from 1) for a file of Name, its
// record ".trashinfo" more, when no name may pass Longest bytes.
std::string TrashedName(const std::string& Name, int N, std::size_t Longest);

} // namespace platform
