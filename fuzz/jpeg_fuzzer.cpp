// JPEG files come from anywhere: the header read, then the full decode (at a
// scale the input picks), must stay inside their buffers and end, and so
// must the read of an Exif block among the markers that each read leaves,
// as the program makes it (the header read's without the thumbnail); a
// decoded picture must encode, and that file must decode at the same size.
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "image/io/jpeg/jpegfilt.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/exif.h"
#include "platform/stream.h"

namespace {

void ReadExif(rv::TIOParamsVals& Params, bool HeaderOnly) {
  const int App1 = rv::RvExifMarkerIndex(Params.JpegMarkers);
  if (App1 >= 0)
    rv::RvLoadExifFromApp1(Params.JpegMarkers.MarkerData(App1), Params.JpegMarkers.MarkerLength(App1), Params,
                           HeaderOnly);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);

  platform::TBytesStream header(Data, static_cast<std::int64_t>(Size));
  rv::TIOParamsVals params;
  rv::TRvBitmap bitmap;
  rv::TRvLocalProgress p1;
  rv::JpegReadStream(header, bitmap, params, true, p1.Rec);
  ReadExif(params, true);
  // A header read decodes no thumbnail: the folder view makes one for every
  // file it lists.
  if (params.ExifBitmap != nullptr && params.ExifBitmap->Width() != 0) std::abort();

  platform::TBytesStream full(Data, static_cast<std::int64_t>(Size));
  params.JpegScale = Size > 0 ? static_cast<std::uint8_t>(Data[Size - 1] % 5) : 1;
  params.Width = 40;
  params.Height = 30;
  rv::TRvLocalProgress p2;
  rv::JpegReadStream(full, bitmap, params, false, p2.Rec);
  ReadExif(params, false);
  if (p2.Rec.IsAborting() || bitmap.Width() < 1 ||
      static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height() > 65536)
    return 0;

  rv::TIOParamsVals out;
  out.JpegColorSpace = static_cast<std::uint8_t>(Size % 5);
  out.JpegProgressive = (Size & 8) != 0;
  out.JpegMarkers.Assign(&params.JpegMarkers);
  platform::TMemoryStream written;
  rv::TRvLocalProgress p3;
  try {
    rv::JpegWriteStream(written, bitmap, out, p3.Rec);
  } catch (const rv::ERvJpegException&) {
    std::abort();
  }
  if (p3.Rec.IsAborting()) std::abort();
  written.SetPosition(0);
  rv::TRvBitmap again;
  rv::TIOParamsVals back;
  rv::TRvLocalProgress p4;
  rv::JpegReadStream(written, again, back, false, p4.Rec);
  if (p4.Rec.IsAborting() || again.Width() != bitmap.Width() || again.Height() != bitmap.Height())
    std::abort();
  return 0;
}
