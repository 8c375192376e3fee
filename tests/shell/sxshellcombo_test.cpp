#include "shell/sxshellcombo.h"
#include "shell/sxshelllist.h"
#include "shelltestenv.h"

#include <gtest/gtest.h>

#include <QtCore/QTemporaryDir>
#include <QtGui/QPainter>
#include <QtWidgets/QAbstractItemView>

#include <fstream>
#include <sstream>

using namespace sx;
using shelltest::TPrivateHome;
using shelltest::WaitFor;

namespace {

std::vector<std::pair<std::string, int>> Entries(const TSxCustomShellComboBox& combo) {
  std::vector<std::pair<std::string, int>> out;
  for (int i = 0; i < combo.count(); ++i)
    out.emplace_back(combo.itemText(i).toStdString(), TSxCustomShellComboBox::Indent(combo.FolderAt(i)));
  return out;
}

int IndexOf(const TSxCustomShellComboBox& combo, const std::string& path) {
  for (int i = 0; i < combo.count(); ++i)
    if (combo.FolderAt(i)->Path == path) return i;
  return -1;
}

class ShellCombo : public ::testing::Test {
protected:
  TPrivateHome Env;
};

} // namespace

TEST_F(ShellCombo, TopFoldersInTheDesktopsOrderWithTheirIndents) {
  Env.MakeDir("home/Desktop/Projects");
  TSxShellComboBox combo;
  const auto entries = Entries(combo);
  ASSERT_GE(entries.size(), 6u);
  EXPECT_EQ(entries[0], std::make_pair(std::string("Desktop"), 0));
  EXPECT_EQ(entries[1], std::make_pair(std::string("Home"), 1));
  EXPECT_EQ(entries[2], std::make_pair(std::string("Computer"), 1));
  // The drives of Computer follow it, the root file system among them.
  const int root = IndexOf(combo, "/");
  ASSERT_GT(root, 2);
  for (int i = 3; i <= root; ++i) EXPECT_EQ(entries[static_cast<std::size_t>(i)].second, 2);
  EXPECT_EQ(entries[entries.size() - 2], std::make_pair(std::string("Trash"), 1));
  EXPECT_EQ(entries.back(), std::make_pair(std::string("Projects"), 1));
  EXPECT_EQ(combo.currentIndex(), 0);
  EXPECT_EQ(combo.ItemHeight(), std::max(16, combo.fontMetrics().boundingRect("Aj").height()));
}

TEST_F(ShellCombo, ADeepPathIsInsertedBelowItsDriveAndGoesAgain) {
  // Three levels below the root drive: tmp, the folder made here, its child.
  QTemporaryDir outside("/tmp/sxcombo-XXXXXX");
  const std::string deep = outside.path().toStdString() + "/inner";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(deep)));
  TSxShellComboBox combo;
  const int drive = IndexOf(combo, "/");
  ASSERT_GE(drive, 0);
  const int before = combo.count();
  auto folder = TSxShellFolder::CreateFromPath(deep, combo.Controller());
  combo.ShowPath(folder.get());
  ASSERT_EQ(combo.count(), before + 3);
  const auto entries = Entries(combo);
  const std::size_t d = static_cast<std::size_t>(drive);
  EXPECT_EQ(entries[d + 1], std::make_pair(std::string("tmp"), 3));
  EXPECT_EQ(entries[d + 2].second, 4);
  EXPECT_EQ(entries[d + 3], std::make_pair(std::string("inner"), 5));
  EXPECT_TRUE(TSxCustomShellComboBox::Temporary(combo.FolderAt(drive + 3)));
  EXPECT_EQ(combo.currentIndex(), drive + 3);
  // Another folder takes their place.
  const std::string pics = Env.MakeDir("home/Pictures");
  auto other = TSxShellFolder::CreateFromPath(pics, combo.Controller());
  combo.ShowPath(other.get());
  EXPECT_EQ(combo.count(), before + 1);
  EXPECT_EQ(combo.itemText(2).toStdString(), "Pictures");
  EXPECT_EQ(TSxCustomShellComboBox::Indent(combo.FolderAt(2)), 2);
  EXPECT_EQ(combo.currentIndex(), 2);
}

TEST_F(ShellCombo, WithoutAnyEntryTheWholePathIsInserted) {
  // No entry names an ancestor: the search for one ends with the last
  // identifier instead of going on for ever.
  const std::string deep = Env.MakeDir("home/a/b");
  TSxShellComboBox combo;
  combo.clear();
  combo.Folders.Clear();
  auto folder = TSxShellFolder::CreateFromPath(deep, combo.Controller());
  combo.ShowPath(folder.get());
  const auto entries = Entries(combo);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], std::make_pair(std::string("Home"), 1));
  EXPECT_EQ(entries[2], std::make_pair(std::string("b"), 3));
  EXPECT_EQ(combo.currentIndex(), 2);
}

TEST_F(ShellCombo, ByNameTheFirstOfTwoEqualNamesIsChosen) {
  const std::string desktopHome = Env.MakeDir("home/Desktop/Home");
  TSxShellComboBox combo;
  ASSERT_EQ(combo.findText("Home"), 1);
  auto folder = TSxShellFolder::CreateFromPath(desktopHome, combo.Controller());
  int changing = 0;
  combo.OnFolderChanging = [&](TSyComponent*, TSxShellFolder*) { ++changing; };
  combo.SetFolder(folder.get(), true);
  EXPECT_EQ(combo.currentIndex(), 1);
  EXPECT_EQ(changing, 1);
  // By path the other one is found.
  combo.SelectByPath(*folder);
  EXPECT_EQ(combo.FolderAt(combo.currentIndex())->Path, desktopHome);
}

TEST_F(ShellCombo, ChoosingShowsTheFolderInTheList) {
  const std::string docs = Env.Home + "/Documents";
  TSxShellListView list;
  TSxShellComboBox combo;
  combo.SetListView(&list);
  EXPECT_EQ(list.ComboBox(), &combo);
  EXPECT_EQ(combo.Controller(), list.Controller());
  list.SetRootFolder(docs);
  EXPECT_EQ(combo.FolderAt(combo.currentIndex())->Path, docs);
  std::vector<std::string> selected;
  combo.OnFolderSelected = [&](TSyComponent*, TSxShellFolder* f) { selected.push_back(f->Path); };
  combo.Choose(1);
  EXPECT_EQ(list.CurrentFolder()->Path, Env.Home);
  EXPECT_EQ(selected, std::vector<std::string>{Env.Home});
  EXPECT_EQ(combo.currentIndex(), 1);
}

TEST_F(ShellCombo, ADriveComingRefillsAndKeepsTheSelection) {
  TSxShellComboBox combo;
  combo.setCurrentIndex(2);
  std::ifstream in("/proc/self/mounts");
  std::stringstream table;
  table << in.rdbuf();
  // A refill empties the box before it lists every entry anew.
  int refills = 0;
  QObject::connect(combo.model(), &QAbstractItemModel::rowsRemoved, &combo, [&] {
    if (combo.count() == 0) ++refills;
  });
  combo.Notifier()->ProcessMountTable(table.str() + "/dev/sdz9 /media/stick vfat rw 0 0\n");
  ASSERT_TRUE(WaitFor([&] { return refills > 0; }));
  EXPECT_EQ(combo.currentIndex(), 2);
  EXPECT_EQ(combo.currentText(), "Computer");
}

TEST_F(ShellCombo, EntriesAreDrawnIndentedWithTheNameHighlighted) {
  TSxShellComboBox combo;
  QAbstractItemDelegate* delegate = combo.itemDelegate();
  const QColor base = combo.palette().color(QPalette::Base);
  const QColor highlight = combo.palette().color(QPalette::Highlight);
  struct TCase {
    int Row;
    int Indent;
    bool Selected;
  };
  const TCase cases[] = {{0, 0, false}, {1, 1, true}, {IndexOf(combo, "/"), 2, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Row);
    QImage image(300, 20, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter p(&image);
    QStyleOptionViewItem option;
    option.initFrom(&combo);
    option.rect = QRect(0, 0, 300, 20);
    option.font = combo.font();
    if (c.Selected) option.state |= QStyle::State_Selected;
    delegate->paint(&p, option, combo.model()->index(c.Row, 0));
    p.end();
    const int icon = 5 + 12 * c.Indent;
    // The whole row is painted; nothing left of the icon but the background.
    for (int x = 0; x < icon; ++x) ASSERT_EQ(image.pixelColor(x, 10), base) << x;
    bool inked = false;
    for (int x = icon; x < icon + 16; ++x)
      for (int y = 2; y < 18; ++y) inked = inked || image.pixelColor(x, y) != base;
    EXPECT_TRUE(inked);
    // The highlight boxes the name only: it starts 3 pixels after the icon.
    const int text = icon + 16 + 3;
    EXPECT_EQ(image.pixelColor(text - 2, 3), base);
    EXPECT_EQ(image.pixelColor(text + 2, 3) == highlight, c.Selected);
    EXPECT_NE(image.pixelColor(299, 3), highlight);
  }
}
