// Time to read one module file, by the size of the file: the settings reader
// opens and parses the file for every key, so the cost grows with the number
// of keys times the size of the file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "filter/settings/module_reader.h"

namespace {

// A module of `steps` step sections with `rules` rules each.
std::string ModuleText(int steps, int rules) {
  std::string text = "[About]\r\nVersion=4.3.0\r\nName=Bench\r\n[Cofing]\r\nExecute=0\r\nSetp=1-10\r\n"
                     "LogName=B\r\nLogContent={TIME}\r\n[Step]\r\nCount=" + std::to_string(steps) + "\r\n";
  for (int i = 1; i <= steps; ++i) text += std::to_string(i) + "=S" + std::to_string(i) + "\r\n";
  for (int i = 1; i <= steps; ++i) {
    text += "[S" + std::to_string(i) + "]\r\nTimes=1-3\r\nCount=" + std::to_string(rules) + "\r\n";
    for (int j = 1; j <= rules; ++j) {
      const std::string n = std::to_string(j);
      text += n + "_Parameter=HTTP_USER_AGENT\r\n" + n + "_Compare=1\r\n" + n + "_Rule=^Mozilla/5\\.0 .*bot\r\n";
    }
  }
  return text;
}

void BM_ReadModule(benchmark::State& state) {
  const int steps = static_cast<int>(state.range(0));
  const int rules = static_cast<int>(state.range(1));
  std::string folder = (std::filesystem::temp_directory_path() / "sentrel-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string path = folder + "/m.ini";
  const std::string text = ModuleText(steps, rules);
  std::ofstream(path, std::ios::binary) << text;

  sentrel::FilterSettings settings;
  for (auto _ : state) {
    sentrel::Module module;
    bool ok = sentrel::ReadModule(path, settings, module);
    benchmark::DoNotOptimize(ok);
    if (!ok) state.SkipWithError("module refused");
  }
  state.counters["file_bytes"] = static_cast<double>(text.size());
  state.counters["keys_read"] = 8.0 + steps * (6.0 + 3.0 * rules);
  std::filesystem::remove_all(folder);
}

BENCHMARK(BM_ReadModule)
    ->Args({1, 2})
    ->Args({8, 8})
    ->Args({32, 16})
    ->Args({128, 8})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
