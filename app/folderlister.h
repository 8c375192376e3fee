// Lists a folder's pictures on a worker thread, so that a large folder
// never holds up the window: the names are read and sorted first (the order
// the view shows), then each file is examined with one status call in that
// order and handed over in batches, a small first one for the first screen
// of thumbnails and larger ones after it. The work files of saves and copies
// of runs now gone go before the last batch.
#pragma once

#include "app/folderview.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace app {

class TFolderLister {
public:
  // The status call of the listing (::statx relative to the folder); a
  // test puts a counting one in its place before a folder is opened.
  using TStatProc = int (*)(int DirFd, const char* Name, int Flags, unsigned Mask, struct statx* Info);
  static TStatProc StatProc;

  // Files in the first batch, and at least in each later one.
  static constexpr std::size_t FirstBatch = 64;
  static constexpr std::size_t LaterBatch = 1024;
  // A folder of no more names is listed whole before the view shows: it
  // takes a few milliseconds.
  static constexpr std::size_t SmallFolder = 2000;

  // Ready is called on the worker whenever files wait where none did; it
  // must have Take called on the user-interface thread.
  TFolderLister(std::string Folder, std::function<void()> Ready);
  // Stops the worker and waits for it.
  ~TFolderLister();
  TFolderLister(const TFolderLister&) = delete;
  TFolderLister& operator=(const TFolderLister&) = delete;

  // Waits until a small folder is listed whole, or until the folder is
  // known to be larger: a small folder opens complete, a large one never
  // holds the window up.
  void WaitIfSmall();
  // The files listed since the last call, in order; Done tells that none
  // follow.
  std::vector<TScannedFile> Take(bool& Done);
  bool Finished() const;
  // Whether the folder's names are all read; Total then tells how many
  // there are. They are read before any file is handed over.
  bool Counted(std::size_t& Total) const;

private:
  void Run();
  // Hands the batch over; false when the lister is stopping.
  bool Publish(std::vector<TScannedFile>& Batch, bool Last);

  std::string FFolder;
  std::function<void()> FReady;
  mutable std::mutex FLock;
  std::condition_variable FArrived;
  std::vector<TScannedFile> FWaiting;
  bool FAnnounced = false;
  bool FCounted = false;
  std::size_t FTotal = 0;
  bool FLarge = false;
  bool FDone = false;
  bool FStopping = false;
  std::thread FWorker;
};

} // namespace app
