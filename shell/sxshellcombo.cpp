#include "shell/sxshellcombo.h"

#include "shell/sxshelllist.h"
#include "shell/sxshelltree.h"
#include "shell/sxguards.h"

#include <QtGui/QPainter>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QStyledItemDelegate>

#include <algorithm>

namespace sx {

namespace {

// Draws an entry: indented 5 pixels plus 12 per level, the small icon, the
// name 3 pixels after it; a selected entry has its name boxed in the
// highlight colour with a focus frame.
class TSxComboDelegate : public QStyledItemDelegate {
public:
  explicit TSxComboDelegate(TSxCustomShellComboBox* combo) : QStyledItemDelegate(combo), C(combo) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painter->save();
    painter->fillRect(option.rect, option.palette.color(QPalette::Base));
    const TSxShellFolder* folder = C->FolderAt(index.row());
    const int indent = 5 + 12 * TSxCustomShellComboBox::Indent(folder);
    const int size = C->Controller() ? C->Controller()->SmallImages.Height : 16;
    const QRect icon(option.rect.left() + indent, option.rect.top() + (option.rect.height() - size) / 2, size, size);
    if (folder) {
      const QIcon image = TSxSystemImageList::Instance().Icon(folder->IconIndex);
      painter->drawPixmap(icon, image.pixmap(size, size));
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const QFontMetrics metrics(option.font);
    QRect textRect(icon.right() + 1 + 3, option.rect.top(), metrics.horizontalAdvance(text) + 4, option.rect.height());
    textRect.setRight(std::min(textRect.right(), option.rect.right()));
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) painter->fillRect(textRect, option.palette.color(QPalette::Highlight));
    painter->setFont(option.font);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text);
    if (selected) {
      painter->setPen(QPen(option.palette.color(QPalette::HighlightedText), 1, Qt::DotLine));
      painter->drawRect(textRect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const TSxShellFolder* folder = C->FolderAt(index.row());
    const QFontMetrics metrics(option.font);
    return QSize(5 + 12 * TSxCustomShellComboBox::Indent(folder) + 16 + 3 +
                     metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + 8,
                 C->ItemHeight());
  }

private:
  TSxCustomShellComboBox* C;
};

} // namespace

TSxCustomShellComboBox::TSxCustomShellComboBox(QWidget* Parent)
    : QComboBox(Parent), FShellVersion(SxShellVersion()) {
  setItemDelegate(new TSxComboDelegate(this));
  setIconSize(QSize(16, 16));
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(20);
  FControllerRef = std::make_shared<TSxCustomShellController>();
  FController = FControllerRef.get();
  FController->ComboBox = this;
  connect(this, QOverload<int>::of(&QComboBox::activated), this, [this](int index) { Choose(index); });

  FNotifier = std::make_unique<TSxShellNotification>();
  FNotifier->SetSpecialWatchFolder(sfDesktop);
  FNotifier->SetNotifyEvents(SxEventSet(neDriveAdd) | SxEventSet(neDriveRemove) | SxEventSet(neShellDriveAdd));
  FNotifier->OnShellChangeNotify = [this](TSyComponent*, TSxShellItem*, TSxShellItem*, TSxNotifyEventsSet) {
    DrivesChanged();
  };
  FNotifier->SetActive(true);
  Fill();
}

TSxCustomShellComboBox::~TSxCustomShellComboBox() {
  FNotifier.reset();
  if (FController && FController->ComboBox == this) FController->ComboBox = nullptr;
  if (FListView && FListView->ComboBox() == this) FListView->SetComboBox(nullptr);
  Folders.Clear();
}

TSxCustomShellListView* TSxCustomShellComboBox::ListView() const { return FListView.data(); }

void TSxCustomShellComboBox::SetListView(TSxCustomShellListView* Value) {
  if (Value == FListView) return;
  FListView = Value;
  if (!Value) return;
  // The combo box takes the list's controller.
  if (Value->SharedController() && Value->SharedController().get() != FController) {
    if (FController->ComboBox == this) FController->ComboBox = nullptr;
    FFormerControllers.push_back(FControllerRef);
    FControllerRef = Value->SharedController();
    FController = FControllerRef.get();
    FController->ComboBox = this;
    Fill();
  }
  if (Value->ComboBox() != this) Value->SetComboBox(this);
}

TSxShellFolder* TSxCustomShellComboBox::FolderAt(int Index) const {
  if (Index < 0 || Index >= Folders.Count()) return nullptr;
  return Folders.Items(Index);
}

void TSxCustomShellComboBox::AddFolder(std::unique_ptr<TSxShellFolder> Folder) { Folders.Add(std::move(Folder)); }

void TSxCustomShellComboBox::InsertEntry(int Index, std::unique_ptr<TSxShellFolder> Folder) {
  const QString text = QString::fromStdString(Folder->DisplayName);
  const QIcon icon = TSxSystemImageList::Instance().Icon(Folder->IconIndex);
  auto& list = Folders.List();
  list.insert(list.begin() + Index, std::move(Folder));
  insertItem(Index, icon, text);
}

void TSxCustomShellComboBox::RemoveEntry(int Index) {
  auto& list = Folders.List();
  list.erase(list.begin() + Index);
  removeItem(Index);
}

void TSxCustomShellComboBox::Fill() {
  TSxBusy busy(FUpdating);
  FItemHeight = std::max(FController->SmallImages.Height, fontMetrics().boundingRect(QStringLiteral("Aj")).height());
  Folders.Clear();
  auto desktop = TSxShellFolder::CreateFromIDList(TSxItemIDList(), FController);
  desktop->GetIconIndex();
  desktop->Value1 = 0;
  Folders.Add(std::move(desktop));
  FController->ComboBox = this;
  auto enumerate = [this](const TSxItemIDList& list, int indent) {
    const int before = Folders.Count();
    FController->EnumerateFolder(list, ekCombo);
    for (int i = before; i < Folders.Count(); ++i) Folders.Items(i)->Value1 = indent;
  };
  enumerate(TSxItemIDList(), 1);
  const TSxItemIDList drives = *SHGetSpecialFolderLocation(17);
  enumerate(drives, 2);
  auto& list = Folders.List();
  if (FListView && FListView->OpenDialogMode) {
    for (int i = static_cast<int>(list.size()) - 1; i > 0; --i) {
      const TSxShellFolder* f = list[static_cast<std::size_t>(i)].get();
      if (!f->IsFileSystem && !ILIsEqual(f->AbsoluteIDList, drives)) list.erase(list.begin() + i);
    }
  }
  // The desktop's order puts each entry after its parent.
  std::stable_sort(list.begin() + 1, list.end(), [this](const auto& a, const auto& b) {
    return FController->DesktopFolder->CompareIDs(0, a->AbsoluteIDList, b->AbsoluteIDList) < 0;
  });
  clear();
  for (const auto& f : list)
    addItem(TSxSystemImageList::Instance().Icon(f->IconIndex), QString::fromStdString(f->DisplayName));
  // With a list the entry comes from the folder it shows.
  setCurrentIndex(FListView ? -1 : 0);
}

std::string TSxCustomShellComboBox::LevelName(const TSxItemIDList& List) const {
  return SxDisplayNameOf(List, SHGDN_NORMAL);
}

void TSxCustomShellComboBox::ShowPath(TSxShellFolder* Folder) {
  if (!Folder) return;
  TSxBusy busy(FUpdating);
  const QString name = QString::fromStdString(Folder->DisplayName);
  for (int i = count() - 1; i >= 0; --i) {
    if (!Temporary(FolderAt(i))) {
      if (itemText(i) == name) return;
      continue;
    }
    RemoveEntry(i);
  }
  const int depth = Folder->AbsoluteIDList.Count();
  // The anchor: the nearest ancestor that has an entry. The search ends
  // with the desktop, or when no identifier is left to drop.
  TSxItemIDList level = ILClone(Folder->AbsoluteIDList);
  std::string anchorName;
  int insertAt = count() > 0 ? 1 : 0;
  const std::string desktopName = LevelName(TSxItemIDList());
  while (ILRemoveLastID(level)) {
    const std::string levelName = LevelName(level);
    const int found = findText(QString::fromStdString(levelName), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found >= 0) {
      anchorName = levelName;
      insertAt = found + 1;
      break;
    }
    if (levelName == desktopName) break;
  }
  level = ILClone(Folder->AbsoluteIDList);
  for (int indent = depth; !level.IsEmpty(); --indent) {
    const std::string levelName = LevelName(level);
    if (levelName.empty() || levelName == anchorName) break;
    auto entry = TSxShellFolder::CreateFromIDList(level, FController);
    entry->GetIconIndex();
    entry->Value1 = indent;
    entry->Value2 = 1;
    InsertEntry(insertAt, std::move(entry));
    ILRemoveLastID(level);
  }
  SelectByPath(*Folder);
  update();
}

int TSxCustomShellComboBox::IndexOfPath(const std::string& Path) const {
  for (int i = 0; i < Folders.Count(); ++i)
    if (FolderAt(i) && FolderAt(i)->Path == Path) return i;
  return -1;
}

void TSxCustomShellComboBox::SelectByPath(const TSxShellItem& Folder) {
  TSxBusy busy(FUpdating);
  for (int i = 0; i < Folders.Count(); ++i)
    if (FolderAt(i) && FolderAt(i)->Path == Folder.Path) {
      setCurrentIndex(i);
      FChosen = i;
      return;
    }
}

void TSxCustomShellComboBox::SetFolder(TSxShellFolder* Folder, bool SelectOnly) {
  if (!Folder) return;
  auto remember = [this, Folder] {
    FPrevious = std::make_unique<TSxShellFolder>(FController);
    FPrevious->Assign(*Folder);
  };
  if (SelectOnly) {
    DoFolderChanging(FPrevious.get());
    const int i = findText(QString::fromStdString(Folder->DisplayName), Qt::MatchExactly | Qt::MatchCaseSensitive);
    {
      TSxBusy busy(FUpdating);
      if (i >= 0) setCurrentIndex(i);
    }
    remember();
    return;
  }
  DoFolderChanging(FPrevious.get());
  DoFolderSelected(Folder);
  remember();
  ShowPath(Folder);
  if (currentIndex() < 0) {
    TSxBusy busy(FUpdating);
    setCurrentIndex(findText(QString::fromStdString(Folder->DisplayName), Qt::MatchExactly | Qt::MatchCaseSensitive));
  }
}

void TSxCustomShellComboBox::Choose(int Index) {
  DoFolderChanging(FPrevious.get());
  TSxShellFolder* entry = FolderAt(Index);
  if (!entry) return;
  auto folder = std::make_unique<TSxShellFolder>(FController);
  folder->Assign(*entry);
  if (folder->DisplayName.empty()) folder->DisplayName = LevelName(TSxItemIDList());
  if (!folder->ParentFolder) folder->ParentFolder = FController->DesktopFolder;
  if (FListView) {
    FListView->FillList(folder.get());
    // A tree linked to the list follows too.
    if (TSxCustomShellTreeView* tree = FListView->TreeView()) {
      try {
        tree->SelectFolder(*folder, false);
      } catch (const ESyInvalidFolder&) {
      }
    }
  }
  ShowPath(folder.get());
  DoFolderSelected(folder.get());
  FPrevious = std::move(folder);
  FChosen = currentIndex();
}

void TSxCustomShellComboBox::DrivesChanged() {
  const QString text = currentText();
  const int index = currentIndex();
  Fill();
  if (FListView && FListView->CurrentFolder()) ShowPath(FListView->CurrentFolder());
  TSxBusy busy(FUpdating);
  const int again = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  setCurrentIndex(again >= 0 ? again : std::min(index, count() - 1));
}

void TSxCustomShellComboBox::DoFolderSelected(TSxShellFolder* Folder) {
  if (OnFolderSelected) OnFolderSelected(this, Folder);
}

void TSxCustomShellComboBox::DoFolderChanging(TSxShellFolder* Folder) {
  if (OnFolderChanging) OnFolderChanging(this, Folder);
}

} // namespace sx
