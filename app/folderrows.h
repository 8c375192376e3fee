// The rows of a folder view's details list: one per listed picture file, in
// the list's display order, found by name. A row keeps typed values; its
// texts are made when they are shown, so that listing a large folder makes
// no text at all.
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace app {

struct TFolderRow {
  std::string Name;
  std::int64_t Size = 0;
  // Milliseconds since the epoch, shown in local time.
  std::int64_t Modified = 0;
  std::int64_t Created = 0;
  // -1 until the loader thread or a file update has read the header.
  int Width = -1;
  int Height = -1;
  int Bits = -1;
  // The header was read, or could not be read: the loader passes the row by.
  bool DetailsDone = false;
  bool Skipped = false;
  // Shown ghosted: remembered for a move.
  bool Cut = false;
  int IconIndex = -1;
};

// Columns of the details list.
enum TFolderColumn : int {
  fcName,
  fcSize,
  fcType,
  fcModified,
  fcDimensions,
  fcCreationDate,
  FolderColumnCount
};

// The date-time text of the list: the locale's short date and a time with
// seconds.
QString FolderDateTimeText(std::int64_t MSecsSinceEpoch);

class TFolderRows : public QAbstractTableModel {
public:
  TFolderRows() = default;

  int Count() const { return static_cast<int>(FRows.size()); }
  TFolderRow& Row(int Index) { return *FRows[static_cast<std::size_t>(Index)]; }
  const TFolderRow& Row(int Index) const { return *FRows[static_cast<std::size_t>(Index)]; }
  // The row of exactly this name (case matters); -1 when none.
  int IndexOf(const std::string& Name) const;

  // The rows go to the end with one insertion notice for all of them.
  void Append(std::vector<TFolderRow> Rows);
  void Remove(int Index);
  // Removes every row of Indexes (any order, repeats and strays ignored)
  // with one notice: a run of rows as one removal, scattered rows as one
  // change of layout, so that the lists lay out and repaint once.
  void RemoveRows(std::vector<int> Indexes);
  void Rename(int Index, const std::string& NewName);
  void Clear();
  // Every column of the row is shown again.
  void RowChanged(int Index);
  void RowsChanged(int First, int Last);

  // Sorts by one column as the list's header click asks: a stable sort,
  // descending by reversing the comparison.
  void SortByColumn(int Column, bool Ascending);
  // Negative, zero or positive: row A against row B by Column.
  int CompareRows(const TFolderRow& A, const TFolderRow& B, int Column) const;

  // The texts of the details list: sub-item 0 size, 1 type, 2 modified,
  // 3 dimensions, 4 creation date, 5 bits, 6 size in bytes, 7 skipped flag.
  QString SubItem(const TFolderRow& Row, int N) const;
  QString ColumnText(const TFolderRow& Row, int Column) const;

  // The icon of an image-list index; set by the folder view.
  std::function<QIcon(int)> IconOf;
  // A name edited in place in the list: answers whether the file took it.
  std::function<bool(const std::string& OldName, const std::string& NewName)> OnNameEdited;

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;
  bool setData(const QModelIndex& Index, const QVariant& Value, int Role = Qt::EditRole) override;

private:
  void Reindex(std::size_t From) const;
  int CompareText(const QString& A, const QString& B) const;

  // Indexes Key (a view of a row's own name) as the row at Index.
  void IndexName(std::string_view Key, int Index) const;

  std::vector<std::unique_ptr<TFolderRow>> FRows;
  // The keys view the rows' own names: a name is kept once. A row's name
  // leaves the index before it changes or goes.
  mutable std::unordered_map<std::string_view, int> FIndex;
  // Rows from here on have no current entry in FIndex.
  mutable std::size_t FIndexedUpTo = 0;
  QCollator FCollator = [] {
    QCollator C;
    C.setCaseSensitivity(Qt::CaseInsensitive);
    return C;
  }();
};

// Sorts names as the folder listing does (case-insensitive, the user's
// locale); answers the new order as indexes into Names.
std::vector<int> SortedNameOrder(const std::vector<std::string>& Names);

} // namespace app
