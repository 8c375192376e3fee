#include "image/io/tiff/exif.h"

#include <cstring>
#include <memory>

#include "image/io/tiff/tiffread.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

namespace {

constexpr std::int64_t ExifHeaderSize = 6;
constexpr std::int64_t TiffHeaderSize = 8;

void CopyExifFields(const TIOParamsVals& S, TIOParamsVals& D) {
  D.ExifImageDescription = S.ExifImageDescription;
  D.ExifMake = S.ExifMake;
  D.ExifModel = S.ExifModel;
  D.ExifOrientation = S.ExifOrientation;
  D.ExifXResolution = S.ExifXResolution;
  D.ExifYResolution = S.ExifYResolution;
  D.ExifResolutionUnit = S.ExifResolutionUnit;
  D.ExifSoftware = S.ExifSoftware;
  D.ExifDateTime = S.ExifDateTime;
  D.ExifWhitePoint = S.ExifWhitePoint;
  D.ExifPrimaryChromaticities = S.ExifPrimaryChromaticities;
  D.ExifYCbCrCoefficients = S.ExifYCbCrCoefficients;
  D.ExifYCbCrPositioning = S.ExifYCbCrPositioning;
  D.ExifReferenceBlackWhite = S.ExifReferenceBlackWhite;
  D.ExifCopyright = S.ExifCopyright;
  D.ExifExposureTime = S.ExifExposureTime;
  D.ExifFNumber = S.ExifFNumber;
  D.ExifExposureProgram = S.ExifExposureProgram;
  D.ExifISOSpeedRatings = S.ExifISOSpeedRatings;
  D.ExifExifVersion = S.ExifExifVersion;
  D.ExifDateTimeOriginal = S.ExifDateTimeOriginal;
  D.ExifDateTimeDigitized = S.ExifDateTimeDigitized;
  D.ExifCompressedBitsPerPixel = S.ExifCompressedBitsPerPixel;
  D.ExifShutterSpeedValue = S.ExifShutterSpeedValue;
  D.ExifApertureValue = S.ExifApertureValue;
  D.ExifBrightnessValue = S.ExifBrightnessValue;
  D.ExifExposureBiasValue = S.ExifExposureBiasValue;
  D.ExifMaxApertureValue = S.ExifMaxApertureValue;
  D.ExifSubjectDistance = S.ExifSubjectDistance;
  D.ExifMeteringMode = S.ExifMeteringMode;
  D.ExifLightSource = S.ExifLightSource;
  D.ExifFlash = S.ExifFlash;
  D.ExifFocalLength = S.ExifFocalLength;
  D.ExifSubsecTime = S.ExifSubsecTime;
  D.ExifSubsecTimeOriginal = S.ExifSubsecTimeOriginal;
  D.ExifSubsecTimeDigitized = S.ExifSubsecTimeDigitized;
  D.ExifFlashPixVersion = S.ExifFlashPixVersion;
  D.ExifColorSpace = S.ExifColorSpace;
  D.ExifImageWidth = S.ExifImageWidth;
  D.ExifImageHeight = S.ExifImageHeight;
  D.ExifRelatedSoundFile = S.ExifRelatedSoundFile;
  D.ExifFocalPlaneXResolution = S.ExifFocalPlaneXResolution;
  D.ExifFocalPlaneYResolution = S.ExifFocalPlaneYResolution;
  D.ExifFocalPlaneResolutionUnit = S.ExifFocalPlaneResolutionUnit;
  D.ExifExposureIndex = S.ExifExposureIndex;
  D.ExifSensingMethod = S.ExifSensingMethod;
  D.ExifFileSource = S.ExifFileSource;
  D.ExifSceneType = S.ExifSceneType;
  D.ExifUserComment = S.ExifUserComment;
  D.ExifUserCommentCode = S.ExifUserCommentCode;
}

template <typename T, std::size_t N>
T GetItem(const std::array<T, N>& A, int Index) {
  return Index >= 0 && static_cast<std::size_t>(Index) < N ? A[static_cast<std::size_t>(Index)] : T{};
}

template <typename T, std::size_t N>
void SetItem(std::array<T, N>& A, int Index, T Value) {
  if (Index >= 0 && static_cast<std::size_t>(Index) < N) A[static_cast<std::size_t>(Index)] = Value;
}

} // namespace

bool RvLoadExifFromApp1(const void* Data, std::int64_t Size, TIOParamsVals& Params) {
  // The size is checked before the header is looked at: a block shorter than
  // its own header and a TIFF header is not Exif.
  if (!RvIsExifApp1(Data, Size)) return false;
  const auto* Bytes = static_cast<const std::uint8_t*>(Data);

  TIOParamsVals Temp(Params.Owner);
  platform::TMemoryStream Stream;
  Stream.WriteBuffer(Bytes + ExifHeaderSize, Size - ExifHeaderSize);
  Stream.SetPosition(0);

  // The first directory carries the camera's tags and no picture of its own.
  TRvBitmap Scratch;
  std::unique_ptr<TRvMask> Mask;
  int Count = 0;
  TRvLocalProgress First;
  Temp.TiffImageIndex = 0;
  TiffReadStream(Scratch, Stream, Count, true, true, Mask, true, First.Rec, &Temp);
  // A structure whose first directory cannot be read is damaged, not Exif.
  if (First.Rec.IsAborting() || Count < 1) return false;

  if (Params.ExifBitmap == nullptr) Params.ExifBitmap = std::make_unique<TRvBitmap>();
  Params.HasExif = true;
  CopyExifFields(Temp, Params);

  Temp.TiffImageIndex = 1;
  Stream.SetPosition(0);
  TRvLocalProgress Second;
  TiffReadStream(*Params.ExifBitmap, Stream, Count, true, true, Mask, false, Second.Rec, &Temp);
  // A half-decoded thumbnail is worse than none.
  if (Second.Rec.IsAborting()) Params.ExifBitmap->FreeBits();
  return true;
}

bool RvIsExifApp1(const void* Data, std::int64_t Size) {
  return Data != nullptr && Size >= ExifHeaderSize + TiffHeaderSize && std::memcmp(Data, "Exif", 5) == 0;
}

bool RvSetExifOrientation(void* Data, std::int64_t Size, int Orientation) {
  if (!RvIsExifApp1(Data, Size) || Orientation < 1 || Orientation > 8) return false;
  std::uint8_t* Tiff = static_cast<std::uint8_t*>(Data) + ExifHeaderSize;
  const std::int64_t Length = Size - ExifHeaderSize;
  bool Motorola;
  if (Tiff[0] == 'I' && Tiff[1] == 'I') Motorola = false;
  else if (Tiff[0] == 'M' && Tiff[1] == 'M') Motorola = true;
  else return false;
  auto Get = [&](std::int64_t At, int Bytes) {
    std::uint32_t V = 0;
    for (int I = 0; I < Bytes; ++I) {
      const std::uint32_t B = Tiff[At + I];
      V |= Motorola ? B << (8 * (Bytes - 1 - I)) : B << (8 * I);
    }
    return V;
  };
  const std::int64_t Directory = Get(4, 4);
  if (Directory < TiffHeaderSize || Directory + 2 > Length) return false;
  const std::int64_t Count = Get(Directory, 2);
  for (std::int64_t N = 0; N < Count; ++N) {
    const std::int64_t Entry = Directory + 2 + 12 * N;
    if (Entry + 12 > Length) return false;
    if (Get(Entry, 2) != 274) continue;
    const std::uint32_t Type = Get(Entry + 2, 2);
    const int Bytes = Type == 3 ? 2 : Type == 4 ? 4 : 0;
    // One value, held in the entry itself.
    if (Bytes == 0 || Get(Entry + 4, 4) != 1) return false;
    for (int I = 0; I < Bytes; ++I) {
      const int Shift = Motorola ? 8 * (Bytes - 1 - I) : 8 * I;
      Tiff[Entry + 8 + I] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(Orientation) >> Shift);
    }
    return true;
  }
  return false;
}

std::int32_t GetExifISOSpeedRatings(const TIOParamsVals& Params, int Index) {
  return GetItem(Params.ExifISOSpeedRatings, Index);
}
void SetExifISOSpeedRatings(TIOParamsVals& Params, int Index, std::int32_t Value) {
  SetItem(Params.ExifISOSpeedRatings, Index, Value);
}
double GetExifWhitePoint(const TIOParamsVals& Params, int Index) { return GetItem(Params.ExifWhitePoint, Index); }
void SetExifWhitePoint(TIOParamsVals& Params, int Index, double Value) {
  SetItem(Params.ExifWhitePoint, Index, Value);
}
double GetExifPrimaryChromaticities(const TIOParamsVals& Params, int Index) {
  return GetItem(Params.ExifPrimaryChromaticities, Index);
}
void SetExifPrimaryChromaticities(TIOParamsVals& Params, int Index, double Value) {
  SetItem(Params.ExifPrimaryChromaticities, Index, Value);
}
double GetExifYCbCrCoefficients(const TIOParamsVals& Params, int Index) {
  return GetItem(Params.ExifYCbCrCoefficients, Index);
}
void SetExifYCbCrCoefficients(TIOParamsVals& Params, int Index, double Value) {
  SetItem(Params.ExifYCbCrCoefficients, Index, Value);
}
double GetExifReferenceBlackWhite(const TIOParamsVals& Params, int Index) {
  return GetItem(Params.ExifReferenceBlackWhite, Index);
}
void SetExifReferenceBlackWhite(TIOParamsVals& Params, int Index, double Value) {
  SetItem(Params.ExifReferenceBlackWhite, Index, Value);
}

} // namespace rv
