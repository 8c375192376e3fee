// The clipboard copy of the processing component.
#include "image/model/rastrumproc.h"
#include "image/model/rvclipboard.h"

namespace rv {

void TRastrumProc::CopyToClipboard() {
  if (FBitmap == nullptr) return;
  RvCopyTBitmapToClipboard(FBitmap);
}

} // namespace rv
