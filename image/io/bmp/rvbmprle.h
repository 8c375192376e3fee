// Run-length coding of device-independent bitmaps: RLE8 and RLE4 blocks
// decoded into a 24-bit picture, rows of palette indexes encoded one by one.
#pragma once

#include <cstdint>

#include "image/model/rvbitmap.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvprogress.h"

namespace rv {

// Decode a whole RLE block into a 24-bit Bitmap, starting at column 0 of the
// bottom row (the top row when TopDown). Indexes at or beyond ColorMapCount
// give black; runs are cut at the row end; a delta out of the picture, an
// end-of-bitmap escape or the end of Data stops decoding. Pixels never
// written keep their content. Progress.Per must be set by the caller.
void BmpDecodeRle8(TRvBitmap& Bitmap, const std::uint8_t* Data, std::int64_t DataSize,
                   TRvProgressRec& Progress, const TRGB* ColorMap, int ColorMapCount,
                   bool TopDown = false);
void BmpDecodeRle4(TRvBitmap& Bitmap, const std::uint8_t* Data, std::int64_t DataSize,
                   TRvProgressRec& Progress, const TRGB* ColorMap, int ColorMapCount,
                   bool TopDown = false);

// The rows of a Height-row picture that an RLE block reaches, counted from
// its first stored row: Height when an end-of-bitmap escape or the picture's
// end stops it, fewer when the data run out before (a cut file).
std::int64_t BmpRleRowsReached(const std::uint8_t* Data, std::int64_t DataSize, std::int64_t Height,
                               bool Four);

// The most bytes the encoders produce for a row of Width indexes; Output
// must hold that many.
inline std::int64_t BmpRleRowBound(std::int64_t Width) { return 10 * Width + 16; }

// Encode one row of indexes (one per byte; RLE4 uses the low nibble), the
// end-of-line escape included; answers the bytes written to Output.
int BmpEncodeRle8(const std::uint8_t* Row, int Width, std::uint8_t* Output);
int BmpEncodeRle4(const std::uint8_t* Row, int Width, std::uint8_t* Output);

} // namespace rv
