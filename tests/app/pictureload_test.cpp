// The shown picture is read on a worker: what the window shows and asks
// before and after the read ends, and what a newer request, a command or
// the window's end do to a read still running.
#include "app/folderview.h"
#include "app/helpdlg.h"
#include "app/mainform.h"
#include "apptestenv.h"
#include "mainwindowhost.h"
#include "image/model/rvmask.h"
#include "image/views/rastrumview.h"

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <malloc.h>

#include "support/gatedreads.h"
#include "support/heldbytes.h"

using namespace app;
using apptest::WaitUntil;
using testsupport::HeldBytes;
namespace fs = std::filesystem;

namespace {

class PictureLoadTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  // The colour at the centre of the picture as the view shows it.
  QRgb Centre() {
    rv::TRastrumView& V = *Form().RastrumView1;
    const QImage Screen = V.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return Screen.pixel(V.OffsetX() + V.DrawWidth() / 2, V.OffsetY() + V.DrawHeight() / 2);
  }
  // Serves events for Ms: time for a late report to arrive.
  void Pump(int Ms) { WaitUntil([] { return false; }, Ms); }
  void Settled() {
    Loaded();
    ASSERT_TRUE(WaitUntil([&] { return !Form().RastrumView1->TransitionRunning(); }));
  }
};

} // namespace

TEST_F(PictureLoadTest, APictureTooLargeIsNotCalledDamaged) {
  Env.Picture("a.png");
  apptest::WriteLargePng(Env.File("b.png"), 20000, 20000);
  Env.Picture("c.png", 30, 20, Qt::cyan);
  std::ofstream(Env.File("d.png")) << "not a picture at all";
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  // The only answer to a picture too large goes on to the next; the file
  // stays.
  Env.HelpAnswer = 1;
  View->SelectAndShowFile("b.png");
  Settled();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "The following error occured while attempting to open \"b.png\":");
  EXPECT_EQ(Env.LastHelpDetail, "The picture is too large to open (20000 x 20000 pixels).");
  EXPECT_EQ(Env.LastHelpButtons, QStringList({"OK"}));
  EXPECT_TRUE(fs::exists(Env.File("b.png")));
  EXPECT_EQ(Form().CurrentFileName(), "c.png");
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 30);

  // A damaged file is still called so, and offered for deletion.
  Env.HelpAnswer = 2; // skip
  View->SelectAndShowFile("d.png");
  Settled();
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Env.LastHelpDetail, "The file is damaged or not in a format that can be read.");
  EXPECT_EQ(Env.LastHelpButtons, QStringList({"Delete", "Skip"}));
}

TEST_F(PictureLoadTest, ThePictureComesWhenItsReadEnds) {
  Env.Picture("a.png", 64, 48, Qt::yellow);
  Env.Picture("b.png", 80, 40, Qt::cyan);
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  View->SelectAndShowFile("b.png");
  // Until the end of the read is handled the old picture stays, under the
  // wait cursor.
  EXPECT_TRUE(Form().PictureLoadPending());
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 64);
  EXPECT_EQ(Centre(), qRgb(255, 255, 0));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Settled();
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 80);
  EXPECT_EQ(Centre(), qRgb(0, 255, 255));
  EXPECT_EQ(Form().StatusPanelText(0), "b.png (80x40)");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(PictureLoadTest, TransparencyArrivesWithThePicture) {
  QImage Picture(20, 10, QImage::Format_ARGB32);
  Picture.fill(qRgba(255, 0, 0, 255));
  for (int X = 0; X < 10; ++X)
    for (int Y = 0; Y < 10; ++Y) Picture.setPixel(X, Y, qRgba(0, 0, 255, 0));
  ASSERT_TRUE(Picture.save(QString::fromStdString(Env.File("alpha.png"))));
  Env.Picture("plain.png");
  Show(Env.File("alpha.png"));
  rv::TRastrumView& V = *Form().RastrumView1;
  ASSERT_TRUE(V.HasAlphaChannel());
  EXPECT_EQ(V.GetAlphaChannel()->Width(), 20);
  EXPECT_EQ(V.GetAlphaChannel()->GetPixel(2, 5), 0);
  EXPECT_EQ(V.GetAlphaChannel()->GetPixel(15, 5), 255);
  // A picture without transparency keeps nothing of the mask before.
  Show(Env.File("plain.png"));
  EXPECT_TRUE(!V.HasAlphaChannel() || V.GetAlphaChannel()->GetPixel(2, 5) == 255);
}

TEST_F(PictureLoadTest, ANewerRequestWinsOverARunningRead) {
  Env.Picture("a.png", 64, 48, Qt::yellow);
  // A large damaged file: its read runs a while and then fails.
  Env.Picture("b.png", 1600, 1600, Qt::red);
  fs::resize_file(Env.File("b.png"), fs::file_size(Env.File("b.png")) / 2);
  Env.Picture("c.png", 50, 30, Qt::cyan);
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  View->SelectAndShowFile("b.png");
  View->SelectAndShowFile("c.png");
  Settled();
  // The dropped read neither shows its picture nor asks about its error.
  Pump(300);
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(Form().CurrentFileName(), "c.png");
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 50);
  EXPECT_EQ(Centre(), qRgb(0, 255, 255));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(PictureLoadTest, ADamagedAndAVanishedFileAskOnceEach) {
  Env.Picture("a.png");
  std::ofstream(Env.File("b.png")) << "not a picture at all";
  Env.Picture("c.png");
  Env.Picture("d.png");
  Env.Picture("e.png", 30, 20, Qt::cyan);
  Show(Env.File("a.png"));
  TFolderViewForm* View = Form().CurrentFolderView();
  Env.HelpAnswer = 2; // skip
  View->SelectAndShowFile("b.png");
  Settled();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "The following error occured while attempting to open \"b.png\":");
  EXPECT_EQ(Form().CurrentFileName(), "c.png");

  // Gone before its read: asked at once, and the step goes on to the next.
  fs::remove(Env.File("d.png"));
  View->SelectAndShowFile("d.png");
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Env.LastHelpText, "The following error occured while attempting to open \"d.png\":");
  Settled();
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Form().CurrentFileName(), "e.png");
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 30);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(PictureLoadTest, ACommandActsOnThePictureAskedForLast) {
  Env.Picture("a.png", 64, 48, Qt::yellow);
  Env.Picture("b.png", 80, 40, Qt::cyan);
  Show(Env.File("a.png"));
  Form().CurrentFolderView()->SelectAndShowFile("b.png");
  ASSERT_TRUE(Form().PictureLoadPending());
  Form().Execute("RotateCW");
  EXPECT_FALSE(Form().PictureLoadPending());
  EXPECT_EQ(Form().CurrentFileName(), "b.png");
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 40);
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Height(), 80);
  EXPECT_TRUE(Form().IsImageModified());
  // The end of the read that was finished early changes nothing.
  Settled();
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 40);
  EXPECT_TRUE(Form().IsImageModified());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A command while a slow read runs (held at the gate) waits for it with
// the window answering, under the wait cursor: a timer fires meanwhile, and
// lets the read go on. The command then acts on the picture read.
TEST_F(PictureLoadTest, ACommandWaitsForASlowReadWithTheWindowAnswering) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  Reads.Reset();
  Env.Picture("a.png", 64, 48, Qt::yellow);
  testsupport::TGatedReads::Write(Env.File("b.gate"), 0x00FFFF, 40, 30);
  Show(Env.File("a.png"));
  Reads.Close();
  Form().CurrentFolderView()->SelectAndShowFile("b.gate");
  // The picture's read: its thumbnail was read with the folder.
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 1; }));
  // A close (the session's end) that comes meanwhile waits for the command.
  bool Served = false, Waiting = false, Closed = true;
  QTimer::singleShot(0, &Form(), [&] {
    Served = Reads.Held == 1;
    Waiting = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    Closed = Form().close();
    Reads.Open();
  });
  Form().Execute("RotateCW");
  EXPECT_TRUE(Served);
  EXPECT_TRUE(Waiting);
  EXPECT_FALSE(Closed);
  EXPECT_TRUE(Form().isVisible());
  EXPECT_FALSE(Form().Closing());
  EXPECT_FALSE(Form().PictureLoadPending());
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 30);
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Height(), 40);
  EXPECT_EQ(Reads.OnWindow, 0);
  // Then it runs, and asks about the turn the command made.
  int Asked = 0;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    Asked += D.AsksAboutEdit();
    D.done(3);
  };
  ASSERT_TRUE(WaitUntil([&] { return !Form().isVisible(); }));
  EXPECT_EQ(Asked, 1);
}

// Reload of a picture whose folder is not the current tab reads it from its
// own path: on a worker too, the window answering meanwhile.
TEST_F(PictureLoadTest, AReloadOutsideTheCurrentFolderReadsOffTheWindowsThread) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  fs::create_directory(Env.File("one"));
  fs::create_directory(Env.File("two"));
  testsupport::TGatedReads::Write(Env.File("one/a.gate"), 0x00FFFF, 40, 30);
  apptest::MarkedPicture(64, 48, Qt::yellow).save(QString::fromStdString(Env.File("two/b.png")));
  Show(Env.File("two/b.png"));
  TFolderViewForm* Two = Form().CurrentFolderView();
  Show(Env.File("one/a.gate"));
  Settled();
  Form().ThumbPageControl->setCurrentWidget(Two->parentWidget());
  ASSERT_EQ(Form().CurrentFolderView(), Two);
  Reads.Reset();
  Reads.Close();
  testsupport::TGatedReads::Write(Env.File("one/a.gate"), 0xFF00FF, 30, 20);
  // The window's timers run while the read waits at the gate.
  bool Served = false;
  QTimer Tick;
  QObject::connect(&Tick, &QTimer::timeout, [&] {
    if (Reads.Held != 1) return;
    Served = true;
    Reads.Open();
  });
  Tick.start(5);
  Form().ReloadImage();
  Tick.stop();
  EXPECT_TRUE(Served);
  EXPECT_EQ(Reads.OnWindow, 0);
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 30);
  EXPECT_EQ(Form().CurrentFilePath(), QString::fromStdString(Env.File("one/a.gate")));
  EXPECT_EQ(Env.HelpShown, 0);
}

// A picture handed over by a second start and slow to read (held at the
// gate), in the shown picture's folder, in a folder open in another tab or
// in a new tab: the title and the status name the picture on the screen
// until the new one shows.
TEST_F(PictureLoadTest, AHandOffKeepsTheShownNamesUntilItsPictureComes) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  for (const char* Folder : {"one", "two", "three"}) fs::create_directory(Env.File(Folder));
  const std::string Shown = Env.Picture("one/a.png", 64, 48, Qt::yellow);
  const char* const Slows[] = {"one/c.gate", "two/d.gate", "three/e.gate"};
  for (const char* Slow : Slows) testsupport::TGatedReads::Write(Env.File(Slow), 0x00FFFF, 40, 30);
  Show(Env.Picture("two/b.png", 64, 48, Qt::cyan));
  for (const char* Slow : Slows) {
    const std::string Path = Env.File(Slow);
    Show(Shown);
    const QString Title = Form().windowTitle();
    ASSERT_EQ(Form().StatusPanelText(0), "a.png (64x48)");
    Reads.Reset();
    Reads.Close();
    Form().Ptv_MainExecuteMacro({Path});
    ASSERT_TRUE(WaitUntil([&] { return Reads.Held > 0; }));
    Pump(50);
    EXPECT_TRUE(Form().PictureLoadPending());
    EXPECT_EQ(Form().windowTitle(), Title) << Slow;
    EXPECT_EQ(Form().StatusPanelText(0), "a.png (64x48)") << Slow;
    Reads.Open();
    Settled();
    EXPECT_EQ(Form().windowTitle(), "Pictrova - " + QString::fromStdString(Path));
    EXPECT_EQ(Form().StatusPanelText(0), QString::fromStdString(Path.substr(Path.rfind('/') + 1)) + " (40x30)");
  }
}

TEST_F(PictureLoadTest, ACommandRightAfterTheSwapFindsTheNewPicturesState) {
  Env.Picture("a.png", 64, 48, Qt::yellow);
  Env.Picture("b.png", 80, 40, Qt::cyan);
  Show(Env.File("a.png"));
  rv::TRastrumView& View = *Form().RastrumView1;
  // A call queued from the swap runs before the rest of the hand-over.
  bool Ran = false;
  const auto Own = View.OnImageChange;
  View.OnImageChange = [&](void* Sender) {
    Own(Sender);
    if (View.GetBitmap()->Width() != 80 || Ran) return;
    QMetaObject::invokeMethod(
        &View,
        [&] {
          Ran = true;
          EXPECT_TRUE(Form().PictureLoadPending());
          Form().FinishPendingLoad();
          EXPECT_FALSE(Form().PictureLoadPending());
          EXPECT_EQ(Form().StatusPanelText(0), "b.png (80x40)");
          EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        },
        Qt::QueuedConnection);
  };
  Form().CurrentFolderView()->SelectAndShowFile("b.png");
  Settled();
  View.OnImageChange = Own;
  EXPECT_TRUE(Ran);
  EXPECT_EQ(Form().StatusPanelText(0), "b.png (80x40)");
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(PictureLoadTest, TheWindowEndsDuringARead) {
  Env.Picture("a.png", 64, 48, Qt::yellow);
  Env.Picture("b.png", 80, 40, Qt::cyan);
  Show(Env.File("a.png"));
  // Closing shows the picture asked for, then goes.
  Form().CurrentFolderView()->SelectAndShowFile("b.png");
  Form().close();
  EXPECT_FALSE(Form().PictureLoadPending());
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 80);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  FForm.reset();

  // Freed with a read running: the read is dropped with the window.
  Show(Env.File("a.png"));
  Form().CurrentFolderView()->SelectAndShowFile("b.png");
  ASSERT_TRUE(Form().PictureLoadPending());
  FForm.reset();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  Pump(100);
}

// A key held down: the window takes the keys of a batch one after another
// and hears of the reads' ends only after them. A dropped read keeps no
// picture meanwhile, and once shown, the pictures freed go back to the
// system: the C library's heaps keep none of them.
TEST_F(PictureLoadTest, AWalkFasterThanTheReadsKeepsNoPictureBehind) {
  constexpr int Pictures = 8, Steps = 40;
  constexpr std::size_t Picture = 2048 * 1536 * 3;
  for (int I = 0; I < Pictures; ++I)
    Env.Picture(QStringLiteral("p%1.jpg").arg(I).toStdString(), 2048, 1536, QColor::fromHsv(I * 45, 255, 255));
  Show(Env.File("p0.jpg"));
  const std::size_t Before = HeldBytes();
  for (int Step = 0; Step < Steps; ++Step) {
    Form().NextImage();
    QThread::msleep(5);
  }
  // No events: what the dropped reads hold goes as each ends. Measured once
  // every worker has ended: a read the system starts late holds its picture
  // while it runs.
  QElapsedTimer Clock;
  Clock.start();
  while (Form().PictureReadsRunning() && Clock.elapsed() < 20000) QThread::msleep(10);
  ASSERT_FALSE(Form().PictureReadsRunning());
  EXPECT_LE(HeldBytes(), Before + 3 * Picture);
  Settled();
  EXPECT_EQ(Form().CurrentFileName(), QStringLiteral("p%1.jpg").arg(Steps % Pictures));
  EXPECT_LT(mallinfo2().fordblks, 2 * Picture);
}
