// Playing Windows metafiles onto the 24-bit picture of a read, as
// LoadMetafile does: a floor plan of 1400 x 1000 pixels (a grid of thin
// lines, outlined rooms, walls under a pen of 4 pixels, trees and labels),
// and a 64 KB polyline zigzagging across a frame of 2800, which the stroke
// budget leaves out.
#include <benchmark/benchmark.h>

#include "bench_support.h" // before Qt's headers

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/metafile.h"

namespace {

// A placeable WMF: records of 16-bit words, in pixels at 96 per inch.
class TWmfWriter {
public:
  void Record(std::uint16_t Function, const std::vector<int>& Words) {
    Put32(static_cast<std::uint32_t>(3 + Words.size()));
    Put16(Function);
    for (int W : Words) Put16(static_cast<std::uint16_t>(W));
  }
  void Line(int X0, int Y0, int X1, int Y1) {
    Record(0x0214, {Y0, X0}); // MoveTo
    Record(0x0213, {Y1, X1}); // LineTo
  }
  std::vector<std::uint8_t> Finish(int Width, int Height) {
    Record(0x0000, {});
    std::vector<std::uint8_t> Records;
    Records.swap(FBytes);
    Put32(0x9AC6CDD7);
    for (int W : {0, 0, 0, Width, Height, 96, 0, 0, 0}) Put16(static_cast<std::uint16_t>(W));
    for (int W : {1, 9, 0x0300}) Put16(static_cast<std::uint16_t>(W));
    Put32(static_cast<std::uint32_t>((18 + Records.size()) / 2));
    Put16(8);
    Put32(0);
    Put16(0);
    FBytes.insert(FBytes.end(), Records.begin(), Records.end());
    return std::move(FBytes);
  }

private:
  std::vector<std::uint8_t> FBytes;
  void Put16(std::uint16_t V) {
    FBytes.push_back(static_cast<std::uint8_t>(V));
    FBytes.push_back(static_cast<std::uint8_t>(V >> 8));
  }
  void Put32(std::uint32_t V) {
    Put16(static_cast<std::uint16_t>(V));
    Put16(static_cast<std::uint16_t>(V >> 16));
  }
};

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

void Play(benchmark::State& State, const std::vector<std::uint8_t>& File) {
  bench::EnsureApplication();
  platform::TMetafile Metafile;
  Metafile.LoadFromBytes(File.data(), File.size());
  const int W = std::min(Metafile.Width(), 2800), H = std::min(Metafile.Height(), 2800);
  for (auto _ : State) {
    QImage Picture(W - 1, H - 1, QImage::Format_BGR888);
    Picture.fill(Qt::white);
    QPainter Painter(&Picture);
    Metafile.Draw(Painter, QRect(0, 0, W, H));
    Painter.end();
    benchmark::DoNotOptimize(Picture.constBits());
  }
}

void BM_MetafileFloorPlan(benchmark::State& State) { Play(State, FloorPlan()); }
void BM_MetafileZigzagPolyline(benchmark::State& State) { Play(State, Zigzag()); }

} // namespace

BENCHMARK(BM_MetafileFloorPlan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileZigzagPolyline)->Unit(benchmark::kMillisecond);
