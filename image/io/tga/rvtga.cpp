#include "image/io/tga/rvtga.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "image/io/rvtrailer.h"
#include "image/io/rvwriteconv.h"
#include "image/model/rvbits.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

constexpr int HeaderSize = 18;
constexpr int ExtensionSize = 495;
constexpr int FooterSize = 26;
constexpr char Signature[] = "TRUEVISION-XFILE."; // written with its NUL: 18 bytes
// The pixel aspect ratio and gamma of a file that does not state them.
constexpr double UnstatedAspect = 1.0;
constexpr double UnstatedGamma = 2.2;

struct TTgaHeader {
  std::uint8_t IdLength = 0, ColorMapType = 0, ImageType = 0;
  std::uint16_t FirstEntry = 0, MapLength = 0;
  std::uint8_t EntrySize = 0;
  std::uint16_t XOrigin = 0, YOrigin = 0, Width = 0, Height = 0;
  std::uint8_t Depth = 0, Descriptor = 0;
};

void ParseHeader(const std::uint8_t* B, TTgaHeader& H) {
  TRvByteReader R(B, HeaderSize);
  H.IdLength = R.U8();
  H.ColorMapType = R.U8();
  H.ImageType = R.U8();
  H.FirstEntry = R.U16LE();
  H.MapLength = R.U16LE();
  H.EntrySize = R.U8();
  H.XOrigin = R.U16LE();
  H.YOrigin = R.U16LE();
  H.Width = R.U16LE();
  H.Height = R.U16LE();
  H.Depth = R.U8();
  H.Descriptor = R.U8();
}

bool KnownTypeAndDepth(const TTgaHeader& H) {
  const int T = H.ImageType;
  const bool TypeOk = (T >= 1 && T <= 3) || (T >= 9 && T <= 11);
  const int D = H.Depth;
  return TypeOk && (D == 1 || D == 4 || D == 8 || D == 16 || D == 24 || D == 32);
}

bool LooksLikePnm(const std::uint8_t* B) {
  return B[0] == 'P' && B[1] >= '2' && B[1] <= '6' && (B[2] == ' ' || B[2] == '#' || B[2] == '\n');
}

void Fill332(TRGB* Pal) {
  for (int R = 0; R < 8; ++R)
    for (int G = 0; G < 8; ++G)
      for (int B = 0; B < 4; ++B) {
        TRGB& C = Pal[R * 32 + G * 4 + B];
        C.r = static_cast<std::uint8_t>(((R + 1) * 8 - 1) * 4);
        C.g = static_cast<std::uint8_t>(((G + 1) * 8 - 1) * 4);
        C.b = static_cast<std::uint8_t>(((B + 1) * 16 - 1) * 4);
      }
}

TRGB FromWord(std::uint16_t W) {
  TRGB C;
  C.b = static_cast<std::uint8_t>((W & 0x1F) << 3);
  C.g = static_cast<std::uint8_t>(((W >> 5) & 0x1F) << 3);
  C.r = static_cast<std::uint8_t>(((W >> 10) & 0x1F) << 3);
  return C;
}

// A colour as a 5-5-5 word: the reader's FromWord backwards.
std::uint16_t ToWord(const TRGB& C) {
  return static_cast<std::uint16_t>(((C.r >> 3) << 10) | ((C.g >> 3) << 5) | (C.b >> 3));
}

// Every pixel of a 24-bit picture a colour of 5 bits a sample.
bool Fits555(TRvBitmap& Bitmap24) {
  for (int Y = 0; Y < Bitmap24.Height(); ++Y) {
    const std::uint8_t* P = Bitmap24.Scanline(Y);
    for (int X = 0; X < 3 * Bitmap24.Width(); ++X)
      if (P[X] & 7) return false;
  }
  return true;
}

std::string FieldText(const std::uint8_t* P, std::size_t Size) {
  const auto* End = static_cast<const std::uint8_t*>(std::memchr(P, 0, Size));
  return std::string(reinterpret_cast<const char*>(P), End ? static_cast<std::size_t>(End - P) : Size);
}

void PutLE16(std::uint8_t* P, int V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}

void PutLE32(std::uint8_t* P, std::uint32_t V) {
  for (int I = 0; I < 4; ++I) P[I] = static_cast<std::uint8_t>(V >> (8 * I));
}

// Run-length packets in progress; a packet may go on into the next row.
struct TPacketState {
  int Left = 0;
  bool Run = false;
  std::uint8_t Value[4] = {};
};

// Fills Units units of UnitBytes bytes, from run-length packets or raw.
void ReadUnits(TRvStreamReader& R, std::uint8_t* Out, int Units, int UnitBytes, bool Rle,
               TPacketState& S) {
  if (!Rle) {
    R.Read(Out, std::int64_t{Units} * UnitBytes);
    return;
  }
  int I = 0;
  while (I < Units) {
    if (S.Left == 0) {
      const int H = R.ReadByte();
      if (H < 0) break;
      S.Left = (H & 0x7F) + 1;
      S.Run = (H & 0x80) != 0;
      if (S.Run) R.Read(S.Value, UnitBytes);
    }
    const int N = std::min(S.Left, Units - I);
    std::uint8_t* P = Out + static_cast<std::size_t>(I) * UnitBytes;
    if (S.Run) {
      switch (UnitBytes) {
      case 1: std::memset(P, S.Value[0], static_cast<std::size_t>(N)); break;
      case 2: for (int K = 0; K < N; ++K) std::memcpy(P + 2 * K, S.Value, 2); break;
      case 3: for (int K = 0; K < N; ++K) std::memcpy(P + 3 * K, S.Value, 3); break;
      default: for (int K = 0; K < N; ++K) std::memcpy(P + 4 * K, S.Value, 4); break;
      }
    } else {
      R.Read(P, std::int64_t{N} * UnitBytes);
    }
    S.Left -= N;
    I += N;
  }
  if (I < Units)
    std::memset(Out + static_cast<std::size_t>(I) * UnitBytes, 0,
                static_cast<std::size_t>(Units - I) * UnitBytes);
}

// Run packets for 2 to 128 equal pixels, raw packets (at most 127 pixels)
// up to the next pair of equal ones.
void EncodeRow(const std::uint8_t* In, int Count, int UnitBytes, std::vector<std::uint8_t>& Out) {
  Out.clear();
  const auto Same = [&](int A, int B) {
    return std::memcmp(In + A * UnitBytes, In + B * UnitBytes, static_cast<std::size_t>(UnitBytes)) == 0;
  };
  int I = 0;
  while (I < Count) {
    int Run = 1;
    while (I + Run < Count && Run < 128 && Same(I, I + Run)) ++Run;
    if (Run >= 2) {
      Out.push_back(static_cast<std::uint8_t>(0x80 | (Run - 1)));
      Out.insert(Out.end(), In + I * UnitBytes, In + (I + 1) * UnitBytes);
      I += Run;
      continue;
    }
    int N = 0;
    while (I + N < Count && N < 127 && !(I + N + 1 < Count && Same(I + N, I + N + 1))) ++N;
    Out.push_back(static_cast<std::uint8_t>(N - 1));
    Out.insert(Out.end(), In + I * UnitBytes, In + (I + N) * UnitBytes);
    I += N;
  }
}

void SetTgaDefaults(TIOParamsVals& Params) {
  Params.TgaAuthor.clear();
  Params.TgaJobName.clear();
  Params.TgaDateTime = RvNow();
  Params.TgaKeyColor = TRGB{};
  Params.TgaAspectRatio = UnstatedAspect;
  Params.TgaGamma = UnstatedGamma;
}

} // namespace

bool IsTgaStream(platform::TStream& Stream) {
  const std::int64_t Start = Stream.Position();
  std::uint8_t B[HeaderSize];
  bool Got;
  {
    TRvStreamReader R(Stream);
    Got = R.Read(B, HeaderSize);
  }
  Stream.SetPosition(Start);
  if (!Got) return false;
  TTgaHeader H;
  ParseHeader(B, H);
  return KnownTypeAndDepth(H) && !LooksLikePnm(B);
}

bool TgaReadFooter(platform::TStream& Stream, TIOParamsVals& Params) {
  const std::int64_t Start = Stream.Position();
  bool Found = false;
  SetTgaDefaults(Params);
  Params.TgaExtension.clear();
  Params.TgaExtrasLeftOut = false;
  {
    TRvStreamReader R(Stream);
    std::uint8_t F[FooterSize];
    if (R.Seek(R.End() - FooterSize) && R.Read(F, FooterSize) &&
        FieldText(F + 8, 18) == Signature) {
      Found = true;
      const std::uint32_t Offset = std::uint32_t{F[0]} | (std::uint32_t{F[1]} << 8) |
                                   (std::uint32_t{F[2]} << 16) | (std::uint32_t{F[3]} << 24);
      std::uint8_t E[ExtensionSize];
      if (Offset != 0 && R.Seek(Start + Offset) && R.Read(E, ExtensionSize)) {
        Params.TgaExtension.assign(E, E + ExtensionSize);
        // What the area points to, and a developer area, are not read.
        Params.TgaExtrasLeftOut = std::any_of(E + 482, E + 494, [](std::uint8_t B) { return B != 0; }) ||
                                  std::any_of(F + 4, F + 8, [](std::uint8_t B) { return B != 0; });
        TRvByteReader X(E, ExtensionSize);
        Params.TgaAuthor = FieldText(E + 2, 41);
        X.Seek(367);
        const int Month = X.U16LE(), Day = X.U16LE(), Year = X.U16LE();
        const int Hour = X.U16LE(), Minute = X.U16LE(), Second = X.U16LE();
        TRvDateTime Stamp;
        if (Month != 0 && Day != 0 && Year != 0 && Year < 2500 && Month < 13 && Day < 32 &&
            Hour < 24 && Minute < 60 && Second < 60 &&
            RvEncodeDateTime(Year, Month, Day, Hour, Minute, Second, Stamp))
          Params.TgaDateTime = Stamp;
        Params.TgaJobName = FieldText(E + 379, 41);
        RvCreateRGB(E[471], E[472], E[473], Params.TgaKeyColor);
        X.Seek(474);
        const int AspectNum = X.U16LE(), AspectDen = X.U16LE();
        const int GammaNum = X.U16LE(), GammaDen = X.U16LE();
        if (AspectNum != 0 && AspectDen != 0) Params.TgaAspectRatio = double(AspectNum) / AspectDen;
        if (GammaNum != 0 && GammaDen != 0) Params.TgaGamma = double(GammaNum) / GammaDen;
      }
    }
  }
  Stream.SetPosition(Start);
  return Found;
}

void TgaReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly, std::unique_ptr<TRvMask>& AlphaMask,
                   bool NoMask) {
  const bool Footer = TgaReadFooter(Stream, Params);
  Params.Trailer = TRvTrailer{};
  TRvStreamReader R(Stream);
  std::uint8_t Raw[HeaderSize];
  const bool Whole = R.Read(Raw, HeaderSize);
  TTgaHeader H;
  ParseHeader(Raw, H);
  Params.TgaXPos = H.XOrigin;
  Params.TgaYPos = H.YOrigin;
  // An empty picture is as unusable as an unknown type.
  if (!Whole || !KnownTypeAndDepth(H) || H.Width == 0 || H.Height == 0) {
    Progress.Abort();
    return;
  }
  std::string Id(H.IdLength, '\0');
  R.Read(Id.data(), H.IdLength);
  Params.TgaImageId = FieldText(reinterpret_cast<const std::uint8_t*>(Id.data()), Id.size());
  Params.TgaIdLength = H.IdLength;

  TRGB Pal[256];
  Fill332(Pal);
  Params.FreeColorMap();
  Params.TgaDescriptor = H.Descriptor;
  Params.TgaMapEntrySize = H.ColorMapType == 1 ? H.EntrySize : 0;
  Params.TgaMapAlpha.clear();
  const int Depth = H.Depth;
  if (H.ColorMapType == 1) {
    const int EntryBytes = (H.EntrySize + 7) / 8;
    // The alpha of 32-bit entries is kept aside, for a save to write back.
    if (H.EntrySize == 32) Params.TgaMapAlpha.assign(std::min<std::size_t>(H.MapLength, 256), 255);
    std::uint8_t E[8] = {};
    for (int I = 0; I < H.MapLength; ++I) {
      if (!R.Read(E, EntryBytes > 8 ? 8 : EntryBytes)) break;
      if (EntryBytes > 8) R.Skip(EntryBytes - 8);
      // Entries past 256 have no place in the palette.
      const int Index = H.FirstEntry + I;
      if (Index >= 256) continue;
      switch (H.EntrySize) {
      case 15:
      case 16: Pal[Index] = FromWord(static_cast<std::uint16_t>(E[0] | (E[1] << 8))); break;
      case 24:
      case 32: RvCreateRGB(E[2], E[1], E[0], Pal[Index]); break;
      default: break;
      }
      if (static_cast<std::size_t>(Index) < Params.TgaMapAlpha.size()) Params.TgaMapAlpha[Index] = E[3];
    }
    Params.SetColorMap(Pal, std::min<int>(H.MapLength, 256));
    Params.TgaGrayLevel = false;
  } else if (Depth == 8) {
    for (int I = 0; I < 256; ++I) RvCreateRGB(I, I, I, Pal[I]);
    Params.TgaGrayLevel = true;
  }
  if (Depth == 1) {
    RvCreateRGB(0, 0, 0, Pal[0]);
    RvCreateRGB(255, 255, 255, Pal[1]);
  }
  const bool Rle = H.ImageType >= 9;
  Params.TgaCompressed = Rle;
  Params.Width = H.Width;
  Params.Height = H.Height;
  // The format has no resolution: the screen's stands in, and is no file's.
  Params.DpiX = RvDefaultDpiX;
  Params.DpiY = RvDefaultDpiY;
  Params.DpiStated = false;
  // 16-bit gray pictures hold gray in the low byte and alpha in the high one, not 5-5-5 colour.
  const bool GrayAlpha = Depth == 16 && (H.ImageType == 3 || H.ImageType == 11);
  switch (Depth) {
  case 16:
    Params.BitsPerSample = GrayAlpha ? 8 : 5;
    Params.SamplesPerPixel = GrayAlpha ? 2 : 3;
    break;
  case 1: Params.BitsPerSample = 1; Params.SamplesPerPixel = 1; break;
  case 4: Params.BitsPerSample = 4; Params.SamplesPerPixel = 1; break;
  case 8: Params.BitsPerSample = 8; Params.SamplesPerPixel = 1; break;
  case 24: Params.BitsPerSample = 8; Params.SamplesPerPixel = 3; break;
  default: Params.BitsPerSample = 8; Params.SamplesPerPixel = 4; break;
  }
  if (HeaderOnly) return;

  const int W = H.Width;
  const int Rows = H.Height;
  const int UnitBytes = Depth <= 8 ? 1 : Depth / 8;
  const int Units = Depth == 1 ? (W + 7) / 8 : Depth == 4 ? (W + 1) / 2 : W;
  // The pixels come from the data: a run packet of one header byte and one
  // unit gives at most 128 units. A header claiming more than the data
  // could give is refused before the picture is allocated.
  std::int64_t AllUnits = 0;
  if (!RvSizeMul(Units, Rows, AllUnits)) AllUnits = INT64_MAX;
  const std::int64_t Least =
      Rle ? RvLeastStoredBytes(AllUnits, 128, 1 + UnitBytes) : RvLeastStoredBytes(AllUnits, 1, UnitBytes);
  // A file that ends before its first pixel has none to show.
  if (R.Remaining() <= 0 || !RvDataCanFill(R.Remaining(), Least, W, Rows) ||
      !RvAllocateBitmap(Bitmap, W, Rows, Depth == 1 ? rvpf1Bit : rvpf24Bit)) {
    Progress.Abort();
    return;
  }
  const bool WithAlpha = (Depth == 32 || GrayAlpha) && (H.Descriptor & 8) != 0 && !NoMask;
  if (WithAlpha) {
    try {
      if (!RvAllocationAllowed(std::int64_t{W} * Rows)) throw std::bad_alloc();
      if (!AlphaMask) AlphaMask = std::make_unique<TRvMask>();
      AlphaMask->Allocate(W, Rows, 8);
      AlphaMask->Fill(255);
      AlphaMask->SetFull(false);
    } catch (const std::bad_alloc&) {
      Progress.Abort();
      return;
    }
  }
  TRvBuffer Packed;
  if (!Packed.Allocate(std::int64_t{Units} * UnitBytes)) {
    Progress.Abort();
    return;
  }
  const bool TopDown = (H.Descriptor & 0x20) != 0;
  const bool RightToLeft = (H.Descriptor & 0x10) != 0;
  const std::vector<bool> Repeated = RvRepeatedEntries(Pal, Params.ColorMapCount);
  Params.ColorMapRepeatsUsed = false;
  const auto Entry = [&](int Index) {
    if (static_cast<std::size_t>(Index) < Repeated.size() && Repeated[static_cast<std::size_t>(Index)])
      Params.ColorMapRepeatsUsed = true;
    return &Pal[Index];
  };
  TPacketState State;
  std::vector<std::uint8_t> Alpha(static_cast<std::size_t>(W));
  Progress.Per = 100.0 / Rows;
  Progress.Val = 0;
  for (int I = 0; I < Rows; ++I) {
    if (Progress.IsAborting()) return;
    ReadUnits(R, Packed.Data(), Units, UnitBytes, Rle, State);
    const int Y = TopDown ? I : Rows - 1 - I;
    std::uint8_t* Row = Bitmap.Scanline(Y);
    const std::uint8_t* In = Packed.Data();
    if (Depth == 1) {
      if (RightToLeft) {
        for (int X = 0; X < W; ++X) RvSetBit(Row, X, RvTestBit(In, W - 1 - X));
      } else {
        std::memcpy(Row, In, static_cast<std::size_t>(Units));
      }
    } else if (Depth == 24 && !RightToLeft) {
      std::memcpy(Row, In, static_cast<std::size_t>(W) * 3);
    } else {
      for (int X = 0; X < W; ++X) {
        const int Src = RightToLeft ? W - 1 - X : X;
        std::uint8_t* Px = Row + 3 * X;
        switch (Depth) {
        case 4: {
          const int Index = Src % 2 == 0 ? In[Src / 2] >> 4 : In[Src / 2] & 15;
          std::memcpy(Px, Entry(Index), 3);
          break;
        }
        case 8: std::memcpy(Px, Entry(In[Src]), 3); break;
        case 16: {
          if (GrayAlpha) {
            Px[0] = Px[1] = Px[2] = In[2 * Src];
            Alpha[static_cast<std::size_t>(X)] = In[2 * Src + 1];
            break;
          }
          const TRGB C = FromWord(static_cast<std::uint16_t>(In[2 * Src] | (In[2 * Src + 1] << 8)));
          std::memcpy(Px, &C, 3);
          break;
        }
        case 24: std::memcpy(Px, In + 3 * Src, 3); break;
        default:
          std::memcpy(Px, In + 4 * Src, 3);
          Alpha[static_cast<std::size_t>(X)] = In[4 * Src + 3];
          break;
        }
      }
      if (WithAlpha) std::memcpy(AlphaMask->ScanLine(Y), Alpha.data(), Alpha.size());
    }
    Progress.Step(I + 1);
  }
  // In a file without a footer, what follows the pixels is no picture's but
  // the file's; a footer stands last and names what comes before it.
  if (!Footer && !R.Short()) RvNoteTrailer(Stream, R.Position(), rvftTGA, Params);
}

std::vector<std::string> TgaLayoutLost(const TIOParamsVals& Params) {
  std::vector<std::string> Lost;
  const int AlphaBits = Params.TgaDescriptor & 0x0F;
  // The reader takes neither as transparency, so the writer has neither.
  if ((Params.SamplesPerPixel == 4 || Params.SamplesPerPixel == 2) && (AlphaBits & 8) == 0)
    Lost.emplace_back("The last byte of each pixel, which the file does not call transparency");
  if (Params.BitsPerSample == 5 && AlphaBits != 0) Lost.emplace_back("The transparency bit of each pixel");
  if (Params.SamplesPerPixel == 1 && (Params.BitsPerSample == 1 || Params.BitsPerSample == 4))
    Lost.emplace_back(Params.BitsPerSample == 1 ? "Its depth of 1 bit (the picture is saved at 8 bits of gray)"
                                                : "Its depth of 4 bits (the picture is saved at 8 bits)");
  if (Params.TgaExtrasLeftOut)
    Lost.emplace_back("The thumbnail, colour table or developer data the file keeps after its picture");
  return Lost;
}

void TgaWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    const TRvMask* AlphaMask, TRvProgressRec& Progress) {
  const std::int64_t Start = Stream.Position();
  const int W = Bitmap.Width();
  const int Rows = Bitmap.Height();
  // The header holds sizes in 16 bits.
  if (W < 1 || Rows < 1 || W > 65535 || Rows > 65535 || Bitmap.PixelFormat() == rvpfNone) {
    Progress.Abort();
    return;
  }
  enum { okGray, okGrayAlpha, okMapped, okRGB16, okRGB, okRGBA } Kind = okRGB;
  int MapLength = 0, EntryBytes = 3, EntryBits = 24;
  TRGB Pal[256] = {};
  std::unique_ptr<TRvBitmap> Holder;
  std::unique_ptr<TRvPaletteMapper> Mapper;
  std::vector<std::uint8_t> Indexes; // into the file's own colour map
  TRvBitmap* Source = nullptr;
  const bool MaskUsable = AlphaMask != nullptr && !AlphaMask->Full() && AlphaMask->BitCount() == 8 &&
                          AlphaMask->Width() == W && AlphaMask->Height() == Rows;
  const int Bps = Params.BitsPerSample, Spp = Params.SamplesPerPixel;
  if (Spp == 1 && Bps == 1) {
    // Written as an 8-bit gray file of black and white: 1-bit files are
    // read by few programs.
    Source = RvAsBlackWhite(Bitmap, Holder, Pal);
    Kind = okGray;
    Params.TgaCompressed = false;
  } else {
    Source = RvAs24Bit(Bitmap, Holder);
    if (Source != nullptr && Spp == 2 && Bps == 8 && RvAllGray(*Source)) {
      // Gray and alpha, as the file had them.
      Kind = okGrayAlpha;
    } else if (Spp == 1 && Bps == 8 && Params.TgaGrayLevel) {
      Kind = okGray;
    } else if (Source != nullptr && Spp == 1 && (Bps == 4 || Bps == 8)) {
      Kind = okMapped;
      // The file's colour map, entries and order, while every pixel is in
      // it; else one of the picture's own colours.
      if (Params.ColorMapCount > 0 && Params.ColorMapCount <= 256 &&
          RvIndexesInPalette(*Source, nullptr, Params.ColorMap.get(), nullptr, Params.ColorMapCount, Indexes)) {
        MapLength = Params.ColorMapCount;
        std::copy(Params.ColorMap.get(), Params.ColorMap.get() + MapLength, Pal);
        // Entries of 16 bits (or 32, with their alpha) where the file had them.
        const bool Fits16 = std::all_of(Pal, Pal + MapLength, [](const TRGB& C) { return ((C.r | C.g | C.b) & 7) == 0; });
        if ((Params.TgaMapEntrySize == 15 || Params.TgaMapEntrySize == 16) && Fits16) EntryBits = Params.TgaMapEntrySize;
        if (Params.TgaMapEntrySize == 32 && Params.TgaMapAlpha.size() == static_cast<std::size_t>(MapLength)) EntryBits = 32;
        EntryBytes = (EntryBits + 7) / 8;
      } else {
        MapLength = Bps == 4 ? 16 : 256;
        Mapper = std::make_unique<TRvPaletteMapper>(*Source, Pal, MapLength);
        Params.SetColorMap(Pal, MapLength);
      }
      // 4-bit pictures are written as 8-bit indices, which other programs read.
      if (Bps == 4) Params.TgaCompressed = false;
    } else if (Source != nullptr && Spp == 3 && Bps == 5 && !MaskUsable && Fits555(*Source)) {
      Kind = okRGB16;
    } else if (MaskUsable) {
      // Other sample layouts are written in full colour rather than not at all.
      Kind = okRGBA;
    }
  }
  if (Source == nullptr) {
    Progress.Abort();
    return;
  }
  const bool Rle = Params.TgaCompressed;
  const int UnitBytes = Kind == okRGB ? 3 : Kind == okRGBA ? 4 : Kind == okGrayAlpha || Kind == okRGB16 ? 2 : 1;

  std::uint8_t Header[HeaderSize] = {};
  // The length byte holds the text and its terminating NUL.
  // A file's own ID field keeps its length; a new one ends with a NUL.
  std::string Id = Params.TgaImageId.substr(0, 254);
  Id.resize(Params.TgaIdLength >= 0 ? static_cast<std::size_t>(Params.TgaIdLength) : Id.size() + 1, '\0');
  Header[0] = static_cast<std::uint8_t>(Id.size());
  if (Kind == okMapped) {
    Header[1] = 1;
    Header[2] = Rle ? 9 : 1;
    PutLE16(Header + 5, MapLength);
    Header[7] = static_cast<std::uint8_t>(EntryBits);
  } else {
    // Without a colour map its header fields stay zero, as readers expect.
    Header[2] = Kind == okGray || Kind == okGrayAlpha ? (Rle ? 11 : 3) : (Rle ? 10 : 2);
  }
  PutLE16(Header + 8, RvClamp(Params.TgaXPos, 0, 65535));
  PutLE16(Header + 10, RvClamp(Params.TgaYPos, 0, 65535));
  PutLE16(Header + 12, W);
  PutLE16(Header + 14, Rows);
  Header[16] = static_cast<std::uint8_t>(UnitBytes * 8);
  // The file's own corner to start from; its alpha bits where its pixels
  // or entries still hold them.
  const bool TopDown = (Params.TgaDescriptor & 0x20) != 0, RightToLeft = (Params.TgaDescriptor & 0x10) != 0;
  int AlphaBits = Kind == okRGBA || Kind == okGrayAlpha ? 8 : 0;
  if (Kind == okMapped && EntryBits == 32) AlphaBits = Params.TgaDescriptor & 0x0F;
  Header[17] = static_cast<std::uint8_t>((Params.TgaDescriptor & 0x30) | AlphaBits);
  TRvAbortFlag& Aborting = *Progress.Aborting;
  RvSafeStreamWrite(Stream, Aborting, Header, HeaderSize);
  RvSafeStreamWrite(Stream, Aborting, Id.data(), static_cast<std::int64_t>(Id.size()));
  if (Kind == okMapped) {
    std::vector<std::uint8_t> Map(static_cast<std::size_t>(MapLength) * EntryBytes);
    for (int I = 0; I < MapLength; ++I) {
      std::uint8_t* E = Map.data() + static_cast<std::size_t>(I) * EntryBytes;
      if (EntryBytes == 2) PutLE16(E, ToWord(Pal[I]));
      else std::memcpy(E, &Pal[I], 3);
      if (EntryBytes == 4) E[3] = Params.TgaMapAlpha[static_cast<std::size_t>(I)];
    }
    RvSafeStreamWrite(Stream, Aborting, Map.data(), static_cast<std::int64_t>(Map.size()));
  }

  TRvBuffer Line;
  if (!Line.Allocate(std::int64_t{W} * UnitBytes)) {
    Progress.Abort();
    return;
  }
  std::vector<std::uint8_t> Encoded;
  Progress.Per = 100.0 / Rows;
  Progress.Val = 0;
  for (int I = 0; I < Rows; ++I) {
    if (Progress.IsAborting()) return;
    const int Y = TopDown ? I : Rows - 1 - I;
    const std::uint8_t* Row = Source->Scanline(Y);
    std::uint8_t* Out = Line.Data();
    switch (Kind) {
    case okGray:
      if (Source->PixelFormat() == rvpf1Bit) {
        for (int X = 0; X < W; ++X) Out[X] = RvTestBit(Row, X) ? 255 : 0;
      } else {
        for (int X = 0; X < W; ++X)
          Out[X] = static_cast<std::uint8_t>(RvGray(Row[3 * X + 2], Row[3 * X + 1], Row[3 * X]));
      }
      break;
    case okGrayAlpha:
      for (int X = 0; X < W; ++X) {
        Out[2 * X] = Row[3 * X];
        Out[2 * X + 1] = MaskUsable ? AlphaMask->ScanLine(Y)[X] : 255;
      }
      break;
    case okMapped:
      for (int X = 0; X < W; ++X)
        Out[X] = Mapper != nullptr ? static_cast<std::uint8_t>(Mapper->Index(Row + 3 * X))
                                   : Indexes[static_cast<std::size_t>(Y) * W + X];
      break;
    case okRGB16:
      for (int X = 0; X < W; ++X) {
        TRGB C;
        std::memcpy(&C, Row + 3 * X, 3);
        PutLE16(Out + 2 * X, ToWord(C));
      }
      break;
    case okRGB: std::memcpy(Out, Row, static_cast<std::size_t>(W) * 3); break;
    case okRGBA: {
      const std::uint8_t* A = AlphaMask->ScanLine(Y);
      for (int X = 0; X < W; ++X) {
        std::memcpy(Out + 4 * X, Row + 3 * X, 3);
        Out[4 * X + 3] = A[X];
      }
      break;
    }
    }
    if (RightToLeft)
      for (int L = 0, R = W - 1; L < R; ++L, --R)
        std::swap_ranges(Out + L * UnitBytes, Out + (L + 1) * UnitBytes, Out + R * UnitBytes);
    if (Rle) {
      EncodeRow(Out, W, UnitBytes, Encoded);
      RvSafeStreamWrite(Stream, Aborting, Encoded.data(), static_cast<std::int64_t>(Encoded.size()));
    } else {
      RvSafeStreamWrite(Stream, Aborting, Out, Line.Size());
    }
    Progress.Step(I + 1);
  }

  // A Targa file without an extension area gets none; one with an area
  // gets its own back, with what the record now says in place of what it
  // said when read, and no pointers to what is not written.
  if (Params.TgaIdLength >= 0 && Params.TgaExtension.size() != ExtensionSize) return;
  std::uint8_t E[ExtensionSize] = {};
  const bool Kept = Params.TgaExtension.size() == ExtensionSize;
  if (Kept) std::memcpy(E, Params.TgaExtension.data(), ExtensionSize);
  std::memset(E + 482, 0, 12);
  PutLE16(E, ExtensionSize);
  const auto Text = [&](int At, const std::string& Value) {
    if (Kept && FieldText(E + At, 41) == Value) return;
    std::memset(E + At, 0, 41);
    std::memcpy(E + At, Value.data(), std::min<std::size_t>(Value.size(), 40));
  };
  Text(2, Params.TgaAuthor);
  Text(379, Params.TgaJobName);
  if (!Kept) {
    int Year, Month, Day, Hour, Minute, Second;
    RvDecodeDateTime(Params.TgaDateTime, Year, Month, Day, Hour, Minute, Second);
    PutLE16(E + 367, Month);
    PutLE16(E + 369, Day);
    PutLE16(E + 371, Year);
    PutLE16(E + 373, Hour);
    PutLE16(E + 375, Minute);
    PutLE16(E + 377, Second);
  }
  E[471] = Params.TgaKeyColor.r;
  E[472] = Params.TgaKeyColor.g;
  E[473] = Params.TgaKeyColor.b;
  // A ratio as stored while it is still the one read (or its inverse, after
  // a quarter turn), left unstated while the record holds what the read
  // gives for none (a square pixel's turn is square); sixteen-bit
  // numerators otherwise: ratios beyond 6.5535 are kept at that.
  const auto Ratio = [&](int At, double V, double Unstated) {
    const int Num = E[At] | (E[At + 1] << 8), Den = E[At + 2] | (E[At + 3] << 8);
    if (Kept && (Num == 0 || Den == 0) && V == Unstated) return;
    if (Kept && Num != 0 && Den != 0) {
      if (std::abs(V - double(Num) / Den) < 1e-9) return;
      if (std::abs(V - double(Den) / Num) < 1e-9) {
        PutLE16(E + At, Den);
        PutLE16(E + At + 2, Num);
        return;
      }
    }
    const double Scaled = std::trunc(V * 10000.0);
    PutLE16(E + At, Scaled >= 65535.0 ? 65535 : Scaled > 0 ? static_cast<int>(Scaled) : 0);
    PutLE16(E + At + 2, 10000);
  };
  Ratio(474, Params.TgaAspectRatio, UnstatedAspect);
  Ratio(478, Params.TgaGamma, UnstatedGamma);
  std::uint8_t F[FooterSize] = {};
  PutLE32(F, static_cast<std::uint32_t>(Stream.Position() - Start));
  std::memcpy(F + 8, Signature, sizeof Signature);
  RvSafeStreamWrite(Stream, Aborting, E, ExtensionSize);
  RvSafeStreamWrite(Stream, Aborting, F, FooterSize);
}

} // namespace rv
