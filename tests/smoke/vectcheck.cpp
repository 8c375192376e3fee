// Shows a real picture at fit in a window on the display with one vector
// object of each kind over it, a selected box with its grips and the
// measure hint; takes a screenshot of the whole screen and checks its
// pixels: each object in its own pure colour where it was put, the grips
// inverting what lies under them, the hint's brush, and everywhere else
// the layer's rendering as the window shows it.
// Usage: vectcheck <picture> <screenshot file>
#include <QApplication>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "image/io/rastrumio.h"
#include "image/views/rastrumvect.h"
#include "screencheck.h"

namespace {

using namespace rv;

int Fail(const char* What) { return screencheck::Fail("VECT CHECK", What); }

struct TPlaced {
  const char* Name;
  TRvVObjKind Kind;
  double L, T, R, B; // fractions of the picture
  platform::TColor Color;
  int Least;         // pixels of the pure colour expected in its box
};

const TPlaced kObjects[] = {
    {"line", rvokLine, 0.05, 0.10, 0.45, 0.10, platform::clRed, 300},
    {"box", rvokBox, 0.55, 0.05, 0.70, 0.20, platform::clNavy, 2000},
    {"ellipse", rvokEllipse, 0.75, 0.05, 0.95, 0.25, platform::clLime, 300},
    {"arc", rvokArc, 0.05, 0.30, 0.25, 0.50, platform::clYellow, 150},
    {"bitmap", rvokBitmap, 0.30, 0.30, 0.45, 0.45, platform::clFuchsia, 2000},
    {"text", rvokText, 0.50, 0.30, 0.85, 0.42, platform::clAqua, 100},
    {"ruler", rvokRuler, 0.05, 0.60, 0.45, 0.60, platform::clTeal, 300},
    {"polyline", rvokPolyline, 0.50, 0.55, 0.90, 0.70, platform::clPurple, 300},
    {"gauge", rvokAngle, 0.10, 0.75, 0.30, 0.90, platform::clOlive, 150},
};

QRgb Rgb(platform::TColor C) { return platform::ColorToQRgb(C) & 0xFFFFFF; }

void Place(TRastrumVect& View) {
  const int w = View.GetBitmap()->Width(), h = View.GetBitmap()->Height();
  const double z = View.Zoom() / 100;
  for (const TPlaced& p : kObjects) {
    TRvVObject o = *View.ObjectAt(-1);
    o.Kind = p.Kind;
    o.Left = static_cast<int>(p.L * w);
    o.Top = static_cast<int>(p.T * h);
    o.Right = static_cast<int>(p.R * w);
    o.Bottom = static_cast<int>(p.B * h);
    o.PenColor = p.Color;
    o.PenWidth = static_cast<int>(std::ceil(3 / z));
    o.BrushColor = p.Color;
    o.BrushStyle = p.Kind == rvokBox ? platform::bsSolid : platform::bsClear;
    o.ArcEnd = std::numbers::pi;
    o.Text = "Pictrova";
    o.Font->lfHeight = -static_cast<int>(28 / z);
    o.Font->lfWeight = 700;
    if (p.Kind == rvokRuler || p.Kind == rvokAngle) o.PenWidth = 3;
    if (p.Kind == rvokPolyline) o.Left = o.Top = 1000000, o.Right = o.Bottom = -1000000;
    o.AnglePoints = {platform::TPoint{o.Right, o.Bottom}, platform::TPoint{o.Left, o.Bottom},
                     platform::TPoint{o.Left, o.Top}};
    const int handle = View.AddNewObject(o);
    if (p.Kind == rvokBitmap) {
      platform::TBitmap solid(16, 16, platform::pf24bit);
      solid.Canvas().Brush.Color = p.Color;
      solid.Canvas().FillRect(platform::Rect(0, 0, 16, 16));
      View.SetObjBitmap(handle, &solid, nullptr);
    }
    if (p.Kind == rvokPolyline)
      for (int i = 0; i <= 8; ++i)
        View.AddPolylinePoint(handle, static_cast<int>((p.L + (p.R - p.L) * i / 8) * w),
                              static_cast<int>((i % 2 ? p.B : p.T) * h));
  }
  View.SelectObject(1);
  View.SetVectInteract(mviMeasureDrag);
  View.SetMeasureHintVisible(true);
  View.ShowMeasureHint(600, 450);
  View.Update();
}

int Check(TRastrumVect& View, const QImage& Screen) {
  const QPoint origin = View.mapToGlobal(QPoint(View.FrameWidth(), View.FrameWidth()));
  auto at = [&](int X, int Y) { return Screen.pixel(origin.x() + X, origin.y() + Y) & 0xFFFFFF; };
  const QImage& back = View.BackBuffer().Image();
  auto rendered = [&](int X, int Y) { return back.pixel(X, Y) & 0xFFFFFF; };
  int failures = 0;
  for (int i = 0; i < static_cast<int>(std::size(kObjects)); ++i) {
    const TPlaced& p = kObjects[i];
    const TRvVObject& o = *View.ObjectAt(i);
    const int x1 = View.BitmapToScreenX(std::min(o.Left, o.Right)) - 4, x2 = View.BitmapToScreenX(std::max(o.Left, o.Right)) + 4;
    const int y1 = View.BitmapToScreenY(std::min(o.Top, o.Bottom)) - 4, y2 = View.BitmapToScreenY(std::max(o.Top, o.Bottom)) + 4;
    int count = 0;
    for (int y = std::max(y1, 0); y <= std::min(y2, View.ExtentY() - 1); ++y)
      for (int x = std::max(x1, 0); x <= std::min(x2, View.ExtentX() - 1); ++x) count += at(x, y) == Rgb(p.Color);
    std::printf("%-8s %6d pixels of %06x (at least %d)\n", p.Name, count, Rgb(p.Color), p.Least);
    if (count < p.Least) ++failures;
  }
  if (failures > 0) return Fail("objects");

  // The selected box's top-left grip: a square outline inverting the
  // rendering under it.
  const TRvVObject& box = *View.ObjectAt(1);
  const int gx = View.BitmapToScreenX(box.Left), gy = View.BitmapToScreenY(box.Top), h = View.GripSize;
  int inverted = 0;
  for (int x = gx - h; x < gx + h; ++x) inverted += at(x, gy - h) == (~rendered(x, gy - h) & 0xFFFFFF);
  std::printf("grip: %d of %d edge pixels inverted\n", inverted, 2 * h);
  if (inverted != 2 * h) return Fail("grips");

  const QRect hint = View.MeasureHintRect();
  const QRgb brush = at(hint.left() + 7, hint.top() + 8);
  std::printf("hint \"%s\" at %d,%d: brush %06x\n", View.MeasureHintText().c_str(), hint.x(), hint.y(), brush);
  if (hint.isEmpty() || brush != 0xFFFF60) return Fail("measure hint");

  // Everywhere else the window shows what the layer rendered.
  long same = 0, compared = 0;
  for (int y = 0; y < View.ExtentY(); y += 3)
    for (int x = 0; x < View.ExtentX(); x += 3) {
      if (hint.adjusted(-2, -2, 2, 2).contains(x, y) || (std::abs(x - gx) <= h + 2 && std::abs(y - gy) <= h + 2)) continue;
      bool nearGrip = false;
      const int gx2 = View.BitmapToScreenX(box.Right), gy2 = View.BitmapToScreenY(box.Bottom);
      const int cx = (gx + gx2) / 2, cy = (gy + gy2) / 2;
      for (QPoint g : {QPoint(gx2, gy), QPoint(gx, gy2), QPoint(gx2, gy2), QPoint(cx, cy)})
        nearGrip = nearGrip || (std::abs(x - g.x()) <= h + 2 && std::abs(y - g.y()) <= h + 2);
      if (nearGrip) continue;
      ++compared;
      same += at(x, y) == rendered(x, y);
    }
  std::printf("elsewhere: %ld of %ld pixels as rendered\n", same, compared);
  if (compared < 20000 || same < compared * 0.995) return Fail("the window against the rendering");
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: vectcheck <picture> <screenshot file>");
  QApplication app(argc, argv);
  const QString shotFile = QString::fromLocal8Bit(argv[2]);
  QWidget window;
  window.setGeometry(0, 0, 800, 600);
  TRastrumVect view(&window);
  view.setGeometry(0, 0, 800, 600);
  view.GetIO()->LoadFromFile(argv[1]);
  if (view.GetBitmap()->Width() < 100) return Fail("the picture did not load");
  view.Fit();
  Place(view);
  window.show();

  return screencheck::ShootWhenSettled(app, view, shotFile, "VECT CHECK",
                                       [&](const QImage& Screen) { return Check(view, Screen); });
}
