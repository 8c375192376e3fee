// The base control of the image views: background colour, frame, resolution,
// update lock, mouse enter and leave events, and the change callbacks
// through which the attached components follow the view.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "image/model/rvviewlink.h"
#include "platform/colors.h"
#include "platform/graphics.h"

namespace rv {

enum TBorderStyle : std::uint8_t { bsNone, bsSingle };


class TRvView : public QWidget, public TRvViewLink {
public:
  explicit TRvView(QWidget* AOwner = nullptr);
  ~TRvView() override;

  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool Value);
  bool ParentCtl3D() const { return FParentCtl3D; }
  void SetParentCtl3D(bool Value) { FParentCtl3D = Value; }

  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

  // TRvViewLink.
  platform::TColor GetBackground() const override { return FBackground; }
  void SetBackground(platform::TColor Value) override;
  platform::TBitmap* GetBitmap() override { return nullptr; }
  // The base keeps no picture: no alpha channel.
  TRvMask* GetAlphaChannel() override { return nullptr; }
  void SetAlphaChannel(TRvMask*) override {}
  bool HasAlphaChannel() override { return false; }
  void RemoveAlphaChannel() override {}
  // A counter: painting waits while it is above 0; UnlockUpdate refreshes
  // when it reaches 0, UnlockUpdateEx does not.
  int LockUpdate() override;
  int UnlockUpdate() override;
  int UnlockUpdateEx() override;
  int UpdateLockCount() const { return FUpdateLock; }
  int DpiX() const override { return FDpiX; }
  int DpiY() const override { return FDpiY; }
  // 0 is ignored.
  void SetDpiX(int Value) override;
  void SetDpiY(int Value) override;
  void SetDPI(int X, int Y) override;
  // Repaints the control.
  void Update() override;
  void ImageChange() override {}
  int RegisterBitmapChangeEvent(TRvBitmapChangeEvent Callback) override;
  void RemoveBitmapChangeEvent(int Handle) override;
  void CallBitmapChangeEvents() override;
  int BitmapChangeEventCount() const { return static_cast<int>(FCallbacks.size()); }

  // The control's canvas while it paints (nullptr otherwise); its origin is
  // the client area's top-left corner, inside the frame.
  platform::TCanvas* GetCanvas() { return FCanvas; }
  // Width of the frame on each side: 2 for the sunken client edge, 1 for a
  // plain border, 0 without.
  int FrameWidth() const { return FFrameWidth; }
  // The contents rectangle: inside the frame and any scroll bars a
  // descendant reserves with contents margins.
  int ClientWidth() const;
  int ClientHeight() const;

  // The part of the client area the running paint event repaints (client
  // coordinates); empty outside paint events.
  platform::TRect PaintClipRect() const { return FPaintClip; }

protected:
  // Draws the client area through GetCanvas; the base fills it with
  // Background. Not called while the update lock is held.
  virtual void Paint();
  // Called instead of Paint while the update lock is held; draws nothing
  // in the base (the window keeps what it showed).
  virtual void PaintLocked() {}
  // Applies the frame that BorderStyle and Ctl3D ask for.
  virtual void RecreateWnd();

  void paintEvent(QPaintEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

private:
  struct TCallbackRecord {
    int Handle;
    TRvBitmapChangeEvent Callback;
  };
  void CreateParams();

  TBorderStyle FBorderStyle = bsSingle;
  std::vector<TCallbackRecord> FCallbacks;
  int FNextHandle = 1;
  platform::TColor FBackground = platform::clBtnFace;
  int FDpiX = 0;
  int FDpiY = 0;
  bool FCtl3D = true;
  bool FParentCtl3D = true;
  int FUpdateLock = 0;
  int FFrameWidth = 0;
  platform::TCanvas* FCanvas = nullptr;
  platform::TRect FPaintClip;
};

} // namespace rv
