#include "image/views/rvrender.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/model/rvbits.h"
#include "image/model/rvmask.h"

namespace rv {

namespace {

std::atomic<bool> gVectorPaths{true};

bool UseAvx2() {
#if defined(__x86_64__)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && gVectorPaths.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

inline std::uint32_t Opaque(const std::uint8_t* P) {
  return 0xFF000000u | (static_cast<std::uint32_t>(P[2]) << 16) |
         (static_cast<std::uint32_t>(P[1]) << 8) | P[0];
}

// D + floor((S - D) x A / 256); the shift of a negative product rounds down.
inline std::uint8_t Blend(int S, int D, int A) {
  return static_cast<std::uint8_t>(D + (((S - D) * A) >> 8));
}

// 24-bit source pixels at byte offsets Offs into 32-bit pixels.
void Sample24To32Plain(const std::uint8_t* Src, const std::int32_t* Offs, std::uint32_t* Dst, int N) {
  for (int i = 0; i < N; ++i) Dst[i] = Opaque(Src + Offs[i]);
}

#if defined(__x86_64__)
// Consecutive 24-bit pixels into 32-bit ones, four at a time; each load
// reads 16 bytes for 12, so the caller keeps N where that stays inside.
__attribute__((target("ssse3"))) void Row24To32Ssse3(const std::uint8_t* Src, std::uint32_t* Dst, int N) {
  const __m128i shuffle = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 4 <= N; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), _mm_or_si128(_mm_shuffle_epi8(v, shuffle), alpha));
  }
  for (; i < N; ++i) Dst[i] = Opaque(Src + 3 * i);
}

// Each gather reads one byte past its pixel: the caller keeps N to the
// pixels whose fourth byte is still inside the picture.
__attribute__((target("avx2"))) void Sample24To32Avx2(const std::uint8_t* Src,
                                                      const std::int32_t* Offs,
                                                      std::uint32_t* Dst, int N) {
  const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 8 <= N; i += 8) {
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Offs + i));
    __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int*>(Src), idx, 1);
    v = _mm256_or_si256(_mm256_and_si256(v, rgb), alpha);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), v);
  }
  Sample24To32Plain(Src, Offs + i, Dst + i, N - i);
}

// Each channel D + floor((S - D) x A / 256), written as
// (D x (256 - A) + S x A) >> 8, which stays within 16 unsigned bits.
__attribute__((target("avx2"))) inline __m256i BlendHalfAvx2(__m256i S16, __m256i D16, __m256i A16) {
  const __m256i full = _mm256_set1_epi16(256);
  return _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(D16, _mm256_sub_epi16(full, A16)), _mm256_mullo_epi16(S16, A16)), 8);
}

__attribute__((target("avx2"))) void BlendRowAvx2(const std::uint32_t* Src, const std::uint8_t* A,
                                                  std::uint32_t* Dst, int N) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i spread = _mm256_set1_epi32(0x01010101);
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int i = 0;
  for (; i + 8 <= N; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + i));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Dst + i));
    const __m256i a = _mm256_mullo_epi32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(A + i))), spread);
    const __m256i lo = BlendHalfAvx2(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero), _mm256_unpacklo_epi8(a, zero));
    const __m256i hi = BlendHalfAvx2(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero), _mm256_unpackhi_epi8(a, zero));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), _mm256_or_si256(_mm256_packus_epi16(lo, hi), opaque));
  }
  for (; i < N; ++i) {
    auto* px = reinterpret_cast<std::uint8_t*>(Dst + i);
    const std::uint32_t sv = Src[i];
    px[0] = Blend(sv & 0xFF, px[0], A[i]);
    px[1] = Blend((sv >> 8) & 0xFF, px[1], A[i]);
    px[2] = Blend((sv >> 16) & 0xFF, px[2], A[i]);
    px[3] = 0xFF;
  }
}
#endif

} // namespace

void RvRenderSetVectorPaths(bool Enabled) { gVectorPaths.store(Enabled); }

void RvRenderNearest(const TRvNearestJob& Job, QImage& Dest) {
  const platform::TBitmap* source = Job.Source;
  if (source == nullptr || source->Empty() || Job.SourceW < 1 || Job.SourceH < 1 ||
      Job.DestW < 1 || Job.DestH < 1)
    return;
  const bool mono = source->PixelFormat() == platform::pf1bit;
  if (!mono && source->PixelFormat() != platform::pf24bit) return;
  int bytes;
  switch (Dest.format()) {
    case QImage::Format_BGR888: bytes = 3; break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: bytes = 4; break;
    default: return;
  }
  const TRvMask* alpha = Job.Alpha;
  if (alpha != nullptr && (alpha->BitCount() != 8 || alpha->Width() != source->Width() ||
                           alpha->Height() != source->Height()))
    return;

  const std::int64_t sy = Job.StepY > 0 ? Job.StepY : RvFixedStep(Job.SourceH, Job.DestH);
  const std::int64_t sx = Job.StepX > 0 ? Job.StepX : RvFixedStep(Job.SourceW, Job.DestW);
  const int lastCol = source->Width() - 1, lastRow = source->Height() - 1;
  QRect rows(Job.DestX, Job.DestY, std::min(Job.DestW, Dest.width() - Job.DestX),
             std::min(Job.DestH, Dest.height() - Job.DestY));
  rows = rows.intersected(Job.Clip).intersected(Dest.rect());
  if (rows.isEmpty()) return;
  const int x0 = rows.left(), x1 = rows.right() + 1, n = x1 - x0;

  // Source column of every destination column, as a byte offset for 24 bits.
  std::vector<std::int32_t> cols(static_cast<std::size_t>(n));
  for (int x = x0; x < x1; ++x) {
    const int c = RvNearestSource(x - Job.DestX, Job.SourceX, Job.PhaseX, sx, lastCol);
    cols[static_cast<std::size_t>(x - x0)] = mono || alpha ? c : c * 3;
  }
  const bool wholeRows = sx == 16384 && sy == 16384 && cols[static_cast<std::size_t>(n - 1)] == cols[0] + (mono || alpha ? 1 : 3) * (n - 1);
  const bool avx2 = bytes == 4 && !mono && alpha == nullptr && UseAvx2();
  const bool blendAvx2 = bytes == 4 && !mono && alpha != nullptr && UseAvx2();
  // For the blend: source byte offsets, and a row of samples and weights.
  std::vector<std::int32_t> offsets;
  std::vector<std::uint32_t> sampled;
  std::vector<std::uint8_t> weights;
  int sampledRow = -1;
  if (blendAvx2) {
    offsets.resize(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) offsets[i] = cols[i] * 3;
    sampled.resize(cols.size());
    weights.resize(cols.size());
  }
  const QImage& pixels = source->Image();
  const std::size_t sourceBytes = static_cast<std::size_t>(pixels.sizeInBytes());
  const std::uint8_t* sourceBase = pixels.constBits();

  int prevSource = -1;
  for (int y = rows.top(); y <= rows.bottom(); ++y) {
    const int srow = RvNearestSource(y - Job.DestY, Job.SourceY, Job.PhaseY, sy, lastRow);
    std::uint8_t* d = Dest.scanLine(y) + static_cast<std::size_t>(x0) * static_cast<std::size_t>(bytes);
    if (srow == prevSource && Job.ReuseRows) {
      std::memcpy(d, Dest.constScanLine(y - 1) + static_cast<std::size_t>(x0) * bytes,
                  static_cast<std::size_t>(n) * bytes);
      continue;
    }
    prevSource = srow;
    const std::uint8_t* s = source->ScanLine(srow);
    if (alpha != nullptr) {
      const std::uint8_t* a = alpha->ScanLine(srow);
#if defined(__x86_64__)
      if (blendAvx2) {
        // The row's source pixels and weights first, then eight at a time.
        if (srow != sampledRow) {
          const std::size_t room = sourceBytes - static_cast<std::size_t>(s - sourceBase);
          int safe = n;
          while (safe > 0 && static_cast<std::size_t>(offsets[static_cast<std::size_t>(safe - 1)]) + 4 > room) --safe;
          Sample24To32Avx2(s, offsets.data(), sampled.data(), safe);
          Sample24To32Plain(s, offsets.data() + safe, sampled.data() + safe, n - safe);
          for (int i = 0; i < n; ++i) weights[static_cast<std::size_t>(i)] = a[cols[static_cast<std::size_t>(i)]];
          sampledRow = srow;
        }
        BlendRowAvx2(sampled.data(), weights.data(), reinterpret_cast<std::uint32_t*>(d), n);
        continue;
      }
#endif
      for (int i = 0; i < n; ++i) {
        const int c = cols[static_cast<std::size_t>(i)];
        const int av = a[c];
        std::uint8_t* px = d + static_cast<std::size_t>(i) * bytes;
        if (mono) {
          const int v = RvTestBit(s, c) ? 255 : 0;
          px[0] = Blend(v, px[0], av);
          px[1] = Blend(v, px[1], av);
          px[2] = Blend(v, px[2], av);
        } else {
          const std::uint8_t* sp = s + 3 * c;
          px[0] = Blend(sp[0], px[0], av);
          px[1] = Blend(sp[1], px[1], av);
          px[2] = Blend(sp[2], px[2], av);
        }
        if (bytes == 4) px[3] = 0xFF;
      }
      continue;
    }
    if (mono) {
      for (int i = 0; i < n; ++i) {
        const std::uint8_t v = RvTestBit(s, cols[static_cast<std::size_t>(i)]) ? 0xFF : 0x00;
        std::uint8_t* px = d + static_cast<std::size_t>(i) * bytes;
        px[0] = px[1] = px[2] = v;
        if (bytes == 4) px[3] = 0xFF;
      }
      continue;
    }
    if (bytes == 3) {
      if (wholeRows) {
        std::memcpy(d, s + cols[0], static_cast<std::size_t>(n) * 3);
      } else {
        for (int i = 0; i < n; ++i) std::memcpy(d + 3 * i, s + cols[static_cast<std::size_t>(i)], 3);
      }
      continue;
    }
    auto* out = reinterpret_cast<std::uint32_t*>(d);
#if defined(__x86_64__)
    if (wholeRows && avx2) {
      const std::size_t room = sourceBytes - static_cast<std::size_t>(s - sourceBase) - cols[0];
      const int safe = room >= 16 ? std::min(n, static_cast<int>((room - 16) / 3) + 1) : 0;
      Row24To32Ssse3(s + cols[0], out, safe);
      Sample24To32Plain(s, cols.data() + safe, out + safe, n - safe);
      continue;
    }
    if (avx2) {
      // Columns whose 4-byte read stays inside the picture's block.
      const std::size_t room = sourceBytes - static_cast<std::size_t>(s - sourceBase);
      int safe = n;
      while (safe > 0 && static_cast<std::size_t>(cols[static_cast<std::size_t>(safe - 1)]) + 4 > room) --safe;
      Sample24To32Avx2(s, cols.data(), out, safe);
      Sample24To32Plain(s, cols.data() + safe, out + safe, n - safe);
      continue;
    }
#endif
    Sample24To32Plain(s, cols.data(), out, n);
  }
  (void)sourceBytes;
  (void)sourceBase;
  (void)avx2;
  (void)blendAvx2;
}

} // namespace rv
