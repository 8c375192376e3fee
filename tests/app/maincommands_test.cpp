#include "app/emailsizedlg.h"
#include "app/folderview.h"
#include "app/mainform.h"
#include "app/notificationdlg.h"
#include "app/openfolderdlg.h"
#include "app/renamedlg.h"
#include "app/saveasform.h"
#include "app/settings.h"
#include "app/toolbox.h"
#include "apptestenv.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "platform/safesave.h"
#include "platform/shfileop.h"
#include "shell/sxshelllist.h"

#include <QAbstractButton>
#include <QAction>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest/QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <utility>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace app;
using apptest::PressKey;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

// Another program rewrites a byte of the file in place and puts its times
// back (as touch -r or cp -p leave it): only its change time tells.
bool RewriteKeepingTimes(const std::string& Path) {
  struct stat Was {};
  if (::stat(Path.c_str(), &Was) != 0) return false;
  return WaitUntil([&] {
    std::ofstream(Path, std::ios::binary | std::ios::in) << 'x';
    const timespec Times[] = {Was.st_atim, Was.st_mtim};
    struct stat Now {};
    return ::utimensat(AT_FDCWD, Path.c_str(), Times, 0) == 0 && ::stat(Path.c_str(), &Now) == 0 &&
           (Now.st_ctim.tv_sec != Was.st_ctim.tv_sec || Now.st_ctim.tv_nsec != Was.st_ctim.tv_nsec);
  });
}

// Until the file system's clock has passed the file's change time: what is
// done to the file from then on moves that time on.
bool PastChangeTime(const std::string& Path) {
  struct stat Was {};
  if (::stat(Path.c_str(), &Was) != 0) return false;
  return WaitUntil([&] {
    timespec Now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &Now);
    return Now.tv_sec > Was.st_ctim.tv_sec || (Now.tv_sec == Was.st_ctim.tv_sec && Now.tv_nsec > Was.st_ctim.tv_nsec);
  });
}

// Runs the test that calls it again, in a process of its own inside a user
// and mount namespace, where it may bind-mount folders: Here in that
// process, which runs the test's body; RanThere in the one that started it,
// which takes the other's outcome; NotToBeHad where namespaces are not.
enum class TOwnMounts { Here, RanThere, NotToBeHad };
TOwnMounts RunInOwnMounts(std::string& Output) {
  if (qEnvironmentVariableIsSet("PICTROVA_OWN_MOUNTS")) return TOwnMounts::Here;
  const ::testing::TestInfo* Info = ::testing::UnitTest::GetInstance()->current_test_info();
  QProcess Run;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert("PICTROVA_OWN_MOUNTS", "1");
  Run.setProcessEnvironment(Environment);
  Run.setProcessChannelMode(QProcess::MergedChannels);
  Run.start("unshare", {"--map-root-user", "--mount", QFile::symLinkTarget("/proc/self/exe"),
                        QStringLiteral("--gtest_filter=%1.%2").arg(Info->test_suite_name(), Info->name())});
  const bool Ended = Run.waitForFinished(120000);
  Output = Run.readAll().toStdString();
  if (Output.find("[ RUN      ]") == std::string::npos) return TOwnMounts::NotToBeHad;
  EXPECT_TRUE(Ended && Run.exitCode() == 0) << Output;
  return TOwnMounts::RanThere;
}

class MainCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    TMainForm::CommandTrace = [this](const QString& Command) {
      Ran << Command;
      return RunCommands;
    };
  }
  void TearDown() override {
    platform::FileOpCallFault = nullptr;
    platform::TSafeSaveFile::AfterTempMade = nullptr;
    Form.reset();
    TMainForm::CommandTrace = nullptr;
  }
  TMainForm& Main() { return apptest::ShownMainForm(Form); }
  // A folder of Count pictures opened, the first shown.
  void OpenFolder(int Count) {
    for (int I = 0; I < Count; ++I) Env.Picture("p" + std::to_string(I) + ".png", 40, 30, QColor(I * 40, 100, 200));
    Main().OpenPath(Env.File("p0.png"), false);
    ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  }
  QString KeyCommand(int Key, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    Ran.clear();
    PressKey(Main().KeyCatcher, Key, Mods);
    return Ran.isEmpty() ? QString() : Ran.back();
  }
  bool Enabled(const char* Name) {
    if (auto* A = Main().findChild<QAction*>(Name)) return A->isEnabled();
    if (auto* M = Main().findChild<QMenu*>(Name)) return M->isEnabled();
    if (auto* W = Main().findChild<QWidget*>(Name)) return W->isEnabled();
    ADD_FAILURE() << "no control " << Name;
    return false;
  }
  void TriggerItem(const char* Name) {
    QAction* A = Main().findChild<QAction*>(Name);
    ASSERT_TRUE(A) << Name;
    A->setEnabled(true);
    A->trigger();
  }

  apptest::TAppEnv Env;
  TNotificationDlg Prompts;
  std::unique_ptr<TMainForm> Form;
  QStringList Ran;
  bool RunCommands = false;
};

} // namespace

TEST_F(MainCommandsTest, EveryRowOfTheKeyMapReachesItsCommand) {
  struct TRow {
    int Key;
    Qt::KeyboardModifiers Mods;
    const char* Command;
  };
  const Qt::KeyboardModifiers C = Qt::ControlModifier, N = Qt::NoModifier;
  const TRow Rows[] = {
      {Qt::Key_Left, N, "PreviousImage"},  {Qt::Key_Right, N, "NextImage"},        {Qt::Key_Home, C, "Nothing"},
      {Qt::Key_Return, C, "Rename"},       {Qt::Key_Enter, C, "Rename"},           {Qt::Key_O, C, "OpenImageFolder"},
      {Qt::Key_P, C, "Print"},             {Qt::Key_I, C, "Acquire"},              {Qt::Key_F1, N, "About"},
      {Qt::Key_E, C, "EmailWizard"},       {Qt::Key_T, C, "ToolBox"},              {Qt::Key_R, C, "RotateCW"},
      {Qt::Key_L, C, "RotateCCW"},         {Qt::Key_Space, C, "PreviousImage"},    {Qt::Key_Space, N, "NextImage"},
      {Qt::Key_Minus, N, "ZoomOut"},       {Qt::Key_Minus, Qt::KeypadModifier, "ZoomOut"},
      {Qt::Key_Plus, N, "ZoomIn"},         {Qt::Key_Equal, N, "ZoomIn"},           {Qt::Key_F11, N, "FullScreen"},
      {Qt::Key_F5, Qt::ShiftModifier, "Reload"},                                   {Qt::Key_Pause, N, "Exit"},
      {Qt::Key_F12, N, "AutoFit"},         {Qt::Key_S, C, "Save"},                 {Qt::Key_S, N, "SlideShow"},
      {Qt::Key_Q, N, "StopSlideShow"},     {Qt::Key_Escape, N, "Escape"},          {Qt::Key_P, N, "PauseSlideShow"},
      {Qt::Key_F8, N, "Preferences"},
  };
  for (const TRow& Row : Rows) EXPECT_EQ(KeyCommand(Row.Key, Row.Mods), Row.Command) << Row.Key;
  // Keys of the folder views wait for a current one.
  EXPECT_EQ(KeyCommand(Qt::Key_C, C), "");
  EXPECT_EQ(KeyCommand(Qt::Key_Delete, N), "");
  OpenFolder(2);
  EXPECT_EQ(KeyCommand(Qt::Key_X, C), "CutFiles");
  EXPECT_EQ(KeyCommand(Qt::Key_C, C), "CopyFiles");
  EXPECT_EQ(KeyCommand(Qt::Key_V, C), "PasteFiles");
  EXPECT_EQ(KeyCommand(Qt::Key_A, C), "SelectAllFiles");
  EXPECT_EQ(KeyCommand(Qt::Key_Delete, Qt::ShiftModifier), "Delete");
  // Tabs step only with more than one; the key is taken either way.
  EXPECT_EQ(KeyCommand(Qt::Key_Down, N), "");
  // Ctrl with Shift is no row of the map.
  EXPECT_EQ(KeyCommand(Qt::Key_O, C | Qt::ShiftModifier), "");
}

TEST_F(MainCommandsTest, KeysLeftToTheControlsThatHaveTheFocus) {
  OpenFolder(3);
  RunCommands = true;
  TFolderViewForm* View = Main().CurrentFolderView();
  const std::string Before = Main().CurrentFileName().toStdString();
  // The film strip has the focus: Left and Right are its own, not the
  // window's, and the picture does not step twice.
  View->ThumbView->setFocus();
  Ran.clear();
  PressKey(View->ThumbView, Qt::Key_Right);
  EXPECT_FALSE(Ran.contains("NextImage"));
  // The zoom box takes every key.
  Main().CmbZoomPercent->setFocus();
  Ran.clear();
  PressKey(Main().CmbZoomPercent->lineEdit(), Qt::Key_S);
  EXPECT_TRUE(Ran.isEmpty());
  EXPECT_FALSE(Main().SlideShowRunning());
  // A typed character never reaches the key catcher's text.
  PressKey(Main().KeyCatcher, Qt::Key_A);
  QKeyEvent Typed(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
  QApplication::sendEvent(Main().KeyCatcher, &Typed);
  EXPECT_TRUE(Main().KeyCatcher->text().isEmpty());
  // Escape outside a show and full screen changes nothing.
  PressKey(Main().KeyCatcher, Qt::Key_Escape);
  EXPECT_FALSE(Main().FullScreen());
  EXPECT_EQ(Main().CurrentFileName().toStdString(), Before == "" ? "" : Main().CurrentFileName().toStdString());
}

TEST_F(MainCommandsTest, EveryMenuItemAndButtonReachesItsCommand) {
  const std::map<std::string, std::string> Items = {
      {"OpenImage1", "OpenImageFolder"},
      {"CloseCurrentFolder1", "CloseFolder"},
      {"AdvancedFolderView1", "AdvancedFolderView"},
      {"SaveCtrlS1", "Save"},
      {"SaveAs1", "SaveAs"},
      {"Rename1", "Rename"},
      {"Delete1", "Delete"},
      {"SetasDesktopWallpaper1", "Wallpaper"},
      {"CopyToClipboard1", "CopyToClipboard"},
      {"FileProperties1", "FileProperties"},
      {"PrinterSetup1", "PrinterSetup"},
      {"PrintCtrlP1", "Print"},
      {"PrintPreview1", "PrintPreview"},
      {"SelectSource1", "SelectSource"},
      {"AcquireImage1", "Acquire"},
      {"Exit1", "Exit"},
      {"oolBox1", "ToolBox"},
      {"EmailWizard1", "EmailWizard"},
      {"ReloadImageF51", "Reload"},
      {"ViewMainMenu1", "ToggleMainMenu"},
      {"ViewToolBar2", "ToggleToolBar"},
      {"ViewAdvancedList1", "ToggleAdvancedList"},
      {"FullScreen1", "FullScreen"},
      {"AutoFit1", "AutoFit"},
      {"Preferences1", "Preferences"},
      {"AnimateGif1", "AnimateGif"},
      {"AlphaChannel1", "Transparency"},
      {"VisitWebsite1", "VisitWebsite"},
      {"CheckforUpdates1", "CheckForUpdates"},
      {"KeyboardShortcutGuide1", "KeyboardGuide"},
      {"About1", "About"},
      {"PreviousImage1", "PreviousImage"},
      {"NextImage1", "NextImage"},
      {"SlideShow1", "SlideShow"},
      {"PauseHoldH1", "PauseSlideShow"},
      {"ViewPreferences1", "SlideShowPreferences"},
      {"ZoomIn1", "ZoomIn"},
      {"ZoomOut1", "ZoomOut"},
      {"ZoomToFit1", "ZoomToFit"},
      {"ZoomTo1001", "Zoom100"},
      {"ZoomToWidth1", "ZoomToWidth"},
      {"ZoomToHeight1", "ZoomToHeight"},
      {"RotateCW1", "RotateCW"},
      {"RotateCCW1", "RotateCCW"},
      {"Rotate1801", "Rotate180"},
      {"FlipHorizontal1", "FlipHorizontal"},
      {"FlipVertical1", "FlipVertical"},
      {"MagnifyToolPreferences1", "MagnifyPreferences"},
      {"HideThumbnailFilmstrip1", "HideThumbs"},
      {"TabCloseFolder1", "CloseFolder"},
      {"ToolHideToolBar1", "HideToolBar"},
  };
  Main();
  for (const auto& [Name, Command] : Items) {
    Ran.clear();
    TriggerItem(Name.c_str());
    EXPECT_EQ(Ran, QStringList{QString::fromStdString(Command)}) << Name;
  }
  // The numbered items: style, colour, effect, sound and mouse mode.
  for (std::size_t I = 0; I < Main().TransitionEffectItems.size(); ++I) {
    Ran.clear();
    Main().TransitionEffectItems[I]->trigger();
    EXPECT_EQ(Ran, QStringList{QStringLiteral("Effect%1").arg(I)});
  }
  EXPECT_EQ(Main().TransitionEffectItems.size(), 31u);
  EXPECT_EQ(Main().BackgroundStyleItems.size(), 11u);
  EXPECT_EQ(Main().TransitionSoundItems.size(), 11u);
  EXPECT_EQ(Main().TransitionSoundItems[10]->text(), "Projector");
  const std::map<std::string, std::string> Buttons = {
      {"SBtnOpen", "OpenImageFolder"}, {"SBtnPrevious", "PreviousImage"}, {"SBtnNext", "NextImage"},
      {"SBtnHide", "FullScreen"},      {"SBtnPrint", "Print"},            {"SBtnTools", "ToolBox"},
      {"SBtnAutoFit", "AutoFit"},      {"SBtnSlideShow", "SlideShow"},    {"SBtnSave", "Save"},
      {"SBtnEmail", "EmailWizard"},    {"SBtnRotateCCW", "RotateCCW"},    {"SBtnRotateCW", "RotateCW"},
      {"SBtnZoomWindow", "ZoomWindow"}, {"SBtnChangeCursor", "CursorMenu"}};
  for (const auto& [Name, Command] : Buttons) {
    auto* B = Main().findChild<kel::TKelShapeButton*>(QString::fromStdString(Name));
    ASSERT_TRUE(B) << Name;
    Ran.clear();
    B->OnClick(B);
    EXPECT_EQ(Ran, QStringList{QString::fromStdString(Command)}) << Name;
  }
}

TEST_F(MainCommandsTest, CommandStatesFollowTheirRules) {
  RunCommands = true;
  Env.PromptAnswer = 1;
  // No picture, no folder.
  Main();
  for (const char* Name : {"Rotate1", "PrintCtrlP1", "SaveAs1", "CopyToClipboard1", "ReloadImageF51", "Rename1",
                           "Delete1", "CloseCurrentFolder1", "PauseHoldH1", "SaveCtrlS1"})
    EXPECT_FALSE(Enabled(Name)) << Name;
  for (const char* Name : {"OpenImage1", "oolBox1", "PrinterSetup1", "ViewableControls1", "SelectSource1"})
    EXPECT_TRUE(Enabled(Name)) << Name;
  EXPECT_FALSE(Main().SBtnNext->isEnabled());

  // A picture in a folder.
  OpenFolder(3);
  for (const char* Name : {"Rotate1", "PrintCtrlP1", "SaveAs1", "CopyToClipboard2", "ReloadImageF51", "Rename1",
                           "Delete1", "CloseCurrentFolder1", "SlideShow1"})
    EXPECT_TRUE(Enabled(Name)) << Name;
  EXPECT_FALSE(Enabled("SaveCtrlS1"));
  EXPECT_TRUE(Main().SBtnNext->isEnabled());

  // Modified: save comes.
  Main().RotateImage(90);
  EXPECT_TRUE(Main().IsImageModified());
  EXPECT_TRUE(Enabled("SaveCtrlS1"));
  EXPECT_TRUE(Main().SBtnSave->isEnabled());
  Main().ReloadImage();
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending(); }));
  EXPECT_FALSE(Main().IsImageModified());

  // A running show: almost everything waits.
  Main().StartSlideShow();
  ASSERT_TRUE(Main().SlideShowTimerOn());
  for (const char* Name : {"Rotate1", "PrintCtrlP1", "OpenImage1", "oolBox1", "PrinterSetup1", "ViewableControls1",
                           "SelectSource1", "Delete1", "CloseCurrentFolder1"})
    EXPECT_FALSE(Enabled(Name)) << Name;
  EXPECT_TRUE(Enabled("PauseHoldH1"));
  EXPECT_TRUE(Enabled("SlideShow1"));
  EXPECT_EQ(Main().SlideShowHint(), "Slide Show Running|Slide Show Running (Press [P] to Pause or [S] to Stop)");

  // Paused: open, tool box, e-mail and printer set-up come back, the
  // Controls submenus wait for the end of the show.
  Main().PauseSlideShow();
  EXPECT_TRUE(Main().SlideShowPaused());
  for (const char* Name : {"OpenImage1", "oolBox1", "EmailWizard1", "PrinterSetup1", "Rotate1"})
    EXPECT_TRUE(Enabled(Name)) << Name;
  EXPECT_FALSE(Enabled("ViewableControls1"));
  EXPECT_FALSE(Enabled("ViewableControls2"));
  EXPECT_EQ(Main().findChild<QAction*>("PauseHoldH1")->text(), "Continue Silde Show [P]");
  Main().StopSlideShow();
  EXPECT_TRUE(Enabled("ViewableControls1"));
  EXPECT_EQ(Main().findChild<QAction*>("SlideShow1")->text(), "&Start Slide Show [S]");
}

TEST_F(MainCommandsTest, ASlideShowStopsWhereItBegan) {
  RunCommands = true;
  OpenFolder(5);
  TFolderViewForm* View = Main().CurrentFolderView();
  View->SelectAndShowFile("p2.png");
  ASSERT_EQ(Main().CurrentFileName(), "p2.png");
  Main().StartSlideShow();
  ASSERT_TRUE(Main().SlideShowRunning());
  EXPECT_TRUE(Main().FullScreen());
  EXPECT_TRUE(Main().CursorHidden());
  QStringList Shown;
  for (int Tick = 0; Tick < 10 && Main().SlideShowRunning(); ++Tick) {
    Main().SlideShowTimerTimer();
    Shown << Main().CurrentFileName();
  }
  EXPECT_EQ(Shown, (QStringList{"p3.png", "p4.png", "p0.png", "p1.png", "p2.png", "p2.png"}));
  EXPECT_FALSE(Main().SlideShowRunning());
  // It began outside full screen and ends there.
  EXPECT_FALSE(Main().FullScreen());
  EXPECT_FALSE(Main().CursorHidden());
}

TEST_F(MainCommandsTest, SlideShowEdges) {
  RunCommands = true;
  // A folder with one picture: the first tick never stops the show.
  OpenFolder(1);
  Main().StartSlideShow();
  Main().SlideShowTimerTimer();
  EXPECT_TRUE(Main().SlideShowRunning());
  Main().SlideShowTimerTimer();
  EXPECT_FALSE(Main().SlideShowRunning());

  // Declining the prompt leaves everything as it was, full screen included.
  Env.PromptAnswer = 2;
  Main().StartSlideShow();
  EXPECT_FALSE(Main().SlideShowRunning());
  EXPECT_FALSE(Main().FullScreen());

  // Started in full screen, a show ends in full screen with its controls.
  Env.PromptAnswer = 1;
  Main().SetFullScreen(true, false);
  Main().StartSlideShow();
  EXPECT_FALSE(Main().IsMainMenuVisible());
  Main().StopSlideShow();
  EXPECT_TRUE(Main().FullScreen());
}

TEST_F(MainCommandsTest, AShowFromTheStartOrInReverseStopsWhereItBegan) {
  RunCommands = true;
  struct TCase {
    bool AtBeginning, Reverse;
    QString First;
    QStringList Shown;
  };
  // Each show is started with p2.png on the screen.
  const TCase Cases[] = {
      {true, false, "p0.png", {"p1.png", "p2.png", "p3.png", "p4.png", "p0.png", "p0.png"}},
      {false, true, "p2.png", {"p1.png", "p0.png", "p4.png", "p3.png", "p2.png", "p2.png"}},
      {true, true, "p4.png", {"p3.png", "p2.png", "p1.png", "p0.png", "p4.png", "p4.png"}},
  };
  for (const TCase& C : Cases) {
    Form.reset();
    WriteSettingBool("StartAtBeginning", C.AtBeginning);
    WriteSettingBool("PlayInReverse", C.Reverse);
    OpenFolder(5);
    Main().CurrentFolderView()->SelectAndShowFile("p2.png");
    ASSERT_EQ(Main().CurrentFileName(), "p2.png");
    EXPECT_EQ(KeyCommand(Qt::Key_S), "SlideShow");
    ASSERT_TRUE(Main().SlideShowRunning());
    EXPECT_EQ(Main().CurrentFileName(), C.First);
    QStringList Shown;
    for (int Tick = 0; Tick < 10 && Main().SlideShowRunning(); ++Tick) {
      Main().SlideShowTimerTimer();
      Shown << Main().CurrentFileName();
    }
    EXPECT_EQ(Shown, C.Shown) << C.AtBeginning << C.Reverse;
    EXPECT_FALSE(Main().SlideShowRunning());
  }
}

// An edit made while a show is paused is the user's like any other: leaving
// the picture saves it (asked, or silently for a large picture only turned),
// and so does going on with the show.
TEST_F(MainCommandsTest, AnEditInAPausedShowReachesItsFile) {
  RunCommands = true;
  Env.Picture("p0.png", 40, 30);
  Env.Picture("p1.png", 400, 320);
  Env.Picture("p2.png", 40, 30);
  auto Settle = [&] {
    return WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); });
  };
  auto Turned = [&](const char* Name, int Width, int Height) {
    const QImage File(QString::fromStdString(Env.File(Name)));
    // Turned clockwise: the red corner is now at the top right.
    return File.size() == QSize(Width, Height) && File.pixel(Width - 1, 0) == qRgb(255, 0, 0);
  };
  Main().OpenPath(Env.File("p0.png"), false);
  ASSERT_TRUE(Settle());
  KeyCommand(Qt::Key_S);
  KeyCommand(Qt::Key_P);
  ASSERT_TRUE(Main().SlideShowPaused());
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  ASSERT_TRUE(Main().IsImageModified());
  Env.HelpAnswer = 1;
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_TRUE(Turned("p0.png", 30, 40));
  EXPECT_EQ(Main().CurrentFileName(), "p1.png");

  // Large and only turned: saved without a word.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_TRUE(Turned("p1.png", 320, 400));
  EXPECT_EQ(Main().CurrentFileName(), "p2.png");

  // Going on with the show leaves the picture too: asked while still paused.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  KeyCommand(Qt::Key_P);
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_TRUE(Turned("p2.png", 30, 40));
  EXPECT_TRUE(Main().SlideShowTimerOn());
  EXPECT_FALSE(Main().IsImageModified());
  // While it runs, nothing is edited.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  EXPECT_FALSE(Main().IsImageModified());
  EXPECT_TRUE(Env.MessageBoxes.isEmpty());
}

// Leaving an edited picture asks once per move, and a save that fails keeps
// the picture and its edit on the screen.
TEST_F(MainCommandsTest, OneQuestionPerMoveAndFailedSavesKeepTheEdit) {
  RunCommands = true;
  // The program's own save-as dialog, linked as at start-up.
  TSaveAsForm SaveAs;
  Main().FormsCreated();
  TSaveAsForm::ModalAnswer = [](TSaveAsForm& F) {
    ASSERT_TRUE(WaitUntil([&] { return !F.SxShellList->Loading(); }));
    F.EdtFileName->setText("copy.png");
    F.SBtnSave->Click();
  };
  Env.Picture("p0.png", 40, 30);
  Env.Picture("p1.png", 40, 30);
  // A picture whose file cannot be written: each save fails as it would
  // take the file's place.
  const std::string Failing = "failing.png";
  Env.Picture(Failing, 400, 320);
  platform::FileOpCallFault = [Path = Env.File(Failing)](const char* Call, const std::string& Target) {
    return std::strcmp(Call, "exchange") == 0 && Target == Path ? EIO : 0;
  };
  auto Settle = [&] {
    return WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); });
  };
  Main().OpenPath(Env.File("p0.png"), false);
  ASSERT_TRUE(Settle());

  // "No", then a new name: the copy is written and the move goes on.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  Env.HelpAnswer = 2;
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  TSaveAsForm::ModalAnswer = nullptr;
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Main().CurrentFileName(), "p1.png");
  EXPECT_EQ(QImage(QString::fromStdString(Env.File("copy.png"))).size(), QSize(30, 40));
  EXPECT_EQ(QImage(QString::fromStdString(Env.File("p0.png"))).size(), QSize(40, 30));

  // The silent save fails: one message, the picture stays with its edit.
  Main().OpenPath(Env.File(Failing), false);
  ASSERT_TRUE(Settle());
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  Env.HelpShown = 0;
  KeyCommand(Qt::Key_Right);
  EXPECT_EQ(Env.MessageBoxes.size(), 1);
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(Main().CurrentFileName().toStdString(), Failing);
  EXPECT_TRUE(Main().IsImageModified());
  // The next move asks instead; "Yes" fails the same way and keeps it all.
  Env.HelpAnswer = 1;
  KeyCommand(Qt::Key_Right);
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.MessageBoxes.size(), 2);
  EXPECT_EQ(Main().CurrentFileName().toStdString(), Failing);
  EXPECT_TRUE(Main().IsImageModified());
  // "Discard Changes" moves on; the file was never touched.
  Env.HelpAnswer = 3;
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_NE(Main().CurrentFileName().toStdString(), Failing);
  EXPECT_EQ(QImage(QString::fromStdString(Env.File(Failing))).size(), QSize(400, 320));
}

// A copy written by Save As and not opened leaves the shown picture as it
// was: leaving it asks about its own file, which a resize must never reach
// silently, while an edit of turns only is still saved without a word.
TEST_F(MainCommandsTest, ACopySavedAsLeavesTheShownPictureAsItWas) {
  RunCommands = true;
  TSaveAsForm SaveAs;
  Main().FormsCreated();
  QString Copy;
  TSaveAsForm::ModalAnswer = [&](TSaveAsForm& F) {
    ASSERT_TRUE(WaitUntil([&] { return !F.SxShellList->Loading(); }));
    F.EdtFileName->setText(Copy);
    F.SBtnSave->Click();
  };
  auto Settle = [&] {
    return WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); });
  };
  auto SizeOf = [&](const char* Name) { return QImage(QString::fromStdString(Env.File(Name))).size(); };
  Env.Picture("a.png", 480, 320);
  Env.Picture("b.png", 480, 320);
  Main().OpenPath(Env.File("a.png"), false);
  ASSERT_TRUE(Settle());
  Main().ResizeImage(720, 480);
  Copy = "large.png";
  Main().Execute("SaveAs");
  EXPECT_EQ(SizeOf("large.png"), QSize(720, 480));
  EXPECT_TRUE(Main().IsImageModified() && !Main().OnlyRotated());
  Env.HelpAnswer = 3;
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_NE(Main().CurrentFileName(), "a.png");
  EXPECT_EQ(SizeOf("a.png"), QSize(480, 320));

  Main().OpenPath(Env.File("b.png"), false);
  ASSERT_TRUE(Settle());
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  Copy = "turned.png";
  Main().Execute("SaveAs");
  EXPECT_TRUE(Main().IsImageModified() && Main().OnlyRotated());
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(SizeOf("b.png"), QSize(320, 480));
  EXPECT_EQ(SizeOf("turned.png"), QSize(320, 480));

  // Another name of the shown file (a hard link) is another file's place:
  // the copy goes there, and the shown file and its edit stay as they were.
  fs::create_directory(Env.File("links"));
  Env.Picture("links/c.png", 200, 125);
  fs::create_hard_link(Env.File("links/c.png"), Env.File("links/link.png"));
  Main().OpenPath(Env.File("links/c.png"), false);
  ASSERT_TRUE(Settle());
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  Copy = "link.png";
  // "Yes" to replacing it.
  const auto Replace = app::MessageDlgAnswer;
  app::MessageDlgAnswer = [](QMessageBox& Box) { Box.done(QMessageBox::Yes); };
  Main().Execute("SaveAs");
  app::MessageDlgAnswer = Replace;
  TSaveAsForm::ModalAnswer = nullptr;
  EXPECT_EQ(SizeOf("links/link.png"), QSize(125, 200));
  EXPECT_EQ(SizeOf("links/c.png"), QSize(200, 125));
  EXPECT_TRUE(Main().IsImageModified());
  Env.HelpAnswer = 3;
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(SizeOf("links/c.png"), QSize(200, 125));
  EXPECT_TRUE(Env.MessageBoxes.isEmpty());
}

// The shown file under another spelling that no link stands for (a bind
// mount of its folder, as the other case of a case-insensitive disk would
// be) is the shown file: Save As there writes it, also when it has a second
// hard link, and the picture is saved; the next save asks nothing. A second
// hard link itself stays a copy's place.
TEST_F(MainCommandsTest, SaveAsToTheShownFileUnderAnotherSpellingSavesIt) {
  std::string Output;
  const TOwnMounts Mounts = RunInOwnMounts(Output);
  if (Mounts == TOwnMounts::NotToBeHad) GTEST_SKIP() << "no user and mount namespace: " << Output;
  if (Mounts == TOwnMounts::RanThere) return;
  RunCommands = true;
  fs::create_directory(Env.File("pics"));
  fs::create_directory(Env.File("same"));
  ASSERT_EQ(::mount(Env.File("pics").c_str(), Env.File("same").c_str(), nullptr, MS_BIND, nullptr), 0)
      << std::strerror(errno);
  struct TCase {
    const char *Shown, *Link, *Target;
    bool Saved;
  };
  const TCase Cases[] = {{"a.png", nullptr, "same/a.png", true},
                         {"b.png", "b2.png", "same/b.png", true},
                         {"c.png", "c2.png", "same/c2.png", false}};
  for (const TCase& C : Cases) {
    const std::string Shown = Env.Picture(std::string("pics/") + C.Shown, 480, 320);
    if (C.Link) fs::create_hard_link(Shown, Env.File(std::string("pics/") + C.Link));
  }
  for (const TCase& C : Cases) {
    const std::string Shown = Env.File(std::string("pics/") + C.Shown);
    Main().SaveAsPrompt = [&](const std::string&, std::string& Target, bool& OpenSaved) {
      Target = Env.File(C.Target);
      OpenSaved = false;
      return 1;
    };
    Main().OpenPath(Shown, false);
    ASSERT_TRUE(WaitUntil([&] {
      return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning() &&
             Main().CurrentPathBytes() == Shown;
    }));
    KeyCommand(Qt::Key_R, Qt::ControlModifier);
    Main().Execute("SaveAs");
    EXPECT_EQ(apptest::LoadPicture(Env.File(C.Target)).size(), QSize(320, 480)) << C.Target;
    EXPECT_EQ(apptest::LoadPicture(Shown).size(), C.Saved ? QSize(320, 480) : QSize(480, 320)) << C.Target;
    EXPECT_EQ(Main().IsImageModified(), !C.Saved) << C.Target;
    if (!C.Saved) continue;
    Env.HelpShown = 0;
    KeyCommand(Qt::Key_R, Qt::ControlModifier);
    KeyCommand(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Env.HelpShown, 0) << C.Target;
    EXPECT_EQ(apptest::LoadPicture(Shown).size(), QSize(480, 320)) << C.Target;
  }
  Form.reset();
  ::umount(Env.File("same").c_str());
}

// A file another program put in the shown picture's place, or rewrote in
// place, is never written over without a word, not by Ctrl+S nor by the
// silent save of a turned large picture: the user chooses to overwrite it,
// save the picture under another name or give the edit up; a question
// closed unanswered keeps the edit and the picture. The program's own save
// is no change of the file: the next one asks nothing.
TEST_F(MainCommandsTest, AFileChangedByAnotherProgramIsAskedAboutBeforeAnySave) {
  RunCommands = true;
  Env.Picture("a.png", 480, 320);
  Env.Picture("b.png", 480, 320);
  const std::string Shown = Env.File("a.png");
  auto Settle = [&] {
    return WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); });
  };
  auto SizeOf = [&](const char* Name) { return QImage(QString::fromStdString(Env.File(Name))).size(); };
  auto Bytes = [](const std::string& Path) {
    QFile File(QString::fromStdString(Path));
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  };
  // Another program's picture: written beside, then renamed over the file,
  // or written into the file itself.
  auto Replace = [&](bool inPlace) {
    const std::string Path = inPlace ? Shown : Env.File(".a.png.new");
    apptest::MarkedPicture(400, 360, Qt::yellow).save(QString::fromStdString(Path), "PNG");
    if (!inPlace) fs::rename(Path, Shown);
    return Bytes(Shown);
  };
  Main().SaveAsPrompt = [&](const std::string&, std::string& Target, bool& OpenSaved) {
    Target = Env.File("copy.png");
    OpenSaved = false;
    return 1;
  };
  Main().OpenPath(Shown, false);
  ASSERT_TRUE(Settle());

  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  QByteArray Other = Replace(false);
  Env.HelpAnswer = 0;
  KeyCommand(Qt::Key_Right);
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpCaption, "File changed by another program");
  EXPECT_EQ(Env.LastHelpText, "\"a.png\" was changed by another program since it was opened. Overwrite it with the "
                              "modified image?");
  EXPECT_EQ(Env.LastHelpButtons, QStringList({"Overwrite", "Save As", "Discard Changes"}));
  EXPECT_EQ(Main().CurrentFileName(), "a.png");
  EXPECT_TRUE(Main().IsImageModified());
  EXPECT_EQ(Bytes(Shown), Other);

  // "Save As": a copy, the other program's file untouched, the edit kept.
  // Enter answers so too, never "Overwrite".
  const auto Answer = THelpDlg::ModalAnswer;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    ++Env.HelpShown;
    PressKey(&D, Qt::Key_Return);
  };
  KeyCommand(Qt::Key_S, Qt::ControlModifier);
  THelpDlg::ModalAnswer = Answer;
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(SizeOf("copy.png"), QSize(320, 480));
  EXPECT_EQ(Bytes(Shown), Other);
  EXPECT_TRUE(Main().IsImageModified());
  // "Overwrite"; then the program's own write asks nothing.
  Env.HelpAnswer = 1;
  KeyCommand(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(SizeOf("a.png"), QSize(320, 480));
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  KeyCommand(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(SizeOf("a.png"), QSize(480, 320));
  EXPECT_EQ(Env.HelpShown, 3);

  // Rewritten in place: "Discard Changes" to Ctrl+S shows the file as it is.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  Other = Replace(true);
  Env.HelpAnswer = 3;
  KeyCommand(Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 4);
  EXPECT_FALSE(Main().IsImageModified());
  EXPECT_EQ(Main().RastrumView1->GetBitmap()->Width(), 400);
  // Rewritten in place to the same size and its time put back (as touch -r
  // or cp -p leave it): still asked about; closed unanswered, nothing is
  // written.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  ASSERT_TRUE(RewriteKeepingTimes(Shown));
  Other = Bytes(Shown);
  Env.HelpAnswer = 0;
  KeyCommand(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(Env.HelpShown, 5);
  EXPECT_EQ(Bytes(Shown), Other);
  EXPECT_TRUE(Main().IsImageModified());
  // Replaced again; "Discard Changes" to the silent save moves on.
  Env.HelpAnswer = 3;
  Other = Replace(false);
  KeyCommand(Qt::Key_Right);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Env.HelpShown, 6);
  EXPECT_EQ(Main().CurrentFileName(), "b.png");
  EXPECT_EQ(Bytes(Shown), Other);
  EXPECT_TRUE(Env.MessageBoxes.isEmpty());
}

// A rename carries the shown file's identity over only when the program
// made it and the file was still as read: another program's rewrite in
// place just before (its time put back), or a rename by another program,
// is asked about at the next save as any change of the file is.
TEST_F(MainCommandsTest, ARenameCarriesNoOtherProgramsChangeIntoThePicture) {
  RunCommands = true;
  TRenameDlg Dialog;
  std::string Entered;
  TRenameDlg::ModalAnswer = [&](TRenameDlg& D) {
    D.EdtNewFileName->setText(QString::fromStdString(Entered));
    D.done(1);
  };
  enum TBy { ByWindow, ByFolderView, ByOtherProgram };
  struct TCase {
    TBy By;
    bool Rewritten;
    bool Asked;
  };
  const TCase Cases[] = {{ByWindow, false, false},
                         {ByWindow, true, true},
                         {ByFolderView, false, false},
                         {ByFolderView, true, true},
                         {ByOtherProgram, false, true}};
  int Round = 0;
  for (const TCase& C : Cases) {
    const std::string Path = Env.Picture("a" + std::to_string(Round) + ".png", 480, 320);
    Entered = "r" + std::to_string(Round++);
    const std::string Renamed = Env.File(Entered + ".png");
    Main().OpenPath(Path, false);
    ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
    ASSERT_TRUE(C.Rewritten ? RewriteKeepingTimes(Path) : PastChangeTime(Path));
    if (C.By == ByWindow) KeyCommand(Qt::Key_Return, Qt::ControlModifier);
    else if (C.By == ByFolderView) Main().CurrentFolderView()->RenameSelectedFile();
    else fs::rename(Path, Renamed);
    ASSERT_TRUE(WaitUntil([&] { return Main().CurrentPathBytes() == Renamed; })) << Round;
    QFile File(QString::fromStdString(Renamed));
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QByteArray Before = File.readAll();
    File.close();
    Env.HelpShown = 0;
    Env.HelpAnswer = 0;
    KeyCommand(Qt::Key_R, Qt::ControlModifier);
    KeyCommand(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Env.HelpShown, C.Asked ? 1 : 0) << Round;
    // Closed unanswered, the question leaves the file as the other program
    // made it.
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_EQ(File.readAll() == Before, C.Asked) << Round;
    Form.reset();
  }
  TRenameDlg::ModalAnswer = nullptr;
}

// Another program's file put in the shown picture's place while the
// picture is saved, right before the save's own rename, is never written
// over: Ctrl+S and the silent save ask about it as before a save, the file
// stays as the other program left it unless "Overwrite" is chosen, and no
// work file is left; a Save As onto it says so.
TEST_F(MainCommandsTest, AFilePutInThePicturesPlaceWhileItIsSavedIsAskedAbout) {
  RunCommands = true;
  Env.Picture("a.png", 480, 320);
  Env.Picture("b.png", 480, 320);
  const std::string Shown = Env.File("a.png");
  auto SizeOf = [&](const char* Name) { return QImage(QString::fromStdString(Env.File(Name))).size(); };
  auto Bytes = [](const std::string& Path) {
    QFile File(QString::fromStdString(Path));
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  };
  auto WorkFiles = [&] {
    return QDir(QString::fromStdString(Env.File(""))).entryList({"*pictrova-*"}, QDir::Hidden | QDir::Files);
  };
  // The other program renames its picture over the file once, while the
  // save writes its own beside it.
  std::string Arrives;
  QByteArray Other;
  platform::TSafeSaveFile::AfterTempMade = [&](const std::string& Temp) {
    const std::size_t Slash = Arrives.rfind('/') + 1;
    if (Arrives.empty() || Temp.rfind(Arrives.substr(0, Slash) + "." + Arrives.substr(Slash) + ".", 0) != 0) return;
    apptest::MarkedPicture(400, 360, Qt::yellow).save(QString::fromStdString(Arrives + ".new"), "PNG");
    fs::rename(Arrives + ".new", Arrives);
    Other = Bytes(std::exchange(Arrives, ""));
  };
  Main().OpenPath(Shown, false);
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  // The second Ctrl+S asks first about the file the first left there.
  struct TStep {
    int Key;
    int Answer;
    int Asks;
    QSize Written;  // empty: the other program's file kept
    const char* Shows;
  };
  const TStep Steps[] = {
      {Qt::Key_S, 0, 1, {}, "a.png"}, {Qt::Key_S, 1, 2, {320, 480}, "a.png"}, {Qt::Key_Right, 3, 1, {}, "b.png"}};
  for (const TStep& Step : Steps) {
    SCOPED_TRACE(Step.Answer);
    if (!Main().IsImageModified()) KeyCommand(Qt::Key_R, Qt::ControlModifier);
    const int Asked = Env.HelpShown;
    Env.HelpAnswer = Step.Answer;
    Arrives = Shown;
    KeyCommand(Step.Key, Step.Key == Qt::Key_S ? Qt::ControlModifier : Qt::NoModifier);
    ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
    EXPECT_EQ(Env.HelpShown, Asked + Step.Asks);
    EXPECT_EQ(Env.LastHelpCaption, "File changed by another program");
    if (Step.Written.isEmpty()) EXPECT_EQ(Bytes(Shown), Other);
    else EXPECT_EQ(SizeOf("a.png"), Step.Written);
    EXPECT_EQ(Main().CurrentFileName(), Step.Shows);
    EXPECT_EQ(Main().IsImageModified(), Step.Answer == 0);
    EXPECT_EQ(WorkFiles(), QStringList());
  }
  // Saved as b.png's own name, over which the other program's file comes.
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  Main().SaveAsPrompt = [&](const std::string&, std::string& Target, bool& OpenSaved) {
    Target = Env.File("b.png");
    OpenSaved = false;
    return 1;
  };
  Arrives = Env.File("b.png");
  Env.MessageBoxes.clear();
  Main().Execute("SaveAs");
  platform::TSafeSaveFile::AfterTempMade = nullptr;
  EXPECT_EQ(Bytes(Env.File("b.png")), Other);
  EXPECT_EQ(Env.MessageBoxes, QStringList("Another program changed " + QString::fromStdString(Env.File("b.png")) +
                                          " while the picture was saved: it was not written over."));
  EXPECT_TRUE(Main().IsImageModified());
  EXPECT_EQ(WorkFiles(), QStringList());
}

// An icon's save writes a bitmap beside it: a file the user has by that
// name is replaced only when the user says so, No the default; the bitmap
// the program wrote there is replaced by the next save without a word.
TEST_F(MainCommandsTest, AnIconsBitmapReplacesAFileThereOnlyWhenAllowed) {
  RunCommands = true;
  const std::string Icon = Env.Picture("i.ico", 48, 32);
  const std::string Beside = Icon + ".bmp";
  std::ofstream(Beside) << "the user's own";
  bool Allow = false;
  QStringList Asked;
  MessageDlgAnswer = [&](QMessageBox& Box) {
    Asked << Box.text();
    EXPECT_EQ(static_cast<QAbstractButton*>(Box.defaultButton()), Box.button(QMessageBox::No));
    Box.button(Allow ? QMessageBox::Yes : QMessageBox::No)->click();
  };
  auto Bytes = [&] {
    QFile File(QString::fromStdString(Beside));
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  };
  Main().OpenPath(Icon, false);
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  const QString Question = QString::fromStdString(Beside) + " already exists!\nDo you want to replace it?";
  struct TStep {
    bool Allow;
    QStringList Asked;
    QSize Written; // empty: the user's file kept
  };
  // Each step turns the picture once more.
  const TStep Steps[] = {{false, {Question}, {}}, {true, {Question, Question}, {48, 32}},
                         {false, {Question, Question}, {32, 48}}};
  for (const TStep& Step : Steps) {
    Allow = Step.Allow;
    KeyCommand(Qt::Key_R, Qt::ControlModifier);
    KeyCommand(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Asked, Step.Asked);
    if (Step.Written.isEmpty()) {
      EXPECT_EQ(Bytes(), "the user's own");
      EXPECT_TRUE(Main().IsImageModified());
    } else {
      EXPECT_EQ(QImage(QString::fromStdString(Beside), "BMP").size(), Step.Written);
      EXPECT_FALSE(Main().IsImageModified());
    }
  }
  EXPECT_EQ(QImage(QString::fromStdString(Icon)).size(), QSize(48, 32));
}

// An answer that lets an edit go unsaved covers that edit and the step it
// was given for: once a step has left the picture where it was, or the
// picture has changed again, the next step asks anew.
TEST_F(MainCommandsTest, AnAnswerCoversOnlyItsEditAndItsStep) {
  RunCommands = true;
  TSaveAsForm SaveAs;
  TOpenFolderForm Folders({}, nullptr, TOpenFolderForm::tsAtFirstUse);
  TEmailSizeDlg Mail;
  Main().FormsCreated();
  TOpenFolderForm::ModalAnswer = [](TOpenFolderForm& F) { F.done(2); };
  // A copy saved, or (Copy empty) the dialog cancelled.
  QString Copy;
  TSaveAsForm::ModalAnswer = [&](TSaveAsForm& F) {
    if (Copy.isEmpty()) return F.SBtnCancel->Click();
    ASSERT_TRUE(WaitUntil([&] { return !F.SxShellList->Loading(); }));
    F.EdtFileName->setText(Copy);
    F.SBtnSave->Click();
  };
  int Asked = 0, Answer = 3;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    if (D.AsksAboutEdit()) ++Asked;
    D.done(D.AsksAboutEdit() ? Answer : 1);
  };
  OpenFolder(3);
  const std::string Shown = Env.File("p0.png");
  auto Turn = [&] { KeyCommand(Qt::Key_R, Qt::ControlModifier); };
  struct TStep {
    const char* Name;
    std::function<void()> Run; // turns the picture and takes a step that asks once
  };
  const TStep Steps[] = {
      {"Open Image Folder, cancelled", [&] { Turn(), KeyCommand(Qt::Key_O, Qt::ControlModifier); }},
      {"Check for Updates", [&] { Turn(), Main().Execute("CheckForUpdates"); }},
      {"the e-mail wizard", [&] { Turn(), KeyCommand(Qt::Key_E, Qt::ControlModifier), Mail.close(); }},
      {"a paused show gone on and paused again", [&] {
         KeyCommand(Qt::Key_S), KeyCommand(Qt::Key_P), Turn();
         KeyCommand(Qt::Key_P), KeyCommand(Qt::Key_P);
       }},
      {"a delete or move that left the file", [&] { Turn(), Main().ReleaseShownFile({Shown}, false); }},
      {"a copy saved and not opened", [&] {
         Turn();
         Copy = "copy.png", Answer = 2;
         Main().Execute("CheckForUpdates");
         Copy.clear();
       }},
      {"a new change", [&] {
         Turn();
         EXPECT_EQ(Main().QuerySaveModified(), TMainForm::TLeaveAnswer::Go);
         Turn();
       }},
  };
  for (const TStep& S : Steps) {
    Asked = 0, Answer = 3;
    S.Run();
    EXPECT_EQ(Asked, 1) << S.Name;
    ASSERT_EQ(Main().CurrentFileName(), "p0.png") << S.Name;
    ASSERT_TRUE(Main().IsImageModified()) << S.Name;
    // The next step asks; "No" and no name keep the picture and its edit.
    Answer = 2;
    KeyCommand(Qt::Key_Right);
    EXPECT_EQ(Asked, 2) << S.Name;
    EXPECT_EQ(Main().CurrentFileName(), "p0.png") << S.Name;
    EXPECT_TRUE(Main().IsImageModified()) << S.Name;
    KeyCommand(Qt::Key_Q);
    Main().ReloadImage();
    ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().IsImageModified(); })) << S.Name;
  }
  EXPECT_EQ(QImage(QString::fromStdString(Shown)).size(), QSize(40, 30));
  EXPECT_EQ(QImage(QString::fromStdString(Env.File("copy.png"))).size(), QSize(30, 40));
  TOpenFolderForm::ModalAnswer = nullptr;
  TSaveAsForm::ModalAnswer = nullptr;
}

// A question holds a running show: a picture that cannot be read is asked
// about once, and no step of the show is taken until the answer, after
// which the show goes on.
TEST_F(MainCommandsTest, AQuestionHoldsARunningShow) {
  RunCommands = true;
  OpenFolder(3);
  std::ofstream(Env.File("p1.png")) << "not a picture";
  Main().CurrentFolderView()->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::Yes; };
  int Asked = 0;
  bool Held = false;
  QString During;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    if (++Asked == 1) {
      Held = !Main().SlideShowTimer->isActive();
      // A tick due meanwhile takes no step.
      Main().SlideShowTimerTimer();
      During = Main().CurrentFileName();
    }
    D.done(1);
  };
  KeyCommand(Qt::Key_S);
  ASSERT_TRUE(Main().SlideShowTimerOn());
  Main().SlideShowTimerTimer();
  ASSERT_TRUE(WaitUntil([&] { return Asked > 0 && !Main().PictureLoadPending(); }));
  EXPECT_EQ(Asked, 1);
  EXPECT_TRUE(Held);
  EXPECT_EQ(During, "p1.png");
  // "Delete": the show goes on from the next picture.
  EXPECT_FALSE(fs::exists(Env.File("p1.png")));
  EXPECT_EQ(Main().CurrentFileName(), "p2.png");
  EXPECT_TRUE(Main().SlideShowTimerOn());
  KeyCommand(Qt::Key_Q);
}

TEST_F(MainCommandsTest, FullScreenKeepsItsOwnControlFlags) {
  RunCommands = true;
  Main();
  Env.PromptAnswer = 2;
  Main().SetFullScreen(true, true);
  EXPECT_EQ(Env.PromptsShown, 1);
  EXPECT_FALSE(Main().FullScreen());
  // The border is worked out again even so.
  EXPECT_EQ(Main().RastrumView1->BorderStyle(), rv::bsSingle);
  Env.PromptAnswer = 1;
  Main().SetFullScreen(true, true);
  ASSERT_TRUE(Main().FullScreen());
  // Default full-screen set: no menu, tool bar or status bar.
  EXPECT_FALSE(Main().menuBar()->isVisible());
  Main().SetStatusBarVisible(true);
  EXPECT_TRUE(Main().Settings().FullScreenStatusVisible);
  EXPECT_TRUE(Main().Settings().StatusVisible);
  Main().SetThumbsVisible(false);
  Main().SetStatusBarVisible(false);
  EXPECT_TRUE(Main().Settings().ThumbsVisible);
  // Nothing but the picture: no border, from the next change of mode on.
  Main().SetFullScreen(true, false);
  EXPECT_EQ(Main().RastrumView1->BorderStyle(), rv::bsNone);
  PressKey(Main().KeyCatcher, Qt::Key_Escape);
  EXPECT_FALSE(Main().FullScreen());
  EXPECT_TRUE(Main().menuBar()->isVisible());
  EXPECT_EQ(Main().RastrumView1->BorderStyle(), rv::bsSingle);
}

// The full-screen question had the keyboard: the window covers the screen
// only once it has the keyboard back (a compositor may hand it to no window
// when the window's state changes first), and a cover still waiting for it
// goes with a leave of full screen.
TEST_F(MainCommandsTest, FullScreenCoversTheScreenOnceTheWindowHasTheKeyboard) {
  RunCommands = true;
  OpenFolder(1);
  app::TNotificationDlg::ModalAnswer = [&](app::TNotificationDlg& D) {
    ++Env.PromptsShown;
    D.activateWindow();
    EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &D; }));
    D.done(1);
  };
  for (const bool LeftAtOnce : {true, false}) {
    SCOPED_TRACE(LeftAtOnce);
    Main().SetFullScreen(true, true);
    ASSERT_TRUE(Main().FullScreen());
    ASSERT_NE(QApplication::activeWindow(), &Main());
    EXPECT_FALSE(Main().isFullScreen());
    if (LeftAtOnce) {
      EXPECT_EQ(KeyCommand(Qt::Key_Escape), "Escape");
      WaitUntil([] { return false; }, 2000);  // past the longest wait
      EXPECT_FALSE(Main().isFullScreen());
      continue;
    }
    EXPECT_TRUE(WaitUntil([&] { return Main().isFullScreen(); }));
    EXPECT_EQ(QApplication::activeWindow(), &Main());
    EXPECT_EQ(QApplication::focusWidget(), Main().KeyCatcher);
  }
  EXPECT_EQ(Env.PromptsShown, 2);
}

TEST_F(MainCommandsTest, ZoomBoxTakesOnlyNumbersWithinRange) {
  RunCommands = true;
  OpenFolder(1);
  Main().ToggleAutoFit();
  ASSERT_FALSE(Main().AutoFit());
  Main().ZoomPercentEdited("250%");
  EXPECT_DOUBLE_EQ(Main().RastrumView1->Zoom(), 250);
  Main().ZoomPercentEdited("lots");
  EXPECT_DOUBLE_EQ(Main().RastrumView1->Zoom(), 250);
  EXPECT_EQ(Main().CmbZoomPercent->currentText(), "250%");
  Main().ZoomPercentEdited("0");
  EXPECT_DOUBLE_EQ(Main().RastrumView1->Zoom(), 1);
  Main().ZoomPercentEdited("1e9");
  EXPECT_DOUBLE_EQ(Main().RastrumView1->Zoom(), 3200);
  Main().ZoomTrackBarChanged(40);
  EXPECT_DOUBLE_EQ(Main().RastrumView1->Zoom(), 40);
}

TEST_F(MainCommandsTest, RenameOfTheShownFileNeverReplaces) {
  RunCommands = true;
  OpenFolder(2);
  TRenameDlg Dialog;
  QString Answer;
  // The dialog takes the answer once; shown again (after an error) it is
  // cancelled, holding what was entered.
  QStringList Shown;
  TRenameDlg::ModalAnswer = [&](TRenameDlg& D) {
    Shown << D.EdtNewFileName->text();
    if (Shown.size() > 1) return D.done(2);
    D.EdtNewFileName->setText(Answer);
    D.done(1);
  };
  const auto RenameTo = [&](const char* Name) {
    Answer = QString::fromLatin1(Name);
    Env.LastHelpText.clear();
    Shown.clear();
    Main().RenameShownFile();
  };
  RenameTo("p1");
  EXPECT_EQ(Env.LastHelpText, "A file by this name already exists. Please choose a different name.");
  EXPECT_EQ(Shown, QStringList({"p0", "p1"})) << "after the error the dialog comes back";
  RenameTo("P0");
  EXPECT_TRUE(Env.LastHelpText.isEmpty());
  EXPECT_EQ(Shown.size(), 1);
  EXPECT_TRUE(fs::exists(Env.File("p0.png")));
  RenameTo("../away");
  EXPECT_EQ(Env.LastHelpText, "Unable to rename file.\nA name cannot contain \"/\".");
  EXPECT_EQ(Shown, QStringList({"p0", "../away"}));
  // Dots alone would make a hidden file.
  for (const char* Dots : {".", "..", "..."}) {
    RenameTo(Dots);
    EXPECT_EQ(Env.LastHelpText, "A file name cannot be made of dots only. Please choose a different name.");
    EXPECT_EQ(Shown, QStringList({"p0", Dots}));
  }
  EXPECT_FALSE(fs::exists(Env.File("..png")) || fs::exists(Env.File("...png")) || fs::exists(Env.File("....png")));
  // So would a name that starts with one.
  RenameTo(".hidden");
  EXPECT_EQ(Env.LastHelpText,
            "A file name cannot start with a dot: the file would be hidden. Please choose a different name.");
  EXPECT_EQ(Shown, QStringList({"p0", ".hidden"}));
  EXPECT_FALSE(fs::exists(Env.File(".hidden.png")));
  RenameTo("fresh");
  EXPECT_EQ(Shown.size(), 1);
  TRenameDlg::ModalAnswer = nullptr;
  EXPECT_TRUE(fs::exists(Env.File("fresh.png")));
  EXPECT_TRUE(fs::exists(Env.File("p1.png")));
  EXPECT_FALSE(fs::exists(Env.File("p0.png")));
  EXPECT_EQ(Main().CurrentFileName(), "fresh.png");
  // The file is still the one read: a save after the rename asks nothing.
  Env.HelpShown = 0;
  KeyCommand(Qt::Key_R, Qt::ControlModifier);
  KeyCommand(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(QImage(QString::fromStdString(Env.File("fresh.png"))).size(), QSize(30, 40));
  const auto& Names = Main().CurrentFolderView()->Names();
  EXPECT_NE(std::find(Names.begin(), Names.end(), "fresh.png"), Names.end());
}

TEST_F(MainCommandsTest, TheMagnifierShowsThePictureUnderThePointer) {
  RunCommands = true;
  Env.Picture("red.png", 200, 150, QColor(255, 0, 0));
  Main().OpenPath(Env.File("red.png"), false);
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  Main().SetMouseMode(2);
  ASSERT_EQ(Main().MouseMode(), 2);
  rv::TRastrumView& View = *Main().RastrumView1;
  const QPoint Centre(View.OffsetX() + View.DrawWidth() / 2, View.OffsetY() + View.DrawHeight() / 2);
  Main().MagnifyAt(Centre);
  ASSERT_TRUE(Main().MagnifierShown());
  EXPECT_LE(Main().MagnifyView->width(), View.width() / 2);
  const QImage Lens = Main().MagnifyView->grab().toImage();
  EXPECT_EQ(QColor(Lens.pixel(Lens.width() / 2, Lens.height() / 2)), QColor(255, 0, 0));
  // Coming up under the pointer, the magnifier takes it from the picture:
  // the picture's leave before the magnifier's enter keeps it shown.
  QEvent Enter(QEvent::Enter), Leave(QEvent::Leave);
  QApplication::sendEvent(Main().RastrumView1, &Enter);
  QApplication::sendEvent(Main().RastrumView1, &Leave);
  QApplication::sendEvent(Main().MagnifyView, &Enter);
  QCoreApplication::processEvents();
  EXPECT_TRUE(Main().MagnifierShown());
  // Leaving both hides it.
  QApplication::sendEvent(Main().MagnifyView, &Leave);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Main().MagnifierShown());
  // Off the picture's corner: the background fills what lies outside.
  Main().MagnifyAt(QPoint(View.OffsetX(), View.OffsetY()));
  const QImage Corner = Main().MagnifyView->grab().toImage();
  EXPECT_NE(QColor(Corner.pixel(2, 2)), QColor(255, 0, 0));
  Main().SetMouseMode(3);
  EXPECT_FALSE(Main().MagnifierShown());
}

// A disabled tool-bar button shows its glyph embossed (the light and shadow
// colours in its middle), never an empty face.
TEST_F(MainCommandsTest, DisabledToolButtonsKeepTheirGlyphs) {
  Main();
  const QList<kel::TKelShapeButton*> Buttons = Main().SmallControlPanel->findChildren<kel::TKelShapeButton*>();
  ASSERT_GE(Buttons.size(), 12);
  for (kel::TKelShapeButton* Button : Buttons) {
    Button->setEnabled(false);
    const QImage Face = Button->grab().toImage();
    int Shadow = 0;
    for (int Y = 6; Y < Face.height() - 6; ++Y)
      for (int X = 6; X < Face.width() - 6; ++X)
        if (Face.pixel(X, Y) == qRgb(128, 128, 128)) ++Shadow;
    EXPECT_GT(Shadow, 4) << Button->objectName().toStdString();
  }
}

// ---- Check marks show what is true

TEST_F(MainCommandsTest, CheckMarksFollowTheStateNotTheClick) {
  RunCommands = true;
  Main();
  auto Checked = [&](const char* Name) {
    QAction* A = Main().findChild<QAction*>(Name);
    EXPECT_TRUE(A) << Name;
    return A && A->isChecked();
  };
  // The pop-up's Controls items start as their main-menu twins do, and
  // either one moves both.
  for (const char* Name : {"ViewMainMenu1", "PopMainMenu1", "ViewThumbs1", "PopThumbs1", "ViewToolBar1", "ViewToolBar2",
                           "ViewStatusBar1", "PopStatusBar1"})
    EXPECT_TRUE(Checked(Name)) << Name;
  TriggerItem("PopThumbs1");
  EXPECT_FALSE(Main().AreThumbsVisible());
  EXPECT_FALSE(Checked("PopThumbs1"));
  EXPECT_FALSE(Checked("ViewThumbs1"));
  TriggerItem("ViewThumbs1");
  EXPECT_TRUE(Checked("PopThumbs1"));
  TriggerItem("ViewToolBar2");
  EXPECT_FALSE(Main().IsToolBarVisible());
  EXPECT_FALSE(Checked("ViewToolBar1"));
  TriggerItem("ViewToolBar1");
  EXPECT_TRUE(Checked("ViewToolBar2"));

  // Full Screen with its prompt declined: no mark, in either menu.
  Env.PromptAnswer = 2;
  TriggerItem("FullScreen1");
  EXPECT_EQ(Env.PromptsShown, 1);
  EXPECT_FALSE(Main().FullScreen());
  EXPECT_FALSE(Checked("FullScreen1"));
  EXPECT_FALSE(Checked("PopFullScreen1"));
  Env.PromptAnswer = 1;
  TriggerItem("PopFullScreen1");
  ASSERT_TRUE(Main().FullScreen());
  EXPECT_TRUE(Checked("FullScreen1"));
  EXPECT_TRUE(Checked("PopFullScreen1"));
  // In full screen the marks are those of the full-screen set: no menu.
  EXPECT_FALSE(Checked("PopMainMenu1"));
  TriggerItem("FullScreen1");
  EXPECT_FALSE(Main().FullScreen());
  EXPECT_FALSE(Checked("PopFullScreen1"));
  EXPECT_TRUE(Checked("PopMainMenu1"));

  // The cursor menu's Zoom while auto-fit refuses to go: Normal stays marked.
  WriteSettingBool("ShowAutoFitPrompt", true);
  Env.PromptAnswer = 2;
  Main().CursorItems[1]->trigger();
  EXPECT_TRUE(Main().AutoFit());
  EXPECT_EQ(Main().MouseMode(), 3);
  for (int Mode = 0; Mode < 4; ++Mode) EXPECT_EQ(Main().CursorItems[Mode]->isChecked(), Mode == 3) << Mode;
  Env.PromptAnswer = 1;
  Main().CursorItems[1]->trigger();
  EXPECT_EQ(Main().MouseMode(), 1);
  for (int Mode = 0; Mode < 4; ++Mode) EXPECT_EQ(Main().CursorItems[Mode]->isChecked(), Mode == 1) << Mode;

  // Custom Color... cancelled keeps White marked; a colour chosen marks it.
  QColor Choice;
  auto AnswerColorDialog = [&] {
    auto* Timer = new QTimer(&Main());
    QObject::connect(Timer, &QTimer::timeout, [&Choice, Timer] {
      auto* Dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      if (!Dialog) return;
      Timer->stop();
      Timer->deleteLater();
      if (Choice.isValid()) {
        Dialog->setCurrentColor(Choice);
        Dialog->accept();
      } else {
        Dialog->reject();
      }
    });
    Timer->start(10);
  };
  Main().BackgroundColorItems[1]->trigger();
  ASSERT_EQ(Main().Settings().BackgroundColor, 0xFFFFFF);
  AnswerColorDialog();
  Main().BackgroundColorItems[4]->trigger();
  EXPECT_EQ(Main().Settings().BackgroundColor, 0xFFFFFF);
  for (int I = 0; I < 5; ++I) EXPECT_EQ(Main().BackgroundColorItems[I]->isChecked(), I == 1) << I;
  Choice = QColor(10, 20, 30);
  AnswerColorDialog();
  Main().BackgroundColorItems[4]->trigger();
  EXPECT_EQ(Main().Settings().BackgroundColor, platform::TColor(10 | 20 << 8 | 30 << 16));
  for (int I = 0; I < 5; ++I) EXPECT_EQ(Main().BackgroundColorItems[I]->isChecked(), I == 4) << I;
}

// ---- The magnifier's pop-up and its refresh

TEST_F(MainCommandsTest, AMagnifierUnderThePointerOpensThePicturePopupAndFollowsThePicture) {
  RunCommands = true;
  Env.Picture("a_red.png", 200, 150, QColor(255, 0, 0));
  Env.Picture("b_blue.png", 200, 150, QColor(0, 0, 255));
  Main().OpenPath(Env.File("a_red.png"), false);
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  Main().CursorItems[2]->trigger();
  ASSERT_EQ(Main().MouseMode(), 2);
  rv::TRastrumView& View = *Main().RastrumView1;
  const QPoint Centre(View.OffsetX() + View.DrawWidth() / 2, View.OffsetY() + View.DrawHeight() / 2);
  Main().MagnifyAt(Centre);
  ASSERT_TRUE(Main().MagnifierShown());
  auto LensMiddle = [&] {
    const QImage Lens = Main().MagnifyView->grab().toImage();
    return QColor(Lens.pixel(Lens.width() / 2, Lens.height() / 2));
  };
  EXPECT_EQ(LensMiddle(), QColor(255, 0, 0));

  // A right click lands on the magnifier: the picture's pop-up opens, with
  // the magnifier's preferences offered.
  QContextMenuEvent Right(QContextMenuEvent::Mouse, QPoint(5, 5), Main().MagnifyView->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(Main().MagnifyView, &Right);
  ASSERT_TRUE(WaitUntil([&] { return Main().PopupMenu1->isVisible(); }));
  EXPECT_TRUE(Main().MagnifyPreferences1->isVisible());
  Main().PopupMenu1->hide();

  // The next picture and an empty view come into the magnifier without the
  // pointer moving.
  Main().NextImage();
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  ASSERT_EQ(Main().CurrentFileName(), "b_blue.png");
  ASSERT_TRUE(Main().MagnifierShown());
  EXPECT_EQ(LensMiddle(), QColor(0, 0, 255));
  Main().ClearPictureView();
  const std::uint32_t Rgb = platform::ColorToRGB(View.GetBackground());
  EXPECT_EQ(LensMiddle(), QColor(platform::GetRValue(Rgb), platform::GetGValue(Rgb), platform::GetBValue(Rgb)));
}

// ---- The zoom panel and the tool box follow the picture

TEST_F(MainCommandsTest, TheZoomPanelsLabelShowsATenthOfAPercent) {
  RunCommands = true;
  OpenFolder(1);
  Main().Execute("AutoFit");
  ASSERT_FALSE(Main().AutoFit());
  Main().Execute("ZoomWindow");
  ASSERT_TRUE(Main().ZoomPanel->isVisible());
  Main().ZoomPercentEdited("37.46%");
  EXPECT_EQ(Main().LblZoomPercent->text(), "37.5%");
  EXPECT_EQ(Main().CmbZoomPercent->currentText(), "37%");
  EXPECT_EQ(Main().ZoomTrackBar->value(), 37);
  Main().ZoomPercentEdited("37.54");
  EXPECT_EQ(Main().LblZoomPercent->text(), "37.5%");
  Main().ZoomPercentEdited("37.56");
  EXPECT_EQ(Main().LblZoomPercent->text(), "37.6%");
  Main().Execute("ZoomIn");
  EXPECT_EQ(Main().LblZoomPercent->text(), "47.6%");
  Main().Execute("Zoom100");
  QCoreApplication::processEvents();
  EXPECT_EQ(Main().LblZoomPercent->text(), "100%");
  EXPECT_EQ(Main().CmbZoomPercent->currentText(), "100%");
  Main().ZoomPanel->hide();
}

TEST_F(MainCommandsTest, TheToolBoxSizesFollowResizesTurnsAndThePictureShown) {
  RunCommands = true;
  TToolBox Box;
  Main().FormsCreated();
  Env.Picture("a.png", 200, 125);
  Env.Picture("b.png", 64, 48);
  Main().OpenPath(Env.File("a.png"), false);
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  Main().Execute("ToolBox");
  ASSERT_TRUE(Box.isVisible());
  EXPECT_EQ(Box.EditWidth->text(), "200");
  EXPECT_EQ(Box.EditHeight->text(), "125");
  // Half the width, proportions kept: 62.5 rounds to the even 62.
  Box.EditWidth->selectAll();
  QTest::keyClicks(Box.EditWidth, "100");
  EXPECT_EQ(Box.EditHeight->text(), "62");
  ASSERT_TRUE(Box.SBtnResize->isEnabled());
  Box.SBtnResize->Click();
  EXPECT_EQ(Main().RastrumView1->GetBitmap()->Width(), 100);
  EXPECT_EQ(Main().RastrumView1->GetBitmap()->Height(), 62);
  EXPECT_EQ(Box.EditWidth->text(), "100");
  EXPECT_EQ(Box.EditHeight->text(), "62");
  EXPECT_FALSE(Box.SBtnResize->isEnabled());
  EXPECT_TRUE(Box.SBtnSave->isEnabled());
  // Percent of the picture as it is now.
  Box.CmbWidthType->setCurrentIndex(1);
  EXPECT_EQ(Box.EditWidth->text(), "100");
  Box.CmbWidthType->setCurrentIndex(0);
  // A turn from the main window swaps the boxes.
  Main().Execute("RotateCW");
  EXPECT_EQ(Box.EditWidth->text(), "62");
  EXPECT_EQ(Box.EditHeight->text(), "100");
  // The next picture brings its own size (the edit is left unsaved).
  Env.HelpAnswer = 3;
  Main().Execute("NextImage");
  ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && Main().CurrentFileName() == "b.png"; }));
  EXPECT_EQ(Box.EditWidth->text(), "64");
  EXPECT_EQ(Box.EditHeight->text(), "48");
  EXPECT_FALSE(Box.SBtnSave->isEnabled());
}
