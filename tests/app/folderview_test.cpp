#include "app/folderview.h"
#include "app/loadthread.h"
#include "app/mainform.h"
#include "apptestenv.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/io/rvmio.h"
#include "image/views/rvmview.h"
#include "shell/sxnotify.h"
#include "support/gatedreads.h"

#include <QFile>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

class FolderViewTest : public ::testing::Test {
protected:
  TFolderViewForm* Open(const std::string& Path) {
    Form.show();
    Form.OpenFolderView(Path);
    return Form.CurrentFolderView();
  }
  std::vector<std::string> RowNames(TFolderViewForm* View) {
    std::vector<std::string> Names;
    for (int I = 0; I < View->Rows().Count(); ++I) Names.push_back(View->Rows().Row(I).Name);
    return Names;
  }
  void Broken(const std::string& Name) {
    std::ofstream(Env.File(Name)) << "not a picture at all";
  }

  apptest::TAppEnv Env;
  TMainForm Form{{}, nullptr};
};

} // namespace

TEST_F(FolderViewTest, ListsKnownPicturesSortedAndSelectsTheNamedOne) {
  Env.Picture("b.png");
  Env.Picture("A.jpg");
  Env.Picture("c.bmp");
  Env.Picture("a.jpg");
  std::ofstream(Env.File("notes.txt")) << "x";
  fs::create_directory(Env.File("sub.png"));

  TFolderViewForm* View = Open(Env.File("c.bmp"));
  ASSERT_NE(View, nullptr);
  // Case-insensitive order; names differing in case are two files.
  EXPECT_EQ(View->Names(), (std::vector<std::string>{"A.jpg", "a.jpg", "b.png", "c.bmp"}));
  EXPECT_EQ(RowNames(View), View->Names());
  EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{"c.bmp"});
  std::uint64_t Total = 0;
  for (const auto& N : View->Names()) Total += fs::file_size(Env.File(N));
  EXPECT_EQ(View->TotalFileSize(), Total);
  EXPECT_EQ(View->StatusText(1).left(6), "Type: ");
  EXPECT_TRUE(View->StatusText(0).startsWith("4 Images File(s) ("));
  EXPECT_EQ(Form.CurrentFilePath(), QString::fromStdString(Env.File("c.bmp")));

  // A folder alone selects its first file.
  TFolderViewForm* Second = Open(Env.Folder() + "/");
  EXPECT_EQ(Second->SelectedNames(), std::vector<std::string>{"A.jpg"});
}

TEST_F(FolderViewTest, AnEmptyFolderHasNoRowsAndReportsZero) {
  TFolderViewForm* View = Open(Env.Folder());
  EXPECT_TRUE(View->Names().empty());
  EXPECT_TRUE(View->SelectedNames().empty());
  EXPECT_EQ(View->StatusText(0), "0 Images File(s) (0 bytes)");
  EXPECT_EQ(View->StatusText(1), "0 Images File(s) Selected");
  EXPECT_FALSE(Form.HasImage());
}

TEST_F(FolderViewTest, LoaderThreadFillsDimensionsAndMarksUnreadableRowsDone) {
  Env.Picture("wide.png", 40, 10);
  Env.Picture("tall.jpg", 10, 30);
  Env.Picture("mid.bmp", 17, 13);
  Broken("bad.gif");
  TFolderViewForm* View = Open(Env.File("wide.png"));
  TFolderRows& Rows = View->Rows();
  ASSERT_TRUE(WaitUntil([&] {
    for (int I = 0; I < Rows.Count(); ++I)
      if (!Rows.Row(I).DetailsDone) return false;
    return true;
  }));
  struct TCase {
    const char* Name;
    const char* Dimensions;
    const char* Bits;
  };
  const TCase Cases[] = {{"wide.png", "40 x 10", "24 bits"},
                         {"tall.jpg", "10 x 30", "24 bits"},
                         {"mid.bmp", "17 x 13", "24 bits"},
                         {"bad.gif", "", ""}};
  for (const TCase& C : Cases) {
    const TFolderRow& R = Rows.Row(Rows.IndexOf(C.Name));
    EXPECT_EQ(Rows.SubItem(R, 3), C.Dimensions) << C.Name;
    EXPECT_EQ(Rows.SubItem(R, 5), C.Bits) << C.Name;
  }
  // The broken row is not handed out again.
  std::vector<std::string> Names;
  View->LoadThread()->ScanStartRow = 0;
  EXPECT_TRUE(View->LoadThread()->TakeRows(Names));
  EXPECT_TRUE(Names.empty());
}

TEST_F(FolderViewTest, LoaderResultsFollowRowsByName) {
  Env.Picture("one.png", 5, 6);
  Env.Picture("two.png", 7, 8);
  TFolderViewForm* View = Open(Env.File("one.png"));
  TLoadThread* Thread = View->LoadThread();
  Thread->Stop();
  Thread->WaitFor();
  // Results for a row that went away and for one renamed meanwhile.
  Thread->SetActive(true);
  std::string Next;
  View->RemoveFileItem("one.png", false, Next, true);
  EXPECT_EQ(Next, "two.png");
  TLoadThread::THeaderResult Gone{"one.png", true, 5, 6, 24};
  TLoadThread::THeaderResult Two = Thread->ReadHeader(Env.Folder(), "two.png");
  EXPECT_TRUE(Two.Read);
  Thread->StoreRows({Gone, Two});
  EXPECT_EQ(View->Rows().Count(), 1);
  EXPECT_EQ(View->Rows().SubItem(View->Rows().Row(0), 3), "7 x 8");
  Thread->SetActive(false);
}

TEST_F(FolderViewTest, ColumnClicksToggleTheDirection) {
  Env.Picture("a.png", 30, 30);
  Env.Picture("b.png", 10, 10);
  TFolderViewForm* View = Open(Env.File("a.png"));
  ASSERT_TRUE(WaitUntil([&] { return View->Rows().Row(0).DetailsDone && View->Rows().Row(1).DetailsDone; }));
  const std::vector<std::pair<bool, std::vector<std::string>>> Clicks = {
      {true, {"b.png", "a.png"}}, {false, {"a.png", "b.png"}}, {true, {"b.png", "a.png"}}};
  for (const auto& [Ascending, Expected] : Clicks) {
    View->ImageViewColumnClick(fcDimensions);
    EXPECT_EQ(View->SortAscending(), Ascending);
    EXPECT_EQ(RowNames(View), Expected);
  }
  // Thumbnail order (Names) does not follow the list's sort.
  EXPECT_EQ(View->Names(), (std::vector<std::string>{"a.png", "b.png"}));
}

TEST_F(FolderViewTest, RefreshModesAddDropAndUpdate) {
  Env.Picture("keep.png", 4, 4);
  Env.Picture("gone.png");
  TFolderViewForm* View = Open(Env.File("keep.png"));
  View->SxShellNotify->SetActive(false); // only the refresh acts here
  fs::remove(Env.File("gone.png"));
  Env.Picture("new.png");
  Env.Picture("keep.png", 9, 9);
  fs::last_write_time(Env.File("keep.png"), fs::file_time_type::clock::now() + std::chrono::hours(1));

  struct TStep {
    int Mode;
    std::vector<std::string> Names;
    const char* KeepDimensions;
  };
  const TStep Steps[] = {{1, {"keep.png"}, nullptr}, {0, {"keep.png", "new.png"}, nullptr}, {2, {"keep.png", "new.png"}, "9 x 9"}};
  for (const TStep& S : Steps) {
    View->RefreshFolder(S.Mode, false);
    EXPECT_EQ(View->Names(), S.Names) << "mode " << S.Mode;
    EXPECT_EQ(RowNames(View).size(), S.Names.size());
    if (S.KeepDimensions) {
      // Read again off the window's thread.
      const TFolderRows& Rows = View->Rows();
      EXPECT_TRUE(WaitUntil([&] { return Rows.SubItem(Rows.Row(Rows.IndexOf("keep.png")), 3) == S.KeepDimensions; }));
    }
  }
  EXPECT_EQ(View->TotalFileSize(), fs::file_size(Env.File("keep.png")) + fs::file_size(Env.File("new.png")));
}

TEST_F(FolderViewTest, FollowsFilesMadeRenamedAndDeletedByOthers) {
  Env.Picture("first.png");
  TFolderViewForm* View = Open(Env.File("first.png"));
  auto Has = [&](const std::string& N) {
    return View->Rows().IndexOf(N) >= 0 &&
           std::count(View->Names().begin(), View->Names().end(), N) == 1;
  };
  Env.Picture("made.png", 20, 10);
  ASSERT_TRUE(WaitUntil([&] { return Has("made.png"); }));
  ASSERT_TRUE(WaitUntil([&] {
    const int R = View->Rows().IndexOf("made.png");
    return R >= 0 && View->Rows().SubItem(View->Rows().Row(R), 3) == "20 x 10";
  }));
  fs::rename(Env.File("made.png"), Env.File("moved.png"));
  ASSERT_TRUE(WaitUntil([&] { return Has("moved.png") && !Has("made.png"); }));
  // Renamed to a type that is no picture: it leaves.
  fs::rename(Env.File("moved.png"), Env.File("moved.txt"));
  ASSERT_TRUE(WaitUntil([&] { return !Has("moved.png"); }));
  fs::remove(Env.File("first.png"));
  ASSERT_TRUE(WaitUntil([&] { return View->Names().empty(); }));
  EXPECT_EQ(View->Rows().Count(), 0);
  EXPECT_EQ(View->TotalFileSize(), 0u);
}

TEST_F(FolderViewTest, ADeletedFolderClosesItsView) {
  const std::string Sub = Env.File("sub");
  fs::create_directory(Sub);
  apptest::MarkedPicture(8, 8).save(QString::fromStdString(Sub + "/x.png"));
  Open(Sub);
  ASSERT_EQ(Form.FolderViews().size(), 1u);
  // The picture is read off the window's thread: a folder removed while
  // that read runs is met by the read's failure instead (another question).
  ASSERT_TRUE(WaitUntil([&] { return Form.HasImage() && !Form.PictureLoadPending(); }));
  Env.HelpAnswer = 1;
  fs::remove_all(Sub);
  ASSERT_TRUE(WaitUntil([&] { return Form.FolderViews().empty(); }));
  EXPECT_EQ(Env.LastHelpText, "The Image Folder you have open has been deleted.");
  EXPECT_FALSE(Form.HasImage());
}

TEST_F(FolderViewTest, ClosingWhileTheLoaderWorksStopsItCleanly) {
  for (int I = 0; I < 300; ++I) Env.Picture("p" + std::to_string(I) + ".png", 8, 8);
  TFolderViewForm* View = Open(Env.Folder());
  ASSERT_TRUE(WaitUntil([&] { return View->Rows().Row(0).DetailsDone; }));
  View->CloseFolderViewNoPrompt();
  ASSERT_TRUE(WaitUntil([&] { return Form.FolderViews().empty(); }));
}

// A folder whose first file is slow to read (held at the gate) opens at
// once: the strip's cell and the picture are read by workers and come when
// their reads end. A change of the file has its header and thumbnail read
// off the window's thread too.
TEST_F(FolderViewTest, ASlowFileIsReadOffTheWindowsThread) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  Reads.Reset();
  const std::string Slow = Env.File("a.gate");
  testsupport::TGatedReads::Write(Slow, 0xFF0000, 40, 30);
  Env.Picture("b.png");
  Reads.Close();
  TFolderViewForm* View = Open(Slow);
  rv::TRastrumMView& Strip = *View->ThumbView;
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 2; }));
  EXPECT_TRUE(Form.PictureLoadPending());
  EXPECT_FALSE(Strip.ImageHasPixels(0));
  Reads.Open();
  ASSERT_TRUE(WaitUntil([&] { return !Form.PictureLoadPending() && Strip.ImageHasPixels(0); }));
  EXPECT_EQ(Form.RastrumView1->GetBitmap()->Width(), 40);

  testsupport::TGatedReads::Write(Slow, 0x00FF00, 50, 20);
  fs::last_write_time(Slow, fs::file_time_type::clock::now() + std::chrono::hours(1));
  View->RefreshFolder(2, false);
  const TFolderRows& Rows = View->Rows();
  EXPECT_TRUE(WaitUntil([&] { return Rows.SubItem(Rows.Row(Rows.IndexOf("a.gate")), 3) == "50 x 20"; }));
  EXPECT_TRUE(WaitUntil([&] { return Strip.ImageFullWidth(0) == 50; }));
  EXPECT_EQ(Reads.OnWindow, 0);
}

TEST(FilmStripPictureTest, HolesFollowTheScrollPhaseAndTheHighlight) {
  // At scroll 0 a hole spans x 1..7; at scroll 3 everything moves 3 left.
  struct TCase {
    int ViewX;
    int X;
    QRgb Expected;
  };
  const QRgb White = qRgb(255, 255, 255), Black = qRgb(0, 0, 0), Gray = qRgb(128, 128, 128);
  const TCase Cases[] = {{0, 0, Black}, {0, 1, White}, {0, 7, White}, {0, 8, Black}, {0, 11, White},
                         {3, 8, White}, {3, 5, Black}, {3, 4, White}, {13, 4, White}};
  for (const TCase& C : Cases) {
    const QImage Strip = FilmStripPicture(40, 10, C.ViewX, -1, -1);
    EXPECT_EQ(Strip.pixel(C.X, 5), C.Expected) << "scroll " << C.ViewX << " x " << C.X;
    EXPECT_EQ(Strip.pixel(C.X, 0), Black);
  }
  const QImage Lit = FilmStripPicture(40, 10, 0, 10, 20);
  EXPECT_EQ(Lit.pixel(3, 5), White);
  EXPECT_EQ(Lit.pixel(13, 5), Gray);
  EXPECT_EQ(Lit.pixel(23, 5), White);
}

// A large folder holds no object per file beyond what each file needs: no
// caption objects (the cells show their names without), and the reader's
// records only for the thumbnails read.
TEST_F(FolderViewTest, FilesNotShownHoldNoCaptionsOrReaderRecords) {
  const int Count = 300;
  Env.Picture("p000.png");
  for (int I = 1; I < Count; ++I) {
    char Name[16];
    std::snprintf(Name, sizeof Name, "p%03d.png", I);
    fs::create_hard_link(Env.File("p000.png"), Env.File(Name));
  }
  TFolderViewForm* View = Open(Env.File("p000.png"));
  rv::TRastrumMView& Strip = *View->ThumbView;
  ASSERT_TRUE(WaitUntil([&] { return Strip.ImageCount() == Count && Strip.ImageHasPixels(0); }));
  EXPECT_EQ(Strip.CaptionCount(), 0);
  int Read = 0;
  for (int I = 0; I < Count; ++I) Read += Strip.ImageHasPixels(I) || Strip.ImageLoadFailed(I) ? 1 : 0;
  EXPECT_LT(Read, Count / 4);
  EXPECT_EQ(Strip.GetMIO()->ParamsMade(), Read);
}

TEST_F(FolderViewTest, TheFilmStripHoldsTheSameFilesAndSelectsByMouse) {
  const QColor Fills[] = {Qt::yellow, Qt::cyan, Qt::magenta, Qt::darkGreen};
  for (int I = 0; I < 4; ++I) Env.Picture("p" + std::to_string(I) + ".png", 80, 60, Fills[I]);
  TFolderViewForm* View = Open(Env.File("p0.png"));
  rv::TRastrumMView& Strip = *View->ThumbView;
  ASSERT_EQ(Strip.ImageCount(), 4);
  for (int I = 0; I < 4; ++I) {
    EXPECT_EQ(Strip.ImageFileName(I), Env.File(View->Names()[std::size_t(I)]));
    EXPECT_EQ(Strip.ImageInfoText(I)->Caption(), View->Names()[std::size_t(I)]);
  }
  ASSERT_TRUE(WaitUntil([&] {
    for (int I = 0; I < 4; ++I)
      if (!Strip.ImageHasPixels(I)) return false;
    return true;
  }));
  // Each cell shows its picture: the middle of cell I in its fill.
  Strip.repaint();
  const QImage Shot = Strip.grab().toImage().convertToFormat(QImage::Format_RGB32);
  auto CellMiddle = [&](int I) {
    return QPoint(Strip.ImageID(I) - Strip.ViewX() + Strip.ThumbWidth() / 2, Strip.ImageTag(I) + 20);
  };
  for (int I = 0; I < 4; ++I) EXPECT_EQ(Shot.pixel(CellMiddle(I)), Fills[I].rgb()) << I;

  struct TClick {
    int Cell;
    Qt::KeyboardModifiers Mods;
    std::vector<std::string> Selected;
  };
  const TClick Clicks[] = {{2, Qt::NoModifier, {"p2.png"}},
                           {3, Qt::ControlModifier, {"p2.png", "p3.png"}},
                           {2, Qt::ControlModifier, {"p3.png"}},
                           {1, Qt::ShiftModifier, {"p3.png", "p2.png", "p1.png"}},
                           {0, Qt::NoModifier, {"p0.png"}}};
  for (const TClick& C : Clicks) {
    apptest::Click(&Strip, CellMiddle(C.Cell), Qt::LeftButton, C.Mods);
    EXPECT_EQ(View->SelectedNames(), C.Selected) << "cell " << C.Cell;
    EXPECT_EQ(Strip.MultiSelectedImagesCount(), static_cast<int>(C.Selected.size()));
    // The first selected file is the one shown.
    EXPECT_EQ(Form.CurrentFileName().toStdString(), C.Selected.front());
  }
  // The keyboard moves the view's own selection; the shown file follows.
  apptest::PressKey(&Strip, Qt::Key_Right);
  EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{"p1.png"});
  EXPECT_EQ(Form.CurrentFileName(), "p1.png");
}

TEST_F(FolderViewTest, QuickButtonsScrollByAViewLessOneThumbnail) {
  for (int I = 0; I < 30; ++I) Env.Picture("q" + std::to_string(100 + I) + ".png", 8, 8);
  TFolderViewForm* View = Open(Env.File("q100.png"));
  rv::TRastrumMView& Strip = *View->ThumbView;
  ASSERT_GT(Strip.MaxViewX(), 0);
  EXPECT_EQ(View->ThumbScrollBar->maximum(), Strip.MaxViewX());
  const int Step = Strip.ClientWidth() - Strip.ThumbWidth();
  View->SBtnQuickRight->click();
  EXPECT_EQ(Strip.ViewX(), std::min(Step, Strip.MaxViewX()));
  EXPECT_EQ(View->ThumbScrollBar->value(), Strip.ViewX());
  EXPECT_EQ(View->ThumbScrollBar->maximum(), Strip.MaxViewX());
  View->ThumbScrollBar->setValue(Strip.MaxViewX());
  EXPECT_EQ(Strip.ViewX(), Strip.MaxViewX());
  View->SBtnQuickLeft->click();
  EXPECT_EQ(Strip.ViewX(), std::max(0, Strip.MaxViewX() - Step));
  // Showing the last file brings its thumbnail into view.
  View->ThumbScrollBar->setValue(0);
  View->ShowLastFile();
  EXPECT_GE(Strip.ImageID(29) + Strip.ThumbWidth(), Strip.ViewX());
  EXPECT_LE(Strip.ImageID(29) + Strip.ThumbWidth(), Strip.ViewX() + Strip.ClientWidth());
}

TEST_F(FolderViewTest, WhenTheShownFileIsDeletedTheNextIsShown) {
  Env.Picture("a.png", 8, 8, Qt::yellow);
  Env.Picture("b.png", 8, 8, Qt::cyan);
  Env.Picture("c.png", 8, 8, Qt::magenta);
  TFolderViewForm* View = Open(Env.File("b.png"));
  ASSERT_EQ(Form.CurrentFileName(), "b.png");
  fs::remove(Env.File("b.png"));
  ASSERT_TRUE(WaitUntil([&] { return Form.CurrentFileName() == "c.png"; }));
  EXPECT_EQ(View->SelectedNames(), std::vector<std::string>{"c.png"});
  EXPECT_EQ(View->ThumbView->SelectedImage(), 1);
  // A file that is not shown goes without changing the picture.
  fs::remove(Env.File("a.png"));
  ASSERT_TRUE(WaitUntil([&] { return View->Names().size() == 1; }));
  EXPECT_EQ(Form.CurrentFileName(), "c.png");
  fs::remove(Env.File("c.png"));
  ASSERT_TRUE(WaitUntil([&] { return !Form.HasImage(); }));
}

TEST_F(FolderViewTest, UndockedIntoItsOwnWindowAndDockedBackAsATab) {
  Env.Picture("a.png");
  Env.Picture("b.png");
  TFolderViewForm* View = Open(Env.Folder());
  const QString Name = QString::fromStdString(View->FolderName());
  ASSERT_EQ(Form.ThumbPageControl->count(), 1);
  EXPECT_FALSE(View->Floating());
  EXPECT_EQ(View->windowTitle(), Name);
  EXPECT_FALSE(View->ImageView->isVisibleTo(View)) << "docked, the film strip shows alone";

  View->ThumbAdvanced1->trigger();
  ASSERT_TRUE(View->Floating());
  EXPECT_TRUE(View->isVisible());
  EXPECT_EQ(View->windowTitle(), QString::fromStdString(Env.Folder()));
  EXPECT_TRUE(View->ImageView->isVisibleTo(View));
  EXPECT_FALSE(View->LargeFilmPanel->isVisibleTo(View));
  EXPECT_TRUE(WaitUntil([&] { return Form.ThumbPageControl->count() == 0; })) << "the emptied tab goes";
  EXPECT_EQ(View->Rows().Count(), 2) << "the same files, now in the details list";

  View->Dock1->trigger();
  EXPECT_FALSE(View->Floating());
  EXPECT_EQ(View->windowTitle(), Name);
  ASSERT_EQ(Form.ThumbPageControl->count(), 1);
  EXPECT_EQ(Form.ThumbPageControl->tabText(0), Name);
  EXPECT_TRUE(View->LargeFilmPanel->isVisibleTo(View));
  EXPECT_FALSE(View->ImageView->isVisibleTo(View));
}
