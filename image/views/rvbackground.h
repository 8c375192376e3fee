// What the views draw around and behind a picture: a plain or hatched fill,
// a chessboard, two diagonals, or a sunken frame or soft shadow around the
// picture.
#pragma once

#include <cstdint>

#include "platform/colors.h"
#include "platform/graphics.h"

namespace rv {

enum TRvBackgroundStyle : std::uint8_t {
  rvbsSolid,
  rvbsHorizontal,
  rvbsVertical,
  rvbsFDiagonal,
  rvbsBDiagonal,
  rvbsCross,
  rvbsDiagCross,
  rvbsChessboard,
  rvbsDiagonals,
  rvbsCropped,
  rvbsCropShadow,
};

// The system's edge size, which the sunken frame of rvbsCropped takes.
inline constexpr int RvEdgeX = 2;
inline constexpr int RvEdgeY = 2;
// Width of the rvbsCropShadow shadow.
inline constexpr int RvShadowSize = 5;

// The margin a style keeps between the picture and the client's edge when
// the picture is fitted: the edge size, the shadow size or nothing.
void RvBackgroundBorder(TRvBackgroundStyle Style, int& BX, int& BY);

// The colour the chessboard and the diagonals set against Color: its RGB
// complement.
platform::TColor RvContrastColor(platform::TColor Color);

// Fills 0, 0 .. Width, Height of Canvas in Style, only inside Clip when one
// is given. ImageRect is where the picture lies (the cropped styles frame
// it). Hatches and chessboard cells are aligned to the canvas origin, so a
// clipped fill matches a whole one.
void RvDrawBackground(platform::TCanvas& Canvas, TRvBackgroundStyle Style, platform::TColor Color,
                      int Width, int Height, const platform::TRect& ImageRect,
                      int ChessboardSize = 16,
                      platform::TBrushStyle ChessboardBrushStyle = platform::bsSolid,
                      const platform::TRect* Clip = nullptr);

} // namespace rv
