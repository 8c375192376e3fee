// The folder tree of the shell namespace: a root folder and its sub-folders,
// each read when its node is first expanded, with shell icons, renaming in
// place, the context menu, dragging folders out and dropping files onto
// folders, and live updates from a change notification that follows every
// folder the tree has read.
#pragma once

#include "shell/sxbase.h"
#include "shell/sxfolderdrop.h"
#include "shell/sxnotify.h"
#include "shell/sxshellitems.h"

#include <QtCore/QPointer>
#include <QtGui/QColor>
#include <QtWidgets/QTreeView>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace sx {

class TSxCustomShellListView;
class TSxShellTreeModel;

enum : std::uint32_t {
  toAllowRename = 0x1,
  toAllowDrag = 0x2,
  toAllowDrop = 0x4,
  toColorCompressed = 0x8,
  toExpandTopNode = 0x10,
  toExtendedMenu = 0x20,
  toShellMenu = 0x40,
  toShowFiles = 0x80,
  toShowHidden = 0x100,
};
using TSxTreeOptionsSet = std::uint32_t;

using TSxEnumItemEvent = std::function<void(TSyComponent* Sender, TSxShellItem* ShellItem, bool& Accept)>;
using TSxFolderSelectedEvent = std::function<void(TSyComponent* Sender, TSxShellFolder* Folder)>;

// One node: its folder is FolderList's entry FolderIndex.
struct TSxTreeNodeData {
  TSxTreeNodeData* Parent = nullptr;
  std::vector<std::unique_ptr<TSxTreeNodeData>> Children;
  int Row = 0;
  int FolderIndex = -1;
  bool HasChildren = false;     // shows an expand button
  bool ChildrenLoaded = false;  // read once
  QString Text;
  int ImageIndex = -1, SelectedIndex = -1, OverlayIndex = -1;
};

class TSxCustomShellTreeView : public QTreeView, public TSyComponent, public TSxShellTreeClient {
public:
  explicit TSxCustomShellTreeView(QWidget* Parent = nullptr);
  ~TSxCustomShellTreeView() override;

  // ---- properties
  QColor CompressedColor() const { return FCompressedColor; }
  void SetCompressedColor(const QColor& Value);
  int ExpandInterval = 2000;  // ms a dragged-over node waits before it expands; 0 never
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool Value);
  TSxShellFolderList FolderList;
  TSxCustomShellListView* ListView() const;
  void SetListView(TSxCustomShellListView* Value);
  TSxTreeOptionsSet Options() const { return FOptions; }
  void SetOptions(TSxTreeOptionsSet Value);
  const std::string& RootFolder() const { return FRootFolder; }
  void SetRootFolder(const std::string& Value);
  // Not owned; none without a selection.
  TSxShellFolder* SelectedFolder() const { return FSelectedFolder; }
  double ShellVersion() const { return FShellVersion; }
  TSxSpecialRootFolder SpecialRootFolder() const { return FSpecialRootFolder; }
  void SetSpecialRootFolder(TSxSpecialRootFolder Value);
  TSxSpecialRootFolder SpecialStartInFolder() const { return FSpecialStartInFolder; }
  void SetSpecialStartInFolder(TSxSpecialRootFolder Value);
  const std::string& StartInFolder() const { return FStartInFolder; }
  void SetStartInFolder(const std::string& Value);
  TSxCustomShellController* Controller() const { return FController; }
  const std::shared_ptr<TSxCustomShellController>& SharedController() const { return FControllerRef; }
  // Uses another controller (one shared by the controls of a form) and
  // reads the tree again.
  void SetController(std::shared_ptr<TSxCustomShellController> Value);
  TSxShellNotification* Notifier() const { return FNotifier.get(); }

  TSxEnumItemEvent OnFilterItem;
  TSxFolderSelectedEvent OnFolderSelected;
  TSxShellNotifyEvent3 OnShellChangeNotify;

  // ---- operations
  // Raises ESyInvalidFolder 240 when the path names no folder under the root.
  void SelectFolderPath(const std::string& Path);
  void SelectFolderIDList(const TSxItemIDList& List);
  // ByLookupOnly selects only a node already read; the linked list stays.
  bool SelectFolder(TSxShellItem& Item, bool ByLookupOnly);
  // Reads the node's children again (none: the first top node), keeping the
  // expanded nodes expanded and the selection on the same folder.
  void RefreshNode(TSxTreeNode Node = nullptr);
  TSxTreeNode FindNodeByIDList(const TSxItemIDList& List) const;
  TSxTreeNode FindNodeByPath(const std::string& Path) const;
  TSxTreeNode FindParentNode(const TSxShellItem& Item) const;
  // The first node, in tree order, whose folder matches.
  TSxTreeNode FindNode(const std::function<bool(const TSxShellFolder&)>& Match) const;
  void SetNodeImages(TSxTreeNode Node, const TSxItemIDList& List, bool SetText);
  virtual void FillTree();

  // ---- nodes
  TSxTreeNode TopNode() const;
  TSxTreeNode SelectedNode() const;
  TSxShellFolder* NodeFolder(TSxTreeNode Node) const;
  QString NodeText(TSxTreeNode Node) const;
  std::vector<TSxTreeNode> NodeChildren(TSxTreeNode Node) const;
  TSxTreeNode NodeParent(TSxTreeNode Node) const;
  bool NodeHasChildren(TSxTreeNode Node) const;
  bool NodeExpanded(TSxTreeNode Node) const;
  void ExpandNode(TSxTreeNode Node);
  void SelectNode(TSxTreeNode Node);
  QModelIndex NodeIndex(TSxTreeNode Node) const;
  QRect NodeRect(TSxTreeNode Node) const;
  // The node shown as the drop target while something is dragged over.
  TSxTreeNode DropTargetNode() const { return FDropNode; }
  bool DraggingOver() const { return FDraggingOver; }
  // The drop target waits to expand.
  bool ExpandPending() const;
  bool StartInSelected() const { return FStartInSelected; }

  // ---- what a linked list and the controller call
  bool ShowFiles() const override { return FOptions & toShowFiles; }
  bool ShowHidden() const override { return FOptions & toShowHidden; }
  bool AllowRename() const override { return FOptions & toAllowRename; }
  bool ExtendedMenu() const override { return FOptions & toExtendedMenu; }
  bool DoFilterItem(TSxShellItem* Item) override;
  int FolderCount() const override { return FolderList.Count(); }
  TSxTreeNode AddFolderNode(TSxTreeNode Parent, std::unique_ptr<TSxShellFolder> Folder, int Overlay) override;
  void MarkHasChildren(TSxTreeNode Node) override;

  // Renames the node's folder; false (after reporting why) when refused.
  bool RenameNode(TSxTreeNode Node, const std::string& Name);
  // Whether the node's label may be edited.
  bool CanEdit(TSxTreeNode Node) const;
  // Reads a node's children when it has none yet.
  void CanExpand(TSxTreeNode Node);
  // Whether the node is drawn in the compressed colour.
  bool ColorCompressedNode(TSxTreeNode Node, bool DrawnSelected) const;

protected:
  virtual void DoShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events);
  void ShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events);

  void paintEvent(QPaintEvent* Event) override;
  // Changes are followed only while the tree is shown; shown, it reads
  // its folders anew when it was not following them.
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void startDrag(Qt::DropActions Supported) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dragMoveEvent(QDragMoveEvent* Event) override;
  void dragLeaveEvent(QDragLeaveEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void currentChanged(const QModelIndex& Current, const QModelIndex& Previous) override;

private:
  friend class TSxShellTreeModel;
  TSxTreeNodeData* Node(TSxTreeNode Handle) const { return static_cast<TSxTreeNodeData*>(Handle); }
  void Clear();
  void SortChildren(TSxTreeNodeData* Node);
  void InsertPending(TSxTreeNodeData* Parent);
  void DeleteNode(TSxTreeNodeData* Node, bool MoveSelection);
  void FreeFolders(TSxTreeNodeData* Node);
  void SelectionChanged(TSxTreeNodeData* Node);
  void HandleStartIn();
  std::optional<TSxItemIDList> StartInIDList() const;
  void UpdateWatches();
  void AddNodeFor(TSxShellItem& Item);
  TSxTreeNodeData* NodeAt(QPoint Point) const;
  void SetDropNode(TSxTreeNodeData* Node);
  void DragScrollStep();
  void ExpandTimerFired();
  void DragDone();

  QColor FCompressedColor{0, 0, 255};
  bool FFiltered = false;
  QPointer<TSxCustomShellListView> FListView;
  TSxTreeOptionsSet FOptions = toAllowRename | toAllowDrag | toAllowDrop | toExpandTopNode | toShellMenu;
  std::string FRootFolder;
  TSxShellFolder* FSelectedFolder = nullptr;
  double FShellVersion;
  TSxSpecialRootFolder FSpecialRootFolder = sfDesktop;
  TSxSpecialRootFolder FSpecialStartInFolder = sfNone;
  std::string FStartInFolder;
  TSxCustomShellController* FController = nullptr;
  std::shared_ptr<TSxCustomShellController> FControllerRef;
  // Items made with an earlier controller may still point at it.
  std::vector<std::shared_ptr<TSxCustomShellController>> FFormerControllers;
  TSxShellTreeModel* FModel = nullptr;
  std::unique_ptr<TSxShellNotification> FNotifier;

  // Nodes made by an enumeration, inserted all at once when it ends.
  std::vector<std::unique_ptr<TSxTreeNodeData>> FPending;
  std::unique_ptr<TSxTreeNodeData> FRoot;
  int FUpdating = 0;  // selection changes of our own making are not handled
  bool FKeepList = false;
  bool FStartInSelected = false;
  bool FStale = true;  // filled, or hidden, while not following changes

  // Dragging over.
  std::unique_ptr<TSxFolderDropTarget> FDropTarget;
  TSxTreeNodeData* FDropNode = nullptr;
  bool FDraggingOver = false;
  bool FDragHasFiles = false;
  QPoint FDragPoint;
  TSxDragScroll FDragScroll;
  QTimer* FScrollTimer = nullptr;
  QTimer* FExpandTimer = nullptr;
};

class TSxShellTreeView : public TSxCustomShellTreeView {
public:
  using TSxCustomShellTreeView::TSxCustomShellTreeView;
};

} // namespace sx
