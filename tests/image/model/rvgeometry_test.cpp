#include "image/model/rvgeometry.h"

#include "image/model/rvbits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

namespace {

using namespace rv;
using platform::TBitmap;

struct TPic {
  int w = 0, h = 0;
  std::vector<std::uint8_t> px; // 3 bytes a pixel, no padding
  std::uint8_t* at(int x, int y) { return &px[(static_cast<std::size_t>(y) * w + x) * 3]; }
};

TPic Random(int w, int h, unsigned seed) {
  TPic p{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)};
  std::mt19937 rng(seed);
  for (auto& b : p.px) b = static_cast<std::uint8_t>(rng());
  return p;
}

void ToBitmap(const TPic& p, TRvBitmap& b) {
  b.SetLocation(rvlMemory);
  b.Allocate(p.w, p.h, rvpf24Bit);
  for (int y = 0; y < p.h; ++y) std::memcpy(b.Scanline(y), &p.px[static_cast<std::size_t>(y) * p.w * 3], p.w * 3u);
}

TPic FromBitmap(TRvBitmap& b) {
  TPic p{b.Width(), b.Height(), std::vector<std::uint8_t>(static_cast<std::size_t>(b.Width()) * b.Height() * 3)};
  for (int y = 0; y < p.h; ++y) std::memcpy(p.at(0, y), b.Scanline(y), p.w * 3u);
  return p;
}

// The three shears read literally: pass 2 walks columns, every value is
// rounded as written, prev moves only inside the range.
TPic ReferenceShear(TPic W, double angle, bool aa, TRGB bg) {
  auto R = [](double v) { return std::nearbyint(v); };
  auto blend = [](int p, int q, int f) {
    return static_cast<std::uint8_t>(std::clamp((p * f + q * (4096 - f) + 2048) >> 12, 0, 255));
  };
  double a = std::fmod(R(angle * 1000), 360000.0) / 1000;
  auto turnLeft = [](TPic& s) {
    TPic d{s.h, s.w, std::vector<std::uint8_t>(s.px.size())};
    for (int y = 0; y < s.h; ++y)
      for (int x = 0; x < s.w; ++x) std::memcpy(d.at(y, s.w - 1 - x), s.at(x, y), 3);
    s = d;
  };
  auto turnRight = [](TPic& s) {
    TPic d{s.h, s.w, std::vector<std::uint8_t>(s.px.size())};
    for (int y = 0; y < s.h; ++y)
      for (int x = 0; x < s.w; ++x) std::memcpy(d.at(s.h - 1 - y, x), s.at(x, y), 3);
    s = d;
  };
  while (a > 45) { a -= 90; turnLeft(W); }
  while (a < -45) { a += 90; turnRight(W); }
  if (a == 0) return W;
  const double th = M_PI * a / 180, t = std::fabs(std::tan(th / 2)), s = std::fabs(std::sin(th));
  const int w = W.w, h = W.h;
  const int W1 = (int)R(h * t + w + 1), d1 = (int)R((W1 - w) * s), H2 = (int)R(W1 * s + h + 1);
  const int d2 = (int)R((H2 - h - d1) * t), H3 = H2 - 2 * d1, W3 = (int)R(H3 * t + W1 + 1 - 2 * d2);
  const std::uint8_t bgp[3] = {bg.b, bg.g, bg.r};
  auto fill = [&](TPic& p) { for (int i = 0; i < p.w * p.h; ++i) std::memcpy(&p.px[i * 3u], bgp, 3); };
  auto shear = [&](auto get, auto put, int n, int limit, int off, int f) {
    const std::uint8_t* prev = bgp;
    for (int i = 0; i < n; ++i) {
      if (i + off < 0 || i + off >= limit) continue;
      const std::uint8_t* q = get(i);
      std::uint8_t* d = put(i + off);
      for (int c = 0; c < 3; ++c) d[c] = aa ? blend(prev[c], q[c], f) : q[c];
      prev = q;
    }
    if (aa && f > 0 && off + n < limit && off + n >= 0) {
      std::uint8_t* d = put(off + n);
      for (int c = 0; c < 3; ++c) d[c] = blend(prev[c], bgp[c], f);
    }
  };
  TPic B1{W1, h, std::vector<std::uint8_t>(static_cast<std::size_t>(W1) * h * 3)};
  fill(B1);
  for (int y = 0; y < h; ++y) {
    const double skew = (th < 0 ? h - y : y) * t, off = R(skew);
    shear([&](int x) { return W.at(x, y); }, [&](int x) { return B1.at(x, y); }, w, W1, (int)off,
          (int)R((skew - off) * 4096));
  }
  TPic B2{W1, H3, std::vector<std::uint8_t>(static_cast<std::size_t>(W1) * H3 * 3)};
  fill(B2);
  for (int x = 0; x < W1; ++x) {
    const double skew = (th > 0 ? W1 - x : x) * s, r = R(skew);
    shear([&](int y) { return B1.at(x, y); }, [&](int y) { return B2.at(x, y); }, h, H3, (int)r - d1,
          (int)R((skew - r) * 4096));
  }
  TPic P{W3, H3, std::vector<std::uint8_t>(static_cast<std::size_t>(W3) * H3 * 3)};
  fill(P);
  for (int y = 0; y < H3; ++y) {
    const double skew = (th < 0 ? H3 - y : y) * t, r = R(skew);
    shear([&](int x) { return B2.at(x, y); }, [&](int x) { return P.at(x, y); }, W1, W3, (int)r - d2,
          (int)R((skew - r) * 4096));
  }
  return P;
}

TEST(RvShearRotation, MatchesTheThreeShearsReadLiterally) {
  const TRGB bg{10, 200, 30};
  int seed = 1;
  for (double angle : {30.0, -30.0, 10.5, 44.999, -45.0, 100.0, -170.25, 200.0, 359.0, 0.0004}) {
    for (bool aa : {true, false}) {
      for (auto [w, h] : {std::pair{7, 5}, std::pair{1, 1}, std::pair{13, 2}, std::pair{40, 31}}) {
        TPic src = Random(w, h, static_cast<unsigned>(seed++));
        TRvBitmap b;
        ToBitmap(src, b);
        RvRotateBitmap(&b, aa, angle, bg);
        TPic got = FromBitmap(b);
        TPic want = ReferenceShear(src, angle, aa, bg);
        ASSERT_EQ(got.w, want.w) << angle << " " << w << "x" << h;
        ASSERT_EQ(got.h, want.h) << angle << " " << w << "x" << h;
        ASSERT_EQ(got.px, want.px) << angle << " aa " << aa << " " << w << "x" << h;
      }
    }
  }
}

TEST(RvShearRotation, SizesOfASmallPictureFollowTheRoundingHalvesToEven) {
  // 3 x 2 by 30 degrees: W1 = round(2 tan 15 + 4) = 5, d1 = 1,
  // H2 = round(5 x 0.5 + 3) = round(5.5) = 6, d2 = round(3 tan 15) = 1,
  // H3 = 4, W3 = round(4 tan 15 + 6 - 2) = 5.
  TRvBitmap b;
  ToBitmap(Random(3, 2, 7), b);
  RvRotateBitmap(&b, true, 30, TRGB{});
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 4);
}

TEST(RvShearRotation, AFlatPictureKeepsItsColourInside) {
  // Rounding happens once per blend: a flat area of an odd level stays put.
  TPic p{40, 40, std::vector<std::uint8_t>(40 * 40 * 3)};
  for (int i = 0; i < 40 * 40; ++i) {
    p.px[i * 3u] = 101;
    p.px[i * 3u + 1] = 55;
    p.px[i * 3u + 2] = 203;
  }
  TRvBitmap b;
  ToBitmap(p, b);
  RvRotateBitmap(&b, true, 30, TRGB{0, 0, 0});
  const std::uint8_t* c = b.Scanline(b.Height() / 2) + 3 * (b.Width() / 2);
  EXPECT_EQ(c[0], 101);
  EXPECT_EQ(c[1], 55);
  EXPECT_EQ(c[2], 203);
}

TEST(RvShearRotation, WithoutAntiAliasOnlyPictureAndBackgroundColoursAppear) {
  TPic p = Random(17, 11, 3);
  TRvBitmap b;
  ToBitmap(p, b);
  const TRGB bg{1, 2, 3};
  RvRotateBitmap(&b, false, 30, bg);
  std::set<std::uint32_t> allowed{RvRGBToPacked(bg)};
  for (int i = 0; i < p.w * p.h; ++i)
    allowed.insert(p.px[i * 3u] | (p.px[i * 3u + 1] << 8) | (p.px[i * 3u + 2] << 16));
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const std::uint8_t* s = b.Scanline(y) + 3 * x;
      EXPECT_TRUE(allowed.count(s[0] | (s[1] << 8) | (s[2] << 16))) << x << "," << y;
    }
}

TEST(RvQuarterTurns, FourTurnsEitherWayGiveThePictureBack) {
  TPic p = Random(5, 3, 11);
  TRvBitmap a, b;
  ToBitmap(p, a);
  for (int i = 0; i < 4; ++i) {
    RvRotateBitmapLeft(&a, &b);
    ASSERT_EQ(b.Width(), i % 2 == 0 ? 3 : 5);
    RvRotateBitmap(&b, true, 0, TRGB{}); // an angle of 0 changes nothing
    a.Assign(&b);
  }
  EXPECT_EQ(FromBitmap(a).px, p.px);
  for (int i = 0; i < 4; ++i) {
    RvRotateBitmapRight(&a, &b);
    a.Assign(&b);
  }
  EXPECT_EQ(FromBitmap(a).px, p.px);
  for (int i = 0; i < 4; ++i) RvRotateBitmap(&a, true, 90, TRGB{});
  EXPECT_EQ(FromBitmap(a).px, p.px);
}

TEST(RvQuarterTurns, TBitmapTurnsPlaceCornersAsStated) {
  TBitmap s(3, 2, platform::pf24bit), d;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) std::memset(s.ScanLine(y) + 3 * x, 10 * (y * 3 + x) + 1, 3);
  RvRotateTBitmapLeft(&s, &d);
  ASSERT_EQ(d.Width(), 2);
  ASSERT_EQ(d.Height(), 3);
  EXPECT_EQ(d.ScanLine(0)[0], 21); // old top-right at the new top-left
  RvRotateTBitmapRight(&s, &d);
  EXPECT_EQ(d.ScanLine(0)[3], 1); // old top-left at the new top-right
}

TRvBitmap* MakeBW(TRvBitmap& b, int w, int h, unsigned seed) {
  b.SetLocation(rvlMemory);
  b.Allocate(w, h, rvpf1Bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < b.RowLen(); ++i) b.Scanline(y)[i] = static_cast<std::uint8_t>(rng());
  return &b;
}

bool Bit(TRvBitmap& b, int x, int y) { return RvTestBit(b.Scanline(y), x); }

TEST(RvBWRotation, QuarterAndHalfTurnsAreExactBitCopies) {
  TRvBitmap b, c;
  MakeBW(b, 10, 3, 5);
  MakeBW(c, 10, 3, 5);
  TRvLocalProgress progress;
  RvRotateBWBitmap(&b, 0, progress.Rec, 90);
  ASSERT_EQ(b.Width(), 3);
  ASSERT_EQ(b.Height(), 10);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Bit(b, y, 9 - x), Bit(c, x, y));
  RvRotateBWBitmap(&b, 0, progress.Rec, -90);
  RvRotateBWBitmap(&b, 0, progress.Rec, 180);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Bit(b, 9 - x, 2 - y), Bit(c, x, y));
}

TEST(RvBWRotation, AnyAngleSamplesTheNearestSourcePixel) {
  TRvBitmap b, c;
  MakeBW(b, 9, 6, 8);
  MakeBW(c, 9, 6, 8);
  std::vector<int> reports;
  TRvLocalProgress progress;
  progress.Rec.OnProgress = [&](void*, int per) { reports.push_back(per); };
  RvRotateBWBitmap(&b, 1, progress.Rec, 30);
  const double phi = -30 / 57.29577951308232;
  const double cs = std::nearbyint(std::cos(phi) * 10000) / 10000, sn = std::nearbyint(std::sin(phi) * 10000) / 10000;
  const int W2 = (int)std::nearbyint(std::fabs(6 * sn) + std::fabs(9 * cs));
  const int H2 = (int)std::nearbyint(std::fabs(6 * cs) + std::fabs(9 * sn));
  ASSERT_EQ(b.Width(), W2);
  ASSERT_EQ(b.Height(), H2);
  for (int y = 0; y < H2; ++y)
    for (int x = 0; x < W2; ++x) {
      const double dx = x - (W2 / 2.0 - 0.5), dy = y - (H2 / 2.0 - 0.5);
      const int sx = (int)std::nearbyint(dx * cs) + (int)std::nearbyint(dy * sn + 4);
      const int sy = (int)std::nearbyint(-dx * sn) + (int)std::nearbyint(dy * cs + 2.5);
      const bool want = (sx >= 0 && sx < 9 && sy >= 0 && sy < 6) ? Bit(c, sx, sy) : true;
      EXPECT_EQ(Bit(b, x, y), want) << x << "," << y;
    }
  ASSERT_EQ(static_cast<int>(reports.size()), H2);
  EXPECT_EQ(reports[0], 0);
  EXPECT_EQ(reports.back(), (int)std::nearbyint((H2 - 1) * 100.0 / H2));
}

TEST(RvFlip, OneBitRowOfWidthTenKeepsItsFirstPixelOnBitSeven) {
  TRvBitmap b, c;
  MakeBW(b, 10, 2, 3);
  MakeBW(c, 10, 2, 3);
  RvFlipBitmap(&b, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Bit(b, x, y), Bit(c, 9 - x, y));
  RvFlipBitmap(&b, 1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Bit(b, x, y), Bit(c, 9 - x, 1 - y));
}

TEST(RvFlip, TwentyFourBitFlipsAreMirrors) {
  TPic p = Random(5, 4, 21);
  TRvBitmap b;
  ToBitmap(p, b);
  RvFlipBitmap(&b, 0);
  TPic f = FromBitmap(b);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(0, std::memcmp(f.at(x, y), p.at(4 - x, y), 3));
  RvFlipBitmap(&b, 0);
  RvFlipBitmap(&b, 1);
  f = FromBitmap(b);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(0, std::memcmp(f.at(0, y), p.at(0, 3 - y), 15));
}

TEST(RvStretch, WidthOneToThreeReadsOnlyColumnZero) {
  TRvBitmap s, d;
  s.SetLocation(rvlMemory);
  s.Allocate(1, 1, rvpf8BitGray);
  s.Scanline(0)[0] = 77;
  d.SetLocation(rvlMemory);
  d.Allocate(3, 2, rvpf8BitGray);
  RvStretchBitmap(&s, &d);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(d.Scanline(y)[x], 77);
  // 4 -> 2 takes columns round(0) = 0 and round(2) = 2.
  s.Allocate(4, 1, rvpf24Bit);
  for (int x = 0; x < 4; ++x) std::memset(s.Scanline(0) + 3 * x, x + 1, 3);
  d.Allocate(2, 1, rvpf24Bit);
  RvStretchBitmap(&s, &d);
  EXPECT_EQ(d.Scanline(0)[0], 1);
  EXPECT_EQ(d.Scanline(0)[3], 3);
}

TEST(RvStretch, TBitmapStretchTakesTheSourceFormat) {
  TBitmap s(2, 1, platform::pf24bit), d(4, 2, platform::pf1bit);
  std::memset(s.ScanLine(0), 9, 3);
  std::memset(s.ScanLine(0) + 3, 200, 3);
  RvStretchTBitmap(&s, &d);
  ASSERT_EQ(d.PixelFormat(), platform::pf24bit);
  ASSERT_EQ(d.Width(), 4);
  const std::uint8_t want[4] = {9, 9, 200, 200};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(d.ScanLine(y)[3 * x], want[x]);
}

TEST(RvCrop, EndsBeyondThePictureAreCutToIt) {
  TBitmap s(5, 3, platform::pf24bit), d;
  for (int x = 0; x < 5; ++x) std::memset(s.ScanLine(1) + 3 * x, x, 3);
  RvCropBitmap(&s, &d, 2, 1, 99, 0);
  ASSERT_EQ(d.Width(), 3);
  ASSERT_EQ(d.Height(), 2);
  EXPECT_EQ(d.ScanLine(0)[0], 2);
  EXPECT_EQ(d.ScanLine(0)[6], 4);
  TBitmap b(20, 2, platform::pf1bit), c;
  b.ScanLine(0)[1] = 0x80; // pixel 8
  RvCropBitmap(&b, &c, 8, 0, 0, 0);
  ASSERT_EQ(c.Width(), 12);
  EXPECT_EQ(c.PixelFormat(), platform::pf1bit);
  EXPECT_EQ(c.ScanLine(0)[0], 0x80);
}

TEST(RvKeepAspect, WorksWithoutThirtyTwoBitOverflow) {
  int w = -1, h = 100;
  ASSERT_TRUE(RvKeepAspect(400, 200, w, h));
  EXPECT_EQ(w, 200);
  w = 300, h = -1;
  ASSERT_TRUE(RvKeepAspect(400, 200, w, h));
  EXPECT_EQ(h, 150);
  // 60000 x 50000 overflows 32 bits; the quotient does not.
  w = -1, h = 50000;
  ASSERT_TRUE(RvKeepAspect(60000, 40000, w, h));
  EXPECT_EQ(w, 75000);
  w = -1, h = 2000000000;
  EXPECT_FALSE(RvKeepAspect(40000, 2, w, h));
  w = -1, h = -1;
  EXPECT_FALSE(RvKeepAspect(4, 2, w, h));
}

TEST(RvNegativeBits, InvertsEveryBit) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  b.Allocate(9, 2, rvpf1Bit);
  std::memset(b.Scanline(0), 0x0F, b.RowLen());
  std::memset(b.Scanline(1), 0x00, b.RowLen());
  RvNegativeBits(&b);
  EXPECT_EQ(b.Scanline(0)[0], 0xF0);
  EXPECT_EQ(b.Scanline(1)[1], 0xFF);
}

} // namespace
