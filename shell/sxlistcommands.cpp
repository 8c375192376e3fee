// The folder list's commands and interaction: new folder, delete, double
// click, the context menu, renaming in place, dragging out and dropping in.
#include "shell/sxshellcombo.h"
#include "shell/sxshelllist.h"
#include "shell/sxshelltree.h"
#include "shell/sxfolderdrop.h"
#include "shell/sxguards.h"

#include <QtCore/QTimer>
#include <QtGui/QtEvents>
#include <QtGui/QDragEnterEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QListView>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTreeView>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace sx {

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

bool ExistsOnDisk(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

// ---------------------------------------------------------------- new folder and delete

bool TSxCustomShellListView::CreateNewFolder(const std::string& Name) {
  if (!FCurrentFolder) return false;
  if (FCurrentFolder->IsReadOnly()) RaiseSyError<ESyInvalidFolder>(scParentReadOnly);
  const std::string base = Name.empty() ? std::string(SyStr::NewFolder) : Name;
  if (!SxValidItemName(base)) {
    FController->ReportError(this, "\"" + base + "\" is not a valid folder name. " + SxItemNameFault(base));
    return false;
  }
  const std::string dir = FCurrentFolder->Path;
  // A name is taken by any row (in any case) and by anything on disk, hidden
  // or filtered out as it may be.
  auto taken = [&](const std::string& candidate) {
    const std::string upper = Upper(candidate);
    for (TSxShellItemList* list : {&FShellItems, &FFilteredItems})
      for (const auto& item : list->List())
        if (Upper(item->DisplayName) == upper) return true;
    return ExistsOnDisk(dir + "/" + candidate);
  };
  std::string candidate = base;
  for (int n = 2; taken(candidate); ++n) {
    candidate = base + " (" + std::to_string(n) + ")";
    if (!SxValidItemName(candidate)) {
      FController->ReportError(this, "No free name is left for \"" + base + "\".");
      return false;
    }
  }
  const std::string path = (dir.empty() || dir.back() == '/' ? dir : dir + "/") + candidate;
  if (!SxCreateFolder(dir, candidate)) {
    // Nothing was made: no row comes for it.
    FController->ReportError(this, "Could not create \"" + candidate + "\": " + std::strerror(errno));
    return false;
  }
  std::unique_ptr<TSxShellItem> item;
  try {
    item = TSxShellItem::CreateFromPath(path, FController);
  } catch (const ESyException&) {
    return true;
  }
  item->ListIndex = FShellItems.Count();
  if (!DoFilterItem(item.get())) return true;
  AddListItem(item.get());
  if (Loading()) FAddedByHand.insert(path);
  if (FilterActive()) {
    FShellItems.Add(std::move(item));
    ApplyFileFilter();
  } else {
    AppendItem(std::move(item));
  }
  EditRow(RowByCaption(candidate));
  return true;
}

bool TSxCustomShellListView::DeleteSelectedItems(bool AllowUndo, bool Confirm) {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return false;
  std::vector<std::string> paths;
  for (int row : rows)
    if (TSxShellItem* item = RowItem(row)) paths.push_back(item->Path);
  // A delete that asks settles whoever holds a file by its name once the
  // user said yes for it: one declined or cancelled leaves all as it was.
  if (!Confirm && SxBeforeTransfer && !SxBeforeTransfer(paths)) return false;
  TSxFileOperation op(this);
  op.Operation = fopDelete;
  op.SetSourceFiles(paths);
  if (!AllowUndo) op.Options.erase(foAllowUndo);
  if (!Confirm) op.Options.insert(foNoConfirmation);
  op.Options.insert(foNoErrorUI);
  op.OnConfirm = FController->OnConfirm;
  bool stopped = false;
  if (Confirm)
    op.OnAnswered = [&](platform::TFileOpConfirm kind, const std::string& source, const std::string&,
                        platform::TFileOpAnswer answer) {
      using platform::TFileOpAnswer;
      const bool all = answer == TFileOpAnswer::YesToAll;
      if (kind != platform::TFileOpConfirm::Delete || (answer != TFileOpAnswer::Yes && !all) || !SxBeforeTransfer)
        return answer;
      // "Yes to All" lets this item and every one after it go unasked.
      std::vector<std::string> going{source};
      if (all) {
        const auto from = std::find(paths.begin(), paths.end(), source);
        going.assign(from == paths.end() ? paths.begin() : from, paths.end());
      }
      if (SxBeforeTransfer(going)) return answer;
      stopped = true;
      return TFileOpAnswer::Cancel;
    };
  bool ok = false;
  try {
    ok = op.Execute();
  } catch (const ESyException& e) {
    op.LastErrorText = e.what();
  }
  if (stopped) return false;
  if (!ok && op.LastError != ERROR_CANCELLED && !op.OperationsAborted())
    FController->ReportError(this, "Could not delete: " + op.LastErrorText);
  return ok;
}

// ---------------------------------------------------------------- opening

void TSxCustomShellListView::OpenFolder(TSxShellItem* Item) {
  auto folder = std::make_unique<TSxShellFolder>(FController);
  folder->Assign(*Item);
  if (!folder->ParentFolder) folder->ParentFolder = FController->DesktopFolder;
  MoveLinked(folder.get());
  FillList(folder.get());
}

void TSxCustomShellListView::MoveUpOneLevel() {
  if (!FCurrentFolder) return;
  TSxItemIDList list = ILClone(FCurrentFolder->AbsoluteIDList);
  ILRemoveLastID(list);
  auto folder = TSxShellFolder::CreateFromIDList(list, FController);
  if (FTreeView) {
    try {
      if (!FTreeView->SelectFolder(*folder, false)) return;
    } catch (const ESyInvalidFolder&) {
      return;
    }
  }
  if (FComboBox) FComboBox->SetFolder(folder.get(), false);
  FillList(folder.get());
}

void TSxCustomShellListView::DblClick() {
  TSxShellItem* item = FocusedItem();
  if (!item) return;
  bool defaultAction = true;
  DoItemDblClick(item, defaultAction);
  if (!defaultAction) return;
  const bool folder = item->IsFolderItem() || item->IsFolder;
  if (OpenDialogMode) {
    if (folder) OpenFolder(item);
    return;
  }
  if (item->IsFileSystem && !folder) {
    FController->OpenPaths(this, {item->Path});
  } else if (folder && !HasOption(loOpenFoldersInNewWindow)) {
    OpenFolder(item);
  } else if (!item->Execute()) {
    FController->ReportError(this, "Could not open " + item->DisplayName + ".");
  }
}

// ---------------------------------------------------------------- renaming

bool TSxCustomShellListView::CanEdit(TSxShellItem* Item) {
  return Item && HasOption(loAllowRename) && Item->CanRename();
}

bool TSxCustomShellListView::Edit(TSxShellItem* Item, const std::string& NewText) {
  if (!Item || NewText.empty() || NewText == Item->DisplayName || !Item->ParentFolder) return false;
  TSxItemIDList relative;
  if (!FController->RenameItem(this, *Item->ParentFolder, Item->RelativeIDList, Item->DisplayName, NewText, relative))
    return false;
  const std::string oldPath = Item->Path;
  auto rename = [&](TSxShellItem& target) {
    target.RelativeIDList = relative;
    target.AbsoluteIDList = ILCombine(target.ParentFolder->AbsoluteIDList(), relative);
    target.Path = target.ParentFolder->GetDisplayNameOf(relative, SHGDN_FORPARSING);
    target.DisplayName = NewText;
  };
  // A filtered row is a copy: the item it was made from changes too.
  for (TSxShellItemList* list : {&FShellItems, &FFilteredItems})
    for (auto& other : list->List())
      if (other.get() != Item && other->Path == oldPath) rename(*other);
  rename(*Item);
  return true;
}

// ---------------------------------------------------------------- context menu

void TSxCustomShellListView::ContextMenu(QPoint GlobalPos, bool OnRow) {
  TSxShellItem* focused = FocusedItem();
  if (!HasOption(loShellMenu) || !focused || !OnRow) {
    FPopup->exec(GlobalPos);
    return;
  }
  std::vector<TSxItemIDList> ids;
  for (int row : SelectedRows())
    if (TSxShellItem* item = RowItem(row)) ids.push_back(item->RelativeIDList);
  if (ids.empty()) ids.push_back(focused->RelativeIDList);
  std::shared_ptr<TSxNamespaceFolder> parent = focused->ParentFolder ? focused->ParentFolder : FController->DesktopFolder;
  const int command = FController->ShowContextMenu(static_cast<TSxShellListClient*>(this), parent, this,
                                                   GlobalPos.x(), GlobalPos.y(), ids);
  if (command == cmRename) EditRow(FocusedRow());
}

// ---------------------------------------------------------------- dragging out

std::string TSxCustomShellListView::DragText() const {
  int files = 0, folders = 0;
  const std::vector<int> rows = SelectedRows();
  auto* self = const_cast<TSxCustomShellListView*>(this);
  for (int row : rows)
    if (const TSxShellItem* item = self->RowItem(row)) {
      files += item->IsFile;
      folders += item->IsFolder;
    }
  return SxDragImageText(files, folders, static_cast<int>(rows.size()));
}

void TSxCustomShellListView::StartDrag() {
  if (!HasOption(loAllowDrag)) return;
  TSxShellItem* focused = FocusedItem();
  std::vector<TSxItemIDList> ids;
  std::uint32_t effects = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK;
  for (int row : SelectedRows())
    if (TSxShellItem* item = RowItem(row)) {
      ids.push_back(item->RelativeIDList);
      // Every item must allow an effect for the drag to offer it.
      effects &= item->ParentFolder ? item->ParentFolder->GetAttributesOf(item->RelativeIDList, effects) : 0;
    }
  if (ids.empty() || !focused || !effects) return;
  // Held here: the list may go while the drag runs.
  const std::shared_ptr<TSxCustomShellController> controller = FControllerRef;
  controller->DragSource = static_cast<TSxShellListClient*>(this);
  auto* data = new TSxDataObject(ids, focused->AbsoluteIDList);

  const int size = FViewStyle == vsIcon ? 32 : 16;
  const QString text = QString::fromStdString(DragText());
  const QFontMetrics metrics(font());
  QPixmap image(size + 4 + metrics.horizontalAdvance(text) + 2, std::max(size, metrics.height()));
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.drawPixmap(0, (image.height() - size) / 2, RowIcon(focused, size == 32).pixmap(size, size));
    p.setFont(font());
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(size + 4, 0, image.width() - size - 4, image.height()), Qt::AlignVCenter | Qt::AlignLeft, text);
  }
  SxDoDragDrop(ActiveView(), data, SxDropActionsOf(effects), image, QPoint(size / 2, size / 2));
  controller->DragSource = nullptr;
}

// ---------------------------------------------------------------- dropping in

TSxRowNeighbours TSxCustomShellListView::Neighbours() const {
  const QAbstractItemView* view = ActiveView();
  const QScrollBar* v = view->verticalScrollBar();
  const QScrollBar* h = view->horizontalScrollBar();
  TSxRowNeighbours n;
  n.Above = v->value() > v->minimum();
  n.Below = v->value() < v->maximum();
  n.Left = h->value() > h->minimum();
  n.Right = h->value() < h->maximum();
  n.Next = n.Below || n.Right;
  return n;
}

std::unique_ptr<TSxFolderDropTarget> TSxCustomShellListView::DropTargetFor(const TSxShellItem* Item) const {
  // A folder row takes the drop itself; a file row takes none; the empty
  // space stands for the folder shown.
  if (Item) return TSxFolderDropTarget::Create(FController, Item->AbsoluteIDList);
  if (FCurrentFolder) return TSxFolderDropTarget::Create(FController, FCurrentFolder->AbsoluteIDList);
  return nullptr;
}

void TSxCustomShellListView::SetDropRow(int Row) {
  if (Row == FDropRow) return;
  QAbstractItemView* view = ActiveView();
  if (FDropRow >= 0) view->viewport()->update();
  FDropRow = Row;
  if (FDropRow >= 0) view->viewport()->update();
}

void TSxCustomShellListView::DragEnter(QDragEnterEvent* Event) {
  FDraggingOver = false;
  FDropTarget.reset();
  FDropRow = -1;
  FDragHasFiles = SxDragEnter(Event, HasOption(loAllowDrop));
}

void TSxCustomShellListView::DragMove(QDragMoveEvent* Event) {
  if (!FDragHasFiles) {
    Event->ignore();
    return;
  }
  QAbstractItemView* view = ActiveView();
  FDraggingOver = true;
  FDragPoint = Event->position().toPoint();
  FDragScroll = SxListDragScroll(FViewStyle, FDragPoint, view->viewport()->size(), Neighbours());
  if (FDragScroll.Direction != sdNone && !FScrollTimer->isActive()) FScrollTimer->start(FDragScroll.WaitMs);

  const QModelIndex index = view->indexAt(FDragPoint);
  const int row = index.isValid() ? index.row() : -1;
  TSxShellItem* item = RowItem(row);
  const bool entered = row != FDropRow || !FDropTarget;
  if (entered) {
    FDropTarget = DropTargetFor(item);
    SetDropRow(item && FDropTarget ? row : -1);
    if (!item) FDropRow = row;
  }
  SxAnswerDrag(Event, SxDragOver(FDropTarget.get(), entered, Event));
}

void TSxCustomShellListView::DragLeave() {
  FScrollTimer->stop();
  FDropTarget.reset();
  FDraggingOver = false;
  FDragHasFiles = false;
  SetDropRow(-1);
}

void TSxCustomShellListView::Drop(QDropEvent* Event) {
  FScrollTimer->stop();
  std::unique_ptr<TSxFolderDropTarget> target;
  if (FDragHasFiles) {
    const QModelIndex index = ActiveView()->indexAt(Event->position().toPoint());
    target = DropTargetFor(RowItem(index.isValid() ? index.row() : -1));
  }
  DragLeave();
  SxDropOn(target.get(), Event, this);
}

void TSxCustomShellListView::DragScrollStep() {
  if (!FDraggingOver) return;
  QAbstractItemView* view = ActiveView();
  FDragScroll = SxListDragScroll(FViewStyle, FDragPoint, view->viewport()->size(), Neighbours());
  QScrollBar* v = view->verticalScrollBar();
  QScrollBar* h = view->horizontalScrollBar();
  switch (FDragScroll.Direction) {
  case sdUp: v->setValue(v->value() - v->singleStep()); break;
  case sdDown: v->setValue(v->value() + v->singleStep()); break;
  case sdLeft: h->setValue(h->value() - h->singleStep()); break;
  case sdRight: h->setValue(h->value() + h->singleStep()); break;
  case sdNext:
    if (v->value() < v->maximum()) v->setValue(v->value() + v->singleStep());
    else h->setValue(h->value() + h->singleStep());
    break;
  case sdNone: return;
  }
  // The wait is a timer: the loop keeps running while the pointer rests.
  FScrollTimer->start(FDragScroll.WaitMs);
}

} // namespace sx
