#include "controls/kel/kelgraph.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelutils.h"
#include "image/model/rvhelpers.h"

namespace kel {

using namespace platform;

int KelRound(double value) { return static_cast<int>(std::nearbyint(value)); }
int KelRoundExtended(long double value) { return static_cast<int>(std::nearbyintl(value)); }
int KelMulDiv(int number, int numerator, int denominator) { return rv::RvMulDiv(number, numerator, denominator); }

namespace {

QColor Q(TColor c) { return QColor::fromRgb(ColorToQRgb(c)); }

} // namespace

// ---------------------------------------------------------------- frames

bool KelDrawFrame(TCanvas& canvas, TRect& r, TKelBorderStyle style, unsigned extra) {
  switch (style) {
    case lsNone: break;
    case lsSingle:
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_LEFT | BF_TOP | BF_SOFT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_RAISEDOUTER, BF_RIGHT | BF_BOTTOM);
      break;
    case lsLowered: DrawEdge(canvas, r, EDGE_SUNKEN, BF_RECT | BF_SOFT | BF_ADJUST | extra); break;
    case lsRaised: DrawEdge(canvas, r, EDGE_RAISED, BF_RECT | BF_SOFT | BF_ADJUST | extra); break;
    case lsRaisedspb:
    case lsRaisedExt:
      DrawEdge(canvas, r, BDR_RAISEDOUTER, BF_RECT | BF_SOFT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RIGHT | BF_BOTTOM | BF_ADJUST);
      if (style == lsRaisedExt) {
        ++r.Top;
        ++r.Left;
      }
      break;
    case lsLoweredspb:
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_SUNKENINNER, BF_LEFT | BF_TOP | BF_ADJUST | extra);
      break;
    case lsLoweredExt:
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_SUNKENINNER, BF_LEFT | BF_TOP | BF_ADJUST);
      --r.Right;
      --r.Bottom;
      break;
    case lsFrameInset: DrawEdge(canvas, r, EDGE_ETCHED, BF_RECT | BF_ADJUST | extra); break;
    case lsFrameOffset:
      DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | extra);
      break;
    case lsWindowBorder:
      DrawEdge(canvas, r, BDR_RAISEDOUTER, BF_RIGHT | BF_BOTTOM | BF_ADJUST | extra);
      ++r.Top;
      ++r.Left;
      DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST | extra);
      break;
    case lsSingleRaised: DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST | extra); break;
    case lsSingleLowered: DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | extra); break;
    case lsDoubleRaised:
      DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST | extra);
      break;
    case lsDoubleLowered:
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | extra);
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | extra);
      break;
  }
  return true;
}

int KelFrameWidth(TKelBorderStyle style) {
  switch (style) {
    case lsNone: return 0;
    case lsSingle:
    case lsSingleRaised:
    case lsSingleLowered: return 1;
    default: return 2;
  }
}

bool KelDrawBevelFrame(TCanvas& canvas, TRect& r, TKelBevelStyle style, int w, TColor shadowColor,
                       TColor lightColor) {
  if (style == bvNone || style == bvShadow || w < 1) return false;
  TColor topLeft = platform::clBlack, bottomRight = platform::clBlack;
  if (style == bvRaised || style == bvFrameRaised) {
    topLeft = lightColor;
    bottomRight = shadowColor;
  } else if (style == bvLowered || style == bvFrameLowered) {
    topLeft = shadowColor;
    bottomRight = lightColor;
  }
  const TPen oldPen = canvas.Pen;
  const TBrush oldBrush = canvas.Brush;
  if (style == bvFrameLowered || style == bvFrameRaised) {
    const TRect outer = r;
    for (int i = 0; i < w; ++i) {
      canvas.Brush.Color = bottomRight;
      canvas.FrameRect(Rect(outer.Left + i + 1, outer.Top + i + 1, outer.Right, outer.Bottom));
      canvas.Brush.Color = topLeft;
      canvas.FrameRect(Rect(outer.Left, outer.Top, outer.Right - i - 1, outer.Bottom - i - 1));
    }
    r = Rect(r.Left + w + 1, r.Top + w + 1, r.Right - w - 1, r.Bottom - w - 1);
  } else if (w == 1) {
    const int right = r.Right - 1, bottom = r.Bottom - 1;
    canvas.Pen.Width = 1;
    canvas.Pen.Style = psSolid;
    canvas.Pen.Mode = pmCopy;
    canvas.Pen.Color = topLeft;
    const TPoint tl[] = {{r.Left, bottom}, {r.Left, r.Top}, {right, r.Top}};
    canvas.Polyline(tl, 3);
    canvas.Pen.Color = bottomRight;
    const TPoint br[] = {{right, r.Top}, {right, bottom}, {r.Left - 1, bottom}};
    canvas.Polyline(br, 3);
    r = Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
  } else {
    canvas.Pen.Style = psClear;
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Pattern = QImage();
    const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
    canvas.Brush.Color = topLeft;
    const TPoint a[] = {{L, T}, {R, T}, {R - w, T + w}, {L + w, T + w}, {L + w, B - w}, {L, B}};
    canvas.Polygon(a, 6);
    canvas.Brush.Color = bottomRight;
    const TPoint b[] = {{R, T}, {R, B}, {L, B}, {L + w, B - w}, {R - w, B - w}, {R - w, T + w}};
    canvas.Polygon(b, 6);
    r = Rect(L + w, T + w, R - w, B - w);
  }
  canvas.Pen = oldPen;
  canvas.Brush = oldBrush;
  return true;
}

bool KelDrawShadowFrame(TCanvas& canvas, TRect& r, TColor ringColor, bool transparent, int rings, int depth,
                        TColor cornerColor, TColor shadowColor) {
  const TBrush oldBrush = canvas.Brush;
  canvas.Brush = TBrush{shadowColor, bsSolid, {}};
  if (depth > 0) {
    canvas.FillRect(Rect(r.Right - depth, r.Top + depth, r.Right, r.Bottom));
    canvas.FillRect(Rect(r.Left + depth, r.Bottom - depth, r.Right, r.Bottom));
    if (!transparent) {
      canvas.Brush.Color = cornerColor;
      canvas.FillRect(Rect(r.Right - depth, r.Top, r.Right, r.Top + depth));
      canvas.FillRect(Rect(r.Left, r.Bottom - depth, r.Left + depth, r.Bottom));
    }
    r.Right -= depth;
    r.Bottom -= depth;
  }
  canvas.Brush.Color = ringColor;
  for (int i = 0; i < rings; ++i) {
    canvas.FrameRect(r);
    r = Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
  }
  canvas.Brush = oldBrush;
  return true;
}

void KelDrawArrow(TCanvas& canvas, int x, int y, bool enabled, bool pointDown, TColor color, int size) {
  if (size < 2 || size > 15) return;
  const TPen oldPen = canvas.Pen;
  canvas.Pen.Width = 1;
  canvas.Pen.Style = psSolid;
  canvas.Pen.Mode = pmCopy;
  const auto draw = [&](int ax, int ay, TColor c) {
    canvas.Pen.Color = c;
    if (pointDown) {
      for (int i = 0; i <= size - 2; ++i) {
        canvas.MoveTo(ax + i, ay + i);
        canvas.LineTo(ax + 2 * size - i - 1, ay + i);
      }
      canvas.MoveTo(ax + size - 1, ay + size - 1);
      canvas.LineTo(ax + size, ay + size - 1);
    } else {
      const int h = size / 2;
      for (int i = 0; i <= size - 1; ++i) {
        canvas.MoveTo(ax + h - i, ay + i);
        canvas.LineTo(ax + h + i + 1, ay + i);
      }
    }
  };
  if (!enabled) {
    draw(x + 1, y + 1, platform::clHighlightText);
    draw(x, y, platform::clGrayText);
  } else {
    draw(x, y, color);
  }
  canvas.Pen = oldPen;
}

void KelFillSolidBitmap(TBitmap& bitmap, const TRect& rect, TColor color) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  bitmap.SetSize(rect.Width(), rect.Height());
  bitmap.Image().fill(QColor::fromRgb(ColorToQRgb(color)));
  if (bitmap.PixelFormat() == pf1bit || bitmap.PixelFormat() == pf4bit || bitmap.PixelFormat() == pf8bit) {
    bitmap.Canvas().Brush = TBrush{color, bsSolid, {}};
    bitmap.Canvas().FillRect(Rect(0, 0, rect.Width(), rect.Height()));
  }
}

// ---------------------------------------------------------------- disabled glyphs

void KelMakeDisabledGlyph(TBitmap& dest, const TBitmap& source) {
  dest.Assign(source);
  if (dest.Empty()) return;
  QImage image = dest.ToImage().convertToFormat(QImage::Format_RGB32);
  const QRgb transparent = image.pixel(0, 0) | 0xFF000000u;
  std::int64_t sum = 0, count = 0;
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] | 0xFF000000u) != transparent) {
        sum += qRed(row[x]) + qGreen(row[x]) + qBlue(row[x]);
        ++count;
      }
  }
  if (count == 0) return;
  const int t = -KelRound(200.0 - double(sum) / double(count));
  const QRgb white = qRgb(255, 255, 255), highlight = ColorToQRgb(clBtnHighlight) | 0xFF000000u,
             shadow = ColorToQRgb(clBtnShadow) | 0xFF000000u, black = qRgb(0, 0, 0);
  for (int y = 0; y < image.height(); ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((row[x] | 0xFF000000u) == transparent) continue;
      const int b = qRed(row[x]) + qGreen(row[x]) + qBlue(row[x]);
      row[x] = b > t + 550 ? white : b > t + 250 ? highlight : b > t + 50 ? shadow : black;
    }
  }
  dest.SetImage(image);
}

void KelMakeMonoMask(TBitmap& mask, const TBitmap& source, const TRect& sourceRect, TColor color) {
  mask.SetPixelFormat(pf1bit);
  mask.SetMonochrome(true);
  mask.SetSize(sourceRect.Width(), sourceRect.Height());
  if (mask.Empty()) return;
  const QImage colour = source.ToImage().copy(sourceRect.ToQRect()).convertToFormat(QImage::Format_RGB32);
  const QRgb key = ColorToQRgb(color) | 0xFF000000u;
  QImage& bits = mask.Image();
  for (int y = 0; y < colour.height(); ++y) {
    const QRgb* s = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
    uchar* d = bits.scanLine(y);
    std::fill(d, d + bits.bytesPerLine(), 0);
    for (int x = 0; x < colour.width(); ++x)
      if ((s[x] | 0xFF000000u) == key) d[x >> 3] |= static_cast<uchar>(0x80u >> (x & 7));
  }
}

void KelDrawDisabledEmbossed(TBitmap& dest, const TBitmap& source, int x, int y) {
  if (source.Empty()) return;
  TBitmap mono;
  // Black pixels of the glyph become the mask's white.
  KelMakeMonoMask(mono, source, Rect(0, 0, source.Width(), source.Height()), clBlack);
  if (dest.Empty()) {
    dest.SetPixelFormat(pf24bit);
    dest.SetSize(source.Width(), source.Height());
  }
  TCanvas& c = dest.Canvas();
  const TBrush oldBrush = c.Brush;
  c.Brush = TBrush{KelBitmapTransparentColor(source), bsSolid, {}};
  c.FillRect(Rect(0, 0, dest.Width(), dest.Height()));
  c.TextColor = clBlack;
  c.BackColor = clWhite;
  c.Brush.Color = clBtnHighlight;
  BitBlt(c, x + 1, y + 1, source.Width(), source.Height(), mono.Canvas(), 0, 0, DSPDxax);
  c.Brush.Color = clBtnShadow;
  BitBlt(c, x, y, source.Width(), source.Height(), mono.Canvas(), 0, 0, DSPDxax);
  c.Brush = oldBrush;
}

void KelMaskTransparentColor(TBitmap& image, TBitmap& mask, const TBitmap& source, TColor color) {
  const TRect all = Rect(0, 0, source.Width(), source.Height());
  KelMakeMonoMask(mask, source, all, color);
  image.Assign(source);
  if (image.Empty()) return;
  // Pixels of the transparent colour turn black, so OR leaves what is under them.
  image.Canvas().TextColor = clBlack;
  image.Canvas().BackColor = clWhite;
  image.Canvas().Paint([&](QPainter& p) {
    QImage inverse = mask.Image().copy();
    inverse.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    p.drawImage(0, 0, inverse.convertToFormat(QImage::Format_RGB32));
  });
}

// ---------------------------------------------------------------- colours

TColor KelBlendColor(TColor color0, TColor color1, int index, int count) {
  const std::uint32_t a = ColorToRGB(color0), b = ColorToRGB(color1);
  // No steps at all: the ramp is its start colour rather than a division by zero.
  if (count == 0) return static_cast<TColor>(a);
  const auto channel = [&](int c0, int c1) {
    return std::clamp(KelRound(c0 + double(c1 - c0) * index / count), 0, 255);
  };
  return static_cast<TColor>(RGB(std::uint8_t(channel(GetRValue(a), GetRValue(b))),
                                 std::uint8_t(channel(GetGValue(a), GetGValue(b))),
                                 std::uint8_t(channel(GetBValue(a), GetBValue(b)))));
}

void KelMakeColorSteps(TColor start, TColor end, int count, bool clearFirst, TKelColorTable* list) {
  const auto steps = static_cast<std::uint8_t>(count);
  if (list == nullptr || steps == 0) return;
  const std::uint32_t s = ColorToRGB(start), e = ColorToRGB(end);
  if (clearFirst) list->clear();
  for (int i = clearFirst ? 0 : 1; i < steps; ++i) {
    // A one-colour ramp is its start colour (the step division would be by 0).
    const auto channel = [&](int c0, int c1) {
      return std::uint8_t(steps == 1 ? c0 : c0 + KelMulDiv(i, c1 - c0, steps - 1));
    };
    list->push_back(RGB(channel(GetRValue(s), GetRValue(e)), channel(GetGValue(s), GetGValue(e)),
                        channel(GetBValue(s), GetBValue(e))));
  }
}

std::unique_ptr<TKelPalette> KelCreateColorPalette(const TKelColorTable* list) {
  if (list == nullptr || list->empty()) return nullptr;
  auto palette = std::make_unique<TKelPalette>();
  for (std::uint32_t c : *list) palette->push_back({GetRValue(c), GetGValue(c), GetBValue(c), 0x04});
  return palette;
}

TRect KelOffsetRect(const TRect& r, std::uint32_t clipOffset) {
  const int dx = static_cast<std::int16_t>(clipOffset & 0xFFFF);
  const int dy = static_cast<std::int16_t>(clipOffset >> 16);
  return Rect(r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy);
}

void KelGradientFill(TCanvas& canvas, const TRect& rect, TKelGradientStyle style, std::uint32_t clipOffset,
                     unsigned flags, const TKelPalette*, const TKelColorTable* colors) {
  if (colors == nullptr || colors->empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  const int W = rect.Width(), H = rect.Height();
  const int n = static_cast<int>(colors->size());
  // One off-screen bitmap serves every call (all on the user-interface
  // thread); it only grows, so repeated fills allocate nothing.
  static TBitmap scratch;
  TCanvas* target = &canvas;
  int L = rect.Left, T = rect.Top;
  const bool offscreen = flags & kgfOffscreen;
  if (offscreen) {
    if (scratch.Width() < W || scratch.Height() < H) {
      scratch.SetPixelFormat(pf32bit);
      scratch.SetSize(std::max(W, scratch.Width()), std::max(H, scratch.Height()));
    }
    target = &scratch.Canvas();
    target->RemoveClip();
    // What the styles leave uncovered is black, as on a new bitmap.
    target->Brush = TBrush{clBlack, bsSolid, {}};
    target->FillRect(Rect(0, 0, W, H));
    L = 0;
    T = 0;
  }
  TKelClipScope clip(canvas);
  if (!(flags & kgfOffscreen) && (flags & kgfClip))
    clip.Intersect(QRegion((clipOffset ? KelOffsetRect(rect, clipOffset) : rect).ToQRect()));
  TCanvas& c = *target;
  const int R = L + W, B = T + H;
  const int cx = L + W / 2, cy = T + H / 2;
  const auto dx = [&](int i) { return KelMulDiv(i + 1, W, n); };
  const auto dy = [&](int i) { return KelMulDiv(i + 1, H, n); };
  // All bands in one pass, with the pixel rules of pen-less shapes: a box
  // leaves out one more pixel right and bottom.
  c.Paint([&](QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    const auto box = [&](int x1, int y1, int x2, int y2) {
      return QRect(std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) - 1, std::abs(y2 - y1) - 1);
    };
    const auto rectangle = [&](int x1, int y1, int x2, int y2, const QColor& color) {
      const QRect r = box(x1, y1, x2, y2);
      if (r.width() > 0 && r.height() > 0) p.fillRect(r, color);
    };
    for (int k = 0; k < n; ++k) {
      // The horizontal ramp paints first colour first; the others paint from
      // the last colour inward so that the first ends up at the origin.
      const int i = style == gstHorizontal ? k : n - 1 - k;
      const QColor color = Q(static_cast<TColor>((*colors)[std::size_t(i)]));
      switch (style) {
        case gstHorizontal: rectangle(L + KelMulDiv(i, W, n), T, L + KelMulDiv(i + 1, W, n) + 1, B + 1, color); break;
        case gstVertical: rectangle(L, T + KelMulDiv(i, H, n), R + 1, T + KelMulDiv(i + 1, H, n) + 1, color); break;
        case gstSquare:
          rectangle(cx - dx(i) / 2, cy - dy(i) / 2, cx + dx(i) / 2 + 2, cy + dy(i) / 2 + 2, color);
          break;
        case gstElliptic: {
          const int rx = KelRound(dx(i) / 1.4), ry = KelRound(dy(i) / 1.4);
          if (rx < 1 || ry < 1) break;
          p.setBrush(color);
          p.drawEllipse(QRectF(cx - rx, cy - ry, 2 * rx - 1, 2 * ry - 1));
          break;
        }
        case gstTopLeft: rectangle(L, T, L + dx(i) + 1, T + dy(i) + 1, color); break;
        case gstTopRight: rectangle(R - dx(i), T, R + 1, T + dy(i) + 1, color); break;
        case gstBottomLeft: rectangle(L, B - dy(i), L + dx(i) + 1, B + 1, color); break;
        case gstBottomRight: rectangle(R - dx(i), B - dy(i), R + 1, B + 1, color); break;
        case gstTopLeftDiagonal:
          p.setBrush(color);
          p.drawPolygon(QPolygon({QPoint(L, T), QPoint(L + 2 * dx(i), T), QPoint(L, T + 1 + 2 * dy(i)),
                                  QPoint(L - 2 * dx(i), T + 1 + 2 * dy(i))}));
          break;
        case gstTopRightDiagonal:
          p.setBrush(color);
          p.drawPolygon(QPolygon({QPoint(R + 1, T), QPoint(R + 1 - 2 * dx(i), T), QPoint(R + 1, T + 2 * dy(i)),
                                  QPoint(R + 1 + 2 * dx(i), T + 2 * dy(i))}));
          break;
        default: break;
      }
    }
  });
  if (offscreen) {
    if (flags & kgfClip) clip.Intersect(QRegion((clipOffset ? KelOffsetRect(rect, clipOffset) : rect).ToQRect()));
    BitBlt(canvas, rect.Left, rect.Top, W, H, scratch.Canvas(), 0, 0, SRCCOPY);
  }
}

TRect KelAlignRect(TKelAlignment alignment, const TRect& container, const TRect& item) {
  const int w = item.Width(), h = item.Height();
  const int row = alignment / 3, column = alignment % 3;
  const int dy = row == 0 ? 0 : row == 1 ? (container.Height() - h) / 2 : container.Height() - h;
  const int dx = column == 0 ? 0 : column == 1 ? (container.Width() - w) / 2 : container.Width() - w;
  return Bounds(container.Left + dx, container.Top + dy, w, h);
}

// ---------------------------------------------------------------- bitmaps

std::vector<TRect> KelStyledTargets(const TRect& rect, int w, int h, unsigned flags) {
  std::vector<TRect> targets;
  if (w <= 0 || h <= 0) return targets;
  const int W = rect.Width(), H = rect.Height();
  if (flags & kbfCenter) {
    targets.push_back(Bounds(rect.Left + (W - w) / 2, rect.Top + (H - h) / 2, w, h));
  } else if (flags & kbfStretch) {
    if ((flags & kbfKeepAspect) == kbfKeepAspect) {
      const double scale = std::min(double(W) / w, double(H) / h);
      targets.push_back(Bounds(rect.Left, rect.Top, KelRound(w * scale), KelRound(h * scale)));
    } else if (flags & kbfKeepWidth) {
      targets.push_back(Bounds(rect.Left, rect.Top, W, KelRound(double(h) * W / w)));
    } else if (flags & kbfKeepHeight) {
      targets.push_back(Bounds(rect.Left, rect.Top, KelRound(double(w) * H / h), H));
    } else {
      targets.push_back(rect);
    }
  } else if (flags & kbfTile) {
    for (int row = 0; row <= H / h; ++row)
      for (int column = 0; column <= W / w; ++column)
        targets.push_back(Bounds(rect.Left + column * w, rect.Top + row * h, w, h));
  } else {
    targets.push_back(Bounds(rect.Left, rect.Top, w, h));
  }
  return targets;
}

unsigned KelBitmapStyleFlags(TKelBitmapStyle style) {
  switch (style) {
    case sbCenter: return kbfCenter;
    case sbStretch: return kbfStretch;
    case sbTile: return kbfTile;
    case sbKeepAspRatio: return kbfStretch | kbfKeepAspect;
    case sbKeepWidth: return kbfStretch | kbfKeepWidth;
    case sbKeepHeight: return kbfStretch | kbfKeepHeight;
    default: return 0;
  }
}

void KelDrawBitmapStyled(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, const TBitmap* mask,
                         TColor transparentColor, unsigned flags, const TRect& source) {
  if (rect.Width() <= 0 || rect.Height() <= 0 || bitmap.Empty()) return;
  const int w = source.Width(), h = source.Height();
  if (w <= 0 || h <= 0) return;
  const std::vector<TRect> targets = KelStyledTargets(rect, w, h, flags);
  TKelClipScope clip(canvas);
  if (flags & (kbfClip | kbfTile)) clip.Intersect(QRegion(rect.ToQRect()));
  TBitmap& src = const_cast<TBitmap&>(bitmap);
  const TColor key = transparentColor < 0 ? transparentColor : (transparentColor & 0xFFFFFF);
  for (const TRect& t : targets) {
    if (t.Width() <= 0 || t.Height() <= 0) continue;
    if (flags & kbfOwnTransparent) {
      const TBrush oldBrush = canvas.Brush;
      canvas.Brush = TBrush{key, bsSolid, {}};
      canvas.BrushCopy(t, bitmap, source, KelBitmapTransparentColor(bitmap));
      canvas.Brush = oldBrush;
    } else if ((flags & kbfMask) && mask != nullptr) {
      const TColor text = canvas.TextColor, back = canvas.BackColor;
      canvas.TextColor = clBlack;
      canvas.BackColor = clWhite;
      StretchBlt(canvas, t.Left, t.Top, t.Width(), t.Height(), const_cast<TBitmap*>(mask)->Canvas(), source.Left,
                 source.Top, w, h, SRCAND);
      StretchBlt(canvas, t.Left, t.Top, t.Width(), t.Height(), src.Canvas(), source.Left, source.Top, w, h,
                 SRCPAINT);
      canvas.TextColor = text;
      canvas.BackColor = back;
    } else if (flags & kbfTransparentColor) {
      // The same pixels as masking the colour out and OR-ing the rest in.
      TransparentBlt(canvas, t.Left, t.Top, t.Width(), t.Height(), src.Canvas(), source.Left, source.Top, w, h, key);
    } else {
      StretchBlt(canvas, t.Left, t.Top, t.Width(), t.Height(), src.Canvas(), source.Left, source.Top, w, h, SRCCOPY);
    }
  }
}

void KelDrawBitmap(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, TColor transparentColor,
                   std::uint32_t clipOffset, unsigned flags) {
  if (bitmap.Empty()) return;
  TKelClipScope clip(canvas);
  if (flags & kbfClip) clip.Intersect(QRegion((clipOffset ? KelOffsetRect(rect, clipOffset) : rect).ToQRect()));
  KelDrawBitmapStyled(canvas, rect, bitmap, nullptr, transparentColor, flags & ~kbfClip,
                      Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void KelDrawBitmapRect(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, TColor transparentColor,
                       unsigned flags) {
  if (bitmap.Empty()) return;
  KelDrawBitmapStyled(canvas, rect, bitmap, nullptr, transparentColor, flags & ~kbfClip,
                      Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void KelDrawTransparentBitmap(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, TColor transparentColor,
                              TColor backColor, const TBitmap* background) {
  if (bitmap.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  QImage image = bitmap.ToImage().convertToFormat(QImage::Format_ARGB32);
  if (image.size() != QSize(rect.Width(), rect.Height()))
    image = image.scaled(rect.Width(), rect.Height(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
  const QImage keyImage = background != nullptr && !background->Empty()
                              ? background->ToImage().convertToFormat(QImage::Format_RGB32)
                              : image;
  const QRgb key = ColorToQRgb(transparentColor) & 0xFFFFFFu;
  const QRgb back = backColor == clNone ? 0 : (ColorToQRgb(backColor) | 0xFF000000u);
  for (int y = 0; y < image.height(); ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    const QRgb* k = y < keyImage.height() ? reinterpret_cast<const QRgb*>(keyImage.constScanLine(y)) : nullptr;
    for (int x = 0; x < image.width(); ++x) {
      const bool out = k == nullptr || x >= keyImage.width() || (k[x] & 0xFFFFFFu) == key;
      if (out) row[x] = back;
    }
  }
  canvas.Paint([&](QPainter& p) { p.drawImage(rect.Left, rect.Top, image); });
}

// ---------------------------------------------------------------- text

namespace {

// The text with its accelerator marks removed; index of the marked
// character or -1.
QString StripAccelerator(const QString& text, int& index) {
  QString out;
  out.reserve(text.size());
  index = -1;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
      ++i;
      if (text[i] != QLatin1Char('&') && index < 0) index = out.size();
    } else if (text[i] == QLatin1Char('&')) {
      continue;
    }
    out.append(text[i]);
  }
  return out;
}

int QtFlags(unsigned format) {
  int f = 0;
  if (format & DT_CENTER) f |= Qt::AlignHCenter;
  else if (format & DT_RIGHT) f |= Qt::AlignRight;
  else f |= Qt::AlignLeft;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) f |= Qt::AlignVCenter;
    else if (format & DT_BOTTOM) f |= Qt::AlignBottom;
    else f |= Qt::AlignTop;
    f |= Qt::TextSingleLine;
  } else {
    f |= Qt::AlignTop;
  }
  if (format & DT_WORDBREAK) f |= Qt::TextWordWrap;
  if (format & DT_EXPANDTABS) f |= Qt::TextExpandTabs;
  return f;
}

QFont CanvasFont(const TCanvas& canvas, int tracing) {
  QFont font = canvas.Font.ToQFont();
  if (tracing != 0) font.setLetterSpacing(QFont::AbsoluteSpacing, tracing);
  return font;
}

void DrawTextAt(TCanvas& canvas, const QString& text, int accel, const QRect& r, unsigned format, TColor color,
                const QFont& font) {
  canvas.Paint([&](QPainter& p) {
    p.setFont(font);
    p.setPen(Q(color));
    const int flags = QtFlags(format);
    QRect bounds;
    p.drawText(r, flags, text, &bounds);
    if (accel >= 0 && (format & DT_SINGLELINE)) {
      const QFontMetrics fm(font);
      const int x = bounds.left() + fm.horizontalAdvance(text.left(accel));
      const int w = fm.horizontalAdvance(text.mid(accel, 1));
      const int y = bounds.top() + fm.ascent() + fm.underlinePos();
      p.fillRect(QRect(x, y, std::max(1, w), std::max(1, fm.lineWidth())), Q(color));
    }
  });
}

int ExtraSize(const TKel3DCaption* style) {
  if (style == nullptr) return 0;
  const int ld = style->LightDepth(), sd = style->ShadowDepth();
  switch (style->Style()) {
    case tdSunken:
    case tdRaised: return ld;
    case tdSunkenShadow:
    case tdRaisedShadow:
    case tdPColorSunken:
    case tdPColorRaised: return ld + sd;
    case tdShadow:
    case tdOutline:
    case tdExtrude:
    case tdExtrudeEnh: return sd;
    default: return 0;
  }
}

} // namespace

void KelDrawText(TCanvas& canvas, const std::string& text, TRect& rect, unsigned format, TColor color) {
  int accel = -1;
  const QString raw = QString::fromStdString(text);
  const QString shown = (format & DT_NOPREFIX) ? raw : StripAccelerator(raw, accel);
  const QFont font = canvas.Font.ToQFont();
  if (format & DT_CALCRECT) {
    const QFontMetrics fm(font);
    const int width = (format & DT_WORDBREAK) && rect.Width() > 0 ? rect.Width() : 1 << 20;
    const QRect r = fm.boundingRect(QRect(0, 0, width, 1 << 20), QtFlags(format) & ~(Qt::AlignHCenter | Qt::AlignRight),
                                    shown.isEmpty() ? QStringLiteral(" ") : shown);
    rect.Right = rect.Left + r.width();
    rect.Bottom = rect.Top + r.height();
    return;
  }
  DrawTextAt(canvas, shown, accel, rect.ToQRect(), format, color, font);
}

void KelDrawFxText(TCanvas& canvas, const std::string& text, TKel3DCaption* style, unsigned flags, unsigned format,
                   const TRect& rect) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  if (style == nullptr) {
    TRect r = rect;
    KelDrawText(canvas, text, r, format & ~DT_CALCRECT, canvas.Font.Color);
    return;
  }
  auto* fx = dynamic_cast<TKelFxCaption*>(style);
  const bool rotated = fx != nullptr && fx->Angle() != 0;
  TKelClipScope clip(canvas);
  if (flags & kfxClip) clip.Intersect(QRegion(rect.ToQRect()));

  TKelThreeDStyle effect = style->Style();
  TColor textColor;
  if (!(flags & kfxEnabled) && style->DisabledStyle() != dsNone) {
    textColor = clGrayText;
    if (style->DisabledStyle() == ds3d || (style->DisabledStyle() == dsAuto && (flags & kfxAutoSunken)))
      effect = tdSunken;
  } else {
    textColor = effect == tdPColorSunken || effect == tdPColorRaised ? canvas.Brush.Color : canvas.Font.Color;
  }
  const int ld = style->LightDepth(), sd = style->ShadowDepth();
  TRect r = rect;
  if (fx != nullptr) {
    r.Left += fx->PosX();
    r.Top += fx->PosY();
  }
  int accel = -1;
  const QString raw = QString::fromStdString(text);
  const QString shown = (format & DT_NOPREFIX) ? raw : StripAccelerator(raw, accel);
  const QFont font = CanvasFont(canvas, style->Tracing());
  const int angle = rotated ? fx->Angle() : 0;

  struct TCopy {
    int Dx, Dy;
    TColor Color;
  };
  std::vector<TCopy> copies;
  int reduce = 0;
  switch (effect) {
    case tdSunken:
      reduce = ld;
      copies = {{ld, ld, style->LightColor()}, {-ld, -ld, textColor}};
      break;
    case tdRaised:
      reduce = ld;
      copies = {{0, 0, style->LightColor()}, {ld, ld, textColor}};
      break;
    case tdSunkenShadow:
    case tdPColorSunken:
      reduce = ld + sd;
      copies = {{0, 0, style->ShadowColor()}, {ld + sd, ld + sd, style->LightColor()}, {-ld, -ld, textColor}};
      break;
    case tdRaisedShadow:
    case tdPColorRaised:
      reduce = ld + sd;
      copies = {{ld + sd, ld + sd, style->ShadowColor()},
                {-(ld + sd), -(ld + sd), style->LightColor()},
                {ld, ld, textColor}};
      break;
    case tdShadow:
      reduce = sd;
      copies = {{sd, sd, style->ShadowColor()}, {-sd, -sd, textColor}};
      break;
    case tdExtrude:
    case tdExtrudeEnh: {
      int sx = 1, sy = 1, x0 = 0, y0 = 0;
      switch (style->Orientation()) {
        case toBottomLeft: y0 = sd + 1; sy = -1; break;
        case toBottomRight: x0 = y0 = sd + 1; sx = sy = -1; break;
        case toTopRight: x0 = sd + 1; sx = -1; break;
        default: break;
      }
      copies.push_back({x0, y0, effect == tdExtrude ? style->ShadowColor()
                                                    : KelBlendColor(style->ShadowColor(), style->LightColor(), sd - 1, sd)});
      for (int k = sd - 1; k >= 1; --k)
        copies.push_back({sx, sy, effect == tdExtrude ? style->ShadowColor()
                                                      : KelBlendColor(style->ShadowColor(), style->LightColor(), k - 1, sd)});
      copies.push_back({sd > 0 ? sx : 0, sd > 0 ? sy : 0, textColor});
      if (sd == 0) copies.erase(copies.begin());
      break;
    }
    default: copies = {{0, 0, textColor}}; break;
  }
  r.Right -= reduce;

  if (effect == tdOutline) {
    const int h = sd / 2;
    canvas.Paint([&](QPainter& p) {
      const QFontMetrics fm(font);
      QPainterPath path;
      const QRect box(r.Left + h, r.Top + h, r.Width(), r.Height());
      const QRect b = fm.boundingRect(box, QtFlags(format), shown);
      path.addText(QPointF(b.left(), b.top() + fm.ascent()), font, shown);
      if (angle != 0) {
        p.translate(r.Left, r.Top);
        p.rotate(-angle);
        p.translate(-r.Left, -r.Top);
      }
      p.setRenderHint(QPainter::Antialiasing, false);
      p.strokePath(path, QPen(Q(textColor), std::max(1, sd)));
    });
    return;
  }
  int x = 0, y = 0;
  for (const TCopy& copy : copies) {
    x += copy.Dx;
    y += copy.Dy;
    if (angle == 0) {
      DrawTextAt(canvas, shown, accel, QRect(r.Left + x, r.Top + y, r.Width(), r.Height()), format, copy.Color, font);
    } else {
      canvas.Paint([&](QPainter& p) {
        p.setFont(font);
        p.setPen(Q(copy.Color));
        p.translate(r.Left + x, r.Top + y);
        p.rotate(-angle);
        p.drawText(QPoint(0, QFontMetrics(font).ascent()), shown);
      });
    }
  }
}

void KelCalcTextRect(TCanvas& canvas, TKel3DCaption* style, const std::string& text, int margin, bool multiLine,
                     bool prefix, TRect& rect) {
  auto* fx = dynamic_cast<TKelFxCaption*>(style);
  const int extra = ExtraSize(style);
  if (fx != nullptr && fx->Angle() != 0) {
    int accel = -1;
    const QString raw = QString::fromStdString(text);
    const QString shown = prefix ? StripAccelerator(raw, accel) : raw;
    const QFontMetrics fm(CanvasFont(canvas, style->Tracing()));
    const int w = fm.horizontalAdvance(shown), h = fm.height();
    TRect bounds = Rect(0, 0, w + extra, h + extra);
    KelRotatedBounds(bounds, fx->Angle());
    const double a = fx->Angle() * M_PI / 180.0;
    const double cx = bounds.Left + bounds.Width() / 2.0, cy = bounds.Top + bounds.Height() / 2.0;
    int d = 0;
    const int ld = style->LightDepth(), sd = style->ShadowDepth();
    switch (style->Style()) {
      case tdSunken:
      case tdRaised: d = ld / 2 - 1; break;
      case tdSunkenShadow:
      case tdRaisedShadow:
      case tdPColorSunken:
      case tdPColorRaised: d = (ld + sd) / 2 - 1; break;
      case tdShadow:
      case tdExtrude:
      case tdExtrudeEnh: d = sd / 2 - 1; break;
      default: break;
    }
    d = std::max(d, 0);
    const int hw = w / 2, hh = h / 2;
    fx->SetPosition(KelRound(cx - hw * std::cos(a) - hh * std::sin(a)) - d,
                    KelRound(cy + hw * std::sin(a) - hh * std::cos(a)) - d);
    rect.Right = rect.Left + bounds.Width();
    rect.Bottom = rect.Top + bounds.Height();
  } else {
    if (fx != nullptr) fx->SetPosition(0, 0);
    unsigned format = DT_CALCRECT | DT_EXPANDTABS;
    if (multiLine) format |= DT_WORDBREAK;
    else format |= DT_SINGLELINE;
    if (!prefix) format |= DT_NOPREFIX;
    const std::string measured = text.empty() || (prefix && text == "&") ? std::string(" ") : text;
    const QFont font = CanvasFont(canvas, style != nullptr ? style->Tracing() : 0);
    const TFont saved = canvas.Font;
    TRect r = rect;
    {
      int accel = -1;
      const QString raw = QString::fromStdString(measured);
      const QString shown = prefix ? StripAccelerator(raw, accel) : raw;
      const QFontMetrics fm(font);
      const int width = multiLine && rect.Width() > 0 ? rect.Width() : 1 << 20;
      const QRect b = fm.boundingRect(QRect(0, 0, width, 1 << 20), QtFlags(format) & ~Qt::AlignHCenter,
                                      shown.isEmpty() ? QStringLiteral(" ") : shown);
      r.Right = r.Left + b.width();
      r.Bottom = r.Top + b.height();
    }
    rect.Right = r.Right + extra;
    rect.Bottom = r.Bottom + extra;
  }
  rect.Right += (margin + 1) * 2;
  rect.Bottom += (margin + 1) * 2;
}

bool KelIsTrueTypeFont(TCanvas&) {
  // Qt draws every font as outlines, so every font can be turned.
  return true;
}

// ---------------------------------------------------------------- glyph, caption and arrow

TKelLayoutRects KelCalcGlyphTextLayout(TCanvas& canvas, const std::string& text, const TBitmap* glyph,
                                       const TRect& glyphSource, const TBitmap* mask, TColor transparentColor,
                                       const TKelGlyphTextLayout& layout, const TRect& rect, unsigned flags,
                                       TKel3DCaption* captionStyle, bool multiLine, bool arrowFlag) {
  TKelLayoutRects out;
  const bool hasGlyph = glyph != nullptr && !glyph->Empty() && glyphSource.Width() > 0 && glyphSource.Height() > 0;
  const bool hasText = !text.empty();
  const int gap = hasGlyph == hasText ? layout.Spacing() : 0;
  int tw = 0, th = 0;
  if (hasText) {
    TRect t = Rect(0, 0, multiLine ? rect.Width() : 0, 0);
    KelCalcTextRect(canvas, captionStyle, text, 0, multiLine, true, t);
    tw = t.Width();
    th = t.Height();
  }
  int gw = hasGlyph ? glyphSource.Width() : 0, gh = hasGlyph ? glyphSource.Height() : 0;
  const auto* buttonLayout = dynamic_cast<const TKelButtonLayout*>(&layout);
  const bool arrow = buttonLayout != nullptr && buttonLayout->Arrow();
  const int s = arrow ? buttonLayout->ArrowSize() : 0;
  const int aw = 2 * s - 1;
  const int reserve = arrow ? aw + buttonLayout->ArrowIndent() : 0;
  const TKelArrowPosition position = arrow ? buttonLayout->ArrowPosition() : apRightText;
  int textBlockW = tw, glyphBlockW = gw;
  if (arrow && (position == apRightText || position == apLeftText)) textBlockW += reserve;
  if (arrow && (position == apRightGlyph || position == apLeftGlyph)) {
    glyphBlockW += reserve;
    gh = std::max(gh, s);
  }
  if (arrow && (position == apRightText || position == apLeftText)) th = std::max(th, s);

  // Positions relative to the block.
  int blockW = 0, blockH = 0, tx = 0, ty = 0, gx = 0, gy = 0;
  const TKelTextArrange arrange = layout.AlignText2Glyph();
  const bool sideBySide = arrange <= taRightTop;
  if (sideBySide) {
    blockW = textBlockW + gap + glyphBlockW;
    blockH = std::max(th, gh);
    ty = (blockH - th) / 2;
    gy = (blockH - gh) / 2;
    if (arrange == taLeft || arrange == taLeftTop) {
      tx = 0;
      gx = textBlockW + gap;
      if (arrange == taLeftTop) gy = 0;
    } else {
      gx = 0;
      tx = glyphBlockW + gap;
      if (arrange == taRightTop) gy = 1;
    }
  } else {
    blockW = std::max(textBlockW, glyphBlockW);
    blockH = th + gap + gh;
    tx = (blockW - textBlockW) / 2;
    gx = (blockW - glyphBlockW) / 2;
    if (arrange == taTop || arrange == taTopLeft) {
      ty = 0;
      gy = th + gap;
      if (arrange == taTopLeft) gx = 0;
    } else {
      gy = 0;
      ty = gh + gap;
      if (arrange == taBottomLeft) gx = 0;
    }
  }
  int ox = 0, oy = 0;
  if (!(flags & kglRelative)) {
    const TRect block = KelAlignRect(layout.Alignment(), rect, Rect(0, 0, blockW, blockH));
    ox = block.Left;
    oy = block.Top;
  }
  ox += layout.OffsetX();
  oy += layout.OffsetY();
  TRect caption = Bounds(ox + tx + 1, oy + ty + 1, textBlockW, th);
  if (arrow && position == apLeftText) caption = Bounds(caption.Left + buttonLayout->ArrowIndent() + aw, caption.Top, tw, th);
  const TRect glyphRect = Bounds(ox + gx, oy + gy, gw, hasGlyph ? glyphSource.Height() : 0);
  TRect glyphBlock = Bounds(ox + gx, oy + gy, glyphBlockW, gh);
  if (flags & kglKeepInside) {
    caption.Right = std::min(caption.Right, rect.Right);
    caption.Bottom = std::min(caption.Bottom, rect.Bottom);
  }
  out.Caption = hasText ? caption : TRect{};
  out.Glyph = hasGlyph ? glyphRect : TRect{};
  const auto unite = [](const TRect& a, const TRect& b) {
    if (a.Width() <= 0 || a.Height() <= 0) return b;
    if (b.Width() <= 0 || b.Height() <= 0) return a;
    return Rect(std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
                std::max(a.Bottom, b.Bottom));
  };
  out.Union = unite(out.Caption, out.Glyph);
  const auto grow = [](const TRect& r) { return Rect(r.Left - 1, r.Top - 1, r.Right + 1, r.Bottom + 1); };
  if (flags & (kglFocusUnion | kglMeasureOnly)) out.Focus = grow(out.Union);
  else if (flags & kglFocusCaption) out.Focus = grow(out.Caption);
  else out.Focus = Rect(rect.Left + 1, rect.Top + 1, rect.Right - 1, rect.Bottom - 1);
  if (flags & kglMeasureOnly) return out;

  const bool enabled = flags & kglEnabled;
  if (hasText) {
    TRect textRect = caption;
    if (arrow && position == apRightText) textRect.Right -= reserve;
    KelDrawFxText(canvas, text, captionStyle, enabled ? kfxEnabled : 0,
                  DT_CENTER | DT_VCENTER | (multiLine ? DT_WORDBREAK : DT_SINGLELINE), textRect);
  }
  if (hasGlyph) {
    if (mask != nullptr)
      KelDrawBitmapStyled(canvas, glyphRect, *glyph, mask, clNone, kbfMask, glyphSource);
    else
      KelDrawBitmapStyled(canvas, glyphRect, *glyph, nullptr, transparentColor, kbfTransparentColor, glyphSource);
  }
  if (arrow) {
    const TRect anchor = position == apRightText || position == apLeftText
                             ? (hasText ? caption : Bounds(ox + tx + 1, oy + ty + 1, textBlockW, th))
                             : glyphBlock;
    const int centreY = anchor.Top + anchor.Height() / 2 - s / 2;
    int x = 0;
    switch (position) {
      case apRightText: x = arrowFlag ? anchor.Right - (s + 1) : anchor.Right - aw - 1; break;
      case apLeftText: x = anchor.Left - (buttonLayout->ArrowIndent() + aw); break;
      case apRightGlyph: x = anchor.Right - aw; break;
      case apLeftGlyph: x = anchor.Left - (buttonLayout->ArrowIndent() + aw); break;
    }
    KelDrawArrow(canvas, x, centreY, enabled, true, buttonLayout->ArrowColor(), s);
  }
  return out;
}

} // namespace kel
