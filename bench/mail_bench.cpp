// The e-mail wizard's reduction of large photographs beside ImageMagick's
// convert doing the same resizes, and the GIF picture class's decoding
// beside giflib's DGifSlurp on the same files.
#include "bench_support.h"

#include "app/emailsizedlg.h"
#include "controls/support/wngif/wngif.h"
#include "platform/stream.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------ mail

constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000, kPhotoCount = 20;

struct TPhotos {
  QTemporaryDir Folder;
  QStringList Paths;
};

// Twenty 24-megapixel JPEGs (links to one file: the same bytes for both
// sides, read from the page cache).
const TPhotos& Photos() {
  static TPhotos* photos = [] {
    auto* p = new TPhotos;
    const std::vector<std::uint8_t> bgr = bench::PhotoLikeBytes(kPhotoWidth, kPhotoHeight, 11);
    const QImage image(bgr.data(), kPhotoWidth, kPhotoHeight, kPhotoWidth * 3, QImage::Format_BGR888);
    const QString first = p->Folder.path() + "/photo00.jpg";
    image.save(first, "JPG", 90);
    p->Paths << first;
    for (int i = 1; i < kPhotoCount; ++i) {
      const QString path = p->Folder.path() + QStringLiteral("/photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
      std::filesystem::create_hard_link(first.toStdString(), path.toStdString());
      p->Paths << path;
    }
    return p;
  }();
  return *photos;
}

void BM_EmailReduce_Pictrova(benchmark::State& State) {
  bench::EnsureApplication();
  const TPhotos& photos = Photos();
  app::TEmailSizeDlg dialog;
  dialog.SetSpeedIndex(1); // "Medium"
  std::vector<std::string> paths;
  for (const QString& path : photos.Paths) paths.push_back(path.toStdString());
  dialog.StartWithFiles(paths);
  QTemporaryDir work;
  app::TEmailOptimization result;
  for (auto _ : State) {
    State.PauseTiming();
    QDir(work.path()).removeRecursively();
    QDir().mkpath(work.path());
    State.ResumeTiming();
    result = dialog.Optimize(work.path().toStdString(), nullptr);
  }
  if (result.Attachments.size() != kPhotoCount || result.Error) State.SkipWithError("reduction failed");
  State.SetLabel(result.Results.value(0).toStdString());
  State.counters["files"] = kPhotoCount;
}
BENCHMARK(BM_EmailReduce_Pictrova)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_EmailReduce_ImageMagick(benchmark::State& State) {
  const TPhotos& photos = Photos();
  // The sizes the wizard chooses for "Medium".
  const double factor = app::EmailScaleFactor(1.5 * app::EmailSizeLimit(1) / QFileInfo(photos.Paths[0]).size());
  const QString size = QStringLiteral("%1x%2!")
                           .arg(std::lrint(kPhotoWidth * factor))
                           .arg(std::lrint(kPhotoHeight * factor));
  QTemporaryDir work;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MAGICK_THREAD_LIMIT", "1");
  int failures = 0;
  for (auto _ : State)
    for (const QString& path : photos.Paths) {
      QProcess convert;
      convert.setProcessEnvironment(env);
      convert.start("convert", {path, "-resize", size, "-quality", "80",
                                work.path() + "/" + QFileInfo(path).fileName()});
      if (!convert.waitForFinished(120000) || convert.exitCode() != 0) ++failures;
    }
  if (failures > 0) State.SkipWithError("convert failed");
  State.SetLabel(size.toStdString());
}
BENCHMARK(BM_EmailReduce_ImageMagick)->Unit(benchmark::kMillisecond)->Iterations(2);

// ------------------------------------------------------------ GIF

// A palette picture with flat areas, edges and noise, as drawings and
// screenshots have.
std::unique_ptr<platform::TBitmap> Drawing(int Width, int Height, unsigned Seed) {
  auto bitmap = std::make_unique<platform::TBitmap>(Width, Height, platform::pf8bit);
  platform::TBitmap& b = *bitmap;
  const std::vector<std::uint8_t> photo = bench::PhotoLikeBytes(Width, Height, Seed);
  for (int y = 0; y < Height; ++y) {
    std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < Width; ++x) {
      const std::uint8_t* p = &photo[(static_cast<std::size_t>(y) * Width + x) * 3];
      row[x] = static_cast<std::uint8_t>(((x / 40 + y / 30) % 2 == 0) ? (p[0] & 0xF0) | (p[1] >> 4) : (x / 97) * 5);
    }
  }
  return bitmap;
}

Bytes GifOf(const std::vector<std::unique_ptr<platform::TBitmap>>& Frames) {
  wn::TWnGIFImage gif;
  for (const auto& frame : Frames) gif.AddFrame(frame.get());
  gif.Looping = Frames.size() > 1;
  platform::TMemoryStream s;
  gif.SaveToStream(s);
  return s.Data();
}

const Bytes& LargeGif() {
  static const Bytes file = [] {
    std::vector<std::unique_ptr<platform::TBitmap>> frames;
    frames.push_back(Drawing(4000, 3000, 1));
    return GifOf(frames);
  }();
  return file;
}

constexpr int kAnimWidth = 480, kAnimHeight = 360, kAnimFrames = 100;

const Bytes& Animation() {
  static const Bytes file = [] {
    std::vector<std::unique_ptr<platform::TBitmap>> frames;
    for (int i = 0; i < kAnimFrames; ++i) frames.push_back(Drawing(kAnimWidth, kAnimHeight, static_cast<unsigned>(i)));
    return GifOf(frames);
  }();
  return file;
}

void GifDecode_Ours(benchmark::State& State, const Bytes& (*File)()) {
  const Bytes& file = File();
  std::int64_t bytes = 0;
  for (auto _ : State) {
    wn::TWnGIFImage gif;
    platform::TBytesStream s(file.data(), static_cast<std::int64_t>(file.size()));
    gif.LoadFromStream(s);
    bytes = 0;
    for (int i = 0; i < gif.FrameCount(); ++i) {
      const platform::TBitmap* b = gif.Frame(i)->GetBitmap();
      bytes += static_cast<std::int64_t>(b->Image().sizeInBytes()) + gif.Frame(i)->Item().ImageData->Size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  State.counters["MB held"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK_CAPTURE(GifDecode_Ours, Large4000x3000, LargeGif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GifDecode_Ours, Animation100, Animation)->Unit(benchmark::kMillisecond);

void GifDecode_Giflib(benchmark::State& State, const Bytes& (*File)()) {
  const Bytes& file = File();
  std::int64_t bytes = 0;
  for (auto _ : State) {
    bench::TGifMemoryInput in{file.data(), file.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, bench::ReadGifMemory, &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) {
      State.SkipWithError("giflib failed");
      break;
    }
    bytes = 0;
    for (int i = 0; i < gif->ImageCount; ++i)
      bytes += static_cast<std::int64_t>(gif->SavedImages[i].ImageDesc.Width) * gif->SavedImages[i].ImageDesc.Height;
    DGifCloseFile(gif, &error);
  }
  State.counters["MB held"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK_CAPTURE(GifDecode_Giflib, Large4000x3000, LargeGif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GifDecode_Giflib, Animation100, Animation)->Unit(benchmark::kMillisecond);

} // namespace
