// Playing Windows metafiles onto the 24-bit picture of a read, as
// LoadMetafile does: a floor plan of 1400 x 1000 pixels (a grid of thin
// lines, outlined rooms, walls under a pen of 4 pixels, trees and labels),
// and a 64 KB polyline zigzagging across a frame of 2800, which the stroke
// budget leaves out. Then ordinary drawings at the largest size a read
// draws, 2800 pixels along the longer side: an A3 cross-hatch every 1.5 mm
// under a pen of 0.35 mm, an enhanced one every 2 mm, a scatter plot of
// 35,000 open circles, one of 70,000 filled markers outlined under a
// hairline pen, a clip art of 1,000 blobs outlined 0.6 % of the frame wide,
// a star of 2,000 points and zigzags of 500; "left_out" counts the shapes
// and outlines the budgets left out.
#include <benchmark/benchmark.h>

#include "bench_support.h" // before Qt's headers

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/metafile.h"
#include "support/drawings.h"

namespace {

using namespace testsupport;

std::vector<std::uint8_t> FloorPlan() {
  TWmfWriter W;
  W.Record(0x02FA, {0, 0, 0, 0xC0C0, 0x00C0}); // object 0: thin grey pen
  W.Record(0x02FC, {0, 0xF0FF, 0x00E0, 0}); // object 1: light brush
  W.Record(0x02FA, {0, 4, 0, 0x2020, 0x0020}); // object 2: dark pen of 4 pixels
  W.Record(0x02FC, {0, 0xA040, 0x0040, 0}); // object 3: green brush
  W.Record(0x02FB, {-14, 0, 0, 0, 400, 0, 0, 0, 0, 'S' | 'a' << 8, 'n' | 's' << 8, 0}); // object 4: font
  W.Record(0x012D, {0});
  for (int X = 0; X <= 1400; X += 10) W.Line(X, 0, X, 1000);
  for (int Y = 0; Y <= 1000; Y += 10) W.Line(0, Y, 1400, Y);
  W.Record(0x012D, {1});
  for (int Row = 0; Row < 8; ++Row)
    for (int Col = 0; Col < 12; ++Col)
      W.Record(0x041B, {100 + Row * 110 + 90, 100 + Col * 100 + 80, 100 + Row * 110, 100 + Col * 100});
  W.Record(0x012D, {2});
  for (int Row = 0; Row <= 8; ++Row) {
    std::vector<int> Wall = {25};
    for (int I = 0; I < 25; ++I) Wall.insert(Wall.end(), {90 + I * 50, 95 + Row * 110 + (I % 2) * 5});
    W.Record(0x0325, Wall);
  }
  W.Record(0x012D, {3});
  for (int I = 0; I < 60; ++I) W.Record(0x0418, {40 + (I % 2) * 900, 20 + I * 23, 10 + (I % 2) * 900, I * 23});
  W.Record(0x012D, {4});
  for (int Row = 0; Row < 8; ++Row)
    for (int Col = 0; Col < 12; ++Col)
      W.Record(0x0521, {4, 'R' | 'o' << 8, 'o' | 'm' << 8, 140 + Row * 110, 120 + Col * 100});
  return W.Finish(1400, 1000);
}

std::vector<std::uint8_t> Zigzag() {
  TWmfWriter W;
  std::vector<int> Points = {16000};
  for (int I = 0; I < 16000; ++I) Points.insert(Points.end(), {I * 3000 / 16000, I % 2 ? 3000 : 0});
  W.Record(0x0325, Points);
  return W.Finish(3000, 3000);
}

// Largest: 2800 pixels along the longer side, else the metafile's own size
// up to 2800.
void Play(benchmark::State& State, const std::vector<std::uint8_t>& File, bool Largest = false) {
  bench::EnsureApplication();
  platform::TMetafile Metafile;
  Metafile.LoadFromBytes(File.data(), File.size());
  int W = std::min(Metafile.Width(), 2800), H = std::min(Metafile.Height(), 2800);
  if (Largest) {
    W = Metafile.Width() >= Metafile.Height() ? 2800 : Metafile.Width() * 2800 / Metafile.Height();
    H = Metafile.Width() >= Metafile.Height() ? Metafile.Height() * 2800 / Metafile.Width() : 2800;
  }
  int LeftOut = 0;
  for (auto _ : State) {
    QImage Picture(W - 1, H - 1, QImage::Format_BGR888);
    Picture.fill(Qt::white);
    QPainter Painter(&Picture);
    const platform::TMetafileDrawStats Stats = Metafile.Draw(Painter, QRect(0, 0, W, H));
    Painter.end();
    LeftOut = Stats.ShapesSkipped + Stats.StrokesSkipped;
    benchmark::DoNotOptimize(Picture.constBits());
  }
  State.counters["left_out"] = LeftOut;
}

void BM_MetafileFloorPlan(benchmark::State& State) { Play(State, FloorPlan()); }
void BM_MetafileZigzagPolyline(benchmark::State& State) { Play(State, Zigzag()); }
void BM_MetafileCrossHatch(benchmark::State& State) { Play(State, WmfCrossHatch(), true); }
void BM_MetafileEnhancedCrossHatch(benchmark::State& State) { Play(State, EmfCrossHatch(), true); }
void BM_MetafileScatter(benchmark::State& State) { Play(State, Scatter(35000), true); }
void BM_MetafileDenseScatter(benchmark::State& State) { Play(State, DenseScatter(70000), true); }
void BM_MetafileBlobs(benchmark::State& State) { Play(State, Blobs(1000), true); }
void BM_MetafileStar(benchmark::State& State) { Play(State, Star(2000), true); }
void BM_MetafileZigzags(benchmark::State& State) { Play(State, Zigzags(500), true); }

} // namespace

BENCHMARK(BM_MetafileFloorPlan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileZigzagPolyline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileCrossHatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileEnhancedCrossHatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileScatter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileDenseScatter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileBlobs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileStar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileZigzags)->Unit(benchmark::kMillisecond);
