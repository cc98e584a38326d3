// The metrics page: served in URL mapping to allowed addresses only, its
// counts after a scripted sequence of requests (read back through the Python
// client's text parser), MetricsAllow and its refusal, and the counters under
// concurrent adds.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "filter/metrics/counter_set.h"
#include "filter/metrics/exposition.h"
#include "platform/net.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/run_together.h"
#if !defined(_WIN32)
#include "tests/support/run_program.h"
#endif

namespace sentrel {
namespace {

using test::FilterUnderTest;
using test::ModuleText;
using test::SettingsFolder;

constexpr char kPath[] = "/sentrel/metrics";
// The bot module's name in the system code page: 机器人 "bot" \ one
constexpr char kBotName[] = "\xbb\xfa\xc6\xf7\xc8\xcb \"bot\" \\ one";

std::uint32_t Key(const char* address) { return platform::Ntohl(platform::InetAddr(address)); }

class MetricsPage : public ::testing::Test {
 protected:
  SettingsFolder folder;
  std::unique_ptr<FilterUnderTest> f;

  void SetUp() override {
    folder.Write("Config.ini",
                 "[Config]\r\nStatus=403 Forbidden\r\nCacheMin=1\r\nLogMin=1\r\nMetricsPath=/sentrel/metrics\r\n"
                 "MetricsAllow=127.0.0.1, 192.168.7.*\r\n[Code]\r\nLength=4\r\nWidth=120\r\nheight=40\r\n");
    folder.Write("Return.html", "blocked\r\n");
    folder.Write("Code.html", "<img src=/Code.bmp>\r\n");
    ModuleText bots = test::AgentModule(kBotName, "0", "3", "600", "bot");
    bots.priority = "2";  // module 1
    folder.AddModule("bots.ini", bots);
    folder.AddModule("challenge.ini",
                     test::AgentModule("Challenge", "3", "1", "3600", "curl"));
    f = std::make_unique<FilterUnderTest>(folder);
    ASSERT_EQ(f->host.Load(), TRUE);
  }

  DWORD Get(const std::string& address, const std::string& agent, const std::string& url = "/",
            const std::string& query = "") {
    return f->Request(address, {{"HTTP_USER_AGENT", agent}, {"URL", url}, {"QUERY_STRING", query}});
  }
  // The page as a scraper gets it.
  std::string Scrape(const std::string& address = "127.0.0.1") {
    EXPECT_EQ(Get(address, "scraper", kPath), SF_STATUS_REQ_FINISHED);
    EXPECT_EQ(f->last->statusLine, "200 OK");
    EXPECT_EQ(f->last->headers, "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: " +
                                    std::to_string(f->last->body.size()) + "\r\n\r\n");
    return f->last->body;
  }
  std::string Answer(const char* address, bool right) {
    std::string code = (*f->filter.Clients().LookupClient(Key(address))).challenge->expectedQuery + 5;
    if (!right) code[0] = code[0] == '1' ? '2' : '1';
    return "Code=" + code;
  }
};

#if !defined(_WIN32)
// The page read by the Python client's parser, in the canonical lines of
// metrics_page.py.
std::string Parsed(const std::string& page) {
  test::TempFolder temp;
  temp.Write("page.txt", page);
  const test::ProgramResult result =
      test::RunProgram(SENTREL_PYTHON, {SENTREL_METRICS_PAGE_CHECK, temp.Path() + "/page.txt"});
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}
#endif

TEST_F(MetricsPage, CountsAScriptedSequenceExactly) {
  // Before the start-up has completed: passed unevaluated, and the page is
  // answered already.
  EXPECT_EQ(Get("10.0.0.1", "Mozilla"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Get("10.0.0.1", "Mozilla"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  const std::string early = Scrape();
  EXPECT_NE(early.find("\nsentrel_startup_stage 0\n"), std::string::npos) << early;
  EXPECT_NE(early.find("\nsentrel_requests_total{outcome=\"startup\"} 2\n"), std::string::npos) << early;
  EXPECT_EQ(early.find("sentrel_module_fired_total{"), std::string::npos) << early;
  f->CompleteStartup();

  // A bot blocked at its third request, then held.
  for (int i = 0; i < 5; ++i) Get("10.0.0.2", "examplebot");
  EXPECT_EQ(f->last->statusLine, "403 Forbidden");
  // A challenged client answering wrong four times: blocked.
  EXPECT_EQ(Get("10.0.0.3", "curl"), SF_STATUS_REQ_FINISHED);
  for (int i = 0; i < 4; ++i) Get("10.0.0.3", "curl", "/", Answer("10.0.0.3", false));
  EXPECT_EQ(f->last->statusLine, "403 Forbidden");
  EXPECT_EQ(f->last->body, "blocked\n");
  // A challenged client answering right, then passing as allowed.
  Get("10.0.0.4", "curl");
  EXPECT_EQ(Get("10.0.0.4", "curl", "/", Answer("10.0.0.4", true)), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Get("10.0.0.4", "curl"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  // A challenged client letting three codes run out: blocked.
  Get("10.0.0.5", "curl");
  for (int i = 0; i < 3; ++i) {
    f->clock.Advance(61);
    Get("10.0.0.5", "curl");
  }
  EXPECT_EQ(f->last->statusLine, "403 Forbidden");
  // No usable address.
  Get("::1", "Mozilla");
  Get("255.255.255.255", "Mozilla");
  // A browser, evaluated and passed.
  Get("10.0.0.6", "Mozilla");
  // The path from a refused address, and a longer path from an allowed one,
  // are ordinary requests.
  EXPECT_EQ(Get("10.0.0.7", "Mozilla", kPath), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_TRUE(f->last->body.empty());
  EXPECT_EQ(Get("127.0.0.1", "Mozilla", std::string(kPath) + "x"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_FALSE(f->last->headerSent);
  // A scrape from the wildcard entry is not counted either.
  Scrape("192.168.7.9");

  const std::string page = Scrape();
#if defined(_WIN32)
  EXPECT_NE(page.find("sentrel_requests_total{outcome=\"evaluated\"} 9\n"), std::string::npos) << page;
#else
  const std::string lines = Parsed(page);
  for (const char* expected : {
           "family sentrel_build_info gauge help\nsentrel_build_info{version=\"4.3.9.2\"} 1\n",
           "family sentrel_start_time_seconds gauge help\nsentrel_start_time_seconds 1700000000\n",
           "family sentrel_startup_stage gauge help\nsentrel_startup_stage 4\n",
           "family sentrel_requests counter help\n"
           "sentrel_requests_total{outcome=\"evaluated\"} 9\n"
           "sentrel_requests_total{outcome=\"startup\"} 2\n"
           "sentrel_requests_total{outcome=\"unusable_address\"} 2\n"
           "sentrel_requests_total{outcome=\"held\"} 11\n",
           "family sentrel_answers counter help\n"
           "sentrel_answers_total{action=\"blocked\"} 5\n"
           "sentrel_answers_total{action=\"challenged\"} 8\n"
           "sentrel_answers_total{action=\"allowed\"} 2\n",
           "sentrel_picture_codes_issued_total 5\n",
           "sentrel_picture_code_answers_total{result=\"right\"} 1\n"
           "sentrel_picture_code_answers_total{result=\"wrong\"} 4\n",
           "sentrel_picture_code_blocks_total{reason=\"wrong_answers\"} 1\n"
           "sentrel_picture_code_blocks_total{reason=\"codes_expired\"} 1\n",
           "family sentrel_module_fired counter help\n"
           "sentrel_module_fired_total{action=\"block\",module=\"1\",name=\"机器人 \"bot\" \\ one\"} 1\n"
           "sentrel_module_fired_total{action=\"picture_code\",module=\"2\",name=\"Challenge\"} 3\n",
           "sentrel_all_modules_finished_total 0\n",
           // Loaded, two modules read, starting, started.
           "sentrel_log_lines_written_total 5\n",
           "sentrel_log_lines_lost_total 0\n",
           "sentrel_journal_lines_written_total 4\n",
           "sentrel_journal_write_failures_total 0\n",
           "sentrel_journal_lines_pending 0\n",
           // 10.0.0.2 to 10.0.0.7 and 127.0.0.1; none during the start-up.
           "family sentrel_clients gauge help\nsentrel_clients 7\n",
           "family sentrel_client_table_bytes gauge help\n",
           "family sentrel_crash_dumps counter help\nsentrel_crash_dumps_total 0\n",
       }) {
    EXPECT_NE(lines.find(expected), std::string::npos) << "missing:\n" << expected << "\nin:\n" << lines;
  }
  EXPECT_EQ(lines.find("nohelp"), std::string::npos) << lines;
  EXPECT_EQ(lines.find(" unknown "), std::string::npos) << lines;  // a family without TYPE
#endif
}

// Scrapes while the start-up runs and clients are evaluated: the page never
// reads the modules while the start-up loads them, and no request is lost.
class MetricsPageConcurrency : public MetricsPage {};

TEST_F(MetricsPageConcurrency, ScrapesDuringTheStartupAndRequests) {
  constexpr int kRequests = 300;
  std::atomic<bool> started{false};
  test::RunTogether(3, [&](int t) {
    if (t == 0) {
      f->CompleteStartup();
      started = true;
    } else if (t == 1) {
      // Scrapes until one made after the start-up completed, which must list
      // the modules.
      for (bool last = false; !last;) {
        last = started;
        testhost::TestRequest r({{"REMOTE_ADDR", "127.0.0.1"}, {"URL", kPath}});
        EXPECT_EQ(f->host.Request(r), SF_STATUS_REQ_FINISHED);
        if (last) {
          EXPECT_NE(r.body.find("name=\"Challenge\""), std::string::npos) << r.body;
        }
      }
    } else {
      for (int i = 0; i < kRequests; ++i) {
        testhost::TestRequest r({{"REMOTE_ADDR", "10.0.1." + std::to_string(i % 200 + 1)},
                                 {"HTTP_USER_AGENT", "Mozilla"}, {"URL", "/"}});
        f->host.Request(r);
      }
    }
  });
  const metrics::FilterMetrics& m = *f->filter.Metrics();
  using metrics::RequestOutcome;
  EXPECT_EQ(m.Read(RequestOutcome::Evaluated) + m.Read(RequestOutcome::DuringStartup), kRequests);
  EXPECT_EQ(m.Read(RequestOutcome::Held), 0u);
}

// The counts that only show under pressure: a rule search that runs out of
// its step budget (a back-referenced group holding an ambiguous loop, on a
// long run of letters), labelled by its module; records taken over at
// MaxClients.
TEST_F(MetricsPage, CountsBudgetRunOutsByModuleAndEvictions) {
  folder.Write("Config.ini", "[Config]\r\nMaxClients=2\r\nMetricsPath=/sentrel/metrics\r\n");
  folder.AddModule("pad.ini", test::AgentModule("Pad", "0", "1", "600", "{(a|(aa))+}x\\0"));
  f = std::make_unique<FilterUnderTest>(folder);
  ASSERT_EQ(f->host.Load(), TRUE);
  f->CompleteStartup();
  // The `x` at the very end lets the search try the run of a's.
  Get("10.0.0.1", std::string(1000, 'a') + "bx");
  Get("10.0.0.2", "Mozilla");
  Get("10.0.0.3", "Mozilla");
  const std::string page = Scrape();
  EXPECT_NE(page.find(",name=\"Pad\"} 1\n"), std::string::npos) << page;
  EXPECT_NE(page.find(",name=\"Challenge\"} 0\n"), std::string::npos) << page;
  EXPECT_NE(page.find("\nsentrel_client_evictions_total 1\n"), std::string::npos) << page;
}

// IPv6 readers: listed addresses and prefixes (whatever IPv6Prefix says),
// and an IPv4-mapped address read as its IPv4 address.
TEST_F(MetricsPage, Ipv6ReadersByTheirFullAddress) {
  folder.Write("Config.ini", "[Config]\r\nMetricsPath=/sentrel/metrics\r\nMetricsAllow=::1, 2001:db8::/32, 10.0.0.1\r\n");
  f = std::make_unique<FilterUnderTest>(folder);
  ASSERT_EQ(f->host.Load(), TRUE);
  for (const char* address : {"::1", "2001:db8:5::1", "::ffff:10.0.0.1"}) {
    EXPECT_EQ(Get(address, "scraper", kPath), SF_STATUS_REQ_FINISHED) << address;
  }
  for (const char* address : {"::2", "2001:db9::1", "::ffff:10.0.0.2", "fe80::1%lo"}) {
    EXPECT_EQ(Get(address, "scraper", kPath), SF_STATUS_REQ_NEXT_NOTIFICATION) << address;
  }
}

TEST_F(MetricsPage, OffWithoutMetricsPath) {
  folder.Write("Config.ini", "[Config]\r\nMetricsAllow=10.0.0.1\r\n");
  f = std::make_unique<FilterUnderTest>(folder);
  ASSERT_EQ(f->host.Load(), TRUE);
  EXPECT_EQ(f->filter.Metrics(), nullptr);
  f->CompleteStartup();
  EXPECT_EQ(Get("127.0.0.1", "scraper", kPath), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_FALSE(f->last->headerSent);
}

// MetricsAllow as written in Config.ini: the addresses it lets read the page,
// or the refusal of the whole key with one log line and the default.
TEST(MetricsAllow, EntriesOrRefusalWithTheDefault) {
  struct Case {
    const char* line;     // the Config.ini line, or nullptr for none
    const char* refused;  // the entry the log line names, or nullptr
    std::vector<const char*> allowed;
    std::vector<const char*> notAllowed;
  };
  const Case cases[] = {
      {nullptr, nullptr, {"127.0.0.1"}, {"127.0.0.2", "10.0.0.1"}},
      {"MetricsAllow=", nullptr, {"127.0.0.1"}, {"127.0.0.2"}},
      {"MetricsAllow=10.1.1.1 , 10.2.0.0-10.2.0.255,10.3.*.*", nullptr,
       {"10.1.1.1", "10.2.0.0", "10.2.0.255", "10.3.200.1"}, {"127.0.0.1", "10.1.1.2", "10.2.1.0"}},
      {"MetricsAllow=10.1.1.1,localhost", "localhost", {"127.0.0.1"}, {"10.1.1.1"}},
      {"MetricsAllow=10.1.1.1,,10.1.1.2", "", {"127.0.0.1"}, {"10.1.1.1", "10.1.1.2"}},
      {"MetricsAllow=10.0.0.7-10.0.0.5", "10.0.0.7-10.0.0.5", {"127.0.0.1"}, {"10.0.0.6"}},
      {"MetricsAllow=1.2.3.*-1.2.4.*", "1.2.3.*-1.2.4.*", {"127.0.0.1"}, {"1.2.3.9"}},
      {"MetricsAllow=10.1.1.1 # office", "10.1.1.1 # office", {"127.0.0.1"}, {"10.1.1.1"}},
      {"MetricsAllow=255.255.255.255", "255.255.255.255", {"127.0.0.1"}, {}},
  };
  // "MetricsAllow 设置无效（" and "），改用默认值 127.0.0.1" in the code page.
  const std::string before = "MetricsAllow \xc9\xe8\xd6\xc3\xce\xde\xd0\xa7\xa3\xa8";
  const std::string after = "\xa3\xa9\xa3\xac\xb8\xc4\xd3\xc3\xc4\xac\xc8\xcf\xd6\xb5 127.0.0.1\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line != nullptr ? c.line : "(no line)");
    SettingsFolder folder;
    folder.Write("Action/a.ini", ModuleText().Text());
    folder.Write("Config.ini", std::string("[Config]\r\nStatus=403 Forbidden\r\nMetricsPath=/m\r\n") +
                                   (c.line != nullptr ? std::string(c.line) + "\r\n" : "") + "LogMin=7\r\n");
    FilterUnderTest f(folder);
    ASSERT_EQ(f.host.Load(), TRUE);
    for (const char* a : c.allowed) EXPECT_TRUE(f.filter.MetricsAllowed().Find(Key(a))) << a;
    for (const char* a : c.notAllowed) EXPECT_FALSE(f.filter.MetricsAllowed().Find(Key(a))) << a;
    const std::string log = test::ProgramLog(folder, f.clock);
    const std::size_t at = log.find(before);
    if (c.refused == nullptr) {
      EXPECT_EQ(at, std::string::npos) << log;
    } else {
      EXPECT_NE(log.find(before + c.refused + after), std::string::npos) << log;
      EXPECT_EQ(log.find(before, at + 1), std::string::npos) << "one line only: " << log;
    }
    // Nothing else changes: the other keys are read, the page is on.
    EXPECT_EQ(f.filter.Settings().Status, "403 Forbidden");
    EXPECT_EQ(f.filter.Settings().LogMin, 7u);
    EXPECT_NE(f.filter.Metrics(), nullptr);
  }
}

TEST(MetricsExposition, HelpAndLabelValuesAreEscaped) {
  metrics::TextExposition page;
  page.Family("x_total", "a \\ b\nc \"d\"", metrics::MetricType::Counter);
  page.Sample("x_total", {{"a", "q\"u\\o\nte"}, {"b", ""}}, 18446744073709551615u);
  EXPECT_EQ(page.Text(),
            "# HELP x_total a \\\\ b\\nc \"d\"\n# TYPE x_total counter\n"
            "x_total{a=\"q\\\"u\\\\o\\nte\",b=\"\"} 18446744073709551615\n");
}

TEST(MetricsConcurrency, CountersSumEveryAddOfEveryThread) {
  // Each thread counts into two sets in turn (its cached block changes at
  // every add), on counters at both ends of a cache line and past it.
  constexpr int kThreads = 8;
  constexpr int kAdds = 20000;
  metrics::CounterSet a(10);
  metrics::CounterSet b(3);
  test::RunTogether(kThreads, [&](int t) {
    for (int i = 0; i < kAdds; ++i) {
      a.Add(7);
      b.Add(2, 3);
      a.Add(8, 2);
      a.Add(static_cast<std::size_t>(t % 3));
    }
  });
  EXPECT_EQ(a.Read(7), std::uint64_t{kThreads} * kAdds);
  EXPECT_EQ(a.Read(8), std::uint64_t{kThreads} * kAdds * 2);
  EXPECT_EQ(b.Read(2), std::uint64_t{kThreads} * kAdds * 3);
  std::uint64_t spread = 0;
  for (std::size_t i = 0; i < 3; ++i) spread += a.Read(i);
  EXPECT_EQ(spread, std::uint64_t{kThreads} * kAdds);
  EXPECT_EQ(a.Read(9), 0u);
  EXPECT_EQ(b.Read(0), 0u);
  // One block per thread at most, however often it came back to the set (a
  // thread that has finished may hand its block on to one that starts late).
  EXPECT_LE(a.BlockCount(), static_cast<std::size_t>(kThreads));
  // A set made where a destroyed one was is counted into afresh.
  auto first = std::make_unique<metrics::CounterSet>(4);
  first->Add(1, 5);
  first.reset();
  metrics::CounterSet second(4);
  second.Add(1);
  EXPECT_EQ(second.Read(1), 1u);
}

}  // namespace
}  // namespace sentrel
