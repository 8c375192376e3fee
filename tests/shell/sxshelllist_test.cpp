#include "shell/sxfolderdrop.h"
#include "shell/sxshelllist.h"
#include "shell/sxtrash.h"
#include "shelltestenv.h"
#include "support/inotifywatches.h"

#include <gtest/gtest.h>

#include "support/fakemailprogram.h"

#include <QtCore/QFile>
#include <QtCore/QRegularExpression>
#include <QtTest/QTest>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListView>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTreeView>

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace sx;
using shelltest::TPrivateHome;
using shelltest::Exists;
using shelltest::WaitFor;

namespace {

void WriteFile(const std::string& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  const std::string block(4096, 'x');
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min(block.size(), size - done);
    out.write(block.data(), static_cast<std::streamsize>(n));
    done += n;
  }
}

class ShellList : public ::testing::Test {
protected:
  void SetUp() override {
    TSxCustomShellListView::SortColumn = 0;
    TSxCustomShellListView::SortAscending = true;
    Dir = Env.MakeDir("home/list");
    WriteFile(Dir + "/empty.qqzz", 0);
    WriteFile(Dir + "/one.qqzz", 1);
    WriteFile(Dir + "/mega.qqzz", 1048576);
    WriteFile(Dir + "/noext", 5);
    WriteFile(Dir + "/A.JPG", 300);
    WriteFile(Dir + "/a.png", 200);
    Env.MakeDir("home/list/sub1");
    Env.MakeDir("home/list/sub2");
    Env.MakeDir("home/list/sub3");
  }
  std::unique_ptr<TSxShellListView> MakeList(TViewStyle style = vsReport, const std::string& folder = {}) {
    auto list = std::make_unique<TSxShellListView>();
    list->resize(500, 400);
    list->Controller()->OnCommandError = [this](const std::string& text) { Errors.push_back(text); };
    list->SetViewStyle(style);
    list->SetRootFolder(folder.empty() ? Dir : folder);
    EXPECT_TRUE(WaitFor([&] { return !list->Loading(); }));
    return list;
  }
  static std::vector<std::string> Rows(TSxCustomShellListView& list) {
    std::vector<std::string> out;
    for (int r = 0; r < list.RowCount(); ++r) out.push_back(list.RowItem(r)->DisplayName);
    return out;
  }
  static int Row(TSxCustomShellListView& list, const std::string& name) { return list.RowByCaption(name); }
  TPrivateHome Env;
  std::string Dir;
  std::vector<std::string> Errors;
};

} // namespace

TEST_F(ShellList, ColumnTextsOfFilesAndFolders) {
  auto list = MakeList();
  ASSERT_EQ(list->Columns().size(), 5u);
  EXPECT_EQ(list->ReportView()->model()->headerData(3, Qt::Horizontal).toString(), "Modified");
  struct TCase {
    const char* Name;
    const char* Size;
    const char* Type;
  };
  const TCase cases[] = {
      {"empty.qqzz", "0KB", "QQZZ File"}, {"one.qqzz", "1KB", "QQZZ File"}, {"mega.qqzz", "1,024KB", "QQZZ File"},
      {"noext", "1KB", "File"},           {"A.JPG", "1KB", "JPEG image"}, {"sub1", "", "File Folder"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const int row = Row(*list, c.Name);
    ASSERT_GE(row, 0);
    const TSxShellItem* item = list->RowItem(row);
    ASSERT_EQ(item->SubItems.size(), 4u);
    EXPECT_EQ(item->SubItems[0], c.Size);
    EXPECT_EQ(item->SubItems[1], c.Type);
    EXPECT_FALSE(item->SubItems[2].empty());
    EXPECT_EQ(list->ReportView()->model()->data(list->ReportView()->model()->index(row, 1)).toString(), c.Size);
  }
  void* entry = nullptr;
  EXPECT_TRUE(list->TypeNames().Exists(".QQZZ", entry));  // cached, in any case
  EXPECT_EQ(list->TypeNames().HashSize(), 250);
}

TEST_F(ShellList, RowsArriveSortedByNameFoldersFirst) {
  auto list = MakeList(vsList);
  EXPECT_EQ(Rows(*list), (std::vector<std::string>{"sub1", "sub2", "sub3", "A.JPG", "a.png", "empty.qqzz", "mega.qqzz",
                                                   "noext", "one.qqzz"}));
  EXPECT_EQ(list->ShellItems().Count(), 9);
}

TEST_F(ShellList, HeaderClicksSortAndReverseWithoutResorting) {
  auto list = MakeList();
  // Right after the switch to details the list is by name, ascending: a
  // click on Name reverses it.
  list->ColClick(0);
  EXPECT_EQ(Rows(*list).front(), "one.qqzz");
  EXPECT_EQ(Rows(*list).back(), "sub1");
  list->ColClick(1);
  EXPECT_EQ(Rows(*list), (std::vector<std::string>{"sub1", "sub2", "sub3", "empty.qqzz", "one.qqzz", "noext", "a.png",
                                                   "A.JPG", "mega.qqzz"}));
  const TSxShellItem* first = list->CurrentList().Items(0);
  list->ColClick(1);
  // Reversed: the largest file first, the folders last; the items kept their order.
  EXPECT_EQ(Rows(*list).front(), "mega.qqzz");
  EXPECT_EQ(Rows(*list).back(), "sub1");
  EXPECT_EQ(list->CurrentList().Items(0), first);
  EXPECT_FALSE(TSxCustomShellListView::SortAscending);
  list->ColClick(0);
  EXPECT_EQ(Rows(*list).front(), "sub1");
  EXPECT_TRUE(TSxCustomShellListView::SortAscending);
  list->ColClick(2);
  EXPECT_EQ(Rows(*list), (std::vector<std::string>{"sub1", "sub2", "sub3", "noext", "A.JPG", "a.png", "empty.qqzz",
                                                   "mega.qqzz", "one.qqzz"}));
}

TEST_F(ShellList, FocusAndSelectionStayAcrossAHeaderClick) {
  auto list = MakeList();
  list->SelectRow(Row(*list, "one.qqzz"));
  list->SelectRow(Row(*list, "mega.qqzz"));
  list->SetFocusedRow(Row(*list, "mega.qqzz"));
  const int scroll = list->ReportView()->verticalScrollBar()->value();
  list->ColClick(1);
  EXPECT_EQ(list->RowItem(list->FocusedRow())->DisplayName, "mega.qqzz");
  std::vector<std::string> selected;
  for (int r : list->SelectedRows()) selected.push_back(list->RowItem(r)->DisplayName);
  EXPECT_EQ(selected, (std::vector<std::string>{"one.qqzz", "mega.qqzz"}));
  ASSERT_EQ(list->SelectedItems().Count(), 2);
  EXPECT_EQ(list->SelectedItems().Items(1)->DisplayName, "mega.qqzz");
  EXPECT_EQ(list->ReportView()->verticalScrollBar()->value(), scroll);
}

TEST_F(ShellList, FileFilterKeepsFoldersAndMatchesIgnoringCase) {
  auto list = MakeList(vsList);
  list->SetFileFilter("*.jpg;*.jpeg");
  EXPECT_EQ(list->RowCount(), 9);  // not filtered yet
  list->SetFiltered(true);
  EXPECT_EQ(Rows(*list), (std::vector<std::string>{"sub1", "sub2", "sub3", "A.JPG"}));
  EXPECT_EQ(&list->CurrentList(), &list->FilteredItems());
  // Files made later pass the same filter.
  WriteFile(Dir + "/b.jpeg", 1);
  WriteFile(Dir + "/b.txt", 1);
  ASSERT_TRUE(WaitFor([&] { return Row(*list, "b.jpeg") >= 0 && !list->Loading(); }));
  EXPECT_EQ(Row(*list, "b.txt"), -1);
  list->SetFiltered(false);
  EXPECT_EQ(list->RowCount(), 11);
}

TEST_F(ShellList, LoaderHandsOutSortedBatches) {
  const std::string dir = Env.MakeDir("home/batches");
  for (int i = 0; i < 10; ++i) WriteFile(dir + "/f" + std::to_string(i), 1);
  TSxCustomShellController controller;
  auto names = SxMakeTypeNames();
  TSxLoadRequest request;
  request.Folder = *SxPathToIDList(dir, true);
  request.Controller = &controller;
  request.TypeNames = names.get();
  for (bool descending : {false, true}) {
    request.Descending = descending;
    std::vector<std::size_t> sizes;
    std::vector<std::string> order;
    int lasts = 0;
    TSxFolderLoader::ReadAll(
        request, nullptr,
        [&](TSxItemBatch& batch, bool last) {
          sizes.push_back(batch.size());
          for (auto& item : batch) order.push_back(item->DisplayName);
          lasts += last;
        },
        2, 3, 0);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 3, 3, 2}));
    EXPECT_EQ(lasts, 1);
    EXPECT_EQ(order.front(), descending ? "f9" : "f0");
    EXPECT_EQ(order.back(), descending ? "f0" : "f9");
  }
}

TEST_F(ShellList, NewFolderNamesAreFreeOnDiskAndRefusedWhenBad) {
  Env.MakeDir("home/list/new folder");         // the same name in another case
  Env.MakeDir("home/list/.Hidden");            // hidden: not a row, yet taken
  WriteFile(Dir + "/New Folder (2)", 1);       // a file the filter hides
  auto list = MakeList(vsList);
  list->SetFileFilter("*.jpg");
  list->SetFiltered(true);
  struct TCase {
    const char* Asked;
    const char* Made;
  };
  const TCase cases[] = {{"", "New Folder (3)"}, {"", "New Folder (4)"}, {".Hidden", ".Hidden (2)"}, {"Pics", "Pics"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Made);
    ASSERT_TRUE(list->CreateNewFolder(c.Asked));
    EXPECT_TRUE(Exists(Dir + "/" + c.Made));
    const int row = Row(*list, c.Made);
    EXPECT_GE(row, 0);
    EXPECT_TRUE(list->Editing());
    EXPECT_EQ(list->FocusedRow(), row);
    QTest::keyClick(list->ActiveView()->focusWidget() ? list->ActiveView()->focusWidget() : list.get(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !list->Editing(); }));
  }
  const std::string tooLong(256, 'n');
  for (const std::string& bad : {std::string("a/b"), std::string(".."), tooLong}) {
    Errors.clear();
    const int rows = list->RowCount();
    EXPECT_FALSE(list->CreateNewFolder(bad)) << bad;
    EXPECT_EQ(list->RowCount(), rows);
    EXPECT_EQ(Errors.size(), 1u);
  }
  // A folder that cannot be made gives no row.
  ASSERT_EQ(std::system(("rm -r '" + Dir + "'").c_str()), 0);
  Errors.clear();
  const int rows = list->RowCount();
  EXPECT_FALSE(list->CreateNewFolder("late"));
  EXPECT_EQ(list->RowCount(), rows);
  EXPECT_EQ(Errors.size(), 1u);
}

// Hidden, the list watches nothing; shown again, it reads its folder anew.
TEST_F(ShellList, WatchesOnlyWhileShown) {
  const int before = testing_support::InotifyWatches();
  auto list = MakeList(vsList);
  list->show();
  const int shown = testing_support::InotifyWatches();
  EXPECT_GT(shown, before);
  list->hide();
  EXPECT_EQ(testing_support::InotifyWatches(), before);
  WriteFile(Dir + "/meanwhile.txt", 3);
  list->show();
  EXPECT_EQ(testing_support::InotifyWatches(), shown);
  ASSERT_TRUE(WaitFor([&] { return Row(*list, "meanwhile.txt") >= 0; }));
}

TEST_F(ShellList, AChangeDuringAnEditWaitsForItsEnd) {
  auto list = MakeList(vsList);
  list->show();
  list->EditRow(Row(*list, "noext"));
  ASSERT_TRUE(list->Editing());
  WriteFile(Dir + "/arrived.txt", 3);
  ASSERT_TRUE(WaitFor([&] { return list->ChangeAwaitsEditEnd(); }));
  EXPECT_EQ(Row(*list, "arrived.txt"), -1);
  auto* editor = list->findChild<QLineEdit*>();
  ASSERT_TRUE(editor);
  QTest::keyClick(editor, Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return Row(*list, "arrived.txt") >= 0; }));
  EXPECT_FALSE(list->ChangeAwaitsEditEnd());
}

TEST_F(ShellList, RenamesInPlaceFromTheKeyboard) {
  auto list = MakeList(vsList);
  list->show();
  list->SetFocusedRow(Row(*list, "noext"));
  list->SelectRow(Row(*list, "noext"));
  QTest::keyClick(list->IconView(), Qt::Key_F2);
  auto* editor = list->findChild<QLineEdit*>();
  ASSERT_TRUE(editor);
  editor->selectAll();
  QTest::keyClicks(editor, "renamed");
  QTest::keyClick(editor, Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return Exists(Dir + "/renamed"); }));
  EXPECT_FALSE(Exists(Dir + "/noext"));
  ASSERT_TRUE(WaitFor([&] { return Row(*list, "renamed") >= 0 && !list->Loading(); }));
  EXPECT_EQ(list->RowItem(Row(*list, "renamed"))->Path, Dir + "/renamed");
  // A taken name is refused: nothing is replaced.
  EXPECT_FALSE(list->Edit(list->RowItem(Row(*list, "renamed")), "one.qqzz"));
  EXPECT_TRUE(Exists(Dir + "/renamed"));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find("already exists"), std::string::npos);
}

TEST_F(ShellList, DoubleClickOpensFoldersUnlessTheHandlerSaysNo) {
  WriteFile(Dir + "/caf\xe9.qqzz", 1);
  WriteFile(Dir + "/caf\xef\xbf\xbd.qqzz", 1);
  auto list = MakeList(vsList);
  list->show();
  bool defaultAction = false;
  std::vector<std::string> clicked;
  list->OnItemDblClick = [&](TSyComponent*, TSxShellItem* item, bool& action) {
    clicked.push_back(item->DisplayName);
    action = defaultAction;
  };
  auto doubleClick = [&](const std::string& name) {
    const QRect r = list->IconView()->visualRect(list->IconView()->model()->index(Row(*list, name), 0));
    QTest::mouseClick(list->IconView()->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(list->IconView()->viewport(), Qt::LeftButton, {}, r.center());
  };
  doubleClick("sub2");
  EXPECT_EQ(list->CurrentFolder()->Path, Dir);
  defaultAction = true;
  doubleClick("sub2");
  EXPECT_EQ(clicked, (std::vector<std::string>{"sub2", "sub2"}));
  EXPECT_EQ(list->CurrentFolder()->Path, Dir + "/sub2");
  ASSERT_TRUE(WaitFor([&] { return !list->Loading(); }));
  EXPECT_EQ(list->RowCount(), 0);
  list->MoveUpOneLevel();
  EXPECT_EQ(list->CurrentFolder()->Path, Dir);
  // A file goes to the desktop's opener: one it finds no program for is
  // told when the opener ends.
  ASSERT_TRUE(WaitFor([&] { return !list->Loading(); }));
  testing_support::TFakeProgram opener(QStringLiteral("xdg-open"), 3);
  doubleClick("one.qqzz");
  ASSERT_TRUE(WaitFor([&] { return !Errors.empty(); }));
  EXPECT_EQ(opener.Arguments(), QStringList{QUrl::fromLocalFile(QString::fromStdString(Dir + "/one.qqzz")).toString()});
  EXPECT_EQ(Errors.back(), "No program could open " + Dir + "/one.qqzz.");
  // A name that is no UTF-8 goes by its bytes, beside its twin.
  doubleClick("caf\xe9.qqzz");
  ASSERT_TRUE(WaitFor([&] { return Errors.size() == 2; }));
  EXPECT_EQ(opener.ArgumentBytes(), std::vector<std::string>{"file://" + Dir + "/caf%E9.qqzz"});
}

TEST_F(ShellList, DeleteMovesToTheTrashWhoseColumnsTellWhence) {
  auto list = MakeList(vsList);
  EXPECT_FALSE(list->DeleteSelectedItems(true, false));
  list->SelectRow(Row(*list, "one.qqzz"));
  // Whoever holds the file by its name (the program's edited picture) may
  // stop the delete.
  std::vector<std::string> asked;
  SxBeforeTransfer = [&](const std::vector<std::string>& paths) {
    asked = paths;
    return false;
  };
  EXPECT_FALSE(list->DeleteSelectedItems(true, false));
  EXPECT_EQ(asked, std::vector<std::string>{Dir + "/one.qqzz"});
  // A delete that asks tells it only once the user said yes for the file.
  using platform::TFileOpAnswer;
  for (const auto answer : {TFileOpAnswer::No, TFileOpAnswer::Cancel, TFileOpAnswer::Yes}) {
    asked.clear();
    list->Controller()->OnConfirm = [&](auto...) { return answer; };
    list->DeleteSelectedItems(true, true);
    EXPECT_TRUE(Exists(Dir + "/one.qqzz"));
    EXPECT_EQ(asked, answer == TFileOpAnswer::Yes ? std::vector<std::string>{Dir + "/one.qqzz"}
                                                  : std::vector<std::string>{});
  }
  list->Controller()->OnConfirm = nullptr;
  SxBeforeTransfer = nullptr;
  EXPECT_TRUE(Exists(Dir + "/one.qqzz"));
  EXPECT_TRUE(list->DeleteSelectedItems(true, false));
  const std::string trash = Env.Home + "/.local/share/Trash";
  EXPECT_TRUE(Exists(trash + "/files/one.qqzz"));
  EXPECT_TRUE(Exists(trash + "/info/one.qqzz.trashinfo"));
  ASSERT_TRUE(WaitFor([&] { return Row(*list, "one.qqzz") < 0 && !list->Loading(); }));

  auto bin = std::make_unique<TSxShellListView>();
  bin->SetViewStyle(vsReport);
  bin->SetSpecialRootFolder(sfBitBucket);
  ASSERT_TRUE(WaitFor([&] { return !bin->Loading(); }));
  std::vector<std::string> captions;
  for (const TSxListColumn& c : bin->Columns()) captions.push_back(c.Caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"Name", "Original Location", "Date Deleted", "Type", "Size"}));
  EXPECT_FALSE(bin->TypedSort);
  ASSERT_EQ(bin->RowCount(), 1);
  const TSxShellItem* item = bin->RowItem(0);
  ASSERT_EQ(item->SubItems.size(), 4u);
  EXPECT_EQ(item->SubItems[0], Dir);
  EXPECT_FALSE(item->SubItems[1].empty());
  EXPECT_EQ(item->SubItems[2], "QQZZ File");
  EXPECT_EQ(item->SubItems[3], "1KB");
}

// Names a raw record would change (a "%41" read back as "A", a line break
// splitting the line) are recorded percent-encoded and read back whole, by
// the trash's reader and in the trash view; a name the trash holds already
// gets a number before its extension.
TEST_F(ShellList, TrashRecordsReadBackEveryNameWhole) {
  const std::string folder = Env.MakeDir("home/pct%41 dir");
  const std::vector<std::string> names = {"pct%41 x.jpg", "a b.jpg", "n\xc3\xa9 \xe2\x82\xac.jpg", "new\nline.jpg",
                                          "one.qqzz"};
  for (const std::string& name : names) WriteFile(folder + "/" + name, 1);
  auto list = MakeList(vsList, folder);
  ASSERT_EQ(list->RowCount(), 5);
  for (int r = 0; r < 5; ++r) list->SelectRow(r);
  ASSERT_TRUE(list->DeleteSelectedItems(true, false));
  auto first = MakeList(vsList);
  first->SelectRow(Row(*first, "one.qqzz"));
  ASSERT_TRUE(first->DeleteSelectedItems(true, false));

  const std::string trash = Env.Home + "/.local/share/Trash";
  std::ifstream in(trash + "/info/pct%41 x.jpg.trashinfo");
  const std::string record{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(record.substr(0, record.find("\nDeletionDate=") + 1),
            "[Trash Info]\nPath=" + Env.Root + "/home/pct%2541%20dir/pct%2541%20x.jpg\n");
  EXPECT_TRUE(QRegularExpression("\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
                  .match(QString::fromStdString(record))
                  .hasMatch())
      << record;
  for (const std::string& name : names) {
    const std::optional<TSxTrashInfo> info = SxReadTrashInfo(trash + "/files/" + name);
    ASSERT_TRUE(info) << name;
    EXPECT_EQ(info->OriginalPath, folder + "/" + name);
  }
  const std::optional<TSxTrashInfo> second = SxReadTrashInfo(trash + "/files/one.2.qqzz");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->OriginalPath, Dir + "/one.qqzz");

  auto bin = std::make_unique<TSxShellListView>();
  bin->SetViewStyle(vsReport);
  bin->SetSpecialRootFolder(sfBitBucket);
  ASSERT_TRUE(WaitFor([&] { return !bin->Loading(); }));
  ASSERT_EQ(bin->RowCount(), 6);
  for (int r = 0; r < 6; ++r) {
    const TSxShellItem* item = bin->RowItem(r);
    EXPECT_EQ(item->SubItems.at(0), item->DisplayName == "one.2.qqzz" ? Dir : folder) << item->DisplayName;
  }
}

TEST_F(ShellList, DragTextCountsFilesAndFolders) {
  auto list = MakeList(vsList);
  struct TCase {
    std::vector<const char*> Rows;
    const char* Text;
  };
  const TCase cases[] = {
      {{"one.qqzz", "noext", "sub1", "sub2", "sub3"}, "2 files, 3 folders"},
      {{"one.qqzz"}, "1 file"},
      {{"sub1"}, "1 folder"},
  };
  for (const TCase& c : cases) {
    list->IconView()->selectionModel()->clear();
    for (const char* name : c.Rows) list->SelectRow(Row(*list, name));
    EXPECT_EQ(list->DragText(), c.Text);
  }
}

TEST_F(ShellList, PopupOffersTheFourViewStyles) {
  auto list = MakeList(vsIcon);
  std::vector<std::string> captions;
  for (QAction* a : list->PopupMenu()->actions()) captions.push_back(a->text().toStdString());
  EXPECT_EQ(captions, (std::vector<std::string>{"Lar&ge Icons", "S&mall Icons", "&List", "&Details"}));
  list->PopupMenu()->actions()[2]->trigger();
  EXPECT_EQ(list->ViewStyle(), vsList);
  EXPECT_TRUE(list->PopupMenu()->actions()[2]->isChecked());
  EXPECT_EQ(list->IconView()->flow(), QListView::TopToBottom);
}

TEST_F(ShellList, GhostedRowsAreDrawnFaded) {
  WriteFile(Dir + "/.ghost.qqzz", 1);
  auto list = MakeList(vsSmallIcon);
  TSxListOptionsSet options = list->Options();
  options.insert(loShowHidden);
  list->SetOptions(options);
  list->RefreshList();
  ASSERT_TRUE(WaitFor([&] { return !list->Loading(); }));
  list->show();
  const QImage shot = list->grab().toImage();
  // The mean distance of the icon's pixels from the background.
  auto ink = [&](const std::string& name) {
    const QRect row = list->RowRect(Row(*list, name));
    const QColor paper = list->IconView()->palette().color(QPalette::Base);
    double sum = 0;
    int n = 0;
    for (int y = row.top(); y <= row.bottom(); ++y)
      for (int x = row.left(); x < row.left() + 20; ++x) {
        const QColor c = shot.pixelColor(x, y);
        sum += std::abs(c.red() - paper.red()) + std::abs(c.green() - paper.green()) + std::abs(c.blue() - paper.blue());
        ++n;
      }
    return sum / n;
  };
  const double plain = ink("one.qqzz"), ghosted = ink(".ghost.qqzz");
  EXPECT_GT(plain, 0);
  EXPECT_LT(ghosted, plain * 0.75);
  EXPECT_GT(ghosted, plain * 0.25);
}

TEST(SxNameKeys, SortTextsOrderAsNamesCompare) {
  const std::vector<std::string> names = {
      "file9", "file010", "file10", "File10", "a", "A", "a0", "a00", "a:", "a 1", "a1b", "a01b", "ab", "",
      "\xd9\xa3",  "x\xd9\xa3", "x3", "\xc3\x9f", "SS", "1", "01", "001", "0", "9a", "10a", "b", "B1", "b01"};
  auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
  for (const std::string& a : names)
    for (const std::string& b : names)
      EXPECT_EQ(sign(SxCompareNameKeys(SxNameKey(a, false), SxNameKey(b, false))), sign(SxCompareNames(a, b)))
          << a << " | " << b;
  // Virtual roots first, then folders, then files.
  EXPECT_LT(SxCompareNameKeys(SxNameKey(kTrashID, true), SxNameKey("a", true)), 0);
  EXPECT_LT(SxCompareNameKeys(SxNameKey("z", true), SxNameKey("a", false)), 0);
}
