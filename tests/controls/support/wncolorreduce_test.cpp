#include "controls/support/wngraphics/wncolorreduce.h"

#include <QImage>
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "platform/application.h"

using namespace wn;
using platform::TBitmap;

namespace {

TBitmap* MakePicture(int width, int height, const std::function<QRgb(int x, int y)>& color) {
  auto* bitmap = new TBitmap(width, height, platform::pf24bit);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap->ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const QRgb c = color(x, y);
      row[3 * x] = static_cast<std::uint8_t>(qBlue(c));
      row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
      row[3 * x + 2] = static_cast<std::uint8_t>(qRed(c));
    }
  }
  return bitmap;
}

struct TBmp {
  std::vector<std::uint8_t> Bytes;
  std::uint32_t U16(std::size_t at) const { return Bytes.at(at) | Bytes.at(at + 1) << 8; }
  std::uint32_t U32(std::size_t at) const { return U16(at) | U16(at + 2) << 16; }
  // Palette entry i as blue, green, red, reserved.
  std::uint32_t Quad(int i) const { return U32(54 + 4 * static_cast<std::size_t>(i)); }
  std::uint8_t Pixel8(int storedRow, int x) const {
    const std::uint32_t stride = (U32(18) * 8 + 31) / 32 * 4;
    return Bytes.at(U32(10) + storedRow * stride + static_cast<std::size_t>(x));
  }
  QImage Load() const {
    return QImage::fromData(Bytes.data(), static_cast<int>(Bytes.size()), "BMP");
  }
};

TBmp Reduce(const TBitmap& bitmap, platform::TPixelFormat format, TColorReduction method) {
  auto stream = BitmapToBMPStream(bitmap, format, method);
  EXPECT_EQ(stream->Position(), 0);
  return {stream->Data()};
}

std::uint32_t QuadOf(int r, int g, int b, int reserved = 0) {
  return static_cast<std::uint32_t>(b | g << 8 | r << 16 | reserved << 24);
}

} // namespace

TEST(WnColorReduce, BytesPerScanLine) {
  EXPECT_EQ(BytesPerScanLine(3, 24, 32), 12);
  EXPECT_EQ(BytesPerScanLine(1, 1, 32), 4);
  EXPECT_EQ(BytesPerScanLine(33, 1, 32), 8);
  EXPECT_EQ(BytesPerScanLine(5, 4, 8), 3);
  EXPECT_EQ(BytesPerScanLine(70000, 24, 32), 210000);
}

TEST(WnColorReduce, GrayscaleHeaderPaletteAndRowsFieldByField) {
  // Top row: white, red, green; bottom row: blue, black, (10, 20, 30).
  const QRgb colors[2][3] = {{qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(0, 255, 0)},
                             {qRgb(0, 0, 255), qRgb(0, 0, 0), qRgb(10, 20, 30)}};
  std::unique_ptr<TBitmap> bitmap(MakePicture(3, 2, [&](int x, int y) { return colors[y][x]; }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crGrayscale);
  ASSERT_EQ(bmp.Bytes.size(), 14u + 40 + 1024 + 8);
  EXPECT_EQ(bmp.Bytes[0], 'B');
  EXPECT_EQ(bmp.Bytes[1], 'M');
  EXPECT_EQ(bmp.U32(2), 1086u);    // file size
  EXPECT_EQ(bmp.U32(6), 0u);       // reserved
  EXPECT_EQ(bmp.U32(10), 1078u);   // pixels after header and 256 entries
  EXPECT_EQ(bmp.U32(14), 40u);     // info header size
  EXPECT_EQ(bmp.U32(18), 3u);      // width
  EXPECT_EQ(bmp.U32(22), 2u);      // height, bottom-up
  EXPECT_EQ(bmp.U16(26), 1u);      // planes
  EXPECT_EQ(bmp.U16(28), 8u);      // bits
  EXPECT_EQ(bmp.U32(30), 0u);      // uncompressed
  EXPECT_EQ(bmp.U32(34), 8u);      // two rows of 4 bytes
  EXPECT_EQ(bmp.U32(46), 0u);      // colours used
  EXPECT_EQ(bmp.U32(50), 0u);      // important colours
  for (int i = 0; i < 256; ++i) EXPECT_EQ(bmp.Quad(i), QuadOf(i, i, i)) << i;
  // (77 R + 150 G + 29 B) div 256; the bottom row is stored first.
  EXPECT_EQ(bmp.Pixel8(0, 0), 28);  // blue
  EXPECT_EQ(bmp.Pixel8(0, 1), 0);   // black
  EXPECT_EQ(bmp.Pixel8(0, 2), 18);  // (770 + 3000 + 870) div 256
  EXPECT_EQ(bmp.Pixel8(0, 3), 0);   // padding
  EXPECT_EQ(bmp.Pixel8(1, 0), 255); // white: 256 x 255 div 256
  EXPECT_EQ(bmp.Pixel8(1, 1), 76);  // red
  EXPECT_EQ(bmp.Pixel8(1, 2), 149); // green

  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(3, 2));
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(1, 0), qRgb(76, 76, 76));
  EXPECT_EQ(image.pixel(0, 1), qRgb(28, 28, 28));
}

TEST(WnColorReduce, PopularColorsKeepsTheMostFrequentExactly) {
  // Colour i (0..299) appears i + 1 times: 45150 pixels in 150 rows of 301.
  auto colorOf = [](int i) { return qRgb(i % 256, (i / 256) * 128, 50); };
  std::vector<int> sequence;
  for (int i = 0; i < 300; ++i) sequence.insert(sequence.end(), static_cast<std::size_t>(i + 1), i);
  ASSERT_EQ(sequence.size(), 45150u);
  std::unique_ptr<TBitmap> bitmap(MakePicture(301, 150, [&](int x, int y) {
    return colorOf(sequence[static_cast<std::size_t>(y * 301 + x)]);
  }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crPopularColors);
  EXPECT_EQ(bmp.U32(50), 0u);
  // Most frequent first.
  for (int k = 0; k < 256; ++k) {
    const QRgb c = colorOf(299 - k);
    EXPECT_EQ(bmp.Quad(k), QuadOf(qRed(c), qGreen(c), qBlue(c))) << k;
  }
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 301; ++x) {
      const int i = sequence[static_cast<std::size_t>(y * 301 + x)];
      const QRgb expected = i >= 44 ? colorOf(i) : qRgb(44, 0, 50); // nearest kept colour
      ASSERT_EQ(image.pixel(x, y), expected) << x << "," << y;
    }
}

TEST(WnColorReduce, PopularColorsUnusedEntriesAreGray) {
  std::unique_ptr<TBitmap> bitmap(MakePicture(2, 2, [](int x, int) { return x ? qRgb(1, 2, 3) : qRgb(9, 8, 7); }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crPopularColors);
  // Equal counts: the colour met first (bottom row, left) comes first.
  EXPECT_EQ(bmp.Quad(0), QuadOf(9, 8, 7));
  EXPECT_EQ(bmp.Quad(1), QuadOf(1, 2, 3));
  for (int i = 2; i < 256; ++i) EXPECT_EQ(bmp.Quad(i), QuadOf(128, 128, 128)) << i;
}

TEST(WnColorReduce, PopularColorsCoarsensBlueFirst) {
  // 4096 colours: blue 0..255 with red 0..15. Dropping the lowest blue bit
  // leaves 2048, which fit; dropping a red bit first would make red even.
  std::unique_ptr<TBitmap> bitmap(MakePicture(64, 64, [](int x, int y) {
    const int i = y * 64 + x;
    return qRgb(i / 256, 0, i % 256);
  }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crPopularColors);
  bool oddRed = false;
  for (int k = 0; k < 256; ++k) {
    EXPECT_EQ(bmp.Quad(k) & 1, 0u) << k; // blue even
    oddRed = oddRed || ((bmp.Quad(k) >> 16) & 1) != 0;
  }
  EXPECT_TRUE(oddRed);
  // All counts are 2: the first colour met, in the bottom row, leads.
  EXPECT_EQ(bmp.Quad(0), QuadOf(15, 0, 192));
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) EXPECT_EQ(qBlue(image.pixel(x, y)) & 1, 0) << x << "," << y;
}

TEST(WnColorReduce, MedianCutSingleColourIsOneBox) {
  std::unique_ptr<TBitmap> bitmap(MakePicture(4, 4, [](int, int) { return qRgb(200, 100, 50); }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crMedianCut);
  EXPECT_EQ(bmp.U32(50), 1u); // important colours: the boxes made
  // (16 x nibble + 15) per channel: nibbles 12, 6, 3.
  EXPECT_EQ(bmp.Quad(0), QuadOf(207, 111, 63));
  for (int i = 1; i < 256; ++i) EXPECT_EQ(bmp.Quad(i), 0u) << i;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bmp.Pixel8(y, x), 0);
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixel(3, 3), qRgb(207, 111, 63));
}

TEST(WnColorReduce, MedianCutVeryDarkBecomesBlack) {
  std::unique_ptr<TBitmap> dark(MakePicture(2, 1, [](int, int) { return qRgb(5, 10, 15); }));
  EXPECT_EQ(Reduce(*dark, platform::pf8bit, crMedianCut).Quad(0), 0u);
  // One nibble up is no longer dark: 31.
  std::unique_ptr<TBitmap> dim(MakePicture(2, 1, [](int, int) { return qRgb(16, 0, 0); }));
  EXPECT_EQ(Reduce(*dim, platform::pf8bit, crMedianCut).Quad(0), QuadOf(31, 15, 15));
}

TEST(WnColorReduce, MedianCutSplitsByPixelCountsAndExtents) {
  // A = black x1, B = (128, 0, 0) x1, C = red x2. Red is cut first (all
  // extents 255, red scanned first): {A, B} | {C}. Then green of {A, B}
  // (255 against red's 128): {A} | {B}.
  const QRgb row[4] = {qRgb(0, 0, 0), qRgb(128, 0, 0), qRgb(255, 0, 0), qRgb(255, 0, 0)};
  std::unique_ptr<TBitmap> bitmap(MakePicture(4, 1, [&](int x, int) { return row[x]; }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crMedianCut);
  EXPECT_EQ(bmp.U32(50), 3u);
  EXPECT_EQ(bmp.Quad(0), 0u);                       // A: (15, 15, 15) is dark
  EXPECT_EQ(bmp.Quad(1), QuadOf(255, 15, 15));      // C
  EXPECT_EQ(bmp.Quad(2), QuadOf(143, 15, 15));      // B: 16 x 8 + 15
  EXPECT_EQ(bmp.Pixel8(0, 0), 0);
  EXPECT_EQ(bmp.Pixel8(0, 1), 2);
  EXPECT_EQ(bmp.Pixel8(0, 2), 1);
  EXPECT_EQ(bmp.Pixel8(0, 3), 1);
}

TEST(WnColorReduce, MedianCutLowerPartKeepsItsFirstColour) {
  // Blue x3 sorts first on red and stays in the lower box although its
  // pixels pass half the total; red, the last entry, starts the new box.
  const QRgb row[4] = {qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(255, 0, 0)};
  std::unique_ptr<TBitmap> bitmap(MakePicture(4, 1, [&](int x, int) { return row[x]; }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crMedianCut);
  EXPECT_EQ(bmp.U32(50), 2u);
  EXPECT_EQ(bmp.Quad(0), QuadOf(15, 15, 255));
  EXPECT_EQ(bmp.Quad(1), QuadOf(255, 15, 15));
}

TEST(WnColorReduce, Palette784) {
  // (64, 18, 43): 64 and 18 lie halfway between two levels and take the
  // lower; 43 is nearer 85 than 0.
  const QRgb row[3] = {qRgb(43, 36, 85), qRgb(64, 18, 43), qRgb(255, 255, 255)};
  std::unique_ptr<TBitmap> bitmap(MakePicture(3, 1, [&](int x, int) { return row[x]; }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crPalette784);
  EXPECT_EQ(bmp.U32(50), 224u);
  EXPECT_EQ(bmp.Quad(0), QuadOf(0, 0, 0));
  EXPECT_EQ(bmp.Quad(37), QuadOf(43, 36, 85));
  EXPECT_EQ(bmp.Quad(223), QuadOf(255, 255, 255));
  for (int i = 224; i < 256; ++i) EXPECT_EQ(bmp.Quad(i), QuadOf(128, 128, 128, 128)) << i;
  EXPECT_EQ(bmp.Pixel8(0, 0), 37);
  EXPECT_EQ(bmp.Pixel8(0, 1), 33);
  EXPECT_EQ(bmp.Pixel8(0, 2), 223);
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixel(1, 0), qRgb(43, 0, 85));
}

TEST(WnColorReduce, Palette666SnapsEveryPixelToTheCube) {
  // Odd width, so the rows carry padding.
  std::unique_ptr<TBitmap> bitmap(MakePicture(7, 5, [](int x, int y) {
    return qRgb(x * 37, y * 60, (x * y * 13) % 256);
  }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crPalette666);
  EXPECT_EQ(bmp.U32(50), 216u);
  EXPECT_EQ(bmp.Quad(215), QuadOf(255, 255, 255));
  EXPECT_EQ(bmp.Quad(216), QuadOf(128, 128, 128, 128));
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  auto snap = [](int v) { return (v * 2 + 51) / 102 * 51; }; // ties (25.5 apart) go down
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const QRgb c = bitmap->ToImage().pixel(x, y);
      EXPECT_EQ(image.pixel(x, y), qRgb(snap(qRed(c)), snap(qGreen(c)), snap(qBlue(c)))) << x << "," << y;
    }
  // 25 stays at 0, 26 goes to 51.
  std::unique_ptr<TBitmap> edge(MakePicture(2, 1, [](int x, int) { return x ? qRgb(26, 26, 26) : qRgb(25, 25, 25); }));
  const TBmp e = Reduce(*edge, platform::pf8bit, crPalette666);
  EXPECT_EQ(e.Pixel8(0, 0), 0);
  EXPECT_EQ(e.Pixel8(0, 1), 43);
}

TEST(WnColorReduce, ChannelPatternCountsRowsFromTheBottom) {
  std::unique_ptr<TBitmap> bitmap(MakePicture(3, 2, [](int, int) { return qRgb(200, 100, 40); }));
  const TBmp bmp = Reduce(*bitmap, platform::pf8bit, crChannelPattern);
  EXPECT_EQ(bmp.U32(50), 0u);
  EXPECT_EQ(bmp.Pixel8(0, 0), 50);  // red 200 div 4
  EXPECT_EQ(bmp.Pixel8(0, 1), 89);  // 64 + 100 div 4
  EXPECT_EQ(bmp.Pixel8(0, 2), 138); // 128 + 40 div 4
  EXPECT_EQ(bmp.Pixel8(1, 0), 89);
  EXPECT_EQ(bmp.Pixel8(1, 1), 138);
  EXPECT_EQ(bmp.Pixel8(1, 2), 50);
  EXPECT_EQ(bmp.Quad(63), QuadOf(252, 0, 0));
  EXPECT_EQ(bmp.Quad(64 + 25), QuadOf(0, 100, 0));
  EXPECT_EQ(bmp.Quad(128 + 10), QuadOf(0, 0, 40));
  for (int i = 192; i < 256; ++i) EXPECT_EQ(bmp.Quad(i), 0u) << i;
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixel(0, 1), qRgb(200, 0, 0)); // bottom-left
  EXPECT_EQ(image.pixel(0, 0), qRgb(0, 100, 0)); // top-left
}

TEST(WnColorReduce, OwnFormatIsStoredAsItStands) {
  TBitmap bitmap(5, 3, platform::pf8bit);
  std::vector<platform::TPaletteEntry> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i / 2), 7, 0};
  bitmap.SetPaletteEntries(0, 256, palette.data());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) bitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(y * 40 + x);
  const TBmp own = Reduce(bitmap, platform::pf8bit, crPopularColors);
  EXPECT_EQ(own.U32(2), 14u + 40 + 1024 + 24);
  EXPECT_EQ(own.U32(50), 0u);
  EXPECT_EQ(own.Quad(3), QuadOf(252, 1, 7));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(own.Pixel8(2 - y, x), y * 40 + x);
  const QImage image = own.Load();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixel(4, 2), qRgb(255 - 84, 42, 7));

  // Gray is always computed, even for the bitmap's own format.
  const TBmp gray = Reduce(bitmap, platform::pf8bit, crGrayscale);
  EXPECT_EQ(gray.Quad(3), QuadOf(3, 3, 3));

  std::unique_ptr<TBitmap> color(MakePicture(2, 2, [](int x, int y) { return qRgb(x * 100, y * 100, 33); }));
  const TBmp same = Reduce(*color, platform::pf24bit, crMedianCut);
  EXPECT_EQ(same.U16(28), 24u);
  EXPECT_EQ(same.U32(10), 54u);
  EXPECT_EQ(same.U32(34), 16u);
  EXPECT_EQ(same.Load().pixel(1, 1), qRgb(100, 100, 33));
  // Stored bottom row first, blue, green, red.
  EXPECT_EQ(same.Bytes[54], 33);
  EXPECT_EQ(same.Bytes[55], 100);
  EXPECT_EQ(same.Bytes[56], 0);
}

TEST(WnColorReduce, OneAndFourBitsTakeTheNearestStandardColours) {
  const QRgb row[4] = {qRgb(250, 250, 250), qRgb(10, 10, 10), qRgb(240, 10, 10), qRgb(0, 0, 200)};
  std::unique_ptr<TBitmap> bitmap(MakePicture(4, 1, [&](int x, int) { return row[x]; }));
  const TBmp mono = Reduce(*bitmap, platform::pf1bit, crPopularColors);
  EXPECT_EQ(mono.U16(28), 1u);
  EXPECT_EQ(mono.U32(10), 14u + 40 + 8);
  EXPECT_EQ(mono.U32(2), 14u + 40 + 8 + 4);
  EXPECT_EQ(mono.Quad(0), QuadOf(0, 0, 0));
  EXPECT_EQ(mono.Quad(1), QuadOf(255, 255, 255));
  EXPECT_EQ(mono.Bytes[62], 0x80); // only the first pixel is white

  const TBmp four = Reduce(*bitmap, platform::pf4bit, crPopularColors);
  EXPECT_EQ(four.U16(28), 4u);
  EXPECT_EQ(four.U32(10), 14u + 40 + 64);
  EXPECT_EQ(four.Quad(9), QuadOf(255, 0, 0));
  EXPECT_EQ(four.Bytes[118], 0xF0); // white, black
  EXPECT_EQ(four.Bytes[119], 0x9C); // red, blue
  const QImage image = four.Load();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixel(2, 0), qRgb(255, 0, 0));
  EXPECT_EQ(image.pixel(3, 0), qRgb(0, 0, 255));
}

TEST(WnColorReduce, SixteenBitPicturesKeepTheirMasks) {
  TBitmap bitmap(3, 1, platform::pf16bit);
  auto* p = reinterpret_cast<std::uint16_t*>(bitmap.ScanLine(0));
  p[0] = 0xF800;
  p[1] = 0x07E0;
  p[2] = 0x001F;
  const TBmp bmp = Reduce(bitmap, platform::pf16bit, crPopularColors);
  EXPECT_EQ(bmp.U16(28), 16u);
  EXPECT_EQ(bmp.U32(30), 3u); // bit fields
  EXPECT_EQ(bmp.U32(10), 14u + 40 + 12);
  EXPECT_EQ(bmp.U32(54), 0xF800u);
  EXPECT_EQ(bmp.U32(58), 0x07E0u);
  EXPECT_EQ(bmp.U32(62), 0x001Fu);
  const QImage image = bmp.Load();
  ASSERT_FALSE(image.isNull());
  // The reader widens five bits without repeating them.
  EXPECT_EQ(image.pixel(0, 0), qRgb(248, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), qRgb(0, 252, 0));
  EXPECT_EQ(image.pixel(2, 0), qRgb(0, 0, 248));
}

TEST(WnColorReduce, FormatByColours) {
  std::unique_ptr<TBitmap> bitmap(MakePicture(2, 2, [](int x, int) { return qRgb(x * 255, 0, 0); }));
  EXPECT_EQ(TBmp{BitmapToBMPStreamByColors(*bitmap, 2)->Data()}.U16(28), 1u);
  EXPECT_EQ(TBmp{BitmapToBMPStreamByColors(*bitmap, 16)->Data()}.U16(28), 4u);
  EXPECT_EQ(TBmp{BitmapToBMPStreamByColors(*bitmap, 17)->Data()}.U16(28), 8u);
  EXPECT_EQ(TBmp{BitmapToBMPStreamByColors(*bitmap, 256)->Data()}.U16(28), 8u);
  EXPECT_EQ(TBmp{BitmapToBMPStreamByColors(*bitmap, 257)->Data()}.U16(28), 24u);
  // A gray bitmap asked for 24 bits gets its picture at 24 bits.
  TBitmap gray(2, 1, platform::pf8bit);
  gray.ScanLine(0)[1] = 200;
  const TBmp wide{BitmapToBMPStreamByColors(gray, 1000)->Data()};
  EXPECT_EQ(wide.U16(28), 24u);
  EXPECT_EQ(wide.Load().pixel(1, 0), qRgb(200, 200, 200));
}

TEST(WnColorReduce, RefusedInputs) {
  TBitmap empty;
  EXPECT_THROW(BitmapToBMPStream(empty, platform::pf8bit, crPopularColors), platform::EInvalidGraphic);
  platform::TBitmapInfoHeader header;
  EXPECT_THROW(InitBitmapInfoHeader(empty, header, platform::pf8bit), platform::EInvalidGraphic);
  std::unique_ptr<TBitmap> bitmap(MakePicture(2, 2, [](int, int) { return qRgb(1, 2, 3); }));
  EXPECT_THROW(BitmapToBMPStream(*bitmap, platform::pf15bit, crPopularColors), platform::EAbort);
  EXPECT_THROW(BitmapToBMPStream(*bitmap, platform::pf32bit, crMedianCut), platform::EAbort);
}

TEST(WnColorReduce, OtherFormatsAreReducedThroughTheirColours) {
  // A 32-bit bitmap goes through its 24-bit form first.
  TBitmap wide(2, 1, platform::pf32bit);
  auto* p = reinterpret_cast<QRgb*>(wide.ScanLine(0));
  p[0] = qRgb(255, 255, 255);
  p[1] = qRgb(0, 255, 0);
  const TBmp gray = Reduce(wide, platform::pf8bit, crGrayscale);
  EXPECT_EQ(gray.Pixel8(0, 0), 255);
  EXPECT_EQ(gray.Pixel8(0, 1), 149);

  // A 1-bit bitmap asked for 8 bits by median cut: black and white boxes.
  TBitmap mono(9, 1, platform::pf1bit);
  mono.ScanLine(0)[0] = 0x80; // first pixel white
  const TBmp cut = Reduce(mono, platform::pf8bit, crMedianCut);
  EXPECT_EQ(cut.U32(50), 2u);
  EXPECT_EQ(cut.Quad(0), 0u);
  EXPECT_EQ(cut.Quad(1), QuadOf(255, 255, 255));
  EXPECT_EQ(cut.Pixel8(0, 0), 1);
  EXPECT_EQ(cut.Pixel8(0, 8), 0);
}
