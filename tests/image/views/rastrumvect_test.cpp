#include <QClipboard>
#include <QGuiApplication>
#include <cmath>
#include <gtest/gtest.h>

#include "image/views/rastrumvect.h"
#include "viewtest_support.h"

namespace {

using namespace rv;

std::unique_ptr<TRastrumVect> MakeVect(int W = 120, int H = 100) {
  return viewtest::MakeView<TRastrumVect>(W, H, W, H);
}

TRvVObject Box(int L, int T, int R, int B, platform::TBrushStyle Brush = platform::bsClear) {
  TRvVObject o;
  o.Kind = rvokBox;
  o.Left = L;
  o.Top = T;
  o.Right = R;
  o.Bottom = B;
  o.BrushStyle = Brush;
  return o;
}

TEST(RastrumVectMeasure, UnitsPerPixelFollowTheResolutionAndScale) {
  struct TCase {
    TRvUnits Unit;
    int Dpi;
    double Scale, PerPixel;
    const char* Name;
  } cases[] = {
      {rvuPIXELS, 254, 1, 1, "pixels"},          {rvuPIXELS, 254, 2, 2, "pixels"},
      {rvuINCHES, 100, 1, 0.01, "inches"},       {rvuKM, 254, 1, 1e-7, "km"},
      {rvuMETERS, 254, 1, 1e-4, "mt"},           {rvuCENTIMETERS, 254, 1, 0.01, "cm"},
      {rvuMILLIMETERS, 254, 1, 0.1, "mm"},       {rvuMICRONS, 254, 1, 100, "microns"},
      {rvuNANOMETERS, 254, 0.5, 50000, "nanometers"}, {rvuCENTIMETERS, 0, 1, 0, "cm"},
  };
  for (const TCase& c : cases) {
    EXPECT_NEAR(RvUnitPerPixel(c.Unit, c.Dpi, c.Scale), c.PerPixel, c.PerPixel * 1e-12) << c.Name;
    EXPECT_STREQ(RvUnitName(c.Unit), c.Name);
  }
  auto view = MakeVect();
  view->SetDPI(254, 127);
  view->SetMUnit(rvuCENTIMETERS);
  EXPECT_EQ(view->LengthText(100 * view->UnitPerPixelX()), "1.00 cm");
  EXPECT_DOUBLE_EQ(view->UnitPerPixelY(), 0.02);
  EXPECT_EQ(view->ObjectAt(-1)->RulerUnit, rvuCENTIMETERS) << "the template's ruler follows the unit";
  view->SetMeasureScale(3);
  EXPECT_DOUBLE_EQ(view->UnitPerPixelX(), 0.03);
}

TEST(RastrumVectMeasure, NumberTextsRoundToDigits) {
  struct TCase {
    double Value;
    int Precision, Digits;
    const char* Text;
  } cases[] = {{12.5, 15, 2, "12.50"},   {0, 15, 2, "0.00"},     {-0.001, 15, 2, "0.00"},
               {-3.456, 15, 1, "-3.5"},  {1234.5678, 15, 0, "1235"}, {2.0 / 3, 3, 4, "0.6670"},
               {99999.5, 15, 0, "100000"}};
  for (const TCase& c : cases) EXPECT_EQ(RvFloatText(c.Value, c.Precision, c.Digits), c.Text) << c.Value;
  auto view = MakeVect();
  EXPECT_EQ(view->AngleText(90), "90.00\u00B0");
  view->SetFloatDigits(3);
  EXPECT_EQ(view->AreaText(2), "2.000 pixels\u00B2");
}

TEST(RastrumVectMeasure, SelectionAreaAndPerimeter) {
  auto view = MakeVect();
  view->SetSelectionBase(rvsbBitmap);
  view->SelectRect(10, 10, 19, 19, 0);
  EXPECT_EQ(view->AreaText(view->MeasureSelectionArea()), "100.00 pixels\u00B2");
  EXPECT_DOUBLE_EQ(view->MeasureSelectionPerimeter(), 40);
  // A second polygon drawn the other way round adds its area too.
  TRvSelectionRecord& record = view->CurrentSelection();
  record.AddSeparator();
  for (auto [x, y] : {std::pair{40, 0}, {40, 20}, {50, 20}, {50, 0}}) record.AddPoint(x, y);
  EXPECT_DOUBLE_EQ(view->MeasureSelectionArea(), 300);
  EXPECT_DOUBLE_EQ(view->MeasureSelectionPerimeter(), 100);
  view->SetDPI(254, 254);
  view->SetMUnit(rvuMILLIMETERS);
  EXPECT_NEAR(view->MeasureSelectionArea(), 3, 1e-12);
}

TEST(RastrumVectMeasure, GaugeAnglesTurnCounterClockwiseOnScreen) {
  struct TCase {
    platform::TPoint A, B, C;
    double Degrees;
  } cases[] = {
      {{60, 60}, {20, 60}, {20, 20}, 90},   // east, then north
      {{60, 60}, {20, 60}, {20, 100}, 270}, // east, then south: the mirror
      {{60, 60}, {20, 60}, {0, 60}, 180},   {{60, 60}, {20, 60}, {40, 60}, 0},
      {{0, 0}, {10, 0}, {20, 10}, 135},
  };
  for (const TCase& c : cases) EXPECT_NEAR(RvGaugeAngle(c.A, c.B, c.C), c.Degrees, 1e-9) << c.C.X << "," << c.C.Y;
}

TEST(RastrumVectMeasure, GraduatedRulersDrawAtMostOneTickPerPixel) {
  struct TCase {
    double UnitPerClientPixel, Step, UnitsPerTick;
  } cases[] = {{0.01, 10, 0.1}, {0.1, 1, 0.1}, {0.5, 2, 1}, {1, 1, 1}, {264.5833, 3.7795, 1000}, {2.6e5, 3.846, 1e6}};
  for (const TCase& c : cases) {
    double step, units;
    ASSERT_TRUE(RvGraduation(c.UnitPerClientPixel, step, units));
    EXPECT_NEAR(step, c.Step, 1e-3) << c.UnitPerClientPixel;
    EXPECT_NEAR(units, c.UnitsPerTick, c.UnitsPerTick * 1e-9);
  }
  double step, units;
  EXPECT_FALSE(RvGraduation(0, step, units));
  EXPECT_FALSE(RvGraduation(std::nan(""), step, units));
}

TEST(RastrumVectStore, HandlesAndTheCopyingRule) {
  auto view = MakeVect();
  EXPECT_EQ(view->ObjectAt(-2), nullptr);
  TRvVObject text;
  text.Kind = rvokText;
  text.Left = 50;
  text.Right = 10;
  text.Font = TRvLogFont{};
  text.Points = {{1, 2}};
  const int t = view->AddNewObject(text);
  TRvVObject line = text;
  line.Kind = rvokLine;
  line.Text = "dropped";
  const int l = view->AddNewObject(line);
  EXPECT_EQ(t, 0);
  EXPECT_EQ(l, 1);
  EXPECT_EQ(view->ObjectAt(-2), view->ObjectAt(1));
  EXPECT_NE(view->ObjectAt(-1), nullptr);
  for (int h : {2, 99, -3, -4, -5, -1000})
    EXPECT_EQ(view->ObjectAt(h), nullptr) << h << " names no record";
  const TRvVObject& a = *view->ObjectAt(t);
  EXPECT_EQ(a.Text, std::string()) << "a text object gets an empty text";
  EXPECT_TRUE(a.Font.has_value());
  EXPECT_EQ(a.Name, std::string());
  EXPECT_EQ(a.Left, 10) << "corners ordered";
  EXPECT_TRUE(a.Points.empty());
  const TRvVObject& b = *view->ObjectAt(l);
  EXPECT_FALSE(b.Text.has_value());
  EXPECT_FALSE(b.Font.has_value());
  EXPECT_EQ(b.Left, 50) << "a line keeps its direction";
  EXPECT_EQ(view->DrawingOrder(), (std::vector<int>{0, 1}));
  view->SetObjBitmapIndex(99, 0);
  view->SetObjBitmap(-3, nullptr, nullptr);
}

TEST(RastrumVectStore, TheTemplateStartsFromTheDefaults) {
  auto view = MakeVect();
  const TRvVObject& t = *view->ObjectAt(-1);
  EXPECT_EQ(t.Right - t.Left, 63);
  EXPECT_EQ(t.Style, 15);
  EXPECT_EQ(t.Font->FaceName(), "Arial");
  ASSERT_EQ(t.BitmapIndex, 0);
  const TRvVBitmapEntry& icon = view->SharedBitmaps()[0];
  EXPECT_EQ(icon.Bitmap->Width(), 64);
  EXPECT_EQ(icon.Bitmap->PixelFormat(), platform::pf24bit);
  EXPECT_EQ(icon.MaskKind, 255);
}

TEST(RastrumVectStore, BitmapsAreSharedByPixelsAndTransparency) {
  auto view = MakeVect();
  platform::TBitmap pixels(8, 6, platform::pf24bit);
  pixels.Canvas().Brush.Color = platform::clRed;
  pixels.Canvas().FillRect(platform::Rect(0, 0, 8, 6));
  TRvMask half;
  half.Allocate(8, 6, 8);
  half.Fill(128);
  TRvVObject o;
  o.Kind = rvokBitmap;
  const int a = view->AddNewObject(o), b = view->AddNewObject(o), c = view->AddNewObject(o);
  view->SetObjBitmap(a, &pixels, nullptr);
  view->SetObjBitmap(b, &pixels, nullptr);
  view->SetObjBitmap(c, &pixels, &half);
  const auto& entries = view->SharedBitmaps();
  EXPECT_EQ(view->ObjectAt(a)->BitmapIndex, view->ObjectAt(b)->BitmapIndex);
  EXPECT_EQ(entries[static_cast<std::size_t>(view->ObjectAt(a)->BitmapIndex)].RefCount, 2);
  EXPECT_NE(view->ObjectAt(c)->BitmapIndex, view->ObjectAt(a)->BitmapIndex) << "another transparency";
  // Released entries are reused before the list grows.
  const int freed = view->ObjectAt(c)->BitmapIndex;
  view->SetObjBitmap(c, nullptr, nullptr);
  EXPECT_EQ(view->ObjectAt(c)->BitmapIndex, -1);
  EXPECT_EQ(entries[static_cast<std::size_t>(freed)].Bitmap, nullptr);
  const std::size_t size = entries.size();
  view->SetObjBitmap(c, &pixels, &half);
  EXPECT_EQ(view->ObjectAt(c)->BitmapIndex, freed);
  EXPECT_EQ(entries.size(), size);
  // Given its own entry's pixels again, an object keeps them.
  view->SetObjBitmap(c, entries[static_cast<std::size_t>(freed)].Bitmap.get(), &half);
  EXPECT_EQ(view->ObjectAt(c)->BitmapIndex, freed);
  EXPECT_EQ(entries[static_cast<std::size_t>(freed)].RefCount, 1);
  // A thousand objects made from the template share its one entry.
  TRvVObject icon = *view->ObjectAt(-1);
  icon.Kind = rvokBitmap;
  for (int i = 0; i < 1000; ++i) view->AddNewObject(icon);
  EXPECT_EQ(entries[0].RefCount, 1001);
  EXPECT_EQ(entries.size(), size);
  view->ShareBitmaps = false;
  view->AddNewObject(icon);
  EXPECT_EQ(entries.size(), size + 1);
  view->RemoveAllObjects();
  EXPECT_TRUE(view->SharedBitmaps().empty());
  EXPECT_EQ(view->ObjectAt(-1)->BitmapIndex, -1);
}

TEST(RastrumVectSelect, SelectObjectKeepsEachHandleOnce) {
  auto view = MakeVect();
  view->AddNewObject(Box(0, 0, 10, 10));
  TRvVObject fixed = Box(0, 0, 10, 10);
  fixed.Style = rvosVisible;
  view->AddNewObject(fixed);
  view->AddNewObject(Box(0, 0, 10, 10));
  int events = 0;
  view->OnSelectObject = [&](void*) { ++events; };
  view->SelectObject(0);
  view->SelectObject(0);
  view->SelectObject(1);
  view->SelectObject(-2);
  EXPECT_EQ(view->SelectedObjects(), (std::vector<int>{0, 2})) << "-2 stored as the newest handle";
  EXPECT_EQ(events, 4);
  view->UnselectObject(1);
  EXPECT_EQ(events, 4) << "absent: nothing happens";
  view->UnselectObject(-2);
  EXPECT_EQ(view->SelectedObjects(), (std::vector<int>{0}));
  EXPECT_FALSE(view->IsSelected(2));
}

TEST(RastrumVectHit, DistancesByKind) {
  auto view = MakeVect();
  TRvVObject line;
  line.Kind = rvokLine;
  line.Left = 10, line.Top = 10, line.Right = 50, line.Bottom = 10;
  TRvVObject ellipse = Box(20, 20, 60, 60);
  ellipse.Kind = rvokEllipse;
  TRvVObject tiny = Box(0, 0, 2, 2);
  tiny.Kind = rvokArc;
  TRvVObject polyline;
  polyline.Kind = rvokPolyline;
  polyline.Points = {{0, 0}, {10, 0}};
  polyline.Left = 0, polyline.Top = 0, polyline.Right = 20, polyline.Bottom = 0;
  polyline.BaseRight = 10;
  TRvVObject gauge;
  gauge.Kind = rvokAngle;
  gauge.AnglePoints = {platform::TPoint{0, 0}, platform::TPoint{0, 10}, platform::TPoint{RvNotPlaced, RvNotPlaced}};
  TRvVObject nothing = Box(0, 0, 10, 10);
  nothing.Kind = rvokNone;
  struct TCase {
    const TRvVObject& Obj;
    int X, Y;
    double Distance;
  } cases[] = {
      {line, 30, 14, 4},          {line, 0, 10, 10},           {Box(0, 0, 20, 20), 10, 10, 10},
      {Box(0, 0, 20, 20, platform::bsSolid), 10, 10, 0},     {Box(0, 0, 20, 20), 25, 10, 5},
      {ellipse, 60, 40, 0},       {ellipse, 80, 40, 20},       {tiny, 1, 1, 2147483647.0},
      {polyline, 15, 3, 3},       {gauge, 3, 5, 3},            {nothing, 5, 5, -1},
  };
  for (const TCase& c : cases) EXPECT_DOUBLE_EQ(view->ObjectDistance(c.Obj, c.X, c.Y), c.Distance) << c.X << "," << c.Y;
  // Inside, the ellipse is the 15-gon of its vertices: a chord is nearer
  // than the radius.
  EXPECT_NEAR(view->ObjectDistance(ellipse, 40, 40), 20 * std::cos(M_PI / 15), 0.3);
}

TEST(RastrumVectHit, FindObjectAtTakesTheNearestTopmostWithinTheLimit) {
  auto view = MakeVect(200, 150);
  view->AddNewObject(Box(20, 20, 60, 60));
  view->AddNewObject(Box(100, 20, 140, 60, platform::bsSolid));
  view->AddNewObject(Box(100, 20, 140, 60, platform::bsSolid));
  TRvVObject none = Box(20, 80, 60, 120);
  none.Kind = rvokNone;
  view->AddNewObject(none);
  TRvVObject unknown = none;
  unknown.Kind = static_cast<TRvVObjKind>(10);
  view->AddNewObject(unknown);
  view->MaxSelectionDistance = 4;
  struct TCase {
    double Zoom;
    int X, Y, Found;
  } cases[] = {
      {100, 40, 40, -3}, {100, 21, 40, 0},  {100, 120, 40, 2}, // the top one of two alike
      {100, 40, 100, -3},                                       // shapeless kinds are never hit
      {100, 40, 17, 0},  {100, 40, 16, -3}, {200, 40, 38, 0},  {200, 40, 36, -3},
  };
  for (const TCase& c : cases) {
    view->SetZoom(c.Zoom);
    view->SetViewXY(0, 0);
    double distance;
    EXPECT_EQ(view->FindObjectAt(c.X, c.Y, true, distance), c.Found) << c.Zoom << ": " << c.X << "," << c.Y;
  }
  view->SetZoom(100);
  view->MaxSelectionDistance = -1;
  double distance;
  EXPECT_EQ(view->FindObjectAt(40, 100, true, distance), 0) << "without a limit the nearest shape is hit";
  TRvVObject* box = view->ObjectAt(0);
  box->Style &= static_cast<TRvVObjStyle>(~rvosSelectable);
  EXPECT_EQ(view->FindObjectAt(21, 40, true, distance), 2);
  EXPECT_EQ(view->FindObjectAt(21, 40, false, distance), 0);
}

// One object of each kind with every field that travels.
TRvVectPacket SamplePacket() {
  TRvVectPacket packet;
  TRvVBitmapEntry e;
  e.Bitmap = std::make_unique<platform::TBitmap>(3, 2, platform::pf24bit);
  e.Bitmap->ScanLine(1)[4] = 77;
  e.Mask = std::make_unique<TRvMask>();
  e.Mask->Allocate(3, 2, 8);
  e.Mask->Fill(200);
  packet.Bitmaps.push_back(std::move(e));
  for (int kind = rvokLine; kind <= rvokAngle; ++kind) {
    TRvVObject o = Box(kind, 2 * kind, 10 * kind, 20 * kind);
    o.Kind = static_cast<TRvVObjKind>(kind);
    o.EndShape = rvasTipAtEnd;
    o.PenColor = 0x123456;
    o.PenStyle = platform::psDot;
    o.ArcStart = 0.25;
    o.RulerType = rvrtGraduated;
    o.RulerUnit = rvuMICRONS;
    o.Name = "object " + std::to_string(kind);
    if (kind == rvokBitmap) o.BitmapIndex = 0;
    if (kind == rvokText) {
      o.Text = "caf\u00E9";
      TRvLogFont f;
      f.lfHeight = -13;
      f.lfEscapement = 450;
      f.SetFaceName("Arial");
      o.Font = f;
    }
    if (kind == rvokPolyline) o.Points = {{1, 2}, {3, 4}, {-5, 6}};
    o.AnglePoints = {platform::TPoint{1, 1}, platform::TPoint{2, 2}, platform::TPoint{RvNotPlaced, RvNotPlaced}};
    packet.Objects.push_back(o);
  }
  return packet;
}

TEST(RastrumVectPacket, RoundTripKeepsEveryField) {
  const TRvVectPacket packet = SamplePacket();
  const std::vector<std::uint8_t> bytes = RvVectEncode(packet);
  TRvVectPacket back;
  ASSERT_TRUE(RvVectDecode(bytes.data(), bytes.size(), back));
  ASSERT_EQ(back.Objects.size(), packet.Objects.size());
  for (std::size_t i = 0; i < back.Objects.size(); ++i) {
    const TRvVObject &a = packet.Objects[i], &b = back.Objects[i];
    EXPECT_EQ(std::tie(a.Left, a.Top, a.Right, a.Bottom, a.Kind, a.EndShape, a.PenColor, a.PenStyle, a.ArcStart,
                       a.RulerType, a.RulerUnit, a.BitmapIndex, a.Text, a.Name, a.Font),
              std::tie(b.Left, b.Top, b.Right, b.Bottom, b.Kind, b.EndShape, b.PenColor, b.PenStyle, b.ArcStart,
                       b.RulerType, b.RulerUnit, b.BitmapIndex, b.Text, b.Name, b.Font));
    EXPECT_EQ(a.Points.size(), b.Points.size());
    EXPECT_EQ(a.AnglePoints[1].X, b.AnglePoints[1].X);
  }
  ASSERT_EQ(back.Bitmaps.size(), 1u);
  EXPECT_EQ(back.Bitmaps[0].Bitmap->ScanLine(1)[4], 77);
  EXPECT_EQ(back.Bitmaps[0].Mask->ScanLine(1)[2], 200);
  EXPECT_EQ(back.Objects[7].Points[2].X, -5);
  EXPECT_EQ(RvVectEncode(back), bytes);
}

TEST(RastrumVectPacket, BrokenInputIsRefusedWhole) {
  const std::vector<std::uint8_t> bytes = RvVectEncode(SamplePacket());
  TRvVectPacket back;
  for (std::size_t size = 0; size < bytes.size(); ++size)
    EXPECT_FALSE(RvVectDecode(bytes.data(), size, back)) << "cut at " << size;
  EXPECT_TRUE(back.Objects.empty());
  std::vector<std::uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(RvVectDecode(longer.data(), longer.size(), back)) << "trailing bytes";
  // Offsets: 16 header bytes, the 3 x 2 bitmap takes 9 + 18 + 6.
  const std::size_t firstObject = 16 + 33;
  struct TPatch {
    std::size_t Offset;
    std::uint8_t Value;
    const char* What;
  } patches[] = {{0, 'X', "magic"},           {4, 2, "version"},
                 {8, 0xFF, "bitmap count"},  {12, 0xFF, "object count"},
                 {24, 7, "bits per pixel"},  {firstObject + 17, 3, "arrow shape"},
                 {firstObject + 31, 9, "pen style"}, {firstObject + 40, 8, "brush style"},
                 {firstObject + 48, 0x7F, "arc angle"}};
  for (const TPatch& p : patches) {
    std::vector<std::uint8_t> broken = bytes;
    broken[p.Offset] = p.Value;
    if (p.Offset == firstObject + 48) broken[firstObject + 47] = 0xF0; // infinity
    EXPECT_FALSE(RvVectDecode(broken.data(), broken.size(), back)) << p.What;
  }
}

TEST(RastrumVectPacket, CopyAndPasteBetweenViews) {
  auto a = MakeVect();
  auto b = MakeVect();
  TRvVectPacket packet = SamplePacket();
  a->AddPacket(packet);
  EXPECT_FALSE(a->CopyObjectsToClipboard()) << "nothing selected";
  a->SelectObject(4); // the bitmap
  a->SelectObject(5); // the text
  ASSERT_TRUE(a->CopyObjectsToClipboard());
  int changed = 0;
  b->OnVectorialChanged = [&](void*) { ++changed; };
  EXPECT_EQ(b->PasteObjectsFromClipboard(), 2);
  EXPECT_EQ(changed, 1);
  ASSERT_EQ(b->ObjectsCount(), 2);
  EXPECT_EQ(b->SelectedObjects(), (std::vector<int>{0, 1}));
  EXPECT_EQ(b->ObjectAt(1)->Text, "caf\u00E9");
  const TRvVObject& bitmap = *b->ObjectAt(0);
  ASSERT_GE(bitmap.BitmapIndex, 0);
  EXPECT_EQ(b->SharedBitmaps()[static_cast<std::size_t>(bitmap.BitmapIndex)].RefCount, 1);
  EXPECT_EQ(b->SharedBitmaps()[static_cast<std::size_t>(bitmap.BitmapIndex)].Mask->ScanLine(0)[0], 200);
  // Copying a whole layer brings its bitmaps into the other's own list.
  auto c = MakeVect();
  c->Assign(a.get());
  EXPECT_EQ(c->ObjectsCount(), a->ObjectsCount());
  const TRvVObject& copied = *c->ObjectAt(4);
  EXPECT_EQ(c->SharedBitmaps()[static_cast<std::size_t>(copied.BitmapIndex)].Bitmap->Width(), 3);
  c->Assign(nullptr);
  EXPECT_EQ(c->ObjectsCount(), 0);
}

} // namespace
