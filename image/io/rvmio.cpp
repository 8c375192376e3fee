#include "image/io/rvmio.h"

#include <algorithm>
#include <cmath>

#include "image/io/avi/rvavifile.h"
#include "image/io/gif/gifread.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvformats.h"
#include "image/io/tiff/tiffread.h"
#include "image/model/rvclipboard.h"
#include "image/model/rvdib.h"
#include "image/model/rvmask.h"
#include "image/model/rvthumbstore.h"
#include "platform/stream.h"

namespace rv {

namespace {

platform::TColor ColorOf(const TRGB& C) {
  return static_cast<platform::TColor>(RvSwapRedBlue(static_cast<int>(RvRGBToPacked(C))));
}

} // namespace

TRastrumMIO::TRastrumMIO() : FTWainParams(std::make_unique<TRvTWainParams>(rvtoMultiIO)) {}

TRastrumMIO::~TRastrumMIO() { Detach(); }

void TRastrumMIO::Detach() {
  if (FView != nullptr && FCallbackHandle != RvNoBitmapChangeEvent)
    FView->ViewLink().RemoveBitmapChangeEvent(FCallbackHandle);
  FCallbackHandle = RvNoBitmapChangeEvent;
}

void TRastrumMIO::SetAttachedMView(TRvMViewLink* View) {
  Detach();
  FView = View;
  if (View == nullptr) return;
  FCallbackHandle = View->ViewLink().RegisterBitmapChangeEvent(
      [this](TRvViewLink* Sender, bool Destroying) { ViewChanged(Sender, Destroying); });
  // The records are made for the images there are now; a list change the
  // view reported before must not add one more.
  View->TakeLastOp();
  // Records copied from a neighbour that is a fresh record are fresh ones:
  // a view of thousands of images gets them without making each.
  if (FParams.empty()) FParams.resize(static_cast<std::size_t>(View->ImageCount()));
  while (ParamsCount() < View->ImageCount()) InsertParams(ParamsCount());
}

TIOParamsVals* TRastrumMIO::GetParams(int Index) {
  if (Index < 0 || Index >= ParamsCount()) return nullptr;
  std::unique_ptr<TIOParamsVals>& params = FParams[static_cast<std::size_t>(Index)];
  if (!params) {
    params = std::make_unique<TIOParamsVals>();
    params->TiffImageIndex = Index;
    params->GifImageIndex = Index;
  }
  return params.get();
}

int TRastrumMIO::ParamsMade() const {
  return static_cast<int>(std::count_if(FParams.begin(), FParams.end(), [](const auto& P) { return P != nullptr; }));
}

void TRastrumMIO::TakeParams(TRastrumMIO& Source, int First) {
  First = std::clamp(First, 0, ParamsCount());
  const int count = std::min(Source.ParamsCount(), ParamsCount() - First);
  for (int i = 0; i < count; ++i)
    FParams[static_cast<std::size_t>(First + i)] = std::move(Source.FParams[static_cast<std::size_t>(i)]);
  Source.FParams.clear();
  Renumber(First);
}

void TRastrumMIO::ViewChanged(TRvViewLink*, bool Destroying) {
  if (Destroying) {
    FView = nullptr;
    FCallbackHandle = RvNoBitmapChangeEvent;
    return;
  }
  if (FView == nullptr) return;
  const int op = FView->TakeLastOp();
  if (op == RvMOpInsert)
    InsertParams(FView->LastOpIndex());
  else if (op == RvMOpDelete)
    DeleteParams(FView->LastOpIndex());
}

void TRastrumMIO::Renumber(int From) {
  for (int i = std::max(0, From); i < ParamsCount(); ++i) {
    if (TIOParamsVals* params = FParams[static_cast<std::size_t>(i)].get()) {
      params->TiffImageIndex = i;
      params->GifImageIndex = i;
    }
  }
}

void TRastrumMIO::InsertParams(int Index) {
  // Indexes outside the list insert at its nearer end.
  const int at = std::clamp(Index, 0, ParamsCount());
  // A new image takes its neighbour's settings; a fresh neighbour's copy
  // is fresh.
  std::unique_ptr<TIOParamsVals> params;
  const TIOParamsVals* neighbour =
      FParams.empty() ? nullptr : FParams[static_cast<std::size_t>(at < ParamsCount() ? at : at - 1)].get();
  if (neighbour != nullptr) {
    params = std::make_unique<TIOParamsVals>();
    params->Assign(*neighbour);
  }
  FParams.insert(FParams.begin() + at, std::move(params));
  // Records before the insertion keep their numbers.
  Renumber(at);
}

void TRastrumMIO::DeleteParams(int Index) {
  if (Index < 0 || Index >= ParamsCount()) return;
  FParams.erase(FParams.begin() + Index);
  Renumber(Index);
}

void TRastrumMIO::UpdateView() {
  if (FView == nullptr) return;
  FView->ViewLink().Update();
  FView->ViewLink().ImageChange();
}

void TRastrumMIO::Report(TRvProgressRec& Progress, int Per) {
  if (Progress.OnProgress) Progress.OnProgress(Progress.Sender, Per);
}

// ------------------------------------------------------------ loads

void TRastrumMIO::LoadMultiImageFile(const std::string& FileName) {
  Aborting = false;
  const std::string ext = RvExtractExtension(FileName);
  if (ext == "gif")
    LoadGifFileFrames(FileName);
  else if (ext == "tif" || ext == "tiff")
    LoadTiffFileFrames(FileName);
  else if (ext == "avi")
    LoadAviFileFrames(FileName);
}

void TRastrumMIO::LoadGifFileFrames(const std::string& FileName) {
  Aborting = false;
  platform::TFileStream file(FileName, platform::fmOpenRead);
  LoadGifStreamFrames(file);
}

void TRastrumMIO::LoadTiffFileFrames(const std::string& FileName) {
  Aborting = false;
  platform::TFileStream file(FileName, platform::fmOpenRead);
  LoadTiffStreamFrames(file);
}

void TRastrumMIO::LoadGifStreamFrames(platform::TStream& Stream) { LoadFrames(Stream, true); }
void TRastrumMIO::LoadTiffStreamFrames(platform::TStream& Stream) { LoadFrames(Stream, false); }

void TRastrumMIO::AdjustDPI(TRvBitmap& Bitmap, TIOParamsVals& Params, bool Filtered) {
  if (Params.DpiX <= 0 || Params.DpiY <= 0 || Params.DpiX == Params.DpiY) return;
  // The input/output component's own adjustment, on this bitmap and record.
  TRastrumIO io;
  io.SetAttachedRvBitmap(&Bitmap);
  io.Params().Assign(Params);
  io.FilteredAdjustDPI = Filtered;
  io.AdjustDPI();
  io.SetAttachedRvBitmap(nullptr);
  Params.DpiX = io.Params().DpiX;
  Params.DpiY = io.Params().DpiY;
  Params.Width = io.Params().Width;
  Params.Height = io.Params().Height;
}

bool TRastrumMIO::PlaceFrame(int Position, TRvBitmap& Bitmap, TIOParamsVals& Params, bool Gif, int& Delay) {
  if (AutoAdjustDPI && !Aborting) AdjustDPI(Bitmap, Params, FilteredAdjustDPI);
  Params.GifImageIndex = Position;
  Params.TiffImageIndex = Position;
  Params.FileType = Gif ? rvftGIF : rvftTIFF;
  Params.FileName.clear();
  if (Aborting) {
    FView->DeleteImage(Position);
    return false;
  }
  FView->SetImage(Position, &Bitmap);
  if (Gif) {
    FView->ImageBackground(Position, ColorOf(Params.GifBackground));
    if (Params.GifDelayTime > 0) Delay = Params.GifDelayTime * 10;
    FView->SetImageDelayTime(Position, Delay);
  } else {
    FView->SetImageDelayTime(Position, 100);
  }
  return true;
}

void TRastrumMIO::LoadFrames(platform::TStream& Stream, bool Gif) {
  if (FView == nullptr) return;
  TRvProgressRec progress;
  progress.OnProgress = OnProgress;
  progress.Sender = this;
  progress.Aborting = &Aborting;
  const int position = std::max(FView->SelectedImage(), 0);
  if (Gif)
    LoadGifFrames(Stream, progress, position);
  else
    LoadTiffFrames(Stream, progress, position);
  UpdateView();
}

namespace {

// A frame sink made of two calls.
template <class TParamsCall, class TReadCall>
class TGifFrameCalls : public TGifFrameSink {
public:
  TGifFrameCalls(TParamsCall Params, TReadCall Read) : FParams(Params), FRead(Read) {}
  TIOParamsVals* FrameParams(int Index) override { return FParams(Index); }
  bool FrameRead(int Index, TRvBitmap& Bitmap) override { return FRead(Index, Bitmap); }

private:
  TParamsCall FParams;
  TReadCall FRead;
};

} // namespace

void TRastrumMIO::LoadGifFrames(platform::TStream& Stream, TRvProgressRec& Progress, int Position) {
  // One walk over the file reads every frame: a read per frame would walk
  // it once per frame.
  const int first = Position;
  int delay = 10;
  // An image was inserted for the frame being read.
  bool pending = false;
  auto params = [&](int) {
    FView->InsertImageEx(Position);
    TIOParamsVals* params = GetParams(Position);
    if (params != nullptr) {
      pending = true;
      // The file's comments are kept once, in its first frame's record: a
      // frame's record starts as a copy of its neighbour's, and copies of
      // every comment in every frame grow with frames x comments.
      params->GifComments.clear();
    }
    return params;
  };
  // The frames together hold no more than the largest picture the program
  // opens: each takes a block of its own however small it is, and a file of
  // thousands of tiny frames (15 bytes each) would otherwise fill gigabytes.
  // The animation plays the frames that fit.
  const std::int64_t budget = RvMaxPixels() * 3;
  std::int64_t held = 0;
  auto read = [&](int, TRvBitmap& Bitmap) {
    pending = false;
    const std::int64_t block = (std::int64_t{TRvVirtualDIBList::HeaderSize} +
                                std::int64_t{Bitmap.Height()} * Bitmap.RowLen() + TRvVirtualDIBList::BlockAlign - 1) /
                               TRvVirtualDIBList::BlockAlign * TRvVirtualDIBList::BlockAlign;
    held += block;
    if (Position > first && held > budget) {
      FView->DeleteImage(Position);
      return false;
    }
    if (!PlaceFrame(Position, Bitmap, *GetParams(Position), true, delay)) return false;
    ++Position;
    return !Aborting;
  };
  TGifFrameCalls sink(params, read);
  std::vector<std::string> comments;
  const int frames = GifReadFrames(Stream, sink, comments, Progress);
  // The image of a frame whose read failed goes again.
  if (pending) FView->DeleteImage(Position);
  for (int i = first; i < Position; ++i) GetParams(i)->GifImageCount = frames;
  if (Position > first) GetParams(first)->GifComments = std::move(comments);
}

void TRastrumMIO::LoadTiffFrames(platform::TStream& Stream, TRvProgressRec& Progress, int Position) {
  const std::int64_t start = Stream.Position();
  int frameCount = 1;
  double factor = 0;
  int delay = 100;
  for (int n = 0; n < frameCount; ++n) {
    FView->InsertImageEx(Position);
    TIOParamsVals* params = GetParams(Position);
    if (params == nullptr) break;
    Stream.SetPosition(start);
    TRvBitmap bitmap;
    std::unique_ptr<TRvMask> mask;
    int count = 0;
    params->TiffImageIndex = n;
    TiffReadStream(bitmap, Stream, count, true, true, mask, false, Progress, params);
    frameCount = count;
    if (count == 0 && !Aborting) {
      // The file held no page.
      FView->DeleteImage(Position);
    } else {
      if (!PlaceFrame(Position, bitmap, *params, false, delay)) break;
      factor = 100.0 / count;
    }
    Report(Progress, static_cast<int>(n * factor));
    if (Aborting) break;
    ++Position;
  }
}

void TRastrumMIO::LoadAviFileFrames(const std::string& FileName) {
  if (FView == nullptr) return;
  TRvAviFile avi;
  if (!avi.Open(FileName) || avi.Rate() <= 0) {
    Aborting = true;
    return;
  }
  TRvProgressRec progress;
  progress.OnProgress = OnProgress;
  progress.Sender = this;
  progress.Aborting = &Aborting;
  const int delay = static_cast<int>(1000.0 * avi.Scale() / avi.Rate());
  const int length = avi.Length();
  const double factor = 100.0 / length;
  int position = std::max(FView->SelectedImage(), 0);
  TRvDibbitmap dib;
  for (int n = 0; n < length; ++n) {
    const std::vector<std::uint8_t> frame = avi.GetFrame(n);
    if (frame.empty()) {
      Aborting = true;
      break;
    }
    FView->InsertImageEx(position);
    const int bits = RvDIBToBitmap(frame.data(), frame.size(), &dib);
    FView->SetImage(position, &dib);
    if (n == 0) FView->ReserveCacheSpace(dib.Width(), dib.Height(), length - 1, bits);
    FView->SetImageDelayTime(position, delay);
    if (TIOParamsVals* params = GetParams(position)) {
      params->GifDelayTime = delay;
      switch (bits) {
      case 1: params->BitsPerSample = 1; params->SamplesPerPixel = 1; break;
      case 4: params->BitsPerSample = 4; params->SamplesPerPixel = 1; break;
      case 8: params->BitsPerSample = 8; params->SamplesPerPixel = 1; break;
      case 15: params->BitsPerSample = 5; params->SamplesPerPixel = 3; break;
      default: params->BitsPerSample = 8; params->SamplesPerPixel = 3; break;
      }
      params->GifImageIndex = position;
      params->TiffImageIndex = position;
      params->DpiX = RvDefaultDpiX;
      params->DpiY = RvDefaultDpiY;
      params->Width = dib.Width();
      params->Height = dib.Height();
      params->FileName = FileName;
      params->FileType = rvftUnknown;
      params->FreeColorMap();
    }
    Report(progress, static_cast<int>(n * factor));
    if (Aborting) break;
    ++position;
  }
  UpdateView();
}

// ------------------------------------------------------------ acquisition

void TRastrumMIO::AcquiredBitmap(TRvBitmap* Bitmap, TIOParamsVals*& Params) {
  Params = nullptr;
  bool handled = false;
  if (OnAcquireBitmap) OnAcquireBitmap(this, Bitmap, handled);
  if (handled || FView == nullptr || Bitmap == nullptr) return;
  const int index = AcquisitionIndex;
  FView->InsertImageEx(index);
  Params = GetParams(std::clamp(index, 0, ParamsCount() - 1));
  if (AutoAdjustDPI && Params != nullptr) {
    TRvBitmap adjusted;
    adjusted.Assign(Bitmap);
    AdjustDPI(adjusted, *Params, FilteredAdjustDPI);
    FView->SetImage(index, &adjusted);
  } else {
    FView->SetImage(index, Bitmap);
  }
  FView->SetImageDelayTime(index, 100);
  ++AcquisitionIndex;
}

} // namespace rv
