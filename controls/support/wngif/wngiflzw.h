// The GIF picture class's own LZW coder: variable-length codes of 3 to 12
// bits, least significant bit first, in data sub-blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/graphicclass.h"
#include "platform/stream.h"

namespace wn {

// The pixels of one frame: picture row y starts at Row0 + y * Stride (a
// negative stride walks a bottom-up area). BitCount 1 (most significant
// bit first), 4 (high nibble first) or 8.
struct TGIFPixelRows {
  std::uint8_t* Row0 = nullptr;
  std::ptrdiff_t Stride = 0;
  int Width = 0;
  int Height = 0;
  int BitCount = 8;
};

using TGIFProgress = std::function<void(platform::TProgressStage Stage, int PercentDone)>;

// The row after Row in interlaced order (0, 8, 16 ...; 4, 12 ...; 2, 6 ...;
// 1, 3 ...), skipping passes that start below the picture; Height after the
// last.
int NextInterlacedRow(int Row, int Height);

// Decodes a frame's encoded data (code-size byte, sub-blocks, terminator)
// into Pixels, which start zeroed; codes are masked to FrameBits bits.
// Tolerant: damage marks the answer (true = corrupted) instead of raising
// EInvalidGraphicOperation.
bool LzwDecode(const std::uint8_t* Data, std::int64_t Size, bool Interlaced, const TGIFProgress& Progress,
               const TGIFPixelRows& Pixels, int FrameBits, bool Tolerant);

// Appends the code-size byte, the sub-blocks and the terminator for Pixels.
void LzwEncode(platform::TStream& Data, bool Interlaced, const TGIFProgress& Progress,
               const TGIFPixelRows& Pixels);

} // namespace wn
