// The file-operation component: copies, moves, renames or deletes a list of
// files through the platform's shell file operation, with its confirmation
// questions, a progress dialog, undo through the trash and the error kept in
// the component.
#pragma once

#include "platform/shfileop.h"
#include "shell/sxbase.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

class QWidget;

namespace sx {

enum TSxFileOp { fopCopy, fopDelete, fopMove, fopRename };

enum TSxFileOpOptions {
  foAllowUndo,
  foFilesOnly,
  foNoConfirmation,
  foNoConfirmMkDir,
  foNoErrorUI,
  foRenameCollision,
  foSilent,
  foSimpleProgress,
};
using TSxFileOpOptionsSet = std::set<TSxFileOpOptions>;

// The shell's "cancelled by the user" result.
inline constexpr std::uint32_t ERROR_CANCELLED = 1223;

// Codes of the argument errors raised before the shell is called.
enum : std::int32_t {
  scFileMappingsInDelete = 131,
  scSourceFileNotFound = 132,
};

class TSxCustomFileOperation : public TSyShellComponent {
public:
  using TConfirmEvent = std::function<platform::TFileOpAnswer(
      platform::TFileOpConfirm Kind, const std::string& Source, const std::string& Target)>;
  using TAnsweredEvent = std::function<platform::TFileOpAnswer(
      platform::TFileOpConfirm Kind, const std::string& Source, const std::string& Target,
      platform::TFileOpAnswer Answer)>;

  // Owner: the window the shell's dialogs belong to (none: the active window).
  explicit TSxCustomFileOperation(QWidget* Owner = nullptr);

  // True when the operation ended without error. Raises ESyFileOpError for
  // missing sources or destination and for mappings in a delete.
  bool Execute();
  // Items done without all they had (an extended attribute the target
  // would not take), from the last Execute.
  const std::vector<platform::TFileOpFailure>& Warnings() const { return FWarnings; }

  bool OperationsAborted() const { return FOperationsAborted; }
  bool UsesMappings() const { return FUsesMappings; }

  bool ConfirmFiles = true;
  const std::string& Destination() const { return FDestination; }
  // Trailing path separators are dropped.
  void SetDestination(const std::string& Value);
  TSxFileOp Operation = fopCopy;
  TSxFileOpOptionsSet Options{foAllowUndo, foFilesOnly, foRenameCollision};
  // A source line "from=to" names its own destination only when set;
  // otherwise every line is a path, whatever characters its names hold.
  bool AllowMappings = false;
  std::string SimpleText;
  const std::vector<std::string>& SourceFiles() const { return FSourceFiles; }
  std::vector<std::string>& SourceFiles() { return FSourceFiles; }
  void SetSourceFiles(const std::vector<std::string>& Value) { FSourceFiles = Value; }

  // Answers the shell's questions (replace, delete, create folder); unset, a
  // message box asks the user.
  TConfirmEvent OnConfirm;
  // Told each answer before the operation acts on it; what it returns
  // stands instead (Cancel stops the operation). A step of the caller's own
  // that must follow the user's "yes" and come before the file is touched
  // goes here. Target is empty but for a replace question.
  TAnsweredEvent OnAnswered;

  unsigned Flags() const;
  static int OperationCode(TSxFileOp Op);
  // True for a directory, a name holding "*" or "?", or an existing file.
  static bool CheckSourceName(const std::string& Name);

protected:
  // Lists every line in order; false when ConfirmFiles is set and a line
  // fails CheckSourceName (the list is still complete).
  bool BuildFileList(const std::vector<std::string>& List, std::vector<std::string>& Buffer) const;
  virtual platform::TFileOpAnswer Confirm(platform::TFileOpConfirm Kind, const std::string& Source,
                                          const std::string& Target);
  QWidget* OwnerWindow() const;

private:
  QWidget* FOwner;
  bool FOperationsAborted = false;
  bool FUsesMappings = false;
  std::string FDestination;
  std::vector<std::string> FSourceFiles;
  std::vector<platform::TFileOpFailure> FWarnings;
};

class TSxFileOperation : public TSxCustomFileOperation {
public:
  using TSxCustomFileOperation::TSxCustomFileOperation;
};

} // namespace sx
