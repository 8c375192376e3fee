// The colour operations of the processing component.
#include <string>

#include "image/model/rastrumproc.h"
#include "image/model/rvbits.h"
#include "image/model/rvcolorconv.h"
#include "image/model/rvgeometry.h"
#include "image/model/rvmask.h"

namespace rv {

void TRastrumProc::ConvertToGray() {
  if (FBitmap == nullptr || FBitmap->PixelFormat() != platform::pf24bit) return;
  if (AutoUndo) SaveUndoCaption("ConvertToGray");
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0, polyCount = 0;
  const platform::TPoint* poly = nullptr;
  TRvMask* mask = nullptr;
  GetProcessRect(x1, y1, x2, y2, poly, polyCount, mask);
  if (mask != nullptr && !mask->IsEmpty()) {
    // Only the selected pixels change: the box is grayed apart and copied
    // back through the mask.
    platform::TBitmap box;
    RvCropBitmap(FBitmap, &box, mask->X1(), mask->Y1(), mask->X2() + 1, mask->Y2() + 1);
    RvConvertRectToGray(&box, 0, 0, box.Width(), box.Height(), this, OnProgress);
    mask->CopyBitmap(&box, FBitmap, true, false);
  } else {
    RvConvertRectToGray(FBitmap, x1, y1, x2, y2, this, OnProgress);
  }
  UpdateView();
}

void TRastrumProc::ConvertTo(int NumColors) {
  if (FBitmap == nullptr || FBitmap->PixelFormat() != platform::pf24bit) return;
  if (AutoUndo) SaveUndoCaption("ConvertTo " + std::to_string(NumColors));
  if (NumColors < 3) {
    TRvLocalProgress progress;
    progress.Rec.OnProgress = OnProgress;
    progress.Rec.Sender = this;
    RvOrderedDitherToBW(FBitmap, progress.Rec);
  } else {
    RvQuantizeBitmap(FBitmap, NumColors, nullptr, this, OnProgress);
  }
  UpdateView();
}

void TRastrumProc::ConvertToPalette(int NumColors, TRGB* Palette) {
  if (FBitmap == nullptr || FBitmap->PixelFormat() != platform::pf24bit) return;
  if (AutoUndo) SaveUndoCaption("ConvertToPalette");
  if (NumColors < 3) {
    TRvLocalProgress progress;
    progress.Rec.OnProgress = OnProgress;
    progress.Rec.Sender = this;
    RvOrderedDitherToBW(FBitmap, progress.Rec);
    if (Palette != nullptr) {
      Palette[0] = TRGB{0, 0, 0};
      Palette[1] = TRGB{255, 255, 255};
    }
  } else {
    RvQuantizeBitmap(FBitmap, NumColors, Palette, this, OnProgress);
  }
  UpdateView();
}

} // namespace rv
