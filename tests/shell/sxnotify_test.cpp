#include "shell/sxnotify.h"
#include "shelltestenv.h"

#include <gtest/gtest.h>

#include <QtCore/QFile>
#include <QtCore/QThread>

#include <cstdio>
#include <fstream>

using namespace sx;
using shelltest::Pump;
using shelltest::TPrivateHome;
using shelltest::WaitFor;

namespace {

struct TSeen {
  TSxNotifyEventsSet Kinds;
  std::string Path1, Path2;
  bool operator==(const TSeen& o) const { return Kinds == o.Kinds && Path1 == o.Path1 && Path2 == o.Path2; }
};

void PrintTo(const TSeen& s, std::ostream* os) { *os << "{" << s.Kinds << ", " << s.Path1 << ", " << s.Path2 << "}"; }

TSeen Seen(TSxNotifyEvents kind, const std::string& p1, const std::string& p2 = {}) {
  return {SxEventSet(kind), p1, p2};
}

// Records every summary event and the thread it arrived on.
class TRecorder {
public:
  explicit TRecorder(TSxCustomShellNotification& n) {
    n.OnShellChangeNotify = [this](TSyComponent*, TSxShellItem* a, TSxShellItem* b, TSxNotifyEventsSet k) {
      if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++OffThread;
      Events.push_back({k, a ? a->Path : "", b ? b->Path : ""});
    };
  }
  std::vector<TSeen> Events;
  int OffThread = 0;
};

class Notify : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = Env.MakeDir("home/watched");
    Other = Env.MakeDir("home/other");
  }
  void Watch(TSxShellNotification& n, const std::string& dir, bool sub = false) {
    n.SetWatchFolder(dir);
    n.SetWatchSubFolders(sub);
    n.SetActive(true);
    ASSERT_TRUE(n.Registered());
  }
  TPrivateHome Env;
  std::string Dir, Other;
};

} // namespace

TEST_F(Notify, CreateDeleteAndRenameInsideFolderArriveInOrder) {
  TSxShellNotification n;
  TRecorder rec(n);
  Watch(n, Dir);
  TPrivateHome::Touch(Dir + "/a.jpg");
  ::mkdir((Dir + "/sub").c_str(), 0755);
  ::rename((Dir + "/a.jpg").c_str(), (Dir + "/b.jpg").c_str());
  ::rename((Dir + "/sub").c_str(), (Dir + "/sub2").c_str());
  ::unlink((Dir + "/b.jpg").c_str());
  ::rmdir((Dir + "/sub2").c_str());
  const std::vector<TSeen> expected = {
      Seen(neFileCreate, Dir + "/a.jpg"),   Seen(neFileChange, Dir + "/a.jpg"),
      Seen(neFolderCreate, Dir + "/sub"),   Seen(neFileRename, Dir + "/a.jpg", Dir + "/b.jpg"),
      Seen(neFolderRename, Dir + "/sub", Dir + "/sub2"), Seen(neFileDelete, Dir + "/b.jpg"),
      Seen(neFolderDelete, Dir + "/sub2")};
  EXPECT_TRUE(WaitFor([&] { return rec.Events.size() >= expected.size(); }));
  Pump(100);
  EXPECT_EQ(rec.Events, expected);
  EXPECT_EQ(rec.OffThread, 0);
}

TEST_F(Notify, RenameAcrossWatchedFoldersIsPairedByCookie) {
  TSxShellNotification n;
  TRecorder rec(n);
  const std::string parent = Env.MakeDir("home/tree");
  const std::string a = Env.MakeDir("home/tree/a"), b = Env.MakeDir("home/tree/b");
  TPrivateHome::Touch(a + "/x.png");
  Watch(n, parent, true);
  ::rename((a + "/x.png").c_str(), (b + "/x.png").c_str());
  EXPECT_TRUE(WaitFor([&] { return !rec.Events.empty(); }));
  Pump(100);
  EXPECT_EQ(rec.Events, (std::vector<TSeen>{Seen(neFileRename, a + "/x.png", b + "/x.png")}));
}

TEST_F(Notify, UnpairedMovesAreDeletesAndCreates) {
  TSxShellNotification n;
  TRecorder rec(n);
  TPrivateHome::Touch(Dir + "/out.png");
  TPrivateHome::Touch(Other + "/in.png");
  Watch(n, Dir);
  ::rename((Dir + "/out.png").c_str(), (Other + "/out.png").c_str());
  ::rename((Other + "/in.png").c_str(), (Dir + "/in.png").c_str());
  EXPECT_TRUE(WaitFor([&] { return rec.Events.size() >= 2; }));
  Pump(100);
  EXPECT_EQ(rec.Events, (std::vector<TSeen>{Seen(neFileDelete, Dir + "/out.png"), Seen(neFileCreate, Dir + "/in.png")}));
}

TEST_F(Notify, MoveToTrashIsADelete) {
  TSxShellNotification n;
  TRecorder rec(n);
  TPrivateHome::Touch(Dir + "/t.jpg");
  Watch(n, Dir);
  ASSERT_TRUE(QFile::moveToTrash(QString::fromStdString(Dir + "/t.jpg")));
  EXPECT_TRUE(WaitFor([&] { return !rec.Events.empty(); }));
  Pump(100);
  ASSERT_FALSE(rec.Events.empty());
  EXPECT_EQ(rec.Events.front(), Seen(neFileDelete, Dir + "/t.jpg"));
  for (const TSeen& s : rec.Events) EXPECT_EQ(s.Kinds & SxEventSet(neFileRename), 0u);
}

TEST_F(Notify, MoveToTrashSeenOnBothSidesIsStillADelete) {
  // Home watched with its sub-folders sees the trash's side of the move too.
  TSxShellNotification n;
  TRecorder rec(n);
  TPrivateHome::Touch(Dir + "/t2.jpg");
  ::mkdir((Env.Home + "/.local/share/Trash").c_str(), 0700);
  ::mkdir((Env.Home + "/.local/share/Trash/files").c_str(), 0700);
  ::mkdir((Env.Home + "/.local/share/Trash/info").c_str(), 0700);
  n.SetNotifyEvents(SxEventSet(neFileDelete) | SxEventSet(neFileRename) | SxEventSet(neFileCreate));
  Watch(n, Env.Home, true);
  ASSERT_TRUE(QFile::moveToTrash(QString::fromStdString(Dir + "/t2.jpg")));
  EXPECT_TRUE(WaitFor([&] {
    for (const TSeen& s : rec.Events)
      if (s == Seen(neFileDelete, Dir + "/t2.jpg")) return true;
    return false;
  }));
  for (const TSeen& s : rec.Events) EXPECT_EQ(s.Kinds & SxEventSet(neFileRename), 0u);
}

TEST_F(Notify, WatchedFolderRenamedAndDeleted) {
  TSxShellNotification n;
  TRecorder rec(n);
  Watch(n, Dir);
  ::rename(Dir.c_str(), (Dir + "-renamed").c_str());
  EXPECT_TRUE(WaitFor([&] { return !rec.Events.empty(); }));
  TPrivateHome::Touch(Dir + "-renamed/after.png");
  EXPECT_TRUE(WaitFor([&] { return rec.Events.size() >= 2; }));
  ::unlink((Dir + "-renamed/after.png").c_str());
  ::rmdir((Dir + "-renamed").c_str());
  EXPECT_TRUE(WaitFor([&] { return rec.Events.size() >= 5; }));
  ASSERT_GE(rec.Events.size(), 3u);
  EXPECT_EQ(rec.Events[0], Seen(neFolderRename, Dir, Dir + "-renamed"));
  EXPECT_EQ(rec.Events[1], Seen(neFileCreate, Dir + "-renamed/after.png"));
  EXPECT_EQ(rec.Events.back(), Seen(neFolderDelete, Dir + "-renamed"));
}

TEST_F(Notify, QueueOverflowIsAFolderUpdate) {
  long maxQueued = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> maxQueued;
  TSxShellNotification n;
  TRecorder rec(n);
  n.SetNotifyEvents(SxEventSet(neFolderCreate) | SxEventSet(neFolderUpdate));
  Watch(n, Dir);
  // More changes than the kernel queues, all before the loop reads any.
  for (long i = 0; i < maxQueued + 50; ++i) ::mkdir((Dir + "/d" + std::to_string(i)).c_str(), 0755);
  EXPECT_TRUE(WaitFor([&] { return !rec.Events.empty() && rec.Events.back().Kinds == SxEventSet(neFolderUpdate); }, 60000));
  std::printf("[ overflow ] %zu events after %ld changes\n", rec.Events.size(), maxQueued + 50);
  ASSERT_FALSE(rec.Events.empty());
  EXPECT_EQ(rec.Events.back(), Seen(neFolderUpdate, Dir));
  EXPECT_LT(rec.Events.size(), static_cast<std::size_t>(maxQueued + 50));
  EXPECT_EQ(rec.Events.front(), Seen(neFolderCreate, Dir + "/d0"));
  EXPECT_EQ(rec.OffThread, 0);
}

TEST_F(Notify, SeveralBitsFireEachKindOnceInTableOrder) {
  TSxShellNotification n;
  std::vector<std::string> calls;
  n.OnFolderChange = [&](TSyComponent*, TSxShellItem*) { calls.push_back("folder"); };
  n.OnFileCreate = [&](TSyComponent*, TSxShellItem*) { calls.push_back("create"); };
  n.OnFileRename = [&](TSyComponent*, TSxShellItem* a, TSxShellItem* b) {
    calls.push_back("rename " + a->DisplayName + " " + b->DisplayName);
  };
  TSxNotifyEventsSet summary = 0;
  int summaries = 0;
  n.OnShellChangeNotify = [&](TSyComponent*, TSxShellItem*, TSxShellItem*, TSxNotifyEventsSet k) {
    summary = k;
    ++summaries;
  };
  const TSxItemIDList a({kHomeID, "a"}), b({kHomeID, "b"});
  n.ReceiveShellEvent(&a, &b, SHCNE_UPDATEDIR | SHCNE_CREATE | SHCNE_RENAMEITEM);
  EXPECT_TRUE(calls.empty());  // queued, fired from the event loop
  EXPECT_TRUE(WaitFor([&] { return summaries > 0; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"create", "rename a b", "folder"}));
  EXPECT_EQ(summary, SxEventSet(neFileCreate) | SxEventSet(neFileRename) | SxEventSet(neFolderUpdate));
  EXPECT_EQ(summaries, 1);
}

TEST_F(Notify, AttributeChangesFireAtOnce) {
  TSxShellNotification n;
  int fired = 0;
  n.OnAttributeChange = [&](TSyComponent*, TSxShellItem* a, TSxShellItem* b) { fired += a && !b; };
  const TSxItemIDList a({kHomeID, "a"});
  n.ReceiveShellEvent(&a, nullptr, SHCNE_ATTRIBUTES);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(n.FiredEvents, SxEventSet(neAttributesChange));
  EXPECT_EQ(n.QueuedEvents(), 0);
}

TEST_F(Notify, QueueLimitKeepsAtMostLimitPlusOne) {
  TSxShellNotification n;
  n.QueueLimit = 5;
  const TSxItemIDList a({kHomeID});
  for (int i = 0; i < 20; ++i) n.ReceiveShellEvent(&a, nullptr, SHCNE_CREATE);
  EXPECT_EQ(n.QueuedEvents(), 6);
}

TEST_F(Notify, FreeSpaceEventWithAndWithoutItsList) {
  TSxShellNotification n;
  std::vector<std::uint32_t> masks;
  n.OnDriveSpaceChange = [&](TSyComponent*, std::uint32_t d) { masks.push_back(d); };
  // No list at all: nothing is read from it.
  n.ReceiveShellEvent(nullptr, nullptr, SHCNE_FREESPACE);
  const std::uint8_t raw[] = {6, 0, 0x05, 0, 0, 0x80, 0, 0};
  const auto list = TSxItemIDList::FromBytes(raw, sizeof raw);
  ASSERT_TRUE(list);
  n.ReceiveShellEvent(&*list, nullptr, SHCNE_FREESPACE);
  // A list too short to hold the mask.
  const TSxItemIDList shortList({"ab"});
  n.ReceiveShellEvent(&shortList, nullptr, SHCNE_FREESPACE);
  EXPECT_TRUE(WaitFor([&] { return masks.size() == 3; }));
  EXPECT_EQ(masks, (std::vector<std::uint32_t>{0, 0x80000005u, 0}));
}

TEST_F(Notify, OwnerFreedByHandlerDuringDispatch) {
  auto* n = new TSxShellNotification;
  int calls = 0;
  n->OnFileCreate = [&](TSyComponent*, TSxShellItem*) {
    ++calls;
    delete n;  // the owner closes
  };
  const TSxItemIDList a({kHomeID, "a"});
  for (int i = 0; i < 3; ++i) n->ReceiveShellEvent(&a, nullptr, SHCNE_CREATE);
  Pump(100);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(calls, 1);
}

TEST_F(Notify, OwnerFreedByHandlerDuringInotifyRead) {
  auto* n = new TSxShellNotification;
  int calls = 0;
  bool gone = false;
  n->OnAttributeChange = [&](TSyComponent*, TSxShellItem*, TSxShellItem*) {
    ++calls;
    gone = true;
    delete n;  // last: this handler is freed with its owner
  };
  n->SetWatchFolder(Dir);
  n->SetActive(true);
  TPrivateHome::Touch(Dir + "/p.png");
  ::chmod((Dir + "/p.png").c_str(), 0600);
  ::chmod((Dir + "/p.png").c_str(), 0644);
  EXPECT_TRUE(WaitFor([&] { return gone; }));
  Pump(100);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(calls, 1);
}

TEST_F(Notify, MountTableChangesAreDrives) {
  TSxShellNotification n;
  n.SetSpecialWatchFolder(sfDrives);
  std::vector<std::string> added, removed;
  n.OnDriveAdd = [&](TSyComponent*, TSxShellItem* i) { added.push_back(i->Path); };
  n.OnDriveRemove = [&](TSyComponent*, TSxShellItem* i) { removed.push_back(i->Path); };
  n.SetActive(true);
  std::ifstream in("/proc/self/mounts");
  std::stringstream now;
  now << in.rdbuf();
  n.ProcessMountTable(now.str() + "/dev/zz9 /media/u/STICK vfat rw 0 0\n");
  n.ProcessMountTable(now.str());
  EXPECT_TRUE(WaitFor([&] { return removed.size() == 1; }));
  EXPECT_EQ(added, (std::vector<std::string>{"/media/u/STICK"}));
  EXPECT_EQ(removed, (std::vector<std::string>{"/media/u/STICK"}));
}

TEST_F(Notify, WatchFolderSetters) {
  TSxShellNotification n;
  try {
    n.SetWatchFolder(Env.Root + "/no-such-folder");
    FAIL();
  } catch (const ESyInvalidFolder& e) {
    EXPECT_EQ(e.ErrorCode, 240);
  }
  n.SetWatchFolder(Dir);
  ASSERT_TRUE(n.WatchIDList());
  EXPECT_EQ(SxIDListToPath(*n.WatchIDList()), Dir);
  try {
    n.SetSpecialWatchFolder(sfPrinters);
    FAIL();
  } catch (const ESyShellError& e) {
    EXPECT_EQ(e.ErrorCode, 110);
  }
  EXPECT_EQ(n.SpecialWatchFolder(), sfNone);
  EXPECT_EQ(n.WatchFolder(), Dir);
  n.SetSpecialWatchFolder(sfDesktop);
  EXPECT_EQ(n.WatchFolder(), "");
  EXPECT_FALSE(n.WatchIDList());
  n.SetActive(true);
  EXPECT_TRUE(n.Registered());
  n.SetActive(false);
  EXPECT_FALSE(n.Registered());
  EXPECT_EQ(SxShellEventBit(neFolderRename), 0x20000u);
  EXPECT_EQ(SxShellEventBit(neAssociationChange), 0x8000000u);
}

// A burst bigger than one slice of reading and of reporting (renames of
// 3,000 files within the folder, the loop getting its turns in between):
// every rename arrives once, paired, in order.
TEST_F(Notify, ABurstComesInSlicesWithNothingLostOrUnpaired) {
  constexpr int Count = 3000;
  for (int i = 0; i < Count; ++i) TPrivateHome::Touch(Dir + "/f" + std::to_string(i) + ".tmp");
  TSxShellNotification n;
  n.QueueLimit = 0;
  TRecorder rec(n);
  Watch(n, Dir);
  for (int i = 0; i < Count; ++i)
    ::rename((Dir + "/f" + std::to_string(i) + ".tmp").c_str(), (Dir + "/f" + std::to_string(i) + ".jpg").c_str());
  EXPECT_TRUE(WaitFor([&] { return rec.Events.size() >= Count; }, 60000));
  Pump(100);
  ASSERT_EQ(rec.Events.size(), static_cast<std::size_t>(Count));
  for (int i = 0; i < Count; ++i) {
    const std::string f = Dir + "/f" + std::to_string(i);
    ASSERT_EQ(rec.Events[static_cast<std::size_t>(i)], Seen(neFileRename, f + ".tmp", f + ".jpg")) << i;
  }
}
