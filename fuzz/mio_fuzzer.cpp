// The multi-image loader on arbitrary bytes, read as a GIF and as a TIFF
// into a list that stands in for the thumbnail view: however the frames
// end, the parameter records stay one per image, numbered in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "image/io/rvmio.h"
#include "platform/stream.h"

namespace {

class TFrameList : public rv::TRvMViewLink, public rv::TRvHiddenViewLink {
public:
  rv::TRvViewLink& ViewLink() override { return *this; }
  int ImageCount() const override { return static_cast<int>(Sizes.size()); }
  void InsertImageEx(int Index) override {
    const int at = Index < 0 ? 0 : Index > ImageCount() ? ImageCount() : Index;
    Sizes.insert(Sizes.begin() + at, 0);
    Op = rv::RvMOpInsert;
    OpIndex = Index;
    CallBitmapChangeEvents();
  }
  void DeleteImage(int Index) override {
    if (Index < 0 || Index >= ImageCount()) return;
    Sizes.erase(Sizes.begin() + Index);
    Op = rv::RvMOpDelete;
    OpIndex = Index;
    CallBitmapChangeEvents();
  }
  void SetImage(int Index, rv::TRvBaseBitmap* Bitmap) override {
    if (Index >= 0 && Index < ImageCount()) Sizes[static_cast<std::size_t>(Index)] = Bitmap->Width();
  }
  void ImageBackground(int, platform::TColor) override {}
  void SetImageDelayTime(int, int) override {}
  void ReserveCacheSpace(int, int, int, int) override {}
  int TakeLastOp() override {
    const int op = Op;
    Op = rv::RvMOpNone;
    return op;
  }
  int LastOpIndex() const override { return OpIndex; }
  int SelectedImage() const override { return -1; }

  std::vector<int> Sizes;
  int Op = rv::RvMOpNone;
  int OpIndex = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 18, std::int64_t{64} << 20);
  for (const bool gif : {true, false}) {
    TFrameList list;
    list.Sizes.assign(2, 1);
    rv::TRastrumMIO mio;
    mio.SetAttachedMView(&list);
    platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
    if (gif)
      mio.LoadGifStreamFrames(stream);
    else
      mio.LoadTiffStreamFrames(stream);
    if (mio.ParamsCount() != list.ImageCount()) std::abort();
    for (int i = 0; i < mio.ParamsCount(); ++i)
      if (mio.GetParams(i)->GifImageIndex != i || mio.GetParams(i)->TiffImageIndex != i) std::abort();
    mio.SetAttachedMView(nullptr);
  }
  return 0;
}
