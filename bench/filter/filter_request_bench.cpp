// HttpFilterProc per request through the test host, with a realistic module
// set (8 modules of 2-3 steps, rules on the user agent, URL, query string and
// referrer) over 10 000 clients that stay under evaluation; with the metrics
// page off (nothing counted) and on (every request counted), in one run. The
// difference is small beside the noise of a whole request, so the counting
// an evaluated request adds with the page on (the look-up of its address in
// MetricsAllow, the request's count and a module's) is measured on its own
// too.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using test::ModuleText;

ModuleText Module(const std::string& name, std::vector<std::vector<ModuleText::RuleText>> steps,
                  const std::string& setp = "0") {
  ModuleText m;
  m.name = name;
  m.setp = setp;
  m.execute = "1";  // log only: no client is ever put on hold
  m.dateline = "600";
  for (auto& rules : steps) {
    ModuleText::StepText s;
    s.times = "3-50";
    s.rules = std::move(rules);
    m.steps.push_back(s);
  }
  return m;
}

struct Site {
  test::SettingsFolder folder;
  std::unique_ptr<test::FilterUnderTest> f;
  std::vector<std::unique_ptr<testhost::TestRequest>> requests;

  explicit Site(bool metrics) {
    folder.Write("Config.ini", std::string("[Config]\r\nLogMin=1024\r\nCacheMin=100\r\n") +
                                   (metrics ? "MetricsPath=/sentrel/metrics\r\n" : ""));
    folder.AddModule("bots.ini", Module("bots", {{{"HTTP_USER_AGENT", "1", "(bot)|(spider)|(crawl)"}},
                                                 {{"URL", "1", "\\.xml$"}}}));
    folder.AddModule("tools.ini", Module("tools", {{{"HTTP_USER_AGENT", "1", "^(curl)|(wget)|(python)"}},
                                                   {{"URL", "1", "^/api/"}},
                                                   {{"QUERY_STRING", "1", "page=\\z"}}}));
    folder.AddModule("sqli.ini", Module("sqli", {{{"QUERY_STRING", "1", "union.+select"}},
                                                 {{"QUERY_STRING", "1", "(--)|(%27)"}}}));
    folder.AddModule("wp.ini", Module("wp", {{{"URL", "1", "^/wp-(login)|(admin)"}},
                                             {{"REQUEST_METHOD", "1", "post"}}}));
    folder.AddModule("noref.ini", Module("noref", {{{"HTTP_REFERER", "1", ""}, {"URL", "1", "\\.(jpg)|(png)$"}},
                                                   {{"HTTP_REFERER", "1", ""}}}, "1-500"));
    folder.AddModule("deep.ini", Module("deep", {{{"URL", "1", "/\\w+/\\w+/\\w+/\\w+/"}},
                                                 {{"QUERY_STRING", "1", "[&;]id=\\d\\d\\d\\d"}},
                                                 {{"HTTP_USER_AGENT", "0", "mozilla"}}}));
    folder.AddModule("scan.ini", Module("scan", {{{"URL", "1", "(\\.env)|(\\.git/)|(phpinfo)"}},
                                                 {{"URL", "1", "\\.php$"}}}));
    folder.AddModule("lang.ini", Module("lang", {{{"HTTP_ACCEPT_LANGUAGE", "0", "[a-z][a-z]"}},
                                                 {{"HTTP_USER_AGENT", "1", "compatible"}}}));
    f = std::make_unique<test::FilterUnderTest>(folder);
    f->host.Load();
    f->CompleteStartup();

    const char* agents[] = {
        "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36",
        "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Mobile/15E148",
        "Mozilla/5.0 (compatible; ExampleBot/2.1; +http://www.example.com/bot.html)",
        "curl/8.4.0"};
    const char* urls[] = {"/", "/products/shoes/running/men/size-42/index.html", "/wp-login.php",
                          "/images/banner.jpg", "/api/v1/items", "/sitemap.xml"};
    const char* queries[] = {"", "page=3&sort=price&order=asc&utm_source=newsletter&utm_medium=email",
                             "id=1234&ref=home", "q=union+all+select+password+from+users--"};
    std::mt19937 rng(5);
    for (int i = 0; i < 10000; ++i) {
      std::map<std::string, std::string> v{
          {"REMOTE_ADDR", "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                              std::to_string(i % 256 + (i % 256 == 0))},
          {"HTTP_USER_AGENT", agents[rng() % 4]},
          {"URL", urls[rng() % 6]},
          {"QUERY_STRING", queries[rng() % 4]},
          {"REQUEST_METHOD", "GET"},
          {"HTTP_ACCEPT_LANGUAGE", "en-US,en;q=0.9"}};
      if (rng() % 3) v["HTTP_REFERER"] = "https://www.example.org/products/shoes?from=search";
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

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
