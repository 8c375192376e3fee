// Enumerations shared by the control library's settings objects and its
// paint routines.
#pragma once

#include <cstdint>

namespace kel {

enum TKelAlignment : std::uint8_t {
  agTopLeft, agTopCenter, agTopRight, agCenterLeft, agCenter, agCenterRight, agBottomLeft,
  agBottomCenter, agBottomRight
};

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

enum TKelBorderStyle : std::uint8_t {
  lsNone, lsSingle, lsLowered, lsRaised, lsRaisedspb, lsLoweredspb, lsRaisedExt, lsLoweredExt,
  lsFrameInset, lsFrameOffset, lsWindowBorder, lsSingleRaised, lsSingleLowered, lsDoubleRaised,
  lsDoubleLowered
};

enum TKelBevelStyle : std::uint8_t {
  bvNone, bvLowered, bvRaised, bvFrameLowered, bvFrameRaised, bvNormal, bvShadow
};

enum TKelGradientStyle : std::uint8_t {
  gstHorizontal, gstVertical, gstSquare, gstElliptic, gstTopLeft, gstTopRight, gstBottomLeft,
  gstBottomRight, gstTopLeftDiagonal, gstTopRightDiagonal
};

enum TKelBitmapStyle : std::uint8_t {
  sbNone, sbAutosize, sbCenter, sbStretch, sbTile, sbKeepAspRatio, sbKeepWidth, sbKeepHeight
};

enum TKelTextArrange : std::uint8_t {
  taLeft, taLeftTop, taRight, taRightTop, taTop, taTopLeft, taBottom, taBottomLeft
};

enum TKelArrowPosition : std::uint8_t { apRightText, apLeftText, apRightGlyph, apLeftGlyph };

enum TKelDisabledStyle : std::uint8_t { dsAuto, dsStandard, ds3d, dsNone };

enum TKelThreeDStyle : std::uint8_t {
  tdNone, tdSunken, tdRaised, tdSunkenShadow, tdRaisedShadow, tdPColorSunken, tdPColorRaised,
  tdShadow, tdOutline, tdExtrude, tdExtrudeEnh
};

enum TKelThreeDOrientation : std::uint8_t { toBottomLeft, toBottomRight, toTopLeft, toTopRight };

enum TKelShapeType : std::uint8_t {
  stEllipse, stRectangle, stRoundRect, stDirectUp, stDirectRight, stDirectDown, stDirectLeft,
  stDiamond, stComb, stOctagon, stStar
};

enum TKelShadowStyle : std::uint8_t { hssNone, hssSolid, hssTracing };

enum TKelSimpleBevelStyle : std::uint8_t { sbNormal, sbInset, sbOffset };

enum TKelFillStyle : std::uint8_t { sfNone, sfBrushBitmap, sfBrush, sfBitmap, sfBitmapList, sfGradient };

enum TKelTileMode : std::uint8_t { tmNone, tmCenter, tmStretch, tmTile };

enum TKelEdgeStyle : std::uint8_t {
  etRaisedInner, etRaisedOuter, etSunkenInner, etSunkenOuter, etBump, etEtched, etRaised, etSunken
};

enum TKelBevelMode : std::uint8_t { bmCustom, bmStandard, bmEdge, bmWindows };

// A set of sides: bit 0 bottom, 1 left, 2 right, 3 top.
using TKelFrameSides = std::uint8_t;
inline constexpr TKelFrameSides fsBottom = 1, fsLeft = 2, fsRight = 4, fsTop = 8;
inline constexpr TKelFrameSides kelAllSides = fsBottom | fsLeft | fsRight | fsTop;

using TKelPercent = std::uint8_t; // 0..100

// A window's border: none, single, sizeable, dialog, tool window, sizeable
// tool window.
enum TFormBorderStyle : std::uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

} // namespace kel
