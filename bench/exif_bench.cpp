// Saving a turned 480 x 320 camera picture, as the main window does: the
// camera's thumbnail left out of the Exif block, the orientation written
// upright, the picture encoded with the block. Once with a camera's block,
// once with a crafted one of the same 64 KB whose three directories of
// 1,819 entries point, every entry of one, at the next.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "image/io/rastrumio.h"
#include "image/io/tiff/exif.h"
#include "platform/stream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& B, std::uint32_t V) { B.insert(B.end(), {static_cast<std::uint8_t>(V), static_cast<std::uint8_t>(V >> 8)}); }
void Put32(Bytes& B, std::uint32_t V) {
  Put16(B, V & 0xFFFF);
  Put16(B, V >> 16);
}

// A little-endian directory of Count entries of one tag, each one LONG or
// SHORT value, linked to Next.
void Directory(Bytes& B, std::uint32_t Count, std::uint16_t Tag, std::uint16_t Type, std::uint32_t Value,
               std::uint32_t Next) {
  Put16(B, Count);
  for (std::uint32_t N = 0; N < Count; ++N) {
    Put16(B, Tag);
    Put16(B, Type);
    Put32(B, 1);
    Put32(B, Value);
  }
  Put32(B, Next);
}

// Crafted: every entry of the first directory points at the second, every
// entry of the second at the third; the first links an empty thumbnail
// directory. Camera: Orientation 6, a few tags in the Exif directory, and a
// JPEG thumbnail's worth of bytes behind the second directory.
Bytes ExifBlock(bool Crafted) {
  Bytes B = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
  Put32(B, 8);
  if (Crafted) {
    const std::uint32_t N = 1819, Size = 2 + 12 * N + 4;
    Directory(B, N, 34665, 4, 8 + Size, 8 + 3 * Size);
    Directory(B, N, 34665, 4, 8 + 2 * Size, 0);
    Directory(B, N, 37385, 3, 16, 0);
    Directory(B, 0, 0, 0, 0, 0);
    return B;
  }
  const std::uint32_t First = 8, Sub = First + 2 + 2 * 12 + 4, Thumb = Sub + 2 + 12 * 12 + 4;
  const std::uint32_t Data = Thumb + 2 + 3 * 12 + 4, Length = 12000;
  Put16(B, 2);
  for (auto [Tag, Type, Value] : {std::tuple{274, 3, 6u}, std::tuple{34665, 4, Sub}}) {
    Put16(B, Tag);
    Put16(B, Type);
    Put32(B, 1);
    Put32(B, Value);
  }
  Put32(B, Thumb);
  Directory(B, 12, 37385, 3, 16, 0);
  Put16(B, 3);
  for (auto [Tag, Type, Value] : {std::tuple{259, 3, 6u}, std::tuple{513, 4, Data}, std::tuple{514, 4, Length}}) {
    Put16(B, Tag);
    Put16(B, Type);
    Put32(B, 1);
    Put32(B, Value);
  }
  Put32(B, 0);
  B.resize(B.size() + Length, 0x55);
  return B;
}

void BM_ExifSaveTurned(benchmark::State& State) {
  const bool Crafted = State.range(0) != 0;
  const Bytes Block = ExifBlock(Crafted);
  rv::TRvBitmap Picture;
  Picture.Allocate(480, 320, rv::rvpf24Bit);
  rv::TRastrumIO IO;
  IO.SetAttachedRvBitmap(&Picture);
  for (auto _ : State) {
    rv::TIOParamsVals& P = IO.Params();
    P.JpegMarkers.Clear();
    P.JpegMarkers.AddMarker(0xE1, Block.data(), static_cast<int>(Block.size()));
    P.ExifOrientation = 1;
    rv::RvDropJpegExifThumbnail(P.JpegMarkers);
    platform::TMemoryStream Out;
    IO.SaveJpegStream(Out);
    benchmark::DoNotOptimize(Out.Size());
  }
  State.counters["block_bytes"] = static_cast<double>(Block.size());
}
BENCHMARK(BM_ExifSaveTurned)->ArgName("crafted")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
