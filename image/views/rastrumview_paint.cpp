// Painting of the single-picture view: the visible rectangle, the back
// buffer, the software renderer, the filtered painter, backgrounds, the
// filled selection and pixel grid, and the overlays drawn over the back
// buffer in the paint event (selection outline, grips, rubber band).
#include "image/views/rastrumview.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/model/rvbwgray.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvresample.h"
#include "image/views/rvrender.h"
#include "image/views/rvviewmath.h"

namespace rv {

namespace {

// Bytes per pixel of a destination the renderer writes (0: unsupported).
int DestBytes(const platform::TBitmap& Dest) {
  switch (Dest.Image().format()) {
    case QImage::Format_BGR888: return 3;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: return 4;
    default: return 0;
  }
}

} // namespace

void TRastrumView::ComputeVisibleRect() {
  const int bw = FBitmap.Width(), bh = FBitmap.Height();
  if (FZoomW <= 0 || FZoomH <= 0 || bw <= 0 || bh <= 0) {
    FSrcX = FSrcY = FSrcW = FSrcH = FDestW = FDestH = 0;
    return;
  }
  FSrcX = RvNearest(FViewX * static_cast<double>(bw) / FZoomW);
  FSrcW = RvNearest(FDrawW * static_cast<double>(bw) / FZoomW);
  if (FSrcX + FSrcW > bw) --FSrcW;
  FSrcY = RvNearest(FViewY * static_cast<double>(bh) / FZoomH);
  FSrcH = RvNearest(FDrawH * static_cast<double>(bh) / FZoomH);
  if (FSrcY + FSrcH > bh) --FSrcH;
  if (FZoom <= 100) {
    FDestW = FDrawW;
    FDestH = FDrawH;
  } else {
    FDestW = RvTrunc(FSrcW * FZZ);
    if (FDestW < FDrawW && FSrcX + FSrcW < bw) {
      ++FSrcW;
      FDestW = RvTrunc(FSrcW * FZZ);
    }
    FDestH = RvTrunc(FSrcH * FZZ);
    if (FDestH < FDrawH && FSrcY + FSrcH < bh) {
      ++FSrcH;
      FDestH = RvTrunc(FSrcH * FZZ);
    }
  }
  // The scroll limit is rounded at another place than the visible width: at
  // small zooms the rectangle could reach past the last column or row.
  FSrcX = std::clamp(FSrcX, 0, bw - 1);
  FSrcY = std::clamp(FSrcY, 0, bh - 1);
  FSrcW = std::clamp(FSrcW, 0, bw - FSrcX);
  FSrcH = std::clamp(FSrcH, 0, bh - FSrcY);
}

bool TRastrumView::AlphaDisplayed() const {
  // An entirely opaque mask changes nothing: the picture's own pixels show.
  return FEnableAlpha && FAlpha != nullptr && !FAlpha->Full() && FAlpha->BitCount() == 8 &&
         FAlpha->Width() == FBitmap.Width() && FAlpha->Height() == FBitmap.Height();
}

void TRastrumView::DrawBackground(platform::TCanvas& Canvas, TRvBackgroundStyle Style,
                                  platform::TColor Color, int Width, int Height,
                                  const platform::TRect& ImageRect, const platform::TRect* Clip) {
  RvDrawBackground(Canvas, Style, Color, Width, Height, ImageRect, ChessboardSize,
                   ChessboardBrushStyle, Clip);
}

void TRastrumView::DrawBackgroundFor(platform::TBitmap& Dest, const platform::TRect* Clip) {
  DrawBackground(Dest.Canvas(), FBackgroundStyle, GetBackground(), Dest.Width(), Dest.Height(),
                 platform::Bounds(FOffX, FOffY, FDestW, FDestH), Clip);
}

TRastrumView::TAxisMap TRastrumView::AxisMap(bool Vertical) const {
  // The renderer's own steps: the visible source over the destination, from
  // the first visible pixel. A scroll moves the picture by the change of
  // the view position; where the maps do not line up after it, the check
  // against the recorded maps renders the whole frame instead.
  TAxisMap m;
  m.First = Vertical ? FSrcY : FSrcX;
  m.Phase = 0;
  m.Step = RvFixedStep(Vertical ? FSrcH : FSrcW, Vertical ? FDestH : FDestW);
  m.Anchor = Vertical ? FViewY : FViewX;
  return m;
}

void TRastrumView::RenderNearest(platform::TBitmap& Dest, const QRect& Clip, bool WithAlpha) {
  TRvNearestJob job;
  job.Source = &FBitmap;
  job.Alpha = WithAlpha ? FAlpha.get() : nullptr;
  const TAxisMap cols = AxisMap(false), rows = AxisMap(true);
  job.SourceX = cols.First;
  job.SourceY = rows.First;
  job.SourceW = FSrcW;
  job.SourceH = FSrcH;
  job.StepX = cols.Step;
  job.StepY = rows.Step;
  job.PhaseX = cols.Phase;
  job.PhaseY = rows.Phase;
  job.DestX = FOffX;
  job.DestY = FOffY;
  job.DestW = FDestW;
  job.DestH = FDestH;
  job.Clip = Clip;
  // Rows under a blend differ where the background does.
  job.ReuseRows = !WithAlpha || FBackgroundStyle == rvbsSolid;
  RvRenderNearest(job, Dest.Image());
}

void TRastrumView::DrawImageTo(platform::TBitmap& Dest, const platform::TRect* Clip) {
  ComputeVisibleRect();
  if (DestBytes(Dest) == 0) return;
  const QRect clip = Clip != nullptr ? Clip->ToQRect().intersected(Dest.Image().rect())
                                     : Dest.Image().rect();
  if (clip.isEmpty()) return;
  const bool blend = AlphaDisplayed();
  if (FOffX > 0 || FOffY > 0 || Dest.Width() > FDestW || Dest.Height() > FDestH || blend) {
    const platform::TRect c = platform::Bounds(clip.x(), clip.y(), clip.width(), clip.height());
    DrawBackgroundFor(Dest, &c);
  }
  const int bw = FBitmap.Width(), bh = FBitmap.Height();
  if (IsEmpty()) return;
  if (FEnableAlpha && FAlpha != nullptr &&
      (FAlpha->Width() != bw || FAlpha->Height() != bh))
    return;
  RenderNearest(Dest, clip, blend);
  DrawSelectionExtras(Dest);
}

void TRastrumView::DrawSelectionExtras(platform::TBitmap& Dest) {
  if ((FSelectionOptions & rvsoFilled) != 0 && FSel->Visible)
    FSelMask.DrawXor(Dest.Canvas(), FOffX, FOffY, FDestW, FDestH, FSrcX, FSrcY, FSrcW, FSrcH);
  if (DisplayGrid && FZoom >= 400) {
    const int x1 = FOffX, y1 = FOffY;
    const int x2 = std::min(FOffX + FDestW, Dest.Width()), y2 = std::min(FOffY + FDestH, Dest.Height());
    Dest.Canvas().Paint([&](QPainter& p) {
      p.setCompositionMode(QPainter::RasterOp_NotDestination);
      p.setPen(QPen(Qt::black, 0));
      for (int bx = FSrcX; bx <= FSrcX + FSrcW; ++bx) {
        const int x = BitmapToScreenX(bx);
        if (x >= x1 && x < x2) p.drawLine(x, y1, x, y2 - 1);
      }
      for (int by = FSrcY; by <= FSrcY + FSrcH; ++by) {
        const int y = BitmapToScreenY(by);
        if (y >= y1 && y < y2) p.drawLine(x1, y, x2 - 1, y);
      }
    });
  }
}

void TRastrumView::PaintTo(platform::TCanvas& Canvas, platform::TBitmap* Bitmap) {
  try {
    const int ex = ExtentX(), ey = ExtentY();
    const int bw = FBitmap.Width(), bh = FBitmap.Height();
    if (bw == 0 || bh == 0) {
      DrawBackground(Canvas, FBackgroundStyle, GetBackground(), ex, ey, platform::TRect{});
      return;
    }
    ComputeVisibleRect();
    const platform::TRect image = platform::Bounds(FOffX, FOffY, FDestW, FDestH);
    const bool blend = AlphaDisplayed();
    if (FOffX > 0 || FOffY > 0 || ex > FDestW || ey > FDestH || blend)
      DrawBackground(Canvas, FBackgroundStyle, GetBackground(), ex, ey, image);
    const bool unfiltered = FZoomFilter == rfNone || FDelayCount > 0 || FZoom == 100 || bw < 2 ||
                            bh < 2 || FSrcW < 4 || FSrcH < 4;
    if (unfiltered) {
      if (Bitmap != nullptr && DestBytes(*Bitmap) != 0) {
        RenderNearest(*Bitmap, QRect(0, 0, ex, ey), blend);
      } else {
        platform::TBitmap frame(ex, ey, platform::pf32bit);
        RenderNearest(frame, frame.Image().rect(), false);
        Canvas.Paint([&](QPainter& p) {
          p.drawImage(QPoint(FOffX, FOffY), frame.Image(), QRect(FOffX, FOffY, FDestW, FDestH));
        });
      }
    } else if (FZoom > 100 || FBitmap.PixelFormat() == platform::pf24bit) {
      const bool whole = FSrcX == 0 && FSrcY == 0 && FSrcW == bw && FSrcH == bh;
      platform::TBitmap crop;
      if (!whole && FBitmap.PixelFormat() == platform::pf24bit) {
        // The visible part as a window onto the picture's own rows: the same
        // pixels as a cropped copy, without copying tens of megabytes.
        const QImage& all = FBitmap.Image();
        crop.SetImage(QImage(all.constBits() + static_cast<std::size_t>(FSrcY) * all.bytesPerLine() + 3 * FSrcX,
                             FSrcW, FSrcH, all.bytesPerLine(), QImage::Format_BGR888));
      } else if (!whole) {
        RvCropBitmap(&FBitmap, &crop, FSrcX, FSrcY, FSrcX + FSrcW, FSrcY + FSrcH);
      }
      const platform::TBitmap* source = whole ? &FBitmap : &crop;
      platform::TBitmap sized(FDestW, FDestH, platform::pf24bit);
      if (source->PixelFormat() == platform::pf1bit)
        RvResampleBWBitmap(source, &sized, FZoomFilter);
      else
        RvResampleTBitmap(source, &sized, FZoomFilter);
      if (blend && Bitmap != nullptr && DestBytes(*Bitmap) != 0) {
        // The transparency is resampled with the picture and blended over
        // the background as the software renderer does.
        TRvMask part;
        part.Allocate(FSrcW, FSrcH, 8);
        for (int y = 0; y < FSrcH; ++y)
          std::memcpy(part.ScanLine(y), FAlpha->ScanLine(FSrcY + y) + FSrcX, static_cast<std::size_t>(FSrcW));
        TRvMask alpha;
        alpha.Allocate(FDestW, FDestH, 8);
        RvResampleMask(&part, &alpha, FZoomFilter);
        TRvNearestJob job;
        job.Source = &sized;
        job.Alpha = &alpha;
        job.SourceW = job.DestW = FDestW;
        job.SourceH = job.DestH = FDestH;
        job.DestX = FOffX;
        job.DestY = FOffY;
        job.Clip = Bitmap->Image().rect();
        job.ReuseRows = false;
        RvRenderNearest(job, Bitmap->Image());
      } else {
        Canvas.Draw(FOffX, FOffY, sized);
      }
    } else if (FDestW > 0 && FDestH > 0) {
      platform::TBitmap gray(FDestW, FDestH, platform::pf24bit);
      RvShrinkBWTBitmapToGray(&FBitmap, FSrcX, FSrcY, FSrcX + FSrcW - 1, FSrcY + FSrcH - 1, &gray);
      Canvas.Draw(FOffX, FOffY, gray);
    }
    if (Bitmap != nullptr) DrawSelectionExtras(*Bitmap);
  } catch (const std::exception& e) {
    qDebug("[PaintTo] %s\r\n", e.what());
  } catch (...) {
    qDebug("[PaintTo] unknown failure\r\n");
  }
}

// ------------------------------------------------------------ back buffer

void TRastrumView::RenderBackBuffer() {
  const int ex = ExtentX(), ey = ExtentY();
  if (FBackBuffer.Width() != ex || FBackBuffer.Height() != ey) {
    FBackBuffer.SetSize(ex, ey);
    FDirty = true;
    FRenderAll = true;
  }
  if (!FDirty || ex == 0 || ey == 0) return;
  if (FZoomFilter == rfNone && HasParentWindow()) {
    if (FRenderAll || !ScrollBackBuffer()) {
      DrawImageTo(FBackBuffer);
      RecordRenderedMaps();
      FRenderedPixels = static_cast<std::int64_t>(ex) * ey;
    }
  } else {
    PaintTo(FBackBuffer.Canvas(), &FBackBuffer);
    FRenderedCols.clear();
    FRenderedPixels = static_cast<std::int64_t>(ex) * ey;
  }
  FDirty = false;
  FRenderAll = false;
}

void TRastrumView::ComputeMaps(std::vector<int>& Cols, std::vector<int>& Rows) const {
  const int ex = ExtentX(), ey = ExtentY();
  Cols.assign(static_cast<std::size_t>(ex), -1);
  Rows.assign(static_cast<std::size_t>(ey), -1);
  const TAxisMap cm = AxisMap(false), rm = AxisMap(true);
  const int lastCol = FBitmap.Width() - 1, lastRow = FBitmap.Height() - 1;
  for (int x = std::max(FOffX, 0); x < std::min(FOffX + FDestW, ex); ++x)
    Cols[static_cast<std::size_t>(x)] = RvNearestSource(x - FOffX, cm.First, cm.Phase, cm.Step, lastCol);
  for (int y = std::max(FOffY, 0); y < std::min(FOffY + FDestH, ey); ++y)
    Rows[static_cast<std::size_t>(y)] = RvNearestSource(y - FOffY, rm.First, rm.Phase, rm.Step, lastRow);
}

void TRastrumView::RecordRenderedMaps() {
  ComputeMaps(FRenderedCols, FRenderedRows);
  FRenderedAnchorX = AxisMap(false).Anchor;
  FRenderedAnchorY = AxisMap(true).Anchor;
}

bool TRastrumView::ExtrasCoverAll() const {
  return (DisplayGrid && FZoom >= 400) || ((FSelectionOptions & rvsoFilled) != 0 && FSel->Visible);
}

bool TRastrumView::ScrollBackBuffer() {
  if (ExtrasCoverAll()) return false;
  const int w = FBackBuffer.Width(), h = FBackBuffer.Height();
  if (static_cast<int>(FRenderedCols.size()) != w || static_cast<int>(FRenderedRows.size()) != h)
    return false;
  ComputeVisibleRect();
  const bool covers = FOffX == 0 && FOffY == 0 && FDestW >= w && FDestH >= h && !AlphaDisplayed();
  // A patterned background must stay where it is; only a plain one can move.
  if (!covers && FBackgroundStyle != rvbsSolid) return false;
  // The zoomed picture moved by the change of its anchors.
  const std::int64_t shiftX = AxisMap(false).Anchor - FRenderedAnchorX, shiftY = AxisMap(true).Anchor - FRenderedAnchorY;
  if (std::abs(shiftX) >= w || std::abs(shiftY) >= h) return false;
  const int dx = static_cast<int>(shiftX), dy = static_cast<int>(shiftY);
  if (!CanScrollBackBuffer(dx, dy)) return false;
  std::vector<int> cols, rows;
  ComputeMaps(cols, rows);
  // New column x shows what old column x + dx showed, or the scroll would
  // not give the pixels a fresh render gives.
  for (int x = std::max(0, -dx); x < std::min(w, w - dx); ++x)
    if (cols[static_cast<std::size_t>(x)] != FRenderedCols[static_cast<std::size_t>(x + dx)]) return false;
  for (int y = std::max(0, -dy); y < std::min(h, h - dy); ++y)
    if (rows[static_cast<std::size_t>(y)] != FRenderedRows[static_cast<std::size_t>(y + dy)]) return false;

  QImage& image = FBackBuffer.Image();
  const int bytes = DestBytes(FBackBuffer);
  if (bytes == 0) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(w - std::abs(dx)) * static_cast<std::size_t>(bytes);
  const int from = std::max(dx, 0) * bytes, to = std::max(-dx, 0) * bytes;
  auto moveRow = [&](int y) {
    std::memmove(image.scanLine(y) + to, image.constScanLine(y + dy) + from, rowBytes);
  };
  if (dy >= 0)
    for (int y = 0; y < h - dy; ++y) moveRow(y);
  else
    for (int y = h - 1; y >= -dy; --y) moveRow(y);

  if (dy != 0) {
    const platform::TRect strip = dy > 0 ? platform::Rect(0, h - dy, w, h) : platform::Rect(0, 0, w, -dy);
    DrawImageTo(FBackBuffer, &strip);
  }
  if (dx != 0) {
    const int top = std::max(-dy, 0), bottom = h - std::max(dy, 0);
    const platform::TRect strip = dx > 0 ? platform::Rect(w - dx, top, w, bottom) : platform::Rect(0, top, -dx, bottom);
    DrawImageTo(FBackBuffer, &strip);
  }
  FRenderedCols = std::move(cols);
  FRenderedRows = std::move(rows);
  FRenderedAnchorX += dx;
  FRenderedAnchorY += dy;
  FRenderedPixels = static_cast<std::int64_t>(std::abs(dy)) * w + static_cast<std::int64_t>(std::abs(dx)) * (h - std::abs(dy));
  return true;
}

bool TRastrumView::RenderAreas(const std::vector<QRect>& Areas) {
  // Many small areas (a loop of frames put back) cost more to map one by
  // one than the client does whole.
  constexpr std::size_t MostAreas = 16;
  const int w = FBackBuffer.Width(), h = FBackBuffer.Height();
  if (FDirty || FZoomFilter != rfNone || !HasParentWindow() || Areas.size() > MostAreas || w != ExtentX() ||
      h != ExtentY() || static_cast<int>(FRenderedCols.size()) != w || static_cast<int>(FRenderedRows.size()) != h ||
      ExtrasCoverAll())
    return false;
  // The back buffer's columns (rows) that showed source columns First to Last.
  auto span = [](const std::vector<int>& Map, int First, int Last) {
    int from = -1, to = -1;
    for (int i = 0; i < static_cast<int>(Map.size()); ++i)
      if (Map[static_cast<std::size_t>(i)] >= First && Map[static_cast<std::size_t>(i)] <= Last) {
        if (from < 0) from = i;
        to = i;
      }
    return std::pair{from, to};
  };
  FRenderedPixels = 0;
  for (const QRect& area : Areas) {
    const auto [x0, x1] = span(FRenderedCols, area.left(), area.right());
    const auto [y0, y1] = span(FRenderedRows, area.top(), area.bottom());
    // Pixels the zoom passes over show nowhere.
    if (x0 < 0 || y0 < 0) continue;
    const platform::TRect clip = platform::Rect(x0, y0, x1 + 1, y1 + 1);
    DrawImageTo(FBackBuffer, &clip);
    FRenderedPixels += static_cast<std::int64_t>(x1 - x0 + 1) * (y1 - y0 + 1);
    update(clip.ToQRect().translated(FrameWidth(), FrameWidth()));
  }
  return true;
}

void TRastrumView::ImageAreasChange(const std::vector<QRect>& Areas) {
  if (!RenderAreas(Areas)) {
    FDirty = true;
    FRenderAll = true;
    Invalidate();
  }
  ImageChange();
}

void TRastrumView::PaintBackBuffer(const QRect& R) {
  RenderBackBuffer();
  platform::TCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const QRect r = R.intersected(FBackBuffer.Image().rect());
  canvas->Paint([&](QPainter& p) {
    p.setCompositionMode(QPainter::CompositionMode_Source);
    if (!r.isEmpty()) p.drawImage(r.topLeft(), FBackBuffer.Image(), r);
    // The corner between two scroll bars belongs to neither.
    const int cw = ClientWidth(), ch = ClientHeight(), ex = ExtentX(), ey = ExtentY();
    if (cw > ex && ch > ey) p.fillRect(QRect(ex, ey, cw - ex, ch - ey), QColor::fromRgb(platform::ColorToQRgb(platform::clBtnFace)));
  });
}

void TRastrumView::Paint() {
  const int ex = ExtentX(), ey = ExtentY();
  if (HasParentWindow() && ex != 0 && ey != 0) {
    QRect r(0, 0, ex, ey);
    if (!FFullRepaint) {
      const QRect clip = PaintClipRect().ToQRect();
      if (!clip.isEmpty()) r = clip;
    }
    PaintBackBuffer(r);
  }
  FFullRepaint = false;
  if (platform::TCanvas* canvas = GetCanvas()) canvas->Paint([&](QPainter& p) { DrawOverlays(p); });
  UpdateSelectionTimer();
  if (OnPaint) OnPaint(this);
}

void TRastrumView::PaintLocked() {
  if (!FTransition) return;
  const bool running = FTransition->Running();
  if (!running && !FHoldingStart) return;
  platform::TCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  if (running) DrawPendingTransitionEnd();
  const platform::TBitmap& frame = running ? FTransition->FrameImage() : FTransition->StartImage();
  canvas->Paint([&](QPainter& p) { p.drawImage(QPoint(0, 0), frame.Image()); });
}

// ------------------------------------------------------------ overlays

void TRastrumView::MapSelectionPoint(const platform::TPoint& P, int& X, int& Y, bool Truncate) const {
  const double qx = FZoomW != 0 ? static_cast<double>(FBitmap.Width()) / FZoomW : 1;
  const double qy = FZoomH != 0 ? static_cast<double>(FBitmap.Height()) / FZoomH : 1;
  const int ox = RvNearest(-FViewX * qx), oy = RvNearest(-FViewY * qy);
  const double x = (P.X + ox) * FZZ + FOffX, y = (P.Y + oy) * FZZ + FOffY;
  X = Truncate ? RvTrunc(x) : RvNearest(x);
  Y = Truncate ? RvTrunc(y) : RvNearest(y);
}

void TRastrumView::DrawPolygonOutline(QPainter& P, TRvSelectionRecord& Record) {
  const int count = Record.Count();
  if (count == 0) return;
  QPolygon first, second;
  const QRect visible(0, 0, ExtentX(), ExtentY());
  Record.DashCounter = Record.Phase;
  // One segment pixel by pixel, dashes continuing from segment to segment;
  // only the pixels inside the client are kept, the others still count.
  auto segment = [&](int x0, int y0, int x1, int y1) {
    const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    if (steps == 0) return;
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dy = y1 - y0;
    auto clip = [&](double p, double q) {
      if (p == 0) return q >= 0;
      const double r = q / p;
      if (p < 0) t0 = std::max(t0, r);
      else t1 = std::min(t1, r);
      return true;
    };
    const bool inside = clip(-dx, x0 - (visible.left() - 1)) && clip(dx, visible.right() + 1 - x0) &&
                        clip(-dy, y0 - (visible.top() - 1)) && clip(dy, visible.bottom() + 1 - y0);
    if (inside && t0 <= t1) {
      const int i0 = std::max(0, static_cast<int>(std::floor(t0 * steps))),
                i1 = std::min(steps - 1, static_cast<int>(std::ceil(t1 * steps)));
      for (int i = i0; i <= i1; ++i) {
        const int x = x0 + static_cast<int>(std::lround(dx * i / steps));
        const int y = y0 + static_cast<int>(std::lround(dy * i / steps));
        if (!visible.contains(x, y)) continue;
        (((Record.DashCounter + i) % 6) < 3 ? first : second).append(QPoint(x, y));
      }
    }
    Record.DashCounter = (Record.DashCounter + steps) % 6;
  };
  int start = 0;
  auto polygonEnd = [&](int end, bool close) {
    // Points start .. end - 1 form one polygon.
    for (int i = start; i + 1 < end; ++i) {
      int ax, ay, bx, by;
      MapSelectionPoint(Record[i], ax, ay, false);
      MapSelectionPoint(Record[i + 1], bx, by, false);
      segment(ax, ay, bx, by);
    }
    if (close && end - start > 1) {
      int ax, ay, bx, by;
      MapSelectionPoint(Record[end - 1], ax, ay, false);
      MapSelectionPoint(Record[start], bx, by, false);
      segment(ax, ay, bx, by);
    }
  };
  for (int i = 0; i < count; ++i)
    if (Record.IsSeparator(i)) {
      polygonEnd(i, true);
      start = i + 1;
    }
  polygonEnd(count, !FPolyEntry);
  P.setCompositionMode(QPainter::CompositionMode_SourceOver);
  P.setPen(QPen(QColor::fromRgb(platform::ColorToQRgb(Record.Color1)), 0));
  P.drawPoints(first);
  P.setPen(QPen(QColor::fromRgb(platform::ColorToQRgb(Record.Color2)), 0));
  P.drawPoints(second);
}

void TRastrumView::DrawGrips(QPainter& P, const TRvSelectionRecord& Record) {
  platform::TCanvas canvas(&P);
  canvas.Pen.Color = FGripPen;
  canvas.Pen.Mode = platform::pmCopy;
  canvas.Brush.Color = FGripBrush;
  canvas.Brush.Style = FGripBrushStyle;
  const int h = FGripSize;
  int xs[4], ys[4];
  for (int i = 0; i < 4; ++i) MapSelectionPoint(Record[i], xs[i], ys[i], true);
  for (int i = 0; i < 4; ++i) canvas.Rectangle(xs[i] - h, ys[i] - h, xs[i] + h, ys[i] + h);
  if (!FExtendedGrips) return;
  const int left = std::min({xs[0], xs[1], xs[2], xs[3]}), right = std::max({xs[0], xs[1], xs[2], xs[3]});
  const int top = std::min({ys[0], ys[1], ys[2], ys[3]}), bottom = std::max({ys[0], ys[1], ys[2], ys[3]});
  const int mx = (left + right) / 2, my = (top + bottom) / 2;
  canvas.Rectangle(left - h, my - h, left + h, my + h);
  canvas.Rectangle(right - h, my - h, right + h, my + h);
  canvas.Rectangle(mx - h, top - h, mx + h, top + h);
  canvas.Rectangle(mx - h, bottom - h, mx + h, bottom + h);
}

void TRastrumView::DrawOverlays(QPainter& P) {
  if (!HasParentWindow()) return;
  P.setClipRect(QRect(0, 0, ExtentX(), ExtentY()), Qt::IntersectClip);
  TRvSelectionRecord& record = *FSel;
  if (record.Visible) {
    if (!FSelMask.IsEmpty() && !Dragging() && !FPolyEntry) {
      if (!(FSkipMaskOutlineWhileFast && FFastCount > 0)) {
        platform::TCanvas canvas(&P);
        FSelMask.DrawOutline(canvas, FOffX, FOffY, FMaskColor1, FMaskColor2, FAnimCounter, FDestW,
                             FDestH, FSrcW, FSrcH, FSrcX, FSrcY);
      }
    } else {
      DrawPolygonOutline(P, record);
    }
    if (record.Sizeable && record.IsRectangle() && !FRubberBand) DrawGrips(P, record);
  }
  if (FPolyEntry && !FLasso && record.Count() > 0) {
    // The rubber band from the last point to the mouse, inverting what it covers.
    int x, y;
    MapSelectionPoint(record[record.Count() - 1], x, y, false);
    P.setCompositionMode(QPainter::RasterOp_NotDestination);
    P.setPen(QPen(Qt::black, 0));
    P.drawLine(x, y, FPrevPos.x(), FPrevPos.y());
  }
}

// ------------------------------------------------------------ timer

void TRastrumView::UpdateSelectionTimer() {
  if (!FSelTimer) return;
  const bool needed = FDelayCount > 0 || FFastCount > 0 || (FSel->Visible && FSel->Animated);
  if (needed && !FSelTimer->isActive()) FSelTimer->start();
  if (!needed && FSelTimer->isActive()) FSelTimer->stop();
}

bool TRastrumView::SelectionTimerActive() const { return FSelTimer && FSelTimer->isActive(); }

void TRastrumView::SelectionTimerTick() {
  TRvSelectionRecord& record = *FSel;
  if (record.Visible) {
    if (record.Animated && !Dragging() && !FPolyEntry) {
      record.Phase = (record.Phase + 1) % 6;
      ++FAnimCounter;
    }
    if (UpdateLockCount() == 0) SchedulePaint();
  }
  UpdateSelectionTimer();
  if (FFastCount > 0 && --FFastCount == 0 && record.Visible) SchedulePaint();
  if (FDelayCount > 0 && --FDelayCount == 0) Update();
}

} // namespace rv
