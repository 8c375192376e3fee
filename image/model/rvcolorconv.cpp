#include "image/model/rvcolorconv.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/model/rvbits.h"
#include "image/model/rvquantizer.h"

namespace rv {

int RvRowProgress(int Row, int Rows) {
  return RvRound((static_cast<double>(Row) + 1.0) * 100.0 / (static_cast<double>(Rows) + 0.5));
}

namespace {

void Report(void* Sender, const TRvProgressEvent& OnProgress, int Row, int Rows) {
  if (OnProgress) OnProgress(Sender, RvRowProgress(Row, Rows));
}

inline void GrayRow(std::uint8_t* p, int Count) {
  for (int i = 0; i < Count; ++i, p += 3) {
    const auto v = static_cast<std::uint8_t>(RvGray(p[2], p[1], p[0]));
    p[0] = v;
    p[1] = v;
    p[2] = v;
  }
}

// Rows of either kind of bitmap, 0 the top; a library bitmap in the file kind
// keeps only the row last asked for addressable, which the loops respect.
template <typename Bmp>
std::uint8_t* RowOf(Bmp* B, int Y);
template <>
std::uint8_t* RowOf(platform::TBitmap* B, int Y) {
  return B->ScanLine(Y);
}
template <>
std::uint8_t* RowOf(TRvBitmap* B, int Y) {
  return B->Scanline(Y);
}

template <typename Bmp>
void ConvertRectToGray(Bmp* Bitmap, int Width, int Height, int X1, int Y1, int X2, int Y2,
                       void* Sender, const TRvProgressEvent& OnProgress) {
  // A rectangle reaching left of or above the picture would write outside it.
  X1 = RvMax(X1, 0);
  Y1 = RvMax(Y1, 0);
  X2 = RvMin(X2, Width);
  Y2 = RvMin(Y2, Height);
  if (X2 <= X1 || Y2 <= Y1) return;
  const int rows = Y2 - Y1;
  for (int y = Y1; y < Y2; ++y) {
    GrayRow(RowOf(Bitmap, y) + 3 * static_cast<std::ptrdiff_t>(X1), X2 - X1);
    Report(Sender, OnProgress, y - Y1, rows);
  }
}

// Index of every colour the neural quantiser has answered, so that a large
// picture asks it once per distinct colour.
class TIndexCache {
public:
  TIndexCache(const TRvQuantizer& Q, int N, std::int64_t Pixels) : FQ(Q), FN(N) {
    if (Q.Method() == 0 && !Q.GrayIdentity() && N <= 65535 && Pixels >= (1 << 20)) {
      FTable.reset(new std::uint16_t[1u << 24]);
      std::fill_n(FTable.get(), 1u << 24, std::uint16_t{0xFFFF});
    }
  }
  int Index(std::uint32_t Colour) {
    if (!FTable) return Clamp(FQ.RGBIndex(Colour));
    std::uint16_t& slot = FTable[Colour];
    if (slot == 0xFFFF) slot = static_cast<std::uint16_t>(Clamp(FQ.RGBIndex(Colour)));
    return slot;
  }

private:
  // An index outside the palette (the quantiser's "none") takes entry 0.
  int Clamp(int I) const { return I >= 0 && I < FN ? I : 0; }
  const TRvQuantizer& FQ;
  int FN;
  std::unique_ptr<std::uint16_t[]> FTable;
};

template <typename Bmp>
void QuantizeRows(Bmp* Bitmap, int Width, int Height, TRvQuantizer& Q, const TRGB* Palette, int N,
                  void* Sender, const TRvProgressEvent& OnProgress) {
  TIndexCache cache(Q, N, static_cast<std::int64_t>(Width) * Height);
  for (int y = 0; y < Height; ++y) {
    std::uint8_t* p = RowOf(Bitmap, y);
    std::uint32_t last = 0xFFFFFFFF;
    TRGB lastColour{};
    for (int x = 0; x < Width; ++x, p += 3) {
      const std::uint32_t c = p[0] | static_cast<std::uint32_t>(p[1]) << 8 |
                              static_cast<std::uint32_t>(p[2]) << 16;
      if (c != last) {
        last = c;
        lastColour = Palette[cache.Index(c)];
      }
      p[0] = lastColour.b;
      p[1] = lastColour.g;
      p[2] = lastColour.r;
    }
    Report(Sender, OnProgress, y, Height);
  }
}

template <typename Bmp>
void QuantizeBitmap(Bmp* Bitmap, int Width, int Height, int NumColors, TRGB* Palette,
                    void* Sender, const TRvProgressEvent& OnProgress) {
  if (NumColors < 1 || Width < 1 || Height < 1) return;
  // The median cut leaves the entries it does not reach as they were: a
  // buffer of our own starts black.
  std::vector<TRGB> own;
  if (Palette == nullptr) {
    own.assign(static_cast<std::size_t>(NumColors), TRGB{});
    Palette = own.data();
  }
  TRvQuantizer q(Bitmap, Palette, NumColors);
  QuantizeRows(Bitmap, Width, Height, q, Palette, NumColors, Sender, OnProgress);
}

} // namespace

void RvConvertRectToGray(platform::TBitmap* Bitmap, int X1, int Y1, int X2, int Y2, void* Sender,
                         const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != platform::pf24bit) return;
  ConvertRectToGray(Bitmap, Bitmap->Width(), Bitmap->Height(), X1, Y1, X2, Y2, Sender,
                    OnProgress);
}

void RvConvertRectToGray(TRvBitmap* Bitmap, int X1, int Y1, int X2, int Y2, void* Sender,
                         const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf24Bit) return;
  ConvertRectToGray(Bitmap, Bitmap->Width(), Bitmap->Height(), X1, Y1, X2, Y2, Sender,
                    OnProgress);
}

void RvQuantizeBitmap(platform::TBitmap* Bitmap, int NumColors, TRGB* Palette, void* Sender,
                      const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != platform::pf24bit) return;
  QuantizeBitmap(Bitmap, Bitmap->Width(), Bitmap->Height(), NumColors, Palette, Sender,
                 OnProgress);
}

void RvQuantizeBitmap(TRvBitmap* Bitmap, int NumColors, TRGB* Palette, void* Sender,
                      const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf24Bit) return;
  QuantizeBitmap(Bitmap, Bitmap->Width(), Bitmap->Height(), NumColors, Palette, Sender,
                 OnProgress);
}

void RvOrderedDitherToBW(TRvBitmap* Bitmap, void* Sender, const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf24Bit) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  TRvBitmap result;
  result.SetLocation(Bitmap->Location() == rvlTBitmap ? rvlMemory : Bitmap->Location());
  result.Allocate(w, h, rvpf1Bit);
  const int rowBytes = (w + 7) / 8;
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(rowBytes));
  for (int y = 0; y < h; ++y) {
    std::fill(bits.begin(), bits.end(), std::uint8_t{0});
    const std::uint8_t* s = Bitmap->Scanline(y);
    for (int x = 0; x < w; ++x, s += 3)
      if ((RvGray(s[2], s[1], s[0]) >> 2) > RvDitherMatrix[x & 7][y & 7])
        bits[static_cast<std::size_t>(x >> 3)] |= RvBitMask[x & 7];
    std::uint8_t* d = result.Scanline(y);
    std::memcpy(d, bits.data(), bits.size());
    Report(Sender, OnProgress, y, h);
  }
  Bitmap->Assign(&result);
}

void RvConvertToGray(TRvBitmap* Bitmap, void* Sender, const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr) return;
  RvConvertRectToGray(Bitmap, 0, 0, Bitmap->Width(), Bitmap->Height(), Sender, OnProgress);
}

void RvConvertTo(TRvBitmap* Bitmap, int NumColors, void* Sender,
                 const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf24Bit) return;
  if (NumColors < 3)
    RvOrderedDitherToBW(Bitmap, Sender, OnProgress);
  else
    RvQuantizeBitmap(Bitmap, NumColors, nullptr, Sender, OnProgress);
}

void RvConvertToPalette(TRvBitmap* Bitmap, int NumColors, TRGB* Palette, void* Sender,
                        const TRvProgressEvent& OnProgress) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf24Bit) return;
  if (NumColors < 3) {
    RvOrderedDitherToBW(Bitmap, Sender, OnProgress);
    if (Palette != nullptr) {
      Palette[0] = TRGB{0, 0, 0};
      Palette[1] = TRGB{255, 255, 255};
    }
  } else {
    RvQuantizeBitmap(Bitmap, NumColors, Palette, Sender, OnProgress);
  }
}

std::unique_ptr<TRvBitmap> RvTwoColorsToBW(TRvBitmap* Bitmap, TRGB& Color1, TRGB& Color2) {
  if (Bitmap == nullptr || Bitmap->PixelFormat() != rvpf24Bit) return nullptr;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  auto result = std::make_unique<TRvBitmap>();
  result->SetLocation(Bitmap->Location() == rvlTBitmap ? rvlMemory : Bitmap->Location());
  result->Allocate(w, h, rvpf1Bit);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>((w + 7) / 8));
  int colours = 0;
  std::uint32_t c1 = 0, c2 = 0;
  for (int y = 0; y < h && colours <= 2; ++y) {
    std::fill(bits.begin(), bits.end(), std::uint8_t{0});
    const std::uint8_t* s = Bitmap->Scanline(y);
    for (int x = 0; x < w; ++x, s += 3) {
      const std::uint32_t c = s[0] | static_cast<std::uint32_t>(s[1]) << 8 |
                              static_cast<std::uint32_t>(s[2]) << 16;
      if (colours == 0) {
        c1 = c;
        colours = 1;
        std::memcpy(&Color1, s, 3);
      } else if (c != c1) {
        if (colours == 1) {
          c2 = c;
          colours = 2;
          std::memcpy(&Color2, s, 3);
        } else if (c != c2) {
          colours = 3;
          break;
        }
        bits[static_cast<std::size_t>(x >> 3)] |= RvBitMask[x & 7];
      }
    }
    if (colours <= 2) std::memcpy(result->Scanline(y), bits.data(), bits.size());
  }
  if (colours != 2) return nullptr;
  if (RvRGBToGray(Color2) < RvRGBToGray(Color1)) {
    const int rowLen = result->RowLen();
    for (int y = 0; y < h; ++y) {
      std::uint8_t* d = result->Scanline(y);
      for (int i = 0; i < rowLen; ++i) d[i] = static_cast<std::uint8_t>(~d[i]);
    }
    std::swap(Color1, Color2);
  }
  return result;
}

int RvNearestPaletteIndex(const TRGB* Palette, int Count, std::uint32_t Colour) {
  const int b = static_cast<int>(Colour & 255), g = static_cast<int>((Colour >> 8) & 255),
            r = static_cast<int>((Colour >> 16) & 255);
  int best = 1000, index = 0;
  for (int i = 0; i < Count; ++i) {
    const TRGB& e = Palette[i];
    const int d = std::abs(e.b - b) + std::abs(e.g - g) + std::abs(e.r - r);
    if (d < best) {
      best = d;
      index = i;
    }
  }
  return index;
}

void RvBGRToRGBRow(std::uint8_t* Row, int Count) {
  for (int i = 0; i < Count; ++i, Row += 3) std::swap(Row[0], Row[2]);
}

void RvCopyBGRToRGB(std::uint8_t* Dest, const std::uint8_t* Source, int Count) {
  for (int i = 0; i < Count; ++i, Dest += 3, Source += 3) {
    Dest[0] = Source[2];
    Dest[1] = Source[1];
    Dest[2] = Source[0];
  }
}

namespace {

int RowBytesOf(int Width, int Bits) {
  switch (Bits) {
    case 1: return (Width + 7) / 8;
    case 4: return (Width + 1) / 2;
    case 8: return Width;
    case 24: return 3 * Width;
    default: return 0;
  }
}

inline int IndexAt(const std::uint8_t* Row, int X, int Bits) {
  switch (Bits) {
    case 1: return RvTestBit(Row, X) ? 1 : 0;
    case 4: return (X & 1) ? Row[X >> 1] & 15 : Row[X >> 1] >> 4;
    default: return Row[X];
  }
}

inline void PutNibble(std::uint8_t* Row, int X, int V) {
  std::uint8_t& b = Row[X >> 1];
  b = (X & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (V & 15))
              : static_cast<std::uint8_t>((b & 0x0F) | ((V & 15) << 4));
}

} // namespace

// Supported pairs: 1 to 1, 4, 8, 24; 4 to 4, 8, 24; 8 to 1, 8, 24; 24 to 4,
// 8, 24; 32 to 24. Other pairs, and pairs whose palette or quantiser is
// missing, leave Dest as it is.
int RvConvertPixelRow(const std::uint8_t* Source, std::uint8_t* Dest, int SourceBits,
                      const TRvQuantizer* Quantizer, const TRGB* Palette, int Width,
                      int DestBits) {
  const int result = RowBytesOf(Width, DestBits);
  if (Source == nullptr || Dest == nullptr || Width < 1 || result == 0) return result;
  const bool indexed = SourceBits == 1 || SourceBits == 4 || SourceBits == 8;
  if (SourceBits == DestBits) {
    std::memcpy(Dest, Source, static_cast<std::size_t>(result));
  } else if (indexed && DestBits == 24) {
    if (Palette == nullptr) return result;
    for (int x = 0; x < Width; ++x)
      std::memcpy(Dest + 3 * x, &Palette[IndexAt(Source, x, SourceBits)], 3);
  } else if (SourceBits == 1 && (DestBits == 4 || DestBits == 8)) {
    for (int x = 0; x < Width; ++x) {
      const int v = RvTestBit(Source, x) ? 1 : 0;
      if (DestBits == 8) Dest[x] = static_cast<std::uint8_t>(v); else PutNibble(Dest, x, v);
    }
  } else if (SourceBits == 4 && DestBits == 8) {
    for (int x = 0; x < Width; ++x) Dest[x] = static_cast<std::uint8_t>(IndexAt(Source, x, 4));
  } else if (SourceBits == 8 && DestBits == 1) {
    std::memset(Dest, 0, static_cast<std::size_t>(result));
    for (int x = 0; x < Width; ++x)
      if (Source[x] != 0) Dest[x >> 3] |= RvBitMask[x & 7];
  } else if (SourceBits == 24 && (DestBits == 4 || DestBits == 8)) {
    if (Quantizer == nullptr) return result;
    const std::uint8_t* s = Source;
    for (int x = 0; x < Width; ++x, s += 3) {
      const int i = Quantizer->RGBIndex(s[0] | static_cast<std::uint32_t>(s[1]) << 8 |
                                        static_cast<std::uint32_t>(s[2]) << 16);
      if (DestBits == 8) Dest[x] = static_cast<std::uint8_t>(i); else PutNibble(Dest, x, i);
    }
  } else if (SourceBits == 32 && DestBits == 24) {
    for (int x = 0; x < Width; ++x) std::memcpy(Dest + 3 * x, Source + 4 * x, 3);
  }
  return result;
}

void RvYUVToRGB(int Y, int U, int V, TRGB& C) {
  const double y = 1.164 * (Y - 16);
  C.b = static_cast<std::uint8_t>(RvClampByte(RvRound(y + 2.018 * (U - 128))));
  C.g = static_cast<std::uint8_t>(RvClampByte(RvRound(y - 0.813 * (V - 128) - 0.391 * (U - 128))));
  C.r = static_cast<std::uint8_t>(RvClampByte(RvRound(y + 1.596 * (V - 128))));
}

namespace {

constexpr std::int64_t Align4(std::int64_t N) { return (N + 3) / 4 * 4; }

enum TFrameLayout {
  flNone, flI420, flYV12, flYVU9, flYUY2, flUYVY, flYVYU, flY211, flY41P, flIYU1, flIYU2,
  flCLJR, flRGB
};

struct TFrame {
  TFrameLayout Layout = flNone;
  int Width = 0;
  int Height = 0;
  bool TopDown = false;
  int BitCount = 0;
  const std::uint8_t* Data = nullptr;
  std::size_t DataSize = 0;
  TRGB Palette[256];
};

// Bytes of one stored row of a packed layout, or of the luma plane.
std::int64_t FrameStride(const TFrame& F) {
  const std::int64_t w = F.Width;
  switch (F.Layout) {
    case flI420: case flYV12: case flYVU9: return w;
    case flYUY2: case flUYVY: case flYVYU: return (w + 1) / 2 * 4;
    case flY211: case flCLJR: return (w + 3) / 4 * 4;
    case flY41P: return (w + 7) / 8 * 12;
    case flIYU1: return Align4((w + 3) / 4 * 6);
    case flIYU2: return Align4(w * 3);
    case flRGB: return RvRowLen(w, F.BitCount);
    default: return 0;
  }
}

// Products that overflow saturate, so a huge frame is refused as too short.
std::int64_t MulSat(std::int64_t A, std::int64_t B) {
  return B != 0 && A > INT64_MAX / B ? INT64_MAX : A * B;
}

std::int64_t FrameBytes(const TFrame& F) {
  const std::int64_t h = F.Height, luma = MulSat(FrameStride(F), h);
  int sub = 0;
  if (F.Layout == flI420 || F.Layout == flYV12) sub = 2;
  if (F.Layout == flYVU9) sub = 4;
  if (sub == 0) return luma;
  const std::int64_t chroma =
      2 * ((static_cast<std::int64_t>(F.Width) + sub - 1) / sub) * ((h + sub - 1) / sub);
  return luma > INT64_MAX - chroma ? INT64_MAX : luma + chroma;
}

inline void Put(std::uint8_t* D, int X, int Y, int U, int V) {
  TRGB c;
  RvYUVToRGB(Y, U, V, c);
  std::memcpy(D + 3 * X, &c, 3);
}

// Stored row R (in storage order) of a frame into destination row D.
void ConvertFrameRow(const TFrame& F, int R, std::uint8_t* D) {
  const int w = F.Width;
  const std::int64_t stride = FrameStride(F);
  const std::uint8_t* s = F.Data + stride * R;
  switch (F.Layout) {
    case flI420:
    case flYV12:
    case flYVU9: {
      const int sub = F.Layout == flYVU9 ? 4 : 2;
      const std::int64_t cw = (static_cast<std::int64_t>(w) + sub - 1) / sub,
                         ch = (static_cast<std::int64_t>(F.Height) + sub - 1) / sub;
      const std::uint8_t* first = F.Data + stride * F.Height + cw * (R / sub);
      const std::uint8_t* second = first + cw * ch;
      // I420 keeps U before V; YV12 and YVU9 V before U.
      const std::uint8_t* u = F.Layout == flI420 ? first : second;
      const std::uint8_t* v = F.Layout == flI420 ? second : first;
      for (int x = 0; x < w; ++x) Put(D, x, s[x], u[x / sub], v[x / sub]);
      break;
    }
    case flYUY2:
    case flUYVY:
    case flYVYU:
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* q = s + (x / 2) * 4;
        int y, u, v;
        if (F.Layout == flYUY2) { y = q[(x & 1) * 2]; u = q[1]; v = q[3]; }
        else if (F.Layout == flYVYU) { y = q[(x & 1) * 2]; v = q[1]; u = q[3]; }
        else { y = q[1 + (x & 1) * 2]; u = q[0]; v = q[2]; }
        Put(D, x, y, u, v);
      }
      break;
    case flY211:
      // Y0 U Y1 V: each Y serves two neighbouring pixels.
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* q = s + (x / 4) * 4;
        Put(D, x, q[(x & 2) ? 2 : 0], q[1], q[3]);
      }
      break;
    case flY41P:
      // U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7.
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* q = s + (x / 8) * 12;
        static constexpr int yPos[8] = {1, 3, 5, 7, 8, 9, 10, 11};
        const int half = (x & 7) < 4 ? 0 : 4;
        Put(D, x, q[yPos[x & 7]], q[half], q[half + 2]);
      }
      break;
    case flIYU1:
      // U Y0 Y1 V Y2 Y3.
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* q = s + (x / 4) * 6;
        static constexpr int yPos[4] = {1, 2, 4, 5};
        Put(D, x, q[yPos[x & 3]], q[0], q[3]);
      }
      break;
    case flIYU2:
      for (int x = 0; x < w; ++x) Put(D, x, s[3 * x + 1], s[3 * x], s[3 * x + 2]);
      break;
    case flCLJR:
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* q = s + (x / 4) * 4;
        const std::uint32_t word = q[0] | static_cast<std::uint32_t>(q[1]) << 8 |
                                   static_cast<std::uint32_t>(q[2]) << 16 |
                                   static_cast<std::uint32_t>(q[3]) << 24;
        const int v6 = static_cast<int>(word & 63), u6 = static_cast<int>((word >> 6) & 63);
        const int y5 = static_cast<int>((word >> (12 + 5 * (x & 3))) & 31);
        // The 5- and 6-bit fields are widened to the 8-bit range the
        // conversion expects.
        Put(D, x, (y5 << 3) | (y5 >> 2), (u6 << 2) | (u6 >> 4), (v6 << 2) | (v6 >> 4));
      }
      break;
    case flRGB:
      switch (F.BitCount) {
        case 1:
          std::memcpy(D, s, static_cast<std::size_t>((static_cast<std::int64_t>(w) + 7) / 8));
          break;
        case 4:
        case 8:
          for (int x = 0; x < w; ++x)
            std::memcpy(D + 3 * x, &F.Palette[IndexAt(s, x, F.BitCount)], 3);
          break;
        case 16:
          for (int x = 0; x < w; ++x) {
            const unsigned p = s[2 * x] | static_cast<unsigned>(s[2 * x + 1]) << 8;
            const unsigned b = p & 31, g = (p >> 5) & 31, r = (p >> 10) & 31;
            D[3 * x] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
            D[3 * x + 1] = static_cast<std::uint8_t>((g << 3) | (g >> 2));
            D[3 * x + 2] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
          }
          break;
        case 24:
          std::memcpy(D, s, static_cast<std::size_t>(w) * 3);
          break;
        case 32:
          for (int x = 0; x < w; ++x) std::memcpy(D + 3 * x, s + 4 * x, 3);
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

TFrameLayout LayoutOf(std::uint32_t Compression, bool& Reversed) {
  Reversed = false;
  switch (Compression) {
    case RvFourCC('I', '4', '2', '0'): case RvFourCC('I', 'Y', 'U', 'V'): return flI420;
    case RvFourCC('Y', 'V', '1', '2'): return flYV12;
    case RvFourCC('Y', 'V', 'U', '9'): return flYVU9;
    case RvFourCC('Y', 'U', 'Y', '2'): case RvFourCC('Y', 'U', 'N', 'V'): return flYUY2;
    case RvFourCC('U', 'Y', 'V', 'Y'): case RvFourCC('U', 'Y', 'N', 'V'): return flUYVY;
    case RvFourCC('c', 'y', 'u', 'v'): Reversed = true; return flUYVY;
    case RvFourCC('Y', 'V', 'Y', 'U'): return flYVYU;
    case RvFourCC('Y', '2', '1', '1'): return flY211;
    case RvFourCC('Y', '4', '1', 'P'): return flY41P;
    case RvFourCC('I', 'Y', 'U', '1'): return flIYU1;
    case RvFourCC('I', 'Y', 'U', '2'): return flIYU2;
    case RvFourCC('C', 'L', 'J', 'R'): return flCLJR;
    default: return flNone;
  }
}

} // namespace

int RvVideoFrameToBitmap(const void* Header, std::size_t HeaderSize, TRvBitmap* Bitmap,
                         const void* Bits, std::size_t BitsSize) {
  if (Header == nullptr || Bitmap == nullptr || HeaderSize < sizeof(platform::TBitmapInfoHeader))
    return 0;
  platform::TBitmapInfoHeader h;
  std::memcpy(&h, Header, sizeof h);
  const int bitCount = h.biBitCount;
  if (h.biWidth < 1 || h.biHeight == 0 || h.biHeight == INT_MIN) return 0;
  auto frame = std::make_unique<TFrame>();
  TFrame& f = *frame;
  f.Width = h.biWidth;
  f.Height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  f.TopDown = h.biHeight < 0;
  f.BitCount = bitCount;
  const auto* block = static_cast<const std::uint8_t*>(Header);
  bool reversed = false;
  f.Layout = LayoutOf(h.biCompression, reversed);
  if (f.Layout != flNone) {
    // The pixels of a YUV frame come only with the frame.
    if (Bits == nullptr) return 0;
    f.Data = static_cast<const std::uint8_t*>(Bits);
    f.DataSize = BitsSize;
    if (reversed) f.TopDown = !f.TopDown;
  } else {
    std::size_t offset = sizeof(platform::TBitmapInfoHeader);
    if (h.biCompression == 0 && (bitCount == 1 || bitCount == 4 || bitCount == 8)) {
      const std::size_t maxEntries = std::size_t{1} << bitCount;
      const std::size_t entries =
          h.biClrUsed == 0 ? maxEntries : std::min<std::size_t>(h.biClrUsed, maxEntries);
      const std::size_t available = (HeaderSize - offset) / 4;
      for (std::size_t i = 0; i < entries && i < available; ++i) {
        const std::uint8_t* e = block + offset + 4 * i;
        f.Palette[i] = TRGB{e[0], e[1], e[2]};
      }
      // Pixels packed behind the header start after the palette, not over it.
      offset += 4 * entries;
    } else if (h.biCompression == 3 && bitCount == 32) {
      offset += 12;
    } else if (h.biCompression != 0 || (bitCount != 16 && bitCount != 24 && bitCount != 32)) {
      return bitCount;
    }
    f.Layout = flRGB;
    if (Bits != nullptr) {
      f.Data = static_cast<const std::uint8_t*>(Bits);
      f.DataSize = BitsSize;
    } else {
      if (offset > HeaderSize) return 0;
      f.Data = block + offset;
      f.DataSize = HeaderSize - offset;
    }
  }
  if (static_cast<std::uint64_t>(FrameBytes(f)) > f.DataSize) return 0;

  if (f.Layout == flRGB && bitCount == 1) {
    Bitmap->Allocate(f.Width, f.Height, rvpf1Bit);
    // A set bit is white here: a palette whose first entry is the brighter
    // one is stored inverted.
    const bool invert = RvRGBToGray(f.Palette[0]) > RvRGBToGray(f.Palette[1]);
    for (int r = 0; r < f.Height; ++r) {
      const int stored = f.TopDown ? r : f.Height - 1 - r;
      std::uint8_t* d = Bitmap->Scanline(r);
      ConvertFrameRow(f, stored, d);
      if (invert)
        for (std::int64_t i = 0; i < (static_cast<std::int64_t>(f.Width) + 7) / 8; ++i)
          d[i] = static_cast<std::uint8_t>(~d[i]);
    }
  } else {
    Bitmap->Allocate(f.Width, f.Height, rvpf24Bit);
    for (int r = 0; r < f.Height; ++r)
      ConvertFrameRow(f, f.TopDown ? r : f.Height - 1 - r, Bitmap->Scanline(r));
  }
  return bitCount;
}

} // namespace rv
