// CCITT rows as the TIFF reader asks for them: arbitrary bytes decoded at a
// small width in one scheme, whole and for their first pixels only, which
// must be the same. The bytes read as rows must also survive our encoder and
// decoder in that scheme.
#include "image/io/tiff/ccittfax.h"
#include "platform/stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int scheme = data[0] & 3;
  const int fillOrder = (data[0] & 4) != 0 ? 2 : 1;
  const bool fillBits = (data[0] & 8) != 0;
  const int width = 1 + data[1] % 160;
  const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
  const std::vector<std::uint8_t> input(data + 2, data + size);

  auto decode = [&](const std::vector<std::uint8_t>& bytes, int order, bool fill, int rows, int shown = -1) {
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> row(rowBytes);
    rv::TFaxRefRow ref;
    const auto n = static_cast<std::int64_t>(bytes.size());
    std::int64_t pos = 0;
    for (int y = 0; y < rows; ++y) {
      if (scheme == 0) {
        const std::int64_t at = std::min(pos, n);
        pos += rv::FaxDecodeRowMH(row.data(), bytes.data() + at, n - at, width, order, shown);
      } else if (scheme == 1) {
        pos = rv::FaxDecodeRow1D(row.data(), bytes.data(), n, width, order, pos, shown);
      } else {
        pos = rv::FaxDecodeRow2D(row.data(), bytes.data(), n, fill, order, pos, ref, width, shown);
      }
      if (pos > n * 8 && scheme != 0) std::abort();
      all.insert(all.end(), row.begin(), row.end());
    }
    return all;
  };
  const std::vector<std::uint8_t> whole = decode(input, fillOrder, fillBits, 64);
  const int shown = width / 2;
  const std::vector<std::uint8_t> part = decode(input, fillOrder, fillBits, 64, shown);
  for (std::size_t y = 0; y < 64; ++y)
    for (int x = 0; x < shown; ++x) {
      const std::size_t at = y * rowBytes + static_cast<std::size_t>(x >> 3);
      if (((whole[at] ^ part[at]) & (0x80 >> (x & 7))) != 0) std::abort();
    }

  const int rows = static_cast<int>(input.size() / rowBytes);
  platform::TMemoryStream out;
  rv::TRvAbortFlag aborting{false};
  int pendingBits = 0;
  std::uint8_t pendingByte = 0;
  std::vector<std::uint8_t> ref;
  for (int y = 0; y <= rows; ++y) {
    const std::uint8_t* r = y < rows ? input.data() + static_cast<std::size_t>(y) * rowBytes : nullptr;
    if (scheme == 0) {
      if (r != nullptr) rv::FaxEncodeRowMH(r, width, out, aborting);
    } else if (scheme == 1) {
      rv::FaxEncodeRow1D(r, width, out, aborting, pendingBits, pendingByte);
    } else if (scheme == 2) {
      rv::FaxEncodeRowG3(r, width, out, aborting, ref, pendingBits, pendingByte);
    } else {
      rv::FaxEncodeRowG4(r, width, out, aborting, ref, pendingBits, pendingByte);
    }
  }
  const std::vector<std::uint8_t> back = decode(out.Data(), 1, false, rows);
  const int spare = static_cast<int>(rowBytes * 8) - width;
  for (int y = 0; y < rows; ++y)
    for (std::size_t i = 0; i < rowBytes; ++i) {
      std::uint8_t want = static_cast<std::uint8_t>(~input[static_cast<std::size_t>(y) * rowBytes + i]);
      if (i + 1 == rowBytes) want |= static_cast<std::uint8_t>((1u << spare) - 1u);
      if (back[static_cast<std::size_t>(y) * rowBytes + i] != want) std::abort();
    }
  return 0;
}
