// The main window's wallpaper, print and scanner commands: the wallpaper
// through gsettings on a key file of the test's own, the prints into a PDF,
// the scanner on SANE's test device.
#include "app/mainform.h"
#include "app/mainsystem.h"
#include "app/saveasform.h"
#include "apptestenv.h"
#include "mainwindowhost.h"
#include "image/io/rastrumio.h"
#include "image/io/twain/rvtwainparams.h"
#include "image/views/rastrumview.h"
#include "image/views/rvprnforms.h"
#include "platform/registry.h"
#include "platform/twainsane.h"
#include "shell/shelltestenv.h"
#include "shell/sxshelllist.h"
#include "support/filesizelimit.h"
#include "support/sanetestenv.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QListWidget>
#include <QThread>
#include <QTimer>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <atomic>
#include <condition_variable>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sane/sane.h>
#include <tuple>

using namespace app;
namespace fs = std::filesystem;

namespace {

class MainSystemTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  MainSystemTest() {
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("XDG_CONFIG_HOME", Config.QPath().toUtf8());
    WallpaperScreenSize = [] { return QSize(1024, 768); };
  }
  ~MainSystemTest() override {
    WallpaperScreenSize = nullptr;
    SystemDialogAnswer = nullptr;
    qunsetenv("GSETTINGS_BACKEND");
    qunsetenv("XDG_CONFIG_HOME");
  }
  static QString Background(const char* Key) {
    QProcess P;
    P.start("gsettings", {"get", "org.gnome.desktop.background", Key});
    P.waitForFinished(10000);
    return QString::fromUtf8(P.readAllStandardOutput()).trimmed();
  }
  // The program's printer, printing to the PDF file Pdf.
  static QPrinter& PrinterToPdf(const QString& Pdf) {
    QPrinter& Printer = rv::RvPrinter();
    Printer.setOutputFormat(QPrinter::PdfFormat);
    Printer.setOutputFileName(Pdf);
    return Printer;
  }
  // Where the program keeps its own files.
  static QString DataFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }

  testing_support::TTempFolder Config;
};

// ---- Wallpaper

TEST_F(MainSystemTest, WallpaperIsABitmapOfItsOwnSizeNamedInTheDesktopSettings) {
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  Form().SetAsDesktopWallpaper();
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpText.toStdString();
  const QString Target = DataFolder() + "/a.bmp";
  const QImage Written(Target, "BMP");
  ASSERT_EQ(Written.size(), QSize(64, 48));
  EXPECT_EQ(Written.pixel(2, 2), qRgb(255, 0, 0));
  EXPECT_EQ(Written.pixel(61, 45), qRgb(255, 255, 255));
  const QString Uri = "'file://" + Target + "'";
  EXPECT_EQ(Background("picture-uri"), Uri);
  EXPECT_EQ(Background("picture-uri-dark"), Uri);
  EXPECT_EQ(Background("picture-options"), "'centered'");
  platform::TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKeyReadOnly("\\Control Panel\\Desktop"));
  EXPECT_EQ(Reg.ReadString("TileWallpaper"), "0");
  EXPECT_EQ(Reg.ReadString("WallpaperStyle"), "0");
}

TEST_F(MainSystemTest, WallpaperWiderThanTheScreenShrinksToItsWidth) {
  Env.Picture("wide.png", 4000, 1000);
  Show(Env.File("wide.png"));
  Form().SetAsDesktopWallpaper();
  const QImage Written(DataFolder() + "/wide.bmp", "BMP");
  EXPECT_EQ(Written.size(), QSize(1024, 256));
  // The shown picture keeps its size and its state.
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 4000);
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_EQ(WallpaperScale(4000, 1000, QSize(1024, 768)), 0.256);
  EXPECT_EQ(WallpaperScale(1000, 4000, QSize(1024, 768)), 0.192);
  EXPECT_EQ(WallpaperScale(1024, 768, QSize(1024, 768)), 1);
}

TEST_F(MainSystemTest, WallpaperReplacesOnlyTheProgramsOwnFile) {
  fs::create_directory(Env.File("one"));
  fs::create_directory(Env.File("two"));
  apptest::MarkedPicture(40, 30).save(QString::fromStdString(Env.File("one/a.jpg")), nullptr, 100);
  apptest::MarkedPicture(20, 10).save(QString::fromStdString(Env.File("two/a.jpg")), nullptr, 100);
  Show(Env.File("one/a.jpg"));
  Form().SetAsDesktopWallpaper();
  const QString Target = DataFolder() + "/a.bmp";
  EXPECT_EQ(QImage(Target, "BMP").size(), QSize(40, 30));
  Show(Env.File("two/a.jpg"));
  Form().SetAsDesktopWallpaper();
  EXPECT_EQ(QImage(Target, "BMP").size(), QSize(20, 10));
  EXPECT_EQ(Env.HelpShown, 0);

  // A link put in its place is replaced, not what it points to.
  const std::string Outside = Env.File("precious.txt");
  std::ofstream(Outside) << "keep";
  fs::remove(Target.toStdString());
  fs::create_symlink(Outside, Target.toStdString());
  Form().SetAsDesktopWallpaper();
  EXPECT_FALSE(fs::is_symlink(Target.toStdString()));
  EXPECT_EQ(QImage(Target, "BMP").size(), QSize(20, 10));
  std::ifstream In(Outside);
  std::string Text;
  In >> Text;
  EXPECT_EQ(Text, "keep");
  EXPECT_EQ(WallpaperPath("/data", "../../etc/x.y.jpg"), "/data/x.y.bmp");
  EXPECT_EQ(WallpaperPath("/data/", "noext"), "/data/noext.bmp");
}

// A picture whose name is no UTF-8 and its twin (whose text it shows as)
// each get a wallpaper of their own name, named in the settings by its bytes.
TEST_F(MainSystemTest, WallpapersOfTwinsKeepTheirNamesBytes) {
  const std::pair<std::string, const char*> Pictures[] = {{"caf\xe9.png", "caf%E9.bmp"},
                                                          {"caf\xef\xbf\xbd.png", "caf%EF%BF%BD.bmp"}};
  for (const auto& [Name, Encoded] : Pictures) Env.Picture(Name, static_cast<int>(Name.size()) * 4, 10);
  for (const auto& [Name, Encoded] : Pictures) {
    Show(Env.File(Name));
    Form().SetAsDesktopWallpaper();
    EXPECT_EQ(Background("picture-uri"), "'file://" + DataFolder() + "/" + Encoded + "'");
  }
  EXPECT_EQ(apptest::LoadPicture(DataFolder().toStdString() + "/caf\xe9.bmp").width(), 32);
  EXPECT_EQ(apptest::LoadPicture(DataFolder().toStdString() + "/caf\xef\xbf\xbd.bmp").width(), 40);
  EXPECT_EQ(Env.HelpShown, 0);
}

TEST_F(MainSystemTest, WallpaperWithoutGsettingsSaysSo) {
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  const QByteArray Path = qgetenv("PATH");
  qputenv("PATH", Config.QPath().toUtf8());
  Form().SetAsDesktopWallpaper();
  qputenv("PATH", Path);
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpCaption, "Error");
  EXPECT_EQ(Env.LastHelpText, "The desktop wallpaper could not be set: the program gsettings was not found.");

  // A refusal of the tool is passed on in its own words.
  qputenv("XDG_DATA_DIRS", Config.QPath().toUtf8());
  qputenv("GSETTINGS_SCHEMA_DIR", Config.QPath().toUtf8());
  Form().SetAsDesktopWallpaper();
  qunsetenv("GSETTINGS_SCHEMA_DIR");
  qunsetenv("XDG_DATA_DIRS");
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_TRUE(Env.LastHelpText.startsWith("The desktop wallpaper could not be set: ")) << Env.LastHelpText.toStdString();
  EXPECT_TRUE(Env.LastHelpText.endsWith("No schemas installed")) << Env.LastHelpText.toStdString();
}

// ---- Printing

TEST_F(MainSystemTest, PrintWindowsAreMadeOnceCaptionedAndPrint) {
  testing_support::TTempFolder Out;
  const QString Pdf = Out.QPath() + "/page.pdf";
  QPrinter& Printer = PrinterToPdf(Pdf);
  int Shown = 0;
  QString Caption;
  SystemDialogAnswer = [&](QDialog& D) {
    ++Shown;
    Caption = D.windowTitle();
    if (auto* Options = dynamic_cast<rv::Tfrvprnform2*>(&D)) Options->Button1->click();
    if (auto* Preview = dynamic_cast<rv::tfrvprnform1*>(&D)) Preview->SpeedButton12->click();
  };
  // Nothing to print yet.
  Form().PrintImage();
  Form().PrintPreview();
  EXPECT_EQ(Shown, 0);

  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  Form().PrintImage();
  EXPECT_EQ(Shown, 1);
  EXPECT_EQ(Caption, "Pictrova - a.png");
  ASSERT_TRUE(QFileInfo(Pdf).size() > 0);
  QFile File(Pdf);
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  EXPECT_TRUE(File.read(4) == "%PDF");
  Form().PrintImage();
  Form().PrintPreview();
  Form().PrintPreview();
  EXPECT_EQ(Shown, 4);
  EXPECT_EQ(Caption, "Pictrova - a.png");
  int Options = 0, Previews = 0;
  for (QDialog* D : Form().findChildren<QDialog*>()) {
    Options += dynamic_cast<rv::Tfrvprnform2*>(D) != nullptr;
    if (auto* Preview = dynamic_cast<rv::tfrvprnform1*>(D)) {
      ++Previews;
      EXPECT_EQ(Preview->IO, Form().RastrumView1->GetIO());
    }
  }
  EXPECT_EQ(Options, 1);
  EXPECT_EQ(Previews, 1);

  // A refused print says why in the program's error dialog.
  SystemDialogAnswer = [](QDialog& D) {
    auto& Options = dynamic_cast<rv::Tfrvprnform2&>(D);
    Options.Edit[0]->setText("20");
    Options.Button1->click();
  };
  Form().PrintImage();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "The margins leave no room on the page for the picture.");

  // The printer set-up works on the printer the print windows use.
  QPrinter* Asked = nullptr;
  SystemDialogAnswer = [&](QDialog& D) {
    if (auto* Setup = dynamic_cast<QPrintDialog*>(&D)) Asked = Setup->printer();
  };
  Form().PrinterSetup();
  EXPECT_EQ(Asked, &Printer);
  Printer.setOutputFileName(QString());
}

// A job the printer refused (no printer set up: a PDF printer without a
// file) leaves the printer to Printer Setup and to the next job, which
// prints the picture.
TEST_F(MainSystemTest, AFailedPrintLeavesThePrinterUsable) {
  testing_support::TTempFolder Out;
  const QString Pdf = Out.QPath() + "/page.pdf";
  QPrinter& Printer = rv::RvPrinter();
  Printer.setOutputFormat(QPrinter::PdfFormat);
  Printer.setOutputFileName(QString());
  SystemDialogAnswer = [&](QDialog& D) {
    if (auto* Options = dynamic_cast<rv::Tfrvprnform2*>(&D)) Options->Button1->click();
    // What choosing a PDF file in Printer Setup does to the printer.
    if (auto* Setup = dynamic_cast<QPrintDialog*>(&D)) {
      D.reject();
      Setup->printer()->setOutputFileName(Pdf);
      Setup->printer()->setPageSize(QPageSize(QPageSize::A4));
    }
  };
  Env.Picture("a.png", 64, 48, QColor(0, 0, 255));
  Show(Env.File("a.png"));
  Form().PrintImage();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "The printer did not accept the print job.");
  EXPECT_NE(Printer.printerState(), QPrinter::Active);
  Form().PrinterSetup();
  EXPECT_EQ(Printer.outputFileName(), Pdf);
  Form().PrintImage();
  EXPECT_EQ(Env.HelpShown, 1) << Env.LastHelpText.toStdString();
  QProcess Render;
  Render.start("pdftoppm", {"-r", "10", "-singlefile", Pdf, Out.QPath() + "/page"});
  ASSERT_TRUE(Render.waitForFinished(60000));
  ASSERT_EQ(Render.exitCode(), 0) << Render.readAllStandardError().toStdString();
  const QImage Page(Out.QPath() + "/page.ppm");
  ASSERT_EQ(Page.size(), QSize(83, 117));
  // Fitted inside the margins of an inch, in the middle of the page.
  const QColor Middle = Page.pixel(41, 58);
  EXPECT_TRUE(Middle.blue() > 200 && Middle.red() < 60 && Middle.green() < 60) << Middle.name().toStdString();
  EXPECT_EQ(Page.pixel(3, 3), qRgb(255, 255, 255));
  Printer.setOutputFileName(QString());
}

// The printer keeps its file from one picture to the next: another
// picture's print there is kept unless the user says so, No the default;
// a print the disk cannot hold says so.
TEST_F(MainSystemTest, APrintToAFileKeepsAnotherPicturesPrintAndSaysWhenNotWritten) {
  testing_support::TTempFolder Out;
  const QString Pdf = Out.QPath() + "/page.pdf";
  QPrinter& Printer = PrinterToPdf(Pdf);
  SystemDialogAnswer = [](QDialog& D) {
    if (auto* Options = dynamic_cast<rv::Tfrvprnform2*>(&D)) Options->Button1->click();
  };
  bool Replace = false;
  MessageDlgAnswer = [&](QMessageBox& Box) {
    Env.MessageBoxes << Box.text();
    EXPECT_EQ(static_cast<QAbstractButton*>(Box.defaultButton()), Box.button(QMessageBox::No));
    Box.button(Replace ? QMessageBox::Yes : QMessageBox::No)->click();
  };
  auto Printed = [&] {
    QFile File(Pdf);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  };
  Env.Picture("a.png", 64, 48);
  Env.Picture("b.png", 48, 64, QColor(0, 0, 255));
  Env.Picture("caf\xe9.png", 64, 48);
  Env.Picture("caf\xef\xbf\xbd.png", 48, 64);
  Show(Env.File("a.png"));
  Form().PrintImage();
  const QByteArray First = Printed();
  ASSERT_TRUE(First.startsWith("%PDF"));
  Show(Env.File("b.png"));
  Form().PrintImage();
  const QString Question = Pdf + " already holds the print of a.png.\nDo you want to replace it?";
  EXPECT_EQ(Env.MessageBoxes, QStringList{Question});
  EXPECT_EQ(Printed(), First);
  Replace = true;
  Form().PrintImage();
  EXPECT_EQ(Env.MessageBoxes, (QStringList{Question, Question}));
  EXPECT_NE(Printed(), First);
  EXPECT_EQ(Env.HelpShown, 0);

  // A print far larger than the page's work file, then a disk that holds
  // only half of it (the limit holds for every file).
  Printer.setCreator(QString(1000000, QLatin1Char('x')));
  Form().PrintImage();
  const QByteArray Whole = Printed();
  ASSERT_GT(Whole.size(), 1000000);
  {
    const testing_support::TFileSizeLimit Full(static_cast<rlim_t>(Whole.size() / 2));
    Form().PrintImage();
  }
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "The print could not be written to " + Pdf + ".");
  EXPECT_EQ(Printed(), Whole) << "the earlier print is kept";
  Printer.setCreator(QString());

  // A twin (whose name reads as the same text) is another picture.
  Env.MessageBoxes.clear();
  Show(Env.File("caf\xe9.png"));
  Form().PrintImage();
  Replace = false;
  Show(Env.File("caf\xef\xbf\xbd.png"));
  Form().PrintImage();
  EXPECT_EQ(Env.MessageBoxes.size(), 2);
  EXPECT_EQ(Env.MessageBoxes.value(1), Pdf + " already holds the print of caf\uFFFD.png.\nDo you want to replace it?");
  Printer.setOutputFileName(QString());
}

// A paused show prints; a running one waits.
TEST_F(MainSystemTest, PrintWaitsOnlyWhileAShowRuns) {
  int Shown = 0;
  SystemDialogAnswer = [&](QDialog& D) {
    ++Shown;
    D.reject();
  };
  Env.Picture("a.png", 64, 48);
  Env.Picture("b.png", 64, 48);
  Show(Env.File("a.png"));
  Form().Execute("SlideShow");
  ASSERT_TRUE(Form().SlideShowTimerOn());
  Form().Execute("Print");
  EXPECT_EQ(Shown, 0);
  Form().Execute("PauseSlideShow");
  ASSERT_TRUE(Form().SlideShowPaused());
  EXPECT_TRUE(Form().findChild<QAction*>("PrintCtrlP1")->isEnabled());
  Form().Execute("Print");
  EXPECT_EQ(Shown, 1);
  Form().Execute("PrintPreview");
  EXPECT_EQ(Shown, 2);
}

// ---- Scanner

// Without a scanner, Select Source and Acquire Image say so; nothing is
// selected afterwards, and Acquire Image is no longer offered.
TEST_F(MainSystemTest, AcquireWithoutAScannerSaysSoAndDoesNothing) {
  testing_support::TSaneTestEnv Sane("", false);
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  QAction* Acquire = Form().findChild<QAction*>("AcquireImage1");
  ASSERT_NE(Acquire, nullptr);
  // The library's first source at start: no scanner was looked for yet.
  EXPECT_TRUE(Acquire->isEnabled());
  Form().Execute("Acquire");
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpText, "No scanner was found.");
  EXPECT_FALSE(Form().ScannerSourceSelected());
  EXPECT_FALSE(Acquire->isEnabled());
  Form().Execute("SelectSource");
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Env.LastHelpText, "No scanner was found.");
  EXPECT_FALSE(Form().ScannerSourceSelected());
  EXPECT_FALSE(Acquire->isEnabled());
  Form().AcquireImage();
  EXPECT_EQ(Env.HelpShown, 2);
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 64);
  EXPECT_EQ(Form().CurrentFileName(), "a.png");
  EXPECT_FALSE(Form().IsImageModified());
  for (QWidget* W : QApplication::topLevelWidgets()) {
    const bool Scanner =
        W->objectName() == platform::TwainSelectDialogName || W->objectName() == platform::TwainSourceDialogName;
    EXPECT_FALSE(Scanner && W->isVisible());
  }
}

// SANE's device lists, watched: each counted by the thread that asks for it,
// the next one held until the gate opens.
struct TListingWatch {
  static inline std::atomic<int> OnWindowThread{0}, Elsewhere{0};
  static inline std::atomic<bool> Held{false};
  static inline std::mutex Lock;
  static inline std::condition_variable Opened;
  static inline bool HoldNext = false;

  TListingWatch() {
    OnWindowThread = Elsewhere = 0;
    std::lock_guard Guard(Lock);
    HoldNext = true;
  }
  ~TListingWatch() { Open(); }
  static void Listing() {
    const bool Window = QThread::currentThread() == QCoreApplication::instance()->thread();
    ++(Window ? OnWindowThread : Elsewhere);
    std::unique_lock Guard(Lock);
    Held = HoldNext;
    // Not for good on the window's thread: nothing would open the gate.
    Opened.wait_for(Guard, std::chrono::seconds(Window ? 5 : 60), [] { return !HoldNext; });
    HoldNext = Held = false;
  }
  static void Open() {
    {
      std::lock_guard Guard(Lock);
      HoldNext = false;
    }
    Opened.notify_all();
  }
};

} // namespace

// The program's SANE, seen by the watch.
extern "C" SANE_Status sane_get_devices(const SANE_Device*** List, SANE_Bool Local) {
  static const auto Real =
      reinterpret_cast<SANE_Status (*)(const SANE_Device***, SANE_Bool)>(dlsym(RTLD_NEXT, "sane_get_devices"));
  TListingWatch::Listing();
  return Real(List, Local);
}

namespace {

// Scanner parameters as the tests want them: no source window, no progress
// window.
void QuietScanner(TMainForm& Form) {
  rv::TRvTWainParams& Scanner = Form.RastrumView1->GetIO()->TWainParams();
  Scanner.VisibleDialog = false;
  Scanner.SetProgressIndicators(false);
}

TEST_F(MainSystemTest, AJammedScannerLeavesThePictureAsItWas) {
  testing_support::TSaneTestEnv Sane("mode Color\nread-status-code \"SANE_STATUS_JAMMED\"");
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  QuietScanner(Form());
  Form().AcquireImage();
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 64);
  EXPECT_EQ(Form().CurrentFileName(), "a.png");
  EXPECT_NE(Form().CurrentFolderView(), nullptr);
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_FALSE(Form().IsNewImage());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// While a page comes in, the picture is repainted every ten percent or so
// of the scan, never on every strip.
TEST_F(MainSystemTest, TheViewIsRepaintedAsAScanProgresses) {
  // Fine enough for some fifty strips.
  testing_support::TSaneTestEnv Sane("mode Color\ndepth 8\nresolution 300\ntest-picture \"Color pattern\"");
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  QuietScanner(Form());
  struct TPaints : QObject {
    app::TMainForm* Main = nullptr;
    std::vector<int> At;
    bool eventFilter(QObject*, QEvent* E) override {
      if (E->type() == QEvent::Paint && Main->ProgressPosition() > 0) At.push_back(Main->ProgressPosition());
      return false;
    }
  } Paints;
  Paints.Main = &Form();
  std::vector<int> Reported;
  rv::TRastrumIO* IO = Form().RastrumView1->GetIO();
  const auto Shown = IO->OnProgress;
  IO->OnProgress = [&](void* Sender, int Percent) {
    Reported.push_back(Percent);
    Shown(Sender, Percent);
  };
  Form().RastrumView1->installEventFilter(&Paints);
  Form().AcquireImage();
  Form().RastrumView1->removeEventFilter(&Paints);
  IO->OnProgress = Shown;
  ASSERT_TRUE(Form().IsNewImage());
  ASSERT_GT(Reported.size(), 20u) << "a scan of many strips";
  ASSERT_GE(Paints.At.size(), 5u);
  EXPECT_LT(Paints.At.size(), Reported.size() / 2);
  // Each repaint more than ten percent after the one before.
  for (std::size_t I = 1; I < Paints.At.size(); ++I) EXPECT_GT(Paints.At[I], Paints.At[I - 1] + 10) << I;
}

TEST_F(MainSystemTest, AcquiredPictureIsANewModifiedImage) {
  testing_support::TSaneTestEnv Sane("mode Color\ndepth 8\nresolution 50\ntest-picture \"Color pattern\"");
  const testing_support::TPnm Reference = testing_support::ParsePnm(Sane.ScanImage());
  ASSERT_GT(Reference.Width, 0);
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  QuietScanner(Form());
  EXPECT_TRUE(Form().ScannerSourceSelected());
  Form().AcquireImage();
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), Reference.Width);
  EXPECT_EQ(Form().RastrumView1->GetBitmap()->Height(), Reference.Height);
  EXPECT_TRUE(Form().IsNewImage());
  EXPECT_TRUE(Form().IsImageModified());
  EXPECT_FALSE(Form().OnlyRotated());
  EXPECT_EQ(Form().CurrentFileName(), "new_image.jpg");
  EXPECT_EQ(Form().CurrentFilePath(), "new_image.jpg");
  EXPECT_EQ(Form().CurrentFolderView(), nullptr);
  EXPECT_EQ(Form().windowTitle(), "Pictrova - new_image.jpg*");
  EXPECT_TRUE(Form().LblToOpen->isHidden());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Scanning again first asks about the unsaved picture; "No" scans anew.
  Env.HelpAnswer = 2;
  Form().AcquireImage();
  EXPECT_EQ(Env.HelpShown, 1);
  EXPECT_EQ(Env.LastHelpCaption, "Save new image before continuing?");
  EXPECT_TRUE(Form().IsNewImage());
  EXPECT_FALSE(Form().DontAskToSave());

  // The session's end (a termination signal) while Exit's question is up
  // leaves the question to the user: ended as cancelled it would drop the
  // scan. "Yes" and no name given keep the scan and the window; the
  // session's own close then asks once more.
  bool StillAsked = false;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    if (++Env.HelpShown == 2) {
      D.setWindowModality(Qt::ApplicationModal);
      Form().CloseForSession();
      StillAsked = D.isVisible();
    }
    D.done(1);
  };
  Form().Execute("Exit");
  EXPECT_TRUE(StillAsked);
  ASSERT_TRUE(apptest::WaitUntil([&] { return Env.HelpShown == 3; }));
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Form().IsNewImage());
}

// A step that cannot leave the picture asks nothing: a scan has no folder
// view to step in, and a folder's only picture is the one shown.
TEST_F(MainSystemTest, AStepThatCannotMoveAsksNothing) {
  testing_support::TSaneTestEnv Sane("mode Color\ndepth 8\nresolution 50\ntest-picture \"Color pattern\"");
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  QuietScanner(Form());
  apptest::PressKey(Form().KeyCatcher, Qt::Key_I, Qt::ControlModifier);
  ASSERT_TRUE(Form().IsNewImage());
  for (int Key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Space}) apptest::PressKey(Form().KeyCatcher, Key);
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpCaption.toStdString();
  EXPECT_EQ(Form().windowTitle(), "Pictrova - new_image.jpg*");

  // "No" drops the scan for the folder's picture; turned, it stays too.
  Env.HelpAnswer = 2;
  Show(Env.File("a.png"));
  Env.HelpShown = 0;
  apptest::PressKey(Form().KeyCatcher, Qt::Key_R, Qt::ControlModifier);
  ASSERT_TRUE(Form().IsImageModified());
  apptest::PressKey(Form().KeyCatcher, Qt::Key_Right);
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpCaption.toStdString();
  EXPECT_TRUE(Form().IsImageModified());
}

// In a home without a documents folder, Ctrl+S on a scan opens the save-as
// dialog in the home folder; the scan saved there becomes the shown file.
TEST_F(MainSystemTest, SavingAScanInAHomeWithoutDocumentsStartsAtHome) {
  shelltest::TPrivateHome Home;
  fs::remove_all(Home.Home + "/Documents");
  testing_support::TSaneTestEnv Sane("mode Color\ndepth 8\nresolution 50\ntest-picture \"Color pattern\"");
  TSaveAsForm SaveAs;
  Form().FormsCreated();
  QuietScanner(Form());
  apptest::PressKey(Form().KeyCatcher, Qt::Key_I, Qt::ControlModifier);
  ASSERT_TRUE(Form().IsNewImage());
  std::string Target;
  TSaveAsForm::ModalAnswer = [&](TSaveAsForm& F) {
    ASSERT_TRUE(apptest::WaitUntil([&] { return !F.SxShellList->Loading(); }));
    F.EdtFileName->setText("scan.jpg");
    Target = F.GetSaveAsTargetPath();
    F.SBtnSave->Click();
  };
  apptest::PressKey(Form().KeyCatcher, Qt::Key_S, Qt::ControlModifier);
  TSaveAsForm::ModalAnswer = nullptr;
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpText.toStdString();
  EXPECT_EQ(Target, Home.Home + "/scan.jpg");
  EXPECT_TRUE(fs::is_regular_file(Home.Home + "/scan.jpg"));
  EXPECT_EQ(Form().windowTitle().toStdString(), "Pictrova - " + Home.Home + "/scan.jpg");
}

} // namespace

// SANE may take seconds over its device list (its network backends wait
// for hosts that do not answer), and the window did not answer meanwhile.
// The list is read on a worker with the window answering; the choice of a
// scanner or the scan comes once it is in. A close meanwhile waits for the
// list, then runs in place of the command.
TEST_F(MainSystemTest, TheWindowAnswersWhileSaneListsItsDevices) {
  testing_support::TSaneTestEnv Sane("mode Color\ndepth 8\nresolution 50\ntest-picture \"Color pattern\"");
  Env.Picture("a.png", 64, 48);
  Show(Env.File("a.png"));
  QuietScanner(Form());
  auto ChoiceUp = [] {
    for (QWidget* W : QApplication::topLevelWidgets())
      if (W->objectName() == platform::TwainSelectDialogName && W->isVisible()) return W;
    return static_cast<QWidget*>(nullptr);
  };
  for (const auto& [Command, Close, Chosen] : {std::tuple("SelectSource", false, 1), std::tuple("Acquire", false, 0),
                                               std::tuple("SelectSource", true, 0)}) {
    TListingWatch Watch;
    int Turns = 0, Choices = 0;
    bool ChoiceBeforeList = false;
    // The window's loop turns while the list is held: the gate opens after
    // a few turns, after a close in the last step.
    QTimer Loop;
    QObject::connect(&Loop, &QTimer::timeout, [&] {
      if (QWidget* Choice = ChoiceUp()) {
        ChoiceBeforeList = ChoiceBeforeList || TListingWatch::Held;
        ++Choices;
        Choice->findChild<QListWidget*>(QStringLiteral("Sources"))->setCurrentRow(1);
        Choice->findChild<QPushButton*>(QStringLiteral("Select"))->click();
      } else if (TListingWatch::Held && ++Turns == 3) {
        if (Close) Form().close();
        Watch.Open();
      }
    });
    Loop.start(1);
    Form().Execute(Command);
    Loop.stop();
    EXPECT_GE(Turns, 3) << Command;
    EXPECT_FALSE(ChoiceBeforeList) << Command;
    EXPECT_EQ(TListingWatch::OnWindowThread, 0) << Command;
    EXPECT_GT(TListingWatch::Elsewhere, 0) << Command;
    EXPECT_EQ(Choices, Chosen) << Command;
  }
  EXPECT_EQ(Form().RastrumView1->GetIO()->TWainParams().SelectedSourceName(), "Noname frontend-tester (test:1)");
  // The scan came after its list; the close asked about it ("No") and ran.
  ASSERT_TRUE(apptest::WaitUntil([&] { return Form().Closing(); }));
  EXPECT_EQ(Env.LastHelpCaption, "Save new image before continuing?");
  EXPECT_FALSE(Form().isVisible());
}
