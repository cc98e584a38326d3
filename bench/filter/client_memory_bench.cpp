// Resident memory per client, measured from outside: the built filter library
// is loaded as a server loads it and driven only through its three exports,
// with the 8-module set. One request arrives from each of N distinct
// addresses spread over the whole IPv4 space; the resident memory the process
// gains, divided by N, is the cost of a client.
//
// The library holds one filter per process, so run one case per process:
//   client_memory_bench --benchmark_filter='BM_ClientMemory/100000$'
//   client_memory_bench --benchmark_filter='BM_ClientMemory/1000000$'
//   client_memory_bench --benchmark_filter='BM_ClientSoak'
//   client_memory_bench --benchmark_filter='BM_Ipv6ClientMemory/1000000/'
//   client_memory_bench --benchmark_filter='BM_ClientMemoryIpv6On/1000000/'
// The IPv6 case sends one request from each of N random /64s to a filter
// with IPv6Prefix=64 (every record then has room for a 128-bit key); the
// Ipv6On case the IPv4 addresses of BM_ClientMemory to such a filter.
// The soak sends 10 000 000 addresses to a filter with MaxClients=1000000;
// 1 000 clients are blocked at the start and must still be blocked at the end.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "bench/filter/module_set.h"
#include "filter/logging/program_messages.h"
#include "hosts/common/filter_library.h"
#include "hosts/testhost/test_host.h"
#include "platform/codepage.h"

namespace sentrel {
namespace {

double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// The i-th of 2^32 distinct addresses, spread over the whole space (an odd
// multiplier is a permutation of the 32-bit numbers).
std::uint32_t SpreadAddress(std::uint64_t i) { return static_cast<std::uint32_t>(i * 2654435761u + 0x01000001u); }

std::string DottedText(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." + std::to_string(a >> 8 & 255) + "." +
         std::to_string(a & 255);
}

bool Usable(std::uint32_t a) { return a != 0 && a != 0xFFFFFFFFu && (a >> 24) != 0; }

struct LoadedFilter {
  test::SettingsFolder folder;
  hosts::FilterLibrary library;
  std::unique_ptr<testhost::TestHost> host;
  bool started = false;

  explicit LoadedFilter(const std::string& config, const test::ModuleText* extra = nullptr) {
    folder.Write("Config.ini", config);
    bench::WriteModuleSet(folder);
    if (extra != nullptr) folder.AddModule("held.ini", *extra);
    std::string error;
    if (!library.Open(SENTREL_LIBRARY_PATH, error) || !library.Start(folder.Folder().Path(), error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return;
    }
    host = std::make_unique<testhost::TestHost>(library);
    // The stages fall due more than 3 seconds apart on the system clock.
    const std::string started_ = platform::CodePageToUtf8(messages::kStarted);
    for (int i = 0; i < 40 && !started; ++i) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      host->EndOfSession();
      for (const std::string& name : folder.List("Log")) {
        if (platform::CodePageToUtf8(folder.Read("Log/" + name)).find(started_) != std::string::npos) started = true;
      }
    }
  }
};

// One request from each of state.range(0) addresses (addressOf(i) for
// i = 0, 1, ..., an empty text skipped) to a filter loaded with `config`: the
// resident memory that adds, per client.
template <typename AddressOf>
void MeasureClients(benchmark::State& state, const char* config, AddressOf addressOf) {
  const auto clients = static_cast<std::uint64_t>(state.range(0));
  LoadedFilter site(config);
  if (!site.started) {
    state.SkipWithError("the filter did not start");
    return;
  }
  std::mt19937 rng(7);
  testhost::TestRequest request(bench::RandomRequestVariables(rng));
  double before = 0, after = 0;
  std::uint64_t sent = 0;
  for (auto _ : state) {
    before = ResidentBytes();
    for (std::uint64_t i = 0; sent < clients; ++i) {
      std::string address = addressOf(i);
      if (address.empty()) continue;
      request.Variables()["REMOTE_ADDR"] = std::move(address);
      benchmark::DoNotOptimize(site.host->UrlMap(request));
      ++sent;
    }
    after = ResidentBytes();
  }
  state.counters["clients"] = static_cast<double>(sent);
  state.counters["MiB_added"] = (after - before) / (1024.0 * 1024.0);
  state.counters["bytes_per_client"] = (after - before) / static_cast<double>(sent);
}

std::string SpreadText(std::uint64_t i) {
  const std::uint32_t a = SpreadAddress(i);
  return Usable(a) ? DottedText(a) : std::string();
}

void BM_ClientMemory(benchmark::State& state) {
  MeasureClients(state, "[Config]\r\nLogMin=1024\r\nCacheMin=100\r\n", SpreadText);
}
BENCHMARK(BM_ClientMemory)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// IPv4 clients in a filter that also tracks IPv6 (records with room for an
// IPv6 key).
void BM_ClientMemoryIpv6On(benchmark::State& state) {
  MeasureClients(state, "[Config]\r\nLogMin=1024\r\nCacheMin=100\r\nIPv6Prefix=64\r\n", SpreadText);
}
BENCHMARK(BM_ClientMemoryIpv6On)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The i-th of N random /64s in 2000::/3, as text with an interface part.
std::string Random64Text(std::uint64_t i) {
  const std::uint64_t prefix = 0x2000000000000000ull | ((i + 1) * 0x9E3779B97F4A7C15ull) >> 3;
  char text[64];
  std::snprintf(text, sizeof(text), "%x:%x:%x:%x::1", static_cast<unsigned>(prefix >> 48),
                static_cast<unsigned>(prefix >> 32 & 0xFFFF), static_cast<unsigned>(prefix >> 16 & 0xFFFF),
                static_cast<unsigned>(prefix & 0xFFFF));
  return text;
}

void BM_Ipv6ClientMemory(benchmark::State& state) {
  MeasureClients(state, "[Config]\r\nLogMin=1024\r\nCacheMin=100\r\nIPv6Prefix=64\r\n", Random64Text);
}
BENCHMARK(BM_Ipv6ClientMemory)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// 10 000 000 addresses against MaxClients=1000000: resident memory stops
// growing at the bound, every request is answered, and the clients blocked
// at the start are still blocked at the end.
void BM_ClientSoak(benchmark::State& state) {
  const test::ModuleText held = test::AgentModule("Held", "0", "1", "86400", "^holdme");
  LoadedFilter site("[Config]\r\nLogMin=1024\r\nCacheMin=100\r\nMaxClients=1000000\r\n", &held);
  if (!site.started) {
    state.SkipWithError("the filter did not start");
    return;
  }
  constexpr int kHeld = 1000;
  std::mt19937 rng(9);
  // Every variable the modules read is present: a missing one is waited for.
  testhost::TestRequest holdme(bench::RandomRequestVariables(rng));
  holdme.Variables()["HTTP_USER_AGENT"] = "holdme/1.0";
  auto heldAddress = [](int i) { return "198.18." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1); };
  int blocked = 0;
  for (int i = 0; i < kHeld; ++i) {
    holdme.Variables()["REMOTE_ADDR"] = heldAddress(i);
    blocked += site.host->UrlMap(holdme) == SF_STATUS_REQ_FINISHED;
  }

  testhost::TestRequest request(bench::RandomRequestVariables(rng));
  const std::uint64_t total = static_cast<std::uint64_t>(state.range(0));
  std::uint64_t answered = 0, sent = 0;
  double before = 0, atBound = 0, atHalf = 0, after = 0;
  for (auto _ : state) {
    before = ResidentBytes();
    for (std::uint64_t i = 0; sent < total; ++i) {
      const std::uint32_t a = SpreadAddress(i);
      if (!Usable(a) || (a >> 16) == 0xC612) continue;  // not the held clients' 198.18/16
      request.Variables()["REMOTE_ADDR"] = DottedText(a);
      const DWORD status = site.host->UrlMap(request);
      answered += status == SF_STATUS_REQ_NEXT_NOTIFICATION || status == SF_STATUS_REQ_FINISHED;
      if (++sent == 1000000) atBound = ResidentBytes();
      if (sent == total / 2) atHalf = ResidentBytes();
    }
    after = ResidentBytes();
  }
  int stillBlocked = 0;
  for (int i = 0; i < kHeld; ++i) {
    holdme.Variables()["REMOTE_ADDR"] = heldAddress(i);
    holdme.Variables()["HTTP_USER_AGENT"] = "Mozilla/5.0";  // would not be blocked if evaluated afresh
    stillBlocked += site.host->UrlMap(holdme) == SF_STATUS_REQ_FINISHED;
  }
  state.counters["requests"] = static_cast<double>(sent);
  state.counters["answered"] = static_cast<double>(answered);
  state.counters["held_blocked_at_start"] = blocked;
  state.counters["held_blocked_at_end"] = stillBlocked;
  state.counters["MiB_at_1M"] = (atBound - before) / (1024.0 * 1024.0);
  state.counters["MiB_at_half"] = (atHalf - before) / (1024.0 * 1024.0);
  state.counters["MiB_at_end"] = (after - before) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ClientSoak)->Arg(10000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
