// Transition effects: the change from one picture to the next in a view,
// drawn frame by frame over a duration.
//
// Each effect's frame is a pure function of the start picture, the end
// picture and the progress (0 .. 1024 of the duration), so that the same
// progress always gives the same pixels whatever frames came before it. The
// engine around it keeps the pictures, runs a 1 ms timer, holds the view's
// update lock while it runs and asks the view to paint the frame from its
// own paint event.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>

#include "image/model/rvhelpers.h"
#include "platform/graphics.h"

class QTimer;

namespace rv {

enum TRvTransitionType {
  rvttNone,
  rvttCrossDissolve,
  rvttFadeOut,
  rvttFadeIn,
  rvttFadeOutIn,
  rvttLeftRight1,
  rvttLeftRight2,
  rvttRightLeft1,
  rvttRightLeft2,
  rvttUpDown1,
  rvttUpDown2,
  rvttDownUp1,
  rvttDownUp2,
  rvttFromUpLeft,
  rvttFromUpRight,
  rvttFromBottomLeft,
  rvttFromBottomRight,
  rvttMoveLeftRight1,
  rvttMoveLeftRight2,
  rvttMoveRightLeft1,
  rvttMoveRightLeft2,
  rvttMoveUpDown1,
  rvttMoveUpDown2,
  rvttMoveDownUp1,
  rvttMoveDownUp2,
  rvttRandomPoints,
  rvttRandomBoxes,
  rvttCenter1,
  rvttCenter2,
  rvttCenterZoom1,
  rvttCenterZoom2,
};

inline constexpr int RvTransitionScale = 1024;

// Progress of a transition ElapsedMs into Duration ms: Trunc(elapsed /
// duration x 1024), within 0 .. 1024. A duration below 1 is over at once.
int RvTransitionProgress(std::int64_t ElapsedMs, int Duration);

// Draws into Frame the picture of Effect at Progress (0 .. 1024). StartImage
// and EndImage are 24-bit pictures of one size; Frame is made 24-bit of that
// size. Background is the colour the fades pass through. Seed chooses the
// pixels and boxes of the random effects; one seed gives one sequence, in
// which a pixel once shown from the end picture stays shown. At 1024 the
// random effects show the whole end picture. rvttNone shows the end picture.
// Raises std::invalid_argument for pictures that are not 24-bit or differ in
// size.
void RvDrawTransition(TRvTransitionType Effect, const platform::TBitmap& StartImage,
                      const platform::TBitmap& EndImage, platform::TBitmap& Frame, int Progress,
                      const TRGB& Background, std::uint32_t Seed);

// What the engine needs of the view that shows it. The view forwards these
// to its update lock, its refresh and its paint scheduling.
class TRvTransitionView {
public:
  virtual ~TRvTransitionView() = default;
  // The view's LockUpdate and UnlockUpdateEx.
  virtual void TransitionLockUpdate() = 0;
  virtual void TransitionUnlockUpdate() = 0;
  // The view's Update: repaints the real picture once the transition ends.
  virtual void TransitionRefresh() = 0;
  // A new frame is due: the view schedules a paint event, which draws
  // FrameImage() at (0, 0) while Running() is true.
  virtual void TransitionPaint() = 0;
  // The view's Background, the colour the fades pass through.
  virtual platform::TColor TransitionBackground() const = 0;
};

class TRvTransitionEffects {
public:
  // View may be null (the effect is then drawn but shown nowhere).
  explicit TRvTransitionEffects(TRvTransitionView* View);
  ~TRvTransitionEffects();
  TRvTransitionEffects(const TRvTransitionEffects&) = delete;
  TRvTransitionEffects& operator=(const TRvTransitionEffects&) = delete;

  TRvTransitionType TransitionType() const { return FType; }
  void SetTransitionType(TRvTransitionType Value) {
    FType = Value;
    FFrameDirty = true;
  }
  int Duration() const { return FDuration; }
  void SetDuration(int Value) { FDuration = Value; }

  // Stops, then sizes the start, end and frame images to Width x Height.
  void SetSizes(int Width, int Height);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // The snapshots the view renders into after SetSizes.
  platform::TBitmap& StartImage() { return FStartImage; }
  platform::TBitmap& EndImage() { return FEndImage; }

  void Start(bool RefreshAtEnd);
  void Stop();
  // One timer tick: the frame for the progress reached at the previous tick
  // is asked to be painted, then the progress moves on; the transition stops
  // once the duration has elapsed.
  void Step();

  // The whole road in one call: snapshots of StartPicture and EndPicture (at
  // the start picture's size, 24-bit), then Start.
  void Run(const platform::TBitmap& StartPicture, const platform::TBitmap& EndPicture,
           TRvTransitionType Effect, int Duration, bool RefreshAtEnd = true);

  bool Running() const { return FRunning; }
  int Progress() const { return FProgress; }
  int FrameCount() const { return FFrameCount; }
  std::uint32_t Seed() const { return FSeed; }
  // The frame the view paints now; drawn on demand, once per step.
  const platform::TBitmap& FrameImage();
  // The frame for ElapsedMs into the running transition.
  const platform::TBitmap& FrameAt(std::int64_t ElapsedMs);

  // Milliseconds of a monotonic clock; tests replace it.
  std::function<std::int64_t()> Clock;

private:
  void DrawFrame(int Progress);

  TRvTransitionView* FView;
  platform::TBitmap FStartImage;
  platform::TBitmap FEndImage;
  platform::TBitmap FFrameImage;
  std::unique_ptr<QTimer> FTimer;
  int FWidth = 1;
  int FHeight = 1;
  bool FRunning = false;
  int FProgress = 0;
  int FPaintProgress = 0;  // progress of the frame the view is to paint
  bool FFrameDirty = true; // FFrameImage does not show FPaintProgress yet
  TRvTransitionType FType = rvttNone;
  int FDuration = 1000;
  std::int64_t FStartTicks = 0;
  bool FRefreshAtEnd = false;
  int FFrameCount = 0;
  std::uint32_t FSeed = 0;
  std::mt19937 FRandom;
};

} // namespace rv
