#include "app/msgbox.h"

#include "app/modalrun.h"
#include "platform/application.h"

#include <QApplication>

namespace app {

std::function<void(QMessageBox&)> MessageDlgAnswer;

int MessageDlg(const QString& Caption, const QString& Text, QMessageBox::Icon Icon,
               QMessageBox::StandardButtons Buttons, QMessageBox::StandardButton Default) {
  QMessageBox box(Icon, Caption, Text, Buttons, platform::DialogOwner());
  if (Default != QMessageBox::NoButton) box.setDefaultButton(Default);
  return RunModal(box, MessageDlgAnswer);
}

} // namespace app
