#include "shell/sxidlist.h"

#include <gtest/gtest.h>

using namespace sx;

TEST(ItemIDList, ByteLayout) {
  const TSxItemIDList list({"//home", "a.jpg"});
  // 16-bit size counting itself, payload; then a zero size.
  const std::vector<std::uint8_t> expected = {8, 0, '/', '/', 'h', 'o', 'm', 'e',
                                              7, 0, 'a', '.', 'j', 'p', 'g', 0, 0};
  EXPECT_EQ(list.Bytes(), expected);
  EXPECT_EQ(ILGetSize(list), 17u);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_TRUE(TSxItemIDList().IsEmpty());
  EXPECT_EQ(TSxItemIDList().Bytes(), (std::vector<std::uint8_t>{0, 0}));
}

TEST(ItemIDList, RoundTripThroughBytes) {
  const TSxItemIDList list({"//computer", "/media/usb stick", "Photos", "\xC3\xA9t\xC3\xA9.png"});
  const auto back = TSxItemIDList::FromBytes(list.Bytes());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, list);
  EXPECT_EQ(back->Components(), list.Components());
  // Bytes after the terminator are not part of the list.
  std::vector<std::uint8_t> extra = list.Bytes();
  extra.push_back(0xAB);
  EXPECT_EQ(*TSxItemIDList::FromBytes(extra), list);
}

TEST(ItemIDList, MalformedBytesAreRefused) {
  // Size running past the end.
  EXPECT_FALSE(TSxItemIDList::FromBytes(std::vector<std::uint8_t>{9, 0, 'a', 0, 0}));
  // Size below the size field itself.
  EXPECT_FALSE(TSxItemIDList::FromBytes(std::vector<std::uint8_t>{1, 0, 0, 0}));
  // No terminator.
  EXPECT_FALSE(TSxItemIDList::FromBytes(std::vector<std::uint8_t>{3, 0, 'a'}));
  EXPECT_FALSE(TSxItemIDList::FromBytes(std::vector<std::uint8_t>{0}));
  EXPECT_FALSE(TSxItemIDList::FromBytes(nullptr, 0));
}

TEST(ItemIDList, OversizedPayloadIsRefused) {
  TSxItemIDList list;
  EXPECT_FALSE(list.AppendComponent(std::string(65534, 'x')));
  EXPECT_TRUE(list.AppendComponent(std::string(65533, 'x')));
  EXPECT_EQ(list.Size(), 65535u + 2u);
}

TEST(ItemIDList, ShellRoutines) {
  const TSxItemIDList list({"a", "b", "c"});
  EXPECT_EQ(ILCloneFirst(list), TSxItemIDList({"a"}));
  EXPECT_EQ(ILGetNext(list), TSxItemIDList({"b", "c"}));
  EXPECT_EQ(ILFindLastID(list), TSxItemIDList({"c"}));
  EXPECT_EQ(ILCombine(TSxItemIDList({"a"}), TSxItemIDList({"b", "c"})), list);
  EXPECT_EQ(GetParentItemID(list), TSxItemIDList({"b"}));
  TSxItemIDList copy = ILClone(list);
  EXPECT_TRUE(ILRemoveLastID(copy));
  EXPECT_EQ(copy, TSxItemIDList({"a", "b"}));
  TSxItemIDList empty;
  EXPECT_FALSE(ILRemoveLastID(empty));
  EXPECT_TRUE(ILIsEqual(list, TSxItemIDList({"a", "b", "c"})));
  EXPECT_EQ(TSxItemIDList({"a", "b"}).FirstPayload(), (std::vector<std::uint8_t>{'a'}));
}
