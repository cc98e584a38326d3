// The replay of an access log through a private filter: the log's times drive
// the clock, the live settings folder is left alone, and every answer is
// traced back to the module or list that decided it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "filter/logging/program_messages.h"
#include "tests/support/dns_responder.h"
#include "tests/support/filter_under_test.h"
#include "tools/replay/replay.h"
#include "tools/replay/report.h"

namespace sentrel::replay {
namespace {

namespace fs = std::filesystem;
using test::ModuleText;
using test::SettingsFolder;
using test::TempFolder;

constexpr std::int64_t kT0 = 1696971336;  // 10/Oct/2023:13:55:36 -0700

std::string Line(const std::string& address, std::int64_t utc, const std::string& agent = "Mozilla/5.0",
                 const std::string& target = "/", std::int32_t offset = -25200) {
  return address + " - - [" + FormatLogTime(utc, offset) + "] \"GET " + target + " HTTP/1.1\" 200 512 \"-\" \"" +
         agent + "\"\n";
}

ModuleText AgentModule(const std::string& name, const std::string& execute, const std::string& times,
                       const std::string& pattern = "bot", const std::string& variable = "http_user_agent") {
  ModuleText m;
  m.name = name;
  m.execute = execute;
  m.dateline = "600";
  m.logName = "Fired";
  m.logContent = "fired {S(REMOTE_ADDR)}";
  ModuleText::StepText s;
  s.times = times;
  s.rules.push_back({variable, "1", pattern});
  m.steps.push_back(s);
  return m;
}

// Every file below a folder, by relative path, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      files[relative + "/"] = "";
    } else {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      files[relative] = bytes.str();
    }
  }
  return files;
}

class ReplayTest : public ::testing::Test {
 protected:
  SettingsFolder folder;
  TempFolder scratchParent;
  std::vector<std::pair<std::uint64_t, Answer>> answers;
  bool resolve = false;  // --resolve

  void SetUp() override {
    folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCacheMin=1\r\nDateline=3600\r\n");
    folder.Write("Return.html", "<h1>Blocked</h1>\r\n");
  }

  ReplayReport Run(const std::string& log, bool keep = false, bool journal = false) {
    ReplayOptions options;
    options.folder = folder.Root();
    options.keepScratch = keep;
    options.restoreJournal = journal;
    options.scratchParent = scratchParent.Path();
    options.resolveCrawlers = resolve;
    options.onRequest = [this](const RequestOutcome& o) { answers.emplace_back(o.line, o.answer); };
    std::istringstream in(log);
    return Replay(options, in, "access.log");
  }

  std::vector<Answer> Answers() const {
    std::vector<Answer> out;
    for (const auto& a : answers) out.push_back(a.second);
    return out;
  }
};

constexpr Answer P = Answer::Passed;
constexpr Answer B = Answer::Blocked;
constexpr Answer C = Answer::Challenged;

TEST_F(ReplayTest, BotIsBlockedAtItsThirdRequestAndFreedAfterTheHoldInLogTime) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "3"));
  std::string log = Line("10.0.0.7", kT0, "GoodBot/1.0") + Line("10.0.0.7", kT0 + 1, "GoodBot/1.0") +
                    Line("10.0.0.7", kT0 + 2, "GoodBot/1.0") +  // fires: held until kT0 + 602
                    Line("10.0.0.7", kT0 + 601, "Mozilla/5.0") + Line("10.0.0.7", kT0 + 602, "Mozilla/5.0") +
                    Line("10.0.0.8", kT0 + 603, "Mozilla/5.0");
  const auto wallStart = std::chrono::steady_clock::now();
  ReplayReport r = Run(log);
  const auto wall = std::chrono::steady_clock::now() - wallStart;

  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  EXPECT_EQ(Answers(), (std::vector<Answer>{P, P, B, B, P, P}));
  EXPECT_EQ(r.requests, 6u);
  EXPECT_EQ(r.clients, 2u);
  EXPECT_EQ(r.passed, 4u);
  EXPECT_EQ(r.blocked, 2u);
  EXPECT_EQ(r.challenged, 0u);
  ASSERT_EQ(r.modules.size(), 1u);
  EXPECT_EQ(r.modules[0].name, "Bot");
  EXPECT_EQ(r.modules[0].firings, 1u);
  EXPECT_EQ(r.modules[0].clients, 1u);

  ASSERT_EQ(r.decisions.size(), 1u);
  const Decision& d = r.decisions[0];
  EXPECT_EQ(d.address, "10.0.0.7");
  EXPECT_EQ(d.line, 3u);
  EXPECT_EQ(d.time, kT0 + 2);
  EXPECT_EQ(d.timeText, "10/Oct/2023:13:55:38 -0700");
  EXPECT_EQ(d.source, DecisionSource::Module);
  EXPECT_EQ(d.moduleNumber, 1);
  EXPECT_EQ(d.moduleName, "Bot");
  EXPECT_EQ(d.action, Answer::Blocked);
  EXPECT_EQ(d.holdUntil, kT0 + 602);
  EXPECT_EQ(d.requests, 2u);
  // Ten minutes of log take no ten minutes to replay.
  EXPECT_LT(wall, std::chrono::seconds(60));
}

TEST_F(ReplayTest, FilterFilesCarryTheLogsLocalDates) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "1"));
  // 23:30 at -0700 is already the next day in UTC.
  const std::int64_t late = kT0 + 9 * 3600 + 34 * 60 + 24;  // 10/Oct/2023:23:30:00 -0700
  ReplayReport r = Run(Line("10.0.0.7", late, "bot"), /*keep=*/true);
  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  ASSERT_TRUE(r.scratchKept);
  const fs::path copy = r.scratchFolder;
  EXPECT_TRUE(fs::exists(copy / "Log" / "Fired_2023-10-10.log"));
  EXPECT_TRUE(fs::exists(copy / "Cache" / "2023-10-10.txt"));
  std::ifstream journal(copy / "Cache" / "2023-10-10.txt", std::ios::binary);
  std::string line;
  std::getline(journal, line);
  EXPECT_EQ(line, std::to_string(late + 600) + ",0,10.0.0.7\r");
  fs::remove_all(copy.parent_path());
}

TEST_F(ReplayTest, LinesOutOfOrderNeverTurnTheClockBack) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "3"));
  ReplayReport r = Run(Line("10.0.0.7", kT0 + 100, "bot") + Line("10.0.0.7", kT0 + 101, "bot") +
                       Line("10.0.0.7", kT0 + 50, "bot"));
  ASSERT_EQ(r.decisions.size(), 1u);
  EXPECT_EQ(r.decisions[0].holdUntil, kT0 + 101 + 600);
}

TEST_F(ReplayTest, MissingVariableWaitsCostLogTimeNotWallTime) {
  folder.AddModule("cookie.ini", AgentModule("Cookie", "1", "1", "session", "http_cookie"));
  std::string log;
  for (int i = 0; i < 40; ++i) log += Line("10.0.0." + std::to_string(i + 1), kT0 + i * 10);
  const auto wallStart = std::chrono::steady_clock::now();
  ReplayReport r = Run(log);
  const auto wall = std::chrono::steady_clock::now() - wallStart;

  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  EXPECT_EQ(r.requestsWaited, 40u);
  EXPECT_EQ(r.waitedMs, 40u * 600u);
  // With real sleeps these 40 requests would take 24 seconds.
  EXPECT_LT(wall, std::chrono::seconds(12));
  ASSERT_EQ(r.variablesNotInLog.size(), 1u);
  EXPECT_EQ(r.variablesNotInLog[0].name, "HTTP_COOKIE");
  EXPECT_EQ(r.variablesNotInLog[0].modules, std::vector<std::string>{"Cookie"});
  EXPECT_EQ(r.passed, 40u);
}

TEST_F(ReplayTest, LiveFolderIsLeftAsItWas) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "1"));
  folder.Write("LimitIP.txt", "10.9.9.9\r\n");
  folder.Write("Log/Log_2000-10-09.log", "yesterday\r\n");
  // Expired long ago: a filter reading it would delete the file.
  folder.Write("Cache/2023-01-01.txt", "1672531200,0,1.2.3.4\r\n");
  const auto before = Snapshot(folder.Root());

  ReplayReport r = Run(Line("10.0.0.7", kT0, "bot") + Line("10.9.9.9", kT0 + 1) + Line("10.0.0.8", kT0 + 2),
                       false, /*journal=*/true);
  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  EXPECT_EQ(r.blocked, 2u);
  EXPECT_EQ(Snapshot(folder.Root()), before);
  // The scratch copy is gone as well.
  EXPECT_TRUE(scratchParent.List("").empty());
}

TEST_F(ReplayTest, UnparsableLinesAreCountedAndReportedNotFatal) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "1"));
  std::string log = "no time here\n" + Line("10.0.0.7", kT0) + "\n";  // line 3 is blank
  for (int i = 0; i < 11; ++i) log += "10.0.0.9 - - [10/Oct/2023:13:55:36 -0700] \"-\" 400 0\n";  // lines 4-14
  log += Line("10.0.0.8", kT0 + 1);
  ReplayReport r = Run(log);
  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  EXPECT_EQ(r.lines, 15u);
  EXPECT_EQ(r.requests, 2u);
  EXPECT_EQ(r.unparsableCount, 12u);
  ASSERT_EQ(r.unparsable.size(), kUnparsableKept);
  EXPECT_EQ(r.unparsable[0].line, 1u);
  EXPECT_EQ(r.unparsable[0].reason, "no [time] field");
  EXPECT_EQ(r.unparsable[1].line, 4u);
  EXPECT_EQ(r.unparsable[9].line, 12u);
  EXPECT_EQ(r.first.text, "10/Oct/2023:13:55:36 -0700");
  EXPECT_EQ(r.last.text, "10/Oct/2023:13:55:37 -0700");
}

TEST_F(ReplayTest, DecisionsAreTracedToListsAndTheJournal) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "1"));
  folder.Write("LimitIP.txt", "10.9.9.0-10.9.9.9\r\n");
  // A decision journaled earlier that still holds at the log's time.
  folder.Write("Cache/2023-10-10.txt", std::to_string(kT0 + 3600) + ",0,10.8.8.8\r\n");
  const std::string log = Line("10.9.9.5", kT0) + Line("10.9.9.5", kT0 + 1) + Line("10.8.8.8", kT0 + 2) +
                          Line("2001:db8::1", kT0 + 3, "bot") + Line("2001:db8::1", kT0 + 4, "bot");
  ReplayReport r = Run(log, false, /*journal=*/true);
  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  EXPECT_EQ(Answers(), (std::vector<Answer>{B, B, B, P, P}));
  ASSERT_EQ(r.decisions.size(), 2u);
  EXPECT_EQ(r.decisions[0].source, DecisionSource::DenyList);
  EXPECT_EQ(r.decisions[0].holdUntil, 0xFFFFFFFFu);
  EXPECT_EQ(r.decisions[0].requests, 2u);
  EXPECT_EQ(r.decisions[1].source, DecisionSource::Journal);
  EXPECT_EQ(r.decisions[1].address, "10.8.8.8");
  EXPECT_EQ(r.decisions[1].holdUntil, kT0 + 3600);
  EXPECT_EQ(r.notIpv4Clients, 1u);
  EXPECT_EQ(r.notIpv4Requests, 2u);
  EXPECT_EQ(r.modules[0].firings, 0u);

  // Without --journal the journaled client is not restored.
  answers.clear();
  ReplayReport fresh = Run(log);
  EXPECT_EQ(Answers(), (std::vector<Answer>{B, B, P, P, P}));
  EXPECT_EQ(fresh.decisions.size(), 1u);

  // With IPv6Prefix the IPv6 addresses are clients like the others: both
  // addresses of one /64 are one client, a listed prefix is traced to its
  // list and a journaled prefix is restored.
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCacheMin=1\r\nDateline=3600\r\nIPv6Prefix=64\r\n");
  folder.Write("LimitIP.txt", "2001:db8:9::/48\r\n");
  folder.Write("Cache/2023-10-10.txt", std::to_string(kT0 + 3600) + ",0,2001:db8:8::/64\r\n");
  answers.clear();
  ReplayReport v6 = Run(Line("2001:db8:9::5", kT0) + Line("2001:db8:8::8", kT0 + 1) + Line("2001:db8::1", kT0 + 2, "bot") +
                            Line("2001:db8::2", kT0 + 3) + Line("fe80::1%eth0", kT0 + 4, "bot"),
                        false, /*journal=*/true);
  ASSERT_EQ(v6.status, ReplayStatus::Completed) << v6.problem;
  EXPECT_EQ(Answers(), (std::vector<Answer>{B, B, B, B, P}));
  ASSERT_EQ(v6.decisions.size(), 3u);
  EXPECT_EQ(v6.decisions[0].source, DecisionSource::DenyList);
  EXPECT_EQ(v6.decisions[1].source, DecisionSource::Journal);
  EXPECT_EQ(v6.decisions[2].source, DecisionSource::Module);
  EXPECT_EQ(v6.decisions[2].requests, 2u);  // the second address of the /64 too
  EXPECT_EQ(v6.clients, 4u);
  EXPECT_EQ(v6.notIpv4Clients, 1u);
}

TEST_F(ReplayTest, UnansweredChallengeEndsInABlockByTheSameModule) {
  folder.Write("Config.ini", "[Config]\r\nDateline=3600\r\n[Code]\r\nLength=4\r\nWidth=120\r\nheight=40\r\n");
  folder.Write("Code.html", "<img src=/Code.bmp>\r\n");
  folder.AddModule("probe.ini", AgentModule("Probe", "3", "1"));
  // Codes last 60 s; the third code that runs out blocks the client.
  ReplayReport r = Run(Line("10.0.0.7", kT0, "bot") + Line("10.0.0.7", kT0 + 61, "bot", "/Code.bmp") +
                       Line("10.0.0.7", kT0 + 122) + Line("10.0.0.7", kT0 + 183) + Line("10.0.0.7", kT0 + 184));
  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  EXPECT_EQ(Answers(), (std::vector<Answer>{C, C, C, B, B}));
  ASSERT_EQ(r.decisions.size(), 2u);
  EXPECT_EQ(r.decisions[0].action, Answer::Challenged);
  EXPECT_EQ(r.decisions[0].source, DecisionSource::Module);
  EXPECT_EQ(r.decisions[0].requests, 3u);
  EXPECT_EQ(r.decisions[1].action, Answer::Blocked);
  EXPECT_EQ(r.decisions[1].source, DecisionSource::Challenge);
  EXPECT_EQ(r.decisions[1].moduleName, "Probe");
  EXPECT_EQ(r.decisions[1].holdUntil, kT0 + 600);
  EXPECT_EQ(r.decisions[1].requests, 2u);
  EXPECT_EQ(r.challenged, 3u);
}

TEST_F(ReplayTest, FiringsAreCountedPerModuleAndPerClient) {
  ModuleText watch = AgentModule("Watch", "1", "1", "wget");
  watch.priority = "2";
  watch.setp = "1-2";
  folder.AddModule("watch.ini", watch);
  ModuleText early = AgentModule("Early", "0", "5", "never-matches");
  early.setp = "1-2";
  folder.AddModule("early.ini", early);
  ReplayReport r = Run(Line("10.0.0.1", kT0, "Wget/1.2") + Line("10.0.0.1", kT0 + 1, "Wget/1.2") +
                       Line("10.0.0.2", kT0 + 2, "Wget/1.2") + Line("10.0.0.3", kT0 + 3) +
                       Line("10.0.0.3", kT0 + 4));
  ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
  ASSERT_EQ(r.modules.size(), 2u);
  EXPECT_EQ(r.modules[0].name, "Watch");
  EXPECT_EQ(r.modules[0].firings, 3u);
  EXPECT_EQ(r.modules[0].clients, 2u);
  EXPECT_EQ(r.modules[1].firings, 0u);
  // Clients 10.0.0.1 and 10.0.0.3 leave both windows at their second request.
  EXPECT_EQ(r.allowedAfterModules, 2u);
  EXPECT_EQ(r.passed, 5u);
  EXPECT_TRUE(r.decisions.empty());
}

TEST_F(ReplayTest, FolderTheFilterWouldNotLoadOrStart) {
  struct Case {
    const char* what;
    const char* moduleText;  // nullptr: no module file
    ReplayStatus status;
    const char* message;
  };
  for (const Case& c : {Case{"no module file", nullptr, ReplayStatus::NotLoaded, messages::kNoModule},
                        Case{"no usable module", "[About]\r\nName=broken\r\n", ReplayStatus::NotStarted,
                             messages::kNoModule}}) {
    SCOPED_TRACE(c.what);
    SettingsFolder local;
    if (c.moduleText != nullptr) local.Write("Action/broken.ini", c.moduleText);
    ReplayOptions options;
    options.folder = local.Root();
    options.scratchParent = scratchParent.Path();
    std::istringstream in(Line("10.0.0.7", kT0));
    ReplayReport r = Replay(options, in, "access.log");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.ExitStatus(), 1);
    bool logged = false;
    for (const std::string& m : r.programMessages) logged |= m.find(c.message) != std::string::npos;
    EXPECT_TRUE(logged);
    EXPECT_TRUE(scratchParent.List("").empty());
  }
}

TEST_F(ReplayTest, UnusableFolderOrLog) {
  ReplayOptions options;
  options.folder = folder.Root() + "/missing";
  options.scratchParent = scratchParent.Path();
  std::istringstream log(Line("10.0.0.7", kT0));
  ReplayReport r = Replay(options, log, "access.log");
  EXPECT_EQ(r.status, ReplayStatus::Unusable);
  EXPECT_EQ(r.ExitStatus(), 2);

  folder.AddModule("bot.ini", AgentModule("Bot", "0", "1"));
  options.folder = folder.Root();
  std::istringstream gzip(std::string("\x1f\x8b\x08\x00", 4));
  r = Replay(options, gzip, "access.log.gz");
  EXPECT_EQ(r.status, ReplayStatus::Unusable);
  EXPECT_NE(r.problem.find("compressed"), std::string::npos);
}

TEST_F(ReplayTest, EmptyLogStillSaysWhetherTheFilterStarts) {
  folder.AddModule("bot.ini", AgentModule("Bot", "0", "1"));
  ReplayReport r = Run("\n\n");
  EXPECT_EQ(r.status, ReplayStatus::Completed);
  EXPECT_EQ(r.lines, 2u);
  EXPECT_EQ(r.requests, 0u);
  EXPECT_FALSE(r.hasRequests);
  EXPECT_EQ(r.modules.size(), 1u);
}

// SENTREL_CRAWLER is "unknown NAME" in a dry run unless --resolve looks the
// claims up (and waits for them, so the first request already sees the verdict).
TEST_F(ReplayTest, CrawlerClaimsAreUnknownUnlessResolved) {
  using test::DnsResponder;
  DnsResponder dns;
  DnsResponder::Answer ptr;
  ptr.names = {DnsResponder::Labels("crawl.example.net")};
  dns.Set(DnsResponder::ReverseName("10.0.0.9"), DnsResponder::Type::PTR, ptr);
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCrawlerResolver=" + dns.Server() + "\r\n");
  folder.Write("Crawlers.txt", "google|googlebot|googlebot.com\r\n");
  folder.AddModule("fake.ini", AgentModule("Fake", "0", "1", "^fake google$", "sentrel_crawler"));
  const std::string log = Line("10.0.0.9", kT0, "Googlebot/2.1") + Line("10.0.0.9", kT0 + 1, "Googlebot/2.1");
  struct Case {
    bool resolve;
    std::vector<Answer> answers;
    std::uint64_t fake;
    int queries;
  };
  for (const Case& c : {Case{false, {P, P}, 0, 0}, Case{true, {B, B}, 1, 1}}) {
    SCOPED_TRACE(c.resolve ? "--resolve" : "without --resolve");
    answers.clear();
    resolve = c.resolve;
    const ReplayReport r = Run(log);
    ASSERT_EQ(r.status, ReplayStatus::Completed) << r.problem;
    EXPECT_EQ(Answers(), c.answers);
    EXPECT_TRUE(r.variablesNotInLog.empty());  // computed by the filter, never missing
    EXPECT_TRUE(r.crawlersListed);
    EXPECT_EQ(r.crawlersResolved, c.resolve);
    EXPECT_EQ(r.crawlersFake, c.fake);
    EXPECT_EQ(dns.Queries(DnsResponder::ReverseName("10.0.0.9"), DnsResponder::Type::PTR), c.queries);
    EXPECT_NE(FormatTextReport(r, false).find(c.resolve ? "SENTREL_CRAWLER was looked up in DNS (--resolve): 0 verified, 1 fake, 0 unknown."
                                                        : "SENTREL_CRAWLER is \"unknown NAME\" for every claim"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace sentrel::replay
