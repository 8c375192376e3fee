// Stored region data, "PointList" properties and face-button pairs: the
// first byte chooses the reader. What reads must write back and read again
// to the same region or the same bytes.
#include "controls/kel/kelmmbutton.h"
#include "controls/kel/kelregion.h"
#include "kel_fuzz_support.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t* body = data + 1;
  const std::size_t length = size - 1;
  platform::TBytesStream stream(body, std::int64_t(length));
  KelReadDamaged([&] {
    switch (data[0] % 3) {
      case 0: {
        const std::optional<QRegion> region = kel::KelRegionFromData(body, length);
        if (!region) break;
        const std::vector<std::uint8_t> stored = kel::KelRegionToData(*region);
        const std::optional<QRegion> again = kel::KelRegionFromData(stored);
        if (!again || *again != *region || kel::KelRegionToData(*again) != stored) std::abort();
        break;
      }
      case 1: {
        kel::TKelBorderRegion region;
        region.SetShape(kel::rsPointList);
        region.ReadPointList(stream);
        platform::TMemoryStream out;
        region.WritePointList(out);
        kel::TKelBorderRegion back;
        out.SetPosition(0);
        back.ReadPointList(out);
        if (back.Points().Count() != region.Points().Count()) std::abort();
        for (int i = 0; i < region.Points().Count(); ++i)
          if (back.Points().Point(i).X != region.Points().Point(i).X ||
              back.Points().Point(i).Y != region.Points().Point(i).Y)
            std::abort();
        region.CreateRegion(platform::Rect(0, 0, 1, 1));
        break;
      }
      default: {
        kel::TKelButtonFace face;
        face.ReadData(stream);
        platform::TMemoryStream out;
        face.WriteData(out);
        if (out.Data() != std::vector<std::uint8_t>(body, body + length)) std::abort();
        break;
      }
    }
  });
  return 0;
}
