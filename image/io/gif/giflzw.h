// The variable-length-code LZW coder of GIF image data. The GIF codec never
// calls it by name: the application installs these two procedures into the
// library-wide hooks (image/io/lzwhooks.h).
#pragma once

#include <cstdint>

namespace platform {
class TStream;
}

namespace rv {

// The stream stands on the LZW minimum-code-size byte. On success the Width x
// Height indices are in Pixels, top row first, and the stream is left after
// the data's block terminator; pixels the data do not reach keep their
// contents. On failure the stream is moved back to the code-size byte.
void GifLzwDecompress(platform::TStream& Stream, int Height, int Width, std::uint8_t* Pixels,
                      bool Interlaced);

// Writes the code-size byte, the data sub-blocks and the terminating 0 byte for
// Width x Height indices of BitsPerPixel bits each.
void GifLzwCompress(platform::TStream& Stream, int Height, int Width, int BitsPerPixel,
                    const std::uint8_t* Pixels, bool Interlaced);

} // namespace rv
