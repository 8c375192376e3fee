#include "app/folderrows.h"

#include "app/genutil.h"
#include "app/pictureutil.h"

#include <QCollatorSortKey>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace app {

QString FolderDateTimeText(std::int64_t MSecsSinceEpoch) {
  const QDateTime Time = QDateTime::fromMSecsSinceEpoch(MSecsSinceEpoch);
  const QLocale Locale;
  return Locale.toString(Time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         Time.time().toString(QStringLiteral("HH:mm:ss"));
}

int TFolderRows::IndexOf(const std::string& Name) const {
  auto Found = FIndex.find(Name);
  if (Found != FIndex.end() && static_cast<std::size_t>(Found->second) < FIndexedUpTo) return Found->second;
  if (FIndexedUpTo < FRows.size()) {
    Reindex(FIndexedUpTo);
    Found = FIndex.find(Name);
    if (Found != FIndex.end()) return Found->second;
  }
  return -1;
}

void TFolderRows::IndexName(std::string_view Key, int Index) const {
  // A key of the same text may view another row's name: the entry is made
  // anew, with the key of the row it finds.
  FIndex.erase(Key);
  FIndex.emplace(Key, Index);
}

void TFolderRows::Reindex(std::size_t From) const {
  for (std::size_t I = From; I < FRows.size(); ++I) IndexName(FRows[I]->Name, static_cast<int>(I));
  FIndexedUpTo = FRows.size();
}

void TFolderRows::Append(std::vector<TFolderRow> Rows) {
  if (Rows.empty()) return;
  const int First = Count();
  beginInsertRows(QModelIndex(), First, First + static_cast<int>(Rows.size()) - 1);
  // Batches come one after another: the room grows by halves, not by
  // exactly each batch.
  if (FRows.capacity() < FRows.size() + Rows.size())
    FRows.reserve(std::max(FRows.size() + Rows.size(), FRows.capacity() * 3 / 2));
  for (TFolderRow& R : Rows) FRows.push_back(std::make_unique<TFolderRow>(std::move(R)));
  endInsertRows();
}

void TFolderRows::Remove(int Index) {
  if (Index < 0 || Index >= Count()) return;
  beginRemoveRows(QModelIndex(), Index, Index);
  FIndex.erase(FRows[static_cast<std::size_t>(Index)]->Name);
  FRows.erase(FRows.begin() + Index);
  FIndexedUpTo = std::min(FIndexedUpTo, static_cast<std::size_t>(Index));
  endRemoveRows();
}

void TFolderRows::RemoveRows(std::vector<int> Indexes) {
  Indexes.erase(std::remove_if(Indexes.begin(), Indexes.end(), [this](int I) { return I < 0 || I >= Count(); }),
                Indexes.end());
  std::sort(Indexes.begin(), Indexes.end());
  Indexes.erase(std::unique(Indexes.begin(), Indexes.end()), Indexes.end());
  if (Indexes.empty()) return;
  const int First = Indexes.front(), Last = Indexes.back();
  if (Last - First + 1 == static_cast<int>(Indexes.size())) {
    beginRemoveRows(QModelIndex(), First, Last);
    for (int I : Indexes) FIndex.erase(FRows[static_cast<std::size_t>(I)]->Name);
    FRows.erase(FRows.begin() + First, FRows.begin() + Last + 1);
    FIndexedUpTo = std::min(FIndexedUpTo, static_cast<std::size_t>(First));
    endRemoveRows();
    return;
  }
  emit layoutAboutToBeChanged();
  // Where each old row ends up; -1: removed.
  std::vector<int> NewRow(FRows.size());
  int Next = 0;
  for (std::size_t I = 0, K = 0; I < FRows.size(); ++I) {
    const bool Gone = K < Indexes.size() && Indexes[K] == static_cast<int>(I);
    if (Gone) ++K;
    NewRow[I] = Gone ? -1 : Next++;
  }
  const QModelIndexList Before = persistentIndexList();
  QModelIndexList After;
  After.reserve(Before.size());
  for (const QModelIndex& I : Before) {
    const int Row = NewRow[static_cast<std::size_t>(I.row())];
    After.push_back(Row < 0 ? QModelIndex() : index(Row, I.column()));
  }
  std::size_t Kept = 0;
  for (std::size_t I = 0; I < FRows.size(); ++I)
    if (NewRow[I] >= 0) FRows[Kept++] = std::move(FRows[I]);
  FRows.resize(Kept);
  FIndex.clear();
  FIndexedUpTo = 0;
  Reindex(0);
  changePersistentIndexList(Before, After);
  emit layoutChanged();
}

void TFolderRows::Rename(int Index, const std::string& NewName) {
  if (Index < 0 || Index >= Count()) return;
  TFolderRow& R = Row(Index);
  FIndex.erase(R.Name);
  R.Name = NewName;
  if (static_cast<std::size_t>(Index) < FIndexedUpTo) IndexName(R.Name, Index);
  RowChanged(Index);
}

void TFolderRows::Clear() {
  beginResetModel();
  FRows.clear();
  FIndex.clear();
  FIndexedUpTo = 0;
  endResetModel();
}

void TFolderRows::RowChanged(int Index) { RowsChanged(Index, Index); }

void TFolderRows::RowsChanged(int First, int Last) {
  if (First < 0 || Last >= Count() || First > Last) return;
  emit dataChanged(index(First, 0), index(Last, FolderColumnCount - 1));
}

// Folding first keeps the order case-insensitive where the locale's
// collation is not (the C locale compares bytes).
int TFolderRows::CompareText(const QString& A, const QString& B) const {
  return FCollator.compare(A.toCaseFolded(), B.toCaseFolded());
}

int TFolderRows::CompareRows(const TFolderRow& A, const TFolderRow& B, int Column) const {
  switch (Column) {
  case fcSize:
    return A.Size < B.Size ? -1 : (A.Size > B.Size ? 1 : 0);
  case fcModified:
  case fcCreationDate: {
    // Equal within one millisecond.
    const std::int64_t TA = Column == fcModified ? A.Modified : A.Created;
    const std::int64_t TB = Column == fcModified ? B.Modified : B.Created;
    return TA < TB ? -1 : (TA > TB ? 1 : 0);
  }
  case fcDimensions: {
    // A row not yet filled counts as area 0 rather than failing to parse.
    const std::int64_t AreaA = A.Width > 0 && A.Height > 0 ? std::int64_t(A.Width) * A.Height : 0;
    const std::int64_t AreaB = B.Width > 0 && B.Height > 0 ? std::int64_t(B.Width) * B.Height : 0;
    if (AreaA != AreaB) return AreaA < AreaB ? -1 : 1;
    return CompareText(ColumnText(A, Column), ColumnText(B, Column));
  }
  default:
    return CompareText(ColumnText(A, Column), ColumnText(B, Column));
  }
}

void TFolderRows::SortByColumn(int Column, bool Ascending) {
  emit layoutAboutToBeChanged();
  const QModelIndexList Before = persistentIndexList();
  std::vector<const TFolderRow*> Old;
  Old.reserve(Before.size());
  for (const QModelIndex& I : Before) Old.push_back(FRows[static_cast<std::size_t>(I.row())].get());

  // Text columns compare by sort keys made once per row, not per comparison.
  const bool ByText = Column == fcName || Column == fcType;
  if (ByText) {
    std::vector<std::pair<QCollatorSortKey, std::unique_ptr<TFolderRow>>> Keyed;
    Keyed.reserve(FRows.size());
    for (auto& R : FRows) Keyed.emplace_back(FCollator.sortKey(ColumnText(*R, Column).toCaseFolded()), std::move(R));
    std::stable_sort(Keyed.begin(), Keyed.end(), [Ascending](const auto& A, const auto& B) {
      return Ascending ? A.first.compare(B.first) < 0 : B.first.compare(A.first) < 0;
    });
    for (std::size_t I = 0; I < Keyed.size(); ++I) FRows[I] = std::move(Keyed[I].second);
  } else {
    std::stable_sort(FRows.begin(), FRows.end(), [&](const auto& A, const auto& B) {
      return Ascending ? CompareRows(*A, *B, Column) < 0 : CompareRows(*B, *A, Column) < 0;
    });
  }
  FIndex.clear();
  FIndexedUpTo = 0;
  Reindex(0);

  QModelIndexList After;
  After.reserve(Before.size());
  for (int I = 0; I < Before.size(); ++I)
    After.push_back(index(FIndex.at(Old[static_cast<std::size_t>(I)]->Name), Before[I].column()));
  changePersistentIndexList(Before, After);
  emit layoutChanged();
}

QString TFolderRows::SubItem(const TFolderRow& Row, int N) const {
  switch (N) {
  case 0:
    return QString::fromStdString(FormatByteSize(static_cast<std::uint64_t>(std::max<std::int64_t>(Row.Size, 0))));
  case 1:
    return QString::fromStdString(GetImageTypeDescription(Row.Name));
  case 2:
    return FolderDateTimeText(Row.Modified);
  case 3:
    return Row.Width >= 0 ? QString::number(Row.Width) + QStringLiteral(" x ") + QString::number(Row.Height)
                          : QString();
  case 4:
    return FolderDateTimeText(Row.Created);
  case 5:
    return Row.Bits >= 0 ? QString::number(Row.Bits) + QStringLiteral(" bits") : QString();
  case 6:
    return QString::number(Row.Size);
  case 7:
    return Row.Skipped ? QStringLiteral("Y") : QStringLiteral("N");
  default:
    return QString();
  }
}

QString TFolderRows::ColumnText(const TFolderRow& Row, int Column) const {
  return Column == fcName ? QString::fromStdString(Row.Name) : SubItem(Row, Column - 1);
}

int TFolderRows::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : Count(); }

int TFolderRows::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FolderColumnCount; }

QVariant TFolderRows::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= Count()) return QVariant();
  const TFolderRow& R = Row(Index.row());
  switch (Role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    return ColumnText(R, Index.column());
  case Qt::DecorationRole:
    if (Index.column() == fcName && IconOf && R.IconIndex >= 0) {
      const QIcon Icon = IconOf(R.IconIndex);
      // The list's cut look: the icon drawn as disabled.
      return R.Cut ? QIcon(Icon.pixmap(16, 16, QIcon::Disabled)) : Icon;
    }
    return QVariant();
  case Qt::TextAlignmentRole:
    if (Index.column() == fcSize) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
  default:
    return QVariant();
  }
}

QVariant TFolderRows::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal) return QVariant();
  if (Role == Qt::TextAlignmentRole && Section == fcSize) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (Role != Qt::DisplayRole) return QVariant();
  static const char* const Captions[FolderColumnCount] = {"Name", "Size", "Type", "Modified", "Dimensions",
                                                          "Creation Date"};
  return Section >= 0 && Section < FolderColumnCount ? QString::fromLatin1(Captions[Section]) : QVariant();
}

bool TFolderRows::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
  if (Role != Qt::EditRole || !Index.isValid() || Index.column() != fcName || Index.row() >= Count()) return false;
  // The handler renames the file and, through the folder view, the row.
  const std::string OldName = Row(Index.row()).Name;
  // While the editor's text reads as the name shown, it is that name, unchanged.
  return OnNameEdited && OnNameEdited(OldName, FileNameOfText(Value.toString(), OldName));
}

Qt::ItemFlags TFolderRows::flags(const QModelIndex& Index) const {
  if (!Index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags Flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
  if (Index.column() == fcName) Flags |= Qt::ItemIsEditable;
  return Flags;
}

std::vector<int> SortedNameOrder(const std::vector<std::string>& Names) {
  QCollator Collator;
  Collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::vector<QCollatorSortKey> Keys;
  Keys.reserve(Names.size());
  for (const std::string& N : Names) Keys.push_back(Collator.sortKey(QString::fromStdString(N).toCaseFolded()));
  std::vector<int> Order(Names.size());
  std::iota(Order.begin(), Order.end(), 0);
  std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) {
    return Keys[static_cast<std::size_t>(A)].compare(Keys[static_cast<std::size_t>(B)]) < 0;
  });
  return Order;
}

} // namespace app
