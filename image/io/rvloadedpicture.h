// A picture read off the screen: what a view offers its input/output
// component (bitmap, alpha mask, background, resolution), without a widget,
// so that a component attached to it can load on a worker thread and the
// view take the result afterwards (TRastrumView::TakePicture).
#pragma once

#include <memory>

#include "image/model/rvmask.h"
#include "image/model/rvviewlink.h"

namespace rv {

class TRvLoadedPicture final : public TRvViewLink {
public:
  // Background and resolution start as the view's, so that a reader that
  // leaves them (or composes on the background) acts as it would on the view.
  TRvLoadedPicture(platform::TColor Background, int DpiX, int DpiY)
      : FBackground(Background), FDpiX(DpiX), FDpiY(DpiY) {}

  platform::TBitmap* GetBitmap() override { return &FBitmap; }
  TRvMask* GetAlphaChannel() override;
  void SetAlphaChannel(TRvMask* Value) override { FAlpha.reset(Value); }
  bool HasAlphaChannel() override { return FAlpha != nullptr; }
  void RemoveAlphaChannel() override { FAlpha.reset(); }
  // The mask read with the picture, handed over; nullptr when none.
  std::unique_ptr<TRvMask> TakeAlphaChannel() { return std::move(FAlpha); }

  platform::TColor GetBackground() const override { return FBackground; }
  void SetBackground(platform::TColor Value) override { FBackground = Value; }

  // Nothing is on screen: no lock, layout or listeners.
  int LockUpdate() override { return 0; }
  int UnlockUpdate() override { return 0; }
  int UnlockUpdateEx() override { return 0; }
  void Update() override {}
  void ImageChange() override {}
  int RegisterBitmapChangeEvent(TRvBitmapChangeEvent) override { return RvNoBitmapChangeEvent + 1; }
  void RemoveBitmapChangeEvent(int) override {}
  void CallBitmapChangeEvents() override {}

  int DpiX() const override { return FDpiX; }
  int DpiY() const override { return FDpiY; }
  void SetDpiX(int Value) override { FDpiX = Value; }
  void SetDpiY(int Value) override { FDpiY = Value; }
  void SetDPI(int X, int Y) override {
    FDpiX = X;
    FDpiY = Y;
  }

private:
  // A reader wraps only a 24- or 1-bit bitmap, as a view's always is.
  platform::TBitmap FBitmap{1, 1, platform::pf24bit};
  std::unique_ptr<TRvMask> FAlpha;
  platform::TColor FBackground;
  int FDpiX;
  int FDpiY;
};

} // namespace rv
