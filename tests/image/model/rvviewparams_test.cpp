#include "image/model/rvpalettedlg.h"
#include "image/model/rvviewparams.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <vector>

namespace {

using namespace rv;

TEST(ViewParams, Defaults) {
  TRvScrollBarParams bar;
  EXPECT_EQ(bar.LineStep, -1);
  EXPECT_EQ(bar.PageStep, -1);
  EXPECT_TRUE(bar.Tracking);
  // A new wheel zooms by 8 % of the current zoom per notch.
  TRvMouseWheelParams wheel;
  EXPECT_FALSE(wheel.InvertDirection);
  EXPECT_EQ(wheel.Action, 2);
  EXPECT_EQ(wheel.Variation, 1);
  EXPECT_EQ(wheel.Value, 8);
  EXPECT_FALSE(wheel.ZoomPosition);
}

class PaletteDialog : public ::testing::Test {
protected:
  PaletteDialog() {
    for (int i = 0; i < 256; ++i) Entries.push_back(TRGB{static_cast<std::uint8_t>(i), 0x20, 0x10});
    Dialog.SetPalette(Entries.data(), 40);
  }
  std::vector<TRGB> Entries;
  TRastrumPaletteDialog Dialog;
};

TEST_F(PaletteDialog, Form) {
  EXPECT_EQ(Dialog.width(), 539);
  EXPECT_EQ(Dialog.height(), 199);
  EXPECT_TRUE(Dialog.windowTitle().isEmpty());
  EXPECT_EQ(Dialog.CancelButton()->text(), "&Cancel");
  EXPECT_EQ(Dialog.CancelButton()->geometry().topLeft(), QPoint(8, 144));
  EXPECT_EQ(Dialog.Selected(), -1);
  Dialog.SetPalette(Entries.data(), 300);
  EXPECT_EQ(Dialog.Count(), 256);
}

TEST_F(PaletteDialog, CellsOfTheGrid) {
  // Index = ((Y - 1) div 16) x 32 + (X - 1) div 16.
  EXPECT_EQ(Dialog.EntryAt(1, 1), 0);
  EXPECT_EQ(Dialog.EntryAt(16, 16), 0);
  EXPECT_EQ(Dialog.EntryAt(17, 1), 1);
  EXPECT_EQ(Dialog.EntryAt(1, 17), 32);
  EXPECT_EQ(Dialog.EntryAt(512, 17), -1); // entry 63: beyond the 40 entries
  Dialog.SetPalette(Entries.data(), 256);
  EXPECT_EQ(Dialog.EntryAt(512, 17), 63);
  // Right of the grid is no cell, not the next row's first entry (64).
  EXPECT_EQ(Dialog.EntryAt(513, 17), -1);
  EXPECT_EQ(Dialog.EntryAt(530, 17), -1);
}

TEST_F(PaletteDialog, PointingSelectsAndTheEmptyPartKeepsTheSelection) {
  Dialog.FormMouseMove(20, 5);
  EXPECT_EQ(Dialog.Selected(), 1);
  Dialog.FormMouseMove(20, 20); // entry 33
  EXPECT_EQ(Dialog.Selected(), 33);
  Dialog.FormMouseMove(300, 40); // entry 82, not in the palette
  EXPECT_EQ(Dialog.Selected(), 33);
  Dialog.FormMouseMove(520, 5); // right of the grid
  EXPECT_EQ(Dialog.Selected(), 33);
  // Through a real mouse event as well.
  QMouseEvent move(QEvent::MouseMove, QPointF(40, 5), QPointF(40, 5), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(&Dialog, &move);
  EXPECT_EQ(Dialog.Selected(), 2);
}

TEST_F(PaletteDialog, ClickAnswersTheSelectedColour) {
  Dialog.FormMouseMove(40, 5);
  Dialog.FormClick(40, 5);
  EXPECT_EQ(Dialog.result(), QDialog::Accepted);
  // Entry 2 is blue 2, green 0x20, red 0x10: the colour 0x00BBGGRR.
  EXPECT_EQ(Dialog.Color(), 0x022010);
}

TEST_F(PaletteDialog, ClickRightOfTheGridChoosesNothing) {
  Dialog.SetPalette(Entries.data(), 256);
  Dialog.FormMouseMove(500, 5); // entry 31
  Dialog.setResult(-1);
  Dialog.FormMouseMove(525, 5);
  Dialog.FormClick(525, 5);
  EXPECT_EQ(Dialog.result(), -1); // still open
  EXPECT_EQ(Dialog.Selected(), 31);
  EXPECT_EQ(Dialog.Color(), platform::clBlack);
}

TEST_F(PaletteDialog, ClickBeforeAnyPointingIsACancel) {
  Dialog.setResult(-1);
  Dialog.FormClick(5, 5);
  EXPECT_EQ(Dialog.result(), QDialog::Rejected);
}

TEST_F(PaletteDialog, ExecuteAnswersFalseOnCancel) {
  QTimer::singleShot(0, &Dialog, [this] { Dialog.CancelButton()->click(); });
  EXPECT_FALSE(Dialog.Execute());
  QTimer::singleShot(0, &Dialog, [this] { Dialog.close(); });
  EXPECT_FALSE(Dialog.Execute());
  QTimer::singleShot(0, &Dialog, [this] {
    Dialog.FormMouseMove(20, 20);
    Dialog.FormClick(20, 20);
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Dialog.Color(), 0x212010); // entry 33
}

TEST_F(PaletteDialog, PaintsCellsWithTheSelectionFramedInBlack) {
  Dialog.FormMouseMove(20, 5); // entry 1
  const QImage shot = Dialog.grab().toImage();
  // Cell 0 is framed in white at (1, 1) .. (15, 15) and filled inside.
  EXPECT_EQ(shot.pixel(1, 1), qRgb(255, 255, 255));
  EXPECT_EQ(shot.pixel(15, 15), qRgb(255, 255, 255));
  EXPECT_EQ(shot.pixel(8, 8), qRgb(0x10, 0x20, 0));
  // Cell 1, selected, from (17, 1).
  EXPECT_EQ(shot.pixel(17, 1), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(31, 15), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(24, 8), qRgb(0x10, 0x20, 1));
  // The cell's right and bottom edge stay unpainted (column 16, row 16).
  EXPECT_NE(shot.pixel(16, 8), qRgb(255, 255, 255));
}

} // namespace
