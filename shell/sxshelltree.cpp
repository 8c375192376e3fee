#include "shell/sxshelltree.h"

#include "shell/sxshelllist.h"
#include "shell/sxguards.h"

#include <QtCore/QAbstractItemModel>
#include <QtCore/QMimeData>
#include <QtCore/QTimer>
#include <QtGui/QtEvents>
#include <QtGui/QDrag>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyledItemDelegate>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace sx {

namespace {

TSxNameKey KeyOf(const TSxShellFolder* folder) {
  if (!folder) return {};
  const std::vector<std::string> c = folder->AbsoluteIDList.Components();
  return SxNameKey(c.empty() ? std::string() : c.back(), folder->IsFolder);
}

} // namespace

// ---------------------------------------------------------------- model

class TSxShellTreeModel : public QAbstractItemModel {
public:
  explicit TSxShellTreeModel(TSxCustomShellTreeView* tree) : QAbstractItemModel(tree), FTree(tree) {}

  TSxTreeNodeData* NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<TSxTreeNodeData*>(index.internalPointer()) : FTree->FRoot.get();
  }
  QModelIndex IndexOf(const TSxTreeNodeData* node) const {
    if (!node || node == FTree->FRoot.get()) return {};
    return createIndex(node->Row, 0, const_cast<TSxTreeNodeData*>(node));
  }

  QModelIndex index(int row, int column, const QModelIndex& parent) const override {
    const TSxTreeNodeData* p = NodeOf(parent);
    if (column != 0 || row < 0 || !p || row >= static_cast<int>(p->Children.size())) return {};
    return createIndex(row, 0, p->Children[static_cast<std::size_t>(row)].get());
  }
  QModelIndex parent(const QModelIndex& child) const override {
    if (!child.isValid()) return {};
    return IndexOf(NodeOf(child)->Parent);
  }
  int rowCount(const QModelIndex& parent) const override {
    if (parent.column() > 0) return 0;
    const TSxTreeNodeData* n = NodeOf(parent);
    return n ? static_cast<int>(n->Children.size()) : 0;
  }
  int columnCount(const QModelIndex&) const override { return 1; }
  bool hasChildren(const QModelIndex& parent) const override {
    const TSxTreeNodeData* n = NodeOf(parent);
    if (!n) return false;
    return !n->Children.empty() || (n->HasChildren && !n->ChildrenLoaded);
  }
  bool canFetchMore(const QModelIndex& parent) const override {
    const TSxTreeNodeData* n = NodeOf(parent);
    return n && n != FTree->FRoot.get() && n->HasChildren && !n->ChildrenLoaded;
  }
  void fetchMore(const QModelIndex& parent) override {
    if (canFetchMore(parent)) FTree->CanExpand(NodeOf(parent));
  }
  QVariant data(const QModelIndex& index, int role) const override {
    const TSxTreeNodeData* n = NodeOf(index);
    if (!index.isValid() || !n) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return n->Text;
    case Qt::DecorationRole: {
      const TSxImageList& images = FTree->FController ? FTree->FController->SmallImages : FSmall;
      // A link's node carries the link mark.
      auto image = [&](int index) {
        return n->OverlayIndex == 1 ? SxDecoratedIcon(images.Icon(index), false, true).pixmap(images.Width)
                                    : images.Pixmap(index);
      };
      QIcon icon;
      icon.addPixmap(image(n->ImageIndex), QIcon::Normal);
      icon.addPixmap(image(n->SelectedIndex >= 0 ? n->SelectedIndex : n->ImageIndex), QIcon::Selected);
      return icon;
    }
    default:
      return {};
    }
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (FTree->FOptions & toAllowDrag) f |= Qt::ItemIsDragEnabled;
    if (FTree->FOptions & toAllowRename) f |= Qt::ItemIsEditable;
    return f;
  }
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::EditRole || !index.isValid()) return false;
    return FTree->RenameNode(NodeOf(index), value.toString().toStdString());
  }
  Qt::DropActions supportedDropActions() const override {
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  }

  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  void BeginInsert(TSxTreeNodeData* parent, int first, int last) { beginInsertRows(IndexOf(parent), first, last); }
  void EndInsert() { endInsertRows(); }
  void BeginRemove(TSxTreeNodeData* parent, int first, int last) { beginRemoveRows(IndexOf(parent), first, last); }
  void EndRemove() { endRemoveRows(); }
  void Changed(TSxTreeNodeData* node) {
    const QModelIndex i = IndexOf(node);
    emit dataChanged(i, i);
  }
  // Sorts a node's children in place, keeping selection and current node.
  void SortChildren(TSxTreeNodeData* parent) {
    auto& c = parent->Children;
    if (c.size() < 2) return;
    emit layoutAboutToBeChanged({IndexOf(parent)});
    const QModelIndexList before = persistentIndexList();
    std::vector<TSxTreeNodeData*> nodes;
    for (const QModelIndex& i : before) nodes.push_back(NodeOf(i));
    std::vector<std::pair<TSxNameKey, std::size_t>> keys;
    for (std::size_t i = 0; i < c.size(); ++i) keys.emplace_back(KeyOf(FTree->NodeFolder(c[i].get())), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return SxCompareNameKeys(a.first, b.first) < 0; });
    std::vector<std::unique_ptr<TSxTreeNodeData>> sorted;
    for (auto& [key, i] : keys) sorted.push_back(std::move(c[i]));
    c = std::move(sorted);
    for (std::size_t i = 0; i < c.size(); ++i) c[i]->Row = static_cast<int>(i);
    QModelIndexList after;
    for (TSxTreeNodeData* n : nodes) after << IndexOf(n);
    changePersistentIndexList(before, after);
    emit layoutChanged({IndexOf(parent)});
  }
  // Tells the view that a node's expand button came or went.
  void HasChildrenChanged() {
    emit layoutAboutToBeChanged();
    emit layoutChanged();
  }

private:
  TSxCustomShellTreeView* FTree;
  TSxImageList FSmall{16};
};

// Draws the drop target as selected and compressed folders in their colour.
class TSxTreeDelegate : public QStyledItemDelegate {
public:
  explicit TSxTreeDelegate(TSxCustomShellTreeView* tree) : QStyledItemDelegate(tree), FTree(tree) {}

protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    auto* node = static_cast<TSxTreeNode>(index.internalPointer());
    if (FTree->DraggingOver() && node == FTree->DropTargetNode()) option->state |= QStyle::State_Selected;
    if (FTree->ColorCompressedNode(node, option->state & QStyle::State_Selected))
      option->palette.setColor(QPalette::Text, FTree->CompressedColor());
  }

private:
  TSxCustomShellTreeView* FTree;
};

// ---------------------------------------------------------------- life

TSxCustomShellTreeView::TSxCustomShellTreeView(QWidget* Parent)
    : QTreeView(Parent), FShellVersion(SxShellVersion()), FRoot(std::make_unique<TSxTreeNodeData>()) {
  resize(180, 270);
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  setAutoScroll(false);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  FModel = new TSxShellTreeModel(this);
  setModel(FModel);
  setItemDelegate(new TSxTreeDelegate(this));

  FScrollTimer = new QTimer(this);
  FScrollTimer->setSingleShot(true);
  connect(FScrollTimer, &QTimer::timeout, this, [this] { DragScrollStep(); });
  FExpandTimer = new QTimer(this);
  FExpandTimer->setSingleShot(true);
  connect(FExpandTimer, &QTimer::timeout, this, [this] { ExpandTimerFired(); });

  FNotifier = std::make_unique<TSxShellNotification>();
  FNotifier->SetWatchSubFolders(true);
  FNotifier->QueueLimit = 5;
  FNotifier->OnShellChangeNotify = [this](TSyComponent*, TSxShellItem* Old, TSxShellItem* New,
                                          TSxNotifyEventsSet Events) { ShellChangeNotify(Old, New, Events); };

  FControllerRef = std::make_shared<TSxCustomShellController>();
  FController = FControllerRef.get();
  FController->TreeView = this;
  FillTree();
}

TSxCustomShellTreeView::~TSxCustomShellTreeView() {
  FNotifier.reset();
  if (FController && FController->TreeView == this) FController->TreeView = nullptr;
  if (FListView && FListView->TreeView() == this) FListView->SetTreeView(nullptr);
  setModel(nullptr);
  FRoot->Children.clear();
  FolderList.Clear();
}

TSxCustomShellListView* TSxCustomShellTreeView::ListView() const { return FListView.data(); }

void TSxCustomShellTreeView::SetController(std::shared_ptr<TSxCustomShellController> Value) {
  if (!Value || Value.get() == FController) return;
  if (FController && FController->TreeView == this) FController->TreeView = nullptr;
  FFormerControllers.push_back(FControllerRef);
  FControllerRef = std::move(Value);
  FController = FControllerRef.get();
  FController->TreeView = this;
  FillTree();
}

void TSxCustomShellTreeView::SetListView(TSxCustomShellListView* Value) {
  if (Value == FListView) return;
  FListView = Value;
  // The list takes the tree's controller, so that both share one.
  if (Value && Value->TreeView() != this) Value->SetTreeView(this);
}

// ---------------------------------------------------------------- properties

void TSxCustomShellTreeView::SetCompressedColor(const QColor& Value) {
  if (Value == FCompressedColor) return;
  FCompressedColor = Value;
  if (FOptions & toColorCompressed) viewport()->update();
}

void TSxCustomShellTreeView::SetFiltered(bool Value) {
  if (Value == FFiltered) return;
  FFiltered = Value;
  FillTree();
  if (TSxTreeNodeData* n = Node(SelectedNode())) SelectionChanged(n);
}

void TSxCustomShellTreeView::SetOptions(TSxTreeOptionsSet Value) {
  if (Value == FOptions) return;
  const TSxTreeOptionsSet changed = Value ^ FOptions;
  setAcceptDrops(Value & toAllowDrop);
  setDragEnabled(Value & toAllowDrag);
  FOptions = Value;
  if (changed & toColorCompressed) viewport()->update();
}

void TSxCustomShellTreeView::SetRootFolder(const std::string& Value) {
  if (Value == FRootFolder) return;
  FRootFolder = Value;
  if (Value.empty()) {
    Clear();
    return;
  }
  FSpecialRootFolder = sfNone;
  if (FSpecialStartInFolder != sfNone || !FStartInFolder.empty()) FStartInSelected = false;
  FillTree();
}

void TSxCustomShellTreeView::SetStartInFolder(const std::string& Value) {
  if (Value == FStartInFolder) return;
  FStartInFolder = Value;
  if (!Value.empty()) FSpecialStartInFolder = sfNone;
}

namespace {
void CheckShellVersion(TSxSpecialRootFolder value, double version) {
  const int csidl = SpecialFolderCSIDL(value);
  if ((csidl == 1 || (csidl >= 29 && csidl <= 34)) && version < 4.7)
    RaiseSyError<ESyShellError>(scShellNotSupported);
}
} // namespace

void TSxCustomShellTreeView::SetSpecialRootFolder(TSxSpecialRootFolder Value) {
  CheckShellVersion(Value, FShellVersion);
  if (Value == FSpecialRootFolder) return;
  FSpecialRootFolder = Value;
  if (Value == sfNone) return;
  FRootFolder.clear();
  if (FSpecialStartInFolder != sfNone || !FStartInFolder.empty()) FStartInSelected = false;
  FillTree();
}

void TSxCustomShellTreeView::SetSpecialStartInFolder(TSxSpecialRootFolder Value) {
  CheckShellVersion(Value, FShellVersion);
  if (Value == FSpecialStartInFolder) return;
  FSpecialStartInFolder = Value;
  if (Value != sfNone) FStartInFolder.clear();
}

// ---------------------------------------------------------------- nodes

TSxTreeNode TSxCustomShellTreeView::TopNode() const {
  return FRoot->Children.empty() ? nullptr : FRoot->Children.front().get();
}

TSxTreeNode TSxCustomShellTreeView::SelectedNode() const {
  const QModelIndex i = selectionModel() ? selectionModel()->currentIndex() : QModelIndex();
  if (!i.isValid() || !selectionModel()->isSelected(i)) return nullptr;
  return i.internalPointer();
}

TSxShellFolder* TSxCustomShellTreeView::NodeFolder(TSxTreeNode Handle) const {
  const TSxTreeNodeData* n = Node(Handle);
  if (!n || n->FolderIndex < 0 || n->FolderIndex >= FolderList.Count()) return nullptr;
  return FolderList.Items(n->FolderIndex);
}

QString TSxCustomShellTreeView::NodeText(TSxTreeNode Handle) const { return Node(Handle) ? Node(Handle)->Text : QString(); }

std::vector<TSxTreeNode> TSxCustomShellTreeView::NodeChildren(TSxTreeNode Handle) const {
  std::vector<TSxTreeNode> out;
  const TSxTreeNodeData* n = Handle ? Node(Handle) : FRoot.get();
  for (const auto& c : n->Children) out.push_back(c.get());
  return out;
}

TSxTreeNode TSxCustomShellTreeView::NodeParent(TSxTreeNode Handle) const {
  const TSxTreeNodeData* n = Node(Handle);
  return n && n->Parent != FRoot.get() ? n->Parent : nullptr;
}

bool TSxCustomShellTreeView::NodeHasChildren(TSxTreeNode Handle) const {
  return FModel->hasChildren(NodeIndex(Handle));
}

bool TSxCustomShellTreeView::NodeExpanded(TSxTreeNode Handle) const { return isExpanded(NodeIndex(Handle)); }

void TSxCustomShellTreeView::ExpandNode(TSxTreeNode Handle) {
  if (!Handle) return;
  // Read now: the view reads an expanded node only at its next layout.
  CanExpand(Handle);
  expand(NodeIndex(Handle));
}

void TSxCustomShellTreeView::SelectNode(TSxTreeNode Handle) {
  if (Handle) setCurrentIndex(NodeIndex(Handle));
}

QModelIndex TSxCustomShellTreeView::NodeIndex(TSxTreeNode Handle) const { return FModel->IndexOf(Node(Handle)); }

QRect TSxCustomShellTreeView::NodeRect(TSxTreeNode Handle) const { return visualRect(NodeIndex(Handle)); }

TSxTreeNode TSxCustomShellTreeView::FindNode(const std::function<bool(const TSxShellFolder&)>& Match) const {
  // Each node, then its children, then its next sibling.
  std::function<TSxTreeNode(const TSxTreeNodeData*)> walk = [&](const TSxTreeNodeData* n) -> TSxTreeNode {
    for (const auto& c : n->Children) {
      if (const TSxShellFolder* f = NodeFolder(c.get()); f && Match(*f)) return c.get();
      if (TSxTreeNode found = walk(c.get())) return found;
    }
    return nullptr;
  };
  return walk(FRoot.get());
}

TSxTreeNode TSxCustomShellTreeView::FindNodeByIDList(const TSxItemIDList& List) const {
  return FindNode([&List](const TSxShellFolder& f) { return ILIsEqual(f.AbsoluteIDList, List); });
}

TSxTreeNode TSxCustomShellTreeView::FindNodeByPath(const std::string& Path) const {
  return FindNode([&Path](const TSxShellFolder& f) { return f.Path == Path; });
}

TSxTreeNode TSxCustomShellTreeView::FindParentNode(const TSxShellItem& Item) const {
  if (FolderList.Count() == 0 || Item.AbsoluteIDList.IsEmpty()) return nullptr;
  TSxItemIDList parent = ILClone(Item.AbsoluteIDList);
  ILRemoveLastID(parent);
  return FindNodeByIDList(parent);
}

void TSxCustomShellTreeView::SetNodeImages(TSxTreeNode Handle, const TSxItemIDList& List, bool SetText) {
  TSxTreeNodeData* n = Node(Handle);
  if (!n || !FController) return;
  std::uint32_t attributes = 0;
  std::string name;
  FController->GetItemDisplayInfo(List, attributes, name, n->SelectedIndex, n->ImageIndex);
  if (SetText) n->Text = QString::fromStdString(name);
}

// ---------------------------------------------------------------- filling

bool TSxCustomShellTreeView::DoFilterItem(TSxShellItem* Item) {
  bool accept = true;
  if (OnFilterItem && FFiltered) OnFilterItem(this, Item, accept);
  return accept;
}

TSxTreeNode TSxCustomShellTreeView::AddFolderNode(TSxTreeNode Parent, std::unique_ptr<TSxShellFolder> Folder,
                                                  int Overlay) {
  auto node = std::make_unique<TSxTreeNodeData>();
  node->Parent = Node(Parent);
  node->FolderIndex = FolderList.Count();
  node->Text = QString::fromStdString(Folder->DisplayName);
  node->OverlayIndex = Overlay;
  const TSxItemIDList list = Folder->AbsoluteIDList;
  Folder->ListIndex = node->FolderIndex;
  FolderList.Add(std::move(Folder));
  SetNodeImages(node.get(), list, false);
  FPending.push_back(std::move(node));
  return FPending.back().get();
}

void TSxCustomShellTreeView::MarkHasChildren(TSxTreeNode Handle) {
  if (TSxTreeNodeData* n = Node(Handle)) n->HasChildren = true;
}

void TSxCustomShellTreeView::InsertPending(TSxTreeNodeData* Parent) {
  std::vector<std::unique_ptr<TSxTreeNodeData>> pending = std::move(FPending);
  FPending.clear();
  if (pending.empty()) return;
  std::vector<std::pair<TSxNameKey, std::size_t>> keys;
  for (std::size_t i = 0; i < pending.size(); ++i) keys.emplace_back(KeyOf(NodeFolder(pending[i].get())), i);
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return SxCompareNameKeys(a.first, b.first) < 0; });
  const int first = static_cast<int>(Parent->Children.size());
  FModel->BeginInsert(Parent, first, first + static_cast<int>(pending.size()) - 1);
  for (auto& [key, i] : keys) {
    pending[i]->Parent = Parent;
    pending[i]->Row = static_cast<int>(Parent->Children.size());
    Parent->Children.push_back(std::move(pending[i]));
  }
  FModel->EndInsert();
}

void TSxCustomShellTreeView::Clear() {
  TSxBusy busy(FUpdating);
  FModel->BeginReset();
  FRoot->Children.clear();
  FPending.clear();
  FolderList.Clear();
  FSelectedFolder = nullptr;
  FDropNode = nullptr;
  FDropTarget.reset();
  FModel->EndReset();
}

void TSxCustomShellTreeView::FillTree() {
  Clear();
  if (!FController || (FSpecialRootFolder == sfNone && FRootFolder.empty())) {
    FStartInSelected = true;
    UpdateWatches();
    return;
  }
  TSxItemIDList rootList;
  if (FSpecialRootFolder != sfNone) {
    rootList = SxSpecialFolderIDList(FSpecialRootFolder);
  } else if (!FController->ParsePath(FRootFolder, *FController->DesktopFolder, rootList)) {
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  }

  auto top = std::make_unique<TSxTreeNodeData>();
  top->Parent = FRoot.get();
  top->FolderIndex = FolderList.Count();
  SetNodeImages(top.get(), rootList, true);
  auto folder = TSxShellFolder::CreateFromIDList(rootList, FController);
  folder->ListIndex = top->FolderIndex;
  top->Text = QString::fromStdString(folder->DisplayName);
  FolderList.Add(std::move(folder));
  TSxTreeNodeData* topNode = top.get();
  {
    TSxBusy busy(FUpdating);
    FModel->BeginInsert(FRoot.get(), 0, 0);
    FRoot->Children.push_back(std::move(top));
    FModel->EndInsert();
  }
  CanExpand(topNode);

  if (FOptions & toExpandTopNode) ExpandNode(topNode);
  if (const std::optional<TSxItemIDList> start = StartInIDList()) {
    std::vector<TSxItemIDList> chain;
    TSxItemIDList list = *start;
    for (;;) {
      chain.push_back(list);
      if (!ILRemoveLastID(list)) break;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      if (TSxTreeNode n = FindNodeByIDList(*it); n && !NodeExpanded(n)) ExpandNode(n);
  } else if (!FStartInFolder.empty()) {
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  }
  UpdateWatches();
}

std::optional<TSxItemIDList> TSxCustomShellTreeView::StartInIDList() const {
  if (!FController) return std::nullopt;
  if (!FStartInFolder.empty()) {
    TSxItemIDList list;
    if (FController->ParsePath(FStartInFolder, *FController->DesktopFolder, list)) return list;
    return std::nullopt;
  }
  if (FSpecialStartInFolder != sfNone) return SHGetSpecialFolderLocation(SpecialFolderCSIDL(FSpecialStartInFolder));
  return std::nullopt;
}

void TSxCustomShellTreeView::CanExpand(TSxTreeNode Handle) {
  TSxTreeNodeData* n = Node(Handle);
  if (!n || n->ChildrenLoaded || !n->Children.empty()) return;
  TSxShellFolder* folder = NodeFolder(n);
  if (!folder || !FController) return;
  n->ChildrenLoaded = true;
  {
    TSxWaitCursor wait;
    FController->TreeView = this;
    FController->ParentNode = n;
    FPending.clear();
    const TSxItemIDList list = folder->AbsoluteIDList;
    FController->EnumerateFolder(list, ekTree);
  }
  if (FPending.empty()) {
    n->HasChildren = false;
    FModel->HasChildrenChanged();
  } else {
    n->HasChildren = true;
    InsertPending(n);
  }
  UpdateWatches();
}

void TSxCustomShellTreeView::showEvent(QShowEvent* Event) {
  QTreeView::showEvent(Event);
  if (!FNotifier || FNotifier->Active()) return;
  if (FStale) RefreshNode();
  FStale = false;
  FNotifier->SetActive(true);
}

void TSxCustomShellTreeView::hideEvent(QHideEvent* Event) {
  QTreeView::hideEvent(Event);
  // A dialog kept for the next time watches nothing meanwhile.
  if (!FNotifier || !FNotifier->Active() || isVisible()) return;
  FNotifier->SetActive(false);
  FStale = true;
}

void TSxCustomShellTreeView::UpdateWatches() {
  if (!FNotifier) return;
  std::set<std::string> paths;
  std::function<void(const TSxTreeNodeData*)> walk = [&](const TSxTreeNodeData* n) {
    for (const auto& c : n->Children) {
      if (c->ChildrenLoaded)
        if (const TSxShellFolder* f = NodeFolder(c.get())) {
          std::string path = SxIDListToPath(f->AbsoluteIDList);
          if (!path.empty()) paths.insert(std::move(path));
        }
      walk(c.get());
    }
  };
  walk(FRoot.get());
  FNotifier->SetExtraWatchFolders(paths);
}

// ---------------------------------------------------------------- selection

void TSxCustomShellTreeView::paintEvent(QPaintEvent* Event) {
  if (!FStartInSelected) HandleStartIn();
  QTreeView::paintEvent(Event);
}

void TSxCustomShellTreeView::HandleStartIn() {
  FStartInSelected = true;
  std::optional<TSxItemIDList> start;
  if (!FStartInFolder.empty() || FSpecialStartInFolder != sfNone) start = StartInIDList();
  if (!start) {
    if (FListView && FListView->IsEmpty())
      if (TSxShellFolder* f = NodeFolder(TopNode())) FListView->FillList(f);
    return;
  }
  if (TSxTreeNodeData* n = Node(FindNodeByIDList(*start))) {
    {
      TSxBusy busy(FUpdating);
      SelectNode(n);
    }
    SelectionChanged(n);
    // Scrolling waits until this paint is over.
    QTimer::singleShot(0, this, [this, list = *start] {
      if (TSxTreeNode found = FindNodeByIDList(list)) scrollTo(NodeIndex(found));
    });
  } else if (TSxTreeNodeData* top = Node(TopNode())) {
    SelectionChanged(top);
  }
}

void TSxCustomShellTreeView::currentChanged(const QModelIndex& Current, const QModelIndex& Previous) {
  QTreeView::currentChanged(Current, Previous);
  if (FUpdating) return;
  if (Current.isValid()) SelectionChanged(FModel->NodeOf(Current));
}

void TSxCustomShellTreeView::SelectionChanged(TSxTreeNodeData* Node) {
  FSelectedFolder = NodeFolder(Node);
  const bool keep = FKeepList;
  FKeepList = false;
  if (!FSelectedFolder) return;
  if (OnFolderSelected) OnFolderSelected(this, FSelectedFolder);
  if (keep || !FListView) return;
  if (FSelectedFolder->IsFolderItem() || FSelectedFolder->IsDesktop) FListView->FillList(FSelectedFolder);
}

void TSxCustomShellTreeView::SelectFolderPath(const std::string& Path) {
  TSxItemIDList list;
  if (!FController || !FController->ParsePath(Path, *FController->DesktopFolder, list))
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  SelectFolderIDList(list);
  FStartInFolder = Path;
}

void TSxCustomShellTreeView::SelectFolderIDList(const TSxItemIDList& List) {
  std::vector<TSxItemIDList> kept;
  TSxItemIDList list = List;
  TSxTreeNode node = FindNodeByIDList(list);
  while (!node) {
    kept.push_back(list);
    if (!ILRemoveLastID(list)) break;
    node = FindNodeByIDList(list);
  }
  setUpdatesEnabled(false);
  TSxTreeNode result = nullptr;
  if (node) {
    ExpandNode(node);
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
      if (TSxTreeNode n = FindNodeByIDList(*it)) ExpandNode(n);
    result = kept.empty() ? node : FindNodeByIDList(List);
  }
  if (!result) {
    setUpdatesEnabled(true);
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  }
  scrollTo(NodeIndex(result));
  setUpdatesEnabled(true);
  const bool changed = SelectedNode() != result;
  SelectNode(result);
  // Selecting the node already selected changes nothing, yet its folder is
  // what the caller asked for.
  if (!changed) FSelectedFolder = NodeFolder(result);
}

bool TSxCustomShellTreeView::SelectFolder(TSxShellItem& Item, bool ByLookupOnly) {
  FKeepList = true;
  bool done = true;
  try {
    if (ByLookupOnly) {
      TSxTreeNode n = FindNodeByIDList(Item.AbsoluteIDList);
      if (n) SelectNode(n);
      done = n != nullptr;
    } else {
      SelectFolderIDList(Item.AbsoluteIDList);
    }
  } catch (...) {
    FKeepList = false;
    throw;
  }
  // Selecting the selected node changes nothing; the flag must not outlive
  // this call, or the next selection by the user would leave the list behind.
  FKeepList = false;
  return done;
}

// ---------------------------------------------------------------- refreshing

void TSxCustomShellTreeView::FreeFolders(TSxTreeNodeData* Node) {
  if (Node->FolderIndex >= 0 && Node->FolderIndex < FolderList.Count()) {
    if (FolderList.Items(Node->FolderIndex) == FSelectedFolder) FSelectedFolder = nullptr;
    FolderList.Free(Node->FolderIndex);
  }
  if (Node == FDropNode) {
    FDropNode = nullptr;
    FDropTarget.reset();
  }
  for (auto& c : Node->Children) FreeFolders(c.get());
}

void TSxCustomShellTreeView::RefreshNode(TSxTreeNode Handle) {
  TSxTreeNodeData* n = Handle ? Node(Handle) : Node(TopNode());
  if (!n) return;
  TSxTreeNodeData* selected = Node(SelectedNode());
  std::optional<TSxItemIDList> selectedList;
  for (TSxTreeNodeData* p = selected; p; p = p->Parent)
    if (p == n && selected != n) {
      if (const TSxShellFolder* f = NodeFolder(selected)) selectedList = f->AbsoluteIDList;
      break;
    }
  std::vector<TSxItemIDList> expanded;
  std::function<void(TSxTreeNodeData*)> collect = [&](TSxTreeNodeData* x) {
    for (auto& c : x->Children) {
      if (isExpanded(NodeIndex(c.get())))
        if (const TSxShellFolder* f = NodeFolder(c.get())) expanded.push_back(f->AbsoluteIDList);
      collect(c.get());
    }
  };
  collect(n);

  setUpdatesEnabled(false);
  {
    TSxBusy busy(FUpdating);
    // The node keeps its folder: the selection passes to it while its
    // children are read again.
    if (selectedList) FSelectedFolder = NodeFolder(n);
    if (!n->Children.empty()) {
      FModel->BeginRemove(n, 0, static_cast<int>(n->Children.size()) - 1);
      for (auto& c : n->Children) FreeFolders(c.get());
      n->Children.clear();
      FModel->EndRemove();
    }
    if (selectedList) SelectNode(n);
    n->HasChildren = true;
    n->ChildrenLoaded = false;
    CanExpand(n);
    if (n != FRoot.get()) setExpanded(NodeIndex(n), true);
    for (const TSxItemIDList& list : expanded)
      if (TSxTreeNode e = FindNodeByIDList(list)) ExpandNode(e);
  }
  if (selectedList) {
    // The same folder again, else its nearest ancestor still there.
    TSxItemIDList list = *selectedList;
    TSxTreeNode again = FindNodeByIDList(list);
    while (!again && ILRemoveLastID(list)) again = FindNodeByIDList(list);
    if (!again) again = n;
    {
      TSxBusy busy(FUpdating);
      SelectNode(again);
    }
    if (ILIsEqual(list, *selectedList)) FSelectedFolder = NodeFolder(again);
    else SelectionChanged(Node(again));
  }
  setUpdatesEnabled(true);
  UpdateWatches();
}

void TSxCustomShellTreeView::DeleteNode(TSxTreeNodeData* N, bool MoveSelection) {
  TSxTreeNodeData* parent = N->Parent;
  if (!parent) return;
  TSxTreeNodeData* selected = Node(SelectedNode());
  bool selectedInside = false;
  for (TSxTreeNodeData* p = selected; p; p = p->Parent)
    if (p == N) selectedInside = true;
  // The selection passes to the next node, else the previous, else the parent.
  TSxTreeNodeData* next = nullptr;
  if (selectedInside && MoveSelection) {
    const std::size_t row = static_cast<std::size_t>(N->Row);
    if (row + 1 < parent->Children.size()) next = parent->Children[row + 1].get();
    else if (row > 0) next = parent->Children[row - 1].get();
    else if (parent != FRoot.get()) next = parent;
  }
  {
    TSxBusy busy(FUpdating);
    if (selectedInside) FSelectedFolder = nullptr;
    FModel->BeginRemove(parent, N->Row, N->Row);
    FreeFolders(N);
    parent->Children.erase(parent->Children.begin() + N->Row);
    for (std::size_t i = 0; i < parent->Children.size(); ++i) parent->Children[i]->Row = static_cast<int>(i);
    FModel->EndRemove();
    if (next) SelectNode(next);
    else if (selectedInside) selectionModel()->clear();
  }
  if (next) SelectionChanged(next);
  UpdateWatches();
}

// ---------------------------------------------------------------- changes

void TSxCustomShellTreeView::DoShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events) {
  if (OnShellChangeNotify) OnShellChangeNotify(this, Old, New, Events);
}

void TSxCustomShellTreeView::AddNodeFor(TSxShellItem& Item) {
  TSxTreeNodeData* parent = Node(FindParentNode(Item));
  if (!parent || !parent->ChildrenLoaded) return;
  // Hidden folders come only when the tree shows them, as a reading would.
  if (!(FOptions & toShowHidden) && !Item.DisplayName.empty() && Item.DisplayName[0] == '.') return;
  if (FindNodeByIDList(Item.AbsoluteIDList)) return;
  // The parent the notice's item was made with: bound again, a parent gone
  // meanwhile would leave the folder under the desktop.
  auto folder = std::make_unique<TSxShellFolder>(FController);
  folder->Assign(Item, true);
  if (!folder->ParentFolder) folder->ParentFolder = FController->DesktopFolder;
  if (TSxTreeNodeData* same = Node(FindNodeByPath(Item.Path))) {
    folder->ListIndex = same->FolderIndex;
    FolderList.Put(same->FolderIndex, std::move(folder));
    return;
  }
  auto node = std::make_unique<TSxTreeNodeData>();
  node->FolderIndex = FolderList.Count();
  folder->ListIndex = node->FolderIndex;
  node->Text = QString::fromStdString(folder->DisplayName);
  node->OverlayIndex = folder->GetOverlayIndex();
  const TSxItemIDList list = folder->AbsoluteIDList;
  const std::vector<std::string> c = list.Components();
  const bool drive = c.size() == 2 && c[0] == kComputerID;
  // Marked as a reading would mark it: a folder that can be read may hold
  // more. Bound once: the folder may go at any time, and a second binding
  // would not be the one checked.
  node->HasChildren = drive;
  if (!drive && folder->IsFolderItem() && folder->ParentFolder)
    if (const auto bound = FController->BindFolder(*folder->ParentFolder, folder->RelativeIDList))
      node->HasChildren = bound->EnumObjects(SHCONTF_FOLDERS) != nullptr;
  FolderList.Add(std::move(folder));
  SetNodeImages(node.get(), list, false);
  node->Parent = parent;
  node->Row = static_cast<int>(parent->Children.size());
  FModel->BeginInsert(parent, node->Row, node->Row);
  parent->Children.push_back(std::move(node));
  parent->HasChildren = true;
  FModel->EndInsert();
  FModel->SortChildren(parent);
}

void TSxCustomShellTreeView::ShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events) {
  DoShellChangeNotify(Old, New, Events);
  if (!Old) return;
  auto has = [Events](TSxNotifyEvents e) { return (Events & SxEventSet(e)) != 0; };
  const bool files = FOptions & toShowFiles;
  if (has(neFolderCreate) || has(neDriveAdd) || (has(neFileCreate) && files)) {
    AddNodeFor(*Old);
    return;
  }
  auto remove = [this](TSxShellItem& item) {
    TSxTreeNode n = FindNodeByIDList(item.AbsoluteIDList);
    if (!n) n = FindNodeByPath(item.Path);
    if (n) DeleteNode(Node(n), true);
  };
  if (has(neFolderDelete) || has(neDriveRemove) || (has(neFileDelete) && files)) {
    remove(*Old);
    return;
  }
  if ((has(neFolderRename) || (has(neFileRename) && files)) && New) {
    if (New->IsDesktop) {
      remove(*Old);
      return;
    }
    // The folder of exactly that path: another folder whose name differs in
    // case only is a different folder here.
    TSxTreeNodeData* n = Node(FindNodeByPath(Old->Path));
    if (!n) {
      AddNodeFor(*New);
      return;
    }
    // Moved to another folder: it leaves its old parent and joins the new one
    // when that has been read.
    if (Node(FindParentNode(*New)) != n->Parent) {
      DeleteNode(n, true);
      AddNodeFor(*New);
      return;
    }
    auto folder = std::make_unique<TSxShellFolder>(FController);
    folder->Assign(*New, true);
    if (!folder->ParentFolder) folder->ParentFolder = FController->DesktopFolder;
    folder->ListIndex = n->FolderIndex;
    const bool selected = FSelectedFolder && FSelectedFolder == NodeFolder(n);
    FolderList.Put(n->FolderIndex, std::move(folder));
    if (selected) FSelectedFolder = NodeFolder(n);
    n->Text = QString::fromStdString(New->DisplayName);
    FModel->Changed(n);
    FModel->SortChildren(n->Parent);
    // Nodes below still carry the old path: they are read again.
    if (n->ChildrenLoaded) RefreshNode(n);
    return;
  }
  if (has(neNetShare) || has(neNetUnShare)) {
    if (TSxTreeNodeData* n = Node(FindNodeByIDList(Old->AbsoluteIDList))) {
      n->OverlayIndex = Old->GetOverlayIndex();
      FModel->Changed(n);
    }
    return;
  }
  if (has(neMediaInsert) || has(neMediaRemove)) {
    if (TSxTreeNodeData* n = Node(FindNodeByPath(Old->Path))) {
      n->ImageIndex = Old->GetIconIndex();
      n->Text = QString::fromStdString(Old->DisplayName);
      FModel->Changed(n);
    }
  }
}

// ---------------------------------------------------------------- editing and menu

bool TSxCustomShellTreeView::CanEdit(TSxTreeNode Handle) const {
  TSxShellFolder* f = NodeFolder(Handle);
  return f && (FOptions & toAllowRename) && f->CanRename();
}

bool TSxCustomShellTreeView::RenameNode(TSxTreeNode Handle, const std::string& Name) {
  TSxTreeNodeData* n = Node(Handle);
  TSxShellFolder* folder = NodeFolder(n);
  if (!folder || !folder->ParentFolder || Name.empty() || QString::fromStdString(Name) == n->Text) return false;
  TSxItemIDList relative;
  if (!FController->RenameItem(this, *folder->ParentFolder, folder->RelativeIDList, folder->DisplayName, Name, relative))
    return false;
  TSxItemIDList absolute = ILClone(folder->ParentFolder->AbsoluteIDList());
  absolute = ILCombine(absolute, relative);
  auto renamed = TSxShellFolder::CreateFromIDList(absolute, FController);
  renamed->ListIndex = n->FolderIndex;
  const bool selected = FSelectedFolder == folder;
  FolderList.Put(n->FolderIndex, std::move(renamed));
  if (selected) FSelectedFolder = NodeFolder(n);
  n->Text = QString::fromStdString(NodeFolder(n)->DisplayName);
  // The parent is read again once the editor has closed.
  TSxItemIDList parentList = ILClone(absolute);
  ILRemoveLastID(parentList);
  QTimer::singleShot(0, this, [this, parentList] {
    if (TSxTreeNode p = FindNodeByIDList(parentList)) RefreshNode(p);
  });
  return true;
}

void TSxCustomShellTreeView::contextMenuEvent(QContextMenuEvent* Event) {
  if (!(FOptions & toShellMenu) || !FController) {
    QTreeView::contextMenuEvent(Event);
    return;
  }
  TSxTreeNode node = SelectedNode();
  TSxShellFolder* folder = NodeFolder(node);
  if (!folder) return;
  std::shared_ptr<TSxNamespaceFolder> parent = folder->ParentFolder ? folder->ParentFolder : FController->DesktopFolder;
  const int command = FController->ShowContextMenu(static_cast<TSxShellTreeClient*>(this), parent, this,
                                                   Event->globalPos().x(), Event->globalPos().y(),
                                                   {folder->RelativeIDList});
  if (command == cmRename) edit(NodeIndex(node));
}

// ---------------------------------------------------------------- dragging out

void TSxCustomShellTreeView::startDrag(Qt::DropActions) {
  if (!(FOptions & toAllowDrag) || !FController) return;
  const QModelIndex index = currentIndex();
  TSxShellFolder* folder = NodeFolder(index.internalPointer());
  if (!folder || !folder->ParentFolder) return;
  const std::uint32_t effects =
      folder->ParentFolder->GetAttributesOf(folder->RelativeIDList, SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK);
  if (!effects) return;
  // Held here: the tree may go while the drag runs, and the controller is
  // told the drag ended all the same.
  const std::shared_ptr<TSxCustomShellController> controller = FControllerRef;
  controller->DragSource = static_cast<TSxShellTreeClient*>(this);
  auto* data = new TSxDataObject({folder->RelativeIDList}, folder->AbsoluteIDList);
  const QRect rect = visualRect(index);
  QPixmap image(rect.size());
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = QRect(QPoint(0, 0), rect.size());
    option.state |= QStyle::State_Selected;
    itemDelegate()->paint(&p, option, index);
  }
  SxDoDragDrop(this, data, SxDropActionsOf(effects), image, QPoint(0, 0));
  controller->DragSource = nullptr;
}

// ---------------------------------------------------------------- dropping in

TSxTreeNodeData* TSxCustomShellTreeView::NodeAt(QPoint Point) const {
  const QModelIndex i = indexAt(Point);
  return i.isValid() ? FModel->NodeOf(i) : nullptr;
}

void TSxCustomShellTreeView::SetDropNode(TSxTreeNodeData* N) {
  if (N == FDropNode) return;
  if (FDropNode) viewport()->update(visualRect(NodeIndex(FDropNode)));
  FDropNode = N;
  if (FDropNode) viewport()->update(visualRect(NodeIndex(FDropNode)));
}

void TSxCustomShellTreeView::dragEnterEvent(QDragEnterEvent* Event) {
  FDraggingOver = false;
  FDragHasFiles = SxDragEnter(Event, FOptions & toAllowDrop);
}

void TSxCustomShellTreeView::dragMoveEvent(QDragMoveEvent* Event) {
  if (!FDragHasFiles) {
    Event->ignore();
    return;
  }
  FDraggingOver = true;
  FDragPoint = Event->position().toPoint();
  TSxTreeNodeData* n = NodeAt(FDragPoint);
  const QModelIndex index = NodeIndex(n);
  FDragScroll = SxTreeDragScroll(FDragPoint.y(), viewport()->height(), n && indexAbove(index).isValid(),
                                 n && indexBelow(index).isValid());
  if (FDragScroll.Direction != sdNone && !FScrollTimer->isActive()) FScrollTimer->start(FDragScroll.WaitMs);

  const bool entered = n != FDropNode;
  if (entered) {
    SetDropNode(n);
    const TSxShellFolder* folder = NodeFolder(n);
    FDropTarget = folder ? TSxFolderDropTarget::Create(FController, folder->AbsoluteIDList) : nullptr;
    if (ExpandInterval != 0) FExpandTimer->start(ExpandInterval);
  }
  SxAnswerDrag(Event, SxDragOver(FDropTarget.get(), entered, Event));
}

void TSxCustomShellTreeView::dragLeaveEvent(QDragLeaveEvent*) { DragDone(); }

void TSxCustomShellTreeView::dropEvent(QDropEvent* Event) {
  FExpandTimer->stop();
  const TSxShellFolder* folder = FDragHasFiles ? NodeFolder(NodeAt(Event->position().toPoint())) : nullptr;
  std::unique_ptr<TSxFolderDropTarget> target =
      folder ? TSxFolderDropTarget::Create(FController, folder->AbsoluteIDList) : nullptr;
  DragDone();
  SxDropOn(target.get(), Event, this);
}

void TSxCustomShellTreeView::DragDone() {
  FScrollTimer->stop();
  FExpandTimer->stop();
  FDropTarget.reset();
  FDraggingOver = false;
  FDragHasFiles = false;
  SetDropNode(nullptr);
}

void TSxCustomShellTreeView::DragScrollStep() {
  if (!FDraggingOver) return;
  TSxTreeNodeData* n = NodeAt(FDragPoint);
  const QModelIndex index = NodeIndex(n);
  FDragScroll = SxTreeDragScroll(FDragPoint.y(), viewport()->height(), n && indexAbove(index).isValid(),
                                 n && indexBelow(index).isValid());
  QScrollBar* bar = verticalScrollBar();
  if (FDragScroll.Direction == sdUp) bar->setValue(bar->value() - 1);
  else if (FDragScroll.Direction == sdDown) bar->setValue(bar->value() + 1);
  else return;
  // Scrolling goes on while the pointer stays at the edge.
  FScrollTimer->start(FDragScroll.WaitMs);
}

bool TSxCustomShellTreeView::ExpandPending() const { return FExpandTimer->isActive(); }

void TSxCustomShellTreeView::ExpandTimerFired() {
  if (FDropNode && NodeHasChildren(FDropNode) && !NodeExpanded(FDropNode)) ExpandNode(FDropNode);
}

bool TSxCustomShellTreeView::ColorCompressedNode(TSxTreeNode Handle, bool DrawnSelected) const {
  if (FDraggingOver && Handle == FDropNode) return false;
  if (!(FOptions & toColorCompressed) || DrawnSelected) return false;
  TSxShellFolder* folder = NodeFolder(Handle);
  if (!folder || !folder->ParentFolder) return false;
  return SxDriveType(folder->Path) != 2 && folder->IsCompressed();
}

} // namespace sx
