// Running the application's dialogs modally, with a seam for tests.
#pragma once

#include "platform/cursors.h"

#include <functional>

class QDialog;
class QPushButton;

namespace app {

// A dialog without a parent window stands over the window the user is
// answering: the topmost modal window, else the active one.
void PlaceOverOwner(QDialog& Dialog);

// Shows Dialog modally, over its owner, and answers its result. When a test
// has set an answering hook, the dialog is shown without a modal loop and the
// hook answers it; a dialog the hook leaves open closes with result 0.
template <class TDialog>
int RunModal(TDialog& Dialog, const std::function<void(TDialog&)>& Answer) {
  const platform::TQuestionCursor Arrow;
  PlaceOverOwner(Dialog);
  if (!Answer) return Dialog.exec();
  Dialog.setResult(0);
  Dialog.show();
  Answer(Dialog);
  if (Dialog.isVisible()) Dialog.done(0);
  return Dialog.result();
}

// The "OK" (result 1) and "Cancel" (result 2) pair of the small dialogs at
// Top, in their usual place; Enter and Escape stay the dialog's own.
void MakeOkCancelButtons(QDialog& Dialog, int Top, QPushButton*& Okay, QPushButton*& Cancel);

// The dialogs' keys: Enter ends Dialog with 1, Escape with 2. Answers
// whether Key was one of them.
bool DialogKey(QDialog& Dialog, int Key);

} // namespace app
