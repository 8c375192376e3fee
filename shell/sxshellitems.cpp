#include "shell/sxshellitems.h"
#include "platform/application.h"

#include "platform/fileproperties.h"
#include "platform/openurl.h"
#include "shell/sxfolderdrop.h"
#include "shell/sxguards.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtCore/QMimeDatabase>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileIconProvider>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMessageBox>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sx {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// An item's address for the desktop's opener: a file's by the bytes of its
// path, whose text would name another file.
QUrl UrlOfPath(const std::string& Path) {
  return Path.find(":///") != std::string::npos ? QUrl(Q(Path)) : QUrl::fromEncoded(platform::FileUri(Path));
}

// OnError when set, else a message box over window.
void Report(const std::function<void(const std::string&)>& OnError, QWidget* window, const std::string& text) {
  if (OnError) {
    OnError(text);
    return;
  }
  QMessageBox::warning(platform::DialogOwner(window), QStringLiteral("Error"), Q(text));
}

const QMimeDatabase& MimeDatabase() {
  static const QMimeDatabase db;
  return db;
}

QFileIconProvider& IconProvider() {
  static QFileIconProvider provider;
  return provider;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

double EncodeDateTime(std::int64_t year, unsigned month, unsigned day, unsigned hour,
                      unsigned minute, unsigned second) {
  const std::int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the day count is negative and the time of day still adds
  // away from zero, as the date-time type has it.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

bool LocalTime(std::int64_t unixTime, std::tm& out) {
  const std::time_t t = static_cast<std::time_t>(unixTime);
  return ::localtime_r(&t, &out) != nullptr;
}

QIcon ThemeIcon(const char* name, QFileIconProvider::IconType fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), IconProvider().icon(fallback));
}

// The system icon of an item: one per kind of virtual root, per folder state
// and per file type.
int IconIndexOf(const TSxItemIDList& absolute, bool open) {
  TSxSystemImageList& images = TSxSystemImageList::Instance();
  const std::vector<std::string> c = absolute.Components();
  if (c.empty())
    return images.IndexOf("desktop", [] { return IconProvider().icon(QFileIconProvider::Desktop); });
  if (c.size() == 1 && c[0] == kHomeID)
    return images.IndexOf("home", [] { return ThemeIcon("user-home", QFileIconProvider::Folder); });
  if (c.size() == 1 && c[0] == kComputerID)
    return images.IndexOf("computer", [] { return IconProvider().icon(QFileIconProvider::Computer); });
  if (c.size() == 1 && c[0] == kTrashID)
    return images.IndexOf("trash", [] { return IconProvider().icon(QFileIconProvider::Trashcan); });
  if (c.size() == 2 && c[0] == kComputerID)
    return images.IndexOf("drive", [] { return IconProvider().icon(QFileIconProvider::Drive); });
  if (SxAttributesOf(absolute, SFGAO_FOLDER)) return SxFolderIconIndex(open);
  return SxMimeIconIndex(SxMimeNameOf(SxIDListToPath(absolute)));
}

// The kind of drive a path lies on: 2 removable, 3 fixed, 4 remote, 5 optical.
int DriveTypeOf(const std::string& path, const std::vector<TSxMount>& mounts) {
  const TSxMount* best = nullptr;
  for (const TSxMount& m : mounts) {
    const std::string& mp = m.MountPoint;
    const bool contains = mp == "/" || path == mp ||
                          (path.size() > mp.size() && path.compare(0, mp.size(), mp) == 0 &&
                           path[mp.size()] == '/');
    if (contains && (!best || mp.size() >= best->MountPoint.size())) best = &m;
  }
  if (!best) return 1;
  static const char* const kRemote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs",
                                        "9p", "afs", "ceph", "glusterfs", "davfs"};
  for (const char* fs : kRemote)
    if (best->FileSystem == fs) return 4;
  if (best->FileSystem == "iso9660" || best->FileSystem == "udf") return 5;
  const std::string& mp = best->MountPoint;
  if (mp.rfind("/media/", 0) == 0 || mp.rfind("/run/media/", 0) == 0) return 2;
  return 3;
}

std::vector<TSxMount> AllMounts() {
  std::ifstream in("/proc/self/mounts");
  std::stringstream text;
  text << in.rdbuf();
  return SxParseMountTable(text.str());
}

std::string Extension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string SubItemText(const TSxShellItem& item, int column) {
  const int index = column - 1;
  if (index < 0 || index >= static_cast<int>(item.SubItems.size())) return {};
  return item.SubItems[static_cast<std::size_t>(index)];
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }


// Folders before everything else; 0 when both or neither are folders.
int FoldersFirst(const TSxShellItem& a, const TSxShellItem& b) {
  if (a.IsFolder == b.IsFolder) return 0;
  return a.IsFolder ? -1 : 1;
}

} // namespace

// ---------------------------------------------------------------- image lists

int SxFolderIconIndex(bool open) {
  TSxSystemImageList& images = TSxSystemImageList::Instance();
  if (open)
    return images.IndexOf("folder-open", [] { return ThemeIcon("folder-open", QFileIconProvider::Folder); });
  return images.IndexOf("folder", [] { return IconProvider().icon(QFileIconProvider::Folder); });
}

int SxMimeIconIndex(const QString& mimeName) {
  return TSxSystemImageList::Instance().IndexOf("mime:" + mimeName, [mimeName] {
    const QMimeType mime = MimeDatabase().mimeTypeForName(mimeName);
    return QIcon::fromTheme(mime.iconName(),
                            QIcon::fromTheme(mime.genericIconName(),
                                             IconProvider().icon(QFileIconProvider::File)));
  });
}

QIcon SxDecoratedIcon(const QIcon& Base, bool Ghosted, bool Link) {
  QIcon out;
  for (int size : {16, 32}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    if (Ghosted) p.setOpacity(0.5);
    p.drawPixmap(0, 0, Base.pixmap(size, size));
    p.setOpacity(1);
    if (Link) {
      const int s = size / 2;
      const QRect box(0, size - s, s, s);
      p.fillRect(box, Qt::white);
      p.setPen(Qt::black);
      p.drawRect(box.adjusted(0, 0, -1, -1));
      p.drawLine(box.left() + 2, box.bottom() - 2, box.right() - 2, box.top() + 2);
      p.drawLine(box.right() - 2, box.top() + 2, box.right() - 2 - s / 4, box.top() + 2);
      p.drawLine(box.right() - 2, box.top() + 2, box.right() - 2, box.top() + 2 + s / 4);
    }
    p.end();
    out.addPixmap(pm);
  }
  return out;
}

QString SxMimeNameOf(const std::string& fileName) {
  return MimeDatabase().mimeTypeForFile(Q(fileName), QMimeDatabase::MatchExtension).name();
}

std::string SxMimeDescriptionOf(const std::string& fileName) {
  const QMimeType mime = MimeDatabase().mimeTypeForFile(Q(fileName), QMimeDatabase::MatchExtension);
  return mime.isDefault() ? std::string() : mime.comment().toStdString();
}

int SxDriveType(const std::string& path) { return DriveTypeOf(path, AllMounts()); }

int SxAnsiCompareText(const std::string& a, const std::string& b) {
  return Sign(QString::localeAwareCompare(Q(a).toCaseFolded(), Q(b).toCaseFolded()));
}

int SxAnsiCompareStr(const std::string& a, const std::string& b) {
  return Sign(QString::localeAwareCompare(Q(a), Q(b)));
}

TSxSystemImageList& TSxSystemImageList::Instance() {
  static TSxSystemImageList list;
  return list;
}

QIcon TSxSystemImageList::Icon(int index) const {
  if (index < 0 || index >= Count()) return {};
  return FIcons[static_cast<std::size_t>(index)];
}

int TSxSystemImageList::IndexOf(const QString& key, const std::function<QIcon()>& make) {
  for (std::size_t i = 0; i < FKeys.size(); ++i)
    if (FKeys[i] == key) return static_cast<int>(i);
  FKeys.push_back(key);
  FIcons.push_back(make());
  return static_cast<int>(FIcons.size() - 1);
}

QPixmap TSxImageList::Pixmap(int index) const { return Icon(index).pixmap(Width, Height); }

// ---------------------------------------------------------------- dates

std::uint32_t SxDosDateTime(std::int64_t unixTime) {
  std::tm t {};
  if (!LocalTime(unixTime, t)) return 0;
  const int year = t.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
  const std::uint32_t time = static_cast<std::uint32_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
  return (date << 16) | time;
}

double SxDosDateTimeToDateTime(std::uint32_t dos) {
  const std::uint32_t date = dos >> 16, time = dos & 0xFFFF;
  return EncodeDateTime(1980 + (date >> 9), (date >> 5) & 15, date & 31, time >> 11,
                        (time >> 5) & 63, (time & 31) * 2);
}

double SxLocalDateTime(std::int64_t unixTime) {
  std::tm t {};
  if (!LocalTime(unixTime, t)) return 0;
  return EncodeDateTime(t.tm_year + 1900LL, static_cast<unsigned>(t.tm_mon + 1),
                        static_cast<unsigned>(t.tm_mday), static_cast<unsigned>(t.tm_hour),
                        static_cast<unsigned>(t.tm_min), static_cast<unsigned>(t.tm_sec));
}

int CompareText(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int x = std::toupper(static_cast<unsigned char>(a[i]));
    const int y = std::toupper(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// ---------------------------------------------------------------- controller

TSxCustomShellController::TSxCustomShellController()
    : DesktopFolder(TSxNamespaceFolder::Desktop()), ItemList(std::make_unique<TSxShellItemList>()) {}

TSxCustomShellController::~TSxCustomShellController() = default;

std::string TSxCustomShellController::GetItemName(const TSxNamespaceFolder& folder,
                                                  const TSxItemIDList& relative, std::uint32_t flags) {
  return folder.GetDisplayNameOf(relative, flags);
}

std::shared_ptr<TSxNamespaceFolder> TSxCustomShellController::BindFolder(
    const TSxNamespaceFolder& folder, const TSxItemIDList& relative) {
  std::shared_ptr<TSxNamespaceFolder> bound = folder.BindToObject(relative);
  if (bound && OnFolderBound) OnFolderBound(*bound);
  return bound;
}

bool TSxCustomShellController::ParsePath(const std::string& path, const TSxNamespaceFolder& folder,
                                         TSxItemIDList& list) {
  // The whole path is parsed: long paths are not cut to a fixed length.
  return folder.ParseDisplayName(path, list);
}

std::shared_ptr<TSxNamespaceFolder> TSxCustomShellController::GetParentFolder(
    const TSxItemIDList& absolute) {
  if (absolute.Count() <= 1) return nullptr;
  TSxItemIDList parent = ILClone(absolute);
  ILRemoveLastID(parent);
  return DesktopFolder->BindToObject(parent);
}

void TSxCustomShellController::GetItemDisplayInfo(const TSxItemIDList& absolute,
                                                  std::uint32_t& attributes, std::string& displayName,
                                                  int& openIconIndex, int& iconIndex) {
  attributes = SxAttributesOf(absolute, SFGAO_FOLDER | SFGAO_SHARE | SFGAO_LINK);
  displayName = SxDisplayNameOf(absolute, SHGDN_NORMAL);
  iconIndex = IconIndexOf(absolute, false);
  if (iconIndex == 2 && BootIconIndex != -1) iconIndex = BootIconIndex;
  openIconIndex = (attributes & SFGAO_FOLDER) ? IconIndexOf(absolute, true) : iconIndex;
}

void TSxCustomShellController::GetItemIconInfo(const TSxItemIDList& absolute,
                                               std::uint32_t& attributes, std::string& displayName,
                                               int& openIconIndex, int& iconIndex, int& overlay) {
  GetItemDisplayInfo(absolute, attributes, displayName, openIconIndex, iconIndex);
  overlay = (attributes & SFGAO_SHARE) ? 0 : (attributes & SFGAO_LINK) ? 1 : -1;
}

void TSxCustomShellController::EnumerateFolder(const TSxItemIDList& folderList, TSxEnumKind kind) {
  std::uint32_t flags = SHCONTF_FOLDERS;
  if (kind == ekTree) {
    if (!TreeView) return;
    if (TreeView->ShowFiles()) flags |= SHCONTF_NONFOLDERS;
    if (TreeView->ShowHidden()) flags |= SHCONTF_INCLUDEHIDDEN;
  } else if (kind == ekList) {
    if (!ListView) return;
    flags |= SHCONTF_NONFOLDERS;
    if (ListView->ShowHidden()) flags |= SHCONTF_INCLUDEHIDDEN;
  } else if (!ComboBox) {
    return;
  }

  std::shared_ptr<TSxNamespaceFolder> folder;
  if (std::shared_ptr<TSxNamespaceFolder> parent = GetParentFolder(folderList)) {
    folder = BindFolder(*parent, ILFindLastID(folderList));
  } else {
    folder = BindFolder(*DesktopFolder, folderList);
    if (!folder) folder = DesktopFolder;
  }
  if (!folder) return;
  std::unique_ptr<TSxEnumIDList> items = folder->EnumObjects(flags);
  if (!items) return;

  bool animation = false;
  if (kind == ekList && SxAttributesOf(folderList, SFGAO_FILESYSTEM) && ListView->WindowExists()) {
    ListView->ShowSearchAnimation();
    animation = true;
  }
  std::vector<TSxMount> mounts;
  bool mountsRead = false;

  TSxItemIDList id;
  while (items->Next(id)) {
    if (animation) {
      ListView->HideSearchAnimation();
      animation = false;
    }
    std::uint32_t mask = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_SHARE;
    if (kind == ekTree) mask |= SFGAO_HASSUBFOLDER;
    const std::uint32_t attrs = folder->GetAttributesOf(id, mask);

    std::unique_ptr<TSxShellItem> item;
    if (kind == ekList) item = std::make_unique<TSxShellItem>(this);
    else item = std::make_unique<TSxShellFolder>(this);
    item->AbsoluteIDList = ILCombine(folder->AbsoluteIDList(), id);
    item->RelativeIDList = id;
    item->Path = GetItemName(*folder, id, SHGDN_FORPARSING);
    item->IsFileSystem = (attrs & SFGAO_FILESYSTEM) != 0;
    item->IsFolder = item->IsFileSystem && (attrs & SFGAO_FOLDER);
    item->IsFile = item->IsFileSystem && !(attrs & SFGAO_FOLDER);
    item->ParentFolder = folder;
    if (kind == ekList && ListView->OptimizeDisplay()) {
      std::uint32_t a = 0;
      GetItemIconInfo(item->AbsoluteIDList, a, item->DisplayName, item->OpenIconIndex,
                      item->IconIndex, item->OverlayIndex);
    } else {
      item->DisplayName = GetItemName(*folder, id, SHGDN_NORMAL);
    }

    if (kind == ekList) {
      item->ListIndex = ListView->ShellItems().Count();
      if (!ListView->DoFilterItem(item.get())) continue;
      TSxShellItem* added = item.get();
      ListView->ShellItems().Add(std::move(item));
      if (ListView->ReportStyle()) ListView->AddListItem(added);
    } else if (kind == ekTree) {
      if (!TreeView->DoFilterItem(item.get())) continue;
      const bool shared = (attrs & SFGAO_SHARE) != 0;
      const int overlay = shared ? 0 : item->IsLink() ? 1 : -1;
      const bool hasSub = (attrs & SFGAO_HASSUBFOLDER) != 0;
      const bool isFolder = item->IsFolder;
      const std::string path = item->Path;
      item->ListIndex = TreeView->FolderCount();
      std::unique_ptr<TSxShellFolder> node(static_cast<TSxShellFolder*>(item.release()));
      TSxShellFolder* added = node.get();
      TSxTreeNode handle = TreeView->AddFolderNode(ParentNode, std::move(node), overlay);
      if (!(attrs & SFGAO_FOLDER) && !isFolder) continue;
      if (!mountsRead) {
        mounts = AllMounts();
        mountsRead = true;
      }
      const int driveType = DriveTypeOf(path, mounts);
      if (hasSub && (driveType == 1 || driveType == 2 || driveType == 4 || driveType == 5)) {
        // Slow or absent media are not read just to draw an expand button.
        TreeView->MarkHasChildren(handle);
      } else if (hasSub || (TreeView->ShowFiles() && isFolder)) {
        if (std::shared_ptr<TSxNamespaceFolder> sub = BindFolder(*folder, added->RelativeIDList))
          if (sub->EnumObjects(SHCONTF_FOLDERS)) TreeView->MarkHasChildren(handle);
      }
    } else {
      std::uint32_t a = 0;
      GetItemIconInfo(item->AbsoluteIDList, a, item->DisplayName, item->OpenIconIndex,
                      item->IconIndex, item->OverlayIndex);
      ComboBox->AddFolder(std::unique_ptr<TSxShellFolder>(static_cast<TSxShellFolder*>(item.release())));
    }
  }
  if (animation) ListView->HideSearchAnimation();
}

int TSxCustomShellController::ShowContextMenu(const void* control,
                                              const std::shared_ptr<TSxNamespaceFolder>& folder,
                                              QWidget* window, int x, int y,
                                              const std::vector<TSxItemIDList>& ids) {
  if (!folder || ids.empty()) return -1;
  bool canRename = false;
  if (TreeView && control == static_cast<const void*>(TreeView)) canRename = TreeView->AllowRename();
  if (ListView && control == static_cast<const void*>(ListView)) canRename = ListView->AllowRename();

  bool allFileSystem = true, allDeletable = true;
  for (const TSxItemIDList& id : ids) {
    const std::uint32_t a = folder->GetAttributesOf(id, SFGAO_FILESYSTEM | SFGAO_CANDELETE);
    allFileSystem = allFileSystem && (a & SFGAO_FILESYSTEM);
    allDeletable = allDeletable && (a & SFGAO_CANDELETE);
  }
  const bool oneFolder = ids.size() == 1 && folder->GetAttributesOf(ids[0], SFGAO_FOLDER) &&
                         !SxIDListToPath(ILCombine(folder->AbsoluteIDList(), ids[0])).empty();

  QMenu menu(window);
  auto add = [&menu](const char* text, int command, bool enabled) {
    QAction* action = menu.addAction(QString::fromLatin1(text));
    action->setData(command);
    action->setEnabled(enabled);
  };
  add("&Open", cmOpen, true);
  menu.addSeparator();
  add("Cu&t", cmCut, allFileSystem && allDeletable);
  add("&Copy", cmCopy, allFileSystem);
  if (oneFolder) add("&Paste", cmPaste, SxClipboardHasFiles());
  menu.addSeparator();
  if (allFileSystem) add("Move to &Trash", cmMoveToTrash, allDeletable);
  if (canRename && ids.size() == 1 && folder->GetAttributesOf(ids[0], SFGAO_CANRENAME))
    add("Rena&me", cmRename, true);
  menu.addSeparator();
  add("P&roperties", cmProperties, allFileSystem);

  int command = 0;
  if (OnPopupMenu) {
    command = OnPopupMenu(menu);
  } else if (QAction* chosen = menu.exec(QPoint(x, y))) {
    command = chosen->data().toInt();
  }
  if (command > 0) InvokeCommand(command, folder, window, ids);
  return command;
}

bool TSxCustomShellController::InvokeCommand(int command, const std::shared_ptr<TSxNamespaceFolder>& folder,
                                             QWidget* window, const std::vector<TSxItemIDList>& ids) {
  if (!folder || ids.empty()) return false;
  std::vector<std::string> paths;
  for (const TSxItemIDList& id : ids) paths.push_back(folder->GetDisplayNameOf(id, SHGDN_FORPARSING));
  switch (command) {
  case cmOpen:
    OpenPaths(window, paths);
    return true;
  case cmCut:
  case cmCopy:
    SxSetClipboardFiles(folder->AbsoluteIDList(), ids,
                        command == cmCut ? TSxClipboardAction::Cut : TSxClipboardAction::Copy);
    return true;
  case cmPaste:
    return SxPasteFiles(this, window, paths.front());
  case cmMoveToTrash: {
    if (SxBeforeTransfer && !SxBeforeTransfer(paths)) return false;
    TSxFileOperation op(window);
    op.Operation = fopDelete;
    // The trash keeps every file, so there is nothing to ask; failures are
    // told below.
    op.Options = {foAllowUndo, foNoConfirmation, foNoErrorUI};
    op.SetSourceFiles(paths);
    op.OnConfirm = OnConfirm;
    bool ok = false;
    try {
      ok = op.Execute();
    } catch (const ESyException& e) {
      op.LastErrorText = e.what();
    }
    if (!ok && op.LastError != ERROR_CANCELLED)
      ReportError(window, "Could not move to the trash: " + op.LastErrorText);
    return ok;
  }
  case cmProperties: {
    // Asked without waiting: a file manager may be slow to start or not
    // there at all, and the view goes on meanwhile. The answer may come after
    // this controller is gone, so it carries what reporting needs.
    QPointer<QWidget> owner(window);
    platform::ShowFilePropertiesAsync(
        paths, window ? static_cast<QObject*>(window) : qApp, [owner, onError = OnCommandError](bool shown) {
          if (!shown) Report(onError, owner, "No file manager could show the properties.");
        });
    return true;
  }
  default:
    return command == cmRename;
  }
}

bool TSxCustomShellController::RenameItem(QWidget* window, const TSxNamespaceFolder& folder,
                                          const TSxItemIDList& relative, const std::string& oldName,
                                          const std::string& name, TSxItemIDList& newRelative) {
  if (!SxValidItemName(name)) {
    ReportError(window, "\"" + name + "\" is not a valid name: a name may not be \".\" or \"..\", hold \"/\", "
                        "or be longer than 255 bytes.");
    return false;
  }
  // The file leaves its name: whoever holds it by that name settles first.
  if (SxBeforeTransfer && !SxBeforeTransfer({folder.GetDisplayNameOf(relative, SHGDN_FORPARSING)})) return false;
  bool ok;
  int error;
  {
    TSxWaitCursor wait;
    ok = folder.SetNameOf(relative, name, newRelative);
    error = errno;
  }
  if (!ok)
    ReportError(window, error == EEXIST ? "\"" + name + "\" already exists."
                                        : "Could not rename \"" + oldName + "\": " + std::strerror(error));
  return ok;
}

void TSxCustomShellController::ReportError(QWidget* window, const std::string& text) {
  Report(OnCommandError, window, text);
}

void TSxCustomShellController::OpenPaths(QWidget* window, const std::vector<std::string>& paths) {
  // The desktop's opener tells whether a program took the file only when
  // it ends: started is not opened.
  QPointer<QWidget> owner(window);
  for (const std::string& path : paths) {
    platform::OpenUrlAsync(UrlOfPath(path), window ? static_cast<QObject*>(window) : qApp,
                           [owner, onError = OnCommandError, path](bool opened) {
                             if (!opened) Report(onError, owner, "No program could open " + path + ".");
                           });
  }
}

// ---------------------------------------------------------------- items

TSxShellItem::TSxShellItem(TSxCustomShellController* controller) : Controller(controller) {
  if (!Controller) {
    FOwnedController = std::make_unique<TSxCustomShellController>();
    Controller = FOwnedController.get();
    OwnsController = true;
  }
}

TSxShellItem::~TSxShellItem() = default;

void TSxShellItem::InitFromIDList(const TSxItemIDList& absolute, bool readPathFirst) {
  AbsoluteIDList = ILClone(absolute);
  RelativeIDList = ILFindLastID(absolute);
  ParentFolder = Controller->GetParentFolder(absolute);
  if (!ParentFolder && absolute.Count() > 1) {
    // An item already gone (as in a deletion report) still names its own
    // parent rather than the desktop.
    TSxItemIDList parent = ILClone(absolute);
    ILRemoveLastID(parent);
    ParentFolder = std::make_shared<TSxNamespaceFolder>(parent);
  }
  if (!ParentFolder) ParentFolder = Controller->DesktopFolder;
  if (readPathFirst) {
    Path = Controller->GetItemName(*ParentFolder, RelativeIDList, SHGDN_FORPARSING);
    DisplayName = Controller->GetItemName(*ParentFolder, RelativeIDList, SHGDN_NORMAL);
  } else {
    DisplayName = Controller->GetItemName(*ParentFolder, RelativeIDList, SHGDN_NORMAL);
    Path = Controller->GetItemName(*ParentFolder, RelativeIDList, SHGDN_FORPARSING);
  }
  if (Path.rfind("\\\\", 0) == 0) {
    const std::size_t on = DisplayName.find(SyStr::On);
    if (on != std::string::npos) DisplayName.resize(on);
  }
  const std::uint32_t attrs =
      ParentFolder->GetAttributesOf(RelativeIDList, SFGAO_FILESYSTEM | SFGAO_FOLDER);
  IsFileSystem = (attrs & SFGAO_FILESYSTEM) != 0;
  IsFolder = IsFileSystem && (attrs & SFGAO_FOLDER);
  IsFile = IsFileSystem && !(attrs & SFGAO_FOLDER);
  IsDesktop = ILIsEqual(AbsoluteIDList, *SHGetSpecialFolderLocation(0));
}

std::unique_ptr<TSxShellItem> TSxShellItem::CreateFromPath(const std::string& path,
                                                           TSxCustomShellController* controller) {
  auto item = std::make_unique<TSxShellItem>(controller);
  TSxItemIDList list;
  if (!item->Controller->ParsePath(path, *item->Controller->DesktopFolder, list))
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  item->InitFromIDList(list, false);
  return item;
}

std::unique_ptr<TSxShellItem> TSxShellItem::CreateFromIDList(const TSxItemIDList& absolute,
                                                             TSxCustomShellController* controller) {
  auto item = std::make_unique<TSxShellItem>(controller);
  item->InitFromIDList(absolute, true);
  return item;
}

std::unique_ptr<TSxShellFolder> TSxShellFolder::CreateFromPath(const std::string& path,
                                                               TSxCustomShellController* controller) {
  auto item = std::make_unique<TSxShellFolder>(controller);
  TSxItemIDList list;
  if (!item->Controller->ParsePath(path, *item->Controller->DesktopFolder, list))
    RaiseSyError<ESyInvalidFolder>(scInvalidFolder);
  item->InitFromIDList(list, false);
  return item;
}

std::unique_ptr<TSxShellFolder> TSxShellFolder::CreateFromIDList(const TSxItemIDList& absolute,
                                                                 TSxCustomShellController* controller) {
  auto item = std::make_unique<TSxShellFolder>(controller);
  item->InitFromIDList(absolute, true);
  return item;
}

void TSxShellItem::Assign(const TSxShellItem& other, bool ShareParent) {
  DisplayName = other.DisplayName;
  Path = other.Path;
  TypeName = other.TypeName;
  Attributes = other.Attributes;
  AttributeText = other.AttributeText;
  Date = other.Date;
  DosDateTime = other.DosDateTime;
  Size = other.Size;
  IsDesktop = other.IsDesktop;
  IsFile = other.IsFile;
  IsFolder = other.IsFolder;
  IsFileSystem = other.IsFileSystem;
  IconIndex = other.IconIndex;
  OpenIconIndex = other.OpenIconIndex;
  OverlayIndex = other.OverlayIndex;
  ListIndex = other.ListIndex;
  SubItems = other.SubItems;
  Flags = other.Flags;
  // A controller that the other item owns dies with it; this item then keeps
  // its own rather than a pointer that would dangle.
  if (!other.OwnsController && other.Controller != Controller) {
    FOwnedController.reset();
    OwnsController = false;
    Controller = other.Controller;
  }
  AbsoluteIDList = ILClone(other.AbsoluteIDList);
  RelativeIDList = ILClone(other.RelativeIDList);
  ParentFolder = ShareParent ? other.ParentFolder : Controller->GetParentFolder(AbsoluteIDList);
}

void TSxShellItem::ReadDetails() {
  if (!IsFileSystem) return;
  struct statx st {};
  if (::statx(AT_FDCWD, Path.c_str(), 0, STATX_BASIC_STATS, &st) != 0 &&
      ::statx(AT_FDCWD, Path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &st) != 0) {
    Size = 0;
    return;
  }
  const bool directory = S_ISDIR(st.stx_mode);
  const bool compressed = (st.stx_attributes_mask & STATX_ATTR_COMPRESSED) && (st.stx_attributes & STATX_ATTR_COMPRESSED);
  SetDetails(directory, static_cast<std::int64_t>(st.stx_size), st.stx_mtime.tv_sec,
             ::access(Path.c_str(), W_OK) == 0, compressed);
  if (!directory) TypeName = SxMimeDescriptionOf(Path);
}

void TSxShellItem::SetDetails(bool directory, std::int64_t size, std::int64_t modified, bool writable,
                              bool compressed) {
  // Sizes are kept whole: files of 4 GB and more are common.
  Size = directory ? 0 : size;
  Attributes = 0;
  if (directory) {
    IsFolder = true;
    Attributes |= faDirectory;
  }
  if (!writable) Attributes |= faReadOnly;
  const std::size_t slash = Path.find_last_of('/');
  if (Path.compare(slash == std::string::npos ? 0 : slash + 1, 1, ".") == 0) Attributes |= faHidden;
  if (compressed) Attributes |= faCompressed;
  if (Attributes == 0) Attributes = faNormal;
  DosDateTime = SxDosDateTime(modified);
  // A time the packed form cannot hold (before 1980) is still the file's own
  // time, not the present one.
  Date = DosDateTime != 0 ? SxDosDateTimeToDateTime(DosDateTime) : SxLocalDateTime(modified);
  AttributeText.clear();
  if (Attributes & faHidden) AttributeText += 'H';
  if (Attributes & faSystem) AttributeText += 'S';
  if (Attributes & faReadOnly) AttributeText += 'R';
  if (Attributes & faCompressed) AttributeText += 'C';
  if (Attributes & faArchive) AttributeText += 'A';
}

std::int64_t TSxShellItem::GetSize() {
  if (Size == -1) ReadDetails();
  return Size;
}

void TSxShellItem::FillIconInfo() {
  std::uint32_t attrs = 0;
  std::string name;
  Controller->GetItemIconInfo(AbsoluteIDList, attrs, name, OpenIconIndex, IconIndex, OverlayIndex);
}

int TSxShellItem::GetIconIndex() {
  if (IconIndex == -1) FillIconInfo();
  return IconIndex;
}

int TSxShellItem::GetOpenIconIndex() {
  if (IconIndex == -1) FillIconInfo();
  return OpenIconIndex;
}

int TSxShellItem::GetOverlayIndex() {
  if (IconIndex == -1) FillIconInfo();
  return OverlayIndex;
}

const QIcon* TSxShellItem::GetSmallIcon() {
  if (!FSmallIcon) FSmallIcon = std::make_unique<QIcon>(TSxSystemImageList::Instance().Icon(GetIconIndex()));
  return FSmallIcon.get();
}

bool TSxShellItem::Execute() {
  return QDesktopServices::openUrl(UrlOfPath(Path));
}

bool TSxShellItem::Attribute(std::uint32_t bit, bool needsParentOnly) {
  if (!needsParentOnly && IsDesktop) return false;
  if (!ParentFolder) return false;
  return ParentFolder->GetAttributesOf(RelativeIDList, bit) != 0;
}

TSxShellItem* TSxShellItemList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<std::size_t>(index)].get();
}

// ---------------------------------------------------------------- sorting

int CompareTreeNodes(TSxCustomShellController& controller, const TSxShellFolder& a,
                     const TSxShellFolder& b) {
  return static_cast<std::int16_t>(controller.DesktopFolder->CompareIDs(0, a.AbsoluteIDList, b.AbsoluteIDList));
}

int CompareAbsolute(TSxCustomShellController& controller, const TSxShellItem& a,
                    const TSxShellItem& b) {
  return static_cast<std::int16_t>(controller.DesktopFolder->CompareIDs(0, a.AbsoluteIDList, b.AbsoluteIDList));
}

int CompareByName(const TSxShellItem& a, const TSxShellItem& b) {
  if (!a.ParentFolder) return 0;
  return static_cast<std::int16_t>(a.ParentFolder->CompareIDs(0, a.RelativeIDList, b.RelativeIDList));
}

int CompareBySize(TSxShellItem& a, TSxShellItem& b) {
  if (const int f = FoldersFirst(a, b)) return f;
  const std::int64_t x = a.GetSize(), y = b.GetSize();
  if (x != y) return x < y ? -1 : 1;
  return CompareText(a.Path, b.Path);
}

int CompareByType(const TSxShellItem& a, const TSxShellItem& b, int column) {
  if (const int f = FoldersFirst(a, b)) return f;
  if (a.IsFolder) return CompareText(a.DisplayName, b.DisplayName);
  return SxAnsiCompareText(SubItemText(a, column), SubItemText(b, column));
}

int CompareByExtension(const TSxShellItem& a, const TSxShellItem& b, int column) {
  if (const int f = FoldersFirst(a, b)) return f;
  if (a.IsFolder) return CompareText(a.DisplayName, b.DisplayName);
  return SxAnsiCompareStr(Extension(a.Path), Extension(b.Path));
}

int CompareByDate(TSxShellItem& a, TSxShellItem& b) {
  if (const int f = FoldersFirst(a, b)) return f;
  if (a.Size == -1) a.ReadDetails();
  if (b.Size == -1) b.ReadDetails();
  if (a.Date == b.Date) return 0;
  return a.Date > b.Date ? -1 : 1;
}

int CompareByAttributes(const TSxShellItem& a, const TSxShellItem& b, int column) {
  if (const int f = FoldersFirst(a, b)) return f;
  return CompareText(SubItemText(a, column), SubItemText(b, column));
}

int CompareBySubItem(const TSxShellItem& a, const TSxShellItem& b, int column) {
  return CompareText(SubItemText(a, column), SubItemText(b, column));
}

} // namespace sx
