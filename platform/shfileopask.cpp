#include "platform/shfileopask.h"

#include <QMessageBox>
#include <QObject>

namespace platform {

TFileOpAnswer AskFileOpConfirm(QWidget* Owner, const std::string& Title, TFileOpConfirm Kind,
                               const std::string& Source, const std::string& Target, bool ToTrash) {
  QString Text;
  switch (Kind) {
    case TFileOpConfirm::Replace:
      Text = QObject::tr("\"%1\" already exists.\nReplace it with \"%2\"?")
                 .arg(QString::fromStdString(Target), QString::fromStdString(Source));
      break;
    case TFileOpConfirm::Delete:
      Text = ToTrash ? QObject::tr("Move \"%1\" to the trash?").arg(QString::fromStdString(Source))
                     : QObject::tr("Delete \"%1\" for good?").arg(QString::fromStdString(Source));
      break;
    case TFileOpConfirm::MakeFolder:
      Text = QObject::tr("The folder \"%1\" does not exist. Create it?").arg(QString::fromStdString(Source));
      break;
  }
  const auto Answer = QMessageBox::question(
      Owner, QString::fromStdString(Title), Text,
      QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll | QMessageBox::Cancel,
      QMessageBox::No);
  switch (Answer) {
    case QMessageBox::Yes: return TFileOpAnswer::Yes;
    case QMessageBox::YesToAll: return TFileOpAnswer::YesToAll;
    case QMessageBox::No: return TFileOpAnswer::No;
    case QMessageBox::NoToAll: return TFileOpAnswer::NoToAll;
    default: return TFileOpAnswer::Cancel;
  }
}

} // namespace platform
