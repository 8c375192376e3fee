#include "platform/shfileop.h"

#include "platform/safesave.h"
#include "platform/trash.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace platform {

namespace {

std::string TrimSlashes(std::string P) {
  while (P.size() > 1 && P.back() == '/') P.pop_back();
  return P;
}

std::string DirOf(const std::string& P) {
  const std::size_t Slash = P.rfind('/');
  if (Slash == std::string::npos) return ".";
  return Slash == 0 ? "/" : P.substr(0, Slash);
}

std::string NameOf(const std::string& P) {
  const std::size_t Slash = P.rfind('/');
  return Slash == std::string::npos ? P : P.substr(Slash + 1);
}

std::string Join(const std::string& Dir, const std::string& Name) {
  return Dir.empty() || Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

bool LStat(const std::string& P, struct stat& St) { return ::lstat(P.c_str(), &St) == 0; }

bool Exists(const std::string& P) {
  struct stat St;
  return LStat(P, St);
}

bool IsDir(const std::string& P) {
  struct stat St;
  return ::stat(P.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool HasWildcard(const std::string& Name) { return Name.find_first_of("*?") != std::string::npos; }

// A source to match against its folder's names: one whose name holds "*" or
// "?" and names no file as it is. A file of such a name is itself, and only
// itself.
bool IsPattern(const std::string& Source) {
  const std::string P = TrimSlashes(Source);
  return HasWildcard(NameOf(P)) && !Exists(P);
}

std::vector<std::string> ListDir(const std::string& Dir, int& Error) {
  std::vector<std::string> Names;
  Error = 0;
  DIR* D = ::opendir(Dir.c_str());
  if (!D) {
    Error = errno;
    return Names;
  }
  while (const dirent* E = ::readdir(D)) {
    if (std::strcmp(E->d_name, ".") == 0 || std::strcmp(E->d_name, "..") == 0) continue;
    Names.emplace_back(E->d_name);
  }
  ::closedir(D);
  return Names;
}

bool SameFile(const struct stat& A, const struct stat& B) { return A.st_dev == B.st_dev && A.st_ino == B.st_ino; }

bool SpelledInside(const std::string& Folder, const std::string& Path) {
  return Path == Folder || (Path.size() > Folder.size() && Path.compare(0, Folder.size(), Folder) == 0 &&
                            (Folder == "/" || Path[Folder.size()] == '/'));
}

}  // namespace

bool FolderHolds(const std::string& Folder, const std::string& Path) {
  const std::string F = TrimSlashes(Folder), P = TrimSlashes(Path);
  if (SpelledInside(F, P)) return true;
  // A link to a folder is copied as a link: it holds nothing.
  struct stat Held;
  if (!LStat(F, Held) || !S_ISDIR(Held.st_mode)) return false;
  // From the deepest folder of Path that exists (a target is made later),
  // upward by "..": the kernel's own way up, whatever links led there; the
  // root is its own parent.
  std::string Start = P;
  int Fd = ::open(Start.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  while (Fd < 0 && Start != DirOf(Start)) {
    Start = DirOf(Start);
    Fd = ::open(Start.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  struct stat Up, Below {};
  bool Found = false;
  for (bool First = true; Fd >= 0 && ::fstat(Fd, &Up) == 0 && (First || !SameFile(Up, Below)); First = false) {
    Found = SameFile(Up, Held);
    if (Found) break;
    Below = Up;
    const int Parent = ::openat(Fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(Fd);
    Fd = Parent;
  }
  if (Fd >= 0) ::close(Fd);
  return Found;
}

std::string CleanFilePath(const std::string& Path) {
  if (Path.empty()) return Path;
  std::string Clean = std::filesystem::path(Path).lexically_normal().native();
  while (Clean.size() > 1 && Clean.back() == '/') Clean.pop_back();
  return Clean.empty() ? std::string(".") : Clean;
}

std::string AbsoluteFilePath(const std::string& Path) {
  if (Path.empty() || Path.front() == '/') return CleanFilePath(Path);
  std::error_code Error;
  return CleanFilePath(std::filesystem::current_path(Error).native() + "/" + Path);
}

std::function<int(const char* Call, const std::string& Path)> FileOpCallFault;

int FileOpCall(const char* Name, const std::string& Path, const std::function<int()>& Make) {
  if (FileOpCallFault)
    if (const int Fault = FileOpCallFault(Name, Path)) return Fault;
  return Make() == 0 ? 0 : errno;
}

namespace {

// The same file, and nothing written to it or done to its inode since.
bool Unchanged(const struct stat& A, const struct stat& B) {
  return SameFile(A, B) && A.st_size == B.st_size && A.st_mtim.tv_sec == B.st_mtim.tv_sec &&
         A.st_mtim.tv_nsec == B.st_mtim.tv_nsec && A.st_ctim.tv_sec == B.st_ctim.tv_sec &&
         A.st_ctim.tv_nsec == B.st_ctim.tv_nsec;
}

}  // namespace

int RenameNoReplace(const std::string& From, const std::string& To) {
  int E = FileOpCall("renameat2", To, [&] {
    return ::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE);
  });
  if (E != EINVAL && E != ENOSYS) return E;
  // File systems without the no-replace rename: a hard link fails on an
  // existing name just as atomically. Where there are no hard links either
  // (a FAT disk), and for a folder, the name is looked at right before.
  struct stat St;
  if (LStat(From, St) && !S_ISDIR(St.st_mode)) {
    E = FileOpCall("link", To, [&] { return ::link(From.c_str(), To.c_str()); });
    if (E == 0) {
      E = FileOpCall("unlink", From, [&] { return ::unlink(From.c_str()); });
      if (E == 0) return 0;
      // Still under its old name: no rename, and no second name left.
      ::unlink(To.c_str());
      return E;
    }
    if (E == EEXIST) return EEXIST;
  }
  if (Exists(To)) return EEXIST;
  return ::rename(From.c_str(), To.c_str()) == 0 ? 0 : errno;
}

int ReplaceFile(const std::string& From, const std::string& To, const struct stat& Expected) {
  struct stat Now;
  if (!LStat(To, Now)) return errno;
  if (!Unchanged(Now, Expected)) return EEXIST;
  int E = FileOpCall("exchange", To, [&] {
    return ::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_EXCHANGE);
  });
  // Without the exchange, the look just taken is the last before the
  // rename.
  if (E == EINVAL || E == ENOSYS) return ::rename(From.c_str(), To.c_str()) == 0 ? 0 : errno;
  if (E != 0) return E;
  // What left the name (its change time moved on with the exchange).
  struct stat Out;
  if (LStat(From, Out) && SameFile(Out, Expected)) {
    ::unlink(From.c_str());
    return 0;
  }
  // Another program's file came in the meantime: back under its name (by
  // a plain rename, should the exchange fail, at the cost of From's file).
  E = FileOpCall("exchange", From, [&] {
    return ::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_EXCHANGE);
  });
  if (E != 0) ::rename(From.c_str(), To.c_str());
  return EEXIST;
}

namespace {

// Returns an unused name beside Target, created by Make (which answers an
// errno value; EEXIST tries the next name).
int MakeTempBeside(const std::string& Target, std::string& Temp, const std::function<int(const std::string&)>& Make) {
  // Operations of two views may run at once, each on its own thread.
  static std::atomic<unsigned> Counter{0};
  const std::string Dir = DirOf(Target);
  for (int Try = 0; Try < 1000; ++Try) {
    char Name[64];
    std::snprintf(Name, sizeof Name, ".pictrova-%d-%u.part", static_cast<int>(::getpid()), Counter++);
    Temp = Join(Dir, Name);
    const int E = Make(Temp);
    if (E != EEXIST) return E;
  }
  return EEXIST;
}

enum class TDecision { Proceed, Replace, Skip, Abort };

class TFileOpRun {
 public:
  explicit TFileOpRun(TSHFileOpStruct& Op) : FOp(Op) {}
  int Run();

 private:
  std::vector<std::string> ExpandSources();
  std::int64_t TreeBytes(const std::string& P);
  TFileOpAnswer Ask(TFileOpConfirm Kind, const std::string& Source, const std::string& Target);
  TDecision Resolve(const std::string& Source, std::string& Target);
  bool Fail(const std::string& Path, int Code, const std::string& What);
  void KeepAttributes(const std::string& Source, int Fd, const std::string& Target);
  bool Progress(std::int64_t Bytes, const std::string& Current);

  bool CopyTree(const std::string& Source, std::string Target);
  bool CopyResolved(const std::string& Source, const struct stat& St, const std::string& Target, TDecision D);
  // A new folder at Target with Source's extended attributes; it gets the
  // source's mode (KeepFolderMode) once its items are in. A folder there
  // before keeps its own mode, owner and times.
  bool MakeFolderLike(const std::string& Source, const struct stat& St, const std::string& Target);
  void KeepFolderMode(const struct stat& St, const std::string& Target);
  bool MoveChildren(const std::string& Source, const struct stat& St, const std::string& Target);
  bool CopyFile(const std::string& Source, const struct stat& St, const std::string& Target, TDecision D);
  bool CopyLink(const std::string& Source, const struct stat& St, const std::string& Target, TDecision D);
  // Temp (or, for a move, the source) under Target: over the file the user
  // was asked about, else only where the name is free. 0 or an errno value,
  // EEXIST when another file holds the name.
  int PutInPlace(const std::string& Temp, const std::string& Target, TDecision D);
  bool Place(const std::string& Temp, const std::string& Source, const std::string& Target, TDecision D);
  // A move keeps the owner and group of what it moves (as far as this user
  // may give them); a copy is the user's own.
  bool Moving() const { return FOp.Func != FO_COPY; }
  bool MoveTree(const std::string& Source, std::string Target);
  bool RemoveTree(const std::string& P);
  bool DeleteItem(const std::string& P);

  TSHFileOpStruct& FOp;
  bool FReplaceAll = false;
  bool FSkipAll = false;
  bool FCancelled = false;
  bool FDeclined = false;  // a delete the user refused
  bool FPlaced = false;  // the last Place put its file under the target name
  struct stat FAsked {};  // the file the last Replace answer was about
  int FFirstError = 0;
  std::int64_t FDone = 0;
  std::int64_t FTotal = 0;
  static constexpr std::size_t CopyBufferSize = 1 << 20;
  std::unique_ptr<char[]> FBuffer;
};

bool TFileOpRun::Fail(const std::string& Path, int Code, const std::string& What) {
  if (FFirstError == 0) FFirstError = Code;
  FOp.Failures.push_back({Path, Code, What + ": " + std::strerror(Code)});
  return false;
}

// The source's extended attributes on the copy, as a save keeps them; the
// user's own that the target would not take are told, the copy stays.
void TFileOpRun::KeepAttributes(const std::string& Source, int Fd, const std::string& Target) {
  for (const TAttributeFault& F : CopyAttributes(Source, Fd))
    FOp.Warnings.push_back({Target, F.Code, "Cannot keep the attribute " + F.Name + ": " + std::strerror(F.Code)});
}

bool TFileOpRun::Progress(std::int64_t Bytes, const std::string& Current) {
  FDone += Bytes;
  if (FOp.OnProgress && !FOp.OnProgress(FDone, FTotal, Current)) FCancelled = true;
  return !FCancelled;
}

TFileOpAnswer TFileOpRun::Ask(TFileOpConfirm Kind, const std::string& Source, const std::string& Target) {
  if (Kind != TFileOpConfirm::Replace && (FOp.Flags & FOF_NOCONFIRMATION)) return TFileOpAnswer::Yes;
  if (Kind == TFileOpConfirm::MakeFolder && (FOp.Flags & FOF_NOCONFIRMMKDIR)) return TFileOpAnswer::Yes;
  if (!FOp.OnConfirm) return Kind == TFileOpConfirm::Replace ? TFileOpAnswer::No : TFileOpAnswer::Yes;
  const TFileOpAnswer A = FOp.OnConfirm(Kind, Source, Target);
  if (A == TFileOpAnswer::Cancel) FCancelled = true;
  return A;
}


// What to do about Target before writing there; may change Target to a free
// name.
TDecision TFileOpRun::Resolve(const std::string& Source, std::string& Target) {
  struct stat T, S;
  if (!LStat(Target, T)) return TDecision::Proceed;
  const bool HaveSource = LStat(Source, S);
  if (HaveSource && S_ISDIR(S.st_mode) && S_ISDIR(T.st_mode) && Source != Target) return TDecision::Proceed;  // merge
  if (FOp.Flags & FOF_RENAMEONCOLLISION) {
    const std::string Dir = DirOf(Target);
    const std::string Name = NameOf(Target);
    const std::size_t Dot = HaveSource && S_ISDIR(S.st_mode) ? std::string::npos : Name.rfind('.');
    const std::string Stem = Dot == std::string::npos || Dot == 0 ? Name : Name.substr(0, Dot);
    const std::string Ext = Dot == std::string::npos || Dot == 0 ? "" : Name.substr(Dot);
    for (int N = 2; N < 100000; ++N) {
      const std::string Candidate = Join(Dir, Stem + " (" + std::to_string(N) + ")" + Ext);
      if (!Exists(Candidate)) {
        if (FOp.Flags & FOF_WANTMAPPINGHANDLE) FOp.NameMappings.push_back({Target, Candidate});
        Target = Candidate;
        return TDecision::Proceed;
      }
    }
    Fail(Target, EEXIST, "No free name");
    return TDecision::Skip;
  }
  // A link that leads to the target is the target too: put in its place, it
  // would lead to itself, and the file would be gone.
  struct stat Led;
  if (HaveSource && (SameFile(S, T) || (S_ISLNK(S.st_mode) && ::stat(Source.c_str(), &Led) == 0 && SameFile(Led, T)))) {
    Fail(Target, EEXIST, "Source and target are the same");
    return TDecision::Skip;
  }
  if (S_ISDIR(T.st_mode) || (HaveSource && S_ISDIR(S.st_mode))) {
    Fail(Target, S_ISDIR(T.st_mode) ? EISDIR : ENOTDIR, "Cannot replace");
    return TDecision::Skip;
  }
  // The file the answer is about: no other takes its place. It is the file
  // as the answer leaves it (answering may have saved an edit into it).
  FAsked = T;
  if (FReplaceAll) return TDecision::Replace;
  if (FSkipAll) return TDecision::Skip;
  switch (Ask(TFileOpConfirm::Replace, Source, Target)) {
    case TFileOpAnswer::YesToAll:
      FReplaceAll = true;
      [[fallthrough]];
    case TFileOpAnswer::Yes:
      if (!LStat(Target, FAsked)) FAsked = {};
      return TDecision::Replace;
    case TFileOpAnswer::NoToAll:
      FSkipAll = true;
      return TDecision::Skip;
    case TFileOpAnswer::No:
      return TDecision::Skip;
    case TFileOpAnswer::Cancel:
      break;
  }
  return TDecision::Abort;
}

int TFileOpRun::PutInPlace(const std::string& Temp, const std::string& Target, TDecision D) {
  if (D != TDecision::Replace) return RenameNoReplace(Temp, Target);
  const int E = ReplaceFile(Temp, Target, FAsked);
  // Gone meanwhile: nothing to replace.
  return E == ENOENT ? RenameNoReplace(Temp, Target) : E;
}

// Moves the finished Temp to Target: over it only when the user said so,
// else only when the name is still free.
bool TFileOpRun::Place(const std::string& Temp, const std::string& Source, const std::string& Target, TDecision D) {
  FPlaced = false;
  int E = PutInPlace(Temp, Target, D);
  if (E == EEXIST) {
    // Target appeared, or another file took the place of the one asked
    // about, while copying: ask now.
    std::string Again = Target;
    const TDecision D2 = Resolve(Source, Again);
    if (D2 == TDecision::Replace || D2 == TDecision::Proceed)
      E = PutInPlace(Temp, Again, D2);
    else {
      ::unlink(Temp.c_str());
      return D2 == TDecision::Skip;
    }
  }
  if (E != 0) {
    ::unlink(Temp.c_str());
    return Fail(Target, E, "Cannot create");
  }
  FPlaced = true;
  return true;
}

bool TFileOpRun::CopyFile(const std::string& Source, const struct stat& St, const std::string& Target, TDecision D) {
  const int In = ::open(Source.c_str(), O_RDONLY | O_CLOEXEC);
  if (In < 0) return Fail(Source, errno, "Cannot read");
  std::string Temp;
  int Out = -1;
  int E = MakeTempBeside(Target, Temp, [&](const std::string& Name) {
    Out = ::open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return Out < 0 ? errno : 0;
  });
  if (E != 0) {
    ::close(In);
    return Fail(Target, E, "Cannot create");
  }
  // This run's until it is whole: a later run removes it should this one
  // be killed.
  MarkWorkFile(Out);
  // Whatever goes wrong from here, the partial copy goes away.
  auto Abandon = [&](const std::string& Path, int Code, const char* What) {
    ::close(In);
    if (Out >= 0) ::close(Out);
    ::unlink(Temp.c_str());
    return Code == 0 ? false : Fail(Path, Code, What);
  };
  // One buffer for the whole run, not a fresh megabyte cleared per file.
  if (!FBuffer) FBuffer = std::make_unique_for_overwrite<char[]>(CopyBufferSize);
  char* const Buffer = FBuffer.get();
  for (;;) {
    const ssize_t N = ::read(In, Buffer, CopyBufferSize);
    if (N < 0) {
      if (errno == EINTR) continue;
      return Abandon(Source, errno, "Cannot read");
    }
    if (N == 0) break;
    for (ssize_t Written = 0; Written < N;) {
      const ssize_t W = ::write(Out, Buffer + Written, static_cast<std::size_t>(N - Written));
      if (W < 0) {
        if (errno == EINTR) continue;
        return Abandon(Target, errno, "Cannot write");
      }
      Written += W;
    }
    if (!Progress(N, Source)) return Abandon(Target, 0, "");
  }
  // Before the mode: a file without write permission takes no attribute of
  // the user's, nor loses one.
  KeepAttributes(Source, Out, Target);
  UnmarkWorkFile(Out);
  if (Moving()) KeepOwner(Out, St.st_uid, St.st_gid);
  if (!(FOp.Flags & FOF_NOCOPYSECURITYATTRIBS)) ::fchmod(Out, St.st_mode & 07777);
  const struct timespec Times[2] = {St.st_atim, St.st_mtim};
  ::futimens(Out, Times);
  ::close(In);
  const int Closed = ::close(Out);
  Out = -1;
  if (Closed != 0) {
    E = errno;
    ::unlink(Temp.c_str());
    return Fail(Target, E, "Cannot write");
  }
  return Place(Temp, Source, Target, D);
}

bool TFileOpRun::CopyLink(const std::string& Source, const struct stat& St, const std::string& Target,
                          TDecision D) {
  std::vector<char> Link(4097);
  const ssize_t N = ::readlink(Source.c_str(), Link.data(), Link.size() - 1);
  if (N < 0) return Fail(Source, errno, "Cannot read");
  Link[static_cast<std::size_t>(N)] = 0;
  std::string Temp;
  const int E = MakeTempBeside(Target, Temp, [&](const std::string& Name) {
    return ::symlink(Link.data(), Name.c_str()) == 0 ? 0 : errno;
  });
  if (E != 0) return Fail(Target, E, "Cannot create");
  if (Moving())
    if (const int Link = ::open(Temp.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); Link >= 0) {
      KeepOwner(Link, St.st_uid, St.st_gid);
      ::close(Link);
    }
  return Place(Temp, Source, Target, D);
}

bool TFileOpRun::CopyTree(const std::string& Source, std::string Target) {
  if (FCancelled) return false;
  struct stat St;
  if (!LStat(Source, St)) return Fail(Source, errno, "Cannot read");
  if (S_ISDIR(St.st_mode) && FolderHolds(Source, Target))
    return Fail(Target, EINVAL, "Cannot copy a folder into itself");
  const TDecision D = Resolve(Source, Target);
  if (D == TDecision::Skip) return true;
  if (D == TDecision::Abort) return false;
  return CopyResolved(Source, St, Target, D);
}

bool TFileOpRun::CopyResolved(const std::string& Source, const struct stat& St, const std::string& Target,
                              TDecision D) {
  FPlaced = false;
  if (S_ISREG(St.st_mode)) return CopyFile(Source, St, Target, D);
  if (S_ISLNK(St.st_mode)) return CopyLink(Source, St, Target, D);
  if (!S_ISDIR(St.st_mode)) return Fail(Source, ENOTSUP, "Cannot copy");
  // A folder of the name there takes the items in and stays as it is: its
  // mode (a shared folder's group and set-group bit) is not the source's.
  const bool Made = !IsDir(Target);
  if (Made && !MakeFolderLike(Source, St, Target)) return false;
  int E = 0;
  bool Ok = true;
  for (const std::string& Name : ListDir(Source, E)) {
    Ok = CopyTree(Join(Source, Name), Join(Target, Name)) && Ok;
    if (FCancelled) return false;
  }
  if (E != 0) Ok = Fail(Source, E, "Cannot read");
  if (Made) KeepFolderMode(St, Target);
  return Ok;
}

void TFileOpRun::KeepFolderMode(const struct stat& St, const std::string& Target) {
  if (!(FOp.Flags & FOF_NOCOPYSECURITYATTRIBS)) ::chmod(Target.c_str(), St.st_mode & 07777);
}

bool TFileOpRun::MakeFolderLike(const std::string& Source, const struct stat& St, const std::string& Target) {
  if (::mkdir(Target.c_str(), 0700) != 0) return Fail(Target, errno, "Cannot create");
  if (const int Fd = ::open(Target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); Fd >= 0) {
    KeepAttributes(Source, Fd, Target);
    // Before the mode, which the folder gets once its items are in.
    if (Moving()) KeepOwner(Fd, St.st_uid, St.st_gid);
    ::close(Fd);
  }
  return true;
}

bool TFileOpRun::RemoveTree(const std::string& P) {
  struct stat St;
  if (!LStat(P, St)) return Fail(P, errno, "Cannot delete");
  if (S_ISDIR(St.st_mode)) {
    int E = 0;
    bool Ok = true;
    for (const std::string& Name : ListDir(P, E)) Ok = RemoveTree(Join(P, Name)) && Ok;
    if (E != 0) return Fail(P, E, "Cannot delete");
    if (!Ok) return false;
    return ::rmdir(P.c_str()) == 0 ? true : Fail(P, errno, "Cannot delete");
  }
  return ::unlink(P.c_str()) == 0 ? true : Fail(P, errno, "Cannot delete");
}

// Into an existing folder: the contents move one by one, each asking for
// itself; the source folder goes when it is empty.
bool TFileOpRun::MoveChildren(const std::string& Source, const struct stat& St, const std::string& Target) {
  int E = 0;
  bool Ok = true;
  for (const std::string& Name : ListDir(Source, E)) {
    Ok = MoveTree(Join(Source, Name), Join(Target, Name)) && Ok;
    if (FCancelled) return false;
  }
  if (E != 0) return Fail(Source, E, "Cannot move");
  if (::rmdir(Source.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST) return Fail(Source, errno, "Cannot delete");
  return Ok;
}

bool TFileOpRun::MoveTree(const std::string& Source, std::string Target) {
  if (FCancelled) return false;
  struct stat St;
  if (!LStat(Source, St)) return Fail(Source, errno, "Cannot move");
  if (S_ISDIR(St.st_mode) && FolderHolds(Source, Target))
    return Fail(Target, EINVAL, "Cannot move a folder into itself");
  const TDecision D = Resolve(Source, Target);
  if (D == TDecision::Skip) return true;
  if (D == TDecision::Abort) return false;
  if (S_ISDIR(St.st_mode) && IsDir(Target)) return MoveChildren(Source, St, Target);
  const int E = PutInPlace(Source, Target, D);
  if (E == 0) return Progress(S_ISREG(St.st_mode) ? St.st_size : 0, Source);
  if (E == EEXIST) return MoveTree(Source, Target);  // appeared or changed meanwhile: decide again
  if (E != EXDEV) return Fail(Source, E, "Cannot move");
  // Another device: a source goes only once its copy is complete.
  if (S_ISDIR(St.st_mode)) {
    if (!MakeFolderLike(Source, St, Target)) return false;
    const bool Moved = MoveChildren(Source, St, Target);
    KeepFolderMode(St, Target);
    // Last: each item moved in changed the folder's times.
    const struct timespec Times[2] = {St.st_atim, St.st_mtim};
    ::utimensat(AT_FDCWD, Target.c_str(), Times, AT_SYMLINK_NOFOLLOW);
    return Moved;
  }
  if (!CopyResolved(Source, St, Target, D)) return false;
  if (!FPlaced) return true;  // the user kept the existing file: the source stays
  return ::unlink(Source.c_str()) == 0 ? true : Fail(Source, errno, "Cannot delete");
}

bool TFileOpRun::DeleteItem(const std::string& P) {
  if (FCancelled) return false;
  if (!Exists(P)) return Fail(P, errno, "Cannot delete");
  const TFileOpAnswer A = Ask(TFileOpConfirm::Delete, P, std::string());
  if (A == TFileOpAnswer::Cancel) return false;
  if (A == TFileOpAnswer::No || A == TFileOpAnswer::NoToAll) {
    // The item stays: the caller must not take it for gone.
    FDeclined = true;
    return true;
  }
  if (A == TFileOpAnswer::YesToAll) FOp.Flags |= FOF_NOCONFIRMATION;
  if (FOp.Flags & FOF_ALLOWUNDO) {
    if (const int E = MoveToTrash(P)) return Fail(P, E, "Cannot move to the trash");
    return Progress(0, P);
  }
  return RemoveTree(P) && Progress(0, P);
}

std::vector<std::string> TFileOpRun::ExpandSources() {
  std::vector<std::string> Result;
  for (const std::string& Raw : FOp.From) {
    if (Raw.empty()) continue;
    const std::string P = TrimSlashes(Raw);
    const std::string Name = NameOf(P);
    if (!IsPattern(P)) {
      Result.push_back(P);
      continue;
    }
    const std::string Dir = DirOf(P);
    const std::string Pattern = Name == "*.*" ? "*" : Name;
    int E = 0;
    std::vector<std::string> Names = ListDir(Dir, E);
    if (E != 0) Fail(Dir, E, "Cannot read");
    std::sort(Names.begin(), Names.end());
    for (const std::string& N : Names) {
      if (::fnmatch(Pattern.c_str(), N.c_str(), 0) != 0) continue;
      const std::string Full = Join(Dir, N);
      if ((FOp.Flags & FOF_FILESONLY) && IsDir(Full)) continue;
      Result.push_back(Full);
    }
  }
  return Result;
}

std::int64_t TFileOpRun::TreeBytes(const std::string& P) {
  struct stat St;
  if (!LStat(P, St)) return 0;
  if (S_ISREG(St.st_mode)) return St.st_size;
  if (!S_ISDIR(St.st_mode)) return 0;
  std::int64_t Sum = 0;
  int E = 0;
  for (const std::string& Name : ListDir(P, E)) Sum += TreeBytes(Join(P, Name));
  return Sum;
}

int TFileOpRun::Run() {
  FOp.AnyOperationsAborted = false;
  FOp.NameMappings.clear();
  FOp.Failures.clear();
  FOp.Warnings.clear();
  const bool Wildcards = std::any_of(FOp.From.begin(), FOp.From.end(), IsPattern);
  const std::vector<std::string> Sources = ExpandSources();
  if (FOp.Func != FO_DELETE)
    for (const std::string& S : Sources) FTotal += TreeBytes(S);

  if (FOp.Func == FO_DELETE) {
    for (const std::string& S : Sources)
      if (!DeleteItem(S) && FCancelled) break;
  } else if (FOp.Func == FO_COPY || FOp.Func == FO_MOVE || FOp.Func == FO_RENAME) {
    const bool PerSource = FOp.Func == FO_RENAME || (FOp.Flags & FOF_MULTIDESTFILES);
    std::string Folder;  // destination folder when one destination serves all
    bool Single = false;
    if (!PerSource) {
      const std::string Dest = FOp.To.empty() ? std::string() : TrimSlashes(FOp.To.front());
      if (Dest.empty()) {
        Fail(std::string(), EINVAL, "No destination");
      } else if (IsDir(Dest)) {
        Folder = Dest;
      } else if (Sources.size() == 1 && FOp.From.size() == 1 && !Wildcards) {
        Single = true;
        Folder = Dest;
      } else {
        const TFileOpAnswer A = Ask(TFileOpConfirm::MakeFolder, Dest, std::string());
        if (A == TFileOpAnswer::Yes || A == TFileOpAnswer::YesToAll) {
          if (::mkdir(Dest.c_str(), 0777) != 0) Fail(Dest, errno, "Cannot create");
          else Folder = Dest;
        }
      }
    }
    for (std::size_t I = 0; I < Sources.size() && !FCancelled; ++I) {
      const std::string& S = Sources[I];
      std::string Target;
      if (PerSource) {
        if (I >= FOp.To.size() || FOp.To[I].empty()) {
          Fail(S, EINVAL, "No destination");
          continue;
        }
        Target = TrimSlashes(FOp.To[I]);
        if (FOp.Func == FO_RENAME && Target.find('/') == std::string::npos)
          Target = Join(DirOf(S), Target);
        else if (FOp.Func != FO_RENAME && IsDir(Target) && !IsDir(S))
          Target = Join(Target, NameOf(S));
      } else if (Folder.empty()) {
        break;
      } else {
        Target = Single ? Folder : Join(Folder, NameOf(S));
      }
      if (FOp.Func == FO_COPY)
        CopyTree(S, Target);
      else
        MoveTree(S, Target);
    }
  } else {
    Fail(std::string(), EINVAL, "Unknown file operation");
  }
  if (FCancelled) {
    FOp.AnyOperationsAborted = true;
    return ECANCELED;
  }
  FOp.AnyOperationsAborted = FDeclined;
  return FFirstError;
}

}  // namespace

int SHFileOperation(TSHFileOpStruct& Op) { return TFileOpRun(Op).Run(); }

std::vector<std::string> FileOpUnaskedChanges(const std::vector<std::string>& Sources, const std::string& Folder,
                                              bool Move) {
  std::vector<std::string> Taken, Placed;
  for (const std::string& Source : Sources) {
    const std::string There = Join(TrimSlashes(Folder), NameOf(TrimSlashes(Source)));
    // A name in use is asked about; the source's own place is no change.
    if (Exists(There)) continue;
    if (Move) Taken.push_back(Source);
    Placed.push_back(There);
  }
  Taken.insert(Taken.end(), Placed.begin(), Placed.end());
  return Taken;
}

std::vector<std::string> FileOpReplaceChanges(const std::vector<std::string>& Sources, const std::string& Folder,
                                              bool Move, const std::string& Source, const std::string& Target,
                                              bool All) {
  std::vector<std::string> Changes{Target};
  if (Move) Changes.push_back(Source);
  if (!All) return Changes;
  // The sources after the one the question came for, from the one that
  // holds it (a folder whose items go on unasked); unknown, every source.
  auto From = std::find_if(Sources.begin(), Sources.end(), [&](const std::string& S) {
    const std::string Own = TrimSlashes(S);
    return Source == Own || (Source.size() > Own.size() && Source.compare(0, Own.size(), Own) == 0 &&
                             Source[Own.size()] == '/');
  });
  if (From == Sources.end()) From = Sources.begin();
  else if (TrimSlashes(*From) == Source) ++From;
  for (auto It = From; It != Sources.end(); ++It) {
    Changes.push_back(Join(TrimSlashes(Folder), NameOf(TrimSlashes(*It))));
    if (Move) Changes.push_back(*It);
  }
  return Changes;
}

}  // namespace platform
