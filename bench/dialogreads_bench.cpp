// The longest time the dialogs hold the event loop while they read a
// 12000 x 12000 PNG of 16-bit samples (a megabyte of file that takes seconds
// to decode): the Save As and Open Image Folder previews from the dialog's
// showing until the picture's dimensions are shown, and the e-mail wizard's
// "Send Email" until its results are shown.
#include "bench_support.h"

#include "app/emailsizedlg.h"
#include "app/helpdlg.h"
#include "app/msgbox.h"
#include "app/openfolderdlg.h"
#include "app/saveasform.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"
#include "shell/sxshelllist.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 12000;

// A folder of the slow picture alone, and a key store of the benchmark's own.
struct TSlowFolder {
  QTemporaryDir Folder;
  QTemporaryDir Keys;
  std::string Picture;
};

const TSlowFolder& SlowFolder() {
  static TSlowFolder* slow = [] {
    auto* s = new TSlowFolder;
    s->Picture = s->Folder.path().toStdString() + "/slow.png";
    std::FILE* file = std::fopen(s->Picture.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, kSide, kSide, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // #00C000, big-endian samples.
    std::vector<png_byte> row(static_cast<std::size_t>(kSide) * 6);
    for (std::size_t x = 0; x < row.size(); x += 6) row[x + 2] = row[x + 3] = 0xC0;
    for (int y = 0; y < kSide; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    platform::SetKeyStoreFolder(s->Keys.path().toStdString());
    return s;
  }();
  return *slow;
}

// Runs the event loop from Start until Done answers true; the longest
// block in milliseconds.
double LongestBlock(const std::function<void()>& Start, const std::function<bool()>& Done) {
  bench::TLoopBlockMeter meter;
  meter.Start();
  QTimer::singleShot(0, Start);
  while (!Done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return meter.Stop();
}

void Report(benchmark::State& State, double Worst) { State.counters["max_block_ms"] = Worst; }

void BM_SaveAsPreviewStall(benchmark::State& State) {
  bench::EnsureApplication();
  const TSlowFolder& slow = SlowFolder();
  double worst = 0;
  for (auto _ : State) {
    app::TSaveAsForm form;
    form.Prepare(slow.Picture, false);
    while (form.SxShellList->Loading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worst = std::max(worst, LongestBlock([&] { form.show(); }, [&] {
                       return form.isVisible() && form.LblDimensions->text().endsWith("12000");
                     }));
  }
  Report(State, worst);
}
BENCHMARK(BM_SaveAsPreviewStall)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_OpenFolderPreviewStall(benchmark::State& State) {
  bench::EnsureApplication();
  const TSlowFolder& slow = SlowFolder();
  double worst = 0;
  for (auto _ : State) {
    app::TOpenFolderForm dialog({slow.Folder.path().toStdString()});
    worst = std::max(worst, LongestBlock([&] { dialog.show(); },
                                         [&] { return dialog.LblDimensions->text().endsWith("12000"); }));
  }
  Report(State, worst);
}
BENCHMARK(BM_OpenFolderPreviewStall)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_EmailSendStall(benchmark::State& State) {
  bench::EnsureApplication();
  const TSlowFolder& slow = SlowFolder();
  QTemporaryDir work;
  double worst = 0;
  for (auto _ : State) {
    app::TEmailSizeDlg dialog;
    dialog.WorkFolder = [&] { return work.path().toStdString(); };
    dialog.SetSpeedIndex(1);
    dialog.CBShowResults->SetChecked(true);
    dialog.ShowWithFiles({slow.Picture});
    // The results stop the clock; the hand-off to a mail program is left out.
    bool shown = false;
    app::THelpDlg::ModalAnswer = [&](app::THelpDlg& Help) {
      shown = true;
      Help.done(2);
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", work.path().toLocal8Bit());
    app::MessageDlgAnswer = [](QMessageBox& Box) { Box.done(QMessageBox::Ok); };
    worst = std::max(worst, LongestBlock([&] { dialog.SBtnContinue->Click(); }, [&] { return shown; }));
    while (dialog.Sending()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    qputenv("PATH", path);
    app::MessageDlgAnswer = nullptr;
    app::THelpDlg::ModalAnswer = nullptr;
  }
  Report(State, worst);
}
BENCHMARK(BM_EmailSendStall)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
