// One selection of the picture view as the user drew it: polygons of points
// in bitmap coordinates, separated by the pair (RvPolygonSeparator,
// RvPolygonSeparator), with the outline's colours, animation phase and
// bounding box.
#pragma once

#include <vector>

#include "image/model/rvmask.h"
#include "platform/colors.h"
#include "platform/graphics.h"

namespace rv {

class TRvSelectionRecord {
public:
  const platform::TPoint* Points() const { return FPoints.data(); }
  int Count() const { return static_cast<int>(FPoints.size()); }
  const platform::TPoint& operator[](int Index) const { return FPoints[static_cast<std::size_t>(Index)]; }

  // Appends a point; the second point sets the bounding box and every later
  // one widens it (separators leave it alone).
  void AddPoint(int X, int Y);
  void AddSeparator() { AddPoint(RvPolygonSeparator, RvPolygonSeparator); }
  bool IsSeparator(int Index) const;
  // The last point, then any separators it leaves at the end.
  void RemoveLastPoint();
  // Back to (and without) the last separator; everything when there is none.
  void RemoveLastPolygon();
  void Clear() { FPoints.clear(); }
  // Moves a point without touching the box.
  void SetPoint(int Index, int X, int Y) { FPoints[static_cast<std::size_t>(Index)] = {X, Y}; }
  // Exactly four points forming a rectangle with axis-parallel sides.
  bool IsRectangle() const;

  platform::TColor Color1 = platform::clBlack;
  platform::TColor Color2 = platform::clWhite;
  bool Animated = true;
  int Phase = 0; // 0 .. 5
  int DashCounter = 0;
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  bool Visible = false;
  bool Sizeable = true;

private:
  std::vector<platform::TPoint> FPoints;
};

} // namespace rv
