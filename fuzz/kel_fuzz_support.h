// Shared by the fuzzers of the control library's stored forms: what a reader
// accepted must write back and read again to the same bytes, and damage
// ends in the library's own errors.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelutils.h"

template <class T> std::vector<std::uint8_t> KelWritten(const T& item) {
  platform::TMemoryStream out;
  item.WriteData(out);
  return out.Data();
}

template <class T> void KelCheckRoundTrip(const T& item) {
  const std::vector<std::uint8_t> first = KelWritten(item);
  platform::TBytesStream in(first.data(), std::int64_t(first.size()));
  T again;
  again.ReadData(in);
  if (KelWritten(again) != first || in.Position() != in.Size()) std::abort();
}

// Runs read, letting through only the failures damaged data may cause.
template <class F> void KelReadDamaged(F&& read) {
  try {
    read();
  } catch (const kel::EKelException&) {
  } catch (const kel::EKelBlockError&) {
  } catch (const platform::EStreamError&) {
  } catch (const platform::EInvalidGraphic&) {
  }
}
