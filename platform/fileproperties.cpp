#include "platform/fileproperties.h"
#include "platform/openurl.h"
#include "platform/shfileop.h"

#include <QtCore/QStringList>
#include <QtCore/QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>

#include <filesystem>

namespace platform {

namespace {

// How long a file manager may take to answer before the request counts as
// refused.
constexpr int ReplyTimeoutMs = 5000;

// The request for Paths; false when there is nothing to ask.
bool PropertiesCall(const std::vector<std::string>& Paths, QDBusMessage& Call) {
  QStringList Urls;
  for (const std::string& P : Paths) {
    std::error_code Error;
    if (P.empty() || !std::filesystem::exists(P, Error)) return false;
    // By the path's bytes: its text would name another file, or none.
    Urls << QString::fromLatin1(FileUri(AbsoluteFilePath(P)));
  }
  if (Urls.isEmpty()) return false;
  Call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  Call << Urls << QString();
  return true;
}

QDBusConnection PropertiesBus() { return FilePropertiesBus ? FilePropertiesBus() : QDBusConnection::sessionBus(); }

} // namespace

std::function<QDBusConnection()> FilePropertiesBus;

bool ShowFileProperties(const std::vector<std::string>& Paths) {
  QDBusMessage Call;
  if (!PropertiesCall(Paths, Call)) return false;
  QDBusConnection Bus = PropertiesBus();
  if (!Bus.isConnected()) return false;
  return Bus.call(Call, QDBus::Block, ReplyTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

void ShowFilePropertiesAsync(const std::vector<std::string>& Paths, QObject* Context,
                             std::function<void(bool Shown)> Done) {
  QDBusMessage Call;
  QDBusConnection Bus = PropertiesBus();
  if (!PropertiesCall(Paths, Call) || !Bus.isConnected()) {
    // Answered from the event loop as a reply would be, so that callers
    // see one order of events.
    QTimer::singleShot(0, Context, [Done = std::move(Done)] { Done(false); });
    return;
  }
  auto* Watcher = new QDBusPendingCallWatcher(Bus.asyncCall(Call, ReplyTimeoutMs), Context);
  QObject::connect(Watcher, &QDBusPendingCallWatcher::finished, Context,
                   [Done = std::move(Done)](QDBusPendingCallWatcher* W) {
                     W->deleteLater();
                     Done(!W->isError());
                   });
}

} // namespace platform
