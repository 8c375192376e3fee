// What a status-bar window keeps and draws: parts given by their right
// edges (-1 runs to the end), a text and a kind per part (three bevels,
// owner drawn, right-to-left reading), a simple mode with a text of its own,
// a background colour and a size grip. The status bar control talks to it
// as to the platform's status-bar window.
//
// Geometry: each part runs from 2 pixels below the top to the bottom; a
// part starts 2 pixels right of the previous one's right edge; a part that
// runs to the end stops short of the size grip (12 x 12 in the bottom-right
// corner). Texts are split at tab characters into a left, a centred and a
// right-aligned column, drawn 2 pixels inside the part's border.
#pragma once

#include "platform/colors.h"
#include "platform/graphics.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

namespace wn {

inline constexpr int SBT_NOBORDERS = 0x100;
inline constexpr int SBT_POPOUT = 0x200;
inline constexpr int SBT_RTLREADING = 0x400;
inline constexpr int SBT_OWNERDRAW = 0x1000;

class TQ32StatusParts {
 public:
  static constexpr int SimplePart = 255;
  // Index 255 names the simple mode's part.
  static constexpr int MaxParts = 255;
  static constexpr int TopBorder = 2;
  static constexpr int PartSpacing = 2;
  static constexpr int GripSize = 12;
  static constexpr int TextMargin = 2;

  // (canvas, part, the part's inside) for owner-drawn parts.
  using TDrawItem = std::function<void(platform::TCanvas& Canvas, int Part, const platform::TRect& Rect)>;

  TQ32StatusParts();

  // False (and nothing changes) for no parts or too many.
  bool SetParts(const std::vector<int>& RightEdges);
  const std::vector<int>& RightEdges() const { return FEdges; }
  int PartCount() const { return static_cast<int>(FEdges.size()); }

  // The part in the low byte (SimplePart for the simple mode's text), the
  // kind flags above it. False for a part that does not exist.
  bool SetText(int PartAndFlags, const QString& Text);
  QString Text(int Part) const;
  int TextFlags(int Part) const;
  // How many texts were set since the window was made.
  int TextsSet() const { return FTextsSet; }

  bool Simple() const { return FSimple; }
  void SetSimple(bool Value) { FSimple = Value; }
  platform::TColor BkColor() const { return FBkColor; }
  void SetBkColor(platform::TColor Value) { FBkColor = Value; }
  bool SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(bool Value) { FSizeGrip = Value; }

  // A part's rectangle in a client area of size Client; SimplePart gives
  // the simple mode's single part. Empty for a part that does not exist.
  QRect PartRect(int Part, const QSize& Client) const;
  QRect GripRect(const QSize& Client) const;

  void Paint(platform::TCanvas& Canvas, const QSize& Client, const QFont& Font, const TDrawItem& DrawItem) const;

 private:
  struct TPartText {
    QString Text;
    int Flags = 0;
  };
  void PaintPart(platform::TCanvas& Canvas, const QRect& Area, const TPartText& Part, int Index, const QFont& Font,
                 const TDrawItem& DrawItem) const;

  std::vector<int> FEdges;
  std::vector<TPartText> FTexts;
  TPartText FSimpleText;
  bool FSimple = false;
  bool FSizeGrip = false;
  platform::TColor FBkColor = platform::clBtnFace;
  int FTextsSet = 0;
};

}  // namespace wn
