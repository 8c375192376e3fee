#pragma once

// Ordinary drawings, written as drawing programs write them: what the
// metafile play must draw whole at the largest size a read draws, and what
// its benchmark times.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testsupport {

// A placeable WMF: records of 16-bit words, in pixels at 96 per inch.
class TWmfWriter {
public:
  void Record(std::uint16_t Function, const std::vector<int>& Words) {
    FLargest = std::max(FLargest, static_cast<std::uint32_t>(3 + Words.size()));
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
    Put32(FLargest); // in words: readers that plan their buffers by it refuse 0
    Put16(0);
    FBytes.insert(FBytes.end(), Records.begin(), Records.end());
    return std::move(FBytes);
  }

private:
  std::vector<std::uint8_t> FBytes;
  std::uint32_t FLargest = 0;
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

// Numbers in [0, 1) from a fixed seed, the same with every library.
struct TRandom {
  std::uint32_t State;
  double operator()() { return (State = State * 1664525u + 1013904223u) / 4294967296.0; }
};

// Lines at 45 degrees both ways across Width x Height, Spacing apart: down
// to the left along x + y = c, down to the right along x - y = c - Height.
inline std::vector<std::array<int, 4>> CrossHatch(double Width, double Height, double Spacing) {
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

// A3 in 0.05 mm, hatched every 1.5 mm under a pen of 0.35 mm (7 units).
inline std::vector<std::uint8_t> WmfCrossHatch() {
  TWmfWriter W;
  W.Record(0x02FA, {0, 7, 0, 0, 0});
  W.Record(0x012D, {0});
  for (const auto& L : CrossHatch(8400, 5940, 30)) W.Line(L[0], L[1], L[2], L[3]);
  return W.Finish(8400, 5940, 508);
}

// A3 in 0.01 mm on the reference device, hatched every 2 mm, pen 0.35 mm.
inline std::vector<std::uint8_t> EmfCrossHatch() {
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

// Circles Radius units about, drawn with a pen and a brush (their
// CreatePenIndirect and CreateBrushIndirect words), in five clusters over
// 10 x 7.5 inches: one 14-byte record each.
inline std::vector<std::uint8_t> Clusters(int Count, int Radius, const std::vector<int>& Pen,
                                          const std::vector<int>& Brush, std::uint32_t Seed) {
  TWmfWriter W;
  W.Record(0x02FA, Pen);
  W.Record(0x02FC, Brush);
  W.Record(0x012D, {0});
  W.Record(0x012D, {1});
  TRandom Random{Seed};
  for (int I = 0; I < Count; ++I) {
    const double Spread = Random() + Random() + Random() + Random() - 2;
    const int X = std::clamp(static_cast<int>(1500 + I % 5 * 1700 + Spread * 900), 200, 9750);
    const int Y = std::clamp(static_cast<int>(6000 - I % 5 * 1000 + (Random() - 0.5) * 1500), 200, 7250);
    W.Record(0x0418, {Y + Radius, X + Radius, Y - Radius, X - Radius});
  }
  return W.Finish(10000, 7500, 1000);
}

// Open circles 0.05 inch across under a pen of 0.01 inch.
inline std::vector<std::uint8_t> Scatter(int Circles) {
  return Clusters(Circles, 25, {0, 10, 0, 0x8020, 0x0020}, {1, 0, 0, 0}, 7);
}

// Filled markers 0.054 inch across outlined under a hairline pen.
inline std::vector<std::uint8_t> DenseScatter(int Markers) {
  return Clusters(Markers, 27, {0, 0, 0, 0x4000, 0x0000}, {0, 0xC040, 0x00F0, 0}, 13);
}

// Filled blobs of 20 points over 10 x 7.5 inches, outlined under a pen 0.6 %
// of the frame wide, each with a brush of its own.
inline std::vector<std::uint8_t> Blobs(int Count) {
  TWmfWriter W;
  W.Record(0x02FA, {0, 60, 0, 0x2020, 0x0020});
  W.Record(0x012D, {0});
  TRandom Random{11};
  for (int I = 0; I < Count; ++I) {
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

// A filled star of points alternately 1450 and 600 units from the centre of
// 3000 x 3000.
inline std::vector<std::uint8_t> Star(int Count) {
  TWmfWriter W;
  W.Record(0x02FC, {0, 0x00C0, 0x0080, 0});
  W.Record(0x012D, {0});
  std::vector<int> Points = {Count};
  for (int K = 0; K < Count; ++K) {
    const double A = K * 2 * M_PI / Count, Reach = K % 2 ? 600 : 1450;
    Points.push_back(static_cast<int>(std::lround(1500 + Reach * std::cos(A))));
    Points.push_back(static_cast<int>(std::lround(1500 + Reach * std::sin(A))));
  }
  W.Record(0x0324, Points);
  return W.Finish(3000, 3000);
}

// A filled polygon zigzagging across 3000 x 3000 without an outline, and a
// polyline beside it under a pen of 3 units.
inline std::vector<std::uint8_t> Zigzags(int Count) {
  TWmfWriter W;
  W.Record(0x02FC, {0, 0x00C0, 0x0080, 0});
  W.Record(0x02FA, {5, 0, 0, 0, 0});
  W.Record(0x012D, {0});
  W.Record(0x012D, {1});
  std::vector<int> Filled = {Count}, Beside = {Count};
  for (int I = 0; I < Count; ++I) {
    Filled.insert(Filled.end(), {I * 3000 / Count, I % 2 ? 3000 : 0});
    Beside.insert(Beside.end(), {I * 3000 / Count + 3, I % 2 ? 3000 : 0});
  }
  W.Record(0x0324, Filled);
  W.Record(0x02FA, {0, 3, 0, 0x8000, 0});
  W.Record(0x012D, {2});
  W.Record(0x0325, Beside);
  return W.Finish(3000, 3000);
}

} // namespace testsupport
