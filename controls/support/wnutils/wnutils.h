// Small system routines of the supporting collection: folders, strings,
// numbers, time, file sizes and the error raisers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace wn {

// Errors of the supporting collection.
class EWNCLException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An operating-system error with its code (errno).
class EOSError : public std::runtime_error {
 public:
  EOSError(int Code, const std::string& Message) : std::runtime_error(Message), ErrorCode(Code) {}
  int ErrorCode;
};

// Base of the collection's non-visual components.
class TWnComponent {
 public:
  virtual ~TWnComponent() = default;
};

// System and user folders, each ending with the path delimiter when known,
// empty when this system has no such place.
class TWnDirectories : public TWnComponent {
 public:
  std::string CurrentDirectory() const;
  std::string WindowsDirectory() const;
  std::string SystemDirectory() const;
  std::string TempPath() const;

  // "Shell Folders" of the user, index 0 to 14.
  static std::string ShellFolder(int Index);
  std::string ApplicationData() const { return ShellFolder(0); }
  std::string Cache() const { return ShellFolder(1); }
  std::string Cookies() const { return ShellFolder(2); }
  std::string Desktop() const { return ShellFolder(3); }
  std::string Favorites() const { return ShellFolder(4); }
  std::string Fonts() const { return ShellFolder(5); }
  std::string History() const { return ShellFolder(6); }
  std::string NetHood() const { return ShellFolder(7); }
  std::string Personal() const { return ShellFolder(8); }
  std::string Programs() const { return ShellFolder(9); }
  std::string Recent() const { return ShellFolder(10); }
  std::string SendTo() const { return ShellFolder(11); }
  std::string StartMenu() const { return ShellFolder(12); }
  std::string Startup() const { return ShellFolder(13); }
  std::string Templates() const { return ShellFolder(14); }

  std::string ProgramFiles() const;

  // Folders shared by all users, index 0 to 9 ("Common Administrative
  // Tools" ... "Personal", "Common Favorites").
  static std::string CommonFolder(int Index);
  std::string CommonAdminTools() const { return CommonFolder(0); }
  std::string CommonAppData() const { return CommonFolder(1); }
  std::string CommonDesktop() const { return CommonFolder(2); }
  std::string CommonDocuments() const { return CommonFolder(3); }
  std::string CommonPrograms() const { return CommonFolder(4); }
  std::string CommonStartMenu() const { return CommonFolder(5); }
  std::string CommonStartup() const { return CommonFolder(6); }
  std::string CommonTemplates() const { return CommonFolder(7); }
  std::string CommonPersonal() const { return CommonFolder(8); }
  std::string AllUsersAppData() const { return CommonFolder(1); }
  std::string AllUsersDesktop() const { return CommonFolder(2); }
  std::string AllUsersDocuments() const { return CommonFolder(3); }
  std::string AllUsersPrograms() const { return CommonFolder(4); }
  std::string AllUsersStartMenu() const { return CommonFolder(5); }
  std::string AllUsersStartup() const { return CommonFolder(6); }
  std::string AllUsersTemplates() const { return CommonFolder(7); }
  std::string AllUsersFavorites() const { return CommonFolder(9); }
};

int CountCharsInSet(std::string_view S, std::string_view Set);
std::string BooleanToText(bool B);
std::string RightChars(const std::string& S, int N);
std::int64_t StrToIntTrimmed(const std::string& S);
std::string FetchToken(std::string& S, const std::string& Delimiter, bool Delete);
bool IsDigitChar(char C);
std::string AddTrailingBackslash(const std::string& S);

inline int IntMax(int A, int B) { return A > B ? A : B; }
inline int IntMin(int A, int B) { return A < B ? A : B; }

// Milliseconds since an arbitrary start; never wraps.
std::int64_t TickCountMs();
void SleepMs(int N);

// File time: 100-nanosecond units since 1601-01-01 (UTC); date-time value:
// days since 1899-12-30.
double FileTimeToDateTimeValue(std::int64_t FileTime);

// What a folder search gives about one entry.
struct TWnFindData {
  std::string Name;
  std::int64_t Size = 0;
  std::int64_t CreationTime = 0;  // file time, UTC
  std::int64_t LastWriteTime = 0;
  bool Directory = false;
};

// Fills Data for the file at Path (creation time: birth time where the file
// system keeps one, else the last status change); false when it is missing.
bool GetFindData(const std::string& Path, TWnFindData& Data);
// The creation time in local time as a date-time value.
double FindDataCreationTime(const TWnFindData& Data);

std::int64_t GetFileSizeByName(const std::string& FileName);

// The collection's two cursors, numbers of the screen's cursor table
// (platform::TCursor): an open hand and a closed hand that drags.
inline constexpr std::int16_t crWnHand = 14000;
inline constexpr std::int16_t crWnDrag = 14001;
// Registers them ("WN_HANDCUR", "WN_DRAGCUR"); needs the application object,
// and a second call changes nothing.
void WnRegisterCursors();

// Raises EOSError for errno when it is not 0.
void RaiseLastWin32ErrorText(const std::string& Text);
bool CheckWin32Result(bool B);

}  // namespace wn
