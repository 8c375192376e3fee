// Asks for a picture file's new name (without extension); the caller checks
// the name and renames the file.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class TRenameDlg : public QDialog {
public:
  explicit TRenameDlg(QWidget* parent = nullptr);
  ~TRenameDlg() override;

  QLineEdit* EdtNewFileName;
  QLabel* LblFileType;
  QPushButton* SBtnOkay;
  QPushButton* SBtnCancel;

  // Shows the dialog modally; answers 1 (OK) or 2 (Cancel).
  int ShowModal();

  // When set, ShowModal shows the dialog without a modal loop and lets this
  // answer it (click a button, press a key) instead of a user.
  static std::function<void(TRenameDlg&)> ModalAnswer;

  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void FormShow();
};

// The one rename dialog of the program (set by the first one created).
extern TRenameDlg* RenameDlg;

} // namespace app
