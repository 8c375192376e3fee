// Decoding speed of our GIF LZW, TIFF LZW and CCITT group 4 decoders beside
// giflib's and libtiff's, on the same coded bytes.
#include "bench_support.h"

#include "image/io/gif/giflzw.h"
#include "image/io/tiff/ccittfax.h"
#include "image/io/tiff/tifflzw.h"
#include "platform/stream.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture with smooth areas, edges and some noise, as scans and
// screenshots have.
Bytes Picture(int Width, int Height, int Colours) {
  std::mt19937 rng(42);
  Bytes p(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      int v = ((x / 64) * 3 + (y / 48) * 5 + (x + y) / 200) % Colours;
      if (((x / 17) ^ (y / 13)) % 7 == 0) v = (x * y / 31) % Colours;
      if (rng() % 50 == 0) v = static_cast<int>(rng() % static_cast<unsigned>(Colours));
      p[static_cast<std::size_t>(y) * Width + x] = static_cast<std::uint8_t>(v);
    }
  return p;
}

// A printed page: lines of small black glyph boxes on white, 1 = black.
Bytes Page(int Width, int Height) {
  std::mt19937 rng(7);
  const std::size_t rowBytes = (static_cast<std::size_t>(Width) + 7) / 8;
  Bytes p(rowBytes * static_cast<std::size_t>(Height), 0);
  auto set = [&](int x, int y) { p[static_cast<std::size_t>(y) * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x & 7)); };
  for (int line = 150; line + 40 < Height - 150; line += 60) {
    int x = 150;
    while (x < Width - 200) {
      const int w = 10 + static_cast<int>(rng() % 20), h = 20 + static_cast<int>(rng() % 15);
      for (int y = line + 35 - h; y < line + 35; ++y)
        for (int i = 0; i < w; ++i)
          if ((i < 3 || i >= w - 3 || y < line + 38 - h || rng() % 5 == 0)) set(x + i, y);
      x += w + 4 + (rng() % 8 == 0 ? 25 : 0);
    }
  }
  return p;
}

// ---------------------------------------------------------------------------
// GIF

constexpr int kGifWidth = 1024, kGifHeight = 768;

struct TGifData {
  Bytes Pixels;
  Bytes Codes; // code-size byte, sub-blocks, terminator
  Bytes File;  // the same as a whole GIF file for giflib
};

const TGifData& GifData() {
  static const TGifData d = [] {
    TGifData g;
    g.Pixels = Picture(kGifWidth, kGifHeight, 256);
    platform::TMemoryStream s;
    rv::GifLzwCompress(s, kGifHeight, kGifWidth, 8, g.Pixels.data(), false);
    g.Codes = s.Data();
    g.File = {'G', 'I', 'F', '8', '9', 'a', kGifWidth & 0xFF, kGifWidth >> 8, kGifHeight & 0xFF,
              kGifHeight >> 8, 0xF7, 0, 0};
    for (int i = 0; i < 256; ++i) g.File.insert(g.File.end(), 3, static_cast<std::uint8_t>(i));
    const Bytes descriptor = {0x2C, 0, 0, 0, 0, kGifWidth & 0xFF, kGifWidth >> 8, kGifHeight & 0xFF,
                              kGifHeight >> 8, 0};
    g.File.insert(g.File.end(), descriptor.begin(), descriptor.end());
    g.File.insert(g.File.end(), g.Codes.begin(), g.Codes.end());
    g.File.push_back(0x3B);
    return g;
  }();
  return d;
}

bool GiflibDecode(const Bytes& File, Bytes& Pixels) {
  bench::TGifMemoryInput in{File.data(), File.size(), 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&in, bench::ReadGifMemory, &error);
  if (gif == nullptr) return false;
  bool ok = false;
  GifRecordType type;
  while (DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
    if (type == IMAGE_DESC_RECORD_TYPE) {
      ok = DGifGetImageDesc(gif) == GIF_OK &&
           DGifGetLine(gif, Pixels.data(), static_cast<int>(Pixels.size())) == GIF_OK;
      break;
    }
    if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* ext;
      if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
      while (ext != nullptr)
        if (DGifGetExtensionNext(gif, &ext) != GIF_OK) break;
    }
  }
  DGifCloseFile(gif, &error);
  return ok;
}

void BM_GifLzwDecode_Ours(benchmark::State& State) {
  const TGifData& d = GifData();
  Bytes pixels(d.Pixels.size());
  for (auto _ : State) {
    platform::TBytesStream s(d.Codes.data(), static_cast<std::int64_t>(d.Codes.size()));
    rv::GifLzwDecompress(s, kGifHeight, kGifWidth, pixels.data(), false);
    benchmark::DoNotOptimize(pixels.data());
  }
  if (pixels != d.Pixels) State.SkipWithError("wrong pixels");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_GifLzwDecode_Ours);

void BM_GifLzwDecode_Giflib(benchmark::State& State) {
  const TGifData& d = GifData();
  Bytes pixels(d.Pixels.size());
  for (auto _ : State) {
    if (!GiflibDecode(d.File, pixels)) State.SkipWithError("giflib failed");
    benchmark::DoNotOptimize(pixels.data());
  }
  if (pixels != d.Pixels) State.SkipWithError("wrong pixels");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_GifLzwDecode_Giflib);

// ---------------------------------------------------------------------------
// libtiff from memory

struct TTiffMemory {
  const Bytes* Data;
  toff_t Pos;
};

tsize_t TiffRead(thandle_t H, tdata_t Buffer, tsize_t Size) {
  auto* m = static_cast<TTiffMemory*>(H);
  const toff_t left = m->Pos < m->Data->size() ? m->Data->size() - m->Pos : 0;
  const toff_t n = std::min<toff_t>(static_cast<toff_t>(Size), left);
  std::memcpy(Buffer, m->Data->data() + m->Pos, n);
  m->Pos += n;
  return static_cast<tsize_t>(n);
}
tsize_t TiffWrite(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t TiffSeek(thandle_t H, toff_t Offset, int Whence) {
  auto* m = static_cast<TTiffMemory*>(H);
  if (Whence == SEEK_SET) m->Pos = Offset;
  else if (Whence == SEEK_CUR) m->Pos += Offset;
  else m->Pos = m->Data->size() + Offset;
  return m->Pos;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t H) { return static_cast<TTiffMemory*>(H)->Data->size(); }

void Put16(Bytes& B, std::uint32_t V) {
  B.push_back(static_cast<std::uint8_t>(V));
  B.push_back(static_cast<std::uint8_t>(V >> 8));
}
void Put32(Bytes& B, std::uint32_t V) {
  Put16(B, V & 0xFFFF);
  Put16(B, V >> 16);
}

// A one-strip little-endian TIFF around Strip.
Bytes MakeTiff(int Width, int Height, int Bits, int Compression, int Photometric, const Bytes& Strip) {
  const std::uint32_t tags[][3] = {{256, 4, static_cast<std::uint32_t>(Width)},
                                   {257, 4, static_cast<std::uint32_t>(Height)},
                                   {258, 3, static_cast<std::uint32_t>(Bits)},
                                   {259, 3, static_cast<std::uint32_t>(Compression)},
                                   {262, 3, static_cast<std::uint32_t>(Photometric)},
                                   {273, 4, 8},
                                   {277, 3, 1},
                                   {278, 4, static_cast<std::uint32_t>(Height)},
                                   {279, 4, static_cast<std::uint32_t>(Strip.size())}};
  Bytes b = {'I', 'I', 42, 0};
  const std::uint32_t ifd = 8 + static_cast<std::uint32_t>(Strip.size()) + (Strip.size() & 1);
  Put32(b, ifd);
  b.insert(b.end(), Strip.begin(), Strip.end());
  if (b.size() & 1) b.push_back(0);
  Put16(b, 9);
  for (const auto& t : tags) {
    Put16(b, t[0]);
    Put16(b, t[1]);
    Put32(b, 1);
    if (t[1] == 3) {
      Put16(b, t[2]);
      Put16(b, 0);
    } else {
      Put32(b, t[2]);
    }
  }
  Put32(b, 0);
  return b;
}

// Opens the file once and decodes its strip per iteration.
void LibtiffStripLoop(benchmark::State& State, const Bytes& File, Bytes& Out) {
  TTiffMemory m{&File, 0};
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFClientOpen("bench", "rm", &m, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                             nullptr, nullptr);
  if (tif == nullptr) {
    State.SkipWithError("libtiff open failed");
    return;
  }
  for (auto _ : State) {
    if (TIFFReadEncodedStrip(tif, 0, Out.data(), static_cast<tmsize_t>(Out.size())) < 0)
      State.SkipWithError("libtiff decode failed");
    benchmark::DoNotOptimize(Out.data());
  }
  TIFFClose(tif);
}

// ---------------------------------------------------------------------------
// TIFF LZW

constexpr int kLzwWidth = 2048, kLzwHeight = 1536;

struct TLzwData {
  Bytes Pixels;
  Bytes Strip;
  Bytes File;
};

const TLzwData& LzwData() {
  static const TLzwData d = [] {
    TLzwData l;
    l.Pixels = Picture(kLzwWidth, kLzwHeight, 200);
    platform::TMemoryStream s;
    void* state = nullptr;
    for (int y = 0; y < kLzwHeight; ++y)
      rv::TiffLzwCompress(l.Pixels.data() + static_cast<std::size_t>(y) * kLzwWidth, kLzwWidth, &s, state);
    rv::TiffLzwCompress(nullptr, 0, &s, state);
    l.Strip = s.Data();
    l.File = MakeTiff(kLzwWidth, kLzwHeight, 8, 5, 1, l.Strip);
    return l;
  }();
  return d;
}

void BM_TiffLzwDecode_Ours(benchmark::State& State) {
  const TLzwData& d = LzwData();
  Bytes out(d.Pixels.size());
  for (auto _ : State) {
    void* state = nullptr;
    for (int y = 0; y < kLzwHeight; ++y) {
      const std::uint8_t* row = rv::TiffLzwDecompress(d.Strip.data(), d.Strip.size(), kLzwWidth, state);
      if (row == nullptr) {
        State.SkipWithError("decode failed");
        break;
      }
      std::memcpy(out.data() + static_cast<std::size_t>(y) * kLzwWidth, row, kLzwWidth);
    }
    rv::TiffLzwDecompress(nullptr, 0, kLzwWidth, state);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != d.Pixels) State.SkipWithError("wrong pixels");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_TiffLzwDecode_Ours);

void BM_TiffLzwDecode_Libtiff(benchmark::State& State) {
  const TLzwData& d = LzwData();
  Bytes out(d.Pixels.size());
  LibtiffStripLoop(State, d.File, out);
  if (out != d.Pixels) State.SkipWithError("wrong pixels");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_TiffLzwDecode_Libtiff);

// ---------------------------------------------------------------------------
// CCITT group 4: an A4 page at 300 dpi

constexpr int kFaxWidth = 2480, kFaxHeight = 3508;
constexpr std::size_t kFaxRowBytes = (kFaxWidth + 7) / 8;

struct TFaxData {
  Bytes Page; // 1 = black
  Bytes Strip;
  Bytes File;
};

const TFaxData& FaxData() {
  static const TFaxData d = [] {
    TFaxData f;
    f.Page = Page(kFaxWidth, kFaxHeight);
    platform::TMemoryStream s;
    rv::TRvAbortFlag aborting{false};
    int bits = 0;
    std::uint8_t byte = 0;
    Bytes ref;
    for (int y = 0; y < kFaxHeight; ++y)
      rv::FaxEncodeRowG4(f.Page.data() + static_cast<std::size_t>(y) * kFaxRowBytes, kFaxWidth, s, aborting, ref, bits, byte);
    rv::FaxEncodeRowG4(nullptr, kFaxWidth, s, aborting, ref, bits, byte);
    f.Strip = s.Data();
    f.File = MakeTiff(kFaxWidth, kFaxHeight, 1, 4, 0, f.Strip);
    return f;
  }();
  return d;
}

void BM_FaxG4Decode_Ours(benchmark::State& State) {
  const TFaxData& d = FaxData();
  Bytes out(d.Page.size());
  rv::TFaxRefRow ref;
  for (auto _ : State) {
    ref.Reset(kFaxWidth);
    std::int64_t pos = 0;
    for (int y = 0; y < kFaxHeight; ++y)
      pos = rv::FaxDecodeRow2D(out.data() + static_cast<std::size_t>(y) * kFaxRowBytes, d.Strip.data(),
                               static_cast<std::int64_t>(d.Strip.size()), false, 1, pos, ref, kFaxWidth);
    benchmark::DoNotOptimize(out.data());
  }
  for (std::size_t i = 0; i < out.size(); ++i)
    if (static_cast<std::uint8_t>(~out[i]) != d.Page[i]) {
      State.SkipWithError("wrong pixels");
      break;
    }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_FaxG4Decode_Ours);

void BM_FaxG4Decode_Libtiff(benchmark::State& State) {
  const TFaxData& d = FaxData();
  Bytes out(d.Page.size());
  LibtiffStripLoop(State, d.File, out);
  if (out != d.Page) State.SkipWithError("wrong pixels");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_FaxG4Decode_Libtiff);

} // namespace
