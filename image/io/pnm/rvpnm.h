// The portable any-map formats: PBM, PGM and PPM, text forms P1-P3 and
// binary forms P4-P6, read and written.
#pragma once

#include <string>

#include "image/io/rvioparams.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// The next token (a run of letters and digits; any other byte separates).
// A comment comes back as "#" and its trimmed text. Empty at the end.
void PnmReadToken(TRvStreamReader& Reader, std::string& Token);
void PnmReadToken(platform::TStream& Stream, std::string& Token);

// A magic P1..P6 followed by a width of at least 1 and a height above 0.
// The stream position is restored.
bool IsPnmStream(platform::TStream& Stream);

// Fills Params (and, unless HeaderOnly, Bitmap: 1-bit for P1/P4, 24-bit for
// the others). Bad data set the aborting flag.
void PnmReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly);

// Writes a bitmap, graymap or pixmap as BitsPerSample and SamplesPerPixel
// ask: in plain form when PnmPlain is set, with PnmMaxValue as its maximum
// when every level of the picture is one of that maximum's (255 otherwise),
// two bytes a sample above 255.
void PnmWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress);

} // namespace rv
