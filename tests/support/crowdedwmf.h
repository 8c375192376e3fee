#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// A placeable WMF of 300 x 300 with a red brush and a red 20 x 30 square at
// (10, 10); crowded, a polygon of 2,000 points zigzagging across the frame
// comes before the square, more than the fill budget lets the play draw.
inline std::vector<std::uint8_t> SquareWmf(bool crowded) {
  std::vector<std::uint8_t> wmf;
  auto put16 = [&](int v) { wmf.push_back(static_cast<std::uint8_t>(v)), wmf.push_back(static_cast<std::uint8_t>(v >> 8)); };
  auto record = [&](int function, const std::vector<int>& words) {
    const int size = 3 + static_cast<int>(words.size());
    put16(size & 0xFFFF), put16(size >> 16), put16(function);
    for (int w : words) put16(w);
  };
  put16(0xCDD7), put16(0x9AC6), put16(0), put16(0), put16(0), put16(300), put16(300), put16(96), put16(0), put16(0), put16(0);
  put16(1), put16(9), put16(0x0300), put16(0), put16(0), put16(1), put16(0), put16(0), put16(0);
  record(0x02FC, {0, 0x00FF, 0, 0}); // red brush
  record(0x012D, {0});
  if (crowded) {
    std::vector<int> points = {2000};
    for (int i = 0; i < 2000; ++i) points.insert(points.end(), {i * 300 / 2000, i % 2 ? 300 : 0});
    record(0x0324, points);
  }
  record(0x041B, {30, 40, 10, 10}); // bottom, right, top, left
  record(0, {});
  return wmf;
}

} // namespace testsupport
