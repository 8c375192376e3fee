#include "shell/sxfileop.h"
#include "shelltestenv.h"

#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFile>

#include <cerrno>
#include <fstream>
#include <sstream>

using namespace sx;
using platform::TFileOpAnswer;
using platform::TFileOpConfirm;
using shelltest::TPrivateHome;

namespace {

void Write(const std::string& Path, const std::string& Text) { std::ofstream(Path, std::ios::binary) << Text; }

std::string Read(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

bool Exists(const std::string& Path) { return QFile::exists(QString::fromStdString(Path)); }

int CountFiles(const std::string& Dir) {
  return static_cast<int>(QDir(QString::fromStdString(Dir)).entryList(QDir::Files | QDir::Hidden).size());
}

// A quiet operation: no dialogs, questions answered by the test.
struct TQuietOp : TSxFileOperation {
  TQuietOp() {
    Options.insert(foSilent);
    Options.insert(foNoErrorUI);
    OnConfirm = [this](TFileOpConfirm Kind, const std::string& Source, const std::string&) {
      Asked.push_back({Kind, Source});
      return Answer;
    };
  }
  TFileOpAnswer Answer = TFileOpAnswer::Yes;
  std::vector<std::pair<TFileOpConfirm, std::string>> Asked;
};

int RaisedCode(TSxFileOperation& Op) {
  try {
    Op.Execute();
  } catch (const ESyFileOpError& E) {
    return E.ErrorCode;
  }
  return 0;
}

} // namespace

TEST(SxFileOp, DefaultsAndFlags) {
  TSxFileOperation Op;
  EXPECT_TRUE(Op.ConfirmFiles);
  EXPECT_EQ(Op.Operation, fopCopy);
  EXPECT_EQ(Op.Flags(), 0x40u | 0x80u | 0x8u);
  Op.Options = {foAllowUndo, foFilesOnly, foNoConfirmation, foNoConfirmMkDir, foNoErrorUI, foRenameCollision, foSilent,
                foSimpleProgress};
  EXPECT_EQ(Op.Flags(), 0x40u | 0x80u | 0x10u | 0x200u | 0x400u | 0x8u | 0x4u | 0x100u);
  EXPECT_EQ(TSxFileOperation::OperationCode(fopCopy), 2);
  EXPECT_EQ(TSxFileOperation::OperationCode(fopDelete), 3);
  EXPECT_EQ(TSxFileOperation::OperationCode(fopMove), 1);
  EXPECT_EQ(TSxFileOperation::OperationCode(fopRename), 4);
}

TEST(SxFileOp, DestinationLosesTrailingSeparators) {
  TSxFileOperation Op;
  Op.SetDestination("/data/out///");
  EXPECT_EQ(Op.Destination(), "/data/out");
  Op.SetDestination("/data/out");
  EXPECT_EQ(Op.Destination(), "/data/out");
  Op.SetDestination("/");
  EXPECT_EQ(Op.Destination(), "/");  // the root stays a destination
}

TEST(SxFileOp, ArgumentErrorsBeforeTheShell) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("args");
  Write(Dir + "/a.txt", "a");

  TQuietOp Op;
  EXPECT_EQ(RaisedCode(Op), 111);
  Op.SetSourceFiles({"", ""});
  EXPECT_EQ(RaisedCode(Op), 111);

  Op.SetSourceFiles({Dir + "/a.txt"});
  EXPECT_EQ(RaisedCode(Op), 112);  // copy without destination

  Op.SetSourceFiles({Dir + "/a.txt", Dir + "/missing.txt"});
  EXPECT_EQ(RaisedCode(Op), 132);  // the existence check comes before the destination check
  Op.ConfirmFiles = false;
  EXPECT_EQ(RaisedCode(Op), 112);

  // A plain line among mappings needs the destination folder.
  Op.AllowMappings = true;
  Op.SetSourceFiles({Dir + "/a.txt=" + Dir + "/b.txt", Dir + "/a.txt"});
  EXPECT_EQ(RaisedCode(Op), 112);
  EXPECT_FALSE(Exists(Dir + "/b.txt"));

  Op.Operation = fopDelete;
  Op.SetSourceFiles({Dir + "/a.txt=" + Dir + "/b.txt"});
  EXPECT_EQ(RaisedCode(Op), 131);
  EXPECT_TRUE(Op.Asked.empty());
  EXPECT_TRUE(Exists(Dir + "/a.txt"));
}

TEST(SxFileOp, SourceCheck) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("check");
  Write(Dir + "/a.jpg", "x");
  EXPECT_TRUE(TSxFileOperation::CheckSourceName(Dir));
  EXPECT_TRUE(TSxFileOperation::CheckSourceName(Dir + "/a.jpg"));
  EXPECT_TRUE(TSxFileOperation::CheckSourceName(Dir + "/nothing/*.jpg"));
  EXPECT_TRUE(TSxFileOperation::CheckSourceName(Dir + "/?.png"));
  EXPECT_FALSE(TSxFileOperation::CheckSourceName(Dir + "/b.jpg"));
  EXPECT_FALSE(TSxFileOperation::CheckSourceName(""));
}

TEST(SxFileOp, CopyListAndMaskIntoFolder) {
  TPrivateHome H;
  const std::string Src = H.MakeDir("src"), Out = H.MakeDir("out");
  Write(Src + "/a.jpg", "A");
  Write(Src + "/b.jpg", "B");
  Write(Src + "/c.png", "C");
  TQuietOp Op;
  Op.SetDestination(Out + "/");
  Op.SetSourceFiles({Src + "/*.jpg"});
  ASSERT_TRUE(Op.Execute());
  EXPECT_FALSE(Op.UsesMappings());
  EXPECT_EQ(Read(Out + "/a.jpg"), "A");
  EXPECT_EQ(Read(Out + "/b.jpg"), "B");
  EXPECT_FALSE(Exists(Out + "/c.png"));
  EXPECT_EQ(Op.LastError, 0u);

  Op.Operation = fopMove;
  Op.SetSourceFiles({Src + "/c.png", Src + "/a.jpg"});
  Op.Options.erase(foRenameCollision);
  Op.Answer = TFileOpAnswer::No;  // keep the a.jpg already there
  Write(Out + "/a.jpg", "old");
  ASSERT_TRUE(Op.Execute());
  EXPECT_EQ(Read(Out + "/c.png"), "C");
  EXPECT_FALSE(Exists(Src + "/c.png"));
  EXPECT_EQ(Read(Out + "/a.jpg"), "old");
  EXPECT_TRUE(Exists(Src + "/a.jpg"));
  ASSERT_EQ(Op.Asked.size(), 1u);
  EXPECT_EQ(Op.Asked[0].first, TFileOpConfirm::Replace);
}

TEST(SxFileOp, ReplaceOnlyWithYesAndRenameOnCollision) {
  TPrivateHome H;
  const std::string Src = H.MakeDir("src"), Out = H.MakeDir("out");
  Write(Src + "/a.txt", "new");
  Write(Out + "/a.txt", "old");
  TQuietOp Op;
  Op.SetDestination(Out);
  Op.SetSourceFiles({Src + "/a.txt"});
  ASSERT_TRUE(Op.Execute());  // renames the copy rather than asking
  EXPECT_TRUE(Op.Asked.empty());
  EXPECT_EQ(Read(Out + "/a.txt"), "old");
  EXPECT_EQ(CountFiles(Out), 2);

  Op.Options.erase(foRenameCollision);
  Op.Options.insert(foNoConfirmation);  // answers other questions, never a replace
  Op.Answer = TFileOpAnswer::Yes;
  ASSERT_TRUE(Op.Execute());
  ASSERT_EQ(Op.Asked.size(), 1u);
  EXPECT_EQ(Read(Out + "/a.txt"), "new");
}

TEST(SxFileOp, MappingsNameSeveralDestinations) {
  TPrivateHome H;
  const std::string Src = H.MakeDir("src"), Out = H.MakeDir("Out");
  Write(Src + "/a.txt", "A");
  Write(Src + "/c.txt", "C");
  TQuietOp Op;
  Op.AllowMappings = true;
  Op.SetDestination(Out + "/");
  Op.SetSourceFiles({Src + "/a.txt=" + Src + "/b.txt", "", Src + "/c.txt"});
  ASSERT_TRUE(Op.Execute());
  EXPECT_TRUE(Op.UsesMappings());
  EXPECT_EQ(Read(Src + "/b.txt"), "A");
  EXPECT_EQ(Read(Out + "/c.txt"), "C");
  EXPECT_FALSE(Exists(Out + "/a.txt"));

  // A single mapping names one destination file.
  Op.Operation = fopRename;
  Op.SetSourceFiles({Src + "/b.txt=" + Src + "/d.txt"});
  ASSERT_TRUE(Op.Execute());
  EXPECT_EQ(Read(Src + "/d.txt"), "A");
  EXPECT_FALSE(Exists(Src + "/b.txt"));
}

TEST(SxFileOp, RenameOneFile) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("ren");
  Write(Dir + "/old.txt", "x");
  TQuietOp Op;
  Op.Operation = fopRename;
  Op.SetDestination(Dir + "/new.txt");
  Op.SetSourceFiles({Dir + "/old.txt"});
  ASSERT_TRUE(Op.Execute());
  EXPECT_TRUE(Exists(Dir + "/new.txt"));
  EXPECT_FALSE(Exists(Dir + "/old.txt"));
}

TEST(SxFileOp, DeleteToTrashAsksFirst) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("del");
  Write(Dir + "/a.jpg", "a");
  Write(Dir + "/b.jpg", "b");
  TQuietOp Op;
  Op.Operation = fopDelete;
  Op.SetSourceFiles({Dir + "/a.jpg", Dir + "/b.jpg"});
  Op.Answer = TFileOpAnswer::No;
  ASSERT_TRUE(Op.Execute());
  ASSERT_EQ(Op.Asked.size(), 2u);
  EXPECT_EQ(Op.Asked[0].first, TFileOpConfirm::Delete);
  EXPECT_TRUE(Exists(Dir + "/a.jpg"));

  Op.Asked.clear();
  Op.Answer = TFileOpAnswer::Yes;
  ASSERT_TRUE(Op.Execute());
  EXPECT_EQ(Op.Asked.size(), 2u);
  EXPECT_FALSE(Exists(Dir + "/a.jpg"));
  const std::string Trash = H.Home + "/.local/share/Trash/files";
  EXPECT_EQ(Read(Trash + "/a.jpg"), "a");
  EXPECT_EQ(Read(Trash + "/b.jpg"), "b");

  // Without undo and without questions the file is gone for good.
  Write(Dir + "/c.jpg", "c");
  Op.Asked.clear();
  Op.Options = {foNoConfirmation, foSilent, foNoErrorUI};
  Op.SetSourceFiles({Dir + "/c.jpg"});
  ASSERT_TRUE(Op.Execute());
  EXPECT_TRUE(Op.Asked.empty());
  EXPECT_FALSE(Exists(Dir + "/c.jpg"));
  EXPECT_FALSE(Exists(Trash + "/c.jpg"));
}

TEST(SxFileOp, CancelAndFailureReportThroughOnError) {
  TPrivateHome H;
  const std::string Dir = H.MakeDir("fail");
  Write(Dir + "/a.jpg", "a");
  TQuietOp Op;
  int Errors = 0;
  Op.OnError = [&Errors](TSyComponent*) { ++Errors; };
  Op.Operation = fopDelete;
  Op.SetSourceFiles({Dir + "/a.jpg"});
  Op.Answer = TFileOpAnswer::Cancel;
  EXPECT_FALSE(Op.Execute());
  EXPECT_EQ(Op.LastError, ERROR_CANCELLED);
  EXPECT_FALSE(Op.LastErrorText.empty());
  EXPECT_TRUE(Op.OperationsAborted());
  EXPECT_EQ(Errors, 1);
  EXPECT_TRUE(Exists(Dir + "/a.jpg"));

  Op.ConfirmFiles = false;
  Op.Operation = fopRename;
  Op.SetDestination(Dir + "/b.jpg");
  Op.SetSourceFiles({Dir + "/missing.jpg"});
  EXPECT_FALSE(Op.Execute());
  EXPECT_EQ(Op.LastError, static_cast<std::uint32_t>(ENOENT));
  EXPECT_FALSE(Op.OperationsAborted());
  EXPECT_EQ(Errors, 2);

  // Success clears the previous error.
  Op.SetSourceFiles({Dir + "/a.jpg"});
  EXPECT_TRUE(Op.Execute());
  EXPECT_EQ(Op.LastError, 0u);
  EXPECT_TRUE(Op.LastErrorText.empty());
  EXPECT_EQ(Errors, 2);
}
