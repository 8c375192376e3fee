// Item identifier lists: a run of item identifiers, each a 16-bit
// little-endian size (counting the size field itself) and a payload, ended by
// a zero size. The payload of every identifier is one path component of the
// namespace, in UTF-8; the empty list names the desktop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sx {

class TSxItemIDList {
public:
  // The empty list (the desktop): just the terminating zero.
  TSxItemIDList();
  // One identifier per component, in order.
  explicit TSxItemIDList(const std::vector<std::string>& components);

  // Checks every size against the bytes given: nothing is read past the end,
  // and a list without its terminator is refused.
  static std::optional<TSxItemIDList> FromBytes(const std::uint8_t* data, std::size_t size);
  static std::optional<TSxItemIDList> FromBytes(const std::vector<std::uint8_t>& bytes) {
    return FromBytes(bytes.data(), bytes.size());
  }

  const std::vector<std::uint8_t>& Bytes() const { return FBytes; }
  // The byte size including the terminator.
  std::size_t Size() const { return FBytes.size(); }
  bool IsEmpty() const { return FBytes.size() == 2; }
  int Count() const;
  std::vector<std::string> Components() const;
  std::string Component(int index) const;
  // Payload of the first identifier (empty when there is none).
  std::vector<std::uint8_t> FirstPayload() const;

  // Adds one identifier; false when the payload cannot be held in 16 bits.
  bool AppendComponent(const std::string& payload);

  bool operator==(const TSxItemIDList& other) const { return FBytes == other.FBytes; }
  bool operator!=(const TSxItemIDList& other) const { return FBytes != other.FBytes; }

private:
  std::vector<std::uint8_t> FBytes;
};

// The shell's list routines, by their names.
TSxItemIDList ILClone(const TSxItemIDList& list);
TSxItemIDList ILCloneFirst(const TSxItemIDList& list);
TSxItemIDList ILCombine(const TSxItemIDList& first, const TSxItemIDList& second);
// The list after the first identifier.
TSxItemIDList ILGetNext(const TSxItemIDList& list);
// The last identifier alone.
TSxItemIDList ILFindLastID(const TSxItemIDList& list);
bool ILIsEqual(const TSxItemIDList& a, const TSxItemIDList& b);
// False when the list was already empty.
bool ILRemoveLastID(TSxItemIDList& list);
std::size_t ILGetSize(const TSxItemIDList& list);

// The parent's own last identifier.
TSxItemIDList GetParentItemID(const TSxItemIDList& list);

} // namespace sx
