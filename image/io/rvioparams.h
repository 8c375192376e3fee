// The parameter record of one image file: everything the library knows about
// it besides its pixels. Readers fill it, writers read it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/io/lzwhooks.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvmetadata.h"

namespace platform {
class TStream;
}

namespace rv {

class TRastrumIO;

// File type codes, shared with the format registry.
using TRvFileType = std::int32_t;
inline constexpr TRvFileType rvftUnknown = 0;
inline constexpr TRvFileType rvftTIFF = 1;
inline constexpr TRvFileType rvftGIF = 2;
inline constexpr TRvFileType rvftJPEG = 3;
inline constexpr TRvFileType rvftPCX = 4;
inline constexpr TRvFileType rvftBMP = 5;
inline constexpr TRvFileType rvftICO = 6;
inline constexpr TRvFileType rvftCUR = 7;
inline constexpr TRvFileType rvftPNG = 8;
inline constexpr TRvFileType rvftWMF = 9;
inline constexpr TRvFileType rvftEMF = 10;
inline constexpr TRvFileType rvftTGA = 11;
inline constexpr TRvFileType rvftPXM = 12;
inline constexpr TRvFileType rvftJP2 = 13;
inline constexpr TRvFileType rvftJ2K = 14;

// The resolution readers give a file that states none: 0 until the
// single-picture view's start-up sets the screen's logical pixels per inch.
extern std::int32_t RvDefaultDpiX;
extern std::int32_t RvDefaultDpiY;

// Date and time as a day count from 30 December 1899, the fraction the time
// of day (the stored form of TgaDateTime).
using TRvDateTime = double;
TRvDateTime RvNow();
// False for a date or time that does not exist.
bool RvEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second,
                      TRvDateTime& Result);
void RvDecodeDateTime(TRvDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Minute,
                      int& Second);

// What a file holds after its picture's end: a phone's video, a gain map,
// more pictures, another program's data. It is not held: a save copies it
// from the file, which must still hold it (its size and the bytes either
// side of the picture's end as read).
struct TRvTrailer {
  // The format whose read noted it; the first byte after the picture's end,
  // -1 when not known; the bytes from there to the end of the file.
  TRvFileType Of = rvftUnknown;
  std::int64_t At = -1;
  std::int64_t Length = 0;
  std::int64_t FileSize = 0;
  std::array<std::uint8_t, 16> Head{};
  std::array<std::uint8_t, 8> Before{};
  // Where a JPEG's MPF index (APP2) counts its offsets from, -1 without
  // one; and the pictures it places that a save cannot place again.
  std::int64_t MpfBase = -1;
  std::int32_t Unplaced = 0;
};

// One chunk of a PNG file kept for a save to write back as it was: its type,
// its data and where it stood (0 between IHDR and PLTE, or before IDAT in a
// file without PLTE; 1 between PLTE and IDAT; 2 after IDAT).
struct TRvPngChunk {
  std::array<char, 4> Type{};
  std::uint8_t Place = 0;
  std::vector<std::uint8_t> Data;
};

class TIOParamsVals {
public:
  explicit TIOParamsVals(TRastrumIO* Owner = nullptr);
  ~TIOParamsVals();
  TIOParamsVals(const TIOParamsVals&) = delete;
  TIOParamsVals& operator=(const TIOParamsVals&) = delete;

  // A copy of Source, field by field, except Owner. Without an Exif bitmap
  // in Source this record keeps its own.
  void Assign(const TIOParamsVals& Source);
  // Clears what describes one particular file (lists, texts, Exif) and keeps
  // size, resolution, type, palette, counts and every format option.
  void ResetInfo();
  void ResetExif();
  // Every field to its value at creation.
  void SetDefaultParams();
  // The type's description with its first extension and a detail of the
  // file, e.g. "JPEG Bitmap (JPG) YCbCr"; empty for an unknown type.
  std::string FormatDescription() const;

  // Palette helpers: ColorMap and ColorMapCount always change together.
  void FreeColorMap();
  // A zero-filled palette of Count entries (none for Count < 1).
  TRGB* AllocColorMap(int Count);
  void SetColorMap(const TRGB* Entries, int Count);

  // ---- General
  TRastrumIO* Owner = nullptr;
  std::int32_t BitsPerSample = 8;
  std::int32_t SamplesPerPixel = 3;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t DpiX = 0;
  std::int32_t DpiY = 0;
  // The file stated its resolution. A reader that finds none gives the
  // defaults above and clears this, so that a save writes none either
  // instead of claiming the screen's as the file's.
  bool DpiStated = true;
  // The picture was turned a quarter (or three) since its file was read:
  // its rows are the file's columns, and what the file states of its
  // pixels' shape is turned with them on a save. Per file.
  bool QuarterTurned = false;
  TRvFileType FileType = rvftUnknown;

  // ---- TIFF
  // 0 none, 1 CCITT 1D, 2 Group 3 1D, 3 Group 3 2D, 4 Group 4, 5 LZW,
  // 6 old-style JPEG, 7 JPEG, 8 PackBits, 9 other (reader only)
  std::uint8_t TiffCompression = 0;
  std::int32_t TiffImageIndex = 0;
  // 0 WhiteIsZero, 1 BlackIsZero, 2 RGB, 3 palette, 4 mask, 5 CMYK, 6 YCbCr, 7 CIELab
  std::uint8_t TiffPhotometric = 2;
  std::int32_t TiffPlanarConfig = 1;
  std::int32_t TiffXPos = 0;
  std::int32_t TiffYPos = 0;
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  std::int32_t TiffPageNumber = 0;
  std::int32_t TiffPageCount = 0;
  std::int32_t TiffOrientation = 1;
  TTiffLzwDecompressProc TiffLzwDecompress = nullptr;
  TTiffLzwCompressProc TiffLzwCompress = nullptr;
  bool TiffApplyOrientation = true;
  // What the page stated, as it stated it, for a save to write back: its
  // ResolutionUnit (1 none, 2 inch, 3 centimetre; 0 when it stated none,
  // which means inches), X and Y resolution and position as numerator and
  // denominator (0/0 when not stated), its ColorMap at 16 bits (all reds,
  // then greens, then blues) and its ExtraSamples (-1 none, 0 unspecified
  // data, 1 associated alpha, 2 unassociated). The writer takes a value
  // again only while the field it was cut to (DpiX, TiffXPos, ColorMap)
  // still says the same.
  std::int32_t TiffResolutionUnit = 2;
  std::array<std::uint32_t, 2> TiffXResolution{}, TiffYResolution{}, TiffXPosition{}, TiffYPosition{};
  std::vector<std::uint16_t> TiffColorMap16;
  std::int32_t TiffExtraSamples = -1;

  // ---- GIF
  std::string GifVersion = "GIF89a";
  std::int32_t GifImageIndex = 0;
  std::int32_t GifXPos = 0;
  std::int32_t GifYPos = 0;
  std::int32_t GifDelayTime = 0; // hundredths of a second
  bool GifHasTransparentColor = false;
  std::uint8_t GifDisposal = 0;
  TRGB GifTransparentColor{};
  // The frame's transparent index as its file stores it; -1 when the file
  // has none. A save of the picture into the file's own table keeps it, and
  // tells the file's transparent entry from a colour asked to be keyed.
  std::int32_t GifTransparentIndex = -1;
  bool GifInterlaced = false;
  std::int32_t GifScreenWidth = 0;
  std::int32_t GifScreenHeight = 0;
  TRGB GifBackground{};
  std::int32_t GifAspectRatio = 0;
  // The screen's colour resolution field (bits a primary, less one) as the
  // file had it; -1 for a picture not read from a GIF.
  std::int32_t GifColorResolution = -1;
  std::vector<std::string> GifComments;
  TGifLzwDecompressProc GifLzwDecompress = nullptr;
  TGifLzwCompressProc GifLzwCompress = nullptr;

  // ---- JPEG
  std::uint8_t JpegColorSpace = 2; // 0 RGB, 1 gray, 2 YCbCr, 3 CMYK, 4 YCbCrK
  std::int32_t JpegQuality = 50;
  std::uint8_t JpegDctMethod = 0; // 0 integer slow, 1 integer fast, 2 float
  bool JpegOptimalHuffman = false;
  std::int32_t JpegSmoothing = 0;
  bool JpegProgressive = false;
  std::uint8_t JpegScale = 1; // 0 automatic, 1 full, 2 half, 3 quarter, 4 eighth
  TRvMarkerList JpegMarkers;
  std::int32_t JpegMarkersLeftOut = 0; // markers the read skipped past its counts
  std::int32_t JpegScaleUsed = 1;
  std::int32_t JpegWarningCount = 0;
  std::int32_t JpegWarningCode = 0;
  std::int32_t UnscaledWidth = 0;
  std::int32_t UnscaledHeight = 0;
  // The JFIF header's unit of density in the file: 0 an aspect ratio only,
  // 1 dots per inch, 2 dots per centimetre; -1 when the file had no JFIF
  // header (a save then writes none either). Per file.
  std::int32_t JpegDensityUnit = 1;
  // The bytes the file held before its picture's start, which a read passes
  // over and a save does not write.
  std::int32_t JpegBytesBefore = 0;
  // What the file held after its picture's end (Trailer), and where the
  // last write put the same (TrailerWritten), for the file read to
  // follow when it is the one written over.
  TRvTrailer Trailer;
  TRvTrailer TrailerWritten;
  // A write copies Trailer after the new picture from TrailerFrom: the
  // file read, open since the save's plan found it to be the file seen,
  // never a name, which may lead to another file by now. Off for writes
  // that make something else of the picture (a copy for mail, a
  // wallpaper): a save of the file that keeps it turns it on.
  bool WriteTrailer = false;
  platform::TStream* TrailerFrom = nullptr;
  // The last write was to copy Trailer and found it no longer there: the
  // write was aborted rather than leave it out.
  bool TrailerMissed = false;

  // ---- JPEG 2000, PCX, BMP, icon, cursor, PNG, Targa
  std::uint8_t J2000ColorSpace = 1; // 0 gray, 1 RGB, 2 YCbCr
  double J2000Rate = 1.0;
  std::uint8_t J2000Progression = 0;
  // Per file: the components a read left out (J2000 reads colour channels
  // only), whether one of them was the file's opacity, and the file's
  // resolution box ("res ", its contents as stored) when it had one.
  std::int32_t J2000ComponentsLeftOut = 0;
  bool J2000AlphaLeftOut = false;
  std::vector<std::uint8_t> J2000ResolutionBox;
  // Per file: the names of a JP2 file's boxes a save does not write back
  // (metadata, other programs' boxes, colour boxes the read passed over),
  // in file order and each once, as many as the read keeps; past them the
  // boxes it counted only.
  std::vector<std::string> J2000BoxesLeftOut;
  std::int32_t J2000BoxesNotNamed = 0;
  std::int32_t PcxVersion = 5;
  std::uint8_t PcxCompression = 1; // 0 none, 1 run-length
  bool PcxBitPlanes = false;       // 16 colours stood in four planes of one bit
  // An 8- or 24-bit PCX file's header palette, which its pixels do not use,
  // as stored (48 bytes): a save writes it back; empty for other files.
  std::vector<std::uint8_t> PcxHeaderPalette;
  std::uint8_t BmpVersion = 1;     // 1 40-byte, 2 OS/2 1.x, 3 OS/2 2.x, 0 other
  std::uint8_t BmpCompression = 0; // 0 none, 1 run-length
  // The information header of the BMP file read, as stored (at most its
  // first 124 bytes; after a 40-byte header of bit fields the three masks
  // that follow it, after a version-5 header naming a linked profile the
  // profile's name): a save writes its version, depth, bit fields and
  // colour space back. Empty for any other file.
  std::vector<std::uint8_t> BmpHeader;
  std::int32_t IcoImageIndex = 0;
  TRGB IcoBackground{255, 255, 255};
  std::int32_t CurImageIndex = 0;
  std::int32_t CurHotSpotX = 0;
  std::int32_t CurHotSpotY = 0;
  TRGB CurBackground{255, 255, 255};
  bool PngInterlaced = false;
  TRGB PngBackground{};
  std::uint8_t PngFilter = 0; // 0 none, 1 sub, 2 Paeth
  std::int32_t PngCompression = 5;
  // What the PNG file held besides its picture: the ancillary chunks as
  // stored, in file order; the chunks its read passed over past the counts
  // kept; the names of the chunks that hold only for the pixels as they
  // were (unknown ones unsafe to copy), which a save cannot write back; and
  // the frames of an animation besides the picture.
  std::vector<TRvPngChunk> PngChunks;
  std::int32_t PngChunksLeftOut = 0;
  std::vector<std::string> PngChunksTiedToPixels;
  std::int32_t PngFramesLeftOut = 0;
  std::int32_t TgaXPos = 0;
  std::int32_t TgaYPos = 0;
  bool TgaCompressed = true;
  std::string TgaImageId;
  std::string TgaAuthor;
  TRvDateTime TgaDateTime = 0;
  std::string TgaJobName;
  TRGB TgaKeyColor{};
  double TgaAspectRatio = 1.0;
  double TgaGamma = 2.2;
  bool TgaGrayLevel = false;
  // The file's descriptor byte (alpha bits 0-3, right-to-left bit 4,
  // top-down bit 5), its colour-map entry size (0 without a map) and the
  // alpha bytes of 32-bit entries, for a save to write back.
  std::uint8_t TgaDescriptor = 0x20;
  std::int32_t TgaMapEntrySize = 0;
  std::vector<std::uint8_t> TgaMapAlpha;
  // The length of the file's image ID field, -1 for a picture not read from
  // a Targa file (a save then writes the ID with its ending NUL); and the
  // file's extension area as stored, empty when it had none. A save writes
  // back what the file had, not more.
  std::int32_t TgaIdLength = -1;
  std::vector<std::uint8_t> TgaExtension;
  // The file held what its extension area points to (a thumbnail, colour
  // correction, scan-line table) or a developer area: a save cannot write
  // them back.
  bool TgaExtrasLeftOut = false;

  // ---- Metafiles
  // The shapes and outlines the last read's play left out to stay within its
  // work budgets: 0 when the picture is drawn whole.
  std::int32_t MetafileShapesLeftOut = 0;

  // ---- Metadata
  TRvIPTCInfoList IptcRecords;
  std::vector<std::string> PnmComments;
  // The file's maximum sample value and whether it was a plain (text) form:
  // a save writes the same when the picture's levels allow.
  std::int32_t PnmMaxValue = 255;
  bool PnmPlain = false;
  // The colour profile the file held (PNG iCCP, TIFF InterColorProfile), as
  // stored; empty when none. Written back by the writers that can hold it.
  std::vector<std::uint8_t> IccProfile;
  bool HasExif = false;
  std::unique_ptr<TRvBitmap> ExifBitmap; // created on demand

  std::string ExifImageDescription;
  std::string ExifMake;
  std::string ExifModel;
  std::int32_t ExifOrientation = 0;
  double ExifXResolution = 0;
  double ExifYResolution = 0;
  std::int32_t ExifResolutionUnit = 0;
  std::string ExifSoftware;
  std::string ExifDateTime;
  std::array<double, 2> ExifWhitePoint{};
  std::array<double, 6> ExifPrimaryChromaticities{};
  std::array<double, 3> ExifYCbCrCoefficients{};
  std::int32_t ExifYCbCrPositioning = 0;
  std::array<double, 6> ExifReferenceBlackWhite{};
  std::string ExifCopyright;
  double ExifExposureTime = 0;
  double ExifFNumber = 0;
  std::int32_t ExifExposureProgram = 0;
  std::array<std::int32_t, 2> ExifISOSpeedRatings{};
  std::string ExifExifVersion;
  std::string ExifDateTimeOriginal;
  std::string ExifDateTimeDigitized;
  double ExifCompressedBitsPerPixel = 0;
  double ExifShutterSpeedValue = 0;
  double ExifApertureValue = 0;
  double ExifBrightnessValue = 0;
  double ExifExposureBiasValue = 0;
  double ExifMaxApertureValue = 0;
  double ExifSubjectDistance = 0;
  std::int32_t ExifMeteringMode = 0;
  std::int32_t ExifLightSource = 0;
  std::int32_t ExifFlash = 0;
  double ExifFocalLength = 0;
  std::string ExifSubsecTime;
  std::string ExifSubsecTimeOriginal;
  std::string ExifSubsecTimeDigitized;
  std::string ExifFlashPixVersion;
  std::int32_t ExifColorSpace = 0;
  std::int32_t ExifImageWidth = 0;
  std::int32_t ExifImageHeight = 0;
  std::string ExifRelatedSoundFile;
  double ExifFocalPlaneXResolution = 0;
  double ExifFocalPlaneYResolution = 0;
  std::int32_t ExifFocalPlaneResolutionUnit = 0;
  double ExifExposureIndex = 0;
  std::int32_t ExifSensingMethod = 0;
  std::int32_t ExifFileSource = 0;
  std::int32_t ExifSceneType = 0;
  std::string ExifUserComment;     // after the 8-character code
  std::string ExifUserCommentCode; // the character-code tag

  // ---- Last fields
  std::string FileName;
  std::unique_ptr<TRGB[]> ColorMap; // owned palette of ColorMapCount entries
  std::int32_t ColorMapCount = 0;
  // Pixels of the file use a palette entry of the same colour as an earlier
  // entry: a save, which knows pixels by their colour, gives them the
  // earlier entry's index.
  bool ColorMapRepeatsUsed = false;
  std::int32_t GifImageCount = 0;
  std::int32_t TiffImageCount = 0;
};

} // namespace rv
