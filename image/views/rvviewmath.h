// The views' rounding: Trunc drops the fraction, Nearest rounds halves to
// even. Both saturate, so that an absurd zoom gives a huge size rather than
// an overflow.
#pragma once

#include <cmath>

namespace rv {

inline int RvSaturate(double X) {
  constexpr double kLimit = 1 << 30;
  if (!(X > -kLimit)) return -(1 << 30); // also NaN
  if (X > kLimit) return 1 << 30;
  return static_cast<int>(X);
}

inline int RvTrunc(double X) { return RvSaturate(std::trunc(X)); }
inline int RvNearest(double X) { return RvSaturate(std::nearbyint(X)); }

} // namespace rv
