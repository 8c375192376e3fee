#include "app/folderview.h"
#include "app/mainform.h"
#include "app/renamedlg.h"
#include "apptestenv.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/views/rvmview.h"
#include "shell/sxnotify.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

const QString AlreadyExists = "A file by this name already exists. Please choose a different name.";
const QString Unable = "Unable to rename file.";

std::string Read(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

class FolderFileOpsTest : public ::testing::Test {
protected:
  void SetUp() override {
    One = Env.File("one");
    Two = Env.File("two");
    fs::create_directory(One);
    fs::create_directory(Two);
    // Each rename dialog shown takes the next answer: a name for OK, or
    // nothing left for Cancel.
    TRenameDlg::ModalAnswer = [this](TRenameDlg& D) {
      Shown.push_back({D.EdtNewFileName->text(), D.LblFileType->text()});
      if (Answers.empty()) return D.SBtnCancel->click();
      D.EdtNewFileName->setText(Answers.front());
      Answers.pop_front();
      D.SBtnOkay->click();
    };
  }
  void TearDown() override {
    TRenameDlg::ModalAnswer = nullptr;
    TFolderViewForm::BeforeFileRename = nullptr;
  }
  std::string Put(const std::string& Folder, const std::string& Name) {
    const std::string Path = Folder + "/" + Name;
    apptest::MarkedPicture(8, 8).save(QString::fromStdString(Path));
    return Path;
  }
  TFolderViewForm* Open(const std::string& Path) {
    Form.show();
    Form.OpenFolderView(QString::fromStdString(Path));
    return Form.CurrentFolderView();
  }
  static bool Listed(TFolderViewForm* View, const std::string& Name) {
    return View->Rows().IndexOf(Name) >= 0 &&
           std::count(View->Names().begin(), View->Names().end(), Name) == 1;
  }
  static bool Ghosted(TFolderViewForm* View, const std::string& Name) {
    return View->Rows().Row(View->Rows().IndexOf(Name)).Cut;
  }

  apptest::TAppEnv Env;
  TMainForm Form{{}, nullptr};
  std::string One, Two;
  std::deque<QString> Answers;
  std::vector<std::pair<QString, QString>> Shown;
};

} // namespace

TEST_F(FolderFileOpsTest, RenameDialogChecksTheNameAndOffersItselfAgain) {
  Put(One, "Photo.png");
  Put(One, "taken.png");
  TFolderViewForm* View = Open(One + "/Photo.png");
  View->SxShellNotify->SetActive(false); // the view's own rename acts here

  // Another case only, an empty name, or Cancel: no change, no message.
  for (const QString& Answer : {QString("PHOTO"), QString()}) {
    Answers = {Answer};
    View->RenameSelectedFile();
  }
  View->RenameSelectedFile();
  EXPECT_TRUE(fs::exists(One + "/Photo.png") && Listed(View, "Photo.png"));
  EXPECT_EQ(Env.HelpShown, 0);
  ASSERT_EQ(Shown.size(), 3u);
  EXPECT_EQ(Shown[0], std::make_pair(QString("Photo"), QString("Portable Network Graphics")));

  // A taken name, then names that leave the folder: each an error, then the
  // dialog again with the text entered; the last try goes through.
  Shown.clear();
  Answers = {"taken", "../Photo", "sub/x", "renamed"};
  View->RenameSelectedFile();
  ASSERT_EQ(Shown.size(), 4u);
  EXPECT_EQ(Shown[1].first, "taken");
  EXPECT_EQ(Shown[3].first, "sub/x");
  EXPECT_EQ(Env.HelpShown, 3);
  EXPECT_EQ(Env.LastHelpText, Unable);
  EXPECT_FALSE(fs::exists(Env.File("Photo.png")) || fs::exists(One + "/Photo.png"));
  EXPECT_TRUE(fs::exists(One + "/renamed.png"));
  EXPECT_EQ(View->Names(), (std::vector<std::string>{"renamed.png", "taken.png"}));
  EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{"renamed.png"});
  EXPECT_EQ(View->ThumbView->ImageFileName(View->ThumbView->SelectedImage()), One + "/renamed.png");
  EXPECT_EQ(Form.CurrentFileName(), "renamed.png");
}

TEST_F(FolderFileOpsTest, ARenameNeverReplacesAFileThatAppearsMeanwhile) {
  Put(One, "a.png");
  TFolderViewForm* View = Open(One + "/a.png");
  View->SxShellNotify->SetActive(false);
  const std::string Original = Read(One + "/a.png");
  TFolderViewForm::BeforeFileRename = [](const std::string& Path) { std::ofstream(Path) << "someone else's"; };
  Answers = {"b"};
  View->RenameSelectedFile();
  EXPECT_EQ(Env.LastHelpText, AlreadyExists);
  EXPECT_EQ(Shown.size(), 2u);
  EXPECT_EQ(Read(One + "/b.png"), "someone else's");
  EXPECT_EQ(Read(One + "/a.png"), Original);

  EXPECT_FALSE(View->ImageViewEdited("a.png", "c.png"));
  EXPECT_EQ(Read(One + "/c.png"), "someone else's");
  EXPECT_EQ(Read(One + "/a.png"), Original);
  EXPECT_TRUE(Listed(View, "a.png"));
}

TEST_F(FolderFileOpsTest, InPlaceEditKeepsTheExtensionAndNeverReplaces) {
  Put(One, "a.png");
  Put(One, "other.png");
  TFolderViewForm* View = Open(One + "/a.png");
  View->SxShellNotify->SetActive(false);
  TFolderRows& Rows = View->Rows();
  auto NameCell = [&](const std::string& N) { return Rows.index(Rows.IndexOf(N), fcName); };

  struct TCase {
    const char* Name;
    QString Message;
  };
  const TCase Refused[] = {{"a.jpg", "The file extension must match previous file extension."},
                           {"a", "The file extension must match previous file extension."},
                           {"other.png", AlreadyExists},
                           {"x/a.png", Unable}};
  for (const TCase& C : Refused) {
    EXPECT_FALSE(Rows.setData(NameCell("a.png"), QString(C.Name))) << C.Name;
    EXPECT_EQ(Env.LastHelpText, C.Message) << C.Name;
  }
  EXPECT_TRUE(fs::exists(One + "/a.png") && Listed(View, "a.png"));

  // The extension compares without case; the list shows the new name.
  EXPECT_TRUE(Rows.setData(NameCell("a.png"), QString("B.PNG")));
  EXPECT_TRUE(fs::exists(One + "/B.PNG") && !fs::exists(One + "/a.png"));
  EXPECT_EQ(Rows.data(NameCell("B.PNG"), Qt::DisplayRole).toString(), "B.PNG");
  EXPECT_TRUE(Listed(View, "B.PNG"));
  EXPECT_EQ(Env.HelpShown, 4);
}

TEST_F(FolderFileOpsTest, DragsMoveFilesOnlyBetweenViewsOfDifferentFolders) {
  Put(One, "a.png");
  Put(One, "b.png");
  TFolderViewForm* Source = Open(One);
  TFolderViewForm* SameFolder = Open(One + "/");
  TFolderViewForm* Target = Open(Two);
  ASSERT_TRUE(Source != SameFolder);
  Source->SelectAllFiles();
  std::unique_ptr<QMimeData> Data(Source->FileDragData());
  EXPECT_FALSE(Source->AcceptsFileDrag(Data.get()));
  QMimeData Foreign;
  Foreign.setData("application/x-pictrova-folder-files", Data->data("application/x-pictrova-folder-files"));
  EXPECT_FALSE(Target->AcceptsFileDrag(&Foreign)) << "only a drag of this program's own views";

  auto Enter = [&](QWidget* Widget) {
    QDragEnterEvent Event(QPoint(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Widget, &Event);
    return Event.isAccepted();
  };
  EXPECT_FALSE(Enter(SameFolder->ThumbView) || Enter(SameFolder->ImageDetails->viewport()));
  EXPECT_TRUE(Enter(Target->ThumbView) && Enter(Target->ImageDetails->viewport()));

  QDropEvent Drop(QPointF(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Target->ImageDetails->viewport(), &Drop);
  EXPECT_TRUE(Drop.isAccepted());
  ASSERT_TRUE(WaitUntil([&] { return Target->Names().size() == 2; }));
  EXPECT_TRUE(fs::exists(Two + "/a.png") && fs::exists(Two + "/b.png"));
  EXPECT_FALSE(fs::exists(One + "/a.png") || fs::exists(One + "/b.png"));
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().empty() && SameFolder->Names().empty(); }));
}

TEST_F(FolderFileOpsTest, CopyPasteThenCutRowsGhostedUntilAnotherCopyThenMove) {
  Put(One, "a.png");
  Put(One, "b.png");
  TFolderViewForm* Source = Open(One + "/a.png");
  TFolderViewForm* Target = Open(Two);
  EXPECT_FALSE(Target->Paste1->isEnabled());
  apptest::PressKey(Source->ThumbView, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Target->Paste1->text(), "Paste Image [Ctrl+V]");
  Target->Paste1->trigger();
  EXPECT_EQ(Target->Names(), std::vector<std::string>{"a.png"});
  EXPECT_EQ(Read(Two + "/a.png"), Read(One + "/a.png"));

  apptest::PressKey(Source->ImageDetails, Qt::Key_A, Qt::ControlModifier);
  apptest::PressKey(Source->ImageDetails, Qt::Key_X, Qt::ControlModifier);
  EXPECT_TRUE(Ghosted(Source, "a.png") && Ghosted(Source, "b.png"));
  EXPECT_FALSE(Ghosted(Target, "a.png")) << "only the cut files' own rows";
  Target->Copy1->trigger();
  EXPECT_FALSE(Ghosted(Source, "a.png") || Ghosted(Source, "b.png"));

  Source->Cut1->trigger();
  EXPECT_EQ(Target->Paste1->text(), "Paste Images [Ctrl+V]");
  // a.png is there already: keep the target's, move the other.
  Target->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::No; };
  apptest::PressKey(Target->ImageDetails, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Target->Names(), (std::vector<std::string>{"a.png", "b.png"}));
  EXPECT_FALSE(fs::exists(One + "/b.png"));
  EXPECT_FALSE(Target->Paste1->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return Source->Names() == std::vector<std::string>{"a.png"}; }));
}

TEST_F(FolderFileOpsTest, DeleteGoesToTheTrashOnlyAfterYes) {
  Put(One, "a.png");
  Put(One, "b.png");
  TFolderViewForm* View = Open(One + "/a.png");
  platform::TFileOpAnswer Answer = platform::TFileOpAnswer::No;
  int Asked = 0;
  View->WnSHFileOperator->OnConfirm = [&](platform::TFileOpConfirm Kind, const std::string&, const std::string&) {
    ++Asked;
    EXPECT_EQ(Kind, platform::TFileOpConfirm::Delete);
    return Answer;
  };
  // Declined: the file, its row and its thumbnail stay.
  apptest::PressKey(View->ThumbView, Qt::Key_Delete);
  EXPECT_EQ(Asked, 1);
  std::string Result;
  View->RemoveFileItem("a.png", true, Result, true);
  EXPECT_EQ(Result, "-");
  EXPECT_EQ(Asked, 2);
  EXPECT_TRUE(fs::exists(One + "/a.png"));
  EXPECT_TRUE(Listed(View, "a.png"));
  EXPECT_EQ(View->ThumbView->ImageCount(), 2);

  Answer = platform::TFileOpAnswer::Yes;
  View->Delete1->trigger();
  EXPECT_FALSE(fs::exists(One + "/a.png"));
  EXPECT_TRUE(fs::exists(qgetenv("XDG_DATA_HOME").toStdString() + "/Trash/files/a.png"));
  ASSERT_TRUE(WaitUntil([&] { return !Listed(View, "a.png"); }));
  EXPECT_EQ(View->ThumbView->ImageCount(), 1);
  View->RemoveFileItem("b.png", true, Result, true);
  EXPECT_EQ(Result, "");
  EXPECT_TRUE(View->Names().empty());
}

TEST_F(FolderFileOpsTest, AFileRenamedOverAListedOneLeavesOneRow) {
  Put(One, "x.png");
  Put(One, "y.png");
  TFolderViewForm* View = Open(One + "/x.png");
  fs::rename(One + "/x.png", One + "/y.png");
  ASSERT_TRUE(WaitUntil([&] { return !Listed(View, "x.png"); }));
  EXPECT_EQ(View->Names(), std::vector<std::string>{"y.png"});
  EXPECT_EQ(View->Rows().Count(), 1);
}
