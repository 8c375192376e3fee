// The form shape: gives a form the window region of a region shape, paints
// the form's background from a fill or the mask bitmap with the region's
// border and shadow over it, and lets the user drag the form by its client
// area. The window manager's frame cannot be cut by a mask, so a shaped form
// is frameless: its frame and caption take the sizes of the classic look
// and the client area starts inside them.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRegion>
#include <cstdint>
#include <memory>

#include "controls/kel/kelcontrol.h"
#include "controls/kel/kelfill.h"
#include "controls/kel/kelfoundation.h"
#include "controls/kel/kelregion.h"

namespace kel {

// Frame and caption sizes of the classic look at 96 pixels per inch.
inline constexpr int SM_CYCAPTION = 4, SM_CXDLGFRAME = 7, SM_CYDLGFRAME = 8, SM_CXFRAME = 32, SM_CYFRAME = 33,
                     SM_CYSMCAPTION = 51;
int KelClassicMetric(int index);

class TKelFormShape : public TKelWndProcComponent, public TKelParentBackground {
public:
  // One per form: a second one, or an owner that is no window, raises
  // KelEOneInstError.
  explicit TKelFormShape(QWidget* form);
  ~TKelFormShape() override;

  TKelBorderRegion& Region() { return FRegion; }
  void SetRegion(const TKelBorderRegion& value) { FRegion.Assign(value); }
  bool ShowFormCaption() const { return FShowFormCaption; }
  void SetShowFormCaption(bool value);
  bool FormDragable() const { return FFormDragable; }
  void SetFormDragable(bool value) { FFormDragable = value; }
  bool UseRgnBitmap() const { return FUseRgnBitmap; }
  void SetUseRgnBitmap(bool value);
  TKelFillObject& FillObject() { return FFillObject; }
  void SetFillObject(const TKelFillObject& value) { FFillObject.Assign(value); }
  TKelCustomImageList* ImageList() const { return FBinding.List(); }
  void SetImageList(TKelCustomImageList* value) { FBinding.SetList(value); }
  int ListIndex() const { return FBinding.ListIndex(); }
  int ImageIndex() const { return FBinding.ImageIndex(); }
  // index 0 ImageIndex, 1 ListIndex.
  void SetIndexes(int index, int value);
  // The border the form would have: it decides the frame and caption sizes.
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value);

  TRect ShapeRect() const { return FShapeRect; }
  int CaptionHeight() const { return FCaptionHeight; }
  // Where the client area starts in the form: inside the frame and caption.
  QPoint ClientOrigin() const;
  platform::TRect ClientRect() const;
  // The window region last given to the form.
  const QRegion& WindowRegion() const { return FWindowRegion; }
  bool ShapeInForce() const { return Enabled() && Hooked(); }

  bool HasBackground() const;
  const TBitmap* BackgroundBitmap();
  // Copies the background under rect's size at position (client
  // coordinates) into rect of canvas.
  void PaintControlBackground(TCanvas& canvas, const TRect& rect, QPoint position);

  void UpdateFormRegion();
  // The background and the region's border; canvas in client coordinates.
  void PaintFormBackground(TCanvas& canvas);

  void Hook() override;
  void Unhook() override;

  bool ChildrenTransparent() const override { return ShapeInForce(); }
  void PaintChildBackground(QWidget* child, TCanvas& canvas) override;

protected:
  bool WndProc(QEvent* event) override;
  void Loaded() override;

private:
  void FrameSizes(int& fx, int& fy, int& caption) const;
  void Update();
  void RenderBackground();
  void PaintCaption(QPainter& painter);

  TKelBorderRegion FRegion;
  bool FShowFormCaption = true;
  bool FFormDragable = true;
  bool FUseRgnBitmap = true;
  TKelFillObject FFillObject;
  TKelListBinding FBinding;
  const QWidget* FFormKey;
  TFormBorderStyle FBorderStyle = bsSizeable;
  QRegion FWindowRegion;
  TBitmap FBackground;
  bool FBackgroundValid = false;
  TRect FShapeRect;
  int FCaptionHeight = 0;
  bool FRightButton = false;
  bool FBusy = false;
  bool FDragging = false;
  QPoint FDragFrom;
  QPoint FFormFrom;
  bool FMadeFrameless = false;
};

} // namespace kel
