#include "platform/safesave.h"

#include "platform/stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// The access control list a file has beyond its mode bits.
constexpr const char* AccessAclName = "system.posix_acl_access";

// The names of the extended attributes of the file at Path, each ended by a
// zero; empty when it has none or they cannot be read.
std::vector<char> AttributeNames(const std::string& Path) {
  for (;;) {
    const ssize_t Size = ::listxattr(Path.c_str(), nullptr, 0);
    if (Size <= 0) return {};
    std::vector<char> Names(static_cast<std::size_t>(Size));
    const ssize_t Got = ::listxattr(Path.c_str(), Names.data(), Names.size());
    if (Got >= 0) {
      Names.resize(static_cast<std::size_t>(Got));
      return Names;
    }
    // Another attribute came meanwhile: ask again.
    if (errno != ERANGE) return {};
  }
}

bool AttributeValue(const std::string& Path, const char* Name, std::vector<char>& Value) {
  for (;;) {
    const ssize_t Size = ::getxattr(Path.c_str(), Name, nullptr, 0);
    if (Size < 0) return false;
    Value.resize(static_cast<std::size_t>(Size));
    const ssize_t Got = ::getxattr(Path.c_str(), Name, Value.data(), Value.size());
    if (Got >= 0) {
      Value.resize(static_cast<std::size_t>(Got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

// The file a name leads to through any chain of symbolic links, also one
// that does not exist yet.
std::string LinkedFile(const std::string& FileName) {
  std::string Path = FileName;
  for (int Hops = 0; Hops < 40; ++Hops) {
    struct stat Link {};
    if (::lstat(Path.c_str(), &Link) != 0 || !S_ISLNK(Link.st_mode)) break;
    std::string Target(PATH_MAX, '\0');
    const ssize_t N = ::readlink(Path.c_str(), Target.data(), Target.size());
    if (N <= 0 || static_cast<std::size_t>(N) >= Target.size()) break;
    Target.resize(static_cast<std::size_t>(N));
    const std::size_t Slash = Path.rfind('/');
    Path = Target[0] == '/' || Slash == std::string::npos ? Target : Path.substr(0, Slash + 1) + Target;
  }
  return Path;
}

constexpr const char* WorkFileMark = "pictrova-";
// The characters mkstemp fills in.
constexpr std::size_t RandomLength = 6;

bool Letter(char C) { return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

// The process number at Text[At], up to Stop; 0 when there is none there.
long ProcessAt(const std::string& Text, std::size_t At, char Stop, std::size_t& End) {
  End = At;
  while (End < Text.size() && Text[End] >= '0' && Text[End] <= '9' && End - At < 10) ++End;
  if (End == At || End >= Text.size() || Text[End] != Stop || Text[At] == '0') return 0;
  const long Pid = std::strtol(Text.c_str() + At, nullptr, 10);
  return Pid > 0 && Pid <= INT_MAX ? Pid : 0;
}

} // namespace

std::vector<TAttributeFault> CopyAttributes(const std::string& From, int Fd) {
  std::vector<TAttributeFault> Faults;
  const std::vector<char> Names = AttributeNames(From);
  bool HasAcl = false;
  std::vector<char> Value;
  for (std::size_t At = 0; At < Names.size(); At += std::strlen(Names.data() + At) + 1) {
    const char* Name = Names.data() + At;
    if (std::strcmp(Name, AccessAclName) == 0) HasAcl = true;
    if (AttributeValue(From, Name, Value) && ::fsetxattr(Fd, Name, Value.data(), Value.size(), 0) != 0 &&
        std::strncmp(Name, "user.", 5) == 0)
      Faults.push_back({Name, errno});
  }
  // The folder's default list, given to the new file, was not the old one's.
  if (!HasAcl) ::fremovexattr(Fd, AccessAclName);
  return Faults;
}

std::string SaveWorkFilePattern(const std::string& FileName) {
  const std::size_t Slash = FileName.find_last_of('/');
  const std::string Dir = Slash == std::string::npos ? std::string() : FileName.substr(0, Slash + 1);
  const std::string Base = Slash == std::string::npos ? FileName : FileName.substr(Slash + 1);
  const std::string Tail = "." + std::string(WorkFileMark) + std::to_string(::getpid()) + "-";
  long Longest = ::pathconf(Dir.empty() ? "." : Dir.c_str(), _PC_NAME_MAX);
  if (Longest <= 0) Longest = NAME_MAX;
  // Where the mark leaves no room, the name alone: as long a name still
  // saves as it did, and a longer one still cannot.
  if (1 + Base.size() + Tail.size() + RandomLength > static_cast<std::size_t>(Longest)) return Dir + "." + Base + ".";
  return Dir + "." + Base + Tail;
}

long WorkFileProcess(const std::string& Name) {
  if (Name.size() < 2 || Name[0] != '.') return 0;
  const std::string Mark = WorkFileMark;
  std::size_t End = 0;
  // A copy's: ".pictrova-<process>-<n>.part".
  if (Name.compare(1, Mark.size(), Mark) == 0 && Name.size() > 5 && Name.compare(Name.size() - 5, 5, ".part") == 0) {
    const long Pid = ProcessAt(Name, 1 + Mark.size(), '-', End);
    const std::size_t Number = End + 1, Dot = Name.size() - 5;
    if (Pid != 0 && Number < Dot &&
        std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Number), Name.begin() + static_cast<std::ptrdiff_t>(Dot),
                    [](char C) { return C >= '0' && C <= '9'; }))
      return Pid;
  }
  // A save's: ".<name>.pictrova-<process>-XXXXXX", the name not empty.
  if (Name.size() < Mark.size() + RandomLength + 5) return 0;
  const std::size_t Random = Name.size() - RandomLength;
  if (!std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Random), Name.end(), Letter)) return 0;
  const std::size_t Dash = Random - 1;
  if (Name[Dash] != '-') return 0;
  std::size_t Start = Dash;
  while (Start > 0 && Name[Start - 1] >= '0' && Name[Start - 1] <= '9') --Start;
  const std::size_t Dot = Start - Mark.size() - 1;
  if (Start < Mark.size() + 3 || Name.compare(Start - Mark.size(), Mark.size(), Mark) != 0 || Name[Dot] != '.')
    return 0;
  return ProcessAt(Name, Start, '-', End);
}

int RemoveStaleWorkFiles(const std::string& Folder) {
  DIR* Dir = ::opendir(Folder.c_str());
  if (!Dir) return 0;
  int Removed = 0;
  while (const dirent* Entry = ::readdir(Dir)) {
    const long Pid = WorkFileProcess(Entry->d_name);
    if (Pid == 0 || Pid == ::getpid()) continue;
    struct stat St {};
    if (::fstatat(::dirfd(Dir), Entry->d_name, &St, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(St.st_mode) ||
        St.st_uid != ::geteuid())
      continue;
    // A live process (of any owner) may be writing it.
    if (::kill(static_cast<pid_t>(Pid), 0) == 0 || errno != ESRCH) continue;
    if (::unlinkat(::dirfd(Dir), Entry->d_name, 0) == 0) ++Removed;
  }
  ::closedir(Dir);
  return Removed;
}

std::function<void(const std::string&)> TSafeSaveFile::AfterTempMade;

mode_t DefaultFileMode() {
  // The mask is read without setting it: umask() can only be read by setting
  // it, and another thread creating a file meanwhile would get a mask of 0.
  mode_t Mask = 022;
  if (std::FILE* Status = std::fopen("/proc/self/status", "re")) {
    char Line[256];
    unsigned Read = 0;
    bool Found = false;
    while (!Found && std::fgets(Line, sizeof Line, Status)) Found = std::sscanf(Line, "Umask: %o", &Read) == 1;
    std::fclose(Status);
    if (Found) Mask = static_cast<mode_t>(Read & 0777);
  }
  return 0666 & ~Mask;
}

TSafeSaveFile::TSafeSaveFile(const std::string& FileName, mode_t NewMode) : FTarget(FileName), FMode(NewMode) {
  // Write through a symbolic link to the file it names, not over the link
  // (settings kept with the user's other dotfiles stay a link).
  FTarget = LinkedFile(FileName);
  struct stat Old {};
  if (::stat(FTarget.c_str(), &Old) == 0) {
    // The rename would replace a file whatever its own permissions say.
    if (::faccessat(AT_FDCWD, FTarget.c_str(), W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS))
      throw EStreamError("Cannot create file \"" + FileName + "\". The file is read-only.");
    FExisted = true;
    FOwner = Old.st_uid;
    FGroup = Old.st_gid;
    FMode = Old.st_mode & 07777;
  }
  // Named for this process: a later start tells the file of a save cut
  // short from another program's.
  std::string Pattern = SaveWorkFilePattern(FTarget) + "XXXXXX";
  const int Fd = ::mkostemp(Pattern.data(), O_CLOEXEC);
  if (Fd < 0) throw EStreamError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
  FTemp = Pattern;
  FFile = std::make_unique<TFileStream>(Fd, FTemp);
  if (AfterTempMade) AfterTempMade(FTemp);
}

TSafeSaveFile::~TSafeSaveFile() {
  // A name that leads elsewhere now is someone else's.
  if (!FTemp.empty() && NameHoldsFile()) ::unlink(FTemp.c_str());
}

bool TSafeSaveFile::NameHoldsFile() const {
  struct stat Named {}, Held {};
  return ::lstat(FTemp.c_str(), &Named) == 0 && ::fstat(FFile->Handle(), &Held) == 0 &&
         Named.st_ino == Held.st_ino && Named.st_dev == Held.st_dev;
}

bool TSafeSaveFile::Commit() {
  const int Fd = FFile->Handle();
  if (FExisted) {
    // The replaced file's owner and group: root may give both, another user
    // at most a group of its own.
    struct stat Now {};
    if (::fstat(Fd, &Now) == 0 && (Now.st_uid != FOwner || Now.st_gid != FGroup) &&
        ::fchown(Fd, FOwner, FGroup) != 0)
      (void)::fchown(Fd, static_cast<uid_t>(-1), FGroup);
  }
  // After the owner: a change of owner clears the set-user and set-group
  // bits.
  bool Ok = ::fchmod(Fd, FMode) == 0;
  if (Ok && FExisted) CopyAttributes(FTarget, Fd);
  Ok = Ok && ::fsync(Fd) == 0;
  // Whatever else the name led to, the rename would put in the target's
  // place (which whoever put it there could do alone): that is no save.
  if (!Ok || !NameHoldsFile() || ::rename(FTemp.c_str(), FTarget.c_str()) != 0) return false;
  FTemp.clear();
  // The rename itself lasts only once the folder is written.
  const std::size_t Slash = FTarget.find_last_of('/');
  const std::string Dir = Slash == std::string::npos ? "." : Slash == 0 ? "/" : FTarget.substr(0, Slash);
  if (const int DirFd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); DirFd >= 0) {
    ::fsync(DirFd);
    ::close(DirFd);
  }
  return true;
}

void RemoveUnfinishedSaves(const std::string& FileName) {
  const std::string Target = LinkedFile(FileName);
  const std::size_t Slash = Target.find_last_of('/');
  const std::string Dir = Slash == std::string::npos ? "." : Target.substr(0, Slash + 1);
  // The names mkstemp gives: the target's hidden name and six characters,
  // with the process's mark between them or, left by earlier runs, without.
  const std::string Prefix = "." + (Slash == std::string::npos ? Target : Target.substr(Slash + 1)) + ".";
  const std::string Marked = Prefix + WorkFileMark;
  DIR* Folder = ::opendir(Dir.c_str());
  if (!Folder) return;
  while (const dirent* Entry = ::readdir(Folder)) {
    const std::string Name = Entry->d_name;
    const bool Plain = Name.size() == Prefix.size() + RandomLength && Name.compare(0, Prefix.size(), Prefix) == 0 &&
                       std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(), Letter);
    if (!Plain && (Name.compare(0, Marked.size(), Marked) != 0 || WorkFileProcess(Name) == 0)) continue;
    struct stat St {};
    if (::fstatat(::dirfd(Folder), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(St.st_mode) &&
        St.st_uid == ::geteuid())
      ::unlinkat(::dirfd(Folder), Name.c_str(), 0);
  }
  ::closedir(Folder);
}

void SaveFileSafely(const std::string& FileName, std::string_view Data, mode_t NewMode) {
  TSafeSaveFile File(FileName, NewMode);
  bool Written = true;
  try {
    File.Stream().WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  } catch (const EStreamError&) {
    // Named by the file the caller knows, not the hidden one.
    Written = false;
  }
  if (!Written || !File.Commit()) throw EStreamError("Cannot write file \"" + FileName + "\".");
}

} // namespace platform
