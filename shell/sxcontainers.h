// The shell library's containers: a node and container base whose data
// routines and lock every container shares, a doubly linked list and a
// double-ended queue on top of it. A container may be shared between threads:
// every public operation holds its lock (re-entrant on one thread).
#pragma once

#include "platform/stream.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace sx {

// The class library's value-stream writer and reader, as far as stored
// containers need them.
class TSxWriter {
public:
  explicit TSxWriter(platform::TStream& stream) : FStream(stream) {}
  void WriteString(const std::string& s);
  void WriteInteger(std::int64_t v);
  void WriteListBegin();
  void WriteListEnd();

private:
  void WriteByte(std::uint8_t b);
  platform::TStream& FStream;
};

class TSxReader {
public:
  explicit TSxReader(platform::TStream& stream) : FStream(stream) {}
  // Each raises platform::EStreamError on a value of another kind or on
  // missing bytes.
  std::string ReadString();
  std::int64_t ReadInteger();
  void ReadListBegin();
  void ReadListEnd();
  bool EndOfList();

private:
  std::uint8_t ReadByte();
  std::uint8_t PeekByte();
  platform::TStream& FStream;
};

class TSxNode;

// A node class: its name, its base, and how to make one.
struct TSxNodeClass {
  const char* Name;
  const TSxNodeClass* Parent;
  TSxNode* (*Create)(void* data);
  bool InheritsFrom(const TSxNodeClass* other) const;
};

class TSxNode {
public:
  static const TSxNodeClass Class;
  explicit TSxNode(void* data) : Data(data) {}
  virtual ~TSxNode() = default;
  virtual const TSxNodeClass& ClassType() const { return Class; }
  void* Data;
};

class TSxListNode : public TSxNode {
public:
  static const TSxNodeClass Class;
  explicit TSxListNode(void* data) : TSxNode(data) {}
  const TSxNodeClass& ClassType() const override { return Class; }

private:
  friend class TSxList;
  TSxListNode* FNext = nullptr;
  TSxListNode* FPrev = nullptr;
};

// Makes a node or container class known to the stream loader by its name.
void RegisterSxNodeClass(const TSxNodeClass* nodeClass);
void RegisterSxContainerClass(const std::string& name);

class TSxContainer;

using TSxCompareFunc = std::function<int(const TSxContainer*, const void*, const void*)>;
using TSxDisposeDataFunc = std::function<void(const TSxContainer*, void*)>;
using TSxLoadDataFunc = std::function<void*(const TSxContainer*, TSxReader&)>;
using TSxStoreDataFunc = std::function<void(const TSxContainer*, TSxWriter&, void*)>;
using TSxIterateFunc = std::function<bool(TSxContainer*, void*, void*)>;

class TSxContainer {
public:
  explicit TSxContainer(const TSxNodeClass* nodeClass);
  virtual ~TSxContainer() = default;
  TSxContainer(const TSxContainer&) = delete;
  TSxContainer& operator=(const TSxContainer&) = delete;

  virtual std::string ClassName() const { return "TSxContainer"; }
  // Calls action for each datum until it answers false.
  virtual void ForEachPointer(const TSxIterateFunc& action, void* other) {}
  virtual bool IsList() const { return false; }
  virtual void Clear() = 0;
  virtual int DoCompare(const void* data1, const void* data2);
  virtual void DoDisposeData(void* data);
  virtual void* DoLoadData(TSxReader& reader);
  virtual void DoStoreData(TSxWriter& writer, void* data);

  void LoadFromFile(const std::string& name);
  void StoreToFile(const std::string& name);
  virtual void LoadFromStream(platform::TStream& stream) = 0;
  virtual void StoreToStream(platform::TStream& stream) = 0;

  std::int32_t Count() const { return FCount; }
  const TSxNodeClass* NodeClass() const { return FNodeClass; }

  TSxCompareFunc Compare;
  TSxDisposeDataFunc DisposeData;
  TSxLoadDataFunc LoadData;
  TSxStoreDataFunc StoreData;
  TSxCompareFunc OnCompare;
  TSxDisposeDataFunc OnDisposeData;
  TSxLoadDataFunc OnLoadData;
  TSxStoreDataFunc OnStoreData;

protected:
  std::recursive_mutex FLock;
  const TSxNodeClass* FNodeClass;
  std::int32_t FCount = 0;
};

class TSxList : public TSxContainer {
public:
  explicit TSxList(const TSxNodeClass* nodeClass = &TSxListNode::Class);
  ~TSxList() override;

  std::string ClassName() const override { return "TSxList"; }
  bool IsList() const override { return true; }
  void Clear() override;
  void ForEachPointer(const TSxIterateFunc& action, void* other) override;
  void LoadFromStream(platform::TStream& stream) override;
  void StoreToStream(platform::TStream& stream) override;

  TSxListNode* Append(void* data);
  // Raises ESyContainerError 52 for a node of another class.
  void Delete(TSxNode* node);
  // The node at which action answered false; none when all answered true.
  TSxListNode* Iterate(const TSxIterateFunc& action, bool forward, void* other);
  TSxListNode* Next(TSxListNode* node);
  TSxListNode* Head() const { return FHead; }
  TSxListNode* Tail() const { return FTail; }
  // Copies the data of another list, in order.
  void Assign(TSxContainer& source);

protected:
  TSxListNode* FHead = nullptr;
  TSxListNode* FTail = nullptr;
  std::int32_t FCacheIndex = -1;
  TSxListNode* FCacheNode = nullptr;
};

class TSxDQue : public TSxList {
public:
  using TSxList::TSxList;
  std::string ClassName() const override { return "TSxDQue"; }
  // Data of the head, none when empty.
  void PeekHead(void*& data);
  // Deletes the head (disposing its datum); nothing when empty.
  void PopHead();
};

} // namespace sx
