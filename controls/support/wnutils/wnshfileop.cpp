#include "controls/support/wnutils/wnshfileop.h"
#include "platform/application.h"

#include "platform/shfileopask.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

#include <algorithm>
#include <memory>

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
      Paths.push_back(QDir::cleanPath(QFileInfo(QString::fromStdString(Line)).absoluteFilePath()).toStdString());
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

bool TWnSHFileOperation::Execute() {
  if (std::all_of(SourceFiles.begin(), SourceFiles.end(), [](const std::string& S) { return S.empty(); }))
    throw EWNCLException("No files specified to TWnSHFileOperation Execute function");

  platform::TSHFileOpStruct Op;
  Op.Func = OperationCode(Operation);
  Op.Flags = Flags();
  Op.From = FullPaths(SourceFiles);
  Op.To = FullPaths(DestFiles);
  Op.ProgressTitle = Title;
  Op.OnConfirm = [this](platform::TFileOpConfirm Kind, const std::string& Source, const std::string& Target) {
    return OnConfirm ? OnConfirm(Kind, Source, Target) : Confirm(Kind, Source, Target);
  };

  std::unique_ptr<platform::TFileOpProgressWindow> Progress;
  if (!Options.count(fofSilent) && qobject_cast<QApplication*>(QCoreApplication::instance())) {
    Progress = std::make_unique<platform::TFileOpProgressWindow>(OwnerWindow(), Title, true);
    Progress->Attach(Op);
  }

  const int Result = platform::SHFileOperation(Op);
  Progress.reset();
  FAborted = Op.AnyOperationsAborted;
  FFailures = Op.Failures;

  if (!FFailures.empty() && !Options.count(fofNoErrorUI)) {
    QString Text;
    for (const auto& F : FFailures) Text += QString::fromStdString(F.Path + "\n" + F.Message + "\n\n");
    QMessageBox::warning(OwnerWindow(), QString::fromStdString(Title), Text.trimmed());
  }
  if (Options.count(fofWantMappingHandle))
    for (const auto& M : Op.NameMappings)
      if (!M.OldName.empty() && !M.NewName.empty()) DoFileMapping(M.OldName, M.NewName);
  return Result == 0 && !FAborted;
}

}  // namespace wn
