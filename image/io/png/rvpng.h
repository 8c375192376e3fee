// The PNG codec: libpng 1.6 between a platform::TStream and a TRvBitmap
// (1-bit or 24-bit blue-green-red) with an 8-bit alpha mask.
#pragma once

#include <memory>
#include <stdexcept>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/graphics.h"
#include "platform/stream.h"

namespace rv {

using platform::EInvalidGraphic;

// The eight bytes of the PNG signature at the stream's position; the
// position is restored.
bool IsPngStream(platform::TStream& Stream);

// Reads one PNG picture and its colour profile. Without UseBackground an alpha channel goes to
// AlphaMask (created when null, sized to the picture and filled with 255);
// with it, transparent pixels are composited on the file's bKGD colour or on
// Params.PngBackground. Failure is reported only through the flag; the
// bitmap keeps the rows read so far.
void PngReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly, std::unique_ptr<TRvMask>& AlphaMask,
                   bool UseBackground);

// Writes the bitmap as PNG by the PNG options of Params, with the colour
// profile Params holds. A gray file's picture (no palette, one or two
// samples) that is still all gray is written as gray. AlphaMask may be
// null; a full mask counts as none. A short write sets the flag; a libpng
// error raises EInvalidGraphic "Error on creating PNG".
void PngWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    const TRvMask* AlphaMask, TRvProgressRec& Progress);

} // namespace rv
