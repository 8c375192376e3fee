#include "image/io/bmp/rvbmp.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/io/rvsafeio.h"
#include "image/io/rvtrailer.h"
#include "image/io/rvwriteconv.h"
#include "image/model/rvbits.h"
#include "image/model/rvcolorconv.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

constexpr std::uint16_t BmpMagic = 0x4D42; // "BM"
constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiRle8 = 1;
constexpr std::uint32_t BiRle4 = 2;
constexpr std::uint32_t BiBitFields = 3;
constexpr std::uint32_t V4HeaderSize = 108;
constexpr std::uint32_t V5HeaderSize = 124;
// Colour-space types of version-4 and -5 headers.
constexpr std::uint32_t ColourSpaceSrgb = 0x73524742;  // "sRGB"
constexpr std::uint32_t ProfileEmbedded = 0x4D424544; // "MBED"
constexpr std::uint32_t ProfileLinked = 0x4C494E4B;   // "LINK"

inline std::uint16_t Get16(const std::uint8_t* P) {
  return static_cast<std::uint16_t>(P[0] | (P[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* P) {
  return static_cast<std::uint32_t>(P[0]) | (static_cast<std::uint32_t>(P[1]) << 8) |
         (static_cast<std::uint32_t>(P[2]) << 16) | (static_cast<std::uint32_t>(P[3]) << 24);
}
inline void Put16(std::uint8_t* P, std::uint32_t V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}
inline void Put32(std::uint8_t* P, std::uint32_t V) {
  Put16(P, V);
  Put16(P + 2, V >> 16);
}

// A channel of a 16- or 32-bit pixel through its mask, wherever the mask
// lies, widened or narrowed to 8 bits.
struct TChannel {
  std::uint32_t Mask = 0;
  int Low = 0;
  int Width = 0;
  explicit TChannel(std::uint32_t M) : Mask(M) {
    while (Low < 32 && !(M & (1u << Low))) ++Low;
    Width = RvMaskShiftWidth(M);
  }
  std::uint8_t Get(std::uint32_t Pixel) const {
    if (Width == 0) return 0;
    const std::uint32_t v = (Pixel & Mask) >> Low;
    if (Width >= 8) return static_cast<std::uint8_t>(v >> (Width - 8));
    return static_cast<std::uint8_t>(v * 255u / ((1u << Width) - 1u));
  }
};

// The parsed headers of one BMP.
struct TBmpHeader {
  std::int64_t Start = 0;
  std::uint32_t FileSize = 0;
  std::uint32_t PixelOffset = 0;
  std::uint32_t HeaderSize = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0; // negative: rows stored top row first
  int Bits = 0;
  std::uint32_t Compression = BiRgb;
  std::uint32_t ImageSize = 0;
  std::uint32_t Masks[3] = {0, 0, 0};
  // The alpha mask of a header that states one with its bit fields.
  std::uint32_t AlphaMask = 0;
  bool AlphaIfUsed = false;
};

void SetSampleLayout(int Bits, TIOParamsVals& Params) {
  switch (Bits) {
  case 24:
  case 32:
    Params.BitsPerSample = 8;
    Params.SamplesPerPixel = 3;
    break;
  case 16:
    Params.BitsPerSample = 5;
    Params.SamplesPerPixel = 3;
    break;
  case 8:
  case 4:
  case 1:
    Params.BitsPerSample = Bits;
    Params.SamplesPerPixel = 1;
    break;
  default:
    break;
  }
}

// Reads the palette of Count entries of EntrySize bytes into Params.
void ReadColorMap(TRvStreamReader& In, TIOParamsVals& Params, int Count, int EntrySize) {
  Params.FreeColorMap();
  if (Count < 1) return;
  TRGB* map = Params.AllocColorMap(Count);
  std::uint8_t entry[4] = {0, 0, 0, 0};
  for (int i = 0; i < Count; ++i) {
    In.Read(entry, EntrySize);
    map[i].b = entry[0];
    map[i].g = entry[1];
    map[i].r = entry[2];
  }
}

// A 256-entry copy of the colour map, black past its end, so that any index
// byte stays inside it.
std::array<TRGB, 256> FullPalette(const TIOParamsVals& Params) {
  std::array<TRGB, 256> pal{};
  if (Params.ColorMap)
    std::copy_n(Params.ColorMap.get(), std::min(Params.ColorMapCount, 256), pal.begin());
  return pal;
}

// A version-5 header's colour profile, which its fields place after the
// file header: an embedded one goes to the profile of Params, a linked
// one's name after the header kept in Params. The reader stays where it was.
void ReadProfile(TRvStreamReader& In, std::int64_t Start, TIOParamsVals& Params) {
  const std::vector<std::uint8_t>& Header = Params.BmpHeader;
  if (Header.size() < V5HeaderSize) return;
  const std::uint32_t Type = Get32(Header.data() + 56);
  const std::uint32_t Offset = Get32(Header.data() + 112), Size = Get32(Header.data() + 116);
  if ((Type != ProfileEmbedded && Type != ProfileLinked) || Size == 0) return;
  const std::int64_t Back = In.Position(), At = Start + 14 + Offset;
  // Data the file does not hold are no profile.
  if (At < In.Start() || At > In.End() || In.End() - At < Size || !In.Seek(At)) return;
  std::vector<std::uint8_t> Profile(Size);
  if (In.Read(Profile.data(), Size)) {
    if (Type == ProfileEmbedded) Params.IccProfile = std::move(Profile);
    else Params.BmpHeader.insert(Params.BmpHeader.end(), Profile.begin(), Profile.end());
  }
  In.Seek(Back);
}

// Where a profile the header places ends, 0 without one.
std::int64_t ProfileEnd(std::int64_t Start, const TIOParamsVals& Params) {
  const std::vector<std::uint8_t>& Header = Params.BmpHeader;
  if (Header.size() < V5HeaderSize) return 0;
  const std::uint32_t Type = Get32(Header.data() + 56);
  if (Type != ProfileEmbedded && Type != ProfileLinked) return 0;
  return Start + 14 + std::int64_t{Get32(Header.data() + 112)} + Get32(Header.data() + 116);
}

bool IsWhiteBlack(const TRGB& First, const TRGB& Second) {
  return First.r == 255 && First.g == 255 && First.b == 255 && Second.r == 0 && Second.g == 0 &&
         Second.b == 0;
}

bool Supported(const TBmpHeader& H) {
  switch (H.Bits) {
  case 1:
  case 24:
    return H.Compression == BiRgb;
  case 4:
    return H.Compression == BiRgb || H.Compression == BiRle4;
  case 8:
    return H.Compression == BiRgb || H.Compression == BiRle8;
  case 16:
  case 32:
    return H.Compression == BiRgb || H.Compression == BiBitFields;
  default:
    return false;
  }
}

void ReadPixels(TRvStreamReader& In, TRvBitmap& Bitmap, const TBmpHeader& H, TIOParamsVals& Params,
                TRvProgressRec& Progress, const TRvBuffer& RleData, TRvMask* Alpha) {
  const int width = Bitmap.Width();
  const int height = Bitmap.Height();
  const bool topDown = H.Height < 0;
  const std::int64_t rowBytes = RvRowLen(width, H.Bits);
  const std::array<TRGB, 256> pal = FullPalette(Params);

  if (H.Compression == BiRle8 || H.Compression == BiRle4) {
    if (H.Compression == BiRle8)
      BmpDecodeRle8(Bitmap, RleData.Data(), RleData.Size(), Progress, pal.data(), 256, topDown);
    else
      BmpDecodeRle4(Bitmap, RleData.Data(), RleData.Size(), Progress, pal.data(), 256, topDown);
    return;
  }

  TRvBuffer line;
  if (!line.Allocate(rowBytes)) {
    Progress.Abort();
    return;
  }
  std::uint8_t* src = line.Data();

  // A 16-bit pixel has its fields in its low 16 bits; without any mask
  // there they are 5-5-5.
  const std::uint32_t fieldBits = H.Bits == 16 ? 0xFFFF : 0xFFFFFFFF;
  std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (H.Compression == BiBitFields && ((H.Masks[0] | H.Masks[1] | H.Masks[2] | H.AlphaMask) & fieldBits) != 0)
    for (int k = 0; k < 3; ++k) masks[k] = H.Masks[k] & fieldBits;
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(H.AlphaMask);
  const bool plain32 = H.Compression != BiBitFields || (H.Masks[0] | H.Masks[1] | H.Masks[2]) == 0 ||
                       (H.Masks[0] == 0x00FF0000 && H.Masks[1] == 0x0000FF00 && H.Masks[2] == 0x000000FF);
  const bool invert1 = H.Bits == 1 && IsWhiteBlack(pal[0], pal[1]);
  // Two colours other than black and white are kept by decoding through the palette.
  const bool colour1 = H.Bits == 1 && Bitmap.PixelFormat() == rvpf24Bit;

  const std::size_t pixelBytes = 3 * static_cast<std::size_t>(width);
  const std::size_t padding = static_cast<std::size_t>(Bitmap.RowLen()) -
                              std::min<std::size_t>(pixelBytes, Bitmap.RowLen());
  for (int i = 0; i < height; ++i) {
    Progress.Step(i);
    if (Progress.IsAborting()) {
      // Rows never reached show as zeros, not as old memory.
      for (; i < height; ++i)
        std::memset(Bitmap.Scanline(topDown ? i : height - 1 - i), 0,
                    static_cast<std::size_t>(Bitmap.RowLen()));
      return;
    }
    const int y = topDown ? i : height - 1 - i;
    std::uint8_t* dst = Bitmap.Scanline(y);
    if ((H.Bits != 1 || colour1) && H.Bits != 24 && padding != 0)
      std::memset(dst + pixelBytes, 0, padding);
    switch (H.Bits) {
    case 24:
      In.Read(dst, rowBytes);
      break;
    case 1:
      if (colour1) {
        In.Read(src, rowBytes);
        for (int x = 0; x < width; ++x) {
          const TRGB& c = pal[(src[x >> 3] >> (7 - (x & 7))) & 1];
          std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
          q[0] = c.b;
          q[1] = c.g;
          q[2] = c.r;
        }
        break;
      }
      In.Read(dst, rowBytes);
      if (invert1)
        for (std::int64_t k = 0; k < rowBytes; ++k) dst[k] = static_cast<std::uint8_t>(~dst[k]);
      break;
    case 32:
      In.Read(src, rowBytes);
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = src + 4 * static_cast<std::size_t>(x);
        std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
        if (Alpha != nullptr) Alpha->ScanLine(y)[x] = alpha.Get(Get32(p));
        if (plain32) {
          q[0] = p[0];
          q[1] = p[1];
          q[2] = p[2];
        } else {
          // Masks other than the usual byte order would otherwise give
          // wrong colours: each channel is taken through its mask.
          const std::uint32_t v = Get32(p);
          q[0] = blue.Get(v);
          q[1] = green.Get(v);
          q[2] = red.Get(v);
        }
      }
      break;
    case 16:
      In.Read(src, rowBytes);
      for (int x = 0; x < width; ++x) {
        // Each field by its own place and width, as 32-bit pixels are read.
        const std::uint32_t v = Get16(src + 2 * static_cast<std::size_t>(x));
        std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
        if (Alpha != nullptr) Alpha->ScanLine(y)[x] = alpha.Get(v);
        q[0] = blue.Get(v);
        q[1] = green.Get(v);
        q[2] = red.Get(v);
      }
      break;
    case 8:
      In.Read(src, rowBytes);
      for (int x = 0; x < width; ++x) {
        const TRGB& c = pal[src[x]];
        std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
        q[0] = c.b;
        q[1] = c.g;
        q[2] = c.r;
      }
      break;
    case 4:
      In.Read(src, rowBytes);
      for (int x = 0; x < width; ++x) {
        const std::uint8_t b = src[x >> 1];
        const TRGB& c = pal[(x & 1) ? (b & 0x0F) : (b >> 4)];
        std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
        q[0] = c.b;
        q[1] = c.g;
        q[2] = c.r;
      }
      break;
    default:
      break;
    }
  }
}

} // namespace

int BmpDpiFromPpm(std::int32_t PixelsPerMetre) {
  return RvRound(static_cast<double>(PixelsPerMetre) / 100.0 * 2.54);
}

std::int32_t BmpPpmFromDpi(int Dpi) { return RvRound(static_cast<double>(Dpi) / 2.54 * 100.0); }

void BmpReadStream(platform::TStream& Stream, TRvBitmap* Bitmap, std::int64_t Size,
                   TIOParamsVals& Params, TRvProgressRec& Progress, bool HeaderOnly,
                   std::unique_ptr<TRvMask>* Mask) {
  TRvStreamReader in(Stream);
  TBmpHeader h;
  h.Start = in.Position();
  Params.Trailer = TRvTrailer{};
  std::uint8_t fileHeader[14] = {};
  in.Read(fileHeader, sizeof fileHeader);
  h.FileSize = Get32(fileHeader + 2);
  h.PixelOffset = Get32(fileHeader + 10);
  if (h.FileSize != 0 && Size <= 0) Size = h.FileSize;
  if (Get16(fileHeader) != BmpMagic) {
    Progress.Abort();
    return;
  }

  h.HeaderSize = in.U32LE();
  if (h.HeaderSize < 12) {
    // Nothing sensible follows a header shorter than the smallest one.
    Progress.Abort();
    return;
  }
  Params.FreeColorMap();
  Params.BmpHeader.clear();
  Params.IccProfile.clear();

  if (h.HeaderSize == 12) {
    std::uint8_t core[8] = {};
    in.Read(core, sizeof core);
    Params.BmpVersion = 2;
    h.Width = Get16(core);
    h.Height = Get16(core + 2);
    h.Bits = Get16(core + 6);
    Params.DpiX = RvDefaultDpiX;
    Params.DpiY = RvDefaultDpiY;
    Params.DpiStated = false;
    Params.BmpHeader.assign(core, core + sizeof core);
    Params.BmpHeader.insert(Params.BmpHeader.begin(), {12, 0, 0, 0});
    if (h.Bits <= 8) ReadColorMap(in, Params, 1 << h.Bits, 3);
  } else {
    std::uint8_t info[V5HeaderSize] = {};
    Put32(info, h.HeaderSize);
    in.Read(info + 4, std::min<std::uint32_t>(h.HeaderSize, V5HeaderSize) - 4);
    if (h.HeaderSize > V5HeaderSize) in.Skip(static_cast<std::int64_t>(h.HeaderSize) - V5HeaderSize);
    Params.BmpHeader.assign(info, info + std::min<std::uint32_t>(h.HeaderSize, V5HeaderSize));
    Params.BmpVersion = h.HeaderSize == 64 ? 3 : h.HeaderSize == 40 ? 1 : 0;
    h.Width = static_cast<std::int32_t>(Get32(info + 4));
    h.Height = static_cast<std::int32_t>(Get32(info + 8));
    h.Bits = Get16(info + 14);
    h.Compression = Get32(info + 16);
    h.ImageSize = Get32(info + 20);
    // A resolution of zero or less says nothing: the default stands in.
    const int dpiX = BmpDpiFromPpm(static_cast<std::int32_t>(Get32(info + 24)));
    const int dpiY = BmpDpiFromPpm(static_cast<std::int32_t>(Get32(info + 28)));
    Params.DpiX = dpiX > 0 ? dpiX : RvDefaultDpiX;
    Params.DpiY = dpiY > 0 ? dpiY : RvDefaultDpiY;
    Params.DpiStated = dpiX > 0 || dpiY > 0;
    std::uint32_t used = Get32(info + 32);
    if (used > 256) used = 0;
    if (used == 0 && h.Bits <= 8) used = 1u << h.Bits;
    // Version 2 and later headers carry the masks themselves (the OS/2
    // header of 64 bytes does not). After a 40-byte header they come before
    // the palette, as every writer puts them; read after it they would take
    // palette entries for masks.
    const bool masks = h.Compression == BiBitFields;
    if (masks && h.HeaderSize >= 52 && h.HeaderSize != 64)
      for (int k = 0; k < 3; ++k) h.Masks[k] = Get32(info + 40 + 4 * k);
    // Headers of 56 bytes and more follow the colour masks with the alpha
    // mask: a 16- or 32-bit picture with one has transparency (16 bits
    // only from a mask in their own).
    if (masks && h.HeaderSize >= 56 && h.HeaderSize != 64 && (h.Bits == 32 || h.Bits == 16))
      h.AlphaMask = Get32(info + 52) & (h.Bits == 16 ? 0xFFFFu : 0xFFFFFFFFu);
    // The fourth byte of a plain 32-bit pixel is alpha when any pixel uses
    // it; writers that leave it zero mean an opaque picture.
    if (h.HeaderSize == 40 && h.Compression == BiRgb && h.Bits == 32) {
      h.AlphaMask = 0xFF000000;
      h.AlphaIfUsed = true;
    }
    else if (masks && h.HeaderSize == 40)
      for (int k = 0; k < 3; ++k) {
        h.Masks[k] = in.U32LE();
        Params.BmpHeader.resize(Params.BmpHeader.size() + 4);
        Put32(Params.BmpHeader.data() + 40 + 4 * k, h.Masks[k]);
      }
    if (used != 0) ReadColorMap(in, Params, static_cast<int>(used), 4);
    if (masks && h.HeaderSize < 52 && h.HeaderSize != 40)
      for (int k = 0; k < 3; ++k) h.Masks[k] = in.U32LE();
  }
  Params.Width = static_cast<std::int32_t>(h.Width);
  // Top-down files store a negative height; the picture is as high either way.
  Params.Height =
      static_cast<std::int32_t>(std::min<std::int64_t>(std::llabs(h.Height), INT32_MAX));
  Params.BmpCompression = (h.Compression == BiRle8 || h.Compression == BiRle4) ? 1 : 0;
  SetSampleLayout(h.Bits, Params);
  if (h.AlphaMask != 0 && !h.AlphaIfUsed) Params.SamplesPerPixel = 4;

  ReadProfile(in, h.Start, Params);
  if (h.PixelOffset != 0) in.Seek(h.Start + h.PixelOffset);
  const std::int64_t pixelAt = in.Position();
  const std::int64_t dataSize =
      Size > 0 ? Size - (in.Position() - h.Start) : static_cast<std::int64_t>(h.ImageSize);

  if (HeaderOnly) return;
  // A picture without pixels, or one whose depth and compression this reader
  // cannot decode, is a failed read rather than a blank picture.
  if (Bitmap == nullptr || h.Width < 1 || h.Height == 0 || !Supported(h)) {
    Progress.Abort();
    return;
  }
  const std::int64_t height = std::llabs(h.Height);
  // Uncompressed rows are written whole (a short read is zero-filled by the
  // reader); run-length data may skip pixels, so they start from a cleared picture.
  const bool rle = h.Compression == BiRle8 || h.Compression == BiRle4;
  // The data are weighed before the picture is allocated, so that a header
  // claiming more than they could ever fill costs no memory: uncompressed
  // rows by the bytes they take, run-length data by the rows they reach.
  TRvBuffer rleData;
  std::int64_t held = in.Remaining(), needed = 0;
  if (rle) {
    const std::int64_t size = std::min(dataSize > 0 ? dataSize : in.Remaining(), in.Remaining());
    if (size > 0 && !rleData.Allocate(size)) {
      Progress.Abort();
      return;
    }
    in.Read(rleData.Data(), size);
    held = BmpRleRowsReached(rleData.Data(), rleData.Size(), height, h.Compression == BiRle4);
    needed = height;
  } else if (!RvSizeMul(RvRowLen(h.Width, h.Bits), height, needed)) {
    needed = INT64_MAX;
  }
  // Pixels from no byte at all (run-length data may still skip every
  // pixel, which is a picture of the background) are none of the file's.
  const bool none = rle ? rleData.Size() <= 0 : held <= 0;
  if (none || !RvDataCanFill(held, needed, h.Width, height)) {
    Progress.Abort();
    return;
  }
  const std::array<TRGB, 256> pal = FullPalette(Params);
  const bool blackWhite = h.Bits == 1 && (IsWhiteBlack(pal[0], pal[1]) || IsWhiteBlack(pal[1], pal[0]));
  if (!RvAllocateBitmap(*Bitmap, h.Width, height, blackWhite ? rvpf1Bit : rvpf24Bit, rle)) {
    Progress.Abort();
    return;
  }
  Progress.Per = 100.0 / static_cast<double>(height);
  TRvMask* alpha = nullptr;
  if (h.AlphaMask != 0 && Mask != nullptr) {
    if (!*Mask) *Mask = std::make_unique<TRvMask>();
    (*Mask)->Allocate(static_cast<int>(h.Width), static_cast<int>(height), 8);
    (*Mask)->Fill(255);
    alpha = Mask->get();
  }
  ReadPixels(in, *Bitmap, h, Params, Progress, rleData, alpha);
  if (alpha != nullptr) {
    // Full only while every pixel is opaque.
    bool opaque = true, unused = true;
    for (int y = 0; y < alpha->Height() && (opaque || unused); ++y) {
      const std::uint8_t* row = alpha->ScanLine(y);
      opaque = opaque && std::all_of(row, row + alpha->Width(), [](std::uint8_t a) { return a == 255; });
      unused = unused && std::all_of(row, row + alpha->Width(), [](std::uint8_t a) { return a == 0; });
    }
    if (h.AlphaIfUsed && unused) {
      alpha->Fill(255);
    } else {
      alpha->SetFull(opaque);
      Params.SamplesPerPixel = 4;
    }
  }
  // What follows the pixels, and a profile placed after them, is another
  // program's: a save of the file copies it after its own. Run-length data
  // of no stated size run to the file's end.
  if (Progress.IsAborting() || (rle && h.ImageSize == 0) || Size != Stream.Size() - h.Start) return;
  const std::int64_t end = std::max(pixelAt + (rle ? std::int64_t{h.ImageSize} : needed), ProfileEnd(h.Start, Params));
  RvNoteTrailer(Stream, end, rvftBMP, Params);
}

void BmpWritePalette(platform::TStream& Stream, const TRGB* ColorMap, int Count,
                     TRvProgressRec& Progress) {
  if (ColorMap == nullptr || Count < 1) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Count) * 4, 0);
  for (int i = 0; i < Count; ++i) {
    bytes[4 * i] = ColorMap[i].b;
    bytes[4 * i + 1] = ColorMap[i].g;
    bytes[4 * i + 2] = ColorMap[i].r;
  }
  RvSafeStreamWrite(Stream, *Progress.Aborting, bytes.data(),
                    static_cast<std::int64_t>(bytes.size()));
}

namespace {

void MakeFileHeader(std::uint8_t* Out, std::uint32_t FileSize, std::uint32_t PixelOffset) {
  std::memset(Out, 0, 14);
  Put16(Out, BmpMagic);
  Put32(Out + 2, FileSize);
  Put32(Out + 10, PixelOffset);
}

// A field of the header kept from the file read; 0 past its end.
std::uint32_t StoredField(const std::vector<std::uint8_t>& Header, std::size_t Offset) {
  return Header.size() >= Offset + 4 ? Get32(Header.data() + Offset) : 0;
}

// The size, depth and compression of the header kept from the file read.
struct TStoredHeader {
  explicit TStoredHeader(const std::vector<std::uint8_t>& H) : Size(StoredField(H, 0)) {
    if (Size == 12 && H.size() >= 12) Bits = Get16(H.data() + 10);
    else if (Size >= 16 && H.size() >= 16) Bits = Get16(H.data() + 14);
    Compression = StoredField(H, 16);
  }
  std::uint32_t Size = 0;
  int Bits = 0;
  std::uint32_t Compression = BiRgb;
};

// How the picture goes into the file.
struct TBmpLayout {
  int Bits = 24;
  std::uint32_t HeaderSize = 40;
  std::uint32_t Compression = BiRgb;
  // Red, green, blue and alpha bit fields.
  std::uint32_t Masks[4] = {0, 0, 0, 0};
  // 16-bit colour fields as this reader widens them; else with the low bits
  // 0 other readers of 5-bit samples leave.
  bool Scaled = true;
  // The picture may come from such a reader: not from a 16-bit BMP, whose
  // samples this reader widened, so that its low bits are the file's.
  bool OtherReader = true;
  // The fourth byte of an opaque 32-bit pixel.
  std::uint8_t Filler = 0;
};

// The layout of every picture with transparency but one a 16-bit file's
// fields still hold.
TBmpLayout WithAlphaLayout() {
  TBmpLayout L;
  L.Bits = 32;
  L.Compression = BiBitFields;
  const std::uint32_t Bgra[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  std::copy_n(Bgra, 4, L.Masks);
  return L;
}

// Whether 16-bit fields can be written as the reader reads them: each colour
// and the alpha mask a run of 1 to 16 bits (or none) in the pixel's 16, in
// any order and place, no two sharing a bit.
bool WritableFields(const std::uint32_t (&Masks)[4]) {
  std::uint32_t Taken = 0;
  for (const std::uint32_t M : Masks) {
    const TChannel F(M);
    if (M > 0xFFFF || (Taken & M) != 0 || (M != 0 && M != ((1u << F.Width) - 1) << F.Low)) return false;
    Taken |= M;
  }
  return Taken != 0;
}

// An 8-bit sample narrowed into its field, added to Value; false when the
// field cannot give the sample back. A field wider than 8 bits gives back
// its top 8, and takes them with its lower bits repeating them.
bool Narrow(const TChannel& F, unsigned Sample, bool Scaled, std::uint32_t& Value) {
  if (F.Width == 0) return Sample == 0;
  std::uint32_t V = 0;
  if (F.Width > 8) V = Sample << (F.Width - 8) | Sample >> (16 - F.Width);
  else if (Scaled) V = (Sample * ((1u << F.Width) - 1) + 127) / 255;
  else V = Sample >> (8 - F.Width);
  Value |= V << F.Low;
  if (F.Width >= 8) return true;
  return Scaled ? F.Get(V << F.Low) == Sample : (Sample & ((1u << (8 - F.Width)) - 1)) == 0;
}

// A 24-bit pixel and its alpha in 16-bit fields (validated by
// WritableFields); false when it has values the fields lack, as only a
// picture read from such a file has none.
bool Pack16(const std::uint8_t* Pixel, unsigned Alpha, const TChannel (&Fields)[4], bool Scaled,
            std::uint32_t& Value) {
  Value = 0;
  bool Fits = true;
  for (int K = 0; K < 3; ++K) Fits = Narrow(Fields[K], Pixel[2 - K], Scaled, Value) && Fits;
  // The reader widens alpha by its width whatever the colours.
  if (Fields[3].Width != 0) Fits = Narrow(Fields[3], Alpha, true, Value) && Fits;
  return Fits;
}

unsigned AlphaAt(const TRvMask* Alpha, int X, int Y) {
  return Alpha != nullptr && X < Alpha->Width() && Y < Alpha->Height() ? static_cast<unsigned>(Alpha->GetPixel(X, Y))
                                                                       : 255u;
}

// Whether every pixel (and alpha, if any) fits L's 16-bit fields, as this
// reader or another one left it; L says which.
bool FitsSixteenBits(TRvBitmap& Bitmap24, const TRvMask* Alpha, TBmpLayout& L) {
  const TChannel Fields[4] = {TChannel(L.Masks[0]), TChannel(L.Masks[1]), TChannel(L.Masks[2]), TChannel(L.Masks[3])};
  std::uint32_t Unused = 0;
  for (const bool Scaled : {true, false}) {
    if (!Scaled && !L.OtherReader) break;
    bool Fits = true;
    for (int Y = 0; Y < Bitmap24.Height() && Fits; ++Y) {
      const std::uint8_t* Row = Bitmap24.Scanline(Y);
      for (int X = 0; X < Bitmap24.Width() && Fits; ++X)
        Fits = Pack16(Row + 3 * static_cast<std::size_t>(X), AlphaAt(Alpha, X, Y), Fields, Scaled, Unused);
    }
    L.Scaled = Scaled;
    if (Fits) return true;
  }
  return false;
}

// The depth and bit fields of a picture: those the file was read with
// where the picture still fits them. Transparency only 16-bit fields with
// an alpha mask keep; else it takes 32 bits.
void ChooseDepth(const TIOParamsVals& Params, const TStoredHeader& Stored, bool Core, bool WithAlpha,
                 TBmpLayout& L) {
  const std::vector<std::uint8_t>& H = Params.BmpHeader;
  if (!WithAlpha && (Params.BitsPerSample == 1 || Params.BitsPerSample == 4)) L.Bits = Params.BitsPerSample;
  else if (!WithAlpha && Params.SamplesPerPixel == 1) L.Bits = 8;
  if (L.Bits != 24 || Core) return;
  const std::uint32_t Stated[4] = {StoredField(H, 40), StoredField(H, 44), StoredField(H, 48),
                                   Stored.Size >= 56 ? StoredField(H, 52) : 0};
  const bool Fields = Stored.Compression == BiBitFields;
  if (Params.BitsPerSample == 5) {
    // Only a 16-bit file's read gives 5 bits a sample.
    L.Bits = 16;
    L.OtherReader = Stored.Bits != 16;
    const std::uint32_t Usual[4] = {0x7C00, 0x03E0, 0x001F, 0};
    std::copy_n(Usual, 4, L.Masks);
    if (Stored.Bits == 16 && Fields && Stored.Size != 64 && WritableFields(Stated)) {
      L.Compression = BiBitFields;
      std::copy_n(Stated, 4, L.Masks);
    }
  } else if (Stored.Bits == 32 && Params.BitsPerSample == 8 && (!Fields || (Stated[0] == 0x00FF0000 &&
             Stated[1] == 0x0000FF00 && Stated[2] == 0x000000FF && (Stated[3] == 0 || Stated[3] == 0xFF000000)))) {
    L.Bits = 32;
    L.Compression = Fields ? BiBitFields : BiRgb;
    std::copy_n(Stated, 4, L.Masks);
    L.Filler = Fields && Stated[3] != 0 ? 255 : 0;
  }
  if (WithAlpha && (L.Bits != 16 || L.Masks[3] == 0)) L = WithAlphaLayout();
}

// The header of the file read, from its fortieth byte, where the one
// written is of its kind: its bit fields, colour space and the fields of
// the OS/2 header. False when there is none.
bool CopyStoredTail(const std::vector<std::uint8_t>& H, const TStoredHeader& Stored, std::uint32_t Size,
                    std::uint8_t* Header) {
  if (Stored.Size <= 40 || (Stored.Size == 64) != (Size == 64)) return false;
  const std::size_t End = std::min<std::size_t>({Size, Stored.Size, H.size()});
  if (End > 40) std::copy(H.begin() + 40, H.begin() + static_cast<std::ptrdiff_t>(End), Header + 40);
  return true;
}

} // namespace

void BmpWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    TRvProgressRec& Progress, const TRvMask* Alpha) {
  TRvAbortFlag& aborting = *Progress.Aborting;
  const int width = Bitmap.Width();
  const int height = Bitmap.Height();
  if (width < 1 || height < 1 || Bitmap.PixelFormat() == rvpfNone) {
    Progress.Abort();
    return;
  }
  // Transparency needs an alpha mask (of 32 bits, or of the 16-bit fields
  // the file had), which the OS/2 header cannot state: a picture with it is
  // written with the version 4 header, or the file's own that holds one.
  const bool withAlpha = Alpha != nullptr && !Alpha->Full();
  const bool core = Params.BmpVersion == 2 && !withAlpha;
  // The core header holds 16-bit sizes: a larger picture cannot be written in it.
  if (core && (width > 0xFFFF || height > 0xFFFF)) {
    Progress.Abort();
    return;
  }
  const std::vector<std::uint8_t>& stored = Params.BmpHeader;
  const TStoredHeader storedHeader(stored);
  TBmpLayout layout;
  ChooseDepth(Params, storedHeader, core, withAlpha, layout);

  // The picture the rows come from: its indexes into the palette written
  // before them, or its 24-bit pixels.
  std::unique_ptr<TRvBitmap> copy;
  TRvBitmap* work = nullptr;
  std::vector<TRGB> palette;
  std::vector<std::uint8_t> ownIndexes;
  std::unique_ptr<TRvPaletteMapper> mapper;
  bool own = false;
  if (layout.Bits <= 8) {
    // The palette the picture was read with, its entries in their order,
    // while every pixel is one of them.
    if (Params.ColorMap && Params.ColorMapCount > 0) {
      const int count = std::min(Params.ColorMapCount, 1 << layout.Bits);
      own = RvIndexesInPalette(Bitmap, nullptr, Params.ColorMap.get(), nullptr, count, ownIndexes);
      if (own) palette.assign(Params.ColorMap.get(), Params.ColorMap.get() + count);
    }
    if (!own && layout.Bits == 1) {
      TRGB two[2];
      work = RvAsBlackWhite(Bitmap, copy, two);
      palette.assign(two, two + 2);
    } else if (!own) {
      work = RvAs24Bit(Bitmap, copy);
      palette.resize(std::size_t{1} << layout.Bits);
      if (work != nullptr) mapper = std::make_unique<TRvPaletteMapper>(*work, palette.data(), 1 << layout.Bits);
    }
    if (!own && work == nullptr) {
      Progress.Abort();
      return;
    }
    if (!own) Params.SetColorMap(palette.data(), static_cast<int>(palette.size()));
  } else {
    work = RvAs24Bit(Bitmap, copy);
    if (work == nullptr) {
      Progress.Abort();
      return;
    }
    if (layout.Bits == 16 && !FitsSixteenBits(*work, withAlpha ? Alpha : nullptr, layout))
      layout = withAlpha ? WithAlphaLayout() : TBmpLayout{};
  }

  // The header the file was read with where it can be written again; a
  // colour profile takes the version 5 header, alpha at least version 4.
  std::uint32_t headerSize = Params.BmpVersion == 3 ? 64 : 40;
  if (Params.BmpVersion == 0 && (storedHeader.Size == 52 || storedHeader.Size == 56 ||
                                 storedHeader.Size == V4HeaderSize || storedHeader.Size == V5HeaderSize))
    headerSize = storedHeader.Size;
  if (withAlpha && headerSize < V4HeaderSize && (layout.Bits != 16 || headerSize < 56 || headerSize == 64))
    headerSize = V4HeaderSize;
  std::vector<std::uint8_t> profile = Params.IccProfile;
  std::uint32_t profileType = ProfileEmbedded;
  if (profile.empty() && stored.size() > V5HeaderSize && StoredField(stored, 56) == ProfileLinked) {
    profile.assign(stored.begin() + V5HeaderSize, stored.end());
    profileType = ProfileLinked;
  }
  if (!profile.empty() && headerSize != 64) headerSize = V5HeaderSize;
  if (core) headerSize = 12;
  // The OS/2 header has no bit fields: their usual values say the same.
  if (headerSize == 64 && layout.Compression == BiBitFields) {
    const std::uint32_t usual[4] = {0x7C00, 0x03E0, 0x001F, 0};
    if (layout.Bits == 16 && !std::equal(layout.Masks, layout.Masks + 4, usual)) layout = TBmpLayout{};
    layout.Compression = BiRgb;
  }
  const int bits = layout.Bits;
  const bool rle = !core && Params.BmpCompression == 1 && (bits == 4 || bits == 8);
  if (rle) layout.Compression = bits == 4 ? BiRle4 : BiRle8;
  const TChannel fields[4] = {TChannel(layout.Masks[0]), TChannel(layout.Masks[1]), TChannel(layout.Masks[2]),
                              TChannel(layout.Masks[3])};
  const bool withProfile = headerSize == V5HeaderSize && !profile.empty();
  const std::int64_t rowBytes = RvRowLen(width, bits);

  const std::int64_t start = Stream.Position();
  std::uint8_t fileHeader[14];
  MakeFileHeader(fileHeader, 0, 0);
  RvSafeStreamWrite(Stream, aborting, fileHeader, sizeof fileHeader);

  std::uint8_t header[V5HeaderSize] = {};
  Put32(header, headerSize);
  if (core) {
    Put16(header + 4, static_cast<std::uint32_t>(width));
    Put16(header + 6, static_cast<std::uint32_t>(height));
    Put16(header + 8, 1);
    // No count of entries: the palette is always as long as the depth says.
    if (!palette.empty()) palette.resize(std::size_t{1} << bits);
  } else {
    const bool kept = CopyStoredTail(stored, storedHeader, headerSize, header);
    const bool sameDepth = storedHeader.Bits == bits && storedHeader.Size >= 40;
    Put32(header + 4, static_cast<std::uint32_t>(width));
    Put32(header + 8, static_cast<std::uint32_t>(height));
    Put16(header + 12, 1);
    Put32(header + 16, layout.Compression);
    // A file that stated no resolution gets none; one that did gets its own
    // pixels a metre back for the axis that still has them (a quarter turn
    // swaps them), not the dots an inch rounded and turned back.
    const auto ppm = [&](int dpi) {
      if (!Params.DpiStated) return 0u;
      for (std::size_t at : {std::size_t{24}, std::size_t{28}})
        if (const std::uint32_t was = StoredField(stored, at);
            storedHeader.Size >= 40 && BmpDpiFromPpm(static_cast<std::int32_t>(was)) == dpi)
          return was;
      return static_cast<std::uint32_t>(BmpPpmFromDpi(dpi));
    };
    Put32(header + 24, ppm(Params.DpiX));
    Put32(header + 28, ppm(Params.DpiY));
    const std::uint32_t count = static_cast<std::uint32_t>(palette.size());
    Put32(header + 32, own && sameDepth && StoredField(stored, 32) == 0 && count == 1u << bits ? 0u : count);
    Put32(header + 36, sameDepth ? StoredField(stored, 36) : bits == 32 ? 0u : 1u << bits);
    if (layout.Compression == BiBitFields && headerSize >= 52)
      for (int k = 0; k < (headerSize >= 56 ? 4 : 3); ++k) Put32(header + 40 + 4 * k, layout.Masks[k]);
    if (headerSize >= V4HeaderSize) {
      const std::uint32_t space = Get32(header + 56);
      if (withProfile) Put32(header + 56, profileType);
      else if (!kept || space == ProfileEmbedded || space == ProfileLinked) Put32(header + 56, ColourSpaceSrgb);
    }
    // Pictures are rendered as images unless the file said otherwise.
    if (headerSize == V5HeaderSize && (!kept || storedHeader.Size < V5HeaderSize)) Put32(header + 108, 4);
    if (headerSize == V5HeaderSize) {
      Put32(header + 112, 0);
      Put32(header + 116, 0);
    }
  }
  RvSafeStreamWrite(Stream, aborting, header, headerSize);
  // After a 40-byte header the bit fields come before the pixels.
  if (!core && headerSize == 40 && layout.Compression == BiBitFields) {
    std::uint8_t fields[12];
    for (int k = 0; k < 3; ++k) Put32(fields + 4 * k, layout.Masks[k]);
    RvSafeStreamWrite(Stream, aborting, fields, sizeof fields);
  }

  if (!palette.empty() && !Progress.IsAborting()) {
    if (core) {
      RvSafeStreamWrite(Stream, aborting, palette.data(),
                        static_cast<std::int64_t>(palette.size() * sizeof(TRGB)));
    } else {
      BmpWritePalette(Stream, palette.data(), static_cast<int>(palette.size()), Progress);
    }
  }
  const std::int64_t pixelStart = Stream.Position();

  Progress.Per = 100.0 / height;
  std::vector<std::uint8_t> line(static_cast<std::size_t>(rowBytes));
  std::vector<std::uint8_t> indexes(bits <= 8 ? static_cast<std::size_t>(width) : 0);
  std::vector<std::uint8_t> packed;
  if (rle) packed.resize(static_cast<std::size_t>(BmpRleRowBound(width)));
  const int last = static_cast<int>(palette.size()) - 1;

  for (int i = 0; i < height && !Progress.IsAborting(); ++i) {
    Progress.Step(i);
    if (Progress.IsAborting()) break;
    const int y = height - 1 - i;
    std::fill(line.begin(), line.end(), 0);
    if (bits <= 8) {
      if (own) {
        std::copy_n(ownIndexes.begin() + static_cast<std::ptrdiff_t>(y) * width, width, indexes.begin());
      } else {
        const std::uint8_t* src = work->Scanline(y);
        for (int x = 0; x < width; ++x)
          indexes[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(
              bits == 1 ? (src[x >> 3] >> (7 - (x & 7))) & 1
                        : std::clamp(mapper->Index(src + 3 * static_cast<std::size_t>(x)), 0, last));
      }
      if (rle) {
        const int n = bits == 8 ? BmpEncodeRle8(indexes.data(), width, packed.data())
                                : BmpEncodeRle4(indexes.data(), width, packed.data());
        RvSafeStreamWrite(Stream, aborting, packed.data(), n);
        continue;
      }
      // The first pixel in the highest bits; the padding goes out cleared.
      for (int x = 0; x < width; ++x)
        line[static_cast<std::size_t>(x) * bits / 8] |=
            static_cast<std::uint8_t>(indexes[static_cast<std::size_t>(x)] << (8 - bits - (x * bits) % 8));
    } else {
      const std::uint8_t* src = work->Scanline(y);
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = src + 3 * static_cast<std::size_t>(x);
        if (bits == 24) {
          std::memcpy(line.data() + 3 * static_cast<std::size_t>(x), p, 3);
        } else if (bits == 16) {
          std::uint32_t v = 0;
          Pack16(p, AlphaAt(withAlpha ? Alpha : nullptr, x, y), fields, layout.Scaled, v);
          Put16(line.data() + 2 * static_cast<std::size_t>(x), v);
        } else {
          std::uint8_t* q = line.data() + 4 * static_cast<std::size_t>(x);
          std::memcpy(q, p, 3);
          q[3] = !withAlpha ? layout.Filler : static_cast<std::uint8_t>(AlphaAt(Alpha, x, y));
        }
      }
    }
    RvSafeStreamWrite(Stream, aborting, line.data(), rowBytes);
  }
  if (rle && !Progress.IsAborting()) {
    const std::uint8_t endOfBitmap[2] = {0, 1};
    RvSafeStreamWrite(Stream, aborting, endOfBitmap, 2);
  }
  const std::int64_t pixelEnd = Stream.Position();
  // The profile follows the pixels; the header says where from its own start.
  if (withProfile && !Progress.IsAborting()) {
    Put32(header + 112, static_cast<std::uint32_t>(pixelEnd - start - 14));
    Put32(header + 116, static_cast<std::uint32_t>(profile.size()));
    RvSafeStreamWrite(Stream, aborting, profile.data(), static_cast<std::int64_t>(profile.size()));
  }
  if (Progress.IsAborting()) return;

  const std::int64_t end = Stream.Position();
  // Sizes are 32-bit fields: a file they cannot describe is not finished.
  if (end - start > 0xFFFFFFFFll) {
    Progress.Abort();
    return;
  }
  MakeFileHeader(fileHeader, static_cast<std::uint32_t>(end - start),
                 static_cast<std::uint32_t>(pixelStart - start));
  Stream.Seek(start, platform::soBeginning);
  RvSafeStreamWrite(Stream, aborting, fileHeader, sizeof fileHeader);
  if (core) {
    Put16(header + 10, static_cast<std::uint32_t>(bits));
  } else {
    Put16(header + 14, static_cast<std::uint32_t>(bits));
    Put32(header + 20, static_cast<std::uint32_t>(pixelEnd - pixelStart));
  }
  RvSafeStreamWrite(Stream, aborting, header, headerSize);
  Stream.Seek(end, platform::soBeginning);
}

} // namespace rv
