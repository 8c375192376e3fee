#include "image/io/rvknownformat.h"

#include <array>
#include <string_view>

namespace rv {

bool RvIsKnownFormat(const std::string& fileName) {
  // The extensions of the fourteen registered formats, in registration order.
  static constexpr std::array<std::string_view, 30> kExtensions = {
      "tif", "tiff", "fax", "g3n", "g3f", "gif", "jpg", "jpeg", "jpe", "pcx",
      "bmp", "dib",  "rle", "ico", "cur", "png", "wmf", "emf",  "tga", "targa",
      "vda", "icb",  "vst", "pix", "pxm", "ppm", "pgm", "pbm",  "jp2", "j2k"};
  static constexpr std::array<std::string_view, 2> kMore = {"jpc", "j2c"};
  size_t slash = fileName.find_last_of("/\\");
  size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = fileName.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (auto e : kExtensions)
    if (ext == e) return true;
  for (auto e : kMore)
    if (ext == e) return true;
  return false;
}

} // namespace rv
