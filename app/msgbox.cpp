#include "app/msgbox.h"

#include "app/modalrun.h"

#include <QApplication>

namespace app {

std::function<void(QMessageBox&)> MessageDlgAnswer;

int MessageDlg(const QString& Caption, const QString& Text, QMessageBox::Icon Icon,
               QMessageBox::StandardButtons Buttons) {
  QMessageBox box(Icon, Caption, Text, Buttons, QApplication::activeWindow());
  return RunModal(box, MessageDlgAnswer);
}

} // namespace app
