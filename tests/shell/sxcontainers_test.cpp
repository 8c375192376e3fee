#include "shell/sxbase.h"
#include "shell/sxcontainers.h"

#include <gtest/gtest.h>

using namespace sx;

namespace {

class TOtherNode : public TSxNode {
public:
  static const TSxNodeClass Class;
  using TSxNode::TSxNode;
  const TSxNodeClass& ClassType() const override { return Class; }
};
const TSxNodeClass TOtherNode::Class = {"TOtherNode", &TSxNode::Class,
                                        [](void* d) -> TSxNode* { return new TOtherNode(d); }};

void IntegerStorage(TSxContainer& c) {
  c.StoreData = [](const TSxContainer*, TSxWriter& w, void* d) {
    w.WriteInteger(*static_cast<std::int64_t*>(d));
  };
  c.LoadData = [](const TSxContainer*, TSxReader& r) -> void* { return new std::int64_t(r.ReadInteger()); };
  c.DisposeData = [](const TSxContainer*, void* d) { delete static_cast<std::int64_t*>(d); };
}

std::vector<std::int64_t> Values(TSxList& list) {
  std::vector<std::int64_t> out;
  list.ForEachPointer([&](TSxContainer*, void* d, void*) {
    out.push_back(*static_cast<std::int64_t*>(d));
    return true;
  }, nullptr);
  return out;
}

} // namespace

TEST(SxDQue, EmptyQueue) {
  TSxDQue q;
  void* data = reinterpret_cast<void*>(1);
  q.PeekHead(data);
  EXPECT_EQ(data, nullptr);
  q.PopHead();
  EXPECT_EQ(q.Count(), 0);
}

TEST(SxDQue, FirstInFirstOutWithDisposal) {
  TSxDQue q;
  int disposed = 0;
  q.DisposeData = [&](const TSxContainer*, void*) { ++disposed; };
  int a = 1, b = 2;
  q.Append(&a);
  q.Append(&b);
  void* head = nullptr;
  q.PeekHead(head);
  EXPECT_EQ(head, &a);
  q.PopHead();
  q.PeekHead(head);
  EXPECT_EQ(head, &b);
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(q.Count(), 1);
}

TEST(SxList, DeletingForeignNodeRaises52AndKeepsList) {
  TSxList list;
  int a = 1;
  list.Append(&a);
  TOtherNode other(&a);
  try {
    list.Delete(&other);
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 52);
  }
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Head()->Data, &a);
}

TEST(SxList, DeleteMiddleAndIterateBothWays) {
  TSxList list;
  int v[3] = {0, 1, 2};
  list.Append(&v[0]);
  TSxListNode* mid = list.Append(&v[1]);
  list.Append(&v[2]);
  list.Delete(mid);
  EXPECT_EQ(list.Count(), 2);
  std::vector<int> backward;
  EXPECT_EQ(list.Iterate([&](TSxContainer*, void* d, void*) {
    backward.push_back(*static_cast<int*>(d));
    return true;
  }, false, nullptr), nullptr);
  EXPECT_EQ(backward, (std::vector<int>{2, 0}));
  TSxListNode* stop = list.Iterate([](TSxContainer*, void* d, void*) { return *static_cast<int*>(d) != 2; },
                                   true, nullptr);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->Data, &v[2]);
}

TEST(SxList, CompareWithoutRoutineRaises51) {
  TSxList list;
  try {
    list.DoCompare(nullptr, nullptr);
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 51);
  }
}

TEST(SxList, StoreAndLoadRoundTrip) {
  TSxList list;
  IntegerStorage(list);
  for (std::int64_t v : {5LL, -300LL, 70000LL, 1LL << 40}) list.Append(new std::int64_t(v));
  platform::TMemoryStream stream;
  list.StoreToStream(stream);
  stream.SetPosition(0);
  TSxList loaded;
  IntegerStorage(loaded);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(Values(loaded), (std::vector<std::int64_t>{5, -300, 70000, 1LL << 40}));
}

TEST(SxList, LoadChecksClassNames) {
  TSxList list;
  IntegerStorage(list);
  platform::TMemoryStream stream;
  list.StoreToStream(stream);

  stream.SetPosition(0);
  TSxDQue queue;
  IntegerStorage(queue);
  try {
    queue.LoadFromStream(stream);
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 61);
  }

  platform::TMemoryStream unknown;
  TSxWriter w(unknown);
  w.WriteString("TNoSuchList");
  unknown.SetPosition(0);
  try {
    list.LoadFromStream(unknown);
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 57);
    EXPECT_STREQ(e.what(), "Container class name TNoSuchList read from stream is unregistered");
  }

  platform::TMemoryStream badNode;
  TSxWriter w2(badNode);
  w2.WriteString("TSxList");
  w2.WriteString("TSxNode");
  badNode.SetPosition(0);
  try {
    list.LoadFromStream(badNode);
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 62);
  }
}

TEST(SxList, StoreWithoutRoutineRaises59AndAssignCopies) {
  TSxList a;
  int x = 1;
  a.Append(&x);
  platform::TMemoryStream s;
  try {
    a.StoreToStream(s);
    FAIL();
  } catch (const ESyContainerError& e) {
    EXPECT_EQ(e.ErrorCode, 59);
  }
  TSxDQue b;
  b.Assign(a);
  ASSERT_EQ(b.Count(), 1);
  EXPECT_EQ(b.Head()->Data, &x);
}

TEST(SxReader, StringLengthBeyondStreamIsRefused) {
  const std::uint8_t bytes[] = {12, 0xFF, 0xFF, 0xFF, 0x7F, 'a'};
  platform::TBytesStream s(bytes, sizeof bytes);
  TSxReader r(s);
  EXPECT_THROW(r.ReadString(), platform::EStreamError);
}
