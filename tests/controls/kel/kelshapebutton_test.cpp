#include "controls/kel/kelshapebutton.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <gtest/gtest.h>

using namespace kel;
using namespace platform;

namespace {

void Mouse(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButtons buttons = Qt::LeftButton) {
  const QPointF local(x, y);
  QMouseEvent e(type, local, w->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                type == QEvent::MouseButtonRelease ? Qt::NoButton : buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// The values the application's forms give their buttons.
void FormValues(TKelShapeButton& b) {
  b.SetAllowTransparency(true);
  b.SetAllowMouseOver(true);
  b.Colors().SetMouseOver(clGray);
  b.Shape().SetShape(stRoundRect);
  b.Shape().Bevel().SetStyle(sbOffset);
  b.Shape().Bevel().SetWidth(1);
  b.Shape().Bevel().SetColor(1, clSilver);
  b.Shape().SetBrushColor(clBtnFace);
  b.Shape().Shadow().SetDepth(3);
  b.SetTransparent(true);
}

struct TButtonFixture : ::testing::Test {
  TButtonFixture() {
    Parent.resize(200, 100);
    Parent.setAutoFillBackground(true);
    QPalette pal = Parent.palette();
    pal.setColor(QPalette::Window, QColor(255, 0, 255));
    Parent.setPalette(pal);
  }
  TKelShapeButton* Make(int x, int y, int w, int h) {
    auto* b = new TKelShapeButton(&Parent);
    b->setGeometry(x, y, w, h);
    b->show();
    FormValues(*b);
    b->OnClick = [this](TKelBaseGraphicButton*) { Clicks.push_back(Ticks); };
    return b;
  }
  QImage Grab(TKelShapeButton* b) {
    Parent.show();
    return Parent.grab(b->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
  }
  void Tick() {
    ++Ticks;
    KelApplication().TimerPool().TimerTick();
  }
  QWidget Parent;
  std::vector<int> Clicks;
  int Ticks = 0;
};

} // namespace

TEST_F(TButtonFixture, LatchingInGroups) {
  TKelShapeButton* a = Make(0, 0, 40, 25);
  TKelShapeButton* b = Make(50, 0, 40, 25);
  EXPECT_TRUE(a->inherits("kel::TKelShapeButton")); // the forms' scaling finds buttons by class
  a->SetPressed(true);
  EXPECT_FALSE(a->Pressed()); // group 0 never latches
  a->SetGroupIndex(1);
  b->SetGroupIndex(1);
  a->SetPressed(true);
  EXPECT_EQ(a->State(), bsOptionSet);
  b->SetPressed(true);
  EXPECT_TRUE(b->Pressed());
  EXPECT_FALSE(a->Pressed()); // even without AllowAllUp
  EXPECT_EQ(a->State(), bsUp);
  b->SetPressed(false);
  EXPECT_TRUE(b->Pressed());
  // A click inside latches the other one.
  Mouse(a, QEvent::MouseButtonPress, 20, 10);
  Mouse(a, QEvent::MouseButtonRelease, 20, 10);
  EXPECT_TRUE(a->Pressed());
  EXPECT_FALSE(b->Pressed());
  EXPECT_EQ(Clicks.size(), 1u);
  // Disabled while latched: the disabled colour, a pressed bevel, no shift.
  a->Colors().SetDisabled(clYellow);
  a->setEnabled(false);
  EXPECT_EQ(a->State(), bsDisabledOptionSet);
  const QImage img = Grab(a);
  EXPECT_EQ(img.pixel(1, 10), qRgb(255, 255, 0));
  EXPECT_EQ(img.pixel(39, 12), qRgb(192, 192, 192));
}

TEST_F(TButtonFixture, RepeatedClicksFollowTheTicks) {
  TKelShapeButton* b = Make(0, 0, 60, 30);
  b->RepeatedClick = true;
  Mouse(b, QEvent::MouseButtonPress, 20, 12);
  EXPECT_EQ(b->State(), bsDown);
  for (int i = 0; i < 20; ++i) Tick(); // 50 ms each
  EXPECT_EQ(Clicks, (std::vector<int>{0, 10, 12, 14, 16, 18, 20}));
  Mouse(b, QEvent::MouseMove, 100, 80, Qt::LeftButton);
  EXPECT_EQ(b->State(), bsUp);
  for (int i = 0; i < 4; ++i) Tick();
  Mouse(b, QEvent::MouseButtonRelease, 100, 80);
  EXPECT_EQ(Clicks.size(), 7u);
  EXPECT_EQ(b->TimerId(1), 0);
}

TEST_F(TButtonFixture, PressesOutsideTheOutlineAreIgnored) {
  TKelShapeButton* b = Make(0, 0, 60, 30);
  int downs = 0;
  b->OnMouseDown = [&](TKelBaseGraphicButton*, Qt::MouseButton, int, int) { ++downs; };
  Mouse(b, QEvent::MouseButtonPress, 0, 0);
  Mouse(b, QEvent::MouseButtonRelease, 0, 0);
  EXPECT_EQ(downs, 0);
  EXPECT_TRUE(Clicks.empty());
  EXPECT_EQ(b->State(), bsUp);
  EXPECT_FALSE(b->PointInShape(59, 29)); // the shadow is not the button
  EXPECT_TRUE(b->PointInShape(30, 12));
}

TEST_F(TButtonFixture, DropDownArrowArea) {
  TKelShapeButton* b = Make(0, 0, 80, 25);
  Parent.show();
  QMenu menu;
  b->SetDropDownMenu(&menu);
  b->ButtonLayout().SetArrow(true);
  int shown = 0, dropped = 0;
  QPoint at;
  TKelBaseGraphicButton::MenuPopup = [&](QMenu&, const QPoint& p) {
    ++shown;
    at = p;
  };
  b->OnDropDown = [&](TKelBaseGraphicButton* sender) {
    ++dropped;
    EXPECT_EQ(sender->State(), bsDropDown);
  };
  Mouse(b, QEvent::MouseButtonPress, 20, 10);
  EXPECT_EQ(b->State(), bsDown);
  Mouse(b, QEvent::MouseButtonRelease, 20, 10);
  EXPECT_EQ(shown, 0);
  Mouse(b, QEvent::MouseButtonPress, 70, 10);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(at, b->mapToGlobal(QPoint(0, 25)));
  EXPECT_EQ(b->State(), bsMouseOver);
  b->DropDownRight = true;
  b->DropDownIndent = 4;
  b->DialogChar();
  EXPECT_EQ(at, b->mapToGlobal(QPoint(80, 4)));
  TKelBaseGraphicButton::MenuPopup = nullptr;
}

TEST_F(TButtonFixture, FormLookPerState) {
  TKelShapeButton* b = Make(10, 10, 75, 25);
  b->SetCaption("OK");
  const QRgb face = qRgb(212, 208, 200), magenta = qRgb(255, 0, 255), silver = qRgb(192, 192, 192),
             shadow = qRgb(128, 128, 128);
  QImage up = Grab(b);
  EXPECT_EQ(up.pixel(4, 10), face);
  EXPECT_EQ(up.pixel(0, 10), magenta); // white light edge keyed out with clWindow
  EXPECT_EQ(up.pixel(71, 11), silver);
  EXPECT_EQ(up.pixel(73, 12), shadow); // shadow strip
  EXPECT_EQ(up.pixel(35, 23), shadow);
  EXPECT_EQ(up.pixel(74, 0), magenta);
  int dark = 0;
  for (int y = 4; y < 18; ++y)
    for (int x = 20; x < 52; ++x) dark += qGray(up.pixel(x, y)) < 80;
  EXPECT_GT(dark, 10); // the caption
  // Under the mouse: grey face.
  Mouse(b, QEvent::MouseMove, 30, 10, Qt::NoButton);
  EXPECT_EQ(b->State(), bsMouseOver);
  EXPECT_NE(b->TimerId(0), 0);
  EXPECT_EQ(Grab(b).pixel(4, 10), qRgb(128, 128, 128));
  // Held down: the face moves 3 pixels into its shadow.
  Mouse(b, QEvent::MouseButtonPress, 30, 10);
  EXPECT_EQ(b->State(), bsDown);
  const QImage down = Grab(b);
  EXPECT_EQ(down.pixel(1, 10), magenta);
  EXPECT_EQ(down.pixel(4, 10), face);
  EXPECT_EQ(down.pixel(74, 12), silver);
  Mouse(b, QEvent::MouseButtonRelease, 30, 10);
  EXPECT_EQ(Clicks.size(), 1u);
}

TEST_F(TButtonFixture, GlyphsDisabledAndFromTheImageList) {
  TKelShapeButton* b = Make(0, 0, 40, 30);
  TBitmap glyph(16, 16, pf24bit);
  KelFillSolidBitmap(glyph, Rect(0, 0, 16, 16), clOlive);
  glyph.Canvas().Brush.Color = clBlack;
  glyph.Canvas().FillRect(Rect(4, 4, 12, 12));
  b->SetGlyph(glyph);
  QImage img = Grab(b);
  EXPECT_EQ(img.pixel(16, 13), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(10, 7), qRgb(212, 208, 200)); // olive left out
  b->setEnabled(false);
  img = Grab(b);
  EXPECT_EQ(img.pixel(16, 13), qRgb(128, 128, 128)); // embossed shadow
  // From the bound list; a list that goes unbinds itself.
  {
    TKelBitmapList list;
    static_cast<TKelBitmapListItem&>(list.AddNew()).SetBitmap(glyph);
    b->setEnabled(true);
    b->SetGlyph(TBitmap());
    b->SetImageList(&list);
    EXPECT_FALSE(b->ListItemMissing());
    EXPECT_EQ(Grab(b).pixel(16, 13), qRgb(0, 0, 0));
  }
  EXPECT_EQ(b->ImageList(), nullptr);
  EXPECT_NE(Grab(b).pixel(16, 13), qRgb(0, 0, 0));
  // A glyph narrower than a pixel per image draws nothing and does not fail.
  TBitmap thin(3, 16, pf24bit);
  b->SetGlyph(thin);
  b->SetNumGlyphs(4);
  EXPECT_NO_THROW(Grab(b));
}

TEST_F(TButtonFixture, AcceleratorKeys) {
  TKelShapeButton* plain = Make(0, 0, 60, 25);
  plain->SetCaption("&Go");
  Parent.show();
  ASSERT_NE(plain->Accelerator(), nullptr);
  EXPECT_EQ(plain->Accelerator()->key(), QKeySequence(Qt::ALT | Qt::Key_G));
  emit plain->Accelerator()->activated();
  EXPECT_EQ(Clicks.size(), 1u);
  // A grouped button toggles; latched without AllowAllUp it stays as it is.
  TKelShapeButton* grouped = Make(70, 0, 60, 25);
  grouped->SetCaption("&Bold");
  grouped->SetGroupIndex(2);
  emit grouped->Accelerator()->activated();
  EXPECT_TRUE(grouped->Pressed());
  EXPECT_EQ(grouped->State(), bsOptionSet);
  emit grouped->Accelerator()->activated();
  EXPECT_TRUE(grouped->Pressed());
  EXPECT_EQ(Clicks.size(), 2u);
  grouped->SetAllowAllUp(true);
  emit grouped->Accelerator()->activated();
  EXPECT_FALSE(grouped->Pressed());
  grouped->SetCaption("Bold");
  EXPECT_EQ(grouped->Accelerator(), nullptr);
  grouped->setEnabled(false);
  plain->setEnabled(false);
  plain->DialogChar();
  EXPECT_EQ(Clicks.size(), 2u);
}
