// The border and drop shadow of a region shape: one outline painter per
// shape family, and the eight border styles built from its three parts (the
// whole outline, its upper-left part, its lower-right part).
#include <memory>

#include "controls/kel/kelgraph.h"
#include "controls/kel/kelregion.h"

namespace kel {

using namespace platform;

namespace {

TRect Shrunk(const TRect& r, int k) { return Rect(r.Left + k, r.Top + k, r.Right - k, r.Bottom - k); }

void Path(TCanvas& c, std::initializer_list<TPoint> points) {
  const std::vector<TPoint> v(points);
  c.Polyline(v.data(), int(v.size()));
}

class TOutline {
public:
  virtual ~TOutline() = default;
  // Each part draws with the pen as it stands.
  virtual void Whole(TCanvas& c, const TRect& r) const = 0;
  virtual void UpperLeft(TCanvas& c, const TRect& r) const = 0;
  virtual void LowerRight(TCanvas& c, const TRect& r) const = 0;
  // What the second pass of the psb styles draws.
  virtual void InnerPass(TCanvas& c, const TRect& r) const { LowerRight(c, r); }
  virtual TRect SingleInner(const TRect& r) const { return Shrunk(r, 1); }
  virtual TRect PsbInner(const TRect& r) const { return Shrunk(r, 1); }
  // The raised look: upper-left part in first, lower-right part in second.
  virtual void Raised(TCanvas& c, const TRect& r, TColor first, TColor second) const {
    c.Pen.Color = first;
    UpperLeft(c, r);
    c.Pen.Color = second;
    LowerRight(c, r);
  }
};

class TRectOutline : public TOutline {
public:
  void Whole(TCanvas& c, const TRect& r) const override { c.Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  void UpperLeft(TCanvas& c, const TRect& r) const override {
    Path(c, {{r.Right, r.Top}, {r.Left, r.Top}, {r.Left, r.Bottom}});
  }
  void LowerRight(TCanvas& c, const TRect& r) const override {
    Path(c, {{r.Left, r.Bottom}, {r.Right, r.Bottom}, {r.Right, r.Top}});
  }
};

class TDiamondOutline : public TOutline {
public:
  void Whole(TCanvas& c, const TRect& r) const override {
    const std::vector<TPoint> p = TKelRegion::DiamondPoints(r);
    c.Polygon(p.data(), int(p.size()));
  }
  void UpperLeft(TCanvas& c, const TRect& r) const override {
    const int mx = r.Left + r.Width() / 2, my = r.Top + r.Height() / 2;
    Path(c, {{r.Right, my}, {mx, r.Top}, {r.Left, my}});
  }
  void LowerRight(TCanvas& c, const TRect& r) const override {
    const int mx = r.Left + r.Width() / 2, my = r.Top + r.Height() / 2;
    Path(c, {{r.Left, my}, {mx, r.Bottom}, {r.Right, my}});
  }
  void InnerPass(TCanvas& c, const TRect& r) const override {
    const int mx = r.Left + r.Width() / 2, my = r.Top + r.Height() / 2;
    Path(c, {{mx, r.Bottom}, {r.Right, my}, {mx, r.Top}});
  }
};

// Star, octagon and comb: edges along the numbered points of the outline.
class TPolygonOutline : public TOutline {
public:
  using TPoints = std::vector<TPoint> (*)(const TRect&);
  using TPaths = std::vector<std::vector<int>>;
  TPolygonOutline(TPoints points, TPaths light, TPaths shadow, int singleShrink, int psbShrink)
      : FPoints(points), FLight(std::move(light)), FShadow(std::move(shadow)), FSingle(singleShrink),
        FPsb(psbShrink) {}
  void Whole(TCanvas& c, const TRect& r) const override {
    const std::vector<TPoint> p = FPoints(r);
    c.Polygon(p.data(), int(p.size()));
  }
  void UpperLeft(TCanvas& c, const TRect& r) const override { Edges(c, r, FLight); }
  void LowerRight(TCanvas& c, const TRect& r) const override { Edges(c, r, FShadow); }
  TRect SingleInner(const TRect& r) const override { return Shrunk(r, FSingle); }
  TRect PsbInner(const TRect& r) const override { return Shrunk(r, FPsb); }

private:
  void Edges(TCanvas& c, const TRect& r, const TPaths& paths) const {
    const std::vector<TPoint> p = FPoints(r);
    for (const std::vector<int>& path : paths) {
      c.MoveTo(p[std::size_t(path[0])].X, p[std::size_t(path[0])].Y);
      for (std::size_t i = 1; i < path.size(); ++i) c.LineTo(p[std::size_t(path[i])].X, p[std::size_t(path[i])].Y);
    }
  }
  TPoints FPoints;
  TPaths FLight, FShadow;
  int FSingle, FPsb;
};

// The ellipse in the rectangle; the half-round shape uses the ellipse of
// twice the height ending at the rectangle's bottom.
class TEllipseOutline : public TOutline {
public:
  explicit TEllipseOutline(bool halfRound = false) : FHalfRound(halfRound) {}
  void Whole(TCanvas& c, const TRect& r) const override {
    const TRect b = Box(r);
    c.Ellipse(b.Left, b.Top, b.Right, b.Bottom);
  }
  void UpperLeft(TCanvas& c, const TRect& r) const override {
    const TRect b = Box(r);
    c.Arc(b.Left, b.Top, b.Right, b.Bottom, r.Right, r.Top, r.Left, r.Bottom);
  }
  void LowerRight(TCanvas& c, const TRect& r) const override {
    const TRect b = Box(r);
    c.Arc(b.Left, b.Top, b.Right, b.Bottom, r.Left, r.Bottom, r.Right, r.Top);
  }

private:
  TRect Box(const TRect& r) const { return FHalfRound ? Rect(r.Left, 2 * r.Top - r.Bottom, r.Right, r.Bottom) : r; }
  bool FHalfRound;
};

class TRoundRectOutline : public TOutline {
public:
  TRoundRectOutline(int rx, int ry) : FRx(rx), FRy(ry) {}
  void Whole(TCanvas& c, const TRect& r) const override { c.RoundRect(r.Left, r.Top, r.Right, r.Bottom, FRx, FRy); }
  void UpperLeft(TCanvas& c, const TRect& r) const override { Whole(c, r); }
  // The lower half of the lower-left corner, the bottom, the lower-right
  // corner, the right side and the lower half of the upper-right corner.
  void LowerRight(TCanvas& c, const TRect& r) const override {
    const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom, hx = FRx / 2, hy = FRy / 2;
    c.Pen.Width = 4;
    c.Arc(L, B - FRy, L + FRx, B, L, B, L + hx, B);
    c.MoveTo(L + hx, B);
    c.LineTo(R - hx, B);
    c.Arc(R - FRx, B - FRy, R, B, R - hx, B, R, B - hy);
    c.MoveTo(R, B - hy);
    c.LineTo(R, T + hy);
    c.Arc(R - FRx, T, R, T + FRy, R, T + hy, R, T);
  }
  // The right and bottom move in by 3; the corners keep their size.
  TRect SingleInner(const TRect& r) const override { return Rect(r.Left + 1, r.Top + 1, r.Right - 3, r.Bottom - 3); }

private:
  int FRx, FRy;
};

class TShieldOutline : public TOutline {
public:
  explicit TShieldOutline(bool sharp) : FSharp(sharp) {}
  void Whole(TCanvas& c, const TRect& r) const override {
    if (FSharp) {
      Arc(c, r, RightEdge);
      Arc(c, r, LeftEdge);
      Arc(c, r, LeftNotch);
      Arc(c, r, RightNotch);
    } else {
      Arc(c, r, LeftNotch);
      Arc(c, r, RightNotch);
      Arc(c, r, LowerArc);
    }
  }
  void UpperLeft(TCanvas& c, const TRect& r) const override {
    Arc(c, r, LeftNotch);
    Arc(c, r, RightNotch);
  }
  void LowerRight(TCanvas& c, const TRect& r) const override {
    Arc(c, r, FSharp ? LeftEdge : LowerLeftHalf);
    Arc(c, r, FSharp ? RightEdge : LowerRightHalf);
  }
  void InnerPass(TCanvas& c, const TRect& r) const override {
    Arc(c, r, FSharp ? RightEdge : RightNotch);
    Arc(c, r, FSharp ? RightNotch : LowerRightHalf);
  }

private:
  enum TArc { LeftNotch, RightNotch, LowerArc, LowerLeftHalf, LowerRightHalf, LeftEdge, RightEdge };
  // Placed at the rectangle's left and top, each from its first point
  // counter-clockwise to its second.
  static void Arc(TCanvas& c, const TRect& r, TArc arc) {
    const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom, W = R - L, H = B - T;
    const int w = W / 2, h = H / 5, v = 8 * H / 7;
    switch (arc) {
      case LeftNotch: c.Arc(L - w, T - h, L + w, T + h, L, T + h, L + w, T); break;
      case RightNotch: c.Arc(L + w, T - h, R + w, T + h, L + w, T, R, T + h); break;
      case LowerArc: c.Arc(L, 2 * T - B + h, R, B, L, T + h, R, T + h); break;
      case LowerLeftHalf: c.Arc(L, 2 * T - B + h, R, B, L, T + h, L + w, B); break;
      case LowerRightHalf: c.Arc(L, 2 * T - B + h, R, B, L + w, B, R, T + h); break;
      case LeftEdge: c.Arc(L, T - v, L + 2 * W, T + v, L, T + h, L + w, B); break;
      case RightEdge: c.Arc(L - W, T - v, R, T + v, L + w, B, R, T + h); break;
    }
  }
  bool FSharp;
};

// The eight styles from an outline's three parts.
void PaintStyle(TCanvas& c, const TOutline& o, const TRect& r, const TKelRegionBorder& border) {
  const TColor light = border.LightColor(), shadow = border.ShadowColor(), single = border.SingleColor();
  switch (border.Style()) {
    case rbNone: break;
    case rbRaised: o.Raised(c, r, light, shadow); break;
    case rbLowered: o.Raised(c, r, shadow, light); break;
    case rbSingle:
      c.Pen.Color = single;
      o.Whole(c, r);
      break;
    case rbSingleRaised:
    case rbSingleLowered:
      c.Pen.Color = single;
      o.Whole(c, r);
      if (border.Style() == rbSingleRaised) o.Raised(c, o.SingleInner(r), light, shadow);
      else o.Raised(c, o.SingleInner(r), shadow, light);
      break;
    // The single colour takes the shadow's place; the shadow colour follows
    // inside (for the lowered look after light and shadow were exchanged).
    case rbRaisedpsb:
    case rbLoweredpsb: {
      const bool lowered = border.Style() == rbLoweredpsb;
      o.Raised(c, r, lowered ? shadow : light, single);
      c.Pen.Color = lowered ? light : shadow;
      o.InnerPass(c, o.PsbInner(r));
      break;
    }
  }
}

std::unique_ptr<TOutline> PolygonOutline(TKelRegionShape shape) {
  switch (shape) {
    case rsStar:
      return std::make_unique<TPolygonOutline>(&TKelRegion::StarPoints,
                                               TPolygonOutline::TPaths{{1, 2}, {3, 4}, {6, 7}, {8, 9, 0}},
                                               TPolygonOutline::TPaths{{0, 1}, {2, 3}, {4, 5, 6}, {7, 8}}, 2, 3);
    case rsOctagon:
      return std::make_unique<TPolygonOutline>(&TKelRegion::OctagonPoints, TPolygonOutline::TPaths{{7, 0, 1, 2, 3}},
                                               TPolygonOutline::TPaths{{3, 4, 5, 6, 7}}, 1, 1);
    default:
      return std::make_unique<TPolygonOutline>(&TKelRegion::CombPoints, TPolygonOutline::TPaths{{5, 0, 1, 2}},
                                               TPolygonOutline::TPaths{{2, 3, 4, 5}}, 1, 1);
  }
}

} // namespace

void TKelRegion::PaintShadow(TCanvas& canvas, TRect& rect) {
  if (FShadow.Style() == hssNone) return;
  const int depth = FShadow.Depth();
  rect.Right -= depth;
  rect.Bottom -= depth;
  // Without a region there is no outline to cast a shadow from.
  if (FNoShadowPaint || !FHandle) return;
  const QRegion crescent = FHandle->translated(depth, depth).subtracted(*FHandle);
  canvas.Brush.Pattern = QImage();
  if (FShadow.Style() == hssSolid) {
    canvas.Brush.Color = FShadow.Color();
    canvas.Brush.Style = bsSolid;
  } else {
    canvas.Brush.Pattern = KelTracingPattern(FShadow.Color());
    canvas.Pen.Mode = pmMask;
  }
  canvas.Pen.Style = psClear;
  canvas.FillRgn(crescent);
  canvas.Brush.Style = bsClear;
  canvas.Brush.Pattern = QImage();
  canvas.Pen.Mode = pmCopy;
  canvas.Pen.Style = psSolid;
}

void TKelRegion::PaintBorder(TCanvas& canvas, const TRect& rect) {
  TRect r = rect;
  r.Left += FRegionOffset.X;
  r.Top += FRegionOffset.Y;
  canvas.Brush.Style = bsClear;
  canvas.Brush.Pattern = QImage();
  canvas.Pen.Width = 2;
  PaintShadow(canvas, r);
  const TRectOutline rectangle;
  const TRoundRectOutline roundRect(FRoundX, FRoundY);
  const TEllipseOutline ellipse;
  switch (FShape) {
    case rsBitmap:
    case rsUserRegion: break;
    case rsRect: PaintStyle(canvas, rectangle, r, FBorder); break;
    case rsRoundRect:
      canvas.Pen.Style = psSolid;
      PaintStyle(canvas, roundRect, r, FBorder);
      break;
    case rsElliptic: PaintStyle(canvas, ellipse, r, FBorder); break;
    case rsHalfRound: PaintStyle(canvas, TEllipseOutline(true), r, FBorder); break;
    case rsDiamond: PaintStyle(canvas, TDiamondOutline(), r, FBorder); break;
    case rsStar:
    case rsOctagon:
    case rsComb: PaintStyle(canvas, *PolygonOutline(FShape), r, FBorder); break;
    case rsRoundShield:
    case rsSharpShield: PaintStyle(canvas, TShieldOutline(FShape == rsSharpShield), r, FBorder); break;
    case rsNoseRect:
    case rsRoundNoseRect: {
      // The body only, with a gap where the nose joins it.
      TRect body = r;
      const std::vector<TPoint> nose = NosePoints(body, r.Width() / 10, NoseOffset(), FExtPos);
      const int k = FShape == rsNoseRect ? 2 : 4;
      TKelClipScope keep(canvas);
      canvas.ExcludeClipRect(Rect(nose[1].X - k, nose[1].Y - k, nose[2].X + k, nose[2].Y + k));
      if (FShape == rsNoseRect) {
        PaintStyle(canvas, rectangle, body, FBorder);
      } else {
        canvas.Pen.Style = psSolid;
        PaintStyle(canvas, roundRect, body, FBorder);
      }
      break;
    }
    case rsThinkBubble:
    case rsRoundThinkBubble:
    case rsEllipticThinkBubble: {
      TRect body = r;
      TKelClipScope keep(canvas);
      for (const TBubble& b : BubblePoints(body, r.Width() / 6, FBubbleCount, FExtPos)) {
        const TRect square = Rect(b.X - b.R, b.Y - b.R, b.X + b.R, b.Y + b.R);
        PaintStyle(canvas, ellipse, square, FBorder);
        canvas.ExcludeClipRect(square);
      }
      if (FShape == rsRoundThinkBubble) canvas.Pen.Style = psSolid;
      const TOutline& outline = FShape == rsThinkBubble        ? static_cast<const TOutline&>(rectangle)
                                : FShape == rsRoundThinkBubble ? static_cast<const TOutline&>(roundRect)
                                                               : static_cast<const TOutline&>(ellipse);
      PaintStyle(canvas, outline, body, FBorder);
      break;
    }
    case rsPointList: {
      const int count = FPoints.Count();
      if (count < 1) break;
      const TKelRegionBorderStyle style = FBorder.Style();
      const bool lowered = style == rbLowered || style == rbSingleLowered || style == rbLoweredpsb;
      TColor first = lowered ? FBorder.ShadowColor() : FBorder.LightColor();
      TColor second = lowered ? FBorder.LightColor() : FBorder.ShadowColor();
      if (style == rbSingle) first = second = FBorder.SingleColor();
      const TPoint start = FPoints.Point(0);
      canvas.MoveTo(start.X, start.Y);
      TPoint from = start;
      for (int i = 1; i <= count; ++i) {
        const TPoint to = i < count ? FPoints.Point(i) : start;
        // The closing edge keeps the colour of the last one.
        if (i < count) {
          if (to.Y > from.Y) canvas.Pen.Color = second;
          else if (to.Y < from.Y) canvas.Pen.Color = first;
          if (to.X < from.X) canvas.Pen.Color = second;
          else if (to.X > from.X) canvas.Pen.Color = first;
        }
        canvas.LineTo(to.X, to.Y);
        from = to;
      }
      break;
    }
  }
}

} // namespace kel
