#include "app/loadthread.h"

#include "app/folderview.h"
#include "app/genutil.h"
#include "app/mainform.h"
#include "app/msgbox.h"
#include "image/io/rastrumio.h"
#include "image/views/rvmview.h"

#include <chrono>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>
#include <typeinfo>

namespace app {

namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool FolderExists(const std::string& Path) {
  std::error_code Error;
  return std::filesystem::is_directory(Path, Error);
}

} // namespace

TLoadThread::TLoadThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended) {
  if (!CreateSuspended) Resume();
}

TLoadThread::~TLoadThread() {
  Stop();
  WaitFor();
}

void TLoadThread::Resume() {
  if (FStarted) return;
  FStarted = true;
  Start();
}

void TLoadThread::Stop() { SetActive(false); }

void TLoadThread::SetActive(bool Value) {
  {
    std::lock_guard Lock(FLock);
    FActive = Value;
  }
  FStopped.notify_all();
}

bool TLoadThread::IsActive() {
  std::lock_guard Lock(FLock);
  return FActive;
}

void TLoadThread::Pause(int Ms) {
  std::unique_lock Lock(FLock);
  FStopped.wait_for(Lock, std::chrono::milliseconds(Ms), [this] { return !FActive; });
}

void TLoadThread::Execute() {
  // Below the window and the thumbnail loader (nice 5), yet not starved on
  // a busy machine as at the very lowest level.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), LoaderNice);
  try {
    LoadThreadRun();
  } catch (const std::exception& E) {
    ReportError(std::string(typeid(E).name()) + ": " + E.what());
  } catch (...) {
    ReportError("Exception: unknown error");
  }
  FRunning = false;
}

void TLoadThread::ReportError(const std::string& Text) {
  DoSynchronize([Text] {
    MessageDlg(QStringLiteral("Error"), QString::fromStdString(Text), QMessageBox::Critical, QMessageBox::Ok);
  });
}

void TLoadThread::LoadThreadRun() {
  HeaderReader = std::make_unique<rv::TRastrumIO>();
  struct TFreeReader {
    std::unique_ptr<rv::TRastrumIO>& Reader;
    ~TFreeReader() { Reader.reset(); }
  } FreeReader{HeaderReader};
  int IdlePasses = 0;
  while (IsActive()) {
    FillImageDetails();
    if (FoundWork) {
      Pause(NotCurrentView ? PauseAfterBatchNotCurrent : PauseAfterBatch);
    } else {
      Pause(IdlePause);
      if (IsActive() && IdlePasses == RescanIdlePasses - 1) {
        DoSynchronize([this] { RecheckFolder(); });
        IdlePasses = -1;
      }
      ++IdlePasses;
    }
  }
}

void TLoadThread::FillImageDetails() {
  const std::int64_t Start = NowMs();
  NotCurrentView = false;
  FoundWork = false;
  bool AnyWork = false;
  for (;;) {
    std::vector<std::string> Names;
    bool Go = false;
    DoSynchronize([&] { Go = TakeRows(Names); });
    if (!Go || Names.empty()) break;
    AnyWork = true;
    std::vector<THeaderResult> Results;
    Results.reserve(Names.size());
    const int Budget = NotCurrentView ? BatchTimeNotCurrent : BatchTime;
    for (const std::string& Name : Names) {
      if (!IsActive()) break;
      Results.push_back(ReadHeader(FFolder, Name));
      if (NowMs() - Start > Budget) break;
    }
    DoSynchronize([&] { StoreRows(Results); });
    if (NowMs() - Start > (NotCurrentView ? BatchTimeNotCurrent : BatchTime)) break;
  }
  FoundWork = AnyWork || Deferred;
}

bool TLoadThread::TakeRows(std::vector<std::string>& Names) {
  Names.clear();
  Deferred = false;
  if (!IsActive() || View == nullptr) return false;
  FFolder = View->GetFolderPath();
  if (!FolderExists(FFolder) || !View->isVisible()) return false;
  // The thumbnails on screen come first, and their reads fill their rows:
  // no header is read while the strip still has cells to read.
  if (View->StripReading()) {
    Deferred = true;
    return true;
  }
  TFolderRows& Rows = View->Rows();
  FEpoch = View->DetailsEpoch();
  const int Count = Rows.Count();
  const int First = static_cast<int>(View->Names().size()) > ScanStartRow ? ScanStartRow : 0;
  for (int I = First; I < Count && static_cast<int>(Names.size()) < RowsPerCall; ++I) {
    const TFolderRow& R = Rows.Row(I);
    if (R.Width >= 0 || R.DetailsDone) continue;
    if (Names.empty()) ScanStartRow = I;
    Names.push_back(R.Name);
  }
  if (Names.empty()) {
    NotCurrentView = true;
    ScanStartRow = 0;
    return true;
  }
  NotCurrentView = View->Owner() == nullptr || View->Owner()->CurrentFolderView() != View;
  return true;
}

TLoadThread::THeaderResult TLoadThread::ReadHeader(const std::string& Folder, const std::string& Name) {
  THeaderResult Result;
  Result.Name = Name;
  if (!HeaderReader) HeaderReader = std::make_unique<rv::TRastrumIO>();
  rv::TIOParamsVals& P = HeaderReader->Params();
  // A reader that fails keeps the sizes of the previous file.
  P.Width = 0;
  P.Height = 0;
  HeaderReader->ParamsFromFile(JoinPath(Folder, Name));
  if (!HeaderReader->Aborting && P.Width > 0 && P.Height > 0) {
    Result.Read = true;
    Result.Width = P.Width;
    Result.Height = P.Height;
    Result.Bits = P.BitsPerSample * P.SamplesPerPixel;
  }
  return Result;
}

void TLoadThread::StoreRows(const std::vector<THeaderResult>& Results) {
  if (!IsActive() || View == nullptr) return;
  TFolderRows& Rows = View->Rows();
  int First = Rows.Count(), Last = -1;
  // A file changed while the headers were read: they may be of the file as
  // it was, and the rows are handed out again.
  const bool Current = View->DetailsEpoch() == FEpoch;
  for (const THeaderResult& R : Results) {
    const int Index = Current ? Rows.IndexOf(R.Name) : -1;
    if (Index < 0) continue;
    TFolderRow& Row = Rows.Row(Index);
    if (Row.Width >= 0 || Row.DetailsDone) continue;
    // A header that cannot be read is passed by from now on instead of
    // being read again in every batch.
    Row.DetailsDone = true;
    if (R.Read) {
      Row.Width = R.Width;
      Row.Height = R.Height;
      Row.Bits = R.Bits;
    }
    First = std::min(First, Index);
    Last = std::max(Last, Index);
  }
  if (Last >= 0) Rows.RowsChanged(First, Last);
  NotCurrentView = View->Owner() == nullptr || View->Owner()->CurrentFolderView() != View;
}

void TLoadThread::RecheckFolder() {
  if (!IsActive() || View == nullptr) return;
  if (FolderExists(View->GetFolderPath())) View->RefreshFolder(3, true);
}

} // namespace app
