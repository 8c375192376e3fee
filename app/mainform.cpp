#include "app/mainform.h"
#include "app/pictureload.h"
#include "controls/kel/kelshapebutton.h"

#include "app/aboutdlg.h"
#include "app/folderview.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/toolbox.h"
#include "app/transitionsounds.h"
#include "app/settings.h"
#include "controls/kel/kelprogressfill.h"
#include "controls/support/q32statusbar/q32statusbar.h"
#include "controls/support/qoformstate/qoformstate.h"
#include "controls/support/wnmrulist/wnmrulist.h"
#include "controls/support/wnutils/wnutils.h"
#include "shell/sxfolderdrop.h"
#include "shell/sxshellitems.h"
#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rastrumio.h"
#include "image/io/twain/rvtwainparams.h"
#include "image/io/rvknownformat.h"
#include "image/io/tiff/tifflzw.h"
#include "image/model/rastrumproc.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "platform/application.h"
#include "platform/shfileop.h"
#include "platform/singleinstance.h"
#include "platform/sound.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <filesystem>

namespace app {

TMainForm* MainForm = nullptr;

const char* const TransitionSoundNames[11] = {"",        "click1",  "click2",  "click3", "click4",   "click5",
                                              "camera1", "camera2", "camera3", "chimes", "projector"};

namespace {

constexpr int StatusPanelWidths[3] = {330, 200, 130};

// The settings of the main window as one table: name, member, default. Read
// and write walk it; the order is the order of writing at close.
struct TBoolSetting {
  const char* Name;
  bool TMainSettings::*Member;
  bool Default;
};
struct TIntSetting {
  const char* Name;
  int TMainSettings::*Member;
  int Default;
};

constexpr TBoolSetting VisibilitySettings[] = {
    {"MenuVisible", &TMainSettings::MenuVisible, true},
    {"ThumbsVisible", &TMainSettings::ThumbsVisible, true},
    {"NavVisible", &TMainSettings::NavVisible, true},
    {"StatusVisible", &TMainSettings::StatusVisible, true},
    {"FullScreenMenuVisible", &TMainSettings::FullScreenMenuVisible, false},
    {"FullScreenThumbsVisible", &TMainSettings::FullScreenThumbsVisible, true},
    {"FullScreenListVisible", &TMainSettings::FullScreenListVisible, false},
    {"FullScreenNavVisible", &TMainSettings::FullScreenNavVisible, false},
    {"FullScreenStatusVisible", &TMainSettings::FullScreenStatusVisible, false},
};
constexpr TIntSetting LookSettings[] = {
    {"BackGroundStyle", &TMainSettings::BackgroundStyle, 10},
    {"ImageTransitionEffect", &TMainSettings::ImageTransitionEffect, 1},
    {"ImageTransitionSound", &TMainSettings::ImageTransitionSound, 1},
};
constexpr TIntSetting SlideShowIntervalSetting = {"SlideShowInterval", &TMainSettings::SlideShowInterval, 5000};
constexpr TBoolSetting FlagSettings[] = {
    {"StartAtBeginning", &TMainSettings::StartAtBeginning, false},
    {"StopAtStart", &TMainSettings::StopAtStart, true},
    {"PlayInReverse", &TMainSettings::PlayInReverse, false},
    {"AnimateGif", &TMainSettings::AnimateGif, false},
    {"AlphaChannel", &TMainSettings::AlphaChannel, false},
    {"AutoSaveImages", &TMainSettings::AutoSaveImages, true},
    {"HideFolderTab", &TMainSettings::HideFolderTab, false},
};
constexpr TIntSetting MagnifierSizes[] = {
    {"MagnifyViewWidth", &TMainSettings::MagnifyViewWidth, 124},
    {"MagnifyViewHeight", &TMainSettings::MagnifyViewHeight, 124},
    {"MagnifyViewLevel", &TMainSettings::MagnifyViewLevel, 2},
};
constexpr TBoolSetting MagnifierFlags[] = {
    {"MagnifyViewFrame", &TMainSettings::MagnifyViewFrame, false},
    {"MagnifyShowOptions", &TMainSettings::MagnifyShowOptions, false},
};
constexpr TIntSetting MruSetting = {"FileMruMaxItems", &TMainSettings::FileMruMaxItems, 20};

} // namespace

void TMainSettings::Read() {
  for (const auto& S : VisibilitySettings) this->*S.Member = ReadSettingBool(S.Name, S.Default);
  for (const auto& S : LookSettings) this->*S.Member = ReadSettingInt(S.Name, S.Default);
  BackgroundColor = ReadSettingInt(BackgroundColorValueName(), platform::clBtnFace);
  this->*SlideShowIntervalSetting.Member = ReadSettingInt(SlideShowIntervalSetting.Name, SlideShowIntervalSetting.Default);
  for (const auto& S : FlagSettings) this->*S.Member = ReadSettingBool(S.Name, S.Default);
  for (const auto& S : MagnifierSizes) this->*S.Member = ReadSettingInt(S.Name, S.Default);
  for (const auto& S : MagnifierFlags) this->*S.Member = ReadSettingBool(S.Name, S.Default);
  this->*MruSetting.Member = ReadSettingInt(MruSetting.Name, MruSetting.Default);
}

void TMainSettings::Write() const {
  for (const auto& S : VisibilitySettings) WriteSettingBool(S.Name, this->*S.Member);
  for (const auto& S : LookSettings) WriteSettingInt(S.Name, this->*S.Member);
  WriteSettingInt(BackgroundColorValueName(), BackgroundColor);
  WriteSettingInt(SlideShowIntervalSetting.Name, this->*SlideShowIntervalSetting.Member);
  for (const auto& S : FlagSettings) WriteSettingBool(S.Name, this->*S.Member);
  for (const auto& S : MagnifierSizes) WriteSettingInt(S.Name, this->*S.Member);
  for (const auto& S : MagnifierFlags) WriteSettingBool(S.Name, this->*S.Member);
  WriteSettingInt(MruSetting.Name, this->*MruSetting.Member);
}

TMainForm::TMainForm(const std::vector<std::string>& arguments, platform::TDdeServerConv* server, QWidget* parent)
    : QMainWindow(parent), FServer(server) {
  setObjectName(QStringLiteral("MainForm"));
  if (MainForm == nullptr) MainForm = this;
  resize(800, 600);
  // A close that waited for the question or a command runs from the event
  // loop, once they are done.
  FQuestion.RunClose = [this] {
    QTimer::singleShot(0, this, [this] {
      if (!close()) FQuestion.SetSessionEnding(false);
    });
  };
  FQuestion.RunSettled = [this] {
    if (FWaitingHandOff.empty()) return;
    QTimer::singleShot(0, this, [this] {
      if (!FWaitingHandOff.empty() && !FQuestion.Asking() && !FClosing) Ptv_MainExecuteMacro(std::exchange(FWaitingHandOff, {}));
    });
  };
  FormCreate(arguments);
  // The shell controls' moves and drops may take the shown picture's file
  // away or put another in its place: its edit is settled first, as a cut
  // and paste settles it, and a file they put in its place is shown.
  if (MainForm == this) {
    sx::SxBeforeTransfer = [this](const std::vector<std::string>& paths) { return ReleaseShownFile(paths, false); };
    sx::SxAfterTransfer = [this](const std::vector<std::string>& paths) {
      for (const std::string& path : paths) ShowReplacedFile(path);
    };
  }
}

TMainForm::~TMainForm() {
  FormDestroy();
  if (FServer) FServer->SetOnExecuteMacro(nullptr);
  if (MainForm == this) {
    sx::SxBeforeTransfer = nullptr;
    sx::SxAfterTransfer = nullptr;
    MainForm = nullptr;
  }
}

void TMainForm::FormCreate(const std::vector<std::string>& arguments) {
  SetMainFormPixelsPerInch(logicalDpiX());
  // The supporting collection's cursors, ready before its first control.
  wn::WnRegisterCursors();
  BuildControls();
  BuildMenus();
  ThumbPageControl->setFixedHeight(ScaleByScreenDpi(10));

  // The message dialog also becomes the handler of exceptions that reach
  // the event loop.
  FHelpDlg = std::make_unique<THelpDlg>();
  FAboutDlg = std::make_unique<TAboutDlg>();

  // Reset the window's state.
  FFolderViews.clear();
  FOtherWindows.clear();
  FCurrentFileName.clear();
  FCurrentFilePath.clear();
  FModified = false;
  FSlideShow = false;
  FMagnifyLevel = 2;
  FLastMousePos = QPoint(-99, -99);
  FRememberedFiles.clear();
  FRememberMode = 0;

  PreparePictureView();
  LoadTransitionSounds();

  FSettings.Read();
  ApplySettings();
  ApplyControlVisibility();
  // A capacity beyond the list's kind would wrap around to a small one.
  try {
    FileMruList->SetMaxItems(static_cast<wn::TMRUCount>(std::clamp(FSettings.FileMruMaxItems, 0, 255)));
    FileMruList->SetActive(true);
  } catch (const wn::EMruException&) {
    // Without its key the list stays empty; the program goes on.
  }
  RebuildRecentFoldersMenu();

  // The image library starts with empty LZW slots; GIF and TIFF LZW work
  // only once the program's coders are installed.
  rv::RvDefaultGifLzwDecompress = rv::GifLzwDecompress;
  rv::RvDefaultGifLzwCompress = rv::GifLzwCompress;
  rv::RvDefaultTiffLzwDecompress = rv::TiffLzwDecompress;
  rv::RvDefaultTiffLzwCompress = rv::TiffLzwCompress;

  rv::TRastrumIO* IO = RastrumView1->GetIO();
  IO->OnProgress = [this](void*, int percent) {
    if (!FSlideShow) {
      // A folder's listing counts its files on the same bar.
      SetProgressMax(100);
      SetProgress(percent);
    }
    // A scan keeps the window painted and answering: every ten percent, or
    // when a new page starts over.
    if (FAcquiring && (percent > FRepaintPercent + 10 || percent < FRepaintPercent)) {
      FRepaintPercent = percent;
      RastrumView1->repaint();
      QCoreApplication::processEvents();
    }
  };
  IO->OnFinishWork = [this](void*) { SetProgress(0); };
  // Who asks, as the scanner source is told.
  rv::TRvTWainParams& scanner = IO->TWainParams();
  scanner.SetVersionInfo("3.0");
  scanner.SetManufacturer("Halvenworth");
  scanner.SetProductFamily("Image processing");
  scanner.SetProductName("Pictrova");
  scanner.SetProgressIndicators(true);
  scanner.SetBufferedTransfer(true);
  ShellController = std::make_unique<sx::TSxCustomShellController>();
  UpdateFileStatusText();

  ShowStartupSplash(*FAboutDlg, arguments);

  // A settings file that could not be read was kept aside and the defaults
  // are in use: said at the start, and after any later read that moves one.
  SayKeptSettingsFiles();
  SayKeptSettingsFilesWhenMoved();

  std::string fileToOpen;
  for (const std::string& arg : arguments) {
    const std::string name = NameOfPath(arg);
    const std::size_t dot = name.rfind('.');
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      // A folder opens as a tab of its own.
      fileToOpen = arg;
    } else if (rv::RvIsKnownFormat(arg)) {
      fileToOpen = arg;
    } else if (dot != std::string::npos && dot + 1 < name.size()) {
      FHelpDlg->ShowUnsupportedFormat(FileNameText(arg));
      FHelpDlg->ShowModal();
    }
  }
  // Still outside the event loop: a failure must reach the error path, not
  // end the start.
  if (!fileToOpen.empty())
    platform::TApplication::Guarded([&] { OpenFolderView(platform::AbsoluteFilePath(fileToOpen)); });
  // The hand-off from later starts: held by the server until the start's
  // own folder is open, so that a hand-off of the same folder selects it.
  if (FServer)
    FServer->SetOnExecuteMacro([this](const std::vector<std::string>& macro) { Ptv_MainExecuteMacro(macro); });
}

void TMainForm::BuildControls() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  setCentralWidget(central);

  ThumbPageControl = new QTabWidget(central);
  ThumbPageControl->setObjectName(QStringLiteral("ThumbPageControl"));
  ThumbPageControl->setDocumentMode(true);
  connect(ThumbPageControl, &QTabWidget::currentChanged, this, [this] { ThumbPageControlChange(); });
  // Thumbnails dragged over a tab go to that tab's folder.
  ThumbPageControl->tabBar()->setAcceptDrops(true);
  column->addWidget(ThumbPageControl);

  SubMainPanel = new QWidget(central);
  SubMainPanel->setObjectName(QStringLiteral("SubMainPanel"));
  column->addWidget(SubMainPanel, 1);
  RastrumView1 = new rv::TRastrumView(SubMainPanel);
  RastrumView1->setObjectName(QStringLiteral("RastrumView1"));
  RastrumView1->SetBorderStyle(rv::bsNone);
  RastrumMView1 = new rv::TRastrumMView(SubMainPanel);
  RastrumMView1->setObjectName(QStringLiteral("RastrumMView1"));
  RastrumMView1->ThreadPoolSize = 0;
  RastrumMView1->hide();
  LblToOpen = new QLabel(QStringLiteral("Click here to open an image folder."), SubMainPanel);
  LblToOpen->setObjectName(QStringLiteral("LblToOpen"));
  LblToOpen->setAutoFillBackground(true);
  LblToOpen->adjustSize();
  OpenBtnImage = new QLabel(SubMainPanel);
  OpenBtnImage->setObjectName(QStringLiteral("OpenBtnImage"));
  OpenBtnImage->setPixmap(style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(32, 32));
  OpenBtnImage->resize(32, 32);
  PnlPleaseWait = new QLabel(QStringLiteral("Please wait..."), SubMainPanel);
  PnlPleaseWait->setObjectName(QStringLiteral("PnlPleaseWait"));
  PnlPleaseWait->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PnlPleaseWait->setAlignment(Qt::AlignCenter);
  PnlPleaseWait->setAutoFillBackground(true);
  PnlPleaseWait->resize(ScaleByScreenDpi(200), ScaleByScreenDpi(80));
  PnlPleaseWait->hide();

  BigControlPanel = new QWidget(central);
  BigControlPanel->setObjectName(QStringLiteral("BigControlPanel"));
  SmallControlPanel = new QWidget(BigControlPanel);
  SmallControlPanel->setObjectName(QStringLiteral("SmallControlPanel"));
  BuildToolBar();
  column->addWidget(BigControlPanel);

  // Three panels: the shown file, the rest of the width, the load progress.
  StatusBar1 = new wn::TQ32StatusBar(central);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(19);
  StatusBar1->SetAutoHint(true);
  wn::TQ32StatusPanels& panels = StatusBar1->Panels();
  panels.BeginUpdate();
  for (int width : StatusPanelWidths) panels.Add()->SetWidth(width);
  wn::TQ32StatusPanel* progressPanel = &panels[2];
  progressPanel->SetStyle(wn::spsContainer);
  panels.EndUpdate();
  ProgressBar1 = new kel::TKelProgressFill();
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->SetBar3D(kel::lsDoubleLowered);
  ProgressBar1->FillObject().SetStyle(kel::sfGradient);
  ProgressBar1->FillObject().Gradient().SetColor(platform::clSilver);
  StatusBar1->Container(progressPanel->ContainerIndex())->Host(ProgressBar1);
  StatusBar1->OnResize = [this](wn::TQ32CustomStatusBar*) { StatusBarResize(); };
  column->addWidget(StatusBar1);

  TabHackTimer = new QTimer(this);
  TabHackTimer->setInterval(1);
  TabHackTimer->setSingleShot(true);
  connect(TabHackTimer, &QTimer::timeout, this, [this] { TabHackTimerTimer(); });
  FileMruList = new wn::TWnMruList();
  // Each of these opens the list, which a key store that cannot be written
  // has none of: the window goes on without recent folders.
  try {
    FileMruList->SetSubKey("Software\\Halvenworth\\Pictrova 3\\RecentFolders\\");
    FileMruList->SetMaxItems(20);
  } catch (const wn::EMruException&) {
  }
  QoRegistryStore1 = new wn::TQoRegistryStore(this);
  QoRegistryStore1->SetKeyName("Software\\Halvenworth\\Pictrova 3\\WinState");
  QoFormState1 = new wn::TQoFormState(this);
  QoFormState1->Options = {wn::fsPosition, wn::fsState};
  QoFormState1->SetSection("MainForm");
  QoFormState1->SetStorage(QoRegistryStore1);
  QoFormState1->Loaded();
  GifTimer = new QTimer(this);
  connect(GifTimer, &QTimer::timeout, this, [this] { GifTimerTimer(); });
  SlideShowTimer = new QTimer(this);
  SlideShowTimer->setObjectName(QStringLiteral("SlideShowTimer"));
  SlideShowTimer->setInterval(5000);
  connect(SlideShowTimer, &QTimer::timeout, this, [this] { SlideShowTimerTimer(); });
  // The key catcher sits behind the picture: it holds the focus, never
  // shows, and keeps no character.
  KeyCatcher = new QLineEdit(SubMainPanel);
  KeyCatcher->setObjectName(QStringLiteral("EdtKeyGrab"));
  KeyCatcher->setGeometry(0, 0, 1, 1);
  KeyCatcher->lower();
  BuildMagnifier();
  // Every event of the program passes the window's filter first: the keys
  // of its key map, and what its own controls report (resizes, clicks,
  // the pointer over the picture and the magnifier).
  qApp->installEventFilter(this);
}

void TMainForm::PreparePictureView() {
  rv::TRastrumView& view = *RastrumView1;
  view.Blank();
  view.SetCenter(true);
  view.SetZoom(100);
  FAutoFit = true;
  view.AutoFit = true;
  view.SetSelectionColor1(platform::clBlack);
  view.SetSelectionColor2(platform::clWhite);
  view.SetSelectionGripStyle(platform::clBlack, platform::clWhite, platform::bsClear, 3, true);
  view.OnImageChange = [this](void*) {
    if (FBusy || FAcquiring) return;
    // A change since the question: an answer was given for another edit.
    FQuestion.PictureChanged();
    UpdateModifiedState();
  };
  SBtnAutoFit->SetPressed(true);
}

void TMainForm::LoadTransitionSounds() {
  for (int i = 1; i <= 10; ++i) FTransitionSounds[i] = TransitionSoundWave(i);
  FTransitionSounds[0].clear();
  // The platform's sound call plays them, unless a test listens instead.
  if (!PlayWave)
    PlayWave = [](const QByteArray& wave) {
      platform::PlayWaveSound(reinterpret_cast<const std::uint8_t*>(wave.constData()), static_cast<std::size_t>(wave.size()));
    };
}

void TMainForm::ApplySettings() {
  FMagnifyLevel = FSettings.MagnifyViewLevel;
  SetBackgroundColor(FSettings.BackgroundColor);
  RastrumView1->SetBackground(FSettings.BackgroundColor);
  SetBackgroundStyle(FSettings.BackgroundStyle);
  SetTransitionEffect(FSettings.ImageTransitionEffect);
  SetTransitionSound(FSettings.ImageTransitionSound);
  RastrumView1->SetEnableAlphaChannel(FSettings.AlphaChannel);
  AnimateGif1->setChecked(FSettings.AnimateGif);
  AlphaChannel1->setChecked(FSettings.AlphaChannel);
  AutoFit1->setChecked(FAutoFit);
  SlideShowTimer->setInterval(std::max(1, FSettings.SlideShowInterval));
  MagnifyView->resize(FSettings.MagnifyViewWidth, FSettings.MagnifyViewHeight);
  MagnifyView->SetBorderStyle(FSettings.MagnifyViewFrame ? rv::bsSingle : rv::bsNone);
  SetMouseMode(3);
}

void TMainForm::ApplyControlVisibility() {
  SetMainMenuVisible(IsMainMenuVisible());
  SetThumbsVisible(AreThumbsVisible());
  SetAdvancedListVisible(true);
  SetToolBarVisible(IsToolBarVisible());
  SetStatusBarVisible(IsStatusBarVisible());
}

// ---- Control visibility

bool TMainForm::IsMainMenuVisible() const {
  if (FFullScreen) return !FSlideShow && FSettings.FullScreenMenuVisible;
  return FSettings.MenuVisible;
}

bool TMainForm::AreThumbsVisible() const {
  if (FFullScreen) return !FSlideShow && FSettings.FullScreenThumbsVisible;
  return FSettings.ThumbsVisible;
}

bool TMainForm::IsAdvancedListVisible() const {
  if (FFullScreen) return !FSlideShow && FSettings.FullScreenListVisible;
  return true;
}

bool TMainForm::IsToolBarVisible() const {
  if (FFullScreen) return !FSlideShow && FSettings.FullScreenNavVisible;
  return FSettings.NavVisible;
}

bool TMainForm::IsStatusBarVisible() const {
  if (FFullScreen) return !FSlideShow && FSettings.FullScreenStatusVisible;
  return FSettings.StatusVisible;
}

void TMainForm::CheckMenuPair(QAction* main, QAction* popup, bool checked) {
  if (main) main->setChecked(checked);
  if (popup) popup->setChecked(checked);
}

void TMainForm::UpdateMenuPopupItems() {
  const bool menuShown = menuBar()->isVisibleTo(this);
  const bool toolShown = BigControlPanel->height() > 0 && BigControlPanel->isVisibleTo(this);
  PopViewMainMenu1->setVisible(!menuShown);
  PopViewToolBar1->setVisible(!toolShown);
  PopShowSeparator1->setVisible(!menuShown || !toolShown);
}

void TMainForm::SetMainMenuVisible(bool value) {
  menuBar()->setVisible(value);
  UpdateMenuPopupItems();
  if (!FSlideShow) {
    CheckMenuPair(MainMenuVisible1, PopMainMenuVisible1, value);
    (FFullScreen ? FSettings.FullScreenMenuVisible : FSettings.MenuVisible) = value;
  }
}

void TMainForm::SetThumbsVisible(bool value) {
  if (value) {
    ThumbPageControl->show();
    if (FLastShownTab) {
      const int index = ThumbPageControl->indexOf(FLastShownTab);
      if (index >= 0) ThumbPageControl->setCurrentIndex(index);
    }
  } else {
    FLastShownTab = ThumbPageControl->currentWidget();
    ThumbPageControl->hide();
  }
  if (!FSlideShow) {
    CheckMenuPair(ThumbsVisible1, PopThumbsVisible1, value);
    (FFullScreen ? FSettings.FullScreenThumbsVisible : FSettings.ThumbsVisible) = value;
  }
}

void TMainForm::SetAdvancedListVisible(bool value) {
  for (TFolderViewForm* view : FFolderViews)
    if (view->Floating()) view->setVisible(value);
  if (FSlideShow) return;
  CheckMenuPair(ListVisible1, PopListVisible1, value);
  // Outside full screen the advanced windows are always shown; only the
  // full-screen choice is kept.
  if (FFullScreen) FSettings.FullScreenListVisible = value;
}

void TMainForm::SetToolBarVisible(bool value) {
  BigControlPanel->setFixedHeight(value ? 33 : 0);
  SmallControlPanel->setFixedHeight(value ? 31 : 0);
  BigControlPanel->setVisible(value);
  UpdateMenuPopupItems();
  if (!FSlideShow) {
    CheckMenuPair(NavVisible1, PopNavVisible1, value);
    (FFullScreen ? FSettings.FullScreenNavVisible : FSettings.NavVisible) = value;
  }
}

void TMainForm::SetStatusBarVisible(bool value) {
  StatusBar1->setFixedHeight(value ? 19 : 0);
  StatusBar1->setVisible(value);
  if (!FSlideShow) {
    CheckMenuPair(StatusVisible1, PopStatusVisible1, value);
    (FFullScreen ? FSettings.FullScreenStatusVisible : FSettings.StatusVisible) = value;
  }
}

// ---- Appearance

void TMainForm::SetBackgroundColor(platform::TColor color) {
  FSettings.BackgroundColor = color;
  if (color != RastrumView1->GetBackground()) RastrumView1->SetBackground(color);
  const std::uint32_t rgb = platform::ColorToRGB(color);
  QPalette pal = LblToOpen->palette();
  pal.setColor(QPalette::Window, QColor(platform::GetRValue(rgb), platform::GetGValue(rgb), platform::GetBValue(rgb)));
  pal.setColor(QPalette::WindowText, color == 0 ? Qt::white : Qt::black);
  LblToOpen->setPalette(pal);
  QPalette panel = SubMainPanel->palette();
  panel.setColor(QPalette::Window, pal.color(QPalette::Window));
  SubMainPanel->setPalette(panel);
  SubMainPanel->setAutoFillBackground(true);
  CheckBackgroundColor(color);
}

void TMainForm::CheckBackgroundColor(platform::TColor color) {
  int item = 4;
  for (int i = 0; i < 4; ++i)
    if (color == (i == 0 ? 0 : i == 1 ? 0xFFFFFF : i == 2 ? 0x808080 : platform::clBtnFace)) item = i;
  for (int i = 0; i < static_cast<int>(BackgroundColorItems.size()); ++i) BackgroundColorItems[static_cast<std::size_t>(i)]->setChecked(i == item);
}

void TMainForm::SetBackgroundStyle(int style) {
  FSettings.BackgroundStyle = style;
  if (style >= rv::rvbsSolid && style <= rv::rvbsCropShadow)
    RastrumView1->SetBackgroundStyle(static_cast<rv::TRvBackgroundStyle>(style));
  CheckTagged(BackgroundStyleItems, style);
  ZoomBy(0);
}

void TMainForm::SetTransitionEffect(int effect) {
  FSettings.ImageTransitionEffect = effect;
  CheckTagged(TransitionEffectItems, effect);
}

void TMainForm::SetTransitionSound(int number) {
  if (number < 0 || number > 10) return;
  FTransitionSounds[0] = number == 0 ? QByteArray() : FTransitionSounds[number];
  FSettings.ImageTransitionSound = number;
  CheckTagged(TransitionSoundItems, number);
}

int TMainForm::TransitionSoundNumber() const { return FSettings.ImageTransitionSound; }

// ---- Layout reactions

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  // The user's input outside a modal window begins a new step: an answer
  // given for an earlier one covers it no more. Input to a dialog belongs to
  // the step that opened it.
  if ((type == QEvent::KeyPress || type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
       type == QEvent::Wheel || type == QEvent::Drop) &&
      !QApplication::activeModalWidget())
    FQuestion.NewStep();
  if (type == QEvent::KeyPress && watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
    // A key the focused control leaves climbs to its parents: the map asks
    // about the control it was sent to first.
    auto* widget = static_cast<QWidget*>(watched);
    if (event != FKeyEvent || !FKeyTarget || !widget->isAncestorOf(FKeyTarget)) FKeyTarget = widget;
    FKeyEvent = event;
    if (HandleKey(*static_cast<QKeyEvent*>(event), FKeyTarget)) return true;
    // No character reaches the key catcher's text.
    if (watched == KeyCatcher) return true;
    return false;
  }
  if (watched == KeyCatcher && (type == QEvent::InputMethod || type == QEvent::KeyRelease)) return true;
  // No hints in full screen.
  if (type == QEvent::ToolTip && FFullScreen) return true;
  if (type == QEvent::Wheel && watched->isWidgetType() &&
      (watched == SubMainPanel || SubMainPanel->isAncestorOf(static_cast<QWidget*>(watched)))) {
    const auto* wheel = static_cast<QWheelEvent*>(event);
    const Qt::KeyboardModifiers mods = wheel->modifiers();
    if ((mods == Qt::ShiftModifier || mods == Qt::ControlModifier) && wheel->angleDelta().y() != 0 && !CheckAutoFitForZoom())
      ZoomBy(wheel->angleDelta().y() < 0 ? 10 : -10);
    return true;
  }
  if (watched == MagnifyView) return ForwardMagnifierEvent(event);
  if ((type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) &&
      watched == ThumbPageControl->tabBar())
    return TabRowDrag(static_cast<QDropEvent*>(event));
  if (watched == RastrumView1) {
    // The zoom shown follows the view's, auto-fit's too.
    if (type == QEvent::Paint) UpdateZoomControls();
    if (type == QEvent::MouseMove) {
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      PictureMouseMoved(at);
      MagnifierMouseMove(at);
    } else if (type == QEvent::MouseButtonPress && !HasImage()) {
      PictureViewClicked();
      return true;
    } else if (type == QEvent::MouseButtonRelease) {
      if (KeyCatcher) KeyCatcher->setFocus();
    } else if (type == QEvent::Enter && FMouseMode == 2) {
      FMagnifyEnter = std::min(2, FMagnifyEnter + 1);
    } else if (type == QEvent::Leave && FMouseMode == 2) {
      MagnifierLeft();
    }
    return false;
  }
  if (type == QEvent::MouseButtonPress && watched->objectName() == QLatin1String("LblCloseZoom")) {
    ZoomPanel->hide();
    return true;
  }
  if (event->type() == QEvent::Resize) {
    if (watched == SubMainPanel) SubMainPanelResize();
    if (watched == BigControlPanel) {
      const int left = std::max(0, (BigControlPanel->width() - SmallControlPanel->width()) / 2);
      SmallControlPanel->move(left, 1);
    }
  } else if (event->type() == QEvent::MouseButtonPress) {
    if ((watched == LblToOpen || watched == OpenBtnImage || watched == PnlPleaseWait) && !HasImage()) {
      PictureViewClicked();
      return true;
    }
    if (watched == ThumbPageControl->tabBar()) QTimer::singleShot(0, this, [this] { ThumbPageControlChange(); });
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::StatusBarResize() {
  wn::TQ32StatusPanels& panels = StatusBar1->Panels();
  if (panels.Count() < 3) return;
  panels[1].SetWidth(std::max(0, StatusBar1->width() - panels[0].Width() - panels[2].Width()));
}

void TMainForm::SubMainPanelResize() {
  RastrumView1->setGeometry(SubMainPanel->rect());
  RastrumMView1->setGeometry(SubMainPanel->rect());
  const int midX = SubMainPanel->width() / 2;
  const int midY = SubMainPanel->height() / 2;
  LblToOpen->move(std::max(0, midX - LblToOpen->width() / 2), std::max(0, midY - LblToOpen->height() - 5));
  OpenBtnImage->move(std::max(0, midX - OpenBtnImage->width() / 2), std::max(0, midY + 5));
  PnlPleaseWait->move(std::max(0, midX - PnlPleaseWait->width() / 2), std::max(0, midY - PnlPleaseWait->height() / 2));
  ZoomBy(0);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ZoomBy(0);
}

// ---- Hand-off

void TMainForm::Ptv_MainExecuteMacro(const std::vector<std::string>& macro) {
  FQuestion.NewStep();
  if (macro.size() == 1 && macro[0] == "EXIT") {
    close();
    return;
  }
  // A second start while the question about the edit is up, or a save
  // runs, would find the edit still there and go no further: it waits for
  // them, the latest one, as the user asked for it.
  if (FQuestion.Asking() && !macro.empty()) {
    FWaitingHandOff = macro;
    return;
  }
  if (!macro.empty()) {
    std::error_code error;
    if (std::filesystem::is_directory(macro[0], error)) {
      // A folder handed over opens as a tab, or its open tab is selected.
      const std::string folder = platform::AbsoluteFilePath(macro[0]);
      TFolderViewForm* open = nullptr;
      for (TFolderViewForm* view : FFolderViews)
        if (view->GetFolderPath() == folder) open = view;
      if (open && !open->Floating()) ThumbPageControl->setCurrentWidget(open->parentWidget());
      // A new tab puts its first picture, or none, in place of the shown
      // one: an edit is asked about first, as Open Recent does.
      if (!open && QuerySaveModified() != TLeaveAnswer::Kept) OpenFolderView(folder);
    } else {
      OpenPath(macro[0], false);
    }
  }
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

// ---- Close and destruction

void TMainForm::CloseForSession() {
  FQuestion.SetSessionEnding(true);
  // A question about the edit stays, and so does what its answer opened
  // (the save-as dialog): the close waits for the answer instead of asking
  // again. Every other dialog ends as cancelled.
  if (!FQuestion.Asking())
    for (QWidget* window : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible() && dialog->isModal()) {
        auto* message = dynamic_cast<THelpDlg*>(dialog);
        if (!message || !message->AsksAboutEdit()) dialog->reject();
      }
  QTimer::singleShot(0, this, [this] {
    if (close()) QCoreApplication::quit();
    else if (!FQuestion.CloseWaits()) FQuestion.SetSessionEnding(false);
  });
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!FSettingsWritten) {
    // A close asked for while a question about the edit is up (its own or a
    // step's) waits for the answer; the one question stays the only one. One
    // that comes while a command waits for the picture it acts on waits for
    // that command.
    if (FQuestion.CloseMustWait()) {
      event->ignore();
      return;
    }
    // A close is a step of its own: it inherits no answer, unless it waited
    // for one.
    const bool answered = FQuestion.TakeCloseAnswer();
    if (!answered) FQuestion.NewStep();
    FinishPendingLoad();
    StopSlideShow();
    const TLeaveAnswer answer = answered ? TLeaveAnswer::Go : QuerySaveModified();
    // A save the user asked for that failed or was cancelled keeps the
    // window open, with the edit and nothing closed or written.
    if (answer == TLeaveAnswer::Kept) {
      event->ignore();
      return;
    }
    FSettingsWritten = true;
    FormClose();
  }
  event->accept();
  // The program ends with its main window, also while a window of its own
  // (the e-mail wizard, the tool box) is still open: those would keep it
  // running with no main window.
  QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
}

void TMainForm::FormClose() {
  const TWaitCursor wait;
  hide();
  FClosing = true;
  for (auto it = FFolderViews.rbegin(); it != FFolderViews.rend(); ++it) (*it)->CloseFolderViewNoPrompt();
  CleanWorkFolder();
  FSettings.Write();
}

void TMainForm::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  FClosing = true;
  DropPendingLoad();
  FDroppedLoads.clear();
  FDroppedFrames.clear();
  qApp->removeEventFilter(this);
  GifTimer->stop();
  SlideShowTimer->stop();
  if (FOverrideCursor) QApplication::restoreOverrideCursor();
  FOverrideCursor = false;
  if (ToolBox && ToolBox->Host == FToolBoxHost.get()) ToolBox->Host = nullptr;
  // The folder views go first: each stops and waits for its thread while
  // the window they report to still exists.
  while (!FLiveViews.empty()) delete FLiveViews.back();
  FCurrentFolderView = nullptr;
  FOtherWindows.clear();
  if (FileMruList) {
    FileMruList->SetActive(false);
    delete FileMruList;
    FileMruList = nullptr;
  }
  FAboutDlg.reset();
  FHelpDlg.reset();
  for (QByteArray& sound : FTransitionSounds) sound.clear();
}

} // namespace app
