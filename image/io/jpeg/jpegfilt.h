// The JPEG codec: libjpeg (libjpeg-turbo, library version 62) between a
// platform::TStream and a TRvBitmap of blue-green-red pixels.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// A fatal error of the JPEG library while writing.
class ERvJpegException : public std::runtime_error {
public:
  ERvJpegException() : std::runtime_error("Jpeg corrupted file") {}
};

// The work of a read, added up for a caller that weighs it: every scan
// taken in is a pass over the blocks of the components it holds; every
// comment or application marker met is read or skipped once.
struct TJpegReadWork {
  std::int64_t Scans = 0;
  std::int64_t Blocks = 0;
  std::int64_t Markers = 0;
};

// A read keeps the comment and application markers (COM, APP0-15) into
// Params.JpegMarkers in the order of the file, the file's own JFIF header
// left out, up to these counts of markers and of their bytes; past them it
// keeps only the first Exif block and the chunks of the ICC profile (255 at
// most), which say how the picture is turned and coloured, and skips the
// data of the rest, counting them in Params.JpegMarkersLeftOut. Real files
// hold a few dozen; an ICC profile split over 255 markers fits.
inline constexpr int JpegMarkersKept = 1024;
inline constexpr std::int64_t JpegMarkerBytesKept = std::int64_t{16} << 20;

// Decodes one JPEG image found at, or at most 99 bytes after, the stream's
// position. Params.Width and Params.Height are the wished size when
// JpegScale is 0 (automatic). Failure is reported only through the
// progress record's flag; nothing is thrown. Work, when given, gains the
// scans the read took in.
void JpegReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    bool HeaderOnly, TRvProgressRec& Progress, TJpegReadWork* Work = nullptr);

// Encodes the bitmap with the JPEG options of Params and writes every marker
// of Params.JpegMarkers after the library's own headers. A short write sets
// the flag; a fatal library error sets it and raises ERvJpegException.
void JpegWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                     TRvProgressRec& Progress);

// Position of the first FF D8 FF sequence starting within 100 bytes of the
// current position, or -1; the position is restored either way.
std::int64_t JpegFindStart(platform::TStream& Stream);

// Adobe-style CMYK (255 = no ink) to one blue-green-red pixel, and back.
void JpegCmykToBgr(const std::uint8_t* Cmyk, std::uint8_t* Bgr);
void JpegBgrToCmyk(const std::uint8_t* Bgr, std::uint8_t* Cmyk);

// The denominator (1, 2, 4 or 8) that automatic scaling picks for a stored
// size and a wished size: the largest whose reduced size still covers the
// wish; 1 when nothing is wished.
int JpegAutoScale(int StoredWidth, int StoredHeight, int WishedWidth, int WishedHeight);

} // namespace rv
