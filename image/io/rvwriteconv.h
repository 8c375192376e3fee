// Colour reductions the simple writers need before they can write a depth:
// a 24-bit view of any picture, black and white, and a palette (exact when
// the picture has few enough colours, quantised otherwise).
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "image/model/rvbitmap.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvquantizer.h"

namespace rv {

class TRvMask;

// The picture itself when it is 24-bit, else a 24-bit copy held in Holder.
// Null when the picture is empty or cannot be converted.
TRvBitmap* RvAs24Bit(TRvBitmap& Bitmap, std::unique_ptr<TRvBitmap>& Holder);

// A 1-bit picture (a set bit is white): the picture itself when it is 1-bit;
// a two-colour picture with its lighter colour as the set bits (Palette 0
// and 1 := its dark and light colours); any other a converted copy (Palette
// := black, white). Null when the picture is empty or cannot be converted.
TRvBitmap* RvAsBlackWhite(TRvBitmap& Bitmap, std::unique_ptr<TRvBitmap>& Holder, TRGB Palette[2]);

// Every pixel of a 24-bit picture a shade of gray.
bool RvAllGray(TRvBitmap& Bitmap24);

// The picture's pixels as indexes into the palette its file was read with,
// so that a save writes the file's own entries in their order and a
// palette whose indices mean something stays as it was. Each pixel takes
// the first entry of its colour and opacity; a wholly transparent pixel
// takes the first wholly transparent entry when none has its colour.
// PaletteAlpha may be null (every entry opaque); Alpha may be null or full.
// Indexes receives width x height bytes, top row first. False when a pixel
// is in no entry, as after a resize or a colour conversion: the caller then
// chooses a palette of its own.
bool RvIndexesInPalette(TRvBitmap& Bitmap, const TRvMask* Alpha, const TRGB* Palette,
                        const std::uint8_t* PaletteAlpha, int Count, std::vector<std::uint8_t>& Indexes);

// For each of Count palette entries, whether an earlier entry has its
// colour: pixels of such an entry cannot be told from the earlier one's.
std::vector<bool> RvRepeatedEntries(const TRGB* Palette, int Count);

// Maps the colours of a 24-bit picture to at most Count palette entries:
// the picture's own colours when it has no more than Count, else the
// quantiser's. Palette receives Count entries (unused ones black).
class TRvPaletteMapper {
public:
  TRvPaletteMapper(TRvBitmap& Bitmap24, TRGB* Palette, int Count);
  ~TRvPaletteMapper();
  TRvPaletteMapper(const TRvPaletteMapper&) = delete;
  TRvPaletteMapper& operator=(const TRvPaletteMapper&) = delete;

  int Index(const std::uint8_t* BGR) const;
  bool Exact() const { return FQuantizer == nullptr; }

private:
  std::unordered_map<std::uint32_t, int> FExact;
  std::unique_ptr<TRvQuantizer> FQuantizer;
};

} // namespace rv
