// Every writer and its reader on every layout they share: what goes in
// comes back pixel for pixel (alpha too), and the written file has the
// layout asked for. Damaged files of every format read without harm.
#include "image/io/bmp/rvbmp.h"
#include "image/io/codectest_util.h"
#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/io/png/rvpng.h"
#include "image/io/tga/rvtga.h"
#include "image/io/tiff/tiffread.h"
#include "image/io/tiff/tiffwrite.h"

#include <gtest/gtest.h>

namespace {

using namespace rv;
using namespace codectest;

enum TFormat { fmPng, fmTga, fmBmp, fmTiff, fmJp2, fmJ2k };

TWriteFn Writer(TFormat F) {
  switch (F) {
  case fmPng: return [](platform::TStream& S, TRvBitmap& B, TIOParamsVals& P, const TRvMask* M, TRvProgressRec& R) { PngWriteStream(S, B, P, M, R); };
  case fmTga: return [](platform::TStream& S, TRvBitmap& B, TIOParamsVals& P, const TRvMask* M, TRvProgressRec& R) { TgaWriteStream(S, B, P, M, R); };
  case fmBmp: return [](platform::TStream& S, TRvBitmap& B, TIOParamsVals& P, const TRvMask*, TRvProgressRec& R) { BmpWriteStream(S, B, P, R); };
  case fmTiff: return [](platform::TStream& S, TRvBitmap& B, TIOParamsVals& P, const TRvMask*, TRvProgressRec& R) { TiffWriteStream(S, B, R, P); };
  default: return [F](platform::TStream& S, TRvBitmap& B, TIOParamsVals& P, const TRvMask*, TRvProgressRec& R) { Jpeg2000WriteStream(S, B, P, F == fmJp2 ? 0 : 1, R); };
  }
}

TReadFn Reader(TFormat F) {
  switch (F) {
  case fmPng: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { PngReadStream(S, D.Bitmap, D.Params, R, false, D.Mask, false); };
  case fmTga: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { TgaReadStream(S, D.Bitmap, D.Params, R, false, D.Mask, false); };
  case fmBmp: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { BmpReadStream(S, &D.Bitmap, 0, D.Params, R, false); };
  case fmTiff:
    return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) {
      int Count = 0;
      TiffReadStream(D.Bitmap, S, Count, false, false, D.Mask, false, R, &D.Params);
    };
  default: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { Jpeg2000ReadStream(S, D.Bitmap, D.Params, false, R); };
  }
}

enum TPicture { pcNoise, pcRuns, pcBits };

// Noise: every pixel differs from its neighbours. Runs: long stretches of
// one colour between noise. Bits: a 1-bit pattern.
void Paint(TRvBitmap& B, TPicture Kind, int W, int H) {
  B.Allocate(W, H, Kind == pcBits ? rvpf1Bit : rvpf24Bit);
  std::uint32_t S = 12345;
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < B.RowLen(); ++X) {
      S = S * 1103515245u + 12345u;
      B.Scanline(Y)[X] = Kind == pcRuns && X / 3 > 10 && X / 3 < W - 5 ? static_cast<std::uint8_t>(Y * 40 + X % 3)
                                                                       : static_cast<std::uint8_t>(S >> 16);
    }
}

// The first bytes of the written file, from offset At.
bool Has(const Bytes& Data, std::size_t At, std::initializer_list<int> Values) {
  for (int V : Values)
    if (At >= Data.size() || Data[At++] != V) return false;
  return true;
}

struct TRoundTrip {
  const char* Name;
  TFormat Format;
  TPicture Picture;
  int Bits, Samples;
  bool Mask;
  std::function<void(TIOParamsVals&)> Set;
  std::function<void(const Bytes&, TDecoded&, TIOParamsVals&)> Check;
};

TEST(CodecRoundTrip, EveryFormatAndLayoutKeepsItsPixels) {
  TLzwSlots Slots;
  const auto None = [](TIOParamsVals&) {};
  const auto Tiff = [](int Compression) { return [Compression](TIOParamsVals& P) { P.TiffCompression = static_cast<std::uint8_t>(Compression); }; };
  const TRoundTrip Cases[] = {
      {"png rgb", fmPng, pcNoise, 8, 3, false, None,
       [](const Bytes& F, TDecoded& D, TIOParamsVals&) {
         EXPECT_TRUE(Has(F, 24, {8, 2})); // depth, colour type
         EXPECT_EQ(D.Params.SamplesPerPixel, 3);
         EXPECT_TRUE(D.Mask->Full());
       }},
      {"png rgb interlaced", fmPng, pcNoise, 8, 3, false, [](TIOParamsVals& P) { P.PngInterlaced = true; },
       [](const Bytes&, TDecoded& D, TIOParamsVals&) { EXPECT_TRUE(D.Params.PngInterlaced); }},
      {"png alpha", fmPng, pcNoise, 8, 3, true, None,
       [](const Bytes&, TDecoded& D, TIOParamsVals&) {
         EXPECT_EQ(D.Params.SamplesPerPixel, 4);
         EXPECT_FALSE(D.Mask->Full());
       }},
      {"png alpha interlaced", fmPng, pcNoise, 8, 3, true, [](TIOParamsVals& P) { P.PngInterlaced = true; }, nullptr},
      {"png 1-bit", fmPng, pcBits, 1, 1, false, None,
       [](const Bytes& F, TDecoded& D, TIOParamsVals&) {
         EXPECT_TRUE(Has(F, 24, {1, 0})); // depth 1, gray
         EXPECT_EQ(D.Bitmap.PixelFormat(), rvpf1Bit);
       }},
      {"tga run-length", fmTga, pcRuns, 8, 3, false, None,
       [](const Bytes& F, TDecoded&, TIOParamsVals&) { EXPECT_EQ(F[2], 10); }},
      {"tga raw", fmTga, pcNoise, 8, 3, false, [](TIOParamsVals& P) { P.TgaCompressed = false; },
       [](const Bytes& F, TDecoded&, TIOParamsVals&) { EXPECT_EQ(F[2], 2); }},
      {"tga alpha", fmTga, pcNoise, 8, 3, true, None,
       [](const Bytes& F, TDecoded& D, TIOParamsVals& W) {
         // 32 bits with 8 alpha bits, run-length encoded as asked.
         EXPECT_TRUE(Has(F, 16, {32, 0x28}));
         EXPECT_EQ(F[2], 10);
         EXPECT_TRUE(W.TgaCompressed);
         EXPECT_FALSE(D.Mask->Full());
       }},
      {"bmp 24-bit", fmBmp, pcNoise, 8, 3, false, None, nullptr},
      {"bmp 64-byte header", fmBmp, pcNoise, 8, 3, false, [](TIOParamsVals& P) { P.BmpVersion = 3; },
       [](const Bytes&, TDecoded& D, TIOParamsVals&) { EXPECT_EQ(D.Params.BmpVersion, 3); }},
      {"bmp core header", fmBmp, pcNoise, 8, 3, false, [](TIOParamsVals& P) { P.BmpVersion = 2; },
       [](const Bytes&, TDecoded& D, TIOParamsVals&) { EXPECT_EQ(D.Params.BmpVersion, 2); }},
      {"bmp 1-bit", fmBmp, pcBits, 1, 1, false, None,
       [](const Bytes&, TDecoded& D, TIOParamsVals&) { EXPECT_EQ(D.Bitmap.PixelFormat(), rvpf1Bit); }},
      {"tiff none", fmTiff, pcNoise, 8, 3, false, Tiff(0), nullptr},
      {"tiff lzw", fmTiff, pcRuns, 8, 3, false, Tiff(5), nullptr},
      {"tiff packbits", fmTiff, pcRuns, 8, 3, false, Tiff(8), nullptr},
      {"tiff 1-bit none", fmTiff, pcBits, 1, 1, false, Tiff(0), nullptr},
      {"tiff 1-bit huffman", fmTiff, pcBits, 1, 1, false, Tiff(1), nullptr},
      {"tiff 1-bit g3", fmTiff, pcBits, 1, 1, false, Tiff(2), nullptr},
      {"tiff 1-bit g3 2d", fmTiff, pcBits, 1, 1, false, Tiff(3), nullptr},
      {"tiff 1-bit g4", fmTiff, pcBits, 1, 1, false, Tiff(4), nullptr},
      {"tiff 1-bit lzw", fmTiff, pcBits, 1, 1, false, Tiff(5), nullptr},
      {"tiff 1-bit packbits", fmTiff, pcBits, 1, 1, false, Tiff(8), nullptr},
      {"jp2", fmJp2, pcNoise, 8, 3, false, None,
       [](const Bytes& F, TDecoded& D, TIOParamsVals&) {
         platform::TBytesStream S(F.data(), static_cast<std::int64_t>(F.size()));
         EXPECT_TRUE(IsJp2Stream(S));
         EXPECT_EQ(D.Params.SamplesPerPixel, 3);
       }},
      {"j2k", fmJ2k, pcNoise, 8, 3, false, None,
       [](const Bytes& F, TDecoded&, TIOParamsVals&) {
         platform::TBytesStream S(F.data(), static_cast<std::int64_t>(F.size()));
         EXPECT_TRUE(IsJ2kCodeStream(S));
       }},
      {"jp2 16-bit samples", fmJp2, pcNoise, 16, 3, false, None,
       [](const Bytes&, TDecoded& D, TIOParamsVals&) { EXPECT_EQ(D.Params.BitsPerSample, 16); }},
      {"j2k 1-bit", fmJ2k, pcBits, 1, 1, false, None,
       [](const Bytes&, TDecoded& D, TIOParamsVals& W) {
         EXPECT_EQ(W.J2000ColorSpace, 0);
         EXPECT_EQ(D.Params.BitsPerSample, 1);
         EXPECT_EQ(D.Bitmap.PixelFormat(), rvpf1Bit);
       }},
  };
  for (const TRoundTrip& C : Cases)
    for (const auto& [W, H] : {std::pair{37, 23}, {1, 2}, {3, 4}, {66, 5}}) {
      SCOPED_TRACE(std::string(C.Name) + " " + std::to_string(W) + "x" + std::to_string(H));
      TRvBitmap Source;
      Paint(Source, C.Picture, W, H);
      TRvMask Mask;
      if (C.Mask) {
        Mask.Allocate(W, H, 8);
        for (int Y = 0; Y < H; ++Y)
          for (int X = 0; X < W; ++X) Mask.ScanLine(Y)[X] = static_cast<std::uint8_t>(X * 37 + Y * 11);
      }
      TIOParamsVals P;
      P.BitsPerSample = C.Bits;
      P.SamplesPerPixel = C.Samples;
      C.Set(P);
      TIOParamsVals Written;
      Written.Assign(P);
      const TDecodedPtr D = RoundTrip(Writer(C.Format), Reader(C.Format), Source, Written, C.Mask ? &Mask : nullptr);
      if (C.Check) C.Check(WriteBytes(Writer(C.Format), Source, P, C.Mask ? &Mask : nullptr), *D, Written);
    }
}

TEST(CodecBroken, CutAndDamagedFilesOfEveryWriterReadSafely) {
  TLzwSlots Slots;
  struct TCase {
    TFormat Format;
    TPicture Picture;
    int Bits, Samples, Compression;
    bool Mask;
  } Cases[] = {{fmPng, pcNoise, 8, 3, 1, true},  {fmPng, pcNoise, 8, 1, 0, false}, {fmPng, pcBits, 1, 1, 0, false},
               {fmTga, pcRuns, 8, 3, 1, false},  {fmTga, pcNoise, 8, 3, 0, true},  {fmTga, pcRuns, 8, 1, 1, false},
               {fmBmp, pcRuns, 8, 1, 1, false},  {fmBmp, pcRuns, 4, 1, 1, false},  {fmBmp, pcNoise, 8, 3, 0, false},
               {fmTiff, pcRuns, 8, 3, 5, false}, {fmTiff, pcBits, 1, 1, 4, false}, {fmTiff, pcBits, 1, 1, 3, false},
               {fmTiff, pcRuns, 8, 3, 8, false}, {fmJp2, pcNoise, 8, 3, 0, false}, {fmJ2k, pcNoise, 8, 3, 0, false}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Format) + " " + std::to_string(C.Bits) + "/" + std::to_string(C.Samples));
    TRvBitmap Source;
    Paint(Source, C.Picture, 23, 17);
    TRvMask Mask;
    if (C.Mask) {
      Mask.Allocate(23, 17, 8);
      Mask.Fill(100);
    }
    TIOParamsVals P;
    P.BitsPerSample = C.Bits;
    P.SamplesPerPixel = C.Samples;
    P.PngInterlaced = C.Compression != 0;
    P.TgaCompressed = C.Compression != 0;
    P.BmpCompression = static_cast<std::uint8_t>(C.Compression);
    P.TiffCompression = static_cast<std::uint8_t>(C.Compression);
    ExpectDamageIsSafe(Reader(C.Format), WriteBytes(Writer(C.Format), Source, P, C.Mask ? &Mask : nullptr));
  }
}

} // namespace
