// Stored key maps come back from saved data: damaged bytes must be refused
// with the stream error, and whatever is accepted must store and read back
// to the same tables. The stored form keeps the records of a built-in map
// in that map's order, so its bytes settle after one round; and in a table
// of a built-in name command 0 stands for "no record", so those records are
// left out of the comparison.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "controls/support/qoedit/qocommands.h"
#include "platform/stream.h"

namespace {

using TTableSummary = std::tuple<std::string, bool, std::vector<std::uint64_t>>;

TTableSummary Summary(const wn::TQoCommandTable& Table) {
  const bool builtIn = !wn::QoBuiltInCommands(Table.Name).empty();
  std::vector<std::uint64_t> recs;
  for (int i = 0; i < Table.Count(); ++i) {
    const wn::TQoCmdRec r = Table.GetRec(i);
    if (builtIn && r.Command == 0) continue;
    recs.push_back((std::uint64_t(r.Keys()) << 16) | r.Command);
  }
  std::sort(recs.begin(), recs.end());
  return {Table.Name, Table.Active, recs};
}

std::vector<TTableSummary> Summary(const wn::TQoCommandProcessor& Processor) {
  std::vector<TTableSummary> s;
  for (int i = 0; i < Processor.TableCount(); ++i) s.push_back(Summary(Processor.Table(i)));
  return s;
}

template <typename T>
std::vector<std::uint8_t> Store(const T& Object) {
  platform::TMemoryStream out;
  if constexpr (std::is_same_v<T, wn::TQoCommandProcessor>)
    Object.WriteTableList(out);
  else
    Object.WriteCommandList(out);
  return out.Data();
}

template <typename T>
void Load(T& Object, const std::vector<std::uint8_t>& Bytes) {
  platform::TBytesStream in(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
  if constexpr (std::is_same_v<T, wn::TQoCommandProcessor>)
    Object.ReadTableList(in);
  else
    Object.ReadCommandList(in);
}

template <typename T>
void CheckRoundTrip(const T& Read) {
  const std::vector<std::uint8_t> first = Store(Read);
  T again;
  Load(again, first);
  if (Summary(again) != Summary(Read)) std::abort();
  const std::vector<std::uint8_t> second = Store(again);
  T third;
  Load(third, second);
  if (Store(third) != second) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  {
    wn::TQoCommandProcessor processor;
    try {
      Load(processor, bytes);
    } catch (const platform::EStreamError&) {
      // Refused data leaves the built-in tables in place.
      if (processor.TableCount() != 3 || processor.Table(0).Count() != 64) std::abort();
    }
    CheckRoundTrip(processor);
  }
  {
    wn::TQoCommandTable table;
    try {
      Load(table, bytes);
    } catch (const platform::EStreamError&) {
      return 0;
    }
    CheckRoundTrip(table);
  }
  return 0;
}
