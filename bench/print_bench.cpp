// A 6000 x 4000 picture printed to a 300-dpi PDF (Letter, fit to page with
// 1-inch margins): through the print routine's tiled virtual bitmap, side by
// side with one QPainter::drawImage of the whole picture on the same
// printer. Each print runs in a child process, whose peak resident memory
// beyond that of a child that only makes the picture is reported.
#include "bench_support.h" // before Qt, as libvips needs

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QPrinter>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/io/rastrumio.h"
#include "image/views/rvprint.h"
#include "platform/graphics.h"

namespace {

constexpr int W = 6000, H = 4000;

std::string PdfName() { return "/tmp/pictrova_print_bench_" + std::to_string(::getpid()) + ".pdf"; }

void SetUpPrinter(QPrinter& P) {
  P.setOutputFormat(QPrinter::PdfFormat);
  P.setOutputFileName(QString::fromStdString(PdfName()));
  P.setResolution(300);
  P.setPageSize(QPageSize(QPageSize::Letter));
  P.setFullPage(true);
  P.setPageMargins(QMarginsF(0, 0, 0, 0));
}

enum TWay { wayNone, wayPictrova, wayDrawImage };

// In the child: make the picture, print it one way, leave.
[[noreturn]] void Child(TWay Way) {
  // The picture lives in a class-library bitmap: its pixels are a QImage
  // that drawImage takes as it is.
  rv::TRastrumIO io;
  io.RvBitmap()->SetLocation(rv::rvlTBitmap);
  io.RvBitmap()->Allocate(W, H, rv::rvpf24Bit);
  const std::vector<std::uint8_t> bytes = bench::PhotoLikeBytes(W, H, 7);
  for (int y = 0; y < H; ++y)
    std::memcpy(io.RvBitmap()->Scanline(y), bytes.data() + static_cast<std::size_t>(y) * W * 3,
                static_cast<std::size_t>(W) * 3);
  io.Params().DpiX = io.Params().DpiY = 300;
  if (Way != wayNone) {
    QPrinter printer(QPrinter::HighResolution);
    SetUpPrinter(printer);
    rv::TRvPrintLayout layout;
    QPainter painter(&printer);
    if (Way == wayPictrova) {
      platform::TCanvas canvas(&painter);
      rv::RvPrintImage(io, canvas, layout);
    } else {
      const rv::TRvPrintRect r = rv::RvPrintPlace(io, 300, 300, 8.5, 11, layout);
      painter.drawImage(QRectF(r.X * 300, r.Y * 300, r.Width * 300, r.Height * 300),
                        io.RvBitmap()->TBitmap()->Image());
    }
    painter.end();
  }
  std::remove(PdfName().c_str());
  std::_Exit(0);
}

// Peak resident memory of a child that ran Way, in megabytes.
double RunChild(TWay Way) {
  const pid_t pid = ::fork();
  if (pid == 0) Child(Way);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void Run(benchmark::State& State, TWay Way) {
  bench::EnsureApplication();
  const double base = RunChild(wayNone);
  double peak = 0;
  for (auto _ : State) {
    const double child = RunChild(Way);
    if (child < 0) State.SkipWithError("the print failed");
    peak = std::max(peak, child);
  }
  State.counters["extra_peak_mb"] = peak - base;
}

// The child's making of the picture is part of each time; the run with
// none (below) is that share.
void BM_PrintPdf6000x4000Pictrova(benchmark::State& State) { Run(State, wayPictrova); }
void BM_PrintPdf6000x4000DrawImage(benchmark::State& State) { Run(State, wayDrawImage); }
void BM_PrintPdf6000x4000PictureOnly(benchmark::State& State) { Run(State, wayNone); }
BENCHMARK(BM_PrintPdf6000x4000Pictrova)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PrintPdf6000x4000DrawImage)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PrintPdf6000x4000PictureOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
