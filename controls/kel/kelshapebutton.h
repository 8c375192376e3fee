// The shape button: a window-less push button drawn as a shape (rounded
// rectangle, ellipse and other outlines) with shadow, bevel, caption and
// glyph. It can latch in groups, repeat while held, open a drop-down menu,
// highlight under the cursor and ignore presses outside its outline.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QRegion>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controls/kel/kelcaption.h"
#include "controls/kel/kelcontrol.h"
#include "controls/kel/kelglyph.h"
#include "controls/kel/kelshape.h"

class QMenu;
class QShortcut;

namespace kel {

enum TKelButtonState : std::uint8_t {
  bsUp = 0,
  bsDisabled = 1,
  bsMouseOver = 2,
  bsOptionSet = 3,
  bsDown = 4,
  bsDropDown = 6,
  bsDisabledOptionSet = 7
};

class TKelShapeButtonColor : public TKelObject {
public:
  TColor Disabled() const { return FColors[0]; }
  TColor Down() const { return FColors[1]; }
  TColor MouseOver() const { return FColors[2]; }
  TColor OptionSet() const { return FColors[3]; }
  TColor Up() const { return FColors[4]; }
  // index 0 Disabled, 1 Down, 2 MouseOver, 3 OptionSet, 4 Up.
  void SetColor(int index, TColor value);
  void SetDisabled(TColor value) { SetColor(0, value); }
  void SetDown(TColor value) { SetColor(1, value); }
  void SetMouseOver(TColor value) { SetColor(2, value); }
  void SetOptionSet(TColor value) { SetColor(3, value); }
  void SetUp(TColor value) { SetColor(4, value); }
  // The shape's brush colour in a state; clNone for a state without one.
  TColor ForState(int state) const;
  void Assign(const TKelObject& source) override;

private:
  TColor FColors[5] = {platform::clBtnFace, platform::clBtnFace, platform::clBtnFace, platform::clBtnFace,
                       platform::clBtnFace};
};

class TKelBaseGraphicButton : public TKelBaseControl {
  Q_OBJECT
public:
  explicit TKelBaseGraphicButton(QWidget* parent = nullptr);
  ~TKelBaseGraphicButton() override;

  TKelButtonState State() const { return FState; }
  TKelButtonState SavedState() const { return FSavedState; }
  // The only way the state changes.
  void SetState(TKelButtonState value);

  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool value) { FAllowAllUp = value; }
  bool AllowMouseOver() const { return FAllowMouseOver; }
  void SetAllowMouseOver(bool value) { FAllowMouseOver = value; }
  bool AllowTransparency() const { return FAllowTransparency; }
  void SetAllowTransparency(bool value) { FAllowTransparency = value; }
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int value);
  bool Pressed() const { return FPressed; }
  void SetPressed(bool value);
  QMenu* DropDownMenu() const { return FDropDownMenu; }
  void SetDropDownMenu(QMenu* value) { FDropDownMenu = value; }
  int DropDownIndent = 0;
  bool DropDownRight = false;
  TColor EnterColor = platform::clCaptionText;
  bool EnterColorChange = false;
  bool HideHint = true;
  bool RepeatedClick = false;
  std::uint16_t RepeatingDelay = 500;
  std::uint16_t RepeatingInterval = 100;
  bool UseCaption() const { return FUseCaption; }
  void SetUseCaption(bool value);
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  bool MultiLine() const { return FMultiLine; }
  void SetMultiLine(bool value);
  // The font used when ParentFont is off; with it on the widget's own.
  const platform::TFont& Font() const { return FFont; }
  void SetFont(const platform::TFont& value);
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool value);
  platform::TFont EffectiveFont() const;
  TColor Color() const { return FColor; }
  void SetColor(TColor value);

  const TBitmap& Glyph() const { return FGlyph.Glyph(); }
  void SetGlyph(const TBitmap& value);
  int NumGlyphs() const { return FGlyph.NumGlyphs(); }
  void SetNumGlyphs(int value) { FGlyph.SetNumGlyphs(value); }
  TKelGlyph& GlyphObject() { return FGlyph; }
  TKelButtonLayout& ButtonLayout() { return FButtonLayout; }
  TKelFxCaption& FontFX() { return FFontFX; }

  std::function<void(TKelBaseGraphicButton* sender)> OnClick;
  std::function<void(TKelBaseGraphicButton* sender)> OnDblClick;
  std::function<void(TKelBaseGraphicButton* sender)> OnDropDown;
  std::function<void(TKelBaseGraphicButton* sender, Qt::MouseButton button, int x, int y)> OnMouseDown;
  std::function<void(TKelBaseGraphicButton* sender, Qt::MouseButton button, int x, int y)> OnMouseUp;
  std::function<void(TKelBaseGraphicButton* sender, int x, int y)> OnMouseMove;

  // Shows the drop-down menu at a screen point and returns when it closes;
  // tests set it in place of the menu's own modal run.
  static std::function<void(QMenu& menu, const QPoint& at)> MenuPopup;

  // The timer slots: 0 mouse-over polling, 1 auto-repeat.
  void StartTimer(int slot, std::uint16_t interval, std::function<void()> callback);
  void StopTimer(int slot);
  std::uint16_t TimerId(int slot) const { return slot >= 0 && slot < 2 ? FTimers[slot] : 0; }

  virtual bool UsesImageList() const { return ImageList() != nullptr; }
  // A parent that reports a transparent background paints under the button.
  bool IsTransparentNow() const override;
  void PaintParentBackground(TCanvas& canvas);
  bool HasMouseOverGlyph() const { return FGlyph.HasMouseOverGlyph(); }
  virtual bool PointInShape(int x, int y);
  void CheckMousePos();
  void RepeatTick();
  void Click();
  // The caption's accelerator pressed.
  void DialogChar();
  void DropDown();
  // The caption's accelerator (none without "&" in the caption).
  QShortcut* Accelerator() const { return FShortcut; }
  void NotifyGroup();
  // A button of the same group was latched by sender.
  void ButtonPressed(int group, TKelBaseGraphicButton* sender);

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void MouseEnter() override;
  void MouseExit() override;
  // Repaints for a state change: invalidated or painted at once.
  void Repaint();
  bool Inside(int x, int y);
  // Whether a change between the two states would look the same.
  virtual bool LooksSame(TKelButtonState from, TKelButtonState to) const;
  void MouseDown(int x, int y);
  // Caption and glyph in body: the glyph from the bound image list, else
  // from Glyph; the canvas brush's colour stays as it is.
  void PaintGlyphAndCaption(TCanvas& canvas, const TRect& body);

  TKelGlyph FGlyph;
  TKelButtonLayout FButtonLayout;
  TKelFxCaption FFontFX;
  static constexpr int ArrowWidth = 12;

private:
  void UpdateShortcut();

  TKelButtonState FState = bsUp;
  TKelButtonState FSavedState = bsUp;
  bool FTracking = false;
  bool FRepeating = false;
  std::uint16_t FTimers[2] = {0, 0};
  bool FAllowAllUp = false;
  bool FAllowMouseOver = true;
  bool FAllowTransparency = true;
  int FGroupIndex = 0;
  bool FPressed = false;
  QPointer<QMenu> FDropDownMenu;
  bool FUseCaption = true;
  std::string FCaption;
  bool FMultiLine = false;
  platform::TFont FFont;
  bool FParentFont = true;
  TColor FColor = platform::clWindow;
  QShortcut* FShortcut = nullptr;
};

enum TKelShapeButtonMode : std::uint8_t { sbmShapeFast, sbmShapeFill };
enum TKelShapeButtonStyle : std::uint8_t { sbsShadow, sbs3D };

class TKelCustomShapeButton : public TKelBaseGraphicButton {
  Q_OBJECT
public:
  explicit TKelCustomShapeButton(QWidget* parent = nullptr);
  ~TKelCustomShapeButton() override;

  TKelShape& Shape() { return FShape; }
  void SetShape(const TKelShape& value) { FShape.Assign(value); }
  TKelShapeButtonColor& Colors() { return FColors; }
  void SetColors(const TKelShapeButtonColor& value) { FColors.Assign(value); }
  TKelShapeFill& ShapeFill() { return FShapeFill; }
  void SetShapeFill(const TKelShapeFill& value) { FShapeFill.Assign(value); }
  TKelShapeButtonMode Mode() const { return FMode; }
  void SetMode(TKelShapeButtonMode value);
  TKelShapeButtonStyle Style() const { return FStyle; }
  void SetStyle(TKelShapeButtonStyle value);
  // Keyed out around the shape with Color, so the parent shows through.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  TKelCustomImageList* ShapeFillImageList() const { return FFillList.List(); }
  void SetShapeFillImageList(TKelCustomImageList* value);
  int ShapeFillImageIndex() const { return FShapeFillImageIndex; }
  int ShapeFillListIndex() const { return FShapeFillListIndex; }
  void SetShapeFillIndexes(int imageIndex, int listIndex);

  bool PointInShape(int x, int y) override;
  void UpdateControl() override;
  // Renders ShapeFill into the fill bitmap.
  void UpdateShapeFill();
  // Draws the button into canvas (the work bitmap of the paint event).
  void PaintTo(TCanvas& canvas);
  // The last painted picture (the work bitmap).
  const TBitmap& WorkBitmap() const { return FWork; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool LooksSame(TKelButtonState from, TKelButtonState to) const override;

private:
  const QRegion& ShapeRegion();

  TKelShape FShape;
  TKelShapeButtonColor FColors;
  TKelShapeFill FShapeFill;
  int FShapeFillImageIndex = 0;
  int FShapeFillListIndex = 0;
  TKelShapeButtonMode FMode = sbmShapeFast;
  TKelShapeButtonStyle FStyle = sbsShadow;
  bool FTransparent = false;
  TBitmap FFillBitmap;
  TBitmap FWork;
  TKelPointList FPoints;
  QRegion FRegion;
  bool FRegionValid = false;
  TKelListHolder<TKelCustomImageList> FFillList;
};

// Publishes the shape button; all behaviour is in its bases.
class TKelShapeButton : public TKelCustomShapeButton {
  Q_OBJECT
public:
  explicit TKelShapeButton(QWidget* parent = nullptr);
};

} // namespace kel
