// Reduction of black-and-white pictures to gray: each destination pixel is
// the share of white in its box of source pixels, so thin lines survive a
// reduction that picking pixels would lose.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "image/model/rvbitmap.h"
#include "platform/graphics.h"

namespace rv {

// The rectangle X1..X2, Y1..Y2 of a 1-bit source into a 24-bit destination
// of the target size (its Width and Height); gray in all three bytes.
void RvShrinkBWToGray(TRvBaseBitmap* Src, int X1, int Y1, int X2, int Y2, TRvBitmap* Dst);
// The same from a 1-bit class-library bitmap; Dst becomes pf24bit.
void RvShrinkBWTBitmapToGray(const platform::TBitmap* Src, int X1, int Y1, int X2, int Y2,
                             platform::TBitmap* Dst);
// From raw bottom-up 1-bit rows (each 4-byte aligned) into a new block of
// DstHeight bottom-up 24-bit rows, each 4-byte aligned; null when DstWidth or
// DstHeight is below 1 or the source is empty.
std::unique_ptr<std::uint8_t[]> RvShrinkBWBitsToGray(const void* Bits, int SrcWidth,
                                                     int SrcHeight, int X1, int Y1, int X2,
                                                     int Y2, int DstWidth, int DstHeight);

// True for a 24-bit class-library bitmap whose every pixel has three equal
// bytes (a bitmap without rows is gray).
bool RvIsGrayBitmap(const platform::TBitmap* Bitmap);
// A library bitmap is never taken for a gray class-library bitmap.
inline bool RvIsGrayBitmap(const TRvBaseBitmap*) { return false; }

// The box reduction over rows given by address (row 0 is the source's top);
// destination row r (0 the top) is written at DstRow(r), 3 bytes a pixel.
void RvShrinkBWRows(const std::function<const std::uint8_t*(int)>& SrcRow, int SrcWidth,
                    int SrcHeight, int X1, int Y1, int X2, int Y2, int DstWidth, int DstHeight,
                    const std::function<std::uint8_t*(int)>& DstRow);

} // namespace rv
