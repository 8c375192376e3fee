#include "app/folderlister.h"

#include "app/folderrows.h"
#include "platform/safesave.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace app {

TFolderLister::TStatProc TFolderLister::StatProc = ::statx;

TFolderLister::TFolderLister(std::string Folder, std::function<void()> Ready)
    : FFolder(std::move(Folder)), FReady(std::move(Ready)) {
  FWorker = std::thread([this] { Run(); });
}

TFolderLister::~TFolderLister() {
  {
    std::lock_guard Lock(FLock);
    FStopping = true;
  }
  if (FWorker.joinable()) FWorker.join();
}

void TFolderLister::WaitIfSmall() {
  std::unique_lock Lock(FLock);
  FArrived.wait(Lock, [this] { return FLarge || FDone; });
}

std::vector<TScannedFile> TFolderLister::Take(bool& Done) {
  std::lock_guard Lock(FLock);
  std::vector<TScannedFile> Files = std::move(FWaiting);
  FWaiting.clear();
  FAnnounced = false;
  Done = FDone;
  return Files;
}

bool TFolderLister::Finished() const {
  std::lock_guard Lock(FLock);
  return FDone && FWaiting.empty();
}

bool TFolderLister::Counted(std::size_t& Total) const {
  std::lock_guard Lock(FLock);
  Total = FTotal;
  return FCounted;
}

bool TFolderLister::Publish(std::vector<TScannedFile>& Batch, bool Last) {
  bool Announce = false;
  {
    std::lock_guard Lock(FLock);
    if (FStopping) return false;
    if (FWaiting.empty()) {
      FWaiting = std::move(Batch);
    } else {
      FWaiting.insert(FWaiting.end(), std::make_move_iterator(Batch.begin()), std::make_move_iterator(Batch.end()));
    }
    Batch.clear();
    FDone = Last;
    Announce = !FAnnounced;
    FAnnounced = true;
  }
  FArrived.notify_all();
  if (Announce && FReady) FReady();
  return true;
}

void TFolderLister::Run() {
  pthread_setname_np(pthread_self(), "folderlister");
  std::vector<TScannedFile> Batch;
  // The names alone first: one pass over the directory, nothing opened;
  // each name's one status call comes in the view's order.
  const std::vector<std::string> Names = ListPictureNames(FFolder, false, SmallFolder, [this] {
    {
      std::lock_guard Lock(FLock);
      FLarge = true;
    }
    FArrived.notify_all();
  });
  {
    std::lock_guard Lock(FLock);
    FTotal = Names.size();
    FCounted = true;
  }
  const int Fd = ::open(FFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    Publish(Batch, true);
    return;
  }
  const std::vector<int> Order = SortedNameOrder(Names);
  std::size_t Published = 0;
  Batch.reserve(FirstBatch);
  for (std::size_t I = 0; I < Order.size(); ++I) {
    TScannedFile File;
    if (!StatPictureAt(Fd, Names[static_cast<std::size_t>(Order[I])], File)) continue;
    Batch.push_back(std::move(File));
    if (Batch.size() >= (Published == 0 ? FirstBatch : LaterBatch) && I + 1 < Order.size()) {
      Published += Batch.size();
      if (!Publish(Batch, false)) break;
      Batch.reserve(LaterBatch);
    }
  }
  ::close(Fd);
  // Work files that saves and copies of runs now gone left here go before
  // the folder counts as listed; a large folder's first files do not wait.
  platform::RemoveStaleWorkFiles(FFolder);
  Publish(Batch, true);
}

} // namespace app
