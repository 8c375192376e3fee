// Stored bitmap-list items and container files: the first byte chooses how
// the rest is read (item data, the item's "Internal" property, a container
// file, one item of a container file). What reads must write back and read
// again to the same bytes.
#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelutils.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

std::vector<std::uint8_t> Written(const kel::TKelBitmapListItem& item) {
  platform::TMemoryStream out;
  item.WriteData(out);
  return out.Data();
}

void CheckRoundTrip(const kel::TKelBitmapListItem& item) {
  const std::vector<std::uint8_t> first = Written(item);
  platform::TBytesStream in(first.data(), std::int64_t(first.size()));
  kel::TKelBitmapListItem again;
  again.ReadData(in);
  if (Written(again) != first) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  platform::TBytesStream stream(data + 1, std::int64_t(size - 1));
  try {
    switch (data[0] & 3) {
      case 0: {
        kel::TKelBitmapListItem item;
        item.ReadData(stream);
        CheckRoundTrip(item);
        break;
      }
      case 1: {
        kel::TKelBitmapListItem item;
        item.ReadProperties(stream);
        CheckRoundTrip(item);
        break;
      }
      case 2: {
        kel::TKelBitmapList list;
        list.LoadFromStreamFile(stream, "fuzz");
        for (int i = 0; i < list.Count(); ++i) CheckRoundTrip(*list.BitmapItem(i));
        break;
      }
      default: {
        kel::TKelBitmapList list;
        kel::TKelBitmapListItem item;
        list.LoadItemFromStreamFile(stream, data[0] >> 2, item, "fuzz");
        CheckRoundTrip(item);
        break;
      }
    }
  } catch (const kel::EKelException&) {
  } catch (const kel::EKelBlockError&) {
  } catch (const platform::EStreamError&) {
  } catch (const platform::EInvalidGraphic&) {
  }
  return 0;
}
