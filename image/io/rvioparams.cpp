#include "image/io/rvioparams.h"

#include <cmath>
#include <cstring>
#include <ctime>

namespace rv {

std::int32_t RvDefaultDpiX = 0;
std::int32_t RvDefaultDpiY = 0;

namespace {

// Days from 1 March of year 0 in the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const std::int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const auto Yoe = static_cast<unsigned>(Y - Era * 400);
  const unsigned Doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + static_cast<std::int64_t>(Doe) - 719468;
}

void CivilFromDays(std::int64_t Z, int& Year, int& Month, int& Day) {
  Z += 719468;
  const std::int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const auto Doe = static_cast<unsigned>(Z - Era * 146097);
  const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const std::int64_t Y = static_cast<std::int64_t>(Yoe) + Era * 400;
  const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const unsigned Mp = (5 * Doy + 2) / 153;
  Day = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
  Month = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
  Year = static_cast<int>(Y + (Month <= 2));
}

bool IsLeap(int Y) { return (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0; }

// The day count of 30 December 1899 from the Unix epoch.
constexpr std::int64_t DateTimeEpoch = -25569;

struct TBuiltinFormat {
  TRvFileType Type;
  const char* Description;
  const char* FirstExtension;
};

// The fixed part of the format registry's built-in records.
constexpr TBuiltinFormat BuiltinFormats[] = {
    {rvftTIFF, "TIFF Bitmap", "TIF"},
    {rvftGIF, "CompuServe Bitmap", "GIF"},
    {rvftJPEG, "JPEG Bitmap", "JPG"},
    {rvftPCX, "PaintBrush", "PCX"},
    {rvftBMP, "Windows Bitmap", "BMP"},
    {rvftICO, "Windows Icon", "ICO"},
    {rvftCUR, "Windows Cursor", "CUR"},
    {rvftPNG, "Portable Network Graphics", "PNG"},
    {rvftWMF, "Windows Metafile", "WMF"},
    {rvftEMF, "Enhanced Windows Metafile", "EMF"},
    {rvftTGA, "Targa Bitmap", "TGA"},
    {rvftPXM, "Portable Pixmap, GreyMap, BitMap", "PXM"},
    {rvftJP2, "JPEG2000", "JP2"},
    {rvftJ2K, "JPEG2000 Code Stream", "J2K"},
};

} // namespace

TRvDateTime RvNow() {
  const std::time_t T = std::time(nullptr);
  std::tm Local{};
  localtime_r(&T, &Local);
  TRvDateTime Result = 0;
  RvEncodeDateTime(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour,
                   Local.tm_min, Local.tm_sec > 59 ? 59 : Local.tm_sec, Result);
  return Result;
}

bool RvEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second,
                      TRvDateTime& Result) {
  static const int DaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
  const int MaxDay = DaysIn[Month - 1] + (Month == 2 && IsLeap(Year) ? 1 : 0);
  if (Day > MaxDay || Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 ||
      Second > 59)
    return false;
  const std::int64_t Days =
      DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) - DateTimeEpoch;
  const double Time = (Hour * 3600.0 + Minute * 60.0 + Second) / 86400.0;
  // Before the epoch the time of day counts away from zero, as the fraction
  // of a negative day count does.
  Result = Days >= 0 ? static_cast<double>(Days) + Time : static_cast<double>(Days) - Time;
  return true;
}

void RvDecodeDateTime(TRvDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Minute,
                      int& Second) {
  // Outside the years 1 to 9999 (or not a number) there is no date to give.
  if (!(Value > -693594.0 && Value < 2958466.0)) Value = 0;
  const double Whole = std::trunc(Value);
  const double Fraction = std::fabs(Value - Whole);
  CivilFromDays(static_cast<std::int64_t>(Whole) + DateTimeEpoch, Year, Month, Day);
  // Milliseconds rounded first, so that 2.2 days' worth of floating error
  // does not turn 10:00:00 into 09:59:59.
  auto Ms = static_cast<std::int64_t>(std::llround(Fraction * 86400000.0));
  if (Ms >= 86400000) Ms = 86399999;
  const std::int64_t S = Ms / 1000;
  Hour = static_cast<int>(S / 3600);
  Minute = static_cast<int>(S / 60 % 60);
  Second = static_cast<int>(S % 60);
}

TIOParamsVals::TIOParamsVals(TRastrumIO* AOwner) : Owner(AOwner) { SetDefaultParams(); }

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::FreeColorMap() {
  ColorMap.reset();
  ColorMapCount = 0;
}

TRGB* TIOParamsVals::AllocColorMap(int Count) {
  FreeColorMap();
  if (Count < 1) return nullptr;
  ColorMap.reset(new TRGB[static_cast<std::size_t>(Count)]());
  ColorMapCount = Count;
  return ColorMap.get();
}

void TIOParamsVals::SetColorMap(const TRGB* Entries, int Count) {
  TRGB* Map = AllocColorMap(Count);
  if (Map != nullptr && Entries != nullptr)
    std::memcpy(static_cast<void*>(Map), Entries, static_cast<std::size_t>(Count) * sizeof(TRGB));
}

void TIOParamsVals::SetDefaultParams() {
  BitsPerSample = 8;
  SamplesPerPixel = 3;
  // The owner's target bitmap and view give the size and resolution once the
  // input/output component exists; a record on its own starts at 0.
  Width = 0;
  Height = 0;
  DpiX = 0;
  DpiY = 0;
  DpiStated = true;
  QuarterTurned = false;
  FileType = rvftUnknown;

  TiffCompression = 0;
  TiffImageIndex = 0;
  TiffPhotometric = 2;
  TiffPlanarConfig = 1;
  TiffXPos = 0;
  TiffYPos = 0;
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  TiffPageNumber = 0;
  TiffPageCount = 0;
  TiffOrientation = 1;
  TiffLzwDecompress = RvDefaultTiffLzwDecompress;
  TiffLzwCompress = RvDefaultTiffLzwCompress;
  TiffApplyOrientation = true;

  GifVersion = "GIF89a";
  GifImageIndex = 0;
  GifXPos = 0;
  GifYPos = 0;
  GifDelayTime = 0;
  GifHasTransparentColor = false;
  GifDisposal = 0;
  GifTransparentColor = TRGB{};
  GifTransparentIndex = -1;
  GifInterlaced = false;
  GifScreenWidth = 0;
  GifScreenHeight = 0;
  GifBackground = TRGB{};
  GifAspectRatio = 0;
  GifColorResolution = -1;
  GifComments.clear();
  GifLzwDecompress = RvDefaultGifLzwDecompress;
  GifLzwCompress = RvDefaultGifLzwCompress;

  JpegColorSpace = 2;
  JpegQuality = 50;
  JpegDctMethod = 0;
  JpegOptimalHuffman = false;
  JpegSmoothing = 0;
  JpegProgressive = false;
  JpegScale = 1;
  JpegMarkers.Clear();
  JpegMarkersLeftOut = 0;
  JpegScaleUsed = 1;
  JpegWarningCount = 0;
  JpegWarningCode = 0;
  UnscaledWidth = 0;
  UnscaledHeight = 0;
  JpegDensityUnit = 1;
  JpegBytesBefore = 0;
  Trailer = TRvTrailer{};
  TrailerWritten = TRvTrailer{};
  WriteTrailer = false;
  TrailerFrom = nullptr;
  TrailerMissed = false;

  J2000ColorSpace = 1;
  J2000Rate = 1.0;
  J2000Progression = 0;
  J2000ComponentsLeftOut = 0;
  J2000AlphaLeftOut = false;
  J2000ResolutionBox.clear();
  J2000BoxesLeftOut.clear();
  J2000BoxesNotNamed = 0;
  PcxVersion = 5;
  PcxCompression = 1;
  BmpVersion = 1;
  BmpCompression = 0;
  BmpHeader.clear();
  IcoImageIndex = 0;
  IcoBackground = TRGB{255, 255, 255};
  CurImageIndex = 0;
  CurHotSpotX = 0;
  CurHotSpotY = 0;
  CurBackground = TRGB{255, 255, 255};
  PngInterlaced = false;
  PngBackground = TRGB{};
  PngFilter = 0;
  PngCompression = 5;
  PngChunks.clear();
  PngChunksLeftOut = 0;
  PngChunksTiedToPixels.clear();
  PngFramesLeftOut = 0;
  TgaXPos = 0;
  TgaYPos = 0;
  TgaCompressed = true;
  TgaImageId.clear();
  TgaAuthor.clear();
  TgaDateTime = RvNow();
  TgaJobName.clear();
  TgaKeyColor = TRGB{};
  TgaAspectRatio = 1.0;
  TgaGamma = 2.2;
  TgaGrayLevel = false;
  MetafileShapesLeftOut = 0;

  IptcRecords.Clear();
  PnmComments.clear();
  PnmMaxValue = 255;
  PnmPlain = false;
  IccProfile.clear();
  ResetExif();
  ResetInfo();

  FileName.clear();
  FreeColorMap();
  GifImageCount = 0;
  TiffImageCount = 0;
}

void TIOParamsVals::ResetExif() {
  HasExif = false;
  ExifBitmap.reset();
  ExifImageDescription.clear();
  ExifMake.clear();
  ExifModel.clear();
  ExifOrientation = 0;
  ExifXResolution = 0;
  ExifYResolution = 0;
  ExifResolutionUnit = 0;
  ExifSoftware.clear();
  ExifDateTime.clear();
  ExifWhitePoint.fill(0);
  ExifPrimaryChromaticities.fill(0);
  ExifYCbCrCoefficients.fill(0);
  ExifYCbCrPositioning = 0;
  ExifReferenceBlackWhite.fill(0);
  ExifCopyright.clear();
  ExifExposureTime = 0;
  ExifFNumber = 0;
  ExifExposureProgram = 0;
  ExifISOSpeedRatings.fill(0);
  ExifExifVersion.clear();
  ExifDateTimeOriginal.clear();
  ExifDateTimeDigitized.clear();
  ExifCompressedBitsPerPixel = 0;
  ExifShutterSpeedValue = 0;
  ExifApertureValue = 0;
  ExifBrightnessValue = 0;
  ExifExposureBiasValue = 0;
  ExifMaxApertureValue = 0;
  ExifSubjectDistance = 0;
  ExifMeteringMode = 0;
  ExifLightSource = 0;
  ExifFlash = 0;
  ExifFocalLength = 0;
  ExifSubsecTime.clear();
  ExifSubsecTimeOriginal.clear();
  ExifSubsecTimeDigitized.clear();
  ExifFlashPixVersion.clear();
  ExifColorSpace = 0;
  ExifImageWidth = 0;
  ExifImageHeight = 0;
  ExifRelatedSoundFile.clear();
  ExifFocalPlaneXResolution = 0;
  ExifFocalPlaneYResolution = 0;
  ExifFocalPlaneResolutionUnit = 0;
  ExifExposureIndex = 0;
  ExifSensingMethod = 0;
  ExifFileSource = 0;
  ExifSceneType = 0;
  ExifUserComment.clear();
  ExifUserCommentCode.clear();
}

void TIOParamsVals::ResetInfo() {
  DpiStated = true;
  QuarterTurned = false;
  TiffResolutionUnit = 2;
  TiffXResolution = TiffYResolution = TiffXPosition = TiffYPosition = {};
  TiffColorMap16.clear();
  TiffExtraSamples = -1;
  PcxBitPlanes = false;
  PcxHeaderPalette.clear();
  TgaDescriptor = 0x20;
  TgaMapEntrySize = 0;
  TgaMapAlpha.clear();
  TgaIdLength = -1;
  TgaExtension.clear();
  TgaExtrasLeftOut = false;
  ColorMapRepeatsUsed = false;
  IptcRecords.Clear();
  IptcRecords.Changed = false;
  JpegMarkers.Clear();
  JpegMarkersLeftOut = 0;
  PngChunks.clear();
  PngChunksLeftOut = 0;
  PngChunksTiedToPixels.clear();
  PngFramesLeftOut = 0;
  ResetExif();
  GifComments.clear();
  GifTransparentIndex = -1;
  BmpHeader.clear();
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  TgaImageId.clear();
  TgaAuthor.clear();
  TgaJobName.clear();
  PnmComments.clear();
  PnmMaxValue = 255;
  PnmPlain = false;
  JpegDensityUnit = 1;
  JpegBytesBefore = 0;
  Trailer = TRvTrailer{};
  TrailerWritten = TRvTrailer{};
  J2000ComponentsLeftOut = 0;
  J2000AlphaLeftOut = false;
  J2000ResolutionBox.clear();
  J2000BoxesLeftOut.clear();
  J2000BoxesNotNamed = 0;
  IccProfile.clear();
}

void TIOParamsVals::Assign(const TIOParamsVals& S) {
  if (&S == this) return;
  BitsPerSample = S.BitsPerSample;
  SamplesPerPixel = S.SamplesPerPixel;
  Width = S.Width;
  Height = S.Height;
  DpiX = S.DpiX;
  DpiY = S.DpiY;
  DpiStated = S.DpiStated;
  QuarterTurned = S.QuarterTurned;
  FileType = S.FileType;

  TiffCompression = S.TiffCompression;
  TiffImageIndex = S.TiffImageIndex;
  TiffPhotometric = S.TiffPhotometric;
  TiffPlanarConfig = S.TiffPlanarConfig;
  TiffXPos = S.TiffXPos;
  TiffYPos = S.TiffYPos;
  TiffDocumentName = S.TiffDocumentName;
  TiffImageDescription = S.TiffImageDescription;
  TiffPageName = S.TiffPageName;
  TiffPageNumber = S.TiffPageNumber;
  TiffPageCount = S.TiffPageCount;
  TiffOrientation = S.TiffOrientation;
  TiffLzwDecompress = S.TiffLzwDecompress;
  TiffLzwCompress = S.TiffLzwCompress;
  TiffApplyOrientation = S.TiffApplyOrientation;
  TiffResolutionUnit = S.TiffResolutionUnit;
  TiffXResolution = S.TiffXResolution;
  TiffYResolution = S.TiffYResolution;
  TiffXPosition = S.TiffXPosition;
  TiffYPosition = S.TiffYPosition;
  TiffColorMap16 = S.TiffColorMap16;
  TiffExtraSamples = S.TiffExtraSamples;

  GifVersion = S.GifVersion;
  GifImageIndex = S.GifImageIndex;
  GifXPos = S.GifXPos;
  GifYPos = S.GifYPos;
  GifDelayTime = S.GifDelayTime;
  GifHasTransparentColor = S.GifHasTransparentColor;
  GifDisposal = S.GifDisposal;
  GifTransparentColor = S.GifTransparentColor;
  GifTransparentIndex = S.GifTransparentIndex;
  GifInterlaced = S.GifInterlaced;
  GifScreenWidth = S.GifScreenWidth;
  GifScreenHeight = S.GifScreenHeight;
  GifBackground = S.GifBackground;
  GifAspectRatio = S.GifAspectRatio;
  GifColorResolution = S.GifColorResolution;
  GifComments = S.GifComments;
  GifLzwDecompress = S.GifLzwDecompress;
  GifLzwCompress = S.GifLzwCompress;

  JpegColorSpace = S.JpegColorSpace;
  JpegQuality = S.JpegQuality;
  JpegDctMethod = S.JpegDctMethod;
  JpegOptimalHuffman = S.JpegOptimalHuffman;
  JpegSmoothing = S.JpegSmoothing;
  JpegProgressive = S.JpegProgressive;
  JpegScale = S.JpegScale;
  JpegMarkers.Assign(&S.JpegMarkers);
  JpegMarkersLeftOut = S.JpegMarkersLeftOut;
  JpegScaleUsed = S.JpegScaleUsed;
  JpegWarningCount = S.JpegWarningCount;
  JpegWarningCode = S.JpegWarningCode;
  UnscaledWidth = S.UnscaledWidth;
  UnscaledHeight = S.UnscaledHeight;
  JpegDensityUnit = S.JpegDensityUnit;
  JpegBytesBefore = S.JpegBytesBefore;
  Trailer = S.Trailer;
  TrailerWritten = S.TrailerWritten;
  WriteTrailer = S.WriteTrailer;

  J2000ColorSpace = S.J2000ColorSpace;
  J2000Rate = S.J2000Rate;
  J2000Progression = S.J2000Progression;
  J2000ComponentsLeftOut = S.J2000ComponentsLeftOut;
  J2000AlphaLeftOut = S.J2000AlphaLeftOut;
  J2000ResolutionBox = S.J2000ResolutionBox;
  J2000BoxesLeftOut = S.J2000BoxesLeftOut;
  J2000BoxesNotNamed = S.J2000BoxesNotNamed;
  PcxVersion = S.PcxVersion;
  PcxCompression = S.PcxCompression;
  PcxHeaderPalette = S.PcxHeaderPalette;
  PcxBitPlanes = S.PcxBitPlanes;
  BmpVersion = S.BmpVersion;
  BmpCompression = S.BmpCompression;
  BmpHeader = S.BmpHeader;
  IcoImageIndex = S.IcoImageIndex;
  IcoBackground = S.IcoBackground;
  CurImageIndex = S.CurImageIndex;
  CurHotSpotX = S.CurHotSpotX;
  CurHotSpotY = S.CurHotSpotY;
  CurBackground = S.CurBackground;
  PngInterlaced = S.PngInterlaced;
  PngBackground = S.PngBackground;
  PngFilter = S.PngFilter;
  PngCompression = S.PngCompression;
  PngChunks = S.PngChunks;
  PngChunksLeftOut = S.PngChunksLeftOut;
  PngChunksTiedToPixels = S.PngChunksTiedToPixels;
  PngFramesLeftOut = S.PngFramesLeftOut;
  TgaXPos = S.TgaXPos;
  TgaYPos = S.TgaYPos;
  TgaCompressed = S.TgaCompressed;
  TgaImageId = S.TgaImageId;
  TgaAuthor = S.TgaAuthor;
  TgaDateTime = S.TgaDateTime;
  TgaJobName = S.TgaJobName;
  TgaIdLength = S.TgaIdLength;
  TgaExtension = S.TgaExtension;
  TgaExtrasLeftOut = S.TgaExtrasLeftOut;
  TgaKeyColor = S.TgaKeyColor;
  TgaAspectRatio = S.TgaAspectRatio;
  TgaGamma = S.TgaGamma;
  TgaGrayLevel = S.TgaGrayLevel;
  TgaDescriptor = S.TgaDescriptor;
  TgaMapEntrySize = S.TgaMapEntrySize;
  TgaMapAlpha = S.TgaMapAlpha;
  MetafileShapesLeftOut = S.MetafileShapesLeftOut;

  IptcRecords.Assign(&S.IptcRecords);
  // A copy of the record is as edited as the record: a save of it rebuilds
  // the file's block only when its records were changed.
  IptcRecords.Changed = S.IptcRecords.Changed;
  PnmComments = S.PnmComments;
  PnmMaxValue = S.PnmMaxValue;
  PnmPlain = S.PnmPlain;
  IccProfile = S.IccProfile;
  HasExif = S.HasExif;
  if (S.ExifBitmap) {
    if (!ExifBitmap) ExifBitmap = std::make_unique<TRvBitmap>();
    ExifBitmap->Assign(S.ExifBitmap.get());
  }
  ExifImageDescription = S.ExifImageDescription;
  ExifMake = S.ExifMake;
  ExifModel = S.ExifModel;
  ExifOrientation = S.ExifOrientation;
  ExifXResolution = S.ExifXResolution;
  ExifYResolution = S.ExifYResolution;
  ExifResolutionUnit = S.ExifResolutionUnit;
  ExifSoftware = S.ExifSoftware;
  ExifDateTime = S.ExifDateTime;
  ExifWhitePoint = S.ExifWhitePoint;
  ExifPrimaryChromaticities = S.ExifPrimaryChromaticities;
  ExifYCbCrCoefficients = S.ExifYCbCrCoefficients;
  ExifYCbCrPositioning = S.ExifYCbCrPositioning;
  ExifReferenceBlackWhite = S.ExifReferenceBlackWhite;
  ExifCopyright = S.ExifCopyright;
  ExifExposureTime = S.ExifExposureTime;
  ExifFNumber = S.ExifFNumber;
  ExifExposureProgram = S.ExifExposureProgram;
  ExifISOSpeedRatings = S.ExifISOSpeedRatings;
  ExifExifVersion = S.ExifExifVersion;
  ExifDateTimeOriginal = S.ExifDateTimeOriginal;
  ExifDateTimeDigitized = S.ExifDateTimeDigitized;
  ExifCompressedBitsPerPixel = S.ExifCompressedBitsPerPixel;
  ExifShutterSpeedValue = S.ExifShutterSpeedValue;
  ExifApertureValue = S.ExifApertureValue;
  ExifBrightnessValue = S.ExifBrightnessValue;
  ExifExposureBiasValue = S.ExifExposureBiasValue;
  ExifMaxApertureValue = S.ExifMaxApertureValue;
  ExifSubjectDistance = S.ExifSubjectDistance;
  ExifMeteringMode = S.ExifMeteringMode;
  ExifLightSource = S.ExifLightSource;
  ExifFlash = S.ExifFlash;
  ExifFocalLength = S.ExifFocalLength;
  ExifSubsecTime = S.ExifSubsecTime;
  ExifSubsecTimeOriginal = S.ExifSubsecTimeOriginal;
  ExifSubsecTimeDigitized = S.ExifSubsecTimeDigitized;
  ExifFlashPixVersion = S.ExifFlashPixVersion;
  ExifColorSpace = S.ExifColorSpace;
  ExifImageWidth = S.ExifImageWidth;
  ExifImageHeight = S.ExifImageHeight;
  ExifRelatedSoundFile = S.ExifRelatedSoundFile;
  ExifFocalPlaneXResolution = S.ExifFocalPlaneXResolution;
  ExifFocalPlaneYResolution = S.ExifFocalPlaneYResolution;
  ExifFocalPlaneResolutionUnit = S.ExifFocalPlaneResolutionUnit;
  ExifExposureIndex = S.ExifExposureIndex;
  ExifSensingMethod = S.ExifSensingMethod;
  ExifFileSource = S.ExifFileSource;
  ExifSceneType = S.ExifSceneType;
  ExifUserComment = S.ExifUserComment;
  ExifUserCommentCode = S.ExifUserCommentCode;

  FileName = S.FileName;
  SetColorMap(S.ColorMap.get(), S.ColorMap ? S.ColorMapCount : 0);
  ColorMapRepeatsUsed = S.ColorMapRepeatsUsed;
  GifImageCount = S.GifImageCount;
  TiffImageCount = S.TiffImageCount;
}

std::string TIOParamsVals::FormatDescription() const {
  std::string Text;
  for (const TBuiltinFormat& F : BuiltinFormats)
    if (F.Type == FileType) {
      Text = std::string(F.Description) + " (" + F.FirstExtension + ")";
      break;
    }
  switch (FileType) {
  case rvftTIFF: {
    static const char* const Names[] = {" Uncompressed", " Huffman", " Group 3 Fax",
                                        " Group 3 Fax 2D", " Group 4 Fax", " LZW",
                                        " Jpeg v.5", " Jpeg", " PackBits RLE"};
    if (TiffCompression <= 8) Text += Names[TiffCompression];
    break;
  }
  case rvftGIF:
    if (GifInterlaced) Text += " Interlaced";
    break;
  case rvftJPEG: {
    static const char* const Names[] = {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"};
    if (JpegColorSpace <= 4) Text += Names[JpegColorSpace];
    break;
  }
  case rvftPCX:
    if (PcxCompression == 0) Text += " Uncompressed";
    break;
  case rvftBMP: {
    static const char* const Names[] = {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"};
    if (BmpVersion <= 3) Text += Names[BmpVersion];
    break;
  }
  case rvftPNG:
    if (PngInterlaced) Text += " Interlaced";
    break;
  case rvftTGA:
    Text += TgaCompressed ? " Compressed" : " Uncompressed";
    break;
  case rvftJP2:
  case rvftJ2K: {
    static const char* const Names[] = {" Gray level", " RGB", " YCbCr"};
    if (J2000ColorSpace <= 2) Text += Names[J2000ColorSpace];
    break;
  }
  default:
    break;
  }
  return Text;
}

} // namespace rv
