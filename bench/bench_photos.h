// Photograph-like picture files made once for the benchmarks that open real
// files, and the process's resident memory.
#pragma once

#include "bench_support.h" // before Qt

#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "image/io/rastrumio.h"

namespace bench {

inline bool FileExists(const std::string& Path) {
  struct stat St {};
  return ::stat(Path.c_str(), &St) == 0 && St.st_size > 0;
}

// Writes a Width x Height photograph-like picture to Path in the format of
// its extension, unless the file is there already.
inline void WritePhoto(const std::string& Path, int Width, int Height, std::uint32_t Seed, int JpegQuality = 85) {
  if (FileExists(Path)) return;
  rv::TRastrumIO IO;
  rv::TRvBitmap& B = *IO.RvBitmap();
  B.Allocate(Width, Height, rv::rvpf24Bit);
  const std::vector<std::uint8_t> Bytes = PhotoLikeBytes(Width, Height, Seed);
  for (int Y = 0; Y < Height; ++Y)
    std::memcpy(B.Scanline(Y), Bytes.data() + static_cast<std::size_t>(Y) * Width * 3, static_cast<std::size_t>(Width) * 3);
  IO.Params().JpegQuality = JpegQuality;
  IO.Params().PngCompression = 3;
  IO.SaveToFile(Path);
}

inline double ResidentMB() {
  std::ifstream Statm("/proc/self/statm");
  long Pages = 0, Resident = 0;
  Statm >> Pages >> Resident;
  return Resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

} // namespace bench
