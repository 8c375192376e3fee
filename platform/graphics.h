// The class library's bitmap and canvas, over QImage and QPainter.
//
// TBitmap keeps its pixels in a QImage whose rows have the platform's layout
// (top row first, each row padded to 4 bytes, 24-bit pixels stored blue,
// green, red), so row-by-row code may write through ScanLine. TCanvas draws
// with the platform's pixel rules: filled shapes leave out their right and
// bottom edge, a line leaves out its end point. Formats QPainter cannot draw
// on (1 bit, 4 and 8 bits with a palette) are drawn through a 32-bit copy and
// mapped back onto their palette.
#pragma once

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/colors.h"

class QPainter;

namespace platform {

// A picture that cannot be made from the data given.
class EInvalidGraphic : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
};

struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  // The pixels the rectangle covers: right and bottom edge excluded.
  QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
};

inline TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
inline TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// A palette entry as the platform stores it: red, green, blue, flags.
struct TPaletteEntry {
  std::uint8_t peRed = 0;
  std::uint8_t peGreen = 0;
  std::uint8_t peBlue = 0;
  std::uint8_t peFlags = 0;
};

class TCanvas;

class TBitmap {
public:
  // A new bitmap is empty (0 x 0) in the device format.
  TBitmap();
  TBitmap(int width, int height, TPixelFormat format);
  ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
  // Resizing keeps the pixels of the overlap; new pixels are zero.
  void SetWidth(int value);
  void SetHeight(int value);
  void SetSize(int width, int height);

  TPixelFormat PixelFormat() const { return FFormat; }
  // Converts the pixels that exist to the new format.
  void SetPixelFormat(TPixelFormat value);
  // A 1-bit bitmap whose two palette entries are black and white.
  bool Monochrome() const;
  // True turns the bitmap into 1 bit black and white; false on a 1-bit
  // bitmap keeps it as it is.
  void SetMonochrome(bool value);
  // Bits per pixel of the format; the device format is 32 bits.
  int BitsPerPixel() const;

  // Row Row, top row 0; no range check. Rows are 4-byte aligned.
  std::uint8_t* ScanLine(int row);
  const std::uint8_t* ScanLine(int row) const;
  // Bytes from one row to the next ((Width x bits + 31) div 32 x 4).
  int ScanLineSize() const;

  // The palette of the 1-, 4- and 8-bit formats (2, 16, 256 entries; none
  // for the others). Answer the number of entries read or written.
  int PaletteSize() const;
  int GetPaletteEntries(int start, int count, TPaletteEntry* entries) const;
  int SetPaletteEntries(int start, int count, const TPaletteEntry* entries);

  // Makes this bitmap a copy of source (size, format, palette, pixels).
  void Assign(const TBitmap& source);

  TCanvas& Canvas();

  // The pixels as a QImage that QPainter can draw from (4-bit pictures are
  // expanded). The picture's own storage where its format allows.
  QImage ToImage() const;
  // The storage itself (a 4-bit picture is held as 8-bit bytes of two pixels).
  QImage& Image() { return FImage; }
  const QImage& Image() const { return FImage; }
  // Replaces the pixels by image, taking the format from it where the
  // platform has one (others are converted to 32 bits).
  void SetImage(const QImage& image);

private:
  friend class TCanvas;
  void Reallocate(int width, int height, TPixelFormat format, bool keep);
  QImage::Format StorageFormat(TPixelFormat format) const;
  int StorageWidth(int width, TPixelFormat format) const;

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FFormat = pfDevice;
  QImage FImage;
  std::vector<TPaletteEntry> FPalette4; // 16 entries of a 4-bit picture
  std::unique_ptr<TCanvas> FCanvas;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode { pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
                pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor,
                pmNotXor };
enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross,
                   bsDiagCross };

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
  // A pattern brush (an 8 x 8 bitmap, tiled from the device origin) when not
  // null; a 1-bit pattern paints the canvas' text colour for 0 and its
  // background colour for 1.
  QImage Pattern;
};

enum TBackMode { bkTransparent = 1, bkOpaque = 2 };

struct TFont {
  std::string Name = "Sans Serif";
  int Size = 8; // points
  TColor Color = clWindowText;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  QFont ToQFont() const;
};

// Raster operations of the blits.
inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
inline constexpr std::uint32_t SRCPAINT = 0x00EE0086;
inline constexpr std::uint32_t SRCAND = 0x008800C6;
inline constexpr std::uint32_t SRCINVERT = 0x00660046;
inline constexpr std::uint32_t SRCERASE = 0x00440328;
inline constexpr std::uint32_t NOTSRCCOPY = 0x00330008;
inline constexpr std::uint32_t NOTSRCERASE = 0x001100A6;
inline constexpr std::uint32_t MERGEPAINT = 0x00BB0226;
inline constexpr std::uint32_t DSTINVERT = 0x00550009;
inline constexpr std::uint32_t BLACKNESS = 0x00000042;
inline constexpr std::uint32_t WHITENESS = 0x00FF0062;
// Source ? brush : destination, bit by bit: paints the brush where a
// monochrome source is white.
inline constexpr std::uint32_t DSPDxax = 0x00E20746;

class TCanvas {
public:
  // Draws on a bitmap (which owns the canvas).
  explicit TCanvas(TBitmap* bitmap);
  // Draws through a painter that is active for the canvas' lifetime (a
  // widget's paint event, a printer page).
  explicit TCanvas(QPainter* painter);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TPen Pen;
  TBrush Brush;
  TFont Font;
  TPoint PenPos;
  // Colours of monochrome copies and pattern brushes: a 0 bit becomes the
  // text colour, a 1 bit the background colour; a colour copied onto a
  // monochrome bitmap becomes 1 where it equals the source's background
  // colour. An opaque background fills the gaps of hatched brushes.
  TColor TextColor = clBlack;
  TColor BackColor = clWhite;
  TBackMode BackMode = bkOpaque;
  // The raster operation of CopyRect.
  std::uint32_t CopyMode = SRCCOPY;

  TBitmap* Bitmap() const { return FBitmap; }

  // Drawing is limited to the clip region while one is set.
  void SetClipRect(const TRect& r) { SetClipRegion(QRegion(r.ToQRect())); }
  void SetClipRegion(const QRegion& region);
  void RemoveClip();
  // Leaves r out of the clip region (out of everything when none is set).
  void ExcludeClipRect(const TRect& r);
  bool HasClip() const { return FHasClip; }
  const QRegion& ClipRegion() const { return FClip; }

  void MoveTo(int x, int y);
  // The end point is left out; the pen moves there.
  virtual void LineTo(int x, int y);
  void Polyline(const TPoint* points, int count);
  // Outline with the pen, interior with the brush; right and bottom edge
  // out. Without a pen the interior leaves out one more pixel right and
  // bottom (a 10 x 10 box fills 9 x 9).
  virtual void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // A rectangle with corners rounded by ellipses of width x height.
  virtual void RoundRect(int x1, int y1, int x2, int y2, int width, int height);
  virtual void Ellipse(int x1, int y1, int x2, int y2);
  // The part of the ellipse in the box from the ray through (x3, y3)
  // counter-clockwise to the ray through (x4, y4).
  virtual void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  virtual void Polygon(const TPoint* points, int count);
  // Brush only, right and bottom edge out.
  virtual void FillRect(const TRect& r);
  // One-pixel frame in the brush colour, inside the rectangle.
  virtual void FrameRect(const TRect& r);
  // The region's pixels in the brush, combined with what is there by the
  // pen's mode (a mask mode ANDs a pattern into the picture).
  virtual void FillRgn(const QRegion& region);
  // Copies source's rectangle of bitmap to dest, its pixels of colour
  // replaced by the brush.
  void BrushCopy(const TRect& dest, const TBitmap& bitmap, const TRect& source, TColor color);

  TColor Pixels(int x, int y);
  void SetPixels(int x, int y, TColor color);

  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);

  void Draw(int x, int y, const TBitmap& bitmap);
  void StretchDraw(const TRect& dest, const TBitmap& bitmap);
  void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);

  // Runs a drawing on a painter set up for this canvas (no pen or brush
  // chosen); for a bitmap of a format Qt cannot draw on, the drawing is made
  // on a 32-bit copy and mapped back.
  void Paint(const std::function<void(QPainter&)>& draw);

  // The pixels of this canvas in rectangle r as a 32-bit picture (drawn
  // content of a painter canvas is read only when its device is an image).
  QImage Grab(const QRect& r);

  // The brush as Qt paints it (pattern, hatch over an opaque background).
  QBrush QtBrush() const;

private:
  void Apply(QPainter& p, bool pen, bool brush) const;
  TBitmap* FBitmap = nullptr;
  QPainter* FPainter = nullptr;
  QRegion FClip;
  bool FHasClip = false;
};

// Copies a rectangle between canvases with a raster operation; operations Qt
// has no mode for are computed per pixel.
bool BitBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int sourceX,
            int sourceY, std::uint32_t rop);
bool StretchBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int sourceX,
                int sourceY, int sourceWidth, int sourceHeight, std::uint32_t rop);

// Copies a rectangle leaving out the source pixels of colour key.
bool TransparentBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int sourceX,
                    int sourceY, int sourceWidth, int sourceHeight, TColor key);

// Draws image into dest, stretched without smoothing, with a raster
// operation; the common path of the blits and the DIB painting.
void DrawImageRop(TCanvas& dest, const QRect& destRect, const QImage& image, const QRect& sourceRect,
                  std::uint32_t rop);

// A device-independent bitmap's header: 40 bytes, bottom-up when the height
// is positive.
struct TBitmapInfoHeader {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

struct TRGBQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
};

struct TBitmapInfo {
  TBitmapInfoHeader bmiHeader;
  TRGBQuad bmiColors[256];
};

inline constexpr std::uint32_t DIB_RGB_COLORS = 0;

// A QImage over the rows of a DIB (1, 8, 24 or 32 bits, uncompressed) in
// their stored order, without copying: for a bottom-up DIB the image's top
// row is the picture's bottom row. Null for other layouts.
QImage DIBRowsAsImage(const void* bits, const TBitmapInfo& info);

// Paints the source rectangle of a DIB onto the destination rectangle. As
// on the platform, sourceY of a bottom-up DIB counts from its bottom row.
// Answers the number of rows painted (0 on failure).
int StretchDIBits(TCanvas& dest, int x, int y, int width, int height, int sourceX, int sourceY,
                  int sourceWidth, int sourceHeight, const void* bits, const TBitmapInfo& info,
                  std::uint32_t usage, std::uint32_t rop);

// Edges and flags of DrawEdge.
inline constexpr unsigned BDR_RAISEDOUTER = 0x0001;
inline constexpr unsigned BDR_SUNKENOUTER = 0x0002;
inline constexpr unsigned BDR_RAISEDINNER = 0x0004;
inline constexpr unsigned BDR_SUNKENINNER = 0x0008;
inline constexpr unsigned EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
inline constexpr unsigned EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
inline constexpr unsigned EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
inline constexpr unsigned EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
inline constexpr unsigned BF_LEFT = 0x0001;
inline constexpr unsigned BF_TOP = 0x0002;
inline constexpr unsigned BF_RIGHT = 0x0004;
inline constexpr unsigned BF_BOTTOM = 0x0008;
inline constexpr unsigned BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
inline constexpr unsigned BF_MIDDLE = 0x0800;
// Soft buttons: the outer raised band's light side is the highlight and the
// inner one's the lighter face.
inline constexpr unsigned BF_SOFT = 0x1000;
inline constexpr unsigned BF_ADJUST = 0x2000;

// Draws a 3-D edge in the classic system colours; with BF_ADJUST the
// rectangle shrinks by the edge drawn.
void DrawEdge(TCanvas& canvas, TRect& rect, unsigned edge, unsigned flags);

// 0x00RRGGBB of a colour (system colours resolved), for QColor.
QRgb ColorToQRgb(TColor color);

} // namespace platform
