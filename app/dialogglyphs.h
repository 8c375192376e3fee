// The small pictures on the dialogs' buttons, drawn in code.
#pragma once

namespace platform {
class TBitmap;
}

namespace app {

enum TDialogGlyph {
  dgRotateCW,
  dgRotateCCW,
  dgRotate180,
  dgFlipHorizontal,
  dgFlipVertical,
  dgResize,
  dgResetSizes,
  dgNewFolder,
  dgUpOneLevel,
  dgViewMenu,
  dgSliderButton,
};

// 16 x 16 (the slider button's 11 x 11) over olive, the buttons' transparent
// colour, which the lower-left pixel always keeps.
void MakeDialogGlyph(TDialogGlyph Kind, platform::TBitmap& Glyph);

} // namespace app
