#include "image/model/rvresample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace rv;
using platform::TBitmap;

// A literal reading of the filtered algorithm, per pixel and per channel, to
// hold the optimised passes against.
std::vector<std::uint8_t> Reference(const std::vector<std::uint8_t>& src, int sw, int sh, int c,
                                    int dw, int dh, TResampleFilter filter) {
  struct Contrib { std::vector<std::pair<int, int>> list; };
  auto build = [&](int sLen, int dLen, double scale) {
    std::vector<Contrib> out(dLen);
    const double support = RvFilterSupport(filter);
    for (int i = 0; i < dLen; ++i) {
      const double center = i / scale;
      const double width = scale >= 1 ? support : support / scale;
      const double f = 1 / scale;
      for (int j = (int)std::floor(center - width); j <= (int)std::ceil(center + width); ++j) {
        const double v = scale >= 1 ? RvFilterKernel(filter, center - j) * 256
                                    : RvFilterKernel(filter, (center - j) / f) * 256 / f;
        const int w = (int)std::nearbyint(v);
        if (w == 0) continue;
        const int n = j < 0 ? -j : (j >= sLen ? 2 * sLen - j - 1 : j);
        out[i].list.push_back({n, w});
      }
    }
    return out;
  };
  auto finish = [](int sum, int wsum) {
    int v = wsum != 0 ? sum / wsum : (int)((unsigned)sum >> 8);
    return (std::uint8_t)std::clamp(v, 0, 255);
  };
  const double xs = (sw != 1 && dw != 1) ? double(dw - 1) / (sw - 1) : double(dw) / sw;
  const double ys = (sh != 1 && dh != 1) ? double(dh - 1) / (sh - 1) : double(dh) / sh;
  auto cols = build(sw, dw, xs);
  std::vector<std::uint8_t> work(dw * sh * c), dst(dw * dh * c);
  for (int y = 0; y < sh; ++y)
    for (int i = 0; i < dw; ++i)
      for (int ch = 0; ch < c; ++ch) {
        int sum = 0, wsum = 0;
        for (auto [n, w] : cols[i].list) {
          sum += w * src[(y * sw + std::clamp(n, 0, sw - 1)) * c + ch];
          wsum += w;
        }
        work[(y * dw + i) * c + ch] = finish(sum, wsum);
      }
  auto rows = build(sh, dh, ys);
  for (int x = 0; x < dw; ++x)
    for (int i = 0; i < dh; ++i)
      for (int ch = 0; ch < c; ++ch) {
        int sum = 0, wsum = 0;
        for (auto [n, w] : rows[i].list) {
          sum += w * work[(std::clamp(n, 0, sh - 1) * dw + x) * c + ch];
          wsum += w;
        }
        dst[(i * dw + x) * c + ch] = finish(sum, wsum);
      }
  return dst;
}

void Fill(TBitmap& bmp, const std::vector<std::uint8_t>& px) {
  for (int y = 0; y < bmp.Height(); ++y)
    std::memcpy(bmp.ScanLine(y), px.data() + y * bmp.Width() * 3, bmp.Width() * 3);
}
std::vector<std::uint8_t> Pixels(const TBitmap& bmp) {
  std::vector<std::uint8_t> px(bmp.Width() * bmp.Height() * 3);
  for (int y = 0; y < bmp.Height(); ++y)
    std::memcpy(px.data() + y * bmp.Width() * 3, bmp.ScanLine(y), bmp.Width() * 3);
  return px;
}
std::vector<std::uint8_t> Random(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = (std::uint8_t)rng();
  return v;
}

const TResampleFilter kFilters[] = {rfTriangle, rfHermite, rfBell,    rfBSpline,
                                    rfLanczos3, rfMitchell, rfNearest, rfLinear};

class ResampleVectorPaths : public testing::TestWithParam<bool> {
protected:
  void SetUp() override { RvResampleSetVectorPaths(GetParam()); }
  void TearDown() override { RvResampleSetVectorPaths(true); }
};

TEST_P(ResampleVectorPaths, EveryFilterMatchesTheLiteralAlgorithm) {
  const int sizes[][4] = {{37, 23, 11, 7}, {9, 5, 31, 17}, {2, 1, 4, 1}, {40, 3, 1, 9},
                          {300, 4, 3, 2},  {16, 16, 16, 16}, {5, 50, 13, 2}};
  for (auto [sw, sh, dw, dh] : sizes) {
    const auto src = Random(sw * sh * 3, sw * 131 + dh);
    TBitmap s(sw, sh, platform::pf24bit), d(dw, dh, platform::pf24bit);
    Fill(s, src);
    for (TResampleFilter f : kFilters) {
      RvResampleTBitmap(&s, &d, f);
      EXPECT_EQ(Pixels(d), Reference(src, sw, sh, 3, dw, dh, f))
          << "filter " << int(f) << " " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  }
}

TEST_P(ResampleVectorPaths, RandomSizesMatchTheLiteralAlgorithm) {
  std::mt19937 rng(GetParam() ? 5 : 6);
  for (int run = 0; run < 60; ++run) {
    const int sw = 1 + rng() % 700, sh = 1 + rng() % 9;
    const int dw = 1 + rng() % 90, dh = 1 + rng() % 12;
    const TResampleFilter f = kFilters[rng() % 8];
    const auto src = Random(sw * sh * 3, run);
    TBitmap s(sw, sh, platform::pf24bit), d(dw, dh, platform::pf24bit);
    Fill(s, src);
    RvResampleTBitmap(&s, &d, f);
    if (sw < 2 && sh < 2) continue;
    ASSERT_EQ(Pixels(d), Reference(src, sw, sh, 3, dw, dh, f))
        << "filter " << int(f) << " " << sw << "x" << sh << " -> " << dw << "x" << dh;
  }
}

TEST_P(ResampleVectorPaths, OneChannelMasksMatchTheLiteralAlgorithm) {
  const int sw = 29, sh = 31, dw = 12, dh = 40;
  const auto src = Random(sw * sh, 7);
  TRvMask s, d;
  s.Allocate(sw, sh, 8);
  d.Allocate(dw, dh, 8);
  for (int y = 0; y < sh; ++y) std::memcpy(s.ScanLine(y), &src[y * sw], sw);
  for (TResampleFilter f : kFilters) {
    RvResampleMask(&s, &d, f);
    const auto ref = Reference(src, sw, sh, 1, dw, dh, f);
    for (int y = 0; y < dh; ++y)
      ASSERT_EQ(0, std::memcmp(d.ScanLine(y), &ref[y * dw], dw)) << int(f) << " row " << y;
  }
}

TEST_P(ResampleVectorPaths, BlackAndWhiteMatchesTheLiteralAlgorithmOnExpandedBits) {
  const int sw = 100, sh = 37, dw = 41, dh = 13;
  TBitmap s(sw, sh, platform::pf1bit), d(dw, dh, platform::pf24bit);
  const auto bits = Random(s.ScanLineSize() * sh, 99);
  std::vector<std::uint8_t> gray(sw * sh);
  for (int y = 0; y < sh; ++y) {
    std::memcpy(s.ScanLine(y), &bits[y * s.ScanLineSize()], s.ScanLineSize());
    for (int x = 0; x < sw; ++x) gray[y * sw + x] = (s.ScanLine(y)[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
  }
  RvResampleBWBitmap(&s, &d, rfLanczos3);
  const auto ref = Reference(gray, sw, sh, 1, dw, dh, rfLanczos3);
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(d.ScanLine(y)[3 * x + ch], ref[y * dw + x]);
}

INSTANTIATE_TEST_SUITE_P(VectorAndPlain, ResampleVectorPaths, testing::Bool());

TEST(Resample, ConstantPictureStaysConstant) {
  for (TResampleFilter f : {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell,
                            rfNearest, rfLinear, rfFastLinear}) {
    for (auto [dw, dh] : {std::pair{7, 5}, std::pair{45, 61}, std::pair{1, 1}}) {
      TBitmap s(20, 30, platform::pf24bit), d(dw, dh, platform::pf24bit);
      Fill(s, std::vector<std::uint8_t>(20 * 30 * 3, 0));
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 20; ++x) {
          std::uint8_t* p = s.ScanLine(y) + 3 * x;
          p[0] = 10; p[1] = 128; p[2] = 250;
        }
      RvResampleTBitmap(&s, &d, f);
      for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
          const std::uint8_t* p = d.ScanLine(y) + 3 * x;
          ASSERT_EQ(p[0], 10) << int(f);
          ASSERT_EQ(p[1], 128) << int(f);
          ASSERT_EQ(p[2], 250) << int(f);
        }
    }
  }
}

TEST(Resample, TwoPixelsEnlargedByTriangleGiveWorkedWeights) {
  // xscale 3: weights (256), (171, 85), (85, 171), (256).
  TBitmap s(2, 1, platform::pf24bit), d(4, 1, platform::pf24bit);
  Fill(s, {0, 0, 0, 255, 255, 255});
  RvResampleTBitmap(&s, &d, rfTriangle);
  const std::uint8_t* row = d.ScanLine(0);
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(row[3], 84);  // 85 x 255 div 256
  EXPECT_EQ(row[6], 170); // 171 x 255 div 256
  EXPECT_EQ(row[9], 255);
}

TEST(Resample, OnePixelLineLandsOnTheScaledColumn) {
  // 10 -> 19 columns: xscale 2, column 5 lands on 10; its neighbours take
  // half weights: 128 x 255 div 256 = 127.
  TBitmap s(10, 3, platform::pf24bit), d(19, 3, platform::pf24bit);
  std::vector<std::uint8_t> px(10 * 3 * 3, 0);
  for (int y = 0; y < 3; ++y) px[(y * 10 + 5) * 3] = 255;
  Fill(s, px);
  RvResampleTBitmap(&s, &d, rfTriangle);
  for (int x = 0; x < 19; ++x) {
    const int expected = x == 10 ? 255 : (x == 9 || x == 11) ? 127 : 0;
    EXPECT_EQ(d.ScanLine(1)[3 * x], expected) << x;
  }
}

TEST(Resample, NegativeLobesAreClampedNotWrapped) {
  TBitmap s(8, 2, platform::pf24bit), d(32, 2, platform::pf24bit);
  std::vector<std::uint8_t> px(8 * 2 * 3, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 4; x < 8; ++x) px[(y * 8 + x) * 3 + 1] = 255;
  Fill(s, px);
  RvResampleTBitmap(&s, &d, rfLanczos3);
  for (int x = 0; x < 12; ++x) EXPECT_LT(d.ScanLine(0)[3 * x + 1], 20) << x;
  for (int x = 20; x < 32; ++x) EXPECT_GT(d.ScanLine(0)[3 * x + 1], 235) << x;
}

TEST(Resample, EarlyReturnsWriteNothing) {
  TBitmap one(1, 1, platform::pf24bit), d(4, 4, platform::pf24bit);
  Fill(one, {9, 9, 9});
  RvResampleTBitmap(&one, &d, rfTriangle); // both sizes below 2
  EXPECT_EQ(d.ScanLine(2)[3], 0);
  TBitmap pal(4, 4, platform::pf8bit);
  RvResampleTBitmap(&pal, &d, rfTriangle);
  EXPECT_EQ(d.ScanLine(2)[3], 0);
  TBitmap s(4, 4, platform::pf24bit);
  Fill(s, std::vector<std::uint8_t>(48, 77));
  RvResampleTBitmap(&s, &d, rfNone);
  EXPECT_EQ(d.ScanLine(2)[3], 0);
}

TEST(Resample, ProgressReportsEveryRowThenEveryColumn) {
  TBitmap s(30, 20, platform::pf24bit), d(10, 5, platform::pf24bit);
  std::vector<int> seen;
  int sender = 0;
  RvResampleTBitmap(&s, &d, rfBell, &sender, [&](void* who, int per) {
    EXPECT_EQ(who, &sender);
    seen.push_back(per);
  });
  ASSERT_EQ(seen.size(), 30u); // 20 source rows + 10 destination columns
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), (int)std::trunc(29 * (100 / 30.5)));
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(Resample, LibraryBitmapInTheFileKind) {
  const int sw = 64, sh = 48, dw = 20, dh = 30;
  const auto src = Random(sw * sh * 3, 3);
  TRvBitmap s, d;
  s.SetMapThreshold(1); // every picture goes to the mapped file
  s.Allocate(sw, sh, rvpf24Bit);
  ASSERT_EQ(s.Location(), rvlFile);
  for (int y = 0; y < sh; ++y) std::memcpy(s.Scanline(y), &src[y * sw * 3], sw * 3);
  d.Allocate(dw, dh, rvpf24Bit);
  RvResampleBitmap(&s, &d, rfMitchell);
  const auto ref = Reference(src, sw, sh, 3, dw, dh, rfMitchell);
  for (int y = 0; y < dh; ++y)
    ASSERT_EQ(0, std::memcmp(d.Scanline(y), &ref[y * dw * 3], dw * 3)) << y;
  TRvBitmap gray;
  gray.Allocate(dw, dh, rvpf8BitGray);
  RvResampleBitmap(&s, &gray, rfMitchell); // would overrun 8-bit rows: refused
}

TEST(FastStretch, EnlargingInterpolatesWithSeventeenBitFractions) {
  TBitmap s(2, 1, platform::pf24bit), d(4, 1, platform::pf24bit);
  Fill(s, {0, 255, 7, 255, 0, 7});
  RvResampleTBitmap(&s, &d, rfFastLinear);
  const std::uint8_t* r = d.ScanLine(0);
  EXPECT_EQ(r[3], 127); // 0 + (255 x 65536) >> 17
  EXPECT_EQ(r[4], 127); // 255 + floor(-127.5)
  EXPECT_EQ(r[5], 7);
  EXPECT_EQ(r[6], 255);
  EXPECT_EQ(r[9], 255); // the last column repeats
}

TEST(FastStretch, HalvingAveragesInclusiveBoxesAndCopiesRowsAtScaleOne) {
  TBitmap s(100, 4, platform::pf24bit), d(50, 4, platform::pf24bit);
  std::vector<std::uint8_t> px(100 * 4 * 3);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 100; ++x) px[(y * 100 + x) * 3] = std::uint8_t(x + 40 * y);
  Fill(s, px);
  RvStretchTBitmapLinear(&s, &d);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 49; ++x) EXPECT_EQ(d.ScanLine(y)[3 * x], 2 * x + 1 + 40 * y) << x;
    EXPECT_EQ(d.ScanLine(y)[3 * 49], 98 + 40 * y); // the last box is one column
  }
}

TEST(FastStretch, QuarteringRowsAveragesFiveRows) {
  TRvMask s, d;
  s.Allocate(3, 40, 8);
  d.Allocate(3, 10, 8);
  for (int y = 0; y < 40; ++y) std::memset(s.ScanLine(y), y, 3);
  RvResampleMask(&s, &d, rfFastLinear);
  for (int y = 0; y < 9; ++y) EXPECT_EQ(d.ScanLine(y)[1], (20 * y + 10) / 5) << y; // 4y..4y+4
  EXPECT_EQ(d.ScanLine(9)[1], 36);
}

TEST(FastStretch, EqualSizeIsAStraightCopy) {
  TBitmap s(5, 3, platform::pf24bit), d(5, 3, platform::pf24bit);
  const auto px = Random(45, 11);
  Fill(s, px);
  RvStretchTBitmapLinear(&s, &d);
  EXPECT_EQ(Pixels(d), px);
}

TEST(FastStretch, BlackAndWhiteBecomesGray) {
  TBitmap s(8, 2, platform::pf1bit), d(16, 4, platform::pf24bit);
  for (int y = 0; y < 2; ++y) s.ScanLine(y)[0] = 0x0F; // right half white
  RvResampleBWBitmap(&s, &d, rfFastLinear);
  for (int x = 0; x < 16; ++x) {
    const std::uint8_t* p = d.ScanLine(3) + 3 * x;
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
  }
  EXPECT_EQ(d.ScanLine(0)[0], 0);
  EXPECT_EQ(d.ScanLine(0)[3 * 15], 255);
  EXPECT_EQ(d.ScanLine(0)[3 * 7], 127); // halfway between pixels 3 and 4
  TBitmap small(4, 1, platform::pf24bit);
  RvResampleBWBitmap(&s, &small, rfTriangle);
  EXPECT_EQ(small.ScanLine(0)[0], 0);
  EXPECT_EQ(small.ScanLine(0)[9], 255);
}

} // namespace
