#include "image/model/rvprogress.h"

#include <cmath>

namespace rv {

void TRvProgressRec::Step(std::int32_t Value) {
  Val = Value;
  if (OnProgress) OnProgress(Sender, static_cast<int>(std::trunc(Val * Per)));
}

} // namespace rv
