// Support base of the shell components: the component bases, the error family
// with its numeric message table, a version reader and a few short-string
// routines shared by the shell controls.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sx {

// ---------------------------------------------------------------- errors

class ESyException : public std::runtime_error {
public:
  explicit ESyException(const std::string& message, std::int32_t code = 0)
      : std::runtime_error(message), ErrorCode(code) {}
  std::int32_t ErrorCode;
};

class ESyContainerError : public ESyException { using ESyException::ESyException; };
class ESyVersionInfoError : public ESyException { using ESyException::ESyException; };
class ESyShellError : public ESyException { using ESyException::ESyException; };
class ESyFileOpError : public ESyException { using ESyException::ESyException; };
class ESyInvalidFolder : public ESyException { using ESyException::ESyException; };
class ESyBufStreamError : public ESyException { using ESyException::ESyException; };
class ESyRegExError : public ESyException { using ESyException::ESyException; };

struct TSyMessage {
  std::int32_t Code;
  const char* Text;
};

// The whole code-to-text table, in its order.
const std::vector<TSyMessage>& SyMessageTable();

// Text of a message code; empty for a code the table does not hold.
std::string LookupSyMessage(std::int32_t code);

// Fills %s and %d in the table text with the arguments, in order.
std::string FormatSyMessage(const std::string& text, const std::vector<std::string>& args);

template <class E>
E CreateSyError(std::int32_t code) {
  return E(LookupSyMessage(code), code);
}

template <class E>
E CreateSyErrorFmt(std::int32_t code, const std::vector<std::string>& args) {
  return E(FormatSyMessage(LookupSyMessage(code), args), code);
}

template <class E>
[[noreturn]] void RaiseSyError(std::int32_t code) {
  throw CreateSyError<E>(code);
}

[[noreturn]] void RaiseSyContainerError(std::int32_t code);
[[noreturn]] void RaiseSyContainerErrorFmt(std::int32_t code, const std::vector<std::string>& args);
// Raises code 51; the default compare routine of every container.
[[noreturn]] void RaiseSyCompareError();

// Message codes raised by the shell library.
enum : std::int32_t {
  scCompareNotSet = 51,
  scBadClass = 52,
  scContainerClassUnregistered = 57,
  scNodeClassUnregistered = 58,
  scStoreDataUnassigned = 59,
  scLoadDataUnassigned = 60,
  scClassNameDiffers = 61,
  scNodeClassNameDiffers = 62,
  scErrorOpeningFile = 73,
  scNoVersionInfo = 100,
  scCannotReadVersionInfo = 101,
  scVersionKeyNotFound = 134,
  scShellNotSupported = 110,
  scNoSourceFiles = 111,
  scNoDestinationFiles = 112,
  scNoDestinationDirectory = 124,
  scInvalidFolder = 240,
  scParentReadOnly = 241,
};

// Texts of the shell controls used directly rather than through the table.
namespace SyStr {
inline constexpr const char* On = " on ";
inline constexpr const char* NewFolder = "New Folder";
inline constexpr const char* LargeIcons = "Lar&ge Icons";
inline constexpr const char* SmallIcons = "S&mall Icons";
inline constexpr const char* List = "&List";
inline constexpr const char* Details = "&Details";
inline constexpr const char* File = " file";
inline constexpr const char* Files = " files";
inline constexpr const char* Folder = " folder";
inline constexpr const char* Folders = " folders";
inline constexpr const char* Objects = " objects";
} // namespace SyStr

// ---------------------------------------------------------------- components

class TSyComponent {
public:
  virtual ~TSyComponent() = default;
  // The library's version; assignments are accepted and ignored.
  std::string Version() const { return "1.02"; }
  void SetVersion(const std::string&) {}
};

using TSyNotifyEvent = std::function<void(TSyComponent* Sender)>;

// Version of the shell layer that the shell components stand on, as
// major.minor (the version of the Qt libraries underneath).
double SxShellVersion();

class TSyShellComponent : public TSyComponent {
public:
  TSyShellComponent();

  double ShellVersion = 0;
  std::uint32_t LastError = 0;
  std::string LastErrorText;
  TSyNotifyEvent OnError;

  // Stores an operating-system error code (0: the current errno) and its text.
  void SetLastShellError(std::uint32_t code);
  virtual void DoError();
};

// ---------------------------------------------------------------- version info

// Reads the version information of a file. Executables on this system carry
// no version resource, so every existing file answers "no version info".
class TSyCustomVersionInfo {
public:
  TSyCustomVersionInfo();
  virtual ~TSyCustomVersionInfo() = default;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& name);
  // With a key, answers that key's text; without, fills the version fields.
  void LoadVersionInfo(const std::string& key = {}, std::string* value = nullptr);

  std::string FileVersion();
  double FileVersionFloat();
  std::string ProductVersion();
  double ProductVersionFloat();

protected:
  std::uint32_t FFileVersionMS = 0, FFileVersionLS = 0;
  std::string FFileName;
  std::uint32_t FFileOS = 0;
  std::string FFileVersion;
  double FFileVersionFloat = 0;
  std::uint32_t FProductVersionMS = 0, FProductVersionLS = 0;
  std::string FProductVersion;
  double FProductVersionFloat = 0;
  bool FLoaded = false;
};

class TSyVersionInfo : public TSyCustomVersionInfo {};

// "5.00.2900.2180" gives 5.0; fewer than two dots, or the second dot at
// position 7 or later, gives 0.
double VersionStrToFloat(const std::string& text);

// ---------------------------------------------------------------- strings

// Short texts hold at most 255 characters.
std::string PadChS(const std::string& s, char c, int length);
std::string PadS(const std::string& s, int length);
bool StrChPosS(const std::string& s, char c, int& pos);
std::string Long2Str(std::int32_t value);
std::string TrimSpaces(const std::string& s);
std::string CommaizeCh(std::int64_t value, char separator);
std::string Commaize(std::int64_t value);

} // namespace sx
