// A graphic button's glyph: a strip of NumGlyphs equal images, one image
// prepared per button state on demand and kept in strips shared by all
// glyphs of the same size through one global cache.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/kel/kelcont.h"
#include "controls/kel/kelgraph.h"

namespace kel {

// A masked image strip of one size whose positions glyphs borrow.
class TKelGlyphList : public TKelImageListItem {
public:
  TKelGlyphList(int width, int height);

  // Takes the first free position (the strip grows by one image when all are
  // in use) and stores image there with the mask of transparentColor.
  int AddMasked(const TBitmap& image, TColor transparentColor);
  void Delete(int position);
  int UseCount() const { return FUseCount; }

private:
  std::vector<bool> FUsed;
  int FUseCount = 0;
};

class TKelGlyphCache {
public:
  TKelGlyphList& GetList(int width, int height);
  // Frees a list nobody uses any more.
  void ReturnList(TKelGlyphList* list);
  bool Empty() const { return FLists.empty(); }
  int ListCount() const { return static_cast<int>(FLists.size()); }
  // Bytes held by the strips and masks of every list.
  std::int64_t Bytes() const;

private:
  std::vector<std::unique_ptr<TKelGlyphList>> FLists;
};

// The cache of the running glyphs (none while no glyph exists).
TKelGlyphCache* KelGlyphCache();

class TKelGlyph {
public:
  TKelGlyph();
  ~TKelGlyph();
  TKelGlyph(const TKelGlyph&) = delete;
  TKelGlyph& operator=(const TKelGlyph&) = delete;

  const TBitmap& Glyph() const { return FOriginal; }
  void SetGlyph(const TBitmap& value);
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int value);
  bool GrayMode() const { return FGrayMode; }
  void SetGrayMode(bool value);
  TColor TransparentColor() const { return FTransparentColor; }
  bool HasMouseOverGlyph() const { return FNumGlyphs >= 3; }
  std::function<void()> OnChange;

  // The glyph list position of the state's image, prepared when missing;
  // -1 when there is no image to draw.
  int CreateStateImage(int state);
  TKelGlyphList* GlyphList() const { return FGlyphList; }
  // Places and draws glyph, caption and arrow.
  TKelLayoutRects Draw(TCanvas& canvas, const TRect& rect, const std::string& caption, int state,
                       const TKelGlyphTextLayout& layout, unsigned flags, TKel3DCaption* captionStyle,
                       bool multiLine);
  // Drops every prepared image.
  void Invalidate();

private:
  TBitmap FOriginal;
  TKelGlyphList* FGlyphList = nullptr;
  int FIndexs[9];
  int FNumGlyphs = 1;
  bool FGrayMode = false;
  TColor FTransparentColor = platform::clOlive;
};

} // namespace kel
