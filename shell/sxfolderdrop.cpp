#include "shell/sxfolderdrop.h"

#include "shell/sxfileop.h"
#include "shell/sxnamespace.h"
#include "shell/sxshellitems.h"

#include <QtCore/QUrl>
#include <QtGui/QClipboard>
#include <QtGui/QtEvents>
#include <QtGui/QGuiApplication>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace sx {

namespace {

// A file as a replacement would change it: another inode, or new contents
// written into the same one.
bool SameFileState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

constexpr const char* kKdeCutSelection = "application/x-kde-cutselection";

bool AnyInFolder(const std::vector<std::string>& sources, const std::string& folder) {
  for (const std::string& s : sources)
    if (ParentOf(Trimmed(s)) == Trimmed(folder)) return true;
  return false;
}

// Also through a linked spelling of the folder or of one above it.
bool AnyHolds(const std::vector<std::string>& sources, const std::string& folder) {
  for (const std::string& s : sources)
    if (platform::FolderHolds(s, folder)) return true;
  return false;
}

} // namespace

// ---------------------------------------------------------------- decisions

std::uint32_t SxChooseDropEffect(std::uint32_t keys, std::uint32_t allowed, bool sameDevice, bool toTrash) {
  if (toTrash) return allowed & DROPEFFECT_MOVE;
  const bool control = keys & MK_CONTROL, shift = keys & MK_SHIFT;
  if (control && shift) return allowed & DROPEFFECT_LINK;
  if (control) return allowed & DROPEFFECT_COPY;
  if (shift) return allowed & DROPEFFECT_MOVE;
  const std::uint32_t preferred = sameDevice ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
  const std::uint32_t other = sameDevice ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
  if (allowed & preferred) return preferred;
  if (allowed & other) return other;
  return allowed & DROPEFFECT_LINK;
}

bool SxDropRefused(const std::vector<std::string>& sources, const std::string& target) {
  return target.empty() || AnyInFolder(sources, target) || AnyHolds(sources, target);
}

std::uint32_t SxKeysOf(Qt::KeyboardModifiers modifiers) {
  std::uint32_t keys = 0;
  if (modifiers & Qt::ControlModifier) keys |= MK_CONTROL;
  if (modifiers & Qt::ShiftModifier) keys |= MK_SHIFT;
  return keys;
}

std::uint32_t SxEffectsOf(Qt::DropActions actions) {
  std::uint32_t effects = 0;
  if (actions & Qt::CopyAction) effects |= DROPEFFECT_COPY;
  if (actions & Qt::MoveAction) effects |= DROPEFFECT_MOVE;
  if (actions & Qt::LinkAction) effects |= DROPEFFECT_LINK;
  return effects;
}

Qt::DropActions SxDropActionsOf(std::uint32_t effects) {
  Qt::DropActions actions;
  if (effects & DROPEFFECT_COPY) actions |= Qt::CopyAction;
  if (effects & DROPEFFECT_MOVE) actions |= Qt::MoveAction;
  if (effects & DROPEFFECT_LINK) actions |= Qt::LinkAction;
  return actions;
}

Qt::DropAction SxDropActionOf(std::uint32_t effect) {
  if (effect & DROPEFFECT_MOVE) return Qt::MoveAction;
  if (effect & DROPEFFECT_COPY) return Qt::CopyAction;
  if (effect & DROPEFFECT_LINK) return Qt::LinkAction;
  return Qt::IgnoreAction;
}

TSxDragScroll SxTreeDragScroll(int y, int clientHeight, bool hasPrevious, bool hasNext) {
  if (y < 10 && hasPrevious) return {sdUp, 30};
  if (y > clientHeight - 30 && hasNext) return {sdDown, 30};
  return {};
}

TSxDragScroll SxListDragScroll(TViewStyle style, QPoint point, QSize client, const TSxRowNeighbours& rows) {
  switch (style) {
  case vsReport:
  case vsSmallIcon:
    if (point.y() < 30 && rows.Above) return {sdUp, 30};
    if (point.y() > client.height() - 30 && rows.Below) return {sdDown, 30};
    return {};
  case vsIcon:
    if (point.y() < 30 && rows.Above) return {sdUp, 100};
    if (point.y() > client.height() - 30) {
      if (rows.Below) return {sdDown, 100};
      if (rows.Next) return {sdNext, 100};
    }
    return {};
  case vsList:
    if (point.x() < 10 && rows.Left) return {sdLeft, 400};
    if (point.x() > client.width() - 30) {
      if (rows.Right) return {sdRight, 400};
      if (rows.Next) return {sdNext, 400};
    }
    return {};
  }
  return {};
}

std::string SxDragImageText(int files, int folders, int rows) {
  std::string text;
  if (files > 0) text = std::to_string(files) + (files == 1 ? SyStr::File : SyStr::Files);
  if (folders > 0) {
    if (!text.empty()) text += ", ";
    text += std::to_string(folders) + (folders == 1 ? SyStr::Folder : SyStr::Folders);
  }
  if (text.empty()) text = std::to_string(rows) + SyStr::Objects;
  return text;
}

bool SxDragEnter(QDragEnterEvent* Event, bool AllowDrop) {
  const bool files = AllowDrop && SxMimeHasPaths(Event->mimeData());
  if (files) Event->accept();
  else Event->ignore();
  return files;
}

void SxAnswerDrag(QDropEvent* Event, std::uint32_t Effect) {
  if (Effect == DROPEFFECT_NONE) {
    Event->ignore();
    return;
  }
  Event->setDropAction(SxDropActionOf(Effect));
  Event->accept();
}

std::uint32_t SxDragOver(TSxFolderDropTarget* Target, bool Entered, QDropEvent* Event) {
  if (!Target) return DROPEFFECT_NONE;
  const std::uint32_t keys = SxKeysOf(Event->modifiers());
  const std::uint32_t allowed = SxEffectsOf(Event->possibleActions());
  return Entered ? Target->DragEnter(Event->mimeData(), keys, allowed) : Target->DragOver(keys, allowed);
}

void SxDropOn(TSxFolderDropTarget* Target, QDropEvent* Event, QWidget* Window) {
  SxAnswerDrag(Event, Target ? Target->Drop(Event->mimeData(), SxKeysOf(Event->modifiers()),
                                            SxEffectsOf(Event->possibleActions()), Window)
                             : DROPEFFECT_NONE);
}

// ---------------------------------------------------------------- drop target

TSxFolderDropTarget::TSxFolderDropTarget(TSxCustomShellController* controller, std::string path, bool trash)
    : FController(controller), FPath(std::move(path)), FTrash(trash) {}

std::unique_ptr<TSxFolderDropTarget> TSxFolderDropTarget::Create(TSxCustomShellController* controller,
                                                                  const TSxItemIDList& folder) {
  const std::vector<std::string> c = folder.Components();
  if (c.size() == 1 && c[0] == kTrashID)
    return std::unique_ptr<TSxFolderDropTarget>(new TSxFolderDropTarget(controller, SxTrashFilesDirectory(), true));
  if (!(SxAttributesOf(folder, SFGAO_FOLDER | SFGAO_FILESYSTEM) & SFGAO_FILESYSTEM)) return nullptr;
  if (!SxAttributesOf(folder, SFGAO_FOLDER)) return nullptr;
  std::string path = SxIDListToPath(folder);
  if (path.empty()) return nullptr;
  const bool trash = SxIsInTrash(path + "/");
  return std::unique_ptr<TSxFolderDropTarget>(new TSxFolderDropTarget(controller, std::move(path), trash));
}

void TSxFolderDropTarget::ReadSources(const QMimeData* data) {
  FSources = SxPathsFromMime(data);
  FSameDevice = false;
  struct stat from {}, to {};
  if (!FSources.empty() && ::lstat(FSources.front().c_str(), &from) == 0 && ::stat(FPath.c_str(), &to) == 0)
    FSameDevice = from.st_dev == to.st_dev;
}

std::uint32_t TSxFolderDropTarget::DragEnter(const QMimeData* data, std::uint32_t keys, std::uint32_t allowed) {
  ReadSources(data);
  return DragOver(keys, allowed);
}

std::uint32_t TSxFolderDropTarget::DragOver(std::uint32_t keys, std::uint32_t allowed) const {
  if (FSources.empty() || SxDropRefused(FSources, FPath)) return DROPEFFECT_NONE;
  return SxChooseDropEffect(keys, allowed, FSameDevice, FTrash);
}

void TSxFolderDropTarget::DragLeave() { FSources.clear(); }

std::uint32_t TSxFolderDropTarget::Drop(const QMimeData* data, std::uint32_t keys, std::uint32_t allowed,
                                        QWidget* window) {
  ReadSources(data);
  const std::uint32_t effect = DragOver(keys, allowed);
  const std::vector<std::string> sources = FSources;
  FSources.clear();
  if (effect == DROPEFFECT_NONE) return DROPEFFECT_NONE;
  return SxTransferFiles(FController, window, effect, sources, FPath, FTrash) ? effect : DROPEFFECT_NONE;
}

// ---------------------------------------------------------------- transfers

std::function<bool(const std::vector<std::string>& paths)> SxBeforeTransfer;
std::function<void(const std::vector<std::string>& paths)> SxAfterTransfer;

bool SxTransferFiles(TSxCustomShellController* controller, QWidget* window, std::uint32_t effect,
                     const std::vector<std::string>& paths, const std::string& folder, bool toTrash) {
  auto report = [&](const std::string& text) {
    if (controller) controller->ReportError(window, text);
  };
  if (paths.empty()) return false;
  if (!toTrash && effect == DROPEFFECT_LINK) {
    for (const std::string& path : paths) {
      const std::string link = folder + "/" + NameOf(path);
      // symlink never replaces: a taken name fails with EEXIST.
      if (::symlink(path.c_str(), link.c_str()) != 0) {
        report("Could not create a link to " + path + ": " + std::strerror(errno));
        return false;
      }
    }
    return true;
  }
  TSxFileOperation op(window);
  // What the transfer takes away, or puts under a name free in the folder,
  // without a question; a file of a source's name there is asked about, and
  // what a "Yes" lets go is told at that answer.
  std::vector<std::string> touched;
  const bool move = !toTrash && effect == DROPEFFECT_MOVE;
  if (toTrash) {
    op.Operation = fopDelete;
    op.Options = {foAllowUndo, foNoConfirmation, foNoErrorUI};
    touched = paths;
  } else {
    op.Operation = move ? fopMove : fopCopy;
    op.Options = {foAllowUndo, foNoErrorUI};
    // A copy beside its original takes a new name rather than asking to
    // replace the file with itself.
    if (op.Operation == fopCopy && AnyInFolder(paths, folder)) op.Options.insert(foRenameCollision);
    op.SetDestination(folder);
    if (!op.Options.count(foRenameCollision)) touched = platform::FileOpUnaskedChanges(paths, folder, move);
  }
  if (!touched.empty() && SxBeforeTransfer && !SxBeforeTransfer(touched)) return false;
  // The target folder's files of the sources' names, as they are before.
  std::vector<std::pair<std::string, struct stat>> there;
  if (!toTrash && SxAfterTransfer)
    for (const std::string& path : paths) {
      struct stat st {};
      if (std::string place = folder + "/" + NameOf(path); place != path && ::stat(place.c_str(), &st) == 0)
        there.emplace_back(std::move(place), st);
    }
  const auto tellReplaced = [&] {
    std::vector<std::string> replaced;
    for (const auto& [place, before] : there) {
      struct stat now {};
      if (::stat(place.c_str(), &now) == 0 && !SameFileState(now, before)) replaced.push_back(place);
    }
    if (!replaced.empty() && SxAfterTransfer) SxAfterTransfer(replaced);
  };
  op.SetSourceFiles(paths);
  if (controller) op.OnConfirm = controller->OnConfirm;
  bool stopped = false;
  if (!toTrash)
    op.OnAnswered = [&](platform::TFileOpConfirm kind, const std::string& source, const std::string& target,
                        platform::TFileOpAnswer answer) {
      using platform::TFileOpAnswer;
      const bool all = answer == TFileOpAnswer::YesToAll;
      if (kind != platform::TFileOpConfirm::Replace || (answer != TFileOpAnswer::Yes && !all) || !SxBeforeTransfer)
        return answer;
      if (SxBeforeTransfer(platform::FileOpReplaceChanges(paths, folder, move, source, target, all))) return answer;
      stopped = true;
      return TFileOpAnswer::Cancel;
    };
  bool ok = false;
  try {
    ok = op.Execute();
  } catch (const ESyException& e) {
    op.LastErrorText = e.what();
  }
  // Files replaced before a stop or a failure are told too.
  tellReplaced();
  if (stopped) return false;
  if (!ok && op.LastError != ERROR_CANCELLED) {
    const char* what = toTrash ? "move to the trash" : effect == DROPEFFECT_MOVE ? "move" : "copy";
    report(std::string("Could not ") + what + " the files: " + op.LastErrorText);
  }
  if (ok && !op.Warnings().empty()) {
    std::string text = "Not everything the files had could be kept:";
    for (const platform::TFileOpFailure& w : op.Warnings()) text += "\n" + w.Path + ": " + w.Message;
    report(text);
  }
  return ok;
}

// ---------------------------------------------------------------- clipboard

void SxSetClipboardFiles(const TSxItemIDList& folder, const std::vector<TSxItemIDList>& items,
                         TSxClipboardAction action) {
  if (items.empty()) return;
  auto* data = new TSxDataObject(items, ILCombine(folder, items.front()));
  data->SetClipboardAction(action);
  // File managers mark a cut for themselves too.
  if (action == TSxClipboardAction::Cut) data->setData(kKdeCutSelection, "1");
  QGuiApplication::clipboard()->setMimeData(data);
}

TSxClipboardAction SxPasteFromMime(const QMimeData* data, std::vector<std::string>* paths) {
  std::vector<std::string> found;
  TSxClipboardAction action = SxCopiedFilesFromMime(data, &found);
  if (action == TSxClipboardAction::None || found.empty()) {
    // Asked only whether there is anything to paste: the first file answers.
    const bool any = paths ? !(found = SxPathsFromMime(data)).empty() : SxMimeHasPaths(data);
    action = TSxClipboardAction::Copy;
    if (data && data->data(kKdeCutSelection).startsWith('1')) action = TSxClipboardAction::Cut;
    if (!any) action = TSxClipboardAction::None;
  }
  if (paths) *paths = std::move(found);
  return action;
}

bool SxClipboardHasFiles() {
  return SxPasteFromMime(QGuiApplication::clipboard()->mimeData(), nullptr) != TSxClipboardAction::None;
}

bool SxPasteFiles(TSxCustomShellController* controller, QWidget* window, const std::string& folder) {
  std::vector<std::string> paths;
  const TSxClipboardAction action = SxPasteFromMime(QGuiApplication::clipboard()->mimeData(), &paths);
  if (action == TSxClipboardAction::None) {
    if (controller) controller->ReportError(window, "The clipboard holds no files to paste.");
    return false;
  }
  const bool cut = action == TSxClipboardAction::Cut;
  if (AnyHolds(paths, folder)) {
    if (controller) controller->ReportError(window, "A folder cannot be pasted into itself.");
    return false;
  }
  // Files cut from this very folder stay where they are.
  if (cut && AnyInFolder(paths, folder)) return true;
  const bool ok = SxTransferFiles(controller, window, cut ? DROPEFFECT_MOVE : DROPEFFECT_COPY, paths,
                                  folder, SxIsInTrash(folder + "/"));
  if (ok && cut) QGuiApplication::clipboard()->clear();
  return ok;
}

} // namespace sx
