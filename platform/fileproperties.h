// The file manager's properties window for files, asked over the session
// bus as file managers offer it.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QDBusConnection;
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

// When set, the bus the requests go on in place of the session bus (a test
// seam: the process keeps its one session-bus connection for good, also
// once that bus is gone, so each test's own bus needs a connection of its
// own).
extern std::function<QDBusConnection()> FilePropertiesBus;

} // namespace platform
