#include "shell/sxbase.h"
#include "shell/sxcontainers.h"
#include "shell/sxdictionary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace sx;

namespace {

void* V(std::intptr_t v) { return reinterpret_cast<void*>(v); }

template <class F>
std::int32_t CodeOf(F f) {
  try {
    f();
  } catch (const ESyContainerError& e) {
    return e.ErrorCode;
  }
  return 0;
}

std::vector<std::string> Chain(const TSxDictionary& d, std::int32_t bucket) {
  std::vector<std::string> names;
  for (TSxDictNode* n = d.Bucket(bucket); n; n = n->Next()) names.push_back(n->Name);
  return names;
}

void IntegerStorage(TSxContainer& c) {
  c.StoreData = [](const TSxContainer*, TSxWriter& w, void* d) { w.WriteInteger(reinterpret_cast<std::intptr_t>(d)); };
  c.LoadData = [](const TSxContainer*, TSxReader& r) -> void* { return V(static_cast<std::intptr_t>(r.ReadInteger())); };
}

} // namespace

TEST(SxDictionary, HashTextWorkedValues) {
  // 'A' (65) xor ('B' (66) rotated left by 1 = 132) = 197.
  EXPECT_EQ(HashText("AB", 250), 197);
  EXPECT_EQ(HashText("", 7), 0);
  // Byte 25 rotated by 25 sets the top bit: 0x82000000 = 2181038080.
  EXPECT_EQ(HashText(std::string(25, '\0') + "A", 1000), 80);
  // Rotation wraps at 32: byte 33 rotates by 1 again.
  EXPECT_EQ(HashText(std::string(33, '\0') + "B", 1000), 132);
}

TEST(SxDictionary, KeysDifferingInCaseAreOneKey) {
  TSxDictionary d(250);
  d.Add(".jpg", V(1));
  void* data = nullptr;
  ASSERT_TRUE(d.Exists(".JPG", data));
  EXPECT_EQ(data, V(1));
  EXPECT_FALSE(d.Exists(".jpeg", data));
  EXPECT_EQ(CodeOf([&] { d.Add(".Jpg", V(2)); }), 54);
  EXPECT_EQ(d.Count(), 1);
  ASSERT_TRUE(d.Exists(".jpg", data));
  EXPECT_EQ(data, V(1));
  EXPECT_EQ(d.Bucket(HashText(".JPG", 250))->Name, ".jpg");
}

TEST(SxDictionary, BadSizesRaise53) {
  EXPECT_EQ(CodeOf([] { TSxDictionary d(0); }), 53);
  TSxDictionary d(5);
  EXPECT_EQ(CodeOf([&] { d.SetHashSize(0); }), 53);
  EXPECT_EQ(CodeOf([&] { d.SetHashSize(-3); }), 53);
  EXPECT_EQ(d.HashSize(), 5);
}

TEST(SxDictionary, FoundKeyMovesToFrontOfItsChain) {
  TSxDictionary d(1);
  d.Add("a", V(1));
  d.Add("b", V(2));
  d.Add("c", V(3));
  EXPECT_EQ(Chain(d, 0), (std::vector<std::string>{"c", "b", "a"}));
  void* data;
  ASSERT_TRUE(d.Exists("A", data));
  EXPECT_EQ(Chain(d, 0), (std::vector<std::string>{"a", "c", "b"}));
  ASSERT_TRUE(d.Exists("b", data));
  EXPECT_EQ(Chain(d, 0), (std::vector<std::string>{"b", "a", "c"}));
}

TEST(SxDictionary, GrowingTheTableKeepsEveryEntryAndDisposesNothing) {
  TSxDictionary d(1);
  int disposed = 0;
  d.DisposeData = [&](const TSxContainer*, void*) { ++disposed; };
  for (int i = 0; i < 100; ++i) d.Add("key" + std::to_string(i), V(i + 1));
  d.SetHashSize(251);
  EXPECT_EQ(disposed, 0);
  EXPECT_EQ(d.Count(), 100);
  EXPECT_EQ(d.HashSize(), 251);
  for (int i = 0; i < 100; ++i) {
    const std::string key = "KEY" + std::to_string(i);
    void* data = nullptr;
    ASSERT_TRUE(d.Exists(key, data)) << key;
    EXPECT_EQ(data, V(i + 1));
    EXPECT_EQ(d.Bucket(HashText(key, 251))->Name, "key" + std::to_string(i));
  }
  d.Clear();
  EXPECT_EQ(disposed, 100);
  EXPECT_EQ(d.Count(), 0);
}

TEST(SxDictionary, EqualEventAndIterate) {
  TSxDictionary d(7);
  // Keys equal when their first letters are.
  d.OnEqual = [](TSxContainer*, const std::string& a, const std::string& b, int& result) {
    result = (!a.empty() && !b.empty() && a[0] == b[0]) ? 0 : 1;
  };
  d.Hash = [](const std::string&, std::int32_t) { return -12; };
  d.Add("apple", V(1));
  d.Add("banana", V(2));
  EXPECT_EQ(CodeOf([&] { d.Add("avocado", V(3)); }), 54);
  void* data;
  ASSERT_TRUE(d.Exists("brown", data));
  EXPECT_EQ(data, V(2));
  int visited = 0;
  TSxDictNode* stop = d.Iterate([&](TSxContainer*, TSxDictNode* n, void*) { ++visited; return n->Name != "apple"; }, nullptr);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->Name, "apple");
  EXPECT_EQ(d.Iterate([](TSxContainer*, TSxDictNode*, void*) { return true; }, nullptr), nullptr);
}

TEST(SxDictionary, AssignFromStringsAndFromDictionary) {
  TSxDictionary d(3);
  d.Assign(TSxStringObjects{{"one", V(1)}, {"two", V(2)}});
  TSxDictionary copy(11);
  copy.Add("old", V(9));
  copy.Assign(d);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.HashSize(), 3);
  void* data;
  EXPECT_FALSE(copy.Exists("old", data));
  ASSERT_TRUE(copy.Exists("TWO", data));
  EXPECT_EQ(data, V(2));
}

TEST(SxDictionary, StoredTableLoadsBack) {
  TSxDictionary d(13);
  IntegerStorage(d);
  for (int i = 0; i < 20; ++i) d.Add("k" + std::to_string(i), V(i * 7));
  platform::TMemoryStream m;
  d.StoreToStream(m);
  TSxDictionary back(2);
  IntegerStorage(back);
  m.SetPosition(0);
  back.LoadFromStream(m);
  EXPECT_EQ(back.HashSize(), 13);
  EXPECT_EQ(back.Count(), 20);
  for (int i = 0; i < 20; ++i) {
    void* data = nullptr;
    ASSERT_TRUE(back.Exists("K" + std::to_string(i), data));
    EXPECT_EQ(data, V(i * 7));
  }
}

TEST(SxDictionary, ForeignOrDamagedStreamsAreRefused) {
  TSxDictionary d(5);
  IntegerStorage(d);
  auto load = [&](const std::string& cls, const std::string& node, std::int64_t size) {
    platform::TMemoryStream m;
    TSxWriter w(m);
    w.WriteString(cls);
    w.WriteString(node);
    w.WriteInteger(size);
    w.WriteListBegin();
    w.WriteListEnd();
    m.SetPosition(0);
    return CodeOf([&] { d.LoadFromStream(m); });
  };
  EXPECT_EQ(load("TNoSuchThing", "TSxDictNode", 5), 57);
  EXPECT_EQ(load("TSxList", "TSxDictNode", 5), 61);
  EXPECT_EQ(load("TSxDictionary", "TNoSuchNode", 5), 58);
  EXPECT_EQ(load("TSxDictionary", "TSxListNode", 5), 62);
  EXPECT_EQ(load("TSxDictionary", "TSxDictNode", 0), 53);
  // A bucket count from the stream is not trusted with memory.
  EXPECT_EQ(load("TSxDictionary", "TSxDictNode", std::int64_t(1) << 31), 53);
  EXPECT_EQ(load("TSxDictionary", "TSxDictNode", 9), 0);
  EXPECT_EQ(d.HashSize(), 9);
  // A list refuses a stored dictionary by class.
  platform::TMemoryStream m;
  d.StoreToStream(m);
  m.SetPosition(0);
  TSxList list;
  EXPECT_EQ(CodeOf([&] { list.LoadFromStream(m); }), 61);
}
