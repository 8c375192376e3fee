#include "image/io/tiff/tiffwrite.h"

#include <algorithm>
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
  Cmyk[0] = static_cast<std::uint8_t>(255 - R * 255 / K);
  Cmyk[1] = static_cast<std::uint8_t>(255 - G * 255 / K);
  Cmyk[2] = static_cast<std::uint8_t>(255 - B * 255 / K);
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

// 255 where the mask has no pixel, so that a mask of another size than the
// picture is never read outside its rows.
std::uint8_t AlphaAt(const TRvMask& Mask, int X, int Y) {
  if (X >= Mask.Width() || Y >= Mask.Height()) return 255;
  const int V = Mask.GetPixel(X, Y);
  return Mask.BitCount() == 1 ? (V != 0 ? 255 : 0) : static_cast<std::uint8_t>(V);
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
  // Transparency goes out as a fourth, unassociated sample of 8-bit RGB:
  // none of the other layouts holds it.
  const bool WithAlpha = Alpha != nullptr && !Alpha->Full();
  if (WithAlpha) {
    Params.BitsPerSample = 8;
    Params.SamplesPerPixel = 4;
    Params.TiffPhotometric = 2;
    if (Params.TiffCompression != 5 && Params.TiffCompression != 8) Params.TiffCompression = 0;
  }
  // 1. The working bitmap.
  std::unique_ptr<TRvBitmap> Holder;
  TRvBitmap* Work = nullptr;
  // Two colours of a palette are not black and white: they are written as
  // a palette of one bit.
  const bool OneBit = Params.BitsPerSample == 1 && Params.SamplesPerPixel == 1 && Params.ColorMapCount == 0;
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

  // 2. Normalisation of the parameters. A gray file's picture that is still
  // all gray goes back as 8-bit gray; any other of one sample as a palette,
  // its own colours exactly where they fit.
  std::unique_ptr<TRvPaletteMapper> Mapper;
  bool GrayData = false;
  std::vector<TRGB> Palette;
  if (!OneBit && Params.SamplesPerPixel == 1 && Params.BitsPerSample >= 1 && Params.BitsPerSample <= 8) {
    if (Params.ColorMapCount == 0 && RvAllGray(*Work)) {
      GrayData = true;
      Params.TiffPhotometric = 1;
      Params.BitsPerSample = 8;
    } else {
      Params.TiffPhotometric = 3;
      Palette.assign(std::size_t{1} << Params.BitsPerSample, TRGB{});
      Mapper = std::make_unique<TRvPaletteMapper>(*Work, Palette.data(), static_cast<int>(Palette.size()));
    }
    if (Params.TiffCompression != 5 && Params.TiffCompression != 8) Params.TiffCompression = 0;
  }
  if (Params.TiffPhotometric == 3 && Params.SamplesPerPixel > 1) Params.TiffPhotometric = 2;
  if (Params.BitsPerSample > 8) {
    Params.SamplesPerPixel = 3;
    Params.BitsPerSample = 8;
    Params.TiffPhotometric = 2;
  }
  if (Params.TiffPhotometric <= 1 && Params.SamplesPerPixel == 3 && Params.BitsPerSample == 8)
    Params.TiffPhotometric = 2;
  if (Params.TiffPhotometric == 2 && Params.SamplesPerPixel == 1 && Params.BitsPerSample == 1)
    Params.TiffPhotometric = 1;

  // 3. Photometric code of the data.
  int Photometric;
  switch (Params.TiffPhotometric) {
  case 0: case 1: Photometric = 1; break;
  case 3: Photometric = 3; break;
  case 5: Photometric = 5; Params.SamplesPerPixel = 4; break;
  case 7: Photometric = 7; break;
  default: Photometric = 2; break;
  }
  // Gray and palette data come from the step before; without them (a depth
  // it was not asked for) the picture is written as RGB rather than as garbage.
  if (!OneBit && ((Photometric == 1 && !GrayData) || (Photometric == 3 && Mapper == nullptr))) {
    Photometric = 2;
    Params.TiffPhotometric = 2;
    Params.SamplesPerPixel = WithAlpha ? 4 : 3;
    Params.BitsPerSample = 8;
  }
  const int DataPhotometric = Photometric;

  // 4. Compression.
  int Compression = 1, Predictor = 1;
  bool T4TwoD = false;
  TTiffLzwCompressProc Lzw = nullptr;
  switch (Params.TiffCompression) {
  case 1: Compression = 2; Photometric = 0; break;
  case 2: Compression = 3; Photometric = 0; break;
  case 3: Compression = 3; T4TwoD = true; Photometric = 0; break;
  case 4: Compression = 4; Photometric = 0; break;
  case 5:
    Lzw = Params.TiffLzwCompress != nullptr ? Params.TiffLzwCompress : RvDefaultTiffLzwCompress;
    if (Lzw != nullptr) {
      Compression = 5;
      Predictor = 2;
    }
    break;
  case 8: Compression = 32773; break;
  default: break;
  }
  const bool Fax = Compression >= 2 && Compression <= 4;
  if (Fax && Work->PixelFormat() != rvpf1Bit) {
    // Uncompressed data keep the photometric of what they really are.
    Compression = 1;
    Photometric = DataPhotometric;
    T4TwoD = false;
    Params.TiffCompression = 0;
  }
  // 5. Prediction only for 8-bit RGB rows.
  if (!(Predictor == 2 && Work->PixelFormat() == rvpf24Bit && Photometric == 2)) Predictor = 1;

  // 6. The fax coders take 1 as black.
  const bool Encoding = Compression >= 2 && Compression <= 4;
  if (Encoding) {
    if (Work == &Bitmap) {
      Holder = std::make_unique<TRvBitmap>();
      Holder->Assign(&Bitmap);
      Work = Holder.get();
    }
    RvNegativeBits(Work);
  }

  TTiffWriter Out(Stream, Progress, Intel);

  // 8. Entries before the data.
  const bool Bits1 = Work->PixelFormat() == rvpf1Bit;
  const int Bps = Params.BitsPerSample;
  Out.AddLong(256, static_cast<std::uint32_t>(W));
  Out.AddLong(257, static_cast<std::uint32_t>(H));
  int Spp;
  if (Bits1) {
    Out.AddShort(258, 1);
    Spp = 1;
  } else if (Photometric == 1 || Photometric == 3) {
    Out.AddShort(258, static_cast<std::uint32_t>(Bps));
    Spp = 1;
  } else if (Photometric == 5 || (Photometric == 2 && WithAlpha)) {
    Out.AddShortArray(258, {8, 8, 8, 8});
    Spp = 4;
  } else {
    Out.AddShortArray(258, {8, 8, 8});
    Spp = 3;
  }
  const bool RGBA = Photometric == 2 && Spp == 4;
  Out.AddShort(259, static_cast<std::uint32_t>(Compression));
  std::uint32_t PhotometricTag;
  if (Bits1) PhotometricTag = Photometric == 0 ? 0 : 1;
  else if (Photometric == 7) PhotometricTag = 8;
  else PhotometricTag = static_cast<std::uint32_t>(Photometric);
  Out.AddShort(262, PhotometricTag);
  Out.AddAscii(269, Params.TiffDocumentName);
  Out.AddAscii(270, Params.TiffImageDescription);
  const std::int64_t StripStart = Out.Position();
  Out.AddLong(273, Clamp32(StripStart));

  // 9. The image data.
  Progress.Per = 100.0 / H;
  const std::int64_t RowBytes = Bits1 ? (W + 7) / 8
                                      : (Photometric == 1 || Photometric == 3 ? RvPackedRowBytes(W, Bps)
                                                                              : std::int64_t{W} * Spp);
  std::vector<std::uint8_t> Row(static_cast<std::size_t>(RowBytes) + 4), Packed;
  void* LzwState = nullptr;
  std::vector<std::uint8_t> RefRow;
  int PendingBits = 0;
  std::uint8_t PendingByte = 0;
  for (int Y = 0; Y < H && !Progress.IsAborting(); ++Y) {
    const std::uint8_t* Src = Work->Scanline(Y);
    if (Bits1) {
      std::memcpy(Row.data(), Src, static_cast<std::size_t>(RowBytes));
    } else if (Photometric == 2) {
      for (int X = 0; X < W; ++X) {
        std::uint8_t* P = Row.data() + static_cast<std::ptrdiff_t>(X) * Spp;
        P[0] = Src[3 * X + 2];
        P[1] = Src[3 * X + 1];
        P[2] = Src[3 * X];
        if (RGBA) P[3] = AlphaAt(*Alpha, X, Y);
      }
      if (Predictor == 2)
        for (std::int64_t I = RowBytes - 1; I >= Spp; --I)
          Row[static_cast<std::size_t>(I)] =
              static_cast<std::uint8_t>(Row[static_cast<std::size_t>(I)] - Row[static_cast<std::size_t>(I - Spp)]);
    } else if (Photometric == 5) {
      for (int X = 0; X < W; ++X) TiffBgrToCmyk(Src + 3 * X, Row.data() + 4 * X);
    } else if (Photometric == 7) {
      for (int X = 0; X < W; ++X) {
        const std::uint8_t* P = Src + 3 * X;
        RvRGBToCIELab((P[2] << 16) | (P[1] << 8) | P[0], Row.data() + 3 * X);
      }
    } else if (GrayData) {
      for (int X = 0; X < W; ++X) Row[static_cast<std::size_t>(X)] = Src[3 * X];
    } else {
      std::fill(Row.begin(), Row.end(), 0);
      for (int X = 0; X < W; ++X) {
        const auto Index = static_cast<unsigned>(Mapper->Index(Src + 3 * X));
        if (Bps == 8) {
          Row[static_cast<std::size_t>(X)] = static_cast<std::uint8_t>(Index);
        } else {
          const std::int64_t Bit = std::int64_t{X} * Bps;
          for (int K = 0; K < Bps; ++K)
            if ((Index >> (Bps - 1 - K)) & 1u)
              Row[static_cast<std::size_t>((Bit + K) >> 3)] |= static_cast<std::uint8_t>(0x80 >> ((Bit + K) & 7));
        }
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

  // 10. Entries after the data, then the directory.
  Out.AddShort(277, static_cast<std::uint32_t>(Spp));
  Out.AddLong(278, static_cast<std::uint32_t>(H));
  Out.AddLong(279, Clamp32(Out.Position() - StripStart));
  if (Predictor == 2) Out.AddShort(317, 2);
  Out.AddRational(282, Clamp32(Params.DpiX), 1);
  Out.AddRational(283, Clamp32(Params.DpiY), 1);
  Out.AddAscii(285, Params.TiffPageName);
  // Positions beyond what a RATIONAL holds are cut to it rather than wrapped.
  Out.AddRational(286, Clamp32(std::int64_t{Params.TiffXPos} * 10000), 10000);
  Out.AddRational(287, Clamp32(std::int64_t{Params.TiffYPos} * 10000), 10000);
  if (Compression == 3) Out.AddLong(292, T4TwoD ? 1 : 0);
  Out.AddShort(296, 2);
  if (Params.TiffPageNumber != 0 || Params.TiffPageCount != 0)
    Out.AddShortArray(297, {static_cast<std::uint16_t>(Params.TiffPageNumber),
                            static_cast<std::uint16_t>(Params.TiffPageCount)});
  if (Photometric == 3 && !Bits1) {
    const std::size_t N = Palette.size();
    // 16-bit entries, 255 as 65535: what readers scale down is the colour.
    std::vector<std::uint16_t> Map(3 * N);
    for (std::size_t I = 0; I < N; ++I) {
      Map[I] = static_cast<std::uint16_t>(Palette[I].r * 257);
      Map[N + I] = static_cast<std::uint16_t>(Palette[I].g * 257);
      Map[2 * N + I] = static_cast<std::uint16_t>(Palette[I].b * 257);
    }
    Out.AddShortArray(320, Map);
  }
  // Unassociated alpha: the colours are stored as they are, not multiplied.
  if (RGBA) Out.AddShort(338, 2);
  if (!Params.IccProfile.empty() && Params.IccProfile.size() <= 0xFFFFFFFFu)
    Out.AddData(34675, tUndefined, static_cast<std::uint32_t>(Params.IccProfile.size()), Params.IccProfile.data(),
                static_cast<std::int64_t>(Params.IccProfile.size()));
  if (Kept != nullptr) Out.AddKept(*Kept);
  return Out.Directory(NextAt);
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
