#include "controls/kel/kelsysin.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdio>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace kel {

namespace {

struct TKernelVersion {
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
  std::uint32_t Build = 0;
  bool Ok = false;
};

TKernelVersion ReadKernelVersion() {
  TKernelVersion v;
  utsname name{};
  if (uname(&name) != 0) return v;
  unsigned major = 0, minor = 0, build = 0;
  const int fields = std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
  if (fields < 1) return v;
  v.Major = major;
  v.Minor = fields >= 2 ? minor : 0;
  v.Build = fields >= 3 ? build : 0;
  v.Ok = true;
  return v;
}

} // namespace

std::uint8_t KelDisplayColorDepth() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return 0;
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? static_cast<std::uint8_t>(screen->depth()) : 0;
}

std::uint32_t KelVersionField(int index) {
  const TKernelVersion v = ReadKernelVersion();
  if (!v.Ok) return 0;
  switch (index) {
  case 0: return v.Major;
  case 1: return v.Minor;
  case 2: return kelPlatformNT;
  case 3: return v.Build;
  case 4: return 0; // no service packs
  case 5: return 0;
  case 6: return 0; // no suite
  case 7: return 1; // a workstation
  default: return 0;
  }
}

std::uint32_t KelMajorVersion() { return ReadKernelVersion().Major; }

std::uint32_t KelMinorVersion() { return ReadKernelVersion().Minor; }

std::string KelUserName() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_name && result->pw_name[0]) {
    std::string name(result->pw_name);
    // The name buffer holds 63 characters with its terminating zero.
    if (name.size() <= 62) return name;
  }
  return "Unknown";
}

TKelVersionFlags KelComputeVersionFlags(int platformId, std::uint32_t major, std::uint32_t minor,
                                        std::uint32_t field6, bool extension9x) {
  TKelVersionFlags f;
  if (platformId == kelPlatformWin9x) {
    f.Win98 = minor >= 10;
    f.WinMe = major >= 4 && minor >= 90;
    f.Extension = extension9x;
  } else if (platformId == kelPlatformNT) {
    f.WinNT = true;
    const std::uint32_t low = major & 0xFF;
    f.Win2000 = low == 5 && minor == 0;
    f.Win2000Server = f.Win2000 && field6 == 2;
    f.WinXP = low == 5 && minor == 1;
    f.WinXPHome = f.WinXP && field6 == 3;
    f.WinXPProfessional = f.WinXP && field6 != 3;
    f.WinXPServer = minor == 1 && field6 == 2;
    f.Extension = true;
  }
  return f;
}

const TKelVersionFlags& KelVersionFlags() {
  // The kernel release is no Windows version: compare with none.
  static const TKelVersionFlags flags = KelComputeVersionFlags(kelPlatformNT, 0, 0, 0, false);
  return flags;
}

} // namespace kel
