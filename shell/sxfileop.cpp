#include "shell/sxfileop.h"
#include "platform/application.h"

#include "platform/shfileopask.h"

#include <QtCore/QObject>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sys/stat.h>

namespace sx {

namespace {

struct TFlagRow {
  TSxFileOpOptions Option;
  unsigned Flag;
};

constexpr TFlagRow FlagTable[] = {
    {foAllowUndo, platform::FOF_ALLOWUNDO},
    {foFilesOnly, platform::FOF_FILESONLY},
    {foNoConfirmation, platform::FOF_NOCONFIRMATION},
    {foNoConfirmMkDir, platform::FOF_NOCONFIRMMKDIR},
    {foNoErrorUI, platform::FOF_NOERRORUI},
    {foRenameCollision, platform::FOF_RENAMEONCOLLISION},
    {foSilent, platform::FOF_SILENT},
    {foSimpleProgress, platform::FOF_SIMPLEPROGRESS},
};

std::string FileNameOf(const std::string& Path) {
  const auto Slash = Path.find_last_of('/');
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

bool HasWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

} // namespace

TSxCustomFileOperation::TSxCustomFileOperation(QWidget* Owner) : FOwner(Owner) {}

void TSxCustomFileOperation::SetDestination(const std::string& Value) {
  std::string D = Value;
  // The root folder keeps its only separator: without it no destination is left.
  while (D.size() > 1 && D.back() == '/') D.pop_back();
  FDestination = D;
}

unsigned TSxCustomFileOperation::Flags() const {
  unsigned F = 0;
  for (const TFlagRow& Row : FlagTable)
    if (Options.count(Row.Option)) F |= Row.Flag;
  return F;
}

int TSxCustomFileOperation::OperationCode(TSxFileOp Op) {
  switch (Op) {
    case fopCopy: return platform::FO_COPY;
    case fopDelete: return platform::FO_DELETE;
    case fopMove: return platform::FO_MOVE;
    case fopRename: return platform::FO_RENAME;
  }
  return platform::FO_COPY;
}

bool TSxCustomFileOperation::CheckSourceName(const std::string& Name) {
  if (Name.empty()) return false;
  if (Name.find_first_of("*?") != std::string::npos) return true;
  struct stat St {};
  return ::stat(Name.c_str(), &St) == 0;
}

bool TSxCustomFileOperation::BuildFileList(const std::vector<std::string>& List,
                                           std::vector<std::string>& Buffer) const {
  bool Result = true;
  Buffer.clear();
  for (const std::string& Line : List) {
    if (ConfirmFiles && !CheckSourceName(Line)) Result = false;
    // An empty entry would end the shell's list early and drop the names after it.
    if (!Line.empty()) Buffer.push_back(Line);
  }
  return Result;
}

QWidget* TSxCustomFileOperation::OwnerWindow() const { return platform::DialogOwner(FOwner); }

platform::TFileOpAnswer TSxCustomFileOperation::Confirm(platform::TFileOpConfirm Kind, const std::string& Source,
                                                        const std::string& Target) {
  using platform::TFileOpAnswer;
  if (!HasWidgets())
    return Kind == platform::TFileOpConfirm::Replace ? TFileOpAnswer::No : TFileOpAnswer::Yes;
  return platform::AskFileOpConfirm(OwnerWindow(), SimpleText, Kind, Source, Target, Options.count(foAllowUndo) != 0,
                                    platform::FileOpMayAskAgain(Kind, FSourceFiles));
}

bool TSxCustomFileOperation::Execute() {
  const int Func = OperationCode(Operation);
  unsigned OpFlags = Flags();

  // A list of nothing but empty lines names no source either.
  if (std::all_of(FSourceFiles.begin(), FSourceFiles.end(), [](const std::string& S) { return S.empty(); }))
    RaiseSyError<ESyFileOpError>(scNoSourceFiles);

  FWarnings.clear();
  std::vector<std::string> From, To;
  int MappedCount = 0;
  // A name may hold "=": only a caller that asked for mappings means one.
  const bool AnyMapping =
      AllowMappings && std::any_of(FSourceFiles.begin(), FSourceFiles.end(),
                                   [](const std::string& S) { return S.find('=') != std::string::npos; });
  if (AnyMapping) {
    if (Operation == fopDelete) RaiseSyError<ESyFileOpError>(scFileMappingsInDelete);
    FUsesMappings = true;
    for (const std::string& Line : FSourceFiles) {
      if (Line.empty()) continue;
      const auto Eq = Line.find('=');
      if (Eq == std::string::npos) {
        // Without a destination the plain line would be sent to the root folder.
        if (FDestination.empty()) RaiseSyError<ESyFileOpError>(scNoDestinationFiles);
        From.push_back(Line);
        To.push_back(FDestination + "/" + FileNameOf(Line));
      } else {
        From.push_back(Line.substr(0, Eq));
        To.push_back(Line.substr(Eq + 1));
      }
      ++MappedCount;
    }
  } else {
    FUsesMappings = false;
    if (!BuildFileList(FSourceFiles, From)) RaiseSyError<ESyFileOpError>(scSourceFileNotFound);
  }

  if (FDestination.empty() && Operation != fopDelete && !FUsesMappings)
    RaiseSyError<ESyFileOpError>(scNoDestinationFiles);
  if (!FUsesMappings && Operation != fopDelete) To.push_back(FDestination);
  if (FUsesMappings && Operation != fopDelete && MappedCount > 1) OpFlags |= platform::FOF_MULTIDESTFILES;

  platform::TSHFileOpStruct Op;
  Op.Func = Func;
  Op.From = std::move(From);
  Op.To = std::move(To);
  Op.Flags = OpFlags;
  Op.ProgressTitle = SimpleText;
  Op.OnConfirm = [this](platform::TFileOpConfirm Kind, const std::string& Source, const std::string& Target) {
    const platform::TFileOpAnswer Answer = OnConfirm ? OnConfirm(Kind, Source, Target) : Confirm(Kind, Source, Target);
    return OnAnswered ? OnAnswered(Kind, Source, Target, Answer) : Answer;
  };

  std::unique_ptr<platform::TFileOpProgressWindow> Progress;
  if (!Options.count(foSilent) && HasWidgets()) {
    Progress = std::make_unique<platform::TFileOpProgressWindow>(OwnerWindow(), SimpleText,
                                                                 !Options.count(foSimpleProgress));
    Progress->Attach(Op);
  }

  errno = 0;
  const int Result = platform::SHFileOperation(Op);
  Progress.reset();

  FOperationsAborted = Op.AnyOperationsAborted;
  FWarnings = Op.Warnings;
  if (Result == ECANCELED) {
    LastError = ERROR_CANCELLED;
    LastErrorText = "The operation was canceled by the user.";
  } else if (Result == 0) {
    // The engine answers 0 only when every item was done or skipped by an
    // answer; errno may still hold a probe's leftover, which is no failure.
    LastError = 0;
    LastErrorText.clear();
  } else {
    SetLastShellError(static_cast<std::uint32_t>(Result));
  }

  const bool Failed = LastError != 0 && Result != ECANCELED && !Op.Failures.empty();
  if ((Failed || !FWarnings.empty()) && !Options.count(foNoErrorUI) && HasWidgets())
    platform::TellFileOpFailures(OwnerWindow(), SimpleText, Op.Failures, FWarnings);
  if (LastError != 0) DoError();
  return LastError == 0;
}

} // namespace sx
