#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/model/rvmetadata.h"

using namespace rv;

namespace {
std::uint32_t BE32(const std::vector<std::uint8_t>& B, std::size_t At) {
  return (std::uint32_t{B[At]} << 24) | (std::uint32_t{B[At + 1]} << 16) |
         (std::uint32_t{B[At + 2]} << 8) | B[At + 3];
}
} // namespace

TEST(RvMarkerList, AddFindReplaceAssign) {
  TRvMarkerList L;
  const char A[] = "first", B[] = "second";
  EXPECT_EQ(L.IndexOf(0xE1), -1);
  EXPECT_EQ(L.AddMarker(0xFE, A, 5), 0);
  EXPECT_EQ(L.AddMarker(0xE1, A, 5), 1);
  EXPECT_EQ(L.AddMarker(0xE1, B, 6), 2);
  EXPECT_EQ(L.IndexOf(0xE1), 1); // the second of that code is not found first
  L.SetMarkerData(1, 0xED, B, 6);
  EXPECT_EQ(L.MarkerType(1), 0xED);
  EXPECT_EQ(L.MarkerLength(1), 6);
  EXPECT_EQ(std::memcmp(L.MarkerData(1), B, 6), 0);
  TRvMarkerList Copy;
  Copy.AddMarker(0xE0, A, 1);
  Copy.Assign(&L);
  Copy.Assign(nullptr);
  ASSERT_EQ(Copy.Count(), 3);
  EXPECT_EQ(Copy.IndexOf(0xE1), 2);
  L.Clear();
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(Copy.MarkerLength(2), 6);
}

TEST(RvIPTCInfoList, ThreeRecordsGiveSize21AndPaddedBlockOf48) {
  TRvIPTCInfoList L;
  L.AddItem(2, 5, 1, "a");
  L.AddItem(2, 25, 2, "bc");
  L.AddItem(2, 120, 3, "def");
  const auto B = L.SaveToStandardBuffer();
  ASSERT_EQ(B.size(), 48u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(B.data())), "Photoshop 3.0");
  EXPECT_EQ(std::memcmp(B.data() + 14, "8BIM\x04\x04\0\0", 8), 0);
  EXPECT_EQ(BE32(B, 22), 21u);
  // First record: marker, record, data set, length 0x0001, data.
  EXPECT_EQ(B[26], 0x1C);
  EXPECT_EQ(B[27], 2);
  EXPECT_EQ(B[28], 5);
  EXPECT_EQ(B[29], 0);
  EXPECT_EQ(B[30], 1);
  EXPECT_EQ(B[31], 'a');
  EXPECT_EQ(B[47], 0);
}

TEST(RvIPTCInfoList, RecordVersionIsNeverWritten) {
  TRvIPTCInfoList L;
  L.AddItem(2, 0, 2, "\0\4");
  L.AddItem(2, 5, 1, "x");
  const auto B = L.SaveToStandardBuffer();
  EXPECT_EQ(BE32(B, 22), 6u);
  TRvIPTCInfoList Back;
  Back.LoadFromStandardBuffer(B.data(), static_cast<std::int64_t>(B.size()));
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.DataSet(0), 5);
}

TEST(RvIPTCInfoList, LongItemUsesExtendedLengthAndReadsBack) {
  TRvIPTCInfoList L;
  std::vector<std::uint8_t> Data(40000);
  for (std::size_t I = 0; I < Data.size(); ++I) Data[I] = static_cast<std::uint8_t>(I * 7);
  L.AddItem(2, 120, 40000, Data.data());
  const auto B = L.SaveToStandardBuffer();
  EXPECT_EQ(B[29], 0x80);
  EXPECT_EQ(B[30], 0x04);
  EXPECT_EQ(BE32(B, 31), 40000u);
  EXPECT_EQ(BE32(B, 22), 40009u);
  TRvIPTCInfoList Back;
  Back.LoadFromStandardBuffer(B.data(), static_cast<std::int64_t>(B.size()));
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.ItemLength(0), 40000);
  EXPECT_EQ(std::memcmp(Back.ItemData(0), Data.data(), Data.size()), 0);
  EXPECT_FALSE(Back.Changed);
}

TEST(RvIPTCInfoList, TruncatedAndNegativeLengths) {
  // One whole record, then one whose data run past the end.
  const std::uint8_t B[] = {9, 9, 0x1C, 2, 5, 0, 2, 'h', 'i', 0x1C, 2, 6, 0, 9, 'x', 'y'};
  TRvIPTCInfoList L;
  L.LoadFromStandardBuffer(B, sizeof B);
  ASSERT_EQ(L.Count(), 1);
  EXPECT_EQ(L.ItemLength(0), 2);
  // An extended length of -1 counts as 1.
  const std::uint8_t N[] = {0x1C, 2, 7, 0x80, 4, 0xFF, 0xFF, 0xFF, 0xFF, 'z'};
  L.LoadFromStandardBuffer(N, sizeof N);
  ASSERT_EQ(L.Count(), 1);
  EXPECT_EQ(L.ItemData(0)[0], 'z');
  // An extended length whose four bytes are missing ends parsing.
  const std::uint8_t Cut[] = {0x1C, 2, 7, 0x80, 4, 0, 0};
  L.LoadFromStandardBuffer(Cut, sizeof Cut);
  EXPECT_EQ(L.Count(), 0);
}

TEST(RvIPTCInfoList, ChangedFlag) {
  TRvIPTCInfoList L;
  EXPECT_FALSE(L.Changed);
  L.AddItem(2, 5, 1, "a");
  EXPECT_TRUE(L.Changed);
  const auto B = L.SaveToStandardBuffer();
  L.LoadFromStandardBuffer(B.data(), static_cast<std::int64_t>(B.size()));
  EXPECT_FALSE(L.Changed);
  TRvIPTCInfoList Copy;
  Copy.Assign(&L);
  EXPECT_TRUE(Copy.Changed);
  EXPECT_EQ(Copy.Count(), 1);
  L.Clear();
  EXPECT_TRUE(L.Changed);
}
