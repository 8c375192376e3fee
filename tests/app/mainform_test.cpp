#include "app/folderlister.h"
#include "app/folderview.h"
#include "app/mainform.h"
#include "app/openfolderdlg.h"
#include "app/toolbox.h"
#include "apptestenv.h"
#include "mainwindowhost.h"
#include "controls/kel/kelprogressfill.h"
#include "controls/support/wnmrulist/wnmrulist.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/io/rastrumio.h"
#include "image/model/rastrumproc.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "platform/cursors.h"
#include "platform/singleinstance.h"
#include "support/crowdedwmf.h"
#include "support/tempfolder.h"
#include "support/tempkeystore.h"

#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QGuiApplication>
#include <QScreen>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

class MainWindowTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  // The picture view as the screen shows it.
  QImage Shown() { return Form().RastrumView1->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  QStringList MenuTexts(QMenu* Menu) {
    QStringList Texts;
    for (QAction* A : Menu->actions())
      if (!A->isSeparator()) Texts << A->text() + (A->isEnabled() ? "" : " (disabled)");
    return Texts;
  }
  void Broken(const std::string& Name) { std::ofstream(Env.File(Name)) << "not a picture at all"; }
  static std::string Bytes(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
  }
};

} // namespace

TEST_F(MainWindowTest, APictureShowsFittedWithItsCornersInPlace) {
  Env.Picture("corners.png", 64, 48);
  Show(Env.File("corners.png"));
  rv::TRastrumView& View = *Form().RastrumView1;
  // Auto-fit: the picture fills the view's height or width.
  EXPECT_TRUE(View.DrawWidth() > 64 && View.DrawHeight() > 48);
  const QImage Screen = Shown();
  const int L = View.OffsetX(), T = View.OffsetY(), R = L + View.DrawWidth() - 1, B = T + View.DrawHeight() - 1;
  struct TCorner {
    int X, Y;
    QRgb Colour;
  };
  const TCorner Corners[] = {{L + 3, T + 3, qRgb(255, 0, 0)},
                             {R - 3, T + 3, qRgb(0, 255, 0)},
                             {L + 3, B - 3, qRgb(0, 0, 255)},
                             {R - 3, B - 3, qRgb(255, 255, 255)},
                             {(L + R) / 2, (T + B) / 2, qRgb(128, 128, 128)}};
  for (const TCorner& C : Corners) EXPECT_EQ(Screen.pixel(C.X, C.Y), C.Colour) << C.X << "," << C.Y;
  EXPECT_EQ(Form().StatusPanelText(0), "corners.png (64x48)");
  EXPECT_EQ(Form().windowTitle(), "Pictrova - " + Env.QFolder() + "/corners.png");
  EXPECT_TRUE(Form().LblToOpen->isHidden());
}

// A drawing whose play stopped at a bound says so beside its name; a whole
// one says nothing.
TEST_F(MainWindowTest, ADrawingShownInPartSaysSo) {
  for (const bool Crowded : {false, true}) {
    // Each in a folder of its own, shown as its folder opens.
    const std::string Name = Crowded ? "crowded/a.wmf" : "square/a.wmf";
    fs::create_directory(Env.File(Name.substr(0, Name.find('/'))));
    const std::vector<std::uint8_t> Wmf = testsupport::SquareWmf(Crowded);
    std::ofstream(Env.File(Name), std::ios::binary).write(reinterpret_cast<const char*>(Wmf.data()), Wmf.size());
    Show(Env.File(Name));
    EXPECT_EQ(Form().StatusPanelText(0).endsWith(" (Not every shape drawn)"), Crowded) << Name;
  }
}

TEST_F(MainWindowTest, ShowingAPictureRunsTheChosenTransition) {
  Env.Picture("a.png", 64, 48, Qt::yellow);
  Env.Picture("b.png", 64, 48, Qt::cyan);
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  View->SelectAndShowFile("b.png");
  Loaded();
  EXPECT_TRUE(Form().RastrumView1->TransitionRunning());
  ASSERT_TRUE(WaitUntil([&] { return !Form().RastrumView1->TransitionRunning(); }));
  const QImage Screen = Shown();
  rv::TRastrumView& V = *Form().RastrumView1;
  EXPECT_EQ(Screen.pixel(V.OffsetX() + V.DrawWidth() / 2, V.OffsetY() + V.DrawHeight() / 2), qRgb(0, 255, 255));
}

TEST_F(MainWindowTest, OnePathOneViewAndTheFoldersMenuFollows) {
  fs::create_directory(Env.File("one"));
  fs::create_directory(Env.File("two&three"));
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Env.File("one/a.png")));
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Env.File("one/b.png")));
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Env.File("two&three/c.png")));
  Show(Env.File("one/a.png"));
  Show(Env.File("one/b.png"));
  ASSERT_EQ(Form().FolderViews().size(), 1u);
  EXPECT_EQ(Form().CurrentFilePath().toStdString(), Env.File("one/b.png"));
  Show(Env.File("two&three/c.png"));
  ASSERT_EQ(Form().FolderViews().size(), 2u);
  EXPECT_EQ(Form().ThumbPageControl->count(), 2);
  EXPECT_EQ(Form().ThumbPageControl->currentIndex(), 1);
  // Captions show "&" as it is.
  EXPECT_EQ(MenuTexts(Form().Windows1),
            (QStringList{QString::fromStdString(Env.File("one")), QString::fromStdString(Env.File("two&&three"))}));

  // The menu brings the first folder back.
  Form().Windows1->actions().front()->trigger();
  EXPECT_EQ(Form().ThumbPageControl->currentIndex(), 0);

  // Closing the views one by one: the last leaves no picture and "[Empty]".
  Form().FolderViews().back()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form().FolderViews().size() == 1; }));
  EXPECT_TRUE(Form().HasImage());
  Form().FolderViews().front()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form().FolderViews().empty(); }));
  EXPECT_FALSE(Form().HasImage());
  EXPECT_EQ(MenuTexts(Form().Windows1), QStringList{"[Empty] (disabled)"});
  EXPECT_FALSE(Form().CloseCurrentFolder1->isEnabled());
  EXPECT_EQ(Form().ThumbPageControl->count(), 0);
  EXPECT_EQ(Form().windowTitle(), "Pictrova by Halvenworth");
  EXPECT_FALSE(Form().LblToOpen->isHidden());
}

// A tab closed while nothing is on the screen (its folder had no picture)
// leaves the picture of the tab now current shown, at its fitted zoom; the
// empty view's zoom is 100 percent meanwhile, not the blank pixel's fit.
TEST_F(MainWindowTest, ATabClosedWithNothingShownLeavesTheCurrentTabsPictureShown) {
  fs::create_directory(Env.File("one"));
  fs::create_directory(Env.File("empty"));
  apptest::MarkedPicture(64, 48).save(QString::fromStdString(Env.File("one/a.png")));
  Show(Env.File("one/a.png"));
  const double Fitted = Form().RastrumView1->Zoom();
  Form().OpenFolderView(Env.File("empty"));
  Loaded();
  ASSERT_FALSE(Form().HasImage());
  EXPECT_EQ(Form().RastrumView1->Zoom(), 100);
  Form().CurrentFolderView()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form().FolderViews().size() == 1; }));
  Loaded();
  EXPECT_TRUE(Form().HasImage());
  EXPECT_EQ(Form().CurrentFilePath().toStdString(), Env.File("one/a.png"));
  EXPECT_EQ(Form().RastrumView1->Zoom(), Fitted);
  EXPECT_TRUE(Form().LblToOpen->isHidden());
}

// Without a picture the title names the current tab's folder: never one
// closed, nor one deleted under its tab.
TEST_F(MainWindowTest, TheTitleNamesTheCurrentFolderOrNone) {
  for (const char* Name : {"one", "two", "three"}) fs::create_directory(Env.File(Name));
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Env.File("one/a.png")));
  auto Title = [&](const char* Folder) { return QString("Pictrova - ") + QString::fromStdString(Env.File(Folder)); };
  auto Views = [&](std::size_t Count) { return WaitUntil([&] { return Form().FolderViews().size() == Count; }); };
  Show(Env.File("one/a.png"));
  Form().ClearPictureView();
  for (const char* Folder : {"two", "three"}) {
    Form().OpenFolderView(Env.File(Folder));
    Loaded();
    EXPECT_EQ(Form().windowTitle(), Title(Folder));
  }
  // The user turns to a tab, then another.
  Form().ThumbPageControl->setCurrentIndex(0);
  EXPECT_EQ(Form().windowTitle(), Title("one"));
  Form().ThumbPageControl->setCurrentIndex(2);
  EXPECT_EQ(Form().windowTitle(), Title("three"));
  // Closed, deleted (the tab left, with nothing on the screen, shows its
  // picture), the last one closed.
  Form().FolderViews().back()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(Views(2));
  EXPECT_EQ(Form().windowTitle(), Title("two"));
  fs::remove_all(Env.File("two"));
  ASSERT_TRUE(Views(1));
  Loaded();
  EXPECT_EQ(Form().windowTitle(), "Pictrova - " + QString::fromStdString(Env.File("one/a.png")));
  Form().FolderViews().back()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(Views(0));
  EXPECT_EQ(Form().windowTitle(), "Pictrova by Halvenworth");
}

// Another run of the program on the same settings adds a folder meanwhile:
// it stays beside this run's. A folder gone is named, and leaves the menu
// and the stored list. A folder's name is its bytes, UTF-8 or not.
TEST_F(MainWindowTest, RecentFoldersKeepTheirPathAndDropMissingOnes) {
  const std::string Odd = Env.File("R&D\xe9");
  fs::create_directory(Odd);
  apptest::SavePicture(apptest::MarkedPicture(8, 8), Odd + "/x.png");
  Show(Odd + "/x.png");
  const std::string RecentKey = "Software\\Halvenworth\\Pictrova 3\\RecentFolders\\";
  wn::TWnMruList OtherRun;
  OtherRun.SetSubKey(RecentKey);
  OtherRun.SetMaxItems(20);
  OtherRun.AddString("/elsewhere");
  QAction* Item = Form().OpenRecent1->actions().front();
  EXPECT_EQ(Item->text(), QString::fromStdString(Env.File("R&&D\xe9")));
  Form().FolderViews().front()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form().FolderViews().empty(); }));
  Form().RecentFolderClick(Item);
  ASSERT_EQ(Form().FolderViews().size(), 1u);
  EXPECT_EQ(Form().FolderViews().front()->GetFolderPath(), Odd);
  EXPECT_EQ(Form().RecentFolders(), (std::vector<std::string>{Odd, "/elsewhere"}));

  Form().FolderViews().front()->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form().FolderViews().empty(); }));
  fs::remove_all(Odd);
  Form().RecentFolderClick(Form().OpenRecent1->actions().front());
  EXPECT_EQ(Env.MessageBoxes,
            QStringList{QString::fromStdString(Odd) + " is not a valid Folder. It has been removed from the recent folders."});
  EXPECT_TRUE(Form().FolderViews().empty());
  EXPECT_EQ(MenuTexts(Form().OpenRecent1), QStringList{"/elsewhere"});
  EXPECT_EQ(testing_support::KeyValueTexts("\\" + RecentKey),
            (std::map<std::string, std::string>{{"b", "/elsewhere"}, {"MRUList", "b"}}));
}

TEST_F(MainWindowTest, HiddenFolderTabShowsAgainWithASecondFolder) {
  WriteSettingBool("HideFolderTab", true);
  fs::create_directory(Env.File("p"));
  fs::create_directory(Env.File("q"));
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Env.File("p/a.png")));
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Env.File("q/a.png")));
  Show(Env.File("p/a.png"));
  ASSERT_TRUE(WaitUntil([&] { return !Form().TabHackTimer->isActive(); }));
  EXPECT_FALSE(Form().ThumbPageControl->tabBar()->isVisibleTo(Form().ThumbPageControl));
  const int OneHeight = Form().ThumbPageControl->height();
  EXPECT_EQ(OneHeight, Form().FolderViews().front()->FilmStripHeight() + 4);
  Show(Env.File("q/a.png"));
  ASSERT_TRUE(WaitUntil([&] { return !Form().TabHackTimer->isActive(); }));
  EXPECT_TRUE(Form().ThumbPageControl->tabBar()->isVisibleTo(Form().ThumbPageControl));
  EXPECT_GT(Form().ThumbPageControl->height(), OneHeight);
}

TEST_F(MainWindowTest, ALoadFailureOffersDeleteOrSkip) {
  Env.Picture("a.png");
  Broken("b.png");
  Env.Picture("c.png");
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  View->WnSHFileOperator->OnConfirm = [](platform::TFileOpConfirm, const std::string&, const std::string&) {
    return platform::TFileOpAnswer::Yes;
  };

  // Skip: the row is flagged and the next picture comes.
  Env.HelpAnswer = 2;
  View->SelectAndShowFile("b.png");
  Loaded();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpCaption, "File Error");
  EXPECT_EQ(Env.LastHelpText, "The following error occured while attempting to open \"b.png\":");
  EXPECT_EQ(View->Rows().SubItem(View->Rows().Row(View->Rows().IndexOf("b.png")), 7), "Y");
  EXPECT_EQ(Form().CurrentFileName(), "c.png");

  // Stepping back onto it goes on to the one before.
  View->SelectSingleFile("c.png");
  Env.HelpShown = 0;
  View->ShowPreviousFile();
  Loaded();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Form().CurrentFileName(), "a.png");

  // Delete: the file goes and the one that took its place is shown.
  Env.HelpAnswer = 1;
  View->SelectAndShowFile("b.png");
  Loaded();
  EXPECT_FALSE(fs::exists(Env.File("b.png")));
  EXPECT_EQ(View->Names(), (std::vector<std::string>{"a.png", "c.png"}));
  EXPECT_EQ(Form().CurrentFileName(), "c.png");
  EXPECT_TRUE(Form().HasImage());
}

// "Delete" in the message, then "No" to the delete's own question: the file
// stays on disk and in the view.
TEST_F(MainWindowTest, ADeleteRefusedKeepsTheFileInTheView) {
  Env.Picture("a.png");
  Broken("b.png");
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  View->WnSHFileOperator->OnConfirm = [](platform::TFileOpConfirm, const std::string&, const std::string&) {
    return platform::TFileOpAnswer::No;
  };
  Env.HelpAnswer = 1;
  View->SelectAndShowFile("b.png");
  EXPECT_TRUE(fs::exists(Env.File("b.png")));
  EXPECT_EQ(View->Names(), (std::vector<std::string>{"a.png", "b.png"}));
}

// A second start hands over the folder of the first one's arguments while the
// first is still showing a start-up message: the folder opens once.
TEST_F(MainWindowTest, AHandOffDuringTheStartUpMessageOpensNoSecondTab) {
  Env.Picture("s.png");
  testing_support::TTempFolder Runtime;
  const QByteArray OldRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", Runtime.QPath().toUtf8());
  platform::TDdeServerConv Server("PictrovaTest", "Ptv_Main");
  ASSERT_TRUE(Server.Listen());
  int Messages = 0;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    ++Messages;
    platform::TDdeClientConv Client;
    Client.SetLink("PictrovaTest", "Ptv_Main");
    if (Client.OpenLink(2000)) Client.ExecuteMacro(Env.Folder());
    Client.CloseLink();
    // The message's own loop, while the user reads it.
    QEventLoop Loop;
    QTimer::singleShot(300, &Loop, &QEventLoop::quit);
    Loop.exec();
    D.done(1);
  };
  {
    TMainForm Started({Env.Folder(), Env.File("notes.qqzz")}, &Server);
    EXPECT_EQ(Messages, 1);
    QEventLoop Loop;
    QTimer::singleShot(300, &Loop, &QEventLoop::quit);
    Loop.exec();
    EXPECT_EQ(Started.FolderViews().size(), 1u);
    EXPECT_EQ(Started.ThumbPageControl->count(), 1);
  }
  qputenv("XDG_RUNTIME_DIR", OldRuntime);
}

TEST_F(MainWindowTest, AFolderOfBrokenFilesAsksOncePerFile) {
  Broken("x.png");
  Broken("y.png");
  Broken("z.png");
  Env.HelpAnswer = 2;
  Show(Env.File("x.png"));
  EXPECT_EQ(Env.HelpShown, 3);
  EXPECT_FALSE(Form().HasImage());
}

TEST_F(MainWindowTest, AFileThatVanishesDuringTheFirstMessageAtStartIsOneMoreLoadError) {
  Broken("a.jpg");
  Env.Picture("b.jpg", 64, 48, Qt::yellow);
  Env.Picture("c.jpg", 64, 48, Qt::cyan);
  QStringList Texts;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    Texts << D.LblHelpText->text();
    if (Texts.size() > 1) return D.done(2); // skip
    // While the message about a.jpg is up another program removes b.jpg;
    // the user deletes a.jpg, and b.jpg comes next on the strip.
    fs::remove(Env.File("b.jpg"));
    MainForm->CurrentFolderView()->WnSHFileOperator->OnConfirm =
        [](platform::TFileOpConfirm, const std::string&, const std::string&) { return platform::TFileOpAnswer::Yes; };
    D.done(1);
  };
  // The folder is opened by the start itself, outside any event handler.
  std::unique_ptr<TMainForm> Started;
  ASSERT_NO_THROW(Started = std::make_unique<TMainForm>(std::vector<std::string>{Env.Folder()}, nullptr));
  ASSERT_TRUE(WaitUntil([&] { return !Started->PictureLoadPending(); }));
  EXPECT_FALSE(fs::exists(Env.File("a.jpg")));
  ASSERT_EQ(Texts.size(), 2);
  EXPECT_EQ(Texts[1], "The following error occured while attempting to open \"b.jpg\":");
  EXPECT_EQ(Started->CurrentFileName(), "c.jpg");
  EXPECT_TRUE(Started->HasImage());
}

TEST_F(MainWindowTest, AFailureWhileTheStartOpensAFolderReachesTheErrorPath) {
  Broken("a.png");
  int Shown = 0;
  QString Caption, Text;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    if (++Shown == 1) throw std::runtime_error("The message could not be shown");
    Caption = D.windowTitle();
    Text = D.LblHelpText->text();
    D.done(1);
  };
  std::unique_ptr<TMainForm> Started;
  ASSERT_NO_THROW(Started = std::make_unique<TMainForm>(std::vector<std::string>{Env.Folder()}, nullptr));
  ASSERT_TRUE(WaitUntil([&] { return !Started->PictureLoadPending(); }));
  EXPECT_EQ(Shown, 2);
  EXPECT_EQ(Caption, "Error");
  EXPECT_EQ(Text, "The message could not be shown");
}

TEST_F(MainWindowTest, AFolderViewIsDockedBeforeItsFirstPictureLoads) {
  Broken("a.png");
  Env.Picture("b.png");
  bool Asked = false, Docked = false;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    const TFolderViewForm* View = Form().CurrentFolderView();
    Asked = true;
    Docked = View && !View->isWindow() && Form().ThumbPageControl->indexOf(View->parentWidget()) >= 0;
    D.done(2);
  };
  Show(Env.File("a.png"));
  EXPECT_TRUE(Asked);
  EXPECT_TRUE(Docked);
  EXPECT_EQ(Form().CurrentFileName(), "b.png");
}

TEST_F(MainWindowTest, AFolderClosedWhileItsFirstPictureLoadsLeavesNoTab) {
  const std::string Folder = Env.File("gone");
  fs::create_directory(Folder);
  const QString Picture = QString::fromStdString(Folder + "/a.png");
  apptest::MarkedPicture(64, 480).save(Picture);
  // Cut inside the checksum of its last data: the rows come, then the error.
  fs::resize_file(Picture.toStdString(), fs::file_size(Picture.toStdString()) - 16);
  // The folder goes while the picture is read; the user closes the folder.
  Form().RastrumView1->GetIO()->OnProgress = [&](void*, int) { fs::remove_all(Folder); };
  Env.HelpAnswer = 1;
  Form().OpenPath(Picture.toStdString(), false);
  Loaded();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "The Image Folder you have open has either been deleted, moved, or renamed.");
  EXPECT_TRUE(Form().FolderViews().empty());
  EXPECT_EQ(Form().CurrentFolderView(), nullptr);
  EXPECT_EQ(Form().ThumbPageControl->count(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Form().ThumbPageControl->count() == 0; }, 500));
}

TEST_F(MainWindowTest, CommandsOnTheShownPictureKeepToItsOwnFolder) {
  fs::create_directory(Env.File("one"));
  fs::create_directory(Env.File("two"));
  apptest::MarkedPicture(64, 48, Qt::yellow).save(QString::fromStdString(Env.File("one/same.png")));
  apptest::MarkedPicture(64, 48, Qt::cyan).save(QString::fromStdString(Env.File("two/same.png")));
  Show(Env.File("two/same.png"));
  TFolderViewForm* Two = Form().CurrentFolderView();
  Show(Env.File("one/same.png"));
  TFolderViewForm* One = Form().CurrentFolderView();
  ASSERT_NE(One, Two);
  const QString Path = QString::fromStdString(Env.File("one/same.png"));
  auto Centre = [&] {
    rv::TRastrumView& V = *Form().RastrumView1;
    return Shown().pixel(V.OffsetX() + V.DrawWidth() / 2, V.OffsetY() + V.DrawHeight() / 2);
  };
  // The user turns to the other folder's tab; the picture stays.
  Form().ThumbPageControl->setCurrentWidget(Two->parentWidget());
  ASSERT_EQ(Form().CurrentFolderView(), Two);
  ASSERT_EQ(Form().CurrentFilePath(), Path);

  // Reload reads the shown file again, not its namesake in the other folder.
  Form().ReloadImage();
  ASSERT_TRUE(WaitUntil([&] { return !Form().RastrumView1->TransitionRunning(); }));
  EXPECT_EQ(Form().CurrentFilePath(), Path);
  EXPECT_EQ(Centre(), qRgb(255, 255, 0));
  // Nor does a rename of the namesake carry the shown picture off to it,
  // where the next save would write it; a rename of the shown file does.
  Two->RenameFileItem("same.png", "renamed.png", false);
  EXPECT_EQ(Form().CurrentFilePath(), Path);
  EXPECT_EQ(Form().CurrentFileName(), "same.png");
  One->RenameFileItem("same.png", "moved.png", false);
  EXPECT_EQ(Form().CurrentFilePath(), QString::fromStdString(Env.File("one/moved.png")));

  // With the shown file's folder closed, reload still reads that file.
  fs::rename(Env.File("one/same.png"), Env.File("one/moved.png"));
  One->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form().FolderViews().size() == 1; }));
  Form().ReloadImage();
  EXPECT_EQ(Form().CurrentFolderView(), Two);
  EXPECT_EQ(Env.HelpShown, 0);
}

// A reload of the shown picture from another folder's tab reads its file
// with the window answering. A hand-off that opens another file meanwhile has
// the screen: the reload's picture is not shown under the other's name, and
// a turn and a save write the other file's own picture, asking nothing.
TEST_F(MainWindowTest, AReloadGivesWayToAPictureOpenedWhileItReads) {
  fs::create_directory(Env.File("one"));
  fs::create_directory(Env.File("two"));
  const std::string Read = Env.Picture("one/a.png", 64, 480, Qt::yellow);
  const std::string Opened = Env.Picture("two/c.png", 64, 48, Qt::cyan);
  const std::string Before = Bytes(Read);
  Show(Opened);
  TFolderViewForm* Two = Form().CurrentFolderView();
  Show(Read);
  Form().ThumbPageControl->setCurrentWidget(Two->parentWidget());
  ASSERT_EQ(Form().CurrentFilePath().toStdString(), Read);
  bool HandedOff = false;
  Form().RastrumView1->GetIO()->OnProgress = [&](void*, int) {
    if (std::exchange(HandedOff, true)) return;
    Form().Ptv_MainExecuteMacro({Opened});
    // Its picture is on the screen while the reload still waits.
    EXPECT_TRUE(WaitUntil([&] { return Form().StatusPanelText(0) == "c.png (64x48)"; }));
  };
  Form().ReloadImage();
  Form().RastrumView1->GetIO()->OnProgress = nullptr;
  Loaded();
  ASSERT_TRUE(HandedOff);
  EXPECT_EQ(Form().CurrentFilePath().toStdString(), Opened);
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Height(), 48);
  Form().RotateImage(90);
  EXPECT_TRUE(Form().SaveModifiedImage());
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(QImage(QString::fromStdString(Opened)).size(), QSize(48, 64));
  EXPECT_TRUE(Bytes(Read) == Before);
}

TEST_F(MainWindowTest, LeavingAModifiedPicture) {
  struct TCase {
    int Width, Height;
    bool AutoSave;
    int Answer;            // of the overwrite question
    int Prompts;           // questions seen
    bool Saved;            // the file now holds the turned picture
    bool DontAskAfterwards;
  };
  const TCase Cases[] = {
      {400, 500, true, 1, 0, true, false},  // large and only turned: saved silently
      {200, 500, true, 1, 1, true, false},  // small: asked, "Yes" overwrites
      {200, 500, true, 3, 1, false, true},  // "Discard Changes": never asked again
      {400, 500, false, 1, 1, true, false}, // no auto-save: asked
  };
  for (const TCase& C : Cases) {
    WriteSettingBool("AutoSaveImages", C.AutoSave);
    FForm.reset();
    const std::string Name = "r" + std::to_string(&C - Cases) + ".bmp";
    Env.Picture(Name, C.Width, C.Height);
    Show(Env.File(Name));
    Form().RastrumView1->GetProc()->Rotate(-90, true);
    Form().UpdateModifiedState();
    ASSERT_TRUE(Form().IsImageModified());
    Env.HelpShown = 0;
    Env.HelpAnswer = C.Answer;
    EXPECT_EQ(Form().QuerySaveModified(), TMainForm::TLeaveAnswer::Go);
    EXPECT_EQ(Env.HelpShown, C.Prompts) << Name;
    EXPECT_EQ(QImage(QString::fromStdString(Env.File(Name))).width(), C.Saved ? C.Height : C.Width) << Name;
    EXPECT_EQ(Form().DontAskToSave(), C.DontAskAfterwards) << Name;
    if (C.DontAskAfterwards) {
      EXPECT_EQ(Form().QuerySaveModified(), TMainForm::TLeaveAnswer::Go);
      EXPECT_EQ(Env.HelpShown, C.Prompts);
    }
  }
}

TEST_F(MainWindowTest, ZoomStepsRunOneTenTwenty) {
  Env.Picture("z.png");
  Show(Env.File("z.png"));
  Form().ToggleAutoFit();
  ASSERT_FALSE(Form().AutoFit());
  struct TStep {
    double From, Step, To;
  };
  const TStep Steps[] = {{1, 10, 10}, {10, 10, 20}, {20, -10, 10}, {10, -10, 1}, {1, -10, 1}, {50, 0, 50}};
  for (const TStep& S : Steps) {
    Form().RastrumView1->SetZoom(S.From);
    Form().ZoomBy(S.Step);
    EXPECT_DOUBLE_EQ(Form().RastrumView1->Zoom(), S.To) << S.From << " by " << S.Step;
  }
  // With auto-fit on, zoom commands do nothing.
  Form().ToggleAutoFit();
  const double Fitted = Form().RastrumView1->Zoom();
  Form().ZoomBy(10);
  EXPECT_DOUBLE_EQ(Form().RastrumView1->Zoom(), Fitted);
}

TEST_F(MainWindowTest, ControlVisibilityIsKeptAndWrittenAtClose) {
  Form().SetThumbsVisible(false);
  Form().SetStatusBarVisible(false);
  Form().SetToolBarVisible(false);
  EXPECT_FALSE(Form().ThumbPageControl->isVisible());
  EXPECT_EQ(Form().BigControlPanel->height(), 0);
  EXPECT_TRUE(Form().PopViewToolBar1->isVisible());
  EXPECT_FALSE(Form().PopViewMainMenu1->isVisible());
  Form().SetBackgroundColor(0xFFFFFF);
  Form().close();
  struct TValue {
    std::string Name, Text;
  };
  const TValue Values[] = {{"ThumbsVisible", "False"}, {"StatusVisible", "False"}, {"NavVisible", "False"},
                           {"MenuVisible", "True"},    {"FileMruMaxItems", "20"},  {BackgroundColorValueName(), "16777215"}};
  for (const TValue& V : Values) EXPECT_EQ(ReadSetting(V.Name), V.Text) << V.Name;
  // The next start comes up the same.
  FForm.reset();
  EXPECT_FALSE(Form().AreThumbsVisible());
  EXPECT_FALSE(Form().ThumbPageControl->isVisible());
}

TEST_F(MainWindowTest, AFolderHandedOverOpensAsATab) {
  Env.Picture("h.png");
  Form().Ptv_MainExecuteMacro({Env.Folder()});
  ASSERT_EQ(Form().FolderViews().size(), 1u);
  EXPECT_EQ(Form().CurrentFileName(), "h.png");
  Form().Ptv_MainExecuteMacro({Env.Folder()});
  EXPECT_EQ(Form().FolderViews().size(), 1u);
}

// What would leave nothing on the screen in place of an edit asks first: a
// folder of no pictures handed over, the shown picture deselected. Kept,
// the edit stays; discarded, the empty folder's tab opens.
TEST_F(MainWindowTest, AnEditIsAskedAboutBeforeNothingTakesItsPlace) {
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  Form().RastrumView1->GetProc()->Rotate(-90, true);
  Form().UpdateModifiedState();
  ASSERT_TRUE(Form().IsImageModified());
  testing_support::TTempFolder Empty;
  // "No", and no name given in the save-as dialog.
  Env.HelpAnswer = 2;
  Form().Ptv_MainExecuteMacro({Empty.Path()});
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Form().FolderViews().size(), 1u);
  EXPECT_EQ(Form().CurrentFileName(), "a.png");
  EXPECT_TRUE(Form().IsImageModified());

  TFolderViewForm* View = Form().CurrentFolderView();
  ASSERT_NE(View, nullptr);
  rv::TRastrumMView& Strip = *View->ThumbView;
  apptest::Click(&Strip, QPoint(Strip.ImageID(0) - Strip.ViewX() + Strip.ThumbWidth() / 2, Strip.ImageTag(0) + 20),
                 Qt::LeftButton, Qt::ControlModifier);
  EXPECT_TRUE(View->SelectedNames().empty());
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Form().CurrentFileName(), "a.png");
  EXPECT_TRUE(Form().IsImageModified());

  Env.HelpAnswer = 3;
  Form().Ptv_MainExecuteMacro({Empty.Path()});
  EXPECT_EQ(Env.HelpShown, 3);
  EXPECT_EQ(Form().FolderViews().size(), 2u);
  EXPECT_FALSE(Form().HasImage());
  EXPECT_EQ(QImage(QString::fromStdString(Env.File("a.png"))).size(), QSize(64, 48));
}

// The session's end (a termination signal) while a file that cannot be read
// is reported: the report ends as "Skip", the next broken file asks
// nothing, and the window closes as Exit does, its settings written.
TEST_F(MainWindowTest, TheSessionsEndEndsARunOfLoadErrorsAndCloses) {
  Broken("a.png");
  Broken("b.png");
  int Asked = 0;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    ++Asked;
    // Shown modally, as the program shows it.
    D.setWindowModality(Qt::ApplicationModal);
    Form().CloseForSession();
    EXPECT_FALSE(D.isVisible());
    EXPECT_EQ(D.result(), 2);
  };
  Show(Env.File("a.png"));
  ASSERT_TRUE(WaitUntil([&] { return !Form().isVisible(); }));
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(ReadSetting("SlideShowInterval"), "5000");
}

// The session's end while a step asks about the edit (the question's own
// loop runs meanwhile): the question stays the only one, a step that comes
// meanwhile does not go on, and the close waits for the answer. "Discard
// Changes" then closes the window without asking again, and the step the
// question was for is not taken: the file stays as it was, and no other
// picture comes. A save's question about a file another program replaced is
// such a question too: its "Discard Changes" leaves the other program's
// file, its "Overwrite" writes the edit, and either ends the program.
TEST_F(MainWindowTest, ACloseWhileAStepAsksAboutTheEditWaitsForTheAnswer) {
  struct TStep {
    const char* Name;
    std::function<void(TFolderViewForm&)> Run;
    // Another program put its file in a.png's place first.
    bool Replaced = false;
    int Answer = 3;
  };
  TToolBox Box;
  const TStep Steps[] = {
      {"Delete", [](TFolderViewForm& View) { View.Delete1->trigger(); }},
      {"Next", [this](TFolderViewForm&) { apptest::PressKey(Form().KeyCatcher, Qt::Key_Right); }},
      {"Check for Updates", [this](TFolderViewForm&) { Form().Execute("CheckForUpdates"); }},
      {"Exit", [this](TFolderViewForm&) { Form().Execute("Exit"); }},
      {"Save", [this](TFolderViewForm&) { apptest::PressKey(Form().KeyCatcher, Qt::Key_S, Qt::ControlModifier); },
       true},
      {"Save to File", [&](TFolderViewForm&) { Box.SBtnSave->Click(); }, true, 1},
  };
  for (const char* Name : {"a.png", "b.png"}) Env.Picture(Name, 200, 125);
  const std::string Shown = Env.File("a.png"), Other = Env.File("other.png");
  for (const TStep& S : Steps) {
    FForm.reset();
    Env.Picture("a.png", 200, 125);
    Show(Shown);
    Form().FormsCreated();
    TFolderViewForm* View = Form().CurrentFolderView();
    ASSERT_NE(View, nullptr);
    // The delete's own question, were it asked first, says yes.
    View->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::Yes; };
    apptest::PressKey(Form().KeyCatcher, Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(Form().IsImageModified());
    if (S.Replaced) {
      Env.Picture("other.png", 200, 125, Qt::yellow);
      fs::copy_file(Other, Shown + ".new");
      fs::rename(Shown + ".new", Shown);
    }
    const std::string Before = Bytes(Shown);
    int Asked = 0;
    bool Waited = false;
    THelpDlg::ModalAnswer = [&](THelpDlg& D) {
      // Modal, as the program shows it.
      D.setWindowModality(Qt::ApplicationModal);
      if (++Asked == 1) {
        Form().CloseForSession();
        Form().NextImage();
        QCoreApplication::processEvents();
        Waited = D.isVisible() && Form().isVisible();
      }
      D.done(S.Answer);
    };
    S.Run(*View);
    EXPECT_TRUE(Waited) << S.Name;
    EXPECT_EQ(Form().CurrentFileName(), "a.png") << S.Name;
    EXPECT_FALSE(Form().PictureLoadPending()) << S.Name;
    ASSERT_TRUE(WaitUntil([&] { return !Form().isVisible(); })) << S.Name;
    EXPECT_EQ(Asked, 1) << S.Name;
    // "Overwrite" wrote the turned picture; any other answer left the file.
    if (S.Answer == 1) {
      EXPECT_EQ(QImage(QString::fromStdString(Shown)).size(), QSize(125, 200)) << S.Name;
    } else {
      EXPECT_TRUE(Bytes(Shown) == Before) << S.Name;
    }
    // Closed as File > Exit closes: the settings written.
    EXPECT_TRUE(Form().Closing()) << S.Name;
  }
}

// A question whose loop ends by an exception leaves nothing asking: the next
// close asks about the edit and closes.
TEST_F(MainWindowTest, AQuestionEndedByAnExceptionLeavesNoCloseWaiting) {
  Env.Picture("a.png", 200, 125);
  Show(Env.File("a.png"));
  apptest::PressKey(Form().KeyCatcher, Qt::Key_R, Qt::ControlModifier);
  THelpDlg::ModalAnswer = [](THelpDlg&) { throw std::runtime_error("The question could not be shown"); };
  EXPECT_THROW(Form().QuerySaveModified(), std::runtime_error);
  EXPECT_FALSE(Form().QuestionUp());
  int Asked = 0;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    ++Asked;
    D.done(3);
  };
  Form().close();
  EXPECT_EQ(Asked, 1);
  EXPECT_FALSE(Form().isVisible());
  EXPECT_TRUE(Form().Closing());
}

TEST_F(MainWindowTest, PlacementAndRecentFoldersAreBackAfterARestart) {
  std::vector<std::string> Folders;
  for (const char* Name : {"older", "old", "new"}) {
    Folders.push_back(Env.File(Name));
    fs::create_directory(Folders.back());
    apptest::MarkedPicture(8, 8).save(QString::fromStdString(Folders.back() + "/a.png"));
  }
  Form().setGeometry(100, 120, 500, 400);
  for (const std::string& F : Folders) Show(F + "/a.png");
  Form().close();
  FForm.reset();
  EXPECT_EQ(Form().normalGeometry(), QRect(100, 120, 500, 400));
  const std::vector<std::string> Newest = {Folders[2], Folders[1], Folders[0]};
  EXPECT_EQ(Form().RecentFolders(), Newest);
  EXPECT_EQ(MenuTexts(Form().OpenRecent1), (QStringList{QString::fromStdString(Folders[2]),
                                                        QString::fromStdString(Folders[1]),
                                                        QString::fromStdString(Folders[0])}));

  // A smaller capacity keeps the newest; none keeps nothing.
  struct TCase {
    int Capacity;
    std::vector<std::string> Kept;
  };
  const TCase Cases[] = {{2, {Newest[0], Newest[1]}}, {0, {}}};
  for (const TCase& C : Cases) {
    Form().MutableSettings().FileMruMaxItems = C.Capacity;
    Form().close();
    FForm.reset();
    EXPECT_EQ(Form().RecentFolders(), C.Kept) << C.Capacity;
  }
  EXPECT_EQ(MenuTexts(Form().OpenRecent1), QStringList{"[Empty] (disabled)"});
}

TEST_F(MainWindowTest, APlacementOnNoScreenComesBackOntoOne) {
  Form().setGeometry(100, 100, 400, 300);
  Form().close();
  FForm.reset();
  platform::TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey("\\Software\\Halvenworth\\Pictrova 3\\WinState\\MainForm", false));
  const std::string Stored = Reg.ReadString("NormalPos");
  EXPECT_FALSE(Stored.empty());
  Reg.WriteString("NormalPos", "30000,30000,30400,30300");
  Reg.CloseKey();
  const QRect Screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(Screen.intersects(Form().normalGeometry())) << Form().normalGeometry().x();
}

namespace {

// An animated GIF made by ImageMagick: empty when the tool is missing.
std::string MakeGif(const std::string& Path, const std::string& Frames) {
  const std::string Command = "convert " + Frames + " '" + Path + "' 2>/dev/null";
  return std::system(Command.c_str()) == 0 && fs::exists(Path) ? Path : std::string();
}

} // namespace

TEST_F(MainWindowTest, AnimatedGifsPlayFromTheHiddenThumbnailView) {
  WriteSettingBool("AnimateGif", true);
  WriteSettingInt("ImageTransitionEffect", 0);
  // Three full frames, then one small frame over the last, left in place.
  const std::string Gif = MakeGif(Env.File("anim.gif"),
                                  "-dispose none -delay 2 -size 16x16 xc:red xc:lime -delay 30 xc:blue "
                                  "-delay 65535 '(' -size 8x8 xc:yellow -repage 16x16+4+4 ')'");
  if (Gif.empty()) GTEST_SKIP() << "ImageMagick's convert is needed to make the GIF";
  Show(Gif);
  rv::TRastrumView& V = *Form().RastrumView1;
  auto Middle = [&] {
    const QImage Screen = Shown();
    return Screen.pixel(V.OffsetX() + V.DrawWidth() / 2, V.OffsetY() + V.DrawHeight() / 2);
  };
  auto Corner = [&] {
    const QImage Screen = Shown();
    return Screen.pixel(V.OffsetX() + 1, V.OffsetY() + 1);
  };
  EXPECT_EQ(Form().RastrumMView1->ImageCount(), 4);
  EXPECT_EQ(Middle(), qRgb(255, 0, 0));
  ASSERT_TRUE(Form().GifTimer->isActive());
  // Delays in hundredths, kept within 50 and 10,000 ms.
  struct TStep {
    QRgb Middle, Corner;
    int NextInterval;
  };
  const TStep Steps[] = {{qRgb(0, 255, 0), qRgb(0, 255, 0), 50},
                         {qRgb(0, 0, 255), qRgb(0, 0, 255), 300},
                         {qRgb(255, 255, 0), qRgb(0, 0, 255), 10000},
                         {qRgb(255, 0, 0), qRgb(255, 0, 0), 50}};
  for (const TStep& S : Steps) {
    Form().GifTimerTimer();
    EXPECT_EQ(Middle(), S.Middle) << Form().GifFrameIndex();
    EXPECT_EQ(Corner(), S.Corner) << Form().GifFrameIndex();
    EXPECT_EQ(Form().GifTimer->interval(), S.NextInterval) << Form().GifFrameIndex();
  }
  // A frame is no edit: the picture stays unmodified.
  EXPECT_FALSE(Form().IsImageModified());

  // One frame never starts the timer; animation off stops it.
  const std::string Still = MakeGif(Env.File("still.gif"), "-size 8x8 xc:white");
  TFolderViewForm* View = Form().CurrentFolderView();
  ASSERT_TRUE(WaitUntil([&] { return View->Rows().IndexOf("still.gif") >= 0; }));
  Show(Still);
  EXPECT_FALSE(Form().GifTimer->isActive());
  Show(Gif);
  EXPECT_TRUE(Form().GifTimer->isActive());
  Form().AnimateGif1->trigger();
  EXPECT_FALSE(Form().GifTimer->isActive());
}

// While the first folder is read with nothing on screen, "Please wait..."
// stands where the picture will come; a click on it, as on the hint, opens
// the open-folder dialog.
TEST_F(MainWindowTest, PleaseWaitShowsWhileAFolderIsReadWithNothingShown) {
  Env.Picture("a.png", 64, 48);
  struct TWatch : QObject {
    QStringList Seen;
    bool eventFilter(QObject*, QEvent* E) override {
      if (E->type() == QEvent::Show) Seen << "show";
      if (E->type() == QEvent::Paint) Seen << "paint";
      if (E->type() == QEvent::Hide) Seen << "hide";
      return false;
    }
  } Watch;
  // A window on screen for a while, as the user's is.
  ASSERT_TRUE(WaitUntil([&] { return Form().windowHandle() && Form().windowHandle()->isExposed(); }));
  Form().PnlPleaseWait->installEventFilter(&Watch);
  EXPECT_TRUE(Form().PnlPleaseWait->isHidden());
  Form().OpenPath(Env.File("a.png"), false);
  EXPECT_EQ(Watch.Seen, (QStringList{"show", "paint", "hide"}));
  EXPECT_EQ(Form().PnlPleaseWait->text(), "Please wait...");
  Loaded();
  // With a picture on screen a second folder does not ask to wait.
  Watch.Seen.clear();
  fs::create_directory(Env.File("more"));
  Env.Picture("more/b.png", 64, 48);
  Form().OpenPath(Env.File("more/b.png"), false);
  EXPECT_TRUE(Watch.Seen.isEmpty()) << Watch.Seen.join(',').toStdString();
  Loaded();
  Form().PnlPleaseWait->removeEventFilter(&Watch);

  // Without a picture a click on it runs the open command.
  Form().ClearPictureView();
  int Asked = 0;
  TOpenFolderForm Dialog({Env.Folder()});
  TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
    ++Asked;
    D.done(2);
  };
  apptest::Click(Form().PnlPleaseWait, QPoint(5, 5));
  TOpenFolderForm::ModalAnswer = nullptr;
  EXPECT_EQ(Asked, 1);

  // After Close Folder the hint is back; a large folder opened then goes on
  // from the event loop, and "Please wait..." stands in the hint's place
  // until its first picture is asked for.
  for (int I = 0; I < 5 && !Form().FolderViews().empty(); ++I) Form().Execute("CloseFolder");
  ASSERT_FALSE(Form().LblToOpen->isHidden());
  fs::create_directory(Env.File("big"));
  const std::string First = Env.Picture("big/p0000.png");
  for (std::size_t I = 1; I <= TFolderLister::SmallFolder; ++I)
    fs::create_hard_link(First, Env.File("big/p" + std::to_string(10000 + I) + ".png"));
  Form().OpenFolderView(Env.File("big"));
  int Wrong = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const bool Asked = !Form().CurrentFileName().isEmpty();
    Wrong += !Form().LblToOpen->isHidden() || Form().PnlPleaseWait->isHidden() != Asked;
    return Asked;
  }));
  EXPECT_EQ(Wrong, 0) << "the hint showed, or no panel, while the folder was read";
  Loaded();
  EXPECT_TRUE(Form().PnlPleaseWait->isHidden());
  EXPECT_TRUE(Form().LblToOpen->isHidden());
}

// The supporting collection's hand cursors are in the screen's table once
// the main window is there.
TEST_F(MainWindowTest, TheHandCursorsAreRegistered) {
  Form();
  ASSERT_TRUE(platform::IsCursorRegistered(14000));
  ASSERT_TRUE(platform::IsCursorRegistered(14001));
  EXPECT_EQ(platform::CursorOf(14000).shape(), Qt::OpenHandCursor);
  EXPECT_EQ(platform::CursorOf(14001).shape(), Qt::ClosedHandCursor);
}

TEST_F(MainWindowTest, OpeningAFolderCountsItsFilesOnTheProgressBar) {
  for (const char* Name : {"a.png", "b.png", "c.png"}) Env.Picture(Name);
  Form().OpenFolderView(Env.Folder());
  // A small folder is listed whole before the view shows: the bar counted
  // its three files and is back at 0.
  EXPECT_EQ(Form().ProgressBar1->MaxValue(), 3);
  EXPECT_EQ(Form().ProgressPosition(), 0);
  // The picture's read reports percents on the same bar.
  Loaded();
  EXPECT_EQ(Form().ProgressBar1->MaxValue(), 100);
  EXPECT_EQ(Form().ProgressPosition(), 0);

  // A large folder is listed while the window goes on: the bar shows the
  // count so far of all its files between the event loop's turns.
  const std::string Big = Env.File("big");
  fs::create_directory(Big);
  const std::string First = Big + "/p0000.png";
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(First));
  const int Count = 2600;
  for (int I = 1; I < Count; ++I) {
    const std::string Number = std::to_string(I);
    fs::copy_file(First, Big + "/p" + std::string(4 - Number.size(), '0') + Number + ".png");
  }
  std::vector<std::pair<int, int>> Seen;
  // The picture asked for is the last one listed: its read comes after.
  Form().OpenFolderView(Big + "/p2599.png");
  TFolderViewForm* View = Form().CurrentFolderView();
  QElapsedTimer Clock;
  Clock.start();
  while (Clock.elapsed() < 20000 &&
         (View->Names().size() < static_cast<std::size_t>(Count) || Form().PictureLoadPending())) {
    const std::pair<int, int> State{Form().ProgressBar1->MaxValue(), Form().ProgressPosition()};
    if (Seen.empty() || Seen.back() != State) Seen.push_back(State);
    QCoreApplication::processEvents();
    platform::CheckSynchronize();
  }
  Seen.push_back({Form().ProgressBar1->MaxValue(), Form().ProgressPosition()});
  ASSERT_EQ(View->Names().size(), static_cast<std::size_t>(Count));
  const auto Counting = std::find_if(Seen.begin(), Seen.end(),
                                     [&](const auto& S) { return S.first == Count && S.second > 0 && S.second < Count; });
  ASSERT_NE(Counting, Seen.end()) << "no count under way on the bar";
  EXPECT_NE(std::find(Counting, Seen.end(), std::make_pair(Count, 0)), Seen.end()) << "the bar is not back at 0";
  // The count only grows until it goes back to 0.
  int Last = 0;
  for (const auto& [Max, Value] : Seen) {
    if (Max != Count) continue;
    if (Value != 0) {
      EXPECT_GE(Value, Last);
    }
    Last = Value;
  }
  EXPECT_EQ(Seen.back().second, 0);
}
