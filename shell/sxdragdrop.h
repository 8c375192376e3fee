// Drag and drop of shell items: a data object that offers the dragged items
// as an identifier-list array, a file list and text, both through the shell's
// format table and as MIME data ("text/uri-list", our identifier-list type and,
// for cut and copy, "x-special/gnome-copied-files") so file managers
// understand it; and the drop source that decides when a drag ends.
#pragma once

#include "shell/sxbase.h"
#include "shell/sxidlist.h"

#include <QtCore/QMimeData>
#include <QtCore/QStringList>
#include <QtGui/QPixmap>

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QDrag;
class QWidget;

namespace sx {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = static_cast<HRESULT>(0x80040003u);
inline constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
inline constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069u);
inline constexpr HRESULT DATA_S_SAMEFORMATETC = 0x00040130;
inline constexpr HRESULT DRAGDROP_S_DROP = 0x00040100;
inline constexpr HRESULT DRAGDROP_S_CANCEL = 0x00040101;
inline constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = 0x00040102;

inline constexpr std::uint32_t MK_LBUTTON = 0x1;
inline constexpr std::uint32_t DVASPECT_CONTENT = 1;
inline constexpr std::uint32_t DATADIR_GET = 1;
inline constexpr std::uint32_t TYMED_HGLOBAL = 1;
inline constexpr std::uint32_t TYMED_FILE = 2;
inline constexpr std::uint32_t TYMED_ISTREAM = 4;

inline constexpr std::uint16_t CF_TEXT = 1;
inline constexpr std::uint16_t CF_HDROP = 15;
// The number our process gives the registered format "Shell IDList Array".
inline constexpr std::uint16_t CF_IDLIST = 0xC000;
inline constexpr const char* CFSTR_SHELLIDLIST = "Shell IDList Array";

// MIME types of the formats.
inline constexpr const char* SxIDListMimeType = "application/x-pictrova-shell-idlist-array";
inline constexpr const char* SxUriListMimeType = "text/uri-list";
inline constexpr const char* SxGnomeCopiedFilesMimeType = "x-special/gnome-copied-files";
inline constexpr const char* SxTextMimeType = "text/plain";

struct TFormatEtc {
  std::uint16_t cfFormat = 0;
  const void* ptd = nullptr;  // target device; always none here
  std::uint32_t dwAspect = 0;
  std::int32_t lindex = 0;
  std::uint32_t tymed = 0;
};

// The medium of GetData: the receiver owns the bytes.
struct TStgMedium {
  std::uint32_t tymed = 0;
  std::unique_ptr<std::vector<std::uint8_t>> hGlobal;
};

inline constexpr int SxFormatTableSize = 256;
using TSxFormatTable = std::array<TFormatEtc, SxFormatTableSize>;

class TSxDropSource {
public:
  HRESULT QueryContinueDrag(bool EscapePressed, std::uint32_t KeyState) const;
  HRESULT GiveFeedback(std::uint32_t Effect) const;
};

class TSxEnumFormatEtc {
public:
  explicit TSxEnumFormatEtc(const TSxFormatTable& Table, std::uint32_t Position = 0);

  HRESULT Next(std::uint32_t Count, TFormatEtc* Records, std::uint32_t* Fetched);
  HRESULT Skip(std::uint32_t Count);
  HRESULT Reset();
  HRESULT Clone(std::unique_ptr<TSxEnumFormatEtc>& Enum) const;

private:
  std::uint32_t UsedLength() const;
  TSxFormatTable FTable;
  std::uint32_t FPosition;
};

// What a paste of the data is to do with the files.
enum class TSxClipboardAction { None, Copy, Cut };

class TSxDataObject : public QMimeData {
public:
  // Items: identifiers relative to the parent folder (copied); FirstAbsolute:
  // the absolute list of the first item, whose parent is kept.
  TSxDataObject(const std::vector<TSxItemIDList>& Items, const TSxItemIDList& FirstAbsolute);
  ~TSxDataObject() override;

  HRESULT GetData(const TFormatEtc& Format, TStgMedium& Medium);
  HRESULT GetDataHere(const TFormatEtc& Format, TStgMedium& Medium);
  HRESULT QueryGetData(const TFormatEtc& Format) const;
  HRESULT GetCanonicalFormatEtc(const TFormatEtc& In, TFormatEtc& Out) const;
  HRESULT SetData(const TFormatEtc& Format, TStgMedium& Medium, bool Release);
  HRESULT EnumFormatEtc(std::uint32_t Direction, std::unique_ptr<TSxEnumFormatEtc>& Enum) const;
  HRESULT DAdvise();
  HRESULT DUnadvise();
  HRESULT EnumDAdvise();

  const TSxItemIDList& ParentIDList() const { return FParent; }
  std::uint32_t ItemCount() const { return FCount; }
  const std::vector<TSxItemIDList>& Items() const { return FItems; }
  const TSxFormatTable& FormatTable() const { return FFormats; }

  // File-system paths of the items; empty for an item that has none.
  std::vector<std::string> ItemPaths() const;

  // Adds "x-special/gnome-copied-files" for Copy and Cut.
  void SetClipboardAction(TSxClipboardAction Action) { FClipboardAction = Action; }
  TSxClipboardAction ClipboardAction() const { return FClipboardAction; }

  QStringList formats() const override;
  bool hasFormat(const QString& MimeType) const override;

protected:
  QVariant retrieveData(const QString& MimeType, QMetaType Type) const override;

private:
  const std::vector<std::uint8_t>* BuildIDListBlock();
  const std::vector<std::uint8_t>* BuildFileListBlock();
  const std::vector<std::uint8_t>* BuildTextBlock();

  TSxItemIDList FParent;
  std::uint32_t FCount = 0;
  std::vector<TSxItemIDList> FItems;
  TSxFormatTable FFormats{};
  TSxClipboardAction FClipboardAction = TSxClipboardAction::None;
  std::unique_ptr<std::vector<std::uint8_t>> FIDListBlock;
  std::unique_ptr<std::vector<std::uint8_t>> FFileListBlock;
  std::unique_ptr<std::vector<std::uint8_t>> FTextBlock;
};

// The identifier-list array block: count, count + 1 offsets, the parent's
// list, then each item's. Empty when it cannot be laid out in 32 bits.
std::vector<std::uint8_t> SxBuildIDListArray(const TSxItemIDList& Parent, const std::vector<TSxItemIDList>& Items);

// Reads a block from another process: every offset and list is checked
// against the bytes given; nothing on any fault.
struct TSxIDListArray {
  TSxItemIDList Parent;
  std::vector<TSxItemIDList> Items;
};
std::optional<TSxIDListArray> SxParseIDListArray(const std::uint8_t* Data, std::size_t Size);
std::optional<TSxIDListArray> SxParseIDListArray(const QByteArray& Bytes);

// Reads dropped or pasted data: our identifier-list array first, then the
// file list. Paths are absolute local paths.
std::optional<TSxIDListArray> SxIDListArrayFromMime(const QMimeData* Data);
std::vector<std::string> SxPathsFromMime(const QMimeData* Data);
// Whether SxPathsFromMime gives any path, answered at the first one.
bool SxMimeHasPaths(const QMimeData* Data);
// Reads "x-special/gnome-copied-files": the action and the paths; None when
// the type is absent or malformed.
TSxClipboardAction SxCopiedFilesFromMime(const QMimeData* Data, std::vector<std::string>* Paths);

// Runs the drag on the user-interface thread; the drag takes the data object
// over. Answers the action the target carried out.
// Image, when given, follows the pointer with its hot spot there.
// The source may go while the drag runs; the drag is not used after it.
Qt::DropAction SxDoDragDrop(QWidget* Source, TSxDataObject* Data, Qt::DropActions Allowed,
                            const QPixmap& Image = QPixmap(), QPoint HotSpot = QPoint());
// When set, runs each drag in place of the platform's loop and answers its
// action (a test seam: the offscreen platform ends a drag at once).
extern std::function<Qt::DropAction(QDrag& Drag, Qt::DropActions Allowed)> SxDragLoop;

} // namespace sx
