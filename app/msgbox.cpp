#include "app/msgbox.h"

#include "app/modalrun.h"
#include "platform/application.h"

#include <QApplication>

namespace app {

std::function<void(QMessageBox&)> MessageDlgAnswer;

int MessageDlg(const QString& Caption, const QString& Text, QMessageBox::Icon Icon,
               QMessageBox::StandardButtons Buttons) {
  QMessageBox box(Icon, Caption, Text, Buttons, platform::DialogOwner());
  return RunModal(box, MessageDlgAnswer);
}

} // namespace app
