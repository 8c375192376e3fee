#include "image/model/rvclipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "image/model/rvbits.h"
#include "image/model/rvhelpers.h"

namespace rv {

namespace {

constexpr std::size_t HeaderSize = sizeof(platform::TBitmapInfoHeader);

void PutHeader(std::uint8_t* P, int Width, int Height, int BitCount) {
  platform::TBitmapInfoHeader h;
  h.biWidth = Width;
  h.biHeight = Height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<std::uint16_t>(BitCount);
  std::memcpy(P, &h, sizeof h);
}

} // namespace

std::vector<std::uint8_t> RvTBitmapToDIB(const platform::TBitmap* Bitmap, int X1, int Y1, int X2,
                                         int Y2) {
  if (Bitmap == nullptr || Bitmap->Empty()) return {};
  const platform::TBitmap* source = Bitmap;
  std::unique_ptr<platform::TBitmap> converted;
  const platform::TPixelFormat pf = Bitmap->PixelFormat();
  if (pf != platform::pf24bit && pf != platform::pf1bit) {
    // Other depths would give a header without rows: they go out as 24 bits.
    converted = std::make_unique<platform::TBitmap>();
    converted->Assign(*Bitmap);
    converted->SetPixelFormat(platform::pf24bit);
    source = converted.get();
  }
  const int width = source->Width(), height = source->Height();
  if (X2 == 0) X2 = width;
  if (Y2 == 0) Y2 = height;
  // The rectangle is cut to the picture, so no row is read past its end.
  X1 = RvMax(X1, 0);
  Y1 = RvMax(Y1, 0);
  X2 = RvMin(X2, width);
  Y2 = RvMin(Y2, height);
  if (X2 <= X1 || Y2 <= Y1) return {};
  const bool mono = source->PixelFormat() == platform::pf1bit;
  const int bitCount = mono ? 1 : 24;
  const int w = X2 - X1, h = Y2 - Y1;
  const std::size_t rowLen = static_cast<std::size_t>(RvRowLen(w, bitCount));
  const std::size_t paletteSize = mono ? 8 : 0;
  // Zero-filled, so the padding of every row is zero.
  std::vector<std::uint8_t> dib(HeaderSize + paletteSize + rowLen * static_cast<std::size_t>(h));
  PutHeader(dib.data(), w, h, bitCount);
  if (mono) {
    static const std::uint8_t palette[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(dib.data() + HeaderSize, palette, sizeof palette);
  }
  std::uint8_t* d = dib.data() + HeaderSize + paletteSize;
  const std::int64_t sourceBytes = mono ? (static_cast<std::int64_t>(width) + 7) / 8
                                        : static_cast<std::int64_t>(width) * 3;
  for (int y = Y2 - 1; y >= Y1; --y, d += rowLen) {
    const std::uint8_t* s = source->ScanLine(y);
    if (mono) {
      RvCopyBits(d, s, 0, sourceBytes, w, X1);
      // Bits right of the picture stay zero as well.
      if (w % 8 != 0) d[w / 8] &= static_cast<std::uint8_t>(0xFF00 >> (w % 8));
    } else {
      std::memcpy(d, s + 3 * static_cast<std::size_t>(X1), static_cast<std::size_t>(w) * 3);
    }
  }
  return dib;
}

bool RvCopyTBitmapToClipboard(const platform::TBitmap* Bitmap) {
  if (Bitmap == nullptr || Bitmap->Empty()) return false;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return false;
  const std::vector<std::uint8_t> dib = RvTBitmapToDIB(Bitmap);
  auto* data = new QMimeData;
  data->setImageData(Bitmap->ToImage().copy());
  data->setData(QString::fromLatin1(RvDIBMimeType),
                QByteArray(reinterpret_cast<const char*>(dib.data()),
                           static_cast<qsizetype>(dib.size())));
  clipboard->setMimeData(data);
  return true;
}

namespace {

struct TMasks {
  std::uint32_t Mask[3] = {0, 0, 0}; // red, green, blue
};

int Channel(std::uint32_t Pixel, std::uint32_t Mask) {
  if (Mask == 0) return 0;
  int shift = 0;
  while (((Mask >> shift) & 1) == 0) ++shift;
  const std::uint32_t field = Mask >> shift;
  const std::uint32_t value = (Pixel >> shift) & field;
  return static_cast<int>(static_cast<std::uint64_t>(value) * 255 / field);
}

} // namespace

int RvDIBToBitmap(const void* DIB, std::size_t DIBSize, TRvDibbitmap* Bitmap, const void* Bits,
                  std::size_t BitsSize) {
  if (DIB == nullptr || Bitmap == nullptr || DIBSize < HeaderSize) return 0;
  platform::TBitmapInfoHeader h;
  std::memcpy(&h, DIB, sizeof h);
  const int bitCount = h.biBitCount;
  const auto* block = static_cast<const std::uint8_t*>(DIB);
  if (h.biWidth < 1 || h.biHeight == 0 || h.biHeight == INT_MIN) return 0;
  const int width = h.biWidth;
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const bool topDown = h.biHeight < 0;

  TRGB palette[256];
  TMasks masks;
  std::size_t start = HeaderSize;
  bool known = true;
  switch (bitCount) {
    case 1:
    case 4:
    case 8: {
      if (h.biCompression != 0) return bitCount;
      const std::size_t maxEntries = std::size_t{1} << bitCount;
      // A colours-used count beyond what the depth can index is not believed.
      const std::size_t entries =
          h.biClrUsed == 0 ? maxEntries : std::min<std::size_t>(h.biClrUsed, maxEntries);
      if (HeaderSize + 4 * entries > DIBSize) return 0;
      for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* e = block + HeaderSize + 4 * i;
        palette[i] = TRGB{e[0], e[1], e[2]};
      }
      start += 4 * entries;
      break;
    }
    case 16:
    case 24:
    case 32:
      if (h.biCompression == 0) {
        if (bitCount == 16) {
          masks.Mask[0] = 0x7C00;
          masks.Mask[1] = 0x03E0;
          masks.Mask[2] = 0x001F;
        } else {
          masks.Mask[0] = 0xFF0000;
          masks.Mask[1] = 0x00FF00;
          masks.Mask[2] = 0x0000FF;
        }
      } else if (h.biCompression == 3 && bitCount != 24) {
        // Bit fields: three masks follow the header and the pixels follow
        // them.
        if (HeaderSize + 12 > DIBSize) return 0;
        for (int i = 0; i < 3; ++i)
          std::memcpy(&masks.Mask[i], block + HeaderSize + 4 * i, 4);
        start += 12;
      } else {
        known = false;
      }
      break;
    default:
      return bitCount;
  }
  if (!known) return bitCount;

  const std::uint8_t* data;
  std::size_t dataSize;
  if (Bits != nullptr) {
    data = static_cast<const std::uint8_t*>(Bits);
    dataSize = BitsSize;
  } else {
    if (start > DIBSize) return 0;
    data = block + start;
    dataSize = DIBSize - start;
  }
  const std::int64_t stride = RvRowLen(width, bitCount);
  // Checked by division: the product of header fields may not fit 64 bits.
  if (static_cast<std::uint64_t>(height) > dataSize / static_cast<std::uint64_t>(stride)) return 0;

  if (!Bitmap->AllocateDIB(width, height, bitCount == 1 ? 1 : 24)) return bitCount;
  const bool invert = bitCount == 1 && RvRGBToGray(palette[0]) > RvRGBToGray(palette[1]);
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* s = data + stride * (topDown ? r : height - 1 - r);
    std::uint8_t* d = Bitmap->Scanline(r);
    switch (bitCount) {
      case 1: {
        const std::int64_t bytes = (static_cast<std::int64_t>(width) + 7) / 8;
        for (std::int64_t i = 0; i < bytes; ++i)
          d[i] = invert ? static_cast<std::uint8_t>(~s[i]) : s[i];
        break;
      }
      case 4:
        for (int x = 0; x < width; ++x) {
          const int i = (x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4;
          std::memcpy(d + 3 * x, &palette[i], 3);
        }
        break;
      case 8:
        for (int x = 0; x < width; ++x) std::memcpy(d + 3 * x, &palette[s[x]], 3);
        break;
      case 24:
        if (h.biCompression == 0) {
          std::memcpy(d, s, static_cast<std::size_t>(width) * 3);
          break;
        }
        [[fallthrough]];
      default: {
        const int bytes = bitCount / 8;
        for (int x = 0; x < width; ++x) {
          std::uint32_t p = 0;
          std::memcpy(&p, s + bytes * x, static_cast<std::size_t>(bytes));
          d[3 * x] = static_cast<std::uint8_t>(Channel(p, masks.Mask[2]));
          d[3 * x + 1] = static_cast<std::uint8_t>(Channel(p, masks.Mask[1]));
          d[3 * x + 2] = static_cast<std::uint8_t>(Channel(p, masks.Mask[0]));
        }
        break;
      }
    }
  }
  return bitCount;
}

bool RvSameBitmapPixels(const platform::TBitmap* A, const platform::TBitmap* B) {
  if (A == nullptr || B == nullptr) return false;
  if (A->Width() != B->Width() || A->Height() != B->Height()) return false;
  // Rows of another length would be compared past B's end.
  if (A->ScanLineSize() != B->ScanLineSize()) return false;
  const std::size_t bytes = static_cast<std::size_t>(A->ScanLineSize());
  for (int y = 0; y < A->Height(); ++y)
    if (std::memcmp(A->ScanLine(y), B->ScanLine(y), bytes) != 0) return false;
  return true;
}

} // namespace rv
