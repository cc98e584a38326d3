// The client table: finding an existing client, creating one, and the memory
// the table holds for many distinct random addresses.
#include <benchmark/benchmark.h>

#include <atomic>
#include <random>
#include <vector>

#include "filter/tracking/client_table.h"

namespace sentrel {
namespace {

struct Table {
  std::atomic<std::uint8_t> pending{0};
  // A realistic template: eight modules.
  std::vector<ModuleProgress> progressTemplate = std::vector<ModuleProgress>(8, ModuleProgress{});
  AddressRanges listed;
  ClientTable table{pending, progressTemplate, listed};
};

std::vector<std::uint32_t> RandomKeys(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> keys(count);
  for (auto& k : keys) k = rng() | 1u;
  return keys;
}

void BM_LookupExisting(benchmark::State& state) {
  Table t;
  const auto keys = RandomKeys(static_cast<std::size_t>(state.range(0)), 1);
  for (auto k : keys) t.table.LookupClient(k);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&t.table.LookupClient(keys[i]));
    if (++i == keys.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupExisting)->Arg(10000)->Arg(1000000);

void BM_CreateClient(benchmark::State& state) {
  auto t = std::make_unique<Table>();
  const auto keys = RandomKeys(1 << 20, 2);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&t->table.LookupClient(keys[i]));
    if (++i == keys.size()) {
      state.PauseTiming();
      t = std::make_unique<Table>();
      i = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateClient);

// Memory held by the table (nodes and records with their progress lists) for
// N distinct random addresses, reported as counters.
void BM_TableMemory(benchmark::State& state) {
  const auto keys = RandomKeys(static_cast<std::size_t>(state.range(0)), 3);
  std::size_t nodes = 0, clients = 0;
  for (auto _ : state) {
    Table t;
    for (auto k : keys) t.table.LookupClient(k);
    nodes = t.table.NodeCount();
    clients = t.table.ClientCount();
  }
  const double nodeBytes = 256.0 * sizeof(void*);
  const double recordBytes = sizeof(ClientTally) + 8 * sizeof(ModuleProgress);
  state.counters["clients"] = static_cast<double>(clients);
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["MiB"] = (nodes * nodeBytes + clients * recordBytes) / (1024.0 * 1024.0);
  state.counters["bytes_per_client"] = (nodes * nodeBytes + clients * recordBytes) / clients;
}
BENCHMARK(BM_TableMemory)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
