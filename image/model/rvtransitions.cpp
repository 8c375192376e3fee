#include "image/model/rvtransitions.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace rv {

namespace {

constexpr int Scale = RvTransitionScale;

// v x P shr 10, in 64 bits so that wide pictures cannot overflow.
inline int ScaleBy(int Value, int P) {
  return static_cast<int>((static_cast<std::int64_t>(Value) * P) >> 10);
}

// Nearest(v x P / 1024), halves to even.
inline int NearestScale(int Value, int P) {
  return RvRound(static_cast<double>(Value) * P / Scale);
}

// The frame's view of the three pictures: row addresses, top row first.
struct TFrameRows {
  int W = 0;
  int H = 0;
  std::vector<const std::uint8_t*> S;
  std::vector<const std::uint8_t*> E;
  std::vector<std::uint8_t*> F;
};

void CopyAll(const TFrameRows& R, const std::vector<const std::uint8_t*>& Source) {
  const std::size_t bytes = static_cast<std::size_t>(R.W) * 3;
  for (int y = 0; y < R.H; ++y) std::memcpy(R.F[y], Source[y], bytes);
}

// Columns [X0 .. X1) of rows [Y0 .. Y1) copied from Source at the same place,
// clipped to the picture.
void BlitSame(const TFrameRows& R, const std::vector<const std::uint8_t*>& Source, int X0, int Y0,
              int X1, int Y1) {
  X0 = std::max(X0, 0);
  Y0 = std::max(Y0, 0);
  X1 = std::min(X1, R.W);
  Y1 = std::min(Y1, R.H);
  if (X1 <= X0 || Y1 <= Y0) return;
  const std::size_t offset = static_cast<std::size_t>(X0) * 3;
  const std::size_t bytes = static_cast<std::size_t>(X1 - X0) * 3;
  for (int y = Y0; y < Y1; ++y) std::memcpy(R.F[y] + offset, Source[y] + offset, bytes);
}

// Source drawn with its top-left corner at (OX, OY).
void DrawAt(const TFrameRows& R, const std::vector<const std::uint8_t*>& Source, int OX, int OY) {
  const int x0 = std::max(0, OX);
  const int x1 = std::min(R.W, R.W + OX);
  const int y0 = std::max(0, OY);
  const int y1 = std::min(R.H, R.H + OY);
  if (x1 <= x0 || y1 <= y0) return;
  const std::size_t bytes = static_cast<std::size_t>(x1 - x0) * 3;
  for (int y = y0; y < y1; ++y)
    std::memcpy(R.F[y] + static_cast<std::size_t>(x0) * 3,
                Source[y - OY] + static_cast<std::size_t>(x0 - OX) * 3, bytes);
}

// Destination columns [DX .. DX + Width) of a row from Source columns
// [SX .. SX + Width), for every row (the horizontal slides).
void CopyColumns(const TFrameRows& R, const std::vector<const std::uint8_t*>& Source, int DX,
                 int SX, int Width) {
  if (Width <= 0) return;
  const std::size_t bytes = static_cast<std::size_t>(Width) * 3;
  for (int y = 0; y < R.H; ++y)
    std::memcpy(R.F[y] + static_cast<std::size_t>(DX) * 3,
                Source[y] + static_cast<std::size_t>(SX) * 3, bytes);
}

// Destination rows [DY .. DY + Count) from Source rows [SY .. SY + Count).
void CopyRows(const TFrameRows& R, const std::vector<const std::uint8_t*>& Source, int DY, int SY,
              int Count) {
  const std::size_t bytes = static_cast<std::size_t>(R.W) * 3;
  for (int i = 0; i < Count; ++i) std::memcpy(R.F[DY + i], Source[SY + i], bytes);
}

// (A x (1024 - P) + B x P) shr 10 for each byte, which is A + floor((B - A)
// x P / 1024): in 16-bit lanes that is the high half of 2 (B - A) x 32 P.
void BlendRow(std::uint8_t* D, const std::uint8_t* A, const std::uint8_t* B, int Bytes, int P) {
  if (P >= Scale) {
    std::memcpy(D, B, static_cast<std::size_t>(Bytes));
    return;
  }
  const auto k = static_cast<std::int16_t>(P << 5);
  for (int i = 0; i < Bytes; ++i) {
    const auto d = static_cast<std::int16_t>((B[i] - A[i]) * 2);
    D[i] = static_cast<std::uint8_t>(A[i] + static_cast<std::int16_t>((d * k) >> 16));
  }
}

enum class TBlend { StartToEnd, StartToBackground, BackgroundToEnd };

void Blend(const TFrameRows& R, TBlend Kind, int P, const TRGB& Background) {
  const int bytes = R.W * 3;
  std::vector<std::uint8_t> background;
  if (Kind != TBlend::StartToEnd) {
    background.resize(static_cast<std::size_t>(bytes));
    for (int x = 0; x < R.W; ++x)
      std::memcpy(&background[static_cast<std::size_t>(x) * 3], &Background, 3);
  }
  for (int y = 0; y < R.H; ++y) {
    switch (Kind) {
      case TBlend::StartToEnd: BlendRow(R.F[y], R.S[y], R.E[y], bytes, P); break;
      case TBlend::StartToBackground: BlendRow(R.F[y], R.S[y], background.data(), bytes, P); break;
      case TBlend::BackgroundToEnd: BlendRow(R.F[y], background.data(), R.E[y], bytes, P); break;
    }
  }
}

// The red line of the wipes: pen colour 255, one pixel wide.
void RedColumn(const TFrameRows& R, int X) {
  if (X < 0 || X >= R.W) return;
  for (int y = 0; y < R.H; ++y) {
    std::uint8_t* p = R.F[y] + static_cast<std::size_t>(X) * 3;
    p[0] = 0;
    p[1] = 0;
    p[2] = 255;
  }
}

void RedRow(const TFrameRows& R, int Y) {
  if (Y < 0 || Y >= R.H) return;
  std::uint8_t* p = R.F[Y];
  for (int x = 0; x < R.W; ++x, p += 3) {
    p[0] = 0;
    p[1] = 0;
    p[2] = 255;
  }
}

// The whole of Source stretched, without smoothing, into the rectangle at
// (X0, Y0) of Width x Height; each destination pixel takes the source pixel
// under its centre.
void StretchInto(const TFrameRows& R, const std::vector<const std::uint8_t*>& Source, int X0,
                 int Y0, int Width, int Height) {
  if (Width <= 0 || Height <= 0) return;
  const int x0 = std::max(0, X0);
  const int x1 = std::min(R.W, X0 + Width);
  const int y0 = std::max(0, Y0);
  const int y1 = std::min(R.H, Y0 + Height);
  if (x1 <= x0 || y1 <= y0) return;
  std::vector<std::size_t> columns(static_cast<std::size_t>(x1 - x0));
  for (int x = x0; x < x1; ++x) {
    const std::int64_t sx =
        (2 * static_cast<std::int64_t>(x - X0) + 1) * R.W / (2 * static_cast<std::int64_t>(Width));
    columns[static_cast<std::size_t>(x - x0)] = static_cast<std::size_t>(sx) * 3;
  }
  for (int y = y0; y < y1; ++y) {
    const std::int64_t sy =
        (2 * static_cast<std::int64_t>(y - Y0) + 1) * R.H / (2 * static_cast<std::int64_t>(Height));
    const std::uint8_t* s = Source[static_cast<std::size_t>(sy)];
    std::uint8_t* d = R.F[y] + static_cast<std::size_t>(x0) * 3;
    for (std::size_t c : columns) {
      d[0] = s[c];
      d[1] = s[c + 1];
      d[2] = s[c + 2];
      d += 3;
    }
  }
}

// A well-mixed 32-bit number from a place's coordinates.
inline std::uint32_t Mix(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

inline std::uint32_t PlaceHash(std::uint32_t Seed, std::uint32_t X, std::uint32_t Y) {
  return Mix(Seed ^ (X * 0x9E3779B1u) ^ (Y * 0x85EBCA77u));
}

// The random effects copy N places drawn uniformly with repetition, each
// place hit with probability Chance per draw. A place is shown from the end
// picture once it has been hit, that is with probability 1 - (1 - Chance)^N;
// each place compares its own fixed number with that probability, so the set
// of places shown only grows with N. Answers the 32-bit threshold.
std::uint64_t HitThreshold(double Chance, double N) {
  if (N <= 0 || Chance <= 0) return 0;
  const double shown = Chance >= 1 ? 1.0 : -std::expm1(N * std::log1p(-Chance));
  if (shown >= 1) return std::uint64_t(1) << 32;
  return static_cast<std::uint64_t>(shown * 4294967296.0);
}

void RandomPoints(const TFrameRows& R, int P, std::uint32_t Seed) {
  CopyAll(R, R.S);
  if (P <= 0) return;
  // Per row, N draws of X = random(W).
  const double n = RvRound(static_cast<double>(R.W) * P * (P / 180.0) / Scale);
  const std::uint64_t threshold = HitThreshold(1.0 / R.W, n);
  if (threshold == 0) return;
  if (threshold > 0xFFFFFFFFu) {
    CopyAll(R, R.E);
    return;
  }
  const auto limit = static_cast<std::uint32_t>(threshold);
  std::vector<std::uint32_t> columns(static_cast<std::size_t>(R.W));
  for (int x = 0; x < R.W; ++x)
    columns[static_cast<std::size_t>(x)] = static_cast<std::uint32_t>(x) * 0x9E3779B1u;
  const std::size_t width = static_cast<std::size_t>(R.W);
  std::vector<std::uint8_t> shown(width);
  std::vector<std::uint8_t> mask(width * 3);
  for (int y = 0; y < R.H; ++y) {
    // Three plain loops the compiler widens, and a selection without
    // branches: about half the pixels go each way, which no branch
    // predictor guesses.
    const std::uint32_t row = Seed ^ (static_cast<std::uint32_t>(y) * 0x85EBCA77u);
    for (std::size_t x = 0; x < width; ++x) shown[x] = Mix(row ^ columns[x]) < limit ? 0xFF : 0;
    for (std::size_t x = 0; x < width; ++x) {
      mask[3 * x] = shown[x];
      mask[3 * x + 1] = shown[x];
      mask[3 * x + 2] = shown[x];
    }
    std::uint8_t* f = R.F[y];
    const std::uint8_t* e = R.E[y];
    for (std::size_t i = 0; i < width * 3; ++i)
      f[i] = static_cast<std::uint8_t>((f[i] & ~mask[i]) | (e[i] & mask[i]));
  }
}

void RandomBoxes(const TFrameRows& R, int P, std::uint32_t Seed) {
  CopyAll(R, R.S);
  if (P <= 0) return;
  // N draws of a box at (random(W) and not 7, random(H) and not 7); a box
  // of the last, narrower column or row is drawn less often.
  const std::int64_t boxes = (static_cast<std::int64_t>(R.W) * R.H) / 64;
  const double n = RvRound(static_cast<double>(boxes) * P * (P / 180.0) / Scale);
  const int columns = (R.W + 7) / 8;
  const int rows = (R.H + 7) / 8;
  // Boxes differ in their chance only in the last column and row.
  auto thresholdOf = [&](int bw, int bh) {
    return HitThreshold((static_cast<double>(bw) / R.W) * (static_cast<double>(bh) / R.H), n);
  };
  const int lastWidth = R.W - (columns - 1) * 8;
  const int lastHeight = R.H - (rows - 1) * 8;
  const std::uint64_t thresholds[2][2] = {
      {thresholdOf(std::min(8, R.W), std::min(8, R.H)), thresholdOf(lastWidth, std::min(8, R.H))},
      {thresholdOf(std::min(8, R.W), lastHeight), thresholdOf(lastWidth, lastHeight)}};
  for (int by = 0; by < rows; ++by) {
    const int y0 = by * 8;
    for (int bx = 0; bx < columns; ++bx) {
      const int x0 = bx * 8;
      const std::uint64_t threshold = thresholds[by == rows - 1][bx == columns - 1];
      if (PlaceHash(Seed, static_cast<std::uint32_t>(bx), static_cast<std::uint32_t>(by)) <
          threshold)
        BlitSame(R, R.E, x0, y0, x0 + 8, y0 + 8);
    }
  }
}

} // namespace

int RvTransitionProgress(std::int64_t ElapsedMs, int Duration) {
  if (Duration < 1) return Scale;
  if (ElapsedMs <= 0) return 0;
  if (ElapsedMs >= Duration) return Scale;
  return static_cast<int>(ElapsedMs * Scale / Duration);
}

void RvDrawTransition(TRvTransitionType Effect, const platform::TBitmap& StartImage,
                      const platform::TBitmap& EndImage, platform::TBitmap& Frame, int Progress,
                      const TRGB& Background, std::uint32_t Seed) {
  if (StartImage.PixelFormat() != platform::pf24bit || EndImage.PixelFormat() != platform::pf24bit)
    throw std::invalid_argument("transition pictures must be 24-bit");
  if (StartImage.Width() != EndImage.Width() || StartImage.Height() != EndImage.Height())
    throw std::invalid_argument("transition pictures differ in size");
  TFrameRows R;
  R.W = StartImage.Width();
  R.H = StartImage.Height();
  if (Frame.PixelFormat() != platform::pf24bit || Frame.Width() != R.W || Frame.Height() != R.H) {
    Frame.SetSize(0, 0);
    Frame.SetPixelFormat(platform::pf24bit);
    Frame.SetSize(R.W, R.H);
  }
  if (R.W <= 0 || R.H <= 0) return;
  R.S.resize(static_cast<std::size_t>(R.H));
  R.E.resize(static_cast<std::size_t>(R.H));
  R.F.resize(static_cast<std::size_t>(R.H));
  for (int y = 0; y < R.H; ++y) {
    R.S[y] = StartImage.ScanLine(y);
    R.E[y] = EndImage.ScanLine(y);
    R.F[y] = Frame.ScanLine(y);
  }
  const int P = std::clamp(Progress, 0, Scale);
  const int Q = Scale - P;
  const int W = R.W;
  const int H = R.H;

  switch (Effect) {
    case rvttNone: CopyAll(R, R.E); break;
    case rvttCrossDissolve: Blend(R, TBlend::StartToEnd, P, Background); break;
    case rvttFadeOut: Blend(R, TBlend::StartToBackground, P, Background); break;
    case rvttFadeIn: Blend(R, TBlend::BackgroundToEnd, P, Background); break;
    case rvttFadeOutIn:
      if (P < Scale / 2)
        Blend(R, TBlend::StartToBackground, 2 * P, Background);
      else
        Blend(R, TBlend::BackgroundToEnd, 2 * (P - Scale / 2), Background);
      break;
    case rvttLeftRight1:
    case rvttLeftRight2: {
      const int x = ScaleBy(W, P);
      CopyAll(R, R.S);
      BlitSame(R, R.E, 0, 0, x, H);
      if (Effect == rvttLeftRight2) RedColumn(R, x);
      break;
    }
    case rvttRightLeft1:
    case rvttRightLeft2: {
      // The end picture is shown from X0 to the right edge: its rounded
      // width alone can fall one column short of it.
      const int x0 = NearestScale(W, Q);
      CopyAll(R, R.S);
      BlitSame(R, R.E, x0, 0, W, H);
      if (Effect == rvttRightLeft2) RedColumn(R, x0);
      break;
    }
    case rvttUpDown1:
    case rvttUpDown2: {
      const int y = NearestScale(H, P);
      CopyAll(R, R.S);
      BlitSame(R, R.E, 0, 0, W, y);
      if (Effect == rvttUpDown2) RedRow(R, y);
      break;
    }
    case rvttDownUp1:
    case rvttDownUp2: {
      const int y0 = NearestScale(H, Q);
      CopyAll(R, R.S);
      BlitSame(R, R.E, 0, y0, W, H);
      if (Effect == rvttDownUp2) RedRow(R, y0);
      break;
    }
    case rvttFromUpLeft:
    case rvttFromUpRight:
    case rvttFromBottomLeft:
    case rvttFromBottomRight: {
      const int dx = ScaleBy(W, Q);
      const int dy = ScaleBy(H, Q);
      CopyAll(R, R.S);
      const bool right = Effect == rvttFromUpRight || Effect == rvttFromBottomRight;
      const bool bottom = Effect == rvttFromBottomLeft || Effect == rvttFromBottomRight;
      DrawAt(R, R.E, right ? dx : -dx, bottom ? dy : -dy);
      break;
    }
    case rvttMoveLeftRight1: {
      const int s = ScaleBy(W, P);
      CopyColumns(R, R.E, 0, W - s, s);
      CopyColumns(R, R.S, s, 0, W - s);
      break;
    }
    case rvttMoveLeftRight2: {
      const int s = ScaleBy(W, P);
      CopyColumns(R, R.E, 0, 0, s);
      CopyColumns(R, R.S, s, 0, W - s);
      break;
    }
    case rvttMoveRightLeft1: {
      const int s = ScaleBy(W, Q);
      CopyColumns(R, R.S, 0, W - s, s);
      CopyColumns(R, R.E, s, 0, W - s);
      break;
    }
    case rvttMoveRightLeft2: {
      const int s = ScaleBy(W, Q);
      CopyColumns(R, R.S, 0, 0, s);
      CopyColumns(R, R.E, s, 0, W - s);
      break;
    }
    case rvttMoveUpDown1: {
      const int s = ScaleBy(H, P);
      CopyRows(R, R.E, 0, H - s, s);
      CopyRows(R, R.S, s, 0, H - s);
      break;
    }
    case rvttMoveUpDown2: {
      const int s = ScaleBy(H, P);
      CopyRows(R, R.E, 0, 0, s);
      CopyRows(R, R.S, s, 0, H - s);
      break;
    }
    case rvttMoveDownUp1: {
      const int s = ScaleBy(H, Q);
      CopyRows(R, R.S, 0, H - s, s);
      CopyRows(R, R.E, s, 0, H - s);
      break;
    }
    case rvttMoveDownUp2: {
      const int s = ScaleBy(H, Q);
      CopyRows(R, R.S, 0, H - s, s);
      CopyRows(R, R.E, s, s, H - s);
      break;
    }
    case rvttRandomPoints:
      if (P >= Scale)
        CopyAll(R, R.E);
      else
        RandomPoints(R, P, Seed);
      break;
    case rvttRandomBoxes:
      if (P >= Scale)
        CopyAll(R, R.E);
      else
        RandomBoxes(R, P, Seed);
      break;
    case rvttCenter1: {
      const int x0 = (W >> 1) - ScaleBy(W >> 1, P);
      const int y0 = (H >> 1) - ScaleBy(H >> 1, P);
      CopyAll(R, R.S);
      BlitSame(R, R.E, x0, y0, x0 + ScaleBy(W, P), y0 + ScaleBy(H, P));
      break;
    }
    case rvttCenter2: {
      const int x0 = (W >> 1) - ScaleBy(W >> 1, Q);
      const int y0 = (H >> 1) - ScaleBy(H >> 1, Q);
      CopyAll(R, R.E);
      BlitSame(R, R.S, x0, y0, x0 + ScaleBy(W, Q), y0 + ScaleBy(H, Q));
      break;
    }
    case rvttCenterZoom1:
      CopyAll(R, R.S);
      StretchInto(R, R.E, (W >> 1) - ScaleBy(W >> 1, P), (H >> 1) - ScaleBy(H >> 1, P),
                  ScaleBy(W, P), ScaleBy(H, P));
      break;
    case rvttCenterZoom2:
      CopyAll(R, R.E);
      StretchInto(R, R.S, (W >> 1) - ScaleBy(W >> 1, Q), (H >> 1) - ScaleBy(H >> 1, Q),
                  ScaleBy(W, Q), ScaleBy(H, Q));
      break;
  }
}

// ------------------------------------------------------------------ engine

TRvTransitionEffects::TRvTransitionEffects(TRvTransitionView* View)
    : FView(View),
      FStartImage(1, 1, platform::pf24bit),
      FEndImage(1, 1, platform::pf24bit),
      FFrameImage(1, 1, platform::pf24bit),
      FTimer(std::make_unique<QTimer>()),
      FRandom(std::random_device{}()) {
  Clock = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  FTimer->setInterval(1);
  FTimer->setTimerType(Qt::PreciseTimer);
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Step(); });
}

TRvTransitionEffects::~TRvTransitionEffects() { FTimer->stop(); }

void TRvTransitionEffects::SetSizes(int Width, int Height) {
  Stop();
  FWidth = std::max(Width, 0);
  FHeight = std::max(Height, 0);
  for (platform::TBitmap* image : {&FStartImage, &FEndImage, &FFrameImage}) {
    image->SetPixelFormat(platform::pf24bit);
    image->SetSize(FWidth, FHeight);
  }
  FFrameDirty = true;
}

void TRvTransitionEffects::Start(bool RefreshAtEnd) {
  if (FType == rvttNone) return;
  if (FRunning) {
    // Balances the lock of the transition this one replaces.
    if (FView) FView->TransitionUnlockUpdate();
    FRunning = false;
    FTimer->stop();
  }
  FRefreshAtEnd = RefreshAtEnd;
  FProgress = 0;
  FPaintProgress = 0;
  FFrameCount = 0;
  FFrameDirty = true;
  // A stopped engine's snapshots are back at 1 x 1 until the next SetSizes:
  // drawing them at the old size would read past their rows.
  const bool sized = FStartImage.Width() == FWidth && FStartImage.Height() == FHeight &&
                     FEndImage.Width() == FWidth && FEndImage.Height() == FHeight &&
                     FStartImage.PixelFormat() == platform::pf24bit &&
                     FEndImage.PixelFormat() == platform::pf24bit;
  if ((FWidth < 2 && FHeight < 2) || !sized) return;
  FRunning = true;
  if (FView) FView->TransitionLockUpdate();
  FSeed = static_cast<std::uint32_t>(FRandom());
  FStartTicks = Clock();
  FTimer->start();
}

void TRvTransitionEffects::Stop() {
  // Whatever the type is now: a transition that runs holds the view's lock
  // and must give it back.
  if (!FRunning) return;
  FTimer->stop();
  FRunning = false;
  for (platform::TBitmap* image : {&FStartImage, &FEndImage, &FFrameImage}) image->SetSize(1, 1);
  FFrameDirty = true;
  if (FView) {
    FView->TransitionUnlockUpdate();
    if (FRefreshAtEnd) FView->TransitionRefresh();
  }
}

void TRvTransitionEffects::Step() {
  if (!FRunning) return;
  FPaintProgress = FProgress;
  FFrameDirty = true;
  if (FView) FView->TransitionPaint();
  const std::int64_t elapsed = Clock() - FStartTicks;
  if (elapsed >= FDuration) {
    Stop();
    return;
  }
  FProgress = RvTransitionProgress(elapsed, FDuration);
}

void TRvTransitionEffects::Run(const platform::TBitmap& StartPicture,
                               const platform::TBitmap& EndPicture, TRvTransitionType Effect,
                               int Duration, bool RefreshAtEnd) {
  SetSizes(StartPicture.Width(), StartPicture.Height());
  FStartImage.Assign(StartPicture);
  FStartImage.SetPixelFormat(platform::pf24bit);
  FEndImage.Assign(EndPicture);
  FEndImage.SetPixelFormat(platform::pf24bit);
  FEndImage.SetSize(FWidth, FHeight);
  FType = Effect;
  FDuration = Duration;
  Start(RefreshAtEnd);
}

void TRvTransitionEffects::DrawFrame(int Progress) {
  TRGB background;
  RvColorToRGB(FView ? FView->TransitionBackground() : platform::clBlack, background);
  RvDrawTransition(FType, FStartImage, FEndImage, FFrameImage, Progress, background, FSeed);
  ++FFrameCount;
}

const platform::TBitmap& TRvTransitionEffects::FrameImage() {
  if (FRunning && FFrameDirty) {
    DrawFrame(FPaintProgress);
    FFrameDirty = false;
  }
  return FFrameImage;
}

const platform::TBitmap& TRvTransitionEffects::FrameAt(std::int64_t ElapsedMs) {
  if (FRunning) {
    DrawFrame(RvTransitionProgress(ElapsedMs, FDuration));
    FFrameDirty = true;
  }
  return FFrameImage;
}

} // namespace rv
