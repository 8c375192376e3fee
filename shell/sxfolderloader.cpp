#include "shell/sxfolderloader.h"

#include "shell/sxtrash.h"

#include <QtCore/QDateTime>
#include <QtCore/QObject>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sx {

namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

struct TEntry {
  TSxItemIDList Id;
  TSxNameKey Key;
};

bool IsCompressed(const struct statx& st) {
  return (st.stx_attributes_mask & STATX_ATTR_COMPRESSED) && (st.stx_attributes & STATX_ATTR_COMPRESSED);
}

// An item of a file-system folder, from one stat (two for a link); none when
// it went away since the folder was read.
std::unique_ptr<TSxShellItem> MakeFileItem(const TSxLoadRequest& request, const std::string& dir,
                                           const std::shared_ptr<TSxNamespaceFolder>& parent,
                                           const TSxItemIDList& id) {
  const std::string name = id.Component(0);
  const std::string path = JoinPath(dir, name);
  struct statx lst {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &lst) != 0) return nullptr;
  const bool link = S_ISLNK(lst.stx_mode);
  struct statx st = lst;
  if (link && ::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &st) != 0) st = lst;

  auto item = std::make_unique<TSxShellItem>(request.Controller);
  item->RelativeIDList = id;
  item->AbsoluteIDList = ILCombine(request.Folder, id);
  item->ParentFolder = parent;
  item->Path = path;
  item->DisplayName = name;
  const bool folder = S_ISDIR(st.stx_mode);
  const bool compressed = IsCompressed(st);
  item->IsFileSystem = true;
  item->IsFolder = folder;
  item->IsFile = !folder;
  item->SetDetails(folder, static_cast<std::int64_t>(st.stx_size), st.stx_mtime.tv_sec,
                   ::access(path.c_str(), W_OK) == 0, compressed);
  if (!folder && request.TypeNames) {
    const std::string ext = SxExtensionOf(path);
    if (!ext.empty()) item->TypeName = SxTypeEntry(*request.TypeNames, ext).Description;
  }
  item->Flags = sxfKnown | (name[0] == '.' ? sxfGhosted : 0) | (link ? sxfLink : 0) |
                (compressed ? sxfCompressed : 0);
  item->OverlayIndex = link ? 1 : -1;
  return item;
}

// The virtual roots of the desktop and the mounts of Computer, through the
// namespace as any item.
std::unique_ptr<TSxShellItem> MakeShellItem(const TSxLoadRequest& request, const TSxItemIDList& id) {
  auto item = TSxShellItem::CreateFromIDList(ILCombine(request.Folder, id), request.Controller);
  if (item->IsFileSystem) item->ReadDetails();
  item->Flags = sxfKnown;
  return item;
}

} // namespace

// ---------------------------------------------------------------- texts

TSxListTexts::TSxListTexts()
    : Locale(QLocale::system()),
      DateFormat(Locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + Locale.timeFormat(QLocale::ShortFormat)) {}

std::unique_ptr<TSxDictionary> SxMakeTypeNames() {
  auto names = std::make_unique<TSxDictionary>(250);
  names->DisposeData = [](const TSxContainer*, void* data) { delete static_cast<TSxTypeEntry*>(data); };
  return names;
}

const TSxTypeEntry& SxTypeEntry(TSxDictionary& typeNames, const std::string& extension) {
  void* data = nullptr;
  if (typeNames.Exists(extension, data)) return *static_cast<const TSxTypeEntry*>(data);
  const std::string probe = "x" + extension;
  auto* entry = new TSxTypeEntry{SxMimeDescriptionOf(probe), SxMimeNameOf(probe)};
  try {
    typeNames.Add(extension, entry);
  } catch (const ESyContainerError&) {
    // Another thread added it meanwhile.
    delete entry;
    typeNames.Exists(extension, data);
    return *static_cast<const TSxTypeEntry*>(data);
  }
  return *entry;
}

std::string SxExtensionOf(const std::string& path) {
  // From the file name's last dot: a dot in a folder name is no extension.
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string SxFileTypeText(TSxDictionary& typeNames, const TSxListTexts& texts, const TSxShellItem& item) {
  if (!item.TypeName.empty()) return item.TypeName;
  const std::string ext = SxExtensionOf(item.Path);
  if (ext.empty()) return texts.File;
  const std::string& description = SxTypeEntry(typeNames, ext).Description;
  if (!description.empty()) return description;
  std::string upper = ext.substr(1);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return upper + " " + texts.File;
}

std::string SxSizeText(std::int64_t size) {
  std::int64_t kb = size / 1024;
  if (size != 0 && kb == 0) kb = 1;
  return Commaize(kb) + "KB";
}

std::string SxDateText(const TSxListTexts& texts, double dateTime) {
  const double whole = dateTime < 0 ? -std::floor(-dateTime) : std::floor(dateTime);
  const double fraction = std::abs(dateTime - whole);
  const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(whole));
  const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::min(fraction * 86400000.0 + 0.5, 86399999.0)));
  return texts.Locale.toString(QDateTime(date, time), texts.DateFormat).toStdString();
}

void SxFillSubItems(TSxShellItem& item, TSxDictionary& typeNames, const TSxListTexts& texts, bool trash) {
  item.SubItems.clear();
  if (trash) {
    if (item.Size == -1) item.ReadDetails();
    std::string location, deleted;
    if (const std::optional<TSxTrashInfo> info = SxReadTrashInfo(item.Path)) {
      const std::size_t slash = info->OriginalPath.find_last_of('/');
      location = slash == std::string::npos ? std::string() : info->OriginalPath.substr(0, std::max<std::size_t>(slash, 1));
      const QDateTime when = QDateTime::fromString(QString::fromStdString(info->DeletionDate), Qt::ISODate);
      if (when.isValid()) deleted = texts.Locale.toString(when, texts.DateFormat).toStdString();
    }
    item.SubItems = {location, deleted, item.IsFolder ? texts.FileFolder : SxFileTypeText(typeNames, texts, item),
                     item.IsFolder ? std::string() : SxSizeText(item.Size)};
    return;
  }
  // Items outside the file system have no details to show.
  if (!item.IsFileSystem) return;
  if (item.Size == -1) item.ReadDetails();
  if (item.IsFolder) item.SubItems = {std::string(), texts.FileFolder};
  else item.SubItems = {SxSizeText(item.Size), SxFileTypeText(typeNames, texts, item)};
  item.SubItems.push_back(SxDateText(texts, item.Date));
  item.SubItems.push_back(item.AttributeText);
}

// ---------------------------------------------------------------- loader

TSxFolderLoader::TSxFolderLoader() : FContext(new QObject) {}

TSxFolderLoader::~TSxFolderLoader() {
  Cancel();
  delete FContext;
}

void TSxFolderLoader::Cancel() {
  if (FCancel) *FCancel = true;
  if (FThread.joinable()) FThread.join();
  FCancel.reset();
  ++FGeneration;
  FBusy = false;
}

void TSxFolderLoader::Start(TSxLoadRequest request) {
  Cancel();
  const std::uint64_t generation = FGeneration;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  FCancel = cancel;
  FBusy = true;
  FThread = std::thread([this, request = std::move(request), cancel, generation,
                         first = FirstBatch, size = BatchSize, ms = BatchMs] {
    ReadAll(
        request, cancel.get(),
        [this, generation](TSxItemBatch& batch, bool last) {
          auto shared = std::make_shared<TSxItemBatch>(std::move(batch));
          QMetaObject::invokeMethod(
              FContext, [this, generation, shared, last] { Deliver(generation, shared, last); },
              Qt::QueuedConnection);
        },
        first, size, ms);
  });
}

void TSxFolderLoader::Deliver(std::uint64_t generation, std::shared_ptr<TSxItemBatch> batch, bool last) {
  if (generation != FGeneration) return;
  if (last) {
    FBusy = false;
    // The thread has said all; it ends at once.
    if (FThread.joinable()) FThread.join();
  }
  if (OnBatch) OnBatch(*batch, last);
}

TSxItemBatch TSxFolderLoader::ReadAll(const TSxLoadRequest& request, const std::atomic<bool>* cancel,
                                      const std::function<void(TSxItemBatch&, bool)>& deliver,
                                      int firstBatch, int batchSize, int batchMs) {
  auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
  TSxItemBatch batch;
  auto finish = [&]() -> TSxItemBatch {
    if (deliver) {
      deliver(batch, true);
      return {};
    }
    return std::move(batch);
  };

  TSxCustomShellController* controller = request.Controller;
  std::shared_ptr<TSxNamespaceFolder> folder;
  if (controller) {
    if (auto parent = controller->GetParentFolder(request.Folder))
      folder = controller->BindFolder(*parent, ILFindLastID(request.Folder));
    else
      folder = controller->BindFolder(*controller->DesktopFolder, request.Folder);
  }
  if (!folder) folder = TSxNamespaceFolder::Desktop()->BindToObject(request.Folder);
  if (!folder && request.Folder.IsEmpty()) folder = TSxNamespaceFolder::Desktop();
  std::uint32_t flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
  if (request.Hidden) flags |= SHCONTF_INCLUDEHIDDEN;
  std::unique_ptr<TSxEnumIDList> items = folder ? folder->EnumObjects(flags) : nullptr;
  if (!items) return finish();

  std::vector<TEntry> entries;
  TSxItemIDList id;
  bool isFolder = false;
  while (items->Next(id, &isFolder)) {
    if (cancelled()) return {};
    entries.push_back({id, SxNameKey(id.Component(0), isFolder)});
  }
  items.reset();
  auto before = [descending = request.Descending](const TEntry& a, const TEntry& b) {
    const int c = SxCompareNameKeys(a.Key, b.Key);
    return descending ? c > 0 : c < 0;
  };
  // The first screen's entries are picked and sorted first; the rest are
  // sorted once those are on their way.
  std::size_t sorted = entries.size();
  if (deliver && firstBatch > 0 && entries.size() > static_cast<std::size_t>(firstBatch)) {
    sorted = static_cast<std::size_t>(firstBatch);
    std::nth_element(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(sorted), entries.end(), before);
  }
  std::sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(sorted), before);

  const std::vector<std::string> c = request.Folder.Components();
  const std::string dir = request.Trash || (c.size() == 1 && c[0] == kTrashID) ? SxTrashFilesDirectory()
                                                                                : SxIDListToPath(request.Folder);
  using Clock = std::chrono::steady_clock;
  Clock::time_point last = Clock::now();
  std::size_t limit = static_cast<std::size_t>(std::max(1, firstBatch));
  for (std::size_t index = 0; index < entries.size(); ++index) {
    if (cancelled()) return {};
    if (index == sorted) std::sort(entries.begin() + static_cast<std::ptrdiff_t>(sorted), entries.end(), before);
    const TEntry& entry = entries[index];
    const std::string name = entry.Id.Component(0);
    std::unique_ptr<TSxShellItem> item = (SxRootRank(name) >= 0 || name.empty() || name[0] == '/' || dir.empty())
                                             ? MakeShellItem(request, entry.Id)
                                             : MakeFileItem(request, dir, folder, entry.Id);
    if (!item) continue;
    if (request.TypeNames) SxFillSubItems(*item, *request.TypeNames, request.Texts, request.Trash);
    batch.push_back(std::move(item));
    if (!deliver) continue;
    const Clock::time_point now = Clock::now();
    if (batch.size() >= limit || (batchMs > 0 && now - last >= std::chrono::milliseconds(batchMs))) {
      deliver(batch, false);
      batch.clear();
      last = now;
      limit = static_cast<std::size_t>(std::max(1, batchSize));
    }
  }
  return finish();
}

} // namespace sx
