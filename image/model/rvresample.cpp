#include "image/model/rvresample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RV_RESAMPLE_X86 1
#endif

#include "image/model/rvbits.h"
#include "image/model/rvbwgray.h"
#include "image/model/rvdib.h"

namespace rv {

namespace {

// ---------------------------------------------------------------------------
// Kernels.

double Sinc(double y) {
  if (y == 0) return 1;
  const double a = std::numbers::pi * y;
  return std::sin(a) / a;
}

double Kernel(TResampleFilter filter, double x) {
  const double t = std::abs(x);
  switch (filter) {
  case rfTriangle:
    return t < 1 ? 1 - t : 0;
  case rfHermite:
    return t < 1 ? (2 * t - 3) * t * t + 1 : 0;
  case rfBell:
    if (t < 0.5) return 0.75 - t * t;
    if (t < 1.5) return 0.5 * (t - 1.5) * (t - 1.5);
    return 0;
  case rfBSpline:
    if (t < 1) return 0.5 * t * t * t - t * t + 2.0 / 3.0;
    if (t < 2) return (2 - t) * (2 - t) * (2 - t) / 6;
    return 0;
  case rfLanczos3:
    return t < 3 ? Sinc(x) * Sinc(x / 3) : 0;
  case rfMitchell:
    if (t < 1) return (7 * t * t * t - 12 * t * t + 16.0 / 3.0) / 6;
    if (t < 2) return (-7.0 / 3.0 * t * t * t + 12 * t * t - 20 * t + 32.0 / 3.0) / 6;
    return 0;
  case rfNearest:
    return (x > -0.5 && x <= 0.5) ? 1 : 0;
  case rfLinear:
    if (x >= -1 && x < 0) return 1 + x;
    if (x >= 0 && x < 1) return 1 - x;
    return 0;
  default:
    return 0;
  }
}

double Support(TResampleFilter filter) {
  switch (filter) {
  case rfTriangle:
  case rfHermite:
  case rfNearest:
  case rfLinear:
    return 1.0;
  case rfBell:
    return 1.5;
  case rfBSpline:
  case rfMitchell:
    return 2.0;
  case rfLanczos3:
    return 3.0;
  default:
    return 0;
  }
}

std::atomic<bool> gVectorPaths{true};

bool UseAvx2() {
#ifdef RV_RESAMPLE_X86
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && gVectorPaths.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

// ---------------------------------------------------------------------------
// Contributor plans. Every destination index gathers a run of padded source
// positions with weights; a padded position stands for one source index
// (mirrored at the edges, then clamped). Runs start on an even position and
// hold an even number of weights (zeros fill), so that the vector loops can
// take the weights two by two; zero weights add nothing to a sum.

struct TPlan {
  int Count = 0;                 // destination indices
  int Origin = 0;                // padded position of source index 0 (even)
  std::vector<std::int32_t> Src; // padded position -> source index
  std::vector<std::int32_t> First;
  std::vector<std::int32_t> Pairs;
  std::vector<std::int32_t> WeightAt;
  std::vector<std::int16_t> Weights;
  std::vector<std::int32_t> Divisor; // the sum of the weights; 0: shift instead
  // Float division is exact while |sum| < 2^24; the plain loops take the rest.
  bool FloatExact = true;
};

struct TTap {
  int J;
  int W;
};

// taps[i] lists (source coordinate before mirroring, weight) of index i.
TPlan MakePlan(const std::vector<std::vector<TTap>>& taps, int srcLen) {
  TPlan plan;
  plan.Count = static_cast<int>(taps.size());
  int minJ = 0, maxJ = srcLen - 1;
  for (const auto& list : taps)
    for (const TTap& t : list) {
      minJ = std::min(minJ, t.J);
      maxJ = std::max(maxJ, t.J);
    }
  // Even origin so that parity of a position is the parity of J + origin.
  const int origin = ((-minJ + 2) + 1) & ~1;
  const int len = maxJ + origin + 4;
  plan.Origin = origin;
  plan.Src.resize(static_cast<std::size_t>(len));
  for (int p = 0; p < len; ++p) {
    int j = p - origin;
    if (j < 0) j = -j;
    else if (j >= srcLen) j = 2 * srcLen - j - 1;
    plan.Src[p] = std::clamp(j, 0, srcLen - 1);
  }
  plan.First.resize(taps.size());
  plan.Pairs.resize(taps.size());
  plan.WeightAt.resize(taps.size());
  plan.Divisor.resize(taps.size());
  for (std::size_t i = 0; i < taps.size(); ++i) {
    const auto& list = taps[i];
    plan.WeightAt[i] = static_cast<std::int32_t>(plan.Weights.size());
    if (list.empty()) {
      plan.First[i] = 0;
      plan.Pairs[i] = 0;
      plan.Divisor[i] = 0;
      continue;
    }
    int lo = list.front().J, hi = list.front().J;
    for (const TTap& t : list) {
      lo = std::min(lo, t.J);
      hi = std::max(hi, t.J);
    }
    int first = (lo + origin) & ~1;
    const int n = hi + origin - first + 1;
    const int pairs = (n + 1) / 2;
    std::vector<int> dense(static_cast<std::size_t>(pairs) * 2, 0);
    std::int64_t sum = 0, absSum = 0;
    for (const TTap& t : list) {
      dense[t.J + origin - first] += t.W;
      sum += t.W;
      absSum += std::abs(t.W);
    }
    for (int w : dense) plan.Weights.push_back(static_cast<std::int16_t>(std::clamp(w, -32768, 32767)));
    for (int w : dense)
      if (w < -32768 || w > 32767) plan.FloatExact = false;
    plan.First[i] = first;
    plan.Pairs[i] = pairs;
    plan.Divisor[i] = static_cast<std::int32_t>(sum);
    if (255 * absSum >= (1 << 24)) plan.FloatExact = false;
  }
  return plan;
}

// The filtered contributors of one axis.
TPlan FilterPlan(TResampleFilter filter, int srcLen, int dstLen, double scale) {
  const double support = Support(filter);
  std::vector<std::vector<TTap>> taps(static_cast<std::size_t>(dstLen));
  for (int i = 0; i < dstLen; ++i) {
    const double center = i / scale;
    auto& list = taps[i];
    if (scale >= 1) {
      const double width = support;
      const int left = static_cast<int>(std::floor(center - width));
      const int right = static_cast<int>(std::ceil(center + width));
      for (int j = left; j <= right; ++j) {
        const int w = static_cast<int>(std::nearbyint(Kernel(filter, center - j) * 256));
        if (w != 0) list.push_back({j, w});
      }
    } else {
      const double width = support / scale;
      const double f = 1 / scale;
      const int left = static_cast<int>(std::floor(center - width));
      const int right = static_cast<int>(std::ceil(center + width));
      for (int j = left; j <= right; ++j) {
        const int w = static_cast<int>(std::nearbyint(Kernel(filter, (center - j) / f) * 256 / f));
        if (w != 0) list.push_back({j, w});
      }
    }
  }
  return MakePlan(taps, srcLen);
}

// Box means of the fast stretch: index i averages source first(i)..last(i).
template <typename Range>
TPlan BoxPlan(int srcLen, int dstLen, Range range) {
  std::vector<std::vector<TTap>> taps(static_cast<std::size_t>(dstLen));
  for (int i = 0; i < dstLen; ++i) {
    auto [a, b] = range(i);
    a = std::clamp(a, 0, srcLen - 1);
    b = std::clamp(b, a, srcLen - 1);
    for (int j = a; j <= b; ++j) taps[i].push_back({j, 1});
  }
  return MakePlan(taps, srcLen);
}

inline std::uint8_t Finish(std::int32_t sum, std::int32_t divisor) {
  const std::int64_t v = divisor != 0 ? sum / divisor
                                      : static_cast<std::int64_t>(static_cast<std::uint32_t>(sum) >> 8);
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

// ---------------------------------------------------------------------------
// A picture of byte rows owned by the resampler (the work picture between
// the two passes). Rows are padded so that the vector loops may run over
// whole blocks of 32 bytes.

struct TRows {
  int Width = 0; // pixels
  int Height = 0;
  int Channels = 0;
  std::size_t Stride = 0;
  std::vector<std::uint8_t> Data;

  void Allocate(int w, int h, int c) {
    Width = w;
    Height = h;
    Channels = c;
    Stride = (static_cast<std::size_t>(w) * c + 63) & ~std::size_t{31};
    Data.assign(Stride * static_cast<std::size_t>(h), 0);
  }
  std::uint8_t* Row(int y) { return Data.data() + Stride * static_cast<std::size_t>(y); }
  const std::uint8_t* Row(int y) const { return Data.data() + Stride * static_cast<std::size_t>(y); }
};

// Source rows by number; Stable when an address stays valid after the next
// row is asked for (not so for a mapped file or an expanded 1-bit row).
struct TSrcRow {
  std::function<const std::uint8_t*(int)> Fn;
  bool Stable = true;
  const std::uint8_t* operator()(int y) const { return Fn(y); }
};
using TDstRow = std::function<void(int, const std::uint8_t*)>;
using TRowDone = std::function<void(int)>;

// ---- horizontal pass -------------------------------------------------------

void HorizontalPlain(const TPlan& plan, const TSrcRow& srcRow, int srcHeight, int c, TRows& work,
                     const TRowDone& done) {
  for (int y = 0; y < srcHeight; ++y) {
    const std::uint8_t* row = srcRow(y);
    std::uint8_t* out = work.Row(y);
    for (int i = 0; i < plan.Count; ++i) {
      const std::int16_t* w = plan.Weights.data() + plan.WeightAt[i];
      const std::int32_t* src = plan.Src.data() + plan.First[i];
      const int n = plan.Pairs[i] * 2;
      for (int ch = 0; ch < c; ++ch) {
        std::int32_t sum = 0;
        for (int k = 0; k < n; ++k) sum += w[k] * row[src[k] * c + ch];
        out[i * c + ch] = Finish(sum, plan.Divisor[i]);
      }
    }
    if (done) done(y);
  }
}

#ifdef RV_RESAMPLE_X86
// Rows are taken 24 / c at a time and laid out position by position, two
// positions interleaved, so that one multiply-add covers two weights of 24
// lanes (rows x channels).
constexpr int kLanes = 24;

__attribute__((target("avx2"))) void HorizontalAvx2(const TPlan& plan, const TSrcRow& srcRow,
                                                     int sw, int srcHeight, int c, TRows& work,
                                                     const TRowDone& done) {
  constexpr int kRecord = 2 * kLanes; // one pair of positions, all lanes
  // The outputs are taken in runs whose positions fit a small block, so that
  // the block stays in the first-level cache while it is filled and read.
  constexpr int kChunkPairs = 256;
  const int rowsPerBlock = kLanes / c;
  const int positions = static_cast<int>(plan.Src.size());
  const int pairCount = (positions + 1) / 2;
  int widest = kChunkPairs;
  for (int i = 0; i < plan.Count; ++i) widest = std::max(widest, plan.Pairs[i]);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(widest) * kRecord + 64, 0);
  alignas(32) std::uint8_t packed[32];
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m128i pairShuffle = _mm_setr_epi8(0, 3, 1, 4, 2, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  // Pairs whose two pixels lie inside the row with 8 bytes readable there.
  const int qa = plan.Origin / 2;
  const int qb = std::min((plan.Origin + sw - 3) / 2, pairCount - 1);

  std::vector<const std::uint8_t*> rowAt(static_cast<std::size_t>(rowsPerBlock));
  std::vector<std::uint8_t> rowCopies;
  const std::size_t rowBytes = static_cast<std::size_t>(sw) * c;
  if (!srcRow.Stable) rowCopies.resize(rowBytes * rowsPerBlock);

  for (int y0 = 0; y0 < srcHeight; y0 += rowsPerBlock) {
    const int rows = std::min(rowsPerBlock, srcHeight - y0);
    // Each source row is asked for once per block; rows whose address does
    // not last are copied.
    for (int r = 0; r < rows; ++r) {
      rowAt[r] = srcRow(y0 + r);
      if (!srcRow.Stable) {
        std::memcpy(rowCopies.data() + r * rowBytes, rowAt[r], rowBytes);
        rowAt[r] = rowCopies.data() + r * rowBytes;
      }
    }
    for (int i0 = 0; i0 < plan.Count;) {
      // Runs need not start in order: a weight that rounds to zero drops
      // a position from one run and not from the next.
      int qStart = plan.First[i0] / 2;
      int qEnd = qStart + plan.Pairs[i0];
      int i1 = i0 + 1;
      for (; i1 < plan.Count; ++i1) {
        const int lo = std::min(qStart, plan.First[i1] / 2);
        const int hi = std::max(qEnd, plan.First[i1] / 2 + plan.Pairs[i1]);
        if (hi - lo > widest) break;
        qStart = lo;
        qEnd = hi;
      }
      std::uint8_t* chunk = block.data() - static_cast<std::ptrdiff_t>(qStart) * kRecord;
      const int pBegin = 2 * qStart, pEnd = std::min(2 * qEnd, positions);

      for (int r = 0; r < rows; ++r) {
        const std::uint8_t* row = rowAt[r];
        std::uint8_t* base = chunk + 2 * r * c;
        const std::int32_t* src = plan.Src.data();
        if (c == 3) {
          const auto scalar = [&](int p) {
            std::uint8_t* d = base + (p >> 1) * kRecord + (p & 1);
            const std::uint8_t* s = row + src[p] * 3;
            d[0] = s[0];
            d[2] = s[1];
            d[4] = s[2];
          };
          // Two neighbouring pixels B0 G0 R0 B1 G1 R1 become B0 B1 G0 G1 R0 R1
          // with one shuffle; mirrored edges go one byte at a time.
          const int va = std::max(qa, qStart), vb = std::min(qb, qEnd - 1);
          if (va > vb) {
            for (int p = pBegin; p < pEnd; ++p) scalar(p);
          } else {
            for (int p = pBegin; p < 2 * va; ++p) scalar(p);
            const bool last = r == rowsPerBlock - 1;
            for (int q = va; q <= vb; ++q) {
              __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 3 * (2 * q - plan.Origin)));
              v = _mm_shuffle_epi8(v, pairShuffle);
              std::uint8_t* d = base + static_cast<std::ptrdiff_t>(q) * kRecord;
              if (!last) {
                // The two extra bytes land in the next row's lanes, written next.
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
              } else {
                const auto bits = static_cast<std::uint64_t>(_mm_cvtsi128_si64(v));
                std::memcpy(d, &bits, 6);
              }
            }
            for (int p = 2 * (vb + 1); p < pEnd; ++p) scalar(p);
          }
        } else {
          for (int p = pBegin; p < pEnd; ++p) {
            std::uint8_t* d = base + (p >> 1) * kRecord + (p & 1);
            for (int ch = 0; ch < c; ++ch) d[2 * ch] = row[src[p] * c + ch];
          }
        }
      }
      if (rows < rowsPerBlock || pEnd < 2 * qEnd) {
        // Lanes of missing rows and positions past the end: zeros.
        for (int q = qStart; q < qEnd; ++q) {
          std::uint8_t* d = chunk + static_cast<std::ptrdiff_t>(q) * kRecord;
          if (rows < rowsPerBlock) std::memset(d + 2 * rows * c, 0, static_cast<std::size_t>(2 * (rowsPerBlock - rows) * c));
          if (2 * q + 1 >= pEnd)
            for (int l = 0; l < kLanes; ++l) d[2 * l + 1] = 0;
        }
      }

      for (int i = i0; i < i1; ++i) {
        __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0;
        const std::int16_t* w = plan.Weights.data() + plan.WeightAt[i];
        const std::uint8_t* p = chunk + static_cast<std::ptrdiff_t>(plan.First[i] >> 1) * kRecord;
        for (int m = 0; m < plan.Pairs[i]; ++m, p += kRecord) {
          std::int32_t pairWeight;
          std::memcpy(&pairWeight, w + 2 * m, 4);
          const __m256i wv = _mm256_set1_epi32(pairWeight);
          const __m256i x0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
          const __m256i x1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
          const __m256i x2 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
          a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(x0, wv));
          a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(x1, wv));
          a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(x2, wv));
        }
        const std::int32_t divisor = plan.Divisor[i];
        if (divisor != 0) {
          const __m256 d = _mm256_set1_ps(static_cast<float>(divisor));
          a0 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a0), d));
          a1 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a1), d));
          a2 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a2), d));
        } else {
          a0 = _mm256_srli_epi32(a0, 8);
          a1 = _mm256_srli_epi32(a1, 8);
          a2 = _mm256_srli_epi32(a2, 8);
        }
        const __m256i s01 = _mm256_packs_epi32(a0, a1);
        const __m256i s22 = _mm256_packs_epi32(a2, a2);
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(s01, s22), order);
        _mm256_store_si256(reinterpret_cast<__m256i*>(packed), bytes);
        const std::size_t at = static_cast<std::size_t>(i) * c;
        if (c == 3) {
          // Four bytes a store: the fourth is the next pixel's, written next
          // (rows have slack past their end).
          for (int r = 0; r < rows; ++r) std::memcpy(work.Row(y0 + r) + at, packed + 3 * r, 4);
        } else {
          for (int r = 0; r < rows; ++r) std::memcpy(work.Row(y0 + r) + at, packed + r * c, static_cast<std::size_t>(c));
        }
      }
      i0 = i1;
    }
    if (done)
      for (int r = 0; r < rows; ++r) done(y0 + r);
  }
}
#endif

void Horizontal(const TPlan& plan, const TSrcRow& srcRow, int srcWidth, int srcHeight, int c,
                TRows& work, const TRowDone& done) {
#ifdef RV_RESAMPLE_X86
  if (UseAvx2() && plan.FloatExact)
    return HorizontalAvx2(plan, srcRow, srcWidth, srcHeight, c, work, done);
#endif
  HorizontalPlain(plan, srcRow, srcHeight, c, work, done);
}

// ---- vertical pass ---------------------------------------------------------

void VerticalRowPlain(const TPlan& plan, int i, const TRows& work, std::uint8_t* out, int bytes) {
  const std::int16_t* w = plan.Weights.data() + plan.WeightAt[i];
  const std::int32_t* src = plan.Src.data() + plan.First[i];
  const int n = plan.Pairs[i] * 2;
  std::vector<std::int32_t> sums(static_cast<std::size_t>(bytes), 0);
  for (int k = 0; k < n; ++k) {
    if (w[k] == 0) continue;
    const std::uint8_t* row = work.Row(src[k]);
    for (int x = 0; x < bytes; ++x) sums[x] += w[k] * row[x];
  }
  for (int x = 0; x < bytes; ++x) out[x] = Finish(sums[x], plan.Divisor[i]);
}

#ifdef RV_RESAMPLE_X86
__attribute__((target("avx2"))) void VerticalRowAvx2(const TPlan& plan, int i, const TRows& work,
                                                      std::uint8_t* out, int bytes) {
  const std::int16_t* w = plan.Weights.data() + plan.WeightAt[i];
  const std::int32_t* src = plan.Src.data() + plan.First[i];
  const int pairs = plan.Pairs[i];
  const std::int32_t divisor = plan.Divisor[i];
  const __m256i zero = _mm256_setzero_si256();
  const __m256 d = _mm256_set1_ps(static_cast<float>(divisor));
  for (int x = 0; x < bytes; x += 32) {
    __m256i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
    for (int m = 0; m < pairs; ++m) {
      std::int32_t pairWeight;
      std::memcpy(&pairWeight, w + 2 * m, 4);
      const __m256i wv = _mm256_set1_epi32(pairWeight);
      const __m256i ra = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(work.Row(src[2 * m]) + x));
      const __m256i rb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(work.Row(src[2 * m + 1]) + x));
      const __m256i lo = _mm256_unpacklo_epi8(ra, rb);
      const __m256i hi = _mm256_unpackhi_epi8(ra, rb);
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), wv));
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), wv));
      a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), wv));
      a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), wv));
    }
    if (divisor != 0) {
      a0 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a0), d));
      a1 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a1), d));
      a2 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a2), d));
      a3 = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a3), d));
    } else {
      a0 = _mm256_srli_epi32(a0, 8);
      a1 = _mm256_srli_epi32(a1, 8);
      a2 = _mm256_srli_epi32(a2, 8);
      a3 = _mm256_srli_epi32(a3, 8);
    }
    // The packs undo, lane by lane, the order the unpacks made.
    const __m256i bytesOut =
        _mm256_packus_epi16(_mm256_packs_epi32(a0, a1), _mm256_packs_epi32(a2, a3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), bytesOut);
  }
}
#endif

// out must hold the work stride.
void VerticalRow(const TPlan& plan, int i, const TRows& work, std::uint8_t* out, int bytes) {
#ifdef RV_RESAMPLE_X86
  if (UseAvx2() && plan.FloatExact) return VerticalRowAvx2(plan, i, work, out, bytes);
#endif
  VerticalRowPlain(plan, i, work, out, bytes);
}

// ---------------------------------------------------------------------------
// Filtered resampling over rows of c bytes a pixel.

void Filtered(TResampleFilter filter, int sw, int sh, int dw, int dh, int c, const TSrcRow& srcRow,
              const TDstRow& dstRow, void* sender, const TRvProgressEvent& onProgress) {
  if (filter < rfTriangle || filter > rfLinear) return;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  if (sw < 2 && sh < 2) return;
  const double xscale = (sw != 1 && dw != 1) ? static_cast<double>(dw - 1) / (sw - 1)
                                             : static_cast<double>(dw) / sw;
  const double yscale = (sh != 1 && dh != 1) ? static_cast<double>(dh - 1) / (sh - 1)
                                             : static_cast<double>(dh) / sh;
  const double factor = 100 / (sh + dw + 0.5);

  TRows work;
  work.Allocate(dw, sh, c);
  {
    const TPlan columns = FilterPlan(filter, sw, dw, xscale);
    TRowDone done;
    if (onProgress)
      done = [&](int y) { onProgress(sender, static_cast<int>(std::trunc(y * factor))); };
    Horizontal(columns, srcRow, sw, sh, c, work, done);
  }
  const TPlan rows = FilterPlan(filter, sh, dh, yscale);
  std::vector<std::uint8_t> out(work.Stride + 32);
  const int bytes = dw * c;
  int reported = 0;
  for (int i = 0; i < dh; ++i) {
    VerticalRow(rows, i, work, out.data(), bytes);
    dstRow(i, out.data());
    if (onProgress) {
      // One report per destination column, spread over the rows.
      const int upto = static_cast<int>(static_cast<std::int64_t>(i + 1) * dw / dh);
      for (; reported < upto; ++reported)
        onProgress(sender, static_cast<int>(std::trunc((sh + reported) * factor)));
    }
  }
}

// ---------------------------------------------------------------------------
// Fast stretch over rows of c bytes a pixel.

constexpr int kFracBits = 17;
constexpr double kFracOne = 131072.0;

void LinearRow(const std::uint8_t* src, int sw, int dw, int c, std::uint8_t* out,
               const std::vector<int>& ix, const std::vector<int>& frac) {
  for (int x = 0; x < dw; ++x) {
    const std::uint8_t* a = src + ix[x] * c;
    const std::uint8_t* b = src + std::min(ix[x] + 1, sw - 1) * c;
    for (int ch = 0; ch < c; ++ch)
      out[x * c + ch] = static_cast<std::uint8_t>(a[ch] + (((b[ch] - a[ch]) * frac[x]) >> kFracBits));
  }
}

void Stretch(int sw, int sh, int dw, int dh, int c, const TSrcRow& srcRow, const TDstRow& dstRow,
             void* sender, const TRvProgressEvent& onProgress, bool linearOnly = false) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const double xs = static_cast<double>(dw) / sw;
  const double ys = static_cast<double>(dh) / sh;
  const double factor = 100 / (sh + dh + 0.5);
  const int rowBytes = dw * c;

  TRows work;
  work.Allocate(dw, sh, c);
  TRowDone done;
  if (onProgress)
    done = [&](int y) { onProgress(sender, static_cast<int>(std::trunc(y * factor))); };

  if (xs == 1) {
    // A scale of exactly 1 copies; a box would blend each column with the next.
    for (int y = 0; y < sh; ++y) {
      std::memcpy(work.Row(y), srcRow(y), static_cast<std::size_t>(rowBytes));
      if (done) done(y);
    }
  } else if (xs > 1 || linearOnly) {
    std::vector<int> ix(static_cast<std::size_t>(dw)), frac(static_cast<std::size_t>(dw));
    for (int x = 0; x < dw; ++x) {
      const double p = x / xs;
      ix[x] = std::min(static_cast<int>(p), sw - 1);
      frac[x] = static_cast<int>((p - static_cast<int>(p)) * kFracOne);
    }
    for (int y = 0; y < sh; ++y) {
      LinearRow(srcRow(y), sw, dw, c, work.Row(y), ix, frac);
      if (done) done(y);
    }
  } else {
    const TPlan plan = BoxPlan(sw, dw, [&](int x) {
      const int a = static_cast<int>(x / xs);
      const int b = static_cast<int>(std::min(x + 1, dw - 1) / xs + 1e-10);
      return std::pair<int, int>{a, b};
    });
    Horizontal(plan, srcRow, sw, sh, c, work, done);
  }

  std::vector<std::uint8_t> out(work.Stride + 32);
  const auto report = [&](int y) {
    if (onProgress) onProgress(sender, static_cast<int>(std::trunc((y + sh) * factor)));
  };
  if (ys == 1) {
    for (int y = 0; y < dh; ++y) {
      dstRow(y, work.Row(y));
      report(y);
    }
  } else if (ys > 1 || linearOnly) {
    for (int y = 0; y < dh; ++y) {
      const double p = y / ys;
      const int iy = std::min(static_cast<int>(p), sh - 1);
      const int iy2 = std::min(iy + 1, sh - 1);
      const int f = static_cast<int>((p - static_cast<int>(p)) * kFracOne);
      const std::uint8_t* a = work.Row(iy);
      const std::uint8_t* b = work.Row(iy2);
      for (int x = 0; x < rowBytes; ++x)
        out[x] = static_cast<std::uint8_t>(a[x] + (((b[x] - a[x]) * f) >> kFracBits));
      dstRow(y, out.data());
      report(y);
    }
  } else {
    const TPlan plan = BoxPlan(sh, dh, [&](int y) {
      const int a = static_cast<int>(y / ys);
      const int b = static_cast<int>(std::min(y + 1, dh - 1) / ys);
      return std::pair<int, int>{a, b};
    });
    for (int y = 0; y < dh; ++y) {
      VerticalRow(plan, y, work, out.data(), rowBytes);
      dstRow(y, out.data());
      report(y);
    }
  }
}

// ---------------------------------------------------------------------------
// Row adapters.

TSrcRow BitmapSrc(TRvBaseBitmap* bmp) {
  bool stable = dynamic_cast<TRvDibbitmap*>(bmp) != nullptr;
  if (auto* lib = dynamic_cast<TRvBitmap*>(bmp)) stable = lib->Location() != rvlFile;
  return {[bmp](int y) -> const std::uint8_t* { return bmp->Scanline(y); }, stable};
}
TDstRow BitmapDst(TRvBaseBitmap* bmp, int bytes) {
  return [bmp, bytes](int y, const std::uint8_t* row) {
    std::memcpy(bmp->Scanline(y), row, static_cast<std::size_t>(bytes));
  };
}
TSrcRow TBitmapSrc(const platform::TBitmap* bmp) {
  return {[bmp](int y) { return bmp->ScanLine(y); }, true};
}
TDstRow TBitmapDst(platform::TBitmap* bmp, int bytes) {
  return [bmp, bytes](int y, const std::uint8_t* row) {
    std::memcpy(bmp->ScanLine(y), row, static_cast<std::size_t>(bytes));
  };
}
TSrcRow MaskSrc(const TRvMask* mask) {
  return {[mask](int y) { return mask->ScanLine(y); }, true};
}
TDstRow MaskDst(TRvMask* mask, int bytes) {
  return [mask, bytes](int y, const std::uint8_t* row) {
    std::memcpy(mask->ScanLine(y), row, static_cast<std::size_t>(bytes));
  };
}
// A 1-bit row read as bytes 0 and 255, into one buffer reused for every row.
TSrcRow BWSrc(const platform::TBitmap* bmp, std::vector<std::uint8_t>& buffer) {
  buffer.assign(static_cast<std::size_t>(bmp->Width()), 0);
  return {[bmp, &buffer](int y) -> const std::uint8_t* {
            const std::uint8_t* bits = bmp->ScanLine(y);
            for (std::size_t x = 0; x < buffer.size(); ++x)
              buffer[x] = ((bits[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
            return buffer.data();
          },
          false};
}
// Gray written to all three bytes.
TDstRow GrayDst(platform::TBitmap* bmp) {
  return [bmp](int y, const std::uint8_t* row) {
    std::uint8_t* out = bmp->ScanLine(y);
    for (int x = 0; x < bmp->Width(); ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = row[x];
  };
}

bool Is8BitMask(const TRvMask* m) { return m != nullptr && m->BitCount() == 8 && m->Width() > 0; }

} // namespace

double RvFilterKernel(TResampleFilter Filter, double X) { return Kernel(Filter, X); }
double RvFilterSupport(TResampleFilter Filter) { return Support(Filter); }

void RvResampleSetVectorPaths(bool Enabled) { gVectorPaths.store(Enabled); }

void RvResampleMask(const TRvMask* Src, TRvMask* Dst, TResampleFilter Filter) {
  if (Filter == rfFastLinear) return RvStretchMaskLinear(Src, Dst);
  if (!Is8BitMask(Src) || !Is8BitMask(Dst)) return;
  Filtered(Filter, Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 1, MaskSrc(Src),
           MaskDst(Dst, Dst->Width()), nullptr, nullptr);
}

void RvResampleBWBitmap(const platform::TBitmap* Src, platform::TBitmap* Dst,
                        TResampleFilter Filter) {
  if (Filter == rfFastLinear) return RvStretchBWLinear(Src, Dst);
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != platform::pf1bit) return;
  if (Src->Empty() || Dst->Empty()) return;
  Dst->SetPixelFormat(platform::pf24bit);
  std::vector<std::uint8_t> buffer;
  Filtered(Filter, Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 1,
           BWSrc(Src, buffer), GrayDst(Dst), nullptr, nullptr);
}

void RvResampleTBitmap(const platform::TBitmap* Src, platform::TBitmap* Dst,
                       TResampleFilter Filter, void* Sender, const TRvProgressEvent& OnProgress) {
  if (Filter == rfFastLinear) return RvStretchTBitmapLinear(Src, Dst, Sender, OnProgress);
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != platform::pf24bit) return;
  Dst->SetPixelFormat(platform::pf24bit);
  Filtered(Filter, Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 3, TBitmapSrc(Src),
           TBitmapDst(Dst, Dst->Width() * 3), Sender, OnProgress);
}

void RvResampleBitmap(TRvBaseBitmap* Src, TRvBaseBitmap* Dst, TResampleFilter Filter,
                      void* Sender, const TRvProgressEvent& OnProgress) {
  if (Filter == rfFastLinear) return RvStretchBitmapLinear(Src, Dst, Sender, OnProgress);
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != rvpf24Bit) return;
  // Rows of another format would be overrun by three bytes a pixel.
  if (Dst->PixelFormat() != rvpf24Bit) return;
  Filtered(Filter, Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 3, BitmapSrc(Src),
           BitmapDst(Dst, Dst->Width() * 3), Sender, OnProgress);
}

void RvStretchTBitmapLinear(const platform::TBitmap* Src, platform::TBitmap* Dst, void* Sender,
                            const TRvProgressEvent& OnProgress) {
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != platform::pf24bit) return;
  if (Src->Empty() || Dst->Empty()) return;
  if (Src->Width() == Dst->Width() && Src->Height() == Dst->Height()) {
    RvCopyBitmap(Src, Dst);
    return;
  }
  Dst->SetPixelFormat(platform::pf24bit);
  Stretch(Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 3, TBitmapSrc(Src),
          TBitmapDst(Dst, Dst->Width() * 3), Sender, OnProgress);
}

void RvStretchBitmapLinear(TRvBaseBitmap* Src, TRvBaseBitmap* Dst, void* Sender,
                           const TRvProgressEvent& OnProgress) {
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != rvpf24Bit) return;
  if (Src->Width() == 0 || Src->Height() == 0 || Dst->Width() == 0 || Dst->Height() == 0) return;
  if (Src->Width() == Dst->Width() && Src->Height() == Dst->Height()) {
    Dst->Assign(Src);
    return;
  }
  if (Dst->PixelFormat() != rvpf24Bit) return;
  Stretch(Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 3, BitmapSrc(Src),
          BitmapDst(Dst, Dst->Width() * 3), Sender, OnProgress);
}

void RvStretchBWLinear(const platform::TBitmap* Src, platform::TBitmap* Dst) {
  if (Src == nullptr || Dst == nullptr || Src->PixelFormat() != platform::pf1bit) return;
  if (Src->Empty() || Dst->Empty()) return;
  const int sw = Src->Width(), sh = Src->Height(), dw = Dst->Width(), dh = Dst->Height();
  if (sw == dw && sh == dh) {
    RvCopyBitmap(Src, Dst);
    return;
  }
  if (dw < sw) {
    RvShrinkBWTBitmapToGray(Src, 0, 0, sw - 1, sh - 1, Dst);
    return;
  }
  Dst->SetPixelFormat(platform::pf24bit);
  std::vector<std::uint8_t> buffer;
  Stretch(sw, sh, dw, dh, 1, BWSrc(Src, buffer), GrayDst(Dst), nullptr, nullptr, true);
}

void RvStretchMaskLinear(const TRvMask* Src, TRvMask* Dst) {
  if (!Is8BitMask(Src) || !Is8BitMask(Dst)) return;
  if (Src->Width() == Dst->Width() && Src->Height() == Dst->Height()) {
    Dst->Assign(Src);
    return;
  }
  Stretch(Src->Width(), Src->Height(), Dst->Width(), Dst->Height(), 1, MaskSrc(Src),
          MaskDst(Dst, Dst->Width()), nullptr, nullptr);
}

} // namespace rv
