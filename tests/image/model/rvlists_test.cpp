#include "image/model/rvlists.h"

#include <gtest/gtest.h>

namespace {

using namespace rv;

TEST(RvList, DeleteOutOfRangeChangesNothing) {
  TRvIntegerList list;
  list.Add(7);
  list.Add(8);
  list.SetFlags(0);
  list.Delete(-1);
  list.Delete(2);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Flags(), 0u);
  list.Delete(0);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0), 8);
  EXPECT_EQ(list.Flags(), rvlfItemsChanged);
}

TEST(RvList, AddSetsFlagsAndClearResetsThem) {
  TRvIntegerList list;
  EXPECT_EQ(list.ItemSize(), 4);
  EXPECT_EQ(list.IndexOf(3), -1);
  EXPECT_EQ(list.Add(3), 0);
  EXPECT_EQ(list.Flags() & rvlfItemsChanged, rvlfItemsChanged);
  list.SetCurrent(3);
  list.SetRangeMax(9);
  EXPECT_EQ(list.Flags(), rvlfItemsChanged | rvlfRangeChanged | rvlfCurrentChanged);
  list.Clear();
  EXPECT_EQ(list.Flags(), 0u);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.RangeMax(), 0);
  EXPECT_EQ(list.Data(), nullptr);
}

TEST(RvList, DoubleIndexOfComparesStoredBytes) {
  TRvDoubleList list;
  EXPECT_EQ(list.ItemSize(), 8);
  list.Add(1.5);
  list.Add(0.0);
  EXPECT_EQ(list.IndexOf(0.0), 1);
  EXPECT_EQ(list.IndexOf(-0.0), -1); // equal as numbers, not as bytes
  list.SetItems(5, 2.0);             // out of range: ignored
  EXPECT_EQ(list.Count(), 2);
}

TEST(RvList, AssignCopiesItemsRangeAndFlags) {
  TRvDoubleList a, b;
  a.Add(2.5);
  a.SetRangeStep(0.5);
  b.Assign(&a);
  EXPECT_EQ(b.Count(), 1);
  EXPECT_EQ(b.Items(0), 2.5);
  EXPECT_EQ(b.RangeStep(), 0.5);
  EXPECT_EQ(b.Flags(), a.Flags());
  b.Assign(nullptr);
  EXPECT_EQ(b.Count(), 1);
}

TEST(RvList, RecordListKeepsItsItemSize) {
  struct Span { std::int32_t x1, x2, y; };
  TRvRecordList list(sizeof(Span));
  Span s{1, 5, 9};
  EXPECT_EQ(list.AddItem(&s), 0);
  s.y = 10;
  EXPECT_EQ(list.AddItem(&s), 1);
  EXPECT_EQ(static_cast<Span*>(list.GetItem(1))->y, 10);
  EXPECT_EQ(list.IndexOf(&s), 1);
  list.Clear();
  EXPECT_EQ(list.ItemSize(), static_cast<int>(sizeof(Span)));
}

TEST(RvByteArray, GrowsAndShrinksInBlocks) {
  TRvByteArray bytes;
  for (int i = 0; i < 8192; ++i) bytes.AddByte(static_cast<std::uint8_t>(i));
  EXPECT_EQ(bytes.Capacity(), 8192);
  bytes.AddByte(0xAB);
  EXPECT_EQ(bytes.Capacity(), 16385);
  EXPECT_EQ(bytes.Size(), 8193);
  EXPECT_EQ(bytes.Data()[8192], 0xAB);
  EXPECT_EQ(bytes.Data()[300], 300 % 256);
  bytes.SetSize(8193); // not below capacity - block size: the block stays
  EXPECT_EQ(bytes.Capacity(), 16385);
  bytes.SetSize(10);
  EXPECT_EQ(bytes.Capacity(), 8202);
  EXPECT_EQ(bytes.Data()[9], 9);
}

TEST(RvByteArray, AppendFromShortStreamKeepsWhatArrived) {
  const std::uint8_t src[5] = {1, 2, 3, 4, 5};
  platform::TBytesStream stream(src, 5);
  TRvByteArray bytes;
  bytes.AddByte(9);
  EXPECT_EQ(bytes.AppendFromStream(stream, 8), 5);
  EXPECT_EQ(bytes.Size(), 6);
  EXPECT_EQ(bytes.Data()[0], 9);
  EXPECT_EQ(bytes.Data()[5], 5);
  EXPECT_EQ(bytes.AppendFromStream(stream, 4), 0);
  EXPECT_EQ(bytes.Size(), 6);
}

TEST(NulStream, CountsAndSeeksFromTheEndBackwards) {
  TNulStream s;
  std::uint8_t buf[100] = {};
  EXPECT_EQ(s.Write(buf, 100), 100);
  EXPECT_EQ(s.Seek(0, platform::soEnd), 100);
  EXPECT_EQ(s.Seek(10, platform::soEnd), 90);
  EXPECT_EQ(s.Seek(50, platform::soBeginning), 50);
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.Seek(70, platform::soCurrent), 120);
  EXPECT_EQ(s.Size(), 120);
  EXPECT_EQ(s.Read(buf, 5), 5); // counts, touches nothing
  EXPECT_EQ(s.Size(), 125);
}

TEST(NulStream, PositionsBeyondTwoGigabytesDoNotWrap) {
  TNulStream s;
  s.Seek(std::int64_t{3} << 30, platform::soBeginning);
  s.Write(nullptr, 10);
  EXPECT_EQ(s.Size(), (std::int64_t{3} << 30) + 10);
}

class ShortStream : public platform::TMemoryStream {
public:
  std::int64_t Write(const void* b, std::int64_t c) override {
    return platform::TMemoryStream::Write(b, c > 3 ? 3 : c);
  }
};

TEST(RvSafeStreamWrite, ShortWriteSetsAbortingAndNeverClearsIt) {
  ShortStream s;
  bool aborting = false;
  const char data[8] = "abcdefg";
  RvSafeStreamWrite(s, aborting, data, 3);
  EXPECT_FALSE(aborting);
  RvSafeStreamWrite(s, aborting, data, 8);
  EXPECT_TRUE(aborting);
  RvSafeStreamWrite(s, aborting, data, 1);
  EXPECT_TRUE(aborting);
  std::atomic<bool> flag{false};
  RvSafeStreamWrite(s, flag, data, 4);
  EXPECT_TRUE(flag.load());
}

TEST(RvIntPow2, LargeExponentsDoNotCollapseToZero) {
  EXPECT_EQ(RvIntPow2(8, 0), 1);
  EXPECT_EQ(RvIntPow2(8, -3), 1);
  EXPECT_EQ(RvIntPow2(1, 1), 2);
  EXPECT_EQ(RvIntPow2(8, 3), 1 << 24);
  EXPECT_EQ(RvIntPow2(16, 2), std::int64_t{1} << 32);
  EXPECT_EQ(RvIntPow2(8, 4), std::int64_t{1} << 32);
  EXPECT_GT(RvIntPow2(16, 4), std::int64_t{1} << 62);
}

} // namespace
