#include "platform/safesave.h"
#include "platform/shfileop.h"
#include "platform/trash.h"
#include "support/killedrun.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

using namespace platform;

namespace {

void WriteFile(const std::string& Path, const std::string& Text) { std::ofstream(Path, std::ios::binary) << Text; }

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

bool Exists(const std::string& P) {
  struct stat St;
  return ::lstat(P.c_str(), &St) == 0;
}

std::string NameOf(const std::string& P) { return P.substr(P.rfind('/') + 1); }

// Names left in Dir that look like unfinished copies.
int PartialFiles(const std::string& Dir) {
  return static_cast<int>(QDir(QString::fromStdString(Dir)).entryList({".pictrova-*"}, QDir::Hidden | QDir::Files).size());
}

class ShFileOp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Home.isValid() && Dir.isValid());
    // Nothing may reach the real home or trash.
    qputenv("HOME", Home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (Home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (Home.path() + "/.config").toUtf8());
    qputenv("XDG_CACHE_HOME", (Home.path() + "/.cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", Home.path().toUtf8());
    Root = Dir.path().toStdString();
  }
  std::string P(const std::string& Name) const { return Root + "/" + Name; }

  QTemporaryDir Home;
  QTemporaryDir Dir;
  std::string Root;
};

}  // namespace

TEST_F(ShFileOp, CopyNeverReplacesWithoutAnswer) {
  WriteFile(P("a.txt"), "new");
  ::mkdir(P("out").c_str(), 0755);
  WriteFile(P("out/a.txt"), "old");

  TSHFileOpStruct Op;
  Op.Func = FO_COPY;
  Op.From = {P("a.txt")};
  Op.To = {P("out")};
  Op.Flags = FOF_NOCONFIRMATION;  // answers other questions, not this one
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(P("out/a.txt")), "old");

  int Asked = 0;
  Op.OnConfirm = [&](TFileOpConfirm Kind, const std::string& S, const std::string& T) {
    ++Asked;
    EXPECT_EQ(Kind, TFileOpConfirm::Replace);
    EXPECT_EQ(S, P("a.txt"));
    EXPECT_EQ(T, P("out/a.txt"));
    return Asked == 1 ? TFileOpAnswer::No : TFileOpAnswer::Yes;
  };
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(P("out/a.txt")), "old");
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(P("out/a.txt")), "new");
  EXPECT_EQ(Asked, 2);
  EXPECT_EQ(PartialFiles(P("out")), 0);
}

TEST_F(ShFileOp, MoveAndRenameKeepExistingTargets) {
  WriteFile(P("a.txt"), "a");
  WriteFile(P("b.txt"), "b");
  TSHFileOpStruct Op;
  Op.Func = FO_RENAME;
  Op.From = {P("a.txt")};
  Op.To = {"b.txt"};
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(P("a.txt")), "a");
  EXPECT_EQ(ReadFile(P("b.txt")), "b");

  Op.Func = FO_MOVE;
  Op.To = {P("b.txt")};
  Op.OnConfirm = [](TFileOpConfirm, const std::string&, const std::string&) { return TFileOpAnswer::NoToAll; };
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_TRUE(Exists(P("a.txt")));
  EXPECT_EQ(ReadFile(P("b.txt")), "b");

  Op.OnConfirm = [](TFileOpConfirm, const std::string&, const std::string&) { return TFileOpAnswer::Cancel; };
  EXPECT_EQ(SHFileOperation(Op), ECANCELED);
  EXPECT_TRUE(Op.AnyOperationsAborted);
  EXPECT_TRUE(Exists(P("a.txt")));

  Op.Func = FO_RENAME;
  Op.To = {"c.txt"};
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_FALSE(Exists(P("a.txt")));
  EXPECT_EQ(ReadFile(P("c.txt")), "a");
}

TEST_F(ShFileOp, RenameOnCollisionReportsMapping) {
  WriteFile(P("a.txt"), "1");
  ::mkdir(P("out").c_str(), 0755);
  WriteFile(P("out/a.txt"), "0");
  WriteFile(P("out/a (2).txt"), "0");
  TSHFileOpStruct Op;
  Op.From = {P("a.txt")};
  Op.To = {P("out")};
  Op.Flags = FOF_RENAMEONCOLLISION | FOF_WANTMAPPINGHANDLE;
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(P("out/a (3).txt")), "1");
  ASSERT_EQ(Op.NameMappings.size(), 1u);
  EXPECT_EQ(Op.NameMappings[0].OldName, P("out/a.txt"));
  EXPECT_EQ(Op.NameMappings[0].NewName, P("out/a (3).txt"));
}

TEST_F(ShFileOp, CopyFailingMidwayLeavesNoPartialFile) {
  // A file-size limit makes writes fail after 256 KB, as a full disk would.
  const std::string Big(2 << 20, 'x');
  WriteFile(P("big.bin"), Big);
  ::mkdir(P("out").c_str(), 0755);
  struct rlimit Old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
  auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit Small = Old;
  Small.rlim_cur = 256 << 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
  TSHFileOpStruct Op;
  Op.From = {P("big.bin")};
  Op.To = {P("out")};
  const int Result = SHFileOperation(Op);
  ::setrlimit(RLIMIT_FSIZE, &Old);
  std::signal(SIGXFSZ, OldHandler);
  EXPECT_EQ(Result, EFBIG);
  ASSERT_EQ(Op.Failures.size(), 1u);
  EXPECT_FALSE(Exists(P("out/big.bin")));
  EXPECT_EQ(PartialFiles(P("out")), 0);
  EXPECT_EQ(ReadFile(P("big.bin")).size(), Big.size());
}

TEST_F(ShFileOp, CopyIntoReadOnlyFolderFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  WriteFile(P("a.txt"), "a");
  ::mkdir(P("ro").c_str(), 0555);
  TSHFileOpStruct Op;
  Op.From = {P("a.txt")};
  Op.To = {P("ro")};
  EXPECT_EQ(SHFileOperation(Op), EACCES);
  EXPECT_FALSE(Exists(P("ro/a.txt")));
  ::chmod(P("ro").c_str(), 0755);
}

TEST_F(ShFileOp, CancelFromProgressRemovesTheCopy) {
  WriteFile(P("big.bin"), std::string(3 << 20, 'y'));
  ::mkdir(P("out").c_str(), 0755);
  TSHFileOpStruct Op;
  Op.From = {P("big.bin")};
  Op.To = {P("out")};
  Op.OnProgress = [](std::int64_t Done, std::int64_t Total, const std::string&) {
    EXPECT_EQ(Total, 3 << 20);
    return Done < (1 << 20);
  };
  EXPECT_EQ(SHFileOperation(Op), ECANCELED);
  EXPECT_TRUE(Op.AnyOperationsAborted);
  EXPECT_FALSE(Exists(P("out/big.bin")));
  EXPECT_EQ(PartialFiles(P("out")), 0);
}

TEST_F(ShFileOp, MoveAcrossDevicesCopiesThenDeletes) {
  struct stat Shm, Here;
  if (::stat("/dev/shm", &Shm) != 0 || ::stat(Root.c_str(), &Here) != 0 || Shm.st_dev == Here.st_dev)
    GTEST_SKIP() << "no second file system";
  QTemporaryDir Other("/dev/shm/pictrova-test-XXXXXX");
  ASSERT_TRUE(Other.isValid());
  const std::string Src = Other.path().toStdString() + "/pics";
  ::mkdir(Src.c_str(), 0755);
  ::mkdir((Src + "/sub").c_str(), 0750);
  WriteFile(Src + "/one.jpg", "1111");
  WriteFile(Src + "/sub/two.jpg", std::string(100000, 't'));
  ::symlink("one.jpg", (Src + "/link").c_str());

  TSHFileOpStruct Op;
  Op.Func = FO_MOVE;
  Op.From = {Src};
  Op.To = {Root};
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_FALSE(Exists(Src));
  EXPECT_EQ(ReadFile(P("pics/one.jpg")), "1111");
  EXPECT_EQ(ReadFile(P("pics/sub/two.jpg")).size(), 100000u);
  EXPECT_EQ(ReadFile(P("pics/link")), "1111");
  struct stat Sub;
  ASSERT_EQ(::stat(P("pics/sub").c_str(), &Sub), 0);
  EXPECT_EQ(Sub.st_mode & 0777, 0750u);

  // Declining a replace keeps that source file where it was.
  ::mkdir(Src.c_str(), 0755);
  WriteFile(Src + "/one.jpg", "2222");
  WriteFile(Src + "/three.jpg", "3");
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(P("pics/one.jpg")), "1111");
  EXPECT_EQ(ReadFile(Src + "/one.jpg"), "2222");
  EXPECT_EQ(ReadFile(P("pics/three.jpg")), "3");
  EXPECT_FALSE(Exists(Src + "/three.jpg"));
}

TEST_F(ShFileOp, DeleteWithUndoGoesToTheTrash) {
  WriteFile(P("gone.txt"), "g");
  TSHFileOpStruct Op;
  Op.Func = FO_DELETE;
  Op.From = {P("gone.txt")};
  Op.Flags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION;
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_FALSE(Exists(P("gone.txt")));
  const std::string Trash = Home.path().toStdString() + "/.local/share/Trash/files/gone.txt";
  EXPECT_EQ(ReadFile(Trash), "g");
}

// A file on another device than the home trash goes to its top folder's
// ".Trash-<uid>", recorded relative to that folder; where none can be made
// it stays, with no record left anywhere: a trash never copies.
TEST_F(ShFileOp, DeleteWithUndoOnAnotherDeviceUsesItsTopFolder) {
  struct stat Shm {}, Here {};
  if (::stat("/dev/shm", &Shm) != 0 || ::stat(Home.path().toLocal8Bit().constData(), &Here) != 0 ||
      Shm.st_dev == Here.st_dev || ::access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no writable folder on another device";
  const std::string Trash = "/dev/shm/.Trash-" + std::to_string(::getuid());
  if (Exists(Trash)) GTEST_SKIP() << Trash << " is someone else's";
  // The test's own, gone with it whatever happens.
  struct TGone {
    std::string Path;
    ~TGone() {
      ::unlink(Path.c_str());
      QDir(QString::fromStdString(Path)).removeRecursively();
    }
  } Gone{Trash};
  QTemporaryDir Far(QStringLiteral("/dev/shm/pictrova-test-XXXXXX"));
  ASSERT_TRUE(Far.isValid());
  const std::string Folder = Far.path().toStdString();
  TSHFileOpStruct Op;
  Op.Func = FO_DELETE;
  Op.From = {Folder + "/a b.txt"};
  Op.Flags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION;

  WriteFile(Trash, "in the way");
  WriteFile(Folder + "/a b.txt", "far");
  EXPECT_NE(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(Folder + "/a b.txt"), "far");
  EXPECT_EQ(QDir(Home.path() + "/.local/share/Trash/info").entryList(QDir::Files), QStringList());
  ::unlink(Trash.c_str());

  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(Trash + "/files/a b.txt"), "far");
  const std::string Record = ReadFile(Trash + "/info/a b.txt.trashinfo");
  EXPECT_EQ(Record.substr(0, Record.find("\nDeletionDate=")),
            "[Trash Info]\nPath=" + Folder.substr(std::strlen("/dev/shm/")) + "/a%20b.txt");
}

TEST_F(ShFileOp, DeleteAsksAndRemovesTrees) {
  ::mkdir(P("tree").c_str(), 0755);
  ::mkdir(P("tree/x").c_str(), 0755);
  WriteFile(P("tree/x/f"), "f");
  TSHFileOpStruct Op;
  Op.Func = FO_DELETE;
  Op.From = {P("tree")};
  Op.OnConfirm = [](TFileOpConfirm K, const std::string&, const std::string&) {
    EXPECT_EQ(K, TFileOpConfirm::Delete);
    return TFileOpAnswer::No;
  };
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_TRUE(Exists(P("tree/x/f")));
  Op.OnConfirm = [](TFileOpConfirm, const std::string&, const std::string&) { return TFileOpAnswer::Yes; };
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_FALSE(Exists(P("tree")));

  Op.From = {P("missing")};
  EXPECT_EQ(SHFileOperation(Op), ENOENT);
}

// A delete the user refuses leaves its file, and the caller is told so: the
// flag a view reads before dropping the file from its list.
TEST_F(ShFileOp, ADeclinedDeleteIsAnAbort) {
  WriteFile(P("keep.jpg"), "k");
  WriteFile(P("go.jpg"), "g");
  TSHFileOpStruct Op;
  Op.Func = FO_DELETE;
  Op.From = {P("keep.jpg"), P("go.jpg")};
  Op.OnConfirm = [this](TFileOpConfirm, const std::string& Source, const std::string&) {
    return Source == P("keep.jpg") ? TFileOpAnswer::No : TFileOpAnswer::Yes;
  };
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_TRUE(Op.AnyOperationsAborted);
  EXPECT_TRUE(Exists(P("keep.jpg")));
  EXPECT_FALSE(Exists(P("go.jpg")));

  Op.From = {P("keep.jpg")};
  Op.OnConfirm = [](TFileOpConfirm, const std::string&, const std::string&) { return TFileOpAnswer::Yes; };
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_FALSE(Op.AnyOperationsAborted);
  EXPECT_FALSE(Exists(P("keep.jpg")));
}

TEST_F(ShFileOp, WildcardsFilesOnlyAndNewFolder) {
  WriteFile(P("a.jpg"), "a");
  WriteFile(P("b.jpg"), "b");
  WriteFile(P("c.png"), "c");
  ::mkdir(P("d.jpg").c_str(), 0755);
  TSHFileOpStruct Op;
  Op.From = {P("*.jpg")};
  Op.To = {P("new")};
  Op.Flags = FOF_FILESONLY;
  EXPECT_EQ(SHFileOperation(Op), 0);  // the new folder is made without a callback
  EXPECT_TRUE(Exists(P("new/a.jpg")));
  EXPECT_TRUE(Exists(P("new/b.jpg")));
  EXPECT_FALSE(Exists(P("new/c.png")));
  EXPECT_FALSE(Exists(P("new/d.jpg")));
}

TEST_F(ShFileOp, FolderIntoItselfAndLongPaths) {
  ::mkdir(P("f").c_str(), 0755);
  TSHFileOpStruct Op;
  Op.From = {P("f")};
  Op.To = {P("f/inner")};
  EXPECT_EQ(SHFileOperation(Op), EINVAL);
  EXPECT_FALSE(Exists(P("f/inner")));

  // The same folder through a link, or through a link to a folder above
  // it: refused before anything is made, for a copy and for a move.
  ASSERT_EQ(::symlink("f", P("l").c_str()), 0);
  ASSERT_EQ(::symlink(Root.c_str(), P("f/up").c_str()), 0);
  for (const int Func : {FO_COPY, FO_MOVE})
    for (const std::string& Into : {P("l"), P("f/up/l"), P("l/up/f")}) {
      TSHFileOpStruct Linked;
      Linked.Func = Func;
      Linked.From = {P("f")};
      Linked.To = {Into};
      EXPECT_EQ(SHFileOperation(Linked), EINVAL) << Func << " " << Into;
      ASSERT_EQ(Linked.Failures.size(), 1u);
      EXPECT_EQ(Linked.Failures[0].Path, Into + "/f");
      EXPECT_FALSE(Exists(P("f/f")));
      EXPECT_TRUE(Exists(P("f/up")));
    }
  EXPECT_TRUE(FolderHolds(P("f"), P("l/a/b")));
  EXPECT_TRUE(FolderHolds(P("f/"), P("f")));
  EXPECT_FALSE(FolderHolds(P("f"), P("fa")));
  EXPECT_FALSE(FolderHolds(P("f"), Root));
  EXPECT_TRUE(FolderHolds("/", P("f")));
  EXPECT_FALSE(FolderHolds(P("l"), P("f/x"))); // a link is copied as a link
  ::unlink(P("f/up").c_str());

  std::string Deep = Root;
  for (int I = 0; I < 6; ++I) {
    Deep += "/" + std::string(50, static_cast<char>('a' + I));
    ::mkdir(Deep.c_str(), 0755);
  }
  ASSERT_GT(Deep.size(), 300u);
  WriteFile(P("f/x.txt"), "x");
  Op.From = {P("f/x.txt")};
  Op.To = {Deep};
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(ReadFile(Deep + "/x.txt"), "x");
}

// A move to another device keeps the user's extended attributes; one the
// target will not take is told, and the file is moved all the same.
TEST_F(ShFileOp, AnAttributeTheTargetWillNotTakeIsTold) {
  QTemporaryDir Other("/dev/shm/pictrova-test-XXXXXX");
  const std::string Far = Other.path().toStdString() + "/a.jpg", Big(8000, 'b');
  WriteFile(Far, "a");
  WriteFile(P("probe"), "");
  struct stat Shm, Here;
  if (::stat(Far.c_str(), &Shm) != 0 || ::stat(Root.c_str(), &Here) != 0 || Shm.st_dev == Here.st_dev ||
      ::setxattr(Far.c_str(), "user.comment", "kept", 4, 0) != 0 ||
      ::setxattr(Far.c_str(), "user.big", Big.data(), Big.size(), 0) != 0 ||
      ::setxattr(P("probe").c_str(), "user.big", Big.data(), Big.size(), 0) == 0)
    GTEST_SKIP() << "no attribute /dev/shm takes and this folder's file system refuses";
  TSHFileOpStruct Op;
  Op.Func = FO_MOVE;
  Op.From = {Far};
  Op.To = {Root};
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_EQ(::getxattr(P("a.jpg").c_str(), "user.comment", nullptr, 0), 4);
  ASSERT_EQ(Op.Warnings.size(), 1u);
  EXPECT_EQ(Op.Warnings[0].Path, P("a.jpg"));
  EXPECT_EQ(Op.Warnings[0].Message.rfind("Cannot keep the attribute user.big: ", 0), 0u);
  EXPECT_FALSE(Exists(Far));
}

// A name near the longest a folder holds goes to the trash under a shorter
// one where, numbered and with ".trashinfo", it would pass it: its extension
// kept, no character cut. The record keeps the whole path.
TEST_F(ShFileOp, LongNamesGoToTheTrashShortened) {
  const std::string B = std::string(240, 'b') + ".jpg";
  const std::pair<std::string, int> Names[] = {{"x.jpg", 3}, {".hidden", 2}, {B, 1}, {B, 2},
                                               {std::string(238, 'b') + "\xC3\xA9.jpg", 2},
                                               {"x." + std::string(260, 'e'), 1}};
  const std::string Trashed[] = {"x.3.jpg", ".hidden.2", B, std::string(239, 'b') + ".2.jpg",
                                 std::string(238, 'b') + ".2.jpg", "x." + std::string(243, 'e')};
  for (int I = 0; I < 6; ++I) EXPECT_EQ(TrashedName(Names[I].first, Names[I].second, 255), Trashed[I]) << I;

  // 246 bytes, and the same 244 twice.
  ::mkdir(P("sub").c_str(), 0755);
  const std::string Trash = Home.path().toStdString() + "/.local/share/Trash/";
  for (const std::string& Path : {P(std::string(242, 'a') + ".jpg"), P(B), P("sub/" + B)}) {
    WriteFile(Path, Path);
    EXPECT_EQ(MoveToTrash(Path), 0) << Path.size();
    const std::string Name = TrashedName(NameOf(Path), Path == P("sub/" + B) ? 2 : 1, 255);
    EXPECT_EQ(ReadFile(Trash + "files/" + Name), Path);
    EXPECT_EQ(ReadFile(Trash + "info/" + Name + ".trashinfo").find("\nPath=" + Path + "\n"), 12u);
  }
}

// Where the trash is reached by a link and an unlink, an unlink that fails
// leaves the file in place and says so, with nothing left in the trash.
TEST_F(ShFileOp, ATrashThatCannotUnlinkSaysSo) {
  WriteFile(P("kept.jpg"), "k");
  FileOpCallFault = [](const char* Call, const std::string&) {
    return std::strcmp(Call, "renameat2") == 0 ? EINVAL : std::strcmp(Call, "unlink") == 0 ? EPERM : 0;
  };
  EXPECT_EQ(MoveToTrash(P("kept.jpg")), EPERM);
  FileOpCallFault = nullptr;
  EXPECT_EQ(ReadFile(P("kept.jpg")), "k");
  const QString Trash = Home.path() + "/.local/share/Trash";
  EXPECT_TRUE(QDir(Trash + "/files").isEmpty() && QDir(Trash + "/info").isEmpty());
}

// A FAT disk through FUSE has neither the no-replace rename nor hard links,
// nor modes: a file and a folder still go to its trash, and a save keeps a
// mode the disk cannot hold as it is (a mode it would change is no save).
TEST_F(ShFileOp, ADiskWithoutModesOrLinksTrashesAndSaves) {
  WriteFile(P("gone.jpg"), "g");
  ::mkdir(P("folder").c_str(), 0755);
  FileOpCallFault = [](const char* Call, const std::string&) {
    return std::strcmp(Call, "renameat2") == 0 ? EINVAL : std::strcmp(Call, "link") == 0 ? EPERM : 0;
  };
  EXPECT_EQ(MoveToTrash(P("gone.jpg")), 0);
  EXPECT_EQ(MoveToTrash(P("folder")), 0);
  const std::string Trash = Home.path().toStdString() + "/.local/share/Trash/";
  EXPECT_EQ(ReadFile(Trash + "files/gone.jpg"), "g");
  EXPECT_TRUE(Exists(Trash + "files/folder") && Exists(Trash + "info/folder.trashinfo"));
  EXPECT_FALSE(Exists(P("gone.jpg")) || Exists(P("folder")));

  struct TCase {
    int Fault;   // fchmod's answer
    mode_t Mode; // the file's before the save; the work file is made 0600
    bool Saved;
  };
  const TCase Cases[] = {{ENOSYS, 0644, true}, {ENOTSUP, 0644, true}, {EPERM, 0600, true},
                         {EPERM, 0644, false}, {EIO, 0600, false}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Fault << " " << std::oct << C.Mode);
    WriteFile(P("kept.txt"), "old");
    ASSERT_EQ(::chmod(P("kept.txt").c_str(), C.Mode), 0);
    FileOpCallFault = [&](const char* Call, const std::string&) {
      return std::strcmp(Call, "fchmod") == 0 ? C.Fault : 0;
    };
    bool Saved = true;
    try {
      SaveFileSafely(P("kept.txt"), "new");
    } catch (const EStreamError&) {
      Saved = false;
    }
    EXPECT_EQ(Saved, C.Saved);
    EXPECT_EQ(ReadFile(P("kept.txt")), C.Saved ? "new" : "old");
  }
  FileOpCallFault = nullptr;
  EXPECT_EQ(QDir(QString::fromStdString(Root)).entryList({"*pictrova-*"}, QDir::Hidden | QDir::Files), QStringList());
}

// A folder copied or moved onto a folder of its name merges into it, which
// keeps its own mode (a shared folder's set-group bit and its group's
// rights); the folders the operation makes take their sources'.
TEST_F(ShFileOp, AFolderMergedIntoAnotherLeavesItsMode) {
  QTemporaryDir Other("/dev/shm/pictrova-test-XXXXXX");
  struct stat Shm {}, Here {};
  const bool Far = Other.isValid() && ::stat(Other.path().toLocal8Bit().constData(), &Shm) == 0 &&
                   ::stat(Root.c_str(), &Here) == 0 && Shm.st_dev != Here.st_dev;
  struct TCase {
    int Func;
    bool Elsewhere; // from another device
  };
  int N = 0;
  for (const TCase& C : {TCase{FO_COPY, false}, TCase{FO_MOVE, false}, TCase{FO_MOVE, true}}) {
    SCOPED_TRACE(testing::Message() << C.Func << C.Elsewhere);
    if (C.Elsewhere && !Far) continue;
    const std::string From = (C.Elsewhere ? Other.path().toStdString() : Root) + "/src" + std::to_string(++N);
    const std::string To = P("to" + std::to_string(N));
    const std::pair<std::string, mode_t> Folders[] = {
        {From, 0755}, {From + "/Photos", 0700}, {From + "/Photos/sub", 0750}, {To, 0755}, {To + "/Photos", 02775}};
    for (const auto& [Folder, Mode] : Folders) {
      ASSERT_EQ(::mkdir(Folder.c_str(), 0700), 0);
      ASSERT_EQ(::chmod(Folder.c_str(), Mode), 0);
    }
    WriteFile(From + "/Photos/a.jpg", "a");
    TSHFileOpStruct Op;
    Op.Func = C.Func;
    Op.From = {From + "/Photos"};
    Op.To = {To};
    EXPECT_EQ(SHFileOperation(Op), 0);
    struct stat Merged {}, Made {};
    ASSERT_EQ(::stat((To + "/Photos").c_str(), &Merged), 0);
    ASSERT_EQ(::stat((To + "/Photos/sub").c_str(), &Made), 0);
    EXPECT_EQ(Merged.st_mode & 07777, 02775u);
    EXPECT_EQ(Made.st_mode & 07777, 0750u);
    EXPECT_EQ(ReadFile(To + "/Photos/a.jpg"), "a");
    EXPECT_EQ(Exists(From + "/Photos"), C.Func == FO_COPY);
  }
}

// The work files of a run killed amid its save and its copy go: they bear
// the mark of a process of this boot and namespace that is gone, or whose
// number another process took since. Files that only look like them stay:
// names without the mark (the user's own "backup"), a live save's, another
// machine's or sandbox's, other kinds of entry. A save's bears its process
// and the mark whatever the length of its name.
TEST_F(ShFileOp, StaleWorkFilesOfRunsThatAreGoneOnly) {
  const pid_t Dead = testing_support::KilledRun(Root, "a.png");
  ASSERT_NE(Dead, 0);
  const std::string D = std::to_string(Dead), Live = std::to_string(::getppid()), Self = std::to_string(::getpid());
  const auto Hidden = [&](const std::string& Pattern) {
    return QDir(QString::fromStdString(Root)).entryList({QString::fromStdString(Pattern)}, QDir::Hidden | QDir::Files);
  };
  const QStringList Killed = Hidden("*pictrova-" + D + "-*");
  ASSERT_EQ(Killed.size(), 2) << Killed.join(' ').toStdString();
  // The killed run's mark, and as another machine, a sandbox and a process
  // of this one's number that started earlier would bear it.
  char Text[256] = {};
  ASSERT_GT(::getxattr(P(Killed[0].toStdString()).c_str(), "user.pictrova.work", Text, sizeof Text - 1), 0);
  std::string Boot, Space, Pid, Start;
  std::istringstream(Text) >> Boot >> Space >> Pid >> Start;
  ASSERT_EQ(Pid, D);
  const std::pair<std::string, std::string> Marked[] = {
      {".b.png.pictrova-" + D + "-OthrMc", "00000000-0000-0000-0000-000000000000 " + Space + " " + D + " " + Start},
      {".c.png.pictrova-" + D + "-Sndbox", Boot + " pid:[1] " + D + " " + Start},
      {".d.png.pictrova-" + Self + "-Reused", Boot + " " + Space + " " + Self + " 1"}};
  for (const auto& [Name, Mark] : Marked) {
    WriteFile(P(Name), "x");
    ASSERT_EQ(::setxattr(P(Name).c_str(), "user.pictrova.work", Mark.data(), Mark.size(), 0), 0);
  }
  const TSafeSaveFile Saving(P("live.png"));
  const std::vector<std::string> Stay = {".pictrova-" + D + "-90.part",       ".a.png.pictrova-" + D + "-Ab12Cd",
                                         ".album.pictrova-2352-backup",       ".pictrova-" + Live + "-3.part",
                                         ".a.png.Ab12Cd",                     "a.png.pictrova-" + D + "-Ab12Cd",
                                         ".pictrova-" + D + "-x.part",        ".a.png.pictrova-" + D + "-Ab12C",
                                         "..pictrova-" + D + "-Ab12Cd",       Marked[0].first,
                                         Marked[1].first};
  for (const std::string& Name : Stay)
    if (!Exists(P(Name))) WriteFile(P(Name), "x");
  ::mkdir(P(".b.png.pictrova-" + D + "-Ab12Cd").c_str(), 0755);
  EXPECT_EQ(RemoveStaleWorkFiles(Root), 3);
  for (const std::string& Name : Stay) EXPECT_TRUE(Exists(P(Name))) << Name;
  for (const QString& Name : Killed) EXPECT_FALSE(Exists(P(Name.toStdString()))) << Name.toStdString();
  EXPECT_FALSE(Exists(P(Marked[2].first)));
  EXPECT_TRUE(Exists(P(".b.png.pictrova-" + D + "-Ab12Cd")));
  EXPECT_EQ(Hidden(".live.png.pictrova-*").size(), 1);
  for (const std::string& Name : {std::string("p.png"), std::string(240, 'p') + ".png",
                                  std::string(251, 'p') + ".png"}) {
    std::string Hidden;
    ssize_t MarkSize = 0;
    TSafeSaveFile::AfterTempMade = [&](const std::string& Temp) {
      Hidden = NameOf(Temp);
      MarkSize = ::getxattr(Temp.c_str(), "user.pictrova.work", nullptr, 0);
    };
    SaveFileSafely(P(Name), "saved");
    TSafeSaveFile::AfterTempMade = nullptr;
    EXPECT_EQ(WorkFileProcess(Hidden), ::getpid()) << Hidden;
    EXPECT_GT(MarkSize, 0) << Hidden;
    EXPECT_EQ(ReadFile(P(Name)), "saved");
    EXPECT_EQ(::getxattr(P(Name).c_str(), "user.pictrova.work", nullptr, 0), -1) << "the saved file bears no mark";
  }
}

// Where the file system has no no-replace rename, a rename is a hard link
// and an unlink of the old name: an unlink that fails leaves the file under
// its old name only and says so; a name taken stays as it was.
TEST_F(ShFileOp, ARenameWithoutTheNoReplaceRenameLinksAndUnlinks) {
  struct TCase {
    int Unlink;  // the unlink's fault
    bool Taken;
    int Answer;
    const char* Old;  // what the old name holds after, "" for nothing
    const char* New;
  };
  const TCase Cases[] = {{0, false, 0, "", "a"}, {EPERM, false, EPERM, "a", ""}, {0, true, EEXIST, "a", "b"}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Unlink);
    ::unlink(P("b").c_str());
    WriteFile(P("a"), "a");
    if (C.Taken) WriteFile(P("b"), "b");
    FileOpCallFault = [&](const char* Call, const std::string&) {
      return std::strcmp(Call, "renameat2") == 0 ? EINVAL : std::strcmp(Call, "unlink") == 0 ? C.Unlink : 0;
    };
    EXPECT_EQ(RenameNoReplace(P("a"), P("b")), C.Answer);
    FileOpCallFault = nullptr;
    EXPECT_EQ(Exists(P("a")) ? ReadFile(P("a")) : "", C.Old);
    EXPECT_EQ(Exists(P("b")) ? ReadFile(P("b")) : "", C.New);
  }
}

// A save puts its file in place of the one it found there only. Another
// program's file renamed over it while the save ran, even right before the
// save's own rename, a change in place, a removal and a file made where
// there was none are kept and said (the name as the other program left it,
// no work file left); without the exchange of two names, the name is
// looked at right before the rename.
TEST_F(ShFileOp, ASaveReplacesOnlyTheFileItFound) {
  enum TChange { None, Renamed, Rewritten, Removed };
  struct TCase {
    bool Existed;
    bool Exchange;  // the file system exchanges two names
    bool Late;      // changed right before the rename, else as the save began
    TChange Change;
    bool Saved;
  };
  const TCase Cases[] = {{true, true, true, Renamed, false},   {true, true, false, Rewritten, false},
                         {true, true, false, Removed, false},  {false, true, false, Renamed, false},
                         {true, false, false, Renamed, false}, {true, false, false, None, true}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Existed << C.Exchange << C.Late << C.Change);
    const std::string Target = P("t.txt");
    ::unlink(Target.c_str());
    if (C.Existed) WriteFile(Target, "old");
    bool Changed = false;
    const auto Change = [&] {
      if (std::exchange(Changed, true)) return;
      if (C.Change == Renamed) {
        WriteFile(P("other"), "other");
        ::rename(P("other").c_str(), Target.c_str());
      } else if (C.Change == Rewritten) {
        WriteFile(Target, "other");
      } else if (C.Change == Removed) {
        ::unlink(Target.c_str());
      }
    };
    if (!C.Late) TSafeSaveFile::AfterTempMade = [&](const std::string&) { Change(); };
    FileOpCallFault = [&](const char* Call, const std::string&) {
      if (std::strcmp(Call, "exchange") != 0) return 0;
      if (C.Late) Change();
      return C.Exchange ? 0 : EINVAL;
    };
    bool Refused = false;
    try {
      SaveFileSafely(Target, "saved");
    } catch (const EFileChanged&) {
      Refused = true;
    }
    TSafeSaveFile::AfterTempMade = nullptr;
    FileOpCallFault = nullptr;
    EXPECT_EQ(Refused, !C.Saved);
    EXPECT_EQ(Exists(Target) ? ReadFile(Target) : "", C.Saved ? "saved" : C.Change == Removed ? "" : "other");
    EXPECT_EQ(QDir(QString::fromStdString(Root)).entryList({"*pictrova-*"}, QDir::Hidden | QDir::Files),
              QStringList());
  }
}

// A copy or a move replaces only the file the user was asked about: one
// that another program put in its place after the "Yes" (while the copy was
// written, or right before the move's rename) is asked about anew, and
// stays on "No".
TEST_F(ShFileOp, AReplaceTakesOnlyTheFileTheUserWasAskedAbout) {
  struct TCase {
    int Func;
    TFileOpAnswer Second;
    const char* Left;
  };
  const TCase Cases[] = {{FO_COPY, TFileOpAnswer::No, "other"},
                         {FO_COPY, TFileOpAnswer::Yes, "new"},
                         {FO_MOVE, TFileOpAnswer::No, "other"},
                         {FO_MOVE, TFileOpAnswer::Yes, "new"}};
  ::mkdir(P("out").c_str(), 0755);
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Func << static_cast<int>(C.Second));
    WriteFile(P("a.txt"), "new");
    WriteFile(P("out/a.txt"), "old");
    bool Came = false;
    const auto Arrive = [&] {
      if (std::exchange(Came, true)) return;
      WriteFile(P("other"), "other");
      ::rename(P("other").c_str(), P("out/a.txt").c_str());
    };
    int Asked = 0;
    TSHFileOpStruct Op;
    Op.Func = C.Func;
    Op.From = {P("a.txt")};
    Op.To = {P("out")};
    Op.OnConfirm = [&](TFileOpConfirm, const std::string&, const std::string&) {
      return ++Asked > 1 ? C.Second : TFileOpAnswer::Yes;
    };
    Op.OnProgress = [&](std::int64_t, std::int64_t, const std::string&) {
      Arrive();
      return true;
    };
    FileOpCallFault = [&](const char* Call, const std::string&) {
      if (std::strcmp(Call, "exchange") == 0) Arrive();
      return 0;
    };
    EXPECT_EQ(SHFileOperation(Op), 0);
    FileOpCallFault = nullptr;
    EXPECT_EQ(Asked, 2);
    EXPECT_EQ(ReadFile(P("out/a.txt")), C.Left);
    EXPECT_EQ(Exists(P("a.txt")), C.Func == FO_COPY || C.Second == TFileOpAnswer::No);
    EXPECT_EQ(PartialFiles(P("out")), 0);
    EXPECT_EQ(PartialFiles(Root), 0);
  }
}

// A move to another device keeps what a move within one keeps: each item's
// owner and group (run by root; another user at most its own groups), the
// set-group bit of a shared folder, and the folders' times, set once their
// items are in.
TEST_F(ShFileOp, AMoveToAnotherDeviceKeepsOwnersGroupsAndFolderTimes) {
  QTemporaryDir Other("/dev/shm/pictrova-test-XXXXXX");
  struct stat Shm {}, Here {};
  if (!Other.isValid() || ::stat(Other.path().toLocal8Bit().constData(), &Shm) != 0 ||
      ::stat(Root.c_str(), &Here) != 0 || Shm.st_dev == Here.st_dev)
    GTEST_SKIP() << "no second file system";
  // Another user's and group, run by root; else a group of the user's own
  // other than the one a new file gets.
  uid_t Uid = ::geteuid();
  gid_t Gid = 0;
  if (Uid == 0) {
    Uid = 65534;
    Gid = 100;
  } else {
    gid_t Groups[64];
    const int N = ::getgroups(64, Groups);
    for (int I = 0; I < N && Gid == 0; ++I)
      if (Groups[I] != ::getegid()) Gid = Groups[I];
    if (Gid == 0) GTEST_SKIP() << "the user has no second group";
  }
  const std::string Far = Other.path().toStdString();
  const struct timespec Then[2] = {{1000000000, 0}, {1000000000, 0}};
  struct TItem {
    const char* Name;
    char Kind;    // 'd' a folder, 'f' a file, 'l' a link
    mode_t Mode;  // none for a link
  };
  // Parents first.
  const TItem Items[] = {{"shared", 'd', 02775},          {"shared/g.jpg", 'f', 0640}, {"shared/sub", 'd', 0750},
                         {"shared/sub/h.jpg", 'f', 0604}, {"shared/link", 'l', 0}};
  for (const TItem& I : Items) {
    const std::string Path = Far + "/" + I.Name;
    if (I.Kind == 'l') {
      ASSERT_EQ(::symlink("g.jpg", Path.c_str()), 0);
    } else if (I.Kind == 'd') {
      ASSERT_EQ(::mkdir(Path.c_str(), 0700), 0);
    } else {
      WriteFile(Path, I.Name);
    }
    ASSERT_EQ(::lchown(Path.c_str(), Uid, Gid), 0) << I.Name;
    if (I.Kind != 'l') {
      ASSERT_EQ(::chmod(Path.c_str(), I.Mode), 0);
    }
  }
  for (const char* Folder : {"shared/sub", "shared"})
    ASSERT_EQ(::utimensat(AT_FDCWD, (Far + "/" + Folder).c_str(), Then, 0), 0);
  TSHFileOpStruct Op;
  Op.Func = FO_MOVE;
  Op.From = {Far + "/shared"};
  Op.To = {Root};
  EXPECT_EQ(SHFileOperation(Op), 0);
  EXPECT_TRUE(Op.Failures.empty());
  for (const TItem& I : Items) {
    SCOPED_TRACE(I.Name);
    struct stat St {};
    ASSERT_EQ(::lstat(P(I.Name).c_str(), &St), 0);
    EXPECT_FALSE(Exists(Far + "/" + I.Name));
    EXPECT_EQ(St.st_uid, Uid);
    EXPECT_EQ(St.st_gid, Gid);
    if (I.Kind != 'l') {
      EXPECT_EQ(St.st_mode & 07777, I.Mode);
    }
    if (I.Kind == 'd') {
      EXPECT_EQ(St.st_mtim.tv_sec, Then[1].tv_sec);
    }
  }
}
