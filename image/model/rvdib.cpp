#include "image/model/rvdib.h"

#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <stdexcept>

#include "image/model/rvbits.h"
#include "image/model/rvbwgray.h"

namespace rv {

namespace {

void PrepareInfo(platform::TBitmapInfo& info, int bitCount) {
  info = platform::TBitmapInfo();
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<std::uint16_t>(bitCount);
  if (bitCount == 8) {
    // An 8-bit page is gray: two entries would paint every other level black.
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i);
      info.bmiColors[i] = {v, v, v, 0};
    }
  } else {
    info.bmiColors[1] = {255, 255, 255, 0};
  }
}

} // namespace

// ---------------------------------------------------------------------------
// TRvDibbitmap

TRvDibbitmap::TRvDibbitmap() { PrepareInfo(FInfo, 0); }

TRvDibbitmap::~TRvDibbitmap() = default;

std::uint8_t* TRvDibbitmap::Scanline(int Row) { return FBitmap->ScanLine(Row); }

TRvPixelFormat TRvDibbitmap::PixelFormat() const {
  if (FBitCount == 1) return rvpf1Bit;
  if (FBitCount == 24) return rvpf24Bit;
  return rvpfNone;
}

void TRvDibbitmap::Allocate(int Width, int Height, TRvPixelFormat PixelFormat) {
  if (PixelFormat == rvpf1Bit) AllocateDIB(Width, Height, 1);
  else if (PixelFormat == rvpf24Bit) AllocateDIB(Width, Height, 24);
}

void TRvDibbitmap::Assign(TRvBaseBitmap* Source) {
  auto* src = dynamic_cast<TRvDibbitmap*>(Source);
  if (src == nullptr || src == this) return;
  if (src->FBitmap == nullptr) {
    FreeDIB();
    return;
  }
  if (!AllocateDIB(src->FWidth, src->FHeight, src->FBitCount)) return;
  for (int y = 0; y < FHeight; ++y)
    std::memcpy(Scanline(y), src->Scanline(y), static_cast<std::size_t>(FRowLen));
}

bool TRvDibbitmap::AllocateDIB(int Width, int Height, int BitCount) {
  if (Width <= 0 || Height <= 0 || (BitCount != 1 && BitCount != 24)) return false;
  FreeDIB();
  const std::int64_t rowLen = RvRowLen(Width, BitCount);
  if (rowLen > 0x7FFFFFFF || rowLen * Height > 0x7FFFFFFF) return false;
  try {
    FBitmap = std::make_unique<platform::TBitmap>(Width, Height,
                                                  BitCount == 1 ? platform::pf1bit : platform::pf24bit);
  } catch (const std::bad_alloc&) {
    // A picture that cannot be had stays empty instead of being drawn on.
    FBitmap.reset();
    return false;
  }
  FWidth = Width;
  FHeight = Height;
  FBitCount = BitCount;
  FRowLen = static_cast<int>(rowLen);
  PrepareInfo(FInfo, BitCount);
  FInfo.bmiHeader.biWidth = Width;
  FInfo.bmiHeader.biHeight = -Height;
  FInfo.bmiHeader.biSizeImage = static_cast<std::uint32_t>(rowLen * Height);
  return true;
}

void TRvDibbitmap::FreeDIB() {
  FBitmap.reset();
  FWidth = FHeight = FBitCount = FRowLen = 0;
  PrepareInfo(FInfo, 0);
}

platform::TCanvas* TRvDibbitmap::Canvas() { return FBitmap ? &FBitmap->Canvas() : nullptr; }

std::uint8_t* TRvDibbitmap::Bits() { return FBitmap ? FBitmap->ScanLine(0) : nullptr; }

// ---------------------------------------------------------------------------
// TRvWorkBitmap

TRvWorkBitmap::TRvWorkBitmap(int Width, int Height, int BitCount) {
  if (Width >= 1 && Height >= 1) Allocate(Width, Height, BitCount);
}

void TRvWorkBitmap::Allocate(int Width, int Height, int BitCount) {
  if (Width == FWidth && Height == FHeight && BitCount == FBitCount && FBits) return;
  FreeBits();
  const std::int64_t rowLen = RvRowLen(Width, BitCount);
  if (Width < 1 || Height < 1 || BitCount < 1 || rowLen > 0x7FFFFFFF) return;
  FBits.reset(new std::uint8_t[static_cast<std::size_t>(rowLen) * static_cast<std::size_t>(Height)]);
  FWidth = Width;
  FHeight = Height;
  FBitCount = BitCount;
  FRowLen = static_cast<int>(rowLen);
}

void TRvWorkBitmap::FreeBits() {
  FBits.reset();
  FWidth = FHeight = FBitCount = FRowLen = 0;
}

// ---------------------------------------------------------------------------
// Painting

TRvDrawDibHandle RvDrawDibOpen() { return new TRvDrawDib; }

void RvDrawDibClose(TRvDrawDibHandle Handle) { delete Handle; }

bool RvDrawDibRealize(TRvDrawDibHandle Handle, platform::TCanvas&, bool) {
  if (Handle == nullptr) return false;
  Handle->Realized = true;
  return true;
}

bool RvDrawDibDraw(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, int DestX, int DestY,
                   int DestW, int DestH, const platform::TBitmapInfo& Info, const void* Bits,
                   int SourceX, int SourceY, int SourceW, int SourceH, unsigned) {
  if (Handle == nullptr) return false;
  return platform::StretchDIBits(Canvas, DestX, DestY, DestW, DestH, SourceX, SourceY, SourceW,
                                 SourceH, Bits, Info, platform::DIB_RGB_COLORS,
                                 platform::SRCCOPY) != 0;
}

void RvDrawDIB(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, int DestX, int DestY,
               int DestW, int DestH, const platform::TBitmapInfo& Info, const void* Bits,
               int SourceX, int SourceY, int SourceW, int SourceH, unsigned Flags) {
  if (Info.bmiHeader.biBitCount == 24 && Handle == nullptr) {
    TRvDrawDibHandle temporary = RvDrawDibOpen();
    RvDrawDibDraw(temporary, Canvas, DestX, DestY, DestW, DestH, Info, Bits, SourceX, SourceY,
                  SourceW, SourceH, Flags);
    RvDrawDibClose(temporary);
  } else if (Handle != nullptr) {
    RvDrawDibDraw(Handle, Canvas, DestX, DestY, DestW, DestH, Info, Bits, SourceX, SourceY,
                  SourceW, SourceH, Flags);
  } else {
    platform::StretchDIBits(Canvas, DestX, DestY, DestW, DestH, SourceX, SourceY, SourceW, SourceH,
                            Bits, Info, platform::DIB_RGB_COLORS, platform::SRCCOPY);
  }
}

// ---------------------------------------------------------------------------
// TRvVirtualBitmap

TRvVirtualBitmap::TRvVirtualBitmap() { PrepareInfo(FInfo, 24); }

TRvVirtualBitmap::~TRvVirtualBitmap() { FreeAll(); }

std::uint64_t TRvVirtualBitmap::TileBytes() const {
  return static_cast<std::uint64_t>(FTileRowLen) * static_cast<std::uint64_t>(FTileHeight);
}

bool TRvVirtualBitmap::Allocate(int Width, int Height, int BitCount) {
  FreeAll();
  if (Width < 1 || Height < 1) return false;
  switch (BitCount) {
  case 1: FTileWidth = 1024; FTileHeight = 512; break;
  case 8: FTileWidth = 256; FTileHeight = 256; break;
  case 24: FTileWidth = 512; FTileHeight = 512; break;
  default: return false;
  }
  FWidth = Width;
  FHeight = Height;
  FBitCount = BitCount;
  FTilesX = (Width + FTileWidth - 1) / FTileWidth;
  FTilesY = (Height + FTileHeight - 1) / FTileHeight;
  FTileRowLen = static_cast<int>(RvRowLen(FTileWidth, BitCount));
  PrepareInfo(FInfo, BitCount);
  FInfo.bmiHeader.biWidth = FTileWidth;
  FInfo.bmiHeader.biHeight = -FTileHeight; // tile rows are stored top-down
  const std::uint64_t size = TileBytes() * static_cast<std::uint64_t>(FTilesX) *
                             static_cast<std::uint64_t>(FTilesY);
  if (!FStore.Allocate(std::string(), size)) {
    FWidth = FHeight = FBitCount = FTilesX = FTilesY = 0;
    return false;
  }
  return true;
}

void TRvVirtualBitmap::FreeAll() {
  FStore.Deallocate();
  FWidth = FHeight = FBitCount = FTilesX = FTilesY = 0;
}

std::uint8_t* TRvVirtualBitmap::MapTile(int TX, int TY) {
  const std::uint64_t offset =
      (static_cast<std::uint64_t>(TY) * static_cast<std::uint64_t>(FTilesX) + static_cast<std::uint64_t>(TX)) *
      TileBytes();
  return static_cast<std::uint8_t*>(FStore.MapView(offset, static_cast<std::size_t>(TileBytes())));
}

void TRvVirtualBitmap::UnmapTile(std::uint8_t* View) {
  if (View != nullptr) FStore.UnmapView(View);
}

template <typename Fn>
void TRvVirtualBitmap::WalkTiles(int X, int Y, int W, int H, Fn&& Piece) {
  // Only the part inside the picture: a tile beyond it has no place in the file.
  const int x1 = std::max(X, 0), y1 = std::max(Y, 0);
  const int x2 = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(X) + W, FWidth));
  const int y2 = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(Y) + H, FHeight));
  if (!FStore.IsAllocated() || x1 >= x2 || y1 >= y2) return;
  int y = y1;
  while (y < y2) {
    const int oy = y % FTileHeight;
    const int h = std::min(FTileHeight - oy, y2 - y);
    int x = x1;
    while (x < x2) {
      const int ox = x % FTileWidth;
      const int w = std::min(FTileWidth - ox, x2 - x);
      std::uint8_t* tile = MapTile(x / FTileWidth, y / FTileHeight);
      if (tile != nullptr) {
        Piece(TPiece{x, y, w, h, ox, oy, tile});
        UnmapTile(tile);
      }
      x += w;
    }
    y += h;
  }
}

void TRvVirtualBitmap::CopyRect(TRvBaseBitmap* Source, int X, int Y, int W, int H) {
  if (Source == nullptr) return;
  const int srcBits = Source->BitCount();
  const bool copyable = (FBitCount == srcBits) || (FBitCount == 24 && srcBits == 1);
  if (!copyable) return;
  // Nothing is read outside the source either.
  const int x2 = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(X) + W, Source->Width()));
  const int y2 = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(Y) + H, Source->Height()));
  WalkTiles(X, Y, x2 - X, y2 - Y, [&](const TPiece& p) {
    for (int r = 0; r < p.H; ++r) {
      const std::uint8_t* src = Source->Scanline(p.Y + r);
      std::uint8_t* dst = p.Tile + static_cast<std::size_t>(p.OY + r) * FTileRowLen;
      if (FBitCount == 1) {
        RvCopyBits(dst, src, p.OX, Source->RowLen(), p.W, p.X);
      } else if (FBitCount == 8) {
        std::memcpy(dst + p.OX, src + p.X, static_cast<std::size_t>(p.W));
      } else if (srcBits == 24) {
        std::memcpy(dst + 3 * p.OX, src + 3 * p.X, static_cast<std::size_t>(3 * p.W));
      } else {
        for (int i = 0; i < p.W; ++i) {
          const std::uint8_t v = RvTestBit(src, p.X + i) ? 255 : 0;
          std::memset(dst + 3 * (p.OX + i), v, 3);
        }
      }
    }
  });
}

void TRvVirtualBitmap::ApplyPixelFunction(int X, int Y, int W, int H, TPixelFunction Callback,
                                          void* Param) {
  if (Callback == nullptr) return;
  WalkTiles(X, Y, W, H, [&](const TPiece& p) {
    for (int r = 0; r < p.H; ++r) {
      std::uint8_t* row = p.Tile + static_cast<std::size_t>(p.OY + r) * FTileRowLen;
      for (int i = 0; i < p.W; ++i) {
        if (FBitCount == 1) {
          const std::int64_t bit = p.OX + i;
          const std::uint8_t old = RvTestBit(row, bit) ? 1 : 0;
          std::uint8_t value = old;
          Callback(p.X + i, p.Y + r, &value, Param);
          if (value != old) RvSetBit(row, bit, value);
        } else {
          Callback(p.X + i, p.Y + r, row + (p.OX + i) * (FBitCount / 8), Param);
        }
      }
    }
  });
}

void TRvVirtualBitmap::DrawTo(TRvDrawDibHandle Handle, platform::TCanvas& Canvas, bool Smooth,
                              int SourceX, int SourceY, int SourceW, int SourceH, int DestX,
                              int DestY, int DestW, int DestH) {
  if (SourceW <= 0 || SourceH <= 0 || DestW <= 0 || DestH <= 0) return;
  const double sx = static_cast<double>(DestW) / SourceW;
  const double sy = static_cast<double>(DestH) / SourceH;
  const bool reduceBW = FBitCount == 1 && Smooth && (sx < 1 || sy < 1);
  WalkTiles(SourceX, SourceY, SourceW, SourceH, [&](const TPiece& p) {
    const int dx = static_cast<int>((p.X - SourceX) * sx) + DestX;
    const int dy = static_cast<int>((p.Y - SourceY) * sy) + DestY;
    const int dw = std::min(static_cast<int>(p.W * sx) + 1, DestW);
    const int dh = std::min(static_cast<int>(p.H * sy) + 1, DestH);
    if (!reduceBW) {
      RvDrawDIB(Handle, Canvas, dx, dy, dw, dh, FInfo, p.Tile, p.OX, p.OY, p.W, p.H, 0);
      return;
    }
    // A reduced black-and-white piece is averaged to gray, then painted.
    const std::int64_t rowLen = RvRowLen(dw, 24);
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(rowLen * dh));
    RvShrinkBWRows(
        [&](int y) -> const std::uint8_t* {
          return p.Tile + static_cast<std::size_t>(y) * FTileRowLen;
        },
        FTileWidth, FTileHeight, p.OX, p.OY, p.OX + p.W - 1, p.OY + p.H - 1, dw, dh,
        [&](int r) { return gray.data() + r * rowLen; });
    platform::TBitmapInfo info;
    PrepareInfo(info, 24);
    info.bmiHeader.biWidth = dw;
    info.bmiHeader.biHeight = -dh;
    RvDrawDIB(Handle, Canvas, dx, dy, dw, dh, info, gray.data(), 0, 0, dw, dh, 0);
  });
}

// ---------------------------------------------------------------------------
// Decorations

void RvDrawBevel(platform::TCanvas& Canvas, int X1, int Y1, int X2, int Y2,
                 platform::TColor TopLeftColor, platform::TColor BottomRightColor) {
  Canvas.Pen.Mode = platform::pmCopy;
  Canvas.Pen.Style = platform::psSolid;
  Canvas.Pen.Color = TopLeftColor;
  Canvas.MoveTo(X1, Y2);
  Canvas.LineTo(X1, Y1);
  Canvas.LineTo(X2, Y1);
  Canvas.Pen.Color = BottomRightColor;
  Canvas.MoveTo(X1, Y2);
  Canvas.LineTo(X2, Y2);
  Canvas.LineTo(X2, Y1);
}

namespace {

// Gray of step i of n: dark next to the picture, white at the far side.
int ShadowLevel(int i, int n) {
  return static_cast<int>(std::exp(static_cast<double>(i) / n) / std::numbers::e * 255);
}

// across: the strip runs down (right strip) or across (bottom strip).
void DrawShadowStrip(platform::TCanvas& Canvas, int X1, int Y1, int Style, int X2, int Y2,
                     bool vertical) {
  const int w = X2 - X1, h = Y2 - Y1;
  if (w <= 0 || h <= 0) return;
  if (Style == 1) {
    Canvas.FillRect(platform::Rect(X1, Y1, X2, Y2));
    return;
  }
  if (Style != 2 && Style != 3) return;
  const int n = vertical ? w : h;
  QImage strip(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
    for (int x = 0; x < w; ++x) {
      const int across = vertical ? x : y;
      const int along = vertical ? y : x;
      int g = ShadowLevel(across, n);
      if (Style == 3 && along < n) g = std::max(g, ShadowLevel(n - along, n));
      line[x] = qRgb(g, g, g);
    }
  }
  Canvas.Paint([&](QPainter& p) { p.drawImage(X1, Y1, strip); });
}

} // namespace

void RvDrawShadowStripA(platform::TCanvas& Canvas, int X1, int Y1, int Style, int X2, int Y2) {
  DrawShadowStrip(Canvas, X1, Y1, Style, X2, Y2, true);
}

void RvDrawShadowStripB(platform::TCanvas& Canvas, int X1, int Y1, int Style, int X2, int Y2) {
  DrawShadowStrip(Canvas, X1, Y1, Style, X2, Y2, false);
}

void RvDrawHintBox(platform::TCanvas& Canvas, int& X, int& Y, int ClientWidth, int ClientHeight,
                   platform::TColor TopLeftColor, platform::TColor BottomRightColor,
                   const std::string& Text, const platform::TFont& Font,
                   platform::TBitmap* SaveBitmap) {
  Canvas.Font = Font;
  const int w = Canvas.TextWidth(Text) + 12;
  const int h = Canvas.TextHeight(Text) + 12;
  if (X > ClientWidth - (w + 12)) X = ClientWidth - (w + 12);
  if (Y > ClientHeight - (h + 12)) Y = ClientHeight - (h + 12);
  X = std::max(X, 0);
  Y = std::max(Y, 0);
  if (SaveBitmap != nullptr) {
    SaveBitmap->SetPixelFormat(platform::pf24bit);
    SaveBitmap->SetSize(w, h);
    platform::BitBlt(SaveBitmap->Canvas(), 0, 0, w, h, Canvas, X, Y, platform::SRCCOPY);
  }
  Canvas.FillRect(platform::Rect(X + 6, Y + 6, X + w, Y + h));
  RvDrawBevel(Canvas, X + 6, Y + 6, X + w - 1, Y + h - 1, TopLeftColor, BottomRightColor);
  Canvas.TextOut(X + 9, Y + 9, Text);
}

bool RvIsWinXP() { return false; }

long double RvStrToFloat(const std::string& Text) {
  const auto parse = [](std::string s, double& out) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return false;
    s = s.substr(b, s.find_last_not_of(" \t") - b + 1);
    if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.erase(0, 1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
  };
  double value = 0;
  if (parse(Text, value)) return value;
  std::string other = Text;
  if (other.find(',') != std::string::npos) std::replace(other.begin(), other.end(), ',', '.');
  else std::replace(other.begin(), other.end(), '.', ',');
  if (parse(other, value)) return value;
  throw std::invalid_argument("'" + Text + "' is not a valid floating point value");
}

} // namespace rv
