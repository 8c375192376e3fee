#include "image/io/bmp/rvico.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/io/bmp/rvbmp.h"
#include "image/io/rvsafeio.h"

namespace rv {

namespace {

constexpr int IcoType = 1;
constexpr int CurType = 2;

inline std::uint16_t Get16(const std::uint8_t* P) {
  return static_cast<std::uint16_t>(P[0] | (P[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* P) {
  return static_cast<std::uint32_t>(P[0]) | (static_cast<std::uint32_t>(P[1]) << 8) |
         (static_cast<std::uint32_t>(P[2]) << 16) | (static_cast<std::uint32_t>(P[3]) << 24);
}

bool IsDirectoryStream(platform::TStream& Stream, int Type) {
  const std::int64_t start = Stream.Position();
  if (Stream.Size() - start < 23) return false;
  bool ok = true;
  {
    TRvStreamReader in(Stream);
    const int reserved = in.U16LE();
    const int type = in.U16LE();
    const int count = in.U16LE();
    ok = reserved == 0 && type == Type && count != 0;
    for (int i = 0; ok && i < count; ++i) {
      std::uint8_t entry[16];
      if (!in.Read(entry, sizeof entry)) {
        ok = false;
        break;
      }
      const std::int64_t after = in.Position() - start;
      ok = entry[3] == 0 && Get32(entry + 8) != 0 && Get32(entry + 12) >= after;
    }
  }
  Stream.Seek(start, platform::soBeginning);
  return ok;
}

// What tells the two formats apart while reading.
struct TDirectoryKind {
  bool Cursor;
  int Index;
  TRGB Background;
};

// Smallest b with 2^b at least Count.
int BitsForCount(int Count) {
  int b = 0;
  while (b < 16 && (1 << b) < Count) ++b;
  return b;
}

void ReadDirectoryImage(platform::TStream& Stream, TRvBitmap* Bitmap, TIOParamsVals& Params,
                        bool NoMask, std::unique_ptr<TRvMask>& AlphaMask, TRvProgressRec& Progress,
                        bool HeaderOnly, const TDirectoryKind& Kind) {
  TRvStreamReader in(Stream);
  const std::int64_t start = in.Position();
  std::uint8_t dirHeader[6] = {};
  in.Read(dirHeader, sizeof dirHeader);
  const int count = Get16(dirHeader + 4);
  // A directory of no image has nothing to show.
  if (count == 0) {
    Progress.Abort();
    return;
  }
  if (Kind.Index < 0 || Kind.Index >= count) return;
  std::uint8_t entry[16] = {};
  for (int i = 0; i <= Kind.Index; ++i) in.Read(entry, sizeof entry);

  if (!in.Seek(start + Get32(entry + 12))) {
    Progress.Abort();
    return;
  }
  std::uint8_t header[40] = {};
  in.Read(header, sizeof header);
  const std::uint32_t headerSize = Get32(header);
  // Images stored as PNG, or with a header this reader does not know, are
  // refused rather than shown as an empty picture.
  if (headerSize < 40 || headerSize > 1024) {
    Progress.Abort();
    return;
  }
  in.Skip(headerSize - 40);

  const std::int64_t headerWidth = static_cast<std::int32_t>(Get32(header + 4));
  const std::int64_t headerHeight = static_cast<std::int32_t>(Get32(header + 8));
  const int headerBits = Get16(header + 14);
  const std::int32_t ppmX = static_cast<std::int32_t>(Get32(header + 24));
  const std::int32_t ppmY = static_cast<std::int32_t>(Get32(header + 28));
  Params.DpiX = ppmX > 0 ? BmpDpiFromPpm(ppmX) : RvDefaultDpiX;
  Params.DpiY = ppmY > 0 ? BmpDpiFromPpm(ppmY) : RvDefaultDpiY;

  const int entryColours = entry[2];
  int bits = Kind.Cursor ? headerBits : (Get16(entry + 6) != 0 ? Get16(entry + 6) : 0);
  if (!Kind.Cursor && headerBits != 0) bits = headerBits;
  if (bits == 0) {
    if (entryColours == 0) {
      Progress.Abort();
      return;
    }
    bits = BitsForCount(entryColours);
  }
  int colours = bits <= 8 ? 1 << bits : 0;
  if (Kind.Cursor) {
    Params.SamplesPerPixel = 1;
    Params.BitsPerSample = bits;
    Params.CurHotSpotX = Get16(entry + 4);
    Params.CurHotSpotY = Get16(entry + 6);
    if (entryColours == 255)
      colours = 256;
    else if (entryColours != 0)
      colours = entryColours;
  } else if (bits <= 8) {
    Params.BitsPerSample = bits;
    Params.SamplesPerPixel = 1;
  } else {
    Params.BitsPerSample = 8;
    Params.SamplesPerPixel = 3;
  }

  std::int64_t width = entry[0] != 0 ? entry[0] : headerWidth;
  std::int64_t height = entry[1] != 0 ? entry[1] : headerHeight / 2;
  if (!Kind.Cursor && entry[0] != headerWidth && entry[0] != 0 && headerWidth != 0 &&
      headerWidth < 2048 && headerHeight < 2048) {
    width = headerWidth;
    height = headerHeight / 2;
  }

  Params.FreeColorMap();
  if (bits <= 8 && colours > 0) {
    TRGB* map = Params.AllocColorMap(colours);
    std::uint8_t e[4];
    for (int i = 0; i < colours; ++i) {
      in.Read(e, 4);
      map[i].b = e[0];
      map[i].g = e[1];
      map[i].r = e[2];
    }
  }
  Params.Width = static_cast<std::int32_t>(std::clamp<std::int64_t>(width, INT32_MIN, INT32_MAX));
  Params.Height = static_cast<std::int32_t>(std::clamp<std::int64_t>(height, INT32_MIN, INT32_MAX));
  if (HeaderOnly) return;

  // A depth without a decoding path is a failed read, not a blank picture.
  const bool decodable = bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
  if (Bitmap == nullptr || width < 1 || height < 1 || !decodable) {
    Progress.Abort();
    return;
  }
  // The colour rows must be in the stream (the AND mask may be missing
  // under 32-bit pixels): a header claiming more is refused before any
  // memory is taken, and an image that ends with its header has none.
  std::int64_t needed = 0;
  if (!RvSizeMul(RvRowLen(width, bits), height, needed)) needed = INT64_MAX;
  if (in.Remaining() <= 0 || !RvDataCanFill(in.Remaining(), needed, width, height)) {
    Progress.Abort();
    return;
  }
  // The pixel format follows the depth actually decoded, so that a cursor
  // whose entry claims two colours cannot have wider rows written into it.
  if (!RvAllocateBitmap(*Bitmap, width, height, bits == 1 ? rvpf1Bit : rvpf24Bit)) {
    Progress.Abort();
    return;
  }
  TRvMask* mask = nullptr;
  if (!NoMask) {
    if (!AlphaMask) AlphaMask = std::make_unique<TRvMask>();
    AlphaMask->Allocate(static_cast<int>(width), static_cast<int>(height), 8);
    AlphaMask->Fill(255);
    AlphaMask->SetFull(false);
    mask = AlphaMask.get();
  }

  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  std::array<TRGB, 256> pal{};
  if (Params.ColorMap)
    std::copy_n(Params.ColorMap.get(), std::min(Params.ColorMapCount, 256), pal.begin());
  const std::int64_t colourRow = RvRowLen(w, bits);
  const std::int64_t maskRow = RvRowLen(w, 1);
  TRvBuffer line;
  if (!line.Allocate(std::max(colourRow, maskRow))) {
    Progress.Abort();
    return;
  }
  std::uint8_t* src = line.Data();
  const TRGB bg = Kind.Background;
  // 32-bit images carry their own alpha in the fourth byte; those whose
  // alpha bytes are all zero are older ones that rely on the AND mask.
  bool anyAlpha = false;
  if (bits == 32) {
    const std::int64_t colourStart = in.Position();
    for (int i = 0; i < h && !anyAlpha; ++i) {
      in.Read(src, colourRow);
      for (int x = 0; x < w && !anyAlpha; ++x)
        anyAlpha = src[4 * static_cast<std::size_t>(x) + 3] != 0;
    }
    in.Seek(colourStart);
  }

  // The colour rows, bottom row first.
  for (int i = 0; i < h; ++i) {
    if (Progress.IsAborting()) return;
    const int y = h - 1 - i;
    std::uint8_t* dst = Bitmap->Scanline(y);
    if (bits == 1 || bits == 24) {
      in.Read(dst, colourRow);
      continue;
    }
    in.Read(src, colourRow);
    for (int x = 0; x < w; ++x) {
      std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
      if (bits == 32) {
        const std::uint8_t* p = src + 4 * static_cast<std::size_t>(x);
        const std::uint8_t a = anyAlpha ? p[3] : 255;
        if (mask) mask->ScanLine(y)[x] = a;
        if (a == 0) {
          q[0] = bg.b;
          q[1] = bg.g;
          q[2] = bg.r;
        } else {
          q[0] = p[0];
          q[1] = p[1];
          q[2] = p[2];
        }
        continue;
      }
      const unsigned index =
          bits == 8 ? src[x] : ((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4));
      const TRGB& c = pal[index];
      q[0] = c.b;
      q[1] = c.g;
      q[2] = c.r;
    }
  }
  // 24-bit images hide pixels through the AND mask like the palette depths.
  if (bits == 32 && anyAlpha) return;

  // The AND mask: a set bit hides the pixel (or, in a 1-bit image whose
  // colour bit is set, inverts the screen under it).
  const bool whiteBackground = bg.r == 255 && bg.g == 255 && bg.b == 255;
  for (int i = 0; i < h; ++i) {
    if (Progress.IsAborting()) return;
    const int y = h - 1 - i;
    in.Read(src, maskRow);
    std::uint8_t* dst = Bitmap->Scanline(y);
    std::uint8_t* alpha = mask ? mask->ScanLine(y) : nullptr;
    for (int x = 0; x < w; ++x) {
      if (!(src[x >> 3] & (0x80u >> (x & 7)))) continue;
      if (alpha) alpha[x] = 0;
      if (bits == 1) {
        const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
        const bool set = (dst[x >> 3] & bit) != 0;
        if (set != whiteBackground)
          dst[x >> 3] |= bit;
        else
          dst[x >> 3] &= static_cast<std::uint8_t>(~bit);
      } else {
        std::uint8_t* q = dst + 3 * static_cast<std::size_t>(x);
        q[0] = bg.b;
        q[1] = bg.g;
        q[2] = bg.r;
      }
    }
  }
}

} // namespace

bool IsIcoStream(platform::TStream& Stream) { return IsDirectoryStream(Stream, IcoType); }

bool IsCurStream(platform::TStream& Stream) { return IsDirectoryStream(Stream, CurType); }

void IcoReadStream(platform::TStream& Stream, TRvBitmap* Bitmap, TIOParamsVals& Params, bool NoMask,
                   std::unique_ptr<TRvMask>& AlphaMask, TRvProgressRec& Progress, bool HeaderOnly) {
  const std::int64_t start = Stream.Position();
  std::uint8_t magic[2] = {0, 0};
  const std::int64_t got = Stream.Read(magic, 2);
  Stream.Seek(start, platform::soBeginning);
  if (got == 2 && magic[0] == 'B' && magic[1] == 'M') {
    BmpReadStream(Stream, Bitmap, Stream.Size() - start, Params, Progress, HeaderOnly);
    return;
  }
  ReadDirectoryImage(Stream, Bitmap, Params, NoMask, AlphaMask, Progress, HeaderOnly,
                     {false, Params.IcoImageIndex, Params.IcoBackground});
}

void CurReadStream(platform::TStream& Stream, TRvBitmap* Bitmap, TIOParamsVals& Params, bool NoMask,
                   std::unique_ptr<TRvMask>& AlphaMask, TRvProgressRec& Progress, bool HeaderOnly) {
  ReadDirectoryImage(Stream, Bitmap, Params, NoMask, AlphaMask, Progress, HeaderOnly,
                     {true, Params.CurImageIndex, Params.CurBackground});
}

} // namespace rv
