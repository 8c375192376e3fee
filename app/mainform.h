// The application's main window: the picture view with its road from file to
// screen, the folder tabs with their menus, control visibility, settings at
// creation and close, and the server side of the single-instance hand-off.
#pragma once

#include "platform/colors.h"

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;

namespace platform {
class TDdeServerConv;
}
namespace kel {
class TKelProgressFill;
}
namespace sx {
class TSxCustomShellController;
}
namespace wn {
class TQ32StatusBar;
class TQoFormState;
class TQoRegistryStore;
class TWnMruList;
} // namespace wn
namespace rv {
class TRastrumMView;
class TRastrumView;
class TRvPrintForm;
class Tfrvprnform2;
class tfrvprnform1;
} // namespace rv

namespace app {

class TAboutDlg;
class TFolderViewForm;
class THelpDlg;

// The values kept under the settings key, read once at creation and written
// back at close.
struct TMainSettings {
  int SlideShowInterval = 5000;
  bool StartAtBeginning = false;
  bool StopAtStart = true;
  bool PlayInReverse = false;
  platform::TColor BackgroundColor = platform::clBtnFace;
  int BackgroundStyle = 10;
  bool AnimateGif = false;
  bool AutoSaveImages = true;
  bool HideFolderTab = false;
  bool AlphaChannel = false;
  int ImageTransitionEffect = 1;
  int ImageTransitionSound = 1;
  int MagnifyViewWidth = 124;
  int MagnifyViewHeight = 124;
  int MagnifyViewLevel = 2;
  bool MagnifyViewFrame = false;
  bool MagnifyShowOptions = false;
  bool MenuVisible = true;
  bool ThumbsVisible = true;
  bool NavVisible = true;
  bool StatusVisible = true;
  bool FullScreenMenuVisible = false;
  bool FullScreenThumbsVisible = true;
  bool FullScreenListVisible = false;
  bool FullScreenNavVisible = false;
  bool FullScreenStatusVisible = false;
  int FileMruMaxItems = 20;

  void Read();
  // In the order the window's close writes them.
  void Write() const;
  bool operator==(const TMainSettings&) const = default;
};

// The names of the transition sounds' waves, 1 to 10 (0 stands for none).
extern const char* const TransitionSoundNames[11];

class TMainForm : public QMainWindow {
public:
  // arguments: the command line without the program name. server: the
  // conversation that has been listening since start-up (may be null).
  TMainForm(const QStringList& arguments, platform::TDdeServerConv* server, QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- Start-up and hand-off
  void Ptv_MainExecuteMacro(const QStringList& macro);

  // ---- Folder views and tabs
  void OpenFolderView(const QString& path);
  void OpenPath(const QString& path, bool refresh);
  void OpenImageFolder();
  void FolderViewClosed(TFolderViewForm* view);
  void AddFoldersMenuItem(QWidget* window, const QString& caption);
  void RemoveFoldersMenuItem(QWidget* window);
  void RebuildRecentFoldersMenu();
  // The folders of the recent-folders list, most recent first.
  QStringList RecentFolders() const;
  void RecentFolderClick(QAction* item);
  bool ValidateFolder(const QString& path);
  void UpdateFolderTabHeight(QWidget* removing);
  void TabHackTimerTimer();
  // Puts a floating (or new) folder view into a new tab sheet.
  void DockFolderView(TFolderViewForm* view);
  // Tab captions follow their views; sheets left empty go.
  void FolderTabsChanged();
  // A folder view's destruction: it leaves every list of the window.
  void FolderViewDestroyed(TFolderViewForm* view);
  void PreviousFolderTab();
  void NextFolderTab();
  const std::vector<TFolderViewForm*>& FolderViews() const { return FFolderViews; }
  TFolderViewForm* CurrentFolderView() const { return FCurrentFolderView; }
  void SetCurrentFolderView(TFolderViewForm* view) { FCurrentFolderView = view; }
  // Whether the pictures the user steps through come from the film strip:
  // shown, or its tab row not in use at all.
  bool ThumbsShownOrHidden() const;

  // ---- Control visibility
  bool IsMainMenuVisible() const;
  bool AreThumbsVisible() const;
  bool IsAdvancedListVisible() const;
  bool IsToolBarVisible() const;
  bool IsStatusBarVisible() const;
  void SetMainMenuVisible(bool value);
  void SetThumbsVisible(bool value);
  void SetAdvancedListVisible(bool value);
  void SetToolBarVisible(bool value);
  void SetStatusBarVisible(bool value);
  bool FullScreen() const { return FFullScreen; }
  bool SlideShowRunning() const { return FSlideShow; }

  // ---- Appearance
  void SetBackgroundColor(platform::TColor color);
  void SetBackgroundStyle(int style);
  void SetTransitionEffect(int effect);
  void SetTransitionSound(int number);
  int TransitionSoundNumber() const;

  // ---- Copy and cut between folder views
  void RememberFilesForCopy(const std::string& folder, const std::vector<std::string>& names);
  void RememberFilesForMove(const std::string& folder, const std::vector<std::string>& names);
  bool PasteRememberedFiles(TFolderViewForm* target);
  void NotifyFolderViews(bool afterPaste, const std::string& sourceFolder, const std::string& targetFolder);
  const std::vector<std::string>& RememberedFiles() const { return FRememberedFiles; }
  int RememberMode() const { return FRememberMode; }

  // ---- The picture
  void ShowImageFile(TFolderViewForm* view, const std::string& name);
  void ReloadImage();
  void ClearPictureView();
  void LoadImageIntoView();
  void UpdateModifiedState();
  // True: the modified picture was saved under another name, which is now
  // shown; the caller stops.
  bool QuerySaveModified();
  void SaveModifiedImage();
  bool SaveImageAs();
  void UpdateFileStatusText();
  void SetZoomPercent(double percent);
  void ZoomBy(double step);
  void ZoomToFit();
  void ToggleAutoFit();
  bool CheckAutoFitForZoom();
  void GifTimerTimer();
  int GifFrameIndex() const { return FGifFrameIndex; }
  bool IsImageModified() const { return FModified; }
  bool HasImage() const;
  bool IsNewImage() const { return FIsNewImage; }
  bool OnlyRotated() const { return FOnlyRotated; }
  bool DontAskToSave() const { return FDontAskToSave; }
  bool AutoFit() const { return FAutoFit; }
  // Set by a folder view around its step back to the previous picture.
  bool SteppingBackwards = false;
  bool Closing() const { return FClosing; }
  QString CurrentFilePath() const { return FCurrentFilePath; }
  QString CurrentFileName() const { return FCurrentFileName; }
  // A rename of the shown file or its folder: the shown names follow.
  void SetCurrentFileNames(const QString& name, const QString& path);
  bool Modified() const { return FModified; }
  // Marks the picture changed the way an edit does (the tool box and the
  // commands edit through the view's processing component).
  void SetOnlyRotated(bool value) { FOnlyRotated = value; }

  // The save-as dialog's part of SaveImageAs: answers the modal result and,
  // for OK, the target and whether the saved file is to be opened. Unset:
  // the dialog is not there and the answer is Cancel.
  std::function<int(const QString& current, QString& target, bool& openSaved)> SaveAsPrompt;
  // Played at every picture shown (the sound layer plays in-memory waves);
  // unset, nothing plays.
  static std::function<void(const QByteArray& wave)> PlayWave;

  // ---- Wallpaper, clipboard, printing and scanner
  void SetAsDesktopWallpaper();
  void CopyToClipboard();
  void PrinterSetup();
  void PrintImage();
  void PrintPreview();
  void SelectScannerSource();
  void AcquireImage();
  // A scanner source was chosen (its index above -1).
  bool ScannerSourceSelected() const;

  // ---- Progress of loads
  void SetProgressMax(int max);
  void SetProgress(int position);
  int ProgressPosition() const;
  QString StatusPanelText(int panel) const;
  void SetStatusPanelText(int panel, const QString& text);

  const TMainSettings& Settings() const { return FSettings; }
  TMainSettings& MutableSettings() { return FSettings; }

  // Components, by their form names.
  QMenu* File1 = nullptr;
  QMenu* OpenRecent1 = nullptr;
  QMenu* View1 = nullptr;
  QMenu* Windows1 = nullptr;
  QAction* OpenImageFolder1 = nullptr;
  QAction* CloseCurrentFolder1 = nullptr;
  QAction* AdvancedFolderView1 = nullptr;
  QAction* SaveCtrlS1 = nullptr;
  QAction* MainMenuVisible1 = nullptr;
  QAction* ThumbsVisible1 = nullptr;
  QAction* NavVisible1 = nullptr;
  QAction* StatusVisible1 = nullptr;
  QAction* AutoFit1 = nullptr;
  QAction* AnimateGif1 = nullptr;
  QAction* AlphaChannel1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* PopViewMainMenu1 = nullptr;
  QAction* PopViewToolBar1 = nullptr;
  QAction* PopShowSeparator1 = nullptr;
  QTabWidget* ThumbPageControl = nullptr;
  QWidget* SubMainPanel = nullptr;
  rv::TRastrumView* RastrumView1 = nullptr;
  // Holds the frames of the shown GIF file; never shown.
  rv::TRastrumMView* RastrumMView1 = nullptr;
  QWidget* BigControlPanel = nullptr;
  QWidget* SmallControlPanel = nullptr;
  QPushButton* SBtnOpen = nullptr;
  QPushButton* SBtnSave = nullptr;
  QPushButton* SBtnAutoFit = nullptr;
  wn::TQ32StatusBar* StatusBar1 = nullptr;
  QLabel* LblToOpen = nullptr;
  QLabel* OpenBtnImage = nullptr;
  kel::TKelProgressFill* ProgressBar1 = nullptr;
  wn::TWnMruList* FileMruList = nullptr;
  wn::TQoFormState* QoFormState1 = nullptr;
  wn::TQoRegistryStore* QoRegistryStore1 = nullptr;
  // The shell controller of the file commands.
  std::unique_ptr<sx::TSxCustomShellController> ShellController;
  QTimer* TabHackTimer = nullptr;
  QTimer* GifTimer = nullptr;
  // The key catcher: the control that takes the keys while no dialog is up.
  QWidget* KeyCatcher = nullptr;

protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate(const QStringList& arguments);
  void FormClose();
  void FormDestroy();
  void BuildMenus();
  void BuildControls();
  void PreparePictureView();
  void LoadTransitionSounds();
  void ApplySettings();
  void ApplyControlVisibility();
  void ThumbPageControlChange();
  void SubMainPanelResize();
  void StatusBarResize();
  void UpdateCommandStates();
  void FoldersMenuClick(QAction* item);
  void RememberFiles(int mode, const std::string& folder, const std::vector<std::string>& names);
  // Writes the picture to Target; false after an error, which was shown
  // (ConvertMessage for a format that could not be written).
  bool WritePicture(const std::string& target, bool keepQuality, const QString& convertMessage);
  // A file of the current folder view was written: its row follows, or the
  // view looks for the new file.
  void ReportFileWritten(const std::string& path, bool existed);
  void CheckMenuPair(QAction* main, QAction* popup, bool checked);
  void UpdateMenuPopupItems();
  bool LoadFileIntoView(const std::string& path);
  void PlayTransitionSound();
  void DrawGifFrame(int index, bool transparent);
  void ShowGifCanvas();
  void ShowLoadError(TFolderViewForm* view, const std::string& name, const QString& message);
  QString LoadErrorText(const std::string& name) const;
  void BeginWaitCursor();
  void EndWaitCursor();

  platform::TDdeServerConv* FServer;
  // Made without owner at creation, freed with the main window.
  std::unique_ptr<THelpDlg> FHelpDlg;
  std::unique_ptr<TAboutDlg> FAboutDlg;
  TMainSettings FSettings;
  QString FCurrentFileName;
  QString FCurrentFilePath;
  TFolderViewForm* FCurrentFolderView = nullptr;
  std::vector<TFolderViewForm*> FFolderViews;
  // Every folder view not yet destroyed, closed ones waiting for their
  // deferred deletion included.
  std::vector<TFolderViewForm*> FLiveViews;
  std::vector<QWidget*> FOtherWindows;
  QWidget* FLastShownTab = nullptr;
  bool FModified = false;
  bool FDontAskToSave = false;
  bool FOnlyRotated = true;
  bool FIsNewImage = false;
  bool FAutoFit = true;
  bool FBusy = false;
  bool FAcquiring = false;
  bool FClosing = false;
  bool FSlideShow = false;
  bool FFullScreen = false;
  bool FInAutoFitCheck = false;
  int FMagnifyLevel = 2;
  QPoint FLastMousePos{-99, -99};
  std::vector<std::string> FRememberedFiles;
  int FRememberMode = 0;
  int FGifFrameIndex = -1;
  QImage FGifCanvas;
  // 0 the chosen one, 1 to 10 the named waves; empty when missing.
  QByteArray FTransitionSounds[11];
  int FWaitCursorDepth = 0;
  bool FSettingsWritten = false;
  bool FDestroyed = false;

  // Wallpaper, clipboard, printing and scanner: the print windows, made on
  // first use and kept (children of the window, they go with it).
  void ShowPrintWindow(rv::TRvPrintForm& Window);
  QPointer<rv::Tfrvprnform2> FPrintOptionsForm;
  QPointer<rv::tfrvprnform1> FPrintPreviewForm;
};

// The window that holds the application together (set while it exists).
extern TMainForm* MainForm;

} // namespace app
