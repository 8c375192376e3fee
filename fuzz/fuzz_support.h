// Set-up shared by the codec fuzzers: low caps keep every input small and
// fast, and the program's LZW coders are installed as at start-up.
#pragma once

#include <cstdint>

#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/tifflzw.h"

inline void FuzzSetUp(std::int64_t MaxPixels, std::int64_t MaxAllocation) {
  static const bool done = [&] {
    rv::RvSetMaxPixels(MaxPixels);
    rv::RvSetMaxAllocation(MaxAllocation);
    rv::RvDefaultGifLzwDecompress = rv::GifLzwDecompress;
    rv::RvDefaultGifLzwCompress = rv::GifLzwCompress;
    rv::RvDefaultTiffLzwDecompress = rv::TiffLzwDecompress;
    rv::RvDefaultTiffLzwCompress = rv::TiffLzwCompress;
    return true;
  }();
  (void)done;
}
