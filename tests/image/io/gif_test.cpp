#include "image/io/gif/gifread.h"
#include "image/io/gif/gifwrite.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>

#include "image/io/gif/giflzw.h"
#include "image/io/gif/gifturn.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvlists.h"
#include "image/io/codectest_util.h"
#include "simplecodecs_testutil.h"

namespace {

using namespace rv;
using namespace simplecodecs_test;
using Indices = std::vector<std::uint8_t>;

// ---- Building GIF files by hand

// Signature, version and logical screen descriptor.
void Screen(Bytes& B, int W, int H, int Packed, int Background, int Aspect = 0) {
  PutText(B, "GIF89a");
  Put16(B, W);                         // screen width
  Put16(B, H);                         // screen height
  Put(B, {Packed, Background, Aspect}); // table flag/resolution/size, background index, aspect
}

// Entries red, green, blue (0x00RRGGBB each), padded with black to Entries.
void Table(Bytes& B, std::initializer_list<std::uint32_t> Colors, int Entries) {
  int N = 0;
  for (std::uint32_t C : Colors) {
    Put(B, {static_cast<int>(C >> 16) & 255, static_cast<int>(C >> 8) & 255, static_cast<int>(C) & 255});
    ++N;
  }
  for (; N < Entries; ++N) Put(B, {0, 0, 0});
}

// Graphic control extension: introducer, label, size 4, packed (bit 0
// transparency, bits 2..4 disposal), delay, transparent index, terminator.
void Control(Bytes& B, int Packed, int Delay, int Transparent) {
  Put(B, {0x21, 0xF9, 4, Packed});
  Put16(B, Delay);
  Put(B, {Transparent, 0});
}

// Image separator, left, top, width, height, packed (bit 7 local table,
// bit 6 interlaced, bits 0..2 table size).
void Descriptor(Bytes& B, int Left, int Top, int W, int H, int Packed) {
  Put(B, {0x2C});
  Put16(B, Left);
  Put16(B, Top);
  Put16(B, W);
  Put16(B, H);
  Put(B, {Packed});
}

// Code-size byte, sub-blocks and terminator of W x H indices.
void Data(Bytes& B, const Indices& Pixels, int W, int H, int Bits, bool Interlaced = false) {
  platform::TMemoryStream S;
  GifLzwCompress(S, H, W, Bits, Pixels.data(), Interlaced);
  B.insert(B.end(), S.Data().begin(), S.Data().end());
}

Indices Ramp(int W, int H, int Modulo) {
  Indices P(static_cast<std::size_t>(W * H));
  for (std::size_t I = 0; I < P.size(); ++I) P[I] = static_cast<std::uint8_t>((I * 7 + I / 3) % Modulo);
  return P;
}

struct TGifRead {
  TRvBitmap Bmp;
  std::unique_ptr<TRvMask> Mask;
  TIOParamsVals Params;
  int Frames = -1;
  bool Ok = false;
};

void ReadGif(const Bytes& B, TGifRead& R, int Index = 0, bool HeaderOnly = false, bool NoAlpha = false) {
  R.Params.GifLzwDecompress = GifLzwDecompress;
  R.Params.GifImageIndex = Index;
  auto S = StreamOf(B);
  TRvLocalProgress P;
  GifReadStream(S, R.Bmp, R.Frames, NoAlpha, R.Mask, HeaderOnly, P.Rec, R.Params);
  R.Ok = !P.Rec.IsAborting();
}

bool WriteGif(TRvBitmap& Bmp, TIOParamsVals& Params, Bytes& Out, const TRvMask* Alpha = nullptr) {
  Params.GifLzwCompress = GifLzwCompress;
  platform::TMemoryStream S;
  TRvLocalProgress P;
  GifWriteStream(S, Bmp, Params, P.Rec, Alpha);
  Out = S.Data();
  return !P.Rec.IsAborting();
}

std::uint32_t Packed(const TRGB& C) { return RvRGBToPacked(C); }

// Empties the library-wide GIF coder slots for one test.
struct TEmptyGifSlots {
  TGifLzwDecompressProc Decode = RvDefaultGifLzwDecompress;
  TGifLzwCompressProc Encode = RvDefaultGifLzwCompress;
  TEmptyGifSlots() {
    RvDefaultGifLzwDecompress = nullptr;
    RvDefaultGifLzwCompress = nullptr;
  }
  ~TEmptyGifSlots() {
    RvDefaultGifLzwDecompress = Decode;
    RvDefaultGifLzwCompress = Encode;
  }
};

// ---- Hand-built files

TEST(GifRead, HandBuiltFrameFillsEveryField) {
  Bytes B;
  Screen(B, 5, 4, 0x91, 2, 49);                          // global table of 4, background index 2
  Table(B, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, 4);  // red, green, blue, white
  Put(B, {0x21, 0xFE, 2, 'h', 'i', 0});                  // comment "hi"
  Control(B, 0x0D, 300, 1);                              // disposal 3, transparent index 1
  Descriptor(B, 3, 2, 2, 2, 0);                          // 2 x 2 at (3, 2), no local table
  // LZW by hand, code size 2, 3-bit codes until entry 7 is added: clear 4,
  // 0, 1, 1, then 4-bit 0 and end 5: bits 0x50244 least significant first.
  Put(B, {2, 3, 0x44, 0x02, 0x05, 0});
  Put(B, {0x3B});
  TGifRead R;
  ReadGif(B, R);
  ASSERT_TRUE(R.Ok);
  const TIOParamsVals& P = R.Params;
  EXPECT_EQ(P.GifVersion, "GIF89a");
  EXPECT_EQ(P.GifScreenWidth, 5);
  EXPECT_EQ(P.GifScreenHeight, 4);
  EXPECT_EQ(P.GifAspectRatio, 49);
  EXPECT_EQ(Packed(P.GifBackground), 0x0000FFu);
  EXPECT_EQ(P.DpiX, RvDefaultDpiX);
  EXPECT_EQ(P.SamplesPerPixel, 1);
  EXPECT_EQ(P.GifXPos, 3);
  EXPECT_EQ(P.GifYPos, 2);
  EXPECT_EQ(P.Width, 2);
  EXPECT_EQ(P.Height, 2);
  EXPECT_EQ(P.GifDelayTime, 300);
  EXPECT_TRUE(P.GifHasTransparentColor);
  EXPECT_EQ(P.GifDisposal, 3);
  EXPECT_EQ(Packed(P.GifTransparentColor), 0x00FF00u);
  EXPECT_FALSE(P.GifInterlaced);
  EXPECT_EQ(P.BitsPerSample, 2);
  ASSERT_EQ(P.ColorMapCount, 4);
  EXPECT_EQ(Packed(P.ColorMap[3]), 0xFFFFFFu);
  EXPECT_EQ(P.GifComments, std::vector<std::string>{"hi"});
  EXPECT_EQ(P.GifImageCount, 1);
  EXPECT_EQ(R.Frames, 1);
  ASSERT_EQ(R.Bmp.PixelFormat(), rvpf24Bit);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 0), 0xFF0000u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0x00FF00u);
  EXPECT_EQ(PixelAt(R.Bmp, 0, 1), 0x00FF00u);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 1), 0xFF0000u);
  ASSERT_TRUE(R.Mask);
  EXPECT_EQ(R.Mask->GetPixel(0, 0), 255);
  EXPECT_EQ(R.Mask->GetPixel(1, 0), 0);
  EXPECT_EQ(R.Mask->GetPixel(0, 1), 0);
  EXPECT_FALSE(R.Mask->Full());
}

Bytes TwoColourFile(int W, int H, std::uint32_t C0, std::uint32_t C1, const Indices& Pixels) {
  Bytes B;
  Screen(B, W, H, 0x80, 0); // global table of 2
  Table(B, {C0, C1}, 2);
  Descriptor(B, 0, 0, W, H, 0);
  Data(B, Pixels, W, H, 1);
  Put(B, {0x3B});
  return B;
}

TEST(GifRead, BlackThenWhiteLoadsAsOneBitKeepingTheLastColumn) {
  for (int W : {9, 13}) {
    Indices P = Ramp(W, 3, 2);
    for (int Y = 0; Y < 3; ++Y) P[static_cast<std::size_t>(Y * W + W - 1)] = static_cast<std::uint8_t>(Y & 1);
    TGifRead R;
    ReadGif(TwoColourFile(W, 3, 0x000000, 0xFFFFFF, P), R);
    ASSERT_TRUE(R.Ok);
    ASSERT_EQ(R.Bmp.PixelFormat(), rvpf1Bit);
    for (int Y = 0; Y < 3; ++Y)
      for (int X = 0; X < W; ++X)
        EXPECT_EQ(PixelAt(R.Bmp, X, Y), P[static_cast<std::size_t>(Y * W + X)] ? 0xFFFFFFu : 0u) << W << ":" << X;
  }
  for (std::uint32_t First : {0xFFFFFFu, 0x102030u}) {
    TGifRead R;
    ReadGif(TwoColourFile(4, 1, First, First == 0xFFFFFFu ? 0 : 0xFFFFFF, {0, 1, 1, 0}), R);
    ASSERT_EQ(R.Bmp.PixelFormat(), rvpf24Bit);
    EXPECT_EQ(PixelAt(R.Bmp, 0, 0), First);
  }
}

// Five frames: frame i at (i, 2i), i + 2 pixels wide, delay 10 + i,
// disposal i mod 4; frame 2 alone has a local table and a transparent
// colour; frame 4 has no graphic control block.
Bytes FiveFrames() {
  Bytes B;
  Screen(B, 20, 20, 0x81, 1); // global table of 4
  Table(B, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF}, 4);
  for (int I = 0; I < 5; ++I) {
    if (I != 4) Control(B, (I % 4) << 2 | (I == 2 ? 1 : 0), 10 + I, I == 2 ? 3 : 0);
    const int W = I + 2;
    if (I == 2) {
      Descriptor(B, I, 2 * I, W, 2, 0x81); // local table of 4
      Table(B, {0x111111, 0x222222, 0x333333, 0x444444}, 4);
    } else {
      Descriptor(B, I, 2 * I, W, 2, 0);
    }
    Data(B, Ramp(W, 2, 4), W, 2, 2);
  }
  Put(B, {0x3B});
  return B;
}

TEST(GifRead, FrameByIndexWithItsOwnControlBlock) {
  const Bytes B = FiveFrames();
  const Indices P = Ramp(4, 2, 4);
  TGifRead R;
  ReadGif(B, R, 2);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Frames, 5);
  EXPECT_EQ(R.Params.GifImageCount, 5);
  EXPECT_EQ(R.Params.GifXPos, 2);
  EXPECT_EQ(R.Params.GifYPos, 4);
  EXPECT_EQ(R.Params.GifDelayTime, 12);
  EXPECT_EQ(R.Params.GifDisposal, 2);
  EXPECT_TRUE(R.Params.GifHasTransparentColor);
  EXPECT_EQ(Packed(R.Params.GifTransparentColor), 0x444444u);
  EXPECT_EQ(Packed(R.Params.ColorMap[1]), 0x222222u);
  ASSERT_EQ(R.Bmp.Width(), 4);
  for (int X = 0; X < 4; ++X) {
    EXPECT_EQ(PixelAt(R.Bmp, X, 1), 0x111111u * (P[static_cast<std::size_t>(4 + X)] + 1u));
    EXPECT_EQ(R.Mask->GetPixel(X, 1), P[static_cast<std::size_t>(4 + X)] == 3 ? 0 : 255);
  }
  // Without a control block, or with its flag clear, every pixel is opaque.
  for (int Index : {3, 4}) {
    TGifRead F;
    ReadGif(B, F, Index);
    ASSERT_TRUE(F.Ok);
    EXPECT_EQ(F.Params.GifDelayTime, Index == 4 ? 0 : 13);
    EXPECT_FALSE(F.Params.GifHasTransparentColor);
    EXPECT_TRUE(F.Mask->Full());
    for (int X = 0; X < F.Bmp.Width(); ++X) EXPECT_EQ(F.Mask->GetPixel(X, 0), 255);
  }
}

TEST(GifRead, IndexBeyondTheLastFrameCountsWithoutDecoding) {
  TGifRead R;
  R.Bmp.Allocate(3, 3, rvpf8BitGray);
  ReadGif(FiveFrames(), R, 7);
  EXPECT_TRUE(R.Ok);
  EXPECT_EQ(R.Frames, 5);
  EXPECT_EQ(R.Params.GifScreenWidth, 20);
  EXPECT_EQ(R.Bmp.Width(), 3);
  EXPECT_EQ(R.Bmp.PixelFormat(), rvpf8BitGray);
}

TEST(GifRead, HeaderOnlyFillsParamsWithoutAnyDecoder) {
  TGifRead R;
  R.Params.GifImageIndex = 2;
  const Bytes File = FiveFrames();
  auto S = StreamOf(File);
  TRvLocalProgress P;
  GifReadStream(S, R.Bmp, R.Frames, false, R.Mask, true, P.Rec, R.Params);
  EXPECT_FALSE(P.Rec.IsAborting());
  EXPECT_EQ(R.Frames, 5);
  EXPECT_EQ(R.Params.Width, 4);
  EXPECT_EQ(R.Params.ColorMapCount, 4);
  EXPECT_EQ(R.Bmp.Width(), 0);
  EXPECT_FALSE(R.Mask);
}

TEST(GifRead, CommentsOfEveryFrameInFileOrder) {
  Bytes B;
  Screen(B, 1, 1, 0x80, 0);
  Table(B, {0, 0xFFFFFF}, 2);
  Put(B, {0x21, 0xFE, 3, 'o', 'n', 'e', 2, 0, 'x', 0}); // second sub-block empty up to its 0
  Descriptor(B, 0, 0, 1, 1, 0);
  Data(B, {1}, 1, 1, 1);
  Put(B, {0x21, 0xFE, 3, 't', 'w', 'o', 4, 'f', 'o', 0, 'x', 0});
  Descriptor(B, 0, 0, 1, 1, 0);
  Data(B, {0}, 1, 1, 1);
  Put(B, {0x21, 0x01, 2, 9, 9, 0}); // plain text extension: skipped
  Put(B, {0x21, 0xFE, 4, 'l', 'a', 's', 't', 0, 0x3B});
  TGifRead R;
  ReadGif(B, R, 1);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.GifComments, (std::vector<std::string>{"one", "two", "fo", "last"}));
  EXPECT_EQ(R.Frames, 2);
}

TEST(GifRead, IndicesOutsideThePaletteAreBlack) {
  Bytes B;
  Screen(B, 4, 1, 0x80, 7); // 2 entries, background index 7 outside them
  Table(B, {0xFF0000, 0x00FF00}, 2);
  Control(B, 1, 0, 200);       // transparent index 200
  Descriptor(B, 0, 0, 4, 1, 0);
  Data(B, {0, 1, 2, 3}, 4, 1, 2); // code size 2 reaches indices 2 and 3
  Put(B, {0x3B});
  TGifRead R;
  ReadGif(B, R);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(PixelAt(R.Bmp, 1, 0), 0x00FF00u);
  EXPECT_EQ(PixelAt(R.Bmp, 2, 0), 0u);
  EXPECT_EQ(PixelAt(R.Bmp, 3, 0), 0u);
  EXPECT_EQ(Packed(R.Params.GifTransparentColor), 0u);
  EXPECT_EQ(Packed(R.Params.GifBackground), 0u);
  // A black and white frame: index 3 becomes a black bit.
  Bytes C;
  Screen(C, 3, 1, 0x80, 0);
  Table(C, {0, 0xFFFFFF}, 2);
  Descriptor(C, 0, 0, 3, 1, 0);
  Data(C, {1, 3, 1}, 3, 1, 2);
  Put(C, {0x3B});
  TGifRead BW;
  ReadGif(C, BW);
  ASSERT_EQ(BW.Bmp.PixelFormat(), rvpf1Bit);
  EXPECT_EQ(PixelAt(BW.Bmp, 1, 0), 0u);
  EXPECT_EQ(PixelAt(BW.Bmp, 2, 0), 0xFFFFFFu);
}

TEST(GifRead, InterlacedFrameAndOddControlBlockSize) {
  const Indices P = Ramp(3, 10, 4);
  Bytes B;
  Screen(B, 3, 10, 0x81, 0);
  Table(B, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF}, 4);
  Put(B, {0x21, 0xF9, 5, 0x05, 40, 0, 2, 77, 0}); // size 5: one byte more than usual
  Descriptor(B, 0, 0, 3, 10, 0x40);
  Data(B, P, 3, 10, 2, true);
  Put(B, {0x3B});
  TGifRead R;
  ReadGif(B, R);
  ASSERT_TRUE(R.Ok);
  EXPECT_TRUE(R.Params.GifInterlaced);
  EXPECT_EQ(R.Params.GifDelayTime, 40);
  EXPECT_EQ(R.Params.GifDisposal, 1);
  const std::uint32_t Colors[4] = {0, 0xFF0000, 0x00FF00, 0x0000FF};
  for (int Y = 0; Y < 10; ++Y)
    for (int X = 0; X < 3; ++X) EXPECT_EQ(PixelAt(R.Bmp, X, Y), Colors[P[static_cast<std::size_t>(Y * 3 + X)]]);
}

TEST(GifRead, FailuresSetTheAbortFlag) {
  const Bytes Good = TwoColourFile(2, 1, 0, 0xFFFFFF, {1, 0});
  Bytes NoSignature = Good;
  NoSignature[0] = 'X';
  TGifRead A;
  ReadGif(NoSignature, A);
  EXPECT_FALSE(A.Ok);
  TGifRead B;
  ReadGif(Bytes(Good.begin(), Good.begin() + 19), B); // ends right after the global table
  EXPECT_FALSE(B.Ok);
  Bytes BadCodeSize = Good;
  BadCodeSize[29] = 1; // LZW code size outside 2..9
  TGifRead C;
  ReadGif(BadCodeSize, C);
  EXPECT_FALSE(C.Ok);
  // A screen, its table and the trailer: no frame, no picture.
  Bytes NoFrame(Good.begin(), Good.begin() + 19);
  Put(NoFrame, {0x3B});
  for (const bool HeaderOnly : {false, true}) {
    TGifRead E;
    ReadGif(NoFrame, E, 0, HeaderOnly);
    EXPECT_FALSE(E.Ok);
  }

  // No decoder in the record nor in the library: failure, bitmap untouched.
  const TEmptyGifSlots Empty;
  TGifRead D;
  D.Bmp.Allocate(5, 5, rvpf24Bit);
  D.Params.GifImageIndex = 0;
  auto S = StreamOf(Good);
  TRvLocalProgress P;
  GifReadStream(S, D.Bmp, D.Frames, false, D.Mask, false, P.Rec, D.Params);
  EXPECT_TRUE(P.Rec.IsAborting());
  EXPECT_EQ(D.Bmp.Width(), 5);
  // The library-wide decoder serves a record without one.
  RvDefaultGifLzwDecompress = GifLzwDecompress;
  auto S2 = StreamOf(Good);
  TRvLocalProgress P2;
  GifReadStream(S2, D.Bmp, D.Frames, false, D.Mask, false, P2.Rec, D.Params);
  EXPECT_FALSE(P2.Rec.IsAborting());
  EXPECT_EQ(D.Bmp.Width(), 2);
}

TEST(GifCodec, ProgressStepsAndAnAbortBeforeTheStart) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 4, 4, {0xFF0000, 0x00FF00});
  TIOParamsVals P;
  P.GifLzwCompress = GifLzwCompress;
  P.GifLzwDecompress = GifLzwDecompress;
  std::vector<int> Steps;
  TRvLocalProgress W;
  W.Rec.OnProgress = [&](void*, int Per) { Steps.push_back(Per); };
  platform::TMemoryStream S;
  GifWriteStream(S, Bmp, P, W.Rec);
  EXPECT_EQ(Steps, (std::vector<int>{0, 30, 70, 100}));
  Steps.clear();
  S.SetPosition(0);
  TRvBitmap Back;
  std::unique_ptr<TRvMask> Mask;
  int Frames = 0;
  TRvLocalProgress R;
  R.Rec.OnProgress = W.Rec.OnProgress;
  GifReadStream(S, Back, Frames, true, Mask, false, R.Rec, P);
  EXPECT_EQ(Steps, (std::vector<int>{0, 30, 70, 100}));
  EXPECT_FALSE(Mask); // NoAlpha
  // A flag already set stops both before they touch anything.
  TRvLocalProgress Stopped;
  Stopped.Rec.Abort();
  TRvBitmap Untouched;
  S.SetPosition(0);
  GifReadStream(S, Untouched, Frames, false, Mask, false, Stopped.Rec, P);
  EXPECT_EQ(Untouched.Width(), 0);
  platform::TMemoryStream Nothing;
  GifWriteStream(Nothing, Bmp, P, Stopped.Rec);
  EXPECT_EQ(Nothing.Size(), 0);
  // Sizes beyond the 16-bit fields are refused.
  TRvBitmap Wide;
  Wide.Allocate(65536, 1, rvpf1Bit);
  TRvLocalProgress TooWide;
  GifWriteStream(Nothing, Wide, P, TooWide.Rec);
  EXPECT_TRUE(TooWide.Rec.IsAborting());
  EXPECT_EQ(Nothing.Size(), 0);
}

// Broken files: every truncation and many corruptions of a multi-frame file
// give an error or a picture of the frame's size, never a crash or a hang.
TEST(GifRead, TruncatedAndCorruptFilesStayInBounds) {
  const std::int64_t OldCap = RvMaxPixels();
  RvSetMaxPixels(1 << 16);
  const Bytes Full = FiveFrames();
  for (std::size_t N = 0; N < Full.size(); ++N)
    for (int Index : {0, 2, 4}) {
      TGifRead R;
      ReadGif(Bytes(Full.begin(), Full.begin() + static_cast<std::ptrdiff_t>(N)), R, Index);
      if (R.Ok && R.Bmp.Width() > 0) {
        EXPECT_EQ(R.Bmp.Width(), Index + 2);
      }
    }
  std::mt19937 Random(6);
  for (int Round = 0; Round < 1500; ++Round) {
    Bytes B = Full;
    for (int K = 0; K < 4; ++K) B[Random() % B.size()] = static_cast<std::uint8_t>(Random());
    TGifRead R;
    ReadGif(B, R, static_cast<int>(Random() % 5));
    if (R.Ok && R.Bmp.Width() > 0) {
      EXPECT_EQ(R.Bmp.Width(), R.Params.Width);
      if (R.Mask) {
        EXPECT_EQ(R.Mask->Width(), R.Params.Width);
      }
    }
  }
  RvSetMaxPixels(OldCap);
}

// Every frame in one walk: each frame and its record as the read of that
// frame by its index gives them, the comments and the count of the file
// once; a cut file gives the frames before the cut, like reads by index.
struct TEveryFrame : TGifFrameSink {
  std::vector<std::unique_ptr<TIOParamsVals>> Params;
  std::vector<std::unique_ptr<TRvBitmap>> Bitmaps;
  std::vector<std::string> Comments;
  int Frames = 0;
  bool Ok = false;
  explicit TEveryFrame(const Bytes& B) {
    auto S = StreamOf(B);
    TRvLocalProgress P;
    Frames = GifReadFrames(S, *this, Comments, P.Rec);
    Ok = !P.Rec.IsAborting();
  }
  TIOParamsVals* FrameParams(int) override {
    Params.push_back(std::make_unique<TIOParamsVals>());
    Params.back()->GifLzwDecompress = GifLzwDecompress;
    return Params.back().get();
  }
  bool FrameRead(int, TRvBitmap& Bitmap) override {
    Bitmaps.push_back(std::make_unique<TRvBitmap>());
    Bitmaps.back()->Assign(&Bitmap);
    return true;
  }
};

void ExpectSameFrame(TIOParamsVals& A, TRvBitmap& ABmp, TGifRead& B) {
  EXPECT_EQ(A.GifVersion, B.Params.GifVersion);
  EXPECT_EQ(A.GifScreenWidth, B.Params.GifScreenWidth);
  EXPECT_EQ(Packed(A.GifBackground), Packed(B.Params.GifBackground));
  EXPECT_EQ(A.GifXPos, B.Params.GifXPos);
  EXPECT_EQ(A.GifYPos, B.Params.GifYPos);
  EXPECT_EQ(A.Width, B.Params.Width);
  EXPECT_EQ(A.Height, B.Params.Height);
  EXPECT_EQ(A.GifDelayTime, B.Params.GifDelayTime);
  EXPECT_EQ(A.GifDisposal, B.Params.GifDisposal);
  EXPECT_EQ(A.GifHasTransparentColor, B.Params.GifHasTransparentColor);
  EXPECT_EQ(Packed(A.GifTransparentColor), Packed(B.Params.GifTransparentColor));
  EXPECT_EQ(A.GifInterlaced, B.Params.GifInterlaced);
  EXPECT_EQ(A.BitsPerSample, B.Params.BitsPerSample);
  ASSERT_EQ(A.ColorMapCount, B.Params.ColorMapCount);
  for (int I = 0; I < A.ColorMapCount; ++I) EXPECT_EQ(Packed(A.ColorMap[I]), Packed(B.Params.ColorMap[I]));
  EXPECT_EQ(ABmp.PixelFormat(), B.Bmp.PixelFormat());
  ExpectSamePixels(ABmp, B.Bmp);
}

TEST(GifRead, EveryFrameInOneWalkAsEachIsReadByItsIndex) {
  Bytes Commented;
  Screen(Commented, 1, 1, 0x80, 0);
  Table(Commented, {0, 0xFFFFFF}, 2);
  Put(Commented, {0x21, 0xFE, 3, 'o', 'n', 'e', 0});
  Descriptor(Commented, 0, 0, 1, 1, 0);
  Data(Commented, {1}, 1, 1, 1);
  Put(Commented, {0x21, 0xFE, 3, 't', 'w', 'o', 0, 0x3B});
  for (const Bytes& File : {FiveFrames(), Commented}) {
    const TEveryFrame All(File);
    ASSERT_TRUE(All.Ok);
    ASSERT_EQ(All.Frames, static_cast<int>(All.Bitmaps.size()));
    for (int I = 0; I < All.Frames; ++I) {
      SCOPED_TRACE(I);
      TGifRead One;
      ReadGif(File, One, I, false, true);
      ASSERT_TRUE(One.Ok);
      EXPECT_EQ(All.Frames, One.Frames);
      EXPECT_EQ(All.Comments, One.Params.GifComments);
      EXPECT_TRUE(All.Params[static_cast<std::size_t>(I)]->GifComments.empty());
      ExpectSameFrame(*All.Params[static_cast<std::size_t>(I)], *All.Bitmaps[static_cast<std::size_t>(I)], One);
    }
  }
  EXPECT_EQ(TEveryFrame(Commented).Comments, (std::vector<std::string>{"one", "two"}));
  // Cut anywhere: the frames read are those whose reads by index succeed,
  // and a frame that fails ends the walk, its abort flag set.
  const Bytes Full = FiveFrames();
  for (std::size_t N = 14; N < Full.size(); ++N) {
    SCOPED_TRACE(N);
    const Bytes Cut(Full.begin(), Full.begin() + static_cast<std::ptrdiff_t>(N));
    const TEveryFrame All(Cut);
    for (int I = 0; I < All.Frames; ++I) {
      TGifRead One;
      ReadGif(Cut, One, I, false, true);
      if (I < static_cast<int>(All.Bitmaps.size())) {
        ASSERT_TRUE(One.Ok) << I;
        ExpectSameFrame(*All.Params[static_cast<std::size_t>(I)], *All.Bitmaps[static_cast<std::size_t>(I)], One);
      } else {
        EXPECT_FALSE(All.Ok);
        EXPECT_FALSE(One.Ok && One.Bmp.Width() > 0) << I;
      }
    }
  }
}

// A graphic control block whose size byte is 0 ends there, as any run of
// sub-blocks does (and as ImageMagick reads it): the frame after it is
// found whichever frame is asked for, by the walk, and in a turned save.
TEST(GifRead, ControlBlockOfSizeZeroEndsThere) {
  Bytes B;
  Screen(B, 1, 1, 0x80, 0);
  Table(B, {0, 0xFFFFFF}, 2);
  for (int Frame = 0; Frame < 3; ++Frame) {
    if (Frame == 1) Put(B, {0x21, 0xF9, 0});
    Descriptor(B, 0, 0, 1, 1, 0);
    Data(B, {static_cast<std::uint8_t>(Frame & 1)}, 1, 1, 1);
  }
  Put(B, {0x3B});
  for (int I = 0; I < 3; ++I) {
    SCOPED_TRACE(I);
    TGifRead One;
    ReadGif(B, One, I, false, true);
    ASSERT_TRUE(One.Ok);
    EXPECT_EQ(One.Frames, 3);
    EXPECT_EQ(PixelAt(One.Bmp, 0, 0), I == 1 ? 0xFFFFFFu : 0u);
  }
  EXPECT_EQ(TEveryFrame(B).Frames, 3);
  auto Source = StreamOf(B);
  platform::TMemoryStream Turned;
  TRvLocalProgress P;
  ASSERT_TRUE(GifWriteTurned(Source, Turned, TRvGridTurn{0, -1, 1, 0}, P.Rec, GifLzwDecompress, GifLzwCompress));
  TGifRead Again;
  ReadGif(Turned.Data(), Again, 0, true);
  EXPECT_EQ(Again.Frames, 3);
}

// ---- Writing

TEST(GifWrite, ByteLayoutOfASmallPicture) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 2, 1, {0xFF0000, 0x0000FF});
  TIOParamsVals P;
  P.BitsPerSample = 2;
  RvCreateRGB(0, 0, 255, P.GifBackground);
  RvCreateRGB(255, 0, 0, P.GifTransparentColor);
  P.GifHasTransparentColor = true;
  P.GifDisposal = 0; // written as 2 all the same
  P.GifDelayTime = 0x0102;
  P.GifXPos = 5;
  P.GifInterlaced = true;
  Bytes Out;
  ASSERT_TRUE(WriteGif(Bmp, P, Out));
  const Bytes Head = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0,
                      0x91, 1, 0,                               // table of 4, resolution 2 bits; background blue
                      255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0,   // red, blue, unused
                      0x21, 0xF9, 4, 0x09, 2, 1, 0, 0,          // transparency, disposal 2, delay, index of red
                      0x2C, 5, 0, 0, 0, 2, 0, 1, 0, 0x40};      // at (5, 0), 2 x 1, interlaced
  ASSERT_GT(Out.size(), Head.size() + 4);
  EXPECT_EQ(Bytes(Out.begin(), Out.begin() + static_cast<std::ptrdiff_t>(Head.size())), Head);
  EXPECT_EQ(Out[Head.size()], 2); // LZW code size
  EXPECT_EQ(Bytes(Out.end() - 4, Out.end()), (Bytes{0x21, 0xFE, 0, 0x3B})); // empty comment, trailer
}

// The file's pixel aspect ratio, (byte + 15) / 64, is written inverted
// for a picture turned a quarter: the nearest byte, within 1..255.
TEST(GifWrite, APixelAspectRatioTurnsWithAQuarterTurn) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 2, 1, {0xFF0000, 0x0000FF});
  const int Cases[][3] = {{113, 0, 113}, {113, 1, 17}, {0, 1, 0}, {1, 1, 241}, {255, 1, 1}, {20, 1, 102}};
  for (const auto& [Aspect, Quarter, Written] : Cases) {
    TIOParamsVals P;
    P.FileType = rvftGIF;
    P.GifAspectRatio = Aspect;
    P.QuarterTurned = Quarter != 0;
    Bytes Out;
    ASSERT_TRUE(WriteGif(Bmp, P, Out));
    EXPECT_EQ(Out[12], Written) << Aspect;
  }
}

TEST(GifWrite, DepthIsCappedAtEightBits) {
  TRvBitmap Bmp;
  MakePattern(Bmp, 8, 8);
  TIOParamsVals P;
  P.BitsPerSample = 16;
  Bytes Out;
  ASSERT_TRUE(WriteGif(Bmp, P, Out));
  EXPECT_EQ(Out[10], 0xF7);
  EXPECT_EQ(Out[13 + 768], 0x21);
  TGifRead R;
  ReadGif(Out, R);
  EXPECT_TRUE(R.Ok);
  EXPECT_EQ(R.Params.BitsPerSample, 8);
  ExpectSamePixels(R.Bmp, Bmp); // 64 colours fit the palette exactly
}

TEST(GifWrite, LongCommentsTakeSeveralSubBlocks) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 3, 2, {0, 0xFFFFFF});
  TIOParamsVals P;
  P.BitsPerSample = 1;
  P.GifComments = {std::string(300, 'a'), "", "x"};
  Bytes Out;
  ASSERT_TRUE(WriteGif(Bmp, P, Out));
  const std::size_t At = Out.size() - 2 - (1 + 1 + 46 + 255 + 1);
  EXPECT_EQ(Out[At - 2], 0x21);
  EXPECT_EQ(Out[At - 1], 0xFE);
  EXPECT_EQ(Out[At], 255);
  EXPECT_EQ(Out[At + 256], 45);
  EXPECT_EQ(Out[At + 302], 1);
  EXPECT_EQ(Out[At + 304], 0);
  TGifRead R;
  ReadGif(Out, R);
  EXPECT_EQ(R.Params.GifComments, (std::vector<std::string>{std::string(255, 'a'), std::string(45, 'a'), "x"}));
}

TEST(GifWrite, VersionAndMissingEncoder) {
  TRvBitmap Bmp;
  MakeStripes(Bmp, 2, 2, {0x123456});
  TIOParamsVals P;
  for (const char* Version : {"GIF87a", "", "PNG89a"}) {
    P.GifVersion = Version;
    Bytes Out;
    ASSERT_TRUE(WriteGif(Bmp, P, Out));
    EXPECT_EQ(std::string(Out.begin(), Out.begin() + 6), *Version == 'G' ? "GIF87a" : "GIF89a");
  }
  const TEmptyGifSlots EmptySlots;
  P.GifLzwCompress = nullptr;
  P.BitsPerSample = 1;
  platform::TMemoryStream S;
  TRvLocalProgress Progress;
  GifWriteStream(S, Bmp, P, Progress.Rec);
  EXPECT_TRUE(Progress.Rec.IsAborting());
  EXPECT_EQ(S.Size(), 13 + 6 + 8 + 10); // nothing after the image descriptor
  TRvBitmap Empty;
  TRvLocalProgress Refused;
  platform::TMemoryStream S2;
  GifWriteStream(S2, Empty, P, Refused.Rec);
  EXPECT_TRUE(Refused.Rec.IsAborting());
}

TEST(GifWrite, RoundTripsThroughOurReader) {
  // 1-bit, 13 wide so the last byte of a row is partial.
  TRvBitmap Bw;
  Bw.Allocate(13, 5, rvpf1Bit);
  for (int Y = 0; Y < 5; ++Y)
    for (int X = 0; X < Bw.RowLen(); ++X) Bw.Scanline(Y)[X] = static_cast<std::uint8_t>(0x5A ^ (Y * 37 + X));
  TIOParamsVals P;
  P.BitsPerSample = 1;
  Bytes Out;
  ASSERT_TRUE(WriteGif(Bw, P, Out));
  TGifRead R;
  ReadGif(Out, R);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Bmp.PixelFormat(), rvpf1Bit);
  ExpectSamePixels(R.Bmp, Bw);
  EXPECT_EQ(R.Params.GifDisposal, 2);

  // A two-colour colour picture asked for 1 bit keeps its two colours, the
  // darker first.
  TRvBitmap Two;
  MakeStripes(Two, 6, 3, {0x800000, 0x00FFFF});
  Bytes Out2;
  ASSERT_TRUE(WriteGif(Two, P, Out2));
  EXPECT_EQ(Bytes(Out2.begin() + 13, Out2.begin() + 19), (Bytes{0x80, 0, 0, 0, 0xFF, 0xFF}));
  TGifRead R2;
  ReadGif(Out2, R2);
  EXPECT_EQ(PixelAt(R2.Bmp, 0, 0), 0x800000u);
  EXPECT_EQ(PixelAt(R2.Bmp, 1, 0), 0x00FFFFu);

  // Interlaced, 4 bits, with position, delay and a transparent colour.
  TRvBitmap Col;
  MakeStripes(Col, 7, 19, {0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0xFFFF00});
  TIOParamsVals Q;
  Q.BitsPerSample = 4;
  Q.GifInterlaced = true;
  Q.GifXPos = 3;
  Q.GifDelayTime = 45;
  Q.GifHasTransparentColor = true;
  RvCreateRGB(0x80, 0x80, 0x80, Q.GifTransparentColor);
  Bytes Out3;
  ASSERT_TRUE(WriteGif(Col, Q, Out3));
  TGifRead R3;
  ReadGif(Out3, R3);
  ASSERT_TRUE(R3.Ok);
  ExpectSamePixels(R3.Bmp, Col);
  EXPECT_TRUE(R3.Params.GifInterlaced);
  EXPECT_EQ(R3.Params.GifXPos, 3);
  EXPECT_EQ(R3.Params.GifDelayTime, 45);
  EXPECT_EQ(R3.Params.BitsPerSample, 4);
  for (int X = 0; X < 7; ++X) EXPECT_EQ(R3.Mask->GetPixel(X, 0), PixelAt(Col, X, 0) == 0x808080u ? 0 : 255);
}

// ---- Other programs

std::string TempName(const std::string& Name) {
  return ::testing::TempDir() + "gif_test_" + std::to_string(::getpid()) + "_" + Name;
}

std::string Capture(const std::string& Command) {
  std::string Text;
  if (FILE* F = ::popen((Command + " 2>/dev/null").c_str(), "r")) {
    char Buf[4096];
    std::size_t N;
    while ((N = std::fread(Buf, 1, sizeof(Buf), F)) > 0) Text.append(Buf, N);
    ::pclose(F);
  }
  return Text;
}

// The first image of a "gifbuild -d" dump, as 0x00RRGGBB pixels.
bool GiflibPixels(const std::string& Dump, TPixmap& Out) {
  std::istringstream In(Dump);
  std::string Line;
  std::vector<std::uint32_t> Colors;
  std::map<char, int> Keys;
  bool InMap = false;
  while (std::getline(In, Line)) {
    Line.erase(0, Line.find_first_not_of(" \t"));
    if (Line.rfind("screen map", 0) == 0 || Line.rfind("image map", 0) == 0) {
      InMap = true;
      Colors.clear();
      Keys.clear();
    } else if (InMap) {
      int R, G, B;
      char Key;
      const int Got = std::sscanf(Line.c_str(), "rgb %d %d %d is %c", &R, &G, &B, &Key);
      if (Got >= 3) {
        if (Got == 4) Keys[Key] = static_cast<int>(Colors.size());
        Colors.push_back(static_cast<std::uint32_t>(R << 16 | G << 8 | B));
      }
      if (Line == "end") InMap = false;
    } else if (std::sscanf(Line.c_str(), "image bits %d by %d", &Out.Width, &Out.Height) == 2) {
      const bool Hex = Line.find("hex") != std::string::npos;
      for (int Y = 0; Y < Out.Height && std::getline(In, Line); ++Y)
        for (int X = 0; X < Out.Width; ++X) {
          const int Index = Hex ? std::stoi(Line.substr(static_cast<std::size_t>(2 * X), 2), nullptr, 16)
                                : Keys.at(Line.at(static_cast<std::size_t>(X)));
          Out.Pixels.push_back(Colors.at(static_cast<std::size_t>(Index)));
        }
      return static_cast<int>(Out.Pixels.size()) == Out.Width * Out.Height;
    }
  }
  return false;
}

// A turned picture written again keeps the table it was read with (its
// entries in their order, global or local, of 1 to 8 bits) and its
// transparent index, so that opaque pixels of the transparent entry's
// colour stay opaque; ImageMagick sees the file turned, giflib reads it. One
// that no longer fits its table keeps which pixels show through.
TEST(GifWrite, ATurnedPictureKeepsItsTableAndTransparentIndex) {
  struct TCase {
    std::string Name;
    int Bits;
    std::vector<std::uint32_t> Colors;
    int Transparent; // -1: none
    bool Local, Recolour;
  };
  std::vector<TCase> Cases = {{"red and blue", 1, {0xFF0000, 0x0000FF}, -1, false, false},
                              {"white then black", 1, {0xFFFFFF, 0}, -1, false, false},
                              {"black transparent", 1, {0, 0xFFFFFF}, 0, true, false},
                              {"no longer fits", 2, {0, 0xFF0000, 0, 0x00FF00}, 2, false, true}};
  // The last entry transparent, of the first one's colour.
  for (int Bits = 1; Bits <= 8; ++Bits) {
    std::vector<std::uint32_t> Ramp;
    for (int I = 0; I < (1 << Bits) - 1; ++I)
      Ramp.push_back(std::uint32_t((I * 97) & 255) << 16 | (I * 53 & 255) << 8 | (255 - I));
    Ramp.push_back(Ramp[0]);
    Cases.push_back({std::to_string(Bits) + " bits", Bits, Ramp, (1 << Bits) - 1, Bits % 2 == 0, false});
  }
  const int W = 13, H = 6;
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const int Count = 1 << C.Bits, Size = C.Bits - 1;
    Bytes File, Entries;
    for (std::uint32_t Color : C.Colors) Table(Entries, {Color}, 1);
    Screen(File, W, H, C.Local ? 0x70 : 0xF0 | Size, 0);
    if (!C.Local) File.insert(File.end(), Entries.begin(), Entries.end());
    Control(File, C.Transparent >= 0 ? 1 : 0, 7, std::max(C.Transparent, 0));
    Descriptor(File, 0, 0, W, H, C.Local ? 0x80 | Size : 0);
    if (C.Local) File.insert(File.end(), Entries.begin(), Entries.end());
    Indices Pixels(W * H);
    for (int I = 0; I < W * H; ++I) Pixels[I] = static_cast<std::uint8_t>(I == 0 ? Count - 1 : (I * 7) % Count);
    Data(File, Pixels, W, H, C.Bits);
    Put(File, {0x21, 0xFE, 2, 'h', 'i', 0, 0x3B});

    TGifRead Read;
    ReadGif(File, Read);
    ASSERT_TRUE(Read.Ok);
    EXPECT_FALSE(Read.Params.DpiStated);
    codectest::TurnClockwise(Read.Bmp, Read.Mask.get());
    if (C.Recolour) MakeStripes(Read.Bmp, H, W, {0x000000, 0xFF0000, 0x123456});
    Bytes Out;
    ASSERT_TRUE(WriteGif(Read.Bmp, Read.Params, Out, Read.Mask.get()));
    TGifRead Back;
    ReadGif(Out, Back);
    ASSERT_TRUE(Back.Ok);
    codectest::ExpectMatches(Back.Bmp, Back.Mask.get(), codectest::Ours(Read.Bmp, Read.Mask.get()));
    if (C.Recolour) continue;
    // The table and the transparent index as the file had them.
    EXPECT_EQ(Out[10], 0x80 | Size | Size << 4);
    EXPECT_EQ(Bytes(Out.begin() + 13, Out.begin() + 13 + 3 * Count), Entries);
    const std::size_t Ext = 13 + 3 * Count;
    EXPECT_EQ(Out[Ext + 3] & 1, C.Transparent >= 0 ? 1 : 0);
    if (C.Transparent >= 0) EXPECT_EQ(Out[Ext + 6], C.Transparent);
    if (!HaveTool("convert") || !HaveTool("giftext")) continue;
    const std::string Ours = TempName("turned.gif"), Was = TempName("was.gif");
    SaveBytes(Ours, Out);
    SaveBytes(Was, File);
    EXPECT_EQ(codectest::Reference(Ours).Pixels, codectest::Reference(Was, "-rotate 90").Pixels);
    EXPECT_NE(Capture("giftext " + Ours).find("GIF file terminated normally"), std::string::npos);
    std::remove(Ours.c_str());
    std::remove(Was.c_str());
  }
}

TEST(GifInterop, GiflibReadsWhatWeWrite) {
  if (!HaveTool("gifbuild") || !HaveTool("giftext")) GTEST_SKIP() << "gifbuild/giftext (giflib-tools)";
  struct TCase {
    int Bits;
    bool Interlaced;
    int Kind; // 0 black and white, 1 few colours, 2 more colours than the palette
  };
  for (const TCase& C : {TCase{1, false, 0}, TCase{3, true, 1}, TCase{8, false, 1}, TCase{8, true, 2},
                         TCase{5, false, 2}}) {
    TRvBitmap Bmp;
    if (C.Kind == 0) MakeStripes(Bmp, 21, 9, {0, 0xFFFFFF, 0xFFFFFF});
    else if (C.Kind == 1) MakeStripes(Bmp, 17, 11, {0xFF0000, 0x00FF00, 0x0000FF, 0x101010, 0xABCDEF});
    else MakePattern(Bmp, 40, 30);
    TIOParamsVals P;
    P.BitsPerSample = C.Bits;
    P.GifInterlaced = C.Interlaced;
    P.GifComments = {"made by us"};
    P.GifHasTransparentColor = true;
    Bytes Out;
    ASSERT_TRUE(WriteGif(Bmp, P, Out));
    const std::string Path = TempName("ours.gif");
    SaveBytes(Path, Out);
    TPixmap Theirs;
    ASSERT_TRUE(GiflibPixels(Capture("gifbuild -d " + Path), Theirs)) << C.Bits;
    TGifRead R;
    ReadGif(Out, R);
    ASSERT_TRUE(R.Ok);
    ExpectMatchesPixmap(R.Bmp, Theirs);
    if (C.Kind != 2) ExpectMatchesPixmap(Bmp, Theirs);
    const std::string Text = Capture("giftext " + Path);
    EXPECT_NE(Text.find("Disposal Mode: 2"), std::string::npos);
    EXPECT_NE(Text.find("Transparency on: yes"), std::string::npos);
    EXPECT_NE(Text.find(C.Interlaced ? "Image is Interlaced" : "Image is Non Interlaced"), std::string::npos);
    EXPECT_NE(Text.find("GIF file terminated normally"), std::string::npos);
    if (HaveTool("convert")) {
      TPixmap Magick;
      ASSERT_TRUE(RunTool("convert " + Path + " " + TempName("ours.ppm")));
      ASSERT_TRUE(ParsePixmap(LoadBytes(TempName("ours.ppm")), Magick));
      ExpectMatchesPixmap(R.Bmp, Magick);
    }
    std::remove(Path.c_str());
  }
}

TEST(GifInterop, ReadsGifbuildFrames) {
  if (!HaveTool("gifbuild")) GTEST_SKIP() << "gifbuild (giflib-tools)";
  const std::string Spec = TempName("spec.txt");
  const std::string Text =
      "screen width 4\nscreen height 3\nscreen colors 4\nscreen background 2\n"
      "screen map\n rgb 255 0 0 is r\n rgb 0 255 0 is g\n rgb 0 0 255 is b\n rgb 255 255 255 is w\nend\n"
      "comment\nhello\nend\n"
      "graphics control\n disposal mode 2\n delay 37\n transparent index 3\nend\n"
      "image\nimage left 1\nimage top 0\nimage bits 3 by 2\nrgw\ngwr\n"
      "graphics control\n disposal mode 3\n delay 5\n transparent index -1\nend\n"
      "image\nimage interlaced\nimage map\n rgb 1 2 3 is a\n rgb 4 5 6 is b\nend\n"
      "image bits 2 by 9\nab\nba\naa\nbb\nab\nba\nbb\naa\nab\n";
  SaveBytes(Spec, Bytes(Text.begin(), Text.end()));
  const std::string Path = TempName("built.gif");
  ASSERT_TRUE(RunTool("gifbuild " + Spec + " > " + Path));
  const Bytes File = LoadBytes(Path);
  TGifRead A;
  ReadGif(File, A, 0);
  ASSERT_TRUE(A.Ok);
  EXPECT_EQ(A.Frames, 2);
  EXPECT_EQ(A.Params.GifXPos, 1);
  EXPECT_EQ(A.Params.GifDelayTime, 37);
  EXPECT_EQ(A.Params.GifDisposal, 2);
  EXPECT_TRUE(A.Params.GifHasTransparentColor);
  EXPECT_EQ(Packed(A.Params.GifTransparentColor), 0xFFFFFFu);
  EXPECT_EQ(Packed(A.Params.GifBackground), 0x0000FFu);
  EXPECT_EQ(A.Params.GifComments, std::vector<std::string>{"hello"});
  EXPECT_EQ(PixelAt(A.Bmp, 0, 0), 0xFF0000u);
  EXPECT_EQ(PixelAt(A.Bmp, 2, 1), 0xFF0000u);
  EXPECT_EQ(A.Mask->GetPixel(2, 0), 0);
  EXPECT_EQ(A.Mask->GetPixel(1, 0), 255);
  TGifRead B;
  ReadGif(File, B, 1);
  ASSERT_TRUE(B.Ok);
  EXPECT_TRUE(B.Params.GifInterlaced);
  EXPECT_EQ(B.Params.GifDisposal, 3);
  EXPECT_FALSE(B.Params.GifHasTransparentColor);
  EXPECT_EQ(B.Params.BitsPerSample, 1);
  const char* Rows = "abbaaabbabbabbaaab";
  for (int Y = 0; Y < 9; ++Y)
    for (int X = 0; X < 2; ++X)
      EXPECT_EQ(PixelAt(B.Bmp, X, Y), Rows[2 * Y + X] == 'a' ? 0x010203u : 0x040506u) << X << "," << Y;
  std::remove(Spec.c_str());
  std::remove(Path.c_str());
}

TEST(GifInterop, ReadsImageMagickAnimationsInterlaceAndTransparency) {
  if (!HaveTool("convert")) GTEST_SKIP() << "convert (ImageMagick)";
  TRvBitmap F0, F1, F2;
  MakeStripes(F0, 9, 7, {0xFF0000, 0x0000FF, 0x00FF00});
  MakeStripes(F1, 3, 2, {0x00FF00, 0xFFFFFF});
  MakeStripes(F2, 9, 1, {0xFFFF00, 0x000080});
  const std::string P0 = TempName("f0.ppm"), P1 = TempName("f1.ppm"), P2 = TempName("f2.ppm");
  SaveBytes(P0, PixmapBytes(F0));
  SaveBytes(P1, PixmapBytes(F1));
  SaveBytes(P2, PixmapBytes(F2));
  const std::string Anim = TempName("anim.gif");
  ASSERT_TRUE(RunTool("convert -delay 25 -dispose Background " + P0 + " -delay 50 -dispose Previous -page +2+1 " +
                      P1 + " -dispose None -delay 7 -page +0+3 " + P2 + " " + Anim));
  const Bytes File = LoadBytes(Anim);
  struct {
    TRvBitmap* Source;
    int X, Y, Delay, Disposal;
  } const Expected[3] = {{&F0, 0, 0, 25, 2}, {&F1, 2, 1, 50, 3}, {&F2, 0, 3, 7, 1}};
  for (int I = 0; I < 3; ++I) {
    TGifRead R;
    ReadGif(File, R, I);
    ASSERT_TRUE(R.Ok) << I;
    EXPECT_EQ(R.Frames, 3);
    EXPECT_EQ(R.Params.GifXPos, Expected[I].X);
    EXPECT_EQ(R.Params.GifYPos, Expected[I].Y);
    EXPECT_EQ(R.Params.GifDelayTime, Expected[I].Delay);
    EXPECT_EQ(R.Params.GifDisposal, Expected[I].Disposal);
    EXPECT_EQ(R.Params.GifScreenWidth, 9);
    ExpectSamePixels(R.Bmp, *Expected[I].Source);
  }

  const std::string Inter = TempName("inter.gif");
  TRvBitmap Big;
  MakeStripes(Big, 13, 23, {0x101010, 0x202020, 0xC0FFEE, 0xFF00FF, 0x00FFFF, 0x336699, 0x996633});
  SaveBytes(P0, PixmapBytes(Big));
  ASSERT_TRUE(RunTool("convert " + P0 + " -interlace GIF " + Inter));
  TGifRead I;
  ReadGif(LoadBytes(Inter), I);
  ASSERT_TRUE(I.Ok);
  EXPECT_TRUE(I.Params.GifInterlaced);
  ExpectSamePixels(I.Bmp, Big);

  const std::string Clear = TempName("transparent.gif");
  ASSERT_TRUE(RunTool("convert " + P0 + " -transparent '#C0FFEE' " + Clear));
  TGifRead T;
  ReadGif(LoadBytes(Clear), T);
  ASSERT_TRUE(T.Ok);
  EXPECT_TRUE(T.Params.GifHasTransparentColor);
  for (int Y = 0; Y < 23; ++Y)
    for (int X = 0; X < 13; ++X) {
      const bool Hidden = PixelAt(Big, X, Y) == 0xC0FFEEu;
      EXPECT_EQ(T.Mask->GetPixel(X, Y), Hidden ? 0 : 255);
      if (!Hidden) {
        EXPECT_EQ(PixelAt(T.Bmp, X, Y), PixelAt(Big, X, Y));
      }
    }
  for (const std::string& F : {P0, P1, P2, Anim, Inter, Clear}) std::remove(F.c_str());
}

} // namespace
