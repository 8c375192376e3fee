#include "image/model/rvviewparams.h"

namespace rv {

TRvScrollBarParams::TRvScrollBarParams() : LineStep(-1), PageStep(-1), Tracking(true) {}

// A wheel notch zooms by 8 % of the current zoom.
TRvMouseWheelParams::TRvMouseWheelParams()
    : InvertDirection(false), Action(2), Variation(1), Value(8), ZoomPosition(false) {}

} // namespace rv
