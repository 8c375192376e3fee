// Settings are read one value per call, each through the key store.
#include "platform/registry.h"

#include <benchmark/benchmark.h>
#include <filesystem>

static void BM_KeyStoreReadString(benchmark::State& state) {
  auto folder = std::filesystem::temp_directory_path() / "pictrova-bench-keys";
  platform::SetKeyStoreFolder(folder.string());
  platform::TRegistry reg;
  reg.OpenKey("\\Software\\Halvenworth\\Pictrova 3", true);
  for (int i = 0; i < 40; ++i) reg.WriteString("Value" + std::to_string(i), std::to_string(i));
  for (auto _ : state) benchmark::DoNotOptimize(reg.ReadString("Value20"));
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_KeyStoreReadString);
