#include "platform/openurl.h"

#include "platform/application.h"

#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>

#include <memory>

namespace platform {

void OpenUrlAsync(const QUrl& Url, QObject* Context, std::function<void(bool Opened)> Done) {
  const QString Opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (Opener.isEmpty()) {
    const bool Opened = QDesktopServices::openUrl(Url);
    // Answered from the event loop as the opener's end would be, so that
    // callers see one order of events.
    QTimer::singleShot(0, Context, [Done = std::move(Done), Opened] { Done(Opened); });
    return;
  }
  // Qt starts the opener detached and takes its start for success: its exit
  // code, which says whether anything could open Url, is only heard from a
  // process of our own. It goes with Context.
  auto* Process = new QProcess(Context);
  Process->setProcessChannelMode(QProcess::ForwardedChannels);
  UnblockTerminationSignalsInChild(*Process);
  auto Finish = std::make_shared<std::function<void(bool)>>([Process, Done = std::move(Done)](bool Opened) {
    Process->disconnect();
    Process->deleteLater();
    Done(Opened);
  });
  QObject::connect(Process, &QProcess::finished, Context, [Process, Finish](int Code, QProcess::ExitStatus Status) {
    (*Finish)(Status == QProcess::NormalExit && Code == 0);
  });
  QObject::connect(Process, &QProcess::errorOccurred, Context, [Finish](QProcess::ProcessError Error) {
    if (Error == QProcess::FailedToStart) (*Finish)(false);
  });
  Process->start(Opener, {Url.toString(QUrl::FullyEncoded)});
}

} // namespace platform
