// The file manager's properties window for files, asked over the session
// bus as file managers offer it.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QObject;

namespace platform {

// False when no file manager answered within 5 s (no session bus, none
// running) or a path does not exist.
bool ShowFileProperties(const std::vector<std::string>& Paths);

// The same request without waiting for the file manager: returns at once;
// Done gets the answer from the event loop (false also when a path does not
// exist or there is no session bus), unless Context is gone by then.
void ShowFilePropertiesAsync(const std::vector<std::string>& Paths, QObject* Context,
                             std::function<void(bool Shown)> Done);

} // namespace platform
