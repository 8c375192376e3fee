// Web pages and files handed to the program the desktop chooses for them.
#pragma once

#include <functional>

class QObject;
class QUrl;

namespace platform {

// Hands Url to the desktop's opener (xdg-open) and returns at once; Done gets
// the answer from the event loop: false when no opener could be started or
// the opener could not open Url (no program for it, or the program failed),
// true once the opener has handed it over; nothing when Context is gone by
// then. Without xdg-open, Qt's own choice of browser is asked.
void OpenUrlAsync(const QUrl& Url, QObject* Context, std::function<void(bool Opened)> Done);

} // namespace platform
