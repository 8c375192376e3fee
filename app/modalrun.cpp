#include "app/modalrun.h"

#include "platform/application.h"

#include <QDialog>
#include <QPushButton>
#include <QWindow>

namespace app {

void PlaceOverOwner(QDialog& Dialog) {
  if (Dialog.parentWidget()) return;
  QWidget* owner = platform::DialogOwner();
  if (!owner || owner == &Dialog || !owner->windowHandle()) return;
  Dialog.winId(); // its window exists from here on
  if (QWindow* window = Dialog.windowHandle()) window->setTransientParent(owner->windowHandle());
}

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
