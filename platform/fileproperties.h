// The file manager's properties window for files, asked over the session
// bus as file managers offer it.
#pragma once

#include <string>
#include <vector>

namespace platform {

// False when no file manager answered (no session bus, none running) or a
// path does not exist.
bool ShowFileProperties(const std::vector<std::string>& Paths);

} // namespace platform
