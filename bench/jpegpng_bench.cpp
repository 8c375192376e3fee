// JPEG and PNG decoding through our codecs into a TRvBitmap, side by side
// with a bare libjpeg-turbo / libpng decode of the same bytes into a plain
// buffer. Each "Ours" run reports its time over the bare run's as vs_bare.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "bench_readers.h"
#include "image/io/jpeg/jpegfilt.h"
#include "image/io/png/rvpng.h"
#include "image/model/rvbitmap.h"
#include "platform/stream.h"

namespace {

using bench::Timed;

// A photograph-like picture: smooth gradients with fine noise.
void MakePhoto(rv::TRvBitmap& Bmp, int W, int H) {
  Bmp.Allocate(W, H, rv::rvpf24Bit);
  std::uint32_t S = 1;
  for (int Y = 0; Y < H; ++Y) {
    std::uint8_t* Row = Bmp.Scanline(Y);
    for (int X = 0; X < W; ++X) {
      S = S * 1664525u + 1013904223u;
      const int N = static_cast<int>(S >> 28) - 8;
      Row[3 * X] = static_cast<std::uint8_t>(std::clamp((X * 255) / W + N, 0, 255));
      Row[3 * X + 1] = static_cast<std::uint8_t>(std::clamp((Y * 255) / H + N, 0, 255));
      Row[3 * X + 2] = static_cast<std::uint8_t>(std::clamp(((X + Y) * 127) / (W + H) + 64 + N, 0, 255));
    }
  }
}

// Empty when the real photograph is missing.
std::vector<std::uint8_t> MakeJpegFile(bool Progressive, bool Real) {
  rv::TRvBitmap Bmp;
  if (Real) {
    if (!bench::ReadRealPhoto(Bmp)) return {};
  } else {
    MakePhoto(Bmp, 6000, 4000);
  }
  rv::TIOParamsVals Params;
  Params.JpegQuality = 90;
  Params.JpegProgressive = Progressive;
  platform::TMemoryStream S;
  rv::TRvLocalProgress P;
  rv::JpegWriteStream(S, Bmp, Params, P.Rec);
  return S.Data();
}

struct TBareJpegError {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
};

[[noreturn]] void BareJpegExit(j_common_ptr Info) {
  std::longjmp(reinterpret_cast<TBareJpegError*>(Info->err)->Jump, 1);
}

// A photograph of 2560 x 1600 of the desktop's backgrounds, transcoded
// without loss as jpegtran -scans does, by a script of 77 scans: the means,
// five bands of luminance and two of each colour, each refined a bit a scan.
// Empty when the photograph is missing.
std::vector<std::uint8_t> MakeLongScriptFile() {
  std::ifstream F("/usr/share/backgrounds/mate/nature/Garden.jpg", std::ios::binary);
  const std::vector<std::uint8_t> Photo((std::istreambuf_iterator<char>(F)), {});
  if (Photo.empty()) return {};
  std::vector<jpeg_scan_info> Script;
  auto Steps = [&](std::initializer_list<int> Components, int Ss, int Se, int Top) {
    for (int Ah = 0, Al = Top; Al >= 0; Ah = Al, --Al) {
      jpeg_scan_info Scan{};
      Scan.comps_in_scan = static_cast<int>(Components.size());
      std::copy(Components.begin(), Components.end(), Scan.component_index);
      Scan.Ss = Ss;
      Scan.Se = Se;
      Scan.Ah = Ah;
      Scan.Al = Al;
      Script.push_back(Scan);
    }
  };
  Steps({0, 1, 2}, 0, 0, 8);
  for (const auto& [Ss, Se] : {std::pair{1, 2}, {3, 5}, {6, 9}, {10, 20}, {21, 63}}) Steps({0}, Ss, Se, 7);
  for (int C : {1, 2}) {
    Steps({C}, 1, 5, 6);
    Steps({C}, 6, 63, 6);
  }
  // The library's own error exit ends the run: the file is made once.
  jpeg_decompress_struct In;
  jpeg_compress_struct Out;
  jpeg_error_mgr Err;
  In.err = Out.err = jpeg_std_error(&Err);
  unsigned char* Written = nullptr;
  unsigned long Size = 0;
  jpeg_create_decompress(&In);
  jpeg_create_compress(&Out);
  jpeg_mem_src(&In, Photo.data(), static_cast<unsigned long>(Photo.size()));
  jpeg_read_header(&In, TRUE);
  jvirt_barray_ptr* Coefficients = jpeg_read_coefficients(&In);
  jpeg_copy_critical_parameters(&In, &Out);
  Out.scan_info = Script.data();
  Out.num_scans = static_cast<int>(Script.size());
  jpeg_mem_dest(&Out, &Written, &Size);
  jpeg_write_coefficients(&Out, Coefficients);
  jpeg_finish_compress(&Out);
  jpeg_finish_decompress(&In);
  std::vector<std::uint8_t> Data(Written, Written + Size);
  jpeg_destroy_compress(&Out);
  jpeg_destroy_decompress(&In);
  std::free(Written);
  return Data;
}

// An 8 x 8 picture behind 64,000 empty APP2 markers (256 KB).
std::vector<std::uint8_t> MakeManyMarkersFile() {
  rv::TRvBitmap Bmp;
  MakePhoto(Bmp, 8, 8);
  rv::TIOParamsVals Params;
  platform::TMemoryStream S;
  rv::TRvLocalProgress P;
  rv::JpegWriteStream(S, Bmp, Params, P.Rec);
  const std::vector<std::uint8_t>& Plain = S.Data();
  std::vector<std::uint8_t> Data(Plain.begin(), Plain.begin() + 2);
  for (int N = 0; N < 64000; ++N) Data.insert(Data.end(), {0xFF, 0xE2, 0, 2});
  Data.insert(Data.end(), Plain.begin() + 2, Plain.end());
  return Data;
}

// Kind 0 baseline, 1 progressive as encoders write it (ten scans), 2 the
// real photograph written so, 3 a photograph of a long scan script, 4 a
// small picture behind many markers.
const std::vector<std::uint8_t>& JpegFile(std::int64_t Kind) {
  static const std::vector<std::uint8_t> Baseline = MakeJpegFile(false, false);
  static const std::vector<std::uint8_t> Scans = MakeJpegFile(true, false);
  static const std::vector<std::uint8_t> Real = MakeJpegFile(true, true);
  static const std::vector<std::uint8_t> LongScript = MakeLongScriptFile();
  static const std::vector<std::uint8_t> Markers = MakeManyMarkersFile();
  switch (Kind) {
  case 0: return Baseline;
  case 1: return Scans;
  case 2: return Real;
  case 3: return LongScript;
  default: return Markers;
  }
}

std::string JpegSubject(const benchmark::State& State) {
  return "jpeg/" + std::to_string(State.range(0)) + "/" + std::to_string(State.range(1));
}

const std::vector<std::uint8_t>& PngFile() {
  static const std::vector<std::uint8_t> Data = [] {
    rv::TRvBitmap Bmp;
    MakePhoto(Bmp, 3000, 2000);
    rv::TIOParamsVals Params;
    Params.PngFilter = 9; // libpng's own choice, as most writers do
    Params.PngCompression = 6;
    platform::TMemoryStream S;
    rv::TRvLocalProgress P;
    rv::PngWriteStream(S, Bmp, Params, nullptr, P.Rec);
    return S.Data();
  }();
  return Data;
}

// ---- Bare decodes

bool BareJpegDecode(const std::vector<std::uint8_t>& Data, int Denominator, std::size_t& Bytes) {
  jpeg_decompress_struct Info;
  TBareJpegError Err;
  Info.err = jpeg_std_error(&Err.Pub);
  Err.Pub.error_exit = BareJpegExit;
  std::uint8_t* volatile Buffer = nullptr;
  if (setjmp(Err.Jump) != 0) {
    jpeg_destroy_decompress(&Info);
    delete[] Buffer;
    return false;
  }
  jpeg_create_decompress(&Info);
  jpeg_mem_src(&Info, Data.data(), static_cast<unsigned long>(Data.size()));
  jpeg_read_header(&Info, TRUE);
  Info.out_color_space = JCS_EXT_BGR;
  Info.scale_num = 1;
  Info.scale_denom = static_cast<unsigned>(Denominator);
  jpeg_start_decompress(&Info);
  const std::size_t Stride = Info.output_width * 3;
  Bytes = Stride * Info.output_height;
  Buffer = new std::uint8_t[Bytes];
  while (Info.output_scanline < Info.output_height) {
    JSAMPROW Row = Buffer + Info.output_scanline * Stride;
    jpeg_read_scanlines(&Info, &Row, 1);
  }
  jpeg_finish_decompress(&Info);
  jpeg_destroy_decompress(&Info);
  benchmark::DoNotOptimize(Buffer[Bytes / 2]);
  delete[] Buffer;
  return true;
}

struct TBarePngSource {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Pos;
};

void BarePngRead(png_structp Png, png_bytep Out, std::size_t Length) {
  auto* S = static_cast<TBarePngSource*>(png_get_io_ptr(Png));
  if (S->Pos + Length > S->Size) png_error(Png, "short");
  std::memcpy(Out, S->Data + S->Pos, Length);
  S->Pos += Length;
}

bool BarePngDecode(const std::vector<std::uint8_t>& Data) {
  TBarePngSource Source{Data.data(), Data.size(), 0};
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  std::uint8_t* volatile Buffer = nullptr;
  if (setjmp(png_jmpbuf(Png)) != 0) {
    png_destroy_read_struct(&Png, &Info, nullptr);
    delete[] Buffer;
    return false;
  }
  png_set_read_fn(Png, &Source, BarePngRead);
  png_read_info(Png, Info);
  png_set_bgr(Png);
  png_read_update_info(Png, Info);
  const std::size_t Stride = png_get_rowbytes(Png, Info);
  const png_uint_32 H = png_get_image_height(Png, Info);
  Buffer = new std::uint8_t[Stride * H];
  for (png_uint_32 Y = 0; Y < H; ++Y) png_read_row(Png, Buffer + Y * Stride, nullptr);
  png_read_end(Png, nullptr);
  png_destroy_read_struct(&Png, &Info, nullptr);
  benchmark::DoNotOptimize(Buffer[Stride * H / 2]);
  delete[] Buffer;
  return true;
}

// The 57 bytes of a PNG whose header claims 16384 x 16384 RGBA: a folder of
// them is what the program's header reads meet.
const std::vector<std::uint8_t>& PngBigHeaderFile() {
  static const std::vector<std::uint8_t> Data = {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
      0x52, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08, 0x06, 0x00, 0x00, 0x00, 0xa9,
      0xc8, 0x10, 0x84, 0x00, 0x00, 0x00, 0x00, 0x49, 0x44, 0x41, 0x54, 0x35, 0xaf, 0x06, 0x1e,
      0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
  return Data;
}

bool BarePngHeader(const std::vector<std::uint8_t>& Data) {
  TBarePngSource Source{Data.data(), Data.size(), 0};
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  if (setjmp(png_jmpbuf(Png)) != 0) {
    png_destroy_read_struct(&Png, &Info, nullptr);
    return false;
  }
  png_set_read_fn(Png, &Source, BarePngRead);
  png_read_info(Png, Info);
  benchmark::DoNotOptimize(png_get_image_width(Png, Info));
  png_destroy_read_struct(&Png, &Info, nullptr);
  return true;
}

// ---- Benchmarks

void JpegBare(benchmark::State& State) {
  const auto& Data = JpegFile(State.range(1));
  if (Data.empty()) {
    State.SkipWithError("no photograph");
    return;
  }
  const int Denominator = static_cast<int>(State.range(0));
  Timed(State, JpegSubject(State), true, [&] {
    std::size_t Bytes = 0;
    if (!BareJpegDecode(Data, Denominator, Bytes)) State.SkipWithError("bare decode failed");
  });
}

void JpegOurs(benchmark::State& State) {
  const auto& Data = JpegFile(State.range(1));
  if (Data.empty()) {
    State.SkipWithError("no photograph");
    return;
  }
  const int Denominator = static_cast<int>(State.range(0));
  Timed(State, JpegSubject(State), false, [&] {
    platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
    rv::TRvBitmap Bmp;
    rv::TIOParamsVals Params;
    Params.JpegScale = static_cast<std::uint8_t>(Denominator == 1 ? 1 : 4);
    rv::TRvLocalProgress P;
    rv::JpegReadStream(S, Bmp, Params, false, P.Rec);
    if (P.Rec.IsAborting()) State.SkipWithError("our decode failed");
    benchmark::DoNotOptimize(Bmp.Scanline(0));
  });
}

// A thumbnail's read as the folder view makes it: the scale picked for the
// size wished, an eighth.
void JpegOursThumbnail(benchmark::State& State) {
  const auto& Data = JpegFile(State.range(1));
  if (Data.empty()) {
    State.SkipWithError("no photograph");
    return;
  }
  Timed(State, JpegSubject(State), false, [&] {
    platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
    rv::TRvBitmap Bmp;
    rv::TIOParamsVals Params;
    Params.JpegScale = 0;
    Params.Width = 160;
    Params.Height = 120;
    rv::TRvLocalProgress P;
    rv::JpegReadStream(S, Bmp, Params, false, P.Rec);
    if (P.Rec.IsAborting() || Params.JpegScaleUsed != 8) State.SkipWithError("our decode failed");
    benchmark::DoNotOptimize(Bmp.Scanline(0));
  });
}

void PngBare(benchmark::State& State) {
  const auto& Data = PngFile();
  Timed(State, "png", true, [&] {
    if (!BarePngDecode(Data)) State.SkipWithError("bare decode failed");
  });
}

// Our reader as the program calls it, with a mask: the whole picture, or
// (as its parameter reads) the header only.
void PngOursRead(benchmark::State& State, const std::vector<std::uint8_t>& Data, const std::string& Subject,
                 bool HeaderOnly) {
  Timed(State, Subject, false, [&] {
    platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
    rv::TRvBitmap Bmp;
    rv::TIOParamsVals Params;
    std::unique_ptr<rv::TRvMask> Mask;
    rv::TRvLocalProgress P;
    rv::PngReadStream(S, Bmp, Params, P.Rec, HeaderOnly, Mask, false);
    if (P.Rec.IsAborting()) State.SkipWithError("our read failed");
    benchmark::DoNotOptimize(Params.Width);
    if (!HeaderOnly) benchmark::DoNotOptimize(Bmp.Scanline(0));
  });
}

void PngOurs(benchmark::State& State) { PngOursRead(State, PngFile(), "png", false); }

void PngHeaderBare(benchmark::State& State) {
  const auto& Data = PngBigHeaderFile();
  Timed(State, "pngheader", true, [&] {
    if (!BarePngHeader(Data)) State.SkipWithError("bare header read failed");
  });
}

void PngHeaderOurs(benchmark::State& State) { PngOursRead(State, PngBigHeaderFile(), "pngheader", true); }

} // namespace

BENCHMARK(JpegBare)->Name("Jpeg6000x4000/Full/Bare")->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("Jpeg6000x4000/Full/Ours")->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("Jpeg6000x4000/OneEighth/Bare")->Args({8, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("Jpeg6000x4000/OneEighth/Ours")->Args({8, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("Jpeg6000x4000Progressive/Full/Bare")->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("Jpeg6000x4000Progressive/Full/Ours")->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("Jpeg6000x4000Progressive/OneEighth/Bare")->Args({8, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("Jpeg6000x4000Progressive/OneEighth/Ours")->Args({8, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("JpegPhoto3840x2160Progressive/OneEighth/Bare")->Args({8, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOursThumbnail)
    ->Name("JpegPhoto3840x2160Progressive/Thumbnail/Ours")
    ->Args({8, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("JpegPhoto3840x2160Progressive/Full/Bare")->Args({1, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("JpegPhoto3840x2160Progressive/Full/Ours")->Args({1, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("JpegPhoto2560x1600Scans77/Full/Bare")->Args({1, 3})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("JpegPhoto2560x1600Scans77/Full/Ours")->Args({1, 3})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegBare)->Name("Jpeg8x8After64000Markers/Full/Bare")->Args({1, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(JpegOurs)->Name("Jpeg8x8After64000Markers/Full/Ours")->Args({1, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(PngBare)->Name("Png3000x2000/Bare")->Unit(benchmark::kMillisecond);
BENCHMARK(PngOurs)->Name("Png3000x2000/Ours")->Unit(benchmark::kMillisecond);
BENCHMARK(PngHeaderBare)->Name("PngHeader16384x16384RGBA/Bare")->Unit(benchmark::kMicrosecond);
BENCHMARK(PngHeaderOurs)->Name("PngHeader16384x16384RGBA/Ours")->Unit(benchmark::kMicrosecond);
