#include "image/model/rvthumbstore.h"

#include <gtest/gtest.h>

#include <cstring>

#include "image/model/rvdib.h"
#include "support/filesizelimit.h"

namespace {

using namespace rv;
using testing_support::TFileSizeLimit;

TEST(ThumbStore, BlocksAreWholeMultiplesOf64K) {
  TRvVirtualDIBList store;
  TRvDIBHandle a = store.AddBlankImage(100, 100, 24);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->DataSize, 48u + 100u * 300u); // 30048
  EXPECT_EQ(a->BlockSize, 65536u);
  EXPECT_EQ(a->Offset, 0u);
  TRvDIBHandle b = store.AddBlankImage(256, 256, 24);
  EXPECT_EQ(b->DataSize, 196656u);
  EXPECT_EQ(b->BlockSize, 262144u);
  EXPECT_EQ(b->Offset, 65536u);
  EXPECT_EQ(store.Frontier(), 65536u + 262144u);
  EXPECT_GE(store.FileSize(), store.Frontier());
  EXPECT_EQ(store.GrowBy(), 65536u + 262144u); // last block + this one
  EXPECT_EQ(store.GetFullWidth(b), 256);
}

TEST(ThumbStore, HeaderIsABottomUpDibWithBlackAndWhite) {
  TRvVirtualDIBList store;
  TRvDIBHandle h = store.AddBlankImage(33, 7, 1);
  const platform::TBitmapInfo* info = store.ImageBitmapInfo(h);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->bmiHeader.biSize, 40u);
  EXPECT_EQ(info->bmiHeader.biWidth, 33);
  EXPECT_EQ(info->bmiHeader.biHeight, 7);
  EXPECT_EQ(info->bmiHeader.biPlanes, 1);
  EXPECT_EQ(info->bmiHeader.biBitCount, 1);
  EXPECT_EQ(info->bmiColors[0].rgbRed, 0);
  EXPECT_EQ(info->bmiColors[1].rgbRed, 255);
  EXPECT_EQ(h->DataSize, 48u + 7u * 8u);
  EXPECT_EQ(store.ImagePixels(h), h->View + 48);
}

TEST(ThumbStore, LeastRecentlyUsedBlockIsUnmappedFirst) {
  TRvVirtualDIBList store;
  std::vector<TRvDIBHandle> handles;
  for (int i = 0; i < 11; ++i) handles.push_back(store.AddBlankImage(10, 10, 24));
  // Each growth of the file dropped the views; touch them all in order.
  for (TRvDIBHandle h : handles) EXPECT_EQ(store.ImageWidth(h), 10);
  EXPECT_EQ(store.MappedCount(), 10);
  EXPECT_EQ(handles[0]->View, nullptr);
  EXPECT_NE(handles[10]->View, nullptr);
  store.ImageWidth(handles[0]); // maps it again, dropping the oldest
  EXPECT_NE(handles[0]->View, nullptr);
  EXPECT_EQ(handles[1]->View, nullptr);
  EXPECT_EQ(store.MappedCount(), 10);
}

TEST(ThumbStore, RowsRoundTripThroughTheLentBitmap) {
  TRvVirtualDIBList store;
  TRvDibbitmap dib;
  ASSERT_TRUE(dib.AllocateDIB(5, 3, 24));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 15; ++x) dib.Scanline(y)[x] = std::uint8_t(y * 16 + x);
  TRvDIBHandle h = store.AddBitmap(&dib);
  ASSERT_NE(h, nullptr);
  // Block row 0 is the picture's bottom row.
  EXPECT_EQ(h->View[48], 2 * 16);
  platform::TBitmap* b = store.GetBitmap(h);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(store.GetBitmap(h), b); // the same bitmap while lent
  EXPECT_EQ(h->Cached, 1);
  EXPECT_EQ(b->ScanLine(1)[4], 16 + 4);
  EXPECT_EQ(store.ImageBitmapInfo(h)->bmiHeader.biHeight, -3); // lent: top-down
  b->ScanLine(0)[0] = 99;
  store.ReleaseBitmap(b, true);
  EXPECT_EQ(h->Cached, 1); // still lent once
  EXPECT_EQ(h->View[48 + 2 * 16], 99);
  store.ReleaseBitmap(b, false);
  EXPECT_EQ(h->Cached, 0);
  EXPECT_EQ(store.ImageHeight(h), 3);
}

TEST(ThumbStore, WriteBackOfAnotherSizeMovesToANewBlock) {
  TRvVirtualDIBList store;
  TRvDIBHandle h = store.AddBlankImage(10, 10, 24);
  store.SetFullWidth(h, 4000);
  platform::TBitmap* b = store.GetBitmap(h);
  b->SetSize(300, 300);
  store.ReleaseBitmap(b, true);
  EXPECT_EQ(store.ImageWidth(h), 300);
  EXPECT_EQ(h->BlockSize, 327680u);
  EXPECT_EQ(store.GetFullWidth(h), 4000);
  TRvDIBHandle small = store.AddBlankImage(20, 20, 24); // reuses the first block
  EXPECT_EQ(small->Offset, 0u);
}

TEST(ThumbStore, FreedBlocksAreReusedAndTheLastDeleteShrinksTheFile) {
  TRvVirtualDIBList store;
  TRvDIBHandle a = store.AddBlankImage(256, 256, 24);
  TRvDIBHandle b = store.AddBlankImage(10, 10, 24);
  const std::uint64_t aOffset = a->Offset;
  store.Delete(a);
  TRvDIBHandle c = store.AddBlankImage(100, 100, 24); // smaller: fits a's block
  EXPECT_EQ(c->Offset, aOffset);
  store.Delete(b);
  store.Delete(c);
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.FileSize(), store.GrowBy());
  TRvDIBHandle d = store.AddBlankImage(10, 10, 8);
  EXPECT_EQ(d->Offset, 0u);
  EXPECT_NE(d->View, nullptr);
}

TEST(ThumbStore, GrowingTheFileForgetsEveryView) {
  TRvVirtualDIBList store;
  TRvDIBHandle a = store.AddBlankImage(10, 10, 24);
  ASSERT_NE(a->View, nullptr);
  store.Reserve(100, 100, 4, 24);
  EXPECT_EQ(a->View, nullptr); // its old address is gone with the mapping
  EXPECT_EQ(store.MappedCount(), 0);
  EXPECT_EQ(store.ImageWidth(a), 10);
  store.Clear();
  TRvDIBHandle b = store.AddBlankImage(10, 10, 24); // after Clear the file comes back
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b->View, nullptr);
}

void FillDib(TRvDibbitmap& Dib, std::uint8_t Value) {
  ASSERT_TRUE(Dib.AllocateDIB(100, 100, 24));
  for (int y = 0; y < 100; ++y) std::memset(Dib.Scanline(y), Value, 300);
}

TEST(ThumbStore, AFileThatCannotGrowRefusesThePictureAndTriesAgainLater) {
  TRvVirtualDIBList store;
  TRvDibbitmap first, second;
  FillDib(first, 0x11);
  FillDib(second, 0x22);
  TRvDIBHandle a = store.AddBitmap(&first); // fills the first 64 KB exactly
  ASSERT_NE(a, nullptr);
  const std::uint64_t grown = store.FileSize();
  {
    TFileSizeLimit limit(grown);
    // No block could be had: no handle whose pixels were never written.
    EXPECT_EQ(store.AddBitmap(&second), nullptr);
    EXPECT_EQ(store.Count(), 1);
  }
  // The next picture grows the file and gets a block of its own, not one
  // past the end or a share of the first picture's.
  TRvDIBHandle b = store.AddBitmap(&second);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(b->View, nullptr);
  EXPECT_EQ(b->Offset, 65536u);
  EXPECT_EQ(store.ImageWidth(a), 100);
  EXPECT_EQ(store.ImagePixels(a)[0], 0x11);
  EXPECT_EQ(store.ImageWidth(b), 100);
  EXPECT_EQ(store.ImagePixels(b)[0], 0x22);
  EXPECT_GE(store.FileSize(), store.Frontier());
}

TEST(ThumbStore, AWriteBackThatFindsNoBlockKeepsTheOldPicture) {
  TRvVirtualDIBList store;
  TRvDibbitmap dib;
  FillDib(dib, 0x33);
  TRvDIBHandle h = store.AddBitmap(&dib);
  ASSERT_NE(h, nullptr);
  store.SetFullWidth(h, 4000);
  platform::TBitmap* b = store.GetBitmap(h);
  b->SetSize(300, 300);
  {
    TFileSizeLimit limit(store.FileSize());
    store.ReleaseBitmap(b, true);
  }
  EXPECT_EQ(h->Offset, 0u);
  EXPECT_EQ(store.ImageWidth(h), 100);
  EXPECT_EQ(store.ImagePixels(h)[0], 0x33);
  EXPECT_EQ(store.GetFullWidth(h), 4000);
}

TEST(ThumbStore, SizesThatDoNotFitAreRefused) {
  TRvVirtualDIBList store;
  EXPECT_EQ(store.AddBlankImage(0, 10, 24), nullptr);
  EXPECT_EQ(store.AddBlankImage(100000, 100000, 24), nullptr);
  EXPECT_EQ(store.Count(), 0);
}

} // namespace
