#include "shell/sxnamespace.h"
#include "shell/sxshellitems.h"
#include "shelltestenv.h"

#include <gtest/gtest.h>

#include <QtCore/QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

using namespace sx;
using shelltest::TPrivateHome;

namespace {

// A list control that keeps every enumerated item.
class TListSink : public TSxShellListClient {
public:
  bool ShowHidden() const override { return Hidden; }
  bool AllowRename() const override { return false; }
  bool ExtendedMenu() const override { return false; }
  bool OptimizeDisplay() const override { return false; }
  bool ReportStyle() const override { return false; }
  bool WindowExists() const override { return false; }
  void ShowSearchAnimation() override {}
  void HideSearchAnimation() override {}
  bool DoFilterItem(TSxShellItem* item) override { return !Filter || Filter(item); }
  TSxShellItemList& ShellItems() override { return Items; }
  void AddListItem(TSxShellItem*) override {}
  bool Hidden = false;
  std::function<bool(TSxShellItem*)> Filter;
  TSxShellItemList Items;
};

class TTreeSink : public TSxShellTreeClient {
public:
  bool ShowFiles() const override { return false; }
  bool ShowHidden() const override { return false; }
  bool AllowRename() const override { return false; }
  bool ExtendedMenu() const override { return false; }
  bool DoFilterItem(TSxShellItem*) override { return true; }
  int FolderCount() const override { return Folders.Count(); }
  TSxTreeNode AddFolderNode(TSxTreeNode, std::unique_ptr<TSxShellFolder> f, int) override {
    Folders.Add(std::move(f));
    return reinterpret_cast<TSxTreeNode>(static_cast<std::intptr_t>(Folders.Count()));
  }
  void MarkHasChildren(TSxTreeNode node) override { Expandable.push_back(node); }
  TSxShellFolderList Folders;
  std::vector<TSxTreeNode> Expandable;
};

std::vector<std::string> Names(const TSxShellItemList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Items(i)->DisplayName);
  return out;
}

} // namespace

class ShellItems : public ::testing::Test {
protected:
  TPrivateHome Env;
  TSxCustomShellController Controller;
};

TEST_F(ShellItems, PathsMapToListsAndBack) {
  const std::string pics = Env.MakeDir("home/Pictures");
  auto list = SxPathToIDList(pics, true);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->Components(), (std::vector<std::string>{kHomeID, "Pictures"}));
  EXPECT_EQ(SxIDListToPath(*list), pics);
  // Outside home: under Computer, on the root mount at least.
  auto root = SxPathToIDList("/usr/bin", true);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Component(0), kComputerID);
  EXPECT_EQ(SxIDListToPath(*root), "/usr/bin");
  EXPECT_FALSE(SxPathToIDList(Env.Root + "/missing", true));
  EXPECT_TRUE(SxPathToIDList(Env.Root + "/missing", false));
  EXPECT_EQ(SxIDListToPath(TSxItemIDList()), Env.Home + "/Desktop");
  // A component that would climb out is not a name.
  EXPECT_EQ(SxIDListToPath(TSxItemIDList({kHomeID, ".."})), "");
}

// A burst of paths looked up with one context of the system's folders and
// mounts gives the lists a lookup of each alone gives; a context taken
// before home moved keeps the home it saw.
TEST_F(ShellItems, PathsMapThroughOneContextAsAlone) {
  const std::string pics = Env.MakeDir("home/Pictures");
  const std::string trash = SxTrashFilesDirectory();
  const TSxPathContext Context = SxCurrentPathContext();
  EXPECT_EQ(Context.Trash, trash);
  EXPECT_EQ(Context.Home, SxHomeDirectory());
  for (const std::string& Path : {pics, pics + "/a.png", trash + "/x.png", std::string("/usr/bin"), Env.Root + "/gone",
                                  std::string("/"), std::string(kTrashParsingName), std::string("relative")}) {
    const auto Alone = SxPathToIDList(Path, false);
    const auto Burst = SxPathToIDList(Path, false, Context);
    ASSERT_EQ(Alone.has_value(), Burst.has_value()) << Path;
    if (Alone) EXPECT_EQ(Alone->Components(), Burst->Components()) << Path;
  }
  EXPECT_EQ(SxPathToIDList(trash + "/x.png", false, Context)->Component(0), kTrashID);
  TSxPathContext Moved = Context;
  Moved.Home = Env.Root;
  EXPECT_EQ(SxPathToIDList(pics, false, Moved)->Components(), (std::vector<std::string>{kHomeID, "home", "Pictures"}));
}

TEST_F(ShellItems, CreateFromPathFillsNamesAndFlags) {
  const std::string dir = Env.MakeDir("home/Pictures");
  TPrivateHome::Touch(dir + "/a.png");
  auto item = TSxShellItem::CreateFromPath(dir + "/a.png", &Controller);
  EXPECT_EQ(item->DisplayName, "a.png");
  EXPECT_EQ(item->Path, dir + "/a.png");
  EXPECT_TRUE(item->IsFile);
  EXPECT_FALSE(item->IsFolder);
  EXPECT_FALSE(item->IsDesktop);
  EXPECT_FALSE(item->OwnsController);
  EXPECT_EQ(item->RelativeIDList, TSxItemIDList({"a.png"}));
  auto folder = TSxShellFolder::CreateFromPath(dir);
  EXPECT_TRUE(folder->IsFolder);
  EXPECT_TRUE(folder->OwnsController);
  EXPECT_EQ(folder->Value1, -1);
  try {
    TSxShellItem::CreateFromPath(Env.Root + "/nothing-here");
    FAIL();
  } catch (const ESyInvalidFolder& e) {
    EXPECT_EQ(e.ErrorCode, 240);
  }
}

TEST_F(ShellItems, DesktopRootHoldsHomeComputerTrashAndDesktopItems) {
  TPrivateHome::Touch(Env.Home + "/Desktop/note.txt");
  auto desktop = TSxShellItem::CreateFromIDList(TSxItemIDList(), &Controller);
  EXPECT_TRUE(desktop->IsDesktop);
  EXPECT_EQ(desktop->DisplayName, "Desktop");
  EXPECT_FALSE(desktop->CanRename());

  TListSink sink;
  Controller.ListView = &sink;
  Controller.EnumerateFolder(TSxItemIDList(), ekList);
  EXPECT_EQ(Names(sink.Items), (std::vector<std::string>{"Home", "Computer", "Trash", "note.txt"}));
  EXPECT_EQ(sink.Items.Items(1)->Path, kComputerParsingName);
  EXPECT_FALSE(sink.Items.Items(1)->IsFileSystem);
  EXPECT_EQ(sink.Items.Items(3)->Path, Env.Home + "/Desktop/note.txt");
  EXPECT_EQ(sink.Items.Items(4), nullptr);

  // Computer lists the root file system at least.
  TListSink drives;
  Controller.ListView = &drives;
  Controller.EnumerateFolder(TSxItemIDList({kComputerID}), ekList);
  bool hasRoot = false;
  for (int i = 0; i < drives.Items.Count(); ++i) hasRoot |= drives.Items.Items(i)->Path == "/";
  EXPECT_TRUE(hasRoot);
}

TEST_F(ShellItems, SpecialFoldersMapToXdgFolders) {
  EXPECT_TRUE(SxSpecialFolderIDList(sfDesktop).IsEmpty());
  EXPECT_EQ(SxIDListToPath(SxSpecialFolderIDList(sfPersonal)), Env.Home + "/Documents");
  EXPECT_EQ(SxIDListToPath(SxSpecialFolderIDList(sfDesktopDir)), Env.Home + "/Desktop");
  EXPECT_EQ(SxSpecialFolderIDList(sfDrives), TSxItemIDList({kComputerID}));
  EXPECT_EQ(SxSpecialFolderIDList(sfBitBucket), TSxItemIDList({kTrashID}));
  for (TSxSpecialRootFolder f : {sfPrinters, sfNetwork, sfControls, sfCookies, sfNone}) {
    try {
      SxSpecialFolderIDList(f);
      FAIL() << f;
    } catch (const ESyShellError& e) {
      EXPECT_EQ(e.ErrorCode, 110);
    }
  }
  EXPECT_EQ(SpecialFolderCSIDL(sfTemplates), 21);
  EXPECT_EQ(SpecialFolderCSIDL(sfAltStartup), 29);
}

TEST_F(ShellItems, EnumerationOfTenThousandFiles) {
  const std::string dir = Env.MakeDir("home/big");
  for (int i = 0; i < 10000; ++i) TPrivateHome::Touch(dir + "/img" + std::to_string(i) + ".jpg");
  ::mkdir((dir + "/sub").c_str(), 0755);
  TPrivateHome::Touch(dir + "/.hidden");
  TListSink sink;
  Controller.ListView = &sink;
  QElapsedTimer timer;
  timer.start();
  Controller.EnumerateFolder(*SxPathToIDList(dir, true), ekList);
  std::printf("[ timing ] enumerating 10,000 files took %lld ms\n",
              static_cast<long long>(timer.elapsed()));
  ASSERT_EQ(sink.Items.Count(), 10001);
  for (int i = 0; i < sink.Items.Count(); ++i) ASSERT_EQ(sink.Items.Items(i)->ListIndex, i);
  sink.Hidden = true;
  sink.Items.Clear();
  Controller.EnumerateFolder(*SxPathToIDList(dir, true), ekList);
  EXPECT_EQ(sink.Items.Count(), 10002);
}

TEST_F(ShellItems, FilterRefusesItems) {
  const std::string dir = Env.MakeDir("home/f");
  TPrivateHome::Touch(dir + "/a.jpg");
  TPrivateHome::Touch(dir + "/b.txt");
  TListSink sink;
  sink.Filter = [](TSxShellItem* i) { return i->DisplayName.size() > 4 && i->DisplayName.substr(i->DisplayName.size() - 4) == ".jpg"; };
  Controller.ListView = &sink;
  Controller.EnumerateFolder(*SxPathToIDList(dir, true), ekList);
  EXPECT_EQ(Names(sink.Items), (std::vector<std::string>{"a.jpg"}));
}

TEST_F(ShellItems, TreeGetsFoldersMarkedExpandable) {
  const std::string dir = Env.MakeDir("home/t");
  Env.MakeDir("home/t/one/deeper");
  TPrivateHome::Touch(dir + "/file.txt");
  TTreeSink tree;
  Controller.TreeView = &tree;
  Controller.EnumerateFolder(*SxPathToIDList(dir, true), ekTree);
  ASSERT_EQ(tree.Folders.Count(), 1);
  EXPECT_EQ(tree.Folders.Items(0)->DisplayName, "one");
  EXPECT_EQ(tree.Folders.Items(0)->ListIndex, 0);
  EXPECT_EQ(tree.Expandable.size(), 1u);
  EXPECT_THROW(tree.Folders.Items(1), std::out_of_range);
}

TEST_F(ShellItems, NamesSortFoldersFirstCaseInsensitiveNumberAware) {
  const std::string dir = Env.MakeDir("home/s");
  for (const char* n : {"img10.jpg", "IMG2.jpg", "b.jpg", "A.jpg", "img1.jpg"}) TPrivateHome::Touch(dir + "/" + n);
  Env.MakeDir("home/s/zeta");
  TListSink sink;
  Controller.ListView = &sink;
  Controller.EnumerateFolder(*SxPathToIDList(dir, true), ekList);
  std::vector<TSxShellItem*> items;
  for (int i = 0; i < sink.Items.Count(); ++i) items.push_back(sink.Items.Items(i));
  std::sort(items.begin(), items.end(), [](TSxShellItem* a, TSxShellItem* b) { return CompareByName(*a, *b) < 0; });
  std::vector<std::string> names;
  for (auto* i : items) names.push_back(i->DisplayName);
  EXPECT_EQ(names, (std::vector<std::string>{"zeta", "A.jpg", "b.jpg", "img1.jpg", "IMG2.jpg", "img10.jpg"}));
  EXPECT_LT(SxCompareNames("file9", "file010"), 0);
  EXPECT_EQ(SxCompareNames("same", "same"), 0);
  EXPECT_NE(SxCompareNames("a", "A"), 0);
}

TEST_F(ShellItems, DetailsKeepLargeSizesAndOldDates) {
  const std::string dir = Env.MakeDir("home/d");
  const std::string big = dir + "/big.raw";
  TPrivateHome::Touch(big);
  ASSERT_EQ(::truncate(big.c_str(), 5LL * 1024 * 1024 * 1024 + 7), 0);
  auto item = TSxShellItem::CreateFromPath(big, &Controller);
  EXPECT_EQ(item->GetSize(), 5LL * 1024 * 1024 * 1024 + 7);

  // 1 January 1975, noon local time: before what the packed form can hold.
  std::tm t {};
  t.tm_year = 75;
  t.tm_mday = 1;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  const std::time_t old = std::mktime(&t);
  const std::string oldFile = dir + "/old.jpg";
  TPrivateHome::Touch(oldFile);
  utimbuf times{old, old};
  ASSERT_EQ(::utime(oldFile.c_str(), &times), 0);
  auto oldItem = TSxShellItem::CreateFromPath(oldFile, &Controller);
  oldItem->ReadDetails();
  EXPECT_EQ(oldItem->DosDateTime, 0u);
  // 1975-01-01 is day 27395 after 1899-12-30.
  EXPECT_DOUBLE_EQ(oldItem->Date, 27395.5);
  EXPECT_EQ(oldItem->TypeName, "JPEG image");

  // 2 March 2001, 10:20:30 local: packed and converted back (seconds halved).
  t = {};
  t.tm_year = 101;
  t.tm_mon = 2;
  t.tm_mday = 2;
  t.tm_hour = 10;
  t.tm_min = 20;
  t.tm_sec = 30;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  EXPECT_EQ(SxDosDateTime(when), ((21u << 9 | 3u << 5 | 2u) << 16) | (10u << 11 | 20u << 5 | 15u));
  EXPECT_DOUBLE_EQ(SxDosDateTimeToDateTime(SxDosDateTime(when)), SxLocalDateTime(when));
}

TEST_F(ShellItems, ComparisonsBySizeAndDate) {
  const std::string dir = Env.MakeDir("home/c");
  Env.MakeDir("home/c/folder");
  TPrivateHome::Touch(dir + "/B.jpg");
  TPrivateHome::Touch(dir + "/a.jpg");
  TPrivateHome::Touch(dir + "/new.jpg");
  utimbuf past{1000000000, 1000000000};
  ::utime((dir + "/a.jpg").c_str(), &past);
  auto folder = TSxShellItem::CreateFromPath(dir + "/folder", &Controller);
  auto a = TSxShellItem::CreateFromPath(dir + "/a.jpg", &Controller);
  auto b = TSxShellItem::CreateFromPath(dir + "/B.jpg", &Controller);
  auto fresh = TSxShellItem::CreateFromPath(dir + "/new.jpg", &Controller);
  EXPECT_LT(CompareBySize(*folder, *a), 0);
  EXPECT_GT(CompareBySize(*a, *folder), 0);
  // Equal sizes: by path, ignoring case.
  EXPECT_LT(CompareBySize(*a, *b), 0);
  EXPECT_LT(CompareByDate(*fresh, *a), 0);
  EXPECT_LT(CompareByDate(*folder, *fresh), 0);
  a->SubItems = {"", "JPEG image"};
  b->SubItems = {"", "jpeg IMAGE"};
  EXPECT_EQ(CompareBySubItem(*a, *b, 2), 0);
  EXPECT_EQ(CompareBySubItem(*a, *b, 7), 0);
}

TEST_F(ShellItems, SmallIconIsMadeOnceAndOwned) {
  TPrivateHome::Touch(Env.Home + "/x.png");
  auto item = TSxShellItem::CreateFromPath(Env.Home + "/x.png");
  const QIcon* first = item->GetSmallIcon();
  EXPECT_EQ(item->GetSmallIcon(), first);
  EXPECT_GE(item->GetIconIndex(), 0);
  EXPECT_EQ(item->GetOverlayIndex(), -1);
  auto folder = TSxShellItem::CreateFromPath(Env.Home);
  EXPECT_NE(folder->GetIconIndex(), item->GetIconIndex());
}

TEST_F(ShellItems, AssignFromItemThatOwnsItsControllerDoesNotDangle) {
  TPrivateHome::Touch(Env.Home + "/y.txt");
  TSxShellFolder copy(&Controller);
  {
    auto source = TSxShellItem::CreateFromPath(Env.Home + "/y.txt");
    ASSERT_TRUE(source->OwnsController);
    copy.Assign(*source);
  }
  EXPECT_EQ(copy.Controller, &Controller);
  EXPECT_EQ(copy.Path, Env.Home + "/y.txt");
  EXPECT_TRUE(copy.IsFile);
  EXPECT_TRUE(copy.ParentFolder);
  EXPECT_TRUE(copy.CanRename());
}

TEST_F(ShellItems, ContextMenuNeedsAFolderAndItems) {
  EXPECT_EQ(Controller.ShowContextMenu(nullptr, nullptr, nullptr, 0, 0, {TSxItemIDList({"a"})}), -1);
  EXPECT_EQ(Controller.ShowContextMenu(nullptr, Controller.DesktopFolder, nullptr, 0, 0, {}), -1);
}

TEST_F(ShellItems, DeletedItemKeepsItsParent) {
  const std::string dir = Env.MakeDir("home/gone");
  auto list = *SxPathToIDList(dir + "/x.jpg", false);
  ::rmdir(dir.c_str());
  auto item = TSxShellItem::CreateFromIDList(list, &Controller);
  EXPECT_EQ(item->Path, dir + "/x.jpg");
  EXPECT_EQ(item->DisplayName, "x.jpg");
  EXPECT_FALSE(item->IsFileSystem);
}

TEST(MountTable, UserVisibleMountsAndEscapes) {
  TPrivateHome env;
  const std::string text =
      "overlay / overlay rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "/dev/sdb1 /media/u/My\\040Stick vfat rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sdc1 " + env.Home + "/mnt/data ext4 rw 0 0\n"
      "/dev/sdc2 " + env.Home + "/.hidden/data ext4 rw 0 0\n";
  const auto mounts = SxUserMounts(SxParseMountTable(text));
  std::vector<std::string> points;
  for (const auto& m : mounts) points.push_back(m.MountPoint);
  EXPECT_EQ(points, (std::vector<std::string>{"/", "/media/u/My Stick", env.Home + "/mnt/data"}));
}
