// How a view's scroll bars step and track, and what its mouse wheel does.
// Plain settings that the view's scroll and wheel handlers read.
#pragma once

#include <cstdint>

namespace rv {

// One per scroll bar of a view.
class TRvScrollBarParams {
public:
  TRvScrollBarParams();

  // -1: one zoomed picture pixel.
  std::int32_t LineStep;
  // -1: a page chosen by the view.
  std::int32_t PageStep;
  // The picture follows the thumb while it is dragged.
  bool Tracking;
};

// One per view.
class TRvMouseWheelParams {
public:
  TRvMouseWheelParams();

  // Reverses the direction in which a notch scrolls or zooms.
  bool InvertDirection;
  // 0: the view does nothing of its own, 1: scroll vertically, 2: zoom.
  std::uint8_t Action;
  // 0: Value is absolute (pixels scaled by the zoom when scrolling,
  // percentage points when zooming); 1: Value is a percentage (of the client
  // height when scrolling, of the current zoom when zooming).
  std::uint8_t Variation;
  std::int32_t Value;
  // Zoom about the mouse position instead of the view centre.
  bool ZoomPosition;
};

} // namespace rv
