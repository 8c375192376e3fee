// Shared by the JPEG, PNG and JPEG-2000 tests: pictures with known pixels,
// portable pixmaps for the reference tools, tool calls on temporary files,
// and streams that fail on purpose.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/io/codectest_util.h"
#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"
#include "support/tempfolder.h"

namespace libcodecs_test {

using Bytes = std::vector<std::uint8_t>;

// Blue, green, red of pixel (X, Y) of a 24-bit picture.
inline std::uint8_t* Px(rv::TRvBitmap& Bmp, int X, int Y) { return Bmp.Scanline(Y) + 3 * X; }

inline bool BitAt(rv::TRvBitmap& Bmp, int X, int Y) {
  return (Bmp.Scanline(Y)[X >> 3] & (0x80 >> (X & 7))) != 0;
}

// A smooth 24-bit picture (lossy codecs keep it well) with a little detail.
inline void MakeGradient(rv::TRvBitmap& Bmp, int W, int H) {
  Bmp.Allocate(W, H, rv::rvpf24Bit);
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = Bmp.Scanline(Y);
    for (int X = 0; X < W; ++X) {
      Row[3 * X] = static_cast<std::uint8_t>((X + Y) * 255 / (W + H));
      Row[3 * X + 1] = static_cast<std::uint8_t>(Y * 255 / (H > 1 ? H - 1 : 1));
      Row[3 * X + 2] = static_cast<std::uint8_t>(X * 255 / (W > 1 ? W - 1 : 1));
    }
  }
}

// A 24-bit picture whose every pixel differs from its neighbours.
inline void MakeNoise(rv::TRvBitmap& Bmp, int W, int H) {
  Bmp.Allocate(W, H, rv::rvpf24Bit);
  std::uint32_t S = 12345;
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = Bmp.Scanline(Y);
    for (int X = 0; X < 3 * W; ++X) {
      S = S * 1103515245u + 12345u;
      Row[X] = static_cast<std::uint8_t>(S >> 16);
    }
  }
}

inline void ExpectSame24(rv::TRvBitmap& A, rv::TRvBitmap& B) {
  ASSERT_EQ(A.Width(), B.Width());
  ASSERT_EQ(A.Height(), B.Height());
  ASSERT_EQ(A.PixelFormat(), rv::rvpf24Bit);
  ASSERT_EQ(B.PixelFormat(), rv::rvpf24Bit);
  for (int Y = 0; Y < A.Height(); ++Y)
    for (int X = 0; X < A.Width(); ++X)
      for (int C = 0; C < 3; ++C)
        ASSERT_EQ(Px(A, X, Y)[C], Px(B, X, Y)[C]) << "at " << X << "," << Y << " channel " << C;
}

// The largest difference of any sample of two 24-bit pictures of one size.
inline int MaxDifference(rv::TRvBitmap& A, rv::TRvBitmap& B) {
  int Worst = 0;
  for (int Y = 0; Y < A.Height(); ++Y)
    for (int X = 0; X < A.Width() * 3; ++X)
      Worst = std::max(Worst, std::abs(A.Scanline(Y)[X] - B.Scanline(Y)[X]));
  return Worst;
}

// ---- Portable pixmaps (the tools' common ground)

// P6 from a 24-bit picture (P5 with Gray: the green byte).
inline void WritePnm(rv::TRvBitmap& Bmp, const std::string& Path, bool Gray = false) {
  std::ofstream F(Path, std::ios::binary);
  F << (Gray ? "P5\n" : "P6\n") << Bmp.Width() << " " << Bmp.Height() << "\n255\n";
  for (int Y = 0; Y < Bmp.Height(); ++Y)
    for (int X = 0; X < Bmp.Width(); ++X) {
      const std::uint8_t* P = Px(Bmp, X, Y);
      if (Gray) {
        F.put(static_cast<char>(P[1]));
      } else {
        F.put(static_cast<char>(P[2]));
        F.put(static_cast<char>(P[1]));
        F.put(static_cast<char>(P[0]));
      }
    }
}

inline std::string NextToken(std::istream& In) {
  std::string T;
  while (In) {
    int C = In.get();
    if (C == '#') {
      while (In && In.get() != '\n') {
      }
      continue;
    }
    if (std::isspace(C)) {
      if (!T.empty()) return T;
      continue;
    }
    if (C == EOF) break;
    T.push_back(static_cast<char>(C));
  }
  return T;
}

// A P4, P5 or P6 file (8 or 16 bits; 16-bit samples keep their high byte)
// as a 24-bit picture; false when the file is not one.
inline bool ReadPnm(const std::string& Path, rv::TRvBitmap& Bmp, int* MaxVal = nullptr) {
  std::ifstream F(Path, std::ios::binary);
  const std::string Magic = NextToken(F);
  if (Magic != "P4" && Magic != "P5" && Magic != "P6") return false;
  const int W = std::stoi(NextToken(F));
  const int H = std::stoi(NextToken(F));
  if (Magic == "P4") {
    Bmp.Allocate(W, H, rv::rvpf24Bit);
    for (int Y = 0; Y < H; ++Y) {
      std::vector<char> Row(static_cast<std::size_t>((W + 7) / 8));
      F.read(Row.data(), static_cast<std::streamsize>(Row.size()));
      for (int X = 0; X < W; ++X) {
        const bool Black = (Row[static_cast<std::size_t>(X >> 3)] & (0x80 >> (X & 7))) != 0;
        std::memset(Bmp.Scanline(Y) + 3 * X, Black ? 0 : 255, 3);
      }
    }
    return static_cast<bool>(F);
  }
  const int Max = std::stoi(NextToken(F));
  if (MaxVal != nullptr) *MaxVal = Max;
  const int Samples = Magic == "P6" ? 3 : 1;
  const int Bytes = Max > 255 ? 2 : 1;
  Bmp.Allocate(W, H, rv::rvpf24Bit);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      int V[3] = {0, 0, 0};
      for (int S = 0; S < Samples; ++S) {
        V[S] = F.get();
        if (Bytes == 2) F.get();
      }
      if (Samples == 1) V[1] = V[2] = V[0];
      std::uint8_t* P = Bmp.Scanline(Y) + 3 * X;
      P[0] = static_cast<std::uint8_t>(V[2]);
      P[1] = static_cast<std::uint8_t>(V[1]);
      P[2] = static_cast<std::uint8_t>(V[0]);
    }
  return static_cast<bool>(F);
}

// ---- Tools and files

using codectest::HaveTool;
using codectest::TCountingStream;
using codectest::TShortStream;
inline bool RunTool(const std::string& Command) { return codectest::Run(Command); }
inline Bytes ReadFile(const std::string& Path) { return codectest::Load(Path); }
inline void WriteFile(const std::string& Path, const Bytes& Data) { codectest::Save(Path, Data); }
#define LIBCODECS_NEED_TOOL(name) CODECTEST_NEED_TOOLS(name)

// A progress record with a flag of its own and a log of the percentages.
struct TProgress {
  rv::TRvAbortFlag Flag{false};
  rv::TRvProgressRec Rec;
  std::vector<int> Percents;
  TProgress() {
    Rec.Aborting = &Flag;
    Rec.OnProgress = [this](void*, int Per) { Percents.push_back(Per); };
  }
  bool Aborted() const { return Flag.load(); }
};

} // namespace libcodecs_test
