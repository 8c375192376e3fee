// Whole files written under a hidden name beside their target and put in its
// place only once complete: a write that fails or is cut short leaves the
// old file as it was. The file put in place is the old one in all but its
// contents: owner and group where this user may give them, mode, extended
// attributes and access control lists.
#pragma once

#include "platform/stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace platform {

// The mode a new file gets: read and write for all, less the process's
// file-creation mask.
mode_t DefaultFileMode();

// Raised by a save that found another file at the name than the one it was
// to replace (another program put its own there, or changed it, while the
// save ran), or none: nothing was replaced.
class EFileChanged : public EStreamError {
public:
  explicit EFileChanged(const std::string& FileName)
      : EStreamError("Cannot write file \"" + FileName + "\". Another program changed it meanwhile.") {}
};

// What a file was at one moment: another program's change of it in place,
// or another file put in its place, shows as a difference. The change time
// is in it because no program can set it back: a rewrite that puts the size
// and the modification time back as they were still shows.
struct TFileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t Size = -1;
  std::int64_t ModifiedSeconds = 0;
  std::int64_t ModifiedNanoseconds = 0;
  std::int64_t ChangedSeconds = 0;
  std::int64_t ChangedNanoseconds = 0;
  // The file Path names now, through links; the empty identity when there
  // is none.
  static TFileIdentity Of(const std::string& Path);
  // The file open at Fd, whatever its name has become.
  static TFileIdentity OfOpen(int Fd);
  static TFileIdentity OfStatus(const struct stat& Status);
  // There was a file.
  bool Exists() const { return Size >= 0; }
  bool operator==(const TFileIdentity&) const = default;
  // The same file with the same contents, whatever was done to its name or
  // attributes since (which moves the change time on).
  bool SameContents(const TFileIdentity& Other) const {
    return Device == Other.Device && Inode == Other.Inode && Size == Other.Size &&
           ModifiedSeconds == Other.ModifiedSeconds && ModifiedNanoseconds == Other.ModifiedNanoseconds;
  }
};

// While one lives, a TSafeSaveFile this thread makes for FileName replaces
// only the file Accepted names, unchanged (the file the user was asked
// about, or agreed to), or, Accepted empty, only puts a file in a name still
// free: it raises EFileChanged at once, before anything is written, when
// another file is there, and its commit puts its file in place only if that
// file is still there. Without one a save replaces the file it finds when it
// begins. Scopes nest; each names one file.
class TReplaceOnly {
public:
  TReplaceOnly(const std::string& FileName, const TFileIdentity& Accepted);
  ~TReplaceOnly();
  TReplaceOnly(const TReplaceOnly&) = delete;
  TReplaceOnly& operator=(const TReplaceOnly&) = delete;

  // The identity accepted for the file FileName leads to, if a scope of
  // this thread names it; nullptr when none does.
  static const TFileIdentity* For(const std::string& FileName);

private:
  std::string FTarget;
  TFileIdentity FAccepted;
  const TReplaceOnly* FOuter;
};

class TSafeSaveFile {
public:
  // NewMode: the mode of a file that does not exist yet. Raises
  // EStreamError naming FileName when the file exists and this user may not
  // write it (a rename over it needs only the folder's permission), or when
  // nothing can be made beside it; EFileChanged when a TReplaceOnly of this
  // thread names another file than the one there. A symbolic link is
  // written through.
  explicit TSafeSaveFile(const std::string& FileName, mode_t NewMode = DefaultFileMode());
  ~TSafeSaveFile();
  TSafeSaveFile(const TSafeSaveFile&) = delete;
  TSafeSaveFile& operator=(const TSafeSaveFile&) = delete;

  // The empty hidden file to write the contents to, open since it was made:
  // its name is never opened again, as anyone who may write the folder can
  // put a link there meanwhile.
  TStream& Stream() { return *FFile; }
  // The hidden file by a name that leads to it whatever becomes of its name
  // in the folder ("/proc/self/fd/<n>"), for a writer that opens its file
  // itself.
  std::string OpenName() const;
  // Puts the written file in place of the target, only the file found there
  // when the save began, unchanged (or, where there was none, in a name
  // still free); false when it could not (the target is then as it was),
  // also when the hidden name no longer leads to the file written.
  bool Commit();
  // The last Commit found another file at the target's name, or none.
  bool FoundOther() const { return FFoundOther; }

  // Called with the hidden file's name once it is made (a test seam).
  static std::function<void(const std::string& TempName)> AfterTempMade;

private:
  bool NameHoldsFile() const;

  std::string FTarget;
  std::string FTemp;
  std::unique_ptr<TFileStream> FFile;
  bool FExisted = false;
  bool FFoundOther = false;
  // The target as the save found it.
  struct stat FOld {};
  uid_t FOwner = 0;
  gid_t FGroup = 0;
  mode_t FMode = 0;
};

// Removes the hidden files that saves of FileName cut short by a killed
// process left beside it (this user's own). Only while no save of that file
// can be under way.
void RemoveUnfinishedSaves(const std::string& FileName);

// The hidden file a save of FileName writes first, before the six
// characters mkstemp fills in: ".<name>.pictrova-<process>-", the name cut
// where the whole would pass the longest name the folder holds.
std::string SaveWorkFilePattern(const std::string& FileName);
// The process whose save or copy writes the work file of the name
// (".<name>.pictrova-<process>-XXXXXX" or ".pictrova-<process>-<n>.part");
// 0 for any other name.
long WorkFileProcess(const std::string& Name);
// Marks the file just made at Fd as a work file of this process's, and
// takes the mark off before it is put in place: an extended attribute
// naming this boot, this process and its start.
void MarkWorkFile(int Fd);
void UnmarkWorkFile(int Fd);
// Removes from Folder the work files of this user's saves and copies that a
// run now gone left behind (killed amid the write): those that bear the
// mark of a process of this boot and this machine's processes that is no
// longer there. A live process's, another machine's or sandbox's, another
// user's, a file without the mark and every other name stay. Answers how
// many went.
int RemoveStaleWorkFiles(const std::string& Folder);

// Gives the file open at Fd (also by O_PATH, as a link) the owner Uid and
// group Gid where this process may: root both, another user at most a group
// of its own. Before the mode: a change of owner clears the set-user and
// set-group bits.
void KeepOwner(int Fd, uid_t Uid, gid_t Gid);

// Name cut to at most Bytes bytes, never in the middle of a UTF-8
// character.
std::string CutFileName(const std::string& Name, std::size_t Bytes);

// An extended attribute of the user's own ("user.") that a copy could not
// set, with the error.
struct TAttributeFault {
  std::string Name;
  int Code = 0;
};
// The extended attributes of the file at From onto the open file Fd, as a
// save keeps them. One this user may not set (another's security label, a
// trusted attribute) is left out, as the file system would leave it out of
// a copy; those of the user's own that could not be set are answered. A
// work file's mark is no attribute of the file's and never goes.
std::vector<TAttributeFault> CopyAttributes(const std::string& From, int Fd);

// Data as the whole of FileName, through a TSafeSaveFile; raises EStreamError
// when it cannot be written, EFileChanged when another file took its place
// meanwhile.
void SaveFileSafely(const std::string& FileName, std::string_view Data, mode_t NewMode = DefaultFileMode());

} // namespace platform
