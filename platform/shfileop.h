// The shell's file operation: copy, move, rename and delete of lists of files
// and folders, with confirmation and progress through callbacks.
//
// A file is never replaced without a "yes" from OnConfirm (no callback, no
// replacing), nor by a link that leads to it, nor is a file replaced that
// came (or changed) after the answer; a copied file appears under its name
// only when complete, with its extended attributes; a move to another device
// copies, keeping owner and group as far as this user may give them and the
// folders' times, then deletes the source; with FOF_ALLOWUNDO a delete moves
// to the trash.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace platform {

// Operations.
constexpr int FO_MOVE = 1;
constexpr int FO_COPY = 2;
constexpr int FO_DELETE = 3;
constexpr int FO_RENAME = 4;

// Flags.
constexpr unsigned FOF_MULTIDESTFILES = 0x1;  // To holds one target per source
constexpr unsigned FOF_CONFIRMMOUSE = 0x2;
constexpr unsigned FOF_SILENT = 0x4;                 // no progress
constexpr unsigned FOF_RENAMEONCOLLISION = 0x8;      // "name (2).ext" instead of asking
constexpr unsigned FOF_NOCONFIRMATION = 0x10;        // answers the delete and new-folder questions, never a replace
constexpr unsigned FOF_WANTMAPPINGHANDLE = 0x20;     // report names changed on collision
constexpr unsigned FOF_ALLOWUNDO = 0x40;             // delete moves to the trash
constexpr unsigned FOF_FILESONLY = 0x80;             // wildcards match files only
constexpr unsigned FOF_SIMPLEPROGRESS = 0x100;
constexpr unsigned FOF_NOCONFIRMMKDIR = 0x200;
constexpr unsigned FOF_NOERRORUI = 0x400;
constexpr unsigned FOF_NOCOPYSECURITYATTRIBS = 0x800;  // permission bits are not copied
constexpr unsigned FOF_NORECURSION = 0x1000;
constexpr unsigned FOF_NO_CONNECTED_ELEMENTS = 0x2000;
constexpr unsigned FOF_WANTNUKEWARNING = 0x4000;

enum class TFileOpConfirm { Replace, Delete, MakeFolder };
enum class TFileOpAnswer { Yes, YesToAll, No, NoToAll, Cancel };

struct TFileOpNameMapping {
  std::string OldName;
  std::string NewName;
};

struct TFileOpFailure {
  std::string Path;
  int Code = 0;  // errno value
  std::string Message;
};

struct TSHFileOpStruct {
  int Func = FO_COPY;
  // Full paths; the last component of a source may hold "*" and "?", which
  // match names of its folder unless a file has that very name.
  std::vector<std::string> From;
  // One destination (a folder, or the new name of a single source), or one
  // per source with FOF_MULTIDESTFILES and for FO_RENAME.
  std::vector<std::string> To;
  unsigned Flags = 0;
  std::string ProgressTitle;

  // Target is empty for Delete and MakeFolder questions.
  std::function<TFileOpAnswer(TFileOpConfirm Kind, const std::string& Source, const std::string& Target)> OnConfirm;
  // Answers false to cancel. Bytes are those of files to copy.
  std::function<bool(std::int64_t Done, std::int64_t Total, const std::string& Current)> OnProgress;

  // Results. Aborted: cancelled, or a delete the user answered with "No".
  bool AnyOperationsAborted = false;
  std::vector<TFileOpNameMapping> NameMappings;
  std::vector<TFileOpFailure> Failures;
  // Items done without all they had: an extended attribute of the user's
  // that the target would not take. No failure of the operation.
  std::vector<TFileOpFailure> Warnings;
};

// Paths keep their bytes: a name need not be UTF-8, and no text
// conversion gives such bytes back. CleanFilePath takes out "." and ".."
// where they can go and doubled or trailing delimiters (the root keeps its
// own), lexically; AbsoluteFilePath does so after joining a relative path
// to the working folder. Empty stays empty.
std::string CleanFilePath(const std::string& Path);
std::string AbsoluteFilePath(const std::string& Path);

// Gives From the name To unless To exists (also when it appears meanwhile,
// where the file system has a rename that replaces nothing or hard links);
// answers 0 or an errno value, EEXIST when To exists.
int RenameNoReplace(const std::string& From, const std::string& To);
// Puts From in place of the file at To only while To still names Expected
// (the same file, unchanged since Expected was read by lstat): answers 0;
// EEXIST when To names another file or Expected changed, ENOENT when it
// names none, either leaving both names as they were; or another errno
// value. The file that leaves To is looked at once out of the name, by an
// exchange of the two; where the file system has no exchange, To is looked
// at right before the rename.
int ReplaceFile(const std::string& From, const std::string& To, const struct stat& Expected);

// When set, asked before each call RenameNoReplace and ReplaceFile make to
// "renameat2" (no replace), "exchange" (renameat2 exchanging two names),
// "link" and "unlink", and a save's commit to "fchmod", with the path the
// call is made for: an error number stands in for the system's answer, 0
// lets the call be made (a test seam).
extern std::function<int(const char* Call, const std::string& Path)> FileOpCallFault;
// The answer of the call Make (named Call, made for Path): 0 or its errno
// value, or the fault FileOpCallFault puts in its place.
int FileOpCall(const char* Call, const std::string& Path, const std::function<int()>& Make);

// True when Path names the folder Folder or lies inside it, by its spelling
// or as the system resolves it: with every link followed and across mount
// points, the deepest folder of Path that exists and those above it are
// compared with Folder by device and inode. A link to a folder holds
// nothing.
bool FolderHolds(const std::string& Folder, const std::string& Path);

// 0 when every item was done or skipped by an answer; ECANCELED when
// cancelled; otherwise the errno value of the first failure.
int SHFileOperation(TSHFileOpStruct& Op);

// A copy or move of Sources into the folder Folder asks before it puts a
// source in place of a file of its name there; where the name is free it
// asks nothing. What the caller must settle before such a transfer starts:
// for each source whose name is free in Folder, the path its name takes
// there and, for a move, the source itself (the sources first).
std::vector<std::string> FileOpUnaskedChanges(const std::vector<std::string>& Sources, const std::string& Folder,
                                              bool Move);
// What a "Yes" to putting Source in place of Target lets the transfer
// change: Target and, for a move, Source; with All ("Yes to All") also what
// the sources after the one that holds Source may replace or take.
std::vector<std::string> FileOpReplaceChanges(const std::vector<std::string>& Sources, const std::string& Folder,
                                              bool Move, const std::string& Source, const std::string& Target,
                                              bool All);

}  // namespace platform
