// System information for the control library: display colour depth, the
// operating system's version fields, the user name and version flags
// computed once at start-up.
#pragma once

#include <cstdint>
#include <string>

namespace kel {

// Bits per pixel of the primary screen (0 without a screen).
std::uint8_t KelDisplayColorDepth();

// 0 major, 1 minor, 2 platform id, 3 build number, 4 service-pack major,
// 5 service-pack minor, 6 suite mask, 7 product type; other indices give 0.
// The kernel release stands in for the version; the platform is the NT
// family (2).
std::uint32_t KelVersionField(int index);
std::uint32_t KelMajorVersion();
std::uint32_t KelMinorVersion();

// The login name of the effective user; "Unknown" when it cannot be read.
std::string KelUserName();

inline constexpr int kelPlatformWin9x = 1;
inline constexpr int kelPlatformNT = 2;

struct TKelVersionFlags {
  bool Win98 = false;
  bool WinMe = false;
  bool WinNT = false;
  bool Win2000 = false;
  bool Win2000Server = false;
  bool WinXP = false;
  bool WinXPHome = false;
  bool WinXPProfessional = false;
  bool WinXPServer = false;
  bool Extension = false;
};

// The flags for a platform and version; extension9x is the answer of the
// Windows 9x extension query, asked only on that platform.
TKelVersionFlags KelComputeVersionFlags(int platformId, std::uint32_t major, std::uint32_t minor,
                                        std::uint32_t field6, bool extension9x);

// The flags of the running system, computed once. No Windows release runs
// here, so only the NT-family flags hold.
const TKelVersionFlags& KelVersionFlags();

} // namespace kel
