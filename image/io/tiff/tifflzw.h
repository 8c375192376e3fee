// The LZW coder of TIFF compression 5: codes most significant bit first, 9 to
// 12 bits, clear code 256, end-of-information code 257, the code width
// switched one code early. The TIFF reader and writer reach it only through
// the library-wide hooks (image/io/lzwhooks.h). Each strip or tile is one
// code stream with its own state, created by the first call and freed by a
// call without data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
class TStream;
}

namespace rv {

// The first call (State null) sets up on the DataSize bytes at Data, which
// must stay valid until the state is freed; later calls decode from there
// (their Data only has to be non-null). Each call answers the next RowSize
// decoded bytes, valid until the next call. A row the data end in the middle
// of is completed with zero bytes; a row with nothing left to decode, or
// corrupt data, answers null. A call with null Data frees the state.
std::uint8_t* TiffLzwDecompress(const std::uint8_t* Data, std::size_t DataSize, int RowSize,
                                void*& State);

// The first call (State null) starts the code stream with a clear code and
// codes Count bytes; later calls continue the same stream. A call with null
// Data writes the last codes and frees the state. The output goes straight to
// Stream in pieces of at most 254 bytes, without length bytes.
void TiffLzwCompress(const std::uint8_t* Data, int Count, platform::TStream* Stream, void*& State);

} // namespace rv
