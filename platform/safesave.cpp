#include "platform/safesave.h"

#include "platform/shfileop.h"
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
// The most digits a work file's process number has.
constexpr std::size_t ProcessDigits = 10;

// The attribute that marks a work file while it is written: the boot, the
// process-id namespace, the process and its start, as "<boot> <namespace>
// <process> <start>". A later run removes only a file whose process was of
// its own boot and namespace and is gone: a name alone may be the user's
// own file, or the live work file of a save on another machine sharing the
// folder or in a sandbox.
constexpr const char* WorkMarkName = "user.pictrova.work";

std::string FirstLine(const char* Path) {
  std::string Text;
  if (std::FILE* File = std::fopen(Path, "re")) {
    char Line[256];
    if (std::fgets(Line, sizeof Line, File)) Text = Line;
    std::fclose(File);
  }
  if (!Text.empty() && Text.back() == '\n') Text.pop_back();
  return Text;
}

// The start of process Pid in clock ticks after the boot; 0 when unknown.
unsigned long long ProcessStart(long Pid) {
  const std::string Stat = FirstLine(("/proc/" + std::to_string(Pid) + "/stat").c_str());
  // After the command's name in parentheses (which may hold anything), the
  // state is the third field and the start the twenty-second.
  const std::size_t Close = Stat.rfind(')');
  if (Close == std::string::npos) return 0;
  std::size_t At = Close + 1;
  for (int Field = 3; Field < 22 && At != std::string::npos; ++Field) At = Stat.find(' ', At + 1);
  return At == std::string::npos ? 0 : std::strtoull(Stat.c_str() + At + 1, nullptr, 10);
}

// This boot and process-id namespace, as a mark names them; empty when
// either is unknown.
std::string RunPlace() {
  const std::string Boot = FirstLine("/proc/sys/kernel/random/boot_id");
  char Space[64];
  const ssize_t N = ::readlink("/proc/self/ns/pid", Space, sizeof Space - 1);
  if (Boot.empty() || Boot.find(' ') != std::string::npos || N <= 0) return {};
  return Boot + " " + std::string(Space, static_cast<std::size_t>(N));
}

// Whether a work file of process Pid bearing Mark was left by a run of this
// boot and namespace (Place) that is gone.
bool MarkOfRunGone(const std::string& Mark, const std::string& Place, long Pid) {
  const std::string Own = Place + " " + std::to_string(Pid) + " ";
  if (Place.empty() || Mark.size() <= Own.size() || Mark.compare(0, Own.size(), Own) != 0) return false;
  char* End = nullptr;
  const unsigned long long Start = std::strtoull(Mark.c_str() + Own.size(), &End, 10);
  if (Start == 0 || *End != '\0') return false;
  if (::kill(static_cast<pid_t>(Pid), 0) != 0) return errno == ESRCH;
  // A live process of that number that started at another time took the
  // number of the one gone.
  const unsigned long long Now = ProcessStart(Pid);
  return Now != 0 && Now != Start;
}

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
    if (std::strcmp(Name, WorkMarkName) == 0) continue;
    if (std::strcmp(Name, AccessAclName) == 0) HasAcl = true;
    if (AttributeValue(From, Name, Value) && ::fsetxattr(Fd, Name, Value.data(), Value.size(), 0) != 0 &&
        std::strncmp(Name, "user.", 5) == 0)
      Faults.push_back({Name, errno});
  }
  // The folder's default list, given to the new file, was not the old one's.
  if (!HasAcl) ::fremovexattr(Fd, AccessAclName);
  return Faults;
}

namespace {

// The folder part of FileName (with its slash, empty for none) and its name.
std::pair<std::string, std::string> SplitName(const std::string& FileName) {
  const std::size_t Slash = FileName.find_last_of('/');
  if (Slash == std::string::npos) return {std::string(), FileName};
  return {FileName.substr(0, Slash + 1), FileName.substr(Slash + 1)};
}

// ".<name>.pictrova-": where the longest process number would make the work
// file's name pass the longest the folder holds, the name is cut (the same
// cut for every process), so that every save's work file bears the mark.
std::string MarkedPrefix(const std::string& Dir, const std::string& Base) {
  long Longest = ::pathconf(Dir.empty() ? "." : Dir.c_str(), _PC_NAME_MAX);
  if (Longest <= 0) Longest = NAME_MAX;
  const std::size_t Tail = 1 + std::strlen(WorkFileMark) + ProcessDigits + 1 + RandomLength;
  const std::size_t Most = static_cast<std::size_t>(Longest);
  const std::size_t Room = Most > Tail + 2 ? Most - Tail - 1 : 1;
  return "." + CutFileName(Base, Room) + "." + WorkFileMark;
}

} // namespace

std::string CutFileName(const std::string& Name, std::size_t Bytes) {
  if (Name.size() <= Bytes) return Name;
  std::size_t End = Bytes;
  // A UTF-8 character's later bytes are 10xxxxxx; no character has more
  // than three of them.
  for (int Back = 0; Back < 3 && End > 0 && (static_cast<unsigned char>(Name[End]) & 0xC0) == 0x80; ++Back) --End;
  return Name.substr(0, End);
}

std::string SaveWorkFilePattern(const std::string& FileName) {
  const auto [Dir, Base] = SplitName(FileName);
  return Dir + MarkedPrefix(Dir, Base) + std::to_string(::getpid()) + "-";
}

void MarkWorkFile(int Fd) {
  const std::string Place = RunPlace();
  const unsigned long long Start = ProcessStart(::getpid());
  if (Place.empty() || Start == 0) return;
  const std::string Mark = Place + " " + std::to_string(::getpid()) + " " + std::to_string(Start);
  // A file system without user attributes keeps no mark: its work files
  // stay where a run left them.
  (void)::fsetxattr(Fd, WorkMarkName, Mark.data(), Mark.size(), 0);
}

void UnmarkWorkFile(int Fd) { (void)::fremovexattr(Fd, WorkMarkName); }

namespace {

// Gives the file open at Fd (named Path) the mode Mode. A file system
// that holds no modes (a FAT disk through FUSE) keeps what it has: it
// answers ENOSYS or ENOTSUP, or EPERM while the mode already is Mode.
bool KeepMode(int Fd, mode_t Mode, const std::string& Path) {
  const int E = FileOpCall("fchmod", Path, [&] { return ::fchmod(Fd, Mode); });
  struct stat Now {};
  return E == 0 || E == ENOSYS || E == ENOTSUP ||
         (E == EPERM && ::fstat(Fd, &Now) == 0 && (Now.st_mode & 07777) == Mode);
}

} // namespace

void KeepOwner(int Fd, uid_t Uid, gid_t Gid) {
  struct stat Now {};
  if (::fstat(Fd, &Now) != 0 || (Now.st_uid == Uid && Now.st_gid == Gid)) return;
  if (::fchownat(Fd, "", Uid, Gid, AT_EMPTY_PATH) != 0)
    (void)::fchownat(Fd, "", static_cast<uid_t>(-1), Gid, AT_EMPTY_PATH);
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
  const std::string Place = RunPlace();
  if (Place.empty()) return 0;
  DIR* Dir = ::opendir(Folder.c_str());
  if (!Dir) return 0;
  int Removed = 0;
  std::vector<char> Mark;
  while (const dirent* Entry = ::readdir(Dir)) {
    const long Pid = WorkFileProcess(Entry->d_name);
    if (Pid == 0) continue;
    struct stat St {}, Again {};
    const std::string Path = Folder + "/" + Entry->d_name;
    if (::fstatat(::dirfd(Dir), Entry->d_name, &St, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(St.st_mode) ||
        St.st_uid != ::geteuid() || !AttributeValue(Path, WorkMarkName, Mark) ||
        !MarkOfRunGone(std::string(Mark.begin(), Mark.end()), Place, Pid))
      continue;
    // Still the file whose mark was read.
    if (::fstatat(::dirfd(Dir), Entry->d_name, &Again, AT_SYMLINK_NOFOLLOW) == 0 && Again.st_ino == St.st_ino &&
        Again.st_dev == St.st_dev && ::unlinkat(::dirfd(Dir), Entry->d_name, 0) == 0)
      ++Removed;
  }
  ::closedir(Dir);
  return Removed;
}

TFileIdentity TFileIdentity::OfStatus(const struct stat& Status) {
  return {static_cast<std::uint64_t>(Status.st_dev), static_cast<std::uint64_t>(Status.st_ino), Status.st_size,
          Status.st_mtim.tv_sec, Status.st_mtim.tv_nsec, Status.st_ctim.tv_sec, Status.st_ctim.tv_nsec};
}

TFileIdentity TFileIdentity::Of(const std::string& Path) {
  struct stat Status;
  return ::stat(Path.c_str(), &Status) == 0 ? OfStatus(Status) : TFileIdentity{};
}

TFileIdentity TFileIdentity::OfOpen(int Fd) {
  struct stat Status;
  return ::fstat(Fd, &Status) == 0 ? OfStatus(Status) : TFileIdentity{};
}

namespace {
// The innermost scope of this thread's; a save on another thread (a print
// to a file, the settings) keeps to the file it finds.
thread_local const TReplaceOnly* InnermostReplaceOnly = nullptr;
} // namespace

TReplaceOnly::TReplaceOnly(const std::string& FileName, const TFileIdentity& Accepted)
    : FTarget(LinkedFile(FileName)), FAccepted(Accepted), FOuter(InnermostReplaceOnly) {
  InnermostReplaceOnly = this;
}

TReplaceOnly::~TReplaceOnly() { InnermostReplaceOnly = FOuter; }

const TFileIdentity* TReplaceOnly::For(const std::string& FileName) {
  const std::string Target = LinkedFile(FileName);
  for (const TReplaceOnly* Scope = InnermostReplaceOnly; Scope != nullptr; Scope = Scope->FOuter)
    if (Scope->FTarget == Target) return &Scope->FAccepted;
  return nullptr;
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
    FExisted = ::lstat(FTarget.c_str(), &FOld) == 0;
    FOwner = Old.st_uid;
    FGroup = Old.st_gid;
    FMode = Old.st_mode & 07777;
  }
  // The file the user was asked about (the one the commit checks for), or
  // none, or nothing is written.
  if (const TFileIdentity* Accepted = TReplaceOnly::For(FTarget);
      Accepted != nullptr && (FExisted ? TFileIdentity::OfStatus(FOld) != *Accepted : Accepted->Exists()))
    throw EFileChanged(FileName);
  // Named and marked for this process: a later start tells the file of a
  // save cut short from a live save's and from another program's.
  std::string Pattern = SaveWorkFilePattern(FTarget) + "XXXXXX";
  const int Fd = ::mkostemp(Pattern.data(), O_CLOEXEC);
  if (Fd < 0) throw EStreamError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
  MarkWorkFile(Fd);
  FTemp = Pattern;
  FFile = std::make_unique<TFileStream>(Fd, FTemp);
  if (AfterTempMade) AfterTempMade(FTemp);
}

std::string TSafeSaveFile::OpenName() const { return "/proc/self/fd/" + std::to_string(FFile->Handle()); }

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
  FFoundOther = false;
  const int Fd = FFile->Handle();
  // In place it is no work file. The mark goes first, while this user may
  // still write the file's attributes.
  UnmarkWorkFile(Fd);
  if (FExisted) KeepOwner(Fd, FOwner, FGroup);
  bool Ok = KeepMode(Fd, FMode, FTarget);
  if (Ok && FExisted) CopyAttributes(FTarget, Fd);
  Ok = Ok && ::fsync(Fd) == 0;
  // Whatever else the name led to, the rename would put in the target's
  // place (which whoever put it there could do alone): that is no save.
  if (!Ok || !NameHoldsFile()) return false;
  // Only the file checked before the save, or a name still free: another
  // program's file put there meanwhile may be the only copy of what it
  // holds.
  const int E = FExisted ? ReplaceFile(FTemp, FTarget, FOld) : RenameNoReplace(FTemp, FTarget);
  if (E != 0) {
    FFoundOther = E == EEXIST || (FExisted && E == ENOENT);
    return false;
  }
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
  const auto [Dir, Base] = SplitName(LinkedFile(FileName));
  // The names mkstemp gives: the target's hidden name and six characters,
  // with the process's mark between them or, left by earlier runs, without.
  const std::string Prefix = "." + Base + ".";
  const std::string Marked = MarkedPrefix(Dir, Base);
  DIR* Folder = ::opendir(Dir.empty() ? "." : Dir.c_str());
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
  if (Written && File.Commit()) return;
  if (File.FoundOther()) throw EFileChanged(FileName);
  throw EStreamError("Cannot write file \"" + FileName + "\".");
}

} // namespace platform
