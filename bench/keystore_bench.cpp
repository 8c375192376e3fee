// Settings are read one value per call, each through the key store.
#include "platform/registry.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>

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

// One setting read from a store of about 1.2 MB (the file types' keys of
// a long-used system, say).
static void BM_KeyStoreReadStringLargeStore(benchmark::State& state) {
  auto folder = std::filesystem::temp_directory_path() / "pictrova-bench-large-keys";
  std::filesystem::create_directories(folder);
  platform::SetKeyStoreFolder(folder.string());
  platform::TRegKeyNode root;
  platform::TRegKeyNode& classes = root.SubKeys["software"];
  classes.Name = "Software";
  for (int i = 0; i < 6600; ++i) {
    const std::string name = "Program " + std::to_string(i);
    platform::TRegKeyNode& key = classes.SubKeys["program " + std::to_string(i)];
    key.Name = name;
    for (int v = 0; v < 4; ++v) {
      const std::string value = "Value" + std::to_string(v);
      key.Values["value" + std::to_string(v)] = {value, platform::rdString, "/usr/share/program-" + std::to_string(i), 0, {}};
    }
  }
  platform::TRegKeyNode& own = classes.SubKeys["halvenworth"].SubKeys["pictrova 3"];
  classes.SubKeys["halvenworth"].Name = "Halvenworth";
  own.Name = "Pictrova 3";
  own.Values["slideshowinterval"] = {"SlideShowInterval", platform::rdString, "5000", 0, {}};
  const std::string text = platform::SerializeKeyStore(root);
  std::ofstream((folder / "HKEY_CURRENT_USER.keys").string(), std::ios::binary) << text;
  state.counters["store bytes"] = static_cast<double>(text.size());
  platform::TRegistry reg;
  reg.OpenKey("\\Software\\Halvenworth\\Pictrova 3", true);
  for (auto _ : state) benchmark::DoNotOptimize(reg.ReadString("SlideShowInterval"));
  platform::SetKeyStoreFolder("");
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_KeyStoreReadStringLargeStore)->Unit(benchmark::kMillisecond);
