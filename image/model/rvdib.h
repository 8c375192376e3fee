// Off-screen pictures and painting primitives: the DIB bitmap the views
// draw into and blit from, the resamplers' scratch rows, a tiled picture of
// any size in a mapped file (the printed page), and the small decorations.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/model/rvbitmap.h"
#include "platform/graphics.h"

namespace rv {

// A 1- or 24-bit picture held in a class-library bitmap, so that it can be
// blitted through its canvas and written row by row. Its rows are stored top
// row first; Info describes them as a top-down DIB (negative height).
class TRvDibbitmap : public TRvBaseBitmap {
public:
  TRvDibbitmap();
  ~TRvDibbitmap() override;
  TRvDibbitmap(const TRvDibbitmap&) = delete;
  TRvDibbitmap& operator=(const TRvDibbitmap&) = delete;

  std::uint8_t* Scanline(int Row) override;
  int BitCount() const override { return FBitCount; }
  int Height() const override { return FHeight; }
  int Width() const override { return FWidth; }
  TRvPixelFormat PixelFormat() const override;
  int RowLen() const override { return FRowLen; }
  // rvpf1Bit and rvpf24Bit only; other formats are ignored.
  void Allocate(int Width, int Height, TRvPixelFormat PixelFormat) override;
  // From another TRvDibbitmap only.
  void Assign(TRvBaseBitmap* Source) override;

  // False, leaving the bitmap empty, when the sizes or bit count are not
  // usable or the pixels cannot be had.
  bool AllocateDIB(int Width, int Height, int BitCount);
  void FreeDIB();

  // What the views blit from; null while empty.
  platform::TCanvas* Canvas();
  platform::TBitmap* Bitmap() { return FBitmap.get(); }
  const platform::TBitmapInfo& Info() const { return FInfo; }
  // The top row; rows follow at RowLen bytes.
  std::uint8_t* Bits();

private:
  int FWidth = 0;
  int FHeight = 0;
  int FBitCount = 0;
  int FRowLen = 0;
  std::unique_ptr<platform::TBitmap> FBitmap;
  platform::TBitmapInfo FInfo;
};

// Scratch rows of the resamplers, not initialised.
class TRvWorkBitmap {
public:
  TRvWorkBitmap() = default;
  TRvWorkBitmap(int Width, int Height, int BitCount);
  void Allocate(int Width, int Height, int BitCount);
  std::uint8_t* ScanLine(int Row) {
    return FBits.get() + static_cast<std::size_t>(FHeight - Row - 1) * static_cast<std::size_t>(FRowLen);
  }
  void FreeBits();
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitCount() const { return FBitCount; }
  int RowLen() const { return FRowLen; }
  std::uint8_t* Bits() { return FBits.get(); }

private:
  int FWidth = 0;
  int FHeight = 0;
  int FBitCount = 0;
  int FRowLen = 0;
  std::unique_ptr<std::uint8_t[]> FBits;
};

// A DrawDib painting handle: the views open one each.
struct TRvDrawDib {
  bool Realized = false;
};
using TRvDrawDibHandle = TRvDrawDib*;

TRvDrawDibHandle RvDrawDibOpen();
void RvDrawDibClose(TRvDrawDibHandle Handle);
bool RvDrawDibRealize(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, bool Background);
bool RvDrawDibDraw(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, int DestX, int DestY,
                   int DestW, int DestH, const platform::TBitmapInfo& Info, const void* Bits,
                   int SourceX, int SourceY, int SourceW, int SourceH, unsigned Flags);
// Paints the source rectangle of a DIB scaled onto the destination
// rectangle (rows counted as the DIB stores them).
void RvDrawDIB(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, int DestX, int DestY,
               int DestW, int DestH, const platform::TBitmapInfo& Info, const void* Bits,
               int SourceX, int SourceY, int SourceW, int SourceH, unsigned Flags);

// A picture of any size kept as tiles in a mapped temporary file; only one
// tile is mapped at a time.
class TRvVirtualBitmap {
public:
  using TPixelFunction = void (*)(int X, int Y, std::uint8_t* Pixel, void* Param);

  TRvVirtualBitmap();
  ~TRvVirtualBitmap();
  TRvVirtualBitmap(const TRvVirtualBitmap&) = delete;
  TRvVirtualBitmap& operator=(const TRvVirtualBitmap&) = delete;

  // 1, 8 or 24 bits; false when the file cannot be had.
  bool Allocate(int Width, int Height, int BitCount);
  void FreeAll();
  // Copies rectangle X, Y, W, H of Source into the same place here.
  void CopyRect(TRvBaseBitmap* Source, int X, int Y, int W, int H);
  void ApplyPixelFunction(int X, int Y, int W, int H, TPixelFunction Callback, void* Param);
  void DrawTo(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, bool Smooth, int SourceX,
              int SourceY, int SourceW, int SourceH, int DestX, int DestY, int DestW, int DestH);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitCount() const { return FBitCount; }
  int TileWidth() const { return FTileWidth; }
  int TileHeight() const { return FTileHeight; }
  int TilesX() const { return FTilesX; }
  int TilesY() const { return FTilesY; }
  int TileRowLen() const { return FTileRowLen; }
  std::uint64_t FileSize() const { return FStore.Size(); }

private:
  struct TPiece {
    int X, Y, W, H;   // picture position and size
    int OX, OY;       // offset inside the tile
    std::uint8_t* Tile;
  };
  template <typename Fn>
  void WalkTiles(int X, int Y, int W, int H, Fn&& Piece);
  std::uint8_t* MapTile(int TX, int TY);
  void UnmapTile(std::uint8_t* View);
  std::uint64_t TileBytes() const;

  int FWidth = 0;
  int FHeight = 0;
  int FBitCount = 0;
  int FTileWidth = 512;
  int FTileHeight = 512;
  int FTilesX = 0;
  int FTilesY = 0;
  int FTileRowLen = 0;
  platform::TBitmapInfo FInfo;
  TRvMemoryMapped FStore;
};

// Decorations.
void RvDrawBevel(platform::TCanvas& Canvas, int X1, int Y1, int X2, int Y2,
                 platform::TColor TopLeftColor, platform::TColor BottomRightColor);
// The right (A) and bottom (B) strip of a thumbnail's soft shadow inside the
// rectangle X1, Y1 .. X2, Y2 (right and bottom edge excluded). Style 1: the
// brush; 2: a ramp across the strip; 3: the ramp fading at the strip's start.
void RvDrawShadowStripA(platform::TCanvas& Canvas, int X1, int Y1, int Style, int X2, int Y2);
void RvDrawShadowStripB(platform::TCanvas& Canvas, int X1, int Y1, int Style, int X2, int Y2);
// A text box near (X, Y), moved to stay inside the client area; the covered
// background is first saved into SaveBitmap.
void RvDrawHintBox(platform::TCanvas& Canvas, int& X, int& Y, int ClientWidth, int ClientHeight,
                   platform::TColor TopLeftColor, platform::TColor BottomRightColor,
                   const std::string& Text, const platform::TFont& Font,
                   platform::TBitmap* SaveBitmap);

// Platform queries.
bool RvIsWinXP();
// Accepts both decimal separators; raises std::invalid_argument otherwise.
long double RvStrToFloat(const std::string& Text);

} // namespace rv
