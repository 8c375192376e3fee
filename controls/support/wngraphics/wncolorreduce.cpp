#include "controls/support/wngraphics/wncolorreduce.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/application.h"

namespace wn {

using platform::EInvalidGraphic;
using platform::TBitmap;
using platform::TBitmapInfoHeader;
using platform::TPixelFormat;
using platform::TRGBQuad;

TColorReduction DefaultColorReduction = crPopularColors;

namespace {

constexpr const char* InvalidBitmapText = "Bitmap image is not valid";
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::int64_t FileHeaderSize = 14;
constexpr std::int64_t InfoHeaderBytes = 40;

// ------------------------------------------------------------ level tables

template <int N>
struct TLevels {
  std::array<std::uint8_t, N> Value{};
  std::array<std::uint8_t, 256> Nearest{};
  explicit TLevels(const std::array<std::uint8_t, N>& values) : Value(values) {
    for (int v = 0; v < 256; ++v) {
      int best = 0;
      for (int i = 1; i < N; ++i)
        if (std::abs(v - Value[i]) < std::abs(v - Value[best])) best = i;
      Nearest[v] = static_cast<std::uint8_t>(best);
    }
  }
};

const TLevels<4>& Levels4() {
  static const TLevels<4> t({0, 85, 170, 255});
  return t;
}
const TLevels<6>& Levels6() {
  static const TLevels<6> t({0, 51, 102, 153, 204, 255});
  return t;
}
const TLevels<7>& Levels7() {
  static const TLevels<7> t({0, 43, 85, 128, 170, 213, 255});
  return t;
}
const TLevels<8>& Levels8() {
  static const TLevels<8> t({0, 36, 73, 109, 146, 182, 219, 255});
  return t;
}

// ------------------------------------------------------------ DIB layout

int BitCountFor(const TBitmap& bitmap, TPixelFormat format) {
  switch (format) {
    case platform::pf1bit: return 1;
    case platform::pf4bit: return 4;
    case platform::pf8bit: return 8;
    case platform::pf24bit: return 24;
    default: return bitmap.BitsPerPixel();
  }
}

// 16-bit pixels of a 5-6-5 bitmap need their colour masks; 5-5-5 is the
// plain 16-bit layout.
bool UsesBitFields(const TBitmap& bitmap, int bitCount) {
  return bitCount == 16 && bitmap.PixelFormat() == platform::pf16bit;
}

std::int64_t InfoSizeFor(int bitCount, bool bitFields) {
  if (bitCount <= 8) return InfoHeaderBytes + 4 * (std::int64_t{1} << bitCount);
  return InfoHeaderBytes + (bitFields ? 12 : 0);
}

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

void WriteInfoHeader(std::uint8_t* p, const TBitmapInfoHeader& h) {
  Put32(p, h.biSize);
  Put32(p + 4, static_cast<std::uint32_t>(h.biWidth));
  Put32(p + 8, static_cast<std::uint32_t>(h.biHeight));
  Put16(p + 12, h.biPlanes);
  Put16(p + 14, h.biBitCount);
  Put32(p + 16, h.biCompression);
  Put32(p + 20, h.biSizeImage);
  Put32(p + 24, static_cast<std::uint32_t>(h.biXPelsPerMeter));
  Put32(p + 28, static_cast<std::uint32_t>(h.biYPelsPerMeter));
  Put32(p + 32, h.biClrUsed);
  Put32(p + 36, h.biClrImportant);
}

void WriteFileHeader(std::uint8_t* p, std::int64_t infoSize, std::int64_t imageSize) {
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, static_cast<std::uint32_t>(FileHeaderSize + infoSize + imageSize));
  Put32(p + 6, 0);
  Put32(p + 10, static_cast<std::uint32_t>(FileHeaderSize + infoSize));
}

// The header's 32-bit fields cannot describe a larger file.
void CheckFileSize(std::int64_t infoSize, std::int64_t imageSize) {
  if (FileHeaderSize + infoSize + imageSize > std::numeric_limits<std::uint32_t>::max())
    throw EInvalidGraphic(InvalidBitmapText);
}

// The bitmap in the palette format asked for: itself when it already has it,
// else a copy mapped to the nearest colours of that format's palette.
const TBitmap& InFormat(const TBitmap& bitmap, TPixelFormat format, std::unique_ptr<TBitmap>& copy) {
  if (bitmap.PixelFormat() == format) return bitmap;
  copy = std::make_unique<TBitmap>();
  copy->Assign(bitmap);
  copy->SetPixelFormat(format);
  return *copy;
}

// Palette and bottom-up rows of bitmap at bitCount bits into the caller's
// buffers (palette after the 40-byte header).
void FillDIB(const TBitmap& bitmap, int bitCount, std::uint8_t* info, std::uint8_t* bits) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const std::int64_t stride = BytesPerScanLine(width, bitCount, 32);
  std::uint8_t* colors = info + InfoHeaderBytes;
  if (bitCount <= 8) {
    const TPixelFormat format =
        bitCount == 1 ? platform::pf1bit : bitCount == 4 ? platform::pf4bit : platform::pf8bit;
    std::unique_ptr<TBitmap> copy;
    const TBitmap& source = InFormat(bitmap, format, copy);
    std::vector<platform::TPaletteEntry> entries(static_cast<std::size_t>(1) << bitCount);
    source.GetPaletteEntries(0, static_cast<int>(entries.size()), entries.data());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      colors[4 * i] = entries[i].peBlue;
      colors[4 * i + 1] = entries[i].peGreen;
      colors[4 * i + 2] = entries[i].peRed;
      colors[4 * i + 3] = 0;
    }
    const std::int64_t used = BytesPerScanLine(width, bitCount, 8);
    for (int y = 0; y < height; ++y)
      std::memcpy(bits + (height - 1 - y) * stride, source.ScanLine(y), static_cast<std::size_t>(used));
    return;
  }
  if (bitCount == 16) {
    if (UsesBitFields(bitmap, bitCount)) {
      Put32(colors, 0xF800);
      Put32(colors + 4, 0x07E0);
      Put32(colors + 8, 0x001F);
    }
    for (int y = 0; y < height; ++y)
      std::memcpy(bits + (height - 1 - y) * stride, bitmap.ScanLine(y), static_cast<std::size_t>(width) * 2);
    return;
  }
  const QImage image = bitmap.ToImage().convertToFormat(bitCount == 24 ? QImage::Format_BGR888
                                                                       : QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bits + (height - 1 - y) * stride;
    const std::uint8_t* s = image.constScanLine(y);
    if (bitCount == 24) {
      std::memcpy(row, s, static_cast<std::size_t>(width) * 3);
    } else {
      for (int x = 0; x < width; ++x) {
        const QRgb c = reinterpret_cast<const QRgb*>(s)[x];
        row[4 * x] = static_cast<std::uint8_t>(qBlue(c));
        row[4 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
        row[4 * x + 2] = static_cast<std::uint8_t>(qRed(c));
        row[4 * x + 3] = 0;
      }
    }
  }
}

// ------------------------------------------------------------ 8-bit reduction

// The 24-bit rows of a picture being reduced to 8 bits in place: row y of
// the result is written over the start of 24-bit row y, after that row was
// copied aside, so no row is overwritten before it is read.
struct TReduceTarget {
  std::uint8_t* Bits = nullptr;
  int Width = 0;
  int Height = 0;
  std::int64_t Stride24 = 0;
  std::int64_t Stride8 = 0;
  TRGBQuad* Palette = nullptr; // 256 entries, zeroed

  const std::uint8_t* Row24(int y) const { return Bits + y * Stride24; }

  // Converts each stored row with index(x, y, blue, green, red).
  template <typename F>
  void MapRows(F index) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(Stride24));
    for (int y = 0; y < Height; ++y) {
      std::memcpy(row.data(), Row24(y), row.size());
      std::uint8_t* out = Bits + y * Stride8;
      for (int x = 0; x < Width; ++x) {
        const std::uint8_t* p = row.data() + 3 * x;
        out[x] = static_cast<std::uint8_t>(index(x, y, p[0], p[1], p[2]));
      }
      std::memset(out + Width, 0, static_cast<std::size_t>(Stride8 - Width));
    }
  }
};

void SetQuad(TRGBQuad& q, int r, int g, int b, int reserved = 0) {
  q.rgbRed = static_cast<std::uint8_t>(r);
  q.rgbGreen = static_cast<std::uint8_t>(g);
  q.rgbBlue = static_cast<std::uint8_t>(b);
  q.rgbReserved = static_cast<std::uint8_t>(reserved);
}

int SquaredDistance(const TRGBQuad& q, int r, int g, int b) {
  const int dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - b;
  return dr * dr + dg * dg + db * db;
}

// --- popular colours

constexpr int PopularTableSize = 2049;
constexpr int PopularHashSize = 5191;
constexpr std::uint16_t EmptySlot = 0xFFFF;

struct TPopularEntry {
  std::uint8_t R = 0, G = 0, B = 0;
  std::int64_t Count = 0;
  int Index = -1;
};

class TPopularTable {
public:
  TPopularTable() : FHash(PopularHashSize, EmptySlot) { FEntries.reserve(PopularTableSize); }

  void Clear() {
    FEntries.clear();
    std::fill(FHash.begin(), FHash.end(), EmptySlot);
  }

  // The entry of a (masked) colour, added when new; -1 when the table is full.
  int Find(int r, int g, int b, bool add) {
    int slot = ((r + g) * (g + b) * (b + r)) % PopularHashSize;
    while (FHash[static_cast<std::size_t>(slot)] != EmptySlot) {
      const int i = FHash[static_cast<std::size_t>(slot)];
      const TPopularEntry& e = FEntries[static_cast<std::size_t>(i)];
      if (e.R == r && e.G == g && e.B == b) return i;
      slot = (slot + 1) % PopularHashSize;
    }
    if (!add || FEntries.size() >= PopularTableSize) return -1;
    TPopularEntry e;
    e.R = static_cast<std::uint8_t>(r);
    e.G = static_cast<std::uint8_t>(g);
    e.B = static_cast<std::uint8_t>(b);
    FEntries.push_back(e);
    FHash[static_cast<std::size_t>(slot)] = static_cast<std::uint16_t>(FEntries.size() - 1);
    return static_cast<int>(FEntries.size() - 1);
  }

  std::vector<TPopularEntry>& Entries() { return FEntries; }

private:
  std::vector<TPopularEntry> FEntries;
  std::vector<std::uint16_t> FHash;
};

int PopularColorsReduce(TReduceTarget& t, int n) {
  std::uint8_t maskR = 0xFF, maskG = 0xFF, maskB = 0xFF;
  TPopularTable table;
  for (;;) {
    table.Clear();
    bool full = false;
    for (int y = 0; y < t.Height && !full; ++y) {
      const std::uint8_t* p = t.Row24(y);
      for (int x = 0; x < t.Width; ++x, p += 3) {
        const int i = table.Find(p[2] & maskR, p[1] & maskG, p[0] & maskB, true);
        if (i < 0) {
          full = true;
          break;
        }
        ++table.Entries()[static_cast<std::size_t>(i)].Count;
      }
    }
    if (!full) break;
    // Too many colours: drop one more low bit, blue first, then red, then
    // green, and count again.
    if (maskR < maskG) maskG = static_cast<std::uint8_t>(maskG << 1);
    else if (maskR <= maskB) maskB = static_cast<std::uint8_t>(maskB << 1);
    else maskR = static_cast<std::uint8_t>(maskR << 1);
  }

  std::vector<TPopularEntry>& entries = table.Entries();
  const int chosen = std::min<int>(n, static_cast<int>(entries.size()));
  for (int k = 0; k < chosen; ++k) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < entries.size(); ++i)
      if (entries[i].Count > entries[best].Count) best = i;
    entries[best].Index = k;
    entries[best].Count = 0;
    SetQuad(t.Palette[k], entries[best].R, entries[best].G, entries[best].B);
  }
  for (int k = chosen; k < 256; ++k) SetQuad(t.Palette[k], 128, 128, 128);
  for (auto& e : entries) {
    if (e.Index >= 0) continue;
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int k = 0; k < n; ++k) {
      const int d = SquaredDistance(t.Palette[k], e.R, e.G, e.B);
      if (d < bestDistance) {
        bestDistance = d;
        best = k;
      }
    }
    e.Index = best;
  }
  t.MapRows([&](int, int, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    const int i = table.Find(r & maskR, g & maskG, b & maskB, false);
    return entries[static_cast<std::size_t>(i)].Index;
  });
  return chosen;
}

// --- median cut

constexpr int HistogramSize = 4096;
constexpr int MaxBoxes = 256;

struct THistogramEntry {
  std::uint8_t Nibble[3] = {0, 0, 0}; // red, green, blue
  std::uint8_t Index = 0;
  std::int64_t Count = 0;
};

struct TBox {
  int Lower[3] = {0, 0, 0};
  int Extent[3] = {255, 255, 255};
  std::int64_t Pixels = 0;
  std::vector<int> Entries; // histogram entry numbers; their number is the colour count
};

class TChannelSorter {
public:
  TChannelSorter(const std::vector<THistogramEntry>& histogram, int channel)
      : FHistogram(histogram), FChannel(channel) {}

  // Quicksort about the middle element; short runs by insertion.
  void Sort(std::vector<int>& a, int lo, int hi) const {
    while (hi - lo + 1 >= 8) {
      const int pivot = Key(a[static_cast<std::size_t>((lo + hi) / 2)]);
      int i = lo, j = hi;
      while (i <= j) {
        while (Key(a[static_cast<std::size_t>(i)]) < pivot) ++i;
        while (Key(a[static_cast<std::size_t>(j)]) > pivot) --j;
        if (i <= j) {
          std::swap(a[static_cast<std::size_t>(i)], a[static_cast<std::size_t>(j)]);
          ++i;
          --j;
        }
      }
      if (lo < j) Sort(a, lo, j);
      lo = i;
    }
    for (int i = lo + 1; i <= hi; ++i) {
      const int v = a[static_cast<std::size_t>(i)];
      int j = i - 1;
      while (j >= lo && Key(a[static_cast<std::size_t>(j)]) > Key(v)) {
        a[static_cast<std::size_t>(j + 1)] = a[static_cast<std::size_t>(j)];
        --j;
      }
      a[static_cast<std::size_t>(j + 1)] = v;
    }
  }

private:
  int Key(int entry) const { return FHistogram[static_cast<std::size_t>(entry)].Nibble[FChannel]; }
  const std::vector<THistogramEntry>& FHistogram;
  int FChannel;
};

int MedianCutReduce(TReduceTarget& t, int n) {
  std::vector<THistogramEntry> histogram(HistogramSize);
  for (int i = 0; i < HistogramSize; ++i) {
    histogram[static_cast<std::size_t>(i)].Nibble[0] = static_cast<std::uint8_t>(i >> 8);
    histogram[static_cast<std::size_t>(i)].Nibble[1] = static_cast<std::uint8_t>((i >> 4) & 15);
    histogram[static_cast<std::size_t>(i)].Nibble[2] = static_cast<std::uint8_t>(i & 15);
  }
  std::vector<std::uint16_t> pixelEntries(static_cast<std::size_t>(t.Width) *
                                          static_cast<std::size_t>(t.Height));
  std::size_t k = 0;
  for (int y = 0; y < t.Height; ++y) {
    const std::uint8_t* p = t.Row24(y);
    for (int x = 0; x < t.Width; ++x, p += 3) {
      const int entry = (p[2] >> 4) * 256 + (p[1] >> 4) * 16 + (p[0] >> 4);
      ++histogram[static_cast<std::size_t>(entry)].Count;
      pixelEntries[k++] = static_cast<std::uint16_t>(entry);
    }
  }

  std::vector<TBox> boxes;
  boxes.reserve(MaxBoxes);
  boxes.emplace_back();
  boxes[0].Pixels = static_cast<std::int64_t>(t.Width) * t.Height;
  for (int i = 0; i < HistogramSize; ++i)
    if (histogram[static_cast<std::size_t>(i)].Count > 0) boxes[0].Entries.push_back(i);

  const int limit = std::min(n, MaxBoxes);
  while (static_cast<int>(boxes.size()) < limit) {
    int boxIndex = -1, channel = 0, greatest = -1;
    for (std::size_t b = 0; b < boxes.size(); ++b) {
      if (boxes[b].Entries.size() < 2) continue;
      for (int c = 0; c < 3; ++c)
        if (boxes[b].Extent[c] > greatest) {
          greatest = boxes[b].Extent[c];
          boxIndex = static_cast<int>(b);
          channel = c;
        }
    }
    if (boxIndex < 0) break;
    TBox& box = boxes[static_cast<std::size_t>(boxIndex)];
    std::vector<int>& e = box.Entries;
    const int count = static_cast<int>(e.size());
    TChannelSorter(histogram, channel).Sort(e, 0, count - 1);
    const std::int64_t half = box.Pixels / 2;
    std::int64_t lowerSum = histogram[static_cast<std::size_t>(e[0])].Count;
    int split = 1;
    while (split < count - 1 && lowerSum + histogram[static_cast<std::size_t>(e[static_cast<std::size_t>(split)])].Count <= half) {
      lowerSum += histogram[static_cast<std::size_t>(e[static_cast<std::size_t>(split)])].Count;
      ++split;
    }
    TBox upper;
    std::copy(std::begin(box.Lower), std::end(box.Lower), upper.Lower);
    std::copy(std::begin(box.Extent), std::end(box.Extent), upper.Extent);
    upper.Entries.assign(e.begin() + split, e.end());
    upper.Pixels = box.Pixels - lowerSum;
    const int oldLower = box.Lower[channel];
    upper.Lower[channel] = histogram[static_cast<std::size_t>(upper.Entries.front())].Nibble[channel] * 16;
    upper.Extent[channel] = oldLower + box.Extent[channel] - upper.Lower[channel];
    box.Extent[channel] = histogram[static_cast<std::size_t>(e[static_cast<std::size_t>(split - 1)])].Nibble[channel] * 16 - oldLower;
    e.resize(static_cast<std::size_t>(split));
    box.Pixels = lowerSum;
    boxes.push_back(std::move(upper)); // box is not used past this point
  }

  for (std::size_t b = 0; b < boxes.size(); ++b) {
    int sum[3] = {0, 0, 0};
    for (const int entry : boxes[b].Entries) {
      THistogramEntry& h = histogram[static_cast<std::size_t>(entry)];
      h.Index = static_cast<std::uint8_t>(b);
      for (int c = 0; c < 3; ++c) sum[c] += h.Nibble[c];
    }
    const int colors = static_cast<int>(boxes[b].Entries.size());
    int value[3];
    for (int c = 0; c < 3; ++c) value[c] = (16 * sum[c] + 15) / colors;
    if (value[0] <= 16 && value[1] <= 16 && value[2] <= 16) value[0] = value[1] = value[2] = 0;
    SetQuad(t.Palette[b], value[0], value[1], value[2]);
  }
  for (std::size_t b = boxes.size(); b < 256; ++b) SetQuad(t.Palette[b], 0, 0, 0);

  t.MapRows([&](int x, int y, std::uint8_t, std::uint8_t, std::uint8_t) {
    const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(t.Width) +
                          static_cast<std::size_t>(x);
    return histogram[pixelEntries[i]].Index;
  });
  return static_cast<int>(boxes.size());
}

// --- fixed palettes

void Palette784Reduce(TReduceTarget& t) {
  const auto& l4 = Levels4();
  const auto& l7 = Levels7();
  const auto& l8 = Levels8();
  for (int i = 0; i < 256; ++i) SetQuad(t.Palette[i], 128, 128, 128, 128);
  for (int r = 0; r < 7; ++r)
    for (int g = 0; g < 8; ++g)
      for (int b = 0; b < 4; ++b) SetQuad(t.Palette[(r * 8 + g) * 4 + b], l7.Value[r], l8.Value[g], l4.Value[b]);
  t.MapRows([&](int, int, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    return (l7.Nearest[r] * 8 + l8.Nearest[g]) * 4 + l4.Nearest[b];
  });
}

void Palette666Reduce(TReduceTarget& t) {
  const auto& l6 = Levels6();
  for (int i = 0; i < 256; ++i) SetQuad(t.Palette[i], 128, 128, 128, 128);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) SetQuad(t.Palette[(r * 6 + g) * 6 + b], l6.Value[r], l6.Value[g], l6.Value[b]);
  t.MapRows([&](int, int, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    return (l6.Nearest[r] * 6 + l6.Nearest[g]) * 6 + l6.Nearest[b];
  });
}

void ChannelPatternReduce(TReduceTarget& t) {
  for (int i = 0; i < 64; ++i) {
    SetQuad(t.Palette[i], 4 * i, 0, 0);
    SetQuad(t.Palette[64 + i], 0, 4 * i, 0);
    SetQuad(t.Palette[128 + i], 0, 0, 4 * i);
    SetQuad(t.Palette[192 + i], 0, 0, 0);
  }
  t.MapRows([&](int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    switch ((x + y) % 3) {
      case 0: return r / 4;
      case 1: return 64 + g / 4;
      default: return 128 + b / 4;
    }
  });
}

void GrayscaleReduce(TReduceTarget& t) {
  for (int i = 0; i < 256; ++i) SetQuad(t.Palette[i], i, i, i);
  t.MapRows([&](int, int, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    return (77 * r + 150 * g + 29 * b) / 256;
  });
}

std::unique_ptr<platform::TMemoryStream> StreamOf(const std::vector<std::uint8_t>& block) {
  auto stream = std::make_unique<platform::TMemoryStream>();
  stream->WriteBuffer(block.data(), static_cast<std::int64_t>(block.size()));
  stream->SetPosition(0);
  return stream;
}

std::unique_ptr<platform::TMemoryStream> Reduced8Bit(const TBitmap& bitmap, TColorReduction method) {
  std::int64_t info24 = 0, image24 = 0;
  GetDIBSizes(bitmap, info24, image24, platform::pf24bit);
  std::vector<std::uint8_t> info(static_cast<std::size_t>(info24));
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(image24));
  GetDIBBits(bitmap, info.data(), bits.data(), platform::pf24bit);
  if (info[14] != 24) throw platform::EAbort();

  TBitmapInfoHeader header;
  InitBitmapInfoHeader(bitmap, header, platform::pf8bit);
  const std::int64_t infoSize = InfoSizeFor(8, false);
  CheckFileSize(infoSize, header.biSizeImage);

  std::array<TRGBQuad, 256> palette{};
  TReduceTarget target;
  target.Bits = bits.data();
  target.Width = bitmap.Width();
  target.Height = bitmap.Height();
  target.Stride24 = BytesPerScanLine(target.Width, 24, 32);
  target.Stride8 = BytesPerScanLine(target.Width, 8, 32);
  target.Palette = palette.data();
  switch (method) {
    case crPopularColors: PopularColorsReduce(target, 256); break;
    case crMedianCut: header.biClrImportant = static_cast<std::uint32_t>(MedianCutReduce(target, 256)); break;
    case crPalette784:
      Palette784Reduce(target);
      header.biClrImportant = 224;
      break;
    case crPalette666:
      Palette666Reduce(target);
      header.biClrImportant = 216;
      break;
    case crChannelPattern: ChannelPatternReduce(target); break;
    case crGrayscale: GrayscaleReduce(target); break;
  }

  const std::int64_t imageSize = header.biSizeImage;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(FileHeaderSize + infoSize + imageSize));
  WriteFileHeader(block.data(), infoSize, imageSize);
  WriteInfoHeader(block.data() + FileHeaderSize, header);
  std::uint8_t* colors = block.data() + FileHeaderSize + InfoHeaderBytes;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    colors[4 * i] = palette[i].rgbBlue;
    colors[4 * i + 1] = palette[i].rgbGreen;
    colors[4 * i + 2] = palette[i].rgbRed;
    colors[4 * i + 3] = palette[i].rgbReserved;
  }
  std::memcpy(block.data() + FileHeaderSize + infoSize, bits.data(), static_cast<std::size_t>(imageSize));
  return StreamOf(block);
}

} // namespace

std::int64_t BytesPerScanLine(std::int64_t Width, std::int64_t Bits, std::int64_t Alignment) {
  return (Width * Bits + Alignment - 1) / Alignment * Alignment / 8;
}

void InitBitmapInfoHeader(const TBitmap& Bitmap, TBitmapInfoHeader& Header, TPixelFormat PixelFormat) {
  if (Bitmap.Empty()) throw EInvalidGraphic(InvalidBitmapText);
  Header = TBitmapInfoHeader();
  Header.biWidth = Bitmap.Width();
  Header.biHeight = Bitmap.Height();
  Header.biPlanes = 1;
  const int bitCount = BitCountFor(Bitmap, PixelFormat);
  Header.biBitCount = static_cast<std::uint16_t>(bitCount);
  Header.biCompression = UsesBitFields(Bitmap, bitCount) ? BI_BITFIELDS : BI_RGB;
  const std::int64_t imageSize = BytesPerScanLine(Bitmap.Width(), bitCount, 32) * Bitmap.Height();
  // The image size field is 32 bits wide.
  if (imageSize > std::numeric_limits<std::uint32_t>::max()) throw EInvalidGraphic(InvalidBitmapText);
  Header.biSizeImage = static_cast<std::uint32_t>(imageSize);
}

void GetDIBSizes(const TBitmap& Bitmap, std::int64_t& InfoHeaderSize, std::int64_t& ImageSize,
                 TPixelFormat PixelFormat) {
  TBitmapInfoHeader header;
  InitBitmapInfoHeader(Bitmap, header, PixelFormat);
  InfoHeaderSize = InfoSizeFor(header.biBitCount, header.biCompression == BI_BITFIELDS);
  ImageSize = header.biSizeImage;
}

bool GetDIBBits(const TBitmap& Bitmap, void* BitmapInfo, void* Bits, TPixelFormat PixelFormat) {
  TBitmapInfoHeader header;
  InitBitmapInfoHeader(Bitmap, header, PixelFormat);
  auto* info = static_cast<std::uint8_t*>(BitmapInfo);
  const std::int64_t infoSize = InfoSizeFor(header.biBitCount, header.biCompression == BI_BITFIELDS);
  std::memset(info, 0, static_cast<std::size_t>(infoSize));
  std::memset(Bits, 0, header.biSizeImage);
  WriteInfoHeader(info, header);
  FillDIB(Bitmap, header.biBitCount, info, static_cast<std::uint8_t*>(Bits));
  return true;
}

std::vector<std::uint8_t> DIBFromBitmap(const TBitmap& Bitmap, TPixelFormat PixelFormat) {
  std::int64_t infoSize = 0, imageSize = 0;
  GetDIBSizes(Bitmap, infoSize, imageSize, PixelFormat);
  CheckFileSize(infoSize, imageSize);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(FileHeaderSize + infoSize + imageSize));
  WriteFileHeader(block.data(), infoSize, imageSize);
  GetDIBBits(Bitmap, block.data() + FileHeaderSize, block.data() + FileHeaderSize + infoSize, PixelFormat);
  return block;
}

std::unique_ptr<platform::TMemoryStream> BitmapToBMPStream(const TBitmap& Bitmap, TPixelFormat PixelFormat,
                                                           TColorReduction Method) {
  if (Bitmap.Empty()) throw EInvalidGraphic(InvalidBitmapText);
  if (PixelFormat == Bitmap.PixelFormat() && Method != crGrayscale)
    return StreamOf(DIBFromBitmap(Bitmap, PixelFormat));
  switch (PixelFormat) {
    case platform::pf1bit:
    case platform::pf4bit:
    // A true-colour image is asked for only with more than 256 colours: it
    // gets the picture as it stands, at 24 bits.
    case platform::pf24bit: return StreamOf(DIBFromBitmap(Bitmap, PixelFormat));
    case platform::pf8bit: return Reduced8Bit(Bitmap, Method);
    default: throw platform::EAbort();
  }
}

std::unique_ptr<platform::TMemoryStream> BitmapToBMPStreamByColors(const TBitmap& Bitmap, int Colors) {
  TPixelFormat format = platform::pf24bit;
  if (Colors <= 2) format = platform::pf1bit;
  else if (Colors <= 16) format = platform::pf4bit;
  else if (Colors <= 256) format = platform::pf8bit;
  return BitmapToBMPStream(Bitmap, format, DefaultColorReduction);
}

} // namespace wn
