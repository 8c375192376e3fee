#include "image/io/gif/gifwrite.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/io/gif/gifturn.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvwriteconv.h"
#include "image/model/rvcolorconv.h"
#include "image/model/rvlists.h"
#include "image/model/rvmask.h"

namespace rv {

namespace {

void Report(TRvProgressRec& Progress, int Percent) {
  if (Progress.OnProgress) Progress.OnProgress(Progress.Sender, Percent);
}

void PutLE16(std::uint8_t* P, int V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}

// GIF numbers are 16 bits wide; larger values would wrap into other ones.
int Fit16(int V) { return std::clamp(V, 0, 0xFFFF); }

// The working picture as palette indices, row after row, with the palette
// and the indices of the background and transparent colours. False when the
// picture cannot be converted.
struct TGifIndexed {
  TRvBuffer Indices;
  TRGB Palette[256];
  int Background = 0;
  bool HasTransparent = false;
  int Transparent = 0;
};

// Where the picture shows through, one byte a pixel (1: less than half
// opaque, as a GIF, which has no partial transparency, must show it); empty
// when nothing does.
std::vector<std::uint8_t> ClearPixels(const TRvMask* Alpha, int Width, int Height) {
  std::vector<std::uint8_t> Clear;
  if (Alpha == nullptr || Alpha->Full()) return Clear;
  bool Any = false;
  const int W = std::min(Width, Alpha->Width()), H = std::min(Height, Alpha->Height());
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      const int A = Alpha->GetPixel(X, Y);
      if (Alpha->BitCount() == 8 ? A >= 128 : A != 0) continue;
      if (!Any) Clear.assign(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height), 0);
      Any = true;
      Clear[static_cast<std::size_t>(Y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(X)] = 1;
    }
  return Clear;
}

// How the written file says which pixels show through.
struct TGifKey {
  // The pixels, from the picture's mask.
  std::vector<std::uint8_t> Clear;
  // The transparent entry of the table the picture was read with, when
  // Params still name it: -1 otherwise.
  int FileIndex = -1;
  // A colour asked to be transparent (the save options'), when the picture
  // has no transparency of its own.
  bool ByColour = false;
};

TGifKey KeyOf(const TRvMask* Alpha, int Width, int Height, const TIOParamsVals& Params) {
  TGifKey Key;
  Key.Clear = ClearPixels(Alpha, Width, Height);
  if (!Params.GifHasTransparentColor) return Key;
  // The reader's colour for an index past the table is black.
  const int I = Params.GifTransparentIndex;
  const std::uint32_t FileColour =
      I >= 0 && I < Params.ColorMapCount && Params.ColorMap ? RvRGBToPacked(Params.ColorMap[I]) : 0;
  if (I >= 0 && FileColour == RvRGBToPacked(Params.GifTransparentColor)) Key.FileIndex = I;
  else Key.ByColour = Key.Clear.empty();
  return Key;
}

// The picture in the table it was read with (its entries, their order and
// its transparent entry), when every pixel still is one of its entries.
bool IndexInFileTable(TRvBitmap& Bitmap, const TRvMask* Alpha, int Bits, const TIOParamsVals& Params,
                      const TGifKey& Key, TGifIndexed& Out) {
  if (!Params.ColorMap || Params.ColorMapCount < 1) return false;
  const int Count = std::min(Params.ColorMapCount, 1 << Bits);
  const bool OwnKey = Key.FileIndex >= 0 && Key.FileIndex < Count;
  std::uint8_t Opacity[256];
  std::fill(Opacity, Opacity + Count, 255);
  if (OwnKey) Opacity[Key.FileIndex] = 0;
  std::vector<std::uint8_t> Indexes;
  if (!RvIndexesInPalette(Bitmap, Alpha, Params.ColorMap.get(), OwnKey ? Opacity : nullptr, Count, Indexes))
    return false;
  std::copy(Indexes.begin(), Indexes.end(), Out.Indices.Data());
  std::copy_n(Params.ColorMap.get(), Count, Out.Palette);
  Out.Background = RvNearestPaletteIndex(Out.Palette, Count, RvRGBToPacked(Params.GifBackground));
  Out.HasTransparent = OwnKey || Key.ByColour;
  Out.Transparent = OwnKey ? Key.FileIndex
                           : RvNearestPaletteIndex(Out.Palette, Count, RvRGBToPacked(Params.GifTransparentColor));
  return true;
}

// A picture of no more than two colours keeps them; a 1-bit one, and one of
// more colours, is black and white.
bool IndexTwoColours(TRvBitmap& Bitmap, const TIOParamsVals& Params, const TGifKey& Key, TGifIndexed& Out) {
  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Work = RvAsBlackWhite(Bitmap, Holder, Out.Palette);
  if (Work == nullptr || Work->Height() != Bitmap.Height()) return false;
  const std::size_t Width = static_cast<std::size_t>(Work->Width());
  for (int Y = 0; Y < Work->Height(); ++Y) {
    const std::uint8_t* Row = Work->Scanline(Y);
    std::uint8_t* Dest = Out.Indices.Data() + static_cast<std::size_t>(Y) * Width;
    for (std::size_t X = 0; X < Width; ++X) Dest[X] = (Row[X >> 3] >> (7 - (X & 7))) & 1;
  }
  Out.Background = RvNearestPaletteIndex(Out.Palette, 2, RvRGBToPacked(Params.GifBackground));
  Out.HasTransparent = Key.ByColour;
  Out.Transparent = RvNearestPaletteIndex(Out.Palette, 2, RvRGBToPacked(Params.GifTransparentColor));
  return true;
}

// A palette of the picture's own colours, or the quantiser's when they are
// more than it holds. Pixels that show through take an entry of their own,
// the last one, and leave the others to the rest.
bool IndexColors(TRvBitmap& Bitmap, int Bits, const TIOParamsVals& Params, const TGifKey& Key, TGifIndexed& Out) {
  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Work = RvAs24Bit(Bitmap, Holder);
  if (Work == nullptr) return false;
  const int Count = 1 << Bits;
  const bool Masked = !Key.Clear.empty();
  const std::size_t Width = static_cast<std::size_t>(Work->Width());
  if (Masked) {
    // What shows through takes the colour of a pixel that does not, so
    // that it costs the others no entry.
    if (Holder == nullptr) {
      Holder = std::make_unique<TRvBitmap>();
      Holder->Assign(Work);
      Work = Holder.get();
      if (Work->Width() != Bitmap.Width() || Work->Height() != Bitmap.Height()) return false;
    }
    const auto Opaque = std::find(Key.Clear.begin(), Key.Clear.end(), 0);
    const std::size_t First = static_cast<std::size_t>(Opaque - Key.Clear.begin());
    std::uint8_t Fill[3] = {0, 0, 0};
    if (Opaque != Key.Clear.end())
      std::memcpy(Fill, Work->Scanline(static_cast<int>(First / Width)) + 3 * (First % Width), 3);
    for (int Y = 0; Y < Work->Height(); ++Y) {
      std::uint8_t* Row = Work->Scanline(Y);
      const std::uint8_t* Clear = Key.Clear.data() + static_cast<std::size_t>(Y) * Width;
      for (std::size_t X = 0; X < Width; ++X)
        if (Clear[X] != 0) std::memcpy(Row + 3 * X, Fill, 3);
    }
  }
  // A picture with no more colours than the palette keeps them exactly; the
  // quantiser alone would move them.
  const TRvPaletteMapper Mapper(*Work, Out.Palette, Masked ? Count - 1 : Count);
  for (int Y = 0; Y < Work->Height(); ++Y) {
    const std::uint8_t* Row = Work->Scanline(Y);
    std::uint8_t* Dest = Out.Indices.Data() + static_cast<std::size_t>(Y) * Width;
    const std::uint8_t* Clear = Masked ? Key.Clear.data() + static_cast<std::size_t>(Y) * Width : nullptr;
    for (std::size_t X = 0; X < Width; ++X)
      Dest[X] = static_cast<std::uint8_t>(Clear != nullptr && Clear[X] != 0 ? Count - 1 : Mapper.Index(Row + 3 * X));
  }
  auto IndexOf = [&](const TRGB& C) {
    if (Mapper.Exact()) return RvNearestPaletteIndex(Out.Palette, Masked ? Count - 1 : Count, RvRGBToPacked(C));
    const std::uint8_t BGR[3] = {C.b, C.g, C.r};
    return Mapper.Index(BGR);
  };
  Out.Background = IndexOf(Params.GifBackground);
  if (Masked) {
    Out.HasTransparent = true;
    Out.Transparent = Count - 1;
    Out.Palette[Count - 1] = Params.GifHasTransparentColor ? Params.GifTransparentColor : TRGB{};
  } else {
    Out.HasTransparent = Key.ByColour;
    Out.Transparent = IndexOf(Params.GifTransparentColor);
  }
  return true;
}

} // namespace

void GifWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress, const TRvMask* Alpha) {
  Report(Progress, 0);
  if (Progress.IsAborting()) return;
  TRvAbortFlag& Aborting = *Progress.Aborting;
  const int Width = Bitmap.Width();
  const int Height = Bitmap.Height();
  // The screen and frame sizes are 16-bit fields.
  if (Bitmap.PixelFormat() == rvpfNone || Width < 1 || Height < 1 || Width > 0xFFFF || Height > 0xFFFF) {
    Progress.Abort();
    return;
  }
  // A GIF palette holds at most 8 bits per index.
  const int Bits = std::clamp(Params.BitsPerSample, 1, 8);
  const int Count = 1 << Bits;

  auto Indexed = std::make_unique<TGifIndexed>();
  std::fill(std::begin(Indexed->Palette), std::end(Indexed->Palette), TRGB{});
  try {
    const TGifKey Key = KeyOf(Alpha, Width, Height, Params);
    const bool TwoColours = Bits == 1 && Key.Clear.empty();
    if (!Indexed->Indices.Allocate(std::int64_t{Width} * Height + 9) ||
        !(IndexInFileTable(Bitmap, Alpha, Bits, Params, Key, *Indexed) ||
          (TwoColours ? IndexTwoColours(Bitmap, Params, Key, *Indexed)
                      : IndexColors(Bitmap, Bits, Params, Key, *Indexed)))) {
      Progress.Abort();
      return;
    }
  } catch (const std::bad_alloc&) {
    Progress.Abort();
    return;
  }
  Report(Progress, 30);
  if (Progress.IsAborting()) return;

  std::uint8_t Head[13];
  // A version that does not start with the signature would make a file that
  // no reader accepts.
  const std::string& Version = Params.GifVersion;
  const bool ValidVersion = Version.size() >= 6 && Version.compare(0, 3, "GIF") == 0;
  std::memcpy(Head, ValidVersion ? Version.data() : "GIF89a", 6);
  // A picture of a GIF file is written with that file's fields: its colour
  // resolution, aspect ratio and disposal, and no comment it did not have.
  const bool FromGif = Params.FileType == rvftGIF;
  const int Resolution = FromGif && Params.GifColorResolution >= 0 ? Params.GifColorResolution & 7 : Bits - 1;
  PutLE16(Head + 6, Width);
  PutLE16(Head + 8, Height);
  Head[10] = static_cast<std::uint8_t>(0x80 | (Bits - 1) | (Resolution << 4));
  Head[11] = static_cast<std::uint8_t>(Indexed->Background);
  // The file's pixel shape is the picture's once turned with it.
  const int Aspect = std::clamp(Params.GifAspectRatio, 0, 255);
  Head[12] = FromGif ? static_cast<std::uint8_t>(Params.QuarterTurned ? GifAspectTurned(Aspect) : Aspect) : 0;
  RvSafeStreamWrite(Stream, Aborting, Head, sizeof(Head));
  std::uint8_t Table[3 * 256];
  for (int I = 0; I < Count; ++I) {
    Table[3 * I] = Indexed->Palette[I].r;
    Table[3 * I + 1] = Indexed->Palette[I].g;
    Table[3 * I + 2] = Indexed->Palette[I].b;
  }
  RvSafeStreamWrite(Stream, Aborting, Table, 3 * Count);

  // Disposal method 2 (restore to background) but for a GIF file's own.
  const int Disposal = FromGif ? Params.GifDisposal & 7 : 2;
  const std::uint8_t Control[8] = {0x21,
                                   0xF9,
                                   4,
                                   static_cast<std::uint8_t>((Indexed->HasTransparent ? 1 : 0) | (Disposal << 2)),
                                   static_cast<std::uint8_t>(Fit16(Params.GifDelayTime)),
                                   static_cast<std::uint8_t>(Fit16(Params.GifDelayTime) >> 8),
                                   static_cast<std::uint8_t>(Indexed->Transparent),
                                   0};
  RvSafeStreamWrite(Stream, Aborting, Control, sizeof(Control));

  std::uint8_t Descriptor[10];
  Descriptor[0] = 0x2C;
  PutLE16(Descriptor + 1, Fit16(Params.GifXPos));
  PutLE16(Descriptor + 3, Fit16(Params.GifYPos));
  PutLE16(Descriptor + 5, Width);
  PutLE16(Descriptor + 7, Height);
  Descriptor[9] = Params.GifInterlaced ? 0x40 : 0;
  RvSafeStreamWrite(Stream, Aborting, Descriptor, sizeof(Descriptor));

  Report(Progress, 70);
  if (Progress.IsAborting()) return;
  const TGifLzwCompressProc Encode =
      Params.GifLzwCompress != nullptr ? Params.GifLzwCompress : RvDefaultGifLzwCompress;
  if (Encode == nullptr) {
    Progress.Abort();
    return;
  }
  Encode(Stream, Height, Width, Bits, Indexed->Indices.Data(), Params.GifInterlaced);
  Indexed.reset();

  const std::uint8_t CommentHead[2] = {0x21, 0xFE};
  const bool Commented = std::any_of(Params.GifComments.begin(), Params.GifComments.end(),
                                     [](const std::string& Line) { return !Line.empty(); });
  if (Commented || !FromGif) RvSafeStreamWrite(Stream, Aborting, CommentHead, 2);
  for (const std::string& Line : Params.GifComments) {
    // A line longer than one sub-block continues in the next ones; an empty
    // line is left out, its 0 length would end the extension early.
    for (std::size_t Pos = 0; Pos < Line.size(); Pos += 255) {
      const std::size_t N = std::min<std::size_t>(255, Line.size() - Pos);
      const std::uint8_t Length = static_cast<std::uint8_t>(N);
      RvSafeStreamWrite(Stream, Aborting, &Length, 1);
      RvSafeStreamWrite(Stream, Aborting, Line.data() + Pos, static_cast<std::int64_t>(N));
    }
  }
  const std::uint8_t Tail[2] = {0, 0x3B};
  if (Commented || !FromGif) RvSafeStreamWrite(Stream, Aborting, Tail, 2);
  else RvSafeStreamWrite(Stream, Aborting, Tail + 1, 1);
  Report(Progress, 100);
}

void GifWriteFile(const std::string& FileName, TRvBitmap& Bitmap, TIOParamsVals& Params,
                  TRvProgressRec& Progress) {
  platform::TFileStream Stream(FileName, platform::fmCreate);
  Stream.SetSize(0);
  GifWriteStream(Stream, Bitmap, Params, Progress);
}

} // namespace rv
