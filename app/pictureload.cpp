#include "app/pictureload.h"

#include "image/io/rvsafeio.h"
#include "image/views/rastrumview.h"

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
  // The readers run on this thread: a refusal for size they note is this
  // read's.
  rv::RvClearSizeRefusal();
  std::string Error;
  try {
    IO.LoadFromFile(Path);
    // A reader that stops on bad data reports it through the flag only.
    if (IO.Aborting) Error = "The file is damaged or not in a format that can be read.";
  } catch (const std::exception& Failure) {
    Error = Failure.what();
  }
  if (Error.empty()) return Error;
  // A picture over the size the readers take is valid: it is not called
  // damaged.
  if (const rv::TRvSizeRefusal Refusal = rv::RvLastSizeRefusal(); Refusal.Refused) {
    if (TooLarge) *TooLarge = true;
    return TooLargeText(Refusal);
  }
  return Error;
}

TPictureLoad::TPictureLoad(rv::TRastrumView& View, const std::string& Path, QObject* Context,
                           std::function<void(int)> Progress, std::function<void()> Done)
    : FPath(Path), FPicture(std::make_unique<rv::TRvLoadedPicture>(View.GetBackground(), View.DpiX(), View.DpiY())),
      FIO(std::make_unique<rv::TRastrumIO>()) {
  const rv::TRastrumIO& Shown = *View.GetIO();
  FIO->AutoAdjustDPI = Shown.AutoAdjustDPI;
  FIO->FilteredAdjustDPI = Shown.FilteredAdjustDPI;
  FIO->SetAttachedRastrum(FPicture.get());
  FThread = std::thread([this, Context, Progress = std::move(Progress), Done = std::move(Done)]() mutable {
    Run(Context, std::move(Progress), std::move(Done));
  });
}

TPictureLoad::~TPictureLoad() {
  Abort();
  Wait();
  // The component lets go of the picture before the picture goes.
  FIO.reset();
}

void TPictureLoad::Abort() {
  FAbort.store(true);
  std::lock_guard Lock(FEndLock);
  if (FEnded) ReleasePicture();
}

void TPictureLoad::ReleasePicture() {
  // While a key is held down the window drops read after read, and hears of
  // their ends only between the keys: each kept a whole picture until then.
  FIO.reset();
  FPicture.reset();
}

void TPictureLoad::Wait() {
  if (FThread.joinable()) FThread.join();
}

void TPictureLoad::Run(QObject* Context, std::function<void(int)> Progress, std::function<void()> Done) {
  int Last = -1;
  // One report on its way at a time, carrying the newest percent when it
  // arrives: a window busy for a while gets one report, not a burst of
  // stale ones each repainting the bar in the same loop turn.
  auto Waiting = std::make_shared<std::atomic<int>>(-1);
  FIO->OnProgress = [&](void*, int Percent) {
    if (FAbort.load()) FIO->Aborting = true;
    if (Percent == Last || !Progress) return;
    Last = Percent;
    if (Waiting->exchange(Percent) != -1) return;
    QMetaObject::invokeMethod(
        Context,
        [Progress, Waiting] {
          if (const int Newest = Waiting->exchange(-1); Newest != -1) Progress(Newest);
        },
        Qt::QueuedConnection);
  };
  FError = FAbort.load() ? "Aborted" : ReadPictureFile(*FIO, FPath, &FTooLarge);
  FIO->OnProgress = nullptr;
  {
    std::lock_guard Lock(FEndLock);
    FEnded = true;
    if (FAbort.load()) ReleasePicture();
  }
  QMetaObject::invokeMethod(Context, std::move(Done), Qt::QueuedConnection);
}

} // namespace app
