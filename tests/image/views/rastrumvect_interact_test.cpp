#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <gtest/gtest.h>

#include "image/views/rastrumvect.h"
#include "viewtest_support.h"

namespace {

using namespace rv;
using viewtest::Click;
using viewtest::DoubleClick;
using viewtest::Drag;
using viewtest::Key;
using viewtest::Move;
using viewtest::Press;
using viewtest::Release;
using viewtest::Type;

struct TBox {
  int L, T, R, B;
  bool operator==(const TBox&) const = default;
};
std::ostream& operator<<(std::ostream& S, const TBox& B) {
  return S << "(" << B.L << "," << B.T << ")-(" << B.R << "," << B.B << ")";
}
TBox BoxOf(TRastrumVect& V, int H) {
  const TRvVObject& o = *V.ObjectAt(H);
  return {o.Left, o.Top, o.Right, o.Bottom};
}

// A layer whose events are counted.
struct TLayer {
  std::unique_ptr<TRastrumVect> View = viewtest::MakeView<TRastrumVect>(200, 150, 200, 150);
  int Changed = 0, Made = -1, MadeCount = 0;
  TLayer() {
    View->OnVectorialChanged = [this](void*) { ++Changed; };
    View->OnNewObject = [this](void*, int H) {
      Made = H;
      ++MadeCount;
    };
  }
  int AddBox(TBox B, platform::TBrushStyle Brush = platform::bsClear) {
    TRvVObject o;
    o.Kind = rvokBox;
    o.Left = B.L, o.Top = B.T, o.Right = B.R, o.Bottom = B.B;
    o.BrushStyle = Brush;
    return View->AddNewObject(o);
  }
  QWidget* W() { return View.get(); }
};

TEST(RastrumVectInteract, BoxesByClickTakeTheTemplatesSizeAndByDragTheirOwn) {
  TLayer l;
  l.View->SetVectInteract(mviPutBox);
  struct TStep {
    QPoint From, To;
    TBox Made;
  } steps[] = {
      {{30, 20}, {30, 20}, {30, 20, 93, 83}},       // the template's 63 x 63
      {{10, 10}, {50, 40}, {10, 10, 50, 40}},
      {{100, 60}, {100, 60}, {100, 60, 140, 90}},   // the last one's size
      {{150, 100}, {120, 80}, {120, 80, 150, 100}}, // dragged backwards
      {{160, 20}, {160, 20}, {160, 20, 190, 40}},   // still from the click on
  };
  int count = 0;
  for (const TStep& s : steps) {
    if (s.From == s.To) Click(l.W(), s.From);
    else Drag(l.W(), s.From, s.To);
    ASSERT_EQ(l.View->ObjectsCount(), ++count);
    EXPECT_EQ(BoxOf(*l.View, count - 1), s.Made);
    EXPECT_EQ(l.View->ObjectAt(count - 1)->Kind, rvokBox);
    EXPECT_EQ(l.Made, count - 1);
    EXPECT_EQ(l.View->SelectedObjects(), (std::vector<int>{count - 1}));
  }
  EXPECT_EQ(l.Changed, count);
  EXPECT_EQ(l.MadeCount, count);
}

TEST(RastrumVectInteract, RubberBandAndShiftClicksSelect) {
  TLayer l;
  l.AddBox({10, 10, 30, 30});
  l.AddBox({40, 10, 60, 30});
  l.AddBox({10, 40, 30, 60});
  l.AddBox({40, 40, 60, 60});
  l.View->ObjectAt(3)->Style = rvosVisible;
  l.View->MaxSelectionDistance = 4;
  l.View->SetVectInteract(mviSelectObjects);
  int clicked = -1, selectEvents = 0;
  l.View->OnObjectClick = [&](void*, int H) { clicked = H; };
  l.View->OnSelectObject = [&](void*) { ++selectEvents; };
  using TSel = std::vector<int>;
  Drag(l.W(), {5, 5}, {65, 35});
  EXPECT_EQ(l.View->SelectedObjects(), (TSel{0, 1})) << "only what lies wholly inside";
  EXPECT_EQ(selectEvents, 2) << "one per step of the band";
  Drag(l.W(), {5, 5}, {65, 65});
  EXPECT_EQ(l.View->SelectedObjects(), (TSel{0, 1, 2})) << "only selectable objects";
  struct TClick {
    QPoint At;
    Qt::KeyboardModifiers Mods;
    TSel Selected;
    int Clicked;
  } clicks[] = {
      {{10, 20}, Qt::ShiftModifier, {1, 2}, 0}, // a selected one leaves
      {{35, 35}, Qt::ShiftModifier, {1, 2}, -1}, // nothing hit: kept
      {{10, 20}, Qt::ShiftModifier, {1, 2, 0}, 0},
      {{40, 20}, {}, {1}, 1},                    // a selected one alone
      {{35, 35}, {}, {}, -1},                    // nothing hit: emptied
  };
  for (const TClick& c : clicks) {
    clicked = -1;
    Click(l.W(), c.At, Qt::LeftButton, c.Mods);
    EXPECT_EQ(l.View->SelectedObjects(), c.Selected) << c.At.x() << "," << c.At.y();
    EXPECT_EQ(clicked, c.Clicked);
  }
}

TEST(RastrumVectInteract, GripsResizeAndAltKeepsTheProportions) {
  struct TCase {
    QPoint From, To;
    Qt::KeyboardModifiers Mods;
    bool ConstrainAlways;
    TBox Result;
  } cases[] = {
      {{60, 40}, {80, 70}, {}, false, {20, 20, 80, 70}},
      {{60, 40}, {80, 70}, Qt::AltModifier, false, {20, 20, 80, 50}},
      // The view's ConstrainAlways keeps them as Alt does.
      {{60, 40}, {80, 70}, {}, true, {20, 20, 80, 50}},
      {{20, 20}, {10, 0}, Qt::AltModifier, false, {10, 15, 60, 40}},
      {{60, 20}, {70, 10}, {}, false, {20, 10, 70, 40}}, // top-right
      {{20, 40}, {30, 50}, {}, false, {30, 20, 60, 50}}, // bottom-left
      {{40, 30}, {45, 40}, {}, false, {25, 30, 65, 50}}, // the centre moves
      {{60, 40}, {10, 10}, {}, false, {10, 10, 20, 20}}, // past the opposite corner: ordered
  };
  for (const TCase& c : cases) {
    TLayer l;
    l.AddBox({20, 20, 60, 40});
    l.View->SelectObject(0);
    l.View->ConstrainAlways = c.ConstrainAlways;
    l.View->SetVectInteract(mviSelectObjects);
    Drag(l.W(), c.From, c.To, c.Mods);
    EXPECT_EQ(BoxOf(*l.View, 0), c.Result) << c.From.x() << "," << c.From.y() << " to " << c.To.x() << "," << c.To.y();
    EXPECT_EQ(l.Changed, 1);
  }
}

TEST(RastrumVectInteract, AHandlerFreezesAMoveForThatObjectAndTheLaterOnes) {
  for (const bool freeze : {false, true}) {
    TLayer l;
    l.AddBox({10, 10, 30, 30});
    l.AddBox({50, 10, 70, 30});
    l.View->SelectObject(0);
    l.View->SelectObject(1);
    l.View->SetVectInteract(mviSelectObjects);
    std::vector<int> calls;
    l.View->OnObjectMoveResize = [&](void*, int H, int Grip, int& X, int& Y) {
      calls.push_back(H);
      EXPECT_EQ(Grip, 3);
      if (freeze && H == 0) X = Y = 0;
    };
    Drag(l.W(), {20, 20}, {30, 25});
    EXPECT_EQ(calls, (std::vector<int>{0, 1, 0, 1}));
    const int dx = freeze ? 0 : 10, dy = freeze ? 0 : 5;
    EXPECT_EQ(BoxOf(*l.View, 0), (TBox{10 + dx, 10 + dy, 30 + dx, 30 + dy}));
    EXPECT_EQ(BoxOf(*l.View, 1), (TBox{50 + dx, 10 + dy, 70 + dx, 30 + dy}));
  }
}

TEST(RastrumVectInteract, PolylineByClicksStretchesWithItsBox) {
  TLayer l;
  l.View->SetVectInteract(mviPutPolyline);
  Click(l.W(), {10, 10});
  Click(l.W(), {30, 20});
  EXPECT_EQ(l.MadeCount, 0);
  DoubleClick(l.W(), {50, 10});
  ASSERT_EQ(l.View->ObjectsCount(), 1);
  const TRvVObject& line = *l.View->ObjectAt(0);
  ASSERT_EQ(line.PointCount(), 3);
  EXPECT_EQ(line.Points[1].X, 30);
  EXPECT_EQ(BoxOf(*l.View, 0), (TBox{10, 10, 50, 20}));
  EXPECT_EQ(BoxOf(*l.View, -1), (TBox{10, 10, 50, 20})) << "the template takes the polyline's box";
  EXPECT_EQ(l.MadeCount, 1);
  EXPECT_EQ(l.Changed, 1);
  l.View->SetVectInteract(mviSelectObjects);
  Drag(l.W(), {50, 20}, {90, 20});
  EXPECT_EQ(BoxOf(*l.View, 0), (TBox{10, 10, 90, 20}));
  l.View->UnselectAll();
  const QImage shot = viewtest::Shot(*l.View);
  // Every X offset from the box's left doubled: the vertices at 10, 50, 90.
  for (QPoint p : {QPoint(10, 10), QPoint(30, 15), QPoint(50, 20), QPoint(70, 15), QPoint(86, 11)})
    EXPECT_EQ(viewtest::At(shot, p.x(), p.y()), 0u) << p.x() << "," << p.y();
  EXPECT_NE(viewtest::At(shot, 30, 20), 0u) << "the old vertex";
}

TEST(RastrumVectInteract, GaugesByThreeClicksReadTheirTurn) {
  struct TCase {
    QPoint C;
    const char* Text;
  } cases[] = {{{20, 20}, "90.00\u00B0"}, {{20, 100}, "270.00\u00B0"}};
  for (const TCase& c : cases) {
    TLayer l;
    l.View->SetVectInteract(mviPutAngle);
    Click(l.W(), {60, 60});
    Click(l.W(), {20, 60});
    ASSERT_EQ(l.View->ObjectsCount(), 1);
    EXPECT_EQ(l.View->ObjectAt(0)->AnglePoints[2].X, RvNotPlaced);
    EXPECT_EQ(l.MadeCount, 0);
    Click(l.W(), c.C);
    const TRvVObject& g = *l.View->ObjectAt(0);
    EXPECT_EQ(l.View->AngleText(RvGaugeAngle(g.AnglePoints[0], g.AnglePoints[1], g.AnglePoints[2])), c.Text);
    EXPECT_EQ(BoxOf(*l.View, 0), (TBox{20, std::min(60, c.C.y()), 60, std::max(60, c.C.y())}));
    EXPECT_EQ(l.MadeCount, 1);
    EXPECT_EQ(l.Changed, 1);
    EXPECT_EQ(l.View->SelectedObjects(), (std::vector<int>{0}));
    EXPECT_EQ(BoxOf(*l.View, -1), BoxOf(*l.View, 0)) << "the next click-made object takes the gauge's size";
  }
}

TEST(RastrumVectInteract, HalfBuiltPolylinesAndGaugesStayAfterTheInteractionEnds) {
  TLayer l;
  l.View->SetVectInteract(mviPutPolyline | mviMeasurePerimeter);
  Click(l.W(), {10, 10});
  Click(l.W(), {30, 30});
  l.View->SetMouseInteract(miZoom);
  EXPECT_EQ(l.View->VectInteract(), mviMeasurePerimeter);
  ASSERT_EQ(l.View->ObjectsCount(), 1);
  EXPECT_EQ(l.View->ObjectAt(0)->PointCount(), 2);
  l.View->SetMouseInteract(0);
  l.View->SetVectInteract(mviPutAngle);
  Click(l.W(), {10, 10});
  l.View->EndInteraction();
  Click(l.W(), {50, 50});
  EXPECT_EQ(l.View->ObjectsCount(), 3) << "the next click starts another gauge";
  EXPECT_EQ(l.MadeCount, 0);
}

TEST(RastrumVectInteract, DragMeasureReportsAndARepeatedClickKeepsTheValue) {
  TLayer l;
  l.View->SetVectInteract(mviMeasureDrag);
  std::vector<double> ends;
  l.View->OnDragLenEnd = [&](void*, double V) { ends.push_back(V); };
  Press(l.W(), {10, 10});
  Move(l.W(), {60, 10});
  Move(l.W(), {110, 10});
  EXPECT_TRUE(l.View->MeasureHintVisible());
  EXPECT_EQ(l.View->MeasureHintText(), "100.00 pixels");
  EXPECT_FALSE(l.View->MeasureHintRect().isEmpty());
  Release(l.W(), {110, 10});
  EXPECT_FALSE(l.View->MeasureHintVisible());
  EXPECT_TRUE(l.View->MeasureHintRect().isEmpty());
  Click(l.W(), {50, 50});
  EXPECT_EQ(ends, (std::vector<double>{100, 100}));
  EXPECT_EQ(l.View->ObjectsCount(), 0);
  // A measure of exactly 0 (no selection to measure) shows the last value.
  l.View->SetVectInteract(mviMeasurePerimeter);
  l.View->SetMeasureHintVisible(true);
  l.View->ShowMeasureHint(10, 10);
  EXPECT_EQ(l.View->MeasureHintText(), "100.00 pixels");
  l.View->SetMeasureHintVisible(false);
  l.View->SetVectInteract(mviMeasureDrag);
  l.View->SetDPI(254, 254);
  l.View->SetMUnit(rvuCENTIMETERS);
  l.View->OnMeasureHint = [](void*, std::string& Text, double V) { Text += V > 0.5 ? " long" : " short"; };
  Press(l.W(), {10, 10});
  Move(l.W(), {110, 10});
  EXPECT_EQ(l.View->MeasureHintText(), "1.00 cm long");
  Release(l.W(), {110, 10});
}

TEST(RastrumVectInteract, TextIsTypedCommittedWithEnterAndRevertedWithEsc) {
  TLayer l;
  l.View->SetVectInteract(mviPutText);
  Drag(l.W(), {20, 20}, {120, 50});
  ASSERT_EQ(l.View->ObjectsCount(), 1);
  EXPECT_EQ(l.View->EditingObject(), 0);
  QLineEdit* editor = l.View->TextEditor();
  EXPECT_TRUE(editor->isVisibleTo(l.View.get()));
  EXPECT_EQ(editor->geometry(), QRect(20, 20, 101, 31)) << "over the object's box";
  EXPECT_EQ(l.Changed, 0) << "a text notifies when its editing ends";
  EXPECT_EQ(l.MadeCount, 1);
  Type(editor, "Hi");
  Key(editor, Qt::Key_Return);
  EXPECT_EQ(l.View->ObjectAt(0)->Text, "Hi");
  EXPECT_EQ(l.View->EditingObject(), -1);
  EXPECT_FALSE(editor->isVisibleTo(l.View.get()));
  EXPECT_EQ(l.Changed, 1);
  // F2 opens the selected text again; Esc takes back the typing.
  Key(l.W(), Qt::Key_F2);
  ASSERT_EQ(l.View->EditingObject(), 0);
  EXPECT_EQ(editor->text(), "Hi");
  Type(editor, "Ho");
  EXPECT_EQ(editor->text(), "Ho");
  Key(editor, Qt::Key_Escape);
  EXPECT_EQ(l.View->ObjectAt(0)->Text, "Hi");
  EXPECT_EQ(l.View->EditingObject(), -1);
  EXPECT_EQ(l.Changed, 2);
  // A double click inside a text opens it in select mode.
  l.View->SetVectInteract(mviSelectObjects);
  int doubled = -1;
  l.View->OnObjectDblClick = [&](void*, int H) { doubled = H; };
  DoubleClick(l.W(), {50, 30});
  EXPECT_EQ(doubled, 0);
  EXPECT_EQ(l.View->EditingObject(), 0);
  Press(l.W(), {150, 120});
  EXPECT_EQ(l.View->EditingObject(), -1) << "a click elsewhere commits";
  Release(l.W(), {150, 120});
}

TEST(RastrumVectInteract, AutoSizedTextsFollowTheirText) {
  TLayer l;
  l.View->ObjectAt(-1)->AutoSize = true;
  l.View->SetVectInteract(mviPutText);
  Click(l.W(), {20, 20});
  QLineEdit* editor = l.View->TextEditor();
  Type(editor, "WWWWWWWWWW");
  const int typed = QFontMetrics(editor->font()).horizontalAdvance(editor->text());
  const int m = QFontMetrics(editor->font()).horizontalAdvance("M");
  EXPECT_EQ(l.View->ObjectAt(0)->Right - l.View->ObjectAt(0)->Left, typed + m);
  Key(editor, Qt::Key_Return);
  EXPECT_EQ(l.View->ObjectAt(0)->Right - l.View->ObjectAt(0)->Left, typed);
}

} // namespace
