#include "controls/support/wnutils/wnproperties.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace wn {

namespace {

// How long a file manager may take to answer before the request counts as
// refused.
constexpr int ReplyTimeoutMs = 5000;

} // namespace

bool TWnObjectPropertiesDialog::MakeCall(QDBusMessage& Call) const {
  if (ObjectType != sdPathObject || ObjectName.empty()) return false;
  QFileInfo info(QString::fromStdString(ObjectName));
  if (!info.exists()) return false;
  Call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  Call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
  return true;
}

bool TWnObjectPropertiesDialog::Execute() {
  QDBusMessage call;
  if (!MakeCall(call)) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage reply = bus.call(call, QDBus::Block, ReplyTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

void TWnObjectPropertiesDialog::ExecuteAsync(QObject* Context, std::function<void(bool)> Done) {
  QDBusMessage call;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!MakeCall(call) || !bus.isConnected()) {
    // Answered from the event loop as a reply would be, so that callers
    // see one order of events.
    QTimer::singleShot(0, Context, [Done = std::move(Done)] { Done(false); });
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, ReplyTimeoutMs), Context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, Context,
                   [Done = std::move(Done)](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     Done(!w->isError());
                   });
}

} // namespace wn
