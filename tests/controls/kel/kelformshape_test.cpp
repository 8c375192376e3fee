#include "controls/kel/kelformshape.h"
#include "controls/kel/kelshapebutton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include "controls/kel/kel_test_support.h"

using namespace kel;
using namespace platform;


TEST(KelFormShape, RegionOfASizeableForm) {
  QWidget form;
  form.resize(300, 200);
  TKelFormShape shape(&form);
  const TRect r = shape.ShapeRect();
  EXPECT_EQ((std::vector<int>{r.Left, r.Top, r.Right, r.Bottom}), (std::vector<int>{-1, -1, 293, 174}));
  EXPECT_EQ(shape.CaptionHeight(), 19);
  EXPECT_EQ(shape.ClientOrigin(), QPoint(4, 23));
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  // The round rectangle of the client area, moved inside the frame, with
  // the caption strip above it.
  EXPECT_EQ(form.mask(), KelRoundRectRegion(r, 20, 20).translated(4, 23).united(QRegion(0, 0, 300, 23)));
  EXPECT_FALSE(form.mask().contains(QPoint(3, 199)));

  // Without the caption the strip is cut, whatever the shape held there.
  shape.SetShowFormCaption(false);
  EXPECT_FALSE(form.mask().intersects(QRegion(0, 0, 300, 23)));
  EXPECT_TRUE(form.mask().contains(QPoint(150, 100)));
  shape.SetBorderStyle(bsNone);
  EXPECT_EQ(shape.ShapeRect().Right, 301);
  EXPECT_EQ(shape.CaptionHeight(), 0);
  shape.SetBorderStyle(bsToolWindow);
  EXPECT_EQ(shape.CaptionHeight(), 15);
  EXPECT_EQ(shape.ClientOrigin(), QPoint(3, 18));

  // Minimized: only the caption strip.
  shape.SetBorderStyle(bsSizeable);
  form.setWindowState(Qt::WindowMinimized);
  EXPECT_EQ(form.mask(), QRegion(0, 0, 300, 23));
  form.setWindowState(Qt::WindowNoState);

  // A second shape on the form, or a shape on a child, is refused.
  EXPECT_THROW(TKelFormShape second(&form), KelEOneInstError);
  QWidget child(&form);
  EXPECT_THROW(TKelFormShape onChild(&child), KelEOneInstError);

  // Switched off, the form is whole again and framed by the window manager.
  shape.SetEnabled(false);
  EXPECT_TRUE(form.mask().isEmpty());
  EXPECT_FALSE(form.windowFlags() & Qt::FramelessWindowHint);
}

TEST(KelFormShape, MaskBitmapSizesTheForm) {
  QWidget form;
  form.resize(300, 200);
  TKelFormShape shape(&form);
  // An empty mask has nothing to give: the form keeps its size and stays whole.
  shape.Region().SetShape(rsBitmap);
  EXPECT_EQ(form.size(), QSize(300, 200));
  EXPECT_TRUE(form.mask().isEmpty());
  TKelRegionMask mask;
  mask.BorderBitmap().SetPixelFormat(pf24bit);
  mask.BorderBitmap().SetSize(100, 50);
  mask.SetRegionData(KelRegionToData(QRegion(0, 0, 100, 50, QRegion::Ellipse)));
  shape.Region().SetMask(mask);
  shape.UpdateFormRegion();
  // The bitmap, the shadow's depth (6) and the frame and caption.
  EXPECT_EQ(form.size(), QSize(100 + 6 + 8, 50 + 19 + 8 + 6));
  EXPECT_EQ(shape.BackgroundBitmap(), &shape.Region().Mask().BorderBitmap());
}

TEST(KelFormShape, DragsByTheClientAreaOnly) {
  QWidget form;
  form.setGeometry(100, 100, 300, 200);
  auto* label = new QLabel("child", &form);
  label->setGeometry(50, 60, 80, 20);
  TKelFormShape shape(&form);
  form.show();
  const QPoint start = form.pos();
  SendMouse(&form, QEvent::MouseButtonPress, {150, 120});
  SendMouse(&form, QEvent::MouseMove, {170, 130});
  SendMouse(&form, QEvent::MouseButtonRelease, {170, 130});
  EXPECT_EQ(form.pos(), start + QPoint(20, 10));

  // The label lets its press through to the form: still no drag.
  const QPoint before = form.pos();
  SendMouse(label, QEvent::MouseButtonPress, {10, 5});
  SendMouse(&form, QEvent::MouseMove, {90, 90});
  SendMouse(label, QEvent::MouseButtonRelease, {10, 5});
  EXPECT_EQ(form.pos(), before);

  // Not draggable: the client area stays put, the caption still moves it.
  shape.SetFormDragable(false);
  SendMouse(&form, QEvent::MouseButtonPress, {150, 120});
  SendMouse(&form, QEvent::MouseMove, {170, 130});
  SendMouse(&form, QEvent::MouseButtonRelease, {170, 130});
  EXPECT_EQ(form.pos(), before);
  SendMouse(&form, QEvent::MouseButtonPress, {150, 10});
  SendMouse(&form, QEvent::MouseMove, {140, 15});
  SendMouse(&form, QEvent::MouseButtonRelease, {140, 15});
  EXPECT_EQ(form.pos(), before + QPoint(-10, 5));
}

TEST(KelFormShape, BackgroundBorderAndTransparentButtons) {
  QWidget form;
  form.resize(120, 100);
  TKelFormShape shape(&form);
  shape.Region().SetShape(rsRect);
  shape.Region().Border().SetSingleColor(clRed);
  shape.FillObject().SetStyle(sfBrush);
  shape.FillObject().SetBrushColor(clLime);
  auto* button = new TKelShapeButton(&form);
  button->setGeometry(40, 50, 25, 25);
  EXPECT_TRUE(button->IsTransparentNow());
  EXPECT_TRUE(shape.HasBackground());

  const QImage shot = form.grab().toImage();
  // The client area starts at (4, 23): fill inside, the single border on
  // its edge (the rectangle was built one pixel larger all round).
  EXPECT_EQ(PixelColor(shot, 60, 40), clLime);
  EXPECT_EQ(PixelColor(shot, 4, 40), clRed);
  EXPECT_EQ(PixelColor(shot, 60, 23), clRed);
  EXPECT_EQ(PixelColor(shot, 60, 10), TColor(ColorToRGB(clActiveCaption)));

  // A transparent button copies the fill under it.
  TBitmap under(25, 25, pf24bit);
  button->PaintParentBackground(under.Canvas());
  EXPECT_EQ(under.Canvas().Pixels(12, 12), clLime);

  shape.SetEnabled(false);
  EXPECT_FALSE(button->IsTransparentNow());
}

TEST(KelFormShape, OutlivesItsForm) {
  auto* form = new QWidget;
  TKelFormShape shape(form);
  auto* button = new TKelShapeButton(form);
  EXPECT_TRUE(button->IsTransparentNow());
  delete form;
  shape.UpdateFormRegion();
  shape.SetEnabled(false);
  // A new form may take a shape of its own.
  QWidget next;
  TKelFormShape again(&next);
  EXPECT_TRUE(again.ShapeInForce());
}
