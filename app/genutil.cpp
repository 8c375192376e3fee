#include "app/genutil.h"

#include "app/pictureutil.h"
#include "controls/support/wnutils/wnutils.h"
#include "platform/safesave.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

constexpr char PathDelim = '/';

std::string ProgramLongPath;
std::string WorkFolderPath;
std::vector<std::string> WorkFiles;
int PixelsPerInchOverride = 0;

// The number form of the byte-size text: thousands separators and two
// decimals in the user's locale.
std::string FormatNumber(long double Value) {
  QLocale Locale;
  Locale.setNumberOptions(Locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return Locale.toString(static_cast<double>(Value), 'f', 2).toStdString();
}

// True when Path is a folder we can put files into, creating it when missing
// (for this user only: what goes into it is the user's own pictures).
bool UsableFolder(const std::string& Path) {
  std::error_code Error;
  if (!std::filesystem::is_directory(Path, Error) && ::mkdir(Path.c_str(), 0700) != 0) return false;
  return ::access(Path.c_str(), W_OK | X_OK) == 0;
}

// The folders that hold the runs' own folders, where FindWorkFolder looks.
std::vector<std::string> SharedWorkFolders() {
  std::vector<std::string> Folders;
  const QString Data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (!Data.isEmpty()) Folders.push_back(JoinPath(Data.toStdString(), "pictrovatemp"));
  for (const std::string& Root : WorkFolderTempRoots()) Folders.push_back(JoinPath(Root, "pictrova"));
  return Folders;
}

// The process a run's folder "run-<process>-XXXXXX" belongs to; 0 for any
// other name.
long RunFolderProcess(const std::string& Name) {
  if (Name.rfind("run-", 0) != 0) return 0;
  const std::size_t Dash = Name.find('-', 4);
  if (Dash == std::string::npos || Dash == 4 || Name.size() != Dash + 7 ||
      !std::all_of(Name.begin() + 4, Name.begin() + static_cast<std::ptrdiff_t>(Dash),
                   [](char C) { return C >= '0' && C <= '9'; }))
    return 0;
  const long Pid = std::strtol(Name.c_str() + 4, nullptr, 10);
  return Pid > 0 && Pid <= INT_MAX ? Pid : 0;
}

// What a run puts into its folder: the pictures, and the hidden files a
// save writes them to first (".<picture>.pictrova-<process>-XXXXXX", by
// earlier runs ".<picture>.XXXXXX").
bool RunFile(const std::string& Name) {
  if (IsImageFileExtension(Name) || platform::WorkFileProcess(Name) != 0) return true;
  return Name.size() > 8 && Name[0] == '.' && Name[Name.size() - 7] == '.' &&
         IsImageFileExtension(Name.substr(1, Name.size() - 8));
}

bool OwnEntry(const std::string& Path, struct stat& Info) {
  return ::lstat(Path.c_str(), &Info) == 0 && Info.st_uid == ::getuid();
}

// The paths of Folder's entries; none when it cannot be read.
std::vector<std::string> Entries(const std::string& Folder) {
  std::vector<std::string> Paths;
  std::error_code Error;
  for (std::filesystem::directory_iterator At(Folder, Error), End; !Error && At != End; At.increment(Error))
    Paths.push_back(At->path().string());
  return Paths;
}

// The class-name test keeps this unit free of the control library's headers;
// the shape button declares itself to the meta-object system.
bool IsShapeButton(const QWidget* Control) {
  return Control->inherits("kel::TKelShapeButton") || Control->inherits("TKelShapeButton");
}

template <class Apply>
void WalkControls(QWidget* Control, const std::vector<QWidget*>& Except, const Apply& Set) {
  if (!Control) return;
  if (!IsControlInList(Control, Except)) Set(Control);
  const QObjectList Children = Control->children();
  for (QObject* Child : Children)
    if (Child->isWidgetType()) WalkControls(static_cast<QWidget*>(Child), Except, Set);
}

} // namespace

bool IsPlainFileName(const std::string& Name) {
  return !Name.empty() && Name != "." && Name != ".." && Name.find('/') == std::string::npos &&
         Name.find('\0') == std::string::npos;
}

QString FileNameText(const std::string& Path) {
  return QString::fromUtf8(Path.data(), static_cast<qsizetype>(Path.size()));
}

std::string FileNameOfText(const QString& Text, const std::string& Shown) {
  return Text == FileNameText(Shown) ? Shown : Text.toStdString();
}

std::string NameOfPath(const std::string& Path) { return Path.substr(Path.rfind(PathDelim) + 1); }

std::string FolderOfPath(const std::string& Path) {
  const std::size_t Slash = Path.rfind(PathDelim);
  if (Slash == std::string::npos) return std::string();
  return Path.substr(0, Slash == 0 ? 1 : Slash);
}

std::string JoinPath(const std::string& Folder, const std::string& Name) {
  if (!Folder.empty() && Folder.back() == PathDelim) return Folder + Name;
  return Folder + PathDelim + Name;
}

std::string FormatByteSize(std::uint64_t Size) {
  const long double Value = Size;
  if (Size < 1024u) return std::to_string(Size) + " bytes";
  if (Size < 1048576u) return FormatNumber(Value / 1024) + " KB";
  if (Size < 1073741824u) return FormatNumber(Value / 1024 / 1024) + " MB";
  return FormatNumber(Value / 1024 / 1024 / 1024) + " GB";
}

int GifDelayToInterval(std::uint32_t Delay) {
  // In 64 bits: a huge delay must clamp to the maximum, not wrap to a tiny one.
  const std::uint64_t Interval = std::uint64_t(Delay) * 10;
  return static_cast<int>(std::clamp<std::uint64_t>(Interval, 50, 10000));
}

int MainFormPixelsPerInch() {
  if (PixelsPerInchOverride > 0) return PixelsPerInchOverride;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    if (const QScreen* Screen = QGuiApplication::primaryScreen())
      return static_cast<int>(std::lround(Screen->logicalDotsPerInch()));
  return 96;
}

void SetMainFormPixelsPerInch(int Value) { PixelsPerInchOverride = Value; }

int ScaleByScreenDpi(int Value) {
  return static_cast<int>(std::nearbyint(MainFormPixelsPerInch() / 96.0 * Value));
}

int ScaleButtonWidth(int Width) {
  const int Grown = (MainFormPixelsPerInch() - 96) / 4 + 96;
  return static_cast<int>(std::nearbyint(Grown / 96.0 * Width));
}

void AdjustControlsForDpi(QWidget* Control) {
  if (!Control || MainFormPixelsPerInch() == 96) return;
  if (IsShapeButton(Control)) Control->resize(ScaleButtonWidth(Control->width()), Control->height());
  const QObjectList Children = Control->children();
  for (QObject* Child : Children)
    if (Child->isWidgetType()) AdjustControlsForDpi(static_cast<QWidget*>(Child));
}

TWaitCursor::TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }

TWaitCursor::~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }

bool IsControlInList(const QWidget* Control, const std::vector<QWidget*>& List) {
  if (!Control) return false;
  return std::find(List.begin(), List.end(), Control) != List.end();
}

void SetCursorRecursive(QWidget* Control, const QCursor& Cursor, const std::vector<QWidget*>& Except) {
  WalkControls(Control, Except, [&](QWidget* W) { W->setCursor(Cursor); });
}

void SetEnabledRecursive(QWidget* Control, bool Enabled, const std::vector<QWidget*>& Except) {
  WalkControls(Control, Except, [&](QWidget* W) { W->setEnabled(Enabled); });
}

double GetFileCreationDate(const std::string& FileName) {
  wn::TWnFindData Data;
  if (!wn::GetFindData(FileName, Data) || Data.Directory) return -1.0;
  return wn::FileTimeToDateTimeValue(Data.CreationTime);
}

std::string LongPathName(const std::string& Path) {
  std::string Result;
  std::size_t Pos = 0;
  const bool Absolute = !Path.empty() && Path.front() == PathDelim;
  if (Absolute) Pos = 1;
  while (Pos <= Path.size()) {
    std::size_t End = Path.find(PathDelim, Pos);
    if (End == std::string::npos) End = Path.size();
    const std::string Component = Path.substr(Pos, End - Pos);
    Pos = End + 1;
    if (Component.empty()) continue;
    const std::string Candidate =
        (Result.empty() && !Absolute) ? Component : Result + PathDelim + Component;
    struct stat Info;
    if (::lstat(Candidate.c_str(), &Info) != 0) return std::string();
    Result = Candidate;
  }
  if (Result.empty() && Absolute) return std::string(1, PathDelim);
  return Result;
}

std::string GetProgramLongPath() {
  if (!ProgramLongPath.empty()) return ProgramLongPath;
  if (!QCoreApplication::instance()) return std::string();
  const std::string LongPath = LongPathName(QCoreApplication::applicationFilePath().toStdString());
  if (!LongPath.empty()) ProgramLongPath = LongPath;
  return LongPath;
}

std::string FindWorkFolder(const std::string& UserFolder, const std::vector<std::string>& TempRoots) {
  std::string Tried;
  if (!UserFolder.empty()) {
    Tried = JoinPath(UserFolder, "pictrovatemp");
    if (UsableFolder(Tried)) return Tried;
  }
  for (const std::string& Root : TempRoots) {
    Tried = Root;
    if (!UsableFolder(Root)) continue;
    Tried = JoinPath(Root, "pictrova");
    if (UsableFolder(Tried)) return Tried;
  }
  throw std::runtime_error("Cannot create " + Tried);
}

std::vector<std::string> WorkFolderTempRoots() {
  std::vector<std::string> Roots;
  if (const char* Runtime = std::getenv("XDG_RUNTIME_DIR"); Runtime && *Runtime) Roots.emplace_back(Runtime);
  std::string Temp = wn::TWnDirectories().TempPath();
  while (Temp.size() > 1 && Temp.back() == PathDelim) Temp.pop_back();
  if (!Temp.empty()) Roots.push_back(Temp);
  return Roots;
}

std::string CreateWorkFolder() {
  if (!WorkFolderPath.empty()) return WorkFolderPath;
  // The user's own data folder, where the wallpaper goes too: an installed
  // program's folder is not writable.
  const std::string UserFolder = wn::TWnDirectories().WindowsDirectory();
  // A shared folder of a fixed name could hold other runs' files; this run
  // works in a fresh folder of its own inside it, named after the process
  // so that a later start can tell it was left by a run that is gone.
  std::string Run = JoinPath(FindWorkFolder(UserFolder, WorkFolderTempRoots()),
                             "run-" + std::to_string(::getpid()) + "-XXXXXX");
  if (::mkdtemp(Run.data()) == nullptr) throw std::runtime_error("Cannot create " + Run);
  WorkFolderPath = Run;
  return WorkFolderPath;
}

void AddWorkFile(const std::string& Path) {
  if (std::find(WorkFiles.begin(), WorkFiles.end(), Path) == WorkFiles.end()) WorkFiles.push_back(Path);
}

void CleanWorkFolder() {
  if (WorkFolderPath.empty()) return;
  for (const std::string& File : WorkFiles) {
    const std::filesystem::path Name(File);
    // Only our own files inside our own folder, never what another program
    // put there or a path that leads elsewhere.
    if (Name.parent_path() != std::filesystem::path(WorkFolderPath)) continue;
    if (!IsImageFileExtension(File)) continue;
    std::error_code Ignored;
    std::filesystem::remove(Name, Ignored);
  }
  WorkFiles.clear();
  ::rmdir(WorkFolderPath.c_str());
  // The shared folder goes too once no other run works in it.
  ::rmdir(std::filesystem::path(WorkFolderPath).parent_path().c_str());
  WorkFolderPath.clear();
}

int RemoveStaleWorkFolders() {
  int Removed = 0;
  for (const std::string& Shared : SharedWorkFolders()) {
    struct stat Info {};
    if (!OwnEntry(Shared, Info) || !S_ISDIR(Info.st_mode)) continue;
    for (const std::string& Run : Entries(Shared)) {
      const long Pid = RunFolderProcess(std::filesystem::path(Run).filename().string());
      if (Pid == 0 || Pid == ::getpid() || !OwnEntry(Run, Info) || !S_ISDIR(Info.st_mode)) continue;
      // A live process (of any owner) keeps its folder.
      if (::kill(static_cast<pid_t>(Pid), 0) == 0 || errno != ESRCH) continue;
      for (const std::string& File : Entries(Run))
        if (RunFile(std::filesystem::path(File).filename().string()) && OwnEntry(File, Info) && S_ISREG(Info.st_mode))
          ::unlink(File.c_str());
      // Anything else left keeps the folder.
      if (::rmdir(Run.c_str()) == 0) ++Removed;
    }
    ::rmdir(Shared.c_str());
  }
  return Removed;
}

void ClearGenUtilCache() {
  ProgramLongPath.clear();
  WorkFolderPath.clear();
  WorkFiles.clear();
}

} // namespace app
