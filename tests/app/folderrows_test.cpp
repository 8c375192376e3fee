#include "app/folderrows.h"

#include <QDateTime>
#include <QItemSelectionModel>
#include <QLocale>
#include <gtest/gtest.h>

using namespace app;

namespace {

TFolderRow MakeRow(const std::string& Name, std::int64_t Size, std::int64_t Modified, int W = -1, int H = -1) {
  TFolderRow R;
  R.Name = Name;
  R.Size = Size;
  R.Modified = Modified;
  R.Created = Modified;
  R.Width = W;
  R.Height = H;
  return R;
}

std::vector<std::string> Order(const TFolderRows& Rows) {
  std::vector<std::string> Names;
  for (int I = 0; I < Rows.Count(); ++I) Names.push_back(Rows.Row(I).Name);
  return Names;
}

class FolderRowsTest : public ::testing::Test {
protected:
  void SetUp() override {
    QLocale::setDefault(QLocale::c());
    // Sizes whose texts sort the other way round than their bytes; areas
    // equal for b and c; d not yet filled.
    Rows.Append({MakeRow("b.png", 2048, 3000, 20, 10), MakeRow("A.jpg", 900, 1000, 30, 30),
                 MakeRow("c.gif", 10000, 2000, 10, 20), MakeRow("d.bmp", 100, 1500)});
  }
  TFolderRows Rows;
};

} // namespace

TEST_F(FolderRowsTest, SortsEachColumnAsTheDetailsListDoes) {
  struct TCase {
    int Column;
    bool Ascending;
    std::vector<std::string> Expected;
  };
  const TCase Cases[] = {
      // Names ignore case.
      {fcName, true, {"A.jpg", "b.png", "c.gif", "d.bmp"}},
      {fcName, false, {"d.bmp", "c.gif", "b.png", "A.jpg"}},
      // By bytes, not by the size text ("900 bytes" > "9.77 KB" as text).
      {fcSize, true, {"d.bmp", "A.jpg", "b.png", "c.gif"}},
      {fcModified, true, {"A.jpg", "d.bmp", "c.gif", "b.png"}},
      // Unfilled counts as area 0; equal areas fall back to the text
      // ("10 x 20" before "20 x 10").
      {fcDimensions, true, {"d.bmp", "c.gif", "b.png", "A.jpg"}},
      {fcDimensions, false, {"A.jpg", "b.png", "c.gif", "d.bmp"}},
      // Type descriptions: CompuServe, JPEG, Portable, Windows.
      {fcType, true, {"c.gif", "A.jpg", "b.png", "d.bmp"}},
  };
  for (const TCase& C : Cases) {
    Rows.SortByColumn(C.Column, C.Ascending);
    EXPECT_EQ(Order(Rows), C.Expected) << "column " << C.Column << (C.Ascending ? " up" : " down");
    // The index follows the new order.
    for (int I = 0; I < Rows.Count(); ++I) EXPECT_EQ(Rows.IndexOf(Rows.Row(I).Name), I);
  }
}

TEST_F(FolderRowsTest, NamesDifferingInCaseAreDifferentRows) {
  Rows.Append({MakeRow("a.jpg", 1, 1)});
  EXPECT_EQ(Rows.IndexOf("A.jpg"), 1);
  EXPECT_EQ(Rows.IndexOf("a.jpg"), 4);
  EXPECT_EQ(Rows.IndexOf("B.PNG"), -1);
  Rows.Remove(1);
  EXPECT_EQ(Rows.IndexOf("A.jpg"), -1);
  EXPECT_EQ(Rows.IndexOf("a.jpg"), 3);
  Rows.Rename(0, "z.png");
  EXPECT_EQ(Rows.IndexOf("b.png"), -1);
  EXPECT_EQ(Rows.IndexOf("z.png"), 0);
}

TEST_F(FolderRowsTest, SubItemTexts) {
  TFolderRow R = MakeRow("x.JPG", 5000000000LL, 0, 640, 480);
  R.Bits = 24;
  EXPECT_EQ(Rows.SubItem(R, 0), "4.66 GB");
  EXPECT_EQ(Rows.SubItem(R, 1), "JPEG Bitmap");
  EXPECT_EQ(Rows.SubItem(R, 3), "640 x 480");
  EXPECT_EQ(Rows.SubItem(R, 5), "24 bits");
  EXPECT_EQ(Rows.SubItem(R, 6), "5000000000");
  EXPECT_EQ(Rows.SubItem(R, 7), "N");
  R.Skipped = true;
  R.Width = R.Height = R.Bits = -1;
  EXPECT_EQ(Rows.SubItem(R, 7), "Y");
  EXPECT_EQ(Rows.SubItem(R, 3), "");
  EXPECT_EQ(Rows.SubItem(R, 5), "");
  // Local time, to the second.
  const std::int64_t T = 1700000000123LL;
  EXPECT_TRUE(FolderDateTimeText(T).endsWith(" " + QDateTime::fromMSecsSinceEpoch(T).toString("HH:mm:ss")));
}

TEST(SortedNameOrderTest, CaseInsensitiveAndStable) {
  const std::vector<std::string> Names = {"b.png", "B.png", "a10.jpg", "A2.jpg", "c.gif"};
  const std::vector<int> Order = SortedNameOrder(Names);
  std::vector<std::string> Sorted;
  for (int I : Order) Sorted.push_back(Names[static_cast<std::size_t>(I)]);
  EXPECT_EQ(Sorted, (std::vector<std::string>{"a10.jpg", "A2.jpg", "b.png", "B.png", "c.gif"}));
}

// Scattered rows go in one change of layout, a run of rows in one removal;
// either way the rows left keep their order, their lookup and the list's
// selection and current row, and strays or repeats change nothing.
TEST(FolderRowsRemoveTest, ManyRowsAtOnceKeepTheRestAndTheirSelection) {
  TFolderRows Rows;
  std::vector<TFolderRow> Batch;
  for (int I = 0; I < 10; ++I) Batch.push_back(MakeRow("r" + std::to_string(I) + ".png", I, 0));
  Rows.Append(std::move(Batch));
  QItemSelectionModel Selection(&Rows);
  Selection.select(Rows.index(4, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  Selection.select(Rows.index(7, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  Selection.setCurrentIndex(Rows.index(7, 0), QItemSelectionModel::NoUpdate);
  int Layouts = 0, Removals = 0;
  QObject::connect(&Rows, &QAbstractItemModel::layoutChanged, [&] { ++Layouts; });
  QObject::connect(&Rows, &QAbstractItemModel::rowsRemoved, [&] { ++Removals; });

  Rows.RemoveRows({9, 0, 5, 5, 2, -1, 10, 7});
  EXPECT_EQ(Order(Rows), (std::vector<std::string>{"r1.png", "r3.png", "r4.png", "r6.png", "r8.png"}));
  EXPECT_EQ(Layouts, 1);
  EXPECT_EQ(Removals, 0);
  EXPECT_EQ(Rows.IndexOf("r6.png"), 3);
  EXPECT_EQ(Rows.IndexOf("r7.png"), -1);
  EXPECT_EQ(Rows.IndexOf("r9.png"), -1);
  // r4 stays selected where it is now; r7 went with its selection.
  const QModelIndexList Selected = Selection.selectedRows();
  ASSERT_EQ(Selected.size(), 1);
  EXPECT_EQ(Selected.front().row(), 2);
  EXPECT_FALSE(Selection.currentIndex().isValid());

  Rows.RemoveRows({1, 2});
  EXPECT_EQ(Order(Rows), (std::vector<std::string>{"r1.png", "r6.png", "r8.png"}));
  EXPECT_EQ(Removals, 1);
  EXPECT_EQ(Layouts, 1);
  EXPECT_EQ(Rows.IndexOf("r8.png"), 2);
  EXPECT_TRUE(Selection.selectedRows().isEmpty());
  Rows.RemoveRows({});
  Rows.RemoveRows({5});
  EXPECT_EQ(Rows.Count(), 3);
}
