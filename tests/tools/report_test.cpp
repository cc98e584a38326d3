// The replay's report as text and as JSON, from reports built by hand, so
// that every field has a known value.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/tools/json_reader.h"
#include "tools/replay/report.h"

namespace sentrel::replay {
namespace {

using test::JsonValue;
using test::ReadJson;

constexpr std::int64_t kT0 = 971211336;     // 10/Oct/2000:13:55:36 -0700
const std::string kCrawlerGbk = "\xC5\xC0\xB3\xE6";  // 爬虫 in the code page
const std::string kCrawlerUtf8 = "\xE7\x88\xAC\xE8\x99\xAB";

Decision MakeDecision(const std::string& address, DecisionSource source, std::int32_t module,
                      const std::string& name, Answer action, std::uint32_t holdUntil, std::uint64_t requests) {
  Decision d{address, 4, kT0, -25200, "10/Oct/2000:13:55:36 -0700", source, module, name, action, holdUntil};
  d.requests = requests;
  return d;
}

ReplayReport SampleReport() {
  ReplayReport r;
  r.folder = "/srv/site";
  r.logName = "access.log";
  r.scratchFolder = "/tmp/sentrel-replay-x/site";
  r.lines = 12;
  r.requests = 10;
  r.unparsableCount = 2;
  r.unparsable = {{6, "no [time] field"}, {8, "request \"-\" is not METHOD URL PROTOCOL"}};
  r.hasRequests = true;
  r.first = {kT0, -25200, "10/Oct/2000:13:55:36 -0700"};
  r.last = {kT0 + 3725, -25200, "10/Oct/2000:14:57:41 -0700"};
  r.clients = 4;
  r.notIpv4Clients = 1;
  r.notIpv4Requests = 2;
  r.passed = 6;
  r.blocked = 3;
  r.challenged = 1;
  r.moduleFiles = 3;
  r.modules = {ModuleSummary{1, "Bots", ModuleAction::Block, 600, 2, 1},
               ModuleSummary{2, kCrawlerGbk, ModuleAction::PictureCode, 3600, 1, 1}};
  r.dateline = 86400;
  r.allowedAfterModules = 5;
  r.decisions = {MakeDecision("10.0.0.7", DecisionSource::Module, 1, "Bots", Answer::Blocked, kT0 + 600, 2),
                 MakeDecision("10.9.9.9", DecisionSource::DenyList, 0, "", Answer::Blocked, 0xFFFFFFFFu, 1),
                 MakeDecision("10.0.0.8", DecisionSource::Module, 2, kCrawlerGbk, Answer::Challenged, kT0 + 3600, 1)};
  r.variablesNotInLog = {{"HTTP_COOKIE", {"Bots", kCrawlerGbk}}};
  r.requestsWaited = 3;
  r.waitedMs = 1800;
  return r;
}

TEST(JsonReport, HoldsEveryFieldOfTheReport) {
  const std::string text = FormatJsonReport(SampleReport());
  std::string error;
  const auto parsed = ReadJson(text, &error);
  ASSERT_TRUE(parsed.has_value()) << error << "\n" << text;
  const JsonValue& j = *parsed;

  EXPECT_EQ(j["status"].string, "completed");
  EXPECT_EQ(j["problem"].kind, JsonValue::Kind::Null);
  EXPECT_EQ(j["log"]["name"].string, "access.log");
  EXPECT_EQ(j["log"]["lines"].number, 12);
  EXPECT_EQ(j["log"]["requests"].number, 10);
  EXPECT_EQ(j["log"]["first"]["time"].string, "2000-10-10T20:55:36Z");
  EXPECT_EQ(j["log"]["last"]["logTime"].string, "10/Oct/2000:14:57:41 -0700");
  EXPECT_EQ(j["log"]["unparsable"]["count"].number, 2);
  ASSERT_EQ(j["log"]["unparsable"]["lines"].items.size(), 2u);
  EXPECT_EQ(j["log"]["unparsable"]["lines"][1]["line"].number, 8);
  EXPECT_EQ(j["log"]["unparsable"]["lines"][1]["reason"].string, "request \"-\" is not METHOD URL PROTOCOL");

  EXPECT_EQ(j["clients"]["count"].number, 4);
  EXPECT_EQ(j["clients"]["notIpv4"].number, 1);
  EXPECT_EQ(j["clients"]["notIpv4Requests"].number, 2);
  EXPECT_EQ(j["answers"]["passed"].number, 6);
  EXPECT_EQ(j["answers"]["blocked"].number, 3);
  EXPECT_EQ(j["answers"]["challenged"].number, 1);

  EXPECT_EQ(j["moduleFiles"].number, 3);
  ASSERT_EQ(j["modules"].items.size(), 2u);
  EXPECT_EQ(j["modules"][1]["number"].number, 2);
  EXPECT_EQ(j["modules"][1]["name"].string, kCrawlerUtf8);
  EXPECT_EQ(j["modules"][1]["action"].string, "picture code");
  EXPECT_EQ(j["modules"][1]["holdSeconds"].number, 3600);
  EXPECT_EQ(j["modules"][0]["firings"].number, 2);
  EXPECT_EQ(j["allowedAfterModules"]["count"].number, 5);
  EXPECT_EQ(j["allowedAfterModules"]["holdSeconds"].number, 86400);

  ASSERT_EQ(j["decisions"].items.size(), 3u);
  const JsonValue& first = j["decisions"][0];
  EXPECT_EQ(first["address"].string, "10.0.0.7");
  EXPECT_EQ(first["line"].number, 4);
  EXPECT_EQ(first["from"]["time"].string, "2000-10-10T20:55:36Z");
  EXPECT_EQ(first["source"].string, "module");
  EXPECT_EQ(first["module"]["name"].string, "Bots");
  EXPECT_EQ(first["action"].string, "blocked");
  EXPECT_EQ(first["until"]["time"].string, "2000-10-10T21:05:36Z");
  EXPECT_EQ(first["until"]["logTime"].string, "10/Oct/2000:14:05:36 -0700");
  EXPECT_EQ(first["requests"].number, 2);
  const JsonValue& listed = j["decisions"][1];
  EXPECT_EQ(listed["source"].string, "deny list");
  EXPECT_EQ(listed["module"].kind, JsonValue::Kind::Null);
  EXPECT_EQ(listed["until"].kind, JsonValue::Kind::Null);  // never ends
  EXPECT_EQ(j["decisions"][2]["action"].string, "challenged");

  ASSERT_EQ(j["variablesNotInLog"].items.size(), 1u);
  EXPECT_EQ(j["variablesNotInLog"][0]["modules"][1].string, kCrawlerUtf8);
  EXPECT_EQ(j["waits"]["requests"].number, 3);
  EXPECT_EQ(j["waits"]["milliseconds"].number, 1800);
  EXPECT_EQ(j["scratch"]["folder"].string, "/tmp/sentrel-replay-x/site");
  EXPECT_EQ(j["scratch"]["kept"].kind, JsonValue::Kind::Bool);
}

TEST(JsonReport, FailedRunCarriesTheProblemAndTheFiltersMessages) {
  ReplayReport r;
  r.status = ReplayStatus::NotLoaded;
  r.problem = "the filter would not load this settings folder";
  r.folder = "/srv/site";
  r.programMessages = {"13:55:16\t" + kCrawlerGbk};
  const auto j = ReadJson(FormatJsonReport(r));
  ASSERT_TRUE(j.has_value());
  EXPECT_EQ((*j)["status"].string, "not loaded");
  EXPECT_EQ((*j)["problem"].string, r.problem);
  ASSERT_EQ((*j)["programMessages"].items.size(), 1u);
  EXPECT_EQ((*j)["programMessages"][0].string, "13:55:16\t" + kCrawlerUtf8);
  EXPECT_FALSE(j->Has("answers"));
  EXPECT_FALSE(j->Has("decisions"));
}

TEST(JsonReport, TextsFromTheLogCannotBreakTheJson) {
  ReplayReport r = SampleReport();
  r.decisions[0].address = std::string("a\"b\\c\x01", 6);
  r.logName = "odd \"name\"";
  const auto j = ReadJson(FormatJsonReport(r));
  ASSERT_TRUE(j.has_value());
  EXPECT_EQ((*j)["decisions"][0]["address"].string, "a\"b\\c\\x01");
  EXPECT_EQ((*j)["log"]["name"].string, "odd \"name\"");
}

// The lines of a text that contain a piece.
std::vector<std::string> LinesWith(const std::string& text, const std::string& piece) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(piece) != std::string::npos) out.push_back(line);
  }
  return out;
}

TEST(TextReport, SectionsAndAlignedColumns) {
  const std::string text = FormatTextReport(SampleReport(), false);
  EXPECT_NE(text.find("Replay of access.log through the settings folder /srv/site"), std::string::npos);
  EXPECT_NE(text.find("10/Oct/2000:13:55:36 -0700 to 10/Oct/2000:14:57:41 -0700 (1 h 2 min)"),
            std::string::npos);
  EXPECT_EQ(LinesWith(text, "unparsable").at(0), "  unparsable   2  lines 6, 8 (see below)");
  EXPECT_EQ(LinesWith(text, "  clients").at(0), "  clients      4  1 not tracked, passed unevaluated (2 requests)");
  EXPECT_EQ(LinesWith(text, "  passed").at(0), "  passed      6  60.0 %");
  EXPECT_EQ(LinesWith(text, "  challenged").at(0), "  challenged  1  10.0 %");

  // The module table: a two-character Chinese name takes four columns.
  EXPECT_EQ(LinesWith(text, "  #  module").at(0), "  #  module  action          hold  firings  clients");
  EXPECT_EQ(LinesWith(text, "  1  Bots").at(0), "  1  Bots    block         10 min        2        1");
  EXPECT_EQ(LinesWith(text, "  2  " + kCrawlerUtf8).at(0),
            "  2  " + kCrawlerUtf8 + "    picture code     1 h        1        1");
  EXPECT_NE(text.find("let through after every module finished without firing: 5 (held for 1 d"),
            std::string::npos);
  EXPECT_NE(text.find("1 module file(s) refused; `sentrel lint /srv/site` says why"), std::string::npos);

  EXPECT_NE(text.find("Clients blocked or challenged: 3 (3 decisions)"), std::string::npos);
  EXPECT_EQ(LinesWith(text, "10.9.9.9").at(0),
            "  10.9.9.9  10/Oct/2000:13:55:36 -0700  LimitIP.txt  blocked     never                              1");
  EXPECT_EQ(LinesWith(text, "10.0.0.7").at(0),
            "  10.0.0.7  10/Oct/2000:13:55:36 -0700  Bots         blocked     10/Oct/2000:14:05:36 -0700         2");

  EXPECT_NE(text.find("  line 8: request \"-\" is not METHOD URL PROTOCOL"), std::string::npos);
  EXPECT_NE(text.find("Rules of Bots, " + kCrawlerUtf8 + " test HTTP_COOKIE"), std::string::npos);
  EXPECT_NE(text.find("3 requests waited for a missing server variable (1.8 s of log time"), std::string::npos);
  EXPECT_NE(text.find("/tmp/sentrel-replay-x/site"), std::string::npos);
  EXPECT_NE(text.find("removed (--keep keeps them)"), std::string::npos);
}

TEST(TextReport, LongDecisionListsAreCutUnlessAllAreAsked) {
  ReplayReport r = SampleReport();
  r.decisions.clear();
  for (int i = 0; i < 101; ++i) {
    r.decisions.push_back(MakeDecision("10.1.0." + std::to_string(i), DecisionSource::Module, 1, "Bots",
                                       Answer::Blocked, kT0 + 600, 1));
  }
  const std::string cut = FormatTextReport(r, false);
  EXPECT_EQ(LinesWith(cut, "  10.1.0.").size(), kDecisionRowsShown);
  EXPECT_NE(cut.find("(the first 100 of 101; --all lists every one, --json has them all)"), std::string::npos);
  const std::string all = FormatTextReport(r, true);
  EXPECT_EQ(LinesWith(all, "  10.1.0.").size(), 101u);
  EXPECT_EQ(all.find("the first 100"), std::string::npos);
}

TEST(TextReport, FailedRunShowsTheFiltersMessagesAndPointsToLint) {
  ReplayReport r;
  r.status = ReplayStatus::NotStarted;
  r.problem = "the filter loaded but would not start: no module file could be read";
  r.folder = "/srv/site";
  r.programMessages = {"13:55:16\t" + kCrawlerGbk};
  const std::string text = FormatTextReport(r, false);
  EXPECT_NE(text.find("sentrel replay: the filter loaded but would not start"), std::string::npos);
  EXPECT_NE(text.find("  13:55:16  " + kCrawlerUtf8 + "\n"), std::string::npos);
  EXPECT_NE(text.find("`sentrel lint /srv/site`"), std::string::npos);
  EXPECT_EQ(text.find("Answers"), std::string::npos);
}

TEST(TextReport, DurationsInWords) {
  struct Case {
    std::int64_t seconds;
    const char* words;
  };
  for (const Case& c : {Case{0, "0 s"}, Case{45, "45 s"}, Case{60, "1 min"}, Case{61, "1 min 1 s"},
                        Case{3600, "1 h"}, Case{5400, "1 h 30 min"}, Case{86400, "1 d"},
                        Case{183600, "2 d 3 h"}, Case{-5, "0 s"}}) {
    EXPECT_EQ(DescribeDuration(c.seconds), c.words) << c.seconds;
  }
}

}  // namespace
}  // namespace sentrel::replay
