#include "image/model/rvcolorconv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "image/model/rastrumproc.h"
#include "image/model/rvmask.h"
#include "image/model/rvquantizer.h"
#include "image/model/rvviewlink.h"

using namespace rv;

namespace {

void SetPixel(platform::TBitmap& B, int X, int Y, int R, int G, int Bl) {
  std::uint8_t* p = B.ScanLine(Y) + 3 * X;
  p[0] = static_cast<std::uint8_t>(Bl);
  p[1] = static_cast<std::uint8_t>(G);
  p[2] = static_cast<std::uint8_t>(R);
}

std::vector<int> Pixel(const platform::TBitmap& B, int X, int Y) {
  const std::uint8_t* p = B.ScanLine(Y) + 3 * X;
  return {p[2], p[1], p[0]};
}

// A view with a selection, and nothing else of a view.
class TFakeView : public TRvHiddenViewLink {
public:
  platform::TBitmap Bitmap{4, 4, platform::pf24bit};
  TRvMask Selection;
  platform::TBitmap* GetBitmap() override { return &Bitmap; }
  int LockUpdate() override { return 0; }
  int DpiX() const override { return 96; }
  int DpiY() const override { return 96; }
  TRvMask* SelectionMask() override { return &Selection; }
  bool HasSelection() const override { return !Selection.IsEmpty(); }
};

} // namespace

// --- gray -------------------------------------------------------------------

TEST(RvColorConv, GrayFollowsTheWeightedFormula) {
  platform::TBitmap b(4, 2, platform::pf24bit);
  SetPixel(b, 0, 0, 200, 100, 50); // (4200 + 7100 + 400) div 100 = 117
  SetPixel(b, 1, 0, 255, 0, 0);    // 5355 div 100 = 53
  SetPixel(b, 2, 0, 0, 255, 0);    // 18105 div 100 = 181
  SetPixel(b, 3, 0, 0, 0, 255);    // 2040 div 100 = 20
  SetPixel(b, 0, 1, 255, 255, 255);
  std::vector<int> reports;
  RvConvertRectToGray(&b, 0, 0, 4, 2, nullptr, [&](void*, int Per) { reports.push_back(Per); });
  EXPECT_EQ(Pixel(b, 0, 0), (std::vector<int>{117, 117, 117}));
  EXPECT_EQ(Pixel(b, 1, 0), (std::vector<int>{53, 53, 53}));
  EXPECT_EQ(Pixel(b, 2, 0), (std::vector<int>{181, 181, 181}));
  EXPECT_EQ(Pixel(b, 3, 0), (std::vector<int>{20, 20, 20}));
  EXPECT_EQ(Pixel(b, 0, 1), (std::vector<int>{255, 255, 255}));
  // round(100 / 2.5), round(200 / 2.5)
  EXPECT_EQ(reports, (std::vector<int>{40, 80}));
}

TEST(RvColorConv, GrayRectangleTouchesOnlyItsPixels) {
  platform::TBitmap b(3, 3, platform::pf24bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) SetPixel(b, x, y, 255, 0, 0);
  // Right and bottom beyond the picture are cut; a negative corner is cut too.
  RvConvertRectToGray(&b, 1, -5, 99, 2, nullptr, nullptr);
  EXPECT_EQ(Pixel(b, 0, 0), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(Pixel(b, 1, 0), (std::vector<int>{53, 53, 53}));
  EXPECT_EQ(Pixel(b, 2, 1), (std::vector<int>{53, 53, 53}));
  EXPECT_EQ(Pixel(b, 1, 2), (std::vector<int>{255, 0, 0}));
}

TEST(RvColorConv, ComponentGraysOnlyTheSelectedPixels) {
  TFakeView view;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) SetPixel(view.Bitmap, x, y, 0, 0, 255);
  view.Selection.Allocate(4, 4, 1);
  view.Selection.SetPixel(1, 1, 1);
  view.Selection.SetPixel(2, 2, 1);
  TRastrumProc proc;
  proc.SetAttachedRastrum(&view);
  proc.ConvertToGray();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool selected = (x == 1 && y == 1) || (x == 2 && y == 2);
      const std::vector<int> expected = selected ? std::vector<int>{20, 20, 20}
                                                 : std::vector<int>{0, 0, 255};
      EXPECT_EQ(Pixel(view.Bitmap, x, y), expected) << x << "," << y;
    }
  ASSERT_EQ(proc.UndoCaptions().size(), 1u);
  EXPECT_EQ(proc.UndoCaptions()[0], "ConvertToGray");
  proc.SetAttachedRastrum(nullptr);
}

TEST(RvColorConv, ComponentLeavesOtherFormatsAloneWithoutUndo) {
  platform::TBitmap b(4, 4, platform::pf8bit);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.ConvertToGray();
  proc.ConvertTo(16);
  proc.ConvertToPalette(2, nullptr);
  EXPECT_EQ(proc.UndoCount(), 0);
  EXPECT_EQ(b.PixelFormat(), platform::pf8bit);
}

// --- N colours and black and white -----------------------------------------

TEST(RvColorConv, ConvertToTwoDithersMidGrayToHalfWhite) {
  platform::TBitmap b(8, 8, platform::pf24bit);
  for (int y = 0; y < 8; ++y) std::memset(b.ScanLine(y), 128, 24);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.ConvertTo(2);
  ASSERT_EQ(b.PixelFormat(), platform::pf1bit);
  int set = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) set += (b.ScanLine(y)[0] >> (7 - x)) & 1;
  EXPECT_EQ(set, 32);
  ASSERT_EQ(proc.UndoCaptions().size(), 1u);
  EXPECT_EQ(proc.UndoCaptions()[0], "ConvertTo 2");
}

TEST(RvColorConv, ConvertToPaletteTwoWritesBlackThenWhite) {
  platform::TBitmap b(3, 3, platform::pf24bit);
  TRGB palette[2] = {TRGB{1, 2, 3}, TRGB{4, 5, 6}};
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.ConvertToPalette(2, palette);
  EXPECT_EQ(b.PixelFormat(), platform::pf1bit);
  EXPECT_TRUE(RvSameRGB(palette[0], TRGB{0, 0, 0}));
  EXPECT_TRUE(RvSameRGB(palette[1], TRGB{255, 255, 255}));
  EXPECT_EQ(proc.UndoCaptions().at(0), "ConvertToPalette");
}

TEST(RvColorConv, QuantisingThreeColoursKeepsThemApart) {
  // Three colours to 16 by median cut: each gets an entry of its own, which
  // is its 5-bit cell's centre times 8 (here the colours themselves, as
  // they lie on multiples of 8).
  platform::TBitmap b(6, 4, platform::pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      if (x < 2) SetPixel(b, x, y, 0, 0, 0);
      else if (x < 4) SetPixel(b, x, y, 248, 0, 0);
      else SetPixel(b, x, y, 0, 0, 248);
    }
  std::vector<TRGB> palette(16, TRGB{7, 7, 7});
  std::vector<int> reports;
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.OnProgress = [&](void* Sender, int Per) {
    EXPECT_EQ(Sender, &proc);
    reports.push_back(Per);
  };
  proc.ConvertToPalette(16, palette.data());
  EXPECT_EQ(b.PixelFormat(), platform::pf24bit);
  EXPECT_EQ(Pixel(b, 0, 0), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(Pixel(b, 2, 3), (std::vector<int>{248, 0, 0}));
  EXPECT_EQ(Pixel(b, 5, 1), (std::vector<int>{0, 0, 248}));
  // round(n x 100 / 4.5) for n = 1..4
  EXPECT_EQ(reports, (std::vector<int>{22, 44, 67, 89}));
  std::set<std::uint32_t> used;
  for (int i = 0; i < 3; ++i) used.insert(RvRGBToPacked(palette[static_cast<std::size_t>(i)]));
  EXPECT_EQ(used.size(), 3u);
}

TEST(RvColorConv, LargePictureQuantisesAsTheQuantiserSays) {
  // Above a million pixels the answers of the quantiser are remembered per
  // colour: every pixel must still be the entry the quantiser gives it.
  const int w = 1024, h = 1040;
  TRvBitmap picture, original;
  picture.SetLocation(rvlMemory);
  picture.Allocate(w, h, rvpf24Bit);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = picture.Scanline(y);
    for (int x = 0; x < w; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>(x / 4);
      p[1] = static_cast<std::uint8_t>(y / 4);
      p[2] = static_cast<std::uint8_t>((x + y) / 8);
    }
  }
  original.SetLocation(rvlMemory);
  original.Assign(&picture);
  std::vector<TRGB> palette(256), expected(256);
  RvConvertToPalette(&picture, 256, palette.data());
  TRvQuantizer q(&original, expected.data(), 256);
  for (int i = 0; i < 256; ++i) ASSERT_TRUE(RvSameRGB(palette[i], expected[i]));
  for (int y = 0; y < h; y += 37) {
    const std::uint8_t* s = original.Scanline(y);
    const std::uint8_t* d = picture.Scanline(y);
    for (int x = 0; x < w; ++x, s += 3, d += 3) {
      const TRGB& e = expected[static_cast<std::size_t>(
          q.RGBIndex(s[0] | static_cast<std::uint32_t>(s[1]) << 8 |
                     static_cast<std::uint32_t>(s[2]) << 16))];
      ASSERT_EQ(d[0], e.b);
      ASSERT_EQ(d[1], e.g);
      ASSERT_EQ(d[2], e.r);
    }
  }
}

TEST(RvColorConv, LibraryBitmapConversions) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  b.Allocate(8, 8, rvpf24Bit);
  for (int y = 0; y < 8; ++y) std::memset(b.Scanline(y), 128, 24);
  RvConvertTo(&b, 2);
  ASSERT_EQ(b.PixelFormat(), rvpf1Bit);
  int set = 0;
  for (int y = 0; y < 8; ++y) set += __builtin_popcount(b.Scanline(y)[0]);
  EXPECT_EQ(set, 32);

  TRvBitmap c;
  c.SetLocation(rvlMemory);
  c.Allocate(2, 1, rvpf24Bit);
  const std::uint8_t px[6] = {255, 0, 0, 0, 255, 0}; // blue, green
  std::memcpy(c.Scanline(0), px, 6);
  RvConvertToGray(&c);
  EXPECT_EQ(c.Scanline(0)[0], 20);
  EXPECT_EQ(c.Scanline(0)[5], 181);
}

// --- two colours ------------------------------------------------------------

namespace {
std::unique_ptr<TRvBitmap> Picture24(int W, int H, const std::vector<std::uint32_t>& Packed) {
  auto b = std::make_unique<TRvBitmap>();
  b->SetLocation(rvlMemory);
  b->Allocate(W, H, rvpf24Bit);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const std::uint32_t c = Packed[static_cast<std::size_t>(y * W + x)];
      std::uint8_t* p = b->Scanline(y) + 3 * x;
      p[0] = c & 255;
      p[1] = (c >> 8) & 255;
      p[2] = (c >> 16) & 255;
    }
  return b;
}
} // namespace

TEST(RvColorConv, TwoColoursGiveBitsAtTheBrighterOne) {
  TRGB c1, c2;
  // White first, so the bits are inverted to put white on the set bits.
  auto pic = Picture24(10, 2, {0xFFFFFF, 0, 0, 0xFFFFFF, 0, 0, 0, 0, 0, 0xFFFFFF,
                               0, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF, 0});
  auto bw = RvTwoColorsToBW(pic.get(), c1, c2);
  ASSERT_NE(bw, nullptr);
  EXPECT_EQ(bw->PixelFormat(), rvpf1Bit);
  EXPECT_EQ(RvRGBToPacked(c1), 0u);
  EXPECT_EQ(RvRGBToPacked(c2), 0xFFFFFFu);
  EXPECT_EQ(bw->Scanline(0)[0], 0x90);
  EXPECT_EQ(bw->Scanline(0)[1] & 0xC0, 0x40);
  EXPECT_EQ(bw->Scanline(1)[0], 0x00);
  EXPECT_EQ(bw->Scanline(1)[1] & 0xC0, 0x80);
}

TEST(RvColorConv, OneOrThreeColoursGiveNothing) {
  TRGB c1, c2;
  auto one = Picture24(3, 1, {0x102030, 0x102030, 0x102030});
  EXPECT_EQ(RvTwoColorsToBW(one.get(), c1, c2), nullptr);
  auto three = Picture24(3, 1, {0x102030, 0x000000, 0xFFFFFF});
  EXPECT_EQ(RvTwoColorsToBW(three.get(), c1, c2), nullptr);
}

// --- palettes and rows ------------------------------------------------------

TEST(RvColorConv, NearestPaletteIndexPrefersTheLowerOnTies) {
  const TRGB palette[3] = {TRGB{10, 10, 10}, TRGB{30, 30, 30}, TRGB{21, 20, 20}};
  EXPECT_EQ(RvNearestPaletteIndex(palette, 2, 0x141414), 0);
  EXPECT_EQ(RvNearestPaletteIndex(palette, 3, 0x141414), 2);
  EXPECT_EQ(RvNearestPaletteIndex(palette, 3, 0x1E1E1E), 1);
  EXPECT_EQ(RvNearestPaletteIndex(palette, 0, 0x1E1E1E), 0);
}

TEST(RvColorConv, RedBlueSwaps) {
  std::uint8_t row[6] = {1, 2, 3, 4, 5, 6}, copy[6] = {};
  RvCopyBGRToRGB(copy, row, 2);
  EXPECT_EQ(std::vector<int>(copy, copy + 6), (std::vector<int>{3, 2, 1, 6, 5, 4}));
  RvBGRToRGBRow(row, 2);
  EXPECT_EQ(std::vector<int>(row, row + 6), (std::vector<int>{3, 2, 1, 6, 5, 4}));
}

TEST(RvColorConv, PixelRowsBetweenDepths) {
  const TRGB palette[16] = {TRGB{0, 0, 0}, TRGB{255, 255, 255}, TRGB{1, 2, 3}};
  std::uint8_t out[64];
  const std::uint8_t bits[2] = {0xA0, 0x40}; // 1 0 1 0 0 0 0 0 | 0 1
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(RvConvertPixelRow(bits, out, 1, nullptr, palette, 10, 24), 30);
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(out[27], 255);
  EXPECT_EQ(out[30], 0xEE);

  const std::uint8_t bytes[10] = {1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(RvConvertPixelRow(bytes, out, 8, nullptr, nullptr, 10, 1), 2);
  EXPECT_EQ(out[0], 0xA0);
  EXPECT_EQ(out[1], 0x40);
  EXPECT_EQ(RvConvertPixelRow(bits, out, 1, nullptr, nullptr, 3, 4), 2);
  EXPECT_EQ(out[0], 0x10);
  EXPECT_EQ(out[1] & 0xF0, 0x10);

  const std::uint8_t nibbles[2] = {0x21, 0x00};
  EXPECT_EQ(RvConvertPixelRow(nibbles, out, 4, nullptr, palette, 2, 24), 6);
  EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{1, 2, 3, 255, 255, 255}));

  const std::uint8_t quad[8] = {1, 2, 3, 99, 4, 5, 6, 99};
  EXPECT_EQ(RvConvertPixelRow(quad, out, 32, nullptr, nullptr, 2, 24), 6);
  EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(RvConvertPixelRow(quad, out, 32, nullptr, nullptr, 2, 16), 0);

  // 24 to 8 through a gray identity quantiser: the index is the gray level.
  platform::TBitmap gray(2, 1, platform::pf24bit);
  std::memset(gray.ScanLine(0), 77, 6);
  std::vector<TRGB> grayPalette(256);
  TRvQuantizer q(&gray, grayPalette.data(), 256);
  const std::uint8_t rgb[6] = {9, 9, 9, 200, 200, 200};
  EXPECT_EQ(RvConvertPixelRow(rgb, out, 24, &q, nullptr, 2, 8), 2);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(out[1], 200);
}

// --- video frames -----------------------------------------------------------

TEST(RvColorConv, YUVSamplesAtTheEndsOfTheRange) {
  TRGB c;
  RvYUVToRGB(16, 128, 128, c);
  EXPECT_EQ(RvRGBToPacked(c), 0u);
  RvYUVToRGB(235, 128, 128, c); // 1.164 x 219 = 254.9
  EXPECT_EQ(RvRGBToPacked(c), 0xFFFFFFu);
  // Blue 75.66 - 76.684 and green 75.66 - 91.056 + 14.858 clamp to 0; red
  // 75.66 + 178.752 = 254.41.
  RvYUVToRGB(81, 90, 240, c);
  EXPECT_EQ(c.b, 0);
  EXPECT_EQ(c.g, 0);
  EXPECT_EQ(c.r, 254);
}

namespace {
std::vector<std::uint8_t> FrameHeader(int W, int H, int BitCount, std::uint32_t Compression) {
  platform::TBitmapInfoHeader h;
  h.biWidth = W;
  h.biHeight = H;
  h.biBitCount = static_cast<std::uint16_t>(BitCount);
  h.biCompression = Compression;
  std::vector<std::uint8_t> v(sizeof h);
  std::memcpy(v.data(), &h, sizeof h);
  return v;
}
std::uint32_t At(TRvBitmap& B, int X, int Y) {
  const std::uint8_t* p = B.Scanline(Y) + 3 * X;
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16;
}
} // namespace

TEST(RvColorConv, VideoFramesInPackedAndPlanarLayouts) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  // YUY2, bottom-up: the first stored row is the bottom one.
  auto header = FrameHeader(2, 2, 16, RvFourCC('Y', 'U', 'Y', '2'));
  const std::uint8_t yuy2[8] = {16, 128, 235, 128, 235, 128, 16, 128};
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, yuy2, sizeof yuy2), 16);
  ASSERT_EQ(b.PixelFormat(), rvpf24Bit);
  EXPECT_EQ(At(b, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(At(b, 1, 0), 0u);
  EXPECT_EQ(At(b, 0, 1), 0u);
  EXPECT_EQ(At(b, 1, 1), 0xFFFFFFu);
  // Short data is refused.
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, yuy2, 7), 0);
  // Sizes whose product does not fit 64 bits are refused, not wrapped.
  header = FrameHeader(0x7FFFFFFF, 0x7FFFFFFF, 32, 0);
  const std::vector<std::uint8_t> few(64, 0);
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, few.data(), few.size()), 0);
  header = FrameHeader(0x7FFFFFFF, -0x7FFFFFFF, 12, RvFourCC('I', '4', '2', '0'));
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, few.data(), few.size()), 0);
  header = FrameHeader(2, 2, 16, RvFourCC('Y', 'U', 'Y', '2'));
  // A YUV frame comes with its pixels or not at all.
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, nullptr, 0), 0);

  // "cyuv" is UYVY with the opposite row order: top-down here.
  header = FrameHeader(2, 2, 16, RvFourCC('c', 'y', 'u', 'v'));
  const std::uint8_t cyuv[8] = {128, 16, 128, 235, 128, 235, 128, 16};
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, cyuv, sizeof cyuv), 16);
  EXPECT_EQ(At(b, 0, 0), 0u);
  EXPECT_EQ(At(b, 1, 0), 0xFFFFFFu);

  // I420 top-down 2 x 2: four Y, then U, then V.
  header = FrameHeader(2, -2, 12, RvFourCC('I', '4', '2', '0'));
  const std::uint8_t i420[6] = {16, 235, 235, 16, 128, 128};
  EXPECT_EQ(RvVideoFrameToBitmap(header.data(), header.size(), &b, i420, sizeof i420), 12);
  EXPECT_EQ(At(b, 1, 0), 0xFFFFFFu);
  EXPECT_EQ(At(b, 0, 0), 0u);
  // YV12 takes V first: the same bytes give another colour.
  header = FrameHeader(2, -2, 12, RvFourCC('Y', 'V', '1', '2'));
  const std::uint8_t yv12[6] = {81, 81, 81, 81, 240, 90};
  RvVideoFrameToBitmap(header.data(), header.size(), &b, yv12, sizeof yv12);
  EXPECT_EQ(At(b, 0, 0), 0xFE0000u);

  // CLJR: Y fields of 5 bits (31 -> 255), U and V of 6 bits (32 -> 130).
  header = FrameHeader(4, 1, 8, RvFourCC('C', 'L', 'J', 'R'));
  const std::uint32_t word = 32u | (32u << 6) | (31u << 12) | (0u << 17) | (31u << 22) | (0u << 27);
  std::uint8_t cljr[4];
  std::memcpy(cljr, &word, 4);
  RvVideoFrameToBitmap(header.data(), header.size(), &b, cljr, sizeof cljr);
  EXPECT_EQ(At(b, 0, 0) & 0xFF00, 0xFF00u);
  EXPECT_EQ(At(b, 1, 0) & 0xFF00, 0u);
}

TEST(RvColorConv, VideoFramesInRGBLayouts) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  // 8 bits without a Bits pointer: the pixels follow the palette of two
  // entries (colours used 2), not the header.
  auto frame = FrameHeader(2, 1, 8, 0);
  std::memcpy(frame.data() + 32, "\x02\0\0\0", 4);
  const std::uint8_t tail[] = {10, 20, 30, 0, 40, 50, 60, 0, 1, 0, 0, 0};
  frame.insert(frame.end(), tail, tail + sizeof tail);
  EXPECT_EQ(RvVideoFrameToBitmap(frame.data(), frame.size(), &b, nullptr, 0), 8);
  EXPECT_EQ(At(b, 0, 0), 0x3C3228u);
  EXPECT_EQ(At(b, 1, 0), 0x1E140Au);

  // 32 bits with bit fields: the pixels start 12 bytes after the header.
  frame = FrameHeader(1, 2, 32, 3);
  const std::uint8_t fields[] = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0,
                                 1, 2, 3, 4, 5, 6, 7, 8};
  frame.insert(frame.end(), fields, fields + sizeof fields);
  EXPECT_EQ(RvVideoFrameToBitmap(frame.data(), frame.size(), &b, nullptr, 0), 32);
  EXPECT_EQ(At(b, 0, 0), 0x070605u); // bottom-up: the second stored row is the top
  EXPECT_EQ(At(b, 0, 1), 0x030201u);
  frame.pop_back();
  EXPECT_EQ(RvVideoFrameToBitmap(frame.data(), frame.size(), &b, nullptr, 0), 0);

  // 1 bit stays 1 bit; a palette with white first is stored inverted.
  frame = FrameHeader(8, 1, 1, 0);
  const std::uint8_t mono[] = {255, 255, 255, 0, 0, 0, 0, 0, 0xF0, 0, 0, 0};
  frame.insert(frame.end(), mono, mono + sizeof mono);
  EXPECT_EQ(RvVideoFrameToBitmap(frame.data(), frame.size(), &b, nullptr, 0), 1);
  ASSERT_EQ(b.PixelFormat(), rvpf1Bit);
  EXPECT_EQ(b.Scanline(0)[0], 0x0F);

  // Run-length compression converts nothing.
  frame = FrameHeader(8, 1, 8, 1);
  EXPECT_EQ(RvVideoFrameToBitmap(frame.data(), frame.size(), &b, nullptr, 0), 8);
  EXPECT_EQ(RvVideoFrameToBitmap(frame.data(), 39, &b, nullptr, 0), 0);
}
