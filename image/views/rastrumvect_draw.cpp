// The vector layer's object pass (every kind onto the back buffer or any
// canvas), the masked bitmap blend, and the overlays of the paint event:
// grips, rubber bands, previews and the measure hint.
#include "image/views/rastrumvect.h"

#include <QFontMetrics>
#include <QHash>
#include <QLineF>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
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

// Bytes per pixel of a picture the blend writes into (0: another format).
int BlendBytes(const QImage& Image) {
  switch (Image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: return 4;
    case QImage::Format_BGR888: return 3;
    default: return 0;
  }
}

// Source and mask sample of a destination pixel, by the 16384-based steps.
struct TBlendSource {
  const platform::TBitmap* Bitmap;
  const TRvMask* Mask; // null: opaque
  std::int64_t StepX, StepY;
};

// The masked stretch of Source onto Dest, 1:1 at Box's origin when the
// steps are 16384; only the pixels of Box inside Area. Each channel becomes
// dst + ((src - dst) x (m x 1024)) >> 18, that is a weight of m / 256.
void BlendInto(QImage& Dest, const QRect& Box, const QRect& Area, const TBlendSource& S) {
  const int bytes = BlendBytes(Dest);
  const QRect r = Box.intersected(Area).intersected(Dest.rect());
  if (bytes == 0 || r.isEmpty()) return;
  const bool mono = S.Bitmap->PixelFormat() == platform::pf1bit;
  std::vector<int> cols(static_cast<std::size_t>(r.width()));
  for (int x = r.left(); x <= r.right(); ++x)
    cols[static_cast<std::size_t>(x - r.left())] =
        static_cast<int>((static_cast<std::int64_t>(x - Box.left()) * S.StepX) >> 14);
  for (int y = r.top(); y <= r.bottom(); ++y) {
    const int sy = static_cast<int>((static_cast<std::int64_t>(y - Box.top()) * S.StepY) >> 14);
    const std::uint8_t* src = S.Bitmap->ScanLine(sy);
    const std::uint8_t* mask = S.Mask != nullptr ? S.Mask->ScanLine(sy) : nullptr;
    std::uint8_t* d = Dest.scanLine(y) + static_cast<std::ptrdiff_t>(r.left()) * bytes;
    for (int i = 0; i < r.width(); ++i, d += bytes) {
      const int sx = cols[static_cast<std::size_t>(i)];
      int b, g, red;
      if (mono) {
        b = g = red = (src[sx >> 3] & (0x80u >> (sx & 7))) != 0 ? 255 : 0;
      } else {
        b = src[3 * sx];
        g = src[3 * sx + 1];
        red = src[3 * sx + 2];
      }
      if (mask == nullptr) {
        d[0] = static_cast<std::uint8_t>(b);
        d[1] = static_cast<std::uint8_t>(g);
        d[2] = static_cast<std::uint8_t>(red);
        if (bytes == 4) d[3] = 255;
        continue;
      }
      const int m = mask[sx];
      if (m == 0) continue;
      const int w = m * 1024;
      d[0] = static_cast<std::uint8_t>(d[0] + (((b - d[0]) * w) >> 18));
      d[1] = static_cast<std::uint8_t>(d[1] + (((g - d[1]) * w) >> 18));
      d[2] = static_cast<std::uint8_t>(d[2] + (((red - d[2]) * w) >> 18));
    }
  }
}

} // namespace

// ------------------------------------------------------------ fonts

const QFont& TRastrumVect::LabelFont() const {
  if (!FLabel) {
    TFontEntry e;
    e.Font = QFont(QStringLiteral("Arial"));
    e.Font.setPointSize(10);
    e.Metrics = QFontMetrics(e.Font);
    FLabel = e;
  }
  return FLabel->Font;
}

const QFontMetrics& TRastrumVect::LabelMetrics() const {
  LabelFont();
  return FLabel->Metrics;
}

const TRastrumVect::TFontEntry& TRastrumVect::FontFor(const TRvLogFont& L, int PixelHeight) const {
  QByteArray key(reinterpret_cast<const char*>(&L), sizeof L);
  key.append(reinterpret_cast<const char*>(&PixelHeight), sizeof PixelHeight);
  auto it = FFonts.constFind(key);
  if (it != FFonts.constEnd()) return *it;
  if (FFonts.size() > 256) FFonts.clear();
  TFontEntry e;
  e.Font = QFont(QString::fromStdString(L.FaceName()));
  e.Font.setPixelSize(std::clamp(PixelHeight, 1, kMaxFontPixels));
  if (L.lfWeight > 0) e.Font.setWeight(static_cast<QFont::Weight>(std::clamp(L.lfWeight, 100, 900)));
  e.Font.setItalic(L.lfItalic != 0);
  e.Font.setUnderline(L.lfUnderline != 0);
  e.Font.setStrikeOut(L.lfStrikeOut != 0);
  e.Font.setStyleStrategy(QFont::PreferAntialias);
  e.Metrics = QFontMetrics(e.Font);
  return *FFonts.insert(key, e);
}

// Room for the label of a ruler or gauge: the widest length text.
int TRastrumVect::LabelMargin() const {
  if (FLabelMargin < 0)
    FLabelMargin = 3 * LabelMetrics().height() +
                   LabelMetrics().horizontalAdvance(QString::fromStdString(" " + LengthText(-1e15) + " nanometers"));
  return FLabelMargin;
}

// ------------------------------------------------------------ coordinates

double TRastrumVect::ToClientX(double X) const {
  return (X + RvNearest(-ViewX() * (100.0 / Zoom()))) * (Zoom() / 100.0) + OffsetX();
}

double TRastrumVect::ToClientY(double Y) const {
  return (Y + RvNearest(-ViewY() * (100.0 / Zoom()))) * (Zoom() / 100.0) + OffsetY();
}

int TRastrumVect::ClientX(double X) const { return RvNearest(ToClientX(X)); }
int TRastrumVect::ClientY(double Y) const { return RvNearest(ToClientY(Y)); }

TRastrumVect::TClientBox TRastrumVect::ClientBox(const TRvVObject& O) const {
  const double x1 = ClientX(O.Left), x2 = ClientX(O.Right), y1 = ClientY(O.Top), y2 = ClientY(O.Bottom);
  return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

QPen TRastrumVect::ObjectPen(const TRvVObject& O) const {
  const int width = FZoomObjectsWidth ? std::max(1, RvNearest(O.PenWidth * (Zoom() / 100.0))) : O.PenWidth;
  return MakePen(O.PenColor, width, O.PenStyle);
}

// Where an object can put pixels, in client coordinates: its box with room
// for the pen, arrow heads and labels.
QRect TRastrumVect::PaintedBounds(const TRvVObject& O) const {
  TClientBox b = ClientBox(O);
  const double z = Zoom() / 100.0;
  double margin = ObjectPen(O).widthF() + 2;
  switch (O.Kind) {
    case rvokLine:
      if (O.BeginShape != rvasNone || O.EndShape != rvasNone)
        margin += std::max(std::fabs(static_cast<double>(O.ShapeWidth)) / 2, std::fabs(static_cast<double>(O.ShapeHeight))) * z;
      break;
    case rvokRuler:
    case rvokAngle: {
      margin = std::clamp(O.PenWidth, 1, kMaxPenWidth) + 14.0 + LabelMargin();
      if (O.Kind == rvokAngle) {
        const int placed = RvPlacedPoints(O);
        if (placed == 0) return QRect();
        b = {1e300, 1e300, -1e300, -1e300};
        for (int i = 0; i < placed; ++i) {
          const platform::TPoint& p = O.AnglePoints[static_cast<std::size_t>(i)];
          b = {std::min(b.X1, ToClientX(p.X)), std::min(b.Y1, ToClientY(p.Y)), std::max(b.X2, ToClientX(p.X)),
               std::max(b.Y2, ToClientY(p.Y))};
        }
      }
      break;
    }
    default: break;
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
  if (image.isNull() || BlendBytes(image) == 0) return;
  const QRect clip = Clip != nullptr ? Clip->ToQRect().intersected(image.rect()) : image.rect();
  if (clip.isEmpty()) return;
  if (&Dest == &BackBuffer()) {
    FRendered = true;
    FRenderedOriginX = RvNearest(-ViewX() * (100.0 / Zoom()));
    FRenderedOriginY = RvNearest(-ViewY() * (100.0 / Zoom()));
    FRenderedViewX = ViewX();
    FRenderedViewY = ViewY();
  }
  QPainter p(&image);
  DrawObjectPass(p, &image, clip, false);
}

bool TRastrumVect::CanScrollBackBuffer() const {
  if (!TRastrumView::CanScrollBackBuffer()) return false;
  if (FObjects.empty() || FObjectsHidden) return true;
  // The picture's pixels move by the scroll; the objects keep their places
  // only when their origin moved by the same whole number of pixels.
  const double z = Zoom() / 100.0;
  const int ox = RvNearest(-ViewX() * (100.0 / Zoom())), oy = RvNearest(-ViewY() * (100.0 / Zoom()));
  return FRendered && (ox - FRenderedOriginX) * z == FRenderedViewX - ViewX() &&
         (oy - FRenderedOriginY) * z == FRenderedViewY - ViewY();
}

void TRastrumVect::PaintTo(platform::TCanvas& Canvas, platform::TBitmap* Bitmap) {
  TRastrumView::PaintTo(Canvas, Bitmap);
  // Into the back buffer the objects go without grips: those are drawn over
  // it in the paint event.
  const bool grips = Bitmap != &BackBuffer();
  Canvas.Paint([&](QPainter& P) {
    QImage* image = nullptr;
    if (Bitmap != nullptr && P.device() == &Bitmap->Image()) image = &Bitmap->Image();
    DrawObjectPass(P, image, QRect(0, 0, ExtentX(), ExtentY()), grips);
  });
}

void TRastrumVect::DrawObjectPass(QPainter& P, QImage* Image, const QRect& Clip, bool Grips) {
  FDrawnObjectsCount = 0;
  const QRect area = Clip.intersected(QRect(0, 0, ExtentX(), ExtentY()));
  if (area.isEmpty()) return;
  P.save();
  P.setClipRect(area, Qt::IntersectClip);
  P.setRenderHint(QPainter::Antialiasing, false);
  if (!FObjectsHidden) {
    for (int h : FOrder) {
      const TRvVObject& o = FObjects[static_cast<std::size_t>(h)];
      if ((o.Style & rvosVisible) == 0 || o.Kind == rvokNone || o.Kind > rvokAngle) continue;
      if (!PaintedBounds(o).intersects(area)) continue;
      try {
        DrawObject(P, Image, area, o, h);
      } catch (const std::exception& e) {
        // One object that cannot be drawn does not take the others along.
        qDebug("[Paint] %s\r\n", e.what());
      }
      ++FDrawnObjectsCount;
    }
  }
  if (Grips) DrawGrips(P);
  P.restore();
}

void TRastrumVect::DrawObject(QPainter& P, QImage* Image, const QRect& Clip, const TRvVObject& O, int hobj) {
  const double z = Zoom() / 100.0;
  const double x1 = ClientX(O.Left), y1 = ClientY(O.Top), x2 = ClientX(O.Right), y2 = ClientY(O.Bottom);
  const QRectF limit = QRectF(Clip).adjusted(-kMaxPenWidth, -kMaxPenWidth, kMaxPenWidth, kMaxPenWidth);
  P.setPen(ObjectPen(O));
  P.setBrush(ToQBrush(O.BrushColor, O.BrushStyle));
  switch (O.Kind) {
    case rvokLine: {
      DrawClippedLine(P, {x1, y1}, {x2, y2}, limit);
      const double w = O.ShapeWidth * z, h = O.ShapeHeight * z;
      DrawArrowHead(P, {x1, y1}, {x2, y2}, O.BeginShape, w, h);
      DrawArrowHead(P, {x2, y2}, {x1, y1}, O.EndShape, w, h);
      break;
    }
    case rvokBox: P.drawRect(Kept(x1, y1, x2, y2, limit)); break;
    case rvokEllipse:
    case rvokArc: {
      const QRectF box(QPointF(x1, y1), QPointF(x2, y2));
      if (O.Kind == rvokEllipse) {
        DrawEllipse(P, box, 0, 0, true, limit);
        break;
      }
      if (!std::isfinite(O.ArcStart) || !std::isfinite(O.ArcEnd)) break;
      // Counter-clockwise on the screen from the start point to the end
      // point; the same point twice is the whole ellipse.
      double span = std::fmod(O.ArcStart - O.ArcEnd, 2 * std::numbers::pi);
      if (span <= 1e-12) span += 2 * std::numbers::pi;
      const double start = std::fmod(-O.ArcStart, 2 * std::numbers::pi);
      P.setBrush(Qt::NoBrush);
      DrawEllipse(P, box, RvNearest(start * 180 / std::numbers::pi * 16), RvNearest(span * 180 / std::numbers::pi * 16),
                  false, limit);
      break;
    }
    case rvokBitmap: DrawBitmapObject(P, Image, Clip, O); break;
    case rvokText:
      if (hobj == FEditing) {
        // The editor shows the text; only its frame is drawn.
        P.setBrush(Qt::NoBrush);
        P.drawRect(Kept(x1 - 1, y1 - 1, x2, y2, limit));
      } else {
        DrawTextObject(P, O);
      }
      break;
    case rvokRuler: DrawRuler(P, Clip, O); break;
    case rvokPolyline: {
      const double bw = static_cast<double>(O.BaseRight) - O.BaseLeft, bh = static_cast<double>(O.BaseBottom) - O.BaseTop;
      if (bw == 0 || bh == 0 || O.Points.size() < 2) break;
      const double sx = (static_cast<double>(O.Right) - O.Left) / bw, sy = (static_cast<double>(O.Bottom) - O.Top) / bh;
      auto at = [&](const platform::TPoint& p) {
        return QPointF(ClientX(RvRound((p.X - static_cast<double>(O.BaseLeft)) * sx) + static_cast<double>(O.Left)),
                       ClientY(RvRound((p.Y - static_cast<double>(O.BaseTop)) * sy) + static_cast<double>(O.Top)));
      };
      QPointF a = at(O.Points[0]);
      for (std::size_t i = 1; i < O.Points.size(); ++i) {
        const QPointF b = at(O.Points[i]);
        DrawClippedLine(P, a, b, limit);
        a = b;
      }
      break;
    }
    case rvokAngle: DrawGauge(P, O); break;
    default: break;
  }
}

void TRastrumVect::DrawArrowHead(QPainter& P, QPointF End, QPointF Other, TRvArrowShape Shape, double W, double H) {
  if (Shape != rvasBaseAtEnd && Shape != rvasTipAtEnd) return;
  const double dx = Other.x() - End.x(), dy = Other.y() - End.y(), len = std::hypot(dx, dy);
  if (len == 0 || !std::isfinite(W) || !std::isfinite(H)) return;
  const QPointF u(dx / len, dy / len), n(-u.y(), u.x());
  const QPointF b = End + u * H;
  const QPointF centre = Shape == rvasTipAtEnd ? b : End, third = Shape == rvasTipAtEnd ? End : b;
  const QPolygonF head({centre + n * (W / 2), centre - n * (W / 2), third});
  if (head.boundingRect().width() > 2 * kFar || head.boundingRect().height() > 2 * kFar) return;
  P.drawPolygon(head.toPolygon());
}

void TRastrumVect::DrawBitmapObject(QPainter& P, QImage* Image, const QRect& Clip, const TRvVObject& O) {
  const TClientBox b = ClientBox(O);
  const double w = b.X2 + 1 - b.X1, h = b.Y2 + 1 - b.Y1;
  const TRvVBitmapEntry* e = O.BitmapIndex >= 0 && O.BitmapIndex < static_cast<int>(FBitmaps.size())
                                 ? &FBitmaps[static_cast<std::size_t>(O.BitmapIndex)]
                                 : nullptr;
  const QRectF limit = QRectF(Clip).adjusted(-kMaxPenWidth, -kMaxPenWidth, kMaxPenWidth, kMaxPenWidth);
  if (e == nullptr || e->Bitmap == nullptr) {
    P.setBrush(Qt::NoBrush);
    P.drawRect(Kept(b.X1, b.Y1, b.X2, b.Y2, limit));
    DrawClippedLine(P, {b.X1, b.Y1}, {b.X2, b.Y2}, limit);
    DrawClippedLine(P, {b.X2, b.Y1}, {b.X1, b.Y2}, limit);
    return;
  }
  if (w > 2 * kFar || h > 2 * kFar) return;
  const QRect box(static_cast<int>(b.X1), static_cast<int>(b.Y1), static_cast<int>(w), static_cast<int>(h));
  const QRect visible = box.intersected(Clip);
  if (visible.isEmpty()) return;
  TBlendSource source{e->Bitmap.get(), e->MaskKind == 255 ? nullptr : e->Mask.get(),
                      RvFixedStep(e->Bitmap->Width(), box.width()), RvFixedStep(e->Bitmap->Height(), box.height())};
  // The filtered stretch resamples the whole box; it waits while objects
  // move, and leaves boxes far larger than a screen to the direct one.
  platform::TBitmap sized;
  TRvMask sizedMask;
  if (FBitmapResampleFilter != rfNone && !FMoving &&
      static_cast<std::int64_t>(box.width()) * box.height() <= kMaxResampledPixels) {
    sized.SetPixelFormat(platform::pf24bit);
    sized.SetSize(box.width(), box.height());
    if (e->Bitmap->PixelFormat() == platform::pf1bit)
      RvResampleBWBitmap(e->Bitmap.get(), &sized, FBitmapResampleFilter);
    else
      RvResampleTBitmap(e->Bitmap.get(), &sized, FBitmapResampleFilter);
    if (source.Mask != nullptr) {
      sizedMask.Allocate(box.width(), box.height(), 8);
      RvResampleMask(e->Mask.get(), &sizedMask, FBitmapResampleFilter);
      source.Mask = &sizedMask;
    }
    source = {&sized, source.Mask, 16384, 16384};
  }
  if (Image != nullptr && BlendBytes(*Image) != 0) {
    BlendInto(*Image, box, Clip, source);
    return;
  }
  // A canvas without pixels at hand (a printer): the blend is composed
  // over a copy of nothing, so the mask becomes plain alpha.
  QImage part(visible.size(), QImage::Format_ARGB32_Premultiplied);
  part.fill(Qt::transparent);
  QImage opaque(visible.size(), QImage::Format_RGB32);
  const TBlendSource plain{source.Bitmap, nullptr, source.StepX, source.StepY};
  BlendInto(opaque, box.translated(-visible.topLeft()), opaque.rect(), plain);
  for (int y = 0; y < part.height(); ++y) {
    const int sy = static_cast<int>((static_cast<std::int64_t>(y + visible.top() - box.top()) * source.StepY) >> 14);
    const std::uint8_t* m = source.Mask != nullptr ? source.Mask->ScanLine(sy) : nullptr;
    const QRgb* s = reinterpret_cast<const QRgb*>(opaque.constScanLine(y));
    QRgb* d = reinterpret_cast<QRgb*>(part.scanLine(y));
    for (int x = 0; x < part.width(); ++x) {
      const int sx = static_cast<int>((static_cast<std::int64_t>(x + visible.left() - box.left()) * source.StepX) >> 14);
      const int a = m != nullptr ? m[sx] : 255;
      d[x] = qPremultiply(qRgba(qRed(s[x]), qGreen(s[x]), qBlue(s[x]), a));
    }
  }
  P.drawImage(visible.topLeft(), part);
}

void TRastrumVect::DrawTextObject(QPainter& P, const TRvVObject& O) {
  if (!O.Text) return;
  const TClientBox b = ClientBox(O);
  const QRectF limit = QRectF(0, 0, ExtentX(), ExtentY()).adjusted(-kMaxPenWidth, -kMaxPenWidth, kMaxPenWidth, kMaxPenWidth);
  P.drawRect(Kept(b.X1, b.Y1, b.X2, b.Y2, limit));
  const TRvLogFont font = O.Font.value_or(TRvLogFont{});
  const double height = font.lfHeight != 0 ? std::fabs(font.lfHeight * (Zoom() / 100.0)) : b.Y2 - b.Y1;
  const TFontEntry& f = FontFor(font, static_cast<int>(std::min(height, double{kMaxFontPixels})));
  const QString text = QString::fromStdString(*O.Text);
  const double w = f.Metrics.horizontalAdvance(text), h = f.Metrics.height();
  const double degrees = font.lfEscapement / 10.0, a = degrees * std::numbers::pi / 180;
  const double bw = b.X2 - b.X1, bh = b.Y2 - b.Y1;
  const double dy = (bh - h * std::cos(a) + w * std::sin(a)) / 2;
  double dx = std::fabs(h * std::sin(a));
  if (O.TextAlign == 1) dx = bw - w * std::cos(a);
  else if (O.TextAlign == 2) dx = (bw - w * std::cos(a) - h * std::sin(a)) / 2;
  P.save();
  P.setClipRect(Kept(b.X1, b.Y1, b.X2 + 1, b.Y2 + 1, limit), Qt::IntersectClip);
  P.setRenderHint(QPainter::TextAntialiasing, true);
  P.setFont(f.Font);
  P.setPen(ToQColor(O.PenColor));
  P.translate(b.X1 + dx, b.Y1 + dy);
  // The escapement turns counter-clockwise on the screen.
  if (degrees != 0) P.rotate(-degrees);
  P.drawText(QPointF(0, f.Metrics.ascent()), text);
  P.restore();
}

void TRastrumVect::DrawRuler(QPainter& P, const QRect& Clip, const TRvVObject& O) {
  if (O.Left == O.Right && O.Top == O.Bottom) return;
  const QPointF a(ClientX(O.Left), ClientY(O.Top)), b(ClientX(O.Right), ClientY(O.Bottom));
  const QRectF limit = QRectF(Clip).adjusted(-64, -64, 64, 64);
  P.setPen(MakePen(O.PenColor, O.PenWidth, O.PenStyle));
  P.setBrush(Qt::NoBrush);
  DrawClippedLine(P, a, b, limit);
  const double L = QLineF(a, b).length();
  if (L < 1) return;
  const QPointF u = (b - a) / L, n(-u.y(), u.x());
  const double ux = RvUnitPerPixel(O.RulerUnit, DpiX(), FMeasureScale);
  const double uy = RvUnitPerPixel(O.RulerUnit, DpiY(), FMeasureScale);
  const double dx = (static_cast<double>(O.Right) - O.Left) * ux, dy = (static_cast<double>(O.Bottom) - O.Top) * uy;
  const double length = std::sqrt(dx * dx + dy * dy);
  P.setFont(LabelFont());
  P.setPen(MakePen(O.PenColor, O.PenWidth, platform::psSolid));
  const QFontMetrics& fm = LabelMetrics();
  if (O.RulerType == rvrtGraduated) {
    double step, unitsPerTick;
    if (!RvGraduation(length / L, step, unitsPerTick)) return;
    // Only the ticks that fall where the client can show them.
    QPointF ca = a, cb = b;
    if (!ClipSegment(ca, cb, limit)) return;
    const double t0 = QLineF(a, ca).length(), t1 = QLineF(a, cb).length();
    QVector<QLineF> ticks;
    for (std::int64_t i = static_cast<std::int64_t>(std::ceil(t0 / step)); i * step <= t1 && i * step < L; ++i) {
      const QPointF p = a + u * (static_cast<double>(i) * step);
      const int len = i % 10 == 0 ? 12 : (i % 5 == 0 ? 8 : 6);
      ticks.append(QLineF(p, p + n * len));
      if (i % 10 == 0) {
        const QString label = QString::number(std::llround(static_cast<double>(i) * unitsPerTick));
        const QPointF c = p + n * (14.0 + fm.height() / 2.0);
        P.drawText(QPointF(c.x() - fm.horizontalAdvance(label) / 2.0, c.y() + fm.ascent() / 2.0), label);
      }
    }
    P.drawLines(ticks);
    return;
  }
  for (const QPointF& end : {a, b}) P.drawLine(QLineF(end - n * 4, end + n * 5));
  QString text = QString::fromStdString(RvFloatText(length, FFloatPrecision, FFloatDigits) + " " + RvUnitName(O.RulerUnit));
  if (O.RulerType == rvrtLabelStart) text.prepend(' ');
  if (O.RulerType == rvrtLabelEnd) text.append(' ');
  const double tw = fm.horizontalAdvance(text);
  const double along = O.RulerType == rvrtLabelStart ? 0 : (O.RulerType == rvrtLabelMiddle ? (L - tw) / 2 : L - tw);
  P.save();
  P.translate(a);
  P.rotate(std::atan2(b.y() - a.y(), b.x() - a.x()) * 180 / std::numbers::pi);
  P.drawText(QPointF(along, -3 - fm.descent()), text);
  P.restore();
}

void TRastrumVect::DrawGauge(QPainter& P, const TRvVObject& O) {
  const std::array<platform::TPoint, 3>& pts = O.AnglePoints;
  const int placed = RvPlacedPoints(O);
  if (placed == 0) return;
  P.setPen(MakePen(O.PenColor, O.PenWidth, platform::psSolid));
  P.setBrush(Qt::NoBrush);
  const QRectF limit = QRectF(0, 0, ExtentX(), ExtentY()).adjusted(-64, -64, 64, 64);
  auto at = [&](int i) { return QPointF(ClientX(pts[static_cast<std::size_t>(i)].X), ClientY(pts[static_cast<std::size_t>(i)].Y)); };
  for (int i = 0; i + 1 < placed; ++i) DrawClippedLine(P, at(i), at(i + 1), limit);
  if (placed < 3) return;
  const double degrees = RvGaugeAngle(pts[0], pts[1], pts[2]);
  const QPointF a = at(0), v = at(1), c = at(2);
  const int r = static_cast<int>(std::min(QLineF(v, a).length(), QLineF(v, c).length())) / 4;
  if (r > 0 && r < kFar) {
    const double start = std::atan2(-(a.y() - v.y()), a.x() - v.x()) * 180 / std::numbers::pi;
    P.drawArc(QRectF(v.x() - r, v.y() - r, 2.0 * r, 2.0 * r), RvNearest(start * 16), RvNearest(degrees * 16));
  }
  if (std::fabs(v.x()) < kFar && std::fabs(v.y()) < kFar) {
    P.setFont(LabelFont());
    P.drawText(QPointF(v.x(), v.y() + LabelMetrics().ascent()), QString::fromStdString(AngleText(degrees)));
  }
}

// ------------------------------------------------------------ grips

std::vector<QRect> TRastrumVect::GripRects() const {
  std::vector<QRect> rects;
  const int h = GripSize, pw = std::max(GripPenWidth, 1);
  auto square = [&](QPoint G, int Pen) {
    rects.push_back(QRect(G.x() - h - Pen, G.y() - h - Pen, 2 * (h + Pen) + 1, 2 * (h + Pen) + 1));
  };
  for (int hobj : FSelected) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(hobj)];
    if (!BoxOnScreen(o)) continue;
    QPoint g[6];
    GripPositions(o, g);
    if (o.Kind != rvokAngle) {
      square(g[1], pw);
      square(g[2], pw);
      if (o.Kind != rvokLine && o.Kind != rvokRuler) {
        square(g[4], pw);
        square(g[5], pw);
      }
    }
    square(g[3], 1);
  }
  return rects;
}

// Inverted squares at the corners and a diamond at the centre of every
// selected object on the screen.
void TRastrumVect::DrawGrips(QPainter& P) {
  if (FSelected.empty()) return;
  platform::TCanvas canvas(&P);
  canvas.Pen.Mode = platform::pmNot;
  canvas.Brush.Style = platform::bsClear;
  const int h = GripSize;
  for (int hobj : FSelected) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(hobj)];
    if (!BoxOnScreen(o)) continue;
    QPoint g[6];
    GripPositions(o, g);
    canvas.Pen.Width = GripPenWidth;
    canvas.Pen.Style = GripPenStyle;
    for (int i : {1, 2, 4, 5}) {
      if (o.Kind == rvokAngle || (i >= 4 && (o.Kind == rvokLine || o.Kind == rvokRuler))) continue;
      canvas.Rectangle(g[i].x() - h, g[i].y() - h, g[i].x() + h, g[i].y() + h);
    }
    canvas.Pen.Width = 1;
    canvas.Pen.Style = platform::psSolid;
    const int cx = g[3].x(), cy = g[3].y();
    const platform::TPoint diamond[] = {{cx, cy - h}, {cx + h, cy}, {cx, cy + h}, {cx - h, cy}, {cx, cy - h}};
    canvas.Polyline(diamond, 5);
  }
}

void TRastrumVect::InvalidateRects(const std::vector<QRect>& Rects) {
  if (Rects.size() > 64) {
    Invalidate();
    return;
  }
  const int f = FrameWidth();
  for (const QRect& r : Rects)
    if (!r.isEmpty()) QWidget::update(r.translated(f, f));
}

void TRastrumVect::InvalidateGrips() {
  if (!FSelected.empty()) InvalidateRects(GripRects());
}

// ------------------------------------------------------------ overlays

TRvVObject TRastrumVect::PreviewObject() const {
  TRvVObject o;
  if (FOverlay == 4) {
    o.Kind = rvokRuler;
    o.RulerType = FTemplate.RulerType;
    o.RulerUnit = FTemplate.RulerUnit;
    o.PenWidth = FTemplate.PenWidth;
    o.PenColor = FTemplate.PenColor;
    o.Left = ScreenToBitmapX(FOverlayA.x());
    o.Top = ScreenToBitmapY(FOverlayA.y());
    o.Right = ScreenToBitmapX(FOverlayB.x());
    o.Bottom = ScreenToBitmapY(FOverlayB.y());
  } else if (FOverlay == 5 && Record(FAngle) != nullptr) {
    o = *Record(FAngle);
    const int placed = RvPlacedPoints(o);
    if (placed > 0 && placed < 3)
      o.AnglePoints[static_cast<std::size_t>(placed)] = {ScreenToBitmapX(FOverlayB.x()), ScreenToBitmapY(FOverlayB.y())};
  }
  return o;
}

std::vector<QRect> TRastrumVect::OverlayRects() const {
  const QRect r = QRect(FOverlayA, FOverlayB).normalized();
  switch (FOverlay) {
    case 1:
    case 3: return {r.adjusted(-2, -2, 2, 2)};
    case 2:
      // Only the four edges of a rubber band change.
      return {QRect(r.left() - 1, r.top() - 1, r.width() + 2, 3), QRect(r.left() - 1, r.bottom() - 1, r.width() + 2, 3),
              QRect(r.left() - 1, r.top() - 1, 3, r.height() + 2), QRect(r.right() - 1, r.top() - 1, 3, r.height() + 2)};
    case 4:
    case 5: return {PaintedBounds(PreviewObject())};
    default: return {};
  }
}

void TRastrumVect::SetOverlay(int Kind, QPoint A, QPoint B) {
  if (Kind == FOverlay && A == FOverlayA && B == FOverlayB) return;
  InvalidateRects(OverlayRects());
  FOverlay = Kind;
  FOverlayA = A;
  FOverlayB = B;
  InvalidateRects(OverlayRects());
}

void TRastrumVect::DrawOverlays(QPainter& P) {
  P.setClipRect(QRect(0, 0, ExtentX(), ExtentY()), Qt::IntersectClip);
  DrawGrips(P);
  platform::TCanvas canvas(&P);
  canvas.Pen.Mode = platform::pmNot;
  canvas.Pen.Width = 1;
  canvas.Brush.Style = platform::bsClear;
  const QPoint a = FOverlayA, b = FOverlayB;
  switch (FOverlay) {
    case 1:
      canvas.MoveTo(a.x(), a.y());
      canvas.LineTo(b.x(), b.y());
      break;
    case 2: canvas.Rectangle(a.x(), a.y(), b.x(), b.y()); break;
    case 3: canvas.Ellipse(a.x(), a.y(), b.x(), b.y()); break;
    case 4:
    case 5: {
      const TRvVObject o = PreviewObject();
      P.save();
      if (o.Kind == rvokRuler) DrawRuler(P, QRect(0, 0, ExtentX(), ExtentY()), o);
      else if (o.Kind == rvokAngle) DrawGauge(P, o);
      P.restore();
      break;
    }
    default: break;
  }
  if (FHintShown) {
    canvas.Pen.Mode = platform::pmCopy;
    canvas.Brush = MeasureHintBrush;
    int x = FHintRect.x(), y = FHintRect.y();
    RvDrawHintBox(canvas, x, y, ExtentX(), ExtentY(), MeasureHintColor1, MeasureHintColor2, FHintText, FHintFont,
                  nullptr);
  }
}

void TRastrumVect::Paint() {
  TRastrumView::Paint();
  if (platform::TCanvas* canvas = GetCanvas()) canvas->Paint([&](QPainter& P) { DrawOverlays(P); });
}

// ------------------------------------------------------------ measure hint

void TRastrumVect::SetMeasureHintFont(const platform::TFont& Value) {
  FHintFont = Value;
  RefreshMeasureHint();
}

void TRastrumVect::SetMeasureHintVisible(bool Value) {
  if (Value == FHintVisible) return;
  if (!Value) RemoveMeasureHint();
  FHintVisible = Value;
}

void TRastrumVect::RemoveMeasureHint() {
  if (!FHintShown) return;
  FHintShown = false;
  InvalidateRects({FHintRect});
}

void TRastrumVect::ShowMeasureHint(int X, int Y) {
  if (!FHintVisible) return;
  if (X == -1000000) X = FHintPos.x();
  if (Y == -1000000) Y = FHintPos.y();
  X = std::max(X, 0);
  Y = std::max(Y, 0);
  double value;
  bool area = false;
  if (FVectInteract & mviMeasureArea) {
    value = MeasureSelectionArea();
    area = true;
  } else if (FVectInteract & mviMeasurePerimeter) {
    value = MeasureSelectionPerimeter();
  } else if (FVectInteract & mviMeasureDrag) {
    value = DragMeasure(X, Y);
  } else {
    return;
  }
  if (value == 0) value = FLastValue;
  FLastValue = value;
  std::string text = area ? AreaText(value) : LengthText(value);
  if (OnMeasureHint) OnMeasureHint(this, text, value);
  RemoveMeasureHint();
  // Placed as the hint box places itself: inside the client, 12 pixels off
  // its right and bottom edge.
  const QFont font = FHintFont.ToQFont();
  const QFontMetrics fm(font);
  const int w = fm.horizontalAdvance(QString::fromStdString(text)) + 12, h = fm.height() + 12;
  if (X > ExtentX() - (w + 12)) X = ExtentX() - (w + 12);
  if (Y > ExtentY() - (h + 12)) Y = ExtentY() - (h + 12);
  X = std::max(X, 0);
  Y = std::max(Y, 0);
  FHintPos = QPoint(X, Y);
  FHintText = std::move(text);
  FHintRect = QRect(X, Y, w, h);
  FHintShown = true;
  InvalidateRects({FHintRect});
}

void TRastrumVect::RefreshMeasureHint() {
  RemoveMeasureHint();
  ShowMeasureHint(-1000000, -1000000);
}

} // namespace rv
