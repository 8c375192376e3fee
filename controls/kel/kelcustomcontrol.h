// The windowed bases of the control library: a control with its own window
// (transparent background, bound image list, hot-tracked flat or sunken
// frame, focus changes reported through queued events) and a scroll box
// whose border is a library bevel.
#pragma once

#include <QEvent>
#include <QScrollArea>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "controls/kel/kelbevel.h"
#include "controls/kel/kelcontrol.h"
#include "controls/kel/kelfill.h"

namespace kel {

// The library's queued notices of a windowed control's focus.
inline constexpr QEvent::Type kelFocusGainedEvent = QEvent::Type(QEvent::User + 207);
inline constexpr QEvent::Type kelFocusLostEvent = QEvent::Type(QEvent::User + 208);

class TKelCustomControl : public QWidget, public TKelParentBackground {
public:
  explicit TKelCustomControl(QWidget* parent = nullptr);
  ~TKelCustomControl() override;

  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  // 0: the parent paints the background into the control; 1: a truly
  // transparent window. Both leave the parent showing here.
  std::uint8_t TransparencyMode() const { return FTransparencyMode; }
  void SetTransparencyMode(std::uint8_t value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  // bsNone or bsSingle: a frame of 2 pixels (Ctl3D: sunken) or 1 (flat) in
  // the contents margins.
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value);
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool value);
  // The flat frame darkens while the mouse is inside or the control has the focus.
  bool FrameTracking() const { return FFrameTracking; }
  void SetFrameTracking(bool value);
  bool RepaintOnChange() const { return FRepaintOnChange; }
  void SetRepaintOnChange(bool value) { FRepaintOnChange = value; }
  bool MouseInside() const { return FMouseInside; }
  bool Focused() const { return FFocused; }
  int FrameWidth() const;

  TKelCustomImageList* ImageList() const { return FBinding.List(); }
  void SetImageList(TKelCustomImageList* value) { FBinding.SetList(value); }
  std::int32_t ImageIndex() const { return FBinding.ImageIndex(); }
  std::int32_t ListIndex() const { return FBinding.ListIndex(); }
  void SetIndexes(int index, std::int32_t value);
  bool ListItemMissing() const { return FBinding.ItemMissing(); }
  TKelBitmapEffectObject& BitmapEffect() { return FBitmapEffect; }

  std::function<void(TKelCustomControl* sender)> OnFocusGained;
  std::function<void(TKelCustomControl* sender)> OnFocusLost;
  std::function<void(TKelCustomControl* sender)> OnMouseEnter;
  std::function<void(TKelCustomControl* sender)> OnMouseExit;

  virtual bool IsTransparent() const { return FTransparent; }
  virtual bool ReadOnly() const { return false; }
  // Whether the control paints a transparent background for its children:
  // not the base.
  virtual bool ChildTransparentBackground() const { return false; }
  virtual void RepaintChange();
  virtual void ListChanged() { RepaintChange(); }
  virtual void ThemeChanged();

  bool ChildrenTransparent() const override { return ChildTransparentBackground(); }
  void PaintChildBackground(QWidget* child, TCanvas& canvas) override;

protected:
  // Fills the client area with Color unless the parent shows through.
  virtual void PaintBackground(TCanvas& canvas);
  virtual void PaintFrame(TCanvas& canvas);
  // Draws the control's contents; the base draws none.
  virtual void Paint(TCanvas& canvas) {}
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void UpdateMargins();
  void ApplyTransparency();

  bool FMouseInside = false;
  bool FFocused = false;
  bool FFrameTracking = false;
  bool FTransparent = false;
  bool FRepaintOnChange = true;
  TKelListBinding FBinding;
  TKelBitmapEffectObject FBitmapEffect;
  std::uint8_t FTransparencyMode = 0;
  std::uint8_t FThemeSetting = 1;
  TColor FColor = platform::clBtnFace;
  TFormBorderStyle FBorderStyle = bsNone;
  bool FCtl3D = true;
};

// A bevel that frames a scroll box.
class TKelScrollBoxBevel : public TKelBevel {
public:
  bool ScrollBox() const { return true; }
};

class TKelCustomScrollBox : public QScrollArea, public TKelParentBackground {
public:
  explicit TKelCustomScrollBox(QWidget* parent = nullptr);
  ~TKelCustomScrollBox() override;

  // The widget children go on; it grows to hold them.
  QWidget* Content() const { return widget(); }

  TKelScrollBoxBevel& Bevel() { return FBevel; }
  void SetBevel(const TKelBevel& value) { FBevel.Assign(value); }
  // The bevel stands in for the border: it always reads as none.
  TFormBorderStyle BorderStyle() const { return bsNone; }
  bool Ctl3D = true;
  bool ParentCtl3D = false;
  bool FullRepaint = false;
  bool TransparentBackground() const { return FTransparentBackground; }
  void SetTransparentBackground(bool value);
  // Repaint the children every N-th scroll step while scrolling (else only
  // when scrolling ends).
  bool RepaintWhileScrolling = true;
  int RepaintInterval = 1;
  bool SaveResources() const { return FSaveResources; }
  // Children out of view are hidden (and shown again when they come back).
  void SetSaveResources(bool value);
  void ApplySaveResources();

  std::function<void(TKelCustomScrollBox* sender)> OnScroll;

  // A scroll step; ended when the user let go (a drag released, a click done).
  void ScrollMessage(bool ended);
  // Counts the notices that repainted the children, for the curious.
  int ChildRepaints() const { return FChildRepaints; }

  bool ChildrenTransparent() const override;
  void PaintChildBackground(QWidget* child, TCanvas& canvas) override;

protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void UpdateFrame();
  void FitContent();
  void ApplyBackground();

  TKelScrollBoxBevel FBevel;
  bool FTransparentBackground = false;
  bool FSaveResources = false;
  bool FShownOnce = false;
  int FScrollCount = 0;
  int FChildRepaints = 0;
  QPoint FLastPosition;
  std::vector<QWidget*> FHiddenByUs;
};

} // namespace kel
