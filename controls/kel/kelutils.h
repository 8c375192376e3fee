// Small routines shared by the control library: rectangle geometry, minimum
// and maximum of arrays, and the program's folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "platform/graphics.h"

namespace kel {

using platform::TRect;

// The largest rectangle of source's proportions that fits into target,
// placed at target's top-left corner.
TRect KelFitRect(const TRect& source, const TRect& target);

void KelRectSize(const TRect& rect, int& width, int& height);

// Replaces rect by the bounding box of rect turned by angle degrees about
// its centre, moved to (0, 0). An angle of 0 leaves rect as it is.
void KelRotatedBounds(TRect& rect, double angle);

// The largest, smallest element; an empty array gives 0.
int KelMaxOf(std::span<const int> values);
int KelMinOf(std::span<const int> values);
double KelMinOfExtended(std::span<const double> values);

inline int KelMaxOf(std::initializer_list<int> values) {
  return KelMaxOf(std::span<const int>(values.begin(), values.size()));
}
inline int KelMinOf(std::initializer_list<int> values) {
  return KelMinOf(std::span<const int>(values.begin(), values.size()));
}
inline double KelMinOfExtended(std::initializer_list<double> values) {
  return KelMinOfExtended(std::span<const double>(values.begin(), values.size()));
}

// The folder of the running program's file, without a trailing slash.
std::string KelAppFolder();
// The folders that stand in for the platform's Windows and system folders.
std::string KelWindowsFolder();
std::string KelSystemFolder();

enum TKelSpecialFolder { sfWindows = 0, sfSystem = 1, sfApplication = 2 };
// kind 0 Windows, 1 system, 2 application folder; other kinds give "".
// The trailing separator is added when withSlash is true, removed otherwise.
std::string KelSpecialFolder(int kind, bool withSlash);

// The block codec of stored items. A block holds at most kelBlockMaxInput
// input bytes. The compressor needs kelBlockOutputMargin bytes of output
// beyond the input length and answers the block's length: 0x40 and the
// compressed items, or 0x80 and the input as it is when it does not shrink.
inline constexpr std::size_t kelBlockMaxInput = 32781;
inline constexpr std::size_t kelBlockOutputMargin = 6;
std::size_t KelCompressBlock(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);
// Expands a block into output (32781 bytes hold any block) and answers the
// expanded length; a damaged block raises EKelBlockError.
std::size_t KelDecompressBlock(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

class EKelBlockError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace kel
