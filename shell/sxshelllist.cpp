#include "shell/sxshelllist.h"

#include "shell/sxregex.h"
#include "shell/sxshellcombo.h"
#include "shell/sxshelltree.h"
#include "shell/sxguards.h"

#include <QtCore/QAbstractTableModel>
#include <QtCore/QTimer>
#include <QtGui/QtEvents>
#include <QtGui/QActionGroup>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QListView>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStackedLayout>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QTreeView>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unordered_map>

namespace sx {

int TSxCustomShellListView::SortColumn = 0;
bool TSxCustomShellListView::SortAscending = true;

namespace {

std::string FileNameOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A copy sharing the parent folder, so that copying costs no file-system query.
std::unique_ptr<TSxShellItem> CopyItem(TSxCustomShellController* controller, const TSxShellItem& item) {
  auto copy = std::make_unique<TSxShellItem>(controller);
  copy->Assign(item, true);
  return copy;
}

} // namespace

// ---------------------------------------------------------------- model

class TSxShellListModel : public QAbstractTableModel {
public:
  explicit TSxShellListModel(TSxCustomShellListView* list) : QAbstractTableModel(list), L(list) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : L->FRowCount; }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : std::max<int>(1, static_cast<int>(L->FColumns.size()));
  }
  QVariant data(const QModelIndex& index, int role) const override {
    TSxShellItem* item = L->RowItem(index.row());
    if (!item) return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      if (column == 0) return QString::fromStdString(item->DisplayName);
      if (column - 1 < static_cast<int>(item->SubItems.size()))
        return QString::fromStdString(item->SubItems[static_cast<std::size_t>(column - 1)]);
      return {};
    case Qt::DecorationRole:
      if (column != 0) return {};
      return L->RowIcon(item, L->FViewStyle == vsIcon);
    case Qt::TextAlignmentRole:
      if (column < static_cast<int>(L->FColumns.size()) && L->FColumns[static_cast<std::size_t>(column)].RightAligned)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    case Qt::ForegroundRole:
      if (L->CustomDrawItem(item)) return L->FCompressedColor;
      return {};
    default:
      return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(L->FColumns.size())) return {};
    const TSxListColumn& c = L->FColumns[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) return QString::fromStdString(c.Caption);
    if (role == Qt::TextAlignmentRole && c.RightAligned) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (L->HasOption(loAllowDrag)) f |= Qt::ItemIsDragEnabled;
    // Whether the name may change is asked when editing starts: flags come
    // with every paint.
    if (index.column() == 0 && L->HasOption(loAllowRename)) f |= Qt::ItemIsEditable;
    return f;
  }
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::EditRole || index.column() != 0) return false;
    TSxShellItem* item = L->RowItem(index.row());
    if (!item) return false;
    // The editor shows the name's bytes that are no UTF-8 as U+FFFD: while
    // the text reads as the name shown, it is that name, unchanged.
    const QString text = value.toString();
    if (!L->Edit(item, text == QString::fromStdString(item->DisplayName) ? item->DisplayName : text.toStdString()))
      return false;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount({}) - 1));
    return true;
  }

  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  void BeginInsert(int first, int last) { beginInsertRows({}, first, last); }
  void EndInsert() { endInsertRows(); }
  void BeginRemove(int first, int last) { beginRemoveRows({}, first, last); }
  void EndRemove() { endRemoveRows(); }
  void RowChanged(int row) {
    if (row >= 0) emit dataChanged(index(row, 0), index(row, columnCount({}) - 1));
  }
  void SetColumns(std::vector<TSxListColumn> columns) {
    const int before = columnCount({});
    const int after = std::max<int>(1, static_cast<int>(columns.size()));
    if (before > 1) {
      beginRemoveColumns({}, 1, before - 1);
      L->FColumns.resize(1);
      endRemoveColumns();
    }
    if (after > 1) {
      beginInsertColumns({}, 1, after - 1);
      L->FColumns = std::move(columns);
      endInsertColumns();
    } else {
      L->FColumns = std::move(columns);
    }
    emit headerDataChanged(Qt::Horizontal, 0, after - 1);
  }
  void Reorder(const std::function<void()>& change) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<TSxShellItem*> items;
    items.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& i : before) items.push_back(L->RowItem(i.row()));
    change();
    QModelIndexList after;
    if (!before.isEmpty()) {
      std::unordered_map<const TSxShellItem*, int> rows;
      rows.reserve(static_cast<std::size_t>(L->FRowCount));
      for (int r = 0; r < L->FRowCount; ++r) rows.emplace(L->RowItem(r), r);
      for (qsizetype k = 0; k < before.size(); ++k) {
        const auto found = rows.find(items[static_cast<std::size_t>(k)]);
        after << (found == rows.end() ? QModelIndex() : index(found->second, before[k].column()));
      }
      changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  }

private:
  TSxCustomShellListView* L;
};

// Draws the drop target as selected.
class TSxListDelegate : public QStyledItemDelegate {
public:
  explicit TSxListDelegate(TSxCustomShellListView* list) : QStyledItemDelegate(list), L(list) {}

protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (L->FDraggingOver && index.row() == L->FDropRow) option->state |= QStyle::State_Selected;
  }

private:
  TSxCustomShellListView* L;
};

// Both views hand their input to the list.
template <class TBase>
class TSxListViewOf : public TBase {
public:
  explicit TSxListViewOf(TSxCustomShellListView* list) : TBase(list), L(list) {}

protected:
  void contextMenuEvent(QContextMenuEvent* event) override {
    const bool onRow = event->reason() != QContextMenuEvent::Mouse || this->indexAt(event->pos()).isValid();
    L->ContextMenu(event->globalPos(), onRow);
  }
  void startDrag(Qt::DropActions) override { L->StartDrag(); }
  void dragEnterEvent(QDragEnterEvent* event) override { L->DragEnter(event); }
  void dragMoveEvent(QDragMoveEvent* event) override { L->DragMove(event); }
  void dragLeaveEvent(QDragLeaveEvent*) override { L->DragLeave(); }
  void dropEvent(QDropEvent* event) override { L->Drop(event); }
  bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger, QEvent* event) override {
    if (!index.isValid() || index.column() != 0) return false;
    // Asked only for a trigger that starts editing, as each click asks.
    if ((trigger & this->editTriggers()) || trigger == QAbstractItemView::AllEditTriggers) {
      TSxShellItem* item = L->RowItem(index.row());
      if (!item || !L->CanEdit(item)) return false;
    }
    const bool started = TBase::edit(index, trigger, event);
    if (started && this->state() == QAbstractItemView::EditingState) L->FEditing = true;
    return started;
  }
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override {
    TBase::closeEditor(editor, hint);
    L->EditEnded();
  }

private:
  TSxCustomShellListView* L;
};

class TSxListIconView : public TSxListViewOf<QListView> {
public:
  using TSxListViewOf<QListView>::TSxListViewOf;
};

class TSxListReportView : public TSxListViewOf<QTreeView> {
public:
  using TSxListViewOf<QTreeView>::TSxListViewOf;
};

// ---------------------------------------------------------------- life

TSxCustomShellListView::TSxCustomShellListView(QWidget* Parent)
    : QWidget(Parent), FShellVersion(SxShellVersion()), FTypeNames(SxMakeTypeNames()),
      FLoader(std::make_unique<TSxFolderLoader>()) {
  resize(270, 180);
  for (int code = 230; code <= 239; ++code) FCaptions.push_back(LookupSyMessage(code));
  FTexts.FileFolder = FCaptions[5];
  FTexts.File = FCaptions[9];

  FModel = new TSxShellListModel(this);
  FIconView = new TSxListIconView(this);
  FReportView = new TSxListReportView(this);
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(FIconView), static_cast<QAbstractItemView*>(FReportView)}) {
    view->setModel(FModel);
    view->setItemDelegate(new TSxListDelegate(this));
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    view->setDragEnabled(true);
    view->setAcceptDrops(true);
    view->setDropIndicatorShown(false);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setAutoScroll(false);
    QObject::connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
      if (index.isValid()) DblClick();
    });
  }
  FReportView->setSelectionModel(FIconView->selectionModel());
  FReportView->setRootIsDecorated(false);
  FReportView->setItemsExpandable(false);
  FReportView->setUniformRowHeights(true);
  FReportView->setAllColumnsShowFocus(true);
  FReportView->header()->setSectionsClickable(true);
  FReportView->header()->setSortIndicatorShown(false);
  QObject::connect(FReportView->header(), &QHeaderView::sectionClicked, this, [this](int column) { ColClick(column); });
  FIconView->setUniformItemSizes(true);
  FIconView->setMovement(QListView::Static);
  FIconView->setResizeMode(QListView::Adjust);
  QItemSelectionModel* selection = FIconView->selectionModel();
  QObject::connect(selection, &QItemSelectionModel::selectionChanged, this, [this] { SelectionChanged(); });
  QObject::connect(selection, &QItemSelectionModel::currentChanged, this, [this] { SelectionChanged(); });

  FStack = new QStackedLayout(this);
  FStack->setContentsMargins(0, 0, 0, 0);
  FStack->addWidget(FIconView);
  FStack->addWidget(FReportView);

  FPopup = new QMenu(this);
  FStyleActions = new QActionGroup(this);
  const std::pair<const char*, TViewStyle> styles[] = {
      {SyStr::LargeIcons, vsIcon}, {SyStr::SmallIcons, vsSmallIcon}, {SyStr::List, vsList}, {SyStr::Details, vsReport}};
  for (const auto& [caption, style] : styles) {
    QAction* action = FPopup->addAction(QString::fromUtf8(caption));
    action->setCheckable(true);
    action->setData(static_cast<int>(style));
    FStyleActions->addAction(action);
    QObject::connect(action, &QAction::triggered, this, [this, style = style] { SetViewStyle(style); });
  }
  ApplyStyle();

  FScrollTimer = new QTimer(this);
  FScrollTimer->setSingleShot(true);
  QObject::connect(FScrollTimer, &QTimer::timeout, this, [this] { DragScrollStep(); });

  FLoader->OnBatch = [this](TSxItemBatch& batch, bool last) { BatchArrived(batch, last); };
  FNotifier = std::make_unique<TSxShellNotification>();
  FNotifier->QueueLimit = 5;
  FNotifier->OnShellChangeNotify = [this](TSyComponent*, TSxShellItem* Old, TSxShellItem* New,
                                          TSxNotifyEventsSet Events) { ShellChangeNotify(Old, New, Events); };

  FControllerRef = std::make_shared<TSxCustomShellController>();
  FController = FControllerRef.get();
  FController->ListView = this;
}

TSxCustomShellListView::~TSxCustomShellListView() {
  FLoader.reset();
  FNotifier.reset();
  if (FController && FController->ListView == this) FController->ListView = nullptr;
  if (FTreeView && FTreeView->ListView() == this) FTreeView->SetListView(nullptr);
  if (FComboBox && FComboBox->ListView() == this) FComboBox->SetListView(nullptr);
  FIconView->setModel(nullptr);
  FReportView->setModel(nullptr);
  FSelectedItems.Clear();
  FFilteredItems.Clear();
  FShellItems.Clear();
}

void TSxCustomShellListView::SetController(std::shared_ptr<TSxCustomShellController> Value) {
  if (!Value || Value.get() == FController) return;
  if (FController && FController->ListView == this) FController->ListView = nullptr;
  FFormerControllers.push_back(FControllerRef);
  FControllerRef = std::move(Value);
  FController = FControllerRef.get();
  FController->ListView = this;
}

TSxCustomShellTreeView* TSxCustomShellListView::TreeView() const { return FTreeView.data(); }
TSxCustomShellComboBox* TSxCustomShellListView::ComboBox() const { return FComboBox.data(); }

void TSxCustomShellListView::SetTreeView(TSxCustomShellTreeView* Value) {
  if (Value == FTreeView) return;
  FTreeView = Value;
  if (!Value) return;
  FRootFolder.clear();
  FSpecialRootFolder = sfNone;
  SetController(Value->SharedController());
  if (Value->ListView() != this) Value->SetListView(this);
  if (TSxShellFolder* selected = Value->SelectedFolder()) FillList(selected);
}

void TSxCustomShellListView::SetComboBox(TSxCustomShellComboBox* Value) {
  if (Value == FComboBox) return;
  FComboBox = Value;
  if (!Value) return;
  if (Value->ListView() != this) Value->SetListView(this);
}

// ---------------------------------------------------------------- properties

void TSxCustomShellListView::SetCompressedColor(const QColor& Value) {
  if (Value == FCompressedColor) return;
  FCompressedColor = Value;
  if (HasOption(loColorCompressed)) ActiveView()->viewport()->update();
}

void TSxCustomShellListView::SetOptions(const TSxListOptionsSet& Value) {
  if (Value == FOptions) return;
  const bool compressedChanged = Value.count(loColorCompressed) != FOptions.count(loColorCompressed);
  FOptions = Value;
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(FIconView), static_cast<QAbstractItemView*>(FReportView)}) {
    view->setDragEnabled(HasOption(loAllowDrag));
    view->setAcceptDrops(HasOption(loAllowDrop));
  }
  if (compressedChanged) ActiveView()->viewport()->update();
}

bool TSxCustomShellListView::FilterActive() const { return !FFileFilter.empty() && FFiltered && !OnFilterItem; }

TSxShellItemList& TSxCustomShellListView::CurrentList() { return FilterActive() ? FFilteredItems : FShellItems; }

void TSxCustomShellListView::SetFileFilter(const std::string& Masks) {
  if (Masks == FFileFilter) return;
  FFileFilter = Masks;
  FFilteredItems.Clear();
  if (Masks.empty() || !FFiltered) {
    // The whole folder shows again.
    Redisplay(false);
    return;
  }
  if (!OnFilterItem) ApplyFileFilter();
  else if (FCurrentFolder) FillList(FCurrentFolder.get());
}

void TSxCustomShellListView::SetFiltered(bool Value) {
  if (Value == FFiltered) return;
  FFiltered = Value;
  KeepFolder = false;
  if (FFileFilter.empty()) return;
  if (!Value) {
    Redisplay(false);
  } else if (!OnFilterItem) {
    ApplyFileFilter();
  } else if (FCurrentFolder) {
    KeepFolder = true;
    FillList(FCurrentFolder.get());
  }
}

void TSxCustomShellListView::SetRootFolder(const std::string& Path) {
  if (Path == FRootFolder && FCurrentFolder) return;
  FRootFolder = Path;
  if (Path.empty()) {
    Clear();
    return;
  }
  FSpecialRootFolder = sfNone;
  FillList(nullptr);
  MoveLinked(FCurrentFolder.get());
}

void TSxCustomShellListView::SetSpecialRootFolder(TSxSpecialRootFolder Value) {
  const int csidl = SpecialFolderCSIDL(Value);
  if ((csidl == 1 || (csidl >= 29 && csidl <= 34)) && FShellVersion < 4.7)
    RaiseSyError<ESyShellError>(scShellNotSupported);
  if (Value == FSpecialRootFolder) return;
  FSpecialRootFolder = Value;
  if (Value == sfNone) {
    Clear();
    return;
  }
  FRootFolder.clear();
  FillList(nullptr);
  MoveLinked(FCurrentFolder.get());
}

void TSxCustomShellListView::MoveLinked(TSxShellFolder* Folder) {
  if (!Folder) return;
  if (FTreeView) {
    try {
      FTreeView->SelectFolder(*Folder, false);
    } catch (const ESyInvalidFolder&) {
      // A folder outside the tree's root leaves the tree where it is.
    }
  }
  if (FComboBox) FComboBox->SetFolder(Folder, false);
}

// ---------------------------------------------------------------- view styles

void TSxCustomShellListView::ApplyStyle() {
  for (QAction* action : FStyleActions->actions())
    action->setChecked(action->data().toInt() == static_cast<int>(FViewStyle));
  if (FViewStyle == vsReport) {
    FStack->setCurrentWidget(FReportView);
    FReportView->setIconSize(QSize(16, 16));
    for (std::size_t c = 0; c < FColumns.size(); ++c)
      FReportView->header()->resizeSection(static_cast<int>(c), FColumns[c].Width);
    return;
  }
  FStack->setCurrentWidget(FIconView);
  const int text = fontMetrics().height();
  switch (FViewStyle) {
  case vsIcon:
    FIconView->setViewMode(QListView::IconMode);
    FIconView->setIconSize(QSize(32, 32));
    FIconView->setGridSize(QSize(84, 40 + 2 * text));
    FIconView->setWordWrap(true);
    break;
  case vsSmallIcon:
    FIconView->setViewMode(QListView::ListMode);
    FIconView->setFlow(QListView::LeftToRight);
    FIconView->setWrapping(true);
    FIconView->setIconSize(QSize(16, 16));
    FIconView->setGridSize(QSize(150, std::max(18, text + 2)));
    FIconView->setWordWrap(false);
    break;
  default:
    FIconView->setViewMode(QListView::ListMode);
    FIconView->setFlow(QListView::TopToBottom);
    FIconView->setWrapping(true);
    FIconView->setIconSize(QSize(16, 16));
    FIconView->setGridSize(QSize(180, std::max(18, text + 2)));
    FIconView->setWordWrap(false);
    break;
  }
  FIconView->setMovement(QListView::Static);
  FIconView->setResizeMode(QListView::Adjust);
}

void TSxCustomShellListView::SetViewStyle(TViewStyle Value) {
  if (Value == FViewStyle) return;
  const TViewStyle old = FViewStyle;
  FViewStyle = Value;
  setUpdatesEnabled(false);
  if (old == vsReport && !SortAscending) Reorder([] { SortAscending = true; });
  if (Value == vsReport && FCurrentFolder && FRowCount > 0) {
    if (!ColumnsAdded) AddColumns(FCurrentFolder.get());
    if (!DetailsLoaded) {
      for (auto& item : FShellItems.List()) AddListItem(item.get());
      for (auto& item : FFilteredItems.List()) AddListItem(item.get());
      DetailsLoaded = true;
    }
    Reorder([] { SortAscending = false; });
    ColClick(0);
  } else if (Value == vsReport && FCurrentFolder && !ColumnsAdded) {
    AddColumns(FCurrentFolder.get());
  }
  ApplyStyle();
  setUpdatesEnabled(true);
}

QAbstractItemView* TSxCustomShellListView::ActiveView() const {
  return FViewStyle == vsReport ? static_cast<QAbstractItemView*>(FReportView) : FIconView;
}
QListView* TSxCustomShellListView::IconView() const { return FIconView; }
QTreeView* TSxCustomShellListView::ReportView() const { return FReportView; }

// ---------------------------------------------------------------- rows

TSxShellItem* TSxCustomShellListView::RowItem(int Row) {
  if (Row < 0 || Row >= FRowCount) return nullptr;
  const int index = SortAscending ? Row : FRowCount - 1 - Row;
  return CurrentList().Items(index);
}

int TSxCustomShellListView::RowOf(const TSxShellItem* Item) {
  const auto& list = CurrentList().List();
  for (std::size_t i = 0; i < list.size() && static_cast<int>(i) < FRowCount; ++i)
    if (list[i].get() == Item) return SortAscending ? static_cast<int>(i) : FRowCount - 1 - static_cast<int>(i);
  return -1;
}

int TSxCustomShellListView::RowByCaption(const std::string& Caption) {
  for (int r = 0; r < FRowCount; ++r)
    if (RowItem(r)->DisplayName == Caption) return r;
  return -1;
}

int TSxCustomShellListView::FocusedRow() const {
  const QModelIndex i = FIconView->selectionModel()->currentIndex();
  return i.isValid() ? i.row() : -1;
}

void TSxCustomShellListView::SetFocusedRow(int Row) {
  if (Row < 0 || Row >= FRowCount) return;
  FIconView->selectionModel()->setCurrentIndex(FModel->index(Row, 0), QItemSelectionModel::NoUpdate);
}

std::vector<int> TSxCustomShellListView::SelectedRows() const {
  std::vector<int> rows;
  for (const QItemSelectionRange& range : FIconView->selectionModel()->selection())
    for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(r);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void TSxCustomShellListView::SelectRow(int Row, bool Select) {
  if (Row < 0 || Row >= FRowCount) return;
  FIconView->selectionModel()->select(FModel->index(Row, 0), (Select ? QItemSelectionModel::Select
                                                                     : QItemSelectionModel::Deselect) |
                                                                 QItemSelectionModel::Rows);
}

QRect TSxCustomShellListView::RowRect(int Row) const {
  QAbstractItemView* view = ActiveView();
  const QRect r = view->visualRect(FModel->index(Row, 0));
  return QRect(view->viewport()->mapTo(this, r.topLeft()), r.size());
}

void TSxCustomShellListView::EditRow(int Row) {
  if (Row < 0 || Row >= FRowCount) return;
  QAbstractItemView* view = ActiveView();
  const QModelIndex index = FModel->index(Row, 0);
  view->scrollTo(index);
  view->setCurrentIndex(index);
  view->edit(index);
}

TSxShellItem* TSxCustomShellListView::FocusedItem() { return RowItem(FocusedRow()); }

void TSxCustomShellListView::SelectItemByName(const std::string& Name) {
  const int row = RowByCaption(Name);
  if (row >= 0) {
    FSelectWhenLoaded.clear();
    FIconView->selectionModel()->setCurrentIndex(FModel->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                            QItemSelectionModel::Rows);
    ActiveView()->scrollTo(FModel->index(row, 0));
  } else if (Loading()) {
    FSelectWhenLoaded = Name;
  }
}

// ---------------------------------------------------------------- icons

void TSxCustomShellListView::FetchIcon(TSxShellItem* Item) {
  if (Item->IconIndex != -1) return;
  const std::string name = Item->RelativeIDList.Component(0);
  const bool plainFile = (Item->Flags & sxfKnown) && Item->IsFileSystem && SxRootRank(name) < 0 &&
                         !name.empty() && name[0] != '/';
  if (!plainFile) {
    Item->GetIconIndex();
    return;
  }
  if (Item->IsFolder) {
    Item->IconIndex = SxFolderIconIndex(false);
    Item->OpenIconIndex = SxFolderIconIndex(true);
    return;
  }
  const std::string ext = SxExtensionOf(Item->Path);
  Item->IconIndex = SxMimeIconIndex(ext.empty() ? SxMimeNameOf(Item->DisplayName) : SxTypeEntry(*FTypeNames, ext).MimeName);
  Item->OpenIconIndex = Item->IconIndex;
}

QIcon TSxCustomShellListView::RowIcon(TSxShellItem* Item, bool) {
  if (Optimization == otEnumerate) FetchIcon(Item);
  const bool known = Item->Flags & sxfKnown;
  const bool ghosted = known ? (Item->Flags & sxfGhosted) != 0 : Item->IsGhosted();
  const bool link = known ? (Item->Flags & sxfLink) != 0 : Item->OverlayIndex == 1;
  const QIcon base = TSxSystemImageList::Instance().Icon(Item->IconIndex);
  if (!ghosted && !link) return base;
  const std::uint32_t key = static_cast<std::uint32_t>(Item->IconIndex) << 2 | (ghosted ? 2u : 0u) | (link ? 1u : 0u);
  for (const auto& [k, icon] : FIconCache)
    if (k == key) return icon;
  FIconCache.emplace_back(key, SxDecoratedIcon(base, ghosted, link));
  return FIconCache.back().second;
}

bool TSxCustomShellListView::CustomDrawItem(const TSxShellItem* Item) const {
  if (!HasOption(loColorCompressed) || !Item) return false;
  const bool compressed = (Item->Flags & sxfKnown) ? (Item->Flags & sxfCompressed) != 0
                                                   : const_cast<TSxShellItem*>(Item)->IsCompressed();
  return compressed && FDriveType != 2;
}

// ---------------------------------------------------------------- filling

bool TSxCustomShellListView::DoFilterItem(TSxShellItem* Item) {
  bool accept = true;
  if (OnFilterItem && FFiltered) OnFilterItem(this, Item, accept);
  return accept;
}

bool TSxCustomShellListView::IsTrash(const TSxShellItem* Folder) const {
  const std::optional<TSxItemIDList> trash = SHGetSpecialFolderLocation(10);
  return Folder && trash && ILIsEqual(Folder->AbsoluteIDList, *trash);
}

void TSxCustomShellListView::ClearRows() {
  TSxBusy busy(FUpdating);
  FModel->BeginReset();
  FShellItems.Clear();
  FFilteredItems.Clear();
  FSelectedItem = nullptr;
  FRowCount = 0;
  FDropRow = -1;
  FModel->EndReset();
}

void TSxCustomShellListView::Clear() {
  FLoader->Cancel();
  FLoading = FReloading = FReloadPending = false;
  FReloadItems.clear();
  FAddedByHand.clear();
  ClearRows();
  SortColumn = 0;
}

void TSxCustomShellListView::FillList(TSxShellFolder* Folder) {
  if (FTreeView && !FTreeView->StartInSelected()) return;
  FSelectedItems.Clear();
  ColumnsAdded = false;
  DetailsLoaded = false;
  setUpdatesEnabled(false);
  Clear();
  std::unique_ptr<TSxShellFolder> temporary;
  if (!Folder) {
    if (!FController || (FSpecialRootFolder == sfNone && FRootFolder.empty())) {
      setUpdatesEnabled(true);
      return;
    }
    TSxItemIDList list;
    if (FSpecialRootFolder == sfNone) {
      if (!FController->ParsePath(FRootFolder, *FController->DesktopFolder, list)) {
        FRootFolder.clear();
        setUpdatesEnabled(true);
        RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
      }
    } else {
      list = SxSpecialFolderIDList(FSpecialRootFolder);
    }
    temporary = TSxShellFolder::CreateFromIDList(list, FController);
    Folder = temporary.get();
  }
  if (FViewStyle == vsReport) AddColumns(Folder);
  if (!KeepFolder || !FCurrentFolder) {
    auto copy = std::make_unique<TSxShellFolder>(FController);
    copy->Assign(*Folder);
    if (!copy->ParentFolder) copy->ParentFolder = FController->DesktopFolder;
    if (copy->DisplayName.empty()) copy->DisplayName = SxDisplayNameOf(TSxItemIDList(), SHGDN_NORMAL);
    FCurrentFolder = std::move(copy);
  }
  FTrash = IsTrash(FCurrentFolder.get());
  FDriveType = SxDriveType(FCurrentFolder->Path);
  StartLoad(false);
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(FIconView), static_cast<QAbstractItemView*>(FReportView)})
    view->scrollToTop();
  setUpdatesEnabled(true);

  FNotifier->SetActive(false);
  FNotifier->SetWatchIDList(FCurrentFolder->AbsoluteIDList);
  FNotifier->QueueLimit = 5;
  // Hidden after being shown, the list follows its folder again when shown.
  FNotifier->SetActive(!FStale);
  if (FComboBox) {
    // A folder the combo box has no entry for (one chosen in a linked tree)
    // gets its path shown too, not a stale entry left selected.
    if (FComboBox->currentIndex() < 0 || FComboBox->IndexOfPath(FCurrentFolder->Path) < 0)
      FComboBox->SetFolder(FCurrentFolder.get(), false);
    FComboBox->SelectByPath(*FCurrentFolder);
  }
}

void TSxCustomShellListView::StartLoad(bool Reload) {
  if (!FCurrentFolder) return;
  TSxLoadRequest request;
  request.Folder = FCurrentFolder->AbsoluteIDList;
  request.Controller = FController;
  request.TypeNames = FTypeNames.get();
  request.Texts = FTexts;
  request.Hidden = HasOption(loShowHidden);
  request.Trash = FTrash;
  // The first screen is the top of the list as shown.
  request.Descending = !Reload && SortColumn == 0 && !SortAscending;
  FLoadDescending = request.Descending;
  FReloading = Reload;
  FLoading = !Reload;
  if (Reload) FReloadItems.clear();
  FLoader->Start(std::move(request));
}

void TSxCustomShellListView::BatchArrived(TSxItemBatch& Batch, bool Last) {
  if (FReloading) {
    for (auto& item : Batch) FReloadItems.push_back(std::move(item));
    if (Last) Reloaded();
    return;
  }
  AddArrived(Batch);
  if (!Last) return;
  FLoading = false;
  FAddedByHand.clear();
  DetailsLoaded = true;
  FSelectWhenLoaded.clear();
  DoListFilled();
  if (FReloadPending) {
    FReloadPending = false;
    Redisplay(true);
  }
}

bool TSxCustomShellListView::MatchesFilter(TSxRegEx& Filter, const TSxShellItem& Item) const {
  if (!Item.IsFile) return true;
  TMatchPosition match;
  return Filter.CheckString(FileNameOf(Item.Path), match);
}

void TSxCustomShellListView::AddArrived(TSxItemBatch& Batch) {
  TSxItemBatch accepted;
  for (auto& item : Batch) {
    if (!FAddedByHand.empty() && FAddedByHand.count(item->Path)) continue;
    if (Optimization == otDisplay) {
      std::uint32_t attributes = 0;
      FController->GetItemIconInfo(item->AbsoluteIDList, attributes, item->DisplayName, item->OpenIconIndex,
                                   item->IconIndex, item->OverlayIndex);
    }
    item->ListIndex = FShellItems.Count() + static_cast<int>(accepted.size());
    if (!DoFilterItem(item.get())) continue;
    accepted.push_back(std::move(item));
  }
  if (accepted.empty()) return;

  std::vector<TSxShellItem*> shown;
  TSxItemBatch copies;
  const bool filter = FilterActive();
  if (filter) {
    TSxRegEx regex;
    regex.SetIgnoreCase(true);
    regex.SetMatchPatternFromMasks(FFileFilter);
    for (auto& item : accepted)
      if (MatchesFilter(regex, *item)) copies.push_back(CopyItem(FController, *item));
  }
  // The batch comes in the shell's order, reversed when read descending:
  // it goes at the end of the ascending items, or at their start.
  auto place = [this](TSxShellItemList& list, TSxItemBatch& batch) {
    auto& v = list.List();
    if (FLoadDescending) {
      std::reverse(batch.begin(), batch.end());
      v.insert(v.begin(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
    } else {
      v.insert(v.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
    }
  };
  TSxItemBatch& visible = filter ? copies : accepted;
  const int added = static_cast<int>(visible.size());
  if (filter) place(FShellItems, accepted);
  if (added == 0) return;
  // Rows at the start of the items show at the top when ascending.
  const bool atStart = FLoadDescending;
  const int first = atStart == SortAscending ? 0 : FRowCount;
  {
    TSxBusy busy(FUpdating);
    FModel->BeginInsert(first, first + added - 1);
    place(filter ? FFilteredItems : FShellItems, visible);
    FRowCount += added;
    FModel->EndInsert();
    if (SortColumn != 0) Reorder([this] { SortList(CurrentList()); });
  }
  if (!FSelectWhenLoaded.empty()) SelectItemByName(FSelectWhenLoaded);
}

void TSxCustomShellListView::Reloaded() {
  FReloading = false;
  const int focusedRow = FocusedRow();
  TSxShellItem* focused = RowItem(focusedRow);
  const std::string focusedCaption = focused ? focused->DisplayName : std::string();
  std::set<std::string> selectedPaths;
  for (int row : SelectedRows())
    if (TSxShellItem* item = RowItem(row)) selectedPaths.insert(item->Path);

  TSxItemBatch items = std::move(FReloadItems);
  FReloadItems.clear();
  {
    TSxBusy busy(FUpdating);
    FModel->BeginReset();
    FShellItems.Clear();
    FFilteredItems.Clear();
    FSelectedItem = nullptr;
    FDropRow = -1;
    for (auto& item : items) {
      item->ListIndex = FShellItems.Count();
      if (DoFilterItem(item.get())) FShellItems.Add(std::move(item));
    }
    if (FilterActive()) {
      TSxRegEx regex;
      regex.SetIgnoreCase(true);
      regex.SetMatchPatternFromMasks(FFileFilter);
      for (auto& item : FShellItems.List())
        if (MatchesFilter(regex, *item)) FFilteredItems.Add(CopyItem(FController, *item));
    }
    if (SortColumn != 0) SortList(CurrentList());
    FRowCount = CurrentList().Count();
    FModel->EndReset();

    int row = focusedCaption.empty() ? -1 : RowByCaption(focusedCaption);
    if (row < 0 && focusedRow >= 0) row = std::min(focusedRow, FRowCount - 1);
    if (row >= 0) {
      SetFocusedRow(row);
      ActiveView()->scrollTo(FModel->index(row, 0));
    }
    if (!selectedPaths.empty())
      for (int r = 0; r < FRowCount; ++r)
        if (selectedPaths.count(RowItem(r)->Path)) SelectRow(r);
  }
  SelectionChanged();
  if (FReloadPending) {
    FReloadPending = false;
    Redisplay(true);
  }
}

void TSxCustomShellListView::Redisplay(bool Reenumerate) {
  if (Reenumerate) {
    // Read again in the background; the rows shown stay until the new ones
    // are there. Changes meanwhile lead to one more reading after it.
    if (Loading()) {
      FReloadPending = true;
      return;
    }
    StartLoad(true);
    return;
  }
  const int focusedRow = FocusedRow();
  TSxShellItem* focused = RowItem(focusedRow);
  const std::string caption = focused ? focused->DisplayName : std::string();
  {
    TSxBusy busy(FUpdating);
    setUpdatesEnabled(false);
    FModel->BeginReset();
    FSelectedItem = nullptr;
    SortList(CurrentList());
    FRowCount = CurrentList().Count();
    FModel->EndReset();
    int row = caption.empty() ? -1 : RowByCaption(caption);
    if (row < 0 && focusedRow >= 0) row = std::min(focusedRow, FRowCount - 1);
    if (row >= 0) {
      SetFocusedRow(row);
      ActiveView()->scrollTo(FModel->index(row, 0));
    }
    setUpdatesEnabled(true);
  }
  SelectionChanged();
}

void TSxCustomShellListView::ApplyFileFilter() {
  FFilteredItems.Clear();
  TSxRegEx regex;
  regex.SetIgnoreCase(true);
  regex.SetMatchPatternFromMasks(FFileFilter);
  for (auto& item : FShellItems.List())
    if (MatchesFilter(regex, *item)) FFilteredItems.Add(CopyItem(FController, *item));
  Redisplay(false);
}

void TSxCustomShellListView::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (!FCurrentFolder || FNotifier->Active()) return;
  const bool stale = FStale;
  FStale = false;
  if (stale) RefreshList();
  FNotifier->SetActive(true);
}

void TSxCustomShellListView::hideEvent(QHideEvent* Event) {
  QWidget::hideEvent(Event);
  if (!FNotifier->Active() || isVisible()) return;
  FNotifier->SetActive(false);
  FStale = true;
}

void TSxCustomShellListView::RefreshList() {
  if (!FCurrentFolder) return;
  auto copy = std::make_unique<TSxShellFolder>(FController);
  copy->Assign(*FCurrentFolder);
  FillList(copy.get());
}

void TSxCustomShellListView::AddColumns(TSxShellFolder* Folder) {
  std::vector<TSxListColumn> columns;
  const auto caption = [this](int code) { return FCaptions[static_cast<std::size_t>(code - 230)]; };
  if (IsTrash(Folder)) {
    // The trash tells its own details, as a folder with shell details does:
    // their texts sort as texts.
    TypedSort = Folder->IsFileSystem;
    columns = {{caption(230), 125}, {caption(237), 125}, {caption(238), 100}, {caption(232), 125}, {caption(231), 60, true}};
    ColumnsAdded = true;
  } else {
    TypedSort = true;
    if (Folder && (Folder->IsFolder || !Folder->ParentFolder))
      columns = {{caption(230), 175}, {caption(231), 75, true}, {caption(232), 125}, {caption(233), 125}, {caption(234), 60}};
    else
      columns = {{caption(230), 175}};
  }
  FModel->SetColumns(std::move(columns));
  for (std::size_t c = 0; c < FColumns.size(); ++c)
    FReportView->header()->resizeSection(static_cast<int>(c), FColumns[c].Width);
}

void TSxCustomShellListView::AppendItem(std::unique_ptr<TSxShellItem> Item) {
  // After the items: shown last, or first when reversed.
  const int row = SortAscending ? FRowCount : 0;
  FModel->BeginInsert(row, row);
  FShellItems.Add(std::move(Item));
  ++FRowCount;
  FModel->EndInsert();
}

void TSxCustomShellListView::AddListItem(TSxShellItem* Item) {
  if (Item) SxFillSubItems(*Item, *FTypeNames, FTexts, FTrash);
}

// ---------------------------------------------------------------- sorting

void TSxCustomShellListView::SortList(TSxShellItemList& List) {
  auto& items = List.List();
  if (items.size() < 2) return;
  struct TEntry {
    std::size_t Index;
    TSxShellItem* Item;
    TSxNameKey Key;
    int Rank = 0;
  };
  std::vector<TEntry> entries;
  entries.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) entries.push_back({i, items[i].get(), {}});
  const int column = SortColumn;
  std::function<bool(const TEntry&, const TEntry&)> less;
  // Texts compared by the locale are ranked once: there are few of them.
  auto rank = [&entries](const std::function<std::string(const TSxShellItem&)>& text,
                         int (*compare)(const std::string&, const std::string&)) {
    std::vector<std::string> distinct;
    for (const TEntry& e : entries) distinct.push_back(text(*e.Item));
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::stable_sort(distinct.begin(), distinct.end(),
                     [compare](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
    std::map<std::string, int> ranks;
    int r = 0;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
      if (i > 0 && compare(distinct[i - 1], distinct[i]) != 0) ++r;
      ranks[distinct[i]] = r;
    }
    for (TEntry& e : entries) e.Rank = ranks[text(*e.Item)];
  };
  if (!TypedSort && column != 0) {
    less = [column](const TEntry& a, const TEntry& b) { return CompareBySubItem(*a.Item, *b.Item, column) < 0; };
  } else if (column == 0) {
    for (TEntry& e : entries) e.Key = SxNameKey(e.Item->RelativeIDList.Component(0), e.Item->IsFolder);
    less = [](const TEntry& a, const TEntry& b) { return SxCompareNameKeys(a.Key, b.Key) < 0; };
  } else if (column == 1) {
    less = [](const TEntry& a, const TEntry& b) { return CompareBySize(*a.Item, *b.Item) < 0; };
  } else if (column == 2) {
    if (HasOption(loSortTypeByExt))
      rank([](const TSxShellItem& i) { return SxExtensionOf(i.Path); }, SxAnsiCompareStr);
    else
      rank([](const TSxShellItem& i) { return i.SubItems.size() > 1 ? i.SubItems[1] : std::string(); },
           SxAnsiCompareText);
    less = [](const TEntry& a, const TEntry& b) {
      if (a.Item->IsFolder != b.Item->IsFolder) return a.Item->IsFolder;
      if (a.Item->IsFolder) return CompareText(a.Item->DisplayName, b.Item->DisplayName) < 0;
      return a.Rank < b.Rank;
    };
  } else if (column == 3) {
    less = [](const TEntry& a, const TEntry& b) { return CompareByDate(*a.Item, *b.Item) < 0; };
  } else if (column == 4) {
    less = [](const TEntry& a, const TEntry& b) { return CompareByAttributes(*a.Item, *b.Item, 4) < 0; };
  } else {
    less = [column](const TEntry& a, const TEntry& b) { return CompareBySubItem(*a.Item, *b.Item, column) < 0; };
  }
  std::sort(entries.begin(), entries.end(), less);
  TSxShellItemList::TItems sorted;
  sorted.reserve(items.size());
  for (const TEntry& e : entries) sorted.push_back(std::move(items[e.Index]));
  items = std::move(sorted);
}

void TSxCustomShellListView::SortItems() { Reorder([this] { SortList(CurrentList()); }); }

void TSxCustomShellListView::Reorder(const std::function<void()>& Change) {
  TSxBusy busy(FUpdating);
  FModel->Reorder(Change);
}

void TSxCustomShellListView::ColClick(int Column) {
  if (Column != SortColumn) {
    Reorder([this, Column] {
      SortAscending = true;
      SortColumn = Column;
      SortList(CurrentList());
    });
  } else {
    // The same column again shows the other way round, without sorting.
    Reorder([] { SortAscending = !SortAscending; });
  }
  ActiveView()->viewport()->update();
  RebuildSelectedItems();
}

// ---------------------------------------------------------------- selection

void TSxCustomShellListView::RebuildSelectedItems() {
  FSelectedItems.Clear();
  for (int row : SelectedRows())
    if (TSxShellItem* item = RowItem(row)) FSelectedItems.Add(CopyItem(FController, *item));
}

void TSxCustomShellListView::SelectionChanged() {
  if (FUpdating) return;
  RebuildSelectedItems();
  FSelectedItem = FocusedItem();
  if (OnItemSelected) DoItemSelected(FSelectedItem);
}

void TSxCustomShellListView::Click() {
  RebuildSelectedItems();
  ActiveView()->viewport()->update();
  FSelectedItem = FocusedItem();
  if (OnItemSelected) DoItemSelected(FSelectedItem);
}

void TSxCustomShellListView::DoItemSelected(TSxShellItem* Item) {
  if (OnItemSelected) OnItemSelected(this, Item);
}

void TSxCustomShellListView::DoItemDblClick(TSxShellItem* Item, bool& DefaultAction) {
  if (OnItemDblClick) OnItemDblClick(this, Item, DefaultAction);
}

void TSxCustomShellListView::DoListFilled() {
  if (OnListFilled) OnListFilled(this);
}

void TSxCustomShellListView::DoShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events) {
  if (OnShellChangeNotify) OnShellChangeNotify(this, Old, New, Events);
}

// ---------------------------------------------------------------- changes

void TSxCustomShellListView::ShellChangeNotify(TSxShellItem* Old, TSxShellItem* New, TSxNotifyEventsSet Events) {
  if (FEditing) {
    // Kept for when the edit ends: dropping it would leave the list stale.
    FChangeDuringEdit = true;
    return;
  }
  if (!(Events & SxEventSet(neAttributesChange))) {
    Redisplay(true);
  } else if (Old) {
    for (TSxShellItemList* list : {&FShellItems, &FFilteredItems})
      for (auto& item : list->List())
        if (item->Path == Old->Path) {
          item->Size = -1;
          AddListItem(item.get());
          FModel->RowChanged(RowOf(item.get()));
        }
    DetailsLoaded = true;
  }
  DoShellChangeNotify(Old, New, Events);
}

void TSxCustomShellListView::EditEnded() {
  FEditing = false;
  if (FChangeDuringEdit) {
    FChangeDuringEdit = false;
    Redisplay(true);
  }
}

} // namespace sx
