// Shared by the BMP and icon tests: byte builders, reading through the
// codecs, pixel access and ImageMagick round trips.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/io/bmp/rvbmp.h"
#include "image/io/codectest_util.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvbitmap.h"
#include "platform/stream.h"

namespace bmptest {

// Little-endian bytes appended field by field.
struct TBytes {
  std::vector<std::uint8_t> Data;
  TBytes& U8(unsigned V) {
    Data.push_back(static_cast<std::uint8_t>(V));
    return *this;
  }
  TBytes& U16(unsigned V) { return U8(V & 0xFF).U8((V >> 8) & 0xFF); }
  TBytes& U32(std::uint32_t V) { return U16(V & 0xFFFF).U16(V >> 16); }
  TBytes& I32(std::int32_t V) { return U32(static_cast<std::uint32_t>(V)); }
  TBytes& Raw(std::initializer_list<unsigned> Bytes) {
    for (unsigned b : Bytes) U8(b);
    return *this;
  }
  TBytes& Zeros(std::size_t N) {
    Data.insert(Data.end(), N, 0);
    return *this;
  }
  std::size_t Size() const { return Data.size(); }
};

// The 14-byte file header and a 40-byte information header.
inline TBytes BmpHead(std::int32_t Width, std::int32_t Height, int Bits, std::uint32_t Compression,
                      std::uint32_t ColoursUsed, std::uint32_t PixelOffset,
                      std::int32_t Ppm = 3780) {
  TBytes b;
  b.Raw({'B', 'M'}); // type
  b.U32(0);          // file size: unknown
  b.U32(0);          // reserved
  b.U32(PixelOffset);
  b.U32(40);          // header size
  b.I32(Width);       // width
  b.I32(Height);      // height, negative for top-down
  b.U16(1);           // planes
  b.U16(Bits);        // bits per pixel
  b.U32(Compression); // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
  b.U32(0);           // image data size
  b.I32(Ppm);         // horizontal pixels per metre
  b.I32(Ppm);         // vertical pixels per metre
  b.U32(ColoursUsed); // colours used
  b.U32(0);           // important colours
  return b;
}

struct TRead {
  bool Aborted = false;
  int Progress = 0;
};

inline TRead ReadBmp(const std::vector<std::uint8_t>& Bytes, rv::TRvBitmap* Bitmap,
                     rv::TIOParamsVals& Params, bool HeaderOnly = false, std::int64_t Size = 0) {
  platform::TBytesStream s(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
  rv::TRvLocalProgress p;
  TRead r;
  p.Rec.OnProgress = [&r](void*, int) { ++r.Progress; };
  rv::BmpReadStream(s, Bitmap, Size, Params, p.Rec, HeaderOnly);
  r.Aborted = p.Rec.IsAborting();
  return r;
}

inline std::vector<std::uint8_t> WriteBmp(rv::TRvBitmap& Bitmap, rv::TIOParamsVals& Params,
                                          bool* Aborted = nullptr) {
  platform::TMemoryStream s;
  rv::TRvLocalProgress p;
  rv::BmpWriteStream(s, Bitmap, Params, p.Rec);
  if (Aborted) *Aborted = p.Rec.IsAborting();
  return s.Data();
}

// Blue, green, red of a 24-bit pixel, as 0x00RRGGBB.
inline std::uint32_t Rgb(rv::TRvBitmap& B, int X, int Y) {
  const std::uint8_t* p = B.Scanline(Y) + 3 * X;
  return (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
}
inline int Bit(rv::TRvBitmap& B, int X, int Y) {
  return (B.Scanline(Y)[X >> 3] >> (7 - (X & 7))) & 1;
}

// Every pixel as 0x00RRGGBB, top row first (1-bit: set bit white).
inline std::vector<std::uint32_t> Pixels(rv::TRvBitmap& B) {
  std::vector<std::uint32_t> out;
  for (int y = 0; y < B.Height(); ++y)
    for (int x = 0; x < B.Width(); ++x)
      out.push_back(B.PixelFormat() == rv::rvpf1Bit ? (Bit(B, x, y) ? 0xFFFFFFu : 0u)
                                                    : Rgb(B, x, y));
  return out;
}

using codectest::TPixelCap;

} // namespace bmptest
