// Shared by the PNM, PCX and TGA tests: byte building, pictures with known
// pixels, and calls of the reference tools on temporary files.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace simplecodecs_test {

using Bytes = std::vector<std::uint8_t>;

inline void Put(Bytes& B, std::initializer_list<int> Values) {
  for (int V : Values) B.push_back(static_cast<std::uint8_t>(V));
}
inline void Put16(Bytes& B, int V) { Put(B, {V & 255, (V >> 8) & 255}); }
inline void PutText(Bytes& B, const std::string& S) { B.insert(B.end(), S.begin(), S.end()); }

inline std::uint32_t PixelAt(rv::TRvBitmap& Bmp, int X, int Y) {
  rv::TRGB C;
  Bmp.GetPixelRGB(X, Y, C);
  return rv::RvRGBToPacked(C);
}

// A 24-bit picture whose every pixel differs from its neighbours.
inline void MakePattern(rv::TRvBitmap& Bmp, int W, int H) {
  Bmp.Allocate(W, H, rv::rvpf24Bit);
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = Bmp.Scanline(Y);
    for (int X = 0; X < W; ++X) {
      Row[3 * X] = static_cast<std::uint8_t>(X * 7 + Y * 3);
      Row[3 * X + 1] = static_cast<std::uint8_t>(X * 13 ^ Y * 5);
      Row[3 * X + 2] = static_cast<std::uint8_t>(255 - X - Y * 11);
    }
  }
}

// A 24-bit picture of only the given colours (0x00RRGGBB), in stripes.
inline void MakeStripes(rv::TRvBitmap& Bmp, int W, int H, const std::vector<std::uint32_t>& Colors) {
  Bmp.Allocate(W, H, rv::rvpf24Bit);
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = Bmp.Scanline(Y);
    for (int X = 0; X < W; ++X) {
      const std::uint32_t C = Colors[static_cast<std::size_t>((X + Y) % Colors.size())];
      Row[3 * X] = static_cast<std::uint8_t>(C);
      Row[3 * X + 1] = static_cast<std::uint8_t>(C >> 8);
      Row[3 * X + 2] = static_cast<std::uint8_t>(C >> 16);
    }
  }
}

// A quarter turn clockwise, as the window turns a picture.
inline void TurnClockwise(rv::TRvBitmap& Bmp) { rv::RvRotateBitmap(&Bmp, false, -90, rv::TRGB{}); }

inline void ExpectSamePixels(rv::TRvBitmap& A, rv::TRvBitmap& B) {
  ASSERT_EQ(A.Width(), B.Width());
  ASSERT_EQ(A.Height(), B.Height());
  for (int Y = 0; Y < A.Height(); ++Y)
    for (int X = 0; X < A.Width(); ++X)
      ASSERT_EQ(PixelAt(A, X, Y), PixelAt(B, X, Y)) << "at " << X << "," << Y;
}

inline bool HaveTool(const std::string& Name) {
  return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool RunTool(const std::string& Command) {
  return std::system((Command + " 2>/dev/null").c_str()) == 0;
}

inline void SaveBytes(const std::string& Path, const Bytes& B) {
  std::ofstream F(Path, std::ios::binary);
  F.write(reinterpret_cast<const char*>(B.data()), static_cast<std::streamsize>(B.size()));
}

inline Bytes LoadBytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(F)), std::istreambuf_iterator<char>());
}

// The pixels of a plain (P3) or binary 8-bit (P6) pixel map, parsed here
// independently of the codec under test: 0x00RRGGBB per pixel.
struct TPixmap {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Pixels;
  std::uint32_t At(int X, int Y) const { return Pixels[static_cast<std::size_t>(Y) * Width + X]; }
};

inline bool ParsePixmap(const Bytes& B, TPixmap& P) {
  std::size_t I = 0;
  auto Token = [&]() {
    std::string T;
    while (I < B.size()) {
      if (B[I] == '#') {
        while (I < B.size() && B[I] != '\n') ++I;
      } else if (std::isspace(B[I])) {
        ++I;
      } else {
        break;
      }
    }
    while (I < B.size() && !std::isspace(B[I])) T.push_back(static_cast<char>(B[I++]));
    return T;
  };
  const std::string Magic = Token();
  if (Magic != "P3" && Magic != "P6") return false;
  P.Width = std::stoi(Token());
  P.Height = std::stoi(Token());
  const int Max = std::stoi(Token());
  if (Max != 255) return false;
  ++I;
  P.Pixels.clear();
  for (int K = 0; K < P.Width * P.Height; ++K) {
    int C[3];
    for (int& S : C) {
      if (Magic == "P3") {
        S = std::stoi(Token());
      } else {
        if (I >= B.size()) return false;
        S = B[I++];
      }
    }
    P.Pixels.push_back(static_cast<std::uint32_t>((C[0] << 16) | (C[1] << 8) | C[2]));
  }
  return true;
}

inline void ExpectMatchesPixmap(rv::TRvBitmap& Bmp, const TPixmap& P) {
  ASSERT_EQ(Bmp.Width(), P.Width);
  ASSERT_EQ(Bmp.Height(), P.Height);
  for (int Y = 0; Y < P.Height; ++Y)
    for (int X = 0; X < P.Width; ++X)
      ASSERT_EQ(PixelAt(Bmp, X, Y), P.At(X, Y)) << "at " << X << "," << Y;
}

// Writes a picture as a plain binary P6 file (for the tools to convert).
inline Bytes PixmapBytes(rv::TRvBitmap& Bmp) {
  Bytes B;
  PutText(B, "P6\n" + std::to_string(Bmp.Width()) + " " + std::to_string(Bmp.Height()) + "\n255\n");
  for (int Y = 0; Y < Bmp.Height(); ++Y)
    for (int X = 0; X < Bmp.Width(); ++X) {
      const std::uint32_t C = PixelAt(Bmp, X, Y);
      Put(B, {static_cast<int>(C >> 16) & 255, static_cast<int>(C >> 8) & 255, static_cast<int>(C) & 255});
    }
  return B;
}

// The many-coloured pattern and six stripes of the turned-file tests, both
// W x H, written beside as src.ppm and few.ppm for the tools to convert.
inline void SaveTurnSources(const std::string& Folder, int W, int H, rv::TRvBitmap& Source, rv::TRvBitmap& Few) {
  MakePattern(Source, W, H);
  MakeStripes(Few, W, H, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x808080});
  SaveBytes(Folder + "/src.ppm", PixmapBytes(Source));
  SaveBytes(Folder + "/few.ppm", PixmapBytes(Few));
}

inline platform::TBytesStream StreamOf(const Bytes& B) {
  return platform::TBytesStream(B.data(), static_cast<std::int64_t>(B.size()));
}

} // namespace simplecodecs_test
