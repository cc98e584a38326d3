// HttpFilterProc per request, with a realistic module set (8 modules of 2-3
// steps, rules on the user agent, URL, query string and referrer) over 10 000
// clients that stay under evaluation.
//   BM_HttpFilterProc          through the test host
//   BM_HttpFilterProcLeanHost  the same requests through a host that answers
//                              GetServerVariable from a small array, as a
//                              server does with the request it has just
//                              parsed, rather than the test host, which
//                              builds a text and counts every lookup in maps
//                              (half of the time of a request there)
// Both with the metrics page off (nothing counted) and on (every request
// counted), in one run; the counting an evaluated request adds with the page
// on (the look-up of its address in MetricsAllow, the request's count and a
// module's) is measured on its own too, as it is small beside the noise of a
// whole request.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/filter/module_set.h"
#include "hosts/common/host_context.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

// One request for the lean host: its variables in a small array, on the
// host kit's filter context (the servers' buffer contract).
class LeanRequest : public hosts::HostContext {
 public:
  // The variables but REMOTE_ADDR, which is set for each request.
  explicit LeanRequest(const std::map<std::string, std::string>& v)
      : variables_(v.begin(), v.end()) {}

  void SetAddress(const std::string& address) { address_ = address; }

 protected:
  bool FindVariable(std::string_view name, std::string&, std::string_view& value) override {
    if (name == "REMOTE_ADDR") {
      value = address_;
      return true;
    }
    for (const auto& [key, text] : variables_) {
      if (key != name) continue;
      value = text;
      return true;
    }
    return false;
  }
  bool SendResponseHeader(const char*, const char*) override { return true; }
  bool WriteBody(const char*, DWORD) override { return true; }
  bool AddHeaders(const char*) override { return true; }

 private:
  std::string address_;
  std::vector<std::pair<std::string, std::string>> variables_;
};

constexpr int kClients = 10000;
constexpr int kThreads = 2;

struct Site {
  test::SettingsFolder folder;
  std::unique_ptr<test::FilterUnderTest> f;
  std::vector<std::unique_ptr<testhost::TestRequest>> requests;
  // The lean host: one request object for each distinct set of variables
  // (a few hundred) and thread, given the client's address for each
  // request. Its own data is in the processor's caches, as a server has the
  // request it has just parsed; the clients' records are spread over 10 000.
  std::vector<std::unique_ptr<LeanRequest>> lean[kThreads];
  std::vector<std::size_t> leanOf;      // per client, its request object
  std::vector<std::string> addresses;  // per client

  explicit Site(bool metrics) {
    folder.Write("Config.ini", std::string("[Config]\r\nLogMin=1024\r\nCacheMin=100\r\n") +
                                   (metrics ? "MetricsPath=/sentrel/metrics\r\n" : ""));
    bench::WriteModuleSet(folder);
    f = std::make_unique<test::FilterUnderTest>(folder);
    f->host.Load();
    f->CompleteStartup();

    std::map<std::map<std::string, std::string>, std::size_t> distinct;
    std::mt19937 rng(5);
    for (int i = 0; i < kClients; ++i) {
      std::map<std::string, std::string> v = bench::RandomRequestVariables(rng);
      const auto [at, added] = distinct.emplace(v, distinct.size());
      if (added) {
        for (auto& objects : lean) objects.push_back(std::make_unique<LeanRequest>(v));
      }
      leanOf.push_back(at->second);
      addresses.push_back("10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                          std::to_string(i % 256 + (i % 256 == 0)));
      v["REMOTE_ADDR"] = addresses.back();
      requests.push_back(std::make_unique<testhost::TestRequest>(std::move(v)));
    }
  }
};

Site& TheSite(bool metrics) {
  static Site off(false);
  static Site on(true);
  return metrics ? on : off;
}

void BM_HttpFilterProc(benchmark::State& state) {
  Site& site = TheSite(state.range(0) != 0);
  const std::size_t count = site.requests.size();
  std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7919;
  for (auto _ : state) {
    testhost::TestRequest& r = *site.requests[i % count];
    benchmark::DoNotOptimize(site.f->filter.HttpFilterProc(r.Context(), SF_NOTIFY_URL_MAP, nullptr));
    i += 2;  // the two threads take disjoint requests
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RequestCounting(benchmark::State& state) {
  static metrics::FilterMetrics counters(kMaxModuleFiles);
  static const AddressRanges allowed = [] {
    AddressRanges ranges;
    ranges.Add(0x7F000001u, 0x7F000001u, ClientState::Allowed);
    return ranges;
  }();
  std::uint32_t key = 0x0A000001u + static_cast<std::uint32_t>(state.thread_index());
  for (auto _ : state) {
    benchmark::DoNotOptimize(allowed.Find(key));
    counters.Count(metrics::RequestOutcome::Evaluated);
    counters.ModuleFired(3);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestCounting)->Threads(1)->Threads(2)->UseRealTime();

BENCHMARK(BM_HttpFilterProc)->ArgName("metrics")->Arg(0)->Arg(1)->Threads(1)->Threads(2)->UseRealTime();

void BM_HttpFilterProcLeanHost(benchmark::State& state) {
  Site& site = TheSite(false);
  const auto thread = static_cast<std::size_t>(state.thread_index());
  std::size_t i = thread * 7919;
  for (auto _ : state) {
    const std::size_t client = i % kClients;
    LeanRequest& r = *site.lean[thread][site.leanOf[client]];
    r.SetAddress(site.addresses[client]);
    benchmark::DoNotOptimize(site.f->filter.HttpFilterProc(r.Context(), SF_NOTIFY_URL_MAP, nullptr));
    i += 2;  // the two threads take disjoint clients
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HttpFilterProcLeanHost)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
