// The picture view's software renderer: nearest-pixel sampling of a visible
// rectangle of a 24-bit or 1-bit picture onto a destination rectangle, with
// 14-bit fixed-point steps, optionally blended over what the destination
// already shows by an 8-bit alpha mask.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>

#include "platform/graphics.h"

namespace rv {

class TRvMask;

struct TRvNearestJob {
  const platform::TBitmap* Source = nullptr; // pf24bit or pf1bit
  // 8-bit, of the source's size; each pixel is blended over the destination
  // with weight A / 256. Null: opaque.
  const TRvMask* Alpha = nullptr;
  // The visible rectangle; it must lie inside the source.
  int SourceX = 0, SourceY = 0, SourceW = 0, SourceH = 0;
  // Where it is stretched to; parts outside Dest or Clip are left out.
  int DestX = 0, DestY = 0, DestW = 0, DestH = 0;
  QRect Clip;
  // Steps other than Source / Dest extent (0: those), and where the first
  // destination pixel starts inside its source pixel, in 1/16384 of one: a
  // map anchored on the whole zoomed picture, so that a strip rendered after
  // a scroll meets the pixels shifted from before. Source pixels past the
  // source's last column or row are taken from that last one.
  std::int64_t StepX = 0, StepY = 0;
  int PhaseX = 0, PhaseY = 0;
  // A destination row whose source row equals the previous one's is copied
  // from it; callers turn this off where the rows under a blend differ.
  bool ReuseRows = true;
};

// Dest is Format_BGR888 (3 bytes blue, green, red) or Format_RGB32 /
// Format_ARGB32 (written opaque). Other formats, an empty source or an empty
// destination rectangle leave Dest alone.
void RvRenderNearest(const TRvNearestJob& Job, QImage& Dest);

// The 16384-based step from Source to Dest extent: Trunc(Source / Dest x 16384).
inline std::int64_t RvFixedStep(int Source, int Dest) {
  return Dest > 0 ? (static_cast<std::int64_t>(Source) << 14) / Dest : 0;
}

// The source column (or row) a destination pixel Offset pixels from the
// destination's start shows: First + ((Phase + Offset x Step) shr 14), at
// most Last.
inline int RvNearestSource(int Offset, int First, int Phase, std::int64_t Step, int Last) {
  const std::int64_t at = First + ((Phase + Offset * Step) >> 14);
  return static_cast<int>(at < Last ? at : Last);
}

// The vector paths are taken when the processor has them; tests and the
// benchmark turn them off to compare with the plain loops.
void RvRenderSetVectorPaths(bool Enabled);

} // namespace rv
