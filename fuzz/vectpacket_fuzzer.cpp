// Vector objects from the clipboard: arbitrary bytes must be refused or
// read whole, and what is read must draw at two zooms, be hit-tested and
// written back to the same bytes, whatever its coordinates, pens and fonts.
#include "image/views/rastrumvect.h"

#include "fuzz_application.h"

#include <QApplication>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnsureFuzzApplication<QApplication>();
  rv::TRvVectPacket packet;
  if (!rv::RvVectDecode(data, size, packet)) {
    if (!packet.Objects.empty() || !packet.Bitmaps.empty()) std::abort();
    return 0;
  }
  // What was read writes back to bytes that read to the same.
  const std::vector<std::uint8_t> again = rv::RvVectEncode(packet);
  rv::TRvVectPacket back;
  if (!rv::RvVectDecode(again.data(), again.size(), back) || rv::RvVectEncode(back) != again) std::abort();
  static rv::TRastrumVect* view = [] {
    auto* v = new rv::TRastrumVect;
    v->SetBorderStyle(rv::bsNone);
    v->resize(64, 48);
    platform::TBitmap picture(64, 48, platform::pf24bit);
    v->Assign(&picture);
    return v;
  }();
  const int first = view->AddPacket(packet);
  platform::TBitmap frame(64, 48, platform::pf32bit);
  for (const double zoom : {100.0, 400.0}) {
    view->SetZoom(zoom);
    for (int h = first; h >= 0 && h < view->ObjectsCount(); ++h) view->SelectObject(h);
    view->DrawObjects(frame.Canvas());
    double distance;
    view->FindObjectAt(10, 10, false, distance);
  }
  view->RemoveAllObjects();
  view->SetZoom(100);
  return 0;
}
