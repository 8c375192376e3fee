// Stored image strips, string and wave items, their container files, the
// gradient's colour list and region masks: the first byte chooses the
// reader. Whatever reads must write back and read again to the same bytes.
#include "controls/kel/kelbevel.h"
#include "controls/kel/kelcont.h"
#include "controls/kel/kelfill.h"
#include "kel_fuzz_support.h"

#include <cstdint>
#include <cstdlib>

namespace {

template <class TList> void CheckList(platform::TStream& stream) {
  TList list;
  list.LoadFromStreamFile(stream, "fuzz");
  platform::TMemoryStream out;
  list.SaveToStreamFile(out);
  TList again;
  out.SetPosition(0);
  again.LoadFromStreamFile(out, "fuzz");
  platform::TMemoryStream second;
  again.SaveToStreamFile(second);
  if (second.Data() != out.Data()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  platform::TBytesStream stream(data + 1, std::int64_t(size - 1));
  KelReadDamaged([&] {
    switch (data[0] % 9) {
      case 0: {
        kel::TKelImageListItem item;
        item.ReadData(stream);
        KelCheckRoundTrip(item);
        break;
      }
      case 1: {
        kel::TKelImageListItem item;
        item.SetMasked(data[0] & 0x80);
        item.ReadBitmapProperty(stream);
        KelCheckRoundTrip(item);
        break;
      }
      case 2: {
        kel::TKelStringListItem item;
        item.ReadData(stream);
        KelCheckRoundTrip(item);
        break;
      }
      case 3: {
        kel::TKelWaveListItem item;
        item.ReadData(stream);
        KelCheckRoundTrip(item);
        break;
      }
      case 4: CheckList<kel::TKelImageList>(stream); break;
      case 5: CheckList<kel::TKelStringList>(stream); break;
      case 6: CheckList<kel::TKelWaveList>(stream); break;
      case 7: {
        kel::TKelGradient gradient;
        gradient.ReadColorList(stream);
        platform::TMemoryStream out;
        gradient.WriteColorList(out);
        kel::TKelGradient again;
        out.SetPosition(0);
        again.ReadColorList(out);
        if (again.ColorList() != gradient.ColorList()) std::abort();
        break;
      }
      default: {
        kel::TKelRegionMask mask;
        mask.SetRegionDataSize(data[0] >> 4);
        mask.ReadProperties(stream);
        platform::TMemoryStream out;
        mask.WriteProperties(out);
        kel::TKelRegionMask again;
        again.SetRegionDataSize(mask.RegionDataSize());
        out.SetPosition(0);
        again.ReadProperties(out);
        platform::TMemoryStream second;
        again.WriteProperties(second);
        if (second.Data() != out.Data()) std::abort();
        break;
      }
    }
  });
  return 0;
}
