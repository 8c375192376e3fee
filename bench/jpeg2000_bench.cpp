// JPEG-2000 reading through our codec into a TRvBitmap, side by side with a
// bare OpenJPEG decode of the same bytes into a plain buffer: the real
// photograph of 3840 x 2160 encoded lossy (20:1) by OpenJPEG as a JP2 file
// in one tile and as a code stream of 512 x 512 tiles, and stretched to
// 4096 x 4096 in colour and in gray as code streams of 16,384 tiles of
// 32 x 32, each read whole and header only. Each "Ours" run reports its time
// over the bare run's as vs_bare.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <openjpeg.h>

#include "bench_readers.h"
#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/model/rvbitmap.h"
#include "platform/stream.h"

namespace {

using bench::Timed;

// ---- OpenJPEG streams over memory: the encoder writes a file into Bytes,
// a bare decode reads it from Data.

struct TMemorySink {
  std::vector<std::uint8_t> Bytes;
  std::size_t Pos = 0;
};

struct TMemorySource {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Pos;
};

OPJ_SIZE_T SinkWrite(void* Buffer, OPJ_SIZE_T Count, void* User) {
  auto* M = static_cast<TMemorySink*>(User);
  if (M->Pos + Count > M->Bytes.size()) M->Bytes.resize(M->Pos + Count);
  std::memcpy(M->Bytes.data() + M->Pos, Buffer, Count);
  M->Pos += Count;
  return Count;
}

OPJ_SIZE_T SourceRead(void* Buffer, OPJ_SIZE_T Count, void* User) {
  auto* M = static_cast<TMemorySource*>(User);
  if (M->Pos >= M->Size) return static_cast<OPJ_SIZE_T>(-1);
  const std::size_t N = std::min<std::size_t>(Count, M->Size - M->Pos);
  std::memcpy(Buffer, M->Data + M->Pos, N);
  M->Pos += N;
  return N;
}

template <typename T>
OPJ_OFF_T MemorySkip(OPJ_OFF_T Count, void* User) {
  auto* M = static_cast<T*>(User);
  if (static_cast<OPJ_OFF_T>(M->Pos) + Count < 0) return -1;
  M->Pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(M->Pos) + Count);
  return Count;
}

template <typename T>
OPJ_BOOL MemorySeek(OPJ_OFF_T Position, void* User) {
  if (Position < 0) return OPJ_FALSE;
  static_cast<T*>(User)->Pos = static_cast<std::size_t>(Position);
  return OPJ_TRUE;
}

template <typename T>
opj_stream_t* MemoryStream(T& Memory, bool Input) {
  opj_stream_t* S = opj_stream_create(65536, Input ? OPJ_TRUE : OPJ_FALSE);
  if (Input)
    opj_stream_set_read_function(S, SourceRead);
  else
    opj_stream_set_write_function(S, SinkWrite);
  opj_stream_set_skip_function(S, MemorySkip<T>);
  opj_stream_set_seek_function(S, MemorySeek<T>);
  opj_stream_set_user_data(S, &Memory, nullptr);
  return S;
}

// The real photograph encoded by OpenJPEG at a twentieth of its raw size,
// in tiles of Tile x Tile (0: one tile); stretched to Side x Side unless
// Side is 0, and in gray when Gray. Empty when the photograph is missing or
// encoding fails.
std::vector<std::uint8_t> Encode(OPJ_CODEC_FORMAT Format, int Tile, int Side = 0, bool Gray = false) {
  rv::TRvBitmap Photo;
  if (!bench::ReadRealPhoto(Photo)) return {};
  const auto W = static_cast<OPJ_UINT32>(Side > 0 ? Side : Photo.Width());
  const auto H = static_cast<OPJ_UINT32>(Side > 0 ? Side : Photo.Height());
  const int Components = Gray ? 1 : 3;
  opj_image_cmptparm_t Parms[3];
  std::memset(Parms, 0, sizeof Parms);
  for (auto& P : Parms) {
    P.dx = P.dy = 1;
    P.w = W;
    P.h = H;
    P.prec = 8;
  }
  opj_image_t* Image = opj_image_create(static_cast<OPJ_UINT32>(Components), Parms, Gray ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
  Image->x1 = W;
  Image->y1 = H;
  for (OPJ_UINT32 Y = 0; Y < H; ++Y) {
    const std::uint8_t* Row = Photo.Scanline(static_cast<int>(std::uint64_t{Y} * Photo.Height() / H));
    for (OPJ_UINT32 X = 0; X < W; ++X) {
      const std::uint8_t* P = Row + 3 * (std::uint64_t{X} * Photo.Width() / W); // blue, green, red
      if (Gray)
        Image->comps[0].data[Y * W + X] = (P[2] * 299 + P[1] * 587 + P[0] * 114) / 1000;
      else
        for (int C = 0; C < 3; ++C) Image->comps[C].data[Y * W + X] = P[2 - C];
    }
  }
  opj_cparameters_t Parameters;
  opj_set_default_encoder_parameters(&Parameters);
  Parameters.tcp_numlayers = 1;
  Parameters.tcp_rates[0] = 20;
  Parameters.cp_disto_alloc = 1;
  Parameters.irreversible = 1;
  Parameters.tcp_mct = Gray ? 0 : 1;
  if (Tile > 0) {
    Parameters.tile_size_on = OPJ_TRUE;
    Parameters.cp_tdx = Parameters.cp_tdy = Tile;
  }
  TMemorySink Sink;
  opj_codec_t* Codec = opj_create_compress(Format);
  opj_stream_t* Stream = MemoryStream(Sink, false);
  bool Done = opj_setup_encoder(Codec, &Parameters, Image);
  opj_codec_set_threads(Codec, 4); // set-up time only; a library without threads encodes on one
  Done = Done && opj_start_compress(Codec, Image, Stream) && opj_encode(Codec, Stream) &&
         opj_end_compress(Codec, Stream);
  opj_stream_destroy(Stream);
  opj_destroy_codec(Codec);
  opj_image_destroy(Image);
  return Done ? std::move(Sink.Bytes) : std::vector<std::uint8_t>{};
}

// Kind 0 the JP2 file in one tile, 1 the code stream in tiles, 2 and 3 the
// code streams of 16,384 tiles in colour and in gray. Each is made when
// first asked for: the small tiles take long to encode.
const std::vector<std::uint8_t>& Jpeg2000File(std::int64_t Kind) {
  if (Kind == 0) {
    static const std::vector<std::uint8_t> Jp2 = Encode(OPJ_CODEC_JP2, 0);
    return Jp2;
  }
  if (Kind == 1) {
    static const std::vector<std::uint8_t> Tiled = Encode(OPJ_CODEC_J2K, 512);
    return Tiled;
  }
  if (Kind == 2) {
    static const std::vector<std::uint8_t> SmallTiles = Encode(OPJ_CODEC_J2K, 32, 4096);
    return SmallTiles;
  }
  static const std::vector<std::uint8_t> GraySmallTiles = Encode(OPJ_CODEC_J2K, 32, 4096, true);
  return GraySmallTiles;
}

std::string Jpeg2000Subject(const benchmark::State& State) {
  return "jpeg2000/" + std::to_string(State.range(0)) + "/" + std::to_string(State.range(1));
}

// The library's header read, and unless HeaderOnly its decode with its
// planes interleaved into blue, green, red bytes.
bool BareDecode(const std::vector<std::uint8_t>& Data, OPJ_CODEC_FORMAT Format, bool HeaderOnly) {
  TMemorySource Source{Data.data(), Data.size(), 0};
  opj_codec_t* Codec = opj_create_decompress(Format);
  opj_stream_t* Stream = MemoryStream(Source, true);
  opj_stream_set_user_data_length(Stream, Data.size());
  opj_dparameters_t Parameters;
  opj_set_default_decoder_parameters(&Parameters);
  opj_image_t* Image = nullptr;
  bool Done = opj_setup_decoder(Codec, &Parameters) && opj_read_header(Stream, Codec, &Image);
  if (Done && !HeaderOnly) {
    Done = opj_decode(Codec, Stream, Image) && opj_end_decompress(Codec, Stream) && Image->numcomps >= 1;
    if (Done) {
      const std::size_t Pixels = static_cast<std::size_t>(Image->comps[0].w) * Image->comps[0].h;
      const int Last = Image->numcomps >= 3 ? 2 : 0; // gray fills all three
      std::vector<std::uint8_t> Buffer(Pixels * 3);
      for (std::size_t I = 0; I < Pixels; ++I)
        for (int C = 0; C < 3; ++C)
          Buffer[3 * I + 2 - C] = static_cast<std::uint8_t>(Image->comps[std::min(C, Last)].data[I]);
      benchmark::DoNotOptimize(Buffer[Buffer.size() / 2]);
    }
  }
  if (Image != nullptr) benchmark::DoNotOptimize(Image->x1);
  opj_image_destroy(Image);
  opj_stream_destroy(Stream);
  opj_destroy_codec(Codec);
  return Done;
}

// ---- Benchmarks

void Jpeg2000Bare(benchmark::State& State) {
  const auto& Data = Jpeg2000File(State.range(0));
  if (Data.empty()) {
    State.SkipWithError("no photograph");
    return;
  }
  const OPJ_CODEC_FORMAT Format = State.range(0) == 0 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K;
  Timed(State, Jpeg2000Subject(State), true, [&] {
    if (!BareDecode(Data, Format, State.range(1) != 0)) State.SkipWithError("bare decode failed");
  });
}

void Jpeg2000Ours(benchmark::State& State) {
  const auto& Data = Jpeg2000File(State.range(0));
  if (Data.empty()) {
    State.SkipWithError("no photograph");
    return;
  }
  const bool HeaderOnly = State.range(1) != 0;
  Timed(State, Jpeg2000Subject(State), false, [&] {
    platform::TBytesStream S(Data.data(), static_cast<std::int64_t>(Data.size()));
    rv::TRvBitmap Bmp;
    rv::TIOParamsVals Params;
    rv::TRvLocalProgress P;
    rv::Jpeg2000ReadStream(S, Bmp, Params, HeaderOnly, P.Rec);
    if (P.Rec.IsAborting()) {
      State.SkipWithError("our read failed");
      return; // an empty bitmap has no row to touch
    }
    benchmark::DoNotOptimize(Params.Width);
    if (!HeaderOnly) benchmark::DoNotOptimize(Bmp.Scanline(0));
  });
}

} // namespace

BENCHMARK(Jpeg2000Bare)->Name("Jp2Photo3840x2160/Full/Bare")->Args({0, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Ours)->Name("Jp2Photo3840x2160/Full/Ours")->Args({0, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Bare)->Name("Jp2Photo3840x2160/Header/Bare")->Args({0, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(Jpeg2000Ours)->Name("Jp2Photo3840x2160/Header/Ours")->Args({0, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(Jpeg2000Bare)->Name("J2kPhoto3840x2160Tiles512/Full/Bare")->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Ours)->Name("J2kPhoto3840x2160Tiles512/Full/Ours")->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Bare)->Name("J2kPhoto3840x2160Tiles512/Header/Bare")->Args({1, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(Jpeg2000Ours)->Name("J2kPhoto3840x2160Tiles512/Header/Ours")->Args({1, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(Jpeg2000Bare)->Name("J2kPhoto4096x4096Tiles32/Full/Bare")->Args({2, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Ours)->Name("J2kPhoto4096x4096Tiles32/Full/Ours")->Args({2, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Bare)->Name("J2kPhoto4096x4096Tiles32/Header/Bare")->Args({2, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Ours)->Name("J2kPhoto4096x4096Tiles32/Header/Ours")->Args({2, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Bare)->Name("J2kGray4096x4096Tiles32/Full/Bare")->Args({3, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Ours)->Name("J2kGray4096x4096Tiles32/Full/Ours")->Args({3, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Bare)->Name("J2kGray4096x4096Tiles32/Header/Bare")->Args({3, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg2000Ours)->Name("J2kGray4096x4096Tiles32/Header/Ours")->Args({3, 1})->Unit(benchmark::kMillisecond);
