// `sentrel lint`: the report on a settings folder and the exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/settings/module_fixtures.h"
#include "tests/support/redis_server.h"
#include "tests/support/run_program.h"

namespace sentrel {
namespace {

using test::IniText;
using test::SimpleModule;
using test::ProgramResult;
using test::TempFolder;

// `sentrel` with the arguments, as an administrator runs it.
ProgramResult Sentrel(const std::vector<std::string>& arguments) {
  return test::RunProgram(SENTREL_TOOL, arguments);
}

class LintTest : public ::testing::Test {
 protected:
  ProgramResult Lint() { return Sentrel({"lint", folder_.Path()}); }
  std::string Action(const std::string& name) { return folder_.Path() + "/Action/" + name; }

  TempFolder folder_;
};

TEST_F(LintTest, ReportsEachFileInLoadOrderAndTheSettings) {
  folder_.Write("Config.ini",
                "[Config]\r\nDateline=999999\r\nLogMin=7\r\nMaxClients=-3\r\nMetricsPath=/m\r\n"
                "MetricsAllow=10.0.0.1, x\r\n[Code]\r\nLength=0\r\n");
  folder_.Write("Return.html", "<p>no</p>\r\n");
  // Name in the code page: "Good" and 模块.
  folder_.Write("Action/zgood.ini",
                SimpleModule("Good \xc4\xa3\xbf\xe9", "2", {"1-5"})
                    .Set("Config", "Priority", "2")
                    .Set("Cofing", "Execute", "3")
                    .Text());
  folder_.Write("Action/old.ini", SimpleModule("Old", "1", {"1"}).Set("About", "Version", "4.2").Text());
  folder_.Write("Action/sub/zero.ini", SimpleModule("Zero", "1", {"0"}).Text());

  ProgramResult r = Lint();
  EXPECT_EQ(r.status, 0) << r.Output();
  const std::string& out = r.Output();

  const auto good = out.find("  " + Action("zgood.ini") + ": loaded as module 1: Good \xe6\xa8\xa1\xe5\x9d\x97\n");
  const auto old = out.find("  " + Action("old.ini") +
                            ": skipped: [About] Version=\"4.2\": the version is not 4.3.0\n");
  const auto zero = out.find("  " + Action("sub/zero.ini") +
                             ": skipped: step 1 [S1] Times=\"0\": the step's match count is not a "
                             "valid range (the upper bound must be 1 or more)\n");
  ASSERT_NE(good, std::string::npos) << out;
  ASSERT_NE(old, std::string::npos) << out;
  ASSERT_NE(zero, std::string::npos) << out;
  // Priority 2 first, then the others in scan order (a sub-folder in place).
  EXPECT_LT(good, old);
  EXPECT_LT(old, zero);

  // The picture code is disabled, so the action 3 acts as 0.
  EXPECT_NE(out.find("    note: [Cofing] Execute=\"3\": action 3 (picture code) acts as 0"),
            std::string::npos) << out;

  // Effective settings after their clamps, and the cap: 2 + 5.
  EXPECT_NE(out.find("  Dateline: 86400\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  LogMin: 7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  MaxClients: 4000000\n"), std::string::npos) << out;  // the default in force
  EXPECT_NE(out.find("  IPv6Prefix: 0 (IPv6 clients pass unevaluated)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  picture code: disabled\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Return page: 10 bytes\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  metrics page: /m, for 127.0.0.1 only: MetricsAllow is refused at the entry \"x\"\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("  requestCap: 7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("result: the filter would load with 1 of 3 module files\n"), std::string::npos)
      << out;
}

TEST_F(LintTest, EveryFileRefusedWouldNotLoad) {
  folder_.Write("Action/a.ini", IniText{}.Set("About", "Version", "4.3.0").Text());
  folder_.Write("Action/b.ini", std::string("\x00\xff[\x01=\n", 6));
  ProgramResult r = Lint();
  EXPECT_EQ(r.status, 1) << r.Output();
  EXPECT_NE(r.Output().find(Action("a.ini") + ": skipped: [Cofing] Execute (missing): "),
            std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find(Action("b.ini") + ": skipped: [About] Version (missing)"),
            std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("  every module file is refused\n"), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("requestCap: none"), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("  metrics page: off\n"), std::string::npos) << r.Output();
}

TEST_F(LintTest, NoModuleFileWouldNotLoad) {
  folder_.Write("Action/readme.txt", "not a module");
  folder_.Write("Action/GUARD.INI", SimpleModule("Caps", "1", {"1"}).Text());
  ProgramResult r = Lint();
  EXPECT_EQ(r.status, 1) << r.Output();
  EXPECT_NE(r.Output().find("modules (0 files in "), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("no module file"), std::string::npos) << r.Output();

  std::filesystem::remove_all(folder_.Path() + "/Action");
  r = Lint();
  EXPECT_EQ(r.status, 1) << r.Output();
  EXPECT_NE(r.Output().find("the module folder cannot be listed"), std::string::npos) << r.Output();
}

TEST_F(LintTest, MoreThan64FilesWouldNotLoad) {
  for (int i = 0; i < 64; ++i) {
    folder_.Write("Action/m" + std::to_string(100 + i) + ".ini",
                  SimpleModule("M" + std::to_string(i), "1", {"1"}).Text());
  }
  ProgramResult r = Lint();
  EXPECT_EQ(r.status, 0) << r.Output();
  EXPECT_NE(r.Output().find("loaded as module 64: M63\n"), std::string::npos) << r.Output();

  // The 65th file counts although it is unusable.
  folder_.Write("Action/sub/broken.ini", "garbage");
  r = Lint();
  EXPECT_EQ(r.status, 1) << r.Output();
  EXPECT_NE(r.Output().find("  65 module files, more than 64\n"), std::string::npos) << r.Output();
}

TEST(LintUsage, ExitStatus) {
  EXPECT_EQ(Sentrel({"lint"}).status, 2);
  EXPECT_EQ(Sentrel({"lint", "a", "b"}).status, 2);
  EXPECT_EQ(Sentrel({"lint", "--verbose"}).status, 2);
  EXPECT_EQ(Sentrel({"lint", ""}).status, 2);
  ProgramResult help = Sentrel({"lint", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.Output().find("usage: sentrel lint FOLDER"), std::string::npos);

  ProgramResult missing = Sentrel({"lint", "/nonexistent/sentrel/folder"});
  EXPECT_EQ(missing.status, 1) << missing.Output();
  EXPECT_NE(missing.Output().find("not an existing folder"), std::string::npos) << missing.Output();
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

TEST_F(LintTest, AddressListLinesWithTheirCoverageOrReason) {
  folder_.Write("Action/a.ini", SimpleModule("A", "1", {"1"}).Text());
  folder_.Write("LimitIP.txt", "10.0.0.1\r\n\r\n10.0.0.9 bad\r\n10.0.1.*\r\n1.2.3.*-1.2.4.*\r\n");
  folder_.Write("UnLimitIP.txt",
                "127.255.255.250-128.0.0.5\n10.0.0.7-10.0.0.5\n2001:DB8::7\n2001:db8:1::/48\n2001:db8::1-2001:db8::9\n");
  folder_.Write("Config.ini", "[Config]\r\nIPv6Prefix=64\r\n");
  ProgramResult r = Lint();
  EXPECT_EQ(r.status, 0) << r.Output();
  const auto allow = r.Output().find("  UnLimitIP.txt (always let through): 4 lines accepted, 1 skipped; "
                                   "the accepted lines cover 12 IPv4 addresses and 2 IPv6 entries\n");
  const auto deny = r.Output().find("  LimitIP.txt (always refused): 2 lines accepted, 2 skipped; "
                                  "the accepted lines cover 257 IPv4 addresses\n");
  ASSERT_NE(allow, std::string::npos) << r.Output();
  ASSERT_NE(deny, std::string::npos) << r.Output();
  EXPECT_LT(allow, deny);
  EXPECT_NE(r.Output().find("    line 1: 127.255.255.250-128.0.0.5: 12 addresses\n"), std::string::npos);
  EXPECT_NE(r.Output().find("    line 2: 10.0.0.7-10.0.0.5: 0 addresses (range ends before it starts"),
            std::string::npos);
  EXPECT_NE(r.Output().find("    line 3: \"10.0.0.9 bad\": skipped: "), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("    line 3: 2001:DB8::7: IPv6 address 2001:db8::7 (lists the whole /64 client it lies in)\n"),
            std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("    line 4: 2001:db8:1::/48: IPv6 prefix 2001:db8:1::/48 (2001:db8:1:: to "
                            "2001:db8:1:ffff:ffff:ffff:ffff:ffff)\n"),
            std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("    line 5: \"2001:db8::1-2001:db8::9\": skipped: not an IPv6 address or prefix"),
            std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("  IPv6Prefix: 64 (IPv6 clients tracked by their /64)\n"), std::string::npos);
  EXPECT_NE(r.Output().find("    line 5: \"1.2.3.*-1.2.4.*\": skipped: "), std::string::npos) << r.Output();
  EXPECT_EQ(r.Output().find("line 2: \"\""), std::string::npos);  // empty lines are not reported

  std::filesystem::remove(folder_.Path() + "/UnLimitIP.txt");
  r = Lint();
  EXPECT_NE(r.Output().find("  UnLimitIP.txt (always let through): missing, an empty list\n"),
            std::string::npos) << r.Output();
}

TEST_F(LintTest, CrawlerLinesAndTheResolver) {
  folder_.Write("Action/a.ini", SimpleModule("A", "1", {"1"}).Text());
  ProgramResult r = Lint();
  EXPECT_NE(r.Output().find("  Crawlers.txt: missing; SENTREL_CRAWLER is empty for every request\n"),
            std::string::npos) << r.Output();

  folder_.Write("Crawlers.txt", "; remark\r\n\r\ngoogle|GoogleBot|.googlebot.com,google.com.\r\nbing|bingbot|com\r\n");
  struct Case {
    const char* resolver;
    const char* line;
  };
  for (const Case& c : {Case{"", "  resolver: the system's DNS servers\n"},
                        Case{"127.0.0.1:5353", "  resolver: 127.0.0.1:5353 (CrawlerResolver)\n"},
                        Case{"[::1]:53", "  resolver: [::1]:53 (CrawlerResolver)\n"},
                        Case{"127.0.0.1:99999", "  resolver: the system's DNS servers: CrawlerResolver "
                                                "\"127.0.0.1:99999\" is not address:port\n"},
                        Case{"dns.example:53", "is not address:port\n"}}) {
    SCOPED_TRACE(c.resolver);
    folder_.Write("Config.ini", std::string("[Config]\r\nCrawlerResolver=") + c.resolver + "\r\n");
    r = Lint();
    EXPECT_EQ(r.status, 0) << r.Output();
    const std::string out = r.Output();
    const auto head = out.find("crawlers (Crawlers.txt, for SENTREL_CRAWLER):\n"
                               "  Crawlers.txt: 1 crawler accepted, 1 skipped\n"
                               "    line 3: google: token \"googlebot\", suffixes googlebot.com, google.com\n"
                               "    line 4: \"bing|bingbot|com\": skipped: the suffix \"com\" is a single label");
    EXPECT_NE(head, std::string::npos) << out;
    EXPECT_NE(out.find(c.line, head), std::string::npos) << out;
  }
}

// Section Share: shown with the password hidden, and whether the server
// answers; a server that does not answer keeps nothing from loading.
TEST_F(LintTest, ShowsTheShareSettingsAndWhetherTheServerAnswers) {
  test::RedisServer redis;
  SENTREL_NEED_REDIS(redis);
  folder_.Write("Action/a.ini", SimpleModule("A", "1", {"1"}).Text());
  struct Case {
    std::string share;
    std::string expected;
  } cases[] = {
      {"", "  off (no Server)\n"},
      {"Server=" + redis.Address() + "\r\nPrefix=site1\r\nDatabase=3\r\n",
       "  Server: " + redis.Address() + "\n  Password: none\n  Prefix: site1\n  Database: 3\n"
       "  the server answers: PONG in "},
      {"Server=" + redis.Address() + "\r\nPassword=s3cret\r\n",
       "  Password: set (not shown)\n  Prefix: sentrel\n  Database: 0\n  the server does not answer: ERR AUTH"},
      // An empty Prefix is the default, a negative Database 0.
      {"Server=127.0.0.1:99999\r\nPrefix=\r\nDatabase=-2\r\n",
       "  Prefix: sentrel\n  Database: 0\n  the server does not answer: Server is not host:port or a socket path"},
  };
  for (const Case& c : cases) {
    folder_.Write("Config.ini", "[Share]\r\n" + c.share);
    ProgramResult r = Lint();
    EXPECT_EQ(r.status, 0) << r.Output();
    EXPECT_NE(r.out.find("\nsharing (section Share):\n"), std::string::npos) << r.Output();
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.Output();
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << r.Output();
  }
  redis.Kill();
  folder_.Write("Config.ini", "[Share]\r\nServer=" + redis.Address() + "\r\n");
  ProgramResult r = Lint();
  EXPECT_EQ(r.status, 0) << r.Output();
  EXPECT_NE(r.out.find("  the server does not answer: Connection refused (the filter would run without sharing"),
            std::string::npos)
      << r.Output();
}

}  // namespace
}  // namespace sentrel
