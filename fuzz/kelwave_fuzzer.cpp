// Wave images: the wave object's header check and stored form, and the
// sound layer's chunk reader. An image the object takes must store and read
// back to the same bytes; the samples the sound layer finds lie inside the
// image.
#include "controls/kel/kelwave.h"
#include "kel_fuzz_support.h"
#include "platform/sound.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<platform::TWaveSamples> samples = platform::ParseWaveImage(data, size);
  if (samples && std::size_t(samples->Samples.size()) > size * 2) std::abort();
  platform::TBytesStream stream(data, std::int64_t(size));
  KelReadDamaged([&] {
    kel::TKelWave wave;
    wave.LoadFromStream(stream);
    platform::TMemoryStream out;
    wave.WriteProperties(out);
    kel::TKelWave back;
    out.SetPosition(0);
    if (out.Size() > 0) back.ReadProperties(out);
    if (back.Bytes() != wave.Bytes()) std::abort();
  });
  return 0;
}
