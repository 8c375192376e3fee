// What a file-system folder does with files dropped or pasted into it, in
// place of the shell's own drop handler; the clipboard's cut, copy and paste
// of shell items; and the small decisions of dragging over the controls
// (drop effect, auto-scroll, the text of the drag image).
#pragma once

#include "shell/sxdragdrop.h"
#include "shell/sxidlist.h"

#include <QtCore/QMimeData>
#include <QtCore/QPoint>
#include <QtCore/QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QDragEnterEvent;
class QDropEvent;
class QWidget;

namespace sx {

class TSxCustomShellController;

inline constexpr std::uint32_t DROPEFFECT_NONE = 0;
inline constexpr std::uint32_t DROPEFFECT_COPY = 1;
inline constexpr std::uint32_t DROPEFFECT_MOVE = 2;
inline constexpr std::uint32_t DROPEFFECT_LINK = 4;
inline constexpr std::uint32_t MK_SHIFT = 0x4;
inline constexpr std::uint32_t MK_CONTROL = 0x8;

// Ctrl copies, Shift moves, both link; without a key, a move on one device
// and a copy across devices (the other of the two when the source does not
// allow it). Into the trash everything is a move, which deletes with undo.
std::uint32_t SxChooseDropEffect(std::uint32_t keys, std::uint32_t allowed, bool sameDevice, bool toTrash);

// True when the sources may not go into target: one of them already lies
// there, is the target itself, or holds the target.
bool SxDropRefused(const std::vector<std::string>& sources, const std::string& target);

std::uint32_t SxKeysOf(Qt::KeyboardModifiers modifiers);
std::uint32_t SxEffectsOf(Qt::DropActions actions);
Qt::DropActions SxDropActionsOf(std::uint32_t effects);
Qt::DropAction SxDropActionOf(std::uint32_t effect);

class TSxFolderDropTarget;

// What the controls do with Qt's drag events: a drag is taken in only when
// it carries files; a move or drop is answered with the effect (none
// ignores it).
bool SxDragEnter(QDragEnterEvent* Event, bool AllowDrop);
void SxAnswerDrag(QDropEvent* Event, std::uint32_t Effect);
// The effect of the event's keys and actions on target, entering it first
// when it is new; none without a target.
std::uint32_t SxDragOver(TSxFolderDropTarget* Target, bool Entered, QDropEvent* Event);
// Drops the event's data on target and answers the event.
void SxDropOn(TSxFolderDropTarget* Target, QDropEvent* Event, QWidget* Window);

class TSxFolderDropTarget {
public:
  // None for a folder nothing can be dropped into (Computer, a missing one).
  static std::unique_ptr<TSxFolderDropTarget> Create(TSxCustomShellController* controller,
                                                     const TSxItemIDList& folder);

  // Each answers the effect a drop would have now.
  std::uint32_t DragEnter(const QMimeData* data, std::uint32_t keys, std::uint32_t allowed);
  std::uint32_t DragOver(std::uint32_t keys, std::uint32_t allowed) const;
  void DragLeave();
  // Carries the drop out: the effect done; none when refused or failed (a
  // failure is reported through the controller).
  std::uint32_t Drop(const QMimeData* data, std::uint32_t keys, std::uint32_t allowed, QWidget* window);

  const std::string& Path() const { return FPath; }
  bool IsTrash() const { return FTrash; }

private:
  TSxFolderDropTarget(TSxCustomShellController* controller, std::string path, bool trash);
  void ReadSources(const QMimeData* data);

  TSxCustomShellController* FController;
  std::string FPath;
  bool FTrash;
  std::vector<std::string> FSources;
  bool FSameDevice = false;
};

// Copies, moves or links paths into folder through the file operation
// component; into the trash it deletes them with undo. False after reporting;
// what the files had that could not be kept (an extended attribute) is
// reported after a transfer that went through. Every path is a path, whatever
// its name holds.
bool SxTransferFiles(TSxCustomShellController* controller, QWidget* window, std::uint32_t effect,
                     const std::vector<std::string>& paths, const std::string& folder, bool toTrash);
// Asked by SxTransferFiles before a move or a move to the trash takes files
// from where they are, or a copy or move puts them under names free in the
// target folder: those paths. A file of a source's name there is asked
// about by the operation first, and the paths a "Yes" lets it replace or
// take come here at that answer. The shell views' own delete, move to the
// trash and rename ask it too, a delete that asks at its answer. False stops
// the transfer, with nothing more done or reported (the program settles an
// edit of the file it shows here). Unset, every transfer goes on.
extern std::function<bool(const std::vector<std::string>& paths)> SxBeforeTransfer;
// Told by SxTransferFiles, after a copy or move, the files of the target
// folder it put another file in place of (the program shows the file now in
// the place of the picture it shows). Unset, nobody is told.
extern std::function<void(const std::vector<std::string>& paths)> SxAfterTransfer;

// Puts items of a folder on the clipboard for a later paste.
void SxSetClipboardFiles(const TSxItemIDList& folder, const std::vector<TSxItemIDList>& items,
                         TSxClipboardAction action);
// What clipboard data offers to paste: ours and file managers' (the GNOME
// list, KDE's cut mark over a URI list, a plain URI list as a copy); None
// when it holds no local file.
TSxClipboardAction SxPasteFromMime(const QMimeData* data, std::vector<std::string>* paths);
bool SxClipboardHasFiles();
// Pastes the clipboard's files into folder; files that were cut are moved
// and the clipboard is emptied. False after reporting.
bool SxPasteFiles(TSxCustomShellController* controller, QWidget* window, const std::string& folder);

// Auto-scroll while dragging: which way, and how long the pointer has to
// stay before the step.
enum TSxScrollDirection { sdNone, sdUp, sdDown, sdLeft, sdRight, sdNext };
struct TSxDragScroll {
  TSxScrollDirection Direction = sdNone;
  int WaitMs = 0;
};

// The tree: up within 10 pixels of the top when a node lies above, down
// within 30 pixels of the bottom when one lies below; 30 ms.
TSxDragScroll SxTreeDragScroll(int y, int clientHeight, bool hasPrevious, bool hasNext);

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

// Neighbours of the row under the pointer.
struct TSxRowNeighbours {
  bool Above = false, Below = false, Left = false, Right = false, Next = false;
};
// The list: report and small icons within 30 pixels of the top or bottom
// (30 ms); icons the same edges, below else the next row (100 ms); list
// within 10 pixels of the left or 30 of the right edge, right else the next
// row (400 ms).
TSxDragScroll SxListDragScroll(TViewStyle style, QPoint point, QSize client, const TSxRowNeighbours& rows);

// "2 files, 3 folders"; "1 file"; "4 objects" when neither was counted.
std::string SxDragImageText(int files, int folders, int rows);

} // namespace sx
