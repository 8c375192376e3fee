#include "image/io/rvwriteconv.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

#include "image/model/rvcolorconv.h"
#include "image/model/rvmask.h"

namespace rv {

namespace {

std::uint32_t PackedAt(const std::uint8_t* P) {
  return (std::uint32_t{P[2]} << 16) | (std::uint32_t{P[1]} << 8) | P[0];
}

TRGB FromPacked(std::uint32_t V) {
  TRGB C;
  C.b = static_cast<std::uint8_t>(V);
  C.g = static_cast<std::uint8_t>(V >> 8);
  C.r = static_cast<std::uint8_t>(V >> 16);
  return C;
}

} // namespace

TRvBitmap* RvAs24Bit(TRvBitmap& Bitmap, std::unique_ptr<TRvBitmap>& Holder) {
  if (Bitmap.Width() < 1 || Bitmap.Height() < 1 || Bitmap.PixelFormat() == rvpfNone) return nullptr;
  if (Bitmap.PixelFormat() == rvpf24Bit) return &Bitmap;
  try {
    Holder = std::make_unique<TRvBitmap>();
    Holder->Assign(&Bitmap);
    Holder->ConvertPixelFormat(rvpf24Bit);
  } catch (const std::bad_alloc&) {
    Holder.reset();
    return nullptr;
  }
  if (Holder->PixelFormat() != rvpf24Bit || Holder->Width() != Bitmap.Width()) return nullptr;
  return Holder.get();
}

TRvBitmap* RvAsBlackWhite(TRvBitmap& Bitmap, std::unique_ptr<TRvBitmap>& Holder, TRGB Palette[2]) {
  RvCreateRGB(0, 0, 0, Palette[0]);
  RvCreateRGB(255, 255, 255, Palette[1]);
  if (Bitmap.Width() < 1 || Bitmap.Height() < 1 || Bitmap.PixelFormat() == rvpfNone) return nullptr;
  if (Bitmap.PixelFormat() == rvpf1Bit) return &Bitmap;
  try {
    std::unique_ptr<TRvBitmap> Color24;
    TRvBitmap* Source = RvAs24Bit(Bitmap, Color24);
    if (Source == nullptr) return nullptr;
    TRGB Dark, Light;
    if (auto TwoColors = RvTwoColorsToBW(Source, Dark, Light)) {
      Holder = std::move(TwoColors);
      Palette[0] = Dark;
      Palette[1] = Light;
      return Holder.get();
    }
    Holder = std::make_unique<TRvBitmap>();
    Holder->Assign(Source);
    Holder->ConvertPixelFormat(rvpf1Bit);
  } catch (const std::bad_alloc&) {
    Holder.reset();
    return nullptr;
  }
  if (Holder->PixelFormat() != rvpf1Bit || Holder->Width() != Bitmap.Width()) return nullptr;
  return Holder.get();
}

bool RvAllGray(TRvBitmap& Bitmap24) {
  for (int Y = 0; Y < Bitmap24.Height(); ++Y) {
    const std::uint8_t* Row = Bitmap24.Scanline(Y);
    for (int X = 0; X < Bitmap24.Width(); ++X, Row += 3)
      if (Row[0] != Row[1] || Row[1] != Row[2]) return false;
  }
  return true;
}

bool RvIndexesInPalette(TRvBitmap& Bitmap, const TRvMask* Alpha, const TRGB* Palette,
                        const std::uint8_t* PaletteAlpha, int Count, std::vector<std::uint8_t>& Indexes) {
  Count = std::min(Count, 256);
  if (Palette == nullptr || Count < 1) return false;
  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Source = RvAs24Bit(Bitmap, Holder);
  if (Source == nullptr) return false;
  // Colour and alpha as one key; the first entry of a key wins.
  std::unordered_map<std::uint32_t, std::uint8_t> Entries;
  int Clear = -1;
  for (int I = Count - 1; I >= 0; --I) {
    const std::uint32_t A = PaletteAlpha != nullptr ? PaletteAlpha[I] : 255;
    Entries[(A << 24) | PackedAt(&Palette[I].b)] = static_cast<std::uint8_t>(I);
    if (A == 0) Clear = I;
  }
  const bool Masked = Alpha != nullptr && !Alpha->Full();
  const int W = Source->Width(), H = Source->Height();
  try {
    Indexes.assign(static_cast<std::size_t>(W) * static_cast<std::size_t>(H), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // No key is free to mark "none yet": opaque white is 0xFFFFFFFF.
  std::uint32_t LastKey = 0;
  int LastIndex = -2;
  for (int Y = 0; Y < H; ++Y) {
    const std::uint8_t* Row = Source->Scanline(Y);
    const bool MaskRow = Masked && Y < Alpha->Height();
    const std::uint8_t* AlphaRow = MaskRow && Alpha->BitCount() == 8 ? Alpha->ScanLine(Y) : nullptr;
    std::uint8_t* Out = Indexes.data() + static_cast<std::size_t>(Y) * W;
    for (int X = 0; X < W; ++X, Row += 3) {
      std::uint32_t A = 255;
      if (MaskRow && X < Alpha->Width())
        A = AlphaRow != nullptr ? AlphaRow[X] : (Alpha->GetPixel(X, Y) != 0 ? 255 : 0);
      const std::uint32_t Key = (A << 24) | PackedAt(Row);
      if (Key != LastKey || LastIndex == -2) {
        const auto It = Entries.find(Key);
        LastIndex = It != Entries.end() ? It->second : (A == 0 ? Clear : -1);
        LastKey = Key;
      }
      if (LastIndex < 0) return false;
      Out[X] = static_cast<std::uint8_t>(LastIndex);
    }
  }
  return true;
}

std::vector<bool> RvRepeatedEntries(const TRGB* Palette, int Count) {
  std::vector<bool> Repeated(static_cast<std::size_t>(std::max(Count, 0)));
  std::unordered_set<std::uint32_t> Seen;
  for (int I = 0; I < Count; ++I) Repeated[static_cast<std::size_t>(I)] = !Seen.insert(PackedAt(&Palette[I].b)).second;
  return Repeated;
}

TRvPaletteMapper::TRvPaletteMapper(TRvBitmap& Bitmap24, TRGB* Palette, int Count) {
  for (int I = 0; I < Count; ++I) Palette[I] = TRGB{};
  // A picture with no more colours than entries keeps its colours exactly,
  // so that a palette file read and written again stays the same.
  bool Fits = true;
  for (int Y = 0; Y < Bitmap24.Height() && Fits; ++Y) {
    const std::uint8_t* Row = Bitmap24.Scanline(Y);
    for (int X = 0; X < Bitmap24.Width(); ++X) {
      const std::uint32_t C = PackedAt(Row + 3 * X);
      if (FExact.count(C) != 0) continue;
      if (static_cast<int>(FExact.size()) == Count) {
        Fits = false;
        break;
      }
      const int Index = static_cast<int>(FExact.size());
      FExact.emplace(C, Index);
      Palette[Index] = FromPacked(C);
    }
  }
  if (Fits) return;
  FExact.clear();
  for (int I = 0; I < Count; ++I) Palette[I] = TRGB{};
  FQuantizer = std::make_unique<TRvQuantizer>(&Bitmap24, Palette, Count);
}

TRvPaletteMapper::~TRvPaletteMapper() = default;

int TRvPaletteMapper::Index(const std::uint8_t* BGR) const {
  const std::uint32_t C = PackedAt(BGR);
  if (FQuantizer) return FQuantizer->RGBIndex(C);
  const auto It = FExact.find(C);
  return It == FExact.end() ? 0 : It->second;
}

} // namespace rv
