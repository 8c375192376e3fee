#include "image/io/rvknownformat.h"

#include "image/io/rvformats.h"

namespace rv {

bool RvIsKnownFormat(const std::string& fileName) {
  return RvFindFileFormatInfoByExt(RvExtractExtension(fileName)) != nullptr;
}

} // namespace rv
