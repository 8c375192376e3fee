// A picture format of the tests' own, under the extension "gate": every read
// of one of its files notes whether it ran on the window's thread, and the
// reads of pixels elsewhere can be held at a gate the test opens, as a slow
// file would hold them. A read on the window's thread never waits: it is
// counted, so that a test of it fails at once instead of hanging.
// A file: "GATE", its colour (red, green, blue), its width and height (a
// byte each); one is written as it is read. GIF files can be held at the
// same gate.
#pragma once

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rastrumio.h"
#include "image/io/rvformats.h"

namespace testsupport {

class TGatedReads {
public:
  // Registered with the reader's registry at the first use.
  static TGatedReads& Get() {
    static TGatedReads* Reads = [] {
      rv::TRvFileFormatInfo Info;
      Info.FileType = 900;
      Info.Description = "Gated test picture";
      Info.Extensions = "GATE";
      Info.ProbeEntry = [](platform::TStream& S) {
        char M[4] = {};
        return S.Read(M, 4) == 4 && std::memcmp(M, "GATE", 4) == 0;
      };
      Info.ReadEntry = [](platform::TStream& S, rv::TRvBitmap& B, rv::TIOParamsVals& P, rv::TRvProgressRec& Progress,
                          bool Preview) { Get().Read(S, B, P, Progress, Preview); };
      // The colour of the first pixel and the size, as a file is read.
      Info.WriteEntry = [](platform::TStream& S, rv::TRvBitmap& B, rv::TIOParamsVals&, rv::TRvProgressRec&) {
        const std::uint8_t* Pixel = B.Scanline(0);
        const char H[9] = {'G', 'A', 'T', 'E', char(Pixel[2]), char(Pixel[1]), char(Pixel[0]), char(B.Width()),
                           char(B.Height())};
        S.Write(H, 9);
      };
      rv::RvRegisterFileFormat(Info);
      return new TGatedReads;
    }();
    return *Reads;
  }

  // Padded with zero bytes to Size when given (a file over a size limit).
  static void Write(const std::string& Path, std::uint32_t Rgb, int Width = 40, int Height = 30,
                    std::size_t Size = 0) {
    std::ofstream File(Path, std::ios::binary);
    File << "GATE" << char(Rgb >> 16) << char(Rgb >> 8) << char(Rgb) << char(Width) << char(Height);
    if (Size > 9) File << std::string(Size - 9, '\0');
  }

  // Reads of pixels or headers on the window's thread; reads of pixels and
  // of headers elsewhere; reads waiting at the gate now, and all that came
  // to it closed (a dropped read leaves the gate soon after the next comes).
  std::atomic<int> OnWindow{0}, Elsewhere{0}, HeadersElsewhere{0}, Held{0}, Arrived{0};
  void Reset() { OnWindow = Elsewhere = HeadersElsewhere = Arrived = 0; }

  // While the gate is closed, reads of pixels off the window's thread wait
  // until it opens or their read is cancelled (5 s at most: a window that
  // waited for one fails soon, not at the test's time-out).
  void Close() {
    std::lock_guard Lock(FLock);
    FClosed = true;
  }
  void Open() {
    {
      std::lock_guard Lock(FLock);
      FClosed = false;
    }
    FOpened.notify_all();
  }

  // A decoding of another format's pixels: counted, and held off the
  // window's thread as the reads of this one are.
  void Decoding() {
    const bool Window = OnWindowThread();
    ++(Window ? OnWindow : Elsewhere);
    if (!Window) Pass(nullptr);
  }

private:
  static bool OnWindowThread() {
    const QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
  }

  void Read(platform::TStream& S, rv::TRvBitmap& B, rv::TIOParamsVals& P, rv::TRvProgressRec& Progress,
            bool Preview) {
    unsigned char H[9] = {};
    if (S.Read(H, 9) != 9 || std::memcmp(H, "GATE", 4) != 0) {
      Progress.Abort();
      return;
    }
    const bool Window = OnWindowThread();
    ++(Window ? OnWindow : Preview ? HeadersElsewhere : Elsewhere);
    P.Width = H[7];
    P.Height = H[8];
    P.BitsPerSample = 8;
    P.SamplesPerPixel = 3;
    if (Preview) return;
    if (!Window) Pass(&Progress);
    if (Progress.IsAborting()) return;
    B.Allocate(H[7], H[8], rv::rvpf24Bit);
    for (int Y = 0; Y < H[8]; ++Y)
      for (int X = 0; X < H[7]; ++X) {
        std::uint8_t* Pixel = B.Scanline(Y) + 3 * X;
        Pixel[0] = H[6];
        Pixel[1] = H[5];
        Pixel[2] = H[4];
      }
  }

  // Waits while the gate is closed, telling the reader's progress (when
  // there is one) now and then as a slow codec does, which is where a cancel
  // is heard.
  void Pass(rv::TRvProgressRec* Progress) {
    std::unique_lock Lock(FLock);
    if (!FClosed) return;
    ++Held;
    ++Arrived;
    const auto Until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (FClosed && !(Progress && Progress->IsAborting()) && std::chrono::steady_clock::now() < Until) {
      Lock.unlock();
      if (Progress) Progress->Step(0);
      Lock.lock();
      FOpened.wait_for(Lock, std::chrono::milliseconds(5));
    }
    --Held;
  }

  std::mutex FLock;
  std::condition_variable FOpened;
  bool FClosed = false;
};

// GIF pictures, which every list of the program takes for pictures (a gated
// file is one only to those that ask the format registry): while one of
// these lives, the program's GIF decoder is counted and held at the gate as
// the gated reads are.
class TGatedGifDecodes {
public:
  TGatedGifDecodes() : FReal(rv::RvDefaultGifLzwDecompress) { rv::RvDefaultGifLzwDecompress = Decode; }
  ~TGatedGifDecodes() { rv::RvDefaultGifLzwDecompress = FReal; }
  TGatedGifDecodes(const TGatedGifDecodes&) = delete;
  TGatedGifDecodes& operator=(const TGatedGifDecodes&) = delete;

  // A GIF of Width x Height in one colour, made by the program's encoder.
  static void Write(const std::string& Path, std::uint32_t Rgb, int Width, int Height) {
    const rv::TGifLzwCompressProc Saved = rv::RvDefaultGifLzwCompress;
    rv::RvDefaultGifLzwCompress = rv::GifLzwCompress;
    {
      rv::TRastrumIO IO;
      rv::TRvBitmap& Bitmap = *IO.RvBitmap();
      Bitmap.Allocate(Width, Height, rv::rvpf24Bit);
      for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X) {
          std::uint8_t* Pixel = Bitmap.Scanline(Y) + 3 * X;
          Pixel[0] = static_cast<std::uint8_t>(Rgb);
          Pixel[1] = static_cast<std::uint8_t>(Rgb >> 8);
          Pixel[2] = static_cast<std::uint8_t>(Rgb >> 16);
        }
      IO.SaveToFile(Path);
    }
    rv::RvDefaultGifLzwCompress = Saved;
  }

private:
  static void Decode(platform::TStream& Stream, int Height, int Width, std::uint8_t* Pixels, bool Interlaced) {
    TGatedReads::Get().Decoding();
    rv::GifLzwDecompress(Stream, Height, Width, Pixels, Interlaced);
  }

  rv::TGifLzwDecompressProc FReal;
};

} // namespace testsupport
