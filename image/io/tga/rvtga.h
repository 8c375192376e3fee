// Truevision TGA: colour-mapped, true-colour and gray pictures, raw or
// run-length encoded, with the version 2 extension area and footer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/io/rvioparams.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// A header with a known image type and pixel depth that is not the start of
// a PBM/PGM/PPM file. The stream position is restored.
bool IsTgaStream(platform::TStream& Stream);

// Reads the extension area (author, date, job, key colour, aspect ratio,
// gamma) when the file ends with the TGA 2 footer, and answers whether it
// does; defaults otherwise. The stream position is restored.
bool TgaReadFooter(platform::TStream& Stream, TIOParamsVals& Params);

// A 32-bit file with 8 alpha bits fills AlphaMask (created when null) unless
// NoMask is set.
void TgaReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly, std::unique_ptr<TRvMask>& AlphaMask,
                   bool NoMask);

// What a file read with Params holds that no write of its picture gives
// back, one line each for the question before a save; empty when a write
// keeps it all.
std::vector<std::string> TgaLayoutLost(const TIOParamsVals& Params);

// AlphaMask may be null; a full mask counts as none.
void TgaWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    const TRvMask* AlphaMask, TRvProgressRec& Progress);

} // namespace rv
