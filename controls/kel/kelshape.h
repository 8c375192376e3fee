// Shape outlines (eleven kinds) as packed vertex lists, and the painter
// that draws a shape with its drop shadow, fill and two-colour bevel.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "controls/kel/kelbevel.h"
#include "platform/graphics.h"

namespace kel {

using platform::TPoint;

// Points packed in 32 bits: X in the high 16 bits (unsigned), Y in the low
// 16 bits (signed).
class TKelPointList {
public:
  std::function<void(TKelPointList* sender)> OnChange;

  int Count() const { return static_cast<int>(FItems.size()); }
  // A point past the end reads as (0, 0).
  TPoint Point(int index) const;
  void SetPoint(int index, TPoint point);
  void Add(TPoint point);
  void Clear();
  void Offset(int dx, int dy);
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate() { --FUpdateCount; }
  void Changed();
  std::vector<TPoint> Points(int first, int count) const;

private:
  static std::uint32_t Pack(TPoint point);
  std::vector<std::uint32_t> FItems;
  int FUpdateCount = 0;
};

// Fills list with the outline of the kind inside rect (relative to rect's
// top-left): the outer vertices, then the inner ones.
void KelShapeOutline(const TRect& rect, TKelShapeType shapeType, TKelPointList& list, const TKelShadow* shadow,
                     const TKelSimpleBevel* bevel, bool square, int roundPercent);

void KelShapePaint(const TRect& rect, TCanvas& canvas, TKelShapeType shapeType, TColor backColor, TColor maskColor,
                   const TBitmap* fillBitmap, const TKelShadow* shadow, const TKelSimpleBevel* bevel,
                   int roundPercent, const platform::TBrush& brush, bool square,
                   const TKelPointList* pointList = nullptr);

// The 8 x 8 checkerboard of tracing shadows: white, and color where x and y
// differ in parity. Rebuilt only when the colour changes.
const QImage& KelTracingPattern(TColor color);

} // namespace kel
