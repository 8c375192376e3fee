// The shell namespace over the Linux file system. The desktop root holds
// Home, "Computer" (the user-visible mounts), Trash and the items of the XDG
// desktop folder. Item identifier lists carry path components: a first-level
// identifier "//home", "//computer" or "//trash" names a virtual root; below
// "//computer" each identifier is the absolute path of a mount point; every
// other identifier is one file name.
#pragma once

#include "shell/sxidlist.h"

#include <QtCore/QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sx {

// Attribute bits answered by GetAttributesOf.
inline constexpr std::uint32_t SFGAO_CANCOPY = 0x1;
inline constexpr std::uint32_t SFGAO_CANMOVE = 0x2;
inline constexpr std::uint32_t SFGAO_CANLINK = 0x4;
inline constexpr std::uint32_t SFGAO_CANRENAME = 0x10;
inline constexpr std::uint32_t SFGAO_CANDELETE = 0x20;
inline constexpr std::uint32_t SFGAO_LINK = 0x10000;
inline constexpr std::uint32_t SFGAO_SHARE = 0x20000;
inline constexpr std::uint32_t SFGAO_READONLY = 0x40000;
inline constexpr std::uint32_t SFGAO_GHOSTED = 0x80000;
inline constexpr std::uint32_t SFGAO_VALIDATE = 0x1000000;
inline constexpr std::uint32_t SFGAO_COMPRESSED = 0x4000000;
inline constexpr std::uint32_t SFGAO_FOLDER = 0x20000000;
inline constexpr std::uint32_t SFGAO_FILESYSTEM = 0x40000000;
inline constexpr std::uint32_t SFGAO_HASSUBFOLDER = 0x80000000;

// Enumeration flags.
inline constexpr std::uint32_t SHCONTF_FOLDERS = 0x20;
inline constexpr std::uint32_t SHCONTF_NONFOLDERS = 0x40;
inline constexpr std::uint32_t SHCONTF_INCLUDEHIDDEN = 0x80;

// Name forms.
inline constexpr std::uint32_t SHGDN_NORMAL = 0;
inline constexpr std::uint32_t SHGDN_INFOLDER = 1;
inline constexpr std::uint32_t SHGDN_FORPARSING = 0x8000;

inline constexpr const char* kHomeID = "//home";
inline constexpr const char* kComputerID = "//computer";
inline constexpr const char* kTrashID = "//trash";
// Parsing names of the two roots that have no file-system path.
inline constexpr const char* kComputerParsingName = "computer:///";
inline constexpr const char* kTrashParsingName = "trash:///";

struct TSxMount {
  std::string Device;
  std::string MountPoint;
  std::string FileSystem;
};

std::string SxHomeDirectory();
std::string SxDesktopDirectory();
std::string SxTrashFilesDirectory();
// True for a path inside any trash can's "files" folder (home or per volume).
bool SxIsInTrash(const std::string& path);

// Parses a mount table in the form of /proc/self/mounts.
std::vector<TSxMount> SxParseMountTable(const std::string& text);
// The mounts a user sees under "Computer": the root, removable media and
// mounts in the home folder.
std::vector<TSxMount> SxUserMounts(const std::vector<TSxMount>& all);
std::vector<TSxMount> SxUserMounts();

// The identifier list of an absolute path or of a root's parsing name.
std::optional<TSxItemIDList> SxPathToIDList(const std::string& path, bool mustExist);
// What that takes of the system (trash, home, mounts), read once for a burst
// of paths rather than once per path.
struct TSxPathContext {
  std::string Trash;
  std::string Home;
  std::vector<TSxMount> Mounts;
};
TSxPathContext SxCurrentPathContext();
std::optional<TSxItemIDList> SxPathToIDList(const std::string& path, bool mustExist, const TSxPathContext& context);
// The file-system path of a list; empty for Computer and Trash themselves.
std::string SxIDListToPath(const TSxItemIDList& list);
// The paths of items below one parent, each as SxIDListToPath gives it for
// the item joined to the parent, the parent resolved once. A path too long
// for any system call (PATH_MAX bytes or more) names no file: it comes back
// empty, as an invalid one does, and so does an item without names (the
// parent itself). Paths that together would take more than a small
// multiple of the lists' own bytes all come back empty.
std::vector<std::string> SxIDListChildPaths(const TSxItemIDList& parent, const std::vector<TSxItemIDList>& items);
// The first path SxIDListChildPaths gives that is not empty, found without
// making the others; empty when there is none.
std::string SxIDListFirstChildPath(const TSxItemIDList& parent, const std::vector<TSxItemIDList>& items);
// Bytes of the paths those two have made on the calling thread so far: the
// work a dropped or pasted block costs.
std::int64_t SxChildPathBytesMade();

// Names compared case-insensitively, runs of digits by their value; folders
// come first through CompareIDs.
int SxCompareNames(const std::string& a, const std::string& b);
int SxCompareNameTexts(const QString& a, const QString& b);

// Place of a virtual root ("//home", "//computer", "//trash") in the
// desktop's order; -1 for any other identifier.
int SxRootRank(const std::string& component);

// What CompareIDs weighs for one identifier, worked out once so that large
// folders sort without touching the disk.
struct TSxNameKey {
  int Rank = 3;  // virtual roots first, in their order
  bool Folder = false;
  QString Name;
  // A text whose plain order is the names' order (digit runs by value, case
  // folded, ties by the exact name); empty for a name with digits outside
  // ASCII, which is compared as a name.
  QString Sort;
};
TSxNameKey SxNameKey(const std::string& component, bool folder);
// The order of CompareIDs between two identifiers of one folder.
int SxCompareNameKeys(const TSxNameKey& a, const TSxNameKey& b);

// A name a file or folder may take: not empty, ".", or "..", no "/" or NUL,
// at most 255 bytes. Longer names are refused rather than cut, so nothing
// lands under a name the user did not type.
bool SxValidItemName(const std::string& name);
// Why SxValidItemName refuses name, told to the user ("A folder name cannot
// contain \"/\"."); empty when it takes it.
std::string SxItemNameFault(const std::string& name);

// Makes the folder name inside the folder parent, and nowhere else: false with
// errno set: EINVAL for a name SxValidItemName refuses (a path, "." or ".."),
// EEXIST when the name is taken, or what mkdir met.
bool SxCreateFolder(const std::string& parent, const std::string& name);

// Hands out a folder's items one at a time; a directory is read as the
// caller asks, so making an enumerator costs no more than opening the folder.
class TSxEnumIDList {
public:
  TSxEnumIDList(std::vector<TSxItemIDList> first, std::string directory, std::uint32_t flags);
  ~TSxEnumIDList();
  TSxEnumIDList(const TSxEnumIDList&) = delete;
  TSxEnumIDList& operator=(const TSxEnumIDList&) = delete;
  // False when the directory cannot be opened.
  bool Open();
  // False when nothing is left; isFolder, when given, tells whether the item
  // is a folder (a link to a folder counts as one).
  bool Next(TSxItemIDList& item, bool* isFolder = nullptr);

private:
  std::vector<TSxItemIDList> FFirst;
  std::size_t FNext = 0;
  std::string FDirectory;
  std::uint32_t FFlags;
  void* FDir = nullptr;
};

// One bound folder of the namespace, the desktop when its list is empty.
class TSxNamespaceFolder {
public:
  explicit TSxNamespaceFolder(TSxItemIDList absolute);
  static std::shared_ptr<TSxNamespaceFolder> Desktop();

  const TSxItemIDList& AbsoluteIDList() const { return FAbsolute; }
  std::string Path() const { return SxIDListToPath(FAbsolute); }

  // A name relative to this folder (the desktop also takes absolute paths and
  // the roots' parsing names); false when it names nothing.
  bool ParseDisplayName(const std::string& name, TSxItemIDList& relative) const;
  // None when the folder cannot be read.
  std::unique_ptr<TSxEnumIDList> EnumObjects(std::uint32_t flags) const;
  // The bits of mask that hold for the item (the folder itself when empty).
  std::uint32_t GetAttributesOf(const TSxItemIDList& relative, std::uint32_t mask) const;
  std::string GetDisplayNameOf(const TSxItemIDList& relative, std::uint32_t flags) const;
  // Negative, zero or positive, in the namespace's sort order.
  int CompareIDs(int param, const TSxItemIDList& a, const TSxItemIDList& b) const;
  // None when the item is not a folder.
  std::shared_ptr<TSxNamespaceFolder> BindToObject(const TSxItemIDList& relative) const;
  // Renames a file-system item of this folder; newRelative receives its new
  // identifier. False with errno set: EINVAL for a name SxValidItemName
  // refuses, EEXIST when the name is taken (nothing is ever replaced).
  bool SetNameOf(const TSxItemIDList& relative, const std::string& name, TSxItemIDList& newRelative) const;

private:
  TSxItemIDList FAbsolute;
};

// Special folders, in their order, each standing for a system folder number.
enum TSxSpecialRootFolder {
  sfAltStartup, sfAppData, sfBitBucket, sfCommonAltStartup, sfCommonDesktopDir,
  sfCommonFavorites, sfCommonPrograms, sfCommonStartMenu, sfCommonStartup, sfConnections,
  sfControls, sfCookies, sfDesktop, sfDesktopDir, sfDrives, sfFavorites, sfFonts, sfHistory,
  sfInternet, sfInternetCache, sfNetHood, sfNetwork, sfNone, sfPersonal, sfPrinters,
  sfPrintHood, sfPrograms, sfRecentFiles, sfSendTo, sfStartMenu, sfStartup, sfTemplates
};

int SpecialFolderCSIDL(TSxSpecialRootFolder folder);
// The list of a system folder number: the desktop, Computer, Trash or an XDG
// folder; none for a folder this system does not have, or that is missing.
std::optional<TSxItemIDList> SHGetSpecialFolderLocation(int csidl);
// The same, raising ESyShellError 110 when there is none.
TSxItemIDList SxSpecialFolderIDList(TSxSpecialRootFolder folder);

std::uint32_t SxAttributesOf(const TSxItemIDList& absolute, std::uint32_t mask);
std::string SxDisplayNameOf(const TSxItemIDList& absolute, std::uint32_t flags);

} // namespace sx
