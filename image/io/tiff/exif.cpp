#include "image/io/tiff/exif.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "image/io/jpeg/jpegfilt.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/tiffread.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

namespace {

constexpr std::int64_t ExifHeaderSize = 6;
constexpr std::int64_t TiffHeaderSize = 8;

// No coding of a real thumbnail packs more pixels into a byte of its block:
// a camera's JPEG thumbnail holds a few per byte, a flat one some tens.
constexpr std::int64_t ExifThumbnailPixelsPerByte = 64;

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

// The TIFF structure of an Exif block, read and written in its byte order;
// every access is checked against the block's end.
class TExifTiff {
public:
  // Bytes [Start, End) of the structure.
  struct TSpan {
    std::int64_t Start;
    std::int64_t End;
    // Directories already spanned, at the depth they were reached from: one
    // that many entries point at adds the same bytes each time, so it is
    // walked once, not once for every pointer to it.
    std::set<std::pair<std::int64_t, int>> Spanned = {};
    // Directory entries looked at: the walk's work.
    std::int64_t Visited = 0;
    void Add(std::int64_t From, std::int64_t Length) {
      Start = std::min(Start, From);
      End = std::max(End, From + Length);
    }
  };

  bool Open(void* Data, std::int64_t Size) {
    if (!RvIsExifApp1(Data, Size)) return false;
    FTiff = static_cast<std::uint8_t*>(Data) + ExifHeaderSize;
    FLength = Size - ExifHeaderSize;
    if (FTiff[0] == 'I' && FTiff[1] == 'I') FMotorola = false;
    else if (FTiff[0] == 'M' && FTiff[1] == 'M') FMotorola = true;
    else return false;
    return true;
  }
  bool Inside(std::int64_t At, std::int64_t Bytes) const {
    return At >= 0 && Bytes >= 0 && At <= FLength && Bytes <= FLength - At;
  }
  // 0 for bytes outside the block.
  std::uint32_t Get(std::int64_t At, int Bytes) const {
    if (!Inside(At, Bytes)) return 0;
    std::uint32_t V = 0;
    for (int I = 0; I < Bytes; ++I) {
      const std::uint32_t B = FTiff[At + I];
      V |= FMotorola ? B << (8 * (Bytes - 1 - I)) : B << (8 * I);
    }
    return V;
  }
  void Put(std::int64_t At, int Bytes, std::uint32_t V) {
    if (!Inside(At, Bytes)) return;
    for (int I = 0; I < Bytes; ++I)
      FTiff[At + I] = static_cast<std::uint8_t>(V >> (FMotorola ? 8 * (Bytes - 1 - I) : 8 * I));
  }
  // Where the first directory lies and how many entries it claims.
  bool FirstDirectory(std::int64_t& Directory, std::int64_t& Count) const {
    Directory = Get(4, 4);
    if (Directory < TiffHeaderSize || !Inside(Directory, 2)) return false;
    Count = Get(Directory, 2);
    return true;
  }
  // The entry of Tag among the Count at Directory, -1 when none is there.
  std::int64_t FindEntry(std::int64_t Directory, std::int64_t Count, std::uint32_t Tag) const {
    for (std::int64_t N = 0; N < Count; ++N) {
      const std::int64_t Entry = Directory + 2 + 12 * N;
      if (!Inside(Entry, 12)) return -1;
      if (Get(Entry, 2) == Tag) return Entry;
    }
    return -1;
  }

  // Widens Into by the directory at Directory with its link to the next one,
  // its values and, for the thumbnail's, the data of its picture; follows the
  // Exif, GPS and interoperability directories of the others. False for
  // anything it cannot bound: bytes outside the block, a type of unknown
  // size, picture data outside the thumbnail, a chain of more directories.
  bool Span(std::int64_t Directory, bool Thumbnail, int Depth, TSpan& Into) const {
    if (Depth > 2 || !Inside(Directory, 2)) return false;
    if (Into.Spanned.count({Directory, Depth}) != 0) return true;
    const std::int64_t Count = Get(Directory, 2);
    const std::int64_t Next = Directory + 2 + 12 * Count;
    if (!Inside(Directory, Next + 4 - Directory)) return false;
    Into.Add(Directory, Next + 4 - Directory);
    if (Thumbnail && Get(Next, 4) != 0) return false;
    std::int64_t JpegAt = -1, JpegLength = -1, StripAt = -1, StripLength = -1;
    for (std::int64_t N = 0; N < Count; ++N) {
      ++Into.Visited;
      const std::int64_t Entry = Directory + 2 + 12 * N;
      const std::uint32_t Tag = Get(Entry, 2);
      const std::int64_t Unit = TypeSize(Get(Entry + 2, 2));
      const std::int64_t Values = Get(Entry + 4, 4);
      if (Unit == 0) return false;
      const std::int64_t Bytes = Unit * Values;
      if (Bytes > 4) {
        if (!Inside(Get(Entry + 8, 4), Bytes)) return false;
        Into.Add(Get(Entry + 8, 4), Bytes);
      }
      const bool Single = Values == 1 && (Unit == 2 || Unit == 4);
      const std::uint32_t Value = Single ? Get(Entry + 8, static_cast<int>(Unit)) : 0;
      switch (Tag) {
      case 34665: // Exif
      case 34853: // GPS
      case 40965: // interoperability
        if (Thumbnail || !Single || !Span(Value, false, Depth + 1, Into)) return false;
        break;
      case 513: JpegAt = Single ? Value : -2; break;
      case 514: JpegLength = Single ? Value : -2; break;
      case 273: StripAt = Single ? Value : -2; break;
      case 279: StripLength = Single ? Value : -2; break;
      case 324: // tiles
      case 325:
      case 330: // sub-directories
        return false;
      default: break;
      }
    }
    // Picture data: one JPEG stream or one strip, in the thumbnail only.
    for (auto [At, Length] : {std::pair{JpegAt, JpegLength}, std::pair{StripAt, StripLength}}) {
      if (At == -1 && Length == -1) continue;
      if (!Thumbnail || At < 0 || Length < 0 || !Inside(At, Length)) return false;
      Into.Add(At, Length);
    }
    Into.Spanned.insert({Directory, Depth});
    return true;
  }

private:
  static std::int64_t TypeSize(std::uint32_t Type) {
    switch (Type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
  }

  std::uint8_t* FTiff = nullptr;
  std::int64_t FLength = 0;
  bool FMotorola = false;
};

// Whether the thumbnail's directory (the second of the TIFF structure in
// Tiff, an Exif block of BlockSize bytes) stands for a picture its block
// could hold: its own pixels, or those of the JPEG stream it names (the
// reader decodes no more of a tile than the picture shows). A
// directory that cannot be found or measured is left to the reader, which
// refuses it itself.
bool ThumbnailInProportion(platform::TMemoryStream& Tiff, std::int64_t BlockSize) {
  TTiffDirectory Dir(Tiff, 0, Tiff.Memory()[0] == 'I');
  std::uint8_t B[4];
  if (!Dir.ReadAt(4, B, 4)) return true;
  const std::uint32_t First = Dir.U32(B);
  if (!Dir.ReadAt(First, B, 2)) return true;
  if (!Dir.ReadAt(std::int64_t{First} + 2 + 12 * std::int64_t{Dir.U16(B)}, B, 4)) return true;
  const std::uint32_t Second = Dir.U32(B);
  if (Second == 0 || Second == First || !Dir.Load(Second)) return true;

  std::int64_t Width = Dir.TiffGetTagInteger(256, 0), Height = Dir.TiffGetTagInteger(257, 0);
  if (Dir.TiffGetTagInteger(259, 1) == 6) {
    // An old-style JPEG thumbnail is as large as the stream's own frame.
    const std::int64_t At = Dir.TiffGetTagInteger(513, 0);
    const std::int64_t Length = Dir.TiffGetTagInteger(514, 0);
    const std::int64_t Available = Tiff.Size() - At;
    if (At <= 0 || Available <= 0) return true;
    platform::TBytesStream Jpeg(Tiff.Memory() + At, Length <= 0 ? Available : std::min(Length, Available));
    TIOParamsVals Frame;
    TRvBitmap None;
    TRvLocalProgress Progress;
    JpegReadStream(Jpeg, None, Frame, true, Progress.Rec);
    if (Progress.Rec.IsAborting()) return true;
    Width = Frame.UnscaledWidth;
    Height = Frame.UnscaledHeight;
  }
  std::int64_t Pixels;
  if (Width <= 0 || Height <= 0) return true;
  if (!RvSizeMul(Width, Height, Pixels)) return false;
  return RvDataCanFill(BlockSize, RvLeastStoredBytes(Pixels, ExifThumbnailPixelsPerByte, 1), Width, Height);
}

} // namespace

bool RvLoadExifFromApp1(const void* Data, std::int64_t Size, TIOParamsVals& Params, bool HeaderOnly) {
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

  // A header read (a folder's list, after every save) needs no pixels; a
  // thumbnail out of all proportion to its block is not decoded at all.
  if (HeaderOnly || !ThumbnailInProportion(Stream, Size)) {
    Params.ExifBitmap->FreeBits();
    return true;
  }
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

bool RvSetExifOrientation(void* Data, std::int64_t Size, int Orientation, int* Was) {
  if (Orientation < 1 || Orientation > 8) return false;
  TExifTiff T;
  std::int64_t Directory, Count;
  if (!T.Open(Data, Size) || !T.FirstDirectory(Directory, Count)) return false;
  const std::int64_t Entry = T.FindEntry(Directory, Count, 274);
  if (Entry < 0) return false;
  const std::uint32_t Type = T.Get(Entry + 2, 2);
  const int Bytes = Type == 3 ? 2 : Type == 4 ? 4 : 0;
  // One value, held in the entry itself.
  if (Bytes == 0 || T.Get(Entry + 4, 4) != 1) return false;
  if (Was != nullptr) *Was = static_cast<int>(T.Get(Entry + 8, Bytes));
  T.Put(Entry + 8, Bytes, static_cast<std::uint32_t>(Orientation));
  return true;
}

bool RvSwapExifResolution(void* Data, std::int64_t Size) {
  TExifTiff T;
  std::int64_t Directory, Count;
  if (!T.Open(Data, Size) || !T.FirstDirectory(Directory, Count)) return false;
  const std::int64_t X = T.FindEntry(Directory, Count, 282), Y = T.FindEntry(Directory, Count, 283);
  // One RATIONAL each, its eight bytes elsewhere: the entries exchange where.
  for (const std::int64_t Entry : {X, Y})
    if (Entry < 0 || T.Get(Entry + 2, 2) != 5 || T.Get(Entry + 4, 4) != 1 || !T.Inside(T.Get(Entry + 8, 4), 8))
      return false;
  const std::uint32_t XAt = T.Get(X + 8, 4);
  T.Put(X + 8, 4, T.Get(Y + 8, 4));
  T.Put(Y + 8, 4, XAt);
  return true;
}

std::int64_t RvDropExifThumbnail(void* Data, std::int64_t Size, std::int64_t* EntriesVisited) {
  TExifTiff T;
  std::int64_t First, Count;
  if (!T.Open(Data, Size) || !T.FirstDirectory(First, Count)) return -1;
  const std::int64_t Link = First + 2 + 12 * Count;
  if (!T.Inside(Link, 4)) return -1;
  const std::int64_t Second = T.Get(Link, 4);
  if (Second == 0) return -1;
  T.Put(Link, 4, 0);
  // The thumbnail's bytes go too when they end the block and nothing else
  // lies among them; otherwise they stay, unreachable.
  TExifTiff::TSpan Rest{0, TiffHeaderSize}, Thumbnail{Second, Second};
  const bool Spanned = T.Span(First, false, 0, Rest) && T.Span(Second, true, 0, Thumbnail);
  if (EntriesVisited != nullptr) *EntriesVisited += Rest.Visited + Thumbnail.Visited;
  if (!Spanned || Rest.End > Thumbnail.Start) return Size;
  return ExifHeaderSize + Thumbnail.Start;
}

namespace {

// The name an XMP packet's APP1 block opens with, its zero byte included.
constexpr char XmpName[] = "http://ns.adobe.com/xap/1.0/";
constexpr std::size_t XmpNameSize = sizeof(XmpName);

constexpr std::size_t MaxTiffPrefixes = 4;
constexpr std::size_t MaxStartTag = 256;
constexpr std::size_t MaxPrefix = 64;

bool IsXmlSpace(char C) { return C == ' ' || C == '\t' || C == '\n' || C == '\r'; }

std::size_t SkipXmlSpace(const std::string& S, std::size_t At) {
  while (At < S.size() && IsXmlSpace(S[At])) ++At;
  return At;
}

// The prefixes the packet binds to the TIFF namespace: xmlns:P="...".
std::vector<std::string> TiffPrefixes(const std::string& Xmp) {
  static const std::string Binding = "xmlns:", Namespace = "http://ns.adobe.com/tiff/1.0/";
  std::vector<std::string> Prefixes;
  for (std::size_t At = Xmp.find(Binding); At != std::string::npos; At = Xmp.find(Binding, At + 1)) {
    const std::size_t Name = At + Binding.size();
    std::size_t End = Name;
    while (End < Xmp.size() && End - Name < MaxPrefix && !IsXmlSpace(Xmp[End]) && Xmp[End] != '=') ++End;
    const std::size_t Equals = SkipXmlSpace(Xmp, End);
    if (End == Name || Equals >= Xmp.size() || Xmp[Equals] != '=') continue;
    const std::size_t Quote = SkipXmlSpace(Xmp, Equals + 1);
    if (Quote >= Xmp.size() || (Xmp[Quote] != '"' && Xmp[Quote] != '\'')) continue;
    const std::size_t Close = Quote + 1 + Namespace.size();
    const std::string Prefix = Xmp.substr(Name, End - Name);
    if (Close < Xmp.size() && Xmp[Close] == Xmp[Quote] && Xmp.compare(Quote + 1, Namespace.size(), Namespace) == 0 &&
        std::find(Prefixes.begin(), Prefixes.end(), Prefix) == Prefixes.end()) {
      Prefixes.push_back(Prefix);
      // Each prefix is a walk over the packet: a few are all a packet binds.
      if (Prefixes.size() == MaxTiffPrefixes) break;
    }
  }
  return Prefixes;
}

// Sets every P:Orientation of the packet, an attribute (P:Orientation="6")
// or an element (<P:Orientation>6</P:Orientation>), to Value; the digits
// only, whatever space is around them.
bool SetXmpOrientation(std::string& Xmp, char Value) {
  bool Set = false;
  for (const std::string& Prefix : TiffPrefixes(Xmp)) {
    const std::string Name = Prefix + ":Orientation";
    for (std::size_t At = Xmp.find(Name); At != std::string::npos; At = Xmp.find(Name, At + 1)) {
      const char Before = At > 0 ? Xmp[At - 1] : '\0';
      const std::size_t After = SkipXmlSpace(Xmp, At + Name.size());
      if (After >= Xmp.size() || At + Name.size() >= Xmp.size()) break;
      std::size_t Start;
      if (IsXmlSpace(Before) && Xmp[After] == '=') {
        Start = SkipXmlSpace(Xmp, After + 1);
        if (Start >= Xmp.size() || (Xmp[Start] != '"' && Xmp[Start] != '\'')) continue;
        ++Start;
      } else if (Before == '<' && (Xmp[At + Name.size()] == '>' || IsXmlSpace(Xmp[At + Name.size()]))) {
        // The start tag's end, among a few attributes at most.
        const std::size_t Close = Xmp.substr(At, MaxStartTag).find('>');
        if (Close == std::string::npos || Xmp[At + Close - 1] == '/') continue;
        Start = At + Close + 1;
      } else {
        continue; // a closing tag, or a longer name
      }
      const std::size_t First = SkipXmlSpace(Xmp, Start);
      std::size_t Last = First;
      while (Last < Xmp.size() && Xmp[Last] >= '0' && Xmp[Last] <= '9') ++Last;
      if (Last == First) continue;
      Xmp.replace(First, Last - First, 1, Value);
      Set = true;
    }
  }
  return Set;
}

} // namespace

bool RvSetJpegXmpOrientation(TRvMarkerList& Markers, int Orientation) {
  if (Orientation < 1 || Orientation > 8) return false;
  bool Set = false;
  for (int N = 0; N < Markers.Count(); ++N) {
    const auto Length = static_cast<std::size_t>(Markers.MarkerLength(N));
    const auto* Data = Markers.MarkerData(N);
    if (Markers.MarkerType(N) != 0xE1 || Length < XmpNameSize || std::memcmp(Data, XmpName, XmpNameSize) != 0)
      continue;
    std::string Block(reinterpret_cast<const char*>(Data), Length);
    std::string Packet = Block.substr(XmpNameSize);
    // The block's length is written anew: the value only ever shortens.
    if (!SetXmpOrientation(Packet, static_cast<char>('0' + Orientation))) continue;
    Block.replace(XmpNameSize, std::string::npos, Packet);
    Markers.SetMarkerData(N, 0xE1, Block.data(), static_cast<int>(Block.size()));
    Set = true;
  }
  return Set;
}

int RvExifMarkerIndex(const TRvMarkerList& Markers) {
  for (int N = 0; N < Markers.Count(); ++N)
    if (Markers.MarkerType(N) == 0xE1 && RvIsExifApp1(Markers.MarkerData(N), Markers.MarkerLength(N))) return N;
  return -1;
}

void RvDropJpegExifThumbnail(TRvMarkerList& Markers, std::int64_t* EntriesVisited) {
  const int App1 = RvExifMarkerIndex(Markers);
  if (App1 < 0) return;
  const int Length = Markers.MarkerLength(App1);
  const std::int64_t Kept = RvDropExifThumbnail(Markers.MarkerData(App1), Length, EntriesVisited);
  if (Kept >= 0 && Kept < Length)
    Markers.SetMarkerData(App1, 0xE1, Markers.MarkerData(App1), static_cast<int>(Kept));
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
