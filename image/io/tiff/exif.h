// The Exif reader: the TIFF structure of a JPEG APP1 Exif block read into the
// Exif fields and the Exif thumbnail of a parameter record.
#pragma once

#include <cstdint>

#include "image/io/rvioparams.h"

namespace rv {

// True when Data holds an Exif block ("Exif", zero, pad byte, then a TIFF
// structure) whose first directory could be read; its tags fill the Exif
// fields, and the second directory, when there is one, becomes
// Params.ExifBitmap. False, with Params unchanged, for anything else: another
// APP1 block, a block too short for its header or a damaged structure. A
// thumbnail that cannot be decoded, or whose pixels are out of all
// proportion to the block's bytes, is left out; HeaderOnly leaves it out too.
bool RvLoadExifFromApp1(const void* Data, std::int64_t Size, TIOParamsVals& Params, bool HeaderOnly = false);

// True when Data holds an Exif block (the header RvLoadExifFromApp1 looks
// for).
bool RvIsExifApp1(const void* Data, std::int64_t Size);

// Rewrites in place the Orientation tag (274) of an Exif block's first
// directory to Orientation (1..8); Was, when given, receives the value it
// held. False, with the block unchanged, when the block is not Exif, has no
// such tag, or the tag is not one SHORT or LONG inside the block.
bool RvSetExifOrientation(void* Data, std::int64_t Size, int Orientation, int* Was = nullptr);

// Exchanges in place the XResolution and YResolution (282, 283) of an Exif
// block's first directory, for pixels turned a quarter. False, with the
// block unchanged, when it does not hold both as one RATIONAL each.
bool RvSwapExifResolution(void* Data, std::int64_t Size);

// Sets every tiff:Orientation of the file's XMP packet (an APP1 block
// named "http://ns.adobe.com/xap/1.0/"), attribute or element, whatever
// prefix names the namespace, to Orientation (1..8). False when there was
// none to set.
bool RvSetJpegXmpOrientation(TRvMarkerList& Markers, int Orientation);

// Leaves the thumbnail out of an Exif block: the first directory's link to
// the second (the thumbnail's) is cleared in place. When the thumbnail's
// directory, values and picture data end the block and nothing the other
// directories hold lies among them, they can go too: the answer is then the
// shorter size to keep, otherwise Size. -1, the block unchanged, when it is
// not Exif, its first directory is not inside it, or it has no thumbnail.
// EntriesVisited, when given, gains the directory entries the walk looked
// at: its work, which a crafted block must not make grow faster than its
// size.
std::int64_t RvDropExifThumbnail(void* Data, std::int64_t Size, std::int64_t* EntriesVisited = nullptr);

// The Exif block among a JPEG file's markers: a file may carry XMP in an
// APP1 block too, before or after it. -1 when none.
int RvExifMarkerIndex(const TRvMarkerList& Markers);
// The thumbnail of the Exif block among Markers, when there is one, left out
// as RvDropExifThumbnail does; the block keeps what it must.
void RvDropJpegExifThumbnail(TRvMarkerList& Markers, std::int64_t* EntriesVisited = nullptr);

// The indexed Exif fields, one element at a time. An index out of range reads
// 0 and writes nothing.
std::int32_t GetExifISOSpeedRatings(const TIOParamsVals& Params, int Index);
void SetExifISOSpeedRatings(TIOParamsVals& Params, int Index, std::int32_t Value);
double GetExifWhitePoint(const TIOParamsVals& Params, int Index);
void SetExifWhitePoint(TIOParamsVals& Params, int Index, double Value);
double GetExifPrimaryChromaticities(const TIOParamsVals& Params, int Index);
void SetExifPrimaryChromaticities(TIOParamsVals& Params, int Index, double Value);
double GetExifYCbCrCoefficients(const TIOParamsVals& Params, int Index);
void SetExifYCbCrCoefficients(TIOParamsVals& Params, int Index, double Value);
double GetExifReferenceBlackWhite(const TIOParamsVals& Params, int Index);
void SetExifReferenceBlackWhite(TIOParamsVals& Params, int Index, double Value);

} // namespace rv
