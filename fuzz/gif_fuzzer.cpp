// GIF reader on arbitrary bytes, with the program's LZW coders installed:
// header only, then frames in full by their index and every frame in one
// walk; the first frame is written again and must read back, and every
// frame turned must read back. A low pixel cap keeps each input small.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "image/io/gif/giflzw.h"
#include "image/io/gif/gifread.h"
#include "image/io/gif/gifturn.h"
#include "image/io/gif/gifwrite.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"

namespace {

// One frame of Stream read from its start (NoAlpha), or its header only;
// false when the read failed.
bool ReadAgain(platform::TStream& Stream, bool HeaderOnly, rv::TRvBitmap& Bitmap, int& Count) {
  Stream.SetPosition(0);
  rv::TIOParamsVals params;
  std::unique_ptr<rv::TRvMask> mask;
  rv::TRvLocalProgress reading;
  rv::GifReadStream(Stream, Bitmap, Count, true, mask, HeaderOnly, reading.Rec, params);
  return !reading.Rec.IsAborting();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 18, std::int64_t{64} << 20);
  platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
  int frames = 0;
  {
    rv::TIOParamsVals params;
    rv::TRvBitmap bitmap;
    std::unique_ptr<rv::TRvMask> mask;
    rv::TRvLocalProgress progress;
    rv::GifReadStream(stream, bitmap, frames, false, mask, true, progress.Rec, params);
  }
  // Every read walks the whole file: a few frames are enough.
  for (int index = 0; index < frames && index < 8; ++index) {
    stream.SetPosition(0);
    rv::TIOParamsVals params;
    params.GifImageIndex = index;
    rv::TRvBitmap bitmap;
    std::unique_ptr<rv::TRvMask> mask;
    rv::TRvLocalProgress progress;
    int count = 0;
    rv::GifReadStream(stream, bitmap, count, index % 2 == 1, mask, false, progress.Rec, params);
    if (index != 0 || progress.Rec.IsAborting() || bitmap.Width() < 1 ||
        std::int64_t{bitmap.Width()} * bitmap.Height() > 16384)
      continue;
    platform::TMemoryStream out;
    rv::TRvLocalProgress writing;
    rv::GifWriteStream(out, bitmap, params, writing.Rec);
    if (writing.Rec.IsAborting()) std::abort();
    rv::TRvBitmap reread;
    int count2 = 0;
    if (!ReadAgain(out, false, reread, count2) || count2 != 1 || reread.Width() != bitmap.Width() ||
        reread.Height() != bitmap.Height())
      std::abort();
  }
  // Every frame in one walk, each the size its record says.
  struct TSink : rv::TGifFrameSink {
    rv::TIOParamsVals Params;
    int Read = 0;
    rv::TIOParamsVals* FrameParams(int) override { return &Params; }
    bool FrameRead(int, rv::TRvBitmap& Bitmap) override {
      if (Bitmap.Width() != Params.Width || Bitmap.Height() != Params.Height) std::abort();
      ++Read;
      return true;
    }
  } sink;
  stream.SetPosition(0);
  std::vector<std::string> comments;
  rv::TRvLocalProgress walk;
  const int walked = rv::GifReadFrames(stream, sink, comments, walk.Rec);
  if (sink.Read > walked) std::abort();
  // Every frame turned a quarter, as a save of a turned animation writes
  // them: what is written reads again, with every frame the walk met (and
  // any empty ones past it, which the turn keeps as they are).
  stream.SetPosition(0);
  platform::TMemoryStream turned;
  rv::TRvLocalProgress turning;
  rv::TRvBitmap unused;
  int count = 0;
  if (rv::GifWriteTurned(stream, turned, rv::TRvGridTurn{0, -1, 1, 0}, turning.Rec) &&
      (!ReadAgain(turned, true, unused, count) || count < walked))
    std::abort();
  return 0;
}
