// The JPEG-2000 codec: JP2 files and raw code streams through OpenJPEG, read
// straight from and written straight to our own streams (no temporary files).
#pragma once

#include <cstdint>
#include <string>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// The JP2 signature box (length 12, type "jP  ", 0x0D0A870A) at the
// stream's position; the position is restored.
bool IsJp2Stream(platform::TStream& Stream);
// A code stream: start-of-code-stream 0xFF4F followed by the image and tile
// size marker 0xFF51; the position is restored.
bool IsJ2kCodeStream(platform::TStream& Stream);

// Reads a JP2 file or a code stream into a 24-bit (or, for a one-bit gray
// picture, 1-bit) bitmap. Failure is reported only through the flag.
void Jpeg2000ReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                        bool HeaderOnly, TRvProgressRec& Progress);

// Format 0 writes a JP2 file, 1 a code stream. Failure of any encoding
// step, or a short write, sets the flag; nothing is thrown.
void Jpeg2000WriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                         int Format, TRvProgressRec& Progress);

// The encoder's option text for a rate and a progression order, e.g.
// "rate=0.5 prg=rlcp"; the rate always with a point as decimal separator.
std::string Jpeg2000OptionText(double Rate, int Progression);

// Encoder settings parsed back from an option text.
struct TJ2kOptions {
  double Rate = 1.0; // share of the uncompressed size; 1 or more is lossless
  int Progression = -1; // 0 layer-resolution-component-position, 1 resolution-layer-..., -1 default
};
TJ2kOptions Jpeg2000ParseOptions(const std::string& Text);

// Y, Cb, Cr samples (0..255, chroma centred on 128) to red, green, blue,
// each clamped to 0..255, through the tables built at start-up.
void Jpeg2000YCbCrToRGB(int Y, int Cb, int Cr, int& R, int& G, int& B);

} // namespace rv
