#include "controls/kel/kelglyph.h"

#include <algorithm>

namespace kel {

using namespace platform;

namespace {
std::unique_ptr<TKelGlyphCache> gCache;
int gGlyphCount = 0;
} // namespace

TKelGlyphCache* KelGlyphCache() { return gCache.get(); }

// ---------------------------------------------------------------- TKelGlyphList

TKelGlyphList::TKelGlyphList(int width, int height) {
  SetWidth(width);
  SetHeight(height);
  SetMasked(true);
  SetAllocBy(1);
}

int TKelGlyphList::AddMasked(const TBitmap& image, TColor transparentColor) {
  auto free = std::find(FUsed.begin(), FUsed.end(), false);
  int position;
  if (free == FUsed.end()) {
    position = AllocImage();
    FUsed.push_back(true);
  } else {
    position = static_cast<int>(free - FUsed.begin());
    *free = true;
  }
  ReplaceMasked(position, &image, transparentColor);
  ++FUseCount;
  return position;
}

void TKelGlyphList::Delete(int position) {
  if (position < 0 || position >= static_cast<int>(FUsed.size()) || !FUsed[std::size_t(position)]) return;
  FUsed[std::size_t(position)] = false;
  --FUseCount;
}

// ---------------------------------------------------------------- TKelGlyphCache

TKelGlyphList& TKelGlyphCache::GetList(int width, int height) {
  for (const auto& list : FLists)
    if (list->Width() == width && list->Height() == height) return *list;
  FLists.push_back(std::make_unique<TKelGlyphList>(width, height));
  return *FLists.back();
}

void TKelGlyphCache::ReturnList(TKelGlyphList* list) {
  if (list == nullptr || list->UseCount() > 0) return;
  FLists.erase(std::remove_if(FLists.begin(), FLists.end(), [list](const auto& l) { return l.get() == list; }),
               FLists.end());
}

std::int64_t TKelGlyphCache::Bytes() const {
  std::int64_t bytes = 0;
  for (const auto& list : FLists)
    bytes += list->ImageBitmap().Image().sizeInBytes() + list->MaskBitmap().Image().sizeInBytes();
  return bytes;
}

// ---------------------------------------------------------------- TKelGlyph

TKelGlyph::TKelGlyph() {
  std::fill(std::begin(FIndexs), std::end(FIndexs), -1);
  if (!gCache) gCache = std::make_unique<TKelGlyphCache>();
  ++gGlyphCount;
}

TKelGlyph::~TKelGlyph() {
  Invalidate();
  if (--gGlyphCount == 0 && gCache && gCache->Empty()) gCache.reset();
}

void TKelGlyph::Invalidate() {
  if (FGlyphList != nullptr) {
    for (int& index : FIndexs)
      if (index >= 0) FGlyphList->Delete(index);
    if (gCache) gCache->ReturnList(FGlyphList);
  }
  FGlyphList = nullptr;
  std::fill(std::begin(FIndexs), std::end(FIndexs), -1);
}

void TKelGlyph::SetGlyph(const TBitmap& value) {
  Invalidate();
  FOriginal.Assign(value);
  if (FOriginal.Height() > 0) {
    FTransparentColor = KelBitmapTransparentColor(FOriginal);
    if (FOriginal.Width() % FOriginal.Height() == 0) {
      const int n = FOriginal.Width() / FOriginal.Height();
      FNumGlyphs = n <= 5 && n > 0 ? n : 1;
    }
  }
  if (OnChange) OnChange();
}

void TKelGlyph::SetNumGlyphs(int value) {
  if (value <= 0 || value == FNumGlyphs) return;
  Invalidate();
  FNumGlyphs = value;
  if (OnChange) OnChange();
}

void TKelGlyph::SetGrayMode(bool value) {
  if (value == FGrayMode) return;
  Invalidate();
  FGrayMode = value;
}

int TKelGlyph::CreateStateImage(int state) {
  if (FOriginal.Empty() || state < 0 || state > 8) return -1;
  // Images narrower than a pixel cannot be drawn: no glyph rather than a fault.
  const int width = FOriginal.Width() / FNumGlyphs, height = FOriginal.Height();
  if (width <= 0) return -1;
  int index = state;
  if (state == 1 || state == 7) index = 1;
  else if (state >= FNumGlyphs) index = FGrayMode ? (state == 6 ? 4 : 2) : 0;
  if (FIndexs[index] >= 0) return FIndexs[index];
  if (FGlyphList == nullptr) FGlyphList = &gCache->GetList(width, height);
  TBitmap image;
  if (index < FNumGlyphs && !(index == 0 && FGrayMode)) {
    image.SetPixelFormat(pf24bit);
    image.SetSize(width, height);
    BitBlt(image.Canvas(), 0, 0, width, height, FOriginal.Canvas(), index * width, 0, SRCCOPY);
  } else {
    TBitmap first(width, height, pf24bit);
    BitBlt(first.Canvas(), 0, 0, width, height, FOriginal.Canvas(), 0, 0, SRCCOPY);
    if (index == 1) {
      image.SetPixelFormat(pf24bit);
      image.SetSize(width, height);
      KelDrawDisabledEmbossed(image, first, 0, 0);
    } else if (FGrayMode && index == 0) {
      KelMakeDisabledGlyph(image, first);
    } else {
      image.Assign(first);
    }
  }
  FIndexs[index] = FGlyphList->AddMasked(image, FTransparentColor);
  return FIndexs[index];
}

TKelLayoutRects TKelGlyph::Draw(TCanvas& canvas, const TRect& rect, const std::string& caption, int state,
                                const TKelGlyphTextLayout& layout, unsigned flags, TKel3DCaption* captionStyle,
                                bool multiLine) {
  const int position = CreateStateImage(state);
  if (position < 0)
    return KelCalcGlyphTextLayout(canvas, caption, nullptr, TRect{}, nullptr, clNone, layout, rect, flags,
                                  captionStyle, multiLine);
  return KelCalcGlyphTextLayout(canvas, caption, &FGlyphList->ImageBitmap(), FGlyphList->GetImageRect(position),
                                &FGlyphList->MaskBitmap(), FTransparentColor, layout, rect, flags, captionStyle,
                                multiLine);
}

} // namespace kel
