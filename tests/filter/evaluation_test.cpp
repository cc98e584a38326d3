// Request evaluation end to end: a settings folder on disk, a filter instance
// on a fake clock, the start-up completed through end-of-session
// notifications, and requests through the test host. The scenarios that
// depend on the client's address run for IPv4 clients and again for IPv6
// clients (IPv6Prefix=64), each IPv4 address standing for an address in a
// /64 of its own.
#include <gtest/gtest.h>

#include <cstdio>

#include "filter/logging/program_messages.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using test::FilterUnderTest;
using test::ModuleText;
using test::SettingsFolder;

ModuleText BotModule() {
  ModuleText m;
  m.name = "Bot";
  m.execute = "0";
  m.setp = "0";
  m.dateline = "600";
  m.logName = "Bots";
  m.logContent = "fired {S(REMOTE_ADDR)}";
  ModuleText::StepText s;
  s.times = "3";
  s.logName = "Steps";
  s.logContent = "step {S(HTTP_USER_AGENT)}";
  s.rules.push_back({"http_user_agent", "1", "bot"});
  m.steps.push_back(s);
  return m;
}

enum class Family { IPv4, IPv6 };

class Evaluation : public ::testing::Test {
 protected:
  SettingsFolder folder;
  std::unique_ptr<FilterUnderTest> f;
  Family family = Family::IPv4;

  void SetUp() override {
    Config("LogMin=1\r\nCacheMin=1\r\nDateline=3600\r\n");
    folder.Write("Return.html", "<h1>Blocked</h1>\r\n");
  }
  // Writes Config.ini with these keys (and IPv6Prefix=64 for IPv6 clients).
  void Config(const std::string& keys) {
    folder.Write("Config.ini", "[Config]\r\n" + keys + (family == Family::IPv6 ? "IPv6Prefix=64\r\n" : ""));
  }
  // The text for this family's clients.
  const char* Pick(const char* ipv4, const char* ipv6) const { return family == Family::IPv4 ? ipv4 : ipv6; }
  // The client address standing for "a.b.c.d": itself, or 2001:db8:b:cd::a
  // in a /64 of its own.
  std::string A(const std::string& ipv4) const {
    if (family == Family::IPv4) return ipv4;
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(ipv4.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    char text[64];
    std::snprintf(text, sizeof(text), "2001:db8:%x:%x::%x", b, c * 256 + d, a);
    return text;
  }
  void Start() {
    f = std::make_unique<FilterUnderTest>(folder);
    ASSERT_EQ(f->host.Load(), TRUE);
    f->CompleteStartup();
    ASSERT_FALSE(f->filter.StartupPending());
  }
  DWORD Ua(const std::string& agent, const std::string& address = "10.0.0.7") {
    return f->Request(A(address), {{"HTTP_USER_AGENT", agent}});
  }
  DWORD Get(const std::string& address, std::map<std::string, std::string> variables = {}) {
    return f->Request(A(address), std::move(variables));
  }
  ClientTally& Client(const std::string& address = "10.0.0.7") {
    return *f->filter.Clients().Find(ReadClientAddress(A(address), f->filter.Settings().IPv6Prefix));
  }
  std::string Log(const std::string& name) {
    return folder.Read("Log/" + name + "_" + f->clock.FormatNow("%Y-%m-%d") + ".log");
  }
  std::string Journal() { return folder.Read("Cache/" + f->clock.FormatNow("%Y-%m-%d") + ".txt"); }
};

class EvaluationOf : public Evaluation, public ::testing::WithParamInterface<Family> {
 protected:
  void SetUp() override {
    family = GetParam();
    Evaluation::SetUp();
  }
};

INSTANTIATE_TEST_SUITE_P(Clients, EvaluationOf, ::testing::Values(Family::IPv4, Family::IPv6),
                         [](const auto& info) { return info.param == Family::IPv4 ? "IPv4" : "IPv6"; });

TEST_P(EvaluationOf, BotBlockedAtItsThirdRequestForTheHold) {
  folder.AddModule("bot.ini", BotModule());
  Start();
  EXPECT_EQ(Ua("GoodBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("GoodBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Log("Steps"), "");
  EXPECT_EQ(Ua("GoodBot/1.0"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f->last->statusLine, "404 Object Not Found");
  EXPECT_EQ(f->last->body, "<h1>Blocked</h1>\n");
  EXPECT_EQ(Log("Steps"), "STEP GoodBot/1.0\r\n");
  // The log shows the address as the server gave it, the journal the client.
  EXPECT_EQ(Log("Bots"), "FIRED " + A("10.0.0.7") + "\r\n");
  const std::uint32_t hold = static_cast<std::uint32_t>(f->clock.Now() + 600);
  EXPECT_EQ(Journal(), std::to_string(hold) + Pick(",0,10.0.0.7\r\n", ",0,2001:db8:0:7::/64\r\n"));
  EXPECT_EQ(Client().holdUntil.load(), hold);

  // On hold: answered from the state alone, not evaluated.
  f->clock.Advance(599);
  EXPECT_EQ(Ua("Mozilla/5.0"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Client().requestCount, 4u);

  // After the hold the next request is request 1 again, from step 1.
  f->clock.Advance(1);
  EXPECT_EQ(Ua("GoodBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client().state.load(), ClientState::Normal);
  EXPECT_EQ(Client().requestCount, 2u);
  EXPECT_EQ(Ua("GoodBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("GoodBot/1.0"), SF_STATUS_REQ_FINISHED);
}

TEST_P(EvaluationOf, NonMatchingRequestRestartsTheCount) {
  folder.AddModule("bot.ini", BotModule());
  Start();
  Ua("bot");
  Ua("bot");
  Ua("Mozilla");  // ends the attempt; the module re-arms
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_FINISHED);
}

TEST_P(EvaluationOf, ValuesAreLowerCasedPatternsAreNot) {
  ModuleText upper = BotModule();
  upper.steps[0].rules[0].pattern = "Bot";
  upper.steps[0].times = "1";
  folder.AddModule("upper.ini", upper);
  ModuleText lower = BotModule();
  lower.steps[0].times = "1";
  lower.execute = "2";  // allow
  folder.AddModule("lower.ini", lower);
  Start();
  EXPECT_EQ(Ua("BOT", "10.0.0.1"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client("10.0.0.1").state.load(), ClientState::Allowed);  // "bot" matched "BOT"
}

TEST_P(EvaluationOf, TwoStepModuleEndsStepOneBelowItsHigh) {
  ModuleText m;
  m.logName = "Mod";
  m.logContent = "module";
  ModuleText::StepText s1;
  s1.times = "2-5";
  s1.logName = "S1";
  s1.logContent = "one";
  s1.rules.push_back({"URL", "1", "^/list"});
  ModuleText::StepText s2;
  s2.times = "1";
  s2.logName = "S2";
  s2.logContent = "two";
  s2.rules.push_back({"URL", "1", "^/item"});
  m.steps = {s1, s2};
  folder.AddModule("m.ini", m);
  Start();
  auto get = [&](const char* url, const char* address) { return Get(address, {{"URL", url}}); };
  EXPECT_EQ(get("/list", "10.0.0.1"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(get("/list", "10.0.0.1"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(get("/item", "10.0.0.1"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Log("S1"), "");
  EXPECT_EQ(Log("S2"), "TWO\r\n");
  EXPECT_EQ(Log("Mod"), "MODULE\r\n");

  // One match of step 1, then a failure: the attempt ends and re-arms.
  EXPECT_EQ(get("/list", "10.0.0.2"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(get("/item", "10.0.0.2"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(get("/item", "10.0.0.2"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client("10.0.0.2").state.load(), ClientState::Normal);
}

TEST_P(EvaluationOf, SingleStepRangeReArmsWithTheFailingRequestCounted) {
  ModuleText m = BotModule();
  m.steps[0].times = "2-5";
  folder.AddModule("m.ini", m);
  Start();
  Ua("bot");
  Ua("bot");
  EXPECT_EQ(Ua("Mozilla"), SF_STATUS_REQ_NEXT_NOTIFICATION);  // counts as the first hit again
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_FINISHED);  // the fourth matching request after it
}

TEST_P(EvaluationOf, LogOnlyModuleLetsLaterModulesRun) {
  ModuleText logOnly = BotModule();
  logOnly.execute = "1";
  logOnly.priority = "2";
  logOnly.steps[0].times = "1";
  logOnly.logName = "Seen";
  logOnly.logContent = "seen";
  folder.AddModule("a.ini", logOnly);
  ModuleText block = BotModule();
  block.steps[0].times = "1";
  folder.AddModule("b.ini", block);
  Start();
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Log("Seen"), "SEEN\r\n");
  EXPECT_EQ(Log("Bots"), "FIRED " + A("10.0.0.7") + "\r\n");
}

TEST_P(EvaluationOf, PictureCodeActionWithAndWithoutCodePage) {
  ModuleText m = BotModule();
  m.execute = "3";
  m.steps[0].times = "1";
  folder.AddModule("m.ini", m);
  {
    Start();  // no Code.html: the action is read as a block
    EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_FINISHED);
    EXPECT_EQ(Client().state.load(), ClientState::Blocked);
  }
  folder.Write("Code.html", "<form>code</form>\r\n");
  folder.Folder().Remove("site/Cache");  // no journal restore across the two loads
  folder.Folder().MakeFolder("site/Cache");
  Start();
  EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Client().state.load(), ClientState::PictureCode);
  EXPECT_EQ(f->last->body, "<form>code</form>\n");
  EXPECT_EQ(Journal(), "");  // challenged clients are not journaled
}

TEST_P(EvaluationOf, RequestWindowAndFinalAllow) {
  ModuleText m = BotModule();
  m.setp = "5-10";
  m.steps[0].times = "1-6";  // reach 5 + 6: the request cap does not cut in first
  m.steps[0].rules[0] = {"URL", "1", "never-there"};
  folder.AddModule("m.ini", m);
  Start();
  ASSERT_EQ(f->filter.Registry().requestCap, 11u);
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(Get("10.0.0.7", {{"URL", "/"}}), SF_STATUS_REQ_NEXT_NOTIFICATION);
    EXPECT_EQ(Client().state.load(), ClientState::Normal) << i;
  }
  // Request 10 is past the re-arm window: every module is finished.
  EXPECT_EQ(Get("10.0.0.7", {{"URL", "/"}}), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(Client().state.load(), ClientState::Allowed);
  const std::uint32_t hold = static_cast<std::uint32_t>(f->clock.Now() + 3600);
  EXPECT_EQ(Client().holdUntil.load(), hold);
  EXPECT_EQ(Journal(), std::to_string(hold) + Pick(",2,10.0.0.7\r\n", ",2,2001:db8:0:7::/64\r\n"));
}

TEST_F(Evaluation, EmptyPatternRules) {
  struct Case {
    const char* compare;
    bool present;
    const char* value;
    bool holds;
  } cases[] = {
      {"1", true, "", true},  {"1", false, "", true},   {"1", true, "x", false},
      {"0", true, "x", true}, {"0", true, "", false},   {"0", false, "", false},
  };
  int i = 0;
  for (const auto& c : cases) {
    ModuleText m = BotModule();
    m.steps[0].times = "1";
    m.steps[0].rules[0] = {"HTTP_X_TEST", c.compare, ""};
    m.priority = "1";
    m.name = "case" + std::to_string(i);
    folder.AddModule("m.ini", m);
    Start();
    std::map<std::string, std::string> vars;
    if (c.present) vars["HTTP_X_TEST"] = c.value;
    DWORD status = f->Request("10.0.1." + std::to_string(++i), vars);
    EXPECT_EQ(status == SF_STATUS_REQ_FINISHED, c.holds)
        << "compare " << c.compare << " present " << c.present << " value '" << c.value << "'";
    folder.Folder().Remove("site/Cache");
    folder.Folder().MakeFolder("site/Cache");
  }
}

TEST_F(Evaluation, MissingVariableRetriesAreSharedByTheRequest) {
  ModuleText m = BotModule();
  m.steps[0].times = "1";
  m.steps[0].rules = {{"HTTP_X_ONE", "1", "a"}};
  folder.AddModule("a.ini", m);
  ModuleText m2 = m;
  m2.steps[0].rules = {{"HTTP_X_TWO", "1", "b"}};
  folder.AddModule("b.ini", m2);
  Start();
  testhost::TestRequest* r = nullptr;
  const std::uint64_t before = f->clock.SleptMs();
  EXPECT_EQ(f->Request("10.0.0.7", {}, &r), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(f->clock.SleptMs() - before, 600u);  // two waits, on the first rule only
  EXPECT_EQ(r->LookupsOf("HTTP_X_ONE"), 3);
  EXPECT_EQ(r->LookupsOf("HTTP_X_TWO"), 1);
  const std::string log = Log("Log");
  std::size_t count = 0;
  for (std::size_t at = log.find("No SV2"); at != std::string::npos; at = log.find("No SV2", at + 1)) ++count;
  EXPECT_EQ(count, 2u);

  // A variable that appears on the retry is found.
  int calls = 0;
  testhost::TestRequest late(std::map<std::string, std::string>{{"REMOTE_ADDR", "10.0.0.9"}});
  late.onGetServerVariable = [&](const std::string& name) {
    if (name == "HTTP_X_ONE" && ++calls == 2) late.Variables()["HTTP_X_ONE"] = "a";
  };
  EXPECT_EQ(f->host.Request(late), SF_STATUS_REQ_FINISHED);
}

TEST_F(Evaluation, OneServerCallPerVariable) {
  ModuleText m = BotModule();
  m.steps[0].times = "5";
  m.steps[0].rules = {{"HTTP_USER_AGENT", "1", "bot"}, {"HTTP_USER_AGENT", "0", "good"}};
  m.steps[0].logContent = "{S(HTTP_USER_AGENT)}";
  folder.AddModule("m.ini", m);
  Start();
  testhost::TestRequest* r = nullptr;
  f->Request("10.0.0.7", {{"HTTP_USER_AGENT", "badbot"}}, &r);
  EXPECT_EQ(r->LookupsOf("HTTP_USER_AGENT"), 1);
  EXPECT_EQ(r->LookupsOf("REMOTE_ADDR"), 1);  // by the address check only
}

TEST_P(EvaluationOf, RequestCapStopsEvaluation) {
  ModuleText far = BotModule();  // reach 10 + 2 = 12
  far.name = "far";
  far.setp = "10";
  far.steps[0].times = "2";
  far.steps[0].rules[0] = {"URL", "1", "^/far"};
  folder.AddModule("far.ini", far);
  ModuleText near = BotModule();  // reach 1 + 1, re-armed up to request 19
  near.name = "near";
  near.setp = "1-20";
  near.steps[0].times = "1";
  near.steps[0].rules[0] = {"URL", "1", "^/y"};
  folder.AddModule("near.ini", near);
  Start();
  ASSERT_EQ(f->filter.Registry().requestCap, 12u);

  for (int i = 1; i <= 10; ++i) Get("10.0.0.7", {{"URL", "/"}});
  EXPECT_EQ(Get("10.0.0.7", {{"URL", "/y"}}), SF_STATUS_REQ_FINISHED);  // request 11 fires

  for (int i = 1; i <= 11; ++i) Get("10.0.0.8", {{"URL", "/"}});
  // From request 12 on the client is only counted: nothing fires.
  for (int i = 12; i <= 20; ++i) {
    EXPECT_EQ(Get("10.0.0.8", {{"URL", "/y"}}), SF_STATUS_REQ_NEXT_NOTIFICATION) << i;
  }
  EXPECT_EQ(Client("10.0.0.8").requestCount, 21u);
  EXPECT_EQ(Client("10.0.0.8").state.load(), ClientState::Normal);
}

TEST_P(EvaluationOf, ListedClientsAreAnsweredWithoutEvaluation) {
  folder.AddModule("bot.ini", BotModule());
  folder.Write("LimitIP.txt", Pick("10.0.2.*\r\n10.0.3.1\r\n", "2001:db8:0:200::/56\r\n2001:db8:0:301::99\r\n"));
  folder.Write("UnLimitIP.txt", Pick("10.0.3.1-10.0.3.9\r\n", "2001:db8:0:300::/60\r\n"));
  Start();
  testhost::TestRequest* r = nullptr;
  EXPECT_EQ(f->Request(A("10.0.2.77"), {{"HTTP_USER_AGENT", "x"}}, &r), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(r->LookupsOf("HTTP_USER_AGENT"), 0);
  EXPECT_EQ(Client("10.0.2.77").requestCount, 1u);
  EXPECT_EQ(Ua("bot", "10.0.3.1"), SF_STATUS_REQ_FINISHED);  // on both: blocked
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Ua("bot", "10.0.3.2"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  }
}

// Texts that are no usable address pass unevaluated, are never journaled and
// make no record, however often they come.
TEST_P(EvaluationOf, UnusableAddressesPassWithoutARecord) {
  ModuleText bot = BotModule();
  bot.steps[0].times = "1";
  folder.AddModule("bot.ini", bot);
  Start();
  const std::string overLong = "2001:0db8:0000:0000:0000:0000:0000:0007" + std::string(30, '0');
  std::vector<std::string> addresses = {"255.255.255.255", "0.0.0.0", "", "10.0.0.1.5", "fe80::1%eth0",
                                        "1::2::3", ":::", "1:2:3:4:5:6:7:8:9", "2001:db8::g", "::",
                                        "::ffff:0.0.0.0", overLong, overLong.substr(0, 50)};
  if (family == Family::IPv4) addresses.insert(addresses.end(), {"::1", "2001:db8::7", "::ffff:10.0.0.7"});
  for (const std::string& address : addresses) {
    EXPECT_EQ(f->Request(address, {{"HTTP_USER_AGENT", "bot"}}), SF_STATUS_REQ_NEXT_NOTIFICATION) << address;
  }
  EXPECT_EQ(f->filter.Clients().ClientCount(), 0u);
  EXPECT_EQ(Journal(), "");
  testhost::TestRequest noAddress;
  EXPECT_EQ(f->host.Request(noAddress), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(noAddress.LookupsOf("REMOTE_ADDR"), 2);  // asked twice
}

TEST_P(EvaluationOf, JournaledBlockSurvivesAReload) {
  Config("LogMin=1\r\nCacheMin=5\r\n");
  folder.Write("UnLimitIP.txt", A("10.0.0.7") + "\r\n");
  folder.AddModule("bot.ini", BotModule());
  Start();
  EXPECT_EQ(Ua("bot", "10.0.0.7"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  for (int i = 0; i < 3; ++i) Ua("bot", "10.0.0.8");
  EXPECT_EQ(Client("10.0.0.8").state.load(), ClientState::Blocked);
  EXPECT_EQ(Journal(), "");  // pending: below CacheMin
  // A journaled block of the listed address, written by an earlier run.
  folder.Write("Cache/earlier.txt",
               std::to_string(f->clock.Now() + 900) + Pick(",0,10.0.0.7\r\n", ",0,2001:db8:0:7::/64\r\n"));
  f->host.Unload();  // writes the pending line
  std::int64_t now = f->clock.Now();

  f = std::make_unique<FilterUnderTest>(folder, now + 60);
  ASSERT_EQ(f->host.Load(), TRUE);
  f->CompleteStartup();
  EXPECT_EQ(Ua("Mozilla", "10.0.0.8"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(Ua("Mozilla", "10.0.0.7"), SF_STATUS_REQ_FINISHED);  // the journal wins over the list
}

// Two addresses of one /64 are one client at IPv6Prefix=64 and two at 128;
// an IPv4-mapped address is the IPv4 client, journaled by its dotted form
// and shown in log lines as the server gave it.
TEST_F(Evaluation, Ipv6PrefixGroupsAddressesAndMappedAddressesAreIpv4) {
  folder.AddModule("bot.ini", BotModule());
  for (const char* prefix : {"64", "128"}) {
    Config(std::string("LogMin=1\r\nCacheMin=1\r\nIPv6Prefix=") + prefix + "\r\n");
    Start();
    Ua("bot", "2001:db8:0:7::1");
    Ua("bot", "2001:db8:0:7:ffff::2");
    const bool one = std::string(prefix) == "64";
    EXPECT_EQ(Ua("bot", "2001:db8:0:7::1"), one ? SF_STATUS_REQ_FINISHED : SF_STATUS_REQ_NEXT_NOTIFICATION) << prefix;
    EXPECT_EQ(f->filter.Clients().ClientCount(), one ? 1u : 2u) << prefix;
  }
  EXPECT_NE(Journal().find(",0,2001:db8:0:7::/64\r\n"), std::string::npos) << Journal();

  Ua("bot", "::ffff:10.0.0.9");
  Ua("bot", "10.0.0.9");
  EXPECT_EQ(Ua("bot", "::FFFF:a00:9"), SF_STATUS_REQ_FINISHED);
  EXPECT_NE(Journal().find(",0,10.0.0.9\r\n"), std::string::npos) << Journal();
  EXPECT_NE(Log("Bots").find("FIRED ::FFFF:a00:9\r\n"), std::string::npos) << Log("Bots");
}

TEST_F(Evaluation, HaltedStartupNeverEvaluates) {
  folder.Write("Action/bad.ini", "[About]\r\nVersion=4.3.1\r\n");
  f = std::make_unique<FilterUnderTest>(folder);
  ASSERT_EQ(f->host.Load(), TRUE);
  f->CompleteStartup(20);
  EXPECT_TRUE(f->filter.StartupPending());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Ua("bot"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  const std::string log = Log("Log");
  EXPECT_EQ(log.find(messages::kNoModule), log.rfind(messages::kNoModule));  // once
  EXPECT_NE(log.find(messages::kNoModule), std::string::npos);
}

TEST_F(Evaluation, StagesRunAboutFourSecondsApartWithMessages) {
  folder.AddModule("bot.ini", BotModule());
  f = std::make_unique<FilterUnderTest>(folder);
  ASSERT_EQ(f->host.Load(), TRUE);
  int notifications = 0;
  while (f->filter.StartupPending() && notifications < 30) {
    f->clock.Advance(1);
    f->host.EndOfSession();
    ++notifications;
  }
  EXPECT_EQ(notifications, 16);  // four stages, each due after more than 3 seconds
  const std::string log = Log("Log");
  EXPECT_NE(log.find(messages::kStarting), std::string::npos);
  EXPECT_NE(log.find(messages::kStarted), std::string::npos);
  EXPECT_NE(log.find(std::string("Bot\t") + (messages::kModuleReadFormat + 3)), std::string::npos);
}

}  // namespace
}  // namespace sentrel
