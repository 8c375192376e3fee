#include "app/modalrun.h"

#include <QDialog>
#include <QPushButton>

namespace app {


void MakeOkCancelButtons(QDialog& Dialog, int Top, QPushButton*& Okay, QPushButton*& Cancel) {
  Okay = new QPushButton(QStringLiteral("OK"), &Dialog);
  Okay->setGeometry(132, Top, 88, 25);
  Cancel = new QPushButton(QStringLiteral("Cancel"), &Dialog);
  Cancel->setGeometry(224, Top, 88, 25);
  // Enter and Escape belong to the dialog, whichever control has the focus.
  Okay->setAutoDefault(false);
  Cancel->setAutoDefault(false);
  QObject::connect(Okay, &QPushButton::clicked, &Dialog, [&Dialog] { Dialog.done(1); });
  QObject::connect(Cancel, &QPushButton::clicked, &Dialog, [&Dialog] { Dialog.done(2); });
}

bool DialogKey(QDialog& Dialog, int Key) {
  if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
    Dialog.done(1);
    return true;
  }
  if (Key == Qt::Key_Escape) {
    Dialog.done(2);
    return true;
  }
  return false;
}

} // namespace app
