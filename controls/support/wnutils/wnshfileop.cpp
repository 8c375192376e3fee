#include "controls/support/wnutils/wnshfileop.h"
#include "platform/application.h"
#include "platform/shfileop.h"
#include "platform/shfileopask.h"

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace wn {

namespace {

struct TFlagRow {
  TWnSHFileOption Option;
  unsigned Flag;
};

const TFlagRow FlagTable[] = {
    {fofAllowUndo, platform::FOF_ALLOWUNDO},
    {fofConfirmMouse, platform::FOF_CONFIRMMOUSE},
    {fofFilesOnly, platform::FOF_FILESONLY},
    {fofMultiDestFiles, platform::FOF_MULTIDESTFILES},
    {fofNoConfirmation, platform::FOF_NOCONFIRMATION},
    {fofNoConfirmMkDir, platform::FOF_NOCONFIRMMKDIR},
    {fofRenameOnCollision, platform::FOF_RENAMEONCOLLISION},
    {fofSilent, platform::FOF_SILENT},
    {fofSimpleProgress, platform::FOF_SIMPLEPROGRESS},
    {fofWantMappingHandle, platform::FOF_WANTMAPPINGHANDLE},
    {fofNoErrorUI, platform::FOF_NOERRORUI},
    {fofNoCopySecurityAttributes, platform::FOF_NOCOPYSECURITYATTRIBS},
    {fofNoRecursion, platform::FOF_NORECURSION},
    {fofNoConnectedElements, platform::FOF_NO_CONNECTED_ELEMENTS},
    {fofNoRecurseParse, 0x8000},
    {fofWantNukeWarning, platform::FOF_WANTNUKEWARNING},
};

std::vector<std::string> FullPaths(const std::vector<std::string>& Lines) {
  std::vector<std::string> Paths;
  for (const std::string& Line : Lines)
    if (!Line.empty())
      Paths.push_back(platform::AbsoluteFilePath(Line));
  return Paths;
}

}  // namespace

unsigned TWnSHFileOperation::Flags() const {
  unsigned Flags = 0;
  for (const TFlagRow& Row : FlagTable)
    if (Options.count(Row.Option)) Flags |= Row.Flag;
  return Flags;
}

int TWnSHFileOperation::OperationCode(TWnSHFileOpType Op) {
  switch (Op) {
    case foCopy: return platform::FO_COPY;
    case foDelete: return platform::FO_DELETE;
    case foMove: return platform::FO_MOVE;
    case foRename: return platform::FO_RENAME;
  }
  return platform::FO_COPY;
}

QWidget* TWnSHFileOperation::OwnerWindow() const {
  return platform::DialogOwner(Owner);
}

void TWnSHFileOperation::DoFileMapping(const std::string& OldFileName, const std::string& NewFilename) {
  if (OnFileMapping) OnFileMapping(this, OldFileName, NewFilename);
}

platform::TFileOpAnswer TWnSHFileOperation::Confirm(platform::TFileOpConfirm Kind, const std::string& Source,
                                                    const std::string& Target) {
  return platform::AskFileOpConfirm(OwnerWindow(), Title, Kind, Source, Target, Options.count(fofAllowUndo) != 0,
                                    platform::FileOpMayAskAgain(Kind, SourceFiles));
}

// The files are handled on a worker thread; what the user sees and
// answers stays on this one. The worker's progress is taken up by a timer
// here (the newest only); a question waits for its answer, asked from the
// loop below, never from within the progress window's own event handling.
int TWnSHFileOperation::Run(platform::TSHFileOpStruct& Op) {
  QCoreApplication* App = QCoreApplication::instance();
  if (!App || QThread::currentThread() != App->thread()) return platform::SHFileOperation(Op);

  struct TShared {
    std::mutex Lock;
    std::condition_variable Answered;
    bool Fresh = false;
    std::int64_t Done = 0, Total = 0;
    std::string Current;
    // The worker's question while it waits for the answer.
    std::function<platform::TFileOpAnswer()> Question;
    std::optional<platform::TFileOpAnswer> Answer;
    std::atomic<bool> Cancel{false};
    std::atomic<bool> Finished{false};
    std::exception_ptr Error;
  } Shared;
  const auto AskHere = std::move(Op.OnConfirm);
  const auto ShowHere = std::move(Op.OnProgress);
  QObject Here;
  auto Wake = [&Here] { QMetaObject::invokeMethod(&Here, [] {}, Qt::QueuedConnection); };

  // A modal progress window runs the event loop inside: no feeding within
  // feeding, and none while a question stands.
  bool Busy = false;
  auto Feed = [&] {
    if (Busy || !ShowHere) return;
    std::int64_t Done, Total;
    std::string Current;
    {
      std::lock_guard<std::mutex> Hold(Shared.Lock);
      if (!Shared.Fresh) return;
      Shared.Fresh = false;
      Done = Shared.Done;
      Total = Shared.Total;
      Current = Shared.Current;
    }
    Busy = true;
    if (!ShowHere(Done, Total, Current)) Shared.Cancel = true;
    Busy = false;
  };
  auto Ask = [&] {
    std::function<platform::TFileOpAnswer()> Question;
    {
      std::lock_guard<std::mutex> Hold(Shared.Lock);
      if (!Shared.Question || Busy) return;
      Question = std::move(Shared.Question);
      Shared.Question = nullptr;
    }
    Busy = true;
    platform::TFileOpAnswer Answer = platform::TFileOpAnswer::Cancel;
    try {
      Answer = Question();
    } catch (...) {
      std::lock_guard<std::mutex> Hold(Shared.Lock);
      if (!Shared.Error) Shared.Error = std::current_exception();
    }
    Busy = false;
    {
      std::lock_guard<std::mutex> Hold(Shared.Lock);
      Shared.Answer = Answer;
    }
    Shared.Answered.notify_one();
  };
  QTimer Ticker;
  Ticker.setInterval(15);
  QObject::connect(&Ticker, &QTimer::timeout, &Here, Feed);
  Ticker.start();

  Op.OnProgress = [&Shared](std::int64_t Done, std::int64_t Total, const std::string& Current) {
    std::lock_guard<std::mutex> Hold(Shared.Lock);
    Shared.Fresh = true;
    Shared.Done = Done;
    Shared.Total = Total;
    Shared.Current = Current;
    return !Shared.Cancel.load();
  };
  Op.OnConfirm = [&](platform::TFileOpConfirm Kind, const std::string& Source, const std::string& Target) {
    std::unique_lock<std::mutex> Hold(Shared.Lock);
    if (Shared.Error) return platform::TFileOpAnswer::Cancel;
    Shared.Question = [&] {
      return AskHere ? AskHere(Kind, Source, Target)
                     : (Kind == platform::TFileOpConfirm::Replace ? platform::TFileOpAnswer::No
                                                                  : platform::TFileOpAnswer::Yes);
    };
    Shared.Answer.reset();
    Hold.unlock();
    Wake();
    Hold.lock();
    Shared.Answered.wait(Hold, [&] { return Shared.Answer.has_value(); });
    return *Shared.Answer;
  };

  int Result = 0;
  std::thread Worker([&] {
    try {
      Result = platform::SHFileOperation(Op);
    } catch (...) {
      std::lock_guard<std::mutex> Hold(Shared.Lock);
      if (!Shared.Error) Shared.Error = std::current_exception();
      Result = ECANCELED;
    }
    Shared.Finished = true;
    Wake();
  });
  ++RunningCount;
  // The user's input waits, as it did while the files were handled here,
  // unless a modal window (the progress window) has the input to itself.
  // Events already posted are seen at least once.
  QEventLoop Loop;
  do {
    const bool Input = qobject_cast<QApplication*>(App) && QApplication::activeModalWidget();
    Loop.processEvents(QEventLoop::WaitForMoreEvents | (Input ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents));
    Ask();
  } while (!Shared.Finished);
  Worker.join();
  --RunningCount;
  Ticker.stop();
  if (Shared.Error) std::rethrow_exception(Shared.Error);
  return Result;
}

bool TWnSHFileOperation::Execute() {
  if (std::all_of(SourceFiles.begin(), SourceFiles.end(), [](const std::string& S) { return S.empty(); }))
    throw EWNCLException("No files specified to TWnSHFileOperation Execute function");
  if (FExecuting) return false;
  FExecuting = true;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } Done{FExecuting};

  platform::TSHFileOpStruct Op;
  Op.Func = OperationCode(Operation);
  Op.Flags = Flags();
  Op.From = FullPaths(SourceFiles);
  Op.To = FullPaths(DestFiles);
  Op.ProgressTitle = Title;
  Op.OnConfirm = [this](platform::TFileOpConfirm Kind, const std::string& Source, const std::string& Target) {
    const platform::TFileOpAnswer Answer = OnConfirm ? OnConfirm(Kind, Source, Target) : Confirm(Kind, Source, Target);
    return OnAnswered ? OnAnswered(Kind, Source, Target, Answer) : Answer;
  };

  std::unique_ptr<platform::TFileOpProgressWindow> Progress;
  if (!Options.count(fofSilent) && qobject_cast<QApplication*>(QCoreApplication::instance())) {
    Progress = std::make_unique<platform::TFileOpProgressWindow>(OwnerWindow(), Title, true);
    Progress->Attach(Op);
  }

  const int Result = Run(Op);
  Progress.reset();
  FAborted = Op.AnyOperationsAborted;
  FFailures = Op.Failures;
  FWarnings = Op.Warnings;

  if ((!FFailures.empty() || !FWarnings.empty()) && !Options.count(fofNoErrorUI))
    platform::TellFileOpFailures(OwnerWindow(), Title, FFailures, FWarnings);
  if (Options.count(fofWantMappingHandle))
    for (const auto& M : Op.NameMappings)
      if (!M.OldName.empty() && !M.NewName.empty()) DoFileMapping(M.OldName, M.NewName);
  return Result == 0 && !FAborted;
}

}  // namespace wn
