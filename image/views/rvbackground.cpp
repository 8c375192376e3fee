#include "image/views/rvbackground.h"

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <numeric>

#include "image/model/rvdib.h"

namespace rv {

namespace {

// One pixel of an 8 x 8 hatch, aligned to the canvas origin.
bool HatchBit(platform::TBrushStyle Style, int X, int Y) {
  X &= 7;
  Y &= 7;
  switch (Style) {
    case platform::bsSolid: return true;
    case platform::bsHorizontal: return Y == 0;
    case platform::bsVertical: return X == 0;
    case platform::bsFDiagonal: return X == Y;
    case platform::bsBDiagonal: return X + Y == 7;
    case platform::bsCross: return X == 0 || Y == 0;
    case platform::bsDiagCross: return X == Y || X + Y == 7;
    default: return false;
  }
}

// The gaps of a hatch are white: a hatch drawn over whatever the buffer held
// before would show stale pixels between its lines.
constexpr QRgb kHatchGap = 0xFFFFFFFFu;

QImage HatchTile(platform::TBrushStyle Style, QRgb Color) {
  QImage tile(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) tile.setPixel(x, y, HatchBit(Style, x, y) ? Color : kHatchGap);
  return tile;
}

void FillTiled(QPainter& P, const QRect& Area, const QImage& Tile) {
  QBrush brush(Tile);
  P.setBrushOrigin(0, 0);
  P.fillRect(Area, brush);
}

void DrawChessboard(QPainter& P, int Width, int Height, QRgb A, QRgb B, int Size,
                    platform::TBrushStyle Style) {
  const int n = std::max(Size, 1);
  const int period = std::lcm(2 * n, 8);
  if (period <= 256) {
    QImage tile(period, period, QImage::Format_RGB32);
    for (int y = 0; y < period; ++y) {
      auto* row = reinterpret_cast<QRgb*>(tile.scanLine(y));
      for (int x = 0; x < period; ++x)
        row[x] = HatchBit(Style, x, y) ? (((x / n + y / n) & 1) ? B : A) : kHatchGap;
    }
    FillTiled(P, QRect(0, 0, Width, Height), tile);
    return;
  }
  // Large cells: few of them, each filled on its own.
  const QImage tileA = HatchTile(Style, A), tileB = HatchTile(Style, B);
  for (int y = 0, r = 0; y < Height; y += n, ++r)
    for (int x = 0, c = 0; x < Width; x += n, ++c)
      FillTiled(P, QRect(x, y, std::min(n, Width - x), std::min(n, Height - y)),
                ((r + c) & 1) ? tileB : tileA);
}

} // namespace

void RvBackgroundBorder(TRvBackgroundStyle Style, int& BX, int& BY) {
  BX = BY = 0;
  if (Style == rvbsCropped) {
    BX = RvEdgeX;
    BY = RvEdgeY;
  } else if (Style == rvbsCropShadow) {
    BX = BY = RvShadowSize;
  }
}

platform::TColor RvContrastColor(platform::TColor Color) {
  return static_cast<platform::TColor>(~platform::ColorToRGB(Color) & 0xFFFFFFu);
}

void RvDrawBackground(platform::TCanvas& Canvas, TRvBackgroundStyle Style, platform::TColor Color,
                      int Width, int Height, const platform::TRect& ImageRect, int ChessboardSize,
                      platform::TBrushStyle ChessboardBrushStyle, const platform::TRect* Clip) {
  if (Width <= 0 || Height <= 0) return;
  const QRgb color = platform::ColorToQRgb(Color) | 0xFF000000u;
  const QRgb contrast = platform::ColorToQRgb(RvContrastColor(Color)) | 0xFF000000u;
  const QRect area(0, 0, Width, Height);
  Canvas.Paint([&](QPainter& p) {
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (Clip != nullptr) p.setClipRect(Clip->ToQRect(), Qt::IntersectClip);
    switch (Style) {
      case rvbsHorizontal:
      case rvbsVertical:
      case rvbsFDiagonal:
      case rvbsBDiagonal:
      case rvbsCross:
      case rvbsDiagCross: {
        static constexpr platform::TBrushStyle brushes[] = {
            platform::bsHorizontal, platform::bsVertical, platform::bsFDiagonal,
            platform::bsBDiagonal, platform::bsCross, platform::bsDiagCross};
        FillTiled(p, area, HatchTile(brushes[Style - rvbsHorizontal], color));
        break;
      }
      case rvbsChessboard:
        DrawChessboard(p, Width, Height, color, contrast, ChessboardSize, ChessboardBrushStyle);
        break;
      case rvbsDiagonals:
        p.fillRect(area, QColor::fromRgb(color));
        p.setPen(QPen(QColor::fromRgb(contrast), 0));
        p.drawLine(0, 0, Width - 1, Height - 1);
        p.drawLine(Width - 1, 0, 0, Height - 1);
        break;
      default:
        p.fillRect(area, QColor::fromRgb(color));
        break;
    }
  });
  if (ImageRect.Width() < 2 || ImageRect.Height() < 2) return;
  if (Style == rvbsCropped) {
    platform::TRect frame = platform::Rect(ImageRect.Left - RvEdgeX, ImageRect.Top - RvEdgeY,
                                           ImageRect.Right + RvEdgeX, ImageRect.Bottom + RvEdgeY);
    platform::DrawEdge(Canvas, frame, platform::EDGE_SUNKEN, platform::BF_RECT);
  } else if (Style == rvbsCropShadow) {
    const platform::TRect& r = ImageRect;
    RvDrawShadowStripA(Canvas, r.Right, r.Top + RvShadowSize, 2, r.Right + RvShadowSize,
                       r.Bottom + RvShadowSize);
    RvDrawShadowStripB(Canvas, r.Left + RvShadowSize, r.Bottom, 2, r.Right, r.Bottom + RvShadowSize);
  }
}

} // namespace rv
