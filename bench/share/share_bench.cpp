// Decision sharing through a Redis server on the loopback interface, started
// by the benchmark (redis-server must be installed).
//
//   BM_Propagation         a client blocked on instance A, until instance B
//                          has applied the decision: the time from A's answer
//                          to B's apply, with its 50th and 99th percentiles
//                          as counters p50_us and p99_us
//   BM_Publish             what a decision costs the deciding request with
//                          sharing on (the queue push, the address text
//                          made), with the publisher writing meanwhile
//   BM_HttpFilterProc      HttpFilterProc per request, as in
//   /share:0 and /share:1  bench/filter/filter_request_bench.cpp (the 8-module
//                          set over 10 000 clients), plus a module that blocks
//                          the clients with a curl agent (a quarter of them)
//                          at their third request for one second; the fake
//                          clock moves on two seconds every `every` requests
//                          of the first thread, so each curl client is
//                          blocked again: with every:10000 about one request
//                          in four takes a decision (journaled, and with
//                          sharing on also queued for the server), with
//                          every:250000 about one in a hundred
//
//   share_bench --benchmark_filter=BM_Propagation
//   share_bench --benchmark_filter=BM_HttpFilterProc --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "bench/filter/module_set.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/redis_server.h"

namespace sentrel {
namespace {

test::RedisServer& Redis() {
  static test::RedisServer server;
  return server;
}

std::unique_ptr<test::FilterUnderTest> Started(const test::SettingsFolder& folder) {
  auto f = std::make_unique<test::FilterUnderTest>(folder);
  f->host.Load();
  f->CompleteStartup();
  return f;
}

std::string ShareSection() { return "[Share]\r\nServer=" + Redis().Address() + "\r\n"; }

void BM_Propagation(benchmark::State& state) {
  if (!Redis().Running()) {
    state.SkipWithError(("no Redis server: " + Redis().Problem()).c_str());
    return;
  }
  test::SettingsFolder siteA, siteB;
  for (const test::SettingsFolder* site : {&siteA, &siteB}) {
    site->Write("Config.ini", "[Config]\r\nCacheMin=1000\r\n" + ShareSection());
    site->AddModule("block.ini", test::AgentModule("Block", "0", "3", "600", "bot"));
  }
  auto a = Started(siteA);
  auto b = Started(siteB);
  std::vector<double> micros;
  static std::uint32_t next = 0;  // new clients in every repetition too
  for (auto _ : state) {
    ++next;  // a new client each time
    const std::string address = "10." + std::to_string(next >> 16 & 255) + "." + std::to_string(next >> 8 & 255) +
                                "." + std::to_string(next & 255);
    const std::uint64_t before = b->filter.Sharing()->Counts().applied;
    for (int i = 0; i < 3; ++i) a->Request(address, {{"HTTP_USER_AGENT", "bot"}});
    const auto decided = std::chrono::steady_clock::now();
    while (b->filter.Sharing()->Counts().applied == before) std::this_thread::yield();
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - decided).count();
    state.SetIterationTime(took);
    micros.push_back(took * 1e6);
  }
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_Propagation)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// What a decision costs the deciding request with sharing on: the queue
// push (the publisher thread writes to the server meanwhile).
void BM_Publish(benchmark::State& state) {
  if (!Redis().Running()) {
    state.SkipWithError(("no Redis server: " + Redis().Problem()).c_str());
    return;
  }
  static platform::FakeClock clock;
  static test::TempFolder logFolder;
  static ActivityLog log(clock);
  static ShareSettings settings = [] {
    ShareSettings s;
    s.Server = Redis().Address();
    s.Prefix = "publish-bench";
    return s;
  }();
  static share::DecisionShare shared(settings, clock, log,
                                     [](const share::Decision&, bool) { return share::ApplyResult::Applied; });
  std::uint32_t i = static_cast<std::uint32_t>(state.thread_index()) << 20;
  for (auto _ : state) {
    ++i;
    shared.Publish(bench::ClientAddress(static_cast<int>(i & 0xFFFFF)), 0,
                   static_cast<std::uint32_t>(clock.Now() + 600));
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    const share::ShareCounts c = shared.Counts();
    state.counters["published"] = static_cast<double>(c.published);
    state.counters["dropped"] = static_cast<double>(c.dropped);
  }
}
BENCHMARK(BM_Publish)->Threads(1)->Threads(2)->UseRealTime();

struct Site {
  test::SettingsFolder folder;
  std::unique_ptr<test::FilterUnderTest> f;
  std::vector<std::unique_ptr<testhost::TestRequest>> requests;

  explicit Site(bool share) {
    folder.Write("Config.ini",
                 std::string("[Config]\r\nLogMin=1024\r\nCacheMin=100\r\n") + (share ? ShareSection() : ""));
    bench::WriteModuleSet(folder);
    folder.AddModule("curl.ini", test::AgentModule("Curl", "0", "3", "1", "curl"));
    f = Started(folder);
    std::mt19937 rng(5);
    for (int i = 0; i < 10000; ++i) {
      std::map<std::string, std::string> v = bench::RandomRequestVariables(rng);
      v["REMOTE_ADDR"] = bench::ClientAddress(i);
      requests.push_back(std::make_unique<testhost::TestRequest>(std::move(v)));
    }
  }
};

Site& TheSite(bool share) {
  static Site off(false);
  static Site on(true);
  return share ? on : off;
}

void BM_HttpFilterProc(benchmark::State& state) {
  const bool share = state.range(0) != 0;
  const auto every = static_cast<std::uint64_t>(state.range(1));
  if (share && !Redis().Running()) {
    state.SkipWithError(("no Redis server: " + Redis().Problem()).c_str());
    return;
  }
  Site& site = TheSite(share);
  const std::size_t count = site.requests.size();
  std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7919;
  std::uint64_t served = 0;
  for (auto _ : state) {
    testhost::TestRequest& r = *site.requests[i % count];
    benchmark::DoNotOptimize(site.f->filter.HttpFilterProc(r.Context(), SF_NOTIFY_URL_MAP, nullptr));
    i += 2;  // the two threads take disjoint requests
    // The first thread moves the clock on for both.
    if (state.thread_index() == 0 && ++served % every == 0) site.f->clock.Advance(2);
  }
  state.SetItemsProcessed(state.iterations());
  if (share && state.thread_index() == 0) {
    const share::ShareCounts c = site.f->filter.Sharing()->Counts();
    state.counters["published"] = static_cast<double>(c.published);
    state.counters["dropped"] = static_cast<double>(c.dropped);
  }
}
BENCHMARK(BM_HttpFilterProc)
    ->ArgNames({"share", "every"})
    ->ArgsProduct({{0, 1}, {10000, 250000}})
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
