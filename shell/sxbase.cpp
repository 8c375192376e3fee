#include "shell/sxbase.h"

#include <QtCore/QtGlobal>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace sx {

namespace {

const std::vector<TSyMessage> kMessages = {
    // containers
    {51, "Compare property must be set"},
    {52, "An incompatible class is passed to a method"},
    {53, "Bad size parameter"},
    {54, "Attempt to add duplicate node to TSxTree"},
    {55, "Index is out of range"},
    {56, "Requires enhanced mode operation for Windows 3.1x"},
    {57, "Container class name %s read from stream is unregistered"},
    {58, "Node class name %s read from stream is unregistered"},
    {59, "Container's StoreData property is unassigned"},
    {60, "Container's LoadData property is unassigned"},
    {61, "Class name on stream differs from object's class"},
    {62, "Node class name on stream differs from object's node class"},
    {63, "Unable to assign this compare function now"},
    {64, "Cannot assign a matrix with more than 1 column to an array"},
    {65, "Can only assign a matrix to a virtual matrix if column counts are equal"},
    {66, "Can only assign a matrix to a virtual matrix if element sizes are equal"},
    {67, "Can only set Duplicates to False in an empty sorted collection"},
    // files and version information
    {73, "Error opening file"},
    {100, "File does not contain version info"},
    {101, "Unable to read version info"},
    {134, "The specified key cannnot be found in version info"},
    // shell
    {110, "Operation not supported in this version of the shell"},
    {111, "No source files specified"},
    {112, "No destination files specified"},
    {113, "File mapping incomplete"},
    {114, "Format failed"},
    {115, "Format cancelled"},
    {116, "Drive cannot be formatted"},
    {117, "Invalid drive. Drive is not removable"},
    {118, "Operating system does not support tray icons"},
    {119, "Error adding tray icon"},
    {120, "Error removing tray icon"},
    {121, "Tray icon error"},
    {122, "Drop target must be a TWinControl descendant"},
    {123, "Cannot initialize COM"},
    {124, "Destination directory not specified"},
    {125, "Error creating IShellLink"},
    {126, "File is not a shortcut"},
    {127, "&Close"},
    {128, "&Restore"},
    {130, "Cannot create shortcut. Target file does not exist"},
    {131, "Cannot use file mappings in a delete operation"},
    {132, "Source file error, file not found"},
    {133, "Cannot have more than one SxTrayIcon per application"},
    {135, "ImageList is not assigned"},
    // shell controls
    {230, "Name"},
    {231, "Size"},
    {232, "Type"},
    {233, "Modified"},
    {234, "Attributes"},
    {235, "File Folder"},
    {236, "System Folder"},
    {237, "Original Location"},
    {238, "Date Deleted"},
    {239, "File"},
    {240, "Invalid folder"},
    {241, "Cannot create folder: Parent folder is read-only"},
    {242, "Invalid sort direction"},
    // memory-mapped files
    {260, "CreateFile failed"},
    {261, "CreateFileMapping failed"},
    {262, "MapViewOfFile failed"},
    {263, "Bad origin parameter for call to Seek"},
    {264, "Error reading size of existing file"},
    // buffered and text streams
    {270, "Buffered/text stream: Attempted to read, write, or seek and underlying stream is nil"},
    {271, "Buffered/text stream: Could not seek to the correct position in the underlying stream (for read request)"},
    {272, "Buffered/text stream: Could not seek to the correct position in the underlying stream (for write request)"},
    {273, "Buffered/text stream: Could not write the entire buffer to the underlying stream"},
    {274, "Text stream: Case statement was used with a bad value of LineTerminator"},
    {275, "Text stream: Length of a fixed line must be between 1 and 4096 bytes"},
    {276, "Buffered/text stream: Cannot set the size of the underlying stream (needs OnSetStreamSize event)"},
    // regular expressions
    {290, "Unknown error creating a pattern token"},
    {291, "Problem in expanding character class"},
    {292, "Alternation cannot immediately follow a closure marker"},
    {293, "Unbalanced nesting parentheses"},
    {294, "Closure cannot immediately follow BegOfLine, EndOfLine or another closure"},
    {295, "Error detected near end of pattern"},
    {296, "Unbalanced tag marker"},
    {297, "No Match, Replace, or SelAvoid Patterns defined"},
    {298, "Pattern exceeds MaxPatLen"},
    {299, "Input and/or output stream is not assigned"},
    {300, "Error creating internal input text stream"},
    {301, "Error creating internal output text stream"},
    {302, "A * or + operand could be empty"},
    {303, "Input file not found"},
    {304, "Error creating internal text stream"},
    {305, "Error deleting old previous file"},
    {306, "Error creating output file"},
};

} // namespace

const std::vector<TSyMessage>& SyMessageTable() { return kMessages; }

std::string LookupSyMessage(std::int32_t code) {
  for (const TSyMessage& m : kMessages)
    if (m.Code == code) return m.Text;
  return {};
}

std::string FormatSyMessage(const std::string& text, const std::vector<std::string>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      const char k = text[i + 1];
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (k == 's' || k == 'd') {
        if (next < args.size()) out += args[next++];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

void RaiseSyContainerError(std::int32_t code) { RaiseSyError<ESyContainerError>(code); }

void RaiseSyContainerErrorFmt(std::int32_t code, const std::vector<std::string>& args) {
  throw CreateSyErrorFmt<ESyContainerError>(code, args);
}

void RaiseSyCompareError() { RaiseSyContainerError(scCompareNotSet); }

// ---------------------------------------------------------------- components

double SxShellVersion() {
  static const double version = VersionStrToFloat(qVersion());
  return version;
}

TSyShellComponent::TSyShellComponent() : ShellVersion(SxShellVersion()) {}

void TSyShellComponent::SetLastShellError(std::uint32_t code) {
  if (code == 0) code = static_cast<std::uint32_t>(errno);
  LastError = code;
  if (code != 0) {
    const char* text = std::strerror(static_cast<int>(code));
    LastErrorText = text ? text : "";
  } else {
    LastErrorText.clear();
  }
}

void TSyShellComponent::DoError() {
  if (OnError) OnError(this);
}

// ---------------------------------------------------------------- version info

namespace {

std::string OwnModuleFileName() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

} // namespace

TSyCustomVersionInfo::TSyCustomVersionInfo() { SetFileName({}); }

void TSyCustomVersionInfo::SetFileName(const std::string& name) {
  std::string value = name;
  if (!value.empty()) {
    struct stat st {};
    if (::stat(value.c_str(), &st) != 0) RaiseSyError<ESyVersionInfoError>(scErrorOpeningFile);
  } else {
    value = OwnModuleFileName();
  }
  if (value != FFileName) FLoaded = false;
  FFileName = value;
}

void TSyCustomVersionInfo::LoadVersionInfo(const std::string& key, std::string* value) {
  if (value) value->clear();
  // No executable format of this system carries a version resource.
  RaiseSyError<ESyVersionInfoError>(scNoVersionInfo);
}

std::string TSyCustomVersionInfo::FileVersion() {
  if (!FLoaded) LoadVersionInfo();
  return FFileVersion;
}

double TSyCustomVersionInfo::FileVersionFloat() {
  if (!FLoaded) LoadVersionInfo();
  return FFileVersionFloat;
}

std::string TSyCustomVersionInfo::ProductVersion() {
  if (!FLoaded) LoadVersionInfo();
  return FProductVersion;
}

double TSyCustomVersionInfo::ProductVersionFloat() {
  if (!FLoaded) LoadVersionInfo();
  return FProductVersionFloat;
}

double VersionStrToFloat(const std::string& text) {
  // Works on the text before its second dot, read as a plain number.
  std::string buffer = "0";
  int dots = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '.') continue;
    ++dots;
    const std::size_t position = i + 1;
    if (dots == 2) {
      if (position < 7) buffer = text.substr(0, position - 1);
      break;
    }
  }
  char* end = nullptr;
  const double v = std::strtod(buffer.c_str(), &end);
  if (end == buffer.c_str() || *end != '\0') return 0;
  return v;
}

// ---------------------------------------------------------------- strings

std::string PadChS(const std::string& s, char c, int length) {
  const int len = static_cast<int>(s.size());
  if (length <= len || len >= 255) return s;
  const int target = std::min(length, 255);
  return std::string(static_cast<std::size_t>(target - len), c) + s;
}

std::string PadS(const std::string& s, int length) { return PadChS(s, ' ', length); }

bool StrChPosS(const std::string& s, char c, int& pos) {
  const std::size_t p = s.find(c);
  if (p == std::string::npos) {
    pos = 0;
    return false;
  }
  pos = static_cast<int>(p) + 1;
  return true;
}

std::string Long2Str(std::int32_t value) { return std::to_string(value); }

std::string TrimSpaces(const std::string& s) {
  std::size_t end = s.size();
  while (end > 0 && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
  std::size_t begin = 0;
  while (begin < end && static_cast<unsigned char>(s[begin]) <= 32) ++begin;
  return s.substr(begin, end - begin);
}

std::string CommaizeCh(std::int64_t value, char separator) {
  // Unsigned magnitude, so the most negative value has one too.
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  if (value < 0) out.insert(out.begin(), '-');
  return out;
}

std::string Commaize(std::int64_t value) { return CommaizeCh(value, ','); }

} // namespace sx
