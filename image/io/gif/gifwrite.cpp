#include "image/io/gif/gifwrite.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvwriteconv.h"
#include "image/model/rvcolorconv.h"
#include "image/model/rvlists.h"

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
  int Transparent = 0;
};

bool IndexBlackWhite(TRvBitmap& Bitmap, const TIOParamsVals& Params, TGifIndexed& Out) {
  std::unique_ptr<TRvBitmap> Color24, Holder;
  TRvBitmap* Work = &Bitmap;
  if (Bitmap.PixelFormat() != rvpf1Bit) {
    TRvBitmap* Source = RvAs24Bit(Bitmap, Color24);
    if (Source == nullptr) return false;
    TRGB Dark, Light;
    Holder = RvTwoColorsToBW(Source, Dark, Light);
    if (!Holder) {
      Holder = std::make_unique<TRvBitmap>();
      Holder->Assign(Source);
      Holder->ConvertPixelFormat(rvpf1Bit);
    }
    Work = Holder.get();
  }
  if (Work->PixelFormat() != rvpf1Bit || Work->Width() != Bitmap.Width() ||
      Work->Height() != Bitmap.Height())
    return false;
  RvCreateRGB(0, 0, 0, Out.Palette[0]);
  RvCreateRGB(255, 255, 255, Out.Palette[1]);
  const std::size_t Width = static_cast<std::size_t>(Work->Width());
  for (int Y = 0; Y < Work->Height(); ++Y) {
    const std::uint8_t* Row = Work->Scanline(Y);
    std::uint8_t* Dest = Out.Indices.Data() + static_cast<std::size_t>(Y) * Width;
    for (std::size_t X = 0; X < Width; ++X) Dest[X] = (Row[X >> 3] >> (7 - (X & 7))) & 1;
  }
  Out.Background = RvNearestPaletteIndex(Out.Palette, 2, RvRGBToPacked(Params.GifBackground));
  Out.Transparent = RvNearestPaletteIndex(Out.Palette, 2, RvRGBToPacked(Params.GifTransparentColor));
  return true;
}

bool IndexColors(TRvBitmap& Bitmap, int Bits, const TIOParamsVals& Params, TGifIndexed& Out) {
  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Work = RvAs24Bit(Bitmap, Holder);
  if (Work == nullptr) return false;
  const int Count = 1 << Bits;
  // A picture with no more colours than the palette keeps them exactly; the
  // quantiser alone would move them.
  const TRvPaletteMapper Mapper(*Work, Out.Palette, Count);
  const std::size_t Width = static_cast<std::size_t>(Work->Width());
  for (int Y = 0; Y < Work->Height(); ++Y) {
    const std::uint8_t* Row = Work->Scanline(Y);
    std::uint8_t* Dest = Out.Indices.Data() + static_cast<std::size_t>(Y) * Width;
    for (std::size_t X = 0; X < Width; ++X) Dest[X] = static_cast<std::uint8_t>(Mapper.Index(Row + 3 * X));
  }
  auto IndexOf = [&](const TRGB& C) {
    if (Mapper.Exact()) return RvNearestPaletteIndex(Out.Palette, Count, RvRGBToPacked(C));
    const std::uint8_t BGR[3] = {C.b, C.g, C.r};
    return Mapper.Index(BGR);
  };
  Out.Background = IndexOf(Params.GifBackground);
  Out.Transparent = IndexOf(Params.GifTransparentColor);
  return true;
}

} // namespace

void GifWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress) {
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
    if (!Indexed->Indices.Allocate(std::int64_t{Width} * Height + 9) ||
        !(Bits == 1 ? IndexBlackWhite(Bitmap, Params, *Indexed)
                    : IndexColors(Bitmap, Bits, Params, *Indexed))) {
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
  PutLE16(Head + 6, Width);
  PutLE16(Head + 8, Height);
  Head[10] = static_cast<std::uint8_t>(0x80 | (Bits - 1) | ((Bits - 1) << 4));
  Head[11] = static_cast<std::uint8_t>(Indexed->Background);
  Head[12] = 0;
  RvSafeStreamWrite(Stream, Aborting, Head, sizeof(Head));
  std::uint8_t Table[3 * 256];
  for (int I = 0; I < Count; ++I) {
    Table[3 * I] = Indexed->Palette[I].r;
    Table[3 * I + 1] = Indexed->Palette[I].g;
    Table[3 * I + 2] = Indexed->Palette[I].b;
  }
  RvSafeStreamWrite(Stream, Aborting, Table, 3 * Count);

  // Disposal method 2 (restore to background) whatever GifDisposal holds.
  const std::uint8_t Control[8] = {0x21,
                                   0xF9,
                                   4,
                                   static_cast<std::uint8_t>((Params.GifHasTransparentColor ? 1 : 0) | 8),
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
  RvSafeStreamWrite(Stream, Aborting, CommentHead, 2);
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
  RvSafeStreamWrite(Stream, Aborting, Tail, 2);
  Report(Progress, 100);
}

void GifWriteFile(const std::string& FileName, TRvBitmap& Bitmap, TIOParamsVals& Params,
                  TRvProgressRec& Progress) {
  platform::TFileStream Stream(FileName, platform::fmCreate);
  Stream.SetSize(0);
  GifWriteStream(Stream, Bitmap, Params, Progress);
}

} // namespace rv
