// One caption of a thumbnail cell: the text above the picture, the info band
// at the foot of the cell, or the text below the picture.
#pragma once

#include <string>

#include "platform/colors.h"
#include "platform/graphics.h"

namespace rv {

class TRastrumMView;

// Where a caption sits in its cell.
inline constexpr int RvMTextTop = 0;
inline constexpr int RvMTextInfo = 1;
inline constexpr int RvMTextBottom = 2;

class TRvMText {
public:
  // Owner may be null: the caption then has the button-face background and
  // raises no gaps.
  TRvMText(TRastrumMView* Owner, int Position);
  // With the font and background given instead of the owner's current ones,
  // and the text it starts with (which raises no gap).
  TRvMText(TRastrumMView* Owner, int Position, const platform::TFont& AFont, platform::TColor ABackground,
           std::string ACaption = {});

  const std::string& Caption() const { return FCaption; }
  // Raises the owner's upper or bottom gap so that the text fits; does not
  // repaint (the caller updates the view).
  void SetCaption(const std::string& Value);

  platform::TFont Font;
  platform::TColor Background;

  int Position() const { return FPosition; }
  TRastrumMView* Owner() const { return FOwner; }

private:
  TRastrumMView* FOwner;
  int FPosition;
  std::string FCaption;
};

// Height of a line of text in Font, as the view's canvas measures it.
int RvTextHeight(const platform::TFont& Font);
int RvTextWidth(const platform::TFont& Font, const std::string& Text);

} // namespace rv
