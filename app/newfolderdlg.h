// Asks for the name of a new sub-folder of the current folder; the caller
// checks the name and creates the folder.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class TNewFolderDlg : public QDialog {
public:
  explicit TNewFolderDlg(QWidget* parent = nullptr);
  ~TNewFolderDlg() override;

  QLabel* LblCurFolder;
  QLineEdit* EdtNewFolderName;
  QPushButton* SBtnOkay;
  QPushButton* SBtnCancel;

  // Shows the dialog modally; answers 1 (OK) or 2 (Cancel).
  int ShowModal();

  // When set, ShowModal shows the dialog without a modal loop and lets this
  // answer it (click a button, press a key) instead of a user.
  static std::function<void(TNewFolderDlg&)> ModalAnswer;

  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void FormActivate();
};

// The one new-folder dialog of the program (set by the first one created).
extern TNewFolderDlg* NewFolderDlg;

} // namespace app
