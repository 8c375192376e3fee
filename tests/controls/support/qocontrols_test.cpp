#include "controls/support/qocontrols/qocontrols.h"

#include <QApplication>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace wn;

namespace {

void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

struct TForm {
  explicit TForm(const char* editName = "Edit1") {
    Window.resize(300, 200);
    Edit = new TQoCustomEdit(&Window);
    Edit->setObjectName(QString::fromUtf8(editName));
    Edit->setGeometry(40, 80, 120, 22);
    Window.show();
    Settle();
  }
  QWidget Window;
  TQoCustomEdit* Edit;
};

} // namespace

TEST(QoAttachedLabel, NamedAfterItsControlAndPlacedAboveIt) {
  TForm form;
  form.Edit->LabelInfo().SetVisible(true);
  Settle();
  TQoAttachedLabel* label = form.Edit->LabelOrRaise();
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->objectName(), "Edit1Label1");
  EXPECT_EQ(label->text(), "Edit1Label1");
  EXPECT_EQ(label->x(), 40);
  EXPECT_EQ(label->y() + label->height(), 80) << "bottom edge on the edit's top edge";
  EXPECT_EQ(label->buddy(), form.Edit);

  // Another form gets the same name; a form that owns it already the next.
  TForm other;
  other.Edit->LabelInfo().SetVisible(true);
  EXPECT_EQ(other.Edit->LabelInfo().Label()->objectName(), "Edit1Label1");
  auto* second = new TQoCustomEdit(&form.Window);
  second->setObjectName("Edit1");
  second->LabelInfo().SetVisible(true);
  EXPECT_EQ(second->LabelInfo().Label()->objectName(), "Edit1Label2");
}

TEST(QoAttachedLabel, ControlMovesCarryTheLabelAndLabelMovesSetTheOffsets) {
  TForm form;
  form.Edit->LabelInfo().SetVisible(true);
  Settle();
  TQoAttachedLabel* label = form.Edit->LabelInfo().Label();
  const QPoint before = label->pos();
  form.Edit->move(50, 90);
  Settle();
  EXPECT_EQ(label->pos(), before + QPoint(10, 10));
  EXPECT_EQ(form.Edit->LabelInfo().OffsetX(), 0);
  EXPECT_EQ(form.Edit->LabelInfo().OffsetY(), 0);

  label->move(label->x() + 7, label->y() - 5);
  Settle();
  EXPECT_EQ(form.Edit->pos(), QPoint(50, 90));
  EXPECT_EQ(form.Edit->LabelInfo().OffsetX(), 7);
  EXPECT_EQ(form.Edit->LabelInfo().OffsetY(), -5);
  form.Edit->LabelInfo().MoveOffsets(0, 0);
  EXPECT_EQ(label->pos(), before + QPoint(10, 10));
}

TEST(QoAttachedLabel, LifetimesAndRefusals) {
  TForm form;
  EXPECT_THROW(
      {
        try {
          form.Edit->LabelOrRaise();
        } catch (const EQoException& e) {
          EXPECT_STREQ(e.what(), "Label not attached");
          throw;
        }
      },
      EQoException);

  form.Edit->LabelInfo().SetVisible(true);
  delete form.Edit->LabelInfo().Label();
  EXPECT_FALSE(form.Edit->LabelInfo().Visible()) << "a label freed alone detaches";

  form.Edit->LabelInfo().SetVisible(true);
  QPointer<TQoAttachedLabel> label = form.Edit->LabelInfo().Label();
  delete form.Edit;
  EXPECT_TRUE(label.isNull()) << "the control takes its label along";

  TForm spaced("Edit 1");
  try {
    spaced.Edit->LabelInfo().SetVisible(true);
    FAIL() << "a name with a blank makes no label";
  } catch (const EComponentError& e) {
    EXPECT_STREQ(e.what(), "''Edit 1Label'' is not a valid component name");
  }
  EXPECT_FALSE(spaced.Edit->LabelInfo().Visible());
  EXPECT_EQ(spaced.Window.findChild<TQoAttachedLabel*>(), nullptr);
}

TEST(QoCustomControl, FocusMessagesAndSignedWheel) {
  QWidget window;
  auto* control = new TQoCustomControl(&window);
  control->setFocusPolicy(Qt::StrongFocus);
  auto* other = new QWidget(&window);
  other->setFocusPolicy(Qt::StrongFocus);
  window.show();
  std::vector<std::string> seen;
  control->AfterEnter = [&](QObject*) { seen.push_back("enter"); };
  control->AfterExit = [&](QObject*) { seen.push_back("exit"); };
  int delta = 0, x = 0, y = 0;
  control->OnMouseWheel = [&](QObject*, platform::TShiftState, int d, int px, int py) {
    delta = d;
    x = px;
    y = py;
  };
  QApplication::setActiveWindow(&window);
  control->setFocus();
  other->setFocus();
  Settle();
  EXPECT_EQ(seen, (std::vector<std::string>{"enter", "exit"}));

  // A turn towards the user on a screen left of and above the primary one.
  QWheelEvent wheel(QPointF(5, 5), QPointF(-300, -20), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(control, &wheel);
  EXPECT_EQ(delta, -120);
  EXPECT_EQ(x, -300);
  EXPECT_EQ(y, -20);
}

TEST(QoText, FloatTextsBothWays) {
  struct TCase {
    double Value;
    const char* Text;
  };
  for (const TCase& c : {TCase{64, "64"}, TCase{0.5, "0.5"}, TCase{-12.25, "-12.25"}, TCase{1e20, "1E20"},
                         TCase{1.5e-7, "1.5E-7"}, TCase{100, "100"}}) {
    EXPECT_EQ(QoFloatToStr(c.Value), c.Text);
    double back = 0;
    ASSERT_TRUE(QoTextToFloat(c.Text, back)) << c.Text;
    EXPECT_DOUBLE_EQ(back, c.Value);
  }
  double v = 0;
  for (const char* bad : {"", "-", "1.2.3", "e5", "1e", "inf", "0x10", "12a", "."}) EXPECT_FALSE(QoTextToFloat(bad, v)) << bad;
  ASSERT_TRUE(QoTextToFloat("  +3.  ", v));
  EXPECT_EQ(v, 3);
}
