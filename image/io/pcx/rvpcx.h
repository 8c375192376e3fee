// PaintBrush PCX: 1, 4 (one plane or four 1-bit planes), 8 and 24 bits,
// raw or run-length encoded.
#pragma once

#include <cstdint>
#include <string>

#include "image/io/rvioparams.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Decoder state carried from one plane line to the next: a run may end
// beyond a line and continue on the following one.
struct TPcxDecodeState {
  int RunCount = 0;
  std::uint8_t RunValue = 0;
};

// Fills Line with LineBytes bytes of one plane line taken from Data (raw
// when Compressed is false). Bytes the data do not hold are zeros.
void PcxDecodeRow(TRvByteReader& Data, std::uint8_t* Line, int LineBytes, bool Compressed,
                  TPcxDecodeState& State);

// Run-length encodes Count bytes read from Source at Offset, Offset + Stride,
// ...; an odd Count gets the pad byte 0 appended. Answers the bytes written
// to Output, which must hold 2 x Count + 2 bytes.
int PcxEncodeRow(std::uint8_t* Output, const std::uint8_t* Source, int Count, int Stride,
                 int Offset);

void PcxReadFile(const std::string& FileName, TRvBitmap& Bitmap, TIOParamsVals& Params,
                 TRvProgressRec& Progress);
// Size: bytes of PCX data from the current position.
void PcxReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   bool HeaderOnly, TRvProgressRec& Progress, std::int64_t Size);
void PcxWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress);

} // namespace rv
