#include "image/io/jpeg2000/rvjpeg2000.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include <openjpeg.h>

#include "image/io/rvsafeio.h"
#include "image/io/rvtrailer.h"
#include "image/io/rvwriteconv.h"

namespace rv {

namespace {

constexpr OPJ_SIZE_T J2kStreamChunk = 65536;

// ---- Colour tables

struct TYCbCrTables {
  int RedFromCr[256];
  int BlueFromCb[256];
  int GreenFromCr[256];
  int GreenFromCb[256];
};

TYCbCrTables BuildYCbCrTables() {
  const float Kr = 0.299f;
  const float Kg = 0.587f;
  const float Kb = 0.114f;
  const float A = 2 - 2 * Kr;
  const float B = 2 - 2 * Kb;
  const float C = Kr * A / Kg;
  const float D = Kb * B / Kg;
  TYCbCrTables T;
  for (int V = 0; V < 256; ++V) {
    const float S = static_cast<float>(V - 128);
    T.RedFromCr[V] = RvRound(S * A);
    T.BlueFromCb[V] = RvRound(S * B);
    T.GreenFromCr[V] = -RvRound(S * C);
    T.GreenFromCb[V] = -RvRound(S * D);
  }
  return T;
}

const TYCbCrTables YCbCr = BuildYCbCrTables();

bool IsSet(const TRvAbortFlag* Flag) {
  return Flag != nullptr && Flag->load(std::memory_order_relaxed);
}

// ---- Guards

struct TJ2kCodec {
  opj_codec_t* Codec = nullptr;
  opj_stream_t* Stream = nullptr;
  opj_image_t* Image = nullptr;
  TJ2kCodec() = default;
  ~TJ2kCodec() {
    if (Stream != nullptr) opj_stream_destroy(Stream);
    if (Codec != nullptr) opj_destroy_codec(Codec);
    if (Image != nullptr) opj_image_destroy(Image);
  }
  TJ2kCodec(const TJ2kCodec&) = delete;
  TJ2kCodec& operator=(const TJ2kCodec&) = delete;
};

void QuietHandler(const char*, void*) {}

void Quiet(opj_codec_t* Codec) {
  opj_set_error_handler(Codec, QuietHandler, nullptr);
  opj_set_warning_handler(Codec, QuietHandler, nullptr);
  opj_set_info_handler(Codec, QuietHandler, nullptr);
}

// ---- Stream callbacks. Nothing may unwind through the library: a stream
// that throws counts as one that failed.

struct TJ2kSource {
  platform::TStream* Stream;
  std::int64_t Start;
  std::int64_t Length;
};

OPJ_SIZE_T SourceRead(void* Buffer, OPJ_SIZE_T Count, void* User) {
  auto* S = static_cast<TJ2kSource*>(User);
  try {
    const std::int64_t Left = S->Start + S->Length - S->Stream->Position();
    const std::int64_t Want = std::min<std::int64_t>(static_cast<std::int64_t>(Count), Left);
    if (Want <= 0) return static_cast<OPJ_SIZE_T>(-1);
    const std::int64_t Got = S->Stream->Read(Buffer, Want);
    return Got > 0 ? static_cast<OPJ_SIZE_T>(Got) : static_cast<OPJ_SIZE_T>(-1);
  } catch (...) {
    return static_cast<OPJ_SIZE_T>(-1);
  }
}

OPJ_OFF_T SourceSkip(OPJ_OFF_T Count, void* User) {
  auto* S = static_cast<TJ2kSource*>(User);
  try {
    const std::int64_t Here = S->Stream->Position();
    const std::int64_t Target = std::clamp<std::int64_t>(Here + Count, S->Start, S->Start + S->Length);
    S->Stream->SetPosition(Target);
    return static_cast<OPJ_OFF_T>(Target - Here);
  } catch (...) {
    return -1;
  }
}

OPJ_BOOL SourceSeek(OPJ_OFF_T Position, void* User) {
  auto* S = static_cast<TJ2kSource*>(User);
  if (Position < 0 || Position > S->Length) return OPJ_FALSE;
  try {
    S->Stream->SetPosition(S->Start + Position);
    return OPJ_TRUE;
  } catch (...) {
    return OPJ_FALSE;
  }
}

OPJ_SIZE_T SinkWrite(void* Buffer, OPJ_SIZE_T Count, void* User) {
  auto* M = static_cast<platform::TMemoryStream*>(User);
  try {
    const std::int64_t Put = M->Write(Buffer, static_cast<std::int64_t>(Count));
    return Put == static_cast<std::int64_t>(Count) ? Count : static_cast<OPJ_SIZE_T>(-1);
  } catch (...) {
    return static_cast<OPJ_SIZE_T>(-1);
  }
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T Count, void* User) {
  auto* M = static_cast<platform::TMemoryStream*>(User);
  const std::int64_t Here = M->Position();
  if (Here + Count < 0) return -1;
  M->SetPosition(Here + Count);
  return Count;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T Position, void* User) {
  auto* M = static_cast<platform::TMemoryStream*>(User);
  if (Position < 0) return OPJ_FALSE;
  M->SetPosition(Position);
  return OPJ_TRUE;
}

std::uint32_t ReadU32BE(const std::uint8_t* P) {
  return (std::uint32_t{P[0]} << 24) | (std::uint32_t{P[1]} << 16) | (std::uint32_t{P[2]} << 8) |
         P[3];
}

bool PeekBytes(platform::TStream& Stream, std::uint8_t* Buffer, std::int64_t Count) {
  const std::int64_t Start = Stream.Position();
  const std::int64_t Got = Stream.Read(Buffer, Count);
  Stream.SetPosition(Start);
  return Got == Count;
}

// One component's sample at picture pixel (X, Y), scaled to 0..255.
// A picture whose origin is odd starts between two samples of a plane at
// half size, the first of them outside it: the nearest inside stands for it.
std::int64_t Nearest(std::int64_t Index, OPJ_UINT32 Count) {
  return std::clamp<std::int64_t>(Index, 0, std::int64_t{Count} - 1);
}

struct TJ2kPlane {
  const opj_image_comp_t* Comp;
  std::int64_t Max; // 2^precision - 1
  std::int64_t Offset; // brings signed samples to the unsigned range
  OPJ_UINT32 ImageX0;
  OPJ_UINT32 ImageY0;
  // Per level of a plane of up to 16 bits, its 8-bit value: made once, so
  // that a pixel costs no division.
  std::vector<std::uint8_t> Levels;

  int Level(std::int64_t Sample) const {
    const std::int64_t V = Sample + Offset;
    if (V >= 0 && V < static_cast<std::int64_t>(Levels.size())) return Levels[static_cast<std::size_t>(V)];
    return static_cast<int>(std::clamp<std::int64_t>(V * 255 / Max, 0, 255));
  }

  // The 8-bit values of the picture's row Y, Width of them. The plane's
  // column moves on every dx columns of the canvas.
  void RowAt(std::int64_t Y, std::int64_t Width, int* Out) const {
    if (Comp->w == 0 || Comp->h == 0) {
      std::fill_n(Out, Width, 0);
      return;
    }
    const OPJ_INT32* Samples = Comp->data + Nearest((ImageY0 + Y) / Comp->dy - Comp->y0, Comp->h) * Comp->w;
    std::int64_t Col = ImageX0 / Comp->dx - std::int64_t{Comp->x0};
    OPJ_UINT32 Phase = ImageX0 % Comp->dx;
    for (std::int64_t X = 0; X < Width; ++X) {
      Out[X] = Level(Samples[Nearest(Col, Comp->w)]);
      if (++Phase == Comp->dx) {
        Phase = 0;
        ++Col;
      }
    }
  }
};

TJ2kPlane MakePlane(const opj_image_t* Image, int Index) {
  const opj_image_comp_t* C = &Image->comps[Index];
  TJ2kPlane P;
  P.Comp = C;
  const int Precision = static_cast<int>(std::clamp<OPJ_UINT32>(C->prec, 1, 31));
  P.Max = (std::int64_t{1} << Precision) - 1;
  // Signed samples are centred on zero; shifted up they keep their meaning
  // instead of every negative value turning black.
  P.Offset = C->sgnd != 0 ? std::int64_t{1} << (Precision - 1) : 0;
  P.ImageX0 = Image->x0;
  P.ImageY0 = Image->y0;
  if (Precision <= 16) {
    P.Levels.resize(static_cast<std::size_t>(P.Max) + 1);
    for (std::int64_t V = 0; V <= P.Max; ++V)
      P.Levels[static_cast<std::size_t>(V)] = static_cast<std::uint8_t>(V * 255 / P.Max);
  }
  return P;
}

enum TJ2kSpace { jsGray, jsRGB, jsYCbCr, jsOther };

TJ2kSpace SpaceOf(OPJ_COLOR_SPACE ColourSpace, OPJ_UINT32 Count) {
  switch (ColourSpace) {
  case OPJ_CLRSPC_GRAY: return jsGray;
  case OPJ_CLRSPC_SRGB: return Count >= 3 ? jsRGB : jsOther;
  case OPJ_CLRSPC_SYCC: return Count >= 3 ? jsYCbCr : jsOther;
  case OPJ_CLRSPC_UNKNOWN:
  case OPJ_CLRSPC_UNSPECIFIED:
    // A code stream names no colour space: three components or more are
    // colour, fewer are gray.
    if (Count >= 3) return jsRGB;
    if (Count >= 1) return jsGray;
    return jsOther;
  default: return jsOther;
  }
}

TJ2kSpace SpaceOf(const opj_image_t* Image) { return SpaceOf(Image->color_space, Image->numcomps); }

// Inside "res ": "resc" (capture) and "resd" (display), each the vertical
// and horizontal grid points a metre as numerator, denominator (16 bits
// each) and a power of ten (8 bits, signed): VN VD HN HD VE HE.
constexpr std::int64_t ResolutionEntry = 18;
constexpr std::uint32_t CaptureBox = 0x72657363, DisplayBox = 0x72657364;

// What the boxes of a JP2 file say beyond the code stream, and where the
// code stream starts. A colour box ("colr") naming CIELab (enumerated colour
// space 14) makes the library hand over raw L, a and b. A palette ("pclr")
// turns one component into its columns, and the component mapping ("cmap")
// without which the library leaves the palette unused, the channel
// definition ("cdef") that can put another channel first and the first
// colour box's colour space take effect only while decoding: a header-only
// read tells the outcome from them instead.
struct TJp2Boxes {
  bool Lab = false;
  bool Palette = false;
  bool Mapped = false;
  std::vector<OPJ_UINT32> ColumnBits; // each palette column's precision
  std::uint32_t FirstChannel = 0;     // the channel that decoding puts first
  OPJ_COLOR_SPACE ColourSpace = OPJ_CLRSPC_UNSPECIFIED;
  bool ColourSeen = false;
  std::vector<std::uint8_t> Resolution; // the first "res " box's contents
  std::int64_t CodeStream = -1; // the contents of the "jp2c" box; -1 when none was found

  // The channels the palette brings in while decoding: none without a mapping.
  std::size_t PaletteChannels() const { return Mapped ? ColumnBits.size() : 0; }
};

OPJ_COLOR_SPACE EnumeratedSpace(std::uint32_t Enumerated) {
  switch (Enumerated) {
  case 12: return OPJ_CLRSPC_CMYK;
  case 16: return OPJ_CLRSPC_SRGB;
  case 17: return OPJ_CLRSPC_GRAY;
  case 18: return OPJ_CLRSPC_SYCC;
  case 24: return OPJ_CLRSPC_EYCC;
  default: return OPJ_CLRSPC_UNSPECIFIED;
  }
}

void ReadHeaderBox(platform::TStream& Stream, std::uint32_t Type, std::int64_t Payload, TJp2Boxes& Found) {
  std::uint8_t Head[8];
  if (Type == 0x636F6C72) { // "colr": method, precedence, approximation, enumerated colour space
    const auto Got = Stream.Read(Head, std::min<std::int64_t>(Payload, 7));
    const bool Enumerated = Got == 7 && Head[0] == 1;
    Found.Lab = Found.Lab || (Enumerated && ReadU32BE(Head + 3) == 14);
    // The library takes the first colour box's colour space.
    if (!Found.ColourSeen && Got >= 1)
      Found.ColourSpace = Enumerated ? EnumeratedSpace(ReadU32BE(Head + 3)) : OPJ_CLRSPC_UNSPECIFIED;
    Found.ColourSeen = Found.ColourSeen || Got >= 1;
  }
  if (Type == 0x70636C72) { // "pclr": entries (2 bytes), columns (1), each column's depth
    Found.Palette = true;
    std::uint8_t Depths[256];
    if (Payload >= 3 && Stream.Read(Head, 3) == 3 && Payload >= 3 + Head[2] &&
        Stream.Read(Depths, Head[2]) == Head[2]) {
      Found.ColumnBits.clear();
      for (int I = 0; I < Head[2]; ++I) Found.ColumnBits.push_back((Depths[I] & 0x7Fu) + 1);
    }
  }
  // "res ": its capture and display boxes, 18 bytes each (more is none we know).
  if (Type == 0x72657320 && Found.Resolution.empty() && Payload >= ResolutionEntry && Payload <= 4 * ResolutionEntry) {
    Found.Resolution.resize(static_cast<std::size_t>(Payload));
    if (Stream.Read(Found.Resolution.data(), Payload) != Payload) Found.Resolution.clear();
  }
  if (Type == 0x636D6170) Found.Mapped = true; // "cmap"
  if (Type == 0x63646566 && Payload >= 2 && Stream.Read(Head, 2) == 2) { // "cdef": channel, type, association
    const int Count = (Head[0] << 8) | Head[1];
    for (int I = 0; I < Count && 2 + 6 * (I + 1) <= Payload && Stream.Read(Head, 6) == 6; ++I)
      if (((Head[4] << 8) | Head[5]) == 1) Found.FirstChannel = (std::uint32_t{Head[0]} << 8) | Head[1];
  }
}

// ---- Resolution boxes

// Dots an inch of a numerator, denominator and power of ten a metre.
std::int64_t DpiOf(std::uint32_t N, std::uint32_t D, std::int8_t E) {
  if (N == 0 || D == 0) return 0;
  const double Dpi = N / static_cast<double>(D) * std::pow(10.0, E) * 0.0254;
  return Dpi >= 1 && Dpi < 2147483647.0 ? std::lround(Dpi) : 0;
}

// The resolution the contents of a "res " box give: the capture box's, else
// the display box's. False when neither gives one.
bool ResolutionOf(const std::vector<std::uint8_t>& Box, std::int32_t& DpiX, std::int32_t& DpiY) {
  for (const std::uint32_t Wanted : {CaptureBox, DisplayBox}) {
    for (std::size_t At = 0; At + ResolutionEntry <= Box.size(); At += ResolutionEntry) {
      const std::uint8_t* B = Box.data() + At;
      if (ReadU32BE(B) != ResolutionEntry || ReadU32BE(B + 4) != Wanted) continue;
      const std::int64_t Y = DpiOf(B[8] << 8 | B[9], B[10] << 8 | B[11], static_cast<std::int8_t>(B[16]));
      const std::int64_t X = DpiOf(B[12] << 8 | B[13], B[14] << 8 | B[15], static_cast<std::int8_t>(B[17]));
      if (X < 1 || Y < 1) continue;
      DpiX = static_cast<std::int32_t>(X);
      DpiY = static_cast<std::int32_t>(Y);
      return true;
    }
  }
  return false;
}

void PutU32BE(std::vector<std::uint8_t>& Out, std::uint32_t V) {
  for (int Shift = 24; Shift >= 0; Shift -= 8) Out.push_back(static_cast<std::uint8_t>(V >> Shift));
}

// The contents of a "res " box for the picture's resolution: the file's own
// when the picture has it, turned a quarter when the picture is (vertical
// and horizontal exchanged), else a capture box of DpiX x DpiY.
std::vector<std::uint8_t> ResolutionFor(const TIOParamsVals& Params) {
  std::vector<std::uint8_t> Box = Params.J2000ResolutionBox;
  std::int32_t X = 0, Y = 0;
  if (ResolutionOf(Box, X, Y) && X == Params.DpiX && Y == Params.DpiY) return Box;
  if (ResolutionOf(Box, X, Y) && X == Params.DpiY && Y == Params.DpiX) {
    for (std::size_t At = 0; At + ResolutionEntry <= Box.size(); At += ResolutionEntry) {
      std::uint8_t* B = Box.data() + At + 8;
      std::swap_ranges(B, B + 4, B + 4);
      std::swap(B[8], B[9]);
    }
    return Box;
  }
  Box.clear();
  PutU32BE(Box, ResolutionEntry);
  PutU32BE(Box, CaptureBox);
  // Dots an inch are 5000 / 127 points a metre: Dpi x 50 / 127 x 10^2, the
  // numerator kept to 16 bits by a larger power.
  std::int64_t N[2] = {std::clamp(Params.DpiY, 1, 0x7FFFFFFF) * std::int64_t{50},
                       std::clamp(Params.DpiX, 1, 0x7FFFFFFF) * std::int64_t{50}};
  std::uint8_t Power[2] = {2, 2};
  for (int I = 0; I < 2; ++I) {
    for (; N[I] > 0xFFFF; ++Power[I]) N[I] = (N[I] + 5) / 10;
    Box.push_back(static_cast<std::uint8_t>(N[I] >> 8));
    Box.push_back(static_cast<std::uint8_t>(N[I]));
    Box.push_back(0);
    Box.push_back(127);
  }
  Box.push_back(Power[0]);
  Box.push_back(Power[1]);
  return Box;
}

// Writes a JP2 file the library made, with a "res " box of Contents at the
// end of its header box ("jp2h").
bool WriteWithResolution(platform::TStream& Stream, const std::uint8_t* File, std::int64_t Size,
                         const std::vector<std::uint8_t>& Contents) {
  for (std::int64_t At = 0; At + 8 <= Size;) {
    const std::int64_t Length = ReadU32BE(File + At);
    if (Length < 8 || Length > Size - At) break;
    if (ReadU32BE(File + At + 4) != 0x6A703268) { // "jp2h"
      At += Length;
      continue;
    }
    std::vector<std::uint8_t> Header;
    PutU32BE(Header, static_cast<std::uint32_t>(Length + 8 + Contents.size()));
    PutU32BE(Header, 0x6A703268);
    std::vector<std::uint8_t> Box;
    PutU32BE(Box, static_cast<std::uint32_t>(8 + Contents.size()));
    PutU32BE(Box, 0x72657320); // "res "
    Box.insert(Box.end(), Contents.begin(), Contents.end());
    const std::int64_t Rest = At + Length;
    return Stream.Write(File, At) == At && Stream.Write(Header.data(), 8) == 8 &&
           Stream.Write(File + At + 8, Length - 8) == Length - 8 &&
           Stream.Write(Box.data(), static_cast<std::int64_t>(Box.size())) == static_cast<std::int64_t>(Box.size()) &&
           Stream.Write(File + Rest, Size - Rest) == Size - Rest;
  }
  return false;
}

// The boxes from the signature box at Start on to "jp2c". The library takes
// header boxes inside "jp2h" and also, misplaced, after it up to the code
// stream (a mapping box there still brings the palette in), but ignores those
// before it; the walk reads the same ones, among the first 64 boxes. A file
// with thousands of boxes before its code stream is none we read.
TJp2Boxes ReadJp2Boxes(platform::TStream& Stream, std::int64_t Start) {
  const std::int64_t Here = Stream.Position();
  TJp2Boxes Found;
  std::int64_t At = Start;
  const std::int64_t End = Stream.Size();
  std::int64_t Limit = End; // the end of the box whose contents are walked
  bool HeaderSeen = false;
  std::uint8_t Head[16];
  for (int Boxes = 0; Boxes < 4096 && At + 8 <= Limit; ++Boxes) {
    Stream.SetPosition(At);
    if (Stream.Read(Head, 8) != 8) break;
    std::int64_t Length = ReadU32BE(Head);
    std::int64_t HeadSize = 8;
    const std::uint32_t Type = ReadU32BE(Head + 4);
    if (Length == 1) { // the length follows in 64 bits
      if (Stream.Read(Head + 8, 8) != 8 || ReadU32BE(Head + 8) > 0x7FFFFFFF) break;
      Length = (std::int64_t{ReadU32BE(Head + 8)} << 32) | ReadU32BE(Head + 12);
      HeadSize = 16;
    } else if (Length == 0) {
      Length = Limit - At;
    }
    if (Type == 0x6A703263) { // "jp2c": the code stream, however long it says it is
      if (Limit == End) Found.CodeStream = At + HeadSize;
      break;
    }
    if (Length < HeadSize || Length > Limit - At) break;
    if (Type == 0x6A703268 && Limit == End) { // "jp2h": walk the boxes inside it
      HeaderSeen = true;
      Limit = At + Length;
      At += HeadSize;
      continue;
    }
    if (HeaderSeen && Boxes < 64) ReadHeaderBox(Stream, Type, Length - HeadSize, Found);
    At += Length;
    if (At == Limit) Limit = End;
  }
  Stream.SetPosition(Here);
  return Found;
}

// ---- What a save does not write back

// The most names of boxes a save cannot write back that a read keeps; past
// them such boxes are only counted, so that a file of many costs no memory.
constexpr std::size_t BoxesNamed = 16;

// One box found by the walk: its type, where its contents start and where
// it ends.
struct TJp2Box {
  std::uint32_t Type = 0;
  std::int64_t Contents = 0;
  std::int64_t End = 0;
};

// The box at the reader's position, inside a box (or file) that ends at
// Limit: false where no whole box starts, or its type is no four printable
// characters (other bytes, not a box). The reader is left after its header.
bool ReadBoxHeader(TRvStreamReader& Reader, std::int64_t Limit, TJp2Box& Box) {
  const std::int64_t At = Reader.Position();
  std::uint8_t Head[16];
  if (Limit - At < 8 || !Reader.Read(Head, 8)) return false;
  std::int64_t Length = ReadU32BE(Head);
  Box.Type = ReadU32BE(Head + 4);
  Box.Contents = At + 8;
  if (Length == 1) { // the length follows in 64 bits
    if (Limit - At < 16 || !Reader.Read(Head + 8, 8) || ReadU32BE(Head + 8) > 0x7FFFFFFF) return false;
    Length = (std::int64_t{ReadU32BE(Head + 8)} << 32) | ReadU32BE(Head + 12);
    Box.Contents = At + 16;
  } else if (Length == 0) { // the last box: it runs to the end
    Length = Limit - At;
  }
  Box.End = At + Length;
  for (int Shift = 24; Shift >= 0; Shift -= 8) {
    const std::uint32_t C = (Box.Type >> Shift) & 0xFF;
    if (C < 0x20 || C > 0x7E) return false;
  }
  return Length >= Box.Contents - At && Length <= Limit - At;
}

// A box of the header's kinds: the image header, the depths, colour,
// palette, component mapping, channel definition and resolution boxes.
bool IsHeaderKind(std::uint32_t Type) {
  switch (Type) {
  case 0x69686472: // "ihdr"
  case 0x62706363: // "bpcc"
  case 0x636F6C72: // "colr"
  case 0x70636C72: // "pclr"
  case 0x636D6170: // "cmap"
  case 0x63646566: // "cdef"
  case 0x72657320: // "res "
    return true;
  default:
    return false;
  }
}

// The walk over a JP2 file's boxes that notes what a save loses: a box the
// writer makes anew (the signature, the file type, the header, the code
// stream) or whose meaning the picture read holds (the header's boxes where
// the library takes them, as ReadJp2Boxes tells) is kept; any other, another
// program's or an alternative the read passed over, is named. One step a
// box through a buffered reader: linear in the file.
class TJp2Leftovers {
public:
  TJp2Leftovers(TRvStreamReader& Reader, TIOParamsVals& Params) : FReader(Reader), FParams(Params) {}

  // Answers where the last whole box ends, -1 when the walk did not get past
  // the code stream's box (one longer than the file is read to its end).
  std::int64_t Walk() {
    bool Signature = false, FileType = false, Header = false, CodeStream = false;
    TJp2Box Box;
    std::int64_t At = FReader.Position();
    while (At < FReader.End() && ReadBoxHeader(FReader, FReader.End(), Box)) {
      if (Box.Type == 0x6A502020 && !Signature) { // "jP  "
        Signature = true;
      } else if (Box.Type == 0x66747970 && !FileType) { // "ftyp"
        FileType = true;
      } else if (Box.Type == 0x6A703268 && !Header && !CodeStream) { // "jp2h"
        Header = true;
        TJp2Box Inner;
        while (FReader.Position() < Box.End && ReadBoxHeader(FReader, Box.End, Inner) && FReader.Seek(Inner.End))
          HeaderBox(Inner);
      } else if (Box.Type == 0x6A703263 && !CodeStream) { // "jp2c"
        CodeStream = true;
      } else if (Header && !CodeStream && IsHeaderKind(Box.Type)) {
        // Misplaced after the header, the library still takes it.
        HeaderBox(Box);
      } else {
        Name(Box.Type);
      }
      if (!FReader.Seek(Box.End)) break;
      At = Box.End;
    }
    return CodeStream ? At : -1;
  }

private:
  // One of the header's boxes, the reader after it: the first colour box
  // names an enumerated colour space the picture read is in (a profile it
  // did not apply, and any later colour box, are lost); the resolution box
  // is kept as stored when its read took it.
  void HeaderBox(const TJp2Box& Box) {
    const std::int64_t Size = Box.End - Box.Contents;
    const std::int64_t Back = FReader.Position();
    if (Box.Type == 0x636F6C72 && !FColourSeen && Size >= 1) {
      FColourSeen = true;
      const bool Enumerated = FReader.Seek(Box.Contents) && FReader.U8() == 1;
      FReader.Seek(Back);
      if (Enumerated) return;
    } else if (Box.Type == 0x72657320 && !FResolutionKept) {
      const std::vector<std::uint8_t>& Kept = FParams.J2000ResolutionBox;
      std::vector<std::uint8_t> Stored(Kept.size());
      FResolutionKept = !Kept.empty() && Size == static_cast<std::int64_t>(Kept.size()) &&
                        FReader.Seek(Box.Contents) && FReader.Read(Stored.data(), Size) && Stored == Kept;
      FReader.Seek(Back);
      if (FResolutionKept) return;
    } else if (Box.Type != 0x636F6C72 && Box.Type != 0x72657320 && IsHeaderKind(Box.Type)) {
      return;
    }
    Name(Box.Type);
  }

  void Name(std::uint32_t Type) {
    std::string Text;
    for (int Shift = 24; Shift >= 0; Shift -= 8) Text += static_cast<char>(Type >> Shift);
    // Types are padded with spaces: "xml " is named xml.
    const std::size_t Last = Text.find_last_not_of(' ');
    if (Last != std::string::npos) Text.erase(Last + 1);
    std::vector<std::string>& Names = FParams.J2000BoxesLeftOut;
    if (std::find(Names.begin(), Names.end(), Text) != Names.end()) return;
    if (Names.size() < BoxesNamed) Names.push_back(Text);
    else ++FParams.J2000BoxesNotNamed;
  }

  TRvStreamReader& FReader;
  TIOParamsVals& FParams;
  bool FColourSeen = false;
  bool FResolutionKept = false;
};

// Notes in Params the boxes of the JP2 file at Start a save does not write
// back, and what follows its last whole box after the code stream as its
// trailer (often another program's data appended).
void NoteJp2Leftovers(platform::TStream& Stream, std::int64_t Start, TIOParamsVals& Params) {
  const std::int64_t Here = Stream.Position();
  std::int64_t End;
  Stream.SetPosition(Start);
  {
    TRvStreamReader Reader(Stream);
    End = TJp2Leftovers(Reader, Params).Walk();
  }
  Stream.SetPosition(Here);
  if (End >= 0) RvNoteTrailer(Stream, End, rvftJP2, Params);
}

// Where a code stream at Start ends, after its end marker, when its
// tile-parts' lengths lead from the first to it; -1 else (a last tile-part
// that runs to the end, lengths that lead elsewhere).
std::int64_t CodeStreamEnd(platform::TStream& Stream, std::int64_t Start) {
  const std::int64_t Here = Stream.Position();
  std::int64_t End = -1;
  Stream.SetPosition(Start);
  {
    TRvStreamReader Reader(Stream);
    std::uint8_t M[2];
    // The main header: the start marker, then segments of a stated length
    // up to the first tile-part.
    bool Read = Reader.Read(M, 2);
    while (Read && Reader.Read(M, 2) && M[0] == 0xFF && M[1] != 0x90) {
      const std::int64_t Length = Reader.U16BE();
      Read = !Reader.Short() && Length >= 2 && Reader.Skip(Length - 2);
    }
    while (Read && !Reader.Short() && M[0] == 0xFF && M[1] == 0x90) {
      // The tile-part's length counts from its marker; 0 runs to the end.
      const std::int64_t At = Reader.Position() - 2;
      std::uint8_t Sot[10];
      if (!Reader.Read(Sot, 10)) break;
      const std::int64_t Length = ReadU32BE(Sot + 4);
      if (Length < 14 || !Reader.Seek(At + Length) || !Reader.Read(M, 2)) break;
      if (M[0] == 0xFF && M[1] == 0xD9) End = Reader.Position();
    }
  }
  Stream.SetPosition(Here);
  return End;
}

// ---- What the library lays out before any pixel

// The image and tile size segment that follows the start of the code
// stream: the canvas, the tile grid and the component count.
struct TJ2kGrid {
  std::int64_t Width = 0, Height = 0, X0 = 0, Y0 = 0;
  std::int64_t TileWidth = 0, TileHeight = 0, TileX = 0, TileY = 0;
  std::int64_t Components = 0;
  std::int64_t SegmentLength = 0;
  std::int64_t Across = 0, Down = 0; // 0 for a grid the library refuses anyway

  std::int64_t Tiles() const {
    std::int64_t Count;
    return RvSizeMul(Across, Down, Count) ? Count : INT64_MAX;
  }

  // Tile Index's edges on the canvas: the grid's cell cut to the picture.
  void Tile(std::int64_t Index, std::int64_t& Left, std::int64_t& Top, std::int64_t& Right,
            std::int64_t& Bottom) const {
    const std::int64_t P = Index % Across, Q = Index / Across;
    Left = std::max(TileX + P * TileWidth, X0);
    Right = std::min(TileX + (P + 1) * TileWidth, Width);
    Top = std::max(TileY + Q * TileHeight, Y0);
    Bottom = std::min(TileY + (Q + 1) * TileHeight, Height);
  }
};

bool ReadGrid(TRvStreamReader& Reader, TJ2kGrid& Grid) {
  std::uint8_t Siz[42];
  if (!Reader.Read(Siz, 42) || Siz[0] != 0xFF || Siz[1] != 0x4F || Siz[2] != 0xFF || Siz[3] != 0x51) return false;
  Grid.SegmentLength = (Siz[4] << 8) | Siz[5];
  Grid.Width = ReadU32BE(Siz + 8), Grid.Height = ReadU32BE(Siz + 12);
  Grid.X0 = ReadU32BE(Siz + 16), Grid.Y0 = ReadU32BE(Siz + 20);
  Grid.TileWidth = ReadU32BE(Siz + 24), Grid.TileHeight = ReadU32BE(Siz + 28);
  Grid.TileX = ReadU32BE(Siz + 32), Grid.TileY = ReadU32BE(Siz + 36);
  Grid.Components = (Siz[40] << 8) | Siz[41];
  if (Grid.TileWidth > 0 && Grid.TileHeight > 0 && Grid.Width > Grid.TileX && Grid.Height > Grid.TileY) {
    Grid.Across = (Grid.Width - Grid.TileX + Grid.TileWidth - 1) / Grid.TileWidth;
    Grid.Down = (Grid.Height - Grid.TileY + Grid.TileHeight - 1) / Grid.TileHeight;
  }
  return true;
}

// Every tile has at least one tile-part, a start-of-tile segment (12 bytes)
// and a start-of-data marker (2): more tiles than the bytes from there on
// hold tile-parts for is no code stream. The library lays out every tile
// with every component as soon as it reads the header, before any pixel
// (about 8.9 KB a tile and 1.1 KB a tile-component, measured on OpenJPEG
// 2.5): that memory counts in the allocation cap the pixels are held to.
constexpr std::int64_t TilePartBytes = 14;
constexpr std::int64_t TileHeaderBytes = 9216;
constexpr std::int64_t TileComponentHeaderBytes = 1152;

bool TileHeadersBytes(const TJ2kGrid& Grid, std::int64_t& Bytes) {
  std::int64_t PerTile;
  return RvSizeMul(Grid.Components, TileComponentHeaderBytes, PerTile) &&
         RvSizeAdd(PerTile, TileHeaderBytes, PerTile) && RvSizeMul(Grid.Tiles(), PerTile, Bytes);
}

// The code stream at At begins with its image and tile size marker; its
// tiles must fit the bytes and the tile headers the cap.
bool TilesAllowed(platform::TStream& Stream, std::int64_t At) {
  if (At < 0) return false;
  const std::int64_t Here = Stream.Position();
  TJ2kGrid Grid;
  bool Read;
  Stream.SetPosition(At);
  {
    TRvStreamReader Reader(Stream, 42);
    Read = ReadGrid(Reader, Grid);
  }
  Stream.SetPosition(Here);
  if (!Read) return false;
  // A grid the library refuses anyway is left to it.
  if (Grid.Across == 0) return true;
  std::int64_t Header;
  return Grid.Tiles() <= (Stream.Size() - At) / TilePartBytes && TileHeadersBytes(Grid, Header) &&
         RvAllocationAllowed(Header);
}

// When it starts a tile the library lays out, for each of its components,
// every precinct of every band of every resolution level and every
// code-block in them, before it reads a packet; one tile at a time. On
// OpenJPEG 2.5 that is about 170 bytes of resident memory a precinct of a
// band and 400 a code-block (measured): a code stream of a few hundred
// bytes that asks for precincts of 2 x 2 and code-blocks of 4 x 4 over a
// large tile would take gigabytes. Charged a little above.
constexpr std::int64_t PrecinctBytes = 192;
constexpr std::int64_t CodeBlockBytes = 416;
// More decomposition levels than this the library refuses, and so does the walk.
constexpr int MostDecompositionLevels = 32;

// V / 2^Shift rounded up and down, V of either sign. Coordinates stay below
// 2^33: any shift of 40 or more gives what 40 gives.
std::int64_t CeilShift(std::int64_t V, int Shift) { return -((-V) >> std::min(Shift, 40)); }
std::int64_t FloorShift(std::int64_t V, int Shift) { return V >> std::min(Shift, 40); }
// The cells of a grid of 2^Shift from 0 that [Low, High) meets.
std::int64_t Cells(std::int64_t Low, std::int64_t High, int Shift) {
  return High > Low ? CeilShift(High, Shift) - FloorShift(Low, Shift) : 0;
}

// A coding style segment's decomposition levels, code-block size exponents
// and, when it gives them, each resolution level's precinct size exponents
// (width in the low nibble), kept in a pool shared by the walk's styles.
struct TJ2kStyle {
  int Levels = 0;
  int BlockWidth = 0, BlockHeight = 0;
  std::int64_t Precincts = -1; // the first level's byte in the pool; -1: 2^15 x 2^15
  std::int64_t Layers = 0;     // a COD's quality layers
};

// To decode a tile the library keeps a flag for every packet the tile
// could hold: each layer (and one more) of each resolution level of each
// component of each precinct, sized by the largest count of each among the
// tile's components, two bytes a flag. Tens of thousands of layers over
// small precincts make gigabytes of flags from a code stream of a hundred
// bytes.
constexpr std::int64_t PacketFlagBytes = 2;

// The most precincts of any level, and the most levels, of a tile's components.
struct TJ2kPackets {
  std::int64_t Levels = 0, Precincts = 0;
};

// The memory the library lays out for a tile-component of the given edges
// (in its own samples) coded in Style. A precinct of a resolution level is
// laid out once for each of the level's bands, at half its size there; the
// code-blocks, never larger than a precinct, cover each band.
bool LayoutBytes(const TJ2kStyle& Style, const std::vector<std::uint8_t>& Pool, std::int64_t Left, std::int64_t Top,
                 std::int64_t Right, std::int64_t Bottom, std::int64_t& Bytes, TJ2kPackets& Packets) {
  std::int64_t Precincts = 0, Blocks = 0;
  Packets.Levels = std::max<std::int64_t>(Packets.Levels, Style.Levels + 1);
  for (int R = 0; R <= Style.Levels; ++R) {
    const int Scale = Style.Levels - R;
    const std::uint8_t Sizes = Style.Precincts < 0 ? 0xFF : Pool[static_cast<std::size_t>(Style.Precincts + R)];
    const int Px = Sizes & 15, Py = Sizes >> 4;
    std::int64_t Level;
    if (!RvSizeMul(Cells(CeilShift(Left, Scale), CeilShift(Right, Scale), Px),
                   Cells(CeilShift(Top, Scale), CeilShift(Bottom, Scale), Py), Level))
      return false;
    Packets.Precincts = std::max(Packets.Precincts, Level);
    if (!RvSizeMul(Level, R == 0 ? 1 : 3, Level) || !RvSizeAdd(Precincts, Level, Precincts)) return false;
    const int Bx = std::min(Style.BlockWidth, R == 0 ? Px : std::max(Px - 1, 0));
    const int By = std::min(Style.BlockHeight, R == 0 ? Py : std::max(Py - 1, 0));
    // The low band of level 0, or the high-pass bands 1 (across), 2 (down)
    // and 3 (both) of the others, each moved by half its scale.
    const int Shift = R == 0 ? Style.Levels : Style.Levels - R + 1;
    for (int Band = R == 0 ? 0 : 1; Band <= (R == 0 ? 0 : 3); ++Band) {
      const std::int64_t Half = Shift > 0 ? std::int64_t{1} << (std::min(Shift, 40) - 1) : 0;
      const std::int64_t Dx = (Band & 1) != 0 ? Half : 0, Dy = (Band & 2) != 0 ? Half : 0;
      std::int64_t InBand;
      if (!RvSizeMul(Cells(CeilShift(Left - Dx, Shift), CeilShift(Right - Dx, Shift), Bx),
                     Cells(CeilShift(Top - Dy, Shift), CeilShift(Bottom - Dy, Shift), By), InBand) ||
          !RvSizeAdd(Blocks, InBand, Blocks))
        return false;
    }
  }
  std::int64_t BlockBytes;
  return RvSizeMul(Precincts, PrecinctBytes, Bytes) && RvSizeMul(Blocks, CodeBlockBytes, BlockBytes) &&
         RvSizeAdd(Bytes, BlockBytes, Bytes);
}

// The walk over a code stream's headers that charges, before decoding, the
// largest tile's layout with the tile headers against the allocation cap.
// It reads the coding style (COD) and component coding style (COC) segments
// of the main header and of each tile's first tile-part, and moves from
// tile-part to tile-part by their lengths: linear in the code stream.
class TJ2kLayoutWalk {
public:
  TJ2kLayoutWalk(TRvStreamReader& Reader, const TJ2kGrid& Grid) : FReader(Reader), FGrid(Grid) {}

  bool Allowed() {
    std::int64_t Headers;
    if (!TileHeadersBytes(FGrid, Headers) || !RvAllocationAllowed(Headers)) return false;
    FFree = RvMaxAllocation() - Headers;
    FComponents.resize(static_cast<std::size_t>(FGrid.Components));
    for (auto& C : FComponents) {
      std::uint8_t Sub[3];
      if (!FReader.Read(Sub, 3)) return true; // a header the library took has them
      C.Dx = Sub[1], C.Dy = Sub[2];
    }
    if (!FReader.Seek(FReader.Start() + 4 + FGrid.SegmentLength)) return true;
    std::uint8_t Marker = 0;
    TStep Step = sGo;
    // The main header, up to the first tile-part.
    while (Step == sGo && NextMarker(Marker) && Marker != 0x90) Step = Segment(Marker, scMain);
    if (Step == sRefuse) return false;
    const std::int64_t Tiles = FGrid.Tiles();
    const std::size_t MainStyles = FStyles.size(), MainPool = FPool.size();
    std::vector<bool> Seen(static_cast<std::size_t>(Tiles));
    while (Step == sGo && Marker == 0x90) {
      // Its length (10), the tile, the tile-part's length from its start,
      // the part's index and the count of parts.
      const std::int64_t Start = FReader.Position() - 2;
      std::uint8_t Sot[10];
      if (!FReader.Read(Sot, 10) || Sot[0] != 0 || Sot[1] != 10) break;
      const std::int64_t Tile = (Sot[2] << 8) | Sot[3];
      const std::int64_t PartLength = ReadU32BE(Sot + 4);
      // Coding styles belong in a tile's first tile-part only: there the
      // tile's layout is settled before the library can start it.
      TScope Scope = scNoTile;
      if (Tile < Tiles) {
        Scope = Seen[static_cast<std::size_t>(Tile)] ? scLaterPart : scFirstPart;
        Seen[static_cast<std::size_t>(Tile)] = true;
      }
      ++FPart;
      FTileCod = -1;
      while (Step == sGo && NextMarker(Marker, true) && Marker != 0x93) Step = Segment(Marker, Scope);
      if (Step == sRefuse || (Scope == scFirstPart && Marker == 0x93 && !TileAllowed(Tile))) return false;
      if (Step != sGo || Marker != 0x93 || PartLength == 0) break; // a last tile-part runs to the end
      FStyles.resize(MainStyles);
      FPool.resize(MainPool);
      // The next tile-part where this one says it ends; where that is no
      // marker, the first start of tile from its data on (coded data never
      // hold one).
      const std::int64_t Data = FReader.Position();
      const std::int64_t Next = Start + PartLength;
      std::uint8_t At[2];
      if (Next >= Data && Next + 2 <= FReader.End() && FReader.Seek(Next) && FReader.Read(At, 2) && At[0] == 0xFF &&
          (At[1] == 0x90 || At[1] == 0xD9)) {
        Marker = At[1];
        continue;
      }
      FReader.Seek(Data);
      Marker = ScanForTilePart() ? 0x90 : 0;
    }
    return true;
  }

private:
  enum TStep { sGo, sStop, sRefuse };
  enum TScope { scMain, scFirstPart, scLaterPart, scNoTile };

  struct TComponent {
    int Dx = 0, Dy = 0;
    int MainCoc = -1; // styles by their index; -1: none
    std::int64_t MainAt = 0;
    int TileCoc = -1;
    std::int64_t TileAt = 0;
    std::int64_t TilePart = 0; // the tile-part whose header gave TileCoc
  };

  // The markers the library has a reading for. The end of the code stream
  // is none: in a header the library steps over it too.
  static bool Known(std::uint8_t Marker) {
    switch (Marker) {
    case 0x50: case 0x51: case 0x52: case 0x53: case 0x55: case 0x57: case 0x58: case 0x59: case 0x5C: case 0x5D:
    case 0x5E: case 0x5F: case 0x60: case 0x61: case 0x63: case 0x64: case 0x74: case 0x75: case 0x77: case 0x78:
    case 0x90: case 0x91:
      return true;
    default:
      return false;
    }
  }

  // A marker it does not know the library never takes the length of: it
  // steps on two bytes at a time to the next marker it knows. So does the
  // walk, or a coding style inside such a "segment" would go unseen.
  // A tile-part's header ends at its start of data.
  bool NextMarker(std::uint8_t& Marker, bool InTilePart = false) {
    std::uint8_t M[2];
    if (!FReader.Read(M, 2) || M[0] != 0xFF) return false;
    while (M[0] != 0xFF || !(Known(M[1]) || (InTilePart && M[1] == 0x93)))
      if (!FReader.Read(M, 2)) return false;
    Marker = M[1];
    return true;
  }

  bool ScanForTilePart() {
    int B = FReader.ReadByte();
    while (B >= 0) {
      const int Previous = B;
      B = FReader.ReadByte();
      if (Previous == 0xFF && B == 0x90) return true;
    }
    return false;
  }

  // One marker segment of a header. A segment the library cannot read
  // stops the walk: the library refuses the code stream itself.
  TStep Segment(std::uint8_t Marker, TScope Scope) {
    const std::int64_t Length = FReader.U16BE();
    if (FReader.Short() || Length < 2) return sStop;
    if (Marker != 0x52 && Marker != 0x53) return FReader.Skip(Length - 2) ? sGo : sStop;
    if (Scope == scLaterPart) return sRefuse;
    FSegment.resize(static_cast<std::size_t>(Length - 2));
    if (!FReader.Read(FSegment.data(), Length - 2)) return sStop;
    if (Scope == scNoTile) return sGo;
    // COD: its style byte, progression order, layers and transform, then
    // the levels. COC: its component (two bytes beyond 256 components), its
    // style byte, then the levels.
    const std::uint8_t* P = FSegment.data();
    std::size_t At = 0;
    std::int64_t Component = -1;
    if (Marker == 0x53) {
      const bool Wide = FGrid.Components > 256;
      if (FSegment.size() < (Wide ? 2u : 1u)) return sStop;
      Component = Wide ? (P[0] << 8) | P[1] : P[0];
      if (Component >= FGrid.Components) return sStop;
      At = Wide ? 2 : 1;
    }
    if (FSegment.size() < At + (Marker == 0x52 ? 5 : 1) + 5) return sStop;
    const bool PrecinctsGiven = (P[At] & 1) != 0;
    At += Marker == 0x52 ? 5 : 1;
    // Levels, code-block width and height exponents (less 2), code-block
    // style, filter, and with the style byte's bit 0 each level's precincts.
    TJ2kStyle Style;
    if (Marker == 0x52) Style.Layers = (P[2] << 8) | P[3];
    Style.Levels = P[At];
    if (Style.Levels > MostDecompositionLevels) return sRefuse;
    Style.BlockWidth = P[At + 1] + 2;
    Style.BlockHeight = P[At + 2] + 2;
    if (PrecinctsGiven) {
      if (FSegment.size() < At + 5 + static_cast<std::size_t>(Style.Levels) + 1) return sStop;
      Style.Precincts = static_cast<std::int64_t>(FPool.size());
      FPool.insert(FPool.end(), P + At + 5, P + At + 5 + Style.Levels + 1);
    }
    const int Index = static_cast<int>(FStyles.size());
    FStyles.push_back(Style);
    ++FSegments;
    if (Component < 0) {
      (Scope == scMain ? FMainCod : FTileCod) = Index;
      (Scope == scMain ? FMainCodAt : FTileCodAt) = FSegments;
    } else {
      TComponent& C = FComponents[static_cast<std::size_t>(Component)];
      (Scope == scMain ? C.MainCoc : C.TileCoc) = Index;
      (Scope == scMain ? C.MainAt : C.TileAt) = FSegments;
      if (Scope != scMain) C.TilePart = FPart;
    }
    return sGo;
  }

  // The library applies a header's segments in their order, a component's
  // own (COC) over the one for all (COD) only when it comes later; the
  // format puts a component's own first wherever it stands. A component is
  // charged for the dearer of the two readings. A tile's header comes over
  // the main one.
  void StylesOf(const TComponent& C, int& InOrder, int& ByRank) const {
    const bool Own = C.TileCoc >= 0 && C.TilePart == FPart;
    if (Own || FTileCod >= 0) {
      ByRank = Own ? C.TileCoc : FTileCod;
      InOrder = Own && (FTileCod < 0 || C.TileAt > FTileCodAt) ? C.TileCoc : FTileCod;
      return;
    }
    ByRank = C.MainCoc >= 0 ? C.MainCoc : FMainCod;
    InOrder = C.MainCoc >= 0 && C.MainAt > FMainCodAt ? C.MainCoc : FMainCod;
  }

  bool TileAllowed(std::int64_t Tile) const {
    std::int64_t Left, Top, Right, Bottom, Total = 0;
    FGrid.Tile(Tile, Left, Top, Right, Bottom);
    TJ2kPackets Packets;
    for (const TComponent& C : FComponents) {
      if (C.Dx == 0 || C.Dy == 0) continue; // a grid the library refuses
      int Styles[2];
      StylesOf(C, Styles[0], Styles[1]);
      std::int64_t Most = 0;
      for (int I = 0; I < 2; ++I) {
        std::int64_t Bytes;
        if (Styles[I] < 0 || (I == 1 && Styles[1] == Styles[0])) continue;
        if (!LayoutBytes(FStyles[static_cast<std::size_t>(Styles[I])], FPool, (Left + C.Dx - 1) / C.Dx,
                         (Top + C.Dy - 1) / C.Dy, (Right + C.Dx - 1) / C.Dx, (Bottom + C.Dy - 1) / C.Dy, Bytes,
                         Packets))
          return false;
        Most = std::max(Most, Bytes);
      }
      if (!RvSizeAdd(Total, Most, Total) || Total > FFree) return false;
    }
    const int Cod = FTileCod >= 0 ? FTileCod : FMainCod;
    const std::int64_t Layers = Cod >= 0 ? FStyles[static_cast<std::size_t>(Cod)].Layers : 0;
    std::int64_t Flags;
    return RvSizeMul(Layers + 1, Packets.Levels, Flags) && RvSizeMul(Flags, FGrid.Components, Flags) &&
           RvSizeMul(Flags, Packets.Precincts, Flags) && RvSizeMul(Flags, PacketFlagBytes, Flags) &&
           RvSizeAdd(Total, Flags, Total) && Total <= FFree;
  }

  TRvStreamReader& FReader;
  const TJ2kGrid& FGrid;
  std::int64_t FFree = 0; // the cap less the tile headers
  std::vector<TComponent> FComponents;
  std::vector<TJ2kStyle> FStyles;
  std::vector<std::uint8_t> FPool;
  std::vector<std::uint8_t> FSegment;
  int FMainCod = -1;
  std::int64_t FMainCodAt = 0;
  int FTileCod = -1; // in the current tile-part's header
  std::int64_t FTileCodAt = 0;
  std::int64_t FSegments = 0; // coding style segments read so far
  std::int64_t FPart = 0;     // tile-parts read so far
};

// The largest tile's layout and the tile headers fit the allocation cap,
// for the code stream at At.
bool LayoutAllowed(platform::TStream& Stream, std::int64_t At) {
  const std::int64_t Here = Stream.Position();
  bool Allowed = true;
  Stream.SetPosition(At);
  {
    TRvStreamReader Reader(Stream);
    TJ2kGrid Grid;
    if (ReadGrid(Reader, Grid) && Grid.Across > 0) Allowed = TJ2kLayoutWalk(Reader, Grid).Allowed();
  }
  Stream.SetPosition(Here);
  return Allowed;
}

// The sample layout decoding a JP2 file with a palette box will leave, told
// from its boxes: the palette's columns, or the components when no mapping
// brings the palette in.
struct TJ2kLayout {
  TJ2kSpace Space;
  OPJ_UINT32 Bits;
};

TJ2kLayout DecodedLayout(const opj_image_t* Image, const TJp2Boxes& Boxes) {
  const bool Expands = Boxes.PaletteChannels() > 0;
  const auto Channels = Expands ? static_cast<OPJ_UINT32>(Boxes.PaletteChannels()) : Image->numcomps;
  const std::uint32_t First = Boxes.FirstChannel < Channels ? Boxes.FirstChannel : 0;
  return {SpaceOf(Boxes.ColourSpace, Channels), Expands ? Boxes.ColumnBits[First] : Image->comps[First].prec};
}

bool DecodeAllowed(const opj_image_t* Image, const TJp2Boxes& Boxes) {
  const std::int64_t W = static_cast<std::int64_t>(Image->x1) - Image->x0;
  const std::int64_t H = static_cast<std::int64_t>(Image->y1) - Image->y0;
  if (!RvPixelsAllowed(W, H)) return false;
  // The library decodes every component into 32-bit samples, and a palette
  // adds one plane of a component's size for each of its columns.
  std::int64_t Total = 0, Largest = 0;
  for (OPJ_UINT32 I = 0; I < Image->numcomps; ++I) {
    const opj_image_comp_t& C = Image->comps[I];
    std::int64_t Bytes = 0;
    if (C.dx == 0 || C.dy == 0 || !RvSizeMul(static_cast<std::int64_t>(C.w) * 4, C.h, Bytes) ||
        !RvSizeAdd(Total, Bytes, Total))
      return false;
    Largest = std::max(Largest, Bytes);
  }
  std::int64_t Planes = 0;
  return RvSizeMul(Largest, static_cast<std::int64_t>(Boxes.PaletteChannels()), Planes) &&
         RvSizeAdd(Total, Planes, Total) && RvAllocationAllowed(Total);
}

} // namespace

void Jpeg2000YCbCrToRGB(int Y, int Cb, int Cr, int& R, int& G, int& B) {
  Cb = std::clamp(Cb, 0, 255);
  Cr = std::clamp(Cr, 0, 255);
  R = std::clamp(Y + YCbCr.RedFromCr[Cr], 0, 255);
  G = std::clamp(Y + YCbCr.GreenFromCb[Cb] + YCbCr.GreenFromCr[Cr], 0, 255);
  B = std::clamp(Y + YCbCr.BlueFromCb[Cb], 0, 255);
}

bool IsJp2Stream(platform::TStream& Stream) {
  std::uint8_t Box[12];
  if (!PeekBytes(Stream, Box, 12)) return false;
  return ReadU32BE(Box) == 12 && ReadU32BE(Box + 4) == 0x6A502020 &&
         ReadU32BE(Box + 8) == 0x0D0A870A;
}

bool IsJ2kCodeStream(platform::TStream& Stream) {
  std::uint8_t Start[4];
  if (!PeekBytes(Stream, Start, 4)) return false;
  return Start[0] == 0xFF && Start[1] == 0x4F && Start[2] == 0xFF && Start[3] == 0x51;
}

std::string Jpeg2000OptionText(double Rate, int Progression) {
  // Written the same whatever the user's decimal separator is, so that the
  // encoder always reads the number that was meant.
  char Number[64];
  const auto Result =
      std::to_chars(Number, Number + sizeof(Number), Rate, std::chars_format::general, 15);
  std::string Text = "rate=" + std::string(Number, Result.ptr);
  if (Progression == 0)
    Text += " prg=lrcp";
  else if (Progression == 1)
    Text += " prg=rlcp";
  return Text;
}

TJ2kOptions Jpeg2000ParseOptions(const std::string& Text) {
  TJ2kOptions Options;
  std::istringstream Words(Text);
  std::string Word;
  while (Words >> Word) {
    if (Word.rfind("rate=", 0) == 0) {
      double Value = 0;
      const char* First = Word.data() + 5;
      const char* Last = Word.data() + Word.size();
      const auto Result = std::from_chars(First, Last, Value);
      if (Result.ec == std::errc() && Result.ptr == Last && std::isfinite(Value))
        Options.Rate = Value;
    } else if (Word == "prg=lrcp") {
      Options.Progression = 0;
    } else if (Word == "prg=rlcp") {
      Options.Progression = 1;
    }
  }
  return Options;
}

void Jpeg2000ReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                        bool HeaderOnly, TRvProgressRec& Progress) {
  try {
    OPJ_CODEC_FORMAT Format;
    if (IsJp2Stream(Stream))
      Format = OPJ_CODEC_JP2;
    else if (IsJ2kCodeStream(Stream))
      Format = OPJ_CODEC_J2K;
    else {
      Progress.Abort();
      return;
    }
    Params.Trailer = TRvTrailer{};
    Params.J2000BoxesLeftOut.clear();
    Params.J2000BoxesNotNamed = 0;

    TJ2kSource Source;
    Source.Stream = &Stream;
    Source.Start = Stream.Position();
    Source.Length = std::max<std::int64_t>(Stream.Size() - Source.Start, 0);
    const TJp2Boxes Boxes = Format == OPJ_CODEC_JP2 ? ReadJp2Boxes(Stream, Source.Start) : TJp2Boxes{};
    // Raw Lab samples shown as RGB would be a wrong picture.
    const std::int64_t CodeStream = Format == OPJ_CODEC_JP2 ? Boxes.CodeStream : Source.Start;
    if (Boxes.Lab || !TilesAllowed(Stream, CodeStream)) {
      Progress.Abort();
      return;
    }

    TJ2kCodec J;
    J.Codec = opj_create_decompress(Format);
    if (J.Codec == nullptr) {
      Progress.Abort();
      return;
    }
    Quiet(J.Codec);
    opj_dparameters_t Parameters;
    opj_set_default_decoder_parameters(&Parameters);
    J.Stream = opj_stream_create(J2kStreamChunk, OPJ_TRUE);
    if (J.Stream == nullptr || !opj_setup_decoder(J.Codec, &Parameters)) {
      Progress.Abort();
      return;
    }
    // Strict: the lenient mode trusts tile-part lengths from the file and
    // allocates them whole (gigabytes for a few damaged bytes); a file cut
    // short fails instead of showing part of the picture.
    opj_decoder_set_strict_mode(J.Codec, OPJ_TRUE);
    opj_stream_set_read_function(J.Stream, SourceRead);
    opj_stream_set_skip_function(J.Stream, SourceSkip);
    opj_stream_set_seek_function(J.Stream, SourceSeek);
    opj_stream_set_user_data(J.Stream, &Source, nullptr);
    opj_stream_set_user_data_length(J.Stream, static_cast<OPJ_UINT64>(Source.Length));

    if (!opj_read_header(J.Stream, J.Codec, &J.Image) || J.Image == nullptr ||
        J.Image->numcomps == 0 || J.Image->x1 <= J.Image->x0 || J.Image->y1 <= J.Image->y0) {
      Progress.Abort();
      return;
    }
    const std::int64_t Width = static_cast<std::int64_t>(J.Image->x1) - J.Image->x0;
    const std::int64_t Height = static_cast<std::int64_t>(J.Image->y1) - J.Image->y0;
    if (Width > INT32_MAX || Height > INT32_MAX) {
      Progress.Abort();
      return;
    }
    // The resolution of the file's "res " box; none without one.
    Params.DpiX = RvDefaultDpiX;
    Params.DpiY = RvDefaultDpiY;
    Params.DpiStated = ResolutionOf(Boxes.Resolution, Params.DpiX, Params.DpiY);
    Params.J2000ResolutionBox = Params.DpiStated ? Boxes.Resolution : std::vector<std::uint8_t>{};
    Params.FreeColorMap();
    Params.Width = static_cast<std::int32_t>(Width);
    Params.Height = static_cast<std::int32_t>(Height);
    // The sample layout as decoding leaves it. A header-only read takes the
    // header's layout when it tells the whole story.
    TJ2kSpace Space = SpaceOf(J.Image);
    if (Space != jsOther) {
      Params.BitsPerSample = static_cast<std::int32_t>(J.Image->comps[0].prec);
      Params.SamplesPerPixel = Space == jsGray ? 1 : 3;
    }
    OPJ_UINT32 Bits = J.Image->comps[0].prec;
    if (HeaderOnly && Boxes.Palette) {
      // Decoding would only expand the palette, at the whole picture's cost.
      const TJ2kLayout Layout = DecodedLayout(J.Image, Boxes);
      Space = Layout.Space;
      Bits = Layout.Bits;
    } else if (!HeaderOnly || Space == jsOther) {
      if (!DecodeAllowed(J.Image, Boxes) || !LayoutAllowed(Stream, CodeStream) ||
          !opj_decode(J.Codec, J.Stream, J.Image) || !opj_end_decompress(J.Codec, J.Stream)) {
        Progress.Abort();
        return;
      }
      Space = SpaceOf(J.Image);
      Bits = J.Image->comps[0].prec;
    }
    if (Space == jsOther) {
      Progress.Abort();
      return;
    }
    const int Used = Space == jsGray ? 1 : 3;
    Params.BitsPerSample = static_cast<std::int32_t>(Bits);
    Params.SamplesPerPixel = Used;
    // Components past the colour ones are not read: a save says so. Which
    // is opacity the channel definition tells, once decoding applied it.
    Params.J2000ComponentsLeftOut = std::max(static_cast<int>(J.Image->numcomps) - Used, 0);
    Params.J2000AlphaLeftOut = false;
    for (OPJ_UINT32 I = Used; I < J.Image->numcomps; ++I)
      Params.J2000AlphaLeftOut = Params.J2000AlphaLeftOut || J.Image->comps[I].alpha != 0;
    if (HeaderOnly) return;
    // What a save cannot write back matters only for a picture read whole.
    if (Format == OPJ_CODEC_JP2) {
      NoteJp2Leftovers(Stream, Source.Start, Params);
    } else {
      const std::int64_t End = CodeStreamEnd(Stream, Source.Start);
      if (End >= 0) RvNoteTrailer(Stream, End, rvftJ2K, Params);
    }

    TJ2kPlane Planes[3];
    for (int I = 0; I < Used; ++I) {
      const opj_image_comp_t& C = J.Image->comps[I];
      if (C.data == nullptr || C.dx == 0 || C.dy == 0) {
        Progress.Abort();
        return;
      }
      Planes[I] = MakePlane(J.Image, I);
    }

    const bool OneBit = Params.BitsPerSample == 1 && Used == 1;
    if (!RvAllocateBitmap(Bitmap, Width, Height, OneBit ? rvpf1Bit : rvpf24Bit)) {
      Progress.Abort();
      return;
    }
    Progress.Val = 0;
    Progress.Per = 100.0 / static_cast<double>(Height);
    const bool Ycc = Space == jsYCbCr;
    std::vector<int> Values(static_cast<std::size_t>(Used * Width));
    int* const Value[3] = {Values.data(), Values.data() + (Used > 1 ? Width : 0),
                           Values.data() + (Used > 1 ? 2 * Width : 0)};
    for (int Y = 0; Y < static_cast<int>(Height); ++Y) {
      std::uint8_t* Row = Bitmap.Scanline(Y);
      for (int I = 0; I < Used; ++I) Planes[I].RowAt(Y, Width, Value[I]);
      for (int X = 0; X < static_cast<int>(Width); ++X) {
        int R, G, B;
        if (Used == 1) {
          R = G = B = Value[0][X];
        } else if (Ycc) {
          Jpeg2000YCbCrToRGB(Value[0][X], Value[1][X], Value[2][X], R, G, B);
        } else {
          R = Value[0][X];
          G = Value[1][X];
          B = Value[2][X];
        }
        if (OneBit) {
          if (R != 0) Row[X >> 3] |= static_cast<std::uint8_t>(0x80 >> (X & 7));
        } else {
          Row[3 * X] = static_cast<std::uint8_t>(B);
          Row[3 * X + 1] = static_cast<std::uint8_t>(G);
          Row[3 * X + 2] = static_cast<std::uint8_t>(R);
        }
      }
      Progress.Step(Y);
      if (IsSet(Progress.Aborting)) break;
    }
  } catch (...) {
    Progress.Abort();
  }
}

void Jpeg2000WriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                         int Format, TRvProgressRec& Progress) {
  try {
    // Only the two formats exist, and only three colour spaces: anything
    // else would leave the encoder without a picture.
    if ((Format != 0 && Format != 1) || Bitmap.Width() < 1 || Bitmap.Height() < 1) {
      Progress.Abort();
      return;
    }
    std::unique_ptr<TRvBitmap> Holder;
    TRvBitmap* Source = &Bitmap;
    if (Bitmap.PixelFormat() == rvpf1Bit) {
      Params.BitsPerSample = 1;
      Params.J2000ColorSpace = 0;
    } else {
      Source = RvAs24Bit(Bitmap, Holder);
    }
    if (Source == nullptr || Params.J2000ColorSpace > 2 || Params.BitsPerSample < 1 ||
        Params.BitsPerSample > 16) {
      Progress.Abort();
      return;
    }
    const bool OneBit = Source->PixelFormat() == rvpf1Bit;
    const int Width = Source->Width();
    const int Height = Source->Height();
    // A picture read from one component stays one while it is gray.
    const bool Gray =
        Params.J2000ColorSpace == 0 || (Params.SamplesPerPixel == 1 && !OneBit && RvAllGray(*Source));
    const int Count = Gray ? 1 : 3;
    const std::int64_t Maximum = (std::int64_t{1} << Params.BitsPerSample) - 1;

    opj_image_cmptparm_t Parms[3];
    std::memset(Parms, 0, sizeof(Parms));
    for (int I = 0; I < Count; ++I) {
      Parms[I].dx = 1;
      Parms[I].dy = 1;
      Parms[I].w = static_cast<OPJ_UINT32>(Width);
      Parms[I].h = static_cast<OPJ_UINT32>(Height);
      Parms[I].prec = static_cast<OPJ_UINT32>(Params.BitsPerSample);
      Parms[I].sgnd = 0;
    }
    TJ2kCodec J;
    J.Image = opj_image_create(static_cast<OPJ_UINT32>(Count), Parms,
                               Count == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    if (J.Image == nullptr) {
      Progress.Abort();
      return;
    }
    J.Image->x0 = 0;
    J.Image->y0 = 0;
    J.Image->x1 = static_cast<OPJ_UINT32>(Width);
    J.Image->y1 = static_cast<OPJ_UINT32>(Height);

    Progress.Val = 0;
    Progress.Per = 100.0 / Height;
    for (int Y = 0; Y < Height; ++Y) {
      const std::uint8_t* Row = Source->Scanline(Y);
      const std::int64_t Base = static_cast<std::int64_t>(Y) * Width;
      for (int X = 0; X < Width; ++X) {
        if (OneBit) {
          J.Image->comps[0].data[Base + X] = (Row[X >> 3] & (0x80 >> (X & 7))) != 0 ? 1 : 0;
          continue;
        }
        const int B = Row[3 * X];
        const int G = Row[3 * X + 1];
        const int R = Row[3 * X + 2];
        if (Count == 1) {
          const int Gray = RvGray(R, G, B);
          J.Image->comps[0].data[Base + X] = static_cast<OPJ_INT32>(Gray * Maximum / 255);
        } else {
          J.Image->comps[0].data[Base + X] = static_cast<OPJ_INT32>(R * Maximum / 255);
          J.Image->comps[1].data[Base + X] = static_cast<OPJ_INT32>(G * Maximum / 255);
          J.Image->comps[2].data[Base + X] = static_cast<OPJ_INT32>(B * Maximum / 255);
        }
      }
      Progress.Step(Y + 1);
      if (IsSet(Progress.Aborting)) return;
    }

    const TJ2kOptions Options =
        Jpeg2000ParseOptions(Jpeg2000OptionText(Params.J2000Rate, Params.J2000Progression));
    opj_cparameters_t Parameters;
    opj_set_default_encoder_parameters(&Parameters);
    Parameters.tcp_numlayers = 1;
    Parameters.cp_disto_alloc = 1;
    // The rate is the share of the uncompressed size to keep; the library
    // takes a compression ratio, and 0 for lossless.
    Parameters.tcp_rates[0] =
        Options.Rate > 0 && Options.Rate < 1 ? static_cast<float>(1.0 / Options.Rate) : 0.0f;
    if (Options.Progression == 0) Parameters.prog_order = OPJ_LRCP;
    if (Options.Progression == 1) Parameters.prog_order = OPJ_RLCP;
    // Each resolution level halves the picture; a small picture has fewer.
    int Levels = 1;
    while (Levels < 6 && (std::min(Width, Height) >> Levels) > 0) ++Levels;
    Parameters.numresolution = Levels;

    J.Codec = opj_create_compress(Format == 0 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (J.Codec == nullptr) {
      Progress.Abort();
      return;
    }
    Quiet(J.Codec);
    platform::TMemoryStream Encoded;
    J.Stream = opj_stream_create(J2kStreamChunk, OPJ_FALSE);
    if (J.Stream == nullptr || !opj_setup_encoder(J.Codec, &Parameters, J.Image)) {
      Progress.Abort();
      return;
    }
    opj_stream_set_write_function(J.Stream, SinkWrite);
    opj_stream_set_skip_function(J.Stream, SinkSkip);
    opj_stream_set_seek_function(J.Stream, SinkSeek);
    opj_stream_set_user_data(J.Stream, &Encoded, nullptr);
    if (!opj_start_compress(J.Codec, J.Image, J.Stream) || !opj_encode(J.Codec, J.Stream) ||
        !opj_end_compress(J.Codec, J.Stream)) {
      Progress.Abort();
      return;
    }
    // The library's own buffer holds the tail until the stream is gone.
    opj_stream_destroy(J.Stream);
    J.Stream = nullptr;
    const std::int64_t Size = Encoded.Size();
    // A JP2 file carries the resolution the picture has, a code stream none.
    if (Size > 0 && Format == 0 && Params.DpiStated && Params.DpiX > 0 && Params.DpiY > 0) {
      if (!WriteWithResolution(Stream, Encoded.Memory(), Size, ResolutionFor(Params))) Progress.Abort();
    } else if (Size <= 0 || Stream.Write(Encoded.Memory(), Size) != Size) {
      Progress.Abort();
    }
  } catch (...) {
    Progress.Abort();
  }
}

} // namespace rv
