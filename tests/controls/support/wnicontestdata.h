// Hand-built icon and cursor file images for the icon list and animated
// cursor tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wntest {

using TBytes = std::vector<std::uint8_t>;

inline void Put16(TBytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(TBytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
inline void PutId(TBytes& b, const char* id) { b.insert(b.end(), id, id + 4); }

// A 4 x 4 picture at 4 bits per pixel in an icon (Type 1) or cursor (Type 2)
// directory of one entry; a cursor's entry carries the hotspot HotX, HotY.
// Pixel (0, 0) of the top row is transparent; the rest show palette entries
// 0 to 3 in every row, entry i being red 16 i, green 255 - 16 i, blue 8 i.
inline TBytes MakeIcon(std::uint16_t Type = 1, std::uint16_t HotX = 0, std::uint16_t HotY = 0,
                       std::uint16_t Bits = 4) {
  TBytes image;
  Put32(image, 40);        // header size
  Put32(image, 4);         // width
  Put32(image, 8);         // height: colour and mask images together
  Put16(image, 1);         // planes
  Put16(image, Bits);      // bit count (4: the pixels below)
  Put32(image, 0);         // no compression
  Put32(image, 32);        // image bytes: 16 colour + 16 mask
  Put32(image, 0);         // pixels per metre x
  Put32(image, 0);         // pixels per metre y
  Put32(image, 16);        // colours used
  Put32(image, 0);         // colours important
  for (int i = 0; i < 16; ++i) {  // palette: blue, green, red, 0
    image.push_back(static_cast<std::uint8_t>(8 * i));
    image.push_back(static_cast<std::uint8_t>(255 - 16 * i));
    image.push_back(static_cast<std::uint8_t>(16 * i));
    image.push_back(0);
  }
  for (int row = 0; row < 4; ++row) {  // colour rows, bottom first: 0 1 2 3
    image.push_back(0x01);
    image.push_back(0x23);
    image.push_back(0);
    image.push_back(0);
  }
  for (int row = 0; row < 4; ++row) {  // mask rows, bottom first: top-left transparent
    image.push_back(row == 3 ? 0x80 : 0x00);
    image.push_back(0);
    image.push_back(0);
    image.push_back(0);
  }
  TBytes file;
  Put16(file, 0);     // reserved
  Put16(file, Type);  // 1 icon, 2 cursor
  Put16(file, 1);     // entries
  file.push_back(4);  // width
  file.push_back(4);  // height
  file.push_back(16); // colours
  file.push_back(0);  // reserved
  Put16(file, Type == 1 ? 1 : HotX);    // planes, or hotspot x
  Put16(file, Type == 1 ? Bits : HotY); // bit count, or hotspot y
  Put32(file, static_cast<std::uint32_t>(image.size()));  // image bytes
  Put32(file, 22);                                        // image offset
  file.insert(file.end(), image.begin(), image.end());
  return file;
}

// A RIFF chunk: identifier, 32-bit size, data, pad byte to an even length.
inline TBytes Chunk(const char* Id, const TBytes& Data) {
  TBytes c;
  PutId(c, Id);
  Put32(c, static_cast<std::uint32_t>(Data.size()));
  c.insert(c.end(), Data.begin(), Data.end());
  if (Data.size() % 2 != 0) c.push_back(0);
  return c;
}

inline TBytes Concat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

}  // namespace wntest
