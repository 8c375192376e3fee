// Asks for a picture file's new name (without extension); the caller checks
// the name and renames the file.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

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

// Why a name entered in the dialog is refused before the file is touched;
// empty when it may be tried. A name of dots only would give a hidden file
// ("..." + the extension) or no file of its own at all; any other name that
// starts with a dot a hidden file.
QString RenameNameRefusal(const QString& Entered);
// What a rename to NewName that failed with Error (an errno value) tells
// the user: a taken name in its own words, any other failure with its
// reason on a second line.
QString RenameFailureText(const std::string& NewName, int Error);

} // namespace app
