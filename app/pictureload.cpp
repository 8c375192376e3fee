#include "app/pictureload.h"

#include "image/io/rvmio.h"
#include "image/io/rvsafeio.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "image/views/rvmviewimages.h"

#include <QMetaObject>

#include <exception>

namespace app {

namespace {

std::string TooLargeText(const rv::TRvSizeRefusal& Refusal) {
  if (Refusal.Width < 1 || Refusal.Height < 1) return "The picture is too large to open.";
  return "The picture is too large to open (" + std::to_string(Refusal.Width) + " x " +
         std::to_string(Refusal.Height) + " pixels).";
}

} // namespace

std::string ReadPictureFile(rv::TRastrumIO& IO, const std::string& Path, bool* TooLarge) {
  if (TooLarge) *TooLarge = false;
  // The readers run on this thread: a refusal for size or kind they note is
  // this read's.
  rv::RvClearSizeRefusal();
  rv::RvClearKindRefusal();
  std::string Error;
  try {
    IO.LoadFromFile(Path);
    // A reader that stops on bad data reports it through the flag only.
    if (IO.Aborting) Error = "The file is damaged or not in a format that can be read.";
  } catch (const std::exception& Failure) {
    Error = Failure.what();
  }
  if (Error.empty()) return Error;
  // A kind of file refused as such says so rather than "damaged".
  if (std::string Kind = rv::RvLastKindRefusal(); IO.Aborting && !Kind.empty()) return Kind;
  // A picture over the size the readers take is valid: it is not called
  // damaged.
  if (const rv::TRvSizeRefusal Refusal = rv::RvLastSizeRefusal(); Refusal.Refused) {
    if (TooLarge) *TooLarge = true;
    return TooLargeText(Refusal);
  }
  return Error;
}

TWorkerRead::~TWorkerRead() = default;

void TWorkerRead::Start(QObject* Context, std::function<void()> Work, std::function<void()> Done) {
  FThread = std::thread([this, Context, Work = std::move(Work), Done = std::move(Done)]() mutable {
    Work();
    {
      std::lock_guard Lock(FEndLock);
      FEnded = true;
      if (FAbort.load()) Release();
    }
    QMetaObject::invokeMethod(Context, std::move(Done), Qt::QueuedConnection);
  });
}

void TWorkerRead::Abort() {
  FAbort.store(true);
  std::lock_guard Lock(FEndLock);
  if (FEnded) Release();
}

void TWorkerRead::Wait() {
  if (FThread.joinable()) FThread.join();
}

bool TWorkerRead::Ended() {
  std::lock_guard Lock(FEndLock);
  return FEnded;
}

TPictureLoad::TPictureLoad(rv::TRastrumView& View, const std::string& Path, QObject* Context,
                           std::function<void(int)> Progress, std::function<void()> Done)
    : FPath(Path), FPicture(std::make_unique<rv::TRvLoadedPicture>(View.GetBackground(), View.DpiX(), View.DpiY())),
      FIO(std::make_unique<rv::TRastrumIO>()) {
  const rv::TRastrumIO& Shown = *View.GetIO();
  FIO->AutoAdjustDPI = Shown.AutoAdjustDPI;
  FIO->FilteredAdjustDPI = Shown.FilteredAdjustDPI;
  FIO->SetAttachedRastrum(FPicture.get());
  Start(
      Context, [this, Context, Progress = std::move(Progress)] { Run(Context, Progress); }, std::move(Done));
}

TPictureLoad::~TPictureLoad() {
  Abort();
  Wait();
  // The component lets go of the picture before the picture goes.
  FIO.reset();
}

void TPictureLoad::Release() {
  FIO.reset();
  FPicture.reset();
}

TQueuedProgress::TQueuedProgress(QObject* Context, std::function<void(int)> Progress)
    : FContext(Context), FProgress(std::move(Progress)), FWaiting(std::make_shared<std::atomic<int>>(-1)) {}

void TQueuedProgress::operator()(int Value) {
  if (Value == FLast || !FProgress) return;
  FLast = Value;
  if (FWaiting->exchange(Value) != -1) return;
  QMetaObject::invokeMethod(
      FContext,
      [Progress = FProgress, Waiting = FWaiting] {
        if (const int Newest = Waiting->exchange(-1); Newest != -1) Progress(Newest);
      },
      Qt::QueuedConnection);
}

void TPictureLoad::Run(QObject* Context, const std::function<void(int)>& Progress) {
  TQueuedProgress Report(Context, Progress);
  FIO->OnProgress = [&](void*, int Percent) {
    if (Aborted()) FIO->Aborting = true;
    Report(Percent);
  };
  FIdentity = TFileIdentity::Of(FPath);
  FError = Aborted() ? "Aborted" : ReadPictureFile(*FIO, FPath, &FTooLarge);
  FIO->OnProgress = nullptr;
}

TPreviewReads::TPreviewReads(rv::TRastrumView& View, QObject* Context, std::function<void(TPictureLoad&)> Shown)
    : FView(View), FContext(Context), FShown(std::move(Shown)) {}

void TPreviewReads::Read(const std::string& Path) {
  FReads.Start([&](unsigned Serial) {
    return std::make_unique<TPictureLoad>(FView, Path, FContext, nullptr, [this, Serial] { Ended(Serial); });
  });
}

void TPreviewReads::Drop() { FReads.Drop(); }

void TPreviewReads::Ended(unsigned Serial) {
  const std::unique_ptr<TPictureLoad> Read = FReads.Ended(Serial);
  if (!Read) return;
  Read->Wait();
  if (Read->Error().empty()) {
    FView.GetIO()->AssignParams(&Read->IO());
    FView.TakePicture(Read->Picture());
  }
  FShown(*Read);
}

TFramesLoad::TFramesLoad(rv::TRastrumMView& View, const std::string& Path, QObject* Context,
                         std::function<void()> Done)
    : FPath(Path), FFrames(std::make_unique<rv::TRvMViewImages>()) {
  const rv::TRastrumMIO& Shown = *View.GetMIO();
  rv::TRastrumMIO* IO = &FFrames->MIO();
  IO->AutoAdjustDPI = Shown.AutoAdjustDPI;
  IO->FilteredAdjustDPI = Shown.FilteredAdjustDPI;
  Start(
      Context,
      [this, IO] {
        IO->OnProgress = [this, IO](void*, int) {
          if (Aborted()) IO->Aborting = true;
        };
        try {
          if (!Aborted()) IO->LoadMultiImageFile(FPath);
        } catch (...) {
          // A file gone since its picture was read has no frames to play.
        }
        IO->OnProgress = nullptr;
      },
      std::move(Done));
}

TFramesLoad::~TFramesLoad() {
  Abort();
  Wait();
}

void TFramesLoad::Release() { FFrames.reset(); }

} // namespace app
