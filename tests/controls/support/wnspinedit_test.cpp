#include "controls/support/wnspinedit/wnspinedit.h"

#include "controls/support/qocontrols/qocontrols.h"

#include <QApplication>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "beepcounter.h"

using namespace wn;
using platform::TBitmap;

namespace {

QRgb Rgb(platform::TColor c) { return platform::ColorToQRgb(c) | 0xFF000000; }

} // namespace

TEST(WnSpinEdit, TextFollowsTypeDecimalsAndLimits) {
  TWnSpinEdit e;
  EXPECT_EQ(e.text(), "0");
  e.SetMaxValue(30);
  e.SetDecimal(0);
  e.selectAll();
  QTest::keyClicks(&e, "45");
  EXPECT_EQ(e.text(), "30") << "clamped as it is typed";

  struct TCase {
    TValueType Type;
    int Decimals;
    bool Thousands;
    double Value;
    const char* Text;
  };
  TWnSpinEdit f;
  for (TCase c : {TCase{vtFloat, 2, false, 0.125, "0.13"}, {vtFloat, 2, true, 1234567.891, "1,234,567.89"},
                  {vtFloat, 1, false, -2.25, "-2.3"}, {vtFloat, 3, false, 0.0004, "0.000"},
                  {vtInteger, 2, false, 2.5, "3"}, {vtInteger, 2, true, 12345, "12,345"},
                  {vtHex, 2, false, 255, "FF"}, {vtFloat, 0, false, 99.5, "100"}}) {
    f.SetValueType(c.Type);
    f.SetDecimal(c.Decimals);
    f.SetThousands(c.Thousands);
    f.SetValue(c.Value);
    EXPECT_EQ(f.text().toStdString(), c.Text) << c.Value;
  }
  f.SetValueType(vtHex);
  f.setText("ff");
  EXPECT_EQ(f.Value(), 255);
  EXPECT_EQ(f.text(), "FF");
  f.SetValueType(vtFloat);
  f.SetDecimal(2);
  f.SetValue(2.5);
  EXPECT_EQ(f.GetIntegerValue(), 2);
  f.SetValue(3.5);
  EXPECT_EQ(f.GetIntegerValue(), 4);
}

TEST(WnSpinEdit, EmptyTextReadsTheMinimumAndUnlimitedByDefault) {
  TWnSpinEdit e;
  e.SetValue(-1000000);
  EXPECT_EQ(e.text(), "-1000000") << "minimum and maximum 0: no limit";
  e.SetMinValue(5);
  e.SetMaxValue(9);
  e.clear();
  EXPECT_EQ(e.text(), "") << "not reformatted";
  EXPECT_EQ(e.Value(), 5);
}

TEST(WnSpinEdit, ButtonsKeysAndWheelStepTheValue) {
  TWnSpinEdit e;
  e.SetIncrement(2);
  e.resize(80, 22);
  e.show();
  int tops = 0, bottoms = 0, changes = 0;
  e.OnTopClick = [&](QObject*) { ++tops; };
  e.OnBottomClick = [&](QObject*) { ++bottoms; };
  e.OnChange = [&](QObject*) { ++changes; };
  TWnSpinButton* b = e.DiagonalButton();
  ASSERT_NE(b, nullptr);
  const auto corner = [b] { return b->grab().toImage().pixel(1, 1) | 0xFF000000; };
  EXPECT_EQ(corner(), Rgb(platform::clBtnHighlight));
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(e.Value(), 2);
  EXPECT_EQ(corner(), Rgb(platform::clBtnShadow)) << "the upper half shows pressed";
  b->RepeatTick();
  EXPECT_EQ(e.Value(), 4) << "held: the click repeats";
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(2, 2));
  b->RepeatTick();
  EXPECT_EQ(e.Value(), 4);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() - 2, b->height() - 2));
  QTest::keyClick(&e, Qt::Key_Down);
  EXPECT_EQ(e.Value(), 0);
  QWheelEvent up(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(&e, &up);
  EXPECT_EQ(e.Value(), 2);
  EXPECT_EQ(tops, 3);
  EXPECT_EQ(bottoms, 2);
  EXPECT_EQ(changes, 5);

  TBeepCounter beeps;
  e.setReadOnly(true);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::keyClick(&e, Qt::Key_Up);
  EXPECT_EQ(beeps.Count, 2);
  EXPECT_EQ(e.Value(), 2);
  EXPECT_EQ(tops, 3);
}

TEST(WnSpinEdit, ValidCharacters) {
  TWnSpinEdit e;
  struct TCase {
    TValueType Type;
    const char* Text;
    char Key;
    bool Valid;
  };
  for (TCase c : {TCase{vtInteger, "1", '7', true}, {vtInteger, "1", '-', true}, {vtInteger, "1", '.', false},
                  {vtInteger, "1", 'a', false}, {vtFloat, "", '.', true}, {vtFloat, "1.5", '.', false},
                  {vtFloat, "1.5", 'e', true}, {vtHex, "1", 'c', true},
                  {vtHex, "1", 'G', false}, {vtInteger, "1", '\b', true}}) {
    e.SetValueType(c.Type);
    e.setText(c.Text);
    EXPECT_EQ(e.IsValidChar(QChar(c.Key)), c.Valid) << c.Text << " " << c.Key;
  }
  e.SetEditorEnabled(false);
  EXPECT_FALSE(e.IsValidChar(QChar('1')));
  EXPECT_FALSE(e.IsValidChar(QChar('\b')));
  EXPECT_TRUE(e.IsValidChar(QChar('\t')));
}

TEST(WnCustomEdit, GroupsEmptyEachOther) {
  QWidget form;
  auto* a = new TWnSpinEdit(&form);
  auto* b = new TWnSpinEdit(&form);
  auto* c = new TWnSpinEdit(&form);
  a->GroupIndex = b->GroupIndex = 1;
  b->setText("7");
  c->setText("8");
  QTest::keyClick(a, Qt::Key_5);
  EXPECT_EQ(b->text(), "");
  EXPECT_EQ(c->text(), "8") << "no group: nothing emptied";
}

TEST(WnCaret, BitmapResetsTheBarAndChangesWaitForUpdates) {
  TWnCustomEdit e;
  int changes = 0;
  e.Caret().OnChange = [&] { ++changes; };
  e.Caret().SetWidth(3);
  e.Caret().SetHeight(12);
  e.Caret().SetGray(true);
  EXPECT_EQ(changes, 3);
  TBitmap bits(4, 8, platform::pf24bit);
  e.Caret().BeginUpdate();
  e.Caret().SetBitmap(bits);
  EXPECT_EQ(changes, 3);
  e.Caret().EndUpdate();
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(e.Caret().Width(), 0);
  EXPECT_EQ(e.Caret().Height(), 0);
  EXPECT_FALSE(e.Caret().Gray());
  EXPECT_FALSE(e.Caret().IsDefault());
}

TEST(WnSpinButton, DiagonalFaces) {
  TBitmap up, down, face[3];
  TWnSpinButton::BuiltInGlyph(up, true);
  TWnSpinButton::BuiltInGlyph(down, false);
  for (int s = 0; s < 3; ++s) TWnSpinButton::RenderFace(face[s], 20, 20, s, up, down);
  const auto at = [&](int s, int x, int y) { return face[s].ToImage().pixel(x, y) | 0xFF000000; };
  const QRgb frame = Rgb(platform::clWindowFrame), light = Rgb(platform::clBtnHighlight),
             shadow = Rgb(platform::clBtnShadow), faceColour = Rgb(platform::clBtnFace);
  struct TCase {
    int State, X, Y;
    QRgb Colour;
  };
  for (TCase c : {TCase{0, 0, 0, frame}, {0, 19, 19, frame}, {0, 7, 12, frame},   // outline and diagonal
                  {0, 1, 1, light},      {1, 1, 1, shadow},   {2, 1, 1, light},   // upper bevel
                  {0, 5, 13, shadow},    {1, 5, 13, faceColour},                  // inner line of the upper half
                  {0, 10, 10, light},    {2, 10, 10, shadow}, {2, 9, 11, shadow}, // lower half's diagonal edge
                  {0, 18, 10, shadow},   {2, 18, 10, light},
                  {0, 5, 4, 0xFF000000}, {0, 6, 5, 0xFF000000}, {1, 5, 4, faceColour}, {1, 6, 5, 0xFF000000},
                  {1, 7, 6, 0xFF000000}, {0, 3, 4, faceColour},                        // up glyph moves when held
                  {0, 11, 12, 0xFF000000}, {1, 11, 12, 0xFF000000}, {2, 11, 12, 0xFF000000},
                  {2, 13, 14, 0xFF000000}, {0, 11, 15, faceColour}})                   // the down glyph stays
    EXPECT_EQ(at(c.State, c.X, c.Y), c.Colour) << c.State << " (" << c.X << "," << c.Y << ")";
}

TEST(WnSpinButton, HalvesAndTheEmptyButton) {
  TWnSpinButton b;
  b.resize(20, 20);
  EXPECT_EQ(b.HalfAt(0, 19), TWnSpinButton::shUpper);
  EXPECT_EQ(b.HalfAt(10, 10), TWnSpinButton::shUpper);
  EXPECT_EQ(b.HalfAt(10, 11), TWnSpinButton::shLower);
  EXPECT_EQ(b.HalfAt(19, 2), TWnSpinButton::shLower);
  b.resize(0, 20);
  EXPECT_EQ(b.HalfAt(0, 5), TWnSpinButton::shUpper) << "no width, no division";
  EXPECT_TRUE(b.Face(0).Empty());
}
