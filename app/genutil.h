// General routines shared by the application's windows: paths, the
// byte-size text, the animation timer rule, resolution scaling, recursive
// control settings, file dates and the work folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QCursor;
class QString;
class QWidget;

namespace app {

// Folder + name, with one path delimiter between them unless the folder
// already ends with one; nothing else is normalised.
std::string JoinPath(const std::string& Folder, const std::string& Name);
// A name that stays inside its folder: not empty, no "/" or NUL, not "."
// or "..".
bool IsPlainFileName(const std::string& Name);
// File names and paths are kept as their bytes from the listing or the
// command line to every call that acts on them: a name need not be UTF-8
// (old archives, cameras), and no text conversion gives such bytes back.
// The text of one for the screen only, bytes that are no UTF-8 shown as
// U+FFFD.
QString FileNameText(const std::string& Path);
// The name a box's Text stands for: Shown, the name put there (its bytes
// that are no UTF-8 shown marked), while the text reads as it; else the
// text typed.
std::string FileNameOfText(const QString& Text, const std::string& Shown);
// The part of Path after its last delimiter, and the part before it (the
// root for a file at the root).
std::string NameOfPath(const std::string& Path);
std::string FolderOfPath(const std::string& Path);

// "%d bytes", or the size in KB, MB or GB with two decimals and the locale's
// separators. 64-bit: a folder's total or a single video can pass 4 GB.
std::string FormatByteSize(std::uint64_t Size);

// A GIF frame delay (hundredths of a second) as a timer interval in
// milliseconds, kept within 50 to 10000.
int GifDelayToInterval(std::uint32_t Delay);

// The resolution the application's forms scale from 96 to: the main
// window's. The main window sets it at creation; until then it is the
// primary screen's logical resolution (96 without a screen).
int MainFormPixelsPerInch();
void SetMainFormPixelsPerInch(int Value);

int ScaleByScreenDpi(int Value);
// Buttons grow by a quarter of the resolution increase only.
int ScaleButtonWidth(int Width);
// Widens the shape buttons among Control and everything below it; nothing at
// 96 pixels per inch.
void AdjustControlsForDpi(QWidget* Control);

// The hourglass over the whole program while it lives.
class TWaitCursor {
public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// True when Control is one of List; false for a null control.
bool IsControlInList(const QWidget* Control, const std::vector<QWidget*>& List);
// Set the value on Control and every widget below it, except on the widgets
// of Except (whose own children are still visited).
void SetCursorRecursive(QWidget* Control, const QCursor& Cursor, const std::vector<QWidget*>& Except = {});
void SetEnabledRecursive(QWidget* Control, bool Enabled, const std::vector<QWidget*>& Except = {});

// Creation time (UTC, no local-time conversion) of a plain file as a
// date-time value (days since 1899-12-30); -1.0 when there is none.
double GetFileCreationDate(const std::string& FileName);

// Path with every component spelled as it is found on disk; empty when a
// component cannot be found.
std::string LongPathName(const std::string& Path);
// The program file's path in that form; cached once it succeeded.
std::string GetProgramLongPath();

// The work folder for converted mail attachments: a folder of this run's own
// (made fresh, named "run-<process>-XXXXXX", readable by the user only)
// inside "pictrovatemp" in the user's data folder
// (TWnDirectories::WindowsDirectory), else inside "pictrova" in the first
// usable temporary folder.
// Cached; raises std::runtime_error("Cannot create " + last path tried).
std::string CreateWorkFolder();
// Notes a file that the program put into the work folder; only such files
// are deleted by CleanWorkFolder.
void AddWorkFile(const std::string& Path);
// Deletes the noted files that are picture files and removes the work folder
// (and the folder holding it) when that leaves it empty; errors are ignored. Nothing when no work folder
// was made in this run.
void CleanWorkFolder();
// Removes what runs that are gone (killed, or crashed) left in their work
// folders, and the folders themselves once empty; answers how many folders
// went.
int RemoveStaleWorkFolders();
// The search itself: UserFolder first, then each of TempRoots.
std::string FindWorkFolder(const std::string& UserFolder, const std::vector<std::string>& TempRoots);
// The temporary folders tried after the user's data folder: the per-user runtime
// folder when there is one, then the system's temporary folder.
std::vector<std::string> WorkFolderTempRoots();

// Forgets the cached program path and work folder (the unit's finalisation).
void ClearGenUtilCache();

} // namespace app
