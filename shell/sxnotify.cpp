#include "shell/sxnotify.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QSocketNotifier>
#include <QtCore/QTimer>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sx {

namespace {

constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                     IN_ONLYDIR | IN_EXCL_UNLINK;

// How long the first half of a move waits for its second half, which the
// kernel may hand over in the next read.
constexpr int kMovePairingMs = 50;
// A slice of reading or of handing changes over. Two views watching the two
// folders of one paste may each take a read and a hand-over slice in the
// same loop turn; a read of a small buffer ends soon after its slice.
constexpr int kReadSliceMs = 4;

constexpr std::uint32_t kMountBits =
    SHCNE_DRIVEADD | SHCNE_DRIVEREMOVED | SHCNE_MEDIAINSERTED | SHCNE_MEDIAREMOVED;

const std::uint32_t kShellBits[20] = {
    SHCNE_ASSOCCHANGED, SHCNE_ATTRIBUTES, SHCNE_UPDATEITEM, SHCNE_CREATE, SHCNE_DELETE,
    SHCNE_RENAMEITEM, SHCNE_DRIVEADD, SHCNE_DRIVEREMOVED, SHCNE_DRIVEADDGUI, SHCNE_FREESPACE,
    SHCNE_MEDIAINSERTED, SHCNE_MEDIAREMOVED, SHCNE_MKDIR, SHCNE_RMDIR, SHCNE_RENAMEFOLDER,
    SHCNE_UPDATEDIR, SHCNE_NETSHARE, SHCNE_NETUNSHARE, SHCNE_SERVERDISCONNECT, SHCNE_UPDATEIMAGE};

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (name.empty()) return dir;
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool IsUnderOrEqual(const std::string& path, const std::string& root) {
  if (path == root) return true;
  if (root == "/") return !path.empty() && path[0] == '/';
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// A device whose disk says it is removable holds media; other devices are drives.
bool IsRemovableDevice(const std::string& device) {
  if (device.rfind("/dev/", 0) != 0) return false;
  const std::string name = device.substr(device.find_last_of('/') + 1);
  const std::string block = "/sys/class/block/" + name;
  std::string flag = ReadSmallFile(block + "/removable");
  if (flag.empty()) {
    char resolved[PATH_MAX];
    if (::realpath(block.c_str(), resolved)) {
      std::string parent = resolved;
      parent = parent.substr(0, parent.find_last_of('/'));
      flag = ReadSmallFile(parent + "/removable");
    }
  }
  return flag == "1";
}

} // namespace

std::uint32_t SxShellEventBit(TSxNotifyEvents kind) { return kShellBits[kind]; }

TSxNotificationItem::TSxNotificationItem(const TSxItemIDList* list1, const TSxItemIDList* list2,
                                         std::uint32_t bits)
    : Bits(bits) {
  if (list1) List1 = ILClone(*list1);
  if (list2) List2 = ILClone(*list2);
}

// ---------------------------------------------------------------- life

TSxCustomShellNotification::TSxCustomShellNotification()
    : FShellVersion(SxShellVersion()), FQueue(std::make_unique<TSxDQue>()),
      FContext(new QObject), FAlive(std::make_shared<int>(0)) {
  FQueue->DisposeData = [](const TSxContainer*, void* data) {
    delete static_cast<TSxNotificationItem*>(data);
  };
  FPendingTimer = new QTimer(FContext);
  FPendingTimer->setSingleShot(true);
  FPendingTimer->setInterval(kMovePairingMs);
  std::weak_ptr<int> alive = FAlive;
  QObject::connect(FPendingTimer, &QTimer::timeout, FContext, [this, alive] {
    if (!alive.expired()) FlushPendingMove();
  });
}

TSxCustomShellNotification::~TSxCustomShellNotification() {
  FAlive.reset();
  Deregister();
  // Freed from inside one of its own notifications: let the event loop free
  // the private objects once it is out of them.
  if (FBusy > 0) FContext->deleteLater();
  else delete FContext;
}

void TSxCustomShellNotification::Loaded() {
  if (FActive && !FRegistered) Register();
}

void TSxCustomShellNotification::SetActive(bool value) {
  FActive = value;
  if (value && !FRegistered) Register();
  else if (!value && FRegistered) Deregister();
}

void TSxCustomShellNotification::SetNotifyEvents(TSxNotifyEventsSet value) {
  FNotifyEvents = value & kAllNotifyEvents;
  if (FActive) Register();
}

void TSxCustomShellNotification::SetWatchSubFolders(bool value) {
  FWatchSubFolders = value;
  if (FActive) Register();
}

void TSxCustomShellNotification::SetWatchFolder(const std::string& value) {
  // Paths here have no drive letters, so nothing is completed.
  FWatchFolder = value;
  if (value.empty()) return;
  FSpecialWatchFolder = sfNone;
  TSxItemIDList list;
  if (!TSxNamespaceFolder::Desktop()->ParseDisplayName(value, list))
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  FWatchIDList = list;
  if (FActive) Register();
}

void TSxCustomShellNotification::SetSpecialWatchFolder(TSxSpecialRootFolder value) {
  const int csidl = SpecialFolderCSIDL(value);
  if ((csidl == 1 || (csidl >= 29 && csidl <= 34)) && FShellVersion < 4.7)
    RaiseSyError<ESyShellError>(scShellNotSupported);
  if (value == FSpecialWatchFolder) return;
  if (value == sfNone) {
    FSpecialWatchFolder = value;
    return;
  }
  std::optional<TSxItemIDList> list;
  // A folder this system does not have is refused before anything changes.
  if (value != sfDesktop) list = SxSpecialFolderIDList(value);
  FSpecialWatchFolder = value;
  FWatchFolder.clear();
  if (value == sfDesktop) {
    SetWatchIDList(std::nullopt);
    return;
  }
  FWatchIDList = list;
  if (FActive) Register();
}

void TSxCustomShellNotification::SetWatchIDList(const std::optional<TSxItemIDList>& list) {
  FWatchIDList = list;
  if (FActive) Register();
}

// ---------------------------------------------------------------- registration

void TSxCustomShellNotification::Register() {
  if (FRegistered) Deregister();
  FEventMask = 0;
  for (int k = 0; k < 20; ++k)
    if (FNotifyEvents & (1u << k)) FEventMask |= kShellBits[k];

  std::vector<std::string> folders;
  bool mounts = false;
  FWholeNamespace = !FWatchIDList || FWatchIDList->IsEmpty();
  FRecursive = false;
  if (FWholeNamespace) {
    // The whole namespace is followed where it changes in practice: the
    // desktop, home and trash folders and the mounts.
    folders = {SxDesktopDirectory(), SxHomeDirectory(), SxTrashFilesDirectory()};
    mounts = true;
  } else {
    const std::vector<std::string> c = FWatchIDList->Components();
    if (c.size() == 1 && c[0] == kComputerID) {
      mounts = true;
    } else if (c.size() == 1 && c[0] == kTrashID) {
      folders = {SxTrashFilesDirectory()};
    } else {
      folders = {SxIDListToPath(*FWatchIDList)};
      FRecursive = FWatchSubFolders;
      mounts = FWatchSubFolders;
    }
  }

  FInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FInotify < 0) return;
  FBaseFolders = folders;
  for (const std::string& f : folders) AddWatch(f, FRecursive);
  if (!folders.empty() && !FWatches.empty()) {
    FRootPath = folders.front();
    for (const auto& [wd, path] : FWatches)
      if (path == FRootPath) FRootWatch = wd;
    if (!FWholeNamespace) {
      // Kept open so that a move of the watched folder can tell where it went;
      // as it keeps the folder alive, its deletion is seen from its parent.
      FRootHandle = ::open(FRootPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      WatchRootParent();
    }
  }
  for (const std::string& f : FExtraFolders) AddWatch(f, false);
  if (FWatches.empty() && !mounts) {
    ::close(FInotify);
    FInotify = -1;
    return;
  }
  std::weak_ptr<int> alive = FAlive;
  FInotifyNotifier = new QSocketNotifier(FInotify, QSocketNotifier::Read, FContext);
  QObject::connect(FInotifyNotifier, &QSocketNotifier::activated, FContext, [this, alive] {
    if (!alive.expired()) ReadEvents();
  });

  if (mounts && (FEventMask & kMountBits)) {
    FMountsFd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (FMountsFd >= 0) {
      FMounts = SxUserMounts();
      // The mount table signals a change as an exceptional condition.
      FMountsNotifier = new QSocketNotifier(FMountsFd, QSocketNotifier::Exception, FContext);
      QObject::connect(FMountsNotifier, &QSocketNotifier::activated, FContext, [this, alive] {
        if (!alive.expired()) ReadMounts();
      });
    }
  }
  FRegistered = true;
}

void TSxCustomShellNotification::Deregister() {
  auto dispose = [this](QSocketNotifier*& n) {
    if (!n) return;
    n->setEnabled(false);
    if (FBusy > 0) n->deleteLater();
    else delete n;
    n = nullptr;
  };
  dispose(FInotifyNotifier);
  dispose(FMountsNotifier);
  if (FInotify >= 0) ::close(FInotify);
  if (FMountsFd >= 0) ::close(FMountsFd);
  if (FRootHandle >= 0) ::close(FRootHandle);
  FInotify = FMountsFd = FRootHandle = -1;
  FWatches.clear();
  FRootWatch = -1;
  FParentWatch = -1;
  FRootGone = false;
  FRootPath.clear();
  FPendingMove.reset();
  if (FPendingTimer) FPendingTimer->stop();
  FRegistered = false;
}

void TSxCustomShellNotification::AddWatch(const std::string& path, bool recursive) {
  const int wd = ::inotify_add_watch(FInotify, path.c_str(), kWatchMask);
  if (wd < 0) return;
  FWatches[wd] = path;
  if (!recursive) return;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return;
  std::vector<std::string> subs;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st {};
      isDir = ::lstat(JoinPath(path, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (isDir) subs.push_back(JoinPath(path, name));
  }
  ::closedir(dir);
  for (const std::string& s : subs) AddWatch(s, true);
}

void TSxCustomShellNotification::SetExtraWatchFolders(const std::set<std::string>& paths) {
  if (FRegistered && FInotify >= 0) {
    // A folder that the watch folder covers keeps its watch.
    auto covered = [this](const std::string& path) {
      for (const std::string& base : FBaseFolders)
        if (path == base || (FRecursive && IsUnderOrEqual(path, base))) return true;
      return false;
    };
    for (const std::string& old : FExtraFolders) {
      if (paths.count(old) || covered(old)) continue;
      for (auto w = FWatches.begin(); w != FWatches.end(); ++w) {
        if (w->second != old || w->first == FRootWatch) continue;
        ::inotify_rm_watch(FInotify, w->first);
        FWatches.erase(w);
        break;
      }
    }
    for (const std::string& path : paths)
      if (!FExtraFolders.count(path) && !path.empty()) AddWatch(path, false);
  }
  FExtraFolders = paths;
  FExtraFolders.erase(std::string());
}

void TSxCustomShellNotification::WatchRootParent() {
  if (FParentWatch >= 0) ::inotify_rm_watch(FInotify, FParentWatch);
  FParentWatch = -1;
  const std::size_t slash = FRootPath.find_last_of('/');
  if (slash == std::string::npos || FRootPath == "/") return;
  const std::string parent = slash == 0 ? "/" : FRootPath.substr(0, slash);
  FParentWatch = ::inotify_add_watch(FInotify, parent.c_str(), IN_DELETE | IN_ONLYDIR);
}

void TSxCustomShellNotification::RenameWatches(const std::string& from, const std::string& to) {
  for (auto& [wd, path] : FWatches)
    if (IsUnderOrEqual(path, from)) path = to + path.substr(from.size());
  std::set<std::string> extra;
  for (const std::string& path : FExtraFolders)
    extra.insert(IsUnderOrEqual(path, from) ? to + path.substr(from.size()) : path);
  FExtraFolders = std::move(extra);
  if (IsUnderOrEqual(FRootPath, from)) FRootPath = to + FRootPath.substr(from.size());
}

// ---------------------------------------------------------------- inotify

void TSxCustomShellNotification::ReadEvents() {
  std::weak_ptr<int> alive = FAlive;
  alignas(inotify_event) char buffer[4 * 1024];
  ++FBusy;
  // A paste of thousands of files reports thousands of paths: each would
  // read the mount table again.
  std::optional<TSxPathContext> context;
  FPathContext = &context;
  // Events keep coming while files are pasted: after a slice of reading the
  // event loop gets its turn, and the notifier calls again for the rest
  // (a move read only as far as its first half is read on to its second).
  QElapsedTimer spent;
  spent.start();
  for (;;) {
    if (spent.elapsed() >= kReadSliceMs && !FPendingMove) break;
    const ssize_t n = ::read(FInotify, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
      const std::string name = ev->len ? std::string(ev->name, ::strnlen(ev->name, ev->len)) : std::string();
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (!HandleEvent(ev->wd, ev->mask, ev->cookie, name)) return;
    }
  }
  FPathContext = nullptr;
  --FBusy;
  if (FPendingMove) FPendingTimer->start();
}

bool TSxCustomShellNotification::FlushPendingMove() {
  if (!FPendingMove) return true;
  const TPendingMove move = *FPendingMove;
  FPendingMove.reset();
  FPendingTimer->stop();
  // Moved out of sight: gone from here.
  return Report(move.IsDir ? SHCNE_RMDIR : SHCNE_DELETE, move.Path);
}

bool TSxCustomShellNotification::HandleEvent(int wd, std::uint32_t mask, std::uint32_t cookie,
                                             const std::string& name) {
  if (mask & IN_Q_OVERFLOW) {
    // Changes were lost: the watched folder as a whole has to be read again.
    if (!FlushPendingMove()) return false;
    if (FWholeNamespace || FRootPath.empty()) return ReportList(SHCNE_UPDATEDIR, FWatchIDList.value_or(TSxItemIDList()));
    return Report(SHCNE_UPDATEDIR, FRootPath);
  }
  if (wd == FParentWatch) {
    if (mask & IN_IGNORED) FParentWatch = -1;
    const std::string base = FRootPath.substr(FRootPath.find_last_of('/') + 1);
    if ((mask & IN_DELETE) && (mask & IN_ISDIR) && name == base && !FRootGone) {
      FRootGone = true;
      if (!FlushPendingMove()) return false;
      return Report(SHCNE_RMDIR, FRootPath);
    }
    return true;
  }
  if (mask & IN_IGNORED) {
    FWatches.erase(wd);
    return true;
  }
  const auto w = FWatches.find(wd);
  if (w == FWatches.end()) return true;
  const std::string dir = w->second;
  const std::string path = JoinPath(dir, name);
  const bool isDir = (mask & IN_ISDIR) != 0;

  if (FPendingMove && !((mask & IN_MOVED_TO) && cookie == FPendingMove->Cookie))
    if (!FlushPendingMove()) return false;

  if (mask & IN_CREATE) {
    if (isDir && FRecursive) AddWatch(path, true);
    return Report(isDir ? SHCNE_MKDIR : SHCNE_CREATE, path);
  }
  if (mask & IN_DELETE) return Report(isDir ? SHCNE_RMDIR : SHCNE_DELETE, path);
  if (mask & IN_MOVED_FROM) {
    FPendingMove = TPendingMove{cookie, path, isDir};
    return true;
  }
  if (mask & IN_MOVED_TO) {
    if (FPendingMove && FPendingMove->Cookie == cookie) {
      const TPendingMove from = *FPendingMove;
      FPendingMove.reset();
      FPendingTimer->stop();
      // What goes into the trash is deleted as far as its folder can tell.
      if (SxIsInTrash(path) && !SxIsInTrash(from.Path))
        return Report(from.IsDir ? SHCNE_RMDIR : SHCNE_DELETE, from.Path);
      if (isDir) RenameWatches(from.Path, path);
      return Report(isDir ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM, from.Path, path);
    }
    if (isDir && FRecursive) AddWatch(path, true);
    return Report(isDir ? SHCNE_MKDIR : SHCNE_CREATE, path);
  }
  if (mask & IN_CLOSE_WRITE) return isDir ? true : Report(SHCNE_UPDATEITEM, path);
  if (mask & IN_ATTRIB) return Report(SHCNE_ATTRIBUTES, path);
  if (wd == FRootWatch && (mask & IN_DELETE_SELF)) {
    if (FRootGone) return true;
    FRootGone = true;
    return Report(SHCNE_RMDIR, dir);
  }
  if (wd == FRootWatch && (mask & IN_MOVE_SELF)) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(FRootHandle);
    const ssize_t n = FRootHandle >= 0 ? ::readlink(link.c_str(), target, sizeof target - 1) : -1;
    const std::string to = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
    if (to.empty() || SxIsInTrash(to) || to.find(" (deleted)") != std::string::npos)
      return Report(SHCNE_RMDIR, dir);
    RenameWatches(dir, to);
    WatchRootParent();
    return Report(SHCNE_RENAMEFOLDER, dir, to);
  }
  return true;
}

bool TSxCustomShellNotification::Report(std::uint32_t bit, const std::string& path1,
                                        const std::string& path2) {
  if (!(bit & FEventMask)) return true;
  // An event the full queue would drop costs no identifier lists (a burst
  // of thousands of files would otherwise block the loop).
  if (!(bit & SHCNE_ATTRIBUTES) && QueueLimit != 0 && FQueue->Count() > QueueLimit) return true;
  std::weak_ptr<int> alive = FAlive;
  std::optional<TSxPathContext> here;
  std::optional<TSxPathContext>& context = FPathContext ? *FPathContext : here;
  if (!context) context = SxCurrentPathContext();
  const std::optional<TSxItemIDList> l1 = SxPathToIDList(path1, false, *context);
  std::optional<TSxItemIDList> l2;
  if (!path2.empty()) l2 = SxPathToIDList(path2, false, *context);
  ReceiveShellEvent(l1 ? &*l1 : nullptr, l2 ? &*l2 : nullptr, bit);
  return !alive.expired();
}

bool TSxCustomShellNotification::ReportList(std::uint32_t bit, const TSxItemIDList& list) {
  if (!(bit & FEventMask)) return true;
  std::weak_ptr<int> alive = FAlive;
  ReceiveShellEvent(&list, nullptr, bit);
  return !alive.expired();
}

// ---------------------------------------------------------------- mounts

void TSxCustomShellNotification::ReadMounts() {
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(FMountsFd, buffer, sizeof buffer, offset);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  ++FBusy;
  std::weak_ptr<int> alive = FAlive;
  ProcessMountTable(text);
  if (!alive.expired()) --FBusy;
}

bool TSxCustomShellNotification::MountInScope(const std::string& mountPoint) const {
  if (FWholeNamespace) return true;
  if (!FWatchIDList) return true;
  const std::vector<std::string> c = FWatchIDList->Components();
  if (c.size() == 1 && c[0] == kComputerID) return true;
  const std::string root = SxIDListToPath(*FWatchIDList);
  return !root.empty() && IsUnderOrEqual(mountPoint, root) && mountPoint != root;
}

void TSxCustomShellNotification::ProcessMountTable(const std::string& text) {
  const std::vector<TSxMount> now = SxUserMounts(SxParseMountTable(text));
  const std::vector<TSxMount> before = FMounts;
  FMounts = now;
  std::weak_ptr<int> alive = FAlive;
  auto holds = [](const std::vector<TSxMount>& list, const std::string& mp) {
    for (const TSxMount& m : list)
      if (m.MountPoint == mp) return true;
    return false;
  };
  for (const TSxMount& m : before) {
    if (holds(now, m.MountPoint) || !MountInScope(m.MountPoint)) continue;
    const std::uint32_t bit = IsRemovableDevice(m.Device) ? SHCNE_MEDIAREMOVED : SHCNE_DRIVEREMOVED;
    if (!ReportList(bit, TSxItemIDList({kComputerID, m.MountPoint}))) return;
  }
  for (const TSxMount& m : now) {
    if (holds(before, m.MountPoint) || !MountInScope(m.MountPoint)) continue;
    const std::uint32_t bit = IsRemovableDevice(m.Device) ? SHCNE_MEDIAINSERTED : SHCNE_DRIVEADD;
    if (!ReportList(bit, TSxItemIDList({kComputerID, m.MountPoint}))) return;
  }
  (void)alive;
}

// ---------------------------------------------------------------- queue

void TSxCustomShellNotification::ReceiveShellEvent(const TSxItemIDList* list1,
                                                   const TSxItemIDList* list2, std::uint32_t bits) {
  if (QueueLimit != 0 && FQueue->Count() > QueueLimit) return;
  if (bits & SHCNE_ATTRIBUTES) {
    FiredEvents = SxEventSet(neAttributesChange);
    std::unique_ptr<TSxShellItem> item1, item2;
    if (list1) item1 = TSxShellItem::CreateFromIDList(*list1);
    if (list2) item2 = TSxShellItem::CreateFromIDList(*list2);
    std::weak_ptr<int> alive = FAlive;
    ++FBusy;
    DoAttributeChange(item1.get(), item2.get());
    if (alive.expired()) return;
    DoShellChangeNotify(item1.get(), item2.get(), FiredEvents);
    if (alive.expired()) return;
    --FBusy;
    return;
  }
  FQueue->Append(new TSxNotificationItem(list1, list2, bits));
  if (FQueue->Count() == 1) {
    std::weak_ptr<int> alive = FAlive;
    QMetaObject::invokeMethod(
        FContext, [this, alive] { if (!alive.expired()) DispatchQueue(); }, Qt::QueuedConnection);
  }
}

void TSxCustomShellNotification::DispatchQueue() {
  // A handler may free this object (its owner closing): every step after a
  // handler first checks that the object still lives.
  std::weak_ptr<int> alive = FAlive;
  ++FBusy;
  QElapsedTimer spent;
  spent.start();
  for (;;) {
    void* head = nullptr;
    FQueue->PeekHead(head);
    if (!head) break;
    const auto* event = static_cast<const TSxNotificationItem*>(head);
    const std::uint32_t bits = event->Bits;
    std::uint32_t drives = 0;
    // The changed drives follow the size field of the first list, when it has them.
    if (event->List1) {
      const std::vector<std::uint8_t> payload = event->List1->FirstPayload();
      if (payload.size() >= 4)
        drives = payload[0] | (payload[1] << 8) | (payload[2] << 16) |
                 (static_cast<std::uint32_t>(payload[3]) << 24);
    }
    FiredEvents = 0;
    std::unique_ptr<TSxShellItem> item1, item2;
    if (event->List1) item1 = TSxShellItem::CreateFromIDList(*event->List1);
    if (event->List2) item2 = TSxShellItem::CreateFromIDList(*event->List2);
    TSxShellItem* i1 = item1.get();
    TSxShellItem* i2 = item2.get();

    struct TStep {
      std::uint32_t Bit;
      TSxNotifyEvents Kind;
      std::function<void()> Call;
    };
    const TStep steps[] = {
        {SHCNE_ASSOCCHANGED, neAssociationChange, [&] { DoAssociationChange(); }},
        {SHCNE_UPDATEITEM, neFileChange, [&] { DoFileChange(i1); }},
        {SHCNE_CREATE, neFileCreate, [&] { DoFileCreate(i1); }},
        {SHCNE_DELETE, neFileDelete, [&] { DoFileDelete(i1, i2); }},
        {SHCNE_RENAMEITEM, neFileRename, [&] { DoFileRename(i1, i2); }},
        {SHCNE_DRIVEADD, neDriveAdd, [&] { DoDriveAdd(i1); }},
        {SHCNE_DRIVEREMOVED, neDriveRemove, [&] { DoDriveRemove(i1); }},
        {SHCNE_DRIVEADDGUI, neShellDriveAdd, [&] { DoShellDriveAdd(i1); }},
        // Items are made afresh for each event, so media events see current names and icons.
        {SHCNE_MEDIAINSERTED, neMediaInsert, [&] { DoMediaInsert(i1); }},
        {SHCNE_MEDIAREMOVED, neMediaRemove, [&] { DoMediaRemove(i1); }},
        {SHCNE_MKDIR, neFolderCreate, [&] { DoFolderCreate(i1); }},
        {SHCNE_RMDIR, neFolderDelete, [&] { DoFolderDelete(i1); }},
        {SHCNE_RENAMEFOLDER, neFolderRename, [&] { DoFolderRename(i1, i2); }},
        {SHCNE_UPDATEDIR, neFolderUpdate, [&] { DoFolderChange(i1); }},
        {SHCNE_NETSHARE, neNetShare, [&] { DoNetShare(i1); }},
        {SHCNE_NETUNSHARE, neNetUnShare, [&] { DoNetUnShare(i1); }},
        {SHCNE_SERVERDISCONNECT, neServerDisconnect, [&] { DoServerDisconnect(i1); }},
        {SHCNE_UPDATEIMAGE, neImageListChange, [&] { DoImageListChange(); }},
        {SHCNE_FREESPACE, neDriveSpaceChange, [&] { DoDriveSpaceChange(drives); }},
    };
    for (const TStep& step : steps) {
      if (!(bits & step.Bit)) continue;
      FiredEvents |= SxEventSet(step.Kind);
      step.Call();
      if (alive.expired()) return;
    }
    DoShellChangeNotify(i1, i2, FiredEvents);
    if (alive.expired()) return;
    FQueue->PopHead();
    // Thousands queued (a paste): the rest after the event loop's turn.
    if (spent.elapsed() >= kReadSliceMs && FQueue->Count() > 0) {
      QMetaObject::invokeMethod(
          FContext, [this, alive] { if (!alive.expired()) DispatchQueue(); }, Qt::QueuedConnection);
      break;
    }
  }
  --FBusy;
}

// ---------------------------------------------------------------- events

void TSxCustomShellNotification::DoAssociationChange() { if (OnAssociationChange) OnAssociationChange(this); }
void TSxCustomShellNotification::DoAttributeChange(TSxShellItem* a, TSxShellItem* b) { if (OnAttributeChange) OnAttributeChange(this, a, b); }
void TSxCustomShellNotification::DoDriveAdd(TSxShellItem* a) { if (OnDriveAdd) OnDriveAdd(this, a); }
void TSxCustomShellNotification::DoDriveRemove(TSxShellItem* a) { if (OnDriveRemove) OnDriveRemove(this, a); }
void TSxCustomShellNotification::DoDriveSpaceChange(std::uint32_t d) { if (OnDriveSpaceChange) OnDriveSpaceChange(this, d); }
void TSxCustomShellNotification::DoFileChange(TSxShellItem* a) { if (OnFileChange) OnFileChange(this, a); }
void TSxCustomShellNotification::DoFileCreate(TSxShellItem* a) { if (OnFileCreate) OnFileCreate(this, a); }
void TSxCustomShellNotification::DoFileDelete(TSxShellItem* a, TSxShellItem* b) { if (OnFileDelete) OnFileDelete(this, a, b); }
void TSxCustomShellNotification::DoFileRename(TSxShellItem* a, TSxShellItem* b) { if (OnFileRename) OnFileRename(this, a, b); }
void TSxCustomShellNotification::DoFolderChange(TSxShellItem* a) { if (OnFolderChange) OnFolderChange(this, a); }
void TSxCustomShellNotification::DoFolderCreate(TSxShellItem* a) { if (OnFolderCreate) OnFolderCreate(this, a); }
void TSxCustomShellNotification::DoFolderDelete(TSxShellItem* a) { if (OnFolderDelete) OnFolderDelete(this, a); }
void TSxCustomShellNotification::DoFolderRename(TSxShellItem* a, TSxShellItem* b) { if (OnFolderRename) OnFolderRename(this, a, b); }
void TSxCustomShellNotification::DoImageListChange() { if (OnImageListChange) OnImageListChange(this); }
void TSxCustomShellNotification::DoMediaInsert(TSxShellItem* a) { if (OnMediaInsert) OnMediaInsert(this, a); }
void TSxCustomShellNotification::DoMediaRemove(TSxShellItem* a) { if (OnMediaRemove) OnMediaRemove(this, a); }
void TSxCustomShellNotification::DoNetShare(TSxShellItem* a) { if (OnNetShare) OnNetShare(this, a); }
void TSxCustomShellNotification::DoNetUnShare(TSxShellItem* a) { if (OnNetUnShare) OnNetUnShare(this, a); }
void TSxCustomShellNotification::DoServerDisconnect(TSxShellItem* a) { if (OnServerDisconnect) OnServerDisconnect(this, a); }
void TSxCustomShellNotification::DoShellDriveAdd(TSxShellItem* a) { if (OnShellDriveAdd) OnShellDriveAdd(this, a); }
void TSxCustomShellNotification::DoShellChangeNotify(TSxShellItem* a, TSxShellItem* b, TSxNotifyEventsSet e) {
  if (OnShellChangeNotify) OnShellChangeNotify(this, a, b, e);
}

} // namespace sx
