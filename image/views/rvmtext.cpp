#include "image/views/rvmtext.h"

#include <QFontMetrics>

#include "image/views/rvmview.h"

namespace rv {

int RvTextHeight(const platform::TFont& Font) { return QFontMetrics(Font.ToQFont()).height(); }

int RvTextWidth(const platform::TFont& Font, const std::string& Text) {
  return QFontMetrics(Font.ToQFont()).horizontalAdvance(QString::fromStdString(Text));
}

TRvMText::TRvMText(TRastrumMView* Owner, int Position)
    : TRvMText(Owner, Position, Owner != nullptr ? Owner->Font : platform::TFont(),
               Owner != nullptr ? Owner->GetBackground() : platform::clBtnFace) {}

TRvMText::TRvMText(TRastrumMView* Owner, int Position, const platform::TFont& AFont, platform::TColor ABackground,
                   std::string ACaption)
    : Font(AFont), Background(ABackground), FOwner(Owner), FPosition(Position), FCaption(std::move(ACaption)) {}

void TRvMText::SetCaption(const std::string& Value) {
  if (FOwner != nullptr) {
    const int h = RvTextHeight(Font);
    // The gaps change without a layout: the caller updates the view once
    // after setting its captions.
    if (FPosition == RvMTextTop && h + 2 > FOwner->FUpperGap) {
      FOwner->FUpperGap = h + 2;
    } else if (FPosition == RvMTextInfo && h + 2 > FOwner->FBottomGap) {
      FOwner->FBottomGap = FOwner->Style() == rvmsACD ? h + 4 : h + 2;
    }
  }
  FCaption = Value;
}

} // namespace rv
