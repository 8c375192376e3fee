// Pasting 1,000 small pictures from one folder view into another in the
// real main window, first copied, then moved, beside cp and mv of the same
// files between the same folders.
//
// Measured per run: the paste command until the target lists every file
// (copy) or until the source has let go of every row as well (move); the
// longest time the event loop was kept waiting meanwhile; cp and mv of the
// same files from a shell; and the ratios. The views follow the folders
// through their change notification as they would for a user; while the
// peers run the notification is off, so that the peers' files cost the views
// nothing.
#include "bench_support.h" // before Qt

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/folderview.h"
#include "app/mainform.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "shell/sxnotify.h"

namespace {

namespace fs = std::filesystem;

const std::string Root = "/tmp/pictrova_fileops_bench";

double Since(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
}

bool Pump(const std::function<bool()>& Done, double Ms) {
  const auto Start = std::chrono::steady_clock::now();
  while (!Done()) {
    if (Since(Start) > Ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    platform::CheckSynchronize();
  }
  return true;
}

// Count small PNG pictures (a few kilobytes each) in Folder.
void MakePictures(const std::string& Folder, int Count) {
  QImage Picture(64, 48, QImage::Format_RGB32);
  QByteArray Bytes;
  for (int I = 0; I < Count; ++I) {
    Picture.fill(QColor::fromHsv(I % 360, 200, 200));
    Bytes.clear();
    QBuffer Buffer(&Bytes);
    Buffer.open(QIODevice::WriteOnly);
    Picture.save(&Buffer, "PNG");
    char Name[32];
    std::snprintf(Name, sizeof Name, "/p%04d.png", I);
    std::ofstream(Folder + Name, std::ios::binary).write(Bytes.constData(), Bytes.size());
  }
}

void EmptyFolder(const std::string& Folder) {
  for (const auto& Entry : fs::directory_iterator(Folder)) fs::remove_all(Entry.path());
}

int FileCount(const std::string& Folder) {
  return static_cast<int>(std::distance(fs::directory_iterator(Folder), fs::directory_iterator()));
}

double Shell(const std::string& Command) {
  const auto Start = std::chrono::steady_clock::now();
  if (std::system(Command.c_str()) != 0) return -1;
  return Since(Start);
}

void BM_PasteBetweenFolderViews(benchmark::State& State) {
  bench::EnsureApplication();
  const int Count = static_cast<int>(State.range(0));
  fs::remove_all(Root);
  const std::string A = Root + "/a", B = Root + "/b";
  fs::create_directories(A);
  fs::create_directories(B);
  MakePictures(A, Count);
  QTemporaryDir Store;
  platform::SetKeyStoreFolder(Store.path().toStdString());
  {
    app::TMainForm Form({}, nullptr);
    Form.resize(1280, 900);
    Form.show();
    Form.OpenFolderView(A);
    app::TFolderViewForm* Source = Form.CurrentFolderView();
    Form.OpenFolderView(B);
    app::TFolderViewForm* Target = Form.CurrentFolderView();
    Pump([] { return false; }, 300);
    auto Watch = [&](bool On) {
      Source->SxShellNotify->SetActive(On);
      Target->SxShellNotify->SetActive(On);
    };
    // Back to the start: every file in a, both views listing their folder.
    auto Reset = [&] {
      Watch(false);
      EmptyFolder(B);
      if (FileCount(A) != Count) {
        EmptyFolder(A);
        MakePictures(A, Count);
      }
      Source->RefreshFolder(3, false);
      Target->RefreshFolder(3, false);
      Pump([] { return false; }, 100);
      Watch(true);
    };
    // The views have dealt with every change reported so far.
    auto Settled = [&] {
      return Source->SxShellNotify->QueuedEvents() == 0 && Target->SxShellNotify->QueuedEvents() == 0;
    };
    bench::TLoopBlockMeter Meter;
    for (auto _ : State) {
      Reset();
      Source->SelectAllFiles();
      Source->CopySelectedFiles();
      Meter.Start();
      auto Start = std::chrono::steady_clock::now();
      Target->PasteFiles();
      Pump([&] { return static_cast<int>(Target->Names().size()) == Count; }, 120000);
      const double Copy = Since(Start);
      Pump([] { return false; }, 50);
      Pump(Settled, 120000);
      const double CopySettled = Since(Start);
      const double CopyStall = Meter.Stop();
      const bool Copied = static_cast<int>(Target->Names().size()) == Count && FileCount(B) == Count;

      Reset();
      Source->SelectAllFiles();
      Source->CutSelectedFiles();
      Meter.Start();
      Start = std::chrono::steady_clock::now();
      Target->PasteFiles();
      Pump([&] { return static_cast<int>(Target->Names().size()) == Count && Source->Names().empty(); }, 120000);
      const double Move = Since(Start);
      Pump([] { return false; }, 50);
      Pump(Settled, 120000);
      const double MoveSettled = Since(Start);
      const double MoveStall = Meter.Stop();
      const bool Moved = Source->Names().empty() && FileCount(B) == Count && FileCount(A) == 0;
      if (!Copied || !Moved) {
        std::fprintf(stderr, "target %zu source %zu in a %d in b %d; copy %.0f ms move %.0f ms\n", Target->Names().size(),
                     Source->Names().size(), FileCount(A), FileCount(B), Copy, Move);
        State.SkipWithError("the paste did not carry every file");
      }

      Watch(false);
      EmptyFolder(B);
      if (FileCount(A) != Count) MakePictures(A, Count);
      const double Cp = Shell("cp -- '" + A + "'/*.png '" + B + "'/");
      EmptyFolder(B);
      const double Mv = Shell("mv -- '" + A + "'/*.png '" + B + "'/");
      if (Cp < 0 || Mv < 0) State.SkipWithError("cp or mv failed");
      Shell("mv -- '" + B + "'/*.png '" + A + "'/");

      State.SetIterationTime((Copy + Move) / 1000);
      State.counters["files"] = Count;
      State.counters["copy_paste_ms"] = Copy;
      State.counters["cp_ms"] = Cp;
      State.counters["x_cp"] = Cp > 0 ? Copy / Cp : 0;
      State.counters["move_paste_ms"] = Move;
      State.counters["mv_ms"] = Mv;
      State.counters["x_mv"] = Mv > 0 ? Move / Mv : 0;
      State.counters["copy_settled_ms"] = CopySettled;
      State.counters["move_settled_ms"] = MoveSettled;
      State.counters["stall_copy_ms"] = CopyStall;
      State.counters["stall_move_ms"] = MoveStall;
    }
    Watch(false);
  }
  platform::SetKeyStoreFolder("");
  fs::remove_all(Root);
}
BENCHMARK(BM_PasteBetweenFolderViews)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
