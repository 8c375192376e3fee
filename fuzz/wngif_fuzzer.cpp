// The GIF picture class: the reader, the stored form and the clipboard
// format, tolerant and strict; every frame the tolerant reading decodes is
// written again and must read back pixel for pixel.
#include <QMimeData>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "controls/support/wngif/wngif.h"
#include "fuzz_support.h"
#include "platform/graphicclass.h"
#include "platform/stream.h"

namespace {

bool SamePixels(platform::TBitmap& A, platform::TBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.PixelFormat() != B.PixelFormat()) return false;
  const std::size_t bytes = static_cast<std::size_t>((static_cast<std::int64_t>(A.Width()) * A.BitsPerPixel() + 7) / 8);
  for (int y = 0; y < A.Height(); ++y) {
    // The bits past the last pixel of a 1- and 4-bit row are not pixels.
    const int spare = static_cast<int>(bytes * 8 - static_cast<std::size_t>(A.Width()) * A.BitsPerPixel());
    const std::uint8_t mask = static_cast<std::uint8_t>(0xFF << spare);
    const std::uint8_t *a = A.ScanLine(y), *b = B.ScanLine(y);
    if (bytes > 1 && std::memcmp(a, b, bytes - 1) != 0) return false;
    if ((a[bytes - 1] & mask) != (b[bytes - 1] & mask)) return false;
  }
  return true;
}

void ReencodeFrames(wn::TWnGIFImage& Gif) {
  for (int i = 0; i < Gif.FrameCount() && i < 4; ++i) {
    platform::TBitmap* frame;
    try {
      frame = Gif.Frame(i)->GetBitmap();
    } catch (const std::runtime_error&) {
      continue;
    }
    if (frame->Empty()) continue;
    wn::TWnGIFImage copy;
    copy.Assign(frame);
    platform::TMemoryStream stream;
    copy.SaveToStream(stream);
    stream.SetPosition(0);
    wn::TWnGIFImage back;
    back.LoadFromStream(stream);
    if (back.FrameCount() != 1 || !SamePixels(*back.Frame(0)->GetBitmap(), *frame)) __builtin_trap();
  }
}

template <class TRead>
void Attempt(const TRead& Read, bool Reencode) {
  wn::TWnGIFImage gif;
  try {
    Read(gif);
  } catch (const std::runtime_error&) {
    // The reader's own failures; what was read before them stays usable.
  }
  if (Reencode) ReencodeFrames(gif);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 18, std::int64_t{64} << 20);
  const std::int64_t size = static_cast<std::int64_t>(Size);
  for (bool tolerant : {true, false}) {
    wn::GIFLoadCorrupted = tolerant;
    Attempt([&](wn::TWnGIFImage& gif) {
      platform::TBytesStream s(Data, size);
      gif.LoadFromStream(s);
    }, tolerant);
    Attempt([&](wn::TWnGIFImage& gif) {
      platform::TBytesStream s(Data, size);
      gif.ReadData(s);
    }, tolerant);
    Attempt([&](wn::TWnGIFImage& gif) {
      QMimeData mime;
      mime.setData(wn::GIFImageMimeType(), QByteArray(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size)));
      gif.LoadFromClipboardFormat(mime);
    }, tolerant);
  }
  wn::GIFLoadCorrupted = true;
  return 0;
}
