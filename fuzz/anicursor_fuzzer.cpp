// Animated cursor files and the icon list's stored form: every input either
// reads or raises the readers' own errors, and never leaves its buffer.
#include <cstdint>
#include <stdexcept>

#include "controls/support/wngraphics/wnanicursor.h"
#include "controls/support/wngraphics/wniconlist.h"
#include "fuzz_support.h"
#include "platform/graphics.h"
#include "platform/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzSetUp(1 << 20, std::int64_t{64} << 20);
  const std::int64_t size = static_cast<std::int64_t>(Size);
  {
    platform::TBytesStream s(Data, size);
    wn::TWnAnimatedCursorImage image;
    try {
      image.LoadFromStream(s);
      wn::TWnIconList list;
      image.AssignTo(list);
      platform::TMemoryStream stored;
      list.SaveToStream(stored);
      stored.SetPosition(0);
      wn::TWnIconList back;
      back.LoadFromStream(stored);
      if (back.Count() != list.Count()) __builtin_trap();
      if (image.FrameCount() <= 16) {
        platform::TBitmap strip;
        image.AssignToBitmap(strip, platform::clWhite, image.FrameCount() % 2 == 0, true);
      }
    } catch (const platform::EStreamError&) {
    } catch (const platform::EInvalidGraphic&) {
    }
  }
  {
    platform::TBytesStream s(Data, size);
    wn::TWnIconList list;
    try {
      list.LoadFromStream(s);
    } catch (const platform::EStreamError&) {
    } catch (const platform::EInvalidGraphic&) {
    }
  }
  return 0;
}
