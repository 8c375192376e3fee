// The frames of animated GIFs, written once into /tmp/pictrova_gifframes_bench:
// a 300-frame animation of 480 x 270 (full frames, a global table of 256
// colours, 40 ms each), a crafted file of 32,000 frames of 1 x 1 (15 bytes
// each) and one of 1,000 such frames with 10 comments of 255 letters.
//
// BM_GifFrames: the multi-image component reads every frame into a thumbnail
// view, as the program fills its hidden one; counted are the passes over the
// file (bytes read / its size), the comment lines the frames' records hold,
// the heap they hold with the frames' records and all this thread allocated
// on the way.
// BM_GifFramesInTheWindow: the real main window shows the file after another
// picture, until the frames the animation keeps are in: the time that takes
// and the longest the window's event loop was kept waiting meanwhile.
//
// BM_GifTicks: the animation's ticks in the real main window, each with the
// paint it asks for, and the frames a tick draws, at the start of the loop
// and at its end (reached by a seek, not timed), for the delta animations
// optimisers write: 1,000 frames of 48 x 40 over one of 400 x 300 (1.5 MB),
// one frame of 256 x 256 followed by 12,000 of 1 x 1 (350 KB), and one of
// 8192 x 8192 in one colour followed by 200 of 1 x 1; counted are the
// canvas pixels a tick writes into the picture view.
#include "bench_photos.h" // before Qt

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <functional>
#include <malloc.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "allocations.h"
#include "app/mainform.h"
#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvioparams.h"
#include "image/io/rvmio.h"
#include "image/views/rvmview.h"
#include "platform/stream.h"
#include "platform/thread.h"

namespace {

const std::string Folder = "/tmp/pictrova_gifframes_bench";

void Put16(std::string& B, int V) { B += {char(V & 255), char(V >> 8)}; }

std::string Screen(int Width, int Height, int TableBits) {
  std::string B = "GIF89a";
  Put16(B, Width);
  Put16(B, Height);
  B += {char(0x80 | (TableBits - 1) << 4 | (TableBits - 1)), 0, 0};
  return B;
}

// 300 frames of 480 x 270: soft colour fields that drift, with a disc
// crossing them, in a table of 256 colours.
std::string Animation() {
  constexpr int W = 480, H = 270, Frames = 300;
  std::string B = Screen(W, H, 8);
  for (int I = 0; I < 256; ++I) B += {char(I), char((I * 5) & 255), char(255 - I)};
  B += {0x21, char(0xFF), 11};
  B += "NETSCAPE2.0";
  B += {3, 1, 0, 0, 0};
  std::vector<std::uint8_t> Pixels(static_cast<std::size_t>(W) * H);
  std::uint32_t Noise = 7;
  for (int F = 0; F < Frames; ++F) {
    const int Cx = (F * 3) % W, Cy = H / 2;
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X) {
        Noise = Noise * 1664525u + 1013904223u;
        const bool Disc = (X - Cx) * (X - Cx) + (Y - Cy) * (Y - Cy) < 400;
        Pixels[static_cast<std::size_t>(Y) * W + X] =
            Disc ? 255 : static_cast<std::uint8_t>(((X + F) / 12 + (Y + F / 2) / 9 + (Noise >> 30)) % 255);
      }
    B += {0x21, char(0xF9), 4, 4, 4, 0, 0, 0}; // left in place, 40 ms
    B += {0x2C, 0, 0, 0, 0};
    Put16(B, W);
    Put16(B, H);
    B += '\0';
    platform::TMemoryStream Data;
    rv::GifLzwCompress(Data, H, W, 8, Pixels.data(), false);
    B.append(reinterpret_cast<const char*>(Data.Memory()), static_cast<std::size_t>(Data.Size()));
  }
  return B + ';';
}

// Frames of 1 x 1 (15 bytes each), a comment of 255 letters before each of
// the frames Frames / Comments apart.
std::string ManyFrames(int Frames, int Comments) {
  std::string B = Screen(1, 1, 1);
  B += {0, 0, 0, char(255), char(255), char(255)};
  for (int I = 0; I < Frames; ++I) {
    if (Comments > 0 && I % (Frames / Comments) == 0)
      B += std::string{0x21, char(0xFE), char(255)} + std::string(255, char('a' + I % 26)) + '\0';
    B += {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0};
  }
  return B + ';';
}

// 8-bit pixels of soft noise.
std::vector<std::uint8_t> Noise(int Width, int Height, std::uint32_t Seed) {
  std::vector<std::uint8_t> Pixels(static_cast<std::size_t>(Width) * Height);
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      Seed = Seed * 1664525u + 1013904223u;
      Pixels[static_cast<std::size_t>(Y) * Width + X] = static_cast<std::uint8_t>((X / 4 + Y / 3 + (Seed >> 29)) & 255);
    }
  return Pixels;
}

// A frame left in place, shown for 50 ms, at Left, Top.
void PutFrame(std::string& B, int Left, int Top, int Width, int Height, int Bits, const std::uint8_t* Pixels) {
  B += {0x21, char(0xF9), 4, 4, 5, 0, 0, 0};
  B += {0x2C};
  Put16(B, Left);
  Put16(B, Top);
  Put16(B, Width);
  Put16(B, Height);
  B += '\0';
  platform::TMemoryStream Data;
  rv::GifLzwCompress(Data, Height, Width, Bits, Pixels, false);
  B.append(reinterpret_cast<const char*>(Data.Memory()), static_cast<std::size_t>(Data.Size()));
}

// One full frame (of noise, or Plain in one colour) and then Deltas frames
// of DeltaWidth x DeltaHeight wandering over it, in a table of 256 colours.
std::string Deltas(int Width, int Height, int Deltas, int DeltaWidth, int DeltaHeight, bool Plain = false) {
  std::string B = Screen(Width, Height, 8);
  for (int I = 0; I < 256; ++I) B += {char(I), char((I * 7) & 255), char(255 - I)};
  B += {0x21, char(0xFF), 11};
  B += "NETSCAPE2.0";
  B += {3, 1, 0, 0, 0};
  PutFrame(B, 0, 0, Width, Height, 8,
           (Plain ? std::vector<std::uint8_t>(static_cast<std::size_t>(Width) * Height, 1) : Noise(Width, Height, 1)).data());
  for (int F = 0; F < Deltas; ++F) {
    const int Left = (F * 37) % (Width - DeltaWidth + 1), Top = (F * 23) % (Height - DeltaHeight + 1);
    if (DeltaWidth == 1 && DeltaHeight == 1) {
      const std::uint8_t Pixel = static_cast<std::uint8_t>(F & 255);
      PutFrame(B, Left, Top, 1, 1, 8, &Pixel);
    } else {
      PutFrame(B, Left, Top, DeltaWidth, DeltaHeight, 8,
               Noise(DeltaWidth, DeltaHeight, static_cast<std::uint32_t>(F + 2)).data());
    }
  }
  return B + ';';
}

std::string File(const std::string& Name, const std::function<std::string()>& Make) {
  const std::string Path = Folder + "/" + Name;
  if (!bench::FileExists(Path)) {
    ::mkdir(Folder.c_str(), 0755);
    platform::TMemoryStream Out;
    const std::string Bytes = Make();
    Out.Write(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
    Out.SaveToFile(Path);
  }
  return Path;
}

std::string AnimationFile() { return File("animation300.gif", Animation); }
std::string ManyFramesFile() { return File("frames32000.gif", [] { return ManyFrames(32000, 0); }); }
std::string CommentsFile() { return File("comments1000.gif", [] { return ManyFrames(1000, 10); }); }
std::string DeltasFile() { return File("deltas1000.gif", [] { return Deltas(400, 300, 1000, 48, 40); }); }
std::string PixelsFile() { return File("pixels12000.gif", [] { return Deltas(256, 256, 12000, 1, 1); }); }
std::string LargeFile() { return File("large8192.gif", [] { return Deltas(8192, 8192, 200, 1, 1, true); }); }

// A file in memory that counts the bytes read from it.
class TCountingStream : public platform::TMemoryStream {
public:
  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    const std::int64_t Got = TMemoryStream::Read(Buffer, Count);
    BytesRead += Got;
    return Got;
  }
  std::int64_t BytesRead = 0;
};

double HeapMB() {
  const struct mallinfo2 Info = mallinfo2();
  return static_cast<double>(Info.uordblks + Info.hblkhd) / (1 << 20);
}

void BM_GifFrames(benchmark::State& State, const std::function<std::string()>& Path) {
  bench::EnsureApplication();
  rv::RvDefaultGifLzwDecompress = rv::GifLzwDecompress;
  TCountingStream Stream;
  Stream.LoadFromFile(Path());
  int Frames = 0;
  std::size_t Lines = 0;
  std::int64_t Allocated = 0;
  double Held = 0;
  for (auto _ : State) {
    Stream.SetPosition(0);
    Stream.BytesRead = 0;
    rv::TRastrumMView View;
    View.ThreadPoolSize = 0;
    const std::int64_t Before = bench::ThreadAllocatedBytes();
    const double HeldBefore = HeapMB();
    View.GetMIO()->LoadGifStreamFrames(Stream);
    Allocated = bench::ThreadAllocatedBytes() - Before;
    Held = HeapMB() - HeldBefore;
    Frames = View.ImageCount();
    Lines = 0;
    for (int I = 0; I < Frames; ++I) Lines += View.GetMIO()->GetParams(I)->GifComments.size();
  }
  State.counters["frames"] = Frames;
  State.counters["passes"] = static_cast<double>(Stream.BytesRead) / static_cast<double>(Stream.Size());
  State.counters["comment_lines"] = static_cast<double>(Lines);
  State.counters["held_MB"] = Held;
  State.counters["allocated_MB"] = static_cast<double>(Allocated) / (1 << 20);
}

void Serve(const std::function<bool()>& Done) {
  while (!Done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    platform::CheckSynchronize();
  }
}

// The frames the multi-image component keeps of a file: those its budget
// lets in, fewer than a file of thousands of frames holds.
int FramesKept(const std::string& Path) {
  rv::RvDefaultGifLzwDecompress = rv::GifLzwDecompress; // as the main window sets it
  platform::TMemoryStream Stream;
  Stream.LoadFromFile(Path);
  rv::TRastrumMView View;
  View.ThreadPoolSize = 0;
  View.GetMIO()->LoadGifStreamFrames(Stream);
  return View.ImageCount();
}

void BM_GifFramesInTheWindow(benchmark::State& State, const std::function<std::string()>& Path) {
  bench::EnsureApplication();
  const std::string Gif = Path();
  const int Frames = FramesKept(Gif);
  const std::string Other = Folder + "/a.jpg";
  bench::WritePhoto(Other, 640, 480, 5u);
  QTemporaryDir Store;
  platform::SetKeyStoreFolder(Store.path().toStdString());
  bench::WriteSettings({{"ImageTransitionEffect", "0"}, {"AnimateGif", "True"}});
  double Longest = 0;
  {
    app::TMainForm Form({}, nullptr);
    Form.resize(1280, 900);
    Form.show();
    bench::TLoopBlockMeter Meter;
    for (auto _ : State) {
      State.PauseTiming();
      Form.OpenPath(Other, false);
      Serve([&] { return Form.HasImage() && !Form.PictureLoadPending(); });
      State.ResumeTiming();
      Meter.Start();
      Form.OpenPath(Gif, false);
      Serve([&] { return !Form.PictureLoadPending() && Form.RastrumMView1->ImageCount() == Frames; });
      Longest = std::max(Longest, Meter.Stop());
    }
  }
  State.counters["frames"] = Frames;
  State.counters["longest_wait_ms"] = Longest;
  platform::SetKeyStoreFolder("");
}

// Ticks of 50 ms over the frames from the start of the loop (End false) or
// up to its end; each tick ends with the paint it asks for.
void BM_GifTicks(benchmark::State& State, const std::function<std::string()>& Path, bool End) {
  bench::EnsureApplication();
  const std::string Gif = Path();
  const int Frames = FramesKept(Gif);
  QTemporaryDir Store;
  platform::SetKeyStoreFolder(Store.path().toStdString());
  bench::WriteSettings({{"ImageTransitionEffect", "0"}, {"AnimateGif", "True"}});
  {
    app::TMainForm Form({}, nullptr);
    Form.resize(1280, 900);
    Form.show();
    Form.OpenPath(Gif, false);
    Serve([&] { return !Form.PictureLoadPending() && Form.RastrumMView1->ImageCount() == Frames; });
    // The ticks come from here, not from the window's timer.
    Form.GifTimer->stop();
    const auto Ticks = static_cast<int>(State.max_iterations);
    if (End) Form.SeekGifFrame(Frames - Ticks - 1);
    QCoreApplication::processEvents();
    const int Drawn = Form.GifFramesDrawn();
    const std::int64_t Shown = Form.GifPixelsShown();
    for (auto _ : State) {
      Form.GifTimerTimer();
      QCoreApplication::processEvents();
    }
    State.counters["frame"] = Form.GifFrameIndex();
    State.counters["drawn_per_tick"] = static_cast<double>(Form.GifFramesDrawn() - Drawn) / Ticks;
    State.counters["shown_per_tick"] = static_cast<double>(Form.GifPixelsShown() - Shown) / Ticks;
  }
  State.counters["frames"] = Frames;
  platform::SetKeyStoreFolder("");
}

} // namespace

BENCHMARK_CAPTURE(BM_GifTicks, deltas1000_start, DeltasFile, false)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_GifTicks, deltas1000_end, DeltasFile, true)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_GifTicks, pixels12000_start, PixelsFile, false)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_GifTicks, pixels12000_end, PixelsFile, true)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_GifTicks, large8192_start, LargeFile, false)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_GifTicks, large8192_end, LargeFile, true)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_GifFrames, animation300, AnimationFile)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_GifFrames, frames32000, ManyFramesFile)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_GifFrames, comments1000, CommentsFile)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_GifFramesInTheWindow, animation300, AnimationFile)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_GifFramesInTheWindow, frames32000, ManyFramesFile)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
