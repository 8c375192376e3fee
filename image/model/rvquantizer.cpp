#include "image/model/rvquantizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/model/rvbitmap.h"

namespace rv {

const std::uint8_t* TRvQuantSource::Row(int Y) const {
  if (VclBitmap != nullptr) return VclBitmap->ScanLine(Y);
  return RvBitmap->Scanline(Y);
}

static int RoundEven(double X) { return static_cast<int>(std::nearbyint(X)); }

// ---------------------------------------------------------------- median cut

namespace {

constexpr double FailedSplit = 17523.6;

struct TBox {
  double Variance = 0;
  double Mean[3] = {0, 0, 0}; // r, g, b in 5-bit units
  std::int64_t Count = 0;
  std::int64_t Hist[3][32] = {};
  int Lo[3] = {0, 0, 0};
  int Hi[3] = {32, 32, 32}; // exclusive
};

} // namespace

struct TRvMedianCutState {
  std::vector<std::uint32_t> Histogram = std::vector<std::uint32_t>(32768, 0);
  std::vector<TBox> Boxes;
  std::vector<std::uint8_t> InverseMap = std::vector<std::uint8_t>(32768, 0);
  std::int64_t PixelCount = 0;
  int N = 0;

  static int Cell(int r, int g, int b) { return r * 1024 + g * 32 + b; }

  void Statistics(TBox& box) const {
    box.Variance = 0;
    for (int a = 0; a < 3; ++a) {
      double s1 = 0, s2 = 0;
      for (int i = box.Lo[a]; i < box.Hi[a]; ++i) {
        s1 += static_cast<double>(i) * box.Hist[a][i];
        s2 += static_cast<double>(i) * i * box.Hist[a][i];
      }
      box.Mean[a] = box.Count > 0 ? s1 / box.Count : 0;
      box.Variance += s2 - box.Count * box.Mean[a] * box.Mean[a];
    }
    box.Variance = PixelCount > 0 ? box.Variance / PixelCount : 0;
  }

  // Axis histograms from the 3-D histogram over the box's bounds, then the
  // bounds shrunk to the non-empty bins.
  void Rebuild(TBox& box) const {
    for (auto& h : box.Hist)
      for (auto& v : h) v = 0;
    box.Count = 0;
    for (int r = box.Lo[0]; r < box.Hi[0]; ++r)
      for (int g = box.Lo[1]; g < box.Hi[1]; ++g)
        for (int b = box.Lo[2]; b < box.Hi[2]; ++b) {
          const std::uint32_t n = Histogram[static_cast<std::size_t>(Cell(r, g, b))];
          if (n == 0) continue;
          box.Hist[0][r] += n;
          box.Hist[1][g] += n;
          box.Hist[2][b] += n;
          box.Count += n;
        }
    for (int a = 0; a < 3; ++a) {
      int lo = box.Lo[a], hi = box.Hi[a];
      while (lo < hi && box.Hist[a][lo] == 0) ++lo;
      while (hi > lo && box.Hist[a][hi - 1] == 0) --hi;
      if (lo < hi) {
        box.Lo[a] = lo;
        box.Hi[a] = hi;
      }
    }
    Statistics(box);
  }

  bool TrialSplit(const TBox& box, int a, TBox& lower, TBox& upper) const {
    const int lo = box.Lo[a], hi = box.Hi[a];
    if (hi == lo + 1) return false;
    const int start = RoundEven((lo + box.Mean[a]) / 2);
    const int end = RoundEven((hi + box.Mean[a]) / 2);
    auto h = [&](int c) -> std::int64_t { return c >= 0 && c < 32 ? box.Hist[a][c] : 0; };
    std::int64_t left = 0;
    for (int c = lo; c < start; ++c) left += h(c);
    double best = -1, p = 0;
    int split = -1;
    std::int64_t leftCount = 0;
    for (int c = start; c <= end; ++c) {
      left += h(c);
      if (left == box.Count) break;
      p += static_cast<double>(c) * h(c) / box.Count;
      const double d = box.Mean[a] - p;
      const double score = static_cast<double>(left) / static_cast<double>(box.Count - left) * d * d;
      if (score > best) {
        best = score;
        split = c;
        leftCount = left;
      }
    }
    if (split < 0 || leftCount == 0 || box.Count - leftCount == 0) return false;
    lower = box;
    upper = box;
    lower.Hi[a] = split + 1;
    upper.Lo[a] = split + 1;
    if (lower.Hi[a] <= lower.Lo[a] || upper.Hi[a] <= upper.Lo[a]) return false;
    Rebuild(lower);
    Rebuild(upper);
    return lower.Count > 0 && upper.Count > 0;
  }

  bool Split(std::size_t index) {
    const TBox box = Boxes[index];
    if (box.Variance == 0 || box.Count == 0) return false;
    double bestSum = FailedSplit;
    int bestAxis = -1;
    TBox bestLower, bestUpper;
    for (int a = 0; a < 3; ++a) {
      TBox lower, upper;
      const double sum = TrialSplit(box, a, lower, upper) ? lower.Variance + upper.Variance : FailedSplit;
      if (sum < bestSum) {
        bestSum = sum;
        bestAxis = a;
        bestLower = lower;
        bestUpper = upper;
      }
    }
    if (bestAxis < 0) return false;
    Boxes[index] = bestLower;
    Boxes.push_back(bestUpper);
    return true;
  }
};

TRvMedianCutState* MedianCutQuantizerCreate(const TRvQuantSource& Bitmap, TRGB* Palette, int N) {
  auto* s = new TRvMedianCutState;
  s->N = N;
  TBox first;
  for (int y = 0; y < Bitmap.Height; ++y) {
    const std::uint8_t* row = Bitmap.Row(y);
    for (int x = 0; x < Bitmap.Width; ++x, row += 3) {
      const int b = row[0] >> 3, g = row[1] >> 3, r = row[2] >> 3;
      ++s->Histogram[static_cast<std::size_t>(TRvMedianCutState::Cell(r, g, b))];
      ++first.Hist[0][r];
      ++first.Hist[1][g];
      ++first.Hist[2][b];
    }
  }
  s->PixelCount = static_cast<std::int64_t>(Bitmap.Width) * Bitmap.Height;
  first.Count = s->PixelCount;
  s->Statistics(first);
  s->Boxes.push_back(first);
  while (static_cast<int>(s->Boxes.size()) < N) {
    std::size_t chosen = s->Boxes.size();
    double largest = 0;
    for (std::size_t i = 0; i < s->Boxes.size(); ++i)
      if (s->Boxes[i].Variance > largest) {
        largest = s->Boxes[i].Variance;
        chosen = i;
      }
    if (chosen == s->Boxes.size()) break;
    if (!s->Split(chosen)) s->Boxes[chosen].Variance = 0;
  }
  if (s->PixelCount == 0) s->Boxes.clear();
  for (std::size_t i = 0; i < s->Boxes.size() && static_cast<int>(i) < N; ++i) {
    const TBox& box = s->Boxes[i];
    Palette[i].r = static_cast<std::uint8_t>(RoundEven(box.Mean[0]) * 8);
    Palette[i].g = static_cast<std::uint8_t>(RoundEven(box.Mean[1]) * 8);
    Palette[i].b = static_cast<std::uint8_t>(RoundEven(box.Mean[2]) * 8);
    for (int r = box.Lo[0]; r < box.Hi[0]; ++r)
      for (int g = box.Lo[1]; g < box.Hi[1]; ++g)
        for (int b = box.Lo[2]; b < box.Hi[2]; ++b)
          s->InverseMap[static_cast<std::size_t>(TRvMedianCutState::Cell(r, g, b))] = static_cast<std::uint8_t>(i);
  }
  return s;
}

int MedianCutQuantizerIndex(const TRvMedianCutState* State, std::uint32_t Colour) {
  const int r = (Colour >> 19) & 31, g = (Colour >> 11) & 31, b = (Colour >> 3) & 31;
  return State->InverseMap[static_cast<std::size_t>(TRvMedianCutState::Cell(r, g, b))];
}

int MedianCutQuantizerBoxes(const TRvMedianCutState* State) { return static_cast<int>(State->Boxes.size()); }

void MedianCutQuantizerFree(TRvMedianCutState* State) { delete State; }

// ---------------------------------------------------------------- neural network

namespace {
constexpr int NetBiasShift = 4;
constexpr int IntBiasShift = 16;
constexpr int IntBias = 1 << IntBiasShift;
constexpr int GammaShift = 10;
constexpr int BetaShift = 10;
constexpr int Beta = IntBias >> BetaShift;
constexpr int BetaGamma = IntBias << (GammaShift - BetaShift);
constexpr int RadiusBiasShift = 6;
constexpr int RadiusDec = 30;
constexpr int InitAlpha = 1 << 10;
constexpr int RadBias = 1 << 8;
constexpr int AlphaRadBias = 1 << 18;
} // namespace

struct TRvNeuralState {
  int NetSize = 0;
  int MaxNetPos = 0;
  int InitRad = 0;
  int InitRadius = 0;
  std::vector<std::array<int, 4>> Network; // b, g, r, index
  std::vector<int> Bias, Freq, RadPower;
  int NetIndex[256] = {};
  std::int64_t LengthCount = 0;
  int SampleFac = 1;

  int Contest(int b, int g, int r) {
    int bestd = INT32_MAX, bestbiasd = INT32_MAX, bestpos = -1, bestbiaspos = -1;
    for (int i = 0; i < NetSize; ++i) {
      const auto& n = Network[static_cast<std::size_t>(i)];
      const int dist = std::abs(n[0] - b) + std::abs(n[1] - g) + std::abs(n[2] - r);
      if (dist < bestd) {
        bestd = dist;
        bestpos = i;
      }
      const int biasdist = dist - (Bias[static_cast<std::size_t>(i)] >> (IntBiasShift - NetBiasShift));
      if (biasdist < bestbiasd) {
        bestbiasd = biasdist;
        bestbiaspos = i;
      }
      const int betafreq = Freq[static_cast<std::size_t>(i)] >> BetaShift;
      Freq[static_cast<std::size_t>(i)] -= betafreq;
      Bias[static_cast<std::size_t>(i)] += betafreq << GammaShift;
    }
    Freq[static_cast<std::size_t>(bestpos)] += Beta;
    Bias[static_cast<std::size_t>(bestpos)] -= BetaGamma;
    return bestbiaspos;
  }

  void AlterSingle(int alpha, int i, int b, int g, int r) {
    auto& n = Network[static_cast<std::size_t>(i)];
    n[0] -= static_cast<int>(static_cast<std::int64_t>(alpha) * (n[0] - b) / InitAlpha);
    n[1] -= static_cast<int>(static_cast<std::int64_t>(alpha) * (n[1] - g) / InitAlpha);
    n[2] -= static_cast<int>(static_cast<std::int64_t>(alpha) * (n[2] - r) / InitAlpha);
  }

  void AlterNeigh(int rad, int i, int b, int g, int r) {
    const int lo = std::max(i - rad, -1), hi = std::min(i + rad, NetSize);
    int j = i + 1, k = i - 1, m = 1;
    while (j < hi || k > lo) {
      const std::int64_t a = RadPower[static_cast<std::size_t>(m++)];
      if (j < hi) {
        auto& p = Network[static_cast<std::size_t>(j++)];
        p[0] -= static_cast<int>(a * (p[0] - b) / AlphaRadBias);
        p[1] -= static_cast<int>(a * (p[1] - g) / AlphaRadBias);
        p[2] -= static_cast<int>(a * (p[2] - r) / AlphaRadBias);
      }
      if (k > lo) {
        auto& p = Network[static_cast<std::size_t>(k--)];
        p[0] -= static_cast<int>(a * (p[0] - b) / AlphaRadBias);
        p[1] -= static_cast<int>(a * (p[1] - g) / AlphaRadBias);
        p[2] -= static_cast<int>(a * (p[2] - r) / AlphaRadBias);
      }
    }
  }

  void SetRadPower(int rad, int alpha) {
    for (int i = 0; i < rad; ++i)
      RadPower[static_cast<std::size_t>(i)] = alpha * (((rad * rad - i * i) * RadBias) / (rad * rad));
  }

  void Learn(const TRvQuantSource& source) {
    const std::int64_t pixels = static_cast<std::int64_t>(source.Width) * source.Height;
    if (pixels == 0) return;
    const int alphadec = 30 + (SampleFac - 1) / 3;
    const std::int64_t samplepixels = LengthCount / (3 * SampleFac);
    const std::int64_t delta = std::max<std::int64_t>(samplepixels / 100, 1);
    int alpha = InitAlpha;
    int radius = InitRadius;
    int rad = radius >> RadiusBiasShift;
    if (rad <= 1) rad = 0;
    SetRadPower(rad, alpha);
    std::int64_t step;
    if (LengthCount % 499 != 0) step = 499;
    else if (LengthCount % 491 != 0) step = 491;
    else if (LengthCount % 487 != 0) step = 487;
    else step = 503;
    std::int64_t pos = 0;
    for (std::int64_t i = 0; i < samplepixels;) {
      const int x = static_cast<int>(pos % source.Width), y = static_cast<int>(pos / source.Width);
      const std::uint8_t* px = source.Row(y) + 3 * x;
      const int b = px[0] << NetBiasShift, g = px[1] << NetBiasShift, r = px[2] << NetBiasShift;
      const int j = Contest(b, g, r);
      AlterSingle(alpha, j, b, g, r);
      if (rad != 0) AlterNeigh(rad, j, b, g, r);
      // Wrapped by the remainder: a picture smaller than the step would
      // otherwise be read far past its end.
      pos = (pos + step) % pixels;
      ++i;
      if (i % delta == 0) {
        alpha -= alpha / alphadec;
        radius -= radius / RadiusDec;
        rad = radius >> RadiusBiasShift;
        if (rad <= 1) rad = 0;
        SetRadPower(rad, alpha);
      }
    }
  }

  void BuildIndex() {
    int previouscol = 0, startpos = 0;
    for (int i = 0; i < NetSize; ++i) {
      int smallpos = i, smallval = Network[static_cast<std::size_t>(i)][1];
      for (int j = i + 1; j < NetSize; ++j)
        if (Network[static_cast<std::size_t>(j)][1] < smallval) {
          smallpos = j;
          smallval = Network[static_cast<std::size_t>(j)][1];
        }
      if (smallpos != i) std::swap(Network[static_cast<std::size_t>(i)], Network[static_cast<std::size_t>(smallpos)]);
      if (smallval != previouscol) {
        NetIndex[previouscol] = (startpos + i) >> 1;
        for (int j = previouscol + 1; j < smallval; ++j) NetIndex[j] = i;
        previouscol = smallval;
        startpos = i;
      }
    }
    NetIndex[previouscol] = (startpos + MaxNetPos) >> 1;
    for (int j = previouscol + 1; j < 256; ++j) NetIndex[j] = MaxNetPos;
  }

  int Search(int b, int g, int r) const {
    int bestd = 1000, best = -1;
    int i = NetIndex[g], j = i - 1;
    auto consider = [&](const std::array<int, 4>& p, int dist) {
      int a = std::abs(p[0] - b);
      dist += a;
      if (dist < bestd) {
        a = std::abs(p[2] - r);
        dist += a;
        if (dist < bestd) {
          bestd = dist;
          best = p[3];
        }
      }
    };
    while (i < NetSize || j >= 0) {
      if (i < NetSize) {
        const auto& p = Network[static_cast<std::size_t>(i)];
        const int dist = p[1] - g;
        if (dist >= bestd) {
          i = NetSize;
        } else {
          ++i;
          consider(p, std::abs(dist));
        }
      }
      if (j >= 0) {
        const auto& p = Network[static_cast<std::size_t>(j)];
        const int dist = g - p[1];
        if (dist >= bestd) {
          j = -1;
        } else {
          --j;
          consider(p, std::abs(dist));
        }
      }
    }
    return best;
  }
};

int NeuralQuantSampleFactor(std::int64_t Pixels) {
  if (Pixels < 2000) return 1;
  const int f = RoundEven(static_cast<double>(Pixels - 2000) * 13 / 148000 + 2);
  return std::clamp(f, 1, 30);
}

TRvNeuralState* NeuralQuantCreate(const TRvQuantSource& Bitmap, TRGB* Palette, int N) {
  auto* s = new TRvNeuralState;
  N = std::max(N, 1);
  s->NetSize = N;
  s->MaxNetPos = N - 1;
  s->InitRad = N / 8;
  s->InitRadius = s->InitRad * (1 << RadiusBiasShift);
  s->Network.resize(static_cast<std::size_t>(N));
  s->Bias.assign(static_cast<std::size_t>(N), 0);
  s->Freq.assign(static_cast<std::size_t>(N), IntBias / N);
  s->RadPower.assign(static_cast<std::size_t>(std::max(s->InitRad, 1)), 0);
  for (int i = 0; i < N; ++i) {
    const int v = (i * 4096) / N;
    s->Network[static_cast<std::size_t>(i)] = {v, v, v, 0};
  }
  const std::int64_t pixels = static_cast<std::int64_t>(Bitmap.Width) * Bitmap.Height;
  s->LengthCount = pixels * 3;
  s->SampleFac = NeuralQuantSampleFactor(pixels);
  s->Learn(Bitmap);
  for (int i = 0; i < N; ++i) {
    auto& n = s->Network[static_cast<std::size_t>(i)];
    for (int c = 0; c < 3; ++c) n[static_cast<std::size_t>(c)] >>= NetBiasShift;
    n[3] = i;
    Palette[i].b = static_cast<std::uint8_t>(std::clamp(n[0], 0, 255));
    Palette[i].g = static_cast<std::uint8_t>(std::clamp(n[1], 0, 255));
    Palette[i].r = static_cast<std::uint8_t>(std::clamp(n[2], 0, 255));
  }
  s->BuildIndex();
  return s;
}

int NeuralQuantIndex(const TRvNeuralState* State, std::uint32_t Colour) {
  return State->Search(Colour & 255, (Colour >> 8) & 255, (Colour >> 16) & 255);
}

void NeuralQuantFree(TRvNeuralState* State) { delete State; }

// ---------------------------------------------------------------- TRvQuantizer

TRvQuantizer::TRvQuantizer(platform::TBitmap* Bitmap, TRGB* Palette, int N) {
  TRvQuantSource source;
  if (Bitmap != nullptr && Bitmap->PixelFormat() == platform::pf24bit) {
    source.VclBitmap = Bitmap;
    source.Width = Bitmap->Width();
    source.Height = Bitmap->Height();
    if (N == 256) {
      bool gray = true;
      for (int y = 0; y < source.Height && gray; ++y) {
        const std::uint8_t* row = Bitmap->ScanLine(y);
        for (int x = 0; x < source.Width; ++x, row += 3)
          if (row[0] != row[1] || row[1] != row[2]) {
            gray = false;
            break;
          }
      }
      if (gray) {
        FGray = true;
        for (int i = 0; i < 256; ++i) {
          const auto v = static_cast<std::uint8_t>(i);
          Palette[i] = TRGB{v, v, v};
        }
        return;
      }
    }
  }
  Build(source, Palette, N);
}

TRvQuantizer::TRvQuantizer(TRvBitmap* Bitmap, TRGB* Palette, int N) {
  TRvQuantSource source;
  if (Bitmap != nullptr && Bitmap->PixelFormat() == rvpf24Bit) {
    source.RvBitmap = Bitmap;
    source.Width = Bitmap->Width();
    source.Height = Bitmap->Height();
  }
  Build(source, Palette, N);
}

void TRvQuantizer::Build(const TRvQuantSource& Source, TRGB* Palette, int N) {
  if (N >= 128) {
    FMethod = 0;
    FNeural = NeuralQuantCreate(Source, Palette, N);
  } else {
    FMethod = 1;
    FMedian = MedianCutQuantizerCreate(Source, Palette, N);
  }
}

TRvQuantizer::~TRvQuantizer() {
  if (FNeural != nullptr) NeuralQuantFree(FNeural);
  if (FMedian != nullptr) MedianCutQuantizerFree(FMedian);
}

int TRvQuantizer::RGBIndex(std::uint32_t Colour) const {
  if (FGray) return static_cast<int>((Colour >> 16) & 255);
  if (FNeural != nullptr) return NeuralQuantIndex(FNeural, Colour);
  if (FMedian != nullptr) return MedianCutQuantizerIndex(FMedian, Colour);
  return 0;
}

} // namespace rv
