// The TIFF writer: one page in one strip, uncompressed, in a CCITT scheme,
// LZW (through the pluggable encoder, with horizontal prediction) or
// PackBits; a whole file in Intel byte order, or a page among others in
// the byte order of their file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/io/rvioparams.h"
#include "image/io/tiff/tiffread.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Writes a complete TIFF file at the stream position; every offset in it is
// the absolute stream position. Normalises BitsPerSample, SamplesPerPixel,
// TiffCompression and TiffPhotometric of Params to what was written. Alpha
// (null or full: none) goes out as a fourth sample of RGB; the colour
// profile of Params goes with the page. Answers the pages written: 1, or 0
// when the write failed (Aborting set).
int TiffWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TRvProgressRec& Progress,
                    TIOParamsVals& Params, const TRvMask* Alpha = nullptr);

// What a page read with Params holds that no write of its picture gives
// back, one line each for the question before a save (depths over 8 bits
// are the caller's); empty when a write keeps it all.
std::vector<std::string> TiffLayoutLost(const TIOParamsVals& Params);

// The parts of a file of several pages. The header, in Intel or Motorola
// byte order, with no first directory yet.
bool TiffWriteHeader(platform::TStream& Stream, TRvAbortFlag& Aborting, bool Intel);
// One page as TiffWriteStream writes it, its data and then its directory,
// at the stream position and in the byte order given, with the Kept entries
// (their values in the stream already) besides its own; answers the
// position of its directory (0 when the write failed) and in NextAt that of
// its link to the next one, which is left 0.
std::int64_t TiffWritePage(platform::TStream& Stream, TRvBitmap& Bitmap, TRvProgressRec& Progress,
                           TIOParamsVals& Params, const TRvMask* Alpha, bool Intel, std::int64_t& NextAt,
                           const std::vector<TTiffEntry>* Kept = nullptr);
// Points the link at LinkAt (the header's or a directory's) to Directory;
// the stream position stays where it was.
bool TiffLinkDirectory(platform::TStream& Stream, TRvAbortFlag& Aborting, std::int64_t LinkAt,
                       std::int64_t Directory, bool Intel);
// Numbers in either byte order.
void TiffPut16(std::uint8_t* P, std::uint32_t V, bool Intel);
void TiffPut32(std::uint8_t* P, std::uint32_t V, bool Intel);

// One row in PackBits, appended to Out.
void TiffPackBitsRow(const std::uint8_t* Row, int Count, std::vector<std::uint8_t>& Out);

// One blue-green-red pixel as C, M, Y, K bytes.
void TiffBgrToCmyk(const std::uint8_t* Bgr, std::uint8_t* Cmyk);

} // namespace rv
