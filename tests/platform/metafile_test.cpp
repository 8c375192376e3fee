#include "platform/metafile.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "platform/stream.h"
#include "support/drawings.h"

using namespace platform;
using namespace testsupport;

namespace {

// Little-endian byte builder for hand-made metafiles.
struct Out {
  std::vector<std::uint8_t> b;
  Out& u8(unsigned v) { b.push_back(std::uint8_t(v)); return *this; }
  Out& u16(unsigned v) { u8(v & 0xFF); return u8((v >> 8) & 0xFF); }
  Out& u32(std::uint32_t v) { u16(v & 0xFFFF); return u16(v >> 16); }
  Out& i32(std::int32_t v) { return u32(std::uint32_t(v)); }
  Out& f32(float f) { std::uint32_t v; std::memcpy(&v, &f, 4); return u32(v); }
  Out& raw(const std::vector<std::uint8_t>& more) { b.insert(b.end(), more.begin(), more.end()); return *this; }
  Out& str(const char* s) { while (*s) u8(std::uint8_t(*s++)); return *this; }
  void put32(std::size_t at, std::uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i)); }
};

// A 2 x 2 bottom-up 8-bit DIB: bottom row red, green; top row blue, white.
std::vector<std::uint8_t> Dib2x2() {
  Out d;
  d.u32(40).i32(2).i32(2).u16(1).u16(8); // header size, width, height (bottom-up), planes, bits
  d.u32(0).u32(8).i32(0).i32(0).u32(4).u32(0); // BI_RGB, image size, resolution, 4 colours used
  d.u32(0x000000FF).u32(0x0000FF00).u32(0x00FF0000).u32(0x00FFFFFF); // blue, green, red, white (stored B, G, R, 0)
  d.u8(2).u8(1).u8(0).u8(0); // bottom row: red, green, padding
  d.u8(0).u8(3).u8(0).u8(0); // top row: blue, white, padding
  return d.b;
}

// One WMF record: size in words, function, parameters (already in the
// record's reversed order).
std::vector<std::uint8_t> W(unsigned function, std::initializer_list<int> words,
                            const std::vector<std::uint8_t>& tail = {}) {
  Out r;
  std::size_t bytes = 6 + words.size() * 2 + tail.size() + (tail.size() & 1);
  r.u32(std::uint32_t(bytes / 2)).u16(function);
  for (int w : words) r.u16(unsigned(w) & 0xFFFF);
  r.raw(tail);
  if (tail.size() & 1) r.u8(0);
  return r.b;
}

std::vector<std::uint8_t> Wmf(const std::vector<std::vector<std::uint8_t>>& records, bool placeable,
                              int right = 100, int bottom = 80, unsigned inch = 96) {
  Out f;
  if (placeable) {
    f.u32(0x9AC6CDD7).u16(0); // key, handle
    f.u16(0).u16(0).u16(unsigned(right)).u16(unsigned(bottom)); // bounding box left, top, right, bottom
    f.u16(inch).u32(0).u16(0); // units per inch, reserved, checksum (not checked)
  }
  f.u16(1).u16(9).u16(0x0300); // memory metafile, header of 9 words, version 3
  f.u32(0).u16(8).u32(0).u16(0); // size in words, objects, largest record, members
  for (const auto& r : records) f.raw(r);
  f.raw(W(0x0000, {})); // EOF
  return f.b;
}

// The picture used by the drawing tests, in 100 x 80 logical units.
std::vector<std::vector<std::uint8_t>> PictureRecords() {
  Out text;
  text.str("MM").u16(44).u16(44); // string, y, x
  return {
      W(0x020B, {0, 0}), W(0x020C, {80, 100}), // window origin (y, x), extent
      W(0x0102, {1}), // transparent background
      W(0x02FC, {0, 0x00FF, 0x0000, 0}), // object 0: solid red brush (style, COLORREF lo, hi, hatch)
      W(0x02FA, {5, 0, 0, 0, 0}), // object 1: null pen (style, width x, y, colour)
      W(0x012D, {0}), W(0x012D, {1}), // select both
      W(0x041B, {30, 40, 10, 10}), // rectangle bottom 30, right 40, top 10, left 10
      W(0x02FC, {0, 0x0000, 0x00FF, 0}), // object 2: solid blue brush
      W(0x012D, {2}),
      W(0x0324, {3, 50, 10, 90, 10, 70, 40}), // polygon of 3 points (x, y)
      W(0x02FA, {0, 3, 0, 0xFF00, 0}), // object 3: green pen, 3 units wide
      W(0x012D, {3}),
      W(0x0214, {60, 5}), W(0x0213, {60, 45}), // move to (5, 60), line to (45, 60)
      W(0x02FB, {unsigned(-14) & 0xFFFF, 0, 0, 0, 700, 0, 0, 0, 0}, {'S', 'a', 'n', 's', 0}), // object 4: bold font
      W(0x012D, {4}),
      W(0x012E, {0}), // text aligned top left
      W(0x0521, {2}, text.b), // TextOut "MM" at (44, 44)
      // StretchDIB: SRCCOPY, RGB colours, source 2 x 2 at (0, 0), destination 20 x 20 at (70, 50)
      W(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 20, 50, 70}, Dib2x2()),
  };
}

QImage Render(const TMetafile& m, int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  m.Draw(p, QRect(0, 0, w, h));
  return image;
}

QRgb At(const QImage& i, int x, int y) { return i.pixel(x, y) & 0xFFFFFF; }

void ExpectPicture(const QImage& img, int scale) {
  auto px = [&](int x, int y) { return At(img, x * scale, y * scale); };
  EXPECT_EQ(px(20, 20), 0xFF0000u) << "filled rectangle";
  EXPECT_EQ(px(5, 5), 0xFFFFFFu) << "outside the rectangle";
  EXPECT_EQ(px(70, 15), 0x0000FFu) << "polygon";
  EXPECT_EQ(px(88, 35), 0xFFFFFFu) << "outside the polygon";
  EXPECT_EQ(px(25, 60), 0x00FF00u) << "line";
  EXPECT_EQ(px(25, 64), 0xFFFFFFu) << "beside the line";
  EXPECT_EQ(px(75, 55), 0x0000FFu) << "DIB top left: blue";
  EXPECT_EQ(px(85, 55), 0xFFFFFFu) << "DIB top right: white";
  EXPECT_EQ(px(75, 65), 0xFF0000u) << "DIB bottom left: red";
  EXPECT_EQ(px(85, 65), 0x00FF00u) << "DIB bottom right: green";
  int dark = 0;
  for (int y = 44 * scale; y < 58 * scale; ++y)
    for (int x = 44 * scale; x < 68 * scale; ++x) dark += std::max({qRed(img.pixel(x, y)), qGreen(img.pixel(x, y)), qBlue(img.pixel(x, y))}) < 100;
  EXPECT_GT(dark, 10 * scale) << "text";
}

// EMF building: records of 32-bit words, a header with the given frame and
// a reference device of 1920 x 1440 pixels on 508 x 381 mm (96 dpi).
std::vector<std::uint8_t> E(std::uint32_t type, const Out& body) {
  Out r;
  r.u32(type).u32(std::uint32_t(8 + body.b.size())).raw(body.b);
  while (r.b.size() % 4) r.u8(0);
  r.put32(4, std::uint32_t(r.b.size()));
  return r.b;
}

std::vector<std::uint8_t> Emf(const std::vector<std::vector<std::uint8_t>>& records, std::int32_t frameRight = 2646,
                              std::int32_t frameBottom = 2117, std::int32_t deviceX = 1920, std::int32_t mmX = 508) {
  Out f;
  f.u32(1).u32(88); // EMR_HEADER, record size
  f.i32(0).i32(0).i32(99).i32(79); // bounds in device pixels
  f.i32(0).i32(0).i32(frameRight).i32(frameBottom); // frame in 0.01 mm
  f.u32(0x464D4520).u32(0x10000); // " EMF", version
  f.u32(0).u32(0).u16(8).u16(0); // bytes, records (patched), handles, reserved
  f.u32(0).u32(0).u32(0); // no description, no palette
  f.i32(deviceX).i32(1440).i32(mmX).i32(381); // device pixels, device millimetres
  for (const auto& r : records) f.raw(r);
  f.raw(E(14, Out().u32(0).u32(16).u32(20))); // EOF: no palette
  f.put32(48, std::uint32_t(f.b.size()));
  return f.b;
}

std::vector<std::vector<std::uint8_t>> EmfPictureRecords() {
  Out text; // ExtTextOutW: bounds, graphics mode, scales, EMRTEXT
  text.i32(0).i32(0).i32(0).i32(0).u32(1).f32(0).f32(0);
  text.i32(44).i32(44).u32(2).u32(76).u32(0); // reference point, 2 characters at offset 76, options
  text.i32(0).i32(0).i32(0).i32(0).u32(0); // rectangle, no spacing array
  text.u16('M').u16('M');
  std::vector<std::uint8_t> dib = Dib2x2();
  Out blit; // StretchDIBits
  blit.i32(0).i32(0).i32(0).i32(0); // bounds
  blit.i32(70).i32(50).i32(0).i32(0).i32(2).i32(2); // destination (70, 50), source (0, 0) 2 x 2
  blit.u32(80).u32(40 + 16).u32(80 + 56).u32(8); // header at 80 (with 4 colours), rows after it
  blit.u32(0).u32(0x00CC0020).i32(20).i32(20); // RGB colours, SRCCOPY, destination 20 x 20
  blit.raw(dib);
  return {
      E(18, Out().u32(1)), // transparent background
      E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), // object 1: solid red brush
      E(38, Out().u32(2).u32(5).i32(0).i32(0).u32(0)), // object 2: null pen
      E(37, Out().u32(1)), E(37, Out().u32(2)),
      E(43, Out().i32(10).i32(10).i32(40).i32(30)), // rectangle
      E(39, Out().u32(3).u32(0).u32(0xFF0000).u32(0)), // object 3: blue brush
      E(37, Out().u32(3)),
      E(86, Out().i32(0).i32(0).i32(0).i32(0).u32(3).u16(50).u16(10).u16(90).u16(10).u16(70).u16(40)), // Polygon16
      E(95, Out().u32(4).u32(0).u32(0).u32(0).u32(0).u32(0x10000).u32(3).u32(0).u32(0x00FF00).u32(0).u32(0)), // green geometric pen
      E(37, Out().u32(4)),
      E(59, Out()), E(27, Out().i32(5).i32(60)), E(54, Out().i32(45).i32(60)), E(60, Out()), E(64, Out()), // stroked path
      E(82, [] { Out f; f.u32(5).i32(-14).i32(0).i32(0).i32(0).i32(700).u32(0).u32(0);
                 for (char c : std::string("Sans")) f.u16(unsigned(c));
                 for (int i = 4; i < 32; ++i) f.u16(0);
                 return f; }()), // object 5: LOGFONTW
      E(37, Out().u32(5)),
      E(84, text),
      E(81, blit),
  };
}

// Points zigzagging between the top and the bottom of a frame size units
// square: every edge spans the frame, the closing one too for an even count.
std::vector<std::uint8_t> ZigzagPoints(int points, int size, bool small) {
  Out p;
  for (int i = 0; i < points; ++i) {
    const int x = i * size / points, y = i % 2 ? size : 0;
    if (small) p.u16(unsigned(x)).u16(unsigned(y));
    else p.i32(x).i32(y);
  }
  return p.b;
}
std::vector<std::uint8_t> WmfZigzag(unsigned function, int points, int size = 3000) {
  Out r; // Polygon or Polyline: count, points; PolyPolygon: one polygon of count points
  if (function == 0x0538) r.u16(1);
  r.u16(unsigned(points)).raw(ZigzagPoints(points, size, true));
  return Out().u32(std::uint32_t(3 + r.b.size() / 2)).u16(function).raw(r.b).b;
}
std::vector<std::uint8_t> EmfZigzag(std::uint32_t type, int points, int size = 3000) {
  Out r; // bounds, then Polygon16: count, points; PolyPolygon16: one polygon, count, its count, points
  r.i32(0).i32(0).i32(size).i32(size);
  if (type == 91) r.u32(1);
  r.u32(std::uint32_t(points));
  if (type == 91) r.u32(std::uint32_t(points));
  return E(type, r.raw(ZigzagPoints(points, size, type != 3)));
}

TMetafileDrawStats DrawOnto(QImage& image, const TMetafile& m, double allowance = 1) {
  image.fill(Qt::white);
  QPainter p(&image);
  return m.Draw(p, image.rect(), {}, allowance);
}

} // namespace

// ---------------------------------------------------------------- sizes

TEST(MetafileSize, PlaceableFromBoundingBoxAndUnitsPerInch) {
  TMetafile m;
  m.LoadFromBytes(Wmf({}, true, 4000, 1000, 96).data(), Wmf({}, true, 4000, 1000, 96).size());
  EXPECT_FALSE(m.Enhanced());
  EXPECT_EQ(m.Width(), 4000);
  EXPECT_EQ(m.Height(), 1000);
  auto twips = Wmf({}, true, 2880, 1440, 1440); // 2 x 1 inch
  m.LoadFromBytes(twips.data(), twips.size());
  EXPECT_EQ(m.Width(), 192);
  EXPECT_EQ(m.Height(), 96);
  auto halves = Wmf({}, true, 1, 3, 192); // 0.5 and 1.5 pixels round away from zero
  m.LoadFromBytes(halves.data(), halves.size());
  EXPECT_EQ(m.Width(), 1);
  EXPECT_EQ(m.Height(), 2);
}

TEST(MetafileSize, EnhancedFromFrameAndReferenceDevice) {
  TMetafile m;
  auto emf = Emf({});
  m.LoadFromBytes(emf.data(), emf.size());
  EXPECT_TRUE(m.Enhanced());
  EXPECT_EQ(m.Width(), 100); // 2646 x 1920 / 50800 = 100.006
  EXPECT_EQ(m.Height(), 80); // 2117 x 1440 / 38100 = 80.01
  auto wide = Emf({}, 10000, 2117, 1024, 320); // 100 mm on 1024 pixels per 320 mm
  m.LoadFromBytes(wide.data(), wide.size());
  EXPECT_EQ(m.Width(), 320);
}

TEST(MetafileSize, PlainWmfFromItsWindowExtent) {
  auto wmf = Wmf({W(0x020B, {0, 0}), W(0x020C, {unsigned(-60) & 0xFFFF, 120})}, false);
  TMetafile m;
  m.LoadFromBytes(wmf.data(), wmf.size());
  EXPECT_EQ(m.Width(), 120);
  EXPECT_EQ(m.Height(), 60);
}

TEST(MetafileSize, ZeroSizeAndForeignDataRefused) {
  TMetafile m;
  auto good = Wmf({}, true);
  m.LoadFromBytes(good.data(), good.size());
  std::vector<std::vector<std::uint8_t>> bad = {
      Wmf({}, true, 100, 80, 0), // no units per inch: the size would divide by zero
      Wmf({}, true, 0, 80), Wmf({}, true, 100, 0), // empty bounding box
      Emf({}, 0, 2117), Emf({}, 2646, 2117, 1920, 0), // empty frame, no millimetres
      Wmf({}, false), // plain WMF without a window extent
      {0x42, 0x4D, 0, 0}, {}};
  for (const auto& b : bad) {
    EXPECT_THROW(m.LoadFromBytes(b.data(), b.size()), EInvalidGraphic);
    EXPECT_EQ(m.Width(), 100) << "the previous metafile stays";
  }
  TMemoryStream empty;
  EXPECT_THROW(m.LoadFromStream(empty), EInvalidGraphic);
}

// ---------------------------------------------------------------- drawing

TEST(MetafileDraw, PlaceableWmfAtOwnSizeAndStretched) {
  auto wmf = Wmf(PictureRecords(), true);
  TMetafile m;
  m.LoadFromBytes(wmf.data(), wmf.size());
  ExpectPicture(Render(m, 100, 80), 1);
  ExpectPicture(Render(m, 200, 160), 2);
}

TEST(MetafileDraw, PlainWmfMatchesPlaceable) {
  auto wmf = Wmf(PictureRecords(), false);
  TMetafile m;
  m.LoadFromBytes(wmf.data(), wmf.size());
  ExpectPicture(Render(m, 100, 80), 1);
}

TEST(MetafileDraw, EnhancedRecords) {
  auto emf = Emf(EmfPictureRecords());
  TMetafile m;
  m.LoadFromBytes(emf.data(), emf.size());
  ExpectPicture(Render(m, 100, 80), 1);
  ExpectPicture(Render(m, 200, 160), 2);
}

TEST(MetafileDraw, EnhancedMappingModesAndWorldTransform) {
  // Logical 0..50 maps onto the 100-pixel device, then the world moves it 10 right.
  auto emf = Emf({
      E(17, Out().u32(8)), // MM_ANISOTROPIC
      E(9, Out().i32(50).i32(40)), E(11, Out().i32(100).i32(80)), // window and viewport extents
      E(36, Out().f32(1).f32(0).f32(0).f32(1).f32(5).f32(0).u32(4)), // world: translate 5 logical units
      E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), E(37, Out().u32(1)), E(37, Out().u32(0x80000008)), // red, NULL_PEN
      E(43, Out().i32(0).i32(0).i32(10).i32(10)), // device (10, 0)..(30, 20)
  });
  TMetafile m;
  m.LoadFromBytes(emf.data(), emf.size());
  QImage img = Render(m, 100, 80);
  EXPECT_EQ(At(img, 20, 10), 0xFF0000u);
  EXPECT_EQ(At(img, 5, 10), 0xFFFFFFu);
  EXPECT_EQ(At(img, 35, 10), 0xFFFFFFu);
}

TEST(MetafileDraw, TextInHundredthsOfMillimetres) {
  // Logical units a hundredth of a pixel: a font 1400 units high is 14 pixels.
  Out text;
  text.i32(0).i32(0).i32(0).i32(0).u32(1).f32(0).f32(0);
  text.i32(4400).i32(4400).u32(2).u32(76).u32(0).i32(0).i32(0).i32(0).i32(0).u32(0).u16('M').u16('M');
  Out font;
  font.u32(1).i32(-1400).i32(0).i32(0).i32(0).i32(700).u32(0).u32(0);
  for (int i = 0; i < 32; ++i) font.u16(0);
  auto emf = Emf({E(17, Out().u32(8)), E(9, Out().i32(10000).i32(8000)), E(11, Out().i32(100).i32(80)),
                  E(18, Out().u32(1)), E(82, font), E(37, Out().u32(1)), E(84, text)});
  TMetafile m;
  m.LoadFromBytes(emf.data(), emf.size());
  QImage img = Render(m, 100, 80);
  int inside = 0, outside = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 100; ++x)
      (x >= 44 && x < 72 && y >= 44 && y < 60 ? inside : outside) += qGray(img.pixel(x, y)) < 128;
  EXPECT_GT(inside, 30);
  EXPECT_EQ(outside, 0);
}

TEST(MetafileDraw, OpaqueTextRectangleWithoutCharacters) {
  // Writers fill rectangles with an opaque ExtTextOut of no characters.
  auto wmf = Wmf({W(0x0201, {0x00FF, 0}), // background colour red
                  W(0x0A32, {0, 0, 0, 2, 10, 10, 30, 30})}, // y, x, no characters, ETO_OPAQUE, rectangle
                 true);
  TMetafile m;
  m.LoadFromBytes(wmf.data(), wmf.size());
  QImage img = Render(m, 100, 80);
  EXPECT_EQ(At(img, 20, 20), 0xFF0000u);
  EXPECT_EQ(At(img, 35, 20), 0xFFFFFFu);
}

TEST(MetafileDraw, RealPicturesTakeAFractionOfTheBudgetsAndDrawAsBefore) {
  // The pictures above, then a polygon of 2,000 points across the frame and
  // a thin polyline of 8,000: both are left out, and the picture before
  // them is drawn as alone.
  for (bool enhanced : {false, true}) {
    auto records = enhanced ? EmfPictureRecords() : PictureRecords();
    auto alone = enhanced ? Emf(records) : Wmf(records, true);
    records.push_back(enhanced ? EmfZigzag(86, 2000, 100) : WmfZigzag(0x0324, 2000, 100));
    if (enhanced) {
      records.push_back(E(38, Out().u32(6).u32(0).i32(0).i32(0).u32(0))); // object 6: thin black pen
      records.push_back(E(37, Out().u32(6)));
    } else {
      records.push_back(W(0x02FA, {0, 0, 0, 0, 0})); // object 5: thin black pen
      records.push_back(W(0x012D, {5}));
    }
    records.push_back(enhanced ? EmfZigzag(87, 8000, 100) : WmfZigzag(0x0325, 8000, 100));
    auto crowded = enhanced ? Emf(records) : Wmf(records, true);
    TMetafile m, c;
    m.LoadFromBytes(alone.data(), alone.size());
    c.LoadFromBytes(crowded.data(), crowded.size());
    QImage picture(200, 160, QImage::Format_RGB32), withPolygon(200, 160, QImage::Format_RGB32);
    const TMetafileDrawStats s = DrawOnto(picture, m);
    ExpectPicture(picture, 2);
    EXPECT_EQ(s.FillBudget, 8192 * 160);
    EXPECT_GT(s.FillWork, 0);
    EXPECT_LT(s.FillWork, s.FillBudget / 100) << "a real picture is far from the budget";
    EXPECT_EQ(s.ShapesSkipped, 0);
    EXPECT_EQ(s.StrokeBudget, std::llround(2560 * std::hypot(200.0, 160.0)));
    EXPECT_EQ(s.WideStrokeBudget, 4 * 200 * 160);
    EXPECT_GT(s.WideStrokeWork, 0) << "the green line, 6 pixels wide";
    EXPECT_LT(s.WideStrokeWork, s.WideStrokeBudget / 100);
    EXPECT_EQ(s.StrokesSkipped, 0);
    const TMetafileDrawStats t = DrawOnto(withPolygon, c);
    EXPECT_EQ(t.ShapesSkipped, 1);
    EXPECT_EQ(t.StrokesSkipped, 1);
    EXPECT_EQ(t.FillWork, s.FillWork);
    EXPECT_EQ(t.StrokeWork, s.StrokeWork);
    EXPECT_EQ(t.WideStrokeWork, s.WideStrokeWork);
    EXPECT_EQ(withPolygon, picture);
  }
}

TEST(MetafileDraw, StrokeWorkIsTheLengthInTheFrameTimesAWidePensWidth) {
  // 100 x 80 units drawn at twice their size.
  const auto thin = Wmf({W(0x02FA, {0, 0, 0, 0, 0}), W(0x012D, {0}), // object 0: thin black pen
                         W(0x0325, {3, 10, 10, 90, 10, 90, 70}), // 160 + 120 pixels
                         W(0x0214, {40, 50}), W(0x0213, {40, 150}), // 100 of its 200 within the frame
                         W(0x02FA, {0, 5, 0, 0, 0}), W(0x012D, {1}), // object 1: a pen of 10 pixels
                         W(0x0214, {20, 10}), W(0x0213, {20, 60})}, // 100 pixels, 10 wide, and its caps
                        true);
  TMetafile m;
  m.LoadFromBytes(thin.data(), thin.size());
  QImage img(200, 160, QImage::Format_RGB32);
  TMetafileDrawStats s = DrawOnto(img, m);
  EXPECT_EQ(s.StrokeWork, 280 + 100);
  EXPECT_EQ(s.WideStrokeWork, (100 + 10) * 10);
  EXPECT_EQ(s.StrokesSkipped, 0);
  EXPECT_EQ(At(img, 100, 20), 0x000000u);
  EXPECT_EQ(At(img, 199, 80), 0x000000u);
  EXPECT_EQ(At(img, 60, 44), 0x000000u);
  EXPECT_EQ(At(img, 60, 60), 0xFFFFFFu);
  // A pen far wider than the frame paints the whole of it, and is counted
  // as one as wide as the frame's diagonal, its caps too.
  const auto wide = Wmf({W(0x02FA, {0, 30000, 0, 0x00FF, 0}), W(0x012D, {0}), W(0x0214, {40, 10}),
                         W(0x0213, {40, 20})},
                        true);
  m.LoadFromBytes(wide.data(), wide.size());
  s = DrawOnto(img, m);
  EXPECT_EQ(s.WideStrokeWork, std::int64_t(std::ceil((20 + std::hypot(200.0, 160.0)) * std::hypot(200.0, 160.0))));
  EXPECT_EQ(At(img, 0, 0), 0xFF0000u);
  EXPECT_EQ(At(img, 199, 159), 0xFF0000u);
}

TEST(MetafileDraw, OrdinaryDrawingsAreWholeAtTheLargestSizeDrawn) {
  // Drawn as a read draws them, 2800 pixels along the longer side, every
  // shape is there as drawn without budgets, with half of each to spare.
  const struct {
    const char* name;
    std::vector<std::uint8_t> data;
  } drawings[] = {
      {"A3 cross-hatch every 1.5 mm under a pen of 0.35 mm", WmfCrossHatch()},
      {"enhanced A3 cross-hatch every 2 mm", EmfCrossHatch()},
      {"scatter plot of 35,000 open circles", Scatter(35000)},
      {"scatter plot of 70,000 filled markers outlined under a hairline pen", DenseScatter(70000)},
      {"clip art of 1,000 blobs outlined 0.6 % of the frame wide", Blobs(1000)},
      {"star of 2,000 points", Star(2000)},
      {"zigzags of 500 points", Zigzags(500)},
  };
  for (const auto& d : drawings) {
    TMetafile m;
    m.LoadFromBytes(d.data.data(), d.data.size());
    const QSize size = m.Width() >= m.Height() ? QSize(2800, m.Height() * 2800 / m.Width())
                                               : QSize(m.Width() * 2800 / m.Height(), 2800);
    QImage drawn(size, QImage::Format_RGB32), whole(size, QImage::Format_RGB32);
    const TMetafileDrawStats s = DrawOnto(drawn, m), w = DrawOnto(whole, m, 1e9);
    EXPECT_EQ(s.ShapesSkipped + s.StrokesSkipped, 0) << d.name;
    EXPECT_TRUE(drawn == whole) << d.name;
    EXPECT_GT(w.FillPixels + w.StrokeWork + w.WideStrokeWork, 0) << d.name;
    for (auto [work, budget] : {std::pair{s.FillWork, s.FillBudget}, {s.FillPixels, s.FillPixelBudget},
                                {s.StrokeWork, s.StrokeBudget}, {s.WideStrokeWork, s.WideStrokeBudget}})
      EXPECT_LE(work, budget / 2) << d.name;
  }
}

// A WMF region and an ExtSelectClipRgn record (mode, rectangles on the
// reference device; none: no region) of rectangles, one scan each.
std::vector<std::uint8_t> WmfRegion(const std::vector<QRect>& rects) {
  Out r; // next in chain, type, count, size, scans, largest scan, bounds, scans
  r.u16(0).u16(6).u32(0).u16(unsigned(22 + 12 * rects.size())).u16(unsigned(rects.size())).u16(2);
  r.u16(0).u16(0).u16(100).u16(80);
  for (const QRect& c : rects) r.u16(2).u16(c.top()).u16(c.bottom() + 1).u16(c.left()).u16(c.right() + 1).u16(2);
  return Out().u32(std::uint32_t(3 + r.b.size() / 2)).u16(0x06FF).raw(r.b).b;
}
std::vector<std::uint8_t> EmfClipRegion(unsigned mode, const std::vector<QRect>& rects) {
  Out d;
  const std::uint32_t count = std::uint32_t(rects.size());
  if (count) d.u32(32).u32(1).u32(count).u32(16 * count).i32(0).i32(0).i32(100).i32(80);
  for (const QRect& c : rects) d.i32(c.left()).i32(c.top()).i32(c.right() + 1).i32(c.bottom() + 1);
  return E(75, Out().u32(std::uint32_t(d.b.size())).u32(mode).raw(d.b));
}

TEST(MetafileDraw, ClipRecordsConfineEveryShapeTextAndBlit) {
  // The pictures above with a thin outline round them, after clip records:
  // drawn as without them wherever the clip region keeps pixel centres,
  // white elsewhere. The region stays in device pixels when the mapping
  // changes after it, and is saved and restored with the rest.
  const QRect frame(0, 0, 100, 80), mid(30, 20, 40, 40), a(10, 10, 30, 20), b(50, 40, 40, 30);
  const auto emfMid = Out().i32(30).i32(20).i32(70).i32(60);
  const struct {
    bool enhanced;
    std::vector<std::vector<std::uint8_t>> clip;
    QRegion kept;
  } cases[] = {
      {false, {W(0x0416, {60, 70, 20, 30})}, mid}, // IntersectClipRect
      {false, {W(0x0415, {60, 70, 20, 30})}, QRegion(frame) - mid}, // ExcludeClipRect
      {false, {W(0x0416, {60, 60, 10, 10}), W(0x0416, {70, 90, 30, 40})}, QRegion(40, 30, 20, 30)},
      {false, {WmfRegion({a, b}), W(0x012C, {0}), W(0x01F0, {0})}, QRegion(a) + b}, // SelectClipRegion, deleted
      {false, {W(0x0416, {60, 70, 20, 30}), W(0x0220, {5, -20})}, mid.translated(-20, 5)}, // OffsetClipRgn
      {false, {W(0x001E, {}), W(0x0416, {60, 70, 20, 30}), W(0x0127, {-1})}, frame}, // SaveDC, RestoreDC
      {false, {W(0x0415, {60, 70, 20, 30}), W(0x001E, {}), W(0x0416, {40, 40, 10, 10}), W(0x0127, {-1})},
       QRegion(frame) - mid},
      {false, {W(0x020C, {40, 50}), W(0x0416, {30, 35, 10, 15})}, mid}, // set at twice the size
      {true, {E(30, emfMid)}, mid},
      {true, {E(29, emfMid)}, QRegion(frame) - mid},
      {true, {EmfClipRegion(5, {a, b})}, QRegion(a) + b},
      {true, {E(30, Out().i32(10).i32(10).i32(90).i32(70)), EmfClipRegion(4, {mid})}, QRegion(10, 10, 80, 60) - mid},
      {true, {EmfClipRegion(5, {mid}), EmfClipRegion(2, {a}), EmfClipRegion(3, {b})}, (QRegion(mid) + a) ^ b},
      {true, {E(30, emfMid), EmfClipRegion(5, {})}, frame},
      {true, {E(59, Out()), E(43, emfMid), E(60, Out()), E(67, Out().u32(5))}, mid}, // SelectClipPath
      {true, {E(30, emfMid), E(26, Out().i32(-20).i32(5))}, mid.translated(-20, 5)},
      {true, {E(33, Out()), E(30, emfMid), E(34, Out().i32(-1))}, frame},
  };
  for (const auto& c : cases) {
    auto drawing = c.enhanced ? EmfPictureRecords() : PictureRecords();
    if (c.enhanced) // object 6: a thin blue pen; the hollow stock brush
      drawing.insert(drawing.end(), {E(38, Out().u32(6).u32(0).i32(0).i32(0).u32(0xFF0000)), E(37, Out().u32(6)),
                                     E(37, Out().u32(0x80000005)), E(42, Out().i32(3).i32(3).i32(97).i32(77))});
    else // objects 5 and 6: a thin blue pen, a hollow brush
      drawing.insert(drawing.end(), {W(0x02FA, {0, 0, 0, 0, 0x00FF}), W(0x012D, {5}), W(0x02FC, {1, 0, 0, 0}),
                                     W(0x012D, {6}), W(0x0418, {77, 97, 3, 3})});
    auto records = c.clip;
    records.insert(records.end(), drawing.begin(), drawing.end());
    const auto whole = c.enhanced ? Emf(drawing) : Wmf(drawing, true);
    const auto clipped = c.enhanced ? Emf(records) : Wmf(records, true);
    TMetafile w, m;
    w.LoadFromBytes(whole.data(), whole.size());
    m.LoadFromBytes(clipped.data(), clipped.size());
    QImage expected = Render(w, 100, 80);
    const QImage drawn = Render(m, 100, 80);
    int wrong = 0;
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 100; ++x)
        wrong += drawn.pixel(x, y) != (c.kept.contains(QPoint(x, y)) ? expected.pixel(x, y) : qRgb(255, 255, 255));
    EXPECT_EQ(wrong, 0) << "case " << &c - cases;
  }
}

TEST(MetafileDraw, KeepGoingIsAskedBetweenRecordsAndEndsThePlay) {
  auto wmf = Wmf({W(0x02FC, {0, 0x00FF, 0x0000, 0}), W(0x012D, {0}), // red brush
                  W(0x041B, {30, 40, 10, 10}), W(0x041B, {70, 90, 50, 60})}, true);
  TMetafile m;
  m.LoadFromBytes(wmf.data(), wmf.size());
  std::vector<int> asked;
  QImage img(100, 80, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  TMetafileDrawStats s = m.Draw(p, img.rect(), [&](int percent) {
    asked.push_back(percent);
    return asked.size() < 4; // no to the second rectangle
  });
  p.end();
  EXPECT_TRUE(s.Stopped);
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
  EXPECT_GE(asked.front(), 0);
  EXPECT_LT(asked.back(), 100);
  EXPECT_EQ(At(img, 20, 20), 0xFF0000u);
  EXPECT_EQ(At(img, 70, 60), 0xFFFFFFu) << "the record after the no is not played";
  img.fill(Qt::white);
  p.begin(&img);
  EXPECT_FALSE(m.Draw(p, img.rect(), [](int) { return true; }).Stopped);
  p.end();
  EXPECT_EQ(At(img, 70, 60), 0xFF0000u);
}

// ---------------------------------------------------------------- damage

TEST(MetafileDamage, CrowdedFillsStopAtTheBudget) {
  // Shapes whose edges cross the frame thousands of times: each would keep
  // the rasteriser busy for a minute at the program's size. They are left
  // out; a rectangle after them is still drawn with the budget they left.
  // The polyline under a wide pen is an outline, left out as one.
  const auto red = W(0x02FC, {0, 0x00FF, 0x0000, 0});
  const auto wide = W(0x02FA, {0, 100, 0, 0, 0}); // a pen of 100 units, 2 pixels here
  const auto square = W(0x041B, {2900, 2900, 2800, 2800});
  const auto wideZigzag = Wmf({wide, W(0x012D, {0}), WmfZigzag(0x0325, 2000), red, W(0x012D, {1}),
                               W(0x02FA, {5, 0, 0, 0, 0}), W(0x012D, {2}), square},
                              true, 3000, 3000);
  const std::vector<std::vector<std::uint8_t>> files = {
      Wmf({red, W(0x012D, {0}), WmfZigzag(0x0324, 2000), square}, true, 3000, 3000),
      Wmf({red, W(0x012D, {0}), WmfZigzag(0x0538, 4000), square}, true, 3000, 3000),
      wideZigzag,
      Emf({E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), E(37, Out().u32(1)), EmfZigzag(86, 2000),
           E(43, Out().i32(2800).i32(2800).i32(2900).i32(2900))}, 3000 * 508 * 100 / 1920, 3000 * 381 * 100 / 1440),
      Emf({E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), E(37, Out().u32(1)), EmfZigzag(91, 2000),
           E(43, Out().i32(2800).i32(2800).i32(2900).i32(2900))}, 3000 * 508 * 100 / 1920, 3000 * 381 * 100 / 1440),
      Emf({E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), E(37, Out().u32(1)), EmfZigzag(3, 2000),
           E(43, Out().i32(2800).i32(2800).i32(2900).i32(2900))}, 3000 * 508 * 100 / 1920, 3000 * 381 * 100 / 1440),
  };
  for (const auto& data : files) {
    TMetafile m;
    m.LoadFromBytes(data.data(), data.size());
    // Small, so that without a budget the test takes seconds, not minutes.
    QImage img(60, 60, QImage::Format_RGB32);
    const TMetafileDrawStats s = DrawOnto(img, m);
    const bool outline = data == wideZigzag;
    EXPECT_EQ(s.ShapesSkipped, outline ? 0 : 1);
    EXPECT_EQ(s.StrokesSkipped, outline ? 1 : 0);
    EXPECT_LE(s.FillWork, s.FillBudget);
    EXPECT_LE(s.FillWork, 6 * 2) << "only the square's sides";
    EXPECT_EQ(At(img, 57, 57), 0xFF0000u) << "the square after the crowded shape";
  }
  // Fewer points across the frame are a drawing like any other: filled, and
  // counted at the frame's height for each edge; beyond 64 edges across the
  // frame, in proportion to their crowding too.
  for (auto [points, work] : {std::pair{60, 60 * 300}, std::pair{200, 200 * 300 * 200 / 64}}) {
    auto few = Wmf({red, W(0x012D, {0}), W(0x02FA, {5, 0, 0, 0, 0}), W(0x012D, {1}), WmfZigzag(0x0324, points)},
                   true, 3000, 3000);
    TMetafile m;
    m.LoadFromBytes(few.data(), few.size());
    QImage img(300, 300, QImage::Format_RGB32);
    const TMetafileDrawStats s = DrawOnto(img, m);
    EXPECT_EQ(s.ShapesSkipped, 0);
    EXPECT_EQ(s.FillWork, work);
    int filled = 0;
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 300; ++x) filled += At(img, x, y) == 0xFF0000u;
    EXPECT_GT(filled, 300 * 300 / 10) << points;
  }
}

TEST(MetafileDamage, FilledPixelsStopAtTheirBudget) {
  // 600 rectangles over the whole frame, each of another red: few edges,
  // but the filler paints every pixel of each. 512 frames are paid for, the
  // rest left out.
  std::vector<std::vector<std::uint8_t>> records{W(0x02FA, {5, 0, 0, 0, 0}), W(0x012D, {0})};
  for (int i = 0; i < 600; ++i)
    records.insert(records.end(), {W(0x02FC, {0, i % 256, 0, 0}), W(0x012D, {1}), W(0x041B, {80, 100, 0, 0}),
                                   W(0x01F0, {1})});
  TMetafile m;
  const auto wmf = Wmf(records, true);
  m.LoadFromBytes(wmf.data(), wmf.size());
  QImage img(60, 48, QImage::Format_RGB32);
  const TMetafileDrawStats s = DrawOnto(img, m);
  EXPECT_EQ(s.FillPixelBudget, 512 * 60 * 48);
  EXPECT_EQ(s.FillPixels, 512 * 60 * 48);
  EXPECT_LT(s.FillWork, s.FillBudget / 2);
  EXPECT_EQ(s.ShapesSkipped, 600 - 512);
  EXPECT_EQ(At(img, 30, 24), QRgb(511 % 256) << 16) << "the last rectangle paid for";
}

TEST(MetafileDamage, BlitsAndTextPayForTheirPixels) {
  // 2,000 blits over the frame, each a second or more at the program's size
  // before: they pay for the pixels of their destination, a hatch ten times,
  // a picture twice, and what the budget cannot pay for is left out; hatched
  // shapes too. Text pays for the pixels of its glyphs: a page of it far
  // less than the frame.
  const auto hatched = W(0x02FC, {2, 0x00FF, 0, 5}), patBlt = W(0x061D, {0x0021, 0x00F0, 80, 100, 0, 0});
  Out pixel; // a 1 x 1 24-bit DIB
  pixel.u32(40).i32(1).i32(1).u16(1).u16(24).u32(0).u32(4).i32(0).i32(0).u32(0).u32(0).u8(0).u8(0x80).u8(0xFF).u8(0);
  auto many = [](std::vector<std::vector<std::uint8_t>> records, const std::vector<std::uint8_t>& blit) {
    records.insert(records.end(), 2000, blit);
    return records;
  };
  const std::int64_t frame = 60 * 48, budget = 512 * frame;
  const struct {
    std::vector<std::uint8_t> data;
    std::int64_t each;
  } cases[] = {
      {Wmf(many({hatched, W(0x012D, {0})}, patBlt), true), 10 * frame},
      {Wmf(many({W(0x02FC, {0, 0x00FF, 0, 0}), W(0x012D, {0})}, patBlt), true), frame},
      {Emf(many({E(39, Out().u32(1).u32(2).u32(0x0000FF).u32(5)), E(37, Out().u32(1))}, // BitBlt without a source
                E(76, Out().i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(100).i32(80).u32(0x00F00021)
                          .raw(std::vector<std::uint8_t>(56, 0))))), 10 * frame},
      {Wmf(many({}, W(0x0F43, {0x0020, 0x00CC, 0, 1, 1, 0, 0, 80, 100, 0, 0}, pixel.b)), true), 2 * frame},
      {Wmf(many({hatched, W(0x012D, {0}), W(0x02FA, {5, 0, 0, 0, 0}), W(0x012D, {1})}, W(0x041B, {80, 100, 0, 0})),
           true), 10 * frame},
  };
  TMetafile m;
  QImage img(60, 48, QImage::Format_RGB32);
  for (const auto& c : cases) {
    m.LoadFromBytes(c.data.data(), c.data.size());
    const TMetafileDrawStats s = DrawOnto(img, m);
    EXPECT_EQ(s.FillPixels, budget / c.each * c.each) << "case " << &c - cases;
    EXPECT_EQ(s.ShapesSkipped, 2000 - budget / c.each) << "case " << &c - cases;
  }
  auto text = [](int x, int y) { // TextOut of 78 characters at (x, y)
    return W(0x0521, {78}, Out().str("The quick brown fox jumps over the lazy dog; pack my box with five dozen jugs.")
                               .u16(unsigned(y)).u16(unsigned(x)).b);
  };
  std::vector<std::vector<std::uint8_t>> page{
      W(0x0102, {1}), W(0x02FB, {-35, 0, 0, 0, 400, 0, 0, 0, 0}, {'S', 'a', 'n', 's', 0}), W(0x012D, {0})};
  for (int i = 0; i < 60; ++i) page.push_back(text(120, 150 + 42 * i)); // A4 at 2800 pixels, at 10 points
  const auto line = Wmf({page[0], page[1], page[2], text(10, 10)}, true, 1980, 100);
  const auto a4 = Wmf(page, true, 1980, 2800);
  for (const auto& [data, size] : {std::pair{line, QSize(1980, 100)}, {a4, QSize(1980, 2800)}}) {
    m.LoadFromBytes(data.data(), data.size());
    img = QImage(size, QImage::Format_RGB32);
    const TMetafileDrawStats s = DrawOnto(img, m);
    std::int64_t ink = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) ink += At(img, x, y) != 0xFFFFFFu;
    EXPECT_GT(ink, 0);
    EXPECT_EQ(s.FillPixels, ink);
    EXPECT_LT(s.FillPixels, std::int64_t(size.width()) * size.height() / 8);
    EXPECT_EQ(s.ShapesSkipped, 0);
  }
}

TEST(MetafileDamage, ClipRegionsPayForTheirWork) {
  // The filler walks a region's edges each time it is selected, and the
  // platform a clip's rectangles for each segment of a thin outline and each
  // row of a picture under it: a region of 400 rectangles selected 2,000
  // times is left out once the fill work is spent; an outline and a picture
  // under a comb of 50 strips cost many times what they cost without it.
  std::vector<QRect> rects;
  for (int i = 0; i < 400; ++i) rects.emplace_back(i % 20 * 5, i / 20 * 4, 3, 2);
  std::vector<std::vector<std::uint8_t>> again{WmfRegion(rects)}, comb;
  again.insert(again.end(), 2000,
               Out().raw(W(0x001E, {})).raw(W(0x012C, {0})).raw(W(0x0418, {78, 98, 2, 2})).raw(W(0x0127, {-1})).b);
  TMetafile m;
  const auto selected = Wmf(again, true);
  m.LoadFromBytes(selected.data(), selected.size());
  QImage img(100, 80, QImage::Format_RGB32);
  TMetafileDrawStats s = DrawOnto(img, m);
  EXPECT_LE(s.FillWork, s.FillBudget);
  EXPECT_GT(s.FillWork, s.FillBudget * 9 / 10);
  EXPECT_GT(s.ShapesSkipped, 1000);
  for (int i = 0; i < 50; ++i) comb.push_back(W(0x0415, {80, 2 * i + 1, 0, 2 * i}));
  using Records = std::vector<std::vector<std::uint8_t>>;
  const Records outline{W(0x02FC, {1, 0, 0, 0}), W(0x012D, {0}), W(0x0418, {78, 98, 2, 2})};
  const Records picture{PictureRecords().back()}; // its blit
  for (const auto& [drawing, work] :
       {std::pair{outline, &TMetafileDrawStats::StrokeWork}, {picture, &TMetafileDrawStats::FillPixels}}) {
    auto combed = comb;
    combed.insert(combed.end(), drawing.begin(), drawing.end());
    const auto plain = Wmf(drawing, true), clipped = Wmf(combed, true);
    m.LoadFromBytes(plain.data(), plain.size());
    const std::int64_t alone = DrawOnto(img, m).*work;
    m.LoadFromBytes(clipped.data(), clipped.size());
    s = DrawOnto(img, m);
    EXPECT_GT(alone, 0);
    EXPECT_GT(s.*work, 5 * alone);
    EXPECT_EQ(s.ShapesSkipped + s.StrokesSkipped, 0);
  }
}

TEST(MetafileDamage, CrowdedStrokesStopAtTheBudget) {
  // Thin outlines crossing the frame 16,000 times, as a polyline and as a
  // path, and thousands of lines under a thin pen and under one 60 pixels
  // wide: at the program's size each file kept a read busy for seconds.
  // What the budget cannot pay for is left out; a square after them keeps
  // its fill, and its blue outline while the budget can pay for it. 4,096
  // units onto 64 pixels: lengths come out whole.
  const auto thin = W(0x02FA, {0, 0, 0, 0, 0});
  const auto square = std::vector<std::vector<std::uint8_t>>{
      W(0x02FC, {0, 0x00FF, 0x0000, 0}), W(0x02FA, {0, 0, 0, 0x0000, 0x00FF}), W(0x012D, {1}), W(0x012D, {2}),
      W(0x041B, {3712, 3712, 2560, 2560})}; // 40 to 58 pixels
  auto wmf = [&](std::vector<std::vector<std::uint8_t>> records) {
    records.insert(records.end(), square.begin(), square.end());
    return Wmf(records, true, 4096, 4096);
  };
  std::vector<std::vector<std::uint8_t>> lines{thin, W(0x012D, {0})};
  std::vector<std::vector<std::uint8_t>> flat{W(0x02FA, {0, 3840, 0, 0, 0}), W(0x012D, {0})};
  for (int i = 0; i < 6000; ++i) // 40 pixels each: (x, 1024) to (x, 3584)
    lines.insert(lines.end(), {W(0x0214, {1024, i * 2 / 3}), W(0x0213, {3584, i * 2 / 3})});
  for (int i = 0; i < 3000; ++i) // across, as wide as 60 pixels
    flat.insert(flat.end(), {W(0x0214, {i, 1024}), W(0x0213, {i, 3584})});
  const auto emfSquare = std::vector<std::vector<std::uint8_t>>{
      E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), E(38, Out().u32(2).u32(0).i32(0).i32(0).u32(0xFF0000)),
      E(37, Out().u32(1)), E(37, Out().u32(2)), E(43, Out().i32(2560).i32(2560).i32(3712).i32(3712))};
  auto emf = [&](std::vector<std::vector<std::uint8_t>> records) {
    records.insert(records.end(), emfSquare.begin(), emfSquare.end());
    return Emf(records, 4096 * 508 * 100 / 1920, 4096 * 381 * 100 / 1440);
  };
  const std::int64_t budget = std::llround(2560 * std::hypot(64.0, 64.0)), wideBudget = 4 * 64 * 64;
  struct Case {
    std::vector<std::uint8_t> data;
    // The lines before the square, the work of each and how many of them
    // the budget pays for; none for one crowded outline. Wide lines are paid
    // from a budget of their own.
    std::int64_t count, each, drawn;
    bool wide = false;
  };
  const Case cases[] = {
      {wmf({thin, W(0x012D, {0}), WmfZigzag(0x0325, 16000)}), 1, 0, 0},
      {emf({EmfZigzag(87, 16000)}), 1, 0, 0},
      {emf({E(59, Out()), EmfZigzag(89, 16000), E(60, Out()), E(64, Out())}), 1, 0, 0}, // a stroked path
      {wmf(lines), 6000, 40, budget / 40},
      {wmf(flat), 3000, (40 + 60) * 60, wideBudget / ((40 + 60) * 60), true}, // the wide pen's caps too
  };
  for (const Case& c : cases) {
    TMetafile m;
    m.LoadFromBytes(c.data.data(), c.data.size());
    QImage img(64, 64, QImage::Format_RGB32);
    const TMetafileDrawStats s = DrawOnto(img, m);
    const std::int64_t thinWork = c.wide ? 0 : c.each * c.drawn;
    const bool outlined = budget - thinWork >= 4 * 18;
    EXPECT_EQ(s.StrokeBudget, budget);
    EXPECT_EQ(s.WideStrokeBudget, wideBudget);
    EXPECT_NEAR(double(s.StrokeWork), double(thinWork + (outlined ? 4 * 18 : 0)), 1);
    EXPECT_EQ(s.WideStrokeWork, c.wide ? c.each * c.drawn : 0);
    EXPECT_EQ(s.StrokesSkipped, c.count - c.drawn + !outlined);
    EXPECT_EQ(s.ShapesSkipped, 0);
    EXPECT_EQ(At(img, 50, 50), 0xFF0000u) << "the square's fill";
    EXPECT_EQ(At(img, 40, 50), outlined ? 0x0000FFu : 0xFF0000u) << "the square's outline";
  }
}

TEST(MetafileDamage, EveryTruncationLoadsOrIsRefusedAndDraws) {
  for (const auto& data : {Wmf(PictureRecords(), true), Emf(EmfPictureRecords())}) {
    for (std::size_t n = 0; n <= data.size(); ++n) {
      // An exact-size copy, so the sanitizer sees any read past the end.
      std::vector<std::uint8_t> cut(data.begin(), data.begin() + std::ptrdiff_t(n));
      TMetafile m;
      try {
        m.LoadFromBytes(cut.data(), cut.size());
      } catch (const EInvalidGraphic&) {
        continue;
      }
      Render(m, 50, 40);
    }
  }
}

TEST(MetafileDamage, WmfRecordSizesCountsAndDibs) {
  auto records = PictureRecords();
  // A record claiming more words than the file holds ends the play: the
  // rectangle before it is drawn, the polygon after it is not.
  auto huge = records;
  huge.insert(huge.begin() + 9, Out().u32(0x7FFFFFFF).u16(0x0324).b);
  TMetafile m;
  auto wmf = Wmf(huge, true);
  m.LoadFromBytes(wmf.data(), wmf.size());
  QImage img = Render(m, 100, 80);
  EXPECT_EQ(At(img, 20, 20), 0xFF0000u);
  EXPECT_EQ(At(img, 70, 15), 0xFFFFFFu);
  // A zero-size record would never advance.
  auto zero = records;
  zero.insert(zero.begin() + 9, Out().u32(0).u16(0x0324).b);
  wmf = Wmf(zero, true);
  m.LoadFromBytes(wmf.data(), wmf.size());
  Render(m, 100, 80);
  // Counts beyond their record, DIBs larger than their data, and object
  // indices that were never created are skipped.
  std::vector<std::uint8_t> bigDib = Dib2x2();
  bigDib[4] = 0xFF; bigDib[5] = 0xFF; // width 65535 with 8 bytes of rows
  wmf = Wmf({W(0x0324, {5000, 1, 1}), W(0x0538, {3, 2000, 1, 1}), W(0x012D, {999}), W(0x01F0, {999}),
             W(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 20, 0, 0}, bigDib),
             W(0x0A32, {10, 10, 900, 6, 0, 0}), W(0x0521, {400}), W(0x02FB, {12}),
             W(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 20, 0, 0}, {40, 0, 0, 0}),
             W(0x0127, {unsigned(-50) & 0xFFFF}), W(0x020C, {0, 0})},
            true);
  m.LoadFromBytes(wmf.data(), wmf.size());
  img = Render(m, 100, 80);
  EXPECT_EQ(img, [] { QImage w(100, 80, QImage::Format_RGB32); w.fill(Qt::white); return w; }());
}

TEST(MetafileDamage, EmfOffsetsAndIndicesOutsideTheirRecord) {
  Out blit; // StretchDIBits whose header offset points past the record
  blit.i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(2).i32(2);
  blit.u32(4000).u32(40).u32(80).u32(8).u32(0).u32(0x00CC0020).i32(20).i32(20);
  auto emf = Emf({
      E(39, Out().u32(1).u32(0).u32(0x0000FF).u32(0)), E(37, Out().u32(1)),
      E(43, Out().i32(10).i32(10).i32(40).i32(30)),
      E(39, Out().u32(0x7FFFFFFF).u32(0).u32(0).u32(0)), E(37, Out().u32(0x7FFFFFF0)), // index out of the table
      E(81, blit),
      E(86, Out().i32(0).i32(0).i32(0).i32(0).u32(0x40000000)), // point count beyond the record
      E(91, Out().i32(0).i32(0).i32(0).i32(0).u32(0x20000000).u32(3)), // polygon counts beyond the record
      E(84, Out().i32(0).i32(0).i32(0).i32(0).u32(1).f32(0).f32(0).i32(0).i32(0).u32(1000).u32(7000).u32(0)),
      E(35, Out().f32(0).f32(0).f32(0).f32(0).f32(0).f32(0)), // singular world transform refused
      E(9, Out().i32(0).i32(0)), // zero window extent refused
      E(43, Out().i32(60).i32(10).i32(80).i32(30)),
      Out().u32(43).u32(6).b, // size not a multiple of four ends the play
      E(43, Out().i32(0).i32(50).i32(100).i32(80)),
  });
  TMetafile m;
  m.LoadFromBytes(emf.data(), emf.size());
  QImage img = Render(m, 100, 80);
  EXPECT_EQ(At(img, 20, 20), 0xFF0000u);
  EXPECT_EQ(At(img, 70, 20), 0xFF0000u) << "drawn after the damaged records";
  EXPECT_EQ(At(img, 50, 70), 0xFFFFFFu) << "nothing after the broken record size";
}

// ---------------------------------------------------------------- DIBs

TEST(MetafileDib, BitDepthsAndRefusals) {
  Out mono; // 3 x 1, 1 bit: black, white colour table; bits 1 0 1
  mono.u32(40).i32(3).i32(1).u16(1).u16(1).u32(0).u32(0).i32(0).i32(0).u32(0).u32(0);
  mono.u32(0).u32(0xFFFFFF).u8(0xA0).u8(0).u8(0).u8(0);
  QImage img = DecodeMetafileDIB(mono.b.data(), mono.b.size(), nullptr, 0);
  ASSERT_EQ(img.size(), QSize(3, 1));
  EXPECT_EQ(At(img, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(At(img, 1, 0), 0u);
  Out nib; // 2 x 2 top-down, 4 bits, two colours used
  nib.u32(40).i32(2).i32(-2).u16(1).u16(4).u32(0).u32(0).i32(0).i32(0).u32(2).u32(0);
  nib.u32(0x0000FF).u32(0x00FF00).u8(0x01).u8(0).u8(0).u8(0).u8(0x10).u8(0).u8(0).u8(0);
  img = DecodeMetafileDIB(nib.b.data(), nib.b.size(), nullptr, 0);
  EXPECT_EQ(At(img, 0, 0), 0x0000FFu);
  EXPECT_EQ(At(img, 1, 0), 0x00FF00u);
  EXPECT_EQ(At(img, 0, 1), 0x00FF00u) << "second stored row is the second picture row";
  Out deep; // 1 x 1, 32 bits
  deep.u32(40).i32(1).i32(1).u16(1).u16(32).u32(0).u32(0).i32(0).i32(0).u32(0).u32(0).u8(1).u8(2).u8(3).u8(0);
  img = DecodeMetafileDIB(deep.b.data(), deep.b.size(), nullptr, 0);
  EXPECT_EQ(At(img, 0, 0), 0x030201u);
  Out rle = deep;
  rle.put32(16, 1); // BI_RLE8
  EXPECT_TRUE(DecodeMetafileDIB(rle.b.data(), rle.b.size(), nullptr, 0).isNull());
  EXPECT_TRUE(DecodeMetafileDIB(deep.b.data(), deep.b.size() - 1, nullptr, 0).isNull()) << "short rows";
  Out tall = deep;
  tall.put32(8, 0x40000); // 262144 rows in 4 bytes
  EXPECT_TRUE(DecodeMetafileDIB(tall.b.data(), tall.b.size(), nullptr, 0).isNull());
}

// ---------------------------------------------------------------- writer

TEST(MetafileWriter, RoundTripPixelForPixel) {
  QImage picture(7, 5, QImage::Format_RGB32); // odd width: rows are padded
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) picture.setPixel(x, y, qRgb(x * 36, y * 60, (x * y * 17) & 0xFF));
  TMetafile m;
  m.Assign(picture);
  EXPECT_TRUE(m.Enhanced());
  EXPECT_EQ(m.Width(), 7);
  EXPECT_EQ(m.Height(), 5);
  const auto& d = m.Data();
  auto u32 = [&](std::size_t at) { return std::uint32_t(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | d[at + 3] << 24); };
  EXPECT_EQ(u32(0), 1u);
  EXPECT_EQ(u32(40), 0x464D4520u);
  EXPECT_EQ(u32(48), d.size()) << "bytes in the header";
  EXPECT_EQ(u32(52), 3u) << "header, StretchDIBits, EOF";
  std::size_t second = u32(4);
  EXPECT_EQ(u32(second), 81u);
  EXPECT_EQ(u32(second + 4), 80u + 40u + 24u * 5u) << "24-bit rows of 24 bytes";
  EXPECT_EQ(u32(d.size() - 20), 14u);

  TMemoryStream stream;
  m.SaveToStream(stream);
  stream.SetPosition(0);
  TMetafile back;
  back.LoadFromStream(stream);
  EXPECT_EQ(back.Data(), d);
  QImage drawn = Render(back, 7, 5);
  EXPECT_EQ(drawn.convertToFormat(QImage::Format_RGB32), picture);
  m.Assign(QImage());
  EXPECT_TRUE(m.Empty());
}

// A picture assigned as a WMF: placeable (its checksum right), of its size
// at 96 units an inch, drawn back pixel for pixel; 16-bit sides only.
TEST(MetafileWriter, BitmapBecomesAPlaceableWmf) {
  QImage picture(7, 5, QImage::Format_RGB32);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) picture.setPixel(x, y, qRgb(x * 36, y * 60, (x + y) * 20));
  TMetafile m;
  m.Assign(picture, false);
  EXPECT_FALSE(m.Enhanced());
  EXPECT_EQ(QSize(m.Width(), m.Height()), QSize(7, 5));
  unsigned check = 0;
  for (std::size_t i = 0; i < 22; i += 2) check ^= unsigned(m.Data()[i] | m.Data()[i + 1] << 8);
  EXPECT_EQ(check, 0u);
  EXPECT_EQ(Render(m, 7, 5).convertToFormat(QImage::Format_RGB32), picture);
  EXPECT_THROW(m.Assign(QImage(32768, 1, QImage::Format_RGB32), false), EInvalidGraphic);
}
