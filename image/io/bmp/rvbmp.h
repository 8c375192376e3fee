// Device-independent bitmap files ("BM"): the reader for every depth and
// compression Windows and OS/2 write, and the writer at 1, 4, 8 and 24 bits,
// uncompressed or run-length encoded, and at 32 bits with an alpha mask.
#pragma once

#include <cstdint>

#include "image/io/bmp/rvbmprle.h"
#include "image/io/rvioparams.h"
#include <memory>

#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Reads one BMP at the stream position. Size: bytes of the BMP in the
// stream when known, else 0 or less. With HeaderOnly only Params is filled
// and Bitmap may be null. A 32-bit picture whose header states an alpha mask
// puts its transparency into Mask (created when null; 255 opaque) unless
// Mask is null. Failure sets the progress record's abort flag.
void BmpReadStream(platform::TStream& Stream, TRvBitmap* Bitmap, std::int64_t Size,
                   TIOParamsVals& Params, TRvProgressRec& Progress, bool HeaderOnly,
                   std::unique_ptr<TRvMask>* Mask = nullptr);

// Writes Bitmap as a BMP at the stream position, at the depth, header and
// compression Params asks for; with Alpha (null or full: none) at 32 bits
// with an alpha mask. What Params keep of the file the picture was read
// from goes back while the picture fits it: the palette's entries in their
// order, 16-bit fields, 32 bits, the version 4 and 5 headers' colour space
// and profile, and no resolution when the file stated none. A short write
// sets the abort flag.
void BmpWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress, const TRvMask* Alpha = nullptr);

// Writes Count palette entries as 4-byte entries (blue, green, red, 0).
void BmpWritePalette(platform::TStream& Stream, const TRGB* ColorMap, int Count,
                     TRvProgressRec& Progress);

// Dots per inch from pixels per metre (and back), halves to even.
int BmpDpiFromPpm(std::int32_t PixelsPerMetre);
std::int32_t BmpPpmFromDpi(int Dpi);

} // namespace rv
