#include "shell/sxdictionary.h"

#include "shell/sxbase.h"

#include <set>

namespace sx {

namespace {

enum : std::int32_t { scBadSize = 53, scDuplicateNode = 54 };

// Buckets a stored table may ask for; the count comes from the stream.
constexpr std::int64_t kMaxStoredHashSize = 1 << 20;

std::string UpperText(const std::string& s) {
  std::string u = s;
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return u;
}

int CompareTextIgnoreCase(const std::string& a, const std::string& b) {
  const std::string ua = UpperText(a), ub = UpperText(b);
  return ua < ub ? -1 : (ua == ub ? 0 : 1);
}

// Class names the stream loader knows, beside the ones it accepts.
const std::set<std::string>& KnownContainerClasses() {
  static const std::set<std::string> names = {"TSxList", "TSxDQue", "TSxDictionary"};
  return names;
}

const std::set<std::string>& KnownNodeClasses() {
  static const std::set<std::string> names = {"TSxNode", "TSxListNode", "TSxDictNode"};
  return names;
}

const bool registered = [] {
  RegisterSxNodeClass(&TSxDictNode::Class);
  RegisterSxContainerClass("TSxDictionary");
  return true;
}();

} // namespace

const TSxNodeClass TSxDictNode::Class = {"TSxDictNode", &TSxNode::Class,
                                         [](void* data) -> TSxNode* { return new TSxDictNode({}, data); }};

std::int32_t HashText(const std::string& s, std::int32_t size) {
  // Unsigned, so that a key long enough to reach the top bit still gives a
  // bucket inside the table.
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const std::uint32_t c = static_cast<std::uint8_t>(s[i]);
    const unsigned r = i % 32;
    h ^= r == 0 ? c : ((c << r) | (c >> (32 - r)));
  }
  return size > 0 ? static_cast<std::int32_t>(h % static_cast<std::uint32_t>(size)) : 0;
}

TSxDictionary::TSxDictionary(std::int32_t hashSize) : TSxContainer(&TSxDictNode::Class) {
  (void)registered;
  Equal = CompareTextIgnoreCase;
  Hash = [](const std::string& key, std::int32_t size) { return HashText(UpperText(key), size); };
  if (hashSize < 1) RaiseSyContainerError(scBadSize);
  FBuckets.assign(static_cast<std::size_t>(hashSize), nullptr);
}

TSxDictionary::~TSxDictionary() { Clear(); }

std::int32_t TSxDictionary::BucketOf(const std::string& name) {
  const std::int32_t size = HashSize();
  // A hash routine of the caller's that strays outside the table must not
  // reach memory beyond it.
  const std::int32_t h = Hash(name, size) % size;
  return h < 0 ? h + size : h;
}

TSxDictNode* TSxDictionary::Find(const std::string& name, std::int32_t& bucket, TSxDictNode*& prev) {
  bucket = BucketOf(name);
  prev = nullptr;
  for (TSxDictNode* n = FBuckets[static_cast<std::size_t>(bucket)]; n; prev = n, n = n->FNext) {
    int result;
    if (OnEqual) OnEqual(this, n->Name, name, result);
    else result = Equal(n->Name, name);
    if (result == 0) return n;
  }
  return nullptr;
}

void TSxDictionary::Add(const std::string& name, void* data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  std::int32_t bucket;
  TSxDictNode* prev;
  if (Find(name, bucket, prev)) RaiseSyContainerError(scDuplicateNode);
  auto* node = new TSxDictNode(name, data);
  node->FNext = FBuckets[static_cast<std::size_t>(bucket)];
  FBuckets[static_cast<std::size_t>(bucket)] = node;
  ++FCount;
}

bool TSxDictionary::Exists(const std::string& name, void*& data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  std::int32_t bucket;
  TSxDictNode* prev;
  TSxDictNode* node = Find(name, bucket, prev);
  if (!node) return false;
  if (prev) {
    prev->FNext = node->FNext;
    node->FNext = FBuckets[static_cast<std::size_t>(bucket)];
    FBuckets[static_cast<std::size_t>(bucket)] = node;
  }
  data = node->Data;
  return true;
}

void TSxDictionary::Clear() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FCount == 0) return;
  for (TSxDictNode*& head : FBuckets) {
    TSxDictNode* n = head;
    head = nullptr;
    while (n) {
      TSxDictNode* next = n->FNext;
      void* data = n->Data;
      delete n;
      DoDisposeData(data);
      n = next;
    }
  }
  FCount = 0;
}

void TSxDictionary::ForEachPointer(const TSxIterateFunc& action, void* other) {
  Iterate([&](TSxContainer* c, TSxDictNode* n, void* o) { return action(c, n->Data, o); }, other);
}

TSxDictNode* TSxDictionary::Iterate(const TSxDictIterateFunc& action, void* other) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (TSxDictNode* head : FBuckets)
    for (TSxDictNode* n = head; n; n = n->FNext)
      if (!action(this, n, other)) return n;
  return nullptr;
}

void TSxDictionary::SetHashSize(std::int32_t size) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (size < 1) RaiseSyContainerError(scBadSize);
  if (size == HashSize()) return;
  std::vector<TSxDictNode*> old(static_cast<std::size_t>(size), nullptr);
  old.swap(FBuckets);
  // The nodes move over whole: their data stay theirs, nothing is disposed.
  for (TSxDictNode* n : old) {
    while (n) {
      TSxDictNode* next = n->FNext;
      const std::int32_t bucket = BucketOf(n->Name);
      n->FNext = FBuckets[static_cast<std::size_t>(bucket)];
      FBuckets[static_cast<std::size_t>(bucket)] = n;
      n = next;
    }
  }
}

void TSxDictionary::Assign(TSxDictionary& source) {
  if (&source == this) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  std::lock_guard<std::recursive_mutex> sourceGuard(source.FLock);
  Clear();
  SetHashSize(source.HashSize());
  for (TSxDictNode* head : source.FBuckets)
    for (TSxDictNode* n = head; n; n = n->FNext) Add(n->Name, n->Data);
}

void TSxDictionary::Assign(const TSxStringObjects& source) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  Clear();
  for (const auto& [name, data] : source) Add(name, data);
}

void TSxDictionary::StoreToStream(platform::TStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TSxWriter writer(stream);
  writer.WriteString(ClassName());
  writer.WriteString(FNodeClass->Name);
  writer.WriteInteger(HashSize());
  writer.WriteListBegin();
  for (TSxDictNode* head : FBuckets)
    for (TSxDictNode* n = head; n; n = n->FNext) {
      writer.WriteString(n->Name);
      DoStoreData(writer, n->Data);
    }
  writer.WriteListEnd();
}

void TSxDictionary::LoadFromStream(platform::TStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  Clear();
  TSxReader reader(stream);
  const std::string className = reader.ReadString();
  if (!KnownContainerClasses().count(className)) RaiseSyContainerErrorFmt(57, {className});
  if (className != ClassName()) RaiseSyContainerError(61);
  const std::string nodeName = reader.ReadString();
  if (!KnownNodeClasses().count(nodeName)) RaiseSyContainerErrorFmt(58, {nodeName});
  if (nodeName != FNodeClass->Name) RaiseSyContainerError(62);
  const std::int64_t size = reader.ReadInteger();
  if (size < 1 || size > kMaxStoredHashSize) RaiseSyContainerError(scBadSize);
  SetHashSize(static_cast<std::int32_t>(size));
  reader.ReadListBegin();
  while (!reader.EndOfList()) {
    const std::string name = reader.ReadString();
    void* data = DoLoadData(reader);
    try {
      Add(name, data);
    } catch (...) {
      DoDisposeData(data);
      throw;
    }
  }
  reader.ReadListEnd();
}

} // namespace sx
