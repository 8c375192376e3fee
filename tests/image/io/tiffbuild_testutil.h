// Hand-built TIFF structures for the reader's tests: either byte order, any
// tags, directories chained in any order (cycles included).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tiffbuild {

using Bytes = std::vector<std::uint8_t>;

struct TTag {
  std::uint16_t Id;
  std::uint16_t Type;
  std::uint32_t Count;
  Bytes Data; // already in the file's byte order
};

class TBuilder {
public:
  explicit TBuilder(bool Intel = true) : FIntel(Intel) {
    B = {static_cast<std::uint8_t>(Intel ? 'I' : 'M'), static_cast<std::uint8_t>(Intel ? 'I' : 'M')};
    Put16(B, 42);
    Put32(B, 0);
  }

  void Put16(Bytes& To, std::uint32_t V) const {
    if (FIntel) To.insert(To.end(), {static_cast<std::uint8_t>(V), static_cast<std::uint8_t>(V >> 8)});
    else To.insert(To.end(), {static_cast<std::uint8_t>(V >> 8), static_cast<std::uint8_t>(V)});
  }
  void Put32(Bytes& To, std::uint32_t V) const {
    if (FIntel) {
      Put16(To, V & 0xFFFF);
      Put16(To, V >> 16);
    } else {
      Put16(To, V >> 16);
      Put16(To, V & 0xFFFF);
    }
  }

  TTag Short(std::uint16_t Id, std::vector<std::uint32_t> Values) const {
    TTag T{Id, 3, static_cast<std::uint32_t>(Values.size()), {}};
    for (auto V : Values) Put16(T.Data, V);
    return T;
  }
  TTag Long(std::uint16_t Id, std::vector<std::uint32_t> Values) const {
    TTag T{Id, 4, static_cast<std::uint32_t>(Values.size()), {}};
    for (auto V : Values) Put32(T.Data, V);
    return T;
  }
  TTag Rational(std::uint16_t Id, std::vector<std::pair<std::uint32_t, std::uint32_t>> Values) const {
    TTag T{Id, 5, static_cast<std::uint32_t>(Values.size()), {}};
    for (auto [N, D] : Values) {
      Put32(T.Data, N);
      Put32(T.Data, D);
    }
    return T;
  }
  TTag Ascii(std::uint16_t Id, const std::string& Text) const {
    TTag T{Id, 2, static_cast<std::uint32_t>(Text.size() + 1), Bytes(Text.begin(), Text.end())};
    T.Data.push_back(0);
    return T;
  }
  TTag Undefined(std::uint16_t Id, const Bytes& Data) const {
    return TTag{Id, 7, static_cast<std::uint32_t>(Data.size()), Data};
  }
  // An entry whose count claims more than is there: its offset points at Offset.
  TTag Raw(std::uint16_t Id, std::uint16_t Type, std::uint32_t Count, std::uint32_t Offset) const {
    TTag T{Id, Type, Count, {}};
    Put32(T.Data, Offset);
    return T;
  }

  std::uint32_t AddBlob(const Bytes& Data) {
    if (B.size() & 1) B.push_back(0);
    const auto At = static_cast<std::uint32_t>(B.size());
    B.insert(B.end(), Data.begin(), Data.end());
    return At;
  }

  // Appends a directory; answers its offset. NextAt receives where its
  // next-directory offset lies, for chaining later.
  std::uint32_t AddIfd(std::vector<TTag> Tags, std::uint32_t Next, std::size_t* NextAt = nullptr) {
    std::vector<Bytes> Values;
    for (auto& T : Tags) {
      if (T.Data.size() > 4) {
        const std::uint32_t At = AddBlob(T.Data);
        T.Data.clear();
        Put32(T.Data, At);
      }
      while (T.Data.size() < 4) T.Data.push_back(0);
    }
    if (B.size() & 1) B.push_back(0);
    const auto At = static_cast<std::uint32_t>(B.size());
    Put16(B, static_cast<std::uint32_t>(Tags.size()));
    for (const auto& T : Tags) {
      Put16(B, T.Id);
      Put16(B, T.Type);
      Put32(B, T.Count);
      B.insert(B.end(), T.Data.begin(), T.Data.begin() + 4);
    }
    if (NextAt != nullptr) *NextAt = B.size();
    Put32(B, Next);
    return At;
  }

  void SetFirst(std::uint32_t Offset) { Patch32(4, Offset); }
  void Patch32(std::size_t At, std::uint32_t V) {
    Bytes Tmp;
    Put32(Tmp, V);
    for (int I = 0; I < 4; ++I) B[At + static_cast<std::size_t>(I)] = Tmp[static_cast<std::size_t>(I)];
  }

  Bytes B;

private:
  bool FIntel;
};

} // namespace tiffbuild
