#include "platform/metafile.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRegion>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/stream.h"

namespace platform {

namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::uint32_t kEmfSignature = 0x464D4520; // " EMF"
constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kEmfHeaderMin = 88;
constexpr std::int64_t kMaxMetafileBytes = std::int64_t(1) << 30;
constexpr int kMaxSavedDCs = 1024;
constexpr std::size_t kMaxObjects = 65536;
constexpr int kMaxTextChars = 8192;
// Shapes mapped beyond this many target pixels are damage, not pictures, and
// would only keep the rasteriser busy.
constexpr double kMaxCoordinate = 1 << 24;
// The work budgets of one play. Fills and wide outlines are painted by the
// scanline filler below, thin outlines by the platform's line drawing, onto
// the 24-bit picture of a read, at most 2800 pixels a side; each budget pays
// for one kind of work and holds a second or two of it there, and a shape
// (or an outline) the rest of a budget cannot pay for is left out as a
// whole, which leaves the budget to the shapes after it.
//
// Edges: for every filled shape the heights of its edges within the frame
// (a curve's by its control polygon, never less), at most kFillFrameHeights
// frame heights; the filler steps each edge once a row, some ten
// nanoseconds. A shape whose edges cover the frame's height more than
// kCrowdedFrameHeights times is charged that much more again: no drawing
// crowds its rows so, and the comb polygon of 2,000 points zigzagging across
// the frame, made to keep a rasteriser busy, stays out. A star of 2,000
// points takes a quarter of the budget with its crowding, a zigzag of 500
// points a half, a page of text as one outline about a hundred frame
// heights.
constexpr std::int64_t kFillFrameHeights = 8192;
constexpr double kCrowdedFrameHeights = 64;
// Fill pixels: the pixels the fills paint within the frame, at most
// kFillFrameAreas times the frame's area, a few milliseconds each at the
// largest size. A blend of 256 concentric steps paints about 70 frames, a
// page of layered backgrounds a few. Blits (with or without a picture) and
// text pay from it too, by the pixels of their destination and of their
// glyphs within the frame: a page of text comes to a small part of one
// frame. What costs the platform more than a solid fill counts that many
// times: a hatch or pattern brush, which it paints pixel by pixel, about ten
// times; a picture stretched or combined onto the frame about twice. A clip
// region that cuts a fill into pieces adds the cost of a span for each row
// of each, some fifty pixels.
constexpr double kFillFrameAreas = 512;
constexpr int kPatternCost = 10;
constexpr int kPictureCost = 2;
constexpr int kClipRunCost = 48;
// What the platform draws itself under a clip region of many rectangles
// costs more for each of them it walks: a picture some four hundred pixels
// for each row of each, a thin outline a pixel of its length for each of its
// segments and each rectangle within its bounds.
constexpr double kClipPictureRowCost = 400;
constexpr double kClipSegmentCost = 1;
// Thin lines: the length within the frame of every outline drawn with a
// pen a pixel wide, at most kStrokeFrameDiagonals frame diagonals, about a
// second of them. Each of their pixels costs the platform a span of its own
// on the 24-bit picture, a tenth of a microsecond or more on long lines
// across the frame, a little less round small markers: a 64 KB polyline
// zigzagging across the frame stays out, while graph paper ruled every
// millimetre over A3 takes a fifth of it, at any size, as thin lines grow
// with the drawing's size, and a scatter plot of 70,000 markers outlined
// under a hairline pen some two fifths at the largest.
constexpr double kStrokeFrameDiagonals = 2560;
// Wide outlines: what every outline drawn with a wider pen covers within the
// frame, its length there times the pen's width, each figure one width
// longer for its caps or corners and each segment at least a pixel long for
// its join, at most kWideFrameAreas frame areas. The filler paints a row of
// such a band as one span, tens of nanoseconds a pixel covered at worst.
// Wide pens grow with the drawing's area: at the largest size an A3
// cross-hatch every 1.5 mm under a pen of 0.35 mm covers half a frame, a
// scatter plot of 35,000 open circles most of one, and a clip art of 1,000
// blobs outlined 0.6 % of the frame wide a frame and a quarter.
constexpr double kWideFrameAreas = 4;

// Little-endian reads that answer 0 and clear ok instead of reading past the
// end of the record.
struct Bytes {
  const std::uint8_t* p = nullptr;
  std::size_t n = 0;
  bool ok = true;

  bool Has(std::size_t off, std::size_t len) const { return off <= n && len <= n - off; }
  std::uint8_t U8(std::size_t off) {
    if (!Has(off, 1)) return Fail();
    return p[off];
  }
  std::uint16_t U16(std::size_t off) {
    if (!Has(off, 2)) return Fail();
    return std::uint16_t(p[off] | (p[off + 1] << 8));
  }
  std::int16_t I16(std::size_t off) { return std::int16_t(U16(off)); }
  std::uint32_t U32(std::size_t off) {
    if (!Has(off, 4)) return Fail();
    return std::uint32_t(p[off]) | (std::uint32_t(p[off + 1]) << 8) |
           (std::uint32_t(p[off + 2]) << 16) | (std::uint32_t(p[off + 3]) << 24);
  }
  std::int32_t I32(std::size_t off) { return std::int32_t(U32(off)); }
  float F32(std::size_t off) {
    std::uint32_t bits = U32(off);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  std::uint8_t Fail() {
    ok = false;
    return 0;
  }
};

// MulDiv of the platform: halves round away from zero; 0 for a zero divisor.
std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  __extension__ typedef __int128 Wide;
  Wide num = Wide(a) * b;
  bool negative = (num < 0) != (c < 0);
  Wide an = num < 0 ? -num : num;
  Wide ac = c < 0 ? -Wide(c) : Wide(c);
  Wide q = (2 * an + ac) / (2 * ac);
  if (q > Wide(std::numeric_limits<std::int64_t>::max())) q = std::numeric_limits<std::int64_t>::max();
  return negative ? -std::int64_t(q) : std::int64_t(q);
}

QColor ColorRef(std::uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// ---------------------------------------------------------------- DIBs

QImage DecodeDIB(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits,
                 std::size_t bitsSize) {
  Bytes h{info, infoSize};
  std::uint32_t headerSize = h.U32(0);
  std::int64_t width = 0, height = 0;
  unsigned bitCount = 0;
  std::uint32_t compression = 0, colorsUsed = 0;
  std::size_t entrySize = 4;
  if (headerSize == 12) {
    width = h.U16(4);
    height = h.U16(6);
    bitCount = h.U16(10);
    entrySize = 3;
  } else if (headerSize >= 40) {
    width = h.I32(4);
    height = h.I32(8);
    bitCount = h.U16(14);
    compression = h.U32(16);
    colorsUsed = h.U32(32);
  } else {
    return {};
  }
  if (!h.ok || !h.Has(0, headerSize) || compression != 0) return {};
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return {};
  bool topDown = height < 0;
  height = std::abs(height);
  if (width <= 0 || height <= 0 || width > 0x100000 || height > 0x100000) return {};
  if (width * height > (std::int64_t(1) << 28)) return {};

  std::uint64_t tableEntries = colorsUsed;
  if (bitCount <= 8 && tableEntries == 0) tableEntries = 1u << bitCount;
  if (tableEntries > 65536) return {};
  std::uint64_t tableBytes = tableEntries * entrySize;
  if (!h.Has(headerSize, tableBytes)) return {};
  std::vector<QRgb> palette;
  if (bitCount <= 8) {
    palette.assign(std::size_t(1) << bitCount, qRgb(0, 0, 0));
    for (std::size_t i = 0; i < palette.size() && i < tableEntries; ++i) {
      const std::uint8_t* e = info + headerSize + i * entrySize;
      palette[i] = qRgb(e[2], e[1], e[0]);
    }
  }
  if (!bits) {
    bits = info + headerSize + tableBytes;
    bitsSize = infoSize - headerSize - tableBytes;
  }
  std::uint64_t stride = (std::uint64_t(width) * bitCount + 31) / 32 * 4;
  if (stride * std::uint64_t(height) > bitsSize) return {};

  QImage image(int(width), int(height), QImage::Format_RGB32);
  if (image.isNull()) return {};
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bits + stride * std::uint64_t(topDown ? y : height - 1 - y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      switch (bitCount) {
        case 1: out[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: out[x] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F]; break;
        case 8: out[x] = palette[row[x]]; break;
        case 24: out[x] = qRgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]); break;
        default: out[x] = qRgb(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]); break;
      }
    }
  }
  return image;
}

// ---------------------------------------------------------------- filler

// A shape's outline as polygons on the device, curves flattened to within a
// quarter of a pixel. Only what lies in clip matters: a curve whose control
// points all lie above, below, right or left of it crosses each of its rows
// as its chord does, and is taken as that. A curve takes at most four
// segments a row it spans there, so that its points are paid for by its
// edges.
std::vector<QPolygonF> Flatten(const QPainterPath& shape, const QTransform& t, const QRectF& clip) {
  std::vector<QPolygonF> out;
  const int n = shape.elementCount();
  for (int i = 0; i < n; ++i) {
    const QPainterPath::Element& e = shape.elementAt(i);
    const QPointF p = t.map(QPointF(e.x, e.y));
    if (e.isMoveTo() || out.empty()) {
      out.emplace_back();
      out.back().append(p);
      continue;
    }
    QPolygonF& poly = out.back();
    if (!e.isCurveTo() || i + 2 >= n) {
      poly.append(p);
      continue;
    }
    const QPointF a = poly.back(), c1 = p, c2 = t.map(QPointF(shape.elementAt(i + 1))),
                  b = t.map(QPointF(shape.elementAt(i + 2)));
    i += 2;
    const double top = std::min({a.y(), c1.y(), c2.y(), b.y()}), bottom = std::max({a.y(), c1.y(), c2.y(), b.y()});
    const double right = std::max({a.x(), c1.x(), c2.x(), b.x()}), left = std::min({a.x(), c1.x(), c2.x(), b.x()});
    if (bottom < clip.top() || top > clip.bottom() || right < clip.left() || left > clip.right()) {
      poly.append(b);
      continue;
    }
    // n segments stray at most 3/4 of the control points' bend over n².
    const QPointF d1 = a - 2 * c1 + c2, d2 = c1 - 2 * c2 + b;
    const double bend = std::max(std::hypot(d1.x(), d1.y()), std::hypot(d2.x(), d2.y()));
    const double rows = std::min(bottom, clip.bottom()) - std::max(top, clip.top());
    const double most = std::min(1024.0, 4 * (std::ceil(rows) + 1));
    const int steps = int(std::clamp(std::ceil(std::sqrt(bend * 3)), 1.0, most));
    for (int k = 1; k <= steps; ++k) {
      const double u = double(k) / steps, v = 1 - u;
      poly.append(v * v * v * a + 3 * v * v * u * c1 + 3 * v * u * u * c2 + u * u * u * b);
    }
  }
  return out;
}

// Fills polygons (each closed by its last edge) row by row within clip,
// calling span(y, left, right) for each run of pixels inside by rule, right
// exclusive. A pixel is inside when its centre is, as the platform fills
// without antialiasing. The edges crossing a row are kept in a list sorted
// by where they cross it; a row costs the edges crossing it, and their
// sorting, which keeps the order of the row before, costs the crossings
// between the two rows, or at worst a sort.
template <typename Span>
void ScanFill(const std::vector<QPolygonF>& polygons, Qt::FillRule rule, const QRect& clip, Span span) {
  struct Edge {
    double x, step;
    int end, direction;
  };
  struct Start {
    int row;
    Edge edge;
  };
  if (clip.isEmpty()) return;
  const double rowsTop = clip.top(), rowsEnd = double(clip.bottom()) + 1, right = double(clip.right()) + 1;
  std::vector<Start> starts;
  for (const QPolygonF& poly : polygons) {
    const qsizetype n = poly.size();
    for (qsizetype i = 0; i < n; ++i) {
      QPointF a = poly[i], b = poly[i + 1 < n ? i + 1 : 0];
      if (!std::isfinite(a.x() + a.y() + b.x() + b.y()) || a.y() == b.y()) continue;
      int direction = 1;
      if (a.y() > b.y()) {
        std::swap(a, b);
        direction = -1;
      }
      // Rows whose centre the edge reaches: from its top, up to its bottom.
      const double first = std::max(std::ceil(a.y() - 0.5), rowsTop), end = std::min(std::ceil(b.y() - 0.5), rowsEnd);
      // An edge right of the clip changes nothing inside it.
      if (first >= end || std::min(a.x(), b.x()) >= right) continue;
      const double step = (b.x() - a.x()) / (b.y() - a.y());
      starts.push_back({int(first), {a.x() + (first + 0.5 - a.y()) * step, step, int(end), direction}});
    }
  }
  std::sort(starts.begin(), starts.end(), [](const Start& l, const Start& r) { return l.row < r.row; });
  auto byX = [](const Edge& l, const Edge& r) { return l.x < r.x; };
  const double left = clip.left();
  auto column = [&](double x) { return int(std::clamp(std::ceil(x - 0.5), left, right)); };
  std::vector<Edge> active;
  std::size_t next = 0;
  int y = starts.empty() ? 0 : starts.front().row;
  while (next < starts.size() || !active.empty()) {
    if (active.empty()) y = starts[next].row;
    for (; next < starts.size() && starts[next].row == y; ++next) active.push_back(starts[next].edge);
    // Insertion sort while the order holds from the row before; a row that
    // reorders more than its edges a few times over is sorted outright.
    std::size_t moves = 0;
    const std::size_t patience = 8 * active.size() + 64;
    for (std::size_t i = 1; i < active.size(); ++i) {
      const Edge e = active[i];
      std::size_t j = i;
      for (; j > 0 && active[j - 1].x > e.x; --j) active[j] = active[j - 1];
      active[j] = e;
      moves += i - j;
      if (moves > patience) {
        std::sort(active.begin(), active.end(), byX);
        break;
      }
    }
    int winding = 0, runLeft = 0, runRight = 0;
    bool run = false;
    double from = 0;
    auto inside = [&] { return rule == Qt::OddEvenFill ? (winding & 1) != 0 : winding != 0; };
    auto add = [&](double to) {
      const int l = column(from), r = column(to);
      if (l >= r) return;
      if (run && l <= runRight) {
        runRight = std::max(runRight, r);
        return;
      }
      if (run) span(y, runLeft, runRight);
      run = true;
      runLeft = l;
      runRight = r;
    };
    for (const Edge& e : active) {
      const bool was = inside();
      winding += e.direction;
      if (!was && inside()) from = e.x;
      else if (was && !inside()) add(e.x);
    }
    // Still inside: the edges that close the run lie right of the clip.
    if (inside()) add(right);
    if (run) span(y, runLeft, runRight);
    ++y;
    std::size_t kept = 0;
    for (const Edge& e : active)
      if (e.end > y) active[kept++] = {e.x + e.step, e.step, e.end, e.direction};
    active.resize(kept);
  }
}

// Gathers spans given row by row, top to bottom and left to right within a
// row, into rectangles: a row whose spans repeat the row above lengthens its
// rectangles, so a band of equal rows becomes one rectangle a span. band(rects)
// takes the rectangles of each band once it ends; they share their rows.
template <typename Band> class Banding {
public:
  explicit Banding(Band band) : FBand(band) {}
  void Add(int y, int left, int right) {
    if (y != FRowY && !FRow.empty()) EndRow();
    FRowY = y;
    FRow.emplace_back(left, y, right - left, 1);
  }
  void Finish() {
    if (!FRow.empty()) EndRow();
    Flush();
  }

private:
  Band FBand;
  std::vector<QRect> FOpen, FRow;
  int FRowY = 0;
  void Flush() {
    if (!FOpen.empty()) FBand(FOpen);
    FOpen.clear();
  }
  void EndRow() {
    const bool repeats = FRow.size() == FOpen.size() && !FOpen.empty() && FOpen.front().bottom() == FRowY - 1 &&
                         std::equal(FRow.begin(), FRow.end(), FOpen.begin(), [](const QRect& a, const QRect& b) {
                           return a.left() == b.left() && a.right() == b.right();
                         });
    if (repeats) {
      for (QRect& r : FOpen) r.setBottom(FRowY);
    } else {
      Flush();
      FOpen.swap(FRow);
    }
    FRow.clear();
  }
};

// ---------------------------------------------------------------- player

// Pens, brushes and fonts as the records describe them; selected objects are
// copied into the device context, so deleting one never leaves a dangling use.
struct GdiObject {
  enum Kind { None, Pen, Brush, Font, Region, Other } kind = None;
  int style = 0;
  double width = 0;
  bool cosmetic = false;
  QColor color = Qt::black;
  int hatch = 0;
  QImage pattern;
  double height = 0;
  int weight = 0;
  bool italic = false, underline = false, strikeOut = false;
  int escapement = 0;
  QString face;
  std::vector<QRect> rects; // a region's, in logical units
};

GdiObject Obj(GdiObject::Kind kind) {
  GdiObject o;
  o.kind = kind;
  return o;
}

struct DeviceContext {
  GdiObject pen;
  GdiObject brush;
  GdiObject font;
  QColor textColor = Qt::black;
  QColor bkColor = Qt::white;
  int bkMode = 2; // OPAQUE
  int fillMode = 1; // ALTERNATE
  int textAlign = 0;
  int stretchMode = 1;
  QPointF position;
  QPointF windowOrg, windowExt{1, 1}, viewportOrg, viewportExt{1, 1};
  int mapMode = 1; // MM_TEXT
  QTransform world;
  // The clip region, in target pixels within the frame: set in logical
  // units, it stays where they lay then, whatever mapping follows. Without
  // one the whole frame is painted.
  bool clipped = false;
  QRegion clip;
};

enum { MM_TEXT = 1, MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8 };
enum { TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24 };
enum { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_PDY = 0x2000 };
// How a new clip area combines with the clip region.
enum { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
constexpr std::uint32_t kPatCopy = 0x00F00021;

class Player {
public:
  Player(QPainter& painter, const QTransform& deviceToTarget, const QRect& rect, TMetafileDrawStats& stats,
         const std::function<bool(int)>& keepGoing, double allowance)
      : P(painter), FDeviceToTarget(deviceToTarget * painter.transform()), FStats(stats), FKeepGoing(keepGoing) {
    FFrame = painter.transform().mapRect(QRectF(rect));
    FFrameHeight = double(std::max<std::int64_t>(1, std::llround(FFrame.height())));
    FPixels = PixelsIn(FFrame);
    if (const QPaintDevice* device = painter.device())
      FPixels &= QRect(0, 0, device->width(), device->height());
    FPaint = FPixels;
    const double area = FFrame.width() * FFrame.height();
    auto allow = [&](double work) {
      return std::llround(std::clamp(work * allowance, 1.0, double(std::int64_t(1) << 62)));
    };
    FStats.FillBudget = allow(double(kFillFrameHeights) * FFrameHeight);
    FStats.FillPixelBudget = allow(kFillFrameAreas * area);
    FStats.StrokeBudget = allow(kStrokeFrameDiagonals * FrameDiagonal());
    FStats.WideStrokeBudget = allow(kWideFrameAreas * area);
    dc.pen.kind = GdiObject::Pen;
    dc.brush.kind = GdiObject::Brush;
    dc.brush.color = Qt::white;
    dc.font.kind = GdiObject::Font;
    dc.font.height = 12;
    P.setRenderHint(QPainter::Antialiasing, false);
  }

protected:
  QPainter& P;
  DeviceContext dc;
  std::vector<DeviceContext> saved;
  bool inPath = false;
  QPainterPath path; // in reference-device coordinates
  QTransform FDeviceToTarget;
  TMetafileDrawStats& FStats;
  const std::function<bool(int)>& FKeepGoing;
  QRectF FFrame; // on the device
  double FFrameHeight = 1;
  QRect FPixels; // on the device, what fills and wide outlines may paint
  QRect FPaint; // FPixels within the clip region's bounds

  // The device pixels whose centres lie in r, r finite.
  static QRect PixelsIn(const QRectF& r) {
    auto pixel = [](double v) { return int(std::clamp(std::ceil(v - 0.5), -kMaxCoordinate, kMaxCoordinate)); };
    return QRect(QPoint(pixel(r.left()), pixel(r.top())), QPoint(pixel(r.right()) - 1, pixel(r.bottom()) - 1));
  }
  static bool Finite(const QRectF& r) {
    return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) && std::isfinite(r.bottom());
  }

  // Asked before the record at offset of size bytes: false ends the play.
  bool GoOn(std::size_t offset, std::size_t size) {
    if (!FKeepGoing || FKeepGoing(int(offset * 100 / std::max<std::size_t>(size, 1)))) return true;
    FStats.Stopped = true;
    return false;
  }

  double FrameDiagonal() const { return std::hypot(FFrame.width(), FFrame.height()); }
  // Walks shape's outline once t maps it onto the device: line(a, b) for
  // each straight edge and for each leg of a cubic one's control polygon,
  // which is never shorter nor spans fewer rows than the curve; figure()
  // after each figure. closed adds the edge back to each figure's start,
  // which a fill has and a stroke not.
  template <typename Line, typename Figure>
  static void Edges(const QPainterPath& shape, const QTransform& t, bool closed, Line line, Figure figure) {
    QPointF start, last;
    const int n = shape.elementCount();
    for (int i = 0; i < n; ++i) {
      const QPainterPath::Element& e = shape.elementAt(i);
      const QPointF p = t.map(QPointF(e.x, e.y));
      if (e.isMoveTo()) {
        if (i > 0) {
          if (closed) line(last, start);
          figure();
        }
        start = last = p;
      } else if (e.isCurveTo() && i + 2 < n) {
        const QPointF c2 = t.map(QPointF(shape.elementAt(i + 1))), end = t.map(QPointF(shape.elementAt(i + 2)));
        line(last, p);
        line(p, c2);
        line(c2, end);
        last = end;
        i += 2;
      } else {
        line(last, p);
        last = p;
      }
    }
    if (closed) line(last, start);
    figure();
  }
  // The rows the filler walks for shape's edges once t maps it onto the
  // device, within the frame, with the edge that closes each figure.
  double EdgeRows(const QPainterPath& shape, const QTransform& t) const {
    double rows = 0;
    Edges(shape, t, true, [&](QPointF a, QPointF b) { rows += EdgeRows(a, b); }, [] {});
    return rows;
  }
  // The rows of the frame the edge from a to b spans, on the device.
  double EdgeRows(QPointF a, QPointF b) const {
    const double top = std::max(std::min(a.y(), b.y()), FFrame.top());
    const double bottom = std::min(std::max(a.y(), b.y()), FFrame.bottom());
    return bottom > top ? bottom - top : 0;
  }
  // The work of filling a shape whose edges span rows of the frame.
  double Crowded(double rows) const { return rows * std::max(1.0, rows / (kCrowdedFrameHeights * FFrameHeight)); }
  // The length of the segment from a to b within area; negative when no
  // part of it lies there.
  static double ClippedLength(QPointF a, QPointF b, const QRectF& area) {
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double from = 0, to = 1;
    // Keeps the part where p * s <= q for s along the segment.
    auto keep = [&](double p, double q) {
      if (p == 0) return q >= 0;
      const double s = q / p;
      if (p < 0) from = std::max(from, s);
      else to = std::min(to, s);
      return from <= to;
    };
    if (!keep(-dx, a.x() - area.left()) || !keep(dx, area.right() - a.x()) || !keep(-dy, a.y() - area.top()) ||
        !keep(dy, area.bottom() - a.y()))
      return -1;
    return (to - from) * std::hypot(dx, dy);
  }
  // The width pen draws with under t on the device: 1 for a thin pen, and
  // a pen wider than the frame's diagonal paints no more of it than one
  // that wide.
  double PenWidth(const QPen& pen, const QTransform& t) const {
    if (pen.isCosmetic()) return 1;
    return std::clamp(pen.widthF() * LargestScale(t), 1.0, std::max(1.0, FrameDiagonal()));
  }
  // The ink of shape's outline drawn with pen under t: the length of each
  // figure within the frame times the pen's width. A wide pen reaches half
  // its width beyond the figure on every side, so each figure it touches
  // the frame with counts one width longer (its caps, or its corners), and
  // each segment at least a pixel long (its join).
  double StrokeWork(const QPainterPath& shape, const QTransform& t, const QPen& pen) const {
    if (pen.style() == Qt::NoPen) return 0;
    const double width = PenWidth(pen, t);
    const bool wide = width > 1;
    const double reach = wide ? width / 2 : 0;
    const QRectF area = FFrame.adjusted(-reach, -reach, reach, reach);
    double ink = 0, length = 0;
    bool touches = false;
    auto leg = [&](QPointF a, QPointF b) {
      const double part = ClippedLength(a, b, area);
      if (part < 0) return;
      length += wide ? std::max(part, 1.0) : part;
      touches = true;
    };
    Edges(shape, t, false, leg, [&] {
      if (touches) ink += wide ? (length + width) * width : length;
      length = 0;
      touches = false;
    });
    return ink;
  }
  // The edge work of filling shape with brush under t.
  double FillWork(const QPainterPath& shape, const QTransform& t, const QBrush& brush) const {
    return brush.style() == Qt::NoBrush ? 0 : Crowded(EdgeRows(shape, t));
  }

  // ---- the clip region

  void ClipChanged() { FPaint = dc.clipped ? FPixels & dc.clip.boundingRect() : FPixels; }
  // A clip region that keeps less than its bounds, which FPaint holds.
  bool ClipShaped() const { return dc.clipped && dc.clip.rectCount() > 1; }
  // Calls out(rects) with the parts of band (rectangles on the same rows,
  // left to right) that the clip region keeps, a band of its own for each
  // band of the clip region it meets: the two rows of spans are merged.
  template <typename Out> void ClipBand(const std::vector<QRect>& band, Out out) const {
    if (!ClipShaped()) return out(band);
    const int top = band.front().top(), bottom = band.front().bottom();
    const QRect* end = dc.clip.end();
    std::vector<QRect> kept;
    const QRect* c = std::partition_point(dc.clip.begin(), end, [&](const QRect& r) { return r.bottom() < top; });
    while (c != end && c->top() <= bottom) {
      const QRect* next = c;
      while (next != end && next->top() == c->top()) ++next;
      const int from = std::max(top, c->top()), to = std::min(bottom, c->bottom());
      kept.clear();
      for (auto a = band.begin(); a != band.end() && c != next;) {
        const int l = std::max(a->left(), c->left()), r = std::min(a->right(), c->right());
        if (l <= r) kept.emplace_back(QPoint(l, from), QPoint(r, to));
        if (a->right() < c->right()) ++a;
        else ++c;
      }
      if (!kept.empty()) out(kept);
      c = next;
    }
  }
  // Calls paint(rects) with the rectangles of area by rule that the frame
  // and the clip region keep, band by band; answers what painting them
  // costs in pixels of a solid fill: where a clip region cuts them into
  // pieces, kClipRunCost pixels more for each row of each, as the platform
  // paints a span for it.
  template <typename Paint>
  std::int64_t Rects(const std::vector<QPolygonF>& area, Qt::FillRule rule, Paint paint) const {
    const std::int64_t piece = ClipShaped() ? kClipRunCost : 0;
    std::int64_t cost = 0;
    Banding bands([&](const std::vector<QRect>& band) {
      ClipBand(band, [&](const std::vector<QRect>& rects) {
        paint(rects);
        for (const QRect& r : rects) cost += (std::int64_t(r.width()) + piece) * r.height();
      });
    });
    ScanFill(area, rule, FPaint, [&](int y, int l, int r) { bands.Add(y, l, r); });
    bands.Finish();
    return cost;
  }
  bool PayFillWork(double work) {
    if (work > double(FStats.FillBudget - FStats.FillWork)) return false;
    FStats.FillWork += std::int64_t(std::ceil(work));
    return true;
  }

  // Combines the clip region with the pixels of the frame that polygons
  // (on the device) cover by rule, as mode says. The filler walks their
  // edges and the regions' rectangles are combined, all paid from the fill
  // work, every edge too, as a region object may be selected again and
  // again; a change the budget cannot pay for is left out.
  bool ClipArea(const std::vector<QPolygonF>& polygons, Qt::FillRule rule, int mode) {
    if (mode < RGN_AND || mode > RGN_COPY) return false;
    double rows = 0, edges = 0;
    for (const QPolygonF& poly : polygons)
      for (qsizetype i = 0; i < poly.size(); ++i) {
        rows += EdgeRows(poly[i], poly[i + 1 < poly.size() ? i + 1 : 0]);
        ++edges;
      }
    const double work = Crowded(rows) + edges + (dc.clipped ? dc.clip.rectCount() : 1);
    const std::int64_t left = FStats.FillBudget - FStats.FillWork;
    if (work > double(left)) {
      // Its edges were walked all the same.
      FStats.FillWork += std::min(left, std::int64_t(edges));
      ++FStats.ShapesSkipped;
      return false;
    }
    std::vector<QRect> rects;
    Banding bands([&](const std::vector<QRect>& band) { rects.insert(rects.end(), band.begin(), band.end()); });
    ScanFill(polygons, rule, FPixels, [&](int y, int l, int r) { bands.Add(y, l, r); });
    bands.Finish();
    QRegion area;
    area.setRects(rects.data(), int(rects.size()));
    return CombineClip(area, mode, work);
  }
  bool CombineClip(const QRegion& area, int mode, double work) {
    const QRegion current = dc.clipped ? dc.clip : QRegion(FPixels);
    if (!PayFillWork(work + area.rectCount())) {
      ++FStats.ShapesSkipped;
      return false;
    }
    switch (mode) {
      case RGN_AND: dc.clip = current & area; break;
      case RGN_OR: dc.clip = current | area; break;
      case RGN_XOR: dc.clip = current ^ area; break;
      case RGN_DIFF: dc.clip = current - area; break;
      default: dc.clip = area; break;
    }
    dc.clipped = true;
    ClipChanged();
    return true;
  }
  // A rectangle in logical units; the platform's clip rectangles leave out
  // their right and bottom edges, as pixel centres on them are.
  bool ClipRect(const QRectF& r, int mode) {
    const QTransform full = Full();
    if (!Finite(full.mapRect(r))) return false;
    if (full.type() <= QTransform::TxScale)
      return CombineClip(QRegion(PixelsIn(full.mapRect(r)) & FPixels), mode, dc.clipped ? dc.clip.rectCount() : 1);
    return ClipArea({full.map(QPolygonF(r))}, Qt::OddEvenFill, mode);
  }
  // Rectangles in the units t maps onto the device.
  void ClipRects(const std::vector<QRect>& rects, const QTransform& t, int mode) {
    if (4 * double(rects.size()) > double(FStats.FillBudget - FStats.FillWork)) {
      ++FStats.ShapesSkipped;
      return;
    }
    std::vector<QPolygonF> polygons;
    polygons.reserve(rects.size());
    for (const QRect& r : rects) {
      const QPolygonF poly = t.map(QPolygonF(QRectF(r)));
      if (Finite(poly.boundingRect())) polygons.push_back(poly);
    }
    ClipArea(polygons, Qt::WindingFill, mode);
  }
  void OffsetClip(QPointF by) {
    if (!dc.clipped) return;
    const QTransform full = Full();
    const QPointF d = full.map(by) - full.map(QPointF(0, 0));
    if (!std::isfinite(d.x()) || !std::isfinite(d.y())) return;
    if (!PayFillWork(dc.clip.rectCount())) {
      ++FStats.ShapesSkipped;
      return;
    }
    auto step = [](double v) { return int(std::clamp(std::round(v), -kMaxCoordinate, kMaxCoordinate)); };
    dc.clip = dc.clip.translated(step(d.x()), step(d.y())) & FPixels;
    ClipChanged();
  }
  // The clip region within box (on the device), for what the platform
  // draws itself: thin outlines and pictures. The platform sets its clip up
  // span by span, so the spans within box are paid from the fill work with
  // the rectangles walked to find them; when they cannot be, the budget is
  // spent and paid is false. rects counts the rectangles kept, for what the
  // platform's drawing costs more under them.
  struct PlatformClip {
    bool paid = true;
    QRegion region;
    std::int64_t rects = 0, spans = 0;
  };
  PlatformClip ClipFor(const QRect& box) {
    PlatformClip clip;
    if (!ClipShaped()) {
      clip.region = QRegion(FPaint);
      return clip;
    }
    const std::int64_t left = FStats.FillBudget - FStats.FillWork;
    std::int64_t work = 0;
    std::vector<QRect> rects;
    const QRect* end = dc.clip.end();
    auto above = [&](const QRect& c) { return c.bottom() < box.top(); };
    for (auto c = std::partition_point(dc.clip.begin(), end, above); c != end && c->top() <= box.bottom(); ++c) {
      const QRect part = *c & box;
      work += 1 + (part.isEmpty() ? 0 : part.height());
      if (work > left) {
        FStats.FillWork = FStats.FillBudget;
        clip.paid = false;
        return clip;
      }
      if (part.isEmpty()) continue;
      rects.push_back(part);
      clip.spans += part.height();
    }
    FStats.FillWork += work;
    clip.region.setRects(rects.data(), int(rects.size()));
    clip.rects = std::int64_t(rects.size());
    return clip;
  }
  // Confines the platform's drawing to clip, between P.save() and P.restore().
  void Confine(const PlatformClip& clip) {
    if (!dc.clipped) return;
    P.resetTransform();
    P.setClipRegion(clip.region, Qt::IntersectClip);
  }
  bool PayPixels(double pixels) {
    if (pixels > double(FStats.FillPixelBudget - FStats.FillPixels)) {
      ++FStats.ShapesSkipped;
      return false;
    }
    FStats.FillPixels += std::int64_t(std::ceil(pixels));
    return true;
  }
  static int BrushCost(const QBrush& brush) { return brush.style() == Qt::SolidPattern ? 1 : kPatternCost; }

  // Draws shape under t, filled with brush and then outlined with pen, as
  // far as the budgets pay for it. A fill they cannot pay for leaves out the
  // whole shape; an outline, only itself (and the shape unless it is filled).
  void DrawShape(const QPainterPath& shape, const QTransform& t, QPen pen, const QBrush& brush) {
    const double fill = FillWork(shape, t, brush);
    if (fill > double(FStats.FillBudget - FStats.FillWork)) {
      ++FStats.ShapesSkipped;
      return;
    }
    std::vector<QPolygonF> area;
    const int cost = BrushCost(brush);
    if (brush.style() != Qt::NoBrush) {
      area = Flatten(shape, t, QRectF(FPaint));
      // A fill paints no more than the frame: only near the end of the
      // budget are its pixels counted before it is drawn.
      const std::int64_t left = FStats.FillPixelBudget - FStats.FillPixels;
      const std::int64_t most = (ClipShaped() ? 1 + kClipRunCost : 1) * cost;
      if (left < std::int64_t(FPaint.width()) * FPaint.height() * most) {
        const std::int64_t pixels = Rects(area, shape.fillRule(), [](const std::vector<QRect>&) {});
        if (pixels * cost > left) {
          ++FStats.ShapesSkipped;
          return;
        }
      }
    }
    const bool wide = pen.style() != Qt::NoPen && PenWidth(pen, t) > 1;
    std::int64_t& strokeWork = wide ? FStats.WideStrokeWork : FStats.StrokeWork;
    const std::int64_t strokeBudget = wide ? FStats.WideStrokeBudget : FStats.StrokeBudget;
    double stroke = StrokeWork(shape, t, pen);
    if (stroke > double(strokeBudget - strokeWork)) {
      ++FStats.StrokesSkipped;
      pen = QPen(Qt::NoPen);
      stroke = 0;
      if (brush.style() == Qt::NoBrush) return;
    }
    FStats.FillWork += std::int64_t(std::ceil(fill));
    strokeWork += std::int64_t(std::ceil(stroke));
    if (brush.style() != Qt::NoBrush) FStats.FillPixels += PaintArea(area, shape.fillRule(), brush, t) * cost;
    if (pen.style() == Qt::NoPen) return;
    if (!wide) {
      const bool clipped = dc.clipped;
      if (clipped) {
        // What a thin pen draws lies within a pixel of the shape's points.
        const QRect box = t.mapRect(shape.controlPointRect()).toAlignedRect().adjusted(-1, -1, 1, 1) & FPaint;
        if (box.isEmpty()) return;
        const PlatformClip clip = ClipFor(box);
        // The platform walks the clip for every segment it draws under it.
        double segments = 0;
        if (clip.paid && clip.rects > 1)
          for (const QPolygonF& poly : Flatten(shape, t, QRectF(box))) segments += double(poly.size());
        const double more = segments * double(clip.rects) * kClipSegmentCost;
        if (!clip.paid || more > double(FStats.StrokeBudget - FStats.StrokeWork)) {
          ++FStats.StrokesSkipped;
          return;
        }
        FStats.StrokeWork += std::int64_t(std::ceil(more));
        P.save();
        Confine(clip);
      }
      P.setTransform(t);
      P.setPen(pen);
      P.setBrush(Qt::NoBrush);
      P.drawPath(shape);
      if (clipped) P.restore();
      return;
    }
    // A wide outline is the area its pen sweeps, filled like any other.
    QPainterPathStroker stroker(pen);
    stroker.setCurveThreshold(0.25 / LargestScale(t));
    PaintArea(Flatten(stroker.createStroke(shape), t, QRectF(FPaint)), Qt::WindingFill, pen.brush(), t);
  }
  // Paints the spans of area by rule that the clip region keeps with brush,
  // on the device; a pattern lies where and as large as t puts it. Rows
  // whose spans repeat the row above go as one rectangle each. Answers what
  // the painting cost, as Rects counts it.
  std::int64_t PaintArea(const std::vector<QPolygonF>& area, Qt::FillRule rule, QBrush brush, const QTransform& t) {
    P.save();
    P.resetTransform();
    P.setPen(Qt::NoPen);
    if (brush.style() != Qt::SolidPattern) brush.setTransform(t);
    P.setBrush(brush);
    const std::int64_t pixels =
        Rects(area, rule, [&](const std::vector<QRect>& rects) { P.drawRects(rects.data(), int(rects.size())); });
    P.restore();
    return pixels;
  }

  QTransform PageToDevice() const {
    double sx = 1, sy = 1;
    if (dc.mapMode == MM_ANISOTROPIC || dc.mapMode == MM_ISOTROPIC) {
      sx = dc.viewportExt.x() / dc.windowExt.x();
      sy = dc.viewportExt.y() / dc.windowExt.y();
      if (dc.mapMode == MM_ISOTROPIC) {
        double s = std::min(std::abs(sx), std::abs(sy));
        sx = sx < 0 ? -s : s;
        sy = sy < 0 ? -s : s;
      }
    }
    return QTransform(sx, 0, 0, sy, dc.viewportOrg.x() - dc.windowOrg.x() * sx,
                      dc.viewportOrg.y() - dc.windowOrg.y() * sy);
  }
  QTransform LogicalToDevice() const { return dc.world * PageToDevice(); }
  QTransform Full() const { return LogicalToDevice() * FDeviceToTarget; }

  static bool Sane(const QRectF& r) {
    return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) &&
           std::isfinite(r.bottom()) && std::abs(r.left()) < kMaxCoordinate &&
           std::abs(r.right()) < kMaxCoordinate && std::abs(r.top()) < kMaxCoordinate &&
           std::abs(r.bottom()) < kMaxCoordinate;
  }
  static double Scale(const QTransform& t) { return std::sqrt(std::abs(t.determinant())); }
  // The largest stretch of the transform in any direction.
  static double LargestScale(const QTransform& t) {
    double sum = t.m11() * t.m11() + t.m12() * t.m12() + t.m21() * t.m21() + t.m22() * t.m22();
    double det = t.determinant();
    return std::sqrt((sum + std::sqrt(std::max(0.0, sum * sum - 4 * det * det))) / 2);
  }

  QPen MakePen(double scale) const {
    const GdiObject& o = dc.pen;
    int style = o.style & 0x0F;
    if (style == 5) return QPen(Qt::NoPen);
    QPen pen(o.color);
    double w = o.cosmetic ? 0 : std::abs(o.width) * scale;
    // Very wide pens from damaged records would only fill the target.
    pen.setWidthF(std::isfinite(w) && w < kMaxCoordinate ? w : 0);
    pen.setCosmetic(o.cosmetic || w == 0);
    static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                          Qt::DashDotLine, Qt::DashDotDotLine};
    pen.setStyle(style < 5 ? styles[style] : Qt::SolidLine);
    int cap = o.style & 0xF00, join = o.style & 0xF000;
    pen.setCapStyle(cap == 0x100 ? Qt::SquareCap : cap == 0x200 ? Qt::FlatCap : Qt::RoundCap);
    pen.setJoinStyle(join == 0x1000 ? Qt::BevelJoin : join == 0x2000 ? Qt::MiterJoin : Qt::RoundJoin);
    return pen;
  }
  QBrush MakeBrush() const {
    const GdiObject& o = dc.brush;
    switch (o.style) {
      case 0: return QBrush(o.color);
      case 2: {
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                 Qt::BDiagPattern, Qt::CrossPattern,
                                                 Qt::DiagCrossPattern};
        return QBrush(o.color, o.hatch >= 0 && o.hatch < 6 ? hatches[o.hatch] : Qt::SolidPattern);
      }
      case 3:
      case 5:
        if (!o.pattern.isNull()) return QBrush(o.pattern);
        return QBrush(Qt::NoBrush);
      default: return QBrush(Qt::NoBrush);
    }
  }
  Qt::FillRule FillRule() const { return dc.fillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill; }

  // Draws (or, inside a path bracket, records) a shape given in logical
  // coordinates.
  void Shape(QPainterPath shape, bool fill, bool stroke) {
    QTransform full = Full();
    if (inPath) {
      if (path.elementCount() > 1000000) return;
      path.addPath(LogicalToDevice().map(shape));
      return;
    }
    if (!Sane(full.mapRect(shape.boundingRect()))) return;
    shape.setFillRule(FillRule());
    DrawShape(shape, full, stroke ? MakePen(1) : QPen(Qt::NoPen), fill ? MakeBrush() : QBrush(Qt::NoBrush));
  }

  void MoveTo(QPointF p) {
    dc.position = p;
    if (inPath) path.moveTo(LogicalToDevice().map(p));
  }
  void LineTo(QPointF p) {
    if (inPath) {
      path.lineTo(LogicalToDevice().map(p));
    } else {
      QPainterPath line(dc.position);
      line.lineTo(p);
      Shape(line, false, true);
    }
    dc.position = p;
  }
  void Polyline(const QPolygonF& pts, bool fromCurrent) {
    if (pts.isEmpty()) return;
    if (inPath) {
      QTransform t = LogicalToDevice();
      for (int i = 0; i < pts.size(); ++i) {
        if (i == 0 && !fromCurrent) path.moveTo(t.map(pts[0]));
        else path.lineTo(t.map(pts[i]));
      }
    } else {
      QPainterPath line(fromCurrent ? dc.position : pts[0]);
      for (int i = fromCurrent ? 0 : 1; i < pts.size(); ++i) line.lineTo(pts[i]);
      Shape(line, false, true);
    }
    if (fromCurrent) dc.position = pts.back();
  }
  void Bezier(const QPolygonF& pts, bool fromCurrent) {
    QPainterPath curve(fromCurrent ? dc.position : pts.value(0));
    int i = fromCurrent ? 0 : 1;
    for (; i + 2 < pts.size(); i += 3) curve.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    if (inPath) {
      QPainterPath mapped = LogicalToDevice().map(curve);
      path.connectPath(mapped);
    } else {
      Shape(curve, false, true);
    }
    if (fromCurrent && i > 0) dc.position = pts[i - 1];
  }
  void Polygons(const std::vector<QPolygonF>& polys) {
    QPainterPath shape;
    for (const QPolygonF& poly : polys) {
      if (poly.isEmpty()) continue;
      shape.addPolygon(poly);
      shape.closeSubpath();
    }
    Shape(shape, true, true);
  }
  static QRectF Box(double l, double t, double r, double b) {
    return QRectF(QPointF(std::min(l, r), std::min(t, b)), QPointF(std::max(l, r), std::max(t, b)));
  }
  void Rectangle(QRectF r) {
    QPainterPath shape;
    shape.addRect(r);
    Shape(shape, true, true);
  }
  void RoundRect(QRectF r, double w, double h) {
    QPainterPath shape;
    shape.addRoundedRect(r, std::abs(w) / 2, std::abs(h) / 2);
    Shape(shape, true, true);
  }
  void Ellipse(QRectF r) {
    QPainterPath shape;
    shape.addEllipse(r);
    Shape(shape, true, true);
  }
  // kind 0 arc, 1 chord, 2 pie; counter-clockwise from the start radial to
  // the end radial, as the platform draws by default.
  void Arc(QRectF box, QPointF start, QPointF end, int kind) {
    double rx = box.width() / 2, ry = box.height() / 2;
    if (rx <= 0 || ry <= 0) return;
    QPointF c = box.center();
    double a1 = std::atan2(-(start.y() - c.y()) / ry, (start.x() - c.x()) / rx) * 180 / M_PI;
    double a2 = std::atan2(-(end.y() - c.y()) / ry, (end.x() - c.x()) / rx) * 180 / M_PI;
    double sweep = a2 - a1;
    while (sweep <= 0) sweep += 360;
    QPainterPath shape;
    if (kind == 2) {
      shape.moveTo(c);
      shape.arcTo(box, a1, sweep);
      shape.closeSubpath();
    } else {
      shape.arcMoveTo(box, a1);
      shape.arcTo(box, a1, sweep);
      if (kind == 1) shape.closeSubpath();
    }
    Shape(shape, kind != 0, true);
  }

  void FillPath(bool fill, bool stroke) {
    if (inPath) return;
    QPainterPath shape = path;
    path = QPainterPath();
    if (!Sane(FDeviceToTarget.mapRect(shape.boundingRect()))) return;
    shape.setFillRule(FillRule());
    DrawShape(shape, FDeviceToTarget, stroke ? MakePen(Scale(LogicalToDevice())) : QPen(Qt::NoPen),
         fill ? MakeBrush() : QBrush(Qt::NoBrush));
  }

  void Text(QPointF at, const QString& text, const std::vector<double>& dx, unsigned options,
            const QRectF* rect) {
    QTransform full = Full();
    // The opaque rectangle is filled even without text: writers fill with it.
    if (rect && (options & ETO_OPAQUE) && Sane(full.mapRect(*rect))) {
      QPainterPath box;
      box.addRect(*rect);
      DrawShape(box, full, QPen(Qt::NoPen), QBrush(dc.bkColor));
    }
    // Glyphs need the GUI application's font database.
    if (!qGuiApp || text.isEmpty() || text.size() > kMaxTextChars) return;
    QFont font(dc.font.face.isEmpty() ? QStringLiteral("Sans Serif") : dc.font.face);
    double height = std::abs(dc.font.height);
    if (height == 0) height = 12;
    double largest = LargestScale(full);
    if (height * largest > 4096 || height * largest < 0.5) return;
    // Logical units may be tiny (0.01 mm): a font beyond a sane pixel size is
    // made at that size and its outlines scaled up.
    double unit = height > 512 ? height / 512 : 1;
    font.setPixelSize(std::max(1, int(std::lround(height / unit))));
    if (dc.font.weight > 0) font.setWeight(QFont::Weight(std::clamp(dc.font.weight, 100, 900)));
    font.setItalic(dc.font.italic);
    font.setUnderline(dc.font.underline);
    font.setStrikeOut(dc.font.strikeOut);
    QFontMetricsF metrics(font);

    if (dc.textAlign & TA_UPDATECP) at = dc.position;
    bool useDx = !dx.empty() && dx.size() >= std::size_t(text.size());
    double width = 0;
    if (useDx) {
      for (int i = 0; i < text.size(); ++i) width += dx[std::size_t(i)];
    } else {
      width = metrics.horizontalAdvance(text) * unit;
    }
    const double ascent = metrics.ascent() * unit, descent = metrics.descent() * unit;
    double x = at.x(), baseline = at.y();
    if ((dc.textAlign & TA_CENTER) == TA_CENTER) x -= width / 2;
    else if (dc.textAlign & TA_RIGHT) x -= width;
    bool onBaseline = (dc.textAlign & TA_BASELINE) == TA_BASELINE;
    if (!onBaseline && (dc.textAlign & TA_BOTTOM)) baseline -= descent;
    else if (!onBaseline) baseline += ascent;
    if (dc.textAlign & TA_UPDATECP) dc.position.setX(dc.position.x() + ((dc.textAlign & TA_RIGHT) ? -width : width));

    QRectF bounds(x, baseline - ascent, width, ascent + descent);
    if (!Sane(full.mapRect(bounds)) || (rect && !Sane(full.mapRect(*rect)))) return;
    QTransform t = full;
    if (dc.font.escapement != 0) {
      QTransform turn;
      turn.translate(at.x(), at.y());
      turn.rotate(-dc.font.escapement / 10.0);
      turn.translate(-at.x(), -at.y());
      t = turn * full;
    }
    // Clipped to its rectangle: the clip region narrowed for this text alone.
    const bool clipped = dc.clipped;
    const QRegion clip = dc.clip;
    if (rect && (options & ETO_CLIPPED) && !ClipRect(*rect, RGN_AND)) return;
    if (dc.bkMode == 2) {
      QPainterPath background;
      background.addRect(bounds);
      DrawShape(background, t, QPen(Qt::NoPen), QBrush(dc.bkColor));
    }
    DrawGlyphs(text, font, unit, QPointF(x, baseline), useDx ? &dx : nullptr, t);
    dc.clipped = clipped;
    dc.clip = clip;
    ClipChanged();
  }
  // Glyphs are filled as outlines, as any other shape, and paid for by
  // their edges and the pixels they paint: the font engine's own glyph
  // rendering fails on the stretched transforms that metafiles may carry.
  void DrawGlyphs(const QString& text, const QFont& font, double unit, QPointF origin, const std::vector<double>* dx,
                  const QTransform& t) {
    QPainterPath glyphs;
    if (dx) {
      double x = origin.x();
      for (int i = 0; i < text.size(); ++i) {
        glyphs.addText(QPointF(x, origin.y()) / unit, font, QString(text[i]));
        x += (*dx)[std::size_t(i)];
      }
    } else {
      glyphs.addText(origin / unit, font, text);
    }
    if (unit != 1) glyphs = QTransform::fromScale(unit, unit).map(glyphs);
    DrawShape(glyphs, t, QPen(Qt::NoPen), QBrush(dc.textColor));
  }

  // The part of image a record's source rectangle covers, computed in 64 bits
  // since the values come from the file; fromBottom counts rows from the
  // bottom, as stretched DIBs do.
  static QRect SourceRect(const QImage& image, std::int64_t x, std::int64_t y, std::int64_t w,
                          std::int64_t h, bool fromBottom) {
    if (fromBottom) y = image.height() - y - h;
    if (w < 0) {
      x += w;
      w = -w;
    }
    if (h < 0) {
      y += h;
      h = -h;
    }
    std::int64_t left = std::max<std::int64_t>(x, 0), top = std::max<std::int64_t>(y, 0);
    std::int64_t right = std::min<std::int64_t>(x + w, image.width());
    std::int64_t bottom = std::min<std::int64_t>(y + h, image.height());
    if (right <= left || bottom <= top) return {};
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
  }

  // Paints the source rectangle of image onto dest (logical coordinates);
  // mirrored when a destination extent is negative. Paid for by the pixels
  // of the destination within the clip region's bounds.
  void Image(QRectF dest, const QImage& image, QRect source, std::uint32_t rop) {
    if (image.isNull() || dest.width() == 0 || dest.height() == 0) return;
    bool mirrorX = dest.width() < 0, mirrorY = dest.height() < 0;
    dest = dest.normalized();
    QTransform full = Full();
    if (!Sane(full.mapRect(dest))) return;
    source = source.normalized().intersected(image.rect());
    if (source.isEmpty()) return;
    QPainter::CompositionMode mode;
    switch (rop) {
      case 0x00CC0020: mode = QPainter::CompositionMode_SourceOver; break; // SRCCOPY
      case 0x008800C6: mode = QPainter::RasterOp_SourceAndDestination; break; // SRCAND
      case 0x00EE0086: mode = QPainter::RasterOp_SourceOrDestination; break; // SRCPAINT
      case 0x00660046: mode = QPainter::RasterOp_SourceXorDestination; break; // SRCINVERT
      case 0x00330008: mode = QPainter::RasterOp_NotSource; break; // NOTSRCCOPY
      default: return;
    }
    const QRect box = full.mapRect(dest).toAlignedRect() & FPaint;
    if (box.isEmpty()) return;
    // Under a clip region of many rectangles the platform walks them for
    // each of the picture's rows.
    const PlatformClip clip = ClipFor(box);
    if (!clip.paid) {
      ++FStats.ShapesSkipped;
      return;
    }
    const double rows = clip.rects > 1 ? double(clip.spans) * kClipPictureRowCost : 0;
    if (!PayPixels(double(box.width()) * box.height() * kPictureCost + rows)) return;
    QImage part = image.copy(source);
    if (mirrorX || mirrorY) part = part.mirrored(mirrorX, mirrorY);
    P.save();
    Confine(clip);
    P.setTransform(full);
    P.setRenderHint(QPainter::SmoothPixmapTransform, dc.stretchMode == 4);
    P.setCompositionMode(mode);
    P.drawImage(dest, part);
    P.restore();
  }
  // A blit without a source: the brush, black or white over dest, filled
  // and paid for as any other shape.
  void PatBlt(QRectF dest, std::uint32_t rop) {
    QBrush brush;
    if (rop == kPatCopy) brush = MakeBrush();
    else if (rop == 0x00000042) brush = QBrush(Qt::black);
    else if (rop == 0x00FF0062) brush = QBrush(Qt::white);
    else return;
    dest = dest.normalized();
    QTransform full = Full();
    if (!Sane(full.mapRect(dest))) return;
    QPainterPath shape;
    shape.addRect(dest);
    DrawShape(shape, full, QPen(Qt::NoPen), brush);
  }
  // Fills the pixel of the device at the logical point p.
  void SetPixel(QPointF p, const QColor& color) {
    const QPointF at = Full().map(p);
    if (!Sane(QRectF(at, at))) return;
    QPainterPath pixel;
    pixel.addRect(std::floor(at.x()), std::floor(at.y()), 1, 1);
    DrawShape(pixel, QTransform(), QPen(Qt::NoPen), QBrush(color));
  }

  template <typename T, typename V> static void SetIf(const Bytes& r, T& field, V value) {
    if (r.ok) field = T(value);
  }

  void SaveDC() {
    if (saved.size() < std::size_t(kMaxSavedDCs)) saved.push_back(dc);
  }
  // Negative: that many levels back; positive: the absolute level.
  void RestoreDC(std::int64_t which) {
    std::int64_t target = which < 0 ? std::int64_t(saved.size()) + which : which - 1;
    if (target < 0 || target >= std::int64_t(saved.size())) return;
    dc = saved[std::size_t(target)];
    saved.resize(std::size_t(target));
    ClipChanged();
  }
  void SetWindowExt(double x, double y) {
    if (x != 0 && y != 0) dc.windowExt = QPointF(x, y);
  }
  void SetViewportExt(double x, double y) {
    if (x != 0 && y != 0) dc.viewportExt = QPointF(x, y);
  }
};

// ---------------------------------------------------------------- WMF

class WmfPlayer : public Player {
public:
  WmfPlayer(QPainter& painter, const QTransform& deviceToTarget, const QRect& rect, TMetafileDrawStats& stats,
            const std::function<bool(int)>& keepGoing, double allowance, QRectF frame)
      : Player(painter, deviceToTarget, rect, stats, keepGoing, allowance) {
    // The player maps the window onto the picture's frame, as the platform
    // does when it plays a placeable metafile into a rectangle.
    dc.mapMode = MM_ANISOTROPIC;
    dc.windowOrg = dc.viewportOrg = frame.topLeft();
    dc.windowExt = dc.viewportExt = QPointF(frame.width(), frame.height());
  }

  void Play(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    while (offset <= size && size - offset >= 6) {
      Bytes head{data + offset, size - offset};
      std::uint64_t bytes = std::uint64_t(head.U32(0)) * 2;
      std::uint16_t function = head.U16(4);
      if (bytes < 6 || bytes > size - offset || function == 0 || !GoOn(offset, size)) return;
      Bytes rec{data + offset + 6, std::size_t(bytes - 6)};
      Record(function, rec);
      offset += std::size_t(bytes);
    }
  }

private:
  std::vector<GdiObject> objects;
  std::size_t firstFree = 0; // no free slot below it, so a full table costs nothing to search

  // A new object takes the lowest free slot, as the records' indices expect.
  void AddObject(GdiObject object) {
    while (firstFree < objects.size() && objects[firstFree].kind != GdiObject::None) ++firstFree;
    if (firstFree < objects.size()) objects[firstFree] = std::move(object);
    else if (objects.size() < kMaxObjects) objects.push_back(std::move(object));
    else return;
    ++firstFree;
  }
  static bool Points(Bytes& r, std::size_t off, std::size_t count, QPolygonF& out) {
    if (!r.Has(off, count * 4)) return false;
    out.resize(qsizetype(count));
    for (std::size_t i = 0; i < count; ++i)
      out[qsizetype(i)] = QPointF(r.I16(off + i * 4), r.I16(off + i * 4 + 2));
    return true;
  }
  QRectF RectParams(Bytes& r, std::size_t off) { // bottom, right, top, left
    return Box(r.I16(off + 6), r.I16(off + 4), r.I16(off + 2), r.I16(off));
  }
  static QString Latin(Bytes& r, std::size_t off, std::size_t count) {
    if (!r.Has(off, count)) return {};
    return QString::fromLatin1(reinterpret_cast<const char*>(r.p + off), qsizetype(count));
  }
  // A region object: a header, its bounds, then scans of rows each with
  // its spans (left, right), right and bottom left out, in logical units.
  // Damaged scans end it; a damaged header leaves a placeholder.
  static GdiObject Region(Bytes& r) {
    GdiObject region = Obj(GdiObject::Region);
    const std::uint16_t scans = r.U16(10);
    if (!r.ok) return Obj(GdiObject::Other);
    std::size_t off = 22;
    for (std::uint16_t i = 0; i < scans; ++i) {
      const std::uint16_t count = r.U16(off);
      const int top = r.I16(off + 2), bottom = r.I16(off + 4);
      if (!r.ok || count % 2 != 0 || !r.Has(off + 6, std::size_t(count) * 2)) break;
      for (std::size_t k = 0; k < count; k += 2) {
        const int left = r.I16(off + 6 + k * 2), right = r.I16(off + 8 + k * 2);
        if (right > left && bottom > top) region.rects.emplace_back(QPoint(left, top), QPoint(right - 1, bottom - 1));
      }
      off += 6 + std::size_t(count) * 2 + 2;
    }
    return region;
  }
  // A DIB record's picture and the offset of the DIB when it carries one.
  static QImage Dib(Bytes& r, std::size_t off, unsigned usage = 0) {
    if (usage != 0 || !r.Has(off, 4)) return {};
    return DecodeDIB(r.p + off, r.n - off, nullptr, 0);
  }

  void Record(std::uint16_t function, Bytes& r) {
    switch (function) {
      case 0x0201: { // SetBkColor
        std::uint32_t c = r.U32(0);
        if (r.ok) dc.bkColor = ColorRef(c);
        break;
      }
      case 0x0209: { // SetTextColor
        std::uint32_t c = r.U32(0);
        if (r.ok) dc.textColor = ColorRef(c);
        break;
      }
      case 0x0102: SetIf(r, dc.bkMode, r.U16(0)); break;
      case 0x0106: SetIf(r, dc.fillMode, r.U16(0)); break;
      case 0x0104: break; // SetROP2: pens always copy
      case 0x0107: SetIf(r, dc.stretchMode, r.U16(0)); break;
      case 0x012E: SetIf(r, dc.textAlign, r.U16(0)); break;
      case 0x020B: { // SetWindowOrg(y, x)
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) dc.windowOrg = QPointF(x, y);
        break;
      }
      case 0x020C: { // SetWindowExt
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) SetWindowExt(x, y);
        break;
      }
      case 0x020D: {
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) dc.viewportOrg = QPointF(x, y);
        break;
      }
      case 0x020E: {
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) SetViewportExt(x, y);
        break;
      }
      case 0x001E: SaveDC(); break;
      case 0x0127: {
        std::int16_t n = r.I16(0);
        if (r.ok) RestoreDC(n);
        break;
      }
      case 0x02FA: { // CreatePenIndirect: style, width (x, y), colour
        GdiObject pen;
        pen.kind = GdiObject::Pen;
        pen.style = r.U16(0);
        pen.width = r.I16(2);
        pen.color = ColorRef(r.U32(6));
        if (r.ok) AddObject(pen);
        else AddObject(Obj(GdiObject::Other));
        break;
      }
      case 0x02FC: { // CreateBrushIndirect: style, colour, hatch
        GdiObject brush;
        brush.kind = GdiObject::Brush;
        brush.style = r.U16(0);
        brush.color = ColorRef(r.U32(2));
        brush.hatch = r.U16(6);
        if (r.ok) AddObject(brush);
        else AddObject(Obj(GdiObject::Other));
        break;
      }
      case 0x0142: { // DIBCreatePatternBrush: style, colour usage, packed DIB
        GdiObject brush;
        brush.kind = GdiObject::Brush;
        brush.style = 5;
        unsigned usage = r.U16(2);
        brush.pattern = Dib(r, 4, usage);
        AddObject(brush);
        break;
      }
      case 0x02FB: { // CreateFontIndirect
        GdiObject font;
        font.kind = GdiObject::Font;
        font.height = r.I16(0);
        font.escapement = r.I16(4);
        font.weight = r.I16(8);
        font.italic = r.U8(10) != 0;
        font.underline = r.U8(11) != 0;
        font.strikeOut = r.U8(12) != 0;
        if (r.ok) {
          std::size_t end = 18;
          while (end < r.n && end < 18 + 32 && r.p[end] != 0) ++end;
          font.face = Latin(r, 18, end - 18);
          AddObject(font);
        } else {
          AddObject(Obj(GdiObject::Other));
        }
        break;
      }
      case 0x00F7: // CreatePalette
      case 0x01F9: // CreatePatternBrush
        AddObject(Obj(GdiObject::Other));
        break;
      case 0x06FF: AddObject(Region(r)); break;
      case 0x012C: { // SelectClipRegion
        std::uint16_t index = r.U16(0);
        if (r.ok && index < objects.size() && objects[index].kind == GdiObject::Region)
          ClipRects(objects[index].rects, Full(), RGN_COPY);
        break;
      }
      case 0x0416: // IntersectClipRect: bottom, right, top, left
      case 0x0415: { // ExcludeClipRect
        QRectF box = RectParams(r, 0);
        if (r.ok) ClipRect(box, function == 0x0416 ? RGN_AND : RGN_DIFF);
        break;
      }
      case 0x0220: { // OffsetClipRgn: y, x
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) OffsetClip(QPointF(x, y));
        break;
      }
      case 0x012D: { // SelectObject
        std::uint16_t index = r.U16(0);
        if (!r.ok || index >= objects.size()) break;
        const GdiObject& o = objects[index];
        if (o.kind == GdiObject::Pen) dc.pen = o;
        else if (o.kind == GdiObject::Brush) dc.brush = o;
        else if (o.kind == GdiObject::Font) dc.font = o;
        break;
      }
      case 0x01F0: { // DeleteObject
        std::uint16_t index = r.U16(0);
        if (r.ok && index < objects.size()) {
          objects[index] = GdiObject{};
          firstFree = std::min(firstFree, std::size_t(index));
        }
        break;
      }
      case 0x0214: { // MoveTo(y, x)
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) MoveTo(QPointF(x, y));
        break;
      }
      case 0x0213: {
        double y = r.I16(0), x = r.I16(2);
        if (r.ok) LineTo(QPointF(x, y));
        break;
      }
      case 0x041B: {
        QRectF box = RectParams(r, 0);
        if (r.ok) Rectangle(box);
        break;
      }
      case 0x061C: { // RoundRect: height, width, bottom, right, top, left
        double h = r.I16(0), w = r.I16(2);
        QRectF box = RectParams(r, 4);
        if (r.ok) RoundRect(box, w, h);
        break;
      }
      case 0x0418: {
        QRectF box = RectParams(r, 0);
        if (r.ok) Ellipse(box);
        break;
      }
      case 0x0817: // Arc
      case 0x0830: // Chord
      case 0x081A: { // Pie: yEnd, xEnd, yStart, xStart, bottom, right, top, left
        QPointF end(r.I16(2), r.I16(0)), start(r.I16(6), r.I16(4));
        QRectF box = RectParams(r, 8);
        if (r.ok) Arc(box, start, end, function == 0x0817 ? 0 : function == 0x0830 ? 1 : 2);
        break;
      }
      case 0x0324: // Polygon
      case 0x0325: { // Polyline
        std::uint16_t count = r.U16(0);
        QPolygonF pts;
        if (!r.ok || !Points(r, 2, count, pts)) break;
        if (function == 0x0325) Polyline(pts, false);
        else Polygons({pts});
        break;
      }
      case 0x0538: { // PolyPolygon: count, points per polygon, points
        std::uint16_t polygons = r.U16(0);
        if (!r.ok || !r.Has(2, std::size_t(polygons) * 2)) break;
        std::vector<QPolygonF> polys;
        std::size_t off = 2 + std::size_t(polygons) * 2;
        for (std::size_t i = 0; i < polygons; ++i) {
          std::uint16_t count = r.U16(2 + i * 2);
          QPolygonF pts;
          if (!Points(r, off, count, pts)) return;
          off += std::size_t(count) * 4;
          polys.push_back(pts);
        }
        Polygons(polys);
        break;
      }
      case 0x041F: { // SetPixel: colour, y, x
        QColor color = ColorRef(r.U32(0));
        double y = r.I16(4), x = r.I16(6);
        if (r.ok) SetPixel(QPointF(x, y), color);
        break;
      }
      case 0x0521: { // TextOut: length, string (padded), y, x
        std::uint16_t length = r.U16(0);
        std::size_t padded = (std::size_t(length) + 1) & ~std::size_t(1);
        QString text = Latin(r, 2, length);
        double y = r.I16(2 + padded), x = r.I16(4 + padded);
        if (r.ok && text.size() == length) Text(QPointF(x, y), text, {}, 0, nullptr);
        break;
      }
      case 0x0A32: { // ExtTextOut: y, x, length, options, [rect], string, [dx]
        double y = r.I16(0), x = r.I16(2);
        std::uint16_t length = r.U16(4), options = r.U16(6);
        if (!r.ok) break;
        std::size_t off = 8;
        QRectF rect;
        bool hasRect = options & (ETO_OPAQUE | ETO_CLIPPED);
        if (hasRect) {
          rect = Box(r.I16(8), r.I16(10), r.I16(12), r.I16(14));
          off += 8;
        }
        QString text = Latin(r, off, length);
        if (!r.ok || text.size() != length) break;
        off += (std::size_t(length) + 1) & ~std::size_t(1);
        std::vector<double> dx;
        if (r.Has(off, std::size_t(length) * 2) && length > 0) {
          for (std::size_t i = 0; i < length; ++i) dx.push_back(r.I16(off + i * 2));
        }
        Text(QPointF(x, y), text, dx, options, hasRect ? &rect : nullptr);
        break;
      }
      case 0x061D: { // PatBlt: rop, height, width, y, x
        std::uint32_t rop = r.U32(0);
        double h = r.I16(4), w = r.I16(6), y = r.I16(8), x = r.I16(10);
        if (r.ok) PatBlt(QRectF(x, y, w, h), rop);
        break;
      }
      case 0x0F43: { // StretchDIB: rop, usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, DIB
        std::uint32_t rop = r.U32(0);
        unsigned usage = r.U16(4);
        int sh = r.I16(6), sw = r.I16(8), sy = r.I16(10), sx = r.I16(12);
        double dh = r.I16(14), dw = r.I16(16), dy = r.I16(18), dx = r.I16(20);
        if (!r.ok) break;
        QImage image = Dib(r, 22, usage);
        Image(QRectF(dx, dy, dw, dh), image, SourceRect(image, sx, sy, sw, sh, true), rop);
        break;
      }
      case 0x0B41: { // DIBStretchBlt: rop, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, DIB
        std::uint32_t rop = r.U32(0);
        if (r.n == 22) { // without a bitmap, a reserved word precedes the destination
          double dh = r.I16(12), dw = r.I16(14), dy = r.I16(16), dx = r.I16(18);
          if (r.ok) PatBlt(QRectF(dx, dy, dw, dh), rop);
          break;
        }
        int sh = r.I16(4), sw = r.I16(6), sy = r.I16(8), sx = r.I16(10);
        double dh = r.I16(12), dw = r.I16(14), dy = r.I16(16), dx = r.I16(18);
        if (!r.ok) break;
        QImage image = Dib(r, 20);
        Image(QRectF(dx, dy, dw, dh), image, SourceRect(image, sx, sy, sw, sh, false), rop);
        break;
      }
      case 0x0940: { // DIBBitBlt: rop, ySrc, xSrc, height, width, yDst, xDst, DIB
        std::uint32_t rop = r.U32(0);
        if (r.n == 18) { // without a bitmap
          double h = r.I16(8), w = r.I16(10), y = r.I16(12), x = r.I16(14);
          if (r.ok) PatBlt(QRectF(x, y, w, h), rop);
          break;
        }
        int sy = r.I16(4), sx = r.I16(6), h = r.I16(8), w = r.I16(10);
        double y = r.I16(12), x = r.I16(14);
        if (!r.ok) break;
        QImage image = Dib(r, 16);
        Image(QRectF(x, y, w, h), image, SourceRect(image, sx, sy, w, h, false), rop);
        break;
      }
      default: break; // skipped by its size
    }
  }
};

// ---------------------------------------------------------------- EMF

class EmfPlayer : public Player {
public:
  EmfPlayer(QPainter& painter, const QTransform& deviceToTarget, const QRect& rect, TMetafileDrawStats& stats,
            const std::function<bool(int)>& keepGoing, double allowance, std::size_t handles)
      : Player(painter, deviceToTarget, rect, stats, keepGoing, allowance), objects(std::min(handles, kMaxObjects)) {}

  void Play(const std::uint8_t* data, std::size_t size) {
    std::size_t offset = 0;
    while (offset <= size && size - offset >= 8) {
      Bytes head{data + offset, size - offset};
      std::uint32_t type = head.U32(0), bytes = head.U32(4);
      if (bytes < 8 || bytes % 4 != 0 || bytes > size - offset) return;
      Bytes rec{data + offset, bytes};
      if (type == 14 || !GoOn(offset, size)) return; // EOF
      Record(type, rec);
      offset += bytes;
    }
  }

private:
  std::vector<GdiObject> objects;

  static QPointF Point32(Bytes& r, std::size_t off) { return QPointF(r.I32(off), r.I32(off + 4)); }
  static QRectF Rect32(Bytes& r, std::size_t off) {
    return Box(r.I32(off), r.I32(off + 4), r.I32(off + 8), r.I32(off + 12));
  }
  static bool Points(Bytes& r, std::size_t off, std::size_t count, bool small, QPolygonF& out) {
    std::size_t each = small ? 4 : 8;
    if (count > r.n / each || !r.Has(off, count * each)) return false;
    out.resize(qsizetype(count));
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t at = off + i * each;
      out[qsizetype(i)] = small ? QPointF(r.I16(at), r.I16(at + 2)) : QPointF(r.I32(at), r.I32(at + 4));
    }
    return true;
  }
  // A DIB given by offsets and sizes inside the record.
  static QImage Dib(Bytes& r, std::uint32_t offInfo, std::uint32_t cbInfo, std::uint32_t offBits,
                    std::uint32_t cbBits, std::uint32_t usage) {
    if (usage != 0 || cbInfo == 0 || !r.Has(offInfo, cbInfo) || !r.Has(offBits, cbBits)) return {};
    return DecodeDIB(r.p + offInfo, cbInfo, r.p + offBits, cbBits);
  }
  void Store(std::uint32_t index, GdiObject object) {
    if (index > 0 && index < objects.size()) objects[index] = std::move(object);
  }
  void Select(std::uint32_t index) {
    if (index & 0x80000000u) { // stock objects
      switch (index & 0x7FFFFFFF) {
        case 0: case 1: case 2: case 3: case 4: {
          static const int grays[] = {255, 192, 128, 64, 0};
          dc.brush = Obj(GdiObject::Brush);
          int g = grays[index & 0x7FFFFFFF];
          dc.brush.color = QColor(g, g, g);
          break;
        }
        case 5: dc.brush = Obj(GdiObject::Brush); dc.brush.style = 1; break;
        case 6: dc.pen = Obj(GdiObject::Pen); dc.pen.color = Qt::white; break;
        case 7: dc.pen = Obj(GdiObject::Pen); break;
        case 8: dc.pen = Obj(GdiObject::Pen); dc.pen.style = 5; break;
        case 10: case 11: case 12: case 13: case 14: case 16: case 17:
          dc.font = Obj(GdiObject::Font);
          dc.font.height = 12;
          break;
        default: break;
      }
      return;
    }
    if (index >= objects.size()) return;
    const GdiObject& o = objects[index];
    if (o.kind == GdiObject::Pen) dc.pen = o;
    else if (o.kind == GdiObject::Brush) dc.brush = o;
    else if (o.kind == GdiObject::Font) dc.font = o;
  }
  static bool TransformFrom(Bytes& r, std::size_t off, QTransform& out) {
    double m[6];
    for (int i = 0; i < 6; ++i) m[i] = r.F32(off + std::size_t(i) * 4);
    for (double v : m)
      if (!std::isfinite(v) || std::abs(v) > 1e9) return false;
    out = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
    return r.ok && out.determinant() != 0;
  }
  void TextRecord(Bytes& r, bool wide) {
    // bounds, graphics mode, scales, then the EMRTEXT at 36
    QPointF at = Point32(r, 36);
    std::uint32_t count = r.U32(44), offString = r.U32(48), options = r.U32(52);
    QRectF rect = Rect32(r, 56);
    std::uint32_t offDx = r.U32(72);
    if (!r.ok || count > std::uint32_t(kMaxTextChars)) return;
    std::size_t bytes = std::size_t(count) * (wide ? 2 : 1);
    if (!r.Has(offString, bytes)) return;
    QString text;
    if (wide) {
      std::vector<char16_t> units(count);
      for (std::size_t i = 0; i < count; ++i) units[i] = char16_t(r.U16(offString + i * 2));
      text = QString::fromUtf16(units.data(), qsizetype(count));
    } else {
      text = QString::fromLatin1(reinterpret_cast<const char*>(r.p + offString), qsizetype(count));
    }
    std::vector<double> dx;
    std::size_t step = (options & ETO_PDY) ? 8 : 4;
    if (offDx != 0 && count > 0 && r.Has(offDx, std::size_t(count) * step)) {
      for (std::size_t i = 0; i < count; ++i) dx.push_back(r.I32(offDx + i * step));
    }
    bool hasRect = options & (ETO_OPAQUE | ETO_CLIPPED);
    Text(at, text, dx, options, hasRect ? &rect : nullptr);
  }

  void Record(std::uint32_t type, Bytes& r) {
    switch (type) {
      case 2: case 3: case 4: case 5: case 6: // 32-bit point forms
      case 85: case 86: case 87: case 88: case 89: { // 16-bit point forms
        bool small = type >= 85;
        int kind = small ? int(type) - 83 : int(type);
        std::uint32_t count = r.U32(24);
        QPolygonF pts;
        if (!r.ok || !Points(r, 28, count, small, pts)) break;
        switch (kind) {
          case 2: Bezier(pts, false); break;
          case 3: Polygons({pts}); break;
          case 4: Polyline(pts, false); break;
          case 5: Bezier(pts, true); break;
          case 6: Polyline(pts, true); break;
        }
        break;
      }
      case 7: case 8: case 90: case 91: { // PolyPolyline, PolyPolygon
        bool small = type >= 90;
        bool polygon = type == 8 || type == 91;
        std::uint32_t polys = r.U32(24), total = r.U32(28);
        if (!r.ok || !r.Has(32, std::size_t(polys) * 4)) break;
        QPolygonF all;
        if (!Points(r, 32 + std::size_t(polys) * 4, total, small, all)) break;
        std::vector<QPolygonF> shapes;
        std::size_t used = 0;
        for (std::size_t i = 0; i < polys; ++i) {
          std::uint32_t n = r.U32(32 + i * 4);
          if (n > total - used) return;
          shapes.push_back(all.mid(qsizetype(used), qsizetype(n)));
          used += n;
        }
        if (polygon) Polygons(shapes);
        else
          for (const QPolygonF& line : shapes) Polyline(line, false);
        break;
      }
      case 9: {
        QPointF e = Point32(r, 8);
        if (r.ok) SetWindowExt(e.x(), e.y());
        break;
      }
      case 10: {
        QPointF o = Point32(r, 8);
        if (r.ok) dc.windowOrg = o;
        break;
      }
      case 11: {
        QPointF e = Point32(r, 8);
        if (r.ok) SetViewportExt(e.x(), e.y());
        break;
      }
      case 12: {
        QPointF o = Point32(r, 8);
        if (r.ok) dc.viewportOrg = o;
        break;
      }
      case 17: { // SetMapMode: the three modes the player knows; others act as MM_TEXT
        std::uint32_t mode = r.U32(8);
        if (r.ok) dc.mapMode = (mode == MM_ISOTROPIC || mode == MM_ANISOTROPIC) ? int(mode) : MM_TEXT;
        break;
      }
      case 18: SetIf(r, dc.bkMode, int(r.U32(8))); break;
      case 19: SetIf(r, dc.fillMode, int(r.U32(8))); break;
      case 20: break; // SetROP2: pens always copy
      case 21: SetIf(r, dc.stretchMode, int(r.U32(8))); break;
      case 22: SetIf(r, dc.textAlign, int(r.U32(8))); break;
      case 24: {
        std::uint32_t c = r.U32(8);
        if (r.ok) dc.textColor = ColorRef(c);
        break;
      }
      case 25: {
        std::uint32_t c = r.U32(8);
        if (r.ok) dc.bkColor = ColorRef(c);
        break;
      }
      case 27: {
        QPointF p = Point32(r, 8);
        if (r.ok) MoveTo(p);
        break;
      }
      case 54: {
        QPointF p = Point32(r, 8);
        if (r.ok) LineTo(p);
        break;
      }
      case 15: { // SetPixelV
        QPointF p = Point32(r, 8);
        QColor color = ColorRef(r.U32(16));
        if (r.ok) SetPixel(p, color);
        break;
      }
      case 33: SaveDC(); break;
      case 34: {
        std::int32_t n = r.I32(8);
        if (r.ok) RestoreDC(n);
        break;
      }
      case 35: { // SetWorldTransform
        QTransform t;
        if (TransformFrom(r, 8, t)) dc.world = t;
        break;
      }
      case 36: { // ModifyWorldTransform
        QTransform t;
        std::uint32_t mode = r.U32(32);
        if (!r.ok) break;
        if (mode == 1) { dc.world = QTransform(); break; }
        if (!TransformFrom(r, 8, t)) break;
        if (mode == 2) dc.world = t * dc.world;
        else if (mode == 3) dc.world = dc.world * t;
        else if (mode == 4) dc.world = t;
        break;
      }
      case 37: {
        std::uint32_t index = r.U32(8);
        if (r.ok) Select(index);
        break;
      }
      case 40: {
        std::uint32_t index = r.U32(8);
        if (r.ok && index < objects.size()) objects[index] = GdiObject{};
        break;
      }
      case 38: { // CreatePen: index, style, width (x, y), colour
        GdiObject pen = Obj(GdiObject::Pen);
        std::uint32_t index = r.U32(8);
        pen.style = int(r.U32(12));
        pen.width = r.I32(16);
        pen.color = ColorRef(r.U32(24));
        if (r.ok) Store(index, pen);
        break;
      }
      case 95: { // ExtCreatePen: index, DIB offsets, style, width, brush style, colour
        GdiObject pen = Obj(GdiObject::Pen);
        std::uint32_t index = r.U32(8);
        std::uint32_t style = r.U32(28);
        pen.style = int(style & 0xFFFF);
        pen.width = r.U32(32);
        pen.cosmetic = (style & 0x00010000) == 0;
        if (r.U32(36) == 1) pen.style = 5; // a hollow brush draws nothing
        pen.color = ColorRef(r.U32(40));
        if (r.ok) Store(index, pen);
        break;
      }
      case 39: { // CreateBrushIndirect: index, style, colour, hatch
        GdiObject brush = Obj(GdiObject::Brush);
        std::uint32_t index = r.U32(8);
        brush.style = int(r.U32(12));
        brush.color = ColorRef(r.U32(16));
        brush.hatch = int(r.U32(20));
        if (r.ok) Store(index, brush);
        break;
      }
      case 93: case 94: { // CreateMonoBrush, CreateDIBPatternBrushPt
        GdiObject brush = Obj(GdiObject::Brush);
        std::uint32_t index = r.U32(8), usage = r.U32(12);
        brush.style = 5;
        brush.pattern = Dib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), usage);
        if (r.ok) Store(index, brush);
        break;
      }
      case 82: { // ExtCreateFontIndirectW: index, LOGFONTW
        GdiObject font = Obj(GdiObject::Font);
        std::uint32_t index = r.U32(8);
        font.height = r.I32(12);
        font.escapement = r.I32(20);
        font.weight = r.I32(28);
        font.italic = r.U8(32) != 0;
        font.underline = r.U8(33) != 0;
        font.strikeOut = r.U8(34) != 0;
        if (!r.ok) break;
        for (std::size_t i = 0; i < 32 && r.Has(40 + i * 2, 2); ++i) {
          char16_t c = char16_t(r.U16(40 + i * 2));
          if (c == 0) break;
          font.face += QChar(c);
        }
        Store(index, font);
        break;
      }
      case 48: case 49: break; // palettes: the picture is drawn in true colour
      case 42: {
        QRectF box = Rect32(r, 8);
        if (r.ok) Ellipse(box);
        break;
      }
      case 43: {
        QRectF box = Rect32(r, 8);
        if (r.ok) Rectangle(box);
        break;
      }
      case 44: {
        QRectF box = Rect32(r, 8);
        QPointF corner = Point32(r, 24);
        if (r.ok) RoundRect(box, corner.x(), corner.y());
        break;
      }
      case 45: case 46: case 47: { // Arc, Chord, Pie
        QRectF box = Rect32(r, 8);
        QPointF start = Point32(r, 24), end = Point32(r, 32);
        if (r.ok) Arc(box, start, end, type == 45 ? 0 : type == 46 ? 1 : 2);
        break;
      }
      case 59: inPath = true; path = QPainterPath(); path.moveTo(LogicalToDevice().map(dc.position)); break;
      case 60: inPath = false; break;
      case 61: if (inPath) path.closeSubpath(); break;
      case 62: FillPath(true, false); break;
      case 63: FillPath(true, true); break;
      case 64: FillPath(false, true); break;
      case 68: inPath = false; path = QPainterPath(); break;
      case 29: case 30: { // ExcludeClipRect, IntersectClipRect
        QRectF box = Rect32(r, 8);
        if (r.ok) ClipRect(box, type == 30 ? RGN_AND : RGN_DIFF);
        break;
      }
      case 26: { // OffsetClipRgn
        QPointF by = Point32(r, 8);
        if (r.ok) OffsetClip(by);
        break;
      }
      case 75: { // ExtSelectClipRgn: data size, mode, RGNDATA (header, rectangles on the reference device)
        std::uint32_t size = r.U32(8), mode = r.U32(12);
        if (!r.ok) break;
        if (size < 32) { // no region: only a copy, which removes the clip region
          if (mode == RGN_COPY) {
            dc.clipped = false;
            ClipChanged();
          }
          break;
        }
        std::uint32_t count = r.U32(24);
        if (!r.ok || count > (r.n - std::min<std::size_t>(r.n, 48)) / 16) break;
        std::vector<QRect> rects;
        rects.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
          const std::size_t at = 48 + i * 16;
          const std::int64_t left = r.I32(at), top = r.I32(at + 4), right = r.I32(at + 8), bottom = r.I32(at + 12);
          if (right > left && bottom > top && right - left <= INT32_MAX && bottom - top <= INT32_MAX)
            rects.emplace_back(int(left), int(top), int(right - left), int(bottom - top));
        }
        ClipRects(rects, FDeviceToTarget, int(mode));
        break;
      }
      case 67: { // SelectClipPath: the path bracket's outline, closed
        std::uint32_t mode = r.U32(8);
        if (!r.ok || inPath) break;
        QPainterPath shape = path;
        path = QPainterPath();
        shape.setFillRule(FillRule());
        if (Finite(FDeviceToTarget.mapRect(shape.controlPointRect())))
          ClipArea(Flatten(shape, FDeviceToTarget, QRectF(FPixels)), shape.fillRule(), int(mode));
        break;
      }
      case 81: { // StretchDIBits
        QPointF dest = Point32(r, 24);
        int sx = r.I32(32), sy = r.I32(36), sw = r.I32(40), sh = r.I32(44);
        std::uint32_t offInfo = r.U32(48), cbInfo = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
        std::uint32_t usage = r.U32(64), rop = r.U32(68);
        double dw = r.I32(72), dh = r.I32(76);
        if (!r.ok) break;
        QRectF target(dest.x(), dest.y(), dw, dh);
        if (cbInfo == 0) {
          PatBlt(target, rop);
          break;
        }
        QImage image = Dib(r, offInfo, cbInfo, offBits, cbBits, usage);
        Image(target, image, SourceRect(image, sx, sy, sw, sh, true), rop);
        break;
      }
      case 76: case 77: { // BitBlt, StretchBlt: the source DC holds a DIB
        QPointF dest = Point32(r, 24);
        double dw = r.I32(32), dh = r.I32(36);
        std::uint32_t rop = r.U32(40);
        int sx = r.I32(44), sy = r.I32(48);
        std::uint32_t usage = r.U32(80), offInfo = r.U32(84), cbInfo = r.U32(88);
        std::uint32_t offBits = r.U32(92), cbBits = r.U32(96);
        std::int64_t sw = std::int64_t(dw), sh = std::int64_t(dh);
        if (type == 77) {
          sw = r.I32(100);
          sh = r.I32(104);
        }
        QRectF target(dest.x(), dest.y(), dw, dh);
        if (cbInfo == 0 && r.Has(0, 44)) {
          PatBlt(target, rop);
          break;
        }
        if (!r.ok) break;
        QImage image = Dib(r, offInfo, cbInfo, offBits, cbBits, usage);
        Image(target, image, SourceRect(image, sx, sy, sw, sh, false), rop);
        break;
      }
      case 83: TextRecord(r, false); break;
      case 84: TextRecord(r, true); break;
      default: break; // skipped by its size
    }
  }
};

} // namespace

QImage DecodeMetafileDIB(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits,
                         std::size_t bitsSize) {
  return DecodeDIB(info, infoSize, bits, bitsSize);
}

// ---------------------------------------------------------------- TMetafile

// Sizes in pixels, MulDiv rounding halves away from zero:
//   placeable WMF: Width = MulDiv(Right - Left, 96, Inch), Height = MulDiv(Bottom - Top, 96, Inch)
//     from the bounding box in metafile units and the units per inch (96: the screen's dpi);
//   plain WMF: the extents of its first SetWindowExt record, logical units taken as pixels;
//   EMF: Width = MulDiv(Frame.Right - Frame.Left, Device.cx, Millimeters.cx x 100), Height
//     likewise with cy, from the frame in 0.01 mm and the reference device's size in pixels
//     and in millimetres.
void TMetafile::LoadFromBytes(const std::uint8_t* data, std::size_t size) {
  Bytes b{data, size};
  TMetafile next;
  std::int64_t width = 0, height = 0;
  // Where the records after the header start, and the size of the smallest.
  std::size_t records = 0, smallest = 6;
  if (b.U32(0) == kPlaceableKey && b.ok) {
    std::int16_t left = b.I16(6), top = b.I16(8), right = b.I16(10), bottom = b.I16(12);
    std::uint16_t inch = b.U16(14);
    std::uint16_t type = b.U16(kPlaceableSize), headerWords = b.U16(kPlaceableSize + 2);
    if (!b.ok || (type != 1 && type != 2) || headerWords < 9 || !b.Has(kPlaceableSize, 18))
      throw EInvalidGraphic("Invalid metafile");
    // A metafile without units per inch or without extent has no size: it is
    // refused here, so no caller divides by it.
    if (inch == 0) throw EInvalidGraphic("Metafile has no size");
    width = MulDiv64(std::int64_t(right) - left, 96, inch);
    height = MulDiv64(std::int64_t(bottom) - top, 96, inch);
    next.FFrameLeft = left;
    next.FFrameTop = top;
    next.FFrameWidth = double(right) - left;
    next.FFrameHeight = double(bottom) - top;
    next.FRecordsOffset = kPlaceableSize + std::size_t(headerWords) * 2;
    records = next.FRecordsOffset;
  } else if (b.U32(0) == 1 && b.U32(40) == kEmfSignature && b.ok) {
    std::uint32_t headerSize = b.U32(4);
    if (headerSize < kEmfHeaderMin || headerSize > size) throw EInvalidGraphic("Invalid metafile");
    std::int64_t frameLeft = b.I32(24), frameTop = b.I32(28), frameRight = b.I32(32),
                 frameBottom = b.I32(36);
    std::int64_t deviceX = b.I32(72), deviceY = b.I32(76), mmX = b.I32(80), mmY = b.I32(84);
    if (mmX <= 0 || mmY <= 0 || deviceX <= 0 || deviceY <= 0) throw EInvalidGraphic("Metafile has no size");
    width = MulDiv64(frameRight - frameLeft, deviceX, mmX * 100);
    height = MulDiv64(frameBottom - frameTop, deviceY, mmY * 100);
    next.FEnhanced = true;
    next.FFrameLeft = double(MulDiv64(frameLeft, deviceX, mmX * 100));
    next.FFrameTop = double(MulDiv64(frameTop, deviceY, mmY * 100));
    next.FFrameWidth = double(width);
    next.FFrameHeight = double(height);
    records = headerSize;
    smallest = 8;
  } else {
    std::uint16_t type = b.U16(0), headerWords = b.U16(2), version = b.U16(4);
    if (!b.ok || (type != 1 && type != 2) || headerWords < 9 || (version != 0x0100 && version != 0x0300) ||
        !b.Has(0, std::size_t(headerWords) * 2))
      throw EInvalidGraphic("Invalid metafile");
    next.FRecordsOffset = std::size_t(headerWords) * 2;
    records = next.FRecordsOffset;
    bool haveOrigin = false, haveExtent = false;
    for (std::size_t off = next.FRecordsOffset; off <= size && size - off >= 6;) {
      Bytes rec{data + off, size - off};
      std::uint64_t bytes = std::uint64_t(rec.U32(0)) * 2;
      std::uint16_t function = rec.U16(4);
      if (bytes < 6 || bytes > size - off || function == 0) break;
      if (bytes >= 10 && (function == 0x020B || function == 0x020C)) {
        double y = rec.I16(6), x = rec.I16(8);
        if (function == 0x020B && !haveOrigin) {
          next.FFrameLeft = x;
          next.FFrameTop = y;
          haveOrigin = true;
        } else if (function == 0x020C && !haveExtent) {
          next.FFrameWidth = x;
          next.FFrameHeight = y;
          haveExtent = true;
        }
      }
      if (haveOrigin && haveExtent) break;
      off += std::size_t(bytes);
    }
    width = std::int64_t(std::abs(next.FFrameWidth));
    height = std::int64_t(std::abs(next.FFrameHeight));
  }
  if (width <= 0 || height <= 0) throw EInvalidGraphic("Metafile has no size");
  // One that ends with its header has no record to draw: its picture would
  // be the background alone, none of the file's.
  if (records > size || size - records < smallest) throw EInvalidGraphic("Metafile has no records");
  if (width > std::numeric_limits<std::int32_t>::max() || height > std::numeric_limits<std::int32_t>::max())
    throw EInvalidGraphic("Metafile too large");
  next.FWidth = int(width);
  next.FHeight = int(height);
  next.FData.assign(data, data + size);
  *this = std::move(next);
}

void TMetafile::LoadFromStream(TStream& stream) {
  std::int64_t available = stream.Size() - stream.Position();
  if (available <= 0) throw EInvalidGraphic("Invalid metafile");
  if (available > kMaxMetafileBytes) throw EInvalidGraphic("Metafile too large");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(available));
  stream.ReadBuffer(bytes.data(), available);
  LoadFromBytes(bytes.data(), bytes.size());
}

void TMetafile::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead);
  LoadFromStream(stream);
}

void TMetafile::SaveToStream(TStream& stream) const {
  if (!FData.empty()) stream.WriteBuffer(FData.data(), std::int64_t(FData.size()));
}

void TMetafile::SaveToFile(const std::string& fileName) const {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TMetafile::Clear() { *this = TMetafile(); }

namespace {
void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
  out[at] = std::uint8_t(v);
  out[at + 1] = std::uint8_t(v >> 8);
}
} // namespace

namespace {
// A picture's rows as a 24-bit bottom-up DIB's, from at on (stride bytes a row).
void PutDibRows(std::vector<std::uint8_t>& out, std::size_t at, const QImage& rgb, std::uint64_t stride) {
  const std::uint32_t w = std::uint32_t(rgb.width()), h = std::uint32_t(rgb.height());
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* src = rgb.constScanLine(int(h - 1 - y));
    std::uint8_t* dst = out.data() + at + stride * y;
    for (std::uint32_t x = 0; x < w; ++x) {
      dst[x * 3] = src[x * 3 + 2];
      dst[x * 3 + 1] = src[x * 3 + 1];
      dst[x * 3 + 2] = src[x * 3];
    }
  }
}

// The BITMAPINFOHEADER of those rows, at 96 dpi.
void PutDibHeader(std::vector<std::uint8_t>& out, std::size_t bi, std::uint32_t w, std::uint32_t h,
                  std::uint64_t bitsSize) {
  Put32(out, bi, 40);
  Put32(out, bi + 4, w);
  Put32(out, bi + 8, h); // bottom-up
  Put16(out, bi + 12, 1);
  Put16(out, bi + 14, 24);
  Put32(out, bi + 20, std::uint32_t(bitsSize));
  Put32(out, bi + 24, 3780); // 96 dpi
  Put32(out, bi + 28, 3780);
}

// A placeable WMF: the picture's box in units of 1/96 inch, a window of the
// same extent, the picture in one StretchDIB record over it.
std::vector<std::uint8_t> WmfOf(const QImage& rgb, std::uint64_t stride, std::uint64_t bitsSize) {
  const std::uint32_t w = std::uint32_t(rgb.width()), h = std::uint32_t(rgb.height());
  if (w > 0x7FFF || h > 0x7FFF) throw EInvalidGraphic("Picture too large for a Windows metafile");
  constexpr std::size_t header = kPlaceableSize + 18, window = 2 * 10, dibRecord = 6 + 22 + 40, eof = 6;
  if (bitsSize > 0x7FFFFFFFu - header - window - dibRecord - eof) throw EInvalidGraphic("Picture too large");
  const std::size_t total = header + window + dibRecord + std::size_t(bitsSize) + eof;
  std::vector<std::uint8_t> out(total, 0);
  Put32(out, 0, kPlaceableKey);
  Put16(out, 10, std::uint16_t(w)); // box: left, top 0
  Put16(out, 12, std::uint16_t(h));
  Put16(out, 14, 96); // units an inch
  std::uint16_t check = 0;
  for (std::size_t i = 0; i < 20; i += 2) check = std::uint16_t(check ^ (out[i] | out[i + 1] << 8));
  Put16(out, 20, check);
  std::size_t m = kPlaceableSize;
  Put16(out, m, 1); // in memory
  Put16(out, m + 2, 9);
  Put16(out, m + 4, 0x0300);
  Put32(out, m + 6, std::uint32_t((total - kPlaceableSize) / 2));
  Put32(out, m + 12, std::uint32_t((dibRecord + bitsSize) / 2)); // the longest record
  std::size_t r = header;
  for (std::uint16_t function : {std::uint16_t(0x020B), std::uint16_t(0x020C)}) { // window origin, extent
    Put32(out, r, 5);
    Put16(out, r + 4, function);
    if (function == 0x020C) {
      Put16(out, r + 6, std::uint16_t(h));
      Put16(out, r + 8, std::uint16_t(w));
    }
    r += 10;
  }
  Put32(out, r, std::uint32_t((dibRecord + bitsSize) / 2));
  Put16(out, r + 4, 0x0F43); // StretchDIB: rop, usage, source and destination rectangles (y first), DIB
  Put32(out, r + 6, 0x00CC0020);
  Put16(out, r + 12, std::uint16_t(h));
  Put16(out, r + 14, std::uint16_t(w));
  Put16(out, r + 20, std::uint16_t(h));
  Put16(out, r + 22, std::uint16_t(w));
  PutDibHeader(out, r + 28, w, h, bitsSize);
  PutDibRows(out, r + dibRecord, rgb, stride);
  Put32(out, total - eof, 3); // end of file
  return out;
}
} // namespace

void TMetafile::Assign(const QImage& picture, bool enhanced) {
  if (picture.isNull()) {
    Clear();
    return;
  }
  QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  const std::uint32_t w = std::uint32_t(rgb.width()), h = std::uint32_t(rgb.height());
  const std::uint64_t stride = (std::uint64_t(w) * 3 + 3) / 4 * 4;
  const std::uint64_t bitsSize = stride * h;
  if (!enhanced) {
    const std::vector<std::uint8_t> wmf = WmfOf(rgb, stride, bitsSize);
    LoadFromBytes(wmf.data(), wmf.size());
    return;
  }
  constexpr std::size_t header = 108, dibRecord = 80 + 40, eof = 20;
  if (bitsSize > 0x7FFFFFFFu - header - dibRecord - eof) throw EInvalidGraphic("Picture too large");
  const std::size_t total = header + dibRecord + std::size_t(bitsSize) + eof;
  std::vector<std::uint8_t> out(total, 0);

  // A reference device of 1920 x 1440 pixels on 508 x 381 mm is 96 dpi, the
  // picture's pixels are its device pixels.
  const std::uint32_t deviceX = 1920, deviceY = 1440, mmX = 508, mmY = 381;
  Put32(out, 0, 1);
  Put32(out, 4, header);
  Put32(out, 16, w - 1); // bounds, inclusive
  Put32(out, 20, h - 1);
  Put32(out, 32, std::uint32_t(MulDiv64(w, 2540, 96))); // frame in 0.01 mm
  Put32(out, 36, std::uint32_t(MulDiv64(h, 2540, 96)));
  Put32(out, 40, kEmfSignature);
  Put32(out, 44, 0x10000);
  Put32(out, 48, std::uint32_t(total));
  Put32(out, 52, 3);
  Put16(out, 56, 1);
  Put32(out, 72, deviceX);
  Put32(out, 76, deviceY);
  Put32(out, 80, mmX);
  Put32(out, 84, mmY);
  Put32(out, 100, mmX * 1000);
  Put32(out, 104, mmY * 1000);

  std::size_t r = header;
  Put32(out, r, 81); // StretchDIBits
  Put32(out, r + 4, std::uint32_t(dibRecord + bitsSize));
  Put32(out, r + 16, w - 1);
  Put32(out, r + 20, h - 1);
  Put32(out, r + 40, w);
  Put32(out, r + 44, h);
  Put32(out, r + 48, 80);
  Put32(out, r + 52, 40);
  Put32(out, r + 56, 120);
  Put32(out, r + 60, std::uint32_t(bitsSize));
  Put32(out, r + 68, 0x00CC0020);
  Put32(out, r + 72, w);
  Put32(out, r + 76, h);
  PutDibHeader(out, r + 80, w, h, bitsSize);
  PutDibRows(out, r + dibRecord, rgb, stride);
  std::size_t e = r + dibRecord + std::size_t(bitsSize);
  Put32(out, e, 14); // EOF
  Put32(out, e + 4, eof);
  Put32(out, e + 12, 16);
  Put32(out, e + 16, eof);

  LoadFromBytes(out.data(), out.size());
}

TMetafileDrawStats TMetafile::Draw(QPainter& painter, const QRect& rect, const std::function<bool(int)>& keepGoing,
                                   double allowance) const {
  TMetafileDrawStats stats;
  if (FData.empty() || FFrameWidth == 0 || FFrameHeight == 0 || rect.isEmpty()) return stats;
  // The frame, in the units the records start in, onto the target rectangle.
  double sx = rect.width() / FFrameWidth, sy = rect.height() / FFrameHeight;
  QTransform deviceToTarget(sx, 0, 0, sy, rect.left() - FFrameLeft * sx, rect.top() - FFrameTop * sy);
  painter.save();
  painter.setClipRect(rect, Qt::IntersectClip);
  if (FEnhanced) {
    Bytes head{FData.data(), FData.size()};
    EmfPlayer player(painter, deviceToTarget, rect, stats, keepGoing, allowance, head.U16(56));
    player.Play(FData.data(), FData.size());
  } else {
    QRectF frame(FFrameLeft, FFrameTop, FFrameWidth, FFrameHeight);
    WmfPlayer player(painter, deviceToTarget, rect, stats, keepGoing, allowance, frame);
    player.Play(FData.data(), FData.size(), FRecordsOffset);
  }
  painter.restore();
  return stats;
}

} // namespace platform
