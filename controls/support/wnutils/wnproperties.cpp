#include "controls/support/wnutils/wnproperties.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>

namespace wn {

bool TWnObjectPropertiesDialog::Execute() {
  if (ObjectType != sdPathObject || ObjectName.empty()) return false;
  QFileInfo info(QString::fromStdString(ObjectName));
  if (!info.exists()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace wn
