#include <gtest/gtest.h>

#include <cstring>
#include <zlib.h>

#include "image/io/png/rvpng.h"
#include "image/io/codectest_util.h"
#include "image/io/rvsafeio.h"
#include "libcodecs_testutil.h"

using namespace libcodecs_test;
using rv::TIOParamsVals;
using rv::TRvBitmap;
using rv::TRvMask;

namespace {

void PutU32(Bytes& B, std::uint32_t V) {
  for (int S = 24; S >= 0; S -= 8) B.push_back(static_cast<std::uint8_t>(V >> S));
}

void PutChunk(Bytes& File, const char* Type, const Bytes& Data) {
  PutU32(File, static_cast<std::uint32_t>(Data.size()));
  Bytes Body(Type, Type + 4);
  Body.insert(Body.end(), Data.begin(), Data.end());
  File.insert(File.end(), Body.begin(), Body.end());
  PutU32(File, static_cast<std::uint32_t>(crc32(0, Body.data(), static_cast<uInt>(Body.size()))));
}

// A PNG file built by hand: Raw holds the filtered rows (each with its
// filter byte), Extra the chunks between IHDR and IDAT, After those after it.
Bytes MakePng(int W, int H, int Depth, int ColorType, const Bytes& Raw,
              const std::vector<std::pair<const char*, Bytes>>& Extra = {},
              const std::vector<std::pair<const char*, Bytes>>& After = {}) {
  Bytes File = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes Ihdr;
  PutU32(Ihdr, static_cast<std::uint32_t>(W));
  PutU32(Ihdr, static_cast<std::uint32_t>(H));
  Ihdr.push_back(static_cast<std::uint8_t>(Depth));
  Ihdr.push_back(static_cast<std::uint8_t>(ColorType));
  Ihdr.push_back(0); // deflate
  Ihdr.push_back(0); // adaptive filtering
  Ihdr.push_back(0); // not interlaced
  PutChunk(File, "IHDR", Ihdr);
  for (const auto& [Type, Data] : Extra) PutChunk(File, Type, Data);
  uLongf Len = compressBound(static_cast<uLong>(Raw.size()));
  Bytes Z(Len);
  compress(Z.data(), &Len, Raw.data(), static_cast<uLong>(Raw.size()));
  Z.resize(Len);
  PutChunk(File, "IDAT", Z);
  for (const auto& [Type, Data] : After) PutChunk(File, Type, Data);
  PutChunk(File, "IEND", {});
  return File;
}

struct TRead {
  TRvBitmap Bmp;
  TIOParamsVals Params;
  std::unique_ptr<TRvMask> Mask;
  bool Ok = false;
};

void Read(const Bytes& Data, TRead& R, bool HeaderOnly = false, bool UseBackground = false) {
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  TProgress P;
  rv::PngReadStream(S, R.Bmp, R.Params, P.Rec, HeaderOnly, R.Mask, UseBackground);
  R.Ok = !P.Aborted();
}

// A read at a wished size, as the thumbnail loader asks.
void ReadWished(const Bytes& Data, TRead& R, int Width, int Height) {
  R.Params.JpegScale = 0;
  R.Params.Width = Width;
  R.Params.Height = Height;
  Read(Data, R);
}

Bytes Write(TRvBitmap& Bmp, TIOParamsVals& Params, const TRvMask* Mask = nullptr) {
  platform::TMemoryStream S;
  TProgress P;
  rv::PngWriteStream(S, Bmp, Params, Mask, P.Rec);
  EXPECT_FALSE(P.Aborted());
  return S.Data();
}

// The chunks of a file by type, in order.
std::vector<std::pair<std::string, Bytes>> Chunks(const Bytes& File) {
  std::vector<std::pair<std::string, Bytes>> Out;
  std::size_t P = 8;
  while (P + 12 <= File.size()) {
    const std::uint32_t Len = File[P] << 24 | File[P + 1] << 16 | File[P + 2] << 8 | File[P + 3];
    Out.emplace_back(std::string(File.begin() + P + 4, File.begin() + P + 8),
                     Bytes(File.begin() + P + 8, File.begin() + P + 8 + Len));
    P += 12 + Len;
  }
  return Out;
}

Bytes Chunk(const Bytes& File, const std::string& Type) {
  for (auto& [T, D] : Chunks(File))
    if (T == Type) return D;
  return {};
}

Bytes Inflated(const Bytes& File) {
  Bytes Z;
  for (auto& [T, D] : Chunks(File))
    if (T == "IDAT") Z.insert(Z.end(), D.begin(), D.end());
  Bytes Raw(1 << 20);
  uLongf Len = static_cast<uLongf>(Raw.size());
  EXPECT_EQ(uncompress(Raw.data(), &Len, Z.data(), static_cast<uLong>(Z.size())), Z_OK);
  Raw.resize(Len);
  return Raw;
}

void FillMask(TRvMask& Mask, int W, int H) {
  Mask.Allocate(W, H, 8);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) Mask.ScanLine(Y)[X] = static_cast<std::uint8_t>((X * 37 + Y * 11) % 256);
  Mask.SetFull(false);
}

} // namespace

// ---- Hand-built files

TEST(PngProbe, SignatureOnlyAndPositionKept) {
  const Bytes Good = MakePng(1, 1, 8, 0, {0, 0});
  platform::TBytesStream S(Good.data(), static_cast<std::int64_t>(Good.size()));
  EXPECT_TRUE(rv::IsPngStream(S));
  EXPECT_EQ(S.Position(), 0);
  Bytes Bad = Good;
  Bad[1] = 'Q';
  platform::TBytesStream T(Bad.data(), static_cast<std::int64_t>(Bad.size()));
  EXPECT_FALSE(rv::IsPngStream(T));
  platform::TBytesStream Short(Good.data(), 5);
  EXPECT_FALSE(rv::IsPngStream(Short));
}

TEST(PngRead, EveryColourTypeToPixelsAndMask) {
  const Bytes Rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255}, Bw = {0, 0, 0, 255, 255, 255}, Dark = {200, 10, 10, 10, 10, 200};
  struct TCase {
    const char* Name;
    int Width, Depth, Type;
    Bytes Raw;
    std::vector<std::pair<const char*, Bytes>> Chunks;
    int Bits, Samples;
    std::vector<std::uint32_t> Pixels; // 0x00RRGGBB
    std::vector<int> Alpha;            // empty: the mask stays full
  } Cases[] = {
      {"16-bit RGB keeps the high bytes", 2, 16, 2, {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF, 0, 0, 0x80, 0}, {},
       16, 3, {0x12569A, 0xFF0080}, {}},
      {"palette with tRNS", 3, 8, 3, {0, 0, 1, 2}, {{"PLTE", Rgb}, {"tRNS", {0, 128}}}, 8, 1,
       {0xFF0000, 0x00FF00, 0x0000FF}, {0, 128, 255}},
      {"black and white palette stays 1-bit", 4, 1, 3, {0, 0xA0}, {{"PLTE", Bw}}, 1, 1, {0xFFFFFF, 0, 0xFFFFFF, 0}, {}},
      {"two other colours keep them", 4, 1, 3, {0, 0x40}, {{"PLTE", Dark}}, 1, 1,
       {0xC80A0A, 0x0A0AC8, 0xC80A0A, 0xC80A0A}, {}},
      {"gray and alpha", 2, 8, 4, {0, 10, 255, 200, 0}, {}, 8, 2, {0x0A0A0A, 0xC8C8C8}, {255, 0}},
      {"2-bit gray is spread", 4, 2, 0, {0, 0x1B}, {}, 2, 1, {0, 0x555555, 0xAAAAAA, 0xFFFFFF}, {}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRead R;
    Read(MakePng(C.Width, 1, C.Depth, C.Type, C.Raw, C.Chunks), R);
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(R.Params.BitsPerSample, C.Bits);
    EXPECT_EQ(R.Params.SamplesPerPixel, C.Samples);
    EXPECT_EQ(R.Bmp.PixelFormat(), C.Depth == 1 && C.Pixels[1] == 0 ? rv::rvpf1Bit : rv::rvpf24Bit);
    EXPECT_EQ(R.Params.ColorMapCount, C.Type == 3 ? static_cast<int>(C.Chunks[0].second.size() / 3) : 0);
    EXPECT_EQ(R.Mask->Full(), C.Alpha.empty());
    for (int X = 0; X < C.Width; ++X) {
      int P[3];
      codectest::OurPixel(R.Bmp, X, 0, P);
      EXPECT_EQ(static_cast<std::uint32_t>(P[0] << 16 | P[1] << 8 | P[2]), C.Pixels[static_cast<std::size_t>(X)]) << X;
      EXPECT_EQ(R.Mask->ScanLine(0)[X], C.Alpha.empty() ? 255 : C.Alpha[static_cast<std::size_t>(X)]) << X;
    }
  }
}

TEST(PngRead, AWishedSizeAveragesBoxesWhileDecoding) {
  // 5 x 3 RGBA, wished 2 x 1: factor min(5 / 2, 3 / 1) = 2, so 3 x 2 boxes,
  // the last column and row of boxes only partly filled.
  Bytes Raw;
  for (int Y = 0; Y < 3; ++Y) {
    Raw.push_back(0);
    for (int X = 0; X < 5; ++X) {
      const int V = 10 * (5 * Y + X);
      Raw.insert(Raw.end(), {static_cast<std::uint8_t>(V), static_cast<std::uint8_t>(255 - V), 7,
                             static_cast<std::uint8_t>(X == 4 ? 0 : 255)});
    }
  }
  const Bytes File = MakePng(5, 3, 8, 6, Raw);
  TRead R;
  ReadWished(File, R, 2, 1);
  ASSERT_TRUE(R.Ok);
  ASSERT_EQ(R.Bmp.Width(), 3);
  ASSERT_EQ(R.Bmp.Height(), 2);
  EXPECT_EQ(R.Params.Width, 3);
  EXPECT_EQ(R.Params.UnscaledWidth, 5);
  EXPECT_EQ(R.Params.UnscaledHeight, 3);
  // Red of box (x, y): the rounded mean of 10 x (5 row + column) over it.
  const int Red[2][3] = {{30, 50, 65}, {105, 125, 140}};
  const int Alpha[2][3] = {{255, 255, 0}, {255, 255, 0}};
  for (int Y = 0; Y < 2; ++Y)
    for (int X = 0; X < 3; ++X) {
      int P[3];
      codectest::OurPixel(R.Bmp, X, Y, P);
      EXPECT_EQ(P[0], Red[Y][X]) << X << "," << Y;
      EXPECT_EQ(P[1], 255 - Red[Y][X]) << X << "," << Y;
      EXPECT_EQ(P[2], 7);
      EXPECT_EQ(R.Mask->ScanLine(Y)[X], Alpha[Y][X]) << X << "," << Y;
    }
  // Without the automatic scale, or for a 1-bit picture, the file's size.
  TRead Full;
  Full.Params.Width = 2;
  Full.Params.Height = 1;
  Read(File, Full);
  EXPECT_EQ(Full.Bmp.Width(), 5);
  TRead Mono;
  ReadWished(MakePng(16, 2, 1, 0, {0, 0xF0, 0x0F, 0, 0xFF, 0x00}), Mono, 1, 1);
  EXPECT_EQ(Mono.Bmp.Width(), 16);
  EXPECT_EQ(Mono.Bmp.PixelFormat(), rv::rvpf1Bit);
  // A preview does not check the data's CRC; a full read does.
  Bytes Damaged = File;
  Damaged[Damaged.size() - 13] ^= 0x5A; // the IDAT chunk's CRC, before IEND
  TRead Preview;
  ReadWished(Damaged, Preview, 2, 1);
  EXPECT_TRUE(Preview.Ok);
  EXPECT_EQ(Preview.Bmp.Width(), 3);
  TRead Whole;
  Read(Damaged, Whole);
  EXPECT_FALSE(Whole.Ok);
}

TEST(PngRead, ResolutionFromPhysOrTheDefault) {
  Bytes Phys;
  PutU32(Phys, 11811); // pixels per metre: 299.9994 dpi
  PutU32(Phys, 3937);  // 99.9998 dpi
  Phys.push_back(1);
  TRead R;
  Read(MakePng(1, 1, 8, 0, {0, 0}, {{"pHYs", Phys}}), R, true);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.DpiX, 300);
  EXPECT_EQ(R.Params.DpiY, 100);
  EXPECT_TRUE(R.Params.DpiStated);
  // A pHYs of unknown unit gives the pixels' shape, no resolution.
  Phys.back() = 0;
  TRead Shape;
  Read(MakePng(1, 1, 8, 0, {0, 0}, {{"pHYs", Phys}}), Shape, true);
  EXPECT_FALSE(Shape.Params.DpiStated);
  const std::int32_t SavedX = rv::RvDefaultDpiX;
  const std::int32_t SavedY = rv::RvDefaultDpiY;
  rv::RvDefaultDpiX = 72;
  rv::RvDefaultDpiY = 73;
  TRead N;
  Read(MakePng(1, 1, 8, 0, {0, 0}), N, true);
  rv::RvDefaultDpiX = SavedX;
  rv::RvDefaultDpiY = SavedY;
  EXPECT_EQ(N.Params.DpiX, 72);
  EXPECT_EQ(N.Params.DpiY, 73);
  EXPECT_FALSE(N.Params.DpiStated);
}

TEST(PngRead, HeaderOnlyLeavesTheBitmap) {
  TRead R;
  R.Bmp.Allocate(2, 2, rv::rvpf8BitGray);
  Read(MakePng(5, 3, 8, 2, Bytes(3 * 16, 0)), R, true, true);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.Width, 5);
  EXPECT_EQ(R.Params.Height, 3);
  EXPECT_EQ(R.Bmp.Width(), 2);
  // Nor the mask, which the program's header reads pass as well: a header
  // of 16384 x 16384 RGBA is no reason to allocate 256 MB.
  TRead Big;
  Read(MakePng(16384, 16384, 8, 6, {}), Big, true, false);
  ASSERT_TRUE(Big.Ok);
  EXPECT_EQ(Big.Params.Width, 16384);
  EXPECT_EQ(Big.Params.SamplesPerPixel, 4);
  EXPECT_EQ(Big.Mask, nullptr);
  Big.Mask = std::make_unique<TRvMask>();
  Big.Mask->Allocate(3, 2, 8);
  Read(MakePng(16384, 16384, 8, 6, {}), Big, true, false);
  EXPECT_EQ(Big.Mask->Width(), 3);
  // A read that decodes still gets a mask of the picture's size.
  TRead Small;
  Read(MakePng(5, 3, 8, 6, Bytes(3 * 21, 0)), Small);
  ASSERT_TRUE(Small.Ok);
  ASSERT_NE(Small.Mask, nullptr);
  EXPECT_EQ(Small.Mask->Width(), 5);
  EXPECT_EQ(Small.Mask->Height(), 3);
}

TEST(PngRead, BackgroundOfTheFileInItsOwnDepth) {
  // RGBA pixel half transparent white over a bKGD of (0, 0, 200).
  Bytes Bkgd;
  for (int V : {0, 0, 0, 0, 0, 200}) Bkgd.push_back(static_cast<std::uint8_t>(V));
  const Bytes Raw = {0, 255, 255, 255, 0};
  TRead R;
  Read(MakePng(1, 1, 8, 6, Raw, {{"bKGD", Bkgd}}), R, false, true);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.PngBackground.b, 200);
  EXPECT_EQ(R.Params.PngBackground.r, 0);
  EXPECT_EQ(Px(R.Bmp, 0, 0)[0], 200); // fully transparent: the background
  EXPECT_EQ(Px(R.Bmp, 0, 0)[2], 0);
}

TEST(PngRead, BackgroundOfTheRecordWhenTheFileHasNone) {
  const Bytes Raw = {0, 255, 255, 255, 0, 10, 20, 30, 255};
  TRead R;
  R.Params.PngBackground = rv::TRGB{5, 6, 7};
  Read(MakePng(2, 1, 8, 6, Raw), R, false, true);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(Px(R.Bmp, 0, 0)[0], 5);
  EXPECT_EQ(Px(R.Bmp, 0, 0)[2], 7);
  EXPECT_EQ(Px(R.Bmp, 1, 0)[2], 10);
  EXPECT_FALSE(R.Mask);

  // 16-bit gray with alpha: transparent over the record's gray.
  const Bytes Raw16 = {0, 0x12, 0x34, 0, 0};
  TRead G;
  G.Params.PngBackground = rv::TRGB{100, 100, 100};
  Read(MakePng(1, 1, 16, 4, Raw16), G, false, true);
  ASSERT_TRUE(G.Ok);
  EXPECT_EQ(Px(G.Bmp, 0, 0)[0], 100);
  EXPECT_EQ(Px(G.Bmp, 0, 0)[2], 100);
}

// ---- Writing

TEST(PngWrite, FullMaskCountsAsNone) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 5, 5);
  TRvMask Mask;
  Mask.Allocate(5, 5, 8);
  Mask.Fill(255);
  TIOParamsVals W;
  const Bytes Data = Write(Bmp, W, &Mask);
  EXPECT_EQ(Chunk(Data, "IHDR")[9], 2); // RGB, no alpha
}

TEST(PngWrite, OneBitWithThreeSamplesWritesGrayNotOverrun) {
  TRvBitmap Bmp;
  Bmp.Allocate(40, 3, rv::rvpf1Bit);
  for (int Y = 0; Y < 3; ++Y) std::memset(Bmp.Scanline(Y), 0xF0, static_cast<std::size_t>(Bmp.RowLen()));
  TIOParamsVals W;
  W.BitsPerSample = 1;
  W.SamplesPerPixel = 3;
  const Bytes Data = Write(Bmp, W);
  EXPECT_EQ(Chunk(Data, "IHDR")[9], 0);
  TRead R;
  Read(Data, R);
  ASSERT_TRUE(R.Ok);
  EXPECT_TRUE(BitAt(R.Bmp, 0, 2));
  EXPECT_FALSE(BitAt(R.Bmp, 4, 2));
}

// Its own two colours, each with its alpha, in a palette of two entries;
// black and white as 1-bit gray.
TEST(PngWrite, TwoColourPictureBecomesOneBit) {
  TRvBitmap Bmp;
  Bmp.Allocate(8, 2, rv::rvpf24Bit);
  for (int Y = 0; Y < 2; ++Y)
    for (int X = 0; X < 8; ++X) std::memset(Bmp.Scanline(Y) + 3 * X, X < 4 ? 30 : 220, 3);
  TRvMask Mask;
  Mask.Allocate(8, 2, 8);
  Mask.Fill(255);
  for (int X = 4; X < 8; ++X) Mask.ScanLine(1)[X] = Mask.ScanLine(0)[X] = 100;
  Mask.SetFull(false);
  TIOParamsVals W;
  W.BitsPerSample = 1;
  const Bytes Data = Write(Bmp, W, &Mask);
  EXPECT_EQ(Chunk(Data, "IHDR")[8], 1);
  EXPECT_EQ(Chunk(Data, "PLTE"), (Bytes{30, 30, 30, 220, 220, 220}));
  EXPECT_EQ(Chunk(Data, "tRNS"), (Bytes{255, 100}));
  TRead R;
  Read(Data, R);
  ASSERT_TRUE(R.Ok);
  ExpectSame24(Bmp, R.Bmp);
  EXPECT_EQ(R.Mask->ScanLine(1)[7], 100);
  for (int Y = 0; Y < 2; ++Y)
    for (int X = 0; X < 8; ++X) std::memset(Bmp.Scanline(Y) + 3 * X, X < 4 ? 0 : 255, 3);
  Read(Write(Bmp, W), R);
  EXPECT_EQ(R.Bmp.PixelFormat(), rv::rvpf1Bit);
  EXPECT_FALSE(BitAt(R.Bmp, 0, 0));
  EXPECT_TRUE(BitAt(R.Bmp, 7, 1));
}

// A gradient of 20 by 20 pixels as an 8-bit palette picture, and a mask
// for it opaque but at (5, 4).
void PaletteGradient(TRvBitmap& Bmp, TIOParamsVals& W) {
  MakeGradient(Bmp, 20, 20);
  W.SamplesPerPixel = 1;
  W.BitsPerSample = 8;
}
void AllButOneOpaque(TRvMask& Mask, std::uint8_t Alpha) {
  Mask.Allocate(20, 20, 8);
  Mask.Fill(255);
  Mask.ScanLine(4)[5] = Alpha;
  Mask.SetFull(false);
}

TEST(PngWrite, PaletteStartsWithTheBackgroundAndMarksItTransparent) {
  TRvBitmap Bmp;
  TIOParamsVals W;
  PaletteGradient(Bmp, W);
  W.PngBackground = rv::TRGB{1, 2, 3};
  const Bytes Plain = Write(Bmp, W);
  const Bytes Plte = Chunk(Plain, "PLTE");
  ASSERT_EQ(Plte.size(), 256u * 3);
  EXPECT_EQ(Plte[0], 3); // red first in the file
  EXPECT_EQ(Plte[1], 2);
  EXPECT_EQ(Plte[2], 1);
  EXPECT_TRUE(Chunk(Plain, "tRNS").empty());
  EXPECT_TRUE(Chunk(Plain, "bKGD").empty()); // none, as the file had none
  TRead R;
  Read(Plain, R);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.ColorMapCount, 256);
  // A quantised palette: close on the whole, not exact.
  std::int64_t Sum = 0;
  for (int Y = 0; Y < 20; ++Y)
    for (int X = 0; X < 60; ++X) Sum += std::abs(Bmp.Scanline(Y)[X] - R.Bmp.Scanline(Y)[X]);
  EXPECT_LE(Sum / (20 * 60), 12);

  TRvMask Mask;
  AllButOneOpaque(Mask, 254);
  const Bytes WithMask = Write(Bmp, W, &Mask);
  EXPECT_EQ(Chunk(WithMask, "tRNS"), Bytes{0});
  const Bytes Raw = Inflated(WithMask);
  // Rows of 1 filter byte + 20 indices; only pixel (5, 4) uses entry 0.
  int Zeros = 0;
  for (int Y = 0; Y < 20; ++Y)
    for (int X = 0; X < 20; ++X)
      if (Raw[static_cast<std::size_t>(Y * 21 + 1 + X)] == 0) ++Zeros;
  EXPECT_EQ(Zeros, 1);
  EXPECT_EQ(Raw[4 * 21 + 1 + 5], 0);
}

// A palette file of partial alphas whose picture no longer fits it (resized)
// keeps every alpha, not one transparent entry.
TEST(PngWrite, PartialAlphasOfAPaletteThePictureOutgrewGoAsRGBA) {
  TRvBitmap Bmp;
  TIOParamsVals W;
  PaletteGradient(Bmp, W);
  const rv::TRGB Two[2] = {{0, 0, 0}, {255, 255, 255}};
  W.SetColorMap(Two, 2);
  rv::TRvPngChunk Trns;
  std::memcpy(Trns.Type.data(), "tRNS", 4);
  Trns.Data = {128, 255};
  W.PngChunks.push_back(Trns);
  TRvMask Mask;
  AllButOneOpaque(Mask, 128);
  const Bytes File = Write(Bmp, W, &Mask);
  EXPECT_EQ(Chunk(File, "IHDR").at(9), 6);
  TRead R;
  Read(File, R);
  ASSERT_TRUE(R.Ok && R.Mask);
  EXPECT_EQ(R.Mask->ScanLine(4)[5], 128);
  EXPECT_EQ(R.Mask->ScanLine(4)[6], 255);
}

TEST(PngWrite, FewColoursKeepTheirColoursExactly) {
  TRvBitmap Bmp;
  Bmp.Allocate(6, 6, rv::rvpf24Bit);
  const std::uint8_t Colors[3][3] = {{10, 20, 30}, {200, 100, 0}, {7, 7, 250}};
  for (int Y = 0; Y < 6; ++Y)
    for (int X = 0; X < 6; ++X) std::memcpy(Bmp.Scanline(Y) + 3 * X, Colors[(X + Y) % 3], 3);
  TIOParamsVals W;
  W.SamplesPerPixel = 1;
  W.BitsPerSample = 2;
  const Bytes Data = Write(Bmp, W);
  EXPECT_EQ(Chunk(Data, "PLTE").size(), 5u * 3); // background + 4 entries
  TRead R;
  Read(Data, R);
  ASSERT_TRUE(R.Ok);
  ExpectSame24(Bmp, R.Bmp);
}

TEST(PngWrite, FilterChoiceAppliesToEveryRow) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 10, 9);
  for (int Filter : {0, 1, 2}) {
    TIOParamsVals W;
    W.PngFilter = static_cast<std::uint8_t>(Filter);
    const Bytes Raw = Inflated(Write(Bmp, W));
    ASSERT_EQ(Raw.size(), 9u * 31);
    const int Expected = Filter == 2 ? 4 : Filter; // Paeth is filter type 4
    for (int Y = 0; Y < 9; ++Y) ASSERT_EQ(Raw[static_cast<std::size_t>(Y * 31)], Expected);
  }
}

TEST(PngWrite, ResolutionAndBackgroundChunks) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 4, 4);
  TIOParamsVals W;
  W.DpiX = 300;
  W.DpiY = 72;
  W.PngBackground = rv::TRGB{30, 20, 10};
  // The window's colour is no background of the file's, nor a resolution
  // the file did not state.
  W.DpiStated = false;
  const Bytes Bare = Write(Bmp, W);
  EXPECT_TRUE(Chunk(Bare, "bKGD").empty());
  EXPECT_TRUE(Chunk(Bare, "pHYs").empty());
  W.DpiStated = true;
  W.PngChunks.push_back({{'b', 'K', 'G', 'D'}, 1, {0, 10, 0, 20, 0, 30}});
  const Bytes Data = Write(Bmp, W);
  const Bytes Phys = Chunk(Data, "pHYs");
  ASSERT_EQ(Phys.size(), 9u);
  EXPECT_EQ(Phys[0] << 24 | Phys[1] << 16 | Phys[2] << 8 | Phys[3], 11811); // Round(300 x 100 / 2.54)
  EXPECT_EQ(Phys[4] << 24 | Phys[5] << 16 | Phys[6] << 8 | Phys[7], 2835);
  EXPECT_EQ(Phys[8], 1);
  // Samples of the picture's own depth: 8 bits, red first.
  EXPECT_EQ(Chunk(Data, "bKGD"), (Bytes{0, 10, 0, 20, 0, 30}));
}

TEST(PngWrite, ShortWriteSetsTheFlag) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 200, 100);
  TIOParamsVals W;
  TShortStream S(500);
  TProgress P;
  rv::PngWriteStream(S, Bmp, W, nullptr, P.Rec);
  EXPECT_TRUE(P.Aborted());
}

TEST(PngWrite, LibraryErrorRaises) {
  TRvBitmap Empty;
  TIOParamsVals W;
  platform::TMemoryStream S;
  TProgress P;
  EXPECT_THROW(rv::PngWriteStream(S, Empty, W, nullptr, P.Rec), rv::EInvalidGraphic);
}

// ---- Broken input

TEST(PngBroken, TruncatedFileFailsWithTheRowsReadSoFar) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 64, 64);
  TIOParamsVals W;
  W.PngCompression = 0;
  Bytes Data = Write(Bmp, W);
  Data.resize(Data.size() / 2);
  TRead R;
  Read(Data, R);
  EXPECT_FALSE(R.Ok);
  ASSERT_EQ(R.Bmp.Height(), 64);
  EXPECT_EQ(Px(R.Bmp, 3, 1)[2], Px(Bmp, 3, 1)[2]);
  EXPECT_EQ(Px(R.Bmp, 3, 63)[2], 0);
}

TEST(PngBroken, PixelCapRefusesBeforeAllocating) {
  const Bytes Data = MakePng(5000, 5000, 8, 0, {0, 0});
  const std::int64_t Saved = rv::RvMaxPixels();
  rv::RvSetMaxPixels(1000000);
  TRead R;
  Read(Data, R);
  TRead H;
  Read(Data, H, true, true);
  rv::RvSetMaxPixels(Saved);
  EXPECT_FALSE(R.Ok);
  EXPECT_EQ(R.Bmp.Width(), 0);
  EXPECT_TRUE(H.Ok); // the header alone allocates nothing
  EXPECT_EQ(H.Params.Width, 5000);
}

// ---- Other programs

TEST(PngInterop, ReadsFilesOfTheReferenceTools) {
  CODECTEST_NEED_TOOLS("convert", "pnmtopng");
  testing_support::TTempFolder Dir;
  const std::string In = Dir.File("in.ppm"), Gray = Dir.File("gray.pgm"), Out = Dir.File("t.png");
  ASSERT_TRUE(RunTool("convert -size 31x21 plasma:fractal -seed 4 -depth 16 " + In +
                      " && convert -size 31x21 gradient:black-white -depth 8 " + Gray));
  const struct {
    std::string Command;
    int Bits;
  } Cases[] = {
      {"convert " + In + " PNG24:" + Out, 8},
      {"convert " + In + " -depth 16 PNG48:" + Out, 16},
      {"convert " + In + " -interlace PNG PNG24:" + Out, 8},
      {"convert " + Gray + " -define png:color-type=0 -define png:bit-depth=8 " + Out, 8},
      {"convert " + Gray + " -depth 16 -define png:color-type=0 -define png:bit-depth=16 " + Out, 16},
      {"convert " + In + " -colors 40 PNG8:" + Out, 8},
      {"convert " + In + " +dither -colors 3 -define png:bit-depth=2 -define png:color-type=3 " + Out, 2},
      {"convert " + Gray + " -depth 2 -define png:bit-depth=2 -define png:color-type=0 " + Out, 2},
      {"pnmtopng " + Gray + " > " + Out, 8},
      {"pnmtopng -interlace " + In + " > " + Out, 16},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Command);
    ASSERT_TRUE(RunTool(C.Command));
    TRead R;
    Read(ReadFile(Out), R);
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(R.Params.BitsPerSample, C.Bits);
    // 16-bit samples keep their high byte where ImageMagick rounds.
    codectest::ExpectMatches(R.Bmp, R.Mask.get(), codectest::Reference(Out), C.Bits == 16 ? 1 : 0);
  }
}

TEST(PngInterop, ColourKeysBecomeAlphaAtEveryDepth) {
  LIBCODECS_NEED_TOOL("convert");
  testing_support::TTempFolder Dir;
  const std::string File = Dir.File("key.png");
  for (const auto& [Type, Depth] : {std::pair{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}}) {
    SCOPED_TRACE(std::to_string(Type) + "/" + std::to_string(Depth));
    ASSERT_TRUE(RunTool("convert -size 9x5 xc:white -fill black -draw 'rectangle 0,0 3,2' -fill gray50 "
                        "-draw 'point 7,3' -transparent black -define png:color-type=" + std::to_string(Type) +
                        " -define png:bit-depth=" + std::to_string(Depth) + " " + File));
    ASSERT_EQ(Chunk(ReadFile(File), "tRNS").size(), Type == 0 ? 2u : 6u);
    TRead R;
    Read(ReadFile(File), R);
    ASSERT_TRUE(R.Ok);
    EXPECT_FALSE(R.Mask->Full());
    codectest::ExpectMatches(R.Bmp, R.Mask.get(), codectest::Reference(File));
  }
}

TEST(PngInterop, ToolsReadOurFiles) {
  LIBCODECS_NEED_TOOL("pngcheck");
  LIBCODECS_NEED_TOOL("pngtopnm");
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp;
  MakeNoise(Bmp, 33, 27);
  TRvMask Mask;
  FillMask(Mask, 33, 27);
  struct TCase {
    bool Interlaced;
    int Filter;
    bool Alpha;
  };
  for (const TCase C : {TCase{false, 0, false}, TCase{true, 2, false}, TCase{false, 1, true},
                        TCase{true, 9, true}}) {
    TIOParamsVals W;
    W.PngInterlaced = C.Interlaced;
    W.PngFilter = static_cast<std::uint8_t>(C.Filter);
    W.PngCompression = 9;
    WriteFile(Dir.File("ours.png"), Write(Bmp, W, C.Alpha ? &Mask : nullptr));
    ASSERT_TRUE(RunTool("pngcheck -q " + Dir.File("ours.png")));
    ASSERT_TRUE(RunTool("pngtopnm " + Dir.File("ours.png") + " > " + Dir.File("ref.ppm")));
    TRvBitmap Ref;
    ASSERT_TRUE(ReadPnm(Dir.File("ref.ppm"), Ref));
    ExpectSame24(Bmp, Ref);
    if (C.Alpha) {
      ASSERT_TRUE(RunTool("pngtopnm -alpha " + Dir.File("ours.png") + " > " + Dir.File("a.pgm")));
      TRvBitmap Alpha;
      ASSERT_TRUE(ReadPnm(Dir.File("a.pgm"), Alpha));
      for (int Y = 0; Y < 27; ++Y)
        for (int X = 0; X < 33; ++X) ASSERT_EQ(Px(Alpha, X, Y)[0], Mask.ScanLine(Y)[X]);
    }
  }
  // The palette and 1-bit kinds, checked by the validator and by pixels.
  TIOParamsVals Pal;
  Pal.SamplesPerPixel = 1;
  WriteFile(Dir.File("pal.png"), Write(Bmp, Pal, &Mask));
  EXPECT_TRUE(RunTool("pngcheck -q " + Dir.File("pal.png")));
  TRvBitmap One;
  One.Allocate(19, 5, rv::rvpf1Bit);
  for (int Y = 0; Y < 5; ++Y) std::memset(One.Scanline(Y), 0x33 * Y, 4);
  TIOParamsVals Bw;
  Bw.BitsPerSample = 1;
  WriteFile(Dir.File("bw.png"), Write(One, Bw));
  ASSERT_TRUE(RunTool("pngcheck -q " + Dir.File("bw.png")));
  ASSERT_TRUE(RunTool("pngtopnm " + Dir.File("bw.png") + " > " + Dir.File("bw.pbm")));
  TRvBitmap Ref;
  ASSERT_TRUE(ReadPnm(Dir.File("bw.pbm"), Ref));
  for (int Y = 0; Y < 5; ++Y)
    for (int X = 0; X < 19; ++X) ASSERT_EQ(Px(Ref, X, Y)[0], BitAt(One, X, Y) ? 255 : 0);
}

// A gray file's picture goes back as gray, every shade of it: a palette
// holds 255 of 256. A colour profile goes back byte for byte, where its
// colour space fits the colour type written.
TEST(PngWrite, AGrayFileStaysGrayWithItsProfile) {
  Bytes Raw;
  for (int Y = 0; Y < 2; ++Y) {
    Raw.push_back(0);
    for (int X = 0; X < 256; ++X) Raw.push_back(static_cast<std::uint8_t>(Y == 0 ? X : 255 - X));
  }
  // A profile header of a gray space; the rest of a profile is not looked at here.
  Bytes Profile(132, 0);
  Profile[3] = 132;
  std::memcpy(Profile.data() + 12, "mntrGRAYXYZ ", 12);
  std::memcpy(Profile.data() + 36, "acsp", 4);
  const Bytes Gray = MakePng(256, 2, 8, 0, Raw);
  TRead R;
  Read(Gray, R);
  ASSERT_TRUE(R.Ok);
  ASSERT_EQ(R.Params.SamplesPerPixel, 1);
  for (const bool WithProfile : {false, true}) {
    SCOPED_TRACE(WithProfile);
    R.Params.IccProfile = WithProfile ? Profile : Bytes();
    const Bytes Written = Write(R.Bmp, R.Params);
    EXPECT_EQ(Chunk(Written, "IHDR")[9], 0); // gray
    EXPECT_EQ(Inflated(Written), Raw);
    EXPECT_EQ(!Chunk(Written, "iCCP").empty(), WithProfile);
  }
  // An RGB profile cannot go with gray data: left out, the write not failed.
  std::memcpy(Profile.data() + 16, "RGB ", 4);
  R.Params.IccProfile = Profile;
  EXPECT_TRUE(Chunk(Write(R.Bmp, R.Params), "iCCP").empty());
}

// ---- A save writes back what the file held

namespace {

// W x H samples of Depth bits, Channels a pixel, each row after its filter
// byte 0; Sample gives channel C of pixel (X, Y).
template <typename TSample>
Bytes PackedRows(int W, int H, int Depth, int Channels, TSample Sample) {
  Bytes Raw;
  for (int Y = 0; Y < H; ++Y) {
    Raw.push_back(0);
    std::uint32_t Bits = 0;
    int Held = 0;
    for (int X = 0; X < W; ++X)
      for (int C = 0; C < Channels; ++C) {
        Bits = Bits << Depth | Sample(X, Y, C);
        for (Held += Depth; Held >= 8; Held -= 8) Raw.push_back(static_cast<std::uint8_t>(Bits >> (Held - 8)));
      }
    if (Held > 0) Raw.push_back(static_cast<std::uint8_t>(Bits << (8 - Held)));
  }
  return Raw;
}

Bytes Words(std::initializer_list<std::uint32_t> Values) {
  Bytes B;
  for (std::uint32_t V : Values) PutU32(B, V);
  return B;
}
Bytes Text(const std::string& S) { return Bytes(S.begin(), S.end()); }
Bytes Phys(std::uint32_t X, std::uint32_t Y, std::uint8_t Unit) {
  Bytes B = Words({X, Y});
  B.push_back(Unit);
  return B;
}

// An RGB colour profile of a header, no tags and 128 bytes that do not
// compress away: libpng refuses a profile whose compressed form is short.
Bytes RgbProfile() {
  Bytes P = Words({260, 0, 0x02100000});
  P.insert(P.end(), {'m', 'n', 't', 'r', 'R', 'G', 'B', ' ', 'X', 'Y', 'Z', ' '});
  P.resize(260);
  std::memcpy(P.data() + 36, "acsp", 4);
  const Bytes D50 = Words({0xF6D6, 0x10000, 0xD32D});
  std::copy(D50.begin(), D50.end(), P.begin() + 68);
  for (int I = 132; I < 260; ++I) P[static_cast<std::size_t>(I)] = static_cast<std::uint8_t>((I * 73 + 11) % 251);
  return P;
}
// An iCCP or zTXt chunk: a keyword, its end, method 0 and the data deflated.
Bytes Deflated(const char* Name, const Bytes& Profile) {
  Bytes Data = Text(Name);
  Data.insert(Data.end(), {0, 0});
  uLongf Len = compressBound(static_cast<uLong>(Profile.size()));
  Bytes Z(Len);
  compress(Z.data(), &Len, Profile.data(), static_cast<uLong>(Profile.size()));
  Data.insert(Data.end(), Z.begin(), Z.begin() + static_cast<std::ptrdiff_t>(Len));
  return Data;
}

// A camera's Exif structure of one directory: its orientation, 6 (turned
// right), in byte 19.
const Bytes ExifTurnedRight = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0};

// A quarter turn clockwise of the picture and its mask, and of the
// resolution, the record noting the turn, as the program makes it.
void TurnRight(TRead& R) {
  const int W = R.Bmp.Width(), H = R.Bmp.Height();
  const bool Bits = R.Bmp.PixelFormat() == rv::rvpf1Bit;
  TRvBitmap Turned;
  Turned.Allocate(H, W, R.Bmp.PixelFormat());
  TRvMask Mask;
  Mask.Allocate(H, W, 8);
  for (int Y = 0; Y < W; ++Y) {
    std::memset(Turned.Scanline(Y), 0, static_cast<std::size_t>(Turned.RowLen()));
    for (int X = 0; X < H; ++X) {
      const int SX = Y, SY = H - 1 - X;
      if (Bits && BitAt(R.Bmp, SX, SY)) Turned.Scanline(Y)[X / 8] |= static_cast<std::uint8_t>(0x80 >> (X % 8));
      if (!Bits) std::memcpy(Px(Turned, X, Y), Px(R.Bmp, SX, SY), 3);
      Mask.ScanLine(Y)[X] = R.Mask->ScanLine(SY)[SX];
    }
  }
  Mask.SetFull(R.Mask->Full());
  R.Bmp.Assign(&Turned);
  R.Mask->Assign(&Mask);
  std::swap(R.Params.DpiX, R.Params.DpiY);
  R.Params.QuarterTurned = !R.Params.QuarterTurned;
}

// The chunks of a file but its data, a profile by its name (its contents
// are the record's), Exif with orientation 1 as a save of a turned picture
// writes it; with Turned, what a turn exchanges exchanged back: the sides
// in IHDR, a pixel's width and height in pHYs and sCAL.
std::vector<std::pair<std::string, Bytes>> ChunkList(const Bytes& File, bool Turned) {
  std::vector<std::pair<std::string, Bytes>> Out;
  for (auto [Type, Data] : Chunks(File)) {
    if (Type == "IDAT") continue;
    if (Turned && (Type == "IHDR" || Type == "pHYs")) std::rotate(Data.begin(), Data.begin() + 4, Data.begin() + 8);
    if (Turned && Type == "sCAL") {
      const auto Zero = std::find(Data.begin(), Data.end(), 0);
      Bytes Swapped = {Data[0]};
      Swapped.insert(Swapped.end(), Zero + 1, Data.end());
      Swapped.push_back(0);
      Swapped.insert(Swapped.end(), Data.begin() + 1, Zero);
      Data = Swapped;
    }
    if (Type == "eXIf" && !Turned) Data[19] = 1;
    if (Type == "iCCP") Data.erase(std::find(Data.begin(), Data.end(), 0), Data.end());
    Out.emplace_back(Type, Data);
  }
  return Out;
}

} // namespace

// Files of every layout, with the chunks programs write, read, turned and
// written: the layout, the palette with each entry's alpha, the colour key,
// every chunk in its place and every pixel come back, turned.
TEST(PngSave, ATurnedFileKeepsItsLayoutChunksAndPixels) {
  LIBCODECS_NEED_TOOL("convert");
  LIBCODECS_NEED_TOOL("pngcheck");
  testing_support::TTempFolder Dir;
  const int W = 7, H = 5;
  // Spread over the levels of a 16-bit sample.
  const auto Pattern = [](int Levels) {
    return [=](int X, int Y, int C) { return (X * 3 + Y * 5 + X * Y + C * 2) * (Levels > 256 ? 1999 : 1) % Levels; };
  };
  Bytes Plte;
  for (int I = 0; I < 200; ++I)
    Plte.insert(Plte.end(), {static_cast<std::uint8_t>(I), static_cast<std::uint8_t>(255 - I),
                             static_cast<std::uint8_t>(I * 7)});
  const auto Entries = [&](int N) { return Bytes(Plte.begin(), Plte.begin() + 3 * N); };
  Bytes Alphas;
  for (int I = 0; I < 200; ++I) Alphas.push_back(static_cast<std::uint8_t>(I * 51 % 256));
  const Bytes Meter300x100 = Phys(11811, 3937, 1);
  std::vector<std::pair<const char*, Bytes>> Texts = {
      {"tEXt", Text(std::string("Title\0A red and blue logo", 25))},
      {"tEXt", Text(std::string("Author\0Someone", 14))},
      {"tIME", {7, 0xE8, 5, 17, 9, 30, 0}}};
  const std::vector<std::pair<const char*, Bytes>> Late = {
      {"zTXt", Deflated("Copyright", Text("rights"))},
      {"iTXt", Text(std::string("XML:com.adobe.xmp\0\0\0\0\0<x:xmpmeta/>", 34))},
      {"prVt", Text("a program's own, safe to copy")}};
  struct TCase {
    const char* Name;
    int Depth, Type, Levels;
    std::vector<std::pair<const char*, Bytes>> Before, After;
    int WrittenDepth = 0, WrittenType = -1; // when a depth over 8 bits changes them
  } Cases[] = {
      {"1-bit palette, red and blue, with its profile", 1, 3, 2,
       {{"iCCP", Deflated("Logo colours", RgbProfile())}, {"PLTE", {255, 0, 0, 0, 0, 255}}, {"bKGD", {1}},
        {"pHYs", Meter300x100}},
       Late},
      {"1-bit palette with a transparent entry", 1, 3, 2, {{"PLTE", {255, 0, 0, 0, 0, 255}}, {"tRNS", {0}}}, {}},
      {"2-bit palette, partly transparent", 2, 3, 4,
       {{"sBIT", {5, 6, 5}}, {"PLTE", Entries(4)}, {"tRNS", {0, 85, 170}}, {"bKGD", {2}}}, Texts},
      {"4-bit palette with a histogram", 4, 3, 16, {{"PLTE", Entries(16)}, {"hIST", Bytes(32, 1)}}, {}},
      {"8-bit palette, partly transparent", 8, 3, 200,
       {{"gAMA", Words({45455})}, {"PLTE", Entries(200)}, {"tRNS", Bytes(Alphas.begin(), Alphas.end())}}, Late},
      {"1-bit gray", 1, 0, 2, {{"sRGB", {0}}}, Texts},
      {"1-bit gray with a key", 1, 0, 2, {{"tRNS", {0, 0}}}, {}},
      {"2-bit gray with a key", 2, 0, 4, {{"tRNS", {0, 1}}, {"bKGD", {0, 3}}}, {}},
      {"4-bit gray", 4, 0, 16, {{"cHRM", Words({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000})}}, {}},
      {"8-bit gray with a key", 8, 0, 256, {{"tRNS", {0, 3}}}, Late},
      {"16-bit gray", 16, 0, 65536, {}, {}, 8, 0},
      {"16-bit gray with a key", 16, 0, 65536, {{"tRNS", {0x46, 0x47}}}, {}, 8, 4},
      {"8-bit gray and alpha", 8, 4, 256, {{"sBIT", {6, 8}}}, {}},
      {"RGB with Exif turned upright", 8, 2, 256, {{"eXIf", ExifTurnedRight}, {"bKGD", {0, 1, 0, 2, 0, 3}}}, Texts},
      {"RGB with a key", 8, 2, 256, {{"tRNS", {0, 0, 0, 2, 0, 4}}}, {}},
      {"RGBA", 8, 6, 256, {{"pHYs", Phys(2, 1, 0)}, {"sCAL", Text(std::string("\0012.5\0001", 6))}}, Late},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const int Channels = C.Type == 2 ? 3 : C.Type == 4 ? 2 : C.Type == 6 ? 4 : 1;
    const std::string Original = Dir.File("original.png"), Saved = Dir.File("saved.png");
    const Bytes Raw = PackedRows(W, H, C.Depth, Channels, Pattern(C.Levels));
    const Bytes File = MakePng(W, H, C.Depth, C.Type, Raw, C.Before, C.After);
    WriteFile(Original, File);
    ASSERT_TRUE(RunTool("pngcheck -q " + Original));
    TRead R;
    Read(File, R);
    ASSERT_TRUE(R.Ok);
    TurnRight(R);
    R.Params.ExifOrientation = std::min(R.Params.ExifOrientation, 1); // as the program's save does
    const Bytes Written = Write(R.Bmp, R.Params, R.Mask.get());
    WriteFile(Saved, Written);
    EXPECT_TRUE(RunTool("pngcheck -q " + Saved));
    const codectest::TRgba Turned = codectest::Reference(Original, "-rotate 90");
    const bool Deep = C.WrittenDepth != 0;
    if (!Deep) {
      EXPECT_EQ(codectest::Reference(Saved).Pixels, Turned.Pixels);
    }
    TRead Again;
    Read(Written, Again);
    ASSERT_TRUE(Again.Ok);
    codectest::ExpectMatches(Again.Bmp, Again.Mask.get(), Turned, Deep ? 1 : 0);
    const Bytes Ihdr = Chunk(Written, "IHDR");
    EXPECT_EQ(Ihdr[8], Deep ? C.WrittenDepth : C.Depth);
    EXPECT_EQ(Ihdr[9], Deep && C.WrittenType >= 0 ? C.WrittenType : C.Type);
    if (Deep) continue;
    EXPECT_EQ(ChunkList(Written, true), ChunkList(File, false));
    EXPECT_EQ(Again.Params.IccProfile, R.Params.IccProfile);
  }
}

// What a save cannot write back is noted for its question: the frames of
// an animation, the chunks that hold only for the pixels as they were, and
// those past the counts a read keeps, which cost it no more than their
// reading.
TEST(PngSave, FramesChunksTiedToThePixelsAndChunksPastTheCountsAreNoted) {
  const Bytes Raw = PackedRows(4, 3, 8, 1, [](int X, int Y, int) { return X * 40 + Y; });
  Bytes Control = Words({0, 4, 3, 0, 0, 0x00010001});
  Control.insert(Control.end(), {0, 0});
  const std::vector<std::pair<const char*, Bytes>> Frames = {
      {"fcTL", Control}, {"fdAT", Words({2, 0})}, {"fcTL", Control}, {"fdAT", Words({4, 0})}};
  for (const bool PictureIsFrame : {true, false}) {
    SCOPED_TRACE(PictureIsFrame);
    std::vector<std::pair<const char*, Bytes>> Before = {{"acTL", Words({PictureIsFrame ? 3u : 2u, 0})},
                                                         {"sTER", {0}},
                                                         {"prVT", {1}},
                                                         {"prVT", {2}},
                                                         {"tEXt", Text(std::string("Title\0x", 7))}};
    if (PictureIsFrame) Before.push_back({"fcTL", Control});
    TRead R;
    Read(MakePng(4, 3, 8, 0, Raw, Before, Frames), R);
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(R.Params.PngFramesLeftOut, 2);
    EXPECT_EQ(R.Params.PngChunksTiedToPixels, (std::vector<std::string>{"sTER", "prVT"}));
    EXPECT_EQ(R.Params.PngChunksLeftOut, 0);
    std::vector<std::string> Types;
    for (const auto& [Type, Data] : Chunks(Write(R.Bmp, R.Params, R.Mask.get()))) Types.push_back(Type);
    EXPECT_EQ(Types, (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "IEND"}));
  }
  // 20,000 texts and one over the limit of a chunk: 1,024 kept.
  std::vector<std::pair<const char*, Bytes>> Many(20000, {"tEXt", Text(std::string("Comment\0many", 12))});
  Many.push_back({"tEXt", Bytes(9 << 20, 'a')});
  TRead R;
  Read(MakePng(4, 3, 8, 0, Raw, Many), R);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.PngChunks.size(), 1024u);
  EXPECT_EQ(R.Params.PngChunksLeftOut, 20001 - 1024);
  // A damaged chunk is counted, not kept.
  Bytes Damaged = MakePng(4, 3, 8, 0, Raw, {{"tEXt", Text(std::string("Title\0x", 7))}});
  Damaged[33 + 8 + 3] ^= 1;
  Read(Damaged, R);
  ASSERT_TRUE(R.Ok);
  EXPECT_TRUE(R.Params.PngChunks.empty());
  EXPECT_EQ(R.Params.PngChunksLeftOut, 1);
}
