#include "app/renamedlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace app;

namespace {

class RenameDialog : public ::testing::Test {
protected:
  void TearDown() override { TRenameDlg::ModalAnswer = nullptr; }
  static void Key(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
  static QStringList LabelTexts(const QDialog& d) {
    QStringList texts;
    for (const QLabel* label : d.findChildren<QLabel*>()) texts << label->text();
    return texts;
  }
  TRenameDlg FDlg;
};

} // namespace

TEST_F(RenameDialog, CaptionsAndTexts) {
  EXPECT_EQ(FDlg.windowTitle(), "Rename Image File");
  EXPECT_EQ(FDlg.LblFileType->text(), "[File Type]");
  EXPECT_EQ(FDlg.SBtnOkay->text(), "OK");
  EXPECT_EQ(FDlg.SBtnCancel->text(), "Cancel");
  const QStringList labels = LabelTexts(FDlg);
  EXPECT_TRUE(labels.contains("New File Name:"));
  EXPECT_TRUE(labels.contains("File Type:"));
  EXPECT_EQ(RenameDlg, &FDlg) << "the first dialog created is the program's";
  TRenameDlg second;
  EXPECT_EQ(RenameDlg, &FDlg);
}

TEST_F(RenameDialog, ButtonsAndKeysGiveTheirModalResults) {
  const std::vector<std::pair<std::function<void(TRenameDlg&)>, int>> cases = {
      {[](TRenameDlg& d) { d.SBtnOkay->click(); }, 1},
      {[](TRenameDlg& d) { d.SBtnCancel->click(); }, 2},
      {[](TRenameDlg& d) { Key(d.EdtNewFileName, Qt::Key_Return); }, 1},
      {[](TRenameDlg& d) { Key(d.EdtNewFileName, Qt::Key_Enter); }, 1},
      {[](TRenameDlg& d) { Key(d.EdtNewFileName, Qt::Key_Escape); }, 2},
      // Enter is OK even on the Cancel button.
      {[](TRenameDlg& d) { Key(d.SBtnCancel, Qt::Key_Return); }, 1},
      {[](TRenameDlg& d) { d.reject(); }, 2},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    TRenameDlg::ModalAnswer = cases[i].first;
    EXPECT_EQ(FDlg.ShowModal(), cases[i].second) << "case " << i;
    EXPECT_FALSE(FDlg.isVisible()) << "case " << i;
  }
  TRenameDlg::ModalAnswer = [](TRenameDlg&) {};
  EXPECT_EQ(FDlg.ShowModal(), 0) << "left unanswered, the dialog closes with no result";
}

TEST_F(RenameDialog, AnyNameIsHandedBackForTheCallerToCheck) {
  for (const QString& name : {QString(), QStringLiteral("a/b:c*?"), QStringLiteral("  "), QStringLiteral("Ünïcødé")}) {
    FDlg.EdtNewFileName->setText("old");
    TRenameDlg::ModalAnswer = [name](TRenameDlg& d) {
      d.EdtNewFileName->setText(name);
      Key(d.EdtNewFileName, Qt::Key_Return);
    };
    EXPECT_EQ(FDlg.ShowModal(), 1) << name.toStdString();
    EXPECT_EQ(FDlg.EdtNewFileName->text(), name);
  }
}

TEST_F(RenameDialog, ShowSelectsTheWholeNameEveryTime) {
  FDlg.EdtNewFileName->setText("holiday 01");
  FDlg.LblFileType->setText("JPEG Bitmap (JPG) YCbCr");
  QString selected, fileType;
  TRenameDlg::ModalAnswer = [&](TRenameDlg& d) {
    selected = d.EdtNewFileName->selectedText();
    fileType = d.LblFileType->text();
    d.EdtNewFileName->deselect();
    d.EdtNewFileName->setText("holiday:02");
    d.SBtnOkay->click();
  };
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_EQ(selected, "holiday 01");
  EXPECT_EQ(fileType, "JPEG Bitmap (JPG) YCbCr");
  // The caller refused the name and shows the dialog again for retyping.
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_EQ(selected, "holiday:02");
}
