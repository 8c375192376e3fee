#include "image/io/tiff/tiffread.h"
#include "image/io/tiff/tiffwrite.h"
#include "image/io/tiff/tiffpages.h"

#include "image/io/jpeg/jpegfilt.h"
#include "image/io/rastrumio.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/tifflzw.h"
#include "image/io/codectest_util.h"
#include "image/io/tiffbuild_testutil.h"
#include "image/io/tiffstrip_testutil.h"
#include "image/model/rvgeometry.h"
#include "platform/stream.h"
#include "support/tempfolder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace {

using namespace rv;
using codectest::TLzwSlots;
using tiffbuild::Bytes;
using tiffbuild::TBuilder;

struct TRead {
  TRvBitmap Bitmap;
  TIOParamsVals Params;
  std::unique_ptr<TRvMask> Mask;
  int Count = -1;
  bool Failed = false;
};

void Read(const Bytes& File, TRead& R, int Index = 0, bool HeaderOnly = false) {
  platform::TBytesStream S(File.data(), static_cast<std::int64_t>(File.size()));
  R.Params.TiffImageIndex = Index;
  TRvLocalProgress P;
  TiffReadStream(R.Bitmap, S, R.Count, false, false, R.Mask, HeaderOnly, P.Rec, &R.Params);
  R.Failed = P.Rec.IsAborting();
}

// The red of a pixel (1-bit: a set bit is white).
int Red(TRvBitmap& B, int X, int Y) {
  int C[3];
  codectest::OurPixel(B, X, Y, C);
  return C[0];
}

// Every pixel of Bitmap equals libtiff's decoding of Path (through tifftopnm).
// Tolerance 1 allows for 16-bit samples, whose high byte we keep where the reading of tifftopnm's map rounds.
void ExpectSameAsLibtiff(TRvBitmap& Bitmap, const std::string& Path, const std::string& Pnm, int Tolerance = 0) {
  ASSERT_TRUE(codectest::Run("tifftopnm '" + Path + "' > '" + Pnm + "'")) << Path;
  codectest::ExpectMatches(Bitmap, nullptr, codectest::Reference(Pnm), Tolerance);
}

bool HaveTools() {
  return tifftest::HaveTool("tiffcp") && tifftest::HaveTool("tifftopnm") && tifftest::HaveTool("convert");
}

// ---- Files made by libtiff's tools ----------------------------------------

class TTiffPeers : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "tiffcp, tifftopnm (libtiff-tools, netpbm) or convert (imagemagick) missing";
    Run("convert -size 41x29 gradient:red-blue -fill green -draw 'rectangle 5,5 15,20' -depth 8 -type truecolor '" +
        File("rgb.tif") + "'");
    Run("convert -size 37x23 xc:white -fill black -draw 'circle 18,11 18,3' -draw 'line 0,0 36,22' "
        "-type bilevel -depth 1 '" + File("bw.tif") + "'");
    Run("convert -size 33x17 gradient:black-white -colorspace gray -depth 8 -type grayscale '" + File("gray.tif") + "'");
    Run("convert -size 30x20 plasma:fractal -seed 3 -colors 12 -type palette '" + File("pal.tif") + "'");
    Run("convert -size 30x20 plasma:fractal -seed 3 -colors 40 -type palette '" + File("pal8.tif") + "'");
    Run("convert -size 21x13 gradient:yellow-navy -depth 16 -type truecolor '" + File("rgb16.tif") + "'");
  }
  std::string File(const std::string& Name) const { return Dir.File(Name); }
  static void Run(const std::string& Cmd) { ASSERT_EQ(std::system((Cmd + " >/dev/null 2>&1").c_str()), 0) << Cmd; }
  void CheckCopy(const std::string& Source, const std::string& Options, int Tolerance = 0) {
    SCOPED_TRACE(Source + " " + Options);
    const std::string Out = File("out.tif");
    Run("tiffcp " + Options + " '" + File(Source) + "' '" + Out + "'");
    TRead R;
    Read(codectest::Load(Out), R);
    ASSERT_FALSE(R.Failed);
    ExpectSameAsLibtiff(R.Bitmap, Out, File("ref.pnm"), Tolerance);
  }
  testing_support::TTempFolder Dir;
  TLzwSlots Slots;
};

TEST_F(TTiffPeers, ColourInEveryCompressionAndLayout) {
  for (const char* Options : {"-c none", "-c lzw", "-c lzw:2", "-c packbits", "-c none -B", "-c lzw:2 -B",
                              "-c lzw -p separate", "-c none -p separate -r 7", "-c none -r 4"})
    CheckCopy("rgb.tif", Options);
}

TEST_F(TTiffPeers, TilesIncludingPartialEdgeTiles) {
  for (const char* Options : {"-t -w 16 -l 16 -c none", "-t -w 16 -l 16 -c lzw:2", "-t -w 32 -l 16 -c packbits"})
    CheckCopy("rgb.tif", Options);
  CheckCopy("gray.tif", "-t -w 16 -l 16 -c lzw");
}

TEST_F(TTiffPeers, BilevelInEveryCompression) {
  for (const char* Options : {"-c none", "-c lzw", "-c packbits", "-c g3", "-c g3:2d", "-c g4", "-c g3:fill",
                              "-c g4 -r 5", "-c g3:2d -B"})
    CheckCopy("bw.tif", Options);
  // A fax-wide page of ragged shapes, as scans have, in long strips.
  Run("convert -size 1728x200 plasma:fractal -seed 9 -blur 0x3 -threshold 50% -type bilevel -depth 1 '" + File("page.tif") + "'");
  for (const char* Options : {"-c g3:2d -r 200", "-c g3:2d:fill -r 200", "-c g4 -r 200"}) CheckCopy("page.tif", Options);
}

TEST_F(TTiffPeers, GrayAndPalette) {
  for (const char* Options : {"-c none", "-c lzw:2", "-c packbits"}) CheckCopy("gray.tif", Options);
  // libtiff refuses prediction on palette pictures.
  for (const char* Options : {"-c none", "-c lzw", "-c packbits"}) {
    CheckCopy("pal.tif", Options);
    CheckCopy("pal8.tif", Options);
  }
  for (const char* Options : {"-c none", "-c lzw:2", "-c none -B"}) CheckCopy("rgb16.tif", Options, 1);
}

TEST_F(TTiffPeers, MultiPageCountsAndReadsEachPage) {
  const std::string Out = File("multi.tif");
  Run("tiffcp -c lzw '" + File("rgb.tif") + "' '" + File("bw.tif") + "' '" + File("gray.tif") + "' '" + Out + "'");
  const Bytes F = codectest::Load(Out);
  for (int Page = 0; Page < 3; ++Page) {
    TRead R;
    Read(F, R, Page);
    EXPECT_EQ(R.Count, 3);
    EXPECT_EQ(R.Params.TiffImageCount, 3);
    ASSERT_FALSE(R.Failed);
    const std::string One = File("page.tif");
    Run("tiffcp '" + Out + "," + std::to_string(Page) + "' '" + One + "'");
    ExpectSameAsLibtiff(R.Bitmap, One, File("ref.pnm"));
  }
  TRead Beyond;
  Read(F, Beyond, 3);
  EXPECT_FALSE(Beyond.Failed);
  EXPECT_EQ(Beyond.Count, 3);
  EXPECT_EQ(Beyond.Bitmap.Width(), 0);
}

// ---- Files of other programs, decoded as ImageMagick decodes them -----------

class TTiffOthers : public TTiffPeers {
protected:
  // A 46 x 70 picture with marked corners and an alpha ramp, written by convert with Options.
  std::string MakeRgba(const std::string& Name, const std::string& Options) {
    const std::string Path = File(Name);
    Run("convert -size 46x70 gradient:red-blue -fill lime -draw 'rectangle 0,0 5,3' -fill white -draw 'point 45,69' "
        "\\( -size 46x70 gradient:white-black -fill gray50 -draw 'rectangle 30,0 45,9' \\) -alpha off "
        "-compose copy_opacity -composite " + Options + " '" + Path + "'");
    return Path;
  }
  void ExpectAsImageMagick(const std::string& Path, bool WithAlpha, int Tolerance = 0, const std::string& Options = "") {
    SCOPED_TRACE(Path + " " + Options);
    TRead R;
    Read(codectest::Load(Path), R);
    ASSERT_FALSE(R.Failed);
    EXPECT_EQ(R.Mask != nullptr, WithAlpha);
    codectest::ExpectMatches(R.Bitmap, R.Mask.get(), codectest::Reference(Path, Options), Tolerance);
  }
};

TEST_F(TTiffOthers, EveryOrientationTurnsTheMaskWithThePicture) {
  const std::string Source = MakeRgba("rgba.tif", "-depth 8");
  for (int Orientation = 1; Orientation <= 8; ++Orientation) {
    const std::string Path = File("o" + std::to_string(Orientation) + ".tif");
    Run("cp '" + Source + "' '" + Path + "' && tiffset -s 274 " + std::to_string(Orientation) + " '" + Path + "'");
    ExpectAsImageMagick(Path, true, 0, "-auto-orient");
  }
}

TEST_F(TTiffOthers, ExtraSamplesDecideWhetherAndHowAlphaCounts) {
  struct TCase {
    const char* Options;
    bool Alpha;
    int Tolerance; // ImageMagick truncates where we round when it divides by alpha
  } Cases[] = {{"-define tiff:alpha=unassociated", true, 0},
               {"-define tiff:alpha=associated", true, 1},
               {"-colorspace gray -define tiff:alpha=associated", true, 1},
               {"-colorspace gray -define tiff:alpha=unassociated", true, 0},
               {"-define tiff:alpha=unspecified", false, 0}};
  for (const TCase& C : Cases) {
    const std::string Path = MakeRgba("extra.tif", std::string("-depth 8 ") + C.Options);
    // An unspecified extra sample is no alpha: the colours count as stored.
    ExpectAsImageMagick(Path, C.Alpha, C.Tolerance, C.Alpha ? "" : "-alpha off");
  }
}

TEST_F(TTiffOthers, AssociatedAlphaIsDividedOutPixelForPixel) {
  if (!tifftest::HaveTool("tiff2rgba")) GTEST_SKIP() << "reference tool missing: tiff2rgba";
  // tiff2rgba hands associated colours on as stored: the premultiplied
  // samples, from which the plain colour is colour x 255 / alpha, rounded,
  // and black where alpha is 0.
  const std::string Path = MakeRgba("assoc.tif", "-depth 8 -define tiff:alpha=associated");
  Run("tiff2rgba -c none '" + Path + "' '" + File("assoc-rgba.tif") + "'");
  const tifftest::TStripFile Stored = tifftest::ParseTiff(codectest::Load(File("assoc-rgba.tif")));
  ASSERT_TRUE(Stored.Ok);
  ASSERT_EQ(Stored.Tag(338), 1u); // still associated
  ASSERT_EQ(Stored.Strips.size(), 46u * 70u * 4u);
  TRead R;
  Read(codectest::Load(Path), R);
  ASSERT_FALSE(R.Failed);
  ASSERT_NE(R.Mask, nullptr);
  int Partial = 0, Clear = 0;
  for (int Y = 0; Y < 70; ++Y)
    for (int X = 0; X < 46; ++X) {
      const std::uint8_t* P = Stored.Strips.data() + 4 * (Y * 46 + X);
      const unsigned A = P[3];
      int Ours[3];
      codectest::OurPixel(R.Bitmap, X, Y, Ours);
      ASSERT_EQ(R.Mask->ScanLine(Y)[X], A) << X << "," << Y;
      for (int C = 0; C < 3; ++C)
        ASSERT_EQ(unsigned(Ours[C]), A == 0 ? 0u : std::min(255u, (P[C] * 255u + A / 2) / A)) << X << "," << Y;
      Partial += A > 0 && A < 255;
      Clear += A == 0;
    }
  EXPECT_GT(Partial, 1000); // the gradient, not just opaque and clear pixels
  EXPECT_GT(Clear, 0);
}

TEST_F(TTiffOthers, PaletteAlphaIsTakenAsStored) {
  const std::string Path = File("pa.tif");
  Run("convert -size 30x20 plasma:fractal -seed 3 -alpha set -channel A -fx 'i/w' +channel -colors 60 -depth 8 "
      "-type PaletteAlpha '" + Path + "'");
  // The colour map's 16-bit entries keep their high byte; ImageMagick rounds them.
  ExpectAsImageMagick(Path, true, 1);
}

TEST_F(TTiffOthers, FillOrderTwoInEveryCompression) {
  for (const char* C : {"none", "lzw", "lzw:2", "packbits", "g4"}) {
    const std::string Out = File("lsb.tif");
    Run(std::string("tiffcp -f lsb2msb -c ") + C + " '" + File(std::string(C) == "g4" ? "bw.tif" : "rgb.tif") + "' '" +
        Out + "'");
    ExpectAsImageMagick(Out, false);
  }
}

TEST_F(TTiffOthers, SignedAndFloatingPointSamplesAreRefused) {
  for (const char* Format : {"signed", "floating-point"}) {
    const std::string Path = File("format.tif");
    // convert complains of the predictor tag it cannot set on floating-point samples but writes the file.
    codectest::Run(std::string("convert -size 10x4 gradient:white-black -define quantum:format=") + Format + " '" +
                   Path + "'");
    TRead Header, R;
    Read(codectest::Load(Path), Header, 0, true);
    Read(codectest::Load(Path), R);
    EXPECT_FALSE(Header.Failed) << Format;
    EXPECT_EQ(Header.Params.Width, 10);
    EXPECT_TRUE(R.Failed) << Format;
  }
}

// ---- Our files read by libtiff --------------------------------------------

class TTiffWrittenForPeers : public TTiffPeers {
protected:
  // Writes Source with the given options, checks libtiff reads the same
  // pixels as ours, and answers the written bytes.
  Bytes WriteAndCheck(TRvBitmap& Source, int Bits, int Samples, int Compression, int Photometric = 2) {
    TIOParamsVals P;
    P.BitsPerSample = Bits;
    P.SamplesPerPixel = Samples;
    P.TiffCompression = static_cast<std::uint8_t>(Compression);
    P.TiffPhotometric = static_cast<std::uint8_t>(Photometric);
    P.DpiX = P.DpiY = 96;
    platform::TMemoryStream S;
    TRvLocalProgress Prog;
    EXPECT_EQ(TiffWriteStream(S, Source, Prog.Rec, P), 1);
    const Bytes F = S.Data();
    const std::string Path = File("ours.tif");
    codectest::Save(Path, F);
    EXPECT_EQ(std::system(("tiffinfo '" + Path + "' >/dev/null 2>&1").c_str()), 0);
    TRead R;
    Read(F, R);
    EXPECT_FALSE(R.Failed);
    ExpectSameAsLibtiff(R.Bitmap, Path, File("ref.pnm"));
    return F;
  }
};

// Our own reading of what we write is checked by the round trips of every codec.
TEST_F(TTiffWrittenForPeers, EveryCompressionIsReadByLibtiff) {
  TRead Rgb, Bw;
  Read(codectest::Load(File("rgb.tif")), Rgb);
  Read(codectest::Load(File("bw.tif")), Bw);
  ASSERT_EQ(Bw.Bitmap.PixelFormat(), rvpf1Bit);
  for (int C : {0, 5, 8}) WriteAndCheck(Rgb.Bitmap, 8, 3, C);
  for (int C : {0, 1, 2, 3, 4, 5, 8}) {
    SCOPED_TRACE(C);
    const tifftest::TStripFile T = tifftest::ParseTiff(WriteAndCheck(Bw.Bitmap, 1, 1, C));
    // The fax schemes store WhiteIsZero, the others BlackIsZero.
    EXPECT_EQ(T.Tag(262), (C >= 1 && C <= 4) ? 0u : 1u);
  }
}

TEST_F(TTiffWrittenForPeers, PaletteAndCmykAreReadByLibtiff) {
  TRead Src;
  Read(codectest::Load(File("pal.tif")), Src);
  WriteAndCheck(Src.Bitmap, 8, 1, 5);
  WriteAndCheck(Src.Bitmap, 4, 1, 8);
  TRead Rgb;
  Read(codectest::Load(File("rgb.tif")), Rgb);
  // CMYK goes through ink percentages: compare libtiff's reading with ours.
  WriteAndCheck(Rgb.Bitmap, 8, 4, 0, 5);
}

TEST_F(TTiffWrittenForPeers, FaxCompressionOfAColourPictureFallsBackWithItsOwnPhotometric) {
  TRead Src;
  Read(codectest::Load(File("rgb.tif")), Src);
  for (int C : {1, 2, 3, 4}) {
    const Bytes F = WriteAndCheck(Src.Bitmap, 8, 3, C);
    const tifftest::TStripFile T = tifftest::ParseTiff(F);
    EXPECT_EQ(T.Tag(259), 1u);
    EXPECT_EQ(T.Tag(262), 2u);
    EXPECT_EQ(T.Tags.at(258).size(), 3u);
  }
}

// ---- Hand-built structures --------------------------------------------------

// A 4 x 2 8-bit RGB page with one uncompressed strip.
Bytes SmallRgb(bool Intel, std::vector<tiffbuild::TTag> Extra = {}) {
  TBuilder B(Intel);
  const Bytes Pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::uint32_t Strip = B.AddBlob(Pixels);
  std::vector<tiffbuild::TTag> Tags = {B.Short(256, {4}),         B.Short(257, {2}),
                                       B.Short(258, {8, 8, 8}),   B.Short(259, {1}),
                                       B.Short(262, {2}),         B.Long(273, {Strip}),
                                       B.Short(277, {3}),         B.Long(279, {24})};
  // Extra tags take the place of those of the same number.
  for (const tiffbuild::TTag& T : Extra) {
    std::erase_if(Tags, [&T](const tiffbuild::TTag& Old) { return Old.Id == T.Id; });
    Tags.push_back(T);
  }
  std::sort(Tags.begin(), Tags.end(), [](auto& A, auto& C) { return A.Id < C.Id; });
  B.SetFirst(B.AddIfd(Tags, 0));
  return B.B;
}

TEST(TiffReader, MotorolaFileReadsLikeItsIntelTwin) {
  TRead I, M;
  Read(SmallRgb(true), I);
  Read(SmallRgb(false), M);
  ASSERT_FALSE(I.Failed);
  ASSERT_FALSE(M.Failed);
  ASSERT_EQ(M.Bitmap.Width(), 4);
  for (int Y = 0; Y < 2; ++Y) EXPECT_EQ(std::memcmp(I.Bitmap.Scanline(Y), M.Bitmap.Scanline(Y), 12), 0);
  // Blue, green, red of the first pixel (stored red).
  EXPECT_EQ(I.Bitmap.Scanline(0)[2], 255);
  EXPECT_EQ(I.Bitmap.Scanline(0)[0], 0);
  EXPECT_EQ(I.Bitmap.Scanline(1)[0], 3);
}

TEST(TiffReader, CyclesOfAnyLengthEndThePageWalk) {
  for (int Length : {1, 2, 3, 5}) {
    TBuilder B;
    std::vector<std::size_t> NextAt(static_cast<std::size_t>(Length));
    std::vector<std::uint32_t> At;
    for (int I = 0; I < Length; ++I)
      At.push_back(B.AddIfd({B.Short(256, {1}), B.Short(257, {1})}, 0, &NextAt[static_cast<std::size_t>(I)]));
    for (int I = 0; I < Length; ++I) B.Patch32(NextAt[static_cast<std::size_t>(I)], At[static_cast<std::size_t>((I + 1) % Length)]);
    B.SetFirst(At[0]);
    TRead R;
    Read(B.B, R, 99, true);
    EXPECT_EQ(R.Count, Length);
    EXPECT_FALSE(R.Failed);
  }
}

TEST(TiffReader, ChainLeavingTheFileEndsWhereTheFileEnds) {
  TBuilder B;
  std::size_t NextAt = 0;
  B.SetFirst(B.AddIfd({B.Short(256, {1})}, 0, &NextAt));
  B.Patch32(NextAt, 0x7FFFFFF0);
  TRead R;
  Read(B.B, R, 1, true);
  EXPECT_EQ(R.Count, 1);
  EXPECT_FALSE(R.Failed);
}

TEST(TiffReader, BrokenOrUndecodablePagesFailInsteadOfShowingBlank) {
  TBuilder B;
  struct TCase {
    const char* Name;
    std::vector<tiffbuild::TTag> Tags;
    bool HeaderFails;
    int Compression = 0; // as reported by the header-only read
  } Cases[] = {
      {"strip offsets reaching far past the file", {B.Raw(273, 4, 0x10000000, 8)}, false},
      {"a strip beyond the file", {B.Long(273, {0x40000000})}, false},
      {"a strip shorter than its rows", {B.Short(256, {40})}, false},
      {"unequal bits per sample", {B.Short(258, {8, 4, 8})}, true},
      {"LZW without a decoder", {B.Short(259, {5})}, true},
      {"compression 7", {B.Short(259, {7})}, false, 7},
      {"compression 8", {B.Short(259, {8})}, false, 9},
      {"compression 32946", {B.Short(259, {32946})}, false, 9},
      {"old JPEG without its stream", {B.Short(259, {6})}, false, 6},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRead Header, R;
    Read(SmallRgb(true, C.Tags), Header, 0, true);
    Read(SmallRgb(true, C.Tags), R);
    EXPECT_EQ(Header.Failed, C.HeaderFails);
    if (!C.HeaderFails) {
      EXPECT_EQ(Header.Params.TiffCompression, C.Compression);
    }
    EXPECT_TRUE(R.Failed);
  }
  Bytes F = SmallRgb(true);
  F[0] = F[1] = 'X';
  TRead Bad;
  Read(F, Bad, 0, true);
  EXPECT_TRUE(Bad.Failed);
}

TEST(TiffReader, ABigTiffOtherVersionsAndFilesOfNoPageAreRefused) {
  // A good page under another version, in either byte order.
  auto Version = [](bool Intel, int V) {
    Bytes F = SmallRgb(Intel);
    F[Intel ? 2 : 3] = static_cast<std::uint8_t>(V), F[Intel ? 3 : 2] = 0;
    return F;
  };
  const std::string Big = "BigTIFF files are not supported";
  const std::pair<Bytes, std::string> Cases[] = {
      {Version(true, 43), Big}, {Version(false, 43), Big}, {Version(true, 41), ""}, {TBuilder().B, ""}};
  for (const auto& [F, Note] : Cases)
    for (const bool HeaderOnly : {false, true}) {
      RvClearKindRefusal();
      TRead R;
      Read(F, R, 0, HeaderOnly);
      EXPECT_TRUE(R.Failed);
      EXPECT_EQ(RvLastKindRefusal(), Note);
    }
  // Inside another file (an Exif block) a BigTIFF is only no TIFF; a save
  // takes none of it for a page.
  const Bytes F = Version(true, 43);
  platform::TBytesStream S(F.data(), static_cast<std::int64_t>(F.size()));
  TRead Inner;
  TRvLocalProgress P;
  RvClearKindRefusal();
  TiffReadStream(Inner.Bitmap, S, Inner.Count, true, true, Inner.Mask, false, P.Rec, &Inner.Params);
  EXPECT_TRUE(P.Rec.IsAborting());
  EXPECT_EQ(RvLastKindRefusal(), "");
  EXPECT_EQ(TTiffPages(S).Count(), 0);
}

TEST(TiffReader, ValuesOutsideTheFileReadAsAbsent) {
  // A text whose offset lies outside reads as empty; a colour map that is too short is padded black.
  TBuilder B;
  const Bytes Map = {0, 0xFF, 0, 0, 0, 0}; // one red entry only (little-endian shorts)
  B.SetFirst(B.AddIfd({B.Short(256, {2}), B.Short(257, {1}), B.Short(258, {8}), B.Short(262, {3}),
                       B.Raw(269, 2, 100, 0x7FFFFF00), B.Long(273, {8}), B.Short(277, {1}), B.Long(279, {2}),
                       tiffbuild::TTag{320, 3, 3, Map}},
                      0));
  TRead R;
  Read(B.B, R);
  EXPECT_EQ(R.Params.TiffDocumentName, "");
  EXPECT_EQ(R.Params.ColorMapCount, 256);
  EXPECT_EQ(R.Params.ColorMap[0].r, 255);
  EXPECT_EQ(R.Params.ColorMap[1].r, 0);
}

TEST(TiffReader, BilevelRgbIsWhiteIsZero) {
  TBuilder B;
  const std::uint32_t Strip = B.AddBlob({0xF0, 0x0F});
  B.SetFirst(B.AddIfd({B.Short(256, {8}), B.Short(257, {2}), B.Short(262, {2}), B.Long(273, {Strip}),
                       B.Long(279, {2})},
                      0));
  TRead R;
  Read(B.B, R);
  ASSERT_FALSE(R.Failed);
  EXPECT_EQ(R.Params.TiffPhotometric, 0);
  ASSERT_EQ(R.Bitmap.PixelFormat(), rvpf1Bit);
  EXPECT_EQ(R.Bitmap.Scanline(0)[0], 0x0F); // set bits are white
  EXPECT_EQ(R.Bitmap.Scanline(1)[0], 0xF0);
}

TEST(TiffReader, ResolutionInCentimetresAndDefaults) {
  TBuilder B;
  TRead R;
  Read(SmallRgb(true, {B.Rational(282, {{11811, 100}}), B.Short(296, {3})}), R, 0, true);
  EXPECT_EQ(R.Params.DpiX, 299); // Trunc(118.11 x 2.54 = 299.9994)
  const std::int32_t Old = RvDefaultDpiY;
  RvDefaultDpiY = 72;
  TRead D;
  Read(SmallRgb(true, {B.Rational(282, {{11811, 100}}), B.Short(296, {3})}), D, 0, true);
  EXPECT_EQ(D.Params.DpiY, 72);
  RvDefaultDpiY = Old;
}

TEST(TiffReader, OrientationAppliedOrOnlyReported) {
  TBuilder B;
  TRead Kept;
  Kept.Params.TiffApplyOrientation = false;
  Read(SmallRgb(true, {B.Short(274, {6})}), Kept);
  EXPECT_EQ(Kept.Params.TiffOrientation, 6);
  EXPECT_EQ(Kept.Params.ExifOrientation, 6);
  EXPECT_EQ(Kept.Bitmap.Width(), 4);
  TRead Turned;
  Read(SmallRgb(true, {B.Short(274, {6})}), Turned);
  ASSERT_EQ(Turned.Bitmap.Width(), 2);
  ASSERT_EQ(Turned.Bitmap.Height(), 4);
  // Turned clockwise: the stored bottom-left pixel (1, 2, 3) is now top left.
  EXPECT_EQ(Red(Turned.Bitmap, 0, 0), 1);
  EXPECT_EQ(Red(Turned.Bitmap, 1, 0), 255);
  TRead Flipped;
  Read(SmallRgb(true, {B.Short(274, {2})}), Flipped);
  EXPECT_EQ(Red(Flipped.Bitmap, 0, 0), 9);
}

TEST(TiffReader, SixteenBitGrayScaledBySoftware) {
  for (const std::string Software : {"Look@Molli v1.1 x", "other"}) {
    TBuilder B;
    const std::uint32_t Strip = B.AddBlob({0x00, 0x0A, 0xFF, 0xFF}); // 2560 and 65535, little-endian
    B.SetFirst(B.AddIfd({B.Short(256, {2}), B.Short(257, {1}), B.Short(258, {16}), B.Short(262, {1}),
                         B.Long(273, {Strip}), B.Long(279, {4}), B.Ascii(305, Software)},
                        0));
    TRead R;
    Read(B.B, R);
    ASSERT_FALSE(R.Failed);
    EXPECT_EQ(Red(R.Bitmap, 0, 0), Software == "other" ? 10 : 160);
    EXPECT_EQ(Red(R.Bitmap, 1, 0), 255);
  }
}

TEST(TiffReader, AlphaSampleFillsTheMaskAndNoAlphaLeavesItOut) {
  TBuilder B;
  const std::uint32_t Strip = B.AddBlob({10, 20, 30, 40, 50, 60, 70, 80});
  B.SetFirst(B.AddIfd({B.Short(256, {2}), B.Short(257, {1}), B.Short(258, {8, 8, 8, 8}), B.Short(262, {2}),
                       B.Long(273, {Strip}), B.Short(277, {4}), B.Long(279, {8}), B.Short(338, {2})},
                      0));
  TRead R;
  Read(B.B, R);
  ASSERT_NE(R.Mask, nullptr);
  EXPECT_EQ(R.Mask->ScanLine(0)[0], 40);
  EXPECT_EQ(R.Mask->ScanLine(0)[1], 80);
  EXPECT_EQ(Red(R.Bitmap, 1, 0), 50);
}

TEST(TiffReader, HeaderOnlyFillsFieldsAndLeavesThePixels) {
  TBuilder B;
  TRead R;
  Read(SmallRgb(true, {B.Ascii(269, "doc"), B.Ascii(285, "page"), B.Short(297, {2, 5}),
                       B.Rational(286, {{3, 2}}), B.Ascii(271, "Maker")}),
       R, 0, true);
  EXPECT_FALSE(R.Failed);
  EXPECT_EQ(R.Bitmap.Width(), 0);
  EXPECT_EQ(R.Params.Width, 4);
  EXPECT_EQ(R.Params.SamplesPerPixel, 3);
  EXPECT_EQ(R.Params.TiffDocumentName, "doc");
  EXPECT_EQ(R.Params.TiffPageName, "page");
  EXPECT_EQ(R.Params.TiffPageNumber, 2);
  EXPECT_EQ(R.Params.TiffPageCount, 5);
  EXPECT_EQ(R.Params.TiffXPos, 1);
  EXPECT_EQ(R.Params.ExifMake, "Maker");
}

TEST(TiffReader, NullParamsOnlyCounts) {
  const Bytes F = SmallRgb(true);
  platform::TBytesStream S(F.data(), static_cast<std::int64_t>(F.size()));
  TRvBitmap Bitmap;
  std::unique_ptr<TRvMask> Mask;
  TRvLocalProgress P;
  int Count = 0;
  TiffReadStream(Bitmap, S, Count, false, false, Mask, false, P.Rec, nullptr);
  EXPECT_EQ(Count, 1);
  EXPECT_EQ(Bitmap.Width(), 0);
  EXPECT_FALSE(P.Rec.IsAborting());
}

TEST(TiffReader, OldStyleJpegInterchangeFormat) {
  TRvBitmap Source;
  Source.Allocate(16, 8, rvpf24Bit);
  for (int Y = 0; Y < 8; ++Y)
    for (int X = 0; X < 48; ++X) Source.Scanline(Y)[X] = static_cast<std::uint8_t>(X * 5 + Y * 20);
  platform::TMemoryStream Jpeg;
  TIOParamsVals JP;
  TRvLocalProgress W;
  JpegWriteStream(Jpeg, Source, JP, W.Rec);
  ASSERT_FALSE(W.Rec.IsAborting());
  const Bytes JpegBytes = Jpeg.Data();
  for (std::uint32_t Length : {static_cast<std::uint32_t>(JpegBytes.size()), 0u}) {
    TBuilder B;
    const std::uint32_t At = B.AddBlob(JpegBytes);
    B.SetFirst(B.AddIfd({B.Short(256, {16}), B.Short(257, {8}), B.Short(258, {8, 8, 8}), B.Short(259, {6}),
                         B.Short(262, {6}), B.Short(277, {3}), B.Long(513, {At}), B.Long(514, {Length})},
                        0));
    TRead R;
    Read(B.B, R);
    ASSERT_FALSE(R.Failed);
    TRvBitmap Direct;
    platform::TBytesStream In(JpegBytes.data(), static_cast<std::int64_t>(JpegBytes.size()));
    TIOParamsVals DP;
    TRvLocalProgress D;
    JpegReadStream(In, Direct, DP, false, D.Rec);
    ASSERT_EQ(R.Bitmap.Width(), 16);
    for (int Y = 0; Y < 8; ++Y) EXPECT_EQ(std::memcmp(R.Bitmap.Scanline(Y), Direct.Scanline(Y), 48), 0);
  }
  // With JPEGProc set the stream is not the interchange form: an error, not an empty picture.
  TBuilder B;
  const std::uint32_t At = B.AddBlob(JpegBytes);
  B.SetFirst(B.AddIfd({B.Short(256, {16}), B.Short(257, {8}), B.Short(259, {6}), B.Short(262, {6}),
                       B.Short(277, {3}), B.Short(512, {1}), B.Long(513, {At})},
                      0));
  TRead R;
  Read(B.B, R);
  EXPECT_TRUE(R.Failed);
}

// ---- Tiles wider than the picture ---------------------------------------------

// A Width x Height picture in tiles TileWidth x TileLength that all point at
// the same Data.
Bytes SharedTiles(std::uint32_t Width, std::uint32_t Height, std::uint32_t TileWidth, std::uint32_t TileLength,
                  std::uint32_t Compression, std::uint32_t Bits, const Bytes& Data) {
  TBuilder B;
  const std::uint32_t At = B.AddBlob(Data);
  const std::uint32_t Tiles = (Width + TileWidth - 1) / TileWidth * ((Height + TileLength - 1) / TileLength);
  B.SetFirst(B.AddIfd({B.Long(256, {Width}), B.Long(257, {Height}), B.Short(258, {Bits}), B.Short(259, {Compression}),
                       B.Short(262, {Bits == 1 ? 0u : 1u}), B.Short(277, {1}), B.Long(322, {TileWidth}),
                       B.Long(323, {TileLength}), B.Long(324, std::vector<std::uint32_t>(Tiles, At)),
                       B.Long(325, std::vector<std::uint32_t>(Tiles, static_cast<std::uint32_t>(Data.size())))},
                      0));
  return B.B;
}

constexpr std::uint32_t WideTile = 1u << 28;

// What six tiles share in each scheme. The fax data code one black pixel,
// then white to the end of the row: modified Huffman runs (T.4
// one-dimensional too), or T.6 horizontal mode with runs 0 and 1, then V0.
// The others code 16 samples of gray.
struct TSharedData {
  std::uint32_t Compression, Bits;
  Bytes Data;
};
std::vector<TSharedData> SharedData() {
  Bytes Runs = {0x35, 0x40}, T6 = {0x26, 0xAA};
  Runs.resize(16);
  T6.resize(16);
  const Bytes Gray(16, 0x80);
  platform::TMemoryStream Lzw;
  void* State = nullptr;
  TiffLzwCompress(Gray.data(), 16, &Lzw, State);
  TiffLzwCompress(nullptr, 0, &Lzw, State);
  return {{2, 1, Runs}, {3, 1, Runs}, {4, 1, T6}, {1, 8, Gray}, {32773, 8, {0xF1, 0x80}}, {5, 8, Lzw.Data()}};
}

Bytes SmallJpeg() {
  TRvBitmap Picture;
  Picture.Allocate(8, 8, rvpf24Bit);
  platform::TMemoryStream Jpeg;
  TIOParamsVals P;
  TRvLocalProgress W;
  JpegWriteStream(Jpeg, Picture, P, W.Rec);
  return Jpeg.Data();
}

// A JPEG whose Exif thumbnail is a 1 x 4 picture of four T.6 tiles 2^28
// pixels wide, sharing 16 bytes.
Bytes JpegWithWideTileThumbnail() {
  TBuilder B;
  B.B = SharedTiles(1, 4, WideTile, 1, 4, 1, SharedData()[2].Data);
  const std::uint32_t Thumbnail = B.B[4] | B.B[5] << 8 | B.B[6] << 16 | static_cast<std::uint32_t>(B.B[7]) << 24;
  B.SetFirst(B.AddIfd({B.Short(274, {1})}, Thumbnail));
  Bytes App1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  App1.insert(App1.end(), B.B.begin(), B.B.end());
  App1[2] = static_cast<std::uint8_t>((App1.size() - 2) >> 8);
  App1[3] = static_cast<std::uint8_t>(App1.size() - 2);
  Bytes File = SmallJpeg();
  File.insert(File.begin() + 2, App1.begin(), App1.end());
  return File;
}

// Through the program's reader, as a file opened in a folder.
bool LoadAsTheProgramDoes(const Bytes& File, TRastrumIO& IO) {
  platform::TBytesStream S(File.data(), static_cast<std::int64_t>(File.size()));
  IO.LoadFromStream(S);
  return !IO.Aborting;
}

TEST(TiffReader, TilesWiderThanThePictureShowWhatNarrowTilesShow) {
  TLzwSlots Slots;
  for (const TSharedData& D : SharedData()) {
    SCOPED_TRACE(D.Compression);
    TRead Wide, Narrow;
    Read(SharedTiles(1, 6, WideTile, 1, D.Compression, D.Bits, D.Data), Wide);
    Read(SharedTiles(1, 6, 16, 1, D.Compression, D.Bits, D.Data), Narrow);
    ASSERT_FALSE(Narrow.Failed);
    ASSERT_EQ(Narrow.Bitmap.Height(), 6);
    if (D.Bits == 8) {
      // Sixteen bytes cannot fill rows of 2^28 samples.
      EXPECT_TRUE(Wide.Failed);
      EXPECT_EQ(Wide.Bitmap.Width(), 0);
      continue;
    }
    // The fax rows are only 16 bytes whatever their width.
    ASSERT_FALSE(Wide.Failed);
    ASSERT_EQ(Wide.Bitmap.Width(), 1);
    ASSERT_EQ(Wide.Bitmap.Height(), 6);
    for (int Y = 0; Y < 6; ++Y) {
      EXPECT_EQ(Red(Narrow.Bitmap, 0, Y), 0);
      EXPECT_EQ(Red(Wide.Bitmap, 0, Y), 0);
    }
  }
  // The thumbnail of an Exif block is read by the same reader.
  TRastrumIO IO;
  ASSERT_TRUE(LoadAsTheProgramDoes(JpegWithWideTileThumbnail(), IO));
  ASSERT_NE(IO.Params().ExifBitmap, nullptr);
  ASSERT_EQ(IO.Params().ExifBitmap->Width(), 1);
  ASSERT_EQ(IO.Params().ExifBitmap->Height(), 4);
  for (int Y = 0; Y < 4; ++Y) EXPECT_EQ(Red(*IO.Params().ExifBitmap, 0, Y), 0);
}

long PeakKilobytes() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  return Usage.ru_maxrss;
}

// Run in a process of its own, whose peak memory no other test has raised.
TEST(TiffReaderDeathTest, TilesWiderThanThePictureTakeTheMemoryOfThePicture) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TLzwSlots Slots;
        std::vector<Bytes> Files;
        for (const TSharedData& D : SharedData())
          Files.push_back(SharedTiles(1, 6, WideTile, 1, D.Compression, D.Bits, D.Data));
        Files.push_back(JpegWithWideTileThumbnail());
        // The first reads of a process set up what every later one shares.
        for (const Bytes& F : {SmallRgb(true), SmallJpeg()}) {
          TRastrumIO Warm;
          LoadAsTheProgramDoes(F, Warm);
        }
        const long Before = PeakKilobytes();
        for (const Bytes& F : Files) {
          TRastrumIO IO;
          LoadAsTheProgramDoes(F, IO);
        }
        const long Grown = PeakKilobytes() - Before;
        std::fprintf(stderr, "peak grew by %ld KB\n", Grown);
        std::_Exit(Grown < 8192 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "peak grew by");
}

TEST(TiffPackBits, DecodesRunsLiteralsAndSkipsNoOps) {
  // 2 literals, run of 3 x 0xAA, the no-op -128, then 1 literal.
  const Bytes Data = {0x01, 1, 2, 0xFE, 0xAA, 0x80, 0x00, 9};
  std::uint8_t Out[6];
  std::int64_t Pos = 0;
  ASSERT_TRUE(TiffPackBitsDecodeRow(Data.data(), static_cast<std::int64_t>(Data.size()), Pos, Out, 6));
  EXPECT_EQ(Bytes(Out, Out + 6), (Bytes{1, 2, 0xAA, 0xAA, 0xAA, 9}));
  Pos = 0;
  EXPECT_FALSE(TiffPackBitsDecodeRow(Data.data(), 3, Pos, Out, 6)); // data end inside the row
}

TEST(TiffPackBits, EncoderRunsOfFourOrMoreAndLiteralLimit) {
  Bytes Out;
  const Bytes Row = {1, 2, 2, 2, 5, 5, 5, 5, 5, 7};
  TiffPackBitsRow(Row.data(), static_cast<int>(Row.size()), Out);
  // Literal 1,2,2,2 (a run of 3 stays literal), run of 5 (-4), literal 7.
  EXPECT_EQ(Out, (Bytes{3, 1, 2, 2, 2, 0xFC, 5, 0, 7}));
  Bytes Long(300);
  for (std::size_t I = 0; I < Long.size(); ++I) Long[I] = static_cast<std::uint8_t>(I);
  Out.clear();
  TiffPackBitsRow(Long.data(), 300, Out);
  EXPECT_EQ(Out[0], 127);
  EXPECT_EQ(Out[129], 127);
  EXPECT_EQ(Out[258], 43);
  EXPECT_EQ(Out.size(), 303u);
}

TEST(TiffWriter, FourBitPaletteWithLzwLayout) {
  TLzwSlots Slots;
  TRvBitmap Bitmap;
  Bitmap.Allocate(5, 3, rvpf24Bit);
  for (int Y = 0; Y < 3; ++Y)
    for (int X = 0; X < 5; ++X) {
      std::uint8_t* P = Bitmap.Scanline(Y) + 3 * X;
      P[0] = static_cast<std::uint8_t>(X * 60);
      P[1] = static_cast<std::uint8_t>(Y * 100);
      P[2] = 30;
    }
  TIOParamsVals P;
  P.BitsPerSample = 4;
  P.SamplesPerPixel = 1;
  P.TiffCompression = 5;
  P.TiffXPos = 3;
  platform::TMemoryStream S;
  TRvLocalProgress Prog;
  ASSERT_EQ(TiffWriteStream(S, Bitmap, Prog.Rec, P), 1);
  const Bytes F = S.Data();
  const tifftest::TStripFile T = tifftest::ParseTiff(F);
  EXPECT_EQ(T.Tag(262), 3u);
  EXPECT_EQ(T.Tag(258), 4u);
  EXPECT_EQ(T.Tag(259), 5u);
  EXPECT_EQ(T.Tags.count(317), 0u);
  EXPECT_EQ(T.Tags.at(320).size(), 48u);
  EXPECT_EQ(T.Tags.count(269), 0u); // ASCII tags are not parsed there, and none was written
  EXPECT_EQ(P.TiffPhotometric, 3);
  // XPosition 3 as 30000/10000.
  TRead R;
  Read(F, R, 0, true);
  EXPECT_EQ(R.Params.TiffXPos, 3);
  TRead Back;
  Read(F, Back);
  ASSERT_FALSE(Back.Failed);
  EXPECT_EQ(Back.Bitmap.Width(), 5);
  // Fifteen colours in 16 quantised entries: each comes back near its own.
  for (int Y = 0; Y < 3; ++Y)
    for (int I = 0; I < 15; ++I) EXPECT_NEAR(Back.Bitmap.Scanline(Y)[I], Bitmap.Scanline(Y)[I], 40);
}

TEST(TiffWriter, EmptyTextsWriteNoTagAndRationalsAreExact) {
  TRvBitmap Bitmap;
  Bitmap.Allocate(2, 2, rvpf24Bit);
  TIOParamsVals P;
  P.TiffDocumentName = "";
  P.TiffImageDescription = "desc";
  P.TiffXPos = 3;
  P.DpiX = 300;
  P.TiffPageNumber = 2;
  P.TiffPageCount = 5;
  platform::TMemoryStream S;
  TRvLocalProgress Prog;
  ASSERT_EQ(TiffWriteStream(S, Bitmap, Prog.Rec, P), 1);
  const Bytes F = S.Data();
  platform::TBytesStream In(F.data(), static_cast<std::int64_t>(F.size()));
  TTiffDirectory D(In, 0, true);
  ASSERT_TRUE(D.Load(F[4] | (F[5] << 8) | (F[6] << 16) | (F[7] << 24)));
  EXPECT_EQ(D.TiffFindTag(269), -1);
  EXPECT_EQ(D.TiffGetTagText(270), "desc");
  const int X = D.TiffFindTag(286);
  ASSERT_GE(X, 0);
  std::uint8_t R[8];
  ASSERT_TRUE(D.ReadAt(D.U32(D.Entries[static_cast<std::size_t>(X)].Value), R, 8));
  EXPECT_EQ(D.U32(R), 30000u);
  EXPECT_EQ(D.U32(R + 4), 10000u);
  EXPECT_DOUBLE_EQ(D.TiffGetTagRational(282), 300.0);
  for (std::size_t I = 1; I < D.Entries.size(); ++I) EXPECT_LT(D.Entries[I - 1].Tag, D.Entries[I].Tag);
  // The page pair fits the entry itself, where readers look for it.
  EXPECT_EQ(D.TiffGetTagArrayItem(297, 0, -1), 2);
  EXPECT_EQ(D.TiffGetTagArrayItem(297, 1, -1), 5);
  EXPECT_EQ(D.U32(D.Entries[static_cast<std::size_t>(D.TiffFindTag(297))].Value), 2u | (5u << 16));
}

TEST(TiffWriter, LzwWithoutAnEncoderWritesUncompressed) {
  TRvBitmap Bitmap;
  Bitmap.Allocate(3, 2, rvpf24Bit);
  TIOParamsVals P;
  P.TiffCompression = 5;
  platform::TMemoryStream S;
  TRvLocalProgress Prog;
  ASSERT_EQ(TiffWriteStream(S, Bitmap, Prog.Rec, P), 1);
  const tifftest::TStripFile T = tifftest::ParseTiff(S.Data());
  EXPECT_EQ(T.Tag(259), 1u);
  EXPECT_EQ(T.Tags.count(317), 0u);
  EXPECT_EQ(T.Tag(279), 18u);
}

TEST(TiffWriter, OffsetsAreAbsoluteAfterEarlierData) {
  TRvBitmap Bitmap;
  Bitmap.Allocate(3, 2, rvpf24Bit);
  Bitmap.Scanline(1)[0] = 77;
  TIOParamsVals P;
  platform::TMemoryStream S;
  const Bytes Prefix(12, 0xEE);
  S.WriteBuffer(Prefix.data(), 12);
  TRvLocalProgress Prog;
  ASSERT_EQ(TiffWriteStream(S, Bitmap, Prog.Rec, P), 1);
  const Bytes F = S.Data();
  platform::TBytesStream In(F.data(), static_cast<std::int64_t>(F.size()));
  In.SetPosition(12);
  TRvBitmap Back;
  TIOParamsVals Params;
  std::unique_ptr<TRvMask> Mask;
  TRvLocalProgress Reading;
  int Count = 0;
  TiffReadStream(Back, In, Count, false, false, Mask, false, Reading.Rec, &Params);
  ASSERT_FALSE(Reading.Rec.IsAborting());
  ASSERT_EQ(Back.Width(), 3);
  EXPECT_EQ(Back.Scanline(1)[0], 77);
}

TEST(TiffWriter, ShortWriteSetsAbortingAndWritesNoDirectory) {
  TRvBitmap Bitmap;
  Bitmap.Allocate(30, 30, rvpf24Bit);
  TIOParamsVals P;
  platform::TBytesStream ReadOnly(nullptr, 0);
  TRvLocalProgress Prog;
  EXPECT_EQ(TiffWriteStream(ReadOnly, Bitmap, Prog.Rec, P), 0);
  EXPECT_TRUE(Prog.Rec.IsAborting());
}

TEST(TiffWriter, CmykConversion) {
  const std::uint8_t Bgr[3] = {0, 128, 255}; // red 255, green 128, blue 0
  std::uint8_t Cmyk[4];
  TiffBgrToCmyk(Bgr, Cmyk);
  EXPECT_EQ(Cmyk[0], 0);
  EXPECT_EQ(Cmyk[1], 127);
  EXPECT_EQ(Cmyk[2], 255);
  EXPECT_EQ(Cmyk[3], 0);
}

} // namespace

// ---- Pages kept as they are stored ---------------------------------------

namespace {

// The directory of page Index of a file, or of the Exif directory it leads to.
struct TPage {
  explicit TPage(const Bytes& File) : S(File.data(), static_cast<std::int64_t>(File.size())), D(S, 0, File[0] == 'I') {}
  bool Load(int Index) {
    std::uint8_t B[4];
    if (!D.ReadAt(4, B, 4)) return false;
    std::uint32_t At = D.U32(B);
    for (int I = 0; I < Index && D.Load(At); ++I) {
      if (!D.ReadAt(std::int64_t{At} + 2 + 12 * static_cast<std::int64_t>(D.Entries.size()), B, 4)) return false;
      At = D.U32(B);
    }
    return At != 0 && D.Load(At);
  }
  platform::TBytesStream S;
  TTiffDirectory D;
};

} // namespace

// The pages not written anew keep their samples, their private directories
// and tags we do not know, in the file's own byte order; the page written
// in their midst takes its place.
TEST(TiffPages, OtherPagesAreCopiedAsStoredInEitherByteOrder) {
  for (bool Intel : {true, false}) {
    SCOPED_TRACE(Intel ? "II" : "MM");
    TBuilder B(Intel);
    const Bytes Private = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::size_t Link = 4;
    for (int Page = 0; Page < 3; ++Page) {
      Bytes Rows[2];
      for (int Y = 0; Y < 2; ++Y)
        for (int X = 0; X < 4; ++X) Rows[Y].push_back(static_cast<std::uint8_t>(40 * Page + 10 * Y + X));
      const std::uint32_t First = B.AddBlob(Rows[0]), Second = B.AddBlob(Rows[1]);
      std::vector<tiffbuild::TTag> Tags = {B.Long(256, {4}),  B.Long(257, {2}), B.Short(258, {8}),
                                           B.Short(259, {1}), B.Short(262, {1}), B.Long(273, {First, Second}),
                                           B.Short(277, {1}), B.Long(278, {1}), B.Short(279, {4, 4})};
      if (Page == 1) {
        const std::uint32_t Exif = B.AddIfd({B.Ascii(36867, "2024:01:02 03:04:05")}, 0);
        Tags.push_back(B.Long(34665, {Exif}));
        Tags.push_back(B.Undefined(65000, Private));
      }
      std::size_t Next = 0;
      B.Patch32(Link, B.AddIfd(Tags, 0, &Next));
      Link = Next;
    }
    platform::TBytesStream Source(B.B.data(), static_cast<std::int64_t>(B.B.size()));
    TTiffPages Pages(Source);
    ASSERT_EQ(Pages.Count(), 3);
    EXPECT_EQ(Pages.Intel(), Intel);
    // The second page written anew, with its Exif and private tag; the
    // first and the third copied.
    ASSERT_TRUE(Pages.CanCopyAllBut(1));
    TRvBitmap New;
    New.Allocate(3, 5, rvpf24Bit);
    New.Scanline(4)[2] = 99;
    TIOParamsVals P;
    platform::TMemoryStream Out;
    TRvLocalProgress Prog;
    ASSERT_TRUE(Pages.Write(Out, 1, *Prog.Rec.Aborting, [&](std::int64_t& NextAt, const std::vector<TTiffEntry>& Kept) {
      return TiffWritePage(Out, New, Prog.Rec, P, nullptr, Intel, NextAt, &Kept);
    }));
    const Bytes F = Out.Data();
    EXPECT_EQ(F[0], Intel ? 'I' : 'M');
    for (int Page : {0, 1, 2}) {
      TRead R;
      Read(F, R, Page);
      ASSERT_FALSE(R.Failed) << Page;
      EXPECT_EQ(R.Count, 3);
      if (Page == 1) {
        EXPECT_EQ(R.Bitmap.Width(), 3);
        EXPECT_EQ(R.Bitmap.Scanline(4)[2], 99);
        EXPECT_EQ(R.Params.ExifDateTimeOriginal, "2024:01:02 03:04:05");
        continue;
      }
      for (int Y = 0; Y < 2; ++Y)
        for (int X = 0; X < 4; ++X) EXPECT_EQ(Red(R.Bitmap, X, Y), 40 * Page + 10 * Y + X) << Page;
    }
    TPage Second(F);
    ASSERT_TRUE(Second.Load(1));
    EXPECT_EQ(Second.D.TiffGetTagBytes(65000), Private);
    if (tifftest::HaveTool("tiffinfo")) {
      const testing_support::TTempFolder Folder;
      const std::string Name = Folder.File("pages.tif");
      codectest::Save(Name, F);
      EXPECT_EQ(std::system(("tiffinfo -D '" + Name + "' >/dev/null 2>&1").c_str()), 0);
    }
  }
}

// Strips that each claim most of the file are a crafted file's: a page of
// them is not copied (the save asks instead), and the trial stops within a
// budget of the file's size. Strips that share one block, as sparse
// writers store blank ones, are copied once.
TEST(TiffPages, BlocksClaimedOverAndOverAreRefusedBeforeTheyAreCopied) {
  constexpr int Strips = 4096;
  for (bool Shared : {true, false}) {
    SCOPED_TRACE(Shared ? "shared" : "overlapping");
    TBuilder B;
    const std::uint32_t Data = B.AddBlob(Bytes(Strips * 16, 7));
    std::vector<std::uint32_t> Offsets, Counts;
    for (int I = 0; I < Strips; ++I) {
      Offsets.push_back(Shared ? Data : Data + 16 * static_cast<std::uint32_t>(I) / 2);
      Counts.push_back(Shared ? 16 : Strips * 16 - 8 * static_cast<std::uint32_t>(I));
    }
    B.SetFirst(B.AddIfd({B.Long(256, {16}), B.Long(257, {Strips}), B.Short(258, {8}), B.Short(259, {1}),
                         B.Short(262, {1}), B.Long(273, Offsets), B.Short(277, {1}), B.Long(278, {1}),
                         B.Long(279, Counts)},
                        0));
    platform::TBytesStream Source(B.B.data(), static_cast<std::int64_t>(B.B.size()));
    TTiffPages Pages(Source);
    ASSERT_EQ(Pages.Count(), 1);
    EXPECT_EQ(Pages.CanCopyAllBut(-1), Shared);
    platform::TMemoryStream Out;
    TRvLocalProgress Prog;
    EXPECT_EQ(Pages.Write(Out, -1, *Prog.Rec.Aborting,
                          [](std::int64_t&, const std::vector<TTiffEntry>&) { return std::int64_t{0}; }),
              Shared);
    EXPECT_LE(Out.Size(), static_cast<std::int64_t>(Shared ? B.B.size() : 3 * B.B.size()));
  }
}

// What a file holds after all its pages reach (the page written anew's
// strip, which the copy passes over, among them) follows the new file as it
// is. A lone zero that evens the end is a writer's, and a strip claiming
// more than the file holds (its end past 32 bits) leaves nothing after it.
TEST(TiffPages, WhatFollowsAllThePagesReachFollowsTheNewFile) {
  const Bytes Appended = {'a', 'f', 't', 'e', 'r', 0};
  const struct {
    std::uint32_t Claimed;
    Bytes After;
    bool Kept;
  } Cases[] = {{3, Appended, true}, {3, {0}, false}, {3, {0, 0}, true}, {0xFFFFFFF0u, Appended, false}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Claimed);
    SCOPED_TRACE(C.After.size());
    TBuilder B;
    const std::uint32_t Ifd = B.AddIfd({B.Long(256, {3}), B.Long(257, {1}), B.Short(258, {8}), B.Short(259, {1}),
                                        B.Short(262, {1}), B.Long(273, {0}), B.Short(277, {1}), B.Long(278, {1}),
                                        B.Long(279, {C.Claimed})},
                                       0);
    B.SetFirst(Ifd);
    B.Patch32(Ifd + 2 + 5 * 12 + 8, B.AddBlob({1, 2, 3}));
    const std::size_t Reach = B.B.size();
    B.B.insert(B.B.end(), C.After.begin(), C.After.end());
    platform::TBytesStream Source(B.B.data(), static_cast<std::int64_t>(B.B.size()));
    TTiffPages Pages(Source);
    ASSERT_TRUE(Pages.CanCopyAllBut(0));
    EXPECT_EQ(Pages.Reach(), C.Claimed == 3 ? static_cast<std::int64_t>(Reach) : Source.Size());
    EXPECT_EQ(Pages.AfterReach(), C.Kept ? static_cast<std::int64_t>(C.After.size()) : 0);
    TRvBitmap New;
    New.Allocate(1, 3, rvpf24Bit);
    TIOParamsVals P;
    platform::TMemoryStream Out;
    TRvLocalProgress Prog;
    std::int64_t Written = 0;
    ASSERT_TRUE(Pages.Write(Out, 0, *Prog.Rec.Aborting, [&](std::int64_t& NextAt, const std::vector<TTiffEntry>& Kept) {
      const std::int64_t At = TiffWritePage(Out, New, Prog.Rec, P, nullptr, true, NextAt, &Kept);
      Written = Out.Position();
      return At;
    }));
    const Bytes F = Out.Data();
    ASSERT_EQ(F.size(), static_cast<std::size_t>(Written) + (C.Kept ? C.After.size() : 0));
    EXPECT_TRUE(std::equal(F.begin() + Written, F.end(), C.After.begin()));
  }
}

// ---- A page turned a quarter and written back in its place -----------------

class TTiffTurned : public TTiffPeers {};

// A page turned a quarter (as the window turns pixels, alpha, resolution
// and position) and written in its place comes back with the picture
// turned, pixel for pixel and with its alpha, in its own layout, and with
// every tag but those of how the pixels lie: the resolution and position
// turned in the file's own unit, none where it stated none. ImageMagick
// finds the page turned as it turns the original; libtiff reads it.
TEST_F(TTiffTurned, EveryLayoutComesBackTurnedWithItsOwnTags) {
  TLzwSlots Slots;
  // A palette of 16-bit entries that are no byte times 257, in no order of
  // colour, Motorola order; 300 x 150 dpi.
  TBuilder M(false);
  std::vector<std::uint32_t> Map(768);
  for (std::uint32_t I = 0; I < 256; ++I)
    Map[I] = ((I * 97 + 13) % 256) << 8 | 0x5A, Map[256 + I] = (I * 37 & 255) << 8 | 0x13, Map[512 + I] = (255 - I) << 8 | 0xC7;
  Bytes Indexes(48 * 30);
  for (std::size_t I = 0; I < Indexes.size(); ++I) Indexes[I] = static_cast<std::uint8_t>(I * 5 + I / 48 * 3);
  const std::uint32_t Strip = M.AddBlob(Indexes);
  M.SetFirst(M.AddIfd({M.Short(256, {48}), M.Short(257, {30}), M.Short(258, {8}), M.Short(259, {1}), M.Short(262, {3}),
                       M.Long(273, {Strip}), M.Short(277, {1}), M.Long(278, {30}), M.Long(279, {48 * 30}),
                       M.Rational(282, {{300, 1}}), M.Rational(283, {{150, 1}}), M.Short(296, {2}), M.Short(320, Map)},
                      0));
  codectest::Save(File("pal16.tif"), M.B);
  const std::string Alpha = " \\( +clone -fx 'i/w*j/h' \\) -alpha off -compose copy_opacity -composite ";
  for (const std::string& Make : std::vector<std::string>{
           "",
        "convert -size 37x20 plasma:fractal -seed 3 -colors 16 -type palette -depth 4 -compress RLE -density 300x150",
        "convert -size 33x18 gradient:black-white -depth 2 -define quantum:polarity=min-is-white",
        "convert -size 21x13 gradient:red-blue -density 118.11x59.05 -units PixelsPerCentimeter -page +30+70 -depth 8 -endian MSB",
        "convert -size 26x17 gradient:red-blue" + Alpha + "-define tiff:alpha=associated -depth 8",
        "convert -size 19x25 gradient:white-black" + Alpha + "-type GrayscaleAlpha -depth 8 -compress lzw",
        "convert -size 1728x160 plasma:fractal -seed 9 -blur 0x3 -threshold 50% -type bilevel -density 204x98 "
        "-units PixelsPerInch -compress Group4",
        "tiffcp -c g3:2d " + File("bw.tif"), "convert " + File("bw.tif") + " -define quantum:polarity=min-is-black -compress Group4",
        "tiffcp -c lzw:2 -B -t -w 16 -l 16 " + File("rgb.tif"), "tiffcp -c packbits -p separate " + File("rgb.tif"),
        "convert " + File("gray.tif") + " -depth 4 -compress lzw", "cp " + File("pal8.tif")}) {
    SCOPED_TRACE(Make);
    const std::string Was = Make.empty() ? File("pal16.tif") : File("was.tif"), Now = File("now.tif");
    if (!Make.empty()) Run(Make + " '" + Was + "'");
    const Bytes Old = codectest::Load(Was);
    TRead R;
    Read(Old, R);
    ASSERT_FALSE(R.Failed);
    EXPECT_FALSE(R.Params.ColorMapRepeatsUsed);
    RvRotateBitmap(&R.Bitmap, false, -90, TRGB{});
    if (R.Mask != nullptr) RvRotateMask(R.Mask.get(), -90, false);
    std::swap(R.Params.DpiX, R.Params.DpiY);
    std::swap(R.Params.TiffXPos, R.Params.TiffYPos);
    platform::TBytesStream Source(Old.data(), static_cast<std::int64_t>(Old.size()));
    TTiffPages Pages(Source);
    platform::TMemoryStream Out;
    TRvLocalProgress Prog;
    ASSERT_TRUE(Pages.CanCopyAllBut(0));
    ASSERT_TRUE(Pages.Write(Out, 0, *Prog.Rec.Aborting, [&](std::int64_t& NextAt, const std::vector<TTiffEntry>& Kept) {
      return TiffWritePage(Out, R.Bitmap, Prog.Rec, R.Params, R.Mask.get(), Pages.Intel(), NextAt, &Kept);
    }));
    codectest::Save(Now, Out.Data());
    TRead Back;
    Read(Out.Data(), Back);
    ASSERT_FALSE(Back.Failed);
    ASSERT_EQ(Back.Bitmap.PixelFormat(), R.Bitmap.PixelFormat());
    ASSERT_EQ(Back.Mask != nullptr, R.Mask != nullptr);
    codectest::ExpectMatches(Back.Bitmap, Back.Mask.get(), codectest::Ours(R.Bitmap, R.Mask.get()));
    EXPECT_EQ(codectest::Reference(Now).Pixels, codectest::Reference(Was, "-rotate 90").Pixels);
    EXPECT_EQ(std::system(("tiffinfo -D '" + Now + "' >/dev/null 2>&1").c_str()), 0);
    // The tags, each axis's on the other.
    TPage A(Old), B(Out.Data());
    ASSERT_TRUE(A.Load(0) && B.Load(0));
    const std::set<int> Storage = {266, 273, 274, 278, 279, 284, 317, 322, 323, 324, 325};
    const std::map<int, int> Turned = {{256, 257}, {257, 256}, {282, 283}, {283, 282}, {286, 287}, {287, 286}};
    for (TTiffDirectory* D : {&A.D, &B.D})
      for (const TTiffEntry& E : D->Entries) {
        const int T = Turned.count(E.Tag) != 0 ? Turned.at(E.Tag) : E.Tag;
        if (Storage.count(E.Tag) != 0) continue;
        const TTiffDirectory& Other = D == &A.D ? B.D : A.D;
        ASSERT_GE(Other.TiffFindTag(T), 0) << E.Tag;
        const bool Number = E.Type == ttShort || E.Type == ttLong;
        EXPECT_EQ(Number ? D->TiffGetTagArray(E.Tag) : std::vector<std::uint32_t>(),
                  Number ? Other.TiffGetTagArray(T) : std::vector<std::uint32_t>()) << E.Tag;
        EXPECT_EQ(Number ? Bytes() : D->TiffGetTagBytes(E.Tag), Number ? Bytes() : Other.TiffGetTagBytes(T)) << E.Tag;
      }
  }
}
