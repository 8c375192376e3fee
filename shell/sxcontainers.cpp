#include "shell/sxcontainers.h"

#include "shell/sxbase.h"

#include <map>
#include <set>
#include <stdexcept>

namespace sx {

namespace {

// Value kinds of the class library's stream encoding.
enum : std::uint8_t {
  vaNull = 0, vaList = 1, vaInt8 = 2, vaInt16 = 3, vaInt32 = 4, vaString = 6,
  vaLString = 12, vaInt64 = 19
};

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::map<std::string, const TSxNodeClass*>& NodeClasses() {
  static std::map<std::string, const TSxNodeClass*> classes = {
      {TSxNode::Class.Name, &TSxNode::Class}, {TSxListNode::Class.Name, &TSxListNode::Class}};
  return classes;
}

// Container classes by name, with whether each is a list.
std::map<std::string, bool>& ContainerClasses() {
  static std::map<std::string, bool> classes = {{"TSxList", true}, {"TSxDQue", true}};
  return classes;
}

} // namespace

const TSxNodeClass TSxNode::Class = {"TSxNode", nullptr,
                                     [](void* data) -> TSxNode* { return new TSxNode(data); }};
const TSxNodeClass TSxListNode::Class = {"TSxListNode", &TSxNode::Class,
                                         [](void* data) -> TSxNode* { return new TSxListNode(data); }};

bool TSxNodeClass::InheritsFrom(const TSxNodeClass* other) const {
  for (const TSxNodeClass* c = this; c; c = c->Parent)
    if (c == other) return true;
  return false;
}

void RegisterSxNodeClass(const TSxNodeClass* nodeClass) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  NodeClasses()[nodeClass->Name] = nodeClass;
}

void RegisterSxContainerClass(const std::string& name) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  ContainerClasses().emplace(name, false);
}

// ---------------------------------------------------------------- filer

void TSxWriter::WriteByte(std::uint8_t b) { FStream.WriteBuffer(&b, 1); }

void TSxWriter::WriteString(const std::string& s) {
  if (s.size() <= 255) {
    WriteByte(vaString);
    WriteByte(static_cast<std::uint8_t>(s.size()));
  } else {
    WriteByte(vaLString);
    const std::uint32_t n = static_cast<std::uint32_t>(s.size());
    const std::uint8_t le[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    FStream.WriteBuffer(le, 4);
  }
  FStream.WriteBuffer(s.data(), static_cast<std::int64_t>(s.size()));
}

void TSxWriter::WriteInteger(std::int64_t v) {
  std::uint8_t kind;
  int bytes;
  if (v >= INT8_MIN && v <= INT8_MAX) kind = vaInt8, bytes = 1;
  else if (v >= INT16_MIN && v <= INT16_MAX) kind = vaInt16, bytes = 2;
  else if (v >= INT32_MIN && v <= INT32_MAX) kind = vaInt32, bytes = 4;
  else kind = vaInt64, bytes = 8;
  WriteByte(kind);
  const std::uint64_t u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < bytes; ++i) WriteByte(static_cast<std::uint8_t>(u >> (8 * i)));
}

void TSxWriter::WriteListBegin() { WriteByte(vaList); }
void TSxWriter::WriteListEnd() { WriteByte(vaNull); }

std::uint8_t TSxReader::ReadByte() {
  std::uint8_t b = 0;
  FStream.ReadBuffer(&b, 1);
  return b;
}

std::uint8_t TSxReader::PeekByte() {
  const std::uint8_t b = ReadByte();
  FStream.Seek(-1, platform::soCurrent);
  return b;
}

std::string TSxReader::ReadString() {
  const std::uint8_t kind = ReadByte();
  std::uint32_t n;
  if (kind == vaString) {
    n = ReadByte();
  } else if (kind == vaLString) {
    std::uint8_t le[4];
    FStream.ReadBuffer(le, 4);
    n = le[0] | (le[1] << 8) | (le[2] << 16) | (static_cast<std::uint32_t>(le[3]) << 24);
  } else {
    throw platform::EStreamError("Invalid property value");
  }
  // The length comes from the stream: check it against what the stream holds.
  if (n > FStream.Size() - FStream.Position()) throw platform::EStreamError("Stream read error");
  std::string s(n, '\0');
  FStream.ReadBuffer(s.data(), n);
  return s;
}

std::int64_t TSxReader::ReadInteger() {
  const std::uint8_t kind = ReadByte();
  int bytes;
  switch (kind) {
  case vaInt8: bytes = 1; break;
  case vaInt16: bytes = 2; break;
  case vaInt32: bytes = 4; break;
  case vaInt64: bytes = 8; break;
  default: throw platform::EStreamError("Invalid property value");
  }
  std::uint64_t u = 0;
  for (int i = 0; i < bytes; ++i) u |= static_cast<std::uint64_t>(ReadByte()) << (8 * i);
  if (bytes < 8) {
    const std::uint64_t sign = std::uint64_t(1) << (8 * bytes - 1);
    u = (u ^ sign) - sign;
  }
  return static_cast<std::int64_t>(u);
}

void TSxReader::ReadListBegin() {
  if (ReadByte() != vaList) throw platform::EStreamError("Invalid property value");
}

void TSxReader::ReadListEnd() {
  if (ReadByte() != vaNull) throw platform::EStreamError("Invalid property value");
}

bool TSxReader::EndOfList() { return PeekByte() == vaNull; }

// ---------------------------------------------------------------- container

TSxContainer::TSxContainer(const TSxNodeClass* nodeClass)
    : Compare([](const TSxContainer*, const void*, const void*) -> int { RaiseSyCompareError(); }),
      FNodeClass(nodeClass) {}

int TSxContainer::DoCompare(const void* data1, const void* data2) {
  if (OnCompare) return OnCompare(this, data1, data2);
  return Compare(this, data1, data2);
}

void TSxContainer::DoDisposeData(void* data) {
  if (OnDisposeData) OnDisposeData(this, data);
  else if (DisposeData) DisposeData(this, data);
}

void* TSxContainer::DoLoadData(TSxReader& reader) {
  if (OnLoadData) return OnLoadData(this, reader);
  if (LoadData) return LoadData(this, reader);
  RaiseSyContainerError(scLoadDataUnassigned);
}

void TSxContainer::DoStoreData(TSxWriter& writer, void* data) {
  if (OnStoreData) OnStoreData(this, writer, data);
  else if (StoreData) StoreData(this, writer, data);
  else RaiseSyContainerError(scStoreDataUnassigned);
}

void TSxContainer::LoadFromFile(const std::string& name) {
  platform::TFileStream stream(name, platform::fmOpenRead);
  LoadFromStream(stream);
}

void TSxContainer::StoreToFile(const std::string& name) {
  platform::TFileStream stream(name, platform::fmCreate);
  StoreToStream(stream);
}

// ---------------------------------------------------------------- list

TSxList::TSxList(const TSxNodeClass* nodeClass) : TSxContainer(nodeClass) { Clear(); }

TSxList::~TSxList() { Clear(); }

TSxListNode* TSxList::Append(void* data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  auto* node = static_cast<TSxListNode*>(FNodeClass->Create(data));
  node->FPrev = FTail;
  if (FTail) FTail->FNext = node;
  else FHead = node;
  FTail = node;
  ++FCount;
  return node;
}

void TSxList::Delete(TSxNode* node) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!node || FCount == 0) return;
  if (!node->ClassType().InheritsFrom(FNodeClass)) RaiseSyContainerError(scBadClass);
  auto* n = static_cast<TSxListNode*>(node);
  if (n->FPrev) n->FPrev->FNext = n->FNext;
  else FHead = n->FNext;
  if (n->FNext) n->FNext->FPrev = n->FPrev;
  else FTail = n->FPrev;
  --FCount;
  FCacheIndex = -1;
  FCacheNode = nullptr;
  void* data = n->Data;
  delete n;
  DoDisposeData(data);
}

void TSxList::Clear() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TSxListNode* n = FHead;
  FHead = FTail = nullptr;
  FCount = 0;
  FCacheIndex = -1;
  FCacheNode = nullptr;
  while (n) {
    TSxListNode* next = n->FNext;
    void* data = n->Data;
    delete n;
    DoDisposeData(data);
    n = next;
  }
}

void TSxList::ForEachPointer(const TSxIterateFunc& action, void* other) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (TSxListNode* n = FHead; n; n = n->FNext)
    if (!action(this, n->Data, other)) break;
}

TSxListNode* TSxList::Iterate(const TSxIterateFunc& action, bool forward, void* other) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (TSxListNode* n = forward ? FHead : FTail; n; n = forward ? n->FNext : n->FPrev)
    if (!action(this, n->Data, other)) return n;
  return nullptr;
}

TSxListNode* TSxList::Next(TSxListNode* node) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return node ? node->FNext : nullptr;
}

void TSxList::Assign(TSxContainer& source) {
  if (!source.IsList()) throw std::invalid_argument("Cannot assign a " + source.ClassName() + " to a " + ClassName());
  std::lock_guard<std::recursive_mutex> guard(FLock);
  Clear();
  auto& list = static_cast<TSxList&>(source);
  std::lock_guard<std::recursive_mutex> sourceGuard(list.FLock);
  for (TSxListNode* n = list.FHead; n; n = n->FNext) Append(n->Data);
}

void TSxList::StoreToStream(platform::TStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TSxWriter writer(stream);
  writer.WriteString(ClassName());
  writer.WriteString(FNodeClass->Name);
  writer.WriteListBegin();
  for (TSxListNode* n = FHead; n; n = n->FNext) DoStoreData(writer, n->Data);
  writer.WriteListEnd();
}

void TSxList::LoadFromStream(platform::TStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  Clear();
  TSxReader reader(stream);
  const std::string className = reader.ReadString();
  {
    std::lock_guard<std::mutex> registry(RegistryLock());
    const auto c = ContainerClasses().find(className);
    if (c == ContainerClasses().end()) RaiseSyContainerErrorFmt(scContainerClassUnregistered, {className});
    if (className != ClassName() || !c->second) RaiseSyContainerError(scClassNameDiffers);
  }
  const std::string nodeName = reader.ReadString();
  {
    std::lock_guard<std::mutex> registry(RegistryLock());
    const auto c = NodeClasses().find(nodeName);
    if (c == NodeClasses().end()) RaiseSyContainerErrorFmt(scNodeClassUnregistered, {nodeName});
    if (c->second != FNodeClass || !c->second->InheritsFrom(&TSxListNode::Class))
      RaiseSyContainerError(scNodeClassNameDiffers);
  }
  reader.ReadListBegin();
  while (!reader.EndOfList()) Append(DoLoadData(reader));
  reader.ReadListEnd();
}

// ---------------------------------------------------------------- queue

void TSxDQue::PeekHead(void*& data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  data = FHead ? FHead->Data : nullptr;
}

void TSxDQue::PopHead() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FHead) Delete(FHead);
}

} // namespace sx
