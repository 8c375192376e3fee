#include "app/aboutdlg.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include "controls/kel/kelshapebutton.h"
#include <QTimer>

#include <gtest/gtest.h>

namespace {

void PressKey(QWidget& target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(&target, &press);
}

// Runs the event loop until the dialog is gone or two seconds have passed.
void WaitUntilHidden(QWidget& dialog) {
  QDeadlineTimer deadline(2000);
  while (dialog.isVisible() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST(AboutDlgTest, FormAsBuilt) {
  app::TAboutDlg dlg;
  EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dlg.ImgSplash()->size(), QSize(321, 241));
  EXPECT_EQ(dlg.LblBuild()->text(), QStringLiteral("Version 3.0.5"));
  EXPECT_EQ(dlg.AutoCloseTimer()->interval(), 3500);
  EXPECT_FALSE(dlg.AutoCloseTimer()->isActive());
  EXPECT_FALSE(dlg.isVisible());
}

TEST(AboutDlgTest, ShellStartShowsNoSplash) {
  app::TAboutDlg dlg;
  app::ShowStartupSplash(dlg, {"/shell", "/tmp/a.jpg"});
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(dlg.AutoCloseTimer()->isActive());
  // Only the first argument counts.
  app::ShowStartupSplash(dlg, {"/tmp/a.jpg", "/shell"});
  EXPECT_TRUE(dlg.isVisible());
  dlg.AutoCloseTimerTimer();
}

TEST(AboutDlgTest, SplashClosesItselfWhenItsTimerFires) {
  app::TAboutDlg dlg;
  app::ShowStartupSplash(dlg, {});
  ASSERT_TRUE(dlg.isVisible());
  EXPECT_FALSE(dlg.isModal());
  EXPECT_TRUE(dlg.SBtnClose()->isHidden());
  EXPECT_TRUE(dlg.AutoCloseTimer()->isActive());
  EXPECT_EQ(dlg.AutoCloseTimer()->interval(), 3500);

  dlg.AutoCloseTimer()->start(10); // the same timer, sooner
  WaitUntilHidden(dlg);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(dlg.AutoCloseTimer()->isActive());
  EXPECT_FALSE(dlg.SBtnClose()->isHidden());
}

TEST(AboutDlgTest, AboutBoxOverTheSplashIsTheSameWindowNowModal) {
  app::TAboutDlg dlg;
  dlg.ShowWithTimer();
  dlg.PrepareModal();
  EXPECT_FALSE(dlg.AutoCloseTimer()->isActive());
  EXPECT_FALSE(dlg.SBtnClose()->isHidden());
  EXPECT_TRUE(dlg.isModal());
  dlg.open(); // the modal state without a blocking loop
  ASSERT_TRUE(dlg.isVisible());

  PressKey(dlg, Qt::Key_Return);
  EXPECT_FALSE(dlg.isVisible());
  // A later splash is not modal again.
  dlg.ShowWithTimer();
  EXPECT_FALSE(dlg.isModal());
  EXPECT_TRUE(dlg.SBtnClose()->isHidden());
  dlg.AutoCloseTimerTimer();
}

TEST(AboutDlgTest, KeysAndButtonClose) {
  app::TAboutDlg dlg;
  for (int key : {Qt::Key_Escape, Qt::Key_Enter}) {
    dlg.ShowWithTimer();
    PressKey(dlg, key);
    EXPECT_FALSE(dlg.isVisible()) << key;
    EXPECT_FALSE(dlg.AutoCloseTimer()->isActive()) << key;
  }
  dlg.PrepareModal();
  dlg.open();
  dlg.SBtnClose()->Click();
  EXPECT_FALSE(dlg.isVisible());
}

TEST(AboutDlgTest, ClosingEnablesTheMainWindow) {
  QMainWindow main;
  main.setEnabled(false);
  app::TAboutDlg dlg;
  dlg.ShowWithTimer();
  dlg.AutoCloseTimerTimer();
  EXPECT_TRUE(main.isEnabled());
}

TEST(AboutDlgTest, NoAboutBoxDuringASlideShow) {
  app::TAboutDlg dlg;
  app::ShowAboutBox(dlg, true);
  EXPECT_FALSE(dlg.isVisible());
}

} // namespace
