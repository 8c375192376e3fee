#include "controls/support/q32statusbar/q32statusparts.h"

#include <QPainter>

namespace wn {

using namespace platform;

namespace {

QColor Qc(TColor Color) { return QColor::fromRgb(ColorToQRgb(Color)); }

}  // namespace

TQ32StatusParts::TQ32StatusParts() : FEdges{-1}, FTexts(1) {}

bool TQ32StatusParts::SetParts(const std::vector<int>& RightEdges) {
  if (RightEdges.empty() || RightEdges.size() > MaxParts) return false;
  FEdges = RightEdges;
  FTexts.resize(RightEdges.size());
  return true;
}

bool TQ32StatusParts::SetText(int PartAndFlags, const QString& Text) {
  const int Part = PartAndFlags & 0xFF;
  TPartText* Target = Part == SimplePart ? &FSimpleText : Part < PartCount() ? &FTexts[Part] : nullptr;
  if (!Target) return false;
  Target->Text = Text;
  Target->Flags = PartAndFlags & ~0xFF;
  ++FTextsSet;
  return true;
}

QString TQ32StatusParts::Text(int Part) const {
  if (Part == SimplePart) return FSimpleText.Text;
  return Part >= 0 && Part < PartCount() ? FTexts[Part].Text : QString();
}

int TQ32StatusParts::TextFlags(int Part) const {
  if (Part == SimplePart) return FSimpleText.Flags;
  return Part >= 0 && Part < PartCount() ? FTexts[Part].Flags : 0;
}

QRect TQ32StatusParts::GripRect(const QSize& Client) const {
  if (!FSizeGrip) return {};
  return QRect(Client.width() - GripSize, Client.height() - GripSize, GripSize, GripSize);
}

QRect TQ32StatusParts::PartRect(int Part, const QSize& Client) const {
  const int End = Client.width() - (FSizeGrip ? GripSize : 0);
  const int Height = Client.height() - TopBorder;
  if (Part == SimplePart) return QRect(0, TopBorder, End, Height);
  if (Part < 0 || Part >= PartCount()) return {};
  int Left = 0;
  for (int i = 0;; ++i) {
    const int Right = FEdges[i] < 0 ? End : FEdges[i];
    if (i == Part) return QRect(Left, TopBorder, std::max(0, Right - Left), Height);
    Left = Right + PartSpacing;
  }
}

void TQ32StatusParts::Paint(TCanvas& Canvas, const QSize& Client, const QFont& Font, const TDrawItem& DrawItem) const {
  Canvas.Paint([&](QPainter& P) { P.fillRect(QRect(QPoint(0, 0), Client), Qc(FBkColor)); });
  if (FSimple) {
    PaintPart(Canvas, PartRect(SimplePart, Client), FSimpleText, SimplePart, Font, DrawItem);
  } else {
    for (int i = 0; i < PartCount(); ++i) PaintPart(Canvas, PartRect(i, Client), FTexts[i], i, Font, DrawItem);
  }
  if (!FSizeGrip) return;
  // Three ridges across the corner, each a double shadow line under a light one.
  const QRect Grip = GripRect(Client);
  Canvas.Paint([&](QPainter& P) {
    for (int y = Grip.top(); y <= Grip.bottom(); ++y) {
      for (int x = Grip.left(); x <= Grip.right(); ++x) {
        const int Distance = (Grip.right() - x) + (Grip.bottom() - y);
        if (Distance >= GripSize) continue;
        const int Step = Distance % 4;
        if (Step == 0) continue;
        P.fillRect(QRect(x, y, 1, 1), Qc(Step == 3 ? clBtnHighlight : clBtnShadow));
      }
    }
  });
}

void TQ32StatusParts::PaintPart(TCanvas& Canvas, const QRect& Area, const TPartText& Part, int Index,
                                const QFont& Font, const TDrawItem& DrawItem) const {
  if (Area.isEmpty()) return;
  TRect Inside = Bounds(Area.left(), Area.top(), Area.width(), Area.height());
  if (!(Part.Flags & SBT_NOBORDERS))
    DrawEdge(Canvas, Inside, (Part.Flags & SBT_POPOUT) ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  if (Part.Flags & SBT_OWNERDRAW) {
    if (DrawItem) DrawItem(Canvas, Index, Inside);
    return;
  }
  const QStringList Columns = Part.Text.split(QLatin1Char('\t'));
  const QRect TextRect = Inside.ToQRect().adjusted(TextMargin, 0, -TextMargin, 0);
  Canvas.Paint([&](QPainter& P) {
    P.setClipRect(Inside.ToQRect());
    P.setFont(Font);
    P.setPen(Qc(clBtnText));
    P.setLayoutDirection((Part.Flags & SBT_RTLREADING) ? Qt::RightToLeft : Qt::LeftToRight);
    static const Qt::Alignment Aligns[3] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    for (int i = 0; i < std::min<int>(3, Columns.size()); ++i) {
      if (Columns[i].isEmpty()) continue;
      P.drawText(TextRect, int(Aligns[i] | Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextSingleLine), Columns[i]);
    }
  });
}

}  // namespace wn
