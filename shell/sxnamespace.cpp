#include "shell/sxnamespace.h"

#include "shell/sxbase.h"
#include "platform/shfileop.h"

#include <QtCore/QDir>
#include <QtCore/QStandardPaths>
#include <QtCore/QStorageInfo>
#include <QtCore/QString>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sx {

namespace {

std::string Std(const QString& s) { return s.toStdString(); }

std::string CleanPath(const std::string& path) { return platform::CleanFilePath(path); }

std::string JoinPath(const std::string& base, const std::string& name) {
  if (base.empty() || base.back() == '/') return base + name;
  return base + "/" + name;
}

bool IsUnder(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  if (root == "/") return !path.empty() && path[0] == '/';
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

std::vector<std::string> SplitPath(const std::string& rel) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(rel);
  while (std::getline(in, part, '/'))
    if (!part.empty()) out.push_back(part);
  return out;
}

bool ValidName(const std::string& c) {
  return !c.empty() && c != "." && c != ".." && c.find('/') == std::string::npos;
}

// Appends Names[From..] to Path, in place: a list of many names costs the
// length of its path, not its square. False at a name no file can have.
bool JoinNames(std::string& Path, const std::vector<std::string>& Names, std::size_t From) {
  for (std::size_t i = From; i < Names.size(); ++i) {
    if (!ValidName(Names[i])) return false;
    if (!Path.empty() && Path.back() != '/') Path += '/';
    Path += Names[i];
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string LastComponent(const std::string& path) {
  const std::size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

enum class TKind { Desktop, Home, Computer, Mount, Trash, FsItem, Invalid };

struct TResolved {
  TKind Kind;
  std::string Path;
};

TResolved Resolve(const std::vector<std::string>& c) {
  if (c.empty()) return {TKind::Desktop, SxDesktopDirectory()};
  std::string base;
  std::size_t i = 1;
  TKind kind;
  if (c[0] == kHomeID) {
    base = SxHomeDirectory();
    kind = TKind::Home;
  } else if (c[0] == kTrashID) {
    if (c.size() == 1) return {TKind::Trash, {}};
    base = SxTrashFilesDirectory();
    kind = TKind::FsItem;
  } else if (c[0] == kComputerID) {
    if (c.size() == 1) return {TKind::Computer, {}};
    if (c[1].empty() || c[1][0] != '/') return {TKind::Invalid, {}};
    base = CleanPath(c[1]);
    i = 2;
    kind = TKind::Mount;
  } else if (c[0].compare(0, 2, "//") == 0) {
    return {TKind::Invalid, {}};
  } else {
    base = SxDesktopDirectory();
    i = 0;
    kind = TKind::FsItem;
  }
  if (!JoinNames(base, c, i)) return {TKind::Invalid, {}};
  if (i < c.size()) kind = TKind::FsItem;
  return {kind, base};
}

TResolved Resolve(const TSxItemIDList& list) { return Resolve(list.Components()); }

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The mount table writes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && IsOctal(s[i + 1]) && IsOctal(s[i + 2]) &&
        IsOctal(s[i + 3])) {
      out += static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

const std::set<std::string>& PseudoFileSystems() {
  static const std::set<std::string> kinds = {
      "proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs",
      "tracefs", "pstore", "bpf", "mqueue", "hugetlbfs", "configfs", "fusectl", "autofs",
      "binfmt_misc", "nsfs", "rpc_pipefs", "efivarfs", "selinuxfs", "fuse.gvfsd-fuse",
      "fuse.portal"};
  return kinds;
}

// The compressed flag as the file system reports it; false where it has none.
bool IsCompressedFile(const std::string& path) {
  struct statx stx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, 0, &stx) != 0) return false;
  return (stx.stx_attributes_mask & STATX_ATTR_COMPRESSED) && (stx.stx_attributes & STATX_ATTR_COMPRESSED);
}

bool Writable(const std::string& dir) { return ::access(dir.empty() ? "/" : dir.c_str(), W_OK) == 0; }

std::string ParentOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

} // namespace

int SxRootRank(const std::string& component) {
  if (component == kHomeID) return 0;
  if (component == kComputerID) return 1;
  if (component == kTrashID) return 2;
  return -1;
}

namespace {

// Each run of digits becomes "0", its length without leading zeros, and those
// digits: a run then sorts against any other character as a digit does, and
// against another run by value. "0" appears nowhere else in the text.
QString SortText(const QString& name) {
  QString key;
  key.reserve(name.size() * 2 + 4);
  for (qsizetype i = 0; i < name.size();) {
    const QChar c = name[i];
    if (c >= u'0' && c <= u'9') {
      qsizetype end = i;
      while (end < name.size() && name[end] >= u'0' && name[end] <= u'9') ++end;
      qsizetype start = i;
      while (start < end - 1 && name[start] == u'0') ++start;
      key += u'0';
      key += QChar(static_cast<char16_t>(end - start));
      key += QStringView(name).mid(start, end - start);
      i = end;
      continue;
    }
    if (c.isDigit()) return {};
    key += c.toCaseFolded();
    ++i;
  }
  key += QChar(u'\0');
  key += name;
  return key;
}

} // namespace

TSxNameKey SxNameKey(const std::string& component, bool folder) {
  const int rank = SxRootRank(component);
  TSxNameKey key{rank < 0 ? 3 : rank, folder, QString::fromStdString(component), {}};
  if (key.Name.size() < 0x8000) key.Sort = SortText(key.Name);
  return key;
}

int SxCompareNameKeys(const TSxNameKey& a, const TSxNameKey& b) {
  if (a.Rank != b.Rank) return a.Rank < b.Rank ? -1 : 1;
  if (a.Folder != b.Folder) return a.Folder ? -1 : 1;
  if (!a.Sort.isEmpty() && !b.Sort.isEmpty()) {
    const int c = a.Sort.compare(b.Sort);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  return SxCompareNameTexts(a.Name, b.Name);
}

bool SxValidItemName(const std::string& name) {
  return ValidName(name) && name.size() <= 255 && name.find('\0') == std::string::npos;
}

std::string SxItemNameFault(const std::string& name) {
  if (name.empty()) return "A name cannot be empty.";
  if (name == "." || name == "..") return "A name cannot be \".\" or \"..\".";
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
    return "A name cannot contain \"/\".";
  if (name.size() > 255) return "A name cannot be longer than 255 bytes.";
  return {};
}

bool SxCreateFolder(const std::string& parent, const std::string& name) {
  // A name that is a path would make the folder somewhere else ("../x"
  // beside the parent) or not a new one at all ("." and "..").
  if (!SxValidItemName(name)) {
    errno = EINVAL;
    return false;
  }
  return ::mkdir(JoinPath(parent, name).c_str(), 0777) == 0;
}

// ---------------------------------------------------------------- places

std::string SxHomeDirectory() { return CleanPath(Std(QDir::homePath())); }

std::string SxDesktopDirectory() {
  return CleanPath(Std(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)));
}

std::string SxTrashFilesDirectory() {
  return CleanPath(Std(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))) +
         "/Trash/files";
}

bool SxIsInTrash(const std::string& path) {
  if (IsUnder(path, SxTrashFilesDirectory())) return true;
  const std::string uid = std::to_string(::getuid());
  return path.find("/.Trash-" + uid + "/files/") != std::string::npos ||
         path.find("/.Trash/" + uid + "/files/") != std::string::npos;
}

std::vector<TSxMount> SxParseMountTable(const std::string& text) {
  std::vector<TSxMount> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    TSxMount m;
    if (!(fields >> m.Device >> m.MountPoint >> m.FileSystem)) continue;
    m.Device = Unescape(m.Device);
    m.MountPoint = Unescape(m.MountPoint);
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<TSxMount> SxUserMounts(const std::vector<TSxMount>& all) {
  const std::string home = SxHomeDirectory();
  const std::string user = Std(qEnvironmentVariable("USER"));
  std::vector<TSxMount> out;
  for (const TSxMount& m : all) {
    bool visible = m.MountPoint == "/";
    if (!visible && !PseudoFileSystems().count(m.FileSystem)) {
      const std::string mp = m.MountPoint;
      if (IsUnder(mp, "/media") || IsUnder(mp, "/run/media")) {
        visible = true;
      } else if (home != "/" && IsUnder(mp, home)) {
        visible = mp.find("/.", home.size()) == std::string::npos;
      }
    }
    if (!visible) continue;
    // A mount point mounted over again shows the latest mount only.
    out.erase(std::remove_if(out.begin(), out.end(),
                             [&](const TSxMount& o) { return o.MountPoint == m.MountPoint; }),
              out.end());
    out.push_back(m);
  }
  return out;
}

std::vector<TSxMount> SxUserMounts() {
  std::ifstream in("/proc/self/mounts");
  std::stringstream text;
  text << in.rdbuf();
  return SxUserMounts(SxParseMountTable(text.str()));
}

namespace {

// Context: read from the system when absent, and then only as far as needed.
std::optional<TSxItemIDList> PathToIDList(const std::string& path, bool mustExist, const TSxPathContext* context) {
  if (path == kComputerParsingName) return TSxItemIDList({kComputerID});
  if (path == kTrashParsingName) return TSxItemIDList({kTrashID});
  if (path.compare(0, std::strlen(kTrashParsingName), kTrashParsingName) == 0) {
    const std::vector<std::string> rel = SplitPath(path.substr(std::strlen(kTrashParsingName)));
    for (const std::string& c : rel)
      if (!ValidName(c)) return std::nullopt;
    std::vector<std::string> comps{kTrashID};
    comps.insert(comps.end(), rel.begin(), rel.end());
    TSxItemIDList list(comps);
    if (mustExist && !Exists(SxIDListToPath(list))) return std::nullopt;
    return list;
  }
  if (path.empty() || path[0] != '/') return std::nullopt;
  const std::string clean = CleanPath(path);
  if (mustExist && !Exists(clean)) return std::nullopt;

  auto below = [&](const std::string& root, std::vector<std::string> head) {
    const std::vector<std::string> rel = SplitPath(clean.substr(root.size()));
    head.insert(head.end(), rel.begin(), rel.end());
    return TSxItemIDList(head);
  };
  const std::string trash = context ? context->Trash : SxTrashFilesDirectory();
  if (clean == trash || IsUnder(clean, trash)) return below(trash, {kTrashID});
  const std::string home = context ? context->Home : SxHomeDirectory();
  if (home != "/" && (clean == home || IsUnder(clean, home))) return below(home, {kHomeID});
  std::string best = "/";
  for (const TSxMount& m : context ? context->Mounts : SxUserMounts())
    if ((clean == m.MountPoint || IsUnder(clean, m.MountPoint)) && m.MountPoint.size() > best.size())
      best = m.MountPoint;
  return below(best, {kComputerID, best});
}

} // namespace

std::optional<TSxItemIDList> SxPathToIDList(const std::string& path, bool mustExist) {
  return PathToIDList(path, mustExist, nullptr);
}

TSxPathContext SxCurrentPathContext() { return {SxTrashFilesDirectory(), SxHomeDirectory(), SxUserMounts()}; }

std::optional<TSxItemIDList> SxPathToIDList(const std::string& path, bool mustExist, const TSxPathContext& context) {
  return PathToIDList(path, mustExist, &context);
}

std::string SxIDListToPath(const TSxItemIDList& list) {
  const TResolved r = Resolve(list);
  return r.Kind == TKind::Invalid ? std::string() : r.Path;
}

namespace {

// What the paths of a block may take: a small multiple of the block's own
// bytes, and some room besides, so that a drag of many files from a deep
// folder still passes while a few bytes of offsets to empty or tiny items
// below a long parent cannot each make a copy of the parent's path.
constexpr std::size_t kPathBytesPerBlockByte = 32;
constexpr std::size_t kPathBytesAllowance = 256 * PATH_MAX;

thread_local std::int64_t gChildPathBytes = 0;

// Hands Take(index, path) the path of each item that names a file, in
// order, until Take answers false; hands nothing when the paths together
// could go beyond what the block may take. An item without names would be
// the parent itself, which no drop or paste offers.
template <typename F>
void EachChildPath(const TSxItemIDList& parent, const std::vector<TSxItemIDList>& items, F take) {
  const std::vector<std::string> c = parent.Components();
  // Below the desktop, Trash and Computer themselves an item names its own
  // root; below anything else its path goes on from the parent's.
  const bool ownRoot = c.empty() || (c.size() == 1 && (c[0] == kTrashID || c[0] == kComputerID));
  const TResolved base = ownRoot ? TResolved{TKind::Invalid, {}} : Resolve(c);
  if (!ownRoot && (base.Kind == TKind::Invalid || base.Path.size() >= PATH_MAX)) return;
  // An item's path is its root's or its parent's, then at most its own bytes.
  const std::size_t prefix =
      ownRoot ? std::max({SxDesktopDirectory().size(), SxHomeDirectory().size(), SxTrashFilesDirectory().size()})
              : base.Path.size();
  std::size_t block = 8 + 4 * items.size() + parent.Size(), paths = 0;
  for (const TSxItemIDList& item : items) {
    block += item.Size();
    if (!item.IsEmpty()) paths += prefix + item.Size();
  }
  if (paths > kPathBytesPerBlockByte * block + kPathBytesAllowance) return;
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (items[k].IsEmpty()) continue;
    std::string path = ownRoot ? SxIDListToPath(ILCombine(parent, items[k])) : base.Path;
    const bool joined = ownRoot || JoinNames(path, items[k].Components(), 0);
    gChildPathBytes += static_cast<std::int64_t>(path.size());
    if (joined && !path.empty() && path.size() < PATH_MAX && !take(k, std::move(path))) return;
  }
}

} // namespace

std::vector<std::string> SxIDListChildPaths(const TSxItemIDList& parent, const std::vector<TSxItemIDList>& items) {
  std::vector<std::string> out(items.size());
  EachChildPath(parent, items, [&](std::size_t k, std::string path) {
    out[k] = std::move(path);
    return true;
  });
  return out;
}

std::string SxIDListFirstChildPath(const TSxItemIDList& parent, const std::vector<TSxItemIDList>& items) {
  std::string first;
  EachChildPath(parent, items, [&](std::size_t, std::string path) {
    first = std::move(path);
    return false;
  });
  return first;
}

std::int64_t SxChildPathBytesMade() { return gChildPathBytes; }

// ---------------------------------------------------------------- names

int SxCompareNames(const std::string& a, const std::string& b) {
  return SxCompareNameTexts(QString::fromStdString(a), QString::fromStdString(b));
}

int SxCompareNameTexts(const QString& x, const QString& y) {
  qsizetype i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    if (x[i].isDigit() && y[j].isDigit()) {
      qsizetype ei = i, ej = j;
      while (ei < x.size() && x[ei].isDigit()) ++ei;
      while (ej < y.size() && y[ej].isDigit()) ++ej;
      qsizetype si = i, sj = j;
      while (si < ei - 1 && x[si].digitValue() == 0) ++si;
      while (sj < ej - 1 && y[sj].digitValue() == 0) ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      for (; si < ei; ++si, ++sj)
        if (x[si].digitValue() != y[sj].digitValue())
          return x[si].digitValue() < y[sj].digitValue() ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    const QChar cx = x[i].toCaseFolded(), cy = y[j].toCaseFolded();
    if (cx != cy) return cx < cy ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < x.size()) return 1;
  if (j < y.size()) return -1;
  // Equal when folded: keep a fixed order between "a" and "A", "1" and "01".
  const int exact = x.compare(y);
  return exact < 0 ? -1 : exact > 0 ? 1 : 0;
}

TSxEnumIDList::TSxEnumIDList(std::vector<TSxItemIDList> first, std::string directory,
                             std::uint32_t flags)
    : FFirst(std::move(first)), FDirectory(std::move(directory)), FFlags(flags) {}

TSxEnumIDList::~TSxEnumIDList() {
  if (FDir) ::closedir(static_cast<DIR*>(FDir));
}

bool TSxEnumIDList::Open() {
  if (FDirectory.empty()) return true;
  FDir = ::opendir(FDirectory.c_str());
  return FDir != nullptr;
}

bool TSxEnumIDList::Next(TSxItemIDList& item, bool* isFolder) {
  if (FNext < FFirst.size()) {
    item = FFirst[FNext++];
    // The virtual roots and the mounts are all folders.
    if (isFolder) *isFolder = true;
    return true;
  }
  if (!FDir) return false;
  while (dirent* e = ::readdir(static_cast<DIR*>(FDir))) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' && !(FFlags & SHCONTF_INCLUDEHIDDEN)) continue;
    bool folder = e->d_type == DT_DIR;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      struct stat st {};
      folder = ::stat(JoinPath(FDirectory, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (folder ? !(FFlags & SHCONTF_FOLDERS) : !(FFlags & SHCONTF_NONFOLDERS)) continue;
    item = TSxItemIDList(std::vector<std::string>{name});
    if (isFolder) *isFolder = folder;
    return true;
  }
  return false;
}

std::uint32_t SxAttributesOf(const TSxItemIDList& absolute, std::uint32_t mask) {
  const TResolved r = Resolve(absolute);
  std::uint32_t a = 0;
  switch (r.Kind) {
  case TKind::Invalid:
    return 0;
  case TKind::Desktop:
    a = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_HASSUBFOLDER;
    break;
  case TKind::Computer:
    a = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
    break;
  case TKind::Trash:
    a = SFGAO_FOLDER;
    break;
  case TKind::Home:
  case TKind::Mount:
  case TKind::FsItem: {
    struct stat ls {}, st {};
    if (::lstat(r.Path.c_str(), &ls) != 0) return 0;
    a = SFGAO_FILESYSTEM;
    if (S_ISLNK(ls.st_mode)) a |= SFGAO_LINK;
    const bool dir = S_ISLNK(ls.st_mode) ? ::stat(r.Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
                                         : S_ISDIR(ls.st_mode);
    // A folder is taken to have sub-folders without reading it, as the shell does.
    if (dir) a |= SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
    if ((mask & SFGAO_READONLY) && ::access(r.Path.c_str(), W_OK) != 0) a |= SFGAO_READONLY;
    if ((mask & SFGAO_COMPRESSED) && IsCompressedFile(r.Path)) a |= SFGAO_COMPRESSED;
    a |= SFGAO_CANCOPY | SFGAO_CANLINK;
    if (r.Kind == TKind::FsItem) {
      if (LastComponent(r.Path).rfind('.', 0) == 0) a |= SFGAO_GHOSTED;
      // Renaming, moving and deleting all change the parent folder.
      if ((mask & (SFGAO_CANRENAME | SFGAO_CANMOVE | SFGAO_CANDELETE)) && Writable(ParentOf(r.Path)))
        a |= SFGAO_CANRENAME | SFGAO_CANMOVE | SFGAO_CANDELETE;
    }
    break;
  }
  }
  return a & mask;
}

std::string SxDisplayNameOf(const TSxItemIDList& absolute, std::uint32_t flags) {
  const std::vector<std::string> c = absolute.Components();
  const TResolved r = Resolve(c);
  if (r.Kind == TKind::Invalid) return {};
  if (flags & SHGDN_FORPARSING) {
    if ((flags & SHGDN_INFOLDER) && !c.empty() && SxRootRank(c.back()) < 0) return c.back();
    if (r.Kind == TKind::Computer) return kComputerParsingName;
    if (r.Kind == TKind::Trash) return kTrashParsingName;
    return r.Path;
  }
  switch (r.Kind) {
  case TKind::Desktop: return "Desktop";
  case TKind::Home: return "Home";
  case TKind::Computer: return "Computer";
  case TKind::Trash: return "Trash";
  case TKind::Mount: {
    const QStorageInfo info(QString::fromStdString(r.Path));
    const std::string name = Std(info.displayName());
    return name.empty() ? r.Path : name;
  }
  default: return c.back();
  }
}

// ---------------------------------------------------------------- folders

TSxNamespaceFolder::TSxNamespaceFolder(TSxItemIDList absolute) : FAbsolute(std::move(absolute)) {}

std::shared_ptr<TSxNamespaceFolder> TSxNamespaceFolder::Desktop() {
  return std::make_shared<TSxNamespaceFolder>(TSxItemIDList());
}

bool TSxNamespaceFolder::ParseDisplayName(const std::string& name, TSxItemIDList& relative) const {
  const std::vector<std::string> base = FAbsolute.Components();
  const TResolved r = Resolve(base);
  std::vector<std::string> rel;
  if (r.Kind == TKind::Desktop &&
      (name.rfind("/", 0) == 0 || name.find(":///") != std::string::npos)) {
    const std::optional<TSxItemIDList> abs = SxPathToIDList(name, true);
    if (!abs) return false;
    relative = *abs;
    return true;
  }
  if (r.Kind == TKind::Invalid) return false;
  if (r.Kind == TKind::Computer) {
    if (name.empty() || name[0] != '/') return false;
    std::string best;
    for (const TSxMount& m : SxUserMounts())
      if ((name == m.MountPoint || IsUnder(name, m.MountPoint)) && m.MountPoint.size() > best.size())
        best = m.MountPoint;
    if (best.empty()) return false;
    rel.push_back(best);
    const std::vector<std::string> more = SplitPath(CleanPath(name).substr(best.size()));
    rel.insert(rel.end(), more.begin(), more.end());
  } else {
    const std::string root = r.Kind == TKind::Trash ? SxTrashFilesDirectory() : r.Path;
    std::string tail = name;
    if (!tail.empty() && tail[0] == '/') {
      const std::string clean = CleanPath(tail);
      if (!IsUnder(clean, root)) return false;
      tail = clean.substr(root.size());
    }
    rel = SplitPath(tail);
    for (const std::string& c : rel)
      if (!ValidName(c)) return false;
  }
  if (rel.empty()) return false;
  std::vector<std::string> all = base;
  all.insert(all.end(), rel.begin(), rel.end());
  const TResolved target = Resolve(all);
  if (target.Kind == TKind::Invalid || (!target.Path.empty() && !Exists(target.Path))) return false;
  relative = TSxItemIDList(rel);
  return true;
}

std::unique_ptr<TSxEnumIDList> TSxNamespaceFolder::EnumObjects(std::uint32_t flags) const {
  const TResolved r = Resolve(FAbsolute);
  std::vector<TSxItemIDList> first;
  std::string directory;
  switch (r.Kind) {
  case TKind::Invalid:
    return nullptr;
  case TKind::Desktop:
    if (flags & SHCONTF_FOLDERS)
      for (const char* id : {kHomeID, kComputerID, kTrashID})
        first.emplace_back(std::vector<std::string>{id});
    directory = r.Path;
    break;
  case TKind::Computer:
    if (flags & SHCONTF_FOLDERS)
      for (const TSxMount& m : SxUserMounts()) first.emplace_back(std::vector<std::string>{m.MountPoint});
    break;
  case TKind::Trash:
    directory = SxTrashFilesDirectory();
    break;
  default:
    directory = r.Path;
    break;
  }
  auto e = std::make_unique<TSxEnumIDList>(std::move(first), directory, flags);
  // The desktop folder and the trash may not exist yet; they are then empty.
  if (!e->Open() && r.Kind != TKind::Desktop && r.Kind != TKind::Trash) return nullptr;
  return e;
}

std::uint32_t TSxNamespaceFolder::GetAttributesOf(const TSxItemIDList& relative,
                                                  std::uint32_t mask) const {
  return SxAttributesOf(ILCombine(FAbsolute, relative), mask);
}

std::string TSxNamespaceFolder::GetDisplayNameOf(const TSxItemIDList& relative,
                                                 std::uint32_t flags) const {
  return SxDisplayNameOf(ILCombine(FAbsolute, relative), flags);
}

int TSxNamespaceFolder::CompareIDs(int, const TSxItemIDList& a, const TSxItemIDList& b) const {
  const std::vector<std::string> ca = a.Components(), cb = b.Components();
  std::size_t i = 0;
  while (i < ca.size() && i < cb.size() && ca[i] == cb[i]) ++i;
  if (i == ca.size() && i == cb.size()) return 0;
  if (i == ca.size()) return -1;
  if (i == cb.size()) return 1;
  const int ra = SxRootRank(ca[i]), rb = SxRootRank(cb[i]);
  if (ra != rb) {
    if (ra < 0) return 1;
    if (rb < 0) return -1;
    return ra < rb ? -1 : 1;
  }
  std::vector<std::string> prefix = FAbsolute.Components();
  prefix.insert(prefix.end(), ca.begin(), ca.begin() + static_cast<std::ptrdiff_t>(i));
  std::vector<std::string> pa = prefix, pb = prefix;
  pa.push_back(ca[i]);
  pb.push_back(cb[i]);
  const bool fa = SxAttributesOf(TSxItemIDList(pa), SFGAO_FOLDER) != 0;
  const bool fb = SxAttributesOf(TSxItemIDList(pb), SFGAO_FOLDER) != 0;
  if (fa != fb) return fa ? -1 : 1;
  return SxCompareNames(ca[i], cb[i]);
}

std::shared_ptr<TSxNamespaceFolder> TSxNamespaceFolder::BindToObject(const TSxItemIDList& relative) const {
  TSxItemIDList abs = ILCombine(FAbsolute, relative);
  if (!SxAttributesOf(abs, SFGAO_FOLDER)) return nullptr;
  return std::make_shared<TSxNamespaceFolder>(std::move(abs));
}

bool TSxNamespaceFolder::SetNameOf(const TSxItemIDList& relative, const std::string& name,
                                   TSxItemIDList& newRelative) const {
  const TSxItemIDList abs = ILCombine(FAbsolute, relative);
  const TResolved r = Resolve(abs);
  if (r.Kind != TKind::FsItem || relative.Count() != 1) {
    errno = EPERM;
    return false;
  }
  if (!SxValidItemName(name)) {
    errno = EINVAL;
    return false;
  }
  const std::string target = JoinPath(ParentOf(r.Path), name);
  if (target == r.Path) {
    newRelative = relative;
    return true;
  }
  // Never replaces what is there: the kernel refuses a taken name; where the
  // file system cannot say so, the name is checked just before.
  if (::renameat2(AT_FDCWD, r.Path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (Exists(target)) {
      errno = EEXIST;
      return false;
    }
    if (::rename(r.Path.c_str(), target.c_str()) != 0) return false;
  }
  newRelative = TSxItemIDList(std::vector<std::string>{name});
  return true;
}

// ---------------------------------------------------------------- special folders

int SpecialFolderCSIDL(TSxSpecialRootFolder folder) {
  static const int kCSIDL[] = {29, 26, 10, 30, 25, 31, 23, 22, 24, 49, 3,  33, 0, 16, 17, 6,
                               20, 34, 1,  32, 19, 18, 0,  5,  4,  27, 2,  8,  9, 11, 7,  21};
  return kCSIDL[static_cast<int>(folder)];
}

std::optional<TSxItemIDList> SHGetSpecialFolderLocation(int csidl) {
  auto xdg = [](QStandardPaths::StandardLocation where) {
    return Std(QStandardPaths::writableLocation(where));
  };
  std::string path;
  switch (csidl) {
  case 0: return TSxItemIDList();
  case 17: return TSxItemIDList({kComputerID});
  case 10: return TSxItemIDList({kTrashID});
  case 16: path = xdg(QStandardPaths::DesktopLocation); break;
  case 5: path = xdg(QStandardPaths::DocumentsLocation); break;
  case 26: path = xdg(QStandardPaths::GenericConfigLocation); break;
  case 20: path = xdg(QStandardPaths::FontsLocation); break;
  case 2:
  case 11: path = xdg(QStandardPaths::ApplicationsLocation); break;
  case 7: path = xdg(QStandardPaths::GenericConfigLocation) + "/autostart"; break;
  case 32: path = xdg(QStandardPaths::GenericCacheLocation); break;
  case 21: path = xdg(QStandardPaths::TemplatesLocation); break;
  case 22:
  case 23: path = "/usr/share/applications"; break;
  case 24: path = "/etc/xdg/autostart"; break;
  default: return std::nullopt;
  }
  if (path.empty()) return std::nullopt;
  return SxPathToIDList(path, true);
}

TSxItemIDList SxSpecialFolderIDList(TSxSpecialRootFolder folder) {
  std::optional<TSxItemIDList> list;
  if (folder != sfNone) list = SHGetSpecialFolderLocation(SpecialFolderCSIDL(folder));
  if (!list) RaiseSyError<ESyShellError>(scShellNotSupported);
  return *list;
}

} // namespace sx
