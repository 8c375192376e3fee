#include "controls/kel/kelutils.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unistd.h>
#include <vector>

namespace kel {

namespace {

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

std::string ProgramFolderFromProc() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

TRect KelFitRect(const TRect& source, const TRect& target) {
  const long double sw = source.Right - source.Left;
  const long double sh = source.Bottom - source.Top;
  // An empty source has no proportions to keep: it fits as an empty rectangle.
  if (sw <= 0 || sh <= 0) return {target.Left, target.Top, target.Left, target.Top};
  const long double scale =
      std::min((target.Right - target.Left) / sw, (target.Bottom - target.Top) / sh);
  const int width = static_cast<int>(std::trunc(sw * scale));
  const int height = static_cast<int>(std::trunc(sh * scale));
  return {target.Left, target.Top, target.Left + width, target.Top + height};
}

void KelRectSize(const TRect& rect, int& width, int& height) {
  width = rect.Right - rect.Left;
  height = rect.Bottom - rect.Top;
}

void KelRotatedBounds(TRect& rect, double angle) {
  if (angle == 0) return;
  const double radians = angle * 0.017453292519943295;
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  const int cx = (rect.Left + rect.Right) / 2;
  const int cy = (rect.Top + rect.Bottom) / 2;
  const int xs[4] = {rect.Left, rect.Right, rect.Right, rect.Left};
  const int ys[4] = {rect.Top, rect.Top, rect.Bottom, rect.Bottom};
  int minX = std::numeric_limits<int>::max(), minY = minX;
  int maxX = std::numeric_limits<int>::min(), maxY = maxX;
  for (int i = 0; i < 4; ++i) {
    const double dx = xs[i] - cx;
    const double dy = ys[i] - cy;
    const int x = RoundHalfEven(dx * c) - RoundHalfEven(dy * s);
    const int y = RoundHalfEven(dx * s) + RoundHalfEven(dy * c);
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  rect = {0, 0, maxX - minX, maxY - minY};
}

// An empty array would read before its first element; it gives 0 instead.
int KelMaxOf(std::span<const int> values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

int KelMinOf(std::span<const int> values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double KelMinOfExtended(std::span<const double> values) {
  return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

std::string KelAppFolder() {
  if (QCoreApplication::instance()) {
    const std::string dir = QCoreApplication::applicationDirPath().toStdString();
    if (!dir.empty()) return dir;
  }
  return ProgramFolderFromProc();
}

std::string KelWindowsFolder() { return "/usr/share"; }

std::string KelSystemFolder() { return "/usr/lib"; }

std::string KelSpecialFolder(int kind, bool withSlash) {
  std::string folder;
  switch (kind) {
  case sfWindows: folder = KelWindowsFolder(); break;
  case sfSystem: folder = KelSystemFolder(); break;
  case sfApplication: folder = KelAppFolder(); break;
  default: return {};
  }
  if (withSlash) {
    if (folder.empty() || folder.back() != '/') folder += '/';
  } else {
    // The root folder keeps its only separator.
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  }
  return folder;
}

} // namespace kel

// ---- block codec

namespace kel {

namespace {

constexpr std::uint8_t kelBlockStored = 0x80;
constexpr std::uint8_t kelBlockCompressed = 0x40;
constexpr std::uint16_t kelHashEmpty = 0xFFFF;

} // namespace

std::size_t KelCompressBlock(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  const std::size_t n = input.size();
  if (n > kelBlockMaxInput) throw EKelBlockError("Block too large");
  if (output.size() < n + kelBlockOutputMargin) throw EKelBlockError("Block output too small");
  const std::uint8_t* in = input.data();
  std::uint8_t* out = output.data();
  std::vector<std::uint16_t> table(4096, kelHashEmpty);

  out[0] = kelBlockCompressed;
  std::size_t x = 0, y = 3, z = 1;
  int bits = 0;
  std::uint16_t control = 0;
  while (x < n && y <= n) {
    if (bits > 15) {
      out[z] = static_cast<std::uint8_t>(control >> 8);
      out[z + 1] = static_cast<std::uint8_t>(control);
      z = y;
      bits = 0;
      y += 2;
    }
    // The end is tested before the byte is read: nothing past the input is touched.
    std::size_t run = 1;
    while (x + run < n && run < 4095 && in[x] == in[x + run]) ++run;
    if (run >= 16) {
      const std::size_t count = run - 16;
      out[y] = 0;
      out[y + 1] = static_cast<std::uint8_t>(count >> 8);
      out[y + 2] = static_cast<std::uint8_t>(count);
      out[y + 3] = in[x];
      y += 4;
      x += run;
      control = static_cast<std::uint16_t>(control * 2 + 1);
    } else {
      std::size_t match = 0;
      std::size_t distance = 0;
      // Fewer than three bytes left can never match; the hash would read past the input.
      if (x + 2 < n) {
        const std::uint32_t key = ((((std::uint32_t(in[x]) << 4) ^ in[x + 1]) << 4) ^ in[x + 2]);
        const std::uint32_t h = ((key * 40543u) >> 4) & 0xFFF;
        const std::uint16_t candidate = table[h];
        table[h] = static_cast<std::uint16_t>(x);
        const auto signedCandidate = static_cast<std::int16_t>(candidate);
        if (candidate != kelHashEmpty && static_cast<std::int64_t>(x) - signedCandidate < 4096) {
          distance = x - static_cast<std::size_t>(signedCandidate);
          while (match < 18 && x + match < n && in[x + match] == in[signedCandidate + match]) ++match;
        }
      }
      if (match >= 3) {
        const auto item = static_cast<std::uint16_t>((distance << 4) + (match - 3));
        out[y] = static_cast<std::uint8_t>(item >> 8);
        out[y + 1] = static_cast<std::uint8_t>(item);
        y += 2;
        x += match;
        control = static_cast<std::uint16_t>(control * 2 + 1);
      } else {
        out[y] = in[x];
        y += 1;
        x += 1;
        control = static_cast<std::uint16_t>(control * 2);
      }
    }
    ++bits;
  }
  control = static_cast<std::uint16_t>(control << (16 - bits));
  out[z] = static_cast<std::uint8_t>(control >> 8);
  out[z + 1] = static_cast<std::uint8_t>(control);
  if (y > n) {
    if (n) std::memcpy(out + 1, in, n);
    out[0] = kelBlockStored;
    return n + 1;
  }
  return y;
}

std::size_t KelDecompressBlock(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  const std::size_t b = input.size();
  if (b == 0) return 0;
  const std::uint8_t* in = input.data();
  std::uint8_t* out = output.data();
  const std::size_t capacity = output.size();
  if (in[0] == kelBlockStored) {
    // A damaged length must not write past the expanded block.
    if (b - 1 > capacity) throw EKelBlockError("Damaged block: stored data too long");
    if (b > 1) std::memcpy(out, in + 1, b - 1);
    return b - 1;
  }
  if (in[0] != kelBlockCompressed) throw EKelBlockError("Damaged block: unknown method");
  if (b <= 3) return 0;

  std::size_t pos = 1, written = 0;
  while (pos < b) {
    if (b - pos < 2) throw EKelBlockError("Damaged block: control word cut short");
    std::uint16_t control = static_cast<std::uint16_t>((in[pos] << 8) | in[pos + 1]);
    pos += 2;
    for (int item = 0; item < 16 && pos < b; ++item, control = static_cast<std::uint16_t>(control << 1)) {
      if (!(control & 0x8000)) {
        if (written >= capacity) throw EKelBlockError("Damaged block: output too long");
        out[written++] = in[pos++];
        continue;
      }
      if (b - pos < 2) throw EKelBlockError("Damaged block: item cut short");
      const std::size_t offset = std::size_t(in[pos]) * 16 + (in[pos + 1] >> 4);
      if (offset != 0) {
        const std::size_t length = (in[pos + 1] & 15) + 3;
        pos += 2;
        if (offset > written) throw EKelBlockError("Damaged block: reference before the start");
        if (length > capacity - written) throw EKelBlockError("Damaged block: output too long");
        // Byte by byte: an overlapping copy repeats its pattern.
        for (std::size_t i = 0; i < length; ++i, ++written) out[written] = out[written - offset];
      } else {
        if (b - pos < 4) throw EKelBlockError("Damaged block: run cut short");
        const std::size_t length = std::size_t(in[pos + 1]) * 256 + in[pos + 2] + 16;
        const std::uint8_t value = in[pos + 3];
        pos += 4;
        if (length > capacity - written) throw EKelBlockError("Damaged block: output too long");
        std::memset(out + written, value, length);
        written += length;
      }
    }
  }
  return written;
}

} // namespace kel
