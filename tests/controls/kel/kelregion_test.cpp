#include "controls/kel/kelregion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "controls/kel/kel_test_support.h"
#include "platform/stream.h"

using namespace kel;
using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

QRect Bounds(TKelRegion& region, const TRect& rect) {
  const std::optional<QRegion>& r = region.CreateRegion(rect);
  return r ? r->boundingRect() : QRect();
}

// Records the outline calls with the pen they were drawn with.
class TRecorder : public TCanvas {
public:
  TRecorder() : TCanvas(&Dummy()) {}
  std::vector<std::string> Calls;
  void LineTo(int x, int y) override {
    Add("Line", {PenPos.X, PenPos.Y, x, y});
    PenPos = {x, y};
  }
  void Rectangle(int x1, int y1, int x2, int y2) override { Add("Rectangle", {x1, y1, x2, y2}); }
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h) override { Add("RoundRect", {x1, y1, x2, y2, w, h}); }
  void Ellipse(int x1, int y1, int x2, int y2) override { Add("Ellipse", {x1, y1, x2, y2}); }
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) override {
    Add("Arc", {x1, y1, x2, y2, x3, y3, x4, y4});
  }
  void Polygon(const TPoint* points, int count) override { Add("Polygon", {count}); }

private:
  static TBitmap& Dummy() {
    static TBitmap bitmap(1, 1, pf32bit);
    return bitmap;
  }
  void Add(const char* name, std::initializer_list<int> values) {
    std::string s = name;
    for (int v : values) s += " " + std::to_string(v);
    const char* colour = Pen.Color == clLime ? "light" : Pen.Color == clBlue ? "shadow" : Pen.Color == clRed ? "single" : "?";
    Calls.push_back(s + " " + colour + " w" + std::to_string(Pen.Width));
  }
};

void Colours(TKelBorderRegion& region, TKelRegionBorderStyle style) {
  region.Border().SetStyle(style);
  region.Border().SetLightColor(clLime);
  region.Border().SetShadowColor(clBlue);
  region.Border().SetSingleColor(clRed);
}

} // namespace

TEST(KelRegionShapes, RasterShapesLeaveOutRightAndBottom) {
  const QRegion ellipse = KelEllipticRegion(Rect(0, 0, 10, 10));
  EXPECT_EQ(ellipse.boundingRect(), QRect(0, 0, 10, 10));
  EXPECT_TRUE(ellipse.contains(QPoint(5, 5)));
  EXPECT_FALSE(ellipse.contains(QPoint(0, 0)));
  EXPECT_EQ(KelEllipticRegion(Rect(10, 10, 0, 0)), ellipse);
  // Corners of 20: the top row starts at 7 and ends at 92.
  const QRegion round = KelRoundRectRegion(Rect(0, 0, 100, 60), 20, 20);
  EXPECT_EQ(round.boundingRect(), QRect(0, 0, 100, 60));
  for (const auto& [x, y, in] : std::vector<std::tuple<int, int, bool>>{
           {6, 0, false}, {7, 0, true}, {92, 0, true}, {93, 0, false}, {0, 30, true}, {99, 59 - 7, true}, {0, 59, false}})
    EXPECT_EQ(round.contains(QPoint(x, y)), in) << x << "," << y;
  EXPECT_EQ(KelRoundRectRegion(Rect(0, 0, 8, 8), 0, 0), QRegion(0, 0, 8, 8));
}

TEST(KelRegionShapes, EveryShapeBuildsInsideItsRectangle) {
  TKelBorderRegion region;
  const TRect rect = Rect(0, 0, 100, 80);
  const struct {
    TKelRegionShape Shape;
    QRect Bound;
    QPoint In, Out;
  } cases[] = {
      {rsRect, {0, 0, 100, 80}, {99, 79}, {100, 40}},
      {rsRoundRect, {0, 0, 100, 80}, {50, 0}, {0, 0}},
      {rsElliptic, {0, 0, 100, 80}, {50, 40}, {3, 3}},
      {rsStar, {0, 0, 100, 80}, {50, 40}, {5, 5}},
      {rsDiamond, {0, 0, 100, 80}, {50, 40}, {10, 10}},
      {rsOctagon, {0, 0, 100, 80}, {50, 40}, {2, 2}},
      {rsComb, {0, 0, 100, 80}, {50, 40}, {2, 2}},
      {rsHalfRound, {0, -80, 100, 160}, {50, 0}, {2, 78}},
  };
  for (const auto& c : cases) {
    region.SetShape(c.Shape);
    const std::optional<QRegion>& r = region.CreateRegion(rect);
    ASSERT_TRUE(r.has_value()) << int(c.Shape);
    const QRect b = r->boundingRect();
    // The tips of polygons may hold no pixel centre.
    EXPECT_TRUE(c.Bound.adjusted(0, 0, 1, 1).contains(b)) << int(c.Shape);
    EXPECT_LE(b.left() - c.Bound.left() + b.top() - c.Bound.top() + c.Bound.right() - b.right(), 4) << int(c.Shape);
    EXPECT_TRUE(r->contains(c.In)) << int(c.Shape);
    EXPECT_FALSE(r->contains(c.Out)) << int(c.Shape);
  }
  // Missing data: no region.
  for (TKelRegionShape shape : {rsBitmap, rsUserRegion, rsPointList}) {
    region.SetShape(shape);
    EXPECT_FALSE(region.CreateRegion(rect).has_value()) << int(shape);
  }
  region.OwnerDesigning = true;
  region.SetShape(rsUserRegion);
  EXPECT_EQ(Bounds(region, rect), QRect(0, 0, 100, 80));
}

TEST(KelRegionShapes, ShieldsNoseBubblesAndShadow) {
  TKelBorderRegion region;
  // The round shield: the notches take the whole first row and leave two
  // pixels of the second; the lower arc ends in the middle.
  region.SetShape(rsRoundShield);
  const QRegion shield = *region.CreateRegion(Rect(0, 0, 100, 50));
  EXPECT_EQ(shield.intersected(QRegion(0, 0, 100, 1)), QRegion());
  EXPECT_EQ(shield.intersected(QRegion(0, 1, 100, 1)), QRegion(49, 1, 2, 1));
  EXPECT_TRUE(shield.contains(QPoint(50, 49)));
  EXPECT_FALSE(shield.contains(QPoint(5, 49)));
  // Laid out from the origin whatever the rectangle's corner.
  EXPECT_EQ(*region.CreateRegion(Rect(30, 30, 130, 80)), shield);

  // A rectangle 100 wide: a nose of 10, bubbles reaching 16.
  TRect r = Rect(0, 0, 100, 80);
  const std::vector<TPoint> nose = TKelRegion::NosePoints(r, 100 / 10, 5, epLeftTop);
  EXPECT_EQ(r.Left, 10);
  EXPECT_EQ(r.Top, 10);
  EXPECT_EQ(nose[0].X, 0);
  EXPECT_EQ(nose[2].Y, 10 + 5 + 14);
  region.SetShape(rsNoseRect);
  const QRegion noseRegion = *region.CreateRegion(Rect(0, 0, 100, 80));
  EXPECT_TRUE(noseRegion.contains(QPoint(5, 12)));
  EXPECT_FALSE(noseRegion.contains(QPoint(5, 25)));
  TRect b = Rect(0, 0, 100, 80);
  const auto bubbles = TKelRegion::BubblePoints(b, 100 / 6, 4, epLeftTop);
  EXPECT_EQ(b.Left, 16);
  ASSERT_EQ(bubbles.size(), 6u);
  const int expected[][3] = {{0, 0, 0}, {1, 5, 1}, {3, 9, 1}, {7, 13, 2}, {11, 15, 3}, {16, 16, 4}};
  for (std::size_t k = 0; k < bubbles.size(); ++k) {
    EXPECT_EQ(bubbles[k].X, expected[k][0]) << k;
    EXPECT_EQ(bubbles[k].Y, expected[k][1]) << k;
    EXPECT_EQ(bubbles[k].R, expected[k][2]) << k;
  }
  // Bubbles start from nothing: no stray pixel at (0, 0).
  region.SetShape(rsThinkBubble);
  const QRegion thought = *region.CreateRegion(Rect(20, 20, 120, 100));
  EXPECT_FALSE(thought.contains(QPoint(0, 0)));
  EXPECT_TRUE(thought.contains(QPoint(21, 25)));

  // Depth 3: built in (0, 0, 97, 77).
  region.SetShape(rsRect);
  region.Shadow().SetStyle(hssSolid);
  region.Shadow().SetDepth(3);
  EXPECT_EQ(Bounds(region, Rect(0, 0, 100, 80)), QRect(0, 0, 97, 77));
  region.SetRegionOffset({5, 6});
  EXPECT_EQ(Bounds(region, Rect(0, 0, 100, 80)), QRect(5, 6, 92, 71));
}

TEST(KelRegionShapes, SettersAssignAndPoints) {
  TKelBorderRegion region;
  int changes = 0;
  region.OnChange = [&](TKelObject*) { ++changes; };
  region.SetShape(rsRect);
  region.SetRoundX(30);
  EXPECT_EQ(region.RoundX(), 30);
  EXPECT_EQ(changes, 1);
  region.SetShape(rsRoundRect);
  region.SetRoundY(7);
  EXPECT_EQ(changes, 3);
  region.Border().SetStyle(rbRaised);
  EXPECT_EQ(changes, 4);

  TKelBorderRegion target;
  target.Points().Add({1, 2});
  region.Points().Add({7, 7});
  region.Points().Add({9, 9});
  changes = 0;
  target.OnChange = [&](TKelObject*) { ++changes; };
  target.Assign(region);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(target.RoundY(), 7);
  EXPECT_EQ(target.Border().Style(), rbRaised);
  EXPECT_EQ(target.Points().Count(), 1);

  // A point list: a polygon kept as region data.
  TKelBorderRegion poly;
  poly.SetShape(rsPointList);
  for (TPoint p : {TPoint{0, 0}, TPoint{40, 0}, TPoint{0, 40}}) poly.Points().Add(p);
  ASSERT_TRUE(poly.CreateRegion(Rect(0, 0, 1, 1)).has_value());
  EXPECT_EQ(*poly.Handle(), KelPolygonRegion({{0, 0}, {40, 0}, {0, 40}}));
}

TEST(KelRegionData, CodecLayoutAndRoundTrips) {
  const Bytes one = KelRegionToData(QRegion(1, 2, 3, 4));
  const Bytes expected = {32, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 16, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0,
                          6, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 6, 0, 0, 0};
  EXPECT_EQ(one, expected);
  EXPECT_EQ(KelRegionToData(QRegion()).size(), 32u);
  EXPECT_EQ(KelRegionFromData(KelRegionToData(QRegion())), QRegion());
  TKelBorderRegion region;
  for (int shape = rsRect; shape <= rsPointList; ++shape) {
    region.SetShape(TKelRegionShape(shape));
    const std::optional<QRegion>& r = region.CreateRegion(Rect(-7, 3, 393, 303));
    if (!r) continue;
    EXPECT_EQ(KelRegionFromData(KelRegionToData(*r)), *r) << shape;
  }
  // Pieces in any order, overlapping: united.
  Bytes loose = KelRegionToData(QRegion(0, 0, 10, 10));
  loose[8] = 2;
  const Bytes second = {5, 0, 0, 0, 5, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0};
  loose.insert(loose.end(), second.begin(), second.end());
  EXPECT_EQ(KelRegionFromData(loose), QRegion(0, 0, 10, 10).united(QRegion(5, 5, 15, 3)));
}

TEST(KelRegionData, DamagedDataGivesNoRegion) {
  const Bytes good = KelRegionToData(QRegion(1, 2, 3, 4));
  const struct {
    std::size_t At;
    std::uint8_t Value;
    std::size_t Size;
  } cases[] = {
      {0, 31, 48},        // header size
      {4, 2, 48},         // type
      {8, 2, 48},         // one rectangle more than the data holds
      {8, 0xFF, 48},      // a count far beyond
      {40, 0, 48},        // right left of left
      {44, 1, 48},        // bottom above top
      {0, 32, 31},        // shorter than the header
      {0, 32, 47},        // the rectangle cut
      {43, 0x10, 48},     // a coordinate beyond what regions keep
  };
  for (const auto& c : cases) {
    Bytes bad = good;
    bad[c.At] = c.Value;
    bad.resize(c.Size);
    EXPECT_FALSE(KelRegionFromData(bad).has_value()) << c.At << " " << c.Size;
  }
  EXPECT_FALSE(KelRegionFromData(nullptr, 0).has_value());
  // A region whose data is damaged builds nothing.
  TKelBorderRegion region;
  Bytes bad = good;
  bad[4] = 9;
  region.SetRegionData(bad);
  region.SetShape(rsUserRegion);
  EXPECT_FALSE(region.CreateRegion(Rect(0, 0, 5, 5)).has_value());
}

TEST(KelRegionData, PointListStoredForm) {
  TKelBorderRegion region;
  region.Points().Add({5, 300});
  region.Points().Add({32767, 0});
  TMemoryStream s;
  region.WritePointList(s);
  const Bytes expected = {1, 2, 5, 3, 0x2C, 0x01, 3, 0xFF, 0x7F, 2, 0, 0};
  EXPECT_EQ(s.Data(), expected);
  TKelBorderRegion back;
  back.Points().Add({1, 1});
  s.SetPosition(0);
  back.ReadPointList(s);
  ASSERT_EQ(back.Points().Count(), 3);
  EXPECT_EQ(back.Points().Point(2).X, 32767);
  // Refused whole: an x without its y, coordinates outside 0..32767.
  const Bytes refused[] = {{1, 2, 5, 2, 6, 2, 7, 0}, {1, 2, 5, 4, 0x40, 0x9C, 0, 0, 0}, {1, 2, -1 & 0xFF, 2, 1, 0}};
  for (const Bytes& b : refused) {
    TKelBorderRegion r;
    r.SetShape(rsPointList);
    TBytesStream in(b.data(), std::int64_t(b.size()));
    EXPECT_THROW(r.ReadPointList(in), EKelContainerError);
    EXPECT_EQ(r.Points().Count(), 0);
    EXPECT_FALSE(r.CreateRegion(Rect(0, 0, 9, 9)).has_value());
  }
}

TEST(KelRegionPaint, ShadowAndSingleBorderPixels) {
  // A tracing shadow of depth 4: only the crescent, half of it in blue.
  TKelBorderRegion region;
  region.SetShape(rsRect);
  region.Border().SetStyle(rbNone);
  region.Shadow().SetStyle(hssTracing);
  region.Shadow().SetColor(clBlue);
  region.Shadow().SetDepth(4);
  region.CreateRegion(Rect(0, 0, 24, 24));
  TPicture tracing(30, 30, clWhite);
  region.PaintBorder(tracing.Bitmap.Canvas(), Rect(0, 0, 24, 24));
  EXPECT_EQ(tracing.Count(clBlue), 72);
  EXPECT_EQ(tracing(20, 5), clBlue);
  EXPECT_EQ(tracing(20, 4), clWhite);
  EXPECT_EQ(tracing(5, 22), clBlue);
  EXPECT_EQ(tracing(19, 19), clWhite);
  EXPECT_EQ(tracing(3, 3), clWhite);
  // The pen is back to a plain solid pen.
  EXPECT_EQ(tracing.Bitmap.Canvas().Pen.Mode, pmCopy);

  // Solid, but not painted: the rectangle still shrinks.
  region.Shadow().SetStyle(hssSolid);
  region.SetNoShadowPaint(true);
  TPicture quiet(30, 30, clWhite);
  TRect r = Rect(0, 0, 24, 24);
  region.PaintShadow(quiet.Bitmap.Canvas(), r);
  EXPECT_EQ(r.Right, 20);
  EXPECT_EQ(quiet.Count(clWhite), 900);
  // No region, no shadow.
  region.SetNoShadowPaint(false);
  region.SetShape(rsBitmap);
  region.CreateRegion(Rect(0, 0, 24, 24));
  region.PaintBorder(quiet.Bitmap.Canvas(), Rect(0, 0, 24, 24));
  EXPECT_EQ(quiet.Count(clWhite), 900);

  // rbSingle frames the rectangle in SingleColor.
  TKelBorderRegion single;
  single.SetShape(rsRect);
  single.Border().SetSingleColor(clRed);
  TPicture framed(30, 30, clWhite);
  single.PaintBorder(framed.Bitmap.Canvas(), Rect(0, 0, 20, 20));
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {10, 0}, {0, 10}, {19, 19}, {19, 5}})
    EXPECT_EQ(framed(x, y), clRed) << x << "," << y;
  EXPECT_EQ(framed(10, 10), clWhite);
  EXPECT_EQ(framed(25, 25), clWhite);
}

TEST(KelRegionPaint, OutlinesThroughARecordingCanvas) {
  const struct {
    TKelRegionShape Shape;
    TKelRegionBorderStyle Style;
    TRect Rect;
    std::vector<std::string> Calls;
  } cases[] = {
      {rsRoundRect, rbRaised, Rect(0, 0, 100, 60),
       {"RoundRect 0 0 100 60 20 20 light w2", "Arc 0 40 20 60 0 60 10 60 shadow w4", "Line 10 60 90 60 shadow w4",
        "Arc 80 40 100 60 90 60 100 50 shadow w4", "Line 100 50 100 10 shadow w4",
        "Arc 80 0 100 20 100 10 100 0 shadow w4"}},
      {rsRoundRect, rbSingleRaised, Rect(0, 0, 100, 60),
       {"RoundRect 0 0 100 60 20 20 single w2", "RoundRect 1 1 97 57 20 20 light w2",
        "Arc 1 37 21 57 1 57 11 57 shadow w4", "Line 11 57 87 57 shadow w4", "Arc 77 37 97 57 87 57 97 47 shadow w4",
        "Line 97 47 97 11 shadow w4", "Arc 77 1 97 21 97 11 97 1 shadow w4"}},
      {rsRoundShield, rbRaised, Rect(0, 0, 100, 50),
       {"Arc -50 -10 50 10 0 10 50 0 light w2", "Arc 50 -10 150 10 50 0 100 10 light w2",
        "Arc 0 -40 100 50 0 10 50 50 shadow w2", "Arc 0 -40 100 50 50 50 100 10 shadow w2"}},
      {rsSharpShield, rbSingle, Rect(0, 0, 70, 70),
       {"Arc -70 -80 70 80 35 70 70 14 single w2", "Arc 0 -80 140 80 0 14 35 70 single w2",
        "Arc -35 -14 35 14 0 14 35 0 single w2", "Arc 35 -14 105 14 35 0 70 14 single w2"}},
      {rsRect, rbRaisedpsb, Rect(0, 0, 10, 8),
       {"Line 10 0 0 0 light w2", "Line 0 0 0 8 light w2", "Line 0 8 10 8 single w2", "Line 10 8 10 0 single w2",
        "Line 1 7 9 7 shadow w2", "Line 9 7 9 1 shadow w2"}},
      {rsElliptic, rbLowered, Rect(0, 0, 40, 20),
       {"Arc 0 0 40 20 40 0 0 20 shadow w2", "Arc 0 0 40 20 0 20 40 0 light w2"}},
      {rsDiamond, rbSingle, Rect(0, 0, 40, 20), {"Polygon 4 single w2"}},
      {rsBitmap, rbSingle, Rect(0, 0, 40, 20), {}},
  };
  for (const auto& c : cases) {
    TKelBorderRegion region;
    region.SetShape(c.Shape);
    Colours(region, c.Style);
    TRecorder canvas;
    region.PaintBorder(canvas, c.Rect);
    EXPECT_EQ(canvas.Calls, c.Calls) << int(c.Shape) << " " << int(c.Style);
  }
  // Point lists: the colour follows each edge's direction; rbNone draws raised.
  TKelBorderRegion points;
  points.SetShape(rsPointList);
  Colours(points, rbNone);
  for (TPoint p : {TPoint{0, 0}, TPoint{10, 0}, TPoint{10, 10}, TPoint{5, 20}}) points.Points().Add(p);
  TRecorder canvas;
  points.PaintBorder(canvas, Rect(0, 0, 1, 1));
  const std::vector<std::string> expected = {"Line 0 0 10 0 light w2", "Line 10 0 10 10 shadow w2",
                                             "Line 10 10 5 20 shadow w2", "Line 5 20 0 0 shadow w2"};
  EXPECT_EQ(canvas.Calls, expected);
}
