// One open folder of pictures. Docked in a tab of the main window it is a
// film strip of thumbnails; undocked it is the advanced folder view, a
// window with a details list, its own menu and a status bar. Names, the
// thumbnails and the list rows always hold the same files.
#pragma once

#include "app/folderrows.h"

#include <QDeadlineTimer>
#include <QIcon>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unordered_set>
#include <vector>

class QAction;
class QKeyEvent;
class QLabel;
class QMimeData;
class QListView;
class QMenu;
class QScrollBar;
class QStackedWidget;
class QStatusBar;
class QTimer;
class QToolButton;
class QTreeView;

namespace sx {
class TSxShellNotification;
class TSxShellItem;
} // namespace sx

namespace rv {
class TIOParamsVals;
class TRastrumMView;
}
namespace wn {
class TWnSHFileOperation;
}

namespace app {

class TFolderLister;
class TLoadThread;
class TMainForm;

// One file found by a folder scan.
struct TScannedFile {
  std::string Name;
  std::int64_t Size = 0;
  std::int64_t Modified = 0; // milliseconds since the epoch
  std::int64_t Created = 0;
};

// The picture files of a folder (known formats, plain files only), in the
// order the folder gives them.
std::vector<TScannedFile> ScanPictureFiles(const std::string& Folder);
// The scanned file of Name from its status.
TScannedFile FromStatx(const std::string& Name, const struct statx& Info);
// The names of the folder's pictures, in the folder's order, without a
// status call for plain files; with Verify links and entries of an unknown
// kind are kept only when they name a plain file. OnMany is called once as
// soon as more than Many names are found.
std::vector<std::string> ListPictureNames(const std::string& Folder, bool Verify, std::size_t Many = 0,
                                          const std::function<void()>& OnMany = {});
// Whether a folder entry of the type (DT_...) and name may be a picture.
bool MayBePicture(unsigned char Type, const char* Name);
// The details of the folder's file Name (a regular one); false when none.
bool StatPictureAt(int DirFd, const std::string& Name, TScannedFile& File);
// One file's details; false when it cannot be read.
bool ReadScannedFile(const std::string& Folder, const std::string& Name, TScannedFile& File);

// The picture of the film strip above or below the thumbnails: black, with a
// hole every 10 pixels shifted by the scroll position; holes over the span
// [HighlightLeft, HighlightRight) are gray (none when the span is empty),
// the others white.
QImage FilmStripPicture(int Width, int Height, int ViewX, int HighlightLeft, int HighlightRight);

class TFolderViewForm : public QMainWindow {
public:
  explicit TFolderViewForm(TMainForm* Owner);
  ~TFolderViewForm() override;

  TMainForm* Owner() const { return FOwner; }

  // ---- Called by the main window
  void LoadFolder(const std::string& Path);
  const std::string& GetFolderPath() const { return FFolderPath; }
  const std::string& FolderName() const { return FFolderName; }
  void SetFolderPath(const std::string& Path);
  // Whether Path names this view's folder (trailing delimiters aside).
  bool ShowsFolder(const std::string& Path) const;
  void SelectAndShowFile(const std::string& Name);
  void ShowFirstFile();
  void ShowLastFile();
  void ShowNextFile();
  void ShowPreviousFile();
  void FlagFileSkipped(const std::string& Name);
  void RenameFileItem(const std::string& OldName, const std::string& NewName, bool KeepRow);
  // Mode 0 adds new files, 1 drops vanished ones, 2 updates changed ones,
  // 3 all three.
  void RefreshFolder(int Mode, bool Incremental);
  void RefreshFolderWithWaitCursor();
  void CloseFolderViewNoPrompt();
  // Tells the view whether remembered files can be pasted into it.
  void UpdatePasteMenu(bool Enabled, const std::vector<std::string>& Files, bool CutMode);
  // The deferred refresh after files were moved out of this folder.
  void StartFileOpDelay();

  // ---- Rows, names and the selection
  bool AddFileItem(const TScannedFile& File, bool Select);
  bool AddFileByName(const std::string& Name, bool Select);
  // Result: "-" when the file could not be deleted, else the first selected
  // name afterwards (empty when none).
  void RemoveFileItem(const std::string& Name, bool DeleteFile, std::string& Result, bool Select);
  void UpdateFileItem(int Row, std::int64_t Size, std::int64_t Modified);
  // Counts the files changed since the view opened: a header read that
  // began before a change may be of the file as it was.
  std::uint64_t DetailsEpoch() const { return FDetailsEpoch; }
  void SelectSingleFile(const std::string& Name);
  void AddToSelection(const std::string& Name);
  void RemoveFromSelection(const std::string& Name);
  void SelectAllFiles();
  void UpdateSelectionStatus();
  // Shows the view's selection and, with ShowFile, the first selected file.
  void SyncSelection(bool ShowFile = true);

  // ---- File management (folderfileops.cpp)
  // True only when every file is gone afterwards: a declined or failed
  // delete leaves the file, and the view keeps it.
  bool DeleteFiles(const std::vector<std::string>& Names);
  void DeleteSelectedFiles();
  // The selected files to the e-mail wizard (only for the main window's
  // current view).
  void EmailSelectedFiles();
  void CopySelectedFiles();
  void CutSelectedFiles();
  void PasteFiles();
  // Asks for the selected file's new name until it is taken or the user
  // gives up.
  void RenameSelectedFile();
  // A name edited in the details list; false refuses the edit.
  bool ImageViewEdited(const std::string& OldName, const std::string& NewName);
  // Whether a drag carrying Data may drop its files here: only files
  // dragged from another folder view of another folder.
  bool AcceptsFileDrag(const QMimeData* Data) const;
  // Moves the files of such a drag into this folder (after the event
  // returns, outside the drag).
  void DropDraggedFiles(const QMimeData* Data);
  // The data of a drag of this view's selected files.
  QMimeData* FileDragData();
  // Called between the check of a new name and the rename (a test seam).
  static std::function<void(const std::string& NewPath)> BeforeFileRename;

  const std::vector<std::string>& Names() const { return FNames; }
  const std::vector<std::string>& SelectedNames() const { return FSelectedNames; }
  std::uint64_t TotalFileSize() const { return FTotalFileSize; }
  TFolderRows& Rows() { return *FRows; }
  TLoadThread* LoadThread() const { return FLoadThread.get(); }
  // The files whose thumbnails are on screen and not read yet: the strip
  // reads them, and their rows' details with them.
  std::unordered_set<std::string> ThumbsOnScreenUnread() const;
  // The strip shows and still reads thumbnails of its screen.
  bool StripReading() const;
  // How long at most the first picture of a folder filled from the event
  // loop waits for the strip's screen, and how often it looks (ms).
  static constexpr int FirstPictureWait = 300;
  static constexpr int FirstPicturePoll = 10;
  bool Closing() const { return FClosing; }
  // Its files are still being listed.
  bool Listing() const { return FLister != nullptr; }

  // ---- Sorting of the details list
  void ImageViewColumnClick(int Column);
  int SortColumn() const { return FSortColumn; }
  bool SortAscending() const { return FSortAscending; }

  // ---- Docking and layout
  bool Floating() const { return isWindow(); }
  // Into the main window's tab control.
  void Dock();
  // Out into the advanced folder view, centred on the screen.
  void Undock();
  void ApplyFolderViewLayout();
  // Status panel texts of the advanced folder view.
  QString StatusText(int Panel) const;
  int FilmStripHeight() const;
  void DrawFilmStripHoles(int ThumbLeft, int ThumbRight, bool Force);
  // Small icons 0, list 1, details 2.
  void SetListStyle(int Style);
  int ListStyle() const { return FListStyle; }

  // The image-list index of a file's icon; -1 when none.
  int GetFileIconIndex(const std::string& Name);

  // ---- Change notification handlers
  void FileCreated(const std::string& Path);
  void FileDeleted(const std::string& Path);
  void FileRenamed(const std::string& OldPath, const std::string& NewPath);
  void FileChanged(const std::string& Path);
  void FolderRenamed(const std::string& OldPath, const std::string& NewPath);
  void FolderChanged(const std::string& Path);
  void FolderDeleted(const std::string& Path);

  // Components, by their form names.
  QWidget* LargeFilmPanel = nullptr;
  QLabel* TopFilmImage = nullptr;
  QLabel* BotFilmImage = nullptr;
  rv::TRastrumMView* ThumbView = nullptr;
  QScrollBar* ThumbScrollBar = nullptr;
  QToolButton* SBtnQuickLeft = nullptr;
  QToolButton* SBtnQuickRight = nullptr;
  QStackedWidget* ImageView = nullptr;
  QTreeView* ImageDetails = nullptr;
  QListView* ImageList = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;
  QMenu* ThumbMenu = nullptr;
  QAction* Dock1 = nullptr;
  QAction* CloseFolder1 = nullptr;
  QAction* AdvancedFolderView1 = nullptr;
  QAction* Rename1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* Email1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Cut1 = nullptr;
  QAction* Paste1 = nullptr;
  QAction* SelectAll1 = nullptr;
  QAction* Refresh1 = nullptr;
  QAction* ThumbDock1 = nullptr;
  QAction* ThumbAdvanced1 = nullptr;
  QAction* ThumbClose1 = nullptr;
  QAction* SmallIcons1 = nullptr;
  QAction* List1 = nullptr;
  QAction* Details1 = nullptr;
  std::unique_ptr<sx::TSxShellNotification> SxShellNotify;
  // Deletes, copies and moves this view's files (default options: a delete
  // goes to the trash, after the user's yes).
  std::unique_ptr<wn::TWnSHFileOperation> WnSHFileOperator;
  QTimer* FileOpDelayTimer = nullptr;
  // Takes the changes the notification has reported since the last time.
  void TakeNotifiedChanges();

protected:
  void closeEvent(QCloseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void FormCreate();
  void BindFileOps();
  bool FileOpsEvent(QObject* Watched, QEvent* Event);
  bool FileOpKey(const QKeyEvent& Key);
  // Gives the file OldName the name NewName (no replacing); false with the
  // message to show.
  bool RenameOnDisk(const std::string& OldName, const std::string& NewName, QString& Error);
  void StartFileDrag();
  void BuildFilmStrip();
  void BuildList();
  void BuildMenus();
  void BindNotifications();
  void FilmPanelResized();
  void ListSelectionChanged();
  void StartLoadThread();
  // Takes the files the folder's lister has found since the last call;
  // FromLoop: called from the event loop, not while the folder is opened.
  void TakeListedFiles(bool FromLoop = true);
  // The listing's count leaves the main window's progress bar.
  void EndListingProgress();
  // The thumbnail of Index has been read: its row takes the dimensions.
  void ThumbLoaded(int Index, const rv::TIOParamsVals* Params);
  // A new row for a scanned file, with its icon.
  TFolderRow RowOf(const TScannedFile& File);
  // Removes the row, thumbnail and name at Index of Names.
  void DropFile(std::size_t Index);
  // Removes the rows, thumbnails and names of every listed name of Gone in
  // one pass: one layout of the list and of the film strip.
  void DropFiles(const std::unordered_set<std::string>& Gone);
  // Appends rows and thumbnails for Files in one pass; with Select, the
  // first of them is selected when nothing is, and shown.
  void AddFileItems(const std::vector<const TScannedFile*>& Files, bool Select);
  void SelectRowsFromNames();
  // The main window's question about its edited picture before this view
  // replaces or blanks it, or takes its file away or renames it
  // (TMainForm::QuerySaveModified, ReleaseShownFile): a modal loop. True when
  // the answer lets the step go on and this view still stands afterwards.
  bool OwnerLetsPictureGo();
  bool OwnerReleases(const std::vector<std::string>& Paths, bool Shows);
  void ShowFirstSelected();
  // ShowFirstSelected once the strip has read its screen or the wait is over.
  void ShowFirstSelectedAfterStrip(QDeadlineTimer Deadline);
  // The strip's cells on screen without their thumbnails, in order.
  std::vector<int> StripScreenUnread() const;
  // Hands those cells but the selected one to the thumbnail threads.
  void RequestStripScreen();
  void SelectRange(const std::string& From, const std::string& To, bool Add);
  int IndexOfName(const std::string& Name) const;
  // Whether the view lists the file: its row, the one index of names.
  bool Listed(const std::string& Name) const;
  void ScrollSelectedRowIntoView();
  std::string FileNameOf(const std::string& Path, bool& InFolder) const;
  // The name of the file the main window shows from this view; empty when
  // none.
  std::string ShownName() const;

  // Thumbnail mouse handling of the film strip.
  void ThumbMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Mods, const QPoint& At);
  void ThumbMouseMove(Qt::MouseButtons Buttons, Qt::KeyboardModifiers Mods, const QPoint& At);
  void ThumbMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Mods, const QPoint& At);
  void ApplyClickToSelection(const std::string& Name, Qt::KeyboardModifiers Mods);
  void ThumbViewImageSelect();
  void QuickScroll(int Direction);
  void ThumbScrolled();
  void ScrollThumbIntoView();
  void UpdateThumbHint(int Index);

  // The thumbnail side of the film strip.
  void ThumbAppend(const std::vector<std::string>& Names);
  void ThumbDelete(int Index);
  void ThumbDeleteMany(const std::vector<int>& Indexes);
  void ThumbRename(int Index, const std::string& Name);
  void ThumbReload(int Index);
  void ThumbSelect(const std::vector<int>& Indexes);

  TMainForm* FOwner;
  std::string FFolderPath;
  std::string FFolderName;
  std::uint64_t FTotalFileSize = 0;
  std::vector<std::string> FNames;
  std::vector<std::string> FSelectedNames;
  std::unique_ptr<TFolderRows> FRows;
  std::unique_ptr<TLoadThread> FLoadThread;
  // Lists the folder while the view already shows; gone once it is done.
  std::unique_ptr<TFolderLister> FLister;
  // The file named when the folder was opened, selected when it arrives.
  std::string FFileToSelect;
  // Listed files not yet added, from FListedFrom on.
  std::vector<TScannedFile> FListed;
  std::size_t FListedFrom = 0;
  // The main window's progress bar counts the listed files in, from when
  // the lister knows their number until the last is added.
  bool FListingProgress = false;
  int FListingTotal = 0;
  std::size_t FListedCount = 0;
  int FSortColumn = -1;
  int FLastSortColumn = -1;
  bool FSortAscending = true;
  bool FClosing = false;
  bool FWasFloating = false;
  bool FNoClosePrompt = false;
  bool FSelectingFromView = false;
  // Changes reported by the notification, taken together in one pass once
  // the burst is over (a paste reports thousands) and no file operation
  // runs any more.
  QTimer* FNotifiedTimer = nullptr;
  std::vector<std::string> FNotifiedNew;
  bool FNotifiedGone = false;
  int FRefreshResumeRow = 0;
  std::uint64_t FDetailsEpoch = 0;
  int FListStyle = 2;
  int FStripViewX = -1;
  int FStripLeft = -1;
  int FStripRight = -1;
  // The icon cache: lower-case extension and image-list index.
  std::vector<std::string> FIconExts;
  std::vector<int> FIconIndexes;
  std::vector<QIcon> FShellIconList;
  std::vector<std::string> FCutPaths;
  // Mouse-down state on the thumbnails.
  QPoint FDownPoint;
  Qt::KeyboardModifiers FDownMods;
  std::string FDownName;
  bool FButtonDown = false;
  bool FDragSelecting = false;
  int FHintIndex = -1;
  // The thumbnail to bring into view once the strip has its width.
  int FThumbToShow = -1;
  bool FCutMode = false;
  // A press on a row of the list, where a drag of the rows may start.
  QPoint FListDownPoint;
  bool FListDown = false;
};

} // namespace app
