// Stored bitmap-list items and container files: the first byte chooses how
// the rest is read (item data, the item's "Internal" property, a container
// file, one item of a container file). What reads must write back and read
// again to the same bytes.
#include "kel_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  platform::TBytesStream stream(data + 1, std::int64_t(size - 1));
  KelReadDamaged([&] {
    switch (data[0] & 3) {
      case 0: {
        kel::TKelBitmapListItem item;
        item.ReadData(stream);
        KelCheckRoundTrip(item);
        break;
      }
      case 1: {
        kel::TKelBitmapListItem item;
        item.ReadProperties(stream);
        KelCheckRoundTrip(item);
        break;
      }
      case 2: {
        kel::TKelBitmapList list;
        list.LoadFromStreamFile(stream, "fuzz");
        for (int i = 0; i < list.Count(); ++i) KelCheckRoundTrip(*list.BitmapItem(i));
        break;
      }
      default: {
        kel::TKelBitmapList list;
        kel::TKelBitmapListItem item;
        list.LoadItemFromStreamFile(stream, data[0] >> 2, item, "fuzz");
        KelCheckRoundTrip(item);
        break;
      }
    }
  });
  return 0;
}
