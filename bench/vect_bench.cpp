// The vector layer: a frame of 10,000 objects of every kind over a
// 6000 x 4000 picture in a 1920 x 1080 client, beside the same frame with
// the objects hidden ("x_plain"; "uncached_x_plain" with the objects drawn
// every frame, not taken from the layer's kept frame), at fit, at 100 %, at
// 800 % and at 800 % where no object is in view; the frame at fit for each kind alone;
// FindObjectAt per call; one pointer move with the
// measure hint shown, its repaint included; a masked bitmap object
// stretched over the whole client beside Qt's drawImage of a premultiplied
// picture of that size ("x_qt"); and the memory of 1,000 objects made from
// one bitmap, shared and not.
#include "bench_support.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>

#include "image/views/rastrumvect.h"

namespace {

constexpr int kPicW = 6000, kPicH = 4000, kClientW = 1920, kClientH = 1080, kObjects = 10000;

using TClock = std::chrono::steady_clock;
double Since(TClock::time_point T0) { return std::chrono::duration<double>(TClock::now() - T0).count(); }

QImage& Surface() {
  static QImage surface(kClientW, kClientH, QImage::Format_ARGB32_Premultiplied);
  return surface;
}

// A 64 x 64 picture with a round transparency, shared by the bitmap objects.
void MakeSprite(platform::TBitmap& Bitmap, rv::TRvMask& Mask) {
  Bitmap.SetPixelFormat(platform::pf24bit);
  Bitmap.SetSize(64, 64);
  Mask.Allocate(64, 64, 8);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* p = Bitmap.ScanLine(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(4 * x);
      p[1] = static_cast<std::uint8_t>(4 * y);
      p[2] = 200;
      const int d = (x - 32) * (x - 32) + (y - 32) * (y - 32);
      Mask.ScanLine(y)[x] = static_cast<std::uint8_t>(d < 900 ? 255 : (d < 1024 ? 128 : 0));
    }
}

rv::TRastrumVect& View() {
  static rv::TRastrumVect* view = [] {
    bench::EnsureApplication();
    auto* v = new rv::TRastrumVect;
    v->SetBorderStyle(rv::bsNone);
    v->resize(kClientW, kClientH);
    v->show();
    // The window is exposed once its events are in: then it can repaint.
    QApplication::processEvents();
    platform::TBitmap picture(kPicW, kPicH, platform::pf24bit);
    const auto bytes = bench::PhotoLikeBytes(kPicW, kPicH, 4242);
    for (int y = 0; y < kPicH; ++y)
      std::memcpy(picture.ScanLine(y), bytes.data() + static_cast<std::size_t>(y) * kPicW * 3, kPicW * 3);
    v->Assign(&picture);
    platform::TBitmap sprite;
    rv::TRvMask mask;
    MakeSprite(sprite, mask);
    std::mt19937 random(7);
    auto at = [&](int Limit) { return static_cast<int>(random() % static_cast<unsigned>(Limit)); };
    for (int i = 0; i < kObjects; ++i) {
      rv::TRvVObject o = *v->ObjectAt(-1);
      o.Kind = static_cast<rv::TRvVObjKind>(rv::rvokLine + i % 9);
      o.Left = at(kPicW - 200);
      o.Top = at(kPicH - 200);
      // The top-left corner stays free: a view there shows no object.
      if (o.Left < 600 && o.Top < 600) o.Left += 600;
      o.Right = o.Left + 20 + at(180);
      o.Bottom = o.Top + 20 + at(180);
      o.PenColor = static_cast<platform::TColor>(random() & 0xFFFFFF);
      o.PenWidth = 1 + i % 3;
      o.EndShape = i % 2 ? rv::rvasTipAtEnd : rv::rvasNone;
      o.RulerType = i % 4 == 0 ? rv::rvrtGraduated : rv::rvrtLabelMiddle;
      o.Text = "Object " + std::to_string(i);
      o.ArcEnd = 3;
      const int x = o.Left, y = o.Top;
      if (o.Kind == rv::rvokPolyline) {
        o.Left = rv::RvVectEmptyBox.Left;
        o.Top = rv::RvVectEmptyBox.Top;
        o.Right = rv::RvVectEmptyBox.Right;
        o.Bottom = rv::RvVectEmptyBox.Bottom;
      }
      o.AnglePoints = {platform::TPoint{o.Right, o.Bottom}, platform::TPoint{o.Left, o.Bottom},
                       platform::TPoint{o.Left + at(100), o.Top}};
      const int h = v->AddNewObject(o);
      if (o.Kind == rv::rvokBitmap) v->SetObjBitmap(h, &sprite, &mask);
      if (o.Kind == rv::rvokPolyline)
        for (int k = 0; k < 8; ++k) v->AddPolylinePoint(h, x + at(180), y + at(180));
    }
    return v;
  }();
  return *view;
}

void SetZoom(rv::TRastrumView& V, double Zoom) {
  if (Zoom <= 0) V.Fit();
  else V.SetZoom(Zoom);
  V.SetViewXY(V.ViewX(), V.ViewY());
}

double BestFrame(rv::TRastrumVect& V, int Rounds) {
  double best = 1e30;
  for (int i = 0; i < Rounds; ++i) {
    const auto t0 = TClock::now();
    V.Update();
    V.render(&Surface());
    best = std::min(best, Since(t0));
  }
  return best;
}

void Frame(benchmark::State& State, double Zoom, bool Corner) {
  rv::TRastrumVect& v = View();
  SetZoom(v, Zoom);
  if (Corner) v.SetViewXY(0, 0);
  v.SetObjectsHidden(false);
  double best = 1e30;
  for (auto _ : State) best = std::min(best, BestFrame(v, 1));
  const int drawn = v.DrawnObjectsCount();
  v.SetObjectsHidden(true);
  const double plain = BestFrame(v, 5);
  v.SetObjectsHidden(false);
  v.SetCacheObjects(false);
  const double uncached = BestFrame(v, 10);
  v.SetCacheObjects(true);
  State.counters["best_ms"] = best * 1000;
  State.counters["plain_ms"] = plain * 1000;
  State.counters["x_plain"] = best / plain;
  State.counters["uncached_x_plain"] = uncached / plain;
  State.counters["drawn"] = drawn;
  State.counters["zoom"] = v.Zoom();
}

// A frame at fit with the objects of one kind alone shown, for each kind:
// where the time of the whole frame goes.
void FrameByKind(benchmark::State& State) {
  rv::TRastrumVect& v = View();
  SetZoom(v, 0);
  // The drawing itself, not the kept frame.
  v.SetCacheObjects(false);
  for (auto _ : State) {
    for (int kind = rv::rvokLine; kind <= rv::rvokAngle; ++kind) {
      for (int h = 0; h < v.ObjectsCount(); ++h) {
        rv::TRvVObject& o = *v.ObjectAt(h);
        o.Style = o.Kind == kind ? 15 : 15 & ~rv::rvosVisible;
      }
      static const char* const names[] = {"", "line", "box", "ellipse", "arc", "bitmap", "text", "ruler", "polyline", "angle"};
      State.counters[names[kind]] = BestFrame(v, 3) * 1000;
    }
  }
  for (int h = 0; h < v.ObjectsCount(); ++h) v.ObjectAt(h)->Style = 15;
  v.SetObjectsHidden(true);
  State.counters["none"] = BestFrame(v, 3) * 1000;
  v.SetObjectsHidden(false);
  v.SetCacheObjects(true);
}

void FindObject(benchmark::State& State) {
  rv::TRastrumVect& v = View();
  SetZoom(v, 0);
  v.render(&Surface());
  std::mt19937 random(11);
  int hits = 0, calls = 0;
  for (auto _ : State) {
    double distance;
    const int x = static_cast<int>(random() % kClientW), y = static_cast<int>(random() % kClientH);
    hits += v.FindObjectAt(x, y, true, distance) >= 0;
    ++calls;
  }
  State.counters["hit_share"] = static_cast<double>(hits) / calls;
}

// One pointer move while a drag measure shows its hint: the event, then the
// repaint of the rectangles it left dirty.
void HintMove(benchmark::State& State) {
  rv::TRastrumVect& v = View();
  SetZoom(v, 0);
  v.SetVectInteract(rv::mviMeasureDrag);
  v.render(&Surface());
  auto send = [&](QEvent::Type Type, QPoint P, Qt::MouseButtons Buttons) {
    QMouseEvent e(Type, QPointF(P), v.mapToGlobal(QPointF(P)), Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  Buttons, Qt::NoModifier);
    QApplication::sendEvent(&v, &e);
  };
  send(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton);
  int paints = 0;
  v.OnPaint = [&](void*) { ++paints; };
  int step = 0;
  double best = 1e30;
  for (auto _ : State) {
    const QRect before = v.MeasureHintRect();
    const auto t0 = TClock::now();
    send(QEvent::MouseMove, {300 + step % 800, 200 + (step * 7) % 600}, Qt::LeftButton);
    // What the move left to repaint: where the hint was and where it is.
    v.repaint(QRegion(before) + QRegion(v.MeasureHintRect()));
    best = std::min(best, Since(t0));
    ++step;
  }
  send(QEvent::MouseButtonRelease, {300, 200}, Qt::NoButton);
  v.OnPaint = nullptr;
  v.SetVectInteract(0);
  State.counters["best_ms"] = best * 1000;
  State.counters["paints_per_move"] = static_cast<double>(paints) / step;
  State.counters["of_1ms"] = best / 0.001;
}

// A masked 640 x 360 bitmap stretched over the whole client, drawn by the
// object pass into a frame, beside Qt blending a premultiplied picture of
// the client's size.
void MaskedStretch(benchmark::State& State) {
  bench::EnsureApplication();
  static rv::TRastrumVect* v = [] {
    auto* view = new rv::TRastrumVect;
    view->SetBorderStyle(rv::bsNone);
    view->resize(kClientW, kClientH);
    view->show();
    platform::TBitmap picture(kClientW, kClientH, platform::pf24bit);
    view->Assign(&picture);
    platform::TBitmap big(640, 360, platform::pf24bit);
    rv::TRvMask mask;
    mask.Allocate(640, 360, 8);
    for (int y = 0; y < 360; ++y)
      for (int x = 0; x < 640; ++x) {
        std::memset(big.ScanLine(y) + 3 * x, (x + y) & 255, 3);
        mask.ScanLine(y)[x] = static_cast<std::uint8_t>(x * 255 / 639);
      }
    rv::TRvVObject o;
    o.Kind = rv::rvokBitmap;
    o.Left = o.Top = 0;
    o.Right = kClientW - 1;
    o.Bottom = kClientH - 1;
    view->SetObjBitmap(view->AddNewObject(o), &big, &mask);
    return view;
  }();
  platform::TBitmap frame(kClientW, kClientH, platform::pf32bit);
  double best = 1e30;
  for (auto _ : State) {
    const auto t0 = TClock::now();
    v->DrawObjects(frame.Canvas());
    best = std::min(best, Since(t0));
  }
  QImage premultiplied(kClientW, kClientH, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < kClientH; ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(premultiplied.scanLine(y));
    for (int x = 0; x < kClientW; ++x) row[x] = qPremultiply(qRgba(x & 255, y & 255, 90, x * 255 / (kClientW - 1)));
  }
  QImage target(kClientW, kClientH, QImage::Format_RGB32);
  double qt = 1e30;
  for (int i = 0; i < 10; ++i) {
    const auto t0 = TClock::now();
    QPainter p(&target);
    p.drawImage(0, 0, premultiplied);
    p.end();
    qt = std::min(qt, Since(t0));
  }
  State.counters["best_ms"] = best * 1000;
  State.counters["qt_ms"] = qt * 1000;
  State.counters["x_qt"] = best / qt;
}

double ResidentMB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// 1,000 bitmap objects made from one 512 x 512 picture with its mask.
void SharedMemory(benchmark::State& State, bool Share) {
  bench::EnsureApplication();
  platform::TBitmap picture(512, 512, platform::pf24bit);
  rv::TRvMask mask;
  mask.Allocate(512, 512, 8);
  mask.Fill(200);
  double grown = 0;
  std::size_t entries = 0;
  for (auto _ : State) {
    rv::TRastrumVect v;
    v.ShareBitmaps = Share;
    const double before = ResidentMB();
    rv::TRvVObject o;
    o.Kind = rv::rvokBitmap;
    for (int i = 0; i < 1000; ++i) v.SetObjBitmap(v.AddNewObject(o), &picture, &mask);
    grown = ResidentMB() - before;
    entries = 0;
    for (const rv::TRvVBitmapEntry& e : v.SharedBitmaps()) entries += e.Bitmap != nullptr;
  }
  State.counters["entries"] = static_cast<double>(entries);
  State.counters["rss_growth_MB"] = grown;
  State.counters["one_bitmap_MB"] = 512 * 512 * 4 / double(1 << 20);
}

} // namespace

BENCHMARK_CAPTURE(Frame, Fit, 0.0, false)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(Frame, Zoom100, 100.0, false)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(Frame, Zoom800, 800.0, false)->Unit(benchmark::kMillisecond)->Iterations(10);
// Every object out of view: what the ones not drawn cost.
BENCHMARK_CAPTURE(Frame, Zoom800_noneInView, 800.0, true)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(FrameByKind)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(FindObject)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(HintMove)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(MaskedStretch)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(SharedMemory, Shared, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(SharedMemory, Copies, false)->Unit(benchmark::kMillisecond)->Iterations(1);
