#include "platform/colors.h"

namespace platform {

std::uint32_t ColorToRGB(TColor color) {
  if (color >= 0) return static_cast<std::uint32_t>(color) & 0xFFFFFF;
  // The classic scheme's values, indexed by system colour number.
  static const std::uint32_t scheme[] = {
      RGB(200, 200, 200), RGB(58, 110, 165),  RGB(10, 36, 106),   RGB(128, 128, 128),
      RGB(212, 208, 200), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
      RGB(0, 0, 0),       RGB(255, 255, 255), RGB(212, 208, 200), RGB(212, 208, 200),
      RGB(128, 128, 128), RGB(10, 36, 106),   RGB(255, 255, 255), RGB(212, 208, 200),
      RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(212, 208, 200),
      RGB(255, 255, 255), RGB(64, 64, 64),    RGB(212, 208, 200), RGB(0, 0, 0),
      RGB(255, 255, 225)};
  unsigned index = static_cast<std::uint32_t>(color) & 0xFF;
  return index < sizeof scheme / sizeof scheme[0] ? scheme[index] : 0;
}

} // namespace platform
