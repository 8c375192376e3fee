// Web pages and files handed to the program the desktop chooses for them.
#pragma once

#include <QtCore/QByteArray>
#include <chrono>
#include <functional>
#include <string>

class QObject;
class QUrl;

namespace platform {

// Hands Url to the desktop's opener (xdg-open) and returns at once; Done gets
// the answer from the event loop: false when no opener could be started or
// the opener said, by its end within the answer time, that it could not open
// Url (no program for it, or the program failed at once); true when it
// handed Url over, or is still at work after the answer time (it then runs
// the program itself, and its end tells only how that program ended);
// nothing when Context is gone by then. The opener runs in a session of its
// own, outlives Context and the program, and is collected when it ends.
// Without xdg-open, Qt's own choice of browser is asked.
void OpenUrlAsync(const QUrl& Url, QObject* Context, std::function<void(bool Opened)> Done);

// The answer time: 5 seconds unless set otherwise.
void SetOpenerAnswerTime(std::chrono::milliseconds Time);

// Openers started and not yet collected.
int RunningOpeners();

// The file URI of a path: its bytes percent-encoded as they are, since a
// name need not be UTF-8 (a URL made from its text would name another file).
QByteArray FileUri(const std::string& Path);

} // namespace platform
