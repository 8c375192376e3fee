// What the codec tests share: the Debian reference tools, their decodes as
// red-green-blue-alpha pixels, checks of our pictures against them, and one
// round trip through any of our writers and readers.
#pragma once

#include <gtest/gtest.h>

#include "support/countingstream.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "image/io/lzwhooks.h"
#include "image/io/rvioparams.h"
#include "image/io/tiff/tifflzw.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace codectest {

using Bytes = std::vector<std::uint8_t>;

inline bool HaveTool(const std::string& Name) {
  return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
}

#define CODECTEST_NEED_TOOLS(...)                                                                  \
  do {                                                                                             \
    for (const char* Tool : {__VA_ARGS__})                                                         \
      if (!::codectest::HaveTool(Tool)) GTEST_SKIP() << "reference tool missing: " << Tool;        \
  } while (0)

inline bool Run(const std::string& Command) {
  return std::system(("(" + Command + ") >/dev/null 2>&1").c_str()) == 0;
}

inline Bytes Load(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(F), {});
}

inline void Save(const std::string& Path, const Bytes& Data) {
  std::ofstream F(Path, std::ios::binary);
  F.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

// A decode by a reference tool: red, green, blue, alpha per pixel, top row first.
struct TRgba {
  int Width = 0, Height = 0;
  Bytes Pixels;
  const std::uint8_t* At(int X, int Y) const {
    return Pixels.data() + 4 * (static_cast<std::size_t>(Y) * static_cast<std::size_t>(Width) + X);
  }
};

// ImageMagick's decode of File after Options (such as -auto-orient), read
// with ReadOptions (such as -density); empty when it fails. Pictures without
// alpha come out opaque.
inline TRgba Reference(const std::string& File, const std::string& Options = "", const std::string& ReadOptions = "") {
  TRgba R;
  const std::string Command = "convert " + ReadOptions + " '" + File + "' " + Options +
                              " -alpha set -type TrueColorAlpha -depth 8 pam:- 2>/dev/null";
  FILE* Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr) return R;
  Bytes Out;
  std::uint8_t Buffer[65536];
  for (std::size_t N; (N = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Out.insert(Out.end(), Buffer, Buffer + N);
  pclose(Pipe);
  const std::string Text(Out.begin(), Out.end());
  const std::size_t End = Text.find("ENDHDR\n");
  if (Text.rfind("P7\n", 0) != 0 || End == std::string::npos) return R;
  const auto Field = [&](const char* Name) {
    const std::size_t At = Text.find(std::string("\n") + Name + " ");
    return At < End ? std::atoi(Text.c_str() + At + std::char_traits<char>::length(Name) + 2) : 0;
  };
  if (Field("DEPTH") != 4 || Field("MAXVAL") != 255) return R;
  R.Width = Field("WIDTH");
  R.Height = Field("HEIGHT");
  R.Pixels.assign(Out.begin() + static_cast<std::ptrdiff_t>(End + 7), Out.end());
  if (R.Pixels.size() != 4 * static_cast<std::size_t>(R.Width) * static_cast<std::size_t>(R.Height)) R = TRgba{};
  return R;
}

// Red, green, blue of our pixel (1-bit: a set bit is white).
inline void OurPixel(rv::TRvBitmap& B, int X, int Y, int Rgb[3]) {
  const std::uint8_t* Row = B.Scanline(Y);
  if (B.PixelFormat() == rv::rvpf1Bit) {
    Rgb[0] = Rgb[1] = Rgb[2] = ((Row[X >> 3] >> (7 - (X & 7))) & 1) ? 255 : 0;
    return;
  }
  Rgb[0] = Row[3 * X + 2];
  Rgb[1] = Row[3 * X + 1];
  Rgb[2] = Row[3 * X];
}

// Our picture and 8-bit alpha mask (null: opaque) as a decode to compare with.
inline TRgba Ours(rv::TRvBitmap& B, const rv::TRvMask* Mask) {
  TRgba R{B.Width(), B.Height(), {}};
  for (int Y = 0; Y < B.Height(); ++Y)
    for (int X = 0; X < B.Width(); ++X) {
      int C[3];
      OurPixel(B, X, Y, C);
      const int A = Mask != nullptr ? Mask->ScanLine(Y)[X] : 255;
      R.Pixels.insert(R.Pixels.end(), {std::uint8_t(C[0]), std::uint8_t(C[1]), std::uint8_t(C[2]), std::uint8_t(A)});
    }
  return R;
}

// Our picture and alpha mask against a reference decode. Without a mask
// every reference pixel must be opaque; colours of fully transparent pixels
// carry no meaning and are not compared.
inline void ExpectMatches(rv::TRvBitmap& B, const rv::TRvMask* Mask, const TRgba& Ref, int Tolerance = 0) {
  ASSERT_GT(Ref.Width, 0) << "no reference decode";
  ASSERT_EQ(B.Width(), Ref.Width);
  ASSERT_EQ(B.Height(), Ref.Height);
  if (Mask != nullptr) {
    ASSERT_EQ(Mask->Width(), Ref.Width);
    ASSERT_EQ(Mask->Height(), Ref.Height);
  }
  int Wrong = 0;
  for (int Y = 0; Y < Ref.Height; ++Y)
    for (int X = 0; X < Ref.Width; ++X) {
      const std::uint8_t* P = Ref.At(X, Y);
      int Ours[4];
      OurPixel(B, X, Y, Ours);
      Ours[3] = Mask != nullptr ? Mask->ScanLine(Y)[X] : 255;
      bool Same = std::abs(Ours[3] - P[3]) <= Tolerance;
      for (int C = 0; C < 3 && P[3] != 0; ++C) Same = Same && std::abs(Ours[C] - P[C]) <= Tolerance;
      if (!Same && ++Wrong == 1)
        ADD_FAILURE() << "first difference at " << X << "," << Y << ": ours " << Ours[0] << " " << Ours[1] << " "
                      << Ours[2] << " " << Ours[3] << ", reference " << int(P[0]) << " " << int(P[1]) << " "
                      << int(P[2]) << " " << int(P[3]);
    }
  EXPECT_EQ(Wrong, 0);
}

// One picture as a reader returns it.
struct TDecoded {
  rv::TRvBitmap Bitmap;
  rv::TIOParamsVals Params;
  std::unique_ptr<rv::TRvMask> Mask;
  bool Failed = false;
};

// A reader or writer of one format, as the round trips call them.
using TReadFn = std::function<void(platform::TStream&, TDecoded&, rv::TRvProgressRec&)>;
using TWriteFn = std::function<void(platform::TStream&, rv::TRvBitmap&, rv::TIOParamsVals&, const rv::TRvMask*,
                                    rv::TRvProgressRec&)>;

using TDecodedPtr = std::unique_ptr<TDecoded>;

inline TDecodedPtr ReadBytes(const TReadFn& Read, const Bytes& Data, const rv::TIOParamsVals* Params = nullptr) {
  auto D = std::make_unique<TDecoded>();
  if (Params != nullptr) D->Params.Assign(*Params);
  platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
  rv::TRvLocalProgress P;
  Read(S, *D, P.Rec);
  D->Failed = P.Rec.IsAborting();
  return D;
}

inline Bytes WriteBytes(const TWriteFn& Write, rv::TRvBitmap& Bitmap, rv::TIOParamsVals& Params,
                        const rv::TRvMask* Mask = nullptr, bool* Failed = nullptr) {
  platform::TMemoryStream S;
  rv::TRvLocalProgress P;
  Write(S, Bitmap, Params, Mask, P.Rec);
  if (Failed != nullptr) *Failed = P.Rec.IsAborting();
  return S.Data();
}

// The program's quarter turn clockwise (Ctrl+R) of a picture, made 24-bit,
// and its 8-bit mask.
inline void TurnClockwise(rv::TRvBitmap& Bitmap, rv::TRvMask* Mask) {
  Bitmap.ConvertPixelFormat(rv::rvpf24Bit);
  rv::RvRotateBitmap(&Bitmap, false, -90, rv::TRGB{});
  if (Mask == nullptr) return;
  // An opaque mask stays so, as the program keeps it.
  if (!Mask->Full()) return rv::RvRotateMask(Mask, -90, false);
  Mask->Allocate(Bitmap.Width(), Bitmap.Height(), 8);
  Mask->Fill(255);
}

// Writes Bitmap (and Mask) with Params, reads the bytes back and checks
// every pixel (within Tolerance) and the alpha against what went in.
inline TDecodedPtr RoundTrip(const TWriteFn& Write, const TReadFn& Read, rv::TRvBitmap& Bitmap, rv::TIOParamsVals& Params,
                          const rv::TRvMask* Mask = nullptr, int Tolerance = 0) {
  bool WriteFailed = false;
  const Bytes Data = WriteBytes(Write, Bitmap, Params, Mask, &WriteFailed);
  EXPECT_FALSE(WriteFailed);
  TDecodedPtr D = ReadBytes(Read, Data);
  EXPECT_FALSE(D->Failed);
  ExpectMatches(D->Bitmap, Mask != nullptr ? D->Mask.get() : nullptr, Ours(Bitmap, Mask), Tolerance);
  return D;
}

// Lowers the pixel cap for one scope.
class TPixelCap {
public:
  explicit TPixelCap(std::int64_t Pixels) : FOld(rv::RvMaxPixels()) { rv::RvSetMaxPixels(Pixels); }
  ~TPixelCap() { rv::RvSetMaxPixels(FOld); }

private:
  std::int64_t FOld;
};

using testsupport::TCountingStream;

// A stream that takes at most Capacity bytes, then writes short.
class TShortStream : public platform::TMemoryStream {
public:
  explicit TShortStream(std::int64_t Capacity) : FCapacity(Capacity) {}
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    const std::int64_t Room = std::max<std::int64_t>(0, FCapacity - Position());
    return platform::TMemoryStream::Write(Buffer, std::min(Count, Room));
  }

private:
  std::int64_t FCapacity;
};

// Every prefix (every one of a short file), then copies with three bytes
// changed: none may take the reader outside its buffers. Damaged sizes are
// held small by the pixel cap, so that the test stays quick.
inline void ExpectDamageIsSafe(const TReadFn& Read, const Bytes& Good, int Rounds = 150) {
  const TPixelCap Cap(20000);
  const std::size_t Step = Good.size() <= 600 ? 1 : Good.size() / 200;
  for (std::size_t Cut = 0; Cut < Good.size(); Cut += Step)
    ReadBytes(Read, Bytes(Good.begin(), Good.begin() + static_cast<std::ptrdiff_t>(Cut)));
  std::uint32_t Seed = 99;
  for (int Round = 0; Round < Rounds && !Good.empty(); ++Round) {
    Bytes Data = Good;
    for (int K = 0; K < 3; ++K) {
      Seed = Seed * 1103515245u + 12345u;
      Data[(Seed >> 8) % Data.size()] = static_cast<std::uint8_t>(Seed >> 24);
    }
    ReadBytes(Read, Data);
  }
}

// Installs the TIFF LZW coders into the library slots for one scope.
struct TLzwSlots {
  TLzwSlots() {
    rv::RvDefaultTiffLzwDecompress = rv::TiffLzwDecompress;
    rv::RvDefaultTiffLzwCompress = rv::TiffLzwCompress;
  }
  ~TLzwSlots() {
    rv::RvDefaultTiffLzwDecompress = nullptr;
    rv::RvDefaultTiffLzwCompress = nullptr;
  }
};

} // namespace codectest
