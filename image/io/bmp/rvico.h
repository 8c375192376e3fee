// Windows icon and cursor files: directory probes for format detection and
// readers of one directory image with its transparency.
#pragma once

#include <memory>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// True when the stream holds an icon (cursor) directory whose entries are
// plausible; the stream position is restored.
bool IsIcoStream(platform::TStream& Stream);
bool IsCurStream(platform::TStream& Stream);

// Read the directory image chosen by Params.IcoImageIndex (CurImageIndex).
// Unless NoMask is set, AlphaMask (created when null) receives an 8-bit
// alpha of the picture: 0 where the image is transparent. Transparent
// pixels take IcoBackground (CurBackground). With HeaderOnly only Params is
// filled. Failure sets the progress record's abort flag; an index out of
// range leaves everything untouched.
void IcoReadStream(platform::TStream& Stream, TRvBitmap* Bitmap, TIOParamsVals& Params, bool NoMask,
                   std::unique_ptr<TRvMask>& AlphaMask, TRvProgressRec& Progress, bool HeaderOnly);
void CurReadStream(platform::TStream& Stream, TRvBitmap* Bitmap, TIOParamsVals& Params, bool NoMask,
                   std::unique_ptr<TRvMask>& AlphaMask, TRvProgressRec& Progress, bool HeaderOnly);

} // namespace rv
