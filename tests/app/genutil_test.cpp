#include "app/genutil.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

// Stands for the control library's shape button, recognised by class name.
class TKelShapeButton : public QPushButton {
  Q_OBJECT
public:
  using QPushButton::QPushButton;
};

namespace {

namespace fs = std::filesystem;

std::string Num(const char* integral, const char* decimals) {
  // The byte-size text uses the locale's decimal separator.
  return std::string(integral) + QLocale().decimalPoint().toStdString() + decimals;
}

std::string Group() { return QLocale().groupSeparator().toStdString(); }

class PixelsPerInch : public ::testing::Test {
protected:
  void TearDown() override { app::SetMainFormPixelsPerInch(0); }
};

TEST(JoinPathTest, AddsOneDelimiterOnly) {
  EXPECT_EQ(app::JoinPath("/", "a.jpg"), "/a.jpg");
  EXPECT_EQ(app::JoinPath("/x", "a.jpg"), "/x/a.jpg");
  EXPECT_EQ(app::JoinPath("/x/", "a.jpg"), "/x/a.jpg");
  EXPECT_EQ(app::JoinPath("", "a"), "/a");
  // Nothing else is normalised.
  EXPECT_EQ(app::JoinPath("/x//", "/a"), "/x///a");
}

TEST(FormatByteSizeTest, UnitBoundaries) {
  EXPECT_EQ(app::FormatByteSize(0), "0 bytes");
  EXPECT_EQ(app::FormatByteSize(1023), "1023 bytes");
  EXPECT_EQ(app::FormatByteSize(1024), Num("1", "00") + " KB");
  EXPECT_EQ(app::FormatByteSize(1536), Num("1", "50") + " KB");
  // 1023.999 KB rounds up to four digits, with the thousands separator.
  EXPECT_EQ(app::FormatByteSize(1048575), Num(("1" + Group() + "024").c_str(), "00") + " KB");
  EXPECT_EQ(app::FormatByteSize(1048576), Num("1", "00") + " MB");
  EXPECT_EQ(app::FormatByteSize(1073741823), Num(("1" + Group() + "024").c_str(), "00") + " MB");
  EXPECT_EQ(app::FormatByteSize(1073741824), Num("1", "00") + " GB");
}

TEST(FormatByteSizeTest, LargeSizesAreUnsigned) {
  EXPECT_EQ(app::FormatByteSize(0x80000000u), Num("2", "00") + " GB");
  EXPECT_EQ(app::FormatByteSize(0xFFFFFFFFu), Num("4", "00") + " GB");
}

TEST(GifDelayToIntervalTest, TenMillisecondsPerUnitClamped) {
  EXPECT_EQ(app::GifDelayToInterval(0), 50);
  EXPECT_EQ(app::GifDelayToInterval(4), 50);
  EXPECT_EQ(app::GifDelayToInterval(5), 50);
  EXPECT_EQ(app::GifDelayToInterval(6), 60);
  EXPECT_EQ(app::GifDelayToInterval(7), 70);
  EXPECT_EQ(app::GifDelayToInterval(999), 9990);
  EXPECT_EQ(app::GifDelayToInterval(1000), 10000);
  EXPECT_EQ(app::GifDelayToInterval(65535), 10000);
  // 429496730 x 10 wraps to 4 in 32 bits: must still clamp to the maximum.
  EXPECT_EQ(app::GifDelayToInterval(429496730u), 10000);
  EXPECT_EQ(app::GifDelayToInterval(0xFFFFFFFFu), 10000);
}

TEST_F(PixelsPerInch, ScalingAt120) {
  app::SetMainFormPixelsPerInch(120);
  EXPECT_EQ(app::ScaleByScreenDpi(96), 120);
  EXPECT_EQ(app::ScaleButtonWidth(96), 102);
}

TEST_F(PixelsPerInch, NothingChangesAt96) {
  app::SetMainFormPixelsPerInch(96);
  EXPECT_EQ(app::ScaleByScreenDpi(75), 75);
  EXPECT_EQ(app::ScaleButtonWidth(75), 75);
}

TEST_F(PixelsPerInch, HalvesRoundToEven) {
  app::SetMainFormPixelsPerInch(144);
  EXPECT_EQ(app::ScaleByScreenDpi(1), 2);  // 1.5
  EXPECT_EQ(app::ScaleByScreenDpi(3), 4);  // 4.5
  EXPECT_EQ(app::ScaleButtonWidth(4), 4);  // 108 / 96 x 4 = 4.5
  EXPECT_EQ(app::ScaleButtonWidth(12), 14); // 13.5
}

TEST_F(PixelsPerInch, ButtonGrowthTruncatesTowardZero) {
  app::SetMainFormPixelsPerInch(95); // (-1) div 4 = 0, not -1
  EXPECT_EQ(app::ScaleButtonWidth(96), 96);
  app::SetMainFormPixelsPerInch(72); // (-24) div 4 = -6
  EXPECT_EQ(app::ScaleButtonWidth(96), 90);
  app::SetMainFormPixelsPerInch(99);
  EXPECT_EQ(app::ScaleButtonWidth(96), 96);
}

TEST_F(PixelsPerInch, AdjustWidensOnlyShapeButtonsAtAnyDepth) {
  QWidget form;
  QWidget panel(&form);
  auto* shape = new TKelShapeButton(&panel);
  auto* plain = new QPushButton(&panel);
  auto* top = new TKelShapeButton(&form);
  for (QWidget* w : {static_cast<QWidget*>(shape), static_cast<QWidget*>(plain), static_cast<QWidget*>(top)})
    w->resize(96, 25);

  app::SetMainFormPixelsPerInch(96);
  app::AdjustControlsForDpi(&form);
  EXPECT_EQ(shape->width(), 96);

  app::SetMainFormPixelsPerInch(120);
  app::AdjustControlsForDpi(&form);
  EXPECT_EQ(shape->width(), 102);
  EXPECT_EQ(top->width(), 102);
  EXPECT_EQ(shape->height(), 25);
  EXPECT_EQ(plain->width(), 96);
}

TEST(ControlWalkTest, IsControlInList) {
  QWidget a, b;
  EXPECT_FALSE(app::IsControlInList(nullptr, {&a}));
  EXPECT_FALSE(app::IsControlInList(&a, {}));
  EXPECT_TRUE(app::IsControlInList(&a, {&b, &a}));
  EXPECT_FALSE(app::IsControlInList(&a, {&b}));
}

TEST(ControlWalkTest, ExceptedControlsKeepTheirValueButTheirChildrenAreVisited) {
  QWidget root;
  auto* excepted = new QWidget(&root);
  auto* inner = new QWidget(excepted);
  auto* sibling = new QWidget(&root);

  app::SetCursorRecursive(&root, QCursor(Qt::WaitCursor), {excepted});
  EXPECT_EQ(root.cursor().shape(), Qt::WaitCursor);
  EXPECT_FALSE(excepted->testAttribute(Qt::WA_SetCursor));
  EXPECT_TRUE(inner->testAttribute(Qt::WA_SetCursor));
  EXPECT_EQ(inner->cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(sibling->cursor().shape(), Qt::WaitCursor);

  app::SetEnabledRecursive(&root, false, {excepted});
  // Each widget's own setting; what Qt inherits from a disabled parent aside.
  EXPECT_TRUE(root.testAttribute(Qt::WA_ForceDisabled));
  EXPECT_FALSE(excepted->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_TRUE(inner->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_TRUE(sibling->testAttribute(Qt::WA_ForceDisabled));

  app::SetEnabledRecursive(&root, true);
  EXPECT_TRUE(inner->isEnabled());
  app::SetCursorRecursive(nullptr, QCursor(Qt::WaitCursor)); // no effect, no crash
}

TEST(FileCreationDateTest, ExistingFileMissingFileAndFolder) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("a.jpg").toStdString();
  std::ofstream(file) << "x";
  // UTC now as days since 1899-12-30.
  const double now = QDateTime::currentSecsSinceEpoch() / 86400.0 + 25569.0;
  const double created = app::GetFileCreationDate(file);
  EXPECT_NEAR(created, now, 5.0 / 86400.0 * 60);
  EXPECT_EQ(app::GetFileCreationDate(dir.filePath("missing.jpg").toStdString()), -1.0);
  EXPECT_EQ(app::GetFileCreationDate(dir.path().toStdString()), -1.0);
}

TEST(LongPathTest, ExistingPathStaysAndMissingComponentGivesEmpty) {
  QTemporaryDir dir;
  const std::string sub = dir.filePath("Sub Folder").toStdString();
  fs::create_directory(sub);
  std::ofstream(sub + "/File.JPG") << "x";
  EXPECT_EQ(app::LongPathName(sub + "/File.JPG"), sub + "/File.JPG");
  EXPECT_EQ(app::LongPathName(sub + "//File.JPG"), sub + "/File.JPG");
  EXPECT_EQ(app::LongPathName(sub + "/missing/File.JPG"), "");
  EXPECT_EQ(app::LongPathName("/"), "/");
}

TEST(LongPathTest, ProgramPathIsCached) {
  app::ClearGenUtilCache();
  const std::string first = app::GetProgramLongPath();
  EXPECT_EQ(first, QCoreApplication::applicationFilePath().toStdString());
  EXPECT_EQ(app::GetProgramLongPath(), first);
}

TEST(WorkFolderTest, UserFolderFirst) {
  QTemporaryDir dir;
  const std::string user = dir.path().toStdString();
  EXPECT_EQ(app::FindWorkFolder(user, {}), user + "/pictrovatemp");
  EXPECT_TRUE(fs::is_directory(user + "/pictrovatemp"));
  // A second search accepts the folder that is now there.
  EXPECT_EQ(app::FindWorkFolder(user, {}), user + "/pictrovatemp");
}

TEST(WorkFolderTest, FallsBackToTheTemporaryRoots) {
  QTemporaryDir dir;
  const std::string blocked = dir.filePath("file").toStdString();
  std::ofstream(blocked) << "x"; // a file: nothing can be created below it
  const std::string root = dir.filePath("temp").toStdString();
  EXPECT_EQ(app::FindWorkFolder(blocked, {blocked + "/no", root}), root + "/pictrova");
  EXPECT_TRUE(fs::is_directory(root + "/pictrova"));
}

TEST(WorkFolderTest, FailureNamesTheLastPathTried) {
  QTemporaryDir dir;
  const std::string blocked = dir.filePath("file").toStdString();
  std::ofstream(blocked) << "x";
  try {
    app::FindWorkFolder(blocked, {blocked + "/a", blocked + "/b"});
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create " + blocked + "/b");
  }
  // A root that exists but cannot hold the folder is tried as root/pictrova.
  const std::string readOnly = dir.filePath("ro").toStdString();
  fs::create_directory(readOnly);
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(readOnly.c_str(), W_OK) != 0) {
    try {
      app::FindWorkFolder("", {readOnly});
      FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create " + readOnly + "/pictrova");
    }
  }
  fs::permissions(readOnly, fs::perms::owner_all);
}

// The runs' folders go into a data folder of the test's own, and so do the
// temporary folders tried after it.
class WorkFolderRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::pair<const char*, QTemporaryDir*> Folders[] = {
        {"XDG_DATA_HOME", &FData}, {"XDG_RUNTIME_DIR", &FRuntime}, {"TMPDIR", &FTemp}};
    for (const auto& [Name, Folder] : Folders) {
      FOld.emplace_back(Name, qEnvironmentVariableIsSet(Name) ? std::optional(qgetenv(Name)) : std::nullopt);
      qputenv(Name, Folder->path().toUtf8());
    }
    app::ClearGenUtilCache();
  }
  void TearDown() override {
    app::ClearGenUtilCache();
    for (const auto& [Name, Value] : FOld) Value ? qputenv(Name, *Value) : qunsetenv(Name);
  }
  QTemporaryDir FData, FRuntime, FTemp;
  std::vector<std::pair<const char*, std::optional<QByteArray>>> FOld;
};

TEST_F(WorkFolderRunTest, SecondCallDoesNotTouchTheDisk) {
  const std::string first = app::CreateWorkFolder();
  ASSERT_TRUE(fs::is_directory(first));
  // In the user's data folder, never beside the program.
  EXPECT_EQ(first.rfind(FData.path().toStdString() + "/", 0), 0u) << first;
  EXPECT_EQ(fs::path(first).parent_path().filename(), "pictrovatemp");
  fs::remove_all(first);
  EXPECT_EQ(app::CreateWorkFolder(), first);
  EXPECT_FALSE(fs::exists(first));
}

TEST_F(WorkFolderRunTest, EachRunHasItsOwnAndCleaningTakesOnlyOurFiles) {
  const std::string First = app::CreateWorkFolder();
  app::ClearGenUtilCache();
  const std::string Second = app::CreateWorkFolder();
  EXPECT_NE(First, Second);
  EXPECT_EQ(fs::status(Second).permissions() & fs::perms::all, fs::perms::owner_all);
  fs::remove(First);

  // Ours: two pictures and a text; theirs: a picture of the same kind.
  struct TFile {
    std::string Name;
    bool Ours;
    bool Gone;
  };
  const TFile Files[] = {{"a.jpg", true, true}, {"b.PNG", true, true}, {"note.txt", true, false}, {"other.jpg", false, false}};
  for (const TFile& F : Files) {
    std::ofstream(Second + "/" + F.Name) << "x";
    if (F.Ours) app::AddWorkFile(Second + "/" + F.Name);
  }
  // A noted path outside the folder is never touched.
  const std::string Outside = Second + "-outside.jpg";
  std::ofstream(Outside) << "x";
  app::AddWorkFile(Outside);
  app::CleanWorkFolder();
  for (const TFile& F : Files) EXPECT_EQ(fs::exists(Second + "/" + F.Name), !F.Gone) << F.Name;
  EXPECT_TRUE(fs::exists(Outside));
  EXPECT_TRUE(fs::is_directory(Second)); // not empty: it stays
  fs::remove_all(Second);
  fs::remove(Outside);

  // A folder left empty goes.
  const std::string Third = app::CreateWorkFolder();
  std::ofstream(Third + "/c.bmp") << "x";
  app::AddWorkFile(Third + "/c.bmp");
  app::CleanWorkFolder();
  EXPECT_FALSE(fs::exists(Third));
  // No other run works there: the shared folder goes as well.
  EXPECT_FALSE(fs::exists(fs::path(Third).parent_path()));
}

// What a run that was killed left is cleared by a later start: only runs
// that are gone, only what a run makes.
TEST_F(WorkFolderRunTest, RunsThatAreGoneAreClearedPrivateFoldersAndAll) {
  const std::string Run = app::CreateWorkFolder();
  const fs::path Shared = fs::path(Run).parent_path();
  EXPECT_EQ(fs::status(Shared).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::path(Run).filename().string().rfind("run-" + std::to_string(::getpid()) + "-", 0), 0u) << Run;

  const pid_t Dead = ::fork();
  if (Dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(Dead, nullptr, 0), Dead);
  const fs::path Gone = Shared / ("run-" + std::to_string(Dead) + "-AbC123");
  const fs::path Kept = Shared / ("run-" + std::to_string(Dead) + "-XyZ789"); // holds a file not of a run
  const fs::path Live = Shared / "run-1-AbC123";
  const fs::path Elsewhere = fs::path(FRuntime.path().toStdString()) / "pictrova" / Gone.filename();
  for (const fs::path& F : {Gone, Kept, Live, Elsewhere}) fs::create_directories(F);
  for (const fs::path& F : {Gone / "a.jpg", Gone / ".b.png.Qw3rty", Kept / "c.jpg", Kept / "notes.txt",
                            Live / "d.jpg", Elsewhere / "e.gif", fs::path(Run) / "f.jpg"})
    std::ofstream(F) << "x";
  EXPECT_EQ(app::RemoveStaleWorkFolders(), 2);
  EXPECT_FALSE(fs::exists(Gone) || fs::exists(Elsewhere.parent_path()));
  EXPECT_FALSE(fs::exists(Kept / "c.jpg"));
  EXPECT_TRUE(fs::exists(Kept / "notes.txt"));
  EXPECT_TRUE(fs::exists(Live / "d.jpg"));
  EXPECT_TRUE(fs::exists(fs::path(Run) / "f.jpg"));
}

} // namespace

#include "genutil_test.moc"
