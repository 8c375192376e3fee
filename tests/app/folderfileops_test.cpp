#include "app/emailsizedlg.h"
#include "app/folderview.h"
#include "app/mainform.h"
#include "app/renamedlg.h"
#include "apptestenv.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "shell/sxfolderdrop.h"
#include "shell/sxnotify.h"
#include "shell/sxshellitems.h"
#include "support/fakemailprogram.h"
#include "support/killedrun.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTreeView>
#include <QTemporaryDir>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <sys/xattr.h>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

const QString AlreadyExists = "A file by this name already exists. Please choose a different name.";
// A name that is no entry of its folder, said on the second line.
const QString Unable = "Unable to rename file.\nA name cannot contain \"/\".";
const QString Hidden = "A file name cannot start with a dot: the file would be hidden. Please choose a different name.";

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
  std::string Put(const std::string& Folder, const std::string& Name, int Width = 8, int Height = 8) {
    const std::string Path = Folder + "/" + Name;
    apptest::SavePicture(apptest::MarkedPicture(Width, Height), Path);
    return Path;
  }
  TFolderViewForm* Open(const std::string& Path) {
    Form.show();
    Form.OpenFolderView(Path);
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

  // A taken name, names that leave the folder, a name of dots only, one
  // that would hide the file and a file gone meanwhile: each an error, then
  // the dialog again with the text entered; the last try goes through.
  Shown.clear();
  Answers = {"taken", "../Photo", "..", ".hidden", "sub/x", "gone", "renamed"};
  QStringList Said;
  const auto Answer = TRenameDlg::ModalAnswer;
  TRenameDlg::ModalAnswer = [&](TRenameDlg& D) {
    Said << Env.LastHelpText;
    Answer(D);
  };
  TFolderViewForm::BeforeFileRename = [&](const std::string& Path) {
    if (Path == One + "/gone.png") fs::rename(One + "/Photo.png", One + "/away");
    if (Path == One + "/renamed.png") fs::rename(One + "/away", One + "/Photo.png");
  };
  View->RenameSelectedFile();
  ASSERT_EQ(Shown.size(), 7u);
  EXPECT_EQ(Shown[1].first, "taken");
  EXPECT_EQ(Shown[3].first, "..");
  EXPECT_EQ(Shown[4].first, ".hidden");
  EXPECT_EQ(Env.HelpShown, 6);
  EXPECT_EQ(Said, (QStringList{"", AlreadyExists, Unable,
                               "A file name cannot be made of dots only. Please choose a different name.", Hidden,
                               Unable, "Unable to rename file.\nNo such file or directory"}));
  EXPECT_FALSE(fs::exists(One + "/...png") || fs::exists(One + "/..png") || fs::exists(One + "/.hidden.png"));
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
                           {"x/a.png", Unable},
                           {".a.png", Hidden}};
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
  EXPECT_FALSE(fs::exists(One + "/.a.png"));
  EXPECT_EQ(Env.HelpShown, 5);
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

  // Pasted again, the user's own question answered "No": what was copied
  // stays to be pasted, and the next Ctrl+V asks again. While the question
  // waits the pointer is the arrow, not the hourglass.
  std::vector<Qt::CursorShape> Pointers;
  QTimer User;
  QObject::connect(&User, &QTimer::timeout, [&] {
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!Box || !Box->button(QMessageBox::No)) return;
    const QCursor* Over = QGuiApplication::overrideCursor();
    Pointers.push_back(Over ? Over->shape() : Qt::ArrowCursor);
    Box->button(QMessageBox::No)->click();
  });
  User.start(20);
  apptest::PressKey(Source->ThumbView, Qt::Key_C, Qt::ControlModifier);
  for (int Paste = 0; Paste < 2; ++Paste) apptest::PressKey(Target->ImageDetails, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Pointers, std::vector<Qt::CursorShape>(2, Qt::ArrowCursor));
  EXPECT_TRUE(Target->Paste1->isEnabled());
  User.stop();

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

namespace {

int WidthOf(const std::string& Path) { return QImage(QString::fromStdString(Path)).width(); }

} // namespace

// Delete of the shown picture asks its own question first: declined or
// cancelled, the file and the edit stay as they were. Once the user said
// yes for that file, its edit is asked about as on leaving it: a large
// picture only turned is saved silently and its saved file goes to the
// trash; a kept edit stops the delete; a discarded one lets it go. No save
// writes the picture back under the deleted name.
TEST_F(FolderFileOpsTest, TheShownPicturesEditIsSettledOnlyOnceItsDeleteIsConfirmed) {
  for (const char* Name : {"0.png", "a.png", "b.png", "c.png"}) Put(One, Name, 480, 320);
  TFolderViewForm* View = Open(One + "/a.png");
  int Confirmed = 0;
  platform::TFileOpAnswer Answer = platform::TFileOpAnswer::No;
  View->WnSHFileOperator->OnConfirm = [&](auto...) {
    ++Confirmed;
    return Answer;
  };
  const apptest::TUnansweredModals Unanswered;
  const std::string Trash = qgetenv("XDG_DATA_HOME").toStdString() + "/Trash/files/";
  auto ShownGoes = [&](const std::string& Name) {
    return WaitUntil([&] {
      return !Listed(View, Name) && !Form.PictureLoadPending() && Form.CurrentFileName().toStdString() != Name;
    });
  };

  Form.RotateImage(90);
  ASSERT_TRUE(Form.IsImageModified());
  const std::string Before = Read(One + "/a.png");
  for (platform::TFileOpAnswer Declined : {platform::TFileOpAnswer::No, platform::TFileOpAnswer::Cancel}) {
    Answer = Declined;
    View->Delete1->trigger();
    EXPECT_TRUE(Read(One + "/a.png") == Before);
    EXPECT_TRUE(Form.IsImageModified());
  }
  Answer = platform::TFileOpAnswer::Yes;
  View->Delete1->trigger();
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(Confirmed, 3);
  EXPECT_EQ(WidthOf(Trash + "a.png"), 320);
  ASSERT_TRUE(ShownGoes("a.png"));
  EXPECT_FALSE(fs::exists(One + "/a.png"));

  // Resized; "No", then no name given: the edit stays and so does the file.
  const std::string Shown = Form.CurrentFileName().toStdString();
  Form.ResizeImage(240, 160);
  Env.HelpAnswer = 2;
  View->Delete1->trigger();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Confirmed, 4);
  EXPECT_TRUE(Form.IsImageModified());
  ASSERT_TRUE(fs::exists(One + "/" + Shown));
  // "Discard Changes": the file goes as it was, and nothing more is asked.
  Env.HelpAnswer = 3;
  View->Delete1->trigger();
  EXPECT_EQ(Confirmed, 5);
  EXPECT_EQ(WidthOf(Trash + Shown), 480);
  ASSERT_TRUE(ShownGoes(Shown));
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_FALSE(fs::exists(One + "/" + Shown));

  // "Yes to All" for a file before the shown one lets the shown one go
  // unasked: its edit is settled at that answer.
  ASSERT_EQ(Form.CurrentFileName(), "c.png");
  Form.RotateImage(90);
  Answer = platform::TFileOpAnswer::YesToAll;
  EXPECT_TRUE(View->DeleteFiles({"0.png", "c.png"}));
  EXPECT_EQ(Confirmed, 6);
  EXPECT_EQ(WidthOf(Trash + "c.png"), 320);
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Unanswered.Count, 0);
}

// A file's name is its bytes: one that is no UTF-8 (Latin-1, as old
// archives and cameras write it; a lone continuation byte) is shown, mailed,
// saved, deleted and renamed as itself, also beside the twin whose text it
// shows as (U+FFFD in UTF-8), which stays byte for byte as it was. The
// screen marks the bytes it cannot show.
TEST_F(FolderFileOpsTest, ANameIsActedOnAsItsBytes) {
  const QString Mark(QChar(0xFFFD));
  struct TCase {
    std::string Name, Twin;
    QString Base;
  };
  const TCase Cases[] = {
      {"caf\xe9.png", "", "caf" + Mark},
      {"caf\xe9.png", "caf\xef\xbf\xbd.png", "caf" + Mark},
      {"caf\xef\xbf\xbd.png", "caf\xe9.png", "caf" + Mark},
      {"a\x80z.png", "a\xef\xbf\xbdz.png", "a" + Mark + "z"},
      {"x=?.png", "", "x=?"},
  };
  const std::string Trash = qgetenv("XDG_DATA_HOME").toStdString() + "/Trash";
  const apptest::TUnansweredModals Unanswered;
  TEmailSizeDlg Mail;
  const testing_support::TTempFolder Work;
  Mail.WorkFolder = [&] { return Work.Path(); };
  const testing_support::TFakeMailProgram Mailer;
  int Round = 0;
  for (const TCase& C : Cases) {
    const std::string Folder = Env.File("n" + std::to_string(Round++));
    fs::create_directory(Folder);
    fs::remove_all(Trash);
    const std::string Path = Put(Folder, C.Name, 48, 32);
    const std::string Twin = C.Twin.empty() ? std::string() : Put(Folder, C.Twin, 20, 10);
    const std::string TwinBytes = Read(Twin);
    TFolderViewForm* View = Open(Path);
    View->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::Yes; };
    ASSERT_TRUE(WaitUntil([&] { return !Form.PictureLoadPending(); }));
    EXPECT_EQ(Env.HelpShown, 0) << Round;
    EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{C.Name});
    EXPECT_EQ(Form.CurrentPathBytes(), Path);
    EXPECT_EQ(Form.RastrumView1->GetBitmap()->Width(), 48) << Round;
    EXPECT_EQ(Form.StatusPanelText(0), C.Base + ".png (48x32)");
    EXPECT_EQ(Form.windowTitle(), "Pictrova - " + QString::fromStdString(Path));

    // Each file of the selection goes to the mail program as itself.
    Mail.SBtnClearListClick();
    View->SelectAllFiles();
    View->Email1->trigger();
    Mail.SBtnContinue->Click();
    ASSERT_TRUE(WaitUntil([&] { return !Mail.Sending(); }));
    std::set<std::string> Attached;
    const std::vector<std::string> Args = Mailer.ArgumentBytes();
    for (std::size_t I = 1; I < Args.size(); ++I)
      if (Args[I - 1] == "--attach") Attached.insert(Args[I]);
    const std::set<std::string> Expected = {Path, Twin.empty() ? Path : Twin};
    EXPECT_EQ(Attached, Expected) << Round;
    View->SelectAndShowFile(C.Name);

    Form.RotateImage(90);
    EXPECT_TRUE(Form.SaveModifiedImage());
    EXPECT_EQ(apptest::LoadPicture(Path).size(), QSize(32, 48)) << Round;
    View->Delete1->trigger();
    EXPECT_FALSE(fs::exists(Path)) << Round;
    EXPECT_EQ(apptest::LoadPicture(Trash + "/files/" + C.Name).size(), QSize(32, 48)) << Round;
    EXPECT_TRUE(Read(Twin) == TwinBytes) << Round;

    // The rename dialog shows the name as text: left as it reads, the file
    // keeps its name.
    Put(Folder, C.Name, 48, 32);
    ASSERT_TRUE(WaitUntil([&] { return Listed(View, C.Name); })) << Round;
    View->SelectAndShowFile(C.Name);
    ASSERT_TRUE(WaitUntil([&] { return !Form.PictureLoadPending() && Form.CurrentPathBytes() == Path; }));
    Shown.clear();
    Answers = {C.Base, "r" + QString::number(Round)};
    View->RenameSelectedFile();
    EXPECT_TRUE(fs::exists(Path)) << Round;
    View->RenameSelectedFile();
    EXPECT_EQ(Shown.size(), 2u);
    EXPECT_EQ(Shown.front().first, C.Base);
    EXPECT_FALSE(fs::exists(Path)) << Round;
    EXPECT_EQ(Form.CurrentPathBytes(), Folder + "/r" + std::to_string(Round) + ".png");
    EXPECT_EQ(apptest::LoadPicture(Form.CurrentPathBytes()).size(), QSize(48, 32)) << Round;
    EXPECT_TRUE(Read(Twin) == TwinBytes) << Round;
  }
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(Unanswered.Count, 0);
}

// A move takes the shown picture's saved edit along and leaves no copy
// behind; a rename in place keeps the edit with "No" and no name, and drops
// it with "Discard Changes"; a file deleted by another program is no place
// to save to: leaving its picture offers a name.
TEST_F(FolderFileOpsTest, MoveRenameAndOutsideDeleteOfAnEditedPicture) {
  for (const char* Name : {"a.png", "b.png", "c.png"}) Put(One, Name, 480, 320);
  TFolderViewForm* Target = Open(Two);
  TFolderViewForm* Source = Open(One + "/a.png");
  Form.RotateImage(90);
  apptest::PressKey(Source->ThumbView, Qt::Key_X, Qt::ControlModifier);
  Target->Paste1->trigger();
  EXPECT_EQ(WidthOf(Two + "/a.png"), 320);
  ASSERT_TRUE(WaitUntil([&] { return !Listed(Source, "a.png") && !Form.PictureLoadPending(); }));
  EXPECT_FALSE(fs::exists(One + "/a.png"));
  EXPECT_EQ(Env.HelpShown, 0);

  // A rename cancelled leaves a large turned picture's file and its edit;
  // one gone on with saves the turn first.
  Source->SelectAndShowFile("b.png");
  Form.RotateImage(90);
  const std::string Before = Read(One + "/b.png");
  Source->RenameSelectedFile();
  EXPECT_TRUE(Read(One + "/b.png") == Before);
  EXPECT_TRUE(Form.IsImageModified());
  Answers = {"t"};
  Source->RenameSelectedFile();
  EXPECT_EQ(WidthOf(One + "/t.png"), 320);
  EXPECT_FALSE(Form.IsImageModified());
  Answers = {"b"};
  Source->RenameSelectedFile();
  ASSERT_TRUE(fs::exists(One + "/b.png"));

  Form.ResizeImage(240, 160);
  ASSERT_EQ(Form.CurrentFilePath(), QString::fromStdString(One + "/b.png"));
  TFolderRows& Rows = Source->Rows();
  Env.HelpAnswer = 2;
  EXPECT_FALSE(Rows.setData(Rows.index(Rows.IndexOf("b.png"), fcName), QString("r.png")));
  EXPECT_TRUE(fs::exists(One + "/b.png") && Form.IsImageModified());
  Env.HelpAnswer = 3;
  EXPECT_TRUE(Rows.setData(Rows.index(Rows.IndexOf("b.png"), fcName), QString("r.png")));
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(WidthOf(One + "/r.png"), 320);
  EXPECT_FALSE(Form.IsImageModified());
  EXPECT_EQ(Form.RastrumView1->GetBitmap()->Width(), 320);
  EXPECT_EQ(Form.CurrentFileName(), "r.png");

  // Large and turned, but its file is gone: asked, not saved silently.
  Form.RotateImage(90);
  Env.HelpAnswer = 2;
  fs::remove(One + "/r.png");
  ASSERT_TRUE(WaitUntil([&] { return Form.CurrentFileName() == "c.png" && !Form.PictureLoadPending(); }));
  EXPECT_EQ(Env.HelpShown, 3);
  EXPECT_EQ(Env.LastHelpCaption, "Save new image before continuing?");
  EXPECT_FALSE(fs::exists(One + "/r.png"));
}

// A paste or a drag that would put another file in place of the shown
// edited picture's, or take that file away, settles the edit first, as a
// cut and paste of the picture's own file does. An edit kept stops it: the
// files stay where they are, what was cut stays cut, and a drag leaves
// nothing marked as cut. A large picture only turned is saved silently
// before the pasted file replaces it, and is never written over that file
// afterwards.
TEST_F(FolderFileOpsTest, PastesAndDragsOverTheShownEditedPictureSettleItsEditFirst) {
  Put(One, "a.png", 400, 300);
  Put(Two, "a.png", 480, 320);
  Put(Two, "b.png", 480, 320);
  TFolderViewForm* Source = Open(One);
  TFolderViewForm* Target = Open(Two + "/a.png");
  const std::string Pasted = Read(One + "/a.png");
  Target->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::YesToAll; };

  Form.ResizeImage(240, 160);
  Source->Cut1->trigger();
  Env.HelpAnswer = 2;
  Target->Paste1->trigger();
  ASSERT_EQ(Env.HelpShown, 1);
  EXPECT_TRUE(Read(One + "/a.png") == Pasted);
  EXPECT_EQ(WidthOf(Two + "/a.png"), 480);
  EXPECT_TRUE(Form.IsImageModified() && Ghosted(Source, "a.png"));

  // Dragged, and kept at the question: what was copied before stays so.
  Target->Copy1->trigger();
  std::unique_ptr<QMimeData> Data(Source->FileDragData());
  QDragEnterEvent Enter(QPoint(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Target->ImageDetails->viewport(), &Enter);
  QDropEvent Drop(QPointF(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Target->ImageDetails->viewport(), &Drop);
  ASSERT_TRUE(WaitUntil([&] { return Env.HelpShown == 2; }));
  EXPECT_TRUE(Read(One + "/a.png") == Pasted);
  EXPECT_FALSE(Ghosted(Source, "a.png"));
  EXPECT_EQ(Form.RememberMode(), 1);
  EXPECT_EQ(Form.RememberedFiles(), std::vector<std::string>{Two + "/a.png"});

  Form.ReloadImage();
  Form.FinishPendingLoad();
  Form.RotateImage(90);
  Source->Cut1->trigger();
  Target->Paste1->trigger();
  EXPECT_TRUE(Read(Two + "/a.png") == Pasted);
  EXPECT_FALSE(fs::exists(One + "/a.png"));
  Form.NextImage();
  ASSERT_TRUE(WaitUntil([&] { return Form.CurrentFileName() == "b.png" && !Form.PictureLoadPending(); }));
  EXPECT_TRUE(Read(Two + "/a.png") == Pasted);
  EXPECT_EQ(Env.HelpShown, 2);
}

// A paste or a drag onto the shown edited picture's file that the user
// declines or cancels at its own question leaves that file and the edit as
// they were: the edit is settled only at a "Yes".
TEST_F(FolderFileOpsTest, APasteOrDragDeclinedAtItsQuestionLeavesTheEditAndTheFile) {
  Put(One, "a.png", 400, 300);
  Put(Two, "a.png", 480, 320);
  TFolderViewForm* Source = Open(One);
  TFolderViewForm* Target = Open(Two + "/a.png");
  const std::string Pasted = Read(One + "/a.png"), Shown = Read(Two + "/a.png");
  int Asked = 0;
  platform::TFileOpAnswer Answer;
  Target->WnSHFileOperator->OnConfirm = [&](auto...) { return ++Asked, Answer; };
  Form.RotateImage(90);
  std::unique_ptr<QMimeData> Data(Source->FileDragData());
  const std::function<void()> Steps[] = {
      [&] { Source->Copy1->trigger(), Target->Paste1->trigger(); },
      [&] { Source->Cut1->trigger(), Target->Paste1->trigger(); },
      [&] {
        QDragEnterEvent Enter(QPoint(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target->ImageDetails->viewport(), &Enter);
        QDropEvent Drop(QPointF(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target->ImageDetails->viewport(), &Drop);
      },
  };
  for (const auto Declined : {platform::TFileOpAnswer::No, platform::TFileOpAnswer::Cancel})
    for (const auto& Step : Steps) {
      Answer = Declined;
      const int Before = Asked;
      Step();
      ASSERT_TRUE(WaitUntil([&] { return Asked == Before + 1; })) << Before;
      EXPECT_TRUE(Read(Two + "/a.png") == Shown && Read(One + "/a.png") == Pasted);
      EXPECT_TRUE(Form.IsImageModified());
    }
  EXPECT_EQ(Env.HelpShown, 0);
}

// Pasted between folder views: a link onto the file it leads to is refused,
// the file staying; a file copied and moved to another device keeps the
// user's extended attributes.
TEST_F(FolderFileOpsTest, PastesKeepTheFileALinkLeadsToAndTheFilesAttributes) {
  const std::string Picture = Put(Two, "pic.png"), Bytes = Read(Picture), Moved = Put(One, "m.png");
  ASSERT_EQ(::symlink(Picture.c_str(), (One + "/pic.png").c_str()), 0);
  TFolderViewForm* Source = Open(One + "/pic.png");
  TFolderViewForm* Target = Open(Two);
  Target->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::Yes; };
  const apptest::TUnansweredModals Told;
  for (QAction* Take : {Source->Copy1, Source->Cut1}) {
    Take->trigger();
    EXPECT_FALSE(Form.PasteRememberedFiles(Target));
    EXPECT_TRUE(!fs::is_symlink(Picture) && Read(Picture) == Bytes && fs::is_symlink(One + "/pic.png"));
  }
  EXPECT_TRUE(WaitUntil([&] { return Told.Count == 2; }));

  QTemporaryDir Far(QStringLiteral("/dev/shm/pictrova-test-XXXXXX"));
  const std::string Away = Far.path().toStdString();
  struct stat Here {}, There {};
  if (::stat(One.c_str(), &Here) != 0 || ::stat(Away.c_str(), &There) != 0 || Here.st_dev == There.st_dev ||
      ::setxattr(Moved.c_str(), "user.comment", "kept", 4, 0) != 0)
    GTEST_SKIP() << "no other device with user attributes";
  Source->SelectAndShowFile("m.png");
  TFolderViewForm* Elsewhere = Open(Away);
  for (QAction* Take : {Source->Copy1, Source->Cut1}) {
    fs::remove(Away + "/m.png");
    Take->trigger();
    EXPECT_TRUE(Form.PasteRememberedFiles(Elsewhere));
    EXPECT_EQ(::getxattr((Away + "/m.png").c_str(), "user.comment", nullptr, 0), 4);
  }
  EXPECT_FALSE(fs::exists(Moved));
}

// Opening a folder clears the work files that saves and copies of runs now
// gone left there; another program's hidden file, a live run's and a file
// only named like a gone run's stay.
TEST_F(FolderFileOpsTest, OpeningAFolderClearsTheWorkFilesOfRunsThatAreGone) {
  const pid_t Dead = testing_support::KilledRun(One, "a.png");
  ASSERT_NE(Dead, 0);
  const std::string D = std::to_string(Dead), Live = std::to_string(::getppid());
  std::vector<std::string> Gone;
  for (const auto& Entry : fs::directory_iterator(One)) Gone.push_back(Entry.path().string());
  ASSERT_EQ(Gone.size(), 2u);
  const std::string Stay[] = {".a.png.Qw3rty", ".pictrova-" + Live + "-4.part", ".pictrova-" + D + "-4.part",
                              ".a.png.pictrova-" + D + "-backup"};
  for (const std::string& Name : Stay) std::ofstream(One + "/" + Name) << "x";
  Put(One, "a.png");
  Open(One + "/a.png");
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(Gone[0]) && !fs::exists(Gone[1]); }));
  for (const std::string& Name : Stay) EXPECT_TRUE(fs::exists(One + "/" + Name)) << Name;
}

// A paste or a drag that put another file in place of the shown edited
// picture's, whose edit was given up at the question, shows the file now
// there: leaving it asks nothing and writes nothing over the only copy of
// the pasted picture, and its row and thumbnail are read again.
TEST_F(FolderFileOpsTest, APasteOrDragThatReplacedTheShownFileShowsTheFileNowThere) {
  const auto Drag = [](TFolderViewForm& Source, TFolderViewForm& Target) {
    std::unique_ptr<QMimeData> Data(Source.FileDragData());
    QDragEnterEvent Enter(QPoint(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target.ImageDetails->viewport(), &Enter);
    QDropEvent Drop(QPointF(5, 5), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target.ImageDetails->viewport(), &Drop);
  };
  const auto Paste = [](TFolderViewForm& Source, TFolderViewForm& Target) {
    Source.Cut1->trigger();
    Target.Paste1->trigger();
  };
  const std::pair<const char*, std::function<void(TFolderViewForm&, TFolderViewForm&)>> Moves[] = {{"paste", Paste},
                                                                                                     {"drag", Drag}};
  for (const auto& [Name, Move] : Moves) {
    const std::string From = One + "/" + Name, To = Two + "/" + Name;
    fs::create_directory(From);
    fs::create_directory(To);
    const std::string Pasted = Read(Put(From, "s.png", 160, 100));
    Put(To, "s.png", 200, 125);
    Put(To, "t.png", 200, 125);
    TFolderViewForm* Source = Open(From);
    TFolderViewForm* Target = Open(To + "/s.png");
    Target->WnSHFileOperator->OnConfirm = [](auto...) { return platform::TFileOpAnswer::Yes; };
    Form.RotateImage(90);
    Env.HelpShown = 0;
    Env.HelpAnswer = 3;
    Move(*Source, *Target);
    ASSERT_TRUE(WaitUntil([&] { return !fs::exists(From + "/s.png") && !Form.PictureLoadPending(); })) << Name;
    EXPECT_EQ(Env.HelpShown, 1) << Name;
    EXPECT_FALSE(Form.IsImageModified()) << Name;
    EXPECT_EQ(Form.RastrumView1->GetBitmap()->Width(), 160) << Name;
    TFolderRows& Rows = Target->Rows();
    EXPECT_EQ(Rows.Row(Rows.IndexOf("s.png")).Size, static_cast<std::int64_t>(Pasted.size())) << Name;
    Form.NextImage();
    ASSERT_TRUE(WaitUntil([&] { return Form.CurrentFileName() == "t.png" && !Form.PictureLoadPending(); })) << Name;
    EXPECT_EQ(Env.HelpShown, 1) << Name;
    EXPECT_TRUE(Read(To + "/s.png") == Pasted) << Name;
  }
}

// The shell's moves and moves to the trash (its controls' drops and
// pastes) ask about the shown picture's edit as a cut and paste does.
TEST_F(FolderFileOpsTest, TheShellsTransfersOfTheShownFileAskAboutItsEdit) {
  Put(One, "a.png", 480, 320);
  TFolderViewForm* View = Open(One + "/a.png");
  Form.ResizeImage(240, 160);
  Env.HelpAnswer = 2;
  EXPECT_FALSE(sx::SxTransferFiles(nullptr, nullptr, sx::DROPEFFECT_MOVE, {One + "/a.png"}, Two, false));
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_TRUE(fs::exists(One + "/a.png") && Form.IsImageModified());
  Env.HelpAnswer = 3;
  EXPECT_TRUE(sx::SxTransferFiles(nullptr, nullptr, sx::DROPEFFECT_MOVE, {One + "/a.png"}, "", true));
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_FALSE(fs::exists(One + "/a.png"));

  // A drop that puts another file in place of the shown one, its edit given
  // up at "Yes" to the replace: the file now there is shown, as it is.
  ASSERT_TRUE(WaitUntil([&] { return !Listed(View, "a.png") && !Form.PictureLoadPending(); }));
  Put(One, "b.png", 480, 320);
  const std::string Dropped = Read(Put(Two, "b.png", 160, 100));
  Open(One + "/b.png");
  Form.ResizeImage(240, 160);
  const int Asked = Env.HelpShown;
  sx::TSxCustomShellController Controller;
  Controller.OnConfirm = [](auto...) { return platform::TFileOpAnswer::Yes; };
  EXPECT_TRUE(sx::SxTransferFiles(&Controller, nullptr, sx::DROPEFFECT_MOVE, {Two + "/b.png"}, One, false));
  EXPECT_EQ(Env.HelpShown, Asked + 1);
  ASSERT_TRUE(WaitUntil([&] { return !Form.PictureLoadPending() && !Form.IsImageModified(); }));
  EXPECT_EQ(Form.RastrumView1->GetBitmap()->Width(), 160);
  EXPECT_EQ(Read(One + "/b.png"), Dropped);
}

// A folder whose only listed file went before the folder heard of it: the
// read's error is told once and the walk stops there, where it came round
// to that file again without end.
TEST_F(FolderFileOpsTest, AFolderWhoseOnlyFileWentAsksOnce) {
  Put(One, "a.png");
  TFolderViewForm* View = Open(One + "/a.png");
  fs::remove(One + "/a.png");
  Env.HelpShown = 0;
  Form.ShowImageFile(View, "a.png");
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_FALSE(Form.HasImage());
}

// A rename's notice that comes after the rename was undone (b to t, then t
// back to b) leaves the row and the shown picture's name with the file there.
TEST_F(FolderFileOpsTest, ALateNoticeOfARenameUndoneRenamesNothing) {
  Put(One, "b.png");
  TFolderViewForm* View = Open(One + "/b.png");
  View->FileRenamed(One + "/b.png", One + "/t.png");
  EXPECT_TRUE(Listed(View, "b.png") && !Listed(View, "t.png"));
  EXPECT_EQ(Form.CurrentFileName(), "b.png");
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

namespace {

std::string Numbered(int I) {
  char Name[16];
  std::snprintf(Name, sizeof Name, "p%04d.png", I);
  return Name;
}

std::vector<std::string> Numbered(int From, int To) {
  std::vector<std::string> Names;
  for (int I = From; I < To; ++I) Names.push_back(Numbered(I));
  return Names;
}

std::vector<std::string> OnDisk(const std::string& Folder) {
  std::vector<std::string> Names;
  for (const auto& E : fs::directory_iterator(Folder)) Names.push_back(E.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

// The view lists exactly the files of its folder (new ones come last), its
// rows and thumbnails in step with its names.
::testing::AssertionResult MatchesDisk(TFolderViewForm* View, const std::string& Folder) {
  std::vector<std::string> Listed = View->Names();
  std::sort(Listed.begin(), Listed.end());
  if (Listed != OnDisk(Folder))
    return ::testing::AssertionFailure() << "names differ from the folder: " << View->Names().size() << " listed, "
                                         << OnDisk(Folder).size() << " there";
  if (View->Rows().Count() != static_cast<int>(View->Names().size()) ||
      View->ThumbView->ImageCount() != static_cast<int>(View->Names().size()))
    return ::testing::AssertionFailure() << "rows or thumbnails out of step";
  for (std::size_t I = 0; I < View->Names().size(); ++I)
    if (View->Rows().Row(static_cast<int>(I)).Name != View->Names()[I] || View->Rows().IndexOf(View->Names()[I]) != static_cast<int>(I) ||
        View->ThumbView->ImageFileName(static_cast<int>(I)) != Folder + "/" + View->Names()[I])
      return ::testing::AssertionFailure() << "row or thumbnail " << I << " is not " << View->Names()[I];
  return ::testing::AssertionSuccess();
}

} // namespace

// 300 of 1,000 files moved out in one paste, twice: the other rows stay in
// order with their thumbnails and the source's selection stays, or, when it
// went, the file now at its place is selected; the target shows the first
// file pasted. Files moved away by another program while the source shows
// one of them: the file now at its place is shown, however many reports
// the views take the move in.
TEST_F(FolderFileOpsTest, MovingManyFilesKeepsTheOtherRowsAndTheShownFile) {
  const std::string First = Put(One, Numbered(0));
  for (int I = 1; I < 1000; ++I) fs::copy_file(First, One + "/" + Numbered(I));
  TFolderViewForm* Source = Open(One + "/" + Numbered(500));
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().size() == 1000; }));
  TFolderViewForm* Target = Open(Two);
  Source->SelectAndShowFile(Numbered(500));

  Form.RememberFilesForMove(One, Numbered(100, 400));
  EXPECT_TRUE(Form.PasteRememberedFiles(Target));
  EXPECT_TRUE(MatchesDisk(Target, Two));
  EXPECT_EQ(Target->Names(), Numbered(100, 400));
  EXPECT_EQ(Form.CurrentFilePath(), QString::fromStdString(Two + "/" + Numbered(100)));
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().size() == 700; }));
  EXPECT_TRUE(MatchesDisk(Source, One));
  EXPECT_EQ(Source->SelectedNames(), std::vector<std::string>{Numbered(500)});
  EXPECT_EQ(Source->ThumbView->SelectedImage(), 200);

  // p0500 stood at 200 of the 700: p0800 stands there once 400-699 are gone.
  Form.RememberFilesForMove(One, Numbered(400, 700));
  EXPECT_TRUE(Form.PasteRememberedFiles(Target));
  EXPECT_EQ(Target->Names(), Numbered(100, 700));
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().size() == 400; }));
  EXPECT_TRUE(MatchesDisk(Source, One));
  EXPECT_TRUE(MatchesDisk(Target, Two));
  EXPECT_EQ(Source->SelectedNames(), std::vector<std::string>{Numbered(800)});
  EXPECT_EQ(Source->ThumbView->SelectedImage(), 200);
  EXPECT_EQ(Form.CurrentFilePath(), QString::fromStdString(Two + "/" + Numbered(100)));

  Source->SelectAndShowFile(Numbered(800));
  ASSERT_EQ(Form.CurrentFilePath(), QString::fromStdString(One + "/" + Numbered(800)));
  const std::string Elsewhere = Env.File("elsewhere");
  fs::create_directory(Elsewhere);
  for (const std::string& Name : Numbered(800, 900)) fs::rename(One + "/" + Name, Elsewhere + "/" + Name);
  const QString Next = QString::fromStdString(One + "/" + Numbered(900));
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().size() == 300 && Form.CurrentFilePath() == Next; }));
  EXPECT_EQ(Source->SelectedNames(), std::vector<std::string>{Numbered(900)});
  EXPECT_TRUE(MatchesDisk(Source, One));
}

// A move cancelled at a question halfway: the files before it are moved,
// the others stay, and both views list what their folders hold. The
// question is asked on the window's thread, the first file kept.
TEST_F(FolderFileOpsTest, AMoveCancelledHalfwayLeavesTheViewsMatchingTheFolders) {
  const std::string First = Put(One, Numbered(0));
  for (int I = 1; I < 200; ++I) fs::copy_file(First, One + "/" + Numbered(I));
  apptest::MarkedPicture(4, 4).save(QString::fromStdString(Two + "/" + Numbered(120)));
  const std::string Kept = Read(Two + "/" + Numbered(120));
  TFolderViewForm* Source = Open(One);
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().size() == 200; }));
  TFolderViewForm* Target = Open(Two);
  int Asked = 0;
  Target->WnSHFileOperator->OnConfirm = [&](platform::TFileOpConfirm Kind, const std::string&, const std::string& To) {
    ++Asked;
    EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
    EXPECT_EQ(Kind, platform::TFileOpConfirm::Replace);
    EXPECT_EQ(To, Two + "/" + Numbered(120));
    return platform::TFileOpAnswer::Cancel;
  };
  Source->SelectAllFiles();
  Source->CutSelectedFiles();
  EXPECT_FALSE(Form.PasteRememberedFiles(Target));
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(Read(Two + "/" + Numbered(120)), Kept);
  EXPECT_EQ(OnDisk(One), Numbered(120, 200));
  EXPECT_EQ(OnDisk(Two), Numbered(0, 121));
  EXPECT_TRUE(MatchesDisk(Target, Two));
  ASSERT_TRUE(WaitUntil([&] { return Source->Names().size() == 80; }));
  EXPECT_TRUE(MatchesDisk(Source, One));
  // Nothing is left ghosted or to paste: the mode was used up.
  EXPECT_FALSE(Ghosted(Source, Numbered(150)));
  EXPECT_FALSE(Target->Paste1->isEnabled());
}

TEST_F(FolderFileOpsTest, EmailFromThePopUpAndFromTheKeysOfAnUndockedView) {
  TEmailSizeDlg Mail;
  Put(One, "a.png");
  Put(One, "b.png");
  Put(Two, "c.png");
  TFolderViewForm* First = Open(One);
  First->SelectAllFiles();
  EXPECT_EQ(First->Email1->text(), "Email Images [Ctrl+E]");
  ASSERT_TRUE(First->Email1->isEnabled());
  First->Email1->trigger();
  EXPECT_EQ(Mail.Paths(), (std::vector<std::string>{One + "/a.png", One + "/b.png"}));
  EXPECT_TRUE(Mail.isVisible());

  // The second folder, undocked: the tab left behind is the current view,
  // yet Ctrl+E in the undocked window mails its own selection.
  TFolderViewForm* Second = Open(Two);
  Second->Undock();
  ASSERT_TRUE(Second->Floating());
  ASSERT_EQ(Form.CurrentFolderView(), First);
  ASSERT_EQ(Second->SelectedNames(), std::vector<std::string>{"c.png"});
  apptest::PressKey(Second->ImageDetails, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(Form.CurrentFolderView(), Second);
  ASSERT_EQ(Mail.Paths().size(), 3u);
  EXPECT_EQ(Mail.Paths()[2], Two + "/c.png");
  EXPECT_EQ(Mail.windowTitle(), "Email 3 Images");
}

TEST_F(FolderFileOpsTest, ThumbnailsDraggedOverAFolderTabMoveIntoThatFolder) {
  Put(One, "a.png");
  Put(One, "b.png");
  Put(Two, "x.png");
  TFolderViewForm* Target = Open(Two);
  TFolderViewForm* Source = Open(One + "/a.png");
  QTabBar* Tabs = Form.ThumbPageControl->tabBar();
  const int SourceTab = Form.ThumbPageControl->indexOf(Source->parentWidget());
  const int TargetTab = Form.ThumbPageControl->indexOf(Target->parentWidget());
  ASSERT_TRUE(SourceTab >= 0 && TargetTab >= 0 && Tabs->currentIndex() == SourceTab);
  std::unique_ptr<QMimeData> Data(Source->FileDragData());
  auto Over = [&](QEvent::Type Type, int Tab) {
    const QPoint At = Tabs->tabRect(Tab).center();
    std::unique_ptr<QDropEvent> Event;
    if (Type == QEvent::DragEnter) Event = std::make_unique<QDragEnterEvent>(At, Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
    else if (Type == QEvent::DragMove) Event = std::make_unique<QDragMoveEvent>(At, Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
    else Event = std::make_unique<QDropEvent>(QPointF(At), Qt::MoveAction, Data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Tabs, Event.get());
    return Event->isAccepted();
  };
  // The row follows every drag; over its own folder's tab no drop.
  EXPECT_TRUE(Over(QEvent::DragEnter, SourceTab));
  EXPECT_FALSE(Over(QEvent::DragMove, SourceTab));
  EXPECT_EQ(Tabs->currentIndex(), SourceTab);
  // Over the other tab: that tab is chosen and its view takes the drag.
  EXPECT_TRUE(Over(QEvent::DragMove, TargetTab));
  EXPECT_EQ(Tabs->currentIndex(), TargetTab);
  EXPECT_EQ(Form.CurrentFolderView(), Target);
  EXPECT_FALSE(Over(QEvent::DragMove, SourceTab));
  EXPECT_EQ(Form.CurrentFolderView(), Source);
  EXPECT_TRUE(Over(QEvent::DragMove, TargetTab));
  EXPECT_TRUE(Over(QEvent::Drop, TargetTab));
  ASSERT_TRUE(WaitUntil([&] { return Listed(Target, "a.png") && !Listed(Source, "a.png"); }));
  EXPECT_TRUE(fs::exists(Two + "/a.png") && !fs::exists(One + "/a.png"));
  EXPECT_TRUE(fs::exists(One + "/b.png") && Listed(Source, "b.png"));
  EXPECT_EQ(Form.CurrentFolderView(), Target);
}
