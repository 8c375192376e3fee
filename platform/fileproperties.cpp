#include "platform/fileproperties.h"

#include <QtCore/QFileInfo>
#include <QtCore/QStringList>
#include <QtCore/QUrl>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

namespace platform {

bool ShowFileProperties(const std::vector<std::string>& Paths) {
  QStringList Urls;
  for (const std::string& P : Paths) {
    const QFileInfo Info(QString::fromStdString(P));
    if (P.empty() || !Info.exists()) return false;
    Urls << QUrl::fromLocalFile(Info.absoluteFilePath()).toString();
  }
  if (Urls.isEmpty()) return false;
  QDBusConnection Bus = QDBusConnection::sessionBus();
  if (!Bus.isConnected()) return false;
  QDBusMessage Call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  Call << Urls << QString();
  return Bus.call(Call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

} // namespace platform
