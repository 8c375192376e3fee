// The folder list on a folder of 10,000 files of mixed types and 100
// folders, side by side with a QListView (and a QTreeView for the details)
// over QFileSystemModel on the same folder: time to the first screen
// painted, to the whole list, the longest block of the user-interface
// thread (a 1 ms timer's longest gap) and the heap the loaded view holds. Then sorting by each column and reversing, and 1,000 files made
// by another process while the folder is shown.
#include "bench_support.h" // before Qt, as libvips needs

#include <benchmark/benchmark.h>

#include "shell/sxshelllist.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtGui/QFileSystemModel>
#include <QtWidgets/QApplication>
#include <QtWidgets/QListView>
#include <QtWidgets/QTreeView>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <malloc.h>
#include <fstream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 10000;
constexpr int kFolders = 100;
constexpr int kMade = 1000;
constexpr int kScreenRows = 40;

void App() { bench::EnsureApplication(); }

// A private home holding the folder, so that nothing of the real home is
// touched and changes are told without a look at the mount table.
const std::string& BigFolder() {
  static const std::string dir = [] {
    const std::string root = "/tmp/pictrova_shellbench_" + std::to_string(::getpid());
    const std::string home = root + "/home";
    const std::string big = home + "/big";
    QDir().mkpath(QString::fromStdString(big));
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    static const char* const kinds[] = {".jpg", ".png", ".txt", ".pdf", ".mp3", ".cpp", ".zip", ".qqzz", "", ".html"};
    for (int i = 0; i < kFiles; ++i) {
      const std::string path = big + "/file" + std::to_string(i) + kinds[i % 10];
      const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      if (fd >= 0) {
        const std::string body(static_cast<std::size_t>(i % 5000), 'x');
        if (::write(fd, body.data(), body.size()) < 0) std::perror("write");
        ::close(fd);
      }
    }
    for (int i = 0; i < kFolders; ++i) QDir().mkpath(QString::fromStdString(big + "/folder" + std::to_string(i)));
    std::atexit([] { std::system(("rm -rf /tmp/pictrova_shellbench_" + std::to_string(::getpid())).c_str()); });
    return big;
  }();
  return dir;
}

// The heap in use: what a view holds while alive, whatever the allocator
// keeps from earlier runs.
long HeapKb() { return static_cast<long>(::mallinfo2().uordblks / 1024); }

// Runs the event loop until done() holds; measures how long the loop was
// blocked at most and notes when the watched viewport first painted a
// screenful of rows.
struct TRun {
  double FirstScreenMs = -1, WholeMs = 0, LongestMs = 0;

  void Go(const std::function<void()>& start, const std::function<bool()>& done, QWidget* viewport,
          const std::function<int()>& rows) {
    QEventLoop loop;
    QElapsedTimer clock;
    bench::TLoopBlockMeter meter;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (done()) loop.quit();
    });
    struct TPaints : QObject {
      std::function<void()> OnPaint;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && OnPaint) OnPaint();
        return false;
      }
    } paints;
    paints.OnPaint = [&] {
      if (FirstScreenMs < 0 && rows() >= kScreenRows) FirstScreenMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    };
    if (viewport) viewport->installEventFilter(&paints);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(60000);
    meter.Start();
    poll.start();
    clock.start();
    QTimer::singleShot(0, start);
    loop.exec();
    poll.stop();
    LongestMs = meter.Stop();
    WholeMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    // The first screen may need the paint after the last rows came.
    while (viewport && FirstScreenMs < 0 && clock.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (viewport) viewport->removeEventFilter(&paints);
  }
};

// Means over the iterations; the longest block is the longest of all.
struct TTotals {
  double First = 0, Whole = 0, Longest = 0, Heap = 0;
  int N = 0;
  void Add(const TRun& run, long heapKb) {
    First += run.FirstScreenMs;
    Whole += run.WholeMs;
    Longest = std::max(Longest, run.LongestMs);
    Heap += static_cast<double>(heapKb);
    ++N;
  }
  void Report(benchmark::State& state) const {
    if (N == 0) return;
    state.counters["first_screen_ms"] = First / N;
    state.counters["whole_ms"] = Whole / N;
    state.counters["max_block_ms"] = Longest;
    state.counters["heap_mb"] = Heap / N / 1024.0;
  }
};

// Both sides start warm: the MIME database, the icon theme and the fonts
// are read once before anything is measured.
void WarmUp() {
  static const bool done = [] {
    const std::string dir = BigFolder();
    sx::TSxShellListView list;
    list.SetViewStyle(sx::vsReport);
    list.show();
    list.SetRootFolder(dir);
    while (list.Loading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QFileSystemModel model;
    QTreeView view;
    view.setModel(&model);
    view.show();
    const QString path = QString::fromStdString(dir);
    view.setRootIndex(model.setRootPath(path));
    QElapsedTimer t;
    t.start();
    while (model.rowCount(model.index(path)) < kFiles + kFolders && t.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return true;
  }();
  (void)done;
}

void FolderList(benchmark::State& state, sx::TViewStyle style) {
  App();
  const std::string dir = BigFolder();
  WarmUp();
  TTotals totals;
  for (auto _ : state) {
    const long before = HeapKb();
    auto list = std::make_unique<sx::TSxShellListView>();
    list->resize(800, 600);
    list->SetViewStyle(style);
    list->show();
    TRun run;
    run.Go([&] { list->SetRootFolder(dir); },
           [&] { return !list->Loading() && list->RowCount() == kFiles + kFolders; }, list->ActiveView()->viewport(),
           [&] { return list->RowCount(); });
    if (list->RowCount() != kFiles + kFolders) state.SkipWithError("not all rows came");
    totals.Add(run, HeapKb() - before);
  }
  totals.Report(state);
}

// The peer: a view over QFileSystemModel, shown.
template <class TView>
struct TPeer {
  explicit TPeer(const std::string& dir) : Path(QString::fromStdString(dir)) {
    View.setModel(&Model);
    View.resize(800, 600);
    View.show();
    QObject::connect(&Model, &QFileSystemModel::directoryLoaded, [this](const QString&) { Loaded = true; });
  }
  void Start() { View.setRootIndex(Model.setRootPath(Path)); }
  int Rows() const { return Model.rowCount(Model.index(Path)); }
  QString Path;
  QFileSystemModel Model;
  TView View;
  bool Loaded = false;
};

template <class TView>
void FileSystemModel(benchmark::State& state) {
  App();
  const std::string dir = BigFolder();
  WarmUp();
  TTotals totals;
  for (auto _ : state) {
    const long before = HeapKb();
    auto peer = std::make_unique<TPeer<TView>>(dir);
    TRun run;
    run.Go([&] { peer->Start(); }, [&] { return peer->Loaded && peer->Rows() == kFiles + kFolders; },
           peer->View.viewport(), [&] { return peer->Rows(); });
    totals.Add(run, HeapKb() - before);
  }
  totals.Report(state);
}

void BM_FolderList10000_List(benchmark::State& state) { FolderList(state, sx::vsList); }
void BM_QFileSystemModel10000_QListView(benchmark::State& state) { FileSystemModel<QListView>(state); }
void BM_FolderList10000_Details(benchmark::State& state) { FolderList(state, sx::vsReport); }
void BM_QFileSystemModel10000_QTreeView(benchmark::State& state) { FileSystemModel<QTreeView>(state); }
BENCHMARK(BM_FolderList10000_List)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QFileSystemModel10000_QListView)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FolderList10000_Details)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QFileSystemModel10000_QTreeView)->Unit(benchmark::kMillisecond)->Iterations(3);

// One list in details, loaded once, for the sorting runs.
sx::TSxShellListView& LoadedList() {
  static sx::TSxShellListView* list = [] {
    App();
    auto* l = new sx::TSxShellListView;
    l->resize(800, 600);
    l->SetViewStyle(sx::vsReport);
    l->show();
    l->SetRootFolder(BigFolder());
    while (l->Loading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return l;
  }();
  return *list;
}

void BM_FolderListSort(benchmark::State& state) {
  sx::TSxShellListView& list = LoadedList();
  const int column = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    list.ColClick(column == 0 ? 1 : 0);
    QCoreApplication::processEvents();
    state.ResumeTiming();
    list.ColClick(column);
  }
}
BENCHMARK(BM_FolderListSort)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FolderListReverse(benchmark::State& state) {
  sx::TSxShellListView& list = LoadedList();
  const int column = static_cast<int>(state.range(0));
  list.ColClick(column == 0 ? 1 : 0);
  list.ColClick(column);
  for (auto _ : state) list.ColClick(column);
}
BENCHMARK(BM_FolderListReverse)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(5);

// Another process makes 1,000 files in the folder shown once told to start;
// the run ends when the list shows them all. The process is
// forked beforehand: copying this process's page tables is no work of the
// view, and would count as a block of its loop.
struct TMaker {
  pid_t Child = -1;
  int StartPipe = -1;
};

TMaker MakeFilesElsewhere(const std::string& dir, const char* prefix) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[1]);
    char go = 0;
    if (::read(fds[0], &go, 1) != 1) _exit(1);
    for (int i = 0; i < kMade; ++i) {
      const std::string path = dir + "/" + prefix + std::to_string(i) + ".txt";
      const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      if (fd >= 0) {
        if (::write(fd, "made", 4) < 0) _exit(1);
        ::close(fd);
      }
    }
    _exit(0);
  }
  ::close(fds[0]);
  if (child < 0) {
    ::close(fds[1]);
    return {};
  }
  return {child, fds[1]};
}

void Start(TMaker& maker) {
  if (maker.StartPipe < 0) return;
  if (::write(maker.StartPipe, "g", 1) != 1) std::perror("write");
  ::close(maker.StartPipe);
  maker.StartPipe = -1;
}

void Reap(pid_t child) {
  int status = 0;
  if (child > 0) ::waitpid(child, &status, 0);
}

void RemoveMade(const std::string& dir, const char* prefix) {
  for (int i = 0; i < kMade; ++i) ::unlink((dir + "/" + prefix + std::to_string(i) + ".txt").c_str());
}

// Show() makes and loads a view and answers how many rows it shows now.
void MadeElsewhere(benchmark::State& state, const char* prefix,
                   const std::function<std::function<int()>(std::shared_ptr<void>&)>& show) {
  App();
  const std::string dir = BigFolder();
  double whole = 0, longest = 0;
  for (auto _ : state) {
    std::shared_ptr<void> view;
    const std::function<int()> rows = show(view);
    TMaker maker = MakeFilesElsewhere(dir, prefix);
    if (maker.Child < 0) {
      state.SkipWithError("no process to make the files");
      break;
    }
    TRun run;
    run.Go([&] { Start(maker); }, [&] { return rows() == kFiles + kFolders + kMade; }, nullptr, {});
    Start(maker); // a run that ended early still lets the process finish
    Reap(maker.Child);
    if (rows() != kFiles + kFolders + kMade) state.SkipWithError("not all files came");
    whole = std::max(whole, run.WholeMs);
    longest = std::max(longest, run.LongestMs);
    view.reset();
    RemoveMade(dir, prefix);
  }
  state.counters["shown_ms"] = whole;
  state.counters["max_block_ms"] = longest;
}

void BM_FolderList1000MadeElsewhere(benchmark::State& state) {
  MadeElsewhere(state, "made", [](std::shared_ptr<void>& view) -> std::function<int()> {
    auto list = std::make_shared<sx::TSxShellListView>();
    list->resize(800, 600);
    list->SetViewStyle(sx::vsList);
    list->show();
    list->SetRootFolder(BigFolder());
    while (list->Loading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    view = list;
    sx::TSxShellListView* l = list.get();
    return [l] { return l->Loading() ? -1 : l->RowCount(); };
  });
}
BENCHMARK(BM_FolderList1000MadeElsewhere)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_QFileSystemModel1000MadeElsewhere(benchmark::State& state) {
  MadeElsewhere(state, "peer", [](std::shared_ptr<void>& view) -> std::function<int()> {
    auto peer = std::make_shared<TPeer<QListView>>(BigFolder());
    peer->Start();
    while (!peer->Loaded || peer->Rows() != kFiles + kFolders) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    view = peer;
    TPeer<QListView>* p = peer.get();
    return [p] { return p->Rows(); };
  });
}
BENCHMARK(BM_QFileSystemModel1000MadeElsewhere)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
