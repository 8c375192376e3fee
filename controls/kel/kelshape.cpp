#include "controls/kel/kelshape.h"

#include <algorithm>
#include <cmath>

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- TKelPointList

std::uint32_t TKelPointList::Pack(TPoint p) {
  return (std::uint32_t(p.X) & 0xFFFFu) << 16 | (std::uint32_t(p.Y) & 0xFFFFu);
}

TPoint TKelPointList::Point(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::uint32_t v = FItems[std::size_t(index)];
  return {int(v >> 16), int(std::int16_t(v & 0xFFFF))};
}

void TKelPointList::SetPoint(int index, TPoint point) {
  if (index < 0 || index >= Count()) return;
  FItems[std::size_t(index)] = Pack(point);
  Changed();
}

void TKelPointList::Add(TPoint point) {
  FItems.push_back(Pack(point));
  Changed();
}

void TKelPointList::Clear() {
  FItems.clear();
  Changed();
}

void TKelPointList::Offset(int dx, int dy) {
  for (std::uint32_t& v : FItems) {
    const TPoint p{int(v >> 16), int(std::int16_t(v & 0xFFFF))};
    v = Pack({p.X + dx, p.Y + dy});
  }
  Changed();
}

void TKelPointList::Changed() {
  if (FUpdateCount < 1 && OnChange) OnChange(this);
}

std::vector<TPoint> TKelPointList::Points(int first, int count) const {
  std::vector<TPoint> out;
  for (int i = first; i < first + count; ++i) out.push_back(Point(i));
  return out;
}

// ---------------------------------------------------------------- outline

namespace {

int ShadowDepth(const TKelShadow* shadow) {
  return shadow != nullptr && shadow->Style() != hssNone ? shadow->Depth() : 0;
}

// Vertices of each kind (ellipse, rectangle and round rectangle: corners).
int VertexCount(TKelShapeType type) {
  switch (type) {
    case stEllipse:
    case stRectangle: return 2;
    case stRoundRect: return 3;
    case stDirectUp:
    case stDirectRight:
    case stDirectDown:
    case stDirectLeft: return 3;
    case stDiamond: return 4;
    case stComb: return 6;
    case stOctagon: return 8;
    case stStar: return 10;
  }
  return 2;
}

} // namespace

void KelShapeOutline(const TRect& rect, TKelShapeType type, TKelPointList& list, const TKelShadow* shadow,
                     const TKelSimpleBevel* bevel, bool square, int roundPercent) {
  list.BeginUpdate();
  list.Clear();
  const int sd = ShadowDepth(shadow);
  const int W0 = rect.Width(), H0 = rect.Height();
  int L = sd, T = sd, R = W0, B = H0;
  if (square) {
    L = 0;
    T = 0;
    if (W0 <= H0) {
      T += (H0 - W0) / 2;
      B -= (H0 - W0) / 2;
    } else {
      L += (W0 - H0) / 2;
      R -= (W0 - H0) / 2;
    }
    L += sd;
    T += sd;
  }
  const int W = R - L, H = B - T, cx = L + W / 2, cy = T + H / 2;
  const int c = roundPercent * std::min(W0 - sd, H0 - sd) / 100;
  const int bw = bevel != nullptr ? bevel->Width() : 1;
  const int h = bw / 2, h2 = (bw - 1) / 2;
  std::vector<TPoint> outer, inner;
  const auto fx = [&](double f) { return L + KelRound(f * W); };
  const auto fy = [&](double f) { return T + KelRound(f * H); };
  switch (type) {
    case stEllipse:
    case stRectangle:
      outer = {{L, T}, {R, B}};
      inner = {{L + h, T + h}, {R - h2, B - h2}};
      break;
    case stRoundRect:
      outer = {{L, T}, {R, B}, {c, c}};
      inner = {{L + h, T + h}, {R, B}, {c + sd, c + sd}};
      break;
    case stDirectUp:
      outer = {{cx, T}, {R, B}, {L, B}};
      inner = {{cx, T + h}, {R - h2, B - h2}, {L + 2 * h, B}};
      break;
    case stDirectRight:
      outer = {{L, T}, {R, cy}, {L, B}};
      inner = {{L + h, T + h}, {R - h2, cy}, {L + h, B - h2}};
      break;
    case stDirectDown:
      outer = {{L, T}, {R, T}, {cx, B}};
      inner = {{L + h, T + h}, {R - h2, T + h}, {cx, B}};
      break;
    case stDirectLeft:
      outer = {{R, T}, {L, cy}, {R, B}};
      inner = {{R - h2, T + h}, {L + h, cy}, {R - h2, B - h2}};
      break;
    case stDiamond:
      outer = {{cx, T}, {R, cy}, {cx, B}, {L, cy}};
      inner = {{cx, T + h}, {R - h2, cy}, {cx, B - h2}, {L + h, cy}};
      break;
    case stComb: {
      const int t = KelRound(H / 5.0);
      outer = {{cx, T}, {R, T + t}, {R, T + 4 * t}, {cx, B}, {L, T + 4 * t}, {L, T + t}};
      inner = {{cx, T + h},         {R - h2, T + t + h}, {R - h2, T + 4 * t + h},
               {cx, B - h2},        {L + h, T + 4 * t + h}, {L + h, T + t + h}};
      break;
    }
    case stOctagon: {
      const double k = 2 + std::sqrt(2.0);
      const int a = KelRound(W / k), b = KelRound(H / k);
      const int a2 = KelRound(std::sqrt(2.0) * a), b2 = KelRound(std::sqrt(2.0) * b);
      outer = {{L + a, T},      {L + a + a2, T},      {R, T + b}, {R, T + b + b2},
               {L + a + a2, B}, {L + a, B},           {L, T + b + b2}, {L, T + b}};
      inner = {{L + a + h, T + h},       {L + a + a2 + h, T + h}, {R - h2, T + b + h}, {R - h2, T + b + b2 + h},
               {L + a + a2 + h, B - h2}, {L + a + h, B - h2},     {L + h, T + b + b2 + h}, {L + h, T + b + h}};
      break;
    }
    case stStar:
      outer = {{cx, T},          {fx(0.65), fy(0.38)}, {R, fy(0.38)},        {fx(0.7), fy(0.6)},
               {fx(0.85), B},    {cx, fy(0.75)},       {fx(0.15), B},        {fx(0.3), fy(0.6)},
               {L, fy(0.38)},    {fx(0.35), fy(0.38)}};
      inner = outer;
      inner[0] = {cx, T + h};
      inner[2] = {R - h2, fy(0.38)};
      inner[4] = {fx(0.85), B - h2};
      inner[6] = {fx(0.15), B - h2};
      inner[8] = {L + h2, fy(0.38)};
      break;
  }
  for (const TPoint& p : outer) list.Add(p);
  for (const TPoint& p : inner) list.Add(p);
  list.EndUpdate();
  list.Changed();
}

// ---------------------------------------------------------------- painter

const QImage& KelTracingPattern(TColor color) {
  static QImage pattern;
  static TColor built = clNone;
  if (pattern.isNull() || built != color) {
    pattern = QImage(8, 8, QImage::Format_RGB32);
    const QRgb shade = ColorToQRgb(color) | 0xFF000000u;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) pattern.setPixel(x, y, ((x ^ y) & 1) ? shade : qRgb(255, 255, 255));
    built = color;
  }
  return pattern;
}

namespace {

void DrawPath(TCanvas& c, TKelShapeType type, const std::vector<TPoint>& v) {
  switch (type) {
    case stEllipse: c.Ellipse(v[0].X, v[0].Y, v[1].X, v[1].Y); break;
    case stRectangle: c.Rectangle(v[0].X, v[0].Y, v[1].X, v[1].Y); break;
    case stRoundRect: c.RoundRect(v[0].X, v[0].Y, v[1].X, v[1].Y, v[2].X, v[2].Y); break;
    default: c.Polygon(v.data(), static_cast<int>(v.size())); break;
  }
}

void Line(TCanvas& c, std::initializer_list<TPoint> points) {
  const std::vector<TPoint> p(points);
  c.Polyline(p.data(), static_cast<int>(p.size()));
}

void BevelLines(TCanvas& c, TKelShapeType type, const std::vector<TPoint>& in, int corner, TColor first,
                TColor second) {
  switch (type) {
    case stEllipse: {
      const int x0 = in[0].X, y0 = in[0].Y, x1 = in[1].X, y1 = in[1].Y;
      c.Pen.Color = first;
      c.Arc(x0, y0, x1, y1, x1, y0, x0, y1);
      c.Pen.Color = second;
      c.Arc(x0, y0, x1, y1, x0, y1, x1, y0);
      break;
    }
    case stRectangle: {
      const int x0 = in[0].X, y0 = in[0].Y, x1 = in[1].X - 1, y1 = in[1].Y - 1;
      c.Pen.Color = first;
      Line(c, {{x0, y1}, {x0, y0}, {x1, y0}});
      c.Pen.Color = second;
      Line(c, {{x1, y0}, {x1, y1}, {x0 - 1, y1}});
      break;
    }
    case stRoundRect: {
      // Straight edges between the corners; the top-right and bottom-left
      // arcs are split between the two colours at their middle.
      const int x0 = in[0].X, y0 = in[0].Y, x1 = in[1].X - 1, y1 = in[1].Y - 1;
      const int d = std::min({corner, x1 - x0, y1 - y0});
      const int r = d / 2;
      const auto arc = [&](int left, int top, double from, double to) {
        // Rays from the corner box's centre at the two angles (counter-clockwise).
        const double cx = left + (d + 1) / 2.0, cy = top + (d + 1) / 2.0, reach = d + 1.0;
        const double a = from * M_PI / 180, b = to * M_PI / 180;
        c.Arc(left, top, left + d + 1, top + d + 1, KelRound(cx + reach * std::cos(a)),
              KelRound(cy - reach * std::sin(a)), KelRound(cx + reach * std::cos(b)), KelRound(cy - reach * std::sin(b)));
      };
      c.Pen.Color = first;
      if (d > 1) {
        arc(x0, y0, 90, 180);
        arc(x1 - d, y0, 45, 90);
        arc(x0, y1 - d, 180, 225);
      }
      Line(c, {{x0, y1 - r}, {x0, y0 + r}});
      Line(c, {{x0 + r, y0}, {x1 - r + 1, y0}});
      c.Pen.Color = second;
      if (d > 1) {
        arc(x1 - d, y1 - d, 270, 360);
        arc(x1 - d, y0, 0, 45);
        arc(x0, y1 - d, 225, 270);
      }
      Line(c, {{x1, y0 + r}, {x1, y1 - r + 1}});
      Line(c, {{x1 - r, y1}, {x0 + r - 1, y1}});
      break;
    }
    default: {
      const auto P = [&](int i) { return in[std::size_t(i)]; };
      std::vector<std::vector<int>> a, b;
      switch (type) {
        case stDirectUp: a = {{2, 0, 1}}; b = {{1, 2}}; break;
        case stDirectRight: a = {{0, 2}}; b = {{0, 1, 2}}; break;
        case stDirectDown: a = {{0, 1}}; b = {{0, 2, 1}}; break;
        case stDirectLeft: a = {{0, 1, 2}}; b = {{0, 2}}; break;
        case stDiamond: a = {{3, 0, 1}}; b = {{1, 2, 3}}; break;
        case stComb: a = {{4, 5, 0, 1}}; b = {{1, 2, 3, 4}}; break;
        case stOctagon: a = {{6, 7, 0, 1, 2}}; b = {{2, 3, 4, 5, 6}}; break;
        case stStar:
          a = {{1, 2}, {3, 4}, {8, 9, 0}, {6, 7}};
          b = {{0, 1}, {2, 3}, {4, 5, 6}, {7, 8}};
          break;
        default: break;
      }
      const auto draw = [&](const std::vector<std::vector<int>>& runs, TColor color) {
        c.Pen.Color = color;
        for (const auto& run : runs) {
          std::vector<TPoint> pts;
          for (int i : run) pts.push_back(P(i));
          c.Polyline(pts.data(), static_cast<int>(pts.size()));
          // The end point of a polyline is left out: close it.
          c.LineTo(pts.back().X + 1, pts.back().Y);
        }
      };
      draw(a, first);
      draw(b, second);
      break;
    }
  }
}

} // namespace

void KelShapePaint(const TRect& rect, TCanvas& canvas, TKelShapeType type, TColor backColor, TColor maskColor,
                   const TBitmap* fillBitmap, const TKelShadow* shadow, const TKelSimpleBevel* bevel, int roundPercent,
                   const TBrush& brush, bool square, const TKelPointList* pointList) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  TKelPointList computed;
  if (pointList == nullptr) {
    KelShapeOutline(rect, type, computed, shadow, bevel, square, roundPercent);
    pointList = &computed;
  }
  const int k = VertexCount(type);
  std::vector<TPoint> outer = pointList->Points(0, k), inner = pointList->Points(k, k);
  for (auto* v : {&outer, &inner})
    for (TPoint& p : *v) {
      if (type == stRoundRect && &p == &(*v)[2]) continue;
      p.X += rect.Left;
      p.Y += rect.Top;
    }
  const int sd = ShadowDepth(shadow);
  const TPen oldPen = canvas.Pen;
  const TBrush oldBrush = canvas.Brush;
  const TColor oldBack = canvas.BackColor;
  const TBackMode oldMode = canvas.BackMode;

  if (sd > 0) {
    canvas.Pen.Style = psClear;
    canvas.Pen.Mode = pmCopy;
    canvas.Brush = TBrush{shadow->Color(), bsSolid, {}};
    if (shadow->Style() == hssTracing) {
      canvas.Brush.Pattern = KelTracingPattern(shadow->Color());
      canvas.Pen.Mode = pmMask;
    }
    DrawPath(canvas, type, outer);
    canvas.Pen.Mode = pmCopy;
  }
  for (auto* v : {&outer, &inner})
    for (TPoint& p : *v) {
      if (type == stRoundRect && &p == &(*v)[2]) continue;
      p.X -= sd;
      p.Y -= sd;
    }

  const int bw = bevel != nullptr ? bevel->Width() : 0;
  canvas.Pen = TPen{};
  canvas.Pen.Mode = pmCopy;
  if (bw > 0) {
    canvas.Pen.Width = bw;
    canvas.Pen.Color = bevel->Style() != sbNormal ? brush.Color : bevel->Color();
  } else {
    canvas.Pen.Style = psClear;
  }
  if (fillBitmap == nullptr || fillBitmap->Empty()) {
    canvas.Brush = brush;
    if (brush.Style != bsSolid) {
      canvas.BackColor = backColor;
      canvas.BackMode = bkOpaque;
    }
    DrawPath(canvas, type, inner);
  } else {
    TBitmap mask(rect.Width(), rect.Height(), pf24bit);
    KelFillSolidBitmap(mask, Rect(0, 0, rect.Width(), rect.Height()), maskColor);
    TCanvas& m = mask.Canvas();
    m.Pen = canvas.Pen;
    m.Pen.Color = clWhite;
    m.Brush = TBrush{clWhite, bsSolid, {}};
    std::vector<TPoint> local = inner;
    for (std::size_t i = 0; i < local.size(); ++i) {
      if (type == stRoundRect && i == 2) continue;
      local[i].X -= rect.Left;
      local[i].Y -= rect.Top;
    }
    DrawPath(m, type, local);
    KelDrawTransparentBitmap(canvas, rect, *fillBitmap, maskColor, clNone, &mask);
    canvas.Brush.Style = bsClear;
    canvas.Brush.Pattern = QImage();
    if (bw > 0) DrawPath(canvas, type, inner);
  }

  if (bw > 0 && bevel->Style() != sbNormal) {
    canvas.Pen = TPen{};
    canvas.Pen.Width = bw;
    const TColor first = bevel->Style() == sbInset ? bevel->ShadowColor() : bevel->LightColor();
    const TColor second = bevel->Style() == sbInset ? bevel->LightColor() : bevel->ShadowColor();
    BevelLines(canvas, type, inner, type == stRoundRect ? inner[2].X : 0, first, second);
  }
  canvas.Pen = oldPen;
  canvas.Brush = oldBrush;
  canvas.BackColor = oldBack;
  canvas.BackMode = oldMode;
}

} // namespace kel
