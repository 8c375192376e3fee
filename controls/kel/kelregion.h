// Region shapes: an outline named by a shape and a few parameters, turned
// into a window region for a rectangle, with its border and drop shadow
// painted along it. Also the region data codec (a 32-byte header and
// 16-byte rectangles, as the region-data query of the platform lays it out)
// and the raster shapes regions are made of.
#pragma once

#include <QRegion>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "controls/kel/kelbevel.h"
#include "controls/kel/kelfoundation.h"
#include "controls/kel/kelshape.h"
#include "platform/graphics.h"
#include "platform/stream.h"

namespace kel {

using platform::TPoint;

enum TKelRegionShape : std::uint8_t {
  rsRect, rsRoundRect, rsBitmap, rsNoseRect, rsRoundNoseRect, rsElliptic, rsStar, rsRoundShield, rsSharpShield,
  rsDiamond, rsOctagon, rsComb, rsHalfRound, rsUserRegion, rsThinkBubble, rsRoundThinkBubble,
  rsEllipticThinkBubble, rsPointList
};

// The first word names the side the nose leaves from, the second the corner.
enum TKelExtPos : std::uint8_t {
  epLeftTop, epTopLeft, epTopRight, epRightTop, epRightBottom, epBottomRight, epBottomLeft, epLeftBottom
};

enum TKelRegionBorderStyle : std::uint8_t {
  rbNone, rbLowered, rbRaised, rbSingle, rbSingleRaised, rbSingleLowered, rbRaisedpsb, rbLoweredpsb
};

// ---------------------------------------------------------------- raster shapes

// The pixels whose centres lie inside the ellipse inscribed in the box: as
// every filled shape here, the right and bottom edge are left out. A box
// given corner to corner in any order is taken normalised.
QRegion KelEllipticRegion(const TRect& box);
// A rectangle whose corners are quarters of a width x height ellipse.
QRegion KelRoundRectRegion(const TRect& box, int width, int height);
// A polygon, odd-even filled.
QRegion KelPolygonRegion(const std::vector<TPoint>& points);

// ---------------------------------------------------------------- region data

inline constexpr std::size_t kelRegionHeaderSize = 32;
inline constexpr std::size_t kelRegionRectSize = 16;

// The region as stored: header (size 32, type 1, count, bytes of the
// rectangles, bounds) and one left-top-right-bottom rectangle per band
// piece, little-endian 32-bit.
std::vector<std::uint8_t> KelRegionToData(const QRegion& region);
// No region for damaged data: a wrong header, rectangles beyond the data, or
// a rectangle turned inside out.
std::optional<QRegion> KelRegionFromData(const std::uint8_t* data, std::size_t size);
inline std::optional<QRegion> KelRegionFromData(const std::vector<std::uint8_t>& data) {
  return KelRegionFromData(data.data(), data.size());
}

// ---------------------------------------------------------------- settings

class TKelRegionBorder : public TKelObject {
public:
  TKelRegionBorderStyle Style() const { return FStyle; }
  void SetStyle(TKelRegionBorderStyle value) { SetProp(FStyle, value); }
  TColor LightColor() const { return FLightColor; }
  void SetLightColor(TColor value) { SetProp(FLightColor, value); }
  TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(TColor value) { SetProp(FShadowColor, value); }
  TColor SingleColor() const { return FSingleColor; }
  void SetSingleColor(TColor value) { SetProp(FSingleColor, value); }

  void Assign(const TKelObject& source) override;

private:
  TKelRegionBorderStyle FStyle = rbSingle;
  TColor FLightColor = platform::clBtnHighlight;
  TColor FShadowColor = platform::clBtnShadow;
  TColor FSingleColor = platform::clBlack;
};

class TKelRegion : public TKelObject {
public:
  TKelRegion();
  ~TKelRegion() override;

  TKelRegionShape Shape() const { return FShape; }
  void SetShape(TKelRegionShape value);
  TKelRegionMask& Mask() { return FMask; }
  const TKelRegionMask& Mask() const { return FMask; }
  void SetMask(const TKelRegionMask& value) { FMask.Assign(value); }
  int BubbleCount() const { return FBubbleCount; }
  void SetBubbleCount(int value) { SetProp(FBubbleCount, value < 1 ? 1 : value); }
  // Notify only where they show: the round shapes.
  int RoundX() const { return FRoundX; }
  int RoundY() const { return FRoundY; }
  void SetRoundX(int value) { SetRound(FRoundX, value); }
  void SetRoundY(int value) { SetRound(FRoundY, value); }
  TKelExtPos ExtPos() const { return FExtPos; }
  void SetExtPos(TKelExtPos value) { SetProp(FExtPos, value); }
  TKelRgnShadow& Shadow() { return FShadow; }
  const TKelRgnShadow& Shadow() const { return FShadow; }
  void SetShadow(const TKelRgnShadow& value) { FShadow.Assign(value); }
  TPoint RegionOffset() const { return FRegionOffset; }
  void SetRegionOffset(TPoint value);
  bool NoShadowPaint() const { return FNoShadowPaint; }
  void SetNoShadowPaint(bool value) { SetProp(FNoShadowPaint, value); }
  TKelPointList& Points() { return FPoints; }
  const TKelPointList& Points() const { return FPoints; }

  // Data of rsPointList and rsUserRegion, as KelRegionToData lays it out.
  const std::vector<std::uint8_t>& RegionData() const { return FRegionData; }
  void StoreRegionData(const QRegion& region) { FRegionData = KelRegionToData(region); }
  void SetRegionData(const std::vector<std::uint8_t>& data) { FRegionData = data; }

  // Set by the owner while it is being destroyed: nothing is built then.
  bool OwnerDestroying = false;
  // At design time a user region is a plain rectangle.
  bool OwnerDesigning = false;

  // Builds the region of the shape for rect; none when the shape's data is
  // missing. The region is kept until the next call.
  const std::optional<QRegion>& CreateRegion(const TRect& rect);
  const std::optional<QRegion>& Handle() const { return FHandle; }
  // A polygon of the points, kept as region data (with rsPointList only).
  void UpdatePointRegion();

  // Copies the outline settings, not the points.
  void Assign(const TKelObject& source) override;

  // The extra stored property "PointList" (x and y of each point as a list of
  // integers): written only with points.
  bool HasPointList() const { return FPoints.Count() > 0; }
  void WritePointList(platform::TStream& stream) const;
  // Appends the points read; a list that is not all pairs of coordinates in
  // 0..32767 is refused whole (EKelContainerError).
  void ReadPointList(platform::TStream& stream);

  // Shrinks rect by the shadow depth and fills the crescent of the shadow
  // below and right of the region.
  void PaintShadow(TCanvas& canvas, TRect& rect);
  // The shadow, then the border of the shape along rect (the rectangle the
  // region was built for).
  void PaintBorder(TCanvas& canvas, const TRect& rect);

  // The points of the named polygons in rect, in the order of the outline.
  static std::vector<TPoint> StarPoints(const TRect& rect);
  static std::vector<TPoint> DiamondPoints(const TRect& rect);
  static std::vector<TPoint> OctagonPoints(const TRect& rect);
  static std::vector<TPoint> CombPoints(const TRect& rect);
  // The nose triangle (tip, second, third point) of distance d and offset o;
  // rect shrinks at the corner's two sides.
  static std::vector<TPoint> NosePoints(TRect& rect, int d, int o, TKelExtPos pos);
  // The bubbles' centres and radii; rect shrinks as for the nose.
  struct TBubble {
    int X, Y, R;
  };
  static std::vector<TBubble> BubblePoints(TRect& rect, int d, int n, TKelExtPos pos);

protected:
  TKelRegionBorder& Border() { return FBorder; }
  const TKelRegionBorder& Border() const { return FBorder; }
  void SetBorder(const TKelRegionBorder& value) { FBorder.Assign(value); }

private:
  void SetRound(int& field, int value);
  std::optional<QRegion> BuildShape(const TRect& r) const;
  int NoseOffset() const;

  TKelRegionShape FShape = rsRoundRect;
  TKelRegionBorder FBorder;
  TKelRegionMask FMask;
  int FBubbleCount = 4;
  int FRoundX = 20;
  int FRoundY = 20;
  std::optional<QRegion> FHandle;
  std::vector<std::uint8_t> FRegionData;
  TKelExtPos FExtPos = epLeftTop;
  TKelRgnShadow FShadow;
  TPoint FRegionOffset;
  bool FNoShadowPaint = false;
  TKelPointList FPoints;
};

// The region type of the form shape: publishes the border.
class TKelBorderRegion : public TKelRegion {
public:
  using TKelRegion::Border;
  using TKelRegion::SetBorder;
};

} // namespace kel
