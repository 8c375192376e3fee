#include "app/filetypes.h"

#include "app/genutil.h"
#include "app/pictureutil.h"
#include "app/startup.h"
#include "platform/application.h"
#include "platform/safesave.h"
#include "platform/stream.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <cctype>

namespace app {

namespace {

using platform::TRegistry;

std::string LongPathOverride;
std::string CommandLinePathOverride;

// The extensions whose commands older installations may have written with
// the program's path as it was started.
constexpr const char* FixedExtensions[] = {".jpeg", ".jpg", ".bmp", ".ico", ".png",
                                           ".wmf",  ".emf", ".gif", ".pcx"};

std::string Lower(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return Text;
}

// An empty path would be found in every command, and so claim other
// programs' verbs as ours.
bool ContainsPath(const std::string& Command, const std::string& Path) {
  return !Path.empty() && Command.find(Path) != std::string::npos;
}

std::string ClassKey(const std::string& Class) { return "\\" + Class; }
std::string VerbCommandKey(const std::string& Class, const std::string& Verb) {
  return "\\" + Class + "\\shell\\" + Verb + "\\command";
}

// The extension's file-type class; empty when the key or its value is absent.
std::string ReadExtensionClass(TRegistry& Reg, const std::string& Ext) {
  if (!Reg.OpenKey("\\" + Ext, false)) return std::string();
  return Reg.ReadString("");
}

// The default value of an existing key; empty when the key cannot be opened.
std::string ReadDefault(TRegistry& Reg, const std::string& Key, bool& Opened) {
  Opened = Reg.OpenKey(Key, false);
  return Opened ? Reg.ReadString("") : std::string();
}

std::string ReadDefault(TRegistry& Reg, const std::string& Key) {
  bool Opened = false;
  return ReadDefault(Reg, Key, Opened);
}

// Opens Key, creating it, and writes Value as its default when that is empty.
// False when the key could not be opened.
bool WriteDefaultWhenEmpty(TRegistry& Reg, const std::string& Key, const std::string& Value,
                           std::string* Existing = nullptr) {
  if (!Reg.OpenKey(Key, true)) return false;
  const std::string Current = Reg.ReadString("");
  if (Existing) *Existing = Current;
  if (Current.empty()) Reg.WriteString("", Value);
  return true;
}

std::string ReadArgumentZero() {
  if (QCoreApplication::instance()) {
    const QStringList Args = QCoreApplication::arguments();
    return Args.isEmpty() ? std::string() : Args.front().toStdString();
  }
  // The switches run before the application object exists.
  QFile CmdLine(QStringLiteral("/proc/self/cmdline"));
  if (!CmdLine.open(QIODevice::ReadOnly)) return std::string();
  const QByteArray Data = CmdLine.readAll();
  return std::string(Data.constData(), qstrnlen(Data.constData(), Data.size()));
}

// --- the XDG mirror ---------------------------------------------------------

// Exec arguments are quoted; inside quotes these characters take a
// backslash, and the entry's own escaping then doubles every backslash.
std::string DesktopExecArgument(const std::string& Arg) {
  std::string Quoted = "\"";
  for (char C : Arg) {
    if (C == '"' || C == '`' || C == '$' || C == '\\') Quoted += '\\';
    if (C == '%') Quoted += '%';
    Quoted += C;
  }
  Quoted += '"';
  std::string Escaped;
  for (char C : Quoted) {
    if (C == '\\') Escaped += '\\';
    Escaped += C;
  }
  return Escaped;
}

std::string DesktopExecLine() { return DesktopExecArgument(FileTypeProgramPath()) + " /shell %f"; }

QStringList MimeAppsLists() {
  QStringList Files;
  const QString Config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (!Config.isEmpty()) Files << Config + QStringLiteral("/mimeapps.list");
  const QString Data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (!Data.isEmpty()) Files << Data + QStringLiteral("/applications/mimeapps.list");
  return Files;
}

// A desktop file written whole; one the desktop's files cannot take (a
// file this user may not write) is left as it is, as a failed write is.
void SaveDesktopFile(const QString& FileName, const QByteArray& Text) {
  try {
    platform::SaveFileSafely(FileName.toStdString(), std::string_view(Text.constData(), static_cast<std::size_t>(Text.size())));
  } catch (const platform::EStreamError&) {
  }
}

// Takes our entry out of the association lists of the given MIME types (all
// types when Mimes is empty), leaving every other program's entries alone.
void RemoveMimeAssociations(const QStringList& Mimes) {
  const QString Id = QString::fromLatin1(DesktopEntryId);
  for (const QString& FileName : MimeAppsLists()) {
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
    const QStringList Lines = QString::fromUtf8(File.readAll()).split(QLatin1Char('\n'));
    File.close();
    QStringList Result;
    bool InAssociations = false;
    bool Changed = false;
    for (const QString& Line : Lines) {
      const QString Trimmed = Line.trimmed();
      if (Trimmed.startsWith(QLatin1Char('['))) {
        InAssociations = Trimmed == QLatin1String("[Default Applications]") ||
                         Trimmed == QLatin1String("[Added Associations]");
        Result << Line;
        continue;
      }
      const qsizetype Eq = Line.indexOf(QLatin1Char('='));
      if (!InAssociations || Eq < 0) {
        Result << Line;
        continue;
      }
      const QString Mime = Line.left(Eq).trimmed();
      if (!Mimes.isEmpty() && !Mimes.contains(Mime)) {
        Result << Line;
        continue;
      }
      QStringList Apps = Line.mid(Eq + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
      if (Apps.removeAll(Id) == 0) {
        Result << Line;
        continue;
      }
      Changed = true;
      if (!Apps.isEmpty()) Result << Mime + QLatin1Char('=') + Apps.join(QLatin1Char(';')) + QLatin1Char(';');
    }
    if (!Changed) continue;
    SaveDesktopFile(FileName, Result.join(QLatin1Char('\n')).toUtf8());
  }
}

// A missing tool is no error: the desktop then simply offers the entry
// among the other programs.
void RunXdgMimeDefault(const QStringList& Mimes) {
  if (Mimes.isEmpty()) return;
  const QString Tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (Tool.isEmpty()) return;
  QProcess Process;
  platform::UnblockTerminationSignalsInChild(Process);
  Process.start(Tool, QStringList{QStringLiteral("default"), QString::fromLatin1(DesktopEntryId)} + Mimes);
  if (Process.waitForStarted()) Process.waitForFinished(30000);
}

// Whether some extension of that MIME type has the program as its default
// handler; the association follows the extensions of its type together.
bool MimeHasDefaultExtension(const std::string& Mime) {
  for (const char* Ext : ImageFileExtensions)
    if (MimeTypeOfExtension(Ext) == Mime && IsDefaultHandler(Ext)) return true;
  return false;
}

void MirrorDefaultHandler(const std::string& Ext) {
  const std::string Mime = MimeTypeOfExtension(Ext);
  if (Mime.empty()) return;
  if (MimeHasDefaultExtension(Mime))
    RunXdgMimeDefault({QString::fromStdString(Mime)});
  else
    RemoveMimeAssociations({QString::fromStdString(Mime)});
}

void WriteDesktopEntry() {
  const QString FileName = QString::fromStdString(DesktopEntryPath());
  QDir().mkpath(QFileInfo(FileName).absolutePath());
  SaveDesktopFile(FileName, QByteArray::fromStdString(DesktopEntryText()));
}

void InstallDesktopEntry() {
  WriteDesktopEntry();
  QStringList Defaults;
  for (const std::string& Mime : FileTypeMimeTypes())
    if (MimeHasDefaultExtension(Mime)) Defaults << QString::fromStdString(Mime);
  RunXdgMimeDefault(Defaults);
}

void UninstallDesktopEntry() {
  QFile::remove(QString::fromStdString(DesktopEntryPath()));
  RemoveMimeAssociations({});
}

} // namespace

// --- paths and texts --------------------------------------------------------

void SetFileTypeProgramPaths(const std::string& LongPath, const std::string& CommandLinePath) {
  LongPathOverride = LongPath;
  CommandLinePathOverride = CommandLinePath;
}

std::string FileTypeProgramPath() {
  if (!LongPathOverride.empty()) return LongPathOverride;
  std::string Path = GetProgramLongPath();
  if (Path.empty()) Path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();
  return Path;
}

// A bare or relative name is made absolute, so that it cannot match some
// other program's command by a part of its name.
std::string FileTypeCommandLinePath() {
  if (!CommandLinePathOverride.empty()) return CommandLinePathOverride;
  const QString Arg = QString::fromStdString(ReadArgumentZero());
  if (Arg.isEmpty()) return std::string();
  if (!Arg.contains(QLatin1Char('/'))) return QStandardPaths::findExecutable(Arg).toStdString();
  return QDir::cleanPath(QDir::current().absoluteFilePath(Arg)).toStdString();
}

std::string FileTypeCommand() {
  // Appended piece by piece: GCC 12 warns falsely on the chained concatenation.
  std::string Command = "\"";
  Command += FileTypeProgramPath();
  Command += "\" /shell \"%1\"";
  return Command;
}

std::string MimeTypeOfExtension(const std::string& Ext) {
  static const QMimeDatabase Database;
  const QMimeType Type =
      Database.mimeTypeForFile(QStringLiteral("x") + QString::fromStdString(Ext), QMimeDatabase::MatchExtension);
  // Some of the picture extensions also name other programs' documents
  // (".vst" is a drawing template to the MIME database): only picture types.
  if (!Type.isValid() || !Type.name().startsWith(QLatin1String("image/"))) return std::string();
  return Type.name().toStdString();
}

std::vector<std::string> FileTypeMimeTypes() {
  std::vector<std::string> Result;
  for (const char* Ext : ImageFileExtensions) {
    const std::string Mime = MimeTypeOfExtension(Ext);
    if (!Mime.empty() && std::find(Result.begin(), Result.end(), Mime) == Result.end()) Result.push_back(Mime);
  }
  return Result;
}

std::string DesktopEntryPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() +
         "/applications/" + DesktopEntryId;
}

std::string DesktopEntryText() {
  const std::string Exec = DesktopExecLine();
  std::string Mimes;
  for (const std::string& Mime : FileTypeMimeTypes()) Mimes += Mime + ";";
  return std::string("[Desktop Entry]\n") + "Type=Application\n" + "Name=" + ApplicationTitle + "\n" +
         "Exec=" + Exec + "\n" + "Terminal=false\n" + "MimeType=" + Mimes + "\n" + "Actions=" + BrowseVerb +
         ";\n" + "\n" + "[Desktop Action " + BrowseVerb + "]\n" + "Name=" + BrowseVerb + "\n" + "Exec=" + Exec +
         "\n";
}

// --- one extension ----------------------------------------------------------

void RegisterFileType(TRegistry& Reg, const std::string& Ext) {
  if (!Reg.OpenKey("\\" + Ext, true)) return;
  std::string Class = Reg.ReadString("");
  if (Class.empty()) {
    Class = "Pictrova" + Ext + "Image";
    Reg.WriteString("", Class);
  }
  const std::string Path = FileTypeProgramPath();
  const std::string Command = FileTypeCommand();
  WriteDefaultWhenEmpty(Reg, ClassKey(Class), GetImageTypeDescription(Ext));
  WriteDefaultWhenEmpty(Reg, ClassKey(Class) + "\\DefaultIcon", Lower(Ext) == ".ico" ? "%1" : Path + ",0");
  std::string Browse;
  if (!WriteDefaultWhenEmpty(Reg, VerbCommandKey(Class, BrowseVerb), Command, &Browse)) return;
  if (!Browse.empty() && !ContainsPath(Browse, Path))
    WriteDefaultWhenEmpty(Reg, VerbCommandKey(Class, OwnBrowseVerb), Command);
}

void FixFileTypeCommand(TRegistry& Reg, const std::string& Ext) {
  const std::string LongPath = FileTypeProgramPath();
  const std::string StartPath = FileTypeCommandLinePath();
  if (LongPath.empty() || StartPath.empty() || LongPath == StartPath) return;
  const std::string Class = ReadExtensionClass(Reg, Ext);
  if (Class.empty()) return;
  bool Opened = false;
  if (ReadDefault(Reg, ClassKey(Class) + "\\DefaultIcon", Opened) == StartPath + ",0" && Opened)
    Reg.WriteString("", LongPath + ",0");
  for (const char* Verb : {BrowseVerb, OwnBrowseVerb}) {
    if (ContainsPath(ReadDefault(Reg, VerbCommandKey(Class, Verb), Opened), StartPath) && Opened)
      Reg.WriteString("", FileTypeCommand());
  }
}

void UnregisterFileType(TRegistry& Reg, const std::string& Ext) {
  const std::string Class = ReadExtensionClass(Reg, Ext);
  if (Class.empty()) return;
  const std::string Path = FileTypeProgramPath();
  bool Opened = false;
  if (ReadDefault(Reg, ClassKey(Class) + "\\DefaultIcon", Opened) == Path + ",0" && Opened)
    Reg.WriteString("", "");
  for (const char* Verb : {BrowseVerb, OwnBrowseVerb}) {
    if (!ContainsPath(ReadDefault(Reg, VerbCommandKey(Class, Verb)), Path)) continue;
    Reg.DeleteKey(ClassKey(Class) + "\\shell\\" + Verb);
    if (ReadDefault(Reg, ClassKey(Class) + "\\shell", Opened) == Verb && Opened) Reg.WriteString("", "");
  }
}

bool IsDefaultHandler(const std::string& Ext) {
  TRegistry Reg(platform::KEY_READ);
  Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
  if (!Reg.OpenKeyReadOnly("\\" + Ext)) return false;
  const std::string Class = Reg.ReadString("");
  if (Class.empty() || !Reg.OpenKeyReadOnly(ClassKey(Class) + "\\shell")) return false;
  const std::string Verb = Reg.ReadString("");
  if (Verb.empty() || !Reg.OpenKeyReadOnly(VerbCommandKey(Class, Verb))) return false;
  return ContainsPath(Reg.ReadString(""), FileTypeProgramPath());
}

bool SetAsDefaultHandler(const std::string& Ext) {
  bool Done = false;
  {
    TRegistry Reg;
    Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    const std::string Class = ReadExtensionClass(Reg, Ext);
    if (Class.empty()) return false;
    const std::string Path = FileTypeProgramPath();
    for (const char* Verb : {BrowseVerb, OwnBrowseVerb}) {
      if (!ContainsPath(ReadDefault(Reg, VerbCommandKey(Class, Verb)), Path)) continue;
      if (Reg.OpenKey(ClassKey(Class) + "\\shell", true)) {
        Reg.WriteString("", Verb);
        Done = true;
      }
      break;
    }
  }
  if (Done) MirrorDefaultHandler(Ext);
  return Done;
}

void ClearDefaultHandler(const std::string& Ext) {
  {
    TRegistry Reg;
    Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    const std::string Class = ReadExtensionClass(Reg, Ext);
    if (Class.empty()) return;
    const std::string Path = FileTypeProgramPath();
    bool Opened = false;
    for (const char* Verb : {BrowseVerb, OwnBrowseVerb}) {
      if (!ContainsPath(ReadDefault(Reg, VerbCommandKey(Class, Verb)), Path)) continue;
      if (ReadDefault(Reg, ClassKey(Class) + "\\shell", Opened) == Verb && Opened) {
        Reg.WriteString("", "");
        break;
      }
    }
  }
  MirrorDefaultHandler(Ext);
}

// --- the whole table --------------------------------------------------------

void InstallFileTypes() {
  {
    TRegistry Reg;
    Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    for (const char* Ext : ImageFileExtensions) RegisterFileType(Reg, Ext);
  }
  InstallDesktopEntry();
}

void FixInstallFileTypes() {
  TRegistry Reg;
  Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
  for (const char* Ext : FixedExtensions) FixFileTypeCommand(Reg, Ext);
}

void UninstallFileTypes() {
  {
    TRegistry Reg;
    Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    for (const char* Ext : ImageFileExtensions) UnregisterFileType(Reg, Ext);
  }
  UninstallDesktopEntry();
}

} // namespace app
