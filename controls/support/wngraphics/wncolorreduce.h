// Bitmaps as BMP file images in memory at 1, 4 or 8 bits per pixel, with
// the colour reduction the 8-bit images need.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics.h"
#include "platform/stream.h"

namespace wn {

enum TColorReduction {
  crPopularColors,  // the most frequent colours
  crMedianCut,
  crPalette784,     // 7 red, 8 green, 4 blue levels
  crPalette666,     // 6 levels per channel
  crChannelPattern, // each pixel shows one channel, in a diagonal pattern
  crGrayscale,
};

extern TColorReduction DefaultColorReduction;

// The BMP file image of Bitmap at PixelFormat: pf1bit and pf4bit through
// the nearest colours of the standard palettes, pf8bit through Method,
// pf24bit as it stands; the bitmap's own format (unless Method is
// crGrayscale) gives its own stored form. The stream is new, rewound and
// the caller's. An empty bitmap raises EInvalidGraphic; other formats end the
// operation silently (platform::EAbort).
std::unique_ptr<platform::TMemoryStream> BitmapToBMPStream(const platform::TBitmap& Bitmap,
                                                           platform::TPixelFormat PixelFormat,
                                                           TColorReduction Method);
// The smallest of 1, 4, 8 and 24 bits that holds Colors, with the default
// reduction.
std::unique_ptr<platform::TMemoryStream> BitmapToBMPStreamByColors(const platform::TBitmap& Bitmap,
                                                                   int Colors);

// The 40-byte header of Bitmap at PixelFormat: 1, 4, 8 or 24 bits for those
// formats, the bitmap's own bit count for the others; the image size is
// filled in.
void InitBitmapInfoHeader(const platform::TBitmap& Bitmap, platform::TBitmapInfoHeader& Header,
                          platform::TPixelFormat PixelFormat);
// Bytes of the header with its palette (or colour masks), and of the pixels.
void GetDIBSizes(const platform::TBitmap& Bitmap, std::int64_t& InfoHeaderSize,
                 std::int64_t& ImageSize, platform::TPixelFormat PixelFormat);
// Writes header and palette into BitmapInfo and the rows, bottom row first,
// into Bits; both as large as GetDIBSizes says.
bool GetDIBBits(const platform::TBitmap& Bitmap, void* BitmapInfo, void* Bits,
                platform::TPixelFormat PixelFormat);
// File header, info header, palette and pixels in one block.
std::vector<std::uint8_t> DIBFromBitmap(const platform::TBitmap& Bitmap,
                                        platform::TPixelFormat PixelFormat);
// Bytes of one row of Width pixels of Bits bits, padded to Alignment bits.
std::int64_t BytesPerScanLine(std::int64_t Width, std::int64_t Bits, std::int64_t Alignment);

} // namespace wn
