#include "platform/graphics.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

QRgb EntryToQRgb(const TPaletteEntry& e) { return qRgb(e.peRed, e.peGreen, e.peBlue); }
TPaletteEntry QRgbToEntry(QRgb c) {
  return {static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
          static_cast<std::uint8_t>(qBlue(c)), 0};
}

QList<QRgb> BlackWhiteTable() { return {qRgb(0, 0, 0), qRgb(255, 255, 255)}; }

QList<QRgb> GrayTable() {
  QList<QRgb> t;
  t.reserve(256);
  for (int i = 0; i < 256; ++i) t.append(qRgb(i, i, i));
  return t;
}

// The classic 16-colour palette a new 4-bit bitmap starts with.
std::vector<TPaletteEntry> DefaultPalette16() {
  static const std::uint32_t rgb[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                        0x008080, 0x808080, 0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00,
                                        0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  std::vector<TPaletteEntry> p(16);
  for (int i = 0; i < 16; ++i)
    p[i] = {static_cast<std::uint8_t>(rgb[i] >> 16), static_cast<std::uint8_t>(rgb[i] >> 8),
            static_cast<std::uint8_t>(rgb[i]), 0};
  return p;
}

bool QtCanPaint(TPixelFormat f) { return f != pf1bit && f != pf4bit && f != pf8bit; }

// Nearest palette index of a colour, exact matches first.
class TPaletteMatcher {
public:
  explicit TPaletteMatcher(const QList<QRgb>& table) : FTable(table) {}
  int Index(QRgb c) {
    c |= 0xFF000000u;
    auto it = FCache.constFind(c);
    if (it != FCache.constEnd()) return it.value();
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < FTable.size(); ++i) {
      const QRgb t = FTable[i];
      const int dr = qRed(t) - qRed(c), dg = qGreen(t) - qGreen(c), db = qBlue(t) - qBlue(c);
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDist) {
        bestDist = d;
        best = i;
        if (d == 0) break;
      }
    }
    FCache.insert(c, best);
    return best;
  }

private:
  QList<QRgb> FTable;
  QHash<QRgb, int> FCache;
};

void SetIndex(QImage& image, TPixelFormat format, int x, int y, int index) {
  uchar* row = image.scanLine(y);
  if (format == pf1bit) {
    const uchar m = static_cast<uchar>(0x80u >> (x & 7));
    row[x >> 3] = index ? (row[x >> 3] | m) : (row[x >> 3] & ~m);
  } else if (format == pf4bit) {
    uchar& b = row[x >> 1];
    b = (x & 1) ? static_cast<uchar>((b & 0xF0) | (index & 15))
                : static_cast<uchar>((b & 0x0F) | ((index & 15) << 4));
  } else {
    row[x] = static_cast<uchar>(index);
  }
}

QList<QRgb> PaletteTable(const TBitmap& bitmap) {
  QList<QRgb> table;
  std::vector<TPaletteEntry> entries(static_cast<std::size_t>(bitmap.PaletteSize()));
  bitmap.GetPaletteEntries(0, static_cast<int>(entries.size()), entries.data());
  for (const auto& e : entries) table.append(EntryToQRgb(e));
  return table;
}

} // namespace

QRgb ColorToQRgb(TColor color) {
  const std::uint32_t rgb = ColorToRGB(color);
  return qRgb(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

static TColor QRgbToColor(QRgb c) {
  return static_cast<TColor>(RGB(static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                                 static_cast<std::uint8_t>(qBlue(c))));
}

QFont TFont::ToQFont() const {
  QFont f(QString::fromStdString(Name));
  f.setPointSize(Size > 0 ? Size : 8);
  f.setBold(Bold);
  f.setItalic(Italic);
  f.setUnderline(Underline);
  f.setStrikeOut(StrikeOut);
  return f;
}

// ---------------------------------------------------------------- TBitmap

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
  FFormat = format;
  Reallocate(width, height, format, false);
}

TBitmap::~TBitmap() = default;

QImage::Format TBitmap::StorageFormat(TPixelFormat format) const {
  switch (format) {
    case pf1bit: return QImage::Format_Mono;
    case pf4bit:
    case pf8bit: return QImage::Format_Indexed8;
    case pf15bit: return QImage::Format_RGB555;
    case pf16bit: return QImage::Format_RGB16;
    case pf24bit: return QImage::Format_BGR888;
    default: return QImage::Format_RGB32;
  }
}

int TBitmap::StorageWidth(int width, TPixelFormat format) const {
  return format == pf4bit ? (width + 1) / 2 : width;
}

int TBitmap::BitsPerPixel() const {
  switch (FFormat) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    default: return 32;
  }
}

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool keep) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  QList<QRgb> table;
  if (format == pf1bit) table = FImage.format() == QImage::Format_Mono && FImage.colorCount() == 2
                                    ? FImage.colorTable() : BlackWhiteTable();
  if (format == pf8bit) table = FFormat == pf8bit && FImage.colorCount() == 256 ? FImage.colorTable()
                                                                                 : GrayTable();
  if (format == pf4bit && FPalette4.size() != 16) FPalette4 = DefaultPalette16();
  if (width == 0 || height == 0) {
    FImage = QImage();
  } else {
    QImage image(StorageWidth(width, format), height, StorageFormat(format));
    if (image.isNull()) throw std::bad_alloc();
    image.fill(0);
    if (!table.isEmpty()) image.setColorTable(table);
    if (format == pf4bit) image.setColorTable(GrayTable());
    if (keep && !FImage.isNull() && FImage.format() == image.format()) {
      const int rows = std::min(FImage.height(), image.height());
      const qsizetype bytes = std::min(FImage.bytesPerLine(), image.bytesPerLine());
      for (int y = 0; y < rows; ++y) std::memcpy(image.scanLine(y), FImage.constScanLine(y), bytes);
    }
    FImage = image;
  }
  FWidth = width;
  FHeight = height;
  FFormat = format;
}

void TBitmap::SetWidth(int value) { SetSize(value, FHeight); }
void TBitmap::SetHeight(int value) { SetSize(FWidth, value); }

void TBitmap::SetSize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  Reallocate(width, height, FFormat, true);
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == FFormat) return;
  if (Empty()) {
    Reallocate(FWidth, FHeight, value, false);
    return;
  }
  const QImage source = ToImage().convertToFormat(QImage::Format_RGB32);
  Reallocate(FWidth, FHeight, value, false);
  if (value == pf1bit || value == pf4bit || value == pf8bit) {
    TPaletteMatcher matcher(PaletteTable(*this));
    for (int y = 0; y < FHeight; ++y) {
      const QRgb* s = reinterpret_cast<const QRgb*>(source.constScanLine(y));
      for (int x = 0; x < FWidth; ++x) SetIndex(FImage, value, x, y, matcher.Index(s[x]));
    }
  } else {
    FImage = source.convertToFormat(StorageFormat(value));
  }
}

bool TBitmap::Monochrome() const {
  if (FFormat != pf1bit) return false;
  TPaletteEntry e[2];
  if (GetPaletteEntries(0, 2, e) != 2) return false;
  return EntryToQRgb(e[0]) == qRgb(0, 0, 0) && EntryToQRgb(e[1]) == qRgb(255, 255, 255);
}

void TBitmap::SetMonochrome(bool value) {
  if (!value) return;
  SetPixelFormat(pf1bit);
  if (!FImage.isNull()) FImage.setColorTable(BlackWhiteTable());
}

std::uint8_t* TBitmap::ScanLine(int row) {
  return FImage.isNull() ? nullptr : FImage.scanLine(row);
}

const std::uint8_t* TBitmap::ScanLine(int row) const {
  return FImage.isNull() ? nullptr : FImage.constScanLine(row);
}

int TBitmap::ScanLineSize() const {
  return static_cast<int>(((static_cast<std::int64_t>(FWidth) * BitsPerPixel() + 31) / 32) * 4);
}

int TBitmap::PaletteSize() const {
  switch (FFormat) {
    case pf1bit: return 2;
    case pf4bit: return 16;
    case pf8bit: return 256;
    default: return 0;
  }
}

int TBitmap::GetPaletteEntries(int start, int count, TPaletteEntry* entries) const {
  const int size = PaletteSize();
  if (start < 0 || start >= size || count <= 0) return 0;
  count = std::min(count, size - start);
  if (FFormat == pf4bit) {
    for (int i = 0; i < count; ++i) entries[i] = FPalette4[static_cast<std::size_t>(start + i)];
    return count;
  }
  const QList<QRgb> table = FImage.isNull() ? (FFormat == pf1bit ? BlackWhiteTable() : GrayTable())
                                            : FImage.colorTable();
  for (int i = 0; i < count; ++i)
    entries[i] = start + i < table.size() ? QRgbToEntry(table[start + i]) : TPaletteEntry{};
  return count;
}

int TBitmap::SetPaletteEntries(int start, int count, const TPaletteEntry* entries) {
  const int size = PaletteSize();
  if (start < 0 || start >= size || count <= 0) return 0;
  count = std::min(count, size - start);
  if (FFormat == pf4bit) {
    for (int i = 0; i < count; ++i) FPalette4[static_cast<std::size_t>(start + i)] = entries[i];
    return count;
  }
  if (FImage.isNull()) return 0;
  QList<QRgb> table = FImage.colorTable();
  table.resize(size);
  for (int i = 0; i < count; ++i) table[start + i] = EntryToQRgb(entries[i]);
  FImage.setColorTable(table);
  return count;
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source == this) return;
  FWidth = source.FWidth;
  FHeight = source.FHeight;
  FFormat = source.FFormat;
  FImage = source.FImage;
  FPalette4 = source.FPalette4;
}

TCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>(this);
  return *FCanvas;
}

QImage TBitmap::ToImage() const {
  if (FFormat != pf4bit || FImage.isNull()) return FImage;
  QImage image(FWidth, FHeight, QImage::Format_Indexed8);
  QList<QRgb> table;
  for (const auto& e : FPalette4) table.append(EntryToQRgb(e));
  image.setColorTable(table);
  for (int y = 0; y < FHeight; ++y) {
    const uchar* s = FImage.constScanLine(y);
    uchar* d = image.scanLine(y);
    for (int x = 0; x < FWidth; ++x) d[x] = (x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4);
  }
  return image;
}

void TBitmap::SetImage(const QImage& image) {
  TPixelFormat format = pf32bit;
  QImage stored = image;
  switch (image.format()) {
    case QImage::Format_Mono: format = pf1bit; break;
    case QImage::Format_MonoLSB:
      format = pf1bit;
      stored = image.convertToFormat(QImage::Format_Mono);
      break;
    case QImage::Format_Indexed8: format = pf8bit; break;
    case QImage::Format_Grayscale8: format = pf8bit; stored = image.convertToFormat(QImage::Format_Indexed8, GrayTable()); break;
    case QImage::Format_RGB555: format = pf15bit; break;
    case QImage::Format_RGB16: format = pf16bit; break;
    case QImage::Format_BGR888: format = pf24bit; break;
    case QImage::Format_RGB32: format = pf32bit; break;
    default: stored = image.convertToFormat(QImage::Format_RGB32); break;
  }
  if (format == pf8bit && stored.colorCount() != 256) {
    QList<QRgb> table = stored.colorTable();
    table.resize(256, qRgb(0, 0, 0));
    stored.setColorTable(table);
  }
  FImage = stored;
  FFormat = format;
  FWidth = stored.width();
  FHeight = stored.height();
}

// ---------------------------------------------------------------- TCanvas

TCanvas::TCanvas(TBitmap* bitmap) : FBitmap(bitmap) {}
TCanvas::TCanvas(QPainter* painter) : FPainter(painter) {}
TCanvas::~TCanvas() = default;

void TCanvas::SetClipRegion(const QRegion& region) {
  FClip = region;
  FHasClip = true;
}

void TCanvas::RemoveClip() {
  FClip = QRegion();
  FHasClip = false;
}

void TCanvas::ExcludeClipRect(const TRect& r) {
  // Without a clip everything is drawn: start from the whole coordinate range.
  const QRegion all(QRect(-(1 << 24), -(1 << 24), 1 << 25, 1 << 25));
  SetClipRegion((FHasClip ? FClip : all).subtracted(QRegion(r.ToQRect().normalized())));
}

void TCanvas::Paint(const std::function<void(QPainter&)>& draw) {
  if (FPainter != nullptr) {
    FPainter->save();
    FPainter->setRenderHint(QPainter::Antialiasing, false);
    if (FHasClip) FPainter->setClipRegion(FClip, FPainter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    draw(*FPainter);
    FPainter->restore();
    return;
  }
  if (FBitmap == nullptr || FBitmap->Empty()) return;
  if (FHasClip && FClip.isEmpty()) return;
  if (QtCanPaint(FBitmap->FFormat)) {
    QPainter p(&FBitmap->FImage);
    if (FHasClip) p.setClipRegion(FClip);
    draw(p);
    return;
  }
  // Palette formats: draw on a 32-bit copy, then map the pixels that changed
  // back onto the palette so untouched indices stay as they were.
  const QImage before = FBitmap->ToImage().convertToFormat(QImage::Format_RGB32);
  QImage work = before;
  {
    QPainter p(&work);
    if (FHasClip) p.setClipRegion(FClip);
    draw(p);
  }
  TPaletteMatcher matcher(PaletteTable(*FBitmap));
  for (int y = 0; y < work.height(); ++y) {
    const QRgb* a = reinterpret_cast<const QRgb*>(before.constScanLine(y));
    const QRgb* b = reinterpret_cast<const QRgb*>(work.constScanLine(y));
    for (int x = 0; x < work.width(); ++x)
      if (a[x] != b[x]) SetIndex(FBitmap->FImage, FBitmap->FFormat, x, y, matcher.Index(b[x]));
  }
}

static QPainter::CompositionMode PenModeToComposition(TPenMode mode) {
  switch (mode) {
    case pmNot: return QPainter::RasterOp_NotDestination;
    case pmNotCopy: return QPainter::RasterOp_NotSource;
    case pmXor: return QPainter::RasterOp_SourceXorDestination;
    case pmNotXor: return QPainter::RasterOp_NotSourceXorDestination;
    case pmMerge: return QPainter::RasterOp_SourceOrDestination;
    case pmMask: return QPainter::RasterOp_SourceAndDestination;
    case pmNotMerge: return QPainter::RasterOp_NotSourceAndNotDestination;
    case pmNotMask: return QPainter::RasterOp_NotSourceOrNotDestination;
    case pmMaskPenNot: return QPainter::RasterOp_SourceAndNotDestination;
    case pmMaskNotPen: return QPainter::RasterOp_NotSourceAndDestination;
    case pmMergeNotPen: return QPainter::RasterOp_NotSourceOrDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

void TCanvas::Apply(QPainter& p, bool pen, bool brush) const {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setCompositionMode(PenModeToComposition(Pen.Mode));
  QColor penColor = QColor::fromRgb(ColorToQRgb(Pen.Color));
  if (Pen.Mode == pmBlack) penColor = Qt::black;
  if (Pen.Mode == pmWhite) penColor = Qt::white;
  if (!pen || Pen.Style == psClear || Pen.Mode == pmNop) {
    p.setPen(Qt::NoPen);
  } else {
    QPen qp(penColor);
    qp.setWidth(Pen.Width > 1 ? Pen.Width : 0);
    qp.setCapStyle(Qt::FlatCap);
    qp.setJoinStyle(Qt::MiterJoin);
    static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                          Qt::DashDotDotLine, Qt::NoPen, Qt::SolidLine};
    qp.setStyle(styles[Pen.Style]);
    p.setPen(qp);
  }
  if (!brush || (Brush.Style == bsClear && Brush.Pattern.isNull())) {
    p.setBrush(Qt::NoBrush);
  } else if (Pen.Mode == pmBlack || Pen.Mode == pmWhite) {
    p.setBrush(Pen.Mode == pmBlack ? Qt::black : Qt::white);
  } else {
    p.setBrush(QtBrush());
  }
}

QBrush TCanvas::QtBrush() const {
  if (!Brush.Pattern.isNull()) {
    QImage pattern = Brush.Pattern;
    if (pattern.format() == QImage::Format_Mono || pattern.format() == QImage::Format_MonoLSB)
      pattern.setColorTable({ColorToQRgb(TextColor) | 0xFF000000u, ColorToQRgb(BackColor) | 0xFF000000u});
    return QBrush(pattern.convertToFormat(QImage::Format_RGB32));
  }
  if (Brush.Style == bsClear) return Qt::NoBrush;
  static const Qt::BrushStyle styles[] = {Qt::SolidPattern, Qt::NoBrush, Qt::HorPattern,
                                          Qt::VerPattern, Qt::FDiagPattern, Qt::BDiagPattern,
                                          Qt::CrossPattern, Qt::DiagCrossPattern};
  return QBrush(QColor::fromRgb(ColorToQRgb(Brush.Color)), styles[Brush.Style]);
}

namespace {
// A hatched brush on an opaque background first lays the background colour.
bool NeedsBackground(const TCanvas& c) {
  return c.Brush.Pattern.isNull() && c.Brush.Style != bsSolid && c.Brush.Style != bsClear &&
         c.BackMode == bkOpaque;
}
} // namespace

void TCanvas::MoveTo(int x, int y) { PenPos = {x, y}; }

void TCanvas::LineTo(int x, int y) {
  const TPoint from = PenPos;
  PenPos = {x, y};
  if (Pen.Style == psClear || Pen.Mode == pmNop) return;
  if (Pen.Width <= 1 && Pen.Style == psSolid) {
    // Every pixel once, the end point left out, so that an XOR line drawn
    // twice restores what was under it.
    QPolygon pixels;
    int x0 = from.X, y0 = from.Y;
    const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    while (!(x0 == x && y0 == y)) {
      pixels.append(QPoint(x0, y0));
      const int e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
    if (pixels.isEmpty()) return;
    Paint([&](QPainter& p) {
      Apply(p, true, false);
      p.drawPoints(pixels);
    });
    return;
  }
  Paint([&](QPainter& p) {
    Apply(p, true, false);
    p.drawLine(from.X, from.Y, x, y);
  });
}

void TCanvas::Polyline(const TPoint* points, int count) {
  if (count < 1) return;
  MoveTo(points[0].X, points[0].Y);
  for (int i = 1; i < count; ++i) LineTo(points[i].X, points[i].Y);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const int w = x2 - x1, h = y2 - y1;
  if (w <= 0 || h <= 0) return;
  Paint([&](QPainter& p) {
    Apply(p, false, true);
    const bool outline = Pen.Style != psClear && Pen.Mode != pmNop;
    if (p.brush().style() != Qt::NoBrush) {
      QRect inside;
      if (outline && w > 2 && h > 2) inside = QRect(x1 + 1, y1 + 1, w - 2, h - 2);
      else if (!outline) inside = QRect(x1, y1, w - 1, h - 1);
      if (!inside.isEmpty() && NeedsBackground(*this)) p.fillRect(inside, QColor::fromRgb(ColorToQRgb(BackColor)));
      if (!inside.isEmpty()) p.fillRect(inside, p.brush());
    }
    if (!outline) return;
    QColor c = QColor::fromRgb(ColorToQRgb(Pen.Color));
    if (Pen.Mode == pmBlack) c = Qt::black;
    if (Pen.Mode == pmWhite) c = Qt::white;
    const int pw = std::max(1, Pen.Width);
    // A wide pen is centred on the path (inside-frame pens stay inside).
    const int out = Pen.Style == psInsideFrame ? 0 : pw / 2;
    const int bx1 = x1 - out, by1 = y1 - out;
    const int bx2 = x2 - 1 - out + pw - (Pen.Style == psInsideFrame ? pw - 1 : 0);
    const int by2 = y2 - 1 - out + pw - (Pen.Style == psInsideFrame ? pw - 1 : 0);
    const int bw = bx2 - bx1, bh = by2 - by1;
    // Four bands that do not overlap, so that XOR frames undo themselves.
    p.fillRect(QRect(bx1, by1, bw, std::min(pw, bh)), c);
    if (bh > pw) p.fillRect(QRect(bx1, by2 - std::min(pw, bh - pw), bw, std::min(pw, bh - pw)), c);
    const int inner = bh - 2 * pw;
    if (inner > 0) {
      p.fillRect(QRect(bx1, by1 + pw, std::min(pw, bw), inner), c);
      if (bw > pw) p.fillRect(QRect(bx2 - std::min(pw, bw - pw), by1 + pw, std::min(pw, bw - pw), inner), c);
    }
  });
}

namespace {
// The box a shape's path runs along: a one-pixel pen sits on the pixels
// inside the right and bottom edge; without a pen the fill leaves out one
// more pixel, as a wide pen's centre line is drawn half in.
QRectF ShapeBox(int x1, int y1, int x2, int y2, const TPen& pen) {
  const bool outline = pen.Style != psClear && pen.Mode != pmNop;
  const double in = outline ? (pen.Width > 1 ? pen.Width / 2.0 : 0.5) : 0.0;
  const double shrink = outline ? 2 * in : 1.0;
  return QRectF(x1 + in, y1 + in, x2 - x1 - shrink, y2 - y1 - shrink);
}
} // namespace

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  Paint([&](QPainter& p) {
    Apply(p, true, true);
    if (Pen.Style == psClear || Pen.Mode == pmNop) {
      if (NeedsBackground(*this)) {
        QPainterPath path;
        path.addEllipse(ShapeBox(x1, y1, x2, y2, Pen));
        p.fillPath(path, QColor::fromRgb(ColorToQRgb(BackColor)));
      }
      p.drawEllipse(ShapeBox(x1, y1, x2, y2, Pen));
    } else {
      p.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
    }
  });
}

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int width, int height) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  const QRectF box = ShapeBox(x1, y1, x2, y2, Pen);
  const double rx = std::min(std::abs(width) / 2.0, box.width() / 2);
  const double ry = std::min(std::abs(height) / 2.0, box.height() / 2);
  Paint([&](QPainter& p) {
    Apply(p, true, true);
    QPainterPath path;
    path.addRoundedRect(box, rx, ry);
    if (NeedsBackground(*this)) p.fillPath(path, QColor::fromRgb(ColorToQRgb(BackColor)));
    p.drawPath(path);
  });
}

void TCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1 || Pen.Style == psClear || Pen.Mode == pmNop) return;
  const QRectF box = ShapeBox(x1, y1, x2, y2, Pen);
  const QPointF c = box.center();
  // Angles counter-clockwise on the screen, y pointing down.
  const double start = std::atan2(c.y() - y3, x3 - c.x()) * 180.0 / M_PI;
  const double end = std::atan2(c.y() - y4, x4 - c.x()) * 180.0 / M_PI;
  double span = end - start;
  while (span <= 0) span += 360.0;
  Paint([&](QPainter& p) {
    Apply(p, true, false);
    QPainterPath path;
    path.arcMoveTo(box, start);
    path.arcTo(box, start, span);
    p.drawPath(path);
  });
}

void TCanvas::Polygon(const TPoint* points, int count) {
  if (count < 2) return;
  QPolygon poly;
  for (int i = 0; i < count; ++i) poly.append(QPoint(points[i].X, points[i].Y));
  Paint([&](QPainter& p) {
    Apply(p, true, true);
    p.drawPolygon(poly);
  });
}

void TCanvas::FillRect(const TRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0 || (Brush.Style == bsClear && Brush.Pattern.isNull())) return;
  Paint([&](QPainter& p) {
    Apply(p, false, true);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (NeedsBackground(*this)) p.fillRect(r.ToQRect(), QColor::fromRgb(ColorToQRgb(BackColor)));
    p.fillRect(r.ToQRect(), QtBrush());
  });
}

void TCanvas::FrameRect(const TRect& r) {
  const int w = r.Width(), h = r.Height();
  if (w <= 0 || h <= 0) return;
  const QColor c = QColor::fromRgb(ColorToQRgb(Brush.Color));
  Paint([&](QPainter& p) {
    p.fillRect(QRect(r.Left, r.Top, w, 1), c);
    if (h > 1) p.fillRect(QRect(r.Left, r.Bottom - 1, w, 1), c);
    if (h > 2) {
      p.fillRect(QRect(r.Left, r.Top + 1, 1, h - 2), c);
      if (w > 1) p.fillRect(QRect(r.Right - 1, r.Top + 1, 1, h - 2), c);
    }
  });
}

void TCanvas::FillRgn(const QRegion& region) {
  if (region.isEmpty() || (Brush.Style == bsClear && Brush.Pattern.isNull())) return;
  Paint([&](QPainter& p) {
    Apply(p, false, true);
    const QBrush brush = QtBrush();
    for (const QRect& r : region) {
      if (NeedsBackground(*this)) p.fillRect(r, QColor::fromRgb(ColorToQRgb(BackColor)));
      p.fillRect(r, brush);
    }
  });
}

TColor TCanvas::Pixels(int x, int y) {
  if (FBitmap != nullptr) {
    if (x < 0 || y < 0 || x >= FBitmap->Width() || y >= FBitmap->Height()) return -1;
    return QRgbToColor(FBitmap->ToImage().pixel(x, y));
  }
  if (FPainter != nullptr && FPainter->device() != nullptr &&
      FPainter->device()->devType() == QInternal::Image) {
    const QImage* image = static_cast<const QImage*>(FPainter->device());
    if (image->valid(x, y)) return QRgbToColor(image->pixel(x, y));
  }
  return -1;
}

void TCanvas::SetPixels(int x, int y, TColor color) {
  if (FBitmap != nullptr) {
    if (x < 0 || y < 0 || x >= FBitmap->Width() || y >= FBitmap->Height()) return;
    const TPixelFormat f = FBitmap->FFormat;
    if (!QtCanPaint(f)) {
      TPaletteMatcher matcher(PaletteTable(*FBitmap));
      SetIndex(FBitmap->FImage, f, x, y, matcher.Index(ColorToQRgb(color)));
    } else {
      FBitmap->FImage.setPixel(x, y, ColorToQRgb(color));
    }
    return;
  }
  Paint([&](QPainter& p) { p.fillRect(QRect(x, y, 1, 1), QColor::fromRgb(ColorToQRgb(color))); });
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  const QString s = QString::fromStdString(text);
  const QFont font = Font.ToQFont();
  const QFontMetrics fm(font);
  const int w = fm.horizontalAdvance(s);
  Paint([&](QPainter& p) {
    if (Brush.Style != bsClear)
      p.fillRect(QRect(x, y, w, fm.height()), QColor::fromRgb(ColorToQRgb(Brush.Color)));
    p.setFont(font);
    p.setPen(QColor::fromRgb(ColorToQRgb(Font.Color)));
    p.drawText(QPoint(x, y + fm.ascent()), s);
  });
  PenPos = {x + w, y};
}

int TCanvas::TextWidth(const std::string& text) {
  return QFontMetrics(Font.ToQFont()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) { return QFontMetrics(Font.ToQFont()).height(); }

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  const QImage image = bitmap.ToImage();
  Paint([&](QPainter& p) { p.drawImage(x, y, image); });
}

void TCanvas::StretchDraw(const TRect& dest, const TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  DrawImageRop(*this, dest.ToQRect(), bitmap.ToImage(), QRect(0, 0, bitmap.Width(), bitmap.Height()),
               SRCCOPY);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
  StretchBlt(*this, dest.Left, dest.Top, dest.Width(), dest.Height(), source, sourceRect.Left,
             sourceRect.Top, sourceRect.Width(), sourceRect.Height(), CopyMode);
}

void TCanvas::BrushCopy(const TRect& dest, const TBitmap& bitmap, const TRect& source, TColor color) {
  if (bitmap.Empty() || dest.Width() <= 0 || dest.Height() <= 0) return;
  QImage image = bitmap.ToImage().copy(source.ToQRect()).convertToFormat(QImage::Format_RGB32);
  const QRgb key = ColorToQRgb(color) | 0xFF000000u;
  const QRgb brush = ColorToQRgb(Brush.Color) | 0xFF000000u;
  for (int y = 0; y < image.height(); ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] | 0xFF000000u) == key) row[x] = brush;
  }
  DrawImageRop(*this, dest.ToQRect(), image, image.rect(), SRCCOPY);
}

QImage TCanvas::Grab(const QRect& r) {
  if (FBitmap != nullptr) return FBitmap->ToImage().copy(r).convertToFormat(QImage::Format_RGB32);
  if (FPainter != nullptr && FPainter->device() != nullptr &&
      FPainter->device()->devType() == QInternal::Image)
    return static_cast<const QImage*>(FPainter->device())->copy(r).convertToFormat(QImage::Format_RGB32);
  return QImage();
}

// ---------------------------------------------------------------- blits

void DrawImageRop(TCanvas& dest, const QRect& destRect, const QImage& image, const QRect& sourceRect,
                  std::uint32_t rop) {
  if (destRect.width() <= 0 || destRect.height() <= 0) return;
  dest.Paint([&](QPainter& p) {
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    switch (rop) {
      case BLACKNESS: p.fillRect(destRect, Qt::black); return;
      case WHITENESS: p.fillRect(destRect, Qt::white); return;
      case DSTINVERT:
        p.setCompositionMode(QPainter::RasterOp_NotDestination);
        p.fillRect(destRect, Qt::white);
        return;
      case SRCPAINT: p.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
      case SRCAND: p.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
      case SRCINVERT: p.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
      case SRCERASE: p.setCompositionMode(QPainter::RasterOp_SourceAndNotDestination); break;
      case NOTSRCCOPY: p.setCompositionMode(QPainter::RasterOp_NotSource); break;
      case NOTSRCERASE: p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination); break;
      case MERGEPAINT: p.setCompositionMode(QPainter::RasterOp_NotSourceOrDestination); break;
      case DSPDxax: {
        // (D and not S) or (S and P), in two raster passes.
        QImage src = image.copy(sourceRect).convertToFormat(QImage::Format_RGB32);
        if (src.size() != destRect.size())
          src = src.scaled(destRect.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        p.setCompositionMode(QPainter::RasterOp_NotSourceAndDestination);
        p.drawImage(destRect.topLeft(), src);
        const QRgb brush = dest.QtBrush().color().rgb() | 0xFF000000u;
        for (int y = 0; y < src.height(); ++y) {
          QRgb* row = reinterpret_cast<QRgb*>(src.scanLine(y));
          for (int x = 0; x < src.width(); ++x) row[x] &= brush;
        }
        p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        p.drawImage(destRect.topLeft(), src);
        return;
      }
      default: p.setCompositionMode(QPainter::CompositionMode_Source); break;
    }
    if (image.isNull()) return;
    if (p.compositionMode() == QPainter::CompositionMode_Source) {
      p.drawImage(destRect, image, sourceRect);
    } else {
      // Raster operations need opaque 32-bit source pixels.
      const QImage src = image.copy(sourceRect).convertToFormat(QImage::Format_RGB32);
      p.drawImage(destRect, src, src.rect());
    }
  });
}

bool BitBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int sourceX,
            int sourceY, std::uint32_t rop) {
  return StretchBlt(dest, x, y, width, height, source, sourceX, sourceY, width, height, rop);
}

bool StretchBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int sourceX,
                int sourceY, int sourceWidth, int sourceHeight, std::uint32_t rop) {
  if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return false;
  const QRect sr(sourceX, sourceY, sourceWidth, sourceHeight);
  QImage image;
  QRect from = sr;
  const TBitmap* sourceBitmap = source.Bitmap();
  if (sourceBitmap != nullptr) {
    image = sourceBitmap->ToImage();
    if (&source == &dest) {
      image = image.copy(sr);
      from = image.rect();
    }
  } else {
    image = source.Grab(sr);
    from = image.rect();
  }
  const bool toMono = dest.Bitmap() != nullptr && dest.Bitmap()->PixelFormat() == pf1bit;
  const bool fromMono = sourceBitmap != nullptr && sourceBitmap->Monochrome();
  if (fromMono && !toMono) {
    // Monochrome to colour: 0 bits take the text colour, 1 bits the background.
    image = image.copy(from);
    from = image.rect();
    image.setColorTable({ColorToQRgb(dest.TextColor) | 0xFF000000u, ColorToQRgb(dest.BackColor) | 0xFF000000u});
  } else if (toMono && !(sourceBitmap != nullptr && sourceBitmap->PixelFormat() == pf1bit)) {
    // Colour to monochrome: white where the source shows its background colour.
    const QImage colour = image.copy(from).convertToFormat(QImage::Format_RGB32);
    const QRgb key = ColorToQRgb(source.BackColor) | 0xFF000000u;
    image = QImage(colour.size(), QImage::Format_Mono);
    image.setColorTable(BlackWhiteTable());
    for (int row = 0; row < colour.height(); ++row) {
      const QRgb* s = reinterpret_cast<const QRgb*>(colour.constScanLine(row));
      for (int col = 0; col < colour.width(); ++col)
        image.setPixel(col, row, (s[col] | 0xFF000000u) == key ? 1 : 0);
    }
    from = image.rect();
  }
  DrawImageRop(dest, QRect(x, y, width, height), image, from, rop);
  return true;
}

bool TransparentBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int sourceX,
                    int sourceY, int sourceWidth, int sourceHeight, TColor key) {
  if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return false;
  const QRect sr(sourceX, sourceY, sourceWidth, sourceHeight);
  QImage image = (source.Bitmap() != nullptr ? source.Bitmap()->ToImage().copy(sr) : source.Grab(sr))
                     .convertToFormat(QImage::Format_ARGB32);
  const QRgb keyRgb = ColorToQRgb(key) & 0xFFFFFFu;
  for (int row = 0; row < image.height(); ++row) {
    QRgb* p = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (int col = 0; col < image.width(); ++col)
      if ((p[col] & 0xFFFFFFu) == keyRgb) p[col] = 0;
  }
  dest.Paint([&](QPainter& p) {
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRect(x, y, width, height), image, image.rect());
  });
  return true;
}

QImage DIBRowsAsImage(const void* bits, const TBitmapInfo& info) {
  const TBitmapInfoHeader& h = info.bmiHeader;
  if (bits == nullptr || h.biCompression != 0 || h.biWidth <= 0 || h.biHeight == 0) return QImage();
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const std::int64_t rowLen = ((static_cast<std::int64_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  if (rowLen > 0x7FFFFFFF) return QImage();
  const uchar* data = static_cast<const uchar*>(bits);
  QImage image;
  switch (h.biBitCount) {
    case 1:
    case 8: {
      image = QImage(data, h.biWidth, height, static_cast<qsizetype>(rowLen),
                     h.biBitCount == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
      const int count = h.biBitCount == 1 ? 2 : (h.biClrUsed > 0 && h.biClrUsed <= 256 ? static_cast<int>(h.biClrUsed) : 256);
      QList<QRgb> table;
      for (int i = 0; i < count; ++i)
        table.append(qRgb(info.bmiColors[i].rgbRed, info.bmiColors[i].rgbGreen, info.bmiColors[i].rgbBlue));
      if (h.biBitCount == 8) table.resize(256, qRgb(0, 0, 0));
      image.setColorTable(table);
      break;
    }
    case 24:
      image = QImage(data, h.biWidth, height, static_cast<qsizetype>(rowLen), QImage::Format_BGR888);
      break;
    case 32:
      image = QImage(data, h.biWidth, height, static_cast<qsizetype>(rowLen), QImage::Format_RGB32);
      break;
    default: break;
  }
  return image;
}

int StretchDIBits(TCanvas& dest, int x, int y, int width, int height, int sourceX, int sourceY,
                  int sourceWidth, int sourceHeight, const void* bits, const TBitmapInfo& info,
                  std::uint32_t, std::uint32_t rop) {
  if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return 0;
  const QImage rows = DIBRowsAsImage(bits, info);
  if (rows.isNull()) return 0;
  const QRect stored(sourceX, sourceY, sourceWidth, sourceHeight);
  if (info.bmiHeader.biHeight > 0) {
    // Stored bottom row first: the rectangle's rows counted from the bottom
    // are stored rows as they stand, drawn upside down.
    const QImage piece = rows.copy(stored).mirrored(false, true);
    DrawImageRop(dest, QRect(x, y, width, height), piece, piece.rect(), rop);
  } else {
    DrawImageRop(dest, QRect(x, y, width, height), rows, stored, rop);
  }
  return sourceHeight;
}

void DrawEdge(TCanvas& canvas, TRect& rect, unsigned edge, unsigned flags) {
  struct TBand {
    unsigned Bit;
    TColor TopLeft;
    TColor BottomRight;
  };
  // Outer band first, then the inner one.
  const bool soft = flags & BF_SOFT;
  const TBand bands[] = {
      {BDR_RAISEDOUTER, soft ? clBtnHighlight : cl3DLight, cl3DDkShadow},
      {BDR_SUNKENOUTER, soft ? cl3DDkShadow : clBtnShadow, clBtnHighlight},
      {BDR_RAISEDINNER, soft ? cl3DLight : clBtnHighlight, clBtnShadow},
      {BDR_SUNKENINNER, soft ? clBtnShadow : cl3DDkShadow, cl3DLight},
  };
  TRect r = rect;
  for (int band = 0; band < 2; ++band) {
    const TBand* chosen = nullptr;
    for (int k = band * 2; k < band * 2 + 2; ++k)
      if (edge & bands[k].Bit) chosen = &bands[k];
    if (chosen == nullptr) continue;
    if (r.Width() <= 0 || r.Height() <= 0) break;
    const QColor tl = QColor::fromRgb(ColorToQRgb(chosen->TopLeft));
    const QColor br = QColor::fromRgb(ColorToQRgb(chosen->BottomRight));
    const TRect cur = r;
    canvas.Paint([&](QPainter& p) {
      if (flags & BF_RIGHT) p.fillRect(QRect(cur.Right - 1, cur.Top, 1, cur.Height()), br);
      if (flags & BF_BOTTOM) p.fillRect(QRect(cur.Left, cur.Bottom - 1, cur.Width(), 1), br);
      if (flags & BF_LEFT) p.fillRect(QRect(cur.Left, cur.Top, 1, cur.Height() - ((flags & BF_BOTTOM) ? 1 : 0)), tl);
      if (flags & BF_TOP) p.fillRect(QRect(cur.Left, cur.Top, cur.Width() - ((flags & BF_RIGHT) ? 1 : 0), 1), tl);
    });
    if (flags & BF_LEFT) ++r.Left;
    if (flags & BF_TOP) ++r.Top;
    if (flags & BF_RIGHT) --r.Right;
    if (flags & BF_BOTTOM) --r.Bottom;
  }
  if ((flags & BF_MIDDLE) && r.Width() > 0 && r.Height() > 0) {
    const QColor face = QColor::fromRgb(ColorToQRgb(clBtnFace));
    canvas.Paint([&](QPainter& p) { p.fillRect(r.ToQRect(), face); });
  }
  if (flags & BF_ADJUST) rect = r;
}

} // namespace platform
