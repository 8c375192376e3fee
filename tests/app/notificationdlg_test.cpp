#include "app/notificationdlg.h"

#include "app/settings.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"
#include "support/tempfolder.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include "controls/kel/kelshapebutton.h"
#include <gtest/gtest.h>

using namespace app;

namespace {

struct TSeen {
  QString Caption, Main, Detail, Okay, Cancel;
  std::string Setting;
  bool BoxClearedOnShow = false;
  int LabelGap = 0, BoxGap = 0, ButtonGap = 0, BottomGap = 0;
};

class PromptDialog : public ::testing::Test {
protected:
  void SetUp() override { platform::SetKeyStoreFolder(FTemp.Path()); }
  void TearDown() override {
    TNotificationDlg::ModalAnswer = nullptr;
    platform::SetKeyStoreFolder("");
  }
  // Answers the next prompt: optionally ticks the box, then presses key or
  // clicks a button.
  void Answer(bool tick, std::function<void(TNotificationDlg&)> act) {
    TNotificationDlg::ModalAnswer = [this, tick, act](TNotificationDlg& d) {
      FSeen.Caption = d.windowTitle();
      FSeen.Main = d.LblMain->text();
      FSeen.Detail = d.LblDetail->text();
      FSeen.Okay = QString::fromStdString(d.SBtnOkay->Caption());
      FSeen.Cancel = QString::fromStdString(d.SBtnCancel->Caption());
      FSeen.Setting = d.SettingName();
      FSeen.BoxClearedOnShow = !d.CbDoNotPrompt->Checked();
      FSeen.LabelGap = d.LblDetail->y() - (d.LblMain->y() + d.LblMain->height());
      FSeen.BoxGap = d.CbDoNotPrompt->y() - (d.LblDetail->y() + d.LblDetail->height());
      FSeen.ButtonGap = d.SBtnOkay->y() - (d.CbDoNotPrompt->y() + d.CbDoNotPrompt->height());
      EXPECT_EQ(d.SBtnOkay->y(), d.SBtnCancel->y());
      FSeen.BottomGap = d.height() - (d.SBtnOkay->y() + d.SBtnOkay->height());
      if (tick) d.CbDoNotPrompt->SetChecked(true);
      act(d);
    };
  }
  static void Key(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
  static std::string Stored(const std::string& name) { return ReadSetting(name); }

  testing_support::TTempFolder FTemp;
  TNotificationDlg FDlg;
  TSeen FSeen;
};

} // namespace

TEST_F(PromptDialog, FlagsOnAFirstStart) {
  EXPECT_FALSE(ReadPromptFlag("ShowAutoFitPrompt")) << "the auto-fit prompt is silent at first";
  EXPECT_TRUE(ReadPromptFlag("ShowCloseFolderPrompt"));
  EXPECT_TRUE(ReadPromptFlag("ShowFullScreenPrompt"));
  EXPECT_TRUE(ReadPromptFlag("ShowSlideShowPrompt"));
  WriteSetting("ShowSlideShowPrompt", "False");
  WriteSetting("ShowAutoFitPrompt", "True");
  EXPECT_FALSE(ReadPromptFlag("ShowSlideShowPrompt"));
  EXPECT_TRUE(ReadPromptFlag("ShowAutoFitPrompt"));
}

TEST_F(PromptDialog, TheFourPrompts) {
  Answer(false, [](TNotificationDlg& d) { d.SBtnOkay->Click(); });
  EXPECT_EQ(FDlg.PromptDisableAutoFit(), 1);
  EXPECT_EQ(FSeen.Caption, "Disable Auto-fit Mode?");
  EXPECT_EQ(FSeen.Main, "Would you like to disable \"Auto-fit\" mode?");
  EXPECT_EQ(FSeen.Detail, "Zooming capabilities are disabled while \"Auto-fit\" mode is enabled.");
  EXPECT_EQ(FSeen.Okay + "/" + FSeen.Cancel, "Yes/No");
  EXPECT_EQ(FSeen.Setting, "ShowAutoFitPrompt");

  EXPECT_EQ(FDlg.PromptCloseFolder(), 1);
  EXPECT_EQ(FSeen.Caption, "Close Folder?");
  EXPECT_EQ(FSeen.Main, "Are you sure that you want to close this folder?");
  EXPECT_EQ(FSeen.Detail, "If you would rather return this folder view to filmstrip mode, then click \"No\" and "
                          "then click \"File | Return to Filmstrip\".");
  EXPECT_EQ(FSeen.Okay + "/" + FSeen.Cancel, "Yes/No");
  EXPECT_EQ(FSeen.Setting, "ShowCloseFolderPrompt");

  EXPECT_EQ(FDlg.PromptFullScreen(), 1);
  EXPECT_EQ(FSeen.Caption, "Enable Full-Screen Mode?");
  EXPECT_EQ(FSeen.Main, "You are enabling \"Full-Screen\" mode.");
  EXPECT_EQ(FSeen.Detail, "To exit from Full Screen mode, press \"Esc\" or \"F11\".");
  EXPECT_EQ(FSeen.Okay + "/" + FSeen.Cancel, "OK/Cancel");
  EXPECT_EQ(FSeen.Setting, "ShowFullScreenPrompt");

  EXPECT_EQ(FDlg.PromptSlideShow(), 1);
  EXPECT_EQ(FSeen.Caption, "Begin Slide Show?");
  EXPECT_EQ(FSeen.Main, "You are starting a slide show, which is shown in \"Full-Screen\" mode.");
  EXPECT_EQ(FSeen.Detail, "To stop the Slide Show, press \"Esc\" or \"S\".");
  EXPECT_EQ(FSeen.Okay + "/" + FSeen.Cancel, "OK/Cancel");
  EXPECT_EQ(FSeen.Setting, "ShowSlideShowPrompt");

  EXPECT_EQ(FDlg.CbDoNotPrompt->Caption(), "Do not prompt me again.");
  EXPECT_TRUE(FDlg.CbDoNotPrompt->Transparent());
  EXPECT_EQ(FDlg.CbDoNotPrompt->height(), 17);
  EXPECT_EQ(FSeen.LabelGap, 16);
  EXPECT_EQ(FSeen.BoxGap, 16);
  EXPECT_EQ(FSeen.ButtonGap, 16);
  EXPECT_EQ(FSeen.BottomGap, 8);
  EXPECT_TRUE(FDlg.SettingName().empty()) << "the name is forgotten on close";
}

TEST_F(PromptDialog, DoNotPromptAgainAndNoStillCountsAsNo) {
  Answer(true, [](TNotificationDlg& d) { d.SBtnCancel->Click(); });
  EXPECT_EQ(FDlg.PromptCloseFolder(), 2);
  EXPECT_EQ(Stored("ShowCloseFolderPrompt"), "False");
  EXPECT_FALSE(ReadPromptFlag("ShowCloseFolderPrompt"));

  // The box starts cleared on the next show; leaving it clear turns the prompt back on.
  Answer(false, [](TNotificationDlg& d) { d.SBtnOkay->Click(); });
  EXPECT_EQ(FDlg.PromptCloseFolder(), 1);
  EXPECT_TRUE(FSeen.BoxClearedOnShow);
  EXPECT_EQ(Stored("ShowCloseFolderPrompt"), "True");
}

TEST_F(PromptDialog, KeysAndEscapeStillWrites) {
  Answer(false, [](TNotificationDlg& d) { Key(&d, Qt::Key_Escape); });
  EXPECT_EQ(FDlg.PromptFullScreen(), 2);
  EXPECT_EQ(Stored("ShowFullScreenPrompt"), "True");

  Answer(true, [](TNotificationDlg& d) { Key(d.SBtnCancel, Qt::Key_Escape); });
  EXPECT_EQ(FDlg.PromptSlideShow(), 2);
  EXPECT_EQ(Stored("ShowSlideShowPrompt"), "False");

  Answer(true, [](TNotificationDlg& d) { Key(d.SBtnCancel, Qt::Key_Return); });
  EXPECT_EQ(FDlg.PromptDisableAutoFit(), 1) << "Enter is the first button wherever the focus is";
  EXPECT_EQ(Stored("ShowAutoFitPrompt"), "False");
}

TEST_F(PromptDialog, ClosingWithoutAPromptWritesNothing) {
  FDlg.show();
  FDlg.done(1);
  EXPECT_EQ(Stored("ShowAutoFitPrompt"), "");
  EXPECT_EQ(NotificationDlg, &FDlg);
}
