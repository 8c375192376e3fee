// The folder list: the contents of one shell folder as icons, small icons, a
// list or a details table, over one virtual model whose rows are the list's
// own items. Folders are read off the user-interface thread and arrive in
// sorted batches; icons are made only for the rows shown. Sorting by column
// with display-order reversal, a file-mask filter, the context menu,
// renaming in place, new folders, deletion, dragging and dropping, and
// live updates from a private change notification.
#pragma once

#include "shell/sxbase.h"
#include "shell/sxdictionary.h"
#include "shell/sxfolderdrop.h"
#include "shell/sxfolderloader.h"
#include "shell/sxnotify.h"
#include "shell/sxshellitems.h"

#include <QtCore/QPointer>
#include <QtGui/QColor>
#include <QtWidgets/QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QAbstractItemView;
class QActionGroup;
class QListView;
class QMenu;
class QStackedLayout;
class QTimer;
class QTreeView;

namespace sx {

class TSxCustomShellTreeView;
class TSxCustomShellComboBox;
class TSxShellListModel;
class TSxListIconView;
class TSxListReportView;
template <class TBase>
class TSxListViewOf;

enum TSxListOptions {
  loAllowRename, loAllowDrag, loAllowDrop, loColorCompressed, loExtendedMenu,
  loOpenFoldersInNewWindow, loShellMenu, loShowHidden, loSortTypeByExt
};
using TSxListOptionsSet = std::set<TSxListOptions>;

enum TSxOptimization { otEnumerate, otDisplay };

using TSxItemDblClickEvent = std::function<void(TSyComponent* Sender, TSxShellItem* Item, bool& DefaultAction)>;
using TSxItemSelectedEvent = std::function<void(TSyComponent* Sender, TSxShellItem* Item)>;
using TSxListEnumItemEvent = std::function<void(TSyComponent* Sender, TSxShellItem* ShellItem, bool& Accept)>;

struct TSxListColumn {
  std::string Caption;
  int Width = 0;
  bool RightAligned = false;
};

class TSxCustomShellListView : public QWidget, public TSyComponent, public TSxShellListClient {
public:
  explicit TSxCustomShellListView(QWidget* Parent = nullptr);
  ~TSxCustomShellListView() override;

  // ---- properties
  TSxCustomShellComboBox* ComboBox() const;
  void SetComboBox(TSxCustomShellComboBox* Value);
  QColor CompressedColor() const { return FCompressedColor; }
  void SetCompressedColor(const QColor& Value);
  const std::string& FileFilter() const { return FFileFilter; }
  void SetFileFilter(const std::string& Masks);
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool Value);
  bool OpenDialogMode = false;
  TSxOptimization Optimization = otEnumerate;
  const TSxListOptionsSet& Options() const { return FOptions; }
  void SetOptions(const TSxListOptionsSet& Value);
  bool HasOption(TSxListOptions Option) const { return FOptions.count(Option) != 0; }
  const std::string& RootFolder() const { return FRootFolder; }
  void SetRootFolder(const std::string& Path);
  TSxSpecialRootFolder SpecialRootFolder() const { return FSpecialRootFolder; }
  void SetSpecialRootFolder(TSxSpecialRootFolder Value);
  TSxCustomShellTreeView* TreeView() const;
  void SetTreeView(TSxCustomShellTreeView* Value);
  TViewStyle ViewStyle() const { return FViewStyle; }
  void SetViewStyle(TViewStyle Value);

  TSxItemDblClickEvent OnItemDblClick;
  TSxItemSelectedEvent OnItemSelected;
  TSxListEnumItemEvent OnFilterItem;
  TSyNotifyEvent OnListFilled;
  TSxShellNotifyEvent3 OnShellChangeNotify;

  // ---- state
  TSxCustomShellController* Controller() const { return FController; }
  const std::shared_ptr<TSxCustomShellController>& SharedController() const { return FControllerRef; }
  void SetController(std::shared_ptr<TSxCustomShellController> Value);
  TSxShellFolder* CurrentFolder() const { return FCurrentFolder.get(); }
  TSxShellItemList& ShellItems() override { return FShellItems; }
  TSxShellItemList& FilteredItems() { return FFilteredItems; }
  TSxShellItemList& SelectedItems() { return FSelectedItems; }
  // FilteredItems while a file filter applies, else ShellItems.
  TSxShellItemList& CurrentList();
  bool FilterActive() const;
  TSxShellItem* SelectedItem() const { return FSelectedItem; }
  TSxDictionary& TypeNames() { return *FTypeNames; }
  const TSxListTexts& Texts() const { return FTexts; }
  const std::vector<TSxListColumn>& Columns() const { return FColumns; }
  QMenu* PopupMenu() const { return FPopup; }
  TSxShellNotification* Notifier() const { return FNotifier.get(); }
  // Shared by every folder list of the process.
  static int SortColumn;
  static bool SortAscending;
  bool ColumnsAdded = false;
  bool DetailsLoaded = false;
  bool TypedSort = false;
  bool KeepFolder = false;
  // Rows are still arriving from the folder being read.
  bool Loading() const { return FLoading || FReloading; }
  // No folder shown and no rows.
  bool IsEmpty() const { return !FCurrentFolder && FRowCount == 0; }

  // ---- operations
  virtual void FillList(TSxShellFolder* Folder);
  void MoveUpOneLevel();
  // Raises ESyInvalidFolder 241 in a read-only folder; false (reported)
  // when the name is refused or the folder cannot be made.
  bool CreateNewFolder(const std::string& Name);
  bool DeleteSelectedItems(bool AllowUndo, bool Confirm);
  void RefreshList();
  virtual void SortItems();
  void ApplyFileFilter();
  void Redisplay(bool Reenumerate);
  virtual void AddColumns(TSxShellFolder* Folder);
  void AddListItem(TSxShellItem* Item) override;
  void ColClick(int Column);
  // The selected row of that name, now or, while rows arrive, once it comes.
  void SelectItemByName(const std::string& Name);

  // ---- rows (row R shows item R, or count-1-R when sorted descending)
  int RowCount() const { return FRowCount; }
  TSxShellItem* RowItem(int Row);
  int RowOf(const TSxShellItem* Item);
  int RowByCaption(const std::string& Caption);
  int FocusedRow() const;
  void SetFocusedRow(int Row);
  std::vector<int> SelectedRows() const;
  void SelectRow(int Row, bool Select = true);
  QRect RowRect(int Row) const;
  QAbstractItemView* ActiveView() const;
  QListView* IconView() const;
  QTreeView* ReportView() const;
  void EditRow(int Row);
  bool Editing() const { return FEditing; }
  // A change came while editing: the list is read again when the edit ends.
  bool ChangeAwaitsEditEnd() const { return FChangeDuringEdit; }
  // The row shown as the drop target while something is dragged over.
  int DropTargetRow() const { return FDropRow; }

  // ---- interaction
  void Click();
  void DblClick();
  bool CanEdit(TSxShellItem* Item);
  // Renames the item; false (reported when refused) otherwise.
  bool Edit(TSxShellItem* Item, const std::string& NewText);
  // Whether the item is drawn in the compressed colour.
  bool CustomDrawItem(const TSxShellItem* Item) const;
  // Counts of the selection for the drag image.
  std::string DragText() const;

  // ---- the controller's side
  bool ShowHidden() const override { return HasOption(loShowHidden); }
  bool AllowRename() const override { return HasOption(loAllowRename); }
  bool ExtendedMenu() const override { return HasOption(loExtendedMenu); }
  bool OptimizeDisplay() const override { return Optimization == otDisplay; }
  bool ReportStyle() const override { return FViewStyle == vsReport; }
  bool WindowExists() const override { return true; }
  void ShowSearchAnimation() override {}
  void HideSearchAnimation() override {}
  bool DoFilterItem(TSxShellItem* Item) override;

protected:
  virtual void DoItemDblClick(TSxShellItem* Item, bool& DefaultAction);
  virtual void DoItemSelected(TSxShellItem* Item);
  virtual void DoListFilled();
  virtual void DoShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events);
  void ShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events);
  // Hidden after being shown, the list stops following changes; shown
  // again, it reads its folder anew.
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;

private:
  friend class TSxShellListModel;
  template <class>
  friend class TSxListViewOf;
  friend class TSxListDelegate;

  void Clear();
  void ClearRows();
  void StartLoad(bool Reload);
  void BatchArrived(TSxItemBatch& Batch, bool Last);
  void Reloaded();
  void AddArrived(TSxItemBatch& Batch);
  void AppendItem(std::unique_ptr<TSxShellItem> Item);
  // Runs Change (a sort or a reversal) keeping selection and focus.
  void Reorder(const std::function<void()>& Change);
  void SortList(TSxShellItemList& List);
  void RebuildSelectedItems();
  void SelectionChanged();
  void EditEnded();
  void OpenFolder(TSxShellItem* Item);
  void MoveLinked(TSxShellFolder* Folder);
  bool IsTrash(const TSxShellItem* Folder) const;
  TSxShellItem* FocusedItem();
  QIcon RowIcon(TSxShellItem* Item, bool Large);
  void FetchIcon(TSxShellItem* Item);
  void ApplyStyle();
  void ContextMenu(QPoint GlobalPos, bool OnRow);
  void StartDrag();
  void DragEnter(class QDragEnterEvent* Event);
  void DragMove(class QDragMoveEvent* Event);
  void DragLeave();
  void Drop(class QDropEvent* Event);
  void DragScrollStep();
  TSxRowNeighbours Neighbours() const;
  void SetDropRow(int Row);
  std::unique_ptr<TSxFolderDropTarget> DropTargetFor(const TSxShellItem* Item) const;
  bool DropFilter(TSxShellItem* Item);
  bool MatchesFilter(class TSxRegEx& Filter, const TSxShellItem& Item) const;

  QColor FCompressedColor{0, 0, 255};
  std::string FFileFilter;
  bool FFiltered = false;
  TSxListOptionsSet FOptions{loAllowRename, loAllowDrag, loAllowDrop, loShellMenu};
  std::string FRootFolder;
  TSxSpecialRootFolder FSpecialRootFolder = sfNone;
  QPointer<TSxCustomShellTreeView> FTreeView;
  QPointer<TSxCustomShellComboBox> FComboBox;
  TViewStyle FViewStyle = vsIcon;

  TSxCustomShellController* FController = nullptr;
  std::shared_ptr<TSxCustomShellController> FControllerRef;
  std::vector<std::shared_ptr<TSxCustomShellController>> FFormerControllers;
  std::unique_ptr<TSxShellFolder> FCurrentFolder;
  TSxShellItemList FShellItems, FFilteredItems, FSelectedItems;
  TSxShellItem* FSelectedItem = nullptr;
  double FShellVersion;
  std::vector<std::string> FCaptions;
  std::unique_ptr<TSxDictionary> FTypeNames;
  TSxListTexts FTexts;
  std::unique_ptr<TSxShellNotification> FNotifier;
  std::vector<TSxListColumn> FColumns;
  bool FTrash = false;
  bool FStale = false;  // hidden after following changes
  int FDriveType = 3;

  TSxShellListModel* FModel = nullptr;
  QStackedLayout* FStack = nullptr;
  TSxListIconView* FIconView = nullptr;
  TSxListReportView* FReportView = nullptr;
  QMenu* FPopup = nullptr;
  QActionGroup* FStyleActions = nullptr;
  int FRowCount = 0;
  int FUpdating = 0;

  // Reading.
  std::unique_ptr<TSxFolderLoader> FLoader;
  bool FLoading = false;
  bool FReloading = false;
  bool FReloadPending = false;
  bool FLoadDescending = false;
  TSxItemBatch FReloadItems;
  std::set<std::string> FAddedByHand;
  std::string FSelectWhenLoaded;

  // Editing.
  bool FEditing = false;
  bool FChangeDuringEdit = false;

  // Icons faded for ghosted rows and marked for links, made once each.
  std::vector<std::pair<std::uint32_t, QIcon>> FIconCache;

  // Dragging over.
  std::unique_ptr<TSxFolderDropTarget> FDropTarget;
  int FDropRow = -1;
  bool FDragHasFiles = false;
  bool FDraggingOver = false;
  QPoint FDragPoint;
  TSxDragScroll FDragScroll;
  QTimer* FScrollTimer = nullptr;
};

class TSxShellListView : public TSxCustomShellListView {
public:
  using TSxCustomShellListView::TSxCustomShellListView;
};

} // namespace sx
