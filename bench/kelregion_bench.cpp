// Window regions beside their peers ("per_..." is our time over the peer's):
// CreateRegion of every shape at 400 x 300 beside QRegion(rect); the
// region's shadow (solid, tracing) and the raised border of a round
// rectangle beside QPainter::fillRect of the same area; one resize step of
// a shaped 400 x 300 form (region, mask, background, border) and the bytes
// the form shape then holds.
#include "controls/kel/kelformshape.h"
#include "controls/kel/kelregion.h"

#include <QPainter>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <chrono>

#include "kel_bench_support.h"

namespace {

using namespace kel;
using namespace platform;

double RegionPeerSeconds() {
  const int rounds = 20000;
  std::int64_t sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) sink += QRegion(QRect(0, i & 1, 400, 300)).rectCount();
  benchmark::DoNotOptimize(sink);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

// A region of the shape, its data (point list, mask, user region) in place.
void Prepare(TKelBorderRegion& region, TKelRegionShape shape) {
  region.SetShape(shape);
  const QRegion ellipse = KelEllipticRegion(Rect(0, 0, 400, 300));
  if (shape == rsBitmap) {
    TKelRegionMask mask;
    mask.SetRegionData(KelRegionToData(ellipse));
    region.SetMask(mask);
  }
  if (shape == rsUserRegion) region.SetRegionData(KelRegionToData(ellipse));
  if (shape == rsPointList)
    for (TPoint p : {TPoint{0, 0}, TPoint{400, 40}, TPoint{360, 300}, TPoint{20, 260}}) region.Points().Add(p);
}

void BM_CreateRegion(benchmark::State& state) {
  TKelBorderRegion region;
  Prepare(region, TKelRegionShape(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(region.CreateRegion(Rect(0, 0, 400, 300)));
  state.counters["rects"] = double(region.Handle() ? region.Handle()->rectCount() : 0);
  state.counters["per_QRegion"] = benchmark::Counter(
      RegionPeerSeconds(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CreateRegion)->DenseRange(rsRect, rsPointList);

// 0 solid shadow, 1 tracing shadow, 2 raised border of the round rectangle.
void BM_RegionPaint(benchmark::State& state) {
  TKelBorderRegion region;
  region.Shadow().SetStyle(state.range(0) == 1 ? hssTracing : hssSolid);
  region.Shadow().SetDepth(6);
  region.Border().SetStyle(rbRaised);
  region.CreateRegion(Rect(0, 0, 400, 300));
  TBitmap target(400, 300, pf32bit);
  for (auto _ : state) {
    TRect r = Rect(0, 0, 400, 300);
    if (state.range(0) < 2) region.PaintShadow(target.Canvas(), r);
    else region.PaintBorder(target.Canvas(), r);
  }
  state.SetLabel(state.range(0) == 0 ? "solid shadow" : state.range(0) == 1 ? "tracing shadow" : "raised border");
  kelbench::PerFillRect(state, 400, 300);
}
BENCHMARK(BM_RegionPaint)->DenseRange(0, 2);

// Offscreen windows keep no masks, and say so on every resize.
void QuietMasks(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("window masks")) return;
  qt_message_output(type, context, message);
}

void BM_ShapedFormResize(benchmark::State& state) {
  qInstallMessageHandler(QuietMasks);
  QWidget form;
  form.resize(400, 300);
  TKelFormShape shape(&form);
  shape.Region().Shadow().SetStyle(hssTracing);
  shape.Region().Shadow().SetDepth(6);
  shape.Region().Border().SetStyle(rbRaised);
  shape.FillObject().SetStyle(sfGradient);
  form.show();
  QImage screen(401, 301, QImage::Format_RGB32);
  int step = 0;
  for (auto _ : state) {
    ++step;
    form.resize(400 + (step & 1), 300 + (step & 1));
    QPainter painter(&screen);
    form.render(&painter);
  }
  std::size_t held = sizeof(TKelFormShape) + std::size_t(shape.WindowRegion().rectCount()) * sizeof(QRect);
  if (shape.Region().Handle()) held += std::size_t(shape.Region().Handle()->rectCount()) * sizeof(QRect);
  if (const TBitmap* background = shape.BackgroundBitmap()) held += std::size_t(background->Image().sizeInBytes());
  state.counters["held_bytes"] = double(held);
  state.counters["of_60Hz"] =
      benchmark::Counter(1.0 / 60, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ShapedFormResize)->Unit(benchmark::kMillisecond);

} // namespace
