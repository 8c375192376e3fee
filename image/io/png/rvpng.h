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

// Reads one PNG picture and its colour profile; a read of the whole picture
// keeps the file's other chunks in Params for a save to write back (within
// counts, past which they are counted) and notes the frames of an
// animation and the chunks that hold only for the pixels as they were.
// Without UseBackground an alpha channel goes to AlphaMask (created when
// null, sized to the picture and filled with 255); with it, transparent
// pixels are composited on the file's bKGD colour or on
// Params.PngBackground. Failure is reported only through the flag; the
// bitmap keeps the rows read so far.
void PngReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly, std::unique_ptr<TRvMask>& AlphaMask,
                   bool UseBackground);

// Writes the bitmap as PNG by the PNG options of Params, with the colour
// profile and the chunks Params holds, each in its place. A picture that
// still fits the layout its file was read with (its palette with each
// entry's alpha, its gray depth, its colour key) is written in it; a gray
// file's picture that is still all gray is written as gray; a 1-bit one
// of two colours with its colours. A resolution is written only when
// Params states one. AlphaMask may be null; a full mask counts as none. A
// short write sets the flag; a libpng error raises EInvalidGraphic "Error
// on creating PNG".
void PngWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    const TRvMask* AlphaMask, TRvProgressRec& Progress);

} // namespace rv
