// Playing Windows metafiles onto the 24-bit picture of a read, as
// LoadMetafile does: a floor plan of 1400 x 1000 pixels (a grid of thin
// lines, outlined rooms, walls under a pen of 4 pixels, trees and labels),
// and a 64 KB polyline zigzagging across a frame of 2800, which the stroke
// budget leaves out. Then ordinary drawings at the largest size a read
// draws, 2800 pixels along the longer side: an A3 cross-hatch every 1.5 mm
// under a pen of 0.35 mm, an enhanced one every 2 mm, a scatter plot of
// 35,000 open circles, a clip art of 1,000 blobs outlined 0.6 % of the frame
// wide, a star of 2,000 points and zigzags of 500; "left_out" counts the
// shapes and outlines the budgets left out.
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
  std::vector<std::uint8_t> Finish(int Width, int Height, int Inch = 96) {
    Record(0x0000, {});
    std::vector<std::uint8_t> Records;
    Records.swap(FBytes);
    Put32(0x9AC6CDD7);
    for (int W : {0, 0, 0, Width, Height, Inch, 0, 0, 0}) Put16(static_cast<std::uint16_t>(W));
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

// An EMF on a reference device of 1920 x 1440 pixels on 508 x 381 mm:
// records of 32-bit words.
class TEmfWriter {
public:
  void Record(std::uint32_t Type, const std::vector<std::int32_t>& Words) {
    Put32(Type);
    Put32(static_cast<std::uint32_t>(8 + 4 * Words.size()));
    for (std::int32_t W : Words) Put32(static_cast<std::uint32_t>(W));
    ++FRecords;
  }
  // The frame in hundredths of a millimetre.
  std::vector<std::uint8_t> Finish(int FrameRight, int FrameBottom) {
    Record(14, {0, 16, 20});
    std::vector<std::uint8_t> Records;
    Records.swap(FBytes);
    for (std::int32_t W : {1, 88, 0, 0, 0, 0, 0, 0, FrameRight, FrameBottom, 0x464D4520, 0x10000})
      Put32(static_cast<std::uint32_t>(W));
    Put32(static_cast<std::uint32_t>(88 + Records.size()));
    Put32(static_cast<std::uint32_t>(FRecords + 1));
    for (std::int32_t W : {16, 0, 0, 0, 1920, 1440, 508, 381}) Put32(static_cast<std::uint32_t>(W));
    FBytes.insert(FBytes.end(), Records.begin(), Records.end());
    return std::move(FBytes);
  }

private:
  std::vector<std::uint8_t> FBytes;
  int FRecords = 0;
  void Put32(std::uint32_t V) {
    for (int I = 0; I < 4; ++I) FBytes.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
  }
};

// Numbers in [0, 1) from a fixed seed.
struct TRandom {
  std::uint32_t State;
  double operator()() { return (State = State * 1664525u + 1013904223u) / 4294967296.0; }
};

// Lines at 45 degrees both ways across Width x Height, Spacing apart.
std::vector<std::array<int, 4>> CrossHatch(double Width, double Height, double Spacing) {
  std::vector<std::array<int, 4>> Lines;
  auto Line = [&](double X0, double Y0, double X1, double Y1) {
    Lines.push_back({static_cast<int>(std::lround(X0)), static_cast<int>(std::lround(Y0)),
                     static_cast<int>(std::lround(X1)), static_cast<int>(std::lround(Y1))});
  };
  const double Step = Spacing * std::sqrt(2.0);
  for (double C = Step / 2; C < Width + Height; C += Step) {
    const double Left = std::max(0.0, C - Height), Right = std::min(Width, C);
    Line(Left, C - Left, Right, C - Right);
    const double K = C - Height, From = std::max(0.0, K), To = std::min(Width, K + Height);
    Line(From, From - K, To, To - K);
  }
  return Lines;
}

std::vector<std::uint8_t> WmfCrossHatch() { // A3 in 0.05 mm
  TWmfWriter W;
  W.Record(0x02FA, {0, 7, 0, 0, 0});
  W.Record(0x012D, {0});
  for (const auto& L : CrossHatch(8400, 5940, 30)) W.Line(L[0], L[1], L[2], L[3]);
  return W.Finish(8400, 5940, 508);
}

std::vector<std::uint8_t> EmfCrossHatch() { // A3 in 0.01 mm
  TEmfWriter E;
  E.Record(17, {8});
  E.Record(9, {42000, 29700});
  E.Record(11, {1587, 1123});
  E.Record(38, {1, 0, 35, 0, 0});
  E.Record(37, {1});
  for (const auto& L : CrossHatch(42000, 29700, 200)) {
    E.Record(27, {L[0], L[1]});
    E.Record(54, {L[2], L[3]});
  }
  return E.Finish(42000, 29700);
}

std::vector<std::uint8_t> Scatter() { // 10 x 7.5 inches
  TWmfWriter W;
  W.Record(0x02FA, {0, 10, 0, 0x8020, 0x0020});
  W.Record(0x02FC, {1, 0, 0, 0});
  W.Record(0x012D, {0});
  W.Record(0x012D, {1});
  TRandom Random{7};
  for (int I = 0; I < 35000; ++I) {
    const double Spread = Random() + Random() + Random() + Random() - 2;
    const int X = std::clamp(static_cast<int>(1500 + I % 5 * 1700 + Spread * 900), 200, 9750);
    const int Y = std::clamp(static_cast<int>(6000 - I % 5 * 1000 + (Random() - 0.5) * 1500), 200, 7250);
    W.Record(0x0418, {Y + 25, X + 25, Y - 25, X - 25});
  }
  return W.Finish(10000, 7500, 1000);
}

std::vector<std::uint8_t> Blobs() { // 10 x 7.5 inches
  TWmfWriter W;
  W.Record(0x02FA, {0, 60, 0, 0x2020, 0x0020});
  W.Record(0x012D, {0});
  TRandom Random{11};
  for (int I = 0; I < 1000; ++I) {
    W.Record(0x02FC, {0, static_cast<int>(Random() * 65536), static_cast<int>(Random() * 256), 0});
    W.Record(0x012D, {1});
    const double X = 400 + Random() * 9200, Y = 400 + Random() * 6700, Radius = 100 + Random() * 300;
    std::vector<int> Points = {20};
    for (int K = 0; K < 20; ++K) {
      const double A = K * 2 * M_PI / 20, Reach = Radius * (0.7 + 0.3 * Random());
      Points.push_back(static_cast<int>(X + Reach * std::cos(A)));
      Points.push_back(static_cast<int>(Y + Reach * std::sin(A)));
    }
    W.Record(0x0324, Points);
    W.Record(0x01F0, {1});
  }
  return W.Finish(10000, 7500, 1000);
}

std::vector<std::uint8_t> Star() {
  TWmfWriter W;
  W.Record(0x02FC, {0, 0x00C0, 0x0080, 0});
  W.Record(0x012D, {0});
  std::vector<int> Points = {2000};
  for (int K = 0; K < 2000; ++K) {
    const double A = K * 2 * M_PI / 2000, Reach = K % 2 ? 600 : 1450;
    Points.push_back(static_cast<int>(std::lround(1500 + Reach * std::cos(A))));
    Points.push_back(static_cast<int>(std::lround(1500 + Reach * std::sin(A))));
  }
  W.Record(0x0324, Points);
  return W.Finish(3000, 3000);
}

std::vector<std::uint8_t> Zigzags() {
  TWmfWriter W;
  W.Record(0x02FC, {0, 0x00C0, 0x0080, 0});
  W.Record(0x02FA, {5, 0, 0, 0, 0});
  W.Record(0x012D, {0});
  W.Record(0x012D, {1});
  std::vector<int> Filled = {500}, Beside = {500};
  for (int I = 0; I < 500; ++I) {
    Filled.insert(Filled.end(), {I * 3000 / 500, I % 2 ? 3000 : 0});
    Beside.insert(Beside.end(), {I * 3000 / 500 + 3, I % 2 ? 3000 : 0});
  }
  W.Record(0x0324, Filled);
  W.Record(0x02FA, {0, 3, 0, 0x8000, 0});
  W.Record(0x012D, {2});
  W.Record(0x0325, Beside);
  return W.Finish(3000, 3000);
}

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
void BM_MetafileScatter(benchmark::State& State) { Play(State, Scatter(), true); }
void BM_MetafileBlobs(benchmark::State& State) { Play(State, Blobs(), true); }
void BM_MetafileStar(benchmark::State& State) { Play(State, Star(), true); }
void BM_MetafileZigzags(benchmark::State& State) { Play(State, Zigzags(), true); }

} // namespace

BENCHMARK(BM_MetafileFloorPlan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileZigzagPolyline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileCrossHatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileEnhancedCrossHatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileScatter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileBlobs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileStar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetafileZigzags)->Unit(benchmark::kMillisecond);
