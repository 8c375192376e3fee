// The vector layer's object pass: every kind onto the back buffer or any
// canvas, with the painter's pen and brush changed only when an object
// needs others, and texts drawn from images kept between frames.
#include "image/views/rastrumvect.h"

#include <QFontMetrics>
#include <QLineF>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "image/model/rvbits.h"
#include "image/model/rvdib.h"
#include "image/model/rvresample.h"
#include "image/views/rvrender.h"
#include "image/views/rvviewmath.h"

namespace rv {

namespace {

// Pens and fonts are kept within what a screen can show: a width or height
// from stored data could otherwise make the painter work for minutes.
constexpr int kMaxPenWidth = 4096;
constexpr int kMaxFontPixels = 2048;
// Client coordinates beyond this are cut before they reach the painter,
// whose fixed-point rasteriser overflows far out.
constexpr double kFar = 1 << 22;
// The filtered stretch of a bitmap object resamples the whole box: beyond
// this many pixels the direct stretch is taken instead.
constexpr std::int64_t kMaxResampledPixels = std::int64_t{4} << 20;
// Texts kept as images: larger ones are drawn each time, and the whole
// store is dropped when it outgrows its budget.
constexpr std::int64_t kMaxCachedTextPixels = 1 << 18;
constexpr std::int64_t kTextCacheBytes = std::int64_t{32} << 20;

QColor ToQColor(platform::TColor C) { return QColor::fromRgb(platform::ColorToQRgb(C)); }

Qt::PenStyle ToQtPenStyle(platform::TPenStyle S) {
  switch (S) {
    case platform::psDash: return Qt::DashLine;
    case platform::psDot: return Qt::DotLine;
    case platform::psDashDot: return Qt::DashDotLine;
    case platform::psDashDotDot: return Qt::DashDotDotLine;
    case platform::psClear: return Qt::NoPen;
    default: return Qt::SolidLine;
  }
}

QBrush ToQBrush(platform::TColor C, platform::TBrushStyle S) {
  switch (S) {
    case platform::bsClear: return Qt::NoBrush;
    case platform::bsHorizontal: return QBrush(ToQColor(C), Qt::HorPattern);
    case platform::bsVertical: return QBrush(ToQColor(C), Qt::VerPattern);
    case platform::bsFDiagonal: return QBrush(ToQColor(C), Qt::FDiagPattern);
    case platform::bsBDiagonal: return QBrush(ToQColor(C), Qt::BDiagPattern);
    case platform::bsCross: return QBrush(ToQColor(C), Qt::CrossPattern);
    case platform::bsDiagCross: return QBrush(ToQColor(C), Qt::DiagCrossPattern);
    default: return QBrush(ToQColor(C));
  }
}

QPen MakePen(platform::TColor Color, int Width, platform::TPenStyle Style) {
  Width = std::clamp(Width, 1, kMaxPenWidth);
  QPen pen(ToQColor(Color), Width == 1 ? 0 : Width, ToQtPenStyle(Style));
  pen.setCapStyle(Width == 1 ? Qt::FlatCap : Qt::RoundCap);
  pen.setJoinStyle(Width == 1 ? Qt::MiterJoin : Qt::RoundJoin);
  return pen;
}

// Cuts the segment A-B to the rectangle R (Liang-Barsky); false when
// nothing of it is inside.
bool ClipSegment(QPointF& A, QPointF& B, const QRectF& R) {
  double t0 = 0, t1 = 1;
  const double dx = B.x() - A.x(), dy = B.y() - A.y();
  auto edge = [&](double p, double q) {
    if (p == 0) return q >= 0;
    const double r = q / p;
    if (p < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
    return true;
  };
  if (!edge(-dx, A.x() - R.left()) || !edge(dx, R.right() - A.x()) || !edge(-dy, A.y() - R.top()) ||
      !edge(dy, R.bottom() - A.y()))
    return false;
  const QPointF a = A;
  A = QPointF(a.x() + t0 * dx, a.y() + t0 * dy);
  B = QPointF(a.x() + t1 * dx, a.y() + t1 * dy);
  return true;
}

void DrawClippedLine(QPainter& P, QPointF A, QPointF B, const QRectF& Limit) {
  const bool far = std::fabs(A.x()) > kFar || std::fabs(A.y()) > kFar || std::fabs(B.x()) > kFar ||
                   std::fabs(B.y()) > kFar;
  if (far && !ClipSegment(A, B, Limit)) return;
  if (A == B) P.drawPoint(A.toPoint());
  else P.drawLine(QLineF(A, B).toLine());
}

// The rectangle whose outline runs through X1..X2 and Y1..Y2 (as the
// painter strokes a QRect), kept near the visible area: what lies beyond
// Limit is not seen, so cutting it there changes nothing on the screen.
QRect Kept(double X1, double Y1, double X2, double Y2, const QRectF& Limit) {
  const int l = static_cast<int>(std::clamp(X1, Limit.left(), Limit.right()));
  const int t = static_cast<int>(std::clamp(Y1, Limit.top(), Limit.bottom()));
  const int r = static_cast<int>(std::clamp(X2, Limit.left(), Limit.right()));
  const int b = static_cast<int>(std::clamp(Y2, Limit.top(), Limit.bottom()));
  return QRect(l, t, r - l, b - t);
}

// An ellipse, or its arc from Start over Span (sixteenths of a degree,
// counter-clockwise), in Box; one far larger than the screen goes as a
// polygon cut at Limit, where the painter's rasteriser would overflow.
void DrawEllipse(QPainter& P, const QRectF& Box, int Start, int Span, bool Whole, const QRectF& Limit) {
  const bool far = std::fabs(Box.left()) > kFar || std::fabs(Box.right()) > kFar || std::fabs(Box.top()) > kFar ||
                   std::fabs(Box.bottom()) > kFar;
  if (!far) {
    if (Whole) P.drawEllipse(Box);
    else P.drawArc(Box, Start, Span);
    return;
  }
  constexpr int kSteps = 4096;
  const QPointF c = Box.center();
  const double rx = Box.width() / 2, ry = Box.height() / 2;
  const double a0 = Whole ? 0 : Start / 16.0 * std::numbers::pi / 180;
  const double sweep = Whole ? 2 * std::numbers::pi : Span / 16.0 * std::numbers::pi / 180;
  auto at = [&](int i) {
    const double a = a0 + sweep * i / kSteps;
    return QPointF(c.x() + rx * std::cos(a), c.y() - ry * std::sin(a));
  };
  QPointF prev = at(0);
  for (int i = 1; i <= kSteps; ++i) {
    const QPointF next = at(i);
    DrawClippedLine(P, prev, next, Limit);
    prev = next;
  }
}

// Whether the object pass can write a picture's pixels itself.
bool Writable(const QImage& Image) {
  return Image.format() == QImage::Format_RGB32 || Image.format() == QImage::Format_ARGB32 ||
         Image.format() == QImage::Format_BGR888;
}

} // namespace


// ------------------------------------------------------------ pass state

// What one object pass shares: the painter and its pixels, the area drawn,
// the mapping, and the pen and brush the painter holds.
struct TRastrumVect::TPass {
  QPainter& P;
  QImage* Image;
  QRect Clip;
  QRectF Limit;
  TMapping M;
  platform::TColor PenColor = 0;
  int PenWidth = -1;
  int PenStyle = -1;
  platform::TColor BrushColor = 0;
  int BrushStyle = -1;

  void Pen(platform::TColor Color, int Width, platform::TPenStyle Style) {
    Width = std::clamp(Width, 1, kMaxPenWidth);
    if (Color == PenColor && Width == PenWidth && Style == PenStyle) return;
    PenColor = Color;
    PenWidth = Width;
    PenStyle = Style;
    P.setPen(MakePen(Color, Width, Style));
  }
  void Brush(platform::TColor Color, platform::TBrushStyle Style) {
    if (Style == BrushStyle && (Style == platform::bsClear || Color == BrushColor)) return;
    BrushColor = Color;
    BrushStyle = Style;
    P.setBrush(ToQBrush(Color, Style));
  }
  // The painter was changed behind our back (saved and restored state
  // comes back by itself; this is for calls that set their own).
  void Forget() { PenWidth = BrushStyle = -1; }
};

std::size_t TRastrumVect::TFontKeyHash::operator()(const TFontKey& K) const {
  // FNV-1a over the description and the height.
  std::uint64_t h = 1469598103934665603ull;
  auto add = [&](const void* Data, std::size_t Size) {
    const auto* b = static_cast<const std::uint8_t*>(Data);
    for (std::size_t i = 0; i < Size; ++i) h = (h ^ b[i]) * 1099511628211ull;
  };
  add(&K.Font, sizeof K.Font);
  add(&K.Pixels, sizeof K.Pixels);
  return static_cast<std::size_t>(h);
}

std::size_t TRastrumVect::TTextKeyHash::operator()(const TTextKey& K) const {
  return TFontKeyHash()(K.Font) ^ (std::hash<std::string>()(K.Text) * 31) ^ (std::hash<double>()(K.Degrees) * 17) ^
         K.Color;
}

// ------------------------------------------------------------ fonts and texts

TRastrumVect::TFontKey TRastrumVect::LabelKey() {
  TFontKey key;
  key.Font.SetFaceName("Arial");
  key.Pixels = -10; // 10 points, not pixels: no object font has a negative height here
  return key;
}

const TRastrumVect::TFontEntry& TRastrumVect::FontFor(const TFontKey& Key) const {
  auto it = FFonts.find(Key);
  if (it != FFonts.end()) return it->second;
  if (FFonts.size() > 256) {
    FFonts.clear();
    FTexts.clear();
    FTextBytes = 0;
  }
  TFontEntry e;
  e.Font = QFont(QString::fromStdString(Key.Font.FaceName()));
  if (Key.Pixels < 0) {
    e.Font.setPointSize(-Key.Pixels);
  } else {
    e.Font.setPixelSize(std::clamp(Key.Pixels, 1, kMaxFontPixels));
    const TRvLogFont& L = Key.Font;
    if (L.lfWeight > 0) e.Font.setWeight(static_cast<QFont::Weight>(std::clamp(L.lfWeight, 100, 900)));
    e.Font.setItalic(L.lfItalic != 0);
    e.Font.setUnderline(L.lfUnderline != 0);
    e.Font.setStrikeOut(L.lfStrikeOut != 0);
  }
  e.Font.setStyleStrategy(QFont::PreferAntialias);
  e.Metrics = QFontMetrics(e.Font);
  return FFonts.emplace(Key, e).first->second;
}

const QFontMetrics& TRastrumVect::LabelMetrics() const { return FontFor(LabelKey()).Metrics; }

// Room for the label of a ruler or gauge: the widest length text.
int TRastrumVect::LabelMargin() const {
  if (FLabelMargin < 0)
    FLabelMargin = 3 * LabelMetrics().height() +
                   LabelMetrics().horizontalAdvance(
                       QString::fromStdString(RvLengthText(-1e15, FFloatPrecision, FFloatDigits, rvuNANOMETERS)) + "  ");
  return FLabelMargin;
}

// A text rendered once into an image and kept, turned beforehand when it
// is to be drawn turned: rulers and gauges show the same labels frame
// after frame, and turned glyphs or images would cost far more each time.
const TRastrumVect::TTextImage& TRastrumVect::TextImage(const TFontKey& Font, const std::string& Text,
                                                        platform::TColor Color, double Degrees) const {
  TTextKey key{Text, platform::ColorToQRgb(Color), Font, Degrees};
  auto it = FTexts.find(key);
  if (it != FTexts.end()) return it->second;
  const TFontEntry& f = FontFor(Font);
  const QString text = QString::fromStdString(Text);
  TTextImage t;
  t.Width = f.Metrics.horizontalAdvance(text);
  t.Height = f.Metrics.height();
  t.Ascent = f.Metrics.ascent();
  if (t.Width > 0 && t.Height > 0 && static_cast<std::int64_t>(t.Width) * t.Height <= kMaxCachedTextPixels) {
    QImage image(t.Width, t.Height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setFont(f.Font);
    p.setPen(ToQColor(Color));
    p.drawText(QPointF(0, t.Ascent), text);
    p.end();
    if (Degrees != 0) {
      QTransform turn;
      turn.rotate(-Degrees);
      const QTransform real = QImage::trueMatrix(turn, t.Width, t.Height);
      t.Origin = real.map(QPointF(0, 0)).toPoint();
      image = image.transformed(turn, Qt::SmoothTransformation);
    }
    t.Image = std::move(image);
  }
  if (FTextBytes > kTextCacheBytes) {
    FTexts.clear();
    FTextBytes = 0;
  }
  FTextBytes += t.Image.sizeInBytes() + static_cast<std::int64_t>(Text.size()) + 128;
  return FTexts.emplace(std::move(key), std::move(t)).first->second;
}

// Text with its top-left corner at At, turned counter-clockwise on the
// screen by Degrees about that corner.
void TRastrumVect::DrawText(TPass& S, const TFontKey& Font, const std::string& Text, platform::TColor Color,
                            QPointF At, double Degrees) const {
  if (Text.empty() || std::fabs(At.x()) > kFar || std::fabs(At.y()) > kFar) return;
  const TTextImage& t = TextImage(Font, Text, Color, Degrees);
  if (!t.Image.isNull()) {
    S.P.drawImage(At.toPoint() - t.Origin, t.Image);
    return;
  }
  // Too large to keep: drawn as it is.
  const TFontEntry& f = FontFor(Font);
  S.P.save();
  S.P.translate(At);
  S.P.rotate(-Degrees);
  S.P.setFont(f.Font);
  S.P.setPen(ToQColor(Color));
  S.P.drawText(QPointF(0, t.Ascent), QString::fromStdString(Text));
  S.P.restore();
}

// ------------------------------------------------------------ coordinates

TRastrumVect::TMapping TRastrumVect::Mapping() const {
  const double z = Zoom() / 100.0, iz = 100.0 / Zoom();
  return {static_cast<double>(RvNearest(-ViewX() * iz)), static_cast<double>(RvNearest(-ViewY() * iz)), z,
          static_cast<double>(OffsetX()), static_cast<double>(OffsetY())};
}

int TRastrumVect::TMapping::IX(double V) const { return RvNearest(X(V)); }
int TRastrumVect::TMapping::IY(double V) const { return RvNearest(Y(V)); }

int TRastrumVect::ClientX(double X) const { return Mapping().IX(X); }
int TRastrumVect::ClientY(double Y) const { return Mapping().IY(Y); }

TRastrumVect::TClientBox TRastrumVect::ClientBox(const TRvVObject& O, const TMapping& M) const {
  const double x1 = M.IX(O.Left), x2 = M.IX(O.Right), y1 = M.IY(O.Top), y2 = M.IY(O.Bottom);
  return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

int TRastrumVect::PenWidthOf(const TRvVObject& O, double Z) const {
  return std::clamp(FZoomObjectsWidth ? std::max(1, RvNearest(O.PenWidth * Z)) : O.PenWidth, 1, kMaxPenWidth);
}

// Where an object can put pixels, in client coordinates: its box with room
// for the pen, arrow heads and labels.
double TRastrumVect::PaintedMargin(const TRvVObject& O, double Z) const {
  switch (O.Kind) {
    case rvokLine:
      if (O.BeginShape != rvasNone || O.EndShape != rvasNone)
        return PenWidthOf(O, Z) + 2 +
               std::max(std::fabs(static_cast<double>(O.ShapeWidth)) / 2, std::fabs(static_cast<double>(O.ShapeHeight))) * Z;
      break;
    case rvokRuler:
    case rvokAngle: return std::clamp(O.PenWidth, 1, kMaxPenWidth) + 14.0 + LabelMargin();
    default: break;
  }
  return PenWidthOf(O, Z) + 2;
}

namespace {

// The picture box of a gauge's placed points: false when none is placed.
bool GaugeBox(const TRvVObject& O, double& X1, double& Y1, double& X2, double& Y2) {
  const int placed = RvPlacedPoints(O);
  X1 = Y1 = 1e300;
  X2 = Y2 = -1e300;
  for (int i = 0; i < placed; ++i) {
    const platform::TPoint& p = O.AnglePoints[static_cast<std::size_t>(i)];
    X1 = std::min(X1, static_cast<double>(p.X));
    X2 = std::max(X2, static_cast<double>(p.X));
    Y1 = std::min(Y1, static_cast<double>(p.Y));
    Y2 = std::max(Y2, static_cast<double>(p.Y));
  }
  return placed > 0;
}

} // namespace

bool TRastrumVect::SurelyOutside(const TRvVObject& O, const TMapping& M, const QRect& Area) const {
  // The unrounded box: rounding its corners and the bounds moves them by
  // less than the 3 pixels of slack.
  double x1 = std::min(O.Left, O.Right), y1 = std::min(O.Top, O.Bottom), x2 = std::max(O.Left, O.Right),
         y2 = std::max(O.Top, O.Bottom);
  if (O.Kind == rvokAngle && !GaugeBox(O, x1, y1, x2, y2)) return true;
  const double margin = PaintedMargin(O, M.Z) + 3;
  return M.X(x2) + margin < Area.left() || M.X(x1) - margin > Area.right() + 1 || M.Y(y2) + margin < Area.top() ||
         M.Y(y1) - margin > Area.bottom() + 1;
}

QRect TRastrumVect::PaintedBounds(const TRvVObject& O, const TMapping& M) const {
  TClientBox b = ClientBox(O, M);
  const double margin = PaintedMargin(O, M.Z);
  if (O.Kind == rvokAngle) {
    double x1, y1, x2, y2;
    if (!GaugeBox(O, x1, y1, x2, y2)) return QRect();
    b = {M.X(x1), M.Y(y1), M.X(x2), M.Y(y2)};
  }
  auto cut = [](double v) { return static_cast<int>(std::clamp(v, -kFar, kFar)); };
  return QRect(QPoint(cut(b.X1 - margin), cut(b.Y1 - margin)), QPoint(cut(b.X2 + 1 + margin), cut(b.Y2 + 1 + margin)));
}

// ------------------------------------------------------------ object pass

void TRastrumVect::DrawObjects(platform::TCanvas& Canvas) {
  Canvas.Paint([&](QPainter& P) {
    QImage* image = nullptr;
    if (P.device() != nullptr && P.device()->devType() == QInternal::Image && P.deviceTransform().isIdentity())
      image = static_cast<QImage*>(P.device());
    DrawObjectPass(P, image, QRect(0, 0, ExtentX(), ExtentY()), true);
  });
}

void TRastrumVect::DrawImageTo(platform::TBitmap& Dest, const platform::TRect* Clip) {
  TRastrumView::DrawImageTo(Dest, Clip);
  QImage& image = Dest.Image();
  if (image.isNull() || !Writable(image)) return;
  const QRect clip = Clip != nullptr ? Clip->ToQRect().intersected(image.rect()) : image.rect();
  if (clip.isEmpty()) return;
  if (&Dest == &BackBuffer()) {
    FRendered = true;
    FRenderedOriginX = RvNearest(-ViewX() * (100.0 / Zoom()));
    FRenderedOriginY = RvNearest(-ViewY() * (100.0 / Zoom()));
  }
  QPainter p(&image);
  DrawObjectPass(p, &image, clip, false, &Dest == &BackBuffer());
}

bool TRastrumVect::CanScrollBackBuffer(int ShiftX, int ShiftY) const {
  if (!TRastrumView::CanScrollBackBuffer(ShiftX, ShiftY)) return false;
  if (FObjects.empty() || FObjectsHidden) return true;
  // The picture's pixels move by the shift; the objects keep their places
  // only when their origin moved by the same whole number of pixels, and
  // only at whole zoom factors: elsewhere their rounded corners (halves to
  // the even neighbour) and clipped ends move by other amounts.
  const TMapping m = Mapping();
  return FRendered && m.Z == std::floor(m.Z) && (m.OX - FRenderedOriginX) * m.Z == -ShiftX && (m.OY - FRenderedOriginY) * m.Z == -ShiftY;
}

void TRastrumVect::PaintTo(platform::TCanvas& Canvas, platform::TBitmap* Bitmap) {
  TRastrumView::PaintTo(Canvas, Bitmap);
  // Into the back buffer the objects go without grips: those are drawn over
  // it in the paint event.
  const bool grips = Bitmap != &BackBuffer();
  Canvas.Paint([&](QPainter& P) {
    QImage* image = nullptr;
    if (Bitmap != nullptr && P.device() == &Bitmap->Image()) image = &Bitmap->Image();
    DrawObjectPass(P, image, QRect(0, 0, ExtentX(), ExtentY()), grips, !grips);
  });
}

void TRastrumVect::ObjectsIn(const TMapping& M, const QRect& Area, std::vector<int>& Handles, QRect& Reach) const {
  for (int h : FOrder) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
    if ((o.Style & rvosVisible) == 0 || o.Kind == rvokNone || o.Kind > rvokAngle) continue;
    if (!FCullObjects) {
      Handles.push_back(h);
      Reach = Area;
      continue;
    }
    // A few multiplications set most objects out of view aside before
    // their exact bounds are rounded.
    if (SurelyOutside(o, M, Area)) continue;
    const QRect bounds = PaintedBounds(o, M);
    if (!bounds.intersects(Area)) continue;
    Handles.push_back(h);
    Reach |= bounds.intersected(Area);
  }
}

TRastrumVect::TLayerKey TRastrumVect::LayerKey(const QImage& Image, const TMapping& M) const {
  TLayerKey k;
  k.Version = FObjectsVersion;
  k.OX = M.OX;
  k.OY = M.OY;
  k.Z = M.Z;
  k.OffX = M.OffX;
  k.OffY = M.OffY;
  k.Width = Image.width();
  k.Height = Image.height();
  k.Format = Image.format();
  k.Editing = FEditing;
  k.DpiX = DpiX();
  k.DpiY = DpiY();
  k.Precision = FFloatPrecision;
  k.Digits = FFloatDigits;
  k.MeasureScale = FMeasureScale;
  k.Cull = FCullObjects;
  k.ZoomWidth = FZoomObjectsWidth;
  k.Filter = FBitmapResampleFilter;
  return k;
}

// Every object writes each pixel from that pixel alone (copies, blends,
// raster operations): where the picture rendered to the pixels it had
// under the kept frame, the objects give the kept pixels again. The rows
// go over one by one; at the first that differs, those taken already are
// given back the picture's pixels.
bool TRastrumVect::ReuseLayer(QImage& Image) const {
  const QRect r = FLayer.Reach;
  if (r.isEmpty()) return true;
  const std::size_t bytes = static_cast<std::size_t>(Image.depth() / 8);
  const std::size_t from = static_cast<std::size_t>(r.x()) * bytes;
  const std::size_t length = static_cast<std::size_t>(r.width()) * bytes;
  for (int y = 0; y < r.height(); ++y) {
    std::uint8_t* row = Image.scanLine(r.y() + y) + from;
    if (std::memcmp(row, FLayer.Under.constScanLine(y), length) != 0) {
      for (int k = 0; k < y; ++k) std::memcpy(Image.scanLine(r.y() + k) + from, FLayer.Under.constScanLine(k), length);
      return false;
    }
    std::memcpy(row, FLayer.Composed.constScanLine(y), length);
  }
  return true;
}

void TRastrumVect::DrawObjectPass(QPainter& P, QImage* Image, const QRect& Clip, bool Grips, bool Keep) {
  FDrawnObjectsCount = 0;
  const QRect area = Clip.intersected(QRect(0, 0, ExtentX(), ExtentY()));
  if (area.isEmpty()) return;
  const TMapping m = Mapping();
  // Only whole frames of pixels at hand are kept, and none while objects
  // move: each frame of a drag has them elsewhere.
  const bool keep = Keep && FCacheObjects && !FObjectsHidden && !FMoving && Image != nullptr && Writable(*Image) &&
                    area == Image->rect();
  TLayerKey key;
  if (keep) {
    key = LayerKey(*Image, m);
    if (FLayer.Valid && FLayer.Key == key && ReuseLayer(*Image)) {
      FDrawnObjectsCount = FLayer.Drawn;
      return;
    }
    FLayer = TLayerCache();
  }
  std::vector<int> handles;
  QRect reach;
  if (!FObjectsHidden) ObjectsIn(m, area, handles, reach);
  if (keep && !reach.isEmpty()) FLayer.Under = Image->copy(reach);
  P.save();
  P.setClipRect(area, Qt::IntersectClip);
  P.setRenderHint(QPainter::Antialiasing, false);
  TPass pass{P, Image != nullptr && Writable(*Image) ? Image : nullptr, area,
             QRectF(area).adjusted(-kMaxPenWidth, -kMaxPenWidth, kMaxPenWidth, kMaxPenWidth), m};
  bool failed = false;
  for (int h : handles) {
    try {
      DrawObject(pass, FObjects[static_cast<std::size_t>(h)], h);
    } catch (const std::exception& e) {
      // One object that cannot be drawn does not take the others along.
      qDebug("[Paint] %s\r\n", e.what());
      pass.Forget();
      failed = true;
    }
  }
  FDrawnObjectsCount = static_cast<int>(handles.size());
  FDrawCalls += FDrawnObjectsCount;
  if (Grips) DrawGrips(P);
  P.restore();
  // A frame short of an object is not kept: the next one tries again.
  if (keep && !failed) {
    if (!reach.isEmpty()) FLayer.Composed = Image->copy(reach);
    FLayer.Key = key;
    FLayer.Reach = reach;
    FLayer.Drawn = FDrawnObjectsCount;
    FLayer.Valid = true;
  }
}

void TRastrumVect::DrawObjectPreview(QPainter& P, const TRvVObject& O) {
  const QRect area(0, 0, ExtentX(), ExtentY());
  P.save();
  TPass pass{P, nullptr, area, QRectF(area).adjusted(-kMaxPenWidth, -kMaxPenWidth, kMaxPenWidth, kMaxPenWidth),
             Mapping()};
  DrawObject(pass, O, -3);
  P.restore();
}

void TRastrumVect::DrawObject(TPass& S, const TRvVObject& O, int hobj) {
  const TMapping& m = S.M;
  const double x1 = m.IX(O.Left), y1 = m.IY(O.Top), x2 = m.IX(O.Right), y2 = m.IY(O.Bottom);
  S.Pen(O.PenColor, PenWidthOf(O, m.Z), O.PenStyle);
  S.Brush(O.BrushColor, O.BrushStyle);
  switch (O.Kind) {
    case rvokLine: {
      DrawClippedLine(S.P, {x1, y1}, {x2, y2}, S.Limit);
      const double w = O.ShapeWidth * m.Z, h = O.ShapeHeight * m.Z;
      DrawArrowHead(S, {x1, y1}, {x2, y2}, O.BeginShape, w, h);
      DrawArrowHead(S, {x2, y2}, {x1, y1}, O.EndShape, w, h);
      break;
    }
    case rvokBox: S.P.drawRect(Kept(x1, y1, x2, y2, S.Limit)); break;
    case rvokEllipse:
    case rvokArc: {
      const QRectF box(QPointF(x1, y1), QPointF(x2, y2));
      if (O.Kind == rvokEllipse) {
        DrawEllipse(S.P, box, 0, 0, true, S.Limit);
        break;
      }
      if (!std::isfinite(O.ArcStart) || !std::isfinite(O.ArcEnd)) break;
      // Counter-clockwise on the screen from the start point to the end
      // point; the same point twice is the whole ellipse.
      double span = std::fmod(O.ArcStart - O.ArcEnd, 2 * std::numbers::pi);
      if (span <= 1e-12) span += 2 * std::numbers::pi;
      const double start = std::fmod(-O.ArcStart, 2 * std::numbers::pi);
      S.Brush(0, platform::bsClear);
      DrawEllipse(S.P, box, RvNearest(start * 180 / std::numbers::pi * 16), RvNearest(span * 180 / std::numbers::pi * 16),
                  false, S.Limit);
      break;
    }
    case rvokBitmap: DrawBitmapObject(S, O); break;
    case rvokText:
      if (hobj == FEditing) {
        // The editor shows the text; only its frame is drawn.
        S.Brush(0, platform::bsClear);
        S.P.drawRect(Kept(x1 - 1, y1 - 1, x2, y2, S.Limit));
      } else {
        DrawTextObject(S, O);
      }
      break;
    case rvokRuler: DrawRuler(S, O); break;
    case rvokPolyline: {
      const double bw = static_cast<double>(O.BaseRight) - O.BaseLeft, bh = static_cast<double>(O.BaseBottom) - O.BaseTop;
      if (bw == 0 || bh == 0 || O.Points.size() < 2) break;
      const double sx = (static_cast<double>(O.Right) - O.Left) / bw, sy = (static_cast<double>(O.Bottom) - O.Top) / bh;
      auto at = [&](const platform::TPoint& p) {
        return QPointF(m.IX(std::nearbyint((p.X - static_cast<double>(O.BaseLeft)) * sx) + static_cast<double>(O.Left)),
                       m.IY(std::nearbyint((p.Y - static_cast<double>(O.BaseTop)) * sy) + static_cast<double>(O.Top)));
      };
      QPointF a = at(O.Points[0]);
      for (std::size_t i = 1; i < O.Points.size(); ++i) {
        const QPointF b = at(O.Points[i]);
        DrawClippedLine(S.P, a, b, S.Limit);
        a = b;
      }
      break;
    }
    case rvokAngle: DrawGauge(S, O); break;
    default: break;
  }
}

void TRastrumVect::DrawArrowHead(TPass& S, QPointF End, QPointF Other, TRvArrowShape Shape, double W, double H) {
  if (Shape != rvasBaseAtEnd && Shape != rvasTipAtEnd) return;
  const double dx = Other.x() - End.x(), dy = Other.y() - End.y(), len = std::hypot(dx, dy);
  if (len == 0 || !std::isfinite(W) || !std::isfinite(H)) return;
  const QPointF u(dx / len, dy / len), n(-u.y(), u.x());
  const QPointF b = End + u * H;
  const QPointF centre = Shape == rvasTipAtEnd ? b : End, third = Shape == rvasTipAtEnd ? End : b;
  const QPolygonF head({centre + n * (W / 2), centre - n * (W / 2), third});
  if (head.boundingRect().width() > 2 * kFar || head.boundingRect().height() > 2 * kFar) return;
  S.P.drawPolygon(head.toPolygon());
}

void TRastrumVect::DrawBitmapObject(TPass& S, const TRvVObject& O) {
  const TClientBox b = ClientBox(O, S.M);
  const double w = b.X2 + 1 - b.X1, h = b.Y2 + 1 - b.Y1;
  const TRvVBitmapEntry* e = O.BitmapIndex >= 0 && O.BitmapIndex < static_cast<int>(FBitmaps.size())
                                 ? &FBitmaps[static_cast<std::size_t>(O.BitmapIndex)]
                                 : nullptr;
  if (e == nullptr || e->Bitmap == nullptr) {
    S.Brush(0, platform::bsClear);
    S.P.drawRect(Kept(b.X1, b.Y1, b.X2, b.Y2, S.Limit));
    DrawClippedLine(S.P, {b.X1, b.Y1}, {b.X2, b.Y2}, S.Limit);
    DrawClippedLine(S.P, {b.X2, b.Y1}, {b.X1, b.Y2}, S.Limit);
    return;
  }
  if (w > 2 * kFar || h > 2 * kFar) return;
  const QRect box(static_cast<int>(b.X1), static_cast<int>(b.Y1), static_cast<int>(w), static_cast<int>(h));
  const QRect visible = box.intersected(S.Clip);
  if (visible.isEmpty()) return;
  const platform::TBitmap* source = e->Bitmap.get();
  const TRvMask* mask = e->MaskKind == 255 ? nullptr : e->Mask.get();
  // The filtered stretch resamples the whole box; it waits while objects
  // move, and leaves boxes far larger than a screen to the direct one.
  platform::TBitmap sized;
  TRvMask sizedMask;
  if (FBitmapResampleFilter != rfNone && !FMoving &&
      static_cast<std::int64_t>(box.width()) * box.height() <= kMaxResampledPixels) {
    sized.SetPixelFormat(platform::pf24bit);
    sized.SetSize(box.width(), box.height());
    if (source->PixelFormat() == platform::pf1bit) RvResampleBWBitmap(source, &sized, FBitmapResampleFilter);
    else RvResampleTBitmap(source, &sized, FBitmapResampleFilter);
    if (mask != nullptr) {
      sizedMask.Allocate(box.width(), box.height(), 8);
      RvResampleMask(mask, &sizedMask, FBitmapResampleFilter);
      mask = &sizedMask;
    }
    source = &sized;
  }
  // The view's own sampler: 16384-based steps, each channel moved towards
  // the source by m / 256 of the way.
  TRvNearestJob job;
  job.Source = source;
  job.Alpha = mask;
  job.SourceW = source->Width();
  job.SourceH = source->Height();
  job.DestX = box.x();
  job.DestY = box.y();
  job.DestW = box.width();
  job.DestH = box.height();
  job.Clip = S.Clip;
  job.ReuseRows = mask == nullptr;
  if (S.Image != nullptr) {
    RvRenderNearest(job, *S.Image);
    return;
  }
  // A canvas without pixels at hand (a printer): the stretch is made apart
  // and the mask goes over as plain transparency.
  QImage part(visible.size(), QImage::Format_ARGB32);
  part.fill(Qt::black);
  job.DestX -= visible.x();
  job.DestY -= visible.y();
  job.Clip = part.rect();
  job.Alpha = nullptr;
  RvRenderNearest(job, part);
  if (mask != nullptr) {
    const std::int64_t sx = RvFixedStep(job.SourceW, box.width()), sy = RvFixedStep(job.SourceH, box.height());
    for (int y = 0; y < part.height(); ++y) {
      const std::uint8_t* m = mask->ScanLine(static_cast<int>(((y - job.DestY) * sy) >> 14));
      QRgb* row = reinterpret_cast<QRgb*>(part.scanLine(y));
      for (int x = 0; x < part.width(); ++x)
        row[x] = (row[x] & 0xFFFFFFu) | (static_cast<QRgb>(m[((x - job.DestX) * sx) >> 14]) << 24);
    }
  }
  S.P.drawImage(visible.topLeft(), part);
}

void TRastrumVect::DrawTextObject(TPass& S, const TRvVObject& O) {
  if (!O.Text) return;
  const TClientBox b = ClientBox(O, S.M);
  S.P.drawRect(Kept(b.X1, b.Y1, b.X2, b.Y2, S.Limit));
  TFontKey key;
  key.Font = O.Font.value_or(TRvLogFont{});
  const double height = key.Font.lfHeight != 0 ? std::fabs(key.Font.lfHeight * S.M.Z) : b.Y2 - b.Y1;
  key.Pixels = static_cast<int>(std::clamp(height, 1.0, double{kMaxFontPixels}));
  const double degrees = key.Font.lfEscapement / 10.0, a = degrees * std::numbers::pi / 180;
  const TTextImage& t = TextImage(key, *O.Text, O.PenColor, degrees);
  const double w = t.Width, h = t.Height;
  const double bw = b.X2 - b.X1, bh = b.Y2 - b.Y1;
  const double dy = (bh - h * std::cos(a) + w * std::sin(a)) / 2;
  double dx = std::fabs(h * std::sin(a));
  if (O.TextAlign == 1) dx = bw - w * std::cos(a);
  else if (O.TextAlign == 2) dx = (bw - w * std::cos(a) - h * std::sin(a)) / 2;
  const QPointF at(b.X1 + dx, b.Y1 + dy);
  const QRect inside = Kept(b.X1, b.Y1, b.X2 + 1, b.Y2 + 1, S.Limit);
  // Clipped to the box only when it does not hold the text anyway.
  const QRect drawn = t.Image.isNull() ? QRect() : QRect(at.toPoint() - t.Origin, t.Image.size());
  if (!drawn.isNull() && inside.contains(drawn)) {
    DrawText(S, key, *O.Text, O.PenColor, at, degrees);
    return;
  }
  S.P.save();
  S.P.setClipRect(inside, Qt::IntersectClip);
  DrawText(S, key, *O.Text, O.PenColor, at, degrees);
  S.P.restore();
}

void TRastrumVect::DrawRuler(TPass& S, const TRvVObject& O) {
  if (O.Left == O.Right && O.Top == O.Bottom) return;
  const QPointF a(S.M.IX(O.Left), S.M.IY(O.Top)), b(S.M.IX(O.Right), S.M.IY(O.Bottom));
  S.Pen(O.PenColor, O.PenWidth, O.PenStyle);
  S.Brush(0, platform::bsClear);
  DrawClippedLine(S.P, a, b, S.Limit);
  const double L = QLineF(a, b).length();
  if (L < 1) return;
  const QPointF u = (b - a) / L, n(-u.y(), u.x());
  const double ux = RvUnitPerPixel(O.RulerUnit, DpiX(), FMeasureScale);
  const double uy = RvUnitPerPixel(O.RulerUnit, DpiY(), FMeasureScale);
  const double dx = (static_cast<double>(O.Right) - O.Left) * ux, dy = (static_cast<double>(O.Bottom) - O.Top) * uy;
  const double length = std::sqrt(dx * dx + dy * dy);
  S.Pen(O.PenColor, O.PenWidth, platform::psSolid);
  const QFontMetrics& fm = LabelMetrics();
  if (O.RulerType == rvrtGraduated) {
    double step, unitsPerTick;
    if (!RvGraduation(length / L, step, unitsPerTick)) return;
    // Only the ticks that fall where the client can show them.
    QPointF ca = a, cb = b;
    if (!ClipSegment(ca, cb, QRectF(S.Clip).adjusted(-64, -64, 64, 64))) return;
    const double t0 = QLineF(a, ca).length(), t1 = QLineF(a, cb).length();
    QVector<QLineF> ticks;
    double labelEnd = -1e300;
    for (std::int64_t i = static_cast<std::int64_t>(std::ceil(t0 / step)); i * step <= t1 && i * step < L; ++i) {
      const double at = static_cast<double>(i) * step;
      const QPointF p = a + u * at;
      const int len = i % 10 == 0 ? 12 : (i % 5 == 0 ? 8 : 6);
      ticks.append(QLineF(p, p + n * len));
      if (i % 10 != 0) continue;
      const std::string label = std::to_string(std::llround(static_cast<double>(i) * unitsPerTick));
      // A label that would run into the one before it is left out.
      const double w = TextImage(LabelKey(), label, O.PenColor, 0).Width;
      const double extent = std::fabs(u.x()) * w + std::fabs(u.y()) * fm.height();
      if (at - extent / 2 < labelEnd + 4) continue;
      labelEnd = at + extent / 2;
      const QPointF c = p + n * (14.0 + fm.height() / 2.0);
      DrawText(S, LabelKey(), label, O.PenColor, QPointF(c.x() - w / 2.0, c.y() - fm.height() / 2.0), 0);
    }
    S.P.drawLines(ticks);
    return;
  }
  for (const QPointF& end : {a, b}) S.P.drawLine(QLineF(end - n * 4, end + n * 5));
  std::string text = RvLengthText(length, FFloatPrecision, FFloatDigits, O.RulerUnit);
  if (O.RulerType == rvrtLabelStart) text.insert(text.begin(), ' ');
  if (O.RulerType == rvrtLabelEnd) text.append(" ");
  // Along the line, its baseline a little above it.
  const double degrees = -std::atan2(b.y() - a.y(), b.x() - a.x()) * 180 / std::numbers::pi;
  const double tw = TextImage(LabelKey(), text, O.PenColor, degrees).Width;
  const double along = O.RulerType == rvrtLabelStart ? 0 : (O.RulerType == rvrtLabelMiddle ? (L - tw) / 2 : L - tw);
  const QPointF top = a + u * along - n * (3.0 + fm.height());
  DrawText(S, LabelKey(), text, O.PenColor, top, degrees);
}

void TRastrumVect::DrawGauge(TPass& S, const TRvVObject& O) {
  const std::array<platform::TPoint, 3>& pts = O.AnglePoints;
  const int placed = RvPlacedPoints(O);
  if (placed == 0) return;
  S.Pen(O.PenColor, O.PenWidth, platform::psSolid);
  S.Brush(0, platform::bsClear);
  auto at = [&](int i) {
    return QPointF(S.M.IX(pts[static_cast<std::size_t>(i)].X), S.M.IY(pts[static_cast<std::size_t>(i)].Y));
  };
  for (int i = 0; i + 1 < placed; ++i) DrawClippedLine(S.P, at(i), at(i + 1), S.Limit);
  if (placed < 3) return;
  const double degrees = RvGaugeAngle(pts[0], pts[1], pts[2]);
  const QPointF a = at(0), v = at(1), c = at(2);
  const int r = static_cast<int>(std::min(QLineF(v, a).length(), QLineF(v, c).length())) / 4;
  if (r > 0 && r < kFar) {
    // A few pixels a step: the painter's curves cost far more for an arc
    // this small.
    const double start = std::atan2(-(a.y() - v.y()), a.x() - v.x());
    const double span = degrees * std::numbers::pi / 180;
    const int steps = std::clamp(static_cast<int>(std::ceil(r * span / 3)), 2, 180);
    QPolygonF arc;
    arc.reserve(steps + 1);
    for (int i = 0; i <= steps; ++i) {
      const double t = start + span * i / steps;
      arc.append(QPointF(v.x() + r * std::cos(t), v.y() - r * std::sin(t)));
    }
    S.P.drawPolyline(arc);
  }
  DrawText(S, LabelKey(), AngleText(degrees), O.PenColor, v, 0);
}

} // namespace rv
