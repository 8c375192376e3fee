// The control library's painting beside QPainter::fillRect of the same area
// ("ratio" is our time over the peer's): a 75 x 25 shape button with caption
// and glyph per state, 16-colour gradients per style at 80 x 20 and
// 400 x 300, a tracing shadow, a full repaint of 40 buttons (its share of a
// 16.7 ms frame), the glyph cache's bytes for the forms' 27 glyphs and
// progress updates with the heap allocations each makes.
#include "app/helpdlg.h"
#include "controls/kel/kelprogressfill.h"
#include "controls/kel/kelshapebutton.h"

#include <QApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

#include "allocations.h"
#include "kel_bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace kel;
using namespace platform;
using kelbench::PerFillRect;

void FormValues(TKelShapeButton& b) { app::ApplyFormButtonValues(b); }

struct Glyph : TBitmap {
  Glyph(int w, int h) : TBitmap(w, h, pf24bit) {
    KelFillSolidBitmap(*this, Rect(0, 0, w, h), clOlive);
    Canvas().Brush.Color = clNavy;
    Canvas().FillRect(Rect(2, 2, w - 2, h - 2));
  }
};

void BM_FillRectPeer(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  QImage image(w, h, QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter p(&image);
    p.fillRect(QRect(0, 0, w, h), QColor(10, 20, 30));
  }
}
BENCHMARK(BM_FillRectPeer)->Args({75, 25})->Args({80, 20})->Args({400, 300});

void BM_ShapeButton(benchmark::State& state) {
  TKelShapeButton button;
  button.resize(75, 25);
  FormValues(button);
  button.SetCaption("Open");
  button.SetGlyph(Glyph(16, 16));
  const auto s = TKelButtonState(state.range(0));
  if (s == bsDisabled) button.setEnabled(false);
  else button.SetState(s);
  TBitmap work(75, 25, pf32bit);
  for (auto _ : state) button.PaintTo(work.Canvas());
  state.SetLabel(s == bsUp ? "up" : s == bsMouseOver ? "mouse over" : s == bsDown ? "down" : "disabled");
  PerFillRect(state, 75, 25);
}
BENCHMARK(BM_ShapeButton)->Arg(bsUp)->Arg(bsMouseOver)->Arg(bsDown)->Arg(bsDisabled);

void BM_Gradient(benchmark::State& state) {
  const int w = int(state.range(1)), h = int(state.range(2));
  TKelGradient g;
  g.SetStyle(TKelGradientStyle(state.range(0)));
  TBitmap target(w, h, pf32bit);
  for (auto _ : state) KelGradientFill(target.Canvas(), Rect(0, 0, w, h), g.Style(), 0, 0, nullptr, &g.Colors());
  PerFillRect(state, w, h);
}
void GradientArgs(benchmark::internal::Benchmark* b) {
  for (int style = gstHorizontal; style <= gstTopRightDiagonal; ++style) {
    b->Args({style, 80, 20});
    b->Args({style, 400, 300});
  }
}
BENCHMARK(BM_Gradient)->Apply(GradientArgs);

void BM_TracingShadow(benchmark::State& state) {
  TKelShadow shadow;
  shadow.SetStyle(hssTracing);
  shadow.SetDepth(3);
  TKelSimpleBevel bevel;
  bevel.SetWidth(1);
  bevel.SetStyle(sbOffset);
  TBitmap target(75, 25, pf32bit);
  for (auto _ : state)
    KelShapePaint(Rect(0, 0, 75, 25), target.Canvas(), stRoundRect, clWhite, clWhite, nullptr, &shadow, &bevel, 33,
                  TBrush{clBtnFace, bsSolid, {}}, false);
  PerFillRect(state, 75, 25);
}
BENCHMARK(BM_TracingShadow);

void BM_FortyButtonsRepaint(benchmark::State& state) {
  QWidget form;
  form.resize(8 * 80, 5 * 30);
  std::vector<TKelShapeButton*> buttons;
  for (int i = 0; i < 40; ++i) {
    auto* b = new TKelShapeButton(&form);
    b->setGeometry((i % 8) * 80, (i / 8) * 30, 75, 25);
    FormValues(*b);
    b->SetCaption("Button");
    if (i % 3 == 0) b->SetGlyph(Glyph(16, 16));
    if (i % 4 == 0) b->setEnabled(false);
  }
  QImage screen(form.size(), QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter p(&screen);
    form.render(&p);
  }
  state.counters["of_60Hz"] = benchmark::Counter(1.0 / 60, benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}
BENCHMARK(BM_FortyButtonsRepaint)->Unit(benchmark::kMillisecond);

void BM_GlyphCacheForms(benchmark::State& state) {
  // The forms' 27 glyphs: single images, most 16 x 16, some up to 24 x 22;
  // ten start disabled.
  const int sizes[][2] = {{16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16},
                          {16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16},
                          {16, 16}, {16, 16}, {16, 16}, {16, 16}, {20, 20}, {20, 20}, {20, 20},
                          {24, 22}, {24, 22}, {24, 22}, {24, 22}, {18, 18}, {18, 18}};
  std::int64_t bytes = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<TKelGlyph>> glyphs;
    for (int i = 0; i < 27; ++i) {
      glyphs.push_back(std::make_unique<TKelGlyph>());
      glyphs.back()->SetGlyph(Glyph(sizes[i][0], sizes[i][1]));
      glyphs.back()->CreateStateImage(i < 10 ? bsDisabled : bsUp);
      glyphs.back()->CreateStateImage(bsMouseOver);
    }
    bytes = KelGlyphCache()->Bytes();
  }
  state.counters["cache_bytes"] = double(bytes);
}
BENCHMARK(BM_GlyphCacheForms);

void BM_ProgressUpdate(benchmark::State& state) {
  TKelProgressFill fill;
  fill.resize(80, 20);
  fill.SetBar3D(lsDoubleLowered);
  fill.FillObject().SetStyle(sfGradient);
  fill.FillObject().Gradient().SetColor(clSilver);
  fill.SetMaxValue(1000);
  int v = 0;
  const std::int64_t before = bench::ThreadAllocations(), beforeBytes = bench::ThreadAllocatedBytes();
  for (auto _ : state) {
    v = (v + 10) % 1000;
    fill.SetUserValue(v);
  }
  // Each update renders a new bar: the picture it has is reused, so what is
  // allocated per update is the painting's own small bookkeeping.
  if (before >= 0) {
    const double n = double(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["allocs_per_update"] = double(bench::ThreadAllocations() - before) / n;
    state.counters["alloc_bytes_per_update"] = double(bench::ThreadAllocatedBytes() - beforeBytes) / n;
  }
}
BENCHMARK(BM_ProgressUpdate);

} // namespace
