// What the side-by-side benchmarks share: a photograph-like test picture and
// libvips set up once, on one thread and without its operation cache, so
// that both sides do the same work.
#pragma once

#include <vips/vips.h> // before Qt: glib names a member "signals"

#include <gif_lib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/application.h"
#include "platform/registry.h"

namespace bench {

// Width x Height blue-green-red pixels: smooth gradients with some noise.
inline std::vector<std::uint8_t> PhotoLikeBytes(int Width, int Height, std::uint32_t Seed) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(Width) * Height * 3);
  std::uint32_t s = Seed;
  for (std::size_t i = 0; i < v.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    const std::size_t px = i / 3, x = px % Width, y = px / Width;
    v[i] = static_cast<std::uint8_t>((x / 24 + y / 16 + (i % 3) * 40 + (s >> 29)) & 255);
  }
  return v;
}

inline void InitVipsOnce() {
  static const bool done = [] {
    if (VIPS_INIT("pictrova_bench") != 0) vips_error_exit(nullptr);
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    return true;
  }();
  (void)done;
}

// A widget application on the offscreen platform, unless the program
// already has an application object.
inline void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "pictrova_bench";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The program's own application object: its allocator settings with it.
  new platform::TApplication(argc, argv);
}

// Writes the program's settings Name=Value into the key store of the folder
// set with platform::SetKeyStoreFolder, for a main window made after.
inline void WriteSettings(std::initializer_list<std::pair<const char*, const char*>> Settings) {
  platform::TRegistry Reg;
  Reg.SetRootKey(platform::HKEY_CURRENT_USER);
  Reg.OpenKey("\\Software\\Halvenworth\\Pictrova 3", true);
  for (const auto& [Name, Value] : Settings) Reg.WriteString(Name, Value);
}

// The longest time the event loop kept a 1 ms timer waiting between Start
// and Stop: how long the loop was blocked.
class TLoopBlockMeter {
public:
  TLoopBlockMeter() {
    FTicker.setInterval(1);
    QObject::connect(&FTicker, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    FLast = FLongest = 0;
    FTicker.start();
    FClock.start();
  }
  // Milliseconds.
  double Stop() {
    FTicker.stop();
    Tick();
    return static_cast<double>(FLongest) / 1e6;
  }

private:
  void Tick() {
    const qint64 now = FClock.nsecsElapsed();
    FLongest = std::max(FLongest, now - FLast);
    FLast = now;
  }
  QTimer FTicker;
  QElapsedTimer FClock;
  qint64 FLast = 0;
  qint64 FLongest = 0;
};

// giflib's input from bytes in memory.
struct TGifMemoryInput {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Pos;
};

inline int ReadGifMemory(GifFileType* Gif, GifByteType* Buffer, int Count) {
  auto* in = static_cast<TGifMemoryInput*>(Gif->UserData);
  const std::size_t n = std::min(static_cast<std::size_t>(Count), in->Size - in->Pos);
  std::memcpy(Buffer, in->Data + in->Pos, n);
  in->Pos += n;
  return static_cast<int>(n);
}

} // namespace bench
