#include "app/renamedlg.h"
#include "app/modalrun.h"

#include "app/genutil.h"
#include "shell/sxnamespace.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace app {

TRenameDlg* RenameDlg = nullptr;
std::function<void(TRenameDlg&)> TRenameDlg::ModalAnswer;

TRenameDlg::TRenameDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Rename Image File"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  auto* nameCaption = new QLabel(QStringLiteral("New File Name:"), this);
  nameCaption->setGeometry(12, 12, 300, 16);
  EdtNewFileName = new QLineEdit(this);
  EdtNewFileName->setGeometry(12, 30, 300, 22);
  nameCaption->setBuddy(EdtNewFileName);

  auto* typeCaption = new QLabel(QStringLiteral("File Type:"), this);
  typeCaption->setGeometry(12, 62, 70, 16);
  LblFileType = new QLabel(QStringLiteral("[File Type]"), this);
  LblFileType->setGeometry(84, 62, 228, 16);

  MakeOkCancelButtons(*this, 92, SBtnOkay, SBtnCancel);

  setFixedSize(324, 129);
  AdjustControlsForDpi(this);
  if (RenameDlg == nullptr) RenameDlg = this;
}

TRenameDlg::~TRenameDlg() {
  if (RenameDlg == this) RenameDlg = nullptr;
}

int TRenameDlg::ShowModal() {
  return RunModal(*this, ModalAnswer);
}

void TRenameDlg::FormShow() {
  EdtNewFileName->setFocus();
  EdtNewFileName->selectAll();
}

void TRenameDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TRenameDlg::keyPressEvent(QKeyEvent* event) {
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

void TRenameDlg::reject() { done(2); }

QString RenameNameRefusal(const QString& Entered) {
  if (!Entered.isEmpty() && std::all_of(Entered.begin(), Entered.end(), [](QChar C) { return C == QLatin1Char('.'); }))
    return QStringLiteral("A file name cannot be made of dots only. Please choose a different name.");
  // The folder views and file managers leave such a file out: it would seem
  // gone. (A name with a "/" is refused for that.)
  if (Entered.startsWith(QLatin1Char('.')) && !Entered.contains(QLatin1Char('/')))
    return QStringLiteral("A file name cannot start with a dot: the file would be hidden. Please choose a different name.");
  return QString();
}

QString RenameFailureText(const std::string& NewName, int Error) {
  if (Error == EEXIST) return QStringLiteral("A file by this name already exists. Please choose a different name.");
  // A name that is no entry of its folder was never tried: its fault is
  // the reason, not the code it stands for.
  const std::string Fault = sx::SxItemNameFault(NewName);
  const QString Reason = QString::fromStdString(Fault.empty() ? std::strerror(Error) : Fault);
  return QStringLiteral("Unable to rename file.\n") + Reason;
}

} // namespace app
