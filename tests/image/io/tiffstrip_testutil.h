// Just enough TIFF to hand one strip of ours to libtiff's tools and to take
// the strips of their output back: little-endian files, first directory only.
#pragma once

#include "image/io/codectest_util.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace tifftest {

struct TStripFile {
  bool Ok = false;
  std::map<int, std::vector<std::uint32_t>> Tags;
  std::vector<std::uint8_t> Strips; // all strips, concatenated

  std::uint32_t Tag(int Id, std::uint32_t Default = 0) const {
    auto it = Tags.find(Id);
    return it == Tags.end() || it->second.empty() ? Default : it->second[0];
  }
};

using codectest::HaveTool;

inline void Put16(std::vector<std::uint8_t>& B, std::uint32_t V) {
  B.push_back(static_cast<std::uint8_t>(V));
  B.push_back(static_cast<std::uint8_t>(V >> 8));
}
inline void Put32(std::vector<std::uint8_t>& B, std::uint32_t V) {
  Put16(B, V & 0xFFFF);
  Put16(B, V >> 16);
}

// One strip of Height rows; Extra adds SHORT or LONG tags (id -> value).
inline std::vector<std::uint8_t> MakeTiff(int Width, int Height, int Bits, int Compression,
                                          int Photometric, const std::vector<std::uint8_t>& Strip,
                                          std::map<int, std::uint32_t> Extra = {}) {
  std::map<int, std::pair<int, std::uint32_t>> tags; // id -> (type, value)
  tags[256] = {4, static_cast<std::uint32_t>(Width)};
  tags[257] = {4, static_cast<std::uint32_t>(Height)};
  tags[258] = {3, static_cast<std::uint32_t>(Bits)};
  tags[259] = {3, static_cast<std::uint32_t>(Compression)};
  tags[262] = {3, static_cast<std::uint32_t>(Photometric)};
  tags[273] = {4, 8};
  tags[277] = {3, 1};
  tags[278] = {4, static_cast<std::uint32_t>(Height)};
  tags[279] = {4, static_cast<std::uint32_t>(Strip.size())};
  for (auto [id, v] : Extra) tags[id] = {id == 292 ? 4 : 3, v};
  std::vector<std::uint8_t> b = {'I', 'I', 42, 0};
  std::uint32_t ifd = 8 + static_cast<std::uint32_t>(Strip.size());
  ifd += ifd & 1;
  Put32(b, ifd);
  b.insert(b.end(), Strip.begin(), Strip.end());
  if (b.size() & 1) b.push_back(0);
  Put16(b, static_cast<std::uint32_t>(tags.size()));
  for (auto [id, tv] : tags) {
    Put16(b, static_cast<std::uint32_t>(id));
    Put16(b, static_cast<std::uint32_t>(tv.first));
    Put32(b, 1);
    if (tv.first == 3) {
      Put16(b, tv.second);
      Put16(b, 0);
    } else {
      Put32(b, tv.second);
    }
  }
  Put32(b, 0);
  return b;
}

inline TStripFile ParseTiff(const std::vector<std::uint8_t>& F) {
  TStripFile r;
  auto u16 = [&](std::size_t p) -> std::uint32_t { return p + 2 <= F.size() ? F[p] | (F[p + 1] << 8) : 0; };
  auto u32 = [&](std::size_t p) -> std::uint32_t {
    return p + 4 <= F.size() ? u16(p) | (u16(p + 2) << 16) : 0;
  };
  if (F.size() < 8 || F[0] != 'I' || F[1] != 'I') return r;
  const std::size_t ifd = u32(4);
  const std::uint32_t count = u16(ifd);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t e = ifd + 2 + 12 * i;
    const int id = static_cast<int>(u16(e));
    const std::uint32_t type = u16(e + 2), n = u32(e + 4);
    const std::size_t size = type == 3 ? 2 : 4;
    if (type != 3 && type != 4) continue;
    const std::size_t at = n * size <= 4 ? e + 8 : u32(e + 8);
    for (std::uint32_t k = 0; k < n; ++k)
      r.Tags[id].push_back(size == 2 ? u16(at + 2 * k) : u32(at + 4 * k));
  }
  const auto& offsets = r.Tags[273];
  const auto& counts = r.Tags[279];
  if (offsets.empty() || offsets.size() != counts.size()) return r;
  for (std::size_t s = 0; s < offsets.size(); ++s) {
    if (offsets[s] + static_cast<std::size_t>(counts[s]) > F.size()) return r;
    r.Strips.insert(r.Strips.end(), F.begin() + offsets[s], F.begin() + offsets[s] + counts[s]);
  }
  r.Ok = true;
  return r;
}

// Runs tiffcp with Options from In to Out; answers the parsed output.
inline TStripFile Tiffcp(const std::string& Options, const std::string& In, const std::string& Out) {
  const std::string cmd = "tiffcp " + Options + " '" + In + "' '" + Out + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return {};
  return ParseTiff(codectest::Load(Out));
}

} // namespace tifftest
