// Shell change notification over inotify. Changes in the watched folder (or,
// for the whole namespace, in the desktop, home and trash folders) and in the
// mount table become shell events; events are queued and fired one at a time
// on the user-interface thread, so a burst of changes never re-enters the
// handlers.
#pragma once

#include "shell/sxbase.h"
#include "shell/sxcontainers.h"
#include "shell/sxidlist.h"
#include "shell/sxnamespace.h"
#include "shell/sxshellitems.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QObject;
class QSocketNotifier;
class QTimer;

namespace sx {

enum TSxNotifyEvents {
  neAssociationChange, neAttributesChange, neFileChange, neFileCreate, neFileDelete,
  neFileRename, neDriveAdd, neDriveRemove, neShellDriveAdd, neDriveSpaceChange,
  neMediaInsert, neMediaRemove, neFolderCreate, neFolderDelete, neFolderRename,
  neFolderUpdate, neNetShare, neNetUnShare, neServerDisconnect, neImageListChange
};

// A set of change kinds: bit N stands for the kind of ordinal N.
using TSxNotifyEventsSet = std::uint32_t;
inline constexpr TSxNotifyEventsSet SxEventSet(TSxNotifyEvents e) { return 1u << e; }
inline constexpr TSxNotifyEventsSet kAllNotifyEvents = (1u << 20) - 1;

// The shell's event bits.
inline constexpr std::uint32_t SHCNE_RENAMEITEM = 0x1;
inline constexpr std::uint32_t SHCNE_CREATE = 0x2;
inline constexpr std::uint32_t SHCNE_DELETE = 0x4;
inline constexpr std::uint32_t SHCNE_MKDIR = 0x8;
inline constexpr std::uint32_t SHCNE_RMDIR = 0x10;
inline constexpr std::uint32_t SHCNE_MEDIAINSERTED = 0x20;
inline constexpr std::uint32_t SHCNE_MEDIAREMOVED = 0x40;
inline constexpr std::uint32_t SHCNE_DRIVEREMOVED = 0x80;
inline constexpr std::uint32_t SHCNE_DRIVEADD = 0x100;
inline constexpr std::uint32_t SHCNE_NETSHARE = 0x200;
inline constexpr std::uint32_t SHCNE_NETUNSHARE = 0x400;
inline constexpr std::uint32_t SHCNE_ATTRIBUTES = 0x800;
inline constexpr std::uint32_t SHCNE_UPDATEDIR = 0x1000;
inline constexpr std::uint32_t SHCNE_UPDATEITEM = 0x2000;
inline constexpr std::uint32_t SHCNE_SERVERDISCONNECT = 0x4000;
inline constexpr std::uint32_t SHCNE_UPDATEIMAGE = 0x8000;
inline constexpr std::uint32_t SHCNE_DRIVEADDGUI = 0x10000;
inline constexpr std::uint32_t SHCNE_RENAMEFOLDER = 0x20000;
inline constexpr std::uint32_t SHCNE_FREESPACE = 0x40000;
inline constexpr std::uint32_t SHCNE_ASSOCCHANGED = 0x8000000;

// The shell event bit each kind registers for.
std::uint32_t SxShellEventBit(TSxNotifyEvents kind);

class TSxCustomShellNotification;

using TSxShellNotifyEvent1 = std::function<void(TSyComponent* Sender, TSxShellItem* ShellItem)>;
using TSxShellNotifyEvent2 =
    std::function<void(TSyComponent* Sender, TSxShellItem* OldShellItem, TSxShellItem* NewShellItem)>;
using TSxShellNotifyEvent3 = std::function<void(TSyComponent* Sender, TSxShellItem* OldShellItem,
                                                TSxShellItem* NewShellItem, TSxNotifyEventsSet Events)>;
using TSxShellNotifyEvent4 = std::function<void(TSyComponent* Sender, std::uint32_t Drive)>;

// One queued event: the two lists (either may be missing) and the event bits.
class TSxNotificationItem {
public:
  TSxNotificationItem(const TSxItemIDList* list1, const TSxItemIDList* list2, std::uint32_t bits);
  std::optional<TSxItemIDList> List1, List2;
  std::uint32_t Bits;
};

class TSxCustomShellNotification : public TSyComponent {
public:
  TSxCustomShellNotification();
  ~TSxCustomShellNotification() override;

  bool Active() const { return FActive; }
  void SetActive(bool value);
  // 0: no limit; otherwise events beyond it are dropped.
  std::int32_t QueueLimit = 0;
  TSxNotifyEventsSet NotifyEvents() const { return FNotifyEvents; }
  void SetNotifyEvents(TSxNotifyEventsSet value);
  double ShellVersion() const { return FShellVersion; }
  TSxSpecialRootFolder SpecialWatchFolder() const { return FSpecialWatchFolder; }
  void SetSpecialWatchFolder(TSxSpecialRootFolder value);
  const std::string& WatchFolder() const { return FWatchFolder; }
  void SetWatchFolder(const std::string& value);
  bool WatchSubFolders() const { return FWatchSubFolders; }
  void SetWatchSubFolders(bool value);
  // None watches the whole namespace.
  void SetWatchIDList(const std::optional<TSxItemIDList>& list);
  const std::optional<TSxItemIDList>& WatchIDList() const { return FWatchIDList; }
  // Folders watched besides the watched folder, each without its
  // sub-folders: the folder tree follows every folder it has read this way.
  void SetExtraWatchFolders(const std::set<std::string>& paths);
  const std::set<std::string>& ExtraWatchFolders() const { return FExtraFolders; }
  bool Registered() const { return FRegistered; }
  void Loaded();

  // The kinds fired for the event being dispatched.
  TSxNotifyEventsSet FiredEvents = 0;

  // Every change report enters here: attribute changes fire at once, the
  // rest are queued and fired from the event loop.
  void ReceiveShellEvent(const TSxItemIDList* list1, const TSxItemIDList* list2, std::uint32_t bits);
  int QueuedEvents() const { return FQueue->Count(); }
  // Compares a new mount table with the last one seen and reports the drives
  // and media that came and went.
  void ProcessMountTable(const std::string& text);

  TSyNotifyEvent OnAssociationChange;
  TSxShellNotifyEvent2 OnAttributeChange;
  TSxShellNotifyEvent1 OnDriveAdd;
  TSxShellNotifyEvent1 OnDriveRemove;
  TSxShellNotifyEvent4 OnDriveSpaceChange;
  TSxShellNotifyEvent1 OnFileChange;
  TSxShellNotifyEvent1 OnFileCreate;
  TSxShellNotifyEvent2 OnFileDelete;
  TSxShellNotifyEvent2 OnFileRename;
  TSxShellNotifyEvent1 OnFolderChange;
  TSxShellNotifyEvent1 OnFolderCreate;
  TSxShellNotifyEvent1 OnFolderDelete;
  TSxShellNotifyEvent2 OnFolderRename;
  TSyNotifyEvent OnImageListChange;
  TSxShellNotifyEvent1 OnMediaInsert;
  TSxShellNotifyEvent1 OnMediaRemove;
  TSxShellNotifyEvent1 OnNetShare;
  TSxShellNotifyEvent1 OnNetUnShare;
  TSxShellNotifyEvent1 OnServerDisconnect;
  TSxShellNotifyEvent3 OnShellChangeNotify;
  TSxShellNotifyEvent1 OnShellDriveAdd;

protected:
  virtual void DoAssociationChange();
  virtual void DoAttributeChange(TSxShellItem* item1, TSxShellItem* item2);
  virtual void DoDriveAdd(TSxShellItem* item);
  virtual void DoDriveRemove(TSxShellItem* item);
  virtual void DoDriveSpaceChange(std::uint32_t drives);
  virtual void DoFileChange(TSxShellItem* item);
  virtual void DoFileCreate(TSxShellItem* item);
  virtual void DoFileDelete(TSxShellItem* item1, TSxShellItem* item2);
  virtual void DoFileRename(TSxShellItem* item1, TSxShellItem* item2);
  virtual void DoFolderChange(TSxShellItem* item);
  virtual void DoFolderCreate(TSxShellItem* item);
  virtual void DoFolderDelete(TSxShellItem* item);
  virtual void DoFolderRename(TSxShellItem* item1, TSxShellItem* item2);
  virtual void DoImageListChange();
  virtual void DoMediaInsert(TSxShellItem* item);
  virtual void DoMediaRemove(TSxShellItem* item);
  virtual void DoNetShare(TSxShellItem* item);
  virtual void DoNetUnShare(TSxShellItem* item);
  virtual void DoServerDisconnect(TSxShellItem* item);
  virtual void DoShellDriveAdd(TSxShellItem* item);
  virtual void DoShellChangeNotify(TSxShellItem* item1, TSxShellItem* item2,
                                   TSxNotifyEventsSet events);

  void Register();
  void Deregister();

private:
  struct TPendingMove {
    std::uint32_t Cookie;
    std::string Path;
    bool IsDir;
  };

  void DispatchQueue();
  void ReadEvents();
  void ReadMounts();
  // Answers false when a handler freed this object.
  bool HandleEvent(int wd, std::uint32_t mask, std::uint32_t cookie, const std::string& name);
  bool Report(std::uint32_t bit, const std::string& path1, const std::string& path2 = {});
  bool ReportList(std::uint32_t bit, const TSxItemIDList& list);
  bool FlushPendingMove();
  void AddWatch(const std::string& path, bool recursive);
  void RenameWatches(const std::string& from, const std::string& to);
  void WatchRootParent();
  bool MountInScope(const std::string& mountPoint) const;

  bool FActive = false;
  TSxNotifyEventsSet FNotifyEvents = kAllNotifyEvents;
  double FShellVersion;
  TSxSpecialRootFolder FSpecialWatchFolder = sfNone;
  std::string FWatchFolder;
  std::optional<TSxItemIDList> FWatchIDList;
  bool FWatchSubFolders = false;
  bool FRegistered = false;
  std::unique_ptr<TSxDQue> FQueue;

  // Stands for the private window: queued calls and notifiers hang on it.
  QObject* FContext = nullptr;
  std::shared_ptr<int> FAlive;
  int FBusy = 0;
  std::uint32_t FEventMask = 0;
  int FInotify = -1;
  QSocketNotifier* FInotifyNotifier = nullptr;
  std::map<int, std::string> FWatches;
  int FRootWatch = -1;
  std::string FRootPath;
  int FRootHandle = -1;
  int FParentWatch = -1;
  bool FRootGone = false;
  bool FRecursive = false;
  std::optional<TPendingMove> FPendingMove;
  // While events read together are reported: the system's folders and
  // mounts, looked at once for all of them.
  std::optional<TSxPathContext>* FPathContext = nullptr;
  QTimer* FPendingTimer = nullptr;
  int FMountsFd = -1;
  QSocketNotifier* FMountsNotifier = nullptr;
  std::vector<TSxMount> FMounts;
  bool FWholeNamespace = false;
  std::set<std::string> FExtraFolders;
  std::vector<std::string> FBaseFolders;
};

class TSxShellNotification : public TSxCustomShellNotification {};

} // namespace sx
