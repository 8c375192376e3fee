// Windows metafiles (WMF, with or without the placeable header, and EMF):
// held as their bytes, sized as the class library sizes them, and drawn by a
// record player of our own onto a QPainter. A minimal writer turns a picture
// into an EMF or a WMF of one stretched-bitmap record.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/graphics.h"

class QPainter;

namespace platform {

class TStream;

// What one play of the records cost and how it ended (the budgets are
// explained in metafile.cpp).
struct TMetafileDrawStats {
  // The fill work drawn and the play's budget for it: the heights of the
  // edges the filler walks, in target pixels, more for a crowded shape.
  std::int64_t FillWork = 0;
  std::int64_t FillBudget = 0;
  // The pixels the fills painted and the play's budget for them.
  std::int64_t FillPixels = 0;
  std::int64_t FillPixelBudget = 0;
  // Shapes left out because their fill would have overspent a budget.
  int ShapesSkipped = 0;
  // The outlines drawn with a thin pen and the play's budget for them: their
  // length, in target pixels.
  std::int64_t StrokeWork = 0;
  std::int64_t StrokeBudget = 0;
  // The outlines drawn with a pen wider than a pixel and the play's budget
  // for them: what they cover, in target pixels, their length times the
  // pen's width, each figure one width longer.
  std::int64_t WideStrokeWork = 0;
  std::int64_t WideStrokeBudget = 0;
  // Outlines left out because they would have overspent theirs.
  int StrokesSkipped = 0;
  // The caller's keepGoing said no before the last record.
  bool Stopped = false;
};

class TMetafile {
public:
  TMetafile() = default;

  // Both read the whole metafile and detect its kind by the header; they
  // raise EInvalidGraphic for anything else, and keep the previous contents.
  void LoadFromFile(const std::string& fileName);
  // Reads from the stream's position to its end.
  void LoadFromStream(TStream& stream);
  void LoadFromBytes(const std::uint8_t* data, std::size_t size);

  // Writes the held bytes (what Assign made, after it). Nothing for an
  // empty one.
  void SaveToFile(const std::string& fileName) const;
  void SaveToStream(TStream& stream) const;

  // Becomes an EMF of picture's size holding the picture in one
  // StretchDIBits record (24-bit rows), or with enhanced false a placeable
  // WMF of 96 units an inch holding it in one StretchDIB record (sides of
  // at most 32,767 pixels, else EInvalidGraphic). A null picture empties the
  // metafile.
  void Assign(const QImage& picture, bool enhanced = true);
  void Clear();

  bool Empty() const { return FData.empty(); }
  bool Enhanced() const { return FEnhanced; }
  // The picture's own size in pixels (see the formulas in metafile.cpp).
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  const std::vector<std::uint8_t>& Data() const { return FData; }

  // Plays the records onto painter, the picture stretched to fill rect and
  // clipped to it. Damaged records end the play; what came before stays.
  // keepGoing, when given, is asked before each record with the share of the
  // bytes played so far (0..100); false ends the play there. allowance
  // multiplies the work budgets (a test draws a picture without them to
  // compare).
  TMetafileDrawStats Draw(QPainter& painter, const QRect& rect, const std::function<bool(int)>& keepGoing = {},
                          double allowance = 1) const;

private:
  std::vector<std::uint8_t> FData;
  bool FEnhanced = false;
  int FWidth = 0;
  int FHeight = 0;
  // The picture's frame in the units its records start in (WMF: logical
  // units; EMF: reference-device pixels).
  double FFrameLeft = 0;
  double FFrameTop = 0;
  double FFrameWidth = 0;
  double FFrameHeight = 0;
  // Where the records start (after a placeable header).
  std::size_t FRecordsOffset = 0;
};

// Decodes a DIB (BITMAPCOREHEADER or BITMAPINFOHEADER and later, 1, 4, 8, 24
// or 32 bits, BI_RGB, RGB colour table) into a top-down 32-bit image. bits
// and bitsSize give the rows; for a packed DIB pass nullptr and the rows are
// taken after the header and colour table. Null image for anything else or
// when the data are short.
QImage DecodeMetafileDIB(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits,
                         std::size_t bitsSize);

} // namespace platform
