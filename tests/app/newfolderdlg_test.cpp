#include "app/newfolderdlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace app;

namespace {

class NewFolderDialog : public ::testing::Test {
protected:
  void TearDown() override { TNewFolderDlg::ModalAnswer = nullptr; }
  static void Key(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
  TNewFolderDlg FDlg;
};

} // namespace

TEST_F(NewFolderDialog, CaptionsAndTexts) {
  EXPECT_EQ(FDlg.windowTitle(), "Create Folder");
  EXPECT_EQ(FDlg.LblCurFolder->text(), "C:\\");
  EXPECT_EQ(FDlg.SBtnOkay->text(), "OK");
  EXPECT_EQ(FDlg.SBtnCancel->text(), "Cancel");
  QStringList labels;
  for (const QLabel* label : FDlg.findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains("Current Folder:"));
  EXPECT_TRUE(labels.contains("New Sub Folder Name:"));
  EXPECT_EQ(NewFolderDlg, &FDlg);
}

TEST_F(NewFolderDialog, ButtonsAndKeysGiveTheirModalResults) {
  const std::vector<std::pair<std::function<void(TNewFolderDlg&)>, int>> cases = {
      {[](TNewFolderDlg& d) { d.SBtnOkay->click(); }, 1},
      {[](TNewFolderDlg& d) { d.SBtnCancel->click(); }, 2},
      {[](TNewFolderDlg& d) { Key(d.EdtNewFolderName, Qt::Key_Return); }, 1},
      {[](TNewFolderDlg& d) { Key(d.EdtNewFolderName, Qt::Key_Escape); }, 2},
      {[](TNewFolderDlg& d) { Key(d.SBtnOkay, Qt::Key_Escape); }, 2},
      {[](TNewFolderDlg& d) { Key(d.SBtnCancel, Qt::Key_Enter); }, 1},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    TNewFolderDlg::ModalAnswer = cases[i].first;
    EXPECT_EQ(FDlg.ShowModal(), cases[i].second) << "case " << i;
    EXPECT_FALSE(FDlg.isVisible()) << "case " << i;
  }
}

TEST_F(NewFolderDialog, NameBoxHasTheFocusAndEmptyNamesStillAnswerOk) {
  FDlg.LblCurFolder->setText("/home/user/Pictures");
  FDlg.EdtNewFolderName->clear();
  bool focused = false;
  QString folder;
  TNewFolderDlg::ModalAnswer = [&](TNewFolderDlg& d) {
    focused = d.focusWidget() == d.EdtNewFolderName;
    folder = d.LblCurFolder->text();
    Key(d.EdtNewFolderName, Qt::Key_Return);
  };
  // The caller, not the dialog, turns an empty name into its error message.
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_TRUE(focused);
  EXPECT_EQ(folder, "/home/user/Pictures");
  EXPECT_TRUE(FDlg.EdtNewFolderName->text().isEmpty());

  TNewFolderDlg::ModalAnswer = [](TNewFolderDlg& d) {
    d.EdtNewFolderName->setText("2024/summer");
    d.SBtnOkay->click();
  };
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_EQ(FDlg.EdtNewFolderName->text(), "2024/summer");
}
