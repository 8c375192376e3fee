#include "image/io/lzwhooks.h"

namespace rv {

TGifLzwDecompressProc RvDefaultGifLzwDecompress = nullptr;
TGifLzwCompressProc RvDefaultGifLzwCompress = nullptr;
TTiffLzwDecompressProc RvDefaultTiffLzwDecompress = nullptr;
TTiffLzwCompressProc RvDefaultTiffLzwCompress = nullptr;

} // namespace rv
