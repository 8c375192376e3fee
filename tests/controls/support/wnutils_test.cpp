#include "controls/support/wnutils/wnshfileop.h"
#include "controls/support/wnutils/wnutils.h"
#include "platform/stream.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QDateTime>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace wn;

namespace {

class TempHome : public ::testing::Test {
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
  static void Write(const std::string& Path, const std::string& Text) { std::ofstream(Path) << Text; }
  static std::string Read(const std::string& Path) {
    std::ifstream In(Path);
    return std::string(std::istreambuf_iterator<char>(In), {});
  }

  QTemporaryDir Home;
  QTemporaryDir Dir;
  std::string Root;
};

}  // namespace

TEST(WnStrings, RightChars) {
  EXPECT_EQ(RightChars("pqrstu", 3), "rst");
  EXPECT_EQ(RightChars("640x480 ", 3), "480");
  EXPECT_EQ(RightChars("pqrstu", 6), "pqrstu");
  EXPECT_EQ(RightChars("pqrstu", 7), "pqrstu");
  EXPECT_EQ(RightChars("pqrstu", -1), "pqrstu");
  EXPECT_EQ(RightChars("pqrstu", 0), "");
  EXPECT_EQ(RightChars("pqrstu", 5), "pqrst");
}

TEST(WnStrings, StrToIntTrimmedKeeps64Bits) {
  EXPECT_EQ(StrToIntTrimmed("  42 \t"), 42);
  EXPECT_EQ(StrToIntTrimmed("4x2"), 0);
  EXPECT_EQ(StrToIntTrimmed(""), 0);
  EXPECT_EQ(StrToIntTrimmed(" -7"), -7);
  EXPECT_EQ(StrToIntTrimmed(" 5000000000 "), 5000000000LL);
  EXPECT_EQ(StrToIntTrimmed("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToIntTrimmed("9223372036854775808"), 0);  // not a 64-bit number
}

TEST(WnStrings, TokensAndSmallRoutines) {
  std::string S = "p,q";
  EXPECT_EQ(FetchToken(S, ",", true), "p");
  EXPECT_EQ(S, "q");
  EXPECT_EQ(FetchToken(S, ",", false), "q");
  EXPECT_EQ(S, "q");
  EXPECT_EQ(FetchToken(S, ",", true), "q");
  EXPECT_EQ(S, "");
  std::string U = "größe=1";
  EXPECT_EQ(FetchToken(U, "=", true), "größe");
  EXPECT_EQ(BooleanToText(true), "True");
  EXPECT_EQ(BooleanToText(false), "False");
  EXPECT_EQ(CountCharsInSet("a1b22", "0123456789"), 3);
  EXPECT_EQ(CountCharsInSet("", "a"), 0);
  EXPECT_TRUE(IsDigitChar('0'));
  EXPECT_FALSE(IsDigitChar('a'));
  EXPECT_EQ(AddTrailingBackslash("/x"), "/x/");
  EXPECT_EQ(AddTrailingBackslash("/x/"), "/x/");
  EXPECT_EQ(AddTrailingBackslash(""), "/");
  EXPECT_EQ(IntMax(-3, 2), 2);
  EXPECT_EQ(IntMin(-3, 2), -3);
}

TEST(WnTime, FileTimesAndTicks) {
  EXPECT_DOUBLE_EQ(FileTimeToDateTimeValue(0), -109205.0);
  // 1970-01-01 00:00 UTC is day 25569 of the date-time scale.
  EXPECT_DOUBLE_EQ(FileTimeToDateTimeValue(116444736000000000LL), 25569.0);

  // A creation time before 1980 keeps its date and is shown in local time.
  const QDateTime Local(QDate(1975, 6, 1), QTime(12, 0));
  TWnFindData D;
  D.CreationTime = (Local.toSecsSinceEpoch() + 11644473600LL) * 10000000LL;
  EXPECT_NEAR(FindDataCreationTime(D), QDate(1899, 12, 30).daysTo(QDate(1975, 6, 1)) + 0.5, 1e-6);

  const std::int64_t T0 = TickCountMs();
  SleepMs(20);
  EXPECT_GE(TickCountMs() - T0, 20);
}

TEST_F(TempHome, FileSizesAndFindData) {
  // A sparse file of 5 GB: its size does not fit 32 bits.
  const std::string Big = P("big.bin");
  const int Fd = ::open(Big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(Fd, 0);
  ASSERT_EQ(::ftruncate(Fd, 5368709120LL), 0);
  ::close(Fd);
  EXPECT_EQ(GetFileSizeByName(Big), 5368709120LL);
  EXPECT_THROW(GetFileSizeByName(P("missing")), platform::EStreamError);

  TWnFindData D;
  ASSERT_TRUE(GetFindData(Big, D));
  EXPECT_EQ(D.Name, "big.bin");
  EXPECT_EQ(D.Size, 5368709120LL);
  const double Now = QDate(1899, 12, 30).daysTo(QDate::currentDate());
  EXPECT_NEAR(FindDataCreationTime(D), Now + 0.5, 1.0);
  EXPECT_FALSE(GetFindData(P("missing"), D));
}

TEST(WnErrors, RaiseLastWin32ErrorText) {
  errno = 0;
  EXPECT_NO_THROW(RaiseLastWin32ErrorText("MRU"));
  errno = ENOENT;
  try {
    RaiseLastWin32ErrorText("MRU");
    FAIL();
  } catch (const EOSError& E) {
    EXPECT_EQ(E.ErrorCode, ENOENT);
    EXPECT_EQ(std::string(E.what()), "MRU:Win32 Error.  Code: 2.\nNo such file or directory");
  }
  errno = ENOENT;
  EXPECT_THROW(CheckWin32Result(false), EOSError);
  EXPECT_TRUE(CheckWin32Result(true));
}

TEST_F(TempHome, DirectoriesEndWithDelimiterAndKeepLongPaths) {
  TWnDirectories D;
  EXPECT_EQ(D.TempPath().back(), '/');
  EXPECT_EQ(D.Cookies(), "");
  ::mkdir((Home.path() + "/Documents").toUtf8().constData(), 0755);
  EXPECT_EQ(D.Personal().back(), '/');
  EXPECT_EQ(D.WindowsDirectory().back(), '/');

  std::string Deep = Root;
  for (int I = 0; I < 6; ++I) Deep += "/" + std::string(50, static_cast<char>('a' + I));
  std::filesystem::create_directories(Deep);
  const auto Old = std::filesystem::current_path();
  std::filesystem::current_path(Deep);
  const std::string Current = D.CurrentDirectory();
  std::filesystem::current_path(Old);
  EXPECT_EQ(Current, Deep + "/");
  EXPECT_GT(Current.size(), 300u);
}

TEST_F(TempHome, FileOperationNeverOverwritesWithoutAsking) {
  Write(P("a.jpg"), "new");
  ::mkdir(P("out").c_str(), 0755);
  Write(P("out/a.jpg"), "old");
  TWnSHFileOperation Op;
  EXPECT_EQ(Op.Flags(), 0xC0u);
  Op.SourceFiles = {P("a.jpg")};
  Op.DestFiles = {P("out")};
  int Asked = 0;
  Op.OnConfirm = [&](platform::TFileOpConfirm Kind, const std::string&, const std::string&) {
    ++Asked;
    EXPECT_EQ(Kind, platform::TFileOpConfirm::Replace);
    return platform::TFileOpAnswer::No;
  };
  EXPECT_TRUE(Op.Execute());
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(Read(P("out/a.jpg")), "old");

  Op.Options = {fofRenameOnCollision, fofWantMappingHandle};
  std::vector<std::pair<std::string, std::string>> Mapped;
  Op.OnFileMapping = [&](TWnSHFileOperation* Sender, const std::string& O, const std::string& N) {
    EXPECT_EQ(Sender, &Op);
    Mapped.emplace_back(O, N);
  };
  EXPECT_TRUE(Op.Execute());
  EXPECT_EQ(Read(P("out/a (2).jpg")), "new");
  ASSERT_EQ(Mapped.size(), 1u);
  EXPECT_EQ(Mapped[0].second, P("out/a (2).jpg"));
}

TEST_F(TempHome, FileOperationDeleteAndErrors) {
  TWnSHFileOperation Op;
  try {
    Op.Execute();
    FAIL();
  } catch (const EWNCLException& E) {
    EXPECT_STREQ(E.what(), "No files specified to TWnSHFileOperation Execute function");
  }
  Write(P("x.jpg"), "x");
  Op.Operation = foDelete;
  Op.SourceFiles = {P("x.jpg")};
  Op.OnConfirm = [](platform::TFileOpConfirm, const std::string&, const std::string&) {
    return platform::TFileOpAnswer::Yes;
  };
  EXPECT_TRUE(Op.Execute());
  EXPECT_FALSE(std::filesystem::exists(P("x.jpg")));
  EXPECT_EQ(Read(Home.path().toStdString() + "/.local/share/Trash/files/x.jpg"), "x");

  Op.Options.insert(fofNoErrorUI);
  EXPECT_FALSE(Op.Execute());  // gone already
  ASSERT_EQ(Op.Failures().size(), 1u);
  EXPECT_EQ(Op.Failures()[0].Path, P("x.jpg"));
}

namespace {

// Answers the operation's own question after thinking for ThinkMs; notes
// what was on screen meanwhile.
struct TSlowUser {
  QMessageBox::StandardButton Answer;
  int ThinkMs = 100;
  bool Asked = false;
  bool ProgressShownMeanwhile = false;
  bool OffersToAll = true;

  void Start() {
    auto* Clock = new QElapsedTimer;
    Clock->start();
    auto* Poll = new QTimer;
    QObject::connect(Poll, &QTimer::timeout, [this, Clock, Poll] {
      QMessageBox* Box = nullptr;
      for (QWidget* W : QApplication::topLevelWidgets()) {
        if (qobject_cast<QProgressDialog*>(W) && W->isVisible()) ProgressShownMeanwhile = true;
        if (auto* B = qobject_cast<QMessageBox*>(W); B && B->isVisible()) Box = B;
      }
      if (!Box || Clock->elapsed() < ThinkMs) return;
      Asked = true;
      OffersToAll = Box->button(QMessageBox::YesToAll) || Box->button(QMessageBox::NoToAll);
      Box->button(Answer)->click();
      Poll->deleteLater();
      delete Clock;
    });
    Poll->start(20);
  }
};

}  // namespace

// The delete's own question: no progress window comes up over it while the
// user thinks, a single file is offered no "to all", "Yes" deletes and "No"
// keeps the file and reports the operation as not done.
TEST_F(TempHome, FileOperationDeleteAskedByTheOperationItself) {
  Write(P("a.jpg"), "a");
  TWnSHFileOperation Op;
  Op.Operation = foDelete;
  Op.Options = {fofAllowUndo};
  Op.SourceFiles = {P("a.jpg")};

  TSlowUser No{QMessageBox::No};
  No.Start();
  EXPECT_FALSE(Op.Execute());
  EXPECT_TRUE(No.Asked);
  EXPECT_TRUE(Op.OperationsAborted());
  EXPECT_TRUE(std::filesystem::exists(P("a.jpg")));

  // Longer than any delay a progress window may have.
  TSlowUser Yes{QMessageBox::Yes, 4500};
  Yes.Start();
  EXPECT_TRUE(Op.Execute());
  EXPECT_TRUE(Yes.Asked);
  EXPECT_FALSE(Yes.ProgressShownMeanwhile);
  EXPECT_FALSE(Yes.OffersToAll);
  EXPECT_FALSE(std::filesystem::exists(P("a.jpg")));

  // Two files: the question may come again, so "to all" is offered.
  Write(P("b.jpg"), "b");
  Write(P("c.jpg"), "c");
  Op.SourceFiles = {P("b.jpg"), P("c.jpg")};
  TSlowUser All{QMessageBox::YesToAll};
  All.Start();
  EXPECT_TRUE(Op.Execute());
  EXPECT_TRUE(All.OffersToAll);
  EXPECT_FALSE(All.ProgressShownMeanwhile);
  EXPECT_FALSE(std::filesystem::exists(P("c.jpg")));
}

// The files are handled off the window's thread: events already posted are
// delivered while the operation runs (a second Execute of the same
// component then does nothing), the questions and the name mappings come on
// the window's thread, and "Yes to All" answers the rest of the replaces.
TEST_F(TempHome, FileOperationRunsBesideTheEventLoop) {
  ::mkdir(P("in").c_str(), 0755);
  ::mkdir(P("out").c_str(), 0755);
  for (const char* Name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    Write(P(std::string("in/") + Name), std::string("new ") + Name);
    if (Name[0] != 'a') Write(P(std::string("out/") + Name), "old");
  }
  TWnSHFileOperation Op;
  Op.Options = {fofSilent};
  Op.SourceFiles = {P("in/*.jpg")};
  Op.DestFiles = {P("out")};
  QThread* const Window = QCoreApplication::instance()->thread();
  int Asked = 0;
  Op.OnConfirm = [&](platform::TFileOpConfirm Kind, const std::string& Source, const std::string&) {
    ++Asked;
    EXPECT_EQ(QThread::currentThread(), Window);
    EXPECT_EQ(Kind, platform::TFileOpConfirm::Replace);
    EXPECT_EQ(Source, P("in/b.jpg"));
    return platform::TFileOpAnswer::YesToAll;
  };
  bool RanMeanwhile = false, SecondRefused = false;
  QTimer::singleShot(0, [&] {
    RanMeanwhile = TWnSHFileOperation::Running();
    SecondRefused = !Op.Execute();
  });
  EXPECT_FALSE(TWnSHFileOperation::Running());
  EXPECT_TRUE(Op.Execute());
  EXPECT_FALSE(TWnSHFileOperation::Running());
  EXPECT_TRUE(RanMeanwhile);
  EXPECT_TRUE(SecondRefused);
  EXPECT_EQ(Asked, 1);
  for (const char* Name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
    EXPECT_EQ(Read(P(std::string("out/") + Name)), std::string("new ") + Name);

  // Cancelled at the question: nothing after it is done.
  for (const char* Name : {"b.jpg", "c.jpg"}) Write(P(std::string("out/") + Name), "old");
  std::filesystem::remove(P("out/d.jpg"));
  Op.OnConfirm = [&](platform::TFileOpConfirm, const std::string&, const std::string&) {
    ++Asked;
    return platform::TFileOpAnswer::Cancel;
  };
  EXPECT_FALSE(Op.Execute());
  EXPECT_TRUE(Op.OperationsAborted());
  EXPECT_EQ(Asked, 2);
  EXPECT_EQ(Read(P("out/b.jpg")), "old");
  EXPECT_FALSE(std::filesystem::exists(P("out/d.jpg")));

  // A question that throws cancels the operation and throws from Execute.
  Op.OnConfirm = [](platform::TFileOpConfirm, const std::string&, const std::string&) -> platform::TFileOpAnswer {
    throw std::runtime_error("no answer");
  };
  EXPECT_THROW(Op.Execute(), std::runtime_error);
  EXPECT_EQ(Read(P("out/b.jpg")), "old");
  EXPECT_FALSE(std::filesystem::exists(P("out/d.jpg")));
  EXPECT_FALSE(TWnSHFileOperation::Running());
}
