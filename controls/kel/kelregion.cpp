#include "controls/kel/kelregion.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "controls/kel/kelgraph.h"

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- raster shapes

namespace {

TRect Normalized(const TRect& r) {
  return Rect(std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
              std::max(r.Top, r.Bottom));
}

// The spans [left, right) of each row, rows from the top; rows of equal
// spans become one band, so the rectangles are in the order QRegion keeps
// them.
class TRowBands {
public:
  using TSpans = std::vector<std::pair<int, int>>;
  // spans: sorted from the left; touching and empty ones are taken care of.
  void AddRow(int y, const TSpans& spans) {
    FRow.clear();
    for (const auto& [left, right] : spans) {
      if (right <= left) continue;
      if (!FRow.empty() && left <= FRow.back().second) FRow.back().second = std::max(FRow.back().second, right);
      else FRow.emplace_back(left, right);
    }
    if (!FRow.empty() && y == FLastY + 1 && FRow == FLast) {
      for (std::size_t i = FRects.size() - FRow.size(); i < FRects.size(); ++i) FRects[i].setBottom(y);
    } else {
      for (const auto& [left, right] : FRow) FRects.push_back(QRect(left, y, right - left, 1));
    }
    FLast.swap(FRow);
    FLastY = y;
  }
  // The pixels x whose centres lie in [from, to].
  void AddSpan(int y, double from, double to) {
    AddRow(y, {{int(std::ceil(from - 0.5)), int(std::floor(to - 0.5)) + 1}});
  }
  QRegion Region() const {
    QRegion region;
    if (!FRects.empty()) region.setRects(FRects.data(), int(FRects.size()));
    return region;
  }

private:
  std::vector<QRect> FRects;
  TSpans FRow, FLast;
  int FLastY = 0;
};

} // namespace

QRegion KelEllipticRegion(const TRect& box) {
  const TRect r = Normalized(box);
  if (r.Width() <= 0 || r.Height() <= 0) return {};
  const double cx = (r.Left + r.Right) / 2.0, cy = (r.Top + r.Bottom) / 2.0;
  const double rx = r.Width() / 2.0, ry = r.Height() / 2.0;
  TRowBands bands;
  for (int y = r.Top; y < r.Bottom; ++y) {
    const double t = (y + 0.5 - cy) / ry;
    if (std::abs(t) >= 1) continue;
    const double hw = rx * std::sqrt(1 - t * t);
    bands.AddSpan(y, cx - hw, cx + hw);
  }
  return bands.Region();
}

QRegion KelRoundRectRegion(const TRect& box, int width, int height) {
  const TRect r = Normalized(box);
  if (r.Width() <= 0 || r.Height() <= 0) return {};
  const double rx = std::min(std::abs(width), r.Width()) / 2.0;
  const double ry = std::min(std::abs(height), r.Height()) / 2.0;
  if (rx <= 0 || ry <= 0) return QRegion(r.ToQRect());
  TRowBands bands;
  for (int y = r.Top; y < r.Bottom; ++y) {
    const double yc = y + 0.5;
    const double dy = yc < r.Top + ry ? r.Top + ry - yc : yc > r.Bottom - ry ? yc - (r.Bottom - ry) : 0.0;
    const double t = dy / ry;
    if (t >= 1) continue;
    const double inset = rx - rx * std::sqrt(1 - t * t);
    bands.AddSpan(y, r.Left + inset, r.Right - inset);
  }
  return bands.Region();
}

QRegion KelPolygonRegion(const std::vector<TPoint>& points) {
  // Scan lines through the pixel centres: the pixels whose centres lie
  // inside by the odd-even rule, an edge's own row counted half-open, as the
  // other shapes are.
  struct TEdge {
    double X0, Y0, Slope;
    int Top, Bottom; // rows whose centres it crosses: [Top, Bottom)
  };
  std::vector<TEdge> edges;
  const std::size_t n = points.size();
  for (std::size_t i = 0; i < n; ++i) {
    TPoint a = points[i], b = points[(i + 1) % n];
    if (a.Y == b.Y) continue;
    if (a.Y > b.Y) std::swap(a, b);
    const int top = int(std::ceil(a.Y - 0.5)), bottom = int(std::ceil(b.Y - 0.5));
    if (top >= bottom) continue;
    edges.push_back({double(a.X), double(a.Y), double(b.X - a.X) / double(b.Y - a.Y), top, bottom});
  }
  if (edges.empty()) return {};
  std::sort(edges.begin(), edges.end(), [](const TEdge& a, const TEdge& b) { return a.Top < b.Top; });
  int last = edges.front().Top;
  for (const TEdge& e : edges) last = std::max(last, e.Bottom);
  TRowBands bands;
  std::vector<const TEdge*> active;
  std::vector<double> crossings;
  TRowBands::TSpans spans;
  std::size_t next = 0;
  for (int y = edges.front().Top; y < last; ++y) {
    while (next < edges.size() && edges[next].Top == y) active.push_back(&edges[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [y](const TEdge* e) { return e->Bottom <= y; }),
                 active.end());
    crossings.clear();
    for (const TEdge* e : active) crossings.push_back(e->X0 + (y + 0.5 - e->Y0) * e->Slope);
    std::sort(crossings.begin(), crossings.end());
    spans.clear();
    for (std::size_t i = 0; i + 1 < crossings.size(); i += 2)
      spans.emplace_back(int(std::ceil(crossings[i] - 0.5)), int(std::ceil(crossings[i + 1] - 0.5)));
    bands.AddRow(y, spans);
  }
  return bands.Region();
}

// ---------------------------------------------------------------- region data

namespace {

// Beyond this the platform keeps no region coordinates either.
constexpr std::int64_t kMaxCoordinate = std::int64_t(1) << 27;

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = std::uint8_t(value >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
         std::uint32_t(at[3]) << 24;
}

void PutRect(std::uint8_t* at, int left, int top, int right, int bottom) {
  PutU32(at, std::uint32_t(left));
  PutU32(at + 4, std::uint32_t(top));
  PutU32(at + 8, std::uint32_t(right));
  PutU32(at + 12, std::uint32_t(bottom));
}

// Rectangles as QRegion keeps them: bands from the top, each band's pieces
// of one height from the left, apart from each other.
bool Canonical(const std::vector<QRect>& rects) {
  for (std::size_t i = 1; i < rects.size(); ++i) {
    const QRect& a = rects[i - 1];
    const QRect& b = rects[i];
    if (b.top() == a.top()) {
      if (b.bottom() != a.bottom() || b.left() <= a.right() + 1) return false;
    } else if (b.top() <= a.bottom()) {
      return false;
    }
  }
  return true;
}

// Unites pairs, then pairs of pairs: stored pieces in any order cost n log n.
QRegion UniteAll(const std::vector<QRect>& rects) {
  std::vector<QRegion> level;
  level.reserve(rects.size());
  for (const QRect& r : rects) level.emplace_back(r);
  while (level.size() > 1) {
    std::vector<QRegion> next;
    next.reserve(level.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < level.size(); i += 2) next.push_back(level[i].united(level[i + 1]));
    if (level.size() % 2) next.push_back(level.back());
    level = std::move(next);
  }
  return level.empty() ? QRegion() : level.front();
}

} // namespace

std::vector<std::uint8_t> KelRegionToData(const QRegion& region) {
  const int count = region.rectCount();
  std::vector<std::uint8_t> data(kelRegionHeaderSize + std::size_t(count) * kelRegionRectSize);
  PutU32(&data[0], kelRegionHeaderSize);
  PutU32(&data[4], 1);
  PutU32(&data[8], std::uint32_t(count));
  PutU32(&data[12], std::uint32_t(count) * kelRegionRectSize);
  const QRect bound = region.boundingRect();
  if (!region.isEmpty()) PutRect(&data[16], bound.left(), bound.top(), bound.right() + 1, bound.bottom() + 1);
  std::size_t at = kelRegionHeaderSize;
  for (const QRect& r : region) {
    PutRect(&data[at], r.left(), r.top(), r.right() + 1, r.bottom() + 1);
    at += kelRegionRectSize;
  }
  return data;
}

std::optional<QRegion> KelRegionFromData(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kelRegionHeaderSize) return std::nullopt;
  if (GetU32(data) != kelRegionHeaderSize || GetU32(data + 4) != 1) return std::nullopt;
  const std::uint64_t count = GetU32(data + 8);
  if (count > (size - kelRegionHeaderSize) / kelRegionRectSize) return std::nullopt;
  std::vector<QRect> rects;
  rects.reserve(std::size_t(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* at = data + kelRegionHeaderSize + i * kelRegionRectSize;
    const std::int64_t left = std::int32_t(GetU32(at)), top = std::int32_t(GetU32(at + 4));
    const std::int64_t right = std::int32_t(GetU32(at + 8)), bottom = std::int32_t(GetU32(at + 12));
    if (right < left || bottom < top) return std::nullopt;
    if (std::max({std::abs(left), std::abs(top), std::abs(right), std::abs(bottom)}) > kMaxCoordinate)
      return std::nullopt;
    if (right == left || bottom == top) continue;
    rects.push_back(QRect(QPoint(int(left), int(top)), QPoint(int(right) - 1, int(bottom) - 1)));
  }
  if (!Canonical(rects)) return UniteAll(rects);
  QRegion region;
  if (!rects.empty()) region.setRects(rects.data(), int(rects.size()));
  return region;
}

// ---------------------------------------------------------------- TKelRegionBorder

void TKelRegionBorder::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelRegionBorder*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FStyle = s->FStyle;
  FLightColor = s->FLightColor;
  FShadowColor = s->FShadowColor;
  FSingleColor = s->FSingleColor;
  EndUpdate(true);
}

// ---------------------------------------------------------------- TKelRegion

TKelRegion::TKelRegion() {
  LinkChild(FBorder);
  LinkChild(FMask);
  LinkChild(FShadow);
  FPoints.OnChange = [this](TKelPointList*) {
    UpdatePointRegion();
    Change();
  };
}

TKelRegion::~TKelRegion() { FPoints.OnChange = nullptr; }

void TKelRegion::SetShape(TKelRegionShape value) {
  if (value == FShape) return;
  FShape = value;
  if (value == rsPointList) UpdatePointRegion();
  Change();
}

void TKelRegion::SetRound(int& field, int value) {
  if (field == value) return;
  field = value;
  if (FShape == rsRoundRect || FShape == rsRoundNoseRect || FShape == rsRoundThinkBubble) Change();
}

void TKelRegion::SetRegionOffset(TPoint value) {
  if (value.X == FRegionOffset.X && value.Y == FRegionOffset.Y) return;
  FRegionOffset = value;
  Change();
}

void TKelRegion::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelRegion*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  BeginUpdate();
  FShape = s->FShape;
  FRoundX = s->FRoundX;
  FRoundY = s->FRoundY;
  FShadow.Assign(s->FShadow);
  FExtPos = s->FExtPos;
  FBorder.Assign(s->FBorder);
  FMask.Assign(s->FMask);
  EndUpdate(true);
}

void TKelRegion::UpdatePointRegion() {
  if (FPoints.Count() == 0 || FShape != rsPointList) return;
  StoreRegionData(KelPolygonRegion(FPoints.Points(0, FPoints.Count())));
}

void TKelRegion::WritePointList(TStream& stream) const {
  std::vector<std::int32_t> values;
  values.reserve(std::size_t(FPoints.Count()) * 2);
  for (int i = 0; i < FPoints.Count(); ++i) {
    values.push_back(FPoints.Point(i).X);
    values.push_back(FPoints.Point(i).Y);
  }
  KelWriteIntegerList(stream, values);
}

void TKelRegion::ReadPointList(TStream& stream) {
  const std::vector<std::int32_t> values = KelReadIntegerList(stream);
  // The points are packed in 16 bits each: a value outside 0..32767, or an x
  // without its y, would come back as another point.
  if (values.size() % 2 != 0) throw EKelContainerError("PointList: odd number of coordinates");
  for (const std::int32_t v : values)
    if (v < 0 || v > 32767) throw EKelContainerError("PointList: coordinate out of range");
  if (values.empty()) return;
  FPoints.BeginUpdate();
  for (std::size_t i = 0; i < values.size(); i += 2) FPoints.Add({values[i], values[i + 1]});
  FPoints.EndUpdate();
  FPoints.Changed();
}

// ---- shape geometry

std::vector<TPoint> TKelRegion::StarPoints(const TRect& r) {
  const int L = r.Left, T = r.Top, W = r.Width(), H = r.Height();
  const auto x = [&](double f) { return L + KelRound(f * W); };
  const auto y = [&](double g) { return T + KelRound(g * H); };
  return {{L + W / 2, T},    {x(0.65), y(0.38)}, {r.Right, y(0.38)}, {x(0.7), y(0.6)}, {x(0.85), r.Bottom},
          {L + W / 2, y(0.75)}, {x(0.15), r.Bottom}, {x(0.3), y(0.6)}, {L, y(0.38)},    {x(0.35), y(0.38)}};
}

std::vector<TPoint> TKelRegion::DiamondPoints(const TRect& r) {
  const int W = r.Width(), H = r.Height();
  return {{r.Left + W / 2, r.Top}, {r.Left, r.Top + H / 2}, {r.Left + W / 2, r.Bottom}, {r.Right, r.Top + H / 2}};
}

std::vector<TPoint> TKelRegion::OctagonPoints(const TRect& r) {
  const int L = r.Left, T = r.Top, w3 = r.Width() / 3, h3 = r.Height() / 3;
  return {{L + w3 * 2, T},      {L + w3, T},        {L, T + h3},          {L, T + h3 * 2},
          {L + w3, r.Bottom}, {L + w3 * 2, r.Bottom}, {r.Right, T + h3 * 2}, {r.Right, T + h3}};
}

std::vector<TPoint> TKelRegion::CombPoints(const TRect& r) {
  const int L = r.Left, T = r.Top, w2 = r.Width() / 2, h4 = r.Height() / 4;
  return {{L + w2, T},        {L, T + h4},          {L, T + h4 * 3},
          {L + w2, r.Bottom}, {r.Right, T + h4 * 3}, {r.Right, T + h4}};
}

namespace {

// The nose and the bubbles take room at the corner's two sides.
void ShrinkAtCorner(TRect& r, int d, TKelExtPos pos) {
  if (pos <= epRightTop) r.Top += d;
  else r.Bottom -= d;
  if (pos == epLeftTop || pos == epTopLeft || pos == epBottomLeft || pos == epLeftBottom) r.Left += d;
  else r.Right -= d;
}

} // namespace

std::vector<TPoint> TKelRegion::NosePoints(TRect& r, int d, int o, TKelExtPos pos) {
  ShrinkAtCorner(r, d, pos);
  const int s = KelRound(std::sqrt(2.0 * d * d));
  const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
  switch (pos) {
    case epLeftTop: return {{L - d, T - d}, {L, T + o}, {L, T + o + s}};
    case epTopLeft: return {{L - d, T - d}, {L + o, T}, {L + o + s, T}};
    case epTopRight: return {{R + d, T - d}, {R - o, T}, {R - o - s, T}};
    case epRightTop: return {{R + d, T - d}, {R, T + o}, {R, T + o + s}};
    case epRightBottom: return {{R + d, B + d}, {R, B - o}, {R, B - o - s}};
    case epBottomRight: return {{R + d, B + d}, {R - o, B}, {R - o - s, B}};
    case epBottomLeft: return {{L - d, B + d}, {L + o, B}, {L + o + s, B}};
    case epLeftBottom: return {{L - d, B + d}, {L, B - o}, {L, B - o - s}};
  }
  return {};
}

std::vector<TKelRegion::TBubble> TKelRegion::BubblePoints(TRect& r, int d, int n, TKelExtPos pos) {
  ShrinkAtCorner(r, d, pos);
  if (n < 1) n = 1;
  const double pi = std::numbers::pi;
  const double step = (d * 2 * pi / 4) / n / n;
  // The quarter circle's end angle as the original has it, not pi / 2.
  const double q = 1.57;
  const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
  std::vector<TBubble> bubbles;
  for (int k = 0; k <= n + 1; ++k) {
    const int diameter = KelRound(k * step);
    const double a = k * 90.0 / (n + 1) * pi / 180;
    const auto rc = [&](double v) { return KelRound(d * v); };
    int x = 0, y = 0;
    switch (pos) {
      case epLeftTop: x = L - rc(std::cos(a)); y = T - d + rc(std::sin(a)); break;
      case epTopLeft: x = L - d + rc(std::cos(q - a)); y = T - rc(std::sin(q - a)); break;
      case epTopRight: x = R + d - rc(std::cos(q - a)); y = T - rc(std::sin(q + a)); break;
      case epRightTop: x = R + rc(std::cos(a)); y = T - d + rc(std::sin(a)); break;
      case epRightBottom: x = R + rc(std::cos(a)); y = B + d - rc(std::sin(a)); break;
      case epBottomRight: x = R + d - rc(std::cos(q - a)); y = B + rc(std::sin(q - a)); break;
      case epBottomLeft: x = L - d + rc(std::cos(q - a)); y = B + rc(std::sin(q - a)); break;
      case epLeftBottom: x = L - rc(std::cos(a)); y = B + d - rc(std::sin(a)); break;
    }
    bubbles.push_back({x, y, diameter / 2});
  }
  return bubbles;
}

int TKelRegion::NoseOffset() const {
  if (FShape == rsNoseRect) return 5;
  return FExtPos == epLeftTop || FExtPos == epRightTop || FExtPos == epRightBottom || FExtPos == epLeftBottom
             ? FRoundY
             : FRoundX;
}

std::optional<QRegion> TKelRegion::BuildShape(const TRect& r) const {
  const int W = r.Width(), H = r.Height();
  const auto body = [&](TKelRegionShape kind, const TRect& b) {
    switch (kind) {
      case rsRoundRect: return KelRoundRectRegion(b, FRoundX, FRoundY);
      case rsElliptic: return KelEllipticRegion(b);
      default: return QRegion(Normalized(b).ToQRect());
    }
  };
  switch (FShape) {
    case rsRect: return QRegion(Normalized(r).ToQRect());
    case rsRoundRect: return KelRoundRectRegion(r, FRoundX, FRoundY);
    case rsBitmap:
      if (FMask.RegionData().empty()) return std::nullopt;
      return KelRegionFromData(FMask.RegionData());
    case rsNoseRect:
    case rsRoundNoseRect: {
      TRect shrunk = r;
      const std::vector<TPoint> nose = NosePoints(shrunk, W / 10, NoseOffset(), FExtPos);
      return body(FShape == rsNoseRect ? rsRect : rsRoundRect, shrunk).united(KelPolygonRegion(nose));
    }
    case rsElliptic: return KelEllipticRegion(r);
    case rsStar: return KelPolygonRegion(StarPoints(r));
    case rsRoundShield:
    case rsSharpShield: {
      // Laid out from the origin: the rectangle's left and top are not added.
      const int h5 = H / 5;
      const QRegion notches =
          KelEllipticRegion(Rect(-(W / 2), -h5, W / 2, h5)).united(KelEllipticRegion(Rect(W / 2, -h5, W / 2 + W, h5)));
      const QRegion above(Normalized(Rect(0, -40, W, 0)).ToQRect());
      QRegion shield;
      if (FShape == rsRoundShield) {
        shield = KelEllipticRegion(Rect(0, H, W, h5 - H));
      } else {
        const int v = 8 * H / 7;
        shield = KelEllipticRegion(Rect(-W, -v, W, v)).intersected(KelEllipticRegion(Rect(0, -v, 2 * W, v)));
      }
      return shield.subtracted(notches).subtracted(above);
    }
    case rsDiamond: return KelPolygonRegion(DiamondPoints(r));
    case rsOctagon: return KelPolygonRegion(OctagonPoints(r));
    case rsComb: return KelPolygonRegion(CombPoints(r));
    case rsHalfRound: return KelEllipticRegion(Rect(r.Left, 2 * r.Top - r.Bottom, r.Right, r.Bottom));
    case rsUserRegion:
      if (OwnerDesigning) return QRegion(Normalized(r).ToQRect());
      [[fallthrough]];
    case rsPointList:
      if (FRegionData.empty()) return std::nullopt;
      return KelRegionFromData(FRegionData);
    case rsThinkBubble:
    case rsRoundThinkBubble:
    case rsEllipticThinkBubble: {
      TRect shrunk = r;
      // Starts empty: a first 1 x 1 piece at (0, 0) would add a stray pixel
      // to every bubble shape.
      QRegion bubbles;
      for (const TBubble& b : BubblePoints(shrunk, W / 6, FBubbleCount, FExtPos))
        bubbles = bubbles.united(KelEllipticRegion(Rect(b.X - b.R, b.Y - b.R, b.X + b.R, b.Y + b.R)));
      const TKelRegionShape kind =
          FShape == rsThinkBubble ? rsRect : FShape == rsRoundThinkBubble ? rsRoundRect : rsElliptic;
      return body(kind, shrunk).united(bubbles);
    }
  }
  return std::nullopt;
}

const std::optional<QRegion>& TKelRegion::CreateRegion(const TRect& rect) {
  if (OwnerDestroying) return FHandle;
  TRect r = rect;
  r.Left += FRegionOffset.X;
  r.Top += FRegionOffset.Y;
  FHandle.reset();
  if (FShadow.Style() != hssNone) {
    r.Right -= FShadow.Depth();
    r.Bottom -= FShadow.Depth();
  }
  FHandle = BuildShape(r);
  return FHandle;
}

} // namespace kel
