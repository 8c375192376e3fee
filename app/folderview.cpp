#include "app/folderview.h"

#include "app/genutil.h"
#include "app/folderlister.h"
#include "app/helpdlg.h"
#include "app/loadthread.h"
#include "app/mainform.h"
#include "app/notificationdlg.h"
#include "app/pictureutil.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/io/rvioparams.h"
#include "image/io/rvknownformat.h"
#include "image/views/rvmview.h"
#include "platform/stream.h"
#include "shell/sxnotify.h"
#include "shell/sxshellitems.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>

namespace app {

namespace {

constexpr int ThumbViewHeight = 80;
constexpr int FilmStripImageHeight = 10;
constexpr int QuickButtonWidth = 16;
constexpr int ThumbScrollBarHeight = 16;
// A cell of the strip: a 4:3 thumbnail with a small border round it.
constexpr int ThumbCellWidth = 96;
constexpr int ThumbCellBorder = 4;
// Incremental refreshes compare at most this many files per call.
constexpr int RefreshChunk = 200;
// A listing adds at most this many files per call (a few milliseconds).
constexpr std::size_t ListSlice = 2048;

std::int64_t MSecs(const struct statx_timestamp& T) { return std::int64_t(T.tv_sec) * 1000 + T.tv_nsec / 1000000; }

std::string WithoutTrailingDelimiter(std::string Path) {
  while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
  return Path;
}

QIcon IconOfItem(const std::string& Path) {
  try {
    auto Item = sx::TSxShellItem::CreateFromPath(Path);
    if (const QIcon* Icon = Item->GetSmallIcon(); Icon && !Icon->isNull()) return *Icon;
  } catch (...) {
  }
  return QIcon();
}

} // namespace

TScannedFile FromStatx(const std::string& Name, const struct statx& Info) {
  TScannedFile File;
  File.Name = Name;
  File.Size = static_cast<std::int64_t>(Info.stx_size);
  File.Modified = MSecs(Info.stx_mtime);
  // Without a birth time the last status change stands in for it.
  File.Created = MSecs((Info.stx_mask & STATX_BTIME) ? Info.stx_btime : Info.stx_ctime);
  return File;
}

bool ReadScannedFile(const std::string& Folder, const std::string& Name, TScannedFile& File) {
  struct statx Info;
  const std::string Path = JoinPath(Folder, Name);
  if (::statx(AT_FDCWD, Path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &Info) != 0) return false;
  if (!S_ISREG(Info.stx_mode)) return false;
  File = FromStatx(Name, Info);
  return true;
}

bool MayBePicture(unsigned char Type, const char* Name) {
  return (Type == DT_REG || Type == DT_UNKNOWN || Type == DT_LNK) && rv::RvIsKnownFormat(Name);
}

bool StatPictureAt(int DirFd, const std::string& Name, TScannedFile& File) {
  struct statx Info;
  if (TFolderLister::StatProc(DirFd, Name.c_str(), AT_STATX_DONT_SYNC, STATX_BASIC_STATS | STATX_BTIME, &Info) != 0 ||
      !S_ISREG(Info.stx_mode))
    return false;
  File = FromStatx(Name, Info);
  return true;
}

std::vector<std::string> ListPictureNames(const std::string& Folder, bool Verify, std::size_t Many,
                                          const std::function<void()>& OnMany) {
  std::vector<std::string> Names;
  DIR* Dir = ::opendir(Folder.c_str());
  if (!Dir) return Names;
  const int Fd = ::dirfd(Dir);
  TScannedFile File;
  while (const dirent* Entry = ::readdir(Dir)) {
    if (!MayBePicture(Entry->d_type, Entry->d_name)) continue;
    // The folder tells plain files by their entries; links and entries of
    // an unknown kind need a look at what they name.
    if (Verify && Entry->d_type != DT_REG && !StatPictureAt(Fd, Entry->d_name, File)) continue;
    Names.emplace_back(Entry->d_name);
    if (Names.size() == Many + 1 && OnMany) OnMany();
  }
  ::closedir(Dir);
  return Names;
}

std::vector<TScannedFile> ScanPictureFiles(const std::string& Folder) {
  std::vector<TScannedFile> Files;
  DIR* Dir = ::opendir(Folder.c_str());
  if (!Dir) return Files;
  const int Fd = ::dirfd(Dir);
  TScannedFile File;
  while (const dirent* Entry = ::readdir(Dir))
    if (MayBePicture(Entry->d_type, Entry->d_name) && StatPictureAt(Fd, Entry->d_name, File)) Files.push_back(File);
  ::closedir(Dir);
  return Files;
}

QImage FilmStripPicture(int Width, int Height, int ViewX, int HighlightLeft, int HighlightRight) {
  QImage Picture(std::max(Width, 1), std::max(Height, 1), QImage::Format_RGB32);
  Picture.fill(Qt::black);
  QPainter P(&Picture);
  P.setPen(Qt::NoPen);
  const int Phase = -(ViewX % 10);
  for (int K = -1; 10 * K + Phase <= Width; ++K) {
    const int Left = 10 * K + 1 + Phase;
    const int Right = 10 * K + 8 + Phase;
    const bool Over = HighlightRight > HighlightLeft && Right > HighlightLeft && Left < HighlightRight;
    P.setBrush(Over ? QColor(0x80, 0x80, 0x80) : QColor(0xFF, 0xFF, 0xFF));
    P.drawRoundedRect(QRectF(Left, 2, Right - Left, Height - 4), 1.5, 1.5);
  }
  return Picture;
}

TFolderViewForm::TFolderViewForm(TMainForm* Owner)
    : QMainWindow(Owner, Qt::Widget), FOwner(Owner), FRows(std::make_unique<TFolderRows>()) {
  setObjectName(QStringLiteral("FolderViewForm"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  FormCreate();
}

TFolderViewForm::~TFolderViewForm() {
  FClosing = true;
  FLister.reset();
  SxShellNotify->SetActive(false);
  if (FLoadThread) {
    FLoadThread->Stop();
    // Waiting serves the thread's pending synchronised calls, which return
    // at once now that it is stopped.
    FLoadThread->WaitFor();
    FLoadThread.reset();
  }
  if (FOwner) {
    FOwner->FolderViewDestroyed(this);
    if (!FOwner->Closing()) FOwner->UpdateFolderTabHeight(this);
  }
}

void TFolderViewForm::FormCreate() {
  FSortAscending = true;
  FRows->IconOf = [this](int Index) {
    return Index >= 0 && Index < static_cast<int>(FShellIconList.size()) ? FShellIconList[std::size_t(Index)]
                                                                           : QIcon();
  };
  auto* Central = new QWidget(this);
  auto* Layout = new QVBoxLayout(Central);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  setCentralWidget(Central);
  BuildFilmStrip();
  BuildList();
  Layout->addWidget(LargeFilmPanel);
  Layout->addWidget(ImageView);
  BuildMenus();
  BindFileOps();
  StatusBar1 = new QStatusBar(this);
  StatusPanel0 = new QLabel(StatusBar1);
  StatusPanel1 = new QLabel(StatusBar1);
  StatusBar1->addWidget(StatusPanel0, 1);
  StatusBar1->addWidget(StatusPanel1, 1);
  setStatusBar(StatusBar1);

  FileOpDelayTimer = new QTimer(this);
  FileOpDelayTimer->setInterval(1);
  FileOpDelayTimer->setSingleShot(true);
  connect(FileOpDelayTimer, &QTimer::timeout, this, [this] {
    if (!FClosing) RefreshFolder(1, false);
  });
  FNotifiedTimer = new QTimer(this);
  FNotifiedTimer->setSingleShot(true);
  connect(FNotifiedTimer, &QTimer::timeout, this, [this] { TakeNotifiedChanges(); });
  BindNotifications();
  WnSHFileOperator = std::make_unique<wn::TWnSHFileOperation>();
  FWasFloating = Floating();
  ApplyFolderViewLayout();
  DrawFilmStripHoles(-1, -1, true);
}

void TFolderViewForm::BuildFilmStrip() {
  LargeFilmPanel = new QWidget(this);
  LargeFilmPanel->setObjectName(QStringLiteral("LargeFilmPanel"));
  LargeFilmPanel->setAutoFillBackground(true);
  QPalette Black = LargeFilmPanel->palette();
  Black.setColor(QPalette::Window, Qt::black);
  LargeFilmPanel->setPalette(Black);
  LargeFilmPanel->setFixedHeight(FilmStripHeight());

  TopFilmImage = new QLabel(LargeFilmPanel);
  BotFilmImage = new QLabel(LargeFilmPanel);
  ThumbView = new rv::TRastrumMView(LargeFilmPanel);
  ThumbView->setObjectName(QStringLiteral("ThumbView"));
  ThumbView->SetBorderStyle(rv::bsNone);
  ThumbView->StoreType = rv::rvtThumb;
  ThumbView->SetStyle(rv::rvmsFlat);
  ThumbView->SetDisplayMode(rv::mdGrid);
  ThumbView->SetGridWidth(0);
  ThumbView->SetThumbWidth(ThumbCellWidth);
  ThumbView->SetThumbHeight(ThumbViewHeight - 2 * ThumbCellBorder);
  ThumbView->SetHorizBorder(ThumbCellBorder);
  ThumbView->SetVertBorder(ThumbCellBorder);
  ThumbView->SetBackground(platform::clBlack);
  ThumbView->ThumbnailsBackground = platform::clBlack;
  ThumbView->SetEnlargeSmallImages(false);
  ThumbView->SetEnableMultiSelect(true);
  ThumbView->SetSelectionColor(platform::clWhite);
  ThumbView->SetScrollBars(rv::ssNone);
  // The strip's own handlers select by mouse; the keys stay the view's.
  ThumbView->SetMouseInteract(0);
  ThumbView->Font.Color = platform::clWhite;
  // Each cell's info caption is its file's name, white on black: the view
  // shows it without a caption object per file.
  ThumbView->SetInfoFileNames(true);
  ThumbView->OnImageSelect = [this](void*, int) { ThumbViewImageSelect(); };
  ThumbView->OnImageLoaded = [this](void*, int Index, const rv::TIOParamsVals* Params) { ThumbLoaded(Index, Params); };
  ThumbView->setMouseTracking(true);
  ThumbView->installEventFilter(this);
  ThumbScrollBar = new QScrollBar(Qt::Horizontal, LargeFilmPanel);
  connect(ThumbScrollBar, &QScrollBar::valueChanged, this, [this](int Value) {
    ThumbView->SetViewX(Value);
    ThumbScrolled();
  });
  SBtnQuickLeft = new QToolButton(LargeFilmPanel);
  SBtnQuickLeft->setText(QStringLiteral("<"));
  SBtnQuickRight = new QToolButton(LargeFilmPanel);
  SBtnQuickRight->setText(QStringLiteral(">"));
  connect(SBtnQuickLeft, &QToolButton::clicked, this, [this] { QuickScroll(-1); });
  connect(SBtnQuickRight, &QToolButton::clicked, this, [this] { QuickScroll(1); });
  LargeFilmPanel->installEventFilter(this);
  FilmPanelResized();
}

int TFolderViewForm::FilmStripHeight() const {
  return FilmStripImageHeight + ThumbViewHeight + FilmStripImageHeight + ThumbScrollBarHeight;
}

void TFolderViewForm::FilmPanelResized() {
  const int Width = std::max(0, LargeFilmPanel->width() - 2 * QuickButtonWidth);
  const int Height = FilmStripHeight();
  SBtnQuickLeft->setGeometry(0, 0, QuickButtonWidth, Height);
  SBtnQuickRight->setGeometry(QuickButtonWidth + Width, 0, QuickButtonWidth, Height);
  int Top = 0;
  TopFilmImage->setGeometry(QuickButtonWidth, Top, Width, FilmStripImageHeight);
  Top += FilmStripImageHeight;
  ThumbView->setGeometry(QuickButtonWidth, Top, Width, ThumbViewHeight);
  Top += ThumbViewHeight;
  BotFilmImage->setGeometry(QuickButtonWidth, Top, Width, FilmStripImageHeight);
  Top += FilmStripImageHeight;
  ThumbScrollBar->setGeometry(QuickButtonWidth, Top, Width, ThumbScrollBarHeight);
  ScrollThumbIntoView();
  ThumbScrolled();
  DrawFilmStripHoles(FStripLeft, FStripRight, true);
}

void TFolderViewForm::DrawFilmStripHoles(int ThumbLeft, int ThumbRight, bool Force) {
  const int ViewX = ThumbView->ViewX();
  const int Phase = ViewX % 10;
  if (!Force && ThumbLeft == FStripLeft && ThumbRight == FStripRight && Phase == FStripViewX) return;
  FStripLeft = ThumbLeft;
  FStripRight = ThumbRight;
  FStripViewX = Phase;
  const QPixmap Strip = QPixmap::fromImage(
      FilmStripPicture(TopFilmImage->width(), FilmStripImageHeight, ViewX, ThumbLeft, ThumbRight));
  TopFilmImage->setPixmap(Strip);
  BotFilmImage->setPixmap(Strip);
}

void TFolderViewForm::BuildList() {
  ImageView = new QStackedWidget(this);
  ImageView->setObjectName(QStringLiteral("ImageView"));
  ImageDetails = new QTreeView(ImageView);
  ImageDetails->setModel(FRows.get());
  ImageDetails->setRootIsDecorated(false);
  ImageDetails->setUniformRowHeights(true);
  ImageDetails->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ImageDetails->setSelectionBehavior(QAbstractItemView::SelectRows);
  ImageDetails->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ImageDetails->setAllColumnsShowFocus(true);
  ImageDetails->header()->setSectionsClickable(true);
  ImageDetails->header()->setStretchLastSection(false);
  static const int Widths[FolderColumnCount] = {200, 80, 140, 140, 90, 140};
  for (int C = 0; C < FolderColumnCount; ++C) ImageDetails->setColumnWidth(C, Widths[C]);
  connect(ImageDetails->header(), &QHeaderView::sectionClicked, this,
          [this](int Column) { ImageViewColumnClick(Column); });
  ImageList = new QListView(ImageView);
  ImageList->setModel(FRows.get());
  ImageList->setSelectionModel(ImageDetails->selectionModel());
  ImageList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ImageList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ImageList->setUniformItemSizes(true);
  ImageView->addWidget(ImageList);
  ImageView->addWidget(ImageDetails);
  ImageView->setCurrentWidget(ImageDetails);
  connect(ImageDetails->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ListSelectionChanged(); });
  ImageDetails->setContextMenuPolicy(Qt::CustomContextMenu);
  ImageList->setContextMenuPolicy(Qt::CustomContextMenu);
  auto Popup = [this](const QPoint&) {
    if (ThumbMenu) ThumbMenu->popup(QCursor::pos());
  };
  connect(ImageDetails, &QWidget::customContextMenuRequested, this, Popup);
  connect(ImageList, &QWidget::customContextMenuRequested, this, Popup);
}

void TFolderViewForm::SetListStyle(int Style) {
  FListStyle = Style;
  if (Style == 2) {
    ImageView->setCurrentWidget(ImageDetails);
  } else {
    ImageList->setViewMode(QListView::ListMode);
    ImageList->setFlow(Style == 0 ? QListView::LeftToRight : QListView::TopToBottom);
    ImageList->setWrapping(true);
    ImageList->setResizeMode(QListView::Adjust);
    ImageView->setCurrentWidget(ImageList);
  }
  SmallIcons1->setChecked(Style == 0);
  List1->setChecked(Style == 1);
  Details1->setChecked(Style == 2);
}

void TFolderViewForm::BuildMenus() {
  QMenu* File = menuBar()->addMenu(QStringLiteral("&File"));
  Dock1 = File->addAction(QStringLiteral("Return to Filmstrip"), this, [this] { Dock(); });
  CloseFolder1 = File->addAction(QStringLiteral("Close Folder"), this, [this] { close(); });
  QMenu* View = menuBar()->addMenu(QStringLiteral("&View"));
  SmallIcons1 = View->addAction(QStringLiteral("Small Icons"), this, [this] { SetListStyle(0); });
  List1 = View->addAction(QStringLiteral("List"), this, [this] { SetListStyle(1); });
  Details1 = View->addAction(QStringLiteral("Details"), this, [this] { SetListStyle(2); });
  for (QAction* A : {SmallIcons1, List1, Details1}) A->setCheckable(true);
  Details1->setChecked(true);

  ThumbMenu = new QMenu(this);
  Rename1 = ThumbMenu->addAction(QStringLiteral("Rename... [Ctrl+ENTER]"));
  Delete1 = ThumbMenu->addAction(QStringLiteral("Delete Image(s) [Del]"));
  Email1 = ThumbMenu->addAction(QStringLiteral("Email Image(s) [Ctrl+E]"));
  Copy1 = ThumbMenu->addAction(QStringLiteral("Copy Image(s) [Ctrl+C]"));
  Cut1 = ThumbMenu->addAction(QStringLiteral("Cut Image(s) [Ctrl+X]"));
  Paste1 = ThumbMenu->addAction(QStringLiteral("Paste Image(s) [Ctrl+V]"));
  Paste1->setEnabled(false);
  SelectAll1 = ThumbMenu->addAction(QStringLiteral("Select All [Ctrl+A]"), this, [this] { SelectAllFiles(); });
  Refresh1 = ThumbMenu->addAction(QStringLiteral("Refresh [Shift+F5]"), this, [this] { RefreshFolderWithWaitCursor(); });
  ThumbDock1 = ThumbMenu->addAction(QStringLiteral("Return to Filmstrip"), this, [this] { Dock(); });
  ThumbAdvanced1 = ThumbMenu->addAction(QStringLiteral("Advanced Folder View"), this, [this] { Undock(); });
  ThumbClose1 = ThumbMenu->addAction(QStringLiteral("Close Folder"), this, [this] { close(); });
  AdvancedFolderView1 = ThumbAdvanced1;
}

void TFolderViewForm::BindNotifications() {
  SxShellNotify = std::make_unique<sx::TSxShellNotification>();
  auto PathOf = [](sx::TSxShellItem* Item) { return Item ? Item->Path : std::string(); };
  SxShellNotify->OnFileCreate = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* I) { FileCreated(PathOf(I)); };
  SxShellNotify->OnFileDelete = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* I, sx::TSxShellItem*) {
    FileDeleted(PathOf(I));
  };
  SxShellNotify->OnFileRename = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* A, sx::TSxShellItem* B) {
    FileRenamed(PathOf(A), PathOf(B));
  };
  SxShellNotify->OnFileChange = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* I) { FileChanged(PathOf(I)); };
  SxShellNotify->OnFolderRename = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* A, sx::TSxShellItem* B) {
    FolderRenamed(PathOf(A), PathOf(B));
  };
  SxShellNotify->OnFolderChange = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* I) {
    FolderChanged(PathOf(I));
  };
  SxShellNotify->OnFolderDelete = [this, PathOf](sx::TSyComponent*, sx::TSxShellItem* I) {
    FolderDeleted(PathOf(I));
  };
}

// ---- Folder and listing

void TFolderViewForm::SetFolderPath(const std::string& Path) {
  const bool Changed = Path != FFolderPath;
  // The shown picture follows only when it lies in this folder, whichever
  // view is current.
  const bool ShownHere =
      Changed && FOwner && !FOwner->CurrentNameBytes().empty() &&
      FOwner->CurrentPathBytes() == JoinPath(FFolderPath, FOwner->CurrentNameBytes());
  FFolderPath = Path;
  const std::string Trimmed = WithoutTrailingDelimiter(Path);
  const std::size_t Slash = Trimmed.rfind('/');
  // The root keeps its delimiter.
  FFolderName = Trimmed == "/" ? Trimmed : (Slash == std::string::npos ? Trimmed : Trimmed.substr(Slash + 1));
  setWindowTitle(QString::fromStdString(Floating() ? FFolderPath : FFolderName));
  if (FOwner) FOwner->FolderTabsChanged();
  if (ShownHere)
    FOwner->SetCurrentFileNames(FOwner->CurrentNameBytes(), JoinPath(FFolderPath, FOwner->CurrentNameBytes()));
  if (Changed && SxShellNotify->Active()) SxShellNotify->SetWatchFolder(WithoutTrailingDelimiter(FFolderPath));
}

void TFolderViewForm::LoadFolder(const std::string& Path) {
  FTotalFileSize = 0;
  std::error_code Error;
  std::string Folder = Path, FilePart;
  if (!std::filesystem::is_directory(Path, Error)) {
    const std::size_t Slash = Path.rfind('/');
    Folder = Slash == std::string::npos ? std::string() : Path.substr(0, Slash == 0 ? 1 : Slash);
    FilePart = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
  }
  SetFolderPath(Folder);
  FFileToSelect = FilePart == "/" ? std::string() : FilePart;

  // A small folder is there at once; a large one comes in batches while
  // the view already shows. A queued call lives only as long as the view.
  FLister = std::make_unique<TFolderLister>(FFolderPath, [this] {
    QMetaObject::invokeMethod(this, [this] { TakeListedFiles(); }, Qt::QueuedConnection);
  });
  FLister->WaitIfSmall();
  TakeListedFiles(false);
  if (FClosing) return;
  SxShellNotify->SetWatchFolder(WithoutTrailingDelimiter(FFolderPath));
  SxShellNotify->SetActive(true);
}

void TFolderViewForm::TakeListedFiles(bool FromLoop) {
  if (!FLister || FClosing) return;
  bool Done = false;
  std::vector<TScannedFile> More = FLister->Take(Done);
  if (FListed.empty()) {
    FListed = std::move(More);
  } else {
    FListed.insert(FListed.end(), std::make_move_iterator(More.begin()), std::make_move_iterator(More.end()));
  }
  std::size_t Total = 0;
  if (FOwner && !FListingProgress && FLister->Counted(Total)) {
    FListingProgress = true;
    FListingTotal = static_cast<int>(std::min<std::size_t>(Total, INT_MAX));
    FOwner->SetProgressMax(FListingTotal);
    FOwner->SetProgress(0);
  }
  // Files that waited while the window was busy come in slices, so that the
  // window never stops for long; the rest follows in a call of its own.
  const std::size_t End = std::min(FListed.size(), FListedFrom + ListSlice);
  // Each slice goes in as one: one insertion for the list and one for the
  // strip, instead of a layout per file. The lister's order is the view's.
  std::vector<TFolderRow> NewRows;
  std::vector<std::string> NewNames;
  NewRows.reserve(End - FListedFrom);
  NewNames.reserve(End - FListedFrom);
  // The batch's names are known by the rows only once it is appended.
  std::unordered_set<std::string_view> InBatch;
  InBatch.reserve(End - FListedFrom);
  for (std::size_t I = FListedFrom; I < End; ++I) {
    const TScannedFile& F = FListed[I];
    if (Listed(F.Name) || !InBatch.insert(F.Name).second) continue;
    FTotalFileSize += static_cast<std::uint64_t>(std::max<std::int64_t>(F.Size, 0));
    FNames.push_back(F.Name);
    NewNames.push_back(F.Name);
    NewRows.push_back(RowOf(F));
  }
  FRows->Append(std::move(NewRows));
  ThumbAppend(NewNames);
  FListedCount += End - FListedFrom;
  if (FListingProgress) {
    // The first picture's read may have had the bar meanwhile.
    FOwner->SetProgressMax(FListingTotal);
    FOwner->SetProgress(static_cast<int>(std::min<std::size_t>(FListedCount, INT_MAX)));
  }
  FListedFrom = End;
  if (FListedFrom == FListed.size()) {
    FListed.clear();
    FListedFrom = 0;
  }
  Done = Done && FListed.empty();

  // The named file once it has arrived; the first one when there is none.
  bool Selected = false;
  if (FSelectedNames.empty() && !FNames.empty()) {
    if (!FFileToSelect.empty() && Listed(FFileToSelect)) {
      FSelectedNames = {FFileToSelect};
      Selected = true;
    } else if (FFileToSelect.empty() || Done) {
      FSelectedNames = {FNames.front()};
      Selected = true;
    }
  }
  if (Selected || Done) FFileToSelect.clear();
  DrawFilmStripHoles(FStripLeft, FStripRight, true);
  if (Done) EndListingProgress();
  UpdateSelectionStatus();
  // Appending moved the strip's own selection: the user's comes back. A
  // picture chosen from the event loop is read after the strip has painted
  // and handed its first screen to the thumbnail loader.
  const bool ShowNow = (Selected || !FLoadThread) && !FromLoop;
  // From the event loop the strip is laid out: its screen goes to the
  // thumbnail threads now, not at its next paint, so that they read while
  // the window reads the selected cell and paints.
  if (FromLoop) RequestStripScreen();
  SyncSelection(ShowNow);
  // Closed while its first picture was asked about (the folder went): there
  // is nothing more to read or watch.
  if (FClosing) return;
  if (Selected && FromLoop)
    QMetaObject::invokeMethod(
        this, [this] { ShowFirstSelectedAfterStrip(QDeadlineTimer(FirstPictureWait)); }, Qt::QueuedConnection);
  if (!FLoadThread) StartLoadThread();
  if (Done) {
    FLister.reset();
    // Listed to its end from the event loop without a picture: none is to
    // come, and the main window stops waiting for one, when that still
    // holds after its question about an edit.
    const auto Waiting = [this] { return FNames.empty() && FOwner && FOwner->CurrentFolderView() == this; };
    if (FromLoop && Waiting() && OwnerLetsPictureGo() && Waiting()) FOwner->ClearPictureView();
  } else if (!FListed.empty()) {
    QMetaObject::invokeMethod(this, [this] { TakeListedFiles(); }, Qt::QueuedConnection);
  }
}

void TFolderViewForm::EndListingProgress() {
  if (!FListingProgress) return;
  FListingProgress = false;
  if (FOwner && !FOwner->Closing()) FOwner->SetProgress(0);
}

void TFolderViewForm::StartLoadThread() {
  FLoadThread = std::make_unique<TLoadThread>(true);
  FLoadThread->View = this;
  FLoadThread->SetActive(true);
  FLoadThread->Resume();
}

int TFolderViewForm::GetFileIconIndex(const std::string& Name) {
  const std::string Ext = LowerFileExt(Name);
  if (Ext != ".ico" && rv::RvIsKnownFormat(Name)) {
    for (std::size_t I = 0; I < FIconExts.size(); ++I)
      if (FIconExts[I] == Ext) return FIconIndexes[I];
  }
  const QIcon Icon = IconOfItem(JoinPath(FFolderPath, Name));
  if (Icon.isNull()) return -1;
  FShellIconList.push_back(Icon);
  const int Index = static_cast<int>(FShellIconList.size()) - 1;
  FIconExts.push_back(Ext);
  FIconIndexes.push_back(Index);
  return Index;
}

TFolderRow TFolderViewForm::RowOf(const TScannedFile& File) {
  TFolderRow Row;
  Row.Name = File.Name;
  Row.Size = File.Size;
  Row.Modified = File.Modified;
  Row.Created = File.Created;
  Row.IconIndex = GetFileIconIndex(File.Name);
  return Row;
}

bool TFolderViewForm::AddFileItem(const TScannedFile& File, bool Select) {
  if (Listed(File.Name)) return false;
  AddFileItems({&File}, Select);
  return true;
}

void TFolderViewForm::AddFileItems(const std::vector<const TScannedFile*>& Files, bool Select) {
  std::vector<std::string> Names;
  std::vector<TFolderRow> Rows;
  Names.reserve(Files.size());
  Rows.reserve(Files.size());
  // The batch's names are known by the rows only once it is appended.
  std::unordered_set<std::string_view> InBatch;
  InBatch.reserve(Files.size());
  for (const TScannedFile* File : Files) {
    if (Listed(File->Name) || !InBatch.insert(File->Name).second) continue;
    FTotalFileSize += static_cast<std::uint64_t>(std::max<std::int64_t>(File->Size, 0));
    FNames.push_back(File->Name);
    Names.push_back(File->Name);
    Rows.push_back(RowOf(*File));
  }
  if (Names.empty()) return;
  ThumbAppend(Names);
  FRows->Append(std::move(Rows));
  if (Select) {
    if (FSelectedNames.empty()) {
      FSelectedNames = {Names.front()};
      UpdateSelectionStatus();
    }
    SyncSelection(true);
  }
  DrawFilmStripHoles(FStripLeft, FStripRight, true);
}

bool TFolderViewForm::AddFileByName(const std::string& Name, bool Select) {
  TScannedFile File;
  if (!ReadScannedFile(FFolderPath, Name, File)) return false;
  return AddFileItem(File, Select);
}

int TFolderViewForm::IndexOfName(const std::string& Name) const {
  const auto Found = std::find(FNames.begin(), FNames.end(), Name);
  return Found == FNames.end() ? -1 : static_cast<int>(Found - FNames.begin());
}

bool TFolderViewForm::Listed(const std::string& Name) const { return FRows->IndexOf(Name) >= 0; }

void TFolderViewForm::DropFile(std::size_t Index) {
  const std::string Name = FNames[Index];
  const int Row = FRows->IndexOf(Name);
  if (Row >= 0) {
    FTotalFileSize -= std::min<std::uint64_t>(FTotalFileSize,
                                              static_cast<std::uint64_t>(std::max<std::int64_t>(FRows->Row(Row).Size, 0)));
    // The list drops the row from its selection: not the user's choice, and
    // the names still selected may be of files already gone.
    const bool Selecting = FSelectingFromView;
    FSelectingFromView = true;
    FRows->Remove(Row);
    FSelectingFromView = Selecting;
  }
  ThumbDelete(static_cast<int>(Index));
  FNames.erase(FNames.begin() + static_cast<std::ptrdiff_t>(Index));
}

void TFolderViewForm::DropFiles(const std::unordered_set<std::string>& Gone) {
  std::vector<int> Thumbs, Rows;
  std::size_t Kept = 0;
  for (std::size_t I = 0; I < FNames.size(); ++I) {
    if (!Gone.count(FNames[I])) {
      if (Kept != I) FNames[Kept] = std::move(FNames[I]);
      ++Kept;
      continue;
    }
    Thumbs.push_back(static_cast<int>(I));
    if (const int Row = FRows->IndexOf(FNames[I]); Row >= 0) {
      FTotalFileSize -= std::min<std::uint64_t>(
          FTotalFileSize, static_cast<std::uint64_t>(std::max<std::int64_t>(FRows->Row(Row).Size, 0)));
      Rows.push_back(Row);
    }
  }
  if (Thumbs.empty()) return;
  FNames.resize(Kept);
  // As in DropFile: the list's own selection change is not the user's.
  const bool Selecting = FSelectingFromView;
  FSelectingFromView = true;
  FRows->RemoveRows(std::move(Rows));
  FSelectingFromView = Selecting;
  ThumbDeleteMany(Thumbs);
}

void TFolderViewForm::RemoveFileItem(const std::string& Name, bool DeleteFile, std::string& Result, bool Select) {
  const int Index = IndexOfName(Name);
  if (Index < 0) return;
  if (DeleteFile && !DeleteFiles({Name})) {
    Result.assign(1, '-');
    return;
  }
  const auto Sel = std::find(FSelectedNames.begin(), FSelectedNames.end(), Name);
  const bool WasSelected = Sel != FSelectedNames.end();
  if (WasSelected) FSelectedNames.erase(Sel);
  DropFile(static_cast<std::size_t>(Index));
  // The file that took the removed one's place is selected, so that the
  // caller can go on with it.
  if (Select && WasSelected && FSelectedNames.empty() && !FNames.empty())
    FSelectedNames = {FNames[std::min<std::size_t>(static_cast<std::size_t>(Index), FNames.size() - 1)]};
  DrawFilmStripHoles(FStripLeft, FStripRight, true);
  UpdateSelectionStatus();
  SyncSelection(false);
  Result = FSelectedNames.empty() ? std::string() : FSelectedNames.front();
}

void TFolderViewForm::UpdateFileItem(int Row, std::int64_t Size, std::int64_t Modified) {
  if (Row < 0 || Row >= FRows->Count()) return;
  TFolderRow& R = FRows->Row(Row);
  if (!Listed(R.Name)) return;
  FTotalFileSize = FTotalFileSize - static_cast<std::uint64_t>(std::max<std::int64_t>(R.Size, 0)) +
                   static_cast<std::uint64_t>(std::max<std::int64_t>(Size, 0));
  R.Size = Size;
  R.Modified = Modified;
  // The header is read again off the window's thread, as at the folder's
  // opening: by the thumbnail's new read, or by the loader thread for a row
  // whose thumbnail is not on screen.
  R.DetailsDone = false;
  R.Width = R.Height = R.Bits = -1;
  R.Skipped = false;
  ++FDetailsEpoch;
  FRows->RowChanged(Row);
  ThumbReload(IndexOfName(R.Name));
}

void TFolderViewForm::FlagFileSkipped(const std::string& Name) {
  const int Row = FRows->IndexOf(Name);
  if (Row < 0) return;
  FRows->Row(Row).Skipped = true;
  FRows->RowChanged(Row);
}

void TFolderViewForm::RenameFileItem(const std::string& OldName, const std::string& NewName, bool KeepRow) {
  if (FOwner && FOwner->CurrentPathBytes() == JoinPath(FFolderPath, OldName))
    FOwner->SetCurrentFileNames(NewName, JoinPath(FFolderPath, NewName));
  const int Index = IndexOfName(OldName);
  if (Index < 0) return;
  FNames[static_cast<std::size_t>(Index)] = NewName;
  std::replace(FSelectedNames.begin(), FSelectedNames.end(), OldName, NewName);
  ThumbRename(Index, NewName);
  const int Row = FRows->IndexOf(OldName);
  if (Row >= 0) {
    if (KeepRow) {
      // The list has taken the caption already; only the index follows.
      FRows->Rename(Row, NewName);
    } else {
      FRows->Rename(Row, NewName);
    }
    FRows->Row(Row).IconIndex = GetFileIconIndex(NewName);
  }
}

void TFolderViewForm::RefreshFolder(int Mode, bool Incremental) {
  // The listing still under way brings the folder as it is.
  if (FLister) return;
  const int ResumeAt = Incremental ? FRefreshResumeRow : 0;
  FRefreshResumeRow = 0;
  std::vector<TScannedFile> Files = ScanPictureFiles(FFolderPath);
  std::vector<std::string> Scanned;
  Scanned.reserve(Files.size());
  for (const TScannedFile& F : Files) Scanned.push_back(F.Name);
  const std::vector<int> Order = SortedNameOrder(Scanned);
  std::unordered_set<std::string> ScannedSet(Scanned.begin(), Scanned.end());

  const std::string FirstSelected = FSelectedNames.empty() ? std::string() : FSelectedNames.front();
  const int FirstSelectedIndex = FirstSelected.empty() ? -1 : IndexOfName(FirstSelected);
  bool AddedOrRemoved = false;
  // The shown picture gone: the one that takes its place is shown, whoever
  // noticed first (the change notification, the deferred refresh after a
  // move, the loader's rescan).
  bool ShownGone = false;
  // Rows go and come in one pass each: one at a time, each would lay out
  // and repaint the lists, the film strip and the selection again.
  if (Mode == 1 || Mode == 3) {
    std::unordered_set<std::string> Gone;
    for (const std::string& Name : FNames)
      if (!ScannedSet.count(Name)) Gone.insert(Name);
    if (!Gone.empty()) {
      ShownGone = Gone.count(ShownName()) > 0;
      FSelectedNames.erase(std::remove_if(FSelectedNames.begin(), FSelectedNames.end(),
                                          [&](const std::string& N) { return Gone.count(N) > 0; }),
                           FSelectedNames.end());
      DropFiles(Gone);
      AddedOrRemoved = true;
    }
  }
  if (Mode == 0 || Mode == 3) {
    std::vector<const TScannedFile*> New;
    for (int I : Order)
      if (!Listed(Files[static_cast<std::size_t>(I)].Name)) New.push_back(&Files[static_cast<std::size_t>(I)]);
    if (!New.empty()) {
      AddFileItems(New, Mode == 0);
      AddedOrRemoved = true;
    }
  }
  if (Mode == 2 || Mode == 3) {
    int Examined = 0;
    for (std::size_t K = static_cast<std::size_t>(std::max(ResumeAt, 0)); K < Order.size(); ++K) {
      if (Incremental && ++Examined > RefreshChunk) {
        FRefreshResumeRow = static_cast<int>(K);
        break;
      }
      const TScannedFile& F = Files[static_cast<std::size_t>(Order[K])];
      const int Row = FRows->IndexOf(F.Name);
      if (Row < 0) continue;
      if (FolderDateTimeText(FRows->Row(Row).Modified) != FolderDateTimeText(F.Modified) ||
          FRows->Row(Row).Size != F.Size)
        UpdateFileItem(Row, F.Size, F.Modified);
    }
  }
  if (AddedOrRemoved) {
    DrawFilmStripHoles(FStripLeft, FStripRight, true);
    if (FSelectedNames.empty() && !FNames.empty() && FirstSelectedIndex >= 0) {
      const std::size_t At = std::min<std::size_t>(static_cast<std::size_t>(FirstSelectedIndex), FNames.size() - 1);
      FSelectedNames = {FNames[At]};
    }
    UpdateSelectionStatus();
    SyncSelection(ShownGone);
  }
}

void TFolderViewForm::RefreshFolderWithWaitCursor() {
  const TWaitCursor Wait;
  RefreshFolder(3, false);
}

// ---- Selection

void TFolderViewForm::SelectSingleFile(const std::string& Name) {
  FSelectedNames = {Name};
  UpdateSelectionStatus();
}

void TFolderViewForm::AddToSelection(const std::string& Name) {
  if (std::find(FSelectedNames.begin(), FSelectedNames.end(), Name) == FSelectedNames.end())
    FSelectedNames.push_back(Name);
  UpdateSelectionStatus();
}

void TFolderViewForm::RemoveFromSelection(const std::string& Name) {
  FSelectedNames.erase(std::remove(FSelectedNames.begin(), FSelectedNames.end(), Name), FSelectedNames.end());
  UpdateSelectionStatus();
}

void TFolderViewForm::SelectAllFiles() {
  const TWaitCursor Wait;
  FSelectedNames = FNames;
  SyncSelection(true);
  UpdateSelectionStatus();
}

void TFolderViewForm::SelectAndShowFile(const std::string& Name) {
  if (!Listed(Name)) return;
  SelectSingleFile(Name);
  SyncSelection(true);
}

void TFolderViewForm::ShowNextFile() {
  if (FNames.empty()) return;
  int Index = FSelectedNames.empty() ? -1 : IndexOfName(FSelectedNames.front());
  Index = (Index < 0 || Index + 1 >= static_cast<int>(FNames.size())) ? 0 : Index + 1;
  SelectSingleFile(FNames[static_cast<std::size_t>(Index)]);
  SyncSelection(true);
}

void TFolderViewForm::ShowPreviousFile() {
  if (FNames.empty()) return;
  int Index = FSelectedNames.empty() ? -1 : IndexOfName(FSelectedNames.front());
  Index = Index <= 0 ? static_cast<int>(FNames.size()) - 1 : Index - 1;
  SelectSingleFile(FNames[static_cast<std::size_t>(Index)]);
  if (FOwner) FOwner->SteppingBackwards = true;
  SyncSelection(true);
  if (FOwner) FOwner->SteppingBackwards = false;
}

void TFolderViewForm::ShowFirstFile() {
  if (FNames.empty()) return;
  SelectSingleFile(FNames.front());
  SyncSelection(true);
}

void TFolderViewForm::ShowLastFile() {
  if (FNames.empty()) return;
  SelectSingleFile(FNames.back());
  SyncSelection(true);
}

void TFolderViewForm::SelectRowsFromNames() {
  QItemSelection Selection;
  for (const std::string& N : FSelectedNames) {
    const int Row = FRows->IndexOf(N);
    if (Row >= 0) Selection.select(FRows->index(Row, 0), FRows->index(Row, FolderColumnCount - 1));
  }
  QItemSelectionModel* Model = ImageDetails->selectionModel();
  Model->select(Selection, QItemSelectionModel::ClearAndSelect);
  if (!FSelectedNames.empty()) {
    const int Row = FRows->IndexOf(FSelectedNames.front());
    if (Row >= 0) Model->setCurrentIndex(FRows->index(Row, 0), QItemSelectionModel::NoUpdate);
  }
}

void TFolderViewForm::SyncSelection(bool ShowFile) {
  FSelectingFromView = true;
  std::vector<int> Thumbs;
  Thumbs.reserve(FSelectedNames.size());
  for (const std::string& N : FSelectedNames)
    if (const int I = IndexOfName(N); I >= 0) Thumbs.push_back(I);
  ThumbSelect(Thumbs);
  SelectRowsFromNames();
  FSelectingFromView = false;
  if (ShowFile) ShowFirstSelected();
}

bool TFolderViewForm::OwnerLetsPictureGo() {
  const QPointer<TFolderViewForm> Self(this);
  return FOwner->QuerySaveModified() == TMainForm::TLeaveAnswer::Go && Self && !FClosing;
}

bool TFolderViewForm::OwnerReleases(const std::vector<std::string>& Paths, bool Shows) {
  if (!FOwner) return true;
  const QPointer<TFolderViewForm> Self(this);
  return FOwner->ReleaseShownFile(Paths, Shows) && Self && !FClosing;
}

void TFolderViewForm::ShowFirstSelected() {
  if (!FOwner) return;
  if (!FSelectedNames.empty()) {
    if (!FOwner->ThumbsShownOrHidden()) return;
    const std::string Path = JoinPath(FFolderPath, FSelectedNames.front());
    if (Path == FOwner->CurrentPathBytes() && FOwner->CurrentFolderView() == this) return;
    // The selection may have changed while the user was asked.
    if (!OwnerLetsPictureGo() || FSelectedNames.empty()) return;
    FOwner->ShowImageFile(this, FSelectedNames.front());
  } else {
    // Nothing to show blanks the picture: an edit is asked about first, and
    // one the user keeps stays on the screen.
    if (!OwnerLetsPictureGo() || !FSelectedNames.empty()) return;
    FOwner->SetCurrentFolderView(this);
    FOwner->ClearPictureView();
  }
}

void TFolderViewForm::ShowFirstSelectedAfterStrip(QDeadlineTimer Deadline) {
  if (FClosing) return;
  // Reading the picture holds the window: the thumbnails the strip's
  // threads read meanwhile could not be shown. They come first, within
  // bounds.
  if (StripReading() && !Deadline.hasExpired()) {
    QTimer::singleShot(FirstPicturePoll, this, [this, Deadline] { ShowFirstSelectedAfterStrip(Deadline); });
    return;
  }
  ShowFirstSelected();
}

void TFolderViewForm::ListSelectionChanged() {
  if (FSelectingFromView || FClosing) return;
  std::vector<std::string> Selected;
  const QModelIndexList Rows = ImageDetails->selectionModel()->selectedRows();
  // The current row first: it is the one shown.
  const QModelIndex Current = ImageDetails->selectionModel()->currentIndex();
  if (Current.isValid() && ImageDetails->selectionModel()->isRowSelected(Current.row(), QModelIndex()))
    Selected.push_back(FRows->Row(Current.row()).Name);
  for (const QModelIndex& I : Rows) {
    const std::string& N = FRows->Row(I.row()).Name;
    if (Selected.empty() || N != Selected.front()) Selected.push_back(N);
  }
  FSelectedNames = Selected;
  UpdateSelectionStatus();
  FSelectingFromView = true;
  std::vector<int> Thumbs;
  for (const std::string& N : FSelectedNames)
    if (const int I = IndexOfName(N); I >= 0) Thumbs.push_back(I);
  ThumbSelect(Thumbs);
  FSelectingFromView = false;
  ShowFirstSelected();
}

void TFolderViewForm::UpdateSelectionStatus() {
  const std::size_t Count = FSelectedNames.size();
  Rename1->setEnabled(Count == 1);
  for (QAction* A : {Delete1, Email1, Copy1, Cut1}) A->setEnabled(Count >= 1);
  const bool One = Count == 1;
  Delete1->setText(One ? QStringLiteral("Delete Image [Del]") : QStringLiteral("Delete Images [Del]"));
  Email1->setText(One ? QStringLiteral("Email Image [Ctrl+E]") : QStringLiteral("Email Images [Ctrl+E]"));
  Copy1->setText(One ? QStringLiteral("Copy Image [Ctrl+C]") : QStringLiteral("Copy Images [Ctrl+C]"));
  Cut1->setText(One ? QStringLiteral("Cut Image [Ctrl+X]") : QStringLiteral("Cut Images [Ctrl+X]"));
  StatusPanel0->setText(QStringLiteral("%1 Images File(s) (").arg(FNames.size()) +
                        QString::fromStdString(FormatByteSize(FTotalFileSize)) + QLatin1Char(')'));
  const int Row = One ? FRows->IndexOf(FSelectedNames.front()) : -1;
  if (One && Row >= 0) {
    const TFolderRow& R = FRows->Row(Row);
    StatusPanel1->setText(QStringLiteral("Type: %1 (%2)").arg(FRows->SubItem(R, 1), FRows->SubItem(R, 0)));
  } else {
    StatusPanel1->setText(QStringLiteral("%1 Images File(s) Selected").arg(Count));
  }
}

QString TFolderViewForm::StatusText(int Panel) const {
  return Panel == 0 ? StatusPanel0->text() : StatusPanel1->text();
}

// ---- Sorting

void TFolderViewForm::ImageViewColumnClick(int Column) {
  if (Column == FSortColumn && FSortAscending) {
    FSortAscending = false;
  } else {
    FSortColumn = Column;
    FSortAscending = true;
  }
  FLastSortColumn = Column;
  FRows->SortByColumn(FSortColumn, FSortAscending);
  ImageDetails->header()->setSortIndicatorShown(true);
  ImageDetails->header()->setSortIndicator(FSortColumn, FSortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// ---- Docking and layout

void TFolderViewForm::Dock() {
  if (!Floating() || !FOwner) return;
  FOwner->DockFolderView(this);
  ApplyFolderViewLayout();
}

void TFolderViewForm::Undock() {
  if (Floating()) return;
  QWidget* Sheet = parentWidget();
  const QRect Screen =
      QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 800, 600);
  setParent(FOwner, Qt::Window);
  if (Sheet && FOwner) FOwner->FolderTabsChanged();
  resize(std::min(640, Screen.width()), std::min(480, Screen.height()));
  move(Screen.center() - rect().center());
  ApplyFolderViewLayout();
  ScrollSelectedRowIntoView();
}

void TFolderViewForm::ScrollSelectedRowIntoView() {
  if (FSelectedNames.empty()) return;
  const int Row = FRows->IndexOf(FSelectedNames.front());
  if (Row >= 0) ImageDetails->scrollTo(FRows->index(Row, 0), QAbstractItemView::EnsureVisible);
}

void TFolderViewForm::ApplyFolderViewLayout() {
  const bool Float = Floating();
  FWasFloating = Float;
  StatusBar1->setVisible(Float);
  LargeFilmPanel->setVisible(!Float);
  ImageView->setVisible(Float);
  menuBar()->setVisible(Float);
  Dock1->setVisible(Float);
  ThumbDock1->setVisible(Float);
  ThumbAdvanced1->setVisible(!Float);
  setWindowTitle(QString::fromStdString(Float ? FFolderPath : FFolderName));
  if (FOwner) FOwner->UpdateFolderTabHeight(nullptr);
  if (Float) {
    if (FOwner && FOwner->IsAdvancedListVisible()) show();
  } else {
    show();
  }
}

// ---- Events

bool TFolderViewForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (FileOpsEvent(Watched, Event)) return true;
  if (Watched == LargeFilmPanel && Event->type() == QEvent::Resize) FilmPanelResized();
  if (Watched == ThumbView && !FClosing) {
    switch (Event->type()) {
    case QEvent::MouseButtonPress: {
      auto* M = static_cast<QMouseEvent*>(Event);
      ThumbMouseDown(M->button(), M->modifiers(), M->position().toPoint());
      break;
    }
    case QEvent::MouseMove: {
      auto* M = static_cast<QMouseEvent*>(Event);
      ThumbMouseMove(M->buttons(), M->modifiers(), M->position().toPoint());
      break;
    }
    case QEvent::MouseButtonRelease: {
      auto* M = static_cast<QMouseEvent*>(Event);
      ThumbMouseUp(M->button(), M->modifiers(), M->position().toPoint());
      break;
    }
    case QEvent::Leave:
      DrawFilmStripHoles(-1, -1, false);
      break;
    case QEvent::KeyPress: {
      // Up and Down go to the neighbouring folder tabs.
      const int Key = static_cast<QKeyEvent*>(Event)->key();
      if (FOwner && (Key == Qt::Key_Up || Key == Qt::Key_Down)) {
        if (Key == Qt::Key_Up) FOwner->PreviousFolderTab();
        else FOwner->NextFolderTab();
        return true;
      }
      break;
    }
    case QEvent::Wheel:
    case QEvent::Resize:
    case QEvent::Show:
      QTimer::singleShot(0, this, [this] {
        ScrollThumbIntoView();
        ThumbScrolled();
      });
      break;
    default:
      break;
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TFolderViewForm::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  if (!FClosing && FWasFloating != Floating()) ApplyFolderViewLayout();
}

void TFolderViewForm::closeEvent(QCloseEvent* Event) {
  if (FClosing) {
    Event->accept();
    return;
  }
  if (Floating() && !FNoClosePrompt && ReadPromptFlag("ShowCloseFolderPrompt") && NotificationDlg &&
      NotificationDlg->PromptCloseFolder() != 1) {
    Event->ignore();
    return;
  }
  // The user's close of the last folder leaves the picture: an edit whose
  // save failed or was cancelled keeps the folder open.
  if (!FNoClosePrompt && FOwner && !FOwner->FolderViewMayClose(this)) {
    Event->ignore();
    return;
  }
  FClosing = true;
  if (FLoadThread) FLoadThread->Stop();
  SxShellNotify->SetActive(false);
  // A listing cut short leaves no count on the main window's bar.
  EndListingProgress();
  Event->accept();
  if (FOwner && !FOwner->Closing()) FOwner->FolderViewClosed(this);
  hide();
  deleteLater();
}

void TFolderViewForm::CloseFolderViewNoPrompt() {
  FNoClosePrompt = true;
  close();
}

void TFolderViewForm::keyPressEvent(QKeyEvent* Event) {
  const Qt::KeyboardModifiers Mods = Event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if (FileOpKey(*Event)) return;
  if (Mods == Qt::ShiftModifier && Event->key() == Qt::Key_F5) {
    RefreshFolderWithWaitCursor();
    return;
  }
  QMainWindow::keyPressEvent(Event);
}

// ---- Change notification

std::string TFolderViewForm::FileNameOf(const std::string& Path, bool& InFolder) const {
  const std::size_t Slash = Path.rfind('/');
  const std::string Folder = Slash == std::string::npos ? std::string() : Path.substr(0, Slash == 0 ? 1 : Slash);
  InFolder = WithoutTrailingDelimiter(Folder) == WithoutTrailingDelimiter(FFolderPath);
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

void TFolderViewForm::FileCreated(const std::string& Path) {
  if (FClosing) return;
  bool InFolder = false;
  const std::string Name = FileNameOf(Path, InFolder);
  std::error_code Error;
  if (!InFolder || !std::filesystem::is_regular_file(Path, Error) || !rv::RvIsKnownFormat(Name)) return;
  if (Listed(Name)) return;
  FNotifiedNew.push_back(Name);
  FNotifiedTimer->start(0);
}

void TFolderViewForm::FileDeleted(const std::string& Path) {
  if (FClosing) return;
  bool InFolder = false;
  const std::string Name = FileNameOf(Path, InFolder);
  if (!InFolder || !Listed(Name) || !rv::RvIsKnownFormat(Name)) return;
  FNotifiedGone = true;
  FNotifiedTimer->start(0);
}

std::string TFolderViewForm::ShownName() const {
  if (!FOwner || FOwner->CurrentFolderView() != this) return std::string();
  bool InFolder = false;
  const std::string Name = FileNameOf(FOwner->CurrentPathBytes(), InFolder);
  return InFolder ? Name : std::string();
}

void TFolderViewForm::TakeNotifiedChanges() {
  if (FClosing) return;
  // The operation's own end brings its folders up to date; the views wait
  // for it rather than read the folder again for each file it reports. A
  // listing under way may still bring a file reported gone: after it.
  if (wn::TWnSHFileOperation::Running() || FLister) {
    FNotifiedTimer->start(20);
    return;
  }
  const std::vector<std::string> New = std::move(FNotifiedNew);
  FNotifiedNew.clear();
  const bool Gone = FNotifiedGone;
  FNotifiedGone = false;
  // The files reported are added unselected; the folder's read then adds
  // any others, as a refresh does.
  if (Gone) RefreshFolder(1, false);
  if (!New.empty()) {
    std::vector<TScannedFile> Files;
    Files.reserve(New.size());
    std::unordered_set<std::string> Seen;
    for (const std::string& Name : New) {
      TScannedFile File;
      if (!Listed(Name) && Seen.insert(Name).second && ReadScannedFile(FFolderPath, Name, File))
        Files.push_back(std::move(File));
    }
    std::vector<const TScannedFile*> Items;
    for (const TScannedFile& F : Files) Items.push_back(&F);
    AddFileItems(Items, false);
    RefreshFolder(0, false);
  }
}

void TFolderViewForm::FileRenamed(const std::string& OldPath, const std::string& NewPath) {
  if (FClosing) return;
  bool OldIn = false, NewIn = false;
  const std::string OldName = FileNameOf(OldPath, OldIn);
  const std::string NewName = FileNameOf(NewPath, NewIn);
  const bool OldKnown = rv::RvIsKnownFormat(OldName), NewKnown = rv::RvIsKnownFormat(NewName);
  // A file the view lists already (a paste's copy finished under its name,
  // a rename of our own) needs no refresh: one per file of a paste of
  // thousands would read the folder thousands of times.
  const bool NewListed = NewIn && Listed(NewName);
  // Notices come late: a rename undone since (b to t, then t back to b)
  // finds its new name gone, and renaming the row would take the view, and
  // the shown picture's name, to a file that is not there.
  struct stat Status;
  if (OldIn && NewIn && ::lstat(NewPath.c_str(), &Status) != 0) {
    if (::lstat(OldPath.c_str(), &Status) != 0 && Listed(OldName)) FileDeleted(OldPath);
    return;
  }
  if (OldIn && NewIn) {
    if (NewListed) {
      // Renamed over a listed file: one row stays, with the new content.
      if (Listed(OldName)) {
        FileDeleted(OldPath);
        FileChanged(NewPath);
      }
    } else if (OldKnown && NewKnown && Listed(OldName)) {
      RenameFileItem(OldName, NewName, false);
    } else if (NewKnown) {
      FileCreated(NewPath);
    } else if (Listed(OldName)) {
      // Renamed to a type that is no picture: it leaves the view.
      FileDeleted(OldPath);
    }
  } else if (NewIn && NewKnown && !NewListed) {
    FileCreated(NewPath);
  } else if (OldIn && OldKnown) {
    FileDeleted(OldPath);
  }
}

void TFolderViewForm::FileChanged(const std::string& Path) {
  if (FClosing) return;
  bool InFolder = false;
  const std::string Name = FileNameOf(Path, InFolder);
  if (!InFolder) return;
  const int Row = FRows->IndexOf(Name);
  TScannedFile File;
  if (Row >= 0 && ReadScannedFile(FFolderPath, Name, File)) UpdateFileItem(Row, File.Size, File.Modified);
}

bool TFolderViewForm::ShowsFolder(const std::string& Path) const {
  return WithoutTrailingDelimiter(Path) == WithoutTrailingDelimiter(FFolderPath);
}

void TFolderViewForm::FolderRenamed(const std::string& OldPath, const std::string& NewPath) {
  if (FClosing) return;
  if (WithoutTrailingDelimiter(OldPath) != WithoutTrailingDelimiter(FFolderPath)) return;
  // A folder given with its trailing delimiter keeps it.
  const bool Trailing = !FFolderPath.empty() && FFolderPath.back() == '/' && FFolderPath.size() > 1;
  SetFolderPath(Trailing ? WithoutTrailingDelimiter(NewPath) + '/' : WithoutTrailingDelimiter(NewPath));
}

void TFolderViewForm::FolderChanged(const std::string& Path) {
  if (FClosing) return;
  if (WithoutTrailingDelimiter(Path) == WithoutTrailingDelimiter(FFolderPath)) RefreshFolder(3, false);
}

void TFolderViewForm::FolderDeleted(const std::string& Path) {
  if (FClosing) return;
  if (WithoutTrailingDelimiter(Path) != WithoutTrailingDelimiter(FFolderPath)) return;
  // A file operation still running may be this view's own: the view stays
  // until it has ended, and until the main window's question about its edit
  // is answered (one question at a time).
  if (wn::TWnSHFileOperation::Running() || (FOwner && FOwner->QuestionUp())) {
    QTimer::singleShot(20, this, [this, Path] { FolderDeleted(Path); });
    return;
  }
  const bool OfferSave = FOwner && FOwner->CurrentFolderView() == this && FOwner->IsImageModified();
  int Answer = 1;
  if (HelpDlg) {
    HelpDlg->PrepareChoice(QStringLiteral("Error"), QStringLiteral("The Image Folder you have open has been deleted."),
                           QStringLiteral("Close Folder"), OfferSave ? QStringLiteral("Save Image") : QString());
    Answer = HelpDlg->ShowModal();
  }
  if (Answer == 2 && OfferSave) FOwner->SaveImageAs();
  CloseFolderViewNoPrompt();
}

// ---- The film strip's thumbnails

void TFolderViewForm::ThumbAppend(const std::vector<std::string>& Names) {
  if (Names.empty()) return;
  // One layout for the whole batch.
  ThumbView->LockUpdate();
  for (const std::string& Name : Names)
    ThumbView->SetImageFileName(ThumbView->AppendImage(), JoinPath(FFolderPath, Name));
  ThumbView->UnlockUpdate();
  ThumbScrolled();
}

std::vector<int> TFolderViewForm::StripScreenUnread() const {
  std::vector<int> Cells;
  if (!ThumbView->isVisible()) return Cells;
  // The strip is one row of equal steps: only the cells about the view are
  // looked at, whatever the folder's size.
  const int Step = std::max(1, ThumbView->ThumbWidth() + ThumbView->HorizBorder());
  const int Count = std::min(ThumbView->ImageCount(), static_cast<int>(FNames.size()));
  const int Right = ThumbView->ViewX() + ThumbView->ClientWidth();
  for (int I = std::max(0, ThumbView->ViewX() / Step - 1); I < Count && ThumbView->ImageID(I) < Right; ++I)
    if (ThumbView->IsImageVisible(I) && !ThumbView->ImageHasPixels(I) && !ThumbView->ImageLoadFailed(I))
      Cells.push_back(I);
  return Cells;
}

std::unordered_set<std::string> TFolderViewForm::ThumbsOnScreenUnread() const {
  std::unordered_set<std::string> Names;
  for (int I : StripScreenUnread()) Names.insert(FNames[static_cast<std::size_t>(I)]);
  return Names;
}

void TFolderViewForm::RequestStripScreen() {
  // Without threads the strip reads its cells as it paints them.
  if (ThumbView->ThreadPoolSize == 0) return;
  // The cell to be selected is read by the selection itself.
  const int Selected = FSelectedNames.empty() ? -1 : IndexOfName(FSelectedNames.front());
  for (int I : StripScreenUnread())
    if (I != Selected) ThumbView->RequestLoad(I);
}

bool TFolderViewForm::StripReading() const {
  return ThumbView->isVisible() && !window()->isMinimized() &&
         (ThumbView->LoadQueueCount() + ThumbView->LoadRunningCount() > 0 || !ThumbsOnScreenUnread().empty());
}

void TFolderViewForm::ThumbLoaded(int Index, const rv::TIOParamsVals* Params) {
  // The thumbnail's read was the file's one open: its header gives the row
  // its details, and the loader thread passes the row by.
  if (Index < 0 || Index >= static_cast<int>(FNames.size())) return;
  const int Row = FRows->IndexOf(FNames[static_cast<std::size_t>(Index)]);
  if (Row < 0) return;
  TFolderRow& R = FRows->Row(Row);
  if (R.Width >= 0 || R.DetailsDone) return;
  R.DetailsDone = true;
  // A picture decoded at a reduced scale knows the size it was stored at.
  const int Width = Params ? (Params->UnscaledWidth > 0 ? Params->UnscaledWidth : Params->Width) : 0;
  const int Height = Params ? (Params->UnscaledHeight > 0 ? Params->UnscaledHeight : Params->Height) : 0;
  if (Width > 0 && Height > 0) {
    R.Width = Width;
    R.Height = Height;
    R.Bits = Params->BitsPerSample * Params->SamplesPerPixel;
  }
  FRows->RowsChanged(Row, Row);
}

void TFolderViewForm::ThumbDelete(int Index) {
  if (Index < 0 || Index >= ThumbView->ImageCount()) return;
  // The view's own selection may change with the image: not the user's.
  const bool Selecting = FSelectingFromView;
  FSelectingFromView = true;
  // The view makes the next thumbnail current and reads its file, which a
  // move of several files may have taken away already.
  try {
    ThumbView->DeleteImage(Index);
  } catch (const platform::EStreamError&) {
    ThumbView->Update();
  }
  FSelectingFromView = Selecting;
  ThumbScrolled();
}

void TFolderViewForm::ThumbDeleteMany(const std::vector<int>& Indexes) {
  if (Indexes.size() == 1) return ThumbDelete(Indexes.front());
  const bool Selecting = FSelectingFromView;
  FSelectingFromView = true;
  // Without a current image no deletion makes the next one current and
  // reads its file; the caller selects again afterwards.
  ThumbView->LockUpdate();
  ThumbView->DeselectNU();
  for (auto It = Indexes.rbegin(); It != Indexes.rend(); ++It)
    if (*It >= 0 && *It < ThumbView->ImageCount()) ThumbView->DeleteImageNU(*It);
  try {
    ThumbView->UnlockUpdate();
  } catch (const platform::EStreamError&) {
    ThumbView->Update();
  }
  FSelectingFromView = Selecting;
  ThumbScrolled();
}

void TFolderViewForm::ThumbRename(int Index, const std::string& Name) {
  if (Index < 0 || Index >= ThumbView->ImageCount()) return;
  ThumbView->SetImageFileName(Index, JoinPath(FFolderPath, Name));
  if (rv::TRvMText* Caption = ThumbView->ImageInfoText(Index)) Caption->SetCaption(Name);
  ThumbView->Update();
}

void TFolderViewForm::ThumbReload(int Index) {
  if (Index < 0 || Index >= ThumbView->ImageCount()) return;
  ThumbView->RereadImage(Index);
}

void TFolderViewForm::ThumbSelect(const std::vector<int>& Indexes) {
  ThumbView->BeginSelectImages();
  // The view's current image is the last one selected: the first of ours.
  for (auto It = Indexes.rbegin(); It != Indexes.rend(); ++It) ThumbView->SetSelectedImage(*It);
  // A selected file gone meanwhile has no picture to lend; the change
  // notification will take it out.
  try {
    ThumbView->EndSelectImages();
  } catch (const platform::EStreamError&) {
    ThumbView->Update();
  }
  FThumbToShow = Indexes.empty() ? -1 : Indexes.front();
  ScrollThumbIntoView();
}

void TFolderViewForm::ScrollThumbIntoView() {
  // Before the strip has its width the scroll would be wrong: it waits for
  // the first layout.
  if (FThumbToShow < 0 || !ThumbView->isVisible() || ThumbView->ClientWidth() < ThumbView->ThumbWidth()) return;
  const int Left = ThumbView->ImageID(FThumbToShow);
  const int Right = Left + ThumbView->ThumbWidth() + ThumbView->HorizBorder();
  const int Width = ThumbView->ClientWidth();
  if (Left < ThumbView->ViewX()) ThumbView->SetViewX(Left - ThumbView->HorizBorder());
  else if (Right > ThumbView->ViewX() + Width) ThumbView->SetViewX(Right - Width);
  FThumbToShow = -1;
  ThumbScrolled();
}

void TFolderViewForm::ThumbScrolled() {
  const int Max = ThumbView->MaxViewX();
  if (ThumbScrollBar->maximum() != Max || ThumbScrollBar->pageStep() != std::max(1, ThumbView->ClientWidth())) {
    const QSignalBlocker Block(ThumbScrollBar);
    ThumbScrollBar->setRange(0, Max);
    ThumbScrollBar->setPageStep(std::max(1, ThumbView->ClientWidth()));
    ThumbScrollBar->setSingleStep(ThumbView->ThumbWidth() + ThumbView->HorizBorder());
  }
  if (ThumbScrollBar->value() != ThumbView->ViewX()) {
    const QSignalBlocker Block(ThumbScrollBar);
    ThumbScrollBar->setValue(ThumbView->ViewX());
  }
  DrawFilmStripHoles(FStripLeft, FStripRight, false);
}

void TFolderViewForm::QuickScroll(int Direction) {
  const int Step = std::max(1, ThumbView->ClientWidth() - ThumbView->ThumbWidth());
  ThumbView->SetViewX(ThumbView->ViewX() + Direction * Step);
  ThumbScrolled();
}

void TFolderViewForm::ThumbViewImageSelect() {
  if (FSelectingFromView || FClosing) return;
  std::vector<std::string> Selected;
  // The current image first: it is the one to show.
  const int Current = ThumbView->SelectedImage();
  if (Current >= 0 && Current < static_cast<int>(FNames.size())) Selected.push_back(FNames[std::size_t(Current)]);
  for (int I = 0; I < ThumbView->MultiSelectedImagesCount(); ++I) {
    const int Index = ThumbView->MultiSelectedImages(I);
    if (Index < 0 || Index >= static_cast<int>(FNames.size()) || Index == Current) continue;
    Selected.push_back(FNames[std::size_t(Index)]);
  }
  FSelectedNames = Selected;
  UpdateSelectionStatus();
  SyncSelection(true);
}

void TFolderViewForm::SelectRange(const std::string& From, const std::string& To, bool Add) {
  int A = IndexOfName(From), B = IndexOfName(To);
  if (B < 0) return;
  if (A < 0) A = B;
  if (!Add) FSelectedNames.clear();
  // The clicked end first when nothing else is kept: it is shown.
  const int Step = A <= B ? 1 : -1;
  for (int I = A;; I += Step) {
    const std::string& N = FNames[std::size_t(I)];
    if (std::find(FSelectedNames.begin(), FSelectedNames.end(), N) == FSelectedNames.end()) FSelectedNames.push_back(N);
    if (I == B) break;
  }
  UpdateSelectionStatus();
}

void TFolderViewForm::ApplyClickToSelection(const std::string& Name, Qt::KeyboardModifiers Mods) {
  const bool Ctrl = Mods & Qt::ControlModifier, Shift = Mods & Qt::ShiftModifier;
  const std::string First = FSelectedNames.empty() ? Name : FSelectedNames.front();
  if (Ctrl && Shift) {
    SelectRange(First, Name, true);
  } else if (Ctrl) {
    if (std::find(FSelectedNames.begin(), FSelectedNames.end(), Name) != FSelectedNames.end()) RemoveFromSelection(Name);
    else AddToSelection(Name);
  } else if (Shift) {
    SelectRange(First, Name, false);
    // The range keeps its anchor in front.
    if (!FSelectedNames.empty() && FSelectedNames.front() != First) {
      FSelectedNames.erase(std::remove(FSelectedNames.begin(), FSelectedNames.end(), First), FSelectedNames.end());
      FSelectedNames.insert(FSelectedNames.begin(), First);
    }
  } else {
    SelectSingleFile(Name);
  }
}

void TFolderViewForm::ThumbMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Mods, const QPoint& At) {
  if (FButtonDown) return;
  const int Index = ThumbView->ImageAtPos(At.x(), At.y());
  if (Index < 0 || Index >= static_cast<int>(FNames.size())) return;
  FDownPoint = At;
  FDownMods = Mods;
  FDownName = FNames[std::size_t(Index)];
  FButtonDown = Button == Qt::LeftButton || Button == Qt::RightButton;
  FDragSelecting = false;
  ThumbView->setFocus();
}

void TFolderViewForm::ThumbMouseMove(Qt::MouseButtons Buttons, Qt::KeyboardModifiers Mods, const QPoint& At) {
  const int Index = ThumbView->ImageAtPos(At.x(), At.y());
  if (Index >= 0) {
    const int Left = ThumbView->ImageID(Index) - ThumbView->ViewX();
    DrawFilmStripHoles(Left, Left + ThumbView->ThumbWidth() + ThumbView->HorizBorder(), false);
  } else {
    DrawFilmStripHoles(-1, -1, false);
  }
  UpdateThumbHint(Index);
  if (!FButtonDown || !(Buttons & Qt::LeftButton) || Index < 0 || Index >= static_cast<int>(FNames.size())) return;
  const std::string& Name = FNames[std::size_t(Index)];
  const QPoint Moved = At - FDownPoint;
  if (std::abs(Moved.x()) < 4 && std::abs(Moved.y()) < 4 && Name == FDownName) return;
  // The thumbnail under the mouse joins the selection as a click would,
  // unless it is selected already: then the whole selection goes along.
  if (std::find(FSelectedNames.begin(), FSelectedNames.end(), Name) == FSelectedNames.end())
    ApplyClickToSelection(Name, Mods);
  FDragSelecting = true;
  SyncSelection(true);
  StartFileDrag();
}

void TFolderViewForm::ThumbMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Mods, const QPoint& At) {
  const bool WasDown = FButtonDown;
  FButtonDown = false;
  if (!WasDown) return;
  if (FDragSelecting) {
    FDragSelecting = false;
    SyncSelection(true);
    return;
  }
  if (Button == Qt::RightButton && (Mods & (Qt::ShiftModifier | Qt::ControlModifier))) return;
  const int Index = ThumbView->ImageAtPos(At.x(), At.y());
  if (Index < 0 || Index >= static_cast<int>(FNames.size())) return;
  const std::string& Name = FNames[std::size_t(Index)];
  if (Button == Qt::LeftButton) {
    ApplyClickToSelection(Name, Mods);
  } else if (Button == Qt::RightButton) {
    if (std::find(FSelectedNames.begin(), FSelectedNames.end(), Name) == FSelectedNames.end()) SelectSingleFile(Name);
  }
  SyncSelection(true);
  if (Button == Qt::RightButton) ThumbMenu->popup(ThumbView->mapToGlobal(At));
}

void TFolderViewForm::UpdateThumbHint(int Index) {
  if (Index == FHintIndex) return;
  FHintIndex = Index;
  if (Index < 0 || Index >= static_cast<int>(FNames.size())) {
    ThumbView->setToolTip(QString());
    ThumbView->setStatusTip(QString());
    return;
  }
  const std::string& Name = FNames[std::size_t(Index)];
  const int Row = FRows->IndexOf(Name);
  if (Row < 0) return;
  const TFolderRow& R = FRows->Row(Row);
  const QString N = QString::fromStdString(Name), Size = FRows->SubItem(R, 0), Dims = FRows->SubItem(R, 3);
  // The short hint in the tip, the long one in the status line.
  if (!Dims.isEmpty()) {
    ThumbView->setToolTip(N + QStringLiteral("\r\n") + Size + QStringLiteral("\r\n") + Dims);
    ThumbView->setStatusTip(N + QStringLiteral(" (") + Dims + QLatin1Char(')'));
  } else {
    ThumbView->setToolTip(N + QStringLiteral("\r\n") + Size);
    ThumbView->setStatusTip(N);
  }
}

} // namespace app
