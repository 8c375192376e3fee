// The TIFF writer: one page, one strip, Intel byte order, uncompressed, in a
// CCITT scheme, LZW (through the pluggable encoder, with horizontal
// prediction) or PackBits.
#pragma once

#include <cstdint>
#include <vector>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Writes a complete TIFF file at the stream position; every offset in it is
// the absolute stream position. Normalises BitsPerSample, SamplesPerPixel,
// TiffCompression and TiffPhotometric of Params to what was written.
// Answers the pages written: 1, or 0 when the write failed (Aborting set).
int TiffWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TRvProgressRec& Progress,
                    TIOParamsVals& Params);

// One row in PackBits, appended to Out.
void TiffPackBitsRow(const std::uint8_t* Row, int Count, std::vector<std::uint8_t>& Out);

// One blue-green-red pixel as C, M, Y, K bytes.
void TiffBgrToCmyk(const std::uint8_t* Bgr, std::uint8_t* Cmyk);

} // namespace rv
