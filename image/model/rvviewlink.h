// What the processing and input/output components need of the view they
// are attached to. The views implement it; the model never sees a widget.
// Also the picture control (TImage) those components can work on instead.
#pragma once

#include <functional>
#include <vector>

#include "platform/colors.h"
#include "platform/graphics.h"

namespace rv {

// The class library's plain event: who fired it.
using TNotifyEvent = std::function<void(void* Sender)>;

class TRvMask;
class TRvViewLink;

// (Sender, Destroying): Destroying is true once, while the view goes away;
// a component drops its reference then and never calls the view again.
using TRvBitmapChangeEvent = std::function<void(TRvViewLink* Sender, bool Destroying)>;

// The handle of no registration.
inline constexpr int RvNoBitmapChangeEvent = -1;

class TRvViewLink {
public:
  virtual ~TRvViewLink() = default;

  // The class-library bitmap the view displays (nullptr when none).
  virtual platform::TBitmap* GetBitmap() = 0;
  // The 8-bit transparency mask of the displayed picture; created on demand.
  virtual TRvMask* GetAlphaChannel() = 0;
  virtual void SetAlphaChannel(TRvMask* Value) = 0;
  virtual bool HasAlphaChannel() = 0;
  virtual void RemoveAlphaChannel() = 0;

  virtual platform::TColor GetBackground() const = 0;
  virtual void SetBackground(platform::TColor Value) = 0;

  // Update lock: answer the counter after the change.
  virtual int LockUpdate() = 0;
  virtual int UnlockUpdate() = 0;
  virtual int UnlockUpdateEx() = 0;

  virtual int DpiX() const = 0;
  virtual int DpiY() const = 0;
  virtual void SetDpiX(int Value) = 0;
  virtual void SetDpiY(int Value) = 0;
  virtual void SetDPI(int X, int Y) = 0;

  // Layout and repaint after the picture changed.
  virtual void Update() = 0;
  // Notification that the displayed image changed.
  virtual void ImageChange() = 0;

  // Answers a positive handle; RvNoBitmapChangeEvent and unknown handles are
  // ignored by RemoveBitmapChangeEvent.
  virtual int RegisterBitmapChangeEvent(TRvBitmapChangeEvent Callback) = 0;
  virtual void RemoveBitmapChangeEvent(int Handle) = 0;
  virtual void CallBitmapChangeEvents() = 0;

  // The selection of the single-picture view; other views have none.
  virtual TRvMask* SelectionMask() { return nullptr; }
  virtual bool HasSelection() const { return false; }
  virtual const platform::TPoint* SelectionPoints() const { return nullptr; }
  virtual int SelectionPointCount() const { return 0; }
};

// The view side of what stands in for a view and shows nothing: no
// picture, mask, background or resolution of its own and no layout to
// update; one change callback at a time.
class TRvHiddenViewLink : public TRvViewLink {
public:
  platform::TBitmap* GetBitmap() override { return nullptr; }
  TRvMask* GetAlphaChannel() override { return nullptr; }
  void SetAlphaChannel(TRvMask*) override {}
  bool HasAlphaChannel() override { return false; }
  void RemoveAlphaChannel() override {}
  platform::TColor GetBackground() const override { return 0; }
  void SetBackground(platform::TColor) override {}
  int LockUpdate() override { return 1; }
  int UnlockUpdate() override { return 0; }
  int UnlockUpdateEx() override { return 0; }
  int DpiX() const override { return 0; }
  int DpiY() const override { return 0; }
  void SetDpiX(int) override {}
  void SetDpiY(int) override {}
  void SetDPI(int, int) override {}
  void Update() override {}
  void ImageChange() override {}
  int RegisterBitmapChangeEvent(TRvBitmapChangeEvent Callback) override {
    FCallback = std::move(Callback);
    return 1;
  }
  void RemoveBitmapChangeEvent(int Handle) override {
    if (Handle == 1) FCallback = nullptr;
  }
  void CallBitmapChangeEvents() override {
    if (FCallback) FCallback(this, false);
  }

private:
  TRvBitmapChangeEvent FCallback;
};

// The class library's picture control: it shows the bitmap of its picture
// and tells those who asked for free notification when it goes away.
class TImage {
public:
  TImage() = default;
  virtual ~TImage();
  TImage(const TImage&) = delete;
  TImage& operator=(const TImage&) = delete;

  // The bitmap of the picture (Picture.Bitmap).
  platform::TBitmap* PictureBitmap() { return &FBitmap; }
  // Marks the picture changed: OnChange repaints whoever shows it.
  void Modified();
  std::function<void(TImage* Sender)> OnChange;

  // Answers a positive handle; the callback runs once from the destructor.
  int FreeNotification(std::function<void(TImage* Sender)> Callback);
  void RemoveFreeNotification(int Handle);

private:
  struct TEntry {
    int Handle;
    std::function<void(TImage*)> Callback;
  };
  platform::TBitmap FBitmap;
  std::vector<TEntry> FNotify;
  int FNextHandle = 1;
};

} // namespace rv
