// Commands of the main window that write work files or hand over to another
// program: where the files go, and what the user hears when nothing can act.
#include "app/aboutdlg.h"
#include "app/emailsizedlg.h"
#include "app/genutil.h"
#include "app/mainform.h"
#include "app/toolbox.h"
#include "apptestenv.h"
#include "controls/kel/kelshapebutton.h"
#include "image/views/rastrumview.h"
#include "platform/fileproperties.h"
#include "platform/openurl.h"
#include "support/fakemailprogram.h"
#include "support/tempfolder.h"

#include <QAction>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest/QTest>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

// A session bus of the test's own on which nothing serves the file
// manager's requests; with no bus daemon installed, no bus at all. Either
// way the file manager is missing, as on a desktop without one. The
// requests go on a connection of the test's own: the process's one
// session-bus connection would stay with the first test's bus, gone with it.
class TBusWithoutFileManager {
public:
  TBusWithoutFileManager()
      : FOld(qgetenv("DBUS_SESSION_BUS_ADDRESS")), FName(QStringLiteral("test-bus-%1").arg(++Made)) {
    platform::FilePropertiesBus = [Name = FName] { return QDBusConnection(Name); };
    const QString Daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QFile Session(QStringLiteral("/usr/share/dbus-1/session.conf"));
    if (Daemon.isEmpty() || !Session.open(QIODevice::ReadOnly)) return;
    // The desktop's own settings, without the services it could start and
    // listening in the test's folder.
    QString Text = QString::fromUtf8(Session.readAll());
    Text.remove(QRegularExpression(QStringLiteral("<standard_session_servicedirs */>|<include[^>]*>[^<]*</include[^>]*>")));
    Text.replace(QRegularExpression(QStringLiteral("<listen>[^<]*</listen>")),
                 QStringLiteral("<listen>unix:dir=%1</listen>").arg(FFolder.QPath()));
    QFile Config(FFolder.QPath() + "/bus.conf");
    Config.open(QIODevice::WriteOnly);
    Config.write(Text.toUtf8());
    Config.close();
    FDaemon.start(Daemon, {"--config-file=" + Config.fileName(), "--print-address", "--nofork"});
    if (!FDaemon.waitForReadyRead(5000)) return;
    const QByteArray Address = FDaemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", Address);
    QDBusConnection::connectToBus(QString::fromUtf8(Address), FName);
  }
  ~TBusWithoutFileManager() {
    platform::FilePropertiesBus = nullptr;
    QDBusConnection::disconnectFromBus(FName);
    FDaemon.kill();
    FDaemon.waitForFinished();
    qputenv("DBUS_SESSION_BUS_ADDRESS", FOld);
  }

private:
  static inline int Made = 0;
  QByteArray FOld;
  QString FName;
  testing_support::TTempFolder FFolder;
  QProcess FDaemon;
};

// The file manager's properties window on that bus: it notes the addresses
// it is asked about and answers at once.
class TFakeFileManager : public QDBusVirtualObject {
public:
  TFakeFileManager() {
    FBus.registerService(QStringLiteral("org.freedesktop.FileManager1"));
    FBus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), this);
  }
  ~TFakeFileManager() override { QDBusConnection::disconnectFromBus(FBus.name()); }
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Connection) override {
    Asked << Message.arguments().value(0).toStringList();
    return Connection.send(Message.createReply());
  }
  QStringList Asked;

private:
  // By the address: the bus library reads the session bus's once per process.
  QDBusConnection FBus = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                                       QStringLiteral("fake-files"));
};

class MainCommandReportsTest : public ::testing::Test {
protected:
  TMainForm& Main() { return apptest::ShownMainForm(Form); }
  void Open(const std::string& Path) {
    Main().OpenPath(Path, false);
    ASSERT_TRUE(WaitUntil([&] { return !Main().PictureLoadPending() && !Main().RastrumView1->TransitionRunning(); }));
  }
  void TriggerItem(const char* Name) {
    QAction* A = Main().findChild<QAction*>(Name);
    ASSERT_TRUE(A) << Name;
    ASSERT_TRUE(A->isEnabled()) << Name;
    A->trigger();
  }

  apptest::TAppEnv Env;
  std::unique_ptr<TMainForm> Form;
};

} // namespace

// The wizard's reduced copies go to the user's data folder; closing the main
// window takes them and their folders away.
TEST_F(MainCommandReportsTest, TheMailWorkFolderIsTheUsersAndGoesWithTheMainWindow) {
  ClearGenUtilCache();
  TEmailSizeDlg Wizard; // made at start-up as the program makes it
  testing_support::TFakeMailProgram Mail;
  // A bitmap of this size is over every limit: it is converted.
  Open(Env.Picture("big.bmp", 640, 480));
  TriggerItem("EmailWizard1");
  ASSERT_TRUE(Wizard.isVisible());
  ASSERT_EQ(Wizard.Paths(), std::vector<std::string>{Env.File("big.bmp")});
  Wizard.SBtnContinue->Click();
  ASSERT_TRUE(WaitUntil([&] { return !Wizard.Sending(); }));
  const QStringList Args = Mail.Arguments();
  const qsizetype Attach = Args.indexOf("--attach");
  ASSERT_GE(Attach, 0) << Args.join(' ').toStdString();
  const fs::path Reduced = Args.value(Attach + 1).toStdString();
  const std::string UserData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
  EXPECT_EQ(Reduced.string().rfind(qgetenv("XDG_DATA_HOME").toStdString() + "/", 0), 0u) << Reduced;
  EXPECT_EQ(Reduced.parent_path().parent_path(), fs::path(UserData) / "pictrovatemp");
  EXPECT_TRUE(fs::is_regular_file(Reduced));

  Main().close();
  EXPECT_FALSE(fs::exists(Reduced));
  EXPECT_FALSE(fs::exists(Reduced.parent_path()));
  EXPECT_FALSE(fs::exists(Reduced.parent_path().parent_path())) << "the empty shared folder stays";
  ClearGenUtilCache();
}

// No file manager: the command returns at once, and the message follows.
TEST_F(MainCommandReportsTest, FilePropertiesWithoutAFileManagerSaysSo) {
  TBusWithoutFileManager Bus;
  Open(Env.Picture("a.png"));
  QElapsedTimer Timer;
  Timer.start();
  TriggerItem("FileProperties1");
  EXPECT_LT(Timer.elapsed(), 1000);
  EXPECT_EQ(Env.HelpShown, 0) << "the window waited for the answer";
  ASSERT_TRUE(WaitUntil([&] { return Env.HelpShown > 0; }, 8000));
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "No file manager can show the properties of this file.");
}

// The file manager is asked about the shown file by its bytes, not about
// the twin whose text it shows as.
TEST_F(MainCommandReportsTest, FilePropertiesNameTheFileByItsBytes) {
  TBusWithoutFileManager Bus;
  TFakeFileManager Manager;
  Env.Picture("caf\xef\xbf\xbd.png");
  Open(Env.Picture("caf\xe9.png"));
  TriggerItem("FileProperties1");
  ASSERT_TRUE(WaitUntil([&] { return !Manager.Asked.isEmpty(); }, 8000));
  EXPECT_EQ(Manager.Asked, QStringList{"file://" + Env.QFolder() + "/caf%E9.png"});
  EXPECT_EQ(Env.HelpShown, 0);
}

TEST_F(MainCommandReportsTest, CheckForUpdatesWithoutAnUpdaterSaysSo) {
  Main();
  TriggerItem("CheckforUpdates1");
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "No updater is installed.");
}

// A size past the library's cap, or of no pixels, is offered and refused
// with the reason; the picture stays as it was, unedited.
TEST_F(MainCommandReportsTest, AResizeItCannotMakeSaysWhyAndKeepsThePicture) {
  TToolBox Box;
  Main().FormsCreated();
  Open(Env.Picture("a.png", 300, 200));
  Main().Execute("ToolBox");
  const QString TooMany = QStringLiteral("that is more pixels than a picture may have.");
  struct TCase {
    bool Percent;
    const char* Width;
    const char* Said;
    QString Why;
  };
  // The height follows; a percentage past what a number holds stays the
  // largest one.
  for (const TCase& c : {TCase{false, "30000", "30000 x 20000", TooMany},
                         TCase{true, "2000000000", "2147483647 x 1431655765", TooMany},
                         TCase{false, "0", "0 x 0", "a picture is at least one pixel wide and high."}}) {
    Box.CmbWidthType->setCurrentIndex(c.Percent ? 1 : 0);
    Box.EditWidth->selectAll();
    QTest::keyClicks(Box.EditWidth, c.Width);
    ASSERT_TRUE(Box.SBtnResize->isEnabled()) << c.Width;
    const int Before = Env.HelpShown;
    Box.SBtnResize->Click();
    EXPECT_EQ(Env.HelpShown, Before + 1);
    EXPECT_EQ(Env.LastHelpText, QStringLiteral("The picture cannot be resized to %1 pixels: %2").arg(c.Said, c.Why));
    EXPECT_EQ(Main().RastrumView1->GetBitmap()->Width(), 300);
    EXPECT_EQ(Main().RastrumView1->GetBitmap()->Height(), 200);
    EXPECT_FALSE(Main().IsImageModified());
    EXPECT_FALSE(Box.SBtnSave->isEnabled());
  }
}

// The desktop's opener finds nothing to show the web page with: the window
// goes on and says so; an opener that did its work is not questioned. The
// test program has no keyboard guide beside it.
TEST_F(MainCommandReportsTest, HelpPagesNothingCanOpenAreToldOf) {
  testing_support::TFakeProgram Opener(QStringLiteral("xdg-open"));
  // The window hears the opener's end as it ends.
  const auto OpenerEnded = [&] { return platform::RunningOpeners() == 0 && Opener.Ran(); };
  TriggerItem("VisitWebsite1");
  ASSERT_TRUE(WaitUntil(OpenerEnded));
  EXPECT_EQ(Opener.Arguments(), QStringList{"https://pictrova.halvenworth.example/"});
  EXPECT_EQ(Env.HelpShown, 0);

  Opener.SetExitCode(3); // xdg-open: no program for it
  TriggerItem("VisitWebsite1");
  ASSERT_TRUE(WaitUntil([&] { return Env.HelpShown > 0; }));
  EXPECT_EQ(Env.LastHelpText, "No program could open https://pictrova.halvenworth.example/.");

  TriggerItem("KeyboardShortcutGuide1");
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Env.LastHelpText, "No keyboard guide is installed.");

  // The About box's link alike, to the same page.
  TAboutDlg About;
  const QString Link = About.findChild<QLabel*>("LblWeb")->text();
  const QString Href = QRegularExpression(QStringLiteral("href=\"([^\"]*)\"")).match(Link).captured(1);
  EXPECT_EQ(Href, "https://pictrova.halvenworth.example/");
  EXPECT_TRUE(Link.contains(QStringLiteral(">pictrova.halvenworth.example<"))) << Link.toStdString();
  emit About.findChild<QLabel*>("LblWeb")->linkActivated(Href);
  ASSERT_TRUE(WaitUntil([&] { return Env.HelpShown > 2; }));
  EXPECT_EQ(Env.LastHelpText, "No program could open https://pictrova.halvenworth.example/.");
}

// Where xdg-open finds no desktop, it runs the program itself and ends when
// the user closes that program, with that program's failure as its own: an
// end after the answer time is no failure to open. The opener outlives the
// window that asked, and is collected when it ends.
TEST_F(MainCommandReportsTest, AnOpenerOutlivesItsWindowAndItsLateEndIsNoFailure) {
  testing_support::TFakeProgram Opener(QStringLiteral("xdg-open"), 4);
  Opener.Hold();
  auto About = std::make_unique<TAboutDlg>();
  emit About->findChild<QLabel*>("LblWeb")->linkActivated(AboutWebPage);
  ASSERT_TRUE(WaitUntil([&] { return Opener.Ran(); }));
  const pid_t First = static_cast<pid_t>(Opener.Pid());
  About.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(::kill(First, 0), 0);
  EXPECT_EQ(platform::RunningOpeners(), 1);

  platform::SetOpenerAnswerTime(std::chrono::milliseconds(0));
  TriggerItem("VisitWebsite1");
  ASSERT_TRUE(WaitUntil([&] { return Opener.Pid() != First && Opener.Ran(); }));
  QCoreApplication::processEvents(); // the answer time is over
  platform::SetOpenerAnswerTime(std::chrono::seconds(5));
  Opener.Release();
  ASSERT_TRUE(WaitUntil([&] { return platform::RunningOpeners() == 0; }));
  EXPECT_EQ(::kill(First, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(Env.HelpShown, 0);
}
