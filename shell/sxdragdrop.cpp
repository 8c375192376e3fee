#include "shell/sxdragdrop.h"

#include "platform/openurl.h"
#include "shell/sxnamespace.h"

#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtGui/QDrag>
#include <QtWidgets/QWidget>

#include <algorithm>
#include <cstring>
#include <limits>

namespace sx {

namespace {

void PutU32(std::vector<std::uint8_t>& Out, std::size_t At, std::uint32_t V) {
  for (int I = 0; I < 4; ++I) Out[At + I] = static_cast<std::uint8_t>(V >> (8 * I));
}

std::uint32_t GetU32(const std::uint8_t* P) {
  return static_cast<std::uint32_t>(P[0]) | static_cast<std::uint32_t>(P[1]) << 8 |
         static_cast<std::uint32_t>(P[2]) << 16 | static_cast<std::uint32_t>(P[3]) << 24;
}

constexpr std::size_t DropFilesHeaderSize = 20;

QByteArray UriList(const std::vector<std::string>& Paths) {
  QByteArray Out;
  for (const std::string& P : Paths) {
    if (P.empty()) continue;
    Out += platform::FileUri(P);
    Out += "\r\n";
  }
  return Out;
}

// At most Wanted of them.
std::vector<std::string> LocalPaths(const QList<QUrl>& Urls, std::size_t Wanted = SIZE_MAX) {
  std::vector<std::string> Paths;
  for (const QUrl& U : Urls) {
    if (Paths.size() >= Wanted) break;
    if (!U.isLocalFile()) continue;
    // "file:name" reads as a name relative to wherever we happen to run.
    // The path's bytes: those that are no UTF-8 stay encoded in the URL.
    std::string P = QByteArray::fromPercentEncoding(U.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    if (!P.empty() && P[0] == '/') Paths.push_back(std::move(P));
  }
  return Paths;
}

} // namespace

// ---------------------------------------------------------------- drop source

HRESULT TSxDropSource::QueryContinueDrag(bool EscapePressed, std::uint32_t KeyState) const {
  if (EscapePressed) return DRAGDROP_S_CANCEL;
  if (!(KeyState & MK_LBUTTON)) return DRAGDROP_S_DROP;
  return S_OK;
}

HRESULT TSxDropSource::GiveFeedback(std::uint32_t) const { return DRAGDROP_S_USEDEFAULTCURSORS; }

// ---------------------------------------------------------------- format enumerator

TSxEnumFormatEtc::TSxEnumFormatEtc(const TSxFormatTable& Table, std::uint32_t Position)
    : FTable(Table), FPosition(Position) {}

std::uint32_t TSxEnumFormatEtc::UsedLength() const {
  std::uint32_t N = 0;
  while (N < FTable.size() && FTable[N].cfFormat != 0) ++N;
  return N;
}

HRESULT TSxEnumFormatEtc::Next(std::uint32_t Count, TFormatEtc* Records, std::uint32_t* Fetched) {
  const std::uint32_t Used = UsedLength();
  std::uint32_t Copied = 0;
  while (Copied < Count && FPosition < Used) {
    if (Records) Records[Copied] = FTable[FPosition];
    ++Copied;
    ++FPosition;
  }
  if (Fetched) *Fetched = Copied;
  return Copied == Count ? S_OK : S_FALSE;
}

HRESULT TSxEnumFormatEtc::Skip(std::uint32_t Count) {
  const std::uint32_t Used = UsedLength();
  if (static_cast<std::uint64_t>(FPosition) + Count <= Used) {
    FPosition += Count;
    return S_OK;
  }
  FPosition = Used;
  return S_FALSE;
}

HRESULT TSxEnumFormatEtc::Reset() {
  FPosition = 0;
  return S_OK;
}

HRESULT TSxEnumFormatEtc::Clone(std::unique_ptr<TSxEnumFormatEtc>& Enum) const {
  Enum = std::make_unique<TSxEnumFormatEtc>(FTable, FPosition);
  return S_OK;
}

// ---------------------------------------------------------------- blocks

std::vector<std::uint8_t> SxBuildIDListArray(const TSxItemIDList& Parent, const std::vector<TSxItemIDList>& Items) {
  const std::uint64_t Count = Items.size();
  std::uint64_t Total = 8 + 4 * Count + ILGetSize(Parent);
  for (const TSxItemIDList& I : Items) Total += ILGetSize(I);
  if (Count > std::numeric_limits<std::uint32_t>::max() || Total > std::numeric_limits<std::uint32_t>::max())
    return {};
  std::vector<std::uint8_t> Out(static_cast<std::size_t>(Total));
  PutU32(Out, 0, static_cast<std::uint32_t>(Count));
  std::size_t Offset = static_cast<std::size_t>(8 + 4 * Count);
  PutU32(Out, 4, static_cast<std::uint32_t>(Offset));
  std::memcpy(Out.data() + Offset, Parent.Bytes().data(), Parent.Size());
  Offset += Parent.Size();
  for (std::size_t I = 0; I < Items.size(); ++I) {
    PutU32(Out, 8 + 4 * I, static_cast<std::uint32_t>(Offset));
    std::memcpy(Out.data() + Offset, Items[I].Bytes().data(), Items[I].Size());
    Offset += Items[I].Size();
  }
  return Out;
}

std::optional<TSxIDListArray> SxParseIDListArray(const std::uint8_t* Data, std::size_t Size) {
  if (!Data || Size < 8) return std::nullopt;
  const std::uint64_t Count = GetU32(Data);
  if (8 + 4 * Count > Size) return std::nullopt;
  TSxIDListArray Result;
  // The lists of a block together take no more than the block: offsets that
  // all point into one long list would otherwise have it walked and copied
  // once for each of them.
  std::size_t Left = Size;
  for (std::uint64_t I = 0; I <= Count; ++I) {
    const std::uint32_t Offset = GetU32(Data + 4 + 4 * I);
    if (Offset >= Size) return std::nullopt;
    auto List = TSxItemIDList::FromBytes(Data + Offset, std::min<std::size_t>(Size - Offset, Left));
    if (!List) return std::nullopt;
    Left -= List->Size();
    if (I == 0) Result.Parent = std::move(*List);
    else Result.Items.push_back(std::move(*List));
  }
  return Result;
}

std::optional<TSxIDListArray> SxParseIDListArray(const QByteArray& Bytes) {
  return SxParseIDListArray(reinterpret_cast<const std::uint8_t*>(Bytes.constData()),
                            static_cast<std::size_t>(Bytes.size()));
}

// ---------------------------------------------------------------- data object

TSxDataObject::TSxDataObject(const std::vector<TSxItemIDList>& Items, const TSxItemIDList& FirstAbsolute)
    : FParent(ILClone(FirstAbsolute)),
      // Every dragged item is kept: a fixed array would overflow on a large selection.
      FCount(static_cast<std::uint32_t>(Items.size())),
      FItems(Items) {
  ILRemoveLastID(FParent);
  const std::uint16_t Offered[] = {CF_IDLIST, CF_HDROP, CF_TEXT};
  for (std::size_t I = 0; I < std::size(Offered); ++I)
    FFormats[I] = TFormatEtc{Offered[I], nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

TSxDataObject::~TSxDataObject() = default;

std::vector<std::string> TSxDataObject::ItemPaths() const {
  std::vector<std::string> Paths;
  Paths.reserve(FItems.size());
  for (const TSxItemIDList& Item : FItems) Paths.push_back(SxIDListToPath(ILCombine(FParent, Item)));
  return Paths;
}

const std::vector<std::uint8_t>* TSxDataObject::BuildIDListBlock() {
  if (!FIDListBlock) {
    auto Block = SxBuildIDListArray(FParent, FItems);
    if (Block.empty()) return nullptr;
    FIDListBlock = std::make_unique<std::vector<std::uint8_t>>(std::move(Block));
  }
  return FIDListBlock.get();
}

const std::vector<std::uint8_t>* TSxDataObject::BuildFileListBlock() {
  if (!FFileListBlock) {
    auto Block = std::make_unique<std::vector<std::uint8_t>>(DropFilesHeaderSize, 0);
    PutU32(*Block, 0, static_cast<std::uint32_t>(DropFilesHeaderSize));
    // Paths are UTF-8 and may be longer than the shell's 260 characters.
    for (const std::string& P : ItemPaths()) {
      Block->insert(Block->end(), P.begin(), P.end());
      Block->push_back(0);
    }
    Block->push_back(0);
    FFileListBlock = std::move(Block);
  }
  return FFileListBlock.get();
}

const std::vector<std::uint8_t>* TSxDataObject::BuildTextBlock() {
  // The paths, one a line, so a text receiver gets something it can use.
  if (!FTextBlock) {
    auto Block = std::make_unique<std::vector<std::uint8_t>>();
    for (const std::string& P : ItemPaths()) {
      if (P.empty()) continue;
      if (!Block->empty()) Block->push_back('\n');
      Block->insert(Block->end(), P.begin(), P.end());
    }
    Block->push_back(0);
    FTextBlock = std::move(Block);
  }
  return FTextBlock.get();
}

HRESULT TSxDataObject::QueryGetData(const TFormatEtc& Format) const {
  if (Format.dwAspect != DVASPECT_CONTENT || FFormats[0].cfFormat == 0) return DV_E_FORMATETC;
  HRESULT Result = DV_E_FORMATETC;
  for (const TFormatEtc& E : FFormats) {
    if (E.cfFormat == 0) break;
    if (E.cfFormat != Format.cfFormat) continue;
    if (E.tymed & Format.tymed) return S_OK;
    Result = DV_E_TYMED;
  }
  return Result;
}

HRESULT TSxDataObject::GetData(const TFormatEtc& Format, TStgMedium& Medium) {
  const HRESULT Query = QueryGetData(Format);
  if (Query != S_OK) return Query;
  Medium = TStgMedium{};
  Medium.tymed = TYMED_HGLOBAL;
  const std::vector<std::uint8_t>* Block = nullptr;
  switch (Format.cfFormat) {
    case CF_IDLIST: Block = BuildIDListBlock(); break;
    case CF_HDROP: Block = BuildFileListBlock(); break;
    case CF_TEXT: Block = BuildTextBlock(); break;
    default: return DV_E_FORMATETC;
  }
  if (Block) Medium.hGlobal = std::make_unique<std::vector<std::uint8_t>>(*Block);
  return Medium.hGlobal ? S_OK : E_OUTOFMEMORY;
}

HRESULT TSxDataObject::GetDataHere(const TFormatEtc&, TStgMedium&) { return E_NOTIMPL; }

HRESULT TSxDataObject::GetCanonicalFormatEtc(const TFormatEtc& In, TFormatEtc& Out) const {
  Out = In;
  Out.ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

HRESULT TSxDataObject::SetData(const TFormatEtc&, TStgMedium&, bool) { return E_NOTIMPL; }

HRESULT TSxDataObject::EnumFormatEtc(std::uint32_t Direction, std::unique_ptr<TSxEnumFormatEtc>& Enum) const {
  Enum.reset();
  if (Direction != DATADIR_GET) return E_NOTIMPL;
  Enum = std::make_unique<TSxEnumFormatEtc>(FFormats);
  return S_OK;
}

HRESULT TSxDataObject::DAdvise() { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT TSxDataObject::DUnadvise() { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT TSxDataObject::EnumDAdvise() { return OLE_E_ADVISENOTSUPPORTED; }

QStringList TSxDataObject::formats() const {
  QStringList F{SxIDListMimeType, SxUriListMimeType, SxTextMimeType};
  if (FClipboardAction != TSxClipboardAction::None) F << SxGnomeCopiedFilesMimeType;
  return F;
}

bool TSxDataObject::hasFormat(const QString& MimeType) const { return formats().contains(MimeType); }

QVariant TSxDataObject::retrieveData(const QString& MimeType, QMetaType) const {
  // The blocks are built on first request and kept, as GetData does.
  auto* Self = const_cast<TSxDataObject*>(this);
  if (MimeType == QLatin1String(SxIDListMimeType)) {
    const auto* Block = Self->BuildIDListBlock();
    if (!Block) return {};
    return QByteArray(reinterpret_cast<const char*>(Block->data()), static_cast<qsizetype>(Block->size()));
  }
  if (MimeType == QLatin1String(SxUriListMimeType)) return UriList(ItemPaths());
  if (MimeType == QLatin1String(SxTextMimeType)) {
    const auto* Block = Self->BuildTextBlock();
    return QByteArray(reinterpret_cast<const char*>(Block->data()), static_cast<qsizetype>(Block->size() - 1));
  }
  if (MimeType == QLatin1String(SxGnomeCopiedFilesMimeType) && FClipboardAction != TSxClipboardAction::None) {
    QByteArray Out = FClipboardAction == TSxClipboardAction::Cut ? "cut" : "copy";
    for (const std::string& P : ItemPaths())
      if (!P.empty()) Out += "\n" + platform::FileUri(P);
    return Out;
  }
  return {};
}

// ---------------------------------------------------------------- readers

std::optional<TSxIDListArray> SxIDListArrayFromMime(const QMimeData* Data) {
  if (!Data || !Data->hasFormat(SxIDListMimeType)) return std::nullopt;
  return SxParseIDListArray(Data->data(SxIDListMimeType));
}

std::vector<std::string> SxPathsFromMime(const QMimeData* Data) {
  if (!Data) return {};
  if (auto Array = SxIDListArrayFromMime(Data)) {
    std::vector<std::string> Paths;
    for (std::string& P : SxIDListChildPaths(Array->Parent, Array->Items))
      if (!P.empty()) Paths.push_back(std::move(P));
    return Paths;
  }
  return LocalPaths(Data->urls());
}

bool SxMimeHasPaths(const QMimeData* Data) {
  if (!Data) return false;
  if (auto Array = SxIDListArrayFromMime(Data)) return !SxIDListFirstChildPath(Array->Parent, Array->Items).empty();
  return !LocalPaths(Data->urls(), 1).empty();
}

TSxClipboardAction SxCopiedFilesFromMime(const QMimeData* Data, std::vector<std::string>* Paths) {
  if (Paths) Paths->clear();
  if (!Data || !Data->hasFormat(SxGnomeCopiedFilesMimeType)) return TSxClipboardAction::None;
  const QList<QByteArray> Lines = Data->data(SxGnomeCopiedFilesMimeType).split('\n');
  const QByteArray Verb = Lines.value(0).trimmed();
  TSxClipboardAction Action;
  if (Verb == "copy") Action = TSxClipboardAction::Copy;
  else if (Verb == "cut") Action = TSxClipboardAction::Cut;
  else return TSxClipboardAction::None;
  if (Paths) {
    QList<QUrl> Urls;
    for (qsizetype I = 1; I < Lines.size(); ++I) {
      const QByteArray L = Lines[I].trimmed();
      if (!L.isEmpty()) Urls << QUrl::fromEncoded(L);
    }
    *Paths = LocalPaths(Urls);
  }
  return Action;
}

std::function<Qt::DropAction(QDrag& Drag, Qt::DropActions Allowed)> SxDragLoop;

Qt::DropAction SxDoDragDrop(QWidget* Source, TSxDataObject* Data, Qt::DropActions Allowed, const QPixmap& Image,
                            QPoint HotSpot) {
  // The source's child, the drag goes with it should the source go while
  // the drag's loop runs (its dialog closed by a key): it is used after the
  // loop only while it is there.
  const QPointer<QDrag> Drag = new QDrag(Source);
  Drag->setMimeData(Data);
  if (!Image.isNull()) {
    Drag->setPixmap(Image);
    Drag->setHotSpot(HotSpot);
  }
  const Qt::DropAction Result = SxDragLoop ? SxDragLoop(*Drag, Allowed) : Drag->exec(Allowed);
  if (Drag) Drag->deleteLater();
  return Result;
}

} // namespace sx
