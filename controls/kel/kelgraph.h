// The control library's drawing routines: frames, bevel bands, drop shadows,
// drop-down arrows, disabled glyphs, colour ramps and gradients, bitmaps
// drawn by style, caption text with effects, and the placement of glyph,
// caption and arrow inside a button. They keep no state of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelcaption.h"
#include "controls/kel/keltypes.h"
#include "platform/graphics.h"

namespace kel {

using platform::TBitmap;
using platform::TCanvas;
using platform::TRect;

// Round to the nearest integer, halves to the even neighbour.
int KelRound(double value);
// The same in extended precision, for ratios that must not lose digits.
int KelRoundExtended(long double value);
// number x numerator / denominator rounded half away from zero; -1 for a
// zero denominator.
int KelMulDiv(int number, int numerator, int denominator);

// The canvas' clip, restored when the scope ends.
class TKelClipScope {
public:
  explicit TKelClipScope(TCanvas& canvas) : FCanvas(canvas), FHad(canvas.HasClip()), FOld(canvas.ClipRegion()) {}
  ~TKelClipScope() {
    if (FHad) FCanvas.SetClipRegion(FOld);
    else FCanvas.RemoveClip();
  }
  void Intersect(const QRegion& region) {
    FCanvas.SetClipRegion(FCanvas.HasClip() ? FCanvas.ClipRegion().intersected(region) : region);
  }
  TKelClipScope(const TKelClipScope&) = delete;
  TKelClipScope& operator=(const TKelClipScope&) = delete;

private:
  TCanvas& FCanvas;
  bool FHad;
  QRegion FOld;
};

// Drawing flags of KelDrawBitmapStyled and KelDrawBitmap.
inline constexpr unsigned kbfClip = 1, kbfCenter = 8, kbfStretch = 16, kbfKeepHeight = 512,
                          kbfKeepWidth = 1024, kbfKeepAspect = 1536, kbfTile = 32,
                          kbfTransparentColor = 64, kbfOwnTransparent = 128, kbfMask = 256,
                          kbfRealizePalette = 4096;
// Flags of KelGradientFill.
inline constexpr unsigned kgfClip = 1, kgfOffscreen = 4, kgfRealizePalette = 4096;
// Flags of KelDrawFxText.
inline constexpr unsigned kfxEnabled = 2, kfxAutoSunken = 4, kfxClip = 8;
// Flags of KelCalcGlyphTextLayout.
inline constexpr unsigned kglEnabled = 2, kglRelative = 32, kglFocusCaption = 64, kglFocusUnion = 256,
                          kglMeasureOnly = 512, kglKeepInside = 1024;

// Text formats of the text routines.
inline constexpr unsigned DT_LEFT = 0, DT_CENTER = 1, DT_RIGHT = 2, DT_VCENTER = 4, DT_BOTTOM = 8,
                          DT_WORDBREAK = 0x10, DT_SINGLELINE = 0x20, DT_EXPANDTABS = 0x40,
                          DT_NOCLIP = 0x100, DT_CALCRECT = 0x400, DT_NOPREFIX = 0x800;

bool KelDrawFrame(TCanvas& canvas, TRect& rect, TKelBorderStyle style, unsigned extraFlags = 0);
int KelFrameWidth(TKelBorderStyle style);
// False for bvNone and bvShadow (nothing drawn).
bool KelDrawBevelFrame(TCanvas& canvas, TRect& rect, TKelBevelStyle style, int width, TColor shadowColor,
                       TColor lightColor);
bool KelDrawShadowFrame(TCanvas& canvas, TRect& rect, TColor ringColor, bool transparent, int rings, int depth,
                        TColor cornerColor, TColor shadowColor);
// Sizes 2..15; other sizes draw nothing.
void KelDrawArrow(TCanvas& canvas, int x, int y, bool enabled, bool pointDown, TColor color, int size);
void KelFillSolidBitmap(TBitmap& bitmap, const TRect& rect, TColor color);
// Four-tone disabled copy.
void KelMakeDisabledGlyph(TBitmap& dest, const TBitmap& source);
// The embossed look: source's black pixels in highlight, one pixel down and
// right, under the same in shadow; everything else the transparent colour.
void KelDrawDisabledEmbossed(TBitmap& dest, const TBitmap& source, int x, int y);
// A monochrome copy of source: white where it shows color, black elsewhere.
void KelMakeMonoMask(TBitmap& mask, const TBitmap& source, const TRect& sourceRect, TColor color);
// Splits image into a colour image whose pixels of color are black and
// its mask (white there).
void KelMaskTransparentColor(TBitmap& image, TBitmap& mask, const TBitmap& source, TColor color);
TColor KelBlendColor(TColor color0, TColor color1, int index, int count);

using TKelColorTable = std::vector<std::uint32_t>; // RGB values 0x00BBGGRR
void KelMakeColorSteps(TColor start, TColor end, int count, bool clearFirst, TKelColorTable* list);
// A logical palette of the colours (entries flagged PC_NOCOLLAPSE); none for
// an empty list. True-colour displays need no realization.
using TKelPalette = std::vector<platform::TPaletteEntry>;
std::unique_ptr<TKelPalette> KelCreateColorPalette(const TKelColorTable* list);
void KelGradientFill(TCanvas& canvas, const TRect& rect, TKelGradientStyle style, std::uint32_t clipOffset,
                     unsigned flags, const TKelPalette* palette, const TKelColorTable* colors);

TRect KelAlignRect(TKelAlignment alignment, const TRect& container, const TRect& item);

// Where KelDrawBitmapStyled puts a w x h picture inside rect: one target, or
// the tiles row by row.
std::vector<TRect> KelStyledTargets(const TRect& rect, int w, int h, unsigned flags);
// The drawing flags a bitmap style stands for (sbNone and sbAutosize: none).
unsigned KelBitmapStyleFlags(TKelBitmapStyle style);

void KelDrawBitmapStyled(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, const TBitmap* mask,
                         TColor transparentColor, unsigned flags, const TRect& sourceRect);
void KelDrawBitmap(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, TColor transparentColor,
                   std::uint32_t clipOffset, unsigned flags);
void KelDrawBitmapRect(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, TColor transparentColor,
                       unsigned flags);
// Bitmap drawn into rect except where background (or, without one, bitmap
// itself) shows transparentColor; those pixels take backColor unless it is
// clNone.
void KelDrawTransparentBitmap(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, TColor transparentColor,
                              TColor backColor, const TBitmap* background);

// Shifts a rectangle by a packed offset: low 16 bits x, high 16 bits y.
TRect KelOffsetRect(const TRect& rect, std::uint32_t clipOffset);

// Draws text into rect with the text format; "&" marks the accelerator
// unless DT_NOPREFIX. With DT_CALCRECT nothing is drawn and rect takes the
// text's extent.
void KelDrawText(TCanvas& canvas, const std::string& text, TRect& rect, unsigned format, TColor color);
void KelDrawFxText(TCanvas& canvas, const std::string& text, TKel3DCaption* style, unsigned flags,
                   unsigned format, const TRect& rect);
void KelCalcTextRect(TCanvas& canvas, TKel3DCaption* style, const std::string& text, int margin, bool multiLine,
                     bool prefix, TRect& rect);
bool KelIsTrueTypeFont(TCanvas& canvas);

struct TKelLayoutRects {
  TRect Caption;
  TRect Glyph;
  TRect Union;
  TRect Focus;
};

// glyph may be null; mask, when given, is used instead of the transparent
// colour. arrowFlag moves a right-hand arrow to caption right - (size + 1).
TKelLayoutRects KelCalcGlyphTextLayout(TCanvas& canvas, const std::string& text, const TBitmap* glyph,
                                       const TRect& glyphSource, const TBitmap* mask, TColor transparentColor,
                                       const TKelGlyphTextLayout& layout, const TRect& rect, unsigned flags,
                                       TKel3DCaption* captionStyle, bool multiLine = false,
                                       bool arrowFlag = false);

} // namespace kel
