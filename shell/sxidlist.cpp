#include "shell/sxidlist.h"

namespace sx {

namespace {

std::uint16_t SizeAt(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Offsets of every identifier of a well-formed list.
std::vector<std::size_t> Offsets(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::size_t> out;
  std::size_t pos = 0;
  for (;;) {
    const std::uint16_t cb = SizeAt(bytes.data() + pos);
    if (cb == 0) break;
    out.push_back(pos);
    pos += cb;
  }
  return out;
}

} // namespace

TSxItemIDList::TSxItemIDList() : FBytes{0, 0} {}

TSxItemIDList::TSxItemIDList(const std::vector<std::string>& components) : FBytes{0, 0} {
  for (const std::string& c : components) AppendComponent(c);
}

std::optional<TSxItemIDList> TSxItemIDList::FromBytes(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  for (;;) {
    if (size < 2 || pos > size - 2) return std::nullopt;
    const std::uint16_t cb = SizeAt(data + pos);
    if (cb == 0) break;
    // A size below 2 would never move on; one past the end reads foreign bytes.
    if (cb < 2 || cb > size - pos) return std::nullopt;
    pos += cb;
  }
  TSxItemIDList list;
  list.FBytes.assign(data, data + pos + 2);
  return list;
}

int TSxItemIDList::Count() const { return static_cast<int>(Offsets(FBytes).size()); }

std::vector<std::string> TSxItemIDList::Components() const {
  std::vector<std::string> out;
  for (std::size_t off : Offsets(FBytes)) {
    const std::uint16_t cb = SizeAt(FBytes.data() + off);
    out.emplace_back(reinterpret_cast<const char*>(FBytes.data() + off + 2), cb - 2u);
  }
  return out;
}

std::string TSxItemIDList::Component(int index) const {
  const std::vector<std::size_t> offsets = Offsets(FBytes);
  if (index < 0 || index >= static_cast<int>(offsets.size())) return {};
  const std::size_t off = offsets[static_cast<std::size_t>(index)];
  const std::uint16_t cb = SizeAt(FBytes.data() + off);
  return std::string(reinterpret_cast<const char*>(FBytes.data() + off + 2), cb - 2u);
}

std::vector<std::uint8_t> TSxItemIDList::FirstPayload() const {
  const std::uint16_t cb = SizeAt(FBytes.data());
  if (cb == 0) return {};
  return std::vector<std::uint8_t>(FBytes.begin() + 2, FBytes.begin() + cb);
}

bool TSxItemIDList::AppendComponent(const std::string& payload) {
  if (payload.size() > 0xFFFFu - 2u) return false;
  const std::uint16_t cb = static_cast<std::uint16_t>(payload.size() + 2);
  FBytes.pop_back();
  FBytes.pop_back();
  FBytes.push_back(static_cast<std::uint8_t>(cb & 0xFF));
  FBytes.push_back(static_cast<std::uint8_t>(cb >> 8));
  FBytes.insert(FBytes.end(), payload.begin(), payload.end());
  FBytes.push_back(0);
  FBytes.push_back(0);
  return true;
}

TSxItemIDList ILClone(const TSxItemIDList& list) { return list; }

TSxItemIDList ILCloneFirst(const TSxItemIDList& list) {
  TSxItemIDList out;
  if (list.Count() > 0) out.AppendComponent(list.Component(0));
  return out;
}

TSxItemIDList ILCombine(const TSxItemIDList& first, const TSxItemIDList& second) {
  TSxItemIDList out = first;
  for (const std::string& c : second.Components()) out.AppendComponent(c);
  return out;
}

TSxItemIDList ILGetNext(const TSxItemIDList& list) {
  std::vector<std::string> c = list.Components();
  if (!c.empty()) c.erase(c.begin());
  return TSxItemIDList(c);
}

TSxItemIDList ILFindLastID(const TSxItemIDList& list) {
  TSxItemIDList out;
  const int n = list.Count();
  if (n > 0) out.AppendComponent(list.Component(n - 1));
  return out;
}

bool ILIsEqual(const TSxItemIDList& a, const TSxItemIDList& b) { return a == b; }

bool ILRemoveLastID(TSxItemIDList& list) {
  std::vector<std::string> c = list.Components();
  if (c.empty()) return false;
  c.pop_back();
  list = TSxItemIDList(c);
  return true;
}

std::size_t ILGetSize(const TSxItemIDList& list) { return list.Size(); }

TSxItemIDList GetParentItemID(const TSxItemIDList& list) {
  TSxItemIDList clone = ILClone(list);
  ILRemoveLastID(clone);
  return ILFindLastID(clone);
}

} // namespace sx
