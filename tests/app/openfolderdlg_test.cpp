#include "app/folderview.h"
#include "app/mainform.h"
#include "app/newfolderdlg.h"
#include "app/openfolderdlg.h"
#include "app/startup.h"
#include "apptestenv.h"
#include "controls/support/wnimagelistbox/wnimagelistbox.h"
#include "image/views/rastrum.h"
#include "shell/sxshelltree.h"
#include "support/gatedreads.h"
#include "support/inotifywatches.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

class OpenFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directory(Env.File("pics"));
    fs::create_directory(Env.File("empty"));
    apptest::MarkedPicture(64, 48, Qt::yellow).save(QPics + "/b.png");
    apptest::MarkedPicture(32, 32).save(QPics + "/A.jpg");
    apptest::MarkedPicture(20, 10).save(QPics + "/c.bmp");
    std::ofstream(Env.File("pics/notes.txt")) << "x";
  }
  QStringList Items(const wn::TWnImageListBox& Box) {
    QStringList Texts;
    for (int I = 0; I < Box.count(); ++I) Texts << Box.item(I)->text();
    return Texts;
  }

  apptest::TAppEnv Env;
  const std::string Pics = Env.File("pics");
  const QString QPics = QString::fromStdString(Pics);
};

} // namespace

TEST_F(OpenFolderTest, StartsInTheFirstRecentFolderThatExists) {
  const std::vector<std::string> Recent = {Env.File("gone"), Pics, Env.File("empty")};
  EXPECT_EQ(OpenFolderStartingFolder(Recent), Pics);
  TOpenFolderForm Dialog(Recent);
  EXPECT_EQ(Dialog.CbxImageFolder->count(), 2); // the missing folder is left out
  EXPECT_EQ(Dialog.CbxImageFolder->currentText(), QPics);
  EXPECT_EQ(Dialog.TreeFolder(), Pics);
  // The picture files only, in name order, the first selected.
  EXPECT_EQ(Items(*Dialog.ImageListBox), (QStringList{"A.jpg", "b.png", "c.bmp"}));
  EXPECT_EQ(Dialog.ImageListBox->currentRow(), 0);
}

TEST_F(OpenFolderTest, ThePreviewShowsTheSelectedFileWithItsDetails) {
  TOpenFolderForm Dialog({Pics});
  Dialog.show();
  Dialog.ImageListBox->setCurrentRow(1);
  EXPECT_EQ(Dialog.PreviewFile(), Pics + "/b.png");
  // Read on a worker: the dimensions come with the picture.
  ASSERT_TRUE(WaitUntil([&] { return Dialog.LblDimensions->text() != "Dimensions:"; }));
  struct TLabel {
    QLabel* Label;
    QString Text;
  };
  const TLabel Labels[] = {{Dialog.LblImageNOf, "Image #: 2 of 3"},
                           {Dialog.LblImageType, "Type: Portable Network Graphics"},
                           {Dialog.LblDimensions, "Dimensions: 64 x 48"}};
  for (const TLabel& L : Labels) EXPECT_EQ(L.Label->text(), L.Text);
  EXPECT_TRUE(Dialog.LblSize->text().startsWith("Size: "));
  EXPECT_TRUE(Dialog.LblModified->text().startsWith("Modified Date: "));
  // The preview holds the picture: its middle is the fill.
  rv::TRastrum& Preview = *Dialog.ImagePreview;
  const QImage Shown = Preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(Shown.pixel(Preview.OffsetX() + Preview.DrawWidth() / 2, Preview.OffsetY() + Preview.DrawHeight() / 2),
            QColor(Qt::yellow).rgb());
  EXPECT_FALSE(Preview.IsEmpty());

  // The file alone when the path box shows the tree's folder; the folder
  // when the box says otherwise.
  EXPECT_EQ(Dialog.GetSelectedPath(), Pics + "/b.png");
  Dialog.CbxImageFolder->setEditText(QString::fromStdString(Env.File("empty")));
  EXPECT_EQ(Dialog.GetSelectedPath(), Pics);

  // A folder without pictures: no selection, the labels plain, no preview.
  Dialog.CbxImageFolder->setEditText(QString::fromStdString(Env.File("empty")));
  Dialog.AssignFolderClick();
  EXPECT_EQ(Dialog.TreeFolder(), Env.File("empty"));
  EXPECT_EQ(Dialog.ImageListBox->count(), 0);
  EXPECT_EQ(Dialog.LblImageNOf->text(), "Image #:");
  EXPECT_EQ(Dialog.LblDimensions->text(), "Dimensions:");
  EXPECT_TRUE(Dialog.ImagePreview->IsEmpty());
}

// A picture slow to read (held at the gate) is read off the window's thread
// with the window answering; the file's details show at once, its picture and
// dimensions when the read ends. A file selected meanwhile takes its place,
// and closing the dialog drops the read under way.
TEST_F(OpenFolderTest, ThePreviewIsReadOffTheWindowsThread) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  Reads.Reset();
  const std::string Slow = Env.File("slow");
  fs::create_directory(Slow);
  testsupport::TGatedReads::Write(Slow + "/a.gate", 0xFF0000, 40, 30);
  testsupport::TGatedReads::Write(Slow + "/b.gate", 0x0000FF, 20, 10);
  TOpenFolderForm Dialog({Slow});
  Reads.Close();
  Dialog.show();
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 1; }, 10000));
  bool Fired = false;
  QTimer::singleShot(0, &Dialog, [&] { Fired = true; });
  ASSERT_TRUE(WaitUntil([&] { return Fired; }));
  EXPECT_EQ(Dialog.LblImageNOf->text(), "Image #: 1 of 2");
  EXPECT_EQ(Dialog.LblSize->text(), "Size: 9 bytes");
  EXPECT_EQ(Dialog.LblDimensions->text(), "Dimensions:");
  EXPECT_TRUE(Dialog.ImagePreview->IsEmpty());
  Dialog.ImageListBox->setCurrentRow(1);
  // The first read, dropped, may leave the gate before or after the second comes.
  ASSERT_TRUE(WaitUntil([&] { return Reads.Arrived == 2 && Reads.Held == 1; }));
  Reads.Open();
  ASSERT_TRUE(WaitUntil([&] { return Dialog.LblDimensions->text() != "Dimensions:"; }));
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(Dialog.LblDimensions->text(), "Dimensions: 20 x 10");
  EXPECT_EQ(Dialog.ImagePreview->GetBitmap()->Canvas().Pixels(0, 0), platform::TColor(platform::RGB(0, 0, 255)));

  Reads.Close();
  Dialog.ImageListBox->setCurrentRow(0);
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 1; }));
  Dialog.done(2);
  EXPECT_TRUE(WaitUntil([&] { return Reads.Held == 0; })) << "the read of a closed dialog stops at its abort flag";
  Reads.Open();
  EXPECT_EQ(Reads.OnWindow, 0);
}

// The dialog follows folders only while it is up, and a folder view's
// watches go with the view.
TEST_F(OpenFolderTest, WatchesEndWithTheDialogAndTheView) {
  using testing_support::InotifyWatches;
  TMainForm Form({}, nullptr);
  const int Before = InotifyWatches();
  TOpenFolderForm Dialog({Pics});
  EXPECT_EQ(InotifyWatches(), Before);
  for (int Time = 0; Time < 2; ++Time) {
    int During = 0;
    TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
      During = InotifyWatches();
      D.done(2);
    };
    Dialog.ShowModal();
    TOpenFolderForm::ModalAnswer = nullptr;
    EXPECT_GT(During, Before);
    EXPECT_EQ(InotifyWatches(), Before);
  }
  Form.OpenPath(Pics + "/b.png", false);
  ASSERT_EQ(Form.FolderViews().size(), 1u);
  EXPECT_GT(InotifyWatches(), Before);
  Form.FolderViews().front()->CloseFolderViewNoPrompt();
  EXPECT_TRUE(WaitUntil([&] { return InotifyWatches() == Before; }));
}

TEST_F(OpenFolderTest, OpenRefusesAFolderThatDoesNotExist) {
  TMainForm Form({}, nullptr);
  TOpenFolderForm Dialog({Pics});
  int Result = -1;
  TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
    D.CbxImageFolder->setEditText(QString::fromStdString(Env.File("nowhere")));
    D.done(1);
    Result = D.isVisible() ? 0 : D.result();
    D.CbxImageFolder->setEditText(QPics);
    D.done(1);
  };
  EXPECT_EQ(Dialog.ShowModal(), 1);
  TOpenFolderForm::ModalAnswer = nullptr;
  EXPECT_EQ(Result, 0);
  EXPECT_EQ(Env.MessageBoxes, QStringList{"Please choose a valid Folder"});
}

TEST_F(OpenFolderTest, NewFolderAsksAgainWhileTheNameExists) {
  TMainForm Form({}, nullptr);
  TNewFolderDlg NewFolder;
  TOpenFolderForm Dialog({Pics});
  fs::create_directory(Env.File("pics/taken"));
  const QStringList Names = {"taken", "fresh"};
  int Shown = 0;
  TNewFolderDlg::ModalAnswer = [&](TNewFolderDlg& D) {
    EXPECT_EQ(D.LblCurFolder->text(), QPics);
    D.EdtNewFolderName->setText(Names[Shown++]);
    D.done(1);
  };
  Env.HelpShown = 0;
  Dialog.NewFolderClick();
  TNewFolderDlg::ModalAnswer = nullptr;
  EXPECT_EQ(Shown, 2);
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpDetail + Env.LastHelpText, QPics + "/taken already exists.");
  EXPECT_TRUE(fs::is_directory(Env.File("pics/fresh")));
  EXPECT_EQ(Dialog.TreeFolder(), Pics + "/fresh");
}

// A name that is a path, or "." or "..", makes nothing, not even beside the
// folder: the dialog says why and asks again.
TEST_F(OpenFolderTest, NewFolderRefusesANameThatIsNotOneFolder) {
  TMainForm Form({}, nullptr);
  TNewFolderDlg NewFolder;
  TOpenFolderForm Dialog({Pics});
  const QStringList Names = {"../evil", "a/b", ".", "..", "", "fine"};
  int Shown = 0;
  QStringList Said;
  Env.HelpShown = 0;
  TNewFolderDlg::ModalAnswer = [&](TNewFolderDlg& D) {
    if (Shown > 0) Said << Env.LastHelpText;
    D.EdtNewFolderName->setText(Names[Shown++]);
    D.done(1);
  };
  Dialog.NewFolderClick();
  TNewFolderDlg::ModalAnswer = nullptr;
  EXPECT_EQ(Said.join('\n').toStdString(), "\"../evil\" is not a valid folder name. A name cannot contain \"/\".\n"
                                           "\"a/b\" is not a valid folder name. A name cannot contain \"/\".\n"
                                           "\".\" is not a valid folder name. A name cannot be \".\" or \"..\".\n"
                                           "\"..\" is not a valid folder name. A name cannot be \".\" or \"..\".\n"
                                           "\"\" is not a valid folder name. A name cannot be empty.");
  EXPECT_EQ(Env.HelpShown, 5);
  EXPECT_FALSE(fs::exists(Env.File("evil")));
  EXPECT_FALSE(fs::exists(Env.File("pics/a")));
  EXPECT_TRUE(fs::is_directory(Env.File("pics/fine")));
  EXPECT_EQ(Dialog.TreeFolder(), Env.File("pics/fine"));
}

TEST_F(OpenFolderTest, TheMainWindowOpensTheChosenFileAsANewTab) {
  TMainForm Form({}, nullptr);
  Form.show();
  TOpenFolderForm Dialog(Form.RecentFolders());
  TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
    D.CbxImageFolder->setEditText(QPics);
    D.AssignFolderClick();
    D.ImageListBox->setCurrentRow(2);
    D.done(1);
  };
  Form.OpenImageFolder();
  TOpenFolderForm::ModalAnswer = nullptr;
  ASSERT_EQ(Form.FolderViews().size(), 1u);
  EXPECT_EQ(Form.CurrentFilePath(), QPics + "/c.bmp");
  EXPECT_EQ(Form.RecentFolders(), std::vector<std::string>{Pics});
  // Cancel opens nothing.
  TOpenFolderForm::ModalAnswer = [](TOpenFolderForm& D) { D.done(2); };
  Form.OpenImageFolder();
  TOpenFolderForm::ModalAnswer = nullptr;
  EXPECT_EQ(Form.FolderViews().size(), 1u);
}

// Made at start-up, the dialog leaves the tree's walk and the folder's
// listing to its first use; whatever uses it first finds it as if it had
// walked at creation.
TEST_F(OpenFolderTest, MadeToWaitTheDialogWalksToItsFolderOnFirstUse) {
  const std::string Empty = Env.File("empty");
  const QString QEmpty = QString::fromStdString(Empty);
  const QStringList Listed = {"A.jpg", "b.png", "c.bmp"};
  {
    TOpenFolderForm Dialog({Pics}, nullptr, TOpenFolderForm::tsAtFirstUse);
    EXPECT_EQ(Dialog.SxShellTree->SelectedFolder(), nullptr);
    EXPECT_EQ(Dialog.ImageListBox->count(), 0);
    EXPECT_EQ(Dialog.CbxImageFolder->currentText(), QPics);
    // A refill asked for first lists the folder once.
    Dialog.PopulateFileList();
    EXPECT_EQ(Items(*Dialog.ImageListBox), Listed);
    EXPECT_EQ(Dialog.ImageListBox->currentRow(), 0);
    EXPECT_EQ(Dialog.TreeFolder(), Pics);
  }
  {
    // Asked for its folder, or for the chosen path.
    TOpenFolderForm Dialog({Pics}, nullptr, TOpenFolderForm::tsAtFirstUse);
    EXPECT_EQ(Dialog.GetSelectedPath(), Pics + "/A.jpg");
    EXPECT_EQ(Items(*Dialog.ImageListBox), Listed);
  }
  {
    // A path put in the box before the first use stays there.
    TOpenFolderForm Dialog({Pics}, nullptr, TOpenFolderForm::tsAtFirstUse);
    Dialog.CbxImageFolder->setEditText(QEmpty);
    Dialog.show();
    EXPECT_EQ(Dialog.TreeFolder(), Pics);
    EXPECT_EQ(Dialog.CbxImageFolder->currentText(), QEmpty);
    EXPECT_EQ(Dialog.PreviewFile(), Pics + "/A.jpg");
    EXPECT_EQ(Dialog.GetSelectedPath(), Pics);
  }
  {
    // A folder chosen first stands for the starting one.
    TOpenFolderForm Dialog({Pics}, nullptr, TOpenFolderForm::tsAtFirstUse);
    Dialog.CbxImageFolder->setEditText(QEmpty);
    Dialog.AssignFolderClick();
    EXPECT_EQ(Dialog.TreeFolder(), Empty);
    EXPECT_EQ(Dialog.ImageListBox->count(), 0);
    Dialog.show();
    EXPECT_EQ(Dialog.TreeFolder(), Empty);
    EXPECT_EQ(Dialog.CbxImageFolder->currentText(), QEmpty);
  }
}

// The start-up's dialog, shown by File > Open Image Folder, is in the folder
// just opened with its pictures listed.
TEST_F(OpenFolderTest, TheStartUpsDialogIsReadyWhenTheMainWindowOpensIt) {
  TMainForm Form({Pics}, nullptr);
  TStartupForms Forms(Form.RecentFolders());
  Form.FormsCreated();
  Form.show();
  ASSERT_EQ(OpenFolderForm, &Forms.OpenFolder);
  std::string Tree, Preview;
  QString Dimensions;
  QStringList Listed;
  TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
    Tree = D.TreeFolder();
    Listed = Items(*D.ImageListBox);
    Preview = D.PreviewFile();
    WaitUntil([&] { return D.LblDimensions->text() != "Dimensions:"; });
    Dimensions = D.LblDimensions->text();
    D.done(2);
  };
  Form.OpenImageFolder();
  EXPECT_EQ(Tree, Pics);
  EXPECT_EQ(Listed, (QStringList{"A.jpg", "b.png", "c.bmp"}));
  EXPECT_EQ(Preview, Pics + "/A.jpg");
  EXPECT_EQ(Dimensions, "Dimensions: 32 x 32");

  // Shown again after the first file was deleted and another one took a
  // new picture: the folder as it is now.
  fs::remove(Env.File("pics/A.jpg"));
  apptest::MarkedPicture(40, 30).save(QPics + "/b.png");
  Form.OpenImageFolder();
  TOpenFolderForm::ModalAnswer = nullptr;
  EXPECT_EQ(Listed, (QStringList{"b.png", "c.bmp"}));
  EXPECT_EQ(Preview, Pics + "/b.png");
  EXPECT_EQ(Dimensions, "Dimensions: 40 x 30");
}

// A folder and a file whose names are no UTF-8 (Latin-1; a lone
// continuation byte) are chosen as themselves, also beside the twin folder
// whose text they show as: the recent folder the dialog starts in, its
// picture, and the tab the main window opens for them.
TEST_F(OpenFolderTest, AFolderAndItsFileAreChosenAsTheirBytes) {
  struct TCase {
    std::string Folder, Twin;
  };
  const TCase Cases[] = {{"caf\xe9", ""}, {"caf\xe9", "caf\xef\xbf\xbd"}, {"a\x80z", "a\xef\xbf\xbdz"}};
  const std::string Name = "p\xe9.png";
  int Round = 0;
  for (const TCase& C : Cases) {
    const std::string Base = Env.File("r" + std::to_string(Round++)), Folder = Base + "/" + C.Folder;
    fs::create_directories(Folder);
    apptest::SavePicture(apptest::MarkedPicture(30, 20), Folder + "/" + Name);
    if (!C.Twin.empty()) {
      fs::create_directory(Base + "/" + C.Twin);
      apptest::SavePicture(apptest::MarkedPicture(10, 10), Base + "/" + C.Twin + "/" + Name);
    }
    TMainForm Form({Folder}, nullptr);
    TStartupForms Forms(Form.RecentFolders());
    Form.FormsCreated();
    Form.show();
    QString Box, Listed;
    TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
      Box = D.CbxImageFolder->currentText();
      Listed = Items(*D.ImageListBox).join('|');
      D.done(1);
    };
    Form.OpenImageFolder();
    TOpenFolderForm::ModalAnswer = nullptr;
    EXPECT_EQ(Box, QString::fromStdString(Folder)) << Round;
    EXPECT_EQ(Listed, QString::fromStdString(Name)) << Round;
    ASSERT_EQ(Form.FolderViews().size(), 2u) << Round;
    EXPECT_EQ(Form.FolderViews().back()->GetFolderPath(), Folder) << Round;
    ASSERT_TRUE(WaitUntil([&] { return !Form.PictureLoadPending(); }));
    EXPECT_EQ(Form.CurrentPathBytes(), Folder + "/" + Name) << Round;
    EXPECT_EQ(Env.MessageBoxes, QStringList{}) << Round;
  }
}

// A folder typed that the tree does not show (a hidden one) is opened as
// typed, not the tree's folder; "View Folder Contents", which shows the
// tree's, says it cannot show it.
TEST_F(OpenFolderTest, AFolderTheTreeDoesNotShowIsOpenedAsTyped) {
  TMainForm Form({}, nullptr);
  Form.show();
  const std::string Hidden = Pics + "/.hidden";
  fs::create_directory(Hidden);
  apptest::MarkedPicture(16, 16).save(QString::fromStdString(Hidden + "/d.png"));
  TOpenFolderForm Dialog({Pics});
  TOpenFolderForm::ModalAnswer = [&](TOpenFolderForm& D) {
    D.CbxImageFolder->setEditText(QString::fromStdString(Hidden));
    D.AssignFolderClick();
    EXPECT_EQ(D.TreeFolder(), Pics);
    D.done(1);
  };
  Env.HelpShown = 0;
  Form.OpenImageFolder();
  TOpenFolderForm::ModalAnswer = nullptr;
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpDetail + Env.LastHelpText,
            QString::fromStdString(Hidden) + " is not shown in the folder tree. Open opens it.");
  ASSERT_EQ(Form.FolderViews().size(), 1u);
  EXPECT_EQ(Form.FolderViews().front()->GetFolderPath(), Hidden);
  EXPECT_EQ(Dialog.GetSelectedPath(), Hidden);
}
