#include "controls/support/wnutils/wnutils.h"

#include "platform/cursors.h"
#include "platform/stream.h"

#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace wn {

namespace {

std::string Folder(const QString& Path) {
  return Path.isEmpty() ? std::string() : AddTrailingBackslash(QDir::cleanPath(Path).toStdString());
}

std::string Writable(QStandardPaths::StandardLocation L) { return Folder(QStandardPaths::writableLocation(L)); }

// The templates folder of the XDG user folders, which Qt does not name.
std::string TemplatesFolder() {
  const QString Config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  QFile F(Config + "/user-dirs.dirs");
  if (!F.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  while (!F.atEnd()) {
    QString Line = QString::fromUtf8(F.readLine()).trimmed();
    if (!Line.startsWith("XDG_TEMPLATES_DIR=")) continue;
    Line = Line.mid(18);
    if (Line.startsWith('"') && Line.endsWith('"') && Line.size() >= 2) Line = Line.mid(1, Line.size() - 2);
    Line.replace("$HOME", QDir::homePath());
    if (QDir::cleanPath(Line) == QDir::homePath()) return {};  // "disabled" in user-dirs terms
    return Folder(Line);
  }
  return {};
}

constexpr std::int64_t FileTimePerSecond = 10000000;
constexpr std::int64_t UnixEpochAsFileTime = 11644473600LL * FileTimePerSecond;

std::int64_t ToFileTime(std::int64_t Seconds, std::int64_t Nanoseconds) {
  return Seconds * FileTimePerSecond + Nanoseconds / 100 + UnixEpochAsFileTime;
}

}  // namespace

// ------------------------------------------------------------ TWnDirectories

std::string TWnDirectories::CurrentDirectory() const {
  std::error_code E;
  const std::filesystem::path P = std::filesystem::current_path(E);
  return E ? std::string() : AddTrailingBackslash(P.string());
}

// The program's own data folder stands in for the system folder where it
// keeps files such as the wallpaper bitmap.
std::string TWnDirectories::WindowsDirectory() const {
  const QString P = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (P.isEmpty() || !QDir().mkpath(P)) return {};
  return Folder(P);
}

std::string TWnDirectories::SystemDirectory() const { return "/usr/lib/"; }

std::string TWnDirectories::TempPath() const { return Folder(QDir::tempPath()); }

std::string TWnDirectories::ShellFolder(int Index) {
  switch (Index) {
    case 0: return Writable(QStandardPaths::GenericDataLocation);
    case 1: return Writable(QStandardPaths::GenericCacheLocation);
    case 3: return Writable(QStandardPaths::DesktopLocation);
    case 5: return Writable(QStandardPaths::FontsLocation);
    case 8: return Writable(QStandardPaths::DocumentsLocation);
    case 9:
    case 12: return Writable(QStandardPaths::ApplicationsLocation);
    case 13: {
      const std::string Config = Writable(QStandardPaths::GenericConfigLocation);
      return Config.empty() ? Config : Config + "autostart/";
    }
    case 14: return TemplatesFolder();
    default: return {};  // cookies, favourites, history, network places, recent, send-to: no such folders here
  }
}

std::string TWnDirectories::ProgramFiles() const { return "/opt/"; }

std::string TWnDirectories::CommonFolder(int Index) {
  switch (Index) {
    case 1: {
      const QStringList Dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
      return Dirs.size() > 1 ? Folder(Dirs.last()) : std::string();
    }
    case 4:
    case 5: return "/usr/share/applications/";
    case 6: return "/etc/xdg/autostart/";
    default: return {};
  }
}

// ------------------------------------------------------------------ strings

int CountCharsInSet(std::string_view S, std::string_view Set) {
  bool In[256] = {};
  for (char C : Set) In[static_cast<unsigned char>(C)] = true;
  int Count = 0;
  for (char C : S) Count += In[static_cast<unsigned char>(C)] ? 1 : 0;
  return Count;
}

std::string BooleanToText(bool B) { return B ? "True" : "False"; }

std::string RightChars(const std::string& S, int N) {
  const auto Length = static_cast<std::int64_t>(S.size());
  if (N < 0 || N > Length) return S;
  const std::int64_t Start = std::max<std::int64_t>(Length - N, 1);  // 1-based
  return S.substr(static_cast<std::size_t>(Start - 1), static_cast<std::size_t>(N));
}

std::int64_t StrToIntTrimmed(const std::string& S) {
  std::size_t First = 0;
  std::size_t Last = S.size();
  while (First < Last && static_cast<unsigned char>(S[First]) <= ' ') ++First;
  while (Last > First && static_cast<unsigned char>(S[Last - 1]) <= ' ') --Last;
  if (First < Last && S[First] == '+') ++First;
  if (First == Last) return 0;
  std::int64_t Value = 0;
  const auto [End, Error] = std::from_chars(S.data() + First, S.data() + Last, Value);
  // The full 64-bit value: sizes of large files pass through here.
  return Error == std::errc() && End == S.data() + Last ? Value : 0;
}

std::string FetchToken(std::string& S, const std::string& Delimiter, bool Delete) {
  // UTF-8 has no lead bytes that could hide a delimiter: a byte search is exact.
  const std::size_t Pos = Delimiter.empty() ? std::string::npos : S.find(Delimiter);
  if (Pos == std::string::npos) {
    std::string All = S;
    if (Delete) S.clear();
    return All;
  }
  std::string Token = S.substr(0, Pos);
  if (Delete) S.erase(0, Pos + Delimiter.size());
  return Token;
}

bool IsDigitChar(char C) { return C >= '0' && C <= '9'; }

std::string AddTrailingBackslash(const std::string& S) {
  // The path delimiter of this system is "/".
  if (!S.empty() && S.back() == '/') return S;
  return S + "/";
}

// ------------------------------------------------------------ time and files

std::int64_t TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int N) {
  if (N > 0) std::this_thread::sleep_for(std::chrono::milliseconds(N));
}

double FileTimeToDateTimeValue(std::int64_t FileTime) {
  return static_cast<double>(FileTime) / 864000000000.0 - 109205.0;
}

bool GetFindData(const std::string& Path, TWnFindData& Data) {
  struct statx Sx;
  if (::statx(AT_FDCWD, Path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &Sx) != 0) return false;
  const std::size_t Slash = Path.find_last_of('/');
  Data.Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
  Data.Size = static_cast<std::int64_t>(Sx.stx_size);
  Data.Directory = S_ISDIR(Sx.stx_mode);
  const statx_timestamp& Born = (Sx.stx_mask & STATX_BTIME) ? Sx.stx_btime : Sx.stx_ctime;
  Data.CreationTime = ToFileTime(Born.tv_sec, Born.tv_nsec);
  Data.LastWriteTime = ToFileTime(Sx.stx_mtime.tv_sec, Sx.stx_mtime.tv_nsec);
  return true;
}

double FindDataCreationTime(const TWnFindData& Data) {
  // Shown in local time, and for any date, 1980 and before included.
  const std::int64_t UnixSeconds = (Data.CreationTime - UnixEpochAsFileTime) / FileTimePerSecond;
  const int Offset = QDateTime::fromSecsSinceEpoch(UnixSeconds, Qt::UTC).toLocalTime().offsetFromUtc();
  return FileTimeToDateTimeValue(Data.CreationTime + Offset * FileTimePerSecond);
}

std::int64_t GetFileSizeByName(const std::string& FileName) {
  platform::TFileStream Stream(FileName, platform::fmOpenRead);
  // All 64 bits: a file of 4 GB or more keeps its size.
  return Stream.Size();
}

// ------------------------------------------------------------------- errors

// ------------------------------------------------------------------ cursors

void WnRegisterCursors() {
  if (platform::IsCursorRegistered(crWnHand)) return;
  // The desktop's own hand shapes stand in for the two cursor resources.
  platform::RegisterCursor(crWnHand, QCursor(Qt::OpenHandCursor));
  platform::RegisterCursor(crWnDrag, QCursor(Qt::ClosedHandCursor));
}

void RaiseLastWin32ErrorText(const std::string& Text) {
  const int Code = errno;
  if (Code == 0) return;
  std::string Message = "Win32 Error.  Code: " + std::to_string(Code) + ".\n" + std::strerror(Code);
  if (!Text.empty()) Message = Text + ":" + Message;
  throw EOSError(Code, Message);
}

bool CheckWin32Result(bool B) {
  if (!B) {
    const int Code = errno;
    throw EOSError(Code, "System Error.  Code: " + std::to_string(Code) + ".\n" + std::strerror(Code));
  }
  return B;
}

}  // namespace wn
