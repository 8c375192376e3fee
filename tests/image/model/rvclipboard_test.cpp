#include "image/model/rvclipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/model/rastrumproc.h"

using namespace rv;

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& V, std::size_t At) {
  std::uint32_t r;
  std::memcpy(&r, V.data() + At, 4);
  return r;
}
std::uint16_t U16(const std::vector<std::uint8_t>& V, std::size_t At) {
  std::uint16_t r;
  std::memcpy(&r, V.data() + At, 2);
  return r;
}

// 3 x 2, pixel (x, y) = bytes (10y + 3x + 1, + 2, + 3); padding bytes 0xAB.
void Fill3x2(platform::TBitmap& b) {
  b.SetPixelFormat(platform::pf24bit);
  b.SetSize(3, 2);
  for (int y = 0; y < 2; ++y) {
    std::uint8_t* row = b.ScanLine(y);
    for (int i = 0; i < 9; ++i) row[i] = static_cast<std::uint8_t>(10 * y + i + 1);
    for (int i = 9; i < b.ScanLineSize(); ++i) row[i] = 0xAB;
  }
}

} // namespace

// --- building packed DIBs ---------------------------------------------------

TEST(RvClipboard, TrueColourDIBLayout) {
  platform::TBitmap b;
  Fill3x2(b);
  const auto dib = RvTBitmapToDIB(&b);
  ASSERT_EQ(dib.size(), 40u + 2 * 12);
  EXPECT_EQ(U32(dib, 0), 40u);  // header size
  EXPECT_EQ(U32(dib, 4), 3u);   // width
  EXPECT_EQ(U32(dib, 8), 2u);   // height, positive: bottom-up
  EXPECT_EQ(U16(dib, 12), 1u);  // planes
  EXPECT_EQ(U16(dib, 14), 24u); // bits per pixel
  for (std::size_t at = 16; at < 40; at += 4) EXPECT_EQ(U32(dib, at), 0u) << at;
  // Bottom row first: 9 pixel bytes, then 3 zero padding bytes.
  const std::vector<std::uint8_t> rows(dib.begin() + 40, dib.end());
  EXPECT_EQ(rows, (std::vector<std::uint8_t>{11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0,
                                             1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
}

TEST(RvClipboard, SubRectangleStopsAtTheRowEnd) {
  platform::TBitmap b;
  Fill3x2(b);
  // Columns 1..2 of the top row only: 6 bytes and 2 zero padding bytes,
  // nothing of the source row's padding.
  const auto dib = RvTBitmapToDIB(&b, 1, 0, 3, 1);
  ASSERT_EQ(dib.size(), 40u + 8);
  EXPECT_EQ(U32(dib, 4), 2u);
  EXPECT_EQ(U32(dib, 8), 1u);
  EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 40, dib.end()),
            (std::vector<std::uint8_t>{4, 5, 6, 7, 8, 9, 0, 0}));
  // A rectangle reaching beyond the picture is cut to it.
  const auto cut = RvTBitmapToDIB(&b, 2, 1, 50, 50);
  ASSERT_EQ(cut.size(), 40u + 4);
  EXPECT_EQ(std::vector<std::uint8_t>(cut.begin() + 40, cut.end()),
            (std::vector<std::uint8_t>{17, 18, 19, 0}));
  EXPECT_TRUE(RvTBitmapToDIB(&b, 3, 0, 3, 2).empty());
}

TEST(RvClipboard, MonochromeDIBLayout) {
  platform::TBitmap b(10, 1, platform::pf1bit);
  std::uint8_t* row = b.ScanLine(0);
  row[0] = 0x81; // pixels 0 and 7
  row[1] = 0xFF; // pixels 8, 9 and six padding bits
  row[2] = row[3] = 0xFF;
  const auto dib = RvTBitmapToDIB(&b);
  ASSERT_EQ(dib.size(), 40u + 8 + 4);
  EXPECT_EQ(U16(dib, 14), 1u);
  EXPECT_EQ(U32(dib, 40), 0x00000000u); // black
  EXPECT_EQ(U32(dib, 44), 0xFFFFFFFFu); // white
  EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 48, dib.end()),
            (std::vector<std::uint8_t>{0x81, 0xC0, 0, 0}));

  // From pixel 8 on: source pixel 8 lands on bit 7.
  const auto tail = RvTBitmapToDIB(&b, 8, 0, 0, 0);
  ASSERT_EQ(tail.size(), 40u + 8 + 4);
  EXPECT_EQ(U32(tail, 4), 2u);
  EXPECT_EQ(tail[48], 0xC0);
  EXPECT_EQ(tail[49], 0);
}

TEST(RvClipboard, OtherDepthsGoOutAsTrueColour) {
  platform::TBitmap b(2, 1, platform::pf32bit);
  b.Canvas().SetPixels(0, 0, platform::TColor(0x0000FF)); // red
  const auto dib = RvTBitmapToDIB(&b);
  ASSERT_EQ(dib.size(), 40u + 8);
  EXPECT_EQ(U16(dib, 14), 24u);
  EXPECT_EQ(dib[42], 255); // third byte of the first pixel: red
}

// --- the clipboard ----------------------------------------------------------

TEST(RvClipboard, ComponentPutsPictureAndDIBOnTheClipboard) {
  platform::TBitmap b;
  Fill3x2(b);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.CopyToClipboard();
  EXPECT_EQ(proc.UndoCount(), 0);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  ASSERT_TRUE(data->hasFormat("image/bmp"));
  const QByteArray bytes = data->data("image/bmp");
  const auto expected = RvTBitmapToDIB(&b);
  ASSERT_EQ(static_cast<std::size_t>(bytes.size()), expected.size());
  EXPECT_EQ(std::memcmp(bytes.constData(), expected.data(), expected.size()), 0);
  ASSERT_TRUE(data->hasImage());
  const QImage image = qvariant_cast<QImage>(data->imageData());
  ASSERT_EQ(image.size(), QSize(3, 2));
  // Pixel (1, 1) is stored blue 14, green 15, red 16.
  EXPECT_EQ(image.pixel(1, 1) & 0xFFFFFF, 0x100F0Eu);
}

TEST(RvClipboard, NoTargetLeavesTheClipboardAlone) {
  QGuiApplication::clipboard()->setText("kept");
  TRastrumProc proc;
  proc.CopyToClipboard();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
}

// --- reading packed DIBs ----------------------------------------------------

TEST(RvClipboard, DIBRoundTripsThroughTheDIBBitmap) {
  platform::TBitmap b;
  Fill3x2(b);
  const auto dib = RvTBitmapToDIB(&b);
  TRvDibbitmap out;
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size(), &out), 24);
  ASSERT_EQ(out.Width(), 3);
  ASSERT_EQ(out.Height(), 2);
  for (int y = 0; y < 2; ++y) EXPECT_EQ(std::memcmp(out.Scanline(y), b.ScanLine(y), 9), 0);
  // One byte short of its rows: refused.
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size() - 1, &out), 0);
}

TEST(RvClipboard, EightBitDIBFindsPixelsAfterAFullPalette) {
  std::vector<std::uint8_t> dib(40 + 1024 + 4, 0);
  platform::TBitmapInfoHeader h;
  h.biWidth = 2;
  h.biHeight = 1;
  h.biBitCount = 8; // colours used 0: 256 entries
  std::memcpy(dib.data(), &h, sizeof h);
  const std::uint8_t entry7[4] = {1, 2, 3, 0}, entry9[4] = {4, 5, 6, 0};
  std::memcpy(dib.data() + 40 + 4 * 7, entry7, 4);
  std::memcpy(dib.data() + 40 + 4 * 9, entry9, 4);
  dib[40 + 1024] = 9;
  dib[40 + 1024 + 1] = 7;
  TRvDibbitmap out;
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size(), &out), 8);
  EXPECT_EQ(out.BitCount(), 24);
  EXPECT_EQ(std::vector<int>(out.Scanline(0), out.Scanline(0) + 6),
            (std::vector<int>{4, 5, 6, 1, 2, 3}));
}

TEST(RvClipboard, SixteenBitAndMonochromeDIBs) {
  std::vector<std::uint8_t> dib(40 + 4, 0);
  platform::TBitmapInfoHeader h;
  h.biWidth = 2;
  h.biHeight = 1;
  h.biBitCount = 16;
  std::memcpy(dib.data(), &h, sizeof h);
  const std::uint16_t px[2] = {0x7C00, 0x001F}; // 5-5-5: red, blue
  std::memcpy(dib.data() + 40, px, 4);
  TRvDibbitmap out;
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size(), &out), 16);
  EXPECT_EQ(std::vector<int>(out.Scanline(0), out.Scanline(0) + 6),
            (std::vector<int>{0, 0, 255, 255, 0, 0}));

  platform::TBitmap mono(10, 2, platform::pf1bit);
  mono.ScanLine(0)[0] = 0x80;
  mono.ScanLine(1)[1] = 0x40;
  const auto monoDib = RvTBitmapToDIB(&mono);
  EXPECT_EQ(RvDIBToBitmap(monoDib.data(), monoDib.size(), &out), 1);
  ASSERT_EQ(out.BitCount(), 1);
  EXPECT_EQ(out.Scanline(0)[0], 0x80);
  EXPECT_EQ(out.Scanline(1)[1] & 0xC0, 0x40);
}

TEST(RvClipboard, UnknownLayoutsDrawNothing) {
  std::vector<std::uint8_t> dib(40 + 64, 0);
  platform::TBitmapInfoHeader h;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biBitCount = 8;
  h.biCompression = 1; // run-length
  std::memcpy(dib.data(), &h, sizeof h);
  TRvDibbitmap out;
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size(), &out), 8);
  EXPECT_EQ(out.Width(), 0);
  h.biCompression = 0;
  h.biClrUsed = 100000; // more entries than 8 bits index: 256 believed, too long here
  std::memcpy(dib.data(), &h, sizeof h);
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size(), &out), 0);
  EXPECT_EQ(RvDIBToBitmap(dib.data(), 20, &out), 0);
  // Header sizes whose product does not fit 64 bits.
  h.biClrUsed = 0;
  h.biBitCount = 32;
  h.biWidth = 0x7FFFFFFF;
  h.biHeight = -0x7FFFFFFF;
  std::memcpy(dib.data(), &h, sizeof h);
  EXPECT_EQ(RvDIBToBitmap(dib.data(), dib.size(), &out), 0);
  EXPECT_EQ(out.Width(), 0);
}

TEST(RvClipboard, SameBitmapPixels) {
  platform::TBitmap a, b;
  Fill3x2(a);
  Fill3x2(b);
  EXPECT_TRUE(RvSameBitmapPixels(&a, &b));
  b.ScanLine(1)[4] ^= 1;
  EXPECT_FALSE(RvSameBitmapPixels(&a, &b));
  platform::TBitmap wide(4, 2, platform::pf24bit), tall(2, 4, platform::pf24bit);
  // Equal (zero) pixels, different sizes.
  EXPECT_FALSE(RvSameBitmapPixels(&wide, &tall));
  platform::TBitmap gray(3, 2, platform::pf8bit);
  EXPECT_FALSE(RvSameBitmapPixels(&a, &gray));
}
