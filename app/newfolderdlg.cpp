#include "app/newfolderdlg.h"
#include "app/modalrun.h"

#include "app/genutil.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace app {

TNewFolderDlg* NewFolderDlg = nullptr;
std::function<void(TNewFolderDlg&)> TNewFolderDlg::ModalAnswer;

TNewFolderDlg::TNewFolderDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Create Folder"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  auto* folderCaption = new QLabel(QStringLiteral("Current Folder:"), this);
  folderCaption->setGeometry(12, 12, 300, 16);
  LblCurFolder = new QLabel(QStringLiteral("C:\\"), this);
  LblCurFolder->setGeometry(12, 30, 300, 16);

  auto* nameCaption = new QLabel(QStringLiteral("New Sub Folder Name:"), this);
  nameCaption->setGeometry(12, 56, 300, 16);
  EdtNewFolderName = new QLineEdit(this);
  EdtNewFolderName->setGeometry(12, 74, 300, 22);
  nameCaption->setBuddy(EdtNewFolderName);

  MakeOkCancelButtons(*this, 108, SBtnOkay, SBtnCancel);

  setFixedSize(324, 145);
  AdjustControlsForDpi(this);
  if (NewFolderDlg == nullptr) NewFolderDlg = this;
}

TNewFolderDlg::~TNewFolderDlg() {
  if (NewFolderDlg == this) NewFolderDlg = nullptr;
}

int TNewFolderDlg::ShowModal() {
  return RunModal(*this, ModalAnswer);
}

void TNewFolderDlg::FormActivate() { EdtNewFolderName->setFocus(); }

void TNewFolderDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The window system may activate the dialog later (or, offscreen, never):
  // the name box is to have the focus from the start either way.
  FormActivate();
}

void TNewFolderDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TNewFolderDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    done(1);
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    done(2);
    return;
  }
  QDialog::keyPressEvent(event);
}

void TNewFolderDlg::reject() { done(2); }

} // namespace app
