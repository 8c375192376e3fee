// Opening a folder of 10,000 (and 100,000) 24-megapixel pictures in the real main window,
// beside what a user could pick instead: vipsthumbnail making the
// thumbnails of the same first screen, and a plain QFileSystemModel listing
// of the same folder.
//
// Measured, once per run: the open command itself (listing, the first
// picture shown), the time until the first screen of thumbnails has its
// pixels, the longest time the event loop was kept waiting while the strip
// and the details list fill (the strip scrolled meanwhile, as a user would),
// the time until every row has its dimensions, and resident memory.
//
// The pictures (8 JPEGs and 8 PNGs, 6000 x 4000) are written once into
// /tmp/pictrova_folder_bench; the folder's 10,000 names are hard links to
// them, so every file is a real 24-megapixel picture.
#include "bench_support.h" // before Qt

#include <benchmark/benchmark.h>

#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/folderview.h"
#include "app/mainform.h"
#include "image/io/rastrumio.h"
#include "image/views/rvmview.h"
#include "platform/registry.h"
#include "platform/thread.h"

namespace {

const std::string Root = "/tmp/pictrova_folder_bench";
constexpr int PhotoW = 6000, PhotoH = 4000, Sources = 8;

bool Exists(const std::string& Path) {
  struct stat St {};
  return ::stat(Path.c_str(), &St) == 0 && St.st_size > 0;
}

// The folder of Count names, JPEG and PNG in turn.
std::string MakeFolder(int Count) {
  ::mkdir(Root.c_str(), 0755);
  std::vector<std::string> Sourced;
  for (int I = 0; I < 2 * Sources; ++I) {
    const bool Jpeg = I % 2 == 0;
    const std::string Name = Root + "/source" + std::to_string(I) + (Jpeg ? ".jpg" : ".png");
    if (!Exists(Name)) {
      rv::TRastrumIO IO;
      rv::TRvBitmap& B = *IO.RvBitmap();
      B.Allocate(PhotoW, PhotoH, rv::rvpf24Bit);
      const std::vector<std::uint8_t> Bytes = bench::PhotoLikeBytes(PhotoW, PhotoH, 11u + I);
      for (int Y = 0; Y < PhotoH; ++Y)
        std::memcpy(B.Scanline(Y), Bytes.data() + static_cast<std::size_t>(Y) * PhotoW * 3, PhotoW * 3);
      IO.Params().JpegQuality = 85;
      IO.Params().PngCompression = 3;
      IO.SaveToFile(Name);
    }
    Sourced.push_back(Name);
  }
  const std::string Dir = Root + "/folder" + std::to_string(Count);
  ::mkdir(Dir.c_str(), 0755);
  for (int I = 0; I < Count; ++I) {
    const std::string& Source = Sourced[static_cast<std::size_t>(I) % Sourced.size()];
    char Name[32];
    std::snprintf(Name, sizeof Name, Count > 99999 ? "/p%06d" : "/p%05d", I);
    const std::string Path = Dir + Name + Source.substr(Source.size() - 4);
    if (!Exists(Path)) ::link(Source.c_str(), Path.c_str());
  }
  return Dir;
}

double ResidentMB() {
  std::ifstream Statm("/proc/self/statm");
  long Pages = 0, Resident = 0;
  Statm >> Pages >> Resident;
  return Resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

double Since(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
}

// Serves events and the loader's synchronised calls until Done or Ms pass.
bool Pump(const std::function<bool()>& Done, double Ms, const std::function<void()>& Each = {}) {
  const auto Start = std::chrono::steady_clock::now();
  while (!Done()) {
    if (Since(Start) > Ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    platform::CheckSynchronize();
    if (Each) Each();
  }
  return true;
}

// The longest time the user-interface thread worked without serving a 1 ms
// timer: its own processor time between two ticks, so that a wait for the
// processor on a busy machine does not count as work of ours (the wall-clock
// gaps are reported beside it).
class TBusyMeter {
public:
  TBusyMeter() {
    FTicker.setInterval(1);
    QObject::connect(&FTicker, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    FLongest = 0;
    FLast = ThreadCpuMs();
    FTicker.start();
  }
  double Stop() {
    FTicker.stop();
    Tick();
    return FLongest;
  }

private:
  static double ThreadCpuMs() {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return T.tv_sec * 1e3 + T.tv_nsec / 1e6;
  }
  void Tick() {
    const double Now = ThreadCpuMs();
    FLongest = std::max(FLongest, Now - FLast);
    FLast = Now;
  }
  QTimer FTicker;
  double FLast = 0, FLongest = 0;
};

bool FirstScreenLoaded(rv::TRastrumMView& Strip, std::vector<std::string>* Files = nullptr) {
  // A large folder's names arrive after the open returned.
  bool All = Strip.ImageCount() > 0;
  for (int I = 0; I < Strip.ImageCount(); ++I) {
    if (Strip.ImageVisibility(I) == 0) {
      if (I > 0 && Strip.ImageVisibility(I - 1) != 0) break;
      continue;
    }
    if (Files) Files->push_back(Strip.ImageFileName(I));
    if (!Strip.ImageHasPixels(I) && !Strip.ImageLoadFailed(I)) All = false;
  }
  return All;
}

void BM_OpenFolderScenario(benchmark::State& State) {
  bench::EnsureApplication();
  const int Count = static_cast<int>(State.range(0));
  const std::string Folder = MakeFolder(Count);
  QTemporaryDir Store;
  platform::SetKeyStoreFolder(Store.path().toStdString());
  for (auto _ : State) {
    app::TMainForm Form({}, nullptr);
    Form.resize(1280, 900);
    Form.show();
    Pump([] { return false; }, 200);
    bench::TLoopBlockMeter Meter;
    TBusyMeter Busy;

    const auto Start = std::chrono::steady_clock::now();
    Form.OpenFolderView(Folder);
    const double OpenCall = Since(Start);
    app::TFolderViewForm* View = Form.CurrentFolderView();
    rv::TRastrumMView& Strip = *View->ThumbView;
    Meter.Start();
    Busy.Start();
    Pump([&] { return FirstScreenLoaded(Strip); }, 60000);
    const double FirstScreen = Since(Start);
    const double FirstScreenStall = Meter.Stop();
    const double FirstScreenBusy = Busy.Stop();
    const double FirstScreenResident = ResidentMB();
    std::vector<std::string> Shown;
    FirstScreenLoaded(Strip, &Shown);

    // The fill: every row's dimensions; for its first three seconds the strip
    // may be stepped along half a screen at a time, as a user looking around.
    Meter.Start();
    Busy.Start();
    const auto FillStart = std::chrono::steady_clock::now();
    auto LastScroll = FillStart;
    auto AllDetails = [&] {
      if (View->Rows().Count() < Count) return false;
      for (int I = 0; I < View->Rows().Count(); ++I)
        if (!View->Rows().Row(I).DetailsDone) return false;
      return true;
    };
    const bool Filled = Pump(AllDetails, 900000, [&] {
      if (State.range(1) == 0 || Since(LastScroll) < 100 || Since(FillStart) > 3000) return;
      LastScroll = std::chrono::steady_clock::now();
      Strip.SetViewX(Strip.ViewX() + Strip.ClientWidth() / 2);
    });
    const double Details = Since(Start);
    const double FillStall = Meter.Stop();
    const double FillBusy = Busy.Stop();
    int Done = 0;
    for (int I = 0; I < View->Rows().Count(); ++I) Done += View->Rows().Row(I).DetailsDone ? 1 : 0;
    State.counters["rows_filled"] = Done;
    if (!Filled) State.SkipWithError("the dimensions were not all filled");
    State.SetIterationTime(FirstScreen / 1000);

    // The peers on the same files on the same machine.
    double Vips = 0;
    if (std::system("command -v vipsthumbnail >/dev/null 2>&1") == 0 && !Shown.empty()) {
      std::string Command = "vipsthumbnail --size 96x72 -o '" + Root + "/vips_%s.jpg'";
      for (const std::string& F : Shown) Command += " '" + F + "'";
      const auto VipsStart = std::chrono::steady_clock::now();
      if (std::system(Command.c_str()) != 0) State.SkipWithError("vipsthumbnail failed");
      Vips = Since(VipsStart);
    }
    QFileSystemModel Model;
    bool Loaded = false;
    QObject::connect(&Model, &QFileSystemModel::directoryLoaded, [&](const QString&) { Loaded = true; });
    const auto ListStart = std::chrono::steady_clock::now();
    const QModelIndex Root = Model.setRootPath(QString::fromStdString(Folder));
    Pump([&] { return Loaded && Model.rowCount(Root) >= Count; }, 60000);
    const double Listing = Since(ListStart);
    const auto OwnListStart = std::chrono::steady_clock::now();
    const std::size_t Listed = app::ScanPictureFiles(Folder).size();
    const double OwnListing = Since(OwnListStart);

    State.counters["files"] = static_cast<double>(View->Names().size());
    State.counters["open_call_ms"] = OpenCall;
    State.counters["first_screen_ms"] = FirstScreen;
    State.counters["first_screen_thumbs"] = static_cast<double>(Shown.size());
    State.counters["stall_first_screen_ms"] = FirstScreenStall;
    State.counters["stall_fill_ms"] = FillStall;
    State.counters["busy_first_screen_ms"] = FirstScreenBusy;
    State.counters["busy_fill_ms"] = FillBusy;
    State.counters["all_dimensions_ms"] = Details;
    State.counters["resident_MB"] = ResidentMB();
    State.counters["resident_first_screen_MB"] = FirstScreenResident;
    State.counters["vips_first_screen_ms"] = Vips;
    State.counters["x_vips"] = Vips > 0 ? FirstScreen / Vips : 0;
    State.counters["qfsmodel_listing_ms"] = Listing;
    State.counters["own_listing_ms"] = OwnListing;
    State.counters["x_qfsmodel_listing"] = Listing > 0 ? OwnListing / Listing : 0;
    benchmark::DoNotOptimize(Listed);
  }
  platform::SetKeyStoreFolder("");
}
// Args: the number of files; whether the strip is scrolled during the fill.
// The 100,000-file case shows that opening does not grow with the folder:
// first screen and memory against the 10,000-file runs.
BENCHMARK(BM_OpenFolderScenario)->Args({10000, 0})->Args({10000, 1})->Args({100000, 0})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
