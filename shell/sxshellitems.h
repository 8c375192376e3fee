// Shell items, folders and item lists, and the controller that the shell
// controls of one form share: the desktop folder, the system icon lists, the
// controls it serves and the one routine that enumerates a folder for them.
#pragma once

#include "shell/sxbase.h"
#include "shell/sxfileop.h"
#include "shell/sxidlist.h"
#include "shell/sxnamespace.h"

#include <QtGui/QIcon>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QWidget;

namespace sx {

class TSxShellItem;
class TSxShellFolder;
class TSxShellItemList;
class TSxShellFolderList;

// The system icon list: one icon per kind of item, shared by the process.
class TSxSystemImageList {
public:
  static TSxSystemImageList& Instance();
  int Count() const { return static_cast<int>(FIcons.size()); }
  QIcon Icon(int index) const;
  // The index of the icon kept under key, made by make on first request.
  int IndexOf(const QString& key, const std::function<QIcon()>& make);

private:
  std::vector<QIcon> FIcons;
  std::vector<QString> FKeys;
};

// A view of the system icon list at one size.
class TSxImageList {
public:
  explicit TSxImageList(int size) : Width(size), Height(size) {}
  int Width, Height;
  bool ShareImages = true;
  int Count() const { return TSxSystemImageList::Instance().Count(); }
  QIcon Icon(int index) const { return TSxSystemImageList::Instance().Icon(index); }
  QPixmap Pixmap(int index) const;
};

// What the controller needs of the controls it serves. Tree nodes are
// handles of the tree's own making.
using TSxTreeNode = void*;

class TSxShellTreeClient {
public:
  virtual ~TSxShellTreeClient() = default;
  virtual bool ShowFiles() const = 0;      // toShowFiles
  virtual bool ShowHidden() const = 0;     // toShowHidden
  virtual bool AllowRename() const = 0;    // toAllowRename
  virtual bool ExtendedMenu() const = 0;   // toExtendedMenu
  // False refuses the item.
  virtual bool DoFilterItem(TSxShellItem* item) = 0;
  virtual int FolderCount() const = 0;
  // Adds a child node for the folder (appended to the tree's folder list,
  // whose index is its ListIndex) and answers the node.
  virtual TSxTreeNode AddFolderNode(TSxTreeNode parent, std::unique_ptr<TSxShellFolder> folder,
                                    int overlay) = 0;
  virtual void MarkHasChildren(TSxTreeNode node) = 0;
};

class TSxShellListClient {
public:
  virtual ~TSxShellListClient() = default;
  virtual bool ShowHidden() const = 0;       // loShowHidden
  virtual bool AllowRename() const = 0;      // loAllowRename
  virtual bool ExtendedMenu() const = 0;     // loExtendedMenu
  virtual bool OptimizeDisplay() const = 0;  // Optimization = otDisplay
  virtual bool ReportStyle() const = 0;      // ViewStyle = vsReport
  virtual bool WindowExists() const = 0;
  virtual void ShowSearchAnimation() = 0;
  virtual void HideSearchAnimation() = 0;
  virtual bool DoFilterItem(TSxShellItem* item) = 0;
  virtual TSxShellItemList& ShellItems() = 0;
  virtual void AddListItem(TSxShellItem* item) = 0;
};

class TSxShellComboClient {
public:
  virtual ~TSxShellComboClient() = default;
  virtual void AddFolder(std::unique_ptr<TSxShellFolder> folder) = 0;
};

enum TSxEnumKind { ekTree = 0, ekList = 1, ekCombo = 2 };

// Commands of the context menu, numbered as the shell numbers its verbs
// (one past the verb); 19 is the rename command the controls act on.
enum : int {
  cmOpen = 1, cmMoveToTrash = 2, cmRename = 19, cmProperties = 20, cmCut = 25, cmCopy = 26, cmPaste = 27
};

class TSxCustomShellController : public TSyComponent {
public:
  TSxCustomShellController();
  ~TSxCustomShellController() override;

  TSxShellComboClient* ComboBox = nullptr;
  std::shared_ptr<TSxNamespaceFolder> DesktopFolder;
  const void* DragSource = nullptr;
  TSxImageList LargeImages{32};
  TSxShellListClient* ListView = nullptr;
  std::unique_ptr<TSxShellItemList> ItemList;
  TSxImageList SmallImages{16};
  TSxShellTreeClient* TreeView = nullptr;
  TSxTreeNode ParentNode = nullptr;
  std::int32_t BootIconIndex = -1;
  std::int32_t LinkOverlayIndex = 0;

  void EnumerateFolder(const TSxItemIDList& folder, TSxEnumKind kind);
  // -1 when no menu was shown, 0 when it was dismissed, else the command.
  int ShowContextMenu(const void* control, const std::shared_ptr<TSxNamespaceFolder>& folder,
                      QWidget* window, int x, int y, const std::vector<TSxItemIDList>& ids);
  // Carries out a command of the context menu on items of folder; false
  // (after reporting why) when it failed. Rename is left to the control.
  bool InvokeCommand(int command, const std::shared_ptr<TSxNamespaceFolder>& folder, QWidget* window,
                     const std::vector<TSxItemIDList>& ids);
  // Renames an item of folder; false after telling the user why: a name
  // that is refused whole (never cut to fit), one already taken, or the
  // file system's error.
  bool RenameItem(QWidget* window, const TSxNamespaceFolder& folder, const TSxItemIDList& relative,
                  const std::string& oldName, const std::string& name, TSxItemIDList& newRelative);
  // Tells the user why a command failed: OnCommandError when set, else a
  // message box over window.
  void ReportError(QWidget* window, const std::string& text);
  // Hands each file or address to the program the desktop chooses for it,
  // without waiting; one that nothing could open is reported when its
  // opener ends, even after this controller is gone.
  void OpenPaths(QWidget* window, const std::vector<std::string>& paths);

  // Answers a context menu instead of the user (tests, automation): the
  // command chosen, 0 for none.
  std::function<int(QMenu& Menu)> OnPopupMenu;
  std::function<void(const std::string& Text)> OnCommandError;
  // Answers the questions of the file operations the controls start; unset,
  // the user is asked.
  TSxCustomFileOperation::TConfirmEvent OnConfirm;
  void GetItemDisplayInfo(const TSxItemIDList& absolute, std::uint32_t& attributes,
                          std::string& displayName, int& openIconIndex, int& iconIndex);
  void GetItemIconInfo(const TSxItemIDList& absolute, std::uint32_t& attributes,
                       std::string& displayName, int& openIconIndex, int& iconIndex, int& overlay);
  std::string GetItemName(const TSxNamespaceFolder& folder, const TSxItemIDList& relative,
                          std::uint32_t flags);
  // None when the item is not a folder.
  std::shared_ptr<TSxNamespaceFolder> BindFolder(const TSxNamespaceFolder& folder,
                                                 const TSxItemIDList& relative);
  // Called with each folder BindFolder bound, before it is handed out (a
  // test seam: the file system may change before the folder is used).
  std::function<void(const TSxNamespaceFolder& Bound)> OnFolderBound;
  bool ParsePath(const std::string& path, const TSxNamespaceFolder& folder, TSxItemIDList& list);
  // None for a list of one level or less (callers then use the desktop).
  std::shared_ptr<TSxNamespaceFolder> GetParentFolder(const TSxItemIDList& absolute);
};

// Windows-style file attribute bits kept in TSxShellItem::Attributes.
inline constexpr std::uint32_t faReadOnly = 0x1;
inline constexpr std::uint32_t faHidden = 0x2;
inline constexpr std::uint32_t faSystem = 0x4;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;
inline constexpr std::uint32_t faNormal = 0x80;
inline constexpr std::uint32_t faCompressed = 0x800;

// Bits of TSxShellItem::Flags, filled where an item is read in one go (a
// folder list's loader) so that painting needs no file-system query.
inline constexpr std::uint8_t sxfGhosted = 0x1;
inline constexpr std::uint8_t sxfLink = 0x2;
inline constexpr std::uint8_t sxfCompressed = 0x4;
inline constexpr std::uint8_t sxfKnown = 0x80;  // the bits above are set

class TSxShellItem {
public:
  explicit TSxShellItem(TSxCustomShellController* controller = nullptr);
  // Raises ESyInvalidFolder 240 when the path names nothing.
  static std::unique_ptr<TSxShellItem> CreateFromPath(const std::string& path,
                                                      TSxCustomShellController* controller = nullptr);
  static std::unique_ptr<TSxShellItem> CreateFromIDList(const TSxItemIDList& absolute,
                                                        TSxCustomShellController* controller = nullptr);
  virtual ~TSxShellItem();
  TSxShellItem(const TSxShellItem&) = delete;
  TSxShellItem& operator=(const TSxShellItem&) = delete;

  // ShareParent keeps the other item's parent folder instead of binding it
  // anew (the copy then costs no file-system query).
  void Assign(const TSxShellItem& other, bool ShareParent = false);
  void ReadDetails();
  // What ReadDetails takes from the file system, given by a caller that
  // read it already.
  void SetDetails(bool Directory, std::int64_t Size, std::int64_t Modified, bool Writable, bool Compressed);
  std::int64_t GetSize();
  int GetIconIndex();
  int GetOpenIconIndex();
  int GetOverlayIndex();
  // Made on first use and kept; the item owns it.
  const QIcon* GetSmallIcon();
  bool Execute();

  bool CanRename() { return Attribute(SFGAO_CANRENAME); }
  bool HasSubFolder() { return Attribute(SFGAO_HASSUBFOLDER); }
  bool IsCompressed() { return Attribute(SFGAO_COMPRESSED); }
  bool IsGhosted() { return Attribute(SFGAO_GHOSTED); }
  bool IsLink() { return Attribute(SFGAO_LINK); }
  bool IsReadOnly() { return Attribute(SFGAO_READONLY); }
  bool IsShared() { return Attribute(SFGAO_SHARE, true); }
  bool IsFolderItem() { return Attribute(SFGAO_FOLDER, true); }

  std::vector<std::string> SubItems;
  TSxCustomShellController* Controller = nullptr;
  // Days since 30 December 1899, the fraction being the time of day.
  double Date = 0;
  std::int64_t Size = -1;
  std::string DisplayName;
  std::uint32_t Attributes = 0;
  std::string AttributeText;
  int IconIndex = -1;
  bool IsDesktop = false;
  bool IsFile = false;
  bool IsFolder = false;
  bool IsFileSystem = false;
  int OpenIconIndex = -1;
  int OverlayIndex = -1;
  std::shared_ptr<TSxNamespaceFolder> ParentFolder;
  std::string Path;
  TSxItemIDList AbsoluteIDList;
  TSxItemIDList RelativeIDList;
  std::string TypeName;
  std::uint32_t DosDateTime = 0;
  std::uint8_t Flags = 0;
  int ListIndex = -1;
  bool OwnsController = false;

protected:
  void InitFromIDList(const TSxItemIDList& absolute, bool readPathFirst);
  bool Attribute(std::uint32_t bit, bool needsParentOnly = false);
  void FillIconInfo();

private:
  std::unique_ptr<TSxCustomShellController> FOwnedController;
  std::unique_ptr<QIcon> FSmallIcon;
};

class TSxShellFolder : public TSxShellItem {
public:
  explicit TSxShellFolder(TSxCustomShellController* controller = nullptr)
      : TSxShellItem(controller) {}
  static std::unique_ptr<TSxShellFolder> CreateFromPath(const std::string& path,
                                                        TSxCustomShellController* controller = nullptr);
  static std::unique_ptr<TSxShellFolder> CreateFromIDList(const TSxItemIDList& absolute,
                                                          TSxCustomShellController* controller = nullptr);
  std::int32_t Value1 = -1, Value2 = -1, Value3 = -1, Value4 = -1;
};

class TSxShellItemList {
public:
  using TItems = std::vector<std::unique_ptr<TSxShellItem>>;
  int Count() const { return static_cast<int>(FItems.size()); }
  // None at or past Count.
  TSxShellItem* Items(int index) const;
  void Add(std::unique_ptr<TSxShellItem> item) { FItems.push_back(std::move(item)); }
  void Clear() { FItems.clear(); }
  // The items themselves, for sorting and merging in place.
  TItems& List() { return FItems; }
  const TItems& List() const { return FItems; }

private:
  TItems FItems;
};

class TSxShellFolderList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // An index out of range raises std::out_of_range; a freed slot gives none.
  TSxShellFolder* Items(int index) const { return FItems.at(static_cast<std::size_t>(index)).get(); }
  void Add(std::unique_ptr<TSxShellFolder> folder) { FItems.push_back(std::move(folder)); }
  void Clear() { FItems.clear(); }
  // Frees the folder of a slot; the slot stays, empty, so later indices hold.
  void Free(int index) { FItems.at(static_cast<std::size_t>(index)).reset(); }
  // The folders themselves, for sorting and inserting in place.
  std::vector<std::unique_ptr<TSxShellFolder>>& List() { return FItems; }
  void Put(int index, std::unique_ptr<TSxShellFolder> folder) {
    FItems.at(static_cast<std::size_t>(index)) = std::move(folder);
  }

private:
  std::vector<std::unique_ptr<TSxShellFolder>> FItems;
};

// Sort routines of the shell controls: negative, zero or positive.
int CompareTreeNodes(TSxCustomShellController& controller, const TSxShellFolder& a,
                     const TSxShellFolder& b);
int CompareAbsolute(TSxCustomShellController& controller, const TSxShellItem& a,
                    const TSxShellItem& b);
int CompareByName(const TSxShellItem& a, const TSxShellItem& b);
int CompareBySize(TSxShellItem& a, TSxShellItem& b);
int CompareByType(const TSxShellItem& a, const TSxShellItem& b, int column);
int CompareByExtension(const TSxShellItem& a, const TSxShellItem& b, int column);
int CompareByDate(TSxShellItem& a, TSxShellItem& b);
int CompareByAttributes(const TSxShellItem& a, const TSxShellItem& b, int column);
int CompareBySubItem(const TSxShellItem& a, const TSxShellItem& b, int column);

// Date helpers: the packed DOS form (time low, date high; 0 when the year is
// outside 1980..2107) and the date-time value of a local time.
std::uint32_t SxDosDateTime(std::int64_t unixTime);
double SxDosDateTimeToDateTime(std::uint32_t dos);
double SxLocalDateTime(std::int64_t unixTime);

// ASCII case-insensitive comparison of the class library.
int CompareText(const std::string& a, const std::string& b);

// The locale's comparison, ignoring case and not.
int SxAnsiCompareText(const std::string& a, const std::string& b);
int SxAnsiCompareStr(const std::string& a, const std::string& b);

// The kind of drive a path lies on: 1 none, 2 removable, 3 fixed, 4 remote,
// 5 optical.
int SxDriveType(const std::string& path);

// System icon indices without a file-system query: a folder's (closed or
// open) and a file type's by its MIME name.
int SxFolderIconIndex(bool open);
int SxMimeIconIndex(const QString& mimeName);
// The icon of a ghosted or linked item: faded to half, and a small arrow in
// the lower left corner for a link; 16 and 32 pixels.
QIcon SxDecoratedIcon(const QIcon& Base, bool Ghosted, bool Link);
// The MIME type of a file name by its extension only.
QString SxMimeNameOf(const std::string& fileName);
// The description the MIME database gives for a file name's type; empty for
// a type it does not know.
std::string SxMimeDescriptionOf(const std::string& fileName);

} // namespace sx
