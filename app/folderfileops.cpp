// The folder view's commands that change files: delete, copy, cut and paste
// through the main window, rename by dialog or in the details list, and
// moving files by dragging them onto another folder view.
#include "app/folderview.h"

#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/mainform.h"
#include "app/pictureutil.h"
#include "app/renamedlg.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "image/views/rvmview.h"
#include "platform/shfileop.h"

#include <QApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QTreeView>

#include <cerrno>
#include <sys/stat.h>
#include <unordered_set>

namespace app {

std::function<void(const std::string&)> TFolderViewForm::BeforeFileRename;

namespace {

const QString FolderFilesMimeType = QStringLiteral("application/x-pictrova-folder-files");

// A drag of a folder view's files; it never leaves the program, so it can
// name the view it came from.
class TFolderDragData : public QMimeData {
public:
  QPointer<TFolderViewForm> Source;
};

const TFolderDragData* FolderDragOf(const QMimeData* Data) {
  return Data && Data->hasFormat(FolderFilesMimeType) ? dynamic_cast<const TFolderDragData*>(Data) : nullptr;
}

bool PathExists(const std::string& Path) {
  struct stat St;
  return ::lstat(Path.c_str(), &St) == 0;
}

} // namespace

void TFolderViewForm::BindFileOps() {
  connect(Rename1, &QAction::triggered, this, [this] { RenameSelectedFile(); });
  connect(Delete1, &QAction::triggered, this, [this] { DeleteSelectedFiles(); });
  connect(Email1, &QAction::triggered, this, [this] { EmailSelectedFiles(); });
  connect(Copy1, &QAction::triggered, this, [this] { CopySelectedFiles(); });
  connect(Cut1, &QAction::triggered, this, [this] { CutSelectedFiles(); });
  connect(Paste1, &QAction::triggered, this, [this] { PasteFiles(); });
  FRows->OnNameEdited = [this](const std::string& OldName, const std::string& NewName) {
    return ImageViewEdited(OldName, NewName);
  };
  for (QAbstractItemView* List : {static_cast<QAbstractItemView*>(ImageDetails), static_cast<QAbstractItemView*>(ImageList)}) {
    List->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // With dragging on, a press on a selected row keeps the selection for
    // the drag; the drag itself is started and received here.
    List->setDragEnabled(true);
    List->viewport()->setAcceptDrops(true);
    List->installEventFilter(this);
    List->viewport()->installEventFilter(this);
  }
  for (QWidget* Strip : {static_cast<QWidget*>(ThumbView), static_cast<QWidget*>(TopFilmImage),
                         static_cast<QWidget*>(BotFilmImage)}) {
    Strip->setAcceptDrops(true);
    if (Strip != ThumbView) Strip->installEventFilter(this);
  }
}

bool TFolderViewForm::FileOpsEvent(QObject* Watched, QEvent* Event) {
  if (FClosing) return false;
  const bool ListPort = Watched == ImageDetails->viewport() || Watched == ImageList->viewport();
  const bool DropTarget = ListPort || Watched == ThumbView || Watched == TopFilmImage || Watched == BotFilmImage;
  switch (Event->type()) {
  case QEvent::KeyPress: {
    if (Watched != ThumbView && Watched != ImageDetails && Watched != ImageList) return false;
    // Keys of a name being edited are the editor's, also those it passes on.
    if (static_cast<QWidget*>(Watched)->isAncestorOf(QApplication::focusWidget())) return false;
    return FileOpKey(*static_cast<QKeyEvent*>(Event));
  }
  case QEvent::DragEnter:
  case QEvent::DragMove:
  case QEvent::Drop: {
    if (!DropTarget) return false;
    auto* Drag = static_cast<QDropEvent*>(Event);
    if (!AcceptsFileDrag(Drag->mimeData())) {
      Drag->ignore();
      return true;
    }
    Drag->setDropAction(Qt::MoveAction);
    Drag->accept();
    if (Event->type() == QEvent::Drop) DropDraggedFiles(Drag->mimeData());
    return true;
  }
  case QEvent::MouseButtonPress: {
    if (!ListPort) return false;
    auto* Mouse = static_cast<QMouseEvent*>(Event);
    auto* List = static_cast<QAbstractItemView*>(Watched->parent());
    FListDownPoint = Mouse->position().toPoint();
    FListDown = Mouse->button() == Qt::LeftButton && List->indexAt(FListDownPoint).isValid();
    return false;
  }
  case QEvent::MouseMove: {
    if (!ListPort || !FListDown) return false;
    auto* Mouse = static_cast<QMouseEvent*>(Event);
    if (!(Mouse->buttons() & Qt::LeftButton)) {
      FListDown = false;
      return false;
    }
    if ((Mouse->position().toPoint() - FListDownPoint).manhattanLength() < QApplication::startDragDistance())
      return true;
    FListDown = false;
    StartFileDrag();
    return true;
  }
  case QEvent::MouseButtonRelease:
    if (ListPort) FListDown = false;
    return false;
  default:
    return false;
  }
}

bool TFolderViewForm::FileOpKey(const QKeyEvent& Key) {
  const Qt::KeyboardModifiers Mods = Key.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if (Mods == Qt::NoModifier && Key.key() == Qt::Key_Delete) {
    DeleteSelectedFiles();
    return true;
  }
  if (Mods != Qt::ControlModifier) return false;
  switch (Key.key()) {
  case Qt::Key_C:
    CopySelectedFiles();
    return true;
  case Qt::Key_X:
    CutSelectedFiles();
    return true;
  case Qt::Key_V:
    PasteFiles();
    return true;
  case Qt::Key_A:
    SelectAllFiles();
    return true;
  case Qt::Key_E:
    EmailSelectedFiles();
    return true;
  case Qt::Key_Return:
  case Qt::Key_Enter:
    RenameSelectedFile();
    return true;
  default:
    return false;
  }
}

// ---- Delete

bool TFolderViewForm::DeleteFiles(const std::vector<std::string>& Names) {
  if (Names.empty()) return false;
  std::vector<std::string> Paths;
  for (const std::string& N : Names) Paths.push_back(JoinPath(FFolderPath, N));
  wn::TWnSHFileOperation& Operation = *WnSHFileOperator;
  // The shown file may be among them: its edit is settled once the user has
  // said yes to the delete of that file, so that a delete declined or
  // cancelled leaves the file and the edit as they were. A delete that asks
  // nothing settles it first.
  if (Operation.Options.count(wn::fofNoConfirmation) && !OwnerReleases(Paths, false)) return false;
  const TWaitCursor Wait;
  Operation.Operation = wn::foDelete;
  Operation.Owner = window();
  Operation.SourceFiles = Paths;
  Operation.DestFiles.clear();
  Operation.OnAnswered = [this, &Paths](platform::TFileOpConfirm Kind, const std::string& Source, const std::string&,
                                        platform::TFileOpAnswer Answer) {
    const bool All = Answer == platform::TFileOpAnswer::YesToAll;
    if (Kind != platform::TFileOpConfirm::Delete || (Answer != platform::TFileOpAnswer::Yes && !All)) return Answer;
    // "Yes to All" lets this file and every one after it go unasked.
    std::vector<std::string> Going{Source};
    if (All) {
      const auto From = std::find(Paths.begin(), Paths.end(), Source);
      Going.assign(From == Paths.end() ? Paths.begin() : From, Paths.end());
    }
    return OwnerReleases(Going, false) ? Answer : platform::TFileOpAnswer::Cancel;
  };
  struct TUnhook {
    wn::TWnSHFileOperation& Operation;
    ~TUnhook() { Operation.OnAnswered = nullptr; }
  } Unhook{Operation};
  bool Deleted = Operation.Execute();
  // A file the user chose to keep is still there: that is no delete.
  for (const std::string& Path : Operation.SourceFiles)
    if (PathExists(Path)) Deleted = false;
  return Deleted;
}

void TFolderViewForm::DeleteSelectedFiles() {
  if (FClosing || FSelectedNames.empty()) return;
  // The rows of deleted files go when the change notification reports them.
  const std::vector<std::string> Names = FSelectedNames;
  DeleteFiles(Names);
}

// ---- E-mail

void TFolderViewForm::EmailSelectedFiles() {
  if (FClosing || !FOwner || FSelectedNames.empty()) return;
  // The main window's command mails its current view's selection. A view
  // that is not current (an undocked one after another tab was chosen)
  // becomes current as a click on its selection makes it.
  if (FOwner->CurrentFolderView() != this) ShowFirstSelected();
  if (FClosing || FOwner->CurrentFolderView() != this) return;
  FOwner->Execute(QStringLiteral("EmailWizard"));
}

// ---- Copy, cut and paste

void TFolderViewForm::CopySelectedFiles() {
  if (!FClosing && FOwner && !FSelectedNames.empty()) FOwner->RememberFilesForCopy(FFolderPath, FSelectedNames);
}

void TFolderViewForm::CutSelectedFiles() {
  if (!FClosing && FOwner && !FSelectedNames.empty()) FOwner->RememberFilesForMove(FFolderPath, FSelectedNames);
}

void TFolderViewForm::PasteFiles() {
  if (!FClosing && FOwner) FOwner->PasteRememberedFiles(this);
}

void TFolderViewForm::UpdatePasteMenu(bool Enabled, const std::vector<std::string>& Files, bool CutMode) {
  Paste1->setEnabled(Enabled);
  Paste1->setText(Files.size() == 1 ? QStringLiteral("Paste Image [Ctrl+V]") : QStringLiteral("Paste Images [Ctrl+V]"));
  FCutPaths = Files;
  FCutMode = CutMode && Enabled;
  const std::unordered_set<std::string> Cut(Files.begin(), Files.end());
  for (int I = 0; I < FRows->Count(); ++I) {
    TFolderRow& R = FRows->Row(I);
    const bool Ghosted = FCutMode && Cut.count(JoinPath(FFolderPath, R.Name)) > 0;
    if (R.Cut != Ghosted) {
      R.Cut = Ghosted;
      FRows->RowChanged(I);
    }
  }
}

void TFolderViewForm::StartFileOpDelay() { FileOpDelayTimer->start(); }

// ---- Rename

bool TFolderViewForm::RenameOnDisk(const std::string& OldName, const std::string& NewName, QString& Error) {
  // A name is one entry of this folder: no way out of it, nothing hidden
  // after a NUL.
  if (NewName.empty() || NewName == "." || NewName == ".." || NewName.find_first_of(std::string("/\0", 2)) != std::string::npos) {
    Error = RenameFailureText(NewName, EINVAL);
    return false;
  }
  const std::string To = JoinPath(FFolderPath, NewName);
  if (PathExists(To)) {
    Error = RenameFailureText(NewName, EEXIST);
    return false;
  }
  if (BeforeFileRename) BeforeFileRename(To);
  // Never replacing: a file that took the name since the check stays.
  const std::string From = JoinPath(FFolderPath, OldName);
  const int Code = FOwner ? FOwner->RenameOwnFile(From, To) : platform::RenameNoReplace(From, To);
  if (Code == 0) return true;
  Error = RenameFailureText(NewName, Code);
  return false;
}

void TFolderViewForm::RenameSelectedFile() {
  if (FClosing || FSelectedNames.size() != 1) return;
  const std::string OldName = FSelectedNames.front();
  const std::size_t Dot = OldName.rfind('.');
  const QString Base = FileNameText(Dot == std::string::npos ? OldName : OldName.substr(0, Dot));
  const std::string Ext = Dot == std::string::npos ? std::string() : OldName.substr(Dot);

  std::unique_ptr<TRenameDlg> Own;
  TRenameDlg* Dialog = RenameDlg;
  if (!Dialog) {
    Own = std::make_unique<TRenameDlg>(this);
    Dialog = Own.get();
  }
  Dialog->EdtNewFileName->setText(Base);
  Dialog->LblFileType->setText(QString::fromStdString(GetImageTypeDescription(OldName)));
  for (;;) {
    if (Dialog->ShowModal() != 1 || FClosing) return;
    const QString Entered = Dialog->EdtNewFileName->text();
    if (Entered.isEmpty() || Entered.compare(Base, Qt::CaseInsensitive) == 0) return;
    const std::string NewName = Entered.toStdString() + Ext;
    QString Error = RenameNameRefusal(Entered);
    // Only a rename the user went on with, to a name not refused, settles
    // the shown picture's edit: one cancelled leaves the file and the edit
    // as they were.
    if (Error.isEmpty() && !OwnerReleases({JoinPath(FFolderPath, OldName)}, true)) return;
    if (Error.isEmpty() && RenameOnDisk(OldName, NewName, Error)) {
      RenameFileItem(OldName, NewName, false);
      return;
    }
    // The dialog comes back with the entered name for another try.
    ShowErrorDialog(Error);
  }
}

bool TFolderViewForm::ImageViewEdited(const std::string& OldName, const std::string& NewName) {
  if (FClosing || NewName == OldName) return false;
  // A name refused settles nothing: the shown picture's edit stays.
  QString Error = RenameNameRefusal(QString::fromStdString(NewName));
  if (!Error.isEmpty()) {
    ShowErrorDialog(Error);
    return false;
  }
  if (!OwnerReleases({JoinPath(FFolderPath, OldName)}, true)) return false;
  if (LowerFileExt(OldName) != LowerFileExt(NewName)) {
    Error = QStringLiteral("The file extension must match previous file extension.");
  } else if (RenameOnDisk(OldName, NewName, Error)) {
    RenameFileItem(OldName, NewName, true);
    return true;
  }
  ShowErrorDialog(Error);
  return false;
}

// ---- Dragging files between folder views

QMimeData* TFolderViewForm::FileDragData() {
  auto* Data = new TFolderDragData;
  Data->Source = this;
  QByteArray Paths;
  for (const std::string& N : FSelectedNames) Paths += QByteArray::fromStdString(JoinPath(FFolderPath, N)) + '\n';
  Data->setData(FolderFilesMimeType, Paths);
  return Data;
}

bool TFolderViewForm::AcceptsFileDrag(const QMimeData* Data) const {
  const TFolderDragData* Drag = FolderDragOf(Data);
  if (FClosing || !Drag || !Drag->Source || Drag->Source == this || Drag->Source->Closing()) return false;
  return !ShowsFolder(Drag->Source->GetFolderPath());
}

void TFolderViewForm::DropDraggedFiles(const QMimeData* Data) {
  if (!AcceptsFileDrag(Data)) return;
  const QPointer<TFolderViewForm> Source = FolderDragOf(Data)->Source;
  // The move may ask and show its progress: after the drag, not inside it.
  QTimer::singleShot(0, this, [this, Source] {
    if (!Source || Source->Closing() || FClosing || !FOwner || Source->SelectedNames().empty()) return;
    const std::vector<std::string> Names = Source->SelectedNames();
    FOwner->MoveDraggedFiles(Source->GetFolderPath(), Names, this);
  });
}

void TFolderViewForm::StartFileDrag() {
  if (FSelectedNames.empty()) return;
  const QPointer<QDrag> Drag = new QDrag(this);
  Drag->setMimeData(FileDragData());
  const int Row = FRows->IndexOf(FSelectedNames.front());
  if (Row >= 0 && FRows->Row(Row).IconIndex >= 0) Drag->setPixmap(FRows->IconOf(FRows->Row(Row).IconIndex).pixmap(32, 32));
  // The view may close while the drag's loop runs: nothing of it is used
  // after it is gone.
  const QPointer<TFolderViewForm> Self = this;
  Drag->exec(Qt::MoveAction, Qt::MoveAction);
  if (Drag) Drag->deleteLater();
  if (!Self) return;
  // The drag took the button's release.
  FButtonDown = false;
  FDragSelecting = false;
}

} // namespace app
