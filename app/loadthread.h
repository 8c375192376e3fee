// The folder view's loader thread: fills the dimensions and bit depth of the
// details rows from the files' headers, in paced batches at idle priority,
// and now and then asks its view to rescan the folder.
//
// The worker reads the headers itself; the user-interface thread, reached
// through the synchronise call, only hands out the names of the rows to fill
// and writes the results into them. So a batch never holds the window up for
// the time of its file reads. The worker runs at a low priority.
#pragma once

#include "platform/thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rv {
class TRastrumIO;
}

namespace app {

class TFolderViewForm;

class TLoadThread : public platform::TThread {
public:
  // A header read's outcome for one row, carried by name: the row may have
  // moved, been renamed or gone while the worker read.
  struct THeaderResult {
    std::string Name;
    bool Read = false;
    int Width = 0;
    int Height = 0;
    int Bits = 0;
  };

  // Pacing of the batches, in milliseconds.
  static constexpr int BatchTime = 300;
  static constexpr int BatchTimeNotCurrent = 100;
  static constexpr int PauseAfterBatch = 50;
  static constexpr int PauseAfterBatchNotCurrent = 500;
  static constexpr int IdlePause = 3000;
  // Every this many idle passes the folder is rescanned.
  static constexpr int RescanIdlePasses = 16;
  // The worker's scheduling priority (nice value).
  static constexpr int LoaderNice = 10;
  // Rows handed to the worker per synchronised call.
  static constexpr int RowsPerCall = 16;

  explicit TLoadThread(bool CreateSuspended);
  ~TLoadThread() override;

  TFolderViewForm* View = nullptr;

  // Starts a thread created suspended, at idle priority.
  void Resume();
  void Stop();
  bool IsActive();
  void SetActive(bool Value);
  bool IsRunning() const { return FRunning.load(); }

  // One batch: hands out rows, reads their headers and writes the results,
  // until the time of a batch is used up or nothing is left.
  void FillImageDetails();
  // On the user-interface thread: the rescan of the idle passes.
  void RecheckFolder();

  // The two user-interface halves of a batch, apart so that tests can drive
  // them. TakeRows answers false when the batch ends before any work (the
  // thread is stopping, the folder is gone, the view is hidden).
  bool TakeRows(std::vector<std::string>& Names);
  void StoreRows(const std::vector<THeaderResult>& Results);
  // Reads one header with the thread's reader (the worker's side).
  THeaderResult ReadHeader(const std::string& Folder, const std::string& Name);

  bool FoundWork = false;
  // The last TakeRows waited for the thumbnails on screen.
  bool Deferred = false;
  std::int32_t ScanStartRow = 0;
  bool NotCurrentView = false;

protected:
  void Execute() override;

private:
  void LoadThreadRun();
  // Sleeps Ms milliseconds or until the thread is stopped.
  void Pause(int Ms);
  void ReportError(const std::string& Text);

  std::mutex FLock;
  std::condition_variable FStopped;
  bool FActive = false;
  std::atomic<bool> FRunning{true};
  bool FCreateSuspended;
  bool FStarted = false;
  std::string FFolder;
  // The view's details epoch when the rows were handed out.
  std::uint64_t FEpoch = 0;
  std::unique_ptr<rv::TRastrumIO> HeaderReader;
};

} // namespace app
