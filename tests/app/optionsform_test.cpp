#include "app/optionsform.h"

#include "app/filetypes.h"
#include "app/helpdlg.h"
#include "app/settings.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qoslider/qoslider.h"
#include "controls/support/wnmrulist/wnmrulist.h"
#include "controls/support/wnspinedit/wnspinedit.h"
#include "support/tempfolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTabWidget>
#include <QWidget>
#include <QtTest/QTest>

#include "app/msgbox.h"

#include <QAbstractButton>

#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

using namespace app;

namespace {

const std::string RecentKey = "Software\\Halvenworth\\Pictrova 3\\RecentFolders\\";

class Preferences : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "PATH"}) {
      const char* old = std::getenv(name);
      FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      QDir().mkpath(FTemp.QPath() + "/" + name);
      setenv(name, FTemp.File(name).c_str(), 1);
    }
    platform::SetKeyStoreFolder(FTemp.File("keys"));
    SetFileTypeProgramPaths("/opt/pictrova", "/opt/pictrova");
    Recent.SetSubKey(RecentKey);
    Recent.SetMaxItems(20);
    Recent.Open();
    Main.SlideShowInterval = 210000;
    Main.StopAtStart = false;
    Main.AnimateGif = true;
    Main.MagnifyViewWidth = 90;
    Main.MagnifyViewHeight = 80;
    Main.MagnifyViewLevel = 3;
    Form.OnGetPreferences = [this] { return Main; };
    Form.OnApplyPreferences = [this](const TMainSettings& s) {
      Main = s;
      ++Applied;
    };
    Form.RecentFolders = &Recent;
    Form.OnRecentFoldersChanged = [this] { ++Rebuilt; };
    Form.PictureViewClientSize = [this] { return View; };
    MessageDlgAnswer = [this](QMessageBox& box) {
      Messages.push_back(box.text().toStdString());
      box.button(QMessageBox::Ok)->click();
    };
  }
  void TearDown() override {
    MessageDlgAnswer = nullptr;
    TOptionsForm::ModalAnswer = nullptr;
    THelpDlg::ModalAnswer = nullptr;
    Recent.Close();
    SetFileTypeProgramPaths("", "");
    platform::SetKeyStoreFolder("");
    for (const auto& [name, value] : FSaved) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  // Shows the dialog and lets Act answer it.
  int Show(std::function<void(TOptionsForm&)> Act, QWidget* page = nullptr) {
    TOptionsForm::ModalAnswer = std::move(Act);
    return Form.ShowModal(page);
  }
  std::vector<std::string> RecentItems() {
    std::vector<std::string> items;
    for (int i = 0; i < Recent.GetItemsCount(); ++i)
      if (Recent.ReadItem(i, false)) items.push_back(Recent.ItemText());
    return items;
  }

  testing_support::TTempFolder FTemp;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
  wn::TWnMruList Recent;
  TMainSettings Main;
  QSize View{300, 200};
  int Applied = 0, Rebuilt = 0;
  std::vector<std::string> Messages;
  TOptionsForm Form;
};

} // namespace

TEST_F(Preferences, ShowsThePresentState) {
  WriteSetting("ShowSlideShowPrompt", "False");
  {
    platform::TRegistry reg;
    reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    RegisterFileType(reg, ".gif");
  }
  ASSERT_TRUE(SetAsDefaultHandler(".gif"));
  Show(
      [](TOptionsForm& f) {
        EXPECT_EQ(f.windowTitle(), "Preferences");
        EXPECT_EQ(f.OptionsPageControl->currentWidget(), f.MagnifyToolTab);
        EXPECT_EQ(f.CmbMinutes->currentText(), "3");
        EXPECT_EQ(f.CmbSeconds->currentText(), "30");
        EXPECT_FALSE(f.CBStopAtStart->isChecked());
        EXPECT_TRUE(f.CBGifAnimation->isChecked());
        EXPECT_TRUE(f.CBAutoSave->isChecked());
        EXPECT_FALSE(f.CBAutoFit->isChecked());
        EXPECT_TRUE(f.CBCloseFolder->isChecked());
        EXPECT_FALSE(f.CBSlideShowExit->isChecked());
        EXPECT_EQ(f.SEMRUSize->text(), "20");
        EXPECT_EQ(f.EdtMagnifyWidth->text(), "90");
        EXPECT_EQ(f.EdtMagnifyWidth->PopupMax(), 150);
        EXPECT_EQ(f.EdtMagnifyHeight->PopupMax(), 100);
        EXPECT_EQ(f.EditMagnifyFactor->text(), "3");
        ASSERT_EQ(f.CBLFileTypes->count(), 32);
        EXPECT_EQ(f.CBLFileTypes->item(1)->text(), "(.jpg) JPEG Bitmap");
        EXPECT_EQ(f.CBLFileTypes->item(11)->checkState(), Qt::Checked) << ".gif";
        EXPECT_EQ(f.CBLFileTypes->item(8)->checkState(), Qt::Unchecked) << ".png";
        EXPECT_FALSE(f.SBtnApply->isEnabled());
        f.CBAutoSave->setChecked(false);
        EXPECT_TRUE(f.SBtnApply->isEnabled());
        QApplication::setActiveWindow(&f);
        f.CBCloseFolder->setFocus();
        EXPECT_EQ(f.LblPromptHint->text(), f.CBCloseFolder->toolTip());
      },
      Form.MagnifyToolTab);
}

TEST_F(Preferences, ApplyHandsBackEveryPreference) {
  Show([](TOptionsForm& f) {
    f.CmbMinutes->setCurrentText("1");
    f.CmbSeconds->setCurrentText("x");
    f.CBStopAtStart->setChecked(true);
    f.CBPlayInReverse->setChecked(true);
    f.CBTransparency->setChecked(true);
    f.CBAutoFit->setChecked(true);
    f.CBFullScreen->setChecked(false);
    f.EdtMagnifyWidth->setText("150");
    f.EdtMagnifyHeight->setText("64");
    f.UDMagnifyFactor->setValue(5);
    f.CBShowMagnifyFrame->setChecked(true);
    f.SBtnOkay->Click();
  });
  EXPECT_EQ(Applied, 1);
  EXPECT_EQ(Main.SlideShowInterval, 60000) << "a text that is no number counts as 0";
  EXPECT_TRUE(Main.StopAtStart);
  EXPECT_TRUE(Main.PlayInReverse);
  EXPECT_TRUE(Main.AlphaChannel);
  EXPECT_EQ(Main.MagnifyViewWidth, 150);
  EXPECT_EQ(Main.MagnifyViewHeight, 64);
  EXPECT_EQ(Main.MagnifyViewLevel, 5);
  EXPECT_TRUE(Main.MagnifyViewFrame);
  EXPECT_EQ(ReadSetting("ShowAutoFitPrompt"), "True");
  EXPECT_EQ(ReadSetting("ShowFullScreenPrompt"), "False");
  EXPECT_EQ(ReadSetting("ShowCloseFolderPrompt"), "True");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Preferences, RefusedValuesKeepTheDialogOpen) {
  struct TCase {
    std::function<void(TOptionsForm&)> Change;
    const char* Message;
  };
  const TCase cases[] = {
      {[](TOptionsForm& f) {
         f.CmbMinutes->setCurrentText("0");
         f.CmbSeconds->setCurrentText("0");
       },
       "Slide Show Interval Must be Greater than 0"},
      {[](TOptionsForm& f) { f.EdtMagnifyWidth->setText("151"); }, "Magnify Tool Width must be between 0 and 150"},
      {[](TOptionsForm& f) { f.EdtMagnifyHeight->setText("abc"); }, "Magnify Tool Height must be between 0 and 100"},
  };
  for (const TCase& c : cases) {
    Messages.clear();
    bool open = false, applyLit = false;
    const int result = Show([&](TOptionsForm& f) {
      c.Change(f);
      f.SBtnOkay->Click();
      open = f.isVisible();
      f.SBtnApply->Click();
      applyLit = f.SBtnApply->isEnabled();
    });
    EXPECT_TRUE(open) << c.Message;
    EXPECT_TRUE(applyLit) << "a failed apply leaves Apply on";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Messages, (std::vector<std::string>{c.Message, c.Message}));
  }
  EXPECT_EQ(Applied, 0);
}

TEST_F(Preferences, LoweringTheRecentCapacityKeepsTheNewest) {
  for (int i = 1; i <= 12; ++i) Recent.AddString("/pictures/f" + std::to_string(i));
  ASSERT_EQ(RecentItems().front(), "/pictures/f12");
  Show([](TOptionsForm& f) {
    f.SEMRUSize->selectAll();
    QTest::keyClicks(f.SEMRUSize, "5");
    f.SBtnOkay->Click();
  });
  EXPECT_EQ(RecentItems(), (std::vector<std::string>{"/pictures/f12", "/pictures/f11", "/pictures/f10",
                                                     "/pictures/f9", "/pictures/f8"}));
  EXPECT_EQ(Recent.MaxItems(), 5);
  EXPECT_EQ(Main.FileMruMaxItems, 5);
  EXPECT_EQ(Rebuilt, 1);

  Show([](TOptionsForm& f) { f.SBtnClearMRU->Click(); });
  EXPECT_TRUE(RecentItems().empty());
  EXPECT_EQ(Rebuilt, 2);
}

TEST_F(Preferences, DefaultHandlers) {
  {
    platform::TRegistry reg;
    reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    RegisterFileType(reg, ".jpg");
  }
  THelpDlg help;
  std::vector<std::string> failures;
  THelpDlg::ModalAnswer = [&](THelpDlg& d) {
    failures.push_back(d.LblHelpText->text().toStdString());
    d.SbtnOkay->Click();
  };
  bool pngChecked = true;
  Show([&](TOptionsForm& f) {
    f.CBLFileTypes->item(1)->setCheckState(Qt::Checked);  // .jpg, registered
    f.CBLFileTypes->item(8)->setCheckState(Qt::Checked);  // .png, not registered
    EXPECT_TRUE(f.Apply());
    pngChecked = f.CBLFileTypes->item(8)->checkState() == Qt::Checked;
    f.CBLFileTypes->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(f.Apply());
  });
  EXPECT_EQ(failures, (std::vector<std::string>{"Pictrova could not be set as the default handler for .png images."}));
  EXPECT_FALSE(pngChecked);
  EXPECT_FALSE(IsDefaultHandler(".jpg")) << "set, then cleared again";
}

TEST_F(Preferences, TinyViewStillGivesTheMagnifierARange) {
  View = QSize(1, 1);
  Show([](TOptionsForm& f) {
    EXPECT_EQ(f.EdtMagnifyWidth->PopupMax(), 1);
    f.EdtMagnifyWidth->setText("1");
    f.EdtMagnifyHeight->setText("0");
    QTest::keyClick(&f, Qt::Key_Return);
  });
  EXPECT_EQ(Main.MagnifyViewWidth, 1);
  EXPECT_EQ(Main.MagnifyViewHeight, 0);
  EXPECT_EQ(Show([](TOptionsForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }), 2);
  EXPECT_EQ(Applied, 1);
}
