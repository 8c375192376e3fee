#include "image/model/rvtransitions.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <string>

namespace {

using namespace rv;
using platform::TBitmap;

constexpr int W = 40;
constexpr int H = 20;
const TRGB Back{10, 20, 30}; // blue, green, red

// A picture whose pixel (x, y) is blue x, green y, red Tag: a frame pixel
// then tells which picture and which place it came from.
void Pattern(TBitmap& B, int Width, int Height, std::uint8_t Tag) {
  B.SetPixelFormat(platform::pf24bit);
  B.SetSize(Width, Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      std::uint8_t* p = B.ScanLine(y) + x * 3;
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = Tag;
    }
}

void Solid(TBitmap& B, int Width, int Height, TRGB C) {
  B.SetPixelFormat(platform::pf24bit);
  B.SetSize(Width, Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) std::memcpy(B.ScanLine(y) + x * 3, &C, 3);
}

TRGB At(const TBitmap& B, int X, int Y) {
  TRGB c;
  std::memcpy(&c, B.ScanLine(Y) + X * 3, 3);
  return c;
}

std::string Where(char Picture, int X, int Y) {
  return std::string(1, Picture) + "(" + std::to_string(X) + "," + std::to_string(Y) + ")";
}

// "S(x,y)" or "E(x,y)" for a pattern pixel, "red", "back" or the bytes.
std::string Origin(const TBitmap& F, int X, int Y) {
  const TRGB c = At(F, X, Y);
  if (c.r == 1) return Where('S', c.b, c.g);
  if (c.r == 2) return Where('E', c.b, c.g);
  if (c.b == 0 && c.g == 0 && c.r == 255) return "red";
  if (RvSameRGB(c, Back)) return "back";
  return "?" + std::to_string(c.b) + "," + std::to_string(c.g) + "," + std::to_string(c.r);
}

std::string S(int X, int Y) { return Where('S', X, Y); }
std::string E(int X, int Y) { return Where('E', X, Y); }

class Frames : public ::testing::Test {
protected:
  Frames() {
    Pattern(Start, W, H, 1);
    Pattern(End, W, H, 2);
  }
  const TBitmap& Draw(TRvTransitionType Effect, int P, std::uint32_t Seed = 7) {
    RvDrawTransition(Effect, Start, End, Frame, P, Back, Seed);
    return Frame;
  }
  // Every pixel of the frame against Expected; reports the first mismatch.
  void Expect(TRvTransitionType Effect, int P,
              const std::function<std::string(int, int)>& Expected) {
    Draw(Effect, P);
    ASSERT_EQ(Frame.Width(), W);
    ASSERT_EQ(Frame.Height(), H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (Origin(Frame, x, y) != Expected(x, y)) {
          ADD_FAILURE() << "effect " << Effect << " at " << P << ", pixel (" << x << "," << y
                        << "): " << Origin(Frame, x, y) << " instead of " << Expected(x, y);
          return;
        }
  }
  TBitmap Start, End, Frame;
};

auto Same(char Picture) {
  return [Picture](int x, int y) { return Where(Picture, x, y); };
}

TEST_F(Frames, EveryEffectStartsOnTheOldPictureAndEndsOnTheNew) {
  for (int t = rvttCrossDissolve; t <= rvttCenterZoom2; ++t) {
    const auto effect = static_cast<TRvTransitionType>(t);
    SCOPED_TRACE(t);
    if (effect == rvttFadeIn)
      Expect(effect, 0, [](int, int) { return std::string("back"); });
    else if (effect == rvttLeftRight2) // the wipe's line stands at column 0
      Expect(effect, 0, [](int x, int y) { return x == 0 ? std::string("red") : S(x, y); });
    else if (effect == rvttUpDown2)
      Expect(effect, 0, [](int x, int y) { return y == 0 ? std::string("red") : S(x, y); });
    else
      Expect(effect, 0, Same('S'));

    if (effect == rvttFadeOut)
      Expect(effect, 1024, [](int, int) { return std::string("back"); });
    else if (effect == rvttRightLeft2)
      Expect(effect, 1024, [](int x, int y) { return x == 0 ? std::string("red") : E(x, y); });
    else if (effect == rvttDownUp2)
      Expect(effect, 1024, [](int x, int y) { return y == 0 ? std::string("red") : E(x, y); });
    else
      Expect(effect, 1024, Same('E'));
  }
  Expect(rvttNone, 300, Same('E'));
}

TEST_F(Frames, ProgressIsClampedToTheScale) {
  Expect(rvttLeftRight1, -5, Same('S'));
  Expect(rvttLeftRight1, 5000, Same('E'));
}

TEST(TransitionBlends, WeightedPerChannelWithTheScaleOf1024) {
  TBitmap s, e, f;
  Solid(s, 3, 2, TRGB{100, 0, 200});
  Solid(e, 3, 2, TRGB{0, 255, 50});
  const TRGB back{10, 20, 30};
  auto check = [&](TRvTransitionType t, int p, TRGB want) {
    RvDrawTransition(t, s, e, f, p, back, 0);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const TRGB c = At(f, x, y);
        EXPECT_EQ(c.b, want.b) << t << " " << p;
        EXPECT_EQ(c.g, want.g) << t << " " << p;
        EXPECT_EQ(c.r, want.r) << t << " " << p;
      }
  };
  // (100 x 768 + 0 x 256) shr 10 = 75; 255 x 256 shr 10 = 63; 166400 shr 10 = 162.
  check(rvttCrossDissolve, 256, {75, 63, 162});
  // Towards the background: (100 x 768 + 10 x 256) shr 10 = 77, 5, 157.
  check(rvttFadeOut, 256, {77, 5, 157});
  // From it: (0 x 256 + 10 x 768) shr 10 = 7, (65280 + 15360) shr 10 = 78, 35.
  check(rvttFadeIn, 256, {7, 78, 35});
  // Out and in: half way out at 256, the background at 512, half way in at 768.
  check(rvttFadeOutIn, 256, {55, 10, 115});
  check(rvttFadeOutIn, 512, {10, 20, 30});
  check(rvttFadeOutIn, 768, {5, 137, 40});
}

TEST_F(Frames, WipesShowTheEndPictureInPlace) {
  // 300 x 40 shr 10 = 11 columns.
  Expect(rvttLeftRight1, 300, [](int x, int y) { return x < 11 ? E(x, y) : S(x, y); });
  Expect(rvttLeftRight2, 300, [](int x, int y) {
    return x < 11 ? E(x, y) : x == 11 ? std::string("red") : S(x, y);
  });
  Expect(rvttLeftRight1, 512, [](int x, int y) { return x < 20 ? E(x, y) : S(x, y); });
  // Nearest(724 x 40 / 1024 = 28.28) = 28.
  Expect(rvttRightLeft1, 300, [](int x, int y) { return x >= 28 ? E(x, y) : S(x, y); });
  Expect(rvttRightLeft2, 300, [](int x, int y) {
    return x > 28 ? E(x, y) : x == 28 ? std::string("red") : S(x, y);
  });
  // Nearest(960 x 40 / 1024 = 37.5) = 38, the even neighbour.
  Expect(rvttRightLeft1, 64, [](int x, int y) { return x >= 38 ? E(x, y) : S(x, y); });
  // Nearest(300 x 20 / 1024 = 5.86) = 6 rows.
  Expect(rvttUpDown1, 300, [](int x, int y) { return y < 6 ? E(x, y) : S(x, y); });
  Expect(rvttUpDown2, 300, [](int x, int y) {
    return y < 6 ? E(x, y) : y == 6 ? std::string("red") : S(x, y);
  });
  // Nearest(724 x 20 / 1024 = 14.14) = 14.
  Expect(rvttDownUp1, 300, [](int x, int y) { return y >= 14 ? E(x, y) : S(x, y); });
  Expect(rvttDownUp2, 300, [](int x, int y) {
    return y > 14 ? E(x, y) : y == 14 ? std::string("red") : S(x, y);
  });
}

TEST_F(Frames, CornerSlidesBringTheEndPictureIn) {
  // Half way: DX = 20, DY = 10.
  Expect(rvttFromUpLeft, 512,
         [](int x, int y) { return x < 20 && y < 10 ? E(x + 20, y + 10) : S(x, y); });
  Expect(rvttFromUpRight, 512,
         [](int x, int y) { return x >= 20 && y < 10 ? E(x - 20, y + 10) : S(x, y); });
  Expect(rvttFromBottomLeft, 512,
         [](int x, int y) { return x < 20 && y >= 10 ? E(x + 20, y - 10) : S(x, y); });
  Expect(rvttFromBottomRight, 512,
         [](int x, int y) { return x >= 20 && y >= 10 ? E(x - 20, y - 10) : S(x, y); });
  // DX = 724 x 40 shr 10 = 28, DY = 724 x 20 shr 10 = 14.
  Expect(rvttFromUpLeft, 300,
         [](int x, int y) { return x < 12 && y < 6 ? E(x + 28, y + 14) : S(x, y); });
  Expect(rvttFromBottomRight, 300,
         [](int x, int y) { return x >= 28 && y >= 14 ? E(x - 28, y - 14) : S(x, y); });
}

TEST_F(Frames, MovesPushThePicturesAcross) {
  // s = 300 x 40 shr 10 = 11; 724 x 40 shr 10 = 28.
  Expect(rvttMoveLeftRight1, 300,
         [](int x, int y) { return x < 11 ? E(x + 29, y) : S(x - 11, y); });
  Expect(rvttMoveLeftRight2, 300, [](int x, int y) { return x < 11 ? E(x, y) : S(x - 11, y); });
  Expect(rvttMoveRightLeft1, 300,
         [](int x, int y) { return x < 28 ? S(x + 12, y) : E(x - 28, y); });
  Expect(rvttMoveRightLeft2, 300, [](int x, int y) { return x < 28 ? S(x, y) : E(x - 28, y); });
  // s = 300 x 20 shr 10 = 5 rows; 724 x 20 shr 10 = 14.
  Expect(rvttMoveUpDown1, 300, [](int x, int y) { return y < 5 ? E(x, y + 15) : S(x, y - 5); });
  Expect(rvttMoveUpDown2, 300, [](int x, int y) { return y < 5 ? E(x, y) : S(x, y - 5); });
  Expect(rvttMoveDownUp1, 300, [](int x, int y) { return y < 14 ? S(x, y + 6) : E(x, y - 14); });
  Expect(rvttMoveDownUp2, 300, [](int x, int y) { return y < 14 ? S(x, y + 6) : E(x, y); });
}

TEST_F(Frames, CentreEffectsGrowAndShrinkAboutTheMiddle) {
  // 512: X0 = 20 - 10 = 10, Y0 = 10 - 5 = 5, 20 x 10.
  Expect(rvttCenter1, 512,
         [](int x, int y) { return x >= 10 && x < 30 && y >= 5 && y < 15 ? E(x, y) : S(x, y); });
  // 300: X0 = 20 - 5 = 15, Y0 = 10 - 2 = 8, 11 x 5.
  Expect(rvttCenter1, 300,
         [](int x, int y) { return x >= 15 && x < 26 && y >= 8 && y < 13 ? E(x, y) : S(x, y); });
  // Q = 724: X0 = 20 - 14 = 6, Y0 = 10 - 7 = 3, 28 x 14 of the start picture.
  Expect(rvttCenter2, 300,
         [](int x, int y) { return x >= 6 && x < 34 && y >= 3 && y < 17 ? S(x, y) : E(x, y); });
  // The whole picture at half size: each pixel takes the one under its centre.
  Expect(rvttCenterZoom1, 512, [](int x, int y) {
    return x >= 10 && x < 30 && y >= 5 && y < 15 ? E(2 * (x - 10) + 1, 2 * (y - 5) + 1) : S(x, y);
  });
  Expect(rvttCenterZoom2, 512, [](int x, int y) {
    return x >= 10 && x < 30 && y >= 5 && y < 15 ? S(2 * (x - 10) + 1, 2 * (y - 5) + 1) : E(x, y);
  });
}

TEST(TransitionRandom, PointsRevealAsManyPixelsAsTheDrawsHit) {
  TBitmap s, e, f, g;
  Pattern(s, 200, 100, 1);
  Pattern(e, 200, 100, 2);
  auto shownAt = [&](int p, TBitmap& frame) {
    RvDrawTransition(rvttRandomPoints, s, e, frame, p, TRGB{}, 1234);
    int shown = 0;
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 200; ++x) {
        const TRGB c = At(frame, x, y);
        EXPECT_EQ(c.b, x); // every pixel stays in its place
        EXPECT_EQ(c.g, y);
        shown += c.r == 2;
      }
    return shown;
  };
  // N = Nearest(200 x 512 x (512 / 180) / 1024) = 284 draws per row, so a
  // pixel is hit with probability 1 - (199/200)^284 = 0.759.
  const int half = shownAt(512, f);
  EXPECT_NEAR(half / 20000.0, 0.759, 0.02);
  // The set only grows: what 300 shows, 512 shows too.
  shownAt(300, g);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      if (At(g, x, y).r == 2) {
        ASSERT_EQ(At(f, x, y).r, 2);
      }
  // One seed, one sequence.
  TBitmap again;
  RvDrawTransition(rvttRandomPoints, s, e, again, 512, TRGB{}, 1234);
  EXPECT_EQ(again.Image(), f.Image());
  // Just before the end a few start pixels may remain (about 0.34 %).
  EXPECT_GT(shownAt(1023, f), 19800);
}

TEST(TransitionRandom, BoxesAreAligned8x8Blocks) {
  TBitmap s, e, f;
  Pattern(s, 200, 100, 1);
  Pattern(e, 200, 100, 2);
  RvDrawTransition(rvttRandomBoxes, s, e, f, 512, TRGB{}, 99);
  int shownBlocks = 0;
  for (int by = 0; by < 13; ++by)
    for (int bx = 0; bx < 25; ++bx) {
      const int tag = At(f, bx * 8, by * 8).r;
      for (int y = by * 8; y < std::min(100, by * 8 + 8); ++y)
        for (int x = bx * 8; x < bx * 8 + 8; ++x) {
          ASSERT_EQ(At(f, x, y).r, tag) << x << "," << y;
          ASSERT_EQ(At(f, x, y).b, x);
          ASSERT_EQ(At(f, x, y).g, y);
        }
      shownBlocks += tag == 2;
    }
  // N = Nearest(312 x 512 x (512 / 180) / 1024) = 444 boxes; a full block is
  // hit with probability 1 - (1 - 64/20000)^444 = 0.759.
  EXPECT_NEAR(shownBlocks / 325.0, 0.76, 0.08);
}

TEST(TransitionFrame, RefusesPicturesThatDoNotMatch) {
  TBitmap s, e, f;
  Pattern(s, 4, 4, 1);
  Pattern(e, 5, 4, 2);
  EXPECT_THROW(RvDrawTransition(rvttCrossDissolve, s, e, f, 0, TRGB{}, 0), std::invalid_argument);
  Pattern(e, 4, 4, 2);
  e.SetPixelFormat(platform::pf32bit);
  EXPECT_THROW(RvDrawTransition(rvttCrossDissolve, s, e, f, 0, TRGB{}, 0), std::invalid_argument);
}

TEST(TransitionFrame, ProgressOfElapsedTime) {
  EXPECT_EQ(RvTransitionProgress(0, 1000), 0);
  EXPECT_EQ(RvTransitionProgress(500, 1000), 512);
  EXPECT_EQ(RvTransitionProgress(999, 1000), 1022);
  EXPECT_EQ(RvTransitionProgress(5000, 1000), 1024);
  EXPECT_EQ(RvTransitionProgress(-3, 1000), 0);
  EXPECT_EQ(RvTransitionProgress(0, 0), 1024);
}

// ------------------------------------------------------------------ engine

class FakeView : public TRvTransitionView {
public:
  void TransitionLockUpdate() override { ++Locks; }
  void TransitionUnlockUpdate() override { ++Unlocks; }
  void TransitionRefresh() override { ++Refreshes; }
  void TransitionPaint() override { ++Paints; }
  platform::TColor TransitionBackground() const override { return Background; }
  int Locks = 0, Unlocks = 0, Refreshes = 0, Paints = 0;
  platform::TColor Background = platform::clRed;
};

class Engine : public ::testing::Test {
protected:
  Engine() : Effects(&View) {
    Effects.Clock = [this] { return Now; };
  }
  void Prepare(TRvTransitionType Effect, int Duration = 1000) {
    Effects.SetSizes(W, H);
    Pattern(Effects.StartImage(), W, H, 1);
    Pattern(Effects.EndImage(), W, H, 2);
    Effects.SetTransitionType(Effect);
    Effects.SetDuration(Duration);
  }
  FakeView View;
  TRvTransitionEffects Effects;
  std::int64_t Now = 5000;
};

TEST_F(Engine, NewEngineIsIdle) {
  EXPECT_EQ(Effects.TransitionType(), rvttNone);
  EXPECT_EQ(Effects.Duration(), 1000);
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(Effects.StartImage().Width(), 1);
  EXPECT_EQ(Effects.StartImage().PixelFormat(), platform::pf24bit);
}

TEST_F(Engine, NothingStartsWithoutAnEffectOrOnATinyView) {
  Prepare(rvttNone);
  Effects.Start(true);
  EXPECT_FALSE(Effects.Running());
  Prepare(rvttCrossDissolve);
  Effects.SetSizes(1, 1);
  Effects.Start(true);
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(View.Locks, 0);
}

TEST_F(Engine, FakeClockDrivesTheFramesToTheEnd) {
  Prepare(rvttLeftRight1);
  Effects.Start(true);
  ASSERT_TRUE(Effects.Running());
  EXPECT_EQ(View.Locks, 1);
  // The first tick paints progress 0: the old picture.
  Effects.Step();
  EXPECT_EQ(View.Paints, 1);
  EXPECT_EQ(Origin(Effects.FrameImage(), 0, 0), S(0, 0));
  // Each tick paints the progress reached at the one before.
  Now += 500;
  Effects.Step();
  EXPECT_EQ(Effects.Progress(), 512);
  EXPECT_EQ(Origin(Effects.FrameImage(), 0, 0), S(0, 0));
  Now += 100;
  Effects.Step();
  const TBitmap& f = Effects.FrameImage();
  EXPECT_EQ(Origin(f, 19, 3), E(19, 3)); // 512 x 40 shr 10 = 20 columns
  EXPECT_EQ(Origin(f, 20, 3), S(20, 3));
  EXPECT_EQ(Effects.FrameCount(), 3); // one drawing per painted tick
  // The frame asked for by elapsed time, as the view's paint may do.
  EXPECT_EQ(Origin(Effects.FrameAt(250), 9, 0), E(9, 0)); // 256 x 40 shr 10 = 10
  EXPECT_EQ(Origin(Effects.FrameAt(250), 10, 0), S(10, 0));
  // The duration elapses: the engine stops, gives the lock back and lets the
  // view repaint the real picture.
  Now += 400;
  Effects.Step();
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(View.Unlocks, 1);
  EXPECT_EQ(View.Refreshes, 1);
  EXPECT_EQ(Effects.StartImage().Width(), 1);
  Effects.Step(); // idle ticks do nothing
  EXPECT_EQ(View.Paints, 4);
}

TEST_F(Engine, FadesPassThroughTheViewsBackground) {
  Prepare(rvttFadeOutIn);
  View.Background = platform::clBlue; // 0x00BBGGRR
  Effects.Start(false);
  Effects.Step();
  Now += 500;
  Effects.Step();
  Now += 10;
  Effects.Step(); // paints progress 512
  const TRGB c = At(Effects.FrameImage(), 7, 7);
  EXPECT_EQ(c.b, 255);
  EXPECT_EQ(c.g, 0);
  EXPECT_EQ(c.r, 0);
  Effects.Stop();
  EXPECT_EQ(View.Refreshes, 0); // started without the refresh at the end
  EXPECT_EQ(View.Unlocks, 1);
}

TEST_F(Engine, StartingAgainReleasesThePreviousLock) {
  Prepare(rvttCrossDissolve);
  Effects.Start(true);
  Effects.Start(true);
  EXPECT_EQ(View.Locks, 2);
  EXPECT_EQ(View.Unlocks, 1);
  Effects.Stop();
  EXPECT_EQ(View.Unlocks, 2);
  Effects.Stop(); // once only
  EXPECT_EQ(View.Unlocks, 2);
}

TEST_F(Engine, StopsWhateverTheTypeHasBecome) {
  Prepare(rvttCrossDissolve);
  Effects.Start(true);
  Effects.SetTransitionType(rvttNone);
  Effects.Stop();
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(View.Unlocks, View.Locks);
  // And a running transition whose type is cleared still ends on its own.
  Prepare(rvttCrossDissolve);
  Effects.Start(true);
  Effects.SetTransitionType(rvttNone);
  Now += 2000;
  Effects.Step();
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(View.Unlocks, View.Locks);
}

TEST_F(Engine, ResizingStopsARunningTransition) {
  Prepare(rvttCenter1);
  Effects.Start(true);
  Effects.SetSizes(30, 30);
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(View.Unlocks, 1);
  EXPECT_EQ(Effects.StartImage().Width(), 30);
}

TEST_F(Engine, AStoppedEngineDoesNotRunOnStaleSnapshots) {
  Prepare(rvttCrossDissolve);
  Effects.Start(true);
  Effects.Stop(); // the snapshots are back at 1 x 1
  Effects.Start(true);
  EXPECT_FALSE(Effects.Running());
  EXPECT_EQ(View.Locks, View.Unlocks);
}

TEST_F(Engine, RunTakesBothPicturesAndADuration) {
  TBitmap a, b;
  Pattern(a, W, H, 1);
  Pattern(b, W, H, 2);
  b.SetPixelFormat(platform::pf32bit); // snapshots are made 24-bit
  Effects.Run(a, b, rvttMoveUpDown2, 400);
  ASSERT_TRUE(Effects.Running());
  EXPECT_EQ(Effects.Duration(), 400);
  // 200 of 400 ms: s = 512 x 20 shr 10 = 10 rows.
  const TBitmap& f = Effects.FrameAt(200);
  EXPECT_EQ(Origin(f, 3, 9), E(3, 9));
  EXPECT_EQ(Origin(f, 3, 10), S(3, 0));
  Effects.Stop();
  EXPECT_EQ(View.Refreshes, 1);
}

TEST_F(Engine, TheTimerRunsItToTheEnd) {
  Effects.Clock = nullptr;
  Effects.Clock = [] {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.elapsed();
  };
  Prepare(rvttRandomBoxes, 30);
  Effects.Start(true);
  QElapsedTimer wait;
  wait.start();
  while (Effects.Running() && wait.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_FALSE(Effects.Running());
  EXPECT_GE(View.Paints, 1);
  EXPECT_EQ(View.Refreshes, 1);
  EXPECT_EQ(View.Unlocks, View.Locks);
}

} // namespace
