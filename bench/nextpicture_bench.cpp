// The next picture in the real main window, as the Right key asks for it:
// the time from the command to the new picture swapped in, over a folder of
// 2560 x 1600 JPEGs (eight pictures under sixteen names, written once into
// /tmp/pictrova_nextpicture_bench), without a transition; and the resident
// memory after the walk.
#include "bench_photos.h" // before Qt

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/mainform.h"
#include "platform/thread.h"

namespace {

std::string MakeFolder() {
  const std::string Root = "/tmp/pictrova_nextpicture_bench";
  ::mkdir(Root.c_str(), 0755);
  const std::string Dir = Root + "/walk";
  ::mkdir(Dir.c_str(), 0755);
  for (int I = 0; I < 8; ++I) {
    const std::string Source = Root + "/source" + std::to_string(I) + ".jpg";
    bench::WritePhoto(Source, 2560, 1600, 71u + I);
    for (int Copy = 0; Copy < 2; ++Copy) {
      const std::string Name = Dir + "/p" + std::to_string(Copy * 8 + I) + ".jpg";
      if (!bench::FileExists(Name)) ::link(Source.c_str(), Name.c_str());
    }
  }
  return Dir;
}

void Serve(const std::function<bool()>& Done) {
  while (!Done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    platform::CheckSynchronize();
  }
}

void BM_NextPicture(benchmark::State& State) {
  bench::EnsureApplication();
  const std::string Folder = MakeFolder();
  QTemporaryDir Store;
  platform::SetKeyStoreFolder(Store.path().toStdString());
  bench::WriteSettings({{"ImageTransitionEffect", "0"}});
  app::TMainForm Form({}, nullptr);
  Form.resize(1280, 900);
  Form.show();
  Form.OpenPath(Folder + "/p0.jpg", false);
  Serve([&] { return Form.HasImage() && !Form.PictureLoadPending(); });
  std::vector<double> Moves;
  for (auto _ : State) {
    const QString Before = Form.CurrentFileName();
    QElapsedTimer T;
    T.start();
    Form.NextImage();
    Serve([&] { return Form.CurrentFileName() != Before && !Form.PictureLoadPending(); });
    Moves.push_back(T.nsecsElapsed() / 1e6);
  }
  std::sort(Moves.begin(), Moves.end());
  State.counters["median_ms"] = Moves[Moves.size() / 2];
  State.counters["rss_after_MB"] = bench::ResidentMB();
  platform::SetKeyStoreFolder("");
}

} // namespace

BENCHMARK(BM_NextPicture)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();
