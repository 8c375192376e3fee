#include "platform/trash.h"

#include "platform/safesave.h"
#include "platform/shfileop.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string ParentOf(const std::string& Path) {
  const std::size_t Slash = Path.rfind('/');
  return Slash == 0 || Slash == std::string::npos ? "/" : Path.substr(0, Slash);
}

// A folder of the trash, made when absent; answers 0 or the error. One in
// a top folder others may write to must be this user's own and no link,
// which could lead the files anywhere.
int TrashFolder(const std::string& Path, bool Shared) {
  if (::mkdir(Path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat St {};
  if ((Shared ? ::lstat(Path.c_str(), &St) : ::stat(Path.c_str(), &St)) != 0) return errno;
  if (!S_ISDIR(St.st_mode)) return ENOTDIR;
  return Shared && St.st_uid != ::getuid() ? EACCES : 0;
}

int TrashFolders(const std::string& Trash, bool Shared) {
  for (const char* Sub : {"", "/files", "/info"})
    if (const int E = TrashFolder(Trash + Sub, Shared)) return E;
  return 0;
}

struct TTrashPlace {
  std::string Trash;  // holds "files" and "info"
  std::string Record; // the path the record keeps
};

// The trash of a device other than the home trash's: below its top folder,
// an administrator's ".Trash" (sticky, no link) with a folder per user, or
// the user's own ".Trash-<uid>". Paths there are kept relative to the top.
bool TopFolderTrash(const std::string& Folder, dev_t Device, const std::string& Name, TTrashPlace& Place) {
  std::string Top = Folder;
  struct stat Up {};
  while (Top != "/" && ::stat(ParentOf(Top).c_str(), &Up) == 0 && Up.st_dev == Device) Top = ParentOf(Top);
  const std::string Uid = std::to_string(::getuid());
  const std::string Base = Top == "/" ? std::string() : Top;
  std::string Trash;
  struct stat Shared {};
  if (::lstat((Base + "/.Trash").c_str(), &Shared) == 0 && S_ISDIR(Shared.st_mode) && (Shared.st_mode & S_ISVTX) &&
      TrashFolders(Base + "/.Trash/" + Uid, true) == 0)
    Trash = Base + "/.Trash/" + Uid;
  else if (TrashFolders(Base + "/.Trash-" + Uid, true) == 0)
    Trash = Base + "/.Trash-" + Uid;
  else
    return false;
  Place.Trash = Trash;
  Place.Record = (Folder.size() > Top.size() ? Folder.substr(Top.size() + (Base.empty() ? 0 : 1)) + "/" : "") + Name;
  return true;
}

std::string LocalDateText() {
  const std::time_t Now = std::time(nullptr);
  std::tm Local {};
  char Text[32] = {};
  if (::localtime_r(&Now, &Local)) std::strftime(Text, sizeof Text, "%Y-%m-%dT%H:%M:%S", &Local);
  return Text;
}

constexpr const char* InfoSuffix = ".trashinfo";

bool WriteAll(int Fd, const std::string& Text) {
  for (std::size_t Done = 0; Done < Text.size();) {
    const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Done += static_cast<std::size_t>(N);
  }
  return true;
}

} // namespace

std::string TrashedName(const std::string& Name, int N, std::size_t Longest) {
  // A number before the extension, so that the trash still shows the
  // file's type.
  const std::size_t Dot = Name.rfind('.');
  std::string Stem = Dot == std::string::npos || Dot == 0 ? Name : Name.substr(0, Dot);
  std::string Extension = Dot == std::string::npos || Dot == 0 ? std::string() : Name.substr(Dot);
  const std::string Number = N == 1 ? std::string() : "." + std::to_string(N);
  const std::size_t Room = Longest - std::min(Longest, std::strlen(InfoSuffix));
  if (Stem.size() + Number.size() + Extension.size() <= Room) return Stem + Number + Extension;
  // An extension that leaves no byte of the name is no extension to keep.
  if (Number.size() + Extension.size() >= Room) {
    Stem += Extension;
    Extension.clear();
  }
  return CutFileName(Stem, Room - std::min(Room, Number.size() + Extension.size())) + Number + Extension;
}

std::string TrashInfoText(const std::string& OriginalPath, const std::string& DeletionDate) {
  static const char* Hex = "0123456789ABCDEF";
  std::string Text = "[Trash Info]\nPath=";
  for (const unsigned char C : OriginalPath) {
    if ((C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
        C == '_' || C == '~' || C == '/') {
      Text += static_cast<char>(C);
    } else {
      Text += '%';
      Text += Hex[C >> 4];
      Text += Hex[C & 15];
    }
  }
  return Text + "\nDeletionDate=" + DeletionDate + "\n";
}

int MoveToTrash(const std::string& Path) {
  // The name's bytes as they are: a name need not be UTF-8.
  std::string Source = Path;
  while (Source.size() > 1 && Source.back() == '/') Source.pop_back();
  if (!Source.empty() && Source[0] != '/') {
    char Cwd[PATH_MAX];
    if (!::getcwd(Cwd, sizeof Cwd)) return errno;
    Source = std::string(Cwd) + "/" + Source;
  }
  const std::string Name = Source.substr(Source.rfind('/') + 1);
  if (Name.empty() || Name == "." || Name == "..") return EINVAL;
  struct stat Item {};
  if (::lstat(Source.c_str(), &Item) != 0) return errno;

  // Without the data folder the home trash cannot be set up.
  const QString Data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (Data.isEmpty() || !QDir().mkpath(Data)) return EIO;
  struct stat Home {};
  if (::stat(Data.toStdString().c_str(), &Home) != 0) return errno;
  TTrashPlace Place{Data.toStdString() + "/Trash", Source};
  // On another device the top folder is found from the folder's real path,
  // which the record's relative path starts from too. Without a trash
  // there, the home trash's rename fails below: a trash never copies.
  char Real[PATH_MAX];
  const bool Elsewhere = Home.st_dev != Item.st_dev && ::realpath(ParentOf(Source).c_str(), Real) &&
                         TopFolderTrash(Real, Item.st_dev, Name, Place);
  if (!Elsewhere)
    if (const int E = TrashFolders(Place.Trash, false)) return E;

  const std::string Record = TrashInfoText(Place.Record, LocalDateText());
  // The record's name is the longest: the trashed name and ".trashinfo".
  std::size_t Longest = NAME_MAX;
  for (const char* Sub : {"/files", "/info"})
    if (const long Most = ::pathconf((Place.Trash + Sub).c_str(), _PC_NAME_MAX); Most > 0)
      Longest = std::min(Longest, static_cast<std::size_t>(Most));
  for (int N = 1; N <= 100000; ++N) {
    const std::string Trashed = TrashedName(Name, N, Longest);
    const std::string Info = Place.Trash + "/info/" + Trashed + InfoSuffix;
    // The record's name is taken first, by a creation that fails where the
    // name is taken: two deletes at once never share one.
    const int Fd = ::open(Info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (Fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    const bool Written = WriteAll(Fd, Record) && ::fsync(Fd) == 0;
    const int WriteError = errno;
    ::close(Fd);
    if (!Written) {
      ::unlink(Info.c_str());
      return WriteError ? WriteError : EIO;
    }
    const std::string Target = Place.Trash + "/files/" + Trashed;
    const int E = RenameNoReplace(Source, Target);
    if (E == 0) return 0;
    ::unlink(Info.c_str());
    if (E != EEXIST) return E;
  }
  return EEXIST;
}

} // namespace platform
