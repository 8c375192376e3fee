#include "app/mainform.h"

#include "app/aboutdlg.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/settings.h"
#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvknownformat.h"
#include "image/io/tiff/tifflzw.h"
#include "platform/singleinstance.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QPalette>

namespace app {

void TMainSettings::Read() {
  SlideShowInterval = ReadSettingInt("SlideShowInterval", 5000);
  StartAtBeginning = ReadSettingBool("StartAtBeginning", false);
  StopAtStart = ReadSettingBool("StopAtStart", true);
  PlayInReverse = ReadSettingBool("PlayInReverse", false);
  BackgroundColor = ReadSettingInt(BackgroundColorValueName(), platform::clBtnFace);
  BackgroundStyle = ReadSettingInt("BackGroundStyle", 10);
  AnimateGif = ReadSettingBool("AnimateGif", false);
  AutoSaveImages = ReadSettingBool("AutoSaveImages", true);
  HideFolderTab = ReadSettingBool("HideFolderTab", false);
  AlphaChannel = ReadSettingBool("AlphaChannel", false);
  ImageTransitionEffect = ReadSettingInt("ImageTransitionEffect", 1);
  ImageTransitionSound = ReadSettingInt("ImageTransitionSound", 1);
  MagnifyViewWidth = ReadSettingInt("MagnifyViewWidth", 124);
  MagnifyViewHeight = ReadSettingInt("MagnifyViewHeight", 124);
  MagnifyViewLevel = ReadSettingInt("MagnifyViewLevel", 2);
  MagnifyViewFrame = ReadSettingBool("MagnifyViewFrame", false);
  MagnifyShowOptions = ReadSettingBool("MagnifyShowOptions", false);
  MenuVisible = ReadSettingBool("MenuVisible", true);
  ThumbsVisible = ReadSettingBool("ThumbsVisible", true);
  NavVisible = ReadSettingBool("NavVisible", true);
  StatusVisible = ReadSettingBool("StatusVisible", true);
  FullScreenMenuVisible = ReadSettingBool("FullScreenMenuVisible", false);
  FullScreenThumbsVisible = ReadSettingBool("FullScreenThumbsVisible", true);
  FullScreenListVisible = ReadSettingBool("FullScreenListVisible", false);
  FullScreenNavVisible = ReadSettingBool("FullScreenNavVisible", false);
  FullScreenStatusVisible = ReadSettingBool("FullScreenStatusVisible", false);
  FileMruMaxItems = ReadSettingInt("FileMruMaxItems", 20);
}

void TMainSettings::Write() const {
  WriteSettingInt("SlideShowInterval", SlideShowInterval);
  WriteSettingBool("StartAtBeginning", StartAtBeginning);
  WriteSettingBool("StopAtStart", StopAtStart);
  WriteSettingBool("PlayInReverse", PlayInReverse);
  WriteSettingInt(BackgroundColorValueName(), BackgroundColor);
  WriteSettingInt("BackGroundStyle", BackgroundStyle);
  WriteSettingBool("AnimateGif", AnimateGif);
  WriteSettingBool("AutoSaveImages", AutoSaveImages);
  WriteSettingBool("HideFolderTab", HideFolderTab);
  WriteSettingBool("AlphaChannel", AlphaChannel);
  WriteSettingInt("ImageTransitionEffect", ImageTransitionEffect);
  WriteSettingInt("ImageTransitionSound", ImageTransitionSound);
  WriteSettingInt("MagnifyViewWidth", MagnifyViewWidth);
  WriteSettingInt("MagnifyViewHeight", MagnifyViewHeight);
  WriteSettingInt("MagnifyViewLevel", MagnifyViewLevel);
  WriteSettingBool("MagnifyViewFrame", MagnifyViewFrame);
  WriteSettingBool("MagnifyShowOptions", MagnifyShowOptions);
  WriteSettingBool("MenuVisible", MenuVisible);
  WriteSettingBool("ThumbsVisible", ThumbsVisible);
  WriteSettingBool("NavVisible", NavVisible);
  WriteSettingBool("StatusVisible", StatusVisible);
  WriteSettingBool("FullScreenMenuVisible", FullScreenMenuVisible);
  WriteSettingBool("FullScreenThumbsVisible", FullScreenThumbsVisible);
  WriteSettingBool("FullScreenListVisible", FullScreenListVisible);
  WriteSettingBool("FullScreenNavVisible", FullScreenNavVisible);
  WriteSettingBool("FullScreenStatusVisible", FullScreenStatusVisible);
  WriteSettingInt("FileMruMaxItems", FileMruMaxItems);
}

TMainForm::TMainForm(const QStringList& arguments, platform::TDdeServerConv* server, QWidget* parent)
    : QMainWindow(parent), FServer(server) {
  setObjectName(QStringLiteral("MainForm"));
  resize(800, 600);
  FormCreate(arguments);
}

TMainForm::~TMainForm() {
  if (FServer) FServer->SetOnExecuteMacro(nullptr);
}

void TMainForm::FormCreate(const QStringList& arguments) {
  SetMainFormPixelsPerInch(logicalDpiX());
  // The message dialog also becomes the handler of exceptions that reach
  // the event loop.
  FHelpDlg = std::make_unique<THelpDlg>();
  FAboutDlg = std::make_unique<TAboutDlg>();

  // Reset the window's state.
  FCurrentFilePath.clear();
  FModified = false;
  FSlideShow = false;
  FMagnifyLevel = 2;
  FLastMousePos = QPoint(-99, -99);
  FRememberedFiles.clear();
  FRememberMode = 0;

  setCentralWidget(new QWidget(this));
  centralWidget()->setObjectName(QStringLiteral("SubMainPanel"));
  centralWidget()->setAutoFillBackground(true);

  FSettings.Read();
  FMagnifyLevel = FSettings.MagnifyViewLevel;
  ApplyBackground();
  UpdateFileStatusText();

  // The image library starts with empty LZW slots; GIF and TIFF LZW work
  // only once the program's coders are installed.
  rv::RvDefaultGifLzwDecompress = rv::GifLzwDecompress;
  rv::RvDefaultGifLzwCompress = rv::GifLzwCompress;
  rv::RvDefaultTiffLzwDecompress = rv::TiffLzwDecompress;
  rv::RvDefaultTiffLzwCompress = rv::TiffLzwCompress;

  // The hand-off from later starts: held by the server until now.
  if (FServer) FServer->SetOnExecuteMacro([this](const QStringList& macro) { Ptv_MainExecuteMacro(macro); });

  ShowStartupSplash(*FAboutDlg, arguments);

  QString fileToOpen;
  for (const QString& arg : arguments) {
    const QString suffix = QFileInfo(arg).suffix();
    if (rv::RvIsKnownFormat(arg.toStdString())) {
      fileToOpen = arg;
    } else if (!suffix.isEmpty()) {
      FHelpDlg->ShowUnsupportedFormat(arg);
      FHelpDlg->ShowModal();
    }
  }
  if (!fileToOpen.isEmpty()) OpenPath(QFileInfo(fileToOpen).absoluteFilePath(), false);
}

void TMainForm::ApplyBackground() {
  const std::uint32_t rgb = platform::ColorToRGB(FSettings.BackgroundColor);
  QPalette pal = centralWidget()->palette();
  pal.setColor(QPalette::Window,
               QColor(platform::GetRValue(rgb), platform::GetGValue(rgb), platform::GetBValue(rgb)));
  centralWidget()->setPalette(pal);
}

void TMainForm::UpdateFileStatusText() {
  QString caption = QStringLiteral("Pictrova by Halvenworth");
  if (!FCurrentFilePath.isEmpty()) {
    caption = QStringLiteral("Pictrova - ") + FCurrentFilePath;
    if (FModified) caption += QLatin1Char('*');
  }
  setWindowTitle(caption);
}

void TMainForm::OpenPath(const QString& path, bool refresh) {
  // A path that names no existing file does nothing.
  QFileInfo info(path);
  if (!info.exists() || !info.isFile()) return;
  Q_UNUSED(refresh);
  FCurrentFilePath = info.absoluteFilePath();
  UpdateFileStatusText();
}

void TMainForm::Ptv_MainExecuteMacro(const QStringList& macro) {
  if (macro.size() == 1 && macro[0] == QLatin1String("EXIT")) {
    close();
    return;
  }
  if (!macro.isEmpty()) OpenPath(macro[0], false);
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!FSettingsWritten) {
    FSettingsWritten = true;
    FSettings.Write();
  }
  event->accept();
}

} // namespace app
