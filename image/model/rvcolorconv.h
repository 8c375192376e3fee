// Colour conversions of whole pictures (gray, N colours, dithered black and
// white) and the colour routines the format readers and writers share: the
// two-colour test, the nearest palette entry, red/blue swaps, row depth
// conversion and captured video frames in YUV and RGB layouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/model/rvbitmap.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvprogress.h"
#include "platform/graphics.h"

namespace rv {

class TRvQuantizer;

// Progress of the row loops: round((Row + 1) x 100 / (Rows + 0.5)).
int RvRowProgress(int Row, int Rows);

// Rows Y1 .. min(Y2, Height) - 1, columns X1 .. min(X2, Width) - 1 of a
// 24-bit picture get their gray value in all three channels.
void RvConvertRectToGray(platform::TBitmap* Bitmap, int X1, int Y1, int X2, int Y2, void* Sender,
                         const TRvProgressEvent& OnProgress);
void RvConvertRectToGray(TRvBitmap* Bitmap, int X1, int Y1, int X2, int Y2, void* Sender,
                         const TRvProgressEvent& OnProgress);

// Every pixel of a 24-bit picture becomes the palette colour the quantiser
// gives it; the picture stays 24-bit. Palette, when given, receives the
// NumColors entries.
void RvQuantizeBitmap(platform::TBitmap* Bitmap, int NumColors, TRGB* Palette, void* Sender,
                      const TRvProgressEvent& OnProgress);
void RvQuantizeBitmap(TRvBitmap* Bitmap, int NumColors, TRGB* Palette, void* Sender,
                      const TRvProgressEvent& OnProgress);

// A 24-bit library bitmap becomes 1-bit by ordered dithering of its gray
// values (a set bit is white).
void RvOrderedDitherToBW(TRvBitmap* Bitmap, void* Sender, const TRvProgressEvent& OnProgress);

// The component's colour operations as plain routines on a 24-bit library
// bitmap (other formats are left alone): the whole picture to gray; to
// NumColors colours, below 3 meaning dithered black and white; the same
// with the palette left in Palette (NumColors entries, black then white for
// black and white).
void RvConvertToGray(TRvBitmap* Bitmap, void* Sender = nullptr,
                     const TRvProgressEvent& OnProgress = nullptr);
void RvConvertTo(TRvBitmap* Bitmap, int NumColors, void* Sender = nullptr,
                 const TRvProgressEvent& OnProgress = nullptr);
void RvConvertToPalette(TRvBitmap* Bitmap, int NumColors, TRGB* Palette, void* Sender = nullptr,
                        const TRvProgressEvent& OnProgress = nullptr);

// A 1-bit copy of a 24-bit picture of exactly two colours: bit 0 is the
// darker (Color1), bit 1 the brighter (Color2). Null for one colour, more
// than two, or a picture that is not 24-bit.
std::unique_ptr<TRvBitmap> RvTwoColorsToBW(TRvBitmap* Bitmap, TRGB& Color1, TRGB& Color2);

// The entry with the least sum of channel differences to a packed
// 0x00RRGGBB colour; the lower index on ties.
int RvNearestPaletteIndex(const TRGB* Palette, int Count, std::uint32_t Colour);

// Swap the first and third byte of Count 3-byte pixels.
void RvBGRToRGBRow(std::uint8_t* Row, int Count);
void RvCopyBGRToRGB(std::uint8_t* Dest, const std::uint8_t* Source, int Count);

// One row between bit depths (see the table of supported pairs in the
// source); indexed sources reach 24 bits through Palette, 24 bits reach 4
// and 8 through Quantizer. Answers the destination row length (0 for a
// destination depth other than 1, 4, 8, 24).
int RvConvertPixelRow(const std::uint8_t* Source, std::uint8_t* Dest, int SourceBits,
                      const TRvQuantizer* Quantizer, const TRGB* Palette, int Width,
                      int DestBits);

// FOURCC codes of the video frame layouts.
constexpr std::uint32_t RvFourCC(char A, char B, char C, char D) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(A)) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(B)) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(C)) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(D)) << 24;
}

// The YUV to blue, green, red conversion of one sample.
void RvYUVToRGB(int Y, int U, int V, TRGB& C);

// Converts one captured frame into Bitmap (1-bit for a 1-bit frame, 24-bit
// otherwise). Header starts a block of HeaderSize bytes holding the 40-byte
// DIB header, then (for RGB frames without Bits) palette and pixels; Bits,
// when given, holds BitsSize bytes of pixels. Answers the frame's bits per
// pixel, or 0 when the frame is refused (short header or data, bad sizes).
int RvVideoFrameToBitmap(const void* Header, std::size_t HeaderSize, TRvBitmap* Bitmap,
                         const void* Bits, std::size_t BitsSize);

} // namespace rv
