// Bits of 1-bit rows (most significant bit first), runs of bits copied at any
// offset, copies of class-library bitmaps and the two conversions between
// 1-bit and 24-bit class-library bitmaps.
#pragma once

#include <cstdint>
#include <memory>

#include "image/model/rvprogress.h"
#include "platform/graphics.h"

namespace rv {

// Ordered-dither matrix, first index x mod 8, second index y mod 8.
extern const std::uint8_t RvDitherMatrix[8][8];
// The mask of pixel x within its byte: 0x80 >> (x mod 8).
extern const std::uint8_t RvBitMask[8];
// Eight pixels of three bytes for each byte value: (255,255,255) for a set
// bit, (0,0,0) for a clear one, most significant bit first.
const std::uint8_t* RvBWExpansion(std::uint8_t Value);

inline bool RvTestBit(const void* Buffer, std::int64_t N) {
  return (static_cast<const std::uint8_t*>(Buffer)[N >> 3] & (0x80u >> (N & 7))) != 0;
}
inline void RvSetBit(void* Buffer, std::int64_t N, int Value) {
  std::uint8_t& b = static_cast<std::uint8_t*>(Buffer)[N >> 3];
  const std::uint8_t m = static_cast<std::uint8_t>(0x80u >> (N & 7));
  b = Value != 0 ? static_cast<std::uint8_t>(b | m) : static_cast<std::uint8_t>(b & ~m);
}

// Copies Count bits from Source at bit SourceBit to Dest at bit DestBit.
// The bits of Dest outside the range keep their values; Source is never
// read past SourceRowBytes.
void RvCopyBits(void* Dest, const void* Source, std::int64_t DestBit, std::int64_t SourceRowBytes,
                std::int64_t Count, std::int64_t SourceBit);

// Dest becomes Source's size, format and pixels (not its palette).
void RvCopyBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest);
std::unique_ptr<platform::TBitmap> RvCloneBitmap(const platform::TBitmap* Source);
// A 24-bit bitmap becomes 1-bit by ordered dithering of its gray values.
void RvOrderedDitherToBW(platform::TBitmap* Bitmap, TRvProgressRec& Progress);
// Dest becomes a 24-bit black-and-white copy of a 1-bit Source.
void RvBWToRGBBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest,
                     TRvProgressRec& Progress);

} // namespace rv
