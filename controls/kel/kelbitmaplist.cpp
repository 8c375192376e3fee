#include "controls/kel/kelbitmaplist.h"

#include <QPainter>
#include <algorithm>
#include <cstring>
#include <limits>

#include "controls/kel/kelutils.h"

namespace kel {

using platform::EInvalidGraphic;
using platform::EStreamError;
using platform::TBitmap;
using platform::TColor;
using platform::TMemoryStream;
using platform::TPaletteEntry;
using platform::TStream;

namespace {

void WriteU32(TStream& stream, std::uint32_t value) {
  const std::uint8_t b[4] = {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
                             std::uint8_t(value >> 24)};
  stream.WriteBuffer(b, 4);
}

std::uint32_t ReadU32(TStream& stream) {
  std::uint8_t b[4];
  stream.ReadBuffer(b, 4);
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

std::uint8_t ReadU8(TStream& stream) {
  std::uint8_t b;
  stream.ReadBuffer(&b, 1);
  return b;
}

std::int64_t Remaining(TStream& stream) { return std::max<std::int64_t>(0, stream.Size() - stream.Position()); }

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = std::uint8_t(v);
  out[at + 1] = std::uint8_t(v >> 8);
}
void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  Put16(out, at, v);
  Put16(out, at + 2, v >> 16);
}
std::uint32_t Get16(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }

constexpr std::size_t kFileHeader = 14;
constexpr std::size_t kInfoHeader = 40;

// A BMP file image of bitmap, whose format must be 1, 4, 8 or 24 bits; any
// other format is written as 32 bits.
std::vector<std::uint8_t> WriteBmp(const TBitmap& bitmap) {
  const int width = bitmap.Width(), height = bitmap.Height();
  const platform::TPixelFormat format = bitmap.PixelFormat();
  int bits = 32;
  if (format == platform::pf1bit) bits = 1;
  else if (format == platform::pf4bit) bits = 4;
  else if (format == platform::pf8bit) bits = 8;
  else if (format == platform::pf24bit) bits = 24;
  const std::size_t colors = bits <= 8 ? std::size_t(1) << bits : 0;
  const std::size_t rowSize = (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
  const std::size_t imageSize = rowSize * std::size_t(height);
  const std::size_t offBits = kFileHeader + kInfoHeader + 4 * colors;
  std::vector<std::uint8_t> out(offBits + imageSize, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, std::uint32_t(out.size()));
  Put32(out, 10, std::uint32_t(offBits));
  Put32(out, 14, 40);
  Put32(out, 18, std::uint32_t(width));
  Put32(out, 22, std::uint32_t(height));
  Put16(out, 26, 1);
  Put16(out, 28, std::uint32_t(bits));
  Put32(out, 34, std::uint32_t(imageSize));
  if (colors != 0) {
    std::vector<TPaletteEntry> entries(colors);
    bitmap.GetPaletteEntries(0, int(colors), entries.data());
    for (std::size_t i = 0; i < colors; ++i) {
      std::uint8_t* q = &out[kFileHeader + kInfoHeader + 4 * i];
      q[0] = entries[i].peBlue;
      q[1] = entries[i].peGreen;
      q[2] = entries[i].peRed;
    }
  }
  if (bits == 32) {
    const QImage image = bitmap.ToImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
      const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      std::uint8_t* d = &out[offBits + rowSize * std::size_t(height - 1 - y)];
      for (int x = 0; x < width; ++x, d += 4) {
        d[0] = std::uint8_t(qBlue(s[x]));
        d[1] = std::uint8_t(qGreen(s[x]));
        d[2] = std::uint8_t(qRed(s[x]));
      }
    }
  } else {
    const std::size_t stored = std::min<std::size_t>(rowSize, std::size_t(bitmap.Image().bytesPerLine()));
    for (int y = 0; y < height; ++y)
      std::memcpy(&out[offBits + rowSize * std::size_t(height - 1 - y)], bitmap.ScanLine(y), stored);
  }
  return out;
}

} // namespace

void KelWriteU32(TStream& stream, std::uint32_t value) { WriteU32(stream, value); }
std::uint32_t KelReadU32(TStream& stream) { return ReadU32(stream); }

void KelWriteDataBlock(TStream& stream, const std::vector<std::uint8_t>& data, bool compressed) {
  if (data.size() > std::numeric_limits<std::uint32_t>::max()) throw EKelContainerError("Data too large");
  if (compressed) {
    platform::TBytesStream source(data.data(), std::int64_t(data.size()));
    KelCompressToStream(source, stream, std::int64_t(data.size()));
  } else {
    WriteU32(stream, std::uint32_t(data.size()));
    stream.WriteBuffer(data.data(), std::int64_t(data.size()));
  }
}

std::vector<std::uint8_t> KelReadDataBlock(TStream& stream, bool compressed) {
  if (compressed) {
    TMemoryStream data;
    KelDecompressFromStream(stream, data);
    return std::move(data.Data());
  }
  const std::uint32_t length = ReadU32(stream);
  if (std::int64_t(length) > Remaining(stream)) throw EStreamError("Stream read error");
  std::vector<std::uint8_t> data(length);
  stream.ReadBuffer(data.data(), length);
  return data;
}

std::uint8_t KelPixelFormatFlags(TKelSavePixelFormat format) {
  switch (format) {
    case spfMono: return kelItemMono;
    case spf4bit: return kelItem4bit;
    case spf8bit: return kelItem8bit;
    default: return 0;
  }
}

TKelSavePixelFormat KelPixelFormatFromFlags(std::uint8_t flags) {
  if (flags & kelItemMono) return spfMono;
  if (flags & kelItem4bit) return spf4bit;
  if (flags & kelItem8bit) return spf8bit;
  return spfDefault;
}

int KelSavePixelFormatColors(TKelSavePixelFormat format) {
  switch (format) {
    case spfMono: return 2;
    case spf4bit: return 16;
    case spf8bit: return 256;
    default: return -1;
  }
}

// ---------------------------------------------------------------- BMP images

std::vector<std::uint8_t> KelBitmapToBmpFile(const TBitmap& bitmap) {
  if (bitmap.Empty()) return {};
  return WriteBmp(bitmap);
}

std::vector<std::uint8_t> KelBitmapToBmpImage(const TBitmap& bitmap, int colors) {
  if (bitmap.Empty()) throw EKelException("Bitmap image is not valid");
  platform::TPixelFormat format = platform::pf8bit;
  if (colors == 2 || bitmap.Monochrome()) format = platform::pf1bit;
  else if (colors == 16) format = platform::pf4bit;
  else if (colors != 256) throw EKelException("Bitmap image is not valid");
  TBitmap reduced;
  reduced.Assign(bitmap);
  reduced.SetPixelFormat(format);
  return WriteBmp(reduced);
}

void KelBitmapFromBmpFile(TBitmap& bitmap, const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    bitmap.Assign(TBitmap());
    return;
  }
  if (size < kFileHeader + 12 || data[0] != 'B' || data[1] != 'M')
    throw EInvalidGraphic("Bitmap image is not valid");
  const std::uint32_t offBits = Get32(data + 10);
  const std::uint32_t headerSize = Get32(data + 14);
  const bool core = headerSize == 12; // the older layout with 16-bit fields
  if (!core && (headerSize < kInfoHeader || size < kFileHeader + kInfoHeader))
    throw EInvalidGraphic("Bitmap image is not valid");
  const std::int32_t width = core ? std::int32_t(Get16(data + 18)) : std::int32_t(Get32(data + 18));
  const std::int32_t rawHeight = core ? std::int16_t(Get16(data + 20)) : std::int32_t(Get32(data + 22));
  const std::uint32_t bits = core ? Get16(data + 24) : Get16(data + 28);
  const std::uint32_t compression = core ? 0 : Get32(data + 30);
  const std::uint32_t clrUsed = core ? 0 : Get32(data + 46);
  if (width <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<std::int32_t>::min() || offBits > size)
    throw EInvalidGraphic("Bitmap image is not valid");
  const std::int64_t height = rawHeight < 0 ? -std::int64_t(rawHeight) : rawHeight;
  const std::uint64_t rowSize = (std::uint64_t(width) * bits + 31) / 32 * 4;
  const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
  // The picture is bounded by its data: every row present, or for run-length
  // data no more than the longest runs its bytes can hold.
  const bool runLength = compression == 1 || compression == 2;
  if (runLength ? pixels > std::uint64_t(size - offBits) * 255
                : rowSize != 0 && std::uint64_t(height) > (size - offBits) / rowSize)
    throw EInvalidGraphic("Bitmap image is not valid");
  const bool plain = !core && compression == 0 && (bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32);
  if (!plain) {
    // Run-length, bit-field and older layouts are left to Qt's reader.
    QImage image;
    if (size > std::size_t(std::numeric_limits<int>::max()) ||
        !image.loadFromData(data, int(size), "BMP") || image.isNull())
      throw EInvalidGraphic("Bitmap image is not valid");
    bitmap.SetImage(image);
    return;
  }
  std::size_t colors = 0;
  if (bits <= 8) {
    const std::size_t most = std::size_t(1) << bits;
    colors = clrUsed == 0 ? most : std::min<std::size_t>(clrUsed, most);
    if (std::uint64_t(headerSize) + kFileHeader + 4 * colors > size)
      throw EInvalidGraphic("Bitmap image is not valid");
  }
  platform::TPixelFormat format = platform::pf32bit;
  if (bits == 1) format = platform::pf1bit;
  else if (bits == 4) format = platform::pf4bit;
  else if (bits == 8) format = platform::pf8bit;
  else if (bits == 24) format = platform::pf24bit;
  TBitmap loaded(width, int(height), format);
  if (colors != 0) {
    std::vector<TPaletteEntry> entries(std::size_t(1) << bits);
    const std::uint8_t* p = data + kFileHeader + headerSize;
    for (std::size_t i = 0; i < colors; ++i, p += 4) entries[i] = {p[2], p[1], p[0], 0};
    loaded.SetPaletteEntries(0, int(entries.size()), entries.data());
  }
  const std::size_t stored = std::min<std::size_t>(rowSize, std::size_t(loaded.Image().bytesPerLine()));
  for (std::int64_t y = 0; y < height; ++y) {
    const std::int64_t sourceRow = rawHeight > 0 ? height - 1 - y : y;
    const std::uint8_t* s = data + offBits + rowSize * std::uint64_t(sourceRow);
    std::uint8_t* d = loaded.ScanLine(int(y));
    if (bits == 32) {
      for (std::int32_t x = 0; x < width; ++x, s += 4, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0xFF;
      }
    } else {
      std::memcpy(d, s, stored);
    }
  }
  bitmap.Assign(loaded);
}

// ---------------------------------------------------------------- block framing

void KelCompressToStream(TStream& source, TStream& target, std::int64_t count) {
  // The compressor looks up to two bytes past its input and writes up to six
  // past the input length before it falls back to a stored block.
  std::vector<std::uint8_t> input(kelBlockMaxInput + 2, 0);
  std::vector<std::uint8_t> output(kelBlockMaxInput + kelBlockOutputMargin + 1, 0);
  const std::int64_t start = target.Position();
  WriteU32(target, 0);
  std::int64_t total = 0;
  while (count > 0) {
    const std::size_t n = std::size_t(std::min<std::int64_t>(count, std::int64_t(kelBlockMaxInput)));
    source.ReadBuffer(input.data(), std::int64_t(n));
    std::fill(input.begin() + std::ptrdiff_t(n), input.end(), 0);
    const std::size_t length = KelCompressBlock({input.data(), n}, output);
    WriteU32(target, std::uint32_t(length));
    target.WriteBuffer(output.data(), std::int64_t(length));
    total += 4 + std::int64_t(length);
    count -= std::int64_t(n);
  }
  if (total > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
    throw EKelContainerError("Compressed data too large");
  const std::int64_t end = target.Position();
  target.SetPosition(start);
  WriteU32(target, std::uint32_t(total));
  target.SetPosition(end);
}

void KelDecompressFromStream(TStream& source, TStream& target) {
  std::int64_t total = ReadU32(source);
  std::vector<std::uint8_t> block;
  std::vector<std::uint8_t> expanded(kelBlockMaxInput);
  std::int64_t written = 0;
  while (total > 0) {
    // Block lengths must stay inside the total and inside one block's most.
    if (total < 4) throw EKelContainerError("Damaged compressed data");
    const std::uint32_t length = ReadU32(source);
    if (std::int64_t(length) > total - 4 || length > kelBlockMaxInput + 1)
      throw EKelContainerError("Damaged compressed data");
    block.resize(length);
    source.ReadBuffer(block.data(), length);
    const std::size_t n = KelDecompressBlock(block, expanded);
    written += std::int64_t(n);
    if (written > kelMaxImageBytes) throw EKelContainerError("Damaged compressed data");
    target.WriteBuffer(expanded.data(), std::int64_t(n));
    total -= 4 + std::int64_t(length);
  }
}

// ---------------------------------------------------------------- bitmap streaming

void KelStreamWriteBitmap(TStream& stream, const TBitmap& bitmap, bool compressed, int colors,
                          const std::vector<std::uint8_t>* original) {
  std::vector<std::uint8_t> image;
  if (colors == 2 || colors == 16 || colors == 256) image = KelBitmapToBmpImage(bitmap, colors);
  else if (original == nullptr) image = KelBitmapToBmpFile(bitmap);
  const std::vector<std::uint8_t>& bytes = original != nullptr && colors == -1 ? *original : image;
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) throw EKelContainerError("Bitmap too large");
  KelWriteDataBlock(stream, bytes, compressed);
}

void KelStreamReadBitmap(TStream& stream, TBitmap& bitmap, bool compressed, std::vector<std::uint8_t>* image) {
  std::vector<std::uint8_t> data = KelReadDataBlock(stream, compressed);
  KelBitmapFromBmpFile(bitmap, data.data(), data.size());
  if (image != nullptr) *image = std::move(data);
}

// ---------------------------------------------------------------- filer

void KelWriteBinaryProperty(TStream& stream, const std::string& name,
                            const std::function<void(TStream&)>& write) {
  const std::uint8_t nameLength = std::uint8_t(std::min<std::size_t>(name.size(), 255));
  stream.WriteBuffer(&nameLength, 1);
  stream.WriteBuffer(name.data(), nameLength);
  stream.WriteBuffer(&kelValueBinary, 1);
  TMemoryStream data;
  write(data);
  if (data.Size() > std::int64_t(std::numeric_limits<std::int32_t>::max()))
    throw EKelContainerError("Property data too large");
  WriteU32(stream, std::uint32_t(data.Size()));
  stream.WriteBuffer(data.Memory(), data.Size());
}

void KelReadBinaryProperty(TStream& stream, const std::string& name, const std::function<void(TStream&)>& read) {
  const std::uint8_t nameLength = ReadU8(stream);
  std::string stored(nameLength, '\0');
  stream.ReadBuffer(stored.data(), nameLength);
  if (stored != name) throw EKelContainerError("Property " + name + " expected");
  if (ReadU8(stream) != kelValueBinary) throw EKelContainerError("Invalid property value");
  const std::uint32_t length = ReadU32(stream);
  if (std::int64_t(length) > Remaining(stream)) throw EStreamError("Stream read error");
  TMemoryStream data;
  data.SetSize(length);
  stream.ReadBuffer(data.Memory(), length);
  data.SetPosition(0);
  read(data);
}

namespace {
// Value types of the class library's stored lists.
constexpr std::uint8_t vaNull = 0, vaList = 1, vaInt8 = 2, vaInt16 = 3, vaInt32 = 4;
} // namespace

void KelWriteIntegerList(TStream& stream, const std::vector<std::int32_t>& values) {
  stream.WriteBuffer(&vaList, 1);
  for (const std::int32_t value : values) {
    std::uint8_t b[5];
    std::size_t n;
    if (value >= -128 && value <= 127) {
      b[0] = vaInt8;
      b[1] = std::uint8_t(value);
      n = 2;
    } else if (value >= -32768 && value <= 32767) {
      b[0] = vaInt16;
      b[1] = std::uint8_t(value);
      b[2] = std::uint8_t(value >> 8);
      n = 3;
    } else {
      b[0] = vaInt32;
      for (int i = 0; i < 4; ++i) b[1 + i] = std::uint8_t(std::uint32_t(value) >> (8 * i));
      n = 5;
    }
    stream.WriteBuffer(b, std::int64_t(n));
  }
  stream.WriteBuffer(&vaNull, 1);
}

std::vector<std::int32_t> KelReadIntegerList(TStream& stream) {
  if (ReadU8(stream) != vaList) throw EKelContainerError("Invalid property value");
  std::vector<std::int32_t> values;
  for (;;) {
    const std::uint8_t type = ReadU8(stream);
    if (type == vaNull) break;
    std::uint8_t b[4] = {};
    switch (type) {
      case vaInt8: stream.ReadBuffer(b, 1); values.push_back(std::int8_t(b[0])); break;
      case vaInt16: stream.ReadBuffer(b, 2); values.push_back(std::int16_t(b[0] | b[1] << 8)); break;
      case vaInt32:
        stream.ReadBuffer(b, 4);
        values.push_back(std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                                      std::uint32_t(b[3]) << 24));
        break;
      default: throw EKelContainerError("Invalid property value");
    }
  }
  return values;
}

// ---------------------------------------------------------------- items

void TKelListItem::SetDescription(const std::string& value) {
  // The length byte holds at most 255; cut there, not inside a character.
  std::size_t n = std::min<std::size_t>(value.size(), 255);
  if (n < value.size())
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
  FDescription = value.substr(0, n);
}

void TKelListItem::WriteProperties(TStream& stream) const {
  KelWriteBinaryProperty(stream, "Internal", [this](TStream& s) { WriteData(s); });
}

void TKelListItem::ReadProperties(TStream& stream) {
  KelReadBinaryProperty(stream, "Internal", [this](TStream& s) { ReadData(s); });
}

void TKelListItem::WriteHead(TStream& stream, std::uint8_t flags) const {
  if (Compressed()) flags |= kelItemCompressed;
  if (!Description().empty()) flags |= kelItemDescription;
  if (Ident() != 0) flags |= kelItemIdent;
  stream.WriteBuffer(&flags, 1);
  if (flags & kelItemDescription) {
    const std::uint8_t n = std::uint8_t(Description().size());
    stream.WriteBuffer(&n, 1);
    stream.WriteBuffer(Description().data(), n);
  }
  if (flags & kelItemIdent) WriteU32(stream, Ident());
}

std::uint8_t TKelListItem::ReadHead(TStream& stream) {
  const std::uint8_t flags = ReadU8(stream);
  std::string description;
  if (flags & kelItemDescription) {
    description.resize(ReadU8(stream));
    stream.ReadBuffer(description.data(), std::int64_t(description.size()));
  }
  const std::uint16_t ident = (flags & kelItemIdent) ? std::uint16_t(ReadU32(stream)) : 0;
  SetCompressed(flags & kelItemCompressed);
  SetDescription(description);
  SetIdent(ident);
  return flags;
}

void TKelListItem::Assign(const TKelListItem& source) {
  FDescription = source.FDescription;
  FIdent = source.FIdent;
  FCompressed = source.FCompressed;
}

bool TKelBitmapListItem::LoadedImageCurrent() const {
  if (FLoadedImage.empty() || FBitmap.Image().cacheKey() != FLoadedKey) return false;
  std::vector<TPaletteEntry> palette(std::size_t(FBitmap.PaletteSize()));
  FBitmap.GetPaletteEntries(0, int(palette.size()), palette.data());
  return palette.size() == FLoadedPalette.size() &&
         std::equal(palette.begin(), palette.end(), FLoadedPalette.begin(), [](const auto& a, const auto& b) {
           return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue;
         });
}

void TKelBitmapListItem::WriteData(TStream& stream) const {
  const std::uint8_t flags = KelPixelFormatFlags(FPixelFormat) | (FBitmap.Empty() ? 0 : kelItemImage);
  WriteHead(stream, flags);
  if (flags & kelItemImage) {
    const bool keep = FPixelFormat == spfDefault && LoadedImageCurrent();
    KelStreamWriteBitmap(stream, FBitmap, Compressed(), KelSavePixelFormatColors(FPixelFormat),
                         keep ? &FLoadedImage : nullptr);
  }
}

void TKelBitmapListItem::ReadData(TStream& stream) {
  const std::uint8_t flags = ReadHead(stream);
  FPixelFormat = KelPixelFormatFromFlags(flags);
  FLoadedImage.clear();
  FLoadedPalette.clear();
  if (!(flags & kelItemImage)) {
    FBitmap.Assign(TBitmap());
    return;
  }
  std::vector<std::uint8_t> image;
  KelStreamReadBitmap(stream, FBitmap, Compressed(), &image);
  FLoadedImage = std::move(image);
  FLoadedKey = FBitmap.Image().cacheKey();
  FLoadedPalette.resize(std::size_t(FBitmap.PaletteSize()));
  FBitmap.GetPaletteEntries(0, int(FLoadedPalette.size()), FLoadedPalette.data());
}

void TKelBitmapListItem::Assign(const TKelListItem& source) {
  TKelListItem::Assign(source);
  if (const auto* item = dynamic_cast<const TKelBitmapListItem*>(&source)) {
    FBitmap.Assign(item->FBitmap);
    FPixelFormat = item->FPixelFormat;
    FLoadedImage = item->FLoadedImage;
    FLoadedKey = item->FLoadedKey;
    FLoadedPalette = item->FLoadedPalette;
  }
}

// ---------------------------------------------------------------- containers

namespace {
constexpr const char* kSignatures[] = {"KelIML30", "KelBML30", "KelWVL30", "KelSLL30", "KelGLL50", "KelRTL50"};
constexpr const char* kExtensions[] = {"iml", "bmp", "wav", "txt", "*", "rtf"};
constexpr std::size_t kSignatureSize = 9;

[[noreturn]] void InvalidFile(const std::string& fileName) {
  char text[512];
  std::snprintf(text, sizeof text, "%s: %s", "Invalid container file", fileName.c_str());
  throw EKelContainerError(text);
}

// Reads the signature and answers its kind, or raises for none of the six.
TKelContainerKind ReadSignature(TStream& stream, const std::string& fileName) {
  std::uint8_t signature[kSignatureSize];
  if (stream.Read(signature, kSignatureSize) != std::int64_t(kSignatureSize) || signature[0] != 8)
    InvalidFile(fileName);
  for (std::size_t kind = 0; kind < std::size(kSignatures); ++kind)
    if (std::memcmp(signature + 1, kSignatures[kind], 8) == 0) return TKelContainerKind(kind);
  InvalidFile(fileName);
}
} // namespace

const char* KelContainerSignature(TKelContainerKind kind) {
  return kind < std::size(kSignatures) ? kSignatures[kind] : "";
}
const char* KelContainerExtension(TKelContainerKind kind) {
  return kind < std::size(kExtensions) ? kExtensions[kind] : "";
}

TKelBaseContainer::~TKelBaseContainer() {
  const std::vector<TKelChangeLink*> links = FLinks;
  FLinks.clear();
  for (TKelChangeLink* link : links)
    if (link->OnFree) link->OnFree(link);
}

TKelListItem* TKelBaseContainer::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds");
  return FItems[std::size_t(index)].get();
}

TKelListItem& TKelBaseContainer::Add(std::unique_ptr<TKelListItem> item) {
  item->FContainer = this;
  FItems.push_back(std::move(item));
  Change();
  return *FItems.back();
}

void TKelBaseContainer::Delete(int index) {
  Items(index);
  FItems.erase(FItems.begin() + index);
  Change();
}

void TKelBaseContainer::Clear() {
  FItems.clear();
  Change();
}

void TKelBaseContainer::RegisterChanges(TKelChangeLink* link) {
  if (link != nullptr && std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end()) FLinks.push_back(link);
}

void TKelBaseContainer::UnregisterChanges(TKelChangeLink* link) {
  FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), link), FLinks.end());
}

void TKelBaseContainer::Change() {
  if (Updating()) return;
  TKelCustomComponent::Change();
  const std::vector<TKelChangeLink*> links = FLinks;
  for (TKelChangeLink* link : links)
    if (link->OnChange) link->OnChange(link);
}

TKelListItem& TKelCustomContainer::AddNew() { return Add(CreateItem()); }

void TKelCustomContainer::WriteToStream(TStream& stream, bool withOffsets) const {
  WriteU32(stream, std::uint32_t(FItems.size()));
  const std::int64_t slotsAt = stream.Position();
  for (std::size_t i = 0; withOffsets && i < FItems.size(); ++i) WriteU32(stream, 0);
  std::vector<std::int64_t> offsets;
  for (const auto& item : FItems) {
    offsets.push_back(stream.Position());
    item->WriteData(stream);
  }
  if (!withOffsets) return;
  const std::int64_t end = stream.Position();
  if (end > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
    throw EKelContainerError("Container too large");
  stream.SetPosition(slotsAt);
  for (std::int64_t offset : offsets) WriteU32(stream, std::uint32_t(offset));
  stream.SetPosition(end);
}

void TKelCustomContainer::ReadFromStream(TStream& stream, bool withOffsets) {
  const std::uint32_t count = ReadU32(stream);
  // Every item takes at least its flags byte (and its offset slot).
  if (std::int64_t(count) * (withOffsets ? 5 : 1) > Remaining(stream))
    throw EKelContainerError("Damaged container: item count");
  if (withOffsets) stream.Seek(std::int64_t(count) * 4, platform::soCurrent);
  // Items replace the old ones only once all have been read.
  std::vector<std::unique_ptr<TKelListItem>> items;
  for (std::uint32_t i = 0; i < count; ++i) {
    items.push_back(CreateItem());
    items.back()->ReadData(stream);
  }
  FItems = std::move(items);
  for (auto& item : FItems) item->FContainer = this;
  Change();
}

void TKelCustomContainer::SaveToStreamFile(TStream& stream) const {
  std::uint8_t signature[kSignatureSize] = {8};
  std::memcpy(signature + 1, KelContainerSignature(Kind()), 8);
  stream.WriteBuffer(signature, kSignatureSize);
  WriteToStream(stream, true);
}

void TKelCustomContainer::LoadFromStreamFile(TStream& stream, const std::string& fileName) {
  if (ReadSignature(stream, fileName) != Kind()) InvalidFile(fileName);
  ReadFromStream(stream, true);
}

void TKelCustomContainer::SaveToFile(const std::string& fileName) const {
  platform::TFileStream stream(fileName, platform::fmCreate);
  SaveToStreamFile(stream);
}

void TKelCustomContainer::LoadFromFile(const std::string& fileName) {
  platform::TFileStream stream(fileName, platform::fmOpenRead);
  LoadFromStreamFile(stream, fileName);
}

void TKelCustomContainer::LoadItemFromStreamFile(TStream& stream, int index, TKelListItem& item,
                                                 const std::string& fileName) const {
  if (ReadSignature(stream, fileName) != Kind()) InvalidFile(fileName);
  const std::uint32_t count = ReadU32(stream);
  if (std::int64_t(count) * 5 > Remaining(stream)) throw EKelContainerError("Damaged container: item count");
  if (index < 0 || std::uint32_t(index) >= count) throw EListError("List index out of bounds");
  const std::int64_t itemsStart = stream.Position() + std::int64_t(count) * 4;
  stream.Seek(std::int64_t(index) * 4, platform::soCurrent);
  const std::uint32_t offset = ReadU32(stream);
  // An item can only start after the offsets and before the end.
  if (offset < itemsStart || std::int64_t(offset) >= stream.Size())
    throw EKelContainerError("Damaged container: item offset");
  stream.SetPosition(offset);
  item.ReadData(stream);
}

void TKelCustomContainer::LoadItemFromFile(const std::string& fileName, int index, TKelListItem& item) const {
  platform::TFileStream stream(fileName, platform::fmOpenRead);
  LoadItemFromStreamFile(stream, index, item, fileName);
}

void TKelCustomImageList::AssignList(const TKelCustomImageList& source) {
  if (&source == this) return;
  BeginUpdate();
  FItems.clear();
  SetDefaultCompressed(source.DefaultCompressed());
  SetDefaultPixelFormat(source.DefaultPixelFormat());
  for (int i = 0; i < source.Count(); ++i) {
    std::unique_ptr<TKelListItem> item = CreateItem();
    item->Assign(*source.Items(i));
    Add(std::move(item));
  }
  EndUpdate(true);
}

// ---------------------------------------------------------------- global lists

bool KelWriteListBinding(TStream& stream, const TKelCustomImageList* list) {
  if (list == nullptr) return false;
  TKelContainerKind kind;
  if (list == &KelGlobalBitmapList()) kind = ckBitmapList;
  else if (list == KelGlobalImageListPtr()) kind = ckImageList;
  else return false;
  const std::uint8_t head[] = {8, 'I', 'n', 't', 'e', 'r', 'n', 'a', 'l', kelValueString, 8};
  stream.WriteBuffer(head, sizeof head);
  stream.WriteBuffer(KelContainerSignature(kind), 8);
  return true;
}

TKelCustomImageList* KelReadListBinding(TStream& stream) {
  std::uint8_t head[10];
  stream.ReadBuffer(head, sizeof head);
  if (std::memcmp(head, "\x08Internal", 9) != 0 || head[9] != kelValueString)
    throw EKelContainerError("Property Internal expected");
  std::string name(ReadU8(stream), '\0');
  stream.ReadBuffer(name.data(), std::int64_t(name.size()));
  if (name == KelContainerSignature(ckBitmapList)) return &KelGlobalBitmapList();
  if (name == KelContainerSignature(ckImageList)) return KelGlobalImageListPtr();
  return nullptr;
}

// ---------------------------------------------------------------- bitmap list

namespace {
constexpr TColor kNeutralColor = 0xFFFFFF;
}

TColor KelBitmapTransparentColor(const TBitmap& bitmap) {
  if (bitmap.Empty()) return kNeutralColor;
  const QRgb rgb = bitmap.ToImage().pixel(0, bitmap.Height() - 1);
  return TColor(qRed(rgb) | qGreen(rgb) << 8 | qBlue(rgb) << 16);
}

std::unique_ptr<TKelListItem> TKelBitmapList::CreateItem() const {
  auto item = std::make_unique<TKelBitmapListItem>();
  item->SetCompressed(DefaultCompressed());
  item->SetPixelFormat(DefaultPixelFormat());
  return item;
}

TKelBitmapListItem* TKelBitmapList::BitmapItem(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return static_cast<TKelBitmapListItem*>(FItems[std::size_t(index)].get());
}

platform::TCanvas* TKelBitmapList::ItemCanvas(int listIndex) {
  TKelBitmapListItem* item = BitmapItem(listIndex);
  return item ? &item->Bitmap().Canvas() : nullptr;
}

platform::TRect TKelBitmapList::ItemRect(int listIndex) const {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  return item ? platform::Rect(0, 0, item->Bitmap().Width(), item->Bitmap().Height()) : platform::TRect{};
}

int TKelBitmapList::ItemSize(int listIndex, int selector) const {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  if (!item) return 0;
  return selector == 0 ? item->Bitmap().Width() : item->Bitmap().Height();
}

bool TKelBitmapList::ItemEmpty(int listIndex) const {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  return item ? item->Bitmap().Empty() : false;
}

bool TKelBitmapList::ItemExists(int listIndex, int) const {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  return item && !item->Bitmap().Empty();
}

void TKelBitmapList::AssignItemTo(int listIndex, int, TBitmap* target) const {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  if (item && target) target->Assign(item->Bitmap());
}

int TKelBitmapList::ImageCount(int) const { return 0; }

TColor TKelBitmapList::ItemTransparentColor(int listIndex, int) const {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  return item ? KelBitmapTransparentColor(item->Bitmap()) : kNeutralColor;
}

TColor TKelBitmapList::ItemPixel(int listIndex, int, int x, int y) const {
  TKelBitmapListItem* item = BitmapItem(listIndex);
  return item ? item->Bitmap().Canvas().Pixels(x, y) : kNeutralColor;
}

void TKelBitmapList::DrawItem(platform::TCanvas& canvas, int x, int y, int listIndex, int) {
  if (const TKelBitmapListItem* item = BitmapItem(listIndex)) canvas.Draw(x, y, item->Bitmap());
}

void TKelBitmapList::DrawItemRect(platform::TCanvas& canvas, const platform::TRect& rect, int listIndex, int) {
  if (const TKelBitmapListItem* item = BitmapItem(listIndex)) canvas.StretchDraw(rect, item->Bitmap());
}

void TKelBitmapList::DrawItemEffect(platform::TCanvas& canvas, int x, int y, int listIndex, int,
                                    bool transparent) {
  const TKelBitmapListItem* item = BitmapItem(listIndex);
  if (!item || item->Bitmap().Empty()) return;
  if (!transparent) {
    canvas.Draw(x, y, item->Bitmap());
    return;
  }
  QImage image = item->Bitmap().ToImage().convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, image.height() - 1) & 0xFFFFFF;
  for (int row = 0; row < image.height(); ++row) {
    QRgb* p = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (int col = 0; col < image.width(); ++col)
      if ((p[col] & 0xFFFFFF) == key) p[col] = 0;
  }
  canvas.Paint([&](QPainter& painter) { painter.drawImage(x, y, image); });
}

} // namespace kel
