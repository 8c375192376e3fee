// Format detection by content over 10,000 small files of every registered
// format, beside Qt's own content sniffing (QImageReader::imageFormat). The
// counting runs report how many bytes detection reads per file.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/io/bmp/rvbmp.h"
#include "image/io/gif/gifwrite.h"
#include "image/io/jpeg/jpegfilt.h"
#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/io/pcx/rvpcx.h"
#include "image/io/png/rvpng.h"
#include "image/io/pnm/rvpnm.h"
#include "image/io/rvformats.h"
#include "image/io/tga/rvtga.h"
#include "image/io/tiff/tiffwrite.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"
#include "support/countingstream.h"

namespace {

constexpr int FileCount = 10000;

using Bytes = std::vector<std::uint8_t>;

using testsupport::TCountingStream;

template <class Writer>
Bytes Encode(Writer Write) {
  rv::TRvBitmap Bmp;
  Bmp.Allocate(24, 16, rv::rvpf24Bit);
  for (int Y = 0; Y < 16; ++Y)
    for (int X = 0; X < 24 * 3; ++X) Bmp.Scanline(Y)[X] = static_cast<std::uint8_t>(X * 5 + Y * 9);
  rv::TIOParamsVals Params;
  rv::TRvLocalProgress P;
  platform::TMemoryStream S;
  Write(S, Bmp, Params, P.Rec);
  return S.Data();
}

Bytes IconBytes(int Type) {
  // Directory of one 16 x 16 entry, 40 bytes of data at offset 22.
  static const std::uint8_t Head[22] = {0, 0, 0, 0, 1, 0, 16, 16, 0, 0, 1,
                                        0, 32, 0, 40, 0, 0, 0, 22, 0, 0, 0};
  Bytes B(62, 0);
  std::copy(std::begin(Head), std::end(Head), B.begin());
  B[2] = static_cast<std::uint8_t>(Type);
  return B;
}

// One sample per format, written by our own writers where there is one.
std::vector<std::pair<std::string, Bytes>> Samples() {
  using namespace rv;
  using S = platform::TStream;
  std::vector<std::pair<std::string, Bytes>> Out;
  Out.emplace_back("tif", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    TiffWriteStream(St, B, Pr, Pa);
  }));
  Out.emplace_back("gif", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    GifWriteStream(St, B, Pa, Pr);
  }));
  Out.emplace_back("jpg", Encode(JpegWriteStream));
  Out.emplace_back("pcx", Encode(PcxWriteStream));
  Out.emplace_back("bmp", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    BmpWriteStream(St, B, Pa, Pr);
  }));
  Out.emplace_back("ico", IconBytes(1));
  Out.emplace_back("cur", IconBytes(2));
  Out.emplace_back("png", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    PngWriteStream(St, B, Pa, nullptr, Pr);
  }));
  Out.emplace_back("tga", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    TgaWriteStream(St, B, Pa, nullptr, Pr);
  }));
  Out.emplace_back("ppm", Encode(PnmWriteStream));
  Out.emplace_back("jp2", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    Jpeg2000WriteStream(St, B, Pa, 0, Pr);
  }));
  Out.emplace_back("j2k", Encode([](S& St, TRvBitmap& B, TIOParamsVals& Pa, TRvProgressRec& Pr) {
    Jpeg2000WriteStream(St, B, Pa, 1, Pr);
  }));
  Bytes Text(300, 'x'); // not a picture: every step runs
  Out.emplace_back("txt", Text);
  return Out;
}

// The 10,000 files, made once in a temporary folder that is removed at exit.
const std::vector<std::string>& Files() {
  static std::vector<std::string> Names;
  static std::string Dir;
  if (Names.empty()) {
    char Template[] = "/tmp/detectbenchXXXXXX";
    if (mkdtemp(Template) == nullptr) std::abort();
    Dir = Template;
    const auto Kinds = Samples();
    for (int I = 0; I < FileCount; ++I) {
      const auto& [Ext, Data] = Kinds[static_cast<std::size_t>(I) % Kinds.size()];
      Names.push_back(Dir + "/f" + std::to_string(I) + "." + Ext);
      std::ofstream F(Names.back(), std::ios::binary);
      F.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
    }
    std::atexit([] { std::system(("rm -rf '" + Dir + "'").c_str()); });
  }
  return Names;
}

void PerFile(benchmark::State& State, std::int64_t Found) {
  State.SetItemsProcessed(State.iterations() * FileCount);
  State.counters["time_per_file"] = benchmark::Counter(
      static_cast<double>(State.iterations()) * FileCount,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  State.counters["recognised"] = static_cast<double>(Found);
}

void BM_RvFindFileFormat(benchmark::State& State) {
  const auto& Names = Files();
  std::int64_t Found = 0;
  for (auto _ : State) {
    Found = 0;
    for (const std::string& Name : Names) Found += rv::RvFindFileFormat(Name, false) != 0;
  }
  PerFile(State, Found);
}
BENCHMARK(BM_RvFindFileFormat)->Unit(benchmark::kMillisecond);

void BM_RvFindStreamFormatCounted(benchmark::State& State) {
  const auto& Names = Files();
  std::int64_t Found = 0;
  std::int64_t Read = 0;
  for (auto _ : State) {
    Found = 0;
    Read = 0;
    for (const std::string& Name : Names) {
      platform::TFileStream F(Name, platform::fmOpenRead);
      TCountingStream C(F);
      Found += rv::RvFindStreamFormat(C) != 0;
      Read += C.BytesRead;
    }
  }
  PerFile(State, Found);
  State.counters["bytes_read_per_file"] = static_cast<double>(Read) / FileCount;
}
BENCHMARK(BM_RvFindStreamFormatCounted)->Unit(benchmark::kMillisecond);

// The peer: Qt's format sniffing by content through its image plugins.
void BM_QtImageFormat(benchmark::State& State) {
  const auto& Names = Files();
  std::vector<QString> QNames;
  for (const std::string& Name : Names) QNames.push_back(QString::fromStdString(Name));
  std::int64_t Found = 0;
  for (auto _ : State) {
    Found = 0;
    for (const QString& Name : QNames) Found += !QImageReader::imageFormat(Name).isEmpty();
  }
  PerFile(State, Found);
}
BENCHMARK(BM_QtImageFormat)->Unit(benchmark::kMillisecond);

} // namespace
