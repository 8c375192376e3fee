#include "app/toolbox.h"

#include "controls/kel/kelshapebutton.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"
#include "image/model/rastrumproc.h"

#include <QComboBox>
#include <QLineEdit>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace app;

namespace {

struct TFakeHost : TToolBoxHost {
  void RotateImage(int Angle) override { Calls.push_back("rotate " + std::to_string(Angle)); }
  void FlipImage(int Direction) override { Calls.push_back("flip " + std::to_string(Direction)); }
  void ResizeImage(int Width, int Height) override {
    Calls.push_back("resize " + std::to_string(Width) + "x" + std::to_string(Height));
    Size = QSize(Width, Height);
  }
  void ReloadImage() override { Calls.push_back("reload"); }
  void SaveModifiedImage() override { Calls.push_back("save"); }
  bool HasImage() const override { return Picture; }
  bool IsImageModified() const override { return Modified; }
  bool IsNewImage() const override { return NewImage; }
  QSize PictureSize() const override { return Size; }

  std::vector<std::string> Calls;
  QSize Size{640, 480};
  bool Picture = true, Modified = false, NewImage = false;
};

class ToolBoxTest : public ::testing::Test {
protected:
  void SetUp() override {
    Box.Host = &Host;
    Box.ResetToolBoxSizeFields();
    Box.UpdateToolBoxState(true);
    Box.show();
  }
  void Type(QLineEdit* box, const char* text) {
    box->selectAll();
    QTest::keyClicks(box, text);
  }
  TFakeHost Host;
  TToolBox Box;
};

} // namespace

TEST_F(ToolBoxTest, ConstrainedBoxesFollowEachOther) {
  EXPECT_EQ(Box.windowTitle(), "Image Tools");
  EXPECT_EQ(Box.EditWidth->text(), "640");
  struct TCase {
    int WidthUnit, HeightUnit;
    const char* Typed;
    bool IntoWidth;
    const char* Other;
  };
  for (TCase c : {TCase{0, 0, "320", true, "240"}, {1, 0, "50", true, "240"}, {1, 1, "75", true, "75"},
                  {0, 1, "120", false, "768"}, {0, 0, "481", false, "641"}}) {
    Box.CmbWidthType->setCurrentIndex(c.WidthUnit);
    Box.CmbHeightType->setCurrentIndex(c.HeightUnit);
    Box.ResetToolBoxSizeFields();
    Type(c.IntoWidth ? Box.EditWidth : Box.EditHeight, c.Typed);
    EXPECT_EQ((c.IntoWidth ? Box.EditHeight : Box.EditWidth)->text().toStdString(), c.Other) << c.Typed;
  }
  Box.CbProportional->SetChecked(false);
  Box.CmbWidthType->setCurrentIndex(0);
  Box.CmbHeightType->setCurrentIndex(0);
  Box.ResetToolBoxSizeFields();
  Type(Box.EditWidth, "100");
  EXPECT_EQ(Box.EditHeight->text(), "480");
}

TEST_F(ToolBoxTest, UnitsConvertAndKeysAreFiltered) {
  Type(Box.EditWidth, "3a2-0");
  EXPECT_EQ(Box.EditWidth->text(), "320");
  // The boxes' own editing keys are no characters: Ctrl+A selects the
  // text, so that the next digit replaces it, and Ctrl+Z takes it back.
  Type(Box.EditWidth, "2400");
  QTest::keyClick(Box.EditWidth, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(Box.EditWidth, Qt::Key_0);
  EXPECT_EQ(Box.EditWidth->text(), "0");
  QTest::keyClick(Box.EditWidth, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Box.EditWidth->text(), "2400");
  Type(Box.EditWidth, "320");
  Box.CmbWidthType->setCurrentIndex(1);
  EXPECT_EQ(Box.EditWidth->text(), "50");
  EXPECT_EQ(Box.WidthInPixels(), 320);
  Box.CmbWidthType->setCurrentIndex(0);
  EXPECT_EQ(Box.EditWidth->text(), "320");
}

// A size the main window cannot make (none, too large) is offered all the
// same: the main window says why it refuses it.
TEST_F(ToolBoxTest, ResizeOfferedOnlyForANewSizeOfPixels) {
  EXPECT_FALSE(Box.SBtnResize->isEnabled()) << "100 percent both ways";
  EXPECT_FALSE(Box.SBtnResetSizes->isEnabled());
  Box.CbProportional->SetChecked(false);
  struct TCase {
    const char* Width;
    bool Resize;
  };
  for (TCase c : {TCase{"320", true}, {"0", true}, {"12.5", true}, {"", true}, {"2000000", true}}) {
    Type(Box.EditWidth, c.Width);
    EXPECT_EQ(Box.SBtnResize->isEnabled(), c.Resize) << c.Width;
    EXPECT_TRUE(Box.SBtnResetSizes->isEnabled()) << c.Width;
  }
  Type(Box.EditWidth, "320");
  Type(Box.EditHeight, "200");
  Box.SBtnResize->Click();
  EXPECT_EQ(Host.Calls.back(), "resize 320x200");
  EXPECT_EQ(Box.EditWidth->text(), "320") << "fields reset to the new picture";
  EXPECT_FALSE(Box.SBtnResize->isEnabled());
}

TEST_F(ToolBoxTest, CommandsAndStates) {
  for (kel::TKelShapeButton* b : {Box.SBtnRotateCW, Box.SBtnRotateCCW, Box.SBtnRotateFull, Box.SBtnFlipHorz,
                                  Box.SBtnFlipVert, Box.SBtnReload})
    b->Click();
  EXPECT_EQ(Host.Calls, (std::vector<std::string>{"rotate 90", "rotate -90", "rotate 180", "flip 0", "flip 1",
                                                  "reload"}));
  EXPECT_FALSE(Box.SBtnSave->isEnabled());
  Host.Modified = true;
  Host.NewImage = true;
  Box.UpdateToolBoxState(true);
  EXPECT_TRUE(Box.SBtnSave->isEnabled());
  EXPECT_FALSE(Box.SBtnReload->isEnabled()) << "a scanned picture has no file";

  Host.Picture = false;
  Box.UpdateToolBoxState(false);
  for (QWidget* w : std::initializer_list<QWidget*>{Box.SBtnRotateCW, Box.SBtnFlipVert, Box.EditWidth, Box.CmbHeightType,
                                                    Box.CbProportional, Box.SBtnResize, Box.SBtnResetSizes,
                                                    Box.SBtnReload, Box.SBtnSave})
    EXPECT_FALSE(w->isEnabled());
  EXPECT_TRUE(Box.SBtnCancel->isEnabled());
  QTest::keyClick(&Box, Qt::Key_Escape);
  EXPECT_FALSE(Box.isVisible());
}
