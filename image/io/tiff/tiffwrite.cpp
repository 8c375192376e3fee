#include "image/io/tiff/tiffwrite.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvwriteconv.h"
#include "image/io/tiff/ccittfax.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvlists.h"

namespace rv {

void TiffPackBitsRow(const std::uint8_t* Row, int Count, std::vector<std::uint8_t>& Out) {
  int LiteralStart = 0;
  int I = 0;
  auto Flush = [&](int End) {
    while (LiteralStart < End) {
      const int N = std::min(128, End - LiteralStart);
      Out.push_back(static_cast<std::uint8_t>(N - 1));
      Out.insert(Out.end(), Row + LiteralStart, Row + LiteralStart + N);
      LiteralStart += N;
    }
  };
  while (I < Count) {
    int Run = 1;
    while (I + Run < Count && Run < 128 && Row[I + Run] == Row[I]) ++Run;
    if (Run >= 4) {
      Flush(I);
      Out.push_back(static_cast<std::uint8_t>(1 - Run));
      Out.push_back(Row[I]);
      I += Run;
      LiteralStart = I;
    } else {
      ++I;
      if (I - LiteralStart >= 128) Flush(I);
    }
  }
  Flush(Count);
}

void TiffBgrToCmyk(const std::uint8_t* Bgr, std::uint8_t* Cmyk) {
  const int B = Bgr[0], G = Bgr[1], R = Bgr[2];
  int K = std::max({R, G, B});
  if (K == 0) K = 1;
  // Rounded up, so that a reader's K x (255 - C) / 255 gives each colour
  // back exactly rather than one less.
  Cmyk[0] = static_cast<std::uint8_t>(255 - (R * 255 + K - 1) / K);
  Cmyk[1] = static_cast<std::uint8_t>(255 - (G * 255 + K - 1) / K);
  Cmyk[2] = static_cast<std::uint8_t>(255 - (B * 255 + K - 1) / K);
  Cmyk[3] = static_cast<std::uint8_t>(255 - K);
}

namespace {

constexpr std::uint16_t tShort = 3, tLong = 4, tAscii = 2, tRational = 5, tUndefined = 7;

struct TOutEntry {
  std::uint16_t Tag;
  std::uint16_t Type;
  std::uint32_t Count;
  std::uint8_t Value[4];
};

std::uint32_t Clamp32(std::int64_t V) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(V, 0, 0xFFFFFFFF));
}

// One directory's entries, gathered while its data are written, then the
// directory itself, in the file's byte order.
class TTiffWriter {
public:
  TTiffWriter(platform::TStream& Stream, TRvProgressRec& Progress, bool Intel)
      : FStream(Stream), FProgress(Progress), FIntel(Intel) {}

  bool Aborting() const { return FProgress.IsAborting(); }
  void Write(const void* Data, std::int64_t Count) {
    if (Count > 0 && !Aborting()) RvSafeStreamWrite(FStream, *FProgress.Aborting, Data, Count);
  }
  std::int64_t Position() { return FStream.Position(); }
  void Put16(std::uint8_t* P, std::uint32_t V) const { TiffPut16(P, V, FIntel); }
  void Put32(std::uint8_t* P, std::uint32_t V) const { TiffPut32(P, V, FIntel); }

  void AddLong(std::uint16_t Tag, std::uint32_t V) {
    TOutEntry E{Tag, tLong, 1, {}};
    Put32(E.Value, V);
    FEntries.push_back(E);
  }
  void AddShort(std::uint16_t Tag, std::uint32_t V) {
    TOutEntry E{Tag, tShort, 1, {}};
    Put16(E.Value, V);
    FEntries.push_back(E);
  }
  void AddRational(std::uint16_t Tag, std::uint32_t Num, std::uint32_t Den) {
    std::uint8_t B[8];
    Put32(B, Num);
    Put32(B + 4, Den);
    AddData(Tag, tRational, 1, B, 8);
  }
  void AddAscii(std::uint16_t Tag, const std::string& Text) {
    if (Text.empty()) return;
    AddData(Tag, tAscii, static_cast<std::uint32_t>(Text.size() + 1), Text.c_str(),
            static_cast<std::int64_t>(Text.size() + 1));
  }
  void AddShortArray(std::uint16_t Tag, const std::vector<std::uint16_t>& Values) {
    std::vector<std::uint8_t> B(Values.size() * 2);
    for (std::size_t I = 0; I < Values.size(); ++I) Put16(B.data() + 2 * I, Values[I]);
    AddData(Tag, tShort, static_cast<std::uint32_t>(Values.size()), B.data(), static_cast<std::int64_t>(B.size()));
  }

  // Values of four bytes or less go into the entry itself, as readers expect.
  void AddData(std::uint16_t Tag, std::uint16_t Type, std::uint32_t Count, const void* Data, std::int64_t Size) {
    TOutEntry E{Tag, Type, Count, {}};
    if (Size <= 4) {
      std::memcpy(E.Value, Data, static_cast<std::size_t>(Size));
    } else {
      Put32(E.Value, Clamp32(Position()));
      Write(Data, Size);
    }
    FEntries.push_back(E);
  }

  // Entries whose values lie in the stream already; a tag this page states
  // itself stays its own.
  void AddKept(const std::vector<TTiffEntry>& Kept) {
    for (const TTiffEntry& E : Kept) {
      if (std::any_of(FEntries.begin(), FEntries.end(), [&](const TOutEntry& O) { return O.Tag == E.Tag; })) continue;
      TOutEntry Out{E.Tag, E.Type, E.Count, {}};
      std::memcpy(Out.Value, E.Value, 4);
      FEntries.push_back(Out);
    }
  }

  // Pads to even and writes the directory with no next one; answers its
  // position (0 after a failure) and in NextAt that of its link.
  std::int64_t Directory(std::int64_t& NextAt) {
    if (Aborting()) return 0;
    if (Position() & 1) {
      const std::uint8_t Zero = 0;
      Write(&Zero, 1);
    }
    const std::int64_t DirOffset = Position();
    std::stable_sort(FEntries.begin(), FEntries.end(),
                     [](const TOutEntry& A, const TOutEntry& B) { return A.Tag < B.Tag; });
    std::vector<std::uint8_t> Dir(2 + FEntries.size() * 12 + 4, 0);
    Put16(Dir.data(), static_cast<std::uint32_t>(FEntries.size()));
    for (std::size_t I = 0; I < FEntries.size(); ++I) {
      std::uint8_t* P = Dir.data() + 2 + I * 12;
      Put16(P, FEntries[I].Tag);
      Put16(P + 2, FEntries[I].Type);
      Put32(P + 4, FEntries[I].Count);
      std::memcpy(P + 8, FEntries[I].Value, 4);
    }
    Write(Dir.data(), static_cast<std::int64_t>(Dir.size()));
    NextAt = DirOffset + static_cast<std::int64_t>(Dir.size()) - 4;
    return Aborting() ? 0 : DirOffset;
  }

private:
  platform::TStream& FStream;
  TRvProgressRec& FProgress;
  bool FIntel;
  std::vector<TOutEntry> FEntries;
};

// 255 where there is no mask or it has no pixel, so that a mask of another
// size than the picture is never read outside its rows.
std::uint8_t AlphaAt(const TRvMask* Mask, int X, int Y) {
  if (Mask == nullptr || X >= Mask->Width() || Y >= Mask->Height()) return 255;
  const int V = Mask->GetPixel(X, Y);
  return Mask->BitCount() == 1 ? (V != 0 ? 255 : 0) : static_cast<std::uint8_t>(V);
}

// A colour multiplied by its alpha, rounded: the reader's division gives
// the colour back exactly.
std::uint8_t Associate(std::uint8_t V, std::uint8_t A) { return static_cast<std::uint8_t>((V * A + 127) / 255); }

// How the rows are written.
enum TLayout { lyBits, lyRGB, lyCMYK, lyLab, lyGray, lyPalette };

// The sample of each gray level at a depth, as the reader turns samples
// into levels (WhiteIsZero inverted); -1 for levels the depth has not.
std::array<int, 256> GraySamples(int Bps, bool WhiteIsZero) {
  std::array<int, 256> Samples;
  Samples.fill(-1);
  const int Max = (1 << Bps) - 1;
  for (int V = Max; V >= 0; --V) {
    int Level = Bps == 8 ? V : Bps == 4 ? V * 16 : V * 255 / Max;
    if (WhiteIsZero) Level = 255 - Level;
    Samples[static_cast<std::size_t>(Level)] = V;
  }
  return Samples;
}

// Every pixel of a 24-bit picture a gray the table has a sample for.
bool GraysFit(TRvBitmap& Work, const std::array<int, 256>& Samples) {
  for (int Y = 0; Y < Work.Height(); ++Y) {
    const std::uint8_t* P = Work.Scanline(Y);
    for (int X = 0; X < Work.Width(); ++X, P += 3)
      if (P[0] != P[1] || P[1] != P[2] || Samples[P[0]] < 0) return false;
  }
  return true;
}

// Sample I of a row of Bps-bit samples, most significant bit first.
void PutSample(std::uint8_t* Row, std::int64_t I, int Bps, unsigned V) {
  if (Bps == 8) {
    Row[I] = static_cast<std::uint8_t>(V);
    return;
  }
  const std::int64_t Bit = I * Bps;
  for (int K = 0; K < Bps; ++K)
    if ((V >> (Bps - 1 - K)) & 1u) Row[(Bit + K) >> 3] |= static_cast<std::uint8_t>(0x80 >> ((Bit + K) & 7));
}

using TRational = std::array<std::uint32_t, 2>;

bool IsStated(const TRational& R) { return R[0] != 0 || R[1] != 0; }

// A resolution or position to write: what the file stated, as it stated
// it, while the field still holds what the reader cut it to (the other
// axis's after a quarter turn); else the field's own value in the unit.
TRational StatedValue(std::int32_t Value, const TRational& Same, const TRational& Other, int Unit,
                      std::uint32_t Scale) {
  const double Factor = Unit == 3 ? 2.54 : 1.0;
  const auto Cut = [&](const TRational& R) {
    const double V = R[0] / static_cast<double>(R[1] == 0 ? 1 : R[1]) * Factor;
    return std::isfinite(V) && V < 2147483647.0 ? static_cast<std::int32_t>(std::trunc(V)) : 0;
  };
  if (IsStated(Same) && Cut(Same) == Value) return Same;
  if (IsStated(Other) && Cut(Other) == Value) return Other;
  // Per centimetre: 50/127 of the value per inch.
  if (Unit == 3) return {Clamp32(std::int64_t{Value} * 50), 127};
  return {Clamp32(std::int64_t{Value} * Scale), Scale};
}

} // namespace

void TiffPut16(std::uint8_t* P, std::uint32_t V, bool Intel) {
  if (Intel) {
    P[0] = static_cast<std::uint8_t>(V);
    P[1] = static_cast<std::uint8_t>(V >> 8);
  } else {
    P[0] = static_cast<std::uint8_t>(V >> 8);
    P[1] = static_cast<std::uint8_t>(V);
  }
}

void TiffPut32(std::uint8_t* P, std::uint32_t V, bool Intel) {
  if (Intel) {
    TiffPut16(P, V & 0xFFFF, true);
    TiffPut16(P + 2, V >> 16, true);
  } else {
    TiffPut16(P, V >> 16, false);
    TiffPut16(P + 2, V & 0xFFFF, false);
  }
}

std::int64_t TiffWritePage(platform::TStream& Stream, TRvBitmap& Bitmap, TRvProgressRec& Progress,
                           TIOParamsVals& Params, const TRvMask* Alpha, bool Intel, std::int64_t& NextAt,
                           const std::vector<TTiffEntry>* Kept) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) {
    Progress.Abort();
    return 0;
  }
  const bool Transparent = Alpha != nullptr && !Alpha->Full();
  // Samples over 8 bits are held at 8: gray stays gray.
  if (Params.BitsPerSample > 8) {
    Params.BitsPerSample = 8;
    if (Params.SamplesPerPixel > 2 || Params.TiffPhotometric > 1) {
      Params.SamplesPerPixel = 3;
      Params.TiffPhotometric = 2;
    }
  }
  const int InBps = Params.BitsPerSample, InSpp = Params.SamplesPerPixel, InPhotometric = Params.TiffPhotometric;
  const bool GrayFile = InPhotometric <= 1;
  // A second sample of 8 bits beside gray or an index, or a fourth beside
  // red, green and blue, is alpha unless the page said otherwise.
  const bool PairWithAlpha = InSpp == 2 && InBps == 8 && (GrayFile || InPhotometric == 3);
  const bool FileAlpha =
      Params.TiffExtraSamples != 0 && (PairWithAlpha || (InSpp == 4 && InBps == 8 && InPhotometric == 2));

  // 1. The working bitmap. Two colours of a palette are not black and
  // white: they are written as a palette of one bit.
  std::unique_ptr<TRvBitmap> Holder;
  const bool OneBit = !Transparent && InBps == 1 && InSpp == 1 && Params.ColorMapCount == 0;
  TRvBitmap* Work = nullptr;
  if (OneBit) {
    TRGB Colors[2];
    Work = RvAsBlackWhite(Bitmap, Holder, Colors);
  } else {
    Work = RvAs24Bit(Bitmap, Holder);
  }
  if (Work == nullptr) {
    Progress.Abort();
    return 0;
  }
  const int W = Work->Width(), H = Work->Height();

  // 2. The layout. A picture of one sample (and alpha beside it) keeps its
  // file's depth, photometric and palette, entries and order, wherever its
  // pixels still fit them; a gray one else goes out as 8-bit gray, any
  // other of one sample as a palette of its own colours where they fit.
  TLayout Layout = lyRGB;
  int Bps = 8, Spp = 3;
  bool AlphaSample = false, WhiteIsZero = false;
  std::vector<std::uint8_t> Indexes; // into the file's palette, row after row
  std::unique_ptr<TRvPaletteMapper> Mapper;
  std::vector<TRGB> Palette;
  std::vector<std::uint16_t> Map16;
  std::array<int, 256> Gray{};
  const bool OneSample = InSpp == 1 && InBps >= 1 && InBps <= 8 && !Transparent;
  if (OneBit) {
    Layout = lyBits;
    Bps = Spp = 1;
  } else if (OneSample || PairWithAlpha) {
    const int Depth = PairWithAlpha ? 8 : InBps;
    const int Entries = 1 << Depth;
    const bool FilePalette = Params.ColorMapCount > 0 && Params.ColorMapCount <= Entries &&
                             (OneSample || InPhotometric == 3) &&
                             RvIndexesInPalette(*Work, nullptr, Params.ColorMap.get(), nullptr,
                                                Params.ColorMapCount, Indexes);
    if (!FilePalette) Indexes.clear();
    if (!FilePalette && (Params.ColorMapCount == 0 || PairWithAlpha)) {
      // Gray at the file's own depth where its levels are there, else at 8.
      WhiteIsZero = InPhotometric == 0;
      Gray = GraySamples(GrayFile ? Depth : 8, WhiteIsZero);
      if (GrayFile && GraysFit(*Work, Gray)) {
        Layout = lyGray;
        Bps = Depth;
      } else if (Gray = GraySamples(8, WhiteIsZero); GraysFit(*Work, Gray)) {
        Layout = lyGray;
      }
    }
    if (FilePalette || (Layout != lyGray && OneSample)) {
      Layout = lyPalette;
      Bps = Depth;
      Palette.assign(static_cast<std::size_t>(Entries), TRGB{});
      if (FilePalette) {
        std::copy(Params.ColorMap.get(), Params.ColorMap.get() + Params.ColorMapCount, Palette.begin());
        // The file's own 16-bit entries while the palette is still the file's.
        const std::vector<std::uint16_t>& Own = Params.TiffColorMap16;
        const std::size_t N = static_cast<std::size_t>(Params.ColorMapCount);
        bool Same = Own.size() == 3 * N && N == Palette.size();
        for (std::size_t I = 0; Same && I < N; ++I)
          Same = Own[I] >> 8 == Palette[I].r && Own[N + I] >> 8 == Palette[I].g && Own[2 * N + I] >> 8 == Palette[I].b;
        if (Same) Map16 = Own;
      } else {
        Mapper = std::make_unique<TRvPaletteMapper>(*Work, Palette.data(), Entries);
      }
    }
    if (Layout == lyGray || Layout == lyPalette) {
      Spp = PairWithAlpha ? 2 : 1;
      AlphaSample = PairWithAlpha;
    }
  }
  if (Layout == lyRGB) {
    // Anything else in full colour, transparency as a fourth sample.
    if (InPhotometric == 5 && !Transparent) {
      Layout = lyCMYK;
      Spp = 4;
    } else if (InPhotometric == 7 && !Transparent) {
      Layout = lyLab;
    } else {
      AlphaSample = Transparent || FileAlpha;
      Spp = AlphaSample ? 4 : 3;
    }
  }
  // Alpha as the file had it: multiplied into the colours or not.
  const bool Associated = AlphaSample && Params.TiffExtraSamples == 1;

  // 3. Compression.
  int Compression = 1, Predictor = 1;
  bool T4TwoD = false;
  TTiffLzwCompressProc Lzw = nullptr;
  switch (Params.TiffCompression) {
  case 1: Compression = 2; break;
  case 2: Compression = 3; break;
  case 3: Compression = 3; T4TwoD = true; break;
  case 4: Compression = 4; break;
  case 5:
    Lzw = Params.TiffLzwCompress != nullptr ? Params.TiffLzwCompress : RvDefaultTiffLzwCompress;
    if (Lzw != nullptr) Compression = 5;
    break;
  case 8: Compression = 32773; break;
  default: break;
  }
  const bool Fax = Compression >= 2 && Compression <= 4;
  // The fax schemes code only bilevel rows; anything else goes uncompressed.
  if (Fax && Layout != lyBits) {
    Compression = 1;
    T4TwoD = false;
  }
  // Prediction only for 8-bit RGB rows.
  if (Compression == 5 && Layout == lyRGB) Predictor = 2;
  // A bilevel page keeps which of its values is white. The fax coders take
  // 1 as black, so their WhiteIsZero rows are the picture's inverted; a
  // BlackIsZero fax page is coded as the picture's bits are.
  if (Layout == lyBits)
    WhiteIsZero = Compression >= 2 && Compression <= 4 ? InPhotometric != 1 : InPhotometric == 0;

  std::uint32_t PhotometricTag;
  switch (Layout) {
  case lyBits:
  case lyGray: PhotometricTag = WhiteIsZero ? 0 : 1; break;
  case lyPalette: PhotometricTag = 3; break;
  case lyCMYK: PhotometricTag = 5; break;
  case lyLab: PhotometricTag = 8; break;
  default: PhotometricTag = 2; break;
  }
  // What was written, for the caller.
  Params.BitsPerSample = Bps;
  Params.SamplesPerPixel = Spp;
  Params.TiffPhotometric = static_cast<std::uint8_t>(Layout == lyLab ? 7 : PhotometricTag);
  switch (Compression) {
  case 2: Params.TiffCompression = 1; break;
  case 3: Params.TiffCompression = T4TwoD ? 3 : 2; break;
  case 4: Params.TiffCompression = 4; break;
  case 5: Params.TiffCompression = 5; break;
  case 32773: Params.TiffCompression = 8; break;
  default: Params.TiffCompression = 0; break;
  }

  TTiffWriter Out(Stream, Progress, Intel);

  // Entries before the data.
  Out.AddLong(256, static_cast<std::uint32_t>(W));
  Out.AddLong(257, static_cast<std::uint32_t>(H));
  if (Spp == 1) Out.AddShort(258, static_cast<std::uint32_t>(Bps));
  else Out.AddShortArray(258, std::vector<std::uint16_t>(static_cast<std::size_t>(Spp), 8));
  Out.AddShort(259, static_cast<std::uint32_t>(Compression));
  Out.AddShort(262, PhotometricTag);
  Out.AddAscii(269, Params.TiffDocumentName);
  Out.AddAscii(270, Params.TiffImageDescription);
  const std::int64_t StripStart = Out.Position();
  Out.AddLong(273, Clamp32(StripStart));

  // The image data, one strip.
  Progress.Per = 100.0 / H;
  const std::int64_t RowBytes = RvPackedRowBytes(W, std::int64_t{Bps} * Spp);
  std::vector<std::uint8_t> Row(static_cast<std::size_t>(RowBytes) + 4), Packed;
  void* LzwState = nullptr;
  std::vector<std::uint8_t> RefRow;
  int PendingBits = 0;
  std::uint8_t PendingByte = 0;
  for (int Y = 0; Y < H && !Progress.IsAborting(); ++Y) {
    const std::uint8_t* Src = Work->Scanline(Y);
    switch (Layout) {
    case lyBits:
      for (std::int64_t I = 0; I < RowBytes; ++I)
        Row[static_cast<std::size_t>(I)] = WhiteIsZero ? static_cast<std::uint8_t>(~Src[I]) : Src[I];
      break;
    case lyRGB:
      for (int X = 0; X < W; ++X) {
        std::uint8_t* P = Row.data() + static_cast<std::ptrdiff_t>(X) * Spp;
        P[0] = Src[3 * X + 2];
        P[1] = Src[3 * X + 1];
        P[2] = Src[3 * X];
        if (AlphaSample) {
          P[3] = AlphaAt(Alpha, X, Y);
          if (Associated)
            for (int C = 0; C < 3; ++C) P[C] = Associate(P[C], P[3]);
        }
      }
      if (Predictor == 2)
        for (std::int64_t I = RowBytes - 1; I >= Spp; --I)
          Row[static_cast<std::size_t>(I)] =
              static_cast<std::uint8_t>(Row[static_cast<std::size_t>(I)] - Row[static_cast<std::size_t>(I - Spp)]);
      break;
    case lyCMYK:
      for (int X = 0; X < W; ++X) TiffBgrToCmyk(Src + 3 * X, Row.data() + 4 * X);
      break;
    case lyLab:
      for (int X = 0; X < W; ++X) {
        const std::uint8_t* P = Src + 3 * X;
        RvRGBToCIELab((P[2] << 16) | (P[1] << 8) | P[0], Row.data() + 3 * X);
      }
      break;
    case lyGray:
    case lyPalette: {
      std::fill(Row.begin(), Row.end(), 0);
      const std::uint8_t* Own = Indexes.empty() ? nullptr : Indexes.data() + static_cast<std::size_t>(Y) * W;
      for (int X = 0; X < W; ++X) {
        const std::uint8_t A = AlphaSample ? AlphaAt(Alpha, X, Y) : 255;
        unsigned V;
        if (Layout == lyGray) V = static_cast<unsigned>(Gray[Associated ? Associate(Src[3 * X], A) : Src[3 * X]]);
        else V = Own != nullptr ? Own[X] : static_cast<unsigned>(Mapper->Index(Src + 3 * X));
        PutSample(Row.data(), std::int64_t{X} * Spp, Bps, V);
        if (AlphaSample) Row[static_cast<std::size_t>(2 * X + 1)] = A;
      }
      break;
    }
    }
    switch (Compression) {
    case 2: FaxEncodeRowMH(Row.data(), W, Stream, *Progress.Aborting); break;
    case 3:
      if (T4TwoD) FaxEncodeRowG3(Row.data(), W, Stream, *Progress.Aborting, RefRow, PendingBits, PendingByte);
      else FaxEncodeRow1D(Row.data(), W, Stream, *Progress.Aborting, PendingBits, PendingByte);
      break;
    case 4: FaxEncodeRowG4(Row.data(), W, Stream, *Progress.Aborting, RefRow, PendingBits, PendingByte); break;
    case 5: Lzw(Row.data(), static_cast<int>(RowBytes), &Stream, LzwState); break;
    case 32773:
      Packed.clear();
      TiffPackBitsRow(Row.data(), static_cast<int>(RowBytes), Packed);
      Out.Write(Packed.data(), static_cast<std::int64_t>(Packed.size()));
      break;
    default: Out.Write(Row.data(), RowBytes); break;
    }
    Progress.Step(Y + 1);
  }
  // The coders end their code stream and free their state even after an abort.
  switch (Compression) {
  case 3:
    if (T4TwoD) FaxEncodeRowG3(nullptr, W, Stream, *Progress.Aborting, RefRow, PendingBits, PendingByte);
    else FaxEncodeRow1D(nullptr, W, Stream, *Progress.Aborting, PendingBits, PendingByte);
    break;
  case 4: FaxEncodeRowG4(nullptr, W, Stream, *Progress.Aborting, RefRow, PendingBits, PendingByte); break;
  case 5: Lzw(nullptr, 0, &Stream, LzwState); break;
  default: break;
  }
  if (Progress.IsAborting()) return 0;

  // Entries after the data, then the directory.
  Out.AddShort(277, static_cast<std::uint32_t>(Spp));
  Out.AddLong(278, static_cast<std::uint32_t>(H));
  Out.AddLong(279, Clamp32(Out.Position() - StripStart));
  if (Predictor == 2) Out.AddShort(317, 2);
  // The resolution, unit and position the file stated, as it stated them,
  // turned with the picture; none where it stated none.
  const int Unit = Params.TiffResolutionUnit >= 1 && Params.TiffResolutionUnit <= 3 ? Params.TiffResolutionUnit : 2;
  const bool Positioned = IsStated(Params.TiffXPosition) || IsStated(Params.TiffYPosition) ||
                          Params.TiffXPos != 0 || Params.TiffYPos != 0;
  const auto AddStated = [&](std::uint16_t Tag, const TRational& R) { Out.AddRational(Tag, R[0], R[1]); };
  if (Params.DpiStated) {
    AddStated(282, StatedValue(Params.DpiX, Params.TiffXResolution, Params.TiffYResolution, Unit, 1));
    AddStated(283, StatedValue(Params.DpiY, Params.TiffYResolution, Params.TiffXResolution, Unit, 1));
  }
  Out.AddAscii(285, Params.TiffPageName);
  if (Positioned) {
    AddStated(286, StatedValue(Params.TiffXPos, Params.TiffXPosition, Params.TiffYPosition, Unit, 10000));
    AddStated(287, StatedValue(Params.TiffYPos, Params.TiffYPosition, Params.TiffXPosition, Unit, 10000));
  }
  if (Compression == 3) Out.AddLong(292, T4TwoD ? 1 : 0);
  if ((Params.DpiStated || Positioned) && Params.TiffResolutionUnit != 0)
    Out.AddShort(296, static_cast<std::uint32_t>(Unit));
  if (Params.TiffPageNumber != 0 || Params.TiffPageCount != 0)
    Out.AddShortArray(297, {static_cast<std::uint16_t>(Params.TiffPageNumber),
                            static_cast<std::uint16_t>(Params.TiffPageCount)});
  if (Layout == lyPalette) {
    const std::size_t N = Palette.size();
    if (Map16.empty()) {
      // 16-bit entries, 255 as 65535: what readers scale down is the colour.
      Map16.resize(3 * N);
      for (std::size_t I = 0; I < N; ++I) {
        Map16[I] = static_cast<std::uint16_t>(Palette[I].r * 257);
        Map16[N + I] = static_cast<std::uint16_t>(Palette[I].g * 257);
        Map16[2 * N + I] = static_cast<std::uint16_t>(Palette[I].b * 257);
      }
    }
    Out.AddShortArray(320, Map16);
  }
  if (AlphaSample) Out.AddShort(338, Associated ? 1 : 2);
  if (!Params.IccProfile.empty() && Params.IccProfile.size() <= 0xFFFFFFFFu)
    Out.AddData(34675, tUndefined, static_cast<std::uint32_t>(Params.IccProfile.size()), Params.IccProfile.data(),
                static_cast<std::int64_t>(Params.IccProfile.size()));
  if (Kept != nullptr) Out.AddKept(*Kept);
  return Out.Directory(NextAt);
}

std::vector<std::string> TiffLayoutLost(const TIOParamsVals& Params) {
  std::vector<std::string> Lost;
  // The reader makes red, green and blue of inks and of Lab colours; what
  // is written is worked out from those again.
  if (Params.TiffPhotometric == 5) Lost.emplace_back("Its CMYK ink amounts (they are worked out anew from the colours)");
  if (Params.TiffPhotometric == 7) Lost.emplace_back("Its CIELab colours (the picture holds them as red, green and blue)");
  if (Params.TiffExtraSamples == 0 && (Params.SamplesPerPixel == 2 || Params.SamplesPerPixel == 4) &&
      Params.TiffPhotometric != 5)
    Lost.emplace_back("The extra sample of each pixel, which the file does not call transparency");
  return Lost;
}

int TiffWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TRvProgressRec& Progress,
                    TIOParamsVals& Params, const TRvMask* Alpha) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) {
    Progress.Abort();
    return 0;
  }
  const std::int64_t Start = Stream.Position();
  if (!TiffWriteHeader(Stream, *Progress.Aborting, true)) return 0;
  std::int64_t NextAt = 0;
  const std::int64_t Directory = TiffWritePage(Stream, Bitmap, Progress, Params, Alpha, true, NextAt);
  if (Directory == 0 || !TiffLinkDirectory(Stream, *Progress.Aborting, Start + 4, Directory, true)) return 0;
  return 1;
}

bool TiffWriteHeader(platform::TStream& Stream, TRvAbortFlag& Aborting, bool Intel) {
  std::uint8_t Header[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  Header[0] = Header[1] = Intel ? 'I' : 'M';
  TiffPut16(Header + 2, 42, Intel);
  RvSafeStreamWrite(Stream, Aborting, Header, 8);
  return !Aborting.load(std::memory_order_relaxed);
}

bool TiffLinkDirectory(platform::TStream& Stream, TRvAbortFlag& Aborting, std::int64_t LinkAt,
                       std::int64_t Directory, bool Intel) {
  if (Aborting.load(std::memory_order_relaxed)) return false;
  std::uint8_t Link[4];
  TiffPut32(Link, Clamp32(Directory), Intel);
  const std::int64_t End = Stream.Position();
  Stream.Seek(LinkAt, platform::soBeginning);
  RvSafeStreamWrite(Stream, Aborting, Link, 4);
  Stream.Seek(End, platform::soBeginning);
  return !Aborting.load(std::memory_order_relaxed);
}

} // namespace rv
