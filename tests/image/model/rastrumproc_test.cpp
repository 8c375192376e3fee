#include "image/model/rastrumproc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "image/model/rvmask.h"

namespace {

using namespace rv;
using platform::TBitmap;

// A view as the component sees it: a bitmap, an alpha mask, callbacks.
class TFakeView : public TRvHiddenViewLink {
public:
  TFakeView() : Bitmap(4, 3, platform::pf24bit) {}
  ~TFakeView() override {
    auto callbacks = std::move(Callbacks);
    for (auto& c : callbacks) c.second(this, true);
  }
  platform::TBitmap* GetBitmap() override { return &Bitmap; }
  TRvMask* GetAlphaChannel() override {
    if (!Alpha) {
      Alpha = std::make_unique<TRvMask>();
      Alpha->Allocate(Bitmap.Width(), Bitmap.Height(), 8);
    }
    return Alpha.get();
  }
  void SetAlphaChannel(TRvMask*) override {}
  bool HasAlphaChannel() override { return Alpha != nullptr; }
  void RemoveAlphaChannel() override { Alpha.reset(); }
  platform::TColor GetBackground() const override { return Background; }
  void SetBackground(platform::TColor Value) override { Background = Value; }
  int LockUpdate() override { return 0; }
  void Update() override { ++Updates; }
  void ImageChange() override { ++Changes; }
  int RegisterBitmapChangeEvent(TRvBitmapChangeEvent Callback) override {
    Callbacks.emplace_back(++Next, std::move(Callback));
    return Next;
  }
  void RemoveBitmapChangeEvent(int Handle) override {
    std::erase_if(Callbacks, [Handle](auto& c) { return c.first == Handle; });
  }
  void CallBitmapChangeEvents() override {
    for (auto& c : Callbacks) c.second(this, false);
  }
  TBitmap Bitmap;
  std::unique_ptr<TRvMask> Alpha;
  platform::TColor Background = platform::clBtnFace;
  std::vector<std::pair<int, TRvBitmapChangeEvent>> Callbacks;
  int Next = 0, Updates = 0, Changes = 0;
};

void Paint(TBitmap& b, int seed) {
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 0; i < b.Width() * 3; ++i) b.ScanLine(y)[i] = static_cast<std::uint8_t>(seed * 31 + y * 7 + i);
}

std::vector<std::uint8_t> Pixels(const TBitmap& b) {
  std::vector<std::uint8_t> v;
  v.push_back(static_cast<std::uint8_t>(b.Width()));
  v.push_back(static_cast<std::uint8_t>(b.Height()));
  const int bytes = (b.Width() * b.BitsPerPixel() + 7) / 8;
  for (int y = 0; y < b.Height(); ++y) v.insert(v.end(), b.ScanLine(y), b.ScanLine(y) + bytes);
  return v;
}

TEST(RastrumProcUndo, LimitOneKeepsThePictureBeforeTheLastOperation) {
  TBitmap b(4, 3, platform::pf24bit);
  Paint(b, 1);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.Flip(rvfdHorizontal);
  const auto beforeSecond = Pixels(b);
  proc.Rotate(90, true);
  ASSERT_EQ(proc.UndoCount(), 1);
  EXPECT_EQ(proc.UndoCaptions()[0], "Rotate 90");
  proc.Undo();
  EXPECT_EQ(Pixels(b), beforeSecond);
}

TEST(RastrumProcUndo, LimitThreeAfterFiveOperations) {
  TBitmap b(5, 4, platform::pf24bit);
  Paint(b, 2);
  TRastrumProc proc;
  proc.SetUndoLimit(3);
  proc.SetAttachedBitmap(&b);
  std::vector<std::vector<std::uint8_t>> before;
  auto op = [&](int i) {
    before.push_back(Pixels(b));
    switch (i) {
      case 0: proc.Rotate(90, false); break;
      case 1: proc.Flip(rvfdVertical); break;
      case 2: proc.Rotate(-90, true); break;
      case 3: proc.Resample(10, -1, rfNone); break;
      default: proc.Rotate(30.5, true); break;
    }
  };
  for (int i = 0; i < 5; ++i) op(i);
  ASSERT_EQ(proc.UndoCount(), 3);
  EXPECT_EQ(proc.UndoCaptions(), (std::vector<std::string>{"Rotate -90", "Resample 10,-1", "Rotate 30.5"}));
  proc.UndoAt(2);
  EXPECT_EQ(Pixels(b), before[2]);
  proc.Undo();
  EXPECT_EQ(Pixels(b), before[4]);
  EXPECT_EQ(proc.UndoCount(), 3);
  // Out of range or negative: nothing.
  Paint(b, 9);
  const auto now = Pixels(b);
  proc.UndoAt(3);
  proc.UndoAt(-1);
  EXPECT_EQ(Pixels(b), now);
}

TEST(RastrumProcUndo, RedoListIsFilledOnlyByTheCaller) {
  TBitmap b(3, 2, platform::pf24bit);
  Paint(b, 3);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  const auto original = Pixels(b);
  proc.Flip(rvfdHorizontal);
  EXPECT_EQ(proc.UndoCaptions()[0], "Flip");
  const auto flipped = Pixels(b);
  proc.SaveRedo();
  proc.Undo();
  EXPECT_EQ(Pixels(b), original);
  EXPECT_EQ(proc.RedoCount(), 1);
  proc.Redo();
  EXPECT_EQ(Pixels(b), flipped);
  proc.RedoAt(-1);
  proc.RemoveLastRedo();
  EXPECT_EQ(proc.RedoCount(), 0);
  proc.RemoveLastRedo();
}

TEST(RastrumProcUndo, ClearAutoUndoAndEmptyTargets) {
  TBitmap b(3, 2, platform::pf24bit);
  TRastrumProc proc;
  proc.Rotate(90, true); // no target: nothing
  proc.SetAttachedBitmap(&b);
  proc.Rotate(90, true);
  EXPECT_TRUE(proc.CanUndo());
  proc.ClearUndo();
  EXPECT_FALSE(proc.CanUndo());
  proc.AutoUndo = false;
  proc.Flip(rvfdVertical);
  EXPECT_FALSE(proc.CanUndo());
  proc.AutoUndo = true;
  TBitmap empty;
  proc.SetAttachedBitmap(&empty);
  proc.Flip(rvfdVertical);
  EXPECT_FALSE(proc.CanUndo());
}

TEST(RastrumProcUndo, LimitBelowOneIsRefused) {
  TRastrumProc proc;
  proc.SetUndoLimit(0);
  proc.SetUndoLimit(-5);
  EXPECT_EQ(proc.UndoLimit(), 1);
  TBitmap b(2, 2, platform::pf24bit);
  proc.SetAttachedBitmap(&b);
  proc.Flip(rvfdVertical);
  proc.Flip(rvfdVertical);
  EXPECT_EQ(proc.UndoCount(), 1);
}

TEST(RastrumProcUndo, OneBitPicturesComeBackExactly) {
  TBitmap b(10, 3, platform::pf1bit);
  for (int y = 0; y < 3; ++y) b.ScanLine(y)[0] = static_cast<std::uint8_t>(0xA5 + y);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  const auto original = Pixels(b);
  proc.Rotate(30, false);
  EXPECT_EQ(b.Height(), 8); // round(3 cos 30 + 10 sin 30)
  proc.Undo();
  EXPECT_EQ(b.PixelFormat(), platform::pf1bit);
  EXPECT_EQ(Pixels(b), original);
}

TEST(RastrumProcResample, NegativeSideKeepsTheAspectRatio) {
  TBitmap b(400, 200, platform::pf24bit);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.Resample(-1, 100, rfTriangle);
  EXPECT_EQ(b.Width(), 200);
  EXPECT_EQ(b.Height(), 100);
  proc.Resample(300, -1, rfNone);
  EXPECT_EQ(b.Height(), 150);
  proc.Resample(-1, -1, rfNone);
  EXPECT_EQ(b.Width(), 300);
  EXPECT_EQ(proc.UndoCaptions().back(), "Resample -1,-1");
  // A filtered resample of a 1-bit picture makes it 24-bit.
  TBitmap bw(16, 8, platform::pf1bit);
  proc.SetAttachedBitmap(&bw);
  proc.Resample(8, 4, rfTriangle);
  EXPECT_EQ(bw.PixelFormat(), platform::pf24bit);
}

TEST(RastrumProcRotate, CaptionsProgressAndQuarterTurns) {
  TBitmap b(3, 2, platform::pf24bit);
  for (int i = 0; i < 6; ++i) std::memset(b.ScanLine(i / 3) + 3 * (i % 3), i + 1, 3);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  proc.Rotate(90, true);
  ASSERT_EQ(b.Width(), 2);
  EXPECT_EQ(b.ScanLine(0)[0], 3); // old top-right at the new top-left
  proc.Undo();
  proc.Rotate(-90, true);
  EXPECT_EQ(b.ScanLine(0)[3], 1); // old top-left at the new top-right
  EXPECT_EQ(proc.UndoCaptions().back(), "Rotate -90");
  proc.Undo();
  const auto original = Pixels(b);
  proc.Rotate(180, true);
  proc.Rotate(180, true);
  EXPECT_EQ(Pixels(b), original);
  proc.Rotate(360, true); // reduces to 0: an entry, no change
  EXPECT_EQ(Pixels(b), original);
  EXPECT_EQ(proc.UndoCaptions().back(), "Rotate 360");
  proc.Rotate(0.00001, true);
  EXPECT_EQ(proc.UndoCaptions().back(), "Rotate 1E-5");

  std::vector<int> per;
  proc.OnProgress = [&](void* sender, int p) {
    EXPECT_EQ(sender, &proc);
    per.push_back(p);
  };
  proc.Rotate(30, true);
  // 3 x 2 by 30: h + W1 + H3 = 2 + 5 + 4 reports from 0.
  ASSERT_EQ(per.size(), 11u);
  EXPECT_EQ(per[0], 0);
  EXPECT_EQ(per[10], 87); // round(10 x 100 / 11.5)
}

TEST(RastrumProcRotate, BackgroundFillsTheCorners) {
  TBitmap b(8, 8, platform::pf24bit);
  Paint(b, 4);
  TRastrumProc proc;
  proc.SetBackground(platform::clRed);
  EXPECT_EQ(proc.GetBackground(), platform::clRed);
  proc.SetAttachedBitmap(&b);
  proc.Rotate(30, true);
  const std::uint8_t* corner = b.ScanLine(0);
  EXPECT_EQ(corner[0], 0);
  EXPECT_EQ(corner[2], 255);
}

TEST(RastrumProcView, FollowsTheViewAndItsAlpha) {
  TFakeView view;
  Paint(view.Bitmap, 5);
  view.GetAlphaChannel()->Fill(200);
  TRastrumProc proc;
  proc.SetAttachedRastrum(&view);
  EXPECT_EQ(proc.Bitmap(), &view.Bitmap);
  EXPECT_EQ(proc.GetBackground(), platform::clBtnFace);
  proc.SetBackground(platform::clBlue);
  EXPECT_EQ(view.Background, platform::clBlue);
  proc.Flip(rvfdHorizontal);
  ASSERT_EQ(proc.UndoCount(), 1);
  EXPECT_TRUE(proc.UndoEntry(0)->HasAlphaChannel());
  EXPECT_EQ(view.Updates, 1);
  EXPECT_EQ(view.Changes, 1);
  view.Alpha->Fill(7);
  proc.Undo();
  EXPECT_EQ(view.Alpha->GetPixel(1, 1), 200);
  proc.SetAttachedRastrum(nullptr);
  EXPECT_TRUE(view.Callbacks.empty());
}

// The transparency turns and flips with the pixels: each pixel's alpha is
// made its own gray level (or, in a 1-bit picture, its bit) and stays so,
// whatever the turn, with the corners a turn uncovers black and transparent.
TEST(RastrumProcView, TransparencyTurnsWithThePixels) {
  struct TCase {
    platform::TPixelFormat Format;
    std::function<void(TRastrumProc&)> Turn;
    int Width, Height; // after the turn
  };
  const TCase cases[] = {
      {platform::pf24bit, [](TRastrumProc& p) { p.Rotate(-90, true); }, 5, 7},
      {platform::pf24bit, [](TRastrumProc& p) { p.Rotate(90, true); }, 5, 7},
      {platform::pf24bit, [](TRastrumProc& p) { p.Rotate(180, true); }, 7, 5},
      {platform::pf24bit, [](TRastrumProc& p) { p.Flip(rvfdHorizontal); }, 7, 5},
      {platform::pf24bit, [](TRastrumProc& p) { p.Flip(rvfdVertical); }, 7, 5},
      {platform::pf24bit, [](TRastrumProc& p) { p.Rotate(30, true); }, 10, 8},
      {platform::pf1bit, [](TRastrumProc& p) { p.Rotate(-90, true); }, 5, 7},
      {platform::pf1bit, [](TRastrumProc& p) { p.Rotate(30, true); }, 9, 8},
      {platform::pf1bit, [](TRastrumProc& p) { p.Flip(rvfdHorizontal); }, 7, 5},
  };
  int index = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(index++);
    TFakeView view;
    view.Background = platform::clBlack;
    view.Bitmap.SetPixelFormat(c.Format);
    view.Bitmap.SetSize(7, 5);
    const bool bw = c.Format == platform::pf1bit;
    auto level = [&](int x, int y) -> int {
      const std::uint8_t* row = view.Bitmap.ScanLine(y);
      return bw ? ((row[x / 8] >> (7 - x % 8)) & 1) * 255 : row[3 * x];
    };
    for (int y = 0; y < 5; ++y) {
      std::uint8_t* row = view.Bitmap.ScanLine(y);
      for (int x = 0; x < 7; ++x) {
        const int v = (x * 37 + y * 53) % 256;
        if (bw && v > 127) row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
        else if (bw) row[x / 8] = static_cast<std::uint8_t>(row[x / 8] & ~(0x80 >> (x % 8)));
        else std::memset(row + 3 * x, v, 3);
      }
    }
    TRvMask* alpha = view.GetAlphaChannel();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) alpha->SetPixel(x, y, level(x, y));
    const std::vector<std::uint8_t> before(alpha->Bits(), alpha->Bits() + 7 * 5);
    TRastrumProc proc;
    proc.SetAttachedRastrum(&view);
    c.Turn(proc);
    ASSERT_EQ(view.Bitmap.Width(), c.Width);
    ASSERT_EQ(view.Bitmap.Height(), c.Height);
    ASSERT_EQ(view.Alpha.get(), alpha);
    ASSERT_EQ(alpha->Width(), c.Width);
    ASSERT_EQ(alpha->Height(), c.Height);
    EXPECT_FALSE(alpha->Full());
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width; ++x) ASSERT_EQ(alpha->GetPixel(x, y), level(x, y)) << x << "," << y;
    proc.Undo();
    ASSERT_EQ(alpha->Width(), 7);
    EXPECT_EQ(std::vector<std::uint8_t>(alpha->Bits(), alpha->Bits() + 7 * 5), before);
  }

  // A mask that hides nothing gets no transparent corners from a turn.
  TFakeView view;
  view.GetAlphaChannel()->Fill(255);
  TRastrumProc proc;
  proc.SetAttachedRastrum(&view);
  proc.Rotate(30, true);
  ASSERT_EQ(view.Alpha->Width(), view.Bitmap.Width());
  ASSERT_EQ(view.Alpha->Height(), view.Bitmap.Height());
  EXPECT_TRUE(view.Alpha->Full());
  EXPECT_EQ(view.Alpha->GetPixel(0, 0), 255);
}

TEST(RastrumProcView, DestroyedViewDetachesTheComponent) {
  TRastrumProc proc;
  {
    TFakeView view;
    proc.SetAttachedRastrum(&view);
    ASSERT_EQ(view.Callbacks.size(), 1u);
  }
  EXPECT_EQ(proc.AttachedRastrum(), nullptr);
  EXPECT_EQ(proc.Bitmap(), nullptr);
  proc.Rotate(90, true); // the view's bitmap is gone: nothing happens
  proc.SetBackground(platform::clLime);
  EXPECT_EQ(proc.GetBackground(), platform::clLime);
}

TEST(RastrumProcView, DestroyedComponentLeavesNoCallback) {
  TFakeView view;
  {
    TRastrumProc proc;
    proc.SetAttachedRastrum(&view);
  }
  EXPECT_TRUE(view.Callbacks.empty());
}

TEST(RastrumProcView, ClearingTheImageKeepsTheViewAttached) {
  TFakeView view;
  TRastrumProc proc;
  proc.SetAttachedRastrum(&view);
  proc.SetAttachedTImage(nullptr);
  proc.SetAttachedBitmap(nullptr);
  EXPECT_EQ(proc.AttachedRastrum(), &view);
  EXPECT_EQ(view.Callbacks.size(), 1u);
  view.Bitmap.SetSize(9, 9);
  view.CallBitmapChangeEvents();
  EXPECT_EQ(proc.Bitmap(), &view.Bitmap);
}

TEST(RastrumProcImage, DestroyedImageDetachesTheComponent) {
  TRastrumProc proc;
  int changes = 0;
  {
    TImage image;
    image.OnChange = [&](TImage*) { ++changes; };
    image.PictureBitmap()->SetPixelFormat(platform::pf24bit);
    image.PictureBitmap()->SetSize(4, 4);
    TFakeView view;
    proc.SetAttachedRastrum(&view);
    proc.SetAttachedTImage(&image);
    EXPECT_EQ(proc.AttachedRastrum(), nullptr);
    EXPECT_TRUE(view.Callbacks.empty());
    proc.Flip(rvfdVertical);
    EXPECT_EQ(changes, 1);
  }
  EXPECT_EQ(proc.AttachedTImage(), nullptr);
  EXPECT_EQ(proc.Bitmap(), nullptr);
  proc.Flip(rvfdVertical);
}

TEST(RastrumProcArea, WholePictureWithoutASelection) {
  TBitmap b(6, 5, platform::pf24bit);
  TRastrumProc proc;
  proc.SetAttachedBitmap(&b);
  int x1, y1, x2, y2, count;
  const platform::TPoint* poly;
  TRvMask* mask;
  EXPECT_FALSE(proc.GetProcessRect(x1, y1, x2, y2, poly, count, mask));
  EXPECT_EQ(x2, 6);
  EXPECT_EQ(y2, 5);
  EXPECT_EQ(mask, nullptr);
}

} // namespace
