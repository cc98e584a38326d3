// The crawler check through the filter's exports, against the tests' own DNS
// server named by CrawlerResolver: every verdict reached in order (pending,
// then verified, fake or unknown) as module rules and log lines see
// SENTREL_CRAWLER, the cache and its expiry in the filter's clock, the demo's
// crawler modules, and a flood of claims that must not hold requests up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/net.h"
#include "tests/crawlers/probe_module.h"
#include "tests/support/dns_responder.h"
#include "tests/support/filter_under_test.h"
#include "tests/support/run_together.h"

namespace sentrel {
namespace {

using test::DnsResponder;
using test::FilterUnderTest;
using test::SettingsFolder;
using Type = DnsResponder::Type;
using Kind = DnsResponder::Kind;

constexpr char kGoogleAgent[] = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A filter on a fake clock whose crawler check asks `dns`.
class CrawlerFilter {
 public:
  CrawlerFilter(const DnsResponder& dns, bool demoModules) {
    folder.Write("Config.ini", "[Config]\r\nStatus=403 Forbidden\r\nLogMin=1\r\nCacheMin=1\r\nMetricsPath=/m\r\n"
                               "CrawlerResolver=" + dns.Server() + "\r\n");
    folder.Write("Crawlers.txt", "; test crawlers\r\ngoogle|googlebot|googlebot.com,google.com\r\n");
    // Every request's address and SENTREL_CRAWLER, before the demo's modules.
    folder.AddModule("0-probe.ini", test::ProbeModule("{S(REMOTE_ADDR)} [{S(SENTREL_CRAWLER)}]"));
    if (demoModules) {
      for (const char* file : {"allow-verified-crawlers.ini", "block-fake-crawlers.ini"}) {
        folder.Write(std::string("Action/") + file, ReadFile(std::string(SENTREL_DEMO_ACTION) + "/" + file));
      }
    }
    f = std::make_unique<FilterUnderTest>(folder);
    EXPECT_EQ(f->host.Load(), TRUE);
    f->CompleteStartup();
    EXPECT_FALSE(f->filter.StartupPending());
  }

  DWORD Request(const std::string& address, const std::string& agent = kGoogleAgent) {
    return f->Request(address, {{"HTTP_USER_AGENT", agent}});
  }

  // The value the probe logged for the address's latest evaluated request.
  std::string LastValue(const std::string& address) {
    const std::string log = folder.Read("Log/probe.log");
    const std::string head = address + " [";
    std::size_t at = log.rfind("\n" + head);
    if (at == std::string::npos) {
      if (log.compare(0, head.size(), head) != 0) return "(none)";
      at = 0;
    } else {
      at += 1;
    }
    const std::size_t end = log.find("]", at + head.size());
    return log.substr(at + head.size(), end - at - head.size());
  }

  SettingsFolder folder;
  std::unique_ptr<FilterUnderTest> f;
};

struct Row {
  const char* what;
  std::string address;
  std::vector<std::vector<std::string>> ptr;  // PTR names (labels); empty: see ptrKind
  Kind ptrKind;
  int ptrDelayMs;
  std::map<std::string, DnsResponder::Answer> forward;  // A answers by name
  std::string final;                                    // the value reached
};

DnsResponder::Answer Addresses(std::vector<std::string> a, Kind kind = Kind::Records) {
  DnsResponder::Answer answer;
  answer.kind = kind;
  answer.addresses = std::move(a);
  return answer;
}

std::vector<std::string> L(const std::string& name) { return DnsResponder::Labels(name); }

std::vector<Row> Rows() {
  std::vector<std::vector<std::string>> many;
  for (int i = 0; i < 30; ++i) many.push_back(L("host-" + std::to_string(i) + ".example.net"));
  many.push_back(L("crawl-11.googlebot.com"));
  const std::string label63(63, 'a');
  return {
      {"verified", "198.51.100.1", {L("crawl-1.googlebot.com")}, Kind::Records, 0,
       {{"crawl-1.googlebot.com", Addresses({"198.51.100.1"})}}, "verified google"},
      {"verified, name in capitals", "198.51.100.2", {L("Rate-Limited-Proxy-2.GOOGLE.COM")}, Kind::Records, 0,
       {{"rate-limited-proxy-2.google.com", Addresses({"203.0.113.9", "198.51.100.2"})}}, "verified google"},
      {"verified after delays", "198.51.100.3", {L("crawl-3.googlebot.com")}, Kind::Records, 400,
       {{"crawl-3.googlebot.com", Addresses({"198.51.100.3"})}}, "verified google"},
      {"reverse name outside the suffixes", "198.51.100.4", {L("crawl.example.net")}, Kind::Records, 0, {},
       "fake google"},
      {"suffix not on a label boundary", "198.51.100.5", {L("crawl.evilgooglebot.com")}, Kind::Records, 0,
       {{"crawl.evilgooglebot.com", Addresses({"198.51.100.5"})}}, "fake google"},
      {"forward answer does not match", "198.51.100.6", {L("crawl-6.googlebot.com")}, Kind::Records, 0,
       {{"crawl-6.googlebot.com", Addresses({"203.0.113.6"})}}, "fake google"},
      {"no PTR record", "198.51.100.7", {}, Kind::NoSuchName, 0, {}, "fake google"},
      {"reverse server failure", "198.51.100.8", {}, Kind::ServerFailure, 0, {}, "unknown google"},
      {"forward server failure", "198.51.100.9", {L("crawl-9.googlebot.com")}, Kind::Records, 0,
       {{"crawl-9.googlebot.com", Addresses({}, Kind::ServerFailure)}}, "unknown google"},
      {"reverse never answered", "198.51.100.10", {}, Kind::Silent, 0, {}, "unknown google"},
      {"many PTR records, the last one real", "198.51.100.11", many, Kind::Records, 0,
       {{"crawl-11.googlebot.com", Addresses({"198.51.100.11"})}}, "verified google"},
      // Reverse names that are not host names: the resolver refuses the answer
      // as misformatted, which verifies nothing and blames no one.
      {"a label holding a dot", "198.51.100.12", {{"crawl.x", "googlebot", "com"}}, Kind::Records, 0,
       {{"crawl.x.googlebot.com", Addresses({"198.51.100.12"})}}, "unknown google"},
      {"odd bytes in a label", "198.51.100.13", {{std::string("cr\0\xff", 4), "googlebot", "com"}}, Kind::Records,
       0, {}, "unknown google"},
      {"an over-long name", "198.51.100.14", {{label63, label63, label63, label63, "googlebot", "com"}},
       Kind::Records, 0, {}, "fake google"},
      {"forward name does not exist", "198.51.100.15", {L("crawl-15.googlebot.com")}, Kind::Records, 0, {},
       "fake google"},
      {"second name confirms", "198.51.100.16", {L("a-16.googlebot.com"), L("b-16.google.com")}, Kind::Records,
       0,
       {{"a-16.googlebot.com", Addresses({"203.0.113.16"})}, {"b-16.google.com", Addresses({"198.51.100.16"})}},
       "verified google"},
  };
}

void Serve(DnsResponder& dns, const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    DnsResponder::Answer ptr;
    ptr.kind = r.ptrKind;
    ptr.names = r.ptr;
    ptr.delayMs = r.ptrDelayMs;
    dns.Set(DnsResponder::ReverseName(r.address), Type::PTR, ptr);
    for (auto [name, answer] : r.forward) {
      answer.delayMs = r.ptrDelayMs;
      dns.Set(name, Type::A, answer);
    }
  }
}

// Requests every address until its value is no longer pending (or a deadline
// passes); returns each address's values in order, repeats folded.
std::map<std::string, std::vector<std::string>> Settle(CrawlerFilter& c, const std::vector<std::string>& addresses) {
  std::map<std::string, std::vector<std::string>> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::vector<std::string> open = addresses;
  while (!open.empty() && std::chrono::steady_clock::now() < deadline) {
    std::vector<std::string> still;
    for (const std::string& a : open) {
      c.Request(a);
      const std::string value = c.LastValue(a);
      std::vector<std::string>& values = seen[a];
      if (values.empty() || values.back() != value) values.push_back(value);
      if (value == "pending google") still.push_back(a);
    }
    open = std::move(still);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return seen;
}

TEST(CrawlerCheck, EveryVerdictAfterPendingThenCachedUntilItsTimeRunsOut) {
  DnsResponder dns;
  const std::vector<Row> rows = Rows();
  Serve(dns, rows);
  CrawlerFilter c(dns, false);

  // A user agent without a listed token: empty (not missing), no DNS.
  c.Request("198.51.100.99", "Mozilla/5.0 (X11; Linux x86_64)");
  EXPECT_EQ(c.LastValue("198.51.100.99"), "");

  std::vector<std::string> addresses;
  for (const Row& r : rows) addresses.push_back(r.address);
  const auto seen = Settle(c, addresses);
  std::map<std::string, int> ptrQueries;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::vector<std::string>& values = seen.at(r.address);
    EXPECT_EQ(values, (std::vector<std::string>{"pending google", r.final}));
    ptrQueries[r.address] = dns.Queries(DnsResponder::ReverseName(r.address), Type::PTR);
    EXPECT_GE(ptrQueries[r.address], 1);
  }
  EXPECT_EQ(dns.Queries(DnsResponder::ReverseName("198.51.100.99"), Type::PTR), 0);
  EXPECT_EQ(dns.Queries("crawl.example.net", Type::A), 0);  // outside the suffixes: never looked up

  // Cached: more requests, the same values, no more queries. Unknown lasts
  // 5 minutes, verified and fake 24 hours, in the filter's clock.
  struct Step {
    std::int64_t advance;
    bool unknownAsked;
    bool othersAsked;
  };
  for (const Step& step : {Step{0, false, false}, Step{299, false, false}, Step{2, true, false},
                           Step{86400, true, true}}) {
    SCOPED_TRACE("after " + std::to_string(step.advance) + " s more");
    c.f->clock.Advance(step.advance);
    for (const Row& r : rows) c.Request(r.address);
    for (const Row& r : rows) {
      SCOPED_TRACE(r.what);
      const bool unknown = r.final.starts_with("unknown");
      const bool asked = unknown ? step.unknownAsked : step.othersAsked;
      EXPECT_EQ(c.LastValue(r.address), asked ? "pending google" : r.final);
    }
    if (step.advance != 0) Settle(c, addresses);
    for (const Row& r : rows) {
      SCOPED_TRACE(r.what);
      const int now = dns.Queries(DnsResponder::ReverseName(r.address), Type::PTR);
      const bool asked = r.final.starts_with("unknown") ? step.unknownAsked : step.othersAsked;
      if (asked) {
        EXPECT_GT(now, ptrQueries[r.address]);
      } else {
        EXPECT_EQ(now, ptrQueries[r.address]);
      }
      ptrQueries[r.address] = now;
    }
  }
}

// The demo's modules: a verified crawler is let through for a day, a fake one
// refused for a day; a pending or unknown one is left to the other modules.
TEST(CrawlerCheck, DemoModulesAllowVerifiedAndBlockFakeCrawlers) {
  DnsResponder dns;
  std::vector<Row> rows = Rows();
  Serve(dns, rows);
  CrawlerFilter c(dns, true);
  struct Case {
    std::string address;
    ClientState state;
    DWORD status;
  };
  const Case cases[] = {{"198.51.100.1", ClientState::Allowed, SF_STATUS_REQ_NEXT_NOTIFICATION},
                        {"198.51.100.6", ClientState::Blocked, SF_STATUS_REQ_FINISHED},
                        {"198.51.100.8", ClientState::Normal, SF_STATUS_REQ_NEXT_NOTIFICATION}};
  std::vector<std::string> addresses;
  for (const Case& k : cases) addresses.push_back(k.address);
  Settle(c, addresses);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.address);
    EXPECT_EQ(c.Request(k.address), k.status);
    const ClientTally* t = c.f->filter.Clients().Find(platform::Ntohl(platform::InetAddr(k.address.c_str())));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->state.load(), k.state);
    if (k.state != ClientState::Normal) {
      EXPECT_EQ(t->holdUntil.load(), static_cast<std::uint32_t>(c.f->clock.Now() + 86400));
    }
  }
  // The metrics page counts the verdicts by kind.
  c.f->Request("127.0.0.1", {{"URL", "/m"}});
  for (const char* verdict : {"verified", "fake", "unknown"}) {
    EXPECT_NE(c.f->last->body.find("sentrel_crawler_verdicts_total{verdict=\"" + std::string(verdict) + "\"} 1\n"),
              std::string::npos) << c.f->last->body;
  }
  const std::string log = c.folder.Read("Log/Crawlers_" + c.f->clock.FormatNow("%Y-%m-%d") + ".log");
  EXPECT_NE(log.find("ALLOWED 198.51.100.1 verified google"), std::string::npos) << log;
  EXPECT_NE(log.find("BLOCKED 198.51.100.6 fake google " + std::string(kGoogleAgent)), std::string::npos) << log;
}

// Many addresses claiming a crawler at once: requests never wait for DNS, the
// queue's bound turns the excess away (asked again by later requests), and
// the resolver never has more than its bound of queries out.
TEST(CrawlerCheckConcurrency, FloodOfClaimsStaysBoundedAndNeverHoldsRequestsUp) {
  DnsResponder dns;
  constexpr int kAddresses = 2000;
  constexpr int kThreads = 4;
  std::vector<std::string> addresses;
  for (int i = 0; i < kAddresses; ++i) {
    const std::string address = "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    const std::string name = "crawl-" + std::to_string(i) + ".googlebot.com";
    DnsResponder::Answer ptr;
    ptr.names = {DnsResponder::Labels(name)};
    ptr.delayMs = 20;
    dns.Set(DnsResponder::ReverseName(address), Type::PTR, ptr);
    DnsResponder::Answer a = Addresses({address});
    a.delayMs = 20;
    dns.Set(name, Type::A, a);
    addresses.push_back(address);
  }
  CrawlerFilter c(dns, false);
  std::atomic<std::int64_t> slowestUs{0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int rounds = 0;
  while (c.f->filter.Crawlers().Counts().verified < kAddresses && std::chrono::steady_clock::now() < deadline) {
    ++rounds;
    test::RunTogether(kThreads, [&](int t) {
      for (int i = t; i < kAddresses; i += kThreads) {
        testhost::TestRequest request({{"REMOTE_ADDR", addresses[i]}, {"HTTP_USER_AGENT", kGoogleAgent}});
        const auto start = std::chrono::steady_clock::now();
        c.f->host.Request(request);
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
        std::int64_t seen = slowestUs.load();
        while (us > seen && !slowestUs.compare_exchange_weak(seen, us)) {
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const crawlers::CheckCounts counts = c.f->filter.Crawlers().Counts();
  std::printf("flood of %d claims on %d threads: %d rounds, slowest request %.3f ms, at most %d queries out,"
              " %llu claims turned away by the full queue\n",
              kAddresses, kThreads, rounds, static_cast<double>(slowestUs.load()) / 1000.0, dns.MostHeld(),
              static_cast<unsigned long long>(counts.notQueued));
  EXPECT_EQ(counts.verified, static_cast<std::uint64_t>(kAddresses));
  EXPECT_EQ(counts.fake + counts.unknown, 0u);
  EXPECT_GT(counts.notQueued, 0u);  // the queue's bound was reached
  EXPECT_LE(dns.MostHeld(), 64);
  EXPECT_GT(dns.MostHeld(), 1);  // the checks did run side by side
  // Each address was looked up once, however many requests asked.
  EXPECT_EQ(dns.TotalQueries(), 2 * kAddresses);
  c.Request(addresses[0]);
  EXPECT_EQ(c.LastValue(addresses[0]), "verified google");
}

}  // namespace
}  // namespace sentrel
