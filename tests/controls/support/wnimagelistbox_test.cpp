#include "controls/support/wnimagelistbox/wnimagelistbox.h"

#include "platform/graphics.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <gtest/gtest.h>

using namespace wn;
using platform::ColorToQRgb;

namespace {

QImage Solid(QColor color, int size = 16) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(color);
  return image;
}

QRgb Rgb(platform::TColor color) { return ColorToQRgb(color) & 0xFFFFFF; }

// One item drawn onto a white picture of the item's size.
QImage Paint(TWnImageListBox& box, int index, int width, int height, bool selected) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  {
    platform::TCanvas canvas(&painter);
    box.DrawItem(canvas, index, QRect(0, 0, width, height), selected);
  }
  painter.end();
  return image;
}

QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// Columns holding any pixel other than the background colour, in [from, to).
bool InkBetween(const QImage& image, int from, int to, QRgb background) {
  for (int x = from; x < to; ++x)
    for (int y = 0; y < image.height(); ++y)
      if (At(image, x, y) != background) return true;
  return false;
}

class ImageListBox : public ::testing::Test {
protected:
  ImageListBox() : FImages(16, 16) {
    FImages.Add(Solid(Qt::red));
    FImages.Add(Solid(Qt::blue));
  }
  int TextHeight() const { return QFontMetrics(FBox.font()).height(); }
  int TextWidth(const QString& text) const { return QFontMetrics(FBox.font()).horizontalAdvance(text); }
  TWnListItem* AddItem(const QString& text, int imageIndex) {
    TWnListItem* item = FBox.Items().Add();
    item->SetText(text);
    item->SetImageIndex(imageIndex);
    return item;
  }

  TImageList FImages;
  TWnImageListBox FBox;
};

} // namespace

TEST_F(ImageListBox, CreationValuesAndItemHeights) {
  EXPECT_EQ(FBox.geometry(), QRect(0, 0, 97, 121));
  EXPECT_EQ(FBox.Alignment(), TWnImageListBox::taLeftJustify);
  EXPECT_EQ(FBox.ButtonStyle(), fsLighter);
  EXPECT_FALSE(FBox.ButtonFrame());
  EXPECT_EQ(FBox.Color(), platform::clWindow);
  EXPECT_EQ(FBox.ColorHighLight(), platform::clHighlight);
  EXPECT_EQ(FBox.ColorHighLightText(), platform::clHighlightText);
  EXPECT_EQ(FBox.ImageList(), nullptr);
  EXPECT_EQ(FBox.ItemHeight(), TextHeight() + 4) << "no image list: the font alone";

  TImageList tall(16, 40);
  FBox.SetImageList(&tall);
  EXPECT_EQ(FBox.ItemHeight(), std::max(TextHeight() + 4, 44));
  FBox.SetAlignment(TWnImageListBox::taRightJustify);
  EXPECT_EQ(FBox.ItemHeight(), std::max(TextHeight() + 4, 44));
  FBox.SetAlignment(TWnImageListBox::taCenter);
  EXPECT_EQ(FBox.ItemHeight(), 40 + TextHeight() + 8);

  QFont larger = FBox.font();
  larger.setPixelSize(30);
  FBox.setFont(larger);
  EXPECT_EQ(FBox.ItemHeight(), 40 + TextHeight() + 8) << "a font change measures again";
  FBox.SetImageList(nullptr);
  EXPECT_EQ(FBox.ItemHeight(), TextHeight() + 8);
}

TEST_F(ImageListBox, TextsLiveInTheListBoxLines) {
  FBox.AddLine("zero");
  FBox.AddLine("one");
  for (int i = 0; i < 6; ++i) FBox.Items().Add();
  FBox.Items()[5]->SetText("five");
  EXPECT_EQ(FBox.Lines(), QStringList({"zero", "one", "", "", "", "five"}));
  EXPECT_EQ(FBox.Items()[1]->Text(), "one");
  EXPECT_EQ(FBox.Items()[3]->Text(), "");

  TWnImageListBox fresh;
  fresh.Items().Add();
  fresh.Items().Add();
  EXPECT_EQ(fresh.Items()[1]->Text(), "") << "reading pads as well";
  EXPECT_EQ(fresh.Lines().size(), 2);

  // Moving an item carries its line; deleting it takes the line away.
  FBox.Items()[5]->SetIndex(0);
  EXPECT_EQ(FBox.Lines(), QStringList({"five", "zero", "one", "", "", ""}));
  EXPECT_EQ(FBox.Items()[0]->Text(), "five");
  FBox.Items().Delete(1);
  EXPECT_EQ(FBox.Lines(), QStringList({"five", "one", "", "", ""}));
  EXPECT_EQ(FBox.Items().Count(), 5);
  FBox.Items().Clear();
  EXPECT_TRUE(FBox.Lines().isEmpty());
}

TEST_F(ImageListBox, AssignCopiesItemsOrLines) {
  AddItem("a", 1)->SetIndent(3);
  AddItem("b", -1);
  TWnImageListBox other;
  other.AddLine("stale");
  other.Items().Add();
  other.Items().Assign(FBox.Items());
  ASSERT_EQ(other.Items().Count(), 2);
  EXPECT_EQ(other.Lines(), QStringList({"a", "b"}));
  EXPECT_EQ(other.Items()[0]->ImageIndex(), 1);
  EXPECT_EQ(other.Items()[0]->Indent(), 3);
  EXPECT_EQ(other.Items()[1]->ImageIndex(), -1);

  other.AddLine("orphan");
  other.Items().Assign(QStringList({"x", "y", "z"}));
  EXPECT_EQ(other.Items().Count(), 3);
  EXPECT_EQ(other.Lines(), QStringList({"x", "y", "z"}));
  EXPECT_EQ(other.Items()[2]->Text(), "z");
  EXPECT_EQ(other.Items()[2]->ImageIndex(), -1);
}

TEST_F(ImageListBox, ImageListGoingAwayClearsTheReference) {
  auto* images = new TImageList(24, 24);
  FBox.SetImageList(images);
  AddItem("item", 0);
  EXPECT_EQ(FBox.ImageList(), images);
  delete images;
  EXPECT_EQ(FBox.ImageList(), nullptr);
  const QImage drawn = Paint(FBox, 0, 100, FBox.ItemHeight(), true);
  EXPECT_EQ(At(drawn, 50, 0), Rgb(platform::clWindow));
}

TEST_F(ImageListBox, LeftAlignedItem) {
  FBox.SetImageList(&FImages);
  FBox.SetItemHeight(20);
  AddItem("Pictures", 0);
  AddItem("Other", -1);
  const QRgb window = Rgb(platform::clWindow);
  const QRgb highlight = Rgb(platform::clHighlight);

  QImage drawn = Paint(FBox, 0, 165, 20, false);
  // Vertical offset (20 - 16) / 2 = 2, two pixels in from the left.
  EXPECT_EQ(At(drawn, 2, 2), 0xFF0000u);
  EXPECT_EQ(At(drawn, 17, 17), 0xFF0000u);
  EXPECT_EQ(At(drawn, 1, 2), window);
  EXPECT_EQ(At(drawn, 18, 17), window);
  EXPECT_FALSE(InkBetween(drawn, 18, 24, window));
  EXPECT_TRUE(InkBetween(drawn, 24, 24 + TextWidth("Pictures"), window));

  // No image, but the text keeps its place.
  drawn = Paint(FBox, 1, 165, 20, false);
  EXPECT_FALSE(InkBetween(drawn, 0, 24, window));
  EXPECT_TRUE(InkBetween(drawn, 24, 24 + TextWidth("Other"), window));

  // Selected: the text rectangle (22, 1)-(24 + width + 2, 19) in the
  // highlight colour, its focus outline inverting every other pixel.
  drawn = Paint(FBox, 0, 165, 20, true);
  const int right = 24 + TextWidth("Pictures") + 2;
  EXPECT_EQ(At(drawn, 22, 1), highlight ^ 0xFFFFFFu);
  EXPECT_EQ(At(drawn, 23, 1), highlight);
  EXPECT_EQ(At(drawn, 22, 0), window);
  EXPECT_EQ(At(drawn, 21, 5), window);
  EXPECT_EQ(At(drawn, right, 5), window);
  EXPECT_EQ(At(drawn, 23, 19), window);
  EXPECT_EQ(At(drawn, 2, 2), 0xFF0000u);

  FBox.SetColor(platform::clHighlight);
  drawn = Paint(FBox, 0, 165, 20, true);
  EXPECT_EQ(At(drawn, 22, 1), highlight) << "no focus outline when both colours agree";
}

TEST_F(ImageListBox, ButtonFrameColours) {
  FBox.SetImageList(&FImages);
  FBox.SetItemHeight(20);
  FBox.SetButtonFrame(true);
  AddItem("a", 1);
  AddItem("b", 7);
  const QRgb window = Rgb(platform::clWindow);
  struct {
    TWnButtonColors Style;
    platform::TColor Top, Bottom;
  } const styles[] = {{fsLighter, platform::clBtnHighlight, platform::clBtnFace},
                      {fsLight, platform::clBtnHighlight, platform::clBtnShadow},
                      {fsMedium, platform::clBtnHighlight, platform::cl3DDkShadow},
                      {fsDark, platform::clBtnFace, platform::cl3DDkShadow},
                      {fsDarker, platform::clBtnShadow, platform::cl3DDkShadow}};
  for (const auto& s : styles) {
    FBox.SetButtonStyle(s.Style);
    // Frame (0, 0)-(20, 20): top and left in one colour, bottom and right in
    // the other, the bottom-left corner belonging to the bottom line.
    const QImage drawn = Paint(FBox, 0, 165, 20, true);
    EXPECT_EQ(At(drawn, 0, 0), Rgb(s.Top)) << s.Style;
    EXPECT_EQ(At(drawn, 0, 18), Rgb(s.Top)) << s.Style;
    EXPECT_EQ(At(drawn, 18, 0), Rgb(s.Top)) << s.Style;
    EXPECT_EQ(At(drawn, 19, 0), Rgb(s.Bottom)) << s.Style;
    EXPECT_EQ(At(drawn, 19, 19), Rgb(s.Bottom)) << s.Style;
    EXPECT_EQ(At(drawn, 0, 19), Rgb(s.Bottom)) << s.Style;
    EXPECT_EQ(At(drawn, 1, 1), window) << s.Style;
  }
  FBox.SetButtonStyle(fsDarker);
  EXPECT_EQ(At(Paint(FBox, 0, 165, 20, false), 0, 0), window) << "not selected";
  EXPECT_EQ(At(Paint(FBox, 1, 165, 20, true), 0, 0), window) << "image index out of range";
}

TEST_F(ImageListBox, EmptyTextNegativeIndexAndRightAlignment) {
  FBox.SetImageList(&FImages);
  FBox.SetItemHeight(20);
  AddItem("", 0);
  AddItem("Right", 1);
  const QRgb window = Rgb(platform::clWindow);
  const QRgb highlight = Rgb(platform::clHighlight);

  QImage drawn = Paint(FBox, 0, 100, 20, true);
  EXPECT_EQ(At(drawn, 8, 8), highlight) << "an empty selected item is one highlighted block";
  EXPECT_EQ(At(drawn, 0, 0), highlight ^ 0xFFFFFFu);
  EXPECT_EQ(At(drawn, 99, 19), highlight ^ 0xFFFFFFu);

  drawn = Paint(FBox, -1, 100, 20, true);
  EXPECT_EQ(At(drawn, 2, 2), highlight);
  EXPECT_EQ(At(drawn, 99, 19), highlight);

  FBox.SetAlignment(TWnImageListBox::taRightJustify);
  FBox.SetItemHeight(20);
  drawn = Paint(FBox, 1, 165, 20, false);
  EXPECT_EQ(At(drawn, 147, 2), 0x0000FFu);
  EXPECT_EQ(At(drawn, 162, 17), 0x0000FFu);
  EXPECT_EQ(At(drawn, 146, 2), window);
  EXPECT_EQ(At(drawn, 163, 2), window);
  const int textEnd = 165 - 16 - 8;
  EXPECT_FALSE(InkBetween(drawn, textEnd + 1, 147, window));
  EXPECT_TRUE(InkBetween(drawn, textEnd - TextWidth("Right"), textEnd, window));
  EXPECT_FALSE(InkBetween(drawn, 0, textEnd - TextWidth("Right") - 2, window));
}

TEST_F(ImageListBox, CentredItem) {
  FBox.SetImageList(&FImages);
  FBox.SetAlignment(TWnImageListBox::taCenter);
  FBox.SetButtonFrame(true);
  FBox.SetButtonStyle(fsDarker);
  AddItem("Home", 0);
  const int height = FBox.ItemHeight();
  const QRgb window = Rgb(platform::clWindow);
  const QRgb highlight = Rgb(platform::clHighlight);

  const QImage drawn = Paint(FBox, 0, 165, height, true);
  // x = (165 - 16) div 2 = 74, two pixels below the top.
  EXPECT_EQ(At(drawn, 74, 2), 0xFF0000u);
  EXPECT_EQ(At(drawn, 89, 16), 0xFF0000u);
  EXPECT_EQ(At(drawn, 73, 10), window);
  EXPECT_EQ(At(drawn, 90, 10), window);
  // Frame (72, 0)-(92, 18).
  EXPECT_EQ(At(drawn, 72, 0), Rgb(platform::clBtnShadow));
  EXPECT_EQ(At(drawn, 91, 17), Rgb(platform::cl3DDkShadow));
  EXPECT_EQ(At(drawn, 80, 17), Rgb(platform::cl3DDkShadow)) << "the frame's bottom line crosses the image";
  EXPECT_EQ(At(drawn, 72, 18), window);

  // Text rectangle: left (167 - width) div 2 - 1, bottom 4 above the item's.
  const int left = (167 - TextWidth("Home")) / 2 - 1;
  const int bottom = height - 4;
  EXPECT_EQ(At(drawn, left + 1, bottom - 1), highlight);
  EXPECT_EQ(At(drawn, left + 1, bottom), window);
  EXPECT_EQ(At(drawn, left - 1, bottom - 1), window);
  EXPECT_EQ(At(drawn, left, bottom - TextHeight() - 1), highlight ^ 0xFFFFFFu);
  EXPECT_EQ(At(drawn, left + 1, bottom - TextHeight() - 1), highlight);
  EXPECT_EQ(At(drawn, left + 1, bottom - TextHeight() - 2), window);
}

TEST_F(ImageListBox, ShownListPaintsItsItemsAndReportsClicks) {
  FBox.SetImageList(&FImages);
  FBox.resize(165, 120);
  AddItem("first", 0);
  AddItem("second", 1);
  int clicks = 0;
  FBox.OnClick = [&](TWnImageListBox* sender) {
    EXPECT_EQ(sender, &FBox);
    ++clicks;
  };
  FBox.show();
  QApplication::processEvents();
  const QRect second = FBox.visualItemRect(FBox.item(1));
  EXPECT_EQ(second.top(), FBox.ItemHeight());
  EXPECT_EQ(second.height(), FBox.ItemHeight());

  const QImage shot = FBox.viewport()->grab().toImage();
  const int offset = (FBox.ItemHeight() - 16) / 2;
  EXPECT_EQ(At(shot, 4, offset + 4), 0xFF0000u);
  EXPECT_EQ(At(shot, 4, FBox.ItemHeight() + offset + 4), 0x0000FFu);

  const QPoint at = second.center();
  QMouseEvent press(QEvent::MouseButtonPress, at, FBox.viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, FBox.viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(FBox.viewport(), &press);
  QApplication::sendEvent(FBox.viewport(), &release);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(FBox.currentRow(), 1);
}
