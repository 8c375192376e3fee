#include <gtest/gtest.h>
#include <thread>

#include "image/io/rvsafeio.h"
#include "platform/stream.h"

using namespace rv;

TEST(TRvStreamReader, IntegersBothOrders) {
  const std::uint8_t B[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  platform::TBytesStream S(B, sizeof B);
  TRvStreamReader R(S);
  EXPECT_EQ(R.U16LE(), 0x0201);
  EXPECT_EQ(R.U16BE(), 0x0304);
  EXPECT_EQ(R.U32LE(), 0x08070605u);
  EXPECT_EQ(R.U32BE(), 0x090A0B0Cu);
  EXPECT_FALSE(R.Short());
  EXPECT_TRUE(R.AtEnd());
}

TEST(TRvStreamReader, ShortReadZeroFillsAndIsSticky) {
  const std::uint8_t B[] = {1, 2, 3};
  platform::TBytesStream S(B, sizeof B);
  TRvStreamReader R(S);
  std::uint8_t Out[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_FALSE(R.Read(Out, 6));
  EXPECT_EQ(Out[2], 3);
  EXPECT_EQ(Out[3], 0);
  EXPECT_EQ(Out[5], 0);
  EXPECT_TRUE(R.Short());
  EXPECT_EQ(R.U32LE(), 0u);
  EXPECT_EQ(R.ReadByte(), -1);
}

TEST(TRvStreamReader, LimitBoundsReadsAndSeeks) {
  const std::uint8_t B[] = {1, 2, 3, 4, 5, 6, 7, 8};
  platform::TBytesStream S(B, sizeof B);
  S.SetPosition(2);
  {
    TRvStreamReader R(S, 3);
    EXPECT_EQ(R.Start(), 2);
    EXPECT_EQ(R.End(), 5);
    EXPECT_FALSE(R.Seek(6));
    EXPECT_FALSE(R.Seek(1));
    EXPECT_TRUE(R.Seek(4));
    EXPECT_EQ(R.ReadByte(), 5);
    EXPECT_EQ(R.ReadByte(), -1);
    EXPECT_TRUE(R.Seek(3));
  }
  // The stream is left where the reader stood.
  EXPECT_EQ(S.Position(), 3);
  TRvStreamReader Huge(S, 1000);
  EXPECT_EQ(Huge.End(), 8);
}

TEST(TRvStreamReader, LongReadsAcrossTheBuffer) {
  std::vector<std::uint8_t> B(100000);
  for (std::size_t I = 0; I < B.size(); ++I) B[I] = static_cast<std::uint8_t>(I % 251);
  platform::TBytesStream S(B.data(), static_cast<std::int64_t>(B.size()));
  TRvStreamReader R(S);
  R.Skip(10);
  std::vector<std::uint8_t> Out(50000);
  ASSERT_TRUE(R.Read(Out.data(), 50000));
  EXPECT_EQ(Out[49999], B[50009]);
  EXPECT_TRUE(R.Seek(99999));
  EXPECT_EQ(R.ReadByte(), B[99999]);
  EXPECT_FALSE(R.Skip(1));
}

TEST(TRvByteReader, BoundsAndShort) {
  const std::uint8_t B[] = {0xAA, 0xBB, 0xCC};
  TRvByteReader R(B, 3);
  EXPECT_EQ(R.U16BE(), 0xAABB);
  EXPECT_EQ(R.U16LE(), 0x00CC);
  EXPECT_TRUE(R.Short());
  EXPECT_FALSE(R.Seek(4));
  EXPECT_EQ(R.ReadByte(), -1);
}

TEST(RvSizes, CheckedArithmetic) {
  std::int64_t R;
  EXPECT_TRUE(RvSizeMul(1 << 20, 1 << 20, R));
  EXPECT_EQ(R, std::int64_t{1} << 40);
  EXPECT_FALSE(RvSizeMul(INT64_MAX / 2, 3, R));
  EXPECT_FALSE(RvSizeMul(-1, 3, R));
  EXPECT_FALSE(RvSizeAdd(INT64_MAX, 1, R));
  EXPECT_EQ(RvPackedRowBytes(9, 1), 2);
  EXPECT_EQ(RvPackedRowBytes(3, 24), 9);
  EXPECT_EQ(RvPackedRowBytes(INT64_MAX, 8), -1);
}

TEST(RvSizes, DataMustBeAbleToFillLargePicturesOnly) {
  EXPECT_EQ(rv::RvLeastStoredBytes(1000, 1, 1), 1000);
  EXPECT_EQ(rv::RvLeastStoredBytes(129, 128, 2), 3);
  EXPECT_EQ(rv::RvLeastStoredBytes(4096 * 8, 4096 * 8, 9), 9);
  EXPECT_EQ(rv::RvLeastStoredBytes(0, 63, 2), 0);
  EXPECT_EQ(rv::RvLeastStoredBytes(INT64_MAX, 1, 4), INT64_MAX);
  EXPECT_EQ(rv::RvLeastStoredBytes(INT64_MAX, 1032, 1), INT64_MAX / 1032 + 1);
  // 512 x 512 is as large as a picture may be without its data.
  EXPECT_TRUE(rv::RvDataCanFill(0, INT64_MAX, 512, 512));
  EXPECT_FALSE(rv::RvDataCanFill(100, 101, 512, 513));
  EXPECT_TRUE(rv::RvDataCanFill(101, 101, 512, 513));
  EXPECT_FALSE(rv::RvDataCanFill(-5, 1, 1 << 20, 1 << 20));
}

TEST(RvCaps, PixelAndAllocationCapsAreCheckedFirst) {
  const auto SavedPixels = RvMaxPixels();
  const auto SavedBytes = RvMaxAllocation();
  RvSetMaxPixels(100);
  RvSetMaxAllocation(1000);
  EXPECT_TRUE(RvPixelsAllowed(10, 10));
  EXPECT_FALSE(RvPixelsAllowed(10, 11));
  EXPECT_FALSE(RvPixelsAllowed(0, 5));
  TRvBitmap Bmp;
  EXPECT_FALSE(RvAllocateBitmap(Bmp, 11, 10, rvpf24Bit));
  EXPECT_EQ(Bmp.Width(), 0);
  EXPECT_TRUE(RvAllocateBitmap(Bmp, 10, 10, rvpf24Bit));
  EXPECT_EQ(Bmp.Scanline(9)[29], 0);
  TRvBuffer Buf;
  EXPECT_FALSE(Buf.Allocate(1001));
  EXPECT_FALSE(Buf.Allocate(-1));
  ASSERT_TRUE(Buf.Allocate(1000));
  EXPECT_EQ(Buf.Data()[999], 0);
  RvSetMaxPixels(SavedPixels);
  RvSetMaxAllocation(SavedBytes);
  EXPECT_FALSE(RvAllocateBitmap(Bmp, 70000, 70000, rvpf24Bit));
}

TEST(RvCaps, ARefusalForSizeIsNotedWithTheSize) {
  RvClearSizeRefusal();
  EXPECT_FALSE(RvPixelsAllowed(0, 5));
  EXPECT_FALSE(RvLastSizeRefusal().Refused) << "an empty size is bad data, not a large picture";
  EXPECT_TRUE(RvPixelsAllowed(100, 100));
  EXPECT_FALSE(RvLastSizeRefusal().Refused);
  TRvBitmap Bmp;
  EXPECT_FALSE(RvAllocateBitmap(Bmp, 70000, 70000, rvpf24Bit));
  TRvSizeRefusal Refusal = RvLastSizeRefusal();
  EXPECT_TRUE(Refusal.Refused);
  EXPECT_EQ(Refusal.Width, 70000);
  EXPECT_EQ(Refusal.Height, 70000);
  RvClearSizeRefusal();
  EXPECT_FALSE(RvLastSizeRefusal().Refused);
  // Another thread's refusal is its own.
  std::thread([] { RvPixelsAllowed(INT64_MAX, 2); }).join();
  EXPECT_FALSE(RvLastSizeRefusal().Refused);
}
