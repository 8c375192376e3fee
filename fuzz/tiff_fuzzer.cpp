// TIFF reader on arbitrary bytes: header only, then every page decoded in
// full (strips, tiles, CCITT, LZW, PackBits, the Exif directory), then the
// same bytes as the TIFF structure of an Exif block, read, given a new
// orientation and left without its thumbnail; and their pages copied
// around a page written anew, as a save keeps them. The LZW coders sit in
// the record's hooks as the application installs them; a low pixel cap
// keeps each input small.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "image/io/rvsafeio.h"
#include "image/io/tiff/exif.h"
#include "image/io/tiff/tifflzw.h"
#include "image/io/tiff/tiffpages.h"
#include "image/io/tiff/tiffread.h"
#include "image/io/tiff/tiffwrite.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzSetUp(1 << 18, std::int64_t{32} << 20);
  platform::TBytesStream stream(data, static_cast<std::int64_t>(size));
  int count = 0;
  {
    rv::TIOParamsVals params;
    params.TiffLzwDecompress = rv::TiffLzwDecompress;
    rv::TRvBitmap bitmap;
    std::unique_ptr<rv::TRvMask> mask;
    rv::TRvLocalProgress progress;
    rv::TiffReadStream(bitmap, stream, count, false, false, mask, true, progress.Rec, &params);
  }
  for (int page = 0; page < count && page < 3; ++page) {
    rv::TIOParamsVals params;
    params.TiffLzwDecompress = rv::TiffLzwDecompress;
    params.TiffImageIndex = page;
    rv::TRvBitmap bitmap;
    std::unique_ptr<rv::TRvMask> mask;
    rv::TRvLocalProgress progress;
    int pages = 0;
    rv::TiffReadStream(bitmap, stream, pages, false, false, mask, false, progress.Rec, &params);
  }
  // The pages kept by a save that writes one of them anew: the copy stays
  // within its budget of the input's size, and a copy made reads again.
  {
    rv::TTiffPages pages(stream);
    if (pages.CanCopyAllBut(0)) {
      platform::TMemoryStream out;
      rv::TRvLocalProgress progress;
      rv::TRvBitmap page;
      page.Allocate(3, 2, rv::rvpf24Bit);
      rv::TIOParamsVals params;
      const bool written =
          pages.Write(out, 0, *progress.Rec.Aborting, [&](std::int64_t& next, const std::vector<rv::TTiffEntry>& kept) {
            return rv::TiffWritePage(out, page, progress.Rec, params, nullptr, pages.Intel(), next, &kept);
          });
      if (!written || out.Size() > 3 * static_cast<std::int64_t>(size) + 200000) std::abort();
      if (rv::TTiffPages(out).Count() != pages.Count()) std::abort();
    }
  }
  std::vector<std::uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), data, data + size);
  rv::TIOParamsVals exif;
  const bool read = rv::RvLoadExifFromApp1(app1.data(), static_cast<std::int64_t>(app1.size()), exif);
  // A saved copy of the block gets its orientation rewritten in place, and
  // then loses its thumbnail: what is kept must still read, without one.
  rv::RvSetExifOrientation(app1.data(), static_cast<std::int64_t>(app1.size()), 1 + static_cast<int>(size % 8));
  const std::int64_t kept = rv::RvDropExifThumbnail(app1.data(), static_cast<std::int64_t>(app1.size()));
  if (kept > static_cast<std::int64_t>(app1.size()) || (kept >= 0 && kept < 14)) std::abort();
  if (read && kept >= 0) {
    rv::TIOParamsVals again;
    if (!rv::RvLoadExifFromApp1(app1.data(), kept, again) || again.ExifBitmap->Width() != 0) std::abort();
  }
  return 0;
}
