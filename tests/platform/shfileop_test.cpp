#include "platform/safesave.h"
#include "platform/shfileop.h"
#include "platform/trash.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

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
  TrashCallFault = [](const char* Call, const std::string&) { return Call[0] == 'r' ? EINVAL : EPERM; };
  EXPECT_EQ(MoveToTrash(P("kept.jpg")), EPERM);
  TrashCallFault = nullptr;
  EXPECT_EQ(ReadFile(P("kept.jpg")), "k");
  const QString Trash = Home.path() + "/.local/share/Trash";
  EXPECT_TRUE(QDir(Trash + "/files").isEmpty() && QDir(Trash + "/info").isEmpty());
}

// Work files named for a process that is gone go; those of a live one (or
// this one), other names and other kinds of entry stay. A save's bears its
// process where the name leaves room.
TEST_F(ShFileOp, StaleWorkFilesOfRunsThatAreGoneOnly) {
  const pid_t Dead = ::fork();
  if (Dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(Dead, nullptr, 0), Dead);
  const std::string D = std::to_string(Dead), Live = std::to_string(::getppid());
  const std::vector<std::string> Gone = {".pictrova-" + D + "-0.part", ".a.png.pictrova-" + D + "-Ab12Cd"};
  const std::vector<std::string> Stay = {".pictrova-" + Live + "-3.part",    ".a.png.Ab12Cd",
                                         "a.png.pictrova-" + D + "-Ab12Cd",   ".pictrova-" + D + "-x.part",
                                         ".a.png.pictrova-" + D + "-Ab12C",   "..pictrova-" + D + "-Ab12Cd"};
  for (const auto* List : {&Gone, &Stay})
    for (const std::string& Name : *List) WriteFile(P(Name), "x");
  ::mkdir(P(".b.png.pictrova-" + D + "-Ab12Cd").c_str(), 0755);
  EXPECT_EQ(RemoveStaleWorkFiles(Root), 2);
  for (const std::string& Name : Stay) EXPECT_TRUE(Exists(P(Name))) << Name;
  EXPECT_TRUE(Exists(P(".b.png.pictrova-" + D + "-Ab12Cd")));
  for (const std::string& Name : {std::string("p.png"), std::string(240, 'p') + ".png"}) {
    std::string Hidden;
    TSafeSaveFile::AfterTempMade = [&](const std::string& Temp) { Hidden = NameOf(Temp); };
    SaveFileSafely(P(Name), "saved");
    TSafeSaveFile::AfterTempMade = nullptr;
    EXPECT_EQ(WorkFileProcess(Hidden), Name.size() < 200 ? ::getpid() : 0) << Hidden;
  }
}
