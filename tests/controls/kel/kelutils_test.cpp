#include "controls/kel/kelsysin.h"
#include "controls/kel/kelutils.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace kel;

namespace {

TEST(KelRectTest, FitRectKeepsProportionsAndTruncates) {
  // 200 x 100 into 90 x 90: scale 0.45 -> 90 x 45 at the target's corner.
  const TRect r = KelFitRect({0, 0, 200, 100}, {10, 20, 100, 110});
  EXPECT_EQ(r.Left, 10);
  EXPECT_EQ(r.Top, 20);
  EXPECT_EQ(r.Right, 100);
  EXPECT_EQ(r.Bottom, 65);
  // 3 x 8 into 10 x 10: scale 1.25, width 3.75 truncates to 3.
  const TRect t = KelFitRect({5, 5, 8, 13}, {0, 0, 10, 10});
  EXPECT_EQ(t.Right, 3);
  EXPECT_EQ(t.Bottom, 10);
  // Scaling up as well as down.
  const TRect u = KelFitRect({0, 0, 10, 5}, {0, 0, 40, 40});
  EXPECT_EQ(u.Right, 40);
  EXPECT_EQ(u.Bottom, 20);
}

TEST(KelRectTest, FitRectOfEmptySourceIsEmpty) {
  const TRect r = KelFitRect({0, 0, 0, 50}, {3, 4, 100, 100});
  EXPECT_EQ(r.Left, 3);
  EXPECT_EQ(r.Right, 3);
  EXPECT_EQ(r.Bottom, 4);
}

TEST(KelRectTest, RotatedBounds) {
  TRect r{0, 0, 100, 50};
  KelRotatedBounds(r, 90);
  EXPECT_EQ(r.Left, 0);
  EXPECT_EQ(r.Top, 0);
  EXPECT_EQ(r.Right, 50);
  EXPECT_EQ(r.Bottom, 100);

  TRect same{7, 8, 30, 40};
  KelRotatedBounds(same, 0);
  EXPECT_EQ(same.Left, 7);
  EXPECT_EQ(same.Bottom, 40);

  // 45 degrees: corners at (+-50, +-50) about the centre, each product
  // 50 x 0.7071 = 35.36 rounds to 35, so the box is 140 x 140.
  TRect square{0, 0, 100, 100};
  KelRotatedBounds(square, 45);
  EXPECT_EQ(square.Right, 140);
  EXPECT_EQ(square.Bottom, 140);

  // Half a turn keeps the size; the box sits at the origin.
  TRect moved{10, 20, 60, 50};
  KelRotatedBounds(moved, 180);
  EXPECT_EQ(moved.Left, 0);
  EXPECT_EQ(moved.Right, 50);
  EXPECT_EQ(moved.Bottom, 30);
}

TEST(KelArrayTest, MinAndMax) {
  EXPECT_EQ(KelMaxOf({3, -2, 7}), 7);
  EXPECT_EQ(KelMinOf({3, -2, 7}), -2);
  EXPECT_EQ(KelMaxOf({-9}), -9);
  EXPECT_EQ(KelMinOf({-9}), -9);
  EXPECT_DOUBLE_EQ(KelMinOfExtended({2.5, -0.25, 1e9}), -0.25);
  EXPECT_EQ(KelMaxOf(std::span<const int>()), 0);
  EXPECT_EQ(KelMinOfExtended(std::span<const double>()), 0.0);
}

TEST(KelFolderTest, SpecialFolders) {
  const std::string app = KelAppFolder();
  ASSERT_FALSE(app.empty());
  EXPECT_EQ(access(app.c_str(), F_OK), 0);
  EXPECT_EQ(KelSpecialFolder(sfApplication, true), app + "/");
  EXPECT_EQ(KelSpecialFolder(sfApplication, false), app);
  EXPECT_EQ(KelSpecialFolder(sfWindows, true), KelWindowsFolder() + "/");
  EXPECT_EQ(KelSpecialFolder(sfSystem, false), KelSystemFolder());
  EXPECT_EQ(KelSpecialFolder(3, true), "");
  EXPECT_EQ(KelSpecialFolder(-1, false), "");
}

TEST(KelSysInfoTest, VersionFields) {
  EXPECT_EQ(KelVersionField(2), 2u);
  EXPECT_EQ(KelVersionField(0), KelMajorVersion());
  EXPECT_EQ(KelVersionField(1), KelMinorVersion());
  EXPECT_GT(KelMajorVersion(), 0u);
  EXPECT_EQ(KelVersionField(8), 0u);
  EXPECT_EQ(KelVersionField(-1), 0u);
}

TEST(KelSysInfoTest, UserNameAndDepth) {
  const std::string name = KelUserName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 62u);
  // The offscreen screen reports a real depth.
  EXPECT_GT(KelDisplayColorDepth(), 0);
}

TEST(KelSysInfoTest, VersionFlags) {
  auto f = KelComputeVersionFlags(kelPlatformNT, 5, 1, 3, false);
  EXPECT_TRUE(f.WinNT && f.WinXP && f.WinXPHome && f.Extension);
  EXPECT_FALSE(f.WinXPProfessional || f.Win2000 || f.WinXPServer);
  f = KelComputeVersionFlags(kelPlatformNT, 5, 1, 2, false);
  EXPECT_TRUE(f.WinXPProfessional && f.WinXPServer);
  f = KelComputeVersionFlags(kelPlatformNT, 5, 0, 2, false);
  EXPECT_TRUE(f.Win2000 && f.Win2000Server);
  EXPECT_FALSE(f.WinXP);
  // Only the low byte of the major version counts.
  f = KelComputeVersionFlags(kelPlatformNT, 0x105, 0, 0, false);
  EXPECT_TRUE(f.Win2000);
  f = KelComputeVersionFlags(kelPlatformWin9x, 4, 90, 0, true);
  EXPECT_TRUE(f.Win98 && f.WinMe && f.Extension);
  EXPECT_FALSE(f.WinNT);
  f = KelComputeVersionFlags(kelPlatformWin9x, 4, 0, 0, false);
  EXPECT_FALSE(f.Win98 || f.WinMe || f.Extension);

  const TKelVersionFlags& running = KelVersionFlags();
  EXPECT_TRUE(running.WinNT);
  EXPECT_TRUE(running.Extension);
  EXPECT_FALSE(running.WinXP || running.Win2000 || running.Win98);
}

} // namespace

namespace {

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& input) {
  std::vector<std::uint8_t> out(input.size() + kelBlockOutputMargin);
  out.resize(KelCompressBlock(input, out));
  return out;
}

std::vector<std::uint8_t> Expand(const std::vector<std::uint8_t>& block) {
  std::vector<std::uint8_t> out(kelBlockMaxInput);
  out.resize(KelDecompressBlock(block, out));
  return out;
}

TEST(KelBlockCodecTest, SixteenEqualBytesAreOneRun) {
  const std::vector<std::uint8_t> input(16, 0xAB);
  const std::vector<std::uint8_t> expected = {0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 0xAB};
  EXPECT_EQ(Compress(input), expected);
  EXPECT_EQ(Expand(expected), input);
}

TEST(KelBlockCodecTest, BackReferenceByHand) {
  const std::vector<std::uint8_t> input = {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'};
  // Control word 0001 (three literals, one copy); the copy is distance 3,
  // length 6: (3 << 4) + (6 - 3) = 0x0033.
  const std::vector<std::uint8_t> expected = {0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x33};
  EXPECT_EQ(Compress(input), expected);
  EXPECT_EQ(Expand(expected), input);
  // An overlapping copy of distance 1 repeats one byte.
  const std::vector<std::uint8_t> overlap = {0x40, 0x40, 0x00, 'z', 0x00, 0x12};
  EXPECT_EQ(Expand(overlap), std::vector<std::uint8_t>(6, 'z'));
}

TEST(KelBlockCodecTest, IncompressibleInputIsStored) {
  std::vector<std::uint8_t> input(200);
  std::uint32_t seed = 12345;
  for (auto& byte : input) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  const auto block = Compress(input);
  ASSERT_EQ(block.size(), input.size() + 1);
  EXPECT_EQ(block[0], 0x80);
  EXPECT_TRUE(std::equal(input.begin(), input.end(), block.begin() + 1));
  EXPECT_EQ(Expand(block), input);
  // Nothing at all is stored too.
  EXPECT_EQ(Compress({}), std::vector<std::uint8_t>{0x80});
  EXPECT_TRUE(Expand({0x80}).empty());
  EXPECT_TRUE(Expand({}).empty());
}

TEST(KelBlockCodecTest, RoundTripsOfAFullBlock) {
  // Text-like data with far and near repeats, runs of every length, and
  // positions past 32768.
  std::vector<std::uint8_t> input;
  std::uint32_t seed = 7;
  while (input.size() < kelBlockMaxInput) {
    seed = seed * 1103515245u + 12345u;
    const unsigned kind = (seed >> 16) % 4;
    if (kind == 0) {
      input.insert(input.end(), (seed >> 8) % 5000, static_cast<std::uint8_t>(seed >> 24));
    } else if (kind == 1 && input.size() > 5000) {
      const std::size_t from = input.size() - 1 - (seed >> 4) % 5000;
      for (std::size_t i = 0; i < 40; ++i) input.push_back(input[from + i]);
    } else {
      for (int i = 0; i < 30; ++i) input.push_back(static_cast<std::uint8_t>('a' + (seed >> (i % 20)) % 7));
    }
  }
  input.resize(kelBlockMaxInput);
  const auto block = Compress(input);
  EXPECT_EQ(block[0], 0x40);
  EXPECT_LT(block.size(), input.size() / 2);
  EXPECT_EQ(Expand(block), input);
  // Every short prefix as well.
  for (std::size_t n = 0; n < 60; ++n) {
    const std::vector<std::uint8_t> part(input.begin() + 30000, input.begin() + 30000 + n);
    EXPECT_EQ(Expand(Compress(part)), part) << n;
  }
  std::vector<std::uint8_t> tooLarge(kelBlockMaxInput + 1);
  std::vector<std::uint8_t> out(tooLarge.size() + kelBlockOutputMargin);
  EXPECT_THROW(KelCompressBlock(tooLarge, out), EKelBlockError);
}

TEST(KelBlockCodecTest, DamagedBlocks) {
  // Three bytes or fewer expand to nothing.
  EXPECT_TRUE(Expand({0x40, 0xFF, 0xFF}).empty());
  EXPECT_THROW(Expand({0x41, 1, 2, 3}), EKelBlockError);
  // A reference before the first byte.
  EXPECT_THROW(Expand({0x40, 0x80, 0x00, 0x00, 0x53}), EKelBlockError);
  // Runs that overflow the expanded block.
  std::vector<std::uint8_t> runs = {0x40, 0xFF, 0xFF};
  for (int i = 0; i < 9; ++i) runs.insert(runs.end(), {0x00, 0x0F, 0xFF, 0x11});
  EXPECT_THROW(Expand(runs), EKelBlockError);
  // Items cut short.
  EXPECT_THROW(Expand({0x40, 0x80, 0x00, 0x00, 0x00, 0x01}), EKelBlockError);
  std::vector<std::uint8_t> literals = {0x40, 0x00, 0x00};
  literals.insert(literals.end(), 16, 'q');
  EXPECT_EQ(Expand(literals), std::vector<std::uint8_t>(16, 'q'));
  literals.push_back(0x00); // half a control word
  EXPECT_THROW(Expand(literals), EKelBlockError);
  // Stored data longer than the output.
  std::vector<std::uint8_t> stored(10, 0x80);
  std::vector<std::uint8_t> small(5);
  EXPECT_THROW(KelDecompressBlock(stored, small), EKelBlockError);
}

} // namespace
