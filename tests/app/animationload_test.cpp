// The frames of an animated GIF in the main window: read in one walk over
// the file on a worker, that work dropped when the user moves on, and the
// file's comments kept once among the frames' records.
#include "app/folderview.h"
#include "app/mainform.h"
#include "app/settings.h"
#include "apptestenv.h"
#include "mainwindowhost.h"
#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/io/rvmio.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvthumbstore.h"
#include "image/model/rvbitmap.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "platform/stream.h"

#include <QAction>
#include <QPainter>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace app;
using apptest::WaitUntil;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t HeaderBytes = 19; // screen and a table of two colours
// An extension block of 255 bytes that readers step over.
const std::string Padding = std::string{0x21, char(0xFF), char(255)} + std::string(255, 'p') + '\0';

// A GIF of Frames 1 x 1 frames of 15 bytes each, black then white, with a
// comment of 255 letters before each of the first Comments frames, or
// padding before every frame.
std::string ManyFramesGif(int Frames, int Comments, bool Padded = false) {
  std::string B = "GIF89a";
  B += {1, 0, 1, 0, char(0x80), 0, 0, 0, 0, 0, char(255), char(255), char(255)};
  for (int I = 0; I < Frames; ++I) {
    if (I < Comments) B += std::string{0x21, char(0xFE), char(255)} + std::string(255, char('a' + I)) + '\0';
    if (Padded) B += Padding;
    // Descriptor, code size 2, one sub-block of the codes clear, 0, end.
    B += {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0};
  }
  return B + ';';
}

// What the process has read from files so far.
std::int64_t BytesRead() {
  std::ifstream Io("/proc/self/io");
  std::string Key;
  std::int64_t Value = 0;
  while (Io >> Key >> Value)
    if (Key == "rchar:") return Value;
  return -1;
}

// The bytes of this process's picture stores in the temporary folder.
std::int64_t StoreBytes() {
  const std::string Own = "rastrum" + std::to_string(::getpid()) + "-";
  std::int64_t Bytes = 0;
  std::error_code Error;
  for (const auto& Entry : fs::directory_iterator(rv::RvTempPath(), Error))
    if (Entry.path().filename().string().rfind(Own, 0) == 0) Bytes += static_cast<std::int64_t>(Entry.file_size(Error));
  return Bytes;
}

// The program's GIF decoder, watched: the frames after the first (only a
// read of every frame decodes those) counted by the thread that decodes
// them, and a gate that holds the decoding from a given frame on.
struct TDecoderWatch {
  // Where the first frame's data start in the files of ManyFramesGif.
  static inline std::int64_t FirstData = HeaderBytes + 10;
  static inline rv::TGifLzwDecompressProc Real = nullptr;
  static inline Qt::HANDLE WindowThread = nullptr;
  static inline std::atomic<int> OnWindowThread{0}, Elsewhere{0}, Held{0};
  static inline std::mutex Lock;
  static inline std::condition_variable Opened;
  static inline std::int64_t HoldFrom = -1;

  TDecoderWatch() {
    Real = rv::RvDefaultGifLzwDecompress;
    WindowThread = QThread::currentThreadId();
    rv::RvDefaultGifLzwDecompress = Decode;
  }
  ~TDecoderWatch() {
    Open();
    rv::RvDefaultGifLzwDecompress = Real;
  }
  static void Decode(platform::TStream& Stream, int Height, int Width, std::uint8_t* Pixels, bool Interlaced) {
    const std::int64_t At = Stream.Position();
    if (At > FirstData) (QThread::currentThreadId() == WindowThread ? OnWindowThread : Elsewhere)++;
    {
      std::unique_lock Guard(Lock);
      if (HoldFrom >= 0 && At >= HoldFrom) {
        ++Held;
        // Not for good: a window that decoded the frames itself would wait
        // here, and then goes on with the gate open.
        if (!Opened.wait_for(Guard, std::chrono::seconds(5), [] { return HoldFrom < 0; })) HoldFrom = -1;
      }
    }
    Real(Stream, Height, Width, Pixels, Interlaced);
  }
  // Holds every frame from the one at Position on.
  void Hold(std::int64_t Position) {
    std::lock_guard Guard(Lock);
    HoldFrom = Position;
  }
  void Open() {
    {
      std::lock_guard Guard(Lock);
      HoldFrom = -1;
    }
    Opened.notify_all();
  }
};

// A frame of a hand-built animation: place, size, disposal, transparent
// index (-1: none) and a table of four colours of its own (empty: the
// file's); its pixels run through the indices, Seed apart.
const QRgb Grey = qRgb(128, 128, 128);

struct TGifFrame {
  int X, Y, Width, Height, Disposal, Transparent;
  std::vector<QRgb> Table;
  int Seed;
};

// A screen of 26 x 17 (or Screen) with a table of red, green, blue and
// white, and grey for the background, which no frame's pixels use; every
// frame 50 ms.
std::string AnimationGif(const std::vector<TGifFrame>& Frames, QSize Screen = {26, 17}) {
  auto Word = [](int V) { return std::string{char(V & 255), char(V >> 8)}; };
  auto Table = [](const std::vector<QRgb>& T) {
    std::string B;
    for (QRgb C : T) B += {char(qRed(C)), char(qGreen(C)), char(qBlue(C))};
    return B;
  };
  std::string B = "GIF89a" + Word(Screen.width()) + Word(Screen.height()) + "\x82\x04" + '\0' +
                  Table({qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255), Grey, Grey, Grey, Grey});
  for (const TGifFrame& F : Frames) {
    B += {0x21, char(0xF9), 4, char(F.Disposal << 2 | (F.Transparent >= 0)), 5, 0, char(std::max(F.Transparent, 0)), 0};
    B += ',' + Word(F.X) + Word(F.Y) + Word(F.Width) + Word(F.Height) + (F.Table.empty() ? '\0' : '\x81') + Table(F.Table);
    std::vector<std::uint8_t> Pixels(static_cast<std::size_t>(F.Width) * F.Height);
    for (std::size_t I = 0; I < Pixels.size(); ++I) Pixels[I] = (I % F.Width + 2 * (I / F.Width) + F.Seed) % 4;
    platform::TMemoryStream Data;
    rv::GifLzwCompress(Data, F.Height, F.Width, 2, Pixels.data(), false);
    B.append(reinterpret_cast<const char*>(Data.Memory()), static_cast<std::size_t>(Data.Size()));
  }
  return B + ';';
}

QRgb Colour(const rv::TRGB& C) { return qRgb(C.r, C.g, C.b); }

// The colour the background shows in under frame Current: its transparent
// colour, else the file's background.
QRgb Brush(rv::TRastrumMView& Frames, int Current) {
  const rv::TIOParamsVals& Shown = *Frames.GetMIO()->GetParams(Current);
  return Colour(Shown.GifHasTransparentColor ? Shown.GifTransparentColor : Shown.GifBackground);
}

// Frame Current as the window used to compose every frame from all those it
// needs: the background in its brush, the frames from the last one over the
// whole canvas that hides all before it (opaque and left in place, or
// cleared), each left, cleared or passed over by its disposal, then the
// frame.
QImage Recomposed(rv::TRastrumMView& Frames, int Current, QSize Canvas) {
  auto Info = [&](int I) { return Frames.GetMIO()->GetParams(I); };
  const QRgb Background = Brush(Frames, Current);
  QImage Image(Canvas, QImage::Format_RGB32);
  Image.fill(Background);
  QPainter Painter(&Image);
  auto Draw = [&](int I) {
    platform::TBitmap* Frame = Frames.GetImageBitmap(I);
    QImage Picture = Frame->ToImage().convertToFormat(QImage::Format_ARGB32);
    Frames.ReleaseImageBitmap(Frame);
    for (int Y = 0; Y < Picture.height(); ++Y)
      for (int X = 0; X < Picture.width(); ++X)
        if (Info(I)->GifHasTransparentColor && Picture.pixel(X, Y) == (Colour(Info(I)->GifTransparentColor)))
          Picture.setPixel(X, Y, 0);
    Painter.drawImage(Info(I)->GifXPos, Info(I)->GifYPos, Picture);
  };
  auto Full = [&](int I) {
    return QRect(Info(I)->GifXPos, Info(I)->GifYPos, Frames.ImageFullWidth(I), Frames.ImageFullHeight(I))
        .contains(QRect(QPoint(0, 0), Canvas));
  };
  // A frame that puts back what it covered hides nothing after it.
  auto Hides = [&](int I) {
    return (!Info(I)->GifHasTransparentColor && (I == Current || Info(I)->GifDisposal <= 1)) ||
           (Info(I)->GifDisposal == 2 && I < Current);
  };
  int Base = 0;
  for (int I = Current; I >= 1 && Base == 0; --I)
    if (Full(I) && Hides(I)) Base = I;
  for (int I = Base; I < Current; ++I) {
    if (Info(I)->GifDisposal <= 1) Draw(I);
    else if (Info(I)->GifDisposal == 2 && I > Base)
      Painter.fillRect(Info(I)->GifXPos, Info(I)->GifYPos, Frames.ImageFullWidth(I), Frames.ImageFullHeight(I),
                       Background);
  }
  Draw(Current);
  return Image;
}

// Animations of frames left in place, cleared or put back (undefined
// disposals too), transparent colours of their own, frames of any size and
// place, a full-size frame off the corner; each with the canvas it shows on
// (its frames' rectangles together, inside the screen) and whether the
// reference composes it as the window does (it leaves the undefined
// disposals in place).
struct TAnimationCase {
  const char* Name;
  QSize Canvas;
  bool Reference;
  std::vector<TGifFrame> Frames;
};

const std::vector<QRgb> Dark = {qRgb(0, 0, 0), qRgb(90, 0, 0), qRgb(0, 90, 0), qRgb(0, 0, 90)};
const std::vector<QRgb> Pale = {qRgb(250, 200, 200), qRgb(200, 250, 200), qRgb(200, 200, 250), qRgb(30, 30, 30)};

const std::vector<TAnimationCase> AnimationCases = {
    {"left.gif", {24, 16}, true,
     {{0, 0, 24, 16, 1, -1, {}, 0}, {3, 2, 8, 6, 1, 0, Dark, 1}, {10, 5, 10, 8, 0, 2, {}, 2},
      {0, 0, 24, 16, 1, 1, Pale, 3}, {20, 12, 4, 4, 1, -1, {}, 0}}},
    {"cleared.gif", {25, 17}, true,
     {{2, 2, 12, 10, 2, 3, {}, 0}, {0, 0, 24, 16, 1, 0, Dark, 1}, {5, 3, 6, 6, 2, -1, {}, 2},
      {0, 0, 24, 16, 2, 1, {}, 3}, {8, 8, 10, 6, 2, 2, Pale, 1}, {0, 0, 4, 4, 1, -1, {}, 2},
      {1, 1, 24, 16, 2, 0, Dark, 2}, {4, 4, 6, 5, 1, -1, {}, 3}}},
    {"restored.gif", {26, 17}, false,
     {{0, 0, 24, 16, 1, -1, {}, 0}, {4, 4, 8, 8, 3, 0, {}, 1}, {6, 2, 8, 8, 3, -1, Dark, 2},
      {2, 1, 24, 16, 3, -1, {}, 3}, {10, 6, 6, 6, 1, 1, Pale, 0}, {0, 0, 24, 16, 5, 2, {}, 1},
      {3, 3, 5, 5, 2, -1, {}, 2}, {7, 0, 9, 9, 3, 3, Pale, 3}}},
    // Opaque full-size frames that put back what was before them: the
    // frame after one shows over the first.
    {"previous.gif", {24, 16}, true,
     {{0, 0, 24, 16, 1, -1, {}, 0}, {0, 0, 24, 16, 3, -1, Dark, 1}, {9, 5, 6, 6, 1, -1, {}, 2},
      {0, 0, 24, 16, 3, -1, Pale, 3}, {2, 3, 6, 6, 3, 1, {}, 1}}},
    // Sprites over the screen, the last reaching past it: the canvas is
    // the screen's, not the largest frame's.
    {"sprites.gif", {26, 17}, true,
     {{0, 0, 6, 6, 1, -1, {}, 0}, {18, 9, 6, 6, 1, -1, Dark, 1}, {10, 4, 6, 6, 2, 2, {}, 2},
      {3, 10, 5, 5, 3, -1, Pale, 3}, {22, 14, 8, 8, 1, 0, {}, 1}}},
};

class AnimationLoadTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  std::string WriteGif(const std::string& Name, const std::string& Bytes) {
    std::ofstream(Env.File(Name), std::ios::binary) << Bytes;
    return Env.File(Name);
  }
  void ShowInFolder(const std::string& Name) {
    Form().CurrentFolderView()->SelectAndShowFile(Name);
    Loaded();
  }
  QImage Shown() { return Form().RastrumView1->GetBitmap()->ToImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace

// Each frame's read used to walk the whole file: frames x file size, on the
// window's thread. Now one walk on a worker reads them all; moving to
// another picture meanwhile stops that walk and lets go of its frames.
TEST_F(AnimationLoadTest, TheFramesAreReadInOneWalkOffTheWindowsThread) {
  constexpr int Frames = 600;
  WriteSettingBool("AnimateGif", true);
  const auto Size = static_cast<std::int64_t>(fs::file_size(WriteGif("many.gif", ManyFramesGif(Frames, 0, true))));
  Env.Picture("a.png", 64, 48);
  Env.Picture("z.png", 64, 48);
  Show(Env.File("a.png"));
  TDecoderWatch Watch;
  Watch.FirstData = HeaderBytes + static_cast<std::int64_t>(Padding.size()) + 10;
  const std::int64_t Before = BytesRead();
  ShowInFolder("many.gif");
  ASSERT_EQ(Form().RastrumMView1->ImageCount(), Frames);
  EXPECT_TRUE(Form().GifTimer->isActive());
  EXPECT_EQ(Watch.OnWindowThread, 0);
  EXPECT_EQ(Watch.Elsewhere, Frames - 1);
  // The picture, its thumbnail and its frames: a few walks, not one a frame.
  EXPECT_LT(BytesRead() - Before, 10 * Size);

  // Moving on while the frames are read.
  ShowInFolder("a.png");
  const std::int64_t Stores = StoreBytes();
  Watch.Elsewhere = 0;
  Watch.Hold(HeaderBytes + 100 * (static_cast<std::int64_t>(Padding.size()) + 15));
  Form().CurrentFolderView()->SelectAndShowFile("many.gif");
  ASSERT_TRUE(WaitUntil([&] { return Watch.Held > 0; }));
  Form().CurrentFolderView()->SelectAndShowFile("z.png");
  Watch.Open();
  Loaded();
  // The dropped read ends at the frame it was on, and its frames go: the
  // pictures of a hundred frames would take megabytes of store.
  EXPECT_TRUE(WaitUntil([&] { return StoreBytes() < Stores + (1 << 20); })) << StoreBytes() - Stores;
  EXPECT_LE(Watch.Elsewhere, 100);
  EXPECT_EQ(Form().RastrumMView1->ImageCount(), 0);
  EXPECT_EQ(Form().CurrentFileName(), "z.png");
}

// A picture of one pixel was taken for no picture: nothing shown, no size
// said, its commands off. It shows as any small picture does, fitted to the
// window, and an animation of such frames plays.
TEST_F(AnimationLoadTest, PicturesAndFramesOfOnePixelShowAsAnySmallPicture) {
  WriteSettingBool("AnimateGif", true);
  const QRgb Orange = qRgb(255, 128, 0);
  QImage Pixel(1, 1, QImage::Format_RGB32);
  Pixel.fill(Orange);
  for (const char* Name : {"a.png", "b.bmp"}) ASSERT_TRUE(Pixel.save(QString::fromStdString(Env.File(Name))));
  QImage(2, 2, QImage::Format_RGB32).save(QString::fromStdString(Env.File("small.png")));
  // The frames' first table entry (the colour they hold) orange.
  for (const auto& [Name, Frames] : {std::pair("c.gif", 1), std::pair("d.gif", 3)})
    WriteGif(Name, ManyFramesGif(Frames, 0).replace(13, 3, std::string("\xFF\x80\x00", 3)));
  Show(Env.File("small.png"));
  rv::TRastrumView& View = *Form().RastrumView1;
  const QRect Small(View.OffsetX(), View.OffsetY(), View.DrawWidth(), View.DrawHeight());
  for (const char* Name : {"a.png", "b.bmp", "c.gif", "d.gif"}) {
    ShowInFolder(Name);
    ASSERT_TRUE(WaitUntil([&] { return !View.TransitionRunning(); }));
    EXPECT_TRUE(Form().HasImage()) << Name;
    EXPECT_EQ(Form().StatusPanelText(0), QString(Name) + " (1x1)");
    EXPECT_EQ(QRect(View.OffsetX(), View.OffsetY(), View.DrawWidth(), View.DrawHeight()), Small) << Name;
    const QImage Shown = View.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(Shown.pixel(Small.topLeft()), Orange) << Name;
    EXPECT_EQ(Shown.pixel(Small.bottomRight()), Orange) << Name;
    EXPECT_TRUE(Form().findChild<QAction*>("RotateCW1")->isEnabled()) << Name;
  }
  ASSERT_EQ(Form().RastrumMView1->ImageCount(), 3);
  Form().GifTimerTimer();
  EXPECT_TRUE(Form().GifTimer->isActive());
  EXPECT_TRUE(Form().HasImage());
}

// A command while the frames are read (held) acts on the picture shown
// without waiting for them; they come after it and play.
TEST_F(AnimationLoadTest, ACommandDoesNotWaitForTheFrames) {
  constexpr int Frames = 50;
  WriteSettingBool("AnimateGif", true);
  WriteGif("anim.gif", ManyFramesGif(Frames, 0));
  Env.Picture("a.png");
  Show(Env.File("a.png"));
  TDecoderWatch Watch;
  Watch.FirstData = HeaderBytes + 10;
  Watch.Hold(HeaderBytes + 5 * 15);
  Form().CurrentFolderView()->SelectAndShowFile("anim.gif");
  ASSERT_TRUE(WaitUntil([&] { return !Form().PictureLoadPending() && Watch.Held > 0; }));
  Form().Execute("CopyToClipboard");
  EXPECT_TRUE(Form().FramesLoadPending());
  EXPECT_EQ(Form().RastrumMView1->ImageCount(), 0);
  Watch.Open();
  Loaded();
  EXPECT_EQ(Form().RastrumMView1->ImageCount(), Frames);
  EXPECT_TRUE(Form().GifTimer->isActive());
  EXPECT_EQ(Watch.OnWindowThread, 0);
}

// Every frame's record used to start as a copy of the one before and get
// all the file's comments once more: frames x frames x comments lines. The
// file's comments are kept once, in its first frame's record, as the shown
// picture's record keeps them.
TEST_F(AnimationLoadTest, TheFilesCommentsAreKeptOnce) {
  constexpr int Frames = 200, Comments = 10;
  WriteSettingBool("AnimateGif", true);
  Show(WriteGif("notes.gif", ManyFramesGif(Frames, Comments)));
  rv::TRastrumMIO& Records = *Form().RastrumMView1->GetMIO();
  ASSERT_EQ(Records.ParamsCount(), Frames);
  std::vector<std::string> Expected;
  for (int I = 0; I < Comments; ++I) Expected.push_back(std::string(255, char('a' + I)));
  EXPECT_EQ(Records.GetParams(0)->GifComments, Expected);
  EXPECT_EQ(Form().RastrumView1->GetIO()->Params().GifComments, Expected);
  std::size_t Lines = 0, Bytes = 0;
  for (int I = 0; I < Frames; ++I) {
    const rv::TIOParamsVals& Frame = *Records.GetParams(I);
    Lines += Frame.GifComments.size();
    for (const std::string& Line : Frame.GifComments) Bytes += Line.size();
    EXPECT_EQ(Frame.GifImageCount, Frames);
  }
  EXPECT_EQ(Lines, std::size_t{Comments});
  EXPECT_EQ(Bytes, std::size_t{Comments} * 255);
}

// Every frame takes a block of the picture store however small it is: a
// file of thousands of 15-byte frames would fill gigabytes. The frames
// together hold no more than the largest picture the program opens, and the
// animation plays those that fit.
TEST_F(AnimationLoadTest, TheFramesHoldNoMoreThanTheLargestPicture) {
  constexpr std::int64_t Largest = 1 << 20, Budget = Largest * 3;
  const std::int64_t Cap = rv::RvMaxPixels();
  rv::RvSetMaxPixels(Largest);
  WriteSettingBool("AnimateGif", true);
  const std::int64_t Stores = StoreBytes();
  Show(WriteGif("tiny.gif", ManyFramesGif(400, 0)));
  const int Frames = Form().RastrumMView1->ImageCount();
  rv::RvSetMaxPixels(Cap);
  EXPECT_EQ(Frames, Budget / rv::TRvVirtualDIBList::BlockAlign);
  EXPECT_LE(StoreBytes() - Stores, Budget + 4 * rv::TRvVirtualDIBList::BlockAlign);
  EXPECT_EQ(Form().CurrentFileName(), "tiny.gif");
}

// The pixels of Ours, a canvas, that differ from Theirs, the reference's
// composition of the whole screen (ImageMagick's coalesce, clear or in the
// file's background colour where the background shows): Brush shows there,
// and the screen beyond the canvas holds nothing.
int Differing(const QImage& Theirs, const QImage& Ours, QRgb Brush) {
  if (Theirs.size() != QSize(26, 17)) return -1;
  int Count = 0;
  for (int Y = 0; Y < Theirs.height(); ++Y)
    for (int X = 0; X < Theirs.width(); ++X) {
      const QRgb Their = Theirs.pixel(X, Y);
      const bool Clear = qAlpha(Their) == 0 || Their == Grey;
      if (!Ours.rect().contains(X, Y)) Count += !Clear;
      else Count += Ours.pixel(X, Y) != (Clear ? Brush : Their);
    }
  return Count;
}

// Each tick used to draw every frame since the last full-size opaque one:
// for the delta animations that optimisers write, every frame since the
// first. The canvas is kept between ticks and a tick draws one frame; every
// frame shows as the full composition makes it, and as the reference
// composes it, on a tick and on a seek alike.
TEST_F(AnimationLoadTest, ATickDrawsOneFrameOverWhatTheOneBeforeLeft) {
  WriteSettingBool("AnimateGif", true);
  WriteSetting("ImageTransitionEffect", "0");
  const bool Convert = std::system("convert -version >/dev/null 2>&1") == 0;
  // Written before the folder is read: it lists them all.
  for (const auto& [Name, Canvas, Reference, Frames] : AnimationCases) WriteGif(Name, AnimationGif(Frames));
  for (const auto& [Name, Canvas, Reference, Frames] : AnimationCases) {
    Show(Env.File(Name));
    Form().GifTimer->stop();
    rv::TRastrumMView& Held = *Form().RastrumMView1;
    const int Count = Held.ImageCount();
    ASSERT_EQ(Count, static_cast<int>(Frames.size())) << Name;
    std::vector<QImage> Theirs;
    const std::string Coalesced = Env.File(std::string(Name) + "-coalesced");
    if (Reference && Convert) {
      ASSERT_EQ(std::system(("convert '" + Env.File(Name) + "' -coalesce 'png32:" + Coalesced + "-%d.png'").c_str()), 0);
      for (int Frame = 0; Frame < Count; ++Frame)
        Theirs.push_back(QImage(QString::fromStdString(Coalesced + "-" + std::to_string(Frame) + ".png"))
                             .convertToFormat(QImage::Format_ARGB32));
    }
    auto Expect = [&](int Frame, const char* How) {
      EXPECT_EQ(Shown(), Recomposed(Held, Frame, Canvas)) << Name << " frame " << Frame << How;
      if (!Theirs.empty())
        EXPECT_EQ(Differing(Theirs[Frame], Shown(), Brush(Held, Frame)), 0) << Name << " frame " << Frame << How;
    };
    Expect(Form().GifFrameIndex(), " shown");
    EXPECT_EQ(Form().StatusPanelText(0), QString("%1 (%2x%3)").arg(Name).arg(Canvas.width()).arg(Canvas.height()));
    auto Ticks = [&](int Count) {
      for (int Tick = 0; Tick < Count; ++Tick) {
        const int Drawn = Form().GifFramesDrawn();
        Form().GifTimerTimer();
        const int Frame = Form().GifFrameIndex();
        EXPECT_EQ(Form().GifFramesDrawn() - Drawn, 1) << Name << " frame " << Frame;
        Expect(Frame, " on a tick");
      }
    };
    Ticks(2 * Count + 1);
    // A seek composes its frame anew, and the ticks go on from there.
    for (const int Frame : {0, 1, 2, 4, 3}) {
      Form().SeekGifFrame(Frame);
      Expect(Frame, " sought");
    }
    Ticks(2);
  }
}

// A large first frame and tiny frames after it: every tick converted and
// copied the whole canvas into the view, and the view rendered its whole
// client again. The view keeps the shown picture; a tick writes the pixels
// it changed (the frame before cleared, the new frame) and renders what
// shows them, the loop back to the first frame what the loop changed.
TEST_F(AnimationLoadTest, ATickRewritesOnlyWhatItChanged) {
  WriteSettingBool("AnimateGif", true);
  WriteSetting("ImageTransitionEffect", "0");
  constexpr int Width = 600, Height = 400, Tiny = 12;
  std::vector<TGifFrame> Frames = {{0, 0, Width, Height, 1, -1, {}, 0}};
  for (int I = 0; I < Tiny; ++I)
    Frames.push_back({(I * 97) % Width, (I * 61) % Height, 1, 1, I % 3 == 0 ? 2 : 1, -1, Dark, I});
  Show(WriteGif("large.gif", AnimationGif(Frames, {Width, Height})));
  Form().GifTimer->stop();
  rv::TRastrumMView& Held = *Form().RastrumMView1;
  ASSERT_EQ(Held.ImageCount(), Tiny + 1);
  rv::TRastrumView& View = *Form().RastrumView1;
  View.RenderBackBuffer();
  const std::int64_t Client = View.RenderedPixels();
  ASSERT_GT(Client, 10000);
  for (int Tick = 1; Tick <= 2 * (Tiny + 1); ++Tick) {
    const std::int64_t Before = Form().GifPixelsShown();
    Form().GifTimerTimer();
    View.RenderBackBuffer();
    const int Frame = Form().GifFrameIndex();
    const std::int64_t Written = Form().GifPixelsShown() - Before;
    // The frame before, cleared, and this one; at the loop, the tiny frames
    // put back.
    EXPECT_LE(Written, Frame == 0 ? 4 * Tiny : 2) << "frame " << Frame;
    EXPECT_LE(View.RenderedPixels(), Frame == 0 ? Client : Client / 100) << "frame " << Frame;
    if (Tick % 5 == 0 || Frame == 0) EXPECT_EQ(Shown(), Recomposed(Held, Frame, {Width, Height})) << "frame " << Frame;
  }
}

// A row and a column across the screen, a few bytes each, made a canvas of
// the widest frame's width and the tallest one's height: 65,535 squared
// from a file of 74 KB. The canvas stays within the pixel cap: a frame that
// would take it beyond is drawn clipped.
TEST_F(AnimationLoadTest, TheCanvasStaysWithinThePixelCap) {
  constexpr std::int64_t Largest = 1 << 20;
  const std::int64_t Cap = rv::RvMaxPixels();
  rv::RvSetMaxPixels(Largest);
  WriteSettingBool("AnimateGif", true);
  Show(WriteGif("cross.gif", AnimationGif({{0, 0, 2000, 1, 1, -1, {}, 0}, {0, 0, 1, 2000, 1, -1, {}, 1}}, {2000, 2000})));
  rv::RvSetMaxPixels(Cap);
  ASSERT_EQ(Form().RastrumMView1->ImageCount(), 2);
  EXPECT_EQ(Shown().size(), QSize(2000, 1));
  Form().GifTimerTimer();
  EXPECT_EQ(Shown().size(), QSize(2000, 1));
}
