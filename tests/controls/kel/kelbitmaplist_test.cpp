#include "controls/kel/kelbitmaplist.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace kel;
using platform::TBitmap;
using platform::TBytesStream;
using platform::TMemoryStream;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Add16(Bytes& b, std::uint32_t v) {
  b.push_back(std::uint8_t(v));
  b.push_back(std::uint8_t(v >> 8));
}
void Add32(Bytes& b, std::uint32_t v) {
  Add16(b, v);
  Add16(b, v >> 16);
}

// A 21 x 18 8-bit BMP file image as the toggle glyphs carry it, with
// colorsUsed palette entries (0 = all 256); pixel (x, y) has index (x + 2y) % 15.
Bytes MakeBmp8(std::uint32_t colorsUsed) {
  const std::uint32_t entries = colorsUsed == 0 ? 256 : colorsUsed;
  const std::uint32_t rowSize = 24; // 21 bytes padded to 4
  const std::uint32_t offBits = 14 + 40 + 4 * entries;
  Bytes b;
  b.push_back('B'); // signature
  b.push_back('M');
  Add32(b, offBits + rowSize * 18); // file size
  Add32(b, 0);                      // two reserved words
  Add32(b, offBits);                // offset of the pixel rows
  Add32(b, 40);                     // info header size
  Add32(b, 21);                     // width
  Add32(b, 18);                     // height, positive: bottom row first
  Add16(b, 1);                      // planes
  Add16(b, 8);                      // bits per pixel
  Add32(b, 0);                      // no compression
  Add32(b, rowSize * 18);           // image size
  Add32(b, 3780);                   // horizontal resolution
  Add32(b, 3780);                   // vertical resolution
  Add32(b, colorsUsed);             // colours used
  Add32(b, 0);                      // colours important
  for (std::uint32_t i = 0; i < entries; ++i) {
    b.push_back(std::uint8_t(i * 7)); // blue
    b.push_back(std::uint8_t(255 - i)); // green
    b.push_back(std::uint8_t(i / 2)); // red
    b.push_back(0);
  }
  for (int row = 17; row >= 0; --row) {
    for (int x = 0; x < 21; ++x) b.push_back(std::uint8_t((x + 2 * row) % 15));
    for (int pad = 21; pad < 24; ++pad) b.push_back(0);
  }
  return b;
}

// The stored item: flags, the ident when given, the uncompressed image block.
Bytes MakeToggleItem(std::uint32_t colorsUsed, std::uint16_t ident) {
  const Bytes bmp = MakeBmp8(colorsUsed);
  Bytes b;
  b.push_back(ident != 0 ? 0x0C : 0x08); // flags: image (8), ident (4)
  if (ident != 0) Add32(b, ident);       // ident, 32 bits
  Add32(b, std::uint32_t(bmp.size()));   // L
  b.insert(b.end(), bmp.begin(), bmp.end());
  return b;
}

Bytes Write(const TKelListItem& item) {
  TMemoryStream s;
  item.WriteData(s);
  return s.Data();
}

void Read(TKelListItem& item, const Bytes& b) {
  TBytesStream s(b.data(), std::int64_t(b.size()));
  item.ReadData(s);
}

QImage Pixels(const TBitmap& b) { return b.ToImage().convertToFormat(QImage::Format_RGB32); }

TBitmap& Fill24(TBitmap& b, int w, int h) {
  b.SetPixelFormat(platform::pf24bit);
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = b.ScanLine(y) + 3 * x;
      p[0] = std::uint8_t(x * 9);
      p[1] = std::uint8_t(y * 13);
      p[2] = std::uint8_t((x ^ y) * 5);
    }
  return b;
}

// ---------------------------------------------------------------- block framing

TEST(KelFramingTest, EmptyInputWritesZeroTotal) {
  TBytesStream source(nullptr, 0);
  TMemoryStream target;
  KelCompressToStream(source, target, 0);
  EXPECT_EQ(target.Data(), (Bytes{0, 0, 0, 0}));
  target.SetPosition(0);
  TMemoryStream out;
  KelDecompressFromStream(target, out);
  EXPECT_EQ(out.Size(), 0);
}

TEST(KelFramingTest, SixteenEqualBytesAreOneRun) {
  const Bytes input(16, 0xAB);
  TBytesStream source(input.data(), 16);
  TMemoryStream target;
  KelCompressToStream(source, target, 16);
  // total 11 = 4 + 7; block length 7; method, control word 0x8000, run of 16.
  EXPECT_EQ(target.Data(), (Bytes{11, 0, 0, 0, 7, 0, 0, 0, 0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 0xAB}));
}

TEST(KelFramingTest, LongInputSplitsIntoBlocksAndComesBack) {
  Bytes input(40000);
  std::uint32_t seed = 1;
  for (auto& v : input) v = std::uint8_t((seed = seed * 1103515245 + 12345) >> 24);
  TBytesStream source(input.data(), std::int64_t(input.size()));
  TMemoryStream target;
  KelCompressToStream(source, target, std::int64_t(input.size()));
  // Incompressible: two stored blocks of 32781 + 1 and 7219 + 1 bytes.
  const Bytes& t = target.Data();
  ASSERT_EQ(t.size(), 4u + 4 + 32782 + 4 + 7220);
  EXPECT_EQ(t[4] | t[5] << 8, 32782);
  EXPECT_EQ(t[8], 0x80);
  target.SetPosition(0);
  TMemoryStream out;
  KelDecompressFromStream(target, out);
  EXPECT_EQ(out.Data(), input);
}

TEST(KelFramingTest, DamagedFramesRaise) {
  TMemoryStream out;
  // Block length 7 beyond a total of 8 (4 + 7 = 11 would be needed).
  const Bytes beyond{8, 0, 0, 0, 7, 0, 0, 0, 0x80, 1, 2, 3, 4, 5, 6};
  TBytesStream a(beyond.data(), std::int64_t(beyond.size()));
  EXPECT_THROW(KelDecompressFromStream(a, out), EKelContainerError);
  // A total that leaves less than a block length.
  const Bytes shortTotal{2, 0, 0, 0, 0, 0};
  TBytesStream b(shortTotal.data(), std::int64_t(shortTotal.size()));
  EXPECT_THROW(KelDecompressFromStream(b, out), EKelContainerError);
  // Block bytes cut short.
  const Bytes cut{11, 0, 0, 0, 7, 0, 0, 0, 0x80, 1};
  TBytesStream c(cut.data(), std::int64_t(cut.size()));
  EXPECT_THROW(KelDecompressFromStream(c, out), platform::EStreamError);
}

// ---------------------------------------------------------------- stored items

TEST(KelBitmapItemTest, ToggleGlyphsLoadAndWriteBackIdentically) {
  const struct {
    std::uint32_t colorsUsed;
    std::uint16_t ident;
    std::size_t length;
  } glyphs[] = {{238, 2, 1438}, {0, 3, 1510}, {238, 1, 1438}, {0, 0, 1510}};
  for (const auto& g : glyphs) {
    const Bytes stored = MakeToggleItem(g.colorsUsed, g.ident);
    ASSERT_EQ(MakeBmp8(g.colorsUsed).size(), g.length);
    TKelBitmapListItem item;
    Read(item, stored);
    EXPECT_EQ(item.Ident(), g.ident);
    EXPECT_EQ(item.PixelFormat(), spfDefault);
    EXPECT_FALSE(item.Compressed());
    ASSERT_EQ(item.Bitmap().Width(), 21);
    ASSERT_EQ(item.Bitmap().Height(), 18);
    EXPECT_EQ(item.Bitmap().PixelFormat(), platform::pf8bit);
    // Pixel (4, 3): index 10 -> blue 70, green 245, red 5; top row first.
    EXPECT_EQ(Pixels(item.Bitmap()).pixel(4, 3), qRgb(5, 245, 70));
    EXPECT_EQ(Write(item), stored);
  }
}

TEST(KelBitmapItemTest, RunLengthImageLoadsAndWritesBack) {
  Bytes bmp{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 70, 0, 0, 0}; // size patched below; bits at 70
  Add32(bmp, 40); // info header
  Add32(bmp, 4);  // width
  Add32(bmp, 2);  // height
  Add16(bmp, 1);  // planes
  Add16(bmp, 8);  // bits
  Add32(bmp, 1);  // run-length coded, 8 bits
  Add32(bmp, 12); // image size
  Add32(bmp, 0);
  Add32(bmp, 0);
  Add32(bmp, 4);  // four colours
  Add32(bmp, 0);
  for (int i = 0; i < 4; ++i) bmp.insert(bmp.end(), {std::uint8_t(i * 60), 0, 0, 0});
  // Bottom row: 4 x index 1; top row: 2 x 2, 2 x 3; end of line, end of bitmap.
  bmp.insert(bmp.end(), {4, 1, 0, 0, 2, 2, 2, 3, 0, 0, 0, 1});
  bmp[2] = std::uint8_t(bmp.size());
  Bytes stored{0x08};
  Add32(stored, std::uint32_t(bmp.size()));
  stored.insert(stored.end(), bmp.begin(), bmp.end());
  TKelBitmapListItem item;
  Read(item, stored);
  ASSERT_EQ(item.Bitmap().Width(), 4);
  EXPECT_EQ(Pixels(item.Bitmap()).pixel(0, 1), qRgb(0, 0, 60));
  EXPECT_EQ(Pixels(item.Bitmap()).pixel(3, 0), qRgb(0, 0, 180));
  EXPECT_EQ(Write(item), stored);
}

TEST(KelBitmapItemTest, ChangedPixelsAreWrittenFresh) {
  TKelBitmapListItem item;
  Read(item, MakeToggleItem(238, 2));
  item.Bitmap().ScanLine(0)[0] = 14;
  const Bytes written = Write(item);
  // The bitmap saves itself: a full 256-entry palette.
  EXPECT_EQ(written.size(), 1u + 4 + 4 + 1510);
  TKelBitmapListItem again;
  Read(again, written);
  EXPECT_EQ(Pixels(again.Bitmap()), Pixels(item.Bitmap()));
}

TEST(KelBitmapItemTest, EmptyBitmapWritesOnlyTheHeader) {
  TKelBitmapListItem item;
  EXPECT_EQ(Write(item), Bytes{0x00});
  item.SetDescription("ab");
  item.SetIdent(0x1234);
  item.SetCompressed(true);
  // compressed (1) | description (2) | ident (4); "ab"; ident 32 bits.
  const Bytes expected{0x07, 2, 'a', 'b', 0x34, 0x12, 0, 0};
  EXPECT_EQ(Write(item), expected);
  TKelBitmapListItem back;
  Read(back, expected);
  EXPECT_EQ(back.Description(), "ab");
  EXPECT_EQ(back.Ident(), 0x1234);
  EXPECT_TRUE(back.Bitmap().Empty());
}

TEST(KelBitmapItemTest, IdentKeepsLowSixteenBitsAndFormatFollowsPrecedence) {
  TKelBitmapListItem item;
  Read(item, Bytes{0x74, 0x01, 0x00, 0x05, 0x00}); // ident 0x00050001; bits 4, 5 and 6
  EXPECT_EQ(item.Ident(), 1);
  EXPECT_EQ(item.PixelFormat(), spfMono);
  Read(item, Bytes{0x60});
  EXPECT_EQ(item.PixelFormat(), spf4bit);
  Read(item, Bytes{0x40});
  EXPECT_EQ(item.PixelFormat(), spf8bit);
  Read(item, Bytes{0x00});
  EXPECT_EQ(item.PixelFormat(), spfDefault);
  EXPECT_EQ(item.Ident(), 0);
}

TEST(KelBitmapItemTest, DescriptionLimits) {
  TKelBitmapListItem item;
  item.SetDescription(std::string(255, 'd'));
  TKelBitmapListItem back;
  Read(back, Write(item));
  EXPECT_EQ(back.Description(), std::string(255, 'd'));
  // Longer text cannot be stored whole; it is cut at 255 bytes, and never
  // inside a character ("é" is two bytes).
  item.SetDescription(std::string(300, 'x'));
  EXPECT_EQ(item.Description().size(), 255u);
  item.SetDescription(std::string(254, 'x') + "\xC3\xA9");
  EXPECT_EQ(item.Description(), std::string(254, 'x'));
}

TEST(KelBitmapItemTest, FormatsRoundTripPixelForPixel) {
  for (bool compressed : {false, true}) {
    for (platform::TPixelFormat format : {platform::pf1bit, platform::pf4bit, platform::pf8bit,
                                          platform::pf24bit, platform::pf32bit}) {
      TKelBitmapListItem item;
      Fill24(item.Bitmap(), 13, 7);
      item.Bitmap().SetPixelFormat(format);
      item.SetCompressed(compressed);
      item.SetIdent(9);
      const Bytes written = Write(item);
      EXPECT_EQ(written[0], compressed ? 0x0D : 0x0C);
      TKelBitmapListItem back;
      Read(back, written);
      EXPECT_EQ(back.Bitmap().PixelFormat(), format == platform::pf32bit ? platform::pf32bit : format);
      EXPECT_EQ(Pixels(back.Bitmap()), Pixels(item.Bitmap())) << format << " " << compressed;
      EXPECT_EQ(Write(back), written);
    }
  }
}

TEST(KelBitmapItemTest, ReducedImageLayout) {
  TKelBitmapListItem item;
  Fill24(item.Bitmap(), 21, 18);
  item.SetPixelFormat(spfMono);
  const Bytes w = Write(item);
  ASSERT_GE(w.size(), 5u + 54);
  EXPECT_EQ(w[0], 0x18); // image, mono
  // L = 14 + 40 + 4 x 2 + (21 bits -> 4 bytes) x 18 = 134.
  const std::uint32_t length = w[1] | w[2] << 8 | w[3] << 16 | std::uint32_t(w[4]) << 24;
  EXPECT_EQ(length, 134u);
  EXPECT_EQ(w.size(), 5u + 134);
  EXPECT_EQ(w[5 + 10], 62);  // offset of the bits: 14 + 40 + 8
  EXPECT_EQ(w[5 + 28], 1);   // bits per pixel
  EXPECT_EQ(w[5 + 34], 72);  // image size
  for (auto [format, bits, size] : {std::tuple{spf4bit, 4, 14 + 40 + 64 + 12 * 18},
                                    std::tuple{spf8bit, 8, 14 + 40 + 1024 + 24 * 18}}) {
    item.SetPixelFormat(format);
    const Bytes r = Write(item);
    EXPECT_EQ(r.size(), 5u + std::size_t(size));
    EXPECT_EQ(r[5 + 28], bits);
    TKelBitmapListItem back;
    Read(back, r);
    EXPECT_EQ(back.PixelFormat(), format);
    EXPECT_EQ(back.Bitmap().Width(), 21);
  }
  EXPECT_THROW(KelBitmapToBmpImage(TBitmap(), 2), EKelException);
}

TEST(KelBitmapItemTest, DamagedAndTruncatedItemsRaise) {
  const Bytes stored = MakeToggleItem(238, 2);
  for (std::size_t n = 0; n < stored.size(); n += (n < 80 ? 1 : 97)) {
    TKelBitmapListItem item;
    const Bytes cut(stored.begin(), stored.begin() + std::ptrdiff_t(n));
    EXPECT_ANY_THROW(Read(item, cut)) << n;
  }
  // A length far beyond the data is refused before any memory is taken.
  TKelBitmapListItem item;
  EXPECT_THROW(Read(item, Bytes{0x08, 0xFF, 0xFF, 0xFF, 0x7F, 'B', 'M'}), platform::EStreamError);
  // Rows missing: the height says 1000.
  Bytes tall = stored;
  tall[5 + 4 + 22] = 0xE8;
  tall[5 + 4 + 23] = 0x03;
  EXPECT_THROW(Read(item, tall), platform::EInvalidGraphic);
  // A layout left to Qt's reader is held to its data as well: 16 bits and a
  // width of 0x40000015 pixels.
  Bytes wide = stored;
  wide[9 + 28] = 16;
  wide[9 + 21] = 0x40;
  EXPECT_THROW(Read(item, wide), platform::EInvalidGraphic);
  // Not a BMP at all.
  Bytes junk = stored;
  junk[9] = 'X';
  EXPECT_THROW(Read(item, junk), platform::EInvalidGraphic);
  // A compressed block whose expansion runs past a block.
  EXPECT_ANY_THROW(Read(item, Bytes{0x09, 8, 0, 0, 0, 4, 0, 0, 0, 0x40, 0x80, 0x00, 0x00}));
}

// ---------------------------------------------------------------- filer and containers

TEST(KelFilerTest, InternalPropertyLayout) {
  TKelBitmapListItem item;
  item.SetIdent(5);
  TMemoryStream s;
  item.WriteProperties(s);
  // name "Internal", binary value, length 5, flags and ident.
  const Bytes expected{8, 'I', 'n', 't', 'e', 'r', 'n', 'a', 'l', 10, 5, 0, 0, 0, 0x04, 5, 0, 0, 0};
  EXPECT_EQ(s.Data(), expected);
  s.SetPosition(0);
  TKelBitmapListItem back;
  back.ReadProperties(s);
  EXPECT_EQ(back.Ident(), 5);
  Bytes wrong = expected;
  wrong[9] = 7;
  TBytesStream w(wrong.data(), std::int64_t(wrong.size()));
  EXPECT_THROW(back.ReadProperties(w), EKelContainerError);
  Bytes longer = expected;
  longer[12] = 1; // 65541 bytes claimed
  TBytesStream l(longer.data(), std::int64_t(longer.size()));
  EXPECT_THROW(back.ReadProperties(l), platform::EStreamError);
}

TEST(KelContainerTest, StreamWithOffsetsAndFileRoundTrip) {
  TKelBitmapList list;
  list.AddNew().SetIdent(1);
  Fill24(static_cast<TKelBitmapListItem*>(&list.AddNew())->Bitmap(), 3, 2);
  TMemoryStream s;
  list.WriteToStream(s, true);
  const Bytes& b = s.Data();
  // count 2; offsets 12 and 17 (the first item is flags and ident: 5 bytes).
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 12), (Bytes{2, 0, 0, 0, 12, 0, 0, 0, 17, 0, 0, 0}));
  EXPECT_EQ(b[12], 0x04);
  EXPECT_EQ(b[17], 0x08);

  const std::string name = "/tmp/kelbitmaplist_test_" + std::to_string(getpid()) + ".bmp";
  list.SaveToFile(name);
  TKelBitmapList loaded;
  loaded.LoadFromFile(name);
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.Items(0)->Ident(), 1);
  EXPECT_EQ(Pixels(loaded.BitmapItem(1)->Bitmap()), Pixels(list.BitmapItem(1)->Bitmap()));
  TKelBitmapListItem one;
  loaded.LoadItemFromFile(name, 1, one);
  EXPECT_EQ(one.Bitmap().Width(), 3);
  EXPECT_THROW(loaded.LoadItemFromFile(name, 2, one), EListError);
  std::remove(name.c_str());
}

TEST(KelContainerTest, WrongSignaturesAndDamageRaise) {
  TKelBitmapList list;
  list.AddNew().SetIdent(3);
  TMemoryStream s;
  list.SaveToStreamFile(s);
  EXPECT_EQ(Bytes(s.Data().begin(), s.Data().begin() + 9), (Bytes{8, 'K', 'e', 'l', 'B', 'M', 'L', '3', '0'}));
  Bytes other = s.Data();
  other[4] = 'I'; // "KelIML30": an image list
  TBytesStream a(other.data(), std::int64_t(other.size()));
  try {
    list.LoadFromStreamFile(a, "glyphs.bmp");
    FAIL();
  } catch (const EKelContainerError& e) {
    EXPECT_STREQ(e.what(), "Invalid container file: glyphs.bmp");
  }
  other[4] = 'Q';
  TBytesStream b(other.data(), std::int64_t(other.size()));
  EXPECT_THROW(list.LoadFromStreamFile(b, "x"), EKelContainerError);
  // An offset into the header.
  Bytes bad = s.Data();
  bad[13] = 3;
  TBytesStream c(bad.data(), std::int64_t(bad.size()));
  TKelBitmapListItem item;
  EXPECT_THROW(list.LoadItemFromStreamFile(c, 0, item), EKelContainerError);
  // A count the data cannot hold; the old items stay.
  Bytes many = s.Data();
  many[12] = 0x10;
  TBytesStream d(many.data(), std::int64_t(many.size()));
  EXPECT_THROW(list.LoadFromStreamFile(d), EKelContainerError);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Ident(), 3);
}

TEST(KelBitmapListTest, BindingToTheGlobalListIsStoredByName) {
  TMemoryStream s;
  TKelBitmapList own;
  EXPECT_FALSE(KelWriteListBinding(s, &own));
  EXPECT_EQ(s.Size(), 0);
  ASSERT_TRUE(KelWriteListBinding(s, &KelGlobalBitmapList()));
  // name "Internal", string value, "KelBML30".
  const Bytes expected{8, 'I', 'n', 't', 'e', 'r', 'n', 'a', 'l', 6, 8, 'K', 'e', 'l', 'B', 'M', 'L', '3', '0'};
  EXPECT_EQ(s.Data(), expected);
  s.SetPosition(0);
  EXPECT_EQ(KelReadListBinding(s), &KelGlobalBitmapList());
  Bytes other = expected;
  other[14] = 'I'; // "KelIML30": the global image list
  TBytesStream o(other.data(), std::int64_t(other.size()));
  EXPECT_EQ(KelReadListBinding(o), KelGlobalImageListPtr());
  other[14] = 'X';
  TBytesStream x(other.data(), std::int64_t(other.size()));
  EXPECT_EQ(KelReadListBinding(x), nullptr);
  TBytesStream cut(expected.data(), 15);
  EXPECT_THROW(KelReadListBinding(cut), platform::EStreamError);
}

TEST(KelBitmapListTest, ImageOperationsAndNeutralValues) {
  TKelBitmapList list;
  list.AddNew();
  Fill24(list.BitmapItem(0)->Bitmap(), 5, 4);
  list.AddNew();
  EXPECT_EQ(list.ItemSize(0, 0), 5);
  EXPECT_EQ(list.ItemSize(0, 1), 4);
  EXPECT_EQ(list.ItemRect(0).Right, 5);
  EXPECT_TRUE(list.ItemExists(0, 7));
  EXPECT_FALSE(list.ItemExists(1, 0));
  EXPECT_TRUE(list.ItemEmpty(1));
  EXPECT_EQ(list.ImageCount(0), 0);
  // Bottom-left pixel (0, 3): blue 0, green 39, red 15.
  EXPECT_EQ(list.ItemTransparentColor(0), 15 | 39 << 8);
  EXPECT_EQ(list.ItemPixel(0, 0, 0, 3), 15 | 39 << 8);
  // Beyond the count.
  EXPECT_EQ(list.ItemSize(2, 0), 0);
  EXPECT_FALSE(list.ItemEmpty(2));
  EXPECT_FALSE(list.ItemExists(2, 0));
  EXPECT_EQ(list.ItemTransparentColor(2), 0xFFFFFF);
  EXPECT_EQ(list.ItemPixel(2, 0, 0, 0), 0xFFFFFF);
  EXPECT_EQ(list.ItemCanvas(2), nullptr);
  TBitmap target;
  list.AssignItemTo(0, 0, &target);
  EXPECT_EQ(Pixels(target), Pixels(list.BitmapItem(0)->Bitmap()));
  list.AssignItemTo(0, 0, nullptr);
}

TEST(KelBitmapListTest, AssignCopiesInOneChange) {
  TKelBitmapList source;
  source.SetDefaultCompressed(true);
  source.SetDefaultPixelFormat(spf4bit);
  source.AddNew().SetIdent(7);
  source.AddNew().SetIdent(8);
  TKelBitmapList target;
  target.AddNew();
  int changes = 0;
  TKelChangeLink link(nullptr, [&](TKelChangeLink*) { ++changes; });
  target.RegisterChanges(&link);
  target.AssignList(source);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(target.Count(), 2);
  EXPECT_EQ(target.Items(1)->Ident(), 8);
  EXPECT_TRUE(target.DefaultCompressed());
  EXPECT_EQ(target.DefaultPixelFormat(), spf4bit);
  EXPECT_EQ(target.Items(0)->Container(), &target);
  target.UnregisterChanges(&link);
}

} // namespace
