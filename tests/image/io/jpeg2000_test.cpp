#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <tuple>

#include <openjpeg.h>

#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/io/rvsafeio.h"
#include "libcodecs_testutil.h"

using namespace libcodecs_test;
using rv::TIOParamsVals;
using rv::TRvBitmap;

namespace {

Bytes Write(TRvBitmap& Bmp, TIOParamsVals& Params, int Format, bool ExpectOk = true) {
  platform::TMemoryStream S;
  TProgress P;
  rv::Jpeg2000WriteStream(S, Bmp, Params, Format, P.Rec);
  EXPECT_EQ(P.Aborted(), !ExpectOk);
  return S.Data();
}

bool Read(const Bytes& Data, TRvBitmap& Bmp, TIOParamsVals& Params, bool HeaderOnly = false) {
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  TProgress P;
  rv::Jpeg2000ReadStream(S, Bmp, Params, HeaderOnly, P.Rec);
  return !P.Aborted();
}

// A picture made directly with the library, for layouts our writer never
// makes (subsampled chroma, YCbCr): components of the given sizes filled by
// Fill(component, x, y).
struct TSink {
  Bytes Data;
  std::size_t Pos = 0;
};
OPJ_SIZE_T SinkWrite(void* Buffer, OPJ_SIZE_T Count, void* User) {
  auto* S = static_cast<TSink*>(User);
  if (S->Data.size() < S->Pos + Count) S->Data.resize(S->Pos + Count);
  std::memcpy(S->Data.data() + S->Pos, Buffer, Count);
  S->Pos += Count;
  return Count;
}
OPJ_OFF_T SinkSkip(OPJ_OFF_T Count, void* User) {
  static_cast<TSink*>(User)->Pos += static_cast<std::size_t>(Count);
  return Count;
}
OPJ_BOOL SinkSeek(OPJ_OFF_T Position, void* User) {
  static_cast<TSink*>(User)->Pos = static_cast<std::size_t>(Position);
  return OPJ_TRUE;
}

// Samples of Precision bits, signed or not, on a canvas whose picture
// starts at (X0, Y0).
struct TSampleLayout {
  int Precision = 8;
  bool Signed = false;
  int X0 = 0, Y0 = 0;
};

template <typename F>
Bytes LibraryFile(OPJ_CODEC_FORMAT Format, OPJ_COLOR_SPACE Space, int W, int H, int Sub, F Fill,
                  TSampleLayout Layout = {}) {
  opj_image_cmptparm_t P[3];
  std::memset(P, 0, sizeof(P));
  for (int C = 0; C < 3; ++C) {
    const int D = C == 0 ? 1 : Sub;
    P[C].dx = static_cast<OPJ_UINT32>(D);
    P[C].dy = static_cast<OPJ_UINT32>(D);
    P[C].x0 = static_cast<OPJ_UINT32>((Layout.X0 + D - 1) / D);
    P[C].y0 = static_cast<OPJ_UINT32>((Layout.Y0 + D - 1) / D);
    P[C].w = static_cast<OPJ_UINT32>((Layout.X0 + W + D - 1) / D) - P[C].x0;
    P[C].h = static_cast<OPJ_UINT32>((Layout.Y0 + H + D - 1) / D) - P[C].y0;
    P[C].prec = static_cast<OPJ_UINT32>(Layout.Precision);
    P[C].sgnd = Layout.Signed ? 1 : 0;
  }
  opj_image_t* Image = opj_image_create(3, P, Space);
  Image->x0 = static_cast<OPJ_UINT32>(Layout.X0);
  Image->y0 = static_cast<OPJ_UINT32>(Layout.Y0);
  Image->x1 = static_cast<OPJ_UINT32>(Layout.X0 + W);
  Image->y1 = static_cast<OPJ_UINT32>(Layout.Y0 + H);
  for (int C = 0; C < 3; ++C)
    for (OPJ_UINT32 Y = 0; Y < P[C].h; ++Y)
      for (OPJ_UINT32 X = 0; X < P[C].w; ++X)
        Image->comps[C].data[Y * P[C].w + X] = Fill(C, static_cast<int>(X), static_cast<int>(Y));
  opj_cparameters_t Params;
  opj_set_default_encoder_parameters(&Params);
  Params.numresolution = 2;
  Params.tcp_mct = 0;
  opj_codec_t* Codec = opj_create_compress(Format);
  TSink Out;
  opj_stream_t* Stream = opj_stream_create(1 << 16, OPJ_FALSE);
  opj_stream_set_write_function(Stream, SinkWrite);
  opj_stream_set_skip_function(Stream, SinkSkip);
  opj_stream_set_seek_function(Stream, SinkSeek);
  opj_stream_set_user_data(Stream, &Out, nullptr);
  const bool Ok = opj_setup_encoder(Codec, &Params, Image) && opj_start_compress(Codec, Image, Stream) &&
                  opj_encode(Codec, Stream) && opj_end_compress(Codec, Stream);
  EXPECT_TRUE(Ok);
  opj_stream_destroy(Stream);
  opj_destroy_codec(Codec);
  opj_image_destroy(Image);
  return Out.Data;
}

void PutBox(Bytes& Out, const char* Type, const Bytes& Payload) {
  const auto Length = static_cast<std::uint32_t>(Payload.size() + 8);
  for (int Shift = 24; Shift >= 0; Shift -= 8) Out.push_back(static_cast<std::uint8_t>(Length >> Shift));
  Out.insert(Out.end(), Type, Type + 4);
  Out.insert(Out.end(), Payload.begin(), Payload.end());
}

Bytes Be(std::uint32_t V, int Bytes) {
  ::Bytes B;
  for (int I = Bytes - 1; I >= 0; --I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
  return B;
}

// A JP2 file: signature, file type, the boxes Before, the header box holding
// Header, the boxes After, and the code stream in a "jp2c" box (with a
// 64-bit length when Long).
Bytes Jp2Around(const Bytes& Header, const Bytes& CodeStream, bool Long = false, const Bytes& Before = {},
                const Bytes& After = {}) {
  Bytes File = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  PutBox(File, "ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '});
  File.insert(File.end(), Before.begin(), Before.end());
  PutBox(File, "jp2h", Header);
  File.insert(File.end(), After.begin(), After.end());
  if (!Long) {
    PutBox(File, "jp2c", CodeStream);
    return File;
  }
  const Bytes Length = Be(static_cast<std::uint32_t>(CodeStream.size() + 16), 4);
  File.insert(File.end(), {0, 0, 0, 1, 'j', 'p', '2', 'c', 0, 0, 0, 0, Length[0], Length[1], Length[2], Length[3]});
  File.insert(File.end(), CodeStream.begin(), CodeStream.end());
  return File;
}

// An enumerated colour box ("colr"): method 1, precedence, approximation,
// the colour space.
Bytes ColourBox(std::uint32_t EnumCs) {
  Bytes Box, Colr = {1, 0, 0};
  for (std::uint8_t B : Be(EnumCs, 4)) Colr.push_back(B);
  PutBox(Box, "colr", Colr);
  return Box;
}

// The image header box ("ihdr") and, unless EnumCs is 0, a colour box.
Bytes Jp2Header(int W, int H, int Components, std::uint32_t EnumCs) {
  Bytes Header, Ihdr = Be(static_cast<std::uint32_t>(H), 4);
  for (std::uint8_t B : Be(static_cast<std::uint32_t>(W), 4)) Ihdr.push_back(B);
  Ihdr.insert(Ihdr.end(), {0, static_cast<std::uint8_t>(Components), 7, 7, 0, 0});
  PutBox(Header, "ihdr", Ihdr);
  const Bytes Colr = EnumCs != 0 ? ColourBox(EnumCs) : Bytes{};
  Header.insert(Header.end(), Colr.begin(), Colr.end());
  return Header;
}

// A JP2 file around an 8-bit code stream: colour box ("colr") EnumCs and,
// when given, a palette (red, green, blue entries) that maps the one
// component to three channels, its mapping box ("cmap") inside the header
// box or, when MapAfterHeader, misplaced after it.
Bytes Jp2File(const Bytes& CodeStream, int W, int H, int Components, std::uint32_t EnumCs,
              const std::vector<std::array<std::uint8_t, 3>>& Palette = {}, bool MapAfterHeader = false) {
  Bytes Header = Jp2Header(W, H, Components, EnumCs), Late;
  if (!Palette.empty()) {
    Bytes Pclr = Be(static_cast<std::uint32_t>(Palette.size()), 2);
    Pclr.insert(Pclr.end(), {3, 7, 7, 7});
    for (const auto& E : Palette) Pclr.insert(Pclr.end(), E.begin(), E.end());
    PutBox(Header, "pclr", Pclr);
    PutBox(MapAfterHeader ? Late : Header, "cmap", {0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 2});
  }
  return Jp2Around(Header, CodeStream, false, {}, Late);
}

// The bytes of Parts one after the other, after those of To.
void Put(Bytes& To, std::initializer_list<Bytes> Parts) {
  for (const Bytes& P : Parts) To.insert(To.end(), P.begin(), P.end());
}
Bytes Cat(std::initializer_list<Bytes> Parts) {
  Bytes All;
  Put(All, Parts);
  return All;
}

// A marker segment: the marker, its length, its payload.
Bytes Segment(std::uint8_t Marker, const Bytes& Payload) {
  return Cat({{0xFF, Marker}, Be(static_cast<std::uint32_t>(Payload.size() + 2), 2), Payload});
}

// A coding style for all components (COD: layer-resolution order, Layers
// quality layers, no component transform) with the quantisation that goes with its
// levels (QCD: none, two guard bits), or for Component alone (COC): Levels
// decomposition levels, code-blocks of 2^Block x 2^Block, the reversible
// filter and, unless Precincts is empty, each level's precinct size
// exponents (width in the low nibble).
Bytes CodingStyle(int Levels, int Block, const Bytes& Precincts = {}, int Component = -1, int Layers = 1) {
  const auto Given = static_cast<std::uint8_t>(Precincts.empty() ? 0 : 1);
  const auto L = static_cast<std::uint8_t>(Levels), B = static_cast<std::uint8_t>(Block - 2);
  const Bytes Tail = Cat({{L, B, B, 0, 1}, Precincts});
  if (Component >= 0) return Segment(0x53, Cat({{static_cast<std::uint8_t>(Component), Given}, Tail}));
  return Cat({Segment(0x52, Cat({{Given, 0}, Be(static_cast<std::uint32_t>(Layers), 2), {0}, Tail})),
              Segment(0x5C, Bytes(static_cast<std::size_t>(3 * Levels + 2), 0x40))});
}

// A picture of W x H at (X0, Y0) on the canvas, cut into tiles of TileW x
// TileH from the canvas origin, of 8-bit components (no subsampling).
struct TGrid {
  std::uint32_t W, H, TileW, TileH;
  int Components = 1;
  std::uint32_t X0 = 0, Y0 = 0;
};

// The header segments of each tile-part of a tile.
using TParts = std::vector<Bytes>;

// A code stream on Grid: start of code stream; image and tile size; the
// main header's segments Main; for each tile, in turn, the tile-parts
// Parts(tile) lists, each with its header segments and one empty packet per
// component; end of code stream.
template <typename F>
Bytes StyledCodeStream(const TGrid& Grid, const Bytes& Main, F Parts) {
  const std::uint32_t Right = Grid.X0 + Grid.W, Bottom = Grid.Y0 + Grid.H;
  Bytes Size = {0, 0};
  for (std::uint32_t V : {Right, Bottom, Grid.X0, Grid.Y0, Grid.TileW, Grid.TileH, 0u, 0u}) Put(Size, {Be(V, 4)});
  Put(Size, {Be(static_cast<std::uint32_t>(Grid.Components), 2)});
  for (int C = 0; C < Grid.Components; ++C) Put(Size, {{7, 1, 1}});
  Bytes S = Cat({{0xFF, 0x4F}, Segment(0x51, Size), Main});
  const Bytes Packets(static_cast<std::size_t>(Grid.Components), 0);
  const std::uint32_t Tiles = (Right + Grid.TileW - 1) / Grid.TileW * ((Bottom + Grid.TileH - 1) / Grid.TileH);
  for (std::uint32_t Tile = 0; Tile < Tiles; ++Tile) {
    const TParts Headers = Parts(Tile);
    for (std::size_t Part = 0; Part < Headers.size(); ++Part)
      Put(S, {{0xFF, 0x90, 0, 10}, Be(Tile, 2),
              Be(static_cast<std::uint32_t>(14 + Headers[Part].size() + Packets.size()), 4),
              {static_cast<std::uint8_t>(Part), static_cast<std::uint8_t>(Headers.size())}, Headers[Part],
              {0xFF, 0x93}, Packets});
  }
  Put(S, {{0xFF, 0xD9}});
  return S;
}

// A code stream of 8-bit components on a grid of W x H tiles of TileW x
// TileH, of which only the first tile is there unless AllTiles: coding
// style of no decomposition and 64 x 64 code blocks, one tile-part per tile,
// whose one empty packet per component decodes as zeros. One tile makes a
// whole picture of zeros.
Bytes TiledCodeStream(std::uint32_t W, std::uint32_t H, std::uint32_t TileW, std::uint32_t TileH,
                      int Components, bool AllTiles = false) {
  return StyledCodeStream({W, H, TileW, TileH, Components}, CodingStyle(0, 6),
                          [&](std::uint32_t Tile) { return AllTiles || Tile == 0 ? TParts{{}} : TParts{}; });
}

// A component mapping box ("cmap"): per channel I the component (2 bytes,
// 0), the palette's use (1) and its column (I).
Bytes MappingBox(int Columns) {
  Bytes Box, Cmap;
  for (int I = 0; I < Columns; ++I) Cmap.insert(Cmap.end(), {0, 0, 1, static_cast<std::uint8_t>(I)});
  PutBox(Box, "cmap", Cmap);
  return Box;
}

// Jp2Header of one component with a palette ("pclr") of two entries, 0
// then 1 in every column, of columns of the given depths; a mapping
// ("cmap") of column I to channel I when Mapped; a channel definition
// ("cdef") that makes channel First the first colour when it is not 0.
Bytes PaletteHeader(int W, int H, std::uint32_t EnumCs, const std::vector<int>& Depths, bool Mapped = true,
                    int First = 0) {
  const auto Columns = static_cast<std::uint8_t>(Depths.size());
  Bytes Header = Jp2Header(W, H, 1, EnumCs), Pclr = {0, 2, Columns}, Cdef = {0, Columns};
  for (int D : Depths) Pclr.push_back(static_cast<std::uint8_t>(D - 1));
  for (std::uint8_t Entry = 0; Entry < 2; ++Entry)
    for (int D : Depths) {
      Pclr.insert(Pclr.end(), static_cast<std::size_t>((D + 7) / 8 - 1), 0);
      Pclr.push_back(Entry);
    }
  for (std::uint8_t I = 0; I < Columns; ++I)
    Cdef.insert(Cdef.end(), {0, I, 0, 0, 0, static_cast<std::uint8_t>(I == First ? 1 : I < First ? I + 2 : I + 1)});
  PutBox(Header, "pclr", Pclr);
  const Bytes Cmap = MappingBox(Columns);
  if (Mapped) Header.insert(Header.end(), Cmap.begin(), Cmap.end());
  if (First != 0) PutBox(Header, "cdef", Cdef);
  return Header;
}

} // namespace

// ---- Probes, tables and options

TEST(Jpeg2000Probe, SignatureBoxAndCodeStreamStart) {
  const Bytes Jp2 = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A, 0};
  const Bytes J2k = {0xFF, 0x4F, 0xFF, 0x51, 0};
  platform::TBytesStream A(Jp2.data(), 13);
  A.SetPosition(0);
  EXPECT_TRUE(rv::IsJp2Stream(A));
  EXPECT_FALSE(rv::IsJ2kCodeStream(A));
  EXPECT_EQ(A.Position(), 0);
  platform::TBytesStream B(J2k.data(), 5);
  EXPECT_TRUE(rv::IsJ2kCodeStream(B));
  EXPECT_FALSE(rv::IsJp2Stream(B));
  EXPECT_EQ(B.Position(), 0);
  platform::TBytesStream C(J2k.data(), 3);
  EXPECT_FALSE(rv::IsJ2kCodeStream(C));
}

TEST(Jpeg2000Colour, YCbCrTablesFollowTheStandardWeights) {
  int R, G, B;
  rv::Jpeg2000YCbCrToRGB(128, 128, 128, R, G, B);
  EXPECT_EQ(R, 128);
  EXPECT_EQ(G, 128);
  EXPECT_EQ(B, 128);
  // Cr 228 stands for +100: red +Round(140.2), green -Round(71.41).
  rv::Jpeg2000YCbCrToRGB(100, 128, 228, R, G, B);
  EXPECT_EQ(R, 240);
  EXPECT_EQ(G, 29);
  EXPECT_EQ(B, 100);
  // Cb 28 stands for -100: blue -Round(177.2) clamps, green +Round(34.41).
  rv::Jpeg2000YCbCrToRGB(100, 28, 128, R, G, B);
  EXPECT_EQ(B, 0);
  EXPECT_EQ(G, 134);
  EXPECT_EQ(R, 100);
}

TEST(Jpeg2000Options, TextAlwaysUsesAPoint) {
  const char* Saved = std::setlocale(LC_NUMERIC, nullptr);
  const std::string Restore = Saved != nullptr ? Saved : "C";
  // A comma locale where the system has one; the text must not care.
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(rv::Jpeg2000OptionText(0.5, 1), "rate=0.5 prg=rlcp");
  EXPECT_EQ(rv::Jpeg2000OptionText(1.0, 0), "rate=1 prg=lrcp");
  EXPECT_EQ(rv::Jpeg2000OptionText(0.125, 7), "rate=0.125");
  const rv::TJ2kOptions O = rv::Jpeg2000ParseOptions("rate=0.25 prg=rlcp");
  EXPECT_DOUBLE_EQ(O.Rate, 0.25);
  EXPECT_EQ(O.Progression, 1);
  EXPECT_DOUBLE_EQ(rv::Jpeg2000ParseOptions("rate=0,5").Rate, 1.0);
  EXPECT_EQ(rv::Jpeg2000ParseOptions("rate=2").Progression, -1);
  std::setlocale(LC_NUMERIC, Restore.c_str());
}

// ---- Round trips

TEST(Jpeg2000RoundTrip, GrayColourSpaceWritesTheGrayLevel) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 20, 10);
  TIOParamsVals W;
  W.J2000ColorSpace = 0;
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Read(Write(Bmp, W, 0), Out, Params));
  EXPECT_EQ(Params.SamplesPerPixel, 1);
  for (int Y = 0; Y < 10; ++Y)
    for (int X = 0; X < 20; ++X) {
      const std::uint8_t* P = Px(Bmp, X, Y);
      const int Gray = (P[2] * 21 + P[1] * 71 + P[0] * 8) / 100;
      ASSERT_EQ(Px(Out, X, Y)[0], Gray);
      ASSERT_EQ(Px(Out, X, Y)[2], Gray);
    }
}

TEST(Jpeg2000RoundTrip, LowerRateMakesASmallerFile) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 128, 96);
  TIOParamsVals W;
  const std::size_t Lossless = Write(Bmp, W, 1).size();
  W.J2000Rate = 0.05;
  W.J2000Progression = 1;
  const Bytes Small = Write(Bmp, W, 1);
  EXPECT_LT(Small.size(), Lossless / 4);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Read(Small, Out, Params));
  EXPECT_EQ(Out.Width(), 128);
}

TEST(Jpeg2000RoundTrip, HeaderOnlyFillsTheLayoutOnly) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 33, 44);
  TIOParamsVals W;
  const Bytes Data = Write(Bmp, W, 0);
  TRvBitmap Out;
  TIOParamsVals Params;
  const std::int32_t Saved = rv::RvDefaultDpiX;
  rv::RvDefaultDpiX = 91;
  ASSERT_TRUE(Read(Data, Out, Params, true));
  rv::RvDefaultDpiX = Saved;
  EXPECT_EQ(Params.Width, 33);
  EXPECT_EQ(Params.Height, 44);
  EXPECT_EQ(Params.SamplesPerPixel, 3);
  EXPECT_EQ(Params.DpiX, 91);
  EXPECT_EQ(Out.Width(), 0);
}

// ---- Layouts made with the library itself

TEST(Jpeg2000Layout, SubsampledChromaIsReadFromTheHalfSizeSample) {
  auto Fill = [](int C, int X, int Y) { return C == 0 ? (X * 9 + Y) % 256 : (C * 50 + X * 7 + Y * 13) % 256; };
  const Bytes Data = LibraryFile(OPJ_CODEC_J2K, OPJ_CLRSPC_UNSPECIFIED, 10, 7, 2, Fill);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Read(Data, Out, Params));
  for (int Y = 0; Y < 7; ++Y)
    for (int X = 0; X < 10; ++X) {
      ASSERT_EQ(Px(Out, X, Y)[2], Fill(0, X, Y));
      ASSERT_EQ(Px(Out, X, Y)[1], Fill(1, X / 2, Y / 2));
      ASSERT_EQ(Px(Out, X, Y)[0], Fill(2, X / 2, Y / 2));
    }
}

// Signed 12-bit samples, chroma at half size, the picture at an odd place
// on the canvas: each sample is centred and scaled to 8 bits, taken from
// the sample its canvas position falls in, or for the first column and row,
// which fall before the first chroma sample, from that sample.
TEST(Jpeg2000Layout, SignedDeepSamplesOffTheOriginAreScaledFromTheirOwnSample) {
  const TSampleLayout Layout{12, true, 3, 5};
  auto Fill = [](int C, int X, int Y) { return -2048 + (C * 700 + X * 311 + Y * 157) % 4096; };
  const Bytes Data = LibraryFile(OPJ_CODEC_J2K, OPJ_CLRSPC_UNSPECIFIED, 11, 9, 2, Fill, Layout);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Read(Data, Out, Params));
  ASSERT_EQ(Out.Width(), 11);
  ASSERT_EQ(Params.BitsPerSample, 12);
  auto Level = [](int Sample) { return (Sample + 2048) * 255 / 4095; };
  for (int Y = 0; Y < 9; ++Y)
    for (int X = 0; X < 11; ++X) {
      const int CX = std::max(0, (Layout.X0 + X) / 2 - (Layout.X0 + 1) / 2);
      const int CY = std::max(0, (Layout.Y0 + Y) / 2 - (Layout.Y0 + 1) / 2);
      ASSERT_EQ(Px(Out, X, Y)[2], Level(Fill(0, X, Y))) << X << "," << Y;
      ASSERT_EQ(Px(Out, X, Y)[1], Level(Fill(1, CX, CY))) << X << "," << Y;
      ASSERT_EQ(Px(Out, X, Y)[0], Level(Fill(2, CX, CY))) << X << "," << Y;
    }
}

TEST(Jpeg2000Layout, YCbCrFileIsConverted) {
  auto Fill = [](int C, int X, int Y) { return C == 0 ? 60 + X * 10 : C == 1 ? 100 + Y * 5 : 150 - X * 3; };
  const Bytes Data = LibraryFile(OPJ_CODEC_JP2, OPJ_CLRSPC_SYCC, 8, 8, 1, Fill);
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Read(Data, Out, Params));
  for (int Y = 0; Y < 8; ++Y)
    for (int X = 0; X < 8; ++X) {
      int R, G, B;
      rv::Jpeg2000YCbCrToRGB(Fill(0, X, Y), Fill(1, X, Y), Fill(2, X, Y), R, G, B);
      ASSERT_EQ(Px(Out, X, Y)[2], R);
      ASSERT_EQ(Px(Out, X, Y)[1], G);
      ASSERT_EQ(Px(Out, X, Y)[0], B);
    }
}

// A palette turns the one component into its columns only while decoding.
// A header-only read tells the layout decoding leaves from the boxes
// instead: the same file with its tile cut short gives it too. Header boxes
// misplaced after the header box count, as they do for the library; those
// before it do not.
TEST(Jpeg2000Layout, PaletteLayoutComesFromTheBoxesNotADecode) {
  const Bytes Stream = TiledCodeStream(16, 8, 16, 8, 1);
  const Bytes Cut(Stream.begin(), Stream.end() - 3); // the packet and the end of the code stream
  const Bytes Cmap = MappingBox(3);
  const struct {
    const char* Name;
    std::uint32_t EnumCs; // 0: no colour box in the header box
    std::vector<int> Depths;
    bool Mapped;
    int First, Samples, Bits; // Samples 0: refused
    Bytes Before = {}, After = {}; // boxes around the header box
  } Cases[] = {
      {"sRGB", 16, {8, 8, 8}, true, 0, 3, 8},           {"gray", 17, {8, 8, 8}, true, 0, 1, 8},
      {"sYCC", 18, {8, 8, 8}, true, 0, 3, 8},           {"depths", 16, {4, 12, 16}, true, 0, 3, 4},
      {"second first", 16, {4, 12, 16}, true, 1, 3, 12}, {"unmapped: the component", 17, {4, 4, 4}, false, 0, 1, 8},
      {"one column", 16, {8}, true, 0, 0, 0},           {"CMYK", 12, {8, 8, 8, 8}, true, 0, 0, 0},
      {"mapping after the header", 16, {4, 12, 16}, false, 0, 3, 4, {}, Cmap},
      {"mapping before the header: unused", 16, {4, 12, 16}, false, 0, 0, 0, Cmap},
      {"gray after the header", 0, {4, 12, 16}, true, 0, 1, 4, {}, ColourBox(17)},
      {"Lab before the header: ignored", 16, {4, 12, 16}, true, 0, 3, 4, ColourBox(14)},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes Header = PaletteHeader(16, 8, C.EnumCs, C.Depths, C.Mapped, C.First);
    const Bytes Whole = Jp2Around(Header, Stream, false, C.Before, C.After);
    const Bytes Short = Jp2Around(Header, Cut, false, C.Before, C.After);
    TRvBitmap Out;
    TIOParamsVals Full, Head, CutHead, CutFull;
    ASSERT_EQ(Read(Whole, Out, Full), C.Samples > 0);
    EXPECT_EQ(Read(Whole, Out, Head, true), C.Samples > 0);
    EXPECT_EQ(Read(Short, Out, CutHead, true), C.Samples > 0);
    EXPECT_FALSE(Read(Short, Out, CutFull));
    if (C.Samples == 0) continue;
    for (const TIOParamsVals* P : {&Full, &Head, &CutHead})
      EXPECT_EQ(std::make_pair(P->SamplesPerPixel, P->BitsPerSample), std::make_pair(C.Samples, C.Bits));
  }
}

// ---- Failures

TEST(Jpeg2000Failure, UnknownFormatOrColourSpaceWritesNothing) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 4, 4);
  TIOParamsVals W;
  EXPECT_TRUE(Write(Bmp, W, 2, false).empty());
  W.J2000ColorSpace = 3;
  EXPECT_TRUE(Write(Bmp, W, 0, false).empty());
  TRvBitmap Empty;
  TIOParamsVals E;
  EXPECT_TRUE(Write(Empty, E, 0, false).empty());
}

TEST(Jpeg2000Failure, ShortWriteSetsTheFlag) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 64, 64);
  TIOParamsVals W;
  TShortStream S(100);
  TProgress P;
  rv::Jpeg2000WriteStream(S, Bmp, W, 0, P.Rec);
  EXPECT_TRUE(P.Aborted());
}

TEST(Jpeg2000Failure, NotJpeg2000IsRefused) {
  const Bytes Data = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0};
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_FALSE(Read(Data, Out, Params));
}

TEST(Jpeg2000Failure, TruncatedCodeStreamFailsCleanly) {
  TRvBitmap Bmp;
  MakeGradient(Bmp, 64, 64);
  TIOParamsVals W;
  Bytes Data = Write(Bmp, W, 1);
  Data.resize(Data.size() * 3 / 4);
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_FALSE(Read(Data, Out, Params));
  EXPECT_EQ(Params.Width, 64); // the header was there
}

TEST(Jpeg2000Failure, HugeTilePartLengthIsRefusedNotAllocated) {
  // A damaged code stream (found by fuzzing) whose tile part claims
  // 0xF700002A bytes; run under a 100 MB allocation limit, it fails cleanly.
  const Bytes Data = {
      0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x2F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x0C,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x0C,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x0F, 0x01, 0x01, 0x0F, 0x01, 0x01,
      0x8F, 0x01, 0x01, 0xFF, 0x52, 0x00, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x01, 0x02, 0x04, 0x04, 0x00,
      0x01, 0xFF, 0x5C, 0x00, 0x0A, 0x40, 0x80, 0x88, 0x88, 0x90, 0x88, 0x88, 0x90, 0xFF, 0x64, 0x00,
      0x25, 0x00, 0x01, 0x43, 0x72, 0x65, 0x61, 0x74, 0x20, 0x64, 0x62, 0x79, 0x65, 0x20, 0x4F, 0x70,
      0x65, 0x6E, 0x4A, 0x50, 0x45, 0x47, 0x20, 0x76, 0x65, 0x72, 0x73, 0x69, 0x6F, 0x6E, 0x20, 0x32,
      0x2E, 0x35, 0x2E, 0x30, 0xFF, 0x90, 0x00, 0x0A, 0x00, 0x00, 0xF7, 0x00, 0x00, 0x2A, 0x00, 0x01,
      0xFF, 0x93, 0xC7, 0xDE, 0x08, 0x08, 0xEC, 0x65, 0x9F, 0xD8, 0x80, 0x0C, 0xC3, 0x3F, 0x68, 0xDF,
      0x00, 0xC0, 0x01, 0x75, 0x39, 0x5F, 0x12, 0xAB, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0xFF, 0xD9,
  };
  TRvBitmap Out;
  TIOParamsVals Params;
  EXPECT_FALSE(Read(Data, Out, Params));
}

TEST(Jpeg2000Failure, PixelCapRefusesTheDecodeNotTheHeader) {
  TRvBitmap Bmp;
  MakeNoise(Bmp, 100, 100);
  TIOParamsVals W;
  const Bytes Data = Write(Bmp, W, 0);
  // A palette picture's header is not decoded either.
  const Bytes Palette = Jp2Around(PaletteHeader(100, 100, 16, {8, 8, 8}), TiledCodeStream(100, 100, 100, 100, 1));
  const std::int64_t Saved = rv::RvMaxPixels();
  rv::RvSetMaxPixels(5000);
  for (const Bytes* File : {&Data, &Palette}) {
    TRvBitmap Out;
    TIOParamsVals Params;
    EXPECT_TRUE(Read(*File, Out, Params, true));
    EXPECT_FALSE(Read(*File, Out, Params));
    EXPECT_EQ(Out.Width(), 0);
  }
  rv::RvSetMaxPixels(Saved);
}

// Every tile needs a tile-part of at least 14 bytes: a code stream that
// declares more tiles than its bytes hold is refused before the library lays
// them out, in a code stream and in a JP2 file's code-stream box of either
// length; with a tile-part for each, thousands read. What the library lays
// out for them (about 12 KB a tile of three components) counts in the
// allocation cap.
TEST(Jpeg2000Failure, TilesAreBoundedByTheTilePartsTheBytesHold) {
  const struct {
    std::uint32_t Across, Down;
    int Components;
    bool AllTiles, Read;
    std::int64_t Cap = 0; // 0: the cap as it is
  } Cases[] = {{5, 1, 1, false, true},     {6, 1, 1, false, false},     {255, 257, 1, false, false},
               {257, 255, 64, false, false}, {7282, 1, 1, true, true},   {5958, 1, 3, true, true},
               {86, 86, 1, true, true},      {2000, 1, 3, true, false, std::int64_t{16} << 20},
               {2000, 1, 3, true, true, std::int64_t{40} << 20}};
  const std::int64_t Saved = rv::RvMaxAllocation();
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Across << " x " << C.Down << " tiles of " << C.Components << ", all "
                                    << C.AllTiles << ", cap " << C.Cap);
    // Tiles of one pixel.
    const Bytes Stream = TiledCodeStream(C.Across, C.Down, 1, 1, C.Components, C.AllTiles);
    const Bytes Header = Jp2Header(static_cast<int>(C.Across), static_cast<int>(C.Down), C.Components, 16);
    rv::RvSetMaxAllocation(C.Cap > 0 ? C.Cap : Saved);
    for (const Bytes& File : {Stream, Jp2Around(Header, Stream), Jp2Around(Header, Stream, true)}) {
      TRvBitmap Out;
      TIOParamsVals Params;
      EXPECT_EQ(Read(File, Out, Params, true), C.Read);
      EXPECT_EQ(Params.Width, C.Read ? static_cast<std::int32_t>(C.Across) : 0);
    }
  }
  rv::RvSetMaxAllocation(Saved);
}

// Starting a tile, the library lays out every precinct and code-block of
// its components, one tile at a time: the largest tile's count, from the
// coding styles of the main header and of the tile's first tile-part,
// counts in the allocation cap (here 10 MB) before the decode, not in a
// header-only read. Precinct exponents of 1 are 2 x 2, code-block ones of 2
// are 4 x 4; a picture of 512 x 512 is 1 MB a component.
TEST(Jpeg2000Failure, PrecinctsAndCodeBlocksCountInTheAllocationCap) {
  const Bytes Tiny(6, 0x11), Medium(6, 0x55), Wide(6, 0xFF);
  Bytes TinyAtLowest = Wide, TinyAtHighest = Wide;
  TinyAtLowest.front() = 0x11;
  TinyAtHighest.back() = 0x11;
  const Bytes Plain = CodingStyle(5, 6), Small = CodingStyle(5, 2), Fine = CodingStyle(5, 6, Tiny);
  auto Own = [](int Component, int Block, const Bytes& Precincts = {}) {
    return CodingStyle(5, Block, Precincts, Component);
  };
  const TGrid One{512, 512, 512, 512}, Three{512, 512, 512, 512, 3};
  const struct {
    const char* Name;
    TGrid Grid;
    Bytes Main;
    TParts Parts = {{}}; // each tile's
    bool Read = true;
  } Cases[] = {
      {"64 x 64 code-blocks, a precinct a level", Three, Plain},
      {"4 x 4 code-blocks", One, Small},
      {"4 x 4 code-blocks in three components", Three, Small, {{}}, false},
      {"4 x 4 code-blocks in one of three", Three, Cat({Plain, Own(1, 2)})},
      {"4 x 4 code-blocks in two of three", Three, Cat({Plain, Own(0, 2), Own(2, 2)}),
       {{}}, false},
      {"components' own styles before the one for all", Three,
       Cat({Own(0, 2), Own(1, 2), Plain}), {{}}, false},
      {"2 x 2 precincts", One, Fine, {{}}, false},
      {"2 x 2 precincts at the lowest level only", One, CodingStyle(5, 6, TinyAtLowest)},
      {"2 x 2 precincts at the highest level only", One, CodingStyle(5, 6, TinyAtHighest), {{}}, false},
      {"2 x 2 precincts in the tile's header", One, Plain, {Fine}, false},
      {"2 x 2 precincts in the tile's header for one component", Three, Plain,
       {Own(2, 6, Tiny)}, false},
      {"the tile's header over the main one", One, Fine, {Plain}},
      {"a coding style in a later tile-part", One, Plain, {{}, Plain}, false},
      {"four tiles of 4 x 4 code-blocks", {1024, 1024, 512, 512}, Small, {{}}},
      {"one tile of 4 x 4 code-blocks", {1024, 1024, 1024, 1024}, Small, {{}}, false},
      {"a tile far larger than the picture", {512, 512, 1u << 20, 1u << 20}, Small},
      {"a picture off the tile's origin", {512, 512, 1u << 20, 1u << 20, 1, 300000, 700000}, Small},
      // A flag for each packet a tile could hold: 2 bytes a layer, level
      // and precinct of the level that has most (here 256 of 32 x 32).
      {"65,535 layers, a precinct a level", One, CodingStyle(5, 6, {}, -1, 65535)},
      {"1,000 layers over 32 x 32 precincts", One, CodingStyle(5, 6, Medium, -1, 1000)},
      {"5,000 layers over 32 x 32 precincts", One, CodingStyle(5, 6, Medium, -1, 5000), {{}}, false},
      {"5,000 layers in the tile's header", One, CodingStyle(5, 6, Medium), {CodingStyle(5, 6, Medium, -1, 5000)},
       false},
      {"5,000 layers over 32 x 32 precincts of one of three", Three,
       Cat({CodingStyle(5, 6, {}, -1, 5000), Own(1, 6, Medium)}), {{}}, false},
      // The library steps through a marker it does not know two bytes at a
      // time, never by its length, and reads the coding style inside.
      {"5,000 layers inside a marker unknown to the library", One,
       Cat({Plain, Segment(0x80, CodingStyle(5, 6, Medium, -1, 5000))}), {{}}, false},
      {"5,000 layers after an end of code stream in the main header", One,
       Cat({Plain, {0xFF, 0xD9}, CodingStyle(5, 6, Medium, -1, 5000)}), {{}}, false},
  };
  const std::int64_t Saved = rv::RvMaxAllocation();
  rv::RvSetMaxAllocation(std::int64_t{10} << 20);
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes Stream = StyledCodeStream(C.Grid, C.Main, [&](std::uint32_t) { return C.Parts; });
    const Bytes Header = Jp2Header(static_cast<int>(C.Grid.W), static_cast<int>(C.Grid.H), C.Grid.Components,
                                   C.Grid.Components == 1 ? 17 : 16);
    for (const Bytes& File : {Stream, Jp2Around(Header, Stream)}) {
      TRvBitmap Out, Ignored;
      TIOParamsVals Params, HeaderParams;
      EXPECT_EQ(Read(File, Out, Params), C.Read);
      EXPECT_EQ(Out.Width(), C.Read ? static_cast<int>(C.Grid.W) : 0);
      EXPECT_TRUE(Read(File, Ignored, HeaderParams, true));
    }
  }
  rv::RvSetMaxAllocation(Saved);
}

namespace {
// Reads a code stream through a counter: the bytes the whole read took.
std::int64_t CountedRead(const Bytes& Stream, TRvBitmap& Out, TProgress& P) {
  platform::TBytesStream Inner(Stream.data(), static_cast<std::int64_t>(Stream.size()));
  TCountingStream Counted(Inner);
  TIOParamsVals Params;
  rv::Jpeg2000ReadStream(Counted, Out, Params, false, P.Rec);
  return Counted.BytesRead;
}
} // namespace

// The walk that counts them goes from tile-part to tile-part by their
// lengths, every tile's first with its coding styles (here 3,072 of them in
// 100 KB): the whole read, the library's included, reads the code stream a
// few times at most, not once for every tile-part.
TEST(Jpeg2000Failure, LayoutWalkReadsTheCodeStreamOnce) {
  const Bytes Stream = StyledCodeStream({512, 512, 16, 16, 3}, CodingStyle(4, 4), [](std::uint32_t Tile) {
    return TParts{Cat({CodingStyle(4, 4), CodingStyle(4, 3, Bytes(5, 0x44), static_cast<int>(Tile % 3))}), {}, {}};
  });
  TRvBitmap Out;
  TProgress P;
  const std::int64_t Read = CountedRead(Stream, Out, P);
  ASSERT_FALSE(P.Aborted());
  EXPECT_EQ(Out.Width(), 512);
  EXPECT_LE(Read, 4 * static_cast<std::int64_t>(Stream.size()));
}

// A marker the library does not know is stepped over two bytes at a time.
// Here every tile-part's header has one, after a comment that puts the
// steps out of step with every marker up to a start of data at the very
// end: the walk, which never goes back before a header's end, steps to the
// end once, not from each of the 1,024 tile-parts.
TEST(Jpeg2000Failure, StepsOverUnknownMarkersGoOverTheCodeStreamOnce) {
  Bytes Stream = StyledCodeStream({512, 512, 16, 16, 2}, CodingStyle(0, 6), [](std::uint32_t) {
    return TParts{{0xFF, 0x64, 0, 5, 0, 1, 'x', 0xFF, 0x80, 0}};
  });
  Put(Stream, {{0, 0xFF, 0x93}});
  TRvBitmap Out;
  TProgress P;
  EXPECT_LE(CountedRead(Stream, Out, P), 4 * static_cast<std::int64_t>(Stream.size()));
  EXPECT_TRUE(P.Aborted());
}

// A palette's columns become planes of the component's size while decoding:
// they count in the allocation cap with the component.
TEST(Jpeg2000Failure, PaletteColumnsCountInTheAllocationCap) {
  const Bytes File = Jp2Around(PaletteHeader(64, 64, 16, {8, 8, 8}), TiledCodeStream(64, 64, 64, 64, 1));
  const std::int64_t Planes = 4 * 64 * 64 * 4; // the component and three columns of 32-bit samples
  const std::int64_t Saved = rv::RvMaxAllocation();
  TRvBitmap Out;
  TIOParamsVals Params;
  rv::RvSetMaxAllocation(Planes - 1);
  EXPECT_FALSE(Read(File, Out, Params));
  rv::RvSetMaxAllocation(Planes);
  EXPECT_TRUE(Read(File, Out, Params));
  rv::RvSetMaxAllocation(Saved);
  EXPECT_EQ(Out.Width(), 64);
}

// ---- Other programs

TEST(Jpeg2000Interop, ReadsOpjCompressFiles) {
  LIBCODECS_NEED_TOOL("opj_compress");
  LIBCODECS_NEED_TOOL("opj_decompress");
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp;
  MakeNoise(Bmp, 50, 40);
  WritePnm(Bmp, Dir.File("in.ppm"));
  const struct {
    const char* Name;
    const char* Options;
    bool Lossless;
  } Cases[] = {{"a.jp2", "", true},          {"b.j2k", "-p RLCP", true},
               {"c.jp2", "-t 32,32 -n 3", true},  {"d.j2k", "-r 20", false},
               {"e.jp2", "-I -r 10", false}, {"f.jp2", "-n 2 -b 16,16", true},
               {"g.j2k", "-c [32,32]", true}, {"h.jp2", "-b 4,4", true},
               {"i.j2k", "-c [64,64],[32,32] -b 4,4 -n 3", true}, {"j.jp2", "-c [32,32] -b 8,4 -I -r 15", false}};
  for (const auto& C : Cases) {
    ASSERT_TRUE(RunTool("opj_compress -i " + Dir.File("in.ppm") + " -o " + Dir.File(C.Name) + " " +
                        C.Options));
    TRvBitmap Out;
    TIOParamsVals Params;
    ASSERT_TRUE(Read(ReadFile(Dir.File(C.Name)), Out, Params)) << C.Name;
    if (C.Lossless) {
      ExpectSame24(Bmp, Out);
    } else {
      // Lossy: the library's own decoder is the reference.
      ASSERT_TRUE(RunTool("opj_decompress -i " + Dir.File(C.Name) + " -o " + Dir.File("ref.ppm")));
      TRvBitmap Ref;
      ASSERT_TRUE(ReadPnm(Dir.File("ref.ppm"), Ref));
      ExpectSame24(Ref, Out);
    }
  }
}

TEST(Jpeg2000Interop, ReadsSixteenBitGray) {
  LIBCODECS_NEED_TOOL("opj_compress");
  testing_support::TTempFolder Dir;
  {
    std::ofstream F(Dir.File("g16.pgm"), std::ios::binary);
    F << "P5\n7 3\n65535\n";
    for (int I = 0; I < 21; ++I) {
      const int V = I * 3120;
      F.put(static_cast<char>(V >> 8));
      F.put(static_cast<char>(V & 255));
    }
  }
  ASSERT_TRUE(RunTool("opj_compress -n 2 -i " + Dir.File("g16.pgm") + " -o " + Dir.File("g.jp2")));
  TRvBitmap Out;
  TIOParamsVals Params;
  ASSERT_TRUE(Read(ReadFile(Dir.File("g.jp2")), Out, Params));
  EXPECT_EQ(Params.BitsPerSample, 16);
  EXPECT_EQ(Params.SamplesPerPixel, 1);
  for (int I = 0; I < 21; ++I) {
    const int Expected = I * 3120 * 255 / 65535;
    ASSERT_EQ(Px(Out, I % 7, I / 7)[1], Expected) << I;
  }
}

TEST(Jpeg2000Interop, OpjDecompressReadsOurFiles) {
  LIBCODECS_NEED_TOOL("opj_decompress");
  testing_support::TTempFolder Dir;
  TRvBitmap Bmp;
  MakeNoise(Bmp, 37, 26);
  for (int Format : {0, 1}) {
    for (int Progression : {0, 1}) {
      TIOParamsVals W;
      W.J2000Progression = static_cast<std::uint8_t>(Progression);
      const std::string Name = Dir.File(Format == 0 ? "ours.jp2" : "ours.j2k");
      WriteFile(Name, Write(Bmp, W, Format));
      ASSERT_TRUE(RunTool("opj_decompress -i " + Name + " -o " + Dir.File("ref.ppm")));
      TRvBitmap Ref;
      ASSERT_TRUE(ReadPnm(Dir.File("ref.ppm"), Ref));
      ExpectSame24(Bmp, Ref);
    }
  }
  TIOParamsVals G;
  G.J2000ColorSpace = 0;
  WriteFile(Dir.File("gray.jp2"), Write(Bmp, G, 0));
  ASSERT_TRUE(RunTool("opj_decompress -i " + Dir.File("gray.jp2") + " -o " + Dir.File("gray.pgm")));
  TRvBitmap Ref;
  ASSERT_TRUE(ReadPnm(Dir.File("gray.pgm"), Ref));
  const std::uint8_t* P = Px(Bmp, 3, 4);
  EXPECT_EQ(Px(Ref, 3, 4)[0], (P[2] * 21 + P[1] * 71 + P[0] * 8) / 100);
}

TEST(Jpeg2000Interop, PaletteBoxIsAppliedAndLabIsRefused) {
  LIBCODECS_NEED_TOOL("opj_compress");
  LIBCODECS_NEED_TOOL("opj_decompress");
  testing_support::TTempFolder Dir;
  // Indexes 0..5 in a 13 x 7 gray map, coded by opj_compress, then wrapped
  // with a six-colour palette.
  {
    std::ofstream F(Dir.File("idx.pgm"), std::ios::binary);
    F << "P5\n13 7\n255\n";
    for (int I = 0; I < 13 * 7; ++I) F.put(static_cast<char>((I * 7 / 5) % 6));
  }
  ASSERT_TRUE(RunTool("opj_compress -n 2 -i " + Dir.File("idx.pgm") + " -o " + Dir.File("idx.j2k")));
  const std::vector<std::array<std::uint8_t, 3>> Palette = {
      {255, 0, 0}, {0, 200, 0}, {0, 0, 150}, {250, 240, 10}, {0, 0, 0}, {90, 30, 160}};
  WriteFile(Dir.File("pal.jp2"), Jp2File(ReadFile(Dir.File("idx.j2k")), 13, 7, 1, 16, Palette));
  ASSERT_TRUE(RunTool("opj_decompress -i " + Dir.File("pal.jp2") + " -o " + Dir.File("ref.ppm")));
  TRvBitmap Ref, Out, Header;
  ASSERT_TRUE(ReadPnm(Dir.File("ref.ppm"), Ref));
  TIOParamsVals Params, HeaderParams;
  ASSERT_TRUE(Read(ReadFile(Dir.File("pal.jp2")), Out, Params));
  ExpectSame24(Ref, Out);
  EXPECT_EQ(Params.SamplesPerPixel, 3);
  ASSERT_TRUE(Read(ReadFile(Dir.File("pal.jp2")), Header, HeaderParams, true));
  EXPECT_EQ(HeaderParams.SamplesPerPixel, 3);
  EXPECT_EQ(Header.Width(), 0);

  // The mapping box misplaced after the header box, where the library still
  // takes it: the header read gives the full read's size and depth.
  WriteFile(Dir.File("late.jp2"), Jp2File(ReadFile(Dir.File("idx.j2k")), 13, 7, 1, 16, Palette, true));
  ASSERT_TRUE(RunTool("opj_decompress -i " + Dir.File("late.jp2") + " -o " + Dir.File("late.ppm")));
  TRvBitmap LateRef;
  TIOParamsVals LateParams, LateHeader;
  ASSERT_TRUE(ReadPnm(Dir.File("late.ppm"), LateRef));
  ASSERT_TRUE(Read(ReadFile(Dir.File("late.jp2")), Out, LateParams));
  ExpectSame24(LateRef, Out);
  ASSERT_TRUE(Read(ReadFile(Dir.File("late.jp2")), Header, LateHeader, true));
  for (const TIOParamsVals* P : {&LateParams, &LateHeader})
    EXPECT_EQ(std::make_tuple(P->Width, P->Height, P->SamplesPerPixel, P->BitsPerSample), std::make_tuple(13, 7, 3, 8));

  // Three components declared CIELab: refused, not shown as RGB.
  TRvBitmap Rgb;
  MakeGradient(Rgb, 13, 7);
  WritePnm(Rgb, Dir.File("lab.ppm"));
  ASSERT_TRUE(RunTool("opj_compress -n 2 -mct 0 -i " + Dir.File("lab.ppm") + " -o " + Dir.File("lab.j2k")));
  const Bytes Lab = Jp2File(ReadFile(Dir.File("lab.j2k")), 13, 7, 3, 14);
  const Bytes Srgb = Jp2File(ReadFile(Dir.File("lab.j2k")), 13, 7, 3, 16);
  EXPECT_FALSE(Read(Lab, Out, Params));
  EXPECT_FALSE(Read(Lab, Out, Params, true));
  ASSERT_TRUE(Read(Srgb, Out, Params));
  ExpectSame24(Rgb, Out);
}

// Photographs cut by opj_compress into tiles of 16, 32 and 64 pixels, by the
// thousand, lossless and lossy: read as opj_decompress reads them, and their
// header alone gives the full read's layout.
TEST(Jpeg2000Interop, ReadsTiledPhotographsLikeOpjDecompress) {
  LIBCODECS_NEED_TOOL("opj_compress");
  LIBCODECS_NEED_TOOL("opj_decompress");
  LIBCODECS_NEED_TOOL("djpeg");
  const std::string Photos = "/usr/share/backgrounds/mate/nature/";
  for (const char* Photo : {"Dune.jpg", "LadyBird.jpg"})
    if (!std::filesystem::exists(Photos + Photo)) GTEST_SKIP() << "photograph missing: " << Photo;
  testing_support::TTempFolder Dir;
  const struct {
    const char* Photo;
    const char* Decode; // djpeg's options; -grayscale makes a gray picture
    const char* Encode;
    const char* File;
  } Cases[] = {
      {"Dune.jpg", "", "-t 16,16 -n 5", "a.j2k"},                  // 1680 x 1050: 105 x 66 tiles
      {"Dune.jpg", "-grayscale", "-t 16,16 -n 5 -I", "b.jp2"},     // the same in gray, lossy
      {"LadyBird.jpg", "-scale 3/4", "-t 32,32 -I -n 4", "c.jp2"}, // 1920 x 1200: 60 x 38
      {"Dune.jpg", "", "-t 64,64 -I -r 10", "d.jp2"},              // 27 x 17
      // Precincts of 32 x 32 and code-blocks down to 4 x 4: hundreds of
      // thousands of them, still far inside the allocation cap.
      {"Dune.jpg", "", "-c [32,32] -b 4,4", "e.j2k"},
      {"LadyBird.jpg", "-grayscale", "-c [64,64],[32,32] -b 4,4 -I -r 20", "f.jp2"},
      {"LadyBird.jpg", "", "-c [32,32] -b 4,8 -t 512,512 -n 4", "g.j2k"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Photo << " " << C.Decode << " " << C.Encode);
    const bool Gray = std::string(C.Decode).find("-grayscale") != std::string::npos;
    const std::string In = Dir.File(Gray ? "in.pgm" : "in.ppm"), Ref = Dir.File(Gray ? "ref.pgm" : "ref.ppm");
    ASSERT_TRUE(RunTool(std::string("djpeg -pnm ") + C.Decode + " -outfile " + In + " " + Photos + C.Photo));
    ASSERT_TRUE(RunTool("opj_compress -i " + In + " -o " + Dir.File(C.File) + " " + C.Encode));
    ASSERT_TRUE(RunTool("opj_decompress -i " + Dir.File(C.File) + " -o " + Ref));
    TRvBitmap Expected, Out, Header;
    ASSERT_TRUE(ReadPnm(Ref, Expected));
    const Bytes Data = ReadFile(Dir.File(C.File));
    TIOParamsVals Full, Head;
    ASSERT_TRUE(Read(Data, Out, Full));
    ExpectSame24(Expected, Out);
    ASSERT_TRUE(Read(Data, Header, Head, true));
    EXPECT_EQ(std::make_tuple(Head.Width, Head.Height, Head.SamplesPerPixel, Head.BitsPerSample),
              std::make_tuple(Full.Width, Full.Height, Full.SamplesPerPixel, Full.BitsPerSample));
    EXPECT_EQ(Full.SamplesPerPixel, Gray ? 1 : 3);
  }
}

// A JP2 file states the resolution of its "res " box, which a quarter turn
// writes turned (vertical and horizontal exchanged, nothing else); without
// one it states none and none is written. A picture read from one
// component is written as one.
TEST(Jpeg2000RoundTrip, ResolutionBoxAndGrayComeBack) {
  TRvBitmap Bmp, Out;
  MakeGradient(Bmp, 40, 20);
  TIOParamsVals W, Params, Turned, Plain;
  W.DpiX = 300;
  W.DpiY = 150;
  ASSERT_TRUE(Read(Write(Bmp, W, 0), Out, Params));
  EXPECT_EQ(std::tuple(Params.DpiStated, Params.DpiX, Params.DpiY), std::tuple(true, 300, 150));
  Bytes Box = Params.J2000ResolutionBox;
  ASSERT_EQ(Box.size(), 18u);
  std::swap(Params.DpiX, Params.DpiY);
  ASSERT_TRUE(Read(Write(Out, Params, 0), Out, Turned));
  std::swap_ranges(Box.begin() + 8, Box.begin() + 12, Box.begin() + 12);
  std::swap(Box[16], Box[17]);
  EXPECT_EQ(Turned.J2000ResolutionBox, Box);
  EXPECT_EQ(std::tuple(Turned.DpiX, Turned.DpiY), std::tuple(150, 300));

  W.DpiStated = false;
  W.SamplesPerPixel = 1;
  for (int Y = 0; Y < 20; ++Y) std::memset(Bmp.Scanline(Y), Y * 10, 40 * 3);
  ASSERT_TRUE(Read(Write(Bmp, W, 0), Out, Plain));
  EXPECT_EQ(std::tuple(Plain.DpiStated, Plain.SamplesPerPixel), std::tuple(false, 1));
  ExpectSame24(Bmp, Out);
}

// A read whole names the boxes of a JP2 file a save does not write back,
// each once and in file order, the first 16 of them, and notes what follows
// the last whole box past the code stream: lengths past the end, of 64
// bits, or of 0 (to the end) are bounded by the file. The header's boxes
// where the library takes them are the picture's. A code stream's bytes
// after its end are noted too; a header-only read notes nothing.
TEST(Jpeg2000Leftovers, BoxesASaveDoesNotWriteBackAreNamed) {
  const Bytes Stream = TiledCodeStream(16, 8, 16, 8, 1);
  auto Box = [](const std::string& Type) {
    Bytes B;
    PutBox(B, Type.c_str(), {'d', 'a', 't', 'a'});
    return B;
  };
  Bytes Many, Res;
  for (char C = 'a'; C < 'a' + 20; ++C) Put(Many, {Box(std::string("bx") + C + ' ')});
  PutBox(Res, "res ", Cat({Be(18, 4), {'r', 'e', 's', 'c'}, Be(3780, 2), Be(1, 2), Be(3780, 2), Be(1, 2), {0, 0}}));
  Bytes Profile;
  PutBox(Profile, "colr", {2, 0, 0, 'i', 'c', 'c'});
  const Bytes Gray = Jp2Header(16, 8, 1, 17);
  const struct {
    const char* Name;
    Bytes Header, Before, After, Tail; // boxes before the header box, between it and the code stream, after that
    std::vector<std::string> Named;
    int NotNamed;
    std::int64_t Trailer;
  } Cases[] = {
      {"plain", Gray, {}, {}, {}, {}, 0, 0},
      {"metadata after the code stream", Gray, {}, {}, Cat({Box("xml "), Box("uuid"), Box("xml ")}), {"xml", "uuid"}, 0, 0},
      {"before the header and in it", Cat({Gray, Box("uuid")}), Cat({Box("rreq"), ColourBox(17)}), {}, {},
       {"rreq", "colr", "uuid"}, 0, 0},
      {"a resolution kept, a second one and a second colour box", Cat({Gray, Res, ColourBox(16)}), {}, Res, {},
       {"colr", "res"}, 0, 0},
      {"a profile", Cat({Jp2Header(16, 8, 1, 0), Profile}), {}, {}, {}, {"colr"}, 0, 0},
      {"64-bit length", Gray, {}, {}, {0, 0, 0, 1, 'x', 'm', 'l', ' ', 0, 0, 0, 0, 0, 0, 0, 20, 'a', 'b', 'c', 'd'}, {"xml"}, 0, 0},
      {"length 0", Gray, {}, {}, {0, 0, 0, 0, 'u', 'u', 'i', 'd', 1, 2, 3}, {"uuid"}, 0, 0},
      {"length past the end", Gray, {}, {}, Cat({Box("xml "), {0, 0, 1, 0, 'x', 'm', 'l', ' ', 1, 2}}), {"xml"}, 0, 10},
      {"64-bit length past the end", Gray, {}, {}, {0, 0, 0, 1, 'u', 'u', 'i', 'd', 0x80, 0, 0, 0, 0, 0, 0, 0}, {}, 0, 16},
      {"bytes, not a box", Gray, {}, {}, {0, 0, 0, 9, 'A', 'p', 'p', 0, 0}, {}, 0, 9},
      {"fewer bytes than a box's header", Gray, {}, {}, {1, 2, 3}, {}, 0, 3},
      {"many", Gray, {}, {}, Many, {}, 4, 0},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes File = Cat({Jp2Around(C.Header, Stream, false, C.Before, C.After), C.Tail});
    TRvBitmap Out;
    TIOParamsVals Params, Head;
    ASSERT_TRUE(Read(File, Out, Params));
    if (C.NotNamed == 0) EXPECT_EQ(Params.J2000BoxesLeftOut, C.Named);
    EXPECT_EQ(Params.J2000BoxesLeftOut.size(), C.NotNamed > 0 ? 16u : C.Named.size());
    EXPECT_EQ(Params.J2000BoxesNotNamed, C.NotNamed);
    EXPECT_EQ(std::tuple(Params.Trailer.Of, Params.Trailer.Length), std::tuple(rv::rvftJP2, C.Trailer));
    ASSERT_TRUE(Read(File, Out, Head, true));
    EXPECT_EQ(std::tuple(Head.J2000BoxesLeftOut.size(), Head.Trailer.Of), std::tuple(0u, rv::rvftUnknown));
  }
  // A code stream box longer than the file runs to its end: nothing after it.
  Bytes Long = Jp2Around(Gray, Stream);
  Long[Long.size() - Stream.size() - 6] = 1;
  TRvBitmap Out;
  TIOParamsVals Params, Raw;
  ASSERT_TRUE(Read(Long, Out, Params));
  EXPECT_EQ(Params.Trailer.Of, rv::rvftUnknown);
  ASSERT_TRUE(Read(Cat({Stream, {'e', 'n', 'd'}}), Out, Raw));
  EXPECT_EQ(std::tuple(Raw.Trailer.Of, Raw.Trailer.Length), std::tuple(rv::rvftJ2K, std::int64_t{3}));
}
