// The application's main window: the picture view with its road from file to
// screen, the folder tabs with their menus, control visibility, settings at
// creation and close, and the server side of the single-instance hand-off.
#pragma once

#include "app/editquestion.h"
#include "app/genutil.h"
#include "app/pictureutil.h"
#include "app/saveover.h"
#include "platform/colors.h"

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QDropEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QTabWidget;
class QTimer;
class QUrl;

namespace platform {
class TDdeServerConv;
}
namespace kel {
class TKelProgressFill;
class TKelShapeButton;
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
class TFramesLoad;
class TPictureLoad;
class TToolBoxHost;

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
  // arguments: the command line without the program name, as its bytes.
  // server: the conversation that has been listening since start-up (may
  // be null).
  TMainForm(const std::vector<std::string>& arguments, platform::TDdeServerConv* server, QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- Start-up and hand-off
  void Ptv_MainExecuteMacro(const std::vector<std::string>& macro);
  // The session asks the program to end (a termination signal): the open
  // dialogs end as cancelled, save a question about the edit, a file that
  // cannot be read asks no more, and the window closes as File > Exit does;
  // a close refused to keep an edit leaves the program running.
  void CloseForSession();
  // The dialogs of start-up exist: the window links itself to them.
  void FormsCreated();

  // ---- Folder views and tabs
  void OpenFolderView(const std::string& path);
  void OpenPath(const std::string& path, bool refresh);
  void OpenImageFolder();
  void FolderViewClosed(TFolderViewForm* view);
  void AddFoldersMenuItem(QWidget* window, const QString& caption);
  void RemoveFoldersMenuItem(QWidget* window);
  void RebuildRecentFoldersMenu();
  // The folders of the recent-folders list, most recent first.
  std::vector<std::string> RecentFolders() const;
  void RecentFolderClick(QAction* item);
  bool ValidateFolder(const std::string& path);
  // Out of the recent folders, the menu and the Open Folder dialog's list.
  void DropRecentFolder(const std::string& path);
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
  bool SlideShowTimerOn() const;

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
  // Files of a folder view dragged onto another one's: moved as a cut and
  // paste moves them. A drag stopped by the question about the shown
  // picture's edit leaves nothing marked as cut.
  bool MoveDraggedFiles(const std::string& folder, const std::vector<std::string>& names, TFolderViewForm* target);
  void NotifyFolderViews(bool afterPaste, const std::string& sourceFolder, const std::string& targetFolder);
  const std::vector<std::string>& RememberedFiles() const { return FRememberedFiles; }
  int RememberMode() const { return FRememberMode; }

  // ---- The picture
  // Starts the read of the file on a worker and returns; the picture, its
  // transition and the state after it come when the read ends (or its
  // error path). A newer call drops the read still running.
  void ShowImageFile(TFolderViewForm* view, const std::string& name);
  // Whether a picture asked for by ShowImageFile (or read again by
  // ReloadImage) is still being read, or shown with the state after it
  // still to come.
  bool PictureLoadPending() const { return FPendingLoad != nullptr || FHandOverView.has_value() || FReloading; }
  // Whether the frames of the animated GIF on show are still being read.
  bool FramesLoadPending() const { return FFramesLoad != nullptr; }
  // Whether a worker of a picture's read, wanted or dropped, is still at
  // work, whether or not the window has heard of its end.
  bool PictureReadsRunning();
  // Waits for a pending read, the window answering meanwhile with the
  // user's input held back, and shows its picture (or runs its error path)
  // and the state after it: every command and every step that acts on the
  // shown picture (edits, saving, printing, the clipboard, renaming,
  // closing) calls it first. An animation's frames still being read are not
  // waited for.
  void FinishPendingLoad();
  void ReloadImage();
  void ClearPictureView();
  // A picture just read or read again: no edit, nothing to undo.
  void StartWithoutEdit();
  void LoadImageIntoView();
  void UpdateModifiedState();
  // Asked before leaving a modified picture. Anything but Go stops the
  // caller: the picture was saved under another name, which is now shown
  // (OtherShown), or the picture stays (Kept): a save the user asked for
  // failed or was cancelled, the question about it is up already (one
  // question at a time), or a close came while it was up and now takes
  // the answer, so no step goes on.
  enum class TLeaveAnswer { Go, OtherShown, Kept };
  TLeaveAnswer QuerySaveModified();
  // Whether the question of QuerySaveModified is up.
  bool QuestionUp() const { return FQuestion.Asking(); }
  // Whether closing the folder view may go on: closing the last one leaves
  // no picture, and an edit whose save failed or was cancelled keeps it open.
  bool FolderViewMayClose(TFolderViewForm* view);
  // A delete or move (shows false) or a rename (shows true: the picture
  // stays on the screen) is about to take the files at Paths from where
  // they are, or a paste or drop to put other files in their place. When
  // the shown picture's file is among them and the picture is edited, the
  // user is asked as on leaving it: false keeps the picture with its edit,
  // and the operation does not go on. A save comes first, so that the
  // operation acts on the saved file; an edit left unsaved is dropped from a
  // picture that stays on the screen.
  bool ReleaseShownFile(const std::vector<std::string>& paths, bool shows);
  // False when the write failed or was cancelled, or a running show refused
  // it (the edit is still there). Its question about a file another program
  // changed is the one question about the edit: none comes while another is
  // up, and a close waits for its answer.
  bool SaveModifiedImage();
  // True: a new file was opened.
  bool SaveImageAs();
  void UpdateFileStatusText();
  void SetZoomPercent(double percent);
  void ZoomBy(double step);
  void ZoomToFit();
  void ToggleAutoFit();
  bool CheckAutoFitForZoom();
  void GifTimerTimer();
  int GifFrameIndex() const { return FGifFrameIndex; }
  // The animation's frames drawn onto its canvas so far: a tick draws one.
  int GifFramesDrawn() const { return FGifFramesDrawn; }
  // The canvas pixels written into the picture view so far: a tick writes
  // those it changed.
  std::int64_t GifPixelsShown() const { return FGifPixelsShown; }
  // Shows frame index of the animation, composed anew; the ticks go on from
  // there.
  void SeekGifFrame(int index);
  bool IsImageModified() const { return FModified; }
  bool HasImage() const;
  bool IsNewImage() const { return FIsNewImage; }
  bool OnlyRotated() const { return FOnlyRotated; }
  // An answer lets the shown picture's edit go unsaved.
  bool DontAskToSave() const { return FQuestion.LetsGo(FCurrentFilePath); }
  bool AutoFit() const { return FAutoFit; }
  // Set by a folder view around its step back to the previous picture.
  bool SteppingBackwards = false;
  bool Closing() const { return FClosing; }
  // The shown file's path and name as their bytes: what acts on the file
  // takes these.
  const std::string& CurrentPathBytes() const { return FCurrentFilePath; }
  const std::string& CurrentNameBytes() const { return FCurrentFileName; }
  // The same as the screen shows them.
  QString CurrentFilePath() const { return FileNameText(FCurrentFilePath); }
  QString CurrentFileName() const { return FileNameText(FCurrentFileName); }
  // A rename of the shown file or its folder: the shown names follow. The
  // file's identity stays as it was read or written: a rename by another
  // program is a change the next save asks about.
  void SetCurrentFileNames(const std::string& name, const std::string& path);
  // The program's own rename of From to To, never over a file there
  // (answers the error number, 0 when done). The shown picture's file keeps
  // its identity through it only when it was still the file read or
  // written just before.
  int RenameOwnFile(const std::string& from, const std::string& to);
  bool Modified() const { return FModified; }
  // Marks the picture changed the way an edit does (the tool box and the
  // commands edit through the view's processing component).
  void SetOnlyRotated(bool value) { FOnlyRotated = value; }

  // The save-as dialog's part of SaveImageAs: answers the modal result and,
  // for OK, the target and whether the saved file is to be opened. Unset:
  // the dialog is not there and the answer is Cancel.
  // The paths are their bytes.
  std::function<int(const std::string& current, std::string& target, bool& openSaved)> SaveAsPrompt;
  // Played at every picture shown (the sound layer plays in-memory waves);
  // unset, nothing plays.
  static std::function<void(const QByteArray& wave)> PlayWave;

  // ---- Commands: menus, tool-bar buttons and keys all run named commands
  void Execute(const QString& command);
  QStringList CommandNames() const;
  // The key map, in its order, for a key sent to target (the control with
  // the focus); true when a row took the key.
  bool HandleKey(const QKeyEvent& event, const QWidget* target);
  // Told the name of every command about to run; false keeps it from
  // running (tests follow the road of a menu item, button or key with it).
  static std::function<bool(const QString& command)> CommandTrace;
  void UpdateCommandStates();
  void PreviousImage();
  void NextImage();
  // Clockwise degrees: 90, -90, 180.
  void RotateImage(int angle);
  // rv::rvfdHorizontal or rv::rvfdVertical.
  void FlipImage(int direction);
  void ResizeImage(int width, int height);
  void RenameShownFile();
  void EmailImages();
  void ShowFileProperties();
  void ShowToolBox();
  // page: none for the page last shown.
  void ShowPreferences(QWidget* page = nullptr);
  void ApplyPreferences(const TMainSettings& settings);
  // 0 grab, 1 zoom, 2 magnify, 3 normal.
  void SetMouseMode(int mode);
  int MouseMode() const { return FMouseMode; }
  void ZoomPercentEdited(const QString& text);
  void ZoomTrackBarChanged(int position);
  void ShowZoomPanel();
  // The magnifier follows the pointer at a point of the picture view.
  void MagnifyAt(const QPoint& viewPoint);
  bool MagnifierShown() const;
  // The magnifier shows anew what lies under its last pointer position.
  void RefreshMagnifier();

  // ---- Slide show and full screen
  void StartSlideShow();
  void PauseSlideShow();
  void StopSlideShow();
  void SlideShowTimerTimer();
  void HideCursorInFullScreen();
  void RestoreCursor();
  void SetFullScreen(bool enter, bool prompt);
  void ToggleFullScreen();
  bool SlideShowPaused() const;
  bool CursorHidden() const { return FCursorHidden; }
  QString SlideShowHint() const { return FHint; }

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
  // Menus and items: the command table names each after its form name,
  // which is also its object name.
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
  QAction* ListVisible1 = nullptr;
  QAction* AutoFit1 = nullptr;
  QAction* FullScreen1 = nullptr;
  QAction* AnimateGif1 = nullptr;
  QAction* AlphaChannel1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* PopViewMainMenu1 = nullptr;
  QAction* PopViewToolBar1 = nullptr;
  QAction* PopShowSeparator1 = nullptr;
  QAction* PopFullScreen1 = nullptr;
  QAction* PopListVisible1 = nullptr;
  // The pop-up's Controls items, checked with their main-menu twins.
  QAction* PopMainMenuVisible1 = nullptr;
  QAction* PopThumbsVisible1 = nullptr;
  QAction* PopNavVisible1 = nullptr;
  QAction* PopStatusVisible1 = nullptr;
  QAction* SlideShow1 = nullptr;
  QAction* PauseHoldH1 = nullptr;
  QAction* MagnifyPreferences1 = nullptr;
  QMenu* CursorMenu = nullptr;
  QMenu* TabPopupMenu = nullptr;
  QMenu* ToolBarPopupMenu = nullptr;
  // The colour, style, effect and sound items of the Options menu and the
  // picture pop-up, by their tags.
  std::vector<QAction*> BackgroundColorItems;
  std::vector<QAction*> BackgroundStyleItems;
  std::vector<QAction*> TransitionEffectItems;
  std::vector<QAction*> TransitionSoundItems;
  std::vector<QAction*> CursorItems;
  kel::TKelShapeButton* SBtnPrevious = nullptr;
  kel::TKelShapeButton* SBtnNext = nullptr;
  kel::TKelShapeButton* SBtnHide = nullptr;
  kel::TKelShapeButton* SBtnPrint = nullptr;
  kel::TKelShapeButton* SBtnTools = nullptr;
  kel::TKelShapeButton* SBtnSlideShow = nullptr;
  kel::TKelShapeButton* SBtnEmail = nullptr;
  kel::TKelShapeButton* SBtnRotateCCW = nullptr;
  kel::TKelShapeButton* SBtnRotateCW = nullptr;
  kel::TKelShapeButton* SBtnZoomWindow = nullptr;
  kel::TKelShapeButton* SBtnChangeCursor = nullptr;
  QComboBox* CmbZoomPercent = nullptr;
  QWidget* ZoomPanel = nullptr;
  QSlider* ZoomTrackBar = nullptr;
  // The zoom panel's label: the zoom to a tenth of a percent.
  QLabel* LblZoomPercent = nullptr;
  QTimer* SlideShowTimer = nullptr;
  // The second picture view of the magnify mode.
  rv::TRastrumView* MagnifyView = nullptr;
  QTabWidget* ThumbPageControl = nullptr;
  QWidget* SubMainPanel = nullptr;
  rv::TRastrumView* RastrumView1 = nullptr;
  // Holds the frames of the shown GIF file; never shown.
  rv::TRastrumMView* RastrumMView1 = nullptr;
  QWidget* BigControlPanel = nullptr;
  QWidget* SmallControlPanel = nullptr;
  kel::TKelShapeButton* SBtnOpen = nullptr;
  kel::TKelShapeButton* SBtnSave = nullptr;
  kel::TKelShapeButton* SBtnAutoFit = nullptr;
  wn::TQ32StatusBar* StatusBar1 = nullptr;
  QLabel* LblToOpen = nullptr;
  QLabel* OpenBtnImage = nullptr;
  // Shown over the hint while a folder is read with no picture on screen.
  QLabel* PnlPleaseWait = nullptr;
  kel::TKelProgressFill* ProgressBar1 = nullptr;
  wn::TWnMruList* FileMruList = nullptr;
  wn::TQoFormState* QoFormState1 = nullptr;
  wn::TQoRegistryStore* QoRegistryStore1 = nullptr;
  // The shell controller of the file commands.
  std::unique_ptr<sx::TSxCustomShellController> ShellController;
  QTimer* TabHackTimer = nullptr;
  QTimer* GifTimer = nullptr;
  // The key catcher: the hidden edit that holds the key focus while no
  // other control of the window wants it; it never keeps a character.
  QLineEdit* KeyCatcher = nullptr;

protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // The window and its key catcher take the keyboard.
  void TakeKeyboard();
  // Full screen: the window covers the screen once it has the keyboard
  // (at once, unless a question just had it), at most CoverWaitMs on.
  void CoverScreen();
  static constexpr int CoverWaitMs = 1500;
  void FormCreate(const std::vector<std::string>& arguments);
  void FormClose();
  void FormDestroy();
  void BuildMenus();
  void BuildToolBar();
  void BuildCommands();
  void BuildMagnifier();
  void BuildControls();
  void AddCommand(const QString& name, std::function<void()> action);
  QAction* AddItem(QMenu* menu, const QString& objectName, const QString& caption, const QString& command);
  void CheckTagged(const std::vector<QAction*>& items, int tag);
  // Hands a web page or a file of the program to the desktop; says when
  // nothing could open it.
  void OpenThroughDesktop(const QUrl& url);
  void UpdateZoomControls();
  void MagnifierMouseMove(const QPoint& viewPoint);
  void MagnifierLeft();
  void PictureViewClicked();
  // The picture's pop-up menu at a screen point (not in zoom mode while the
  // tool bar is there).
  void ShowPicturePopup(const QPoint& globalPos);
  // Checks the background colour's item in the colour menu.
  void CheckBackgroundColor(platform::TColor color);
  // "Please wait..." in place of the hint to open a folder; hidden, the
  // hint comes back when nothing is shown or asked for.
  void ShowPleaseWait(bool shown);
  // Whether "Please wait..." stays: the current folder is still listed and
  // none of its pictures is asked for yet.
  bool StillWaiting() const;
  bool ForwardMagnifierEvent(QEvent* event);
  bool KeyForFolderView(const QWidget* focus) const;
  // A step to the previous or next picture would show another one: the
  // current folder view holds a file other than the one shown.
  bool CanStepToAnotherPicture() const;
  // And the user's answer about an edit lets it.
  bool MayStepToAnotherPicture();
  void SetSlideShowCaptions(bool running, bool paused);
  void ShowSlideShowButtonState(bool running);
  // A pointer move over the picture during a show may bring the pointer back.
  void PictureMouseMoved(const QPoint& at);
  void UpdateScreenCursor();
  void PreparePictureView();
  void LoadTransitionSounds();
  void ApplySettings();
  void ApplyControlVisibility();
  void ThumbPageControlChange();
  // A drag over the tab row: the tab under the pointer becomes the active
  // one and its folder view takes the drag.
  bool TabRowDrag(QDropEvent* event);
  void SubMainPanelResize();
  void StatusBarResize();
  void FoldersMenuClick(QAction* item);
  void RememberFiles(int mode, const std::string& folder, const std::vector<std::string>& names);
  // The paste itself, once the shown picture's edit has been settled.
  bool PasteReleasedFiles(TFolderViewForm* target);
  // Writes the picture to Target; false after an error, which was shown
  // (ConvertMessage for a format that could not be written). OwnFile: Target
  // is the shown picture's own file, or becomes it.
  bool WritePicture(const std::string& target, bool keepQuality, const QString& convertMessage, bool ownFile);
  // A file of the current folder view was written: its row follows, or the
  // view looks for the new file.
  void ReportFileWritten(const std::string& path, bool existed);
  // A file a paste or a drop put another file in place of.
  void ShowReplacedFile(const std::string& place);
  void CheckMenuPair(QAction* main, QAction* popup, bool checked);
  void UpdateMenuPopupItems();
  // Reads Path into the view on a worker, the window answering meanwhile;
  // raises the read's error. False: another picture was asked for, or the
  // view cleared, meanwhile, and the read's picture is not shown.
  bool LoadFileIntoView(const std::string& path);
  // The steps of ShowImageFile: the read of Current starts, or its error is
  // handled at once; the end of the read; the error path, true when Current
  // (now the name that took the failed one's place) is to be read next.
  void StartImageLoad(TFolderViewForm* view, std::string current, bool backwards);
  void CompleteImageLoad();
  // The second half of a picture's hand-over, a loop turn after the swap
  // and the transition's start: the modified state, the commands, the
  // status and the animation. Nothing when none is waiting.
  void FinishHandOver();
  // A picture refused for its size (tooLarge) is a valid file: it is
  // skipped, never offered for deletion.
  bool HandleLoadError(TFolderViewForm* view, std::string& current, const std::string& message, bool backwards,
                       bool tooLarge = false);
  void EndImageLoad(TFolderViewForm* view);
  // A read no longer wanted: its worker is told to stop and its result will
  // be dropped.
  void DropPendingLoad();
  void LoadEnded(unsigned serial);
  // Serves the event loop without the user's input until the pending read
  // has ended (or been dropped or replaced).
  void AwaitPendingLoad();
  // One turn of such a wait, until a read ends or is dropped; false once
  // the program is ending and its loops no longer run.
  bool AwaitRead();
  // The end, drop or replacement of the pending read: the waits re-check.
  void WakeReadWaits();
  void PlayTransitionSound();
  // Draws the frame onto the canvas; only inside area (canvas coordinates)
  // when one is given.
  void DrawGifFrame(int index, bool transparent, const QRect* area = nullptr);
  // The area of the canvas back to the background.
  void ClearGifCanvas(const QRect& area);
  // Notes an area of the canvas that changed; uncovers: it may show the
  // background now.
  void NoteGifChange(const QRect& area, bool uncovers);
  // The colour the canvas's background shows in under the frame index.
  QRgb GifBackground(int index) const;
  // Where the frame lies on the canvas (it may reach beyond).
  QRect GifFrameRect(int index) const;
  bool GifFrameFillsCanvas(int index) const;
  // The canvas of the frame current from all the frames it needs.
  void ComposeGifFrame(int current);
  // The canvas of the frame current from that of the one before it.
  void NextGifFrame(int current);
  // The canvas of the first frame from that of the last: frame 0 put back
  // where the loop changed it; false when composing it anew costs less.
  bool RewindGifCanvas();
  // Writes into the picture view what changed on the canvas since it was
  // last shown, all of it when the view holds another picture.
  void ShowGifCanvas(QRgb background);
  // The end of a frames read: the current one's frames go into the hidden
  // thumbnail view and play; a dropped one is forgotten.
  void FramesEnded(unsigned serial);
  // Waits for the frames read and plays its frames.
  void ShowFrames();
  // A frames read no longer wanted: its worker is told to stop.
  void DropFramesLoad();
  void ShowLoadError(TFolderViewForm* view, const std::string& name, const QString& message);
  QString LoadErrorText(const std::string& name) const;
  void BeginWaitCursor();
  void EndWaitCursor();
  // Discarded: the edit given up at the question about a file another
  // program changed.
  enum class TSaveAsOutcome { Cancelled, Written, Opened, Failed, Discarded };
  TSaveAsOutcome SaveImageAsOutcome();
  // SaveModifiedImage's work, without its reload of a picture whose edit
  // was given up.
  TSaveAsOutcome SaveShownPicture();
  // What a step away from the picture makes of a save's outcome.
  TLeaveAnswer LeaveAnswerOf(TSaveAsOutcome outcome);
  // Plans the save of the picture to Target (OverShown: the shown file
  // itself) and, when it would leave out part of what the file or the
  // picture holds, asks first. Nothing: go on with the write; otherwise the
  // outcome the answer gave. FromSaveAs: the user has chosen the name.
  // Accepted: the file at Target the write may replace, as the user was
  // asked about it (or chose it); the pages and frames it writes back are
  // those of the shown file as it was read.
  std::optional<TSaveAsOutcome> AskWhatTheSaveLoses(const std::string& target, bool overShown, bool fromSaveAs,
                                                    const TFileIdentity& accepted);
  // Runs a save's work on a worker while the window waits for it, answering.
  void AwaitSaveWork(std::function<void()> work);
  // The write of the save planned last, or of the picture alone; answers
  // the file written as the write left it.
  TFileIdentity WriteShownPicture(const std::string& target, bool keepQuality);
  // The shown picture has no file of its own (a scan not saved yet, or its
  // file has gone): a save asks where to.
  bool WithoutOwnFile() const;
  // The picture as shown is what its file holds now.
  void PictureSaved();
  // The questions of QuerySaveModified and what their answers do.
  TLeaveAnswer AskAboutEdit();
  // Holds a running show while the user is asked: no step is taken behind
  // the question, and the show goes on once it is answered (unless the
  // answer ended it).
  struct TShowHold {
    explicit TShowHold(TMainForm& form);
    ~TShowHold();
    TMainForm& Form;
    bool Held;
  };

  platform::TDdeServerConv* FServer;
  // Made without owner at creation, freed with the main window.
  std::unique_ptr<THelpDlg> FHelpDlg;
  std::unique_ptr<TAboutDlg> FAboutDlg;
  TMainSettings FSettings;
  // Bytes, as the folder listing or the command line gave them.
  std::string FCurrentFileName;
  std::string FCurrentFilePath;
  // The shown picture's file as the program last read or wrote it.
  TFileIdentity FShownIdentity;
  // The bitmap the last save of an icon wrote beside it: a later save
  // replaces that one without a question, any other file there only with.
  TFileIdentity FBesideIdentity;
  // The last WritePicture wrote nothing because another file had taken the
  // target's place meanwhile (or the file there had changed).
  bool FWriteFoundOther = false;
  // A hand-off that came while the question about the edit was up or a
  // save ran: it runs once they are done.
  std::vector<std::string> FWaitingHandOff;
  TFolderViewForm* FCurrentFolderView = nullptr;
  std::vector<TFolderViewForm*> FFolderViews;
  // Every folder view not yet destroyed, closed ones waiting for their
  // deferred deletion included.
  std::vector<TFolderViewForm*> FLiveViews;
  std::vector<QWidget*> FOtherWindows;
  QWidget* FLastShownTab = nullptr;
  bool FModified = false;
  // The question about the edit, the close that waits for it, and the
  // user's answer that lets the edit go unsaved ("Discard Changes", "No" for
  // a picture without a file, or a copy saved under another name).
  TEditQuestion FQuestion;
  // The silent save of this picture failed: leaving it asks instead.
  bool FAutoSaveFailed = false;
  bool FOnlyRotated = true;
  // The turns and flips of the shown pixels since they were read or saved.
  TPixelTurn FPixelTurn;
  // The save asked about last, for its write.
  TSaveSubject FSaveSubject;
  TSavePlan FSavePlan;
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
  // The frames composed up to frame FGifComposed (none: -1), transparent
  // where the background shows.
  QImage FGifCanvas;
  int FGifComposed = -1;
  // What the frame last drawn covers, when it is to be put back after it.
  QImage FGifUnder;
  QPoint FGifUnderAt;
  int FGifFramesDrawn = 0;
  std::int64_t FGifPixelsShown = 0;
  // The areas of the canvas changed since it was last shown; all of it
  // after a composition anew.
  std::vector<QRect> FGifChanged;
  bool FGifChangedAll = true;
  // Where the shown canvas may show the background: the transparent part of
  // its last whole show and what frames cleared or put back since.
  QRect FGifUncovered;
  // The view's picture as the last show left it (its cache key, which any
  // other change of the picture changes) and the background colour shown.
  qint64 FGifShownKey = 0;
  QRgb FGifShownBackground = 0;
  // The areas changed since the canvas held the first frame as composed,
  // while together they are smaller than the canvas (their area; -1: not
  // known, the canvas holds another composition).
  std::vector<QRect> FGifSinceFirst;
  std::int64_t FGifSinceFirstArea = -1;
  // 0 the chosen one, 1 to 10 the named waves; empty when missing.
  QByteArray FTransitionSounds[11];
  int FWaitCursorDepth = 0;
  // The read of the picture asked for last, and the dropped ones whose
  // workers have not ended yet, by serial.
  std::unique_ptr<TPictureLoad> FPendingLoad;
  unsigned FPendingSerial = 0;
  std::vector<std::pair<unsigned, std::unique_ptr<TPictureLoad>>> FDroppedLoads;
  // A reload waits for its read of the shown file.
  bool FReloading = false;
  // The read of the shown animation's frames, and the dropped ones whose
  // workers have not ended yet, by serial.
  std::unique_ptr<TFramesLoad> FFramesLoad;
  unsigned FFramesSerial = 0;
  std::vector<std::pair<unsigned, std::unique_ptr<TFramesLoad>>> FDroppedFrames;
  // The folder view of a picture shown whose FinishHandOver is to come.
  std::optional<QPointer<TFolderViewForm>> FHandOverView;
  bool FSettingsWritten = false;
  bool FDestroyed = false;
  // Commands by name, in the order they were made.
  std::vector<std::pair<QString, std::function<void()>>> FCommands;
  std::unique_ptr<TToolBoxHost> FToolBoxHost;
  int FMouseMode = 3;
  // Set while the window itself moves the zoom bar.
  bool FUpdatingZoom = false;
  // The key event on its way up from the control it was sent to.
  const QEvent* FKeyEvent = nullptr;
  QPointer<QWidget> FKeyTarget;
  // The zoom the box, the bar and the panel's label show, to a tenth.
  double FShownZoom = -1;
  // The percent of a scan at which the picture was last repainted.
  int FRepaintPercent = 0;
  // Slide show.
  std::string FStartPath;
  bool FFirstTick = false;
  bool FFullScreenBefore = false;
  bool FCursorHidden = false;
  QString FHint;
  // Full screen: the window state to come back to.
  Qt::WindowStates FStateBeforeFullScreen = Qt::WindowNoState;
  QRect FGeometryBeforeFullScreen;
  // Counts the covers asked for: a waiting one goes only while it is the last.
  int FCoverStep = 0;
  QMetaObject::Connection FCoverOnFocus;
  // The magnifier's enter/leave count (0 to 2) and its last pointer.
  int FMagnifyEnter = 0;
  // The window has its cursor on the application's override stack.
  bool FOverrideCursor = false;
  QPoint FMagnifyLast{-1, -1};

  // Wallpaper, clipboard, printing and scanner: the print windows, made on
  // first use and kept (children of the window, they go with it).
  void ShowPrintWindow(rv::TRvPrintForm& Window);
  // The scanner library found no scanner: says so, and nothing stays selected.
  void ScannerNotFound();
  // Has SANE list its devices on a worker for the command under way, the
  // window answering meanwhile as it does for a read; false when the window
  // was asked to close meanwhile (the close runs next, not the command).
  bool AwaitScannerList();
  QPointer<rv::Tfrvprnform2> FPrintOptionsForm;
  QPointer<rv::tfrvprnform1> FPrintPreviewForm;
};

// The window that holds the application together (set while it exists).
extern TMainForm* MainForm;

} // namespace app
