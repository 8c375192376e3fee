// The shell file-operation component: copy, move, delete or rename a list of
// files and folders, with undo through the trash.
#pragma once

#include "controls/support/wnutils/wnutils.h"
#include "platform/shfileop.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

class QWidget;

namespace wn {

class TWnCommonDialog : public TWnComponent {
 public:
  virtual bool Execute() = 0;
  // The window the dialog belongs to; none: the active window.
  QWidget* Owner = nullptr;
};

enum TWnSHFileOpType { foCopy, foDelete, foMove, foRename };

enum TWnSHFileOption {
  fofAllowUndo,
  fofConfirmMouse,
  fofFilesOnly,
  fofMultiDestFiles,
  fofNoConfirmation,
  fofNoConfirmMkDir,
  fofRenameOnCollision,
  fofSilent,
  fofSimpleProgress,
  fofWantMappingHandle,
  fofNoErrorUI,
  fofNoCopySecurityAttributes,
  fofNoRecursion,
  fofNoConnectedElements,
  fofNoRecurseParse,
  fofWantNukeWarning,
};
using TWnSHFileOptions = std::set<TWnSHFileOption>;

class TWnSHFileOperation;
using TWnShFileMappingEvent =
    std::function<void(TWnSHFileOperation* Sender, const std::string& OldFileName, const std::string& NewFilename)>;

class TWnSHFileOperation : public TWnCommonDialog {
 public:
  using TConfirmEvent = std::function<platform::TFileOpAnswer(platform::TFileOpConfirm Kind, const std::string& Source,
                                                              const std::string& Target)>;

  // Raises EWNCLException when SourceFiles holds no text; true when every
  // item was done (a replace declined counts as done) and nothing was
  // cancelled; a delete answered with "No" is not done.
  //
  // Called on the application's thread, the files are handled on a worker
  // thread while the event loop goes on (without the user's input until
  // the progress window shows); the questions are asked and the progress
  // shown on the application's thread. Execute returns when all is done;
  // a second call on the same component meanwhile does nothing (false).
  bool Execute() override;
  // Whether an Execute of any component is under way.
  static bool Running() { return RunningCount > 0; }

  std::vector<std::string> SourceFiles;
  std::vector<std::string> DestFiles;
  TWnSHFileOpType Operation = foCopy;
  TWnSHFileOptions Options{fofAllowUndo, fofFilesOnly};
  std::string Title;
  TWnShFileMappingEvent OnFileMapping;
  // Answers the operation's questions; unset, a message box asks the user.
  TConfirmEvent OnConfirm;
  // Told each answer, on the application's thread, before the operation
  // acts on it; what it returns stands instead (Cancel stops the
  // operation). A step of the caller's own that must follow the user's
  // "yes" and come before the file is touched goes here. Target is the file
  // a replace question would put Source in place of, empty for the others.
  std::function<platform::TFileOpAnswer(platform::TFileOpConfirm Kind, const std::string& Source,
                                        const std::string& Target, platform::TFileOpAnswer Answer)>
      OnAnswered;

  unsigned Flags() const;
  static int OperationCode(TWnSHFileOpType Op);
  bool OperationsAborted() const { return FAborted; }
  const std::vector<platform::TFileOpFailure>& Failures() const { return FFailures; }
  // Items done without all they had (an extended attribute the target
  // would not take); shown with the failures, no failure themselves.
  const std::vector<platform::TFileOpFailure>& Warnings() const { return FWarnings; }

 protected:
  virtual QWidget* OwnerWindow() const;
  virtual void DoFileMapping(const std::string& OldFileName, const std::string& NewFilename);
  virtual platform::TFileOpAnswer Confirm(platform::TFileOpConfirm Kind, const std::string& Source,
                                          const std::string& Target);

 private:
  int Run(platform::TSHFileOpStruct& Op);
  static inline int RunningCount = 0;
  bool FExecuting = false;
  bool FAborted = false;
  std::vector<platform::TFileOpFailure> FFailures;
  std::vector<platform::TFileOpFailure> FWarnings;
};

}  // namespace wn
