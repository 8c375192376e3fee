#include "image/model/rvregionscan.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/model/rvbits.h"
#include "image/model/rvhelpers.h"

namespace rv {

namespace {

bool Usable(const platform::TBitmap* Bitmap) {
  return Bitmap != nullptr && Bitmap->PixelFormat() == platform::pf24bit && !Bitmap->Empty();
}

inline bool Similar(const std::uint8_t* P, const std::uint8_t* Seed, int Tolerance) {
  const int d0 = std::abs(P[0] - Seed[0]), d1 = std::abs(P[1] - Seed[1]),
            d2 = std::abs(P[2] - Seed[2]);
  return RvMax(d0, RvMax(d1, d2)) <= Tolerance;
}

// The span seed fill shared by the connected modes: marks the visited
// (region) pixels and their bounding box.
class TSeedFill {
public:
  TSeedFill(const platform::TBitmap* Bitmap, int Tolerance)
      : FBitmap(Bitmap), FWidth(Bitmap->Width()), FHeight(Bitmap->Height()),
        FTolerance(Tolerance), FVisitedRowLen(static_cast<std::size_t>(FWidth / 8 + 1)),
        FVisited(FVisitedRowLen * static_cast<std::size_t>(FHeight), 0) {}

  void Run(int X, int Y) {
    std::memcpy(FSeed, FBitmap->ScanLine(Y) + 3 * static_cast<std::size_t>(X), 3);
    FStack.reserve(2 * static_cast<std::size_t>(FWidth));
    Push(Y, X, X, 1);
    Push(Y + 1, X, X, -1);
    while (!FStack.empty()) {
      const TSpan s = FStack.back();
      FStack.pop_back();
      const int y = s.Y + s.DY;
      if (y < 0 || y >= FHeight) continue;
      const std::uint8_t* row = FBitmap->ScanLine(y);
      int x = s.XLeft;
      while (x >= 0 && Inside(row, x, y)) {
        Visit(x, y);
        --x;
      }
      int l;
      if (x < s.XLeft) {
        l = x + 1;
        if (l < s.XLeft) Push(y, l, s.XLeft - 1, -s.DY);
        x = s.XLeft + 1;
      } else {
        // Nothing taken at XLeft: look for the next inside pixel first.
        x = SkipOutside(row, x, y, s.XRight);
        l = x;
        if (x > s.XRight) continue;
      }
      do {
        while (x < FWidth && Inside(row, x, y)) {
          Visit(x, y);
          ++x;
        }
        Push(y, l, x - 1, s.DY);
        if (x > s.XRight + 1) Push(y, s.XRight + 1, x - 1, -s.DY);
        x = SkipOutside(row, x, y, s.XRight);
        l = x;
      } while (x <= s.XRight);
    }
  }

  bool Visited(int X, int Y) const { return RvTestBit(VisitedRow(Y), X); }
  int MinX() const { return FMinX; }
  int MinY() const { return FMinY; }
  int MaxX() const { return FMaxX; }
  int MaxY() const { return FMaxY; }

private:
  struct TSpan {
    std::int32_t Y, XLeft, XRight, DY;
  };
  void Push(int Y, int XLeft, int XRight, int DY) { FStack.push_back(TSpan{Y, XLeft, XRight, DY}); }
  const std::uint8_t* VisitedRow(int Y) const {
    return FVisited.data() + FVisitedRowLen * static_cast<std::size_t>(Y);
  }
  bool Inside(const std::uint8_t* Row, int X, int Y) const {
    return !Visited(X, Y) && Similar(Row + 3 * static_cast<std::size_t>(X), FSeed, FTolerance);
  }
  // The first x after X (up to XRight + 1) that is inside.
  int SkipOutside(const std::uint8_t* Row, int X, int Y, int XRight) const {
    for (++X; X <= XRight && !Inside(Row, X, Y); ++X) {
    }
    return X;
  }
  void Visit(int X, int Y) {
    RvSetBit(FVisited.data() + FVisitedRowLen * static_cast<std::size_t>(Y), X, 1);
    FMinX = RvMin(FMinX, X);
    FMaxX = RvMax(FMaxX, X);
    FMinY = RvMin(FMinY, Y);
    FMaxY = RvMax(FMaxY, Y);
  }

  const platform::TBitmap* FBitmap;
  int FWidth, FHeight, FTolerance;
  std::size_t FVisitedRowLen;
  std::vector<std::uint8_t> FVisited;
  std::vector<TSpan> FStack;
  std::uint8_t FSeed[3] = {0, 0, 0};
  int FMinX = INT_MAX, FMinY = INT_MAX, FMaxX = 0, FMaxY = 0;
};

bool SeedInside(const platform::TBitmap* Bitmap, int X, int Y) {
  return X >= 0 && Y >= 0 && X < Bitmap->Width() && Y < Bitmap->Height();
}

// Chain directions in the order they are tried, and the step of each code.
struct TDirection {
  int DX, DY, Code;
};
constexpr TDirection Directions[8] = {{1, 0, 0},  {0, -1, 2}, {-1, 0, 4}, {0, 1, 6},
                                      {1, -1, 1}, {-1, -1, 3}, {-1, 1, 5}, {1, 1, 7}};
constexpr int CodeStep[8][2] = {{1, 0}, {1, -1}, {0, -1}, {-1, -1},
                                {-1, 0}, {-1, 1}, {0, 1},  {1, 1}};

// Walks the border cells (value 3) of a grid of cells four times finer than
// the pixels and turns the chain into polygon corners.
std::vector<platform::TPoint> TraceOutline(const std::vector<std::uint8_t>& Bits, int BW, int BH,
                                           int MinX, int MinY) {
  const std::int64_t cols = 4 * static_cast<std::int64_t>(BW) + 4;
  const std::int64_t rows = 4 * static_cast<std::int64_t>(BH) + 4;
  std::vector<std::uint8_t> grid(static_cast<std::size_t>(cols * rows), 0);
  auto cell = [&](std::int64_t c, std::int64_t r) -> std::uint8_t& {
    return grid[static_cast<std::size_t>(r * cols + c)];
  };
  const std::size_t bitRowLen = static_cast<std::size_t>(BW / 8 + 1);
  for (int y = 0; y < BH; ++y)
    for (int x = 0; x < BW; ++x)
      if (RvTestBit(Bits.data() + bitRowLen * static_cast<std::size_t>(y), x))
        for (int r = 4 * y + 2; r <= 4 * y + 5; ++r)
          for (int c = 4 * x + 2; c <= 4 * x + 5; ++c) cell(c, r) = 1;

  // Border cells: the cells just outside each run of region cells, along
  // rows and columns in both directions.
  for (std::int64_t r = 0; r < rows; ++r)
    for (std::int64_t c = 1; c < cols; ++c) {
      if (cell(c, r) == 1 && cell(c - 1, r) != 1) cell(c - 1, r) = 3;
      const std::int64_t rc = cols - 1 - c;
      if (cell(rc, r) == 1 && cell(rc + 1, r) != 1) cell(rc + 1, r) = 3;
    }
  for (std::int64_t c = 0; c < cols; ++c)
    for (std::int64_t r = 1; r < rows; ++r) {
      if (cell(c, r) == 1 && cell(c, r - 1) != 1) cell(c, r - 1) = 3;
      const std::int64_t rr = rows - 1 - r;
      if (cell(c, rr) == 1 && cell(c, rr + 1) != 1) cell(c, rr + 1) = 3;
    }

  // Start: the border cell nearest the top-left corner of all border cells.
  std::int64_t cornerC = INT64_MAX, cornerR = INT64_MAX;
  for (std::int64_t r = 0; r < rows; ++r)
    for (std::int64_t c = 0; c < cols; ++c)
      if (cell(c, r) == 3) {
        cornerC = std::min(cornerC, c);
        cornerR = std::min(cornerR, r);
      }
  if (cornerC == INT64_MAX) return {};
  std::int64_t startC = -1, startR = -1, best = INT64_MAX;
  for (std::int64_t r = 0; r < rows; ++r)
    for (std::int64_t c = 1; c < cols - 1; ++c)
      if (cell(c, r) == 3) {
        const std::int64_t d = (c - cornerC) * (c - cornerC) + (r - cornerR) * (r - cornerR);
        if (d < best) {
          best = d;
          startC = c;
          startR = r;
        }
      }
  if (startC < 0) return {};
  cell(startC, startR) = 2;

  auto isBorder = [&](std::int64_t c, std::int64_t r) {
    return c >= 0 && r >= 0 && c < cols && r < rows && cell(c, r) == 3;
  };
  std::vector<std::uint8_t> codes;
  std::int64_t c = startC, r = startR;
  int current = 4; // NE
  for (;;) {
    const TDirection& ahead = Directions[current];
    if (isBorder(c + ahead.DX, r + ahead.DY)) {
      c += ahead.DX;
      r += ahead.DY;
      cell(c, r) = 2;
      codes.push_back(static_cast<std::uint8_t>(ahead.Code));
    }
    int next = -1;
    for (int i = 0; i < 8; ++i)
      if (isBorder(c + Directions[i].DX, r + Directions[i].DY)) {
        next = i;
        break;
      }
    if (next < 0) break;
    c += Directions[next].DX;
    r += Directions[next].DY;
    cell(c, r) = 2;
    codes.push_back(static_cast<std::uint8_t>(Directions[next].Code));
    current = next;
  }
  for (const TDirection& d : Directions)
    if (c + d.DX == startC && r + d.DY == startR) {
      codes.push_back(static_cast<std::uint8_t>(d.Code));
      break;
    }

  std::vector<platform::TPoint> points;
  std::int64_t px = startC - 1 + 4 * static_cast<std::int64_t>(MinX);
  std::int64_t py = startR - 1 + 4 * static_cast<std::int64_t>(MinY);
  auto append = [&] {
    points.push_back(platform::TPoint{static_cast<std::int32_t>(px / 4),
                                      static_cast<std::int32_t>(py / 4)});
  };
  append();
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (i > 0 && codes[i] != codes[i - 1]) append();
    px += CodeStep[codes[i]][0];
    py += CodeStep[codes[i]][1];
  }
  return points;
}

} // namespace

void RvMagicWandFill(const platform::TBitmap* Bitmap, int X, int Y, TRvMask* Mask, int Tolerance,
                     bool MaxFilter) {
  if (!Usable(Bitmap) || Mask == nullptr || !SeedInside(Bitmap, X, Y)) return;
  TSeedFill fill(Bitmap, Tolerance);
  fill.Run(X, Y);
  const int w = Bitmap->Width(), h = Bitmap->Height();
  for (int y = fill.MinY(); y <= fill.MaxY(); ++y)
    for (int x = fill.MinX(); x <= fill.MaxX(); ++x) {
      if (!fill.Visited(x, y)) continue;
      if (!MaxFilter) {
        Mask->SetPixel(x, y, 1);
        continue;
      }
      for (int ny = RvMax(y - 1, 0); ny <= RvMin(y + 1, h - 1); ++ny)
        for (int nx = RvMax(x - 1, 0); nx <= RvMin(x + 1, w - 1); ++nx) Mask->SetPixel(nx, ny, 1);
    }
}

std::vector<platform::TPoint> RvMagicWandOutline(const platform::TBitmap* Bitmap, int X, int Y,
                                                 int Tolerance, bool MaxFilter) {
  if (!Usable(Bitmap) || !SeedInside(Bitmap, X, Y)) return {};
  TSeedFill fill(Bitmap, Tolerance);
  fill.Run(X, Y);
  const int minX = fill.MinX(), minY = fill.MinY();
  const int bw = fill.MaxX() - minX + 1, bh = fill.MaxY() - minY + 1;
  const std::size_t bitRowLen = static_cast<std::size_t>(bw / 8 + 1);
  std::vector<std::uint8_t> bits(bitRowLen * static_cast<std::size_t>(bh), 0);
  for (int y = 0; y < bh; ++y)
    for (int x = 0; x < bw; ++x) {
      if (!fill.Visited(x + minX, y + minY)) continue;
      if (!MaxFilter) {
        RvSetBit(bits.data() + bitRowLen * static_cast<std::size_t>(y), x, 1);
        continue;
      }
      for (int ny = RvMax(y - 1, 0); ny <= RvMin(y + 1, bh - 1); ++ny)
        for (int nx = RvMax(x - 1, 0); nx <= RvMin(x + 1, bw - 1); ++nx)
          RvSetBit(bits.data() + bitRowLen * static_cast<std::size_t>(ny), nx, 1);
    }
  return TraceOutline(bits, bw, bh, minX, minY);
}

void RvSelectSimilarColors(const platform::TBitmap* Bitmap, int X, int Y, TRvMask* Mask,
                           int Tolerance) {
  // A seed outside the picture has no colour to compare with.
  if (!Usable(Bitmap) || Mask == nullptr || !SeedInside(Bitmap, X, Y)) return;
  std::uint8_t seed[3];
  std::memcpy(seed, Bitmap->ScanLine(Y) + 3 * static_cast<std::size_t>(X), 3);
  for (int y = 0; y < Bitmap->Height(); ++y) {
    const std::uint8_t* p = Bitmap->ScanLine(y);
    for (int x = 0; x < Bitmap->Width(); ++x, p += 3)
      if (Similar(p, seed, Tolerance)) Mask->SetPixel(x, y, 1);
  }
}

} // namespace rv
