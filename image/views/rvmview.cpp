// The thumbnail view's image list, pixels, layout and scrolling.
#include "image/views/rvmview.h"

#include <QMetaObject>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/io/rvmio.h"
#include "image/model/rastrumproc.h"
#include "image/views/rvmviewimages.h"
#include "image/views/rvstarter.h"
#include "image/views/rvthumbfit.h"
#include "platform/stream.h"

namespace rv {

namespace {

int ClampInt(std::int64_t V) {
  return static_cast<int>(std::clamp<std::int64_t>(V, INT_MIN, INT_MAX));
}

bool SameFont(const platform::TFont& A, const platform::TFont& B) {
  return A.Name == B.Name && A.Size == B.Size && A.Color == B.Color && A.Bold == B.Bold && A.Italic == B.Italic &&
         A.Underline == B.Underline && A.StrikeOut == B.StrikeOut;
}

} // namespace

// ------------------------------------------------------------ life

TRastrumMView::TRastrumMView(QWidget* AOwner)
    : TRvView(AOwner), FStore(std::make_unique<TRvVirtualDIBList>()),
      FScaledStore(std::make_unique<TRvVirtualDIBList>()), FIO(std::make_unique<TRastrumIO>()) {
  FDrawDib = RvDrawDibOpen();
  FHorzBar = new QScrollBar(Qt::Horizontal, this);
  FVertBar = new QScrollBar(Qt::Vertical, this);
  for (QScrollBar* bar : {FHorzBar, FVertBar}) {
    bar->hide();
    bar->setRange(0, 65535);
    const bool vertical = bar == FVertBar;
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, vertical](int Action) { BarAction(vertical, Action); });
    connect(bar, &QAbstractSlider::sliderReleased, this, [this, vertical, bar] {
      ScrollMessage(vertical, scPosition, bar->sliderPosition());
      SetBarPosition(vertical);
    });
  }
  FPlayTimer.setSingleShot(true);
  connect(&FPlayTimer, &QTimer::timeout, this, [this] { PlayStep(); });
  // A worker announces results with a queued call to this thread, which
  // dies with the view if the view goes first. The call carries nothing:
  // the results themselves pass under the loader's lock.
  FStarter = std::make_unique<TRvStarter>(LoadResultsAnnouncer());
  FStarter->SetPoolSize(ThreadPoolSize);
  setFocusPolicy(Qt::StrongFocus);
  resize(180, 90);
}

TRastrumMView::~TRastrumMView() {
  ClearSelection();
  StopLoaders();
  // The workers are joined before anything they could reach goes away.
  FStarter.reset();
  FProc.reset();
  FDestroying = true;
  FPlayTimer.stop();
  // The stores go as a whole: the records need not give back their blocks.
  for (auto& r : FImages) r->Image = r->Scaled = nullptr;
  FWithScaledCopy.clear();
  for (int i = ImageCount() - 1; i >= 0; --i) DeleteImageNU(i);
  FStore.reset();
  FScaledStore.reset();
  RvDrawDibClose(FDrawDib);
  FIO.reset();
  FMIO.reset();
}

// ------------------------------------------------------------ records

TRastrumMView::TImageRecord* TRastrumMView::Record(int Index) const {
  if (Index < 0 || Index >= ImageCount()) return nullptr;
  return FImages[static_cast<std::size_t>(Index)].get();
}

int TRastrumMView::RecordInt(int Index, int TImageRecord::*Field) const {
  const TImageRecord* r = Record(Index);
  return r ? r->*Field : 0;
}

TRvMText* TRastrumMView::RecordText(int Index, std::unique_ptr<TRvMText> TImageRecord::*Field, int Position) const {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return nullptr;
  std::unique_ptr<TRvMText>& text = r->*Field;
  if (text) return text.get();
  auto* owner = const_cast<TRastrumMView*>(this);
  text = std::make_unique<TRvMText>(Position == RvMTextInfo && FInfoFileNames
                                        ? FileNameCaption(*r, owner)
                                        : TRvMText(owner, Position, r->CaptionStyle->Font, r->CaptionStyle->Background));
  return text.get();
}

TRvMText TRastrumMView::FileNameCaption(const TImageRecord& R, TRastrumMView* Owner) const {
  return TRvMText(Owner, RvMTextInfo, R.CaptionStyle->Font, R.CaptionStyle->Background,
                  R.FileName.substr(R.FileName.find_last_of('/') + 1));
}

int TRastrumMView::CaptionCount() const {
  int count = 0;
  for (const auto& r : FImages) count += !!r->TopText + !!r->InfoText + !!r->BottomText;
  return count;
}

void TRastrumMView::Renumber(int From) {
  for (int i = std::max(0, From); i < ImageCount(); ++i) FImages[static_cast<std::size_t>(i)]->Index = i;
}

void TRastrumMView::MarkLayout(int From) { FLayoutFrom = std::min(FLayoutFrom, std::max(0, From)); }

int TRastrumMView::InsertRecord(int Index) {
  SetPlaying(false);
  const int at = std::clamp(Index, 0, ImageCount());
  auto record = std::make_unique<TImageRecord>();
  record->Background = GetBackground();
  if (!FCaptionStyle || !SameFont(FCaptionStyle->Font, Font) || FCaptionStyle->Background != GetBackground())
    FCaptionStyle = std::make_shared<const TCaptionStyle>(TCaptionStyle{Font, GetBackground()});
  record->CaptionStyle = FCaptionStyle;
  record->Key = FNextKey++;
  FByKey.emplace(record->Key, record.get());
  FImages.insert(FImages.begin() + at, std::move(record));
  Renumber(at);
  MarkLayout(at);
  return at;
}

void TRastrumMView::InsertImageEx(int Index) {
  InsertRecord(Index);
  FLastOp = RvMOpInsert;
  FLastOpIndex = Index;
  CallBitmapChangeEvents();
  Update();
}

void TRastrumMView::InsertImage(int Index) {
  const int at = InsertRecord(Index);
  SetSelectedInternal(at);
  // The inserted index, which is the current image unless a selection in
  // progress kept it from becoming so: listeners insert their records there.
  FLastOp = RvMOpInsert;
  FLastOpIndex = at;
  CallBitmapChangeEvents();
  Update();
}

int TRastrumMView::AppendImage() {
  InsertImage(ImageCount());
  return ImageCount() - 1;
}

bool TRastrumMView::DeleteImageNU(int Index) {
  SetPlaying(false);
  // Negative indexes are refused like those past the end.
  if (Index < 0 || Index >= ImageCount()) return false;
  const int previous = FSelectedImage;
  const bool wasLast = Index == ImageCount() - 1;
  ClearSelection();
  TImageRecord& r = *FImages[static_cast<std::size_t>(Index)];
  FreeImagePixels(r);
  FByKey.erase(r.Key);
  FImages.erase(FImages.begin() + Index);
  Renumber(Index);
  MarkLayout(Index);
  if (!FDestroying) {
    if (previous == Index && wasLast)
      SetSelectedInternal(ImageCount() - 1);
    else if (Index < previous)
      SetSelectedInternal(previous - 1);
    else
      SetSelectedInternal(previous);
  }
  FLastOp = RvMOpDelete;
  FLastOpIndex = Index;
  CallBitmapChangeEvents();
  return true;
}

void TRastrumMView::DeleteImage(int Index) {
  if (DeleteImageNU(Index)) Update();
}

void TRastrumMView::Clear() {
  DeselectNU();
  StopLoaders();
  // The stores are replaced below: the records leave without freeing their
  // blocks one by one, last first so that each removal is cheap.
  for (auto& r : FImages) r->Image = r->Scaled = nullptr;
  FWithScaledCopy.clear();
  LockUpdate();
  for (int i = ImageCount() - 1; i >= 0; --i) DeleteImageNU(i);
  UnlockUpdateEx();
  FStore = std::make_unique<TRvVirtualDIBList>();
  FStore->SetImageCacheSize(FImageCacheSize);
  FScaledStore = std::make_unique<TRvVirtualDIBList>();
  Update();
}

void TRastrumMView::TakeImages(TRvMViewImages& Images) {
  Clear();
  if (Images.FStore) {
    FStore = std::move(Images.FStore);
    FStore->SetImageCacheSize(FImageCacheSize);
  }
  TRastrumMIO* mio = GetMIO();
  LockUpdate();
  for (const TRvMViewImages::TImage& image : Images.FImages) {
    const int at = InsertRecord(ImageCount());
    TImageRecord& r = *FImages[static_cast<std::size_t>(at)];
    r.Image = image.Picture;
    r.Background = image.Background;
    r.DTime = image.DTime;
    // The component adds a record, replaced by the image's own below.
    FLastOp = RvMOpInsert;
    FLastOpIndex = at;
    CallBitmapChangeEvents();
  }
  Images.FImages.clear();
  mio->TakeParams(Images.MIO(), 0);
  UnlockUpdateEx();
  Update();
}

int TRastrumMView::TakeLastOp() {
  const int op = FLastOp;
  FLastOp = RvMOpNone;
  return op;
}

// ------------------------------------------------------------ per-image data

std::string TRastrumMView::ImageFileName(int Index) const {
  const TImageRecord* r = Record(Index);
  return r ? r->FileName : std::string();
}

void TRastrumMView::SetImageFileName(int Index, const std::string& Name) {
  if (TImageRecord* r = Record(Index)) {
    r->FileName = Name;
    r->ID = -1;
    r->LoadFailed = false;
    // The caption that shows the name raises the gap as setting it would.
    if (FInfoFileNames && !r->InfoText) {
      TRvMText caption = FileNameCaption(*r, this);
      caption.SetCaption(caption.Caption());
    }
  }
}

void TRastrumMView::ImageBackground(int Index, platform::TColor Color) {
  if (TImageRecord* r = Record(Index)) {
    r->Background = Color;
    Update();
  }
}

platform::TColor TRastrumMView::GetImageBackground(int Index) const {
  return RecordInt(Index, &TImageRecord::Background);
}

void TRastrumMView::SetImageDelayTime(int Index, int Milliseconds) {
  if (TImageRecord* r = Record(Index)) r->DTime = Milliseconds;
}

int TRastrumMView::ImageDelayTime(int Index) const { return RecordInt(Index, &TImageRecord::DTime); }

int TRastrumMView::ImageID(int Index) const { return RecordInt(Index, &TImageRecord::X); }

int TRastrumMView::ImageTag(int Index) const { return RecordInt(Index, &TImageRecord::Y); }

int TRastrumMView::ImageRow(int Index) const { return RecordInt(Index, &TImageRecord::Row); }

int TRastrumMView::ImageCol(int Index) const { return RecordInt(Index, &TImageRecord::Col); }

int TRastrumMView::ImageFullWidth(int Index) const {
  const TImageRecord* r = Record(Index);
  return r && r->Image ? FStore->GetFullWidth(r->Image) : 0;
}

int TRastrumMView::ImageFullHeight(int Index) const {
  const TImageRecord* r = Record(Index);
  return r && r->Image ? FStore->GetFullHeight(r->Image) : 0;
}

void TRastrumMView::SetImageFullWidth(int Index, int Value) {
  const TImageRecord* r = Record(Index);
  if (r && r->Image) FStore->SetFullWidth(r->Image, Value);
}

void TRastrumMView::SetImageFullHeight(int Index, int Value) {
  const TImageRecord* r = Record(Index);
  if (r && r->Image) FStore->SetFullHeight(r->Image, Value);
}

TRvMText* TRastrumMView::ImageTopText(int Index) const {
  return RecordText(Index, &TImageRecord::TopText, RvMTextTop);
}

TRvMText* TRastrumMView::ImageInfoText(int Index) const {
  return RecordText(Index, &TImageRecord::InfoText, RvMTextInfo);
}

TRvMText* TRastrumMView::ImageBottomText(int Index) const {
  return RecordText(Index, &TImageRecord::BottomText, RvMTextBottom);
}

bool TRastrumMView::ImageHasPixels(int Index) const {
  const TImageRecord* r = Record(Index);
  return r && r->Image;
}

bool TRastrumMView::ImageLoadFailed(int Index) const {
  const TImageRecord* r = Record(Index);
  return r && r->LoadFailed;
}

// ------------------------------------------------------------ pixels

void TRastrumMView::DropScaledCopy(TImageRecord& R) {
  if (R.Scaled == nullptr) return;
  FScaledStore->Delete(R.Scaled);
  R.Scaled = nullptr;
  std::erase(FWithScaledCopy, &R);
}

void TRastrumMView::DropScaledCopies() {
  for (TImageRecord* r : FWithScaledCopy) {
    FScaledStore->Delete(r->Scaled);
    r->Scaled = nullptr;
  }
  FWithScaledCopy.clear();
}

void TRastrumMView::FreeImagePixels(TImageRecord& R) {
  if (R.Image != nullptr) {
    // The current image's lent bitmap goes with its block.
    if (R.Index == FSelectedImage) FCurrentBitmap = nullptr;
    FStore->Delete(R.Image);
    R.Image = nullptr;
  }
  R.Reread = false;
  DropScaledCopy(R);
}

void TRastrumMView::StoreBitmap(TImageRecord& R, TRvBaseBitmap* Bitmap) {
  std::unique_ptr<TRvBitmap> reduced;
  if (StoreType == rvtThumb) reduced = RvReduceToThumb(Bitmap, FThumbWidth, FThumbHeight, ThumbResampleFilter);
  R.Image = RvStorePicture(*FStore, reduced ? reduced.get() : Bitmap, Bitmap->Width(), Bitmap->Height());
  R.LoadFailed = false;
}

void TRastrumMView::RetakeCurrentBitmap() {
  TImageRecord* r = Record(FSelectedImage);
  if (r == nullptr) return;
  if (FCurrentBitmap != nullptr) FStore->ReleaseBitmap(FCurrentBitmap, false);
  FCurrentBitmap = r->Image ? FStore->GetBitmap(r->Image) : nullptr;
}

void TRastrumMView::TakeCurrentBitmap() {
  // With workers, an image still without pixels is read by them as any
  // cell is, and lent out when its read lands (SetImage): a slow file never
  // holds the window. Without, it is read now.
  const TImageRecord* r = Record(FSelectedImage);
  const bool later = r != nullptr && r->Image == nullptr && !r->FileName.empty() && ThreadPoolSize != 0 &&
                     RequestLoad(FSelectedImage);
  platform::TBitmap* Lent = later ? nullptr : GetImageBitmap(FSelectedImage);
  // Reading the image on the way lent it as the current one already: that
  // loan goes back, or the bitmap and its block would stay for as long as
  // the image (one for each picture shown before its thumbnail was read).
  if (FCurrentBitmap != nullptr) FStore->ReleaseBitmap(FCurrentBitmap, false);
  FCurrentBitmap = Lent;
}

void TRastrumMView::SetImage(int Index, TRvBaseBitmap* Bitmap) {
  TImageRecord* r = Record(Index);
  if (r != nullptr && Bitmap != nullptr) {
    FreeImagePixels(*r);
    StoreBitmap(*r, Bitmap);
  }
  if (Index == FSelectedImage) RetakeCurrentBitmap();
}

void TRastrumMView::SetImageFromBitmap(int Index, platform::TBitmap* Bitmap) {
  if (Bitmap == nullptr) return;
  TRvBitmap copy;
  copy.AssignTBitmap(Bitmap);
  SetImage(Index, &copy);
}

platform::TBitmap* TRastrumMView::GetImageBitmap(int Index) {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return nullptr;
  if (r->Image == nullptr) LoadImageNow(Index);
  return r->Image ? FStore->GetBitmap(r->Image) : nullptr;
}

QImage TRastrumMView::ImageArea(int Index, const QRect& Area) {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return {};
  if (r->Image == nullptr) LoadImageNow(Index);
  if (r->Image == nullptr) return {};
  const platform::TBitmapInfo* info = FStore->ImageBitmapInfo(r->Image);
  if (info == nullptr) return {};
  const int width = info->bmiHeader.biWidth, height = std::abs(info->bmiHeader.biHeight);
  const QRect area = Area.intersected(QRect(0, 0, width, height));
  if (area.isEmpty()) return {};
  // A stored picture of 24 bits: its rows in the block, bottom-up.
  if (info->bmiHeader.biBitCount == 24 && info->bmiHeader.biHeight > 0) {
    const std::uint8_t* rows = FStore->ImagePixels(r->Image);
    if (rows == nullptr) return {};
    const auto rowLen = static_cast<std::size_t>(RvRowLen(width, 24));
    QImage part(area.size(), QImage::Format_BGR888);
    if (part.isNull()) return {};
    for (int y = 0; y < area.height(); ++y)
      std::memcpy(part.scanLine(y), rows + static_cast<std::size_t>(height - 1 - area.y() - y) * rowLen + 3 * static_cast<std::size_t>(area.x()),
                  3 * static_cast<std::size_t>(area.width()));
    return part;
  }
  // One lent out (then at hand) or of another depth.
  platform::TBitmap* bitmap = FStore->GetBitmap(r->Image);
  if (bitmap == nullptr) return {};
  QImage part = bitmap->ToImage().copy(area);
  FStore->ReleaseBitmap(bitmap, false);
  return part;
}

void TRastrumMView::ReleaseImageBitmap(platform::TBitmap* Bitmap, bool WriteBack) {
  if (Bitmap != nullptr && Bitmap != FCurrentBitmap) FStore->ReleaseBitmap(Bitmap, WriteBack);
}

void TRastrumMView::PrepareLoader(TRastrumIO& IO, TImageRecord& R) {
  IO.SetBackground(R.Background);
  IO.OnProgress = OnIOProgress;
  IO.Params().JpegScale = StoreType == rvtThumb ? 0 : 1;
  if (StoreType == rvtThumb) {
    IO.Params().Width = FThumbWidth;
    IO.Params().Height = FThumbHeight;
  }
}

bool TRastrumMView::LoadThroughIO(TImageRecord& R, int Index, platform::TStream* Stream) {
  TRvBitmap bitmap;
  FIO->SetAttachedRvBitmap(&bitmap);
  PrepareLoader(*FIO, R);
  bool raised = false;
  try {
    if (Stream != nullptr)
      FIO->LoadFromStream(*Stream);
    else
      FIO->LoadFromFile(R.FileName);
  } catch (...) {
    // A file that vanished or a reader that raised is an unreadable image
    // like any other: this load is reached from selections and list changes
    // whose callers cannot take an exception.
    raised = true;
  }
  FIO->SetAttachedRvBitmap(nullptr);
  if (!raised)
    if (TIOParamsVals* params = GetMIO()->GetParams(Index)) params->Assign(FIO->Params());
  if (raised || FIO->Aborting || bitmap.Width() < 1 || bitmap.Height() < 1) {
    R.LoadFailed = true;
    return false;
  }
  R.Background = FIO->GetBackground();
  SetImage(Index, &bitmap);
  return true;
}

bool TRastrumMView::LoadImageNow(int Index) {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return true;
  if (r->ID >= 0 && OnImageIDRequest) {
    platform::TBitmap* bitmap = nullptr;
    OnImageIDRequest(this, r->ID, bitmap);
    SetImageFromBitmap(Index, bitmap);
    return true;
  }
  if (!r->FileName.empty()) {
    const bool loaded = LoadThroughIO(*r, Index, nullptr);
    if (OnImageLoaded) OnImageLoaded(this, Index, loaded ? &FIO->Params() : nullptr);
    return loaded;
  }
  return true;
}

void TRastrumMView::RereadImage(int Index) {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return;
  r->LoadFailed = false;
  if (ThreadPoolSize == 0) {
    LoadImageNow(Index);
    Update();
    return;
  }
  // A new identity: reads asked for before the change no longer match.
  FByKey.erase(r->Key);
  r->Key = FNextKey++;
  FByKey.emplace(r->Key, r);
  r->Reread = r->Image != nullptr;
  // The next paint of the cell asks the workers.
  QWidget::update();
}

bool TRastrumMView::LoadImageFromFile(int Index, const std::string& FileName) {
  platform::TFileStream file(FileName, platform::fmOpenRead);
  return LoadImageFromStream(Index, file);
}

bool TRastrumMView::LoadImageFromStream(int Index, platform::TStream& Stream) {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return false;
  const bool ok = LoadThroughIO(*r, Index, &Stream);
  Update();
  return ok;
}

void TRastrumMView::ReserveCacheSpace(int Width, int Height, int Count, int BitCount) {
  FStore->Reserve(Width, Height, Count, BitCount);
}

TRastrumMIO* TRastrumMView::GetMIO() {
  if (!FMIO) {
    FMIO = std::make_unique<TRastrumMIO>();
    FMIO->SetAttachedMView(this);
    FMIO->OnProgress = FOnProgress;
  }
  return FMIO.get();
}

TRastrumProc* TRastrumMView::GetProc() {
  if (!FProc) {
    FProc = std::make_unique<TRastrumProc>();
    FProc->SetAttachedRastrum(this);
    FProc->OnProgress = FOnProgress;
  }
  return FProc.get();
}

// ------------------------------------------------------------ loader

bool TRastrumMView::RequestLoad(int Index) {
  TImageRecord* r = Record(Index);
  if (r == nullptr) return false;
  if (!WantsRead(*r)) return true;
  PruneLoadRequests();
  // A read whose result waits for the user-interface thread is not read
  // again (a paint between the two would ask for it).
  if (FStarter->IsPending(r->Key) || FStarter->HasResult(r->Key, r->FileName)) return true;
  ReapLoaderJobs();
  if (r->FileName.empty() || (r->ID >= 0 && OnImageIDRequest)) return false;
  FStarter->SetPoolSize(ThreadPoolSize);
  TRvLoadRequest request;
  request.Key = r->Key;
  request.FileName = r->FileName;
  request.Background = r->Background;
  request.Thumb = StoreType == rvtThumb;
  request.ThumbWidth = FThumbWidth;
  request.ThumbHeight = FThumbHeight;
  request.Filter = ThumbResampleFilter;
  FStarter->Enqueue(std::move(request));
  return true;
}

bool TRastrumMView::StillWanted(std::uint64_t Key) const {
  auto it = FByKey.find(Key);
  // The current image's read goes on wherever the image lies: its bitmap is
  // lent out when the read lands.
  return it != FByKey.end() && (it->second->Index == FSelectedImage || IsImageVisible(it->second->Index));
}

void TRastrumMView::PruneLoadRequests() {
  FStarter->Prune([this](std::uint64_t Key) { return StillWanted(Key); }, false);
}

void TRastrumMView::ReapLoaderJobs() {
  FStarter->Prune([this](std::uint64_t Key) { return StillWanted(Key); }, true);
}

void TRastrumMView::StopLoaders() {
  if (FStarter) FStarter->StopLoaders();
}

std::function<void()> TRastrumMView::LoadResultsAnnouncer() {
  return [this] { QueueTakeLoadResults(); };
}

void TRastrumMView::QueueTakeLoadResults() {
  QMetaObject::invokeMethod(this, "TakeLoadResults", Qt::QueuedConnection);
}

void TRastrumMView::TakeLoadResults() {
  // A few at a time, so that a long run of results never holds up painting.
  constexpr int batch = 8;
  int rest = 0;
  for (const std::shared_ptr<TRvLoadResult>& result : FStarter->TakeResults(batch, rest)) LoadJobFinished(result);
  if (rest > 0) QueueTakeLoadResults();
}

int TRastrumMView::LoadQueueCount() const { return FStarter->QueueCount(); }
int TRastrumMView::LoadRunningCount() const { return FStarter->RunningCount(); }

void TRastrumMView::LoadJobFinished(const std::shared_ptr<TRvLoadResult>& Result) {
  if (FDestroying || Result == nullptr) return;
  auto it = FByKey.find(Result->Key);
  if (it == FByKey.end()) return;
  TImageRecord& r = *it->second;
  // A result for a file the image no longer names, or for an image that got
  // its pixels meanwhile, is stale.
  if (r.FileName != Result->FileName || !WantsRead(r)) return;
  const int index = r.Index;
  if (TIOParamsVals* params = GetMIO()->GetParams(index)) params->Assign(*Result->Params);
  r.Background = Result->Background;
  if (Result->Failed) {
    // A file read again that can no longer be read keeps its picture.
    r.LoadFailed = true;
    r.Reread = false;
  } else {
    SetImage(index, Result->Bitmap.get());
    SetImageFullWidth(index, Result->FullWidth);
    SetImageFullHeight(index, Result->FullHeight);
  }
  if (OnImageLoaded) OnImageLoaded(this, index, Result->Failed ? nullptr : Result->Params.get());
  // A picture the store could not take (its file cannot grow) changes no
  // cell: it is asked for again at a later paint, not by this one's repaint
  // over and over.
  if (Result->Failed || r.Image != nullptr) QWidget::update();
}

// ------------------------------------------------------------ layout

int TRastrumMView::FittingColumns() const {
  const int step = FThumbWidth + FHorizBorder;
  return step > 0 ? (ClientWidth() - FHorizBorder) / step : 0;
}

int TRastrumMView::Columns() const { return FGridWidth == -1 ? FittingColumns() : FGridWidth; }

void TRastrumMView::LayoutImages() {
  const TLayoutKey key{Columns(), FThumbWidth, FThumbHeight, FHorizBorder, FVertBorder, FDisplayMode};
  if (!(key == FLayoutKey)) FLayoutFrom = 0;
  FLayoutKey = key;
  const int n = ImageCount();
  const std::int64_t stepX = static_cast<std::int64_t>(FThumbWidth) + FHorizBorder;
  const std::int64_t stepY = static_cast<std::int64_t>(FThumbHeight) + FVertBorder;
  const bool grid = FDisplayMode == mdGrid;
  // Positions depend on the index alone, so only images from the first
  // changed one on are placed again.
  for (int i = FLayoutFrom; i < n; ++i) {
    TImageRecord& r = *FImages[static_cast<std::size_t>(i)];
    if (!grid) {
      r.X = r.Y = r.Row = r.Col = 0;
      continue;
    }
    r.Col = key.Cols > 0 ? i % key.Cols : i;
    r.Row = key.Cols > 0 ? i / key.Cols : 0;
    r.X = ClampInt(stepX * r.Col + FHorizBorder);
    r.Y = ClampInt(stepY * r.Row + FVertBorder);
  }
  FLayoutFrom = n;
  std::int64_t maxX = 0, maxY = 0;
  if (grid && n > 0) {
    const int lastCol = key.Cols > 0 ? std::min(n, key.Cols) - 1 : n - 1;
    const int lastRow = key.Cols > 0 ? (n - 1) / key.Cols : 0;
    maxX = stepX * lastCol + FHorizBorder;
    maxY = stepY * lastRow + FVertBorder;
  }
  FContentWidth = ClampInt(maxX + stepX);
  FContentHeight = ClampInt(maxY + stepY);
}

bool TRastrumMView::CanUpdate() const { return !FDestroying && !FInLayout && UpdateLockCount() == 0; }

void TRastrumMView::Update() {
  if (!CanUpdate()) return;
  // The divisions of layout, hit test and keyboard need positive steps.
  if (FThumbWidth + FHorizBorder <= 0 || FThumbHeight + FVertBorder <= 0) return;
  FInLayout = true;
  DropScaledCopies();
  LayoutImages();
  for (int pass = 0; pass < 9; ++pass) {
    const int cw = ClientWidth(), ch = ClientHeight();
    const int maxX = std::max(FContentWidth - cw, 0), maxY = std::max(FContentHeight - ch, 0);
    if (FViewX > maxX || FViewY > maxY || FViewX < 0 || FViewY < 0) {
      FViewX = std::clamp(FViewX, 0, maxX);
      FViewY = std::clamp(FViewY, 0, maxY);
      DoViewChange(0);
    }
    for (const bool vertical : {false, true}) {
      const bool wanted = vertical ? (FScrollBars == ssVertical || FScrollBars == ssBoth)
                                   : (FScrollBars == ssHorizontal || FScrollBars == ssBoth);
      if (!wanted) continue;
      const int max = vertical ? maxY : maxX;
      if (max < 1) {
        ShowBar(vertical, false);
        continue;
      }
      const int client = vertical ? ch : cw;
      double& scale = vertical ? FScaleY : FScaleX;
      scale = (static_cast<double>(client) + max - 1) / 65536.0;
      QScrollBar* bar = vertical ? FVertBar : FHorzBar;
      const int page = std::clamp(static_cast<int>(client / scale), 1, 65536);
      bar->setRange(0, 65536 - page);
      bar->setPageStep(page);
      bar->setSingleStep(std::max(1, static_cast<int>((vertical ? FThumbHeight + FVertBorder
                                                                : FThumbWidth + FHorizBorder) / scale)));
      SetBarPosition(vertical);
      bar->setEnabled(true);
      ShowBar(vertical, true);
    }
    if (ClientWidth() == cw && ClientHeight() == ch) break;
    // A bar that came or went changed the client area: lay out again.
    LayoutImages();
  }
  CallBitmapChangeEvents();
  FInLayout = false;
  QWidget::update();
}

// ------------------------------------------------------------ scroll bars

void TRastrumMView::ApplyBarMargins() {
  const int f = FrameWidth();
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FVertBar);
  const bool v = !FVertBar->isHidden(), h = !FHorzBar->isHidden();
  setContentsMargins(f, f, f + (v ? extent : 0), f + (h ? extent : 0));
  FVertBar->setGeometry(width() - f - extent, f, extent, std::max(0, height() - 2 * f - (h ? extent : 0)));
  FHorzBar->setGeometry(f, height() - f - extent, std::max(0, width() - 2 * f - (v ? extent : 0)), extent);
}

void TRastrumMView::ShowBar(bool Vertical, bool Show) {
  QScrollBar* bar = Vertical ? FVertBar : FHorzBar;
  if (bar->isHidden() == !Show) return;
  bar->setVisible(Show);
  ApplyBarMargins();
}

void TRastrumMView::SetBarPosition(bool Vertical) {
  QScrollBar* bar = Vertical ? FVertBar : FHorzBar;
  const double scale = Vertical ? FScaleY : FScaleX;
  const int view = Vertical ? FViewY : FViewX;
  const int pos = scale > 0 ? static_cast<int>(view / scale) : 0;
  // Moving the slider from here must not come back as a request to scroll.
  FSettingBar = true;
  bar->setSliderPosition(pos);
  bar->setValue(pos);
  FSettingBar = false;
}

void TRastrumMView::RecreateWnd() {
  TRvView::RecreateWnd();
  ApplyBarMargins();
}

void TRastrumMView::resizeEvent(QResizeEvent* Event) {
  TRvView::resizeEvent(Event);
  ApplyBarMargins();
  Update();
}

void TRastrumMView::SetScrollBars(TScrollStyle Value) {
  FScrollBars = Value;
  // Bars the new value leaves out are hidden as well: they would otherwise
  // stay on screen and keep their share of the client area. Update shows
  // the wanted ones again when there is something to scroll.
  FHorzBar->setVisible(false);
  FVertBar->setVisible(false);
  ApplyBarMargins();
  Update();
}

void TRastrumMView::BarAction(bool Vertical, int Action) {
  if (FSettingBar) return;
  QScrollBar* bar = Vertical ? FVertBar : FHorzBar;
  TRvScrollCode code;
  switch (Action) {
  case QAbstractSlider::SliderSingleStepSub: code = scLineUp; break;
  case QAbstractSlider::SliderSingleStepAdd: code = scLineDown; break;
  case QAbstractSlider::SliderPageStepSub: code = scPageUp; break;
  case QAbstractSlider::SliderPageStepAdd: code = scPageDown; break;
  case QAbstractSlider::SliderToMinimum: code = scTop; break;
  case QAbstractSlider::SliderToMaximum: code = scBottom; break;
  case QAbstractSlider::SliderMove: code = scTrack; break;
  default: return;
  }
  ScrollMessage(Vertical, code, bar->sliderPosition());
  // The bar shows where the view went, not where the bar itself would go.
  SetBarPosition(Vertical);
}

void TRastrumMView::ScrollMessage(bool Vertical, TRvScrollCode Code, int Position) {
  const TRvScrollBarParams& params = Vertical ? FVScrollParams : FHScrollParams;
  const int current = Vertical ? FViewY : FViewX;
  const int line = params.LineStep == -1
                       ? (Vertical ? FThumbHeight + FVertBorder : FThumbWidth + FHorizBorder)
                       : params.LineStep;
  const int page = params.PageStep == -1 ? (Vertical ? ClientHeight() : ClientWidth()) : params.PageStep;
  const double scale = Vertical ? FScaleY : FScaleX;
  int value = current;
  switch (Code) {
  case scLineUp: value = current - line; break;
  case scLineDown: value = current + line; break;
  case scPageUp: value = current - page; break;
  case scPageDown: value = current + page; break;
  case scPosition: value = static_cast<int>(Position * scale); break;
  case scTrack:
    if (params.Tracking) value = static_cast<int>(Position * scale);
    break;
  case scTop: value = 0; break;
  case scBottom: value = Vertical ? MaxViewY() : MaxViewX(); break;
  default: break;
  }
  if (Vertical)
    SetViewY(value);
  else
    SetViewX(value);
}

// ------------------------------------------------------------ scrolling

int TRastrumMView::MaxViewX() const { return std::max(FContentWidth - ClientWidth(), 0); }
int TRastrumMView::MaxViewY() const { return std::max(FContentHeight - ClientHeight(), 0); }

void TRastrumMView::SetViewX(int Value) {
  if (Value == FViewX) return;
  FViewX = std::clamp(Value, 0, MaxViewX());
  QWidget::update();
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth) SetBarPosition(false);
}

void TRastrumMView::SetViewY(int Value) {
  if (Value == FViewY) return;
  FViewY = std::clamp(Value, 0, MaxViewY());
  QWidget::update();
  if (FScrollBars == ssVertical || FScrollBars == ssBoth) SetBarPosition(true);
}

void TRastrumMView::SetViewXY(int X, int Y) {
  if (X == FViewX && Y == FViewY) return;
  FViewX = std::clamp(X, 0, MaxViewX());
  FViewY = std::clamp(Y, 0, MaxViewY());
  QWidget::update();
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth) SetBarPosition(false);
  if (FScrollBars == ssVertical || FScrollBars == ssBoth) SetBarPosition(true);
}

void TRastrumMView::DoViewChange(int Change) {
  if (OnViewChange) OnViewChange(this, Change);
}

// ------------------------------------------------------------ properties

void TRastrumMView::SetThumbWidth(int Value) {
  if (Value == FThumbWidth) return;
  FThumbWidth = Value;
  DropScaledCopies();
  Update();
}

void TRastrumMView::SetThumbHeight(int Value) {
  if (Value == FThumbHeight) return;
  FThumbHeight = Value;
  DropScaledCopies();
  Update();
}

#define RV_UPDATING_SETTER(Name, Field, Type)                                                      \
  void TRastrumMView::Set##Name(Type Value) {                                                      \
    if (Value == Field) return;                                                                    \
    Field = Value;                                                                                 \
    Update();                                                                                      \
  }

RV_UPDATING_SETTER(HorizBorder, FHorizBorder, int)
RV_UPDATING_SETTER(VertBorder, FVertBorder, int)
RV_UPDATING_SETTER(BottomGap, FBottomGap, int)
RV_UPDATING_SETTER(UpperGap, FUpperGap, int)
RV_UPDATING_SETTER(VisibleSelection, FVisibleSelection, bool)
RV_UPDATING_SETTER(GridWidth, FGridWidth, int)
RV_UPDATING_SETTER(SelectionWidth, FSelectionWidth, int)
RV_UPDATING_SETTER(SelectionColor, FSelectionColor, platform::TColor)
RV_UPDATING_SETTER(RemoveCorrupted, FRemoveCorrupted, bool)
RV_UPDATING_SETTER(DrawImageBackground, FDrawImageBackground, bool)
RV_UPDATING_SETTER(Style, FStyle, TRvMStyle)
RV_UPDATING_SETTER(SelectionStyle, FSelectionStyle, TRvSStyle)
RV_UPDATING_SETTER(EnableMultiSelect, FEnableMultiSelect, bool)
RV_UPDATING_SETTER(ThumbnailsBorderWidth, FThumbnailsBorderWidth, int)
RV_UPDATING_SETTER(ThumbnailsBorderColor, FThumbnailsBorderColor, platform::TColor)
RV_UPDATING_SETTER(WallPaperStyle, FWallPaperStyle, TRvWallPaperStyle)
RV_UPDATING_SETTER(EnlargeSmallImages, FEnlargeSmallImages, bool)

#undef RV_UPDATING_SETTER

void TRastrumMView::SetMouseInteract(TRvMMouseInteract Value) { FMouseInteract = Value; }
void TRastrumMView::SetKeyInteract(TRvMKeyInteract Value) { FKeyInteract = Value; }

void TRastrumMView::SetDisplayMode(TRvMDisplayMode Value) {
  if (FPlaying) {
    FSavedDisplayMode = Value;
    return;
  }
  if (Value == FDisplayMode) return;
  FDisplayMode = Value;
  Update();
}

void TRastrumMView::SetImageCacheSize(int Value) {
  FImageCacheSize = Value;
  FStore->SetImageCacheSize(Value);
}

void TRastrumMView::SetWallPaper(const platform::TBitmap& Value) {
  FWallPaper.Assign(Value);
  Update();
}

void TRastrumMView::SetOnProgress(const TRvProgressEvent& Value) {
  FOnProgress = Value;
  if (FMIO) FMIO->OnProgress = Value;
  if (FProc) FProc->OnProgress = Value;
}

void TRastrumMView::SetBackground(platform::TColor Value) {
  TRvView::SetBackground(Value);
  Update();
}

platform::TBitmap* TRastrumMView::GetBitmap() { return FCurrentBitmap; }

int TRastrumMView::LockUpdate() { return TRvView::LockUpdate(); }
int TRastrumMView::UnlockUpdate() { return TRvView::UnlockUpdate(); }
int TRastrumMView::UnlockUpdateEx() { return TRvView::UnlockUpdateEx(); }

} // namespace rv
