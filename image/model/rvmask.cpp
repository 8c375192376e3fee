#include "image/model/rvmask.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cstring>

#include "image/model/rvbits.h"

namespace rv {

TRvMask::TRvMask() {
  FDibInfo.bmiHeader.biBitCount = 1;
  FDibInfo.bmiColors[1] = {255, 255, 255, 0};
}

TRvMask::~TRvMask() = default;

void TRvMask::EmptyBox() {
  FX1 = FY1 = INT_MAX;
  FX2 = FY2 = 0;
}

void TRvMask::ClampBox() {
  FX1 = std::max(FX1, 0);
  FY1 = std::max(FY1, 0);
  FX2 = std::min(FX2, FWidth - 1);
  FY2 = std::min(FY2, FHeight - 1);
}

void TRvMask::SetBox(int X1, int Y1, int X2, int Y2) {
  FX1 = X1;
  FY1 = Y1;
  FX2 = X2;
  FY2 = Y2;
}

void TRvMask::Allocate(int Width, int Height, int BitCount) {
  FBits.clear();
  FBits.shrink_to_fit();
  FWidth = Width;
  FHeight = Height;
  FBitCount = 0;
  FRowLen = 0;
  if ((BitCount == 1 || BitCount == 8) && Width >= 1 && Height >= 1) {
    const std::int64_t rowLen = BitCount == 1 ? (static_cast<std::int64_t>(Width) + 31) / 32 * 4 : Width;
    FBits.assign(static_cast<std::size_t>(rowLen) * static_cast<std::size_t>(Height), 0);
    FBitCount = BitCount;
    FRowLen = static_cast<int>(rowLen);
  }
  EmptyBox();
  FFull = false;
}

void TRvMask::FreeBits() {
  FBits.clear();
  FBits.shrink_to_fit();
  FWidth = FHeight = FBitCount = FRowLen = 0;
}

void TRvMask::Assign(const TRvMask* Source) {
  if (Source == nullptr || Source == this) return;
  Allocate(Source->FWidth, Source->FHeight, Source->FBitCount);
  if (FBits.size() == Source->FBits.size()) FBits = Source->FBits;
  SetBox(Source->FX1, Source->FY1, Source->FX2, Source->FY2);
  FFull = Source->FFull;
}

void TRvMask::SetPixel(int X, int Y, int Value) {
  if (X < 0 || X >= FWidth || Y < 0 || Y >= FHeight || FBitCount == 0) return;
  if (Value != 0) {
    FX1 = std::min(FX1, X);
    FY1 = std::min(FY1, Y);
    FX2 = std::max(FX2, X);
    FY2 = std::max(FY2, Y);
    ClampBox();
  }
  ApplyFull(Value);
  if (FBitCount == 1)
    RvSetBit(ScanLine(Y), X, Value);
  else
    ScanLine(Y)[X] = static_cast<std::uint8_t>(Value);
}

int TRvMask::GetPixel(int X, int Y) const {
  if (X < 0 || X >= FWidth || Y < 0 || Y >= FHeight || FBitCount == 0) return 0;
  if (FBitCount == 1) return RvTestBit(ScanLine(Y), X) ? 1 : 0;
  return ScanLine(Y)[X];
}

int TRvMask::FillSpan(int Value, int X1, int Y, int X2) {
  // A row outside the mask is not smeared onto the edge row.
  if (Y < 0 || Y >= FHeight || FBitCount == 0) return 0;
  X1 = std::max(X1, 0);
  X2 = std::min(X2, FWidth - 1);
  if (X2 < X1) return 0;
  ApplyFull(Value);
  std::uint8_t* row = ScanLine(Y);
  if (FBitCount == 8) {
    std::memset(row + X1, Value & 255, static_cast<std::size_t>(X2 - X1 + 1));
  } else {
    int x = X1;
    for (; x <= X2 && (x & 7) != 0; ++x) RvSetBit(row, x, 1);
    const int whole = (X2 + 1 - x) / 8;
    if (whole > 0) {
      std::memset(row + x / 8, 0xFF, static_cast<std::size_t>(whole));
      x += whole * 8;
    }
    for (; x <= X2; ++x) RvSetBit(row, x, 1);
  }
  return X2 - X1 + 1;
}

void TRvMask::Fill(int Value) {
  std::fill(FBits.begin(), FBits.end(), static_cast<std::uint8_t>(Value));
  FFull = FBitCount != 8 || Value == 255;
}

void TRvMask::Clear() {
  Fill(0);
  EmptyBox();
}

void TRvMask::AddPolygons(int Value, const platform::TPoint* Points, int Count) {
  int start = 0;
  for (int i = 0; i <= Count; ++i) {
    if (i == Count || Points[i].X == RvPolygonSeparator) {
      if (i > start) FillPolygon(Value, Points + start, i - start);
      start = i + 1;
    }
  }
}

namespace {
struct TEdge {
  int X;      // at the current row
  int YEnd;   // higher y
  int DX, DY; // DY > 0
  int Step;   // DX div DY
  int Error;
};
} // namespace

void TRvMask::FillPolygon(int Value, const platform::TPoint* Points, int Count) {
  if (Count < 1) return;
  const int bx1 = FX1, by1 = FY1, bx2 = FX2, by2 = FY2;
  if (Value != 0) {
    for (int i = 0; i < Count; ++i) {
      FX1 = std::min(FX1, Points[i].X);
      FY1 = std::min(FY1, Points[i].Y);
      if (Points[i].X > FX2) FX2 = Points[i].X - 1;
      if (Points[i].Y > FY2) FY2 = Points[i].Y - 1;
    }
    ClampBox();
  }
  int ymin = Points[0].Y, ymax = Points[0].Y;
  for (int i = 1; i < Count; ++i) {
    ymin = std::min(ymin, Points[i].Y);
    ymax = std::max(ymax, Points[i].Y);
  }
  // Edges bucketed by their lower y.
  std::vector<std::pair<int, TEdge>> pending;
  for (int i = 0; i < Count; ++i) {
    platform::TPoint a = Points[i], b = Points[(i + 1) % Count];
    if (a.Y == b.Y) continue;
    if (a.Y > b.Y) std::swap(a, b);
    TEdge e{a.X, b.Y, b.X - a.X, b.Y - a.Y, 0, 0};
    e.Step = e.DX / e.DY;
    pending.emplace_back(a.Y, e);
  }
  std::stable_sort(pending.begin(), pending.end(),
                   [](const auto& l, const auto& r) { return l.first < r.first; });
  auto before = [](const TEdge& l, const TEdge& r) {
    if (l.X != r.X) return l.X < r.X;
    // Same x: the smaller slope dx/dy first.
    return static_cast<std::int64_t>(l.DX) * r.DY < static_cast<std::int64_t>(r.DX) * l.DY;
  };
  std::vector<TEdge> active;
  std::size_t next = 0;
  std::int64_t written = 0;
  for (std::int64_t y = ymin; y <= ymax; ++y) {
    std::erase_if(active, [&](const TEdge& e) { return e.YEnd == y; });
    for (TEdge& e : active) {
      e.X += e.Step;
      e.Error += 2 * (e.DX - e.Step * e.DY);
      if (e.Error > e.DY) {
        ++e.X;
        e.Error -= 2 * e.DY;
      } else if (e.Error < -e.DY) {
        --e.X;
        e.Error += 2 * e.DY;
      }
    }
    while (next < pending.size() && pending[next].first == y) active.push_back(pending[next++].second);
    std::stable_sort(active.begin(), active.end(), before);
    for (std::size_t k = 0; k + 1 < active.size(); k += 2) {
      const int left = active[k].X, right = active[k + 1].X - 1;
      if (left <= right) written += FillSpan(Value, left, static_cast<int>(y), right);
    }
  }
  // Nothing filled: the box stays what the mask's pixels were before.
  if (written == 0) SetBox(bx1, by1, bx2, by2);
}

void TRvMask::Translate(int& DX, int& DY, bool Clip) {
  if (IsEmpty() || FBitCount == 0) return;
  if (Clip) {
    if (FX1 + DX < 0) FX1 = -DX;
    if (FX2 + DX >= FWidth) FX2 -= FX2 + DX - FWidth + 1;
    if (FY1 + DY < 0) FY1 = -DY;
    if (FY2 + DY >= FHeight) FY2 -= FY2 + DY - FHeight + 1;
  } else {
    if (FX1 + DX < 0) DX = -FX1;
    if (FX2 + DX >= FWidth) DX -= FX2 + DX - FWidth + 1;
    if (FY1 + DY < 0) DY = -FY1;
    if (FY2 + DY >= FHeight) DY -= FY2 + DY - FHeight + 1;
  }
  if (DX == 0 && DY == 0) return;
  const std::vector<std::uint8_t> saved = FBits;
  std::fill(FBits.begin(), FBits.end(), 0);
  auto savedRow = [&](int y) {
    return saved.data() + static_cast<std::size_t>(FHeight - y - 1) * static_cast<std::size_t>(FRowLen);
  };
  for (int y = FY1; y <= FY2; ++y) {
    const int ty = y + DY;
    if (ty < 0 || ty >= FHeight) continue;
    if (FBitCount == 1) {
      if (FX2 >= FX1) RvCopyBits(ScanLine(ty), savedRow(y), FX1 + DX, FRowLen, FX2 - FX1 + 1, FX1);
    } else {
      const std::uint8_t* s = savedRow(y);
      std::uint8_t* d = ScanLine(ty);
      for (int x = FX1; x <= FX2; ++x) {
        const int tx = x + DX;
        if (tx >= 0 && tx < FWidth) d[tx] = s[x];
      }
    }
  }
  FX1 += DX;
  FX2 += DX;
  FY1 += DY;
  FY2 += DY;
  ClampBox();
  // Clipped away entirely: the mask is empty now and its box says so.
  if (FX1 > FX2 || FY1 > FY2) EmptyBox();
}

void TRvMask::DrawXor(platform::TCanvas& Canvas, int DestX, int DestY, int DestW, int DestH,
                      int SourceX, int SourceY, int SourceW, int SourceH) {
  if (IsEmpty() || FBitCount != 1 || FBits.empty()) return;
  FDibInfo.bmiHeader.biWidth = FWidth;
  FDibInfo.bmiHeader.biHeight = FHeight;
  FDibInfo.bmiHeader.biSizeImage = static_cast<std::uint32_t>(FBits.size());
  platform::StretchDIBits(Canvas, DestX, DestY, DestW, DestH, SourceX, FHeight - SourceY - SourceH,
                          SourceW, SourceH, FBits.data(), FDibInfo, platform::DIB_RGB_COLORS,
                          platform::SRCINVERT);
}

void TRvMask::DrawOutline(platform::TCanvas& Canvas, int OffsetX, int OffsetY, platform::TColor Color1,
                          platform::TColor Color2, int Phase, int DestWidth, int DestHeight,
                          int ZoomWidth, int ZoomHeight, int OriginX, int OriginY) {
  if (DestWidth < 1 || DestHeight < 1 || IsEmpty() || FBitCount != 1 || FBits.empty()) return;
  const QColor c1 = QColor::fromRgb(platform::ColorToQRgb(Color1));
  const QColor c2 = QColor::fromRgb(platform::ColorToQRgb(Color2));
  // Reallocated when either side changes: an equal area of another shape
  // has another row length.
  if (DestWidth != FOutlineWidth || DestHeight != FOutlineHeight) {
    FOutlineWidth = DestWidth;
    FOutlineHeight = DestHeight;
    FOutlineRowLen = (DestWidth + 31) / 32 * 4;
    FOutline.assign(static_cast<std::size_t>(FOutlineRowLen) * static_cast<std::size_t>(DestHeight), 0);
  } else {
    std::fill(FOutline.begin(), FOutline.end(), 0);
  }
  const std::int64_t stepX = (static_cast<std::int64_t>(ZoomWidth) << 14) / DestWidth;
  const std::int64_t stepY = (static_cast<std::int64_t>(ZoomHeight) << 14) / DestHeight;
  std::vector<int> mx(static_cast<std::size_t>(DestWidth)), my(static_cast<std::size_t>(DestHeight));
  for (int x = 0; x < DestWidth; ++x) mx[static_cast<std::size_t>(x)] = OriginX + static_cast<int>((x * stepX) >> 14);
  for (int y = 0; y < DestHeight; ++y) my[static_cast<std::size_t>(y)] = OriginY + static_cast<int>((y * stepY) >> 14);
  int bx1 = -1, bx2 = -1, by1 = -1, by2 = -1;
  for (int x = 0; x < DestWidth; ++x)
    if (mx[static_cast<std::size_t>(x)] >= FX1 && mx[static_cast<std::size_t>(x)] <= FX2) {
      if (bx1 < 0) bx1 = x;
      bx2 = x;
    }
  for (int y = 0; y < DestHeight; ++y)
    if (my[static_cast<std::size_t>(y)] >= FY1 && my[static_cast<std::size_t>(y)] <= FY2) {
      if (by1 < 0) by1 = y;
      by2 = y;
    }
  if (bx1 < 0 || by1 < 0) return;
  auto outline = [&](int y) { return FOutline.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(FOutlineRowLen); };
  for (int y = by1; y <= by2; ++y) {
    const std::uint8_t* src = ScanLine(my[static_cast<std::size_t>(y)]);
    std::uint8_t* dst = outline(y);
    for (int x = bx1; x <= bx2; ++x)
      if (RvTestBit(src, mx[static_cast<std::size_t>(x)])) RvSetBit(dst, x, 1);
  }
  const bool leftReal = bx1 > 0 || mx[0] == FX1;
  const bool rightReal = bx2 < DestWidth - 1 || mx[static_cast<std::size_t>(DestWidth - 1)] == FX2;
  const bool topReal = by1 > 0 || my[0] == FY1;
  const bool bottomReal = by2 < DestHeight - 1 || my[static_cast<std::size_t>(DestHeight - 1)] == FY2;
  QPolygon first, second;
  for (int y = by1; y <= by2; ++y) {
    const std::uint8_t* row = outline(y);
    for (int x = bx1; x <= bx2; ++x) {
      if (!RvTestBit(row, x)) continue;
      bool draw = false;
      const bool onEdge = x == bx1 || x == bx2 || y == by1 || y == by2;
      if (onEdge) {
        draw = (x == bx1 && leftReal) || (x == bx2 && rightReal) || (y == by1 && topReal) ||
               (y == by2 && bottomReal);
      } else {
        for (int ny = y - 1; ny <= y + 1 && !draw; ++ny)
          for (int nx = x - 1; nx <= x + 1; ++nx)
            if (!RvTestBit(outline(ny), nx)) {
              draw = true;
              break;
            }
      }
      if (!draw) continue;
      const int sx = x + OffsetX, sy = y + OffsetY;
      ((sx + sy + Phase) & 7) < 4 ? second.append(QPoint(sx, sy)) : first.append(QPoint(sx, sy));
    }
  }
  Canvas.Paint([&](QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(c1, 0));
    p.drawPoints(first);
    p.setPen(QPen(c2, 0));
    p.drawPoints(second);
  });
}

void TRvMask::CopyBitmap(const platform::TBitmap* Source, platform::TBitmap* Dest, bool SourceAtBox,
                         bool DestAtBox) {
  if (Source == nullptr || Dest == nullptr || IsEmpty() || FBits.empty()) return;
  const platform::TPixelFormat sf = Source->PixelFormat(), df = Dest->PixelFormat();
  const bool rgb = sf == platform::pf24bit && df == platform::pf24bit;
  const bool bw = sf == platform::pf1bit && df == platform::pf1bit;
  if (!rgb && !bw) return;
  const int sox = SourceAtBox ? FX1 : 0, soy = SourceAtBox ? FY1 : 0;
  const int dox = DestAtBox ? FX1 : 0, doy = DestAtBox ? FY1 : 0;
  for (int y = FY1; y <= FY2; ++y) {
    const int sy = y - soy, dy = y - doy;
    // Rows and columns beyond either bitmap are left alone.
    if (sy < 0 || sy >= Source->Height() || dy < 0 || dy >= Dest->Height()) continue;
    const std::uint8_t* m = ScanLine(y);
    const std::uint8_t* s = Source->ScanLine(sy);
    std::uint8_t* d = Dest->ScanLine(dy);
    for (int x = FX1; x <= FX2; ++x) {
      const int sx = x - sox, dx = x - dox;
      if (sx < 0 || sx >= Source->Width() || dx < 0 || dx >= Dest->Width()) continue;
      const int mv = FBitCount == 1 ? (RvTestBit(m, x) ? 255 : 0) : m[x];
      if (mv == 0) continue;
      if (bw) {
        RvSetBit(d, dx, RvTestBit(s, sx));
      } else if (FBitCount == 1) {
        std::memcpy(d + 3 * dx, s + 3 * sx, 3);
      } else {
        for (int c = 0; c < 3; ++c) {
          const int dv = d[3 * dx + c];
          d[3 * dx + c] = static_cast<std::uint8_t>(dv + (((s[3 * sx + c] - dv) * (mv * 1024)) >> 18));
        }
      }
    }
  }
}

} // namespace rv
