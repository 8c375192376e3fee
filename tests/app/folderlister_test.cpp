#include "app/folderlister.h"
#include "app/folderview.h"
#include "app/mainform.h"
#include "app/openfolderdlg.h"
#include "apptestenv.h"
#include "controls/support/wnimagelistbox/wnimagelistbox.h"
#include "image/views/rvmview.h"

#include <QLabel>
#include <QThread>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <sys/inotify.h>
#include <unistd.h>

using namespace app;
using apptest::WaitUntil;

namespace {

// The listing's status calls, counted by name.
std::mutex StatLock;
std::map<std::string, int> Stats;

// While set, the listing stops after its first batch's status calls.
std::atomic<bool> HoldAfterFirstBatch{false};
// While set, each status call takes a millisecond: a view opening a large
// folder returns before the listing's first batch.
std::atomic<bool> SlowStats{false};

int CountingStat(int DirFd, const char* Name, int Flags, unsigned Mask, struct statx* Info) {
  std::size_t Total = 0;
  {
    std::lock_guard Lock(StatLock);
    ++Stats[Name];
    for (const auto& [N, C] : Stats) Total += static_cast<std::size_t>(C);
  }
  // Never for good: a view that waited for the whole listing would only be
  // slow to fail.
  for (int Ms = 0; Total > TFolderLister::FirstBatch && HoldAfterFirstBatch && Ms < 5000; ++Ms) QThread::msleep(1);
  if (SlowStats) QThread::msleep(1);
  return ::statx(DirFd, Name, Flags, Mask, Info);
}

// The opens of the folder's files, in order, as the kernel reports them.
// Closes are watched too: the kernel merges an event into the one queued
// before it when both are the same, and two reads of a file one after the
// other would count as one open.
class TOpenWatch {
public:
  explicit TOpenWatch(const std::string& Folder) : FFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    ::inotify_add_watch(FFd, Folder.c_str(), IN_OPEN | IN_CLOSE_NOWRITE);
  }
  ~TOpenWatch() { ::close(FFd); }
  const std::vector<std::string>& Opened() {
    alignas(inotify_event) char Buffer[16384];
    for (;;) {
      const ssize_t N = ::read(FFd, Buffer, sizeof Buffer);
      if (N <= 0) break;
      for (ssize_t At = 0; At < N;) {
        const auto* E = reinterpret_cast<const inotify_event*>(Buffer + At);
        if (E->len > 0 && (E->mask & IN_OPEN) && !(E->mask & IN_ISDIR)) FOpened.emplace_back(E->name);
        At += static_cast<ssize_t>(sizeof(inotify_event) + E->len);
      }
    }
    return FOpened;
  }
  int Count(const std::string& Name) {
    const auto& All = Opened();
    return static_cast<int>(std::count(All.begin(), All.end(), Name));
  }

private:
  int FFd;
  std::vector<std::string> FOpened;
};

class FolderListerTest : public ::testing::Test {
protected:
  FolderListerTest() {
    Stats.clear();
    TFolderLister::StatProc = CountingStat;
  }
  ~FolderListerTest() override { TFolderLister::StatProc = ::statx; }
  // Count pictures named p000.jpg ... in reverse order of making, so that
  // the folder's own order is not the sorted one.
  std::vector<std::string> Pictures(int Count) {
    std::vector<std::string> Names;
    for (int I = Count - 1; I >= 0; --I) {
      char Name[16];
      std::snprintf(Name, sizeof Name, "p%03d.jpg", I);
      Env.Picture(Name, 64 + I, 48);
      Names.insert(Names.begin(), Name);
    }
    return Names;
  }
  apptest::TAppEnv Env;
};

} // namespace

TEST_F(FolderListerTest, NamesArriveSortedInBatchesEachExaminedOnce) {
  const std::vector<std::string> Names = Pictures(int(TFolderLister::FirstBatch) + 10);
  std::ofstream(Env.File("notes.txt")) << "not listed, not examined";
  std::ofstream(Env.File("broken.png")) << "listed: a known name";
  std::atomic<int> Announced{0};
  std::vector<std::vector<std::string>> Batches;
  bool Done = false;
  HoldAfterFirstBatch = true;
  {
    TFolderLister Lister(Env.Folder(), [&] { ++Announced; });
    // The worker is let go whatever happens, before the lister is joined.
    struct TRelease {
      ~TRelease() { HoldAfterFirstBatch = false; }
    } Release;
    EXPECT_TRUE(WaitUntil([&] { return Announced > 0; }));
    EXPECT_TRUE(WaitUntil([&] {
      if (Batches.size() == 1) HoldAfterFirstBatch = false;
      std::vector<TScannedFile> Files = Lister.Take(Done);
      if (!Files.empty()) {
        Batches.emplace_back();
        for (const TScannedFile& F : Files) Batches.back().push_back(F.Name);
      }
      return Done;
    }));
    EXPECT_TRUE(Lister.Finished());
  }
  std::vector<std::string> All;
  for (const auto& B : Batches) All.insert(All.end(), B.begin(), B.end());
  std::vector<std::string> Expected = {"broken.png"};
  Expected.insert(Expected.end(), Names.begin(), Names.end());
  EXPECT_EQ(All, Expected);
  // The first batch is the small one, handed over before the rest is
  // examined.
  ASSERT_EQ(Batches.size(), 2u);
  EXPECT_EQ(Batches.front().size(), TFolderLister::FirstBatch);
  EXPECT_EQ(Announced, 2);
  for (const std::string& N : Expected) EXPECT_EQ(Stats[N], 1) << N;
  EXPECT_EQ(Stats.count("notes.txt"), 0u);
}

TEST_F(FolderListerTest, AMissingFolderEndsAtOnceWithNothing) {
  TFolderLister Lister(Env.File("gone"), {});
  Lister.WaitIfSmall();
  bool Done = false;
  EXPECT_TRUE(Lister.Take(Done).empty());
  EXPECT_TRUE(Done);
}

TEST_F(FolderListerTest, OpeningAFolderExaminesEachFileOnceFirstScreenFirst) {
  const std::vector<std::string> Names = Pictures(40);
  TOpenWatch Watch(Env.Folder());
  TMainForm Form{{}, nullptr};
  Form.resize(700, 500);
  Form.show();
  Form.OpenFolderView(Env.Folder());
  TFolderViewForm* View = Form.CurrentFolderView();
  ASSERT_NE(View, nullptr);
  rv::TRastrumMView& Strip = *View->ThumbView;
  ASSERT_TRUE(WaitUntil([&] { return View->Names().size() == Names.size(); }));
  EXPECT_EQ(View->Names(), Names);
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (int I = 0; I < View->Rows().Count(); ++I)
          if (!View->Rows().Row(I).DetailsDone) return false;
        return true;
      },
      20000));
  std::vector<std::string> OnScreen;
  for (int I = 0; I < Strip.ImageCount(); ++I)
    if (Strip.IsImageVisible(I)) OnScreen.push_back(Names[std::size_t(I)]);
  ASSERT_GE(OnScreen.size(), 3u);
  ASSERT_LT(OnScreen.size(), Names.size());

  // One status call and one open a file; the one shown in the picture view
  // is opened once more, when the picture view reads it whole. Its two
  // reads run at once, on two workers, and the kernel reports two opens of
  // a file one right after the other as one.
  EXPECT_EQ(Form.CurrentFileName(), QString::fromStdString(Names.front()));
  ASSERT_TRUE(WaitUntil([&] { return Form.HasImage(); }));
  for (const std::string& N : Names) {
    EXPECT_EQ(Stats[N], 1) << N;
    if (N == Names.front()) {
      EXPECT_GE(Watch.Count(N), 1);
      EXPECT_LE(Watch.Count(N), 2);
    } else {
      EXPECT_EQ(Watch.Count(N), 1) << N;
    }
  }
  // The thumbnails on screen were read before any other file.
  std::vector<std::string> First;
  for (const std::string& N : Watch.Opened())
    if (std::find(First.begin(), First.end(), N) == First.end()) First.push_back(N);
  First.resize(OnScreen.size());
  std::sort(First.begin(), First.end());
  EXPECT_EQ(First, OnScreen);
  // Their rows took the dimensions from the thumbnails' reads.
  for (std::size_t I = 0; I < OnScreen.size(); ++I) {
    const TFolderRow& R = View->Rows().Row(View->Rows().IndexOf(OnScreen[I]));
    EXPECT_EQ(R.Width, 64 + int(I)) << OnScreen[I];
    EXPECT_EQ(R.Height, 48);
    EXPECT_EQ(R.Bits, 24);
  }
  const TFolderRow& Last = View->Rows().Row(View->Rows().IndexOf(Names.back()));
  EXPECT_EQ(Last.Width, 64 + 39);
}

TEST_F(FolderListerTest, ALargeFolderShowsBeforeItIsReadAndFillsInOrder) {
  // More than a slice of the view's after the first batch.
  const int Count = static_cast<int>(TFolderLister::SmallFolder) + 200;
  // One picture under many names.
  const std::string Source = Env.Picture("source.jpeg");
  std::vector<std::string> Names = {"source.jpeg"};
  for (int I = Count - 2; I >= 0; --I) {
    char Name[16];
    std::snprintf(Name, sizeof Name, "n%05d.jpg", I);
    ASSERT_EQ(::link(Source.c_str(), Env.File(Name).c_str()), 0);
    Names.insert(Names.begin(), Name);
  }
  HoldAfterFirstBatch = true;
  struct TRelease {
    ~TRelease() { HoldAfterFirstBatch = false; }
  } Release;
  TMainForm Form{{}, nullptr};
  Form.show();
  Form.OpenFolderView(Env.Folder());
  TFolderViewForm* View = Form.CurrentFolderView();
  ASSERT_NE(View, nullptr);
  // The open returned while the listing is held after its first batch: the
  // view shows nothing yet or that batch, if the worker was quick.
  const std::vector<std::string> First(Names.begin(), Names.begin() + TFolderLister::FirstBatch);
  EXPECT_TRUE(View->Names().empty() || View->Names() == First);
  ASSERT_TRUE(WaitUntil([&] { return !View->Names().empty(); }));
  EXPECT_EQ(View->Names(), First);
  EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{Names.front()});
  // The picture comes once the strip has had its turn.
  EXPECT_TRUE(WaitUntil([&] { return Form.CurrentFileName().toStdString() == Names.front(); }));
  HoldAfterFirstBatch = false;
  ASSERT_TRUE(WaitUntil([&] { return View->Names().size() == Names.size(); }));
  EXPECT_EQ(View->Names(), Names);
  EXPECT_EQ(View->Rows().Count(), Count);
  EXPECT_EQ(View->ThumbView->ImageCount(), Count);
  // Later batches leave the selection where it was, in the strip as well.
  EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{Names.front()});
  EXPECT_EQ(View->ThumbView->SelectedImage(), 0);
  EXPECT_TRUE(View->StatusText(0).startsWith(QString::number(Count) + " Images File(s)"));
}

// The first picture of a folder filled from the event loop holds the window
// while it is read: the thumbnails of the strip's screen come before it.
TEST_F(FolderListerTest, ALargeFoldersFirstPictureComesAfterTheStripsScreen) {
  const int Count = static_cast<int>(TFolderLister::SmallFolder) + 10;
  const std::string Source = Env.Picture("source.jpeg", 300, 200);
  for (int I = 0; I < Count - 1; ++I) {
    char Name[16];
    std::snprintf(Name, sizeof Name, "n%05d.jpg", I);
    ASSERT_EQ(::link(Source.c_str(), Env.File(Name).c_str()), 0);
  }
  // Told at every picture shown, after its read.
  int Shown = 0;
  bool StripWasReading = true;
  int StripPixels = 0;
  TMainForm Form{{}, nullptr};
  Form.resize(700, 500);
  Form.show();
  struct TRestore {
    std::function<void(const QByteArray&)> Saved = TMainForm::PlayWave;
    ~TRestore() { TMainForm::PlayWave = Saved; }
  } Restore;
  TMainForm::PlayWave = [&](const QByteArray&) {
    TFolderViewForm* View = Form.CurrentFolderView();
    ++Shown;
    StripWasReading = View->StripReading();
    for (int I = 0; I < View->ThumbView->ImageCount(); ++I)
      if (View->ThumbView->IsImageVisible(I) && View->ThumbView->ImageHasPixels(I)) ++StripPixels;
  };
  SlowStats = true;
  Form.OpenFolderView(Env.Folder());
  SlowStats = false;
  ASSERT_NE(Form.CurrentFolderView(), nullptr);
  // Nothing shown yet, or the first batch on a machine slow to return.
  const std::size_t Listed = Form.CurrentFolderView()->Names().size();
  EXPECT_TRUE(Listed == 0 || Listed == TFolderLister::FirstBatch) << Listed;
  ASSERT_TRUE(WaitUntil([&] { return Shown > 0; }));
  EXPECT_EQ(Shown, 1);
  EXPECT_EQ(Form.CurrentFileName(), "n00000.jpg");
  EXPECT_FALSE(StripWasReading);
  EXPECT_GE(StripPixels, 3);
}

TEST_F(FolderListerTest, TheHiddenOpenFolderDialogListsNamesWithoutReadingFiles) {
  const std::vector<std::string> Names = Pictures(5);
  TOpenWatch Watch(Env.Folder());
  TOpenFolderForm Dialog({Env.Folder()});
  ASSERT_EQ(Dialog.ImageListBox->count(), 5);
  EXPECT_EQ(Dialog.ImageListBox->item(0)->text().toStdString(), Names.front());
  // Plain files are told by their folder entries; nothing is opened.
  EXPECT_TRUE(Stats.empty());
  EXPECT_TRUE(Watch.Opened().empty());
  EXPECT_EQ(Dialog.PreviewFile(), "");
  // Shown, it previews the selected file.
  Dialog.show();
  EXPECT_EQ(Dialog.PreviewFile(), Env.File(Names.front()));
  // Read on a worker: the dimensions come with the picture.
  ASSERT_TRUE(WaitUntil([&] { return Dialog.LblDimensions->text() != "Dimensions:"; }));
  EXPECT_EQ(Dialog.LblDimensions->text(), "Dimensions: 64 x 48");
  EXPECT_EQ(Watch.Count(Names.front()), 1);
}
