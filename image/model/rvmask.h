// The picture-sized mask: a 1-bit selection or an 8-bit transparency, with
// the bounding box of its set pixels so that work touches only that part.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "platform/graphics.h"

namespace rv {

// Separates the polygons of one AddPolygons point list.
inline constexpr std::int32_t RvPolygonSeparator = 0xFFFFF;

class TRvMask {
public:
  TRvMask();
  ~TRvMask();
  TRvMask(const TRvMask&) = delete;
  TRvMask& operator=(const TRvMask&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitCount() const { return FBitCount; }
  int RowLen() const { return FRowLen; }
  std::uint8_t* Bits() { return FBits.empty() ? nullptr : FBits.data(); }

  // The bounding box (inclusive); empty when X1 = INT_MAX.
  int X1() const { return FX1; }
  int Y1() const { return FY1; }
  int X2() const { return FX2; }
  int Y2() const { return FY2; }
  void SetBox(int X1, int Y1, int X2, int Y2);
  // For an 8-bit mask: every pixel 255. A 1-bit mask written counts as full.
  bool Full() const { return FFull; }
  void SetFull(bool Value) { FFull = Value; }

  // A zeroed block of 1 or 8 bits (other bit counts leave none).
  void Allocate(int Width, int Height, int BitCount);
  void FreeBits();
  void Assign(const TRvMask* Source);
  // Row Y, bottom-up block; no check.
  std::uint8_t* ScanLine(int Y) {
    return FBits.data() + static_cast<std::size_t>(FHeight - Y - 1) * static_cast<std::size_t>(FRowLen);
  }
  const std::uint8_t* ScanLine(int Y) const {
    return FBits.data() + static_cast<std::size_t>(FHeight - Y - 1) * static_cast<std::size_t>(FRowLen);
  }

  void SetPixel(int X, int Y, int Value);
  int GetPixel(int X, int Y) const;
  bool IsPointInside(int X, int Y) const { return GetPixel(X, Y) != 0; }
  int FillSpan(int Value, int X1, int Y, int X2);
  void Fill(int Value);
  void Clear();
  bool IsEmpty() const { return FX1 == INT_MAX; }

  void AddPolygons(int Value, const platform::TPoint* Points, int Count);
  void FillPolygon(int Value, const platform::TPoint* Points, int Count);
  void Translate(int& DX, int& DY, bool Clip);

  void DrawXor(platform::TCanvas& Canvas, int DestX, int DestY, int DestW, int DestH, int SourceX,
               int SourceY, int SourceW, int SourceH);
  void DrawOutline(platform::TCanvas& Canvas, int OffsetX, int OffsetY, platform::TColor Color1,
                   platform::TColor Color2, int Phase, int DestWidth, int DestHeight,
                   int ZoomWidth, int ZoomHeight, int OriginX, int OriginY);
  void CopyBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest, bool SourceAtBox,
                  bool DestAtBox);

private:
  void EmptyBox();
  void ClampBox();
  void ApplyFull(int Value) {
    if (!(FBitCount != 8 || Value == 255)) FFull = false;
  }

  int FWidth = 0;
  int FHeight = 0;
  int FBitCount = 0;
  int FRowLen = 0;
  std::vector<std::uint8_t> FBits;
  int FX1 = INT_MAX;
  int FY1 = INT_MAX;
  int FX2 = 0;
  int FY2 = 0;
  platform::TBitmapInfo FDibInfo;
  // Outline work buffer, kept between paints.
  std::vector<std::uint8_t> FOutline;
  int FOutlineWidth = 0;
  int FOutlineHeight = 0;
  int FOutlineRowLen = 0;
  bool FFull = false;
};

} // namespace rv
