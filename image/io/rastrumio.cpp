#include "image/io/rastrumio.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>

#include <algorithm>
#include <cctype>

#include "image/io/rvformats.h"
#include "image/model/rvmask.h"
#include "platform/stream.h"

namespace rv {

namespace {

// The extension with its dot, lower-cased; empty when the name has none.
std::string LowerExtension(const std::string& FileName) {
  const std::size_t slash = FileName.find_last_of('/');
  const std::size_t dot = FileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = FileName.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool IsOneOf(const std::string& Ext, std::initializer_list<const char*> List) {
  return std::any_of(List.begin(), List.end(), [&](const char* E) { return Ext == E; });
}

// The built-in reader chosen by extension; 0 for the registry path.
TRvFileType LoadTypeOfExtension(const std::string& Ext) {
  if (IsOneOf(Ext, {".jpg", ".jpeg", ".jpe"})) return rvftJPEG;
  if (Ext == ".jp2") return rvftJP2;
  if (IsOneOf(Ext, {".j2k", ".jpc", ".j2c"})) return rvftJ2K;
  if (Ext == ".png") return rvftPNG;
  if (IsOneOf(Ext, {".tif", ".tiff", ".fax", ".g3n", ".g3f"})) return rvftTIFF;
  if (Ext == ".pcx") return rvftPCX;
  if (Ext == ".gif") return rvftGIF;
  if (Ext == ".wmf") return rvftWMF;
  if (Ext == ".emf") return rvftEMF;
  if (IsOneOf(Ext, {".bmp", ".dib", ".rle"})) return rvftBMP;
  if (Ext == ".cur") return rvftCUR;
  if (Ext == ".ico") return rvftICO;
  if (IsOneOf(Ext, {".tga", ".targa", ".vda", ".icb", ".vst", ".win"})) return rvftTGA;
  if (IsOneOf(Ext, {".pxm", ".ppm", ".pgm", ".pbm"})) return rvftPXM;
  return rvftUnknown;
}

// The built-in writer chosen by extension; 0 for the registry path.
TRvFileType SaveTypeOfExtension(const std::string& Ext) {
  const TRvFileType t = LoadTypeOfExtension(Ext);
  switch (t) {
  case rvftICO:
  case rvftCUR:
  case rvftWMF:
  case rvftEMF:
    return rvftUnknown;
  default:
    return t;
  }
}

} // namespace

// ------------------------------------------------------------ life

TRastrumIO::TRastrumIO()
    : FOwnBitmap(std::make_unique<TRvBitmap>()), FTWainParams(std::make_unique<TRvTWainParams>(rvtoIO)),
      FAlive(std::make_shared<std::atomic<bool>>(true)),
      FParams(std::make_unique<TIOParamsVals>(this)) {
  FRvBitmap = FOwnBitmap.get();
  FTWainParams->OwnerWindow = [this] { return OwnerWindow(); };
}

TRastrumIO::~TRastrumIO() {
  // No worker may outlive what it uses.
  FThreads.WaitUntilEmpty();
  FAlive->store(false);
  DetachView();
  ForgetTImage();
}

// ------------------------------------------------------------ attachment

void TRastrumIO::DetachView() {
  if (FAttachedView != nullptr && FViewCallbackHandle != RvNoBitmapChangeEvent)
    FAttachedView->RemoveBitmapChangeEvent(FViewCallbackHandle);
  FViewCallbackHandle = RvNoBitmapChangeEvent;
}

void TRastrumIO::ReadView() {
  FBitmap = FAttachedView->GetBitmap();
  FAlphaMask = FAttachedView->HasAlphaChannel() ? FAttachedView->GetAlphaChannel() : nullptr;
}

void TRastrumIO::ForgetTImage() {
  if (FAttachedTImage != nullptr) FAttachedTImage->RemoveFreeNotification(FTImageHandle);
  FAttachedTImage = nullptr;
  FTImageHandle = 0;
}

void TRastrumIO::TImageDestroyed(TImage* Sender) {
  if (Sender != FAttachedTImage) return;
  FAttachedTImage = nullptr;
  FTImageHandle = 0;
  // The target was the control's bitmap and went with it.
  FBitmap = nullptr;
  if (FRvBitmap != nullptr && FRvBitmap->External()) FRvBitmap->FreeBits();
}

void TRastrumIO::SetAttachedRastrum(TRvViewLink* View) {
  DetachView();
  FAttachedView = View;
  if (View == nullptr) {
    // The wrapped bitmap belonged to the view.
    FBitmap = nullptr;
    FAlphaMask = FOwnedMask.get();
    if (FRvBitmap != nullptr) FRvBitmap->FreeBits();
    return;
  }
  ForgetTImage();
  FOwnedMask.reset();
  ReadView();
  if (FRvBitmap != nullptr && FBitmap != nullptr) FRvBitmap->CopyFromTBitmap(FBitmap);
  FViewCallbackHandle = View->RegisterBitmapChangeEvent(
      [this](TRvViewLink* Sender, bool Destroying) { ViewBitmapChanged(Sender, Destroying); });
}

void TRastrumIO::ViewBitmapChanged(TRvViewLink* Sender, bool Destroying) {
  if (Destroying) {
    if (Sender != FAttachedView) return;
    FAttachedView = nullptr;
    FViewCallbackHandle = RvNoBitmapChangeEvent;
    FAlphaMask = nullptr;
    // Wrapped pixels of a view that is going away must not be touched again.
    FBitmap = nullptr;
    if (FRvBitmap != nullptr && FRvBitmap->External()) FRvBitmap->FreeBits();
    return;
  }
  if (FAttachedView != nullptr) ReadView();
}

void TRastrumIO::SetAttachedTImage(TImage* Image) {
  DetachView();
  ForgetTImage();
  if (Image == nullptr) {
    FBitmap = nullptr;
    if (FRvBitmap != nullptr) FRvBitmap->FreeBits();
    return;
  }
  FAttachedTImage = Image;
  FBitmap = Image->PictureBitmap();
  if (FRvBitmap != nullptr) FRvBitmap->CopyFromTBitmap(FBitmap);
  FTImageHandle = Image->FreeNotification([this](TImage* Sender) { TImageDestroyed(Sender); });
  FAttachedView = nullptr;
  FOwnedMask.reset();
  FAlphaMask = nullptr;
}

void TRastrumIO::SetAttachedBitmap(platform::TBitmap* ABitmap) {
  DetachView();
  if (ABitmap == nullptr && (FAttachedView != nullptr || FAttachedTImage != nullptr)) return;
  FBitmap = ABitmap;
  if (FRvBitmap != nullptr) {
    if (ABitmap != nullptr)
      FRvBitmap->CopyFromTBitmap(ABitmap);
    else
      FRvBitmap->FreeBits();
  }
  if (ABitmap != nullptr) {
    FAttachedView = nullptr;
    ForgetTImage();
    FOwnedMask.reset();
    FAlphaMask = nullptr;
  }
}

void TRastrumIO::SetAttachedRvBitmap(TRvBitmap* ABitmap) {
  DetachView();
  if (ABitmap == nullptr && (FAttachedView != nullptr || FAttachedTImage != nullptr)) return;
  FBitmap = nullptr;
  FOwnBitmap.reset();
  FOwnsRvBitmap = false;
  FRvBitmap = ABitmap;
  if (ABitmap != nullptr) {
    FAttachedView = nullptr;
    ForgetTImage();
    FOwnedMask.reset();
    FAlphaMask = nullptr;
  }
}

platform::TColor TRastrumIO::GetBackground() const {
  return FAttachedView != nullptr ? FAttachedView->GetBackground() : FBackgroundColor;
}

void TRastrumIO::SetBackground(platform::TColor Value) {
  if (FAttachedView == nullptr) FBackgroundColor = Value;
}

void TRastrumIO::AssignParams(const TRastrumIO* Source) {
  if (Source != nullptr && Source != this) FParams->Assign(*Source->FParams);
}

void TRastrumIO::AssignParams(const TIOParamsVals* Source) {
  if (Source != nullptr && Source != FParams.get()) FParams->Assign(*Source);
}

// ------------------------------------------------------------ workers

bool TRastrumIO::IsInsideIOThread() { return FThreads.IsWorkerThread(); }

bool TRastrumIO::ShouldHandOff() { return AsyncMode && !FOwnsRvBitmap && !IsInsideIOThread(); }

TRvIOThreadEnd TRastrumIO::WorkerEnd() {
  return [this](TRvIOThread&, bool Raised) {
    if (Raised) Aborting = true;
    if (OnFinishWork) OnFinishWork(this);
  };
}

// ------------------------------------------------------------ common steps

void TRastrumIO::MakeProgress(TRvProgressRec& Progress, bool WithEvent) {
  Progress.Sender = this;
  Progress.Aborting = &Aborting;
  Progress.OnProgress = nullptr;
  if (!WithEvent || !OnProgress) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!IsInsideIOThread() || app == nullptr) {
    Progress.OnProgress = OnProgress;
    return;
  }
  // On a worker the reports travel to the user-interface thread, in order;
  // a value already reported is not queued again.
  auto alive = FAlive;
  auto event = OnProgress;
  auto last = std::make_shared<int>(-1);
  Progress.OnProgress = [alive, event, last, app](void* Sender, int Per) {
    if (Per == *last) return;
    *last = Per;
    QMetaObject::invokeMethod(
        app,
        [alive, event, Sender, Per] {
          if (alive->load()) event(Sender, Per);
        },
        Qt::QueuedConnection);
  };
}

bool TRastrumIO::StartOperation() {
  Aborting = false;
  if (FRvBitmap == nullptr) {
    FinishWork();
    return false;
  }
  if (FBitmap != nullptr) FRvBitmap->CopyFromTBitmap(FBitmap);
  return true;
}

void TRastrumIO::FinishWork() {
  // A worker's end is reported on the user-interface thread (WorkerEnd).
  if (IsInsideIOThread()) return;
  if (OnFinishWork) OnFinishWork(this);
}

void TRastrumIO::UpdateView() {
  if (FAttachedView != nullptr) {
    FAttachedView->Update();
    FAttachedView->ImageChange();
  } else if (FAttachedTImage != nullptr && FBitmap != nullptr) {
    FAttachedTImage->Modified();
  }
}

void TRastrumIO::EndLoad(bool SetViewDPI) {
  if (AutoAdjustDPI) AdjustDPI();
  if (FAttachedView != nullptr && SetViewDPI) FAttachedView->SetDPI(FParams->DpiX, FParams->DpiY);
  UpdateView();
  FinishWork();
}

void TRastrumIO::ConvertForSave() {
  const TRvPixelFormat pf = FRvBitmap->PixelFormat();
  if (pf != rvpf24Bit && pf != rvpf1Bit && pf != rvpfNone) FRvBitmap->SetPixelFormat(rvpf24Bit);
}

// ------------------------------------------------------------ dispatch

bool TRastrumIO::LoadFileByType(const std::string& FileName, TRvFileType FileType) {
  switch (FileType) {
  case rvftTIFF: LoadTIFFFile(FileName); return true;
  case rvftGIF: LoadGIFFile(FileName); return true;
  case rvftJPEG: LoadJpegFile(FileName); return true;
  case rvftPCX: LoadPCXFile(FileName); return true;
  case rvftBMP: LoadBMPFile(FileName); return true;
  case rvftICO: LoadICOFile(FileName); return true;
  case rvftCUR: LoadCURFile(FileName); return true;
  case rvftPNG: LoadPNGFile(FileName); return true;
  case rvftWMF:
  case rvftEMF: LoadMetafile(FileName, -1, -1); return true;
  case rvftTGA: LoadTGAFile(FileName); return true;
  case rvftPXM: LoadPXMFile(FileName); return true;
  case rvftJP2: LoadJP2File(FileName); return true;
  case rvftJ2K: LoadJ2KFile(FileName); return true;
  default: return false;
  }
}

bool TRastrumIO::LoadStreamByType(platform::TStream& Stream, TRvFileType FileType) {
  switch (FileType) {
  case rvftTIFF: LoadTIFFStream(Stream); return true;
  case rvftGIF: LoadGIFStream(Stream); return true;
  case rvftJPEG: LoadJpegStream(Stream); return true;
  case rvftPCX: LoadPCXStream(Stream); return true;
  case rvftBMP: LoadBMPStream(Stream); return true;
  case rvftICO: LoadICOStream(Stream); return true;
  case rvftCUR: LoadCURStream(Stream); return true;
  case rvftPNG: LoadPNGStream(Stream); return true;
  case rvftTGA: LoadTGAStream(Stream); return true;
  case rvftPXM: LoadPXMStream(Stream); return true;
  case rvftJP2: LoadJP2Stream(Stream); return true;
  case rvftJ2K: LoadJ2KStream(Stream); return true;
  default: return false;
  }
}

bool TRastrumIO::SaveFileByType(const std::string& FileName, TRvFileType FileType) {
  switch (FileType) {
  case rvftTIFF: SaveTIFFFile(FileName); return true;
  case rvftGIF: SaveGIFFile(FileName); return true;
  case rvftJPEG: SaveJpegFile(FileName); return true;
  case rvftPCX: SavePCXFile(FileName); return true;
  case rvftBMP: SaveBMPFile(FileName); return true;
  case rvftPNG: SavePNGFile(FileName); return true;
  case rvftTGA: SaveTGAFile(FileName); return true;
  case rvftPXM: SavePXMFile(FileName); return true;
  case rvftJP2: SaveJP2File(FileName); return true;
  case rvftJ2K: SaveJ2KFile(FileName); return true;
  default: return false;
  }
}

bool TRastrumIO::SaveStreamByType(platform::TStream& Stream, TRvFileType FileType) {
  switch (FileType) {
  case rvftTIFF: SaveTIFFStream(Stream); return true;
  case rvftGIF: SaveGIFStream(Stream); return true;
  case rvftJPEG: SaveJpegStream(Stream); return true;
  case rvftPCX: SavePCXStream(Stream); return true;
  case rvftBMP: SaveBMPStream(Stream); return true;
  case rvftPNG: SavePNGStream(Stream); return true;
  case rvftTGA: SaveTGAStream(Stream); return true;
  case rvftPXM: SavePXMStream(Stream); return true;
  case rvftJP2: SaveJP2Stream(Stream); return true;
  case rvftJ2K: SaveJ2KStream(Stream); return true;
  default: return false;
  }
}

void TRastrumIO::LoadFromFile(const std::string& FileName) {
  if (FRvBitmap == nullptr || FileName.empty()) return;
  const std::string ext = LowerExtension(FileName);
  if (LoadFileByType(FileName, LoadTypeOfExtension(ext))) return;
  const TRvFileFormatInfo* info =
      RvFindFileFormatInfoByExt(ext.empty() ? std::string() : ext.substr(1));
  if (info == nullptr || !static_cast<bool>(info->ReadEntry)) {
    Aborting = true;
    return;
  }
  // A registered extension of a built-in type (".pix" is Targa) loads
  // through that type's reader, not the registry's placeholder, which would
  // keep the old picture and call it a success.
  if (LoadFileByType(FileName, info->FileType)) return;
  if (HandOff(TRvIOFileProc([this](const std::string& N) { LoadFromFile(N); }), FileName)) return;
  FParams->FileName.clear();
  FParams->FileType = rvftUnknown;
  FParams->ResetInfo();
  if (!StartOperation()) return;
  TRvProgressRec progress;
  MakeProgress(progress);
  try {
    platform::TFileStream file(FileName, platform::fmOpenRead);
    FParams->FileName = FileName;
    FParams->FileType = info->FileType;
    info->ReadEntry(file, *FRvBitmap, *FParams, progress, false);
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  EndLoad(true);
}

void TRastrumIO::LoadFromFileFormat(const std::string& FileName, TRvFileType FileType) {
  if (LoadFileByType(FileName, FileType)) return;
  if (HandOff(TRvIOFileValueProc([this](const std::string& N, int T) { LoadFromFileFormat(N, T); }),
              FileName, FileType))
    return;
  if (!StartOperation()) return;
  FParams->ResetInfo();
  FParams->FileName.clear();
  FParams->FileType = rvftUnknown;
  const TRvFileFormatInfo* info = RvFindFileFormatInfo(FileType);
  if (info == nullptr || !static_cast<bool>(info->ReadEntry)) {
    Aborting = true;
    // The start was reached, so the end is reported.
    FinishWork();
    return;
  }
  TRvProgressRec progress;
  MakeProgress(progress);
  try {
    platform::TFileStream file(FileName, platform::fmOpenRead);
    FParams->FileName = FileName;
    FParams->FileType = info->FileType;
    info->ReadEntry(file, *FRvBitmap, *FParams, progress, false);
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  EndLoad(true);
}

void TRastrumIO::LoadFromStream(platform::TStream& Stream) {
  const std::int64_t pos = Stream.Position();
  const TRvFileType type = RvFindStreamFormat(Stream);
  Stream.SetPosition(pos);
  if (type == rvftUnknown) {
    Aborting = true;
    return;
  }
  if (LoadStreamByType(Stream, type)) return;
  if (HandOff(TRvIOStreamProc([this](platform::TStream& S) { LoadFromStream(S); }), Stream)) return;
  LoadFromStreamFormat(Stream, type);
}

void TRastrumIO::LoadFromStreamFormat(platform::TStream& Stream, TRvFileType FileType) {
  if (LoadStreamByType(Stream, FileType)) return;
  if (HandOff(TRvIOStreamValueProc(
                  [this](platform::TStream& S, int T) { LoadFromStreamFormat(S, T); }),
              Stream, FileType))
    return;
  if (!StartOperation()) return;
  FParams->ResetInfo();
  FParams->FileName.clear();
  FParams->FileType = rvftUnknown;
  const TRvFileFormatInfo* info = RvFindFileFormatInfo(FileType);
  // A metafile's registry entry reads nothing; succeeding with the old
  // picture would misreport the load.
  if (info == nullptr || !static_cast<bool>(info->ReadEntry) || FileType == rvftWMF ||
      FileType == rvftEMF) {
    Aborting = true;
    FinishWork();
    return;
  }
  TRvProgressRec progress;
  MakeProgress(progress);
  try {
    FParams->FileType = info->FileType;
    info->ReadEntry(Stream, *FRvBitmap, *FParams, progress, false);
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  EndLoad(true);
}

void TRastrumIO::SaveToFile(const std::string& FileName) {
  if (FileName.empty()) return;
  const std::string ext = LowerExtension(FileName);
  if (SaveFileByType(FileName, SaveTypeOfExtension(ext))) return;
  const TRvFileFormatInfo* info =
      RvFindFileFormatInfoByExt(ext.empty() ? std::string() : ext.substr(1));
  if (info == nullptr || !static_cast<bool>(info->WriteEntry)) {
    Aborting = true;
    return;
  }
  // ".pix" and other registered names of a built-in type save as that type
  // instead of through the registry's placeholder, which writes nothing.
  if (SaveFileByType(FileName, info->FileType)) return;
  if (HandOff(TRvIOFileProc([this](const std::string& N) { SaveToFile(N); }), FileName)) return;
  RunSaveFile(info->FileType, FileName);
}

void TRastrumIO::SaveToStream(platform::TStream& Stream, TRvFileType FileType) {
  if (SaveStreamByType(Stream, FileType)) return;
  const TRvFileFormatInfo* info = RvFindFileFormatInfo(FileType);
  if (info == nullptr || !static_cast<bool>(info->WriteEntry)) {
    Aborting = true;
    return;
  }
  if (HandOff(TRvIOStreamValueProc([this](platform::TStream& S, int T) { SaveToStream(S, T); }),
              Stream, FileType))
    return;
  RunSaveStream(FileType, Stream);
}

// ------------------------------------------------------------ header-only reads

namespace {

bool ReadsNothing(TRvFileType FileType) { return FileType == rvftWMF || FileType == rvftEMF; }

} // namespace

void TRastrumIO::ParamsFromFile(const std::string& FileName) {
  // One open: the contents are recognised on the stream the header is then
  // read from (a folder's loader reads thousands of headers).
  std::unique_ptr<platform::TFileStream> File;
  TRvFileType Type = rvftUnknown;
  try {
    File = std::make_unique<platform::TFileStream>(FileName, platform::fmOpenRead);
    Type = RvVerifyFileExtension(FileName, RvFindStreamFormat(*File));
  } catch (...) {
    File.reset();
  }
  try {
    if (File == nullptr || ReadsNothing(Type)) {
      ParamsFromFileFormat(FileName, Type);
      return;
    }
    // Named before the read, as the file's own read does: the end of the
    // work is reported with it.
    FParams->FileName = FileName;
    ParamsFromStreamFormat(*File, Type);
    FParams->FileName = FileName;
  } catch (...) {
    Aborting = true;
  }
}

void TRastrumIO::ParamsFromStream(platform::TStream& Stream) {
  try {
    const std::int64_t pos = Stream.Position();
    const TRvFileType type = RvFindStreamFormat(Stream);
    Stream.SetPosition(pos);
    ParamsFromStreamFormat(Stream, type);
  } catch (...) {
    Aborting = true;
  }
}

void TRastrumIO::ParamsFromFileFormat(const std::string& FileName, TRvFileType FileType) {
  TIOParamsVals& p = *FParams;
  p.FileType = FileType;
  p.ResetInfo();
  Aborting = false;
  TRvProgressRec progress;
  MakeProgress(progress, false);
  try {
    if (!ReadsNothing(FileType)) {
      platform::TFileStream file(FileName, platform::fmOpenRead);
      // Header-only reads never touch pixels, but a scratch target keeps a
      // view's picture out of reach all the same.
      TRvBitmap scratch;
      std::unique_ptr<TRvMask> mask;
      if (FileType >= rvftTIFF && FileType <= rvftJ2K) {
        ReadBuiltIn(file, scratch, FileType, true, file.Size(), progress, &mask);
        if (FileType == rvftJPEG) ReadJpegMetadata(true);
      } else if (const TRvFileFormatInfo* info = RvFindFileFormatInfo(FileType);
                 info != nullptr && static_cast<bool>(info->ReadEntry)) {
        info->ReadEntry(file, scratch, p, progress, true);
      } else {
        // Nothing could read the header: that is no success.
        Aborting = true;
      }
    }
  } catch (...) {
    p.FileType = rvftUnknown;
    Aborting = true;
  }
  if (Aborting) p.FileType = rvftUnknown;
  p.FileName = FileName;
  FinishWork();
}

void TRastrumIO::ParamsFromStreamFormat(platform::TStream& Stream, TRvFileType FileType) {
  TIOParamsVals& p = *FParams;
  p.FileType = FileType;
  p.ResetInfo();
  Aborting = false;
  TRvProgressRec progress;
  MakeProgress(progress, false);
  try {
    if (!ReadsNothing(FileType)) {
      TRvBitmap scratch;
      std::unique_ptr<TRvMask> mask;
      const std::int64_t length = Stream.Size() - Stream.Position();
      if (FileType >= rvftTIFF && FileType <= rvftJ2K) {
        ReadBuiltIn(Stream, scratch, FileType, true, length, progress, &mask);
        if (FileType == rvftJPEG) ReadJpegMetadata(true);
      } else if (const TRvFileFormatInfo* info = RvFindFileFormatInfo(FileType);
                 info != nullptr && static_cast<bool>(info->ReadEntry)) {
        info->ReadEntry(Stream, scratch, p, progress, true);
      } else {
        Aborting = true;
      }
    }
  } catch (...) {
    p.FileType = rvftUnknown;
    Aborting = true;
  }
  if (Aborting) p.FileType = rvftUnknown;
  FinishWork();
}

// ------------------------------------------------------------ scanner and previews

QWidget* TRastrumIO::OwnerWindow() const {
  auto* view = dynamic_cast<QWidget*>(FAttachedView);
  return view != nullptr ? view->window() : nullptr;
}

bool TRastrumIO::Acquire() {
  // A call made while an acquisition runs got no picture.
  if (FAcquireBusy != 0) return false;
  // No hand-off to a worker: the scanner's windows and the loop that waits
  // for it belong to the user-interface thread.
  if (!StartOperation()) return false;
  struct TBusy {
    std::int32_t& Flag;
    explicit TBusy(std::int32_t& F) : Flag(F) { Flag = 1; }
    ~TBusy() { Flag = 0; }
  };
  bool acquired = false;
  {
    TBusy busy(FAcquireBusy);
    TRvProgressRec progress;
    MakeProgress(progress);
    try {
      acquired = TwainAcquire(FRvBitmap, *FTWainParams, OwnerWindow(), FTWainParams->Shared(), progress,
                              FParams.get());
    } catch (...) {
      Aborting = true;
      FinishWork();
      throw;
    }
  }
  if (acquired) {
    if (AutoAdjustDPI) AdjustDPI();
    if (FAttachedView != nullptr) {
      FAttachedView->SetDpiX(FParams->DpiX);
      FAttachedView->SetDpiY(FParams->DpiY);
    }
  } else {
    Aborting = true;
  }
  if (QWidget* owner = OwnerWindow()) owner->setFocus();
  UpdateView();
  FinishWork();
  return acquired;
}

bool TRastrumIO::SelectAcquireSource() {
  std::string name;
  const bool chosen = TwainSelectSource(name, FTWainParams->Shared(), OwnerWindow());
  FTWainParams->SetSourceByName(name);
  return chosen;
}

void TRastrumIO::DoAcquireBitmap(TRvBitmap* ABitmap, bool& Handled) {
  if (OnAcquireBitmap) OnAcquireBitmap(this, ABitmap, Handled);
}

void TRastrumIO::AcquiredBitmap(TRvBitmap* ABitmap, TIOParamsVals& AParams) {
  if (FBitmap != nullptr && FRvBitmap != nullptr) FRvBitmap->CopyFromTBitmap(FBitmap);
  bool handled = false;
  DoAcquireBitmap(ABitmap, handled);
  if (handled || FRvBitmap == nullptr || ABitmap == nullptr) return;
  // The acquisition's parameters become the component's.
  if (&AParams != FParams.get()) FParams->Assign(AParams);
  FRvBitmap->Assign(ABitmap);
  if (AutoAdjustDPI) AdjustDPI();
  UpdateView();
}

namespace {

TRvIOPreviewsDialog& PreviewsDialog() {
  static TRvIOPreviewsDialog dialog;
  return dialog;
}

} // namespace

void RvSetIOPreviewsDialog(TRvIOPreviewsDialog Dialog) { PreviewsDialog() = std::move(Dialog); }

bool RvHasIOPreviewsDialog() { return static_cast<bool>(PreviewsDialog()); }

bool TRastrumIO::DoPreviews(TRvPreviewPages PreviewKinds) {
  bool handled = false;
  if (OnDoPreviews) OnDoPreviews(this, handled);
  if (handled) return true;
  if (FRvBitmap == nullptr || !PreviewsDialog()) return false;
  if (FBitmap != nullptr) FRvBitmap->CopyFromTBitmap(FBitmap);
  ConvertForSave();
  const bool accepted = PreviewsDialog()(*this, PreviewKinds, OwnerWindow());
  UpdateView();
  return accepted;
}

} // namespace rv
