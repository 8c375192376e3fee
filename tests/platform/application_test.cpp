#include "platform/application.h"
#include "platform/shfileopask.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QWindow>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <pthread.h>
#include <vector>
#include <stdexcept>
#include <thread>

using namespace platform;

TEST(ApplicationErrors, AnExceptionFromAnEventReachesTheHandler) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QString seen;
  app->OnException = [&](std::exception_ptr e) { seen = TApplication::ExceptionMessage(e); };
  QObject target;
  QTimer::singleShot(0, &target, [] { throw std::runtime_error("Disk full"); });
  for (int i = 0; i < 20 && seen.isEmpty(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  app->OnException = nullptr;
  EXPECT_EQ(seen, "Disk full");
}

TEST(ApplicationErrors, ExceptionMessageOfAnyType) {
  EXPECT_EQ(TApplication::ExceptionMessage(std::make_exception_ptr(42)), "Unknown error");
}

TEST(ApplicationErrors, AnAbortIsSilent) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  bool called = false;
  app->OnException = [&](std::exception_ptr) { called = true; };
  app->HandleException(std::make_exception_ptr(EAbort()));
  app->OnException = nullptr;
  EXPECT_FALSE(called);
}

namespace {

bool BlockedHere(int Signo) {
  sigset_t Mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &Mask);
  return sigismember(&Mask, Signo) == 1;
}

// The termination signals a process's status lists as blocked (bits 1, 2
// and 15 of SigBlk), from its status text.
unsigned TerminationBlocked(const QString& Status) {
  for (const QString& Line : Status.split('\n'))
    if (Line.startsWith("SigBlk:")) return Line.mid(7).trimmed().toULongLong(nullptr, 16) & 0x4003u;
  return ~0u;
}

} // namespace

// The session's signals reach the event loop, not the handler's context; the
// second of a kind is the system's again.
TEST(TerminationSignals, ArriveThroughTheEventLoopOnce) {
  std::vector<int> seen;
  const auto arrived = [&](std::size_t Count) {
    for (int i = 0; i < 50 && seen.size() < Count; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return seen.size();
  };
  {
    TTerminationSignals ending([&](int signo) { seen.push_back(signo); });
    ASSERT_TRUE(ending.Installed());
    ::raise(SIGTERM);
    EXPECT_TRUE(seen.empty()); // nothing runs inside the handler
    EXPECT_EQ(arrived(1), 1u);
    ::raise(SIGHUP);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(arrived(2), 2u);
    EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGHUP}));
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    EXPECT_FALSE(BlockedHere(SIGTERM));
    // Not seen yet: still the object's.
    EXPECT_TRUE(BlockedHere(SIGINT));
  }
  struct sigaction after {};
  ::sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL);
  EXPECT_FALSE(BlockedHere(SIGINT));
}

// A library that sets a termination signal back to its default action (a
// scanner backend's reader thread does) does not decide the program's end:
// the signal still arrives through the event loop. The threads started
// meanwhile have the signals blocked; the programs started have them
// unblocked.
TEST(TerminationSignals, OutliveAResetHandlerAndSpareChildren) {
  std::vector<int> seen;
  TTerminationSignals ending([&](int signo) { seen.push_back(signo); });
  ASSERT_TRUE(ending.Installed());
  bool threadBlocked = false;
  std::thread([&] {
    threadBlocked = BlockedHere(SIGTERM) && BlockedHere(SIGHUP) && BlockedHere(SIGINT);
    struct sigaction reset {};
    reset.sa_handler = SIG_DFL;
    ::sigaction(SIGTERM, &reset, nullptr);
  }).join();
  EXPECT_TRUE(threadBlocked);
  ::raise(SIGTERM);
  for (int i = 0; i < 50 && seen.empty(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(seen, std::vector<int>{SIGTERM});

  ASSERT_TRUE(BlockedHere(SIGHUP) && BlockedHere(SIGINT));
  QProcess child;
  UnblockTerminationSignalsInChild(child);
  child.start("grep", {"SigBlk", "/proc/self/status"});
  ASSERT_TRUE(child.waitForFinished(10000));
  EXPECT_EQ(TerminationBlocked(QString::fromLatin1(child.readAllStandardOutput())), 0u);
}

// Read from the start, before anything takes them (the program's start-up
// before its main window is up): a signal ends the process as it would
// unblocked.
TEST(TerminationSignalsDeathTest, WithoutAHandlerEndTheProcessAsByDefault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int Signo : {SIGTERM, SIGHUP, SIGINT}) {
    // One the starter ignores (a background job's interrupt) stays ignored.
    struct sigaction Now {};
    if (::sigaction(Signo, nullptr, &Now) == 0 && Now.sa_handler == SIG_IGN) continue;
    EXPECT_EXIT(
        {
          TTerminationSignals Ending;
          ::raise(Signo);
          for (int I = 0; I < 100; ++I) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
          std::exit(0);
        },
        testing::KilledBySignal(Signo), "")
        << Signo;
  }
}

TEST(DialogOwnerOf, TheTopmostModalWindowComesFirst) {
  QWidget main;
  QLineEdit field(&main);
  EXPECT_EQ(DialogOwner(&field), &main);
  QDialog dialog(&main);
  dialog.setModal(true);
  dialog.show();
  EXPECT_EQ(DialogOwner(&field), &dialog);
  EXPECT_EQ(DialogOwner(), &dialog);
  dialog.hide();
  EXPECT_EQ(DialogOwner(&field), &main);
}

// A palette or a modeless dialog is no owner: its message belongs to the
// window it serves, also when it is the active window.
TEST(DialogOwnerOf, AToolWindowGivesWayToTheWindowItServes) {
  QWidget main;
  QWidget palette(&main, Qt::Tool);
  QLineEdit field(&palette);
  main.show();
  palette.show();
  EXPECT_EQ(DialogOwner(&field), &main);
  QApplication::setActiveWindow(&palette);
  EXPECT_EQ(DialogOwner(), &main);
  // A palette of no window leaves the choice to the main window or nothing.
  QWidget orphan(nullptr, Qt::Tool);
  QLineEdit orphanField(&orphan);
  EXPECT_NE(DialogOwner(&orphanField), &orphan);
  // So does a modeless dialog; a modal one is the owner itself.
  QDialog wizard(&main);
  QLineEdit wizardField(&wizard);
  wizard.show();
  EXPECT_EQ(DialogOwner(&wizardField), &main);
  QApplication::setActiveWindow(&wizard);
  EXPECT_EQ(DialogOwner(), &main);
  wizard.hide();
  wizard.setModal(true);
  wizard.show();
  EXPECT_EQ(DialogOwner(&wizardField), &wizard);
  EXPECT_EQ(DialogOwner(&field), &wizard);
}

TEST(ApplicationErrors, GuardedWorkHandsItsExceptionToTheHandler) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QStringList seen;
  app->OnException = [&](std::exception_ptr e) { seen << TApplication::ExceptionMessage(e); };
  bool ran = false;
  EXPECT_NO_THROW(TApplication::Guarded([&] { ran = true; }));
  EXPECT_NO_THROW(TApplication::Guarded([] { throw std::runtime_error("Folder gone"); }));
  EXPECT_NO_THROW(TApplication::Guarded([] { throw EAbort(); }));
  app->OnException = nullptr;
  EXPECT_TRUE(ran);
  EXPECT_EQ(seen, QStringList{"Folder gone"});
}

// Shown through the application object, a modeless dialog of no window
// belongs to the main window, a window modal to the whole program to no
// window under X11 (a window manager stacks that over all of ours, palettes
// included) and elsewhere to the topmost modal window or the window it
// serves, and a window-modal one to the window it blocks. Qt reports the
// tests' platform as "offscreen": not X11, as Wayland is not.
TEST(PlaceOverOwnerOf, ModelessDialogsBelongToTheMainWindowModalOnesToTheProgram) {
  ASSERT_NE(QGuiApplication::platformName(), "xcb");
  // Placed for Qt's platform when shown, then again as under X11.
  const auto owners = [](QDialog& dialog) {
    std::vector<QWindow*> seen{dialog.windowHandle()->transientParent()};
    PlaceOverOwner(dialog, "xcb");
    seen.push_back(dialog.windowHandle()->transientParent());
    return seen;
  };
  QMainWindow main;
  main.show();
  QDialog wizard;
  wizard.show();
  ASSERT_NE(wizard.windowHandle(), nullptr);
  EXPECT_EQ(wizard.windowHandle()->transientParent(), main.windowHandle());
  QDialog question(&main);
  question.setModal(true);
  question.show();
  QWindow* const mainWindow = main.windowHandle();
  EXPECT_EQ(owners(question), (std::vector<QWindow*>{mainWindow, nullptr}));
  // Over another modal window, and from a window under it, all the same
  // under X11; elsewhere over the modal window.
  QDialog results;
  results.setModal(true);
  results.show();
  QWindow* const questionWindow = question.windowHandle();
  EXPECT_EQ(owners(results), (std::vector<QWindow*>{questionWindow, nullptr}));
  QDialog late(&wizard);
  late.setModal(true);
  late.show();
  QWindow* const resultsWindow = results.windowHandle();
  EXPECT_EQ(owners(late), (std::vector<QWindow*>{resultsWindow, nullptr}));
  late.hide();
  results.hide();
  question.hide();
  QDialog progress(&main);
  progress.setWindowModality(Qt::WindowModal);
  progress.show();
  EXPECT_EQ(owners(progress), (std::vector<QWindow*>{mainWindow, mainWindow}));
  progress.hide();
  // A palette with a parent keeps the window it serves.
  QWidget palette(&main, Qt::Tool);
  palette.show();
  EXPECT_EQ(palette.windowHandle()->transientParent(), main.windowHandle());
}

TEST(ApplicationTitle, NamesTheWindowsThatHaveNoCaptionOfTheirOwn) {
  auto& app = static_cast<TApplication&>(*QCoreApplication::instance());
  const QString before = app.Title();
  app.SetTitle(QStringLiteral("Pictrova 3"));
  // The file operations' question comes with no caption from the folder views.
  QString asked;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    asked = box->windowTitle();
    box->close();
  });
  AskFileOpConfirm(nullptr, std::string(), TFileOpConfirm::Delete, "/tmp/a.png", std::string(), true, false);
  EXPECT_EQ(asked, QStringLiteral("Pictrova 3"));
  // A caption of its own stays; a menu's pop-up gets none.
  QDialog named;
  named.setWindowTitle(QStringLiteral("Rename Image File"));
  named.show();
  EXPECT_EQ(named.windowTitle(), QStringLiteral("Rename Image File"));
  QWidget popup(nullptr, Qt::Popup);
  popup.show();
  EXPECT_TRUE(popup.windowTitle().isEmpty());
  app.SetTitle(before);
}
