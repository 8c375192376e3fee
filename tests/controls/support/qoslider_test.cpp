#include "controls/support/qoslider/qoslider.h"

#include <QApplication>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "beepcounter.h"

using namespace wn;
using platform::TColor;

namespace {

constexpr QRgb Black = 0xFF000000;

QRgb Pixel(const TQoSlider& s, int x, int y) { return s.PaintBitmap().ToImage().pixel(x, y) | 0xFF000000; }

// A slider whose client area is the whole widget.
std::unique_ptr<TQoSlider> Bare(int w, int h, double max = 100, double step = 1) {
  auto s = std::make_unique<TQoSlider>();
  s->SetBorderStyle(bsNone);
  s->resize(w, h);
  s->SetMax(max);
  s->SetStep(step);
  return s;
}

} // namespace

TEST(QoSlider, ThumbSizes) {
  for (auto [size, thumb] : {std::pair{121, 9}, {50, 7}, {100, 9}, {200, 17}, {7, 7}, {0, 7}})
    EXPECT_EQ(TQoSlider::ThumbSizeFor(size), thumb) << size;
}

TEST(QoSlider, DenseStepsDrawTwentyThreeMarksFivePixelsApart) {
  auto s = Bare(121, 20);
  s->RenderBitmap();
  EXPECT_EQ(s->ThumbSize(), 9);
  std::vector<int> marks;
  for (int x = 0; x < 121; ++x)
    if (Pixel(*s, x, 0) == Black) marks.push_back(x);
  ASSERT_EQ(marks.size(), 23u);
  for (std::size_t i = 0; i < marks.size(); ++i) EXPECT_EQ(marks[i], 4 + 5 * static_cast<int>(i));
  EXPECT_EQ(Pixel(*s, 4, 4), Black) << "a mark is a quarter of the height";
  EXPECT_NE(Pixel(*s, 4, 5), Black);
}

TEST(QoSlider, SparseStepsMarkEveryValueAndThumbFollowsPosition) {
  auto s = Bare(121, 20, 10, 1);
  s->SetPosition(5);
  s->RenderBitmap();
  std::vector<int> marks;
  for (int x = 0; x < 121; ++x)
    if (Pixel(*s, x, 0) == Black) marks.push_back(x);
  // round(k * 11.1) + 4, halves to even: 55.5 gives 56.
  EXPECT_EQ(marks, (std::vector<int>{4, 15, 26, 37, 48, 60, 71, 82, 93, 104, 115}));
  // Thumb of 9 at round(0.5 * 111) = 56 in the lower half; its pointer in the mark colour.
  EXPECT_EQ(s->ThumbRect().Left, 56);
  EXPECT_EQ(s->ThumbRect().Top, 10);
  EXPECT_EQ(s->ThumbRect().Right, 65);
  for (int y = 10; y < 15; ++y) EXPECT_EQ(Pixel(*s, 60, y), Black) << y;
  EXPECT_EQ(Pixel(*s, 58, 17), platform::ColorToQRgb(platform::clBtnFace) | 0xFF000000);
  EXPECT_EQ(Pixel(*s, 50, 15), 0xFFFFFFFF) << "the window colour beside the thumb";

  s->SetOrientation(soVertical);
  s->RenderBitmap();
  EXPECT_EQ(s->width(), 20);
  EXPECT_EQ(s->ThumbRect().Left, 10);
  EXPECT_EQ(s->ThumbRect().Bottom, 121 - 56) << "values grow upwards";
}

TEST(QoSlider, PositionsLimitsAndSteps) {
  auto s = Bare(121, 20, 100, 5);
  int changes = 0;
  s->OnChange = [&](QObject*) { ++changes; };
  for (auto [in, out] : {std::pair{12.0, 10.0}, {12.5, 10.0}, {13.0, 15.0}, {17.5, 20.0}, {400.0, 100.0}, {-3.0, 0.0}}) {
    s->SetPosition(in);
    EXPECT_EQ(s->Position(), out) << in;
  }
  EXPECT_EQ(changes, 6);
  s->SetStep(0);
  EXPECT_EQ(s->Step(), 1);
  s->SetStep(-2);
  EXPECT_EQ(s->Step(), 2) << "a negative step counts as its size";
  try {
    s->SetMax(0);
    FAIL();
  } catch (const EQoException& e) {
    EXPECT_STREQ(e.what(), "Invalid value - Maximum must always be greater than Minimum");
  }
  EXPECT_EQ(s->Max(), 100);
  EXPECT_THROW(s->SetMin(100), EQoException);
}

TEST(QoSlider, MouseAndKeys) {
  auto s = Bare(121, 20);
  s->show();
  s->RenderBitmap();
  QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(100, 15));
  EXPECT_EQ(s->Position(), 1) << "a press right of the thumb steps up";
  s->SetPosition(0);
  s->RenderBitmap();
  QTest::mousePress(s.get(), Qt::LeftButton, {}, QPoint(4, 15));
  EXPECT_TRUE(s->Dragging());
  QTest::mouseMove(s.get(), QPoint(59, 15));
  EXPECT_EQ(s->Position(), 50) << "100 / 111 x 55, rounded";
  QTest::mouseRelease(s.get(), Qt::LeftButton, {}, QPoint(59, 15));
  EXPECT_FALSE(s->Dragging());

  struct TKey {
    int Key;
    double Expected;
  };
  for (TKey k : {TKey{Qt::Key_End, 100}, {Qt::Key_Left, 99}, {Qt::Key_Home, 0}, {Qt::Key_Right, 1}, {Qt::Key_Plus, 2},
                 {Qt::Key_Minus, 1}, {Qt::Key_Up, 1}}) {
    QTest::keyClick(s.get(), static_cast<Qt::Key>(k.Key));
    EXPECT_EQ(s->Position(), k.Expected) << k.Key;
  }
}

TEST(QoSlider, OnePixelOfTravelDividesByNothing) {
  auto s = Bare(8, 20, 10, 1);
  s->SetPosition(7);
  s->RenderBitmap();
  EXPECT_EQ(s->ThumbRect().Left, 0);
  s->show();
  QTest::mousePress(s.get(), Qt::LeftButton, {}, QPoint(2, 15));
  QTest::mouseMove(s.get(), QPoint(6, 15));
  EXPECT_EQ(s->Position(), 0);
}

TEST(QoSliderEdit, ValuesReadFromTheText) {
  TQoSliderEdit e;
  e.Validate = true;
  e.SetPopupMax(100);
  struct TCase {
    const char* Text;
    double Value;
  };
  for (TCase c : {TCase{"64 px", 64}, {"100", 100}, {"-0", 0}, {"1e1", 11}}) {
    e.setText(c.Text);
    EXPECT_EQ(e.Value(), c.Value) << c.Text;
  }
  e.setText("12.5");
  EXPECT_EQ(e.GetIntegerValue(), 12);
  e.setText("150");
  try {
    e.Value();
    FAIL();
  } catch (const EQoException& error) {
    EXPECT_STREQ(error.what(), "Value is not within required range\r[0, 100]");
  }
  e.setText("px");
  EXPECT_THROW(e.Value(), EConvertError);
  EXPECT_THROW(e.SetPopupMax(0), EQoException);
  EXPECT_EQ(e.PopupMax(), 100);
}

TEST(QoSliderEdit, LeavingWithAValueOutOfRangeReportsItAndKeepsTheText) {
  QWidget form;
  auto* e = new TQoSliderEdit(&form);
  auto* next = new QLineEdit(&form);
  next->move(0, 40);
  e->Validate = true;
  e->SetPopupMax(100);
  std::vector<std::string> errors;
  e->OnValidateError = [&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& x) {
      errors.push_back(x.what());
    }
  };
  form.show();
  QApplication::setActiveWindow(&form);
  e->setFocus();
  QTest::keyClicks(e, "150");
  next->setFocus();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Value is not within required range\r[0, 100]");
  EXPECT_EQ(e->text(), "150");
  e->setFocus();
  e->setText("100");
  e->setModified(true);
  next->setFocus();
  EXPECT_EQ(errors.size(), 1u);
}

TEST(QoSliderEdit, TypedKeys) {
  TBeepCounter beeps;
  TQoSliderEdit e;
  QTest::keyClicks(&e, "1a2 */");
  EXPECT_EQ(e.text(), "12*/");
  EXPECT_EQ(beeps.Count, 2);
  e.AllowIncDec = true;
  e.setText("");
  QTest::keyClick(&e, Qt::Key_Plus);
  EXPECT_EQ(e.text(), "1");
  e.setText("7.5");
  QTest::keyClick(&e, Qt::Key_Minus);
  EXPECT_EQ(e.text(), "6.5");
}

TEST(QoSliderEdit, PopupPlacement) {
  const QRect screen(0, 0, 800, 600);
  const QSize slider(121, 20);
  struct TCase {
    QPoint Anchor;
    QPoint Expected;
  };
  for (TCase c : {TCase{{100, 200}, {100, 200}},
                  {{100, 580}, {100, 580 - 20 - 21}},   // no room below: above the edit
                  {{700, 200}, {800 - 121 - 1, 200}},   // ends one pixel inside the right edge
                  {{-2, 200}, {1, 200}},
                  {{0, 200}, {1, 200}}})
    EXPECT_EQ(TQoCustomSliderEdit::PopupPlace(c.Anchor, slider, 21, screen), c.Expected) << c.Anchor.x() << ","
                                                                                            << c.Anchor.y();
}

TEST(QoSliderEdit, PopupOpensAtMinimumFollowsTheSliderAndClosesOnEscape) {
  QWidget form;
  form.resize(300, 200);
  auto* e = new TQoSliderEdit(&form);
  e->setGeometry(20, 20, 57, 21);
  e->SetPopupMax(50);
  e->SetPopupMin(10);
  form.show();
  QApplication::setActiveWindow(&form);
  e->setFocus();
  QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
  QCoreApplication::processEvents();
  ASSERT_TRUE(e->PopupVisible());
  EXPECT_EQ(e->Slider()->Position(), 10) << "empty text opens at the minimum";
  EXPECT_EQ(e->text(), "10");
  const QPoint below = e->mapToGlobal(QPoint(-1, e->height() - 2));
  EXPECT_EQ(e->Slider()->geometry().topLeft(), below);
  QTest::keyClick(e->Slider(), Qt::Key_Right);
  EXPECT_EQ(e->text(), "11");
  EXPECT_TRUE(e->isModified());
  QTest::keyClick(e->Slider(), Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_FALSE(e->PopupVisible());

  // Enter and Escape reaching the edit close an open pop-up; otherwise they
  // go on to the dialog.
  e->PostOpenPopup();
  QCoreApplication::processEvents();
  ASSERT_TRUE(e->PopupVisible());
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(e, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QCoreApplication::processEvents();
  EXPECT_FALSE(e->PopupVisible());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(e, &escape);
  EXPECT_FALSE(escape.isAccepted());

  e->SetReadOnly(true);
  EXPECT_FALSE(e->Button()->isEnabled());
  EXPECT_EQ(e->Button()->geometry().right(), e->width() - 3) << "the button ends at the client area's edge";
}
