// Writing a picture as a single-frame GIF. The LZW stage is whatever encoder
// the parameter record or the library-wide slot holds; without one, writing
// fails.
#pragma once

#include <string>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Writes Bitmap at the stream position with a palette of 2^BitsPerSample
// entries (1 to 8 bits), one graphic control block (disposal 2), the
// comments of Params and the trailer. The palette is the one the picture
// was read with (Params' ColorMap, its transparent entry too) while every
// pixel is one of its entries, else the picture's own colours, quantised
// only when they are more than it holds. What shows through is what Alpha
// (null or full: nothing) says; a picture without transparency of its own
// keys the transparent colour of Params unless that is the file's own
// entry. Failures set the abort flag.
void GifWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress, const TRvMask* Alpha = nullptr);

// Creates (or empties) the file and writes it; EStreamError when it cannot
// be created.
void GifWriteFile(const std::string& FileName, TRvBitmap& Bitmap, TIOParamsVals& Params,
                  TRvProgressRec& Progress);

} // namespace rv
