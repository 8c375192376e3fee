#include "controls/support/qrcheckbox/qrcheckbox.h"

#include "platform/colors.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QShortcutEvent>
#include <gtest/gtest.h>

using namespace wn;

namespace {

void Mouse(TQrCheckBox& box, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton) {
  const QPointF pos(5, 5);
  QMouseEvent event(type, pos, box.mapToGlobal(pos), button,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
  QApplication::sendEvent(&box, &event);
}

void Click(TQrCheckBox& box) {
  Mouse(box, QEvent::MouseButtonPress);
  Mouse(box, QEvent::MouseButtonRelease);
}

QRgb Classic(platform::TColor color) {
  const std::uint32_t rgb = platform::ColorToRGB(color);
  return qRgb(platform::GetRValue(rgb), platform::GetGValue(rgb), platform::GetBValue(rgb));
}

// The program's boxes: 90 x 17, no caption so that only the glyph is drawn.
QImage Painted(TCheckStyle style, TCheckBoxState state) {
  TQrCheckBox box;
  box.resize(90, 17);
  box.SetAllowGrayed(true);
  box.SetStyle(style);
  box.SetState(state);
  return box.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

struct TCounts {
  int Change = 0;
  int Click = 0;
  int Down = 0;
  int Up = 0;
};

void Count(TQrCheckBox& box, TCounts& counts) {
  box.OnChange = [&counts](TQrCheckBox*) { ++counts.Change; };
  box.OnClick = [&counts](TQrCheckBox*) { ++counts.Click; };
  box.OnMouseDown = [&counts](TQrCheckBox*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++counts.Down; };
  box.OnMouseUp = [&counts](TQrCheckBox*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++counts.Up; };
}

} // namespace

TEST(QrCheckBox, CreationValues) {
  TQrCheckBox box;
  EXPECT_EQ(box.width(), 90);
  EXPECT_EQ(box.height(), 15);
  EXPECT_EQ(box.Alignment(), taLeftJustify);
  EXPECT_FALSE(box.AllowGrayed());
  EXPECT_FALSE(box.AutoSize());
  EXPECT_EQ(box.Color(), platform::clBtnFace);
  EXPECT_FALSE(box.Checked());
  EXPECT_EQ(box.State(), cbUnchecked);
  EXPECT_EQ(box.CheckSize(), 13);
  EXPECT_EQ(box.Spacing(), 4);
  EXPECT_EQ(box.Style(), csCheckBox);
  EXPECT_FALSE(box.Transparent());
  EXPECT_FALSE(box.WordWrap());
}

TEST(QrCheckBox, CheckedAndStateFollowEachOther) {
  TQrCheckBox box;
  TCounts counts;
  Count(box, counts);
  box.SetChecked(false);
  EXPECT_EQ(counts.Change, 0) << "setting the current value fires nothing";
  box.SetChecked(true);
  EXPECT_EQ(box.State(), cbChecked);
  EXPECT_EQ(counts.Change, 1);
  box.SetState(cbGrayed);
  EXPECT_TRUE(box.Checked()) << "grayed keeps Checked as it was";
  box.SetState(cbUnchecked);
  EXPECT_FALSE(box.Checked());
  box.SetState(cbGrayed);
  EXPECT_FALSE(box.Checked());
  EXPECT_EQ(counts.Change, 4);
  EXPECT_EQ(counts.Click, 0);
}

TEST(QrCheckBox, PressChecksReleaseUnchecks) {
  TQrCheckBox box;
  TCounts counts;
  Count(box, counts);
  Mouse(box, QEvent::MouseButtonPress);
  EXPECT_EQ(box.State(), cbChecked) << "checked on the press";
  EXPECT_EQ(counts.Click, 1);
  Mouse(box, QEvent::MouseButtonRelease);
  EXPECT_EQ(box.State(), cbChecked) << "the release of the same press changes nothing";
  EXPECT_EQ(counts.Click, 1);
  Mouse(box, QEvent::MouseButtonPress);
  EXPECT_EQ(box.State(), cbChecked);
  Mouse(box, QEvent::MouseButtonRelease);
  EXPECT_EQ(box.State(), cbUnchecked);
  EXPECT_EQ(counts.Click, 2);
  EXPECT_EQ(counts.Down, 2);
  EXPECT_EQ(counts.Up, 2);
}

TEST(QrCheckBox, ThreeStateClicks) {
  TQrCheckBox box;
  box.SetAllowGrayed(true);
  box.SetChecked(true);
  Click(box);
  EXPECT_EQ(box.State(), cbGrayed);
  EXPECT_TRUE(box.Checked());
  Click(box);
  EXPECT_EQ(box.State(), cbUnchecked);
  Click(box);
  EXPECT_EQ(box.State(), cbChecked);
}

TEST(QrCheckBox, RightButtonOnlyFiresMouseEvents) {
  TQrCheckBox box;
  TCounts counts;
  Count(box, counts);
  Mouse(box, QEvent::MouseButtonPress, Qt::RightButton);
  Mouse(box, QEvent::MouseButtonRelease, Qt::RightButton);
  EXPECT_EQ(box.State(), cbUnchecked);
  EXPECT_EQ(counts.Down, 1);
  EXPECT_EQ(counts.Up, 1);
  EXPECT_EQ(counts.Click, 0);
}

TEST(QrCheckBox, DisabledIgnoresTheMouse) {
  TQrCheckBox box;
  TCounts counts;
  Count(box, counts);
  box.setEnabled(false);
  Click(box);
  EXPECT_EQ(box.State(), cbUnchecked);
  EXPECT_EQ(counts.Down + counts.Up + counts.Click, 0);
}

TEST(QrCheckBox, AcceleratorAdvancesTheState) {
  TQrCheckBox box;
  TCounts counts;
  Count(box, counts);
  box.SetCaption(QStringLiteral("&Do not prompt me again."));
  EXPECT_FALSE(box.DialogChar(QLatin1Char('x')));
  EXPECT_TRUE(box.DialogChar(QLatin1Char('d')));
  EXPECT_EQ(box.State(), cbChecked);
  EXPECT_TRUE(box.DialogChar(QLatin1Char('D')));
  EXPECT_EQ(box.State(), cbUnchecked);
  box.SetAllowGrayed(true);
  box.DialogChar(QLatin1Char('d'));
  box.DialogChar(QLatin1Char('d'));
  EXPECT_EQ(box.State(), cbGrayed);
  box.DialogChar(QLatin1Char('d'));
  EXPECT_EQ(box.State(), cbUnchecked);
  EXPECT_EQ(counts.Click, 5);
  box.setEnabled(false);
  box.DialogChar(QLatin1Char('d'));
  EXPECT_EQ(counts.Click, 5) << "no click event while disabled";

  TQrCheckBox plain;
  plain.SetCaption(QStringLiteral("Fish && Chips"));
  EXPECT_FALSE(plain.DialogChar(QLatin1Char('c')));
  EXPECT_TRUE(AcceleratorChar(QStringLiteral("Fish && Chips")).isNull());
  EXPECT_EQ(AcceleratorChar(QStringLiteral("a&&b&c")), QLatin1Char('c'));
}

TEST(QrCheckBox, KeyboardShortcutToggles) {
  TQrCheckBox box;
  box.SetCaption(QStringLiteral("Constrain &Proportions"));
  // Shortcut ids are handed out in sequence: the box's is one step before
  // the first probe's.
  QWidget probe;
  const int first = probe.grabShortcut(QKeySequence(Qt::ALT | Qt::Key_P));
  const int second = probe.grabShortcut(QKeySequence(Qt::ALT | Qt::Key_Q));
  QShortcutEvent own(QKeySequence(Qt::ALT | Qt::Key_P), first - (second - first));
  QApplication::sendEvent(&box, &own);
  EXPECT_EQ(box.State(), cbChecked);
}

TEST(QrCheckBox, AutoSizeMeasuresTheCaption) {
  TQrCheckBox box;
  box.move(7, 9);
  box.SetAutoSize(true);
  const QFontMetrics metrics(box.font());
  EXPECT_EQ(box.width(), metrics.horizontalAdvance(QLatin1Char(' ')) + 13 + 4 + 2) << "empty caption as a blank";
  EXPECT_EQ(box.height(), metrics.height() + 2);
  box.SetCaption(QStringLiteral("&"));
  EXPECT_EQ(box.width(), metrics.horizontalAdvance(QLatin1Char(' ')) + 19);
  const int before = box.width();
  box.SetSpacing(10);
  EXPECT_EQ(box.width(), before + 6);
  EXPECT_EQ(box.pos(), QPoint(7, 9));
}

TEST(QrCheckBox, PaintedCheckBox) {
  const QRgb face = Classic(platform::clBtnFace);
  const QImage off = Painted(csCheckBox, cbUnchecked);
  // Glyph at (0, 2): sunken frame, white inside.
  EXPECT_EQ(off.pixel(0, 2), Classic(platform::clBtnShadow));
  EXPECT_EQ(off.pixel(1, 3), Classic(platform::cl3DDkShadow));
  EXPECT_EQ(off.pixel(12, 14), Classic(platform::clBtnHighlight));
  EXPECT_EQ(off.pixel(11, 13), Classic(platform::cl3DLight));
  EXPECT_EQ(off.pixel(5, 9), qRgb(255, 255, 255));
  EXPECT_EQ(off.pixel(40, 0), face);
  EXPECT_EQ(off.pixel(13, 8), face);

  const QImage on = Painted(csCheckBox, cbChecked);
  // The tick: columns 3 to 9, three pixels high, lowest at column 5.
  EXPECT_EQ(on.pixel(3, 7), qRgb(0, 0, 0));
  EXPECT_EQ(on.pixel(5, 11), qRgb(0, 0, 0));
  EXPECT_EQ(on.pixel(9, 5), qRgb(0, 0, 0));
  EXPECT_EQ(on.pixel(3, 10), qRgb(255, 255, 255));
  EXPECT_EQ(on.pixel(9, 8), qRgb(255, 255, 255));
  EXPECT_EQ(on.pixel(10, 4), qRgb(255, 255, 255));

  const QImage gray = Painted(csCheckBox, cbGrayed);
  EXPECT_EQ(gray.pixel(5, 11), Classic(platform::clBtnShadow));
  EXPECT_EQ(gray.pixel(3, 10), face);
}

TEST(QrCheckBox, PaintedDiamond) {
  // Glyph (0, 2, 13, 15), half 6: corners (6, 2), (0, 8), (6, 14), (12, 8).
  const QImage off = Painted(csDiamond, cbUnchecked);
  EXPECT_EQ(off.pixel(3, 5), qRgb(255, 255, 255));
  EXPECT_EQ(off.pixel(3, 11), qRgb(255, 255, 255));
  EXPECT_EQ(off.pixel(9, 11), Classic(platform::clBtnShadow));
  EXPECT_EQ(off.pixel(9, 5), Classic(platform::clBtnShadow));
  EXPECT_EQ(off.pixel(6, 8), Classic(platform::clBtnFace)) << "only the outline when unchecked";

  const QImage on = Painted(csDiamond, cbChecked);
  EXPECT_EQ(on.pixel(3, 5), Classic(platform::clBtnShadow));
  EXPECT_EQ(on.pixel(9, 11), qRgb(255, 255, 255));
  EXPECT_EQ(on.pixel(6, 8), qRgb(0, 0, 0));
  EXPECT_EQ(Painted(csDiamond, cbGrayed).pixel(6, 8), qRgb(0x80, 0x80, 0x80));
}

TEST(QrCheckBox, PaintedTrafficLight) {
  EXPECT_EQ(Painted(csTrafficLight, cbUnchecked).pixel(6, 8), qRgb(0, 255, 0));
  EXPECT_EQ(Painted(csTrafficLight, cbChecked).pixel(6, 8), qRgb(255, 0, 0));
  const QImage gray = Painted(csTrafficLight, cbGrayed);
  EXPECT_EQ(gray.pixel(6, 8), qRgb(255, 255, 0));
  EXPECT_EQ(gray.pixel(0, 8), Classic(platform::clBtnShadow)) << "dark rim on the left";
  EXPECT_EQ(gray.pixel(12, 8), Classic(platform::clBtnHighlight)) << "light rim on the right";
  EXPECT_EQ(gray.pixel(1, 8), qRgb(0, 0, 0)) << "black outline inside the rim";
}

TEST(QrCheckBox, RightJustifiedGlyph) {
  TQrCheckBox box;
  box.resize(90, 17);
  box.SetAlignment(taRightJustify);
  const QImage image = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(image.pixel(77, 2), Classic(platform::clBtnShadow));
  EXPECT_EQ(image.pixel(0, 2), Classic(platform::clBtnFace));
}

TEST(QrCheckBox, TransparentShowsTheParent) {
  QWidget parent;
  parent.resize(100, 20);
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(10, 20, 30));
  parent.setPalette(pal);
  parent.setAutoFillBackground(true);
  auto* box = new TQrCheckBox(&parent);
  box->resize(90, 17);
  box->SetTransparent(true);
  QImage image = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(image.pixel(40, 0), qRgb(10, 20, 30));
  box->SetTransparent(false);
  image = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(image.pixel(40, 0), Classic(platform::clBtnFace));
}

TEST(QrCheckBox, DisabledCaptionIsEmbossed) {
  TQrCheckBox box;
  box.resize(200, 17);
  box.SetCaption(QStringLiteral("Do not prompt me again."));
  const auto count = [&box](int& light, int& dark) {
    const QImage image = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    light = dark = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 17; x < image.width(); ++x) {
        light += image.pixel(x, y) == qRgb(255, 255, 255);
        dark += image.pixel(x, y) == Classic(platform::clInactiveCaption);
      }
  };
  int light = 0, dark = 0;
  count(light, dark);
  EXPECT_EQ(light, 0);
  box.setEnabled(false);
  count(light, dark);
  EXPECT_GT(light, 0) << "the highlight copy shows below right";
  EXPECT_GT(dark, 10);
}
