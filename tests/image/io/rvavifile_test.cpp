#include "image/io/avi/rvavifile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <random>
#include <unistd.h>

#include "platform/graphics.h"
#include "simplecodecs_testutil.h"

namespace {

using namespace rv;
using namespace simplecodecs_test;

constexpr int W = 32, H = 24, Frames = 15;

// Frame N: blue rises to the right, green downwards, red with N; the top
// left 4 x 4 block is white so that a flipped frame shows.
std::uint8_t Sample(int N, int X, int Y, int C) {
  if (X < 4 && Y < 4) return 255;
  const int v[3] = {X * 8, Y * 10, N * 17};
  return static_cast<std::uint8_t>(v[C]);
}

class TAviFiles : public testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!HaveTool("ffmpeg")) return;
    Dir = testing::TempDir() + "avi_test_" + std::to_string(::getpid()) + "/";
    RunTool("mkdir -p '" + Dir + "'");
    Bytes raw;
    for (int n = 0; n < Frames; ++n)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          for (int c = 0; c < 3; ++c) raw.push_back(Sample(n, x, y, c));
    SaveBytes(Dir + "frames.bgr", raw);
    const std::string in = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s 32x24 -r 15 -i '" + Dir + "frames.bgr' ";
    Made = RunTool(in + "-c:v rawvideo -pix_fmt bgr24 '" + Dir + "raw.avi'") &&
           RunTool(in + "-c:v mjpeg -q:v 1 '" + Dir + "mjpeg.avi'") &&
           RunTool(in + "-c:v mpeg4 -bf 2 -g 6 -q:v 1 '" + Dir + "bframes.avi'");
  }
  static void TearDownTestSuite() {
    if (!Dir.empty()) RunTool("rm -rf '" + Dir + "'");
  }
  void SetUp() override {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    ASSERT_TRUE(Made);
  }

  // Mean absolute difference of a frame's DIB against frame N's samples.
  static double Distance(const std::vector<std::uint8_t>& Dib, int N) {
    const std::size_t row = static_cast<std::size_t>((W * 24 + 31) / 32 * 4);
    double sum = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c)
          sum += std::abs(Dib[40 + row * static_cast<std::size_t>(H - 1 - y) + 3 * x + c] - Sample(N, x, y, c));
    return sum / (W * H * 3);
  }

  static std::string Dir;
  static bool Made;
};

std::string TAviFiles::Dir;
bool TAviFiles::Made = false;

TEST_F(TAviFiles, StreamFactsAndDibHeader) {
  TRvAviFile avi;
  ASSERT_TRUE(avi.Open(Dir + "raw.avi"));
  EXPECT_EQ(avi.Rate(), 15);
  EXPECT_EQ(avi.Scale(), 1);
  EXPECT_EQ(avi.Length(), Frames);
  EXPECT_EQ(avi.Width(), W);
  EXPECT_EQ(avi.Height(), H);
  EXPECT_TRUE(avi.IntraOnly());
  const std::vector<std::uint8_t> dib = avi.GetFrame(0);
  ASSERT_EQ(dib.size(), 40u + 96u * H);
  platform::TBitmapInfoHeader h;
  std::memcpy(&h, dib.data(), 40);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, W);
  EXPECT_EQ(h.biHeight, H); // bottom-up
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biCompression, 0u);
  EXPECT_EQ(h.biSizeImage, 96u * H);
}

TEST_F(TAviFiles, UncompressedFramesAreExactInAnyOrder) {
  TRvAviFile avi;
  ASSERT_TRUE(avi.Open(Dir + "raw.avi"));
  for (int n : {0, 1, 2, 14, 7, 3, 13, 0}) {
    const std::vector<std::uint8_t> dib = avi.GetFrame(n);
    ASSERT_FALSE(dib.empty()) << n;
    EXPECT_EQ(Distance(dib, n), 0.0) << n;
  }
  // Seeking straight to a frame decodes that frame only.
  const std::int64_t before = avi.DecodedPackets();
  avi.GetFrame(9);
  EXPECT_EQ(avi.DecodedPackets() - before, 1);
  EXPECT_TRUE(avi.GetFrame(Frames).empty());
  EXPECT_TRUE(avi.GetFrame(-1).empty());
}

TEST_F(TAviFiles, CompressedFramesComeInDisplayOrder) {
  for (const char* name : {"mjpeg.avi", "bframes.avi"}) {
    SCOPED_TRACE(name);
    TRvAviFile avi;
    ASSERT_TRUE(avi.Open(Dir + name));
    ASSERT_EQ(avi.Length(), Frames);
    EXPECT_EQ(avi.IntraOnly(), std::string(name) == "mjpeg.avi");
    for (int n = 0; n < Frames; ++n) {
      const std::vector<std::uint8_t> dib = avi.GetFrame(n);
      ASSERT_FALSE(dib.empty()) << n;
      // Lossy, but closer to its own frame than to either neighbour (17
      // apart in red).
      const double own = Distance(dib, n);
      EXPECT_LT(own, 6.0) << n;
      if (n > 0) {
        EXPECT_LT(own, Distance(dib, n - 1)) << n;
      }
      if (n + 1 < Frames) {
        EXPECT_LT(own, Distance(dib, n + 1)) << n;
      }
    }
  }
}

TEST_F(TAviFiles, ReorderedStreamGivesTheSameFrameFromAnyStart) {
  TRvAviFile sequential;
  ASSERT_TRUE(sequential.Open(Dir + "bframes.avi"));
  EXPECT_FALSE(sequential.IntraOnly());
  std::vector<std::vector<std::uint8_t>> expected;
  for (int n = 0; n < Frames; ++n) expected.push_back(sequential.GetFrame(n));
  // Once the order is known, a late frame is decoded from a key frame near
  // it, not from the start.
  sequential.GetFrame(1);
  const std::int64_t before = sequential.DecodedPackets();
  EXPECT_EQ(sequential.GetFrame(Frames - 1), expected.back());
  EXPECT_LT(sequential.DecodedPackets() - before, Frames - 2);
  std::vector<int> order(Frames);
  std::iota(order.begin(), order.end(), 0);
  std::mt19937 random(12);
  for (int round = 0; round < 3; ++round) {
    std::shuffle(order.begin(), order.end(), random);
    // A fresh reader knows nothing of the display order yet; the first
    // reader has learnt it while decoding forward.
    TRvAviFile fresh;
    ASSERT_TRUE(fresh.Open(Dir + "bframes.avi"));
    for (int n : order) {
      EXPECT_EQ(fresh.GetFrame(n), expected[static_cast<std::size_t>(n)]) << "fresh, frame " << n;
      EXPECT_EQ(sequential.GetFrame(n), expected[static_cast<std::size_t>(n)]) << "frame " << n;
    }
  }
}

TEST_F(TAviFiles, WhatIsNoVideoIsRefused) {
  TRvAviFile avi;
  EXPECT_FALSE(avi.Open(Dir + "missing.avi"));
  EXPECT_FALSE(avi.IsOpen());
  EXPECT_TRUE(avi.GetFrame(0).empty());
  EXPECT_EQ(avi.Length(), 0);
  const Bytes whole = LoadBytes(Dir + "raw.avi");
  ASSERT_GT(whole.size(), 1000u);
  // Cut short after the headers: fewer frames, each still whole.
  const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
  TRvAviFile half;
  ASSERT_TRUE(half.OpenMemory(cut.data(), cut.size()));
  EXPECT_LT(half.Length(), Frames);
  for (int n = 0; n < half.Length(); ++n) {
    const std::vector<std::uint8_t> dib = half.GetFrame(n);
    ASSERT_FALSE(dib.empty()) << n << " of " << half.Length();
    EXPECT_EQ(Distance(dib, n), 0.0) << n;
  }
  const Bytes noise = {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'A', 'V', 'I', ' ', 'x'};
  EXPECT_FALSE(avi.OpenMemory(noise.data(), noise.size()));
  EXPECT_FALSE(avi.OpenMemory(whole.data(), 12));
}

} // namespace
