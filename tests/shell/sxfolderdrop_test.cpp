#include "shell/sxfolderdrop.h"
#include "shell/sxnamespace.h"
#include "shell/sxnotify.h"
#include "shell/sxshellitems.h"
#include "shell/sxtrash.h"
#include "shelltestenv.h"

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QMenu>

#include <QtCore/QDir>

#include <cerrno>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace sx;
using shelltest::TPrivateHome;
using shelltest::Exists;
using shelltest::WaitFor;

namespace {

constexpr std::uint32_t kAll = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Two folders of a private home, f.txt in the first, and a controller that
// keeps the errors it would show.
struct TTwoFolders {
  TTwoFolders() {
    TPrivateHome::Touch(from + "/f.txt");
    controller.OnCommandError = [this](const std::string& text) { errors.push_back(text); };
  }
  TPrivateHome env;
  const std::string from = env.MakeDir("home/from");
  const std::string to = env.MakeDir("home/to");
  TSxCustomShellController controller;
  std::vector<std::string> errors;
};

} // namespace

TEST(SxDropDecisions, KeysAndDevicesChooseTheEffect) {
  struct TCase {
    std::uint32_t Keys, Allowed;
    bool SameDevice, Trash;
    std::uint32_t Effect;
  };
  const TCase cases[] = {
      {0, kAll, true, false, DROPEFFECT_MOVE},
      {0, kAll, false, false, DROPEFFECT_COPY},
      {0, DROPEFFECT_COPY | DROPEFFECT_LINK, true, false, DROPEFFECT_COPY},  // move not allowed: the other
      {0, DROPEFFECT_MOVE, false, false, DROPEFFECT_MOVE},
      {0, DROPEFFECT_LINK, true, false, DROPEFFECT_LINK},
      {MK_CONTROL, kAll, true, false, DROPEFFECT_COPY},
      {MK_SHIFT, kAll, false, false, DROPEFFECT_MOVE},
      {MK_CONTROL | MK_SHIFT, kAll, true, false, DROPEFFECT_LINK},
      {MK_SHIFT, DROPEFFECT_COPY, true, false, DROPEFFECT_NONE},  // a key asks for what is not allowed
      {MK_CONTROL, kAll, true, true, DROPEFFECT_MOVE},            // the trash: always a delete
      {0, DROPEFFECT_COPY, true, true, DROPEFFECT_NONE},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(SxChooseDropEffect(c.Keys, c.Allowed, c.SameDevice, c.Trash), c.Effect)
        << c.Keys << " " << c.Allowed << " " << c.SameDevice << " " << c.Trash;
  EXPECT_EQ(SxKeysOf(Qt::ControlModifier | Qt::ShiftModifier), MK_CONTROL | MK_SHIFT);
  EXPECT_EQ(SxEffectsOf(Qt::CopyAction | Qt::LinkAction), DROPEFFECT_COPY | DROPEFFECT_LINK);
  EXPECT_EQ(SxDropActionOf(DROPEFFECT_LINK), Qt::LinkAction);
}

TEST(SxDropDecisions, NothingIntoItsOwnFolderOrIntoItself) {
  struct TCase {
    std::vector<std::string> Sources;
    std::string Target;
    bool Refused;
  };
  const TCase cases[] = {
      {{"/a/b/f.txt"}, "/a/b", true},          // its own folder
      {{"/a/b/f.txt"}, "/a/b/", true},
      {{"/a/b"}, "/a/b", true},                // itself
      {{"/a/b"}, "/a/b/c/d", true},            // a folder inside it
      {{"/a/bc/f"}, "/a/b", false},            // a name that only starts the same
      {{"/a/x", "/a/b"}, "/a/b/c", true},      // one of several
      {{"/a/x/f", "/c/g"}, "/a/y", false},
      {{"/a/x/f"}, "", true},
  };
  for (const TCase& c : cases) EXPECT_EQ(SxDropRefused(c.Sources, c.Target), c.Refused) << c.Target;
}

TEST(SxDropDecisions, AutoScrollZonesAndWaits) {
  EXPECT_EQ(SxTreeDragScroll(9, 200, true, true).Direction, sdUp);
  EXPECT_EQ(SxTreeDragScroll(9, 200, true, true).WaitMs, 30);
  EXPECT_EQ(SxTreeDragScroll(9, 200, false, true).Direction, sdNone);  // the first node
  EXPECT_EQ(SxTreeDragScroll(10, 200, true, true).Direction, sdNone);
  EXPECT_EQ(SxTreeDragScroll(171, 200, true, true).Direction, sdDown);
  EXPECT_EQ(SxTreeDragScroll(171, 200, true, false).Direction, sdNone);
  EXPECT_EQ(SxTreeDragScroll(170, 200, true, true).Direction, sdNone);

  const QSize client(300, 200);
  TSxRowNeighbours all;
  all.Above = all.Below = all.Left = all.Right = all.Next = true;
  TSxRowNeighbours nextOnly;
  nextOnly.Next = true;
  struct TCase {
    TViewStyle Style;
    QPoint Point;
    TSxRowNeighbours Rows;
    TSxScrollDirection Direction;
    int Wait;
  };
  const TCase cases[] = {
      {vsReport, {100, 29}, all, sdUp, 30},      {vsReport, {100, 171}, all, sdDown, 30},
      {vsReport, {100, 100}, all, sdNone, 0},    {vsSmallIcon, {5, 29}, all, sdUp, 30},
      {vsIcon, {100, 10}, all, sdUp, 100},       {vsIcon, {100, 190}, nextOnly, sdNext, 100},
      {vsList, {9, 100}, all, sdLeft, 400},      {vsList, {271, 100}, all, sdRight, 400},
      {vsList, {271, 100}, nextOnly, sdNext, 400}, {vsList, {100, 5}, all, sdNone, 0},
      {vsReport, {100, 5}, TSxRowNeighbours{}, sdNone, 0},
  };
  for (const TCase& c : cases) {
    const TSxDragScroll s = SxListDragScroll(c.Style, c.Point, client, c.Rows);
    EXPECT_EQ(s.Direction, c.Direction) << c.Style << " " << c.Point.x() << "," << c.Point.y();
    EXPECT_EQ(s.WaitMs, c.Wait);
  }
}

TEST(SxDropDecisions, DragImageText) {
  EXPECT_EQ(SxDragImageText(2, 3, 5), "2 files, 3 folders");
  EXPECT_EQ(SxDragImageText(1, 0, 1), "1 file");
  EXPECT_EQ(SxDragImageText(0, 1, 1), "1 folder");
  EXPECT_EQ(SxDragImageText(1, 1, 2), "1 file, 1 folder");
  EXPECT_EQ(SxDragImageText(0, 0, 4), "4 objects");
}

TEST(SxNames, RefusedNamesAndRenamesThatNeverReplace) {
  struct TCase {
    std::string Name;
    bool Valid;
  };
  const TCase cases[] = {{"a", true},  {"", false},   {".", false}, {"..", false},
                         {"a/b", false}, {std::string("a\0b", 3), false}, {std::string(255, 'x'), true},
                         {std::string(256, 'x'), false}, {"...", true}, {".hidden", true}};
  for (const TCase& c : cases) EXPECT_EQ(SxValidItemName(c.Name), c.Valid) << c.Name.size();

  TPrivateHome env;
  const std::string dir = env.MakeDir("home/names");
  TPrivateHome::Touch(dir + "/a");
  TPrivateHome::Touch(dir + "/b");
  auto folder = TSxNamespaceFolder::Desktop()->BindToObject(*SxPathToIDList(dir, true));
  ASSERT_TRUE(folder);
  TSxItemIDList renamed;
  EXPECT_FALSE(folder->SetNameOf(TSxItemIDList({"a"}), "b", renamed));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(folder->SetNameOf(TSxItemIDList({"a"}), std::string(256, 'n'), renamed));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(Exists(dir + "/a"));
  ASSERT_TRUE(folder->SetNameOf(TSxItemIDList({"a"}), "c", renamed));
  EXPECT_EQ(renamed, TSxItemIDList({"c"}));
  EXPECT_TRUE(Exists(dir + "/c"));
  EXPECT_FALSE(Exists(dir + "/a"));
}

TEST(SxTrashInfo, ReadsPathAndDateOfTheTrashInfoGroup) {
  struct TCase {
    const char* Text;
    bool Valid;
    const char* Path;
    const char* Date;
  };
  const TCase cases[] = {
      {"[Trash Info]\nPath=/home/u/a%20b.txt\nDeletionDate=2024-05-06T07:08:09\n", true, "/home/u/a b.txt",
       "2024-05-06T07:08:09"},
      {"[Trash Info]\r\nPath=rel/x\r\n", true, "rel/x", ""},
      {"[Other]\nPath=/nope\n[Trash Info]\nDeletionDate=2020-01-01T00:00:00\nPath=/yes\nPath=/second\n", true, "/yes",
       "2020-01-01T00:00:00"},
      {"Path=/outside/a/group\n", false, "", ""},
      {"[Trash Info]\nPath=/a%00b\n", false, "", ""},  // a NUL would cut the name short
      {"[Trash Info]\nPath=\n", false, "", ""},
      {"", false, "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::optional<TSxTrashInfo> info = SxParseTrashInfo(c.Text);
    ASSERT_EQ(info.has_value(), c.Valid);
    if (!info) continue;
    EXPECT_EQ(info->OriginalPath, c.Path);
    EXPECT_EQ(info->DeletionDate, c.Date);
  }
  EXPECT_FALSE(SxReadTrashInfo("/no/files/folder/here"));
}

TEST(SxClipboard, CopyGoesOutAsFileManagersReadIt) {
  TPrivateHome env;
  const std::string dir = env.MakeDir("home/clip");
  TPrivateHome::Touch(dir + "/x.txt");
  const TSxItemIDList folder = *SxPathToIDList(dir, true);
  SxSetClipboardFiles(folder, {TSxItemIDList({"x.txt"})}, TSxClipboardAction::Copy);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->data("x-special/gnome-copied-files"),
            "copy\n" + QUrl::fromLocalFile(QString::fromStdString(dir + "/x.txt")).toEncoded());
  EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(dir + "/x.txt"))});
  EXPECT_TRUE(SxClipboardHasFiles());
}

TEST(SxClipboard, PasteReadsOursAndFileManagers) {
  const QUrl url = QUrl::fromLocalFile("/p/q.txt");
  auto ourList = [](const TSxItemIDList& item) {
    const std::vector<std::uint8_t> block = SxBuildIDListArray(TSxItemIDList({kComputerID, "/p"}), {item});
    return QByteArray(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(block.size()));
  };
  struct TCase {
    const char* Name;
    std::function<void(QMimeData&)> Fill;
    TSxClipboardAction Action;
  };
  const TCase cases[] = {
      {"gnome copy", [&](QMimeData& d) { d.setData("x-special/gnome-copied-files", "copy\n" + url.toEncoded()); },
       TSxClipboardAction::Copy},
      {"gnome cut", [&](QMimeData& d) { d.setData("x-special/gnome-copied-files", "cut\n" + url.toEncoded()); },
       TSxClipboardAction::Cut},
      {"kde cut",
       [&](QMimeData& d) {
         d.setUrls({url});
         d.setData("application/x-kde-cutselection", "1");
       },
       TSxClipboardAction::Cut},
      {"uri list", [&](QMimeData& d) { d.setUrls({url}); }, TSxClipboardAction::Copy},
      {"remote only", [&](QMimeData& d) { d.setUrls({QUrl("https://example.org/a")}); }, TSxClipboardAction::None},
      {"relative", [&](QMimeData& d) { d.setData("x-special/gnome-copied-files", "copy\nfile:x//q.txt"); },
       TSxClipboardAction::None},
      {"text", [&](QMimeData& d) { d.setText("/p/q.txt"); }, TSxClipboardAction::None},
      {"our list", [&](QMimeData& d) { d.setData(SxIDListMimeType, ourList(TSxItemIDList({"q.txt"}))); },
       TSxClipboardAction::Copy},
      // An item without names would be the folder itself.
      {"our list of the folder", [&](QMimeData& d) { d.setData(SxIDListMimeType, ourList(TSxItemIDList())); },
       TSxClipboardAction::None},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    QMimeData data;
    c.Fill(data);
    // Whether there is anything to paste is answered as the paste would.
    EXPECT_EQ(SxPasteFromMime(&data, nullptr), c.Action);
    std::vector<std::string> paths;
    EXPECT_EQ(SxPasteFromMime(&data, &paths), c.Action);
    EXPECT_EQ(paths, c.Action == TSxClipboardAction::None ? std::vector<std::string>{}
                                                            : std::vector<std::string>{"/p/q.txt"});
  }
}

TEST(SxClipboard, PasteCopiesOrMovesAndRefusesAFolderIntoItself) {
  TTwoFolders folders;
  auto& [env, from, to, controller, errors] = folders;
  const TSxItemIDList folder = *SxPathToIDList(from, true);

  SxSetClipboardFiles(folder, {TSxItemIDList({"f.txt"})}, TSxClipboardAction::Copy);
  ASSERT_TRUE(SxPasteFiles(&controller, nullptr, to));
  EXPECT_TRUE(Exists(to + "/f.txt") && Exists(from + "/f.txt"));
  // Pasted beside itself it takes a new name.
  ASSERT_TRUE(SxPasteFiles(&controller, nullptr, from));
  EXPECT_TRUE(Exists(from + "/f (2).txt"));

  ::unlink((to + "/f.txt").c_str());
  SxSetClipboardFiles(folder, {TSxItemIDList({"f.txt"})}, TSxClipboardAction::Cut);
  ASSERT_TRUE(SxPasteFiles(&controller, nullptr, to));
  EXPECT_TRUE(Exists(to + "/f.txt"));
  EXPECT_FALSE(Exists(from + "/f.txt"));
  EXPECT_FALSE(SxClipboardHasFiles());  // a cut is pasted once

  SxSetClipboardFiles(*SxPathToIDList(env.Home, true), {TSxItemIDList({"to"})}, TSxClipboardAction::Copy);
  EXPECT_FALSE(SxPasteFiles(&controller, nullptr, to));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("into itself"), std::string::npos);

  // Spelled through a link, to the folder or to one above it, it is the
  // same folder: refused before anything is made, and no drop is taken.
  const std::string linked = env.Home + "/linked";
  const std::string up = to + "/up";
  ASSERT_EQ(::symlink(to.c_str(), linked.c_str()), 0);
  ASSERT_EQ(::symlink(env.Home.c_str(), up.c_str()), 0);
  for (const std::string& into : {linked, up + "/to", linked + "/up/linked"}) {
    errors.clear();
    EXPECT_FALSE(SxPasteFiles(&controller, nullptr, into)) << into;
    ASSERT_EQ(errors.size(), 1u) << into;
    EXPECT_EQ(errors[0], "A folder cannot be pasted into itself.");
    EXPECT_TRUE(SxDropRefused({to}, into)) << into;
  }
  EXPECT_FALSE(Exists(to + "/to"));
  EXPECT_FALSE(SxDropRefused({to + "/f.txt"}, linked + "/up/from"));
}

TEST(SxFolderDrop, DropsCopyLinkAndDeleteIntoTheTrash) {
  TPrivateHome env;
  const std::string from = env.MakeDir("home/from");
  const std::string to = env.MakeDir("home/to");
  for (const char* f : {"c.txt", "l.txt", "t.txt"}) TPrivateHome::Touch(from + "/" + f);
  TSxCustomShellController controller;
  auto drop = [&](const std::string& target, const std::string& file, std::uint32_t keys) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(from + "/" + file))});
    auto handler = TSxFolderDropTarget::Create(&controller, *SxPathToIDList(target, false));
    if (!handler) return DROPEFFECT_NONE;
    const std::uint32_t entered = handler->DragEnter(&data, keys, kAll);
    EXPECT_EQ(handler->DragOver(keys, kAll), entered);
    return handler->Drop(&data, keys, kAll, nullptr);
  };
  EXPECT_EQ(drop(to, "c.txt", MK_CONTROL), DROPEFFECT_COPY);
  EXPECT_TRUE(Exists(to + "/c.txt") && Exists(from + "/c.txt"));
  EXPECT_EQ(drop(to, "l.txt", MK_CONTROL | MK_SHIFT), DROPEFFECT_LINK);
  char target[256] = {};
  ASSERT_GT(::readlink((to + "/l.txt").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), from + "/l.txt");
  EXPECT_EQ(drop(from, "c.txt", 0), DROPEFFECT_NONE);  // its own folder

  auto trash = TSxFolderDropTarget::Create(&controller, TSxItemIDList({kTrashID}));
  ASSERT_TRUE(trash);
  EXPECT_TRUE(trash->IsTrash());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(from + "/t.txt"))});
  EXPECT_EQ(trash->Drop(&data, MK_CONTROL, kAll, nullptr), DROPEFFECT_MOVE);
  EXPECT_FALSE(Exists(from + "/t.txt"));
  EXPECT_TRUE(Exists(SxTrashFilesDirectory() + "/t.txt"));
  // Computer holds no files.
  EXPECT_EQ(TSxFolderDropTarget::Create(&controller, TSxItemIDList({kComputerID})), nullptr);
}

// Before a transfer takes files away or may put others in their place, the
// program is told which; refused, nothing is done or reported.
TEST(SxFolderDrop, ATransferNamesWhatItTakesOrReplacesBeforeItActs) {
  TTwoFolders folders;
  auto& [env, from, to, controller, errors] = folders;
  std::vector<std::vector<std::string>> asked;
  bool allowed = false;
  SxBeforeTransfer = [&](const std::vector<std::string>& paths) {
    asked.push_back(paths);
    return allowed;
  };
  const std::string f = from + "/f.txt", there = to + "/f.txt";
  EXPECT_FALSE(SxTransferFiles(&controller, nullptr, DROPEFFECT_MOVE, {f}, to, false));
  EXPECT_FALSE(SxTransferFiles(&controller, nullptr, DROPEFFECT_MOVE, {f}, SxTrashFilesDirectory(), true));
  EXPECT_FALSE(SxTransferFiles(&controller, nullptr, DROPEFFECT_COPY, {f}, to, false));
  // The shell's own commands that take a file from its name ask too.
  auto folder = TSxNamespaceFolder::Desktop()->BindToObject(*SxPathToIDList(from, true));
  TSxItemIDList renamed;
  EXPECT_FALSE(controller.InvokeCommand(cmMoveToTrash, folder, nullptr, {TSxItemIDList({"f.txt"})}));
  EXPECT_FALSE(controller.RenameItem(nullptr, *folder, TSxItemIDList({"f.txt"}), "f.txt", "g.txt", renamed));
  EXPECT_TRUE(Exists(f) && !Exists(there) && errors.empty());
  allowed = true;
  // A copy beside its original replaces nothing; a link never replaces.
  EXPECT_TRUE(SxTransferFiles(&controller, nullptr, DROPEFFECT_COPY, {f}, from, false));
  EXPECT_TRUE(SxTransferFiles(&controller, nullptr, DROPEFFECT_LINK, {f}, to, false));
  SxBeforeTransfer = nullptr;
  const std::vector<std::vector<std::string>> expected = {{f, there}, {f}, {there}, {f}, {f}};
  EXPECT_EQ(asked, expected);
  EXPECT_TRUE(Exists(from + "/f (2).txt"));
}

// A file of a source's name in the folder is asked about by the transfer
// itself: only at a "Yes" is the program told what that lets it replace or
// take, and refused there, nothing changes and nothing is said.
TEST(SxFolderDrop, WhatAReplaceTakesIsToldOnlyAtItsYes) {
  TTwoFolders folders;
  auto& [env, from, to, controller, errors] = folders;
  const std::string f = from + "/f.txt", there = to + "/f.txt";
  std::vector<std::vector<std::string>> told;
  bool allowed = true;
  SxBeforeTransfer = [&](const std::vector<std::string>& paths) { return told.push_back(paths), allowed; };
  using platform::TFileOpAnswer;
  const std::tuple<std::uint32_t, TFileOpAnswer, bool, std::vector<std::string>> cases[] = {
      {DROPEFFECT_COPY, TFileOpAnswer::No, true, {}},
      {DROPEFFECT_MOVE, TFileOpAnswer::Cancel, true, {}},
      {DROPEFFECT_MOVE, TFileOpAnswer::Yes, false, {there, f}},
      {DROPEFFECT_COPY, TFileOpAnswer::Yes, true, {there}},
      {DROPEFFECT_MOVE, TFileOpAnswer::YesToAll, true, {there, f}},
  };
  std::vector<std::string> replaced;
  SxAfterTransfer = [&](const std::vector<std::string>& paths) { replaced = paths; };
  for (const auto& [effect, answer, allow, paths] : cases) {
    told.clear();
    replaced.clear();
    allowed = allow;
    std::ofstream(f) << "new";
    std::ofstream(there) << "old";
    controller.OnConfirm = [&](auto...) { return answer; };
    SxTransferFiles(&controller, nullptr, effect, {f}, to, false);
    EXPECT_EQ(told, paths.empty() ? decltype(told){} : decltype(told){paths});
    EXPECT_EQ(Read(there), allow && !paths.empty() ? "new" : "old");
    // Told after the transfer: the file it put another in place of.
    EXPECT_EQ(replaced, allow && !paths.empty() ? std::vector<std::string>{there} : std::vector<std::string>{});
  }
  SxBeforeTransfer = nullptr;
  SxAfterTransfer = nullptr;
  EXPECT_TRUE(errors.empty() && !Exists(f));
}

// A name is a name whatever it holds: "2024=best" dropped, pasted or moved
// to the trash goes itself, and "2024" stays; "a?.jpg" leaves "ab.jpg".
TEST(SxFolderDrop, ANameIsANameWhateverItHolds) {
  TPrivateHome env;
  const std::string p = env.MakeDir("home/P"), q = env.MakeDir("home/P/Q");
  for (const char* d : {"2024", "2024=best"}) env.MakeDir(std::string("home/P/") + d);
  for (const char* f : {"2024/d.jpg", "2024=best/e.jpg", "x=y.jpg", "a?.jpg", "ab.jpg"})
    std::ofstream(p + "/" + f) << f;
  TSxCustomShellController controller;
  auto folder = TSxNamespaceFolder::Desktop()->BindToObject(*SxPathToIDList(p, true));
  const QString cwd = QDir::currentPath(); // where a "to" would land
  QDir::setCurrent(QString::fromStdString(env.Root));
  EXPECT_TRUE(SxTransferFiles(&controller, nullptr, DROPEFFECT_MOVE, {p + "/2024=best", p + "/a?.jpg"}, q, false));
  SxSetClipboardFiles(*SxPathToIDList(q, false), {TSxItemIDList({"2024=best"})}, TSxClipboardAction::Copy);
  EXPECT_TRUE(SxPasteFiles(&controller, nullptr, p));
  EXPECT_TRUE(controller.InvokeCommand(cmMoveToTrash, folder, nullptr, {TSxItemIDList({"x=y.jpg"})}));
  QDir::setCurrent(cwd);
  // Each file holds the name it was made with.
  for (const char* f : {"Q/2024=best/e.jpg", "2024=best/e.jpg", "2024/d.jpg", "Q/a?.jpg", "ab.jpg"})
    EXPECT_EQ(Read(p + "/" + f), f[0] == 'Q' ? f + 2 : f);
  EXPECT_EQ(Read(SxTrashFilesDirectory() + "/x=y.jpg"), "x=y.jpg");
  EXPECT_FALSE(Exists(p + "/x=y.jpg") || Exists(env.Root + "/best") || Exists(q + "/best"));
}

TEST(SxNotifyExtra, ExtraFoldersAreWatchedUntilDropped) {
  TPrivateHome env;
  const std::string watched = env.MakeDir("home/w");
  const std::string extra = env.MakeDir("elsewhere/x");
  TSxShellNotification n;
  std::vector<std::string> seen;
  n.OnShellChangeNotify = [&](TSyComponent*, TSxShellItem* a, TSxShellItem*, TSxNotifyEventsSet) {
    seen.push_back(a ? a->Path : "");
  };
  n.SetWatchFolder(watched);
  n.SetExtraWatchFolders({extra});
  n.SetActive(true);
  TPrivateHome::Touch(extra + "/one");
  ASSERT_TRUE(WaitFor([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.front(), extra + "/one");
  // Dropping it leaves the watched folder watched.
  n.SetExtraWatchFolders({watched});
  n.SetExtraWatchFolders({});
  EXPECT_TRUE(n.ExtraWatchFolders().empty());
  seen.clear();
  TPrivateHome::Touch(watched + "/two");
  ASSERT_TRUE(WaitFor([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.back(), watched + "/two");
}

TEST(SxContextMenu, OffersTheClipboardCommandsAndReportsFailures) {
  TPrivateHome env;
  const std::string dir = env.MakeDir("home/menu");
  env.MakeDir("home/menu/sub");
  TPrivateHome::Touch(dir + "/f.txt");
  TSxCustomShellController controller;
  std::vector<std::string> errors;
  controller.OnCommandError = [&](const std::string& text) { errors.push_back(text); };
  auto folder = TSxNamespaceFolder::Desktop()->BindToObject(*SxPathToIDList(dir, true));
  struct TCase {
    const char* Item;
    std::vector<int> Commands;
  };
  const TCase cases[] = {
      {"f.txt", {cmOpen, cmCut, cmCopy, cmMoveToTrash, cmProperties}},
      {"sub", {cmOpen, cmCut, cmCopy, cmPaste, cmMoveToTrash, cmProperties}},
  };
  for (const TCase& c : cases) {
    std::vector<int> offered;
    controller.OnPopupMenu = [&](QMenu& menu) {
      for (QAction* a : menu.actions())
        if (!a->isSeparator()) offered.push_back(a->data().toInt());
      return cmCopy;
    };
    EXPECT_EQ(controller.ShowContextMenu(nullptr, folder, nullptr, 0, 0, {TSxItemIDList({c.Item})}), cmCopy);
    EXPECT_EQ(offered, c.Commands) << c.Item;
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->urls().value(0).toLocalFile().toStdString(),
              dir + "/" + c.Item);
  }
  // A file gone meanwhile: the trash command says it failed.
  ::unlink((dir + "/f.txt").c_str());
  EXPECT_FALSE(controller.InvokeCommand(cmMoveToTrash, folder, nullptr, {TSxItemIDList({"f.txt"})}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Could not move to the trash", 0), 0u);
  EXPECT_TRUE(controller.InvokeCommand(cmMoveToTrash, folder, nullptr, {TSxItemIDList({"sub"})}));
  EXPECT_TRUE(Exists(SxTrashFilesDirectory() + "/sub"));
  // Properties of the gone file: the view goes on at once and is told later,
  // even when its controller has gone meanwhile.
  {
    TSxCustomShellController passing;
    passing.OnCommandError = controller.OnCommandError;
    EXPECT_TRUE(passing.InvokeCommand(cmProperties, folder, nullptr, {TSxItemIDList({"f.txt"})}));
  }
  EXPECT_EQ(errors.size(), 1u);
  QCoreApplication::processEvents();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1], "No file manager could show the properties.");
}
