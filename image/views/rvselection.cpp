#include "image/views/rvselection.h"

#include <algorithm>

namespace rv {

void TRvSelectionRecord::AddPoint(int X, int Y) {
  // The list grows in blocks of 64 points.
  if (FPoints.size() % 64 == 0) FPoints.reserve(FPoints.size() + 64);
  FPoints.push_back({X, Y});
  if (X == RvPolygonSeparator && Y == RvPolygonSeparator) return;
  if (FPoints.size() == 2 && !IsSeparator(0)) {
    X1 = std::min(FPoints[0].X, X);
    Y1 = std::min(FPoints[0].Y, Y);
    X2 = std::max(FPoints[0].X, X);
    Y2 = std::max(FPoints[0].Y, Y);
  } else if (FPoints.size() > 2) {
    X1 = std::min(X1, X);
    Y1 = std::min(Y1, Y);
    X2 = std::max(X2, X);
    Y2 = std::max(Y2, Y);
  }
}

bool TRvSelectionRecord::IsSeparator(int Index) const {
  const platform::TPoint& p = FPoints[static_cast<std::size_t>(Index)];
  return p.X == RvPolygonSeparator && p.Y == RvPolygonSeparator;
}

void TRvSelectionRecord::RemoveLastPoint() {
  if (FPoints.empty()) return;
  FPoints.pop_back();
  while (!FPoints.empty() && IsSeparator(Count() - 1)) FPoints.pop_back();
}

void TRvSelectionRecord::RemoveLastPolygon() {
  for (int i = Count() - 1; i >= 0; --i)
    if (IsSeparator(i)) {
      FPoints.resize(static_cast<std::size_t>(i));
      return;
    }
  FPoints.clear();
}

bool TRvSelectionRecord::IsRectangle() const {
  if (FPoints.size() != 4) return false;
  const auto& p = FPoints;
  return p[0].Y == p[1].Y && p[1].X == p[2].X && p[2].Y == p[3].Y && p[3].X == p[0].X;
}

} // namespace rv
