#include "image/io/pcx/rvpcx.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "image/io/rvtrailer.h"
#include "image/io/rvwriteconv.h"
#include "image/model/rvbits.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

constexpr int HeaderSize = 128;
constexpr int EndPaletteSize = 768;

struct TPcxHeader {
  std::uint8_t Manufacturer, Version, Encoding, BitsPerPixel;
  std::int32_t XMin, YMin, XMax, YMax, HDpi, VDpi;
  TRGB Palette[16];
  std::uint8_t Planes;
  std::int32_t BytesPerLine;
};

void ParseHeader(const std::uint8_t* B, TPcxHeader& H) {
  TRvByteReader R(B, HeaderSize);
  H.Manufacturer = R.U8();
  H.Version = R.U8();
  H.Encoding = R.U8();
  H.BitsPerPixel = R.U8();
  H.XMin = R.U16LE();
  H.YMin = R.U16LE();
  H.XMax = R.U16LE();
  H.YMax = R.U16LE();
  H.HDpi = R.U16LE();
  H.VDpi = R.U16LE();
  for (TRGB& C : H.Palette) {
    C.r = R.U8();
    C.g = R.U8();
    C.b = R.U8();
  }
  R.U8(); // reserved
  H.Planes = R.U8();
  H.BytesPerLine = R.U16LE();
}

void PutLE16(std::uint8_t* P, int V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}

} // namespace

void PcxDecodeRow(TRvByteReader& Data, std::uint8_t* Line, int LineBytes, bool Compressed,
                  TPcxDecodeState& State) {
  const std::uint8_t* In = Data.Data();
  const std::int64_t Size = Data.Size();
  std::int64_t Pos = Data.Position();
  int I = 0;
  if (!Compressed) {
    const auto N = static_cast<int>(std::min<std::int64_t>(LineBytes, Size - Pos));
    if (N > 0) std::memcpy(Line, In + Pos, static_cast<std::size_t>(N));
    Pos += N > 0 ? N : 0;
    I = N > 0 ? N : 0;
  } else {
    while (I < LineBytes) {
      if (State.RunCount > 0) {
        const int N = std::min(State.RunCount, LineBytes - I);
        std::memset(Line + I, State.RunValue, static_cast<std::size_t>(N));
        State.RunCount -= N;
        I += N;
        continue;
      }
      if (Pos >= Size) break;
      const std::uint8_t C = In[Pos++];
      if (C < 0xC0) {
        Line[I++] = C;
      } else {
        if (Pos >= Size) break;
        const std::uint8_t V = In[Pos++];
        const int Count = C & 0x3F;
        const int N = std::min(Count, LineBytes - I);
        for (int K = 0; K < N; ++K) Line[I + K] = V;
        I += N;
        State.RunCount = Count - N;
        State.RunValue = V;
      }
    }
  }
  Data.Seek(Pos);
  // What the data do not hold reads as zeros.
  if (I < LineBytes) std::memset(Line + I, 0, static_cast<std::size_t>(LineBytes - I));
}

int PcxEncodeRow(std::uint8_t* Output, const std::uint8_t* Source, int Count, int Stride,
                 int Offset) {
  int Out = 0;
  int I = 0;
  auto At = [&](int K) { return Source[static_cast<std::size_t>(Offset) + static_cast<std::size_t>(K) * Stride]; };
  while (I < Count) {
    const std::uint8_t V = At(I);
    int Run = 1;
    while (I + Run < Count && Run < 63 && At(I + Run) == V) ++Run;
    if (Run > 1 || V >= 0xC0) {
      Output[Out++] = static_cast<std::uint8_t>(0xC0 | Run);
      Output[Out++] = V;
    } else {
      Output[Out++] = V;
    }
    I += Run;
  }
  if (Count % 2 != 0) Output[Out++] = 0;
  return Out;
}

void PcxReadFile(const std::string& FileName, TRvBitmap& Bitmap, TIOParamsVals& Params,
                 TRvProgressRec& Progress) {
  platform::TFileStream Stream(FileName, platform::fmOpenRead);
  PcxReadStream(Stream, Bitmap, Params, false, Progress, Stream.Size());
}

void PcxReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   bool HeaderOnly, TRvProgressRec& Progress, std::int64_t Size) {
  TRvStreamReader Reader(Stream, Size < 0 ? 0 : Size);
  const std::int64_t Start = Reader.Start();
  Params.Trailer = TRvTrailer{};
  std::uint8_t Raw[HeaderSize];
  Reader.Read(Raw, HeaderSize);
  TPcxHeader H;
  ParseHeader(Raw, H);
  if (H.Manufacturer != 10 || H.BitsPerPixel > 8 || H.Encoding > 1) {
    Progress.Abort();
    return;
  }
  // A resolution of 0 states none: the screen's stands in and a save
  // writes none back.
  Params.DpiStated = H.HDpi != 0 && H.VDpi != 0;
  if (!Params.DpiStated) {
    Params.DpiX = RvDefaultDpiX;
    Params.DpiY = RvDefaultDpiY;
  } else {
    Params.DpiX = H.HDpi;
    Params.DpiY = H.VDpi;
  }

  TRGB EndPalette[256] = {};
  if (H.Planes == 1 && H.BitsPerPixel > 4) {
    std::uint8_t P[EndPaletteSize];
    // A file too short for its palette keeps a black one.
    if (Reader.Seek(Reader.End() - EndPaletteSize) && Reader.Read(P, EndPaletteSize))
      for (int I = 0; I < 256; ++I) RvCreateRGB(P[3 * I], P[3 * I + 1], P[3 * I + 2], EndPalette[I]);
    Reader.Seek(std::min(Start + HeaderSize, Reader.End()));
  }

  const std::int64_t Width = std::int64_t{H.XMax} - H.XMin + 1;
  const std::int64_t Height = std::int64_t{H.YMax} - H.YMin + 1;
  Params.BitsPerSample = H.BitsPerPixel;
  Params.SamplesPerPixel = H.Planes;
  Params.Width = static_cast<std::int32_t>(Width);
  Params.Height = static_cast<std::int32_t>(Height);
  Params.PcxVersion = H.Version;
  Params.PcxCompression = H.Encoding;
  Params.PcxBitPlanes = H.BitsPerPixel == 1 && H.Planes == 4;
  Params.PcxHeaderPalette.clear();
  if (H.BitsPerPixel == 8)
    for (const TRGB& C : H.Palette) Params.PcxHeaderPalette.insert(Params.PcxHeaderPalette.end(), {C.r, C.g, C.b});
  Params.ColorMapRepeatsUsed = false;
  Params.FreeColorMap();
  if (H.BitsPerPixel == 8 && H.Planes == 1) {
    Params.SetColorMap(EndPalette, 256);
  } else if (H.BitsPerPixel == 1 && H.Planes == 4) {
    Params.SetColorMap(H.Palette, 16);
    Params.BitsPerSample = 4;
    Params.SamplesPerPixel = 1;
  } else if (H.BitsPerPixel < 8 && H.BitsPerPixel > 0) {
    Params.SetColorMap(H.Palette, std::min(1 << H.BitsPerPixel, 16));
  }

  enum { lyNone, ly8, ly4, ly1, lyRGB, ly4Planes } Layout = lyNone;
  if (H.Planes == 1 && H.BitsPerPixel == 8) Layout = ly8;
  else if (H.Planes == 1 && H.BitsPerPixel == 4) Layout = ly4;
  else if (H.Planes == 1 && H.BitsPerPixel == 1) Layout = ly1;
  else if (H.Planes == 3 && H.BitsPerPixel == 8) Layout = lyRGB;
  else if (H.Planes == 4 && H.BitsPerPixel == 1) Layout = ly4Planes;
  // A layout without a decoder, an empty picture, or a line too short for
  // the picture's width would give a blank or overrun picture: refused.
  const std::int64_t Needed = RvPackedRowBytes(Width, H.BitsPerPixel);
  if (Layout == lyNone || Width < 1 || Height < 1 || Needed < 0 || H.BytesPerLine < Needed) {
    Progress.Abort();
    return;
  }
  if (HeaderOnly) return;

  // A file that ends with its header holds no pixel: a picture of zeros
  // would stand in for one it does not have.
  TRvBuffer Data;
  if (Reader.Remaining() <= 0 || !Data.Allocate(Reader.Remaining()) || !Reader.Read(Data.Data(), Data.Size())) {
    Progress.Abort();
    return;
  }
  // Every line of every plane comes from the data: a run pair gives at most
  // 63 bytes, so a header claiming more than the data could give is refused
  // before the picture is allocated.
  std::int64_t Decoded = 0;
  if (!RvSizeMul(std::int64_t{H.BytesPerLine} * H.Planes, Height, Decoded)) Decoded = INT64_MAX;
  const std::int64_t Least = H.Encoding == 1 ? RvLeastStoredBytes(Decoded, 63, 2) : Decoded;
  if (!RvDataCanFill(Data.Size(), Least, Width, Height) ||
      !RvAllocateBitmap(Bitmap, Width, Height, Layout == ly1 ? rvpf1Bit : rvpf24Bit)) {
    Progress.Abort();
    return;
  }
  const int W = static_cast<int>(Width);
  const int Bpl = H.BytesPerLine;
  TRvBuffer Line;
  if (!Line.Allocate(std::int64_t{Bpl} * 3 + 8)) {
    Progress.Abort();
    return;
  }
  TRvByteReader In(Data.Data(), Data.Size());
  TPcxDecodeState State;
  const std::vector<bool> Repeated = Layout == ly8 ? RvRepeatedEntries(EndPalette, 256) : RvRepeatedEntries(H.Palette, 16);
  bool RepeatUsed = false;
  const bool Rle = H.Encoding == 1;
  std::uint8_t* L = Line.Data();
  Progress.Per = 100.0 / static_cast<double>(Height);
  for (int Y = 0; Y < Height; ++Y) {
    Progress.Step(Y);
    if (Progress.IsAborting()) return;
    std::uint8_t* Row = Bitmap.Scanline(Y);
    switch (Layout) {
    case ly8:
      PcxDecodeRow(In, L, Bpl, Rle, State);
      for (int X = 0; X < W; ++X) {
        std::memcpy(Row + 3 * X, &EndPalette[L[X]], 3);
        RepeatUsed = RepeatUsed || Repeated[L[X]];
      }
      break;
    case ly4:
      PcxDecodeRow(In, L, Bpl, Rle, State);
      for (int X = 0; X < W; ++X) {
        const int Index = X % 2 == 0 ? L[X / 2] >> 4 : L[X / 2] & 15;
        std::memcpy(Row + 3 * X, &H.Palette[Index], 3);
        RepeatUsed = RepeatUsed || Repeated[static_cast<std::size_t>(Index)];
      }
      break;
    case ly1:
      PcxDecodeRow(In, L, Bpl, Rle, State);
      std::memcpy(Row, L, static_cast<std::size_t>(Needed));
      break;
    case lyRGB:
      for (int P = 0; P < 3; ++P) {
        PcxDecodeRow(In, L, Bpl, Rle, State);
        std::uint8_t* D = Row + 2 - P;
        for (int X = 0; X < W; ++X, D += 3) *D = L[X];
      }
      break;
    case ly4Planes: {
      // Each pixel's blue byte gathers its palette index first.
      for (int X = 0; X < W; ++X) Row[3 * X] = 0;
      for (int P = 0; P < 4; ++P) {
        PcxDecodeRow(In, L, Bpl, Rle, State);
        for (int X = 0; X < W; ++X)
          if (RvTestBit(L, X)) Row[3 * X] = static_cast<std::uint8_t>(Row[3 * X] | (1 << P));
      }
      for (int X = W - 1; X >= 0; --X) {
        RepeatUsed = RepeatUsed || Repeated[Row[3 * X] & 15u];
        std::memcpy(Row + 3 * X, &H.Palette[Row[3 * X] & 15], 3);
      }
      break;
    }
    default: break;
    }
    Params.ColorMapRepeatsUsed = RepeatUsed;
  }
  // What follows the lines is no picture's, but the file's; an 8-bit
  // picture's palette stands last, so nothing follows it.
  if (Layout != ly8 && !Progress.IsAborting() && Size == Stream.Size() - Start)
    RvNoteTrailer(Stream, Start + HeaderSize + In.Position(), rvftPCX, Params);
}

void PcxWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress) {
  const int W = Bitmap.Width();
  const int Rows = Bitmap.Height();
  // The header holds sizes in 16 bits.
  if (W < 1 || Rows < 1 || W > 65536 || Rows > 65536 || Bitmap.PixelFormat() == rvpfNone) {
    Progress.Abort();
    return;
  }
  int Depth;
  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Source;
  TRGB HeaderPalette[16] = {};
  TRGB EndPalette[256] = {};
  if (Params.BitsPerSample == 1) {
    Depth = 1;
    Source = RvAsBlackWhite(Bitmap, Holder, HeaderPalette);
  } else {
    Depth = Params.BitsPerSample * Params.SamplesPerPixel;
    // Depths PCX cannot hold are written at the next one it can.
    Depth = Depth <= 1 ? 1 : Depth <= 4 ? 4 : Depth <= 8 ? 8 : 24;
    Source = Depth == 1 ? RvAsBlackWhite(Bitmap, Holder, HeaderPalette) : RvAs24Bit(Bitmap, Holder);
  }
  if (Source == nullptr) {
    Progress.Abort();
    return;
  }
  // A palette picture keeps its file's palette, entries and order, while
  // its pixels are all in it; else it gets one of its own colours.
  std::vector<std::uint8_t> Indexes;
  std::unique_ptr<TRvPaletteMapper> Mapper;
  if (Depth == 4 || Depth == 8) {
    TRGB* Palette = Depth == 4 ? HeaderPalette : EndPalette;
    const int Entries = Depth == 4 ? 16 : 256;
    if (Params.ColorMapCount > 0 && Params.ColorMapCount <= Entries &&
        RvIndexesInPalette(*Source, nullptr, Params.ColorMap.get(), nullptr, Params.ColorMapCount, Indexes))
      std::copy(Params.ColorMap.get(), Params.ColorMap.get() + Params.ColorMapCount, Palette);
    else
      Mapper = std::make_unique<TRvPaletteMapper>(*Source, Palette, Entries);
  }
  // A two-colour file's own header entries go back with its own bits.
  if (Depth == 1 && Params.FileType == rvftPCX && Params.ColorMapCount == 2 && Bitmap.PixelFormat() == rvpf1Bit)
    std::copy(Params.ColorMap.get(), Params.ColorMap.get() + 2, HeaderPalette);
  const auto IndexAt = [&](const std::uint8_t* Row, int X, int Y) {
    return Mapper != nullptr ? Mapper->Index(Row + 3 * X) : Indexes[static_cast<std::size_t>(Y) * W + X];
  };
  // Sixteen colours in four planes of one bit where the file had them so.
  const bool BitPlanes = Depth == 4 && Params.PcxBitPlanes;

  const int Bits = Depth == 24 ? 8 : BitPlanes ? 1 : Depth;
  const int Planes = Depth == 24 ? 3 : BitPlanes ? 4 : 1;
  const int Count = static_cast<int>(Depth == 24 ? W : RvPackedRowBytes(W, Bits));
  const int Bpl = Count + Count % 2;
  const bool Rle = Params.PcxCompression != 0;

  std::uint8_t Header[HeaderSize] = {};
  Header[0] = 10;
  Header[1] = static_cast<std::uint8_t>(Params.PcxVersion);
  Header[2] = Rle ? 1 : 0;
  Header[3] = static_cast<std::uint8_t>(Bits);
  PutLE16(Header + 8, W - 1);
  PutLE16(Header + 10, Rows - 1);
  // No resolution where the file stated none.
  if (Params.DpiStated) {
    PutLE16(Header + 12, RvClamp(Params.DpiX, 0, 65535));
    PutLE16(Header + 14, RvClamp(Params.DpiY, 0, 65535));
  }
  for (int I = 0; I < 16; ++I) {
    Header[16 + 3 * I] = HeaderPalette[I].r;
    Header[17 + 3 * I] = HeaderPalette[I].g;
    Header[18 + 3 * I] = HeaderPalette[I].b;
  }
  // The header palette of a file whose pixels do not use it, as it was.
  if (Bits == 8 && Params.PcxHeaderPalette.size() == 48)
    std::copy(Params.PcxHeaderPalette.begin(), Params.PcxHeaderPalette.end(), Header + 16);
  Header[65] = static_cast<std::uint8_t>(Planes);
  PutLE16(Header + 66, Bpl);
  PutLE16(Header + 68, Depth == 24 ? 0 : 1);
  TRvAbortFlag& Aborting = *Progress.Aborting;
  RvSafeStreamWrite(Stream, Aborting, Header, HeaderSize);

  TRvBuffer Line, Encoded;
  if (!Line.Allocate(Bpl) || !Encoded.Allocate(std::int64_t{Bpl} * 2 + 2)) {
    Progress.Abort();
    return;
  }
  Progress.Per = 100.0 / Rows;
  for (int Y = 0; Y < Rows; ++Y) {
    Progress.Step(Y);
    if (Progress.IsAborting()) return;
    const std::uint8_t* Row = Source->Scanline(Y);
    for (int P = 0; P < Planes; ++P) {
      std::uint8_t* L = Line.Data();
      std::memset(L, 0, static_cast<std::size_t>(Bpl));
      switch (Depth) {
      case 1: std::memcpy(L, Row, static_cast<std::size_t>(Count)); break;
      case 4:
        for (int X = 0; X < W; ++X) {
          const int Index = IndexAt(Row, X, Y);
          if (BitPlanes) RvSetBit(L, X, (Index >> P) & 1);
          else L[X / 2] = static_cast<std::uint8_t>(L[X / 2] | (Index << (X % 2 == 0 ? 4 : 0)));
        }
        break;
      case 8:
        for (int X = 0; X < W; ++X) L[X] = static_cast<std::uint8_t>(IndexAt(Row, X, Y));
        break;
      default:
        for (int X = 0; X < W; ++X) L[X] = Row[3 * X + 2 - P];
        break;
      }
      if (Rle) {
        const int N = PcxEncodeRow(Encoded.Data(), L, Count, 1, 0);
        RvSafeStreamWrite(Stream, Aborting, Encoded.Data(), N);
      } else {
        RvSafeStreamWrite(Stream, Aborting, L, Bpl);
      }
    }
  }
  if (Depth == 8 && !Progress.IsAborting()) {
    std::uint8_t Tail[1 + EndPaletteSize];
    Tail[0] = 12;
    for (int I = 0; I < 256; ++I) {
      Tail[1 + 3 * I] = EndPalette[I].r;
      Tail[2 + 3 * I] = EndPalette[I].g;
      Tail[3 + 3 * I] = EndPalette[I].b;
    }
    RvSafeStreamWrite(Stream, Aborting, Tail, sizeof Tail);
  }
}

} // namespace rv
