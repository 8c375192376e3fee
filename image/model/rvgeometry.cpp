#include "image/model/rvgeometry.h"

#include <QImage>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "image/model/rastrumproc.h"
#include "image/model/rvbits.h"
#include "image/model/rvmask.h"
#include "image/model/rvresample.h"

namespace rv {

namespace {

using platform::TBitmap;

// Halves to even, in the double range (sizes are checked by the callers).
double RoundEven(double X) { return std::nearbyint(X); }

// A picture in plain memory, top row first, rows padded to 4 bytes: the
// work buffers of the rotations.
struct TPlane {
  int W = 0;
  int H = 0;
  int Bits = 24;
  std::size_t Stride = 0;
  std::unique_ptr<std::uint8_t[]> Data;

  void Allocate(int Width, int Height, int BitCount) {
    if (Width < 0 || Height < 0) throw std::bad_alloc();
    const std::int64_t stride = RvRowLen(Width, BitCount);
    const std::int64_t size = stride * Height;
    if (stride > std::numeric_limits<int>::max() || size / (Height > 0 ? Height : 1) != stride)
      throw std::bad_alloc();
    W = Width;
    H = Height;
    Bits = BitCount;
    Stride = static_cast<std::size_t>(stride);
    Data.reset(new std::uint8_t[static_cast<std::size_t>(size) + 16]);
  }
  std::uint8_t* Row(int Y) { return Data.get() + static_cast<std::size_t>(Y) * Stride; }
  const std::uint8_t* Row(int Y) const { return Data.get() + static_cast<std::size_t>(Y) * Stride; }
};

// Reads rows of a picture one at a time; a library bitmap's row address
// lasts only until its next row is asked for.
using TRowReader = std::function<const std::uint8_t*(int)>;

TRowReader Reader(const TBitmap* B) { return [B](int y) { return B->ScanLine(y); }; }
TRowReader Reader(TRvBitmap* B) { return [B](int y) -> const std::uint8_t* { return B->Scanline(y); }; }
TRowReader Reader(const TPlane& P) { return [&P](int y) { return P.Row(y); }; }

void LoadPlane(TPlane& P, int W, int H, int Bits, const TRowReader& Read) {
  P.Allocate(W, H, Bits);
  for (int y = 0; y < H; ++y) std::memcpy(P.Row(y), Read(y), P.Stride);
}

// Writes a plane into a class-library bitmap of its format, keeping a 1-bit
// bitmap's palette.
void StorePlane(const TPlane& P, TBitmap* B) {
  if (P.Bits == 24) {
    QImage image(P.W, P.H, QImage::Format_BGR888);
    if (image.isNull()) throw std::bad_alloc();
    for (int y = 0; y < P.H; ++y) std::memcpy(image.scanLine(y), P.Row(y), P.Stride);
    B->SetImage(image);
    return;
  }
  B->SetSize(1, 1);
  B->SetPixelFormat(platform::pf1bit);
  B->SetSize(P.W, P.H);
  for (int y = 0; y < P.H; ++y) std::memcpy(B->ScanLine(y), P.Row(y), P.Stride);
}

void StorePlane(const TPlane& P, TRvBitmap* B) {
  B->Allocate(P.W, P.H, P.Bits == 24 ? rvpf24Bit : rvpf1Bit);
  for (int y = 0; y < P.H; ++y) std::memcpy(B->Scanline(y), P.Row(y), P.Stride);
}

// The quarter turn of a plane of N bytes a pixel into D, already allocated.
// Walked in blocks so that both pictures stay in the cache.
template <int N>
void TurnBytes(const TPlane& S, TPlane& D, int Quarters) {
  const int w = S.W, h = S.H;
  constexpr int block = 64;
  for (int y0 = 0; y0 < h; y0 += block) {
    const int y1 = std::min(h, y0 + block);
    for (int x0 = 0; x0 < w; x0 += block) {
      const int x1 = std::min(w, x0 + block);
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* s = S.Row(y) + N * x0;
        for (int x = x0; x < x1; ++x, s += N) {
          std::uint8_t* d;
          switch (Quarters) {
            case 0: d = D.Row(y) + N * x; break;
            case 1: d = D.Row(w - 1 - x) + N * y; break;
            case 2: d = D.Row(h - 1 - y) + N * (w - 1 - x); break;
            default: d = D.Row(x) + N * (h - 1 - y); break;
          }
          for (int c = 0; c < N; ++c) d[c] = s[c];
        }
      }
    }
  }
}

// Quarter turns: counter-clockwise Dest(y, W - 1 - x) = Source(x, y),
// clockwise Dest(H - 1 - y, x) = Source(x, y); half turn Dest(W - 1 - x,
// H - 1 - y). 1-, 8- and 24-bit planes.
void TurnPlane(const TPlane& S, TPlane& D, int Quarters) {
  Quarters &= 3;
  const bool swap = (Quarters & 1) != 0;
  D.Allocate(swap ? S.H : S.W, swap ? S.W : S.H, S.Bits);
  const int w = S.W, h = S.H;
  if (S.Bits == 1) {
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* s = S.Row(y);
      for (int x = 0; x < w; ++x) {
        const bool bit = RvTestBit(s, x);
        switch (Quarters) {
          case 0: RvSetBit(D.Row(y), x, bit); break;
          case 1: RvSetBit(D.Row(w - 1 - x), y, bit); break;
          case 2: RvSetBit(D.Row(h - 1 - y), w - 1 - x, bit); break;
          default: RvSetBit(D.Row(x), h - 1 - y, bit); break;
        }
      }
    }
    return;
  }
  if (S.Bits == 8)
    TurnBytes<1>(S, D, Quarters);
  else
    TurnBytes<3>(S, D, Quarters);
}

// ------------------------------------------------------------ shear rotation

// One channel of the anti-aliased shears: weights in 1/4096, rounded once.
// (The weight f may be negative, so the result is clamped.)
inline std::uint8_t Blend(int P, int Q, int F, int G) {
  const int v = (P * F + Q * G + 2048) >> 12;
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void FillPixels(std::uint8_t* Row, int Count, const TRGB& C) {
  if (C.b == C.g && C.g == C.r) {
    std::memset(Row, C.b, static_cast<std::size_t>(Count) * 3);
    return;
  }
  for (int i = 0; i < Count; ++i, Row += 3) {
    Row[0] = C.b;
    Row[1] = C.g;
    Row[2] = C.r;
  }
}

// Shears one row: Src's Count pixels land at Off in Dest (DestCount pixels,
// already filled with the background), each blended with its left
// neighbour; the pixel after the last takes the rest when F > 0.
void ShearRow(const std::uint8_t* Src, int Count, std::uint8_t* Dest, int DestCount, int Off, int F,
              bool AntiAlias, const TRGB& Bg) {
  const int xa = std::max(0, -Off);
  const int xb = std::min(Count, DestCount - Off);
  if (!AntiAlias) {
    if (xb > xa)
      std::memcpy(Dest + 3 * static_cast<std::ptrdiff_t>(Off + xa), Src + 3 * xa,
                  static_cast<std::size_t>(xb - xa) * 3);
    return;
  }
  const int G = 4096 - F;
  const std::uint8_t bg[3] = {Bg.b, Bg.g, Bg.r};
  if (xb > xa) {
    std::uint8_t* d = Dest + 3 * static_cast<std::ptrdiff_t>(Off + xa);
    const std::uint8_t* s = Src + 3 * xa;
    for (int c = 0; c < 3; ++c) d[c] = Blend(bg[c], s[c], F, G);
    const int bytes = (xb - xa - 1) * 3;
    // The left neighbour of byte k is byte k - 3: a straight loop the
    // compiler turns into vector code.
    std::uint8_t* dd = d + 3;
    const std::uint8_t* ss = s + 3;
    for (int k = 0; k < bytes; ++k) {
      const int v = (ss[k - 3] * F + ss[k] * G + 2048) >> 12;
      dd[k] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
  const int trail = Off + Count;
  if (F > 0 && trail < DestCount && trail >= 0) {
    const std::uint8_t* prev = xb > xa ? Src + 3 * (xb - 1) : bg;
    std::uint8_t* d = Dest + 3 * static_cast<std::ptrdiff_t>(trail);
    for (int c = 0; c < 3; ++c) d[c] = Blend(prev[c], bg[c], F, G);
  }
}

struct TShearSizes {
  double Theta, T, S;
  int W1, D1, H2, D2, H3, W3;
};

TShearSizes ShearSizes(double A, int w, int h) {
  TShearSizes z{};
  z.Theta = M_PI * A / 180;
  z.T = std::fabs(std::tan(z.Theta / 2));
  z.S = std::fabs(std::sin(z.Theta));
  z.W1 = static_cast<int>(RoundEven(h * z.T + w + 1));
  z.D1 = static_cast<int>(RoundEven((z.W1 - w) * z.S));
  z.H2 = static_cast<int>(RoundEven(z.W1 * z.S + h + 1));
  z.D2 = static_cast<int>(RoundEven((z.H2 - h - z.D1) * z.T));
  z.H3 = z.H2 - 2 * z.D1;
  z.W3 = static_cast<int>(RoundEven(z.H3 * z.T + z.W1 + 1 - 2 * z.D2));
  return z;
}

// Where the turned picture goes: Resize makes it Width x Height (24-bit),
// Row gives a row to write.
struct TShearTarget {
  std::function<void(int, int)> Resize;
  std::function<std::uint8_t*(int)> Row;
  std::function<void()> Done;
};

// The counter-clockwise quarter turns (0 to 3) in Angle; Rest is what is
// left, in degrees with three decimals from -45 to 45.
int FoldQuarters(double Angle, double& Rest) {
  Rest = std::fmod(RoundEven(Angle * 1000), 360000.0) / 1000;
  int quarters = 0;
  while (Rest > 45) {
    Rest -= 90;
    ++quarters;
  }
  while (Rest < -45) {
    Rest += 90;
    --quarters;
  }
  return quarters & 3;
}

void ShearRotate(int w, int h, const TRowReader& Source, double Angle, bool AntiAlias,
                 const TRGB& Bg, TShearTarget& Target, const std::function<void(int)>& Report) {
  if (w <= 0 || h <= 0 || !std::isfinite(Angle)) return;
  double a = 0;
  // counter-clockwise quarter turns folded into the work copy
  const int quarters = FoldQuarters(Angle, a);
  TPlane work;
  TRowReader W = Source;
  if (quarters != 0) {
    TPlane source;
    LoadPlane(source, w, h, 24, Source);
    TurnPlane(source, work, quarters);
    W = Reader(work);
    w = work.W;
    h = work.H;
  }
  if (a == 0) {
    if (quarters == 0) return;
    Target.Resize(w, h);
    for (int y = 0; y < h; ++y) std::memcpy(Target.Row(y), work.Row(y), static_cast<std::size_t>(w) * 3);
    if (Target.Done) Target.Done();
    return;
  }
  const TShearSizes z = ShearSizes(a, w, h);
  const int W1 = z.W1, H3 = z.H3, W3 = z.W3;
  if (W1 <= 0 || H3 <= 0 || W3 <= 0) return;
  const double total = h + W1 + H3 + 0.5;
  int n = 0;
  auto report = [&] {
    if (Report) Report(static_cast<int>(RoundEven(n * 100 / total)));
    ++n;
  };

  // Pass 1: horizontal shear of W into B1 (W1 x h).
  TPlane b1;
  b1.Allocate(W1, h, 24);
  for (int y = 0; y < h; ++y) {
    report();
    const double skew = (z.Theta < 0 ? h - y : y) * z.T;
    const double off = RoundEven(skew);
    const int f = static_cast<int>(RoundEven((skew - off) * 4096));
    std::uint8_t* d = b1.Row(y);
    FillPixels(d, W1, Bg);
    ShearRow(W(y), w, d, W1, static_cast<int>(off), f, AntiAlias, Bg);
  }
  if (quarters != 0) work.Data.reset();

  // Pass 2: vertical shear of B1 into B2 (W1 x H3). Column x moves down by
  // Off[x]; walked row by row of B2 so that memory is read in order.
  TPlane b2;
  b2.Allocate(W1, H3, 24);
  std::vector<int> colOff(static_cast<std::size_t>(W1)), colF(static_cast<std::size_t>(W1));
  for (int x = 0; x < W1; ++x) {
    const double skew = (z.Theta > 0 ? W1 - x : x) * z.S;
    const double r = RoundEven(skew);
    colOff[static_cast<std::size_t>(x)] = static_cast<int>(r) - z.D1;
    colF[static_cast<std::size_t>(x)] = static_cast<int>(RoundEven((skew - r) * 4096));
  }
  for (int x = 0; x < W1; ++x) report();
  // Runs of columns that share one offset: within a run the source of a
  // destination row is one stretch of one B1 row.
  struct TRun {
    int X0, X1, Off;
  };
  std::vector<TRun> runs;
  for (int x = 0; x < W1;) {
    int e = x + 1;
    while (e < W1 && colOff[static_cast<std::size_t>(e)] == colOff[static_cast<std::size_t>(x)]) ++e;
    runs.push_back({x, e, colOff[static_cast<std::size_t>(x)]});
    x = e;
  }
  // Per-byte weights of every column.
  std::vector<std::int32_t> wf(static_cast<std::size_t>(W1) * 3), wg(static_cast<std::size_t>(W1) * 3);
  for (int x = 0; x < W1; ++x)
    for (int c = 0; c < 3; ++c) {
      wf[static_cast<std::size_t>(3 * x + c)] = colF[static_cast<std::size_t>(x)];
      wg[static_cast<std::size_t>(3 * x + c)] = 4096 - colF[static_cast<std::size_t>(x)];
    }
  const std::uint8_t bgp[3] = {Bg.b, Bg.g, Bg.r};
  std::vector<std::uint8_t> bgRow(static_cast<std::size_t>(W1) * 3 + 3);
  FillPixels(bgRow.data(), W1 + 1, Bg);
  for (int yd = 0; yd < H3; ++yd) {
    std::uint8_t* drow = b2.Row(yd);
    for (const TRun& run : runs) {
      const int y = yd - run.Off;
      const std::size_t k0 = static_cast<std::size_t>(run.X0) * 3;
      const int bytes = (run.X1 - run.X0) * 3;
      std::uint8_t* d = drow + k0;
      if (y >= 0 && y < h) {
        const std::uint8_t* cur = b1.Row(y) + k0;
        if (!AntiAlias) {
          std::memcpy(d, cur, static_cast<std::size_t>(bytes));
          continue;
        }
        // The pixel above is the neighbour only when it was in range too.
        const std::uint8_t* prev = (y >= 1 && yd >= 1) ? b1.Row(y - 1) + k0 : bgRow.data();
        const std::int32_t* F = wf.data() + k0;
        const std::int32_t* G = wg.data() + k0;
        for (int k = 0; k < bytes; ++k) {
          const int v = (prev[k] * F[k] + cur[k] * G[k] + 2048) >> 12;
          d[k] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
      } else if (y == h && AntiAlias) {
        for (int x = run.X0; x < run.X1; ++x) {
          std::uint8_t* p = drow + 3 * x;
          const int f = colF[static_cast<std::size_t>(x)];
          if (f > 0) {
            const std::uint8_t* prev = yd >= 1 ? b1.Row(h - 1) + 3 * x : bgp;
            for (int c = 0; c < 3; ++c) p[c] = Blend(prev[c], bgp[c], f, 4096 - f);
          } else {
            p[0] = Bg.b;
            p[1] = Bg.g;
            p[2] = Bg.r;
          }
        }
      } else {
        std::memcpy(d, bgRow.data(), static_cast<std::size_t>(bytes));
      }
    }
  }
  b1.Data.reset();

  // Pass 3: horizontal shear of B2 into the picture (W3 x H3).
  Target.Resize(W3, H3);
  for (int y = 0; y < H3; ++y) {
    report();
    const double skew = (z.Theta < 0 ? H3 - y : y) * z.T;
    const double r = RoundEven(skew);
    const int f = static_cast<int>(RoundEven((skew - r) * 4096));
    std::uint8_t* d = Target.Row(y);
    FillPixels(d, W3, Bg);
    ShearRow(b2.Row(y), W1, d, W3, static_cast<int>(r) - z.D2, f, AntiAlias, Bg);
  }
  if (Target.Done) Target.Done();
}

// ------------------------------------------------------------ 1-bit rotation

// Nearest pixel. An 8-bit plane (the alpha of a 1-bit picture) turns the
// same way, its uncovered corners 0 whatever BackgroundBit says.
void RotateBWPlane(const TPlane& S, TPlane& D, double Angle, int BackgroundBit,
                   const std::function<void(int)>& Report) {
  if (Angle == 90) {
    TurnPlane(S, D, 1);
    return;
  }
  if (Angle == -90 || Angle == 270) {
    TurnPlane(S, D, 3);
    return;
  }
  if (Angle == 180 || Angle == -180) {
    TurnPlane(S, D, 2);
    return;
  }
  const int W = S.W, H = S.H;
  const double phi = -Angle / 57.29577951308232;
  const double c = RoundEven(std::cos(phi) * 10000) / 10000;
  const double s = RoundEven(std::sin(phi) * 10000) / 10000;
  const double nw = RoundEven(std::fabs(H * s) + std::fabs(W * c));
  const double nh = RoundEven(std::fabs(H * c) + std::fabs(W * s));
  if (!(nw >= 1 && nh >= 1 && nw < std::numeric_limits<int>::max() && nh < std::numeric_limits<int>::max()))
    throw std::bad_alloc();
  const int W2 = static_cast<int>(nw), H2 = static_cast<int>(nh);
  D.Allocate(W2, H2, S.Bits);
  const bool bytes = S.Bits == 8;
  const double cx2 = W2 / 2.0 - 0.5, cy2 = H2 / 2.0 - 0.5, cx = W / 2.0 - 0.5, cy = H / 2.0 - 0.5;
  std::vector<int> A(static_cast<std::size_t>(W2)), B(static_cast<std::size_t>(W2));
  for (int x = 0; x < W2; ++x) {
    A[static_cast<std::size_t>(x)] = static_cast<int>(RoundEven((x - cx2) * c));
    B[static_cast<std::size_t>(x)] = static_cast<int>(RoundEven(-(x - cx2) * s));
  }
  for (int y = 0; y < H2; ++y) {
    const double dy = y - cy2;
    const int bx = static_cast<int>(RoundEven(dy * s + cx));
    const int by = static_cast<int>(RoundEven(dy * c + cy));
    std::uint8_t* d = D.Row(y);
    std::memset(d, 0, D.Stride);
    for (int x = 0; x < W2; ++x) {
      const int sx = A[static_cast<std::size_t>(x)] + bx;
      const int sy = B[static_cast<std::size_t>(x)] + by;
      if (sx >= 0 && sx < W && sy >= 0 && sy < H) {
        if (bytes) d[x] = S.Row(sy)[sx];
        else if (RvTestBit(S.Row(sy), sx)) RvSetBit(d, x, 1);
      } else if (BackgroundBit == 1 && !bytes) {
        RvSetBit(d, x, 1);
      }
    }
    if (Report) Report(static_cast<int>(RoundEven(y * 100.0 / H2)));
  }
}

// ------------------------------------------------------------ flips

// Mirrors a row of Width pixels in place (1 or 24 bits per pixel).
void MirrorRow(std::uint8_t* Row, int Width, int Bits, std::vector<std::uint8_t>& Temp) {
  if (Bits == 24) {
    std::uint8_t* l = Row;
    std::uint8_t* r = Row + 3 * static_cast<std::ptrdiff_t>(Width - 1);
    for (; l < r; l += 3, r -= 3) {
      std::swap(l[0], r[0]);
      std::swap(l[1], r[1]);
      std::swap(l[2], r[2]);
    }
    return;
  }
  // 1 bit: the used bytes reversed with the bits of each reversed, then
  // shifted so that the first pixel lands on bit 7 of byte 0.
  const int bytes = (Width + 7) / 8;
  Temp.assign(static_cast<std::size_t>(bytes), 0);
  for (int i = 0; i < bytes; ++i) {
    std::uint8_t b = Row[bytes - 1 - i];
    RvReverseBits8(b);
    Temp[static_cast<std::size_t>(i)] = b;
  }
  const int rest = Width % 8;
  if (rest == 0)
    std::memcpy(Row, Temp.data(), static_cast<std::size_t>(bytes));
  else
    RvCopyBits(Row, Temp.data(), 0, bytes, Width, 8 - rest);
}

template <class RowFn>
void FlipRows(RowFn Row, int Width, int Height, int Bits, int RowBytes, int Direction) {
  if (Width <= 0 || Height <= 0 || (Bits != 1 && Bits != 24)) return;
  std::vector<std::uint8_t> temp;
  if (Direction == 1) {
    // Vertical: whole rows change places (copies, since a library bitmap's
    // row address lasts only until its next row is asked for).
    std::vector<std::uint8_t> a(static_cast<std::size_t>(RowBytes)), b(static_cast<std::size_t>(RowBytes));
    for (int top = 0, bottom = Height - 1; top < bottom; ++top, --bottom) {
      std::memcpy(a.data(), Row(top), a.size());
      std::memcpy(b.data(), Row(bottom), b.size());
      std::memcpy(Row(top), b.data(), b.size());
      std::memcpy(Row(bottom), a.data(), a.size());
    }
    return;
  }
  if (Direction != 0) return;
  for (int y = 0; y < Height; ++y) MirrorRow(Row(y), Width, Bits, temp);
}

// ------------------------------------------------------------ transparency

// An 8-bit mask as a plane, top row first (the mask keeps its rows bottom up).
void LoadMaskPlane(TPlane& P, const TRvMask& M) {
  P.Allocate(M.Width(), M.Height(), 8);
  for (int y = 0; y < P.H; ++y) std::memcpy(P.Row(y), M.ScanLine(y), static_cast<std::size_t>(P.W));
}

void StoreMaskPlane(const TPlane& P, TRvMask& M, bool Full) {
  M.Allocate(P.W, P.H, 8);
  for (int y = 0; y < P.H; ++y) std::memcpy(M.ScanLine(y), P.Row(y), static_cast<std::size_t>(P.W));
  M.SetFull(Full);
}

// The target's transparency when it is to turn with the pixels: 8-bit and
// of the picture's own size.
TRvMask* MaskOfPicture(TRvMask* Mask, const TBitmap* B) {
  if (Mask == nullptr || Mask->BitCount() != 8 || Mask->Width() != B->Width() || Mask->Height() != B->Height())
    return nullptr;
  return Mask;
}

// A mask that makes nothing transparent only takes the turned picture's
// size: it gets no transparent corners from a turn.
void KeepOpaque(TRvMask& Mask, const TBitmap* B) {
  Mask.Allocate(B->Width(), B->Height(), 8);
  Mask.Fill(255);
}

int TBitmapBits(const TBitmap* B) {
  return B->PixelFormat() == platform::pf24bit ? 24 : (B->PixelFormat() == platform::pf1bit ? 1 : 0);
}

// The general floating-point text of the platform: up to 15 significant
// digits, an exponent only for very large or small values ("1E-5").
std::string FloatText(double Value) {
  char buffer[64];
  auto res = std::to_chars(buffer, buffer + sizeof(buffer), Value, std::chars_format::general, 15);
  std::string text(buffer, res.ptr);
  const auto e = text.find('e');
  if (e == std::string::npos) return text;
  std::string mantissa = text.substr(0, e), exponent = text.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) {
    if (exponent[0] == '-') sign = "-";
    exponent.erase(0, 1);
  }
  exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
  return mantissa + "E" + sign + exponent;
}

// Nearest-pixel column and row maps of the stretches.
int StretchIndex(int I, int From, int To) {
  const int v = static_cast<int>(RoundEven(static_cast<double>(I) * From / To));
  return std::min(v, From - 1);
}

void CopyPalette(const TBitmap* Source, TBitmap* Dest) {
  const int n = Source->PaletteSize();
  if (n <= 0) return;
  std::vector<platform::TPaletteEntry> entries(static_cast<std::size_t>(n));
  Source->GetPaletteEntries(0, n, entries.data());
  Dest->SetPaletteEntries(0, n, entries.data());
}

// Dest becomes an empty-valued Width x Height bitmap in Source's format and
// palette.
void Reshape(const TBitmap* Source, TBitmap* Dest, int Width, int Height) {
  Dest->SetSize(0, 0);
  Dest->SetPixelFormat(Source->PixelFormat());
  CopyPalette(Source, Dest);
  Dest->SetSize(Width, Height);
}

} // namespace

// ------------------------------------------------------------ routines

void RvStretchTBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest) {
  if (Source == nullptr || Dest == nullptr || Source == Dest) return;
  const int dw = Dest->Width(), dh = Dest->Height();
  const int sw = Source->Width(), sh = Source->Height();
  Reshape(Source, Dest, dw, dh);
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  const int bits = Source->BitsPerPixel();
  // Each destination pixel takes the source pixel under its centre.
  std::vector<int> cols(static_cast<std::size_t>(dw));
  for (int x = 0; x < dw; ++x)
    cols[static_cast<std::size_t>(x)] =
        static_cast<int>((static_cast<std::int64_t>(2 * x + 1) * sw) / (2 * static_cast<std::int64_t>(dw)));
  for (int y = 0; y < dh; ++y) {
    const int sy = static_cast<int>((static_cast<std::int64_t>(2 * y + 1) * sh) / (2 * static_cast<std::int64_t>(dh)));
    const std::uint8_t* s = Source->ScanLine(sy);
    std::uint8_t* d = Dest->ScanLine(y);
    if (bits < 8) {
      for (int x = 0; x < dw; ++x)
        for (int b = 0; b < bits; ++b)
          RvSetBit(d, static_cast<std::int64_t>(x) * bits + b,
                   RvTestBit(s, static_cast<std::int64_t>(cols[static_cast<std::size_t>(x)]) * bits + b));
    } else {
      const int bpp = bits / 8;
      for (int x = 0; x < dw; ++x)
        std::memcpy(d + static_cast<std::ptrdiff_t>(x) * bpp,
                    s + static_cast<std::ptrdiff_t>(cols[static_cast<std::size_t>(x)]) * bpp,
                    static_cast<std::size_t>(bpp));
    }
  }
}

void RvStretchBitmap(TRvBaseBitmap* Source, TRvBaseBitmap* Dest) {
  if (Source == nullptr || Dest == nullptr || Source == Dest) return;
  const int sw = Source->Width(), sh = Source->Height(), dw = Dest->Width(), dh = Dest->Height();
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || Source->PixelFormat() != Dest->PixelFormat()) return;
  int bytes = 0;
  switch (Source->PixelFormat()) {
    case rvpf1Bit: bytes = 0; break;
    case rvpf8BitPalette:
    case rvpf8BitGray: bytes = 1; break;
    case rvpf16BitGray: bytes = 2; break;
    case rvpf24Bit: bytes = 3; break;
    default: return;
  }
  std::vector<int> cols(static_cast<std::size_t>(dw));
  for (int x = 0; x < dw; ++x) cols[static_cast<std::size_t>(x)] = StretchIndex(x, sw, dw);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(Source->RowLen()));
  int loaded = -1;
  for (int y = 0; y < dh; ++y) {
    const int sy = StretchIndex(y, sh, dh);
    // A copy of the source row: both bitmaps may be mapped files whose row
    // addresses do not outlive the next call.
    if (sy != loaded) {
      std::memcpy(row.data(), Source->Scanline(sy), row.size());
      loaded = sy;
    }
    std::uint8_t* d = Dest->Scanline(y);
    if (bytes == 0) {
      for (int x = 0; x < dw; ++x) RvSetBit(d, x, RvTestBit(row.data(), cols[static_cast<std::size_t>(x)]));
    } else {
      for (int x = 0; x < dw; ++x)
        std::memcpy(d + static_cast<std::ptrdiff_t>(x) * bytes,
                    row.data() + static_cast<std::ptrdiff_t>(cols[static_cast<std::size_t>(x)]) * bytes,
                    static_cast<std::size_t>(bytes));
    }
  }
}

void RvCropBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest, int X1, int Y1, int X2,
                  int Y2) {
  if (Source == nullptr || Dest == nullptr || Source == Dest) return;
  const int sw = Source->Width(), sh = Source->Height();
  if (X2 == 0 || X2 > sw) X2 = sw;
  if (Y2 == 0 || Y2 > sh) Y2 = sh;
  // A corner left of or above the picture starts at its edge.
  X1 = std::max(X1, 0);
  Y1 = std::max(Y1, 0);
  const int w = std::max(0, X2 - X1), h = std::max(0, Y2 - Y1);
  Reshape(Source, Dest, w, h);
  if (w == 0 || h == 0) return;
  const int bits = Source->BitsPerPixel();
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = Source->ScanLine(Y1 + y);
    std::uint8_t* d = Dest->ScanLine(y);
    if (bits % 8 != 0)
      RvCopyBits(d, s, 0, Source->ScanLineSize(), static_cast<std::int64_t>(w) * bits,
                 static_cast<std::int64_t>(X1) * bits);
    else
      std::memcpy(d, s + static_cast<std::ptrdiff_t>(X1) * (bits / 8), static_cast<std::size_t>(w) * (bits / 8));
  }
}

void RvFlipBitmap(TRvBitmap* Bitmap, int Direction) {
  if (Bitmap == nullptr) return;
  const int bits = Bitmap->PixelFormat() == rvpf24Bit ? 24 : (Bitmap->PixelFormat() == rvpf1Bit ? 1 : 0);
  FlipRows([Bitmap](int y) { return Bitmap->Scanline(y); }, Bitmap->Width(), Bitmap->Height(), bits,
           Bitmap->RowLen(), Direction);
}

void RvRotateBitmap(TRvBitmap* Bitmap, bool AntiAlias, double Angle, const TRGB& Background) {
  if (Bitmap == nullptr || Angle == 0) return;
  if (Bitmap->PixelFormat() != rvpf24Bit) {
    TRvLocalProgress progress;
    RvRotateBWBitmap(Bitmap, (Background.r != 0 && Background.g != 0 && Background.b != 0) ? 1 : 0,
                     progress.Rec, Angle);
    return;
  }
  TShearTarget target;
  target.Resize = [Bitmap](int w, int h) { Bitmap->Allocate(w, h, rvpf24Bit); };
  target.Row = [Bitmap](int y) { return Bitmap->Scanline(y); };
  // The first pass reads the whole picture before the last one allocates
  // it anew, so the result can go into the same bitmap.
  ShearRotate(Bitmap->Width(), Bitmap->Height(), Reader(Bitmap), Angle, AntiAlias, Background, target,
              nullptr);
}

void RvRotateBWBitmap(TRvBitmap* Bitmap, int BackgroundBit, TRvProgressRec& Progress, double Angle) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf1Bit || Bitmap->Width() <= 0 ||
      Bitmap->Height() <= 0 || !std::isfinite(Angle))
    return;
  TPlane source, dest;
  LoadPlane(source, Bitmap->Width(), Bitmap->Height(), 1, Reader(Bitmap));
  RotateBWPlane(source, dest, Angle, BackgroundBit, [&Progress](int per) {
    if (Progress.OnProgress) Progress.OnProgress(Progress.Sender, per);
  });
  StorePlane(dest, Bitmap);
}

static void TurnTBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest, int Quarters) {
  if (Source == nullptr || Dest == nullptr || Source->PixelFormat() != platform::pf24bit) return;
  if (Source->Empty()) {
    Dest->SetSize(0, 0);
    Dest->SetPixelFormat(platform::pf24bit);
    Dest->SetSize(Source->Height(), Source->Width());
    return;
  }
  TPlane s, d;
  LoadPlane(s, Source->Width(), Source->Height(), 24, Reader(Source));
  TurnPlane(s, d, Quarters);
  StorePlane(d, Dest);
}

void RvRotateTBitmapLeft(const platform::TBitmap* Source, platform::TBitmap* Dest) { TurnTBitmap(Source, Dest, 1); }
void RvRotateTBitmapRight(const platform::TBitmap* Source, platform::TBitmap* Dest) { TurnTBitmap(Source, Dest, 3); }

static void TurnBitmap(TRvBitmap* Source, TRvBitmap* Dest, int Quarters) {
  if (Source == nullptr || Dest == nullptr || Source == Dest || Source->PixelFormat() != rvpf24Bit) return;
  if (Source->Width() <= 0 || Source->Height() <= 0) return;
  TPlane s, d;
  LoadPlane(s, Source->Width(), Source->Height(), 24, Reader(Source));
  TurnPlane(s, d, Quarters);
  StorePlane(d, Dest);
}

void RvRotateBitmapLeft(TRvBitmap* Source, TRvBitmap* Dest) { TurnBitmap(Source, Dest, 1); }
void RvRotateBitmapRight(TRvBitmap* Source, TRvBitmap* Dest) { TurnBitmap(Source, Dest, 3); }

void RvRotateMask(TRvMask* Mask, double Angle, bool AntiAlias) {
  if (Mask == nullptr || Mask->BitCount() != 8 || Mask->Width() <= 0 || Mask->Height() <= 0 || !std::isfinite(Angle))
    return;
  double rest = 0;
  const int quarters = FoldQuarters(Angle, rest);
  if (rest == 0) {
    if (quarters == 0) return;
    TPlane s, d;
    LoadMaskPlane(s, *Mask);
    TurnPlane(s, d, quarters);
    StoreMaskPlane(d, *Mask, Mask->Full());
    return;
  }
  // The shears work on 24-bit rows: the mask goes through them as a gray
  // picture on a background of 0, so that its result has the very size and
  // blend of the pixels' one.
  const int w = Mask->Width();
  std::vector<std::uint8_t> gray(static_cast<std::size_t>(w) * 3);
  const TRowReader read = [&gray, Mask, w](int y) -> const std::uint8_t* {
    const std::uint8_t* a = Mask->ScanLine(y);
    for (int x = 0; x < w; ++x) gray[3 * x] = gray[3 * x + 1] = gray[3 * x + 2] = a[x];
    return gray.data();
  };
  TPlane result;
  TShearTarget target;
  target.Resize = [&result](int W, int H) { result.Allocate(W, H, 24); };
  target.Row = [&result](int y) { return result.Row(y); };
  target.Done = [&result, Mask] {
    Mask->Allocate(result.W, result.H, 8);
    for (int y = 0; y < result.H; ++y) {
      const std::uint8_t* s = result.Row(y);
      std::uint8_t* d = Mask->ScanLine(y);
      for (int x = 0; x < result.W; ++x) d[x] = s[3 * x];
    }
    Mask->SetFull(false);
  };
  ShearRotate(w, Mask->Height(), read, Angle, AntiAlias, TRGB{}, target, nullptr);
}

void RvFlipMask(TRvMask* Mask, int Direction) {
  if (Mask == nullptr || Mask->BitCount() != 8) return;
  const int w = Mask->Width(), h = Mask->Height();
  if (Direction == rvfdVertical) {
    for (int top = 0, bottom = h - 1; top < bottom; ++top, --bottom)
      std::swap_ranges(Mask->ScanLine(top), Mask->ScanLine(top) + w, Mask->ScanLine(bottom));
  } else if (Direction == rvfdHorizontal) {
    for (int y = 0; y < h; ++y) std::reverse(Mask->ScanLine(y), Mask->ScanLine(y) + w);
  }
}

bool RvKeepAspect(int Width, int Height, int& NewWidth, int& NewHeight) {
  if (NewWidth < 0 && NewHeight < 0) return false;
  // In 64 bits: the product of two picture sides overflows 32.
  std::int64_t w = NewWidth, h = NewHeight;
  if (w < 0) {
    if (Height == 0) return false;
    w = static_cast<std::int64_t>(Width) * NewHeight / Height;
  } else if (h < 0) {
    if (Width == 0) return false;
    h = static_cast<std::int64_t>(Height) * NewWidth / Width;
  }
  if (w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max()) return false;
  NewWidth = static_cast<int>(w);
  NewHeight = static_cast<int>(h);
  return true;
}

void RvNegativeBits(TRvBitmap* Bitmap) {
  if (Bitmap == nullptr) return;
  const int bytes = Bitmap->RowLen();
  for (int y = 0; y < Bitmap->Height(); ++y) {
    std::uint8_t* row = Bitmap->Scanline(y);
    for (int i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
  }
}

void RvShearRotateTBitmap(platform::TBitmap* Bitmap, double Angle, bool AntiAlias,
                          const TRGB& Background, void* Sender, const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != platform::pf24bit || Bitmap->Empty()) return;
  QImage result;
  TShearTarget target;
  target.Resize = [&result](int w, int h) {
    result = QImage(w, h, QImage::Format_BGR888);
    if (result.isNull()) throw std::bad_alloc();
  };
  target.Row = [&result](int y) { return result.scanLine(y); };
  target.Done = [&result, Bitmap] { Bitmap->SetImage(result); };
  std::function<void(int)> report;
  if (OnProgress) report = [&](int per) { OnProgress(Sender, per); };
  ShearRotate(Bitmap->Width(), Bitmap->Height(), Reader(Bitmap), Angle, AntiAlias, Background, target,
              report);
}

// ------------------------------------------------------------ component

void TRastrumProc::Resample(int NewWidth, int NewHeight, TResampleFilter Filter) {
  if (FBitmap == nullptr || FBitmap->Width() == 0 || FBitmap->Height() == 0) return;
  if (AutoUndo)
    SaveUndoCaption("Resample " + std::to_string(NewWidth) + "," + std::to_string(NewHeight));
  if (NewWidth < 0 && NewHeight < 0) return;
  if (!RvKeepAspect(FBitmap->Width(), FBitmap->Height(), NewWidth, NewHeight)) return;
  // An empty result would only lose the picture.
  if (NewWidth < 1 || NewHeight < 1) return;
  TBitmap dest(NewWidth, NewHeight, FBitmap->PixelFormat());
  if (Filter == rfNone) {
    RvStretchTBitmap(FBitmap, &dest);
  } else if (FBitmap->PixelFormat() == platform::pf1bit) {
    dest.SetPixelFormat(platform::pf24bit);
    RvResampleBWBitmap(FBitmap, &dest, Filter);
  } else {
    RvResampleTBitmap(FBitmap, &dest, Filter, this, OnProgress);
  }
  RvCopyBitmap(&dest, FBitmap);
  if (TRvMask* mask = GetAlphaMask()) {
    if (mask->Full()) {
      mask->Allocate(NewWidth, NewHeight, 8);
      mask->Fill(255);
    } else {
      TRvMask resampled;
      resampled.Allocate(NewWidth, NewHeight, 8);
      RvResampleMask(mask, &resampled, Filter == rfNone ? rfFastLinear : Filter);
      mask->Assign(&resampled);
    }
  }
  UpdateView();
}

void TRastrumProc::Flip(int Direction) {
  if (FBitmap == nullptr) return;
  if (AutoUndo) SaveUndoCaption("Flip");
  TBitmap* b = FBitmap;
  FlipRows([b](int y) { return b->ScanLine(y); }, b->Width(), b->Height(), TBitmapBits(b),
           b->ScanLineSize(), Direction);
  // The transparency goes with the pixels it belongs to.
  if (TBitmapBits(b) != 0) RvFlipMask(MaskOfPicture(GetAlphaMask(), b), Direction);
  UpdateView();
}

void TRastrumProc::Rotate(double Angle, bool AntiAlias) { Rotate(Angle, AntiAlias, GetBackground()); }

void TRastrumProc::Rotate(double Angle, bool AntiAlias, platform::TColor Background) {
  if (FBitmap == nullptr || Angle == 0) return;
  if (AutoUndo) SaveUndoCaption("Rotate " + FloatText(Angle));
  // The transparency turns with the pixels, taken while it still fits them.
  TRvMask* mask = MaskOfPicture(GetAlphaMask(), FBitmap);
  const bool opaque = mask != nullptr && mask->Full();
  if (FBitmap->PixelFormat() == platform::pf24bit) {
    TRGB bg;
    RvColorToRGB(Background, bg);
    RvShearRotateTBitmap(FBitmap, Angle, AntiAlias, bg, this, OnProgress);
    if (mask != nullptr && !opaque) RvRotateMask(mask, Angle, AntiAlias);
  } else if (FBitmap->PixelFormat() == platform::pf1bit && !FBitmap->Empty() && std::isfinite(Angle)) {
    TPlane source, dest;
    LoadPlane(source, FBitmap->Width(), FBitmap->Height(), 1, Reader(FBitmap));
    RotateBWPlane(source, dest, Angle, Background != 0 ? 1 : 0, [this](int per) { Progress(per); });
    StorePlane(dest, FBitmap);
    if (mask != nullptr && !opaque) {
      LoadMaskPlane(source, *mask);
      RotateBWPlane(source, dest, Angle, 0, nullptr);
      StoreMaskPlane(dest, *mask, false);
    }
  }
  if (opaque) KeepOpaque(*mask, FBitmap);
  UpdateView();
}

} // namespace rv
