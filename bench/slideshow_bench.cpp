// A slide show at one picture a second over 24-megapixel JPEGs in the real
// main window: the time from each tick to the next picture painted, beside a
// plain full-size decode of the same file (the floor); how far the ticks
// drift from the clock over the show; resident memory after 20 pictures and
// after 200 (it must not grow).
//
// Four pictures of 6000 x 4000 are written once into
// /tmp/pictrova_slideshow_bench; the folder holds them under eight names.
#include "bench_photos.h" // before Qt

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/folderview.h"
#include "app/mainform.h"
#include "image/io/rastrumio.h"
#include "image/views/rastrumview.h"
#include "platform/thread.h"

namespace {

const std::string Root = "/tmp/pictrova_slideshow_bench";
constexpr int PhotoW = 6000, PhotoH = 4000;

std::string MakeFolder() {
  ::mkdir(Root.c_str(), 0755);
  const std::string Dir = Root + "/show";
  ::mkdir(Dir.c_str(), 0755);
  for (int I = 0; I < 4; ++I) {
    const std::string Source = Root + "/source" + std::to_string(I) + ".jpg";
    bench::WritePhoto(Source, PhotoW, PhotoH, 31u + I);
    for (int Copy = 0; Copy < 2; ++Copy) {
      const std::string Name = Dir + "/p" + std::to_string(Copy * 4 + I) + ".jpg";
      if (!bench::FileExists(Name)) ::link(Source.c_str(), Name.c_str());
    }
  }
  return Dir;
}

// Catches the slide-show timer's ticks and the picture view's paints.
class TTickWatch : public QObject {
public:
  TTickWatch(app::TMainForm& Form) : FForm(Form) {
    Form.SlideShowTimer->installEventFilter(this);
    Form.RastrumView1->installEventFilter(this);
    FClock.start();
  }
  std::vector<double> Ticks, Latencies;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched == FForm.SlideShowTimer && Event->type() == QEvent::Timer) {
      Ticks.push_back(FClock.nsecsElapsed() / 1e6);
      FPending = true;
      FShownBefore = FForm.CurrentFilePath();
    } else if (Watched == FForm.RastrumView1 && Event->type() == QEvent::Paint && FPending &&
               FForm.CurrentFilePath() != FShownBefore && !FForm.PictureLoadPending()) {
      // The path changes when the read starts; the picture comes at its end.
      // Counted once the paint of the new picture has run.
      QTimer::singleShot(0, [this, Tick = Ticks.back()] { Latencies.push_back(FClock.nsecsElapsed() / 1e6 - Tick); });
      FPending = false;
    }
    return false;
  }

private:
  app::TMainForm& FForm;
  QElapsedTimer FClock;
  bool FPending = false;
  QString FShownBefore;
};

double Median(std::vector<double> V) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  return V[V.size() / 2];
}

void BM_SlideShowScenario(benchmark::State& State) {
  bench::EnsureApplication();
  const std::string Folder = MakeFolder();
  const int Pictures = static_cast<int>(State.range(0));
  QTemporaryDir Store;
  platform::SetKeyStoreFolder(Store.path().toStdString());
  bench::WriteSettings({{"SlideShowInterval", "1000"},
                        {"ImageTransitionEffect", "0"},
                        {"ShowSlideShowPrompt", "False"},
                        {"ShowFullScreenPrompt", "False"},
                        {"StopAtStart", "False"}});
  // The floor: the same files decoded at full size, nothing else.
  std::vector<double> Decodes;
  for (int I = 0; I < 4; ++I) {
    rv::TRastrumIO IO;
    QElapsedTimer T;
    T.start();
    IO.LoadFromFile(Folder + "/p" + std::to_string(I) + ".jpg");
    Decodes.push_back(T.nsecsElapsed() / 1e6);
  }
  for (auto _ : State) {
    app::TMainForm Form({}, nullptr);
    Form.resize(1280, 900);
    Form.show();
    Form.OpenFolderView(Folder);
    TTickWatch Watch(Form);
    double After20 = 0;
    Form.StartSlideShow();
    while (static_cast<int>(Watch.Latencies.size()) < Pictures) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      platform::CheckSynchronize();
      if (Watch.Latencies.size() == 20 && After20 == 0) After20 = bench::ResidentMB();
    }
    const double After = bench::ResidentMB();
    Form.StopSlideShow();
    const std::vector<double>& T = Watch.Ticks;
    double Drift = 0;
    for (std::size_t I = 1; I < T.size(); ++I) Drift = std::max(Drift, std::abs(T[I] - T[0] - 1000.0 * I));
    State.counters["tick_to_paint_ms"] = Median(Watch.Latencies);
    State.counters["tick_to_paint_max_ms"] = *std::max_element(Watch.Latencies.begin(), Watch.Latencies.end());
    State.counters["decode_floor_ms"] = Median(Decodes);
    State.counters["ratio_to_floor"] = Median(Watch.Latencies) / Median(Decodes);
    State.counters["drift_ms"] = Drift;
    State.counters["rss_after_20_MB"] = After20;
    State.counters["rss_after_all_MB"] = After;
  }
  platform::SetKeyStoreFolder("");
}

} // namespace

BENCHMARK(BM_SlideShowScenario)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
