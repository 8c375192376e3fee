// The shell library's hash table from text keys to data, on the container
// base: chained buckets, most recently found key first in its chain.
#pragma once

#include "shell/sxcontainers.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sx {

class TSxDictNode : public TSxNode {
public:
  static const TSxNodeClass Class;
  TSxDictNode(const std::string& name, void* data) : TSxNode(data), Name(name) {}
  const TSxNodeClass& ClassType() const override { return Class; }

  TSxDictNode* Next() const { return FNext; }
  std::string Name;

private:
  friend class TSxDictionary;
  TSxDictNode* FNext = nullptr;
};

// 0 when the keys are the same key.
using TSxDictEqualFunc = std::function<int(const std::string& key1, const std::string& key2)>;
using TSxDictEqualEvent =
    std::function<void(TSxContainer* sender, const std::string& key1, const std::string& key2, int& result)>;
using TSxDictHashFunc = std::function<std::int32_t(const std::string& key, std::int32_t size)>;
// Answers false to stop at the node.
using TSxDictIterateFunc = std::function<bool(TSxContainer* container, TSxDictNode* node, void* other)>;
// Strings with their objects, as a string list holds them.
using TSxStringObjects = std::vector<std::pair<std::string, void*>>;

// h := h xor (byte i rotated left by i mod 32); result h mod size.
std::int32_t HashText(const std::string& s, std::int32_t size);

class TSxDictionary : public TSxContainer {
public:
  explicit TSxDictionary(std::int32_t hashSize);
  ~TSxDictionary() override;

  std::string ClassName() const override { return "TSxDictionary"; }
  void Clear() override;
  void ForEachPointer(const TSxIterateFunc& action, void* other) override;
  void LoadFromStream(platform::TStream& stream) override;
  void StoreToStream(platform::TStream& stream) override;

  // Raises ESyContainerError 54 for a key already present.
  void Add(const std::string& name, void* data);
  // A found key moves to the front of its chain.
  bool Exists(const std::string& name, void*& data);
  TSxDictNode* Iterate(const TSxDictIterateFunc& action, void* other);
  std::int32_t HashSize() const { return static_cast<std::int32_t>(FBuckets.size()); }
  // Raises ESyContainerError 53 below 1.
  void SetHashSize(std::int32_t size);
  void Assign(TSxDictionary& source);
  void Assign(const TSxStringObjects& source);
  // First node of a bucket's chain.
  TSxDictNode* Bucket(std::int32_t index) const { return FBuckets.at(static_cast<std::size_t>(index)); }

  TSxDictEqualFunc Equal;
  TSxDictEqualEvent OnEqual;
  TSxDictHashFunc Hash;

private:
  // Node of the key, or none; prev receives the node before it in its chain.
  TSxDictNode* Find(const std::string& name, std::int32_t& bucket, TSxDictNode*& prev);
  std::int32_t BucketOf(const std::string& name);

  std::vector<TSxDictNode*> FBuckets;
};

} // namespace sx
