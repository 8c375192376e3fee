// The main window's commands that hand the shown picture to the system or to
// the image library's services: desktop wallpaper, clipboard, printing and
// scanner acquisition.
#include "app/mainsystem.h"

#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/mainform.h"
#include "app/modalrun.h"
#include "app/msgbox.h"
#include "app/pictureload.h"
#include "app/pictureutil.h"
#include "app/settings.h"
#include "controls/support/wnutils/wnutils.h"
#include "image/io/rastrumio.h"
#include "image/io/twain/rvtwain.h"
#include "image/io/twain/rvtwainparams.h"
#include "image/model/rastrumproc.h"
#include "image/views/rastrumview.h"
#include "image/views/rvprnforms.h"
#include "platform/application.h"
#include "platform/openurl.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPrintDialog>
#include <QProcess>
#include <QScreen>

#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace app {

std::function<QSize()> WallpaperScreenSize;
std::function<void(QDialog&)> SystemDialogAnswer;

namespace {

// How long one call of the settings tool may take.
constexpr int SettingsToolTimeout = 10000;

QSize ScreenSizeOf(const QWidget& Window) {
  if (WallpaperScreenSize) return WallpaperScreenSize();
  const QScreen* screen = Window.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  return (QSizeF(screen->size()) * screen->devicePixelRatio()).toSize();
}

// Text as a GVariant string literal, so that no path is taken for another
// kind of value.
QString VariantString(const QString& Text) {
  QString quoted = Text;
  quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// One key of the desktop background through gsettings; raises with the
// tool's own words when it is missing or refuses.
void SetBackgroundKey(const QString& Key, const QString& Value) {
  QProcess tool;
  platform::UnblockTerminationSignalsInChild(tool);
  tool.start(QStringLiteral("gsettings"),
             {QStringLiteral("set"), QStringLiteral("org.gnome.desktop.background"), Key, Value});
  if (!tool.waitForStarted())
    throw std::runtime_error("The desktop wallpaper could not be set: the program gsettings was not found.");
  if (!tool.waitForFinished(SettingsToolTimeout)) {
    tool.kill();
    tool.waitForFinished();
    throw std::runtime_error("The desktop wallpaper could not be set: gsettings did not answer.");
  }
  if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
    QString why = QString::fromLocal8Bit(tool.readAllStandardError()).trimmed();
    if (why.isEmpty()) why = QStringLiteral("gsettings failed with exit code %1.").arg(tool.exitCode());
    throw std::runtime_error("The desktop wallpaper could not be set: " + why.toStdString());
  }
}

// The wallpaper replaces only a file of the program's own: a link left in
// its place goes, not what it points to.
void PrepareWallpaperTarget(const std::string& Target) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(Target, error);
  if (fs::is_symlink(status)) {
    fs::remove(Target, error);
    if (error) throw std::runtime_error("Cannot replace " + Target);
  } else if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw std::runtime_error("Cannot replace " + Target);
  }
}

} // namespace

std::string WallpaperPath(const std::string& Folder, const std::string& Name) {
  // Only the name counts: the file never leaves the folder.
  return JoinPath(Folder, ChangeFileExt(NameOfPath(Name), ".bmp"));
}

double WallpaperScale(int Width, int Height, QSize Screen) {
  double fx = 1, fy = 1;
  if (Width > 0 && Screen.width() < Width) fx = static_cast<double>(Screen.width()) / Width;
  if (Height > 0 && Screen.height() < Height) fy = static_cast<double>(Screen.height()) / Height;
  return std::min(fx, fy);
}

// ---- Wallpaper and clipboard

void TMainForm::SetAsDesktopWallpaper() {
  FinishPendingLoad();
  if (!HasImage()) return;
  try {
    const std::string folder = wn::TWnDirectories().WindowsDirectory();
    if (folder.empty()) throw std::runtime_error("The program's data folder cannot be created.");
    const std::string target = WallpaperPath(folder, FCurrentFileName);
    PrepareWallpaperTarget(target);
    const platform::TBitmap* shown = RastrumView1->GetBitmap();
    const double factor = WallpaperScale(shown->Width(), shown->Height(), ScreenSizeOf(*this));
    if (factor < 1) {
      rv::TRastrumView scaled;
      scaled.GetProc()->AutoUndo = false;
      scaled.Assign(shown);
      scaled.GetProc()->Resample(std::max(1, static_cast<int>(std::nearbyint(shown->Width() * factor))),
                                 std::max(1, static_cast<int>(std::nearbyint(shown->Height() * factor))),
                                 rv::rfNone);
      SavePictureInFormat(target, *scaled.GetIO(), true);
    } else {
      SavePictureInFormat(target, *RastrumView1->GetIO(), true);
    }
    WriteRegistryValue(platform::HKEY_CURRENT_USER, "\\Control Panel\\Desktop", "TileWallpaper", QStringLiteral("0"),
                       1);
    WriteRegistryValue(platform::HKEY_CURRENT_USER, "\\Control Panel\\Desktop", "WallpaperStyle",
                       QStringLiteral("0"), 1);
    const QString uri = VariantString(QString::fromLatin1(platform::FileUri(target)));
    SetBackgroundKey(QStringLiteral("picture-uri"), uri);
    SetBackgroundKey(QStringLiteral("picture-uri-dark"), uri);
    SetBackgroundKey(QStringLiteral("picture-options"), VariantString(QStringLiteral("centered")));
  } catch (const std::exception& error) {
    ShowErrorDialog(QString::fromUtf8(error.what()));
  }
}

void TMainForm::CopyToClipboard() {
  FinishPendingLoad();
  if (HasImage()) RastrumView1->GetProc()->CopyToClipboard();
}

// ---- Printing

void TMainForm::PrinterSetup() {
  QPrintDialog dialog(&rv::RvPrinter(), this);
  RunModal<QDialog>(dialog, SystemDialogAnswer);
}

void TMainForm::ShowPrintWindow(rv::TRvPrintForm& Window) {
  rv::TRastrumIO* io = RastrumView1->GetIO();
  Window.IO = io;
  Window.MeasureUnit = io->DialogsMeasureUnit;
  Window.setFont(io->PreviewFont().ToQFont());
  // The name's bytes: the print of its twin (whose text reads the same) is
  // another picture's.
  Window.JobTitle = FCurrentFileName;
  // Refused prints say why in the program's own error dialog.
  Window.OnRefusal = [](const std::string& why) { ShowErrorDialog(QString::fromStdString(why)); };
  Window.OnReplaceQuestion = [&Window](const std::string& question) {
    return MessageDlg(Window.windowTitle(), QString::fromStdString(question), QMessageBox::Warning,
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
  Window.setWindowTitle(QStringLiteral("Pictrova - ") + FileNameText(FCurrentFileName));
  RunModal<QDialog>(Window, SystemDialogAnswer);
}

void TMainForm::PrintImage() {
  FinishPendingLoad();
  // A paused show prints; only the show's running timer refuses.
  if (SlideShowTimerOn() || !HasImage()) return;
  if (!FPrintOptionsForm) FPrintOptionsForm = new rv::Tfrvprnform2(this);
  FPrintOptionsForm->ApplyLanguage(RastrumView1->GetIO()->MsgLanguage);
  ShowPrintWindow(*FPrintOptionsForm);
}

void TMainForm::PrintPreview() {
  FinishPendingLoad();
  if (!HasImage()) return;
  if (!FPrintPreviewForm) FPrintPreviewForm = new rv::tfrvprnform1(this);
  FPrintPreviewForm->ApplyLanguage(RastrumView1->GetIO()->MsgLanguage);
  ShowPrintWindow(*FPrintPreviewForm);
}

// ---- Scanner

namespace {

// Whether the scanner library finds a scanner now; the list the scanner
// parameters keep is read once and would not see one plugged in later.
bool ScannerFound(rv::TRastrumIO& io, QWidget* window) {
  std::vector<platform::TW_IDENTITY> sources;
  rv::TwainListSources(sources, io.TWainParams().Shared(), window);
  return !sources.empty();
}

// SANE's device list, read on a worker of its own for the command that
// waits for it.
class TScannerListing : public TWorkerRead {
public:
  TScannerListing(rv::TRvTWainShared& Shared, QObject* Context, std::function<void()> Done) {
    Start(Context, [&Shared] { rv::TwainReadSourcesAhead(Shared); }, std::move(Done));
  }
  // SANE cannot be left to a worker that outlives the command.
  ~TScannerListing() override { Wait(); }

private:
  void Release() override {}
};

// The list read ahead counts for one command: a scanner plugged in after it
// is seen by the next.
struct TListedAhead {
  ~TListedAhead() { rv::TwainForgetSourcesAhead(); }
};

} // namespace

bool TMainForm::AwaitScannerList() {
  // A close asked for meanwhile waits for the list, as for a read, and then
  // runs in place of the command.
  struct TCloseWatch : QObject {
    bool Asked = false;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Close) Asked = true;
      return false;
    }
  } closeWatch;
  installEventFilter(&closeWatch);
  {
    TScannerListing listing(RastrumView1->GetIO()->TWainParams().Shared(), this, [this] { WakeReadWaits(); });
    while (!listing.Ended() && AwaitRead()) {
    }
  }
  removeEventFilter(&closeWatch);
  return !closeWatch.Asked && !FClosing;
}

bool TMainForm::ScannerSourceSelected() const {
  return RastrumView1->GetIO()->TWainParams().SelectedSource() > -1;
}

void TMainForm::ScannerNotFound() {
  // Nothing stays selected, so that Acquire Image is offered again only
  // once a scanner has been chosen.
  RastrumView1->GetIO()->TWainParams().SetSelectedSource(-1);
  UpdateCommandStates();
  ShowErrorDialog(QStringLiteral("No scanner was found."));
}

void TMainForm::SelectScannerSource() {
  if (FAcquiring) return;
  rv::TRastrumIO* io = RastrumView1->GetIO();
  // The window answers while SANE lists its devices; the choice comes with
  // the list.
  const TListedAhead ahead;
  BeginWaitCursor();
  FAcquiring = true;
  const bool listed = AwaitScannerList();
  FAcquiring = false;
  EndWaitCursor();
  if (!listed) return;
  // A cancelled choice keeps the source chosen before.
  if (!io->SelectAcquireSource() && !ScannerFound(*io, this)) {
    ScannerNotFound();
    return;
  }
  UpdateCommandStates();
}

void TMainForm::AcquireImage() {
  FinishPendingLoad();
  // A second call while the scanner works would start nothing anyway.
  if (FAcquiring) return;
  if (FSlideShow || !ScannerSourceSelected() || QuerySaveModified() != TLeaveAnswer::Go) return;
  BeginWaitCursor();
  FAcquiring = true;
  // The window answers while SANE lists its devices; the scan comes with
  // the list.
  const TListedAhead ahead;
  if (!AwaitScannerList()) {
    FAcquiring = false;
    EndWaitCursor();
    return;
  }
  bool acquired = false;
  // An answer covered this scan only: with none taken the picture stays,
  // and the next step asks again.
  try {
    acquired = RastrumView1->GetIO()->Acquire();
  } catch (const std::exception& error) {
    FAcquiring = false;
    EndWaitCursor();
    ShowErrorDialog(QString::fromUtf8(error.what()));
    return;
  }
  if (acquired) {
    FIsNewImage = true;
    FQuestion.PictureChanged();
    LblToOpen->hide();
    OpenBtnImage->hide();
    FCurrentFileName = "new_image.jpg";
    FCurrentFilePath = FCurrentFileName;
    FAutoSaveFailed = false;
    FOnlyRotated = false;
    FCurrentFolderView = nullptr;
    UpdateModifiedState();
  }
  FAcquiring = false;
  EndWaitCursor();
  // The source at start is the library's first one, which may be none.
  if (!acquired && !ScannerFound(*RastrumView1->GetIO(), this)) ScannerNotFound();
}

} // namespace app
