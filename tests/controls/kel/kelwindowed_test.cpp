#include "controls/kel/kelconnector.h"
#include "controls/kel/kelcont.h"
#include "controls/kel/kelcustomcontrol.h"
#include "controls/kel/kelinictrl.h"
#include "controls/kel/kelmmbutton.h"
#include "controls/kel/kelsysin.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QScrollBar>

#include "controls/kel/kel_test_support.h"

using namespace kel;
using namespace platform;

namespace {

// A 20 x 20 face: white (transparent) with a blue square at (5, 5)-(15, 15).
void AddFace(TKelBitmapList& list, TColor inside) {
  auto& item = static_cast<TKelBitmapListItem&>(list.AddNew());
  item.Bitmap().SetPixelFormat(pf24bit);
  item.Bitmap().SetSize(20, 20);
  TCanvas& c = item.Bitmap().Canvas();
  c.Brush = TBrush{clWhite, bsSolid, {}};
  c.FillRect(Rect(0, 0, 20, 20));
  c.Brush.Color = inside;
  c.FillRect(Rect(5, 5, 15, 15));
}

} // namespace

TEST(KelCustomControl, FocusNoticesAreQueued) {
  TKelCustomControl control;
  int gained = 0, lost = 0;
  control.OnFocusGained = [&](TKelCustomControl*) { ++gained; };
  control.OnFocusLost = [&](TKelCustomControl*) { ++lost; };
  QFocusEvent in(QEvent::FocusIn);
  QApplication::sendEvent(&control, &in);
  EXPECT_TRUE(control.Focused());
  EXPECT_EQ(gained, 0);
  QCoreApplication::sendPostedEvents(&control, kelFocusGainedEvent);
  EXPECT_EQ(gained, 1);
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(&control, &out);
  EXPECT_EQ(lost, 0);
  QCoreApplication::sendPostedEvents(&control, kelFocusLostEvent);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(control.size(), QSize(100, 40));
  EXPECT_EQ(control.focusPolicy(), Qt::ClickFocus);
}

TEST(KelCustomControl, TransparentShowsTheParentAndFramesTrack) {
  QWidget parent;
  parent.resize(80, 60);
  QPalette red;
  red.setColor(QPalette::Window, Qt::red);
  parent.setPalette(red);
  parent.setAutoFillBackground(true);
  auto* control = new TKelCustomControl(&parent);
  control->setGeometry(10, 10, 40, 30);
  EXPECT_EQ(PixelColor(parent.grab().toImage(), 30, 25), TColor(ColorToRGB(clBtnFace)));
  control->SetTransparent(true);
  EXPECT_EQ(PixelColor(parent.grab().toImage(), 30, 25), clRed);

  // A flat frame darkens while the mouse is inside.
  control->SetTransparent(false);
  control->SetBorderStyle(bsSingle);
  control->SetCtl3D(false);
  control->SetFrameTracking(true);
  EXPECT_EQ(control->contentsMargins().left(), 1);
  EXPECT_EQ(PixelColor(parent.grab().toImage(), 10, 20), TColor(ColorToRGB(clBtnShadow)));
  QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
  QApplication::sendEvent(control, &enter);
  EXPECT_EQ(PixelColor(parent.grab().toImage(), 10, 20), TColor(ColorToRGB(clWindowFrame)));
  control->SetCtl3D(true);
  EXPECT_EQ(control->contentsMargins().left(), 2);
  // The base paints no transparent background for its children.
  EXPECT_FALSE(KelParentPaintsTransparent(control));
}

TEST(KelCustomScrollBox, BevelScrollAndSavedResources) {
  QWidget top;
  top.resize(300, 200);
  auto* box = new TKelCustomScrollBox(&top);
  EXPECT_EQ(box->size(), QSize(185, 41));
  box->setGeometry(0, 0, 120, 80);
  box->Bevel().SetStyleOuter(bvRaised);
  box->Bevel().SetWidthOuter(3);
  top.show();
  EXPECT_EQ(box->viewport()->geometry(), QRect(3, 3, 114, 74));
  const QImage shot = box->grab().toImage();
  EXPECT_EQ(PixelColor(shot, 1, 40), TColor(ColorToRGB(clBtnHighlight)));
  EXPECT_EQ(PixelColor(shot, 118, 40), TColor(ColorToRGB(clBtnShadow)));

  auto* near = new QWidget(box->Content());
  near->setGeometry(0, 0, 50, 20);
  auto* far = new QWidget(box->Content());
  far->setGeometry(500, 0, 50, 20);
  near->show();
  far->show();
  QCoreApplication::sendPostedEvents();
  ASSERT_GE(box->horizontalScrollBar()->maximum(), 400);

  int scrolls = 0;
  box->OnScroll = [&](TKelCustomScrollBox*) { ++scrolls; };
  box->horizontalScrollBar()->setValue(40);
  EXPECT_EQ(scrolls, 1);
  emit box->horizontalScrollBar()->sliderReleased();
  EXPECT_EQ(scrolls, 1);

  box->SetSaveResources(true);
  EXPECT_TRUE(near->isVisible());
  EXPECT_FALSE(far->isVisible());
  const int end = box->horizontalScrollBar()->maximum();
  box->horizontalScrollBar()->setValue(end);
  EXPECT_EQ(scrolls, 2);
  EXPECT_FALSE(near->isVisible());
  EXPECT_TRUE(far->isVisible());
  EXPECT_EQ(box->horizontalScrollBar()->value(), end);

  // Children paint the box's background only where its own parent's shows.
  auto* button = new TKelShapeButton(box->Content());
  box->SetTransparentBackground(true);
  EXPECT_FALSE(button->IsTransparentNow());
  top.setProperty(kelTransparentBackgroundProperty, true);
  EXPECT_TRUE(button->IsTransparentNow());
  // Repainted on every step while scrolling.
  const int repaints = box->ChildRepaints();
  box->horizontalScrollBar()->setValue(10);
  EXPECT_EQ(box->ChildRepaints(), repaints + 1);
}

TEST(KelFaceButton, PixelHitTestAndFaces) {
  TKelBitmapList list;
  AddFace(list, clBlue);
  AddFace(list, clLime);
  TKelCustomMMButton button;
  button.resize(20, 20);
  // Without a face the whole button takes presses.
  EXPECT_TRUE(button.PointInShape(1, 1));
  EXPECT_TRUE(button.ShowDesignFrame());
  button.SetButtonFaceImageList(&list);
  EXPECT_FALSE(button.ShowDesignFrame());
  const struct {
    TKelBitmapStyle Style;
    QSize Size;
    int X, Y;
    bool Inside;
  } cases[] = {
      {sbNone, {20, 20}, 10, 10, true},  {sbNone, {20, 20}, 1, 1, false},   {sbNone, {30, 30}, 25, 25, false},
      {sbCenter, {30, 30}, 10, 10, true}, {sbCenter, {30, 30}, 6, 6, false}, {sbStretch, {40, 40}, 20, 20, true},
      {sbStretch, {40, 40}, 9, 9, false}, {sbTile, {40, 40}, 30, 30, true},  {sbTile, {40, 40}, 22, 22, false},
  };
  for (const auto& c : cases) {
    button.SetButtonFaceStyle(c.Style);
    button.resize(c.Size);
    EXPECT_EQ(button.PointInShape(c.X, c.Y), c.Inside) << int(c.Style) << " " << c.X;
  }
  button.SetButtonFaceStyle(sbNone);
  button.resize(20, 20);

  // Each state shows its own face; a press on the transparent part does nothing.
  button.ButtonFace().SetFace(bsDown, 1, 0);
  int clicks = 0;
  button.OnClick = [&](TKelBaseGraphicButton*) { ++clicks; };
  SendMouse(&button, QEvent::MouseButtonPress, {1, 1});
  SendMouse(&button, QEvent::MouseButtonRelease, {1, 1});
  EXPECT_EQ(clicks, 0);
  TBitmap up(20, 20, pf32bit);
  button.PaintTo(up.Canvas());
  EXPECT_EQ(up.Canvas().Pixels(10, 10), clBlue);
  EXPECT_EQ(up.Canvas().Pixels(1, 1), TColor(ColorToRGB(clWindow)));
  SendMouse(&button, QEvent::MouseButtonPress, {10, 10});
  EXPECT_EQ(button.State(), bsDown);
  TBitmap down(20, 20, pf32bit);
  button.PaintTo(down.Canvas());
  EXPECT_EQ(down.Canvas().Pixels(10, 10), clLime);
  SendMouse(&button, QEvent::MouseButtonRelease, {10, 10});
  EXPECT_EQ(clicks, 1);

  // The nine pairs in state order, list index first.
  TMemoryStream s;
  button.ButtonFace().WriteData(s);
  ASSERT_EQ(s.Size(), 72);
  EXPECT_EQ(s.Data()[4 * 8], 1);
  TKelButtonFace back;
  s.SetPosition(0);
  back.ReadData(s);
  EXPECT_EQ(back.Face(bsDown).ListIndex, 1);
  TBytesStream cut(s.Memory(), 70);
  EXPECT_THROW(back.ReadData(cut), EKelContainerError);
}

TEST(KelImageLists, OperationsBeyondTheCount) {
  TKelImageList strips;
  auto& strip = static_cast<TKelImageListItem&>(strips.AddNew());
  TBitmap image(16, 16, pf24bit);
  for (TColor c : {clRed, clBlue}) {
    KelFillSolidBitmap(image, Rect(0, 0, 16, 16), c);
    image.Canvas().SetPixels(0, 15, c == clRed ? clYellow : clLime);
    strip.Add(&image, nullptr);
  }
  TImageList plain(8, 8);
  plain.Name = "Plain";
  TBitmap small(8, 8, pf24bit);
  KelFillSolidBitmap(small, Rect(0, 0, 8, 8), clNavy);
  plain.Add(small);
  plain.Add(small);
  TKelImageListConnector connector;
  connector.AddEntry().SetImageList(&plain);
  connector.AddEntry();
  EXPECT_EQ(connector.Entry(0)->DisplayName(), "Plain");

  const struct {
    TKelCustomImageList* List;
    int L, I;
    bool Exists;
    int Width, Count;
    TColor Transparent;
  } cases[] = {
      {&strips, 0, 1, true, 16, 2, clLime},        {&strips, 0, 2, false, 16, 2, 0xFFFFFF},
      {&strips, 1, 0, false, 0, -1, 0xFFFFFF},     {&connector, 0, 1, true, 8, 2, clNavy},
      {&connector, 0, 2, false, 8, 2, 0xFFFFFF},   {&connector, 1, 0, false, 0, -1, 0xFFFFFF},
      {&connector, 2, 0, false, 0, -1, 0xFFFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.List->ItemExists(c.L, c.I), c.Exists) << c.L << "," << c.I;
    EXPECT_EQ(c.List->ItemSize(c.L, 0), c.Width) << c.L;
    EXPECT_EQ(c.List->ImageCount(c.L), c.Count) << c.L;
    EXPECT_EQ(c.List->ItemTransparentColor(c.L, c.I), c.Transparent) << c.L << "," << c.I;
    TBitmap target(3, 3, pf24bit);
    c.List->AssignItemTo(c.L, c.I, &target);
    EXPECT_EQ(target.Width(), c.Exists ? c.Width : 3);
  }
  EXPECT_EQ(strips.ItemPixel(0, 1, 5, 5), clBlue);
  EXPECT_EQ(connector.ItemPixel(0, 1, 5, 5), 0xFFFFFF);
  EXPECT_FALSE(strips.ItemMasked(0));
  plain.SetMasked(true);
  EXPECT_TRUE(connector.ItemMasked(0));

  // A list that goes leaves its entry empty, and the connector says so.
  int changes = 0;
  connector.OnChange = [&](TKelCustomComponent*) { ++changes; };
  {
    TImageList gone(4, 4);
    connector.Entry(1)->SetImageList(&gone);
    EXPECT_EQ(connector.ImageCount(1), 0);
  }
  EXPECT_EQ(connector.Entry(1)->ImageList(), nullptr);
  EXPECT_EQ(changes, 2);
}

TEST(KelIniCtrl, SettingsAndTheirRules) {
  TKelIniCtrl ini;
  EXPECT_EQ(ini.EffectiveTarget(), itRegistry);
  EXPECT_EQ(ini.EncKey(), 27604);
  EXPECT_EQ(ini.MaxEntries(), 16);
  const struct {
    const char* Given;
    const char* Stored;
  } names[] = {{"settings", "settings.INI"}, {"a.cfg", "a.cfg"}, {"dir.d/name", "dir.d/name.INI"}, {"", ""}};
  for (const auto& n : names) {
    ini.SetIniFile(n.Given);
    EXPECT_EQ(ini.IniFile(), n.Stored);
  }
  ini.SetMaxEntries(40);
  int changes = 0;
  ini.OnChange = [&](TKelCustomComponent*) { ++changes; };
  ini.SetAlphaCounter(true);
  EXPECT_EQ(ini.MaxEntries(), 26);
  ini.SetMaxEntries(30);
  EXPECT_EQ(ini.MaxEntries(), 26);
  ini.SetMaxEntries(20);
  ini.SetAlphaCounter(false);
  ini.SetMaxEntries(30);
  EXPECT_EQ(ini.MaxEntries(), 30);
  EXPECT_EQ(changes, 4);
  ini.SetNetUser(true);
  EXPECT_EQ(ini.User(), KelUserName());
  ini.SetTarget(itIniFile);
  EXPECT_EQ(ini.EffectiveTarget(), itIniFile);
  EXPECT_EQ(&KelApplicationIniCtrl(), &KelApplicationIniCtrl());
}
