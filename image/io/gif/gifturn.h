// A GIF file written anew with every frame turned or mirrored alike: the
// logical screen and each frame's place and pixels turn (a frame reaching
// past the screen loses the part no reader shows; one wholly off it stays
// off the turned screen), a quarter turn turns the pixel aspect ratio, and
// everything else (colour tables, delays, disposal, transparency, comments,
// looping) goes over as the file stores it. The LZW stages are the
// library-wide hooks or the ones given.
#pragma once

#include "image/io/lzwhooks.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// A quarter turn or mirror of a pixel grid: (x, y) goes to
// (A x + B y, C x + D y), moved back into the grid. Each of A to D is -1, 0
// or 1, one of A and B and one of C and D nonzero.
struct TRvGridTurn {
  int A = 1, B = 0, C = 0, D = 1;
  bool Valid() const;
  // Whether width and height change places.
  bool Swaps() const { return A == 0; }
};

// The pixel aspect byte of a screen descriptor, whose ratio of width to
// height is (Aspect + 15) / 64, for pixels turned a quarter: the byte
// nearest the inverse ratio, within 1..255. 0 (no ratio stated) stays 0.
int GifAspectTurned(int Aspect);

// Writes Source's GIF at Out's position with every frame turned by Turn.
// False when Source holds no GIF whose frames all decode, or a frame would
// leave the sixteen-bit range of a GIF's positions (on a screen of no size);
// a failed write sets the progress record's flag. Null coders take the
// library-wide hooks.
bool GifWriteTurned(platform::TStream& Source, platform::TStream& Out, const TRvGridTurn& Turn,
                    TRvProgressRec& Progress, TGifLzwDecompressProc Decode = nullptr,
                    TGifLzwCompressProc Encode = nullptr);

} // namespace rv
