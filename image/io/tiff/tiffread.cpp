#include "image/io/tiff/tiffread.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>

#include "image/io/jpeg/jpegfilt.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvwriteconv.h"
#include "image/io/tiff/ccittfax.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvhelpers.h"

namespace rv {

int TiffTypeSize(int Type) {
  switch (Type) {
  case ttByte: case ttAscii: case ttSByte: case ttUndefined: return 1;
  case ttShort: case ttSShort: return 2;
  case ttLong: case ttSLong: case ttFloat: return 4;
  case ttRational: case ttSRational: case ttDouble: return 8;
  default: return 0;
  }
}

// ---- Directory access ---------------------------------------------------

TTiffDirectory::TTiffDirectory(platform::TStream& AStream, std::int64_t ABase, bool AIntel)
    : Stream(AStream), Base(ABase), StreamSize(AStream.Size()), Intel(AIntel) {}

bool TTiffDirectory::ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const {
  if (Offset < 0 || Count < 0) return false;
  const std::int64_t Start = Base + Offset;
  if (Start < 0 || Start > StreamSize || Count > StreamSize - Start) return false;
  if (Count == 0) return true;
  Stream.Seek(Start, platform::soBeginning);
  return Stream.Read(Buffer, Count) == Count;
}

std::uint16_t TTiffDirectory::U16(const std::uint8_t* P) const {
  return Intel ? static_cast<std::uint16_t>(P[0] | (P[1] << 8)) : static_cast<std::uint16_t>((P[0] << 8) | P[1]);
}

std::uint32_t TTiffDirectory::U32(const std::uint8_t* P) const {
  return Intel ? (std::uint32_t{P[0]} | (std::uint32_t{P[1]} << 8) | (std::uint32_t{P[2]} << 16) |
                  (std::uint32_t{P[3]} << 24))
               : ((std::uint32_t{P[0]} << 24) | (std::uint32_t{P[1]} << 16) | (std::uint32_t{P[2]} << 8) |
                  std::uint32_t{P[3]});
}

bool TTiffDirectory::Load(std::uint32_t Offset) {
  Entries.clear();
  std::uint8_t CountBytes[2];
  if (!ReadAt(Offset, CountBytes, 2)) return false;
  const int N = U16(CountBytes);
  std::vector<std::uint8_t> Table(static_cast<std::size_t>(N) * 12);
  if (!ReadAt(std::int64_t{Offset} + 2, Table.data(), static_cast<std::int64_t>(Table.size()))) return false;
  Entries.resize(static_cast<std::size_t>(N));
  for (int I = 0; I < N; ++I) {
    const std::uint8_t* P = Table.data() + static_cast<std::size_t>(I) * 12;
    TTiffEntry& E = Entries[static_cast<std::size_t>(I)];
    E.Tag = U16(P);
    E.Type = U16(P + 2);
    E.Count = U32(P + 4);
    std::memcpy(E.Value, P + 8, 4);
  }
  return true;
}

int TTiffDirectory::TiffFindTag(int Tag) const {
  for (std::size_t I = 0; I < Entries.size(); ++I)
    if (Entries[I].Tag == Tag) return static_cast<int>(I);
  return -1;
}

std::int64_t TTiffDirectory::DataOffset(const TTiffEntry& E) const {
  const int Size = TiffTypeSize(E.Type);
  if (Size == 0) return -2;
  const std::int64_t Total = std::int64_t{E.Count} * Size;
  if (Total <= 4) return -1;
  const std::int64_t Offset = U32(E.Value);
  // Values said to lie outside the stream are refused as a whole.
  if (Base + Offset > StreamSize || Total > StreamSize - Base - Offset) return -2;
  return Offset;
}

bool TTiffDirectory::Element(const TTiffEntry& E, std::uint32_t Index, std::uint8_t* Out) const {
  if (Index >= E.Count) return false;
  const int Size = TiffTypeSize(E.Type);
  const std::int64_t Offset = DataOffset(E);
  if (Offset == -2) return false;
  if (Offset == -1) {
    std::memcpy(Out, E.Value + static_cast<std::size_t>(Index) * static_cast<std::size_t>(Size),
                static_cast<std::size_t>(Size));
    return true;
  }
  return ReadAt(Offset + std::int64_t{Index} * Size, Out, Size);
}

std::int64_t TTiffDirectory::IntegerAt(const TTiffEntry& E, std::uint32_t Index, bool& Ok) const {
  std::uint8_t B[8];
  Ok = false;
  if (!Element(E, Index, B)) return 0;
  Ok = true;
  switch (E.Type) {
  case ttByte: case ttUndefined: return B[0];
  case ttSByte: return static_cast<std::int8_t>(B[0]);
  case ttShort: return U16(B);
  case ttSShort: return static_cast<std::int16_t>(U16(B));
  case ttLong: return U32(B);
  case ttSLong: return static_cast<std::int32_t>(U32(B));
  default: Ok = false; return 0;
  }
}

std::int64_t TTiffDirectory::TiffGetTagInteger(int Tag, std::int64_t Default) const {
  return TiffGetTagArrayItem(Tag, 0, Default);
}

std::int64_t TTiffDirectory::TiffGetTagArrayItem(int Tag, int N, std::int64_t Default) const {
  const int I = TiffFindTag(Tag);
  if (I < 0 || N < 0) return Default;
  bool Ok = false;
  const std::int64_t V = IntegerAt(Entries[static_cast<std::size_t>(I)], static_cast<std::uint32_t>(N), Ok);
  return Ok ? V : Default;
}

double TTiffDirectory::TiffGetTagRationalN(int Tag, int N) const {
  const int I = TiffFindTag(Tag);
  if (I < 0 || N < 0) return 0;
  const TTiffEntry& E = Entries[static_cast<std::size_t>(I)];
  std::uint8_t B[8];
  if (E.Type == ttRational || E.Type == ttSRational) {
    if (!Element(E, static_cast<std::uint32_t>(N), B)) return 0;
    double Num, Den;
    if (E.Type == ttRational) {
      Num = U32(B);
      Den = U32(B + 4);
    } else {
      Num = static_cast<std::int32_t>(U32(B));
      Den = static_cast<std::int32_t>(U32(B + 4));
    }
    if (Den == 0) Den = 1;
    return Num / Den;
  }
  bool Ok = false;
  const std::int64_t V = IntegerAt(E, static_cast<std::uint32_t>(N), Ok);
  return Ok ? static_cast<double>(V) : 0;
}

std::vector<std::uint32_t> TTiffDirectory::TiffGetTagArray(int Tag) const {
  std::vector<std::uint32_t> Result;
  const int I = TiffFindTag(Tag);
  if (I < 0) return Result;
  const TTiffEntry& E = Entries[static_cast<std::size_t>(I)];
  if (E.Type != ttByte && E.Type != ttShort && E.Type != ttLong && E.Type != ttUndefined) return Result;
  const std::vector<std::uint8_t> Bytes = TiffGetTagBytes(Tag);
  const int Size = TiffTypeSize(E.Type);
  if (Bytes.size() != static_cast<std::size_t>(E.Count) * static_cast<std::size_t>(Size)) return Result;
  Result.resize(E.Count);
  for (std::uint32_t K = 0; K < E.Count; ++K) {
    const std::uint8_t* P = Bytes.data() + static_cast<std::size_t>(K) * static_cast<std::size_t>(Size);
    Result[K] = Size == 1 ? P[0] : (Size == 2 ? U16(P) : U32(P));
  }
  return Result;
}

std::vector<std::uint8_t> TTiffDirectory::TiffGetTagBytes(int Tag) const {
  std::vector<std::uint8_t> Result;
  const int I = TiffFindTag(Tag);
  if (I < 0) return Result;
  const TTiffEntry& E = Entries[static_cast<std::size_t>(I)];
  const std::int64_t Offset = DataOffset(E);
  if (Offset == -2) return Result;
  const std::size_t Total = static_cast<std::size_t>(E.Count) * static_cast<std::size_t>(TiffTypeSize(E.Type));
  if (Offset == -1) return std::vector<std::uint8_t>(E.Value, E.Value + Total);
  Result.resize(Total);
  if (!ReadAt(Offset, Result.data(), static_cast<std::int64_t>(Total))) Result.clear();
  return Result;
}

std::string TTiffDirectory::TiffGetTagText(int Tag) const {
  const std::vector<std::uint8_t> Bytes = TiffGetTagBytes(Tag);
  const auto End = std::find(Bytes.begin(), Bytes.end(), std::uint8_t{0});
  return std::string(Bytes.begin(), End);
}

// ---- PackBits -------------------------------------------------------------

bool TiffPackBitsDecodeRow(const std::uint8_t* Data, std::int64_t Size, std::int64_t& Pos, std::uint8_t* Out,
                           std::int64_t Count, std::int64_t Kept) {
  if (Kept < 0 || Kept > Count) Kept = Count;
  std::int64_t Done = 0;
  // The part of the next Len bytes that is kept.
  auto Keep = [&](std::int64_t Len) { return static_cast<std::size_t>(std::clamp<std::int64_t>(Kept - Done, 0, Len)); };
  while (Done < Count) {
    if (Pos >= Size) {
      std::memset(Out + Done, 0, Keep(Count - Done));
      return false;
    }
    const int N = static_cast<std::int8_t>(Data[Pos++]);
    if (N >= 0) {
      std::int64_t Len = std::min<std::int64_t>(N + 1, Count - Done);
      const std::int64_t Avail = std::min<std::int64_t>(Len, Size - Pos);
      std::memcpy(Out + Done, Data + Pos, Keep(Avail));
      Pos += N + 1;
      Done += Avail;
      if (Avail < Len) {
        std::memset(Out + Done, 0, Keep(Count - Done));
        return false;
      }
    } else if (N != -128) {
      if (Pos >= Size) continue;
      const std::int64_t Len = std::min<std::int64_t>(1 - N, Count - Done);
      std::memset(Out + Done, Data[Pos++], Keep(Len));
      Done += Len;
    }
  }
  return true;
}

namespace {

// Compression tag values.
constexpr int cpNone = 1, cpHuffman = 2, cpT4 = 3, cpT6 = 4, cpLzw = 5, cpOldJpeg = 6, cpPackBits = 32773;
// Photometric tag values.
constexpr int phWhiteIsZero = 0, phBlackIsZero = 1, phRGB = 2, phPalette = 3, phCMYK = 5, phCIELab = 8;

struct TTiffImage {
  std::int64_t Width = 0, Height = 0, Spp = 1, Bps = 1, RowsPerStrip = 0;
  std::int64_t TileWidth = -1, TileLength = -1;
  int Photometric = phRGB, Planar = 1, Orientation = 1, Compression = cpNone, Predictor = 1;
  int ResolutionUnit = 2, FillOrder = 1, ExtraSamples = -1, SampleFormat = 1;
  bool Alpha = false, Associated = false;
  std::uint32_t T4Options = 0;
  double XRes = 0, YRes = 0, XPos = 0, YPos = 0;
  std::vector<std::uint32_t> StripOffsets, StripCounts, TileOffsets, TileCounts;
  std::int64_t JpegProc = 0, JpegOffset = 0, JpegLength = 0;
  std::vector<TRGB> ColorMap;
  std::vector<std::uint16_t> ColorMap16; // as stored, when whole
  std::vector<bool> Repeated;            // entries of an earlier one's colour
  std::string Software;
};

// How a decoded row becomes pixels.
enum TConvert {
  cvBits,         // 1-bit bitmap
  cvRGB8,         // 3 or 4 samples
  cvRGB16,        // 3 samples, high byte kept
  cvPalette,      // 1 sample of 1..8 bits
  cvPaletteAlpha, // index and inverted alpha
  cvGray,         // 1 sample of 2..8 bits
  cvGrayAlpha,    // gray and alpha, 8 bits
  cvGray16,
  cvCMYK,
  cvLab,
  cvUnsupported
};

TConvert ChooseConversion(const TTiffImage& T, bool OneBit) {
  if (OneBit) return cvBits;
  const bool Gray = T.Photometric == phWhiteIsZero || T.Photometric == phBlackIsZero;
  switch (T.Photometric) {
  case phRGB:
    if ((T.Spp == 3 || T.Spp == 4) && T.Bps == 8) return cvRGB8;
    if (T.Spp == 3 && T.Bps == 16) return cvRGB16;
    break;
  case phPalette:
    if (T.Spp == 1 && T.Bps <= 8) return cvPalette;
    if (T.Spp == 2 && T.Bps == 8) return cvPaletteAlpha;
    break;
  case phCMYK:
    if (T.Spp == 4 && T.Bps == 8) return cvCMYK;
    break;
  case phCIELab:
    if (T.Spp == 3 && T.Bps == 8) return cvLab;
    break;
  default: break;
  }
  if (Gray) {
    if (T.Spp == 1 && T.Bps >= 2 && T.Bps <= 8) return cvGray;
    if (T.Spp == 1 && T.Bps == 16) return cvGray16;
    if (T.Spp == 2 && T.Bps == 8) return cvGrayAlpha;
  }
  return cvUnsupported;
}

// The bytes of one strip or tile and the decoder state that runs over them.
class TBlockDecoder {
public:
  TBlockDecoder(const TTiffDirectory& Dir, const TTiffImage& Image, TTiffLzwDecompressProc Lzw)
      : FDir(Dir), FImage(Image), FLzw(Lzw) {}
  ~TBlockDecoder() { FreeLzw(); }
  TBlockDecoder(const TBlockDecoder&) = delete;
  TBlockDecoder& operator=(const TBlockDecoder&) = delete;

  // Count 0 takes the rest of the stream; data said to lie past the end are
  // cut at it (rows that need them then fail). Rows are Width pixels wide,
  // of which the first Shown are kept.
  bool Start(std::int64_t Offset, std::int64_t Count, int Width, int Shown, std::int64_t Rows,
             std::int64_t RowBytes) {
    FreeLzw();
    FPos = 0;
    FBitPos = 0;
    FWidth = Width;
    FShown = Shown;
    const std::int64_t Available = FDir.StreamSize - FDir.Base - Offset;
    if (Available < 0) {
      FData.clear();
      return true;
    }
    if (Count <= 0 || Count > Available) Count = Available;
    // No scheme needs sixteen times the decoded size; the bound keeps a file of many blocks that
    // all claim the rest of the stream from being read over and over.
    std::int64_t Need = 0;
    if (RvSizeMul(Rows, RowBytes, Need) && RvSizeMul(Need, 16, Need) && RvSizeAdd(Need, 4096, Need))
      Count = std::min(Count, Need);
    try {
      FData.resize(static_cast<std::size_t>(Count));
      FRef.Reset(Width);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (!FDir.ReadAt(Offset, FData.data(), Count)) return false;
    // The fax decoders read either bit order themselves; every other scheme
    // is written most significant bit first and needs the bytes turned.
    const bool Fax = FImage.Compression >= cpHuffman && FImage.Compression <= cpT6;
    if (FImage.FillOrder == 2 && !Fax)
      for (std::uint8_t& B : FData) RvReverseBits8(B);
    return true;
  }

  // Decodes one row of RowBytes bytes and puts its first Kept bytes (the
  // Shown pixels) into Out; false when it cannot be decoded. The rest of the
  // row is passed over without being stored, where the scheme allows.
  bool Row(std::uint8_t* Out, std::int64_t RowBytes, std::int64_t Kept) {
    const std::uint8_t* D = FData.empty() ? &FEmpty : FData.data();
    const std::int64_t Size = static_cast<std::int64_t>(FData.size());
    switch (FImage.Compression) {
    case cpNone: {
      const std::int64_t Avail = std::max<std::int64_t>(0, std::min(RowBytes, Size - FPos));
      const std::int64_t Copied = std::min(Avail, Kept);
      std::memcpy(Out, D + FPos, static_cast<std::size_t>(Copied));
      std::memset(Out + Copied, 0, static_cast<std::size_t>(Kept - Copied));
      FPos += RowBytes;
      return Avail == RowBytes;
    }
    case cpHuffman:
      std::memset(Out, 0xFF, static_cast<std::size_t>(Kept));
      if (FPos < Size) FPos += FaxDecodeRowMH(Out, D + FPos, Size - FPos, FWidth, FImage.FillOrder, FShown);
      return true;
    case cpT4:
      std::memset(Out, 0xFF, static_cast<std::size_t>(Kept));
      if (FImage.T4Options & 1)
        FBitPos = FaxDecodeRow2D(Out, D, Size, (FImage.T4Options & 4) != 0, FImage.FillOrder, FBitPos,
                                 FRef, FWidth, FShown);
      else
        FBitPos = FaxDecodeRow1D(Out, D, Size, FWidth, FImage.FillOrder, FBitPos, FShown);
      return true;
    case cpT6:
      std::memset(Out, 0xFF, static_cast<std::size_t>(Kept));
      FBitPos = FaxDecodeRow2D(Out, D, Size, false, FImage.FillOrder, FBitPos, FRef, FWidth, FShown);
      return true;
    case cpLzw: {
      // The pluggable decoder hands out whole rows.
      if (FData.empty() || RowBytes > INT32_MAX) return false;
      const std::uint8_t* P = FLzw(D, FData.size(), static_cast<int>(RowBytes), FLzwState);
      if (P == nullptr) return false;
      std::memcpy(Out, P, static_cast<std::size_t>(Kept));
      return true;
    }
    case cpPackBits: return TiffPackBitsDecodeRow(D, Size, FPos, Out, RowBytes, Kept);
    default: return false;
    }
  }

private:
  void FreeLzw() {
    if (FLzwState != nullptr && FLzw != nullptr) FLzw(nullptr, 0, 0, FLzwState);
    FLzwState = nullptr;
  }
  const TTiffDirectory& FDir;
  const TTiffImage& FImage;
  TTiffLzwDecompressProc FLzw;
  void* FLzwState = nullptr;
  std::vector<std::uint8_t> FData;
  TFaxRefRow FRef;
  std::int64_t FPos = 0;
  std::int64_t FBitPos = 0;
  int FWidth = 0;
  int FShown = 0;
  std::uint8_t FEmpty = 0;
};

// Colours stored multiplied by their alpha (associated alpha) back to plain
// colours, rounded; a fully transparent pixel has no colour left and is black.
void Unpremultiply(std::uint8_t* P, int Count, unsigned Alpha) {
  if (Alpha == 255) return;
  for (int I = 0; I < Count; ++I)
    P[I] = Alpha == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, (P[I] * 255u + Alpha / 2) / Alpha));
}

// Decodes rows of strips or tiles and puts them into the bitmap.
class TTiffDecoder {
public:
  TTiffDecoder(const TTiffDirectory& Dir, const TTiffImage& Image, TRvBitmap& Bitmap, TRvMask* Mask,
               bool NoAlpha, TConvert Convert, TTiffLzwDecompressProc Lzw, TRvProgressRec& Progress)
      : FDir(Dir), FImage(Image), FBitmap(Bitmap), FMask(NoAlpha ? nullptr : Mask), FConvert(Convert),
        FLzw(Lzw), FProgress(Progress) {}

  void Run();
  // A pixel took an entry of an earlier entry's colour.
  bool RepeatUsed() const { return FRepeatUsed; }

private:
  bool DecodeBlock(std::int64_t Index, std::int64_t X0, std::int64_t Y0, std::int64_t BlockWidth,
                   std::int64_t Rows);
  bool DecodePlanarStrip(std::int64_t Strip, std::int64_t Y0, std::int64_t Rows, std::int64_t StripsPerPlane);
  void UndoPredictor(std::uint8_t* Row, std::int64_t Width, std::int64_t Spp) const;
  void PutRow(const std::uint8_t* Raw, std::int64_t X0, std::int64_t Y, std::int64_t BlockWidth);
  unsigned Sample(const std::uint8_t* Raw, std::int64_t I) const;
  std::uint16_t Word(const std::uint8_t* Raw, std::int64_t I) const {
    const std::uint8_t* P = Raw + 2 * I;
    return FDir.Intel ? static_cast<std::uint16_t>(P[0] | (P[1] << 8)) : static_cast<std::uint16_t>((P[0] << 8) | P[1]);
  }
  void Step() { FProgress.Step(++FRowsDone); }

  const TTiffDirectory& FDir;
  const TTiffImage& FImage;
  TRvBitmap& FBitmap;
  TRvMask* FMask;
  TConvert FConvert;
  TTiffLzwDecompressProc FLzw;
  TRvProgressRec& FProgress;
  std::int32_t FRowsDone = 0;
  bool FRepeatUsed = false;
  std::vector<std::uint8_t> FPixels; // one converted row: blue-green-red or bits
  std::vector<std::uint8_t> FAlpha;
};

unsigned TTiffDecoder::Sample(const std::uint8_t* Raw, std::int64_t I) const {
  const std::int64_t Bps = FImage.Bps;
  if (Bps == 8) return Raw[I];
  if (Bps == 16) return Word(Raw, I);
  const std::int64_t Bit = I * Bps;
  unsigned V = 0;
  for (std::int64_t K = 0; K < Bps; ++K) {
    const std::int64_t B = Bit + K;
    V = (V << 1) | ((Raw[B >> 3] >> (7 - (B & 7))) & 1u);
  }
  return V;
}

void TTiffDecoder::UndoPredictor(std::uint8_t* Row, std::int64_t Width, std::int64_t Spp) const {
  if (FImage.Predictor != 2 || FImage.Compression != cpLzw) return;
  const std::int64_t N = Width * Spp;
  if (FImage.Bps == 8) {
    for (std::int64_t I = Spp; I < N; ++I) Row[I] = static_cast<std::uint8_t>(Row[I] + Row[I - Spp]);
  } else if (FImage.Bps == 16) {
    for (std::int64_t I = Spp; I < N; ++I) {
      const auto V = static_cast<std::uint16_t>(Word(Row, I) + Word(Row, I - Spp));
      std::uint8_t* P = Row + 2 * I;
      if (FDir.Intel) {
        P[0] = static_cast<std::uint8_t>(V);
        P[1] = static_cast<std::uint8_t>(V >> 8);
      } else {
        P[0] = static_cast<std::uint8_t>(V >> 8);
        P[1] = static_cast<std::uint8_t>(V);
      }
    }
  }
}

void TTiffDecoder::PutRow(const std::uint8_t* Raw, std::int64_t X0, std::int64_t Y, std::int64_t BlockWidth) {
  if (Y >= FImage.Height || X0 >= FImage.Width) return;
  const std::int64_t N = std::min(BlockWidth, FImage.Width - X0);
  std::uint8_t* Dst = FBitmap.Scanline(static_cast<int>(Y));
  if (FConvert == cvBits) {
    // The fax decoders answer 1 = white, the bitmap's own convention.
    const bool Fax = FImage.Compression >= cpHuffman && FImage.Compression <= cpT6;
    const bool Invert = (FImage.Photometric == phWhiteIsZero && !Fax) ||
                        // A BlackIsZero fax page has its coded white as black, whichever scheme coded it.
                        (FImage.Photometric == phBlackIsZero && Fax);
    for (std::int64_t X = 0; X < N; ++X) {
      unsigned Bit = (Raw[X >> 3] >> (7 - (X & 7))) & 1u;
      if (Invert) Bit ^= 1u;
      const std::int64_t DX = X0 + X;
      const auto Mask = static_cast<std::uint8_t>(0x80 >> (DX & 7));
      if (Bit) Dst[DX >> 3] |= Mask;
      else Dst[DX >> 3] &= static_cast<std::uint8_t>(~Mask);
    }
    return;
  }
  const std::int64_t Spp = FImage.Spp;
  std::uint8_t* P = Dst + 3 * X0;
  std::uint8_t* A = FMask != nullptr ? FAlpha.data() : nullptr;
  bool Alpha = false;
  const bool White = FImage.Photometric == phWhiteIsZero;
  switch (FConvert) {
  case cvRGB8:
    Alpha = FImage.Alpha;
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      const std::uint8_t* S = Raw + X * Spp;
      P[0] = S[2];
      P[1] = S[1];
      P[2] = S[0];
      if (A != nullptr && Alpha) A[X] = S[3];
      if (FImage.Associated) Unpremultiply(P, 3, S[3]);
    }
    break;
  case cvRGB16:
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      P[0] = static_cast<std::uint8_t>(Word(Raw, 3 * X + 2) >> 8);
      P[1] = static_cast<std::uint8_t>(Word(Raw, 3 * X + 1) >> 8);
      P[2] = static_cast<std::uint8_t>(Word(Raw, 3 * X) >> 8);
    }
    break;
  case cvPalette:
  case cvPaletteAlpha:
    Alpha = FConvert == cvPaletteAlpha && FImage.Alpha;
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      const unsigned Index = Sample(Raw, X * Spp);
      const TRGB C = Index < FImage.ColorMap.size() ? FImage.ColorMap[Index] : TRGB{};
      if (Index < FImage.Repeated.size() && FImage.Repeated[Index]) FRepeatUsed = true;
      P[0] = C.b;
      P[1] = C.g;
      P[2] = C.r;
      // Alpha as stored: 255 is opaque here as in every other layout.
      if (A != nullptr && Alpha) A[X] = Raw[X * 2 + 1];
    }
    break;
  case cvGray:
  case cvGrayAlpha: {
    Alpha = FConvert == cvGrayAlpha && FImage.Alpha;
    const auto Bps = static_cast<unsigned>(FImage.Bps);
    const unsigned Max = (1u << Bps) - 1;
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      unsigned V = Sample(Raw, X * Spp);
      if (Bps == 4) V *= 16;
      // Depths other than 4 and 8 are spread over the whole gray range rather than left near black.
      else if (Bps != 8) V = V * 255 / Max;
      if (White) V = 255 - V;
      P[0] = P[1] = P[2] = static_cast<std::uint8_t>(V);
      if (A != nullptr && Alpha) A[X] = Raw[X * 2 + 1];
      if (Alpha && FImage.Associated) Unpremultiply(P, 3, Raw[X * 2 + 1]);
    }
    break;
  }
  case cvGray16: {
    const bool Molli = FImage.Software.compare(0, 15, "Look@Molli v1.1") == 0;
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      unsigned V = Word(Raw, X);
      if (White) V = 65535 - V;
      V = Molli ? (V >> 4) : (V >> 8);
      P[0] = P[1] = P[2] = static_cast<std::uint8_t>(std::min(V, 255u));
    }
    break;
  }
  case cvCMYK:
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      const std::uint8_t* S = Raw + X * 4;
      const int K = 255 - S[3];
      P[2] = static_cast<std::uint8_t>(K * (255 - S[0]) / 255);
      P[1] = static_cast<std::uint8_t>(K * (255 - S[1]) / 255);
      P[0] = static_cast<std::uint8_t>(K * (255 - S[2]) / 255);
    }
    break;
  case cvLab:
    for (std::int64_t X = 0; X < N; ++X, P += 3) {
      const std::uint8_t* S = Raw + X * 3;
      TRGB C;
      RvCIELabToRGB(S[0] | (S[1] << 8) | (S[2] << 16), C);
      P[0] = C.b;
      P[1] = C.g;
      P[2] = C.r;
    }
    break;
  default: break;
  }
  if (A != nullptr && Alpha && FMask->Width() == FImage.Width && FMask->Height() == FImage.Height)
    std::memcpy(FMask->ScanLine(static_cast<int>(Y)) + X0, A, static_cast<std::size_t>(N));
}

bool TTiffDecoder::DecodeBlock(std::int64_t Index, std::int64_t X0, std::int64_t Y0, std::int64_t BlockWidth,
                               std::int64_t Rows) {
  const bool Tiled = FImage.TileWidth > 0 || FImage.TileLength > 0;
  const auto& Offsets = Tiled && !FImage.TileOffsets.empty() ? FImage.TileOffsets : FImage.StripOffsets;
  const auto& Counts = Tiled && !FImage.TileOffsets.empty() ? FImage.TileCounts : FImage.StripCounts;
  // A block the offset array does not reach is missing, not empty.
  if (Index >= static_cast<std::int64_t>(Offsets.size())) return false;
  const auto At = static_cast<std::size_t>(Index);
  const std::int64_t Count = At < Counts.size() ? Counts[At] : 0;
  const std::int64_t RowBytes = RvPackedRowBytes(BlockWidth, FImage.Spp * FImage.Bps);
  if (RowBytes <= 0 || !RvAllocationAllowed(RowBytes)) return false;
  // A tile's columns past the picture's right edge are only decoded through,
  // to reach its next row: what is held and written is the part shown.
  const std::int64_t Shown = std::min(BlockWidth, FImage.Width - X0);
  const std::int64_t Kept = RvPackedRowBytes(Shown, FImage.Spp * FImage.Bps);
  std::vector<std::uint8_t> Raw;
  TBlockDecoder Block(FDir, FImage, FLzw);
  try {
    Raw.resize(static_cast<std::size_t>(Kept) + 8);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!Block.Start(Offsets[static_cast<std::size_t>(Index)], Count, static_cast<int>(BlockWidth),
                   static_cast<int>(Shown), Rows, RowBytes))
    return false;
  // Rows below the picture (the last strip's or tile's padding) are not decoded.
  const std::int64_t Visible = std::min(Rows, FImage.Height - Y0);
  for (std::int64_t R = 0; R < Visible; ++R) {
    if (FProgress.IsAborting()) return true;
    if (!Block.Row(Raw.data(), RowBytes, Kept)) return false;
    UndoPredictor(Raw.data(), Shown, FImage.Spp);
    PutRow(Raw.data(), X0, Y0 + R, Shown);
    Step();
  }
  return true;
}

bool TTiffDecoder::DecodePlanarStrip(std::int64_t Strip, std::int64_t Y0, std::int64_t Rows,
                                     std::int64_t StripsPerPlane) {
  const std::int64_t Spp = FImage.Spp;
  const std::int64_t W = FImage.Width;
  std::vector<std::unique_ptr<TBlockDecoder>> Planes;
  std::vector<std::uint8_t> Plane(static_cast<std::size_t>(W) + 8), Raw(static_cast<std::size_t>(W * Spp) + 8);
  for (std::int64_t P = 0; P < Spp; ++P) {
    const std::int64_t Index = P * StripsPerPlane + Strip;
    if (Index >= static_cast<std::int64_t>(FImage.StripOffsets.size())) return false;
    const auto At = static_cast<std::size_t>(Index);
    const std::int64_t Count = At < FImage.StripCounts.size() ? FImage.StripCounts[At] : 0;
    Planes.push_back(std::make_unique<TBlockDecoder>(FDir, FImage, FLzw));
    if (!Planes.back()->Start(FImage.StripOffsets[At], Count, static_cast<int>(W), static_cast<int>(W), Rows, W))
      return false;
  }
  const std::int64_t Visible = std::min(Rows, FImage.Height - Y0);
  for (std::int64_t R = 0; R < Visible; ++R) {
    if (FProgress.IsAborting()) return true;
    for (std::int64_t P = 0; P < Spp; ++P) {
      if (!Planes[static_cast<std::size_t>(P)]->Row(Plane.data(), W, W)) return false;
      UndoPredictor(Plane.data(), W, 1);
      for (std::int64_t X = 0; X < W; ++X)
        Raw[static_cast<std::size_t>(X * Spp + P)] = Plane[static_cast<std::size_t>(X)];
    }
    PutRow(Raw.data(), 0, Y0 + R, W);
    Step();
  }
  return true;
}

void TTiffDecoder::Run() {
  const std::int64_t W = FImage.Width, H = FImage.Height;
  // Alpha is kept for the columns the picture shows, whatever the tile width.
  if (FMask != nullptr) FAlpha.assign(static_cast<std::size_t>(W) + 8, 255);
  const bool Tiled = FImage.TileWidth > 0 || FImage.TileLength > 0;
  if (Tiled) {
    if (FImage.Planar == 2) {
      FProgress.Abort();
      return;
    }
    const std::int64_t TW = FImage.TileWidth > 0 ? FImage.TileWidth : W;
    const std::int64_t TL = FImage.TileLength > 0 ? FImage.TileLength : H;
    // A page with no valid block offsets has no picture to show.
    if (FImage.TileOffsets.empty() && FImage.StripOffsets.empty()) {
      FProgress.Abort();
      return;
    }
    // A tile is decoded whole, row by row: refuse tiles no picture could hold.
    if (!RvPixelsAllowed(TW, TL) || RvPackedRowBytes(TW, FImage.Spp * FImage.Bps) < 0) {
      FProgress.Abort();
      return;
    }
    const std::int64_t Across = (W + TW - 1) / TW, Down = (H + TL - 1) / TL;
    FProgress.Per = 100.0 / static_cast<double>(Across * H);
    for (std::int64_t TY = 0; TY < Down; ++TY)
      for (std::int64_t TX = 0; TX < Across; ++TX) {
        if (FProgress.IsAborting()) return;
        if (!DecodeBlock(TY * Across + TX, TX * TW, TY * TL, TW, TL)) {
          FProgress.Abort();
          return;
        }
      }
    return;
  }
  if (FImage.StripOffsets.empty()) {
    FProgress.Abort();
    return;
  }
  std::int64_t Rps = FImage.RowsPerStrip;
  // A strip of no rows would never advance.
  if (Rps <= 0 || Rps > H) Rps = H;
  const std::int64_t Strips = (H + Rps - 1) / Rps;
  FProgress.Per = 100.0 / static_cast<double>(H);
  for (std::int64_t S = 0; S < Strips; ++S) {
    if (FProgress.IsAborting()) return;
    const bool Ok =
        FImage.Planar == 2 ? DecodePlanarStrip(S, S * Rps, Rps, Strips) : DecodeBlock(S, 0, S * Rps, W, Rps);
    if (!Ok) {
      FProgress.Abort();
      return;
    }
  }
}

bool WalkDirectories(TTiffDirectory& Dir, std::uint32_t First, std::int64_t Wanted, int& Count) {
  Count = 0;
  bool Found = false;
  std::unordered_set<std::uint32_t> Seen;
  TTiffDirectory Scratch(Dir.Stream, Dir.Base, Dir.Intel);
  std::uint32_t Offset = First;
  // A chain that comes back to any directory already seen ends there.
  while (Offset != 0 && Seen.insert(Offset).second) {
    std::uint8_t B[4];
    if (!Dir.ReadAt(Offset, B, 2)) break;
    const std::int64_t N = Dir.U16(B);
    if (Count == Wanted) {
      if (!Dir.Load(Offset)) break;
      Found = true;
    } else if (Dir.Base + Offset + 2 + N * 12 > Dir.StreamSize) {
      break;
    }
    ++Count;
    if (!Dir.ReadAt(std::int64_t{Offset} + 2 + N * 12, B, 4)) break;
    Offset = Dir.U32(B);
  }
  return Found;
}

void ReadImageTags(const TTiffDirectory& D, TTiffImage& T) {
  T.Width = D.TiffGetTagInteger(256, 0);
  T.Height = D.TiffGetTagInteger(257, 0);
  T.Spp = D.TiffGetTagInteger(277, 1);
  T.RowsPerStrip = D.TiffGetTagInteger(278, T.Height);
  if (T.RowsPerStrip == 0xFFFFFFFF) T.RowsPerStrip = T.Height;
  T.TileWidth = D.TiffGetTagInteger(322, -1);
  T.TileLength = D.TiffGetTagInteger(323, -1);
  T.Photometric = static_cast<int>(D.TiffGetTagInteger(262, phRGB));
  T.Planar = static_cast<int>(D.TiffGetTagInteger(284, 1));
  T.Orientation = static_cast<int>(D.TiffGetTagInteger(274, 1));
  T.Compression = static_cast<int>(D.TiffGetTagInteger(259, cpNone));
  T.Predictor = static_cast<int>(D.TiffGetTagInteger(317, 1));
  T.ResolutionUnit = static_cast<int>(D.TiffGetTagInteger(296, 2));
  T.XRes = D.TiffGetTagRational(282);
  T.YRes = D.TiffGetTagRational(283);
  T.T4Options = static_cast<std::uint32_t>(D.TiffGetTagInteger(292, 0));
  T.FillOrder = static_cast<int>(D.TiffGetTagInteger(266, 1));
  T.XPos = D.TiffGetTagRational(286);
  T.YPos = D.TiffGetTagRational(287);
  T.JpegProc = D.TiffGetTagInteger(512, 0);
  T.JpegOffset = D.TiffGetTagInteger(513, 0);
  T.JpegLength = D.TiffGetTagInteger(514, 0);
  T.ExtraSamples = static_cast<int>(D.TiffGetTagInteger(338, -1));
  T.SampleFormat = static_cast<int>(D.TiffGetTagInteger(339, 1));
  for (std::uint32_t F : D.TiffGetTagArray(339))
    if (F != 1) T.SampleFormat = static_cast<int>(F);
  T.StripOffsets = D.TiffGetTagArray(273);
  T.StripCounts = D.TiffGetTagArray(279);
  T.TileOffsets = D.TiffGetTagArray(324);
  T.TileCounts = D.TiffGetTagArray(325);
  T.Software = D.TiffGetTagText(305);
}

void ReadColorMap(const TTiffDirectory& D, TTiffImage& T) {
  if (D.TiffFindTag(320) < 0 || T.Bps < 1 || T.Bps > 16) return;
  const std::vector<std::uint32_t> Map = D.TiffGetTagArray(320);
  const std::size_t N = std::size_t{1} << T.Bps;
  // A map shorter than the depth needs leaves the missing entries black.
  const std::size_t Have = Map.size() / 3;
  T.ColorMap.assign(N, TRGB{});
  for (std::size_t I = 0; I < std::min(N, Have); ++I) {
    TRGB& C = T.ColorMap[I];
    C.r = static_cast<std::uint8_t>(Map[I] >> 8);
    C.g = static_cast<std::uint8_t>(Map[Have + I] >> 8);
    C.b = static_cast<std::uint8_t>(Map[2 * Have + I] >> 8);
  }
  T.Repeated = RvRepeatedEntries(T.ColorMap.data(), static_cast<int>(N));
  // The low bytes too, for a save to write the entries back as they were.
  if (Have == N && std::all_of(Map.begin(), Map.end(), [](std::uint32_t V) { return V <= 0xFFFF; }))
    T.ColorMap16.assign(Map.begin(), Map.end());
}

// The first value of a resolution or position tag as stored: numerator and
// denominator (an integer over 1); 0/0 when absent or not of those types.
std::array<std::uint32_t, 2> StatedRational(const TTiffDirectory& D, int Tag) {
  const int I = D.TiffFindTag(Tag);
  if (I < 0) return {};
  if (D.Entries[static_cast<std::size_t>(I)].Type == ttRational) {
    const std::vector<std::uint8_t> B = D.TiffGetTagBytes(Tag);
    if (B.size() < 8) return {};
    return {D.U32(B.data()), D.U32(B.data() + 4)};
  }
  const std::int64_t V = D.TiffGetTagInteger(Tag, -1);
  if (V < 0 || V > 0xFFFFFFFF) return {};
  return {static_cast<std::uint32_t>(V), 1};
}

template <std::size_t N>
void RationalArray(const TTiffDirectory& D, int Tag, std::array<double, N>& Out) {
  for (std::size_t I = 0; I < N; ++I) Out[I] = D.TiffGetTagRationalN(Tag, static_cast<int>(I));
}

std::string InlineText(const TTiffDirectory& D, int Tag) {
  const int I = D.TiffFindTag(Tag);
  if (I < 0) return {};
  const TTiffEntry& E = D.Entries[static_cast<std::size_t>(I)];
  const std::size_t N = std::min<std::uint32_t>(E.Count, 4);
  std::string S(reinterpret_cast<const char*>(E.Value), N);
  return S.substr(0, S.find('\0'));
}

void ReadExifFields(const TTiffDirectory& D, const TTiffDirectory& X, const TTiffImage& T, TIOParamsVals& P) {
  P.ExifImageDescription = D.TiffGetTagText(270);
  P.ExifMake = D.TiffGetTagText(271);
  P.ExifModel = D.TiffGetTagText(272);
  P.ExifOrientation = T.Orientation;
  P.ExifXResolution = T.XRes;
  P.ExifYResolution = T.YRes;
  P.ExifResolutionUnit = T.ResolutionUnit;
  P.ExifSoftware = T.Software;
  P.ExifDateTime = D.TiffGetTagText(306);
  RationalArray(D, 318, P.ExifWhitePoint);
  RationalArray(D, 319, P.ExifPrimaryChromaticities);
  RationalArray(D, 529, P.ExifYCbCrCoefficients);
  P.ExifYCbCrPositioning = static_cast<std::int32_t>(D.TiffGetTagInteger(531, 0));
  RationalArray(D, 532, P.ExifReferenceBlackWhite);
  P.ExifCopyright = D.TiffGetTagText(33432);

  auto Int = [&X](int Tag) { return static_cast<std::int32_t>(X.TiffGetTagInteger(Tag, 0)); };
  P.ExifExposureTime = X.TiffGetTagRational(33434);
  P.ExifFNumber = X.TiffGetTagRational(33437);
  P.ExifExposureProgram = Int(34850);
  P.ExifISOSpeedRatings[0] = static_cast<std::int32_t>(X.TiffGetTagArrayItem(34855, 0, 0));
  P.ExifISOSpeedRatings[1] = static_cast<std::int32_t>(X.TiffGetTagArrayItem(34855, 1, 0));
  P.ExifExifVersion = InlineText(X, 36864);
  P.ExifDateTimeOriginal = X.TiffGetTagText(36867);
  P.ExifDateTimeDigitized = X.TiffGetTagText(36868);
  P.ExifCompressedBitsPerPixel = X.TiffGetTagRational(37122);
  P.ExifShutterSpeedValue = X.TiffGetTagRational(37377);
  P.ExifApertureValue = X.TiffGetTagRational(37378);
  P.ExifBrightnessValue = X.TiffGetTagRational(37379);
  P.ExifExposureBiasValue = X.TiffGetTagRational(37380);
  P.ExifMaxApertureValue = X.TiffGetTagRational(37381);
  P.ExifSubjectDistance = X.TiffGetTagRational(37382);
  P.ExifMeteringMode = Int(37383);
  P.ExifLightSource = Int(37384);
  P.ExifFlash = Int(37385);
  P.ExifFocalLength = X.TiffGetTagRational(37386);
  P.ExifSubsecTime = X.TiffGetTagText(37520);
  P.ExifSubsecTimeOriginal = X.TiffGetTagText(37521);
  P.ExifSubsecTimeDigitized = X.TiffGetTagText(37522);
  P.ExifFlashPixVersion = InlineText(X, 40960);
  P.ExifColorSpace = Int(40961);
  P.ExifImageWidth = Int(40962);
  P.ExifImageHeight = Int(40963);
  P.ExifRelatedSoundFile = X.TiffGetTagText(40964);
  P.ExifFocalPlaneXResolution = X.TiffGetTagRational(41486);
  P.ExifFocalPlaneYResolution = X.TiffGetTagRational(41487);
  P.ExifFocalPlaneResolutionUnit = Int(41488);
  P.ExifExposureIndex = X.TiffGetTagRational(41493);
  P.ExifSensingMethod = Int(41495);
  P.ExifFileSource = Int(41728);
  P.ExifSceneType = Int(41729);
  const std::vector<std::uint8_t> Comment = X.TiffGetTagBytes(37510);
  auto Trimmed = [](std::string S) {
    while (!S.empty() && S.back() == '\0') S.pop_back();
    return S;
  };
  const std::size_t CodeLen = std::min<std::size_t>(Comment.size(), 8);
  P.ExifUserCommentCode = Trimmed(std::string(Comment.begin(), Comment.begin() + static_cast<std::ptrdiff_t>(CodeLen)));
  P.ExifUserComment = Trimmed(std::string(Comment.begin() + static_cast<std::ptrdiff_t>(CodeLen), Comment.end()));
}

std::uint8_t CompressionCode(const TTiffImage& T) {
  switch (T.Compression) {
  case 1: return 0;
  case 2: return 1;
  case 3: return (T.T4Options & 1) ? 3 : 2;
  case 4: return 4;
  case 5: return 5;
  case 6: return 6;
  case 7: return 7;
  case cpPackBits: return 8;
  default: return 9;
  }
}

void FillParams(const TTiffDirectory& D, const TTiffImage& T, TIOParamsVals& P) {
  P.BitsPerSample = static_cast<std::int32_t>(T.Bps);
  P.SamplesPerPixel = static_cast<std::int32_t>(T.Spp);
  P.Width = static_cast<std::int32_t>(T.Width);
  P.Height = static_cast<std::int32_t>(T.Height);
  const double Factor = T.ResolutionUnit == 3 ? 2.54 : 1.0;
  auto Trunc = [](double V) {
    return std::isfinite(V) && std::fabs(V) < 2147483647.0 ? static_cast<std::int32_t>(std::trunc(V)) : 0;
  };
  P.DpiX = Trunc(T.XRes * Factor);
  P.DpiY = Trunc(T.YRes * Factor);
  // The screen's resolution stands in for none; a save writes none back.
  P.DpiStated = T.XRes > 0 || T.YRes > 0;
  if (P.DpiX == 0) P.DpiX = RvDefaultDpiX;
  if (P.DpiY == 0) P.DpiY = RvDefaultDpiY;
  P.TiffResolutionUnit = static_cast<std::int32_t>(D.TiffGetTagInteger(296, 0));
  P.TiffXResolution = StatedRational(D, 282);
  P.TiffYResolution = StatedRational(D, 283);
  P.TiffXPosition = StatedRational(D, 286);
  P.TiffYPosition = StatedRational(D, 287);
  P.TiffExtraSamples = T.ExtraSamples;
  P.TiffCompression = CompressionCode(T);
  if (T.Photometric >= 0 && T.Photometric <= 6) P.TiffPhotometric = static_cast<std::uint8_t>(T.Photometric);
  else if (T.Photometric == phCIELab) P.TiffPhotometric = 7;
  P.TiffPlanarConfig = T.Planar;
  P.TiffXPos = Trunc(T.XPos * Factor);
  P.TiffYPos = Trunc(T.YPos * Factor);
  P.TiffDocumentName = D.TiffGetTagText(269);
  P.TiffImageDescription = D.TiffGetTagText(270);
  P.TiffPageName = D.TiffGetTagText(285);
  P.TiffPageNumber = static_cast<std::int32_t>(D.TiffGetTagArrayItem(297, 0, 0));
  P.TiffPageCount = static_cast<std::int32_t>(D.TiffGetTagArrayItem(297, 1, 0));
  P.TiffOrientation = T.Orientation;
  P.IccProfile.clear();
  if (T.ColorMap.empty()) P.FreeColorMap();
  else P.SetColorMap(T.ColorMap.data(), static_cast<int>(T.ColorMap.size()));
  P.TiffColorMap16 = T.ColorMap16;
  P.ColorMapRepeatsUsed = false;
}

void DecodeOldJpeg(const TTiffDirectory& D, const TTiffImage& T, TRvBitmap& Bitmap, TRvProgressRec& Progress) {
  const std::int64_t Available = D.StreamSize - D.Base - T.JpegOffset;
  if (T.JpegOffset <= 0 || Available <= 0) {
    Progress.Abort();
    return;
  }
  const std::int64_t Length = T.JpegLength <= 0 ? Available : std::min(T.JpegLength, Available);
  platform::TMemoryStream Jpeg;
  try {
    Jpeg.SetSize(Length);
  } catch (const std::bad_alloc&) {
    Progress.Abort();
    return;
  }
  if (!D.ReadAt(T.JpegOffset, Jpeg.Memory(), Length)) {
    Progress.Abort();
    return;
  }
  Jpeg.SetPosition(0);
  TIOParamsVals Temp;
  JpegReadStream(Jpeg, Bitmap, Temp, false, Progress);
}

void ApplyOrientation(TRvBitmap& Bitmap, int Orientation) {
  const TRGB Black{};
  switch (Orientation) {
  case 2: RvFlipBitmap(&Bitmap, 0); break;
  case 3:
    RvFlipBitmap(&Bitmap, 1);
    RvFlipBitmap(&Bitmap, 0);
    break;
  case 4: RvFlipBitmap(&Bitmap, 1); break;
  // 5 stores the picture transposed (row 0 on the left, column 0 at the
  // top), 7 transversed: a clockwise turn then a mirror undoes 5, an
  // anticlockwise one 7. The other way round each came out upside down.
  case 5:
    RvRotateBitmap(&Bitmap, false, -90, Black);
    RvFlipBitmap(&Bitmap, 0);
    break;
  case 6: RvRotateBitmap(&Bitmap, false, -90, Black); break;
  case 7:
    RvRotateBitmap(&Bitmap, false, 90, Black);
    RvFlipBitmap(&Bitmap, 0);
    break;
  case 8: RvRotateBitmap(&Bitmap, false, 90, Black); break;
  default: break;
  }
}

// The same turn and flip on an 8-bit mask, through a gray picture.
void ApplyMaskOrientation(TRvMask& Mask, int Orientation) {
  const int W = Mask.Width(), H = Mask.Height();
  TRvBitmap Gray;
  if (Mask.BitCount() != 8 || !RvAllocateBitmap(Gray, W, H, rvpf24Bit)) return;
  for (int Y = 0; Y < H; ++Y) {
    const std::uint8_t* In = Mask.ScanLine(Y);
    std::uint8_t* Out = Gray.Scanline(Y);
    for (int X = 0; X < W; ++X) Out[3 * X] = Out[3 * X + 1] = Out[3 * X + 2] = In[X];
  }
  ApplyOrientation(Gray, Orientation);
  const bool Full = Mask.Full();
  Mask.Allocate(Gray.Width(), Gray.Height(), 8);
  for (int Y = 0; Y < Gray.Height(); ++Y) {
    const std::uint8_t* In = Gray.Scanline(Y);
    std::uint8_t* Out = Mask.ScanLine(Y);
    for (int X = 0; X < Gray.Width(); ++X) Out[X] = In[3 * X];
  }
  Mask.SetFull(Full);
}

bool CompressionDecodable(int Compression) {
  return Compression == cpNone || Compression == cpHuffman || Compression == cpT4 || Compression == cpT6 ||
         Compression == cpLzw || Compression == cpPackBits;
}

// Whether the strips or tiles the file holds could fill the picture its
// directory claims: their byte counts (each cut at the end of the stream,
// all together at most the stream, since blocks do not overlap) against the
// fewest bytes that code the picture in its compression: none 1 for 1,
// PackBits 128 bytes for 2, LZW 4096 bytes for every code of at least 9
// bits, the fax schemes one row for every bit, JPEG 64 pixels for every bit.
// Tiles are decoded across their whole width, so the picture here is what
// its row of tiles covers: the columns past the right edge count too.
bool BlocksCanFill(const TTiffDirectory& Dir, const TTiffImage& T) {
  const std::int64_t Size = std::max<std::int64_t>(Dir.StreamSize - Dir.Base, 0);
  const bool Tiled = T.TileWidth > 0 || T.TileLength > 0;
  std::int64_t Held = 0;
  if (T.Compression == cpOldJpeg) {
    Held = Size - T.JpegOffset;
  } else {
    const auto& Offsets = Tiled && !T.TileOffsets.empty() ? T.TileOffsets : T.StripOffsets;
    const auto& Counts = Tiled && !T.TileOffsets.empty() ? T.TileCounts : T.StripCounts;
    for (std::size_t I = 0; I < Offsets.size() && Held < Size; ++I) {
      const std::int64_t Available = Size - Offsets[I];
      if (Available <= 0) continue;
      const std::int64_t Count = I < Counts.size() ? Counts[I] : 0;
      Held += Count <= 0 || Count > Available ? Available : Count;
    }
    Held = std::min(Held, Size);
  }
  std::int64_t Across = 1, BlockWidth = T.Width, Decoded = 0, Rows = 0;
  if (Tiled && T.Compression != cpOldJpeg && T.TileWidth > 0 && T.Width > 0) {
    BlockWidth = T.TileWidth;
    Across = (T.Width + BlockWidth - 1) / BlockWidth;
  }
  const std::int64_t RowBytes = RvPackedRowBytes(BlockWidth, T.Spp * T.Bps);
  if (RowBytes < 0 || !RvSizeMul(RowBytes, Across, Decoded) || !RvSizeMul(Decoded, T.Height, Decoded))
    Decoded = INT64_MAX;
  if (!RvSizeMul(Across, T.Height, Rows)) Rows = INT64_MAX;
  std::int64_t Least = 0;
  switch (T.Compression) {
  case cpNone: Least = Decoded; break;
  case cpPackBits: Least = RvLeastStoredBytes(Decoded, 128, 2); break;
  case cpLzw: Least = RvLeastStoredBytes(Decoded, 4096 * 8, 9); break;
  case cpHuffman:
  case cpT4:
  case cpT6: Least = RvLeastStoredBytes(Rows, 8, 1); break;
  case cpOldJpeg: Least = RvLeastStoredBytes(T.Width * T.Height, 64 * 8, 1); break;
  default: break; // refused later as undecodable
  }
  return RvDataCanFill(Held, Least, Across * BlockWidth, T.Height);
}

} // namespace

void TiffReadStream(TRvBitmap& Bitmap, platform::TStream& Stream, int& ImageCount, bool NoAlpha, bool Embedded,
                    std::unique_ptr<TRvMask>& Mask, bool HeaderOnly, TRvProgressRec& Progress,
                    TIOParamsVals* Params) {
  ImageCount = 0;
  // The header is where the stream stands; offsets count from there only in an embedded structure.
  const std::int64_t Here = Stream.Position();
  const std::int64_t Base = Embedded ? Here : 0;
  TTiffDirectory Dir(Stream, Base, true);
  std::uint8_t Header[8];
  if (!Dir.ReadAt(Here - Base, Header, 8) || Header[0] != Header[1] || (Header[0] != 'I' && Header[0] != 'M')) {
    Progress.Abort();
    return;
  }
  Dir.Intel = Header[0] == 'I';
  // Only the classic structure of 32-bit offsets is read. A BigTIFF (43)
  // has 64-bit ones: read as a classic file, its offset and pixels would
  // pass for directories. It is refused as what it is; any other version
  // is no TIFF.
  if (const std::uint16_t Version = Dir.U16(Header + 2); Version != 42) {
    if (Version == 43 && !Embedded) RvNoteKindRefusal("BigTIFF files are not supported");
    Progress.Abort();
    return;
  }
  const std::uint32_t First = Dir.U32(Header + 4);
  const std::int64_t Wanted = Params != nullptr ? Params->TiffImageIndex : -1;
  const bool Found = WalkDirectories(Dir, First, Wanted, ImageCount);
  if (Params != nullptr) Params->TiffImageCount = ImageCount;
  if (Params == nullptr) return;
  // A file of no page has no picture to give: it fails rather than leave
  // whatever the bitmap held to pass for one.
  if (ImageCount == 0) Progress.Abort();
  if (!Found) return;

  TTiffDirectory ExifDir(Stream, Base, Dir.Intel);
  const std::int64_t ExifOffset = Dir.TiffGetTagInteger(34665, 0);
  if (ExifOffset > 0 && ExifOffset <= 0xFFFFFFFF) ExifDir.Load(static_cast<std::uint32_t>(ExifOffset));

  TTiffImage T;
  ReadImageTags(Dir, T);
  const std::vector<std::uint32_t> Bits = Dir.TiffGetTagArray(258);
  T.Bps = Bits.empty() ? Dir.TiffGetTagInteger(258, 1) : Bits[0];
  for (std::uint32_t B : Bits)
    if (B != Bits[0]) {
      Progress.Abort();
      return;
    }
  if (T.Spp == 1 && T.Bps == 1 && T.Compression >= 1 && T.Compression <= 4 && T.Photometric == phRGB)
    T.Photometric = phWhiteIsZero;
  ReadColorMap(Dir, T);
  FillParams(Dir, T, *Params);
  ReadExifFields(Dir, ExifDir, T, *Params);

  TTiffLzwDecompressProc Lzw = Params->TiffLzwDecompress != nullptr ? Params->TiffLzwDecompress
                                                                    : RvDefaultTiffLzwDecompress;
  if (T.Compression == cpLzw && Lzw == nullptr) {
    Progress.Abort();
    return;
  }
  if (HeaderOnly) return;
  // The colour profile of a picture read whole, for a save to write back; a
  // thumbnail has no use for it. Bounded by the stream, which must hold it.
  if (Params->JpegScale != 0) Params->IccProfile = Dir.TiffGetTagBytes(34675);
  if (T.Width <= 0 || T.Height <= 0 || T.Width > INT32_MAX || T.Height > INT32_MAX) {
    Progress.Abort();
    return;
  }

  // A directory claiming more than its data could fill takes no memory.
  if (!BlocksCanFill(Dir, T)) {
    Progress.Abort();
    return;
  }

  // An ExtraSamples of 0 says the extra sample is no alpha at all.
  T.Alpha = ((T.Spp == 4 && T.ExtraSamples == 2) || (T.Spp == 2 && T.Bps == 8) ||
             (T.Spp == 4 && T.Photometric == phRGB)) &&
            T.ExtraSamples != 0;
  T.Associated = T.Alpha && T.ExtraSamples == 1;
  if (!NoAlpha && Mask == nullptr && T.Alpha) Mask = std::make_unique<TRvMask>();
  if (Mask != nullptr) {
    if (!RvPixelsAllowed(T.Width, T.Height)) {
      Progress.Abort();
      return;
    }
    Mask->Allocate(static_cast<int>(T.Width), static_cast<int>(T.Height), 8);
    Mask->Fill(255);
  }

  if (T.Compression == cpOldJpeg) {
    // Only the interchange form (one whole JPEG stream) is understood; anything else is not a picture.
    if (T.JpegProc != 0 || T.JpegOffset == 0) Progress.Abort();
    else DecodeOldJpeg(Dir, T, Bitmap, Progress);
  } else {
    const bool OneBit = T.Bps == 1 && T.Spp == 1 && T.Photometric != phPalette;
    const TConvert Convert = ChooseConversion(T, OneBit);
    const bool Fax = T.Compression >= cpHuffman && T.Compression <= cpT6;
    // A compression or sample layout we cannot decode is reported, not shown as a blank picture.
    // Signed and floating-point samples are refused: read as unsigned they give a wrong picture.
    if (!CompressionDecodable(T.Compression) || Convert == cvUnsupported || (Fax && !OneBit) ||
        T.SampleFormat != 1 ||
        T.Bps > 16 || (T.Planar == 2 && !(T.Spp >= 3 && T.Bps == 8 && Convert == cvRGB8))) {
      Progress.Abort();
      return;
    }
    if (!RvAllocateBitmap(Bitmap, T.Width, T.Height, OneBit ? rvpf1Bit : rvpf24Bit)) {
      Progress.Abort();
      return;
    }
    TTiffDecoder Decoder(Dir, T, Bitmap, Mask.get(), NoAlpha, Convert, Lzw, Progress);
    Decoder.Run();
    Params->ColorMapRepeatsUsed = Decoder.RepeatUsed();
    // The rows went into the mask as they were decoded: it is full only
    // while every pixel is opaque, or a save and a turn would take the
    // picture for an opaque one.
    if (Mask != nullptr && T.Alpha && !NoAlpha) {
      bool Opaque = true;
      for (int Y = 0; Y < Mask->Height() && Opaque; ++Y) {
        const std::uint8_t* Row = Mask->ScanLine(Y);
        Opaque = std::all_of(Row, Row + Mask->Width(), [](std::uint8_t A) { return A == 255; });
      }
      Mask->SetFull(Opaque);
    }
  }
  if (Params->TiffApplyOrientation && T.Orientation >= 2 && T.Orientation <= 8 && Bitmap.Width() > 0)
  {
    ApplyOrientation(Bitmap, T.Orientation);
    // The mask turns with the picture, or it would no longer fit it.
    if (Mask != nullptr && Mask->Width() > 0) ApplyMaskOrientation(*Mask, T.Orientation);
  }
}

} // namespace rv
