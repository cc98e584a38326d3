// `sentrel replay` as administrators run it: the built tool, its output and
// its exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/filter_under_test.h"
#include "tests/support/redis_server.h"
#include "tests/support/run_program.h"
#include "tests/tools/json_reader.h"

namespace sentrel {
namespace {

using test::ModuleText;
using test::ProgramResult;
using test::SettingsFolder;
using test::TempFolder;

// `sentrel replay` with the arguments and text on its standard input.
ProgramResult Replay(std::vector<std::string> arguments, const std::string& input = "") {
  arguments.insert(arguments.begin(), "replay");
  return test::RunProgram(SENTREL_TOOL, arguments, input);
}

class ReplayCommand : public ::testing::Test {
 protected:
  SettingsFolder folder;
  TempFolder logs;

  void SetUp() override {
    ModuleText bot = test::AgentModule("Bot", "0", "2");
    folder.AddModule("bot.ini", bot);
    logs.Write("access.log",
               "10.0.0.7 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.1\" 200 5 \"-\" \"SomeBot\"\n"
               "10.0.0.7 - - [10/Oct/2000:13:55:37 -0700] \"GET /a HTTP/1.1\" 200 5 \"-\" \"SomeBot\"\n"
               "not a log line\n"
               "10.0.0.8 - - [10/Oct/2000:13:55:38 -0700] \"GET / HTTP/1.1\" 200 5 \"-\" \"Mozilla/5.0\"\n");
  }
  std::string Log() const { return logs.Path() + "/access.log"; }
};

TEST_F(ReplayCommand, PrintsTheReportAndSucceeds) {
  ProgramResult r = Replay({folder.Root(), Log()});
  EXPECT_EQ(r.status, 0) << r.Output();
  EXPECT_NE(r.Output().find("Replay of "), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("  blocked     1"), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("  10.0.0.7  10/Oct/2000:13:55:37 -0700  Bot"), std::string::npos) << r.Output();
  EXPECT_NE(r.Output().find("  line 3: no [time] field"), std::string::npos) << r.Output();
}

TEST_F(ReplayCommand, JsonFromStandardInput) {
  ProgramResult r = Replay({"--json", folder.Root(), "-"}, logs.Read("access.log"));
  EXPECT_EQ(r.status, 0) << r.Output();
  std::string error;
  const auto j = test::ReadJson(r.out, &error);
  ASSERT_TRUE(j.has_value()) << error << "\n" << r.Output();
  EXPECT_EQ((*j)["status"].string, "completed");
  EXPECT_EQ((*j)["log"]["name"].string, "standard input");
  EXPECT_EQ((*j)["log"]["requests"].number, 3);
  EXPECT_EQ((*j)["log"]["unparsable"]["count"].number, 1);
  EXPECT_EQ((*j)["answers"]["blocked"].number, 1);
  EXPECT_EQ((*j)["decisions"][0]["module"]["name"].string, "Bot");
}

// A dry run of a site that shares its decisions publishes none of them.
TEST_F(ReplayCommand, ADryRunSharesNothing) {
  test::RedisServer redis;
  SENTREL_NEED_REDIS(redis);
  folder.Write("Config.ini", "[Share]\r\nServer=" + redis.Address() + "\r\n");
  ProgramResult r = Replay({folder.Root(), Log()});
  EXPECT_EQ(r.status, 0) << r.Output();
  EXPECT_NE(r.Output().find("  blocked     1"), std::string::npos) << r.Output();
  EXPECT_EQ(redis.Cli({"DBSIZE"}).out, "0\n");
}

TEST_F(ReplayCommand, KeepLeavesTheScratchCopy) {
  ProgramResult r = Replay({"--json", "--keep", folder.Root(), Log()});
  ASSERT_EQ(r.status, 0) << r.Output();
  const auto j = test::ReadJson(r.out);
  ASSERT_TRUE(j.has_value());
  const std::string copy = (*j)["scratch"]["folder"].string;
  EXPECT_TRUE((*j)["scratch"]["kept"].boolean);
  ASSERT_FALSE(copy.empty());
  EXPECT_TRUE(std::filesystem::exists(copy + "/Action/bot.ini"));
  EXPECT_TRUE(std::filesystem::is_directory(copy + "/Log"));
  std::filesystem::remove_all(std::filesystem::path(copy).parent_path());
}

TEST_F(ReplayCommand, ExitStatusTellsUsageLoadAndFileProblemsApart) {
  SettingsFolder empty;  // no module file: the filter would not load
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* says;
  };
  for (const Case& c : {Case{{}, 2, "usage: sentrel replay"},
                        Case{{"--fast", folder.Root(), Log()}, 2, "unknown option '--fast'"},
                        Case{{folder.Root()}, 2, "usage: sentrel replay"},
                        Case{{folder.Root(), logs.Path() + "/none.log"}, 2, "cannot read"},
                        Case{{folder.Root(), logs.Path()}, 2, "is a folder"},
                        Case{{folder.Root() + "/none", Log()}, 2, "not an existing folder"},
                        Case{{empty.Root(), Log()}, 1, "would not load"},
                        Case{{"--help"}, 0, "--journal"}}) {
    SCOPED_TRACE(c.arguments.empty() ? std::string() : c.arguments[0]);
    ProgramResult r = Replay(c.arguments);
    EXPECT_EQ(r.status, c.status) << r.Output();
    EXPECT_NE(r.Output().find(c.says), std::string::npos) << r.Output();
  }
}

}  // namespace
}  // namespace sentrel
