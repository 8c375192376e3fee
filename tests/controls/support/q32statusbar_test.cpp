#include "controls/support/q32statusbar/q32statusbar.h"

#include <QApplication>
#include <QLineEdit>
#include <QStatusTipEvent>
#include <gtest/gtest.h>

using namespace wn;

namespace {

constexpr QRgb Face = qRgb(212, 208, 200);
constexpr QRgb Shadow = qRgb(128, 128, 128);
constexpr QRgb Light = qRgb(255, 255, 255);

// The main window's bar: 330 and 200 pixels of text, then the container.
void AddMainWindowPanels(TQ32StatusBar& Bar) {
  Bar.Panels().Add()->SetWidth(330);
  Bar.Panels().Add()->SetWidth(200);
  TQ32StatusPanel* Progress = Bar.Panels().Add();
  Progress->SetWidth(130);
  Progress->SetStyle(spsContainer);
}

QImage Grab(QWidget& Widget) { return Widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// A sizeable window 800 pixels wide with the bar along its bottom.
struct TBarWindow {
  explicit TBarWindow(int Width = 800) {
    Window.setWindowFlag(Qt::FramelessWindowHint);
    Window.setGeometry(0, 0, Width, 300);
    Bar = new TQ32StatusBar(&Window);
    Bar->setGeometry(0, 281, Width, 19);
  }
  QWidget Window;
  TQ32StatusBar* Bar;
};

int DarkPixels(const QImage& Image, const QRect& Area) {
  int Count = 0;
  for (int y = Area.top(); y <= Area.bottom(); ++y)
    for (int x = Area.left(); x <= Area.right(); ++x)
      if (qGray(Image.pixel(x, y)) < 100) ++Count;
  return Count;
}

}  // namespace

TEST(Q32StatusBar, MainWindowLayout) {
  TBarWindow W;
  AddMainWindowPanels(*W.Bar);
  W.Bar->OnResize = [](TQ32CustomStatusBar* Sender) {
    auto& P = Sender->Panels();
    P[1].SetWidth(Sender->width() - P[0].Width() - P[2].Width());
  };
  const TQ32StatusParts& Parts = W.Bar->StatusWindow();
  EXPECT_EQ(Parts.RightEdges(), (std::vector<int>{330, 530, -1}));
  EXPECT_TRUE(Parts.SizeGrip());
  const QSize Client = W.Bar->size();
  EXPECT_EQ(Parts.PartRect(0, Client), QRect(0, 2, 330, 17));
  EXPECT_EQ(Parts.PartRect(1, Client), QRect(332, 2, 198, 17));
  EXPECT_EQ(Parts.PartRect(2, Client), QRect(532, 2, 256, 17)) << "the last part stops at the grip";
  TQ32SBContainer* Container = W.Bar->Container(0);
  ASSERT_NE(Container, nullptr);
  EXPECT_EQ(Container->objectName(), "Container0");
  EXPECT_EQ(Container->geometry(), QRect(533, 3, 254, 15)) << "inset by its bevel";
  W.Bar->Panels()[2].SetBevel(spbNone);
  EXPECT_EQ(Container->geometry(), QRect(532, 2, 256, 17)) << "without a bevel it fills its part";

  W.Window.show();
  W.Bar->resize(700, 19);
  EXPECT_EQ(W.Bar->Panels()[1].Width(), 240);
  EXPECT_EQ(Parts.RightEdges(), (std::vector<int>{330, 570, -1}));
  EXPECT_EQ(Container->geometry(), QRect(572, 2, 116, 17));
}

TEST(Q32StatusBar, TextsReachTheWindowAtThePaint) {
  TBarWindow W;
  AddMainWindowPanels(*W.Bar);
  TQ32StatusPanel& First = W.Bar->Panels()[0];
  Grab(*W.Bar);
  const int Before = W.Bar->StatusWindow().TextsSet();
  First.SetText("Hello");
  EXPECT_EQ(W.Bar->StatusWindow().Text(0), "") << "not before the paint";
  Grab(*W.Bar);
  EXPECT_EQ(W.Bar->StatusWindow().Text(0), "Hello");
  EXPECT_EQ(W.Bar->StatusWindow().TextsSet(), Before + 1);
  First.SetText("Hello");
  Grab(*W.Bar);
  EXPECT_EQ(W.Bar->StatusWindow().TextsSet(), Before + 1) << "the same text again sends nothing";

  struct TCase {
    TQ32StatusPanelBevel Bevel;
    TAlignment Alignment;
    TQ32StatusPanelStyle Style;
    TBiDiMode BiDi;
    int Flags;
    const char* Sent;
  };
  const TCase Cases[] = {
      {spbLowered, TAlignment::taLeftJustify, spsText, bdLeftToRight, 0, "T"},
      {spbNone, TAlignment::taCenter, spsText, bdLeftToRight, SBT_NOBORDERS, "\tT"},
      {spbRaised, TAlignment::taRightJustify, spsText, bdLeftToRight, SBT_POPOUT, "\t\tT"},
      {spbLowered, TAlignment::taLeftJustify, spsOwnerDraw, bdLeftToRight, SBT_OWNERDRAW, "T"},
      {spbLowered, TAlignment::taLeftJustify, spsText, bdRightToLeft, SBT_RTLREADING, "\t\tT"},
      {spbLowered, TAlignment::taRightJustify, spsText, bdRightToLeft, SBT_RTLREADING, "T"},
      {spbLowered, TAlignment::taLeftJustify, spsText, bdRightToLeftReadingOnly, SBT_RTLREADING, "T"},
  };
  for (const auto& Case : Cases) {
    TQ32StatusPanel& Panel = W.Bar->Panels()[1];
    Panel.SetText("T");
    Panel.SetBevel(Case.Bevel);
    Panel.SetAlignment(Case.Alignment);
    Panel.SetStyle(Case.Style);
    Panel.SetBiDiMode(Case.BiDi);
    Grab(*W.Bar);
    EXPECT_EQ(W.Bar->StatusWindow().TextFlags(1), Case.Flags) << Case.Sent;
    EXPECT_EQ(W.Bar->StatusWindow().Text(1), Case.Sent);
  }
}

TEST(Q32StatusBar, AtMost128Parts) {
  TQ32StatusBar Bar;
  Bar.Panels().BeginUpdate();
  for (int i = 0; i < 200; ++i) Bar.Panels().Add()->SetWidth(2);
  Bar.Panels().EndUpdate();
  EXPECT_EQ(Bar.StatusWindow().PartCount(), 128);
  EXPECT_EQ(Bar.StatusWindow().RightEdges()[126], 254);
  Bar.Panels()[150].SetText("beyond");
  Bar.Panels()[127].SetText("last");
  Grab(Bar);
  EXPECT_EQ(Bar.StatusWindow().Text(127), "last");
}

TEST(Q32StatusBar, PaintsBevelsGripAndOwnerDrawing) {
  TBarWindow W(300);
  TQ32StatusBar& Bar = *W.Bar;
  for (auto Bevel : {spbLowered, spbRaised, spbNone}) {
    TQ32StatusPanel* Panel = Bar.Panels().Add();
    Panel->SetWidth(100);
    Panel->SetBevel(Bevel);
  }
  const QImage Image = Grab(Bar);
  struct TPixel {
    int X, Y;
    QRgb Colour;
  };
  const TPixel Pixels[] = {
      {50, 0, Face},  {50, 1, Face},                                           // above the parts
      {0, 2, Shadow}, {0, 18, Light}, {99, 2, Light}, {99, 18, Light},         // lowered: dark top left
      {50, 2, Shadow}, {50, 18, Light}, {50, 10, Face},                         //
      {100, 10, Face}, {101, 10, Face},                                         // the gap
      {102, 2, Light}, {102, 18, Shadow}, {199, 2, Shadow}, {150, 18, Shadow},   // raised: light top left
      {202, 2, Face}, {250, 18, Face},                                          // no bevel
      {299, 18, Face}, {298, 18, Shadow}, {297, 18, Shadow}, {296, 18, Light},  // grip, from the corner
      {295, 18, Face}, {299, 15, Light}, {288, 18, Light}, {287, 18, Face},                       //
  };
  for (const auto& P : Pixels) EXPECT_EQ(Image.pixel(P.X, P.Y), P.Colour) << P.X << "," << P.Y;

  Bar.Panels()[0].SetStyle(spsOwnerDraw);
  platform::TRect Drawn;
  Bar.OnDrawPanel = [&Drawn](TQ32CustomStatusBar* Sender, TQ32StatusPanel* Panel, const platform::TRect& Rect) {
    EXPECT_EQ(Panel->Index(), 0);
    EXPECT_EQ(Sender->Canvas()->Brush.Color, platform::clBtnFace);
    Sender->Canvas()->Brush.Color = platform::clRed;
    Sender->Canvas()->FillRect(Rect);
    Drawn = Rect;
  };
  const QImage Owner = Grab(Bar);
  EXPECT_EQ(Drawn.ToQRect(), QRect(1, 3, 98, 15));
  EXPECT_EQ(Owner.pixel(1, 3), qRgb(255, 0, 0));
  EXPECT_EQ(Owner.pixel(98, 17), qRgb(255, 0, 0));
  EXPECT_EQ(Owner.pixel(0, 2), Shadow);
  EXPECT_EQ(Owner.pixel(99, 18), Light);
}

TEST(Q32StatusBar, TextPlacementAndSimpleMode) {
  TBarWindow W(400);
  TQ32StatusBar& Bar = *W.Bar;
  Bar.Panels().Add()->SetWidth(300);
  Bar.Panels().Add();
  const QRect LeftThird(2, 3, 96, 15), MiddleThird(102, 3, 96, 15), RightThird(202, 3, 96, 15);
  const struct {
    TAlignment Alignment;
    int Left, Middle, Right;  // whether each third holds text
  } Cases[] = {
      {TAlignment::taLeftJustify, 1, 0, 0}, {TAlignment::taCenter, 0, 1, 0}, {TAlignment::taRightJustify, 0, 0, 1}};
  for (const auto& Case : Cases) {
    Bar.Panels()[0].SetText("WWW");
    Bar.Panels()[0].SetAlignment(Case.Alignment);
    const QImage Image = Grab(Bar);
    EXPECT_EQ(DarkPixels(Image, LeftThird) > 0, bool(Case.Left));
    EXPECT_EQ(DarkPixels(Image, MiddleThird) > 0, bool(Case.Middle));
    EXPECT_EQ(DarkPixels(Image, RightThird) > 0, bool(Case.Right));
  }

  Bar.SetSimpleText("Simple");
  EXPECT_EQ(Bar.GetTextLen(), 6);
  Bar.SetSimplePanel(true);
  const QImage Simple = Grab(Bar);
  EXPECT_EQ(Simple.pixel(300, 10), Face) << "the first part's right border is gone";
  EXPECT_EQ(Simple.pixel(387, 10), Light) << "one part up to the grip";
  EXPECT_GT(DarkPixels(Simple, LeftThird), 0);
  EXPECT_EQ(DarkPixels(Simple, RightThird), 0);
}

TEST(Q32StatusBar, ContainersHostWidgets) {
  TBarWindow W;
  AddMainWindowPanels(*W.Bar);
  TQ32SBContainer* Container = W.Bar->Container(0);
  auto* Fill = new QWidget;
  Fill->setAutoFillBackground(true);
  QPalette Palette = Fill->palette();
  Palette.setColor(QPalette::Window, Qt::blue);
  Fill->setPalette(Palette);
  Container->Host(Fill);
  W.Window.show();
  const QImage Image = Grab(*W.Bar);
  EXPECT_EQ(Image.pixel(533, 3), qRgb(0, 0, 255));
  EXPECT_EQ(Image.pixel(786, 17), qRgb(0, 0, 255));
  EXPECT_EQ(Image.pixel(532, 2), Shadow) << "the part's bevel shows around it";
  EXPECT_EQ(Fill->geometry(), QRect(0, 0, 254, 15));

  auto* Edit = new QLineEdit(Container);
  Edit->setGeometry(10, 7, 50, 30);
  W.Bar->UpdatePanels(true, false);
  EXPECT_FALSE(Edit->hasFrame());
  EXPECT_EQ(Edit->geometry(), QRect(10, 0, 50, 15));
}

TEST(Q32StatusBar, ContainerStylesFollowTheirPanels) {
  TBarWindow W;
  auto& Panels = W.Bar->Panels();
  for (int i = 0; i < 3; ++i) {
    Panels.Add()->SetWidth(100);
    Panels[i].SetStyle(spsContainer);
  }
  QWidget* Third = W.Bar->Container(2);
  Panels[0].SetStyle(spsText);
  EXPECT_EQ(Panels[0].ContainerIndex(), -1);
  EXPECT_EQ(W.Bar->Containers().Count(), 2);
  EXPECT_EQ(Panels[2].ContainerIndex(), 1) << "the later containers moved down, their panels with them";
  EXPECT_EQ(W.Bar->Container(1), Third);
  EXPECT_EQ(Third->geometry(), QRect(203, 3, 584, 15));
  Panels.Delete(1);
  EXPECT_EQ(W.Bar->Containers().Count(), 1) << "a deleted panel takes its container along";
  EXPECT_EQ(Panels[1].ContainerIndex(), 0);
  EXPECT_EQ(Third->geometry(), QRect(103, 3, 684, 15));

  TQ32StatusBar Copy;
  Copy.SetPanels(W.Bar->Panels());
  EXPECT_EQ(Copy.Panels().Count(), 2);
  EXPECT_EQ(Copy.Panels()[1].Style(), spsContainer);
  EXPECT_EQ(Copy.Containers().Count(), 1);
}

TEST(Q32StatusBar, HintsGoToTheFirstPanel) {
  TBarWindow W;
  auto* Button = new QWidget(&W.Window);
  const auto Hint = [&](const QString& Text) {
    QStatusTipEvent Event(Text);
    QApplication::sendEvent(Button, &Event);
  };
  W.Bar->Panels().Add();
  Hint("ignored");
  EXPECT_EQ(W.Bar->Panels()[0].Text(), "") << "without AutoHint";
  W.Bar->SetAutoHint(true);
  Hint("Opens a folder");
  EXPECT_EQ(W.Bar->Panels()[0].Text(), "Opens a folder");
  W.Bar->SetSimplePanel(true);
  Hint("Simple");
  EXPECT_EQ(W.Bar->SimpleText(), "Simple");
  int Handled = 0;
  W.Bar->OnHint = [&Handled](TQ32CustomStatusBar* Sender) { Handled += Sender->Hint() == "Own" ? 1 : 100; };
  Hint("Own");
  EXPECT_EQ(Handled, 1);
  EXPECT_EQ(W.Bar->SimpleText(), "Simple");
}

TEST(Q32StatusBar, GripOnlyOnSizeableWindows) {
  TQ32StatusBar Alone;
  EXPECT_FALSE(Alone.StatusWindow().SizeGrip()) << "a bar that is its own window";
  TBarWindow Sizeable;
  EXPECT_TRUE(Sizeable.Bar->StatusWindow().SizeGrip());
  Sizeable.Bar->SetSizeGrip(false);
  EXPECT_FALSE(Sizeable.Bar->StatusWindow().SizeGrip());
  QWidget Dialog;
  Dialog.setFixedSize(300, 200);
  TQ32StatusBar Bar(&Dialog);
  EXPECT_FALSE(Bar.StatusWindow().SizeGrip());
}

TEST(Q32StatusBar, FlipMirrorsThePanels) {
  TBarWindow W;
  AddMainWindowPanels(*W.Bar);
  W.Bar->Panels()[0].SetText("first");
  W.Bar->FlipChildren(true);
  const auto& Panels = W.Bar->Panels();
  EXPECT_EQ(Panels[2].Text(), "first");
  EXPECT_EQ(Panels[0].Style(), spsContainer);
  EXPECT_EQ(Panels[0].Width(), 800 - 530) << "the old last panel's real width";
  EXPECT_EQ(Panels[1].Width(), 200);
  EXPECT_EQ(Panels[2].Width(), 330);
  EXPECT_EQ(W.Bar->StatusWindow().RightEdges(), (std::vector<int>{270, 470, -1}));
}
