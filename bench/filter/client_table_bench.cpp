// The client table: finding an existing client, creating one, and creating
// one at the bound, where every new client takes over another's record; the
// same for IPv6 clients (random /64s) in a table with IPv6Prefix=64.
// Memory per client is measured through the exports in client_memory_bench.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <vector>

#include "filter/tracking/client_table.h"

namespace sentrel {
namespace {

struct Table {
  platform::SystemClock clock;
  std::atomic<std::uint8_t> pending{0};
  // A realistic template: eight modules.
  std::vector<ModuleProgress> progressTemplate = std::vector<ModuleProgress>(8, ModuleProgress{});
  AddressRanges listed;
  ClientTable table{clock, pending, progressTemplate, listed};
  explicit Table(int ipv6Prefix = 0) { table.SetIpv6Prefix(ipv6Prefix); }
};

std::vector<Ipv6Address> Random64s(std::size_t count, std::uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<Ipv6Address> keys(count);
  for (auto& k : keys) k = Ipv6Address{rng() >> 3 | 0x2000000000000000ull, 0};
  return keys;
}

std::vector<std::uint32_t> RandomKeys(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> keys(count);
  for (auto& k : keys) k = rng() | 1u;
  return keys;
}

template <typename Key>
void LookupExisting(benchmark::State& state, Table& t, const std::vector<Key>& keys) {
  for (const Key& k : keys) t.table.LookupClient(k);
  // Look up in another order than creation, as requests do.
  std::vector<Key> order = keys;
  std::shuffle(order.begin(), order.end(), std::mt19937(4));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.table.LookupClient(order[i]).get());
    if (++i == order.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LookupExisting(benchmark::State& state) {
  Table t;
  LookupExisting(state, t, RandomKeys(static_cast<std::size_t>(state.range(0)), 1));
}
BENCHMARK(BM_LookupExisting)->Arg(10000)->Arg(1000000);

// New clients, the table made afresh once all keys are used.
template <typename Key>
void CreateClients(benchmark::State& state, int ipv6Prefix, const std::vector<Key>& keys) {
  auto t = std::make_unique<Table>(ipv6Prefix);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t->table.LookupClient(keys[i]).get());
    if (++i == keys.size()) {
      state.PauseTiming();
      t = std::make_unique<Table>(ipv6Prefix);
      i = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CreateClient(benchmark::State& state) { CreateClients(state, 0, RandomKeys(1 << 20, 2)); }
BENCHMARK(BM_CreateClient);

// A full table of 1 000 000 clients: each new address takes over the record
// of the client the clock hand finds not seen for longest.
void BM_CreateAtTheBound(benchmark::State& state) {
  Table t;
  t.table.SetMaxClients(1000000);
  const auto keys = RandomKeys(1 << 23, 3);
  std::size_t i = 0;
  for (; i < 1000000; ++i) t.table.LookupClient(keys[i]);
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.table.LookupClient(keys[i]).get());
    if (++i == keys.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["evictions"] = static_cast<double>(t.table.EvictionCount());
}
BENCHMARK(BM_CreateAtTheBound);

void BM_LookupExisting6(benchmark::State& state) {
  Table t(64);
  LookupExisting(state, t, Random64s(static_cast<std::size_t>(state.range(0)), 1));
}
BENCHMARK(BM_LookupExisting6)->Arg(10000)->Arg(1000000);

void BM_CreateClient6(benchmark::State& state) { CreateClients(state, 64, Random64s(1 << 20, 2)); }
BENCHMARK(BM_CreateClient6);

// A full table of 1 000 000 clients, half of them IPv6: each new client of
// either family takes over a record of either family.
void BM_CreateAtTheBoundMixed(benchmark::State& state) {
  Table t(64);
  t.table.SetMaxClients(1000000);
  const auto keys4 = RandomKeys(1 << 22, 3);
  const auto keys6 = Random64s(1 << 22, 3);
  std::size_t i = 0;
  for (; i < 500000; ++i) {
    t.table.LookupClient(keys4[i]);
    t.table.LookupClient(keys6[i]);
  }
  bool six = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize((six ? t.table.LookupClient(keys6[i]) : t.table.LookupClient(keys4[i])).get());
    if (six && ++i == keys4.size()) i = 0;
    six = !six;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["evictions"] = static_cast<double>(t.table.EvictionCount());
}
BENCHMARK(BM_CreateAtTheBoundMixed);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
