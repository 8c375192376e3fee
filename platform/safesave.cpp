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

// The extended attributes of the file at From onto the open file Fd. One
// this user may not set (another's security label, a trusted attribute) is
// left out, as the file system would leave it out of a copy.
void CopyAttributes(const std::string& From, int Fd) {
  const std::vector<char> Names = AttributeNames(From);
  bool HasAcl = false;
  std::vector<char> Value;
  for (std::size_t At = 0; At < Names.size(); At += std::strlen(Names.data() + At) + 1) {
    const char* Name = Names.data() + At;
    if (std::strcmp(Name, AccessAclName) == 0) HasAcl = true;
    if (AttributeValue(From, Name, Value)) ::fsetxattr(Fd, Name, Value.data(), Value.size(), 0);
  }
  // The folder's default list, given to the new file, was not the old one's.
  if (!HasAcl) ::fremovexattr(Fd, AccessAclName);
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

} // namespace

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
  const std::size_t Slash = FTarget.find_last_of('/');
  const std::string Dir = Slash == std::string::npos ? std::string() : FTarget.substr(0, Slash + 1);
  const std::string Base = Slash == std::string::npos ? FTarget : FTarget.substr(Slash + 1);
  std::string Pattern = Dir + "." + Base + ".XXXXXX";
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
  // The names mkstemp gives: the target's hidden name and six characters.
  const std::string Prefix = "." + (Slash == std::string::npos ? Target : Target.substr(Slash + 1)) + ".";
  const auto Letter = [](char C) { return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); };
  DIR* Folder = ::opendir(Dir.c_str());
  if (!Folder) return;
  while (const dirent* Entry = ::readdir(Folder)) {
    const std::string Name = Entry->d_name;
    if (Name.size() != Prefix.size() + 6 || Name.compare(0, Prefix.size(), Prefix) != 0 ||
        !std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(), Letter))
      continue;
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
