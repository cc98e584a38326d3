// The crawler list: how a line reads (or why it is skipped), which DNS names
// lie within a crawler's suffixes, and what the filter says at start-up about
// the check (on both builds).
#include <gtest/gtest.h>

#include "filter/crawlers/crawler_list.h"
#include "filter/crawlers/resolver.h"
#include "filter/logging/program_messages.h"
#include "tests/crawlers/probe_module.h"
#include "tests/support/filter_under_test.h"

namespace sentrel::crawlers {
namespace {

TEST(CrawlerListLine, ReadsOrSaysWhyNot) {
  struct Case {
    const char* line;
    const char* name;      // nullptr: skipped
    const char* token;
    std::vector<std::string> suffixes;
    const char* reason;    // part of the reason of a skipped line
  };
  const Case cases[] = {
      {"google|googlebot|.googlebot.com,google.com", "google", "googlebot", {"googlebot.com", "google.com"}, ""},
      {" Bing | BingBot | Search.MSN.com. ", "Bing", "bingbot", {"search.msn.com"}, ""},
      {"google|googlebot", nullptr, nullptr, {}, "NAME|TOKEN|SUFFIXES"},
      {"a|b|c.d|e", nullptr, nullptr, {}, "NAME|TOKEN|SUFFIXES"},
      {"|googlebot|googlebot.com", nullptr, nullptr, {}, "NAME must hold"},
      {"goo gle|googlebot|googlebot.com", nullptr, nullptr, {}, "NAME may hold only"},
      {"google||googlebot.com", nullptr, nullptr, {}, "TOKEN must hold"},
      {"google|googlebot|", nullptr, nullptr, {}, "SUFFIXES is empty"},
      {"google|googlebot|googlebot.com,,google.com", nullptr, nullptr, {}, "an empty suffix"},
      {"google|googlebot|com", nullptr, nullptr, {}, "single label"},
      {"google|googlebot|google bot.com", nullptr, nullptr, {}, "not a DNS domain"},
      {"google|googlebot|a..com", nullptr, nullptr, {}, "not a DNS domain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CrawlerLine r = ParseCrawlerLine(c.line);
    ASSERT_EQ(r.accepted, c.name != nullptr) << r.reason;
    if (c.name == nullptr) {
      EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
      continue;
    }
    EXPECT_EQ(r.crawler.name, c.name);
    EXPECT_EQ(r.crawler.token, c.token);
    EXPECT_EQ(r.crawler.suffixes, c.suffixes);
  }
}

TEST(CrawlerListLine, NamesWithinSuffixesOnLabelBoundaries) {
  const std::vector<std::string> suffixes{"googlebot.com", "google.com"};
  struct Case {
    std::string name;
    bool within;
  };
  const Case cases[] = {
      {"crawl-66-249-66-1.googlebot.com", true},
      {"crawl-66-249-66-1.googlebot.com.", true},   // a trailing dot is ignored
      {"Rate-Limited-Proxy.GOOGLE.com", true},      // case does not matter
      {"googlebot.com", true},
      {"crawl.evilgooglebot.com", false},           // not on a label boundary
      {"googlebot.com.evil.net", false},
      {"crawl.googlebot.co", false},
      {"crawl\\.x.googlebot.com", false},           // an escaped dot: not a host name
      {std::string("crawl\0x.googlebot.com", 21), false},
      {"cr\xc3\xa4wl.googlebot.com", false},
      {"crawl..googlebot.com", false},
      {std::string(64, 'a') + ".googlebot.com", false},  // a label over 63 bytes
      {std::string(50, 'a') + "." + std::string(50, 'b') + "." + std::string(50, 'c') + "." +
           std::string(50, 'd') + "." + std::string(50, 'e') + ".googlebot.com",
       false},  // over 253 bytes
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameWithin(c.name, suffixes), c.within) << c.name;
  }
}

TEST(CrawlerListFile, SkipsRemarksAndBadLinesAndFindsTokensInOrder) {
  test::TempFolder folder;
  folder.Write("site/Crawlers.txt",
               "; search engines\r\n"
               "\r\n"
               "   ; indented remark\r\n"
               "google|googlebot|googlebot.com\r\n"
               "broken line\r\n"
               "bing|bingbot|search.msn.com\r\n"
               "other|bot|example.com\r\n");
  CrawlerList list;
  std::vector<std::pair<int, bool>> seen;
  ASSERT_TRUE(LoadCrawlerList(folder.Path() + "/site/", list,
                              [&](int number, const std::string&, const CrawlerLine& r) {
                                seen.emplace_back(number, r.accepted);
                              }));
  EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{4, true}, {5, false}, {6, true}, {7, true}}));
  ASSERT_EQ(list.All().size(), 3u);
  // The first listed token the agent holds wins; tokens are found in the
  // lower-cased agent.
  const Crawler* c = list.Find("mozilla/5.0 (compatible; googlebot/2.1)");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->name, "google");
  EXPECT_EQ(list.IndexOf(c), 0u);
  ASSERT_NE(list.Find("somebot"), nullptr);
  EXPECT_EQ(list.Find("somebot")->name, "other");
  EXPECT_EQ(list.Find("mozilla/5.0"), nullptr);

  CrawlerList none;
  EXPECT_FALSE(LoadCrawlerList(folder.Path() + "/missing/", none));
  EXPECT_TRUE(none.Empty());
}

// What the filter says at start-up about the crawler check: a CrawlerResolver
// that is not an address (Linux), or a build that cannot resolve (Windows),
// where every claim is unknown and never fake.
TEST(CrawlerListFile, StartupMessages) {
  test::SettingsFolder folder;
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCrawlerResolver=dns.example\r\n");
  folder.Write("Crawlers.txt", "google|googlebot|googlebot.com\r\n");
  folder.AddModule("probe.ini", test::ProbeModule("[{S(SENTREL_CRAWLER)}]"));
  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  const std::string log = test::ProgramLog(folder, f.clock);
  std::string refused = messages::kCrawlerResolverRefusedFormat;
  refused.replace(refused.find("%s"), 2, "dns.example");
  EXPECT_EQ(log.find(refused) != std::string::npos, ResolverAvailable()) << log;
  EXPECT_EQ(log.find(messages::kCrawlerCheckUnavailable) != std::string::npos, !ResolverAvailable()) << log;
  if (!ResolverAvailable()) {
    f.Request("10.0.0.1", {{"HTTP_USER_AGENT", "Googlebot/2.1"}});
    EXPECT_NE(folder.Read("Log/probe.log").find("[unknown google]"), std::string::npos);
  }
}

}  // namespace
}  // namespace sentrel::crawlers
