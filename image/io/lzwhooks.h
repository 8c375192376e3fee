// The four library-wide LZW coder slots. They start empty; the application
// installs its GIF and TIFF coders when its main window is created. A codec
// that finds its slot empty fails (GIF) or writes uncompressed (TIFF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
class TStream;
}

namespace rv {

// Fills Width x Height palette indices of one frame; the stream stands on the
// LZW code-size byte.
using TGifLzwDecompressProc = void (*)(platform::TStream& stream, int height, int width,
                                       std::uint8_t* pixels, bool interlaced);
// Writes the code-size byte and the data sub-blocks of one frame.
using TGifLzwCompressProc = void (*)(platform::TStream& stream, int height, int width,
                                     int bitsPerPixel, const std::uint8_t* pixels, bool interlaced);
// One strip: the first call (state null) sets up on data, each call with data
// answers the next rowSize decoded bytes or null when the data are corrupt,
// a call with null data frees the state. dataSize bounds every read of data.
using TTiffLzwDecompressProc = std::uint8_t* (*)(const std::uint8_t* data, std::size_t dataSize,
                                                 int rowSize, void*& state);
// One strip: the first call (state null) starts the code stream with count
// bytes, later calls continue it, a call with null data ends it.
using TTiffLzwCompressProc = void (*)(const std::uint8_t* data, int count, platform::TStream* stream,
                                      void*& state);

extern TGifLzwDecompressProc RvDefaultGifLzwDecompress;
extern TGifLzwCompressProc RvDefaultGifLzwCompress;
extern TTiffLzwDecompressProc RvDefaultTiffLzwDecompress;
extern TTiffLzwCompressProc RvDefaultTiffLzwCompress;

} // namespace rv
