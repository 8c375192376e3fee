// Small routines the whole image library shares: the three-byte colour
// record, minimum, maximum and clamping, bits and bytes, row lengths, a hash
// set of colours, directories and plane geometry for hit tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/colors.h"
#include "platform/graphics.h"

class QObject;
class QWidget;

namespace rv {

using platform::TColor;

// Blue, green, red: the layout of a 24-bit pixel and of every palette entry.
// Read as a little-endian word with the top byte ignored it is 0x00RRGGBB.
#pragma pack(push, 1)
struct TRGB {
  std::uint8_t b = 0;
  std::uint8_t g = 0;
  std::uint8_t r = 0;
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3);

// Colours.
void RvCreateRGB(std::uint8_t R, std::uint8_t G, std::uint8_t B, TRGB& C);
int RvRGBToGray(const TRGB& C);
// Gray of a colour given by its channels: (21 R + 71 G + 8 B) div 100.
inline int RvGray(unsigned R, unsigned G, unsigned B) { return (R * 21 + G * 71 + B * 8) / 100; }
// 16-bit gray: (54272 R + 182528 G + 19200 B) div 1000.
inline int RvGray16(unsigned R, unsigned G, unsigned B) {
  return static_cast<int>((R * 54272u + G * 182528u + B * 19200u) / 1000u);
}
int RvSwapRedBlue(int Value);
void RvColorToRGB(TColor Color, TRGB& C);
bool RvSameRGB(const TRGB& A, const TRGB& B);
// The packed 0x00RRGGBB value of a triple.
inline std::uint32_t RvRGBToPacked(const TRGB& C) {
  return (static_cast<std::uint32_t>(C.r) << 16) | (static_cast<std::uint32_t>(C.g) << 8) | C.b;
}

// Numbers.
inline int RvMin(int A, int B) { return A < B ? A : B; }
inline int RvMax(int A, int B) { return A > B ? A : B; }
double RvFMin(double A, double B);
double RvFMax(double A, double B);
int RvClamp(int Value, int Low, int High);
int RvClampByte(int Value);
int RvCeil(long double X);
int RvFloor(long double X);
// Halves to even, as the library rounds everywhere.
int RvRound(double X);
void RvSwapInt(int& A, int& B);
void RvSwapBytePair(std::uint8_t& A, std::uint8_t& B);
void RvOrderRect(int& X1, int& Y1, int& X2, int& Y2);
long double RvIntPower(int Exponent, long double Base);
long double RvPower(long double Base, long double Exponent);
// Rounds halves away from zero: Number x Numerator / Denominator.
int RvMulDiv(int Number, int Numerator, int Denominator);

// Bits and bytes.
// Bytes of a row padded to 4 bytes: ((Width x BitCount + 31) div 32) x 4,
// in 64 bits; negative for a negative width.
std::int64_t RvRowLen(std::int64_t Width, int BitCount);
int RvPixelFormatBits(platform::TPixelFormat Format);
std::int64_t RvBitmapRowLen(std::int64_t Width, platform::TPixelFormat Format);
int RvMaskShiftWidth(std::uint32_t Mask);
int RvMaskBitEnd(std::uint32_t Mask);
void RvReverseBits8(std::uint8_t& B);
void RvReverseBits32(std::uint32_t& V);
std::uint16_t RvSwapWord(std::uint16_t V);
std::uint32_t RvSwapDWord(std::uint32_t V);
bool RvHasMMX();

// A set of 32-bit keys, used to count the distinct colours of a picture.
class THash1 {
public:
  explicit THash1(int Bits);
  ~THash1();
  THash1(const THash1&) = delete;
  THash1& operator=(const THash1&) = delete;

  // True when Key was not in the set yet.
  bool Insert(std::uint32_t Key);
  int Count() const { return FCount; }
  int Size() const { return FSize; }

private:
  struct TNode {
    std::uint32_t Key;
    TNode* Next;
  };
  int FBits;
  int FSize;
  std::vector<std::uint32_t> FKeys;
  std::vector<std::uint8_t> FStates; // 0 empty, 1 one key, 2 chain
  std::vector<TNode*> FChains;
  int FCount = 0;
};

// CIE L*a*b* of the TIFF codec's CIELab pictures.
void RvRGBToCIELab(int Color, std::uint8_t Lab[3]);
void RvCIELabToRGB(int Lab, TRGB& C);

// Files and windows.
bool RvDirectoryExists(const std::string& Path);
// Raises std::runtime_error "Cannot Create Directory" for an empty path.
void RvForceDirectories(const std::string& Path);
// The first widget on the owner chain of Component (nullptr when none); the
// scanner dialogs take it as their parent.
QWidget* RvOwnerWindowHandle(QObject* Component);

// Geometry.
inline constexpr double RvFarAway = 1000000;
double RvDistance(int X1, int Y1, int X2, int Y2);
double RvPointLineDistance(int PX, int PY, int AX, int AY, int BX, int BY);
double RvPointSegmentDistance(int PX, int PY, int AX, int AY, int BX, int BY);
double RvPointPolylineDistance(int X, int Y, const platform::TPoint* Points, int Count,
                               double ZoomX, double ZoomY, int OffsetX, int OffsetY, int OriginX,
                               int OriginY);
bool RvRectsIntersect(int X1, int Y1, int X2, int Y2, int RX1, int RY1, int RX2, int RY2);
int RvRectInRect(int AX1, int AY1, int AX2, int AY2, int BX1, int BY1, int BX2, int BY2);
bool RvPointInRect(int X, int Y, int X1, int Y1, int X2, int Y2);
bool RvPointInRectOrdered(int X, int Y, int X1, int Y1, int X2, int Y2);
void RvSnapLine(int X1, int Y1, int& X2, int& Y2);

} // namespace rv
